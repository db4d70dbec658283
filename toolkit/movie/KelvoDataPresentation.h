// The data presentation: the abstract base of every timed presentation (a movie's sound, a
// movie's pictures, a still image, an offscreen buffer, the frames of a DICOM file). On top of
// the idler, which calls idle() from a main-loop timer, it keeps a time controller, an events
// handler through which the presentation reports what it does, a progress notifier, play
// statistics, the rule that turns the sample duration into the idling period, and the mapping
// from a time to a 1-based sample number. What playing, stopping, stepping and time mean belongs
// to the subclasses.
//
// The companion plug-in drives presentations through the virtual operations below, so their
// order is part of the interface.
#pragma once

#include "KelvoCoreIdling.h"
#include "KelvoCoreObjectsEvents.h"
#include "KelvoCoreObjectsTimeBase.h"
#include "PlatformTypes.h"

#include <cstdint>

// Events of the presentations, sent through their events handler as (code, data, parameter).
// 'STRT' playing starts; 'STOP' playing stops (parameter: a status or 0).
constexpr uint32_t kKelvoPresentationStart = FOUR_CHAR_CODE("STRT");
constexpr uint32_t kKelvoPresentationStop = FOUR_CHAR_CODE("STOP");
// Each tick while playing; data: the address of the current time as a double.
constexpr uint32_t kKelvoPresentationIdle = FOUR_CHAR_CODE("IDLE");
// A frame was drawn (parameter: 0 or a status).
constexpr uint32_t kKelvoPresentationDraw = FOUR_CHAR_CODE("DRAW");
// Full screen started / stopped; a key went down in full screen (data: the key's name text).
constexpr uint32_t kKelvoPresentationFullScreenStart = FOUR_CHAR_CODE("FSTR");
constexpr uint32_t kKelvoPresentationFullScreenStop = FOUR_CHAR_CODE("FSTP");
constexpr uint32_t kKelvoPresentationFullScreenKeyDown = FOUR_CHAR_CODE("FKDN");
// Progress of writing a movie; data: the address of the progress (0.0 to 1.0) as a double,
// parameter: the status.
constexpr uint32_t kKelvoPresentationMovieProgress = FOUR_CHAR_CODE("MPRG");

// Kinds of Time(kind).
enum : int32_t { kKelvoTimeDuration = 0, kKelvoTimeScale = 1, kKelvoTimeCurrent = 2 };
// Actions of PlayAction(action).
enum : int32_t {
    kKelvoPlayActionStart = 1,
    kKelvoPlayActionEnd = 2,
    kKelvoPlayActionBack = 3,
    kKelvoPlayActionForward = 4
};

class Kelvo_DataPresentation : public Kelvo_CoreIdler {
  public:
    Kelvo_DataPresentation();
    ~Kelvo_DataPresentation() override;

    const char* qtObjName() const override { return "Kelvo_DataPresentation"; }
    using Kelvo_CoreIdler::qtObjIsValid;
    // Valid once a subclass has set the data source.
    bool qtObjIsValid() override { return _dataSource != nullptr; }
    bool isA(const char* name) const override;

    // Operations of the idler.
    bool _canChangeIdlingTimeNow() override { return true; }
    using Kelvo_CoreIdler::autoIdlingEnabled;
    // Idling is only switched on for two samples or more; switching it off is always allowed.
    bool autoIdlingEnabled(bool enable) override;
    using Kelvo_CoreIdler::idlingTimeInMilliSec;
    // The stored period, or else the one the time scale and sample duration give (then stored).
    double idlingTimeInMilliSec() override;

    // Virtual operations after those of the idler, in slot order (pure ones belong to each
    // concrete presentation).
    // A time base on the system's microsecond clock over [0, Time(0)] in the scale Time(1);
    // only when there is none yet and there are two samples or more.
    virtual void _initTimeController();
    virtual void statisticsReset();
    virtual void statisticsUpdate();
    virtual bool isDone() = 0;
    virtual bool isPlaying() = 0;
    virtual bool loop();
    virtual void loop(bool on);
    virtual bool palindrome();
    virtual void palindrome(bool on);
    bool canIdleNow() override;
    virtual void statisticsEnabled(bool& on);
    // 0: duration, 1: time scale (units per second), 2: current time; anything else 0.
    virtual int32_t Time(int32_t kind) = 0;
    virtual int32_t SampleDuration();
    virtual int32_t SamplesCount() = 0;
    // 1-based and clamped to the samples present; times from 0 to twice the sample duration
    // (exclusive) all give sample 1.
    virtual int32_t SampleIDForTime(int32_t time);
    virtual int32_t SampleID();
    // `rate` as a multiple of normal speed.
    virtual void Play(double rate) = 0;
    virtual void Stop() = 0;
    // 1: to the start, 2: to the end, 3: one sample back, 4: one sample forward.
    virtual void PlayAction(int32_t action) = 0;
    virtual void PlayTime(int32_t time) = 0;

    // Replaces the progress notifier by a copy of `notifier` (null: none).
    void Callback(Kelvo_ProgressNotifier* notifier);

    // The owner installs its callback here; events go out only while it has one.
    Kelvo_BaseEventsHandler& eventsHandler() { return _eventsHandler; }

  protected:
    Kelvo_BaseEventsHandler _eventsHandler;
    // What is presented; the subclass sets it and decides who owns it.
    Kelvo_QTObj* _dataSource = nullptr;
    int32_t _sampleDuration = 0;
    Kelvo_TimeBase* _timeBase = nullptr;
    Kelvo_ProgressNotifier* _progressNotifier = nullptr;
    int32_t _statisticsTime = 0;
    uint8_t _statisticsEnabled = 0;
    double _dataRate = 0.0;
    double _sampleRate = 0.0;
};
