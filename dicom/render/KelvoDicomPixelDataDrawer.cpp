#include "KelvoDicomPixelDataDrawer.h"

#include "KelvoCoreVideoDataDescriptors.h"
#include "KelvoDicomUtils.h"
#include "KelvoVideo.h"
#include "KelvoVideoDecompression.h"
#include "PlatformPixelFormats.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string>

namespace {

constexpr uint16_t kBitsAllocated = 0x0100;
constexpr uint16_t kRescaleSlope = 0x1053;
constexpr int32_t kPointerInput = 2;

// Truncation toward zero that is defined for every float: NaN gives 0, values beyond 32 bits
// saturate.
int32_t truncToInt32(float v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0f) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483648.0f) return std::numeric_limits<int32_t>::min();
    return int32_t(v);
}

inline uint16_t load16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

inline void store16(uint8_t* p, uint16_t v) {
    std::memcpy(p, &v, 2);
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

void ApplySlopeIntercept(void* data, uint32_t count, float intercept, float slope, bool isSigned) {
    if (!data || (slope == 1.0f && intercept == 0.0f)) return;
    auto* p = static_cast<uint8_t*>(data);
    if (!std::isfinite(slope) || !std::isfinite(intercept)) {
        for (uint32_t i = 0; i < count; ++i, p += 2) {
            const uint16_t raw = load16(p);
            const float sample = isSigned ? float(int16_t(raw)) : float(raw);
            store16(p, uint16_t(uint32_t(truncToInt32(sample * slope + intercept))));
        }
        return;
    }
    // Finite factors give finite or infinite results, never NaN: clamping them into 32 bits
    // makes the conversion defined without a branch, so that the loop vectorises.
    constexpr float kLow = -2147483648.0f, kHigh = 2147483520.0f; // the largest float below 2^31
    for (uint32_t i = 0; i < count; ++i, p += 2) {
        const uint16_t raw = load16(p);
        const float sample = isSigned ? float(int16_t(raw)) : float(raw);
        const float v = std::min(std::max(sample * slope + intercept, kLow), kHigh);
        store16(p, uint16_t(uint32_t(int32_t(v))));
    }
}

void SetupWindowLevelsTable(double centre, double width, uint8_t* table, float offset) {
    if (!table) return;
    const double c = centre - double(offset) - 0.5;
    const double w = width - 1.0;
    const double h = w / 2.0;
    // The bottom of the ramp as the integer below it: every index up to it is 0. Compared as a
    // double, so that windows far beyond the 16-bit range (or not numbers at all) stay defined.
    const double low = std::floor(c - h);
    const double high = c + h;
    for (uint32_t x = 0; x < kDicomWindowTableSize; ++x) {
        const double v = double(x);
        if (v <= low) {
            table[x] = 0;
        } else if (v > high) {
            table[x] = 255;
        } else {
            const double y = ((v - c) / w + 0.5) * 255.0;
            table[x] = !(y > 0.0) ? 0 : (y >= 255.0 ? 255 : uint8_t(y));
        }
    }
}

namespace {

// The window reduction, optionally complemented for depth 40 in the same pass. Eight samples are
// read before their eight bytes are written: output byte i lies below sample i (at 2i), and for
// the first eight the whole group is in registers first, so nothing is read after it is written.
template <bool Signed, bool Shift, bool Invert>
void windowSamples(uint8_t* p, uint32_t count, const uint8_t* table, uint16_t shift) {
    auto look = [table](uint16_t v) -> uint8_t {
        const uint8_t out = (Signed && int16_t(v) < 0) ? 0 : table[v];
        return Invert ? uint8_t(~out) : out;
    };
    uint32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        uint8_t* samples = p + 2 * size_t(i);
        uint16_t s[8];
        std::memcpy(s, samples, sizeof s);
        if (Shift) {
            for (int k = 0; k < 8; ++k)
                s[k] = uint16_t(s[k] - shift);
            std::memcpy(samples, s, sizeof s);
        }
        uint8_t* out = p + i;
        for (int k = 0; k < 8; ++k)
            out[k] = look(s[k]);
    }
    for (; i < count; ++i) {
        uint8_t* sample = p + 2 * size_t(i);
        uint16_t v = load16(sample);
        if (Shift) {
            v = uint16_t(v - shift);
            store16(sample, v);
        }
        p[i] = look(v);
    }
}

template <bool Invert>
void windowSamples(uint8_t* p, bool isSigned, uint32_t count, const uint8_t* table, int32_t offset) {
    const uint16_t shift = uint16_t(uint32_t(offset));
    if (isSigned) {
        if (offset != 0)
            windowSamples<true, true, Invert>(p, count, table, shift);
        else
            windowSamples<true, false, Invert>(p, count, table, 0);
    } else {
        if (offset != 0)
            windowSamples<false, true, Invert>(p, count, table, shift);
        else
            windowSamples<false, false, Invert>(p, count, table, 0);
    }
}

} // namespace

