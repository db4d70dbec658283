#include "KelvoVideoDecompression.h"

#include "KelvoVideo.h"
#include "PlatformEndian.h"
#include "PlatformMemory.h"

#include <cstring>

namespace {

constexpr int32_t kNotAnEffect = 9;
constexpr int32_t kMissingInput = 79;
constexpr int32_t kBadDestination = 80;
constexpr int32_t kSessionState = 200;
constexpr int32_t kTransferModeDither = 64;
constexpr int32_t kSequenceFlagsMask = 256;

} // namespace

// ---------------------------------------------------------------------------------------------
// Base

Kelvo_VideoDecompressionSession::Kelvo_VideoDecompressionSession(Kelvo_ImgDesc* parameters) {
    // No session runs yet, and the subclass is not built: the parameters are taken directly.
    if (!parameters || !parameters->qtObjIsValid()) {
        _status = parameters ? parameters->Error() : int32_t(memFullErr);
        return;
    }
    Kelvo_QTObj* copy = parameters->clone();
    if (copy && copy->qtObjIsValid()) {
        _parameters = static_cast<Kelvo_ImgDesc*>(copy);
    } else {
        delete copy;
        _status = memFullErr;
    }
}

Kelvo_VideoDecompressionSession::~Kelvo_VideoDecompressionSession() {
    delete _parameters;
    delete _worldDescription;
}

bool Kelvo_VideoDecompressionSession::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_QTObj::isA(name) || std::strcmp(name, "Kelvo_VideoDecompressionSession") == 0;
}

void Kelvo_VideoDecompressionSession::defaultStatus() {
    Kelvo_QTObj::defaultStatus();
    endSession();
    delete _parameters;
    _parameters = nullptr;
    _transform.defaultStatus();
    _input = KelvoDecompressionInput{};
}

bool Kelvo_VideoDecompressionSession::sessionParameters(Kelvo_ImgDesc* parameters) {
    if (isActive()) {
        _status = kSessionState;
        return false;
    }
    int32_t error = 0;
    if (!Kelvo_QTObj::isValidInstance(parameters, error, false) || !parameters->qtObjIsValid()) {
        _status = error != 0 ? error : int32_t(paramErr);
        return false;
    }
    Kelvo_QTObj* copy = parameters->clone();
    if (!copy || !copy->qtObjIsValid()) {
        delete copy;
        _status = parameters->Error() != 0 ? parameters->Error() : int32_t(memFullErr);
        return false;
    }
    delete _parameters;
    _parameters = static_cast<Kelvo_ImgDesc*>(copy);
    return true;
}

void Kelvo_VideoDecompressionSession::inputStorage(compressionInputRecord* record) {
    if (!record) return;
    switch (record->kind) {
    case 4: {
        // The world's pixels, described by a description of the world.
        auto* desc = new Kelvo_ImgDesc(record->world);
        PixMapHandle map = record->world ? GetGWorldPixMap(record->world) : nullptr;
        Ptr base = map ? GetPixBaseAddr(map) : nullptr;
        const int32_t size = desc->qtObjIsValid() ? desc->qtDataSize() : 0;
        const int32_t bytes = map ? GetPixRowBytes(map) * desc->qtHeight() : 0;
        if (base && (size > 0 || bytes > 0)) {
            delete _worldDescription;
            _worldDescription = desc;
            _input = KelvoDecompressionInput{2, base, uint32_t(size > 0 ? size : bytes), nullptr};
        } else {
            delete desc;
        }
        return;
    }
    case 1: {
        Handle h = record->handle;
        if (!h) {
            _status = kMissingInput;
            return;
        }
        if (!*h || GetHandleSize(h) == 0) return;
        _input = KelvoDecompressionInput{2, *h, uint32_t(GetHandleSize(h)), nullptr};
        return;
    }
    case 2:
        if (record->pointer.data && record->pointer.size > 0) {
            _input = KelvoDecompressionInput{2, record->pointer.data, uint32_t(record->pointer.size),
                                             record->pointer.desc};
            _status = noErr;
        } else {
            _status = kMissingInput;
        }
        return;
    default:
        _status = kMissingInput;
        return;
    }
}

// ---------------------------------------------------------------------------------------------
// Image sequences

Kelvo_ISDecompressionSession::Kelvo_ISDecompressionSession(Kelvo_ImgDesc* parameters)
    : Kelvo_VideoDecompressionSession(parameters) {}

