// Reading movie files: files made by ffmpeg open with the tracks, tables and descriptions ffprobe
// reports and give back the very bytes ffmpeg stored; files our writer makes read back to the
// same model; damaged files give a status.
#include "PlatformDataRef.h"
#include "PlatformEndian.h"
#include "PlatformFixed.h"
#include "PlatformMemory.h"
#include "PlatformMovieFiles.h"
#include "PlatformMovieModelExtras.h"
#include "PlatformMoviePlayback.h"
#include "PlatformMovies.h"
#include "PlatformPendingCalls.h"
#include "PlatformProperties.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <unistd.h>
#include <map>
#include <string>
#include <vector>

namespace {

using testsupport::readFile;
using testsupport::run;
using testsupport::ScratchDir;

bool haveFFmpeg() {
    return testsupport::haveCommand("ffmpeg") && testsupport::haveCommand("ffprobe");
}

// Runs ffmpeg quietly; the test fails when it does.
void ffmpeg(const std::string& args) {
    int status = 0;
    run("ffmpeg -v error -y " + args + " </dev/null 2>&1", &status);
    ASSERT_EQ(status, 0) << args;
}

std::map<std::string, std::string> probeStream(const std::string& path, int stream) {
    const std::string out = run("ffprobe -v error -select_streams " + std::to_string(stream) +
                                " -count_packets -show_streams -of default=nw=1 '" + path + "'");
    return testsupport::keyValues(out);
}

Handle aliasOf(const std::string& path) {
    Handle h = nullptr;
    EXPECT_EQ(PtrToHand(path.c_str(), &h, Size(path.size() + 1)), noErr);
    return h;
}

FSSpec specOf(const std::string& path) {
    FSSpec spec{};
    std::snprintf(spec.path, sizeof spec.path, "%s", path.c_str());
    return spec;
}

Movie openPath(const std::string& path, OSErr* err = nullptr, int16_t flags = newMovieActive) {
    Handle ref = aliasOf(path);
    Movie movie = nullptr;
    int16_t id = 0;
    const OSErr e = NewMovieFromDataRef(&movie, flags, &id, ref, FOUR_CHAR_CODE("alis"));
    DisposeHandle(ref);
    if (err) *err = e;
    return movie;
}

// Every sample of the media, in decode order, as one string of bytes.
std::string mediaBytes(Media media) {
    std::string out;
    const int64_t end = GetMediaDecodeDuration(media);
    for (TimeValue64 t = 0; t < end;) {
        ByteCount size = 0;
        TimeValue64 decodeTime = 0, duration = 0;
        ItemCount count = 0;
        if (GetMediaSample2(media, nullptr, 0, &size, t, &decodeTime, &duration, nullptr, nullptr, nullptr,
                            1 << 20, &count, nullptr) != noErr)
            break;
        std::string bytes(size, '\0');
        EXPECT_EQ(GetMediaSample2(media, reinterpret_cast<uint8_t*>(bytes.data()), size, &size, t, nullptr,
                                  nullptr, nullptr, nullptr, nullptr, 1 << 20, &count, nullptr),
                  noErr);
        out += bytes;
        t = decodeTime + TimeValue64(count) * std::max<TimeValue64>(duration, 1);
    }
    return out;
}

Media mediaOfType(Movie movie, OSType type) {
    Track t = GetMovieIndTrackType(movie, 1, type, movieTrackMediaType);
    return t ? GetTrackMedia(t) : nullptr;
}

template <class D> D descriptionOf(Media media, int32_t index = 1) {
    Handle h = NewHandle(0);
    GetMediaSampleDescription(media, index, reinterpret_cast<SampleDescriptionHandle>(h));
    D d{};
    if (GetHandleSize(h) >= Size(sizeof d)) std::memcpy(&d, *h, sizeof d);
    DisposeHandle(h);
    return d;
}

// ---------------------------------------------------------------------------------------------
// Files made by ffmpeg.

struct FFmpegCase {
    const char* name;
    const char* make;      // the inputs and codecs of ffmpeg
    OSType video;          // the video codec's four characters, 0 for none
    const char* rawFormat; // what `-c copy -f` gives for the sound track's samples, null for none
    OSType sound;
    int soundVersion;
};

const FFmpegCase kFFmpegCases[] = {
    {"raw-sowt",
     "-f lavfi -i testsrc=size=16x8:rate=5:duration=1 -f lavfi -i sine=sample_rate=8000:duration=1 "
     "-ac 2 -c:v rawvideo -pix_fmt rgb24 -c:a pcm_s16le",
     FOUR_CHAR_CODE("raw "), "s16le", FOUR_CHAR_CODE("sowt"), 0},
    {"mjpeg-twos",
     "-f lavfi -i testsrc=size=32x16:rate=10:duration=1 -f lavfi -i sine=sample_rate=11025:duration=1 "
     "-c:v mjpeg -c:a pcm_s16be",
     FOUR_CHAR_CODE("jpeg"), "s16be", FOUR_CHAR_CODE("twos"), 0},
    {"png", "-f lavfi -i testsrc=size=16x16:rate=4:duration=1 -c:v png", FOUR_CHAR_CODE("png "), nullptr, 0,
     0},
    {"lpcm-v2", "-f lavfi -i sine=sample_rate=96000:duration=0.5 -c:a pcm_s16le", 0, "s16le",
     FOUR_CHAR_CODE("lpcm"), 2},
    {"in24-v1", "-f lavfi -i sine=sample_rate=8000:duration=0.5 -c:a pcm_s24le", 0, "s24le",
     FOUR_CHAR_CODE("in24"), 1},
};

class FFmpegFiles : public ::testing::TestWithParam<FFmpegCase> {};

TEST_P(FFmpegFiles, OpenWithTheirTablesAndGiveBackTheStoredBytes) {
    if (!haveFFmpeg()) GTEST_SKIP() << "ffmpeg missing";
    const FFmpegCase& c = GetParam();
    ScratchDir dir("mreader-ff");
    const std::string file = dir.file("in.mov");
    ffmpeg(std::string(c.make) + " '" + file + "'");

    OSErr err = noErr;
    Movie movie = openPath(file, &err);
    ASSERT_EQ(err, noErr);
    ASSERT_NE(movie, nullptr);
    EXPECT_FALSE(HasMovieChanged(movie));
    EXPECT_EQ(GetMovieTrackCount(movie), (c.video ? 1 : 0) + (c.sound ? 1 : 0));
    int stream = 0;
    if (c.video) {
        const auto probe = probeStream(file, stream++);
        Media media = mediaOfType(movie, VideoMediaType);
        ASSERT_NE(media, nullptr);
        EXPECT_EQ(std::to_string(GetMediaSampleCount(media)), probe.at("nb_read_packets"));
        const auto d = descriptionOf<ImageDescription>(media);
        EXPECT_EQ(d.cType, c.video);
        EXPECT_EQ(std::to_string(d.width), probe.at("width"));
        EXPECT_EQ(std::to_string(d.height), probe.at("height"));
        // The track lasts what ffprobe says, in the movie's scale.
        const double seconds = double(GetMovieDuration(movie)) / GetMovieTimeScale(movie);
        EXPECT_NEAR(seconds, std::stod(probe.at("duration")), 0.01);
        ffmpeg("-i '" + file + "' -map 0:v -c copy -f rawvideo '" + dir.file("v.bin") + "'");
        EXPECT_EQ(mediaBytes(media), readFile(dir.file("v.bin")));
    }
    if (c.sound) {
        const auto probe = probeStream(file, stream++);
        Media media = mediaOfType(movie, SoundMediaType);
        ASSERT_NE(media, nullptr);
        const auto d = descriptionOf<SoundDescription>(media);
        EXPECT_EQ(d.dataFormat, c.sound);
        EXPECT_EQ(d.version, c.soundVersion);
        EXPECT_EQ(std::to_string(GetMediaTimeScale(media)), probe.at("sample_rate"));
        EXPECT_EQ(GetMediaDecodeDuration(media), std::stoll(probe.at("duration_ts")));
        ffmpeg("-i '" + file + "' -map 0:a -c copy -f " + c.rawFormat + " '" + dir.file("a.bin") + "'");
        const std::string expected = readFile(dir.file("a.bin"));
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(mediaBytes(media), expected);
    }
    DisposeMovie(movie);
}

INSTANTIATE_TEST_SUITE_P(Peers, FFmpegFiles, ::testing::ValuesIn(kFFmpegCases), [](const auto& info) {
    std::string n = info.param.name;
    for (char& ch : n)
        if (ch == '-') ch = '_';
    return n;
});

// Old writers count sound samples as one byte each; the description tells the bytes per frame.
TEST(MovieFileRead, SoundTablesOfOneByteSamplesTakeTheFrameSize) {
    if (!haveFFmpeg()) GTEST_SKIP() << "ffmpeg missing";
    ScratchDir dir("mreader-old-sound");
    const std::string file = dir.file("s.mov");
    ffmpeg("-f lavfi -i sine=sample_rate=8000:duration=0.5 -ac 2 -c:a pcm_s16le '" + file + "'");
    ffmpeg("-i '" + file + "' -map 0:a -c copy -f s16le '" + dir.file("a.bin") + "'");
    std::string bytes = readFile(file);
    const size_t at = bytes.find("stsz");
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(platform::loadBE32(bytes.data() + at + 8), 4u);
    platform::storeBE32(reinterpret_cast<uint8_t*>(&bytes[at + 8]), 1);
    testsupport::writeFile(file, bytes);
    Movie movie = openPath(file);
    ASSERT_NE(movie, nullptr);
    EXPECT_EQ(mediaBytes(mediaOfType(movie, SoundMediaType)), readFile(dir.file("a.bin")));
    DisposeMovie(movie);
}

// ---------------------------------------------------------------------------------------------
// Round trips through our writer.

SampleDescriptionHandle imageDescription(OSType codec, int16_t w, int16_t h) {
    Handle d = NewHandleClear(sizeof(ImageDescription) + 12);
    auto* id = reinterpret_cast<ImageDescription*>(*d);
    id->idSize = sizeof(ImageDescription) + 12;
    id->cType = codec;
    id->dataRefIndex = 1;
    id->width = w;
    id->height = h;
    id->hRes = id->vRes = Long2Fix(72);
    id->frameCount = 1;
    id->depth = 24;
    id->clutID = -1;
    // An extension atom, kept as it is (big-endian).
    uint8_t* ext = reinterpret_cast<uint8_t*>(*d) + sizeof(ImageDescription);
    platform::storeBE32(ext, 12);
    platform::storeBE32(ext + 4, FOUR_CHAR_CODE("fiel"));
    platform::storeBE32(ext + 8, 0x01000000);
    return reinterpret_cast<SampleDescriptionHandle>(d);
}

SampleDescriptionHandle soundDescription() {
    Handle d = NewHandleClear(sizeof(SoundDescription));
    auto* sd = reinterpret_cast<SoundDescription*>(*d);
    sd->descSize = sizeof(SoundDescription);
    sd->dataFormat = FOUR_CHAR_CODE("twos");
    sd->dataRefIndex = 1;
    sd->numChannels = 2;
    sd->sampleSize = 16;
    sd->sampleRate = uint32_t(8000) << 16;
    return reinterpret_cast<SampleDescriptionHandle>(d);
}

void addUserText(UserData ud, OSType type, const std::string& text) {
    Handle h = nullptr;
    PtrToHand(text.data(), &h, Size(text.size()));
    AddUserData(ud, h, type);
    DisposeHandle(h);
}

// A movie of two tracks exercising what the tables hold: sizes that vary, sync and non-sync
// samples, display offsets, two descriptions, edits with a gap and a rate, an alternate group,
// a track reference, user data of the movie and of a track.
Movie makeRichMovie(Movie movie) {
    SetMovieTimeScale(movie, 1000);
    Track video = NewMovieTrack(movie, Long2Fix(8), Long2Fix(4), 0);
    Media vm = NewTrackMedia(video, VideoMediaType, 30, nullptr, 0);
    SampleDescriptionHandle d1 = imageDescription(FOUR_CHAR_CODE("raw "), 8, 4);
    SampleDescriptionHandle d2 = imageDescription(FOUR_CHAR_CODE("jpeg"), 8, 4);
    for (int i = 0; i < 12; ++i) {
        std::vector<uint8_t> frame(size_t(20 + (i % 3) * 7), uint8_t(i * 11));
        EXPECT_EQ(AddMediaSample2(vm, frame.data(), ByteCount(frame.size()), 2, i % 4 == 1 ? 4 : 0,
                                  i < 8 ? d1 : d2, 1, i % 4 == 0 ? 0 : mediaSampleNotSync, nullptr),
                  noErr);
    }
    EXPECT_EQ(InsertMediaIntoTrack(video, 0, 0, 10, fixed1), noErr);
    EXPECT_EQ(InsertEmptyTrackSegment(video, GetTrackDuration(video), 100), noErr);
    EXPECT_EQ(InsertMediaIntoTrack(video, -1, 10, 12, 2 * fixed1), noErr);
    MatrixRecord m;
    SetIdentityMatrix(&m);
    TranslateMatrix(&m, Long2Fix(5), Long2Fix(-3));
    SetTrackMatrix(video, &m);
    SetTrackLayer(video, -2);

    Track sound = NewMovieTrack(movie, 0, 0, 0x100);
    Media sm = NewTrackMedia(sound, SoundMediaType, 8000, nullptr, 0);
    SampleDescriptionHandle sd = soundDescription();
    std::vector<uint8_t> pcm(4000 * 4);
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = uint8_t(i * 7);
    EXPECT_EQ(AddMediaSample2(sm, pcm.data(), ByteCount(pcm.size()), 1, 0, sd, 4000, 0, nullptr), noErr);
    EXPECT_EQ(InsertMediaIntoTrack(sound, 0, 0, 4000, fixed1), noErr);
    SetTrackEnabled(sound, false);

    Track alt = NewMovieTrack(movie, Long2Fix(8), Long2Fix(4), 0);
    SetTrackAlternate(alt, video);
    int32_t index = 0;
    EXPECT_EQ(AddTrackReference(sound, video, FOUR_CHAR_CODE("sync"), &index), noErr);

    addUserText(GetMovieUserData(movie), FOUR_CHAR_CODE("\xA9nam"), "a name");
    addUserText(GetMovieUserData(movie),
                FOUR_CHAR_CODE("\xA9"
                               "cmt"),
                "one");
    addUserText(GetMovieUserData(movie),
                FOUR_CHAR_CODE("\xA9"
                               "cmt"),
                "two");
    addUserText(GetTrackUserData(video), FOUR_CHAR_CODE("name"), "video");
    SetMovieSelection(movie, 10, 20);
    SetMoviePosterTime(movie, 30);
    SetMoviePreferredRate(movie, fixed1 * 3 / 2);
    SetMoviePreferredVolume(movie, 0x80);
    SetTrackLoadSettings(sound, 100, -1, 2, 1 << 8);
    for (auto h : {d1, d2, sd})
        DisposeHandle(reinterpret_cast<Handle>(h));
    return movie;
}

// Writes makeRichMovie's movie into a new movie file at the path; `movie` receives it, for the
// caller to dispose of.
void writeRichMovieFile(const std::string& path, Movie* movie) {
    FSSpec spec = specOf(path);
    int16_t ref = 0;
    ASSERT_EQ(CreateMovieFile(&spec, 0, 0, createMovieFileDeleteCurFile, &ref, movie), noErr);
    makeRichMovie(*movie);
    ASSERT_EQ(AddMovieResource(*movie, ref, nullptr, nullptr), noErr);
    ASSERT_EQ(CloseMovieFile(ref), noErr);
}

// What a movie holds, as text, so that two models compare at a glance.
std::string describe(Movie movie) {
    std::string s;
    auto add = [&](const std::string& k, int64_t v) { s += k + "=" + std::to_string(v) + " "; };
    add("scale", GetMovieTimeScale(movie));
    add("duration", GetMovieDuration(movie));
    TimeValue a = 0, b = 0;
    GetMovieSelection(movie, &a, &b);
    add("sel", a);
    add("seldur", b);
    add("poster", GetMoviePosterTime(movie));
    add("prate", GetMoviePreferredRate(movie));
    add("pvol", GetMoviePreferredVolume(movie));
    Handle item = NewHandle(0);
    for (OSType type = GetNextUserDataType(GetMovieUserData(movie), 0); type;
         type = GetNextUserDataType(GetMovieUserData(movie), type))
        for (int16_t i = 1; i <= CountUserDataType(GetMovieUserData(movie), type); ++i) {
            GetUserData(GetMovieUserData(movie), item, type, i);
            s += "ud:" + std::string(*item, size_t(GetHandleSize(item))) + " ";
        }
    for (int32_t i = 1; i <= GetMovieTrackCount(movie); ++i) {
        Track t = GetMovieIndTrack(movie, i);
        s += "\ntrack ";
        add("id", GetTrackID(t));
        add("enabled", GetTrackEnabled(t));
        add("layer", GetTrackLayer(t));
        add("volume", GetTrackVolume(t));
        add("alt", GetTrackID(GetTrackAlternate(t)));
        add("refs", GetTrackReferenceCount(t, FOUR_CHAR_CODE("sync")));
        TimeValue preload = 0, preloadFor = 0;
        int32_t preloadFlags = 0, hints = 0;
        GetTrackLoadSettings(t, &preload, &preloadFor, &preloadFlags, &hints);
        for (int32_t v : {preload, preloadFor, preloadFlags, hints})
            add("load", v);
        Fixed w = 0, h = 0;
        GetTrackDimensions(t, &w, &h);
        add("w", w);
        add("h", h);
        MatrixRecord m;
        GetTrackMatrix(t, &m);
        add("tx", m.matrix[2][0]);
        add("duration", GetTrackDuration(t));
        add("offset", GetTrackOffset(t));
        for (TimeValue at = 0; at < GetTrackDuration(t); at += 7) {
            add("mt", TrackTimeToMediaTime(at, t));
            add("rate", GetTrackEditRate(t, at));
        }
        UserData tud = GetTrackUserData(t);
        if (CountUserDataType(tud, FOUR_CHAR_CODE("name")) > 0) {
            GetUserData(tud, item, FOUR_CHAR_CODE("name"), 1);
            s += "name:" + std::string(*item, size_t(GetHandleSize(item))) + " ";
        }
        Media md = GetTrackMedia(t);
        if (!md) continue;
        add("mscale", GetMediaTimeScale(md));
        add("count", GetMediaSampleCount(md));
        add("descs", GetMediaSampleDescriptionCount(md));
        for (int32_t k = 1; k <= GetMediaSampleDescriptionCount(md); ++k) {
            Handle d = NewHandle(0);
            GetMediaSampleDescription(md, k, reinterpret_cast<SampleDescriptionHandle>(d));
            std::string bytes(*d, size_t(GetHandleSize(d)));
            // The data reference index is the file's to number.
            if (bytes.size() >= 16) bytes[14] = bytes[15] = 0;
            for (unsigned char ch : bytes)
                s += "0123456789abcdef"[ch >> 4];
            s += " ";
            DisposeHandle(d);
        }
        const int64_t n = std::min<int64_t>(GetMediaSampleCount(md), 20);
        for (int64_t k = 1; k <= n; ++k) {
            TimeValue64 time = 0, duration = 0;
            SampleNumToMediaDecodeTime(md, k, &time, &duration);
            add("t", time);
            add("d", duration);
            int64_t number = 0;
            TimeValue64 shown = 0, shownFor = 0;
            MediaDisplayTimeToSampleNum(md, time, &number, &shown, &shownFor);
            add("disp", shown);
            uint32_t flags = 0;
            ByteCount size = 0;
            GetMediaSample2(md, nullptr, 0, &size, time, nullptr, nullptr, nullptr, nullptr, nullptr, 1,
                            nullptr, &flags);
            add("size", size);
            add("flags", flags);
        }
        s += "bytes:" + std::to_string(std::hash<std::string>()(mediaBytes(md)));
    }
    DisposeHandle(item);
    return s;
}

TEST(MovieFileRead, FilesOurWriterWritesReadBackToTheSameModel) {
    ScratchDir dir("mreader-rt");
    const std::string path = dir.file("rich.mov");
    FSSpec spec = specOf(path);
    int16_t ref = 0;
    Movie movie = nullptr;
    ASSERT_EQ(CreateMovieFile(&spec, FOUR_CHAR_CODE("TVOD"), 0, createMovieFileDeleteCurFile | newMovieActive,
                              &ref, &movie),
              noErr);
    makeRichMovie(movie);
    EXPECT_TRUE(HasMovieChanged(movie));
    int16_t resId = 0;
    ASSERT_EQ(AddMovieResource(movie, ref, &resId, nullptr), noErr);
    EXPECT_FALSE(HasMovieChanged(movie));
    ASSERT_EQ(CloseMovieFile(ref), noErr);
    const std::string expected = describe(movie);

    // Through a file number, a data reference, and properties.
    ASSERT_EQ(OpenMovieFile(&spec, &ref, fsRdPerm), noErr);
    Movie back = nullptr;
    resId = 0;
    Boolean changed = true;
    ASSERT_EQ(NewMovieFromFile(&back, ref, &resId, nullptr, newMovieActive, &changed), noErr);
    EXPECT_EQ(resId, movieInDataForkResID);
    EXPECT_FALSE(changed);
    EXPECT_EQ(describe(back), expected);
    EXPECT_FALSE(HasMovieChanged(back));
    // A file opened for reading takes no movie.
    EXPECT_EQ(UpdateMovieResource(back, ref, resId, nullptr), wrPermErr);
    EXPECT_EQ(CloseMovieFile(ref), noErr);
    DisposeMovie(back);

    // Into a handle and back: the samples come along, the handle may go.
    Handle h = NewHandle(0);
    ASSERT_EQ(PutMovieIntoHandle(movie, h), noErr);
    ASSERT_EQ(NewMovieFromHandle(&back, h, newMovieActive, nullptr), noErr);
    DisposeHandle(h);
    EXPECT_EQ(describe(back), expected);
    DisposeMovie(back);

    // Flattened: its movie atom first.
    FSSpec flat = specOf(dir.file("flat.mov"));
    back = FlattenMovieData(movie, 0, &flat, FOUR_CHAR_CODE("TVOD"), 0, createMovieFileDeleteCurFile);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(describe(back), expected);
    DisposeMovie(back);
    DisposeMovie(movie);
}

// Times past 32 bits take the 64-bit forms of the headers and the edit list.
TEST(MovieFileRead, LongTimesReadBackFromTheirWideHeaders) {
    Movie movie = NewMovie(newMovieActive);
    SetMovieTimeScale(movie, 1000000);
    Track t = NewMovieTrack(movie, Long2Fix(8), Long2Fix(4), 0);
    Media m = NewTrackMedia(t, VideoMediaType, 1, nullptr, 0);
    SampleDescriptionHandle d = imageDescription(FOUR_CHAR_CODE("raw "), 8, 4);
    uint8_t frame[16] = {1, 2, 3};
    // Each sample's duration fits the table's 32 bits; their sum does not.
    ASSERT_EQ(AddMediaSample2(m, frame, sizeof frame, 4000000000LL, 0, d, 1, 0, nullptr), noErr);
    ASSERT_EQ(AddMediaSample2(m, frame, sizeof frame, 4000000000LL, 0, d, 1, 0, nullptr), noErr);
    ASSERT_EQ(AddMediaSample2(m, frame, sizeof frame, 7, 0, d, 1, 0, nullptr), noErr);
    ASSERT_EQ(InsertMediaIntoTrack(t, 0, 0, 5000, fixed1), noErr);
    Handle h = NewHandle(0);
    ASSERT_EQ(PutMovieIntoHandle(movie, h), noErr);
    Movie back = nullptr;
    ASSERT_EQ(NewMovieFromHandle(&back, h, 0, nullptr), noErr);
    EXPECT_EQ(GetMovieDuration64(back), GetMovieDuration64(movie));
    EXPECT_GT(GetMovieDuration64(back), int64_t(UINT32_MAX));
    Media bm = GetTrackMedia(GetMovieIndTrack(back, 1));
    EXPECT_EQ(GetMediaDecodeDuration(bm), 8000000007LL);
    TimeValue64 time = 0, duration = 0;
    SampleNumToMediaDecodeTime(bm, 3, &time, &duration);
    EXPECT_EQ(time, 8000000000LL);
    EXPECT_EQ(duration, 7);
    EXPECT_EQ(TrackTimeToMediaDisplayTime(4999999999LL, GetMovieIndTrack(back, 1)), 4999);
    DisposeHandle(h);
    DisposeHandle(reinterpret_cast<Handle>(d));
    DisposeMovie(back);
    DisposeMovie(movie);
}

// The changed state follows what a file would hold; playing is no change.
TEST(MovieFileRead, ChangesAreWhatTheFileWouldHold) {
    Movie movie = NewMovie(newMovieActive);
    EXPECT_FALSE(HasMovieChanged(movie));
    Track t = NewMovieTrack(movie, Long2Fix(8), Long2Fix(4), 0);
    EXPECT_TRUE(HasMovieChanged(movie));
    ClearMovieChanged(movie);
    EXPECT_FALSE(HasMovieChanged(movie));
    Media m = NewTrackMedia(t, VideoMediaType, 600, nullptr, 0);
    SampleDescriptionHandle d = imageDescription(FOUR_CHAR_CODE("raw "), 8, 4);
    uint8_t frame[96] = {};
    AddMediaSample2(m, frame, sizeof frame, 60, 0, d, 1, 0, nullptr);
    InsertMediaIntoTrack(t, 0, 0, 60, fixed1);
    ClearMovieChanged(movie);
    SetMovieTimeValue(movie, 30);
    EXPECT_FALSE(HasMovieChanged(movie));
    for (auto change : std::vector<void (*)(Movie, Track)>{
             [](Movie mv, Track) { SetMovieSelection(mv, 1, 2); },
             [](Movie, Track tr) { SetTrackLayer(tr, 3); },
             [](Movie mv, Track) { addUserText(GetMovieUserData(mv), FOUR_CHAR_CODE("abcd"), "x"); },
             [](Movie, Track tr) { DeleteTrackSegment(tr, 0, 10); },
         }) {
        ClearMovieChanged(movie);
        change(movie, t);
        EXPECT_TRUE(HasMovieChanged(movie));
    }
    EXPECT_FALSE(HasMovieChanged(nullptr));
    EXPECT_EQ(GetMoviesError(), invalidMovie);
    DisposeHandle(reinterpret_cast<Handle>(d));
    DisposeMovie(movie);
}

// The toolkit's flush: an existing file opened as a storage for writing takes the new movie; the
// file stays one ffmpeg reads, whether its movie atom came last (ffmpeg's layout) or first.
TEST(MovieFileRead, UpdatingAnExistingFileKeepsItReadable) {
    if (!haveFFmpeg()) GTEST_SKIP() << "ffmpeg missing";
    ScratchDir dir("mreader-upd");
    const std::string last = dir.file("last.mov"), first = dir.file("first.mov");
    ffmpeg("-f lavfi -i testsrc=size=16x8:rate=5:duration=1 -c:v rawvideo -pix_fmt rgb24 '" + last + "'");
    ffmpeg("-i '" + last + "' -c copy -movflags +faststart '" + first + "'");
    const std::string frames = run("ffmpeg -v error -i '" + last + "' -map 0:v -c copy -f rawvideo -");
    for (const std::string& path : {last, first}) {
        SCOPED_TRACE(path);
        Movie movie = openPath(path);
        ASSERT_NE(movie, nullptr);
        // A text item: its length, its language, its text.
        addUserText(GetMovieUserData(movie),
                    FOUR_CHAR_CODE("\xA9"
                                   "cmt"),
                    std::string("\0\7\0\0updated", 11));
        SetTrackLayer(GetMovieIndTrack(movie, 1), 1);
        ASSERT_TRUE(HasMovieChanged(movie));
        Handle ref = aliasOf(path);
        DataHandler dh = nullptr;
        ASSERT_EQ(OpenMovieStorage(ref, FOUR_CHAR_CODE("alis"), kDataHCanRead | kDataHCanWrite, &dh), noErr);
        ASSERT_EQ(UpdateMovieInStorage(movie, dh), noErr);
        EXPECT_FALSE(HasMovieChanged(movie));
        ASSERT_EQ(CloseMovieStorage(dh), noErr);
        DisposeHandle(ref);
        const std::string expected = describe(movie);
        DisposeMovie(movie);

        Movie back = openPath(path);
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(describe(back), expected);
        DisposeMovie(back);
        // ffmpeg still finds every frame, and the comment.
        EXPECT_EQ(run("ffmpeg -v error -i '" + path + "' -map 0:v -c copy -f rawvideo -"), frames);
        EXPECT_NE(run("ffprobe -v error -show_format '" + path + "'").find("updated"), std::string::npos);
    }
}

// A movie file opened by number for writing takes its updated movie; a second writer is refused.
TEST(MovieFileRead, AFileOpenForWritingTakesItsUpdatedMovie) {
    ScratchDir dir("mreader-rw");
    FSSpec spec = specOf(dir.file("m.mov"));
    Movie movie = nullptr;
    ASSERT_NO_FATAL_FAILURE(writeRichMovieFile(spec.path, &movie));
    DisposeMovie(movie);

    int16_t ref = 0;

    ASSERT_EQ(OpenMovieFile(&spec, &ref, fsRdWrPerm), noErr);
    int16_t other = 0;
    EXPECT_EQ(OpenMovieFile(&spec, &other, fsRdWrPerm), fBsyErr);
    int16_t resId = 0;
    ASSERT_EQ(NewMovieFromFile(&movie, ref, &resId, nullptr, 0, nullptr), noErr);
    // New samples of the file's media go into the file.
    Media m = GetTrackMedia(GetMovieIndTrack(movie, 1));
    std::vector<uint8_t> frame(33, 0x5A);
    ASSERT_EQ(AddMediaSample2(m, frame.data(), ByteCount(frame.size()), 2, 0, nullptr, 1, 0, nullptr), noErr);
    ASSERT_EQ(InsertMediaIntoTrack(GetMovieIndTrack(movie, 1), -1, 24, 2, fixed1), noErr);
    ASSERT_EQ(UpdateMovieResource(movie, ref, resId, nullptr), noErr);
    ASSERT_EQ(CloseMovieFile(ref), noErr);
    const std::string expected = describe(movie);
    DisposeMovie(movie);
    movie = openPath(spec.path);
    ASSERT_NE(movie, nullptr);
    EXPECT_EQ(describe(movie), expected);
    EXPECT_EQ(GetMediaSampleCount(GetTrackMedia(GetMovieIndTrack(movie, 1))), 13);
    DisposeMovie(movie);
    EXPECT_EQ(OpenMovieFile(&spec, &ref, fsRdPerm), noErr);
    EXPECT_EQ(CloseMovieFile(ref), noErr);
    FSSpec missing = specOf(dir.file("missing.mov"));
    EXPECT_EQ(OpenMovieFile(&missing, &ref, fsRdPerm), fnfErr);
}

// Samples in other files are referred to; a file that is gone is reported, and the movie made.
// A memory reference a file names is never followed: its address came from the file's bytes.
TEST(MovieFileRead, ReferencesToOtherDataAreKeptButNotTrusted) {
    ScratchDir dir("mreader-refs");
    const std::string other = dir.file("other.bin");
    testsupport::writeFile(other, std::string(64, 'x') + "0123456789abcdef");
    Movie movie = NewMovie(newMovieActive);
    Track t = NewMovieTrack(movie, Long2Fix(8), Long2Fix(4), 0);
    Handle alias = aliasOf(other);
    Media m = NewTrackMedia(t, VideoMediaType, 600, alias, FOUR_CHAR_CODE("alis"));
    SampleDescriptionHandle d = imageDescription(FOUR_CHAR_CODE("raw "), 8, 4);
    ASSERT_EQ(AddMediaSampleReference(m, 64, 16, 60, d, 1, 0, nullptr), noErr);
    Handle h = NewHandle(0);
    ASSERT_EQ(PutMovieIntoHandle(movie, h), noErr);
    Movie back = nullptr;
    ASSERT_EQ(NewMovieFromHandle(&back, h, 0, nullptr), noErr);
    uint8_t bytes[16] = {};
    ByteCount size = 0;
    EXPECT_EQ(GetMediaSample2(GetTrackMedia(GetMovieIndTrack(back, 1)), bytes, sizeof bytes, &size, 0,
                              nullptr, nullptr, nullptr, nullptr, nullptr, 1, nullptr, nullptr),
              noErr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 16), "0123456789abcdef");
    DisposeMovie(back);
    unlink(other.c_str());
    EXPECT_EQ(NewMovieFromHandle(&back, h, 0, nullptr), couldNotResolveDataRef);
    EXPECT_NE(back, nullptr);
    DisposeMovie(back);
    EXPECT_EQ(NewMovieFromHandle(&back, h, newMovieDontResolveDataRefs, nullptr), noErr);
    DisposeMovie(back);
    DisposeMovie(movie);
    DisposeHandle(h);

