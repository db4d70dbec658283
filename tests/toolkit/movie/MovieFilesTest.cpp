// Movies read from and written to files: files ffmpeg makes and files the movie layer's writer
// makes open through the wrapper, give back their frames and samples, and what the wrapper
// saves or exports is read by ffprobe.
#include "KelvoCoreComponents.h"
#include "KelvoDataReference.h"
#include "KelvoMovie.h"
#include "KelvoVideo.h"
#include "MovieFixtures.h"
#include "PlatformFiles.h"
#include "PlatformMovieExport.h"
#include "PlatformMovieFileReader.h"
#include "PlatformMovieFiles.h"
#include "PlatformMoviePlayback.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>

using namespace moviefixtures;
using testsupport::ScratchDir;

namespace {

FSSpec specOf(const std::string& path) {
    FSSpec spec{};
    FSPathMakeFSSpec(path.c_str(), &spec);
    return spec;
}

// The RGB bytes of a 32-bit (A, R, G, B) buffer, row after row.
std::string rgbOf(const Kelvo_QDGWorldBuffer& buffer, int width, int height) {
    std::string rgb;
    const auto* base = reinterpret_cast<const uint8_t*>(buffer.baseAddress());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = base + size_t(y) * buffer.rowBytes() + size_t(x) * 4;
            rgb.append(reinterpret_cast<const char*>(p + 1), 3);
        }
    return rgb;
}

} // namespace

// A file ffmpeg made opens through every way in, and its frames and samples are the file's.
TEST(MovieFiles, FFmpegFilesOpenWithTheirFramesAndSamples) {
    if (!haveMoviePeers()) GTEST_SKIP() << "ffmpeg or ffprobe missing";
    ScratchDir dir("kmoviefiles");
    const std::string file = ffmpegMovie(dir);
    const std::string frames = ffmpegFramesRGB(file);
    const size_t frameBytes = size_t(kWidth) * kHeight * 3;
    ASSERT_EQ(frames.size(), frameBytes * kFFmpegFrames);

    FSSpec spec = specOf(file);
    Kelvo_DataReference ref(&spec);
    int32_t err = -1;
    std::unique_ptr<Kelvo_Movie> opened(Kelvo_Movie::open(ref, err));
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(err, 0);
    ASSERT_TRUE(opened->qtObjIsValid()) << opened->Error();
    EXPECT_EQ(opened->Error(), 0);
    Kelvo_Movie byPath(file.c_str());
    EXPECT_TRUE(byPath.qtObjIsValid()) << byPath.Error();
    Kelvo_Movie bySpec(&spec, false);
    EXPECT_TRUE(bySpec.qtObjIsValid()) << bySpec.Error();

    Kelvo_Movie& m = *opened;
    EXPECT_EQ(m.tracksCount(), 2);
    EXPECT_TRUE(m.qtHasVideo());
    EXPECT_TRUE(m.qtHasSound());
    EXPECT_FALSE(m.isChanged());
    const int32_t duration = m.duration();
    const int32_t frameTime = duration / kFFmpegFrames;
    ASSERT_GT(frameTime, 0);
    EXPECT_NEAR(double(duration) / m.timeScale(), 0.5, 0.01);

    // Samples: every video frame, and the frames of a selection.
    EXPECT_EQ(m.samplesCount(nullptr, VideoMediaType), kFFmpegFrames);
    EXPECT_EQ(GetMovieFrameCountInSelection(m.movie(), 0, duration, VideoMediaType), kFFmpegFrames);
    // Past time 0 the count is of the samples after the start, up to the end included.
    EXPECT_EQ(GetMovieFrameCountInSelection(m.movie(), frameTime / 2, 3 * frameTime - 1, VideoMediaType), 2);
    EXPECT_EQ(GetMovieFrameCountInSelection(m.movie(), frameTime, 3 * frameTime, VideoMediaType), 2);
    Kelvo_TimeRange lastTwo(3 * frameTime - 1, 2 * frameTime);
    EXPECT_EQ(m.samplesCount(&lastTwo, VideoMediaType), 2);

    Kelvo_TimeRange64 info;
    m.sampleTimeInfoForTimeAndType(2 * frameTime + frameTime / 2, VideoMediaType, info);
    EXPECT_EQ(m.Error(), 0);
    EXPECT_EQ(info.start(), 2 * frameTime);
    EXPECT_EQ(info.duration(), frameTime);
    uint32_t video = VideoMediaType;
    m.seekTime(4, &video);
    EXPECT_EQ(m.time(), frameTime);
    m.seekTime(2, nullptr);
    EXPECT_EQ(m.time(), duration);
    m.seekTime(3, &video);
    EXPECT_EQ(m.time(), 4 * frameTime);

    // Frames come as new 32-bit buffers of the movie's size, or of the thumbnail's.
    struct Way {
        const char* name;
        std::function<void(Kelvo_QDGWorldBuffer*&)> draw;
        int width, height;
    } ways[] = {
        {"frameAtTime", [&](Kelvo_QDGWorldBuffer*& out) { m.frameAtTime(out, frameTime, nullptr); }, kWidth,
         kHeight},
        {"frame", [&](Kelvo_QDGWorldBuffer*& out) { m.frame(out, nullptr); }, kWidth, kHeight},
        {"posterFrame", [&](Kelvo_QDGWorldBuffer*& out) { m.posterFrame(out, nullptr); }, kWidth, kHeight},
        {"thumbnailAtTime", [&](Kelvo_QDGWorldBuffer*& out) { m.thumbnailAtTime(out, 0); }, 100, 100},
        {"posterThumbnail", [&](Kelvo_QDGWorldBuffer*& out) { m.posterThumbnail(out); }, 100, 100},
    };
    m.time(frameTime);
    m.posterTime(3 * frameTime);
    for (const Way& w : ways) {
        SCOPED_TRACE(w.name);
        Kelvo_QDGWorldBuffer* out = nullptr;
        w.draw(out);
        std::unique_ptr<Kelvo_QDGWorldBuffer> owned(out);
        ASSERT_NE(out, nullptr) << m.Error();
        EXPECT_EQ(m.Error(), 0);
        EXPECT_EQ(out->depth(), 32);
        EXPECT_EQ(out->width(), w.width);
        EXPECT_EQ(out->height(), w.height);
    }

    // The data of a selection and of the whole movie: every sample's bytes, sound included.
    Kelvo_TimeRange firstFrame(0, frameTime);
    const double whole = m.sizeOfSelection(nullptr);
    EXPECT_EQ(m.Error(), 0);
    EXPECT_GE(whole, double(frames.size()) + 0.5 * 8000 * 4 - 1);
    const double first = m.sizeOfSelection(&firstFrame);
    EXPECT_GE(first, double(frameBytes));
    EXPECT_LT(first, whole);
    EXPECT_EQ(m.qtLoadInRAM(nullptr, 0), 0);
    EXPECT_EQ(m.qtLoadInRAM(&firstFrame, 0), 0);
    Kelvo_TimeRange empty(0, 0);
    EXPECT_EQ(m.qtLoadInRAM(&empty, 0), paramErr);
    EXPECT_EQ(m.loadState(), kMovieLoadStateComplete);
    EXPECT_TRUE(m.isDRMAuthorized(false));
    std::unique_ptr<Kelvo_Track> problem(m.checkStatusForMoviePlayback());
    EXPECT_EQ(problem, nullptr);
    EXPECT_EQ(m.Error(), 0);
}

