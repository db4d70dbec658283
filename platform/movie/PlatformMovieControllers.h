// Movie controllers: components (type 'play') that hold one movie and act on it for a caller,
// as the toolkit's movie and time-range classes use them: the selection, the current time, going
// to a time, stepping, the play rate and looping, and the notice that the movie was changed.
//
// - A controller is a component instance of the component manager: NewMovieController opens one
//   (OpenDefaultComponent('play', 0) works too, with no movie yet) and DisposeMovieController or
//   CloseComponent closes it. Calls on an unknown or closed instance answer badComponentInstance
//   (or null, 0 and false where the call answers a value) and never dereference it.
// - The controller draws nothing: there is no controller bar and no window here. The rectangle
//   given when it is made is kept; clicks, keys and drawing actions are not answered.
// - The controller borrows its movie and never disposes of it. A movie disposed of under a
//   controller makes the calls that reach it answer invalidMovie.
// - The selection is the movie's own (SetMovieSelection): the controller reads and sets it in
//   the movie's time scale. Editing is off on a new controller (MCEnableEditing).
// - The play rate and looping are kept with the controller; the movie's own clock runs it.
// - Every call is safe from any thread.
#pragma once

#include "PlatformMovies.h"
#include "PlatformTimeBase.h"

struct OpaqueWindowPtr;
using WindowRef = OpaqueWindowPtr*;

constexpr OSType MovieControllerComponentType = FOUR_CHAR_CODE("play");

// Flags of NewMovieController: kept, and answered by the get-flags action.
enum : int32_t {
    mcTopLeftMovie = 1 << 0,
    mcScaleMovieToFit = 1 << 1,
    mcWithBadge = 1 << 2,
    mcNotVisible = 1 << 3,
    mcWithFrame = 1 << 4
};

// Actions of MCDoAction, with what `params` is for each: the value itself for a rate (Fixed), a
// step count (int32_t) and a flag (Boolean); a pointer for the rest.
enum : int16_t {
    mcActionIdle = 1,                  // none: as MCIdle
    mcActionPlay = 8,                  // Fixed rate as the pointer's value; 0 stops
    mcActionGoToTime = 12,             // TimeRecord*
    mcActionStep = 18,                 // int32_t steps as the pointer's value (negative: back)
    mcActionSetLooping = 19,           // Boolean as the pointer's value
    mcActionGetLooping = 20,           // Boolean*
    mcActionSetLoopIsPalindrome = 21,  // Boolean as the pointer's value
    mcActionGetLoopIsPalindrome = 22,  // Boolean*
    mcActionSetSelectionBegin = 25,    // TimeRecord*
    mcActionSetSelectionDuration = 26, // TimeRecord*
    mcActionSetFlags = 33,             // int32_t as the pointer's value
    mcActionGetFlags = 34,             // int32_t*
    mcActionGetPlayRate = 37,          // Fixed*
    mcActionGetSelectionBegin = 53,    // TimeRecord*: the movie's selection start
    mcActionGetSelectionDuration = 54  // TimeRecord*: the movie's selection duration
};

// A new controller of the movie (null: the movies error tells why). `movieRect` may be null.
MovieController NewMovieController(Movie theMovie, const Rect* movieRect, int32_t someFlags);
void DisposeMovieController(MovieController mc);

// Gives the controller a movie (null: none). The window and the point are not used: nothing is
// drawn. invalidMovie for a movie that names nothing.
ComponentResult MCSetMovie(MovieController mc, Movie theMovie, WindowRef movieWindow, Point where);
// The controller's movie for index 0; null for any other index or a controller without one.
Movie MCGetIndMovie(MovieController mc, int16_t index);
// Tells the controller that its movie was changed: it keeps the current time and the selection
// inside the movie. A movie that is not the controller's changes nothing.
ComponentResult MCMovieChanged(MovieController mc, Movie m);

// Whether the selection may be edited through the controller (1 or 0).
int32_t MCIsEditingEnabled(MovieController mc);
ComponentResult MCEnableEditing(MovieController mc, Boolean enabled);

// Answers noErr for an action done; badComponentSelector for an action the controller does not
// answer; paramErr for a null pointer where the action needs one; invalidMovie when the movie
// is gone; the movie's error when setting its time or selection fails.
ComponentResult MCDoAction(MovieController mc, int16_t action, void* params);

// The movie's current time, and its time scale in `scale` (0 without a movie).
TimeValue MCGetCurrentTime(MovieController mc, TimeScale* scale);
// One round of the movie's work (MoviesTask).
ComponentResult MCIdle(MovieController mc);
