// Movies built in memory through the movie model, for the tests of the movie, track and media
// wrappers.
#pragma once

#include "PlatformFixed.h"
#include "PlatformMemory.h"
#include "PlatformMovies.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
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

// Adds a sound track of `frames` frames of 16-bit stereo sound at 8000 Hz ('sowt', media scale
// 8000), shown from time 0. Answers the track.
inline Track addSoundTrack(Movie movie, int32_t frames) {
    Track track = NewMovieTrack(movie, 0, 0, 256);
    Media media = NewTrackMedia(track, SoundMediaType, 8000, nullptr, 0);
    Handle h = NewHandleClear(sizeof(SoundDescription));
    auto* d = reinterpret_cast<SoundDescription*>(*h);
    d->descSize = sizeof(SoundDescription);
    d->dataFormat = FOUR_CHAR_CODE("sowt");
    d->numChannels = 2;
    d->sampleSize = 16;
    d->sampleRate = uint32_t(8000) << 16;
    std::vector<uint8_t> bytes(size_t(frames) * 4, 0);
    EXPECT_EQ(AddMediaSample2(media, bytes.data(), ByteCount(bytes.size()), 1, 0,
                              reinterpret_cast<SampleDescriptionHandle>(h), frames, 0, nullptr),
              noErr);
    DisposeHandle(h);
    EXPECT_EQ(InsertMediaIntoTrack(track, 0, 0, frames, fixed1), noErr);
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

// ffmpeg and ffprobe, the peers that make and read movie files.
inline bool haveMoviePeers() {
    return testsupport::haveCommand("ffmpeg") && testsupport::haveCommand("ffprobe");
}

// Runs ffmpeg quietly; the test fails when it does.
inline void ffmpeg(const std::string& args) {
    int status = -1;
    const std::string out = testsupport::run("ffmpeg -v error -y " + args + " </dev/null 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
}

// ffprobe's key=value lines about the file as a map, with its whole output under "output";
// `options` select the stream and the entries shown.
inline std::map<std::string, std::string> ffprobe(const std::string& file, const std::string& options) {
    const std::string out = testsupport::run("ffprobe -v error " + options +
                                             " -of default=noprint_wrappers=1 '" + file + "' 2>&1");
    std::map<std::string, std::string> values = testsupport::keyValues(out);
    values["output"] = out;
    return values;
}

// ffprobe's view of the file's first stream and its format.
inline std::map<std::string, std::string> probeFirstStream(const std::string& file) {
    return ffprobe(
        file, "-select_streams 0 -show_entries stream=codec_type,width,height,nb_frames:format=duration");
}

// What ffmpeg makes of a movie file: five raw RGB frames of kWidth x kHeight at 10 a second and
// half a second of stereo 16-bit sound at 8000 Hz. Written into `dir`; answers its path.
constexpr int kFFmpegFrames = 5;
inline std::string ffmpegMovie(const testsupport::ScratchDir& dir) {
    const std::string file = dir.file("ffmpeg.mov");
    ffmpeg("-f lavfi -i testsrc=size=" + std::to_string(kWidth) + "x" + std::to_string(kHeight) +
           ":rate=10:duration=0.5 -f lavfi -i sine=sample_rate=8000:duration=0.5 -ac 2 -c:v rawvideo "
           "-pix_fmt rgb24 -c:a pcm_s16le '" +
           file + "'");
    return file;
}

// The frames of a movie file's first video track as ffmpeg decodes them, RGB bytes.
inline std::string ffmpegFramesRGB(const std::string& file) {
    return testsupport::run("ffmpeg -v error -i '" + file + "' -map 0:v:0 -f rawvideo -pix_fmt rgb24 -");
}

} // namespace moviefixtures