// Saving: an unchanged movie writes nothing; a changed file movie updates its file; saveAs
// flattens or writes a reference movie; export writes a movie file.
TEST(MovieFiles, FlushSaveAndExportWriteWhatFFprobeReads) {
    if (!haveMoviePeers()) GTEST_SKIP() << "ffmpeg or ffprobe missing";
    ScratchDir dir("kmoviesave");
    const std::string file = ffmpegMovie(dir);
    const std::string before = testsupport::readFile(file);
    FSSpec spec = specOf(file);
    {
        Kelvo_Movie m(&spec, false);
        ASSERT_TRUE(m.qtObjIsValid()) << m.Error();
        EXPECT_FALSE(m.isChanged());
        m.flush();
        EXPECT_EQ(m.Error(), 0);
    }
    EXPECT_EQ(testsupport::readFile(file), before);

    // A changed movie of a file writes its new movie into the file.
    int32_t duration = 0;
    {
        Kelvo_Movie m(&spec, false);
        ASSERT_TRUE(m.qtObjIsValid());
        duration = m.duration();
        Kelvo_TimeRange firstHalf(0, duration / 2);
        m.qtDeleteSegment(&firstHalf);
        ASSERT_EQ(m.Error(), 0);
        EXPECT_TRUE(m.isChanged());
        m.flush();
        EXPECT_EQ(m.Error(), 0);
        EXPECT_FALSE(m.isChanged());
    }
    auto info = probeFirstStream(file);
    EXPECT_NEAR(std::atof(info["duration"].c_str()), 0.25, 0.02) << info["output"];
    Kelvo_Movie reread(&spec, false);
    ASSERT_TRUE(reread.qtObjIsValid());
    EXPECT_EQ(reread.duration(), duration - duration / 2);

    // Flattened and reference copies; a reference movie names the samples where they are.
    const std::string flat = dir.file("flat.mov"), reference = dir.file("reference.mov");
    FSSpec flatSpec = specOf(flat), referenceSpec = specOf(reference);
    EXPECT_EQ(Kelvo_Movie::saveAs(reread, &flatSpec, true), 0);
    EXPECT_EQ(Kelvo_Movie::saveAs(reread, &referenceSpec, false), 0);
    info = probeFirstStream(flat);
    EXPECT_EQ(info["codec_type"], "video") << info["output"];
    EXPECT_EQ(info["width"], std::to_string(kWidth));
    EXPECT_NEAR(std::atof(info["duration"].c_str()), 0.25, 0.02);
    EXPECT_LT(std::filesystem::file_size(reference), std::filesystem::file_size(flat));
    for (const std::string& path : {flat, reference}) {
        SCOPED_TRACE(path);
        Kelvo_Movie copy(path.c_str());
        ASSERT_TRUE(copy.qtObjIsValid()) << copy.Error();
        EXPECT_EQ(copy.duration(), reread.duration());
        EXPECT_EQ(copy.samplesCount(nullptr, VideoMediaType), reread.samplesCount(nullptr, VideoMediaType));
    }

    // A reference movie whose samples' file is gone still opens, its data reference left
    // unresolved.
    const std::string moved = dir.file("moved.mov");
    std::filesystem::rename(file, moved);
    {
        Kelvo_Movie orphan(reference.c_str());
        ASSERT_TRUE(orphan.qtObjIsValid()) << orphan.Error();
        EXPECT_EQ(orphan.Error(), 0);
        EXPECT_EQ(orphan.duration(), reread.duration());
    }
    std::filesystem::rename(moved, file);

    // Export: the whole movie as a movie file.
    const std::string exported = dir.file("exported.mov");
    FSSpec exportSpec = specOf(exported);
    Kelvo_DataReference exportRef(&exportSpec);
    Kelvo_OSType movieFile(kQTFileTypeMovie);
    reread.exportData(exportRef, movieFile, false);
    EXPECT_EQ(reread.Error(), 0);
    info = probeFirstStream(exported);
    EXPECT_EQ(info["codec_type"], "video") << info["output"];
    EXPECT_EQ(info["height"], std::to_string(kHeight));
    EXPECT_NEAR(std::atof(info["duration"].c_str()), 0.25, 0.02);
    // Failures: no file storage, no file type, a dialog that is never shown.
    Kelvo_DataReference memory(true);
    reread.exportData(memory, movieFile, false);
    EXPECT_EQ(reread.Error(), kKelvoMediaMissing);
    Kelvo_OSType none;
    reread.exportData(exportRef, none, false);
    EXPECT_EQ(reread.Error(), paramErr);
    reread.exportData(exportRef, movieFile, true);
    EXPECT_EQ(reread.Error(), userCanceledErr);
}

