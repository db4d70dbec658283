#include "KelvoDicomDataImagePixel.h"

#include "KelvoCoreVideoDataDescriptors.h"
#include "KelvoDicomDataSetViewsSupport.h"
#include "KelvoDicomUtils.h"
#include "PlatformImageDescriptions.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr uint16_t kPixelGroup = 0x0028;

constexpr uint16_t kSamplesPerPixel = 0x0002;
constexpr uint16_t kPhotometric = 0x0004;
constexpr uint16_t kPlanarConfiguration = 0x0006;
constexpr uint16_t kNumberOfFrames = 0x0008;
constexpr uint16_t kFrameIncrementPointer = 0x0009;
constexpr uint16_t kRows = 0x0010;
constexpr uint16_t kColumns = 0x0011;
constexpr uint16_t kBitsAllocated = 0x0100;
constexpr uint16_t kBitsStored = 0x0101;
constexpr uint16_t kHighBit = 0x0102;
constexpr uint16_t kPixelRepresentation = 0x0103;
constexpr uint16_t kIntensityRelationship = 0x1040;
constexpr uint16_t kWindowCenter = 0x1050;
constexpr uint16_t kWindowWidth = 0x1051;
constexpr uint16_t kRescaleIntercept = 0x1052;
constexpr uint16_t kRescaleSlope = 0x1053;
constexpr uint16_t kRedDescriptor = 0x1101;
constexpr uint16_t kAlphaDescriptor = 0x1104;
constexpr uint16_t kRedData = 0x1201;
constexpr uint16_t kAlphaData = 0x1204;

// Transfer syntax rows the view asks about.
constexpr uint32_t kExplicitBigEndianRow = 3;
constexpr uint32_t kJPEGBaselineRow = 4;
constexpr uint32_t kJPEGLosslessSV1Row = 21;
constexpr uint32_t kJPEG2000LosslessRow = 25;
constexpr uint32_t kJPEG2000Row = 26;

// Truncation toward zero that is defined for every double: NaN gives 0, values beyond the
// 32-bit range saturate.
int32_t truncToInt32(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return int32_t(v);
}

int32_t saturate(int64_t v) {
    if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return int32_t(v);
}

// All value bytes of a node, in order.
std::vector<uint8_t> nodeBytes(KelvoDicomDataNode& node) {
    std::vector<uint8_t> bytes;
    const int32_t n = node.valueCount();
    for (int32_t i = 0; i < n; ++i) {
        Handle h = node.Value(i);
        if (!h) continue;
        bytes.insert(bytes.end(), reinterpret_cast<uint8_t*>(*h),
                     reinterpret_cast<uint8_t*>(*h) + GetHandleSize(h));
        DisposeHandle(h);
    }
    return bytes;
}

// The three numbers of a lookup-table descriptor: three US or SS values, or, as a descriptor
// stored as one block, its first six bytes.
bool readDescriptor(KelvoDicomDataNode& node, uint16_t out[3]) {
    const int32_t format = node.Format();
    if ((format == int32_t(kDicmFormatUS) || format == int32_t(kDicmFormatSS)) && node.valueCount() >= 3) {
        for (int32_t i = 0; i < 3; ++i)
            out[i] = node.usValue(i);
        return true;
    }
    std::vector<uint8_t> bytes = nodeBytes(node);
    if (bytes.size() < 6) return false;
    std::memcpy(out, bytes.data(), 6);
    return true;
}

