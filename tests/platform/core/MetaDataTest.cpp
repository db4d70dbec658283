// Movie metadata stores: item identifiers, reference counts, which key formats each storage
// format takes, common keys, searches, item and store properties, values and threads.
#include "PlatformMetaData.h"

#include "PlatformEndian.h"
#include "PlatformProperties.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr OSType kMdta = kQTMetaDataStorageFormatMdta;
constexpr OSType kItms = kQTMetaDataStorageFormatItms;
constexpr OSType kUdta = kQTMetaDataStorageFormatUdta;
constexpr OSType kComn = kQTMetaDataKeyFormatCommon;
constexpr OSType kItsk = kQTMetaDataKeyFormatItsk;
constexpr OSType kItlk = kQTMetaDataKeyFormatItlk;
constexpr OSType kMdit = kPropertyClass_MetaDataItem;

// A store for the length of a test.
struct Store {
    QTMetaDataRef md = platform::newMetaData(FOUR_CHAR_CODE("moov"));
    ~Store() { QTMetaDataRelease(md); }
};

// A four-character key as the calls take it: the code's value in host order.
struct Code {
    uint32_t value;
    explicit Code(const char (&s)[5]) : value(FOUR_CHAR_CODE(s)) {}
    const UInt8* bytes() const { return reinterpret_cast<const UInt8*>(&value); }
};

const UInt8* text(const char* s) {
    return reinterpret_cast<const UInt8*>(s);
}

OSStatus addText(QTMetaDataRef md, OSType storage, OSType keyFormat, const char* key, const char* value,
                 QTMetaDataItem* item = nullptr) {
    return QTMetaDataAddItem(md, storage, keyFormat, text(key), ByteCount(std::strlen(key)), text(value),
                             ByteCount(std::strlen(value)), kQTMetaDataTypeUTF8, item);
}

OSStatus addCode(QTMetaDataRef md, OSType storage, OSType keyFormat, const Code& key, const char* value,
                 QTMetaDataItem* item = nullptr) {
    return QTMetaDataAddItem(md, storage, keyFormat, key.bytes(), 4, text(value),
                             ByteCount(std::strlen(value)), kQTMetaDataTypeUTF8, item);
}

std::string valueOf(QTMetaDataRef md, QTMetaDataItem item) {
    ByteCount size = 0;
    if (QTMetaDataGetItemValue(md, item, nullptr, 0, &size) != noErr) return "<error>";
    std::string bytes(size, '\0');
    ByteCount used = 0;
    if (QTMetaDataGetItemValue(md, item, reinterpret_cast<UInt8*>(bytes.data()), size, &used) != noErr)
        return "<error>";
    return bytes.substr(0, used);
}

// The values of the items a search finds, in the store's order.
std::vector<std::string> found(QTMetaDataRef md, OSType storage, OSType keyFormat = 0,
                               const UInt8* key = nullptr, ByteCount keySize = 0) {
    std::vector<std::string> out;
    QTMetaDataItem item = 0;
    while (QTMetaDataGetNextItem(md, storage, item, keyFormat, key, keySize, &item) == noErr)
        out.push_back(valueOf(md, item));
    return out;
}

std::string itemProperty(QTMetaDataRef md, QTMetaDataItem item, OSType id) {
    ByteCount size = 0;
    if (QTMetaDataGetItemPropertyInfo(md, item, kMdit, id, nullptr, &size, nullptr) != noErr)
        return "<error>";
    std::string bytes(size + 1, '\0');
    ByteCount used = 0;
    if (QTMetaDataGetItemProperty(md, item, kMdit, id, size + 1, bytes.data(), &used) != noErr)
        return "<error>";
    return bytes.substr(0, used);
}

uint32_t itemProperty32(QTMetaDataRef md, QTMetaDataItem item, OSType id) {
    uint32_t v = 0;
    EXPECT_EQ(QTMetaDataGetItemProperty(md, item, kMdit, id, 4, &v, nullptr), noErr);
    return v;
}

} // namespace

