// The converters used as a host program uses them. A script run by the host program with the
// plug-in converts an icon's image into a DICOM file under the attributes of the icon's own file;
// pydicom reads back the icon's pixels and dcmdump the file. Movies have no host members to be
// made with, so the movie converter is given a movie made here with the movie layer: the binding
// is linked into this program and entered in a host for programs with windows (the movie
// converter is hidden from console programs), so that the movie and the converter share one movie
// layer. Its frames are compared with the movie's as pydicom reads them. Destinations that cannot
// be written give -50 and leave nothing behind.
#include "../dicom/render/ConverterFixtures.h"
#include "HostRuntime.h"
#include "PluginIconFixture.h"
#include "PluginLinkedHost.h"
#include "PluginScript.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using sylhost::Value;

namespace {

using namespace plugintest::linked;

Value open(const std::string& path) {
    sylhost::CallOutcome opened =
        host().callModule("FenraDicomSystem", "openFile", {host().newFolderItem(path)});
    EXPECT_TRUE(opened.ok) << opened.error;
    return opened.result;
}

void set(const Value& object, const char* property, const Value& value) {
    std::string why;
    EXPECT_TRUE(host().setProperty(object, property, value, why)) << why;
}

void convert(const Value& converter, const std::string& path) {
    sylhost::CallOutcome r = host().callMethod(converter, "convert", {host().newFolderItem(path)});
    EXPECT_TRUE(r.ok) << r.error;
}

// Every test leaves as many host objects and strings alive as it found.
class PluginConverters : public ::testing::Test {
  protected:
    void SetUp() override {
        objects = host().liveObjects();
        strings = host().liveStrings();
    }
    void TearDown() override {
        EXPECT_EQ(host().liveObjects(), objects);
        EXPECT_EQ(host().liveStrings(), strings);
    }
    size_t objects = 0, strings = 0;
};

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

// An icon's image converted under the attributes of the icon's file (40 x 48 grey samples): the
// file holds the icon's pixels as pydicom reads them, and the attributes of the source. What the
// getters hand out are copies, which the converter takes back; the source's own file is refused.
TEST(PluginConvertersScript, AnIconImageConvertedUnderItsFileReadsBackInThePeers) {
    testsupport::ScratchDir dir("plugin-converters-script");
    std::string text = R"(t = FenraDicomSystem.openFile("@ICON@")
g = t.value(136)
icon = FenraDicomIcon.Constructor(g)
img = icon.image
conv = FenraDicomImageConverter.Constructor(img)
print conv
conv.dicomSource = t
s = conv.dicomSource
print s.path
conv.dicomSource = s
d = conv.dataSource
conv.dataSource = d
conv.convert("@OUT@/icon-image.dcm")
conv.convert("@ICON@")
conv.convert("@OUT@/missing/icon-image.dcm")
conv.convert(nil)
conv.dicomSource = nil
print conv
)";
    plugintest::replaceAll(text, "@ICON@", plugintest::iconFile());
    plugintest::replaceAll(text, "@OUT@", dir.path().string());
    EXPECT_EQ(plugintest::successfulOutput(plugintest::runScript(dir, text)),
              "FenraDicomImageConverter\n  dicomSource = nil\n  dataSource = FenraImage8Bit\n" +
                  plugintest::iconFile() +
                  "\nFenraDicomImageConverter\n  dicomSource = nil\n  dataSource = FenraImage8Bit\n");
    const std::string out = dir.file("icon-image.dcm");
    const convertertest::Peer p = convertertest::readBack(dir, out);
    EXPECT_EQ(convertertest::line(p.said, "pixels"), "pixels MONOCHROME2 1 8 8 7") << p.said;
    EXPECT_EQ(p.samples, plugintest::iconPixels());
    const std::string dump = convertertest::dcmdump(out);
    EXPECT_TRUE(has(dump, "(0010,0010) PN [Icon^Holder ]")) << dump;
    EXPECT_TRUE(has(dump, "(0028,0010) US 48")) << dump;
    EXPECT_TRUE(has(dump, "(0028,0011) US 40")) << dump;
    // The icon file the source was read from is as it was.
    const std::string still = convertertest::dcmdump(plugintest::iconFile());
    EXPECT_TRUE(has(still, "(0088,0200) SQ")) << still;
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
}

// The movie converter is for programs with windows: a console program cannot make one.
TEST(PluginConvertersScript, TheMovieConverterIsHiddenFromConsolePrograms) {
    testsupport::ScratchDir dir("plugin-converters-console");
    plugintest::ScriptRun run = plugintest::runScript(dir, "c = FenraDicomMovieConverter.Constructor()\n");
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(has(run.err, "FenraDicomMovieConverter")) << run.err;
}