Kelvo_ISDecompressionSession::~Kelvo_ISDecompressionSession() {
    Kelvo_ISDecompressionSession::endSession();
}

bool Kelvo_ISDecompressionSession::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_VideoDecompressionSession::isA(name) ||
           std::strcmp(name, "Kelvo_ISDecompressionSession") == 0;
}

void Kelvo_ISDecompressionSession::displayTransformations(Kelvo_DisplayTransform* transform) {
    if (!qtObjIsValid() || !transform || !transform->qtObjIsValid()) return;
    _transform.Copy(*transform);
    if (isActive()) updateSessionDisplayParams();
}

void Kelvo_ISDecompressionSession::updateSessionDisplayParams() {
    if (!isActive()) return;
    Kelvo_Rect& source = _transform.qtSrcRect();
    SetDSequenceSrcRect(_sequence, source.qtObjIsValid() ? source.rPtr() : nullptr);
    Kelvo_Region* clip = _transform.Clip();
    SetDSequenceMask(_sequence, clip ? clip->region() : nullptr);
    Kelvo_GraphicsMode& mode = _transform.drawingMode();
    SetDSequenceTransferMode(_sequence, int16_t(mode.mode()), &mode.color());
    _status = SetDSequenceMatrix(_sequence, _transform.Matrix());
}

bool Kelvo_VideoDecompressionSession::takeDestination(Kelvo_QDGWorldBuffer* destination) {
    if (!qtObjIsValid()) return false;
    if (isActive()) {
        _status = kSessionState;
        return false;
    }
    _framesCount = 0;
    if (_input.kind == 0) {
        _status = kMissingInput;
        return false;
    }
    if (!destination || !destination->qtObjIsValid()) {
        _status = kBadDestination;
        return false;
    }
    _destination = destination;
    return true;
}

bool Kelvo_ISDecompressionSession::beginSession(Kelvo_QDGWorldBuffer* destination) {
    if (!takeDestination(destination)) return false;
    ImageSequence sequence = 0;
    _status =
        DecompressSequenceBeginS(&sequence, _parameters->hImageDesc(), static_cast<Ptr>(_input.data),
                                 int32_t(_input.size), destination->buffer(), nullptr, nullptr, nullptr,
                                 kTransferModeDither, nullptr, 0, _parameters->qtSpatialQuality(), nullptr);
    if (_status != noErr) {
        endSession();
        return false;
    }
    _sequence = sequence;
    SetDSequenceFlags(_sequence, kSequenceFlagsMask, kSequenceFlagsMask);
    updateSessionDisplayParams();
    return true;
}

void Kelvo_ISDecompressionSession::decompressData(int64_t, int64_t) {
    if (!isActive()) {
        _status = kSessionState;
        return;
    }
    CodecFlags out = 0;
    _status = DecompressSequenceFrameS(_sequence, static_cast<Ptr>(_input.data), int32_t(_input.size), 0,
                                       &out, nullptr);
    if (_status == noErr) ++_framesCount;
}

void Kelvo_ISDecompressionSession::endSession() {
    if (isActive()) {
        CDSequenceEnd(_sequence);
        _sequence = 0;
        _framesCount = 0;
    }
    _destination = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Effects

Kelvo_ISEffectDecompressionSession::Kelvo_ISEffectDecompressionSession() {
    _timeBase = NewTimeBase();
    if (_timeBase) SetTimeBaseRate(_timeBase, 0);
}

Kelvo_ISEffectDecompressionSession::Kelvo_ISEffectDecompressionSession(Kelvo_ImgDesc* parameters)
    : Kelvo_ISEffectDecompressionSession() {
    sessionParameters(parameters);
}

Kelvo_ISEffectDecompressionSession::~Kelvo_ISEffectDecompressionSession() {
    Kelvo_ISEffectDecompressionSession::endSession();
    if (_timeBase) DisposeTimeBase(_timeBase);
}

bool Kelvo_ISEffectDecompressionSession::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_ISDecompressionSession::isA(name) ||
           std::strcmp(name, "Kelvo_ISEffectDecompressionSession") == 0;
}

void Kelvo_ISEffectDecompressionSession::defaultStatus() {
    Kelvo_ISDecompressionSession::defaultStatus();
    resetGWSources();
}

bool Kelvo_ISEffectDecompressionSession::sessionParameters(Kelvo_ImgDesc* parameters) {
    if (!parameters || !parameters->isA("Kelvo_EffectDesc")) {
        _status = kNotAnEffect;
        return false;
    }
    return Kelvo_ISDecompressionSession::sessionParameters(parameters);
}

