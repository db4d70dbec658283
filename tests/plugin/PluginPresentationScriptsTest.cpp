// Host scripts that drive a DICOM document's presentation end to end, as a program with windows
// does: its window set from the script and the grabbed frame beside DCMTK's dcmj2pnm with the same
// window, its raw values and their statistics beside pydicom's pixel array, and its raw movie
// beside ffprobe's count and size.
#include "PluginDesktopScript.h"
#include "PythonPeer.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using Result = plugintest::DesktopResult;
using plugintest::runDesktopScript;


class PluginPresentationScripts : public ::testing::Test {
protected:
    PluginPresentationScripts() : dir_("plugin-presentation-scripts") {}

    void SetUp() override {
        std::string said;
        ASSERT_EQ(plugintest::makeTenFrameFile(dir_, &said), 0) << said;
    }

    testsupport::ScratchDir dir_;
};

// The first frame grabbed in grey after the script set the window, against dcmj2pnm's rendering of
// the same frame with the same window: no pixel more than one grey level away.
TEST_F(PluginPresentationScripts, AWindowSetByTheScriptGrabsAsDcmj2pnmRendersIt) {
    struct Case {
        const char* centre;
        const char* width;
        const char* grab;
    };
    // The grey grab and the drawn frame, with windows inside and across MR_small's values.
    const Case cases[] = {
        {"600", "800", "grabRawImage(40)"},
        {"1000", "400", "grabRawImage(40)"},
        {"600", "800", "grabFrame()"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.grab) + " " + c.centre + "/" + c.width);
        Result r = runDesktopScript(dir_, std::string("d = FenraDicomDocument.Constructor(\"@MULTI@\")\n"
                                                      "v = d.displayContext()\n"
                                                      "v.windowCenter = ") +
                                              c.centre + "\nv.windowWidth = " + c.width +
                                              "\nprint v.windowCenter\n"
                                              "print v.windowWidth\n"
                                              "img = v." +
                                              c.grab +
                                              "\n"
                                              "print img.width\n"
                                              "print img.height\n"
                                              "print img.saveAsPNG(\"@DIR@/grab.png\")\n");
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<std::string> expected = {c.centre, c.width, "64", "64", "0"};
        EXPECT_EQ(r.lines, expected);
        int rendered = -1;
        const std::string said =
            testsupport::run(std::string("dcmj2pnm +F 1 +Ww ") + c.centre + " " + c.width + " '" +
                                 dir_.file("multi.dcm") + "' '" + dir_.file("peer.pgm") + "' 2>&1",
                             &rendered);
        ASSERT_EQ(rendered, 0) << said;
        const std::string compared = testsupport::run(
            "/usr/bin/python3 " + testsupport::writePeerScript(dir_, plugintest::kCompareGreyPeer) + " '" +
            dir_.file("grab.png") + "' '" + dir_.file("peer.pgm") + "' 2>&1");
        std::istringstream words(compared);
        std::string what;
        int maxDiff = -1, spread = -1;
        words >> what >> maxDiff >> what >> spread;
        EXPECT_GE(maxDiff, 0) << compared;
        EXPECT_LE(maxDiff, 1) << compared;
        // A window that leaves the frame one flat grey would hide a wrong mapping.
        EXPECT_GT(spread, 16) << compared;
    }
}

// The raw values of the first frame at a few points and over a rectangle, against pydicom's pixel
// array with the modality rescale; numpy gives the statistics. Points off the frame have no value.
const char* kRawValuesPeer = R"(import sys
import numpy as np
import pydicom
ds = pydicom.dcmread(sys.argv[1])
frame = ds.pixel_array[0].astype(np.float64)
frame = frame * float(getattr(ds, 'RescaleSlope', 1)) + float(getattr(ds, 'RescaleIntercept', 0))
for x, y in [(0, 0), (31, 17), (63, 63), (5, 40)]:
    print(repr(float(frame[y, x])))
roi = frame[8:40, 4:24]
print(roi.size)
print(repr(roi.mean()))
print(repr(roi.min()))
print(repr(roi.max()))
print(repr(roi.std(ddof=0)))
print(repr(roi.std(ddof=1)))
)";

