#include "PlatformCompressionOptions.h"

#include <cstring>
#include <mutex>
#include <new>
#include <set>

struct OpaqueICMCompressionSessionOptions {
    int32_t refs = 1;
    bool temporal = false;
    bool reordering = false;
    bool timeChanges = false;
    bool durations = false;
    int32_t maxKeyFrameInterval = 0;
};

struct OpaqueICMMultiPassStorage {
    int32_t refs = 1;
    std::FILE* file = nullptr;
};

namespace {

constexpr uint32_t kReadWrite = kComponentPropertyFlagCanGetNow | kComponentPropertyFlagCanGetLater |
                                kComponentPropertyFlagCanSetNow | kComponentPropertyFlagCanSetLater;

// Every live object of this file, so that a stale or foreign pointer is refused instead of
// being read.
struct Live {
    std::recursive_mutex mutex;
    std::set<const void*> objects;
};

Live& live() {
    static Live* l = new Live(); // lives as long as the process
    return *l;
}

bool alive(const void* p) {
    Live& l = live();
    std::lock_guard<std::recursive_mutex> lock(l.mutex);
    return p && l.objects.count(p) != 0;
}

ICMMultiPassStorageRef storageOf(ICMCompressionSessionOptionsRef options) {
    ICMMultiPassStorageRef storage = nullptr;
    uint32_t used = 0;
    platform::storedPropertyGet(options, kQTPropertyClass_ICMCompressionSessionOptions,
                                kICMCompressionSessionOptionsPropertyID_MultiPassStorage, sizeof storage,
                                &storage, &used);
    return storage;
}

} // namespace

OSStatus ICMCompressionSessionOptionsCreate(CFAllocatorRef, ICMCompressionSessionOptionsRef* options) {
    if (!options) return paramErr;
    *options = nullptr;
    auto* o = new (std::nothrow) OpaqueICMCompressionSessionOptions();
    if (!o) return memFullErr;
    const int32_t zero = 0;
    const uint32_t normal = 512;
    const Fixed noRate = 0;
    const ICMMultiPassStorageRef none = nullptr;
    const OSType cls = kQTPropertyClass_ICMCompressionSessionOptions;
    platform::setStoredProperty(o, cls, kICMCompressionSessionOptionsPropertyID_ExpectedFrameCount,
                                FOUR_CHAR_CODE("sl32"), kReadWrite, &zero, 4);
    platform::setStoredProperty(o, cls, kICMCompressionSessionOptionsPropertyID_Depth, FOUR_CHAR_CODE("sl32"),
                                kReadWrite, &zero, 4);
    platform::setStoredProperty(o, cls, kICMCompressionSessionOptionsPropertyID_Quality,
                                FOUR_CHAR_CODE("ul32"), kReadWrite, &normal, 4);
    platform::setStoredProperty(o, cls, kICMCompressionSessionOptionsPropertyID_AverageDataRate,
                                FOUR_CHAR_CODE("sl32"), kReadWrite, &zero, 4);
    platform::setStoredProperty(o, cls, kICMCompressionSessionOptionsPropertyID_ExpectedFrameRate,
                                FOUR_CHAR_CODE("fixd"), kReadWrite, &noRate, 4);
    platform::setStoredProperty(o, cls, kICMCompressionSessionOptionsPropertyID_MultiPassStorage,
                                FOUR_CHAR_CODE("imps"), kReadWrite, &none, sizeof none);
    Live& l = live();
    std::lock_guard<std::recursive_mutex> lock(l.mutex);
    l.objects.insert(o);
    *options = o;
    return noErr;
}

ICMCompressionSessionOptionsRef ICMCompressionSessionOptionsRetain(ICMCompressionSessionOptionsRef options) {
    Live& l = live();
    std::lock_guard<std::recursive_mutex> lock(l.mutex);
    if (!alive(options)) return nullptr;
    ++options->refs;
    return options;
}

void ICMCompressionSessionOptionsRelease(ICMCompressionSessionOptionsRef options) {
    Live& l = live();
    std::lock_guard<std::recursive_mutex> lock(l.mutex);
    if (!alive(options) || --options->refs > 0) return;
    ICMMultiPassStorageRelease(storageOf(options));
    platform::removeStoredProperties(options);
    l.objects.erase(options);
    delete options;
}

#define OPTIONS_SWITCH(Name, field)                                                                          \
    OSStatus ICMCompressionSessionOptionsSet##Name(ICMCompressionSessionOptionsRef options, Boolean value) { \
        if (!alive(options)) return paramErr;                                                                \
        options->field = value != 0;                                                                         \
        return noErr;                                                                                        \
    }                                                                                                        \
    Boolean ICMCompressionSessionOptionsGet##Name(ICMCompressionSessionOptionsRef options) {                 \
        return alive(options) && options->field;                                                             \
    }

