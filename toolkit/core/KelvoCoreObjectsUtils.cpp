#include "KelvoCoreObjectsUtils.h"

#include "PlatformEndian.h"
#include "PlatformErrors.h"
#include "PlatformMemory.h"
#include "PlatformMovies.h"
#include "PlatformMovieFileReader.h"
#include "PlatformPendingCalls.h"
#include "PlatformUUID.h"
#include "VUXKelvo.h"
#include "VUXUtils.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

char otBuf[5];

} // namespace

const float Kelvo_Utils::DegToRad = Kelvo_Utils::piGreco / 180.0f;
const float Kelvo_Utils::RadToDeg = 180.0f / Kelvo_Utils::piGreco;

namespace {

// A stream that writes a file whole or not at all: its bytes go to a temporary beside the file,
// which closing the stream puts in the file's place only when every write, the flush and the
// close succeeded (fclose then answers 0); otherwise the file stays as it was and fclose answers
// EOF.
ssize_t safeStreamWrite(void* cookie, const char* data, size_t size) {
    auto* file = static_cast<PlatformSafeFile*>(cookie);
    return file->write(data, size) == noErr ? ssize_t(size) : -1;
}

ssize_t safeStreamRead(void* cookie, char* data, size_t size) {
    auto* file = static_cast<PlatformSafeFile*>(cookie);
    for (;;) {
        const ssize_t n = ::read(file->descriptor(), data, size);
        if (n >= 0 || errno != EINTR) return n;
    }
}

int safeStreamSeek(void* cookie, off64_t* position, int whence) {
    auto* file = static_cast<PlatformSafeFile*>(cookie);
    const off64_t at = ::lseek64(file->descriptor(), *position, whence);
    if (at < 0) return -1;
    *position = at;
    return 0;
}

int safeStreamClose(void* cookie) {
    auto* file = static_cast<PlatformSafeFile*>(cookie);
    const OSErr err = file->commit();
    delete file;
    return err == noErr ? 0 : EOF;
}

FILE* newSafeStream(const char* path, const char* mode) {
    // "x": the file must not exist yet.
    struct stat st {};
    if (std::strchr(mode, 'x') && ::lstat(path, &st) == 0) return nullptr;
    auto* file = new (std::nothrow) PlatformSafeFile();
    if (!file) return nullptr;
    if (file->open(path) != noErr) {
        delete file;
        return nullptr;
    }
    const cookie_io_functions_t calls{safeStreamRead, safeStreamWrite, safeStreamSeek, safeStreamClose};
    FILE* stream = ::fopencookie(file, std::strchr(mode, '+') ? "w+" : "w", calls);
    if (!stream) delete file; // removes the temporary
    return stream;
}

} // namespace

FILE* Kelvo_NewFileStream(const char* path, const char* mode, int32_t& error) {
    if (!path || !mode) {
        error = paramErr;
        return nullptr;
    }
    // A file opened to be written anew is written whole or not at all; appending and updating
    // work on the file itself.
    FILE* file = mode[0] == 'w' ? newSafeStream(path, mode) : std::fopen(path, mode);
    if (!file)
        error = (mode[0] == 'a' || mode[0] == 'w') ? kKelvoCannotOpenForWriting : kKelvoCannotOpenForReading;
    return file;
}

uint32_t Kelvo_Utils::libraryVersion() {
    return VUX::VUXQT::VUXKelvoLibraryVersion();
}

const char* Kelvo_Utils::libraryVersionStr() {
    return VUX::VUXQT::VUXKelvoLibraryVersionStr();
}

bool Kelvo_Utils::isPlatformBigEndian() {
    return !VUX::isPlatformLittleEndian();
}

bool Kelvo_Utils::isImageFile(FSSpec* file) {
    if (!file) return false;
    GraphicsImportComponent importer = nullptr;
    OSErr err = GetGraphicsImporterForFile(file, &importer);
    if (importer) CloseComponent(importer);
    return err == noErr && importer != nullptr;
}

