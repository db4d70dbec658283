// Metadata keys, values, items and lists: key equality by format, value formats and their widths,
// numbers and texts as stored, items with their locale, and lists over a store (counting,
// finding, adding, changing, removing, sharing).
#include "KelvoMetaData.h"
#include "KelvoVideo.h"

#include "PlatformEndian.h"
#include "PlatformErrors.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kMdta = FOUR_CHAR_CODE("mdta");
constexpr uint32_t kItms = FOUR_CHAR_CODE("itms");
constexpr uint32_t kUdta = FOUR_CHAR_CODE("udta");
constexpr uint32_t kItlk = FOUR_CHAR_CODE("itlk");
constexpr uint32_t kItsk = FOUR_CHAR_CODE("itsk");
constexpr uint32_t kComn = FOUR_CHAR_CODE("comn");

const unsigned char* bytes(const char* s) {
    return reinterpret_cast<const unsigned char*>(s);
}

// A four-character key's bytes: the code's value in host order.
struct Code {
    uint32_t value;
    explicit Code(const char (&s)[5]) : value(FOUR_CHAR_CODE(s)) {}
    const unsigned char* bytes() const { return reinterpret_cast<const unsigned char*>(&value); }
};

std::string dataOf(const Kelvo_MetaDataValue& v) {
    return v.data() ? std::string(reinterpret_cast<const char*>(v.data()), v.size()) : std::string();
}

std::string hex(const std::string& b) {
    std::string out;
    char two[3];
    for (unsigned char c : b) {
        std::snprintf(two, sizeof two, "%02X", c);
        out += two;
    }
    return out;
}

Kelvo_MetaDataValue textValue(const char* s) {
    Kelvo_MetaDataValue v;
    v.format(1);
    v.utf8Value(s);
    return v;
}

// A new unstored item with the key and a UTF-8 value.
Kelvo_MetaDataItem textItem(Kelvo_MetaDataKey key, const char* value, const char* region = nullptr) {
    Kelvo_MetaDataItem item;
    item.key(&key);
    Kelvo_MetaDataValue v = textValue(value);
    item.value(&v);
    item.regionCode(region);
    return item;
}

// The UTF-8 values of a list of items, in order; the list is deleted.
std::vector<std::string> values(Kelvo_QTObjectsList* list) {
    std::vector<std::string> out;
    if (!list) return {"<null>"};
    for (int32_t i = 0; i < list->count(); ++i) {
        auto* item = static_cast<Kelvo_MetaDataItem*>(list->getObjValueByRef(i));
        out.push_back(item && item->value() ? item->value()->utf8Value() : "<none>");
    }
    delete list;
    return out;
}

// A store with a list over it; the list holds its own count.
struct Fixture {
    QTMetaDataRef md = platform::newMetaData(FOUR_CHAR_CODE("trak"));
    Kelvo_MetaDataList list{md};
    ~Fixture() { QTMetaDataRelease(md); }

    // Adds an item and returns its identifier.
    uint64_t add(Kelvo_MetaDataItem item) {
        std::unique_ptr<Kelvo_MetaDataItem> stored(list.addItem(&item));
        EXPECT_EQ(list.Error(), noErr);
        return stored ? stored->id() : 0;
    }
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Keys

TEST(MetaDataKey, EqualityFollowsTheFormat) {
    struct Case {
        uint32_t formatA;
        std::string keyA;
        uint32_t formatB;
        std::string keyB;
        bool equal;
    };
    const Case cases[] = {
        {kComn, "auth", kComn, "cprt", true}, // common keys of one size are equal whatever their bytes
        {kUdta, "auth", kUdta, "auth", true},
        {kUdta, "auth", kUdta, "autx", false},
        {kItsk, "auth", kItsk, "auth", true},
        {kItsk, "auth", kUdta, "auth", false},
        {kMdta, "name", kMdta, "name", true},
        {kMdta, "name", kMdta, "namf", false},
        {kMdta, "name", kMdta, "nam", false},
        {kItlk, "name", kItlk, "name", true},
        {kItlk, "name", kMdta, "name", false},
        {FOUR_CHAR_CODE("TEXT"), "name", FOUR_CHAR_CODE("TEXT"), "name", false}, // unknown formats never
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keyA + " / " + c.keyB);
        Kelvo_MetaDataKey a(c.formatA, bytes(c.keyA.c_str()));
        Kelvo_MetaDataKey b(c.formatB, bytes(c.keyB.c_str()));
        EXPECT_EQ(a == b, c.equal);
        EXPECT_EQ(b == a, c.equal);
    }
}