    // The same with a handle reference.
    Handle data = nullptr;
    PtrToHand("0123456789abcdef", &data, 16);
    Handle href = nullptr;
    PtrToHand(&data, &href, sizeof data);
    movie = NewMovie(newMovieActive);
    t = NewMovieTrack(movie, Long2Fix(8), Long2Fix(4), 0);
    m = NewTrackMedia(t, VideoMediaType, 600, href, FOUR_CHAR_CODE("hndl"));
    ASSERT_EQ(AddMediaSampleReference(m, 0, 16, 60, d, 1, 0, nullptr), noErr);
    h = NewHandle(0);
    ASSERT_EQ(PutMovieIntoHandle(movie, h), noErr);
    ASSERT_EQ(NewMovieFromHandle(&back, h, 0, nullptr), noErr);
    EXPECT_EQ(GetMediaSample2(GetTrackMedia(GetMovieIndTrack(back, 1)), bytes, sizeof bytes, &size, 0,
                              nullptr, nullptr, nullptr, nullptr, nullptr, 1, nullptr, nullptr),
              couldNotResolveDataRef);
    DisposeMovie(back);
    DisposeMovie(movie);
    for (Handle x : {h, href, data, alias, reinterpret_cast<Handle>(d)})
        DisposeHandle(x);
}

