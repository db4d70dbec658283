// Static conversions between the platform's forms and plain C values: 16.16 fixed point,
// length-prefixed strings, handles, Core Foundation strings, data and dictionaries, time and
// colours; two-letter language codes; the aspect-preserving fit of one rectangle into another;
// classic atoms and atom data; tests of data references; and the creation and copying of movies,
// with the controller type kept in a movie's user data. Nothing here keeps state.
#pragma once

#include "VUXRawData.h"
#include "VUXString.h"

#include "PlatformAtoms.h"
#include "PlatformCF.h"
#include "PlatformCoreGraphics.h"
#include "PlatformObjects.h"
#include "PlatformPendingToolboxCalls.h"
#include "PlatformTypes.h"

#include <cstdint>

namespace VUX::VUXQT {

// An atom by its parent and type (left) and its index (right; the left value is not used).
using VUXAtomCoordinate = VUXPair<VUXPair<QTAtom, QTAtomType>, VUXPair<int32_t, int16_t>>;

class VUXQTUtils {
  public:
    VUXQTUtils() = delete;

    // Fixed point. Instances for double, float, int32_t, uint32_t, int16_t and uint16_t. A float
    // is scaled and truncated toward zero, saturating (NaN gives 0); integers become whole
    // fixed values; fixed to integers rounds to nearest (16-bit results through FixRound).
    template <typename V> static Fixed valueToFixed(V value);
    template <typename V> static V fixedToValue(Fixed value);

    // The script code of the two-letter code the text begins with (case-sensitive); 32767 for
    // a null or empty text or one not in the table.
    static int16_t regionCodeToScriptCode(const char* text);
    // The two letters of a script code, or the empty string.
    static const char* scriptCodeToRegionCode(int16_t code);
    // The calendar time of a count of seconds since 1 January 1904 00:00:00 local time.
    static int64_t macTimeToCTime(uint32_t seconds);

    // A new C string (delete[]) of the handle's bytes up to the first zero byte, or all of them
    // and a zero byte; the handle is not touched. -50 for a null handle, -108 when memory fails.
    static int32_t handleToCString(Handle handle, char*& out);
    // At most 255 characters; a null text gives length 0. Returns `out`.
    static unsigned char* CToPascalString(const char* text, unsigned char* out);
    // A new C string (delete[]), or null for length 0.
    static char* PascalToCString(const unsigned char* text);
    // The string in Mac Roman as a new VUXCString of its own, or null (null or empty string, or
    // a character Mac Roman lacks). With `release` the string is released (a null one aside).
    static VUXCString* CFStringToVUXCString(CFStringRef string, bool release);
    // `out` becomes null, then for a non-empty string a new array (delete[]) in Mac Roman, or
    // stays null when the conversion fails. -50 for a null string, else 0.
    static int32_t CFStringToCString(CFStringRef string, char*& out, bool release);
    static CFStringRef CStringToCFString(const char* text);
    static CFDataRef HandleToCFData(Handle handle);
    static Handle CFDataToHandle(CFDataRef data);
    static Handle handleCopy(Ptr pointer, uint32_t size, int32_t& err);
    static Handle handleCopy(Handle handle, int32_t& err);

    // Core Foundation dictionaries; each does nothing or answers null, false or 0 when `dict`
    // is null or not a dictionary.
    static const void* CFDictGetValue(CFTypeRef dict, const void* key);
    static void CFDictSetValue(CFTypeRef dict, const void* key, const void* value);
    static bool CFDictGetBool(CFTypeRef dict, const void* key);
    static int32_t CFDictGetSInt32(CFTypeRef dict, const void* key);
    static void CFDictSetSInt32(CFTypeRef dict, const void* key, int32_t value);

    static bool vuxQTImageRelease(CGImageRef image);
    static int64_t wideToSInt64(wide const& value);
    static wide sint64ToWide(int64_t value);
    // Red, green and blue between host order and big-endian, in place (one conversion both ways).
    static RGBColor& rgbColorNtoB(RGBColor& color);
    static RGBColor& rgbColorBtoN(RGBColor& color);
    // The largest rectangle with the proportions of `shape` that fits in `area`, centred in it.
    // -50 (and an empty result) for a shape or area without width or height, or for edges that
    // would leave 16 bits.
    static int32_t scaleRectInRect(Rect const& area, Rect const& shape, Rect& result);

    // A classic atom: size (data + 8) and type, both big-endian, then the data. Type 0: -50.
    // Null data makes an atom of the header alone (size 8), whatever size is given.
    static Handle createClassicAtom(OSType type, Ptr data, uint32_t size, int32_t& err);
    static Handle createClassicAtom(OSType type, Handle data, int32_t& err);
    // A new handle with a copy of the atom's data, or null.
    static Handle atomData(QTAtomContainer container, OSType type, int16_t index, QTAtom parent);
    static Handle atomData(QTAtomContainer container, VUXAtomCoordinate const& coordinate);
    static bool isImageDataRef(DataReferenceRecord const& reference);
    static bool isMovieDataRef(DataReferenceRecord const& reference);

    // New movies owned by the caller, or null; `err` takes the platform's result.
    static Movie createEmptyMovie(int32_t& err);
    static Movie createFromClipboard(int32_t& err);
    static Movie createFromDataReference(int32_t& err, DataReferenceRecord const& reference, int16_t& resID,
                                         bool allowAsync);
    static Movie createFromHandle(int32_t& err, Handle handle, bool active);
    static Movie copyMovie(Movie movie, int32_t& err, bool resetMatrices);
    // The 'ctyp' user-data item; four question marks on every failure.
    static uint32_t movieControllerType(Movie movie, int32_t& err);
    static int32_t movieControllerType(Movie movie, uint32_t const& type, int32_t& err);
    static int32_t stickyError(bool clear);
};

template <> Fixed VUXQTUtils::valueToFixed<double>(double value);
template <> Fixed VUXQTUtils::valueToFixed<float>(float value);
template <> Fixed VUXQTUtils::valueToFixed<int32_t>(int32_t value);
template <> Fixed VUXQTUtils::valueToFixed<uint32_t>(uint32_t value);
template <> Fixed VUXQTUtils::valueToFixed<int16_t>(int16_t value);
template <> Fixed VUXQTUtils::valueToFixed<uint16_t>(uint16_t value);
template <> double VUXQTUtils::fixedToValue<double>(Fixed value);
template <> float VUXQTUtils::fixedToValue<float>(Fixed value);
template <> int32_t VUXQTUtils::fixedToValue<int32_t>(Fixed value);
template <> uint32_t VUXQTUtils::fixedToValue<uint32_t>(Fixed value);
template <> int16_t VUXQTUtils::fixedToValue<int16_t>(Fixed value);
template <> uint16_t VUXQTUtils::fixedToValue<uint16_t>(Fixed value);

} // namespace VUX::VUXQT