// A three-frame movie converted under the icon file's attributes (40 x 48, 8-bit grey): pydicom
// reads three frames of the movie's pixels in grey, and the progress notifier given to the host
// object is told from 0 to 1.
TEST_F(PluginConverters, AMovieConvertedInAHostWithWindowsReadsBackFrameByFrame) {
    testsupport::ScratchDir dir("plugin-converters-movie");
    const int frames = 3;
    convertertest::TestMovie movie(frames, plugintest::kIconColumns, plugintest::kIconRows);
    {
        Value m = wrap("FenraMovie", movie.wrapper.get(), true);
        sylhost::CallOutcome made = host().construct("FenraDicomMovieConverter", {m});
        ASSERT_TRUE(made.ok) << made.error;
        Value converter = made.result;
        EXPECT_EQ(status(converter), 0);
        set(converter, "dicomSource", open(plugintest::iconFile()));
        set(converter, "progressProc",
            wrap("FenraProgressCallback", new Kelvo_ProgressNotifier(convertertest::record, nullptr), false));
        // What the getters hand out are the converter's own copies.
        for (const char* property : {"dataSource", "dicomSource", "progressProc"}) {
            Value copy = host().getProperty(converter, property);
            ASSERT_FALSE(copy.isNil()) << property;
            EXPECT_EQ(recordOf(copy)->byRef, 0) << property;
        }
        EXPECT_EQ(host().getProperty(converter, "dataSource").className(), "FenraMovie");
        convertertest::gProgress.clear();
        convert(converter, dir.file("movie.dcm"));
        EXPECT_EQ(status(converter), 0);
    }
    const convertertest::Peer p = convertertest::readBack(dir, dir.file("movie.dcm"));
    EXPECT_EQ(convertertest::line(p.said, "frames"), "frames 3") << p.said;
    const size_t frameSize = size_t(plugintest::kIconColumns) * plugintest::kIconRows;
    ASSERT_EQ(p.samples.size(), frames * frameSize);
    for (int f = 0; f < frames; ++f)
        for (int y = 0; y < plugintest::kIconRows; ++y)
            for (int x = 0; x < plugintest::kIconColumns; ++x)
                ASSERT_EQ(uint8_t(p.samples[f * frameSize + size_t(y) * plugintest::kIconColumns + x]),
                          convertertest::greyOf(convertertest::pixelOf(f, x, y)))
                    << "frame " << f << " at " << x << "," << y;
    ASSERT_FALSE(convertertest::gProgress.empty());
    EXPECT_EQ(convertertest::gProgress.front(), 0.0);
    EXPECT_EQ(convertertest::gProgress.back(), 1.0);
    convertertest::dcmdump(dir.file("movie.dcm"));
}

// A movie without video frames is no data source: the converter says why (79) and holds none.
TEST_F(PluginConverters, AMovieWithoutFramesIsRefused) {
    convertertest::TestMovie movie(0, plugintest::kIconColumns, plugintest::kIconRows);
    Value m = wrap("FenraMovie", movie.wrapper.get(), true);
    sylhost::CallOutcome made = host().construct("FenraDicomMovieConverter", {m});
    ASSERT_TRUE(made.ok) << made.error;
    EXPECT_EQ(status(made.result), 79);
    EXPECT_TRUE(host().getProperty(made.result, "dataSource").isNil());
}

// A destination in a folder that does not exist, under a file, or that is a folder, gives -50 and
// makes nothing; a conversion that fails over an existing file leaves that file as it was; a
// folder item without a path leaves the converter as it was.
TEST_F(PluginConverters, DestinationsThatCannotBeWrittenGiveMinus50AndLeaveNothing) {
    testsupport::ScratchDir dir("plugin-converters-bad");
    testsupport::writeFile(dir.file("plain"), "not a folder");
    testsupport::writeFile(dir.file("kept.dcm"), "what was there");
    std::filesystem::create_directories(dir.file("folder"));
    Value t = open(plugintest::iconFile());
    sylhost::CallOutcome made =
        host().construct("FenraDicomIcon", {host().callMethod(t, "value", {Value::integer(136)}).result});
    ASSERT_TRUE(made.ok) << made.error;
    Value image = host().getProperty(made.result, "image");
    sylhost::CallOutcome withImage = host().construct("FenraDicomImageConverter", {image});
    ASSERT_TRUE(withImage.ok) << withImage.error;
    Value converter = withImage.result;
    for (const std::string& path :
         {dir.file("missing/out.dcm"), dir.file("plain/out.dcm"), dir.file("folder")}) {
        SCOPED_TRACE(path);
        convert(converter, path);
        EXPECT_EQ(status(converter), -50);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
    EXPECT_TRUE(std::filesystem::is_empty(dir.file("folder")));

    // A converter without a data source fails: the file it would have replaced stays.
    Value empty = host().newInstance("FenraDicomImageConverter");
    set(empty, "dicomSource", t);
    convert(empty, dir.file("kept.dcm"));
    EXPECT_NE(status(empty), 0);
    EXPECT_EQ(testsupport::readFile(dir.file("kept.dcm")), "what was there");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 3);

    convert(converter, dir.file("fine.dcm"));
    EXPECT_EQ(status(converter), 0);
    sylhost::CallOutcome noPath = host().callMethod(converter, "convert", {host().newFolderItem("")});
    EXPECT_TRUE(noPath.ok) << noPath.error;
    EXPECT_EQ(status(converter), 0);
}