TEST(MovieFileRead, RemovingTheMovieLeavesNoMovie) {
    ScratchDir dir("mreader-rm");
    FSSpec spec = specOf(dir.file("m.mov"));
    int16_t ref = 0;
    Movie movie = nullptr;
    ASSERT_EQ(CreateMovieFile(&spec, 0, 0, createMovieFileDeleteCurFile, &ref, &movie), noErr);
    makeRichMovie(movie);
    int16_t resId = 0;
    ASSERT_EQ(AddMovieResource(movie, ref, &resId, nullptr), noErr);
    EXPECT_EQ(RemoveMovieResource(ref, 5), resNotFound);
    EXPECT_EQ(RemoveMovieResource(ref, resId), noErr);
    EXPECT_EQ(RemoveMovieResource(ref, resId), resNotFound);
    EXPECT_EQ(CloseMovieFile(ref), noErr);
    EXPECT_EQ(RemoveMovieResource(ref, resId), rfNumErr);
    OSErr err = noErr;
    EXPECT_EQ(openPath(spec.path, &err), nullptr);
    EXPECT_EQ(err, noMovieFound);
    DisposeMovie(movie);
}

// ---------------------------------------------------------------------------------------------
// Properties, the scrap, shortcuts, importers.

TEST(MovieFileRead, PropertiesNameWhereTheMovieComesFrom) {
    ScratchDir dir("mreader-props");
    const std::string path = dir.file("m.mov");
    Movie source = nullptr;
    ASSERT_NO_FATAL_FAILURE(writeRichMovieFile(path, &source));
    const std::string expected = describe(source);

    Boolean yes = true;
    void* noContext = nullptr;
    // A new empty movie.
    {
        QTNewMoviePropertyElement props[] = {
            {kQTPropertyClass_NewMovieProperty, kQTNewMoviePropertyID_Active, 1, &yes, 1},
            {kQTPropertyClass_Audio, kQTAudioPropertyID_ChannelLayoutPolicy, 1, &yes, 1},
            {kQTPropertyClass_Context, kQTContextPropertyID_VisualContext, sizeof noContext, &noContext, 1},
            {FOUR_CHAR_CODE("zzzz"), FOUR_CHAR_CODE("zzzz"), 1, &yes, 1},
        };
        Movie movie = nullptr;
        EXPECT_EQ(NewMovieFromProperties(4, props, 0, nullptr, &movie), noErr);
        ASSERT_NE(movie, nullptr);
        EXPECT_EQ(GetMovieTrackCount(movie), 0);
        EXPECT_TRUE(GetMovieActive(movie));
        EXPECT_EQ(props[0].propStatus, noErr);
        EXPECT_EQ(props[3].propStatus, kQTPropertyNotSupportedErr);
        DisposeMovie(movie);
    }
    // A data reference, with the resource id out.
    {
        Handle alias = aliasOf(path);
        DataReferenceRecord record{FOUR_CHAR_CODE("alis"), alias};
        QTNewMoviePropertyElement props[] = {
            {kQTPropertyClass_DataLocation, kQTDataLocationPropertyID_DataReference, sizeof record, &record,
             0},
            {kQTPropertyClass_MovieInstantiation, kQTMovieInstantiationPropertyID_DontResolveDataRefs, 1,
             &yes, 0},
            {kQTPropertyClass_MovieInstantiation, kQTMovieInstantiationPropertyID_AsyncOK, 1, &yes, 0},
            {kQTPropertyClass_NewMovieProperty, kQTNewMoviePropertyID_DontInteractWithUser, 1, &yes, 0},
        };
        int16_t resId = 0;
        QTNewMoviePropertyElement out{kQTPropertyClass_MovieResourceLocator,
                                      kQTMovieResourceLocatorPropertyID_FileOffset, sizeof resId, &resId, 1};
        Movie movie = nullptr;
        EXPECT_EQ(NewMovieFromProperties(4, props, 1, &out, &movie), noErr);
        ASSERT_NE(movie, nullptr);
        EXPECT_EQ(describe(movie), expected);
        EXPECT_FALSE(GetMovieActive(movie));
        EXPECT_EQ(resId, movieInDataForkResID);
        EXPECT_EQ(out.propStatus, noErr);
        DisposeMovie(movie);
        // A wrong size fails the call and tells which property.
        props[0].propValueSize = 2;
        EXPECT_EQ(NewMovieFromProperties(1, props, 0, nullptr, &movie), kQTPropertyBadValueSizeErr);
        EXPECT_EQ(movie, nullptr);
        EXPECT_EQ(props[0].propStatus, kQTPropertyBadValueSizeErr);
        DisposeHandle(alias);
        // A file that is not there.
        alias = aliasOf(dir.file("missing.mov"));
        record.dataRef = alias;
        props[0].propValueSize = sizeof record;
        EXPECT_EQ(NewMovieFromProperties(1, props, 0, nullptr, &movie), couldNotResolveDataRef);
        EXPECT_EQ(movie, nullptr);
        DisposeHandle(alias);
    }
    // A movie handle, as the copy of a movie goes.
    for (OSType id :
         {kQTDataLocationPropertyID_LegacyMovieResourceHandle, kQTDataLocationPropertyID_MovieHandle}) {
        Handle h = NewHandle(4);
        ASSERT_EQ(PutMovieIntoHandle(source, h), noErr);
        QTNewMoviePropertyElement props[] = {
            {kQTPropertyClass_DataLocation, id, sizeof h, &h, 0},
            {kQTPropertyClass_NewMovieProperty, kQTNewMoviePropertyID_Active, 1, &yes, 0},
        };
        Movie movie = nullptr;
        EXPECT_EQ(NewMovieFromProperties(2, props, 0, nullptr, &movie), noErr);
        DisposeHandle(h);
        ASSERT_NE(movie, nullptr);
        EXPECT_EQ(describe(movie), expected);
        DisposeMovie(movie);
    }
    // The scrap: what was put there, even once the original is gone.
    {
        Movie copy = nullptr;
        Handle alias = aliasOf(path);
        ASSERT_EQ(NewMovieFromDataRef(&copy, 0, nullptr, alias, FOUR_CHAR_CODE("alis")), noErr);
        DisposeHandle(alias);
        ASSERT_EQ(PutMovieOnScrap(copy, 0), noErr);
        DisposeMovie(copy);
        QTNewMoviePropertyElement props[] = {
            {kQTPropertyClass_DataLocation, kQTDataLocationPropertyID_Scrap, 0, nullptr, 0},
        };
        Movie movie = nullptr;
        EXPECT_EQ(NewMovieFromProperties(1, props, 0, nullptr, &movie), noErr);
        ASSERT_NE(movie, nullptr);
        EXPECT_EQ(describe(movie), expected);
        DisposeMovie(movie);
        movie = NewMovieFromScrap(0);
        EXPECT_NE(movie, nullptr);
        DisposeMovie(movie);
    }
    DisposeMovie(source);
}

