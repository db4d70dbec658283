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
    class AliveScope {
      public:
        explicit AliveScope(KelvoMoviePlayT& presentation)
            : _presentation(&presentation), _outer(presentation._aliveScopes) {
            presentation._aliveScopes = this;
        }
        AliveScope(const AliveScope&) = delete;
        AliveScope& operator=(const AliveScope&) = delete;
        ~AliveScope() {
            if (!_gone) _presentation->_aliveScopes = _outer;
        }
        bool gone() const { return _gone; }

      private:
        friend class KelvoMoviePlayT;
        KelvoMoviePlayT* _presentation;
        AliveScope* _outer;
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
    AliveScope* _aliveScopes = nullptr;
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
