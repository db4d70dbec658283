// The movie's tracks, times, selection, geometry, frames and sound.
#include "KelvoAudio.h"
#include "KelvoDrawingUtils.h"
#include "KelvoGraphicsDisplay.h"
#include "KelvoMedia.h"
#include "KelvoMetaData.h"
#include "KelvoMovie.h"
#include "KelvoMovieSupport.h"
#include "KelvoUserData.h"
#include "PlatformCF.h"
#include "PlatformGWorlds.h"
#include "PlatformMovieModelExtras.h"
#include "PlatformMovieFileReader.h"
#include "PlatformMovieControllers.h"
#include "PlatformMoviePlayback.h"
#include "VUXKelvo.h"
#include "VUXQTUtils.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

using namespace kelvo_movie;

namespace {

constexpr uint32_t kAudio = FOUR_CHAR_CODE("audi");
constexpr uint32_t kVisual = FOUR_CHAR_CODE("visu");

// Tracks of the movie by type or characteristic (flags as GetMovieIndTrackType takes them).
template <class F> void forEachTrack(Movie m, OSType type, int32_t flags, F&& f) {
    for (int32_t i = 1;; ++i) {
        Track t = GetMovieIndTrackType(m, i, type, flags);
        if (!t || !f(t)) break;
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Frame counting.

int32_t GetMovieFrameCountInSelection(Movie m, int32_t start, int32_t end, uint32_t mediaType) {
    if (!m) return -1;
    if (mediaType == FOUR_CHAR_CODE("MPEG") && VUX::VUXQT::VUXQTLoader::libraryVersion() >= 0x06008000u) {
        // The movie draws once into a small world of its own before it is asked.
        GWorldPtr world = nullptr;
        const Rect bounds{0, 0, 32, 32};
        if (NewGWorld(&world, 0, &bounds, nullptr, nullptr, 0) != noErr || !world) return -1;
        CGrafPtr oldPort = nullptr;
        GDevice** oldDevice = nullptr;
        GetMovieGWorld(m, &oldPort, &oldDevice);
        SetMovieGWorld(m, world, nullptr);
        MoviesTask(m, 0);
        SetMovieGWorld(m, oldPort, oldDevice);
        DisposeGWorld(world);
    }
    const OSType type = mediaType;
    return countSampleTimes(start, end, [&](int16_t flags, TimeValue from) {
        TimeValue next = -1;
        GetMovieNextInterestingTime(m, flags, type ? 1 : 0, type ? &type : nullptr, from, kRateForward, &next,
                                    nullptr);
        return next;
    });
}

// ---------------------------------------------------------------------------------------------
// Tracks.

int32_t Kelvo_Movie::tracksCount() const {
    return _movie ? GetMovieTrackCount(_movie) : 0;
}

Track Kelvo_Movie::track(int32_t index) const {
    if (!_movie || index < 1 || index > GetMovieTrackCount(_movie)) return nullptr;
    return GetMovieIndTrack(_movie, index);
}

Kelvo_Track Kelvo_Movie::operator[](int32_t index) const {
    return Kelvo_Track(_movie, index + 1);
}

Kelvo_QTObjectsList* Kelvo_Movie::trackList(Kelvo_OSType* type, int32_t flags) {
    if (noMovie()) return nullptr;
    auto* list = new (std::nothrow) Kelvo_QTObjectsList();
    if (!list) {
        _status = memFullErr;
        return nullptr;
    }
    auto add = [&](Track t) {
        if (auto* wrapper = new (std::nothrow) Kelvo_Track(t)) list->addObjValueByRef(wrapper);
        return true;
    };
    if (!type || type->getOSType() == 0) {
        _status = 0;
        const int32_t n = GetMovieTrackCount(_movie);
        for (int32_t i = 1; i <= n; ++i)
            add(GetMovieIndTrack(_movie, i));
    } else {
        forEachTrack(_movie, type->getOSType(), flags, add);
    }
    return list;
}

void Kelvo_Movie::removeTrack(int32_t index) {
    Track t = track(index);
    if (!t) {
        _status = kKelvoNoTrack;
        return;
    }
    DisposeMovieTrack(t);
    _status = GetMoviesError();
    if (_status == 0) changed();
}

Kelvo_Track* Kelvo_Movie::checkStatusForMoviePlayback() {
    if (noMovie()) return nullptr;
    Track problem = nullptr;
    _status = GetMovieStatus(_movie, &problem);
    return problem ? new (std::nothrow) Kelvo_Track(problem) : nullptr;
}

bool Kelvo_Movie::qtHasVideo() {
    return _movie && GetMovieIndTrackType(_movie, 1, VisualMediaCharacteristic, movieTrackCharacteristic);
}

bool Kelvo_Movie::qtHasSound() {
    return _movie && GetMovieIndTrackType(_movie, 1, AudioMediaCharacteristic, movieTrackCharacteristic);
}

bool Kelvo_Movie::isSkinMovie() {
    return _movie && GetMovieIndTrackType(_movie, 1, FOUR_CHAR_CODE("skin"), movieTrackCharacteristic);
}

bool Kelvo_Movie::isStreamingMovie() {
    return _movie && GetMovieIndTrackType(_movie, 1, FOUR_CHAR_CODE("strm"),
                                          movieTrackMediaType | movieTrackEnabledOnly);
}

bool Kelvo_Movie::isHintedMovie() {
    // A hinted movie carries a hint track: a track whose media is of type 'hint'.
    return _movie && GetMovieIndTrackType(_movie, 1, FOUR_CHAR_CODE("hint"), movieTrackMediaType);
}

bool Kelvo_Movie::isQTVRMovie() {
    if (!_movie) return false;
    int32_t err = 0;
    const uint32_t type = VUX::VUXQT::VUXQTUtils::movieControllerType(_movie, err);
    return type == FOUR_CHAR_CODE("STpn") || type == FOUR_CHAR_CODE("qtvr") || type == FOUR_CHAR_CODE("stna");
}

Kelvo_OSType* Kelvo_Movie::getMovieControllerType() {
    int32_t err = 0;
    const uint32_t type = VUX::VUXQT::VUXQTUtils::movieControllerType(_movie, err);
    if (!_movie) _status = kKelvoNoMovie;
    if (type == 0x3F3F3F3Fu) return nullptr;
    return new (std::nothrow) Kelvo_OSType(type);
}

void Kelvo_Movie::setMovieControllerType(Kelvo_OSType* type) {
    if (!type || type->getOSType() == 0) {
        _status = paramErr;
        return;
    }
    int32_t err = 0;
    const uint32_t code = type->getOSType();
    _status = VUX::VUXQT::VUXQTUtils::movieControllerType(_movie, code, err);
}

Kelvo_Track* Kelvo_Movie::getFrontmostVideoTrack() {
    if (noMovie()) return nullptr;
    Track front = nullptr;
    int16_t frontLayer = 0;
    forEachTrack(_movie, VisualMediaCharacteristic, movieTrackCharacteristic | movieTrackEnabledOnly,
                 [&](Track t) {
                     const int16_t layer = GetTrackLayer(t);
                     if (!front || layer < frontLayer) {
                         front = t;
                         frontLayer = layer;
                     }
                     return true;
                 });
    return front ? new (std::nothrow) Kelvo_Track(front) : nullptr;
}

bool Kelvo_Movie::isThreadSafe() const {
    // A movie is safe on another thread only when every one of its tracks is.
    const int32_t n = tracksCount();
    if (n == 0) return false;
    for (int32_t i = 1; i <= n; ++i)
        if (!Kelvo_Track(track(i)).isThreadSafe()) return false;
    return true;
}

bool Kelvo_Movie::isDRMAuthorized(bool allowUserInteraction) {
    const int32_t n = tracksCount();
    for (int32_t i = 1; i <= n; ++i) {
        Kelvo_Track t(track(i));
        if (!t.isDRMAuthorized(allowUserInteraction)) {
            _status = t.Error();
            return false;
        }
    }
    return true;
}

Track Kelvo_Movie::addTrackSegment(Kelvo_Track* source, Kelvo_TimeRange* range, bool mediaEdits) {
    ClearMoviesStickyError();
    if (noMovie()) return nullptr;
    if (!source || !source->qtObjIsValid()) {
        _status = kKelvoNothingToWorkOn;
        return nullptr;
    }
    Track from = source->track();
    Fixed width = 0, height = 0;
    GetTrackDimensions(from, &width, &height);
    Media fromMedia = GetTrackMedia(from);
    Track made = NewMovieTrack(_movie, width, height, GetTrackVolume(from));
    Media media =
        made ? NewTrackMedia(made, source->type(), fromMedia ? GetMediaTimeScale(fromMedia) : 0, nullptr, 0)
             : nullptr;
    if ((_status = GetMoviesStickyError()) != 0 || !media) {
        // A half-made track is not left in the movie.
        if (made) DisposeMovieTrack(made);
        if (_status == 0) _status = GetMoviesError();
        return nullptr;
    }
    if (mediaEdits) BeginMediaEdits(media);
    const bool part = range && range->qtObjIsValid();
    const TimeValue start = part ? range->start() : 0;
    InsertTrackSegment(from, made, start, part ? range->duration() : GetTrackDuration(from), start);
    if (mediaEdits) EndMediaEdits(media);
    SetTrackEnabled(made, GetTrackEnabled(from));
    CopyTrackSettings(from, made);
    _status = GetMoviesStickyError();
    changed();
    return made;
}

Kelvo_Movie& Kelvo_Movie::operator+=(Kelvo_Track& t) {
    addTrackSegment(&t, nullptr, false);
    return *this;
}

int16_t Kelvo_MovieCopySoundTracks(Kelvo_Movie& src, Kelvo_Movie& dst) {
    if (!src.qtObjIsValid() || !dst.qtObjIsValid()) return kKelvoNoMovie;
    Kelvo_OSType ears(AudioMediaCharacteristic);
    std::unique_ptr<Kelvo_QTObjectsList> list(src.trackListByCharacteristic(&ears, false));
    if (!list) return int16_t(src.Error());
    ClearMoviesStickyError();
    OSErr last = noErr;
    const int32_t n = list->count();
    for (int32_t i = 0; i < n; ++i) {
        auto* t = static_cast<Kelvo_Track*>(list->getObjValueByRef(i));
        if (!t || !t->qtObjIsValid()) continue;
        Media fromMedia = GetTrackMedia(t->track());
        Track made = NewMovieTrack(dst.movie(), 0, 0, GetTrackVolume(t->track()));
        Media media =
            made ? NewTrackMedia(made, t->type(), fromMedia ? GetMediaTimeScale(fromMedia) : 0, nullptr, 0)
                 : nullptr;
        if (media) {
            BeginMediaEdits(media);
            InsertTrackSegment(t->track(), made, 0, GetTrackDuration(t->track()), 0);
            EndMediaEdits(media);
        }
        last = GetMoviesStickyError();
    }
    return last;
}

// ---------------------------------------------------------------------------------------------
// Time.

int32_t Kelvo_Movie::time() const {
    return _movie ? GetMovieTime(_movie, nullptr) : -1;
}

void Kelvo_Movie::time(int32_t t) {
    if (noMovie()) return;
    SetMovieTimeValue(_movie, t);
    _status = GetMoviesError();
    if (_status == 0) changed();
}

int32_t Kelvo_Movie::timeScale() const {
    return _movie ? GetMovieTimeScale(_movie) : -1;
}

void Kelvo_Movie::timeScale(int32_t scale) {
    if (noMovie()) return;
    SetMovieTimeScale(_movie, scale);
    _status = GetMoviesError();
    if (_status == 0) changed();
}

int32_t Kelvo_Movie::duration() const {
    return _movie ? GetMovieDuration(_movie) : -1;
}

void Kelvo_Movie::duration(Kelvo_TimeRange* range, int32_t newDuration) {
    if (noMovie()) return;
    const bool part = range && range->qtObjIsValid();
    _status = ScaleMovieSegment(_movie, part ? range->start() : 0,
                                part ? range->duration() : GetMovieDuration(_movie), newDuration);
    if (_status == 0) changed();
}

int32_t Kelvo_Movie::posterTime() {
    if (noMovie()) return -1;
    return GetMoviePosterTime(_movie);
}

void Kelvo_Movie::posterTime(int32_t t) {
    if (noMovie()) return;
    SetMoviePosterTime(_movie, t);
    _status = GetMoviesError();
    if (_status == 0) changed();
}

Fixed Kelvo_Movie::rate() {
    if (noMovie()) return 0;
    return GetMovieRate(_movie);
}

void Kelvo_Movie::rate(Fixed r) {
    if (noMovie()) return;
    SetMovieRate(_movie, r);
    _status = GetMoviesError();
    if (_status == 0) changed();
}

Fixed Kelvo_Movie::preferredRate() {
    if (noMovie()) return 0;
    return GetMoviePreferredRate(_movie);
}

void Kelvo_Movie::preferredRate(Fixed r) {
    if (noMovie()) return;
    SetMoviePreferredRate(_movie, r);
    _status = GetMoviesError();
    if (_status == 0) changed();
}

int32_t Kelvo_Movie::loadState() {
    if (noMovie()) return -1;
    return GetMovieLoadState(_movie);
}

void Kelvo_Movie::sampleTimeInfoForTimeAndType(double t, uint32_t mediaType, Kelvo_TimeRange64& out) {
    out.start() = -1.0;
    out.duration() = -1.0;
    out.scale() = timeScale();
    if (noMovie()) return;
    if (!(t >= 0)) {
        _status = kKelvoNegativeTime;
        return;
    }
    const OSType type = mediaType;
    const int16_t types = mediaType ? 1 : 0;
    const TimeValue from = t >= double(INT32_MAX) ? INT32_MAX : TimeValue(t);
    TimeValue start = -1, length = 0;
    GetMovieNextInterestingTime(_movie, kEdgeStepSearch, types, types ? &type : nullptr, from, kRateBackward,
                                &start, nullptr);
    _status = GetMoviesError();
    if (_status != 0) return;
    if (start < 0) {
        // No sample shows at or before the time.
        _status = kKelvoNegativeTime;
        return;
    }
    GetMovieNextInterestingTime(_movie, kEdgeStepSearch, types, types ? &type : nullptr, start, kRateForward,
                                nullptr, &length);
    _status = GetMoviesError();
    if (_status != 0) return;
    out.start() = start;
    out.duration() = length;
}

void Kelvo_Movie::sampleTimeInfoForTime(double t, Kelvo_TimeRange64& out) {
    sampleTimeInfoForTimeAndType(t, 0, out);
}

int32_t Kelvo_Movie::nextSampleTime(uint32_t mediaType, int direction, bool move) {
    if (noMovie()) return -1;
    const OSType type = mediaType;
    TimeValue next = -1;
    GetMovieNextInterestingTime(_movie, kStepSearch, mediaType ? 1 : 0, mediaType ? &type : nullptr, time(),
                                direction == 4 ? kRateForward : kRateBackward, &next, nullptr);
    if (next < 0) {
        _status = GetMoviesError();
    } else if (move) {
        SetMovieTimeValue(_movie, next);
        _status = GetMoviesError();
    }
    return next;
}

void Kelvo_Movie::seekTime(int mode, uint32_t* mediaType) {
    if (noMovie()) return;
    _status = 0;
    switch (mode) {
    case 1:
        SetMovieTimeValue(_movie, 0);
        _status = GetMoviesError();
        break;
    case 2:
        SetMovieTimeValue(_movie, GetMovieDuration(_movie));
        _status = GetMoviesError();
        break;
    case 3:
    case 4:
        nextSampleTime(mediaType ? *mediaType : 0, mode, true);
        break;
    default:
        return;
    }
    if (_status == 0) changed();
}

int32_t Kelvo_Movie::samplesCount(Kelvo_TimeRange* range, uint32_t mediaType) {
    if (!_movie) return -1;
    if (range)
        return GetMovieFrameCountInSelection(_movie, range->start(),
                                             int32_t(std::min<int64_t>(range->End(), INT32_MAX)), mediaType);
    return GetMovieFrameCountInSelection(_movie, 0, INT32_MAX, mediaType);
}

void Kelvo_Movie::synchronize(const Kelvo_Movie& master, double* offset) {
    if (!master.qtObjIsValid()) {
        _status = kKelvoNothingToWorkOn;
        return;
    }
    if (noMovie()) return;
    TimeBase base = GetMovieTimeBase(master._movie);
    if (offset) {
        const double o = std::isfinite(*offset) ? std::clamp(*offset, -9.0e18, 9.0e18) : 0.0;
        TimeRecord zero{platform::int64ToWide(int64_t(o)), master.timeScale(), base};
        SetMovieMasterTimeBase(_movie, base, &zero);
    } else {
        SetMovieMasterTimeBase(_movie, base, nullptr);
    }
    _status = GetMoviesError();
}

// ---------------------------------------------------------------------------------------------
// Display and frames.

Kelvo_Rect& Kelvo_Movie::qtNaturalBounds() {
    _bounds.defaultStatus();
    if (_movie) {
        Rect natural{};
        GetMovieNaturalBoundsRect(_movie, &natural);
        _bounds = natural;
    }
    return _bounds;
}

Kelvo_Rect& Kelvo_Movie::qtBounds() {
    _bounds = _movie;
    return _bounds;
}

void Kelvo_Movie::qtBounds(Kelvo_Rect& bounds) {
    if (!qtHasVideo()) return;
    if (!bounds.qtObjIsValid()) {
        _status = paramErr;
        return;
    }
    SetMovieBox(_movie, bounds.rPtr());
    _status = GetMoviesError();
    if (_status == 0) changed();
}

void Kelvo_Movie::qtDisplayProperties(Kelvo_DisplayTransform* transform) {
    if (!qtHasVideo()) return;
    if (!transform) {
        SetMovieMatrix(_movie, nullptr);
        SetMovieClipRgn(_movie, nullptr);
        _status = 0;
        changed();
        return;
    }
    if (!transform->qtObjIsValid()) {
        _status = paramErr;
        return;
    }
    SetMovieMatrix(_movie, transform->Matrix());
    _status = GetMoviesError();
    if (Kelvo_Region* clip = transform->Clip(); clip && clip->qtObjIsValid())
        SetMovieClipRgn(_movie, clip->region());
    if (_status == 0) changed();
}

void Kelvo_Movie::displayParams(Kelvo_CoreDisplayParams* params) {
    if (!qtHasVideo() || !params || !params->qtObjIsValid()) return;
    ClearMoviesStickyError();
    if (params->displayBounds() != qtBounds()) SetMovieBox(_movie, params->displayBounds().rPtr());
    SetMovieMatrix(_movie, params->matrix());
    SetMovieClipRgn(_movie, params->clipRegion().empty() ? nullptr : params->clipRegion().region());
    _status = GetMoviesStickyError();
    if (_status == 0) changed();
}

void Kelvo_Movie::frameAtTime(Kelvo_QDGWorldBuffer*& out, int32_t t, Kelvo_DisplayTransform* transform) {
    out = nullptr;
    if (t < 0) {
        _status = paramErr;
        return;
    }
    if (noMovie()) return;
    out = Kelvo_DrawingUtils::draw(_movie, t, transform, _status);
}

void Kelvo_Movie::frame(Kelvo_QDGWorldBuffer*& out, Kelvo_DisplayTransform* transform) {
    frameAtTime(out, time(), transform);
}

void Kelvo_Movie::posterFrame(Kelvo_QDGWorldBuffer*& out, Kelvo_DisplayTransform* transform) {
    frameAtTime(out, _movie ? GetMoviePosterTime(_movie) : -1, transform);
}

void Kelvo_Movie::thumbnailAtTime(Kelvo_QDGWorldBuffer*& out, int32_t t) {
    Kelvo_DisplayTransform transform(qtNaturalBounds(), Kelvo_Rect(100, 100));
    frameAtTime(out, t, &transform);
}

void Kelvo_Movie::thumbnail(Kelvo_QDGWorldBuffer*& out) {
    thumbnailAtTime(out, time());
}

void Kelvo_Movie::posterThumbnail(Kelvo_QDGWorldBuffer*& out) {
    thumbnailAtTime(out, _movie ? GetMoviePosterTime(_movie) : -1);
}

bool Kelvo_Movie::highQualityEnabled() {
    if (!_movie) return false;
    bool any = false;
    forEachTrack(_movie, VisualMediaCharacteristic, movieTrackCharacteristic | movieTrackEnabledOnly,
                 [&](Track t) {
                     any = Kelvo_Track(t).highQualityEnabled();
                     return !any;
                 });
    return any;
}

void Kelvo_Movie::highQualityEnabled(bool on) {
    if (!_movie) return;
    forEachTrack(_movie, VisualMediaCharacteristic, movieTrackCharacteristic | movieTrackEnabledOnly,
                 [&](Track t) {
                     Kelvo_Track(t).highQualityEnabled(on);
                     return true;
                 });
}

bool Kelvo_Movie::singleFieldEnabled() {
    if (!_movie) return false;
    bool any = false;
    forEachTrack(_movie, VisualMediaCharacteristic, movieTrackCharacteristic | movieTrackEnabledOnly,
                 [&](Track t) {
                     any = Kelvo_Track(t).singleFieldEnabled();
                     return !any;
                 });
    return any;
}

void Kelvo_Movie::singleFieldEnabled(bool on) {
    if (!_movie) return;
    forEachTrack(_movie, VisualMediaCharacteristic, movieTrackCharacteristic | movieTrackEnabledOnly,
                 [&](Track t) {
                     Kelvo_Track(t).singleFieldEnabled(on);
                     return true;
                 });
}

bool Kelvo_Movie::hasApertureModes() {
    Boolean has = false;
    Kelvo_PropertyMovie property(_movie, kVisual);
    _status = kelvo_movie::readProperty(property, FOUR_CHAR_CODE("hamd"), &has, sizeof has);
    return _status == 0 && has;
}

void Kelvo_Movie::generateApertureModes() {
    if (noMovie()) return;
    if (!hasApertureModes()) _status = GenerateMovieApertureModeDimensions(_movie);
}

void Kelvo_Movie::removeApertureModes() {
    if (noMovie()) return;
    if (hasApertureModes()) _status = RemoveMovieApertureModeDimensions(_movie);
}

uint32_t Kelvo_Movie::getApertureMode() {
    if (!_movie) return 0;
    uint32_t mode = 0;
    Kelvo_PropertyMovie property(_movie, kVisual);
    _status = kelvo_movie::readProperty(property, FOUR_CHAR_CODE("apmd"), &mode, sizeof mode);
    return _status == 0 ? mode : 0;
}

void Kelvo_Movie::setApertureMode(uint32_t mode) {
    if (!qtHasVideo()) return;
    if (getApertureMode() == mode && _status == 0) return;
    setProperty(kVisual, FOUR_CHAR_CODE("apmd"), &mode, 4);
}

// ---------------------------------------------------------------------------------------------
// Sound.

int16_t Kelvo_Movie::qtSndVolume() {
    if (noMovie()) return 0;
    return GetMovieVolume(_movie);
}

void Kelvo_Movie::qtSndVolume(int16_t volume) {
    if (noMovie()) return;
    SetMovieVolume(_movie, volume);
    _status = GetMoviesError();
    if (_status == 0) changed();
}

int16_t Kelvo_Movie::preferredVolume() {
    if (noMovie()) return 0;
    return GetMoviePreferredVolume(_movie);
}

void Kelvo_Movie::preferredVolume(int16_t volume) {
    if (noMovie()) return;
    SetMoviePreferredVolume(_movie, volume);
    _status = GetMoviesError();
    if (_status == 0) changed();
}

bool Kelvo_Movie::hasAudioProperty() {
    if (_movie && qtHasSound()) return true;
    _status = kKelvoNoMovie;
    return false;
}

bool Kelvo_Movie::mute() {
    if (!hasAudioProperty()) return false;
    Boolean on = false;
    Kelvo_PropertyMovie property(_movie, kAudio);
    _status = kelvo_movie::readProperty(property, FOUR_CHAR_CODE("mute"), &on, sizeof on);
    return _status == 0 && on;
}

void Kelvo_Movie::mute(bool on) {
    if (!hasAudioProperty()) return;
    Boolean value = on;
    setProperty(kAudio, FOUR_CHAR_CODE("mute"), &value, 1);
}

int32_t Kelvo_Movie::balance() {
    if (!hasAudioProperty()) return 0;
    float value = 0;
    Kelvo_PropertyMovie property(_movie, kAudio);
    _status = kelvo_movie::readProperty(property, FOUR_CHAR_CODE("bala"), &value, sizeof value);
    if (_status != 0 || !std::isfinite(value)) return 0;
    return int32_t(std::clamp(value * 100.0f, -100.0f, 100.0f));
}

void Kelvo_Movie::balance(int32_t& value) {
    if (value < -100 || value > 100) {
        _status = paramErr;
        return;
    }
    if (!hasAudioProperty()) return;
    float v = float(value) / 100.0f;
    setProperty(kAudio, FOUR_CHAR_CODE("bala"), &v, sizeof v);
}

float Kelvo_Movie::gain() {
    if (!hasAudioProperty()) return 0;
    float value = 0;
    Kelvo_PropertyMovie property(_movie, kAudio);
    _status = kelvo_movie::readProperty(property, FOUR_CHAR_CODE("gain"), &value, sizeof value);
    return _status == 0 ? value : 0;
}

void Kelvo_Movie::gain(float& value) {
    if (!(value >= 0)) {
        _status = paramErr;
        return;
    }
    if (!hasAudioProperty()) return;
    setProperty(kAudio, FOUR_CHAR_CODE("gain"), &value, sizeof value);
}

float Kelvo_Movie::pitch() {
    if (!hasAudioProperty()) return 0;
    float value = 0;
    Kelvo_PropertyMovie property(_movie, kAudio);
    _status = kelvo_movie::readProperty(property, FOUR_CHAR_CODE("pitc"), &value, sizeof value);
    return _status == 0 ? value : 0;
}

void Kelvo_Movie::pitch(float& value) {
    if (!hasAudioProperty()) return;
    setProperty(kAudio, FOUR_CHAR_CODE("pitc"), &value, sizeof value);
}

Kelvo_AudioStreamDescriptor* Kelvo_Movie::summaryABSD() {
    if (!hasAudioProperty()) return nullptr;
    AudioStreamBasicDescription asbd{};
    Kelvo_PropertyMovie property(_movie, kAudio);
    _status = kelvo_movie::readProperty(property, FOUR_CHAR_CODE("sasd"), &asbd, sizeof asbd);
    return _status == 0 ? new (std::nothrow) Kelvo_AudioStreamDescriptor(&asbd) : nullptr;
}

Kelvo_AudioChannelLayout* Kelvo_Movie::summaryChannelLayout() {
    if (!hasAudioProperty()) return nullptr;
    Kelvo_PropertyMovie property(_movie, kAudio);
    if (!property.getInfo(FOUR_CHAR_CODE("clay"))) {
        _status = property.Error();
        return nullptr;
    }
    Handle whole = property.getValue();
    _status = property.Error();
    // A layout is its 12-byte header and the channel descriptions it counts (often none).
    const Size size = whole ? GetHandleSize(whole) : 0;
    uint32_t count = 0;
    if (whole && size >= Size(kAudioChannelLayoutHeaderSize)) std::memcpy(&count, *whole + 8, sizeof count);
    if (!whole || _status != 0 || size < Size(kAudioChannelLayoutHeaderSize) ||
        uint64_t(size - kAudioChannelLayoutHeaderSize) / sizeof(AudioChannelDescription) < count) {
        if (whole) DisposeHandle(whole);
        if (_status == 0) _status = kQTPropertyBadValueSizeErr;
        return nullptr;
    }
    // Read through a block at least as large as the record, so that a layout without
    // descriptions is never read past its end.
    std::vector<uint8_t> record(std::max<size_t>(size_t(size), sizeof(AudioChannelLayout)), 0);
    std::memcpy(record.data(), *whole, size_t(size));
    DisposeHandle(whole);
    return new (std::nothrow)
        Kelvo_AudioChannelLayout(reinterpret_cast<const AudioChannelLayout*>(record.data()));
}

bool Kelvo_Movie::setAudioContext(const void* deviceUID) {
    if (noMovie()) return false;
    if (deviceUID && CFGetTypeID(static_cast<CFTypeRef>(deviceUID)) != CFStringGetTypeID()) {
        _status = paramErr;
        return false;
    }
    QTAudioContextRef context = nullptr;
    _status =
        QTAudioContextCreateForAudioDevice(nullptr, static_cast<CFStringRef>(deviceUID), nullptr, &context);
    if (_status == 0) {
        _status = SetMovieAudioContext(_movie, context);
        QTAudioContextRelease(context);
    }
    return _status == 0;
}

int32_t Kelvo_Movie::getProperty(uint32_t propertyClass, uint32_t propertyId, void* value) {
    Kelvo_PropertyMovie property(_movie, propertyClass);
    _status = kelvo_movie::readProperty(property, propertyId, value);
    return _status;
}

int32_t Kelvo_Movie::setProperty(uint32_t propertyClass, uint32_t propertyId, void* value, uint32_t size) {
    Kelvo_PropertyMovie property(_movie, propertyClass);
    _status = kelvo_movie::writeProperty(property, propertyId, value, size);
    if (_status == 0 && propertyClass == kVisual) changed();
    return _status;
}

// ---------------------------------------------------------------------------------------------
// Other.

int16_t Kelvo_Movie::qtLanguage() {
    const int32_t n = tracksCount();
    for (int32_t i = 1; i <= n; ++i) {
        Track t = track(i);
        Track alternate = GetTrackAlternate(t);
        if (GetTrackEnabled(t) && alternate && alternate != t) {
            Media m = GetTrackMedia(t);
            return m ? GetMediaLanguage(m) : -1;
        }
    }
    return -1;
}

void Kelvo_Movie::qtLanguage(int16_t language) {
    if (noMovie()) return;
    SetMovieLanguage(_movie, language);
    _status = GetMoviesError();
    if (_status == 0) changed();
}

uint32_t Kelvo_Movie::qtCreationTime() {
    if (noMovie()) return 0;
    return GetMovieCreationTime(_movie);
}

uint32_t Kelvo_Movie::qtModificationTime() {
    if (noMovie()) return 0;
    return GetMovieModificationTime(_movie);
}

bool Kelvo_Movie::enabled() {
    return _movie && GetMovieActive(_movie);
}

void Kelvo_Movie::enabled(bool on) {
    if (noMovie()) return;
    SetMovieActive(_movie, on);
    _status = GetMoviesError();
    if (_status == 0) changed();
}

void Kelvo_Movie::autoTrackAlternatesEnabled(bool on) {
    if (noMovie()) return;
    SetAutoTrackAlternatesEnabled(_movie, on);
    _status = GetMoviesError();
}

double Kelvo_Movie::sizeOfSelection(Kelvo_TimeRange* range) {
    if (noMovie()) return 0;
    const bool part = range && range->qtObjIsValid();
    wide size{};
    _status = GetMovieDataSize64(_movie, part ? range->start() : 0,
                                 part ? range->duration() : GetMovieDuration(_movie), &size);
    return _status == 0 ? double(platform::wideToInt64(size)) : 0;
}

int32_t Kelvo_Movie::qtLoadInRAM(Kelvo_TimeRange* range, int32_t flags) {
    if (range && range->duration() == 0) return _status = paramErr;
    if (noMovie()) return _status;
    if (range)
        _status = LoadMovieIntoRam(_movie, range->start(), range->duration(), flags);
    else
        _status = LoadMovieIntoRam(_movie, 0, GetMovieDuration(_movie), flags);
    return _status;
}

Kelvo_UDataList* Kelvo_Movie::qtUDataList() {
    if (noMovie()) return nullptr;
    return new (std::nothrow) Kelvo_UDataList(_movie);
}

Kelvo_MetaDataList* Kelvo_Movie::qtMetaDataList() {
    if (noMovie()) return nullptr;
    return new (std::nothrow) Kelvo_MetaDataList(_movie);
}
