// Host programs that convert image files and movie files into DICOM files, run by the host program
// as programs with windows with the companion and the Cocoa build. The images are PNG files that
// PIL makes, the movies files that ffmpeg makes; the companion reads them, the converters write
// them. pydicom reads back the pixels (exactly for PNG and the movies' PNG codec, within the
// decoders' differences for Motion JPEG), dcmdump the attributes, and dciodvfy finds no error in a
// converted file that its source file did not have already. The program follows the conversion
// through a subclass of FenraProgressCallback whose sub prints what it is told.
#include "../dicom/render/ConverterFixtures.h"
#include "PluginDesktopScript.h"
#include "PluginScript.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using testsupport::ScratchDir;

// A 512 x 512 grey PNG and a 256 x 256 RGB PNG, with their samples as PIL reads them (name.raw).
constexpr const char* kImages = R"PY(
import sys
import numpy as np
from PIL import Image
out = sys.argv[1]
y, x = np.mgrid[0:512, 0:512]
grey = ((x * 7 + y * 3) % 256).astype(np.uint8)
y, x = np.mgrid[0:256, 0:256]
rgb = np.stack([(x + y) % 256, (3 * x) % 256, (255 - y) % 256], axis=-1).astype(np.uint8)
for name, a, mode in (('grey', grey, 'L'), ('rgb', rgb, 'RGB')):
    Image.fromarray(a, mode).save(out + '/' + name + '.png')
    open(out + '/' + name + '.raw', 'wb').write(np.asarray(Image.open(out + '/' + name + '.png')).tobytes())
)PY";

bool makeImages(const ScratchDir& dir) {
    const std::string script = testsupport::writePeerScript(dir, kImages);
    const std::string said = testsupport::runPeerScript(script, "'" + dir.path().string() + "'");
    EXPECT_EQ(said, "");
    return said.empty();
}

// Three 256 x 256 frames of ffmpeg's test pattern in a QuickTime file of the codec that the video
// options give, and the frames as ffmpeg decodes them (R, G, B bytes).
bool makeMovie(const ScratchDir& dir, const std::string& codec) {
    int status = -1;
    std::string said =
        testsupport::run("ffmpeg -v error -y -f lavfi -i testsrc2=size=256x256:rate=5 -frames:v 3 " + codec +
                             " -f mov '" + dir.file("clip.mov") + "' </dev/null 2>&1",
                         &status);
    EXPECT_EQ(status, 0) << said;
    if (status != 0) return false;
    said = testsupport::run("ffmpeg -v error -y -i '" + dir.file("clip.mov") +
                                "' -f rawvideo -pix_fmt rgb24 -sws_flags +accurate_rnd+full_chroma_int '" +
                                dir.file("clip.rgb") + "' </dev/null 2>&1",
                            &status);
    EXPECT_EQ(status, 0) << said;
    return status == 0;
}

std::string corpus(const char* name) {
    return std::string(testsupport::pydicomTestFiles()) + "/" + name;
}

plugintest::DesktopResult run(const ScratchDir& dir, std::string text) {
    plugintest::replaceAll(text, "@CORPUS@", testsupport::pydicomTestFiles());
    return plugintest::runDesktopScript(dir, text);
}

std::string joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const auto& l : lines)
        all += l + "\n";
    return all;
}

// The lines of dciodvfy's errors that `written` has and `source` has not.
std::string newErrors(const std::string& written, const std::string& source) {
    std::set<std::string> known;
    std::istringstream s(convertertest::dciodvfyErrors(source));
    for (std::string l; std::getline(s, l);)
        known.insert(l);
    std::string added;
    std::istringstream w(convertertest::dciodvfyErrors(written));
    for (std::string l; std::getline(w, l);)
        if (!known.count(l)) added += l + "\n";
    return added;
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The sub every conversion below is followed through.
constexpr const char* kShownProgress = R"(class Shown inherits FenraProgressCallback
sub Progress(value as double, status as integer)
print value
print status
end sub
end class
)";

} // namespace

