#include "KelvoDicomDictionaries.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using testsupport::ScratchDir;
using testsupport::writeFile;
using Utils = KelvoDicomStandardDictionaryUtils;

class ExternalDictionaries : public ::testing::Test {
  protected:
    void SetUp() override { Utils::unloadExternalDictionaries(); }
    void TearDown() override { Utils::unloadExternalDictionaries(); }
    ScratchDir dir{"kelvo-extdict"};
};

std::string binaryDictionary(bool otherOrder, std::initializer_list<dicmDictFileRecord> records) {
    std::string out;
    uint16_t order = otherOrder ? 256 : 1;
    out.append(reinterpret_cast<const char*>(&order), 2);
    for (dicmDictFileRecord r : records) {
        if (otherOrder) {
            r.group = uint16_t((r.group >> 8) | (r.group << 8));
            r.element = uint16_t((r.element >> 8) | (r.element << 8));
        }
        out.append(reinterpret_cast<const char*>(&r), sizeof r);
    }
    return out;
}

dicmDictFileRecord record(uint16_t g, uint16_t e, const char* name, const char* vr, const char* vm) {
    dicmDictFileRecord r{};
    r.group = g;
    r.element = e;
    std::strncpy(r.name, name, sizeof r.name - 1);
    std::memcpy(r.vr, vr, 2);
    std::strncpy(r.vm, vm, sizeof r.vm - 1);
    return r;
}

TEST_F(ExternalDictionaries, TextFormAndLookUpOrder) {
    writeFile(dir.file("a.txt"), "# private tags of a maker\n"
                                 "0009,0010  MakerCreator LO  1\n"
                                 "0009,1001\tMakerValue DS 1-n\n"
                                 "0010,0010  NotPatientName LO 1\n"
                                 "\n"
                                 "0009,1002  AfterTheBlank US 1\n");
    writeFile(dir.file("b.txt"), "0009,1001 Shadowed LO 1\n0019,0010 Other CS 2\n");
    ASSERT_EQ(Utils::loadExternalDictionary("first", dir.file("a.txt").c_str(), dicmIOformatText), 0);
    ASSERT_EQ(Utils::loadExternalDictionary("second", dir.file("b.txt").c_str(), dicmIOformatText), 0);
    EXPECT_EQ(Utils::externalDictionaryCount(), 2);

    const dicmDictEntry* e = Utils::dicomTagInfo({0x0009, 0x0010});
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->element, 0x0010);
    EXPECT_STREQ(e->name, "MakerCreator");
    EXPECT_STREQ(e->vr, "LO");
    EXPECT_STREQ(e->vm, "1");
    // The first loaded dictionary wins; the standard dictionary wins over both.
    EXPECT_STREQ(Utils::dicomTagInfo({0x0009, 0x1001})->name, "MakerValue");
    EXPECT_STREQ(Utils::dicomTagInfo({0x0019, 0x0010})->name, "Other");
    EXPECT_STREQ(Utils::dicomTagInfo({0x0010, 0x0010})->vr, "PN");
    // A blank line holds nothing and the load goes on after it.
    EXPECT_STREQ(Utils::dicomTagInfo({0x0009, 0x1002})->name, "AfterTheBlank");
    char vr[3] = {'x', 'x', 'x'};
    Utils::dicomVRForTag({0x0009, 0x1003}, 0, vr);
    EXPECT_EQ(std::memcmp(vr, "\0\0\0", 3), 0);
    Utils::dicomVRForTag({0x0009, 0x1001}, 0, vr);
    EXPECT_STREQ(vr, "DS");
}

TEST_F(ExternalDictionaries, EntriesStayValidAcrossLookUps) {
    writeFile(dir.file("a.txt"), "0009,0010 First LO 1\n0009,0011 Second US 2\n");
    ASSERT_EQ(Utils::loadExternalDictionary("d", dir.file("a.txt").c_str(), dicmIOformatText), 0);
    const dicmDictEntry* first = Utils::dicomTagInfo({0x0009, 0x0010});
    const dicmDictEntry* second = Utils::dicomTagInfo({0x0009, 0x0011});
    for (int i = 0; i < 100; ++i)
        Utils::dicomTagInfo({0x0009, uint16_t(0x1000 + i)});
    EXPECT_STREQ(first->name, "First");
    EXPECT_STREQ(first->vr, "LO");
    EXPECT_STREQ(second->name, "Second");
    EXPECT_EQ(Utils::dicomTagInfo({0x0009, 0x0010}), first);
}

