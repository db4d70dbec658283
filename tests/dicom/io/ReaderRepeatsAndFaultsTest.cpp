// Real files with the faults met in the wild, made at test time from pydicom's corpus by DCMTK and
// by editing bytes: an element repeated in its data set or item is read as DCMTK reads it (the
// first occurrence kept, the rest of the file read on), and a structure out of place is refused
// with the reader's own status, through the tree's open as through its text dump.
#include "KelvoDicomDataSetViews.h"
#include "KelvoDicomDataTree.h"
#include "KelvoDicomStream.h"
#include "TestFiles.h"
#include "TreeLines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string corpus(const std::string& name) {
    return std::string(testsupport::pydicomTestFiles()) + "/" + name;
}

std::string fixture(const std::string& name) {
    return testsupport::derivedFixtures("reader-repeats-and-faults") + "/" + name;
}

// Runs a DCMTK tool on `source` into a fixture named `name`; empty on failure.
std::string convert(const std::string& tool, const std::string& source, const std::string& name) {
    const std::string out = fixture(name);
    int status = -1;
    testsupport::run(tool + " '" + source + "' '" + testsupport::draftOf(out) + "' 2>&1", &status);
    return status == 0 && testsupport::publish(testsupport::draftOf(out), out) ? out : "";
}

// A byte edit: the `occurrence`-th match of `from` becomes `to`, of the same length.
struct Edit {
    std::string from, to;
    int occurrence = 1;
};

// `source` with each edit applied, written as fixture `name`; empty when an edit finds nothing.
std::string edited(const std::string& source, const std::string& name, const std::vector<Edit>& edits) {
    std::string bytes = testsupport::readFile(source);
    for (const Edit& e : edits) {
        size_t at = std::string::npos;
        for (int n = 0; n < e.occurrence; ++n)
            if ((at = bytes.find(e.from, at == std::string::npos ? 0 : at + 1)) == std::string::npos)
                return "";
        bytes.replace(at, e.from.size(), e.to);
    }
    const std::string out = fixture(name);
    testsupport::writeFile(testsupport::draftOf(out), bytes);
    return testsupport::publish(testsupport::draftOf(out), out) ? out : "";
}

std::string hex(const std::string& text) {
    std::string out;
    char b[4];
    for (unsigned char c : text) {
        std::snprintf(b, sizeof b, "%02x", c);
        out += b;
    }
    return out;
}

// A text value as the tree holds it: padding dropped, a NUL at the end.
std::string text(const std::string& value) {
    return "[" + hex(value) + "00]";
}

bool hasLine(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Tags as they lie in a file: explicit VR little endian with a short VR, or implicit VR.
std::string explicitTag(uint16_t g, uint16_t e, const char* vr) {
    return std::string{char(g & 0xFF), char(g >> 8), char(e & 0xFF), char(e >> 8)} + vr;
}
std::string implicitTag(uint16_t g, uint16_t e, uint32_t length) {
    return std::string{char(g & 0xFF),     char(g >> 8),        char(e & 0xFF),
                       char(e >> 8),       char(length & 0xFF), char(length >> 8 & 0xFF),
                       char(length >> 16), char(length >> 24)};
}

// CT_small with Series Date renamed Study Date at the top, and Type of Patient ID renamed Patient
// ID in the first item of Other Patient IDs Sequence (the second item stays as it was).
std::vector<Edit> repeatedInCTSmall(bool implicit) {
    if (implicit)
        return {{implicitTag(0x0008, 0x0021, 8), implicitTag(0x0008, 0x0020, 8)},
                {implicitTag(0x0010, 0x0022, 4), implicitTag(0x0010, 0x0020, 4)}};
    return {{explicitTag(0x0008, 0x0021, "DA"), explicitTag(0x0008, 0x0020, "DA")},
            {explicitTag(0x0010, 0x0022, "CS"), explicitTag(0x0010, 0x0020, "CS")}};
}

// Two sequences of one item each, the second renamed as the first: a repeated sequence.
const char* const kTwoSequences = R"(
(0002,0002) UI =SecondaryCaptureImageStorage
(0002,0003) UI [1.2.826.0.1.3680043.2.1143.90.1]
(0002,0010) UI =LittleEndianExplicit
(0008,0016) UI =SecondaryCaptureImageStorage
(0008,0018) UI [1.2.826.0.1.3680043.2.1143.90.1]
(0008,1110) SQ (Sequence with undefined length)
  (fffe,e000) na (Item with undefined length)
    (0008,1150) UI [1.2.3.1]
    (0008,1155) UI [1.2.3.11]
  (fffe,e00d) na (ItemDelimitationItem)
(fffe,e0dd) na (SequenceDelimitationItem)
(0008,1111) SQ (Sequence with undefined length)
  (fffe,e000) na (Item with undefined length)
    (0008,1150) UI [1.2.3.2]
    (0008,1140) SQ (Sequence with undefined length)
      (fffe,e000) na (Item with undefined length)
        (0008,1155) UI [1.2.3.22]
      (fffe,e00d) na (ItemDelimitationItem)
    (fffe,e0dd) na (SequenceDelimitationItem)
  (fffe,e00d) na (ItemDelimitationItem)
(fffe,e0dd) na (SequenceDelimitationItem)
(0010,0020) LO [AFTER]
)";

