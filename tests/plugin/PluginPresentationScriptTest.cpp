// The plug-in's presentations in host scripts: its pump runs its timers from the host's event
// loop, and the companion's presentation members drive a DICOM document's frames.
#include "HostRuntime.h"
#include "PluginDesktopScript.h"
#include "PythonPeer.h"
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

using Result = plugintest::DesktopResult;
using plugintest::runDesktopScript;


TEST(PluginPresentationScript, AMultiFrameDocumentPlaysStepsAndGrabsUnderThePump) {
    testsupport::ScratchDir dir("plugin-presentation");
    ASSERT_EQ(plugintest::makeTenFrameFile(dir), 0);
    Result r = runDesktopScript(dir, "d = FenraDicomDocument.Constructor(\"@MULTI@\")\n"
                                     "v = d.displayContext()\n"
                                     "print v.samplesCount\n"
                                     "v.playAction(2)\n"
                                     "print v.sampleID\n"
                                     "v.playAction(1)\n"
                                     "print v.currentTime\n"
                                     "print v.sampleID\n"
                                     "print v.startIdling()\n"
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
    // The presentation's own timer steps the frames: the program starts it, then plays.
    const std::vector<std::string> expected = {"10", "10", "0",  "1",  "true", "true", "false",
                                               "10", "30", "10", "64", "64",   "0"};
    EXPECT_EQ(r.lines, expected);
    const std::string png = testsupport::run(
        "/usr/bin/python3 -c \"import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
        "print(im.format, im.size[0], im.size[1])\" '" +
        dir.file("frame.png") + "'");
    EXPECT_EQ(png, "PNG 64 64\n");
}

} // namespace
