#include "VUXQTUtils.h"

#include "PlatformEndian.h"
#include "PlatformErrors.h"
#include "PlatformFixed.h"
#include "PlatformMemory.h"
#include "PlatformMovies.h"
#include "PlatformMovieFileReader.h"
#include "PlatformPendingCalls.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>
#include <new>

namespace VUX::VUXQT {

namespace {

struct ScriptRecord {
    int16_t code;
    const char* letters;
};

// Script codes and their two-letter language codes; the record without letters ends the table.
const ScriptRecord scriptsTable[] = {
    {0, "en"},  {1, "fr"},  {2, "de"},  {3, "it"},    {4, "nl"},  {5, "sv"},  {6, "es"},
    {7, "da"},  {8, "pt"},  {9, "no"},  {10, "he"},   {11, "ja"}, {12, "ar"}, {13, "fi"},
    {14, "el"}, {15, "is"}, {16, "mt"}, {17, "tr"},   {18, "hr"}, {19, "zh"}, {20, "ur"},
    {21, "hi"}, {22, "ty"}, {23, "ko"}, {0, nullptr},
};

constexpr int16_t kNoScript = 32767;
constexpr uint32_t kUnknownControllerType = 0x3F3F3F3F; // four question marks

// A property list for NewMovieFromProperties; the values live with the caller's locals.
struct MovieProperties {
    static constexpr int kMax = 8;
    QTNewMoviePropertyElement items[kMax];
    ItemCount count = 0;
    void add(OSType propClass, OSType propID, ByteCount size, void* value) {
        if (count < kMax) items[count++] = {propClass, propID, size, value, 0};
    }
};

const OSType kPropClassDataLocation = FOUR_CHAR_CODE("dloc");
const OSType kPropClassInstantiation = FOUR_CHAR_CODE("mins");
const OSType kPropClassNewMovieProperty = FOUR_CHAR_CODE("mprp");
const OSType kPropClassAudio = FOUR_CHAR_CODE("audi");
const OSType kPropClassVisualContext = FOUR_CHAR_CODE("ctxt");
const OSType kPropClassResourceLocation = FOUR_CHAR_CODE("rloc");

} // namespace

// ---------------------------------------------------------------------------------------------
// Fixed point

template <> Fixed VUXQTUtils::valueToFixed<double>(double value) {
    return X2Fix(value);
}

template <> Fixed VUXQTUtils::valueToFixed<float>(float value) {
    const float scaled = value * 65536.0f;
    if (scaled != scaled) return 0;
    if (scaled >= 2147483648.0f) return 0x7FFFFFFF;
    if (scaled < -2147483648.0f) return static_cast<Fixed>(0x80000000u);
    return static_cast<Fixed>(scaled);
}

template <> Fixed VUXQTUtils::valueToFixed<int32_t>(int32_t value) {
    return Long2Fix(value);
}

template <> Fixed VUXQTUtils::valueToFixed<uint32_t>(uint32_t value) {
    return Long2Fix(value > uint32_t(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(value));
}

template <> Fixed VUXQTUtils::valueToFixed<int16_t>(int16_t value) {
    return Long2Fix(value);
}

template <> Fixed VUXQTUtils::valueToFixed<uint16_t>(uint16_t value) {
    return Long2Fix(value);
}

template <> double VUXQTUtils::fixedToValue<double>(Fixed value) {
    return Fix2X(value);
}

template <> float VUXQTUtils::fixedToValue<float>(Fixed value) {
    return static_cast<float>(value) * (1.0f / 65536.0f);
}

template <> int32_t VUXQTUtils::fixedToValue<int32_t>(Fixed value) {
    return Fix2Long(value);
}

template <> uint32_t VUXQTUtils::fixedToValue<uint32_t>(Fixed value) {
    return static_cast<uint32_t>(Fix2Long(value));
}

template <> int16_t VUXQTUtils::fixedToValue<int16_t>(Fixed value) {
    return FixRound(value);
}

template <> uint16_t VUXQTUtils::fixedToValue<uint16_t>(Fixed value) {
    return static_cast<uint16_t>(FixRound(value));
}

// ---------------------------------------------------------------------------------------------
// Codes and time

int16_t VUXQTUtils::regionCodeToScriptCode(const char* text) {
    if (!text || !text[0]) return kNoScript;
    for (const ScriptRecord* r = scriptsTable; r->letters; ++r)
        if (r->letters[0] == text[0] && r->letters[1] == text[1]) return r->code;
    return kNoScript;
}

const char* VUXQTUtils::scriptCodeToRegionCode(int16_t code) {
    if (code < 0) return "";
    for (const ScriptRecord* r = scriptsTable; r->letters; ++r)
        if (r->code == code) return r->letters;
    return "";
}

int64_t VUXQTUtils::macTimeToCTime(uint32_t seconds) {
    // Midnight of 1 January 1904 in local time, outside daylight saving time.
    std::tm start{};
    start.tm_year = 4;
    start.tm_mon = 0;
    start.tm_mday = 1;
    start.tm_isdst = 0;
    const std::time_t epoch = std::mktime(&start);
    return static_cast<int64_t>(epoch) + static_cast<int64_t>(seconds);
}

// ---------------------------------------------------------------------------------------------
// Strings and handles

int32_t VUXQTUtils::handleToCString(Handle handle, char*& out) {
    if (!handle) return paramErr;
    const Size size = GetHandleSize(handle);
    const char* bytes = *handle;
    size_t n = 0;
    if (bytes && size > 0) {
        const void* zero = std::memchr(bytes, 0, static_cast<size_t>(size));
        n = zero ? static_cast<size_t>(static_cast<const char*>(zero) - bytes) : static_cast<size_t>(size);
    }
    char* text = new (std::nothrow) char[n + 1];
    if (!text) return memFullErr;
    if (n) std::memcpy(text, bytes, n);
    text[n] = 0;
    out = text;
    return noErr;
}

unsigned char* VUXQTUtils::CToPascalString(const char* text, unsigned char* out) {
    if (!out) return out;
    out[0] = 0;
    if (!text) return out;
    size_t n = 0;
    while (n < 255 && text[n]) {
        out[n + 1] = static_cast<unsigned char>(text[n]);
        ++n;
    }
    out[0] = static_cast<unsigned char>(n);
    return out;
}

char* VUXQTUtils::PascalToCString(const unsigned char* text) {
    if (!text || text[0] == 0) return nullptr;
    const size_t n = text[0];
    char* out = new (std::nothrow) char[n + 1];
    if (!out) return nullptr;
    std::memcpy(out, text + 1, n);
    out[n] = 0;
    return out;
}

VUXCString* VUXQTUtils::CFStringToVUXCString(CFStringRef string, bool release) {
    if (!string) return nullptr;
    VUXCString* result = nullptr;
    const CFIndex n = CFStringGetLength(string);
    if (n > 0) {
        char* buffer = new (std::nothrow) char[static_cast<size_t>(n) + 1];
        if (buffer && CFStringGetCString(string, buffer, n + 1, kCFStringEncodingMacRoman))
            // The string keeps a copy of its own: the buffer is ours to free.
            result = new (std::nothrow) VUXCString(buffer, std::strlen(buffer), false);
        delete[] buffer;
    }
    if (release) CFRelease(string);
    return result;
}

int32_t VUXQTUtils::CFStringToCString(CFStringRef string, char*& out, bool release) {
    out = nullptr;
    if (!string) return paramErr;
    const CFIndex n = CFStringGetLength(string);
    if (n > 0) {
        char* buffer = new (std::nothrow) char[static_cast<size_t>(n) + 1];
        if (buffer && CFStringGetCString(string, buffer, n + 1, kCFStringEncodingMacRoman))
            out = buffer;
        else
            delete[] buffer;
    }
    if (release) CFRelease(string);
    return noErr;
}

CFStringRef VUXQTUtils::CStringToCFString(const char* text) {
    if (!text) return nullptr;
    return CFStringCreateWithCString(kCFAllocatorDefault, text, kCFStringEncodingMacRoman);
}

CFDataRef VUXQTUtils::HandleToCFData(Handle handle) {
    if (!handle) return nullptr;
    const Size size = *handle ? GetHandleSize(handle) : 0;
    return CFDataCreate(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(*handle), size);
}

Handle VUXQTUtils::CFDataToHandle(CFDataRef data) {
    if (!data || CFGetTypeID(data) != CFDataGetTypeID()) return nullptr;
    const CFIndex length = CFDataGetLength(data);
    if (length > std::numeric_limits<Size>::max()) return nullptr;
    Handle handle = NewHandle(static_cast<Size>(length));
    if (!handle) return nullptr;
    if (length) std::memcpy(*handle, CFDataGetBytePtr(data), static_cast<size_t>(length));
    return handle;
}

Handle VUXQTUtils::handleCopy(Ptr pointer, uint32_t size, int32_t& err) {
    if (!pointer) {
        err = vuxNullParamErr;
        return nullptr;
    }
    if (size > static_cast<uint32_t>(std::numeric_limits<Size>::max())) {
        err = paramErr;
        return nullptr;
    }
    Handle handle = nullptr;
    err = PtrToHand(pointer, &handle, static_cast<Size>(size));
    return err == noErr ? handle : nullptr;
}

Handle VUXQTUtils::handleCopy(Handle handle, int32_t& err) {
    if (!handle || !*handle) {
        err = vuxNullParamErr;
        return nullptr;
    }
    const SInt8 state = HGetState(handle);
    HLock(handle);
    Handle copy = handle;
    err = HandToHand(&copy);
    HSetState(handle, state);
    return err == noErr ? copy : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Core Foundation dictionaries

namespace {
CFMutableDictionaryRef asDictionary(CFTypeRef object) {
    if (!object || CFGetTypeID(object) != CFDictionaryGetTypeID()) return nullptr;
    return const_cast<CFMutableDictionaryRef>(static_cast<CFDictionaryRef>(object));
}
} // namespace

const void* VUXQTUtils::CFDictGetValue(CFTypeRef dict, const void* key) {
    CFDictionaryRef d = asDictionary(dict);
    return d && key ? CFDictionaryGetValue(d, key) : nullptr;
}

void VUXQTUtils::CFDictSetValue(CFTypeRef dict, const void* key, const void* value) {
    if (CFMutableDictionaryRef d = asDictionary(dict); d && key) CFDictionarySetValue(d, key, value);
}

bool VUXQTUtils::CFDictGetBool(CFTypeRef dict, const void* key) {
    auto value = static_cast<CFTypeRef>(CFDictGetValue(dict, key));
    return value && CFGetTypeID(value) == CFBooleanGetTypeID() &&
           CFBooleanGetValue(static_cast<CFBooleanRef>(value));
}

int32_t VUXQTUtils::CFDictGetSInt32(CFTypeRef dict, const void* key) {
    auto value = static_cast<CFTypeRef>(CFDictGetValue(dict, key));
    int32_t number = 0;
    if (value && CFGetTypeID(value) == CFNumberGetTypeID())
        CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberSInt32Type, &number);
    return number;
}

void VUXQTUtils::CFDictSetSInt32(CFTypeRef dict, const void* key, int32_t value) {
    CFMutableDictionaryRef d = asDictionary(dict);
    if (!d || !key) return;
    CFNumberRef number = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &value);
    if (!number) return;
    CFDictionarySetValue(d, key, number);
    CFRelease(number);
}

// ---------------------------------------------------------------------------------------------
// Other conversions

bool VUXQTUtils::vuxQTImageRelease(CGImageRef image) {
    if (!image) return false;
    CGImageRelease(image);
    return true;
}

int64_t VUXQTUtils::wideToSInt64(wide const& value) {
    return static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(value.hi)) << 32) | value.lo);
}