TEST(MovieFileRead, ShortcutsOpenTheMovieTheyName) {
    ScratchDir dir("mreader-short");
    const std::string target = dir.file("target.mov");
    Movie source = nullptr;
    ASSERT_NO_FATAL_FAILURE(writeRichMovieFile(target, &source));

    FSSpec shortcut = specOf(dir.file("shortcut.mov"));
    Handle alias = aliasOf(target);
    ASSERT_EQ(CreateShortcutMovieFile(&shortcut, FOUR_CHAR_CODE("TVOD"), -2, createMovieFileDeleteCurFile,
                                      alias, FOUR_CHAR_CODE("alis")),
              noErr);
    EXPECT_EQ(CreateShortcutMovieFile(&shortcut, 0, 0, 0, alias, FOUR_CHAR_CODE("alis")), dupFNErr);
    Movie movie = openPath(shortcut.path);
    ASSERT_NE(movie, nullptr);
    EXPECT_EQ(describe(movie), describe(source));
    DisposeMovie(movie);

    // A shortcut to itself ends, with a status.
    Handle self = aliasOf(shortcut.path);
    ASSERT_EQ(
        CreateShortcutMovieFile(&shortcut, 0, 0, createMovieFileDeleteCurFile, self, FOUR_CHAR_CODE("alis")),
        noErr);
    OSErr err = noErr;
    EXPECT_EQ(openPath(shortcut.path, &err), nullptr);
    EXPECT_EQ(err, badPublicMovieAtom);
    DisposeHandle(self);
    DisposeHandle(alias);
    DisposeMovie(source);
}

