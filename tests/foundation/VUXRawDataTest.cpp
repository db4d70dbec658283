#include "VUXRawData.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <sstream>
#include <string>

namespace {

using VUX::VUXPair;
using VUX::VUXRange;
using VUX::VUXRawBlock;
using VUX::VUXRawData;

VUXRawBlock blockOf(const void* p, int64_t n) {
    return VUXRawBlock(reinterpret_cast<intptr_t>(p), n);
}

// The description without the identifier, which is random.
std::string describe(VUX::VUXObject const& o) {
    std::ostringstream out;
    o.readableDescription(out);
    std::string s = out.str();
    const size_t a = s.find(" uid=\"");
    const size_t b = s.find('"', a + 6);
    return s.erase(a, b + 1 - a);
}

TEST(VUXRawData, ValidityAndChecksum) {
    VUXRawData empty;
    EXPECT_TRUE(empty.isValid());
    EXPECT_EQ(empty.length(), 0u);
    EXPECT_EQ(empty.checkSum(), 0xFFFF);

    VUXRawData broken;
    broken.wrapData(nullptr, 4, false);
    EXPECT_FALSE(broken.isValid());
    EXPECT_EQ(broken.checkSum(), 0);

    const unsigned char bytes[2] = {0x01, 0x02};
    VUXRawData two(blockOf(bytes, 2), true);
    EXPECT_EQ(two.checkSum(), 0xFDFE); // little-endian host
}

TEST(VUXRawData, AllocResizeAndShrink) {
    VUXRawData owned(8);
    ASSERT_TRUE(owned.isDataOwner());
    EXPECT_TRUE(owned.alloc(0, nullptr));
    EXPECT_EQ(owned.length(), 0u);
    EXPECT_FALSE(owned.isDataOwner());

    // A referring block that grows becomes an owned one that keeps the referred bytes.
    char source[4] = {'w', 'x', 'y', 'z'};
    VUXRawData grown(blockOf(source, 4), false);
    EXPECT_FALSE(grown.isDataOwner());
    ASSERT_TRUE(grown.resize(6));
    EXPECT_TRUE(grown.isDataOwner());
    EXPECT_NE(grown.data(), static_cast<void*>(source));
    EXPECT_EQ(std::memcmp(grown.data(), "wxyz\0\0", 6), 0);

    VUXRawData a(4);
    a -= 5;
    EXPECT_EQ(a.length(), 0u);
    EXPECT_EQ(a.data(), nullptr);
    VUXRawData b(4);
    b -= 4;
    EXPECT_EQ(b.length(), 0u);
    b += 3;
    EXPECT_EQ(b.length(), 3u);

    VUXRawData none;
    EXPECT_FALSE(none.allocWithData(nullptr, 4));
    EXPECT_EQ(none.error(), -107);

    // A length that no memory can hold fails with -108 and leaves the block as it was.
    VUXRawData kept(blockOf("abc", 3), true);
    EXPECT_FALSE(kept.alloc(std::numeric_limits<uint64_t>::max(), nullptr));
    EXPECT_EQ(kept.error(), -108);
    EXPECT_EQ(kept.length(), 3u);
    EXPECT_FALSE(kept.resize(std::numeric_limits<uint64_t>::max()));
    EXPECT_EQ(std::memcmp(kept.data(), "abc", 3), 0);
}

TEST(VUXRawData, SourceInsideItsOwnBytes) {
    VUXRawData block(blockOf("abcdef", 6), true);
    // The copy is taken before the old bytes go.
    EXPECT_TRUE(block.alloc(3, static_cast<const char*>(block.data()) + 2));
    EXPECT_EQ(std::memcmp(block.data(), "cde", 3), 0);
    block = blockOf(static_cast<const char*>(block.data()) + 1, 2);
    EXPECT_EQ(std::memcmp(block.data(), "de", 2), 0);
    // Wrapping its own address keeps the bytes.
    block.wrapData(block.data(), 2, false);
    EXPECT_TRUE(block.isDataOwner());
    EXPECT_EQ(std::memcmp(block.data(), "de", 2), 0);
}

TEST(VUXRawData, AppendAndSum) {
    char outside[3] = {'x', 'y', 'z'};
    VUXRawData referring(blockOf(outside, 3), false);
    VUXRawData owning(blockOf("ab", 2), true);

    VUXRawData a(owning);
    a += referring; // a referring block contributes nothing
    EXPECT_EQ(a.length(), 2u);
    a += a; // nor does the block itself
    EXPECT_EQ(a.length(), 2u);
    a += owning;
    ASSERT_EQ(a.length(), 4u);
    EXPECT_EQ(std::memcmp(a.data(), "abab", 4), 0);

    VUXRawData sum = owning + referring;
    ASSERT_EQ(sum.length(), 5u);
    EXPECT_TRUE(sum.isDataOwner());
    EXPECT_EQ(std::memcmp(sum.data(), "ab\0\0\0", 5), 0);
    VUXRawData swapped = referring + owning; // b's bytes go first when a owns none
    EXPECT_EQ(std::memcmp(swapped.data(), "ab\0\0\0", 5), 0);
}

TEST(VUXRawData, CopiesOwnOrReferAsTheirSource) {
    char outside[4] = {1, 2, 3, 4};
    VUXRawData referring(blockOf(outside, 4), false);
    VUXRawData referringCopy(referring);
    EXPECT_EQ(referringCopy.data(), static_cast<void*>(outside));
    EXPECT_TRUE(referringCopy == referring);

    VUXRawData owning(blockOf(outside, 4), true);
    VUXRawData owningCopy(owning);
    EXPECT_NE(owningCopy.data(), owning.data());
    EXPECT_TRUE(owningCopy == owning);
    EXPECT_FALSE(owningCopy == referring); // the owner flags differ

    // Assignment copies the bytes: both blocks free their own (checked under the sanitizer).
    VUXRawData target(2);
    target = owning;
    EXPECT_NE(target.data(), owning.data());
    EXPECT_TRUE(target == owning);
    // A block that refers to another's bytes and is then assigned that owner gets its own copy.
    VUXRawData alias(blockOf(owning.data(), 4), false);
    alias = owning;
    EXPECT_TRUE(alias.isDataOwner());
    EXPECT_NE(alias.data(), owning.data());

    std::unique_ptr<VUX::VUXObject> clone(owning.clone());
    ASSERT_NE(clone, nullptr);
    EXPECT_TRUE(*clone == owning);
}

TEST(VUXRawData, StreamsAndDescription) {
    VUXRawData block(blockOf("xyz", 3), true);
    std::ostringstream out;
    out << block;
    EXPECT_EQ(out.str(), "xyz");

    std::istringstream in("hello, world");
    in.seekg(7);
    VUXRawData rest;
    in >> rest;
    ASSERT_EQ(rest.length(), 5u);
    EXPECT_EQ(std::memcmp(rest.data(), "world", 5), 0);

    EXPECT_EQ(describe(VUXRawData()), "<Object\tclass=VUXRawData valid=\"YES\" Error=\"0\">\n"
                                      "<dataOwner>NO</dataOwner>\n<address>0</address>\n<length>0</length>\n"
                                      "</Object>\n");
}

TEST(VUXPairAndRange, ValuesFormsAndValidity) {
    VUXPair<int32_t, int64_t> pair(3, 4);
    std::ostringstream out;
    out << pair;
    EXPECT_EQ(out.str(), "3 4");
    VUXPair<int32_t, int64_t> back;
    std::istringstream in("  7\n  9");
    in >> back;
    EXPECT_EQ(back.left, 7);
    EXPECT_EQ(back.right, 9);
    EXPECT_EQ(describe(pair),
              "<Object\tclass=VUXPair valid=\"YES\" Error=\"0\">\n<left>3</left>\n<right>4</right>\n"
              "</Object>\n");
    pair.defaultStatus();
    EXPECT_EQ(pair.left, 0);
    EXPECT_EQ(pair.right, 0);

    VUXRange<double> range(2.0, 1.0);
    EXPECT_FALSE(range.isValid());
    range.right = 2.0;
    EXPECT_TRUE(range.isValid());
    range.right = std::nan("");
    EXPECT_FALSE(range.isValid());
    EXPECT_TRUE(range.isA("VUXRange"));
    EXPECT_TRUE(range.isA("VUXPair"));
    EXPECT_EQ(describe(VUXRange<int64_t>(1, 5)),
              "<Object\tclass=VUXRange valid=\"YES\" Error=\"0\">\n<min>1</min>\n<max>5</max>\n</Object>\n");

    VUXRange<int64_t> a(1, 5), b(1, 5), c(1, 6);
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a == c);
    std::unique_ptr<VUX::VUXObject> clone(c.clone());
    EXPECT_STREQ(clone->className(), "VUXRange");
    EXPECT_TRUE(*clone == c);
}

} // namespace
