// The codec engines behind the codec registry: each turns one compressed frame into a neutral
// picture (interleaved samples in host byte order) and back. The registry, the sessions and the
// graphics importers and exporters convert between these pictures and pixel maps; the engines
// know nothing of worlds, descriptions or components.
//
// Engines never print, never end the process and never longjmp across a caller's frames: every
// failure of a library is a status. Sizes read from a stream are checked before anything is
// allocated.
#pragma once

#include "PlatformTypes.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Codec statuses, as the image compression manager numbers them.
constexpr OSErr codecErr = -8960;
constexpr OSErr noCodecErr = -8961;
constexpr OSErr codecUnimpErr = -8962;
constexpr OSErr codecSizeErr = -8963;
constexpr OSErr codecBadDataErr = -8969;

namespace platform::codec {

// A picture: `components` interleaved samples a pixel (1 grey, 2 grey + alpha, 3 RGB, 4 RGB +
// alpha, alpha last), `bitsPerSample` 8 or 16 bits of storage (16-bit samples are uint16_t in host
// order), `precision` the significant bits (1..16; samples are right-aligned), rows packed
// without padding: width * components * (bitsPerSample / 8) bytes a row.
struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    int32_t components = 0;
    int32_t bitsPerSample = 8;
    int32_t precision = 8;
    std::vector<uint8_t> samples;

    size_t rowBytes() const { return size_t(width) * size_t(components) * size_t(bitsPerSample / 8); }
    // A picture whose fields and sample count agree.
    bool isConsistent() const;
};

// The largest picture an engine makes: each side at most 65535 pixels and at most 1 GiB of
// samples. Streams announcing more are refused with codecSizeErr before any allocation.
constexpr int32_t kMaxPictureSide = 65535;
constexpr size_t kMaxPictureBytes = size_t(1) << 30;
// Whether a picture of these dimensions stays within those limits.
bool pictureFits(int64_t width, int64_t height, int64_t components, int64_t bitsPerSample);

// Encoding choices. `quality` is 0..1023 in the platform's spatial-quality scale (0 minimum,
// 256 low, 512 normal, 768 high, 1023 maximum, 1024 lossless where the engine can be lossless).
struct EncodeOptions {
    uint32_t quality = 512;
};

// The formats of the engines' streams.
enum class Format : uint32_t {
    JPEG,     // JPEG baseline / extended (8 bits; 12 bits where the library allows): JFIF or bare
    JPEG2000, // a raw J2K codestream (as DICOM fragments hold it) or a JP2 file, told apart by
              // their first bytes
    PNG,
    BMP,
    GIF, // reading only: the first image of the file, composed on its logical screen
};

// What the container of a stream says its colour samples are. JPEG streams carry no reliable word
// of their own (only an Adobe marker is explicit; libjpeg guesses YCbCr for three components
// without one), so the container's word decides:
// - FromStream: the stream's markers, as libjpeg reads them.
// - RGB: samples stored without a colour transform, unless an Adobe marker says otherwise.
// - YCbCr: samples stored as YCbCr, converted to RGB.
// Engines other than JPEG ignore it.
enum class ColourSpace : uint8_t { FromStream, RGB, YCbCr };

struct DecodeOptions {
    ColourSpace colour = ColourSpace::FromStream;
};

// Decodes one frame. `size` bytes at `data`; on success `out` is filled and noErr returned; on
// failure `out` is left empty and the status is codecBadDataErr (corrupt or truncated data),
// codecSizeErr (dimensions out of bounds), codecUnimpErr (a valid stream of a kind the engine
// does not decode) or memFullErr. Memory for the samples is taken from the system as rows are
// decoded: a short stream announcing a huge picture fails before it touches it.
OSErr decode(Format format, const uint8_t* data, size_t size, Picture& out);
OSErr decode(Format format, const uint8_t* data, size_t size, Picture& out, const DecodeOptions& options);

// Rows that an engine writes straight into a caller's pixels, in one of these layouts:
// ARGB32 (A, R, G, B bytes, alpha 255), Grey8 (one byte a pixel, 0 black) or RGB24 (R, G, B
// bytes, the picture's own layout of 8-bit colour).
enum class RowLayout : uint8_t { ARGB32, Grey8, RGB24 };
struct RowTarget {
    uint8_t* base = nullptr;
    size_t rowBytes = 0;
    int32_t width = 0;
    int32_t height = 0;
    RowLayout layout = RowLayout::ARGB32;
};

// Decodes one frame straight into `target`, whose size must be the stream's (codecBadDataErr
// otherwise, nothing written). The JPEG engine writes ARGB32 and Grey8 rows; the BMP and PNG
// engines write RGB24 rows of pictures that decode to 8-bit RGB, the samples decode() would give.
// Any other engine, layout or picture answers codecUnimpErr without touching anything, and the
// caller decodes to a picture instead. On a failure after rows were written, the rows hold what
// was decoded.
OSErr decodeInto(Format format, const uint8_t* data, size_t size, const DecodeOptions& options,
                 const RowTarget& target);

// A stream of `size` bytes read piece by piece: `read` copies `count` bytes at `offset` into
// `out`, false when they cannot all be had.
struct ByteSource {
    bool (*read)(void* context, uint64_t offset, size_t count, uint8_t* out) = nullptr;
    void* context = nullptr;
    uint64_t size = 0;
};

// decodeInto from a stream that is read a piece at a time rather than held whole, for the
// engines that can (BMP, uncompressed); codecUnimpErr, with nothing written, for any other
// stream, which the caller then reads whole for decodeInto.
OSErr decodeInto(Format format, const ByteSource& source, const DecodeOptions& options,
                 const RowTarget& target);

// Encodes a picture. JPEG takes 1 or 3 components of 8 bits; JPEG 2000 1, 3 or 4 components of 8
// or 16 bits (raw codestream unless `jp2`); PNG 1 to 4 components of 8 or 16 bits; BMP 1, 3 or 4
// components of 8 bits. Another shape gives paramErr; GIF, which is only read, codecUnimpErr.
OSErr encode(Format format, const Picture& in, const EncodeOptions& options, std::vector<uint8_t>& out,
             bool jp2 = false);

// Reads only the dimensions and layout of a stream (no samples), for importers and for
// descriptions; the same statuses as decode.
OSErr inspect(Format format, const uint8_t* data, size_t size, Picture& layout);
// inspect from the first `size` bytes of a stream of `total` bytes: BMP, whose check of the
// pixels needs only the stream's length, gives what inspecting the whole stream would; the other
// engines inspect the bytes given.
OSErr inspectHead(Format format, const uint8_t* data, size_t size, uint64_t total, Picture& layout);

} // namespace platform::codec
