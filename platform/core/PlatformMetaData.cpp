#include "PlatformMetaData.h"

#include "PlatformProperties.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr OSType kValueTypeOSType = FOUR_CHAR_CODE("ostp");
constexpr OSType kValueTypeUInt32 = FOUR_CHAR_CODE("ui32");
constexpr OSType kValueTypeRaw = FOUR_CHAR_CODE("raw ");
constexpr OSType kValueTypeCString = FOUR_CHAR_CODE("cstr");

constexpr uint32_t kReadOnly = kComponentPropertyFlagCanGetNow | kComponentPropertyFlagCanGetLater;
constexpr uint32_t kReadWrite =
    kReadOnly | kComponentPropertyFlagCanSetNow | kComponentPropertyFlagCanSetLater;

constexpr QTMetaDataStorageFormat kStorageFormats[] = {
    kQTMetaDataStorageFormatMdta, kQTMetaDataStorageFormatItms, kQTMetaDataStorageFormatUdta};

struct Item {
    QTMetaDataItem id = 0;
    QTMetaDataStorageFormat storage = 0;
    QTMetaDataKeyFormat keyFormat = 0;
    Bytes key;
    uint32_t dataType = 0;
    Bytes value;
    Bytes locale; // the text and its terminator, or nothing
};

struct Store {
    OSType owner = 0;
    uint32_t count = 1;
    QTMetaDataItem lastId = 0;
    std::vector<Item> items; // in the order they were added
};

// References are tokens, not addresses: a token is never handed out twice, so one whose store
// has gone can never name a later store. One lock guards the registry and every store.
struct Registry {
    std::mutex mutex;
    std::unordered_map<uintptr_t, std::unique_ptr<Store>> live;
    uintptr_t lastToken = 0;
};

Registry& registry() {
    static Registry* r = new Registry(); // lives as long as the process
    return *r;
}

// The store when the registry knows it; the caller holds the lock.
Store* find(QTMetaDataRef md) {
    if (!md) return nullptr;
    auto it = registry().live.find(reinterpret_cast<uintptr_t>(md));
    return it == registry().live.end() ? nullptr : it->second.get();
}

Item* findItem(Store& s, QTMetaDataItem id) {
    if (id == 0) return nullptr;
    for (Item& i : s.items)
        if (i.id == id) return &i;
    return nullptr;
}

bool isStorageFormat(OSType f) {
    for (OSType s : kStorageFormats)
        if (s == f) return true;
    return false;
}

bool isFourCharKey(OSType f) {
    return f == kQTMetaDataKeyFormatItsk || f == kQTMetaDataKeyFormatUdta || f == kQTMetaDataKeyFormatCommon;
}

bool isStringKey(OSType f) {
    return f == kQTMetaDataKeyFormatMdta || f == kQTMetaDataKeyFormatItlk;
}

bool isKnownDataType(uint32_t t) {
    switch (t) {
    case kQTMetaDataTypeBinary:
    case kQTMetaDataTypeUTF8:
    case kQTMetaDataTypeUTF16BE:
    case kQTMetaDataTypePlatformText:
    case kQTMetaDataTypeGIF:
    case kQTMetaDataTypeJPEGImage:
    case kQTMetaDataTypePNGImage:
    case kQTMetaDataTypeSignedIntegerBE:
    case kQTMetaDataTypeUnsignedIntegerBE:
    case kQTMetaDataTypeFloat32BE:
    case kQTMetaDataTypeFloat64BE:
    case kQTMetaDataTypeBMPImage:
        return true;
    default:
        return false;
    }
}

// The key format an item of the storage format keeps for a key of `keyFormat` (a common key
// becomes the format's own four-character key), or 0 when the format does not take it.
OSType nativeKeyFormat(QTMetaDataStorageFormat storage, QTMetaDataKeyFormat keyFormat) {
    switch (storage) {
    case kQTMetaDataStorageFormatMdta:
        return keyFormat == kQTMetaDataKeyFormatMdta ? keyFormat : 0;
    case kQTMetaDataStorageFormatItms:
        if (keyFormat == kQTMetaDataKeyFormatCommon) return kQTMetaDataKeyFormatItsk;
        return keyFormat == kQTMetaDataKeyFormatItsk || keyFormat == kQTMetaDataKeyFormatItlk ? keyFormat : 0;
    case kQTMetaDataStorageFormatUdta:
        if (keyFormat == kQTMetaDataKeyFormatCommon) return kQTMetaDataKeyFormatUdta;
        return keyFormat == kQTMetaDataKeyFormatUdta ? keyFormat : 0;
    default:
        return 0;
    }
}

