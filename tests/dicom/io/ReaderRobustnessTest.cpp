// Hand-made streams for what real files rarely show: private sequences of undefined length,
// private elements that look like delimiters, the newer VRs, lengths past the end, truncation
// and deep nesting. Each is read correctly or refused with a status; none crashes.
#include "KelvoDicomDataTree.h"
#include "KelvoDicomDictionaries.h"
#include "KelvoDicomStream.h"
#include "TestFiles.h"
#include "TreeLines.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

using namespace std::string_literals;

namespace {

// Little-endian pieces of a stream.
std::string le16(uint16_t v) {
    return std::string{char(v & 0xFF), char(v >> 8)};
}
std::string le32(uint32_t v) {
    return le16(uint16_t(v)) + le16(uint16_t(v >> 16));
}
std::string tag(uint16_t g, uint16_t e) {
    return le16(g) + le16(e);
}
std::string shortVR(uint16_t g, uint16_t e, const char* vr, const std::string& value) {
    return tag(g, e) + vr + le16(uint16_t(value.size())) + value;
}
std::string longVR(uint16_t g, uint16_t e, const char* vr, const std::string& value, bool undefined = false) {
    return tag(g, e) + vr + "\0\0"s + le32(undefined ? 0xFFFFFFFFu : uint32_t(value.size())) + value;
}
std::string implicitEl(uint16_t g, uint16_t e, const std::string& value) {
    return tag(g, e) + le32(uint32_t(value.size())) + value;
}
std::string item(const std::string& content, bool undefined) {
    return tag(0xFFFE, 0xE000) + le32(undefined ? 0xFFFFFFFFu : uint32_t(content.size())) + content +
           (undefined ? tag(0xFFFE, 0xE00D) + le32(0) : "");
}
std::string seqEnd() {
    return tag(0xFFFE, 0xE0DD) + le32(0);
}

// A Part 10 file around a data set in explicit VR little endian.
std::string part10(const std::string& dataSet, const char* syntax = "1.2.840.10008.1.2.1") {
    std::string uid = syntax;
    if (uid.size() & 1) uid += '\0';
    std::string meta = longVR(0x0002, 0x0001, "OB", "\0\1"s) +
                       shortVR(0x0002, 0x0002, "UI", "1.2.840.10008.5.1.4.1.1.7"s + '\0') +
                       shortVR(0x0002, 0x0010, "UI", uid);
    return std::string(128, '\0') + "DICM" + shortVR(0x0002, 0x0000, "UL", le32(uint32_t(meta.size()))) +
           meta + dataSet;
}

struct Read {
    testsupport::ScratchDir dir{"reader-robust"};
    std::unique_ptr<KelvoDicomDataTree> tree;
    int32_t status = -1;
    explicit Read(const std::string& bytes) {
        std::string path = dir.file("in.dcm");
        testsupport::writeFile(path, bytes);
        tree.reset(KelvoDicomDataTree::openFile(path.c_str()));
        status = tree ? tree->readError() : -1;
    }
    std::vector<std::string> lines() {
        treelines::Options o;
        o.values = true;
        return tree ? treelines::lines(*tree, o) : std::vector<std::string>();
    }
};

TEST(ReaderRobustness, PrivateSequencesOfUndefinedLength) {
    // A UN element of undefined length holds implicit VR little endian items; a private element
    // whose element number is E00D is not a delimiter.
    std::string inner = implicitEl(0x0009, 0x0010, "AB") + implicitEl(0x0009, 0xE00D, "CD");
    std::string ds = shortVR(0x0009, 0x0010, "LO", "MAKER ") +
                     longVR(0x0009, 0x1001, "UN", item(inner, true) + item(inner, false) + seqEnd(), true) +
                     shortVR(0x0010, 0x0020, "LO", "ID");
    Read r(part10(ds));
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.lines(), (std::vector<std::string>{
                             "(0009,0010) LO 6 [4d414b455200]",
                             "(0009,1001) SQ u/l",
                             "(0009,1001)[1] na u/l",
                             "(0009,1001)[1](0009,0010) LO 2 [414200]",
                             "(0009,1001)[1](0009,e00d) UN 2 [4344]",
                             "(0009,1001)[2] na 20",
                             "(0009,1001)[2](0009,0010) LO 2 [414200]",
                             "(0009,1001)[2](0009,e00d) UN 2 [4344]",
                             "(0010,0020) LO 2 [494400]",
                         }));
}

