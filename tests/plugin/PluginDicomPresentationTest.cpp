// The video presentation of a document's frames used as a host program uses it. A script run by
// the host program shows which documents have a display. The presentation's own members are
// hidden from console programs, so the rest runs in a host for programs with windows, with the
// binding linked into this program: points, rectangles and time ranges of the companion's classes
// are made here with the toolkit. Raw values and their statistics are compared with pydicom's
// pixel arrays (rescaled), the raw movie's frames with ffprobe's count.
#include "HostRuntime.h"
#include "KelvoCoreGraphics.h"
#include "KelvoCoreObjectsRange.h"
#include "KelvoCoreObjectsTypes.h"
#include "KelvoImageDescriptors.h"
#include "PluginIconFixture.h"
#include "PluginLinkedHost.h"
#include "PluginScript.h"
#include "PythonPeer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

using sylhost::Value;

namespace {

using namespace plugintest::linked;

std::string corpus(const std::string& name) {
    return std::string(testsupport::pydicomTestFiles()) + "/" + name;
}

Value open(const std::string& path) {
    sylhost::CallOutcome opened =
        host().callModule("FenraDicomSystem", "openFile", {host().newFolderItem(path)});
    EXPECT_TRUE(opened.ok) << opened.error;
    return opened.result;
}

Value call(const Value& self, const char* method, std::vector<Value> args = {}) {
    sylhost::CallOutcome r = host().callMethod(self, method, std::move(args));
    EXPECT_TRUE(r.ok) << method << ": " << r.error;
    return r.result;
}

Value display(const std::string& path) {
    return call(open(path), "displayContext");
}

void set(const Value& object, const char* property, const Value& value) {
    std::string why;
    EXPECT_TRUE(host().setProperty(object, property, value, why)) << why;
}

double real(const Value& object, const char* property) {
    return host().getProperty(object, property).asReal();
}

// Every test leaves as many host objects and strings alive as it found.
class PluginDicomPresentation : public ::testing::Test {
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

// The first frame of a file as modality values (rescaled when the file says how): its size on
// one line, then each value, row by row.
const char* const kFramePeer = R"PY(
import sys
from pydicom.filereader import dcmread
ds = dcmread(sys.argv[1])
a = ds.pixel_array
if int(ds.get('NumberOfFrames', 1) or 1) > 1:
    a = a[0]
a = a.astype('float64') * float(ds.get('RescaleSlope', 1)) + float(ds.get('RescaleIntercept', 0))
print(a.shape[1], a.shape[0])
for v in a.flatten():
    print(int(v))
)PY";

struct Frame {
    int columns = 0, rows = 0;
    std::vector<double> values;
    double at(int x, int y) const { return values[size_t(y) * size_t(columns) + size_t(x)]; }
};

Frame peerFrame(const testsupport::ScratchDir& dir, const std::string& file) {
    int status = -1;
    std::istringstream said(testsupport::run(
        "/usr/bin/python3 " + testsupport::writePeerScript(dir, kFramePeer) + " '" + file + "'", &status));
    EXPECT_EQ(status, 0);
    Frame f;
    said >> f.columns >> f.rows;
    for (double v; said >> v;)
        f.values.push_back(v);
    EXPECT_EQ(f.values.size(), size_t(f.columns) * size_t(f.rows));
    return f;
}

// A grey multi-frame file: the corpus's CT slice (signed 16-bit samples with a rescale
// intercept) as the first of four frames, each next one 7 higher, and its RLE form by DCMTK.
const char* const kMultiFramePeer = R"PY(
import sys
import numpy as np
from pydicom.filereader import dcmread
ds = dcmread(sys.argv[1])
base = ds.pixel_array.astype(np.int16)
frames = np.stack([base + 7 * k for k in range(4)])
ds.NumberOfFrames = 4
ds.PixelData = frames.astype('<i2').tobytes()
ds.save_as(sys.argv[2])
)PY";

std::string multiFrameFile(const testsupport::ScratchDir& dir, bool rle) {
    const std::string native = dir.file("multi.dcm");
    int status = -1;
    std::string said =
        testsupport::run("/usr/bin/python3 " + testsupport::writePeerScript(dir, kMultiFramePeer) + " '" +
                             corpus("CT_small.dcm") + "' '" + native + "' 2>&1",
                         &status);
    EXPECT_EQ(status, 0) << said;
    if (!rle) return native;
    const std::string encoded = dir.file("multi-rle.dcm");
    said = testsupport::run("dcmcrle '" + native + "' '" + encoded + "' 2>&1", &status);
    EXPECT_EQ(status, 0) << said;
    return encoded;
}

