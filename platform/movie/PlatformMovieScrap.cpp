// The scrap of this process: one movie at a time, kept as the bytes PutMovieIntoHandle writes,
// so that the movie on it stays as it was put there whatever happens to the original.
#include "PlatformMovieFileReader.h"
#include "PlatformMovieFileReaderParse.h"

#include "PlatformMemory.h"
#include "PlatformMovieModel.h"
#include "PlatformPendingCalls.h"

#include <mutex>

namespace {

struct Scrap {
    std::mutex mutex;
    Handle movie = nullptr;
};

Scrap& scrap() {
    static auto* s = new Scrap();
    return *s;
}

} // namespace

OSErr PutMovieOnScrap(Movie theMovie, int32_t) {
    Handle h = NewHandle(0);
    if (!h) return platform::movie::result(memFullErr);
    if (OSErr err = PutMovieIntoHandle(theMovie, h)) {
        DisposeHandle(h);
        return platform::movie::result(err);
    }
    Handle old = nullptr;
    {
        std::lock_guard<std::mutex> lock(scrap().mutex);
        old = scrap().movie;
        scrap().movie = h;
    }
    if (old) DisposeHandle(old);
    return platform::movie::result(noErr);
}

Movie NewMovieFromScrap(int32_t newMovieFlags) {
    std::lock_guard<std::mutex> lock(scrap().mutex);
    Handle h = scrap().movie;
    if (!h || !*h) {
        platform::movie::result(noTypeErr);
        return nullptr;
    }
    Movie movie = nullptr;
    const OSErr err = platform::movie::reader::openMemory(reinterpret_cast<const uint8_t*>(*h),
                                                          std::max<Size>(GetHandleSize(h), 0),
                                                          int16_t(newMovieFlags), &movie);
    platform::movie::result(err);
    return movie;
}
