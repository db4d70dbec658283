#include "PlatformMedia.h"

#include "PlatformErrors.h"

#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>

namespace {

struct MediaRecord {
    QTAtomContainer inputMap = nullptr;
    ~MediaRecord() {
        if (inputMap) QTDisposeAtomContainer(inputMap);
    }
};

// References are tokens, not addresses: a token is never handed out twice, so a media that has
// gone can never be mistaken for a later one. One lock guards the registry and every record.
struct Registry {
    std::mutex mutex;
    std::unordered_map<uintptr_t, std::unique_ptr<MediaRecord>> live;
    uintptr_t lastToken = 0;
};

Registry& registry() {
    static Registry* r = new Registry(); // lives as long as the process
    return *r;
}

// The record when the registry knows it; the caller holds the lock.
MediaRecord* find(Media media) {
    auto it = registry().live.find(reinterpret_cast<uintptr_t>(media));
    return it == registry().live.end() ? nullptr : it->second.get();
}

} // namespace

OSErr GetMediaInputMap(Media media, QTAtomContainer* inputMap) {
    if (!inputMap) return platform::setMoviesError(paramErr);
    *inputMap = nullptr;
    QTAtomContainer copy = nullptr;
    OSErr err = noErr;
    {
        std::lock_guard<std::mutex> lock(registry().mutex);
        MediaRecord* m = find(media);
        if (!m) return platform::setMoviesError(invalidMedia);
        err = m->inputMap ? QTCopyAtom(m->inputMap, 0, &copy) : QTNewAtomContainer(&copy);
    }
    *inputMap = copy;
    return platform::setMoviesError(err);
}

OSErr SetMediaInputMap(Media media, QTAtomContainer inputMap) {
    QTAtomContainer copy = nullptr;
    if (inputMap) {
        if (OSErr err = QTCopyAtom(inputMap, 0, &copy)) return err;
    }
    std::lock_guard<std::mutex> lock(registry().mutex);
    MediaRecord* m = find(media);
    if (!m) {
        if (copy) QTDisposeAtomContainer(copy);
        return platform::setMoviesError(invalidMedia);
    }
    if (m->inputMap) QTDisposeAtomContainer(m->inputMap);
    m->inputMap = copy;
    return platform::setMoviesError(noErr);
}

namespace platform {
Media newDetachedMedia() {
    auto record = std::unique_ptr<MediaRecord>(new (std::nothrow) MediaRecord());
    if (!record) return nullptr;
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    // Tokens look like aligned addresses, and no token is handed out twice.
    uintptr_t token = (r.lastToken += 16);
    try {
        r.live.emplace(token, std::move(record));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return reinterpret_cast<Media>(token);
}

void disposeMedia(Media media) {
    std::unique_ptr<MediaRecord> gone;
    {
        std::lock_guard<std::mutex> lock(registry().mutex);
        auto it = registry().live.find(reinterpret_cast<uintptr_t>(media));
        if (it == registry().live.end()) return;
        gone = std::move(it->second);
        registry().live.erase(it);
    }
}

bool isMedia(Media media) {
    std::lock_guard<std::mutex> lock(registry().mutex);
    return find(media) != nullptr;
}
} // namespace platform
