#include "KelvoTrackProviders.h"

#include "KelvoCoreGraphics.h"
#include "KelvoCoreVideoDataDescriptors.h"
#include "KelvoDataReference.h"
#include "KelvoMovie.h"
#include "KelvoTrack.h"
#include "KelvoVideoCompression.h"
#include "PlatformErrors.h"
#include "PlatformFixed.h"
#include "PlatformMemory.h"

#include <cstring>

namespace {

constexpr int32_t kSessionState = 200;
// What a frame lasts when the compression description gives no frame duration of its own.
constexpr int32_t kFallbackSampleDuration = 24;

// The movie toolbox's last error, or `fallback` when a call failed without one.
int32_t moviesError(int32_t fallback) {
    const OSErr err = GetMoviesError();
    return err != noErr ? int32_t(err) : fallback;
}

} // namespace

int32_t Kelvo_TrackProvider::defaultTimeScale = 600;

Kelvo_TrackProvider::Kelvo_TrackProvider(Kelvo_Movie* movie, Kelvo_QTObj* parameters) {
    if (!movie || !movie->movie()) {
        _status = kKelvoNoMovie;
        return;
    }
    int32_t err = 0;
    if (!Kelvo_QTObj::isValidInstance(parameters, err, false)) {
        _status = err;
        return;
    }
    _parameters = parameters->clone();
    _movie = movie->movie();
}

Kelvo_TrackProvider::~Kelvo_TrackProvider() {
    Kelvo_TrackProvider::FlushMedia();
    delete _dataReference;
    delete _parameters;
}

bool Kelvo_TrackProvider::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_QTObj::isA(name) || std::strcmp(name, "Kelvo_TrackProvider") == 0;
}

void Kelvo_TrackProvider::FlushMedia() {
    if (!_editing) return;
    _status = EndMediaEdits(_media);
    // Only what this session added goes to the end of the track: the media's earlier samples are
    // in the track already.
    if (_status == noErr) insertMedia(-1, _sessionStart);
}

Kelvo_QTObj* Kelvo_TrackProvider::trackParameters() {
    return _parameters ? _parameters->clone() : nullptr;
}

void Kelvo_TrackProvider::trackParameters(Kelvo_QTObj*) {}

Media Kelvo_TrackProvider::createTrack(Fixed width, Fixed height, int32_t timeScale, int16_t volume) {
    _status = noErr;
    _track = NewMovieTrack(_movie, width, height, volume);
    if (!_track) {
        _status = moviesError(paramErr);
        return nullptr;
    }
    const Handle ref = _dataReference ? _dataReference->DataRef() : nullptr;
    const OSType refType = _dataReference ? _dataReference->Type() : 0;
    _media = NewTrackMedia(_track, mediaType(), timeScale, ref, refType);
    if (!_media) {
        _status = moviesError(paramErr);
        // A track that can never hold samples is not left behind in the caller's movie.
        DisposeMovieTrack(_track);
        _track = nullptr;
    }
    return _media;
}

Media Kelvo_TrackProvider::NewTrack(int32_t timeScale, int16_t volume) {
    return createTrack(0, 0, timeScale, volume);
}

Media Kelvo_TrackProvider::NewTrack(Kelvo_Rect& rect, int32_t timeScale) {
    if (!rect.qtObjIsValid()) {
        // An empty rectangle carries no status of its own; the provider still reports failing.
        _status = rect.Error() != 0 ? rect.Error() : int32_t(paramErr);
        return nullptr;
    }
    return createTrack(rect.widthAsFixed(), rect.heightAsFixed(), timeScale, 0);
}

void Kelvo_TrackProvider::StartSession() {
    if (_editing) return;
    if (!_media) {
        _status = kKelvoNoMedia;
        return;
    }
    _status = BeginMediaEdits(_media);
    _editing = _status == noErr ? 1 : 0;
    if (_editing) {
        const TimeValue64 end = GetMediaDecodeDuration(_media);
        _sessionStart = end > INT32_MAX ? INT32_MAX : TimeValue(end);
    }
}

void Kelvo_TrackProvider::insertMedia(int32_t trackStart, int32_t mediaTime) {
    _editing = 0;
    // Frames are shown in the order they are decoded, so the media's display end is its decode
    // end.
    const TimeValue64 duration = GetMediaDecodeDuration(_media);
    // An empty session has nothing to insert: ending it is not a failure.
    if (duration <= mediaTime) {
        _status = noErr;
        return;
    }
    const TimeValue length = duration - mediaTime > INT32_MAX ? INT32_MAX : TimeValue(duration - mediaTime);
    _status = InsertMediaIntoTrack(_track, trackStart, mediaTime, length, fixed1);
}

// Simple video provider

Kelvo_TrackVideoSimpleProvider::Kelvo_TrackVideoSimpleProvider(Kelvo_Movie* movie, Kelvo_ImgDesc* desc,
                                                               int32_t timeScale)
    : Kelvo_TrackProvider(movie, desc) {
    if (!_movie) return;
    Kelvo_Rect rect(int32_t(desc->qtWidth()), int32_t(desc->qtHeight()));
    NewTrack(rect, timeScale);
}

