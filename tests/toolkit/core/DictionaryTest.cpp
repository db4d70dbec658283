#include "KelvoAtomicsDictionary.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

using namespace std::string_literals;

namespace {

std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class DictionaryDump : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() / ("kelvo-dict-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        // wxyz > abcd "hi", then an empty leaf.
        Kelvo_AtomCoord w = dict.addChild(FOUR_CHAR_CODE("wxyz"), 1, 0);
        w.addChild(FOUR_CHAR_CODE("abcd"), 1, 0).setData("hi", 2);
        dict.addChild(FOUR_CHAR_CODE("leaf"), 2, 0);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::filesystem::path dir;
    Kelvo_Dictionary dict;
};

TEST_F(DictionaryDump, TextForm) {
    dict.toTextFile((dir / "d.txt").c_str());
    EXPECT_EQ(dict.Error(), 0);
    EXPECT_EQ(
        slurp(dir / "d.txt"),
        "[KelvoDictionary version=1.0]\n\tNode(wxyz)\n\t\tNode(abcd)\n\tNode(leaf)\n[KelvoDictionary End]\n");
    Kelvo_Dictionary empty;
    empty.toTextFile((dir / "e.txt").c_str());
    EXPECT_EQ(slurp(dir / "e.txt"), "[KelvoDictionary version=1.0]\n[KelvoDictionary End]\n");
}

TEST_F(DictionaryDump, XmlFormIsWellFormed) {
    std::string path = (dir / "d.xml").string();
    dict.toXmlFile(path.c_str());
    EXPECT_EQ(slurp(path), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                           "<KelvoDictionary version=\"1.0\">\n"
                           "<Node type=\"wxyz\">\n<Node type=\"abcd\"/>\n</Node>\n"
                           "<Node type=\"leaf\"/>\n"
                           "</KelvoDictionary>\n");
    // Awkward types too: markup characters and control bytes.
    dict.addChild(FOUR_CHAR_CODE("<&'>"), 1, 0);
    dict.addChild(7, 1, 0).addChild(FOUR_CHAR_CODE("in\"n"), 1, 0);
    dict.toXmlFile(path.c_str());
    std::string cmd = "xmllint --noout '" + path + "' 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << slurp(path);
}

TEST_F(DictionaryDump, BinaryForm) {
    dict.toBinaryFile((dir / "d.bin").c_str(), nullptr);
    const std::string flat = "\0\0\0\0\0\0\0\0\0\0\0\0"s
                             "\0\0\0\x52se"
                             "an\0\0\0\x01\0\0\0\x02\0\0\0\0"s
                             "\0\0\0\x2Awxyz\0\0\0\x01\0\0\0\x01\0\0\0\0"s
                             "\0\0\0\x16"
                             "abcd\0\0\0\x01\0\0\0\0\0\0\0\0hi"s
                             "\0\0\0\x14leaf\0\0\0\x02\0\0\0\0\0\0\0\0"s;
    EXPECT_EQ(slurp(dir / "d.bin"), std::string(512, '\0') + "DICT" + flat);
    dict.toBinaryFile((dir / "t.bin").c_str(), "KELVxx");
    EXPECT_EQ(slurp(dir / "t.bin").substr(512, 4), "KELV");
    EXPECT_EQ(slurp(dir / "t.bin").size(), 516 + flat.size());
}

TEST_F(DictionaryDump, BadPaths) {
    dict.toXmlFile("");
    EXPECT_EQ(dict.Error(), 101);
    dict.toTextFile(nullptr);
    EXPECT_EQ(dict.Error(), -50);
    dict.toBinaryFile((dir / "no-such-dir" / "x").c_str(), nullptr);
    EXPECT_EQ(dict.Error(), 101);
    dict.flushToBinary(nullptr, nullptr);
    EXPECT_EQ(dict.Error(), -50);
}

TEST(Dictionary, ItemsByPosition) {
    Kelvo_Dictionary d;
    QTAtom a = d.addChild(FOUR_CHAR_CODE("aaaa"), 1, 0).atom();
    d.addChild(FOUR_CHAR_CODE("bbbb"), 1, 0);
    QTAtom c = d.addChild(FOUR_CHAR_CODE("aaaa"), 2, 0).atom();
    EXPECT_EQ(d.FindItem(1, 0), a);
    EXPECT_EQ(d.Error(), 0);
    EXPECT_EQ(d.FindItem(3, 0), c);
    EXPECT_EQ(d.FindItem(0, 0), 0);
    EXPECT_EQ(d.Error(), 320);
    EXPECT_EQ(d.FindItem(4, 0), 0);
    EXPECT_EQ(d.Error(), 320);
    EXPECT_EQ(d.ValueKey(3), c);
    EXPECT_EQ(d.Key(-1), 0);
    EXPECT_EQ(d.Key(1), 1);
    EXPECT_EQ(d.Key(3), 0);
    EXPECT_TRUE(d.HasKey(2));
    d.RemoveKey(2);
    EXPECT_TRUE(d.HasKey(2));
    d.RemoveKey(2);
    EXPECT_FALSE(d.HasKey(2));
    EXPECT_EQ(d.FindItem(1, 0), a);

    // Copies are deep; clone is a dictionary.
    Kelvo_Dictionary other;
    other.Copy(d);
    other.Clear();
    EXPECT_EQ(d.count(), 1);
    Kelvo_QTObj* cl = d.clone();
    ASSERT_NE(cl, nullptr);
    EXPECT_STREQ(cl->qtObjName(), "Kelvo_Dictionary");
    EXPECT_EQ(static_cast<Kelvo_Dictionary*>(cl)->count(), 1);
    delete cl;
    EXPECT_EQ(d.getObjValue(1), nullptr);
}

} // namespace
