#include "KelvoCoreVideoDataDescriptors.h"

#include "KelvoCoreComponents.h"
#include "KelvoCoreObjectsUtils.h"
#include "KelvoProperties.h"
#include "KelvoVideoCompressionSettings.h"
#include "PlatformEndian.h"
#include "PlatformFixed.h"
#include "PlatformGWorlds.h"
#include "PlatformMemory.h"
#include "PlatformMoviePlayback.h"
#include "PlatformPendingDisplayCalls.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <memory>

#define IMG_FIELD(name) Size(offsetof(ImageDescription, name))

namespace {

constexpr int32_t kMissingSource = 79;
constexpr OSType kVisualCharacteristic = FOUR_CHAR_CODE("eyes");

// A value of the description's property, or false when it cannot be read.
template <class T> bool readProperty(ImageDescriptionHandle desc, OSType id, T& value) {
    if (!desc) return false;
    ByteCount used = 0;
    return ICMImageDescriptionGetProperty(desc, kQTPropertyClass_ImageDescription, id, sizeof value, &value,
                                          &used) == noErr &&
           used == sizeof value;
}

// A double truncated into 16 bits; false when it does not fit.
bool toShort(double v, int16_t& out) {
    if (!(v >= -32768.0 && v < 32768.0)) return false;
    out = int16_t(std::trunc(v));
    return true;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Kelvo_ImgDesc: construction

Kelvo_ImgDesc::Kelvo_ImgDesc() : Kelvo_SmpDescriptor(kImageDescriptionSize) {
    setDefaults();
}

Kelvo_ImgDesc::Kelvo_ImgDesc(uint32_t) : Kelvo_SmpDescriptor(-1) {}

Kelvo_ImgDesc::Kelvo_ImgDesc(const Kelvo_ImgDesc& other) : Kelvo_SmpDescriptor(other), _roi(other._roi) {
    _size = other._size;
}

Kelvo_ImgDesc::Kelvo_ImgDesc(SampleDescriptionHandle desc) : Kelvo_SmpDescriptor(-1) {
    if (!desc) {
        _status = kMissingSource;
        return;
    }
    copy(desc);
}

Kelvo_ImgDesc::Kelvo_ImgDesc(ImageDescriptionHandle desc) : Kelvo_SmpDescriptor(-1) {
    if (!desc) {
        _status = kMissingSource;
        return;
    }
    Kelvo_SmpDescriptor::copy(reinterpret_cast<SampleDescriptionHandle>(desc));
}

Kelvo_ImgDesc::Kelvo_ImgDesc(Media media, int32_t index) : Kelvo_SmpDescriptor(media, index) {
    Boolean visual = false;
    if (media && MediaHasCharacteristic(GetMediaHandler(media), kVisualCharacteristic, &visual) == noErr &&
        visual && _desc)
        return;
    reset();
    _status = invalidMedia;
}

Kelvo_ImgDesc::Kelvo_ImgDesc(GWorldPtr world) : Kelvo_SmpDescriptor(-1) {
    if (!world) {
        _status = kMissingSource;
        return;
    }
    ImageDescriptionHandle h = nullptr;
    _status = MakeImageDescriptionForPixMap(GetGWorldPixMap(world), &h);
    if (_status == noErr && h) {
        _desc = reinterpret_cast<Handle>(h);
        _descriptorSize = GetHandleSize(_desc);
    } else if (h) {
        DisposeHandle(reinterpret_cast<Handle>(h));
    }
}

Kelvo_ImgDesc::Kelvo_ImgDesc(QTAtomContainer settings) : Kelvo_SmpDescriptor(kImageDescriptionSize) {
    setDefaults();
    if (!settings) {
        reset();
        _status = kMissingSource;
        return;
    }
    uint32_t codecType = 0;
    uint32_t quality = 0;
    int16_t depth = 0;
    const int16_t err = SpatialSettingsValues(settings, &codecType, &quality, &depth, 0);
    if (err != noErr) {
        dataFormat(FOUR_CHAR_CODE("cvid"));
        _status = err;
        return;
    }
    field(IMG_FIELD(spatialQuality), quality);
    field(IMG_FIELD(depth), depth);
    dataFormat(codecType);
    Fixed width = 0, height = 0;
    if (QTSettings_DimensionsValues(settings, &width, nullptr, 0) != noErr) return;
    field(IMG_FIELD(width), int16_t(FixRound(width)));
    if (QTSettings_DimensionsValues(settings, nullptr, &height, 0) != noErr) return;
    field(IMG_FIELD(height), int16_t(FixRound(height)));
}

Kelvo_ImgDesc::Kelvo_ImgDesc(ComponentInstance importer) : Kelvo_SmpDescriptor(-1) {
    if (!importer) {
        _status = kMissingSource;
        return;
    }
    ImageDescriptionHandle h = nullptr;
    _status = GraphicsImportGetImageDescription(importer, &h);
    if (_status == noErr && h) {
        _desc = reinterpret_cast<Handle>(h);
        _descriptorSize = GetHandleSize(_desc);
    } else if (h) {
        DisposeHandle(reinterpret_cast<Handle>(h));
    }
}

Kelvo_ImgDesc::~Kelvo_ImgDesc() = default;

void Kelvo_ImgDesc::setDefaults() {
    _roi = Rect{0, 0, 0, 0};
    _size.defaultStatus();
    if (!_desc) {
        _descriptorSize = kImageDescriptionSize;
        Kelvo_SmpDescriptor::init();
        if (!_desc) return;
    }
    if (GetHandleSize(_desc) < kImageDescriptionSize) {
        SetHandleSize(_desc, kImageDescriptionSize);
        if (MemError() != noErr) {
            _status = MemError();
            return;
        }
    }
    ImageDescription d{};
    d.idSize = int32_t(GetHandleSize(_desc));
    d.hRes = 0x00480000; // 72.0
    d.vRes = 0x00480000;
    d.frameCount = 1;
    d.spatialQuality = 512;
    d.temporalQuality = 512;
    d.clutID = -1;
    std::memcpy(*_desc, &d, sizeof d);
}

void Kelvo_ImgDesc::defaultStatus() {
    setDefaults();
}

void Kelvo_ImgDesc::reset() {
    Kelvo_MediaDataDescriptor::defaultStatus();
    _roi = Rect{0, 0, 0, 0};
}

Kelvo_QTObj* Kelvo_ImgDesc::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new Kelvo_ImgDesc(*this);
}

bool Kelvo_ImgDesc::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_SmpDescriptor::isA(name) || std::strcmp(name, "Kelvo_ImgDesc") == 0;
}

