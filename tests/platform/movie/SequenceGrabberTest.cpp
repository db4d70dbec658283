#include "PlatformComponents.h"
#include "PlatformDataRef.h"
#include "PlatformFixed.h"
#include "PlatformMemory.h"
#include "PlatformMovieFileReader.h"
#include "PlatformMovieFiles.h"
#include "PlatformMovies.h"
#include "PlatformSequenceGrabber.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A movie whose first track is sound and whose second is video, so that the channel must find
// the video one.
Movie sourceMovie() {
    Movie movie = NewMovie(0);
    Track sound = NewMovieTrack(movie, 0, 0, 256);
    NewTrackMedia(sound, SoundMediaType, 44100, nullptr, 0);
    Track video = NewMovieTrack(movie, Long2Fix(32), Long2Fix(16), 0);
    Media media = NewTrackMedia(video, VideoMediaType, 600, nullptr, 0);
    Handle h = NewHandleClear(sizeof(ImageDescription));
    auto* d = reinterpret_cast<ImageDescription*>(*h);
    d->idSize = sizeof(ImageDescription);
    d->cType = FOUR_CHAR_CODE("raw ");
    d->width = 32;
    d->height = 16;
    d->depth = 24;
    d->hRes = d->vRes = Long2Fix(72);
    std::memcpy(d->name + 1, "source", 6);
    d->name[0] = 6;
    const std::vector<uint8_t> frame(32 * 16 * 3, 0x42);
    AddMediaSample2(media, frame.data(), ByteCount(frame.size()), 20, 0,
                    reinterpret_cast<SampleDescriptionHandle>(h), 1, 0, nullptr);
    DisposeHandle(h);
    InsertMediaIntoTrack(video, 0, 0, GetMediaDuration(media), fixed1);
    return movie;
}

std::string bytesOf(Handle h) {
    return h && *h ? std::string(*h, size_t(GetHandleSize(h))) : std::string();
}

struct GrabberFixture : ::testing::Test {
    SeqGrabComponent sg = nullptr;
    void SetUp() override {
        sg = OpenDefaultComponent(SeqGrabComponentType, 0);
        ASSERT_NE(sg, nullptr);
        ASSERT_EQ(SGInitialize(sg), noErr);
    }
    void TearDown() override {
        if (sg) {
            EXPECT_EQ(CloseComponent(sg), noErr);
        }
    }
};

// The channel's description is the source video track's, copied into the caller's handle.
TEST_F(GrabberFixture, VideoChannelDescribesTheSourceMoviesVideo) {
    SGChannel channel = nullptr;
    ASSERT_EQ(SGNewChannel(sg, VideoMediaType, &channel), noErr);
    ASSERT_NE(channel, nullptr);
    ComponentDescription d{};
    ASSERT_EQ(GetComponentInfo(reinterpret_cast<Component>(channel), &d, nullptr, nullptr, nullptr), noErr);
    EXPECT_EQ(d.componentType, SeqGrabChannelType);
    EXPECT_EQ(d.componentSubType, VideoMediaType);

    Handle desc = NewHandle(4);
    EXPECT_EQ(SGGetChannelSampleDescription(channel, desc), seqGrabInfoNotAvailable);

    Movie movie = sourceMovie();
    ASSERT_EQ(platform::sequenceGrabberSetSourceMovie(sg, movie), noErr);
    ASSERT_EQ(SGGetChannelSampleDescription(channel, desc), noErr);
    Handle expected = NewHandle(0);
    GetMediaSampleDescription(GetTrackMedia(GetMovieIndTrack(movie, 2)), 1,
                              reinterpret_cast<SampleDescriptionHandle>(expected));
    ASSERT_EQ(GetMoviesError(), noErr);
    EXPECT_EQ(bytesOf(desc), bytesOf(expected));
    const auto* id = reinterpret_cast<const ImageDescription*>(*desc);
    EXPECT_EQ(id->cType, FOUR_CHAR_CODE("raw "));
    EXPECT_EQ(id->width, 32);
    EXPECT_EQ(id->height, 16);

    EXPECT_EQ(SGGetChannelSampleDescription(channel, nullptr), nilHandleErr);
    // The grabber borrows the movie: once it is gone, the channel says so.
    DisposeMovie(movie);
    EXPECT_EQ(SGGetChannelSampleDescription(channel, desc), invalidMovie);
    EXPECT_EQ(platform::sequenceGrabberSetSourceMovie(sg, movie), invalidMovie);
    EXPECT_EQ(platform::sequenceGrabberSetSourceMovie(nullptr, nullptr), badComponentInstance);
    DisposeHandle(desc);
    DisposeHandle(expected);
}

