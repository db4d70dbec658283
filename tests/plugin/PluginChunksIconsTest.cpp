// Chunk tables and icons used as a host program uses them. A document's chunk table (where each
// frame of its pixel data lies in the file) is compared with the element offsets pydicom finds,
// for native multi-frame files of the corpus in both byte orders and encapsulated ones (RLE, JPEG
// 2000, and lossless JPEG made by DCMTK with frames of several fragments, with and without an
// offset table). An icon read from a file's Icon Image Sequence is written back and read by
// pydicom and dcmdump. Edge cases run in the test's own host, where the toolkit object's status
// can be read.
#include "PluginHost.h"
#include "PluginIconFixture.h"
#include "PluginScript.h"
#include "PythonPeer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

using plugintest::host;
using plugintest::ScriptRun;
using sylhost::Value;

namespace {

// For each file: its path, transfer syntax, frame count, whether frames differ in size (two or
// more fragmented frames), whether samples are big endian, then each frame's offset and size,
// one a line. Native frames lie one after the other from the value of (7FE0,0010); an
// encapsulated frame runs from the value of its first fragment to the end of its last, the
// fragments chosen by the offset table, or without it one a frame, or, for JPEG frames of several
// fragments, by the start-of-image marker that opens each frame.
const char* const kChunksPeer = R"PY(
import sys, struct
from pydicom.filereader import dcmread
for path in sys.argv[1:]:
    ds = dcmread(path)
    raw = ds.get_item(0x7FE00010)
    syntax = ds.file_meta.TransferSyntaxUID
    frames = int(ds.get('NumberOfFrames', 1) or 1)
    chunks = []
    if syntax.is_compressed:
        with open(path, 'rb') as f:
            f.seek(raw.value_tell)
            data = f.read()
        items, pos = [], 0
        while pos + 8 <= len(data):
            g, e, n = struct.unpack('<HHI', data[pos:pos + 8])
            if (g, e) != (0xFFFE, 0xE000):
                break
            items.append((pos, raw.value_tell + pos + 8, n))
            pos += 8 + n
        table = struct.unpack('<%dI' % (items[0][2] // 4), data[items[0][0] + 8:items[0][0] + 8 + items[0][2]])
        fragments = items[1:]
        if table:
            base = fragments[0][0]
            ends = list(table[1:]) + [len(data)]
            groups = [[x for x in fragments if table[k] <= x[0] - base < ends[k]] for k in range(frames)]
        elif frames == 1:
            groups = [fragments]
        elif len(fragments) == frames:
            groups = [[x] for x in fragments]
        else:
            # More fragments than frames and no table: a JPEG frame starts at each fragment that
            # starts with a start-of-image marker.
            groups = []
            for x in fragments:
                if not groups or data[x[0] + 8:x[0] + 10] == b'\xff\xd8':
                    groups.append([])
                groups[-1].append(x)
        chunks = [(g[0][1], g[-1][1] + g[-1][2] - g[0][1]) for g in groups]
    else:
        size = ds.Rows * ds.Columns * ds.SamplesPerPixel * ds.BitsAllocated // 8
        chunks = [(raw.value_tell + k * size, size) for k in range(frames)]
    print(path)
    print(syntax)
    print(len(chunks))
    print('true' if syntax.is_compressed and len(chunks) >= 2 else 'false')
    print('true' if not syntax.is_compressed and not raw.is_little_endian else 'false')
    for offset, size in chunks:
        print(offset)
        print(size)
)PY";

// The first icon of each file as pydicom reads it: Rows, Columns, Bits Allocated, Photometric
// Interpretation and the length of its pixel data on one line, the pixels in hex on the next.
const char* const kIconPeer = R"PY(
import sys
from pydicom.filereader import dcmread
for path in sys.argv[1:]:
    icon = dcmread(path).IconImageSequence[0]
    print(icon.Rows, icon.Columns, icon.BitsAllocated, icon.PhotometricInterpretation, len(icon.PixelData))
    print(icon.PixelData.hex())
)PY";

class Scratch {
  public:
    Scratch() : dir("plugin-chunks-icons") {}

    std::string output(std::string text) const {
        plugintest::replaceAll(text, "@OUT@", dir.path().string());
        plugintest::replaceAll(text, "@ICON@", plugintest::iconFile());
        return plugintest::successfulOutput(plugintest::runScript(dir, std::move(text)));
    }
    std::string file(const std::string& name) const { return dir.file(name); }
    // What a peer printed; it must succeed.
    std::string peer(const char* source, const std::string& arguments) const {
        int status = -1;
        const std::string said =
            testsupport::run("/usr/bin/python3 " + testsupport::writePeerScript(dir, source) + arguments +
                                 " 2>" + file("peer-err"),
                             &status);
        EXPECT_EQ(status, 0) << testsupport::readFile(file("peer-err"));
        return said;
    }

