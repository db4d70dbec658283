// Movies of any length: time and peak memory of opening, counting the samples of and stepping
// through movies that ffmpeg makes in the same run, beside ffprobe and ffmpeg on the same files.
//
// - Video: raw 8 x 8 rgb24 frames at 600 frames a second, at 2,000, 20,000 and 200,000 frames.
// - The same at 2,000 and 200,000 frames with 44.1 kHz sound, whose chunks interleave with the
//   frames' (a run of samples per chunk).
// - Sound: 10 minutes of 44.1 kHz mono 16-bit PCM (26,460,000 samples, 53 MB).
//
// Each piece of work runs in a child process of its own (this program again, in a child mode),
// so that its peak resident size is that of the work alone. The children print their own
// figures: the time of the work without the process start, and for stepping the cost of one
// step from the middle of the movie, which should not grow with its length.
//
// Usage: movie_scale_bench [data folder]   (without one a temporary folder, removed after)
// Child modes: movie_scale_bench --open|--count|--refs|--step <file>
#include "ChildPeakMemory.h"
#include "KelvoMedia.h"
#include "KelvoTrack.h"
#include "PlatformFixed.h"
#include "PlatformMemory.h"
#include "PlatformMovieFiles.h"
#include "PlatformMoviePlayback.h"
#include "PlatformMovies.h"
#include "PlatformSystem.h"

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
using Clock = std::chrono::steady_clock;

namespace {

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

Movie openMovie(const char* path, double* seconds) {
    Handle ref = nullptr;
    if (PtrToHand(path, &ref, Size(std::strlen(path) + 1)) != noErr) return nullptr;
    Movie movie = nullptr;
    const auto start = Clock::now();
    const OSErr err = NewMovieFromDataRef(&movie, 0, nullptr, ref, FOUR_CHAR_CODE("alis"));
    *seconds = since(start);
    DisposeHandle(ref);
    return err ? nullptr : movie;
}

// Child mode: one piece of work on the file's first track, its figures on one line.
int child(const std::string& mode, const char* path) {
    EnterMovies();
    double open = 0;
    Movie movie = openMovie(path, &open);
    if (!movie) {
        std::printf("open failed: %d\n", GetMoviesError());
        return 1;
    }
    Track track = GetMovieIndTrack(movie, 1);
    if (mode == "--open") {
        std::printf("open %.4f s, %d samples", open, GetMediaSampleCount(GetTrackMedia(track)));
    } else if (mode == "--count") {
        // The count by next-interesting-time searches, one per sample.
        Kelvo_Track t(track);
        const auto start = Clock::now();
        const int32_t n = t.samplesCount(nullptr);
        std::printf("samplesCount %d in %.4f s", n, since(start));
    } else if (mode == "--refs") {
        Kelvo_Media m(track);
        auto start = Clock::now();
        const double n = m.sampleReferencesCount();
        const double countSeconds = since(start);
        Kelvo_SampleReference* last = m.sampleReference(n - 1);
        start = Clock::now();
        Kelvo_Track t(track);
        const double offset = t.dataOffset();
        std::printf("sampleReferencesCount %.0f in %.4f s, last sample at %.0f, dataOffset %.0f in %.4f s", n,
                    countSeconds, last ? last->offset() : -1.0, offset, since(start));
    } else if (mode == "--step") {
        // Steps from the middle: next sample times of the movie and, while it plays, the time
        // until its next task (what a presentation asks on every tick).
        const TimeValue duration = GetMovieDuration(movie);
        constexpr int kSteps = 2000;
        TimeValue at = duration / 2;
        auto start = Clock::now();
        int steps = 0;
        for (; steps < kSteps; ++steps) {
            TimeValue next = -1;
            GetMovieNextInterestingTime(movie, nextTimeMediaSample, 0, nullptr, at, fixed1, &next, nullptr);
            at = next >= 0 ? next : duration / 2; // past the end: from the middle again
        }
        const double perStep = since(start) / steps;
        SetMovieTimeValue(movie, duration / 2);
        StartMovie(movie);
        start = Clock::now();
        int32_t wait = 0;
        for (int i = 0; i < kSteps; ++i)
            QTGetTimeUntilNextTask(&wait, 600);
        const double perTask = since(start) / kSteps;
        StopMovie(movie);
        std::printf("nextInterestingTime %.2f us/step (%d steps), QTGetTimeUntilNextTask %.2f us",
                    perStep * 1e6, steps, perTask * 1e6);
    }
    std::printf("\n");
    DisposeMovie(movie);
    return 0;
}

std::string firstLine(const fs::path& path) {
    return benchchild::firstLineOf(path.string());
}

void report(const std::string& who, const Measure& m, const std::string& note) {
    std::printf("  %-44s %s peak %7.1f MB  time %7.3f s  %s\n", who.c_str(), m.ok ? "ok    " : "FAILED",
                m.peakMB, m.seconds, note.c_str());
}

bool run(const std::vector<std::string>& args, const fs::path& out) {
    return benchchild::measure(args, out.string(), benchchild::Streams::outputAndErrors).ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && argv[1][0] == '-' && argv[1][1] == '-') return child(argv[1], argv[2]);