TEST_F(PluginPresentationScripts, RawValuesAndTheirStatisticsArePydicomsRescaledPixels) {
    Result r = runDesktopScript(dir_, "d = FenraDicomDocument.Constructor(\"@MULTI@\")\n"
                                      "v = d.displayContext()\n"
                                      "p = FenraPoint.Constructor(0, 0)\n"
                                      "print v.rawValueAtPoint(p)\n"
                                      "p = FenraPoint.Constructor(31, 17)\n"
                                      "print v.rawValueAtPoint(p)\n"
                                      "p = FenraPoint.Constructor(63, 63)\n"
                                      "print v.rawValueAtPoint(p)\n"
                                      "p = FenraPoint.Constructor(5, 40)\n"
                                      "print v.rawValueAtPoint(p)\n"
                                      "p = FenraPoint.Constructor(64, 10)\n"
                                      "print v.rawValueAtPoint(p)\n"
                                      "p = FenraPoint.Constructor(-1, 10)\n"
                                      "print v.rawValueAtPoint(p)\n"
                                      "roi = FenraRect.Constructor(4, 8, 24, 40)\n"
                                      "s = v.rawValuesStatistics(roi)\n"
                                      "print s.count\n"
                                      "print s.mean\n"
                                      "print s.min\n"
                                      "print s.max\n"
                                      "print s.stdDeviation\n"
                                      "outside = FenraRect.Constructor(100, 100, 120, 120)\n"
                                      "e = v.rawValuesStatistics(outside)\n"
                                      "print e.count\n");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.lines.size(), 12u) << r.err;
    const std::string said = testsupport::run("/usr/bin/python3 " +
                                              testsupport::writePeerScript(dir_, kRawValuesPeer) + " '" +
                                              dir_.file("multi.dcm") + "' 2>&1");
    std::istringstream peer(said);
    std::vector<double> expected;
    for (double value; peer >> value;)
        expected.push_back(value);
    ASSERT_EQ(expected.size(), 10u) << said;
    for (size_t i = 0; i < 4; ++i)
        EXPECT_DOUBLE_EQ(std::stod(r.lines[i]), expected[i]) << "point " << i;
    EXPECT_EQ(r.lines[4], "0");
    EXPECT_EQ(r.lines[5], "0");
    EXPECT_EQ(std::stod(r.lines[6]), expected[4]);
    EXPECT_NEAR(std::stod(r.lines[7]), expected[5], 1e-6);
    EXPECT_DOUBLE_EQ(std::stod(r.lines[8]), expected[6]);
    EXPECT_DOUBLE_EQ(std::stod(r.lines[9]), expected[7]);
    // Either the population's or the sample's deviation, as long as it is one of them.
    const double deviation = std::stod(r.lines[10]);
    EXPECT_TRUE(std::abs(deviation - expected[8]) < 1e-3 || std::abs(deviation - expected[9]) < 1e-3)
        << deviation << " vs " << expected[8] << " / " << expected[9];
    EXPECT_EQ(r.lines[11], "0");
}

// The raw movie of every frame, and of three frames from the third on, read back by ffprobe. The
// range is counted in the presentation's own sample durations, read by a first script.
TEST_F(PluginPresentationScripts, ARawMovieWrittenByTheScriptHoldsTheFramesAtTheirSize) {
    Result first = runDesktopScript(dir_, "d = FenraDicomDocument.Constructor(\"@MULTI@\")\n"
                                          "v = d.displayContext()\n"
                                          "v.outputToRawMovie(\"@DIR@/all.mov\", nil)\n"
                                          "print v.samplesCount\n"
                                          "print v.sampleDuration\n");
    ASSERT_EQ(first.status, 0) << first.err;
    ASSERT_EQ(first.lines.size(), 2u) << first.err;
    EXPECT_EQ(first.lines[0], "10");
    const long sample = std::stol(first.lines[1]);
    ASSERT_GT(sample, 0);
    Result part = runDesktopScript(dir_, "d = FenraDicomDocument.Constructor(\"@MULTI@\")\n"
                                         "v = d.displayContext()\n"
                                         "r = FenraTimeRange.Constructor(" +
                                             std::to_string(2 * sample) + ", " + std::to_string(3 * sample) +
                                             ")\n"
                                             "v.outputToRawMovie(\"@DIR@/part.mov\", r)\n");
    ASSERT_EQ(part.status, 0) << part.err;
    const std::pair<const char*, const char*> cases[] = {{"all.mov", "64,64,10\n"}, {"part.mov", "64,64,3\n"}};
    for (const auto& [name, expected] : cases) {
        SCOPED_TRACE(name);
        int probed = -1;
        const std::string said = testsupport::run(
            "ffprobe -v error -select_streams v:0 -count_frames -show_entries "
            "stream=width,height,nb_read_frames -of csv=p=0 '" +
                dir_.file(name) + "' 2>&1",
            &probed);
        EXPECT_EQ(probed, 0) << said;
        EXPECT_EQ(said, expected);
    }
}

} // namespace