void Kelvo_ISEffectDecompressionSession::inputStorage(compressionInputRecord* record) {
    if (!record || record->kind != 1) {
        _status = kMissingInput;
        return;
    }
    Kelvo_ISDecompressionSession::inputStorage(record);
}

bool Kelvo_ISEffectDecompressionSession::beginSession(Kelvo_QDGWorldBuffer* destination) {
    if (isActive()) return true;
    if (!Kelvo_ISDecompressionSession::beginSession(destination)) return false;
    if (!sessionSetDataSources()) {
        endSession();
        return false;
    }
    CDSequenceSetTimeBase(_sequence, _timeBase);
    return true;
}

bool Kelvo_ISEffectDecompressionSession::sessionSetDataSources() {
    if (!isActive()) return true;
    const int32_t required = static_cast<Kelvo_EffectDesc*>(_parameters)->qtSourcesReq();
    if (required < 1) return true;
    if (_sources.count < required || !_sources.worlds) {
        _status = paramErr;
        return false;
    }
    static const OSType kSourceTypes[3] = {FOUR_CHAR_CODE("srcA"), FOUR_CHAR_CODE("srcB"),
                                           FOUR_CHAR_CODE("srcC")};
    for (int32_t i = 0; i < required && i < 3; ++i) {
        auto* desc = new Kelvo_ImgDesc(_sources.worlds[i]);
        if (!desc->qtObjIsValid()) {
            _status = desc->Error() != 0 ? desc->Error() : int32_t(paramErr);
            delete desc;
            return false;
        }
        PixMapHandle map = GetGWorldPixMap(_sources.worlds[i]);
        void* base = map ? GetPixBaseAddr(map) : nullptr;
        const int32_t size = map ? GetPixRowBytes(map) * desc->qtHeight() : 0;
        ImageSequenceDataSource source = 0;
        OSErr err = CDSequenceNewDataSource(_sequence, &source, kSourceTypes[i], int16_t(i + 1),
                                            reinterpret_cast<Handle>(desc->hImageDesc()), nullptr, nullptr);
        if (err == noErr) err = CDSequenceSetSourceData(source, base, size);
        if (err != noErr) {
            _status = err;
            delete desc;
            return false;
        }
        delete _slots[i].desc;
        _slots[i] = Slot{uint32_t(size), source, desc, base};
    }
    return true;
}

void Kelvo_ISEffectDecompressionSession::sessionRefreshDataSources() {
    if (!_parameters) return;
    const int32_t required = static_cast<Kelvo_EffectDesc*>(_parameters)->qtSourcesReq();
    for (int32_t i = 0; i < required && i < 3; ++i)
        if (_slots[i].source)
            CDSequenceSetSourceData(_slots[i].source, _slots[i].base, int32_t(_slots[i].size));
}

void Kelvo_ISEffectDecompressionSession::resetGWSources() {
    _sources = KelvoEffectSources{};
    for (Slot& slot : _slots) {
        delete slot.desc;
        slot = Slot{};
    }
}

void Kelvo_ISEffectDecompressionSession::decompressData(int64_t time, int64_t scale) {
    if (!isActive()) return;
    sessionRefreshDataSources();
    CodecFlags out = 0;
    if (_timeBase && time > 0 && scale > 0) {
        const TimeValue value = TimeValue(uint32_t(uint64_t(time)));
        const TimeScale timeScale = TimeScale(uint32_t(uint64_t(scale)));
        SetTimeBaseValue(_timeBase, value, timeScale);
        ICMFrameTimeRecord frameTime{};
        frameTime.value.lo = uint32_t(value);
        frameTime.scale = timeScale;
        frameTime.duration = timeScale;
        frameTime.recordSize = int32_t(sizeof frameTime);
        frameTime.frameNumber = 1;
        frameTime.flags = 1;
        frameTime.virtualDuration = timeScale;
        _status = DecompressSequenceFrameWhen(_sequence, static_cast<Ptr>(_input.data), int32_t(_input.size),
                                              0, &out, nullptr, &frameTime);
        if (_status == codecTooSlowForTimedFrameErr) decompressData(-1, -1);
        return;
    }
    _status = DecompressSequenceFrameWhen(_sequence, static_cast<Ptr>(_input.data), int32_t(_input.size), 0,
                                          &out, nullptr, nullptr);
}

void Kelvo_ISEffectDecompressionSession::endSession() {
    Kelvo_ISDecompressionSession::endSession();
    resetGWSources();
}