// Every frame drawn is the sample shown at its time: the pixels ffmpeg decodes from the file.
TEST(MovieFiles, FramesAreTheFilesPixels) {
    if (!haveMoviePeers()) GTEST_SKIP() << "ffmpeg or ffprobe missing";
    ScratchDir dir("kmovieframes");
    const std::string file = ffmpegMovie(dir);
    const std::string frames = ffmpegFramesRGB(file);
    const size_t frameBytes = size_t(kWidth) * kHeight * 3;
    ASSERT_EQ(frames.size(), frameBytes * kFFmpegFrames);
    Kelvo_Movie m(file.c_str());
    ASSERT_TRUE(m.qtObjIsValid()) << m.Error();
    const int32_t frameTime = m.duration() / kFFmpegFrames;
    Track video = m.track(1);
    for (int k = 0; k < kFFmpegFrames; ++k) {
        SCOPED_TRACE(k);
        Kelvo_QDGWorldBuffer* out = nullptr;
        m.frameAtTime(out, k * frameTime + frameTime / 2, nullptr);
        std::unique_ptr<Kelvo_QDGWorldBuffer> owned(out);
        ASSERT_NE(out, nullptr) << m.Error();
        EXPECT_EQ(rgbOf(*out, kWidth, kHeight), frames.substr(k * frameBytes, frameBytes));
        Kelvo_Track t(video);
        t.frameAtTime(out, k * frameTime + frameTime / 2, nullptr);
        std::unique_ptr<Kelvo_QDGWorldBuffer> fromTrack(out);
        ASSERT_NE(out, nullptr) << t.Error();
        EXPECT_EQ(rgbOf(*out, kWidth, kHeight), frames.substr(k * frameBytes, frameBytes));
    }
    // In memory: the second of two samples of uniform colour.
    Movie movie = NewMovie(0);
    Track second = addTrack(movie, VideoMediaType, {10, 10}, size_t(kWidth) * kHeight * 4);
    Kelvo_Track t(second);
    Kelvo_QDGWorldBuffer* out = nullptr;
    t.frameAtTime(out, 15, nullptr);
    std::unique_ptr<Kelvo_QDGWorldBuffer> owned(out);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(out->baseAddress())[1], 2);
    DisposeMovie(movie);
}
