#include "PlatformDataRef.h"
#include "PlatformFixed.h"
#include "PlatformMemory.h"
#include "PlatformMovieExport.h"
#include "PlatformMovieFiles.h"
#include "PlatformMovies.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using testsupport::readFile;
using testsupport::run;
using testsupport::ScratchDir;

bool havePeers() {
    return testsupport::haveCommand("ffprobe") && testsupport::haveCommand("ffmpeg");
}

// Frame i of a track: RGB bytes that differ from pixel to pixel, frame to frame and track to track.
std::string framePixels(int width, int height, int i, int seed) {
    std::string bytes(size_t(width * height * 3), '\0');
    for (size_t k = 0; k < bytes.size(); ++k)
        bytes[k] = char((k * 7 + size_t(i) * 31 + size_t(seed) * 101) & 0xFF);
    return bytes;
}

// A raw RGB video track of `frames` frames of 20 units in a media of scale 600.
Track addVideoTrack(Movie movie, int width, int height, int frames, int seed) {
    Track track = NewMovieTrack(movie, Long2Fix(width), Long2Fix(height), 0);
    Media media = NewTrackMedia(track, VideoMediaType, 600, nullptr, 0);
    Handle h = NewHandleClear(sizeof(ImageDescription));
    auto* d = reinterpret_cast<ImageDescription*>(*h);
    d->idSize = sizeof(ImageDescription);
    d->cType = FOUR_CHAR_CODE("raw ");
    d->dataRefIndex = 1;
    d->width = int16_t(width);
    d->height = int16_t(height);
    d->hRes = d->vRes = Long2Fix(72);
    d->frameCount = 1;
    d->depth = 24;
    d->clutID = -1;
    for (int i = 0; i < frames; ++i) {
        const std::string bytes = framePixels(width, height, i, seed);
        AddMediaSample2(media, reinterpret_cast<const uint8_t*>(bytes.data()), ByteCount(bytes.size()), 20, 0,
                        reinterpret_cast<SampleDescriptionHandle>(h), 1, 0, nullptr);
    }
    DisposeHandle(h);
    InsertMediaIntoTrack(track, 0, 0, GetMediaDuration(media), fixed1);
    return track;
}

std::map<std::string, std::string> probeStream(const std::string& file, int stream) {
    const std::string out = run("ffprobe -v error -select_streams " + std::to_string(stream) +
                                " -show_entries stream=codec_type,codec_name,width,height,nb_frames"
                                " -of default=noprint_wrappers=1 '" +
                                file + "' 2>&1");
    return testsupport::keyValues(out);
}

int streamCount(const std::string& file) {
    const std::string out =
        run("ffprobe -v error -show_entries stream=index -of csv=p=0 '" + file + "' 2>&1");
    int n = 0;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty()) ++n;
    return n;
}

std::string decodeFirstVideo(const std::string& file, const ScratchDir& dir) {
    const std::string out = dir.file("decoded.rgb");
    int status = 0;
    run("ffmpeg -v error -y -i '" + file + "' -map 0:v:0 -f rawvideo -pix_fmt rgb24 '" + out + "' 2>&1",
        &status);
    EXPECT_EQ(status, 0);
    return readFile(out);
}

FSSpec specOf(const std::string& path) {
    FSSpec spec{};
    FSPathMakeFSSpec(path.c_str(), &spec);
    return spec;
}

Handle aliasOf(const std::string& path) {
    Handle h = nullptr;
    PtrToHand(path.c_str(), &h, Size(path.size() + 1));
    return h;
}

constexpr int32_t kExportFlags = int32_t(0x80000004u); // replace the file, export only

struct ExportFixture : ::testing::Test {
    ScratchDir dir{"movieexport"};
    Movie movie = nullptr;
    Track first = nullptr, second = nullptr;
    void SetUp() override {
        ClearMoviesStickyError();
        movie = NewMovie(0);
        first = addVideoTrack(movie, 16, 8, 5, 1);
        second = addVideoTrack(movie, 8, 4, 3, 2);
        ASSERT_EQ(GetMoviesStickyError(), noErr);
    }
    void TearDown() override { DisposeMovie(movie); }
};