bool Kelvo_Utils::isMovieFile(FSSpec* file) {
    if (!file) return false;
    AliasHandle alias = nullptr;
    if (NewAlias(nullptr, file, &alias) != noErr || !alias) return false;
    Component importer = nullptr;
    OSErr err = GetMovieImporterForDataRef(FOUR_CHAR_CODE("alis"), alias, 4, &importer);
    DisposeHandle(alias);
    return err == noErr && importer != nullptr;
}

const char* Kelvo_Utils::OSTypeToCString(uint32_t value) {
    std::memset(otBuf, 0, sizeof otBuf);
    if (value != 0) VUX::ostypeToChar(value, otBuf);
    return otBuf;
}

uint32_t Kelvo_Utils::CStringToOSType(const char* text) {
    uint32_t code = 0;
    if (VUX::charToOSType(text, code) != 0) return 0;
    return code;
}

void Kelvo_Utils::CToPString(const char* text, unsigned char* pascal) {
    if (!pascal) return;
    pascal[0] = 0;
    if (!text) return;
    size_t n = 0;
    while (n < 255 && text[n]) {
        pascal[n + 1] = static_cast<unsigned char>(text[n]);
        ++n;
    }
    pascal[0] = static_cast<unsigned char>(n);
}

int32_t Kelvo_Utils::PToCStringCreate(const unsigned char* pascal, char*& text) {
    text = nullptr;
    if (!pascal || pascal[0] == 0) return 0;
    text = new char[pascal[0] + 1];
    std::memcpy(text, pascal + 1, pascal[0]);
    text[pascal[0]] = 0;
    return 0;
}

int32_t Kelvo_Utils::CFStringToCString(CFStringRef string, char*& text, bool release) {
    text = nullptr;
    if (!string) return paramErr;
    CFIndex length = CFStringGetLength(string);
    if (length > 0) {
        // Mac Roman has one byte per character; a character outside it fails the conversion.
        text = new char[size_t(length) + 1];
        if (!CFStringGetCString(string, text, length + 1, kCFStringEncodingMacRoman)) {
            delete[] text;
            text = nullptr;
        }
    }
    if (release) CFRelease(string);
    return 0;
}

CFStringRef Kelvo_Utils::CStringToCFString(const char* text) {
    if (!text) return nullptr;
    return CFStringCreateWithCString(kCFAllocatorDefault, text, kCFStringEncodingMacRoman);
}

CFTypeRef Kelvo_Utils::CFDictGetValue(CFTypeRef dictionary, CFTypeRef key, int32_t& error) {
    error = 0;
    if (!dictionary || CFGetTypeID(dictionary) != CFDictionaryGetTypeID()) {
        error = paramErr;
        return nullptr;
    }
    const void* value = CFDictionaryGetValue(static_cast<CFDictionaryRef>(dictionary), key);
    if (!value) {
        error = kKelvoNotFound;
        return nullptr;
    }
    return static_cast<CFTypeRef>(value);
}

int32_t Kelvo_Utils::CFDictSetValue(CFTypeRef dictionary, CFTypeRef key, CFTypeRef value) {
    // A null value would be refused by the dictionary: report it instead of claiming success.
    if (!dictionary || CFGetTypeID(dictionary) != CFDictionaryGetTypeID() || !key || !value) return paramErr;
    auto* dict = const_cast<CFLiteDictionary*>(static_cast<CFDictionaryRef>(dictionary));
    CFDictionarySetValue(dict, key, value);
    return 0;
}

int64_t Kelvo_Utils::ConvertWideToSInt64(const wide& w) {
    return int64_t((uint64_t(uint32_t(w.hi)) << 32) | w.lo);
}

wide Kelvo_Utils::ConvertSInt64ToWide(int64_t v) {
    wide w;
    w.lo = uint32_t(uint64_t(v));
    w.hi = int32_t(uint32_t(uint64_t(v) >> 32));
    return w;
}

RGBColor& Kelvo_Utils::EndianRGBColorNtoB(RGBColor& color) {
    color.red = EndianU16_NtoB(color.red);
    color.green = EndianU16_NtoB(color.green);
    color.blue = EndianU16_NtoB(color.blue);
    return color;
}