bool Kelvo_ImgDesc::requireInstalledCodec() {
    if (Kelvo_Codec::codecExists(dataFormat())) return true;
    reset();
    _status = kMissingSource;
    return false;
}

bool Kelvo_ImgDesc::copy(const Kelvo_SmpDescriptor& other) {
    if (!other.isA("Kelvo_ImgDesc")) return false;
    if (!Kelvo_SmpDescriptor::copy(other)) return false;
    const auto& img = static_cast<const Kelvo_ImgDesc&>(other);
    _roi = img._roi;
    return true;
}

bool Kelvo_ImgDesc::copy(SampleDescriptionHandle desc) {
    if (!Kelvo_SmpDescriptor::copy(desc)) return false;
    return requireInstalledCodec();
}

// ---------------------------------------------------------------------------------------------
// Fields

bool Kelvo_ImgDesc::hasExtension() {
    int32_t type = 0;
    return _desc && GetNextImageDescriptionExtensionType(hImageDesc(), &type) == noErr && type != 0;
}

uint32_t Kelvo_ImgDesc::dataFormat() {
    return field<uint32_t>(IMG_FIELD(cType));
}

void Kelvo_ImgDesc::dataFormat(uint32_t type) {
    if (!_desc) return;
    Kelvo_Codec codec(type, nullptr);
    if (!codec.qtObjIsValid()) {
        _status = codec.Error() != 0 ? codec.Error() : int32_t(noCodecErr);
        return;
    }
    field(IMG_FIELD(cType), type);
    field(IMG_FIELD(vendor), int32_t(codec.Manufacturer()));
    qtCodecName(const_cast<char*>(codec.Name()), 1);
}

int32_t Kelvo_ImgDesc::descVersion() {
    return field<int16_t>(IMG_FIELD(version));
}

int16_t Kelvo_ImgDesc::qtWidth() {
    return field<int16_t>(IMG_FIELD(width));
}
void Kelvo_ImgDesc::qtWidth(int16_t width) {
    field(IMG_FIELD(width), width);
}
int16_t Kelvo_ImgDesc::qtHeight() {
    return field<int16_t>(IMG_FIELD(height));
}
void Kelvo_ImgDesc::qtHeight(int16_t height) {
    field(IMG_FIELD(height), height);
}
int16_t Kelvo_ImgDesc::qtDepth() {
    return field<int16_t>(IMG_FIELD(depth));
}
void Kelvo_ImgDesc::qtDepth(int16_t depth) {
    if (depth > 0) field(IMG_FIELD(depth), depth);
}
int16_t Kelvo_ImgDesc::qtFrameCount() {
    return field<int16_t>(IMG_FIELD(frameCount));
}
void Kelvo_ImgDesc::qtFrameCount(int16_t count) {
    field(IMG_FIELD(frameCount), count);
}
int32_t Kelvo_ImgDesc::qtDataSize() {
    return field<int32_t>(IMG_FIELD(dataSize));
}
void Kelvo_ImgDesc::qtDataSize(int32_t size) {
    field(IMG_FIELD(dataSize), size);
}
uint32_t Kelvo_ImgDesc::qtSpatialQuality() {
    return field<uint32_t>(IMG_FIELD(spatialQuality));
}
void Kelvo_ImgDesc::qtSpatialQuality(uint32_t quality) {
    field(IMG_FIELD(spatialQuality), quality);
}
uint32_t Kelvo_ImgDesc::qtTemporalQuality() {
    return field<uint32_t>(IMG_FIELD(temporalQuality));
}
void Kelvo_ImgDesc::qtTemporalQuality(uint32_t quality) {
    field(IMG_FIELD(temporalQuality), quality);
}
Fixed Kelvo_ImgDesc::qtFixHRes() {
    return field<Fixed>(IMG_FIELD(hRes));
}
void Kelvo_ImgDesc::qtFixHRes(Fixed res) {
    field(IMG_FIELD(hRes), res);
}
Fixed Kelvo_ImgDesc::qtFixVRes() {
    return field<Fixed>(IMG_FIELD(vRes));
}
void Kelvo_ImgDesc::qtFixVRes(Fixed res) {
    field(IMG_FIELD(vRes), res);
}
int16_t Kelvo_ImgDesc::qtHRes() {
    return _desc ? FixRound(qtFixHRes()) : 0;
}
void Kelvo_ImgDesc::qtHRes(int16_t res) {
    qtFixHRes(Long2Fix(res));
}
int16_t Kelvo_ImgDesc::qtVRes() {
    return _desc ? FixRound(qtFixVRes()) : 0;
}
void Kelvo_ImgDesc::qtVRes(int16_t res) {
    qtFixVRes(Long2Fix(res));
}
int16_t Kelvo_ImgDesc::qtClutID() {
    return field<int16_t>(IMG_FIELD(clutID));
}