// A movie file feeds the channel: the grabber opens the file's movie and owns it.
TEST_F(GrabberFixture, VideoChannelFedByAMovieFile) {
    testsupport::ScratchDir dir("grabber-file");
    const std::string path = dir.file("source.mov");
    Movie movie = sourceMovie();
    FSSpec spec{};
    std::snprintf(spec.path, sizeof spec.path, "%s", path.c_str());
    Movie flat = FlattenMovieData(movie, 0, &spec, FOUR_CHAR_CODE("TVOD"), 0, createMovieFileDeleteCurFile);
    ASSERT_NE(flat, nullptr);
    DisposeMovie(flat);
    Handle expected = NewHandle(0);
    GetMediaSampleDescription(GetTrackMedia(GetMovieIndTrack(movie, 2)), 1,
                              reinterpret_cast<SampleDescriptionHandle>(expected));
    // The file's movie numbers its data reference: the description is otherwise the same.
    auto withoutDataRef = [](Handle h) {
        std::string b = bytesOf(h);
        if (b.size() >= 16) b[14] = b[15] = 0;
        return b;
    };

    SGChannel channel = nullptr;
    ASSERT_EQ(SGNewChannel(sg, VideoMediaType, &channel), noErr);
    Handle alias = nullptr;
    ASSERT_EQ(PtrToHand(path.c_str(), &alias, Size(path.size() + 1)), noErr);
    ASSERT_EQ(platform::sequenceGrabberSetSourceDataRef(sg, alias, FOUR_CHAR_CODE("alis")), noErr);
    Handle desc = NewHandle(0);
    ASSERT_EQ(SGGetChannelSampleDescription(channel, desc), noErr);
    EXPECT_EQ(withoutDataRef(desc), bytesOf(expected));

    // A file that is not there leaves the source as it was.
    const std::string missing = dir.file("missing.mov");
    Handle gone = nullptr;
    ASSERT_EQ(PtrToHand(missing.c_str(), &gone, Size(missing.size() + 1)), noErr);
    EXPECT_NE(platform::sequenceGrabberSetSourceDataRef(sg, gone, FOUR_CHAR_CODE("alis")), noErr);
    SetHandleSize(desc, 0);
    EXPECT_EQ(SGGetChannelSampleDescription(channel, desc), noErr);
    EXPECT_EQ(withoutDataRef(desc), bytesOf(expected));
    EXPECT_EQ(platform::sequenceGrabberSetSourceDataRef(sg, nullptr, FOUR_CHAR_CODE("alis")), paramErr);
    EXPECT_EQ(platform::sequenceGrabberSetSourceDataRef(nullptr, alias, FOUR_CHAR_CODE("alis")),
              badComponentInstance);

    // Another source takes the file's place (the grabber disposes of the file's movie), and the
    // file again, which goes with the grabber when it closes.
    EXPECT_EQ(platform::sequenceGrabberSetSourceMovie(sg, movie), noErr);
    EXPECT_EQ(platform::sequenceGrabberSetSourceDataRef(sg, alias, FOUR_CHAR_CODE("alis")), noErr);
    DisposeMovie(movie);
    SetHandleSize(desc, 0);
    EXPECT_EQ(SGGetChannelSampleDescription(channel, desc), noErr);
    EXPECT_EQ(withoutDataRef(desc), bytesOf(expected));
    for (Handle h : {alias, gone, desc, expected})
        DisposeHandle(h);
}