std::string twoSequences(const std::string& name, bool undefinedLengths) {
    const std::string text = fixture(name + ".txt");
    testsupport::writeFile(testsupport::draftOf(text), kTwoSequences);
    if (!testsupport::publish(testsupport::draftOf(text), text)) return "";
    std::string made =
        convert(std::string("dump2dcm ") + (undefinedLengths ? "-e" : "+e"), text, name + ".made");
    if (made.empty()) return "";
    return edited(made, name, {{explicitTag(0x0008, 0x1111, "SQ"), explicitTag(0x0008, 0x1110, "SQ")}});
}

// An RLE file whose pixel data element comes twice: its bytes to the end of the file appended.
std::string repeatedPixelData(const std::string& name) {
    std::string bytes = testsupport::readFile(corpus("SC_rgb_rle_2frame.dcm"));
    size_t at = bytes.rfind(explicitTag(0x7FE0, 0x0010, "OB"));
    if (at == std::string::npos) return "";
    bytes += bytes.substr(at);
    testsupport::writeFile(testsupport::draftOf(fixture(name)), bytes);
    return testsupport::publish(testsupport::draftOf(fixture(name)), fixture(name)) ? fixture(name) : "";
}

struct RepeatCase {
    const char* name;
    std::function<std::string()> make;
    std::vector<std::string> firstValues; // lines that only the first occurrences give
};

TEST(ReaderRepeats, KeepTheFirstOccurrenceAsDcmdumpDoes) {
    const std::string studyDate = "(0008,0020) DA 8 " + text("20040119");
    const std::string itemID = "(0010,1002)[1](0010,0020) LO 8 " + text("ABCD1234");
    const std::string otherItemType = "(0010,1002)[2](0010,0022) CS 4 " + text("TEXT");
    const std::vector<RepeatCase> cases = {
        {"explicit lengths",
         [] { return edited(corpus("CT_small.dcm"), "ct_explicit.dcm", repeatedInCTSmall(false)); },
         {studyDate, itemID, otherItemType}},
        {"undefined lengths",
         [] {
             std::string made = convert("dcmconv -e", corpus("CT_small.dcm"), "ct_undefined_source.dcm");
             return made.empty() ? "" : edited(made, "ct_undefined.dcm", repeatedInCTSmall(false));
         },
         {studyDate, itemID, otherItemType}},
        {"implicit VR",
         [] {
             std::string made = convert("dcmconv +ti -e", corpus("CT_small.dcm"), "ct_implicit_source.dcm");
             return made.empty() ? "" : edited(made, "ct_implicit.dcm", repeatedInCTSmall(true));
         },
         {studyDate, itemID}},
        {"sequences of undefined length",
         [] { return twoSequences("sequences_undefined.dcm", true); },
         {"(0008,1110)[1](0008,1155) UI 8 " + text("1.2.3.11"), "(0010,0020) LO 6 " + text("AFTER")}},
        {"sequences of defined length",
         [] { return twoSequences("sequences_defined.dcm", false); },
         {"(0008,1110)[1](0008,1155) UI 8 " + text("1.2.3.11"), "(0010,0020) LO 6 " + text("AFTER")}},
        {"encapsulated pixel data", [] { return repeatedPixelData("rle_twice.dcm"); }, {}},
    };
    treelines::Options withValues;
    withValues.values = true;
    for (const RepeatCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = c.make();
        ASSERT_FALSE(file.empty());
        std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(file.c_str()));
        ASSERT_NE(tree, nullptr);
        ASSERT_EQ(tree->readError(), 0);
        const std::vector<std::string> ours = treelines::lines(*tree);
        EXPECT_EQ(treelines::firstDifference(ours, treelines::dcmdumpLines(file)), "");
        const std::vector<std::string> values = treelines::lines(*tree, withValues);
        for (const std::string& line : c.firstValues)
            EXPECT_TRUE(hasLine(values, line)) << line << " in " << ::testing::PrintToString(values);
        tree->toTextFile(fixture("dump.txt").c_str());
        EXPECT_EQ(tree->Error(), 0);
    }
}

