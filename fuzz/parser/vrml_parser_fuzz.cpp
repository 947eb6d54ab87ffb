// Fuzz target: any bytes through the loader and, when they load, into engine clumps.
#include "Parser/aglib.h"
#include "engine/vxl21.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = VxInitialize(nullptr) != 0;
  (void)started;
  for (int options : {3, 1 | 8 | 32}) {
    AgGeometryNode* tree = nullptr;
    AgInterpolatorData* interp = nullptr;
    if (AgLoadVrmlText(reinterpret_cast<const char*>(data), size, options, &tree, &interp) != 0) {
      if (tree || interp) __builtin_trap();  // a failed load must leave the outputs alone
      continue;
    }
    char** names = tree->CollectTextureNames();
    AgFreeTextureNames(names);
    if (VxClump* clump = tree->BuildClumps(nullptr, 0, 0)) VxDestroyClump(clump);
    AgDeleteGeometryTree(tree);
    delete interp;
  }
  return 0;
}