// A line with a tag is kept with the fields it gives: a field missing, or too long for its place in
// the record, is zero with those after it. A line without a tag holds no entry. Neither ends the
// load: the lines after them are read.
TEST_F(ExternalDictionaries, ShortAndMalformedLinesNeverEndTheLoad) {
    const std::string longName(120, 'n'), okName(119, 'n'), longVM(20, '1');
    struct Case {
        std::string line;
        bool entry; // false: the line holds no entry
        const char* name;
        const char* vr;
        const char* vm;
    };
    const Case cases[] = {
        {"0009,0020 Good LO 1", true, "Good", "LO", "1"},
        {"0009,0020 NoVM LO", true, "NoVM", "LO", ""},
        {"0009,0020 NoVR", true, "NoVR", "", ""},
        {"0009,0020", true, "", "", ""},
        {"0009,0020 Name L 1", true, "Name", "", ""},           // a one-letter VR
        {"0009,0020 Two Words LO 1", true, "Two", "", ""},      // the VR place holds "Words"
        {"0009,0020 Name LO 1 extra", true, "Name", "LO", "1"}, // what follows the VM is ignored
        {"0009,0020 " + okName + " LO 1", true, okName.c_str(), "LO", "1"},
        {"0009,0020 " + longName + " LO 1", true, "", "", ""},
        {"0009,0020 Name LO " + longVM, true, "Name", "LO", ""},
        {"0009,0020 X LO 1" + std::string(400, ' ') + "0009,0041 Y LO 1", true, "X", "LO", "1"},
        {"0009 Name LO 1", false, "", "", ""},       // no element
        {"10009,0020 Name LO 1", false, "", "", ""}, // group beyond 16 bits
        {"0009,0020Name LO 1", false, "", "", ""},   // no blank after the tag
        {"zz09,0020 Name LO 1", false, "", "", ""},
        {"0009,0020 X LO 1" + std::string(5000, ' '), false, "", "", ""}, // beyond any entry
        {"   ", false, "", "", ""},
        {"# 0009,0020 Comment LO 1", false, "", "", ""},
    };
    int i = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line.substr(0, 40));
        const std::string path = dir.file("c" + std::to_string(i++) + ".txt");
        writeFile(path, "0009,0010 Before LO 1\n" + c.line + "\n0009,1000 After US 2\n");
        KelvoDicomDictionary d(path.c_str(), dicmIOformatText);
        EXPECT_EQ(d.Error(), 0);
        EXPECT_EQ(d.entryCount(), c.entry ? 3 : 2);
        EXPECT_STREQ(d.dicomTagInfo({0x0009, 0x0010})->name, "Before");
        const dicmDictEntry* after = d.dicomTagInfo({0x0009, 0x1000});
        ASSERT_NE(after, nullptr);
        EXPECT_STREQ(after->name, "After");
        EXPECT_STREQ(after->vr, "US");
        const dicmDictEntry* e = d.dicomTagInfo({0x0009, 0x0020});
        if (!c.entry) {
            EXPECT_EQ(e, nullptr);
            continue;
        }
        ASSERT_NE(e, nullptr);
        EXPECT_STREQ(e->name, c.name);
        EXPECT_STREQ(e->vr, c.vr);
        EXPECT_STREQ(e->vm, c.vm);
    }
    // The reader takes a VR it cannot use from such an entry as no VR: implicit elements of the
    // tag fall back to UN as for an unknown tag.
    writeFile(dir.file("short.txt"), "0009,1010 OnlyAName\n0009,1011 Full LO 1\n");
    ASSERT_EQ(Utils::loadExternalDictionary("short", dir.file("short.txt").c_str(), dicmIOformatText), 0);
    char vr[3] = {'x', 'x', 'x'};
    Utils::dicomVRForTag({0x0009, 0x1010}, 0, vr);
    EXPECT_EQ(std::memcmp(vr, "\0\0\0", 3), 0);
    Utils::dicomVRForTag({0x0009, 0x1011}, 0, vr);
    EXPECT_STREQ(vr, "LO");
}