TEST(MovieFileRead, ImportersAnswerForMoviesOnly) {
    ScratchDir dir("mreader-imp");
    const std::string path = dir.file("m.mov");
    Movie source = nullptr;
    ASSERT_NO_FATAL_FAILURE(writeRichMovieFile(path, &source));
    testsupport::writeFile(dir.file("text.txt"), "not a movie at all");

    Component importer = nullptr;
    Handle alias = aliasOf(path);
    EXPECT_EQ(GetMovieImporterForDataRef(FOUR_CHAR_CODE("alis"), alias, 4, &importer), noErr);
    EXPECT_NE(importer, nullptr);
    DisposeHandle(alias);
    for (const std::string& other : {dir.file("text.txt"), dir.file("missing.mov")}) {
        alias = aliasOf(other);
        EXPECT_EQ(GetMovieImporterForDataRef(FOUR_CHAR_CODE("alis"), alias, 4, &importer), cantFindHandler);
        EXPECT_EQ(importer, nullptr);
        DisposeHandle(alias);
    }
    // A handle holding a movie, through a 'hndl' reference.
    Handle h = NewHandle(0);
    ASSERT_EQ(PutMovieIntoHandle(source, h), noErr);
    Handle href = nullptr;
    PtrToHand(&h, &href, sizeof h);
    EXPECT_EQ(GetMovieImporterForDataRef(FOUR_CHAR_CODE("hndl"), href, 4, &importer), noErr);
    EXPECT_NE(importer, nullptr);
    Movie movie = nullptr;
    EXPECT_EQ(NewMovieFromDataRef(&movie, 0, nullptr, href, FOUR_CHAR_CODE("hndl")), noErr);
    ASSERT_NE(movie, nullptr);
    EXPECT_EQ(describe(movie), describe(source));
    DisposeMovie(movie);
    // A block of memory, through a 'ptr ' reference: its address and its length.
    std::vector<char> block(size_t(GetHandleSize(h)) + sizeof(void*) + 4);
    const char* address = *h;
    const uint32_t length = uint32_t(GetHandleSize(h));
    std::memcpy(block.data(), &address, sizeof address);
    std::memcpy(block.data() + sizeof address, &length, sizeof length);
    Handle pref = nullptr;
    PtrToHand(block.data(), &pref, Size(sizeof address + sizeof length));
    EXPECT_EQ(GetMovieImporterForDataRef(FOUR_CHAR_CODE("ptr "), pref, 4, &importer), noErr);
    EXPECT_EQ(NewMovieFromDataRef(&movie, 0, nullptr, pref, FOUR_CHAR_CODE("ptr ")), noErr);
    DisposeHandle(pref);
    DisposeHandle(h);
    DisposeHandle(href);
    ASSERT_NE(movie, nullptr);
    EXPECT_EQ(describe(movie), describe(source));
    DisposeMovie(movie);
    DisposeMovie(source);
}