// A key as a caller gives it, checked for its form: noErr, or why it is refused. Format 0 is
// no key, when `wildcard` allows it.
OSStatus checkKey(QTMetaDataKeyFormat format, const UInt8* key, ByteCount size, bool wildcard) {
    if (format == kQTMetaDataKeyFormatWildcard) return wildcard ? noErr : paramErr;
    if (!isFourCharKey(format) && !isStringKey(format)) return kQTMetaDataInvalidKeyFormatErr;
    if (!key || size == 0) return paramErr;
    if (isFourCharKey(format) && size != 4) return paramErr;
    return noErr;
}

bool keyMatches(const Item& item, QTMetaDataKeyFormat format, const UInt8* key, ByteCount size) {
    if (format == kQTMetaDataKeyFormatWildcard) return true;
    if (nativeKeyFormat(item.storage, format) != item.keyFormat) return false;
    return item.key.size() == size && std::memcmp(item.key.data(), key, size) == 0;
}

// Whether a search of the storage format by this key is meaningful, as an error when not.
OSStatus checkSearch(QTMetaDataStorageFormat storage, QTMetaDataKeyFormat format, const UInt8* key,
                     ByteCount size, bool wildcardKey) {
    if (storage != kQTMetaDataStorageFormatWildcard && !isStorageFormat(storage))
        return kQTMetaDataInvalidStorageFormatErr;
    if (OSStatus err = checkKey(format, key, size, wildcardKey)) return err;
    if (storage != kQTMetaDataStorageFormatWildcard && format != kQTMetaDataKeyFormatWildcard &&
        !nativeKeyFormat(storage, format))
        return kQTMetaDataInvalidKeyFormatErr;
    return noErr;
}

bool inStorage(const Item& item, QTMetaDataStorageFormat storage) {
    return storage == kQTMetaDataStorageFormatWildcard || item.storage == storage;
}

Bytes bytesOf(const UInt8* p, ByteCount size) {
    return size ? Bytes(p, p + size) : Bytes();
}

void putOSType(void* to, OSType v) {
    std::memcpy(to, &v, sizeof v);
}

// The storage formats that hold items, in their fixed order.
std::vector<OSType> formatsPresent(const Store& s) {
    std::vector<OSType> out;
    for (OSType f : kStorageFormats)
        for (const Item& i : s.items)
            if (i.storage == f) {
                out.push_back(f);
                break;
            }
    return out;
}

// A property as the calls hand it out: its value type, flags and bytes.
struct PropertyValue {
    OSType type = 0;
    uint32_t flags = 0;
    Bytes bytes;
};

OSStatus storeProperty(const Store& s, QTPropertyClass cls, QTPropertyID id, PropertyValue& out) {
    if (cls != kPropertyClass_MetaData) return kQTPropertyNotSupportedErr;
    out.type = kValueTypeOSType;
    out.flags = kReadOnly;
    if (id == kQTMetaDataPropertyID_OwnerType) {
        out.bytes.resize(4);
        putOSType(out.bytes.data(), s.owner);
        return noErr;
    }
    if (id == kQTMetaDataPropertyID_StorageFormats) {
        std::vector<OSType> formats = formatsPresent(s);
        out.bytes.resize(formats.size() * 4);
        for (size_t i = 0; i < formats.size(); ++i)
            putOSType(out.bytes.data() + 4 * i, formats[i]);
        return noErr;
    }
    return kQTPropertyNotSupportedErr;
}

OSStatus itemProperty(const Item& item, QTPropertyClass cls, QTPropertyID id, PropertyValue& out) {
    if (cls != kPropertyClass_MetaDataItem) return kQTPropertyNotSupportedErr;
    out.flags = kReadOnly;
    switch (id) {
    case kQTMetaDataItemPropertyID_KeyFormat:
    case kQTMetaDataItemPropertyID_StorageFormat:
        out.type = kValueTypeOSType;
        out.bytes.resize(4);
        putOSType(out.bytes.data(),
                  id == kQTMetaDataItemPropertyID_KeyFormat ? item.keyFormat : item.storage);
        return noErr;
    case kQTMetaDataItemPropertyID_Key:
        out.type = kValueTypeRaw;
        out.bytes = item.key;
        return noErr;
    case kQTMetaDataItemPropertyID_DataType:
        out.type = kValueTypeUInt32;
        out.bytes.resize(4);
        std::memcpy(out.bytes.data(), &item.dataType, 4);
        return noErr;
    case kQTMetaDataItemPropertyID_Locale:
        out.type = kValueTypeCString;
        out.flags = kReadWrite;
        out.bytes = item.locale;
        return noErr;
    default:
        return kQTPropertyNotSupportedErr;
    }
}

void tellInfo(const PropertyValue& p, QTPropertyValueType* type, ByteCount* size, UInt32* flags) {
    if (type) *type = p.type;
    if (size) *size = ByteCount(p.bytes.size());
    if (flags) *flags = p.flags;
}