TEST(MetaDataKey, FormatsTakeTheirBytesAndDropThemWhenTheFormatChanges) {
    Kelvo_MetaDataKey empty;
    EXPECT_EQ(empty.format(), kMdta);
    EXPECT_FALSE(empty.qtObjIsValid());

    Kelvo_MetaDataKey udta(kUdta, bytes("authorship"));
    EXPECT_EQ(udta.size(), 4u) << "a four-character key takes 4 bytes";
    EXPECT_TRUE(udta.isOSTypeKey());
    Kelvo_MetaDataKey text(kMdta, bytes("authorship"));
    EXPECT_EQ(text.size(), 10u);
    EXPECT_TRUE(text.isStringKey());
    std::unique_ptr<char[]> s(text.stringValue());
    ASSERT_TRUE(s);
    EXPECT_STREQ(s.get(), "authorship");
    EXPECT_EQ(udta.stringValue(), nullptr);

    // Setting the same format keeps the key; another drops it; an unknown one changes nothing.
    text.format(kMdta);
    EXPECT_EQ(text.size(), 10u);
    text.format(FOUR_CHAR_CODE("TEXT"));
    EXPECT_EQ(text.Error(), -2176);
    EXPECT_EQ(text.format(), kMdta);
    EXPECT_EQ(text.size(), 10u);
    text.format(kItlk);
    EXPECT_EQ(text.format(), kItlk);
    EXPECT_EQ(text.size(), 0u);
    EXPECT_FALSE(text.qtObjIsValid());
    text.rawValue(bytes("x"));
    EXPECT_TRUE(text.qtObjIsValid());
    text.rawValue(nullptr);
    EXPECT_FALSE(text.qtObjIsValid());

    Kelvo_MetaDataKey unknown(FOUR_CHAR_CODE("TEXT"), bytes("name"));
    EXPECT_EQ(unknown.Error(), -2176);
    EXPECT_EQ(unknown.size(), 0u);

    // A reset key has no format and takes no bytes.
    udta.reset();
    EXPECT_EQ(udta.format(), 0u);
    udta.rawValue(bytes("name"));
    EXPECT_EQ(udta.size(), 0u);
    EXPECT_EQ(udta.Error(), noErr);
}

TEST(MetaDataKey, CodesAndRequiredStorageFormats) {
    Kelvo_MetaDataKey udta(kUdta, nullptr);
    udta.ostypeValue(FOUR_CHAR_CODE("cprt"));
    EXPECT_EQ(udta.ostypeValue(), FOUR_CHAR_CODE("cprt"));
    uint32_t held = 0;
    std::memcpy(&held, udta.rawValue(), 4);
    EXPECT_EQ(held, FOUR_CHAR_CODE("cprt")) << "four-character keys hold the code in host order";

    // A text key made from a code reads as the code's characters.
    Kelvo_MetaDataKey text(kMdta, nullptr);
    text.ostypeValue(FOUR_CHAR_CODE("auth"));
    std::unique_ptr<char[]> s(text.stringValue());
    ASSERT_TRUE(s);
    EXPECT_STREQ(s.get(), "auth");
    EXPECT_EQ(text.ostypeValue(), 0u);
    text.ostypeValue(FOUR_CHAR_CODE("ab\0\0"));
    EXPECT_EQ(text.size(), 2u) << "up to the first zero byte";

    Kelvo_MetaDataKey comn(kComn, Code("auth").bytes());
    EXPECT_EQ(comn.ostypeValue(), 0u);

    // A key set with fewer bytes than a code is never read past its end.
    Kelvo_MetaDataKey shortKey(kUdta, nullptr), other(kUdta, nullptr);
    shortKey.setKey("ab", 2);
    other.setKey("ab", 2);
    EXPECT_EQ(shortKey.ostypeValue(), 0u);
    EXPECT_TRUE(shortKey == other);

    const std::pair<uint32_t, uint32_t> required[] = {
        {kItlk, kItms}, {kItsk, kItms}, {kMdta, kMdta}, {kUdta, kUdta}, {kComn, 0}};
    for (auto [format, storage] : required) {
        Kelvo_MetaDataKey k(format, nullptr);
        EXPECT_EQ(k.requiredStorageFormat(), storage) << format;
    }
}

// ---------------------------------------------------------------------------------------------
// Values

