// The plug-in's presentations in host scripts: its pump runs its timers from the host's event
// loop, and the companion's presentation members drive a DICOM document's frames.
#include "HostRuntime.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

TEST(PluginPresentationScript, ThePlugInRegistersItsPumpAtEntry) {
    sylhost::HostRuntime host(false);
    host.useManualClock(true);
    std::string error;
    ASSERT_EQ(host.loadPlugin(FENRA_BASE_PLUGIN, error), 0) << error;
    EXPECT_EQ(host.eventPumpCount(), 1u);
    ASSERT_EQ(host.loadPlugin(PLUGIN_UNDER_TEST, error), 1) << error;
    EXPECT_EQ(host.eventPumpCount(), 2u);
    host.runEventLoop(50);
    host.runEventLoop(0);
}

struct Result {
    int status;
    std::vector<std::string> lines;
    std::string err;
};

Result runDesktopScript(const testsupport::ScratchDir& dir, std::string text) {
    for (size_t at; (at = text.find("@CORPUS@")) != std::string::npos;)
        text.replace(at, 8, testsupport::pydicomTestFiles());
    for (size_t at; (at = text.find("@DIR@")) != std::string::npos;)
        text.replace(at, 5, dir.path());
    testsupport::writeFile(dir.file("script.txt"), text);
    int status = -1;
    const std::string out =
        testsupport::run(std::string(SYLMARK_HOST_PROGRAM) + " --desktop --manual-clock --plugin " +
                             FENRA_BASE_PLUGIN + " --plugin " + PLUGIN_UNDER_TEST + " --script " +
                             dir.file("script.txt") + " 2>" + dir.file("err"),
                         &status);
    Result r{status, {}, testsupport::readFile(dir.file("err"))};
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        r.lines.push_back(line);
    return r;
}

// emri_small.dcm: ten 64 x 64 frames.
TEST(PluginPresentationScript, AMultiFrameDocumentPlaysStepsAndGrabsUnderThePump) {
    testsupport::ScratchDir dir("plugin-presentation");
    Result probe = runDesktopScript(dir, "d = FenraDicomDocument.Constructor(\"@CORPUS@/emri_small.dcm\")\n"
                                         "v = d.displayContext()\n"
                                         "print v\n");
    ASSERT_EQ(probe.status, 0) << probe.err;
    ASSERT_FALSE(probe.lines.empty());
    if (probe.lines[0] == "nil") GTEST_SKIP() << "this build's documents have no video presentation";

    Result r = runDesktopScript(dir, "d = FenraDicomDocument.Constructor(\"@CORPUS@/emri_small.dcm\")\n"
                                     "v = d.displayContext()\n"
                                     "print v.samplesCount\n"
                                     "v.playAction(2)\n"
                                     "print v.sampleID\n"
                                     "v.playAction(1)\n"
                                     "print v.currentTime\n"
                                     "print v.sampleID\n"
                                     "v.play(1.0)\n"
                                     "print v.isPlaying\n"
                                     "App.DoEvents(100000)\n"
                                     "print v.isPlaying\n"
                                     "print v.sampleID\n"
                                     "v.brightness = 30\n"
                                     "print v.brightness\n"
                                     "v.contrast = 10\n"
                                     "print v.contrast\n"
                                     "img = v.grabFrame()\n"
                                     "print img.width\n"
                                     "print img.height\n"
                                     "print img.saveAsPNG(\"@DIR@/frame.png\")\n");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> expected = {"10", "10", "0",  "1",  "true", "false",
                                               "10", "30", "10", "64", "64",   "0"};
    EXPECT_EQ(r.lines, expected);
    const std::string png = testsupport::run(
        "/usr/bin/python3 -c \"import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
        "print(im.format, im.size[0], im.size[1])\" '" +
        dir.file("frame.png") + "'");
    EXPECT_EQ(png, "PNG 64 64\n");
}

} // namespace
