#include "PlatformDataRef.h"
#include "PlatformEndian.h"
#include "PlatformFixed.h"
#include "PlatformMemory.h"
#include "PlatformMovieFiles.h"
#include "PlatformMovies.h"
#include "PlatformPendingCalls.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using testsupport::readFile;
using testsupport::run;
using testsupport::ScratchDir;

constexpr int kWidth = 16;
constexpr int kHeight = 8;
constexpr int kFrames = 4;

bool havePeers() {
    if (!testsupport::haveCommand("ffprobe") || !testsupport::haveCommand("ffmpeg")) return false;
    int status = 0;
    run("/usr/bin/python3 -c 'import PIL' 2>/dev/null", &status);
    return status == 0;
}

// Frames made by PIL (the system Python, which has it): frame i as raw RGB (i.raw), PNG (i.png), 4:4:4 JPEG
// (i.jpg), and the pixels PIL decodes from that JPEG (i.jpg.rgb).
void makeFrames(const ScratchDir& dir) {
    std::ostringstream script;
    script << "from PIL import Image\n"
              "import io\n"
              "for i in range("
           << kFrames << "):\n"
           << "    im = Image.new('RGB', (" << kWidth << ", " << kHeight << "))\n"
           << "    im.putdata([((x * 16 + i * 40) % 256, (y * 30) % 256, (x * y * 7 + i) % 256)"
              " for y in range("
           << kHeight << ") for x in range(" << kWidth << ")])\n"
           << "    open('" << dir.file("") << "%d.raw' % i, 'wb').write(im.tobytes())\n"
           << "    im.save('" << dir.file("") << "%d.png' % i)\n"
           << "    im.save('" << dir.file("") << "%d.jpg' % i, quality=95, subsampling=0)\n"
           << "    open('" << dir.file("")
           << "%d.jpg.rgb' % i, 'wb').write("
              "Image.open('"
           << dir.file("") << "%d.jpg' % i).convert('RGB').tobytes())\n";
    testsupport::writeFile(dir.file("frames.py"), script.str());
    int status = 0;
    run("/usr/bin/python3 " + dir.file("frames.py"), &status);
    ASSERT_EQ(status, 0);
}

SampleDescriptionHandle imageDescription(OSType codec, int32_t dataSize) {
    Handle h = NewHandleClear(sizeof(ImageDescription));
    auto* d = reinterpret_cast<ImageDescription*>(*h);
    d->idSize = sizeof(ImageDescription);
    d->cType = codec;
    d->dataRefIndex = 1;
    d->width = kWidth;
    d->height = kHeight;
    d->hRes = d->vRes = Long2Fix(72);
    d->dataSize = dataSize;
    d->frameCount = 1;
    d->depth = 24;
    d->clutID = -1;
    return reinterpret_cast<SampleDescriptionHandle>(h);
}

// Adds the frames of the kind (raw, png, jpg) to a new video track of the movie: 30 frames a
// second in a media of scale 600.
void addVideoTrack(Movie movie, OSType codec, const std::string& kind, const ScratchDir& frames,
                   std::vector<std::string>* stored = nullptr) {
    Track track = NewMovieTrack(movie, Long2Fix(kWidth), Long2Fix(kHeight), 0);
    ASSERT_NE(track, nullptr);
    Media media = NewTrackMedia(track, VideoMediaType, 600, nullptr, 0);
    ASSERT_NE(media, nullptr);
    for (int i = 0; i < kFrames; ++i) {
        const std::string bytes = readFile(frames.file(std::to_string(i) + "." + kind));
        ASSERT_FALSE(bytes.empty());
        SampleDescriptionHandle desc = imageDescription(codec, int32_t(bytes.size()));
        EXPECT_EQ(AddMediaSample2(media, reinterpret_cast<const uint8_t*>(bytes.data()),
                                  ByteCount(bytes.size()), 20, 0, desc, 1, 0, nullptr),
                  noErr);
        DisposeHandle(reinterpret_cast<Handle>(desc));
        if (stored) stored->push_back(bytes);
    }
    ASSERT_EQ(InsertMediaIntoTrack(track, 0, 0, GetMediaDuration(media), fixed1), noErr);
}

