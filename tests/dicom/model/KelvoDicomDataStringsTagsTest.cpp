#include "KelvoDicomDataStringsCodes.h"
#include "KelvoDicomDataStringsTags.h"
#include "KelvoDicomDataStringsTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace stringstest;

namespace {

TEST(AttributeTags, TextForms) {
    KelvoDicomDataAttributeTag tag(0x0028, 0x0010);
    EXPECT_STREQ(tag.stringValue(), "0x0028,0x0010");
    AttributeTagRecord record = tag;
    EXPECT_EQ(record.group, 0x0028);
    EXPECT_EQ(record.element, 0x0010);
    tag.group() = 0x7FE0;
    EXPECT_STREQ(tag.stringValue(), "0x7FE0,0x0010");

    struct Case {
        const char* text;
        uint16_t group, element;
    };
    const Case cases[] = {
        {"0028,0010", 0x0028, 0x0010},
        {"7fe0,0010", 0x7FE0, 0x0010},
        {"FFFE,E000", 0xFFFE, 0xE000},
        {"0x0028,0x0010", 0, 0}, // the written form does not read back
        {"0028", 0, 0},
        {"garbage", 0, 0},
        {"-001,0010", 0, 0},
        {nullptr, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(null)");
        KelvoDicomDataAttributeTag parsed(0x1234, 0x5678);
        parsed.stringValue(c.text);
        EXPECT_EQ(parsed.group(), c.group);
        EXPECT_EQ(parsed.element(), c.element);
    }
}

TEST(AttributeTags, NodesWithSeveralTags) {
    const std::string bytes("\x28\x00\x10\x00\x08\x00\x16\x00\x20\x00\x0D\x00", 12);
    auto node = nodeFromFile("AT", bytes);
    KelvoDicomDataAttributeTag tag(node.get());
    ASSERT_EQ(tag.valuesCount(), 3u);
    EXPECT_STREQ(tag.stringValue(), "0x0028,0x0010");
    EXPECT_STREQ(tag.getValue(0)->stringValue(), "0x0008,0x0016");
    EXPECT_STREQ(tag.getValue(1)->stringValue(), "0x0020,0x000D");
    EXPECT_EQ(tag.lengthForDicom(), 12u);
    EXPECT_EQ(encoded(tag), element("AT", bytes));

    // Clones and copies hold every tag.
    std::unique_ptr<Kelvo_QTObj> clone(tag.clone());
    EXPECT_EQ(encoded(*static_cast<KelvoDicomDataAttributeTag*>(clone.get())), element("AT", bytes));
    KelvoDicomDataAttributeTag copied(1, 2);
    copied.copy(tag);
    EXPECT_EQ(encoded(copied), element("AT", bytes));
    KelvoDicomDataAttributeTag own(tag);
    own.copy(*own.getValue(1)); // one of its own further values
    EXPECT_STREQ(own.stringValue(), "0x0020,0x000D");
    EXPECT_EQ(own.valuesCount(), 1u);
    KelvoDicomDataAttributeTag single(0x0010, 0x0010);
    copied.copy(single);
    EXPECT_EQ(copied.valuesCount(), 1u);
    // Other kinds of values are not taken over.
    KelvoDicomDataCodeString cs("X");
    copied.copy(cs);
    EXPECT_STREQ(copied.stringValue(), "0x0010,0x0010");

    EXPECT_EQ(tag._dataLengthForDicom(), 4u);
    EXPECT_EQ(tag.paddingByte(), 0);
    EXPECT_TRUE(tag.multipleValuesAllowed());
    auto wrong = nodeFromFile("US", std::string("\x01\x00", 2));
    EXPECT_FALSE(copied.value(wrong.get()));
    EXPECT_EQ(copied.Error(), kKelvoWrongType);
}

} // namespace