TEST(ReaderRobustness, NewerAndUnknownVRs) {
    std::string ds = longVR(0x0008, 0x0119, "UC", "long code ") + longVR(0x0008, 0x0120, "UR", "http://x") +
                     longVR(0x0009, 0x1010, "OV", std::string(8, '\1')) +
                     longVR(0x0009, 0x1011, "SV", std::string(8, '\2')) +
                     longVR(0x0009, 0x1012, "XZ", "keep"); // a VR nobody knows: kept as UN bytes
    Read r(part10(ds));
    ASSERT_EQ(r.status, 0);
    std::vector<std::string> lines = r.lines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "(0008,0119) UC 10 [6c6f6e6720636f646500]");
    EXPECT_EQ(lines[4], "(0009,1012) UN 4 [6b656570]");
}

TEST(ReaderRobustness, BadLengthsAndTruncationAreRefused) {
    std::string good = shortVR(0x0008, 0x0060, "CS", "OT") + shortVR(0x0010, 0x0010, "PN", "DOE^J ") +
                       longVR(0x0008, 0x1140, "SQ", item(shortVR(0x0008, 0x1150, "UI", "1.2."s), false)) +
                       longVR(0x7FE0, 0x0010, "OW", std::string(16, '\7'));
    std::string file = part10(good);
    ASSERT_EQ(Read(file).status, 0);
    // Cutting the file anywhere inside an element is refused; cuts at element boundaries give
    // shorter, valid files.
    const size_t metaEnd = file.size() - good.size();
    std::set<size_t> boundaries;
    for (size_t at : {size_t(0), size_t(10), size_t(24), size_t(56), good.size()})
        boundaries.insert(metaEnd + at);
    for (size_t n = metaEnd + 1; n < file.size(); ++n) {
        Read r(file.substr(0, n));
        if (!boundaries.count(n)) {
            EXPECT_NE(r.status, 0) << "cut at " << n;
        }
    }
    // A length that runs past the end of the file, or past its enclosing item.
    EXPECT_EQ(Read(part10(shortVR(0x0010, 0x0010, "PN", "AB").substr(0, 6) + le16(1000) + "AB")).status, 303);
    std::string overlong = item(shortVR(0x0008, 0x1150, "UI", "1.2."s), false);
    overlong[4] = char(overlong[4] - 2); // the item says it is shorter than its content
    EXPECT_NE(Read(part10(longVR(0x0008, 0x1140, "SQ", overlong))).status, 0);
    // An odd length is refused (302), as is a syntax nobody knows (301).
    EXPECT_EQ(Read(part10(shortVR(0x0010, 0x0010, "PN", "ABC"))).status, 302);
    EXPECT_EQ(Read(part10(good, "1.2.3.4.5")).status, 301);
    EXPECT_EQ(Read(part10(good, "1.2.840.10008.1.2.1.99")).status, 301);
    EXPECT_EQ(Read("not a DICOM file at all, just some text here").status, -1);
}

TEST(ReaderRobustness, ItemsAndDelimitersOutOfPlaceAreRefused) {
    const std::string el = shortVR(0x0010, 0x0020, "LO", "ID");
    const std::string itemEnd = tag(0xFFFE, 0xE00D) + le32(0);
    const std::string openItem = tag(0xFFFE, 0xE000) + le32(0xFFFFFFFFu);
    struct Case {
        const char* name;
        std::string dataSet;
    } cases[] = {
        {"item at the top", el + item(el, false)},
        {"item delimiter at the top", el + itemEnd},
        {"sequence delimiter at the top", el + seqEnd()},
        {"sequence delimiter closing an item", longVR(0x0008, 0x1140, "SQ", openItem + el + seqEnd(), true)},
        {"item delimiter in an item of defined length",
         longVR(0x0008, 0x1140, "SQ", item(el + itemEnd, false) + seqEnd(), true)},
        {"element where an item belongs", longVR(0x0008, 0x1140, "SQ", el + seqEnd(), true)},
        {"item in an item",
         longVR(0x0008, 0x1140, "SQ", openItem + item(el, true) + itemEnd + seqEnd(), true)},
    };
    for (const Case& c : cases) {
        Read r(part10(c.dataSet + shortVR(0x0020, 0x0010, "SH", "AFTER ")));
        EXPECT_EQ(r.status, kDicomBadPosition) << c.name;
        EXPECT_TRUE(r.lines().empty()) << c.name; // a failed read leaves nothing half read
    }
}

