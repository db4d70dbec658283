// The time base: the clock-driven time line on which presentations play their samples. It
// creates or adopts a platform time base, bounds it with a time range, slaves it to a clock or
// another time base, and reads and sets its time, rate and loop flags.
#pragma once

#include "KelvoCoreComponents.h"
#include "KelvoCoreObjects.h"
#include "KelvoCoreObjectsTypes.h"
#include "PlatformObjects.h"
#include "PlatformTimeBase.h"

class Kelvo_TimeBase : public Kelvo_QTObj {
  public:
    // A new time base of its own; on failure the status is the movie toolbox's error.
    Kelvo_TimeBase();
    Kelvo_TimeBase(TimeBase timeBase, bool owned);
    // The movie's own time base, not owned; a null movie leaves the object invalid.
    explicit Kelvo_TimeBase(Movie movie);
    explicit Kelvo_TimeBase(const Kelvo_TimeRange64& range);
    Kelvo_TimeBase& operator=(const Kelvo_TimeRange64& range);
    // A time base may own its platform time base: it is not copied.
    Kelvo_TimeBase(const Kelvo_TimeBase&) = delete;
    Kelvo_TimeBase& operator=(const Kelvo_TimeBase&) = delete;
    ~Kelvo_TimeBase() override;

    const char* qtObjName() const override { return "Kelvo_TimeBase"; }
    bool qtObjIsValid() override { return _timeBase != nullptr; }
    bool qtObjIsValid() const override { return _timeBase != nullptr; }
    void* qtObjReference() override { return _timeBase; }

    operator TimeBase() const { return _timeBase; }
    int32_t timeScale() const { return _timeScale; }

    void attachClock(const Kelvo_Clock& clock);
    Kelvo_TimeBase& operator+=(const Kelvo_Clock& clock) {
        attachClock(clock);
        return *this;
    }
    // An invalid master sets status 9.
    void attachTimeBase(const Kelvo_TimeBase& master);
    Kelvo_TimeBase& operator+=(const Kelvo_TimeBase& master) {
        attachTimeBase(master);
        return *this;
    }

    // Never while looping; otherwise whether the time has reached the stop time.
    bool isDone();
    bool loop();
    bool palindrome();
    void loop(bool on);
    void palindrome(bool on);

    // In this object's time scale (the time base's own when it is 0); -1 when invalid.
    int32_t currentTime();
    void currentTime(int32_t t);
    double rate();
    double effectiveRate();
    void rate(double r);

    // A new range (owned by the caller): the start, the stop minus the start, and this object's
    // time scale; null when invalid.
    Kelvo_TimeRange64* timeInfo();
    void timeInfo(Kelvo_TimeRange64* range);

    bool isAttachedToCurrentThread();
    bool isAttachedToAnyThread();

    // A new object (owned by the caller) for the master: a Kelvo_Clock for a master clock (which
    // stays open when the object is deleted), a Kelvo_TimeBase for a master time base (not
    // owned); null for a free-running time base.
    Kelvo_QTObj* timeMaster();

  private:
    void _create();
    void _initWithTimeBase(TimeBase timeBase);
    void _initWithRange(const Kelvo_TimeRange64& range);
    void _toggleFlag(int32_t flag, bool on);

    TimeBase _timeBase = nullptr;
    int32_t _timeScale = 0;
    uint8_t _owned = 0;
};