Value rect(int left, int top, int right, int bottom) {
    Rect r{int16_t(top), int16_t(left), int16_t(bottom), int16_t(right)};
    return wrap("FenraRect", new Kelvo_Rect(r));
}

} // namespace

// A console program has no windows to play frames in: a document, even one with pixel data, does
// not offer it a display.
TEST(PluginDicomPresentationScript, ConsoleProgramsGetNoDisplay) {
    testsupport::ScratchDir dir("plugin-presentation-script");
    std::string text = R"(t = FenraDicomSystem.openFile("@MULTI@")
print t.hasData
d = t.displayContext()
)";
    plugintest::replaceAll(text, "@MULTI@", multiFrameFile(dir, false));
    plugintest::ScriptRun r = plugintest::runScript(dir, text);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "true\n");
    EXPECT_NE(r.err.find("FenraDicomDocument.displayContext does not exist"), std::string::npos) << r.err;
}

// In a program with windows, a document with pixel data, native or RLE, has a display; one
// without pixel data, an empty one, and one whose frames the presentation cannot show (32-bit
// samples) have none.
TEST_F(PluginDicomPresentation, DocumentsWithPixelDataHaveADisplay) {
    testsupport::ScratchDir dir("plugin-presentation-documents");
    for (const std::string& file :
         {multiFrameFile(dir, false), multiFrameFile(dir, true), corpus("CT_small.dcm")}) {
        Value d = display(file);
        EXPECT_EQ(d.className(), "FenraDicomVideoPresentation") << file;
        EXPECT_EQ(status(d), 0) << file;
    }
    for (const std::string& file : {corpus("rtplan.dcm"), corpus("rtdose.dcm")})
        EXPECT_TRUE(display(file).isNil()) << file;
    sylhost::CallOutcome empty = host().construct("FenraDicomDocument", {});
    ASSERT_TRUE(empty.ok) << empty.error;
    EXPECT_TRUE(call(empty.result, "displayContext").isNil());
}

// The window's centre and width read back as set, each setter keeping the other; the range
// property reads both and takes a new range whole.
TEST_F(PluginDicomPresentation, WindowCentreAndWidthReadBackAndKeepEachOther) {
    Value d = display(corpus("CT_small.dcm"));
    ASSERT_EQ(d.className(), "FenraDicomVideoPresentation");
    const double centre = real(d, "windowCenter");
    set(d, "windowWidth", Value::real(400.0));
    EXPECT_EQ(real(d, "windowWidth"), 400.0);
    EXPECT_EQ(real(d, "windowCenter"), centre);
    set(d, "windowCenter", Value::real(40.0));
    EXPECT_EQ(real(d, "windowCenter"), 40.0);
    EXPECT_EQ(real(d, "windowWidth"), 400.0);
    Value range = host().getProperty(d, "windowLevels");
    ASSERT_EQ(range.className(), "FenraNumericalRange");
    auto* levels = static_cast<Kelvo_NumericalRange*>(toolkitObject(range));
    ASSERT_TRUE(levels);
    EXPECT_EQ(levels->getStart(), 40.0);
    EXPECT_EQ(levels->getEnd(), 400.0);
    // A copy: changing it leaves the presentation as it was until it is given back.
    levels->setStart(-600.0);
    levels->setEnd(1600.0);
    EXPECT_EQ(real(d, "windowCenter"), 40.0);
    set(d, "windowLevels", range);
    EXPECT_EQ(real(d, "windowCenter"), -600.0);
    EXPECT_EQ(real(d, "windowWidth"), 1600.0);
    // A value that is not a number, and a nil range, change nothing.
    set(d, "windowWidth", Value::real(std::nan("")));
    set(d, "windowLevels", Value::nil());
    EXPECT_EQ(real(d, "windowWidth"), 1600.0);
    EXPECT_EQ(status(d), 0);
}