TEST(MetaDataValue, FormatCodesSetTheirTypeAndWidth) {
    struct Case {
        uint32_t code;
        int32_t type;
        uint32_t size; // numbers hold zero of their width
    };
    const Case cases[] = {
        {0, 0, 0},  {1, 1, 0},  {2, 2, 0},  {3, 22, 1},  {4, 22, 2},  {5, 22, 4},  {6, 21, 2},
        {7, 21, 4}, {8, 23, 4}, {9, 24, 8}, {12, 12, 0}, {13, 13, 0}, {14, 14, 0}, {27, 27, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        Kelvo_MetaDataValue v;
        v.format(c.code == 27 ? 12 : 27); // another format, with data
        v.setValue("zz", 2);
        v.format(c.code);
        EXPECT_EQ(v.dataType(), c.type);
        EXPECT_EQ(v.size(), c.size);
        EXPECT_EQ(dataOf(v), std::string(c.size, '\0'));
        EXPECT_EQ(v.format(), int32_t(c.code));
        EXPECT_EQ(v.numberFormat(), c.type >= 21 && c.type <= 24 ? int32_t(c.code) : -1);
        EXPECT_TRUE(v.qtObjIsValid());
        EXPECT_EQ(v.Error(), noErr);
    }
    for (uint32_t bad : {10u, 11u, 15u, 21u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(bad);
        Kelvo_MetaDataValue v;
        v.format(bad);
        EXPECT_EQ(v.Error(), paramErr);
        EXPECT_EQ(v.dataType(), -1);
        EXPECT_FALSE(v.qtObjIsValid());
    }

    // Numbers of other widths are not representable and read as 0.
    const std::pair<uint32_t, uint32_t> otherWidths[] = {{3, 3}, {3, 8}, {6, 1}, {6, 8}, {8, 8}, {9, 4}};
    for (auto [code, size] : otherWidths) {
        SCOPED_TRACE(std::to_string(code) + "/" + std::to_string(size));
        Kelvo_MetaDataValue n;
        n.format(code);
        n.setValue("\x01\x02\x03\x04\x05\x06\x07\x08", size);
        EXPECT_EQ(n.format(), -1);
        EXPECT_EQ(n.numberValue(), 0.0);
        n.numberValue(5);
        EXPECT_EQ(n.numberValue(), code >= 8 ? 5.0 : 0.0) << "floats take their own width";
    }
}

TEST(MetaDataValue, TextsAreStoredAsThePlatformHoldsThem) {
    Kelvo_MetaDataValue utf8 = textValue("abc");
    EXPECT_EQ(utf8.size(), 4u);
    EXPECT_EQ(dataOf(utf8), std::string("abc\0", 4));
    EXPECT_STREQ(utf8.utf8Value(), "abc");
    EXPECT_TRUE(utf8.isDataString());

    // UTF-16 units given in host order are held big-endian.
    Kelvo_MetaDataValue utf16;
    utf16.format(2);
    const uint16_t units[] = {u'a', u'b'};
    utf16.utf16Value(units, sizeof units);
    EXPECT_EQ(hex(dataOf(utf16)), "00610062");
    EXPECT_STREQ(utf16.utf8Value(), "") << "not a UTF-8 text";

    // Texts and bytes go only into values of their kind.
    Kelvo_MetaDataValue binary;
    binary.utf8Value("abc");
    EXPECT_EQ(binary.size(), 0u);
    binary.binaryValue("\x01\x02", 2);
    EXPECT_EQ(hex(dataOf(binary)), "0102");
    utf8.binaryValue("\x01\x02", 2);
    EXPECT_STREQ(utf8.utf8Value(), "abc");
    utf16.utf8Value("abc");
    EXPECT_EQ(hex(dataOf(utf16)), "00610062");

    // Platform text reads as UTF-8, and text stored without a terminator still reads as a text of
    // its bytes.
    QTMetaDataRef md = platform::newMetaData(FOUR_CHAR_CODE("moov"));
    QTMetaDataItem item = 0;
    ASSERT_EQ(QTMetaDataAddItem(md, kMdta, kMdta, bytes("k"), 1, bytes("xyz"), 3, kQTMetaDataTypePlatformText,
                                &item),
              noErr);
    Kelvo_MetaDataValue platformText(md, item);
    QTMetaDataRelease(md);
    EXPECT_EQ(platformText.Error(), noErr);
    EXPECT_EQ(platformText.dataType(), 3);
    EXPECT_EQ(platformText.format(), 1);
    EXPECT_EQ(platformText.size(), 3u);
    EXPECT_STREQ(platformText.utf8Value(), "xyz");
    platformText.utf8Value("abc");
    EXPECT_EQ(dataOf(platformText), std::string("abc\0", 4));
}

TEST(MetaDataValue, NumbersAreHeldBigEndianAtTheirWidth) {
    struct Case {
        uint32_t code;
        double given;
        double read;
        const char* held;
    };
    const Case cases[] = {
        {6, 3.7, 3, "0003"},
        {6, -3.7, -3, "FFFD"},
        {6, 40000, 32767, "7FFF"},
        {7, -70000.9, -70000, "FFFEEE90"},
        {7, 3e9, 2147483647, "7FFFFFFF"},
        {3, 300, 255, "FF"},
        {3, -5, 0, "00"},
        {4, 65535.9, 65535, "FFFF"},
        {5, 4294967295.0, 4294967295.0, "FFFFFFFF"},
        {5, INFINITY, 4294967295.0, "FFFFFFFF"},
        {8, 1.5, 1.5, "3FC00000"},
        {8, 1e300, 3.4028234663852886e38, "7F7FFFFF"},
        {9, -2.25, -2.25, "C002000000000000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.code) + " " + std::to_string(c.given));
        Kelvo_MetaDataValue v;
        v.format(c.code);
        v.numberValue(c.given);
        EXPECT_EQ(hex(dataOf(v)), c.held);
        EXPECT_EQ(v.numberValue(), c.read);
        EXPECT_EQ(v.format(), int32_t(c.code));
    }

    // A number whose format changes loses its data; the same format keeps it.
    Kelvo_MetaDataValue v;
    v.format(7);
    v.numberValue(70000);
    v.format(7);
    EXPECT_EQ(v.numberValue(), 70000);
    v.format(6);
    EXPECT_EQ(v.numberValue(), 0);
    EXPECT_EQ(v.size(), 2u);

    // NaN has no integer; non-numbers take no number.
    v.numberValue(12);
    v.numberValue(NAN);
    EXPECT_EQ(v.Error(), paramErr);
    EXPECT_EQ(v.numberValue(), 12);
    Kelvo_MetaDataValue text = textValue("abc");
    text.numberValue(5);
    EXPECT_EQ(text.numberValue(), 0.0);
    EXPECT_STREQ(text.utf8Value(), "abc");
}

TEST(MetaDataValue, CopiesOwnTheirData) {
    Kelvo_MetaDataValue a = textValue("one");
    Kelvo_MetaDataValue b(a);
    a.utf8Value("two");
    EXPECT_STREQ(b.utf8Value(), "one");
    b = a;
    EXPECT_STREQ(b.utf8Value(), "two");
    b = b;
    EXPECT_STREQ(b.utf8Value(), "two");
    std::unique_ptr<Kelvo_QTObj> clone(a.clone());
    ASSERT_TRUE(clone);
    EXPECT_STREQ(clone->qtObjName(), "Kelvo_MetaDataValue");

    a.reset();
    EXPECT_FALSE(a.qtObjIsValid());
    EXPECT_EQ(a.clone(), nullptr);
    Kelvo_MetaDataValue c(a);
    EXPECT_EQ(c.dataType(), -1);
    EXPECT_EQ(c.size(), 0u);
}

// ---------------------------------------------------------------------------------------------
// Items

TEST(MetaDataItem, KeysSetTheStorageFormatAndInvalidPartsAreNotKept) {
    Kelvo_MetaDataItem item;
    EXPECT_EQ(item.typeOfStorage(), kMdta);
    EXPECT_FALSE(item.exists());
    EXPECT_FALSE(item.qtObjIsValid()) << "no value";
    EXPECT_STREQ(item.regionCode(), "");

    Kelvo_MetaDataKey key(kItsk, Code("tmpo").bytes());
    item.key(&key);
    EXPECT_EQ(item.typeOfStorage(), kItms);
    ASSERT_NE(item.key(), nullptr);
    EXPECT_NE(item.key(), &key) << "a copy is kept";
    EXPECT_TRUE(*item.key() == key);

    Kelvo_MetaDataKey invalid(kMdta, nullptr);
    item.key(&invalid);
    EXPECT_EQ(item.key(), nullptr);
    EXPECT_NE(item.Error(), noErr);
    item.key(nullptr);
    EXPECT_EQ(item.Error(), paramErr);

    Kelvo_MetaDataValue none;
    none.reset();
    item.value(&none);
    EXPECT_EQ(item.value(), nullptr);
    Kelvo_MetaDataValue v = textValue("120");
    item.value(&v);
    EXPECT_TRUE(item.qtObjIsValid());

    item.regionCode("en_GB");
    Kelvo_MetaDataItem copy(item);
    item.regionCode("");
    EXPECT_STREQ(item.regionCode(), "");
    EXPECT_STREQ(copy.regionCode(), "en_GB");
    EXPECT_STREQ(copy.value()->utf8Value(), "120");
    EXPECT_NE(copy.value(), item.value());

    // A common key belongs to no storage format, so its item cannot be stored.
    Kelvo_MetaDataKey comn(kComn, Code("auth").bytes());
    copy.key(&comn);
    EXPECT_EQ(copy.typeOfStorage(), 0u);
    EXPECT_FALSE(copy.qtObjIsValid());

    copy.reset();
    EXPECT_EQ(copy.key(), nullptr);
    EXPECT_EQ(copy.value(), nullptr);
    EXPECT_EQ(copy.clone(), nullptr);
}

TEST(MetaDataItem, ReadingNeedsAStoreAndAnItem) {
    QTMetaDataRef md = platform::newMetaData(FOUR_CHAR_CODE("moov"));
    Kelvo_MetaDataItem noStore(nullptr, 3);
    EXPECT_EQ(noStore.Error(), paramErr);
    Kelvo_MetaDataItem noItem(md, 0);
    EXPECT_EQ(noItem.Error(), paramErr);
    Kelvo_MetaDataItem unknown(md, 42);
    EXPECT_EQ(unknown.Error(), kQTMetaDataInvalidItemErr);
    EXPECT_FALSE(unknown.qtObjIsValid());
    EXPECT_EQ(Kelvo_MetaDataKey(md, 42).Error(), kQTMetaDataInvalidItemErr);
    EXPECT_EQ(Kelvo_MetaDataValue(md, 42).Error(), kQTMetaDataInvalidItemErr);
    EXPECT_EQ(Kelvo_MetaDataKey(nullptr, 1).Error(), paramErr);
    EXPECT_EQ(Kelvo_MetaDataValue(md, 0).Error(), paramErr);
    QTMetaDataRelease(md);
}

// ---------------------------------------------------------------------------------------------
// Lists

TEST(MetaDataList, CountsItemsByStorageFormat) {
    Fixture f;
    ASSERT_TRUE(f.list.qtObjIsValid());
    f.add(textItem(Kelvo_MetaDataKey(kMdta, bytes("title")), "A"));
    f.add(textItem(Kelvo_MetaDataKey(kUdta, Code("name").bytes()), "B"));
    f.add(textItem(Kelvo_MetaDataKey(kItlk, bytes("title")), "C"));
    f.add(textItem(Kelvo_MetaDataKey(kMdta, bytes("title")), "D"));

    EXPECT_EQ(f.list.count(nullptr), 4u) << "null counts every storage format";
    EXPECT_EQ(f.list.Error(), noErr);
    Kelvo_OSType mdta(kMdta), itms(kItms), udta(kUdta), text("TEXT");
    EXPECT_EQ(f.list.count(&mdta), 2u);
    EXPECT_EQ(f.list.count(&itms), 1u);
    EXPECT_EQ(f.list.count(&udta), 1u);
    EXPECT_EQ(f.list.count(&text), 0u);
    EXPECT_EQ(f.list.Error(), -2175);
    int32_t err = 0;
    EXPECT_EQ(f.list.ostypeToStorageFormat(&text, err), FOUR_CHAR_CODE("NONE"));
    EXPECT_EQ(err, -2175);
    EXPECT_EQ(f.list.ostypeToStorageFormat(nullptr, err), 0u);
    EXPECT_EQ(err, 0);

    EXPECT_EQ(values(f.list.items(nullptr)), (std::vector<std::string>{"A", "B", "C", "D"}));
    EXPECT_EQ(values(f.list.items(&mdta)), (std::vector<std::string>{"A", "D"}));
    EXPECT_EQ(f.list.items(&text), nullptr);
    EXPECT_EQ(f.list.Error(), -2175);

    // The formats in use, and the owner.
    std::unique_ptr<Kelvo_QTObjectsList> formats(f.list.storageFormats());
    ASSERT_TRUE(formats);
    ASSERT_EQ(formats->count(), 3);
    const uint32_t expected[] = {kMdta, kItms, kUdta};
    for (int32_t i = 0; i < 3; ++i)
        EXPECT_EQ(static_cast<Kelvo_OSType*>(formats->getObjValueByRef(i))->getOSType(), expected[i]);
    std::unique_ptr<Kelvo_OSType> owner(f.list.ownerType());
    ASSERT_TRUE(owner);
    EXPECT_STREQ(owner->stringValue(), "trak");

    f.list.clear(nullptr);
    EXPECT_EQ(f.list.count(nullptr), 0u);
    EXPECT_EQ(f.list.storageFormats(), nullptr) << "an empty store uses no format";
}

TEST(MetaDataList, AddsItemsWithTheirLocaleAndReadsThemBack) {
    Fixture f;
    Kelvo_MetaDataItem item = textItem(Kelvo_MetaDataKey(kItlk, bytes("comment")), "fine", "fr_FR");
    std::unique_ptr<Kelvo_MetaDataItem> stored(f.list.addItem(&item));
    ASSERT_TRUE(stored);
    EXPECT_EQ(f.list.Error(), noErr);
    EXPECT_TRUE(stored->exists());
    EXPECT_TRUE(stored->qtObjIsValid());
    EXPECT_EQ(stored->typeOfStorage(), kItms);
    EXPECT_STREQ(stored->regionCode(), "fr_FR");
    EXPECT_TRUE(*stored->key() == *item.key());
    EXPECT_STREQ(stored->value()->utf8Value(), "fine");
    EXPECT_EQ(stored->value()->size(), 5u);

    // The stored item cannot be added again; an item needs a key and a value.
    EXPECT_EQ(f.list.addItem(stored.get()), nullptr);
    EXPECT_EQ(f.list.Error(), -2174);
    Kelvo_MetaDataItem keyless;
    Kelvo_MetaDataValue v = textValue("x");
    keyless.value(&v);
    EXPECT_EQ(f.list.addItem(&keyless), nullptr);
    EXPECT_EQ(f.list.Error(), -2176);
    Kelvo_MetaDataItem valueless;
    EXPECT_EQ(f.list.addItem(&valueless), nullptr);
    EXPECT_EQ(f.list.Error(), paramErr);
    EXPECT_EQ(f.list.addItem(nullptr), nullptr);
    EXPECT_EQ(f.list.count(nullptr), 1u);

    // Changing a stored item's value, with its type.
    Kelvo_MetaDataValue number;
    number.format(5);
    number.numberValue(123456);
    stored->value(&number);
    f.list.itemValue(stored.get());
    EXPECT_EQ(f.list.Error(), noErr);
    Kelvo_MetaDataItem reread(f.md, stored->id());
    EXPECT_EQ(reread.value()->format(), 5);
    EXPECT_EQ(reread.value()->numberValue(), 123456);
    f.list.itemValue(&item);
    EXPECT_EQ(f.list.Error(), -2174) << "not stored";
    Kelvo_MetaDataValue invalid;
    invalid.reset();
    reread.value(&invalid);
    f.list.itemValue(&reread);
    EXPECT_EQ(f.list.Error(), paramErr);
}

TEST(MetaDataList, FindsAndRemovesItemsByKey) {
    Fixture f;
    const Kelvo_MetaDataKey title(kMdta, bytes("title"));
    const Kelvo_MetaDataKey udtaAuth(kUdta, Code("auth").bytes());
    f.add(textItem(title, "T1"));
    f.add(textItem(udtaAuth, "U"));
    f.add(textItem(Kelvo_MetaDataKey(kItsk, Code("auth").bytes()), "I"));
    f.add(textItem(Kelvo_MetaDataKey(kMdta, bytes("titles")), "T-s"));
    f.add(textItem(title, "T2"));

    Kelvo_MetaDataKey k(title);
    EXPECT_EQ(values(f.list.itemsForKey(&k)), (std::vector<std::string>{"T1", "T2"}));
    Kelvo_MetaDataKey common(kComn, Code("auth").bytes());
    EXPECT_EQ(values(f.list.itemsForKey(&common)), (std::vector<std::string>{"U", "I"}))
        << "a common key finds the code in every format";
    Kelvo_MetaDataKey none(kMdta, bytes("nothing"));
    EXPECT_EQ(values(f.list.itemsForKey(&none)), (std::vector<std::string>{}));
    EXPECT_EQ(f.list.itemsForKey(nullptr), nullptr);
    EXPECT_EQ(f.list.Error(), paramErr);

    EXPECT_TRUE(f.list.removeItem(&k));
    EXPECT_EQ(values(f.list.itemsForKey(&k)), (std::vector<std::string>{"T2"}));
    EXPECT_FALSE(f.list.removeItem(&none));
    f.list.removeAllItems(&common);
    EXPECT_EQ(f.list.Error(), noErr);
    EXPECT_EQ(values(f.list.items(nullptr)), (std::vector<std::string>{"T-s", "T2"}));

    Kelvo_OSType mdta(kMdta), udta(kUdta);
    f.add(textItem(udtaAuth, "U2"));
    f.list.clear(&mdta);
    EXPECT_EQ(values(f.list.items(nullptr)), (std::vector<std::string>{"U2"}));
    Kelvo_OSType text("TEXT");
    f.list.clear(&text);
    EXPECT_EQ(f.list.Error(), -2175);
    EXPECT_EQ(f.list.count(nullptr), 1u);
}

TEST(MetaDataList, ListsShareTheirStore) {
    QTMetaDataRef md = platform::newMetaData(FOUR_CHAR_CODE("mdia"));
    auto* first = new Kelvo_MetaDataList(md);
    QTMetaDataRelease(md); // the list's count keeps the store
    ASSERT_TRUE(first->qtObjIsValid());
    EXPECT_EQ(first->qtObjReference(), md);

    Kelvo_MetaDataList second(*first);
    std::unique_ptr<Kelvo_QTObj> third(first->clone());
    ASSERT_TRUE(third);
    delete first;
    Kelvo_MetaDataItem item = textItem(Kelvo_MetaDataKey(kMdta, bytes("k")), "v");
    std::unique_ptr<Kelvo_MetaDataItem> added(second.addItem(&item));
    ASSERT_TRUE(added);
    EXPECT_EQ(static_cast<Kelvo_MetaDataList*>(third.get())->count(nullptr), 1u);

    // Copies: another class gives -50, an invalid list 9; both leave the list empty.
    Kelvo_MetaDataList target(md);
    Kelvo_OSType notAList(kMdta);
    target.copy(notAList);
    EXPECT_EQ(target.Error(), paramErr);
    EXPECT_FALSE(target.qtObjIsValid());
    Kelvo_MetaDataList invalid(static_cast<Movie>(nullptr));
    target.copy(invalid);
    EXPECT_EQ(target.Error(), kKelvoBadArgumentObject);
    target = second;
    EXPECT_EQ(target.Error(), noErr);
    EXPECT_EQ(target.count(nullptr), 1u);
    target.copy(target);
    EXPECT_EQ(target.count(nullptr), 1u) << "a list copied onto itself keeps its store";

    // Once every list has gone, so has the store.
    target.reset();
    second.reset();
    third.reset();
    EXPECT_EQ(QTMetaDataRetain(md), nullptr);
    Kelvo_MetaDataList released(md);
    EXPECT_EQ(released.Error(), kQTMetaDataInvalidMetaDataErr);
    EXPECT_FALSE(released.qtObjIsValid());
    EXPECT_EQ(released.count(nullptr), 0u);
    EXPECT_EQ(released.addItem(&item), nullptr);
    EXPECT_EQ(released.Error(), kQTMetaDataInvalidMetaDataErr);
}

TEST(MetaDataList, OwnersThatDoNotExistGiveNoList) {
    Kelvo_MetaDataList movie(static_cast<Movie>(nullptr));
    EXPECT_EQ(movie.Error(), invalidMovie);
    EXPECT_EQ(GetMoviesError(), invalidMovie);
    Kelvo_MetaDataList track(static_cast<Track>(nullptr));
    EXPECT_EQ(track.Error(), invalidTrack);
    Kelvo_MetaDataList media(static_cast<Media>(nullptr));
    EXPECT_EQ(media.Error(), invalidMedia);
    for (Kelvo_MetaDataList* l : {&movie, &track, &media}) {
        EXPECT_FALSE(l->qtObjIsValid());
        EXPECT_EQ(l->clone(), nullptr);
        EXPECT_EQ(l->storageFormats(), nullptr);
        EXPECT_EQ(l->ownerType(), nullptr);
        EXPECT_EQ(l->items(nullptr), nullptr);
        EXPECT_EQ(l->Error(), kQTMetaDataInvalidMetaDataErr);
    }
    Kelvo_MetaDataList null(static_cast<QTMetaDataRef>(nullptr));
    EXPECT_EQ(null.Error(), paramErr);
}

TEST(MetaDataList, ImagesMadeByPILAreKeptByteForByte) {
    testsupport::ScratchDir dir("metadata-png");
    const std::string png = dir.file("cover.png");
    int status = -1;
    const std::string said = testsupport::run("/usr/bin/python3 -c \"from PIL import Image; "
                                              "Image.new('RGB', (5, 3), (200, 30, 60)).save('" +
                                                  png + "')\" 2>&1",
                                              &status);
    ASSERT_EQ(status, 0) << said;
    const std::string image = testsupport::readFile(png);
    ASSERT_GT(image.size(), 8u);

    Fixture f;
    Kelvo_MetaDataValue cover;
    cover.format(14);
    cover.setValue(image.data(), uint32_t(image.size()));
    Kelvo_MetaDataItem item;
    Kelvo_MetaDataKey key(kItsk, Code("covr").bytes());
    item.key(&key);
    item.value(&cover);
    f.add(std::move(item));

    std::unique_ptr<Kelvo_QTObjectsList> found(f.list.itemsForKey(&key));
    ASSERT_TRUE(found);
    ASSERT_EQ(found->count(), 1);
    const Kelvo_MetaDataValue* read = static_cast<Kelvo_MetaDataItem*>(found->getObjValueByRef(0))->value();
    EXPECT_EQ(read->format(), 14);
    EXPECT_TRUE(read->isDataImage());
    EXPECT_EQ(dataOf(*read), image);
}

// Image values decode through the import service and encode through the export service.
TEST(MetaDataValue, ImagesDecodeAndEncodeThroughTheGraphicsServices) {
    testsupport::ScratchDir dir("metadata-images");
    const std::string png = dir.file("picture.png"), gif = dir.file("picture.gif"), argb = dir.file("picture.argb");
    int status = -1;
    const std::string said = testsupport::run(
        "/usr/bin/python3 -c \"import sys, numpy as np; from PIL import Image; "
        "a = np.random.default_rng(9).integers(0, 256, (3, 5, 3), dtype=np.uint8); "
        "im = Image.fromarray(a, 'RGB'); im.save(sys.argv[1]); im.quantize(8).save(sys.argv[2]); "
        "v = np.asarray(Image.open(sys.argv[1]).convert('RGBA'))[:, :, [3, 0, 1, 2]]; "
        "open(sys.argv[3], 'wb').write(v.tobytes())\" " +
            png + " " + gif + " " + argb + " 2>&1",
        &status);
    ASSERT_EQ(status, 0) << said;
    const std::string pngBytes = testsupport::readFile(png), pixels = testsupport::readFile(argb);
    auto bytesOf = [](Kelvo_QDGWorldBuffer& b) {
        std::string out;
        for (int y = 0; y < b.height(); ++y)
            out.append(reinterpret_cast<const char*>(b.baseAddress()) + size_t(y) * size_t(b.rowBytes()),
                       size_t(b.width()) * 4);
        return out;
    };

    Kelvo_MetaDataValue value;
    value.format(14);
    value.setValue(pngBytes.data(), uint32_t(pngBytes.size()));
    std::unique_ptr<Kelvo_QDGWorldBuffer> decoded(value.imageValue());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(value.Error(), noErr);
    EXPECT_EQ(bytesOf(*decoded), pixels);

    // Encoded as PNG and BMP the pixels come back exactly; as JPEG close.
    for (int32_t code : {14, 27, 13}) {
        SCOPED_TRACE(code);
        Kelvo_MetaDataValue encoded;
        encoded.format(uint32_t(code));
        encoded.imageValue(decoded.get());
        EXPECT_EQ(encoded.Error(), noErr);
        ASSERT_GT(encoded.size(), 0u);
        std::unique_ptr<Kelvo_QDGWorldBuffer> again(encoded.imageValue());
        ASSERT_TRUE(again);
        const std::string back = bytesOf(*again);
        ASSERT_EQ(back.size(), pixels.size());
        if (code != 13) {
            EXPECT_EQ(back, pixels);
            continue;
        }
        // Random pixels are JPEG's worst case: only the mean difference is held to a bound.
        double total = 0;
        for (size_t i = 0; i < back.size(); ++i) total += std::abs(int(uint8_t(back[i])) - int(uint8_t(pixels[i])));
        EXPECT_LE(total / double(back.size()), 48.0);
    }

    // A GIF value reads through the GIF importer; given pixels it becomes a PNG value.
    const std::string gifBytes = testsupport::readFile(gif);
    Kelvo_MetaDataValue animated;
    animated.format(12);
    animated.setValue(gifBytes.data(), uint32_t(gifBytes.size()));
    std::unique_ptr<Kelvo_QDGWorldBuffer> fromGif(animated.imageValue());
    ASSERT_TRUE(fromGif);
    EXPECT_EQ(fromGif->width(), 5);
    animated.imageValue(decoded.get());
    EXPECT_EQ(animated.format(), 14);
    std::unique_ptr<Kelvo_QDGWorldBuffer> asPng(animated.imageValue());
    ASSERT_TRUE(asPng);
    EXPECT_EQ(bytesOf(*asPng), pixels);

    // Values that hold no image give nothing; a damaged image gives the draw's status.
    Kelvo_MetaDataValue text;
    text.format(1);
    text.utf8Value("abc");
    EXPECT_EQ(text.imageValue(), nullptr);
    Kelvo_MetaDataValue damaged;
    damaged.format(14);
    damaged.setValue(pngBytes.data(), 40);
    std::unique_ptr<Kelvo_QDGWorldBuffer> none(damaged.imageValue());
    EXPECT_NE(damaged.Error(), noErr);
    damaged.imageValue(nullptr);
    EXPECT_EQ(damaged.Error(), paramErr);
}
