// Host scripts, run as a program with windows on the manual clock, that play a DICOM document's
// presentation with play() alone and read the modality values of rescaled CT frames: the raw
// values and their statistics beside pydicom's modality LUT and numpy, and the windowed frame
// beside DCMTK's dcmj2pnm with the same window.
#include "PluginDesktopScript.h"
#include "PythonPeer.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

namespace {

using plugintest::DesktopResult;
using plugintest::runDesktopScript;

std::string corpus(const std::string& name) {
    return std::string(testsupport::pydicomTestFiles()) + "/" + name;
}

// play() alone steps the frames under the host's pump: the presentation's timer starts with it,
// and a timer the program stopped starts again with the next play(). A one-frame document has
// nothing to step and gets no timer.
TEST(PluginPlaybackScript, PlayAloneStepsTheFramesUnderThePump) {
    testsupport::ScratchDir dir("plugin-playback");
    ASSERT_EQ(plugintest::makeTenFrameFile(dir), 0);
    DesktopResult r = runDesktopScript(dir, "d = FenraDicomDocument.Constructor(\"@MULTI@\")\n"
                                            "v = d.displayContext()\n"
                                            "print v.autoIdling\n"
                                            "print v.idlingPeriod\n"
                                            "v.play(1.0)\n"
                                            "print v.autoIdling\n"
                                            "print v.isPlaying\n"
                                            "App.DoEvents(200)\n"
                                            "print v.currentTime\n"
                                            "print v.sampleID\n"
                                            "App.DoEvents(100000)\n"
                                            "print v.isPlaying\n"
                                            "print v.isDone\n"
                                            "print v.sampleID\n"
                                            "v.playAction(1)\n"
                                            "print v.sampleID\n"
                                            "print v.stopIdling()\n"
                                            "print v.autoIdling\n"
                                            "v.play(1.0)\n"
                                            "print v.autoIdling\n"
                                            "App.DoEvents(100000)\n"
                                            "print v.sampleID\n"
                                            "c = FenraDicomDocument.Constructor(\"" +
                                                corpus("CT_small.dcm") +
                                                "\")\n"
                                                "w = c.displayContext()\n"
                                                "w.play(1.0)\n"
                                                "print w.isPlaying\n"
                                                "print w.autoIdling\n"
                                                "App.DoEvents(1000)\n"
                                                "print w.sampleID\n");
    ASSERT_EQ(r.status, 0) << r.err;
    // 25 frames a second on a 40 ms timer; 200 ms are 120 units of the time scale of 600: the
    // sixth frame.
    const std::vector<std::string> expected = {"false", "40",   "true",  "true",  "120",  "6",
                                               "false", "true", "10",    "1",     "true", "false",
                                               "true",  "10",   "false", "false", "1"};
    EXPECT_EQ(r.lines, expected);
}

// Rescaled CT frames: pydicom's CT_small (signed, slope 1, intercept -1024) and four frames made
// from it as unsigned 12-bit samples with slope 2.5 and intercept -1024, each frame 7 higher
// than the one before, so that odd samples land on half units.
const char* kMakeRescaledPeer = R"(import sys
import numpy as np
import pydicom
ds = pydicom.dcmread(sys.argv[1])
f = ds.pixel_array.astype(np.int32)
ds.PixelData = np.stack([f + 7 * i for i in range(4)]).astype(np.uint16).tobytes()
ds.PixelRepresentation = 0
ds.BitsStored = 12
ds.HighBit = 11
ds.RescaleSlope = '2.5'
ds.RescaleIntercept = '-1024'
ds.NumberOfFrames = 4
ds.save_as(sys.argv[2])
)";

// The modality values of frame argv[2] at the points, then the count, mean, minimum, maximum and
// both deviations over the rectangle. The presentation answers in whole modality units (the
// rescaled value in single precision, truncated toward zero), so the LUT's values are truncated
// the same way.
const char* kModalityPeer = R"(import sys
import numpy as np
import pydicom
from pydicom.pixel_data_handlers.util import apply_modality_lut
ds = pydicom.dcmread(sys.argv[1])
a = ds.pixel_array
if int(getattr(ds, 'NumberOfFrames', 1)) > 1:
    a = a[int(sys.argv[2])]
lut = apply_modality_lut(a, ds)
ours = np.trunc(a.astype(np.float32) * np.float32(ds.RescaleSlope) + np.float32(ds.RescaleIntercept))
assert np.all(np.abs(ours - lut) < 1.0)
values = np.trunc(lut)
for x, y in [(0, 0), (31, 17), (127, 127), (64, 90)]:
    print(repr(float(values[y, x])))
roi = values[8:40, 4:24]
print(roi.size)
print(repr(roi.mean()))
print(repr(roi.min()))
print(repr(roi.max()))
print(repr(roi.std(ddof=0)))
print(repr(roi.std(ddof=1)))
print(int(np.count_nonzero(lut != values)))
)";

