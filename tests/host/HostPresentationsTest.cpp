// The companion's presentation, image, value and movie members in host scripts. The presentation
// comes from another plug-in (a movie's pictures, made by the presentation probe in its own copy
// of the toolkit), so playing it runs that plug-in's timers from the host's event loop; the
// manual clock makes the times exact. Movie files are made by ffmpeg, and ffmpeg's decoding of
// them is what grabbed frames are compared with.
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr int kFrames = 10;

struct ScriptResult {
    int status;
    std::vector<std::string> lines;
    std::string err;
};

class HostPresentationsTest : public ::testing::Test {
  protected:
    static bool havePeers() {
        return testsupport::haveCommand("ffmpeg") && testsupport::haveCommand("python3");
    }

    void SetUp() override {
        if (!havePeers()) GTEST_SKIP() << "ffmpeg is not installed";
        int status = -1;
        const std::string out = testsupport::run(
            "ffmpeg -v error -y -f lavfi -i testsrc=size=" + std::to_string(kWidth) + "x" +
                std::to_string(kHeight) + ":rate=10:duration=1 -c:v rawvideo -pix_fmt rgb24 '" + movie() +
                "' </dev/null 2>&1",
            &status);
        ASSERT_EQ(status, 0) << out;
    }

    std::string movie() const { return dir.file("movie.mov"); }

    // Runs the script ("@DIR@" is the scratch folder) with the companion and the probe.
    ScriptResult run(std::string script, const std::string& options = "--desktop --manual-clock") {
        for (size_t at; (at = script.find("@DIR@")) != std::string::npos;)
            script.replace(at, 5, dir.path());
        testsupport::writeFile(dir.file("script.txt"), script);
        int status = -1;
        const std::string out =
            testsupport::run(std::string(SYLMARK_HOST_PROGRAM) + " " + options + " --plugin " +
                                 FENRA_BASE_PLUGIN + " --plugin " + PRESENTATION_PROBE_PLUGIN + " --script " +
                                 dir.file("script.txt") + " 2>" + dir.file("err"),
                             &status);
        ScriptResult r{status, {}, testsupport::readFile(dir.file("err"))};
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);)
            r.lines.push_back(line);
        return r;
    }

    // The largest difference between the PNG file's RGB samples and ffmpeg's decoding of frame
    // `index`; -1 when the PNG is not kWidth x kHeight.
    int differenceFromFrame(const std::string& png, int index) {
        const std::string frames = dir.file("frames.rgb");
        testsupport::run("ffmpeg -v error -y -i '" + movie() + "' -f rawvideo -pix_fmt rgb24 '" + frames +
                         "' 2>&1");
        const std::string out =
            testsupport::run("/usr/bin/python3 -c \"import sys, numpy as np; from PIL import Image; im = "
                             "Image.open(sys.argv[1]); "
                             "a = np.asarray(im.convert('RGB')).astype(int); "
                             "f = np.fromfile(sys.argv[2], dtype=np.uint8).reshape(-1, " +
                             std::to_string(kHeight) + ", " + std::to_string(kWidth) +
                             ", 3).astype(int)[int(sys.argv[3])]; "
                             "print(im.format, -1 if a.shape != f.shape else int(np.abs(a - f).max()))\" '" +
                             png + "' '" + frames + "' " + std::to_string(index));
        if (out.rfind("PNG ", 0) != 0) return -2;
        return std::atoi(out.c_str() + 4);
    }

    testsupport::ScratchDir dir{"host-presentations"};
};

TEST_F(HostPresentationsTest, PlayingUnderTheManualClockReachesTheSamplesOfTheTimesRun) {
    ScriptResult r = run("p = PresentationProbe.movieVideo(\"@DIR@/movie.mov\")\n"
                         "print p.samplesCount\n"
                         "print p.duration\n"
                         "print p.timeScale\n"
                         "print p.time(1)\n"
                         "print p.sampleID\n"
                         "p.play(1.0)\n"
                         "print p.isPlaying\n"
                         "App.DoEvents(250)\n"
                         "print p.currentTime\n"
                         "print p.sampleID\n"
                         "App.DoEvents(400)\n"
                         "print p.currentTime\n"
                         "print p.sampleID\n"
                         "App.DoEvents(2000)\n"
                         "print p.isPlaying\n"
                         "print p.isDone\n"
                         "print p.currentTime\n"
                         "print p.sampleID\n");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> expected = {"10", "1000", "1000", "1000",  "1",    "true", "250",
                                               "2",  "650",  "6",    "false", "true", "1000", "10"};
    EXPECT_EQ(r.lines, expected);
}

