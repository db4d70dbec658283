// The movie presentations: a movie's sound (Kelvo_MovieSoundPlay) and a movie's pictures
// (Kelvo_MovieVideoPlay), each playing its own copy of the movie on that copy's own time base.
// The movie advances by its clock; idle() services it (MoviesTask), reports the time ('IDLE'),
// draws (video), keeps the play statistics and notices the end.
//
// The companion plug-in drives presentations through their virtual operations, so their order is
// part of the interface.
#pragma once

#include "KelvoDataPresentation.h"
#include "KelvoMovie.h"
#include "KelvoVideoPresentation.h"
#include "PlatformMoviePlayback.h"

#include <cstdint>

// The play operations both movie presentations share, over `Base` (the data presentation or the
// video presentation); `Derived` says what setting the time shows ('IDLE' for sound, a drawn
// frame for video) and which status 'STOP' carries. Adds no virtual operation of its own.
template <class Derived, class Base> class KelvoMoviePlayT : public Base {
  public:
    KelvoMoviePlayT() = default;
    ~KelvoMoviePlayT() override;

    void statisticsUpdate() override;
    // The movie stands at the end it runs toward (never while its time line loops).
    bool isDone() override;
    // The movie's time moves.
    bool isPlaying() override;
    // While the movie has a rate, even once it has run into its end: the tick that finds it there
    // stops it and reports 'STOP'.
    bool canIdleNow() override;
    using Base::loop;
    void loop(bool on) override;
    int32_t Time(int32_t kind) override;
    int32_t SamplesCount() override;
    void Play(double rate) override;
    void Stop() override;
    void PlayAction(int32_t action) override;
    void PlayTime(int32_t time) override;

  protected:
    // Marks a stretch of code that sends events: when a receiver deletes the presentation
    // meanwhile, gone() turns true and the code must touch nothing of it any more. Scopes nest.
    class PlayScope {
      public:
        explicit PlayScope(KelvoMoviePlayT& presentation)
            : _presentation(&presentation), _outer(presentation._playScopes) {
            presentation._playScopes = this;
        }
        PlayScope(const PlayScope&) = delete;
        PlayScope& operator=(const PlayScope&) = delete;
        ~PlayScope() {
            if (!_gone) _presentation->_playScopes = _outer;
        }
        bool gone() const { return _gone; }

      private:
        friend class KelvoMoviePlayT;
        KelvoMoviePlayT* _presentation;
        PlayScope* _outer;
        bool _gone = false;
    };

    // Sends an event; false when its receiver deleted the presentation.
    bool notify(uint32_t code, void* data, int32_t parameter);
    // Sends 'IDLE' with the movie's current time; false when the presentation is gone.
    bool notifyTime();
    // Started and not stopped since: the movie's rate is not 0, whether or not its time moves.
    bool hasRate();
    // Makes the copy of `movie` that is played and takes its time base; false (with the status)
    // when it cannot be made.
    bool adoptCopyOf(Kelvo_Movie& movie);

    // The owned copy of the movie, also the data source.
    Kelvo_Movie* _movie = nullptr;

  private:
    PlayScope* _playScopes = nullptr;
};

class Kelvo_MovieSoundPlay : public KelvoMoviePlayT<Kelvo_MovieSoundPlay, Kelvo_DataPresentation> {
  public:
    // Plays a copy of `movie`; 79 when it is invalid or has no sound.
    explicit Kelvo_MovieSoundPlay(Kelvo_Movie& movie);
    ~Kelvo_MovieSoundPlay() override;

    const char* qtObjName() const override { return "Kelvo_MovieSoundPlay"; }
    using Kelvo_DataPresentation::qtObjIsValid;
    // The movie copy and its time base.
    bool qtObjIsValid() override { return _dataSource != nullptr && _timeBase != nullptr; }
    bool isA(const char* name) const override;

    // Virtual operations after those of the data presentation, in slot order.
    virtual Kelvo_Movie* dataSource();
    // Services the movie, reports the time ('IDLE'), updates the statistics and stops at the end.
    void idle() override;

  private:
    friend class KelvoMoviePlayT<Kelvo_MovieSoundPlay, Kelvo_DataPresentation>;
    // After the time was set: 'IDLE' (false when the presentation is gone).
    bool timeWasSet();
    int32_t stopParameter() const { return _status; }
};

class Kelvo_MovieVideoPlay : public KelvoMoviePlayT<Kelvo_MovieVideoPlay, Kelvo_VideoPresentation> {
  public:
    // Empty and invalid until initDataSource.
    Kelvo_MovieVideoPlay();
    ~Kelvo_MovieVideoPlay() override;

    const char* qtObjName() const override { return "Kelvo_MovieVideoPlay"; }
    bool isA(const char* name) const override;

    // The timer of a playing movie also comes sooner when the movie needs its next task sooner
    // (after a change of rate).
    bool _startIdlingLoop() override;
    bool _stopIdlingLoop() override;
    void FullScreenLoop() override;
    // Draws the frame through the display transform and the effect; the frame keeps the movie's
    // pixels, so that gamma and colour discarding apply once however often it is drawn.
    void drawToDisplay() override;
    // Draws the movie's current frame again.
    void Update() override;

    // Virtual operations after those of the video presentation, in slot order.
    // Plays a copy of `movie`, rendered into an offscreen world of its natural size and shown at
    // time 0; 79 when it is invalid or has no video. A second call replaces the movie.
    virtual void initDataSource(Kelvo_Movie& movie);
    virtual Kelvo_Movie* dataSource();
    // Services the movie, reports the time ('IDLE'), draws the frame, updates the statistics,
    // stops at the end, and otherwise times the next tick for the next frame.
    void idle() override;

  private:
    friend class KelvoMoviePlayT<Kelvo_MovieVideoPlay, Kelvo_VideoPresentation>;
    // After the time was set: the frame there, drawn (false when the presentation is gone).
    bool timeWasSet();
    int32_t stopParameter() const { return 0; }
    // Lets go of the movie and of everything made for it; false when the receiver of the 'STOP'
    // this sends deleted the presentation.
    bool releaseSource();
};

// The next-task-sooner callback of the movie video presentation: brings the fire of the timer
// (the reference) forward to `duration` milliseconds from now.
void PresentationQTNextTaskNeededSoonerCallback(TimeValue duration, uint32_t flags, void* timer);
