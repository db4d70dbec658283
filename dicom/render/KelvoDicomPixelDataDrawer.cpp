#include "KelvoDicomPixelDataDrawer.h"

#include "KelvoCoreVideoDataDescriptors.h"
#include "KelvoDicomUtils.h"
#include "KelvoVideo.h"
#include "KelvoVideoDecompression.h"
#include "PlatformPixelFormats.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string>

namespace {

constexpr uint16_t kBitsAllocated = 0x0100;
constexpr uint16_t kBitsStored = 0x0101;
constexpr uint16_t kHighBit = 0x0102;
constexpr uint16_t kRescaleSlope = 0x1053;
constexpr int32_t kPointerInput = 2;

inline uint16_t load16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

// The full-range YCbCr of 8 bits to RGB, as the standard defines it for YBR_FULL:
//     R = Y + 1.402 (Cr - 128), G = Y - 0.344136 (Cb - 128) - 0.714136 (Cr - 128),
//     B = Y + 1.772 (Cb - 128),
// rounded to the nearest and clamped to 0..255. The chroma terms are tables in 1/65536 units.
struct YBRTables {
    int32_t redCr[256], greenCb[256], greenCr[256], blueCb[256];
    YBRTables() {
        for (int c = 0; c < 256; ++c) {
            const double d = double(c - 128) * 65536.0;
            redCr[c] = int32_t(std::lround(1.402 * d));
            greenCb[c] = int32_t(std::lround(-0.344136 * d));
            greenCr[c] = int32_t(std::lround(-0.714136 * d));
            blueCb[c] = int32_t(std::lround(1.772 * d));
        }
    }
};

const YBRTables& ybrTables() {
    static const YBRTables tables;
    return tables;
}

inline uint8_t clampByte(int32_t fixed) {
    const int32_t v = (fixed + 32768) >> 16;
    return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v));
}

