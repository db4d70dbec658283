// Drawing frames through the blitter, and through an image-sequence decompression session as the
// DICOM renderer does (a depth-40 'raw ' frame into a 32-bit frame buffer): depth-40 frames into
// a 32-bit world at their own size and
// scaled by 2, and 32-bit frames at their own size, each beside a plain memcpy of the same
// destination bytes (the bound that no drawing beats).
#include "KelvoVideo.h"
#include "KelvoVideoDecompression.h"
#include "PlatformBlitter.h"
#include "PlatformGWorlds.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

struct Frame {
    std::vector<uint8_t> bytes;
    platform::BlitSurface surface;
    Frame(OSType format, int32_t w, int32_t h) {
        platform::PixelRaster& r = surface.raster;
        r.info = platform::pixelFormatInfo(format);
        r.width = w, r.height = h;
        r.rowBytes = int32_t((platform::minimumRowBytes(*r.info, w) + 15) & ~int64_t(15));
        bytes.resize(size_t(r.rowBytes) * size_t(h));
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = uint8_t(i * 7 + (i >> 11));
        r.base = bytes.data();
    }
};

Rect rectOf(int32_t w, int32_t h) {
    return Rect{0, 0, int16_t(h), int16_t(w)};
}

void setBytes(benchmark::State& state, const Frame& dst) {
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(dst.bytes.size()));
    state.counters["frames/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

// The same number of destination bytes copied with memcpy.
void Memcpy(benchmark::State& state) {
    const int32_t side = int32_t(state.range(0));
    Frame src(32, side, side), dst(32, side, side);
    for (auto _ : state) {
        std::memcpy(dst.bytes.data(), src.bytes.data(), dst.bytes.size());
        benchmark::ClobberMemory();
    }
    setBytes(state, dst);
}

void Blit(benchmark::State& state, OSType srcFormat, int32_t scale) {
    const int32_t side = int32_t(state.range(0));
    Frame src(srcFormat, side / scale, side / scale), dst(32, side, side);
    const Rect s = rectOf(side / scale, side / scale), d = rectOf(side, side);
    for (auto _ : state) {
        if (platform::blit(src.surface, s, dst.surface, d, nullptr, nullptr, srcCopy, nullptr) != noErr)
            state.SkipWithError("blit failed");
        benchmark::ClobberMemory();
    }
    setBytes(state, dst);
}

// The destination is 512 x 512 or 2048 x 2048 in every case; a scaled source is half as wide.
void Grey40Identity(benchmark::State& state) {
    Blit(state, 40, 1);
}
void Grey40ScaledBy2(benchmark::State& state) {
    Blit(state, 40, 2);
}
void ARGB32Identity(benchmark::State& state) {
    Blit(state, 32, 1);
}

// The same scale by 2 through a matrix (the image sequences' way).
void Grey40MatrixBy2(benchmark::State& state) {
    const int32_t side = int32_t(state.range(0));
    Frame src(40, side / 2, side / 2), dst(32, side, side);
    MatrixRecord m;
    SetIdentityMatrix(&m);
    ScaleMatrix(&m, 2 << 16, 2 << 16, 0, 0);
    const Rect s = rectOf(side / 2, side / 2);
    for (auto _ : state) {
        if (platform::blit(src.surface, s, dst.surface, s, &m, nullptr, srcCopy, nullptr) != noErr)
            state.SkipWithError("blit failed");
        benchmark::ClobberMemory();
    }
    setBytes(state, dst);
}

} // namespace

// A depth-40 frame drawn through an image-sequence decompression session into a 32-bit buffer.
static void Grey40Session(benchmark::State& state) {
    const int32_t side = int32_t(state.range(0));
    std::vector<uint8_t> frame(size_t(side) * size_t(side));
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = uint8_t(i * 7 + (i >> 11));
    Kelvo_ImgDesc desc;
    desc.dataFormat(FOUR_CHAR_CODE("raw "));
    desc.qtDepth(40);
    desc.qtWidth(int16_t(side));
    desc.qtHeight(int16_t(side));
    Kelvo_ISDecompressionSession session(&desc);
    compressionInputRecord input{};
    input.kind = 2;
    input.pointer = pointerDataRecordForCompression{frame.data(), int32_t(frame.size()), &desc};
    session.inputStorage(&input);
    Kelvo_QDGWorldBuffer out(side, side, 32);
    if (!session.beginSession(&out)) {
        state.SkipWithError("the session did not begin");
        return;
    }
    for (auto _ : state) {
        session.decompressData(-1, -1);
        benchmark::DoNotOptimize(out.baseAddress());
    }
    session.endSession();
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(side) * int64_t(side) * 4);
    state.counters["frames/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(Memcpy)->Arg(512)->Arg(2048)->Unit(benchmark::kMicrosecond);
BENCHMARK(Grey40Identity)->Arg(512)->Arg(2048)->Unit(benchmark::kMicrosecond);
BENCHMARK(Grey40ScaledBy2)->Arg(512)->Arg(2048)->Unit(benchmark::kMicrosecond);
BENCHMARK(Grey40MatrixBy2)->Arg(512)->Arg(2048)->Unit(benchmark::kMicrosecond);
BENCHMARK(ARGB32Identity)->Arg(512)->Arg(2048)->Unit(benchmark::kMicrosecond);
BENCHMARK(Grey40Session)->Arg(512)->Arg(2048)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