Fixed Kelvo_ImgDesc::qtFixWidth() {
    Fixed v = 0;
    return readProperty(hImageDesc(), kICMImageDescriptionPropertyID_CleanApertureWidth, v) ? v : 0;
}
void Kelvo_ImgDesc::qtFixWidth(Fixed width) {
    // As size() does: a negative edge is refused (FixRound saturates at 16 bits).
    if (width < 0) {
        _status = paramErr;
        return;
    }
    field(IMG_FIELD(width), FixRound(width));
}
Fixed Kelvo_ImgDesc::qtFixHeight() {
    Fixed v = 0;
    return readProperty(hImageDesc(), kICMImageDescriptionPropertyID_CleanApertureHeight, v) ? v : 0;
}
void Kelvo_ImgDesc::qtFixHeight(Fixed height) {
    if (height < 0) {
        _status = paramErr;
        return;
    }
    field(IMG_FIELD(height), FixRound(height));
}

const Kelvo_Size& Kelvo_ImgDesc::size() {
    _size.width() = qtWidth();
    _size.height() = qtHeight();
    return _size;
}

void Kelvo_ImgDesc::size(const Kelvo_Size& size) {
    if (!size.qtObjIsValid() || size == this->size()) return;
    int16_t w = 0, h = 0;
    if (!toShort(size.width(), w) || !toShort(size.height(), h)) {
        _status = paramErr;
        return;
    }
    _size.width() = size.width();
    _size.height() = size.height();
    qtWidth(w);
    qtHeight(h);
}

void Kelvo_ImgDesc::qtROI(const Rect* roi) {
    _roi = roi ? *roi : Rect{0, 0, 0, 0};
}

void Kelvo_ImgDesc::activeBounds(Rect* bounds) {
    if (!bounds) return;
    if (!EmptyRect(&_roi)) {
        *bounds = _roi;
        return;
    }
    const int16_t w = qtWidth(), h = qtHeight();
    if (w > 0 && h > 0) {
        *bounds = Rect{0, 0, h, w};
        return;
    }
    *bounds = Rect{0, 0, 0, 0};
}

void Kelvo_ImgDesc::qtCodecName(char* name, int mode) {
    if (!name || !_desc || GetHandleSize(_desc) < kImageDescriptionSize) return;
    auto* d = reinterpret_cast<ImageDescription*>(*_desc);
    if (mode == 1) {
        // A longer text is cut to what the 32-byte field holds.
        const size_t n = strnlen(name, 31);
        d->name[0] = uint8_t(n);
        std::memcpy(d->name + 1, name, n);
        std::memset(d->name + 1 + n, 0, 31 - n);
    } else if (mode == 0) {
        const size_t n = d->name[0] < 32 ? d->name[0] : 31;
        std::memcpy(name, d->name + 1, n);
        name[n] = 0;
    }
}

// ---------------------------------------------------------------------------------------------
// Properties and extensions

int32_t Kelvo_ImgDesc::getProperty(uint32_t type, void* value) {
    if (!_desc) return _status;
    Kelvo_PropertyImageDesc p(hImageDesc());
    if (!p.getInfo(type) || !p.getValue(value)) {
        _status = p.Error();
        return _status;
    }
    return noErr;
}

int32_t Kelvo_ImgDesc::setProperty(uint32_t type, void* value, uint32_t size) {
    if (!_desc) return _status;
    Kelvo_PropertyImageDesc p(hImageDesc());
    if (!p.getInfo(type) || !p.setValue(value, size)) {
        _status = p.Error();
        return _status;
    }
    return noErr;
}

int32_t Kelvo_ImgDesc::removeExtension(uint32_t type) {
    if (!_desc) return _status;
    int32_t count = 0;
    OSErr err = CountImageDescriptionExtensionType(hImageDesc(), int32_t(type), &count);
    for (int32_t i = count; err == noErr && i >= 1; --i)
        err = RemoveImageDescriptionExtension(hImageDesc(), int32_t(type), i);
    if (err) _status = err;
    return err;
}

bool Kelvo_ImgDesc::isInterlaced() {
    FieldInfoImageDescriptionExtension2 info{};
    return getProperty(kICMImageDescriptionPropertyID_FieldInfo, &info) == noErr && info.fields == 2;
}

double Kelvo_ImgDesc::gamma() {
    Fixed g = 0;
    return getProperty(kICMImageDescriptionPropertyID_GammaLevel, &g) == noErr ? Fix2X(g) : 0.0;
}

bool Kelvo_ImgDesc::gamma(double value) {
    if (!_desc) return false;
    if (!(value >= 1.0)) return removeExtension(kICMImageDescriptionPropertyID_GammaLevel) == noErr;
    Fixed g = X2Fix(value);
    return setProperty(kICMImageDescriptionPropertyID_GammaLevel, &g, sizeof g) == noErr;
}

Kelvo_NCLCColorInfo* Kelvo_ImgDesc::colorInfo() {
    if (!_desc) return nullptr;
    return new Kelvo_NCLCColorInfo(hImageDesc());
}

bool Kelvo_ImgDesc::colorInfo(Kelvo_NCLCColorInfo* info) {
    if (!info || !info->qtObjIsValid() || !_desc) return false;
    NCLCColorInfoImageDescriptionExtension record = *info->getNCLCInfoExtensionPtr();
    std::memcpy(&record.colorParamType, "nclc", 4);
    return setProperty(kICMImageDescriptionPropertyID_NCLCColorInfo, &record, sizeof record) == noErr;
}