OSStatus copyOut(const PropertyValue& p, ByteCount size, void* value, ByteCount* sizeUsed) {
    if (size < p.bytes.size()) return kQTPropertyBadValueSizeErr;
    if (!p.bytes.empty()) std::memcpy(value, p.bytes.data(), p.bytes.size());
    if (sizeUsed) *sizeUsed = ByteCount(p.bytes.size());
    return noErr;
}

// Runs `body` on the store under the registry's lock: a reference that names no store is refused,
// and running out of memory is a status.
template <class F> OSStatus onStore(QTMetaDataRef md, F body) {
    try {
        Registry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        Store* s = find(md);
        if (!s) return kQTMetaDataInvalidMetaDataErr;
        return body(s);
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
}

// The same on one item of the store.
template <class F> OSStatus onItem(QTMetaDataRef md, QTMetaDataItem item, F body) {
    return onStore(md, [&](Store* s) -> OSStatus {
        Item* i = findItem(*s, item);
        if (!i) return kQTMetaDataInvalidItemErr;
        return body(s, i);
    });
}

} // namespace

QTMetaDataRef QTMetaDataRetain(QTMetaDataRef md) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    Store* s = find(md);
    if (!s || s->count == UINT32_MAX) return nullptr;
    ++s->count;
    return md;
}

void QTMetaDataRelease(QTMetaDataRef md) {
    std::unique_ptr<Store> gone;
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    Store* s = find(md);
    if (!s || --s->count > 0) return;
    auto it = r.live.find(reinterpret_cast<uintptr_t>(md));
    gone = std::move(it->second);
    r.live.erase(it);
}

OSStatus QTMetaDataGetPropertyInfo(QTMetaDataRef md, QTPropertyClass cls, QTPropertyID id,
                                   QTPropertyValueType* type, ByteCount* size, UInt32* flags) {
    tellInfo(PropertyValue(), type, size, flags);
    return onStore(md, [&](Store* s) -> OSStatus {
        PropertyValue p;
        if (OSStatus err = storeProperty(*s, cls, id, p)) return err;
        tellInfo(p, type, size, flags);
        return noErr;
    });
}

OSStatus QTMetaDataGetProperty(QTMetaDataRef md, QTPropertyClass cls, QTPropertyID id, ByteCount size,
                               QTPropertyValuePtr value, ByteCount* sizeUsed) {
    if (sizeUsed) *sizeUsed = 0;
    return onStore(md, [&](Store* s) -> OSStatus {
        if (!value) return paramErr;
        PropertyValue p;
        if (OSStatus err = storeProperty(*s, cls, id, p)) return err;
        return copyOut(p, size, value, sizeUsed);
    });
}

OSStatus QTMetaDataGetItemPropertyInfo(QTMetaDataRef md, QTMetaDataItem item, QTPropertyClass cls,
                                       QTPropertyID id, QTPropertyValueType* type, ByteCount* size,
                                       UInt32* flags) {
    tellInfo(PropertyValue(), type, size, flags);
    return onItem(md, item, [&](Store*, Item* i) -> OSStatus {
        PropertyValue p;
        if (OSStatus err = itemProperty(*i, cls, id, p)) return err;
        tellInfo(p, type, size, flags);
        return noErr;
    });
}

OSStatus QTMetaDataGetItemProperty(QTMetaDataRef md, QTMetaDataItem item, QTPropertyClass cls,
                                   QTPropertyID id, ByteCount size, QTPropertyValuePtr value,
                                   ByteCount* sizeUsed) {
    if (sizeUsed) *sizeUsed = 0;
    return onItem(md, item, [&](Store*, Item* i) -> OSStatus {
        if (!value) return paramErr;
        PropertyValue p;
        if (OSStatus err = itemProperty(*i, cls, id, p)) return err;
        return copyOut(p, size, value, sizeUsed);
    });
}

OSStatus QTMetaDataSetItemProperty(QTMetaDataRef md, QTMetaDataItem item, QTPropertyClass cls,
                                   QTPropertyID id, ByteCount size, ConstQTPropertyValuePtr value) {
    return onItem(md, item, [&](Store*, Item* i) -> OSStatus {
        PropertyValue p;
        if (OSStatus err = itemProperty(*i, cls, id, p)) return err;
        if (!(p.flags & kComponentPropertyFlagCanSetNow)) return kQTPropertyReadOnlyErr;
        if (!value && size > 0) return paramErr;
        // The locale: the text up to the first zero byte, kept with its terminator.
        const auto* text = static_cast<const UInt8*>(value);
        size_t length = 0;
        while (length < size && text[length] != 0)
            ++length;
        Bytes locale;
        if (length > 0) {
            locale.assign(text, text + length);
            locale.push_back(0);
        }
        i->locale = std::move(locale);
        return noErr;
    });
}