// A decimal string as DICOM wants it (at most 16 characters): "%f" when that fits, else the
// longest "%g" form that does.
std::string formatDS(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", v);
    for (int precision = 15; std::strlen(text) > 16 && precision > 0; --precision)
        std::snprintf(text, sizeof text, "%.*g", precision, v);
    return text;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Construction

KelvoDicomDataImagePixel::KelvoDicomDataImagePixel() : KelvoDicomDataSet(kPixelGroup) {
    if (_status == noErr) setDefaults();
}

KelvoDicomDataImagePixel::KelvoDicomDataImagePixel(QTAtomContainer container, QTAtom atom)
    : KelvoDicomDataSet(container, atom) {
    if (_status != noErr) return;
    if (_group != kPixelGroup) {
        DicmViews_EmptyGroup(_container, _root, _group, kPixelGroup, _status);
        return;
    }
    // A group read without Photometric Interpretation is answered as MONOCHROME2 (see the
    // getter) but not given the element: dumps and writes show the file as it is.
}

KelvoDicomDataImagePixel::KelvoDicomDataImagePixel(const KelvoDicomDataImagePixel& other)
    : KelvoDicomDataSet(other), _quality(other._quality), _encoding(other._encoding) {}

KelvoDicomDataImagePixel& KelvoDicomDataImagePixel::operator=(const KelvoDicomDataImagePixel& other) {
    if (&other != this) {
        KelvoDicomDataSet::operator=(other);
        DicmViews_Rebind(_container, _root, _group);
        _quality = other._quality;
        _encoding = other._encoding;
    }
    return *this;
}

KelvoDicomDataImagePixel::~KelvoDicomDataImagePixel() = default;

void KelvoDicomDataImagePixel::setDefaults() {
    PhotoInterpretation("MONOCHROME2");
    setUSValueProperty(kBitsAllocated, 8);
    setUSValueProperty(kBitsStored, 8);
    setUSValueProperty(kHighBit, 7);
}

void KelvoDicomDataImagePixel::defaultStatus() {
    DicmViews_EmptyGroup(_container, _root, _group, kPixelGroup, _status);
    if (_status == noErr && _root) setDefaults();
}

Kelvo_QTObj* KelvoDicomDataImagePixel::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new KelvoDicomDataImagePixel(*this);
}

void KelvoDicomDataImagePixel::Copy(Kelvo_Dictionary& other) {
    if (&other == this || !other.isA("KelvoDicomDataImagePixel")) return;
    Kelvo_Dictionary::Copy(other);
    if (_status != noErr) return;
    DicmViews_Rebind(_container, _root, _group);
    auto& pixel = static_cast<KelvoDicomDataImagePixel&>(other);
    _quality = pixel._quality;
    _encoding = pixel._encoding;
}

// ---------------------------------------------------------------------------------------------
// Accessors

uint16_t KelvoDicomDataImagePixel::PixelSamples() {
    return getUSValueProperty(kSamplesPerPixel);
}

void KelvoDicomDataImagePixel::PixelSamples(uint16_t samples) {
    if (samples != 1 && samples != 3 && samples != 4) samples = 1;
    setUSValueProperty(kSamplesPerPixel, samples);
    if (samples == 1)
        KelvoDicomDataSet::RemoveKey(kPlanarConfiguration); // constructors come here too
    else
        setUSValueProperty(kPlanarConfiguration, 0);
}

uint16_t KelvoDicomDataImagePixel::PlanarConfiguration() {
    return getUSValueProperty(kPlanarConfiguration);
}

void KelvoDicomDataImagePixel::PlanarConfiguration(uint16_t value) {
    setUSValueProperty(kPlanarConfiguration, value == 1 ? 1 : 0);
}

const char* KelvoDicomDataImagePixel::PhotoInterpretation() {
    if (_container && !KelvoDicomDataSet::HasKey(kPhotometric)) return "MONOCHROME2";
    return getStringValueProperty(kPhotometric);
}

void KelvoDicomDataImagePixel::PhotoInterpretation(const char* name) {
    const dicmPhotoInfo* info = VUX::VUXDCM::VUXDicomLibrary::photoInterpretationInfo(name);
    if (!info) {
        _status = paramErr;
        return;
    }
    setStringValueProperty(kPhotometric, info->name);
    PixelSamples(uint16_t(info->samplesPerPixel));
}

const char* KelvoDicomDataImagePixel::PixelIntensityRelationShip() {
    return getStringValueProperty(kIntensityRelationship);
}

void KelvoDicomDataImagePixel::PixelIntensityRelationShip(const char* value) {
    if (!value || (std::strcmp(value, "LIN") != 0 && std::strcmp(value, "LOG") != 0 &&
                   std::strcmp(value, "DISP") != 0)) {
        _status = paramErr;
        return;
    }
    setStringValueProperty(kIntensityRelationship, value);
}

