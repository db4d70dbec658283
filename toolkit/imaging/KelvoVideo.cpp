#include "KelvoVideo.h"

#include "PlatformPixelFormats.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr Fixed k72dpi = 72 << 16;

// A box in buffer coordinates.
struct Span {
    int32_t left, top, right, bottom;
    bool empty() const { return right <= left || bottom <= top; }
};

// Zeroes the bytes of `area` (already within the buffer). Pixels narrower than a byte are cleared
// bit by bit; planar pixels plane by plane.
void zeroArea(Ptr base, int32_t rowBytes, uint32_t pixelFormat, int32_t bufferWidth, const Span& area) {
    const platform::PixelFormatInfo* info = platform::pixelFormatInfo(pixelFormat);
    if (!base || !info || area.empty()) return;
    const int64_t bits = info->bitsPerPixel;
    for (int32_t y = area.top; y < area.bottom; ++y) {
        auto* row = reinterpret_cast<uint8_t*>(base) + ptrdiff_t(y) * rowBytes;
        if (info->layout == platform::PixelLayout::PlanarRGB) {
            for (int plane = 0; plane < 3; ++plane)
                std::memset(row + ptrdiff_t(plane) * bufferWidth + area.left, 0,
                            size_t(area.right - area.left));
            continue;
        }
        int64_t first = area.left * bits, last = area.right * bits; // bit positions [first, last)
        while (first < last && (first & 7) != 0) {
            row[first >> 3] = uint8_t(row[first >> 3] & ~(0x80u >> (first & 7)));
            ++first;
        }
        while (first < last && (last & 7) != 0) {
            --last;
            row[last >> 3] = uint8_t(row[last >> 3] & ~(0x80u >> (last & 7)));
        }
        if (first < last) std::memset(row + (first >> 3), 0, size_t((last - first) >> 3));
    }
}

// The part of `rect` to erase: all of `bounds` for null, nothing for an empty rectangle, else
// the rectangle within the bounds.
Span eraseArea(const Kelvo_Rect& bounds, const Kelvo_Rect* rect) {
    const Span all{0, 0, bounds.width(), bounds.height()};
    if (!rect) return all;
    if (!rect->qtObjIsValid()) return Span{0, 0, 0, 0};
    return Span{std::max(all.left, int32_t(rect->left())), std::max(all.top, int32_t(rect->top())),
                std::min(all.right, int32_t(rect->right())), std::min(all.bottom, int32_t(rect->bottom()))};
}

// A world over the pixels of `rect`; status -50 when the rectangle is not within the buffer or
// does not start on a pixel the world can address (planar pixels, part of a byte, half of a 4:2:2
// pair).
GWorldPtr worldOver(Ptr base, int32_t rowBytes, uint32_t pixelFormat, const Kelvo_Rect& bounds,
                    Kelvo_Rect& rect, CTabHandle table, int32_t& status) {
    const platform::PixelFormatInfo* info = platform::pixelFormatInfo(pixelFormat);
    Kelvo_Rect all(bounds.width(), bounds.height());
    if (!base || !info || !rect.qtObjIsValid() || !rect.isInRect(all, false) ||
        info->layout == platform::PixelLayout::PlanarRGB ||
        (int64_t(rect.left()) * info->bitsPerPixel) % 8 != 0 ||
        ((info->layout == platform::PixelLayout::YCbCr422 ||
          info->layout == platform::PixelLayout::YCbCr422Wide) &&
         (rect.left() & 1))) {
        status = paramErr;
        return nullptr;
    }
    Ptr start =
        base + ptrdiff_t(rect.top()) * rowBytes + ptrdiff_t(int64_t(info->bitsPerPixel) * rect.left() / 8);
    const Rect worldBounds{0, 0, int16_t(rect.height()), int16_t(rect.width())};
    GWorldPtr world = nullptr;
    status = QTNewGWorldFromPtr(&world, pixelFormat, &worldBounds, table, nullptr, 0, start, rowBytes);
    return status == noErr ? world : nullptr;
}

void keepPixels(void*, const void*) {}

