// Peak memory and time of opening a movie file of about 1 GB of samples, beside ffprobe on the
// same file in the same run. Opening reads the tables only: the samples stay in the file, so the
// peak follows the size of the tables, not of the data.
//
// Each side runs in a child process of its own (fork, exec, wait4), so that its peak resident
// size is that of the work alone; ours runs this program again in its child mode, which also
// prints the growth of its high-water mark (VmHWM) across the open itself.
//
// Usage: movie_open_memory_bench [data folder] [frames]
// The file holds one video track of `frames` raw frames (default 65536) of 16 KiB give or take
// a few bytes, so that every sample has its own size, chunk and run: 1 GiB and 64 Ki entries in
// every table. Without a data folder the file is made in a temporary folder and removed after.
//
// Child mode: movie_open_memory_bench --open <file>
#include "ChildPeakMemory.h"
#include "PlatformFixed.h"
#include "PlatformMemory.h"
#include "PlatformMovieFiles.h"
#include "PlatformMovies.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using benchchild::Measure;

namespace {

constexpr uint32_t kFrameBytes = 16384;

// The process's high-water mark of resident memory, in kilobytes.
long highWaterKB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

bool makeFile(const fs::path& path, uint32_t frames) {
    FSSpec spec{};
    std::snprintf(spec.path, sizeof spec.path, "%s", path.c_str());
    int16_t ref = 0;
    Movie movie = nullptr;
    if (CreateMovieFile(&spec, FOUR_CHAR_CODE("TVOD"), 0, createMovieFileDeleteCurFile, &ref, &movie) !=
        noErr)
        return false;
    Track track = NewMovieTrack(movie, Long2Fix(64), Long2Fix(64), 0);
    Media media = NewTrackMedia(track, VideoMediaType, 600, nullptr, 0);
    Handle h = NewHandleClear(sizeof(ImageDescription));
    auto* d = reinterpret_cast<ImageDescription*>(*h);
    d->idSize = sizeof(ImageDescription);
    d->cType = FOUR_CHAR_CODE("raw ");
    d->dataRefIndex = 1;
    d->width = 64;
    d->height = 64;
    d->depth = 32;
    d->frameCount = 1;
    std::vector<uint8_t> frame(kFrameBytes + 4);
    bool ok = true;
    for (uint32_t i = 0; i < frames && ok; ++i) {
        std::memset(frame.data(), int(i & 0xFF), frame.size());
        // Sizes that differ from one frame to the next: one table entry and one run per frame.
        const ByteCount size = kFrameBytes + (i & 1) * 4;
        ok = AddMediaSample2(media, frame.data(), size, 20, 0, reinterpret_cast<SampleDescriptionHandle>(h),
                             1, i % 30 ? mediaSampleNotSync : 0, nullptr) == noErr;
    }
    ok = ok && InsertMediaIntoTrack(track, 0, 0, GetMediaDuration(media), fixed1) == noErr;
    ok = ok && AddMovieResource(movie, ref, nullptr, nullptr) == noErr;
    ok = CloseMovieFile(ref) == noErr && ok;
    DisposeHandle(h);
    DisposeMovie(movie);
    return ok;
}

// Child mode: opens the movie, walks its tables once, and tells what it found.
int openMovie(const char* path) {
    const long before = highWaterKB();
    Handle ref = nullptr;
    if (PtrToHand(path, &ref, Size(std::strlen(path) + 1)) != noErr) return 1;
    Movie movie = nullptr;
    const auto start = std::chrono::steady_clock::now();
    const OSErr err = NewMovieFromDataRef(&movie, 0, nullptr, ref, FOUR_CHAR_CODE("alis"));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    DisposeHandle(ref);
    if (err || !movie) {
        std::printf("open failed: %d\n", err);
        return 1;
    }
    const long after = highWaterKB();
    Media media = GetTrackMedia(GetMovieIndTrack(movie, 1));
    wide bytes{};
    GetMediaDataSize64(media, 0, GetMediaDuration(media), &bytes);
    std::printf(
        "tracks %d samples %d data %lld bytes; open %.3f s, VmHWM %ld kB before, %ld kB after (+%ld kB)\n",
        GetMovieTrackCount(movie), GetMediaSampleCount(media),
        (long long)((int64_t(bytes.hi) << 32) | bytes.lo), seconds, before, after, after - before);
    DisposeMovie(movie);
    return 0;
}

std::string firstLine(const fs::path& path) {
    return benchchild::firstLineOf(path.string());
}

void report(const char* who, const Measure& m, const std::string& note) {
    std::printf("%-34s %s peak %8.1f MB   time %7.3f s   %s\n", who, m.ok ? "ok    " : "FAILED", m.peakMB,
                m.seconds, note.c_str());
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--open") == 0) return openMovie(argv[2]);

    const bool temporary = argc < 2;
    std::error_code ec;
    const fs::path dir = temporary
                             ? fs::temp_directory_path() / ("movie-open-bench-" + std::to_string(getpid()))
                             : fs::path(argv[1]);
    const uint32_t frames = argc > 2 ? uint32_t(std::strtoul(argv[2], nullptr, 10)) : 65536;
    if (frames == 0 || frames > (1u << 20)) {
        std::fprintf(stderr, "frames must be 1 to %u\n", 1u << 20);
        return 2;
    }
    fs::create_directories(dir, ec);
    const fs::path file = dir / ("movie-" + std::to_string(frames) + ".mov");
    if (!fs::exists(file)) {
        std::printf("making %s (%u frames of about %u bytes)\n", file.c_str(), frames, kFrameBytes);
        if (!makeFile(file, frames)) {
            std::fprintf(stderr, "could not make the movie file\n");
            return 1;
        }
    }
    std::printf("file %s: %.1f MB\n", file.c_str(), double(fs::file_size(file, ec)) / 1e6);

    const fs::path ours = dir / "ours.txt", probe = dir / "ffprobe.txt", idle = dir / "idle.txt";
    // The same program doing nothing but start: the part of the peak that is not the open.
    const Measure base = benchchild::measure({"/proc/self/exe", "--open", "/nonexistent"}, idle.string(),
                                             benchchild::Streams::outputAndErrors);
    report("this program, start only", {true, base.seconds, base.peakMB}, "");
    const Measure m = benchchild::measure({"/proc/self/exe", "--open", file.string()}, ours.string(),
                                          benchchild::Streams::outputAndErrors);
    report("NewMovieFromDataRef", m, firstLine(ours));
    const Measure p =
        benchchild::measure({"ffprobe", "-v", "error", "-show_streams", "-show_format", file.string()},
                            probe.string(), benchchild::Streams::outputAndErrors);
    report("ffprobe -show_streams -show_format", p, "");
    if (temporary) fs::remove_all(dir, ec);
    return m.ok ? 0 : 1;
}
