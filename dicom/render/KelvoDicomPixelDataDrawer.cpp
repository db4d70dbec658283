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

void KelvoDicomPixelDataDrawer::initQTContext() {
    releaseContext();
    _status = noErr;
    Kelvo_ImgDesc* desc = _imagePixel.ImageParams();
    if (!desc || !desc->qtObjIsValid()) {
        // A frame that cannot be described cannot be drawn: say so rather than stay silent.
        _status = _imagePixel.Error() != noErr ? _imagePixel.Error() : int32_t(paramErr);
        delete desc;
        return;
    }
    if (!drawnFromSamples()) {
        const bool tableMissing = _imagePixel.useWindowing() && !_windowTable;
        _status = tableMissing ? int32_t(memFullErr) : int32_t(paramErr);
        delete desc;
        return;
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
