// The BMP engine, our own. Reads the OS/2 core header (12 bytes), the OS/2 2.x headers (16 to 64
// bytes), BITMAPINFOHEADER (40), its 52- and 56-byte extensions and the V4 and V5 headers (108,
// 124 and longer): 1, 4 and 8 bits with a palette, uncompressed or RLE; 16, 24 and 32 bits,
// uncompressed or with bit fields. Rows are bottom-up unless the height is negative.
//
// Pictures: a palette image is grey (1 component) when every entry of its palette is grey and
// RGB otherwise; an index beyond the palette is black. 16, 24 and 32-bit images are RGB, RGBA
// only when bit fields give an alpha mask (the fourth byte of an uncompressed 32-bit pixel is
// not alpha). Bit fields wider or narrower than 8 bits are scaled to 8 bits, rounded.
//
// Writing: 1 component -> 8 bits with a grey palette; 3 -> 24 bits; 4 -> 32 bits with bit
// fields B, G, R, A in memory order in a V4 header. Rows bottom-up.
#include "PlatformCodecEnginesInternal.h"
#include "PlatformEndian.h"

#include <array>
#include <bit>
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace platform::codec::detail {

namespace {

constexpr size_t kFileHeaderBytes = 14;
constexpr uint32_t kCoreHeaderBytes = 12;
constexpr uint32_t kInfoHeaderBytes = 40;
constexpr uint32_t kV4HeaderBytes = 108;
constexpr uint32_t kV5HeaderBytes = 124;

enum : uint32_t {
    kBI_RGB = 0,
    kBI_RLE8 = 1,
    kBI_RLE4 = 2,
    kBI_BITFIELDS = 3,
    kBI_JPEG = 4,
    kBI_PNG = 5,
    kBI_ALPHABITFIELDS = 6,
};

// One channel of a direct-colour pixel.
struct Field {
    uint32_t mask = 0;
    int shift = 0;
    uint64_t max = 0; // mask >> shift

    // A contiguous mask or none.
    bool set(uint32_t m) {
        mask = m;
        if (!m) {
            shift = 0;
            max = 0;
            return true;
        }
        shift = std::countr_zero(m);
        max = m >> shift;
        return (max & (max + 1)) == 0;
    }
    uint8_t value(uint32_t pixel) const {
        const uint64_t v = (pixel & mask) >> shift;
        if (max == 255) return uint8_t(v);
        return uint8_t((v * 255 + max / 2) / max);
    }
};

struct Header {
    int32_t width = 0;
    int32_t height = 0;
    bool bottomUp = true;
    int bits = 0;
    uint32_t compression = kBI_RGB;
    Field fields[4]; // R, G, B, A
    bool bitFields = false;
    std::array<uint8_t, 256 * 3> palette{}; // R, G, B
    uint32_t paletteCount = 0;
    bool greyPalette = false;
    size_t pixelOffset = 0;
    size_t pixelEnd = 0; // where pixel data must end (RLE: where it may run)
    int32_t components = 0;
};

// Parses the headers and the palette, checking every offset and size against the file: `size`
// bytes of it at `data`, and `total` bytes in all (pixels beyond those at hand are not read here).
OSErr parseHeader(const uint8_t* data, size_t size, uint64_t total, Header& h) {
    if (!data || size < kFileHeaderBytes + 4 || data[0] != 'B' || data[1] != 'M') return codecBadDataErr;
    const uint32_t offBits = loadLE32(data + 10);
    const uint32_t headerSize = loadLE32(data + 14);
    if (headerSize < kCoreHeaderBytes || headerSize > size - kFileHeaderBytes) return codecBadDataErr;
    const uint8_t* ih = data + kFileHeaderBytes;
    // The fields the header has; those a shorter header lacks read as 0.
    uint8_t fields[kV5HeaderBytes] = {};
    std::memcpy(fields, ih, std::min<size_t>(headerSize, sizeof fields));

    int64_t width = 0, height = 0;
    bool os2v2 = false;
    size_t paletteEntryBytes = 4;
    if (headerSize == kCoreHeaderBytes) {
        width = loadLE16(fields + 4);
        height = loadLE16(fields + 6);
        h.bits = loadLE16(fields + 10);
        paletteEntryBytes = 3;
    } else {
        if (headerSize < 16 || (headerSize > 64 && headerSize < kV4HeaderBytes)) return codecUnimpErr;
        os2v2 = headerSize <= 64 && headerSize != kInfoHeaderBytes && headerSize != 52 && headerSize != 56;
        width = int32_t(loadLE32(fields + 4));
        height = int32_t(loadLE32(fields + 8));
        h.bits = loadLE16(fields + 14);
        h.compression = loadLE32(fields + 16);
    }
    if (height < 0) {
        h.bottomUp = false;
        height = -height;
    }
    if (width <= 0 || height == 0) return codecBadDataErr;
    if (!pictureFits(width, height, 1, 8)) return codecSizeErr;
    h.width = int32_t(width);
    h.height = int32_t(height);

    // Compression against depth. OS/2 2.x numbers Huffman and RLE24 where Windows has bit fields
    // and JPEG.
    if (os2v2 && (h.compression == kBI_BITFIELDS || h.compression == kBI_JPEG)) return codecUnimpErr;
    switch (h.compression) {
    case kBI_RGB:
        if (h.bits != 1 && h.bits != 4 && h.bits != 8 && h.bits != 16 && h.bits != 24 && h.bits != 32)
            return h.bits == 2 ? codecUnimpErr : codecBadDataErr;
        break;
    case kBI_RLE8:
        if (h.bits != 8) return codecBadDataErr;
        break;
    case kBI_RLE4:
        if (h.bits != 4) return codecBadDataErr;
        break;
    case kBI_BITFIELDS:
    case kBI_ALPHABITFIELDS:
        if (h.bits != 16 && h.bits != 24 && h.bits != 32) return codecBadDataErr;
        break;
    case kBI_JPEG:
    case kBI_PNG:
        return codecUnimpErr;
    default:
        return codecBadDataErr;
    }

    // Bit fields: in the header from 52 bytes on, else after it.
    size_t at = kFileHeaderBytes + headerSize;
    uint32_t masks[4] = {0, 0, 0, 0};
    if (h.compression == kBI_BITFIELDS || h.compression == kBI_ALPHABITFIELDS) {
        h.bitFields = true;
        if (headerSize >= 52) {
            for (int i = 0; i < 3; ++i)
                masks[i] = loadLE32(fields + 40 + 4 * i);
            if (headerSize >= 56) masks[3] = loadLE32(fields + 52);
        } else {
            const size_t count = h.compression == kBI_ALPHABITFIELDS ? 4 : 3;
            if (size - at < 4 * count) return codecBadDataErr;
            for (size_t i = 0; i < count; ++i)
                masks[i] = loadLE32(data + at + 4 * i);
            at += 4 * count;
        }
        if (!masks[0] || !masks[1] || !masks[2]) return codecBadDataErr;
    } else if (h.bits == 16) {
        masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
    } else if (h.bits == 24 || h.bits == 32) {
        masks[0] = 0x00FF0000, masks[1] = 0x0000FF00, masks[2] = 0x000000FF;
    }
    if (h.bits == 16)
        for (uint32_t& m : masks)
            m &= 0xFFFF;
    else if (h.bits == 24)
        for (uint32_t& m : masks)
            m &= 0xFFFFFF;
    for (int i = 0; i < 4; ++i)
        if (!h.fields[i].set(masks[i])) return codecBadDataErr;
    if (h.bits >= 16 && (!masks[0] || !masks[1] || !masks[2])) return codecBadDataErr;

    // The palette: the declared count (all that the depth addresses when 0), at most that many.
    if (h.bits <= 8) {
        const uint32_t addressable = 1u << h.bits;
        const uint32_t used = headerSize == kCoreHeaderBytes ? 0 : loadLE32(fields + 32);
        h.paletteCount = used == 0 || used > addressable ? addressable : used;
        if ((size - at) / paletteEntryBytes < h.paletteCount) return codecBadDataErr;
        h.greyPalette = true;
        for (uint32_t i = 0; i < h.paletteCount; ++i) {
            const uint8_t* e = data + at + i * paletteEntryBytes;
            h.palette[i * 3] = e[2];
            h.palette[i * 3 + 1] = e[1];
            h.palette[i * 3 + 2] = e[0];
            if (e[0] != e[1] || e[1] != e[2]) h.greyPalette = false;
        }
        at += h.paletteCount * paletteEntryBytes;
        h.components = h.greyPalette ? 1 : 3;
    } else {
        h.components = h.bitFields && masks[3] ? 4 : 3;
    }
    if (!pictureFits(h.width, h.height, h.components, 8)) return codecSizeErr;

    // Pixel data, from the offset the file header gives (after the palette when it gives none).
    h.pixelOffset = offBits ? offBits : at;
    if (h.pixelOffset > total) return codecBadDataErr;
    if (h.compression == kBI_RLE8 || h.compression == kBI_RLE4) {
        const uint32_t imageSize = headerSize == kCoreHeaderBytes ? 0 : loadLE32(fields + 20);
        if (imageSize > total - h.pixelOffset) return codecBadDataErr;
        h.pixelEnd = imageSize ? h.pixelOffset + imageSize : size_t(total);
    } else {
        // Rows padded to 4 bytes; the last row's padding may be missing.
        const uint64_t rowBits = uint64_t(h.width) * uint64_t(h.bits);
        const uint64_t stride = (rowBits + 31) / 32 * 4;
        const uint64_t need = stride * uint64_t(h.height - 1) + (rowBits + 7) / 8;
        if (need > total - h.pixelOffset) return codecBadDataErr;
        h.pixelEnd = h.pixelOffset + size_t(need);
    }
    return noErr;
}

Picture layoutOf(const Header& h) {
    Picture p;
    p.width = h.width;
    p.height = h.height;
    p.components = h.components;
    p.bitsPerSample = p.precision = 8;
    return p;
}

// Writes the colour of palette index `index` (black beyond the palette).
inline uint8_t* putIndex(const Header& h, uint8_t* d, unsigned index) {
    if (index >= h.paletteCount) {
        for (int c = 0; c < h.components; ++c)
            *d++ = 0;
        return d;
    }
    if (h.components == 1) {
        *d++ = h.palette[index * 3];
    } else {
        std::memcpy(d, &h.palette[index * 3], 3);
        d += 3;
    }
    return d;
}

// The picture row that file row `r` fills.
inline size_t pictureRow(const Header& h, size_t r) {
    return h.bottomUp ? size_t(h.height) - 1 - r : r;
}

// Where the decoded rows go: the picture's samples or a caller's pixels of the same layout.
struct Rows {
    uint8_t* base;
    size_t rowBytes;
    uint8_t* row(size_t y) const { return base + y * rowBytes; }
};

// Direct-colour pixels whose fields are whole bytes in the usual places (B, G, R and, with an
// alpha mask, A in memory order) need no masks: the common 24- and 32-bit files.
enum class Direct { General, BGR24, BGRX32, BGRA32 };

Direct directKind(const Header& h) {
    const bool bytesRGB =
        h.fields[0].mask == 0x00FF0000 && h.fields[1].mask == 0x0000FF00 && h.fields[2].mask == 0x000000FF;
    if (!bytesRGB) return Direct::General;
    if (h.bits == 24 && h.components == 3) return Direct::BGR24;
    if (h.bits == 32 && h.components == 3) return Direct::BGRX32;
    if (h.bits == 32 && h.components == 4 && h.fields[3].mask == 0xFF000000) return Direct::BGRA32;
    return Direct::General;
}

// One file row of uncompressed pixels into one picture row.
void convertRow(const Header& h, Direct kind, const uint8_t* s, uint8_t* d) {
    const size_t w = size_t(h.width);
    switch (kind) {
    case Direct::BGR24:
        for (size_t x = 0; x < w; ++x, s += 3, d += 3) {
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
        }
        return;
    case Direct::BGRX32:
        for (size_t x = 0; x < w; ++x, s += 4, d += 3) {
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
        }
        return;
    case Direct::BGRA32:
        for (size_t x = 0; x < w; ++x, s += 4, d += 4) {
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
            d[3] = s[3];
        }
        return;
    case Direct::General:
        break;
    }
    switch (h.bits) {
    case 1:
    case 4:
    case 8: {
        const unsigned perByte = 8u / unsigned(h.bits), mask = (1u << h.bits) - 1u;
        for (size_t x = 0; x < w; ++x) {
            const unsigned shift = unsigned(h.bits) * (perByte - 1u - unsigned(x % perByte));
            d = putIndex(h, d, (s[x / perByte] >> shift) & mask);
        }
        return;
    }
    default: {
        const size_t bytes = size_t(h.bits) / 8;
        for (size_t x = 0; x < w; ++x, s += bytes) {
            uint32_t px = s[0] | uint32_t(s[1]) << 8;
            if (bytes >= 3) px |= uint32_t(s[2]) << 16;
            if (bytes == 4) px |= uint32_t(s[3]) << 24;
            for (int c = 0; c < h.components; ++c)
                *d++ = h.fields[c].value(px);
        }
        return;
    }
    }
}

size_t strideOf(const Header& h) {
    return (size_t(h.width) * size_t(h.bits) + 31) / 32 * 4;
}

void decodeUncompressed(const Header& h, const uint8_t* data, const Rows& out) {
    const size_t stride = strideOf(h);
    const Direct kind = h.bits >= 16 ? directKind(h) : Direct::General;
    for (size_t r = 0; r < size_t(h.height); ++r)
        convertRow(h, kind, data + h.pixelOffset + r * stride, out.row(pictureRow(h, r)));
}

// Run-length data: runs and literals of indices, with end-of-line, end-of-bitmap and delta
// codes. Pixels that codes skip keep index 0; pixels beyond the picture are dropped. Data that
// ends before every row is done, without an end-of-bitmap code, is truncated.
OSErr decodeRunLength(const Header& h, const uint8_t* data, const Rows& out) {
    const bool rle4 = h.compression == kBI_RLE4;
    const size_t w = size_t(h.width), height = size_t(h.height), bpp = size_t(h.components);
    const uint8_t* p = data + h.pixelOffset;
    const uint8_t* end = data + h.pixelEnd;
    for (size_t y = 0; y < height; ++y) {
        uint8_t* d = out.row(y);
        for (size_t x = 0; x < w; ++x)
            d = putIndex(h, d, 0);
    }
    size_t x = 0, row = 0;
    auto put = [&](unsigned index) {
        if (row < height && x < w) putIndex(h, out.row(pictureRow(h, row)) + x * bpp, index);
        ++x;
    };
    for (;;) {
        if (end - p < 2) return row >= height ? noErr : codecBadDataErr;
        const unsigned count = p[0], value = p[1];
        p += 2;
        if (count) {
            if (row >= height || x >= w) {
                x += count;
                continue;
            }
            for (unsigned i = 0; i < count; ++i)
                put(rle4 ? ((i & 1) ? value & 15u : value >> 4) : value);
            continue;
        }
        switch (value) {
        case 0: // end of line
            x = 0;
            ++row;
            break;
        case 1:
            return noErr; // end of bitmap
        case 2:           // delta
            if (end - p < 2) return codecBadDataErr;
            x += p[0];
            row += p[1];
            p += 2;
            break;
        default: { // literal indices, padded to 16 bits
            const size_t bytes = rle4 ? (value + 1) / 2 : value;
            if (size_t(end - p) < bytes) return codecBadDataErr;
            for (unsigned i = 0; i < value; ++i)
                put(rle4 ? ((i & 1) ? p[i / 2] & 15u : p[i / 2] >> 4) : p[i]);
            p += std::min(size_t(end - p), (bytes + 1) & ~size_t(1));
            break;
        }
        }
    }
}

OSErr decodeRows(const Header& h, const uint8_t* data, const Rows& out) {
    if (h.compression == kBI_RLE8 || h.compression == kBI_RLE4) return decodeRunLength(h, data, out);
    decodeUncompressed(h, data, out);
    return noErr;
}

} // namespace

OSErr decodeBMP(const uint8_t* data, size_t size, Picture& out) {
    out = Picture();
    Header h;
    if (OSErr err = parseHeader(data, size, size, h)) return err;
    Picture pic = layoutOf(h);
    try {
        pic.samples.resize(pic.rowBytes() * size_t(pic.height));
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    if (OSErr err = decodeRows(h, data, Rows{pic.samples.data(), pic.rowBytes()})) return err;
    out = std::move(pic);
    return noErr;
}

OSErr decodeBMPInto(const uint8_t* data, size_t size, const RowTarget& target) {
    Header h;
    if (OSErr err = parseHeader(data, size, size, h)) return err;
    if (target.layout != RowLayout::RGB24 || h.components != 3) return codecUnimpErr;
    if (target.width != h.width || target.height != h.height) return codecBadDataErr;
    return decodeRows(h, data, Rows{target.base, target.rowBytes});
}

OSErr decodeBMPIntoFrom(const ByteSource& source, const RowTarget& target) {
    if (!source.read || target.layout != RowLayout::RGB24) return codecUnimpErr;
    // The headers and the palette are at the start; a file whose are not there is read whole.
    constexpr size_t kHead = 64 * 1024;
    const size_t headSize = size_t(std::min<uint64_t>(source.size, kHead));
    std::unique_ptr<uint8_t[]> head(new (std::nothrow) uint8_t[std::max<size_t>(headSize, 1)]);
    if (!head) return memFullErr;
    if (!source.read(source.context, 0, headSize, head.get())) return codecUnimpErr;
    Header h;
    if (parseHeader(head.get(), headSize, source.size, h) != noErr) return codecUnimpErr;
    if (h.compression == kBI_RLE8 || h.compression == kBI_RLE4 || h.components != 3) return codecUnimpErr;
    if (target.width != h.width || target.height != h.height) return codecBadDataErr;
    head.reset();
    // Whole file rows a piece, about 256 KiB; the last row's padding may be missing.
    const size_t stride = strideOf(h);
    const size_t rowLength = (size_t(h.width) * size_t(h.bits) + 7) / 8;
    const size_t perPiece = std::max<size_t>(1, (256 * 1024) / stride);
    std::unique_ptr<uint8_t[]> piece(new (std::nothrow) uint8_t[perPiece * stride]);
    if (!piece) return memFullErr;
    const Direct kind = h.bits >= 16 ? directKind(h) : Direct::General;
    const Rows out{target.base, target.rowBytes};
    for (size_t first = 0; first < size_t(h.height); first += perPiece) {
        const size_t rows = std::min(perPiece, size_t(h.height) - first);
        const size_t bytes = (rows - 1) * stride + rowLength;
        // A file cut since its size was taken fails here.
        if (!source.read(source.context, h.pixelOffset + first * stride, bytes, piece.get()))
            return codecBadDataErr;
        for (size_t i = 0; i < rows; ++i)
            convertRow(h, kind, piece.get() + i * stride, out.row(pictureRow(h, first + i)));
    }
    return noErr;
}

OSErr inspectBMP(const uint8_t* data, size_t size, Picture& layout) {
    layout = Picture();
    Header h;
    if (OSErr err = parseHeader(data, size, size, h)) return err;
    layout = layoutOf(h);
    return noErr;
}

OSErr inspectBMPHead(const uint8_t* data, size_t size, uint64_t total, Picture& layout) {
    layout = Picture();
    Header h;
    if (OSErr err = parseHeader(data, size, std::max<uint64_t>(total, size), h)) return err;
    layout = layoutOf(h);
    return noErr;
}

OSErr encodeBMP(const Picture& in, const EncodeOptions&, std::vector<uint8_t>& out) {
    out.clear();
    if (!in.isConsistent() || in.bitsPerSample != 8 ||
        (in.components != 1 && in.components != 3 && in.components != 4))
        return paramErr;
    const size_t comps = size_t(in.components);
    const uint32_t bits = uint32_t(comps * 8);
    const uint32_t headerSize = comps == 4 ? kV4HeaderBytes : kInfoHeaderBytes;
    const uint32_t paletteBytes = comps == 1 ? 256 * 4 : 0;
    const size_t stride = (size_t(in.width) * bits + 31) / 32 * 4;
    const size_t imageBytes = stride * size_t(in.height);
    const size_t offBits = kFileHeaderBytes + headerSize + paletteBytes;
    // Pictures stay within 1 GiB of samples: the file fits the format's 32-bit sizes.
    const size_t fileBytes = offBits + imageBytes;
    std::vector<uint8_t> file;
    try {
        file.assign(fileBytes, 0);
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    uint8_t* f = file.data();
    f[0] = 'B';
    f[1] = 'M';
    storeLE32(f + 2, uint32_t(fileBytes));
    storeLE32(f + 10, uint32_t(offBits));
    uint8_t* ih = f + kFileHeaderBytes;
    storeLE32(ih, headerSize);
    storeLE32(ih + 4, uint32_t(in.width));
    storeLE32(ih + 8, uint32_t(in.height));
    storeLE16(ih + 12, 1);
    storeLE16(ih + 14, uint16_t(bits));
    storeLE32(ih + 16, comps == 4 ? kBI_BITFIELDS : kBI_RGB);
    storeLE32(ih + 20, uint32_t(imageBytes));
    storeLE32(ih + 24, 2835); // 72 pixels an inch
    storeLE32(ih + 28, 2835);
    if (comps == 1) {
        storeLE32(ih + 32, 256);
        uint8_t* palette = ih + headerSize;
        for (unsigned i = 0; i < 256; ++i)
            palette[4 * i] = palette[4 * i + 1] = palette[4 * i + 2] = uint8_t(i);
    } else if (comps == 4) {
        storeLE32(ih + 40, 0x00FF0000);
        storeLE32(ih + 44, 0x0000FF00);
        storeLE32(ih + 48, 0x000000FF);
        storeLE32(ih + 52, 0xFF000000);
        storeLE32(ih + 56, 0x73524742); // 'sRGB'
    }
    const size_t w = size_t(in.width);
    for (size_t y = 0; y < size_t(in.height); ++y) {
        const uint8_t* s = in.samples.data() + y * in.rowBytes();
        uint8_t* d = f + offBits + (size_t(in.height) - 1 - y) * stride;
        if (comps == 1) {
            std::memcpy(d, s, w);
            continue;
        }
        for (size_t x = 0; x < w; ++x, s += comps, d += comps) {
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
            if (comps == 4) d[3] = s[3];
        }
    }
    out = std::move(file);
    return noErr;
}

} // namespace platform::codec::detail