Kelvo_CleanAperture* Kelvo_ImgDesc::cleanAperture() {
    if (!_desc) return nullptr;
    return new Kelvo_CleanAperture(hImageDesc());
}

bool Kelvo_ImgDesc::cleanAperture(Kelvo_CleanAperture* aperture) {
    if (!aperture || !aperture->qtObjIsValid() || !_desc) return false;
    return setProperty(kICMImageDescriptionPropertyID_CleanAperture, aperture->record(),
                       sizeof(CleanApertureImageDescriptionExtension)) == noErr;
}

Kelvo_Point* Kelvo_ImgDesc::pixelAspectRatio() {
    PixelAspectRatioImageDescriptionExtension pasp{};
    if (getProperty(kICMImageDescriptionPropertyID_PixelAspectRatio, &pasp) != noErr) return nullptr;
    return new Kelvo_Point(pasp.hSpacing, pasp.vSpacing);
}

bool Kelvo_ImgDesc::pixelAspectRatio(Kelvo_Point* ratio) {
    if (!ratio || !_desc) return false;
    PixelAspectRatioImageDescriptionExtension pasp{ratio->x(), ratio->y()};
    return setProperty(kICMImageDescriptionPropertyID_PixelAspectRatio, &pasp, sizeof pasp) == noErr;
}

Kelvo_ApertureModesDimensions* Kelvo_ImgDesc::apertureDimensions() {
    if (!_desc) return nullptr;
    return new Kelvo_ApertureModesDimensions(hImageDesc());
}

Kelvo_Size* Kelvo_ImgDesc::encodedDimensions() {
    if (!_desc) return nullptr;
    int32_t w = 0, h = 0;
    getProperty(kICMImageDescriptionPropertyID_EncodedWidth, &w);
    getProperty(kICMImageDescriptionPropertyID_EncodedHeight, &h);
    return new Kelvo_Size(w, h);
}

bool Kelvo_ImgDesc::encodedDimensions(Kelvo_Size* size) {
    if (!size || !_desc) return false;
    int16_t w = 0, h = 0;
    if (!toShort(size->width(), w) || !toShort(size->height(), h)) {
        _status = paramErr;
        return false;
    }
    int32_t width = w, height = h;
    if (setProperty(kICMImageDescriptionPropertyID_EncodedWidth, &width, sizeof width) != noErr) return false;
    return setProperty(kICMImageDescriptionPropertyID_EncodedHeight, &height, sizeof height) == noErr;
}

int32_t Kelvo_ImgDesc::settingsToString(char*& out) {
    out = nullptr;
    CFStringRef text = nullptr;
    if (getProperty(kICMImageDescriptionPropertyID_SummaryString, &text) != noErr || !text) return _status;
    const CFIndex length = CFStringGetLength(text);
    const CFIndex capacity = length * 4 + 1;
    out = new char[size_t(capacity)];
    if (!CFStringGetCString(text, out, capacity, kCFStringEncodingUTF8)) out[0] = 0;
    CFRelease(text);
    return noErr;
}

int32_t Kelvo_ImgDesc::FillQTAtomSettings(QTAtomContainer settings, bool withDimensions) {
    if (!settings) {
        _status = paramErr;
        return _status;
    }
    if (!_desc) return _status;
    uint32_t codecType = dataFormat();
    uint32_t quality = qtSpatialQuality();
    int16_t depth = qtDepth();
    int32_t err = SpatialSettingsValues(settings, &codecType, &quality, &depth, 1);
    if (err == noErr && withDimensions) {
        Fixed width = qtFixWidth(), height = qtFixHeight();
        err = QTSettings_DimensionsValues(settings, &width, &height, 1);
    }
    if (err) _status = err;
    return err;
}

// ---------------------------------------------------------------------------------------------
// Byte order

namespace {

template <class T> void swapAt(uint8_t* base, size_t offset) {
    T v;
    std::memcpy(&v, base + offset, sizeof v);
    if constexpr (sizeof(T) == 2)
        v = T(EndianU16_BtoN(uint16_t(v)));
    else
        v = T(EndianU32_BtoN(uint32_t(v)));
    std::memcpy(base + offset, &v, sizeof v);
}

// The same field rules in both directions; `toBig` says which side the colour table's entry
// count is read on (it is read where it is in host order).
void swapDescription(Handle h, bool toBig) {
    if (!h || !*h || GetHandleSize(h) < Kelvo_ImgDesc::kImageDescriptionSize) return;
    auto* b = reinterpret_cast<uint8_t*>(*h);
    int16_t clut;
    std::memcpy(&clut, b + offsetof(ImageDescription, clutID), 2);
    for (size_t off : {offsetof(ImageDescription, idSize), offsetof(ImageDescription, cType),
                       offsetof(ImageDescription, resvd1), offsetof(ImageDescription, vendor),
                       offsetof(ImageDescription, temporalQuality),
                       offsetof(ImageDescription, spatialQuality), offsetof(ImageDescription, hRes),
                       offsetof(ImageDescription, vRes), offsetof(ImageDescription, dataSize)})
        swapAt<uint32_t>(b, off);
    for (size_t off : {offsetof(ImageDescription, resvd2), offsetof(ImageDescription, dataRefIndex),
                       offsetof(ImageDescription, version), offsetof(ImageDescription, revisionLevel),
                       offsetof(ImageDescription, width), offsetof(ImageDescription, height),
                       offsetof(ImageDescription, frameCount), offsetof(ImageDescription, depth),
                       offsetof(ImageDescription, clutID)})
        swapAt<uint16_t>(b, off);
    if (clut != 0) return;
    const Size total = GetHandleSize(h);
    const Size head = Kelvo_ImgDesc::kImageDescriptionSize;
    if (total == head) {
        // No room for the table the record announces: it has none.
        const int16_t none = -1;
        std::memcpy(b + offsetof(ImageDescription, clutID), &none, 2);
        return;
    }
    // The table: seed (32 bits), flags (16), size (16, entries less one), then four 16-bit words
    // an entry; entries are only swapped as far as the handle holds them.
    if (total - head < 8) return;
    uint8_t* table = b + head;
    uint16_t countWord;
    std::memcpy(&countWord, table + 6, 2);
    if (!toBig) countWord = EndianU16_BtoN(countWord);
    swapAt<uint32_t>(table, 0);
    swapAt<uint16_t>(table, 4);
    swapAt<uint16_t>(table, 6);
    const Size room = (total - head - 8) / 8;
    const Size entries = std::min<Size>(Size(countWord) + 1, room);
    for (Size i = 0; i < entries; ++i)
        for (size_t w = 0; w < 4; ++w)
            swapAt<uint16_t>(table + 8 + size_t(i) * 8, w * 2);
}

} // namespace

