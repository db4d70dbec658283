#include "PlatformPendingToolboxCalls.h"

#include "PlatformErrors.h"
#include "PlatformPendingCalls.h"

ComponentResult SGGetSettings(SeqGrabComponent, UserData* ud, int32_t) {
    if (ud) *ud = nullptr;
    return badComponentInstance;
}
