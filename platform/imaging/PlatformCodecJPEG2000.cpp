// The JPEG 2000 engine over OpenJPEG: raw J2K codestreams (what DICOM fragments hold) and JP2
// files, told apart by their first bytes. The library reads and writes our buffers through
// in-memory streams and reports through silent handlers: its failures come back as FALSE and
// become codecBadDataErr here.
//
// Decisions:
// - Up to 4 components of one precision (1..16 bits): 8-bit storage up to 8 bits, else 16-bit.
//   Components subsampled differently from each other are refused with codecUnimpErr; the
//   picture is the components' own grid, whatever their common subsampling.
// - Signed components keep the two's-complement bit pattern of their precision, right-aligned
//   (a 12-bit -1 is 0x0FFF): the DICOM layer reinterprets it by Pixel Representation, as it does
//   native pixel data.
// - Strict decoding: a truncated codestream is an error, never a partial picture.
// - JP2 colour: palettes and channel definitions are applied by the library; sYCC is converted
//   to RGB here (R = Y + 1.402 Cr, G = Y - 0.344 Cb - 0.714 Cr, B = Y + 1.772 Cb, chroma centred
//   on half the range, truncated toward zero and clamped, as OpenJPEG's own tools convert it);
//   e-sYCC and CMYK are refused with codecUnimpErr. ICC profiles are not applied.
// - Encoding: quality 1024 is lossless (reversible 5/3 wavelet and colour transform); any lower
//   quality uses the irreversible 9/7 wavelet at a compression ratio of 2^((1023 - q) / 128)
//   (1023 no rate limit, 768 about 4:1, 512 about 16:1, 256 about 63:1, 0 256:1). RGB and RGBA
//   pictures take the colour transform; a JP2 file marks a fourth component as alpha.
#include "PlatformCodecEnginesInternal.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include <openjpeg.h>