void ApplyWindowLevels(void* data, bool isSigned, uint32_t count, const uint8_t* table, int32_t offset) {
    if (!data || !table) return;
    windowSamples<false>(static_cast<uint8_t*>(data), isSigned, count, table, offset);
}

float DicomWindowOffset(KelvoDicomDataImagePixel& imagePixel) {
    if (!imagePixel.useRescaleIntercept()) return 0.0f;
    const double intercept = imagePixel.Intercept();
    return intercept == 0.0 ? -1024.0f : float(intercept);
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
    // Rescaling reads 16-bit words: 8-bit samples are left as they are.
    _frame.rescale = _frame.wide && _imagePixel.useRescaleIntercept();
    _frame.intercept = float(_imagePixel.Intercept());
    // An intercept without its slope keeps the identity slope rather than flattening the frame.
    _frame.slope = _imagePixel.HasKey(kRescaleSlope) ? float(_imagePixel.Slope()) : 1.0f;
    _frame.offset = DicomWindowOffset(_imagePixel);
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
    if (_imagePixel.useWindowing()) {
        _imagePixel.getWindowLevelsDefault(_windowLevels);
        _windowTable = new (std::nothrow) uint8_t[kDicomWindowTableSize];
        if (_windowTable)
            SetupWindowLevelsTable(_windowLevels.getStart(), _windowLevels.getEnd(), _windowTable,
                                   _frame.offset);
        else
            _status = memFullErr;
    }
    _palette = _imagePixel.colorPalette();
    _inversion = _imagePixel.needInversionForPhotoInterpretation() ? 1 : 0;
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
    if (_autoCorrection) {
        if (_frame.swap) DicmUtils_OWSwap(_data, _frame.bytes);
        if (_frame.rescale)
            ApplySlopeIntercept(_data, words, _frame.intercept, _frame.slope, _frame.isSigned);
    }
    if (_frame.ybr != Frame::YBR::None) convertYBR();
    bool inverted = false;
    if (_windowTable) {
        // A windowed frame is one 16-bit sample a pixel: its bytes are the first size8Bit()
        // bytes, which the same pass complements when the grey is inverted.
        const int32_t offset = truncToInt32(_frame.offset);
        inverted = _inversion && words == _frame.bytes8Bit;
        if (inverted)
            windowSamples<true>(_data, _frame.isSigned, words, _windowTable, offset);
        else
            ApplyWindowLevels(_data, _frame.isSigned, words, _windowTable, offset);
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

void KelvoDicomPixelDataDrawer::windowLevels(const Kelvo_NumericalRange* range) {
    if (!range || !_imagePixel.useWindowing() || *range == _windowLevels) return;
    _windowLevels = *range;
    if (_windowTable)
        SetupWindowLevelsTable(_windowLevels.getStart(), _windowLevels.getEnd(), _windowTable, _frame.offset);
}
