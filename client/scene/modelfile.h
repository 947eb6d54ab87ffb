#pragma once
// Loading VRML models through the parser library: the texture names as model-header entries,
// or one engine clump, scaled down when the world asks for it (attribute 34).
#include <cstddef>

#include "engine/vxl21.h"

// Null when the file does not load; else a new std::malloc'ed buffer of entries (a length
// byte, then the name cut at its last '.', without NUL), at most 1024 bytes, with its length
// in *length (0, with an empty text, when the model has no textures).
char* vrml_texture_names(const char* path, int* length);
// textures 1 loads texture coordinates and names; null when the file does not load.
VxClump* vrml_load_clump(const char* path, int textures);
// The same over the file's bytes already in memory; name is the file's, for error reports.
char* vrml_texture_names_text(const char* text, size_t size, const char* name, int* length);
VxClump* vrml_load_clump_text(const char* text, size_t size, const char* name, int textures);
// Reports the parser's last error (trace switch "vrml" only).
void vrml_report_error(const char* path);
// The same clump, scaled to one tenth when world attribute 34 is "Y".
VxClump* vrml_scale(VxClump* clump);