    testsupport::ScratchDir dir;
};

std::string corpus(const std::string& name) {
    return std::string(testsupport::pydicomTestFiles()) + "/" + name;
}

// A lossless JPEG form of the corpus's two-frame RGB file, made by DCMTK with fragments of 1 KB
// (several a frame) and an offset table, or without the table.
std::string fragmentedFile(bool offsetTable) {
    const std::string folder = testsupport::derivedFixtures("plugin-chunks");
    const std::string native = testsupport::draftOf(folder + "/rgb-2frame-native.dcm");
    const std::string file =
        folder + (offsetTable ? "/rgb-2frame-fragments.dcm" : "/rgb-2frame-no-table.dcm");
    if (std::filesystem::exists(file)) return file;
    int status = -1;
    std::string said =
        testsupport::run("dcmdrle " + corpus("SC_rgb_rle_2frame.dcm") + " " + native + " 2>&1", &status);
    EXPECT_EQ(status, 0) << said;
    said = testsupport::run(std::string("dcmcjpeg +e1 +fs 1 ") + (offsetTable ? "" : "-ot ") + native + " " +
                                testsupport::draftOf(file) + " 2>&1",
                            &status);
    EXPECT_EQ(status, 0) << said;
    EXPECT_TRUE(testsupport::publish(testsupport::draftOf(file), file));
    std::filesystem::remove(native);
    return file;
}

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

// Every chunk of native and encapsulated pixel data, with the table's path, encoding, count and
// flags, as pydicom finds them in the file. A frame made of several fragments runs from its
// first fragment's value to the end of its last.
TEST(PluginChunks, TablesOfDocumentsMatchTheElementOffsetsPydicomFinds) {
    Scratch scratch;
    const std::vector<std::string> files = {
        corpus("rtdose.dcm"),     corpus("rtdose_expb.dcm"),       corpus("MR_small.dcm"),
        corpus("rtdose_rle.dcm"), corpus("SC_rgb_rle_2frame.dcm"), corpus("JPEG2000.dcm"),
        fragmentedFile(true),     fragmentedFile(false),
    };
    std::string arguments;
    for (const std::string& f : files)
        arguments += " '" + f + "'";
    const std::string expected = scratch.peer(kChunksPeer, arguments);
    // The peer's counts say how many chunks each script reads.
    std::istringstream lines(expected);
    std::string text;
    for (const std::string& f : files) {
        std::string line;
        for (int k = 0; k < 3; ++k)
            std::getline(lines, line);
        const int count = std::stoi(line);
        for (int k = 0; k < 2 + 2 * count; ++k)
            std::getline(lines, line);
        text += "t = FenraDicomSystem.openFile(\"" + f +
                "\")\nc = t.dataSamplesInfo\nprint c.path\nprint c.encoding\nprint c.count\n"
                "print c.variableChunksSize\nprint c.dataSwapping\n";
        for (int i = 0; i < count; ++i)
            text += "print c.chunkOffset(" + std::to_string(i) + ")\nprint c.chunkSize(" + std::to_string(i) +
                    ")\n";
    }
    ASSERT_TRUE(has(expected, "1.2.840.10008.1.2.4.70\n2\ntrue\nfalse\n")) << expected;
    EXPECT_EQ(scratch.output(text), expected);
}

// Frames turn off and on one at a time; a copy of the table is independent of it.
TEST(PluginChunks, FramesTurnOffAndCopiesAreIndependent) {
    Scratch scratch;
    EXPECT_EQ(scratch.output(R"(t = FenraDicomSystem.openFile("@CORPUS@/rtdose_rle.dcm")
c = t.dataSamplesInfo
copy = FenraDicomPixelData.Constructor(c)
c.chunkEnabled(3) = false
c.chunkEnabled(14) = false
print c.chunkEnabled(2)
print c.chunkEnabled(3)
print c.chunkEnabled(14)
print copy.chunkEnabled(3)
c.chunkEnabled(3) = true
print c.chunkEnabled(3)
print copy.count
print copy.chunkSize(14)
print c.chunkSize(14)
again = t.dataSamplesInfo
print again.chunkEnabled(14)
none = FenraDicomPixelData.Constructor(nil)
print none
print none.chunkSize(0)
print none.chunkEnabled(0)
)"),
              "true\nfalse\nfalse\ntrue\ntrue\n15\n290\n290\ntrue\n"
              "FenraDicomPixelData\n  path = \n  encoding = \n  variableChunksSize = false\n"
              "  dataSwapping = false\n  count = 0\n0\nfalse\n");
}

// An icon read from the file's Icon Image Sequence is written back as it was; a blank icon given
// its image takes its size; a smaller description scales the icon to it. pydicom reads each
// written icon, dcmdump each file.
TEST(PluginIcons, IconsReadFromDataSetsWriteBackAndTakeImagesAndDescriptions) {
    Scratch scratch;
    EXPECT_EQ(scratch.output(R"(t = FenraDicomSystem.openFile("@ICON@")
g = t.value(136)
icon = FenraDicomIcon.Constructor(g)
px = icon.imagePixel
print px.width
print px.height
print px.bitsAllocated
print px.photoInterpretation
back = icon.iconDataSet
t.value(136) = back
t.toDicomFile("@OUT@/copy.dcm")
img = icon.image
print img
blank = FenraDicomIcon.Constructor()
bp = blank.imagePixel
print bp.width
print bp.height
blank.image = img
bp = blank.imagePixel
print bp.width
print bp.height
ct = FenraDicomSystem.openFile("@CORPUS@/CT_small.dcm")
bs = blank.iconDataSet
ct.value(136) = bs
ct.toDicomFile("@OUT@/ct-with-icon.dcm")
px.width = 20
px.height = 24
icon.imagePixel = px
small = icon.iconDataSet
t.value(136) = small
t.toDicomFile("@OUT@/small.dcm")
)"),
              "40\n48\n8\nMONOCHROME2\nFenraImage8Bit\n  width = 40\n  height = 48\n  pixelFormat = 40\n  depth = 8\n128\n128\n40\n48\n");
    const std::string pixels = hex(plugintest::iconPixels());
    const std::string said =
        scratch.peer(kIconPeer, " '" + scratch.file("copy.dcm") + "' '" + scratch.file("ct-with-icon.dcm") +
                                    "' '" + scratch.file("small.dcm") + "'");
    std::istringstream lines(said);
    std::string line;
    for (const char* name : {"copy", "ct-with-icon"}) {
        SCOPED_TRACE(name);
        std::getline(lines, line);
        EXPECT_EQ(line, "48 40 8 MONOCHROME2 1920");
        std::getline(lines, line);
        EXPECT_EQ(line, pixels);
    }
    std::getline(lines, line);
    EXPECT_EQ(line, "24 20 8 MONOCHROME2 480");
    for (const char* name : {"copy.dcm", "ct-with-icon.dcm", "small.dcm"}) {
        int status = -1;
        const std::string dump = testsupport::run("dcmdump " + scratch.file(name) + " 2>&1", &status);
        EXPECT_EQ(status, 0) << dump;
        EXPECT_FALSE(has(dump, "W: ") || has(dump, "E: ")) << dump;
        EXPECT_TRUE(has(dump, "(0088,0200) SQ")) << dump;
    }
}

// A data set without an icon, or nil, gives an empty icon; a copy is independent of its
// original; nil and unusable arguments leave an icon as it was.
TEST(PluginIcons, EmptyIconsCopiesAndIgnoredArguments) {
    Scratch scratch;
    EXPECT_EQ(
        scratch.output(R"(t = FenraDicomSystem.openFile("@ICON@")
s = t.value(8)
none = FenraDicomIcon.Constructor(s)
print none
g = t.value(136)
icon = FenraDicomIcon.Constructor(g)
copy = FenraDicomIcon.Constructor(icon)
cp = copy.imagePixel
cp.width = 10
cp.height = 12
copy.imagePixel = cp
cp = copy.imagePixel
print cp.width
p = icon.imagePixel
print p.width
icon.imagePixel = nil
icon.image = nil
broken = none.image
icon.image = broken
emptySet = FenraDicomDataSet.Constructor(136)
alsoNone = FenraDicomIcon.Constructor(emptySet)
print alsoNone.iconDataSet
p = icon.imagePixel
print p.width
print p.height
)"),
        "FenraDicomIcon\n  imagePixel = nil\n  image = nil\n  iconDataSet = nil\n10\n40\nnil\n40\n48\n");
}

namespace {

class PluginChunksIconsInProcess : public plugintest::PluginTest {
  protected:
    Value open(const std::string& path) {
        sylhost::CallOutcome opened =
            host().callModule("FenraDicomSystem", "openFile", {host().newFolderItem(path)});
        EXPECT_TRUE(opened.ok) << opened.error;
        return opened.result;
    }
    static double call(const Value& self, const char* name, int64_t i) {
        sylhost::CallOutcome r = host().callMethod(self, name, {Value::integer(i)});
        EXPECT_TRUE(r.ok) << r.error;
        return r.result.kind() == sylhost::TypeKind::Boolean ? double(r.result.asBoolean())
                                                             : r.result.asReal();
    }
    static int32_t status(const Value& object) {
        plugintest::InstanceRecord* record = plugintest::recordOf(object);
        return record && record->object ? record->object->Error() : 1;
    }
};

} // namespace

// An index past the count (or below 0) reads the table's error answers, a size of 0 and an
// offset of -1, and leaves -50 in the table's status; a flag set out of range changes nothing.
TEST_F(PluginChunksIconsInProcess, IndexesOutOfRangeReadErrorAnswersAndSetTheStatus) {
    Value document = open(corpus("rtdose.dcm"));
    Value chunks = host().getProperty(document, "dataSamplesInfo");
    ASSERT_EQ(chunks.className(), "FenraDicomPixelData");
    EXPECT_EQ(status(chunks), 0);
    EXPECT_EQ(call(chunks, "chunkSize", 14), 400.0);
    EXPECT_EQ(status(chunks), 0);
    struct Case {
        const char* method;
        int64_t index;
        double answer;
    };
    const Case cases[] = {
        {"chunkSize", 15, 0.0},    {"chunkSize", -1, 0.0},    {"chunkSize", 0x7FFFFFFF, 0.0},
        {"chunkOffset", 15, -1.0}, {"chunkOffset", -1, -1.0}, {"chunkEnabled", 15, 0.0},
        {"chunkEnabled", -2, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.method) + "(" + std::to_string(c.index) + ")");
        Value fresh = host().getProperty(document, "dataSamplesInfo");
        EXPECT_EQ(call(fresh, c.method, c.index), c.answer);
        EXPECT_EQ(status(fresh), -50);
    }
    for (int64_t index : {-1, 15, 1000}) {
        sylhost::CallOutcome set =
            host().assignMethod(chunks, "chunkEnabled", {Value::integer(index)}, Value::boolean(false));
        EXPECT_TRUE(set.ok) << set.error;
    }
    for (int64_t i = 0; i < 15; ++i)
        EXPECT_EQ(call(chunks, "chunkEnabled", i), 1.0) << i;
}

