#include "KelvoVideoCompression.h"

#include "KelvoCoreComponents.h"
#include "KelvoProperties.h"
#include "KelvoVideoCompressionSettings.h"
#include "KelvoVideo.h"
#include "PlatformFixed.h"
#include "PlatformMovies.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
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
    // A rate below 0 (or no number, or one past what 16.16 holds) has no frame duration.
    if (!(rate >= 0.0 && rate < 32768.0)) {
        _status = paramErr;
        return;
    }
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

// ---------------------------------------------------------------------------------------------
// Compression sessions

namespace {

constexpr int32_t kMissingObject = 9;
constexpr int32_t kMissingSource = 79;
constexpr int32_t kMissingDestination = 80;
constexpr int32_t kSessionState = 200;

} // namespace

Kelvo_VideoCompressionSession::Kelvo_VideoCompressionSession(Kelvo_ImgDescComp* parameters, int32_t timeScale)
    : _timeScale(timeScale) {
    if (parameters && parameters->qtObjIsValid()) _parameters = new Kelvo_ImgDescComp(*parameters);
}

Kelvo_VideoCompressionSession::~Kelvo_VideoCompressionSession() {
    delete _parameters;
    delete _compressedParameters;
}

bool Kelvo_VideoCompressionSession::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_QTObj::isA(name) || std::strcmp(name, "Kelvo_VideoCompressionSession") == 0;
}

int32_t Kelvo_VideoCompressionSession::computeMinFrameDuration() {
    if (!qtObjIsValid()) return 0;
    const Fixed rate = _parameters->qtFixFrameRate();
    // A negative rate set through the field is no rate: the duration rules below apply.
    if (rate > 0) {
        const double d = std::trunc(double(_timeScale) / Fix2X(rate));
        return d >= double(INT32_MAX) ? INT32_MAX : d <= double(INT32_MIN) ? INT32_MIN : int32_t(d);
    }
    if (_parameters->qtFrameDur() >= 1) return _parameters->qtFrameDur();
    return _timeScale / 25;
}

int32_t Kelvo_VideoCompressionSession::minimumFrameDuration() {
    _minFrameDuration = computeMinFrameDuration();
    return _minFrameDuration;
}

void Kelvo_VideoCompressionSession::reset() {
    delete _parameters;
    _parameters = nullptr;
    delete _compressedParameters;
    _compressedParameters = nullptr;
    _output.kind = 0;
    _source = nullptr;
}

bool Kelvo_VideoCompressionSession::sessionParameters(Kelvo_ImgDescComp* parameters) {
    if (isActive()) {
        _status = kSessionState;
        return false;
    }
    if (!parameters || !parameters->qtObjIsValid()) return false;
    delete _parameters;
    _parameters = new Kelvo_ImgDescComp(*parameters);
    return true;
}

int32_t Kelvo_VideoCompressionSession::deliver(const uint8_t* data, size_t size, int64_t decodeDuration,
                                               int64_t displayOffset, ImageDescriptionHandle desc,
                                               uint32_t sampleFlags) {
    switch (_output.kind) {
    case 1:
        if (!_output.target) return invalidMedia;
        return AddMediaSample2(static_cast<Media>(_output.target), data, ByteCount(size), decodeDuration,
                               displayOffset, reinterpret_cast<SampleDescriptionHandle>(desc), 1, sampleFlags,
                               nullptr);
    case 2:
        if (!_output.target) return memFullErr;
        return PtrAndHand(data, static_cast<Handle>(_output.target), Size(size));
    case 3: {
        auto* file = static_cast<std::FILE*>(_output.target);
        if (!file) return kMissingDestination;
        std::fwrite(data, 1, size, file);
        return std::ferror(file) ? ioErr : noErr;
    }
    default:
        return noErr;
    }
}

// Image sequences

Kelvo_ImageSequenceCompressionSession::Kelvo_ImageSequenceCompressionSession() {
    _timeScale = 600;
}

Kelvo_ImageSequenceCompressionSession::Kelvo_ImageSequenceCompressionSession(Kelvo_ImgDescComp* parameters,
                                                                             int32_t timeScale)
    : Kelvo_VideoCompressionSession(parameters, timeScale) {}

Kelvo_ImageSequenceCompressionSession::~Kelvo_ImageSequenceCompressionSession() {
    Kelvo_ImageSequenceCompressionSession::endSession();
}

bool Kelvo_ImageSequenceCompressionSession::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_VideoCompressionSession::isA(name) ||
           std::strcmp(name, "Kelvo_ImageSequenceCompressionSession") == 0;
}

bool Kelvo_VideoCompressionSession::takeSource(Kelvo_QDGWorldBuffer* buffer) {
    if (!buffer || !buffer->qtObjIsValid()) {
        _status = kMissingSource;
        return false;
    }
    if (_output.kind == 0) {
        _status = kMissingDestination;
        return false;
    }
    _source = buffer;
    minimumFrameDuration();
    return true;
}