// ffprobe's view of one stream: key=value pairs.
std::map<std::string, std::string> probe(const std::string& file, int stream) {
    const std::string out = run("ffprobe -v error -select_streams " + std::to_string(stream) +
                                " -show_entries stream=codec_type,codec_name,codec_tag_string,width,height,"
                                "nb_frames,duration,sample_rate,channels -of default=noprint_wrappers=1 '" +
                                file + "' 2>&1");
    return testsupport::keyValues(out);
}

// The frames ffmpeg decodes from the file's first video stream, as RGB.
std::string decodeFrames(const std::string& file, const ScratchDir& dir) {
    const std::string out = dir.file("decoded.rgb");
    int status = 0;
    run("ffmpeg -v error -y -i '" + file + "' -map 0:v:0 -f rawvideo -pix_fmt rgb24 '" + out + "' 2>&1",
        &status);
    EXPECT_EQ(status, 0);
    return readFile(out);
}

int maxDifference(const std::string& a, const std::string& b) {
    int worst = a.size() == b.size() ? 0 : 256;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        worst = std::max(worst, std::abs(int(uint8_t(a[i])) - int(uint8_t(b[i]))));
    return worst;
}

std::string expectedPixels(const ScratchDir& frames, const std::string& kind) {
    std::string all;
    for (int i = 0; i < kFrames; ++i)
        all += readFile(frames.file(std::to_string(i) + (kind == "jpg" ? ".jpg.rgb" : ".raw")));
    return all;
}

std::vector<std::string> topLevelAtoms(const std::string& bytes) {
    std::vector<std::string> types;
    size_t at = 0;
    while (at + 8 <= bytes.size()) {
        uint64_t size = platform::loadBE32(bytes.data() + at);
        if (size == 1 && at + 16 <= bytes.size())
            size = (uint64_t(platform::loadBE32(bytes.data() + at + 8)) << 32) |
                   platform::loadBE32(bytes.data() + at + 12);
        types.push_back(bytes.substr(at + 4, 4));
        if (size < 8) break;
        at += size;
    }
    return types;
}

struct CodecCase {
    OSType codec;
    const char* kind;
    const char* ffmpegName;
    int tolerance;
};

const CodecCase kCodecs[] = {
    {FOUR_CHAR_CODE("raw "), "raw", "rawvideo", 0},
    {FOUR_CHAR_CODE("png "), "png", "png", 0},
    {FOUR_CHAR_CODE("jpeg"), "jpg", "mjpeg", 6},
};

// Samples added to a movie made with its file go into the file as they are added; the movie atom
// written after them lets ffprobe see the track and ffmpeg decode the very pixels stored.
TEST(MovieFiles, WrittenFilesReadByPeersWithTheirPixels) {
    if (!havePeers()) GTEST_SKIP() << "ffmpeg, ffprobe or PIL missing";
    ScratchDir dir("moviefiles");
    makeFrames(dir);
    for (const CodecCase& c : kCodecs) {
        SCOPED_TRACE(c.kind);
        FSSpec spec;
        const std::string path = dir.file(std::string("movie-") + c.kind + ".mov");
        FSPathMakeFSSpec(path.c_str(), &spec);
        int16_t refNum = 0;
        Movie movie = nullptr;
        ASSERT_EQ(
            CreateMovieFile(&spec, FOUR_CHAR_CODE("TVOD"), -1, createMovieFileDeleteCurFile, &refNum, &movie),
            noErr);
        ASSERT_NE(movie, nullptr);
        std::vector<std::string> stored;
        addVideoTrack(movie, c.codec, c.kind, dir, &stored);
        // The bytes are in the new file, which takes its place only once a movie atom makes it
        // whole,
        EXPECT_FALSE(std::filesystem::exists(path));
        // and read back through the media from there.
        std::vector<uint8_t> back(stored[1].size());
        Media media = GetTrackMedia(GetMovieIndTrack(movie, 1));
        EXPECT_EQ(GetMediaSample2(media, back.data(), ByteCount(back.size()), nullptr, 20, nullptr, nullptr,
                                  nullptr, nullptr, nullptr, 1, nullptr, nullptr),
                  noErr);
        EXPECT_EQ(std::string(back.begin(), back.end()), stored[1]);

        int16_t resId = 0;
        ASSERT_EQ(AddMovieResource(movie, refNum, &resId, nullptr), noErr);
        EXPECT_EQ(resId, movieInDataForkResID);
        ASSERT_EQ(CloseMovieFile(refNum), noErr);
        DisposeMovie(movie);

        auto info = probe(path, 0);
        EXPECT_EQ(info["codec_type"], "video");
        EXPECT_EQ(info["codec_name"], c.ffmpegName);
        EXPECT_EQ(info["width"], std::to_string(kWidth));
        EXPECT_EQ(info["height"], std::to_string(kHeight));
        EXPECT_EQ(info["nb_frames"], std::to_string(kFrames));
        EXPECT_NEAR(std::atof(info["duration"].c_str()), kFrames / 30.0, 1e-3);
        EXPECT_EQ(topLevelAtoms(readFile(path)), (std::vector<std::string>{"ftyp", "wide", "mdat", "moov"}));
        EXPECT_LE(maxDifference(decodeFrames(path, dir), expectedPixels(dir, c.kind)), c.tolerance);
    }
}

