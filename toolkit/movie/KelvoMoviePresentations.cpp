#include "KelvoMoviePresentations.h"

#include "KelvoCoreObjectsTimeBase.h"
#include "KelvoPresentationFrames.h"
#include "KelvoTrack.h"
#include "KelvoVideo.h"
#include "KelvoVideoDecompression.h"
#include "PlatformErrors.h"
#include "PlatformFixed.h"
#include "PlatformMoviePlayback.h"
#include "PlatformMovies.h"

#include <cstring>
#include <new>

namespace {

// The duration of the sample of the characteristic shown at `time`, 0 when there is none. The
// platform's search may know only media types, not characteristics: the media type is asked next.
int32_t sampleDurationAt(Kelvo_Movie& movie, double time, uint32_t characteristic, uint32_t mediaType) {
    for (uint32_t type : {characteristic, mediaType}) {
        Kelvo_TimeRange64 range;
        movie.sampleTimeInfoForTimeAndType(time, type, range);
        const double d = range.duration();
        if (movie.Error() == 0 && d >= 1.0) return d < double(INT32_MAX) ? int32_t(d) : INT32_MAX;
    }
    return 0;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The play operations of both movie presentations.

template <class Derived, class Base> KelvoMoviePlayT<Derived, Base>::~KelvoMoviePlayT() {
    // Code under way that sent the event whose receiver deletes us must stop touching us.
    for (PlayScope* s = _playScopes; s; s = s->_outer)
        s->_gone = true;
    _playScopes = nullptr;
}

template <class Derived, class Base>
bool KelvoMoviePlayT<Derived, Base>::notify(uint32_t code, void* data, int32_t parameter) {
    PlayScope alive(*this);
    this->_eventsHandler.notifyEvent(code, data, parameter);
    return !alive.gone();
}

template <class Derived, class Base> bool KelvoMoviePlayT<Derived, Base>::notifyTime() {
    double now = _movie ? double(_movie->time()) : 0.0;
    return notify(kKelvoPresentationIdle, &now, 0);
}

template <class Derived, class Base> bool KelvoMoviePlayT<Derived, Base>::hasRate() {
    return this->_timeBase && this->_timeBase->rate() != 0.0;
}

template <class Derived, class Base> bool KelvoMoviePlayT<Derived, Base>::adoptCopyOf(Kelvo_Movie& movie) {
    auto* copy = new (std::nothrow) Kelvo_Movie(movie.movie(), true);
    if (!copy) {
        this->_status = memFullErr;
        return false;
    }
    int32_t error = 0;
    if (!Kelvo_QTObj::isValidInstance(copy, error, true)) {
        this->_status = error != 0 ? error : kKelvoNothingToWorkOn;
        return false;
    }
    auto* timeBase = new (std::nothrow) Kelvo_TimeBase(copy->movie());
    if (!timeBase) {
        delete copy;
        this->_status = memFullErr;
        return false;
    }
    if (!Kelvo_QTObj::isValidInstance(timeBase, error, true)) {
        delete copy;
        this->_status = error != 0 ? error : int32_t(GetMoviesError());
        return false;
    }
    _movie = copy;
    this->_dataSource = copy;
    this->_timeBase = timeBase;
    return true;
}

template <class Derived, class Base> int32_t KelvoMoviePlayT<Derived, Base>::Time(int32_t kind) {
    if (!this->qtObjIsValid()) return 0;
    switch (kind) {
    case kKelvoTimeDuration:
        return _movie->duration();
    case kKelvoTimeScale:
        return _movie->timeScale();
    case kKelvoTimeCurrent:
        return _movie->time();
    default:
        return 0;
    }
}

template <class Derived, class Base> int32_t KelvoMoviePlayT<Derived, Base>::SamplesCount() {
    const int32_t duration = this->_sampleDuration;
    if (duration <= 0) return 0;
    const int32_t total = Time(kKelvoTimeDuration);
    return total > 0 ? total / duration : 0;
}

template <class Derived, class Base> bool KelvoMoviePlayT<Derived, Base>::isDone() {
    if (!this->qtObjIsValid()) return true;
    // A time line that loops or turns has no end, though it passes through it.
    if (this->_timeBase->loop()) return false;
    return IsMovieDone(_movie->movie());
}

template <class Derived, class Base> bool KelvoMoviePlayT<Derived, Base>::isPlaying() {
    return this->_timeBase && this->_timeBase->effectiveRate() != 0.0;
}

template <class Derived, class Base> bool KelvoMoviePlayT<Derived, Base>::canIdleNow() {
    return isPlaying() || hasRate();
}

template <class Derived, class Base> void KelvoMoviePlayT<Derived, Base>::loop(bool on) {
    if (!this->qtObjIsValid()) return;
    this->_timeBase->loop(on);
    if (this->_status == 0) SetMoviePlayHints(_movie->movie(), on ? hintsLoop : 0, hintsLoop);
}

template <class Derived, class Base> void KelvoMoviePlayT<Derived, Base>::Play(double rate) {
    if (!this->qtObjIsValid() || isPlaying()) return;
    PlayScope alive(*this);
    if (isDone()) {
        PlayTime(0);
        if (alive.gone()) return;
    }
    if (this->_statisticsEnabled) statisticsUpdate();
    // NaN plays nothing; rates beyond the 16.16 range are held at its ends.
    _movie->rate(X2Fix(rate));
    this->_status = _movie->Error();
    notify(kKelvoPresentationStart, nullptr, 0);
}

template <class Derived, class Base> void KelvoMoviePlayT<Derived, Base>::Stop() {
    // A movie that ran into its end has stopped moving but still has its rate: stopping it ends
    // its play and reports it.
    if (!this->qtObjIsValid() || !(isPlaying() || hasRate())) return;
    StopMovie(_movie->movie());
    if (this->_statisticsEnabled) this->statisticsReset();
    notify(kKelvoPresentationStop, nullptr, static_cast<Derived*>(this)->stopParameter());
}

template <class Derived, class Base> void KelvoMoviePlayT<Derived, Base>::PlayAction(int32_t action) {
    // In 64 bits: a step from the last times of the range must not wrap round.
    auto step = [this](int64_t t) {
        PlayTime(t < INT32_MIN ? INT32_MIN : (t > INT32_MAX ? INT32_MAX : int32_t(t)));
    };
    switch (action) {
    case kKelvoPlayActionStart:
        PlayTime(0);
        break;
    case kKelvoPlayActionEnd:
        PlayTime(Time(kKelvoTimeDuration));
        break;
    case kKelvoPlayActionBack:
        step(int64_t(Time(kKelvoTimeCurrent)) - this->_sampleDuration);
        break;
    case kKelvoPlayActionForward:
        step(int64_t(Time(kKelvoTimeCurrent)) + this->_sampleDuration);
        break;
    default:
        break;
    }
}

template <class Derived, class Base> void KelvoMoviePlayT<Derived, Base>::PlayTime(int32_t time) {
    if (!this->qtObjIsValid()) return;
    PlayScope alive(*this);
    Stop();
    if (alive.gone()) return;
    if (time < 0) {
        // The movie would take a negative time as its start without a word; it is refused here
        // with the movie's own error for it, and the movie stays where it was.
        this->_status = kKelvoNegativeTime;
    } else {
        _movie->time(time);
        this->_status = _movie->Error();
    }
    static_cast<Derived*>(this)->timeWasSet();
}

template <class Derived, class Base> void KelvoMoviePlayT<Derived, Base>::statisticsUpdate() {
    if (!this->qtObjIsValid()) return;
    Kelvo_TimeRange64 range;
    _movie->timeInfo(range);
    const double start = range.start();
    const int32_t last = this->_statisticsTime;
    if (!(start > double(last))) {
        this->_statisticsTime = int32_t(start);
        return;
    }
    const int32_t now = int32_t(start);
    const int32_t scale = range.scale();
    if (scale <= 0) return;
    const double seconds = (start - double(last)) / double(scale);
    // Below a second the interval keeps growing.
    if (seconds < 1.0) return;
    // The bytes of what was played over the interval.
    Kelvo_TimeRange played(last, now - last);
    const double bytes = _movie->sizeOfSelection(&played);
    this->_dataRate = bytes / seconds;
    const uint32_t samples = uint32_t(this->SampleIDForTime(now)) - uint32_t(this->SampleIDForTime(last));
    this->_sampleRate = double(samples) / seconds;
    this->_statisticsTime = now;
}

// ---------------------------------------------------------------------------------------------
// The movie sound presentation.

Kelvo_MovieSoundPlay::Kelvo_MovieSoundPlay(Kelvo_Movie& movie) {
    if (!movie.qtObjIsValid() || !movie.qtHasSound()) {
        _status = kKelvoNothingToWorkOn;
        return;
    }
    if (!adoptCopyOf(movie)) return;
    _movie->time(0);
    _sampleDuration = sampleDurationAt(*_movie, 0.0, AudioMediaCharacteristic, SoundMediaType);
    _status = 0;
}

Kelvo_MovieSoundPlay::~Kelvo_MovieSoundPlay() {
    Stop();
    // The base's destructor stops the timer; nothing may tick on a movie that is gone.
    Kelvo_CoreIdler::_stopIdlingLoop();
    _dataSource = nullptr;
    delete _movie;
    _movie = nullptr;
}

bool Kelvo_MovieSoundPlay::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_DataPresentation::isA(name) || std::strcmp(name, "Kelvo_MovieSoundPlay") == 0;
}

Kelvo_Movie* Kelvo_MovieSoundPlay::dataSource() {
    return _movie;
}

bool Kelvo_MovieSoundPlay::timeWasSet() {
    return notifyTime();
}

void Kelvo_MovieSoundPlay::idle() {
    if (!qtObjIsValid()) return;
    MoviesTask(_movie->movie(), 0);
    if (!notifyTime()) return;
    if (_statisticsEnabled) statisticsUpdate();
    if (isDone()) Stop();
}

template class KelvoMoviePlayT<Kelvo_MovieSoundPlay, Kelvo_DataPresentation>;

// ---------------------------------------------------------------------------------------------
// The movie video presentation.

Kelvo_MovieVideoPlay::Kelvo_MovieVideoPlay() = default;

Kelvo_MovieVideoPlay::~Kelvo_MovieVideoPlay() {
    Stop();
    _stopIdlingLoop();
    // The video presentation's destructor lets go of the buffers, the transform and the effect.
    _dataSource = nullptr;
    delete _movie;
    _movie = nullptr;
}

bool Kelvo_MovieVideoPlay::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_VideoPresentation::isA(name) || std::strcmp(name, "Kelvo_MovieVideoPlay") == 0;
}

