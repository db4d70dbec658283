// Scripts run by the host program as a program with windows on the manual clock, with the
// companion and the plug-in under test, over a ten-frame DICOM file made at test time.
#pragma once

#include "PythonPeer.h"
#include "TestFiles.h"

#include <sstream>
#include <string>
#include <vector>

namespace plugintest {

struct DesktopResult {
    int status;
    std::vector<std::string> lines;
    std::string err;
};

// @MULTI@ stands for the ten-frame file of makeTenFrameFile, @DIR@ for the scratch folder.
inline DesktopResult runDesktopScript(const testsupport::ScratchDir& dir, std::string text) {
    for (size_t at; (at = text.find("@MULTI@")) != std::string::npos;)
        text.replace(at, 7, dir.file("multi.dcm"));
    for (size_t at; (at = text.find("@DIR@")) != std::string::npos;)
        text.replace(at, 5, dir.path());
    testsupport::writeFile(dir.file("script.txt"), text);
    int status = -1;
    const std::string out =
        testsupport::run(std::string(SYLMARK_HOST_PROGRAM) + " --desktop --manual-clock --plugin " +
                             FENRA_BASE_PLUGIN + " --plugin " + PLUGIN_UNDER_TEST + " --script " +
                             dir.file("script.txt") + " 2>" + dir.file("err"),
                         &status);
    DesktopResult r{status, {}, testsupport::readFile(dir.file("err"))};
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        r.lines.push_back(line);
    return r;
}

// Ten 64 x 64 frames of pydicom's MR_small, each a little brighter than the one before, written
// as the scratch folder's multi.dcm; pydicom's exit status (0 when made) and what it said.
inline int makeTenFrameFile(const testsupport::ScratchDir& dir, std::string* said = nullptr) {
    static const char* kPeer = R"(import sys
import numpy as np
import pydicom
ds = pydicom.dcmread(sys.argv[1])
frame = ds.pixel_array.astype(np.int16)
ds.PixelData = np.stack([frame + 10 * i for i in range(10)]).astype(frame.dtype).tobytes()
ds.NumberOfFrames = 10
ds.save_as(sys.argv[2])
)";
    int made = -1;
    const std::string out = testsupport::run("/usr/bin/python3 " + testsupport::writePeerScript(dir, kPeer) +
                                                 " '" + testsupport::pydicomTestFiles() + "/MR_small.dcm' '" +
                                                 dir.file("multi.dcm") + "' 2>&1",
                                             &made);
    if (said) *said = out;
    return made;
}

// Two 8-bit pictures side by side (ours first): their shapes, or the largest difference of a pixel
// and the spread of the second picture's grey levels.
inline const char* kCompareGreyPeer = R"(import sys
import numpy as np
from PIL import Image
ours = np.asarray(Image.open(sys.argv[1]).convert('L'), dtype=np.int32)
theirs = np.asarray(Image.open(sys.argv[2]).convert('L'), dtype=np.int32)
if ours.shape != theirs.shape:
    print('shape', ours.shape, theirs.shape)
else:
    print('max', int(np.abs(ours - theirs).max()), 'spread', int(theirs.max() - theirs.min()))
)";

} // namespace plugintest