// Updating again after more samples rewrites the movie atom after the longer data.
TEST(MovieFiles, UpdatedMovieCoversSamplesAddedAfterTheFirstWrite) {
    if (!havePeers()) GTEST_SKIP() << "ffmpeg, ffprobe or PIL missing";
    ScratchDir dir("moviefiles");
    makeFrames(dir);
    const std::string path = dir.file("grown.mov");
    Handle ref = nullptr;
    OSType type = 0;
    FSSpec spec;
    FSPathMakeFSSpec(path.c_str(), &spec);
    ASSERT_EQ(QTNewDataReferenceFromFSSpec(&spec, 0, &ref, &type), noErr);
    DataHandler storage = nullptr;
    Movie movie = nullptr;
    ASSERT_EQ(
        CreateMovieStorage(ref, type, FOUR_CHAR_CODE("TVOD"), -1, int32_t(0x90000000u), &storage, &movie),
        noErr);
    addVideoTrack(movie, FOUR_CHAR_CODE("png "), "png", dir);
    ASSERT_EQ(AddMovieToStorage(movie, storage), noErr);
    EXPECT_EQ(probe(path, 0)["nb_frames"], std::to_string(kFrames));
    addVideoTrack(movie, FOUR_CHAR_CODE("raw "), "raw", dir);
    ASSERT_EQ(UpdateMovieInStorage(movie, storage), noErr);
    ASSERT_EQ(CloseMovieStorage(storage), noErr);
    EXPECT_EQ(CloseMovieStorage(storage), fnOpnErr);
    EXPECT_EQ(topLevelAtoms(readFile(path)), (std::vector<std::string>{"ftyp", "wide", "mdat", "moov"}));
    EXPECT_EQ(probe(path, 0)["codec_name"], "png");
    auto second = probe(path, 1);
    EXPECT_EQ(second["codec_name"], "rawvideo");
    EXPECT_EQ(second["nb_frames"], std::to_string(kFrames));

    // The movie's default data reference is its file.
    Handle defaultRef = nullptr;
    OSType defaultType = 0;
    EXPECT_EQ(GetMovieDefaultDataRef(movie, &defaultRef, &defaultType), noErr);
    EXPECT_EQ(defaultType, FOUR_CHAR_CODE("alis"));
    EXPECT_EQ(platform::aliasPath(defaultRef), path);
    DisposeHandle(defaultRef);
    DisposeMovie(movie);
    DisposeHandle(ref);
}

