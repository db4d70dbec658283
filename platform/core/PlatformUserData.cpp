#include "PlatformUserData.h"

#include "PlatformEndian.h"
#include "PlatformErrors.h"
#include "PlatformMemory.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <unordered_set>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct TypeGroup {
    OSType type;
    std::vector<Bytes> items;
};

constexpr size_t kAtomHeader = 8;
constexpr size_t kTextHeader = 4;
constexpr size_t kMaxItemsOfType = 32767;
// An item must still fit one atom of the flat form, whose size is 32 bits.
constexpr size_t kMaxItemSize = size_t(INT32_MAX) - kAtomHeader;
constexpr size_t kMaxTextSize = 0xFFFF;

} // namespace

struct OpaqueUserData {
    std::vector<TypeGroup> groups; // in the order the types first got an item
};

namespace {

// One lock guards the registry and every list, so a list disposed of on one thread is never
// read on another.
struct Registry {
    std::mutex mutex;
    std::unordered_set<UserData> live;
};

Registry& registry() {
    static Registry* r = new Registry(); // lives as long as the process
    return *r;
}

OSErr result(OSErr err) {
    return platform::setMoviesError(err);
}

// The list when the registry knows it; the caller holds the lock.
OpaqueUserData* find(UserData ud) {
    if (!ud) return nullptr;
    return registry().live.count(ud) ? ud : nullptr;
}

TypeGroup* groupOf(OpaqueUserData& ud, OSType type) {
    for (TypeGroup& g : ud.groups)
        if (g.type == type) return &g;
    return nullptr;
}

// The 0-based position of an item named by `index`: 0 is taken for 1 where `zeroIsFirst`.
std::optional<size_t> position(const TypeGroup* g, int32_t index, bool zeroIsFirst) {
    if (index == 0 && zeroIsFirst) index = 1;
    if (!g || index < 1 || size_t(index) > g->items.size()) return std::nullopt;
    return size_t(index - 1);
}

Bytes* itemAt(OpaqueUserData& ud, OSType type, int32_t index) {
    TypeGroup* g = groupOf(ud, type);
    std::optional<size_t> at = position(g, index, true);
    return at ? &g->items[*at] : nullptr;
}

// Whether `index` names the place just after the type's last item (0 names it for an empty
// type).
bool isNextIndex(OpaqueUserData& ud, OSType type, int32_t index) {
    TypeGroup* g = groupOf(ud, type);
    size_t count = g ? g->items.size() : 0;
    if (index == 0) return count == 0;
    return index > 0 && size_t(index) == count + 1;
}

// Appends an item, making the type's group when it has none. Throws bad_alloc.
OSErr appendItem(OpaqueUserData& ud, OSType type, Bytes bytes) {
    if (type == 0 || bytes.size() > kMaxItemSize) return paramErr;
    TypeGroup* g = groupOf(ud, type);
    if (g && g->items.size() >= kMaxItemsOfType) return paramErr;
    if (!g) {
        ud.groups.push_back(TypeGroup{type, {}});
        g = &ud.groups.back();
    }
    g->items.push_back(std::move(bytes));
    return noErr;
}

// The handle's bytes into `h`, resized to fit.
OSErr copyToHandle(const uint8_t* src, size_t size, Handle h) {
    SetHandleSize(h, Size(size));
    if (MemError() != noErr || GetHandleSize(h) != Size(size)) return memFullErr;
    if (size) std::memcpy(*h, src, size);
    return noErr;
}

Bytes bytesOfHandle(Handle h) {
    Size size = *h ? GetHandleSize(h) : 0;
    if (size <= 0) return {};
    const auto* p = reinterpret_cast<const uint8_t*>(*h);
    return Bytes(p, p + size);
}

struct Text {
    int16_t language;
    Bytes bytes;
};

// The strings of a text item, or nothing when its bytes do not follow the layout.
std::optional<std::vector<Text>> parseTexts(const Bytes& item) {
    std::vector<Text> texts;
    size_t pos = 0;
    while (pos < item.size()) {
        if (item.size() - pos < kTextHeader) return std::nullopt;
        size_t length = platform::loadBE16(&item[pos]);
        auto language = int16_t(platform::loadBE16(&item[pos + 2]));
        pos += kTextHeader;
        if (item.size() - pos < length) return std::nullopt;
        texts.push_back(Text{language, Bytes(item.begin() + std::ptrdiff_t(pos),
                                             item.begin() + std::ptrdiff_t(pos + length))});
        pos += length;
    }
    return texts;
}

// The item's string in the language, or the end.
std::vector<Text>::iterator textIn(std::vector<Text>& texts, int16_t language) {
    return std::find_if(texts.begin(), texts.end(),
                        [language](const Text& t) { return t.language == language; });
}

Bytes encodeTexts(const std::vector<Text>& texts) {
    Bytes out;
    for (const Text& t : texts) {
        uint8_t header[kTextHeader];
        platform::storeBE16(header, uint16_t(t.bytes.size()));
        platform::storeBE16(header + 2, uint16_t(t.language));
        out.insert(out.end(), header, header + kTextHeader);
        out.insert(out.end(), t.bytes.begin(), t.bytes.end());
    }
    return out;
}

// Runs `body` under the lock on a known list; an unknown one gives paramErr. A failed
// allocation inside gives memFullErr.
template <class F> OSErr withList(UserData ud, F&& body) {
    Registry& r = registry();
    try {
        std::lock_guard<std::mutex> lock(r.mutex);
        OpaqueUserData* list = find(ud);
        if (!list) return result(paramErr);
        return result(body(*list));
    } catch (const std::bad_alloc&) {
        return result(memFullErr);
    }
}

// Registers a new list holding `groups`; null when memory runs out.
UserData registerList(std::vector<TypeGroup> groups) {
    Registry& r = registry();
    UserData ud = new (std::nothrow) OpaqueUserData();
    if (!ud) return nullptr;
    ud->groups = std::move(groups);
    try {
        std::lock_guard<std::mutex> lock(r.mutex);
        r.live.insert(ud);
    } catch (const std::bad_alloc&) {
        delete ud;
        return nullptr;
    }
    return ud;
}

// The items of a flat form, or nothing when it is malformed.
std::optional<std::vector<TypeGroup>> parseFlat(const uint8_t* p, size_t size) {
    OpaqueUserData parsed;
    size_t pos = 0;
    while (pos < size) {
        size_t remaining = size - pos;
        if (remaining < kAtomHeader) {
            // Only a 32-bit zero may follow the last atom.
            if (remaining == 4 && platform::loadBE32(p + pos) == 0) break;
            return std::nullopt;
        }
        size_t atomSize = platform::loadBE32(p + pos);
        OSType type = platform::loadBE32(p + pos + 4);
        if (atomSize < kAtomHeader || atomSize > remaining || type == 0) return std::nullopt;
        if (appendItem(parsed, type, Bytes(p + pos + kAtomHeader, p + pos + atomSize)) != noErr)
            return std::nullopt;
        pos += atomSize;
    }
    return std::move(parsed.groups);
}

} // namespace