int32_t KelvoDicomDataImagePixel::FramesCount() {
    if (!HasKey(kNumberOfFrames)) return 1;
    // A count of no frames or fewer would make every frame loop of the callers meaningless.
    const int32_t frames = DicmUtils_ISToNumber(getStringValueProperty(kNumberOfFrames));
    return frames < 1 ? 1 : frames;
}

void KelvoDicomDataImagePixel::FramesCount(int32_t frames) {
    if (frames < 1) {
        _status = paramErr;
        return;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%d", int(frames));
    setStringValueProperty(kNumberOfFrames, text);
}

double KelvoDicomDataImagePixel::dsValue(uint16_t element, bool& present) {
    present = false;
    if (!HasKey(element)) return 0.0;
    const char* text = getStringValueProperty(element);
    while (*text == ' ')
        ++text;
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text) return 0.0;
    present = true;
    return v;
}

double KelvoDicomDataImagePixel::Intercept() {
    bool present = false;
    return dsValue(kRescaleIntercept, present);
}

double KelvoDicomDataImagePixel::Slope() {
    bool present = false;
    return dsValue(kRescaleSlope, present);
}

void KelvoDicomDataImagePixel::Intercept(float value) {
    if (!std::isfinite(value)) {
        _status = paramErr;
        return;
    }
    setStringValueProperty(kRescaleIntercept, formatDS(value).c_str());
}

void KelvoDicomDataImagePixel::Slope(float value) {
    if (!std::isfinite(value)) {
        _status = paramErr;
        return;
    }
    setStringValueProperty(kRescaleSlope, formatDS(value).c_str());
}

bool KelvoDicomDataImagePixel::useRescaleIntercept() {
    return HasKey(kRescaleSlope) || HasKey(kRescaleIntercept);
}

bool KelvoDicomDataImagePixel::isTwoComplement() {
    return getUSValueProperty(kPixelRepresentation) == 1;
}

void KelvoDicomDataImagePixel::isTwoComplement(bool on) {
    setUSValueProperty(kPixelRepresentation, on ? 1 : 0);
}

void KelvoDicomDataImagePixel::FrameIncrementPointer(KelvoDicomDataNode* node) {
    DicmViews_SetNode(*this, kFrameIncrementPointer, node, _status);
}

void KelvoDicomDataImagePixel::WindowCenter(KelvoDicomDataNode* node) {
    DicmViews_SetNode(*this, kWindowCenter, node, _status);
}

void KelvoDicomDataImagePixel::WindowWidth(KelvoDicomDataNode* node) {
    DicmViews_SetNode(*this, kWindowWidth, node, _status);
}

Kelvo_Size* KelvoDicomDataImagePixel::imageSize() {
    return new Kelvo_Size(getUSValueProperty(kColumns), getUSValueProperty(kRows));
}

void KelvoDicomDataImagePixel::imageSize(const Kelvo_Size* size) {
    double width = 0.0, height = 0.0;
    if (size) {
        width = size->width();
        height = size->height();
    }
    auto fits = [](double v) { return v >= 0.0 && v < 65536.0; }; // false for NaN too
    if (!fits(width) || !fits(height)) {
        _status = paramErr;
        return;
    }
    setUSValueProperty(kColumns, uint16_t(width));
    setUSValueProperty(kRows, uint16_t(height));
}

uint32_t KelvoDicomDataImagePixel::size() {
    const uint64_t bytes = uint64_t((getUSValueProperty(kBitsAllocated) & ~7u) / 8) *
                           getUSValueProperty(kRows) * getUSValueProperty(kColumns) *
                           getUSValueProperty(kSamplesPerPixel);
    if (bytes > 0xFFFFFFFFu) {
        _status = paramErr;
        return 0;
    }
    return uint32_t(bytes);
}

uint32_t KelvoDicomDataImagePixel::size8Bit() {
    const uint64_t bytes = uint64_t(getUSValueProperty(kColumns)) * getUSValueProperty(kRows) *
                           getUSValueProperty(kSamplesPerPixel);
    if (bytes > 0xFFFFFFFFu) {
        _status = paramErr;
        return 0;
    }
    return uint32_t(bytes);
}

