// VXL21: the 3D engine core's public interface (libVXL21.so).
//
// Conventions:
// - Every object is an opaque handle made and destroyed only here.
// - Creators and openers return 0 (a null handle) on failure; every other call returns
//   non-zero on success and 0 on failure. VxGetError() gives the code of the last failure.
// - Matrices are row-vector 4 x 4 (p' = p x M), translation in row 3. Combine modes:
//   VX_REPLACE (1) replaces the matrix, VX_PRECONCAT (2) applies the new transformation
//   before the existing one (local), VX_POSTCONCAT (3) after it (parent).
// - A clump's world matrix is joint x placement x parent's world matrix.
// - A camera looks along its local +z with y up. World: +x west, +z north, y up.
// - Clump state 1 is on (drawn, tested for collisions), 2 off.
// - Vertex numbers are counted from 1 within their clump.
// - Everything runs on one thread (the window thread).
#ifndef TESSEL_ENGINE_VXL21_H
#define TESSEL_ENGINE_VXL21_H

#include <cstddef>
#include <cstdint>

typedef float VxReal;

struct VxVector {
  VxReal x, y, z;
};

// Opaque handle kinds.
typedef struct VxDriverRec VxDriver;
typedef struct VxSceneRec VxScene;
typedef struct VxLightRec VxLight;
typedef struct VxCameraRec VxCamera;
typedef struct VxClumpRec VxClump;
typedef struct VxPolygonRec VxPolygon;
typedef struct VxMaterialRec VxMaterial;
typedef struct VxTextureRec VxTexture;
typedef struct VxRasterRec VxRaster;
typedef struct VxStreamRec VxStream;
typedef struct VxMatrixRec VxMatrix;

// ---------------------------------------------------------------------------------------
// Errors (VxGetError)
enum {
  VX_E_NONE = 0,
  VX_E_BAD_ARGUMENT = 1,     // null handle, index out of range, bad mode
  VX_E_NOT_INITIALIZED = 2,  // VxInitialize not called, or no device started
  VX_E_NO_MEMORY = 3,        // allocation failed or a size over the engine's limits
  VX_E_FILE_NOT_FOUND = 4,   // file or named texture not found
  VX_E_BAD_FORMAT = 5,       // malformed script, bitmap or stream data
  VX_E_TRUNCATED = 6,        // input ends early
  VX_E_IO = 7,               // read or write error
  VX_E_NOT_FOUND = 8,        // looked-up object does not exist
  VX_E_NO_DEVICE = 9,        // driver or device cannot be opened
  VX_E_UNSUPPORTED = 10,     // query, control or chunk type not supported
  VX_E_STATE = 11,           // call out of order (e.g. modelling call outside a block)
};

int VxGetError(void);

// ---------------------------------------------------------------------------------------
// Start and end. VxInitialize(0) once before any driver; VxShutdown frees every object the
// engine still holds, after which VxInitialize may be called again.
int VxInitialize(void* options);
int VxShutdown(void);

// Debug settings: stored and reported back; messages at or below the level go to stderr
// with the prefix once VxStartDebug has been called.
int VxSetDebugPrefix(const char* prefix);
int VxSetDebugMode(int mode);
int VxSetDebugFlag(int flag);
int VxSetDebugOption(int option);
int VxSetDebugLevel(int level);
int VxGetDebugLevel(void);
int VxStartDebug(void);

// ---------------------------------------------------------------------------------------
// Drivers and devices. VxOpenDriver loads the display driver plug-in "lib<name>.so" from
// $TESSEL_DRIVER_DIR, the "lib" folder beside the program's folder, or the library path.
// VxStartDriver opens its device: mode 0 the surface output ("MSWindowsDD"), 1 and 2 the
// window outputs ("MSWindows"). options: null or a block of two (code, value) int32 pairs
// handed to the device open. VxStartDevice opens a device of the default plug-in VXDL8D21.
// The built-in null device ("null", and any device name while no plug-in can be loaded)
// keeps cameras and scenes working without drawing.
VxDriver* VxOpenDriver(const char* name, int flags);
int VxStartDriver(VxDriver* driver, int reserved, int mode, void* options);
int VxCloseDriver(VxDriver* driver);
int VxStartDevice(const char* device, int reserved, int mode, void* options);
int VxStartDeviceDefault(const char* device, int reserved);

