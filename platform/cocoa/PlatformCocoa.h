// The Foundation and QTKit stand-ins of the Cocoa build, in one include.
#pragma once

#include "PlatformCocoaGeometry.h"
#include "PlatformCocoaObjects.h"
#include "PlatformCocoaString.h"
#include "PlatformQTDataReference.h"
#include "PlatformQTTime.h"
