// The JPEG engine over libjpeg-turbo: 8-bit baseline, extended, progressive and arithmetic
// streams, JFIF or bare (as DICOM fragments hold them).
//
// libjpeg reports a failure by calling error_exit, which must not return. Ours longjmps back to
// the setjmp of the phase function that called the library. Those phase functions are C-style:
// they hold no C++ object with a destructor, and every object they touch lives in a plain record
// of the caller's frame, which the jump never crosses. The C++ caller then destroys the library's
// state and turns the recorded status into the engine's.
//
// Decisions:
// - Grey streams give 1 component; YCbCr and RGB streams 3 components of RGB through the
//   library's own colour conversion and upsampling (what djpeg gives, DICOM's YBR_FULL_422
//   included). Whether three components are YCbCr is the markers' word unless the caller's
//   container says (ColourSpace). Rows drawn into a caller's pixels come out of the library as
//   A, R, G, B directly. CMYK and YCCK streams are converted to RGB, taking the samples as inverted when
//   an Adobe marker is present, as the writers of such files store them. Streams of 2 or more
//   than 4 components are refused with codecUnimpErr.
// - The library is built for 8-bit samples only: 12-bit streams are refused with codecUnimpErr,
//   as are the lossless and hierarchical processes (the DICOM layer decodes lossless JPEG itself).
// - The library goes on after corrupt entropy data or a premature end, filling in grey; those
//   warnings are errors here (codecBadDataErr), so a damaged frame is never a success.
// - Quality maps from the 0..1023 scale to libjpeg's 1..100 as round(q * 100 / 1023), clamped to
//   1..100 (512 gives 50, 768 gives 75, 1023 and 1024 give 100); the rest is libjpeg's defaults,
//   as cjpeg makes them (4:2:0 YCbCr for RGB, JFIF header, Huffman tables of the standard).
#include "PlatformCodecEnginesInternal.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <jpeglib.h>
#include <jerror.h>

