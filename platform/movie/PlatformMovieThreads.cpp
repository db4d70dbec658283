#include "PlatformMovieThreads.h"

#include "PlatformMovieModel.h"

using namespace platform::movie;

namespace {

// How many times the thread entered the toolbox and has not left it.
thread_local int32_t entered = 0;

// A thread that ends leaves the movies attached to it attached to none: a later thread may come
// to have the same id and must not find them its own.
struct ThreadEnd {
    ~ThreadEnd() {
        std::lock_guard<std::mutex> lock(registry().mutex);
        const std::thread::id self = std::this_thread::get_id();
        for (auto& entry : registry().movies)
            if (entry.second->attachedTo == self) entry.second->attachedTo = std::thread::id();
    }
};

} // namespace

std::thread::id platform::movie::attachingThread() {
    thread_local ThreadEnd end;
    (void)end;
    return std::this_thread::get_id();
}

OSErr EnterMoviesOnThread(uint32_t) {
    if (entered == INT32_MAX) return result(paramErr);
    ++entered;
    return result(noErr);
}

OSErr ExitMoviesOnThread() {
    if (entered == 0) return result(movieToolboxUninitialized);
    --entered;
    return result(noErr);
}

OSErr AttachMovieToCurrentThread(Movie m) {
    return onRecord(m, invalidMovie, [](MovieRecord& movie) {
        if (entered == 0) return result(movieToolboxUninitialized);
        const std::thread::id self = attachingThread();
        if (movie.attachedTo != std::thread::id() && movie.attachedTo != self)
            return result(kQTMovieAttachedToOtherThreadErr);
        movie.attachedTo = self;
        return result(noErr);
    });
}

OSErr DetachMovieFromCurrentThread(Movie m) {
    return onRecord(m, invalidMovie, [](MovieRecord& movie) {
        if (movie.attachedTo != std::this_thread::get_id())
            return result(kQTMovieNotAttachedToCurrentThreadErr);
        movie.attachedTo = std::thread::id();
        return result(noErr);
    });
}

OSErr GetMovieThreadAttachState(Movie m, Boolean* outAttachedToCurrentThread,
                                Boolean* outAttachedToAnyThread) {
    if (outAttachedToCurrentThread) *outAttachedToCurrentThread = false;
    if (outAttachedToAnyThread) *outAttachedToAnyThread = false;
    return onRecord(m, invalidMovie, [&](MovieRecord& movie) {
        if (outAttachedToCurrentThread)
            *outAttachedToCurrentThread = movie.attachedTo == std::this_thread::get_id();
        if (outAttachedToAnyThread) *outAttachedToAnyThread = movie.attachedTo != std::thread::id();
        return result(noErr);
    });
}