// The description and the chunk table of the presentation: copies of its own, which outlive it.
TEST_F(PluginDicomPresentation, DescriptionAndChunkTableOfAMultiFrameFile) {
    testsupport::ScratchDir dir("plugin-presentation-description");
    Value chunks;
    Value description;
    {
        Value d = display(multiFrameFile(dir, false));
        description = host().getProperty(d, "imageProperties");
        chunks = host().getProperty(d, "sampleReferences");
    }
    ASSERT_EQ(description.className(), "FenraDicomImagePixel");
    EXPECT_EQ(host().describe(host().getProperty(description, "width")), "128");
    EXPECT_EQ(host().describe(host().getProperty(description, "height")), "128");
    ASSERT_EQ(chunks.className(), "FenraDicomPixelData");
    EXPECT_EQ(host().describe(host().getProperty(chunks, "count")), "4");
    EXPECT_EQ(call(chunks, "chunkSize", {Value::integer(3)}).asReal(), 128.0 * 128.0 * 2.0);
}

// The raw values of the first frame, rescaled, are pydicom's: at points and as statistics of a
// rectangle; points outside the frame read 0.
TEST_F(PluginDicomPresentation, RawValuesAndStatisticsArePydicomsRescaledPixels) {
    testsupport::ScratchDir dir("plugin-presentation-values");
    const std::vector<std::string> files = {corpus("CT_small.dcm"), corpus("MR_small.dcm"),
                                            corpus("MR_small_bigendian.dcm"), multiFrameFile(dir, false),
                                            multiFrameFile(dir, true)};
    for (const std::string& name : files) {
        SCOPED_TRACE(name);
        const Frame frame = peerFrame(dir, name);
        ASSERT_GT(frame.columns, 4);
        Value d = display(name);
        ASSERT_EQ(d.className(), "FenraDicomVideoPresentation");
        const int points[][2] = {{0, 0}, {frame.columns - 1, frame.rows - 1}, {3, 2}, {frame.columns / 2, 1}};
        for (const auto& p : points) {
            Value point = wrap("FenraPoint", new Kelvo_Point(p[0], p[1]));
            EXPECT_EQ(call(d, "rawValueAtPoint", {point}).asReal(), frame.at(p[0], p[1]))
                << p[0] << "," << p[1];
        }
        for (const auto& p : {std::pair{-1, 0}, std::pair{frame.columns, 0}, std::pair{0, frame.rows}}) {
            Value point = wrap("FenraPoint", new Kelvo_Point(p.first, p.second));
            EXPECT_EQ(call(d, "rawValueAtPoint", {point}).asReal(), 0.0);
        }
        Value stats = call(d, "rawValuesStatistics", {rect(1, 2, 5, 4)});
        ASSERT_EQ(stats.className(), "FenraImageStatistics");
        auto* info = static_cast<Kelvo_ImageInfo*>(toolkitObject(stats));
        ASSERT_TRUE(info);
        double sum = 0, low = 1e30, high = -1e30;
        for (int y = 2; y < 4; ++y)
            for (int x = 1; x < 5; ++x) {
                sum += frame.at(x, y);
                low = std::min(low, frame.at(x, y));
                high = std::max(high, frame.at(x, y));
            }
        EXPECT_EQ(double(info->count), 8.0);
        EXPECT_NEAR(double(info->mean), sum / 8.0, 1e-3 * std::max(1.0, std::fabs(sum / 8.0)));
        EXPECT_EQ(double(info->min), low);
        EXPECT_EQ(double(info->max), high);
        EXPECT_EQ(status(d), 0);
    }
}

// Nil and foreign arguments give empty answers and leave the presentation usable.
TEST_F(PluginDicomPresentation, NilArgumentsGiveEmptyAnswers) {
    Value d = display(corpus("CT_small.dcm"));
    EXPECT_EQ(call(d, "rawValueAtPoint", {Value::nil()}).asReal(), 0.0);
    EXPECT_TRUE(call(d, "rawValuesStatistics", {Value::nil()}).isNil());
    call(d, "outputToRawMovie", {Value::nil(), Value::nil()});
    EXPECT_EQ(status(d), 0);
    sylhost::CallOutcome none = host().construct("FenraDicomVideoPresentation", {Value::nil()});
    ASSERT_TRUE(none.ok) << none.error;
    EXPECT_TRUE(host().getProperty(none.result, "imageProperties").isNil());
    EXPECT_EQ(real(none.result, "windowWidth"), 0.0);
    // Each property read and written with a parameter its record never gives: empty answers, and
    // the window stays as it was.
    set(d, "windowWidth", Value::real(300.0));
    Value range = host().getProperty(d, "windowLevels");
    const sylhost::ClassInfo* cls = host().findClass("FenraDicomVideoPresentation");
    ASSERT_TRUE(cls);
    for (sylhost::PropertyInfo prop : cls->properties) {
        SCOPED_TRACE(prop.name);
        for (int32_t param : {-1, 3, 99}) {
            prop.param = param;
            Value out;
            ASSERT_TRUE(host().callGetter(prop, d.object(), out));
            const std::string shown = host().describe(out);
            EXPECT_TRUE(shown == "nil" || shown == "0") << param << ": " << shown;
            if (prop.setter) {
                const Value given = prop.type.kind == sylhost::TypeKind::Double ? Value::real(5.0) : range;
                EXPECT_TRUE(host().callSetter(prop, d.object(), given));
            }
        }
    }
    EXPECT_EQ(real(d, "windowWidth"), 300.0);
}