// ---------------------------------------------------------------------------------------------
// Rendering decisions

bool KelvoDicomDataImagePixel::useWindowing() {
    const std::string photometric = PhotoInterpretation();
    if (photometric != "MONOCHROME1" && photometric != "MONOCHROME2") return false;
    return getUSValueProperty(kBitsAllocated) > 8;
}

bool KelvoDicomDataImagePixel::needInversionForPhotoInterpretation() {
    if (_encoding && (_encoding->flags & kDicmXferPlatformCodec) && _encoding->id != kJPEGLosslessSV1Row)
        return false;
    return std::strcmp(PhotoInterpretation(), "MONOCHROME2") == 0;
}

bool KelvoDicomDataImagePixel::needByteSwapping() {
    return getUSValueProperty(kBitsAllocated) >= 9 && _encoding &&
           !(_encoding->flags & kDicmXferEncapsulated) && _encoding->id == kExplicitBigEndianRow;
}

// ---------------------------------------------------------------------------------------------
// Window

void KelvoDicomDataImagePixel::getWindowLevelsDefault(Kelvo_NumericalRange& window) {
    window.defaultStatus();
    if (!useWindowing()) return;
    const int bits = getUSValueProperty(kBitsStored);
    double centre = 0.0, width = 0.0;
    bool present = false;
    if (HasKey(kWindowCenter)) {
        const double v = dsValue(kWindowCenter, present);
        if (present) centre = v;
    } else {
        centre = double(uint32_t(2) << ((bits - 2) & 31)); // 2^(bits - 1)
    }
    if (HasKey(kWindowWidth)) {
        const double v = dsValue(kWindowWidth, present);
        if (present) width = v;
    } else {
        width = double((uint32_t(2) << ((bits - 1) & 31)) - 1u); // 2^bits - 1
    }
    window(centre, width);
}

void KelvoDicomDataImagePixel::setWindowLevelsDefault(const Kelvo_NumericalRange& window) {
    const double centre = window.getStart(), width = window.getEnd();
    if (centre == width) return;
    char text[16];
    std::snprintf(text, sizeof text, "%d", int(truncToInt32(centre)));
    setStringValueProperty(kWindowCenter, text);
    std::snprintf(text, sizeof text, "%d", int(truncToInt32(width)));
    setStringValueProperty(kWindowWidth, text);
}

void KelvoDicomDataImagePixel::getWindowCenterRange(Kelvo_NumericalRange& range) {
    range.defaultStatus();
    if (!useWindowing()) return;
    Kelvo_NumericalRange window;
    getWindowLevelsDefault(window);
    const double c = window.getStart();
    const double end = HasKey(kWindowCenter) ? c + double(truncToInt32(c) >> 1) : c;
    range(-c, end);
}

void KelvoDicomDataImagePixel::getWindowWidthRange(Kelvo_NumericalRange& range) {
    range.defaultStatus();
    if (!useWindowing()) return;
    Kelvo_NumericalRange window;
    getWindowLevelsDefault(window);
    const double w = window.getEnd();
    const double end = HasKey(kWindowWidth) ? w + double(truncToInt32(w) >> 1) : w;
    range(1.0, end);
}

void KelvoDicomDataImagePixel::windowRange(int32_t& centreMax, int32_t& centreMin, int32_t& widthMax,
                                           int32_t& widthMin) {
    centreMax = centreMin = widthMax = widthMin = 0;
    if (!useWindowing()) return;
    Kelvo_NumericalRange window;
    getWindowLevelsDefault(window);
    const int32_t ci = truncToInt32(window.getStart());
    const int32_t wi = truncToInt32(window.getEnd());
    if (HasKey(kWindowCenter) && HasKey(kWindowWidth)) {
        centreMax = saturate(int64_t(ci) + (ci >> 1));
        widthMax = saturate(int64_t(wi) + (wi >> 1));
    } else {
        centreMax = ci;
        widthMax = wi;
    }
    centreMin = saturate(-int64_t(ci));
    widthMin = 1;
}

// ---------------------------------------------------------------------------------------------
// Palette

