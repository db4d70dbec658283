#include "PlatformProperties.h"

#include <cstring>
#include <map>
#include <tuple>
#include <vector>

namespace {

struct StoredProperty {
    OSType type = 0;
    uint32_t flags = 0;
    std::vector<uint8_t> value;
};

using Key = std::tuple<const void*, OSType, OSType>;

std::map<Key, StoredProperty>& store() {
    static std::map<Key, StoredProperty> properties;
    return properties;
}

StoredProperty* find(const void* object, OSType cls, OSType id) {
    auto it = store().find(Key{object, cls, id});
    return it == store().end() ? nullptr : &it->second;
}

OSStatus info(const void* object, OSType cls, OSType id, ComponentValueType* type, ByteCount* size,
              UInt32* flags) {
    if (type) *type = 0;
    if (size) *size = 0;
    if (flags) *flags = 0;
    if (!object) return paramErr;
    StoredProperty* p = find(object, cls, id);
    if (!p) return kQTPropertyNotSupportedErr;
    if (type) *type = p->type;
    if (size) *size = ByteCount(p->value.size());
    if (flags) *flags = p->flags;
    return noErr;
}

OSStatus get(const void* object, OSType cls, OSType id, ByteCount size, void* value, ByteCount* sizeUsed) {
    if (sizeUsed) *sizeUsed = 0;
    if (!object || !value) return paramErr;
    StoredProperty* p = find(object, cls, id);
    if (!p) return kQTPropertyNotSupportedErr;
    if (!(p->flags & kComponentPropertyFlagCanGetNow)) return kQTPropertyAskLaterErr;
    if (size < p->value.size()) return kQTPropertyBadValueSizeErr;
    if (!p->value.empty()) std::memcpy(value, p->value.data(), p->value.size());
    if (sizeUsed) *sizeUsed = ByteCount(p->value.size());
    return noErr;
}

OSStatus set(const void* object, OSType cls, OSType id, ByteCount size, const void* value) {
    if (!object || !value) return paramErr;
    StoredProperty* p = find(object, cls, id);
    if (!p) return kQTPropertyNotSupportedErr;
    if (!(p->flags & kComponentPropertyFlagCanSetNow)) return kQTPropertyReadOnlyErr;
    if (size != p->value.size()) return kQTPropertyBadValueSizeErr;
    std::memcpy(p->value.data(), value, size);
    return noErr;
}

} // namespace

namespace platform {

OSStatus setStoredProperty(const void* object, OSType propClass, OSType propID, OSType valueType,
                           uint32_t flags, const void* value, uint32_t size) {
    if (!object || (!value && size > 0)) return paramErr;
    StoredProperty p;
    p.type = valueType;
    p.flags = flags;
    if (size) p.value.assign(static_cast<const uint8_t*>(value), static_cast<const uint8_t*>(value) + size);
    store()[Key{object, propClass, propID}] = std::move(p);
    return noErr;
}

OSStatus storedPropertyInfo(const void* object, OSType cls, OSType id, OSType* type, uint32_t* size,
                            uint32_t* flags) {
    return info(object, cls, id, type, size, flags);
}

OSStatus storedPropertyGet(const void* object, OSType cls, OSType id, uint32_t size, void* value,
                           uint32_t* sizeUsed) {
    return get(object, cls, id, size, value, sizeUsed);
}

OSStatus storedPropertySet(const void* object, OSType cls, OSType id, uint32_t size, const void* value) {
    return set(object, cls, id, size, value);
}

void removeStoredProperties(const void* object) {
    auto& s = store();
    for (auto it = s.begin(); it != s.end();)
        it = std::get<0>(it->first) == object ? s.erase(it) : std::next(it);
}

} // namespace platform

// Each family over the store; 16-bit families hand the store's results back as OSErr.
#define PLATFORM_PROPERTY_FAMILY(Obj, Err, InfoName, GetName, SetName)                                       \
    Err InfoName(Obj o, ComponentPropertyClass c, ComponentPropertyID i, ComponentValueType* t,              \
                 ByteCount* s, UInt32* f) {                                                                  \
        return Err(info(o, c, i, t, s, f));                                                                  \
    }                                                                                                        \
    Err GetName(Obj o, ComponentPropertyClass c, ComponentPropertyID i, ByteCount s, ComponentValuePtr v,    \
                ByteCount* u) {                                                                              \
        return Err(get(o, c, i, s, v, u));                                                                   \
    }                                                                                                        \
    Err SetName(Obj o, ComponentPropertyClass c, ComponentPropertyID i, ByteCount s,                         \
                ConstComponentValuePtr v) {                                                                  \
        return Err(set(o, c, i, s, v));                                                                      \
    }

PLATFORM_PROPERTY_FAMILY(ComponentInstance, ComponentResult, QTGetComponentPropertyInfo,
                         QTGetComponentProperty, QTSetComponentProperty)
// The sound description family is the audio layer's (PlatformAudio.cpp): it answers from the
// description itself and from this store.
// The movie and track families are the movie layer's (PlatformMovieProperties.cpp), over this
// store.
PLATFORM_PROPERTY_FAMILY(QTSampleTableRef, OSStatus, QTSampleTableGetPropertyInfo, QTSampleTableGetProperty,
                         QTSampleTableSetProperty)

#undef PLATFORM_PROPERTY_FAMILY
