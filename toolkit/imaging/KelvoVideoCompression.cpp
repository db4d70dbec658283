#include "KelvoVideoCompression.h"

#include "KelvoCoreComponents.h"
#include "KelvoProperties.h"
#include "KelvoVideoCompressionSettings.h"
#include "PlatformFixed.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr OSType kOptionsClass = kQTPropertyClass_ICMCompressionSessionOptions;

template <class T> bool readOption(ICMCompressionSessionOptionsRef options, OSType id, T& value) {
    ByteCount used = 0;
    T v{};
    if (ICMCompressionSessionOptionsGetProperty(options, kOptionsClass, id, sizeof v, &v, &used) != noErr ||
        used != sizeof v)
        return false;
    value = v;
    return true;
}

} // namespace

Kelvo_ImgDescComp::Kelvo_ImgDescComp() = default;

Kelvo_ImgDescComp::Kelvo_ImgDescComp(SampleDescriptionHandle desc) : Kelvo_ImgDesc(desc) {}

Kelvo_ImgDescComp::Kelvo_ImgDescComp(ImageDescriptionHandle desc) : Kelvo_ImgDesc(desc) {}

Kelvo_ImgDescComp::Kelvo_ImgDescComp(GWorldPtr world) : Kelvo_ImgDesc(world) {}

Kelvo_ImgDescComp::Kelvo_ImgDescComp(QTAtomContainer settings) : Kelvo_ImgDesc(settings) {
    if (_desc && _status == noErr) readSettings(settings);
}

Kelvo_ImgDescComp::Kelvo_ImgDescComp(ICMCompressionSessionOptionsRef options) {
    setICMOptions(options);
}

Kelvo_ImgDescComp::Kelvo_ImgDescComp(const Kelvo_ImgDescComp& other) : Kelvo_ImgDesc(other) {
    initParams(other);
}

Kelvo_ImgDescComp::~Kelvo_ImgDescComp() = default;

void Kelvo_ImgDescComp::readSettings(QTAtomContainer settings) {
    Kelvo_Codec codec(dataFormat(), anyCodec);
    if (!codec.qtObjIsValid()) return;
    if (codec.CodecDoesTemporal()) {
        uint32_t temporal = qtTemporalQuality();
        TemporalSettingsValues(settings, &temporal, &_keyFrames, &_frameRate, 0);
        qtTemporalQuality(temporal);
    }
    if (codec.CodecDoesDataRate())
        DataRateSettingsValues(settings, &_dataRate, &_frameDuration, &_minSpatialQuality,
                               &_minTemporalQuality, 0);
}

void Kelvo_ImgDescComp::initParams() {
    _keyFrames = _dataRate = _frameDuration = 0;
    _frameRate = 0;
    _minSpatialQuality = _minTemporalQuality = 0;
    _frameReordering = _multiPass = _temporal = false;
}

void Kelvo_ImgDescComp::initParams(const Kelvo_ImgDescComp& other) {
    _keyFrames = other._keyFrames;
    _dataRate = other._dataRate;
    _frameDuration = other._frameDuration;
    _frameRate = other._frameRate;
    _minSpatialQuality = other._minSpatialQuality;
    _minTemporalQuality = other._minTemporalQuality;
    _frameReordering = other._frameReordering;
    _multiPass = other._multiPass;
    _temporal = other._temporal;
}

void Kelvo_ImgDescComp::defaultStatus() {
    Kelvo_ImgDesc::defaultStatus();
    initParams();
}

void Kelvo_ImgDescComp::reset() {
    Kelvo_ImgDesc::reset();
    initParams();
}

Kelvo_QTObj* Kelvo_ImgDescComp::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new Kelvo_ImgDescComp(*this);
}

bool Kelvo_ImgDescComp::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_ImgDesc::isA(name) || std::strcmp(name, "Kelvo_ImgDescComp") == 0;
}

bool Kelvo_ImgDescComp::copy(const Kelvo_SmpDescriptor& other) {
    if (!Kelvo_ImgDesc::copy(other)) return false;
    if (other.isA("Kelvo_ImgDescComp")) initParams(static_cast<const Kelvo_ImgDescComp&>(other));
    return true;
}

Kelvo_ImgDescComp& Kelvo_ImgDescComp::operator=(Kelvo_SmpDescriptor& other) {
    copy(static_cast<const Kelvo_SmpDescriptor&>(other));
    return *this;
}

Kelvo_ImgDescComp& Kelvo_ImgDescComp::operator=(SampleDescriptionHandle desc) {
    Kelvo_SmpDescriptor temporary(desc);
    if (temporary.qtObjIsValid()) {
        Kelvo_SmpDescriptor::copy(static_cast<const Kelvo_SmpDescriptor&>(temporary));
        requireInstalledCodec();
    } else {
        _status = temporary.Error();
    }
    return *this;
}

double Kelvo_ImgDescComp::qtFrameRate() const {
    return Fix2X(_frameRate);
}