TEST_F(GrabberFixture, OneVideoChannelAndNoOtherKinds) {
    SGChannel video = nullptr, again = nullptr, other = nullptr;
    ASSERT_EQ(SGNewChannel(sg, VideoMediaType, &video), noErr);
    EXPECT_EQ(SGNewChannel(sg, VideoMediaType, &again), noDeviceForChannel);
    EXPECT_EQ(again, nullptr);
    EXPECT_EQ(SGNewChannel(sg, SoundMediaType, &other), noDeviceForChannel);
    EXPECT_EQ(SGNewChannel(sg, TextMediaType, &other), couldntGetRequiredComponent);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(SGNewChannel(sg, VideoMediaType, nullptr), paramErr);

    // A channel belongs to its grabber.
    SeqGrabComponent second = OpenDefaultComponent(SeqGrabComponentType, 0);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(SGDisposeChannel(second, video), badSGChannel);
    EXPECT_EQ(SGDisposeChannel(sg, video), noErr);
    EXPECT_EQ(SGDisposeChannel(sg, video), badSGChannel);
    // With the first gone, a new video channel may be made; closing the grabber closes it.
    ASSERT_EQ(SGNewChannel(second, VideoMediaType, &video), noErr);
    EXPECT_EQ(CloseComponent(second), noErr);
    RgnHandle clip = nullptr;
    EXPECT_EQ(SGGetChannelClip(video, &clip), badComponentInstance);
    EXPECT_EQ(CloseComponent(video), OSErr(badComponentInstance));
}

// Where recording goes is kept as a copy and handed back as a new one, flags as given.
TEST_F(GrabberFixture, DataReferenceRoundTrip) {
    Handle ref = reinterpret_cast<Handle>(1);
    OSType type = 1;
    int32_t flags = 1;
    EXPECT_EQ(SGGetDataRef(sg, &ref, &type, &flags), noErr);
    EXPECT_EQ(ref, nullptr);
    EXPECT_EQ(type, 0u);
    EXPECT_EQ(flags, 0);

    const char path[] = "/tmp/grab.mov";
    Handle mine = nullptr;
    ASSERT_EQ(PtrToHand(path, &mine, sizeof path), noErr);
    EXPECT_EQ(SGSetDataRef(sg, mine, AliasDataHandlerSubType, seqGrabToDisk | seqGrabDontMakeMovie), noErr);
    // The grabber keeps its own copy.
    (*mine)[1] = 'X';
    DisposeHandle(mine);
    ASSERT_EQ(SGGetDataRef(sg, &ref, &type, &flags), noErr);
    ASSERT_NE(ref, nullptr);
    EXPECT_EQ(bytesOf(ref), std::string(path, sizeof path));
    EXPECT_EQ(type, AliasDataHandlerSubType);
    EXPECT_EQ(flags, seqGrabToDisk | seqGrabDontMakeMovie);
    Handle second = nullptr;
    ASSERT_EQ(SGGetDataRef(sg, &second, nullptr, nullptr), noErr);
    EXPECT_NE(second, ref); // each call hands out a handle of its own
    DisposeHandle(ref);
    DisposeHandle(second);

    Handle empty = NewEmptyHandle();
    EXPECT_EQ(SGSetDataRef(sg, empty, AliasDataHandlerSubType, 0), paramErr);
    DisposeHandle(empty);
    EXPECT_EQ(SGSetDataRef(nullptr, nullptr, 0, 0), badComponentInstance);
    EXPECT_EQ(SGGetDataRef(nullptr, &ref, &type, &flags), badComponentInstance);
    EXPECT_EQ(ref, nullptr);
}

