#include "PlatformPendingMediaCalls.h"

OSErr AddMediaSample2(Media, const uint8_t*, ByteCount, TimeValue64Sample, TimeValue64Sample,
                      SampleDescriptionHandle, ItemCount, uint32_t, TimeValue64Sample* sampleDecodeTimeOut) {
    if (sampleDecodeTimeOut) *sampleDecodeTimeOut = 0;
    return invalidMedia;
}
