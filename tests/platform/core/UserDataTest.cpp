#include "PlatformUserData.h"

#include "PlatformEndian.h"
#include "PlatformErrors.h"
#include "PlatformMemory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr OSType kName = FOUR_CHAR_CODE("name");
constexpr OSType kInfo = FOUR_CHAR_CODE("\251inf");
constexpr OSType kCtyp = FOUR_CHAR_CODE("ctyp");

std::string be16(uint16_t v) {
    char b[2];
    platform::storeBE16(b, v);
    return std::string(b, 2);
}

std::string be32(uint32_t v) {
    char b[4];
    platform::storeBE32(b, v);
    return std::string(b, 4);
}

// One atom of the flat form.
std::string atom(OSType type, const std::string& data) {
    return be32(uint32_t(8 + data.size())) + be32(type) + data;
}

// One string of a text item.
std::string text(int16_t language, const std::string& s) {
    return be16(uint16_t(s.size())) + be16(uint16_t(language)) + s;
}

// The bytes of a literal, zeros included.
template <size_t N> std::string raw(const char (&s)[N]) {
    return std::string(s, N - 1);
}

// A handle holding exactly the bytes, so that a read past them is a read past the block.
Handle handleOf(const std::string& bytes) {
    Handle h = nullptr;
    PtrToHand(bytes.data(), &h, Size(bytes.size()));
    return h;
}

std::string bytesOf(Handle h) {
    return std::string(*h, size_t(GetHandleSize(h)));
}

// Owns a list for the length of a test.
struct List {
    UserData ud = nullptr;
    List() { EXPECT_EQ(NewUserData(&ud), noErr); }
    ~List() {
        if (ud) DisposeUserData(ud);
    }
    void add(OSType type, const std::string& bytes) {
        Handle h = handleOf(bytes);
        ASSERT_EQ(AddUserData(ud, h, type), noErr);
        DisposeHandle(h);
    }
    // The item's bytes, or "<err N>".
    std::string item(OSType type, int32_t index) const {
        Handle h = NewHandle(0);
        OSErr err = GetUserData(ud, h, type, index);
        std::string out = err == noErr ? bytesOf(h) : "<err " + std::to_string(err) + ">";
        DisposeHandle(h);
        return out;
    }
    std::string textOf(OSType type, int32_t index, int16_t language) const {
        Handle h = NewHandle(0);
        OSErr err = GetUserDataText(ud, h, type, index, language);
        std::string out = err == noErr ? bytesOf(h) : "<err " + std::to_string(err) + ">";
        DisposeHandle(h);
        return out;
    }
    OSErr addText(OSType type, int32_t index, int16_t language, const std::string& s) {
        Handle h = handleOf(s);
        OSErr err = AddUserDataText(ud, h, type, index, language);
        DisposeHandle(h);
        return err;
    }
    std::string flat() const {
        Handle h = NewHandle(0);
        EXPECT_EQ(PutUserDataIntoHandle(ud, h), noErr);
        std::string out = bytesOf(h);
        DisposeHandle(h);
        return out;
    }
    std::vector<OSType> types() const {
        std::vector<OSType> out;
        for (OSType t = GetNextUserDataType(ud, 0); t != 0; t = GetNextUserDataType(ud, t))
            out.push_back(t);
        return out;
    }
};

} // namespace

TEST(UserData, TypesKeepTheOrderOfTheirFirstItemAndLeaveItWithTheirLast) {
    List l;
    EXPECT_EQ(GetNextUserDataType(l.ud, 0), 0u);
    l.add(kName, "first");
    l.add(kInfo, "info");
    l.add(kName, "second");
    EXPECT_EQ(l.types(), (std::vector<OSType>{kName, kInfo}));
    EXPECT_EQ(CountUserDataType(l.ud, kName), 2);
    EXPECT_EQ(CountUserDataType(l.ud, kCtyp), 0);
    EXPECT_EQ(GetNextUserDataType(l.ud, kCtyp), 0u) << "a type the list does not hold ends the walk";
    EXPECT_EQ(l.item(kName, 1), "first");
    EXPECT_EQ(l.item(kName, 2), "second");

    EXPECT_EQ(RemoveUserData(l.ud, kName, 1), noErr);
    EXPECT_EQ(l.item(kName, 1), "second");
    EXPECT_EQ(RemoveUserData(l.ud, kName, 1), noErr);
    EXPECT_EQ(l.types(), (std::vector<OSType>{kInfo}));
    l.add(kName, "again");
    EXPECT_EQ(l.types(), (std::vector<OSType>{kInfo, kName}));
}