wide VUXQTUtils::sint64ToWide(int64_t value) {
    wide w;
    w.lo = static_cast<uint32_t>(static_cast<uint64_t>(value));
    w.hi = static_cast<int32_t>(static_cast<uint64_t>(value) >> 32);
    return w;
}

RGBColor& VUXQTUtils::rgbColorNtoB(RGBColor& color) {
    color.red = EndianU16_NtoB(color.red);
    color.green = EndianU16_NtoB(color.green);
    color.blue = EndianU16_NtoB(color.blue);
    return color;
}

RGBColor& VUXQTUtils::rgbColorBtoN(RGBColor& color) {
    return rgbColorNtoB(color);
}

int32_t VUXQTUtils::scaleRectInRect(Rect const& area, Rect const& shape, Rect& result) {
    const int32_t shapeWidth = int32_t(shape.right) - shape.left;
    const int32_t shapeHeight = int32_t(shape.bottom) - shape.top;
    const int32_t aw = int32_t(area.right) - area.left;
    const int32_t ah = int32_t(area.bottom) - area.top;
    if (shapeWidth <= 0 || shapeHeight <= 0 || aw < 0 || ah < 0) {
        result = Rect{0, 0, 0, 0};
        return paramErr;
    }
    const float r = static_cast<float>(shapeWidth) / static_cast<float>(shapeHeight);
    int32_t w, h;
    if (static_cast<float>(ah) * r > static_cast<float>(aw)) {
        w = aw;
        h = static_cast<int32_t>((1.0 / static_cast<double>(r)) * static_cast<double>(aw));
    } else {
        h = ah;
        w = static_cast<int32_t>(r * static_cast<float>(ah));
    }
    // Both stay inside the area, so every edge below is an edge of the area or between them;
    // the sizes are kept in 32 bits because an area may be wider than 32767.
    w = std::min(std::max(w, 0), aw);
    h = std::min(std::max(h, 0), ah);
    const int32_t dx = (aw - w) / 2;
    const int32_t dy = (ah - h) / 2;
    result.left = static_cast<int16_t>(area.left + dx);
    result.top = static_cast<int16_t>(area.top + dy);
    result.right = static_cast<int16_t>(area.left + w + dx);
    result.bottom = static_cast<int16_t>(area.top + h + dy);
    return noErr;
}