// A grey PNG converted alone (the default 512 x 512 grey pixels) and an RGB PNG under the
// attributes of an RGB file of the corpus keep every sample; the RGB file has the source's
// attributes and no error dciodvfy did not find in the source. The RGB PNG converted alone is
// fitted into the default grey frame.
TEST(PluginConvertScripts, PNGImagesConvertWithTheirExactPixels) {
    ScratchDir dir("plugin-convert-images");
    ASSERT_TRUE(makeImages(dir));
    const plugintest::DesktopResult r =
        run(dir, std::string(kShownProgress) + R"(grey = FenraImage.Constructor("@DIR@/grey.png")
print grey
rgb = FenraImage.Constructor("@DIR@/rgb.png")
print rgb
p = Shown.Constructor()
g = FenraDicomImageConverter.Constructor(grey)
g.progressProc = p
g.convert("@DIR@/grey.dcm")
print g.errorCode()
t = FenraDicomSystem.openFile("@CORPUS@/SC_rgb_jpeg_dcmd.dcm")
c = FenraDicomImageConverter.Constructor(rgb)
c.dicomSource = t
c.progressProc = p
c.convert("@DIR@/rgb.dcm")
print c.errorCode()
r = FenraDicomImageConverter.Constructor(rgb)
r.convert("@DIR@/rgb-alone.dcm")
print r.errorCode()
)");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(joined(r.lines), "FenraImage\n  width = 512\n  height = 512\n  pixelFormat = 40\n  depth = 8\n"
                               "FenraImage\n  width = 256\n  height = 256\n  pixelFormat = 24\n  depth = 24\n"
                               "1\n0\n0\n"
                               "1\n0\n0\n"
                               "0\n");

    const convertertest::Peer grey = convertertest::readBack(dir, dir.file("grey.dcm"));
    EXPECT_EQ(convertertest::line(grey.said, "pixels"), "pixels MONOCHROME2 1 8 8 7") << grey.said;
    EXPECT_EQ(convertertest::line(grey.said, "shape"), "shape 1x512x512 uint8") << grey.said;
    EXPECT_TRUE(grey.samples == testsupport::readFile(dir.file("grey.raw")));
    EXPECT_TRUE(has(convertertest::dcmdump(dir.file("grey.dcm")), "(0028,0010) US 512"));

    const convertertest::Peer rgb = convertertest::readBack(dir, dir.file("rgb.dcm"));
    EXPECT_EQ(convertertest::line(rgb.said, "pixels"), "pixels RGB 3 8 8 7") << rgb.said;
    EXPECT_EQ(convertertest::line(rgb.said, "shape"), "shape 1x256x256x3 uint8") << rgb.said;
    EXPECT_TRUE(rgb.samples == testsupport::readFile(dir.file("rgb.raw")));
    const std::string dump = convertertest::dcmdump(dir.file("rgb.dcm"));
    const std::string source = convertertest::dcmdump(corpus("SC_rgb_jpeg_dcmd.dcm"));
    for (const char* tag : {"(0008,0016)", "(0010,0010)", "(0020,000d)"}) {
        const size_t at = source.find(tag);
        ASSERT_NE(at, std::string::npos) << tag;
        EXPECT_TRUE(has(dump, source.substr(at, source.find('#', at) - at))) << tag << "\n" << dump;
    }
    EXPECT_EQ(newErrors(dir.file("rgb.dcm"), corpus("SC_rgb_jpeg_dcmd.dcm")), "");

    // Alone, the RGB image is fitted to the default 512 x 512 grey frame: each pixel doubled, and
    // weighted to grey.
    const convertertest::Peer alone = convertertest::readBack(dir, dir.file("rgb-alone.dcm"));
    EXPECT_EQ(convertertest::line(alone.said, "pixels"), "pixels MONOCHROME2 1 8 8 7") << alone.said;
    ASSERT_EQ(alone.samples.size(), size_t(512) * 512);
    const std::string pixels = testsupport::readFile(dir.file("rgb.raw"));
    for (int y = 0; y < 512; ++y)
        for (int x = 0; x < 512; ++x) {
            const size_t at = (size_t(y / 2) * 256 + size_t(x / 2)) * 3;
            const uint32_t pixel = uint32_t(uint8_t(pixels[at])) << 16 |
                                   uint32_t(uint8_t(pixels[at + 1])) << 8 | uint32_t(uint8_t(pixels[at + 2]));
            ASSERT_EQ(uint8_t(alone.samples[size_t(y) * 512 + size_t(x)]), convertertest::greyOf(pixel))
                << x << "," << y;
        }
}