int32_t Kelvo_Utils::HandleToCString(Handle handle, char*& text) {
    if (!handle) return paramErr;
    // Read through a terminated copy instead of appending a zero byte to the caller's handle.
    Size size = *handle ? GetHandleSize(handle) : 0;
    char* out = new char[size_t(size) + 1];
    if (size > 0) std::memcpy(out, *handle, size_t(size));
    out[size] = 0;
    text = out;
    return 0;
}

Handle Kelvo_Utils::HandleCopy(const char* data, uint32_t size, int32_t& error) {
    if (!data) {
        error = memFullErr;
        return nullptr;
    }
    if (size > uint32_t(INT32_MAX)) {
        error = paramErr;
        return nullptr;
    }
    Handle h = nullptr;
    error = PtrToHand(data, &h, Size(size));
    return h;
}

Handle Kelvo_Utils::HandleCopy(Handle handle, int32_t& error) {
    if (!handle || !*handle) {
        error = memFullErr;
        return nullptr;
    }
    SInt8 state = HGetState(handle);
    HLock(handle);
    Handle copy = handle;
    error = HandToHand(&copy);
    HSetState(handle, state);
    if (error != noErr) return nullptr;
    return copy;
}

Movie Kelvo_Utils::MovieCopy(Movie movie, int32_t& error, bool resetMatrix) {
    if (!movie) {
        error = invalidMovie;
        return nullptr;
    }
    Handle h = NewHandle(4);
    if (!h) {
        error = memFullErr;
        return nullptr;
    }
    Movie copy = nullptr;
    error = PutMovieIntoHandle(movie, h);
    if (error == noErr) {
        Boolean yes = true;
        Boolean active = GetMovieActive(movie);
        void* noContext = nullptr;
        QTNewMoviePropertyElement props[] = {
            {FOUR_CHAR_CODE("dloc"), FOUR_CHAR_CODE("rezh"), sizeof(Handle), &h, 0},
            {FOUR_CHAR_CODE("mins"), FOUR_CHAR_CODE("rdrn"), 1, &yes, 0},
            {FOUR_CHAR_CODE("mins"), FOUR_CHAR_CODE("aurn"), 1, &yes, 0},
            {FOUR_CHAR_CODE("mprp"), FOUR_CHAR_CODE("actv"), 1, &active, 0},
            {FOUR_CHAR_CODE("mprp"), FOUR_CHAR_CODE("intn"), 1, &yes, 0},
            {FOUR_CHAR_CODE("audi"), FOUR_CHAR_CODE("aucp"), 1, &yes, 0},
            {FOUR_CHAR_CODE("ctxt"), FOUR_CHAR_CODE("visu"), sizeof(void*), &noContext, 0},
        };
        error = NewMovieFromProperties(7, props, 0, nullptr, &copy);
        if (copy && resetMatrix) {
            SetMovieMatrix(copy, nullptr);
            for (int32_t i = 1;; ++i) {
                Track track = GetMovieIndTrackType(copy, i, FOUR_CHAR_CODE("eyes"), 2);
                if (!track) break;
                SetTrackMatrix(track, nullptr);
            }
        }
    }
    DisposeHandle(h);
    return copy;
}

void Kelvo_Utils::initUID(char* text) {
    if (!text) return;
    std::memset(text, 0, 33);
    std::time_t now = std::time(nullptr);
    std::tm local{};
    int n = 0;
    if (localtime_r(&now, &local)) {
        n = std::snprintf(text, 37, "%d%02d%02d%02d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                          local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
        if (n < 0 || n > 14) n = 14;
    }
    // Two 31-bit halves of the process's unique sequence: identifiers of the same second differ
    // without reseeding anyone's random generator.
    uint64_t u = platform::nextUniqueU64();
    std::snprintf(text + n, size_t(37 - n), ".%ld.%ld", long((u >> 31) & 0x7FFFFFFF), long(u & 0x7FFFFFFF));
}