// Device queries (VxGetDeviceInfo) and controls (VxDeviceControl).
enum {
  VX_INFO_DEVICE_RECORD = 12,    // out: pointer (pointer-sized buffer) to the device record
                                 // (DeviceRecord, driver/records.h); other codes go to the driver
  VX_INFO_FALLBACK = 1004,       // out: int32, non-zero when the device fell back
  VX_INFO_IMAGE_SURFACE = 1100,  // out: int32, non-zero when camera images are surfaces
  VX_CONTROL_HALF_CAMERA = 1000, // data: VxHalfCameraControl
};
struct VxHalfCameraControl {  // VxDeviceControl(1000): the half-size camera of a full one
  int32_t width, height;      // the full camera's size
  VxCamera* camera;           // the half camera
};
int VxGetDeviceInfo(int code, void* out, int size);
// Polygons handed to the driver's render modes since the last reset, by bank (1: drawn with
// the depth buffer), render-mode slot (0..23) and, for the textured slots 20-23, the
// position in the triangle handler table the mode byte selects (0..15; 0 for other slots).
enum { VX_RENDER_BANKS = 2, VX_RENDER_SLOTS = 24, VX_RENDER_POSITIONS = 16 };
unsigned VxGetRenderCount(int bank, int slot, int position);
void VxResetRenderCounts(void);
int VxDeviceControl(int code, int arg, void* data, int size);
// Threads a frame is drawn on, 1 to 8: with more than one, each draws a horizontal band of
// the frame through a copy of the driver of its own, the picture the same as on one thread.
// 1 draws on the caller's thread only. Default: the processors available, at most 8.
// Taken at the next VxBeginCameraUpdate.
int VxSetDrawThreads(int threads);
int VxGetDrawThreads(void);
// Palette entries, 4 bytes each (red, green, blue, flags).
int VxGetPaletteEntries(int first, int count, void* buffer);

// ---------------------------------------------------------------------------------------
// Matrices. One scratch matrix, with a stack: VxPushScratchMatrix saves it and returns it;
// VxPopScratchMatrix restores the saved one.
enum { VX_REPLACE = 1, VX_PRECONCAT = 2, VX_POSTCONCAT = 3 };

VxMatrix* VxScratchMatrix(void);
VxMatrix* VxPushScratchMatrix(void);
int VxPopScratchMatrix(void);
VxMatrix* VxCreateMatrix(void);  // identity
int VxDestroyMatrix(VxMatrix* m);
int VxCopyMatrix(const VxMatrix* source, VxMatrix* destination);
int VxIdentityMatrix(VxMatrix* m);
// Rotation about the axis (x, y, z) by angle degrees (right-handed about the axis).
int VxRotateMatrix(VxMatrix* m, VxReal x, VxReal y, VxReal z, VxReal angle, int mode);
int VxTranslateMatrix(VxMatrix* m, VxReal x, VxReal y, VxReal z, int mode);
int VxScaleMatrix(VxMatrix* m, VxReal x, VxReal y, VxReal z, int mode);
int VxTransformMatrix(VxMatrix* m, const VxMatrix* t, int mode);
VxReal VxGetMatrixElement(const VxMatrix* m, int row, int column);
int VxSetMatrixElement(VxMatrix* m, int row, int column, VxReal value);
int VxGetMatrixElements(const VxMatrix* m, VxReal elements[16]);  // row by row
int VxSetMatrixElements(VxMatrix* m, const VxReal elements[16]);
// Axis (unit) and angle in degrees (0..180) of the rotation part.
int VxGetMatrixRotation(const VxMatrix* m, VxVector* axis, VxReal* angle);
int VxTransformPoint(const VxMatrix* m, const VxVector* in, VxVector* out);
int VxNormalizeVector(VxVector* v);

// ---------------------------------------------------------------------------------------
// Clumps.
enum { VX_STATE_ON = 1, VX_STATE_OFF = 2 };

VxClump* VxCreateClump(int vertex_hint, int polygon_hint);
VxClump* VxDuplicateClump(const VxClump* clump);  // deep copy, no parent, no scene
int VxDestroyClump(VxClump* clump);  // with its parts; leaves its parent and its scene