bool KelvoDicomDataImagePixel::hasColorPalette() {
    for (uint16_t element : {uint16_t(0x1101), uint16_t(0x1102), uint16_t(0x1103), uint16_t(0x1201),
                             uint16_t(0x1202), uint16_t(0x1203)})
        if (!HasKey(element)) return false;
    return true;
}

KelvoDicomPixelLut* KelvoDicomDataImagePixel::colorPalette() {
    if (!hasColorPalette()) return nullptr;
    KelvoDicomDataNode descriptor;
    getProperty(kRedDescriptor, descriptor);
    uint16_t d[3] = {0, 0, 0};
    if (!readDescriptor(descriptor, d)) {
        _status = paramErr;
        return nullptr;
    }
    const uint32_t entries = d[0] == 0 ? kDicomLutMaxEntries : d[0];
    const int32_t first = descriptor.VR()[0] == 'U' ? int32_t(d[1]) : int32_t(int16_t(d[1]));
    const bool alpha = HasKey(kAlphaData);
    auto* lut = new KelvoDicomPixelLut(entries, d[2], alpha);
    if (!lut->qtObjIsValid()) {
        _status = lut->Error();
        delete lut;
        return nullptr;
    }
    lut->firstMappedValue(first);
    bool complete = true;
    for (lutselector s = kDicomLutRed; s <= (alpha ? kDicomLutAlpha : kDicomLutBlue); ++s) {
        KelvoDicomDataNode data;
        getProperty(uint16_t(kRedData + s - 1), data);
        std::vector<uint8_t> bytes = nodeBytes(data);
        if (bytes.empty()) continue;
        lut->lutData(bytes.data(), uint32_t(bytes.size()), s);
        if (bytes.size() < lut->sizeOfLuts()) complete = false;
    }
    // A table shorter than its descriptor says is kept with its missing tail zero; the status
    // tells the caller.
    _status = complete ? noErr : paramErr;
    return lut;
}

void KelvoDicomDataImagePixel::colorPalette(KelvoDicomPixelLut* lut) {
    if (PixelSamples() != 1 || std::strcmp(PhotoInterpretation(), "PALETTE COLOR") != 0 || !lut ||
        !lut->qtObjIsValid())
        return;
    const char* vr = lut->bitsPerEntry() == 8 ? "US" : (isTwoComplement() ? "SS" : "US");
    const uint16_t values[3] = {uint16_t(lut->entries() >= kDicomLutMaxEntries ? 0 : lut->entries()),
                                uint16_t(lut->firstMappedValue()), lut->bitsPerEntry()};
    // A former element of another VR would refuse the new value: palette elements are replaced.
    int32_t first = noErr;
    auto store = [&](uint16_t element, const char* elementVR, KelvoDicomDataNode& node) {
        RemoveKey(element);
        setProperty(element, elementVR, node);
        if (first == noErr) first = _status;
    };
    auto descriptor = [&](const char* descriptorVR) {
        KelvoDicomDataNode node(descriptorVR);
        for (uint16_t v : values)
            node.numberSet(0, &v);
        return node;
    };
    KelvoDicomDataNode colour = descriptor(vr);
    for (uint16_t element = kRedDescriptor; element <= 0x1103; ++element)
        store(element, vr, colour);
    if (lut->hasAlpha()) {
        KelvoDicomDataNode alpha = descriptor("US");
        store(kAlphaDescriptor, "US", alpha);
    }
    for (lutselector s = kDicomLutRed; s <= kDicomLutAlpha; ++s) {
        KelvoDicomDataNode* data = lut->dicomLutData(s);
        if (!data) continue;
        store(uint16_t(kRedData + s - 1), "OW", *data);
        delete data;
    }
    _status = first;
}

// ---------------------------------------------------------------------------------------------
// Image description