// ---------------------------------------------------------------------------------------------
// Atoms and data references

Handle VUXQTUtils::createClassicAtom(OSType type, Ptr data, uint32_t size, int32_t& err) {
    if (type == 0) {
        err = paramErr;
        return nullptr;
    }
    // No data is an atom without data: its header must not claim bytes that are not there.
    if (!data) size = 0;
    if (size > static_cast<uint32_t>(std::numeric_limits<Size>::max()) - 8) {
        err = paramErr;
        return nullptr;
    }
    Handle atom = NewHandle(0);
    if (!atom) {
        err = memFullErr;
        return nullptr;
    }
    uint8_t header[8];
    platform::storeBE32(header, size + 8);
    platform::storeBE32(header + 4, type);
    err = PtrAndHand(header, atom, 8);
    if (err == noErr && size > 0) err = PtrAndHand(data, atom, static_cast<Size>(size));
    return atom;
}

Handle VUXQTUtils::createClassicAtom(OSType type, Handle data, int32_t& err) {
    if (!data || !*data) return createClassicAtom(type, static_cast<Ptr>(nullptr), 0, err);
    const SInt8 state = HGetState(data);
    HLock(data);
    Handle atom = createClassicAtom(type, *data, static_cast<uint32_t>(GetHandleSize(data)), err);
    HSetState(data, state);
    return atom;
}

