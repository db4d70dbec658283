// QuickDraw rectangle and point helpers and the Core Graphics geometry records. The old build
// was 32-bit, so CGFloat is a single-precision float and the records keep that layout.
#pragma once

#include "PlatformTypes.h"

#include <cmath>
#include <cstdint>

using CGFloat = float;

struct CGPoint {
    CGFloat x;
    CGFloat y;
};
static_assert(sizeof(CGPoint) == 8);

struct CGSize {
    CGFloat width;
    CGFloat height;
};
static_assert(sizeof(CGSize) == 8);

struct CGRect {
    CGPoint origin;
    CGSize size;
};
static_assert(sizeof(CGRect) == 16);

inline CGPoint CGPointMake(CGFloat x, CGFloat y) {
    return CGPoint{x, y};
}
inline CGSize CGSizeMake(CGFloat w, CGFloat h) {
    return CGSize{w, h};
}
inline CGRect CGRectMake(CGFloat x, CGFloat y, CGFloat w, CGFloat h) {
    return CGRect{{x, y}, {w, h}};
}

inline void SetRect(Rect* r, int16_t left, int16_t top, int16_t right, int16_t bottom) {
    if (!r) return;
    r->left = left;
    r->top = top;
    r->right = right;
    r->bottom = bottom;
}

// A rectangle is empty unless it has a positive width and height.
inline bool EmptyRect(const Rect* r) {
    return !r || r->bottom <= r->top || r->right <= r->left;
}

// The right and bottom edges are outside: a pixel is addressed by its top-left corner.
inline bool PtInRect(Point pt, const Rect* r) {
    return r && pt.v >= r->top && pt.v < r->bottom && pt.h >= r->left && pt.h < r->right;
}

namespace platform {

// Conversions that never leave the destination's range: NaN gives 0, values beyond the range
// give its nearest limit.
inline int32_t truncToInt32(double x) {
    if (std::isnan(x)) return 0;
    if (x >= 2147483647.0) return INT32_MAX;
    if (x <= -2147483648.0) return INT32_MIN;
    return int32_t(x);
}

inline bool fitsInt16(int64_t v) {
    return v >= INT16_MIN && v <= INT16_MAX;
}

inline int16_t clampToInt16(int64_t v) {
    return v > INT16_MAX ? int16_t(INT16_MAX) : (v < INT16_MIN ? int16_t(INT16_MIN) : int16_t(v));
}

} // namespace platform
