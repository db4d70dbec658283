// The image base class, its factory and the raw image file.
#include "KelvoImageBase.h"

#include "KelvoCoreObjectsUtils.h"
#include "KelvoImage.h"
#include "PlatformFiles.h"

#include <cstring>
#include <new>

namespace {

constexpr int32_t kBadArgument = -50;
constexpr int32_t kNoMemory = -108;
// The largest edge an image can have: its bounds are a 16-bit rectangle.
constexpr uint32_t kLargestEdge = 32767;

uint32_t readBig32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

uint16_t readBig16(const uint8_t* p) {
    return uint16_t(uint32_t(p[0]) << 8 | p[1]);
}

void putBig32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

void putBig16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}

// The bytes from `position` to the end of the stream, or -1 when the stream cannot seek; the
// stream is left at the end.
int64_t bytesAfter(FILE* stream, int64_t position) {
    if (fseeko(stream, 0, SEEK_END) != 0) return -1;
    const int64_t end = ftello(stream);
    if (end < 0 || position > end) return -1;
    return end - position;
}

// Reads `count` bytes at `position`; false when they could not all be read.
bool readAt(FILE* stream, int64_t position, void* out, uint64_t count) {
    if (fseeko(stream, position, SEEK_SET) != 0) return false;
    return std::fread(out, 1, size_t(count), stream) == size_t(count);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The base

Kelvo_Image::Kelvo_Image() = default;

Kelvo_Image::~Kelvo_Image() = default;

bool Kelvo_Image::qtObjIsValid() {
    return pixelFormat() != 0 && buffer() != nullptr;
}

bool Kelvo_Image::qtObjIsValid() const {
    return pixelFormat() != 0 && buffer() != nullptr;
}

void* Kelvo_Image::qtObjReference() {
    return buffer();
}

void Kelvo_Image::defaultStatus() {
    _width = _height = 0;
    _displayQuality = kDefaultDisplayQuality;
    deleteDataBuffer();
}

bool Kelvo_Image::isA(const char* name) const {
    if (!name) return false;
    return std::strcmp(name, qtObjName()) == 0 || std::strcmp(name, "Kelvo_QTObj") == 0 ||
           std::strcmp(name, "Kelvo_Image") == 0;
}

const Kelvo_Size& Kelvo_Image::size() const {
    _size(double(_width), double(_height));
    return _size;
}

void Kelvo_Image::image(Kelvo_QDGWorldBuffer* world) {
    initWithQDContext(world);
}

void Kelvo_Image::swapBytes() {}

// ---------------------------------------------------------------------------------------------
// The factory

uint32_t Kelvo_Image::bytesPerPixelOf(uint32_t pixelFormat) {
    switch (pixelFormat) {
    case kMonochrome:
    case kGrey:
        return 1;
    case kGrey16:
        return 2;
    case kRGB:
        return 3;
    case kARGB:
    case kGreyFloat:
        return 4;
    default:
        return 0;
    }
}

Kelvo_Image* Kelvo_Image::create(const Kelvo_OSType& pixelFormat, Kelvo_Size* size) {
    Kelvo_Image* image = nullptr;
    switch (pixelFormat.getOSType()) {
    case kMonochrome:
        image = new (std::nothrow) Kelvo_Image8BitMonochrome;
        break;
    case kRGB:
        image = new (std::nothrow) Kelvo_ImageRGB;
        break;
    case kARGB:
        image = new (std::nothrow) Kelvo_ImageARGB;
        break;
    case kGrey:
        image = new (std::nothrow) Kelvo_Image8BitGrey;
        break;
    case kGrey16:
        image = new (std::nothrow) Kelvo_Image16BitGrey;
        break;
    case kGreyFloat:
        image = new (std::nothrow) Kelvo_Image8BitGreyFloat;
        break;
    default:
        return nullptr;
    }
    if (!image || !size) return image;
    image->newImageData(*size, nullptr);
    int32_t status = 0;
    Kelvo_QTObj::isValidInstance(image, status, true);
    return image;
}

namespace {

template <class C> Kelvo_Image* unclearedImage(const Kelvo_Size& size) {
    auto* image = new (std::nothrow) C;
    if (image) image->newImageDataUncleared(size);
    return image;
}

} // namespace

Kelvo_Image* Kelvo_Image::createUncleared(const Kelvo_OSType& pixelFormat, const Kelvo_Size& size) {
    Kelvo_Image* image = nullptr;
    switch (pixelFormat.getOSType()) {
    case kMonochrome:
        image = unclearedImage<Kelvo_Image8BitMonochrome>(size);
        break;
    case kRGB:
        image = unclearedImage<Kelvo_ImageRGB>(size);
        break;
    case kARGB:
        image = unclearedImage<Kelvo_ImageARGB>(size);
        break;
    case kGrey:
        image = unclearedImage<Kelvo_Image8BitGrey>(size);
        break;
    case kGrey16:
        image = unclearedImage<Kelvo_Image16BitGrey>(size);
        break;
    case kGreyFloat:
        image = unclearedImage<Kelvo_Image8BitGreyFloat>(size);
        break;
    default:
        return nullptr;
    }
    if (!image) return nullptr;
    int32_t status = 0;
    Kelvo_QTObj::isValidInstance(image, status, true);
    return image;
}

Kelvo_Image* Kelvo_Image::createWithQDContext(const Kelvo_QDGWorldBuffer& world,
                                              const Kelvo_OSType& pixelFormat, Kelvo_Size* size) {
    Kelvo_Image* image = create(pixelFormat, size);
    if (!image) return nullptr;
    image->initWithQDContext(const_cast<Kelvo_QDGWorldBuffer*>(&world));
    // A world whose pixels could not be read gives no image, not one of zeros.
    if (image->Error() != 0) {
        delete image;
        return nullptr;
    }
    int32_t status = 0;
    Kelvo_QTObj::isValidInstance(image, status, true);
    return image;
}

Kelvo_Image* Kelvo_Image::createWithData(const Kelvo_OSType& pixelFormat, const Kelvo_Size& size,
                                         const void* data) {
    Kelvo_Image* image = create(pixelFormat, nullptr);
    if (!image) return nullptr;
    image->newImageData(size, const_cast<void*>(data));
    int32_t status = 0;
    Kelvo_QTObj::isValidInstance(image, status, true);
    return image;
}

Kelvo_Image* Kelvo_Image::duplicate(const Kelvo_Image* source, int32_t& status) {
    auto* given = const_cast<Kelvo_Image*>(source);
    if (!Kelvo_QTObj::isValidInstance(given, status, false)) {
        status = kKelvoNothingToWorkOn;
        return nullptr;
    }
    Kelvo_Image* image = create(Kelvo_OSType(source->pixelFormat()), nullptr);
    if (!image) return nullptr;
    image->copy(*given);
    Kelvo_QTObj::isValidInstance(image, status, true);
    return image;
}

// ---------------------------------------------------------------------------------------------
// The raw image file

void Kelvo_Image::setImageHeader(Kelvo_ImageHeader& header) {
    std::memcpy(header.signature, magicNumber, 4);
    header.version = version;
    header.headerSize = kHeaderSize;
    header.width = _width;
    header.height = _height;
    header.bufferSize = bufferSize();
    header.pixelFormat = pixelFormat();
    const uint16_t bits = uint16_t(depth());
    header.bytesPerPixel = uint16_t((bits & 0xFFF8) >> 3);
    header.depth = bits;
    header.reserved[0] = header.reserved[1] = 0;
}

void Kelvo_Image::write(const char* path, uint8_t rawOnly) {
    _status = 0;
    if (!qtObjIsValid()) return;
    if (!path) {
        _status = paramErr;
        return;
    }
    // Written beside the destination and put in place whole.
    PlatformSafeFile file;
    if (file.open(path) != noErr) {
        _status = kKelvoCannotOpenForWriting;
        return;
    }
    Kelvo_ImageHeader header{};
    setImageHeader(header);
    if (!rawOnly) {
        uint8_t bytes[kHeaderSize] = {};
        std::memcpy(bytes, header.signature, 4);
        putBig32(bytes + 4, header.version);
        putBig32(bytes + 8, header.headerSize);
        putBig32(bytes + 12, header.width);
        putBig32(bytes + 16, header.height);
        putBig32(bytes + 20, header.bufferSize);
        putBig32(bytes + 24, header.pixelFormat);
        putBig16(bytes + 28, header.bytesPerPixel);
        putBig16(bytes + 30, header.depth);
        file.write(bytes, kHeaderSize);
    }
    file.write(buffer(), bufferSize());
    if (file.commit() != noErr) _status = kKelvoCannotOpenForWriting;
}

int32_t Kelvo_Image::readImageHeader(const char* path, FILE** stream, Kelvo_ImageHeader& header) {
    int32_t status = 0;
    if (stream) *stream = nullptr;
    FILE* file = Kelvo_NewFileStream(path, "rb", status);
    if (!file) return status;
    uint8_t bytes[kHeaderSize];
    // A file shorter than its header is not a raw image file.
    if (std::fread(bytes, 1, kHeaderSize, file) != kHeaderSize || std::memcmp(bytes, magicNumber, 4) != 0) {
        std::fclose(file);
        return kKelvoWrongFileFormat;
    }
    std::memcpy(header.signature, bytes, 4);
    header.version = readBig32(bytes + 4);
    header.headerSize = readBig32(bytes + 8);
    header.width = readBig32(bytes + 12);
    header.height = readBig32(bytes + 16);
    header.bufferSize = readBig32(bytes + 20);
    header.pixelFormat = readBig32(bytes + 24);
    header.bytesPerPixel = readBig16(bytes + 28);
    header.depth = readBig16(bytes + 30);
    header.reserved[0] = readBig32(bytes + 32);
    header.reserved[1] = readBig32(bytes + 36);
    // The first files numbered 8-bit grey 1 and float grey 2.
    if (header.version <= 1) {
        if (header.pixelFormat == 1)
            header.pixelFormat = kGrey;
        else if (header.pixelFormat == 2)
            header.pixelFormat = kGreyFloat;
    }
    if (stream)
        *stream = file;
    else
        std::fclose(file);
    return 0;
}

bool Kelvo_Image::isValidFile(const char* path) {
    int32_t status = 0;
    FILE* file = Kelvo_NewFileStream(path, "rb", status);
    if (!file) return false;
    char signature[4];
    const bool read = std::fread(signature, 1, 4, file) == 4;
    std::fclose(file);
    return read && std::memcmp(signature, magicNumber, 4) == 0;
}

Kelvo_Image* Kelvo_Image::open(const char* path, int32_t& status) {
    FILE* stream = nullptr;
    Kelvo_ImageHeader header{};
    status = readImageHeader(path, &stream, header);
    if (!stream) return nullptr;
    const uint32_t pixelBytes = bytesPerPixelOf(header.pixelFormat);
    if (pixelBytes == 0) {
        std::fclose(stream);
        status = kKelvoNothingToWorkOn;
        return nullptr;
    }
    // The header's sizes are checked against each other and against the file before anything
    // is allocated: a header that claims more pixels than follow it is refused.
    const uint64_t count = uint64_t(header.width) * header.height * pixelBytes;
    if (header.width == 0 || header.height == 0 || header.width > kLargestEdge ||
        header.height > kLargestEdge || count != header.bufferSize ||
        bytesAfter(stream, kHeaderSize) < int64_t(count)) {
        std::fclose(stream);
        status = kKelvoWrongFileFormat;
        return nullptr;
    }
    Kelvo_Size size(header.width, header.height);
    Kelvo_Image* image = create(Kelvo_OSType(header.pixelFormat), &size);
    if (!image || !image->qtObjIsValid()) {
        std::fclose(stream);
        status = image && image->Error() != 0 ? image->Error() : kKelvoNothingToWorkOn;
        delete image;
        return nullptr;
    }
    const bool read = readAt(stream, kHeaderSize, image->buffer(), count);
    std::fclose(stream);
    if (!read) {
        status = kKelvoCannotOpenForReading;
        delete image;
        return nullptr;
    }
    return image;
}

Kelvo_Image* Kelvo_Image::createWithBinaryFile(const char* path, const Kelvo_OSType& pixelFormat,
                                               const Kelvo_Size& size, int64_t offset) {
    const uint32_t pixelBytes = bytesPerPixelOf(pixelFormat.getOSType());
    const Kelvo_Rect bounds(size);
    if (pixelBytes == 0 || !size.qtObjIsValid() || !bounds.qtObjIsValid() || offset < 0) return nullptr;
    int32_t status = 0;
    FILE* stream = Kelvo_NewFileStream(path, "rb", status);
    if (!stream) return nullptr;
    const uint64_t count = uint64_t(bounds.width()) * uint64_t(bounds.height()) * pixelBytes;
    if (bytesAfter(stream, offset) < int64_t(count)) {
        std::fclose(stream);
        return nullptr;
    }
    Kelvo_Size whole(bounds.width(), bounds.height());
    Kelvo_Image* image = create(pixelFormat, &whole);
    if (image && (!image->qtObjIsValid() || !readAt(stream, offset, image->buffer(), count))) {
        delete image;
        image = nullptr;
    }
    std::fclose(stream);
    return image;
}

void Kelvo_Image::image(FILE* stream, uint32_t width, uint32_t height, int64_t* position,
                        uint8_t closeStream) {
    defaultStatus();
    _status = 0;
    if (!stream || !position || width == 0 || height == 0 || width > kLargestEdge || height > kLargestEdge ||
        *position < 0) {
        _status = kBadArgument;
        if (stream && closeStream) std::fclose(stream);
        return;
    }
    const uint64_t count = uint64_t(width) * height * bytesPerPixelOf(pixelFormat());
    if (bytesAfter(stream, *position) < int64_t(count)) {
        _status = kKelvoWrongFileFormat;
    } else {
        newImageData(Kelvo_Size(width, height), nullptr);
        if (qtObjIsValid()) {
            if (!readAt(stream, *position, buffer(), count)) _status = kKelvoCannotOpenForReading;
        } else if (_status == 0) {
            _status = kNoMemory;
        }
    }
    if (closeStream) std::fclose(stream);
}
