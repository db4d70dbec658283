// The Foundation and QTKit stand-ins of the Cocoa build, in one include.
#pragma once

#include "PlatformCocoaError.h"
#include "PlatformCocoaGeometry.h"
#include "PlatformCocoaObjects.h"
#include "PlatformCocoaString.h"
#include "PlatformQTDataReference.h"
#include "PlatformQTMovie.h"
#include "PlatformQTTime.h"
