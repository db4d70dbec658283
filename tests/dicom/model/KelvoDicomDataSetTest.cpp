#include "KelvoDicomDataElements.h"
#include "KelvoDicomDataSet.h"
#include "KelvoDicomSequence.h"
#include "KelvoDicomUtils.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

using testsupport::capture;

// The children of a set's root as "E0010 S0015 ..." (E element, S sequence).
std::string order(KelvoDicomDataSet& set) {
    std::string out;
    QTAtom child = 0;
    while (QTNextChildAnyType(set.Dictionary(), set.getRootOfItems(), child, &child) == noErr && child) {
        QTAtomType t;
        QTAtomID id;
        QTGetAtomTypeAndID(set.Dictionary(), child, &t, &id);
        char word[16];
        std::snprintf(word, sizeof word, "%c%04X", t == kDicomSequenceAtom ? 'S' : 'E',
                      unsigned(DicmUtils_NumberForAtomID(id)));
        if (!out.empty()) out += ' ';
        out += word;
    }
    return out;
}

std::string binary(KelvoDicomDataSet& set, uint32_t flags) {
    return capture([&](FILE* f) { set.flushToBinary(f, &flags); });
}

TEST(DataSet, ElementsAndSequencesStayInTagOrder) {
    KelvoDicomDataSet set(0x0008);
    set.setUSValueProperty(0x0020, 1);
    set.setUSValueProperty(0x0010, 2);
    set.setUSValueProperty(0x0030, 3);
    EXPECT_EQ(order(set), "E0010 E0020 E0030");
    set.setULValueProperty(0, 99);
    set.setUSValueProperty(0x0040, 4);
    EXPECT_EQ(order(set), "E0010 E0020 E0030 E0040 E0000");
    KelvoDicomDataItemGroup seq(0x0025);
    EXPECT_EQ(set.setSequenceProperty(0x0025, seq), 0);
    KelvoDicomDataItemGroup first(0x0005);
    set.setSequenceProperty(0x0005, first);
    set.setUSValueProperty(0x0024, 5); // placed before a sequence, among elements and sequences
    set.setUSValueProperty(0x0026, 6);
    set.setUSValueProperty(0x0001, 7);
    EXPECT_EQ(order(set), "E0001 S0005 E0010 E0020 E0024 S0025 E0026 E0030 E0040 E0000");
    EXPECT_EQ(set.count(), 10);
    KelvoDicomDataNode* keys = set.getKeys();
    EXPECT_EQ(keys->valueCount(), 10);
    EXPECT_EQ(keys->usValue(1), 0x0005);
    EXPECT_EQ(keys->usValue(9), 0);
    delete keys;
    // Replacing a sequence by a plain value keeps the place.
    set.setUSValueProperty(0x0025, 8);
    EXPECT_EQ(order(set), "E0001 S0005 E0010 E0020 E0024 E0025 E0026 E0030 E0040 E0000");
}

TEST(DataSet, TypedAccessAndStatuses) {
    KelvoDicomDataSet set(0x0010);
    set.setStringValueProperty(0x0010, "Doe^Jane");
    EXPECT_STREQ(set.getStringValueProperty(0x0010), "Doe^Jane");
    char buf[5];
    set.getStringValueProperty(0x0010, buf, sizeof buf);
    EXPECT_STREQ(buf, "Doe^");
    EXPECT_STREQ(set.getStringValueProperty(0x0020), "");
    EXPECT_EQ(set.Error(), 321);
    set.setSSValueProperty(0x1234, -5);
    EXPECT_EQ(set.getSSValueProperty(0x1234), -5);
    set.setUSValueProperty(0x1234, 5); // the element holds SS: refused
    EXPECT_EQ(set.Error(), -50);
    EXPECT_EQ(set.getSSValueProperty(0x1234), -5);
    // Longer than the scratch text: cut, not overrun.
    set.setStringValueProperty(0x4000, std::string(3000, 'x').c_str());
    EXPECT_EQ(std::strlen(set.getStringValueProperty(0x4000)), 1024u);
    Kelvo_QTObj* node = set.getObjValue(0x0010);
    ASSERT_NE(node, nullptr);
    EXPECT_TRUE(node->isA("KelvoDicomDataNode"));
    delete node;
    EXPECT_EQ(set.getObjValue(0x7777), nullptr);
    EXPECT_EQ(set.Error(), 321);
    EXPECT_EQ(set.FindItem(-1, set.getRootOfItems()), 0);
    EXPECT_EQ(set.Error(), 320);
    set.RemoveKey(0x0010);
    EXPECT_FALSE(set.HasKey(0x0010));
    KelvoDicomDataSet zero(uint16_t(0));
    EXPECT_EQ(zero.groupID(), 0);
    KelvoDicomDataSet fromAtom(zero.Dictionary(), zero.getRootOfItems());
    EXPECT_EQ(fromAtom.groupID(), 0);
    KelvoDicomDataSet wrong(zero.Dictionary(), 0);
    EXPECT_EQ(wrong.Error(), -2108);
}