TEST(ReaderRobustness, RepeatedTagsKeepTheFirstWhateverTheirKind) {
    // An element then a sequence of the same tag, and the other way round, at the top and in an
    // item: the first stays, the second is stepped over, what follows is read.
    const std::string asElement = longVR(0x0009, 0x1001, "UN", "ELEM");
    const std::string asSequence =
        longVR(0x0009, 0x1001, "SQ", item(shortVR(0x0010, 0x0020, "LO", "IN"), true) + seqEnd(), true);
    const std::string after = shortVR(0x0010, 0x0020, "LO", "ID");
    const std::string creator = shortVR(0x0009, 0x0010, "LO", "MAKER ");
    Read elementFirst(part10(creator + asElement + asSequence + after));
    ASSERT_EQ(elementFirst.status, 0);
    EXPECT_EQ(elementFirst.lines(),
              (std::vector<std::string>{"(0009,0010) LO 6 [4d414b455200]", "(0009,1001) UN 4 [454c454d]",
                                        "(0010,0020) LO 2 [494400]"}));
    Read sequenceFirst(part10(
        longVR(0x0008, 0x1140, "SQ", item(creator + asSequence + asElement + asSequence, false)) + after));
    ASSERT_EQ(sequenceFirst.status, 0);
    EXPECT_EQ(sequenceFirst.lines(), (std::vector<std::string>{
                                         "(0008,1140) SQ 130",
                                         "(0008,1140)[1] na 122",
                                         "(0008,1140)[1](0009,0010) LO 6 [4d414b455200]",
                                         "(0008,1140)[1](0009,1001) SQ u/l",
                                         "(0008,1140)[1](0009,1001)[1] na u/l",
                                         "(0008,1140)[1](0009,1001)[1](0010,0020) LO 2 [494e00]",
                                         "(0010,0020) LO 2 [494400]",
                                     }));
}

TEST(ReaderRobustness, AVROnlyAnExternalDictionaryKnowsIsReadAsUN) {
    testsupport::ScratchDir dir("reader-robust-dictionary");
    testsupport::writeFile(dir.file("dict.txt"), "0009,1001 Strange ZZ 1\n");
    ASSERT_EQ(KelvoDicomStandardDictionaryUtils::loadExternalDictionary(
                  "strange", dir.file("dict.txt").c_str(), dicmIOformatText),
              0);
    Read r(part10(implicitEl(0x0009, 0x0010, "MAKER ") + implicitEl(0x0009, 0x1001, "DATA") +
                      implicitEl(0x0010, 0x0020, "ID"),
                  "1.2.840.10008.1.2"));
    KelvoDicomStandardDictionaryUtils::unloadExternalDictionaries();
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.lines(),
              (std::vector<std::string>{"(0009,0010) LO 6 [4d414b455200]", "(0009,1001) UN 4 [44415441]",
                                        "(0010,0020) LO 2 [494400]"}));
}

TEST(ReaderRobustness, NestingDepthIsCapped) {
    auto nested = [](int depth) {
        std::string inner = shortVR(0x0010, 0x0020, "LO", "ID");
        for (int i = 0; i < depth; ++i)
            inner = longVR(0x0008, 0x1140, "SQ", item(inner, true) + seqEnd(), true);
        return part10(inner);
    };
    EXPECT_EQ(Read(nested(KelvoDicomInputFileBinary::kMaxDepth)).status, 0);
    EXPECT_NE(Read(nested(KelvoDicomInputFileBinary::kMaxDepth + 1)).status, 0);
    EXPECT_NE(Read(nested(400)).status, 0);
}

} // namespace
