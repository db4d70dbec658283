// Adding samples to a media: the movie layer answers it. Until it does, the call answers
// invalidMedia and adds nothing.
#pragma once

#include "PlatformDescriptions.h"
#include "PlatformObjects.h"

using TimeValue64Sample = int64_t;

OSErr AddMediaSample2(Media media, const uint8_t* dataIn, ByteCount size,
                      TimeValue64Sample decodeDurationPerSample, TimeValue64Sample displayOffset,
                      SampleDescriptionHandle sampleDescriptionH, ItemCount numberOfSamples,
                      uint32_t sampleFlags, TimeValue64Sample* sampleDecodeTimeOut);
