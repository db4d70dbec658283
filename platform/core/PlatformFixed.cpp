#include "PlatformFixed.h"

#include <cmath>

namespace platform {

int32_t roundToInt32(double x) {
    if (std::isnan(x)) return 0;
    double r = std::round(x);
    if (r >= 2147483647.0) return INT32_MAX;
    if (r <= -2147483648.0) return INT32_MIN;
    return int32_t(r);
}

int16_t roundToInt16(double x) {
    int32_t v = roundToInt32(x);
    if (v > INT16_MAX) return INT16_MAX;
    if (v < INT16_MIN) return INT16_MIN;
    return int16_t(v);
}

} // namespace platform

namespace {

int32_t saturate(int64_t v) {
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return int32_t(v);
}

// Rounds a / 2^shift to nearest, halves away from zero.
int64_t roundShift(int64_t v, int shift) {
    int64_t half = int64_t(1) << (shift - 1);
    return v >= 0 ? (v + half) >> shift : -((-v + half) >> shift);
}

// Rounds (a << shift) / b to nearest; b != 0.
int32_t roundDiv(int64_t a, int64_t b, int shift) {
    // a fits 32 bits and shift <= 30, so the shifted numerator stays inside 63 bits.
    int64_t num = a * (int64_t(1) << shift);
    bool neg = (num < 0) != (b < 0);
    uint64_t un = num < 0 ? uint64_t(-num) : uint64_t(num);
    uint64_t ub = b < 0 ? uint64_t(-b) : uint64_t(b);
    uint64_t q = (un + ub / 2) / ub;
    if (neg) return q > uint64_t(INT32_MAX) + 1 ? INT32_MIN : int32_t(-int64_t(q));
    return q > uint64_t(INT32_MAX) ? INT32_MAX : int32_t(q);
}

} // namespace

Fixed FixMul(Fixed a, Fixed b) {
    return saturate(roundShift(int64_t(a) * int64_t(b), 16));
}

Fixed FixDiv(Fixed a, Fixed b) {
    if (b == 0) return a >= 0 ? kFixedMax : kFixedMin;
    return roundDiv(a, b, 16);
}

Fixed FixRatio(int16_t numer, int16_t denom) {
    if (denom == 0) return numer >= 0 ? kFixedMax : kFixedMin;
    return roundDiv(numer, denom, 16);
}

int16_t FixRound(Fixed x) {
    int64_t r = roundShift(x, 16);
    return r > INT16_MAX ? INT16_MAX : (r < INT16_MIN ? INT16_MIN : int16_t(r));
}

Fixed Long2Fix(int32_t x) {
    if (x > 0x7FFF) return kFixedMax;
    if (x < -0x8000) return kFixedMin;
    return Fixed(uint32_t(x) << 16);
}

int32_t Fix2Long(Fixed x) {
    return int32_t(roundShift(x, 16));
}

Fixed X2Fix(double x) {
    return platform::roundToInt32(x * 65536.0);
}
double Fix2X(Fixed x) {
    return double(x) / 65536.0;
}
Fract X2Frac(double x) {
    return platform::roundToInt32(x * 1073741824.0);
}
double Frac2X(Fract x) {
    return double(x) / 1073741824.0;
}
Fract FracMul(Fract a, Fract b) {
    return saturate(roundShift(int64_t(a) * int64_t(b), 30));
}
Fract FracDiv(Fract a, Fract b) {
    if (b == 0) return a >= 0 ? INT32_MAX : INT32_MIN;
    return roundDiv(a, b, 30);
}
Fract Fix2Frac(Fixed x) {
    return saturate(int64_t(x) * 16384);
}
Fixed Frac2Fix(Fract x) {
    return int32_t(roundShift(x, 14));
}