Handle VUXQTUtils::atomData(QTAtomContainer container, OSType type, int16_t index, QTAtom parent) {
    if (!container) return nullptr;
    const QTAtom atom = QTFindChildByIndex(container, parent, type, index, nullptr);
    if (!atom) return nullptr;
    Handle data = NewHandle(0);
    if (!data) return nullptr;
    if (QTCopyAtomDataToHandle(container, atom, data) != noErr) {
        DisposeHandle(data);
        return nullptr;
    }
    return data;
}

Handle VUXQTUtils::atomData(QTAtomContainer container, VUXAtomCoordinate const& coordinate) {
    if (coordinate.right.right == 0) return nullptr;
    return atomData(container, coordinate.left.right, coordinate.right.right, coordinate.left.left);
}

bool VUXQTUtils::isImageDataRef(DataReferenceRecord const& reference) {
    if (!reference.dataRef || reference.dataRefType == 0) return false;
    GraphicsImportComponent importer = nullptr;
    GetGraphicsImporterForDataRefWithFlags(reference.dataRef, reference.dataRefType, &importer,
                                           kGraphicsImporterDontValidate);
    if (!importer) return false;
    CloseComponent(importer);
    return true;
}

bool VUXQTUtils::isMovieDataRef(DataReferenceRecord const& reference) {
    if (!reference.dataRef || reference.dataRefType == 0) return false;
    Component importer = nullptr;
    const OSErr err = GetMovieImporterForDataRef(reference.dataRefType, reference.dataRef,
                                                 kMovieImporterDontUseGraphicsImporters, &importer);
    return err == noErr && importer != nullptr;
}