Kelvo_Movie* Kelvo_MovieVideoPlay::dataSource() {
    return _movie;
}

bool Kelvo_MovieVideoPlay::releaseSource() {
    PlayScope alive(*this);
    Stop();
    if (alive.gone()) return false;
    // The effect reads the world that goes with the movie: it is made again for the new one.
    delete _effectSession;
    _effectSession = nullptr;
    delete _displayTransform;
    _displayTransform = nullptr;
    _dataSource = nullptr;
    delete _movie;
    _movie = nullptr;
    delete _timeBase;
    _timeBase = nullptr;
    delete _dataSourceBuffer;
    _dataSourceBuffer = nullptr;
    _sampleDuration = 0;
    return true;
}

void Kelvo_MovieVideoPlay::initDataSource(Kelvo_Movie& movie) {
    if (!movie.qtObjIsValid() || !movie.qtHasVideo()) {
        _status = kKelvoNothingToWorkOn;
        return;
    }
    if (_movie && !releaseSource()) return;
    if (!adoptCopyOf(movie)) return;
    const Kelvo_Rect& natural = _movie->qtNaturalBounds();
    const Kelvo_Rect bounds(natural.width(), natural.height());
    auto* buffer = new (std::nothrow) Kelvo_QDGWorldBuffer(bounds, k32ARGBPixelFormat);
    if (!buffer) {
        _status = memFullErr;
        return;
    }
    int32_t error = 0;
    if (!Kelvo_QTObj::isValidInstance(buffer, error, true)) {
        _status = error != 0 ? error : kKelvoNothingToWorkOn;
        return;
    }
    _dataSourceBuffer = buffer;
    SetMovieGWorld(_movie->movie(), buffer->buffer(), nullptr);
    MoviesTask(_movie->movie(), 0);
    _sampleDuration =
        sampleDurationAt(*_movie, double(_movie->duration() / 2), VisualMediaCharacteristic, VideoMediaType);
    _displayTransform = new (std::nothrow) Kelvo_DisplayTransform(bounds, bounds);
    if (!_displayTransform) {
        _status = memFullErr;
        return;
    }
    _status = 0;
    initDataPlayer();
    SetMoviePlayHints(_movie->movie(), hintsFlushVideoInsteadOfDirtying, hintsFlushVideoInsteadOfDirtying);
    if (_displayBuffer) {
        // A movie that replaces another is shown where that one was, fitted there as any frame is.
        Kelvo_Rect shownIn = _displayRect;
        PlayScope alive(*this);
        displaySetUp(wrappedPort(), &shownIn);
        if (alive.gone()) return;
    }
    PlayTime(0);
}

