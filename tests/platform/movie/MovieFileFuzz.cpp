// Feeds bytes to the movie file reader, as a handle and as a file: opening must give a status,
// never a crash, a hang or an allocation the bytes do not pay for. A movie that opens is walked:
// its tracks, edits, descriptions and a few samples, its data sizes, and a copy through a handle.
#include "PlatformMemory.h"
#include "PlatformMovieFiles.h"
#include "PlatformMovies.h"
#include "PlatformPendingCalls.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void walk(Movie movie) {
    const TimeValue duration = GetMovieDuration(movie);
    wide size{};
    GetMovieDataSize64(movie, 0, duration, &size);
    HasMovieChanged(movie);
    std::vector<uint8_t> buffer;
    for (int32_t i = 1; i <= GetMovieTrackCount(movie) && i <= 8; ++i) {
        Track track = GetMovieIndTrack(movie, i);
        TrackTimeToMediaTime(GetTrackDuration(track) / 2, track);
        GetTrackDataSize64(track, 0, GetTrackDuration(track), &size);
        Media media = GetTrackMedia(track);
        if (!media) continue;
        Handle d = NewHandle(0);
        for (int32_t k = 1; k <= GetMediaSampleDescriptionCount(media) && k <= 4; ++k)
            GetMediaSampleDescription(media, k, reinterpret_cast<SampleDescriptionHandle>(d));
        DisposeHandle(d);
        const int32_t count = GetMediaSampleCount(media);
        for (int32_t k = 1; k <= count && k <= 8; ++k) {
            TimeValue64 time = 0, length = 0;
            SampleNumToMediaDecodeTime(media, k, &time, &length);
            ByteCount bytes = 0;
            if (GetMediaSample2(media, nullptr, 0, &bytes, time, nullptr, nullptr, nullptr, nullptr, nullptr,
                                1, nullptr, nullptr) != noErr ||
                bytes > (1u << 20))
                continue;
            buffer.resize(bytes);
            GetMediaSample2(media, buffer.data(), bytes, &bytes, time, nullptr, nullptr, nullptr, nullptr,
                            nullptr, 1, nullptr, nullptr);
        }
        LoadMediaIntoRam(media, 0, 1000, 0);
    }
    // A copy through a handle reads back.
    Handle h = NewHandle(0);
    if (h && PutMovieIntoHandle(movie, h) == noErr && GetHandleSize(h) < (Size(1) << 22)) {
        Movie copy = nullptr;
        if (NewMovieFromHandle(&copy, h, 0, nullptr) == noErr && copy) DisposeMovie(copy);
    }
    DisposeHandle(h);
}

// The file each input is written to, named for this process; it is removed once the input is
// done, so that a run that ends abruptly leaves nothing behind.
const std::string& scratchPath() {
    static const std::string path = "/tmp/movie-file-fuzz-" + std::to_string(getpid()) + ".mov";
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    Handle h = nullptr;
    if (PtrToHand(data, &h, Size(size)) != noErr) return 0;
    Movie movie = nullptr;
    if (NewMovieFromHandle(&movie, h, 0, nullptr) == noErr && movie) walk(movie);
    if (movie) DisposeMovie(movie);
    DisposeHandle(h);

    // The same bytes as a file, whose samples stay in it.
    const std::string& path = scratchPath();
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return 0;
    const bool written = write(fd, data, size) == ssize_t(size);
    close(fd);
    if (!written) {
        unlink(path.c_str());
        return 0;
    }
    Handle ref = nullptr;
    if (PtrToHand(path.c_str(), &ref, Size(path.size() + 1)) != noErr) {
        unlink(path.c_str());
        return 0;
    }
    movie = nullptr;
    NewMovieFromDataRef(&movie, newMovieDontResolveDataRefs, nullptr, ref, FOUR_CHAR_CODE("alis"));
    if (movie) {
        walk(movie);
        DisposeMovie(movie);
    }
    DisposeHandle(ref);
    unlink(path.c_str());
    return 0;
}