// Releases the pixel buffer that a CG data provider or context kept alive.
void releaseProviderBuffer(void* info, const void*, size_t) {
    CVPixelBufferRelease(static_cast<CVPixelBufferRef>(info));
}
void releaseContextBuffer(void* info, void*) {
    CVPixelBufferRelease(static_cast<CVPixelBufferRef>(info));
}

// A provider over `size` bytes of the buffer, keeping it alive.
CGDataProviderRef providerOver(CVPixelBufferRef buffer, size_t size) {
    CVPixelBufferRetain(buffer);
    CGDataProviderRef provider = CGDataProviderCreateWithData(buffer, CVPixelBufferGetBaseAddress(buffer),
                                                              size, releaseProviderBuffer);
    if (!provider) CVPixelBufferRelease(buffer);
    return provider;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Kelvo_QDGWorldBuffer

Kelvo_QDGWorldBuffer::Kelvo_QDGWorldBuffer(uint32_t pixelFormat) : KelvoVideoBufferT(pixelFormat) {}

Kelvo_QDGWorldBuffer::Kelvo_QDGWorldBuffer(int32_t width, int32_t height, uint32_t pixelFormat)
    : KelvoVideoBufferT(pixelFormat) {
    init(width, height);
}

Kelvo_QDGWorldBuffer::Kelvo_QDGWorldBuffer(const Kelvo_Rect& bounds, uint32_t pixelFormat)
    : KelvoVideoBufferT(pixelFormat) {
    init(bounds.width(), bounds.height());
}

Kelvo_QDGWorldBuffer::Kelvo_QDGWorldBuffer(GWorldPtr world, bool copy) : KelvoVideoBufferT(0) {
    if (!world) return;
    if (copy) {
        copyBuffer(world);
        return;
    }
    PixMapHandle pm = GetGWorldPixMap(world);
    if (!pm) {
        _status = paramErr;
        return;
    }
    _buffer = world;
    _pixMap = pm;
    _borrowed = true;
    _pixelFormat = (*pm)->pixelFormat ? (*pm)->pixelFormat : uint32_t((*pm)->pixelSize);
    Rect port{};
    GetPortBounds(world, &port);
    _bounds = Kelvo_Rect(int32_t(port.right) - port.left, int32_t(port.bottom) - port.top);
}

Kelvo_QDGWorldBuffer::~Kelvo_QDGWorldBuffer() {
    Kelvo_QDGWorldBuffer::releaseBuffer();
}

bool Kelvo_QDGWorldBuffer::isA(const char* name) const {
    return KelvoVideoBufferT::isA(name) || (name && std::strcmp(name, "Kelvo_QDGWorldBuffer") == 0);
}

Kelvo_QTObj* Kelvo_QDGWorldBuffer::clone() {
    if (!qtObjIsValid()) return nullptr;
    auto* copy = new (std::nothrow) Kelvo_QDGWorldBuffer(_buffer, true);
    if (copy && !copy->qtObjIsValid()) {
        _status = copy->Error();
        delete copy;
        return nullptr;
    }
    return copy;
}

GWorldPtr Kelvo_QDGWorldBuffer::allocSubGWorld(Kelvo_Rect& rect) {
    disposeSubWorld();
    if (!qtObjIsValid()) {
        _status = paramErr;
        return nullptr;
    }
    _subWorld =
        worldOver(baseAddress(), rowBytes(), _pixelFormat, _bounds, rect, (*_pixMap)->pmTable, _status);
    return _subWorld;
}

int32_t Kelvo_QDGWorldBuffer::allocQTDescription() {
    disposeDescription();
    _status = MakeImageDescriptionForPixMap(_pixMap, &_description);
    return _status;
}

void Kelvo_QDGWorldBuffer::releaseBuffer() {
    deletePixelBuffer();
    disposeSubWorld();
    if (_cgContext) stopCGContextWrapping();
    disposeDescription();
    if (_buffer && !_borrowed) {
        if (bufferLocked()) UnlockPixels(_pixMap);
        DisposeGWorld(_buffer);
    }
    _buffer = nullptr;
    _pixMap = nullptr;
    _borrowed = false;
}

int32_t Kelvo_QDGWorldBuffer::allocBuffer() {
    if (qtObjIsValid()) releaseBuffer();
    GWorldPtr world = nullptr;
    _status = QTNewGWorld(&world, _pixelFormat, _bounds.rPtr(), nullptr, nullptr, 0);
    if (_status == noErr && world) {
        _buffer = world;
        _pixMap = GetGWorldPixMap(world);
        LockPixels(_pixMap);
    }
    return _status;
}

int16_t Kelvo_QDGWorldBuffer::depth() const {
    return qtObjIsValid() && _pixelFormat ? QTGetPixelFormatDepthForImageDescription(_pixelFormat) : 0;
}

int64_t Kelvo_QDGWorldBuffer::bufferSize() const {
    return _pixMap ? int64_t(rowBytes()) * height() : 0;
}

Ptr Kelvo_QDGWorldBuffer::baseAddress() const {
    return qtObjIsValid() ? GetPixBaseAddr(_pixMap) : nullptr;
}

bool Kelvo_QDGWorldBuffer::bufferLocked() const {
    return qtObjIsValid() && (GetPixelsState(_pixMap) & pixelsLocked) != 0;
}

int32_t Kelvo_QDGWorldBuffer::rowBytes() const {
    return _pixMap ? QTGetPixMapHandleRowBytes(_pixMap) : 0;
}

int16_t Kelvo_QDGWorldBuffer::bitsPerPixel() const {
    return qtObjIsValid() && _pixelFormat ? QTGetPixelSize(_pixelFormat) : 0;
}

int32_t Kelvo_QDGWorldBuffer::erase(Kelvo_Rect* rect) {
    if (!qtObjIsValid()) return _status;
    zeroArea(baseAddress(), rowBytes(), _pixelFormat, width(), eraseArea(_bounds, rect));
    _status = noErr;
    return _status;
}

int32_t Kelvo_QDGWorldBuffer::copyBuffer(GWorldPtr source) {
    PixMapHandle sourceMap = GetGWorldPixMap(source);
    if (!sourceMap) {
        _status = paramErr;
        return _status;
    }
    // The copy is made before this buffer lets go of its own world, which may be the source (or
    // hold the source's pixels).
    ImageDescriptionHandle desc = nullptr;
    OSErr err = MakeImageDescriptionForPixMap(sourceMap, &desc);
    GWorldPtr world = nullptr;
    if (err == noErr) {
        err = NewImageGWorld(&world, desc, pixelsLocked);
        DisposeHandle(reinterpret_cast<Handle>(desc));
    }
    if (err == noErr) {
        // Row by row: the two worlds may pad their rows differently.
        PixMapHandle map = GetGWorldPixMap(world);
        const int32_t fromRow = GetPixRowBytes(sourceMap), toRow = GetPixRowBytes(map);
        const size_t length = size_t(std::min(fromRow, toRow));
        const char* from = GetPixBaseAddr(sourceMap);
        char* to = GetPixBaseAddr(map);
        const int32_t rows = int32_t((*map)->bounds.bottom) - (*map)->bounds.top;
        for (int32_t y = 0; y < rows; ++y)
            std::memcpy(to + ptrdiff_t(y) * toRow, from + ptrdiff_t(y) * fromRow, length);
    }
    reset();
    _status = err;
    if (err != noErr) return _status;
    _buffer = world;
    _pixMap = GetGWorldPixMap(world);
    _pixelFormat = (*_pixMap)->pixelFormat;
    const Rect& b = (*_pixMap)->bounds;
    _bounds = Kelvo_Rect(int32_t(b.right) - b.left, int32_t(b.bottom) - b.top);
    return _status;
}

Kelvo_CVPixelBuffer* Kelvo_QDGWorldBuffer::toCVPixelBuffer(bool) {
    if (!qtObjIsValid()) return nullptr;
    if (!_pixelBuffer) {
        auto* made = new (std::nothrow) Kelvo_CVPixelBuffer(_pixelFormat);
        if (!made) {
            _status = memFullErr;
            return nullptr;
        }
        made->initWithData(*this, keepPixels, this);
        if (!made->qtObjIsValid()) {
            _status = made->Error();
            delete made;
            return nullptr;
        }
        _pixelBuffer = made;
    }
    CVPixelBufferRetain(_pixelBuffer->buffer());
    ++_pixelBufferRetains;
    return _pixelBuffer;
}

void Kelvo_QDGWorldBuffer::deletePixelBuffer() {
    if (!_pixelBuffer) return;
    for (; _pixelBufferRetains > 0; --_pixelBufferRetains)
        CVPixelBufferRelease(_pixelBuffer->buffer());
    delete _pixelBuffer;
    _pixelBuffer = nullptr;
}

CGContextRef Kelvo_QDGWorldBuffer::startCGContextWrapping() {
    if (_cgContext) return _cgContext;
    if (!qtObjIsValid()) {
        _status = paramErr;
        return nullptr;
    }
    CGContextRef context = nullptr;
    _status = int32_t(QDBeginCGContext(_buffer, &context));
    if (_status == noErr) _cgContext = context;
    return _cgContext;
}

CGContextRef Kelvo_QDGWorldBuffer::stopCGContextWrapping() {
    if (!_cgContext) return nullptr;
    _status = int32_t(QDEndCGContext(_buffer, &_cgContext));
    return _cgContext;
}

// ---------------------------------------------------------------------------------------------
// Kelvo_CVPixelBuffer

Kelvo_CVPixelBuffer::Kelvo_CVPixelBuffer(uint32_t pixelFormat) : KelvoVideoBufferT(pixelFormat) {}

Kelvo_CVPixelBuffer::Kelvo_CVPixelBuffer(int32_t width, int32_t height, uint32_t pixelFormat)
    : KelvoVideoBufferT(pixelFormat) {
    init(width, height);
}

Kelvo_CVPixelBuffer::Kelvo_CVPixelBuffer(const Kelvo_Rect& bounds, uint32_t pixelFormat)
    : KelvoVideoBufferT(pixelFormat) {
    init(bounds.width(), bounds.height());
}

Kelvo_CVPixelBuffer::~Kelvo_CVPixelBuffer() {
    Kelvo_CVPixelBuffer::releaseBuffer();
}

bool Kelvo_CVPixelBuffer::isA(const char* name) const {
    return KelvoVideoBufferT::isA(name) || (name && std::strcmp(name, "Kelvo_CVPixelBuffer") == 0);
}

GWorldPtr Kelvo_CVPixelBuffer::allocSubGWorld(Kelvo_Rect& rect) {
    disposeSubWorld();
    if (!qtObjIsValid()) {
        _status = paramErr;
        return nullptr;
    }
    _subWorld = worldOver(baseAddress(), rowBytes(), _pixelFormat, _bounds, rect, nullptr, _status);
    return _subWorld;
}

int32_t Kelvo_CVPixelBuffer::allocQTDescription() {
    disposeDescription();
    Handle h = NewHandleClear(Size(sizeof(ImageDescription)));
    if (!h) {
        _status = memFullErr;
        return _status;
    }
    auto* d = reinterpret_cast<ImageDescription*>(*h);
    d->idSize = int32_t(sizeof(ImageDescription));
    d->width = int16_t(width());
    d->height = int16_t(height());
    d->depth = depth();
    d->hRes = d->vRes = k72dpi;
    d->clutID = -1;
    d->dataRefIndex = int16_t(-1);
    d->dataSize = int32_t(std::min<int64_t>(bufferSize(), INT32_MAX));
    if (CFDictionaryRef format = formatDescription()) {
        auto codec = static_cast<CFStringRef>(CFDictionaryGetValue(format, kCVPixelFormatCodecType));
        if (codec) d->cType = UTGetOSTypeFromString(codec);
        auto name = static_cast<CFStringRef>(CFDictionaryGetValue(format, kCVPixelFormatName));
        char text[32];
        if (name && CFStringGetCString(name, text, sizeof text, kCFStringEncodingMacRoman)) {
            const size_t length = std::strlen(text);
            d->name[0] = static_cast<unsigned char>(length);
            std::memcpy(d->name + 1, text, length);
        }
    }
    _description = reinterpret_cast<ImageDescriptionHandle>(h);
    _status = noErr;
    return _status;
}

void Kelvo_CVPixelBuffer::releaseBuffer() {
    disposeSubWorld();
    if (_locked) CVPixelBufferUnlockBaseAddress(_buffer, 0);
    _locked = false;
    CVPixelBufferRelease(_buffer);
    _buffer = nullptr;
    disposeDescription();
    if (_formatDescription) CFRelease(_formatDescription);
    _formatDescription = nullptr;
}

int32_t Kelvo_CVPixelBuffer::allocBuffer() {
    if (qtObjIsValid()) releaseBuffer();
    CVPixelBufferRef made = nullptr;
    _status = CVPixelBufferCreate(kCFAllocatorDefault, size_t(width()), size_t(height()), _pixelFormat,
                                  nullptr, &made);
    if (_status == kCVReturnSuccess && made) {
        _buffer = made;
        _locked = CVPixelBufferLockBaseAddress(made, 0) == kCVReturnSuccess;
        formatDescription();
    }
    return _status;
}

int16_t Kelvo_CVPixelBuffer::depth() const {
    return qtObjIsValid() && _pixelFormat ? QTGetPixelFormatDepthForImageDescription(_pixelFormat) : 0;
}

int64_t Kelvo_CVPixelBuffer::bufferSize() const {
    return int64_t(CVPixelBufferGetDataSize(_buffer));
}

Ptr Kelvo_CVPixelBuffer::baseAddress() const {
    return static_cast<Ptr>(CVPixelBufferGetBaseAddress(_buffer));
}

bool Kelvo_CVPixelBuffer::bufferLocked() const {
    return _locked;
}

int32_t Kelvo_CVPixelBuffer::rowBytes() const {
    return int32_t(CVPixelBufferGetBytesPerRow(_buffer));
}

int16_t Kelvo_CVPixelBuffer::bitsPerPixel() const {
    return qtObjIsValid() && _pixelFormat ? QTGetPixelSize(_pixelFormat) : 0;
}

int32_t Kelvo_CVPixelBuffer::erase(Kelvo_Rect* rect) {
    if (!qtObjIsValid()) return _status;
    zeroArea(baseAddress(), rowBytes(), _pixelFormat, width(), eraseArea(_bounds, rect));
    _status = noErr;
    return _status;
}

int32_t Kelvo_CVPixelBuffer::copyBuffer(CVPixelBufferRef source) {
    if (!source) {
        _status = paramErr;
        return _status;
    }
    // Retained before this object lets go of its own buffer, which may be the source.
    const bool isBuffer = CFGetTypeID(source) == CVPixelBufferGetTypeID();
    if (isBuffer) CVPixelBufferRetain(source);
    reset();
    if (!isBuffer) {
        _status = coreFoundationUnknownErr;
        return _status;
    }
    _buffer = source;
    _bounds = Kelvo_Rect(int32_t(CVPixelBufferGetWidth(source)), int32_t(CVPixelBufferGetHeight(source)));
    _pixelFormat = CVPixelBufferGetPixelFormatType(source);
    _locked = CVPixelBufferLockBaseAddress(source, 0) == kCVReturnSuccess;
    _status = noErr;
    return _status;
}

int32_t Kelvo_CVPixelBuffer::initWithData(Kelvo_QDGWorldBuffer& source,
                                          CVPixelBufferReleaseBytesCallback releaseCallback, void* refCon) {
    reset();
    if (!source.qtObjIsValid() || !source.baseAddress()) {
        _status = paramErr;
        return _status;
    }
    CVPixelBufferRef made = nullptr;
    _status = CVPixelBufferCreateWithBytes(
        kCFAllocatorDefault, size_t(source.width()), size_t(source.height()), _pixelFormat,
        source.baseAddress(), size_t(source.rowBytes()), releaseCallback, refCon, nullptr, &made);
    if (_status != kCVReturnSuccess || !made) return _status;
    _buffer = made;
    _bounds = Kelvo_Rect(source.width(), source.height());
    _locked = CVPixelBufferLockBaseAddress(made, 0) == kCVReturnSuccess;
    return _status;
}

CFDictionaryRef Kelvo_CVPixelBuffer::formatDescription() {
    if (!_formatDescription && _pixelFormat)
        _formatDescription =
            CVPixelFormatDescriptionCreateWithPixelFormatType(kCFAllocatorDefault, _pixelFormat);
    return _formatDescription;
}

bool Kelvo_CVPixelBuffer::formatFlag(CFStringRef key) {
    CFDictionaryRef format = formatDescription();
    if (!format) return false;
    auto value = static_cast<CFTypeRef>(CFDictionaryGetValue(format, key));
    return value && CFGetTypeID(value) == CFBooleanGetTypeID() &&
           CFBooleanGetValue(static_cast<CFBooleanRef>(value));
}

bool Kelvo_CVPixelBuffer::isQDCompatible() {
    return formatFlag(kCVPixelFormatQDCompatibility);
}
bool Kelvo_CVPixelBuffer::isCGBitmapContextCompatible() {
    return formatFlag(kCVPixelFormatCGBitmapContextCompatibility);
}
bool Kelvo_CVPixelBuffer::isCGImageCompatible() {
    return formatFlag(kCVPixelFormatCGImageCompatibility);
}
bool Kelvo_CVPixelBuffer::isOpenGLCompatible() {
    return formatFlag(kCVPixelFormatOpenGLCompatibility);
}

CGBitmapInfo Kelvo_CVPixelBuffer::formatBitmapInfo() {
    CFDictionaryRef format = formatDescription();
    int64_t info = 0;
    if (format) {
        auto number = static_cast<CFNumberRef>(CFDictionaryGetValue(format, kCVPixelFormatCGBitmapInfo));
        if (number) CFNumberGetValue(number, kCFNumberSInt64Type, &info);
    }
    return CGBitmapInfo(info);
}

size_t Kelvo_CVPixelBuffer::cgBitsPerComponent(uint32_t pixelFormat) {
    switch (pixelFormat) {
    case k32RGBAPixelFormat:
    case k32BGRAPixelFormat:
    case k32ABGRPixelFormat:
    case k24BGRPixelFormat:
    case k24RGBPixelFormat:
    case k32ARGBPixelFormat:
    case k8IndexedGrayPixelFormat:
        return 8;
    case k16BE555PixelFormat:
        return 5;
    default:
        return 0;
    }
}

bool Kelvo_CVPixelBuffer::cgFormReady(bool compatible, size_t& bitsPerComponent) {
    if (!compatible) {
        _status = kKelvoNothingToWorkOn;
        return false;
    }
    bitsPerComponent = cgBitsPerComponent(_pixelFormat);
    if (bitsPerComponent == 0) {
        _status = paramErr;
        return false;
    }
    return true;
}

CGImageRef Kelvo_CVPixelBuffer::toCGImage() {
    size_t bitsPerComponent = 0;
    if (!qtObjIsValid() || !cgFormReady(isCGImageCompatible(), bitsPerComponent)) return nullptr;
    CGColorSpaceRef space = CGColorSpaceCreateWithName(kCGColorSpaceGenericRGB);
    CGDataProviderRef provider = providerOver(_buffer, size_t(bufferSize()));
    CGImageRef image = nullptr;
    if (space && provider)
        image = CGImageCreate(size_t(width()), size_t(height()), bitsPerComponent, size_t(bitsPerPixel()),
                              size_t(rowBytes()), space, formatBitmapInfo(), provider, nullptr, true,
                              kCGRenderingIntentDefault);
    CGDataProviderRelease(provider);
    CGColorSpaceRelease(space);
    _status = image ? noErr : (space && provider ? paramErr : memFullErr);
    return image;
}

CGContextRef Kelvo_CVPixelBuffer::toCGBitmapContext() {
    size_t bitsPerComponent = 0;
    if (!qtObjIsValid() || !cgFormReady(isCGBitmapContextCompatible(), bitsPerComponent)) return nullptr;
    CGColorSpaceRef space = CGColorSpaceCreateWithName(kCGColorSpaceGenericRGB);
    CGContextRef context = nullptr;
    if (space) {
        CVPixelBufferRetain(_buffer);
        context = CGBitmapContextCreateWithData(baseAddress(), size_t(width()), size_t(height()),
                                                bitsPerComponent, size_t(rowBytes()), space,
                                                formatBitmapInfo(), releaseContextBuffer, _buffer);
        if (!context) CVPixelBufferRelease(_buffer);
    }
    CGColorSpaceRelease(space);
    _status = context ? noErr : (space ? paramErr : memFullErr);
    return context;
}

QTVisualContextRef Kelvo_CVPixelBuffer::toVideoContext() {
    if (!_bounds.qtObjIsValid() || _pixelFormat == 0) {
        _status = paramErr;
        return nullptr;
    }
    CFMutableDictionaryRef attributes = CFDictionaryCreateMutable(
        kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    CFMutableDictionaryRef options = CFDictionaryCreateMutable(
        kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    bool ok = attributes && options;
    const int32_t values[4] = {int32_t(_pixelFormat), width(), height(), 16};
    const CFStringRef keys[4] = {kCVPixelBufferPixelFormatTypeKey, kCVPixelBufferWidthKey,
                                 kCVPixelBufferHeightKey, kCVPixelBufferBytesPerRowAlignmentKey};
    for (int i = 0; ok && i < 4; ++i) {
        CFNumberRef number = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &values[i]);
        if (!number) {
            ok = false;
            break;
        }
        CFDictionarySetValue(attributes, keys[i], number);
        CFRelease(number);
    }
    QTVisualContextRef context = nullptr;
    if (ok) {
        CFDictionarySetValue(options, kQTVisualContextPixelBufferAttributesKey, attributes);
        _status = QTPixelBufferContextCreate(kCFAllocatorDefault, options, &context);
    } else {
        _status = coreFoundationUnknownErr;
    }
    if (attributes) CFRelease(attributes);
    if (options) CFRelease(options);
    return context;
}

// ---------------------------------------------------------------------------------------------

CGImageRef CGImageFromPixelBuffer(CVPixelBufferRef buffer, uint32_t pixelFormat) {
    if (!buffer || pixelFormat == 0) return nullptr;
    size_t bitsPerPixel = 32;
    CGBitmapInfo info = kCGImageAlphaNone;
    CFStringRef spaceName = kCGColorSpaceGenericRGB;
    static const CGFloat kInverted[2] = {1.0f, 0.0f};
    const CGFloat* decode = nullptr;
    switch (pixelFormat) {
    case k32CMYKPixelFormat:
        spaceName = kCGColorSpaceGenericCMYK;
        break;
    case k32BGRAPixelFormat:
        info = kCGImageAlphaFirst | kCGBitmapByteOrder32Little;
        break;
    case k32ARGBPixelFormat:
        info = kCGImageAlphaFirst;
        break;
    case k8IndexedPixelFormat:
    case k8IndexedGrayPixelFormat:
        bitsPerPixel = 8;
        spaceName = kCGColorSpaceGenericGray;
        decode = kInverted;
        break;
    default:
        return nullptr;
    }
    const size_t size = CVPixelBufferGetHeight(buffer) * CVPixelBufferGetBytesPerRow(buffer);
    CGColorSpaceRef space = CGColorSpaceCreateWithName(spaceName);
    CGDataProviderRef provider = providerOver(buffer, size);
    CGImageRef image = nullptr;
    if (space && provider)
        image = CGImageCreate(CVPixelBufferGetWidth(buffer), CVPixelBufferGetHeight(buffer), 8, bitsPerPixel,
                              CVPixelBufferGetBytesPerRow(buffer), space, info, provider, decode, true,
                              kCGRenderingIntentDefault);
    CGDataProviderRelease(provider);
    CGColorSpaceRelease(space);
    return image;
}