// ---------------------------------------------------------------------------------------------
// Sizes and loading.

TEST(MovieFileRead, DataSizesCountTheSamplesARangeShows) {
    Movie movie = NewMovie(newMovieActive);
    SetMovieTimeScale(movie, 100);
    Track t = NewMovieTrack(movie, Long2Fix(8), Long2Fix(4), 0);
    Media m = NewTrackMedia(t, VideoMediaType, 10, nullptr, 0);
    SampleDescriptionHandle d = imageDescription(FOUR_CHAR_CODE("raw "), 8, 4);
    // Ten samples of 1 s each: sample k has 100 + k bytes.
    for (int k = 0; k < 10; ++k) {
        std::vector<uint8_t> bytes(size_t(100 + k), uint8_t(k));
        AddMediaSample2(m, bytes.data(), ByteCount(bytes.size()), 10, 0, d, 1, 0, nullptr);
    }
    // Media 20..50 at track 0, at twice the speed: 150 track units.
    ASSERT_EQ(InsertMediaIntoTrack(t, 0, 20, 30, 2 * fixed1), noErr);
    ASSERT_EQ(GetTrackDuration(t), 150);
    struct Case {
        int target; // 0 media, 1 track, 2 movie
        TimeValue start, duration;
        int64_t bytes;
    } cases[] = {
        {0, 0, 100, 1045},     // everything
        {0, 0, 10, 100},       // the first sample
        {0, 5, 10, 100 + 101}, // halves of two
        {0, 95, 10, 109},      // past the end
        {0, 30, 0, 0},         {1, 0, 150, 102 + 103 + 104}, {1, 0, 50, 102}, {2, 100, 50, 104},
    };
    for (const Case& c : cases) {
        wide size{1, 1};
        OSErr err = c.target == 0   ? GetMediaDataSize64(m, c.start, c.duration, &size)
                    : c.target == 1 ? GetTrackDataSize64(t, c.start, c.duration, &size)
                                    : GetMovieDataSize64(movie, c.start, c.duration, &size);
        EXPECT_EQ(err, noErr);
        EXPECT_EQ(size.hi, 0);
        EXPECT_EQ(int64_t(size.lo), c.bytes) << c.target << " " << c.start << " " << c.duration;
    }
    wide size{};
    EXPECT_EQ(GetMediaDataSize64(m, -1, 10, &size), paramErr);
    EXPECT_EQ(GetTrackDataSize64(nullptr, 0, 10, &size), invalidTrack);
    DisposeHandle(reinterpret_cast<Handle>(d));
    DisposeMovie(movie);
}

