// The PNG engine, over libpng. libpng reports errors by longjmp from its error handler: every
// call into libpng that may fail runs inside one of the small step functions below, which set
// the jump target and hold nothing with a destructor, so that a jump never crosses a C++ frame
// that owns anything. The handlers are silent; every failure becomes a status.
#include "PlatformCodecEnginesInternal.h"
#include "PlatformEndian.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <new>

namespace platform::codec::detail {

namespace {

// ---------------------------------------------------------------------------------------------
// libpng callbacks

[[noreturn]] void failSilently(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void ignoreWarning(png_structp, png_const_charp) {}

struct MemoryReader {
    const uint8_t* data;
    size_t size;
    size_t position;
};

void readFromMemory(png_structp png, png_bytep out, size_t count) {
    auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
    if (count > reader->size - reader->position) png_error(png, "truncated");
    std::memcpy(out, reader->data + reader->position, count);
    reader->position += count;
}

// A growing buffer in C memory: libpng calls the writer from C frames, where nothing may throw.
struct MemoryWriter {
    uint8_t* data = nullptr;
    size_t size = 0;
    size_t capacity = 0;
    MemoryWriter() = default;
    MemoryWriter(const MemoryWriter&) = delete;
    MemoryWriter& operator=(const MemoryWriter&) = delete;
    ~MemoryWriter() { std::free(data); }
};

void writeToMemory(png_structp png, png_bytep in, size_t count) {
    auto* writer = static_cast<MemoryWriter*>(png_get_io_ptr(png));
    if (count > writer->capacity - writer->size) {
        size_t capacity = writer->capacity ? writer->capacity : 4096;
        while (capacity - writer->size < count) {
            if (capacity > SIZE_MAX / 2) png_error(png, "too large");
            capacity *= 2;
        }
        void* grown = std::realloc(writer->data, capacity);
        if (!grown) png_error(png, "out of memory");
        writer->data = static_cast<uint8_t*>(grown);
        writer->capacity = capacity;
    }
    std::memcpy(writer->data + writer->size, in, count);
    writer->size += count;
}

void flushNothing(png_structp) {}

// ---------------------------------------------------------------------------------------------
// Reading

// libpng's read structures, destroyed with the frame that made them.
struct ReadSession {
    png_structp png = nullptr;
    png_infop info = nullptr;
    MemoryReader reader{};

    ReadSession(const uint8_t* data, size_t size) : reader{data, size, 0} {
        png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, failSilently, ignoreWarning);
        if (!png) return;
        info = png_create_info_struct(png);
        png_set_read_fn(png, &reader, readFromMemory);
        // Any size the format allows reaches our own check, which tells a picture too large
        // (codecSizeErr) from a malformed header.
        png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    }
    ReadSession(const ReadSession&) = delete;
    ReadSession& operator=(const ReadSession&) = delete;
    ~ReadSession() {
        if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
    bool ready() const { return png && info; }
};

// The picture's layout after the transforms.
struct ReadLayout {
    uint32_t width;
    uint32_t height;
    int components;
    int bits;
    size_t rowBytes;
};

enum StepResult { kStepDone, kStepLibraryError, kStepTooLarge };

// Reads the chunks before the image data and sets the transforms: palettes and grey below 8 bits
// expand to 8 bits, a tRNS chunk becomes an alpha channel, 16-bit samples come in host order and
// interlaced images are put together.
StepResult readHeader(png_structp png, png_infop info, ReadLayout* layout) {
    if (setjmp(png_jmpbuf(png))) return kStepLibraryError;
    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int depth = 0, colour = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colour, &interlace, nullptr, nullptr);
    // Bound the row buffers that libpng allocates next.
    if (!pictureFits(width, height, 1, 8)) return kStepTooLarge;
    if (colour == PNG_COLOR_TYPE_PALETTE || depth < 8 || png_get_valid(png, info, PNG_INFO_tRNS))
        png_set_expand(png);
    if (depth == 16 && kHostIsLittleEndian) png_set_swap(png);
    if (interlace != PNG_INTERLACE_NONE) png_set_interlace_handling(png);
    png_read_update_info(png, info);
    layout->width = width;
    layout->height = height;
    layout->components = png_get_channels(png, info);
    layout->bits = png_get_bit_depth(png, info);
    layout->rowBytes = png_get_rowbytes(png, info);
    return kStepDone;
}

StepResult readRows(png_structp png, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) return kStepLibraryError;
    png_read_image(png, rows);
    // Through IEND, so that a stream cut after its image data is not taken as whole.
    png_read_end(png, nullptr);
    return kStepDone;
}

// Reads the header into `layout` (fields only). The session is left before the image data.
OSErr readLayout(ReadSession& session, Picture& layout) {
    if (!session.ready()) return memFullErr;
    ReadLayout l{};
    switch (readHeader(session.png, session.info, &l)) {
    case kStepLibraryError:
        return codecBadDataErr;
    case kStepTooLarge:
        return codecSizeErr;
    case kStepDone:
        break;
    }
    if ((l.bits != 8 && l.bits != 16) || l.components < 1 || l.components > 4) return codecUnimpErr;
    if (!pictureFits(l.width, l.height, l.components, l.bits)) return codecSizeErr;
    layout.width = int32_t(l.width);
    layout.height = int32_t(l.height);
    layout.components = l.components;
    layout.bitsPerSample = layout.precision = l.bits;
    if (l.rowBytes != layout.rowBytes()) return codecUnimpErr;
    return noErr;
}

// Whether the IDAT chunks are long enough to hold the image that IHDR announces: deflate expands
// at most 1032 times, so a short stream that announces a large picture is refused before the
// picture is allocated. Chunks the walk cannot follow are left to libpng to judge.
bool imageDataCouldHold(const uint8_t* data, size_t size, const Picture& layout) {
    if (size < 33 || loadBE32(data + 8) != 13 || std::memcmp(data + 12, "IHDR", 4) != 0) return true;
    const unsigned depth = data[24], colour = data[25];
    static constexpr unsigned kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
    const unsigned channels = colour < 7 ? kChannels[colour] : 0;
    uint64_t imageData = 0;
    for (size_t at = 8; size - at >= 12;) {
        const uint32_t length = loadBE32(data + at);
        const uint8_t* type = data + at + 4;
        if (std::memcmp(type, "IDAT", 4) == 0) imageData += std::min<uint64_t>(length, size - at - 8);
        if (std::memcmp(type, "IEND", 4) == 0 || length > size - at - 12) break;
        at += 12 + size_t(length);
    }
    // Both sides are below 2^16: the product stays far inside 64 bits.
    const uint64_t imageBytes = uint64_t(layout.width) * uint64_t(layout.height) * depth * channels / 8;
    return imageBytes <= imageData * 1032 + 4096;
}

bool hasSignature(const uint8_t* data, size_t size) {
    return data && size >= 8 && png_sig_cmp(data, 0, 8) == 0;
}

// ---------------------------------------------------------------------------------------------
// Writing

struct WriteJob {
    uint32_t width;
    uint32_t height;
    int colourType;
    int bits;
    png_bytepp rows;
};

StepResult writeImage(png_structp png, png_infop info, const WriteJob* job) {
    if (setjmp(png_jmpbuf(png))) return kStepLibraryError;
    png_set_IHDR(png, info, job->width, job->height, job->bits, job->colourType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (job->bits == 16 && kHostIsLittleEndian) png_set_swap(png);
    png_write_image(png, job->rows);
    png_write_end(png, info);
    return kStepDone;
}

struct WriteSession {
    png_structp png = nullptr;
    png_infop info = nullptr;

    WriteSession() {
        png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, failSilently, ignoreWarning);
        if (png) info = png_create_info_struct(png);
    }
    WriteSession(const WriteSession&) = delete;
    WriteSession& operator=(const WriteSession&) = delete;
    ~WriteSession() {
        if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
    }
    bool ready() const { return png && info; }
};

} // namespace

