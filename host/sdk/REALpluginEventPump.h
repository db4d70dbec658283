// The event pump a plug-in registers with the host: it runs the plug-in's own main loop (its
// copy of the platform's timers and posted events) on the plug-in's own clock.
//
// Include in one source file of the plug-in and call registerEventPumpWithHost() from its entry.
#pragma once

#include "PlatformClock.h"
#include "PlatformTimers.h"
#include "REALplugin.h"

namespace realpump {

// The plug-in's manual clock, in place as its system clock when the host runs one.
inline platform::ManualClock& manualClock() {
    static platform::ManualClock clock;
    return clock;
}

inline void pump(RBInteger advanceMilliseconds, RBBoolean run) {
    if (advanceMilliseconds > 0) {
        // Only a manual clock is moved: a steady one is never told to sleep by the host.
        if (&platform::systemClock() != &manualClock()) {
            if (run) platform::runOnce();
            return;
        }
        if (run)
            platform::runFor(double(advanceMilliseconds) / 1000.0);
        else
            manualClock().advanceMilliseconds(advanceMilliseconds);
        return;
    }
    if (run) platform::runOnce();
}

inline void registerEventPumpWithHost() {
    if (REALRegisterEventPump(&pump)) platform::setSystemClock(&manualClock());
}

} // namespace realpump