// Every property of the chunk table and the icon read and written with a parameter its record
// never gives: the getter answers empty and the setter changes nothing.
TEST_F(PluginChunksIconsInProcess, ParametersOutOfRangeGiveEmptyResults) {
    Value document = open(plugintest::iconFile());
    Value chunks = host().getProperty(document, "dataSamplesInfo");
    sylhost::CallOutcome made = host().construct(
        "FenraDicomIcon", {host().callMethod(document, "value", {Value::integer(136)}).result});
    ASSERT_TRUE(made.ok) << made.error;
    Value icon = made.result;
    // What each setter is given would change the icon if it were stored.
    Value smaller = host().getProperty(icon, "imagePixel");
    std::string why;
    ASSERT_TRUE(host().setProperty(smaller, "width", Value::integer(8), why)) << why;
    sylhost::CallOutcome blank = host().construct("FenraDicomIcon", {});
    ASSERT_TRUE(blank.ok) << blank.error;
    Value larger = host().getProperty(blank.result, "image");
    for (const Value* object : {&chunks, &icon}) {
        for (const sylhost::ClassInfo* cls = host().findClass(object->className());
             cls && cls->name != "FenraObject"; cls = cls->super) {
            for (sylhost::PropertyInfo prop : cls->properties) {
                SCOPED_TRACE(cls->name + "." + prop.name);
                for (int32_t param : {-1, 3, 99}) {
                    prop.param = param;
                    Value out;
                    ASSERT_TRUE(host().callGetter(prop, object->object(), out));
                    const std::string shown = host().describe(out);
                    EXPECT_TRUE(shown == "" || shown == "nil" || shown == "false" || shown == "0")
                        << param << ": " << shown;
                    if (prop.setter) {
                        EXPECT_TRUE(host().callSetter(prop, object->object(),
                                                      prop.name == "image" ? larger : smaller));
                    }
                }
            }
        }
    }
    Value description = host().getProperty(icon, "imagePixel");
    EXPECT_EQ(host().describe(host().getProperty(description, "width")), "40");
    EXPECT_EQ(host().describe(host().getProperty(description, "height")), "48");
    EXPECT_EQ(status(icon), 0);
}
