// Rendering every frame of a 400-frame 512 x 512 16-bit MONOCHROME2 image (12 bits stored, with a
// window) to windowed 8-bit grey through the DICOM video presentation, stored natively, as RLE
// (dcmcrle) and as lossless JPEG (dcmcjpeg +e1, process 14 selection value 1), beside dcmj2pnm
// writing the same frames with the same window.
//
// - Present/<encoding>: the presentation opened once as the document makes it, then stepped one
//   frame forward per iteration (read, decode, window, draw into the offscreen buffer), on the
//   calling thread only: frames per second on one core.
// - dcmj2pnm +Fa +Ww (timed once after the benchmarks, a child process): it also parses the file
//   and writes every frame as a PGM file.
// - Peak memory: a child process (this program with --render=FILE) opens the presentation and
//   renders every frame; the peak at 100 and 400 frames shows whether it grows with the count.
//
// Usage: presentation_render_bench [benchmark options] [--data=FOLDER]
// The data folder (default ./presentation-render-bench-data) keeps the files between runs.
#include "ChildPeakMemory.h"
#include "BenchGreyFrames.h"
#include "KelvoDicomDataTree.h"
#include "KelvoDicomVideoPresentation.h"
#include "KelvoVideo.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr double kCentre = 1500.0;
constexpr double kWidth = 2000.0;

// Run after grey_frames is defined.
const char* const kMakeScript = R"PY(
import sys
import numpy as np
path, frames = sys.argv[1], int(sys.argv[2])
grey_frames(path, frames, 'BENCH^PRESENTATION', '1.2.826.0.1.3680043.2.1143.4200')
)PY";

fs::path gDir;

struct Encoding {
    const char* name;
    const char* command; // how the copy is made from the native file, or null
};
const Encoding kEncodings[] = {{"native", nullptr}, {"rle", "dcmcrle"}, {"jpll", "dcmcjpeg +e1"}};

fs::path fileOf(const char* encoding, int frames) {
    return gDir / (std::string(encoding) + "-" + std::to_string(frames) + ".dcm");
}

bool run(const std::string& command) {
    return std::system((command + " >/dev/null").c_str()) == 0;
}

// The native file of `frames` frames and its encoded copies, made once.
bool makeFiles(int frames) {
    const fs::path native = fileOf("native", frames);
    if (!fs::exists(native)) {
        std::printf("making %s\n", native.c_str());
        const fs::path script = gDir / "make.py";
        if (FILE* f = std::fopen(script.c_str(), "w")) {
            std::fputs(withGreyFrames(kMakeScript).c_str(), f);
            std::fclose(f);
        }
        const fs::path partial = native.string() + ".partial";
        if (!run("/usr/bin/python3 '" + script.string() + "' '" + partial.string() + "' " +
                 std::to_string(frames)))
            return false;
        std::error_code ec;
        fs::rename(partial, native, ec);
        if (ec) return false;
    }
    for (const Encoding& e : kEncodings) {
        if (!e.command || fs::exists(fileOf(e.name, frames))) continue;
        std::printf("making %s\n", fileOf(e.name, frames).c_str());
        const fs::path partial = fileOf(e.name, frames).string() + ".partial";
        if (!run(std::string(e.command) + " '" + native.string() + "' '" + partial.string() + "'"))
            return false;
        std::error_code ec;
        fs::rename(partial, fileOf(e.name, frames), ec);
        if (ec) return false;
    }
    return true;
}

// The presentation of a file's pixel data, as the document makes it.
std::unique_ptr<KelvoDicomVideoPresentation> display(const fs::path& path) {
    std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(path.c_str()));
    if (!tree || !tree->isA("KelvoDicomDocument")) return nullptr;
    return std::unique_ptr<KelvoDicomVideoPresentation>(
        static_cast<KelvoDicomDocument*>(tree.get())->dataDisplay());
}

// The next frame, back to the first after the last.
void step(KelvoDicomVideoPresentation& p, int32_t frames) {
    if (p.SampleID() >= frames)
        p.PlayTime(0);
    else
        p.PlayAction(4);
}