int VxAddChildToClump(VxClump* parent, VxClump* child);
int VxRemoveChildFromClump(VxClump* child);
VxClump* VxGetParentClump(const VxClump* clump);
VxClump* VxGetFirstChildClump(const VxClump* clump);
VxClump* VxGetNextSiblingClump(const VxClump* clump);
// Calls fn on every part below clump (children, their children, ...), not on clump itself.
int VxForAllChildClumps(VxClump* clump, void (*fn)(VxClump* part, void* data), void* data);
// First clump of the tree (clump itself included, depth first) with this tag.
VxClump* VxFindTaggedClump(VxClump* clump, int32_t tag);

int VxSetClumpTag(VxClump* clump, int32_t tag);
int32_t VxGetClumpTag(const VxClump* clump);
int VxSetClumpState(VxClump* clump, int state);
int VxGetClumpState(const VxClump* clump);  // 0 for a bad handle
int VxSetClumpMode(VxClump* clump, int mode);
int VxGetClumpMode(const VxClump* clump);
enum { VX_ALIGN_NONE = 0, VX_ALIGN_ZORIENTX = 1, VX_ALIGN_ZORIENTY = 2 };
int VxGetClumpAxisAlignment(const VxClump* clump);

int VxTransformClump(VxClump* clump, const VxMatrix* m, int mode);       // placement
int VxTransformClumpJoint(VxClump* clump, const VxMatrix* m, int mode);  // joint
int VxGetClumpMatrix(const VxClump* clump, VxMatrix* out);
int VxGetClumpJointMatrix(const VxClump* clump, VxMatrix* out);
int VxGetClumpWorldMatrix(const VxClump* clump, VxMatrix* out);
int VxGetClumpOrigin(const VxClump* clump, VxVector* out);  // world position
// Box of the clump's own vertices: as stored (Bounds), and through its joint (BoundingBox).
// A clump without vertices gives an all-zero box.
int VxGetClumpBounds(const VxClump* clump, VxVector* min, VxVector* max);
int VxGetClumpBoundingBox(const VxClump* clump, VxVector* min, VxVector* max);

int VxAddVertexToClump(VxClump* clump, VxReal x, VxReal y, VxReal z);  // number, or 0
int VxGetClumpNumVertices(const VxClump* clump);
int VxGetClumpVertex(const VxClump* clump, int number, VxVector* out);
int VxSetClumpVertexUV(VxClump* clump, int number, VxReal u, VxReal v);
int VxGetClumpVertexUV(const VxClump* clump, int number, VxReal* u, VxReal* v);
VxPolygon* VxAddPolygonToClump(VxClump* clump, int count, const int* numbers);
int VxGetClumpNumPolygons(const VxClump* clump);
VxPolygon* VxGetClumpPolygon(const VxClump* clump, int index);  // index from 0

// Polygon iteration over the clump's own polygons (not its parts).
int VxForAllPolygonsInClump(VxClump* clump, void (*fn)(VxPolygon* polygon));
int VxForAllPolygonsInClumpWithArg(VxClump* clump, void (*fn)(VxPolygon* polygon, void* arg),
                                   void* arg);
int VxForAllPolygonsInClumpWithData(VxClump* clump,
                                    void (*fn)(VxPolygon* polygon, void* data), void* data);

// Polygons. VxGetPolygonClump gives the top-level clump of the tree the polygon is in.
VxClump* VxGetPolygonClump(const VxPolygon* polygon);
int32_t VxGetPolygonTag(const VxPolygon* polygon);
int VxSetPolygonTag(VxPolygon* polygon, int32_t tag);
int VxGetPolygonNumVertices(const VxPolygon* polygon);
int VxGetPolygonVertexIndices(const VxPolygon* polygon, int* numbers);  // count entries
int VxSetPolygonTexture(VxPolygon* polygon, VxTexture* texture);        // 0 clears
VxTexture* VxGetPolygonTexture(const VxPolygon* polygon);
int VxSetPolygonMaterial(VxPolygon* polygon, const VxMaterial* material);  // copies it
int VxGetPolygonMaterial(const VxPolygon* polygon, VxMaterial* out);        // copies back

