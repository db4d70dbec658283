// The headers of the movie layer's calls that the toolkit's movie, track and media wrappers make.
#pragma once

#include "PlatformCF.h"
#include "PlatformDescriptions.h"
#include "PlatformFiles.h"
#include "PlatformObjects.h"
#include "PlatformPendingDisplayCalls.h"
#include "PlatformTimeBase.h"
#include "PlatformTypes.h"
#include "PlatformMovieControllers.h"
#include "PlatformMovieExport.h"
#include "PlatformMovieFileReader.h"
#include "PlatformMovieFiles.h"
#include "PlatformMovieModelExtras.h"
#include "PlatformMoviePlayback.h"