TEST(MetaDataStore, ItemIdentifiersAreNeverZeroNorReusedAndItemsKeepTheirOrder) {
    Store s;
    ASSERT_NE(s.md, nullptr);
    QTMetaDataItem a = 0, b = 0, c = 0, d = 0;
    ASSERT_EQ(addText(s.md, kMdta, kMdta, "one", "1", &a), noErr);
    ASSERT_EQ(addCode(s.md, kUdta, kUdta, Code("two "), "2", &b), noErr);
    ASSERT_EQ(addText(s.md, kMdta, kMdta, "three", "3", &c), noErr);
    EXPECT_NE(a, 0u);
    EXPECT_EQ(std::set<QTMetaDataItem>({a, b, c}).size(), 3u);

    ASSERT_EQ(QTMetaDataRemoveItem(s.md, c), noErr);
    ASSERT_EQ(addText(s.md, kMdta, kMdta, "four", "4", &d), noErr);
    EXPECT_EQ(std::set<QTMetaDataItem>({a, b, c, d}).size(), 4u)
        << "the last removed identifier is not reused";
    EXPECT_EQ(found(s.md, 0), (std::vector<std::string>{"1", "2", "4"}));
    EXPECT_EQ(found(s.md, kMdta), (std::vector<std::string>{"1", "4"}));

    // A removed item is gone for every call, and the search cannot continue from it.
    QTMetaDataItem next = 99;
    EXPECT_EQ(QTMetaDataGetNextItem(s.md, 0, c, 0, nullptr, 0, &next), kQTMetaDataInvalidItemErr);
    EXPECT_EQ(next, 0u);
    EXPECT_EQ(QTMetaDataRemoveItem(s.md, c), kQTMetaDataInvalidItemErr);
    EXPECT_EQ(QTMetaDataSetItem(s.md, c, text("x"), 1, kQTMetaDataTypeUTF8), kQTMetaDataInvalidItemErr);
    EXPECT_EQ(valueOf(s.md, c), "<error>");
    EXPECT_EQ(QTMetaDataRemoveItem(s.md, 0), kQTMetaDataInvalidItemErr);
    // The search ends with its own status and no item.
    EXPECT_EQ(QTMetaDataGetNextItem(s.md, 0, d, 0, nullptr, 0, &next), kQTMetaDataNoMoreItemsErr);
    EXPECT_EQ(next, 0u);
}

TEST(MetaDataStore, ReferencesAreCountedAndReleasedOnesAreRefused) {
    QTMetaDataRef md = platform::newMetaData(FOUR_CHAR_CODE("trak"));
    ASSERT_NE(md, nullptr);
    EXPECT_EQ(QTMetaDataRetain(md), md);
    QTMetaDataItem item = 0;
    ASSERT_EQ(addText(md, kMdta, kMdta, "k", "v", &item), noErr);
    QTMetaDataRelease(md);
    EXPECT_EQ(valueOf(md, item), "v") << "one count is left";
    QTMetaDataRelease(md);

    // The store has gone; a new one never takes over its reference.
    QTMetaDataRef other = platform::newMetaData(FOUR_CHAR_CODE("moov"));
    ASSERT_NE(other, nullptr);
    EXPECT_NE(other, md);
    for (QTMetaDataRef gone : {md, QTMetaDataRef(nullptr)}) {
        SCOPED_TRACE(gone ? "released" : "null");
        EXPECT_EQ(QTMetaDataRetain(gone), nullptr);
        QTMetaDataRelease(gone); // ignored
        ByteCount size = 7;
        uint32_t v = 0;
        QTMetaDataItem next = 7;
        EXPECT_EQ(QTMetaDataGetPropertyInfo(gone, kPropertyClass_MetaData, kQTMetaDataPropertyID_OwnerType,
                                            nullptr, &size, nullptr),
                  kQTMetaDataInvalidMetaDataErr);
        EXPECT_EQ(size, 0u);
        EXPECT_EQ(QTMetaDataGetProperty(gone, kPropertyClass_MetaData, kQTMetaDataPropertyID_OwnerType, 4, &v,
                                        nullptr),
                  kQTMetaDataInvalidMetaDataErr);
        EXPECT_EQ(QTMetaDataGetItemPropertyInfo(gone, item, kMdit, kQTMetaDataItemPropertyID_Key, nullptr,
                                                &size, nullptr),
                  kQTMetaDataInvalidMetaDataErr);
        EXPECT_EQ(
            QTMetaDataGetItemProperty(gone, item, kMdit, kQTMetaDataItemPropertyID_DataType, 4, &v, nullptr),
            kQTMetaDataInvalidMetaDataErr);
        EXPECT_EQ(QTMetaDataSetItemProperty(gone, item, kMdit, kQTMetaDataItemPropertyID_Locale, 3, "en"),
                  kQTMetaDataInvalidMetaDataErr);
        EXPECT_EQ(QTMetaDataGetItemValue(gone, item, nullptr, 0, &size), kQTMetaDataInvalidMetaDataErr);
        EXPECT_EQ(QTMetaDataSetItem(gone, item, text("x"), 1, kQTMetaDataTypeUTF8),
                  kQTMetaDataInvalidMetaDataErr);
        EXPECT_EQ(addText(gone, kMdta, kMdta, "k", "v", &next), kQTMetaDataInvalidMetaDataErr);
        EXPECT_EQ(next, 0u);
        next = 7;
        EXPECT_EQ(QTMetaDataGetNextItem(gone, 0, 0, 0, nullptr, 0, &next), kQTMetaDataInvalidMetaDataErr);
        EXPECT_EQ(next, 0u);
        EXPECT_EQ(QTMetaDataRemoveItem(gone, item), kQTMetaDataInvalidMetaDataErr);
        EXPECT_EQ(QTMetaDataRemoveItemsWithKey(gone, kMdta, kMdta, text("k"), 1),
                  kQTMetaDataInvalidMetaDataErr);
    }
    // An item identifier of the gone store names nothing in the new one.
    EXPECT_EQ(valueOf(other, item), "<error>");
    QTMetaDataRelease(other);
}