OSErr NewUserData(UserData* theUserData) {
    if (!theUserData) return result(paramErr);
    *theUserData = registerList({});
    return result(*theUserData ? noErr : memFullErr);
}

OSErr DisposeUserData(UserData theUserData) {
    Registry& r = registry();
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        if (!find(theUserData)) return result(paramErr);
        r.live.erase(theUserData);
    }
    delete theUserData;
    return result(noErr);
}

int16_t CountUserDataType(UserData theUserData, OSType udType) {
    int16_t count = 0;
    withList(theUserData, [&](OpaqueUserData& ud) {
        TypeGroup* g = groupOf(ud, udType);
        count = g ? int16_t(g->items.size()) : 0;
        return noErr;
    });
    return count;
}

OSType GetNextUserDataType(UserData theUserData, OSType udType) {
    OSType next = 0;
    withList(theUserData, [&](OpaqueUserData& ud) {
        if (ud.groups.empty()) return noErr;
        if (udType == 0) {
            next = ud.groups.front().type;
            return noErr;
        }
        for (size_t i = 0; i + 1 < ud.groups.size(); ++i) {
            if (ud.groups[i].type == udType) {
                next = ud.groups[i + 1].type;
                break;
            }
        }
        return noErr;
    });
    return next;
}

OSErr GetUserData(UserData theUserData, Handle data, OSType udType, int32_t index) {
    return withList(theUserData, [&](OpaqueUserData& ud) {
        if (!data) return paramErr;
        Bytes* item = itemAt(ud, udType, index);
        if (!item) return userDataItemNotFound;
        return copyToHandle(item->data(), item->size(), data);
    });
}

OSErr GetUserDataItem(UserData theUserData, void* data, int32_t size, OSType udType, int32_t index) {
    return withList(theUserData, [&](OpaqueUserData& ud) {
        Bytes* item = itemAt(ud, udType, index);
        if (!item) return userDataItemNotFound;
        if (size < 0 || size_t(size) != item->size() || (size > 0 && !data)) return paramErr;
        if (size > 0) std::memcpy(data, item->data(), size_t(size));
        return noErr;
    });
}

OSErr SetUserDataItem(UserData theUserData, const void* data, int32_t size, OSType udType, int32_t index) {
    return withList(theUserData, [&](OpaqueUserData& ud) {
        if (udType == 0 || size < 0 || size_t(size) > kMaxItemSize || (size > 0 && !data)) return paramErr;
        const auto* p = static_cast<const uint8_t*>(data);
        Bytes bytes = size > 0 ? Bytes(p, p + size) : Bytes();
        if (Bytes* item = itemAt(ud, udType, index)) {
            *item = std::move(bytes);
            return noErr;
        }
        if (isNextIndex(ud, udType, index)) return appendItem(ud, udType, std::move(bytes));
        return userDataItemNotFound;
    });
}