// ---------------------------------------------------------------------------------------------
// Movies

Movie VUXQTUtils::createEmptyMovie(int32_t& err) {
    Boolean yes = true;
    void* noContext = nullptr;
    MovieProperties props;
    props.add(kPropClassNewMovieProperty, FOUR_CHAR_CODE("actv"), sizeof yes, &yes);
    props.add(kPropClassAudio, FOUR_CHAR_CODE("aucp"), sizeof yes, &yes);
    props.add(kPropClassVisualContext, FOUR_CHAR_CODE("visu"), sizeof noContext, &noContext);
    Movie movie = nullptr;
    err = NewMovieFromProperties(props.count, props.items, 0, nullptr, &movie);
    return err == noErr ? movie : nullptr;
}

Movie VUXQTUtils::createFromClipboard(int32_t& err) {
    Boolean yes = true;
    void* noContext = nullptr;
    MovieProperties props;
    props.add(kPropClassDataLocation, FOUR_CHAR_CODE("scrp"), 0, nullptr);
    props.add(kPropClassInstantiation, FOUR_CHAR_CODE("rdrn"), sizeof yes, &yes);
    props.add(kPropClassInstantiation, FOUR_CHAR_CODE("aurn"), sizeof yes, &yes);
    props.add(kPropClassNewMovieProperty, FOUR_CHAR_CODE("actv"), sizeof yes, &yes);
    props.add(kPropClassAudio, FOUR_CHAR_CODE("aucp"), sizeof yes, &yes);
    props.add(kPropClassVisualContext, FOUR_CHAR_CODE("visu"), sizeof noContext, &noContext);
    Movie movie = nullptr;
    err = NewMovieFromProperties(props.count, props.items, 0, nullptr, &movie);
    return err == noErr ? movie : nullptr;
}

Movie VUXQTUtils::createFromDataReference(int32_t& err, DataReferenceRecord const& reference, int16_t& resID,
                                          bool allowAsync) {
    Boolean yes = true;
    Boolean async = allowAsync;
    void* noContext = nullptr;
    DataReferenceRecord record = reference;
    MovieProperties props;
    props.add(kPropClassDataLocation, FOUR_CHAR_CODE("dref"), sizeof record, &record);
    props.add(kPropClassInstantiation, FOUR_CHAR_CODE("rdrn"), sizeof yes, &yes);
    props.add(kPropClassInstantiation, FOUR_CHAR_CODE("aurn"), sizeof yes, &yes);
    props.add(kPropClassInstantiation, FOUR_CHAR_CODE("asok"), sizeof async, &async);
    props.add(kPropClassNewMovieProperty, FOUR_CHAR_CODE("actv"), sizeof yes, &yes);
    props.add(kPropClassNewMovieProperty, FOUR_CHAR_CODE("intn"), sizeof yes, &yes);
    props.add(kPropClassAudio, FOUR_CHAR_CODE("aucp"), sizeof yes, &yes);
    props.add(kPropClassVisualContext, FOUR_CHAR_CODE("visu"), sizeof noContext, &noContext);
    QTNewMoviePropertyElement output = {kPropClassResourceLocation, FOUR_CHAR_CODE("rezi"), sizeof resID,
                                        &resID, 0};
    Movie movie = nullptr;
    err = NewMovieFromProperties(props.count, props.items, 1, &output, &movie);
    // A data reference that could not be resolved is not an error of the call.
    if (err == couldNotResolveDataRef) err = noErr;
    return movie;
}