TEST(UserData, IndexRulesOfTheItemCalls) {
    // Each case starts from two items of 'name' ("a", "b").
    struct Case {
        const char* what;
        int32_t index;
        OSErr expected;
        std::vector<std::string> after;
    };
    const Case cases[] = {
        {"replace the first", 1, noErr, {"new", "b"}},
        {"replace the last", 2, noErr, {"a", "new"}},
        {"index 0 names the first", 0, noErr, {"new", "b"}},
        {"one past the last appends", 3, noErr, {"a", "b", "new"}},
        {"further out names nothing", 4, userDataItemNotFound, {"a", "b"}},
        {"negative names nothing", -1, userDataItemNotFound, {"a", "b"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        List l;
        l.add(kName, "a");
        l.add(kName, "b");
        EXPECT_EQ(SetUserDataItem(l.ud, "new", 3, kName, c.index), c.expected);
        EXPECT_EQ(GetMoviesError(), c.expected);
        std::vector<std::string> items;
        for (int32_t i = 1; i <= CountUserDataType(l.ud, kName); ++i)
            items.push_back(l.item(kName, i));
        EXPECT_EQ(items, c.after);
    }

    List empty;
    EXPECT_EQ(SetUserDataItem(empty.ud, "stan", 4, kCtyp, 0), noErr)
        << "index 0 of an empty type makes the item";
    char word[4] = {};
    EXPECT_EQ(GetUserDataItem(empty.ud, word, 4, kCtyp, 0), noErr);
    EXPECT_EQ(std::string(word, 4), "stan");
    EXPECT_EQ(SetUserDataItem(empty.ud, "x", 1, 0, 1), paramErr) << "type 0 is no type";
    EXPECT_EQ(SetUserDataItem(empty.ud, nullptr, 4, kCtyp, 1), paramErr);
    EXPECT_EQ(SetUserDataItem(empty.ud, "x", -1, kCtyp, 1), paramErr);

    // A buffer must be exactly the item's size, and is left alone otherwise.
    char big[5] = {'-', '-', '-', '-', '-'};
    EXPECT_EQ(GetUserDataItem(empty.ud, big, 5, kCtyp, 1), paramErr);
    EXPECT_EQ(GetUserDataItem(empty.ud, big, 3, kCtyp, 1), paramErr);
    EXPECT_EQ(std::string(big, 5), "-----");
    EXPECT_EQ(GetUserDataItem(empty.ud, big, 4, kCtyp, 2), userDataItemNotFound);

    // Removal takes 1 to the count only.
    EXPECT_EQ(RemoveUserData(empty.ud, kCtyp, 0), userDataItemNotFound);
    EXPECT_EQ(RemoveUserData(empty.ud, kCtyp, 2), userDataItemNotFound);
    EXPECT_EQ(CountUserDataType(empty.ud, kCtyp), 1);
    EXPECT_EQ(GetUserData(empty.ud, nullptr, kCtyp, 1), paramErr);
}

TEST(UserData, TextItemsHoldOneStringPerLanguage) {
    List l;
    EXPECT_EQ(l.addText(kInfo, 2, 0, "nowhere"), userDataItemNotFound)
        << "only one past the last makes an item";
    ASSERT_EQ(l.addText(kInfo, 1, 0, "English"), noErr);
    ASSERT_EQ(l.addText(kInfo, 1, 1, "Francais"), noErr);
    ASSERT_EQ(l.addText(kInfo, 1, 2, "Deutsch"), noErr);
    ASSERT_EQ(l.addText(kInfo, 1, 1, "French"), noErr) << "replaces the string of that language in place";
    ASSERT_EQ(l.addText(kInfo, 2, 0, ""), noErr);
    EXPECT_EQ(CountUserDataType(l.ud, kInfo), 2);

    EXPECT_EQ(l.item(kInfo, 1), text(0, "English") + text(1, "French") + text(2, "Deutsch"));
    EXPECT_EQ(l.textOf(kInfo, 1, 2), "Deutsch");
    EXPECT_EQ(l.textOf(kInfo, 0, 1), "French");
    EXPECT_EQ(l.textOf(kInfo, 2, 0), "");
    EXPECT_EQ(l.textOf(kInfo, 1, 7), "<err -2026>");
    EXPECT_EQ(l.textOf(kInfo, 3, 0), "<err -2026>");

    EXPECT_EQ(RemoveUserDataText(l.ud, kInfo, 1, 1), noErr);
    EXPECT_EQ(RemoveUserDataText(l.ud, kInfo, 1, 1), userDataItemNotFound);
    EXPECT_EQ(l.item(kInfo, 1), text(0, "English") + text(2, "Deutsch"));
    EXPECT_EQ(RemoveUserDataText(l.ud, kInfo, 2, 0), noErr);
    EXPECT_EQ(CountUserDataType(l.ud, kInfo), 2) << "an item without strings stays";

    EXPECT_EQ(l.addText(kInfo, 1, 3, std::string(65536, 'x')), paramErr) << "a string's length is 16 bits";
    EXPECT_EQ(l.addText(kInfo, 1, 3, std::string(65535, 'x')), noErr);
}

TEST(UserData, TextCallsRefuseItemsThatAreNotTextWithoutReadingPastThem) {
    // Bytes whose string lengths run past the item, or leave a partial header behind.
    const std::string garbage[] = {
        raw("\x00\x10\x00\x00") + "abc",
        text(0, "ok") + raw("\x00"),
        text(0, "ok") + raw("\x00\x05\x00\x01") + "abcd",
        raw("\xFF\xFF"),
    };
    for (const std::string& bytes : garbage) {
        List l;
        l.add(kInfo, bytes);
        EXPECT_EQ(l.textOf(kInfo, 1, 0), "<err -50>");
        EXPECT_EQ(l.addText(kInfo, 1, 0, "replacement"), paramErr);
        EXPECT_EQ(RemoveUserDataText(l.ud, kInfo, 1, 0), paramErr);
        EXPECT_EQ(l.item(kInfo, 1), bytes) << "a refused text call leaves the item as it was";
    }
}

TEST(UserData, FlatFormIsTheAtomsOfEveryItemInTypeOrder) {
    List l;
    EXPECT_EQ(l.flat(), "");
    l.add(kName, "movie");
    l.add(kCtyp, "stan");
    l.add(kName, "");
    ASSERT_EQ(l.addText(kInfo, 1, 0, "hi"), noErr);
    ASSERT_EQ(l.addText(kInfo, 1, 2, "hallo"), noErr);
    const std::string expected = atom(kName, "movie") + atom(kName, "") + atom(kCtyp, "stan") +
                                 atom(kInfo, text(0, "hi") + text(2, "hallo"));
    EXPECT_EQ(l.flat(), expected);

    Handle h = handleOf(expected);
    UserData copy = nullptr;
    ASSERT_EQ(NewUserDataFromHandle(h, &copy), noErr);
    DisposeHandle(h);
    List again;
    DisposeUserData(again.ud);
    again.ud = copy;
    EXPECT_EQ(again.flat(), expected);
    EXPECT_EQ(again.types(), (std::vector<OSType>{kName, kCtyp, kInfo}));
    EXPECT_EQ(again.item(kName, 2), "");
    EXPECT_EQ(again.textOf(kInfo, 1, 2), "hallo");

    // Items of a type that come apart in the flat form are read in order into their type.
    h = handleOf(atom(kName, "1") + atom(kCtyp, "c") + atom(kName, "2") + be32(0));
    UserData mixed = nullptr;
    ASSERT_EQ(NewUserDataFromHandle(h, &mixed), noErr) << "a 32-bit zero may follow the last atom";
    DisposeHandle(h);
    EXPECT_EQ(CountUserDataType(mixed, kName), 2);
    Handle item = NewHandle(0);
    EXPECT_EQ(GetUserData(mixed, item, kName, 2), noErr);
    EXPECT_EQ(bytesOf(item), "2");
    DisposeHandle(item);
    DisposeUserData(mixed);
}

TEST(UserData, MalformedFlatFormsAreRefusedWithoutReadingPastThem) {
    const std::string good = atom(kName, "abc");
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"a partial header", good.substr(0, 5)},
        {"a truncated atom", good.substr(0, good.size() - 1)},
        {"a size past the end", be32(1000) + be32(kName) + "abc"},
        {"a size under the header", be32(7) + be32(kName) + "abc"},
        {"a size of 0 before more atoms", be32(0) + be32(kName) + good},
        {"a 64-bit size marker", be32(1) + be32(kName) + std::string(8, '\0')},
        {"type 0", atom(0, "abc")},
        {"bytes after the last atom", good + raw("\x00\x00\x00")},
        {"a non-zero word after the last atom", good + be32(8)},
        {"two zero words", good + be32(0) + be32(0)},
        {"a bad atom after good ones", good + good + be32(0xFFFFFFF0u) + be32(kName)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Handle h = handleOf(c.bytes);
        UserData ud = reinterpret_cast<UserData>(h); // anything but null, to see it cleared
        EXPECT_EQ(NewUserDataFromHandle(h, &ud), paramErr);
        EXPECT_EQ(ud, nullptr);
        DisposeHandle(h);
    }

    // A type holds at most 32767 items, whether added or read.
    std::string many;
    for (int i = 0; i < 32768; ++i)
        many += atom(kName, "");
    Handle h = handleOf(many);
    UserData ud = nullptr;
    EXPECT_EQ(NewUserDataFromHandle(h, &ud), paramErr);
    SetHandleSize(h, Size(many.size() - 8));
    ASSERT_EQ(NewUserDataFromHandle(h, &ud), noErr);
    EXPECT_EQ(CountUserDataType(ud, kName), 32767);
    EXPECT_EQ(AddUserData(ud, h, kName), paramErr);
    EXPECT_EQ(SetUserDataItem(ud, "x", 1, kName, 32768), paramErr);
    EXPECT_EQ(AddUserData(ud, h, kCtyp), noErr) << "other types still take items";
    DisposeUserData(ud);
    DisposeHandle(h);

    Handle empty = NewHandle(0);
    ASSERT_EQ(NewUserDataFromHandle(empty, &ud), noErr);
    EXPECT_EQ(GetNextUserDataType(ud, 0), 0u);
    DisposeUserData(ud);
    DisposeHandle(empty);
    EXPECT_EQ(NewUserDataFromHandle(nullptr, &ud), paramErr);
}

TEST(UserData, DisposedAndUnknownListsAreRefused) {
    UserData ud = nullptr;
    ASSERT_EQ(NewUserData(&ud), noErr);
    Handle h = handleOf("bytes");
    ASSERT_EQ(AddUserData(ud, h, kName), noErr);
    ASSERT_EQ(DisposeUserData(ud), noErr);

    int notAList = 0;
    for (UserData bad : {ud, reinterpret_cast<UserData>(&notAList), static_cast<UserData>(nullptr)}) {
        EXPECT_EQ(DisposeUserData(bad), paramErr);
        EXPECT_EQ(CountUserDataType(bad, kName), 0);
        EXPECT_EQ(GetMoviesError(), paramErr);
        EXPECT_EQ(GetNextUserDataType(bad, 0), 0u);
        EXPECT_EQ(GetUserData(bad, h, kName, 1), paramErr);
        char b[5];
        EXPECT_EQ(GetUserDataItem(bad, b, 5, kName, 1), paramErr);
        EXPECT_EQ(SetUserDataItem(bad, b, 5, kName, 1), paramErr);
        EXPECT_EQ(AddUserData(bad, h, kName), paramErr);
        EXPECT_EQ(RemoveUserData(bad, kName, 1), paramErr);
        EXPECT_EQ(GetUserDataText(bad, h, kName, 1, 0), paramErr);
        EXPECT_EQ(AddUserDataText(bad, h, kName, 1, 0), paramErr);
        EXPECT_EQ(RemoveUserDataText(bad, kName, 1, 0), paramErr);
        EXPECT_EQ(PutUserDataIntoHandle(bad, h), paramErr);
        EXPECT_FALSE(platform::isUserData(bad));
    }
    EXPECT_EQ(bytesOf(h), "bytes") << "a refused call leaves the caller's handle alone";
    DisposeHandle(h);
    EXPECT_EQ(NewUserData(nullptr), paramErr);
}

TEST(UserData, ListsAreSafeFromSeveralThreads) {
    List shared;
    constexpr int kThreads = 4;
    constexpr int kEach = 500;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            Handle h = handleOf(std::string(1, char('a' + t)));
            for (int i = 0; i < kEach; ++i) {
                if (AddUserData(shared.ud, h, kName) != noErr) ++failures;
                // Lists made and disposed of on the side never disturb the shared one.
                UserData own = nullptr;
                if (NewUserData(&own) != noErr || AddUserData(own, h, kCtyp) != noErr ||
                    DisposeUserData(own) != noErr)
                    ++failures;
            }
            DisposeHandle(h);
        });
    }
    for (std::thread& th : threads)
        th.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(CountUserDataType(shared.ud, kName), kThreads * kEach);
    EXPECT_EQ(shared.types(), (std::vector<OSType>{kName}));
}