namespace platform::codec::detail {

namespace {

// A progressive stream may carry any number of scans, each of which walks the whole image; a
// stream with more than this many is taken as hostile. Real encoders write about ten.
constexpr int kMaxScans = 500;

// The most memory libjpeg may ever take for whole-image buffers (progressive and multi-scan
// streams keep every coefficient): twice the largest picture, the coefficients' share of a 4:4:4
// frame. A stream gets less when its own size cannot fill that much (libraryMemoryFor).
constexpr long kMaxLibraryMemory = long(2 * kMaxPictureBytes);

struct ErrorRecord {
    jpeg_error_mgr pub; // first: the library hands back a pointer to it
    jmp_buf jump;
    OSErr status;
};

// The statuses of the library's fatal errors.
OSErr statusForError(j_common_ptr cinfo) {
    switch (cinfo->err->msg_code) {
    case JERR_OUT_OF_MEMORY:
        return memFullErr;
    case JERR_IMAGE_TOO_BIG:
    case JERR_WIDTH_OVERFLOW:
    case JERR_NO_BACKING_STORE: // more whole-image memory than kMaxLibraryMemory
        return codecSizeErr;
    case JERR_SOF_UNSUPPORTED: // lossless, hierarchical and their arithmetic forms
    case JERR_NOT_COMPILED:
    case JERR_ARITH_NOTIMPL:
    case JERR_NOTIMPL:
    case JERR_CONVERSION_NOTIMPL:
        return codecUnimpErr;
    case JERR_BAD_PRECISION:
        // 12-bit (and 16-bit lossless) streams are real, just not this library's; any other
        // precision is damage.
        if (cinfo->is_decompressor) {
            int precision = reinterpret_cast<j_decompress_ptr>(cinfo)->data_precision;
            if (precision == 12 || precision == 16) return codecUnimpErr;
        }
        return codecBadDataErr;
    default:
        return codecBadDataErr;
    }
}

[[noreturn]] void fail(j_common_ptr cinfo, OSErr status) {
    ErrorRecord* record = reinterpret_cast<ErrorRecord*>(cinfo->err);
    record->status = status;
    std::longjmp(record->jump, 1);
}

void onError(j_common_ptr cinfo) {
    fail(cinfo, statusForError(cinfo));
}

// Trace messages (level >= 0) are dropped. Warnings of damaged data end the work; the others
// (an unknown Adobe transform or JFIF revision, a bad ICC marker we do not read) are harmless.
void onMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;
    switch (cinfo->err->msg_code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_EXTRANEOUS_DATA:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
    case JWRN_BOGUS_PROGRESSION:
        fail(cinfo, codecBadDataErr);
    default:
        return;
    }
}

void onOutput(j_common_ptr) {}

void onProgress(j_common_ptr cinfo) {
    if (cinfo->is_decompressor && reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans)
        fail(cinfo, codecBadDataErr);
}

void installErrors(ErrorRecord& record) {
    jpeg_std_error(&record.pub);
    record.pub.error_exit = onError;
    record.pub.emit_message = onMessage;
    record.pub.output_message = onOutput;
    record.status = noErr;
}

// ---- decoding ------------------------------------------------------------------------------

// How the decoded samples become the output's.
enum class Conversion { None, GreyToARGB, CMYK, InvertedCMYK };

// Where the rows go: a picture's samples, grown as rows arrive (`samples` has its capacity
// reserved and is resized within it, so nothing of a picture is touched before its rows are
// decoded), or a caller's ARGB rows.
struct RowSink {
    std::vector<uint8_t>* samples;
    uint8_t* base;
    size_t rowBytes;
};

struct DecodeJob {
    jpeg_decompress_struct cinfo;
    ErrorRecord errors;
    jpeg_progress_mgr progress;
    Conversion conversion;
};

// Whole-image buffers (progressive and multi-scan streams keep every coefficient) are earned by
// the stream: every block of every scan costs at least one bit of entropy-coded data, so a stream
// of n bytes holds at most 8n blocks of 128 bytes of coefficients. A short stream announcing a
// huge picture is refused (codecSizeErr) before the library takes or clears that memory.
long libraryMemoryFor(size_t size) {
    constexpr long kFloor = 32L << 20;
    const double earned = double(size) * 1024.0 + double(kFloor);
    return earned >= double(kMaxLibraryMemory) ? kMaxLibraryMemory : long(earned);
}

// Phase 1: reads the headers up to the first scan and chooses the output colour space: 1 or 3
// components for a picture, A, R, G, B for rows drawn into a caller's pixels.
OSErr readHeader(DecodeJob* job, const uint8_t* data, size_t size, ColourSpace colour, bool argb) {
    installErrors(job->errors);
    job->cinfo.err = &job->errors.pub;
    if (setjmp(job->errors.jump)) return job->errors.status;
    jpeg_create_decompress(&job->cinfo);
    job->progress.progress_monitor = onProgress;
    job->cinfo.progress = &job->progress;
    job->cinfo.mem->max_memory_to_use = libraryMemoryFor(size);
    jpeg_mem_src(&job->cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&job->cinfo, TRUE);
    // The container's word on three colour samples: RGB stored without a transform unless an
    // Adobe marker says what it is; YCbCr always converted.
    if (job->cinfo.num_components == 3) {
        if (colour == ColourSpace::RGB && !job->cinfo.saw_Adobe_marker &&
            job->cinfo.jpeg_color_space == JCS_YCbCr)
            job->cinfo.jpeg_color_space = JCS_RGB;
        else if (colour == ColourSpace::YCbCr && job->cinfo.jpeg_color_space == JCS_RGB)
            job->cinfo.jpeg_color_space = JCS_YCbCr;
    }
    switch (job->cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
        // Grey rows into A, R, G, B are widened here: the library's own widening is slower.
        job->cinfo.out_color_space = JCS_GRAYSCALE;
        job->conversion = argb ? Conversion::GreyToARGB : Conversion::None;
        break;
    case JCS_YCbCr:
    case JCS_RGB:
        job->cinfo.out_color_space = argb ? JCS_EXT_ARGB : JCS_RGB;
        job->conversion = Conversion::None;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        job->cinfo.out_color_space = JCS_CMYK;
        job->conversion = job->cinfo.saw_Adobe_marker ? Conversion::InvertedCMYK : Conversion::CMYK;
        break;
    default:
        return codecUnimpErr;
    }
    return noErr;
}

// (a * b) / 255 rounded, for samples.
inline int mulDiv255(int a, int b) {
    int t = a * b + 128;
    return ((t >> 8) + t) >> 8;
}

// CMYK samples to R, G, B (`step` 3) or A, R, G, B (`step` 4, alpha 255).
void cmykToRgb(const JSAMPLE* in, uint8_t* out, JDIMENSION width, bool inverted, int step) {
    for (JDIMENSION x = 0; x < width; ++x, in += 4, out += step) {
        int c = in[0], m = in[1], y = in[2], k = in[3];
        if (inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
        int white = 255 - k;
        uint8_t* rgb = out;
        if (step == 4) *rgb++ = 255;
        rgb[0] = uint8_t(white - mulDiv255(c, white));
        rgb[1] = uint8_t(white - mulDiv255(m, white));
        rgb[2] = uint8_t(white - mulDiv255(y, white));
    }
}

// Grey samples as opaque A, R, G, B pixels: bytes 255, v, v, v as one word in host order. Kept
// out of the phase function, whose setjmp would keep the loop from being optimised.
[[gnu::noinline]] void greyToARGB(const JSAMPLE* in, uint8_t* out, JDIMENSION width) {
    constexpr bool little = std::endian::native == std::endian::little;
    constexpr uint32_t alpha = little ? 0x000000FFu : 0xFF000000u;
    constexpr uint32_t spread = little ? 0x01010100u : 0x00010101u;
    JDIMENSION x = 0;
#if defined(__SSE2__)
    // Sixteen pixels at a time: (255, v) and (v, v) byte pairs interleaved into 255, v, v, v.
    const __m128i opaque = _mm_set1_epi8(char(0xFF));
    for (; x + 16 <= width; x += 16) {
        const __m128i grey = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x));
        const __m128i alphaLow = _mm_unpacklo_epi8(opaque, grey), alphaHigh = _mm_unpackhi_epi8(opaque, grey);
        const __m128i greyLow = _mm_unpacklo_epi8(grey, grey), greyHigh = _mm_unpackhi_epi8(grey, grey);
        __m128i* to = reinterpret_cast<__m128i*>(out + size_t(x) * 4);
        _mm_storeu_si128(to, _mm_unpacklo_epi16(alphaLow, greyLow));
        _mm_storeu_si128(to + 1, _mm_unpackhi_epi16(alphaLow, greyLow));
        _mm_storeu_si128(to + 2, _mm_unpacklo_epi16(alphaHigh, greyHigh));
        _mm_storeu_si128(to + 3, _mm_unpackhi_epi16(alphaHigh, greyHigh));
    }
#endif
    for (; x < width; ++x) {
        const uint32_t word = alpha | uint32_t(in[x]) * spread;
        std::memcpy(out + size_t(x) * 4, &word, 4);
    }
}

