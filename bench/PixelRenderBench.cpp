// Rendering frames of a 512 x 512 16-bit image to windowed 8-bit grey through the pixel drawer,
// beside DCMTK on the same file made at run time (400 frames, 12 bits stored, MONOCHROME2, with a
// window centre and width), in frames per second.
//
// - Memcpy: copying one stored frame, the bound that no renderer beats.
// - OursWindow: a stored frame copied into the drawer's frame buffer and refreshed (rescale,
//   window table, inversion): the 8-bit grey picture, as DCMTK's getOutputData makes it.
// - OursWindowOnly: the same with the copy untimed: DCMTK's frames already lie in its memory,
//   and ours window in place, so each frame is put back before it is timed.
// - OursDraw: the same, then drawn into the drawer's 32-bit offscreen buffer.
// - OursFromFile: every frame read from the file into the frame buffer and drawn, as the video
//   presentation does.
// - Dcmtk (with DCMTK's libraries only): DicomImage over frames held in memory, each rendered
//   to 8 bits with the same window (getOutputData): the same work as OursWindow.
// - dcmj2pnm --all-frames, timed once after the benchmarks: it also parses the file and writes
//   every frame as a PGM file, so it is shown for reference.
//
// Usage: pixel_render_bench [benchmark options] [--data=FOLDER]
// The data folder (default ./pixel-render-bench-data) keeps the file between runs.
#include "BenchDicomBytes.h"
#include "KelvoDicomPixelDataDrawer.h"
#include "KelvoVideo.h"

#include <benchmark/benchmark.h>

#ifdef PIXEL_RENDER_BENCH_DCMTK
#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmimgle/dcmimage.h>
#endif

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr uint16_t kRows = 512;
constexpr uint16_t kColumns = 512;
constexpr uint32_t kFrames = 400;
constexpr uint32_t kFrameBytes = uint32_t(kRows) * kColumns * 2;
constexpr double kCentre = 1500.0;
constexpr double kWidth = 2000.0;
// Frames DCMTK holds in memory: its internal copy of 400 frames would need several hundred MB.
constexpr uint32_t kDcmtkFrames = 40;

uint16_t sample(uint32_t x, uint32_t y, uint32_t n) {
    return uint16_t((x * 7 + y * 3 + n * 11 + ((x ^ y) & 31)) & 0x0FFF);
}

