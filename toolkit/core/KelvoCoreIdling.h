// Idling: timed playback is driven by a repeating timer on the main event loop, which calls an
// object's idle() whenever the object says it can idle. Kelvo_IdleProtocol is the interface of
// anything that can be idled; Kelvo_CoreIdler runs the timer side of it and is the base of the
// presentations, which supply idle(), canIdleNow() and the period. The companion plug-in switches
// idling on and off and changes the period through these virtual operations, so their order is
// part of the interface.
#pragma once

#include "KelvoCoreObjects.h"
#include "PlatformTimers.h"

class Kelvo_IdleProtocol {
  public:
    // Virtual operations in slot order.
    virtual void idle() = 0;
    virtual bool autoIdlingEnabled();
    virtual bool autoIdlingEnabled(bool enable);
    virtual double idlingTimeInMilliSec();
    virtual bool canIdleNow() = 0;

    static const char* protocolName() { return "Kelvo_IdleProtocol"; }

  protected:
    // Nobody deletes an object through its protocol.
    ~Kelvo_IdleProtocol() = default;
};

class Kelvo_CoreIdler : public Kelvo_QTObj, public Kelvo_IdleProtocol {
  public:
    Kelvo_CoreIdler();
    // The idler owns its timer: it is not copied.
    Kelvo_CoreIdler(const Kelvo_CoreIdler&) = delete;
    Kelvo_CoreIdler& operator=(const Kelvo_CoreIdler&) = delete;
    ~Kelvo_CoreIdler() override;

    const char* qtObjName() const override { return "Kelvo_CoreIdler"; }
    using Kelvo_QTObj::qtObjIsValid;
    // Valid once it has a period.
    bool qtObjIsValid() override;
    bool isA(const char* name) const override;

    // Virtual operations after those of Kelvo_QTObj, in slot order.
    // Installs the timer (first fire at the next turn of the loop, then every period); true when
    // a timer runs afterwards.
    virtual bool _startIdlingLoop();
    // Removes the timer; always true.
    virtual bool _stopIdlingLoop();
    virtual bool _canChangeIdlingTimeNow();
    bool autoIdlingEnabled() override;
    // Starts or stops the timer; the flag follows only a transition that succeeded.
    bool autoIdlingEnabled(bool enable) override;
    double idlingTimeInMilliSec() override;
    // A new period (> 0, different, and allowed now): a running timer next fires one new period
    // from now and keeps firing at the new period.
    virtual void idlingTimeInMilliSec(double milliseconds);

    EventLoopTimerRef idlingTimer() const { return _timer; }

  protected:
    EventLoopTimerUPP _timerProc = nullptr;
    EventLoopTimerRef _timer = nullptr;
    uint8_t _autoIdling = 0;
    double _idlingTime = 0.0;
};

// The timer procedure of every idler: calls idle() of the idle protocol behind `userData` (a
// Kelvo_QTObj) when canIdleNow() says so; does nothing for anything else.
void PresentationDefaultIdlingTimer(EventLoopTimerRef timer, void* userData);
