#pragma once
// The world's backdrop and ground. The backdrop is a panorama picture the cameras draw behind
// the scene, scrolled with the viewer's heading and pitch; the ground is one model instance
// that follows the viewer in steps of 6 units so that it always lies under the user. Both are
// set when the world attributes are applied and cleared by the all-modules reset.
// Window thread only.
#include <cstdint>

typedef struct VxClumpRec VxClump;
typedef struct VxRasterRec VxRaster;

// Fills the world connection's backdrop_set and ground_set hooks.
int backdrop_init();

// Attribute 1: the picture "<name>.jpg" of the world's "textures" folder. The same name
// again does nothing; an empty one only clears.
void backdrop_set(const char* name, int length);
// Destroys both rasters, takes them from the cameras and forgets the name.
void backdrop_clear();
// (Re)loads the rasters from the converted "<name>.bmp" in the object cache's textures folder.
void load_backdrop();
// Task "backdrop" (also run after the view is laid out): scrolls the picture.
void backdrop_update();

// Attribute 2: the model "<name>.vxx" of the "models" folder; length 0 clears.
void ground_set(const char* name, int length);
void ground_clear();
// Task "ground": moves the ground when the user crosses into another 6-unit cell.
void ground_update();
VxClump* ground_clump();
// 1 when the ground's model is ready, 0 without a ground.
int ground_ready();

// The ground cell of a coordinate in units.
int16_t ground_cell(double c);

// State for tests.
const char* backdrop_name();  // null when none
VxRaster* backdrop_raster();
VxRaster* backdrop_half_raster();
const char* ground_name();
void ground_current_cell(int16_t* x, int16_t* z);
