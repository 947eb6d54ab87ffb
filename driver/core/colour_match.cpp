#include "driver/core/colour_match.h"

#include <cstring>

#include "driver/core/palette.h"
#include "driver/core/palette_memory.h"

OctreeNode* OctreeRoot = nullptr;

namespace {

uint8_t candidates[256];
int candidate_count = 0;

constexpr int kDepthLimit = 8;
constexpr int kLeafLimit = 8;

struct Decoded {
    int r, g, b;
};

// Decoded colours of the palette as of the last rebuild: the tree and its
// candidates belong to that palette.
Decoded decoded[256];

Decoded DecodedEntry(int e) { return decoded[e]; }

OctreeNode* NewNode() {
    void* p = PaletteAllocate(sizeof(OctreeNode));
    if (!p) return nullptr;
    OctreeNode* n = static_cast<OctreeNode*>(p);
    std::memset(n, 0, sizeof *n);
    return n;
}

// Leaf holding a copy of count bytes of list.
OctreeNode* OctreeLeafCopy(int count, const uint8_t* list) {
    OctreeNode* n = NewNode();
    if (!n) return nullptr;
    uint8_t* copy = static_cast<uint8_t*>(PaletteAllocate(static_cast<size_t>(count)));
    if (!copy) {
        PaletteFree(n);
        return nullptr;
    }
    std::memcpy(copy, list, static_cast<size_t>(count));
    n->count = count;
    n->list = copy;
    return n;
}

void FreeNode(OctreeNode* n) {
    if (!n) return;
    if (n->count > 0) {
        PaletteFree(n->list);
    } else {
        for (OctreeNode* c : n->child) FreeNode(c);
    }
    PaletteFree(n);
}

// Least value over the box of dist(A)^2 - dist(B)^2 (bound_low true), or the
// greatest (false).
int PairBound(const Decoded& A, const Decoded& B, const int* low, const int* high, bool least) {
    const int a[3] = {A.r, A.g, A.b};
    const int b[3] = {B.r, B.g, B.b};
    int sum = 0;
    for (int k = 0; k < 3; ++k) {
        const bool b_above = b[k] >= a[k];
        const int x = (b_above == least) ? low[k] : high[k] - 1;
        sum += (2 * x - a[k] - b[k]) * (b[k] - a[k]);
    }
    return sum;
}

// Drops candidates that another one beats (or equals) everywhere in the box.
void OctreePrune(OctreeNode* leaf, const int* low, const int* high) {
    uint8_t* L = leaf->list;
    int n = leaf->count;
    const int original = n;
    for (int a = 0; a < n; ++a) {
        int b = n - 1;
        while (b > a) {
            const Decoded A = DecodedEntry(L[a]);
            const Decoded B = DecodedEntry(L[b]);
            if (PairBound(A, B, low, high, true) >= 0) {
                // A is never nearer: the last candidate takes its place and is
                // checked from the back again.
                L[a] = L[n - 1];
                --n;
                b = n - 1;
            } else if (PairBound(A, B, low, high, false) <= 0) {
                L[b] = L[n - 1];
                --n;
                --b;
            } else {
                --b;
            }
        }
    }
    leaf->count = n;
    if (n < original) {
        // A failed shrink keeps the larger, still valid, list.
        void* p = PaletteReallocate(L, static_cast<size_t>(n));
        if (p) leaf->list = static_cast<uint8_t*>(p);
    }
}

int ChildIndex(const uint8_t* rgb, const int* mid) {
    return (rgb[0] >= mid[0] ? 1 : 0) | (rgb[1] >= mid[1] ? 2 : 0) | (rgb[2] >= mid[2] ? 4 : 0);
}

void ChildBox(int index, const int* mid, int* low, int* high) {
    for (int k = 0; k < 3; ++k) {
        if (index & (1 << k)) {
            low[k] = mid[k];
        } else {
            high[k] = mid[k];
        }
    }
}

}  // namespace