// A presentation made from a document's description and chunk table shows the same frames as
// the document's own display.
TEST_F(PluginDicomPresentation, APresentationMadeFromPixelsShowsTheDocumentsFrames) {
    Value t = open(corpus("CT_small.dcm"));
    Value own = call(t, "displayContext");
    sylhost::CallOutcome made =
        host().construct("FenraDicomVideoPresentation", {host().getProperty(own, "imageProperties"),
                                                         host().getProperty(t, "dataSamplesInfo")});
    ASSERT_TRUE(made.ok) << made.error;
    ASSERT_EQ(made.result.className(), "FenraDicomVideoPresentation");
    for (const auto& p : {std::pair{0, 0}, std::pair{30, 40}, std::pair{127, 127}}) {
        Value a = wrap("FenraPoint", new Kelvo_Point(p.first, p.second));
        EXPECT_EQ(call(made.result, "rawValueAtPoint", {a}).asReal(),
                  call(own, "rawValueAtPoint", {a}).asReal());
    }
}

// A presentation made from an icon shows the icon's pixels.
TEST_F(PluginDicomPresentation, APresentationOfAnIconShowsItsPixels) {
    Value t = open(plugintest::iconFile());
    sylhost::CallOutcome icon = host().construct("FenraDicomIcon", {call(t, "value", {Value::integer(136)})});
    ASSERT_TRUE(icon.ok) << icon.error;
    sylhost::CallOutcome made = host().construct("FenraDicomVideoPresentation", {icon.result});
    ASSERT_TRUE(made.ok) << made.error;
    ASSERT_EQ(made.result.className(), "FenraDicomVideoPresentation");
    Value description = host().getProperty(made.result, "imageProperties");
    EXPECT_EQ(host().describe(host().getProperty(description, "width")), "40");
    EXPECT_EQ(host().describe(host().getProperty(description, "height")), "48");
    const std::string pixels = plugintest::iconPixels();
    for (const auto& p : {std::pair{0, 0}, std::pair{39, 47}, std::pair{17, 23}}) {
        Value point = wrap("FenraPoint", new Kelvo_Point(p.first, p.second));
        EXPECT_EQ(call(made.result, "rawValueAtPoint", {point}).asReal(),
                  double(uint8_t(pixels[size_t(p.second) * 40 + size_t(p.first)])));
    }
}

// The frames of the presentation written as a raw movie: all of them without a range, those of a
// range with one; ffprobe counts them.
TEST_F(PluginDicomPresentation, RawMoviesHoldTheFramesOfTheirRange) {
    testsupport::ScratchDir dir("plugin-presentation-movie");
    Value d = display(multiFrameFile(dir, false));
    const int32_t frameTime = 24;
    struct Case {
        const char* name;
        Kelvo_TimeRange* range;
        const char* frames;
    };
    const Case cases[] = {
        {"all.mov", nullptr, "4"},
        {"part.mov", new Kelvo_TimeRange(1 * frameTime, 2 * frameTime), "2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = dir.file(c.name);
        Value range = c.range ? wrap("FenraTimeRange", c.range) : Value::nil();
        call(d, "outputToRawMovie", {host().newFolderItem(file), range});
        EXPECT_EQ(status(d), 0);
        int result = -1;
        const std::string said = testsupport::run(
            "ffprobe -v error -select_streams v:0 -show_entries stream=nb_frames -of csv=p=0 '" + file +
                "' 2>&1",
            &result);
        EXPECT_EQ(result, 0) << said;
        EXPECT_EQ(said, std::string(c.frames) + "\n");
    }
}
