#include "VUXString.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <string>

namespace {

using VUX::kVUXStringNotFound;
using VUX::VUXCString;
using VUX::VUXList;
using VUX::VUXRange;
using VUX::VUXStringT;
using Range = VUXRange<int64_t>;

// The string's characters with its terminating NUL, as the storage holds them.
std::string raw(VUXStringT<char> const& s) {
    return s.data() ? std::string(s.data(), static_cast<size_t>(s.length()) + 1) : std::string();
}
std::string text(VUXStringT<char> const& s) {
    return s.data() ? std::string(s.data(), static_cast<size_t>(s.length())) : std::string();
}
std::string text(VUXStringT<char> const* s) {
    return s ? text(*s) : std::string("<null>");
}

TEST(VUXCString, ConstructionAndAssignment) {
    const char* none = nullptr;
    for (VUXCString const& s :
         {VUXCString(none), VUXCString(""), VUXCString("abc", 0, false), VUXCString()}) {
        EXPECT_EQ(s.length(), 0);
        EXPECT_EQ(s.data(), nullptr);
        EXPECT_TRUE(s.empty());
        EXPECT_EQ(s.encoding(), 0x600u);
    }

    char buffer[6] = {'a', 'b', 'c', 'd', 'e', 0};
    {
        VUXCString wrapped(buffer, 6, true);
        EXPECT_EQ(wrapped.length(), 5);
        EXPECT_EQ(wrapped.data(), buffer); // used in place; a stack buffer is never freed
        wrapped.uppercase();               // an edit in place works on a copy of its own
        EXPECT_EQ(text(wrapped), "ABCDE");
        EXPECT_STREQ(buffer, "abcde");
    }
    VUXCString copied(buffer, 6, false);
    EXPECT_EQ(copied.length(), 6); // the NUL counted as a character
    EXPECT_EQ(raw(copied), std::string("abcde\0\0", 7));
    char unterminated[3] = {'x', 'y', 'z'};
    VUXCString safe(unterminated, 3, true); // not wrapped without its NUL
    EXPECT_NE(safe.data(), unterminated);
    EXPECT_EQ(text(safe), "xy");

    VUXCString s("abc");
    s = "";
    EXPECT_EQ(text(s), "abc");
    s = static_cast<const char*>(nullptr);
    EXPECT_EQ(text(s), "abc");
    s = "xyz";
    EXPECT_EQ(text(s), "xyz");
    s = s.data() + 1; // a text inside the string's own buffer
    EXPECT_EQ(text(s), "yz");
    s += "!";
    s += s.data(); // the string's own text doubled
    EXPECT_EQ(text(s), "yz!yz!");
    EXPECT_EQ(text(VUXCString("ab") + VUXCString("cd")), "abcd");
    EXPECT_EQ(raw(VUXCString() + VUXCString()), std::string(1, '\0'));

    char* adopted = new char[4]{'q', 'r', 's', 0};
    s(adopted, 4, true); // freed by the string
    EXPECT_EQ(text(s), "qrs");
    s("tu", 2, false);
    EXPECT_EQ(text(s), "tu");
    s(s.data() + 1, 1, false); // a piece of its own text
    EXPECT_EQ(text(s), "u");
    s(nullptr, 3, false);
    EXPECT_EQ(s.data(), nullptr);
}

TEST(VUXCString, AppendInsertAndRemove) {
    VUXCString s("abc");
    s.append(s);
    EXPECT_EQ(text(s), "abc");
    s.append(VUXCString());
    EXPECT_EQ(text(s), "abc");

    struct InsertCase {
        int64_t pos;
        const char* expected;
        int32_t error;
    } inserts[] = {{3, "abcXY", 0}, {13, "abcXY", 0}, {0, "XYabc", 0}, {1, "aXYbc", 0}, {-1, "abc", -50}};
    for (auto const& c : inserts) {
        VUXCString t("abc");
        t.insertAt(c.pos, VUXCString("XY"));
        EXPECT_EQ(text(t), c.expected) << c.pos;
        EXPECT_EQ(t.error(), c.error) << c.pos;
    }
    VUXCString self("abc");
    self.insertAt(1, self);
    EXPECT_EQ(text(self), "aabcbc");

    struct RemoveCase {
        Range range;
        const char* expected;
        int32_t error;
    } removes[] = {{Range(1, 1), "abcd", 1}, {Range(1, 2), "ad", 0},    {Range(2, 4), "ab", 0},
                   {Range(0, 5), "abcd", 1}, {Range(-1, 2), "abcd", 1}, {Range(3, 2), "abcd", 1}};
    for (auto const& c : removes) {
        VUXCString t("abcd");
        t.remove(c.range);
        EXPECT_EQ(raw(t), std::string(c.expected) + '\0') << c.range.left << "," << c.range.right;
        EXPECT_EQ(t.error(), c.error);
    }
}

TEST(VUXCString, SubStrings) {
    VUXCString s("abcd");
    std::unique_ptr<VUXStringT<char>> bc(s.subString(Range(1, 2)));
    EXPECT_EQ(text(bc.get()), "bc");
    // A negative left end takes the whole-string range, NUL included as a fifth character.
    std::unique_ptr<VUXStringT<char>> whole(s.subString(Range(-3, 1)));
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(raw(*whole), std::string("abcd\0\0", 6));
    std::unique_ptr<VUXStringT<char>> tail(s.subString(Range(2, 99)));
    EXPECT_EQ(raw(*tail), std::string("cd\0\0", 4));
    EXPECT_EQ(s.subString(Range(10, 20)), nullptr); // starts past the end
    EXPECT_EQ(s.error(), 1);
    EXPECT_EQ(s.subString(Range(2, 2)), nullptr);
    EXPECT_EQ(VUXCString().subString(Range(0, 1)), nullptr);
    std::unique_ptr<VUXStringT<char>> joined(s.concat(s));
    EXPECT_EQ(text(joined.get()), "abcdabcd");
    std::unique_ptr<VUXStringT<char>> alone(s.concat(VUXCString()));
    EXPECT_EQ(text(alone.get()), "abcd");
}

TEST(VUXCString, SearchAndReplace) {
    EXPECT_EQ(VUXCString("abc").find(VUXCString("B"), true), kVUXStringNotFound);
    EXPECT_EQ(VUXCString("abc").find(VUXCString("B"), false), 1);
    EXPECT_EQ(VUXCString("xBCx").find(VUXCString("bc"), false), 1);
    EXPECT_EQ(VUXCString("").find(VUXCString("a"), true), kVUXStringNotFound);
    // An occurrence 80 characters in is found like any other.
    VUXCString far((std::string(80, '.') + "needle").c_str());
    EXPECT_EQ(far.find(VUXCString("needle"), true), 80);

    std::unique_ptr<VUXList<int64_t>> positions(VUXCString("aaaa").findAll(VUXCString("aa"), true));
    ASSERT_NE(positions, nullptr);
    ASSERT_EQ(positions->count(), 2);
    EXPECT_EQ(positions->item(0), 0);
    EXPECT_EQ(positions->item(1), 2);
    EXPECT_EQ(VUXCString("abc").findAll(VUXCString(), true), nullptr);

    VUXCString banana("banana");
    banana.replaceAll(VUXCString("a"), VUXCString("xy"), true);
    EXPECT_EQ(text(banana), "bxynxynxy");
    banana.replaceAll(VUXCString("XY"), VUXCString(), false);
    EXPECT_EQ(text(banana), "bnn");
    VUXCString once("banana");
    once.replace(VUXCString("an"), once, true); // the replacement is the string itself
    EXPECT_EQ(text(once), "bbananaana");
    once.replaceAll(once, once, true);
    EXPECT_EQ(text(once), "bbananaana");
    once.replace(VUXCString("zz"), VUXCString("!"), true);
    EXPECT_EQ(text(once), "bbananaana");
}

TEST(VUXCString, CaseAndWhitespace) {
    struct Case {
        const char* in;
        const char* trimmed;
        const char* capitalised;
    } cases[] = {{"  x  ", "x", "  X  "},
                 {"x", "x", "X"},
                 {"hello world", "hello world", "Hello World"},
                 {"a  b\tc", "a  b\tc", "A  B\tC"},
                 {"   ", nullptr, "   "}};
    for (auto const& c : cases) {
        VUXCString t(c.in);
        t.trim();
        if (c.trimmed)
            EXPECT_EQ(text(t), c.trimmed);
        else
            EXPECT_EQ(t.bytes().length(), 0u) << "whitespace only leaves no storage";
        VUXCString k(c.in);
        k.capitalize();
        EXPECT_EQ(text(k), c.capitalised);
    }
    VUXCString s("MiXed 1");
    s.lowercase();
    EXPECT_EQ(text(s), "mixed 1");
    s.uppercase();
    EXPECT_EQ(text(s), "MIXED 1");
}

TEST(VUXCString, StreamForm) {
    VUXCString s("ab");
    std::ostringstream out;
    out << s;
    EXPECT_EQ(out.str(), std::string("\x01\x00"
                                     "\x00\x06\x00\x00"
                                     "\x03\x00\x00\x00\x00\x00\x00\x00"
                                     "ab\x00",
                                     17));
    VUXCString back("zz");
    std::istringstream in(out.str());
    in >> back;
    EXPECT_TRUE(back == s);

    // Written on a host of the other byte order.
    const std::string swapped("\x00\x01"
                              "\x00\x00\x06\x00"
                              "\x00\x00\x00\x00\x00\x00\x00\x04"
                              "xyz\x00",
                              18);
    VUXCString other;
    std::istringstream otherIn(swapped);
    otherIn >> other;
    EXPECT_EQ(text(other), "xyz");
    EXPECT_EQ(other.encoding(), 0x600u);

    struct Bad {
        const char* what;
        std::string bytes;
    } bad[] = {
        {"a length past the end",
         std::string("\x01\x00\x00\x06\x00\x00\xE8\x03\x00\x00\x00\x00\x00\x00xyz\x00", 18)},
        {"a huge length", std::string("\x01\x00\x00\x06\x00\x00\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x7F", 14)},
        {"no terminating NUL",
         std::string("\x01\x00\x00\x06\x00\x00\x03\x00\x00\x00\x00\x00\x00\x00xyz", 17)},
        {"an unknown mark", std::string("\x02\x00\x00\x06\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00", 15)},
        {"a cut header", std::string("\x01\x00\x00\x06", 4)},
    };
    for (auto const& b : bad) {
        VUXCString kept("kept");
        std::istringstream badIn(b.bytes);
        kept.read(badIn);
        EXPECT_EQ(text(kept), "kept") << b.what;
        EXPECT_EQ(kept.error(), -50) << b.what;
        EXPECT_TRUE(badIn.fail()) << b.what;
    }

    // A stream that cannot tell its size is read in pieces and held to the bytes it has.
    std::stringbuf source(std::string("\x01\x00\x00\x06\x00\x00\x00\x00\x10\x00\x00\x00\x00\x00xyz\x00", 18));
    struct NoSeek : std::streambuf {
        explicit NoSeek(std::streambuf* s) : inner(s) {}
        int_type underflow() override { return inner->sgetc(); }
        int_type uflow() override { return inner->sbumpc(); }
        std::streambuf* inner;
    } noSeek(&source);
    std::istream pipe(&noSeek);
    VUXCString fromPipe("kept");
    fromPipe.read(pipe);
    EXPECT_EQ(text(fromPipe), "kept");
    EXPECT_EQ(fromPipe.error(), -50);
}

TEST(VUXCString, CompareCopyAndDescribe) {
    VUXCString a("same"), b("same");
    char wrappedText[5] = {'s', 'a', 'm', 'e', 0};
    VUXCString wrapped(wrappedText, 5, true);
    EXPECT_TRUE(a == b);
    EXPECT_TRUE(a == wrapped); // equal texts are equal strings, whoever owns the bytes
    EXPECT_FALSE(a == VUXCString("diff"));
    std::unique_ptr<VUX::VUXObject> clone(a.clone());
    EXPECT_STREQ(clone->className(), "VUXCString");
    EXPECT_TRUE(*clone == a);
    EXPECT_TRUE(a.isA("VUXStringT"));
    VUXCString c;
    c = a;
    EXPECT_NE(c.data(), a.data());
    EXPECT_EQ(text(c), "same");
    EXPECT_EQ(VUXCString("\x01\x02").checksum(), 0xFDFE);
    EXPECT_EQ(a.stringRange().right, 4);
    std::unique_ptr<VUX::VUXRawData> bytes(a.copyBytes());
    EXPECT_EQ(bytes->length(), 5u);

    auto describe = [](VUXCString const& s) {
        std::ostringstream out;
        s.readableDescription(out);
        std::string d = out.str();
        const size_t x = d.find(" uid=\"");
        return d.erase(x, d.find('"', x + 6) + 1 - x);
    };
    EXPECT_EQ(describe(VUXCString("a<b")), "<Object\tclass=VUXCString valid=\"YES\" Error=\"0\">\n"
                                           "<value>a&lt;b</value>\n<length>3</length>\n</Object>\n");
    EXPECT_EQ(describe(VUXCString()), "<Object\tclass=VUXCString valid=\"YES\" Error=\"0\">\n"
                                      "<value/>\n<length>0</length>\n</Object>\n");
}

} // namespace
