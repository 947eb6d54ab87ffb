// The parser library's 3 x 4 matrices (rows x, y, z; translation in the fourth column),
// rotations {axis, angle in radians}, vector helpers and key resampling.
#ifndef TESSEL_PARSER_MATRIX_H
#define TESSEL_PARSER_MATRIX_H

#include "Parser/aglib.h"

struct VxMatrixRec;
typedef struct VxMatrixRec VxMatrix;

// Combine modes of the building operations.
enum { AG_REPLACE = 0, AG_POSTMULTIPLY = 1, AG_PREMULTIPLY = 2 };

void AgIdentityMatrix(float* m);
int AgNewIdentityMatrix(float** out);
int AgNewTranslationMatrix(float** out, const float* vector);
void AgFreeMatrix(float* m);
void AgCopyMatrix(float* dst, const float* src);
void AgTranslateMatrix(float* m, const float* v, int mode);
void AgRotateMatrix(float* m, const float* rotation, int mode);
void AgRotateMatrixZ(float* m, float angle);
void AgScaleMatrix(float* m, const float* scale, int mode);
void AgMultiplyMatrix(float* dst, const float* src, int mode);
void AgTransformPoint(const float* m, float* point);
void AgLerpMatrix(float* out, const float* a, const float* b, float t);
void AgMatrixToRotation(const float* m, float* rotation);
void AgDecomposeMatrix(const float* m, float* rotation, float* scale, float* translation);
int AgMatrixFromEngine(float** out, const VxMatrix* engine);
int AgMatrixToEngine(VxMatrix** out, const float* m);
void AgMatrixThroughScratch(float* dst, const float* m);
int AgRotationIsSet(const float* rotation);
int AgScaleIsNotUnit(const float* scale);
int AgVectorIsNonZero(const float* v);

// Resampling of keyed values onto reference keys. 0 on success, 1 when an array is null.
int AgResampleMatrices(float** out, float* const* values, const float* ref_keys,
                       const float* src_keys, int ref_count, int src_count);
int AgResampleVec3(float* out, const float* values, const float* ref_keys, const float* src_keys,
                   int ref_count, int src_count);
int AgResampleVec4(float* out, const float* values, const float* ref_keys, const float* src_keys,
                   int ref_count, int src_count);

float AgDistance(const float* a, const float* b);
float AgLength(const float* v);
void AgNormalize(float* v);
void AgSubtract(float* out, const float* a, const float* b);
void AgCross(float* out, const float* a, const float* b);
void AgCopy5(float* dst, const float* src);
void AgClumpBounds(VxClump* clump, float* min, float* max, int first);
float AgByteToUnit(int byte);
int AgIsZero(float x, float epsilon);
int AgIsEqual(float a, float b, float epsilon);

#endif
