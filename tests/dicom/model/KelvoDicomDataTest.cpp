#include "KelvoDicomData.h"
#include "KelvoDicomUtils.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

using namespace std::string_literals;

namespace {

using testsupport::ScratchDir;

// Reads one value of `vr` and `bytes` from a file, as the reader hands it over.
struct FileValue {
    ScratchDir dir{"kelvo-node"};
    KelvoDicomDataNode node;
    void read(const char* vr, const std::string& bytes, bool swap, uint32_t lengthOverride = 0) {
        std::string path = dir.file("v.bin");
        testsupport::writeFile(path, "HEADER12" + bytes); // the value starts at offset 8
        FILE* f = std::fopen(path.c_str(), "rb");
        dicomNodeDescRecord desc{
            0x0008, 0x0016, {vr[0], vr[1]}, {0, 0}, lengthOverride ? lengthOverride : uint32_t(bytes.size())};
        dicomNodeFPosRecord pos{0, 8};
        KelvoDicomDataNode::read(f, desc, pos, swap, node);
        std::fclose(f);
    }
};

using testsupport::capture;

std::string written(KelvoDicomDataNode& node, uint8_t flags) {
    return capture([&](FILE* f) { node.flushToBinary(f, &flags); });
}

TEST(DataNode, TextValuesKeepTheirPadding) {
    struct Case {
        const char* vr;
        std::string file;   // bytes read from the file
        std::string stored; // first value as stored
        std::string out;    // explicit little endian, header and value
    };
    const Case cases[] = {
        {"CS", "ABC ", "ABC\0"s, "CS\x04\0ABC "s},
        {"CS", "AB", "AB\0"s, "CS\x02\0AB"s},
        {"UI", "1.2.3\0"s, "1.2.3\0\0"s,
         "UI\x06\0"
         "1.2.3\0"s},
        {"LO", "A\\B ", "A\\B\0"s,
         "LO\x04\0"
         "A\\B "s},
        {"UT", "x ", "x\0"s, "UT\0\0\x02\0\0\0x "s},
    };
    for (const Case& c : cases) {
        FileValue v;
        v.read(c.vr, c.file, false);
        ASSERT_EQ(v.node.Error(), 0) << c.vr;
        Handle h = v.node.Value(0);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(std::string(*h, size_t(GetHandleSize(h))), c.stored) << c.vr;
        DisposeHandle(h);
        EXPECT_EQ(written(v.node, 0), c.out) << c.vr;
    }
    // Values set in memory: a UI of 5 characters is padded with a zero byte, one of 4 is not.
    KelvoDicomDataNode ui("UI");
    ui.strValue("1.2.3");
    EXPECT_EQ(written(ui, 0), "UI\x06\0"
                              "1.2.3\0"s);
    ui.strValue("1.23");
    EXPECT_EQ(written(ui, 0), "UI\x04\0"
                              "1.23"s);
    EXPECT_TRUE(KelvoDicomDataNode("CS").init("CS"));
}

TEST(DataNode, NumbersInBothByteOrders) {
    FileValue us;
    us.read("US", "\x01\x02\x03\x04\x05\x06", true);
    EXPECT_EQ(us.node.valueCount(), 3);
    EXPECT_EQ(us.node.usValue(0), 0x0102);
    EXPECT_EQ(us.node.usValue(2), 0x0506);
    FileValue le;
    le.read("UL", "\x01\x02\x03\x04\x05\x06\x07\x08", false);
    EXPECT_EQ(le.node.ulValue(1), 0x08070605u);
    FileValue fd;
    fd.read("FD", "\x3F\xF8\0\0\0\0\0\0"s, true); // 1.5 big endian
    EXPECT_EQ(fd.node.doubleValue(0), 1.5);
    FileValue fl;
    fl.read("FL", "\0\0\xC0\x3F"s, false); // 1.5 little endian
    EXPECT_EQ(fl.node.floatValue(0), 1.5f);
    FileValue at;
    at.read("AT", "\x00\x28\x00\x10"s, true);
    AttributeTagRecord tag{};
    at.node.atValueGet(&tag, 0);
    EXPECT_EQ(tag.group, 0x0028);
    EXPECT_EQ(tag.element, 0x0010);
    FileValue ow;
    ow.read("OW", "\x12\x34\x56\x78", true);
    EXPECT_EQ(ow.node.usValue(0), 0x1234); // the first word of the one OW atom
    Handle h = ow.node.Value(0);
    EXPECT_EQ(std::string(*h, 4), "\x34\x12\x78\x56");
    DisposeHandle(h);
    // A missing value reads as zero.
    EXPECT_EQ(us.node.usValue(7), 0);
}

// Raw values are held in host order whatever the file's: each VR's numbers are swapped by their
// own size (2 OW; 4 OF, OL; 8 OD, OV, SV, UV), bytes (OB, UN) never; and written back in the
// output's order.
TEST(DataNode, RawValuesAreSwappedByTheirNumbersSize) {
    struct Case {
        const char* vr;
        size_t word;
    };
    const Case cases[] = {{"OB", 1}, {"UN", 1}, {"OW", 2}, {"OF", 4}, {"OL", 4},
                          {"OD", 8}, {"OV", 8}, {"SV", 8}, {"UV", 8}};
    const std::string big = "\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D\x0E\x0F"s;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.vr);
        std::string host = big;
        for (size_t i = 0; i + c.word <= host.size(); i += c.word)
            std::reverse(host.begin() + long(i), host.begin() + long(i + c.word));
        FileValue swapped;
        swapped.read(c.vr, big, true);
        Handle h = swapped.node.Value(0);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(std::string(*h, size_t(GetHandleSize(h))), host);
        DisposeHandle(h);
        FileValue plain;
        plain.read(c.vr, host, false);
        const std::string header = std::string(c.vr, 2) + "\0\0"s;
        EXPECT_EQ(written(plain.node, kDicomWriteBigEndian), header + "\0\0\0\x10"s + big);
        EXPECT_EQ(written(swapped.node, 0), header + "\x10\0\0\0"s + host);
        EXPECT_EQ(written(swapped.node, kDicomWriteImplicitVR), "\x10\0\0\0"s + host);
    }
    // A UV of 2 read from a big-endian file is 2 in the host's order, and 2 again big endian.
    FileValue uv;
    uv.read("UV", "\0\0\0\0\0\0\0\x02"s, true);
    Handle h = uv.node.Value(0);
    uint64_t two = 0;
    std::memcpy(&two, *h, 8);
    DisposeHandle(h);
    EXPECT_EQ(two, 2u);
    EXPECT_EQ(written(uv.node, kDicomWriteBigEndian), "UV\0\0\0\0\0\x08\0\0\0\0\0\0\0\x02"s);
}