bool Kelvo_ImageSequenceCompressionSession::beginSession(Kelvo_QDGWorldBuffer* buffer) {
    if (!qtObjIsValid()) return false;
    if (isActive()) return true;
    _status = noErr;
    if (!takeSource(buffer)) return false;
    _parameters->activeBounds(&_sourceRect);
    if (EmptyRect(&_sourceRect))
        _sourceRect = Rect{0, 0, int16_t(buffer->height()), int16_t(buffer->width())};
    delete _compressedParameters;
    _compressedParameters = new Kelvo_ImgDesc();
    PixMapHandle map = buffer->bufferPixMap();
    ImageSequence sequence = 0;
    OSErr err =
        CompressSequenceBegin(&sequence, map, nullptr, &_sourceRect, &_sourceRect, _parameters->qtDepth(),
                              _parameters->dataFormat(), anyCodec, _parameters->qtSpatialQuality(),
                              _parameters->qtTemporalQuality(), _parameters->qtKeyFrames(), nullptr, 0,
                              _compressedParameters->hImageDesc());
    if (err == noErr) {
        _sequence = sequence;
        int32_t size = 0;
        err =
            GetMaxCompressionSize(map, &_sourceRect, _parameters->qtDepth(), _parameters->qtSpatialQuality(),
                                  _parameters->dataFormat(), anyCodec, &size);
        if (err == noErr) {
            _data = NewHandle(size);
            if (!_data) {
                err = memFullErr;
            } else {
                HLockHi(_data);
            }
        }
    }
    if (err != noErr) {
        _status = err;
        endSession();
        return false;
    }
    return true;
}

int32_t Kelvo_ImageSequenceCompressionSession::compressData(int64_t displayTime, int64_t duration) {
    if (!isActive()) {
        _status = kSessionState;
        return _status;
    }
    int32_t size = int32_t(GetHandleSize(_data));
    uint8_t similarity = 0;
    _status = CompressSequenceFrame(_sequence, _source->bufferPixMap(), &_sourceRect, _flags, *_data, &size,
                                    &similarity, nullptr);
    if (_status != noErr) return _status;
    const int64_t decodeDuration = duration > 0 ? duration : _minFrameDuration;
    _status = deliver(reinterpret_cast<const uint8_t*>(*_data), size_t(size), decodeDuration,
                      displayTime >= 0 ? displayTime : 0, _compressedParameters->hImageDesc(),
                      similarity != 0 ? mediaSampleNotSync : 0);
    if (_status == noErr) ++_framesCount;
    return _status;
}

void Kelvo_ImageSequenceCompressionSession::endSession() {
    if (isActive()) {
        CDSequenceEnd(_sequence);
        _sequence = 0;
        _framesCount = 0;
    }
    if (_data) {
        HUnlock(_data);
        DisposeHandle(_data);
        _data = nullptr;
    }
    delete _compressedParameters;
    _compressedParameters = nullptr;
    _minFrameDuration = 0;
    _source = nullptr;
    _sourceRect = Rect{0, 0, 0, 0};
}

// Compression sessions of the newer interface

Kelvo_ICMCompressionSession::Kelvo_ICMCompressionSession() {
    _timeScale = 600;
}

Kelvo_ICMCompressionSession::Kelvo_ICMCompressionSession(Kelvo_ImgDescComp* parameters, int32_t timeScale)
    : Kelvo_VideoCompressionSession(parameters, timeScale) {}

Kelvo_ICMCompressionSession::~Kelvo_ICMCompressionSession() {
    if (_session) {
        ICMCompressionSessionRelease(_session);
        _session = nullptr;
    }
}

bool Kelvo_ICMCompressionSession::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_VideoCompressionSession::isA(name) || std::strcmp(name, "Kelvo_ICMCompressionSession") == 0;
}

int32_t Kelvo_ICMCompressionSession::timeScale() {
    return isActive() ? ICMCompressionSessionGetTimeScale(_session) : _timeScale;
}

bool Kelvo_ICMCompressionSession::isMultiPassSession() {
    return qtObjIsValid() && isActive() && _parameters->qtMultiPassEncoding();
}

void Kelvo_ICMCompressionSession::beginPass() {
    if (!isMultiPassSession()) return;
    _passFlags = 0;
    ICMCompressionSessionSupportsMultiPassEncoding(_session, 0, &_passFlags);
    // A codec without passes of its own outputs its frames in the one pass it runs.
    if (_passFlags == 0) _passFlags |= kICMCompressionPassMode_OutputEncodedFrames;
    _status = ICMCompressionSessionBeginPass(_session, _passFlags, 0);
}

bool Kelvo_ICMCompressionSession::endPass() {
    if (!isMultiPassSession()) return true;
    _status = ICMCompressionSessionEndPass(_session);
    if (!(_passFlags & kICMCompressionPassMode_OutputEncodedFrames)) {
        Boolean done = false;
        while (!done && ICMCompressionSessionProcessBetweenPasses(_session, 0, &done, &_passFlags) == noErr) {
        }
        return false;
    }
    _passFlags = 0;
    return true;
}

