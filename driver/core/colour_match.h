// Nearest usable palette entry to a linear RGB colour.
//
// A tree over RGB space starts as one leaf holding every candidate and is
// split lazily, only along the paths that queries visit, at most 8 levels
// deep. Distances are squared Euclidean in linear intensity: palette colours
// are taken through GammaDecodeTable, the query colour as given.
#pragma once

#include <cstdint>

// Leaf: count > 0 and the candidate list. Inner node: count 0 and 8 children;
// child bit 0 = red upper half, bit 1 = green, bit 2 = blue.
struct OctreeNode {
    int32_t count;
    uint8_t* list;
    OctreeNode* child[8];
};

// Root of the driver's one tree; null when absent.
extern OctreeNode* OctreeRoot;

// Rebuilds the gamma tables, the candidate list (usable entries in index
// order, of equal decoded colours only the lowest) and the tree.
void ColourMatcherRebuild();
// Frees the tree; with count > 0 and a list, the root becomes a leaf holding a
// copy (null when the copy cannot be allocated). 1 when no list was given.
int OctreeReset(int count, const uint8_t* list);
void OctreeFree();
// Palette index of the nearest candidate, or -1 without a tree or colour.
int OctreeNearestColour(const uint8_t* rgb);
// The device record's colour-to-index entry.
int ColourToPaletteIndex(const uint8_t* rgb);
// (distance from rgb to c)^2 - (distance from rgb to best)^2, on decoded
// palette colours.
int ColourCloser(int best, int c, const uint8_t* rgb);