inline void ybrToRGB(const YBRTables& t, int32_t y, uint8_t cb, uint8_t cr, uint8_t* out) {
    const int32_t luma = y << 16;
    out[0] = clampByte(luma + t.redCr[cr]);
    out[1] = clampByte(luma + t.greenCb[cb] + t.greenCr[cr]);
    out[2] = clampByte(luma + t.blueCb[cb]);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Free functions

DicomStoredValues DicomStoredValues::of(KelvoDicomDataImagePixel& imagePixel) {
    DicomStoredValues v;
    const uint32_t allocated = std::min<uint32_t>(imagePixel.getUSValueProperty(kBitsAllocated), 16);
    uint32_t stored = imagePixel.getUSValueProperty(kBitsStored);
    uint32_t high = imagePixel.getUSValueProperty(kHighBit);
    if (allocated == 0) return v;
    if (stored == 0 || stored > allocated) stored = allocated;
    if (high + 1 < stored || high >= allocated) high = stored - 1;
    v.bitsStored = uint16_t(stored);
    v.shift = uint16_t(high + 1 - stored);
    v.isSigned = imagePixel.isTwoComplement();
    v.rescale = imagePixel.useRescaleIntercept();
    if (v.rescale) {
        // An intercept without its slope keeps the identity slope rather than flattening the frame.
        v.slope = imagePixel.HasKey(kRescaleSlope) ? imagePixel.Slope() : 1.0;
        v.intercept = imagePixel.Intercept();
        if (v.slope == 1.0 && v.intercept == 0.0) v.rescale = false;
    }
    return v;
}

int32_t DicomStoredValues::modality(int32_t value) const {
    const double m = std::trunc(double(value) * slope + intercept);
    if (!(m == m)) return 0;
    if (m >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (m <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return int32_t(m);
}

void SetupWindowLevelsTable(double centre, double width, uint8_t* table, const DicomStoredValues& values,
                            bool invert, bool swapped) {
    if (!table) return;
    // The linear VOI function: x <= c - 1/2 - (w-1)/2 gives the bottom, x > c - 1/2 + (w-1)/2 the
    // top, and between them ((x - (c - 1/2)) / (w-1) + 1/2) x 255. Width 1 is a threshold at
    // c - 1/2. Compared as doubles, so that windows far beyond any value (or not numbers at all)
    // stay defined.
    const double c = centre - 0.5;
    const double w = width - 1.0;
    const double h = w / 2.0;
    const double low = c - h;
    const double high = c + h;
    const uint8_t flip = invert ? 0xFF : 0x00;
    // One picture for each stored value, then one entry for each word: a frame costs one look-up
    // a sample, whatever its bits stored, High Bit and byte order.
    uint8_t pictures[kDicomWindowTableSize];
    const uint32_t n = values.entries();
    for (uint32_t i = 0; i < n; ++i) {
        const int32_t s = values.stored(i);
        const double x = double(values.rescale ? values.modality(s) : s);
        uint8_t out;
        if (x <= low) {
            out = 0;
        } else if (x > high) {
            out = 255;
        } else {
            const double y = ((x - c) / w + 0.5) * 255.0;
            out = !(y > 0.0) ? 0 : (y >= 255.0 ? 255 : uint8_t(y));
        }
        pictures[i] = uint8_t(out ^ flip);
    }
    for (uint32_t word = 0; word < kDicomWindowTableSize; ++word) {
        const uint32_t read = swapped ? uint32_t(uint16_t((word >> 8) | (word << 8))) : word;
        table[word] = pictures[values.index(read)];
    }
}

void ApplyWindowLevels(void* data, uint32_t count, const uint8_t* table) {
    if (!data || !table) return;
    // Output byte i lies at or below sample i (at 2i): one pass in order is safe in place. Eight
    // samples are read as two words before their eight bytes are written as one, which is below
    // every sample not yet read: a load, eight look-ups and a store for eight samples.
    uint8_t* __restrict p = static_cast<uint8_t*>(data);
    const uint8_t* __restrict t = table;
    uint32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        uint64_t a, b;
        std::memcpy(&a, p + 2 * size_t(i), 8);
        std::memcpy(&b, p + 2 * size_t(i) + 8, 8);
        if constexpr (std::endian::native == std::endian::big) {
            // The samples keep the order they lie in: the words are read back in that order.
            a = __builtin_bswap64(a);
            b = __builtin_bswap64(b);
            a = ((a & 0x00FF00FF00FF00FFull) << 8) | ((a >> 8) & 0x00FF00FF00FF00FFull);
            b = ((b & 0x00FF00FF00FF00FFull) << 8) | ((b >> 8) & 0x00FF00FF00FF00FFull);
        }
        const uint64_t out = uint64_t(t[a & 0xFFFF]) | uint64_t(t[(a >> 16) & 0xFFFF]) << 8 |
                             uint64_t(t[(a >> 32) & 0xFFFF]) << 16 | uint64_t(t[a >> 48]) << 24 |
                             uint64_t(t[b & 0xFFFF]) << 32 | uint64_t(t[(b >> 16) & 0xFFFF]) << 40 |
                             uint64_t(t[(b >> 32) & 0xFFFF]) << 48 | uint64_t(t[b >> 48]) << 56;
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(p + i, &out, 8);
        } else {
            const uint64_t swapped = __builtin_bswap64(out);
            std::memcpy(p + i, &swapped, 8);
        }
    }
    for (; i < count; ++i)
        p[i] = t[load16(p + 2 * size_t(i))];
}

// ---------------------------------------------------------------------------------------------
// Drawer

KelvoDicomPixelDataDrawer::KelvoDicomPixelDataDrawer() = default;

KelvoDicomPixelDataDrawer::~KelvoDicomPixelDataDrawer() {
    tearDown();
}

bool KelvoDicomPixelDataDrawer::qtObjIsValid() {
    return _offScreen != nullptr && _data != nullptr;
}

bool KelvoDicomPixelDataDrawer::qtObjIsValid() const {
    return _offScreen != nullptr && _data != nullptr;
}

bool KelvoDicomPixelDataDrawer::isA(const char* name) const {
    return Kelvo_QTObj::isA(name);
}

void KelvoDicomPixelDataDrawer::releaseContext() {
    // The session draws into the offscreen buffer: it ends first.
    if (_session) {
        _session->endSession();
        delete _session;
        _session = nullptr;
    }
    delete _offScreen;
    _offScreen = nullptr;
    delete[] _outputBuffer;
    _outputBuffer = nullptr;
    _displayedSize = 0;
    std::vector<uint8_t>().swap(_planes);
}

void KelvoDicomPixelDataDrawer::tearDown() {
    releaseContext();
    delete[] _windowTable;
    _windowTable = nullptr;
    delete _palette;
    _palette = nullptr;
    _inversion = 0;
    _frame = Frame{};
}

void KelvoDicomPixelDataDrawer::attachDataSource(void* data, Kelvo_QTObj* description) {
    tearDown();
    _imagePixel.defaultStatus();
    _status = noErr;
    _data = static_cast<uint8_t*>(data);
    if (!_data) return;
    if (!description || !description->isA("KelvoDicomDataImagePixel")) {
        _status = kKelvoBadArgumentObject;
        return;
    }
    initDicomImagePixelDesc(static_cast<KelvoDicomDataImagePixel*>(description));
    initQTContext();
}

bool KelvoDicomPixelDataDrawer::initDicomImagePixelDesc(KelvoDicomDataImagePixel* imagePixel) {
    if (!imagePixel) return false;
    // The table, palette, buffers and session of a former description go with it: the session
    // and its buffers are made again for the new one by initQTContext().
    tearDown();
    _status = noErr;
    _imagePixel = *imagePixel;
    // What every frame needs is read once here: a refresh makes no look-up and no allocation.
    _frame.bytes = _imagePixel.size();
    _frame.bytes8Bit = _imagePixel.size8Bit();
    _frame.wide = _imagePixel.getUSValueProperty(kBitsAllocated) > 8;
    _frame.isSigned = _imagePixel.isTwoComplement();
    _frame.swap = _imagePixel.needByteSwapping();
    _frame.values = DicomStoredValues::of(_imagePixel);
    if (!_frame.wide) {
        // Rescaling applies only to samples over 8 bits.
        _frame.values.rescale = false;
    }
    {
        // Colour a platform codec decodes comes out as RGB already; the codec's own YBR is its.
        const dicmXferSyntaxInfo* encoding = _imagePixel.pixelEncoding();
        const bool codec = encoding && (encoding->flags & kDicmXferPlatformCodec);
        const bool encapsulated = encoding && (encoding->flags & kDicmXferEncapsulated);
        const std::string photometric = _imagePixel.PhotoInterpretation();
        if (!codec && !_frame.wide && _imagePixel.getUSValueProperty(kBitsAllocated) == 8 &&
            _imagePixel.PixelSamples() == 3) {
            if (photometric == "YBR_FULL") {
                _frame.ybr = Frame::YBR::Full;
                // Frames decoded here (RLE) come out interleaved whatever the planar setting.
                _frame.planar = !encapsulated && _imagePixel.PlanarConfiguration() == 1;
            } else if (photometric == "YBR_FULL_422" && !encapsulated) {
                _frame.ybr = Frame::YBR::Full422;
            }
        }
    }
    _palette = _imagePixel.colorPalette();
    _inversion = _imagePixel.needInversionForPhotoInterpretation() ? 1 : 0;
    if (_imagePixel.useWindowing()) {
        _imagePixel.getWindowLevelsDefault(_windowLevels);
        _windowTable = new (std::nothrow) uint8_t[kDicomWindowTableSize];
        if (_windowTable)
            buildWindowTable();
        else
            _status = memFullErr;
    }
    // 8-bit grey is shown by value: its stored bits, from the lowest value (black for
    // MONOCHROME2) to the highest, signed ones from -128 up.
    {
        const dicmXferSyntaxInfo* encoding = _imagePixel.pixelEncoding();
        const bool codec = encoding && (encoding->flags & kDicmXferPlatformCodec);
        const std::string photometric = _imagePixel.PhotoInterpretation();
        const DicomStoredValues& v = _frame.values;
        const bool byValue = v.isSigned || v.bitsStored != 8;
        if (!codec && !_palette && byValue && _imagePixel.getUSValueProperty(kBitsAllocated) == 8 &&
            _imagePixel.PixelSamples() == 1 &&
            (photometric == "MONOCHROME1" || photometric == "MONOCHROME2")) {
            _frame.grey8 = true;
            const uint8_t flip = _inversion ? 0xFF : 0x00;
            for (uint32_t b = 0; b < 256; ++b) {
                const int32_t value = v.stored(v.index(b)) + (v.isSigned ? 128 : 0);
                _greyTable[b] = uint8_t(uint8_t(value) ^ flip);
            }
        }
    }
    return _inversion != 0;
}

bool KelvoDicomPixelDataDrawer::drawnFromSamples() {
    const dicmXferSyntaxInfo* encoding = _imagePixel.pixelEncoding();
    if (encoding && (encoding->flags & kDicmXferPlatformCodec)) return true;
    // The session reads one byte a sample (or a palette colour per index) from the frame: only
    // 8-bit samples, and 16-bit grey that the window reduces to 8 bits, can give it that.
    const uint16_t bits = _imagePixel.getUSValueProperty(kBitsAllocated);
    if (bits == 8) return true;
    return bits == 16 && _windowTable != nullptr;
}

Kelvo_ImgDesc* KelvoDicomPixelDataDrawer::displayedDescription() {
    Kelvo_ImgDesc* desc = _imagePixel.ImageParams();
    if (!desc || !desc->qtObjIsValid()) {
        // A frame that cannot be described cannot be drawn: say so rather than stay silent.
        _status = _imagePixel.Error() != noErr ? _imagePixel.Error() : int32_t(paramErr);
        delete desc;
        return nullptr;
    }
    // YBR colour is RGB by the time the session reads it.
    if (_frame.ybr != Frame::YBR::None) desc->dataFormat(FOUR_CHAR_CODE("raw "));
    return desc;
}

void KelvoDicomPixelDataDrawer::initQTContext() {
    releaseContext();
    _status = noErr;
    Kelvo_ImgDesc* desc = displayedDescription();
    if (!desc) return;
    if (!drawnFromSamples()) {
        const bool tableMissing = _imagePixel.useWindowing() && !_windowTable;
        _status = tableMissing ? int32_t(memFullErr) : int32_t(paramErr);
        delete desc;
        return;
    }
    if (_frame.planar) {
        try {
            _planes.assign(_frame.bytes, 0);
        } catch (const std::bad_alloc&) {
            _status = memFullErr;
            delete desc;
            return;
        }
    }
    const Kelvo_Rect bounds(desc->qtWidth(), desc->qtHeight());
    _offScreen = new Kelvo_QDGWorldBuffer(bounds, k32ARGBPixelFormat);
    if (!_offScreen->qtObjIsValid()) {
        _status = _offScreen->Error() != noErr ? _offScreen->Error() : int32_t(paramErr);
        delete _offScreen;
        _offScreen = nullptr;
        delete desc;
        return;
    }
    _session = new Kelvo_ISDecompressionSession();
    uint32_t size = _frame.bytes8Bit;
    if (_palette) {
        size = uint32_t(desc->qtWidth()) * uint32_t(desc->qtHeight()) * (_palette->hasAlpha() ? 4u : 3u);
        _outputBuffer = new (std::nothrow) uint8_t[size];
        if (!_outputBuffer) size = 0;
    }
    uint8_t* input = _outputBuffer ? _outputBuffer : _data;
    _displayedSize = size;
    if (size > 0 && input) {
        compressionInputRecord record{};
        record.kind = kPointerInput;
        record.pointer = pointerDataRecordForCompression{input, int32_t(size), nullptr};
        _session->sessionParameters(desc);
        _session->inputStorage(&record);
    } else {
        _session->sessionParameters(desc);
    }
    _session->beginSession(_offScreen);
    delete desc;
    if (!_session->isActive()) {
        _status = _session->Error() != noErr ? _session->Error() : int32_t(paramErr);
        delete _session;
        _session = nullptr;
        delete _offScreen;
        _offScreen = nullptr;
    }
}

void KelvoDicomPixelDataDrawer::refreshData() {
    // The frame buffer holds size() bytes: samples of less than 8 bits have fewer bytes than
    // the inversion would complement.
    if (!_data || _frame.bytes8Bit > _frame.bytes) return;
    const uint32_t words = _frame.bytes / 2;
    if (_frame.ybr != Frame::YBR::None) convertYBR();
    bool inverted = false;
    if (_windowTable) {
        // A windowed frame is one 16-bit sample a pixel: its bytes become the first size8Bit()
        // bytes, inverted by the table itself.
        // The owner may switch the swapping off (or on) between frames.
        if (_tableSwapped != (_autoCorrection && _frame.swap)) buildWindowTable();
        ApplyWindowLevels(_data, std::min(words, _frame.bytes8Bit), _windowTable);
        inverted = true;
    } else if (_frame.grey8) {
        uint8_t* data = _data;
        const uint32_t n = _frame.bytes8Bit;
        for (uint32_t i = 0; i < n; ++i)
            data[i] = _greyTable[data[i]];
        inverted = true;
    } else if (_autoCorrection && _frame.swap) {
        DicmUtils_OWSwap(_data, _frame.bytes);
    }
    if (_palette && _outputBuffer) _palette->applyLutsToDataARGB(_data, _outputBuffer, _frame.bytes8Bit);
    if (_inversion && !inverted) {
        // Locals: stores through the byte pointer could otherwise alias the members.
        uint8_t* data = _data;
        const uint32_t n = _frame.bytes8Bit;
        for (uint32_t i = 0; i < n; ++i)
            data[i] = uint8_t(~data[i]);
    }
}

void KelvoDicomPixelDataDrawer::convertYBR() {
    const YBRTables& t = ybrTables();
    uint8_t* data = _data;
    const uint32_t pixels = _frame.bytes8Bit / 3;
    if (_frame.ybr == Frame::YBR::Full422) {
        // Two pixels share one Cb and one Cr: Y0 Y1 Cb Cr in 4 bytes become 6 bytes of RGB.
        // Pairs are expanded from the last one down, so that none is overwritten unread.
        for (uint32_t pair = pixels / 2; pair-- > 0;) {
            const uint8_t* in = data + 4 * size_t(pair);
            const uint8_t y0 = in[0], y1 = in[1], cb = in[2], cr = in[3];
            uint8_t* out = data + 6 * size_t(pair);
            ybrToRGB(t, y0, cb, cr, out);
            ybrToRGB(t, y1, cb, cr, out + 3);
        }
        return;
    }
    if (_frame.planar) {
        if (_planes.size() < size_t(pixels) * 3) return;
        std::memcpy(_planes.data(), data, size_t(pixels) * 3);
        const uint8_t* y = _planes.data();
        const uint8_t* cb = y + pixels;
        const uint8_t* cr = cb + pixels;
        for (uint32_t i = 0; i < pixels; ++i)
            ybrToRGB(t, y[i], cb[i], cr[i], data + 3 * size_t(i));
        return;
    }
    for (uint32_t i = 0; i < pixels; ++i) {
        uint8_t* p = data + 3 * size_t(i);
        ybrToRGB(t, p[0], p[1], p[2], p);
    }
}

void KelvoDicomPixelDataDrawer::playData(bool refresh) {
    if (!_session) return;
    if (refresh) refreshData();
    _session->decompressData(-1, -1);
}

void KelvoDicomPixelDataDrawer::playDataCompressed(uint32_t size) {
    if (!_session) return;
    _session->inputStorage().size = size;
    _session->decompressData(-1, -1);
}

void KelvoDicomPixelDataDrawer::buildWindowTable() {
    _tableSwapped = _autoCorrection && _frame.swap;
    SetupWindowLevelsTable(_windowLevels.getStart(), _windowLevels.getEnd(), _windowTable, _frame.values,
                           _inversion != 0, _tableSwapped);
}

void KelvoDicomPixelDataDrawer::windowLevels(const Kelvo_NumericalRange* range) {
    if (!range || !_imagePixel.useWindowing() || *range == _windowLevels) return;
    _windowLevels = *range;
    if (_windowTable) buildWindowTable();
}