// Explicit VR little endian, written under a private name and renamed into place.
bool makeFile(const fs::path& path) {
    const char* sopClass = "1.2.840.10008.5.1.4.1.1.7.3";
    const char* instance = "1.2.826.0.1.3680043.2.1143.4100.1";
    ExplicitElements head = ExplicitElements::fileHead(sopClass, instance, "1.2.826.0.1.3680043.2.1143.4100");
    head.text(0x0008, 0x0016, "UI", sopClass);
    head.text(0x0008, 0x0018, "UI", instance);
    head.text(0x0008, 0x0060, "CS", "OT");
    head.text(0x0010, 0x0010, "PN", "BENCH^RENDER");
    head.word(0x0028, 0x0002, 1);
    head.text(0x0028, 0x0004, "CS", "MONOCHROME2");
    head.text(0x0028, 0x0008, "IS", std::to_string(kFrames));
    head.word(0x0028, 0x0010, kRows);
    head.word(0x0028, 0x0011, kColumns);
    head.word(0x0028, 0x0100, 16);
    head.word(0x0028, 0x0101, 12);
    head.word(0x0028, 0x0102, 11);
    head.word(0x0028, 0x0103, 0);
    head.text(0x0028, 0x1050, "DS", std::to_string(int(kCentre)));
    head.text(0x0028, 0x1051, "DS", std::to_string(int(kWidth)));
    head.longHeader(0x7FE0, 0x0010, "OW", kFrames * kFrameBytes);
    const fs::path partial = path.string() + ".partial";
    FILE* f = std::fopen(partial.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(head.bytes.data(), 1, head.bytes.size(), f) == head.bytes.size();
    std::vector<uint8_t> frame(kFrameBytes);
    for (uint32_t n = 0; ok && n < kFrames; ++n) {
        for (uint32_t y = 0; y < kRows; ++y)
            for (uint32_t x = 0; x < kColumns; ++x) {
                const uint16_t v = sample(x, y, n);
                std::memcpy(&frame[(size_t(y) * kColumns + x) * 2], &v, 2);
            }
        ok = std::fwrite(frame.data(), 1, frame.size(), f) == frame.size();
    }
    ok = std::fclose(f) == 0 && ok;
    std::error_code ec;
    if (ok) fs::rename(partial, path, ec);
    if (!ok || ec) fs::remove(partial, ec);
    return ok && !ec;
}

fs::path gFile;
uint64_t gPixelOffset = 0;
std::vector<std::vector<uint8_t>> gStored; // a few stored frames, kept in memory

// The description of the file's frames, as the reader makes it from group 0028.
void describe(KelvoDicomDataImagePixel& px) {
    px.PhotoInterpretation("MONOCHROME2");
    px.setUSValueProperty(0x0010, kRows);
    px.setUSValueProperty(0x0011, kColumns);
    px.setUSValueProperty(0x0100, 16);
    px.setUSValueProperty(0x0101, 12);
    px.setUSValueProperty(0x0102, 11);
    px.isTwoComplement(false);
    px.setStringValueProperty(0x1050, std::to_string(int(kCentre)).c_str());
    px.setStringValueProperty(0x1051, std::to_string(int(kWidth)).c_str());
}

void setRate(benchmark::State& state) {
    state.counters["frames/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(int64_t(state.iterations()) * kFrameBytes);
}

void Memcpy(benchmark::State& state) {
    std::vector<uint8_t> frame(kFrameBytes);
    size_t n = 0;
    for (auto _ : state) {
        std::memcpy(frame.data(), gStored[n++ % gStored.size()].data(), kFrameBytes);
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
    }
    setRate(state);
}

struct Drawer {
    KelvoDicomDataImagePixel px;
    std::vector<uint8_t> frame = std::vector<uint8_t>(kFrameBytes);
    KelvoDicomPixelDataDrawer drawer;
    explicit Drawer(benchmark::State& state) {
        describe(px);
        drawer.attachDataSource(frame.data(), &px);
        if (!drawer.qtObjIsValid()) state.SkipWithError("the drawer cannot be set up");
    }
};

void OursWindow(benchmark::State& state) {
    Drawer d(state);
    size_t n = 0;
    for (auto _ : state) {
        std::memcpy(d.frame.data(), gStored[n++ % gStored.size()].data(), kFrameBytes);
        d.drawer.refreshData();
        benchmark::DoNotOptimize(d.frame.data());
        benchmark::ClobberMemory();
    }
    setRate(state);
}

void OursWindowOnly(benchmark::State& state) {
    Drawer d(state);
    size_t n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(d.frame.data(), gStored[n++ % gStored.size()].data(), kFrameBytes);
        state.ResumeTiming();
        d.drawer.refreshData();
        benchmark::DoNotOptimize(d.frame.data());
        benchmark::ClobberMemory();
    }
    setRate(state);
}

void OursDraw(benchmark::State& state) {
    Drawer d(state);
    size_t n = 0;
    for (auto _ : state) {
        std::memcpy(d.frame.data(), gStored[n++ % gStored.size()].data(), kFrameBytes);
        d.drawer.playData(true);
        benchmark::DoNotOptimize(d.drawer.qtPixelBuffer()->baseAddress());
        benchmark::ClobberMemory();
    }
    setRate(state);
}

void OursFromFile(benchmark::State& state) {
    Drawer d(state);
    FILE* f = std::fopen(gFile.c_str(), "rb");
    if (!f) {
        state.SkipWithError("cannot open the file");
        return;
    }
    uint32_t n = 0;
    for (auto _ : state) {
        const uint32_t frame = n++ % kFrames;
        if (fseeko(f, off_t(gPixelOffset + uint64_t(frame) * kFrameBytes), SEEK_SET) != 0 ||
            std::fread(d.frame.data(), 1, kFrameBytes, f) != kFrameBytes) {
            state.SkipWithError("short read");
            break;
        }
        d.drawer.playData(true);
        benchmark::DoNotOptimize(d.drawer.qtPixelBuffer()->baseAddress());
    }
    std::fclose(f);
    setRate(state);
}

#ifdef PIXEL_RENDER_BENCH_DCMTK
void Dcmtk(benchmark::State& state) {
    DicomImage image(gFile.c_str(), 0, 0, kDcmtkFrames);
    if (image.getStatus() != EIS_Normal) {
        state.SkipWithError("DCMTK cannot load the file");
        return;
    }
    image.setWindow(kCentre, kWidth);
    std::vector<uint8_t> out(size_t(kRows) * kColumns);
    unsigned long n = 0;
    for (auto _ : state) {
        if (!image.getOutputData(out.data(), out.size(), 8, n++ % kDcmtkFrames)) {
            state.SkipWithError("getOutputData failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    setRate(state);
}
#endif

// dcmj2pnm --all-frames with the same window, writing every frame into a scratch folder.
void timeDcmj2pnm(const fs::path& dir) {
    if (std::system("command -v dcmj2pnm >/dev/null 2>&1") != 0) {
        std::printf("dcmj2pnm is not installed: not timed\n");
        return;
    }
    const fs::path out = dir / "dcmj2pnm-frames";
    fs::remove_all(out);
    fs::create_directories(out);
    char command[1024];
    std::snprintf(command, sizeof command, "dcmj2pnm --all-frames +Ww %g %g '%s' '%s/frame' >/dev/null 2>&1",
                  kCentre, kWidth, gFile.c_str(), out.c_str());
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("dcmj2pnm --all-frames (parse, render, write %u PGM files): %s %.3f s, %.1f frames/s\n",
                kFrames, status == 0 ? "ok" : "FAILED", seconds, double(kFrames) / seconds);
    fs::remove_all(out);
}

} // namespace

int main(int argc, char** argv) {
    fs::path dir = "pixel-render-bench-data";
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--data=", 7) == 0)
            dir = argv[i] + 7;
        else
            args.push_back(argv[i]);
    }
    int count = int(args.size());
    benchmark::Initialize(&count, args.data());
    std::error_code ec;
    fs::create_directories(dir, ec);
    gFile = dir / "render-400.dcm";
    if (!fs::exists(gFile)) {
        std::printf("making %s (%u frames of %ux%u, 16 bits)\n", gFile.c_str(), kFrames, kRows, kColumns);
        if (!makeFile(gFile)) {
            std::fprintf(stderr, "cannot write %s\n", gFile.c_str());
            return 1;
        }
    }
    gPixelOffset = fs::file_size(gFile) - uint64_t(kFrames) * kFrameBytes;
    FILE* f = std::fopen(gFile.c_str(), "rb");
    for (uint32_t n = 0; f && n < 8; ++n) {
        std::vector<uint8_t> frame(kFrameBytes);
        fseeko(f, off_t(gPixelOffset + uint64_t(n) * kFrameBytes), SEEK_SET);
        if (std::fread(frame.data(), 1, kFrameBytes, f) == kFrameBytes) gStored.push_back(std::move(frame));
    }
    if (f) std::fclose(f);
    if (gStored.empty()) {
        std::fprintf(stderr, "cannot read %s\n", gFile.c_str());
        return 1;
    }

    benchmark::RegisterBenchmark("Memcpy", Memcpy)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("OursWindow", OursWindow)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("OursWindowOnly", OursWindowOnly)->Unit(benchmark::kMicrosecond);
#ifdef PIXEL_RENDER_BENCH_DCMTK
    benchmark::RegisterBenchmark("Dcmtk", Dcmtk)->Unit(benchmark::kMicrosecond);
#else
    std::printf("DCMTK's libraries were not found at build time: its in-process figure is left out\n");
#endif
    benchmark::RegisterBenchmark("OursDraw", OursDraw)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("OursFromFile", OursFromFile)->Unit(benchmark::kMicrosecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    timeDcmj2pnm(dir);
    return 0;
}
