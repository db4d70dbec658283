// Writing a movie file from a DICOM presentation: 400 frames of 512 x 512 16-bit MONOCHROME2 (12
// bits stored, windowed) exported through the video presentation as 'raw ' (24-bit RGB) and as
// JPEG frames, and through the DICOM presentation's own raw export (8-bit grey samples), beside
// ffmpeg writing the same number of frames of the same size from 8-bit grey input in the same
// run, on one thread (-threads 1 -filter_threads 1): rawvideo rgb24, rawvideo gray and mjpeg.
//
// Ours are timed in-process (reading, windowing and drawing each frame, compressing it and
// writing the file); ffmpeg as a child process (reading its raw input file and writing). Each is
// run three times and the best printed: wall time, and CPU time (user + system: this process's
// for ours, the child's for ffmpeg), which a loaded machine disturbs less. The ratio to the
// ffmpeg counterpart is of CPU times.
//
// Usage: movie_write_bench [--data=FOLDER] [--frames=N]
// The data folder (default ./movie-write-bench-data) keeps the input files between runs.
#include "ChildPeakMemory.h"
#include "BenchGreyFrames.h"
#include "KelvoDicomDataTree.h"
#include "KelvoDicomVideoPresentation.h"
#include "KelvoMovie.h"
#include "KelvoVideo.h"
#include "KelvoVideoCompression.h"
#include "PlatformFiles.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <time.h>

namespace fs = std::filesystem;

namespace {

constexpr double kCentre = 1500.0;
constexpr double kWidth = 2000.0;
constexpr int kSide = 512;

// Run after grey_frames is defined.
const char* const kMakeScript = R"PY(
import sys
import numpy as np
path, grey, frames = sys.argv[1], sys.argv[2], int(sys.argv[3])
arr = grey_frames(path, frames, 'BENCH^MOVIEWRITE', '1.2.826.0.1.3680043.2.1143.4300')
# The same frames windowed to 8-bit grey, ffmpeg's input.
low = 1500 - 1000
g = np.clip((arr.astype(np.float64) - low) * 255.0 / 2000.0, 0, 255).astype(np.uint8)
open(grey, 'wb').write(g.tobytes())
)PY";

fs::path gDir;
int gFrames = 400;

fs::path dicomFile() {
    return gDir / ("frames-" + std::to_string(gFrames) + ".dcm");
}
fs::path greyFile() {
    return gDir / ("frames-" + std::to_string(gFrames) + ".grey");
}

bool makeFiles() {
    if (fs::exists(dicomFile()) && fs::exists(greyFile())) return true;
    std::printf("making %s\n", dicomFile().c_str());
    const fs::path script = gDir / "make.py";
    if (FILE* f = std::fopen(script.c_str(), "w")) {
        std::fputs(withGreyFrames(kMakeScript).c_str(), f);
        std::fclose(f);
    }
    const std::string command = "/usr/bin/python3 '" + script.string() + "' '" + dicomFile().string() +
                                "' '" + greyFile().string() + "' " + std::to_string(gFrames) + " >/dev/null";
    return std::system(command.c_str()) == 0;
}

std::unique_ptr<KelvoDicomDataTree> gTree;

// The presentation of the file's pixel data, as the document makes it, windowed.
KelvoDicomVideoPresentation* display() {
    gTree.reset(KelvoDicomDataTree::openFile(dicomFile().c_str()));
    if (!gTree || !gTree->isA("KelvoDicomDocument")) return nullptr;
    auto* p = static_cast<KelvoDicomDocument*>(gTree.get())->dataDisplay();
    if (!p || !p->qtObjIsValid()) return nullptr;
    const Kelvo_NumericalRange window(kCentre, kWidth);
    p->windowLevels(&window);
    return p;
}

Kelvo_ImgDescComp compression(OSType codec, int16_t depth, int32_t quality) {
    Kelvo_ImgDescComp desc;
    desc.dataFormat(codec);
    desc.qtDepth(depth);
    desc.qtWidth(kSide);
    desc.qtHeight(kSide);
    desc.qtSpatialQuality(quality);
    desc.qtFrameDur() = 24;
    return desc;
}

struct Timing {
    bool ok = false;
    double seconds = 0; // wall
    double cpu = 0;     // user + system
    uintmax_t bytes = 0;
    double faults = 0; // minor page faults a frame
};

double seconds(const timeval& t) {
    return double(t.tv_sec) + double(t.tv_usec) * 1e-6;
}

long minorFaults(bool children) {
    rusage u{};
    getrusage(children ? RUSAGE_CHILDREN : RUSAGE_SELF, &u);
    return u.ru_minflt;
}