// The whole movie, and one track of it, as ffprobe and ffmpeg see the files written.
TEST_F(ExportFixture, MovieAndTrackExportsReadByPeers) {
    if (!havePeers()) GTEST_SKIP() << "ffmpeg or ffprobe missing";
    const std::string whole = dir.file("whole.mov");
    FSSpec spec = specOf(whole);
    int16_t resID = 0;
    ASSERT_EQ(ConvertMovieToFile(movie, nullptr, &spec, kQTFileTypeMovie, FOUR_CHAR_CODE("TVOD"), -1, &resID,
                                 kExportFlags, nullptr),
              noErr);
    EXPECT_EQ(resID, movieInDataForkResID);
    EXPECT_EQ(streamCount(whole), 2);
    auto s0 = probeStream(whole, 0), s1 = probeStream(whole, 1);
    EXPECT_EQ(s0["codec_name"], "rawvideo");
    EXPECT_EQ(s0["width"], "16");
    EXPECT_EQ(s0["nb_frames"], "5");
    EXPECT_EQ(s1["width"], "8");
    EXPECT_EQ(s1["height"], "4");
    EXPECT_EQ(s1["nb_frames"], "3");
    std::string expected;
    for (int i = 0; i < 5; ++i)
        expected += framePixels(16, 8, i, 1);
    EXPECT_EQ(decodeFirstVideo(whole, dir), expected);
    // The movie atom comes first.
    const std::string bytes = readFile(whole);
    ASSERT_GE(bytes.size(), 28u);
    EXPECT_EQ(bytes.substr(4, 4), "ftyp");
    EXPECT_EQ(bytes.substr(24, 4), "moov");

    // Only the second track, through a data reference.
    const std::string single = dir.file("track.mov");
    Handle ref = aliasOf(single);
    ASSERT_EQ(ConvertMovieToDataRef(movie, second, ref, AliasDataHandlerSubType, kQTFileTypeMovie,
                                    FOUR_CHAR_CODE("TVOD"), kExportFlags, nullptr),
              noErr);
    DisposeHandle(ref);
    EXPECT_EQ(streamCount(single), 1);
    auto t0 = probeStream(single, 0);
    EXPECT_EQ(t0["width"], "8");
    EXPECT_EQ(t0["height"], "4");
    EXPECT_EQ(t0["nb_frames"], "3");
    expected.clear();
    for (int i = 0; i < 3; ++i)
        expected += framePixels(8, 4, i, 2);
    EXPECT_EQ(decodeFirstVideo(single, dir), expected);
    // The source movie is as it was.
    EXPECT_EQ(GetMovieTrackCount(movie), 2);
    EXPECT_EQ(GetMovieDuration(movie), 100);
}

// Requests that cannot be met are refused in a fixed order, and leave no file behind.
TEST_F(ExportFixture, RefusalsWriteNothing) {
    Movie other = NewMovie(0);
    Track foreign = addVideoTrack(other, 4, 4, 1, 3);
    Movie gone = NewMovie(0);
    DisposeMovie(gone);
    const std::string path = dir.file("refused.mov");
    FSSpec spec = specOf(path);
    FSSpec emptySpec{};
    int dummy = 0;
    struct Case {
        const char* what;
        Movie m;
        Track t;
        FSSpec* file;
        OSType type;
        int32_t flags;
        ComponentInstance comp;
        OSErr expected;
    } cases[] = {
        {"gone movie", gone, nullptr, &spec, kQTFileTypeMovie, kExportFlags, nullptr, invalidMovie},
        {"foreign track", movie, foreign, &spec, kQTFileTypeMovie, kExportFlags, nullptr, trackNotInMovie},
        {"exporter given", movie, nullptr, &spec, kQTFileTypeMovie, kExportFlags,
         reinterpret_cast<ComponentInstance>(&dummy), paramErr},
        // The dialog answers as cancelled, whatever the file type.
        {"dialog", movie, nullptr, &spec, kQTFileTypeMovie, int32_t(0x80000006u), nullptr, userCanceledErr},
        {"dialog, no type", movie, nullptr, &spec, 0, int32_t(0x80000006u), nullptr, userCanceledErr},
        {"unknown type", movie, nullptr, &spec, FOUR_CHAR_CODE("MPG4"), kExportFlags, nullptr,
         cantFindHandler},
        {"no file", movie, nullptr, nullptr, kQTFileTypeMovie, kExportFlags, nullptr, paramErr},
        {"empty file", movie, nullptr, &emptySpec, kQTFileTypeMovie, kExportFlags, nullptr, paramErr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ConvertMovieToFile(c.m, c.t, c.file, c.type, 0, -1, nullptr, c.flags, c.comp), c.expected);
        EXPECT_EQ(GetMoviesError(), c.expected);
        EXPECT_FALSE(std::filesystem::exists(path));
    }
    Handle url = nullptr;
    PtrToHand("file:///tmp/x.mov", &url, 18);
    EXPECT_EQ(ConvertMovieToDataRef(movie, nullptr, url, URLDataHandlerSubType, kQTFileTypeMovie, 0,
                                    kExportFlags, nullptr),
              couldNotResolveDataRef);
    EXPECT_EQ(ConvertMovieToDataRef(movie, nullptr, nullptr, AliasDataHandlerSubType, kQTFileTypeMovie, 0,
                                    kExportFlags, nullptr),
              paramErr);
    DisposeHandle(url);

    // An existing file is replaced only when asked; otherwise it is kept as it was.
    testsupport::writeFile(path, "keep me");
    EXPECT_EQ(ConvertMovieToFile(movie, nullptr, &spec, kQTFileTypeMovie, 0, -1, nullptr,
                                 movieToFileOnlyExport, nullptr),
              dupFNErr);
    EXPECT_EQ(readFile(path), "keep me");
    EXPECT_EQ(
        ConvertMovieToFile(movie, nullptr, &spec, kQTFileTypeMovie, 0, -1, nullptr, kExportFlags, nullptr),
        noErr);
    EXPECT_NE(readFile(path), "keep me");
    DisposeMovie(other);
}