// A movie whose samples live in memory flattens into one file with the movie atom first; the
// same movie put into a handle stands alone as a movie file too.
TEST(MovieFiles, FlattenedAndHandleMoviesCarryTheirSamples) {
    if (!havePeers()) GTEST_SKIP() << "ffmpeg, ffprobe or PIL missing";
    ScratchDir dir("moviefiles");
    makeFrames(dir);
    Movie movie = NewMovie(0);
    addVideoTrack(movie, FOUR_CHAR_CODE("raw "), "raw", dir);
    Handle none = nullptr;
    OSType noneType = 0;
    EXPECT_EQ(GetMovieDefaultDataRef(movie, &none, &noneType), couldNotResolveDataRef);
    EXPECT_EQ(none, nullptr);

    const std::string flat = dir.file("flat.mov");
    FSSpec spec;
    FSPathMakeFSSpec(flat.c_str(), &spec);
    FlattenMovie(movie, flattenAddMovieToDataFork | flattenForceMovieResourceBeforeMovieData, &spec,
                 FOUR_CHAR_CODE("TVOD"), -1, createMovieFileDeleteCurFile, nullptr, nullptr);
    ASSERT_EQ(GetMoviesError(), noErr);
    EXPECT_EQ(topLevelAtoms(readFile(flat)), (std::vector<std::string>{"ftyp", "moov", "mdat"}));
    EXPECT_EQ(probe(flat, 0)["nb_frames"], std::to_string(kFrames));
    EXPECT_EQ(decodeFrames(flat, dir), expectedPixels(dir, "raw"));
    // An existing file is kept unless replacing was asked for.
    FlattenMovie(movie, flattenAddMovieToDataFork, &spec, FOUR_CHAR_CODE("TVOD"), -1, 0, nullptr, nullptr);
    EXPECT_EQ(GetMoviesError(), dupFNErr);

    Handle h = NewHandle(0);
    ASSERT_EQ(PutMovieIntoHandle(movie, h), noErr);
    const std::string bytes(*h, size_t(GetHandleSize(h)));
    EXPECT_EQ(topLevelAtoms(bytes), (std::vector<std::string>{"moov", "mdat"}));
    testsupport::writeFile(dir.file("handle.mov"), bytes);
    EXPECT_EQ(decodeFrames(dir.file("handle.mov"), dir), expectedPixels(dir, "raw"));
    DisposeHandle(h);
    DisposeMovie(movie);
}

// A sound track of 16-bit big-endian stereo samples: ffprobe sees its rate and channels, and
// ffmpeg reads back the samples stored.
TEST(MovieFiles, SoundTrackReadByPeers) {
    if (!testsupport::haveCommand("ffprobe") || !testsupport::haveCommand("ffmpeg"))
        GTEST_SKIP() << "ffmpeg missing";
    ScratchDir dir("moviefiles");
    const std::string path = dir.file("sound.mov");
    FSSpec spec;
    FSPathMakeFSSpec(path.c_str(), &spec);
    int16_t refNum = 0;
    Movie movie = nullptr;
    ASSERT_EQ(
        CreateMovieFile(&spec, FOUR_CHAR_CODE("TVOD"), -1, createMovieFileDeleteCurFile, &refNum, &movie),
        noErr);
    Track track = NewMovieTrack(movie, 0, 0, 0x100);
    Media media = NewTrackMedia(track, SoundMediaType, 8000, nullptr, 0);
    Handle h = NewHandleClear(sizeof(SoundDescription));
    auto* d = reinterpret_cast<SoundDescription*>(*h);
    d->descSize = sizeof(SoundDescription);
    d->dataFormat = FOUR_CHAR_CODE("twos");
    d->dataRefIndex = 1;
    d->numChannels = 2;
    d->sampleSize = 16;
    d->sampleRate = uint32_t(8000) << 16;
    std::string pcm;
    for (int i = 0; i < 4000 * 2; ++i) {
        const int16_t v = int16_t((i * 37) % 20000 - 10000);
        pcm += char(uint16_t(v) >> 8);
        pcm += char(v & 0xFF);
    }
    // Two additions of 2000 frames each.
    for (int part = 0; part < 2; ++part)
        ASSERT_EQ(AddMediaSample2(media, reinterpret_cast<const uint8_t*>(pcm.data()) + part * 8000, 8000, 1,
                                  0, reinterpret_cast<SampleDescriptionHandle>(h), 2000, 0, nullptr),
                  noErr);
    DisposeHandle(h);
    ASSERT_EQ(InsertMediaIntoTrack(track, 0, 0, GetMediaDuration(media), fixed1), noErr);
    ASSERT_EQ(AddMovieResource(movie, refNum, nullptr, nullptr), noErr);
    ASSERT_EQ(CloseMovieFile(refNum), noErr);
    DisposeMovie(movie);

    auto info = probe(path, 0);
    EXPECT_EQ(info["codec_type"], "audio");
    EXPECT_EQ(info["codec_name"], "pcm_s16be");
    EXPECT_EQ(info["sample_rate"], "8000");
    EXPECT_EQ(info["channels"], "2");
    EXPECT_NEAR(std::atof(info["duration"].c_str()), 0.5, 1e-3);
    int status = 0;
    run("ffmpeg -v error -y -i '" + path + "' -f s16be '" + dir.file("pcm.raw") + "' 2>&1", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readFile(dir.file("pcm.raw")), pcm);
}