TEST(MetaDataStore, EachStorageFormatTakesItsOwnKeyFormats) {
    struct Case {
        const char* storage;
        const char* keyFormat;
        ByteCount keySize;
        OSStatus expected;
        const char* storedKeyFormat; // after a successful add
    };
    const Case cases[] = {
        {"mdta", "mdta", 5, noErr, "mdta"},
        {"itms", "itlk", 5, noErr, "itlk"},
        {"itms", "itsk", 4, noErr, "itsk"},
        {"udta", "udta", 4, noErr, "udta"},
        // A common key is the four-character key of the formats whose keys are codes.
        {"udta", "comn", 4, noErr, "udta"},
        {"itms", "comn", 4, noErr, "itsk"},
        {"mdta", "comn", 4, kQTMetaDataInvalidKeyFormatErr, nullptr},
        {"mdta", "udta", 4, kQTMetaDataInvalidKeyFormatErr, nullptr},
        {"mdta", "itlk", 5, kQTMetaDataInvalidKeyFormatErr, nullptr},
        {"itms", "mdta", 5, kQTMetaDataInvalidKeyFormatErr, nullptr},
        {"itms", "udta", 4, kQTMetaDataInvalidKeyFormatErr, nullptr},
        {"udta", "itsk", 4, kQTMetaDataInvalidKeyFormatErr, nullptr},
        {"udta", "TEXT", 4, kQTMetaDataInvalidKeyFormatErr, nullptr},
        {"TEXT", "mdta", 5, kQTMetaDataInvalidStorageFormatErr, nullptr},
        // Items are always added to one format.
        {"\0\0\0\0", "mdta", 5, kQTMetaDataInvalidStorageFormatErr, nullptr},
        // Four-character keys are exactly 4 bytes; text keys are never empty.
        {"udta", "udta", 3, paramErr, nullptr},
        {"itms", "itsk", 5, paramErr, nullptr},
        {"udta", "comn", 2, paramErr, nullptr},
        {"mdta", "mdta", 0, paramErr, nullptr},
        {"mdta", "\0\0\0\0", 5, paramErr, nullptr},
    };
    const UInt8 key[] = {'a', 'r', 't', 'i', 's'};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.storage, 4) + " / " + std::string(c.keyFormat, 4) + " / " +
                     std::to_string(c.keySize));
        Store s;
        QTMetaDataItem item = 99;
        const OSType storage = platform::loadBE32(c.storage);
        const OSType keyFormat = platform::loadBE32(c.keyFormat);
        EXPECT_EQ(QTMetaDataAddItem(s.md, storage, keyFormat, key, c.keySize, text("v"), 1,
                                    kQTMetaDataTypeUTF8, &item),
                  c.expected);
        if (c.expected != noErr) {
            EXPECT_EQ(item, 0u);
            EXPECT_TRUE(found(s.md, 0).empty());
            continue;
        }
        EXPECT_EQ(itemProperty32(s.md, item, kQTMetaDataItemPropertyID_KeyFormat),
                  platform::loadBE32(c.storedKeyFormat));
        EXPECT_EQ(itemProperty32(s.md, item, kQTMetaDataItemPropertyID_StorageFormat), storage);
        EXPECT_EQ(itemProperty(s.md, item, kQTMetaDataItemPropertyID_Key), std::string("artis", c.keySize));
    }
}

