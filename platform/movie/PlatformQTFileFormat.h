// The movie atom of the QuickTime file format, built from the in-memory model. Atoms are
// big-endian; the model keeps sample descriptions in native order with big-endian extensions,
// so their fixed fields are turned around on the way out.
#pragma once

#include "PlatformMovieModel.h"

#include <functional>

namespace platform::movie {

// Where a movie atom's samples lie.
struct AtomPlan {
    // Whether the media's data reference (0-based) names the file the atom goes into.
    std::function<bool(const MediaRecord&, size_t)> isSelf;
    // The offset in that file of the first byte of a run whose bytes go into it (the media's
    // memory, or a data reference that is the file itself); -1 when it has no place there.
    std::function<int64_t(const MediaRecord&, const SampleRun&)> runOffset;
    // Every sample lies in the file: each media gets one data reference, the file itself.
    bool selfContained = false;
    // 64-bit chunk offsets are needed past 4 GiB; a plan may ask for them up front, so that the
    // atom's size does not depend on the offsets it holds.
    bool wideOffsets = false;
};

// The 'moov' atom of the movie, every track and media with it (under the registry's lock).
// paramErr when the movie has something the file cannot hold (a sample with no place).
OSErr buildMovieAtom(const MovieRecord& movie, const AtomPlan& plan, Bytes& out);

// A description as a file holds it (`size` bytes, at least a description's header), in the
// model's order: the inverse of what the movie atom's writer does to it.
Bytes nativeDescription(OSType mediaType, const uint8_t* bytes, size_t size);

// Whether a run's bytes go into the file being written under the plan.
bool runInFile(const MediaRecord& media, const SampleRun& run, const AtomPlan& plan);

} // namespace platform::movie
