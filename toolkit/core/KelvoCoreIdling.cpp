#include "KelvoCoreIdling.h"

#include <cstring>

bool Kelvo_IdleProtocol::autoIdlingEnabled() {
    return false;
}

bool Kelvo_IdleProtocol::autoIdlingEnabled(bool) {
    return false;
}

double Kelvo_IdleProtocol::idlingTimeInMilliSec() {
    return 0.0;
}

Kelvo_CoreIdler::Kelvo_CoreIdler() = default;

Kelvo_CoreIdler::~Kelvo_CoreIdler() {
    // Only this class's own cleanup: a subclass is already gone at this point.
    Kelvo_CoreIdler::_stopIdlingLoop();
}

bool Kelvo_CoreIdler::qtObjIsValid() {
    return idlingTimeInMilliSec() > 0.0;
}

bool Kelvo_CoreIdler::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_QTObj::isA(name) || std::strcmp(name, "Kelvo_CoreIdler") == 0 ||
           std::strcmp(name, Kelvo_IdleProtocol::protocolName()) == 0;
}

bool Kelvo_CoreIdler::_startIdlingLoop() {
    if (_timer) return true;
    _timerProc = NewEventLoopTimerUPP(PresentationDefaultIdlingTimer);
    EventLoopTimerRef timer = nullptr;
    _status = InstallEventLoopTimer(GetMainEventLoop(), kEventDurationNoWait, idlingTimeInMilliSec() * 0.001,
                                    _timerProc, static_cast<Kelvo_QTObj*>(this), &timer);
    if (_status == noErr && timer) {
        _timer = timer;
        return true;
    }
    _stopIdlingLoop();
    return false;
}

bool Kelvo_CoreIdler::_stopIdlingLoop() {
    if (_timer) {
        RemoveEventLoopTimer(_timer);
        _timer = nullptr;
    }
    if (_timerProc) {
        DisposeEventLoopTimerUPP(_timerProc);
        _timerProc = nullptr;
    }
    return true;
}

bool Kelvo_CoreIdler::_canChangeIdlingTimeNow() {
    return true;
}

bool Kelvo_CoreIdler::autoIdlingEnabled() {
    return _autoIdling != 0;
}

bool Kelvo_CoreIdler::autoIdlingEnabled(bool enable) {
    bool current = autoIdlingEnabled();
    if (enable == current) return current;
    bool done = enable ? _startIdlingLoop() : _stopIdlingLoop();
    if (done) _autoIdling = enable ? 1 : 0;
    return done;
}

double Kelvo_CoreIdler::idlingTimeInMilliSec() {
    return _idlingTime;
}

void Kelvo_CoreIdler::idlingTimeInMilliSec(double milliseconds) {
    if (!(milliseconds > 0.0) || milliseconds == _idlingTime || !_canChangeIdlingTimeNow()) return;
    _idlingTime = milliseconds;
    if (_timer) {
        double seconds = milliseconds * 0.001;
        SetEventLoopTimerNextFireTime(_timer, seconds);
        platform::setEventLoopTimerInterval(_timer, seconds);
    }
}

void PresentationDefaultIdlingTimer(EventLoopTimerRef, void* userData) {
    if (!userData) return;
    auto* object = static_cast<Kelvo_QTObj*>(userData);
    if (!object->isA(Kelvo_IdleProtocol::protocolName())) return;
    auto* idler = dynamic_cast<Kelvo_IdleProtocol*>(object);
    if (!idler) return;
    // idle() may delete the object: nothing touches it afterwards.
    if (idler->canIdleNow()) idler->idle();
}
