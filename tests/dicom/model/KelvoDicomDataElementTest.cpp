#include "KelvoCoreObjectsRange.h"
#include "KelvoDicomDataElements.h"
#include "KelvoDicomDataSet.h"
#include "KelvoDicomSequence.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

TEST(DataElement, TagsEntriesAndValues) {
    KelvoDicomDataElement name(0x0010, 0x0010);
    ASSERT_TRUE(name.qtObjIsValid());
    EXPECT_STREQ(name.description(), "Patient'sName");
    EXPECT_STREQ(name.vr(), "PN");
    EXPECT_TRUE(name.valueByRef()->isA("KelvoDicomDataElementValue"));
    std::unique_ptr<Kelvo_NumericalRange> vm(name.multeplicity());
    EXPECT_EQ(vm->getStart(), 1);
    EXPECT_EQ(vm->getEnd(), 1);
    KelvoDicomDataElement imageType(0x0008, 0x0008);
    vm.reset(imageType.multeplicity());
    EXPECT_EQ(vm->getStart(), 2);
    EXPECT_EQ(vm->getEnd(), -1);

    // A tag nobody knows gives no element.
    KelvoDicomDataElement unknown(0x0009, 0x1010);
    EXPECT_FALSE(unknown.qtObjIsValid());
    EXPECT_EQ(unknown.Error(), 321);
    EXPECT_EQ(unknown.group(), 0);

    // A private tag read from an atom whose header says LO.
    KelvoDicomDataSet set(0x0009);
    KelvoDicomDataNode lo("LO");
    lo.strValue("MAKER");
    set.setProperty(0x1010, "LO", lo);
    std::unique_ptr<KelvoDicomDataElement> priv(set.dataElement(0x1010));
    ASSERT_NE(priv, nullptr);
    EXPECT_STREQ(priv->description(), "Unknown Data Element");
    EXPECT_STREQ(priv->vr(), "LO");
    vm.reset(priv->multeplicity());
    EXPECT_EQ(vm->getStart(), 1);
    EXPECT_EQ(vm->getEnd(), -1);
    std::unique_ptr<Kelvo_QTObj> value(priv->value());
    EXPECT_STREQ(static_cast<KelvoDicomDataElementValue*>(value.get())->stringValue(), "MAKER");
}

TEST(DataElement, SequencesAndTheFactory) {
    KelvoDicomDataElement refs(0x0008, 0x1140);
    ASSERT_TRUE(refs.qtObjIsValid());
    ASSERT_TRUE(refs.valueByRef()->isA("KelvoDicomDataItemGroup"));
    auto* seq = static_cast<KelvoDicomDataItemGroup*>(refs.valueByRef());
    EXPECT_EQ(seq->elementID(), 0x1140);
    EXPECT_EQ(refs.lengthForDicom(), -1);

    std::unique_ptr<Kelvo_QTObj> bad(KelvoDicomDataFactory::createElementValue("XX"));
    ASSERT_TRUE(bad->isA("KelvoDicomDataNode"));
    EXPECT_FALSE(bad->qtObjIsValid());
    std::unique_ptr<Kelvo_QTObj> na(KelvoDicomDataFactory::createElementValue("na"));
    ASSERT_TRUE(na->isA("KelvoDicomDataNode"));
    EXPECT_TRUE(na->qtObjIsValid());
    EXPECT_EQ(static_cast<KelvoDicomDataNode*>(na.get())->Format(), 0);
    // Every VR of the table gets its class.
    struct Case {
        const char* vr;
        const char* kind;
    };
    const Case cases[] = {{"PN", "KelvoDicomDataElementValue"}, {"US", "KelvoDicomDataElementValue"},
                          {"OB", "KelvoDicomDataElementValue"}, {"AT", "KelvoDicomDataElementValue"},
                          {"DS", "KelvoDicomDataElementValue"}, {"SQ", "KelvoDicomDataItemGroup"},
                          {"OD", "KelvoDicomDataNode"}}; // later VRs are kept as their bytes
    for (const Case& c : cases) {
        std::unique_ptr<Kelvo_QTObj> v(KelvoDicomDataFactory::createElementValue(c.vr));
        ASSERT_NE(v, nullptr) << c.vr;
        EXPECT_TRUE(v->isA(c.kind)) << c.vr;
        EXPECT_TRUE(v->qtObjIsValid()) << c.vr;
    }
    // From a node: the value holds the node's content.
    KelvoDicomDataNode us("US");
    us.usValueSet(512, -1);
    std::unique_ptr<Kelvo_QTObj> fromNode(KelvoDicomDataFactory::createElementValue(us));
    ASSERT_TRUE(fromNode->isA("KelvoDicomDataElementValue"));
    EXPECT_STREQ(static_cast<KelvoDicomDataElementValue*>(fromNode.get())->stringValue(), "512");
    KelvoDicomDataNode invalid;
    EXPECT_EQ(KelvoDicomDataFactory::createElementValue(invalid), nullptr);
}

} // namespace