void Kelvo_ImgDesc::NtoB(Handle desc) {
    swapDescription(desc, true);
}

void Kelvo_ImgDesc::BtoN(Handle desc) {
    swapDescription(desc, false);
}

Handle Kelvo_ImgDesc::nativeToBig() {
    if (!qtObjIsValid()) return nullptr;
    Handle h = hdescCopy();
    NtoB(h);
    return h;
}

Handle Kelvo_ImgDesc::bigToNative() {
    if (!qtObjIsValid()) return nullptr;
    Handle h = hdescCopy();
    BtoN(h);
    return h;
}

// ---------------------------------------------------------------------------------------------
// Codec

Kelvo_Codec* Kelvo_ImgDesc::qtCodecInfo() {
    const uint32_t type = dataFormat();
    if (!Kelvo_Codec::codecExists(type)) return nullptr;
    auto* codec = new Kelvo_Codec(type, nullptr);
    if (!codec->qtObjIsValid()) {
        delete codec;
        return nullptr;
    }
    return codec;
}

bool Kelvo_ImgDesc::qtCodecInfo(Kelvo_Codec& codec) {
    if (!codec.qtObjIsValid()) return false;
    dataFormat(codec.Type());
    return dataFormat() == codec.Type();
}

// ---------------------------------------------------------------------------------------------
// Kelvo_NCLCColorInfo

Kelvo_NCLCColorInfo::Kelvo_NCLCColorInfo() {
    defaultStatus();
}

Kelvo_NCLCColorInfo::Kelvo_NCLCColorInfo(const Kelvo_NCLCColorInfo& other)
    : Kelvo_QTObj(other), _info(other._info) {}

Kelvo_NCLCColorInfo::Kelvo_NCLCColorInfo(ImageDescriptionHandle desc) {
    defaultStatus();
    read(desc);
}

Kelvo_NCLCColorInfo& Kelvo_NCLCColorInfo::operator=(const Kelvo_NCLCColorInfo& other) {
    if (&other != this) _info = other._info;
    return *this;
}

Kelvo_NCLCColorInfo& Kelvo_NCLCColorInfo::operator=(ImageDescriptionHandle desc) {
    defaultStatus();
    read(desc);
    return *this;
}

Kelvo_NCLCColorInfo::~Kelvo_NCLCColorInfo() = default;

void Kelvo_NCLCColorInfo::defaultStatus() {
    Kelvo_QTObj::defaultStatus();
    std::memcpy(&_info.colorParamType, "nclc", 4);
    _info.primaries = 2;
    _info.transferFunction = 2;
    _info.matrix = 2;
}

void Kelvo_NCLCColorInfo::read(ImageDescriptionHandle desc) {
    NCLCColorInfoImageDescriptionExtension info{};
    if (readProperty(desc, kICMImageDescriptionPropertyID_NCLCColorInfo, info)) _info = info;
}

bool Kelvo_NCLCColorInfo::qtObjIsValid() const {
    const uint16_t p = _info.primaries, t = _info.transferFunction, m = _info.matrix;
    const bool primaries = p == 1 || p == 2 || p == 5 || p == 6;
    const bool transfer = t == 1 || t == 2 || t == 7;
    const bool matrix = m == 1 || m == 2 || m == 6 || m == 7;
    return primaries && transfer && matrix;
}

bool Kelvo_NCLCColorInfo::qtObjIsValid() {
    return static_cast<const Kelvo_NCLCColorInfo*>(this)->qtObjIsValid();
}

void Kelvo_NCLCColorInfo::copy(Kelvo_QTObj& source) {
    if (&source == this) return;
    if (source.isA("Kelvo_NCLCColorInfo")) {
        _info = static_cast<Kelvo_NCLCColorInfo&>(source)._info;
    } else if (source.isA("Kelvo_ImgDesc")) {
        defaultStatus();
        read(static_cast<Kelvo_ImgDesc&>(source).hImageDesc());
    }
}

Kelvo_QTObj* Kelvo_NCLCColorInfo::clone() {
    return new Kelvo_NCLCColorInfo(*this);
}

bool Kelvo_NCLCColorInfo::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_QTObj::isA(name) || std::strcmp(name, "Kelvo_NCLCColorInfo") == 0;
}

// ---------------------------------------------------------------------------------------------
// Kelvo_CleanAperture

Kelvo_CleanAperture::Kelvo_CleanAperture() {
    defaultStatus();
}

