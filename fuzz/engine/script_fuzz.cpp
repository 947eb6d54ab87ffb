// Model scripts from a download: any bytes give a clump or an error, nothing else.
#include "engine/vxl21.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  VxInitialize(nullptr);
  VxClump* c = VxReadClumpFromMemory(reinterpret_cast<const char*>(data), size);
  if (c) VxDestroyClump(c);
  VxShutdown();
  return 0;
}