TEST(ReaderRepeats, RepeatedPixelDataLeaveTheChunkTableOfTheFirst) {
    const std::string file = repeatedPixelData("rle_twice_chunks.dcm");
    ASSERT_FALSE(file.empty());
    std::unique_ptr<KelvoDicomDataTree> original(
        KelvoDicomDataTree::openFile(corpus("SC_rgb_rle_2frame.dcm").c_str()));
    std::unique_ptr<KelvoDicomDataTree> twice(KelvoDicomDataTree::openFile(file.c_str()));
    ASSERT_TRUE(original && twice);
    ASSERT_EQ(twice->readError(), 0);
    KelvoDicomDataChunks* a = original->pixelData();
    KelvoDicomDataChunks* b = twice->pixelData();
    ASSERT_TRUE(a && b);
    ASSERT_EQ(b->count(), a->count());
    for (uint32_t i = 0; i < a->count(); ++i) {
        EXPECT_EQ(b->chunkOffset(i), a->chunkOffset(i)) << "chunk " << i;
        EXPECT_EQ(b->chunkSize(i), a->chunkSize(i)) << "chunk " << i;
    }
}

TEST(ReaderRepeats, RepeatedMetaElementKeepsTheFirst) {
    // The instance UID renamed as the class UID: the class stays CT Image Storage.
    const std::string file = edited(corpus("CT_small.dcm"), "ct_meta.dcm",
                                    {{explicitTag(0x0002, 0x0003, "UI"), explicitTag(0x0002, 0x0002, "UI")}});
    ASSERT_FALSE(file.empty());
    int32_t status = -1;
    std::unique_ptr<KelvoDicomDataHeader> header(KelvoDicomDataHeader::openFile(file.c_str(), status));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(status, 0);
    char uid[80] = {};
    header->getStringValueProperty(0x0002, uid, sizeof uid);
    EXPECT_STREQ(uid, "1.2.840.10008.5.1.4.1.1.2");
    EXPECT_NE(
        testsupport::run("dcmdump -q '" + file + "' 2>/dev/null").find("(0002,0002) UI =CTImageStorage"),
        std::string::npos);
    std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(file.c_str()));
    ASSERT_NE(tree, nullptr);
    EXPECT_TRUE(tree->isA("KelvoDicomDocument"));
    EXPECT_EQ(tree->readError(), 0);
}

// A structure out of place, as dumpFileToTextFile meets it: the tree opens with the read's status,
// and its text dump reports that status and writes nothing.
TEST(ReaderFaults, StructureOutOfPlaceIsRefusedWithTheReadersStatus) {
    const std::string itemEnd = implicitTag(0xFFFE, 0xE00D, 0);
    const std::string sequenceEnd = implicitTag(0xFFFE, 0xE0DD, 0);
    struct Case {
        const char* name;
        std::function<std::string()> make;
        int32_t status;
    };
    const std::vector<Case> cases = {
        // DCMTK refuses it too: "found (fffe,e0dd) instead of item delimiter".
        {"sequence delimiter closing an item",
         [&] {
             std::string made = convert("dcmconv -e", corpus("CT_small.dcm"), "closing_source.dcm");
             return made.empty() ? "" : edited(made, "closing.dcm", {{itemEnd, sequenceEnd}});
         },
         kDicomBadPosition},
        {"sequence delimiter closing a nested item, implicit VR",
         [&] {
             std::string made = convert("dcmconv +ti -e", corpus("rtplan.dcm"), "nested_source.dcm");
             return made.empty() ? "" : edited(made, "nested.dcm", {{itemEnd, sequenceEnd, 3}});
         },
         kDicomBadPosition},
        {"item delimiter where an item belongs",
         [&] {
             std::string made = convert("dcmconv -e", corpus("CT_small.dcm"), "itemend_source.dcm");
             return made.empty() ? "" : edited(made, "itemend.dcm", {{sequenceEnd, itemEnd}});
         },
         kDicomBadPosition},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = c.make();
        ASSERT_FALSE(file.empty());
        int dcmdumpStatus = 0;
        testsupport::run("dcmdump -q '" + file + "' >/dev/null 2>&1", &dcmdumpStatus);
        EXPECT_NE(dcmdumpStatus, 0);

        std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(file.c_str()));
        ASSERT_NE(tree, nullptr);
        EXPECT_EQ(tree->readError(), c.status);
        EXPECT_EQ(tree->Error(), c.status);
        const std::string dump = fixture(std::string("fault-") + std::to_string(&c - cases.data()) + ".txt");
        std::filesystem::remove(dump);
        tree->toTextFile(dump.c_str());
        EXPECT_EQ(tree->Error(), c.status);
        EXPECT_FALSE(std::filesystem::exists(dump));
    }
}

} // namespace
