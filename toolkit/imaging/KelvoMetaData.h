// Metadata of movies, tracks and media: keys, typed values, the items that pair them, and the
// list over a platform metadata store that counts, lists, finds, adds, changes and removes items.
//
// Keys come in five formats: 'mdta' and 'itlk' keys are texts (their bytes without a
// terminator); 'comn', 'itsk' and 'udta' keys are four-character codes (4 bytes, the 32-bit value
// in host byte order). 'itlk' and 'itsk' keys belong to 'itms' storage, 'mdta' keys to 'mdta'
// storage, 'udta' keys to 'udta' storage; a common key ('comn') belongs to none in particular and
// finds items of every format.
//
// A value is a well-known data type with its bytes. Numbers are held big-endian, as the
// platform's number types are, and converted by numberValue(); UTF-16 text is held big-endian
// too. Setting a number format gives a value of that width holding zero, so a number can be
// stored right after its format is chosen. Every value keeps a zero byte after its data, so its
// text never runs past its bytes.
#pragma once

#include "KelvoAtomicsLists.h"
#include "KelvoCoreObjects.h"
#include "KelvoCoreObjectsTypes.h"
#include "PlatformMetaData.h"
#include "PlatformObjects.h"

class Kelvo_QDGWorldBuffer;

// Statuses of the metadata classes.
constexpr int32_t kKelvoMetaDataItemExists = -2174; // an item already stored, or one not stored
constexpr int32_t kKelvoMetaDataNoStorageFormat = -2175;
constexpr int32_t kKelvoMetaDataNoKey = -2176; // an unknown key format, or an item without key

class Kelvo_MetaDataKey : public Kelvo_QTObj {
  public:
    // Empty, format 'mdta'.
    Kelvo_MetaDataKey();
    // The format, then the key read as rawValue(key).
    Kelvo_MetaDataKey(uint32_t format, const unsigned char* key);
    Kelvo_MetaDataKey(const Kelvo_MetaDataKey& other);
    // The key of the stored item; null `md` or item 0: -50.
    Kelvo_MetaDataKey(QTMetaDataRef md, uint64_t item);
    Kelvo_MetaDataKey& operator=(const Kelvo_MetaDataKey& other);

    // Virtual operations in slot order: those of Kelvo_QTObj, then reset.
    ~Kelvo_MetaDataKey() override;
    const char* qtObjName() const override { return "Kelvo_MetaDataKey"; }
    bool qtObjIsValid() override { return _format != 0 && _key != nullptr; }
    bool qtObjIsValid() const override { return _format != 0 && _key != nullptr; }
    Kelvo_QTObj* clone() override;
    // Drops the key bytes; format 0.
    virtual void reset();

    // Equal formats and sizes, and: equal codes for 'itsk' and 'udta'; nothing further for
    // 'comn'; equal texts for 'itlk' and 'mdta'. Keys of any other format are never equal.
    bool operator==(const Kelvo_MetaDataKey& other) const;
    bool operator!=(const Kelvo_MetaDataKey& other) const { return !(*this == other); }

    const unsigned char* rawValue() const { return _key; }
    // Four-character formats take 4 bytes of `key`, text formats its text up to the terminator;
    // a null key drops the bytes; with format 0 nothing happens; any other format drops the
    // bytes and gives -2176.
    void rawValue(const unsigned char* key);
    uint32_t size() const { return _size; }
    // A copy of the bytes (none for null bytes or size 0).
    void setKey(const void* bytes, uint32_t size);

    uint32_t format() const { return _format; }
    // Another format must be one of the five (else -2176 and nothing changes); the key bytes go.
    void format(uint32_t f);

    bool isOSTypeKey() const;
    bool isStringKey() const;
    // The code of an 'itsk' or 'udta' key with its 4 bytes, else 0.
    uint32_t ostypeValue() const;
    // A four-character key of the code; a text key of the code's characters up to its first
    // zero byte.
    void ostypeValue(uint32_t v);
    // A new NUL-terminated copy of a text key's bytes (the caller deletes it as an array); null
    // for any other key or none.
    char* stringValue() const;
    void stringValue(const char* s) { rawValue(reinterpret_cast<const unsigned char*>(s)); }

    // The storage format the key belongs to: 'itms', 'mdta', 'udta', or 0 for any.
    uint32_t requiredStorageFormat() const;