namespace platform::codec::detail {

namespace {

void silent(const char*, void*) {}

// ---- in-memory streams ---------------------------------------------------------------------

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t position;
};

OPJ_SIZE_T readBytes(void* buffer, OPJ_SIZE_T count, void* user) {
    Reader* r = static_cast<Reader*>(user);
    if (r->position >= r->size) return OPJ_SIZE_T(-1);
    size_t n = std::min<size_t>(count, r->size - r->position);
    std::memcpy(buffer, r->data + r->position, n);
    r->position += n;
    return n;
}

// Skips and seeks behave as on a file: moving past the end succeeds and the next read finds the
// end. The library knows the stream's length and checks its own reads against it.
OPJ_OFF_T skipInput(OPJ_OFF_T count, void* user) {
    Reader* r = static_cast<Reader*>(user);
    if (count < 0 && size_t(-count) > r->position) return -1;
    if (count >= 0 && size_t(count) > r->size - std::min(r->position, r->size))
        r->position = r->size;
    else
        r->position = size_t(OPJ_OFF_T(r->position) + count);
    return count;
}

OPJ_BOOL seekInput(OPJ_OFF_T offset, void* user) {
    Reader* r = static_cast<Reader*>(user);
    if (offset < 0) return OPJ_FALSE;
    r->position = std::min<size_t>(size_t(offset), r->size);
    return OPJ_TRUE;
}

struct Writer {
    std::vector<uint8_t> bytes;
    size_t position = 0;
};

// Makes the written bytes at least `size` long; false when memory runs out.
bool reach(Writer* w, size_t size) {
    if (w->bytes.size() >= size) return true;
    try {
        w->bytes.resize(size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

OPJ_SIZE_T writeBytes(void* buffer, OPJ_SIZE_T count, void* user) {
    Writer* w = static_cast<Writer*>(user);
    if (!reach(w, w->position + count)) return OPJ_SIZE_T(-1);
    std::memcpy(w->bytes.data() + w->position, buffer, count);
    w->position += count;
    return count;
}

OPJ_OFF_T skipOutput(OPJ_OFF_T count, void* user) {
    Writer* w = static_cast<Writer*>(user);
    if (count < 0 && size_t(-count) > w->position) return -1;
    size_t target = size_t(OPJ_OFF_T(w->position) + count);
    if (!reach(w, target)) return -1;
    w->position = target;
    return count;
}

OPJ_BOOL seekOutput(OPJ_OFF_T offset, void* user) {
    Writer* w = static_cast<Writer*>(user);
    if (offset < 0 || !reach(w, size_t(offset))) return OPJ_FALSE;
    w->position = size_t(offset);
    return OPJ_TRUE;
}

// The library's objects, released whatever way a call ends.
struct Session {
    opj_codec_t* codec = nullptr;
    opj_stream_t* stream = nullptr;
    opj_image_t* image = nullptr;
    Session() = default;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session() {
        if (image) opj_image_destroy(image);
        if (stream) opj_stream_destroy(stream);
        if (codec) opj_destroy_codec(codec);
    }
};

void silence(opj_codec_t* codec) {
    opj_set_info_handler(codec, silent, nullptr);
    opj_set_warning_handler(codec, silent, nullptr);
    opj_set_error_handler(codec, silent, nullptr);
}

// ---- decoding ------------------------------------------------------------------------------

constexpr uint8_t kCodestreamStart[4] = {0xFF, 0x4F, 0xFF, 0x51}; // SOC then SIZ
constexpr uint8_t kJP2Signature[12] = {0x00, 0x00, 0x00, 0x0C, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};

bool startsWith(const uint8_t* data, size_t size, const uint8_t* prefix, size_t length) {
    return size >= length && std::memcmp(data, prefix, length) == 0;
}

uint32_t bigEndian32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// What the library tells only once it has decoded a JP2 file: whether its header box holds a
// palette (the codestream's components then are not the picture's) and the enumerated colour
// space of its first colour box (0 when there is none).
struct JP2Header {
    bool palette = false;
    uint32_t colourSpace = 0;
};

JP2Header scanJP2Header(const uint8_t* data, size_t size) {
    // Walks the top-level boxes to the header box, then its children.
    JP2Header found;
    size_t at = 0, end = size;
    bool inHeader = false, colourSeen = false;
    while (end - at >= 8) {
        uint64_t length = bigEndian32(data + at);
        uint32_t type = bigEndian32(data + at + 4);
        size_t header = 8;
        if (length == 1) {
            if (end - at < 16) break;
            length = uint64_t(bigEndian32(data + at + 8)) << 32 | bigEndian32(data + at + 12);
            header = 16;
        } else if (length == 0) {
            length = end - at;
        }
        if (length < header || length > end - at) break;
        if (inHeader && type == 0x70636C72) found.palette = true; // 'pclr'
        // The first colour box of method 1 (enumerated: method, precedence, approximation, then
        // the space) or 2 (a profile) counts; the library ignores the others, as a reader must.
        if (inHeader && type == 0x636F6C72 && !colourSeen && length >= header + 3) {
            uint8_t method = data[at + header];
            if (method == 1 && length >= header + 7) found.colourSpace = bigEndian32(data + at + header + 3);
            colourSeen = method == 1 || method == 2;
        }
        if (!inHeader && type == 0x6A703268) { // 'jp2h'
            inHeader = true;
            end = at + size_t(length);
            at += header;
            continue;
        }
        if (!inHeader && type == 0x6A703263) break; // 'jp2c': the header comes first
        at += size_t(length);
    }
    return found;
}

// The picture an image makes, samples not allocated; `decoded` once the library has decoded it
// (the components then carry their final dimensions and data).
OSErr layoutOf(const opj_image_t* image, bool decoded, Picture& layout) {
    if (!image || image->numcomps == 0 || !image->comps) return codecBadDataErr;
    if (image->numcomps > 4) return codecUnimpErr;
    const opj_image_comp_t& first = image->comps[0];
    for (uint32_t c = 0; c < image->numcomps; ++c) {
        const opj_image_comp_t& comp = image->comps[c];
        if (comp.prec == 0 || comp.dx == 0 || comp.dy == 0) return codecBadDataErr;
        if (comp.prec > 16) return codecUnimpErr;
        if (comp.dx != first.dx || comp.dy != first.dy || comp.prec != first.prec || comp.sgnd != first.sgnd)
            return codecUnimpErr;
        if (decoded && (comp.w != first.w || comp.h != first.h || !comp.data)) return codecUnimpErr;
    }
    switch (image->color_space) {
    case OPJ_CLRSPC_EYCC:
    case OPJ_CLRSPC_CMYK:
        return codecUnimpErr;
    case OPJ_CLRSPC_SYCC:
        if (image->numcomps < 3) return codecBadDataErr;
        break;
    default:
        break;
    }
    if (image->x1 <= image->x0 || image->y1 <= image->y0) return codecBadDataErr;
    // The components' grid: ceil(x1 / dx) - ceil(x0 / dx) samples across, likewise down.
    int64_t width =
        (int64_t(image->x1) + first.dx - 1) / first.dx - (int64_t(image->x0) + first.dx - 1) / first.dx;
    int64_t height =
        (int64_t(image->y1) + first.dy - 1) / first.dy - (int64_t(image->y0) + first.dy - 1) / first.dy;
    if (decoded && (width != first.w || height != first.h)) return codecBadDataErr;
    int32_t bits = first.prec <= 8 ? 8 : 16;
    if (!pictureFits(width, height, image->numcomps, bits)) return codecSizeErr;
    layout.width = int32_t(width);
    layout.height = int32_t(height);
    layout.components = int32_t(image->numcomps);
    layout.bitsPerSample = bits;
    layout.precision = int32_t(first.prec);
    return noErr;
}

// sYCC to RGB in place on the first three components.
void syccToRgb(opj_image_t* image) {
    const int precision = int(image->comps[0].prec);
    const int offset = 1 << (precision - 1);
    const int top = (1 << precision) - 1;
    size_t count = size_t(image->comps[0].w) * image->comps[0].h;
    int32_t* y = image->comps[0].data;
    int32_t* cb = image->comps[1].data;
    int32_t* cr = image->comps[2].data;
    for (size_t i = 0; i < count; ++i) {
        int luma = y[i], blue = cb[i] - offset, red = cr[i] - offset;
        int r = luma + int(1.402 * float(red));
        int g = luma - int(0.344 * float(blue) + 0.714 * float(red));
        int b = luma + int(1.772 * float(blue));
        y[i] = std::clamp(r, 0, top);
        cb[i] = std::clamp(g, 0, top);
        cr[i] = std::clamp(b, 0, top);
    }
}

// Interleaves the decoded components into the picture's samples.
void interleave(const opj_image_t* image, Picture& picture) {
    const size_t count = size_t(picture.width) * size_t(picture.height);
    const int components = picture.components;
    const uint32_t mask = (1u << picture.precision) - 1;
    const bool isSigned = image->comps[0].sgnd != 0;
    const int32_t top = int32_t(mask);
    for (int c = 0; c < components; ++c) {
        const int32_t* in = image->comps[c].data;
        if (picture.bitsPerSample == 8) {
            uint8_t* out = picture.samples.data() + c;
            for (size_t i = 0; i < count; ++i, out += components)
                *out = uint8_t(isSigned ? uint32_t(in[i]) & mask : uint32_t(std::clamp(in[i], 0, top)));
        } else {
            uint16_t* out = reinterpret_cast<uint16_t*>(picture.samples.data()) + c;
            for (size_t i = 0; i < count; ++i, out += components)
                *out = uint16_t(isSigned ? uint32_t(in[i]) & mask : uint32_t(std::clamp(in[i], 0, top)));
        }
    }
}

OSErr decodeOrInspect(const uint8_t* data, size_t size, Picture& out, bool withSamples) {
    out = Picture();
    if (!data) return codecBadDataErr;
    OPJ_CODEC_FORMAT format;
    if (startsWith(data, size, kCodestreamStart, sizeof kCodestreamStart))
        format = OPJ_CODEC_J2K;
    else if (startsWith(data, size, kJP2Signature, sizeof kJP2Signature))
        format = OPJ_CODEC_JP2;
    else
        return codecBadDataErr;
    JP2Header jp2;
    if (format == OPJ_CODEC_JP2) jp2 = scanJP2Header(data, size);
    // A palette changes the components only when applied, at the end of decoding.
    if (!withSamples && jp2.palette) {
        OSErr err = decodeOrInspect(data, size, out, true);
        out.samples = std::vector<uint8_t>();
        return err;
    }

    Session s;
    Reader reader{data, size, 0};
    s.codec = opj_create_decompress(format);
    if (!s.codec) return memFullErr;
    silence(s.codec);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    if (!opj_setup_decoder(s.codec, &parameters) || !opj_decoder_set_strict_mode(s.codec, OPJ_TRUE))
        return codecErr;
    s.stream = opj_stream_create(std::min<size_t>(size, OPJ_J2K_STREAM_CHUNK_SIZE), OPJ_TRUE);
    if (!s.stream) return memFullErr;
    opj_stream_set_read_function(s.stream, readBytes);
    opj_stream_set_skip_function(s.stream, skipInput);
    opj_stream_set_seek_function(s.stream, seekInput);
    opj_stream_set_user_data(s.stream, &reader, nullptr);
    opj_stream_set_user_data_length(s.stream, size);

    if (!opj_read_header(s.stream, s.codec, &s.image)) return codecBadDataErr;
    // The library names the colour space once decoded; for the header's checks, from the box.
    if (s.image && s.image->color_space == OPJ_CLRSPC_UNSPECIFIED) {
        switch (jp2.colourSpace) {
        case 12:
            s.image->color_space = OPJ_CLRSPC_CMYK;
            break;
        case 18:
            s.image->color_space = OPJ_CLRSPC_SYCC;
            break;
        case 24:
            s.image->color_space = OPJ_CLRSPC_EYCC;
            break;
        default:
            break;
        }
    }
    Picture picture;
    // Dimensions, components and precision are checked here, before the library allocates a
    // sample of the image.
    OSErr err = layoutOf(s.image, false, picture);
    if (err != noErr || !withSamples) {
        if (err == noErr) out = std::move(picture);
        return err;
    }
    if (!opj_decode(s.codec, s.stream, s.image) || !opj_end_decompress(s.codec, s.stream))
        return codecBadDataErr;
    picture = Picture();
    err = layoutOf(s.image, true, picture);
    if (err != noErr) return err;
    if (s.image->color_space == OPJ_CLRSPC_SYCC) syccToRgb(s.image);
    try {
        picture.samples.resize(picture.rowBytes() * size_t(picture.height));
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    interleave(s.image, picture);
    out = std::move(picture);
    return noErr;
}

// ---- encoding ------------------------------------------------------------------------------

// The most resolution levels a picture of this smaller side allows (and the library's default
// of 6 at most): every level halves the lowest band.
int resolutionsFor(int32_t width, int32_t height) {
    int32_t side = std::min(width, height);
    int levels = 1;
    while (levels < 6 && (side >> levels) > 0)
        ++levels;
    return levels;
}

} // namespace

OSErr decodeJPEG2000(const uint8_t* data, size_t size, Picture& out) {
    return decodeOrInspect(data, size, out, true);
}

OSErr inspectJPEG2000(const uint8_t* data, size_t size, Picture& layout) {
    return decodeOrInspect(data, size, layout, false);
}

OSErr encodeJPEG2000(const Picture& in, const EncodeOptions& options, std::vector<uint8_t>& out, bool jp2) {
    out.clear();
    if (!in.isConsistent() || (in.components != 1 && in.components != 3 && in.components != 4))
        return paramErr;
    const bool lossless = options.quality >= 1024;

    opj_cparameters_t parameters;
    opj_set_default_encoder_parameters(&parameters);
    parameters.tcp_numlayers = 1;
    parameters.cp_disto_alloc = 1;
    parameters.tcp_rates[0] = 0; // no rate limit
    parameters.irreversible = lossless ? 0 : 1;
    if (!lossless) {
        double ratio = std::pow(2.0, (1023.0 - double(std::min<uint32_t>(options.quality, 1023))) / 128.0);
        if (ratio > 1.0) parameters.tcp_rates[0] = float(ratio);
    }
    parameters.numresolution = resolutionsFor(in.width, in.height);
    parameters.tcp_mct = in.components >= 3 ? 1 : 0;

    opj_image_cmptparm_t components[4];
    std::memset(components, 0, sizeof components);
    for (int c = 0; c < in.components; ++c) {
        components[c].dx = components[c].dy = 1;
        components[c].w = OPJ_UINT32(in.width);
        components[c].h = OPJ_UINT32(in.height);
        components[c].prec = OPJ_UINT32(in.precision);
        components[c].sgnd = 0;
    }
    Session s;
    s.image = opj_image_create(OPJ_UINT32(in.components), components,
                               in.components == 1 ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB);
    if (!s.image) return memFullErr;
    s.image->x0 = s.image->y0 = 0;
    s.image->x1 = OPJ_UINT32(in.width);
    s.image->y1 = OPJ_UINT32(in.height);
    if (in.components == 4) s.image->comps[3].alpha = 1;
    // Samples beyond the precision are clamped to it: the codestream cannot hold them.
    const size_t count = size_t(in.width) * size_t(in.height);
    const int32_t top = int32_t((1u << in.precision) - 1);
    for (int c = 0; c < in.components; ++c) {
        int32_t* dest = s.image->comps[c].data;
        if (in.bitsPerSample == 8) {
            const uint8_t* src = in.samples.data() + c;
            for (size_t i = 0; i < count; ++i, src += in.components)
                dest[i] = std::min<int32_t>(*src, top);
        } else {
            const uint16_t* src = reinterpret_cast<const uint16_t*>(in.samples.data()) + c;
            for (size_t i = 0; i < count; ++i, src += in.components)
                dest[i] = std::min<int32_t>(*src, top);
        }
    }

    s.codec = opj_create_compress(jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
    if (!s.codec) return memFullErr;
    silence(s.codec);
    if (!opj_setup_encoder(s.codec, &parameters, s.image)) return paramErr;
    Writer writer;
    s.stream = opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_FALSE);
    if (!s.stream) return memFullErr;
    opj_stream_set_write_function(s.stream, writeBytes);
    opj_stream_set_skip_function(s.stream, skipOutput);
    opj_stream_set_seek_function(s.stream, seekOutput);
    opj_stream_set_user_data(s.stream, &writer, nullptr);
    if (!opj_start_compress(s.codec, s.image, s.stream) || !opj_encode(s.codec, s.stream) ||
        !opj_end_compress(s.codec, s.stream))
        return codecErr;
    // The library flushes its buffer into the writer when it ends.
    opj_stream_destroy(s.stream);
    s.stream = nullptr;
    out = std::move(writer.bytes);
    return noErr;
}

} // namespace platform::codec::detail