OPTIONS_SWITCH(AllowTemporalCompression, temporal)
OPTIONS_SWITCH(AllowFrameReordering, reordering)
OPTIONS_SWITCH(AllowFrameTimeChanges, timeChanges)
OPTIONS_SWITCH(DurationsNeeded, durations)

#undef OPTIONS_SWITCH

OSStatus ICMCompressionSessionOptionsSetMaxKeyFrameInterval(ICMCompressionSessionOptionsRef options,
                                                            int32_t interval) {
    if (!alive(options) || interval < 0) return paramErr;
    options->maxKeyFrameInterval = interval;
    return noErr;
}

int32_t ICMCompressionSessionOptionsGetMaxKeyFrameInterval(ICMCompressionSessionOptionsRef options) {
    return alive(options) ? options->maxKeyFrameInterval : 0;
}

OSStatus ICMCompressionSessionOptionsGetPropertyInfo(ICMCompressionSessionOptionsRef options,
                                                     ComponentPropertyClass cls, ComponentPropertyID id,
                                                     ComponentValueType* type, ByteCount* size,
                                                     UInt32* flags) {
    if (!alive(options)) {
        if (type) *type = 0;
        if (size) *size = 0;
        if (flags) *flags = 0;
        return paramErr;
    }
    return platform::storedPropertyInfo(options, cls, id, type, size, flags);
}

OSStatus ICMCompressionSessionOptionsGetProperty(ICMCompressionSessionOptionsRef options,
                                                 ComponentPropertyClass cls, ComponentPropertyID id,
                                                 ByteCount size, ComponentValuePtr value,
                                                 ByteCount* sizeUsed) {
    if (!alive(options)) {
        if (sizeUsed) *sizeUsed = 0;
        return paramErr;
    }
    return platform::storedPropertyGet(options, cls, id, size, value, sizeUsed);
}

OSStatus ICMCompressionSessionOptionsSetProperty(ICMCompressionSessionOptionsRef options,
                                                 ComponentPropertyClass cls, ComponentPropertyID id,
                                                 ByteCount size, ConstComponentValuePtr value) {
    if (!alive(options) || !value) return paramErr;
    if (cls == kQTPropertyClass_ICMCompressionSessionOptions &&
        id == kICMCompressionSessionOptionsPropertyID_MultiPassStorage) {
        // The options hold their own reference to the storage they are given.
        if (size != sizeof(ICMMultiPassStorageRef)) return kQTPropertyBadValueSizeErr;
        ICMMultiPassStorageRef next = nullptr;
        std::memcpy(&next, value, sizeof next);
        if (next && !alive(next)) return paramErr;
        ICMMultiPassStorageRef previous = storageOf(options);
        OSStatus err = platform::storedPropertySet(options, cls, id, size, value);
        if (err) return err;
        ICMMultiPassStorageRetain(next);
        ICMMultiPassStorageRelease(previous);
        return noErr;
    }
    return platform::storedPropertySet(options, cls, id, size, value);
}

OSStatus ICMMultiPassStorageCreateWithTemporaryFile(CFAllocatorRef, const FSRef*, CFStringRef,
                                                    ICMMultiPassStorageCreationFlags,
                                                    ICMMultiPassStorageRef* storage) {
    if (!storage) return paramErr;
    *storage = nullptr;
    auto* s = new (std::nothrow) OpaqueICMMultiPassStorage();
    if (!s) return memFullErr;
    s->file = std::tmpfile();
    if (!s->file) {
        delete s;
        return ioErr;
    }
    Live& l = live();
    std::lock_guard<std::recursive_mutex> lock(l.mutex);
    l.objects.insert(s);
    *storage = s;
    return noErr;
}

ICMMultiPassStorageRef ICMMultiPassStorageRetain(ICMMultiPassStorageRef storage) {
    Live& l = live();
    std::lock_guard<std::recursive_mutex> lock(l.mutex);
    if (!alive(storage)) return nullptr;
    ++storage->refs;
    return storage;
}

void ICMMultiPassStorageRelease(ICMMultiPassStorageRef storage) {
    Live& l = live();
    std::lock_guard<std::recursive_mutex> lock(l.mutex);
    if (!alive(storage) || --storage->refs > 0) return;
    if (storage->file) std::fclose(storage->file);
    l.objects.erase(storage);
    delete storage;
}

namespace platform {

std::FILE* multiPassStorageFile(ICMMultiPassStorageRef storage) {
    return alive(storage) ? storage->file : nullptr;
}

int32_t multiPassStorageRetainCount(ICMMultiPassStorageRef storage) {
    Live& l = live();
    std::lock_guard<std::recursive_mutex> lock(l.mutex);
    return alive(storage) ? storage->refs : 0;
}

} // namespace platform