TEST(DataSet, BinaryElementsInEveryEncoding) {
    KelvoDicomDataSet set(0x0028);
    set.setUSValueProperty(0x0010, 512);
    EXPECT_EQ(binary(set, 0), "\x28\x00\x10\x00US\x02\x00\x00\x02"s);
    EXPECT_EQ(binary(set, kDicomWriteBigEndian), "\x00\x28\x00\x10US\x00\x02\x02\x00"s);
    EXPECT_EQ(binary(set, kDicomWriteImplicitVR), "\x28\x00\x10\x00\x02\x00\x00\x00\x00\x02"s);
    // With a group length: written first, equal to what follows, and not written twice.
    std::string withLength = binary(set, kDicomWriteGroupLength);
    EXPECT_EQ(withLength, "\x28\x00\x00\x00UL\x04\x00\x0A\x00\x00\x00\x28\x00\x10\x00US\x02\x00\x00\x02"s);
    withLength = binary(set, kDicomWriteGroupLength | kDicomWriteImplicitVR | kDicomWriteBigEndian);
    EXPECT_EQ(withLength,
              "\x00\x28\x00\x00\x00\x00\x00\x04\x00\x00\x00\x0A\x00\x28\x00\x10\x00\x00\x00\x02\x02\x00"s);
    // The stored group length is not written without the flag.
    EXPECT_EQ(binary(set, 0), "\x28\x00\x10\x00US\x02\x00\x00\x02"s);
}

TEST(DataSet, SequencesAndItemsInBinary) {
    KelvoDicomDataSet set(0x0008);
    KelvoDicomDataItemGroup empty(0x1115);
    set.setSequenceProperty(0x1115, empty);
    EXPECT_EQ(binary(set, 0), "\x08\x00\x15\x11SQ\x00\x00\x00\x00\x00\x00"s);
    set.RemoveKey(0x1115);

    KelvoDicomDataSet inner(0x0008);
    inner.setStringValueProperty(0x1150, "1.2");
    KelvoDicomDataItem item;
    item.setObjValue(0x0008, &inner);
    KelvoDicomDataItemGroup seq(0x1140);
    seq.setObjValue(0, &item);
    set.setSequenceProperty(0x1140, seq);
    const std::string innerBytes = "\x08\x00\x50\x11UI\x04\x00"
                                   "1.2\0"s;
    EXPECT_EQ(binary(set, 0), "\x08\x00\x40\x11SQ\x00\x00\xFF\xFF\xFF\xFF"
                              "\xFE\xFF\x00\xE0\xFF\xFF\xFF\xFF"s +
                                  innerBytes +
                                  "\xFE\xFF\x0D\xE0\x00\x00\x00\x00\xFE\xFF\xDD\xE0\x00\x00\x00\x00"s);
    // The group length counts the sequence as written, in each encoding, nested group lengths
    // included.
    for (uint32_t flags : {0u, uint32_t(kDicomWriteImplicitVR), uint32_t(kDicomWriteBigEndian)}) {
        std::string all = binary(set, flags | kDicomWriteGroupLength);
        EXPECT_EQ(set.GroupLength(), all.size() - 12) << flags;
        EXPECT_EQ(set.GroupLengthGetCurrent((flags & kDicomWriteImplicitVR) != 0), binary(set, flags).size())
            << flags;
    }
    // Nested data sets get their own group length with the flag.
    std::string nested = binary(set, kDicomWriteGroupLength);
    EXPECT_NE(nested.find("\x08\x00\x00\x00UL\x04\x00\x0C\x00\x00\x00"s), std::string::npos);
}