// ---------------------------------------------------------------------------------------------
// The newer interface

Kelvo_ICMDecompressionSession::Kelvo_ICMDecompressionSession(Kelvo_ImgDesc* parameters)
    : Kelvo_VideoDecompressionSession(parameters) {}

Kelvo_ICMDecompressionSession::~Kelvo_ICMDecompressionSession() {
    Kelvo_ICMDecompressionSession::endSession();
}

bool Kelvo_ICMDecompressionSession::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_VideoDecompressionSession::isA(name) ||
           std::strcmp(name, "Kelvo_ICMDecompressionSession") == 0;
}

void Kelvo_ICMDecompressionSession::inputStorage(compressionInputRecord* record) {
    if (record && record->kind == 10) {
        _input = KelvoDecompressionInput{10, record->pixelBuffer, 0, nullptr};
        return;
    }
    Kelvo_VideoDecompressionSession::inputStorage(record);
}

void Kelvo_ICMDecompressionSession::displayTransformations(Kelvo_DisplayTransform* transform) {
    if (transform && transform->qtObjIsValid()) _transform.Copy(*transform);
}

void Kelvo_ICMDecompressionSession::_decompressionTrackingCallback(void* refCon, OSStatus result, uint32_t,
                                                                   CVPixelBufferRef, void*, void*) {
    if (refCon) static_cast<Kelvo_ICMDecompressionSession*>(refCon)->_status = result;
}

bool Kelvo_ICMDecompressionSession::beginSession(Kelvo_QDGWorldBuffer* destination) {
    if (!takeDestination(destination)) return false;
    ICMDecompressionSessionOptionsRef options = nullptr;
    ICMDecompressionSessionOptionsCreate(nullptr, &options);
    ICMDecompressionFrameOptionsCreate(nullptr, &_frameOptions);
    ICMDecompressionTrackingCallbackRecord tracking{_decompressionTrackingCallback, this};
    _status = ICMDecompressionSessionCreate(nullptr, _parameters->hImageDesc(), options, nullptr, &tracking,
                                            &_session);
    ICMDecompressionSessionOptionsRelease(options);
    if (_status == noErr && _session) {
        Kelvo_CVPixelBuffer* pixels = destination->toCVPixelBuffer();
        CVPixelBufferRef buffer = pixels ? pixels->buffer() : nullptr;
        Kelvo_PropertyImageDecompressionFrameOptions accessor(_frameOptions);
        if (!accessor.getInfo(kICMDecompressionFrameOptionsPropertyID_DestinationPixelBuffer) ||
            !accessor.setValue(&buffer, sizeof buffer))
            _status = accessor.Error();
    }
    if (_status != noErr || !_session) {
        endSession();
        return false;
    }
    return true;
}

void Kelvo_ICMDecompressionSession::endSession() {
    if (isActive()) {
        ICMDecompressionSessionRelease(_session);
        _session = nullptr;
        _framesCount = 0;
    }
    if (_frameOptions) {
        ICMDecompressionFrameOptionsRelease(_frameOptions);
        _frameOptions = nullptr;
    }
    _destination = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Property accessors

Kelvo_PropertyImageDecompressionOptions::Kelvo_PropertyImageDecompressionOptions(
    ICMDecompressionSessionOptionsRef options)
    : KelvoPropertyT(options, kQTPropertyClass_ICMDecompressionSessionOptions,
                     ICMDecompressionSessionOptionsGetPropertyInfo, ICMDecompressionSessionOptionsGetProperty,
                     ICMDecompressionSessionOptionsSetProperty, paramErr) {}

Kelvo_PropertyImageDecompressionFrameOptions::Kelvo_PropertyImageDecompressionFrameOptions(
    ICMDecompressionFrameOptionsRef options)
    : KelvoPropertyT(options, kQTPropertyClass_ICMDecompressionFrameOptions,
                     ICMDecompressionFrameOptionsGetPropertyInfo, ICMDecompressionFrameOptionsGetProperty,
                     ICMDecompressionFrameOptionsSetProperty, paramErr) {}

Kelvo_PropertyImageDecompression::Kelvo_PropertyImageDecompression(ICMDecompressionSessionRef session)
    : KelvoPropertyT(session, kQTPropertyClass_ICMDecompressionSession,
                     ICMDecompressionSessionGetPropertyInfo, ICMDecompressionSessionGetProperty,
                     ICMDecompressionSessionSetProperty, paramErr) {}
