// Movies built in memory through the movie model, for the tests of the movie, track and media
// wrappers.
#pragma once

#include "PlatformFixed.h"
#include "PlatformMemory.h"
#include "PlatformMovies.h"

#include <gtest/gtest.h>

#include <vector>

namespace moviefixtures {

constexpr int16_t kWidth = 32;
constexpr int16_t kHeight = 16;

// A 'raw ' description of 32-bit frames of kWidth x kHeight.
inline SampleDescriptionHandle rawDescription() {
    Handle h = NewHandleClear(sizeof(ImageDescription));
    auto* d = reinterpret_cast<ImageDescription*>(*h);
    d->idSize = sizeof(ImageDescription);
    d->cType = FOUR_CHAR_CODE("raw ");
    d->width = kWidth;
    d->height = kHeight;
    d->depth = 32;
    d->hRes = Long2Fix(72);
    d->vRes = Long2Fix(72);
    d->frameCount = 1;
    return reinterpret_cast<SampleDescriptionHandle>(h);
}

// Adds a track of the media type to the movie whose media (scale 600) holds samples of the
// given durations, `bytesEach` bytes each of value i + 1, the first a key frame, all shown from
// time 0. Answers the track.
inline Track addTrack(Movie movie, OSType mediaType, const std::vector<int64_t>& durations,
                      size_t bytesEach = 4, bool visual = true) {
    Track track =
        NewMovieTrack(movie, visual ? Long2Fix(kWidth) : 0, visual ? Long2Fix(kHeight) : 0, visual ? 0 : 256);
    Media media = NewTrackMedia(track, mediaType, 600, nullptr, 0);
    SampleDescriptionHandle desc = rawDescription();
    int64_t total = 0;
    for (size_t i = 0; i < durations.size(); ++i) {
        std::vector<uint8_t> bytes(bytesEach, uint8_t(i + 1));
        EXPECT_EQ(AddMediaSample2(media, bytes.data(), ByteCount(bytes.size()), durations[i], 0, desc, 1,
                                  i == 0 ? 0 : 1, nullptr),
                  noErr);
        total += durations[i];
    }
    DisposeHandle(reinterpret_cast<Handle>(desc));
    if (total > 0) {
        EXPECT_EQ(InsertMediaIntoTrack(track, 0, 0, TimeValue(total), fixed1), noErr);
    }
    return track;
}

// A movie (scale 600) with a video track of samples at 0 and 10 (duration 20) and a sound
// track of one sample of 20; disposed of with the fixture.
struct TwoTrackMovie {
    Movie movie = NewMovie(0);
    Track video = addTrack(movie, VideoMediaType, {10, 10});
    Track sound = addTrack(movie, SoundMediaType, {20}, 4, false);
    TwoTrackMovie() = default;
    TwoTrackMovie(const TwoTrackMovie&) = delete;
    TwoTrackMovie& operator=(const TwoTrackMovie&) = delete;
    ~TwoTrackMovie() { DisposeMovie(movie); }
};

} // namespace moviefixtures
