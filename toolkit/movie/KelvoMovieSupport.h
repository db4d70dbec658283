// Helpers shared by the movie, track and media wrappers (not part of their interface).
#pragma once

#include "KelvoProperties.h"

namespace kelvo_movie {

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