// Where row y goes; a picture grows to hold rows up to `end`.
uint8_t* rowFor(const RowSink& sink, JDIMENSION y, JDIMENSION end) {
    if (sink.samples) {
        const size_t wanted = size_t(end) * sink.rowBytes;
        if (sink.samples->size() < wanted) sink.samples->resize(wanted); // within the reserve
        return sink.samples->data() + size_t(y) * sink.rowBytes;
    }
    return sink.base + size_t(y) * sink.rowBytes;
}

// Phase 2: decodes every row into the sink, then reads up to the end of image so that damage
// after the last row is seen too.
OSErr readPixels(DecodeJob* job, const RowSink* sink, bool argb) {
    if (setjmp(job->errors.jump)) return job->errors.status;
    j_decompress_ptr cinfo = &job->cinfo;
    jpeg_start_decompress(cinfo);
    const int expected = cinfo->out_color_space == JCS_CMYK       ? 4
                         : cinfo->out_color_space == JCS_EXT_ARGB ? 4
                         : cinfo->out_color_space == JCS_RGB      ? 3
                                                                  : 1;
    if (cinfo->output_components != expected || cinfo->output_width != cinfo->image_width ||
        cinfo->output_height != cinfo->image_height)
        return codecErr;
    if (job->conversion == Conversion::GreyToARGB) {
        JSAMPARRAY block = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                                       cinfo->output_width, 16);
        while (cinfo->output_scanline < cinfo->output_height) {
            const JDIMENSION first = cinfo->output_scanline;
            const JDIMENSION count = std::min<JDIMENSION>(16, cinfo->output_height - first);
            const JDIMENSION got = jpeg_read_scanlines(cinfo, block, count);
            if (got == 0) return codecBadDataErr;
            for (JDIMENSION i = 0; i < got; ++i)
                greyToARGB(block[i], rowFor(*sink, first + i, first + got), cinfo->output_width);
        }
    } else if (job->conversion == Conversion::None) {
        while (cinfo->output_scanline < cinfo->output_height) {
            JSAMPROW rows[16];
            const JDIMENSION first = cinfo->output_scanline;
            const JDIMENSION count = std::min<JDIMENSION>(16, cinfo->output_height - first);
            for (JDIMENSION i = 0; i < count; ++i)
                rows[i] = rowFor(*sink, first + i, first + count);
            if (jpeg_read_scanlines(cinfo, rows, count) == 0) return codecBadDataErr;
        }
    } else {
        JSAMPARRAY row = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                                     cinfo->output_width * 4, 1);
        while (cinfo->output_scanline < cinfo->output_height) {
            const JDIMENSION y = cinfo->output_scanline;
            if (jpeg_read_scanlines(cinfo, row, 1) != 1) return codecBadDataErr;
            cmykToRgb(row[0], rowFor(*sink, y, y + 1), cinfo->output_width,
                      job->conversion == Conversion::InvertedCMYK, argb ? 4 : 3);
        }
    }
    jpeg_finish_decompress(cinfo);
    return noErr;
}