bool Kelvo_ICMCompressionSession::beginSession(Kelvo_QDGWorldBuffer* buffer) {
    if (!qtObjIsValid() || isActive()) return isActive();
    if (!takeSource(buffer)) return false;
    ICMCompressionSessionOptionsRef options = _parameters->copyICMOptions();
    if (!options) {
        _status = _parameters->Error() != 0 ? _parameters->Error() : int32_t(paramErr);
        return false;
    }
    ICMCompressionSessionOptionsSetAllowFrameTimeChanges(options, true);
    ICMCompressionSessionOptionsSetDurationsNeeded(options, true);
    ICMEncodedFrameOutputRecord record{encodedFrameCallback, this, nullptr};
    _status =
        ICMCompressionSessionCreate(nullptr, buffer->width(), buffer->height(), _parameters->dataFormat(),
                                    _timeScale, options, nullptr, &record, &_session);
    ICMCompressionSessionOptionsRelease(options);
    if (_status != noErr) {
        _session = nullptr;
        return false;
    }
    beginPass();
    return true;
}

int32_t Kelvo_ICMCompressionSession::compressData(int64_t displayTime, int64_t duration) {
    if (!isActive()) {
        _status = kSessionState;
        return _status;
    }
    ICMValidTimeFlags flags = 0;
    if (displayTime > 0) flags |= kICMValidTime_DisplayTimeStampIsValid;
    if (duration > 0) flags |= kICMValidTime_DisplayDurationIsValid;
    if (isMultiPassSession() && (_passFlags & kICMCompressionPassMode_NoSourceFrames)) {
        _status = ICMCompressionSessionEncodeFrame(_session, nullptr, displayTime, duration, flags, nullptr,
                                                   nullptr, nullptr);
        return _status;
    }
    Kelvo_CVPixelBuffer* pixels = _source->toCVPixelBuffer();
    if (!pixels) {
        _status = _source->Error() != 0 ? _source->Error() : int32_t(paramErr);
        return _status;
    }
    _status = ICMCompressionSessionEncodeFrame(_session, pixels->buffer(), displayTime, duration, flags,
                                               nullptr, nullptr, nullptr);
    return _status;
}

OSStatus Kelvo_ICMCompressionSession::encodedFrameCallback(void* refCon, ICMCompressionSessionRef,
                                                           OSStatus error, ICMEncodedFrameRef frame, void*) {
    if (error != noErr) return error;
    if (!refCon) return kMissingObject;
    return static_cast<Kelvo_ICMCompressionSession*>(refCon)->encodedFrameReady(frame);
}

int32_t Kelvo_ICMCompressionSession::encodedFrameReady(ICMEncodedFrameRef frame) {
    if (!_compressedParameters) {
        ImageDescriptionHandle desc = nullptr;
        if (getProperty(kICMCompressionSessionPropertyID_ImageDescription, &desc) == noErr && desc) {
            _compressedParameters = new Kelvo_ImgDesc(desc);
            DisposeHandle(reinterpret_cast<Handle>(desc));
        }
    }
    ImageDescriptionHandle frameDesc = nullptr;
    OSStatus err = ICMEncodedFrameGetImageDescription(frame, &frameDesc);
    if (err != noErr) return err;
    int64_t decodeDuration = ICMEncodedFrameGetDecodeDuration(frame);
    const int32_t sessionScale = timeScale();
    if (decodeDuration == 0 && sessionScale > 0)
        decodeDuration = int64_t(ICMEncodedFrameGetTimeScale(frame)) * _minFrameDuration / sessionScale;
    err = noErr;
    // A file gets the frames too, as with the image sequences.
    if (_output.kind >= 1 && _output.kind <= 3)
        err = deliver(ICMEncodedFrameGetDataPtr(frame), ICMEncodedFrameGetDataSize(frame), decodeDuration,
                      ICMEncodedFrameGetDisplayOffset(frame), frameDesc,
                      ICMEncodedFrameGetMediaSampleFlags(frame));
    DisposeHandle(reinterpret_cast<Handle>(frameDesc));
    if (err == noErr) ++_framesCount;
    return err;
}

void Kelvo_ICMCompressionSession::endSession() {
    if (isActive()) {
        _status = ICMCompressionSessionCompleteFrames(_session, true, 0, 0);
        if (!endPass()) {
            // The codec wants the frames again: the session stays as it is for the next pass.
            ICMCompressionSessionBeginPass(_session, _passFlags, 0);
            return;
        }
        _output.kind = 0;
        ICMCompressionSessionRelease(_session);
        _session = nullptr;
    }
    delete _compressedParameters;
    _compressedParameters = nullptr;
    _minFrameDuration = 0;
    _source = nullptr;
}

int32_t Kelvo_ICMCompressionSession::getProperty(uint32_t type, void* value) {
    if (!_session) return _status;
    Kelvo_PropertyImageCompression p(_session);
    if (!p.getInfo(type) || !p.getValue(value)) {
        _status = p.Error();
        return _status;
    }
    return noErr;
}

int32_t Kelvo_ICMCompressionSession::setProperty(uint32_t type, void* value, uint32_t size) {
    if (!_session) return _status;
    Kelvo_PropertyImageCompression p(_session);
    if (!p.getInfo(type) || !p.setValue(value, size)) {
        _status = p.Error();
        return _status;
    }
    return noErr;
}
