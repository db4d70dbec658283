// Helpers shared by the movie, track and media wrappers (not part of their interface).
#pragma once

#include "KelvoProperties.h"
#include "PlatformFixed.h"
#include "PlatformMovies.h"

namespace kelvo_movie {

// Directions and flags of the next-interesting-time searches.
constexpr Fixed kRateForward = fixed1;
constexpr Fixed kRateBackward = -fixed1;
constexpr int16_t kStepSearch = nextTimeStep;
constexpr int16_t kEdgeStepSearch = nextTimeStep | nextTimeEdgeOK;
constexpr int16_t kEdgeSampleSearch = nextTimeMediaSample | nextTimeEdgeOK;
// A count from time 0 takes the sample at 0 itself, whatever segment is active.
constexpr int16_t kSampleSearchFromZero =
    int16_t(nextTimeMediaSample | nextTimeEdgeOK | nextTimeIgnoreActiveSegment);

// The sample times found after `start` up to `end` included, `next(flags, from)` answering the
// next time or -1. Counting from 0 takes the sample at 0 itself.
template <class F> int32_t countSampleTimes(TimeValue start, int64_t end, F&& next) {
    int16_t flags = start == 0 ? kSampleSearchFromZero : kStepSearch;
    int32_t count = -1;
    TimeValue t = start;
    for (;;) {
        const TimeValue found = next(flags, t);
        ++count;
        // A search that does not move on would never end.
        if (found < 0 || found > end || (found <= t && flags == kStepSearch)) break;
        t = found;
        flags = kStepSearch;
    }
    return count;
}

// The media handler's type of the media; 0 for none.
inline uint32_t handlerTypeOf(Media m) {
    OSType type = 0;
    if (m) GetMediaHandlerDescription(m, &type, nullptr, nullptr);
    return type;
}

// Reads property `id` of the accessor's class into `value`; the accessor's status.
template <class P> int32_t readProperty(P& property, uint32_t id, void* value) {
    if (!property.getInfo(id)) return property.Error();
    property.getValue(value);
    return property.Error();
}

// The same into a buffer of `size` bytes: a larger value is refused rather than overrunning it.
template <class P> int32_t readProperty(P& property, uint32_t id, void* value, uint32_t size) {
    if (!property.getInfo(id)) return property.Error();
    if (property.valueSize() > size) return kQTPropertyBadValueSizeErr;
    property.getValue(value);
    return property.Error();
}

template <class P> int32_t writeProperty(P& property, uint32_t id, const void* value, uint32_t size) {
    if (!property.getInfo(id)) return property.Error();
    property.setValue(value, size);
    return property.Error();
}

} // namespace kelvo_movie