TEST(DataNode, LengthsFromTheFileAreBounded) {
    FileValue past;
    past.read("OB", "abcd", false, 0x7FFFFFF0);
    EXPECT_EQ(past.node.Error(), 303);
    EXPECT_EQ(past.node.valueCount(), 0);
    FileValue undefined;
    undefined.read("OB", "abcd", false, 0xFFFFFFFF);
    EXPECT_EQ(undefined.node.Error(), 303);
    FileValue oneMore;
    oneMore.read("OB", "abcd", false, 5);
    EXPECT_EQ(oneMore.node.Error(), 303);
    FileValue unknown;
    unknown.read("ZZ", "abcd", false);
    EXPECT_EQ(unknown.node.Error(), -50);
    KelvoDicomDataNode node;
    dicomNodeDescRecord desc{8, 0x16, {'O', 'B'}, {0, 0}, 2};
    KelvoDicomDataNode::read(nullptr, desc, dicomNodeFPosRecord{0, 8}, false, node);
    EXPECT_EQ(node.Error(), 303);
    ScratchDir dir("kelvo-node");
    testsupport::writeFile(dir.file("x"), "0123456789");
    FILE* f = std::fopen(dir.file("x").c_str(), "rb");
    KelvoDicomDataNode::read(f, desc, dicomNodeFPosRecord{8, 8}, false, node);
    EXPECT_EQ(node.Error(), 303); // element position not below value position
    std::fclose(f);
}

TEST(DataNode, OddOBIsPaddedAndItsLengthSaysSo) {
    FileValue ob;
    ob.read("OB", "\x01\x02\x03", false);
    EXPECT_EQ(ob.node.dataBinarySize(), 3u);
    EXPECT_EQ(ob.node.fullBinarySize(), 16);
    EXPECT_EQ(written(ob.node, 0), "OB\0\0\x04\0\0\0\x01\x02\x03\0"s);
    // Values set in memory are padded when stored; the caller's handle is left alone.
    KelvoDicomDataNode node("OB");
    Handle h = nullptr;
    PtrToHand("abc", &h, 3);
    node.Value(h, 0);
    EXPECT_EQ(GetHandleSize(h), 3);
    EXPECT_EQ(node.dataBinarySize(), 4u);
    DisposeHandle(h);
}

TEST(DataNode, HeadersInEveryEncoding) {
    KelvoDicomDataNode us("US");
    us.usValueSet(1, -1);
    us.usValueSet(0x0203, -1);
    EXPECT_EQ(written(us, 0), "US\x04\0\x01\0\x03\x02"s);
    EXPECT_EQ(written(us, kDicomWriteBigEndian), "US\0\x04\0\x01\x02\x03"s);
    EXPECT_EQ(written(us, kDicomWriteImplicitVR), "\x04\0\0\0\x01\0\x03\x02"s);
    KelvoDicomDataNode ow("OW");
    Handle h = nullptr;
    PtrToHand("\x01\x02", &h, 2);
    ow.Append(h);
    DisposeHandle(h);
    EXPECT_EQ(written(ow, kDicomWriteBigEndian), "OW\0\0\0\0\0\x02\x02\x01"s);
    EXPECT_EQ(written(ow, kDicomWriteImplicitVR | kDicomWriteBigEndian), "\0\0\0\x02\x02\x01"s);
    KelvoDicomDataNode empty("LO");
    EXPECT_EQ(written(empty, 0), "LO\0\0"s);
    EXPECT_EQ(empty.fullBinarySize(), 8);
    KelvoDicomDataNode none;
    EXPECT_EQ(written(none, 0), "");
    EXPECT_EQ(none.fullBinarySize(), 0);
    // A value too long for a 16-bit length is refused in that form.
    KelvoDicomDataNode lo("LO");
    lo.strValue(std::string(70000, 'a').c_str());
    EXPECT_EQ(written(lo, 0), "");
    EXPECT_EQ(lo.Error(), -50);
}