// A movie whose samples lie in its own file may be exported over that file: every byte is read
// from the old file before the new one takes its place. A file still open for writing is not
// replaced under its writer.
TEST(MovieExport, OverTheFileItsSamplesLieIn) {
    if (!havePeers()) GTEST_SKIP() << "ffmpeg or ffprobe missing";
    ScratchDir dir("movieexport-self");
    const std::string path = dir.file("self.mov");
    FSSpec spec = specOf(path);
    int16_t refNum = 0;
    Movie movie = nullptr;
    ASSERT_EQ(
        CreateMovieFile(&spec, FOUR_CHAR_CODE("TVOD"), -1, createMovieFileDeleteCurFile, &refNum, &movie),
        noErr);
    addVideoTrack(movie, 16, 8, 4, 5);
    ASSERT_EQ(AddMovieResource(movie, refNum, nullptr, nullptr), noErr);
    EXPECT_EQ(
        ConvertMovieToFile(movie, nullptr, &spec, kQTFileTypeMovie, 0, -1, nullptr, kExportFlags, nullptr),
        fBsyErr);
    ASSERT_EQ(CloseMovieFile(refNum), noErr);
    const std::string before = readFile(path);

    ASSERT_EQ(
        ConvertMovieToFile(movie, nullptr, &spec, kQTFileTypeMovie, 0, -1, nullptr, kExportFlags, nullptr),
        noErr);
    const std::string after = readFile(path);
    EXPECT_NE(after, before);
    EXPECT_EQ(after.substr(24, 4), "moov"); // flattened: the movie atom first
    std::string expected;
    for (int i = 0; i < 4; ++i)
        expected += framePixels(16, 8, i, 5);
    EXPECT_EQ(decodeFirstVideo(path, dir), expected);
    DisposeMovie(movie);
}

struct Call {
    int16_t message;
    int16_t operation;
    Fixed fraction;
};

struct Recorder {
    Movie expectedMovie = nullptr;
    std::vector<Call> calls;
    int cancelAtUpdate = -1; // the update (0-based) answered with a refusal
    bool callBack = false;   // calls the movie layer from inside the procedure
    int updates = 0;
    bool sawOtherMovie = false;
};

OSErr recordProgress(Movie m, int16_t message, int16_t operation, Fixed fraction, intptr_t refcon) {
    auto* r = reinterpret_cast<Recorder*>(refcon);
    if (m != r->expectedMovie) r->sawOtherMovie = true;
    r->calls.push_back({message, operation, fraction});
    if (r->callBack) {
        // Reading and even changing the movie from the procedure is fine.
        GetMovieDuration(m);
        SetMovieSelection(m, 0, 20);
    }
    if (message == movieProgressUpdatePercent && r->updates++ == r->cancelAtUpdate) return userCanceledErr;
    return noErr;
}

void expectWellFormed(const Recorder& r, int16_t operation, bool finished) {
    ASSERT_GE(r.calls.size(), 2u);
    EXPECT_FALSE(r.sawOtherMovie);
    EXPECT_EQ(r.calls.front().message, movieProgressOpen);
    EXPECT_EQ(r.calls.back().message, movieProgressClose);
    Fixed last = 0;
    for (size_t i = 1; i + 1 < r.calls.size(); ++i) {
        EXPECT_EQ(r.calls[i].message, movieProgressUpdatePercent);
        EXPECT_GE(r.calls[i].fraction, last);
        last = r.calls[i].fraction;
    }
    for (const Call& c : r.calls)
        EXPECT_EQ(c.operation, operation);
    if (finished) {
        EXPECT_EQ(last, fixed1);
    }
}