TEST(MovieFileRead, LoadingReadsTheSamplesFromTheFile) {
    ScratchDir dir("mreader-load");
    const std::string path = dir.file("m.mov");
    Movie source = nullptr;
    ASSERT_NO_FATAL_FAILURE(writeRichMovieFile(path, &source));
    DisposeMovie(source);

    Movie movie = openPath(path);
    ASSERT_NE(movie, nullptr);
    EXPECT_EQ(GetMovieLoadState(movie), kMovieLoadStateComplete);
    EXPECT_EQ(LoadMovieIntoRam(movie, 0, GetMovieDuration(movie), keepInRam), noErr);
    EXPECT_EQ(LoadTrackIntoRam(GetMovieIndTrack(movie, 1), 0, 100, 0), noErr);
    EXPECT_EQ(LoadMediaIntoRam(GetTrackMedia(GetMovieIndTrack(movie, 1)), 0, 1000, 0), noErr);
    // The file loses its samples after the movie was opened: loading tells.
    ASSERT_EQ(truncate(path.c_str(), 100), 0);
    EXPECT_EQ(LoadMovieIntoRam(movie, 0, GetMovieDuration(movie), 0), endOfDataReached);
    EXPECT_EQ(GetMovieLoadState(nullptr), kMovieLoadStateError);
    EXPECT_EQ(LoadMovieIntoRam(movie, -1, 5, 0), paramErr);
    DisposeMovie(movie);
}

// ---------------------------------------------------------------------------------------------
// Damaged files.

// A small movie our writer made, as bytes.
std::string smallMovieFile(const ScratchDir& dir) {
    const std::string path = dir.file("small.mov");
    Movie movie = nullptr;
    writeRichMovieFile(path, &movie);
    DisposeMovie(movie);
    return readFile(path);
}