TEST_F(HostPresentationsTest, StepsAndSeeksGiveTheSampleOfEachTime) {
    // Sample k starts at k sample durations; the first one spans two.
    ScriptResult r = run("p = PresentationProbe.movieVideo(\"@DIR@/movie.mov\")\n"
                         "p.playAction(4)\n"
                         "print p.currentTime\n"
                         "p.playAction(4)\n"
                         "print p.sampleID\n"
                         "p.playAction(3)\n"
                         "print p.currentTime\n"
                         "p.playAction(2)\n"
                         "print p.currentTime\n"
                         "p.playAction(1)\n"
                         "print p.currentTime\n"
                         "p.playTime(450)\n"
                         "print p.sampleID\n"
                         "p.currentTime = 999\n"
                         "print p.sampleID\n"
                         "print p.sampleIDForTime(0)\n"
                         "print p.sampleIDForTime(199)\n"
                         "print p.sampleIDForTime(5000)\n"
                         "print p.sampleIDForTime(-1)\n");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> expected = {"100", "2", "100", "1000", "0", "4", "9", "1", "1", "10", "0"};
    EXPECT_EQ(r.lines, expected);
}

TEST_F(HostPresentationsTest, LoopAndPalindromeKeepPlayingPastTheEnd) {
    ScriptResult r = run("p = PresentationProbe.movieVideo(\"@DIR@/movie.mov\")\n"
                         "print p.loop\n"
                         "p.loop = true\n"
                         "print p.loop\n"
                         "p.palindrome = true\n"
                         "print p.palindrome\n"
                         "p.statisticsEnabled = true\n"
                         "print p.statisticsEnabled\n"
                         "p.play(1.0)\n"
                         "App.DoEvents(1500)\n"
                         "print p.isPlaying\n"
                         "p.stop()\n"
                         "print p.isPlaying\n");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> expected = {"false", "true", "true", "true", "true", "false"};
    EXPECT_EQ(r.lines, expected);
}

TEST_F(HostPresentationsTest, GrabbedFramesAreTheMovieFramesAndSaveAsPNG) {
    ScriptResult r = run("p = PresentationProbe.movieVideo(\"@DIR@/movie.mov\")\n"
                         "p.playTime(500)\n"
                         "img = p.grabRawImage(32)\n"
                         "print img.width\n"
                         "print img.height\n"
                         "print img.pixelFormat\n"
                         "print img.saveAsPNG(\"@DIR@/raw.png\")\n"
                         "neutral = p.grabFrame()\n"
                         "print neutral.saveAsPNG(\"@DIR@/neutral.png\")\n"
                         "rgb = p.grabRawImage(24)\n"
                         "print rgb.saveAsPNG(\"@DIR@/rgb.png\")\n"
                         "p.brightness = 60\n"
                         "print p.brightness\n"
                         "p.contrast = -20\n"
                         "print p.contrast\n"
                         "shown = p.grabFrame()\n"
                         "print shown.saveAsPNG(\"@DIR@/shown.png\")\n"
                         "print img.saveAsPNG(\"@DIR@/missing/raw.png\")\n");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.lines.size(), 10u);
    const std::vector<std::string> expected = {"64", "48", "32", "0", "0", "0", "60", "-20", "0"};
    EXPECT_EQ(std::vector<std::string>(r.lines.begin(), r.lines.begin() + 9), expected);
    // A folder that is not there: a failure status, and no file.
    EXPECT_NE(r.lines[9], "0");
    // Time 500 shows the sixth frame.
    EXPECT_EQ(differenceFromFrame(dir.file("raw.png"), 5), 0);
    EXPECT_EQ(differenceFromFrame(dir.file("rgb.png"), 5), 0);
    // With brightness and contrast at rest the shown frame is the frame.
    EXPECT_EQ(differenceFromFrame(dir.file("neutral.png"), 5), 0);
    // Then it goes through them.
    EXPECT_GT(differenceFromFrame(dir.file("shown.png"), 5), 0);
}

TEST_F(HostPresentationsTest, ThePresentationWritesItsFramesToAMovieThatFFmpegReadsBack) {
    ScriptResult r = run("p = PresentationProbe.movieVideo(\"@DIR@/movie.mov\")\n"
                         "d = FenraImageDescComp.Constructor(\"raw \", 64, 48)\n"
                         "print d.codec\n"
                         "print d.depth\n"
                         "p.presentationToMovie(\"@DIR@/all.mov\", d, nil)\n"
                         "print p.lastError\n"
                         "half = FenraTimeRange.Constructor(0, 500)\n"
                         "p.presentationToMovie(\"@DIR@/half.mov\", d, half)\n"
                         "print p.lastError\n"
                         "p.presentationToMovie(\"@DIR@/none.mov\", nil, nil)\n"
                         "print p.lastError\n");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.lines.size(), 5u);
    EXPECT_EQ(r.lines[0], "raw ");
    EXPECT_EQ(r.lines[1], "32");
    EXPECT_EQ(r.lines[2], "0");
    EXPECT_EQ(r.lines[3], "0");
    // Without a compression description nothing is written, and the presentation says why.
    EXPECT_NE(r.lines[4], "0");
    EXPECT_FALSE(std::filesystem::exists(dir.file("none.mov")));
    const std::string source =
        testsupport::run("ffmpeg -v error -i '" + movie() + "' -f rawvideo -pix_fmt rgb24 -");
    const std::string all =
        testsupport::run("ffmpeg -v error -i '" + dir.file("all.mov") + "' -f rawvideo -pix_fmt rgb24 -");
    const std::string half =
        testsupport::run("ffmpeg -v error -i '" + dir.file("half.mov") + "' -f rawvideo -pix_fmt rgb24 -");
    ASSERT_EQ(source.size(), size_t(kWidth * kHeight * 3 * kFrames));
    EXPECT_TRUE(all == source);
    EXPECT_TRUE(half == source.substr(0, source.size() / 2));
}

