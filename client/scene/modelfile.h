#pragma once
// Loading VRML models through the parser library: the texture names as model-header entries,
// or one engine clump, scaled down when the world asks for it (attribute 34).
#include "engine/vxl21.h"

// Null when the file does not load; else a new std::malloc'ed buffer of entries (a length
// byte, then the name cut at its last '.', without NUL), at most 1024 bytes, with its length
// in *length (0, with an empty text, when the model has no textures).
char* vrml_texture_names(const char* path, int* length);
// textures 1 loads texture coordinates and names; null when the file does not load.
VxClump* vrml_load_clump(const char* path, int textures);
// Reports the parser's last error (trace switch "vrml" only).
void vrml_report_error(const char* path);
// The same clump, scaled to one tenth when world attribute 34 is "Y".
VxClump* vrml_scale(VxClump* clump);