OSErr decodePNG(const uint8_t* data, size_t size, Picture& out) {
    out = Picture();
    if (!hasSignature(data, size)) return codecBadDataErr;
    ReadSession session(data, size);
    Picture picture;
    if (OSErr err = readLayout(session, picture)) return err;
    if (!imageDataCouldHold(data, size, picture)) return codecBadDataErr;
    std::vector<png_bytep> rows;
    try {
        picture.samples.resize(picture.rowBytes() * size_t(picture.height));
        rows.resize(size_t(picture.height));
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    for (size_t y = 0; y < rows.size(); ++y)
        rows[y] = picture.samples.data() + y * picture.rowBytes();
    if (readRows(session.png, rows.data()) != kStepDone) return codecBadDataErr;
    out = std::move(picture);
    return noErr;
}

OSErr decodePNGInto(const uint8_t* data, size_t size, const RowTarget& target) {
    if (!hasSignature(data, size)) return codecBadDataErr;
    ReadSession session(data, size);
    Picture layout;
    if (OSErr err = readLayout(session, layout)) return err;
    if (target.layout != RowLayout::RGB24 || layout.components != 3 || layout.bitsPerSample != 8)
        return codecUnimpErr;
    if (target.width != layout.width || target.height != layout.height) return codecBadDataErr;
    if (!imageDataCouldHold(data, size, layout)) return codecBadDataErr;
    std::vector<png_bytep> rows;
    try {
        rows.resize(size_t(layout.height));
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    for (size_t y = 0; y < rows.size(); ++y)
        rows[y] = target.base + y * target.rowBytes;
    return readRows(session.png, rows.data()) == kStepDone ? noErr : codecBadDataErr;
}

OSErr inspectPNG(const uint8_t* data, size_t size, Picture& layout) {
    layout = Picture();
    if (!hasSignature(data, size)) return codecBadDataErr;
    ReadSession session(data, size);
    Picture picture;
    if (OSErr err = readLayout(session, picture)) return err;
    layout = std::move(picture);
    return noErr;
}

// PNG is lossless: the quality is not consulted. Samples are written as they are (a picture of
// fewer significant bits than its storage keeps its values).
OSErr encodePNG(const Picture& in, const EncodeOptions&, std::vector<uint8_t>& out) {
    out.clear();
    if (!in.isConsistent()) return paramErr;
    static constexpr int kColourTypes[] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB,
                                           PNG_COLOR_TYPE_RGB_ALPHA};
    WriteSession session;
    if (!session.ready()) return memFullErr;
    MemoryWriter writer;
    png_set_write_fn(session.png, &writer, writeToMemory, flushNothing);
    std::vector<png_bytep> rows;
    try {
        rows.resize(size_t(in.height));
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    // libpng copies each row before transforming it: the caller's samples are not written to.
    auto* samples = const_cast<uint8_t*>(in.samples.data());
    for (size_t y = 0; y < rows.size(); ++y)
        rows[y] = samples + y * in.rowBytes();
    const WriteJob job{uint32_t(in.width), uint32_t(in.height), kColourTypes[in.components - 1],
                       in.bitsPerSample, rows.data()};
    if (writeImage(session.png, session.info, &job) != kStepDone) return memFullErr;
    try {
        out.assign(writer.data, writer.data + writer.size);
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    return noErr;
}

} // namespace platform::codec::detail