    const bool temporary = argc < 2;
    std::error_code ec;
    const fs::path dir = temporary
                             ? fs::temp_directory_path() / ("movie-scale-bench-" + std::to_string(getpid()))
                             : fs::path(argv[1]);
    fs::create_directories(dir, ec);
    const fs::path log = dir / "ffmpeg.txt", out = dir / "out.txt";

    std::vector<std::pair<std::string, fs::path>> files;
    for (int frames : {2000, 20000, 200000}) {
        const fs::path f = dir / ("video-" + std::to_string(frames) + ".mov");
        if (!fs::exists(f) &&
            !run({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=8x8:rate=600",
                  "-frames:v", std::to_string(frames), "-c:v", "rawvideo", "-pix_fmt", "rgb24", f.string()},
                 log)) {
            std::fprintf(stderr, "ffmpeg could not make %s: %s\n", f.c_str(), firstLine(log).c_str());
            return 1;
        }
        files.emplace_back(std::to_string(frames) + " raw frames at 600 fps", f);
    }
    // With sound beside the frames, the chunks of each track interleave: one run per chunk.
    for (int frames : {2000, 200000}) {
        const fs::path f = dir / ("interleaved-" + std::to_string(frames) + ".mov");
        if (!fs::exists(f) &&
            !run({"ffmpeg",    "-v",
                  "error",     "-y",
                  "-f",        "lavfi",
                  "-i",        "testsrc=size=8x8:rate=600",
                  "-f",        "lavfi",
                  "-i",        "sine=sample_rate=44100:duration=" + std::to_string(frames / 600.0),
                  "-frames:v", std::to_string(frames),
                  "-c:v",      "rawvideo",
                  "-pix_fmt",  "rgb24",
                  "-c:a",      "pcm_s16le",
                  "-shortest", f.string()},
                 log)) {
            std::fprintf(stderr, "ffmpeg could not make %s: %s\n", f.c_str(), firstLine(log).c_str());
            return 1;
        }
        files.emplace_back(std::to_string(frames) + " raw frames at 600 fps with 44.1 kHz sound", f);
    }
    const fs::path sound = dir / "sound-10min.mov";
    if (!fs::exists(sound) && !run({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                                    "sine=frequency=440:sample_rate=44100:duration=600", "-ac", "1", "-c:a",
                                    "pcm_s16le", sound.string()},
                                   log)) {
        std::fprintf(stderr, "ffmpeg could not make %s: %s\n", sound.c_str(), firstLine(log).c_str());
        return 1;
    }
    files.emplace_back("10 min 44.1 kHz mono PCM", sound);

    const Measure idle = benchchild::measure({"/proc/self/exe", "--open", "/nonexistent"}, out.string(),
                                             benchchild::Streams::outputAndErrors);
    std::printf("this program, start only: peak %.1f MB, %.3f s\n", idle.peakMB, idle.seconds);
    bool ok = true;
    for (const auto& [name, file] : files) {
        std::printf("%s (%s, %.1f MB)\n", name.c_str(), file.filename().c_str(),
                    double(fs::file_size(file, ec)) / 1e6);
        for (const char* mode : {"--open", "--count", "--refs", "--step"}) {
            const Measure m = benchchild::measure({"/proc/self/exe", mode, file.string()}, out.string(),
                                                  benchchild::Streams::outputAndErrors, 120);
            ok = ok && m.ok;
            report(std::string("ours ") + (mode + 2), m, m.timedOut ? "timed out" : firstLine(out));
        }
        report("ffprobe -show_streams -show_format",
               benchchild::measure({"ffprobe", "-v", "error", "-show_streams", "-show_format", file.string()},
                                   out.string()),
               "");
        const Measure counted =
            benchchild::measure({"ffprobe", "-v", "error", "-count_packets", "-show_entries",
                                 "stream=nb_read_packets", "-of", "csv=p=0", file.string()},
                                out.string());
        report("ffprobe -count_packets", counted, firstLine(out));
        report("ffmpeg -i ... -f null - (demux and decode all)",
               benchchild::measure({"ffmpeg", "-v", "error", "-i", file.string(), "-f", "null", "-"},
                                   out.string()),
               "");
    }
    if (temporary) fs::remove_all(dir, ec);
    return ok ? 0 : 1;
}
