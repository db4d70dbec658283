// Transformation matrices: 3 x 3 matrices applied to row vectors [x y 1]. Columns 0 and 1 hold
// 16.16 Fixed values, column 2 holds 2.30 Fract values; the identity is [[1 0 0] [0 1 0] [0 0 1]].
// [0][0] and [1][1] scale, [1][0] and [0][1] skew and rotate, [2][0] and [2][1] translate.
//
// The operations that add a transformation (translate, scale, rotate, skew, map) append it: the
// matrix's own transformation applies first. All arithmetic is integer with rounding to nearest
// (halves away from zero) and saturation; rotations by whole multiples of 90 degrees are exact.
#pragma once

#include "PlatformTypes.h"

struct MatrixRecord {
    Fixed matrix[3][3];
};
static_assert(sizeof(MatrixRecord) == 36);

enum : int16_t {
    identityMatrixType = 0x00,
    translateMatrixType = 0x01,
    scaleMatrixType = 0x02,
    scaleTranslateMatrixType = 0x03,
    linearMatrixType = 0x04,
    linearTranslateMatrixType = 0x05,
    perspectiveMatrixType = 0x06
};

void SetIdentityMatrix(MatrixRecord* m);
void CopyMatrix(const MatrixRecord* from, MatrixRecord* to);
Boolean EqualMatrix(const MatrixRecord* a, const MatrixRecord* b);
int16_t GetMatrixType(const MatrixRecord* m);

// b = a x b: the transformation of a, then that of b.
void ConcatMatrix(const MatrixRecord* a, MatrixRecord* b);
void TranslateMatrix(MatrixRecord* m, Fixed deltaH, Fixed deltaV);
void ScaleMatrix(MatrixRecord* m, Fixed scaleX, Fixed scaleY, Fixed aboutX, Fixed aboutY);
// Positive degrees turn clockwise on a screen whose y axis points down.
void RotateMatrix(MatrixRecord* m, Fixed degrees, Fixed aboutX, Fixed aboutY);
// x' = x + skewX * y, y' = y + skewY * x, about the point.
void SkewMatrix(MatrixRecord* m, Fixed skewX, Fixed skewY, Fixed aboutX, Fixed aboutY);
// Appends the mapping of `fromRect` onto `toRect`; an empty `fromRect` leaves the matrix alone.
void MapMatrix(MatrixRecord* m, const Rect* fromRect, const Rect* toRect);
// False, with `im` untouched, when the matrix has no inverse or its inverse does not fit.
Boolean InverseMatrix(const MatrixRecord* m, MatrixRecord* im);

OSErr TransformPoints(const MatrixRecord* m, Point* points, int32_t count);
OSErr TransformFixedPoints(const MatrixRecord* m, FixedPoint* points, int32_t count);
// Transforms the rectangle into the bounding box of its transformed corners (written to `points`
// when given); true when the corners still form an upright rectangle.
Boolean TransformFixedRect(const MatrixRecord* m, FixedRect* r, FixedPoint* points);
Boolean TransformRect(const MatrixRecord* m, Rect* r, FixedPoint* points);
