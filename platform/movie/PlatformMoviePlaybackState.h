// The playback state behind movies, tracks and media (PlatformMovieModel.h's playback slots),
// shared by the playback, drawing, media handler and property sources. Like the records, every
// state is reached under the registry's lock.
#pragma once

#include "PlatformFixed.h"
#include "PlatformMovieModel.h"
#include "PlatformMoviePlayback.h"

#include <vector>

namespace platform::movie {

struct MoviePlayback {
    Movie token = nullptr;
    TimeBase timeBase = nullptr;
    int64_t syncedTime = 0;    // the record's time when it last agreed with the time base
    int64_t stopDuration = -1; // the stop time given to the time base, in `stopScale`
    TimeScale stopScale = 0;
    Fixed preferredRate = fixed1;
    int16_t volume = kFullVolume;
    int16_t preferredVolume = kFullVolume;
    float balance = 0.0f, gain = 1.0f, pitch = 0.0f;
    bool muted = false;
    QTAudioContextRef audioContext = nullptr; // retained
    OSType apertureMode = kQTApertureMode_Classic;
    CGrafPtr port = nullptr;
    GDHandle device = nullptr;
    RgnHandle clip = nullptr; // owned
    // What the last drawing drew, to tell whether MoviesTask must draw again.
    std::vector<int64_t> drawn;
    bool redraw = true;
    ~MoviePlayback();
};

struct TrackPlayback {
    Track token = nullptr;
    RgnHandle clip = nullptr; // owned
    OSErr status = noErr;
    bool muted = false;
    float balance = 0.0f, gain = 1.0f, pitch = 0.0f;
    bool hasApertureModes = false;
    FixedPoint classic{}, clean{}, production{}, encoded{};
    ~TrackPlayback();
};

struct MediaPlayback {
    MediaHandler handler = nullptr;
    int32_t graphicsMode = 64; // ditherCopy
    RGBColor opColor{0x8000, 0x8000, 0x8000};
    int32_t playHints = 0;
    int16_t soundBalance = 0;
    // Frames drawn since the statistics were reset, and the clock's readings at the first and
    // latest of them.
    int64_t frames = 0;
    int64_t firstFrameNs = 0, lastFrameNs = 0;
    ~MediaPlayback();
};

// The state of a record, made on first use (null only when memory runs out).
MoviePlayback* playbackOf(MovieRecord& movie);
TrackPlayback* playbackOf(TrackRecord& track);
MediaPlayback* playbackOf(MediaRecord& media);

// Brings the movie's time up to its time base (and the time base's bounds up to the movie).
void syncMovieTime(MovieRecord& movie);

// The media a handler instance belongs to (null when it names none).
MediaRecord* mediaOfHandler(MediaHandler handler);
// Counts a frame drawn from the media for its statistics.
void countDrawnFrame(MediaRecord& media, int64_t nowNs);
// Registers the media handler components once.
void registerMediaHandlers();

} // namespace platform::movie