TEST(DataNode, NumberSetters) {
    KelvoDicomDataNode us("US");
    us.usValueSet(7, -1);
    us.usValueSet(8, -1);
    EXPECT_EQ(us.valueCount(), 2);
    us.usValueSet(9, 1);
    EXPECT_EQ(us.usValue(1), 9);
    us.usValueSet(7, 5);
    EXPECT_EQ(us.Error(), -50);
    KelvoDicomDataNode ul("UL");
    ul.usValueSet(7, -1);
    EXPECT_EQ(ul.valueCount(), 0);
    EXPECT_TRUE(us.hasMultipleValues());
    KelvoDicomDataNode cs("CS");
    cs.strValue("A\\B");
    EXPECT_TRUE(cs.hasMultipleValues());
    KelvoDicomDataNode lt("LT");
    lt.strValue("A\\B");
    EXPECT_FALSE(lt.hasMultipleValues());
    Handle h = us.Value(-1);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(us.Error(), -50);
}

TEST(DataNode, TextAndXmlDumps) {
    FileValue ob;
    ob.read("OB", "\x01\xFF"s, false);
    EXPECT_EQ(capture([&](FILE* f) { ob.node.flushToText(f, 0); }), "Data count=1\t01\tFF\t");
    KelvoDicomDataNode us("US");
    us.usValueSet(3, -1);
    us.usValueSet(65535, -1);
    EXPECT_EQ(capture([&](FILE* f) { us.flushToText(f, 0); }), "Data count=2\t3\t65535\t");
    EXPECT_EQ(capture([&](FILE* f) { us.flushToXml(f, 0); }),
              "<Data count=\"2\">\n<Value>3</Value>\n<Value>65535</Value>\n</Data>\n");
    KelvoDicomDataNode pn("PN");
    pn.strValue("Smith^<Jo & \"Al\">\x01\xE9");
    EXPECT_EQ(capture([&](FILE* f) { pn.flushToText(f, 0); }),
              "Data count=1\t[Smith^<Jo & \"Al\">\x01\xE9]\t");
    EXPECT_EQ(
        capture([&](FILE* f) { pn.flushToXml(f, 0); }),
        "<Data count=\"1\">\n<Value>Smith^&lt;Jo &amp; &quot;Al&quot;&gt;&#xFFFD;&#xE9;</Value>\n</Data>\n");
    KelvoDicomDataNode empty("LO");
    EXPECT_EQ(capture([&](FILE* f) { empty.flushToText(f, 0); }), "(no value available)\t");
    EXPECT_EQ(capture([&](FILE* f) { empty.flushToXml(f, 0); }), "<Data/>\n");
    KelvoDicomDataNode at("AT");
    AttributeTagRecord t{0x7FE0, 0x0010};
    at.atValueSet(&t, -1);
    EXPECT_EQ(capture([&](FILE* f) { at.flushToText(f, 0); }), "Data count=1\t(0x7FE0,0x0010)\t");
}

TEST(DataNode, ValuesUnderAnElementAtom) {
    Kelvo_AtomContainer tree;
    Kelvo_AtomCoord element = tree.addChild(kDicomElementAtom, 0x10, 0);
    qtAtomNodeHeader header{{'U', 'S'}, 0, 4, 100, 108};
    element.addChild(kDicomNodeHeaderAtom, 1, 0).setData(&header, sizeof header);
    KelvoDicomDataNode us("US");
    us.usValueSet(5, -1);
    us.usValueSet(6, -1);
    int32_t status = 0;
    QTAtom data = DicmUtils_DicomNodeAddData(tree.container(), element.atom(), us, status);
    ASSERT_NE(data, 0);
    // Adding again replaces, not appends.
    DicmUtils_DicomNodeAddData(tree.container(), element.atom(), us, status);
    KelvoDicomDataNode back;
    KelvoDicomDataNode::read(element, "US", back);
    EXPECT_EQ(back.Error(), 0);
    EXPECT_EQ(back.valueCount(), 2);
    EXPECT_EQ(back.usValue(1), 6);
    qtAtomNodeHeader got{};
    EXPECT_TRUE(DicmUtils_NodeInfo(element, got, status));
    EXPECT_EQ(got.valuePosition, 108);
    Kelvo_AtomCoord bare = tree.addChild(kDicomElementAtom, 0x11, 0);
    EXPECT_FALSE(DicmUtils_NodeInfo(bare, got, status));
    KelvoDicomDataNode::read(bare, "US", back);
    EXPECT_EQ(back.Error(), -2101);
    Kelvo_AtomCoord none;
    KelvoDicomDataNode::read(none, "US", back);
    EXPECT_EQ(back.Error(), -50);
}

} // namespace