void Kelvo_ImgDescComp::qtFrameRate(double rate) {
    _frameRate = X2Fix(rate);
}

void Kelvo_ImgDescComp::setICMOptions(ICMCompressionSessionOptionsRef options) {
    if (!qtObjIsValid()) return;
    if (!options) {
        _status = paramErr;
        return;
    }
    _temporal = ICMCompressionSessionOptionsGetAllowTemporalCompression(options);
    _frameReordering = ICMCompressionSessionOptionsGetAllowFrameReordering(options);
    _keyFrames = ICMCompressionSessionOptionsGetMaxKeyFrameInterval(options);
    int32_t frames = 0, depth = 0;
    if (readOption(options, kICMCompressionSessionOptionsPropertyID_ExpectedFrameCount, frames))
        qtFrameCount(int16_t(std::clamp<int32_t>(frames, INT16_MIN, INT16_MAX)));
    if (readOption(options, kICMCompressionSessionOptionsPropertyID_Depth, depth))
        qtDepth(int16_t(std::clamp<int32_t>(depth, INT16_MIN, INT16_MAX)));
    uint32_t quality = 0;
    if (readOption(options, kICMCompressionSessionOptionsPropertyID_Quality, quality))
        qtSpatialQuality(quality);
    readOption(options, kICMCompressionSessionOptionsPropertyID_AverageDataRate, _dataRate);
    readOption(options, kICMCompressionSessionOptionsPropertyID_ExpectedFrameRate, _frameRate);
    ICMMultiPassStorageRef storage = nullptr;
    readOption(options, kICMCompressionSessionOptionsPropertyID_MultiPassStorage, storage);
    qtTemporalQuality(_temporal ? qtSpatialQuality() : 0);
    _multiPass = storage != nullptr;
}

ICMCompressionSessionOptionsRef Kelvo_ImgDescComp::copyICMOptions() {
    if (!qtObjIsValid()) return nullptr;
    ICMCompressionSessionOptionsRef options = nullptr;
    OSStatus err = ICMCompressionSessionOptionsCreate(kCFAllocatorDefault, &options);
    if (err != noErr) {
        _status = err;
        return nullptr;
    }
    ICMCompressionSessionOptionsSetAllowTemporalCompression(options, _temporal);
    ICMCompressionSessionOptionsSetAllowFrameReordering(options, _frameReordering);
    ICMCompressionSessionOptionsSetMaxKeyFrameInterval(options, _keyFrames < 0 ? 0 : _keyFrames);
    Kelvo_PropertyImageCompressionOptions accessor(options);
    auto setOption = [&](OSType id, const void* value) {
        if (!accessor.getInfo(id) || !accessor.setValue(value, 0)) {
            _status = accessor.Error();
            return false;
        }
        return true;
    };
    const int32_t frames = qtFrameCount(), depth = qtDepth();
    const uint32_t quality = qtSpatialQuality();
    if (!setOption(kICMCompressionSessionOptionsPropertyID_ExpectedFrameCount, &frames) ||
        !setOption(kICMCompressionSessionOptionsPropertyID_Depth, &depth) ||
        !setOption(kICMCompressionSessionOptionsPropertyID_ExpectedFrameRate, &_frameRate) ||
        !setOption(kICMCompressionSessionOptionsPropertyID_Quality, &quality) ||
        !setOption(kICMCompressionSessionOptionsPropertyID_AverageDataRate, &_dataRate)) {
        ICMCompressionSessionOptionsRelease(options);
        return nullptr;
    }
    if (_multiPass) {
        ICMMultiPassStorageRef storage = nullptr;
        err = ICMMultiPassStorageCreateWithTemporaryFile(kCFAllocatorDefault, nullptr, nullptr, 0, &storage);
        if (err != noErr) {
            _status = err;
        } else {
            setOption(kICMCompressionSessionOptionsPropertyID_MultiPassStorage, &storage);
            // The options keep their own reference.
            ICMMultiPassStorageRelease(storage);
        }
    }
    return options;
}

int32_t Kelvo_ImgDescComp::FillQTAtomSettings(QTAtomContainer settings) {
    if (!settings) {
        _status = paramErr;
        return _status;
    }
    if (!qtObjIsValid()) return _status;
    uint32_t codecType = dataFormat();
    uint32_t spatial = qtSpatialQuality();
    int16_t depth = qtDepth();
    int32_t err = SpatialSettingsValues(settings, &codecType, &spatial, &depth, 1);
    uint32_t temporal = qtTemporalQuality();
    TemporalSettingsValues(settings, &temporal, &_keyFrames, &_frameRate, 1);
    DataRateSettingsValues(settings, &_dataRate, &_frameDuration, &_minSpatialQuality, &_minTemporalQuality,
                           1);
    Fixed width = qtFixWidth(), height = qtFixHeight();
    err = QTSettings_DimensionsValues(settings, &width, &height, 1);
    if (err) _status = err;
    return err;
}