TEST(MetaDataStore, AddsRefuseBadValuesAndTypes) {
    Store s;
    QTMetaDataItem item = 99;
    const UInt8 one = 1;
    EXPECT_EQ(QTMetaDataAddItem(s.md, kMdta, kMdta, text("k"), 1, nullptr, 4, kQTMetaDataTypeBinary, &item),
              paramErr);
    EXPECT_EQ(QTMetaDataAddItem(s.md, kMdta, kMdta, nullptr, 1, &one, 1, kQTMetaDataTypeBinary, &item),
              paramErr);
    for (UInt32 type : {4u, 11u, 25u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(QTMetaDataAddItem(s.md, kMdta, kMdta, text("k"), 1, &one, 1, type, &item), paramErr);
    }
    EXPECT_EQ(item, 0u);
    EXPECT_TRUE(found(s.md, 0).empty());

    // An empty value is a value; no identifier needs to be asked for.
    EXPECT_EQ(QTMetaDataAddItem(s.md, kMdta, kMdta, text("k"), 1, nullptr, 0, kQTMetaDataTypeBinary, nullptr),
              noErr);
    ASSERT_EQ(QTMetaDataGetNextItem(s.md, 0, 0, 0, nullptr, 0, &item), noErr);
    EXPECT_EQ(valueOf(s.md, item), "");
    EXPECT_EQ(QTMetaDataGetNextItem(s.md, 0, 0, 0, nullptr, 0, nullptr), paramErr);
    EXPECT_EQ(QTMetaDataSetItem(s.md, item, &one, 1, 26), paramErr);
    EXPECT_EQ(QTMetaDataSetItem(s.md, item, nullptr, 1, kQTMetaDataTypeBinary), paramErr);
    EXPECT_EQ(itemProperty32(s.md, item, kQTMetaDataItemPropertyID_DataType), kQTMetaDataTypeBinary);
}

TEST(MetaDataStore, SearchesMatchFormatBytesAndSizeOfTheKey) {
    Store s;
    ASSERT_EQ(addText(s.md, kMdta, kMdta, "name", "a"), noErr);
    ASSERT_EQ(addText(s.md, kMdta, kMdta, "name2", "b"), noErr);
    ASSERT_EQ(addText(s.md, kItms, kItlk, "name", "c"), noErr);
    ASSERT_EQ(addText(s.md, kMdta, kMdta, "name", "d"), noErr);
    ASSERT_EQ(addCode(s.md, kUdta, kUdta, Code("name"), "e"), noErr);

    EXPECT_EQ(found(s.md, kMdta, kMdta, text("name"), 4), (std::vector<std::string>{"a", "d"}));
    EXPECT_EQ(found(s.md, kMdta, kMdta, text("name2"), 5), (std::vector<std::string>{"b"}));
    EXPECT_EQ(found(s.md, kMdta, kMdta, text("nam"), 3), (std::vector<std::string>{}));
    EXPECT_EQ(found(s.md, 0, kMdta, text("name"), 4), (std::vector<std::string>{"a", "d"}));
    EXPECT_EQ(found(s.md, 0, kItlk, text("name"), 4), (std::vector<std::string>{"c"}));
    EXPECT_EQ(found(s.md, kItms), (std::vector<std::string>{"c"}));

    // A key the storage format cannot hold, a bad format or a key without bytes is refused.
    QTMetaDataItem next = 0;
    EXPECT_EQ(QTMetaDataGetNextItem(s.md, kMdta, 0, kItlk, text("name"), 4, &next),
              kQTMetaDataInvalidKeyFormatErr);
    EXPECT_EQ(QTMetaDataGetNextItem(s.md, FOUR_CHAR_CODE("TEXT"), 0, 0, nullptr, 0, &next),
              kQTMetaDataInvalidStorageFormatErr);
    EXPECT_EQ(QTMetaDataGetNextItem(s.md, 0, 0, FOUR_CHAR_CODE("TEXT"), text("name"), 4, &next),
              kQTMetaDataInvalidKeyFormatErr);
    EXPECT_EQ(QTMetaDataGetNextItem(s.md, 0, 0, kMdta, nullptr, 4, &next), paramErr);
    EXPECT_EQ(QTMetaDataGetNextItem(s.md, 0, 0, kUdta, text("name"), 3, &next), paramErr);

    // Removal by key takes every match, in that format only; a key is required.
    EXPECT_EQ(QTMetaDataRemoveItemsWithKey(s.md, kMdta, kMdta, text("name"), 4), noErr);
    EXPECT_EQ(found(s.md, 0), (std::vector<std::string>{"b", "c", "e"}));
    EXPECT_EQ(QTMetaDataRemoveItemsWithKey(s.md, kMdta, kMdta, text("name"), 4), noErr)
        << "nothing left to remove";
    EXPECT_EQ(QTMetaDataRemoveItemsWithKey(s.md, kMdta, 0, nullptr, 0), paramErr);
    EXPECT_EQ(found(s.md, 0).size(), 3u);
}

TEST(MetaDataStore, CommonKeysFindTheFourCharacterKeysOfEveryFormat) {
    Store s;
    const Code auth("auth"), cprt("cprt");
    ASSERT_EQ(addCode(s.md, kUdta, kUdta, auth, "udta auth"), noErr);
    ASSERT_EQ(addCode(s.md, kItms, kItsk, auth, "itsk auth"), noErr);
    ASSERT_EQ(addText(s.md, kMdta, kMdta, "auth", "mdta auth"), noErr);
    ASSERT_EQ(addCode(s.md, kUdta, kUdta, cprt, "udta cprt"), noErr);
    ASSERT_EQ(addCode(s.md, kItms, kComn, cprt, "comn cprt"), noErr);

    EXPECT_EQ(found(s.md, 0, kComn, auth.bytes(), 4), (std::vector<std::string>{"udta auth", "itsk auth"}));
    EXPECT_EQ(found(s.md, kItms, kComn, cprt.bytes(), 4), (std::vector<std::string>{"comn cprt"}));
    EXPECT_EQ(found(s.md, 0, kItsk, cprt.bytes(), 4), (std::vector<std::string>{"comn cprt"}))
        << "an item added by its common key is kept with the native key";
    QTMetaDataItem next = 0;
    EXPECT_EQ(QTMetaDataGetNextItem(s.md, kMdta, 0, kComn, auth.bytes(), 4, &next),
              kQTMetaDataInvalidKeyFormatErr);

    EXPECT_EQ(QTMetaDataRemoveItemsWithKey(s.md, 0, kComn, auth.bytes(), 4), noErr);
    EXPECT_EQ(found(s.md, 0), (std::vector<std::string>{"mdta auth", "udta cprt", "comn cprt"}));
}

TEST(MetaDataStore, ItemPropertiesAndTheLocale) {
    Store s;
    QTMetaDataItem item = 0;
    const UInt8 value[] = {0x00, 0x2A};
    ASSERT_EQ(QTMetaDataAddItem(s.md, kItms, kItlk, text("rating"), 6, value, 2,
                                kQTMetaDataTypeSignedIntegerBE, &item),
              noErr);
    EXPECT_EQ(itemProperty32(s.md, item, kQTMetaDataItemPropertyID_KeyFormat), kItlk);
    EXPECT_EQ(itemProperty32(s.md, item, kQTMetaDataItemPropertyID_StorageFormat), kItms);
    EXPECT_EQ(itemProperty32(s.md, item, kQTMetaDataItemPropertyID_DataType), kQTMetaDataTypeSignedIntegerBE);
    EXPECT_EQ(itemProperty(s.md, item, kQTMetaDataItemPropertyID_Key), "rating");
    EXPECT_EQ(itemProperty(s.md, item, kQTMetaDataItemPropertyID_Locale), "") << "no locale yet";

    // The locale is kept as a text with its terminator, whatever the bytes given.
    struct Case {
        std::string given;
        std::string kept;
    };
    const Case cases[] = {
        {std::string("en_US\0", 6), std::string("en_US\0", 6)},
        {"fr", std::string("fr\0", 3)},
        {std::string("de\0junk", 7), std::string("de\0", 3)},
        {std::string("\0x", 2), ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.given);
        EXPECT_EQ(QTMetaDataSetItemProperty(s.md, item, kMdit, kQTMetaDataItemPropertyID_Locale,
                                            ByteCount(c.given.size()), c.given.data()),
                  noErr);
        EXPECT_EQ(itemProperty(s.md, item, kQTMetaDataItemPropertyID_Locale), c.kept);
    }
    UInt32 flags = 0;
    OSType type = 0;
    ASSERT_EQ(QTMetaDataGetItemPropertyInfo(s.md, item, kMdit, kQTMetaDataItemPropertyID_Locale, &type,
                                            nullptr, &flags),
              noErr);
    EXPECT_TRUE(flags & kComponentPropertyFlagCanSetNow);

    // Everything else is read only; unknown properties and short buffers are refused.
    const uint32_t udta = kUdta;
    for (OSType id : {kQTMetaDataItemPropertyID_KeyFormat, kQTMetaDataItemPropertyID_Key,
                      kQTMetaDataItemPropertyID_DataType, kQTMetaDataItemPropertyID_StorageFormat}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(QTMetaDataSetItemProperty(s.md, item, kMdit, id, 4, &udta), kQTPropertyReadOnlyErr);
    }
    EXPECT_EQ(itemProperty32(s.md, item, kQTMetaDataItemPropertyID_StorageFormat), kItms);
    char buffer[8] = {};
    ByteCount used = 99;
    EXPECT_EQ(QTMetaDataGetItemProperty(s.md, item, kMdit, kQTMetaDataItemPropertyID_Key, 5, buffer, &used),
              kQTPropertyBadValueSizeErr);
    EXPECT_EQ(used, 0u);
    EXPECT_EQ(QTMetaDataGetItemProperty(s.md, item, kMdit, kQTMetaDataItemPropertyID_Key, 8, nullptr, &used),
              paramErr);
    EXPECT_EQ(QTMetaDataGetItemProperty(s.md, item, kMdit, FOUR_CHAR_CODE("what"), 8, buffer, &used),
              kQTPropertyNotSupportedErr);
    EXPECT_EQ(QTMetaDataGetItemProperty(s.md, item, kPropertyClass_MetaData, kQTMetaDataItemPropertyID_Key, 8,
                                        buffer, &used),
              kQTPropertyNotSupportedErr);
    EXPECT_EQ(QTMetaDataSetItemProperty(s.md, item, kMdit, kQTMetaDataItemPropertyID_Locale, 3, nullptr),
              paramErr);
    EXPECT_EQ(
        QTMetaDataGetItemProperty(s.md, item + 1, kMdit, kQTMetaDataItemPropertyID_Key, 8, buffer, &used),
        kQTMetaDataInvalidItemErr);
}

TEST(MetaDataStore, ValuesAreReadWholeAndReplacedWithTheirType) {
    Store s;
    QTMetaDataItem item = 0;
    ASSERT_EQ(addText(s.md, kMdta, kMdta, "k", "hello", &item), noErr);
    ByteCount size = 0;
    ASSERT_EQ(QTMetaDataGetItemValue(s.md, item, nullptr, 0, &size), noErr);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(QTMetaDataGetItemValue(s.md, item, nullptr, 0, nullptr), paramErr);
    UInt8 small[4] = {};
    EXPECT_EQ(QTMetaDataGetItemValue(s.md, item, small, 4, &size), kQTPropertyBadValueSizeErr);
    EXPECT_EQ(size, 0u);

    const UInt8 number[] = {0x40, 0x09, 0x21, 0xFB, 0x54, 0x44, 0x2D, 0x18};
    ASSERT_EQ(QTMetaDataSetItem(s.md, item, number, 8, kQTMetaDataTypeFloat64BE), noErr);
    EXPECT_EQ(valueOf(s.md, item), std::string(reinterpret_cast<const char*>(number), 8));
    EXPECT_EQ(itemProperty32(s.md, item, kQTMetaDataItemPropertyID_DataType), kQTMetaDataTypeFloat64BE);
    ASSERT_EQ(QTMetaDataSetItem(s.md, item, nullptr, 0, kQTMetaDataTypeBinary), noErr);
    EXPECT_EQ(valueOf(s.md, item), "");
}

TEST(MetaDataStore, StorePropertiesTellTheOwnerAndTheFormatsInUse) {
    Store s;
    auto formats = [&] {
        ByteCount size = 99;
        EXPECT_EQ(QTMetaDataGetPropertyInfo(s.md, kPropertyClass_MetaData,
                                            kQTMetaDataPropertyID_StorageFormats, nullptr, &size, nullptr),
                  noErr);
        std::vector<OSType> out(size / 4 + 1);
        ByteCount used = 0;
        EXPECT_EQ(QTMetaDataGetProperty(s.md, kPropertyClass_MetaData, kQTMetaDataPropertyID_StorageFormats,
                                        ByteCount(out.size() * 4), out.data(), &used),
                  noErr);
        EXPECT_EQ(used, size);
        out.resize(used / 4);
        return out;
    };
    EXPECT_EQ(formats(), std::vector<OSType>{});
    QTMetaDataItem u = 0;
    ASSERT_EQ(addCode(s.md, kUdta, kUdta, Code("name"), "x", &u), noErr);
    ASSERT_EQ(addText(s.md, kMdta, kMdta, "name", "y"), noErr);
    EXPECT_EQ(formats(), (std::vector<OSType>{kMdta, kUdta}));
    ASSERT_EQ(QTMetaDataRemoveItem(s.md, u), noErr);
    EXPECT_EQ(formats(), (std::vector<OSType>{kMdta}));

    OSType owner = 0;
    ByteCount size = 0;
    EXPECT_EQ(QTMetaDataGetPropertyInfo(s.md, kPropertyClass_MetaData, kQTMetaDataPropertyID_OwnerType,
                                        nullptr, &size, nullptr),
              noErr);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(QTMetaDataGetProperty(s.md, kPropertyClass_MetaData, kQTMetaDataPropertyID_OwnerType, 4, &owner,
                                    nullptr),
              noErr);
    EXPECT_EQ(owner, FOUR_CHAR_CODE("moov"));
    EXPECT_EQ(QTMetaDataGetProperty(s.md, kPropertyClass_MetaData, kQTMetaDataPropertyID_OwnerType, 3, &owner,
                                    nullptr),
              kQTPropertyBadValueSizeErr);
    EXPECT_EQ(
        QTMetaDataGetPropertyInfo(s.md, kMdit, kQTMetaDataPropertyID_OwnerType, nullptr, &size, nullptr),
        kQTPropertyNotSupportedErr);
    EXPECT_EQ(QTMetaDataGetPropertyInfo(s.md, kPropertyClass_MetaData, FOUR_CHAR_CODE("what"), nullptr, &size,
                                        nullptr),
              kQTPropertyNotSupportedErr);
}

TEST(MetaDataStore, ThreadsShareAStoreAndItsCounts) {
    Store s;
    constexpr int kThreads = 4, kItems = 200;
    std::vector<std::vector<QTMetaDataItem>> ids(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kItems; ++i) {
                QTMetaDataRef held = QTMetaDataRetain(s.md);
                QTMetaDataItem item = 0;
                if (addText(held, kMdta, kMdta, "k", "v", &item) == noErr) ids[t].push_back(item);
                QTMetaDataItem first = 0;
                QTMetaDataGetNextItem(held, 0, 0, 0, nullptr, 0, &first);
                QTMetaDataRelease(held);
            }
        });
    for (std::thread& t : threads)
        t.join();
    std::set<QTMetaDataItem> all;
    for (const auto& v : ids)
        all.insert(v.begin(), v.end());
    EXPECT_EQ(all.size(), size_t(kThreads * kItems));
    EXPECT_EQ(all.count(0), 0u);
    EXPECT_EQ(found(s.md, 0).size(), size_t(kThreads * kItems));
}
