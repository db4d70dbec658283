#include "KelvoDicomDataElements.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// The least value class: one text token per value, with a settable VR and one-value length.
class TestValue : public KelvoDicomDataElementValue {
  public:
    TestValue(const char* vr, uint32_t length, bool perValue = true) : _perValue(perValue), _length(length) {
        std::memcpy(_vr, vr, 2);
    }
    TestValue(const TestValue& o)
        : KelvoDicomDataElementValue(o), _perValue(o._perValue), _length(o._length) {
        std::memcpy(_vr, o._vr, 3);
        _text = o._text;
    }
    using KelvoDicomDataElementValue::operator=;
    Kelvo_QTObj* clone() override { return new TestValue(*this); }
    bool _initWithData(KelvoDicomDataNode* node) override {
        if (!node) return false;
        _text = node->textValue() ? node->textValue() : "";
        return true;
    }
    bool _initWithStringData(const char* text) override {
        _text = text ? text : "";
        return true;
    }
    KelvoDicomDataNode* _encodeForDicom() const override { return new KelvoDicomDataNode(_vr); }
    uint32_t _dataLengthForDicom() const override { return _length; }
    const char* vr() const override { return _vr; }
    const char* stringValue() override { return _text.c_str(); }

  protected:
    bool lengthIsPerValue() const override { return _perValue; }

  private:
    char _vr[3] = {};
    bool _perValue;
    uint32_t _length;
    std::string _text;
};

TEST(ElementValue, FurtherValuesLiveInTheList) {
    TestValue cs("CS", 8);
    TestValue a("CS", 8), b("CS", 8), c("CS", 8);
    a = "A";
    b = "B";
    c = "C";
    EXPECT_TRUE(cs.appendValue(&a));
    EXPECT_TRUE(cs.appendValue(&b));
    EXPECT_TRUE(cs.appendValue(&c));
    EXPECT_EQ(cs.valuesCount(), 4u);
    EXPECT_TRUE(cs.hasMultipleValues());
    EXPECT_STREQ(cs.getValue(0)->stringValue(), "A");
    EXPECT_NE(cs.getValue(0), &a);
    TestValue z("CS", 8);
    z = "Z";
    EXPECT_TRUE(cs.setValue(1, &z));
    EXPECT_STREQ(cs.getValue(1)->stringValue(), "Z");
    EXPECT_FALSE(cs.setValue(3, &z));
    EXPECT_TRUE(cs.removeValue(0));
    EXPECT_FALSE(cs.removeValue(5));
    EXPECT_EQ(cs.valuesCount(), 3u);
    EXPECT_EQ(cs.getValue(9), nullptr);
    TestValue other("LO", 8);
    EXPECT_FALSE(cs.appendValue(&other));
    EXPECT_FALSE(cs.appendValue(nullptr));
    // Copies own copies of the list.
    TestValue copy(cs);
    EXPECT_EQ(copy.valuesCount(), 3u);
    EXPECT_NE(copy.getValue(0), cs.getValue(0));
    auto* byRef = new TestValue("CS", 8);
    EXPECT_TRUE(cs._appendValueByRef(byRef));
    EXPECT_EQ(cs.getValue(2), byRef);
    cs.defaultStatus();
    EXPECT_EQ(cs.valuesCount(), 1u);
}

TEST(ElementValue, SingleValueVRsMakeNoList) {
    TestValue lt("LT", 8), more("LT", 8);
    EXPECT_FALSE(lt.multipleValuesAllowed());
    EXPECT_FALSE(lt.appendValue(&more));
    EXPECT_EQ(lt.valuesCount(), 1u);
    EXPECT_EQ(lt._getList(), nullptr);
}

TEST(ElementValue, LengthsForDicom) {
    TestValue n("US", 3), m("US", 3);
    n.appendValue(&m);
    n.appendValue(&m);
    EXPECT_EQ(n.lengthForDicom(), 10u); // 3 values of 3 bytes, made even
    TestValue joined("CS", 22, false);
    joined.appendValue(&joined);
    EXPECT_EQ(joined.lengthForDicom(), 22u);
}

TEST(ElementValue, NodesOfTheRightVR) {
    TestValue cs("CS", 2);
    KelvoDicomDataNode node("CS");
    node.strValue("ORIGINAL");
    EXPECT_TRUE(cs.value(&node));
    EXPECT_STREQ(static_cast<const char*>(cs), "ORIGINAL");
    KelvoDicomDataNode lo("LO");
    EXPECT_FALSE(cs.value(&lo));
    EXPECT_EQ(cs.Error(), 10);
    KelvoDicomDataNode invalid;
    EXPECT_FALSE(cs.value(&invalid));
    EXPECT_FALSE(cs.value(nullptr));
    KelvoDicomDataNode* encoded = cs;
    EXPECT_STREQ(encoded->VR(), "CS");
    delete encoded;
    EXPECT_TRUE(cs.isA("KelvoDicomDataElementValue"));
}

} // namespace