// Dumps and writes read nested data sets, sequences and items where they lie: what a view writes
// is what a copy writes, and writing through a view (group lengths included) leaves the source
// as it was.
TEST(DataSet, ViewsWriteAsCopiesAndLeaveTheSourceAsItWas) {
    KelvoDicomDataSet set(0x0008);
    set.setStringValueProperty(0x0016, "1.2.3");
    KelvoDicomDataItemGroup seq(0x1140);
    for (const char* uid : {"1.2", "1.2.840.5", "9"}) {
        KelvoDicomDataSet inner(0x0008);
        inner.setStringValueProperty(0x1150, uid);
        KelvoDicomDataItem item;
        item.setObjValue(0x0008, &inner);
        seq.setObjValue(0, &item);
    }
    set.setSequenceProperty(0x1140, seq);
    set.setUSValueProperty(0x2000, 7);
    const std::string layout = order(set);
    const std::string text = capture([&](FILE* f) { set.flushToText(f, 0); });
    KelvoDicomDataSet view(set.Dictionary(), set.getRootOfItems(), KelvoAtomView::borrowed);
    ASSERT_TRUE(view.qtObjIsValid());
    EXPECT_TRUE(view.borrowed());
    EXPECT_EQ(view.groupID(), 0x0008);
    EXPECT_EQ(capture([&](FILE* f) { view.flushToText(f, 0); }), text);
    for (uint32_t flags : {0u, uint32_t(kDicomWriteImplicitVR), uint32_t(kDicomWriteBigEndian)}) {
        KelvoDicomDataSet copy(set);
        EXPECT_EQ(binary(view, flags | kDicomWriteGroupLength), binary(copy, flags | kDicomWriteGroupLength))
            << flags;
        EXPECT_EQ(binary(view, flags), binary(set, flags)) << flags;
    }
    EXPECT_EQ(order(set), layout); // no group length was added to the source
    // A copy of a view owns its container and keeps the view's atom.
    KelvoDicomDataSet copyOfView(view);
    EXPECT_FALSE(copyOfView.borrowed());
    EXPECT_EQ(capture([&](FILE* f) { copyOfView.flushToText(f, 0); }), text);
    KelvoDicomDataItemGroup seqView(set.Dictionary(), set.FindItem(0x1140, set.getRootOfItems()),
                                    KelvoAtomView::borrowed);
    EXPECT_EQ(seqView.count(), 3);
    KelvoDicomDataItemGroup seqCopy(set.Dictionary(), set.FindItem(0x1140, set.getRootOfItems()));
    EXPECT_EQ(capture([&](FILE* f) { seqView.flushToText(f, 0); }),
              capture([&](FILE* f) { seqCopy.flushToText(f, 0); }));
}

