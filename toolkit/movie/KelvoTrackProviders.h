// Track providers write samples into a new track of a movie: a provider creates the track and
// its media, opens a media-editing session, adds samples, and when flushed inserts the whole media
// at the end of the track. The simple video provider takes frames that are compressed already;
// the compressing one owns a 32-bit offscreen world that a presentation draws into and compresses
// each frame drawn there through a compression session straight into the media.
//
// The movie stays its owner's. The track and media belong to the movie once created; a provider
// destroyed while editing flushes first, so the samples written so far end up in the track.
//
// The companion plug-in calls the virtual operations by slot: their order below is part of the
// interface.
#pragma once

#include "KelvoCoreObjects.h"
#include "KelvoVideo.h"
#include "PlatformMovies.h"

class Kelvo_DataReference;
class Kelvo_ICMCompressionSession;
class Kelvo_ImgDesc;
class Kelvo_ImgDescComp;
class Kelvo_Movie;
class Kelvo_Rect;

class Kelvo_TrackProvider : public Kelvo_QTObj {
  public:
    // The time scale the presentations' exports give their new tracks.
    static int32_t defaultTimeScale;

    // A null movie, or one without a platform movie: -2010. Parameters that are not a valid
    // instance give their status and leave the provider without a movie; otherwise a clone of them
    // is kept.
    Kelvo_TrackProvider(Kelvo_Movie* movie, Kelvo_QTObj* parameters);
    Kelvo_TrackProvider(const Kelvo_TrackProvider&) = delete;
    Kelvo_TrackProvider& operator=(const Kelvo_TrackProvider&) = delete;
    // Flushes what was added, then deletes the data reference and the parameters. A subclass
    // that needs its own state to flush does so in its own destructor.
    ~Kelvo_TrackProvider() override;

    const char* qtObjName() const override { return "Kelvo_TrackProvider"; }
    // Track and media both created.
    bool qtObjIsValid() override { return _track != nullptr && _media != nullptr; }
    bool qtObjIsValid() const override { return _track != nullptr && _media != nullptr; }
    bool isA(const char* name) const override;

    // Virtual operations after those of Kelvo_QTObj, in slot order.
    // When editing: ends the media edits and, when that succeeds, appends what the session added
    // to the media (all of it after the first session) to the end of the track. Without an editing session
    // nothing happens and the status is kept.
    virtual void FlushMedia();
    // A new clone of the parameters (the caller owns it), or null.
    virtual Kelvo_QTObj* trackParameters();
    // Does nothing.
    virtual void trackParameters(Kelvo_QTObj* parameters);
    virtual uint32_t mediaType() = 0;
    virtual void BeginSession() = 0;
    virtual void EndSession() = 0;

    // Makes the track and its media; returns the media (null on failure, with the movie
    // toolbox's error as status).
    Media createTrack(Fixed width, Fixed height, int32_t timeScale, int16_t volume);
    // A track without size (as a sound track is).
    Media NewTrack(int32_t timeScale, int16_t volume);
    // A visual track of the rectangle's size; an invalid rectangle gives its status.
    Media NewTrack(Kelvo_Rect& rect, int32_t timeScale);
    // Opens a media-editing session (nothing when one is open); -2008 without media.
    void StartSession();
    // Leaves editing and inserts the media's display duration from `mediaTime` at `trackStart`
    // (-1: the end of the track) at rate 1.
    void insertMedia(int32_t trackStart, int32_t mediaTime);

    bool isEditing() const { return _editing != 0; }
    Track track() const { return _track; }
    Media media() const { return _media; }

  protected:
    Movie _movie = nullptr;
    Track _track = nullptr;
    Media _media = nullptr;
    uint8_t _editing = 0;
    Kelvo_DataReference* _dataReference = nullptr;
    Kelvo_QTObj* _parameters = nullptr;
    // The media time at which the open editing session began.
    TimeValue _sessionStart = 0;
};

// Frames handed over ready-made (compressed already) as samples of a new video track.
class Kelvo_TrackVideoSimpleProvider : public Kelvo_TrackProvider {
  public:
    // A track of the description's size in the time scale; the description describes every
    // sample added.
    Kelvo_TrackVideoSimpleProvider(Kelvo_Movie* movie, Kelvo_ImgDesc* desc, int32_t timeScale);

    const char* qtObjName() const override { return "Kelvo_TrackVideoSimpleProvider"; }
    uint32_t mediaType() override { return VideoMediaType; }
    void BeginSession() override { StartSession(); }
    void EndSession() override { FlushMedia(); }

    // One sample of `size` bytes of the handle's data lasting `duration`; 200 outside an editing
    // session (nothing added), -50 for no data or a size beyond the handle's.
    void addSample(Handle data, int32_t size, int32_t duration, int16_t sampleFlags);
};

// Frames drawn into the provider's 32-bit offscreen world, compressed with the parameters of a
// compression description into the samples of a new video track.
class Kelvo_TrackVideoProvider : public Kelvo_TrackProvider {
  public:
    // A track of the description's active bounds; -50 when they are empty. A session that cannot
    // be made gives its status. The session's parameters take the place of the base's clone.
    Kelvo_TrackVideoProvider(Kelvo_Movie* movie, Kelvo_ImgDescComp* desc, int32_t timeScale);
    // Ends a session still open (its frames reach the track), then deletes the compression
    // session and the offscreen world.
    ~Kelvo_TrackVideoProvider() override;

    const char* qtObjName() const override { return "Kelvo_TrackVideoProvider"; }
    uint32_t mediaType() override { return VideoMediaType; }
    // A new clone of the session's parameters (the caller owns it), or null.
    Kelvo_QTObj* trackParameters() override;
    using Kelvo_TrackProvider::trackParameters;
    // Opens the media edits and the compression session on the offscreen world; 200 when a
    // session is open already. A failure leaves the provider not editing.
    void BeginSession() override;
    // Completes the frames still in the codec, then flushes them into the track.
    void EndSession() override;

    // The duration of every frame, in the track's time scale; 0 on an invalid provider.
    int32_t sampleDuration();
    void sampleDuration(int32_t duration);
    // The offscreen world to draw the next frame into; null without one.
    GWorldPtr dataProvider();
    // Compresses what the offscreen world holds as the next frame (while editing).
    void addSample();

  private:
    Kelvo_QDGWorldBuffer _sourceBuffer{k32ARGBPixelFormat};
    Kelvo_ICMCompressionSession* _session = nullptr;
};