// CPU time so far of this process, or of its waited-for children.
double cpuTime(bool children) {
    if (!children) {
        timespec t{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
    }
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return seconds(u.ru_utime) + seconds(u.ru_stime);
}

// The best of three runs of `work`, which writes `out` (in a child when `child`).
Timing bestOf(const fs::path& out, bool child, const std::function<bool()>& work) {
    Timing best;
    for (int run = 0; run < 3; ++run) {
        std::error_code ec;
        fs::remove(out, ec);
        const double cpu0 = cpuTime(child);
        const long faults0 = minorFaults(child);
        const auto start = std::chrono::steady_clock::now();
        const bool ok = work();
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double cpu = cpuTime(child) - cpu0;
        if (!ok) return Timing{};
        const double faults = double(minorFaults(child) - faults0) / double(gFrames);
        if (!best.ok || cpu < best.cpu) best = Timing{true, s, cpu, fs::file_size(out, ec), faults};
    }
    return best;
}

Timing ours(const fs::path& out, OSType codec, int16_t depth, int32_t quality) {
    KelvoDicomVideoPresentation* p = display();
    if (!p) return Timing{};
    return bestOf(out, false, [&] {
        FSSpec spec{};
        FSPathMakeFSSpec(out.c_str(), &spec);
        Kelvo_ImgDescComp desc = compression(codec, depth, quality);
        p->presentationToMovie(&spec, &desc, nullptr);
        return p->Error() == 0;
    });
}

Timing oursRaw(const fs::path& out) {
    KelvoDicomVideoPresentation* p = display();
    if (!p) return Timing{};
    return bestOf(out, false, [&] {
        FSSpec spec{};
        FSPathMakeFSSpec(out.c_str(), &spec);
        p->presentationToRawMovie(&spec, nullptr);
        return p->Error() == 0;
    });
}

Timing ffmpeg(const fs::path& out, const std::string& codec) {
    const std::string size = std::to_string(kSide) + "x" + std::to_string(kSide);
    return bestOf(out, true, [&] {
        std::vector<std::string> args = {"ffmpeg",
                                         "-v",
                                         "error",
                                         "-y",
                                         "-threads",
                                         "1",
                                         "-f",
                                         "rawvideo",
                                         "-pix_fmt",
                                         "gray",
                                         "-s",
                                         size,
                                         "-r",
                                         "25",
                                         "-i",
                                         greyFile().string(),
                                         "-threads",
                                         "1",
                                         "-filter_threads",
                                         "1"};
        size_t at = 0;
        while (at < codec.size()) {
            const size_t space = codec.find(' ', at);
            const size_t end = space == std::string::npos ? codec.size() : space;
            if (end > at) args.push_back(codec.substr(at, end - at));
            at = end + 1;
        }
        args.push_back("-f");
        args.push_back("mov");
        args.push_back(out.string());
        return benchchild::measure(args, "/dev/null").ok;
    });
}

void report(const char* what, const Timing& t, const Timing* peer) {
    if (!t.ok) {
        std::printf("%-52s FAILED\n", what);
        return;
    }
    std::printf("%-48s wall %7.3f s  cpu %7.3f s %8.1f frames/s (cpu) %7.1f MB", what, t.seconds, t.cpu,
                double(gFrames) / t.cpu, double(t.bytes) / 1e6);
    std::printf(" %6.1f faults/frame", t.faults);
    if (peer && peer->ok) std::printf("  %.2fx ffmpeg", t.cpu / peer->cpu);
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv) {
    gDir = "movie-write-bench-data";
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--data=", 7) == 0) gDir = argv[i] + 7;
        if (std::strncmp(argv[i], "--frames=", 9) == 0) gFrames = std::max(2, std::atoi(argv[i] + 9));
    }
    std::error_code ec;
    fs::create_directories(gDir, ec);
    if (!makeFiles()) {
        std::fprintf(stderr, "cannot make the input files (needs /usr/bin/python3 with pydicom and numpy)\n");
        return 1;
    }
    std::printf("%d frames of %dx%d, best of 3, one thread\n", gFrames, kSide, kSide);
    const Timing ffRGB = ffmpeg(gDir / "ffmpeg-rgb24.mov", "-c:v rawvideo -pix_fmt rgb24");
    const Timing ffGrey = ffmpeg(gDir / "ffmpeg-gray.mov", "-c:v rawvideo -pix_fmt gray");
    const Timing ffJPEG = ffmpeg(gDir / "ffmpeg-mjpeg.mov", "-c:v mjpeg -pix_fmt yuvj420p -q:v 4");
    const Timing raw = ours(gDir / "ours-raw24.mov", FOUR_CHAR_CODE("raw "), 24, 0x200 /* normal */);
    const Timing rawGrey = oursRaw(gDir / "ours-rawgrey.mov");
    const Timing jpeg = ours(gDir / "ours-jpeg.mov", FOUR_CHAR_CODE("jpeg"), 24, 0x300 /* high */);
    report("ffmpeg rawvideo rgb24 (from gray input)", ffRGB, nullptr);
    report("ours presentationToMovie 'raw ' 24-bit", raw, &ffRGB);
    report("ffmpeg rawvideo gray", ffGrey, nullptr);
    report("ours presentationToRawMovie (8-bit grey)", rawGrey, &ffGrey);
    report("ffmpeg mjpeg yuvj420p -q:v 4", ffJPEG, nullptr);
    report("ours presentationToMovie 'jpeg' high quality", jpeg, &ffJPEG);
    gTree.reset();
    return 0;
}