// A movie file opened by the companion is converted frame by frame under the attributes of an RGB
// file of the corpus (the converter hands out its copy of the movie, which answers as the movie):
// the program is told the progress of each frame and the final status, and pydicom reads the
// three frames ffmpeg decodes: exactly for a lossless codec, within the decoders' differences for
// Motion JPEG.
TEST(PluginConvertScripts, MovieFilesConvertFrameByFrameWithTheirProgress) {
    if (!testsupport::haveCommand("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    struct Case {
        const char* codec;
        // The largest difference of a sample from ffmpeg's decode, and of their mean: JPEG decoders
        // round their inverse transforms each their own way.
        int tolerance;
        double meanTolerance;
    };
    const Case cases[] = {{"-c:v png -pix_fmt rgb24", 0, 0.0},
                          {"-c:v mjpeg -pix_fmt yuvj444p -q:v 3", 4, 0.5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.codec);
        ScratchDir dir("plugin-convert-movie");
        ASSERT_TRUE(makeMovie(dir, c.codec));
        const plugintest::DesktopResult r =
            run(dir, std::string(kShownProgress) + R"(m = FenraMovie.Constructor("@DIR@/clip.mov")
c = FenraDicomMovieConverter.Constructor(m)
t = FenraDicomSystem.openFile("@CORPUS@/SC_rgb_jpeg_dcmd.dcm")
c.dicomSource = t
d = c.dataSource
print d
p = Shown.Constructor()
c.progressProc = p
c.convert("@DIR@/clip.dcm")
print c.errorCode()
)");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        // The converter's copy of the movie, then each frame, then the end with the final status.
        EXPECT_EQ(joined(r.lines), "FenraMovie\n  duration = 600\n  timeScale = 1000\n  hasVideo = true\n"
                                   "  lastError = 0\n  isValid = true\n"
                                   "0\n0\n0.3333333333333333\n0\n0.6666666666666666\n0\n1\n0\n0\n");

        const convertertest::Peer p = convertertest::readBack(dir, dir.file("clip.dcm"));
        EXPECT_EQ(convertertest::line(p.said, "frames"), "frames 3") << p.said;
        EXPECT_EQ(convertertest::line(p.said, "pixels"), "pixels RGB 3 8 8 7") << p.said;
        EXPECT_EQ(convertertest::line(p.said, "shape"), "shape 3x256x256x3 uint8") << p.said;
        const std::string decoded = testsupport::readFile(dir.file("clip.rgb"));
        ASSERT_EQ(decoded.size(), size_t(3) * 256 * 256 * 3);
        ASSERT_EQ(p.samples.size(), decoded.size());
        int largest = 0;
        double sum = 0;
        for (size_t i = 0; i < decoded.size(); ++i) {
            const int d = std::abs(int(uint8_t(p.samples[i])) - int(uint8_t(decoded[i])));
            largest = std::max(largest, d);
            sum += d;
        }
        EXPECT_LE(largest, c.tolerance);
        EXPECT_LE(sum / double(decoded.size()), c.meanTolerance);
        const std::string dump = convertertest::dcmdump(dir.file("clip.dcm"));
        EXPECT_TRUE(has(dump, "(0028,0008) IS [3 ]")) << dump;
        EXPECT_TRUE(has(dump, "(0028,0009) AT (0018,1063)")) << dump;
    }
}

// The converter keeps a copy of the callback it is given, and hands out copies: every copy tells
// the same instance. Once the program has let go of the instance, the copies tell nobody, and the
// conversions still succeed.
TEST(PluginConvertScripts, CopiesOfTheCallbackTellTheProgramsInstanceWhileItLives) {
    ScratchDir dir("plugin-convert-callback");
    ASSERT_TRUE(makeImages(dir));
    const plugintest::DesktopResult r =
        run(dir, std::string(kShownProgress) + R"(img = FenraImage.Constructor("@DIR@/grey.png")
a = FenraDicomImageConverter.Constructor(img)
b = FenraDicomImageConverter.Constructor(img)
p = Shown.Constructor()
a.progressProc = p
copy = a.progressProc
print copy
b.progressProc = copy
b.convert("@DIR@/b1.dcm")
p = nil
a.convert("@DIR@/a.dcm")
print a.errorCode()
b.convert("@DIR@/b2.dcm")
print b.errorCode()
)");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(joined(r.lines), "FenraProgressCallback\n1\n0\n0\n0\n");
    for (const char* name : {"b1.dcm", "a.dcm", "b2.dcm"})
        EXPECT_TRUE(std::filesystem::exists(dir.file(name))) << name;
}

// Files that are no image give empty images, which no converter takes (-50); a movie converter
// given a file that is no movie reports it; destinations in a folder that does not exist, or under
// a file, or in a folder without write permission, give -50. Nothing is written, nothing
// crashes, and the program ends normally.
TEST(PluginConvertScripts, BadFilesAndDestinationsAreReportedByStatus) {
    ScratchDir dir("plugin-convert-bad");
    ASSERT_TRUE(makeImages(dir));
    testsupport::writeFile(dir.file("text.txt"), "not an image\n");
    const std::string png = testsupport::readFile(dir.file("grey.png"));
    testsupport::writeFile(dir.file("cut.png"), png.substr(0, png.size() / 2));
    const plugintest::DesktopResult r =
        run(dir, std::string(kShownProgress) + R"(txt = FenraImage.Constructor("@DIR@/text.txt")
print txt.width
cut = FenraImage.Constructor("@DIR@/cut.png")
print cut.pixelFormat
gone = FenraImage.Constructor("@DIR@/gone.png")
print gone.height
p = Shown.Constructor()
c = FenraDicomImageConverter.Constructor(cut)
c.progressProc = p
print c.errorCode()
c.convert("@DIR@/none.dcm")
print c.errorCode()
img = FenraImage.Constructor("@DIR@/grey.png")
c.dataSource = img
c.convert("@DIR@/missing/out.dcm")
print c.errorCode()
c.convert("@DIR@/text.txt/out.dcm")
print c.errorCode()
m = FenraMovie.Constructor("@DIR@/text.txt")
mc = FenraDicomMovieConverter.Constructor(m)
mc.progressProc = p
print mc.errorCode()
mc.convert("@DIR@/movie.dcm")
print mc.errorCode()
)");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(r.lines.size(), 9u) << joined(r.lines);
    EXPECT_EQ(r.lines[0], "0");
    EXPECT_EQ(r.lines[1], "0");
    EXPECT_EQ(r.lines[2], "0");
    for (size_t i = 3; i < 7; ++i)
        EXPECT_EQ(r.lines[i], "-50") << i;
    EXPECT_NE(r.lines[7], "0");
    EXPECT_NE(r.lines[8], "0");
    for (const char* name : {"none.dcm", "missing", "movie.dcm"})
        EXPECT_FALSE(std::filesystem::exists(dir.file(name))) << name;

    // A folder the program may not write in (the superuser may write anywhere).
    if (geteuid() == 0) return;
    std::filesystem::create_directories(dir.file("locked"));
    std::filesystem::permissions(dir.file("locked"),
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    const plugintest::DesktopResult locked = run(dir, R"(img = FenraImage.Constructor("@DIR@/grey.png")
c = FenraDicomImageConverter.Constructor(img)
c.convert("@DIR@/locked/out.dcm")
print c.errorCode()
)");
    std::filesystem::permissions(dir.file("locked"), std::filesystem::perms::owner_all);
    EXPECT_EQ(locked.status, 0) << locked.err;
    EXPECT_EQ(joined(locked.lines), "-50\n");
    EXPECT_TRUE(std::filesystem::is_empty(dir.file("locked")));
}

// A program's class: its subs are called by the host for the program as by a plug-in, and see
// their parameters and self. A sub that fails ends the run at its own line; a class the host
// cannot make is refused where it is declared.
TEST(PluginConvertScripts, ProgramSubclassesRunTheirSubsAndReportTheirMistakes) {
    ScratchDir dir("plugin-convert-subclass");
    plugintest::ScriptRun ok =
        plugintest::runScript(dir, std::string(kShownProgress) + R"(p = Shown.Constructor()
p.Progress(0.5, -43)
print p
)");
    EXPECT_EQ(plugintest::successfulOutput(ok), "0.5\n-43\nShown\n");

    struct Case {
        const char* script;
        const char* said;
    };
    const Case cases[] = {
        {"class Bad inherits FenraProgressCallback\nsub Progress(value as double, status as integer)\n"
         "print nothing\nend sub\nend class\np = Bad.Constructor()\np.Progress(1.0, 0)\n",
         "line 3: print nothing: no variable nothing"},
        {"class Odd inherits NoSuchClass\nend class\n",
         "line 1: class Odd inherits NoSuchClass: no class NoSuchClass"},
        {"class Open inherits FenraProgressCallback\nsub Progress(value as double, status as integer)\nprint "
         "value\n",
         "\"end sub\" is missing"},
        {"class FenraImage inherits FenraObject\nend class\n", "exists already"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        plugintest::ScriptRun bad = plugintest::runScript(dir, c.script);
        EXPECT_EQ(bad.status, 2);
        EXPECT_TRUE(has(bad.err, c.said)) << bad.err;
        EXPECT_FALSE(has(bad.err, "still alive")) << bad.err;
    }
}