// Materials: value holders; a polygon takes a copy of the values (and a texture reference).
VxMaterial* VxCreateMaterial(void);  // white, surface (1, 1, 0), opacity 1
int VxDestroyMaterial(VxMaterial* material);
int VxSetMaterialColor(VxMaterial* m, VxReal red, VxReal green, VxReal blue);
int VxSetMaterialSurface(VxMaterial* m, VxReal ambient, VxReal diffuse, VxReal specular);
int VxSetMaterialOpacity(VxMaterial* m, VxReal opacity);
// Mode bits the drawing reads: VX_MATERIAL_DEPTH_BIAS draws over coplanar surfaces,
// VX_MATERIAL_TWO_SIDED shows the polygon from behind too; other bits are kept.
enum { VX_MATERIAL_DEPTH_BIAS = 0x40, VX_MATERIAL_TWO_SIDED = 0x80 };
int VxSetMaterialMode(VxMaterial* m, int mode);
int VxSetMaterialTextureMode(VxMaterial* m, int mode);
int VxSetMaterialTexture(VxMaterial* m, VxTexture* texture);
// The look of a material's polygons: how the display driver draws them. 0 is the usual look:
// polygons shaded flat, textures lit and perspective-correct.
enum {
  VX_LOOK_SMOOTH = 0x01,     // shades per vertex, from the vertex normals
  VX_LOOK_UNLIT = 0x02,      // texels as they are, not through the shade table
  VX_LOOK_AFFINE = 0x04,     // texture coordinates stepped on the screen, not perspective-correct
  VX_LOOK_DITHER = 0x08,     // texel coordinates dithered
  VX_LOOK_GEOMETRY = 0x30,   // what is drawn of the polygon:
  VX_LOOK_POLYGON = 0x00,    //   the filled polygon
  VX_LOOK_POINTS = 0x10,     //   its corners
  VX_LOOK_OUTLINE = 0x20,    //   its closed outline
  VX_LOOK_POLYLINE = 0x30,   //   its edges as an open line (the last corner not joined to the first)
  VX_LOOK_ALL = 0x3F
};
int VxSetMaterialLook(VxMaterial* m, int look);  // bits outside VX_LOOK_ALL are refused
int VxGetMaterialLook(const VxMaterial* m);
int VxGetMaterialColor(const VxMaterial* m, VxReal* red, VxReal* green, VxReal* blue);
int VxGetMaterialSurface(const VxMaterial* m, VxReal* ambient, VxReal* diffuse,
                         VxReal* specular);
VxReal VxGetMaterialOpacity(const VxMaterial* m);
int VxGetMaterialMode(const VxMaterial* m);
int VxGetMaterialTextureMode(const VxMaterial* m);
VxTexture* VxGetMaterialTexture(const VxMaterial* m);

// ---------------------------------------------------------------------------------------
// Modelling block: VxBeginModel, then clumps (VxBeginClump ... VxEndClump, nestable: a
// clump begun inside another becomes its part), then VxEndModel. Vertex numbers refer to
// the clump being built. The current colour, surface, opacity, texture and tag apply to the
// polygons added after them.
int VxBeginModel(void);
int VxEndModel(void);
int VxBeginClump(void);
VxClump* VxEndClump(void);  // the finished clump (owned by its parent when nested)
int VxAddVertex(VxReal x, VxReal y, VxReal z);  // number, or 0
int VxAddVertexUV(VxReal x, VxReal y, VxReal z, VxReal u, VxReal v);
VxPolygon* VxAddTriangle(int a, int b, int c);
VxPolygon* VxAddQuad(int a, int b, int c, int d);
VxPolygon* VxAddPolygon(int count, const int* numbers);
int VxAddBlock(VxReal width, VxReal height, VxReal depth);  // box centred on the origin
int VxSetModelColor(VxReal red, VxReal green, VxReal blue);
int VxSetModelSurface(VxReal ambient, VxReal diffuse, VxReal specular);
int VxSetModelOpacity(VxReal opacity);
int VxSetModelTexture(VxTexture* texture);  // 0: untextured from here on
int VxSetModelTag(int32_t tag);             // tag of the polygons added from here on
int VxSetModelAxisAlignment(int alignment);
int VxSetModelTransform(const VxMatrix* m, int mode);  // the clump's placement
// Values passed through to the clump's polygons and mode unchanged.
int VxSetModelOption(int option);
int VxSetModelKind(int kind);
int VxSetModelFlag(int flag);
int VxSetModelLevel(int level);
int VxSetModelMode(int mode);
int VxSetModelLook(int look);  // VX_LOOK_* of the polygons added from here on