// Elements added in any order land in tag order (the place is found by a binary search).
TEST(DataSet, ManyElementsInAnyOrderStayInTagOrder) {
    KelvoDicomDataSet set(0x0009);
    std::vector<uint16_t> tags;
    for (uint32_t i = 0; i < 3000; ++i)
        tags.push_back(uint16_t(0x1000 + (i * 7919u) % 3000u)); // a permutation
    for (uint16_t t : tags) {
        if (t % 97 == 0) {
            KelvoDicomDataItemGroup seq(t);
            set.setSequenceProperty(t, seq);
        } else {
            set.setUSValueProperty(t, t);
        }
    }
    EXPECT_EQ(set.count(), 3000);
    std::vector<uint16_t> seen;
    QTAtom child = 0;
    while (QTNextChildAnyType(set.Dictionary(), set.getRootOfItems(), child, &child) == noErr && child)
        seen.push_back(uint16_t(DicmUtils_NumberForAtomID(DicmUtils_AtomID(set.Dictionary(), child))));
    ASSERT_EQ(seen.size(), 3000u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(set.getUSValueProperty(0x1001), 0x1001);
}

TEST(DataSet, TextAndXmlDumps) {
    KelvoDicomDataSet set(0x0010);
    set.setULValueProperty(0, 0);
    EXPECT_EQ(capture([&](FILE* f) { set.flushToText(f, 0); }),
              "[Dataset id=0010 count=1 length=0]\n[Dataset End]\n");
    set.setStringValueProperty(0x0010, "A&B");
    KelvoDicomDataItemGroup seq(0x1002);
    KelvoDicomDataItem item;
    KelvoDicomDataSet inner(0x0010);
    inner.setStringValueProperty(0x0020, "ID1");
    item.setObjValue(0x0010, &inner);
    seq.setObjValue(0, &item);
    set.setSequenceProperty(0x1002, seq);
    EXPECT_EQ(capture([&](FILE* f) { set.flushToText(f, 0); }),
              "[Dataset id=0010 count=3 length=0]\n"
              "[Element id=0010 vr=PN length=4]\nData count=1\t[A&B]\t\n[Element End]\n"
              "[Sequence id=1002 vr=SQ count=1 length=4294967295]\n"
              "[Item id=FFFE vr=na count=1 length=4294967295]\n"
              "[Dataset id=0010 count=1 length=0]\n"
              "[Element id=0020 vr=LO length=4]\nData count=1\t[ID1]\t\n[Element End]\n"
              "[Dataset End]\n[Item End]\n[Sequence End]\n[Dataset End]\n");
    testsupport::ScratchDir dir("dataset-xml");
    std::string path = dir.file("d.xml");
    FILE* f = std::fopen(path.c_str(), "w");
    std::fputs("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", f);
    set.flushToXml(f, 0);
    std::fclose(f);
    int status = 0;
    testsupport::run("xmllint --noout '" + path + "' 2>&1", &status);
    EXPECT_EQ(status, 0) << testsupport::readFile(path);
}

TEST(DataSet, Anonymisation) {
    KelvoDicomDataSet set(0x0010);
    set.setULValueProperty(0, 10);
    set.setStringValueProperty(0x0010, "Doe^Jane");
    set.setStringValueProperty(0x0030, "19700101");
    set.setStringValueProperty(0x0020, "ID123");
    // A name stored under a tag the dictionary types otherwise is anonymised too.
    KelvoDicomDataNode pn("PN");
    pn.strValue("Smith^Al");
    set.setProperty(0x2000, "PN", pn);
    KelvoDicomDataItemGroup seq(0x1002);
    KelvoDicomDataItem item;
    KelvoDicomDataSet inner(0x0010);
    inner.setStringValueProperty(0x0010, "Roe^Rick");
    item.setObjValue(0x0010, &inner);
    seq.setObjValue(0, &item);
    set.setSequenceProperty(0x1002, seq);

    EXPECT_EQ(set.anonymize(), 0);
    EXPECT_FALSE(set.HasKey(0));
    EXPECT_STREQ(set.getStringValueProperty(0x0010), "XXX^XXXX");
    EXPECT_STREQ(set.getStringValueProperty(0x2000), "XXXXX^XX");
    EXPECT_STREQ(set.getStringValueProperty(0x0020), "ID123"); // an LO is not a name
    EXPECT_NE(std::string(set.getStringValueProperty(0x0030)), "19700101");
    auto* back = static_cast<KelvoDicomDataItemGroup*>(set.getObjValue(0x1002));
    auto* it = static_cast<KelvoDicomDataItem*>(back->getObjValue(1));
    auto* innerBack = static_cast<KelvoDicomDataSet*>(it->getObjValue(0x0010));
    EXPECT_STREQ(innerBack->getStringValueProperty(0x0010), "XXX^XXXX");
    delete innerBack;
    delete it;
    delete back;
}

TEST(DataSet, ElementsAsObjects) {
    KelvoDicomDataSet set(0x0010);
    set.setStringValueProperty(0x0010, "Doe^Jane");
    KelvoDicomDataElement* e = set.dataElement(0x0010);
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e->vr(), "PN");
    EXPECT_STREQ(e->description(), "Patient'sName");
    KelvoDicomDataSet other(0x0010);
    other.dataElement(e);
    EXPECT_STREQ(other.getStringValueProperty(0x0010), "Doe^Jane");
    delete e;
    KelvoDicomDataElement wrongGroup(0x0008, 0x0020);
    other.dataElement(&wrongGroup);
    EXPECT_EQ(other.Error(), 79);
    Kelvo_QTObjectsList* all = set.dataElements();
    EXPECT_EQ(all->count(), 1);
    delete all;
    EXPECT_EQ(set.dataElement(0x7777), nullptr);
    EXPECT_EQ(set.Error(), 321);
}

} // namespace