void Kelvo_TrackVideoSimpleProvider::addSample(Handle data, int32_t size, int32_t duration,
                                               int16_t sampleFlags) {
    if (!_editing) {
        _status = kSessionState;
        return;
    }
    // The bytes are read from the handle: a size beyond what it holds is refused, not read past.
    if (!data || !*data || size <= 0 || size > GetHandleSize(data)) {
        _status = paramErr;
        return;
    }
    auto* desc = static_cast<Kelvo_ImgDesc*>(_parameters);
    _status = AddMediaSample2(_media, reinterpret_cast<const uint8_t*>(*data), ByteCount(size), duration, 0,
                              desc ? desc->hSampleDesc() : nullptr, 1, uint16_t(sampleFlags), nullptr);
}

// Compressing video provider

Kelvo_TrackVideoProvider::Kelvo_TrackVideoProvider(Kelvo_Movie* movie, Kelvo_ImgDescComp* desc,
                                                   int32_t timeScale)
    : Kelvo_TrackProvider(movie, desc) {
    if (_movie) {
        Rect active{0, 0, 0, 0};
        desc->activeBounds(&active);
        Kelvo_Rect bounds(active);
        if (!bounds.qtObjIsValid()) {
            _status = paramErr;
        } else {
            _session = new Kelvo_ICMCompressionSession(desc, timeScale);
            if (!_session->qtObjIsValid()) {
                // A session without usable parameters or time scale says nothing of its own.
                _status = _session->Error() != 0 ? _session->Error() : int32_t(paramErr);
                delete _session;
                _session = nullptr;
            } else {
                // The frames are compressed as they are drawn: there is no second pass.
                _session->sessionParameters()->qtMultiPassEncoding() = false;
                _sourceBuffer.init(bounds.width(), bounds.height());
                if (!_sourceBuffer.qtObjIsValid()) {
                    _status = _sourceBuffer.Error();
                } else {
                    NewTrack(bounds, timeScale);
                    if (!qtObjIsValid() || _session->minimumFrameDuration() <= 0)
                        sampleDuration(kFallbackSampleDuration);
                }
            }
        }
    }
    // The session's parameters stand for the track's from here on.
    delete _parameters;
    _parameters = nullptr;
}

Kelvo_TrackVideoProvider::~Kelvo_TrackVideoProvider() {
    if (_editing) {
        if (_session) _session->endSession();
        FlushMedia();
    }
    delete _session;
    _sourceBuffer.releaseBuffer();
}

Kelvo_QTObj* Kelvo_TrackVideoProvider::trackParameters() {
    if (!qtObjIsValid() || !_session || !_session->sessionParameters()) return nullptr;
    return _session->sessionParameters()->clone();
}

int32_t Kelvo_TrackVideoProvider::sampleDuration() {
    if (!qtObjIsValid() || !_session) return 0;
    return _session->minimumFrameDuration();
}

void Kelvo_TrackVideoProvider::sampleDuration(int32_t duration) {
    if (!qtObjIsValid() || !_session || !_session->sessionParameters()) return;
    Kelvo_ImgDescComp* parameters = _session->sessionParameters();
    parameters->qtFrameDur() = duration;
    // A frame rate outranks the frame duration: cleared, so that the duration asked for holds.
    parameters->qtFixFrameRate() = 0;
    // The session caches the duration it stamps on frames: a running session takes the new one now.
    _session->minimumFrameDuration();
}

GWorldPtr Kelvo_TrackVideoProvider::dataProvider() {
    return _sourceBuffer.qtObjIsValid() ? _sourceBuffer.buffer() : nullptr;
}

void Kelvo_TrackVideoProvider::BeginSession() {
    if (!qtObjIsValid() || !_session) return;
    if (_editing) {
        _status = kSessionState;
        return;
    }
    StartSession();
    if (!_editing) return;
    _session->outputStorage() = KelvoCompressionOutput{1, _media};
    _session->beginSession(&_sourceBuffer);
    if (!_session->isActive()) {
        const int32_t failure = _session->Error() != 0 ? _session->Error() : int32_t(paramErr);
        EndSession();
        // Closing the edits again must not hide why the session could not begin.
        _status = failure;
    }
}

void Kelvo_TrackVideoProvider::addSample() {
    if (!_editing || !_session) {
        _status = kSessionState;
        return;
    }
    _status = _session->compressData(-1, -1);
}

void Kelvo_TrackVideoProvider::EndSession() {
    if (!_editing) return;
    if (_session) {
        _session->endSession();
        const int32_t completed = _session->Error();
        FlushMedia();
        // Frames the codec failed to complete are a failure of the session even when the media
        // edits close cleanly.
        if (_status == noErr && completed != noErr) _status = completed;
        return;
    }
    FlushMedia();
}