  private:
    void dropKey();

    unsigned char* _key = nullptr;
    uint32_t _size = 0;
    uint32_t _format = kQTMetaDataKeyFormatMdta;
};

class Kelvo_MetaDataValue : public Kelvo_QTObj {
  public:
    static constexpr int32_t kNoType = -1;

    // Binary, no data.
    Kelvo_MetaDataValue();
    // The type, and a copy of the data when `other` is valid.
    Kelvo_MetaDataValue(const Kelvo_MetaDataValue& other);
    // The value of the stored item; null `md` or item 0: -50.
    Kelvo_MetaDataValue(QTMetaDataRef md, uint64_t item);
    Kelvo_MetaDataValue& operator=(const Kelvo_MetaDataValue& other);

    // Virtual operations in slot order: those of Kelvo_QTObj, then reset.
    ~Kelvo_MetaDataValue() override;
    const char* qtObjName() const override { return "Kelvo_MetaDataValue"; }
    bool qtObjIsValid() override { return _type != kNoType; }
    bool qtObjIsValid() const override { return _type != kNoType; }
    Kelvo_QTObj* clone() override;
    // Drops the data; no type.
    virtual void reset();

    int32_t dataType() const { return _type; }
    const unsigned char* data() const { return _data; }
    uint32_t size() const { return _size; }
    // A copy of the bytes (none for null data or size 0).
    void setValue(const void* data, uint32_t size);

    // The value's format code: 0 binary, 1 UTF-8 (and platform text), 2 UTF-16, 3 / 4 / 5
    // unsigned 8 / 16 / 32 bits, 6 / 7 signed 16 / 32 bits, 8 / 9 32- / 64-bit floats, 12 GIF,
    // 13 JPEG, 14 PNG, 27 BMP; -1 for any other type or a number of another width.
    int32_t format() const;
    // The code for number types, else -1.
    int32_t numberFormat() const;
    // Another code sets its data type and drops the data; number codes then hold zero of their
    // width. An unknown code: -50 and no type.
    void format(uint32_t code);

    bool isDataNumber() const;
    bool isDataImage() const;
    bool isDataBinary() const;
    bool isDataString() const;

    // The data of a binary value.
    void binaryValue(const void* data, uint32_t size);
    // The text of a UTF-8 or platform text value, else an empty text.
    const char* utf8Value() const;
    // A UTF-8 or platform text value holds `s` with its terminator.
    void utf8Value(const char* s);
    // A UTF-16 value holds the host-order 16-bit units big-endian.
    void utf16Value(const void* data, uint32_t size);

    // The number held (0.0 for anything else).
    double numberValue() const;
    // Integers take `v` without its fraction, at their width and saturated to their range (NaN is
    // refused with -50); floats take it at their precision.
    void numberValue(double v);

    // A new 32-bit buffer (the caller owns it) of the decoded image; null when the value holds no
    // image.
    Kelvo_QDGWorldBuffer* imageValue();
    // Encodes `b` as the value's image type.
    void imageValue(Kelvo_QDGWorldBuffer* b);

  private:
    void dropData();
    // `size` zero bytes (and the zero after them); false when memory runs out.
    bool allocate(uint32_t size);

    int32_t _type = kQTMetaDataTypeBinary;
    unsigned char* _data = nullptr;
    uint32_t _size = 0;
};

class Kelvo_MetaDataItem : public Kelvo_QTObj {
  public:
    // Not stored, storage 'mdta', no key, value or region code.
    Kelvo_MetaDataItem();
    Kelvo_MetaDataItem(const Kelvo_MetaDataItem& other);
    // The stored item: key, value, storage format and region code; null `md` or item 0: -50.
    Kelvo_MetaDataItem(QTMetaDataRef md, uint64_t item);
    Kelvo_MetaDataItem& operator=(const Kelvo_MetaDataItem&) = delete;

    // Virtual operations in slot order: those of Kelvo_QTObj, then reset.
    ~Kelvo_MetaDataItem() override;
    const char* qtObjName() const override { return "Kelvo_MetaDataItem"; }
    bool qtObjIsValid() override { return _storage != 0 && _value != nullptr; }
    bool qtObjIsValid() const override { return _storage != 0 && _value != nullptr; }
    Kelvo_QTObj* clone() override;
    // No key, value or region code; storage format 0.
    virtual void reset();