// The picture that the decoded stream makes, samples not allocated.
OSErr layoutOf(const DecodeJob& job, Picture& layout) {
    int components = job.cinfo.out_color_space == JCS_GRAYSCALE ? 1 : 3;
    if (!pictureFits(job.cinfo.image_width, job.cinfo.image_height, components, 8)) return codecSizeErr;
    layout.width = int32_t(job.cinfo.image_width);
    layout.height = int32_t(job.cinfo.image_height);
    layout.components = components;
    layout.bitsPerSample = 8;
    layout.precision = 8;
    return noErr;
}

OSErr decodeOrInspect(const uint8_t* data, size_t size, ColourSpace colour, Picture& out, bool withSamples) {
    out = Picture();
    if (!data || size == 0) return codecBadDataErr;
    DecodeJob job;
    std::memset(&job, 0, sizeof job);
    Picture picture;
    OSErr err = readHeader(&job, data, size, colour, false);
    if (err == noErr) err = layoutOf(job, picture);
    if (err == noErr && withSamples) {
        try {
            picture.samples.reserve(picture.rowBytes() * size_t(picture.height));
        } catch (const std::bad_alloc&) {
            err = memFullErr;
        }
        const RowSink sink{&picture.samples, nullptr, picture.rowBytes()};
        if (err == noErr) err = readPixels(&job, &sink, false);
    }
    jpeg_destroy_decompress(&job.cinfo);
    if (err == noErr) out = std::move(picture);
    return err;
}

// ---- encoding ------------------------------------------------------------------------------

// A destination growing a malloc'd buffer that the job owns, so that the caller frees it
// whatever way the library ended (libjpeg's own memory destination loses its buffer on errors).
struct Destination {
    jpeg_destination_mgr pub; // first: the library hands back a pointer to it
    JOCTET* buffer;
    size_t capacity;
    size_t used;
};

constexpr size_t kFirstOutputBlock = 64 * 1024;

void startDestination(j_compress_ptr cinfo) {
    Destination* d = reinterpret_cast<Destination*>(cinfo->dest);
    d->buffer = static_cast<JOCTET*>(std::malloc(kFirstOutputBlock));
    if (!d->buffer) fail(reinterpret_cast<j_common_ptr>(cinfo), memFullErr);
    d->capacity = kFirstOutputBlock;
    d->pub.next_output_byte = d->buffer;
    d->pub.free_in_buffer = d->capacity;
}