TEST(PluginPlaybackScript, RescaledFramesGiveModalityValuesAndRenderAsDcmj2pnm) {
    testsupport::ScratchDir dir("plugin-rescaled");
    int made = -1;
    const std::string said =
        testsupport::run("/usr/bin/python3 " + testsupport::writePeerScript(dir, kMakeRescaledPeer) + " '" +
                             corpus("CT_small.dcm") + "' '" + dir.file("rescaled.dcm") + "' 2>&1",
                         &made);
    ASSERT_EQ(made, 0) << said;
    struct Case {
        std::string file;
        int frame;
        const char* centre;
        const char* width;
        bool halves;
    };
    const Case cases[] = {
        {corpus("CT_small.dcm"), 0, "40", "400", false},
        {dir.file("rescaled.dcm"), 0, "40", "400", true},
        {dir.file("rescaled.dcm"), 2, "1000", "3000", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file + " frame " + std::to_string(c.frame));
        std::string script = "d = FenraDicomDocument.Constructor(\"" + c.file +
                             "\")\n"
                             "v = d.displayContext()\n";
        // One sample forward at a time, to the frame asked for.
        for (int i = 0; i < c.frame; ++i)
            script += "v.playAction(4)\n";
        script += "print v.sampleID\n";
        for (const char* point : {"0, 0", "31, 17", "127, 127", "64, 90"})
            script += std::string("p = FenraPoint.Constructor(") + point + ")\nprint v.rawValueAtPoint(p)\n";
        script += "roi = FenraRect.Constructor(4, 8, 24, 40)\n"
                  "s = v.rawValuesStatistics(roi)\n"
                  "print s.count\n"
                  "print s.mean\n"
                  "print s.min\n"
                  "print s.max\n"
                  "print s.stdDeviation\n"
                  "v.windowCenter = " +
                  std::string(c.centre) + "\nv.windowWidth = " + c.width +
                  "\n"
                  "img = v.grabRawImage(40)\n"
                  "print img.saveAsPNG(\"@DIR@/grab.png\")\n";
        DesktopResult r = runDesktopScript(dir, script);
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(r.lines.size(), 11u) << r.err;
        EXPECT_EQ(r.lines[0], std::to_string(c.frame + 1));
        EXPECT_EQ(r.lines[10], "0");

        const std::string peer =
            testsupport::run("/usr/bin/python3 " + testsupport::writePeerScript(dir, kModalityPeer) + " '" +
                             c.file + "' " + std::to_string(c.frame) + " 2>&1");
        std::istringstream words(peer);
        std::vector<double> expected;
        for (double value; words >> value;)
            expected.push_back(value);
        ASSERT_EQ(expected.size(), 11u) << peer;
        for (size_t i = 0; i < 4; ++i)
            EXPECT_EQ(std::stod(r.lines[1 + i]), expected[i]) << "point " << i;
        EXPECT_EQ(std::stod(r.lines[5]), expected[4]);
        EXPECT_NEAR(std::stod(r.lines[6]), expected[5], 1e-6);
        EXPECT_EQ(std::stod(r.lines[7]), expected[6]);
        EXPECT_EQ(std::stod(r.lines[8]), expected[7]);
        const double deviation = std::stod(r.lines[9]);
        EXPECT_TRUE(std::abs(deviation - expected[8]) < 1e-3 || std::abs(deviation - expected[9]) < 1e-3)
            << deviation << " vs " << expected[8] << " / " << expected[9];
        // The slope of 2.5 puts odd samples on half units, which the fixture must contain.
        EXPECT_EQ(expected[10] > 0, c.halves) << peer;

        int rendered = -1;
        const std::string dcmtk =
            testsupport::run("dcmj2pnm +F " + std::to_string(c.frame + 1) + " +Ww " + c.centre + " " +
                                 c.width + " '" + c.file + "' '" + dir.file("peer.pgm") + "' 2>&1",
                             &rendered);
        ASSERT_EQ(rendered, 0) << dcmtk;
        const std::string compared =
            testsupport::run("/usr/bin/python3 " + testsupport::writePeerScript(dir, plugintest::kCompareGreyPeer) +
                             " '" + dir.file("grab.png") + "' '" + dir.file("peer.pgm") + "' 2>&1");
        std::istringstream grey(compared);
        std::string what;
        int maxDiff = -1, spread = -1;
        grey >> what >> maxDiff >> what >> spread;
        EXPECT_GE(maxDiff, 0) << compared;
        EXPECT_LE(maxDiff, 1) << compared;
        // A window that leaves the frame one flat grey would hide a wrong mapping.
        EXPECT_GT(spread, 16) << compared;
    }
}

} // namespace
