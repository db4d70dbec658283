// Drawing a movie's frame through MoviesTask: a 512 x 512 video track of 'raw ' 24-bit frames and
// one of JPEG frames, drawn into a 32-bit world, each frame forced to draw (UpdateMovie), beside
// a memcpy of the same destination bytes (the bound that no drawing beats).
#include "PlatformCodecEngines.h"
#include "PlatformCodecRegistry.h"
#include "PlatformFixed.h"
#include "PlatformMemory.h"
#include "PlatformMoviePlayback.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

constexpr int16_t kSide = 512;

struct DrawnMovie {
    Movie movie = nullptr;
    GWorldPtr port = nullptr;
    explicit DrawnMovie(OSType cType) {
        platform::codec::Picture picture;
        picture.width = picture.height = kSide;
        picture.components = 3;
        picture.samples.resize(size_t(kSide) * kSide * 3);
        for (size_t i = 0; i < picture.samples.size(); ++i)
            picture.samples[i] = uint8_t((i * 7) ^ (i >> 9));
        std::vector<uint8_t> frame;
        if (cType == FOUR_CHAR_CODE("raw "))
            frame = picture.samples;
        else
            platform::codecEncodeFrame(cType, 24, 768, picture, frame);

        movie = NewMovie(0);
        Track track = NewMovieTrack(movie, Long2Fix(kSide), Long2Fix(kSide), 0);
        Media media = NewTrackMedia(track, VideoMediaType, 600, nullptr, 0);
        Handle h = NewHandleClear(sizeof(ImageDescription));
        auto* d = reinterpret_cast<ImageDescription*>(*h);
        d->idSize = sizeof(ImageDescription);
        d->cType = cType;
        d->width = d->height = kSide;
        d->depth = 24;
        AddMediaSample2(media, frame.data(), ByteCount(frame.size()), 600, 0,
                        reinterpret_cast<SampleDescriptionHandle>(h), 1, 0, nullptr);
        DisposeHandle(h);
        InsertMediaIntoTrack(track, 0, 0, 600, fixed1);
        const Rect bounds{0, 0, kSide, kSide};
        QTNewGWorld(&port, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0);
        SetMovieGWorld(movie, port, nullptr);
    }
    ~DrawnMovie() {
        DisposeMovie(movie);
        DisposeGWorld(port);
    }
};

void report(benchmark::State& state) {
    state.SetBytesProcessed(int64_t(state.iterations()) * kSide * kSide * 4);
    state.counters["frames/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void drawFrames(benchmark::State& state, OSType cType) {
    DrawnMovie m(cType);
    for (auto _ : state) {
        UpdateMovie(m.movie);
        MoviesTask(m.movie, 0);
        if (GetMoviesError() != noErr) state.SkipWithError("the frame did not draw");
    }
    report(state);
}

void RawFrame(benchmark::State& state) {
    drawFrames(state, FOUR_CHAR_CODE("raw "));
}

void JpegFrame(benchmark::State& state) {
    drawFrames(state, FOUR_CHAR_CODE("jpeg"));
}

void Memcpy(benchmark::State& state) {
    std::vector<uint8_t> src(size_t(kSide) * kSide * 4, 1), dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), dst.size());
        benchmark::ClobberMemory();
    }
    report(state);
}

} // namespace

BENCHMARK(Memcpy);
BENCHMARK(RawFrame);
BENCHMARK(JpegFrame);
BENCHMARK_MAIN();