Kelvo_CleanAperture::Kelvo_CleanAperture(const Kelvo_CleanAperture& other) : Kelvo_QTObj(other) {
    defaultStatus();
    if (_clap && other._clap) *_clap = *other._clap;
}

Kelvo_CleanAperture::Kelvo_CleanAperture(ImageDescriptionHandle desc) {
    defaultStatus();
    read(desc);
}

Kelvo_CleanAperture& Kelvo_CleanAperture::operator=(ImageDescriptionHandle desc) {
    if (!desc) return *this;
    defaultStatus();
    read(desc);
    return *this;
}

Kelvo_CleanAperture::~Kelvo_CleanAperture() {
    delete _clap;
}

void Kelvo_CleanAperture::defaultStatus() {
    Kelvo_QTObj::defaultStatus();
    if (!_clap) _clap = new (std::nothrow) CleanApertureImageDescriptionExtension;
    if (_clap) {
        *_clap = CleanApertureImageDescriptionExtension{};
    } else {
        _status = memFullErr;
    }
    _rect.defaultStatus();
    _point.defaultStatus();
}

void Kelvo_CleanAperture::read(ImageDescriptionHandle desc) {
    CleanApertureImageDescriptionExtension clap{};
    if (_clap && readProperty(desc, kICMImageDescriptionPropertyID_CleanAperture, clap)) *_clap = clap;
}

void Kelvo_CleanAperture::copy(Kelvo_QTObj& source) {
    if (&source == this) return;
    if (source.isA("Kelvo_CleanAperture")) {
        auto& other = static_cast<Kelvo_CleanAperture&>(source);
        if (_clap && other._clap) *_clap = *other._clap;
    } else if (source.isA("Kelvo_ImgDesc")) {
        defaultStatus();
        read(static_cast<Kelvo_ImgDesc&>(source).hImageDesc());
    }
}

Kelvo_QTObj* Kelvo_CleanAperture::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new Kelvo_CleanAperture(*this);
}

bool Kelvo_CleanAperture::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_QTObj::isA(name) || std::strcmp(name, "Kelvo_CleanAperture") == 0;
}

const Kelvo_Rect& Kelvo_CleanAperture::getNumeratorDimensions() {
    _rect.defaultStatus();
    if (_clap) _rect = Kelvo_Rect(_clap->cleanApertureWidthN, _clap->cleanApertureHeightN);
    return _rect;
}

const Kelvo_Rect& Kelvo_CleanAperture::getDenominatorDimensions() {
    _rect.defaultStatus();
    if (_clap) _rect = Kelvo_Rect(_clap->cleanApertureWidthD, _clap->cleanApertureHeightD);
    return _rect;
}

const Kelvo_Point& Kelvo_CleanAperture::getNumeratorOffset() {
    _point.defaultStatus();
    if (_clap) _point(_clap->horizOffN, _clap->vertOffN);
    return _point;
}

const Kelvo_Point& Kelvo_CleanAperture::getDenominatorOffset() {
    _point.defaultStatus();
    if (_clap) _point(_clap->horizOffD, _clap->vertOffD);
    return _point;
}

void Kelvo_CleanAperture::setNumeratorDimensions(const Kelvo_Rect& r) {
    if (!_clap || !r.qtObjIsValid()) {
        _status = paramErr;
        return;
    }
    _clap->cleanApertureWidthN = r.width();
    _clap->cleanApertureHeightN = r.height();
}

void Kelvo_CleanAperture::setDenominatorDimensions(const Kelvo_Rect& r) {
    if (!_clap || !r.qtObjIsValid()) {
        _status = paramErr;
        return;
    }
    _clap->cleanApertureWidthD = r.width();
    _clap->cleanApertureHeightD = r.height();
}

void Kelvo_CleanAperture::setNumeratorOffset(const Kelvo_Point& p) {
    if (!_clap) {
        _status = paramErr;
        return;
    }
    _clap->horizOffN = p.x();
    _clap->vertOffN = p.y();
}

void Kelvo_CleanAperture::setDenominatorOffset(const Kelvo_Point& p) {
    if (!_clap) {
        _status = paramErr;
        return;
    }
    _clap->horizOffD = p.x();
    _clap->vertOffD = p.y();
}

// ---------------------------------------------------------------------------------------------
// Kelvo_ApertureModesDimensions

Kelvo_ApertureModesDimensions::Kelvo_ApertureModesDimensions() = default;

Kelvo_ApertureModesDimensions::Kelvo_ApertureModesDimensions(const Kelvo_ApertureModesDimensions& other)
    : Kelvo_QTObj(other), _classic(other._classic), _clean(other._clean), _production(other._production),
      _encoded(other._encoded) {}

Kelvo_ApertureModesDimensions::Kelvo_ApertureModesDimensions(ImageDescriptionHandle desc) {
    read(desc);
}

Kelvo_ApertureModesDimensions::Kelvo_ApertureModesDimensions(Track track) {
    read(track);
}

Kelvo_ApertureModesDimensions& Kelvo_ApertureModesDimensions::operator=(ImageDescriptionHandle desc) {
    clear();
    read(desc);
    return *this;
}

Kelvo_ApertureModesDimensions& Kelvo_ApertureModesDimensions::operator=(Track track) {
    clear();
    read(track);
    return *this;
}

Kelvo_ApertureModesDimensions::~Kelvo_ApertureModesDimensions() = default;

void Kelvo_ApertureModesDimensions::clear() {
    _classic = _clean = _production = _encoded = FixedPoint{0, 0};
    _rect.defaultStatus();
}

void Kelvo_ApertureModesDimensions::defaultStatus() {
    Kelvo_QTObj::defaultStatus();
    clear();
}

