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
                                 "0009,1002  NeverRead US 1\n");
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
    // The blank line ended the load.
    EXPECT_EQ(Utils::dicomTagInfo({0x0009, 0x1002}), nullptr);
    char vr[3] = {'x', 'x', 'x'};
    Utils::dicomVRForTag({0x0009, 0x1002}, 0, vr);
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

TEST_F(ExternalDictionaries, MalformedLinesAreBoundedAndEndTheLoad) {
    struct Case {
        const char* line;
        bool accepted;
    };
    const std::string longName(120, 'n'), okName(119, 'n'), longVM(20, '1');
    const Case cases[] = {
        {"0009,0020 Good LO 1", true},       {"0009,0020 NoVM LO", true},
        {"0009,0020 Name L 1", false},       // one-letter VR
        {"0009,0020 Name", false},           // no VR
        {"0009 Name LO 1", false},           // no element
        {"10009,0020 Name LO 1", false},     // group beyond 16 bits
        {"0009,0020Name LO 1", false},       // no blank after the tag
        {"0009,0020 Name LO 1 extra", true}, // what follows the VM is ignored
        {"zz09,0020 Name LO 1", false},      {"   ", false},
    };
    int i = 0;
    for (const Case& c : cases) {
        std::string path = dir.file("c" + std::to_string(i++) + ".txt");
        writeFile(path, std::string(c.line) + "\n");
        EXPECT_EQ(Utils::loadExternalDictionary("c", path.c_str(), dicmIOformatText), c.accepted ? 0 : 111)
            << c.line;
    }
    writeFile(dir.file("names.txt"), "0009,0030 " + okName + " LO 1\n0009,0031 " + longName + " LO 1\n");
    KelvoDicomDictionary names(dir.file("names.txt").c_str(), dicmIOformatText);
    EXPECT_EQ(names.entryCount(), 1);
    EXPECT_EQ(std::strlen(names.dicomTagInfo({0x0009, 0x0030})->name), 119u);
    writeFile(dir.file("vm.txt"), "0009,0030 Name LO " + longVM + "\n");
    EXPECT_EQ(Utils::loadExternalDictionary("vm", dir.file("vm.txt").c_str(), dicmIOformatText), 111);
    // A line longer than the reader's line is refused, not split into lines.
    writeFile(dir.file("long.txt"), "0009,0040 X LO 1" + std::string(400, ' ') + "0009,0041 Y LO 1\n");
    EXPECT_EQ(Utils::loadExternalDictionary("long", dir.file("long.txt").c_str(), dicmIOformatText), 111);
}

TEST_F(ExternalDictionaries, EmptyXmlMissingAndUnknownFormatsAreReported) {
    writeFile(dir.file("empty.txt"), "");
    writeFile(dir.file("d.xml"), "<?xml version=\"1.0\"?><dict/>\n");
    EXPECT_EQ(Utils::loadExternalDictionary("e", dir.file("empty.txt").c_str(), dicmIOformatText), 111);
    EXPECT_EQ(Utils::loadExternalDictionary("x", dir.file("d.xml").c_str(), dicmIOformatXML), 111);
    EXPECT_EQ(Utils::loadExternalDictionary("m", dir.file("missing").c_str(), dicmIOformatText), 100);
    EXPECT_EQ(Utils::loadExternalDictionary("u", dir.file("empty.txt").c_str(), dicmIOformat(7)), 111);
    EXPECT_EQ(Utils::externalDictionaryCount(), 0);
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