    uint64_t id() const { return _id; }
    bool exists() const { return _id != 0; }
    uint32_t typeOfStorage() const { return _storage; }

    Kelvo_MetaDataKey* key() const { return _key; }
    // Keeps a copy of a valid key and takes its storage format; an invalid key leaves none.
    void key(Kelvo_MetaDataKey* k);
    Kelvo_MetaDataValue* value() const { return _value; }
    // Keeps a copy of a valid value; an invalid one leaves none.
    void value(Kelvo_MetaDataValue* v);
    // The locale text; an empty text when there is none.
    const char* regionCode() const { return _region ? _region : ""; }
    void regionCode(const char* text);

  private:
    uint64_t _id = 0;
    uint32_t _storage = kQTMetaDataStorageFormatMdta;
    char* _region = nullptr;
    Kelvo_MetaDataKey* _key = nullptr;
    Kelvo_MetaDataValue* _value = nullptr;
};

class Kelvo_MetaDataList : public Kelvo_QTObj {
  public:
    // The owner's store; status = the platform's result.
    explicit Kelvo_MetaDataList(Movie movie);
    explicit Kelvo_MetaDataList(Track track);
    explicit Kelvo_MetaDataList(Media media);
    // Shares (retains) the store; a null reference gives -50, a released one the platform's
    // kQTMetaDataInvalidMetaDataErr.
    explicit Kelvo_MetaDataList(QTMetaDataRef md);
    // Shares the other's store when the other is valid.
    Kelvo_MetaDataList(const Kelvo_MetaDataList& other);
    Kelvo_MetaDataList& operator=(const Kelvo_MetaDataList& other) {
        copy(const_cast<Kelvo_MetaDataList&>(other));
        return *this;
    }

    // Virtual operations in slot order: those of Kelvo_QTObj, then reset.
    ~Kelvo_MetaDataList() override;
    const char* qtObjName() const override { return "Kelvo_MetaDataList"; }
    bool qtObjIsValid() override { return _md != nullptr; }
    bool qtObjIsValid() const override { return _md != nullptr; }
    void* qtObjReference() override { return _md; }
    void defaultStatus() override { reset(); }
    // Shares the store of another list: another class gives -50, an invalid list 9.
    void copy(Kelvo_QTObj& other) override;
    Kelvo_QTObj* clone() override;
    // Releases the store.
    virtual void reset();

    // The size of a store property (class 'meta'), 0 on error.
    uint32_t propSize(uint32_t property);
    // The storage format a type names: 0 (any) for null, 'itms', 'mdta' and 'udta' as they are,
    // 'NONE' with -2175 for any other.
    uint32_t ostypeToStorageFormat(Kelvo_OSType* t, int32_t& err);

    // The number of items of the storage format (null: every format).
    uint32_t count(Kelvo_OSType* t);
    // A new list (the caller owns it) of the storage formats that hold items; null when none do.
    Kelvo_QTObjectsList* storageFormats();
    // A new type (the caller owns it) of the store's owner.
    Kelvo_OSType* ownerType();
    // A new list (the caller owns it) of new items: those of the storage format, or those with
    // the key, in the store's order.
    Kelvo_QTObjectsList* items(Kelvo_OSType* t);
    Kelvo_QTObjectsList* itemsForKey(Kelvo_MetaDataKey* k);

    // Stores the item's value in its stored item.
    void itemValue(Kelvo_MetaDataItem* i);
    // Stores a new item with the item's key, value and region code; returns the stored item as
    // read back (the caller owns it), or null when the list or item cannot be used.
    Kelvo_MetaDataItem* addItem(Kelvo_MetaDataItem* i);
    // Removes the first item with the key; false when there is none.
    bool removeItem(Kelvo_MetaDataKey* k);
    // Removes every item with the key.
    void removeAllItems(Kelvo_MetaDataKey* k);
    // Removes every item of the storage format (null: every format).
    void clear(Kelvo_OSType* t);

  private:
    // The next item after `current` of the storage format with the key (null: any); 0 at the end.
    uint64_t nextItem(uint32_t storage, uint64_t current, const Kelvo_MetaDataKey* k, OSStatus& err);
    Kelvo_QTObjectsList* collect(uint32_t storage, const Kelvo_MetaDataKey* k);

    QTMetaDataRef _md = nullptr;
};