boolean growDestination(j_compress_ptr cinfo) {
    // Called when the buffer is full.
    Destination* d = reinterpret_cast<Destination*>(cinfo->dest);
    size_t grown = d->capacity * 2;
    JOCTET* bigger = static_cast<JOCTET*>(std::realloc(d->buffer, grown));
    if (!bigger) fail(reinterpret_cast<j_common_ptr>(cinfo), memFullErr);
    d->buffer = bigger;
    d->pub.next_output_byte = bigger + d->capacity;
    d->pub.free_in_buffer = grown - d->capacity;
    d->capacity = grown;
    return TRUE;
}

void endDestination(j_compress_ptr cinfo) {
    Destination* d = reinterpret_cast<Destination*>(cinfo->dest);
    d->used = d->capacity - d->pub.free_in_buffer;
}

struct EncodeJob {
    jpeg_compress_struct cinfo;
    ErrorRecord errors;
    Destination destination;
};

OSErr compress(EncodeJob* job, const uint8_t* samples, int width, int height, int components, int quality) {
    installErrors(job->errors);
    job->cinfo.err = &job->errors.pub;
    if (setjmp(job->errors.jump)) return job->errors.status;
    j_compress_ptr cinfo = &job->cinfo;
    jpeg_create_compress(cinfo);
    job->destination.pub.init_destination = startDestination;
    job->destination.pub.empty_output_buffer = growDestination;
    job->destination.pub.term_destination = endDestination;
    cinfo->dest = &job->destination.pub;
    cinfo->image_width = JDIMENSION(width);
    cinfo->image_height = JDIMENSION(height);
    cinfo->input_components = components;
    cinfo->in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, quality, TRUE);
    jpeg_start_compress(cinfo, TRUE);
    size_t rowBytes = size_t(width) * size_t(components);
    while (cinfo->next_scanline < cinfo->image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(samples + size_t(cinfo->next_scanline) * rowBytes);
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
    return noErr;
}

} // namespace

OSErr decodeJPEG(const uint8_t* data, size_t size, const DecodeOptions& options, Picture& out) {
    return decodeOrInspect(data, size, options.colour, out, true);
}

OSErr decodeJPEGInto(const uint8_t* data, size_t size, const DecodeOptions& options,
                     const RowTarget& target) {
    if (!data || size == 0) return codecBadDataErr;
    DecodeJob job;
    std::memset(&job, 0, sizeof job);
    OSErr err = readHeader(&job, data, size, options.colour, true);
    if (err == noErr && (job.cinfo.image_width != JDIMENSION(target.width) ||
                         job.cinfo.image_height != JDIMENSION(target.height)))
        err = codecBadDataErr;
    const RowSink sink{nullptr, target.base, target.rowBytes};
    if (err == noErr) err = readPixels(&job, &sink, true);
    jpeg_destroy_decompress(&job.cinfo);
    return err;
}

OSErr inspectJPEG(const uint8_t* data, size_t size, Picture& layout) {
    return decodeOrInspect(data, size, ColourSpace::FromStream, layout, false);
}

OSErr encodeJPEG(const Picture& in, const EncodeOptions& options, std::vector<uint8_t>& out) {
    out.clear();
    if (!in.isConsistent() || in.bitsPerSample != 8 || (in.components != 1 && in.components != 3))
        return paramErr;
    int quality = int(std::lround(double(std::min<uint32_t>(options.quality, 1023)) * 100.0 / 1023.0));
    quality = std::clamp(quality, 1, 100);
    EncodeJob job;
    std::memset(&job, 0, sizeof job);
    OSErr err = compress(&job, in.samples.data(), in.width, in.height, in.components, quality);
    jpeg_destroy_compress(&job.cinfo);
    if (err == noErr) {
        try {
            out.assign(job.destination.buffer, job.destination.buffer + job.destination.used);
        } catch (const std::bad_alloc&) {
            err = memFullErr;
        }
    }
    std::free(job.destination.buffer);
    return err;
}

} // namespace platform::codec::detail