// An empty text file is an empty dictionary (its entries, none, are all loaded); a file that is
// not read (XML) or whose lines are none of them dictionary lines is reported.
TEST_F(ExternalDictionaries, EmptyXmlMissingAndUnknownFormatsAreReported) {
    writeFile(dir.file("empty.txt"), "");
    writeFile(dir.file("comments.txt"), "# nothing yet\n\n");
    writeFile(dir.file("other.txt"), "not a dictionary\nat all\n");
    writeFile(dir.file("d.xml"), "<?xml version=\"1.0\"?><dict/>\n");
    EXPECT_EQ(Utils::loadExternalDictionary("e", dir.file("empty.txt").c_str(), dicmIOformatText), 0);
    EXPECT_EQ(Utils::loadExternalDictionary("c", dir.file("comments.txt").c_str(), dicmIOformatText), 0);
    EXPECT_EQ(Utils::externalDictionaryCount(), 2);
    EXPECT_EQ(Utils::dicomTagInfo({0x0009, 0x0010}), nullptr);
    EXPECT_EQ(Utils::loadExternalDictionary("o", dir.file("other.txt").c_str(), dicmIOformatText), 111);
    EXPECT_EQ(Utils::loadExternalDictionary("x", dir.file("d.xml").c_str(), dicmIOformatXML), 111);
    EXPECT_EQ(Utils::loadExternalDictionary("m", dir.file("missing").c_str(), dicmIOformatText), 100);
    EXPECT_EQ(Utils::loadExternalDictionary("m", dir.file("missing").c_str(), dicmIOformatXML), 100);
    EXPECT_EQ(Utils::loadExternalDictionary("u", dir.file("empty.txt").c_str(), dicmIOformat(7)), 111);
    EXPECT_EQ(Utils::externalDictionaryCount(), 2);
    // An empty dictionary listed first answers nothing; the one after it still answers.
    writeFile(dir.file("a.txt"), "0009,0010 Later LO 1\n");
    EXPECT_EQ(Utils::loadExternalDictionary("a", dir.file("a.txt").c_str(), dicmIOformatText), 0);
    EXPECT_STREQ(Utils::dicomTagInfo({0x0009, 0x0010})->name, "Later");
}

TEST_F(ExternalDictionaries, BinaryFormInBothByteOrders) {
    for (bool other : {false, true}) {
        Utils::unloadExternalDictionaries();
        writeFile(dir.file("d.bin"), binaryDictionary(other, {record(0x0011, 0x0010, "Creator", "LO", "1"),
                                                              record(0x0011, 0x1020, "Count", "UL", "1")}) +
                                         "short");
        ASSERT_EQ(Utils::loadExternalDictionary("b", dir.file("d.bin").c_str(), dicmIOformatBinary), 0);
        const dicmDictEntry* e = Utils::dicomTagInfo({0x0011, 0x1020});
        ASSERT_NE(e, nullptr) << other;
        EXPECT_STREQ(e->name, "Count");
        EXPECT_STREQ(e->vr, "UL");
    }
    // Unterminated texts in a record are cut within their fields.
    dicmDictFileRecord r = record(0x0013, 0x0010, "", "LO", "");
    std::memset(r.name, 'A', sizeof r.name);
    std::memset(r.vm, '1', sizeof r.vm);
    writeFile(dir.file("raw.bin"), binaryDictionary(false, {r}));
    KelvoDicomDictionary d(dir.file("raw.bin").c_str(), dicmIOformatBinary);
    const dicmDictEntry* e = d.dicomTagInfo({0x0013, 0x0010});
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(std::strlen(e->name), 119u);
    EXPECT_EQ(std::strlen(e->vm), 19u);
}

TEST(StandardDictionary, MultiVRTagsAndPrivateGroups) {
    Utils::unloadExternalDictionaries();
    EXPECT_EQ(Utils::dicomTagInfo({0x7FE0, 0x0010}), nullptr);
    EXPECT_TRUE(Utils::dicomTagHasMultipleVR({0x7FE0, 0x0010}));
    EXPECT_TRUE(Utils::dicomTagHasMultipleVR({0x0028, 0x0106}));
    EXPECT_FALSE(Utils::dicomTagHasMultipleVR({0x0028, 0x0010}));
    EXPECT_EQ(Utils::dicomTagInfo({0x0009, 0x0010}), nullptr);
    EXPECT_STREQ(DicmDict_Tag(0x0028, 0x0010, 0)->vr, "US");
    EXPECT_STREQ(Utils::vrInfo("OB")->vr, "OB");
}

TEST(LibraryInfo, TextAndXmlBlocks) {
    auto capture = [](dicmIOformat f) {
        FILE* file = std::tmpfile();
        Utils::libraryInfoWrite(file, f);
        std::rewind(file);
        std::string out;
        for (int c; (c = std::fgetc(file)) != EOF;)
            out += char(c);
        std::fclose(file);
        return out;
    };
    const std::string rule = "#" + std::string(56, '=') + "\n";
    EXPECT_EQ(capture(dicmIOformatText), rule + "#VUXDicom Library version 4.0.0\n" + rule);
    EXPECT_EQ(capture(dicmIOformatXML), "<KelvoDicomInfo>\n<version>4.0.0\n</version>\n</KelvoDicomInfo>\n");
    EXPECT_EQ(capture(dicmIOformatBinary), "");
    Utils::libraryInfoWrite(nullptr, dicmIOformatText);
}

} // namespace
