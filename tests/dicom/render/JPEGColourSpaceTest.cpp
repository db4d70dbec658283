// JPEG baseline colour frames take their colour transform from Photometric Interpretation (RGB:
// none unless an Adobe marker says otherwise; YBR: YCbCr to RGB), not from the codec's guess:
// every pixel of the corpus's RGB frames equals pydicom's decode, through both ways the platform
// decodes a described frame (into a picture, and straight into a 32-bit world's rows).
#include "KelvoCoreVideoDataDescriptors.h"
#include "PixelDrawerFixtures.h"
#include "PlatformCodecRegistry.h"
#include "PythonPeer.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using testsupport::ScratchDir;

// Writes frame 0 of the file's pixel_array (rows x columns x 3 bytes) to the output path.
constexpr const char* kPeer = R"(
import sys, warnings
warnings.simplefilter('ignore')
import numpy as np, pydicom
a = pydicom.dcmread(sys.argv[1]).pixel_array
open(sys.argv[2], 'wb').write(np.ascontiguousarray(a, dtype=np.uint8).tobytes())
)";

struct Decoded {
    std::vector<uint8_t> rgb;  // through a picture
    std::vector<uint8_t> argb; // straight into 32-bit rows
    OSErr pictureStatus = -1;
    OSErr rowsStatus = -1;
};

Decoded decodeFrame(drawertest::FileFrame& file) {
    Decoded out;
    std::unique_ptr<Kelvo_ImgDesc> desc(file.imagePixel->ImageParams());
    if (!desc) return out;
    platform::codec::Picture picture;
    out.pictureStatus =
        platform::codecDecodeFrame(desc->hImageDesc(), file.stored.data(), file.stored.size(), picture);
    out.rgb = picture.samples;
    platform::codec::RowTarget target;
    target.width = desc->qtWidth();
    target.height = desc->qtHeight();
    target.rowBytes = size_t(target.width) * 4 + 12; // rows longer than their pixels
    out.argb.assign(target.rowBytes * size_t(target.height), 0);
    target.base = out.argb.data();
    out.rowsStatus =
        platform::codecDecodeFrameInto(desc->hImageDesc(), file.stored.data(), file.stored.size(), target);
    return out;
}

TEST(JPEGColourSpace, RGBFramesEqualPydicomEveryPixel) {
    ScratchDir dir("jpeg-colour-space");
    const std::string script = testsupport::writePeerScript(dir, kPeer);
    // The two without a colour transform (one bare, one with an Adobe marker saying so), and the
    // corpus's other RGB baseline frames, which the same rule must keep as they were.
    const char* files[] = {"SC_jpeg_no_color_transform.dcm", "SC_jpeg_no_color_transform_2.dcm",
                           "SC_rgb_jpeg_app14_dcmd.dcm", "SC_rgb_dcmtk_+eb+cr.dcm",
                           "SC_rgb_jpeg_lossy_gdcm.dcm"};
    for (const char* name : files) {
        SCOPED_TRACE(name);
        const std::string path = std::string(testsupport::pydicomTestFiles()) + "/" + name;
        drawertest::FileFrame file(path);
        ASSERT_TRUE(file.imagePixel);
        ASSERT_STREQ(file.imagePixel->PhotoInterpretation(), "RGB");
        const std::string peerOut = dir.file(std::string(name) + ".rgb");
        ASSERT_EQ(testsupport::runPeerScript(script, "'" + path + "' '" + peerOut + "'"), "");
        const std::string theirs = testsupport::readFile(peerOut);
        const Decoded ours = decodeFrame(file);
        ASSERT_EQ(ours.pictureStatus, noErr);
        ASSERT_EQ(ours.rowsStatus, noErr);
        const uint32_t width = file.imagePixel->getUSValueProperty(0x0011);
        const uint32_t height = file.imagePixel->getUSValueProperty(0x0010);
        ASSERT_EQ(theirs.size(), size_t(width) * height * 3);
        ASSERT_EQ(ours.rgb.size(), theirs.size());
        size_t differ = 0;
        const size_t rowBytes = size_t(width) * 4 + 12;
        for (uint32_t y = 0; y < height; ++y) {
            for (uint32_t x = 0; x < width; ++x) {
                const size_t i = (size_t(y) * width + x) * 3;
                const uint8_t* argb = ours.argb.data() + y * rowBytes + size_t(x) * 4;
                bool same = argb[0] == 255;
                for (int c = 0; c < 3; ++c)
                    same =
                        same && uint8_t(theirs[i + c]) == ours.rgb[i + c] && argb[1 + c] == ours.rgb[i + c];
                differ += !same;
            }
        }
        EXPECT_EQ(differ, 0u);
        if (std::string(name) == "SC_jpeg_no_color_transform.dcm") {
            const size_t i = (size_t(100) * width + 100) * 3;
            EXPECT_EQ(ours.rgb[i], 244);
            EXPECT_EQ(ours.rgb[i + 1], 244);
            EXPECT_EQ(ours.rgb[i + 2], 244);
        }
    }
}

// YBR frames are YCbCr whatever their markers say; without the description's word (a bare
// stream) the codec keeps reading the markers; the same codestream said to be RGB comes out as
// stored, which is what pydicom's pixel_array holds for YBR_FULL.
TEST(JPEGColourSpace, YBRFramesAreConvertedAndBareStreamsFollowTheirMarkers) {
    ScratchDir dir("jpeg-colour-space-ybr");
    const std::string script = testsupport::writePeerScript(dir, kPeer);
    const std::string path = std::string(testsupport::pydicomTestFiles()) + "/SC_rgb_jpeg_dcmtk.dcm";
    drawertest::FileFrame file(path);
    ASSERT_TRUE(file.imagePixel);
    ASSERT_STREQ(file.imagePixel->PhotoInterpretation(), "YBR_FULL");
    const Decoded described = decodeFrame(file);
    ASSERT_EQ(described.pictureStatus, noErr);
    platform::codec::Picture bare;
    ASSERT_EQ(
        platform::codec::decode(platform::codec::Format::JPEG, file.stored.data(), file.stored.size(), bare),
        noErr);
    EXPECT_EQ(described.rgb, bare.samples); // JFIF: YCbCr both ways
    platform::codec::Picture stored;
    platform::codec::DecodeOptions rgb;
    rgb.colour = platform::codec::ColourSpace::RGB;
    ASSERT_EQ(platform::codec::decode(platform::codec::Format::JPEG, file.stored.data(), file.stored.size(),
                                      stored, rgb),
              noErr);
    const std::string peerOut = dir.file("ybr.raw");
    ASSERT_EQ(testsupport::runPeerScript(script, "'" + path + "' '" + peerOut + "'"), "");
    const std::string theirs = testsupport::readFile(peerOut);
    ASSERT_EQ(theirs.size(), stored.samples.size());
    EXPECT_EQ(std::memcmp(theirs.data(), stored.samples.data(), theirs.size()), 0);
    EXPECT_NE(stored.samples, bare.samples);
}

} // namespace