Movie VUXQTUtils::createFromHandle(int32_t& err, Handle handle, bool active) {
    if (!handle) {
        err = 1000;
        return nullptr;
    }
    Boolean yes = true;
    Boolean isActive = active;
    void* noContext = nullptr;
    Handle location = handle;
    MovieProperties props;
    props.add(kPropClassDataLocation, FOUR_CHAR_CODE("hzer"), sizeof location, &location);
    props.add(kPropClassInstantiation, FOUR_CHAR_CODE("rdrn"), sizeof yes, &yes);
    props.add(kPropClassInstantiation, FOUR_CHAR_CODE("aurn"), sizeof yes, &yes);
    props.add(kPropClassNewMovieProperty, FOUR_CHAR_CODE("actv"), sizeof isActive, &isActive);
    props.add(kPropClassNewMovieProperty, FOUR_CHAR_CODE("intn"), sizeof yes, &yes);
    props.add(kPropClassAudio, FOUR_CHAR_CODE("aucp"), sizeof yes, &yes);
    props.add(kPropClassVisualContext, FOUR_CHAR_CODE("visu"), sizeof noContext, &noContext);
    Movie movie = nullptr;
    err = NewMovieFromProperties(props.count, props.items, 0, nullptr, &movie);
    return err == noErr ? movie : nullptr;
}

Movie VUXQTUtils::copyMovie(Movie movie, int32_t& err, bool resetMatrices) {
    if (!movie) {
        err = invalidMovie;
        return nullptr;
    }
    Handle flat = NewHandle(4);
    if (!flat) {
        err = memFullErr;
        return nullptr;
    }
    Movie copy = nullptr;
    err = PutMovieIntoHandle(movie, flat);
    if (err == noErr) copy = createFromHandle(err, flat, GetMovieActive(movie) != 0);
    if (err == noErr && copy && resetMatrices) {
        SetMovieMatrix(copy, nullptr);
        for (int32_t index = 1;; ++index) {
            Track track = GetMovieIndTrackType(copy, index, FOUR_CHAR_CODE("eyes"), 2);
            if (!track) break;
            SetTrackMatrix(track, nullptr);
        }
    }
    DisposeHandle(flat);
    return copy;
}

uint32_t VUXQTUtils::movieControllerType(Movie movie, int32_t& err) {
    if (!movie) {
        err = invalidMovie;
        return kUnknownControllerType;
    }
    UserData userData = GetMovieUserData(movie);
    if (!userData) {
        err = GetMoviesError();
        return kUnknownControllerType;
    }
    uint8_t bytes[4] = {0, 0, 0, 0};
    err = GetUserDataItem(userData, bytes, 4, FOUR_CHAR_CODE("ctyp"), 0);
    if (err != noErr) return kUnknownControllerType;
    return platform::loadBE32(bytes);
}

int32_t VUXQTUtils::movieControllerType(Movie movie, uint32_t const& type, int32_t& err) {
    if (!movie) {
        err = invalidMovie;
        return err;
    }
    UserData userData = GetMovieUserData(movie);
    if (!userData) {
        err = static_cast<int16_t>(GetMoviesError());
        return err;
    }
    uint8_t bytes[4];
    platform::storeBE32(bytes, type);
    err = static_cast<int16_t>(SetUserDataItem(userData, bytes, 4, FOUR_CHAR_CODE("ctyp"), 0));
    return err;
}

int32_t VUXQTUtils::stickyError(bool clear) {
    const int32_t err = GetMoviesStickyError();
    if (clear) ClearMoviesStickyError();
    return err;
}

} // namespace VUX::VUXQT