OSErr openBytes(const std::string& bytes, Movie* movie) {
    Handle h = nullptr;
    PtrToHand(bytes.data(), &h, Size(bytes.size()));
    const OSErr err = NewMovieFromHandle(movie, h, 0, nullptr);
    DisposeHandle(h);
    return err;
}

size_t findAtom(const std::string& bytes, const char* type) {
    const size_t at = bytes.find(type);
    EXPECT_NE(at, std::string::npos) << type;
    return at - 4;
}

void putBE32(std::string& bytes, size_t at, uint32_t v) {
    platform::storeBE32(reinterpret_cast<uint8_t*>(&bytes[at]), v);
}

// The movie header holds the movie's preferred rate and volume, and a track's 'load' atom its
// load settings; what a file holds is what the movie opened from it has.
TEST(MovieFileRead, PreferredRateVolumeAndLoadSettingsAreThoseOfTheFile) {
    ScratchDir dir("mreader-mvhd");
    std::string bytes = smallMovieFile(dir);
    const size_t mvhd = findAtom(bytes, "mvhd");
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data()) + mvhd;
    EXPECT_EQ(platform::loadBE32(p + 28), uint32_t(fixed1 * 3 / 2));
    EXPECT_EQ(platform::loadBE16(p + 32), 0x80);
    const size_t load = findAtom(bytes, "load");
    p = reinterpret_cast<const uint8_t*>(bytes.data()) + load;
    EXPECT_EQ(platform::loadBE32(p), 24u);
    EXPECT_EQ(platform::loadBE32(p + 8), 100u);
    EXPECT_EQ(platform::loadBE32(p + 12), 0xFFFFFFFFu);

    // Another rate, volume and preload time put into the file are what the movie takes.
    putBE32(bytes, mvhd + 28, uint32_t(fixed1 / 4));
    platform::storeBE16(reinterpret_cast<uint8_t*>(&bytes[mvhd + 32]), 0x1C0);
    putBE32(bytes, load + 8, 7);
    Movie movie = nullptr;
    ASSERT_EQ(openBytes(bytes, &movie), noErr);
    EXPECT_EQ(GetMoviePreferredRate(movie), fixed1 / 4);
    EXPECT_EQ(GetMoviePreferredVolume(movie), 0x1C0);
    EXPECT_EQ(GetMovieVolume(movie), 0x1C0);
    EXPECT_EQ(GetMovieRate(movie), 0);
    TimeValue preload = 0;
    GetTrackLoadSettings(GetMovieIndTrack(movie, 2), &preload, nullptr, nullptr, nullptr);
    EXPECT_EQ(preload, 7);
    // The movie plays at the rate of its file.
    StartMovie(movie);
    EXPECT_EQ(GetMovieRate(movie), fixed1 / 4);
    DisposeMovie(movie);
}

TEST(MovieFileRead, EveryTruncationIsRefused) {
    ScratchDir dir("mreader-cut");
    const std::string whole = smallMovieFile(dir);
    Movie movie = nullptr;
    ASSERT_EQ(openBytes(whole, &movie), noErr);
    DisposeMovie(movie);
    for (size_t n = 0; n < whole.size(); ++n) {
        const OSErr err = openBytes(whole.substr(0, n), &movie);
        EXPECT_NE(err, noErr) << n;
        EXPECT_EQ(movie, nullptr) << n;
        if (movie) DisposeMovie(movie);
    }
}

TEST(MovieFileRead, LyingSizesAndCountsAreRefused) {
    ScratchDir dir("mreader-lie");
    const std::string whole = smallMovieFile(dir);
    struct Case {
        const char* name;
        void (*damage)(std::string&);
        OSErr expected;
    } cases[] = {
        {"moov size past the end", [](std::string& b) { putBE32(b, findAtom(b, "moov"), 0x7FFFFFF0); },
         badPublicMovieAtom},
        {"moov size smaller than its header", [](std::string& b) { putBE32(b, findAtom(b, "moov"), 4); },
         badPublicMovieAtom},
        {"mdat 64-bit size past the end",
         [](std::string& b) {
             const size_t at = findAtom(b, "mdat");
             // 'wide' before it becomes the 64-bit header.
             putBE32(b, at - 8, 1);
             putBE32(b, at - 4, FOUR_CHAR_CODE("mdat"));
             putBE32(b, at, 0x10);
             putBE32(b, at + 4, 0);
         },
         badPublicMovieAtom},
        {"mdat 64-bit size below its header",
         [](std::string& b) {
             const size_t at = findAtom(b, "mdat");
             putBE32(b, at - 8, 1);
             putBE32(b, at - 4, FOUR_CHAR_CODE("mdat"));
             putBE32(b, at, 0);
             putBE32(b, at + 4, 8);
         },
         badPublicMovieAtom},
        {"trak size past its parent", [](std::string& b) { putBE32(b, findAtom(b, "trak"), 0x00FFFFFF); },
         badPublicMovieAtom},
        {"stsz count in the billions",
         [](std::string& b) {
             const size_t at = findAtom(b, "stsz");
             putBE32(b, at + 16, 0xFFFFFFF0);
         },
         badPublicMovieAtom},
        {"stts count past its atom", [](std::string& b) { putBE32(b, findAtom(b, "stts") + 12, 0x40000000); },
         badPublicMovieAtom},
        {"stsd count past its atom", [](std::string& b) { putBE32(b, findAtom(b, "stsd") + 12, 1000); },
         badPublicMovieAtom},
        {"chunk past the end of the file",
         [](std::string& b) { putBE32(b, findAtom(b, "stco") + 16, 0x7FFFFF00); }, invalidSampleTable},
        {"sample description naming a missing reference",
         [](std::string& b) { b[findAtom(b, "stsd") + 16 + 15] = 9; }, badPublicMovieAtom},
        {"no movie atom", [](std::string& b) { putBE32(b, findAtom(b, "moov") + 4, FOUR_CHAR_CODE("junk")); },
         noMovieFound},
        {"track id 0", [](std::string& b) { putBE32(b, findAtom(b, "tkhd") + 20, 0); }, badPublicMovieAtom},
        {"time scale 0", [](std::string& b) { putBE32(b, findAtom(b, "mvhd") + 20, 0); }, badPublicMovieAtom},
    };
    for (const Case& c : cases) {
        std::string bytes = whole;
        c.damage(bytes);
        Movie movie = nullptr;
        EXPECT_EQ(openBytes(bytes, &movie), c.expected) << c.name;
        EXPECT_EQ(movie, nullptr) << c.name;
        if (movie) DisposeMovie(movie);
    }
}

// A sound track claiming billions of samples of a constant size, in a table a few bytes long,
// reads as a handful of runs when the data holds them, and is refused when it does not.
TEST(MovieFileRead, HugeSampleCountsCostNothingUntilCheckedAgainstTheData) {
    ScratchDir dir("mreader-huge");
    std::string bytes = smallMovieFile(dir);
    // The sound track's sample size table: constant size 4, count 4000 -> 0xF0000000.
    size_t at = bytes.find("stsz");
    at = bytes.find("stsz", at + 4); // the second track's
    ASSERT_NE(at, std::string::npos);
    putBE32(bytes, at + 12, 0xF0000000);
    Movie movie = nullptr;
    EXPECT_EQ(openBytes(bytes, &movie), invalidSampleTable);
    EXPECT_EQ(movie, nullptr);
}

} // namespace