// The clip region is a copy both ways: neither the caller's region nor the one handed out is
// the channel's.
TEST_F(GrabberFixture, ChannelClipIsCopiedBothWays) {
    SGChannel channel = nullptr;
    ASSERT_EQ(SGNewChannel(sg, VideoMediaType, &channel), noErr);
    RgnHandle out = reinterpret_cast<RgnHandle>(1);
    EXPECT_EQ(SGGetChannelClip(channel, &out), noErr);
    EXPECT_EQ(out, nullptr);

    RgnHandle rgn = NewRgn();
    SetRectRgn(rgn, 2, 3, 12, 9);
    RgnHandle reference = NewRgn();
    CopyRgn(rgn, reference);
    EXPECT_EQ(SGSetChannelClip(channel, rgn), noErr);
    SetRectRgn(rgn, 0, 0, 1, 1);
    DisposeRgn(rgn);
    ASSERT_EQ(SGGetChannelClip(channel, &out), noErr);
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(EqualRgn(out, reference));
    OffsetRgn(out, 50, 50);
    DisposeRgn(out);
    ASSERT_EQ(SGGetChannelClip(channel, &out), noErr);
    EXPECT_TRUE(EqualRgn(out, reference));
    DisposeRgn(out);

    EXPECT_EQ(SGSetChannelClip(channel, nullptr), noErr);
    EXPECT_EQ(SGGetChannelClip(channel, &out), noErr);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(SGGetChannelClip(channel, nullptr), paramErr);
    int stray = 0;
    EXPECT_EQ(SGSetChannelClip(reinterpret_cast<SGChannel>(&stray), reference), badComponentInstance);
    EXPECT_EQ(SGGetChannelClip(sg, &out), badComponentInstance); // a grabber is not a channel
    DisposeRgn(reference);
}

TEST_F(GrabberFixture, SettingsRoundTripAsUserData) {
    UserData ud = nullptr;
    ASSERT_EQ(SGGetSettings(sg, &ud, 0), noErr);
    ASSERT_NE(ud, nullptr);
    EXPECT_EQ(GetNextUserDataType(ud, 0), 0u);
    DisposeUserData(ud);

    UserData mine = nullptr;
    ASSERT_EQ(NewUserData(&mine), noErr);
    const char a[] = "first", b[] = "second";
    SetUserDataItem(mine, a, sizeof a, FOUR_CHAR_CODE("vide"), 1);
    SetUserDataItem(mine, b, sizeof b, FOUR_CHAR_CODE("vide"), 2);
    SetUserDataItem(mine, a, 3, FOUR_CHAR_CODE("clip"), 1);
    EXPECT_EQ(SGSetSettings(sg, mine, 0), noErr);
    Handle flatMine = NewHandle(0);
    PutUserDataIntoHandle(mine, flatMine);
    DisposeUserData(mine); // the grabber kept a copy

    ASSERT_EQ(SGGetSettings(sg, &ud, 0), noErr);
    Handle flatBack = NewHandle(0);
    PutUserDataIntoHandle(ud, flatBack);
    EXPECT_EQ(bytesOf(flatBack), bytesOf(flatMine));
    // The list handed out is the caller's: changing it changes nothing kept.
    RemoveUserData(ud, FOUR_CHAR_CODE("vide"), 1);
    DisposeUserData(ud);
    ASSERT_EQ(SGGetSettings(sg, &ud, 0), noErr);
    EXPECT_EQ(CountUserDataType(ud, FOUR_CHAR_CODE("vide")), 2);
    DisposeUserData(ud);

    EXPECT_EQ(SGGetSettings(sg, &ud, 1), paramErr);
    EXPECT_EQ(ud, nullptr);
    EXPECT_EQ(SGSetSettings(sg, nullptr, 0), paramErr);
    EXPECT_EQ(SGGetSettings(nullptr, &ud, 0), badComponentInstance);
    EXPECT_EQ(SGSetSettings(nullptr, nullptr, 0), badComponentInstance);
    DisposeHandle(flatMine);
    DisposeHandle(flatBack);
}

} // namespace