bool Kelvo_MovieVideoPlay::_startIdlingLoop() {
    if (!Kelvo_VideoPresentation::_startIdlingLoop()) return false;
    _status =
        QTInstallNextTaskNeededSoonerCallback(PresentationQTNextTaskNeededSoonerCallback, 1000, 0, _timer);
    return true;
}

bool Kelvo_MovieVideoPlay::_stopIdlingLoop() {
    if (_timer) QTUninstallNextTaskNeededSoonerCallback(PresentationQTNextTaskNeededSoonerCallback, _timer);
    return Kelvo_VideoPresentation::_stopIdlingLoop();
}

void Kelvo_MovieVideoPlay::FullScreenLoop() {
    Kelvo_VideoPresentation::FullScreenLoop();
}

void Kelvo_MovieVideoPlay::drawToDisplay() {
    // The movie draws its frame again only when the frame changes.
    drawThroughEffect(true);
}

void Kelvo_MovieVideoPlay::Update() {
    if (!qtObjIsValid()) return;
    UpdateMovie(_movie->movie());
    idle();
}

bool Kelvo_MovieVideoPlay::timeWasSet() {
    if (_status != 0) return true;
    PlayScope alive(*this);
    idle();
    return !alive.gone();
}

void Kelvo_MovieVideoPlay::idle() {
    if (!qtObjIsValid()) return;
    PlayScope alive(*this);
    MoviesTask(_movie->movie(), 1);
    if (!notifyTime()) return;
    drawToDisplay();
    if (alive.gone()) return;
    if (_statisticsEnabled) statisticsUpdate();
    if (isDone()) {
        Stop();
        return;
    }
    if (!_timer) return;
    int32_t wait = 0;
    _status = QTGetTimeUntilNextTask(&wait, 1000);
    if (_status != 0) return;
    // A task due now was just done: the next comes a period later. A period below a millisecond
    // leaves the timer on its own schedule rather than firing again at once.
    if (wait == 0) wait = int32_t(idlingTimeInMilliSec());
    if (wait > 0) SetEventLoopTimerNextFireTime(_timer, double(wait) * 0.001);
}

void PresentationQTNextTaskNeededSoonerCallback(TimeValue duration, uint32_t, void* timer) {
    if (!timer) return;
    SetEventLoopTimerNextFireTime(static_cast<EventLoopTimerRef>(timer), double(duration) * 0.001);
}

template class KelvoMoviePlayT<Kelvo_MovieVideoPlay, Kelvo_VideoPresentation>;