void Present(benchmark::State& state, const char* encoding) {
    auto p = display(fileOf(encoding, 400));
    if (!p || !p->qtObjIsValid()) {
        state.SkipWithError("the presentation cannot be opened");
        return;
    }
    const int32_t frames = p->SamplesCount();
    const Kelvo_NumericalRange window(kCentre, kWidth);
    p->windowLevels(&window);
    for (auto _ : state) {
        step(*p, frames);
        benchmark::DoNotOptimize(p->drawer().qtPixelBuffer()->baseAddress());
        benchmark::ClobberMemory();
    }
    if (p->Error() != 0) state.SkipWithError("the presentation reported an error");
    state.counters["frames/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

// The child's work: every frame of FILE rendered once.
int renderAll(const char* file) {
    auto p = display(file);
    if (!p || !p->qtObjIsValid()) return 1;
    const int32_t frames = p->SamplesCount();
    const Kelvo_NumericalRange window(kCentre, kWidth);
    p->windowLevels(&window);
    p->PlayTime(0);
    for (int32_t k = 1; k < frames; ++k)
        p->PlayAction(4);
    return p->SampleID() == frames && p->Error() == 0 ? 0 : 2;
}

void report(const char* what, const benchchild::Measure& m, int frames) {
    std::printf("%-44s %s %7.3f s %8.1f frames/s  peak %7.1f MB\n", what, m.ok ? "ok    " : "FAILED",
                m.seconds, double(frames) / m.seconds, m.peakMB);
}

} // namespace

int main(int argc, char** argv) {
    gDir = "presentation-render-bench-data";
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--render=", 9) == 0) return renderAll(argv[i] + 9);
        if (std::strncmp(argv[i], "--data=", 7) == 0)
            gDir = argv[i] + 7;
        else
            args.push_back(argv[i]);
    }
    int count = int(args.size());
    benchmark::Initialize(&count, args.data());
    std::error_code ec;
    fs::create_directories(gDir, ec);
    for (int frames : {100, 400})
        if (!makeFiles(frames)) {
            std::fprintf(stderr,
                         "cannot make the %d-frame files (needs /usr/bin/python3 with pydicom, dcmcrle, "
                         "dcmcjpeg)\n",
                         frames);
            return 1;
        }

    for (const Encoding& e : kEncodings)
        benchmark::RegisterBenchmark((std::string("Present/") + e.name).c_str(), Present, e.name)
            ->Unit(benchmark::kMicrosecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const std::string self = fs::canonical("/proc/self/exe").string();
    const fs::path out = gDir / "dcmj2pnm-frames";
    char centre[32], width[32];
    std::snprintf(centre, sizeof centre, "%g", kCentre);
    std::snprintf(width, sizeof width, "%g", kWidth);
    std::printf("\nChild processes, 400 frames of 512x512 (wall time of the whole process):\n");
    for (const Encoding& e : kEncodings) {
        report((std::string("ours, ") + e.name).c_str(),
               benchchild::measure({self, "--render=" + fileOf(e.name, 400).string()}, "/dev/null"), 400);
        fs::remove_all(out);
        fs::create_directories(out);
        report((std::string("dcmj2pnm +Fa +Ww (writes PGM), ") + e.name).c_str(),
               benchchild::measure({"dcmj2pnm", "+Fa", "+Ww", centre, width, fileOf(e.name, 400).string(),
                                    (out / "frame").string()},
                                   "/dev/null"),
               400);
        fs::remove_all(out);
    }
    std::printf("\nPeak memory of our rendering by frame count:\n");
    for (const Encoding& e : kEncodings)
        for (int frames : {100, 400})
            report((std::string("ours, ") + e.name + ", " + std::to_string(frames) + " frames").c_str(),
                   benchchild::measure({self, "--render=" + fileOf(e.name, frames).string()}, "/dev/null"),
                   frames);
    return 0;
}