// The model script reader (".vxx", see docs/vxx.md).
VxClump* VxReadClump(const char* path);
VxClump* VxReadClumpFromMemory(const char* text, size_t length);

// ---------------------------------------------------------------------------------------
// Rasters. Depth 8 (palette index) or 24 (blue, green, red per pixel); rows top-down.
VxRaster* VxCreateRaster(int width, int height);  // depth 8, cleared
VxRaster* VxCreateRasterDepth(int width, int height, int depth);
// A BMP (8 or 24 bit, uncompressed) found by name like a texture; flags are passed through.
VxRaster* VxReadRaster(const char* name, int flags);
VxRaster* VxReadMaskRaster(const char* name);  // any non-zero pixel is opaque
int VxDestroyRaster(VxRaster* raster);
int VxGetRasterWidth(const VxRaster* raster);
int VxGetRasterHeight(const VxRaster* raster);
int VxGetRasterDepth(const VxRaster* raster);
int VxGetRasterStride(const VxRaster* raster);
unsigned char* VxGetRasterPixels(VxRaster* raster);
int VxReleaseRasterPixels(VxRaster* raster);
// Palette of an 8-bit raster: 256 entries of 4 bytes (blue, green, red, 0).
const unsigned char* VxGetRasterPalette(const VxRaster* raster);
// Sets the first count entries (at most 256) of an 8-bit raster's palette; the others stay.
int VxSetRasterPalette(VxRaster* raster, const unsigned char* entries, int count);

// A bitmap handed over by the platform layer: a device context and a described DIB.
struct VxDib {
  int32_t width, height;      // pixels
  int32_t bits_per_pixel;     // 8 or 24
  int32_t stride;             // bytes per row
  int32_t bottom_up;          // rows stored bottom row first
  const unsigned char* bits;
  const unsigned char* palette;  // 4 bytes per entry (blue, green, red, 0), for 8 bits
  int32_t palette_count;
};
struct VxBitmapSource {
  void* dc;
  const VxDib* bitmap;
};
VxRaster* VxCreateRasterFromBitmap(const VxBitmapSource* source, int flags);

// ---------------------------------------------------------------------------------------
// Textures: a raster, an optional mask and a name. Reference counted: polygons and
// materials hold references of their own. Each create, read (files, VxReadNamedTexture,
// stream chunks) and VxAddTextureReference hands the caller one reference, given back with
// VxDestroyTexture; VxFindNamedTexture hands none. The texture goes with the last reference.
// Named textures are found without regard to letter case or extension.
VxTexture* VxCreateTexture(VxRaster* raster);  // takes the raster over
int VxDestroyTexture(VxTexture* texture);
int VxAddTextureReference(VxTexture* texture);
// Reads "<name>.bmp" (any case, any extension given is ignored) from the search path.
VxTexture* VxReadTexture(const char* path);
VxTexture* VxReadNamedTexture(const char* name);  // found or read, then registered
VxTexture* VxFindNamedTexture(const char* name);  // registered only
int VxAddNamedTexture(const char* name, VxTexture* texture);
const char* VxGetTextureName(const VxTexture* texture);  // "" when unnamed
VxRaster* VxGetTextureRaster(const VxTexture* texture);
VxRaster* VxGetTextureMask(const VxTexture* texture);
int VxSetTextureRaster(VxTexture* texture, VxRaster* raster);  // takes the raster over
int VxMaskTexture(VxTexture* texture, const VxRaster* mask);   // copies the mask
// Folder searched for named textures and rasters; mode 1 replaces the path, 2 appends.
int VxSetSearchPath(const char* folder, int mode);

// Frame objects: textures step through their frames (a raster of n square frames stacked).
typedef struct VxTextureRec VxFrameObject;
int VxForEachFrameObject(int (*fn)(VxFrameObject* object));
int VxStepFrame(VxFrameObject* object);
int VxGetTextureFrame(const VxTexture* texture);

