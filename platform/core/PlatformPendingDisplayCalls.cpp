#include "PlatformPendingDisplayCalls.h"

#include "PlatformErrors.h"

ComponentResult SGGetChannelClip(SGChannel, RgnHandle* clipRgn) {
    if (clipRgn) *clipRgn = nullptr;
    return badComponentInstance;
}
