// Movies on threads. A thread that works with movies enters the movie toolbox for itself
// (EnterMoviesOnThread) and leaves it when done (ExitMoviesOnThread), the calls nesting. Every
// movie is attached to at most one thread: the one that made it, until it is detached; a movie
// is handed to another thread by detaching it on the first and attaching it on the second.
// - AttachMovieToCurrentThread: the thread must have entered the toolbox
//   (movieToolboxUninitialized); a movie attached to another thread is refused
//   (kQTMovieAttachedToOtherThreadErr); attaching a movie already attached here does nothing.
// - DetachMovieFromCurrentThread: only a movie attached to this thread
//   (kQTMovieNotAttachedToCurrentThreadErr).
// - ExitMoviesOnThread without a matching EnterMoviesOnThread: movieToolboxUninitialized. Movies
//   still attached to the thread stay attached until the thread ends; then they are attached to
//   none.
// A movie that is not attached to the calling thread can still be used from it: the platform's
// calls are safe from any thread; the attachment says which thread owns the movie.
#pragma once

#include "PlatformMovies.h"

constexpr OSErr movieToolboxUninitialized = -2020;
constexpr OSErr kQTMovieAttachedToOtherThreadErr = -2208;
constexpr OSErr kQTMovieNotAttachedToCurrentThreadErr = -2209;

// Flags of EnterMoviesOnThread; none changes anything here.
constexpr uint32_t kQTEnterMoviesFlagDontSetComponentsThreadMode = 1u << 0;

OSErr EnterMoviesOnThread(uint32_t inFlags);
OSErr ExitMoviesOnThread();
OSErr AttachMovieToCurrentThread(Movie m);
OSErr DetachMovieFromCurrentThread(Movie m);
// Whether the movie is attached to the calling thread, and to any thread; invalidMovie for a
// movie that does not exist (both answers false).
OSErr GetMovieThreadAttachState(Movie m, Boolean* outAttachedToCurrentThread,
                                Boolean* outAttachedToAnyThread);
