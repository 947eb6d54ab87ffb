// vxdump: prints the clump tree, materials, tags and bounds of a ".vxx" model script or of
// a chunk file ('CLUM' or 'TEXU' chunks written by the engine's streams).
//   vxdump [-t texture-folder] file
#include "engine/vxl21.h"

#include <cstdio>
#include <cstring>
#include <string>

static void indent(int depth) {
  for (int i = 0; i < depth; ++i) std::fputs("  ", stdout);
}

// The look as the script statements that give it.
static std::string look_text(int look) {
  static const char* const kGeometry[] = {"polygons", "points", "outline", "polyline"};
  std::string s = look & VX_LOOK_SMOOTH ? "smooth" : "flat";
  s += look & VX_LOOK_UNLIT ? " unlit" : " lit";
  s += look & VX_LOOK_AFFINE ? " affine" : " perspective";
  if (look & VX_LOOK_DITHER) s += " dither";
  s += std::string(" ") + kGeometry[(look & VX_LOOK_GEOMETRY) >> 4];
  return s;
}

static void dump_clump(VxClump* c, int depth) {
  VxVector lo, hi;
  VxGetClumpBounds(c, &lo, &hi);
  indent(depth);
  std::printf("clump tag %d state %d mode %d align %d: %d vertices, %d polygons, "
              "bounds (%g %g %g) - (%g %g %g)\n",
              (int)VxGetClumpTag(c), VxGetClumpState(c), VxGetClumpMode(c),
              VxGetClumpAxisAlignment(c), VxGetClumpNumVertices(c), VxGetClumpNumPolygons(c),
              lo.x, lo.y, lo.z, hi.x, hi.y, hi.z);
  VxMatrix* m = VxCreateMatrix();
  VxGetClumpMatrix(c, m);
  indent(depth + 1);
  std::printf("placement row 3 (%g %g %g)\n", VxGetMatrixElement(m, 3, 0),
              VxGetMatrixElement(m, 3, 1), VxGetMatrixElement(m, 3, 2));
  VxDestroyMatrix(m);
  VxMaterial* mat = VxCreateMaterial();
  for (int i = 0; i < VxGetClumpNumPolygons(c); ++i) {
    VxPolygon* p = VxGetClumpPolygon(c, i);
    int n = VxGetPolygonNumVertices(p);
    int numbers[1024];
    VxGetPolygonVertexIndices(p, numbers);
    VxGetPolygonMaterial(p, mat);
    VxReal r, g, b, a, d, s;
    VxGetMaterialColor(mat, &r, &g, &b);
    VxGetMaterialSurface(mat, &a, &d, &s);
    VxTexture* t = VxGetPolygonTexture(p);
    indent(depth + 1);
    std::printf("polygon %d tag %d:", i, (int)VxGetPolygonTag(p));
    for (int k = 0; k < n; ++k) std::printf(" %d", numbers[k]);
    std::printf("  colour (%g %g %g) surface (%g %g %g) opacity %g texture %s", r, g, b, a, d,
                s, VxGetMaterialOpacity(mat), t ? VxGetTextureName(t) : "-");
    std::printf(" look %s\n", look_text(VxGetMaterialLook(mat)).c_str());
  }
  VxDestroyMaterial(mat);
  for (VxClump* k = VxGetFirstChildClump(c); k; k = VxGetNextSiblingClump(k)) dump_clump(k, depth + 1);
}

static bool is_chunk_file(const char* path) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  unsigned char b[4] = {};
  size_t n = std::fread(b, 1, 4, f);
  std::fclose(f);
  uint32_t type = (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
  return n == 4 && (type == VX_CHUNK_CLUMP || type == VX_CHUNK_TEXTURE);
}

int main(int argc, char** argv) {
  const char* textures = nullptr;
  int i = 1;
  if (argc > 2 && std::strcmp(argv[1], "-t") == 0) textures = argv[2], i = 3;
  if (i != argc - 1) {
    std::fprintf(stderr, "usage: vxdump [-t texture-folder] file.vxx|chunk-file\n");
    return 2;
  }
  const char* path = argv[i];
  VxInitialize(nullptr);
  std::string folder = path;
  size_t slash = folder.find_last_of('/');
  folder = slash == std::string::npos ? "." : folder.substr(0, slash);
  VxSetSearchPath(textures ? textures : folder.c_str(), 1);
  int rc = 0;
  if (is_chunk_file(path)) {
    VxStream* s = VxOpenStream(VX_STREAM_FILE, VX_STREAM_READ, path);
    uint32_t type;
    while (s && VxReadStreamChunkType(s, &type)) {
      void* object = nullptr;
      if (!VxReadStreamChunk(s, type, &object, 0)) {
        std::fprintf(stderr, "vxdump: bad chunk (error %d)\n", VxGetError());
        rc = 1;
        break;
      }
      if (type == VX_CHUNK_CLUMP) {
        std::printf("chunk CLUM\n");
        dump_clump(static_cast<VxClump*>(object), 1);
      } else {
        auto* t = static_cast<VxTexture*>(object);
        VxRaster* r = VxGetTextureRaster(t);
        std::printf("chunk TEXU name \"%s\" %dx%d depth %d mask %s\n", VxGetTextureName(t),
                    VxGetRasterWidth(r), VxGetRasterHeight(r), VxGetRasterDepth(r),
                    VxGetTextureMask(t) ? "yes" : "no");
      }
    }
    if (s) VxCloseStream(s, nullptr);
    else rc = 1;
  } else {
    VxClump* c = VxReadClump(path);
    if (!c) {
      std::fprintf(stderr, "vxdump: cannot read %s (error %d)\n", path, VxGetError());
      rc = 1;
    } else {
      dump_clump(c, 0);
    }
  }
  VxShutdown();
  return rc;
}