// Statuses of the file calls.
TEST(MovieFiles, RefusedCalls) {
    ScratchDir dir("moviefiles");
    const std::string path = dir.file("exists.mov");
    testsupport::writeFile(path, "keep");
    FSSpec spec;
    FSPathMakeFSSpec(path.c_str(), &spec);
    int16_t refNum = 7;
    Movie movie = reinterpret_cast<Movie>(1);
    EXPECT_EQ(CreateMovieFile(&spec, 0, -1, 0, &refNum, &movie), dupFNErr);
    EXPECT_EQ(refNum, 0);
    EXPECT_EQ(movie, nullptr);
    EXPECT_EQ(readFile(path), "keep");
    EXPECT_EQ(CreateMovieFile(nullptr, 0, -1, 0, &refNum, &movie), paramErr);

    FSSpec missingFolder;
    FSPathMakeFSSpec(dir.file("no/such/folder.mov").c_str(), &missingFolder);
    EXPECT_EQ(CreateMovieFile(&missingFolder, 0, -1, 0, &refNum, &movie), fnfErr);

    Handle url = NewHandle(0);
    PtrToXHand("http://x/y.mov", url, 15);
    DataHandler storage = reinterpret_cast<DataHandler>(1);
    EXPECT_EQ(CreateMovieStorage(url, FOUR_CHAR_CODE("url "), 0, -1, 0, &storage, &movie),
              couldNotResolveDataRef);
    EXPECT_EQ(storage, nullptr);
    DisposeHandle(url);

    Movie empty = NewMovie(0);
    EXPECT_EQ(AddMovieResource(empty, 999, nullptr, nullptr), rfNumErr);
    EXPECT_EQ(CloseMovieFile(999), rfNumErr);
    EXPECT_EQ(AddMovieToStorage(empty, reinterpret_cast<DataHandler>(12345)), fnOpnErr);
    EXPECT_EQ(PutMovieIntoHandle(empty, nullptr), nilHandleErr);
    DisposeMovie(empty);
    EXPECT_EQ(PutMovieIntoHandle(empty, nullptr), invalidMovie);

    // A file open for writing is not deleted from under it; once closed it goes.
    const std::string open = dir.file("open.mov");
    FSSpec openSpec;
    FSPathMakeFSSpec(open.c_str(), &openSpec);
    ASSERT_EQ(CreateMovieFile(&openSpec, 0, -1, createMovieFileDontCreateMovie, &refNum, nullptr), noErr);
    EXPECT_EQ(DeleteMovieFile(&openSpec), fBsyErr);
    EXPECT_EQ(CloseMovieFile(refNum), noErr);
    // Closed without a movie, it never became a whole movie file: nothing was put in place.
    EXPECT_FALSE(std::filesystem::exists(open));
    EXPECT_EQ(DeleteMovieFile(&openSpec), fnfErr);
}

} // namespace
