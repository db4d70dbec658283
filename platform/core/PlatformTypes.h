// Fixed-width types, records and error numbers of the desktop platform that the toolkit was
// written against. The old code was 32-bit: its `long` is 32 bits here.
#pragma once

#include <cstddef>
#include <cstdint>

using UInt8 = uint8_t;
using SInt8 = int8_t;
using UInt16 = uint16_t;
using SInt16 = int16_t;
using UInt32 = uint32_t;
using SInt32 = int32_t;
using UInt64 = uint64_t;
using SInt64 = int64_t;
using Boolean = unsigned char;
using Byte = uint8_t;

using OSErr = int16_t;
using OSStatus = int32_t;
using OSType = uint32_t;
using FourCharCode = uint32_t;
using ResType = uint32_t;
using Fixed = int32_t;
using Fract = int32_t;
using Size = int32_t;
using Ptr = char*;
using Handle = char**;
using StringPtr = unsigned char*;
using ConstStringPtr = const unsigned char*;
using Str255 = unsigned char[256];
using Str63 = unsigned char[64];
using Str31 = unsigned char[32];
using TimeValue = int32_t;
using TimeScale = int32_t;
using TimeValue64 = int64_t;

struct Point {
    int16_t v;
    int16_t h;
};
static_assert(sizeof(Point) == 4);

struct Rect {
    int16_t top;
    int16_t left;
    int16_t bottom;
    int16_t right;
};
static_assert(sizeof(Rect) == 8);

struct FixedPoint {
    Fixed x;
    Fixed y;
};
static_assert(sizeof(FixedPoint) == 8);

struct FixedRect {
    Fixed left;
    Fixed top;
    Fixed right;
    Fixed bottom;
};
static_assert(sizeof(FixedRect) == 16);

struct RGBColor {
    uint16_t red;
    uint16_t green;
    uint16_t blue;
};
static_assert(sizeof(RGBColor) == 6);

struct wide {
    uint32_t lo;
    int32_t hi;
};
static_assert(sizeof(wide) == 8);

// Error numbers as the platform defines them.
constexpr OSErr noErr = 0;
constexpr OSErr paramErr = -50;
constexpr OSErr fnfErr = -43;
constexpr OSErr ioErr = -36;
constexpr OSErr eofErr = -39;
constexpr OSErr memFullErr = -108;
constexpr OSErr nilHandleErr = -109;
constexpr OSErr memWZErr = -111;
constexpr OSErr userCanceledErr = -128;
constexpr OSErr invalidMedia = -2008;
constexpr OSErr invalidTrack = -2009;
constexpr OSErr invalidMovie = -2010;
constexpr OSErr cannotFindAtomErr = -2101;
constexpr OSErr notLeafAtomErr = -2102;
constexpr OSErr atomsNotOfSameTypeErr = -2103;
constexpr OSErr atomIndexInvalidErr = -2104;
constexpr OSErr duplicateAtomTypeAndIDErr = -2105;
constexpr OSErr invalidAtomErr = -2106;
constexpr OSErr invalidAtomContainerErr = -2107;
constexpr OSErr invalidAtomTypeErr = -2108;
constexpr OSErr cannotBeLeafAtomErr = -2109;
constexpr OSErr pathTooLongErr = -2110;
constexpr OSErr coreFoundationUnknownErr = -4960;

// A four-character code as a constant: the first character is the most significant byte.
constexpr uint32_t FOUR_CHAR_CODE(const char (&s)[5]) {
    return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
           (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}