TEST_F(ExportFixture, ProgressProcedureIsToldAndCanCancel) {
    Recorder rec;
    rec.expectedMovie = movie;
    rec.callBack = true;
    SetMovieProgressProc(movie, recordProgress, reinterpret_cast<intptr_t>(&rec));
    intptr_t refcon = 0;
    EXPECT_EQ(GetMovieProgressProc(movie, &refcon), &recordProgress);
    EXPECT_EQ(refcon, reinterpret_cast<intptr_t>(&rec));

    // Export of one track: the procedure is the movie's, and it is told about an export.
    const std::string path = dir.file("progress.mov");
    FSSpec spec = specOf(path);
    ASSERT_EQ(
        ConvertMovieToFile(movie, first, &spec, kQTFileTypeMovie, 0, -1, nullptr, kExportFlags, nullptr),
        noErr);
    expectWellFormed(rec, progressOpExportMovie, true);
    const std::string written = readFile(path);

    // Flattening tells it too.
    rec.calls.clear();
    const std::string flat = dir.file("flat.mov");
    FSSpec flatSpec = specOf(flat);
    FlattenMovie(movie, flattenAddMovieToDataFork, &flatSpec, FOUR_CHAR_CODE("TVOD"), -1,
                 createMovieFileDeleteCurFile, nullptr, nullptr);
    EXPECT_EQ(GetMoviesError(), noErr);
    expectWellFormed(rec, progressOpFlatten, true);

    // A refusal stops the export: userCanceledErr, the close message still sent, and the file
    // that was there left whole.
    rec.calls.clear();
    rec.updates = 0;
    rec.cancelAtUpdate = 0;
    EXPECT_EQ(
        ConvertMovieToFile(movie, first, &spec, kQTFileTypeMovie, 0, -1, nullptr, kExportFlags, nullptr),
        userCanceledErr);
    expectWellFormed(rec, progressOpExportMovie, false);
    EXPECT_EQ(rec.updates, 1);
    EXPECT_EQ(readFile(path), written);
    // The whole movie has a run of samples a track: a refusal at the second update (the last
    // one) still cancels.
    const std::string flatBefore = readFile(flat);
    rec.calls.clear();
    rec.updates = 0;
    rec.cancelAtUpdate = 1;
    FlattenMovie(movie, 0, &flatSpec, 0, -1, createMovieFileDeleteCurFile, nullptr, nullptr);
    EXPECT_EQ(GetMoviesError(), userCanceledErr);
    EXPECT_EQ(rec.updates, 2);
    EXPECT_EQ(readFile(flat), flatBefore);
    const std::string lonely = dir.file("never.mov");
    FSSpec lonelySpec = specOf(lonely);
    rec.updates = 0;
    rec.cancelAtUpdate = 0;
    FlattenMovie(movie, 0, &lonelySpec, 0, -1, 0, nullptr, nullptr);
    EXPECT_EQ(GetMoviesError(), userCanceledErr);
    EXPECT_FALSE(std::filesystem::exists(lonely));
    // No temporary file is left beside the destination either.
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.file("")))
        entries += e.path().filename().string().find(".mov.") != std::string::npos;
    EXPECT_EQ(entries, 0);

    // The platform's own procedure (-1) is answered back as set, shows nothing and never cancels;
    // 0 removes the procedure.
    rec.calls.clear();
    SetMovieProgressProc(movie, kMovieProgressDefault, 5);
    EXPECT_EQ(GetMovieProgressProc(movie, &refcon), kMovieProgressDefault);
    EXPECT_EQ(refcon, 5);
    EXPECT_EQ(
        ConvertMovieToFile(movie, nullptr, &spec, kQTFileTypeMovie, 0, -1, nullptr, kExportFlags, nullptr),
        noErr);
    SetMovieProgressProc(movie, nullptr, 7);
    EXPECT_EQ(GetMovieProgressProc(movie, &refcon), nullptr);
    EXPECT_EQ(refcon, 0);
    EXPECT_EQ(
        ConvertMovieToFile(movie, nullptr, &spec, kQTFileTypeMovie, 0, -1, nullptr, kExportFlags, nullptr),
        noErr);
    EXPECT_TRUE(rec.calls.empty());

    Movie gone = NewMovie(0);
    DisposeMovie(gone);
    SetMovieProgressProc(gone, recordProgress, 0);
    EXPECT_EQ(GetMoviesError(), invalidMovie);
    EXPECT_EQ(GetMovieProgressProc(gone, &refcon), nullptr);
    EXPECT_EQ(GetMoviesError(), invalidMovie);
}

// A movie with no samples still opens, reports completion and closes.
TEST(MovieExport, EmptyMovieReportsCompletion) {
    ScratchDir dir("movieexport-empty");
    Movie movie = NewMovie(0);
    Recorder rec;
    rec.expectedMovie = movie;
    SetMovieProgressProc(movie, recordProgress, reinterpret_cast<intptr_t>(&rec));
    FSSpec spec = specOf(dir.file("empty.mov"));
    EXPECT_EQ(
        ConvertMovieToFile(movie, nullptr, &spec, kQTFileTypeMovie, 0, -1, nullptr, kExportFlags, nullptr),
        noErr);
    expectWellFormed(rec, progressOpExportMovie, true);
    DisposeMovie(movie);
}

} // namespace
