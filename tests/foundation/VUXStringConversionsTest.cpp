#include "VUXString.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using VUX::VUXArray;
using VUX::VUXCString;
using VUX::VUXList;
using VUX::VUXObject;
using VUX::VUXRawBlock;
using VUX::VUXRawData;

std::string text(VUX::VUXStringT<char> const& s) {
    return s.data() ? std::string(s.data(), static_cast<size_t>(s.length())) : std::string();
}

std::vector<std::string> fields(VUXArray<VUXObject*> const& a) {
    std::vector<std::string> out;
    for (int64_t i = 0; i < a.count(); ++i)
        out.push_back(text(*static_cast<VUXCString*>(a.item(i))));
    return out;
}

std::string bytesOf(VUXRawData const& d) {
    return d.length() ? std::string(static_cast<const char*>(d.data()), d.length()) : std::string();
}

TEST(VUXStringConversions, Split) {
    struct Case {
        const char* text;
        const char* separator;
        std::vector<std::string> fields;
    } cases[] = {
        {"a,b", ",", {"a", "b"}},
        {"a,,b", ",", {"a", "", "b"}},
        {",a", ",", {"", "a"}},
        {"a,", ",", {"a", ""}},
        {"abc", ";", {"abc"}},
        {"", ",", {""}},
        {"a--b--c", "--", {"a", "b", "c"}},
        {"abc", "", {"abc"}},
    };
    for (auto const& c : cases) {
        std::unique_ptr<VUXArray<VUXObject*>> result(VUXCString(c.text).split(VUXCString(c.separator)));
        ASSERT_NE(result, nullptr);
        EXPECT_EQ(fields(*result), c.fields) << "'" << c.text << "' by '" << c.separator << "'";
    }
    std::unique_ptr<VUXArray<VUXObject*>> empties(VUXCString(",,").split(VUXCString(",")));
    EXPECT_EQ(static_cast<VUXCString*>(empties->item(1))->data(), nullptr); // an empty field has no storage
    EXPECT_FALSE(empties->isResizable());
}

TEST(VUXStringConversions, ParagraphsAndJoin) {
    std::unique_ptr<VUXList<VUX::VUXRange<int64_t>>> p(VUXCString("ab\r\ncd").paragraphs());
    ASSERT_EQ(p->count(), 3);
    const int64_t expected[3][2] = {{0, 1}, {3, 2}, {4, 5}};
    for (int64_t i = 0; i < 3; ++i) {
        EXPECT_EQ(p->item(i).left, expected[i][0]);
        EXPECT_EQ(p->item(i).right, expected[i][1]);
    }
    std::unique_ptr<VUXList<VUX::VUXRange<int64_t>>> none(VUXCString().paragraphs());
    EXPECT_EQ(none->count(), 0);

    char x[] = "x", empty[] = "", y[] = "y";
    VUXList<char*> items;
    items.append(x);
    items.append(empty);
    items.append(y);
    std::unique_ptr<VUXCString> joined(VUXCString::join(items, VUXCString(", ")));
    EXPECT_EQ(text(*joined), "x, , y");
    std::unique_ptr<VUXCString> glued(VUXCString::join(items, VUXCString()));
    EXPECT_EQ(text(*glued), "xy");
    items.append(nullptr); // joins as an empty item
    std::unique_ptr<VUXCString> withNull(VUXCString::join(items, VUXCString("-")));
    EXPECT_EQ(text(*withNull), "x--y-");
    std::unique_ptr<VUXCString> nothing(VUXCString::join(VUXList<char*>(), VUXCString(",")));
    EXPECT_EQ(nothing->data(), nullptr);
}

TEST(VUXStringConversions, Hex) {
    std::unique_ptr<VUXCString> encoded(VUXCString::hexEncode(VUXCString("Jz")));
    EXPECT_EQ(text(*encoded), "4A7A");
    std::unique_ptr<VUXCString> decoded(VUXCString::hexDecode(VUXCString("4A7a")));
    EXPECT_EQ(text(*decoded), std::string("J\x07", 2)); // 'a' is not a digit
    for (const char* odd : {"ABC", "A", ""}) {
        std::unique_ptr<VUXCString> d(VUXCString::hexDecode(VUXCString(odd)));
        EXPECT_EQ(d->data(), nullptr) << odd;
    }
    std::unique_ptr<VUXCString> inner(VUXCString::hexDecode(VUXCString("4100")));
    EXPECT_EQ(inner->length(), 2); // a zero byte stays inside the text

    VUXCString inPlace("Jz");
    inPlace.hexEncode();
    EXPECT_EQ(text(inPlace), "4A7A");
    inPlace.hexDecode();
    EXPECT_EQ(text(inPlace), "Jz");
    VUXCString zero("004A");
    zero.hexDecode();
    EXPECT_EQ(zero.length(), 0); // kept up to the first zero byte
    VUXCString odd("ABC");
    odd.hexDecode();
    EXPECT_EQ(text(odd), "ABC");
}

TEST(VUXStringConversions, Base64) {
    struct Case {
        std::string bytes;
        const char* encoded;
    } cases[] = {{"Man", "TWFu"},
                 {"Ma", "TWE="},
                 {"M", "TQ=="},
                 {"", ""},
                 {"any carnal pleas", "YW55IGNhcm5hbCBwbGVhcw=="}};
    for (auto const& c : cases) {
        VUXRawData data(VUXRawBlock(reinterpret_cast<intptr_t>(c.bytes.data()), int64_t(c.bytes.size())),
                        true);
        std::unique_ptr<VUXCString> e(VUXCString::base64Encode(data));
        EXPECT_EQ(text(*e), c.encoded);
        std::unique_ptr<VUXRawData> d(VUXCString::base64Decode(VUXCString(c.encoded)));
        EXPECT_EQ(bytesOf(*d), c.bytes) << c.encoded;
    }
    std::unique_ptr<VUXCString> none(VUXCString::base64Encode(VUXRawData()));
    EXPECT_EQ(none->length(), 0);
    ASSERT_NE(none->data(), nullptr); // a lone NUL

    struct Short {
        const char* text;
        std::string bytes;
    } shorts[] = {
        {"TWF", ""},        // fewer than four characters
        {"TW\nFu", "M"},    // a line break ends the decoding
        {"TWE==", "Ma"},    // more characters before the pad than the pads suggest
        {"TQ==TWFu", "M"},  // the first pad ends it
        {"TWFuTQ", "ManM"}, // an unfinished last group
    };
    for (auto const& s : shorts) {
        std::unique_ptr<VUXRawData> d(VUXCString::base64Decode(VUXCString(s.text)));
        EXPECT_EQ(bytesOf(*d), s.bytes) << s.text;
    }

    std::string all(256, '\0');
    for (int i = 0; i < 256; ++i)
        all[size_t(i)] = char(i * 37 + 11);
    VUXRawData source(VUXRawBlock(reinterpret_cast<intptr_t>(all.data()), int64_t(all.size())), true);
    std::unique_ptr<VUXCString> text64(VUXCString::base64Encode(source));
    std::unique_ptr<VUXRawData> back(VUXCString::base64Decode(*text64));
    EXPECT_EQ(bytesOf(*back), all);
}

} // namespace