void ColourMatcherRebuild() {
    GammaTablesBuild();
    for (int e = 0; e < 256; ++e)
        decoded[e] = {GammaDecodeTable[PaletteRed[e]], GammaDecodeTable[PaletteGreen[e]],
                      GammaDecodeTable[PaletteBlue[e]]};
    candidate_count = 0;
    for (int e = 0; e < 256; ++e) {
        if (PaletteUsableGet(e) != 2) continue;
        const Decoded d = DecodedEntry(e);
        bool duplicate = false;
        for (int k = 0; k < candidate_count && !duplicate; ++k) {
            const Decoded c = DecodedEntry(candidates[k]);
            duplicate = c.r == d.r && c.g == d.g && c.b == d.b;
        }
        if (!duplicate) candidates[candidate_count++] = static_cast<uint8_t>(e);
    }
    OctreeReset(candidate_count, candidates);
}

int OctreeReset(int count, const uint8_t* list) {
    OctreeFree();
    if (!list) return 1;
    if (count > 0) OctreeRoot = OctreeLeafCopy(count, list);
    return 0;
}

void OctreeFree() {
    FreeNode(OctreeRoot);
    OctreeRoot = nullptr;
}

int ColourCloser(int best, int c, const uint8_t* rgb) {
    const Decoded B = DecodedEntry(best & 0xFF);
    const Decoded C = DecodedEntry(c & 0xFF);
    const int x[3] = {rgb[0], rgb[1], rgb[2]};
    return (2 * x[0] - C.r - B.r) * (B.r - C.r) + (2 * x[1] - C.g - B.g) * (B.g - C.g) +
           (2 * x[2] - C.b - B.b) * (B.b - C.b);
}

int OctreeNearestColour(const uint8_t* rgb) {
    if (!OctreeRoot || !rgb) return -1;
    OctreeNode** slot = &OctreeRoot;
    int low[3] = {0, 0, 0};
    int high[3] = {256, 256, 256};
    int budget = kDepthLimit;
    while ((*slot)->count == 0 && budget > 0) {
        --budget;
        int mid[3];
        for (int k = 0; k < 3; ++k) mid[k] = (low[k] + high[k]) >> 1;
        const int i = ChildIndex(rgb, mid);
        ChildBox(i, mid, low, high);
        slot = &(*slot)->child[i];
    }
    // Refine the leaf along the query's path.
    while ((*slot)->count > kLeafLimit && budget > 0) {
        --budget;
        OctreeNode* inner = NewNode();
        if (!inner) break;
        int mid[3];
        for (int k = 0; k < 3; ++k) mid[k] = (low[k] + high[k]) >> 1;
        OctreeNode* leaf = *slot;
        bool complete = true;
        for (int i = 0; i < 8; ++i) {
            OctreeNode* c = OctreeLeafCopy(leaf->count, leaf->list);
            if (!c) {
                complete = false;
                break;
            }
            int clow[3] = {low[0], low[1], low[2]};
            int chigh[3] = {high[0], high[1], high[2]};
            ChildBox(i, mid, clow, chigh);
            OctreePrune(c, clow, chigh);
            inner->child[i] = c;
        }
        if (!complete) {
            // Not an error: the unsplit leaf answers, a later query may retry.
            FreeNode(inner);
            break;
        }
        FreeNode(leaf);
        *slot = inner;
        const int i = ChildIndex(rgb, mid);
        ChildBox(i, mid, low, high);
        slot = &inner->child[i];
    }
    const OctreeNode* leaf = *slot;
    if (leaf->count <= 0) return -1;
    int best = leaf->list[0];
    for (int k = 1; k < leaf->count; ++k) {
        const int c = leaf->list[k];
        if (ColourCloser(best, c, rgb) < 0) best = c;
    }
    return best;
}

int ColourToPaletteIndex(const uint8_t* rgb) { return OctreeNearestColour(rgb); }