OSStatus QTMetaDataGetItemValue(QTMetaDataRef md, QTMetaDataItem item, UInt8* outValue, ByteCount size,
                                ByteCount* actualSize) {
    if (actualSize) *actualSize = 0;
    return onItem(md, item, [&](Store*, Item* i) -> OSStatus {
        if (!outValue) {
            if (!actualSize) return paramErr;
            *actualSize = ByteCount(i->value.size());
            return noErr;
        }
        if (size < i->value.size()) return kQTPropertyBadValueSizeErr;
        if (!i->value.empty()) std::memcpy(outValue, i->value.data(), i->value.size());
        if (actualSize) *actualSize = ByteCount(i->value.size());
        return noErr;
    });
}

OSStatus QTMetaDataSetItem(QTMetaDataRef md, QTMetaDataItem item, const UInt8* value, ByteCount size,
                           UInt32 dataType) {
    return onItem(md, item, [&](Store*, Item* i) -> OSStatus {
        if ((!value && size > 0) || !isKnownDataType(dataType)) return paramErr;
        i->value = bytesOf(value, size);
        i->dataType = dataType;
        return noErr;
    });
}

OSStatus QTMetaDataAddItem(QTMetaDataRef md, QTMetaDataStorageFormat storage, QTMetaDataKeyFormat keyFormat,
                           const UInt8* key, ByteCount keySize, const UInt8* value, ByteCount valueSize,
                           UInt32 dataType, QTMetaDataItem* outItem) {
    if (outItem) *outItem = kQTMetaDataItemUninitialized;
    return onStore(md, [&](Store* s) -> OSStatus {
        if (!isStorageFormat(storage)) return kQTMetaDataInvalidStorageFormatErr;
        if (OSStatus err = checkKey(keyFormat, key, keySize, false)) return err;
        OSType native = nativeKeyFormat(storage, keyFormat);
        if (!native) return kQTMetaDataInvalidKeyFormatErr;
        if ((!value && valueSize > 0) || !isKnownDataType(dataType)) return paramErr;
        if (s->lastId == UINT64_MAX) return memFullErr; // identifiers are never reused
        Item i;
        i.id = s->lastId + 1;
        i.storage = storage;
        i.keyFormat = native;
        i.key = bytesOf(key, keySize);
        i.dataType = dataType;
        i.value = bytesOf(value, valueSize);
        s->items.push_back(std::move(i));
        s->lastId = s->items.back().id;
        if (outItem) *outItem = s->lastId;
        return noErr;
    });
}

OSStatus QTMetaDataGetNextItem(QTMetaDataRef md, QTMetaDataStorageFormat storage, QTMetaDataItem current,
                               QTMetaDataKeyFormat keyFormat, const UInt8* key, ByteCount keySize,
                               QTMetaDataItem* outNext) {
    if (outNext) *outNext = kQTMetaDataItemUninitialized;
    return onStore(md, [&](Store* s) -> OSStatus {
        if (!outNext) return paramErr;
        if (OSStatus err = checkSearch(storage, keyFormat, key, keySize, true)) return err;
        size_t from = 0;
        if (current != kQTMetaDataItemUninitialized) {
            Item* at = findItem(*s, current);
            if (!at) return kQTMetaDataInvalidItemErr;
            from = size_t(at - s->items.data()) + 1;
        }
        for (size_t n = from; n < s->items.size(); ++n) {
            const Item& i = s->items[n];
            if (inStorage(i, storage) && keyMatches(i, keyFormat, key, keySize)) {
                *outNext = i.id;
                return noErr;
            }
        }
        return kQTMetaDataNoMoreItemsErr;
    });
}

OSStatus QTMetaDataRemoveItem(QTMetaDataRef md, QTMetaDataItem item) {
    return onItem(md, item, [&](Store* s, Item* i) -> OSStatus {
        s->items.erase(s->items.begin() + (i - s->items.data()));
        return noErr;
    });
}

OSStatus QTMetaDataRemoveItemsWithKey(QTMetaDataRef md, QTMetaDataStorageFormat storage,
                                      QTMetaDataKeyFormat keyFormat, const UInt8* key, ByteCount keySize) {
    return onStore(md, [&](Store* s) -> OSStatus {
        if (OSStatus err = checkSearch(storage, keyFormat, key, keySize, false)) return err;
        std::erase_if(s->items, [&](const Item& i) {
            return inStorage(i, storage) && keyMatches(i, keyFormat, key, keySize);
        });
        return noErr;
    });
}

namespace platform {

QTMetaDataRef newMetaData(OSType ownerType) {
    try {
        auto s = std::make_unique<Store>();
        s->owner = ownerType;
        Registry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        // Tokens look like aligned addresses, and no token is handed out twice.
        uintptr_t token = (r.lastToken += 16);
        r.live.emplace(token, std::move(s));
        return reinterpret_cast<QTMetaDataRef>(token);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

} // namespace platform