Kelvo_ImgDesc* KelvoDicomDataImagePixel::ImageParams() {
    auto* desc = new Kelvo_ImgDesc();
    if (!desc->qtObjIsValid()) {
        _status = desc->Error();
        delete desc;
        return nullptr;
    }
    const std::string photometric = PhotoInterpretation();
    uint32_t format = FOUR_CHAR_CODE("raw ");
    if (_encoding && (_encoding->flags & kDicmXferPlatformCodec)) {
        if (_encoding->id == kJPEGBaselineRow)
            format = FOUR_CHAR_CODE("jpeg");
        else if (_encoding->id == kJPEG2000LosslessRow || _encoding->id == kJPEG2000Row)
            format = FOUR_CHAR_CODE("mjp2");
    } else if (photometric == "RGB") {
        if (PlanarConfiguration() == 1) format = FOUR_CHAR_CODE("8BPS");
    } else if (photometric == "CMYK") {
        format = FOUR_CHAR_CODE("cmyk");
    } else if (photometric == "YBR_FULL_422") {
        format = getUSValueProperty(kBitsAllocated) == 8 ? FOUR_CHAR_CODE("2vuy") : FOUR_CHAR_CODE("v216");
    }
    const uint32_t width = getUSValueProperty(kColumns);
    const uint32_t height = getUSValueProperty(kRows);
    const uint32_t samples = PixelSamples();
    const bool palette = hasColorPalette();
    const bool alpha = HasKey(kAlphaData);
    int32_t depth = 40;
    if (samples != 1)
        depth = int32_t(samples) * 8;
    else if (palette)
        depth = alpha ? 32 : 24;
    const uint64_t dataSize =
        palette ? uint64_t(width) * height * (alpha ? 4 : 3) : uint64_t(samples) * height * width;
    // The description's edges and depth are 16-bit and its data size 32-bit: what does not fit
    // cannot be described.
    if (width > 0x7FFF || height > 0x7FFF || depth > 0x7FFF || dataSize > 0x7FFFFFFF) {
        _status = paramErr;
        delete desc;
        return nullptr;
    }
    desc->dataFormat(format);
    desc->qtWidth(int16_t(width));
    desc->qtHeight(int16_t(height));
    desc->qtDepth(int16_t(depth));
    desc->qtSpatialQuality(_quality);
    desc->qtFrameCount(1);
    desc->qtDataSize(int32_t(dataSize));
    if (format == FOUR_CHAR_CODE("jpeg") && samples == 3 &&
        (photometric == "RGB" || photometric.rfind("YBR_", 0) == 0)) {
        // The codestream's colour samples are what Photometric Interpretation says, not what
        // the codec would guess from its markers: matrix 0 is R, G, B as stored, 6 YCbCr.
        NCLCColorInfoImageDescriptionExtension colour{FOUR_CHAR_CODE("nclc"), 2, 2,
                                                      uint16_t(photometric == "RGB" ? 0 : 6)};
        desc->setProperty(kICMImageDescriptionPropertyID_NCLCColorInfo, &colour, sizeof colour);
    }
    return desc;
}

void KelvoDicomDataImagePixel::ImageParams(Kelvo_ImgDesc* desc) {
    if (!desc || !desc->qtObjIsValid()) {
        _status = paramErr;
        return;
    }
    const int16_t width = desc->qtWidth(), height = desc->qtHeight(), depth = desc->qtDepth();
    if (width < 0 || height < 0 || depth <= 0) {
        _status = paramErr;
        return;
    }
    setUSValueProperty(kColumns, uint16_t(width));
    setUSValueProperty(kRows, uint16_t(height));
    if (depth == 40) {
        PhotoInterpretation("MONOCHROME2");
        PixelSamples(1);
        setUSValueProperty(kBitsAllocated, 8);
        setUSValueProperty(kBitsStored, 8);
        setUSValueProperty(kHighBit, 7);
    } else {
        const int16_t wanted = int16_t(depth / 8);
        const uint16_t samples = (wanted == 3 || wanted == 4) ? uint16_t(wanted) : 1;
        PixelSamples(samples);
        // Bits are counted per sample, so that what ImageParams() reads back describes the same
        // frame: 24 is three samples of 8 bits, 16 one sample of 16.
        const uint16_t bits = uint16_t(depth / samples);
        setUSValueProperty(kBitsAllocated, bits);
        setUSValueProperty(kBitsStored, bits);
        setUSValueProperty(kHighBit, uint16_t(bits - 1));
    }
    _quality = desc->qtSpatialQuality();
}