void Kelvo_ApertureModesDimensions::read(ImageDescriptionHandle desc) {
    Fixed w = 0, h = 0;
    if (readProperty(desc, kICMImageDescriptionPropertyID_CleanApertureWidth, w)) _classic.x = w;
    if (readProperty(desc, kICMImageDescriptionPropertyID_CleanApertureHeight, h)) _classic.y = h;
    readProperty(desc, kICMImageDescriptionPropertyID_CleanApertureDimensions, _clean);
    readProperty(desc, kICMImageDescriptionPropertyID_ProductionApertureDimensions, _production);
    readProperty(desc, kICMImageDescriptionPropertyID_EncodedPixelsDimensions, _encoded);
}

void Kelvo_ApertureModesDimensions::read(Track track) {
    if (!track) return;
    const OSType visual = FOUR_CHAR_CODE("visu");
    Boolean has = false;
    ByteCount used = 0;
    if (QTGetTrackProperty(track, visual, FOUR_CHAR_CODE("hamd"), sizeof has, &has, &used) != noErr || !has)
        return;
    auto get = [&](OSType id, FixedPoint& p) {
        FixedPoint v{0, 0};
        if (QTGetTrackProperty(track, visual, id, sizeof v, &v, &used) == noErr) p = v;
    };
    get(FOUR_CHAR_CODE("cldi"), _classic);
    get(FOUR_CHAR_CODE("cadi"), _clean);
    get(FOUR_CHAR_CODE("prdi"), _production);
    get(FOUR_CHAR_CODE("endi"), _encoded);
}

const Kelvo_Rect& Kelvo_ApertureModesDimensions::rectOf(const FixedPoint& p) {
    _rect.defaultStatus();
    _rect = Kelvo_Rect(Fix2Long(p.x), Fix2Long(p.y));
    return _rect;
}

void Kelvo_ApertureModesDimensions::store(FixedPoint& p, const Kelvo_Rect& r) {
    if (!r.qtObjIsValid()) {
        p = FixedPoint{0, 0};
        return;
    }
    p = FixedPoint{Long2Fix(r.width()), Long2Fix(r.height())};
}

void Kelvo_ApertureModesDimensions::copy(Kelvo_QTObj& source) {
    if (&source == this) return;
    if (source.isA("Kelvo_ApertureModesDimensions")) {
        auto& other = static_cast<Kelvo_ApertureModesDimensions&>(source);
        _rect.defaultStatus();
        _classic = other._classic;
        _clean = other._clean;
        _production = other._production;
        _encoded = other._encoded;
    } else if (source.isA("Kelvo_ImgDesc")) {
        defaultStatus();
        read(static_cast<Kelvo_ImgDesc&>(source).hImageDesc());
    }
}

Kelvo_QTObj* Kelvo_ApertureModesDimensions::clone() {
    return new Kelvo_ApertureModesDimensions(*this);
}

bool Kelvo_ApertureModesDimensions::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_QTObj::isA(name) || std::strcmp(name, "Kelvo_ApertureModesDimensions") == 0;
}

// ---------------------------------------------------------------------------------------------
// Kelvo_EffectDesc

namespace {

constexpr OSType kDecompressorType = FOUR_CHAR_CODE("imdc");

// A copy of a whole container; null on failure (the status in `err`).
QTAtomContainer copyContainer(QTAtomContainer source, int32_t& err) {
    QTAtomContainer copy = nullptr;
    err = QTCopyAtom(source, kParentAtomIsContainer, &copy);
    if (err != noErr && copy) {
        QTDisposeAtomContainer(copy);
        copy = nullptr;
    }
    return copy;
}

} // namespace

Kelvo_EffectDesc::Kelvo_EffectDesc() : Kelvo_ImgDesc(uint32_t(0)) {}

Kelvo_EffectDesc::Kelvo_EffectDesc(Kelvo_Component& component) : Kelvo_ImgDesc(uint32_t(0)) {
    initEffectDesc(component.SubType(), nullptr);
}

Kelvo_EffectDesc::Kelvo_EffectDesc(QTAtomContainer parameters) : Kelvo_ImgDesc(uint32_t(0)) {
    if (!parameters) {
        _status = kMissingSource;
        return;
    }
    QTAtom what = QTFindChildByIndex(parameters, kParentAtomIsContainer, FOUR_CHAR_CODE("what"), 1, nullptr);
    uint32_t type = 0;
    int32_t err = what ? QTCopyAtomDataToPtr(parameters, what, false, sizeof type, &type, nullptr)
                       : int32_t(cannotFindAtomErr);
    if (err != noErr) {
        _status = err;
        return;
    }
    initEffectDesc(EndianU32_BtoN(type), parameters);
}

Kelvo_EffectDesc::Kelvo_EffectDesc(uint32_t effectType) : Kelvo_ImgDesc(uint32_t(0)) {
    initEffectDesc(effectType, nullptr);
}

Kelvo_EffectDesc::Kelvo_EffectDesc(const Kelvo_EffectDesc& other) : Kelvo_ImgDesc(other) {
    _sources = other._sources;
    if (other._parameters) {
        int32_t err = 0;
        _parameters = copyContainer(other._parameters, err);
        if (!_parameters) {
            reset();
            _status = err;
        }
    }
}

Kelvo_EffectDesc::~Kelvo_EffectDesc() {
    disposeParameters();
}

void Kelvo_EffectDesc::disposeParameters() {
    if (_parameters) QTDisposeAtomContainer(_parameters);
    _parameters = nullptr;
}

bool Kelvo_EffectDesc::qtObjIsValid() {
    return _parameters != nullptr && _desc != nullptr;
}