// ---------------------------------------------------------------------------------------
// Streams: kind 2 file (data: the file name) or 3 memory (data: a VxMemoryBlock to read,
// nothing to write); access 1 read, 2 write.
enum { VX_STREAM_FILE = 2, VX_STREAM_MEMORY = 3 };
enum { VX_STREAM_READ = 1, VX_STREAM_WRITE = 2 };
enum : uint32_t { VX_CHUNK_CLUMP = 0x434C554Du /* 'CLUM' */, VX_CHUNK_TEXTURE = 0x54455855u /* 'TEXU' */ };
struct VxMemoryBlock {
  void* start;
  int32_t length;
};
VxStream* VxOpenStream(int kind, int access, const void* data);
// A memory stream opened for writing gives its block back (free it with VxFreeMemory).
int VxCloseStream(VxStream* stream, VxMemoryBlock* out);
int VxWriteStreamChunk(VxStream* stream, uint32_t type, void* object, int flags);
int VxReadStreamChunkType(VxStream* stream, uint32_t* type);
int VxReadStreamChunk(VxStream* stream, uint32_t type, void* out_object, int flags);
int VxFreeMemory(void* memory);

// ---------------------------------------------------------------------------------------
// Scenes and lights.
VxScene* VxCreateScene(void);
int VxDestroyScene(VxScene* scene);  // destroys its lights; its clumps are only taken out
int VxAddClumpToScene(VxScene* scene, VxClump* clump);
int VxRemoveClumpFromScene(VxClump* clump);
VxScene* VxGetClumpScene(const VxClump* clump);
int VxGetSceneNumClumps(const VxScene* scene);
VxLight* VxCreateLight(int kind, VxReal x, VxReal y, VxReal z, VxReal intensity);
int VxAddLightToScene(VxScene* scene, VxLight* light);
int VxGetSceneNumLights(const VxScene* scene);

// ---------------------------------------------------------------------------------------
// Cameras.
VxCamera* VxCreateCamera(int width, int height, int flags);
int VxDestroyCamera(VxCamera* camera);
int VxSetCameraPosition(VxCamera* camera, VxReal x, VxReal y, VxReal z);
int VxGetCameraPosition(const VxCamera* camera, VxVector* out);
int VxMoveCamera(VxCamera* camera, VxReal dx, VxReal dy, VxReal dz);
int VxPointCameraAt(VxCamera* camera, VxReal x, VxReal y, VxReal z);
int VxSetCameraLookUp(VxCamera* camera, VxReal x, VxReal y, VxReal z);
int VxGetCameraLookAt(const VxCamera* camera, VxVector* out);
int VxGetCameraLookUp(const VxCamera* camera, VxVector* out);
int VxTransformCamera(VxCamera* camera, const VxMatrix* m, int mode);
int VxGetCameraMatrix(const VxCamera* camera, VxMatrix* out);
int VxSetCameraViewwindow(VxCamera* camera, VxReal width, VxReal height);
int VxGetCameraViewwindow(const VxCamera* camera, VxReal* width, VxReal* height);
int VxSetCameraViewport(VxCamera* camera, int x, int y, int width, int height);
int VxGetCameraViewport(const VxCamera* camera, int* x, int* y, int* width, int* height);
int VxSetCameraNearClipping(VxCamera* camera, VxReal distance);
int VxSetCameraBackColor(VxCamera* camera, VxReal red, VxReal green, VxReal blue);
int VxSetCameraBackdrop(VxCamera* camera, VxRaster* raster);  // not owned; 0 removes
int VxSetCameraBackdropOffset(VxCamera* camera, int x, int y);
int VxSetCameraBackdropViewport(VxCamera* camera, int x, int y, int width, int height);
void* VxGetCameraImage(const VxCamera* camera);
int VxSetCameraWindow(VxCamera* camera, void* window);
int VxInvalidateCameraViewport(VxCamera* camera);

// Frame bracket.
int VxBeginCameraUpdate(VxCamera* camera);
int VxEndCameraUpdate(VxCamera* camera);
int VxRenderScene(VxScene* scene);
int VxRenderClump(VxClump* clump);
int VxShowCameraImage(VxCamera* camera, void* dc);

// Projection and picking. Screen points are relative to the viewport, y down.
struct VxScreenVertex {
  int32_t x, y;
  int32_t visible;  // in front of the camera and inside the viewport
};
int VxProjectClumpVertex(VxClump* clump, int number, VxCamera* camera, VxScreenVertex* out);
enum { VX_PICK_NOTHING = 0, VX_PICK_POLYGON = 1 };
struct VxPickRecord {
  int32_t type;
  void* object;     // the polygon hit
  VxReal distance;  // along the view ray
};
int VxPickScene(VxScene* scene, int x, int y, VxCamera* camera, VxPickRecord* out);

#endif
