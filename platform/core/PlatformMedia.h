// Media records of the movie layer, as far as the core needs them: a media's input map. The
// movie model keeps its tracks, samples and handlers beside the record, under the same reference.
// References are tokens checked against a registry: an unknown or disposed media is refused with
// invalidMedia, never dereferenced.
#pragma once

#include "PlatformAtoms.h"

struct OpaqueMedia;
using Media = OpaqueMedia*;

// A new copy of the media's input map, owned by the caller (an empty map when it has none).
OSErr GetMediaInputMap(Media media, QTAtomContainer* inputMap);
// Stores a copy of `inputMap` as the media's input map.
OSErr SetMediaInputMap(Media media, QTAtomContainer inputMap);

namespace platform {
// A media that belongs to no track yet; disposed with disposeMedia.
Media newDetachedMedia();
void disposeMedia(Media media);
// Whether the reference names a media that has not been disposed of.
bool isMedia(Media media);
} // namespace platform