bool Kelvo_EffectDesc::qtObjIsValid() const {
    return _parameters != nullptr && _desc != nullptr;
}

Kelvo_QTObj* Kelvo_EffectDesc::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new Kelvo_EffectDesc(*this);
}

bool Kelvo_EffectDesc::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_ImgDesc::isA(name) || std::strcmp(name, "Kelvo_EffectDesc") == 0;
}

void Kelvo_EffectDesc::reset() {
    Kelvo_ImgDesc::reset();
    disposeParameters();
    _sources = -1;
}

void Kelvo_EffectDesc::dataFormat(uint32_t type) {
    initEffectDesc(type, nullptr);
}

void Kelvo_EffectDesc::readSources() {
    _sources = -1;
    if (!_parameters) return;
    QTAtom atom = QTFindChildByIndex(_parameters, kParentAtomIsContainer, FOUR_CHAR_CODE("srcs"), 1, nullptr);
    int32_t count = 0;
    if (atom && QTCopyAtomDataToPtr(_parameters, atom, false, sizeof count, &count, nullptr) == noErr)
        _sources = EndianS32_BtoN(count);
}

void Kelvo_EffectDesc::initEffectDesc(uint32_t effectType, QTAtomContainer parameters) {
    if (_desc && dataFormat() == effectType) return;
    reset();
    ImageDescriptionHandle h = nullptr;
    _status = MakeImageDescriptionForEffect(effectType, &h);
    if (_status != noErr || !h) {
        if (h) DisposeHandle(reinterpret_cast<Handle>(h));
        return;
    }
    _desc = reinterpret_cast<Handle>(h);
    _descriptorSize = GetHandleSize(_desc);
    if (parameters) {
        int32_t err = 0;
        _parameters = copyContainer(parameters, err);
        if (!_parameters) {
            _status = err;
            reset();
            return;
        }
        readSources();
    } else {
        initEffectParams(effectType);
        if (!_parameters) Kelvo_ImgDesc::reset();
    }
}

void Kelvo_EffectDesc::initEffectParams(uint32_t effectType) {
    if (effectType == 0) {
        _status = kMissingSource;
        return;
    }
    disposeParameters();
    _sources = -1;
    Kelvo_Component effect(kDecompressorType, effectType);
    if (!effect.openConnection()) {
        _status = effect.Error() != 0 ? effect.Error() : int32_t(noCodecErr);
        return;
    }
    QTAtomContainer list = nullptr;
    const ComponentResult err = ImageCodecGetParameterList(effect.instance(), &list);
    if (err != noErr || !list) {
        if (list) QTDisposeAtomContainer(list);
        _status = err != noErr ? err : int32_t(paramErr);
        return;
    }
    _parameters = list;
    readSources();
}

bool Kelvo_EffectDesc::copy(const Kelvo_SmpDescriptor& other) {
    if (&other == this || !other.isA("Kelvo_EffectDesc")) return false;
    const auto& effect = static_cast<const Kelvo_EffectDesc&>(other);
    if (!Kelvo_ImgDesc::copy(other)) return false;
    disposeParameters();
    _sources = effect._sources;
    if (effect._parameters) {
        int32_t err = 0;
        _parameters = copyContainer(effect._parameters, err);
        if (!_parameters) {
            reset();
            _status = err;
            return false;
        }
    }
    return true;
}

bool Kelvo_EffectDesc::copy(SampleDescriptionHandle desc) {
    if (!desc || !*desc) {
        _status = kMissingSource;
        return false;
    }
    initEffectDesc((*desc)->dataFormat, nullptr);
    return qtObjIsValid();
}

Kelvo_Codec* Kelvo_EffectDesc::qtCodecInfo() {
    if (!qtObjIsValid()) return nullptr;
    Kelvo_Component effect(kDecompressorType, dataFormat());
    if (!effect.qtObjIsValid()) return nullptr;
    auto* codec = new Kelvo_Codec(dataFormat(), effect.id());
    if (!codec->qtObjIsValid()) {
        delete codec;
        return nullptr;
    }
    return codec;
}

bool Kelvo_EffectDesc::qtCodecInfo(Kelvo_Codec& codec) {
    if (!codec.qtObjIsValid()) {
        _status = kMissingSource;
        return false;
    }
    dataFormat(codec.Type());
    return qtObjIsValid();
}

int32_t Kelvo_EffectDesc::effDescription(QTAtomContainer* description) {
    if (!description || !_parameters || _sources < 0) {
        _status = paramErr;
        return _status;
    }
    int32_t err = 0;
    *description = copyContainer(_parameters, err);
    if (!*description) {
        _status = err;
        return _status;
    }
    static const char* const kNames[] = {"srcA", "srcB", "srcC"};
    const int32_t count = _sources >= 3 ? (_sources == 3 ? 3 : 2) : _sources;
    for (int32_t i = 0; i < count; ++i) {
        const OSErr insert = QTInsertChild(*description, kParentAtomIsContainer, FOUR_CHAR_CODE("src "),
                                           i + 1, 0, 4, const_cast<char*>(kNames[i]), nullptr);
        if (insert != noErr) {
            _status = insert;
            return _status;
        }
    }
    return noErr;
}

Fixed Kelvo_EffectDesc::qtFixEffectSpeed() {
    if (!_parameters) return 0;
    Fixed speed = 0;
    return QTGetEffectSpeed(_parameters, &speed) == noErr ? speed : 0;
}

double Kelvo_EffectDesc::qtEffectSpeed() {
    return Fix2X(qtFixEffectSpeed());
}

bool Kelvo_EffectDesc::isRealTimeEffect() {
    return _parameters != nullptr && qtFixEffectSpeed() == 0;
}