TEST_F(HostPresentationsTest, AnEmptyPresentationAnswersNothingAndGrabsNothing) {
    ScriptResult r = run("e = FenraVideoPresentation.Constructor()\n"
                         "e.play(1.0)\n"
                         "e.stop()\n"
                         "e.playAction(4)\n"
                         "e.update()\n"
                         "print e.samplesCount\n"
                         "print e.sampleID\n"
                         "print e.isPlaying\n"
                         "print e.isValid\n"
                         "print e.startIdling()\n"
                         "print e.grabRawImage(32)\n"
                         "print e.grabFrame()\n"
                         "App.DoEvents(100)\n");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> expected = {"0", "0", "false", "false", "false", "nil", "nil"};
    EXPECT_EQ(r.lines, expected);
}

TEST_F(HostPresentationsTest, PlayingOnTheSteadyClockMovesOnWithTime) {
    ScriptResult r = run("p = PresentationProbe.movieVideo(\"@DIR@/movie.mov\")\n"
                         "p.play(1.0)\n"
                         "App.DoEvents(300)\n"
                         "print p.currentTime\n"
                         "p.stop()\n",
                         "--desktop");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_GT(std::atoi(r.lines[0].c_str()), 0);
}

TEST_F(HostPresentationsTest, AMovieFileOpensWithWhatFFprobeReports) {
    const std::string probe =
        testsupport::run("ffprobe -v error -select_streams v:0 -show_entries stream=codec_type "
                         "-of default=noprint_wrappers=1:nokey=1 '" +
                         movie() + "'");
    ASSERT_EQ(probe, "video\n");
    testsupport::writeFile(dir.file("text.txt"), "not a movie");
    ScriptResult r = run("m = FenraMovie.Constructor(\"@DIR@/movie.mov\")\n"
                         "print m.isValid\n"
                         "print m.duration\n"
                         "print m.timeScale\n"
                         "print m.hasVideo\n"
                         "t = FenraMovie.Constructor(\"@DIR@/text.txt\")\n"
                         "print t.isValid\n"
                         "print t.duration\n"
                         "print t.hasVideo\n"
                         "n = FenraMovie.Constructor(nil)\n"
                         "print n.isValid\n",
                         "");
    ASSERT_EQ(r.status, 0) << r.err;
    // One second in the file's time scale.
    const std::vector<std::string> expected = {"true",  "1000", "1000",  "true",
                                               "false", "0",    "false", "false"};
    EXPECT_EQ(r.lines, expected);
}

TEST_F(HostPresentationsTest, ValueClassesTakeTheirFieldsInConsolePrograms) {
    ScriptResult r = run("pt = FenraPoint.Constructor(3, -4)\n"
                         "print pt.x\n"
                         "pt.y = 7\n"
                         "print pt.y\n"
                         "rc = FenraRect.Constructor(10, 20, 110, 70)\n"
                         "print rc.width\n"
                         "print rc.height\n"
                         "rc.right = 100000\n"
                         "print rc.right\n"
                         "tr = FenraTimeRange.Constructor(100, 400)\n"
                         "tr.duration = 500\n"
                         "print tr.start\n"
                         "print tr.duration\n"
                         "nr = FenraNumericalRange.Constructor(-1.5, 2.5)\n"
                         "nr.end = 3.25\n"
                         "print nr.start\n"
                         "print nr.end\n"
                         "e = FenraPoint.Constructor()\n"
                         "print e.x\n",
                         "");
    ASSERT_EQ(r.status, 0) << r.err;
    // A rectangle's edges are 16-bit: a larger one is held at the end of the range.
    const std::vector<std::string> expected = {"3",   "7",   "100",  "50",   "32767",
                                               "100", "500", "-1.5", "3.25", "0"};
    EXPECT_EQ(r.lines, expected);
}

} // namespace
