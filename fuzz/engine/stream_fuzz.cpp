// Chunk streams from a cache file: any bytes give objects or an error, nothing else.
#include "engine/vxl21.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  VxInitialize(nullptr);
  VxMemoryBlock block{const_cast<uint8_t*>(data), (int32_t)size};
  if (VxStream* s = VxOpenStream(VX_STREAM_MEMORY, VX_STREAM_READ, &block)) {
    uint32_t type;
    for (int i = 0; i < 8 && VxReadStreamChunkType(s, &type); ++i) {
      void* object = nullptr;
      if (!VxReadStreamChunk(s, type, &object, 0)) continue;
      if (type == VX_CHUNK_CLUMP) VxDestroyClump(static_cast<VxClump*>(object));
      if (type == VX_CHUNK_TEXTURE) VxDestroyTexture(static_cast<VxTexture*>(object));
    }
    VxCloseStream(s, nullptr);
  }
  VxShutdown();
  return 0;
}
