// Fixed-point maths: Fixed is 16.16, Fract is 2.30. Results round to nearest (halves away from
// zero) and saturate at the type's limits; division by zero and NaN give the saturated or zero
// value instead of undefined behaviour.
#pragma once

#include "PlatformTypes.h"

constexpr Fixed fixed1 = 0x00010000;
constexpr Fract fract1 = 0x40000000;
constexpr Fixed kFixedMax = 0x7FFFFFFF;
constexpr Fixed kFixedMin = int32_t(0x80000000u);

Fixed FixMul(Fixed a, Fixed b);
Fixed FixDiv(Fixed a, Fixed b);
Fixed FixRatio(int16_t numer, int16_t denom);
int16_t FixRound(Fixed x);
Fixed Long2Fix(int32_t x);
int32_t Fix2Long(Fixed x);
Fixed X2Fix(double x);
double Fix2X(Fixed x);
Fract X2Frac(double x);
double Frac2X(Fract x);
Fract FracMul(Fract a, Fract b);
Fract FracDiv(Fract a, Fract b);
Fract Fix2Frac(Fixed x);
Fixed Frac2Fix(Fract x);

inline Fixed IntToFixed(int32_t x) {
    return Long2Fix(x);
}
inline int32_t FixedToInt(Fixed x) {
    return Fix2Long(x);
}
inline Fixed FloatToFixed(double x) {
    return X2Fix(x);
}
inline double FixedToFloat(Fixed x) {
    return Fix2X(x);
}

namespace platform {
// Clamps a double into the int32 range (NaN gives 0) after rounding to nearest.
int32_t roundToInt32(double x);
int16_t roundToInt16(double x);
} // namespace platform