OSErr AddUserData(UserData theUserData, Handle data, OSType udType) {
    return withList(theUserData, [&](OpaqueUserData& ud) {
        if (!data || udType == 0) return paramErr;
        return appendItem(ud, udType, bytesOfHandle(data));
    });
}

OSErr RemoveUserData(UserData theUserData, OSType udType, int32_t index) {
    return withList(theUserData, [&](OpaqueUserData& ud) {
        TypeGroup* g = groupOf(ud, udType);
        std::optional<size_t> at = position(g, index, false);
        if (!at) return userDataItemNotFound;
        g->items.erase(g->items.begin() + std::ptrdiff_t(*at));
        if (g->items.empty()) ud.groups.erase(ud.groups.begin() + (g - ud.groups.data()));
        return noErr;
    });
}

OSErr GetUserDataText(UserData theUserData, Handle text, OSType udType, int32_t index, int16_t itlRegionTag) {
    return withList(theUserData, [&](OpaqueUserData& ud) {
        if (!text) return paramErr;
        Bytes* item = itemAt(ud, udType, index);
        if (!item) return userDataItemNotFound;
        std::optional<std::vector<Text>> texts = parseTexts(*item);
        if (!texts) return paramErr;
        auto same = textIn(*texts, itlRegionTag);
        if (same == texts->end()) return userDataItemNotFound;
        return copyToHandle(same->bytes.data(), same->bytes.size(), text);
    });
}

OSErr AddUserDataText(UserData theUserData, Handle data, OSType udType, int32_t index, int16_t itlRegionTag) {
    return withList(theUserData, [&](OpaqueUserData& ud) {
        if (!data || udType == 0) return paramErr;
        Bytes bytes = bytesOfHandle(data);
        if (bytes.size() > kMaxTextSize) return paramErr;
        Bytes* item = itemAt(ud, udType, index);
        if (!item) {
            if (!isNextIndex(ud, udType, index)) return userDataItemNotFound;
            return appendItem(ud, udType, encodeTexts({Text{itlRegionTag, std::move(bytes)}}));
        }
        std::optional<std::vector<Text>> texts = parseTexts(*item);
        if (!texts) return paramErr;
        auto same = textIn(*texts, itlRegionTag);
        if (same != texts->end()) {
            same->bytes = std::move(bytes);
        } else {
            texts->push_back(Text{itlRegionTag, std::move(bytes)});
        }
        Bytes encoded = encodeTexts(*texts);
        if (encoded.size() > kMaxItemSize) return paramErr;
        *item = std::move(encoded);
        return noErr;
    });
}

OSErr RemoveUserDataText(UserData theUserData, OSType udType, int32_t index, int16_t itlRegionTag) {
    return withList(theUserData, [&](OpaqueUserData& ud) {
        Bytes* item = itemAt(ud, udType, index);
        if (!item) return userDataItemNotFound;
        std::optional<std::vector<Text>> texts = parseTexts(*item);
        if (!texts) return paramErr;
        auto same = textIn(*texts, itlRegionTag);
        if (same == texts->end()) return userDataItemNotFound;
        texts->erase(same);
        *item = encodeTexts(*texts);
        return noErr;
    });
}

OSErr PutUserDataIntoHandle(UserData theUserData, Handle h) {
    return withList(theUserData, [&](OpaqueUserData& ud) {
        if (!h) return paramErr;
        uint64_t total = 0;
        for (const TypeGroup& g : ud.groups)
            for (const Bytes& item : g.items)
                total += kAtomHeader + item.size();
        if (total > uint64_t(INT32_MAX)) return memFullErr;
        SetHandleSize(h, Size(total));
        if (MemError() != noErr || GetHandleSize(h) != Size(total)) return memFullErr;
        auto* out = reinterpret_cast<uint8_t*>(*h);
        for (const TypeGroup& g : ud.groups) {
            for (const Bytes& item : g.items) {
                platform::storeBE32(out, uint32_t(kAtomHeader + item.size()));
                platform::storeBE32(out + 4, g.type);
                if (!item.empty()) std::memcpy(out + kAtomHeader, item.data(), item.size());
                out += kAtomHeader + item.size();
            }
        }
        return noErr;
    });
}

OSErr NewUserDataFromHandle(Handle h, UserData* theUserData) {
    if (theUserData) *theUserData = nullptr;
    if (!h || !theUserData) return result(paramErr);
    std::optional<std::vector<TypeGroup>> groups;
    try {
        Size size = *h ? GetHandleSize(h) : 0;
        groups = parseFlat(reinterpret_cast<const uint8_t*>(*h), size_t(std::max<Size>(size, 0)));
    } catch (const std::bad_alloc&) {
        return result(memFullErr);
    }
    if (!groups) return result(paramErr);
    *theUserData = registerList(std::move(*groups));
    return result(*theUserData ? noErr : memFullErr);
}

namespace platform {

bool isUserData(UserData theUserData) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return find(theUserData) != nullptr;
}

} // namespace platform
