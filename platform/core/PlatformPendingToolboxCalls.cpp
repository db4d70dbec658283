#include "PlatformPendingToolboxCalls.h"

#include "PlatformErrors.h"
#include "PlatformPendingCalls.h"
