// Movies on threads: entering and leaving the toolbox per thread, and a movie attached to one
// thread at a time, handed from thread to thread.
#include "PlatformMovieThreads.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

struct State {
    Boolean here, any;
};

State stateOf(Movie m) {
    State s{true, true};
    EXPECT_EQ(GetMovieThreadAttachState(m, &s.here, &s.any), noErr);
    return s;
}

template <class F> void onAnotherThread(F&& f) {
    std::thread(std::forward<F>(f)).join();
}

} // namespace

TEST(Movies, EnteringAndLeavingNestPerThread) {
    onAnotherThread([] {
        EXPECT_EQ(ExitMoviesOnThread(), movieToolboxUninitialized);
        EXPECT_EQ(EnterMoviesOnThread(0), noErr);
        EXPECT_EQ(EnterMoviesOnThread(kQTEnterMoviesFlagDontSetComponentsThreadMode), noErr);
        // Another thread's entering counts for it alone.
        onAnotherThread([] { EXPECT_EQ(ExitMoviesOnThread(), movieToolboxUninitialized); });
        EXPECT_EQ(ExitMoviesOnThread(), noErr);
        EXPECT_EQ(ExitMoviesOnThread(), noErr);
        EXPECT_EQ(ExitMoviesOnThread(), movieToolboxUninitialized);
        EXPECT_EQ(GetMoviesError(), movieToolboxUninitialized);
    });
}

TEST(Movies, AMovieIsAttachedToOneThreadAtATime) {
    Movie movie = NewMovie(0);
    ASSERT_NE(movie, nullptr);
    // Made here: attached here.
    State s = stateOf(movie);
    EXPECT_TRUE(s.here);
    EXPECT_TRUE(s.any);

    // Another thread cannot take it while it is attached here, entered or not.
    onAnotherThread([movie] {
        EXPECT_EQ(AttachMovieToCurrentThread(movie), movieToolboxUninitialized);
        ASSERT_EQ(EnterMoviesOnThread(0), noErr);
        EXPECT_EQ(AttachMovieToCurrentThread(movie), kQTMovieAttachedToOtherThreadErr);
        EXPECT_EQ(DetachMovieFromCurrentThread(movie), kQTMovieNotAttachedToCurrentThreadErr);
        const State there = stateOf(movie);
        EXPECT_FALSE(there.here);
        EXPECT_TRUE(there.any);
        EXPECT_EQ(ExitMoviesOnThread(), noErr);
    });

    // Detached, it belongs to no thread, and a second detach is refused.
    EXPECT_EQ(DetachMovieFromCurrentThread(movie), noErr);
    s = stateOf(movie);
    EXPECT_FALSE(s.here);
    EXPECT_FALSE(s.any);
    EXPECT_EQ(DetachMovieFromCurrentThread(movie), kQTMovieNotAttachedToCurrentThreadErr);

    // Handed on: the other thread attaches it (twice is once), and this one cannot detach it.
    bool attached = false, detached = false;
    onAnotherThread([&] {
        ASSERT_EQ(EnterMoviesOnThread(0), noErr);
        EXPECT_EQ(AttachMovieToCurrentThread(movie), noErr);
        EXPECT_EQ(AttachMovieToCurrentThread(movie), noErr);
        attached = stateOf(movie).here;
        onAnotherThread([movie] {
            EXPECT_EQ(DetachMovieFromCurrentThread(movie), kQTMovieNotAttachedToCurrentThreadErr);
        });
        detached = DetachMovieFromCurrentThread(movie) == noErr;
        EXPECT_EQ(ExitMoviesOnThread(), noErr);
    });
    EXPECT_TRUE(attached);
    EXPECT_TRUE(detached);

    // And back here.
    ASSERT_EQ(EnterMoviesOnThread(0), noErr);
    EXPECT_EQ(AttachMovieToCurrentThread(movie), noErr);
    EXPECT_TRUE(stateOf(movie).here);
    EXPECT_EQ(ExitMoviesOnThread(), noErr);
    DisposeMovie(movie);

    // A movie that is gone is none of these.
    Boolean here = true, any = true;
    EXPECT_EQ(GetMovieThreadAttachState(movie, &here, &any), invalidMovie);
    EXPECT_FALSE(here);
    EXPECT_FALSE(any);
    EXPECT_EQ(DetachMovieFromCurrentThread(movie), invalidMovie);
    EnterMoviesOnThread(0);
    EXPECT_EQ(AttachMovieToCurrentThread(movie), invalidMovie);
    ExitMoviesOnThread();
}
