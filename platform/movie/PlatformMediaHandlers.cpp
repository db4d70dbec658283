// Media handlers: one component instance per media, answering for it its characteristics,
// graphics mode, sound balance, public information, play hints and, for video, the frame rate
// that drawing reached.
#include "PlatformComponents.h"
#include "PlatformErrors.h"
#include "PlatformFixed.h"
#include "PlatformMoviePlayback.h"
#include "PlatformMoviePlaybackState.h"

#include <cmath>
#include <mutex>
#include <unordered_map>

using namespace platform::movie;

namespace {

// The handler instances and their media (under the registry's lock).
std::unordered_map<MediaHandler, Media>& handlers() {
    static std::unordered_map<MediaHandler, Media> all;
    return all;
}

struct HandlerKind {
    OSType type;
    const char* name;
};
constexpr HandlerKind kHandlerKinds[] = {
    {VideoMediaType, "Video Media Handler"},
    {SoundMediaType, "Sound Media Handler"},
    {TextMediaType, "Text Media Handler"},
    {FOUR_CHAR_CODE("tx3g"), "3GPP Text Media Handler"},
    {FOUR_CHAR_CODE("sbtl"), "Subtitle Media Handler"},
    {FOUR_CHAR_CODE("tmcd"), "Timecode Media Handler"},
};

bool isVisual(const MediaRecord& m) {
    return hasCharacteristic(m.type, VisualMediaCharacteristic);
}

// A call on the media a handler belongs to, under the registry's lock; badComponentInstance for
// anything that is not a live handler.
template <class F> ComponentResult onHandler(MediaHandler handler, F&& body) {
    std::lock_guard<std::mutex> lock(registry().mutex);
    MediaRecord* m = mediaOfHandler(handler);
    if (!m) return badComponentInstance;
    MediaPlayback* p = playbackOf(*m);
    if (!p) return memFullErr;
    return body(*m, *p);
}

} // namespace

namespace platform::movie {

MediaPlayback::~MediaPlayback() {
    if (handler) {
        handlers().erase(handler);
        CloseComponent(handler);
    }
}

MediaRecord* mediaOfHandler(MediaHandler handler) {
    auto it = handlers().find(handler);
    return it == handlers().end() ? nullptr : findMedia(it->second);
}

void countDrawnFrame(MediaRecord& media, int64_t nowNs) {
    MediaPlayback* p = playbackOf(media);
    if (!p) return;
    if (p->frames == 0) p->firstFrameNs = nowNs;
    p->lastFrameNs = nowNs;
    ++p->frames;
}

void registerMediaHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (const HandlerKind& kind : kHandlerKinds) {
            const ComponentDescription desc{MediaHandlerType, kind.type, platform::kVendorCode, cmpThreadSafe,
                                            0};
            platform::registerComponent(desc, kind.name, kind.name, nullptr, platform::ComponentCallbacks{},
                                        nullptr);
        }
    });
}

} // namespace platform::movie

MediaHandler GetMediaHandler(Media media) {
    registerMediaHandlers();
    return onRecord(media, MediaHandler(nullptr), [](MediaRecord& m) -> MediaHandler {
        MediaPlayback* p = playbackOf(m);
        if (!p) {
            result(memFullErr);
            return nullptr;
        }
        if (!p->handler) {
            ComponentDescription looking{MediaHandlerType, m.type, 0, 0, 0};
            Component component = m.type ? FindNextComponent(nullptr, &looking) : nullptr;
            ComponentInstance instance = nullptr;
            if (!component || OpenAComponent(component, &instance) != noErr || !instance) {
                result(cantFindHandler);
                return nullptr;
            }
            try {
                handlers().emplace(instance, m.token);
            } catch (const std::bad_alloc&) {
                CloseComponent(instance);
                result(memFullErr);
                return nullptr;
            }
            p->handler = instance;
        }
        result(noErr);
        return p->handler;
    });
}

ComponentResult MediaHasCharacteristic(MediaHandler handler, OSType characteristic, Boolean* hasIt) {
    if (hasIt) *hasIt = false;
    return onHandler(handler, [&](MediaRecord& m, MediaPlayback&) -> ComponentResult {
        if (!hasIt) return paramErr;
        bool has = hasCharacteristic(m.type, characteristic);
        if (characteristic == kCharacteristicSupportsApertureModes) has = m.type == VideoMediaType;
        if (characteristic == kCharacteristicIsMPEG)
            has = m.type == FOUR_CHAR_CODE("MPEG") || m.type == FOUR_CHAR_CODE("mpeg");
        *hasIt = has;
        return noErr;
    });
}

ComponentResult MediaGetGraphicsMode(MediaHandler handler, int32_t* graphicsMode, RGBColor* opColor) {
    if (graphicsMode) *graphicsMode = 0;
    if (opColor) *opColor = RGBColor{0, 0, 0};
    return onHandler(handler, [&](MediaRecord& m, MediaPlayback& p) -> ComponentResult {
        if (!isVisual(m)) return badComponentSelector;
        if (graphicsMode) *graphicsMode = p.graphicsMode;
        if (opColor) *opColor = p.opColor;
        return noErr;
    });
}

ComponentResult MediaSetGraphicsMode(MediaHandler handler, int32_t graphicsMode, const RGBColor* opColor) {
    return onHandler(handler, [&](MediaRecord& m, MediaPlayback& p) -> ComponentResult {
        if (!isVisual(m)) return badComponentSelector;
        p.graphicsMode = graphicsMode;
        if (opColor) p.opColor = *opColor;
        if (m.track)
            if (MoviePlayback* mp = m.track->movie->playback.state.get()) mp->redraw = true;
        return noErr;
    });
}

ComponentResult MediaGetPublicInfo(MediaHandler handler, OSType, void*, Size* ioDataSize) {
    return onHandler(handler, [&](MediaRecord&, MediaPlayback&) -> ComponentResult {
        if (ioDataSize) *ioDataSize = 0;
        return badComponentSelector;
    });
}

ComponentResult MediaGetSoundBalance(MediaHandler handler, int16_t* balance) {
    if (balance) *balance = 0;
    return onHandler(handler, [&](MediaRecord& m, MediaPlayback& p) -> ComponentResult {
        if (m.type != SoundMediaType) return badComponentSelector;
        if (!balance) return paramErr;
        *balance = p.soundBalance;
        return noErr;
    });
}

ComponentResult MediaSetSoundBalance(MediaHandler handler, int16_t balance) {
    return onHandler(handler, [&](MediaRecord& m, MediaPlayback& p) -> ComponentResult {
        if (m.type != SoundMediaType) return badComponentSelector;
        if (balance < -128 || balance > 128) return paramErr;
        p.soundBalance = balance;
        return noErr;
    });
}

ComponentResult VideoMediaGetStatistics(MediaHandler handler) {
    return onHandler(handler, [&](MediaRecord& m, MediaPlayback& p) -> ComponentResult {
        if (m.type != VideoMediaType) return badComponentSelector;
        if (p.frames < 2 || p.lastFrameNs <= p.firstFrameNs) return 0;
        const double rate = double(p.frames - 1) * 1e9 / double(p.lastFrameNs - p.firstFrameNs);
        return rate >= 32767.0 ? ComponentResult(0x7FFFFFFF) : ComponentResult(std::lround(rate * 65536.0));
    });
}

ComponentResult VideoMediaResetStatistics(MediaHandler handler) {
    return onHandler(handler, [&](MediaRecord& m, MediaPlayback& p) -> ComponentResult {
        if (m.type != VideoMediaType) return badComponentSelector;
        p.frames = 0;
        p.firstFrameNs = p.lastFrameNs = 0;
        return noErr;
    });
}

void GetMediaPlayHints(Media media, int32_t* flags) {
    if (flags) *flags = 0;
    onRecord(media, [&](MediaRecord& m) {
        if (!flags) {
            result(paramErr);
            return;
        }
        MediaPlayback* p = playbackOf(m);
        if (!p) {
            result(memFullErr);
            return;
        }
        *flags = p->playHints;
        result(noErr);
    });
}

void SetMediaPlayHints(Media media, int32_t flags, int32_t flagsMask) {
    onRecord(media, [&](MediaRecord& m) {
        MediaPlayback* p = playbackOf(m);
        if (!p) {
            result(memFullErr);
            return;
        }
        p->playHints = (p->playHints & ~flagsMask) | (flags & flagsMask);
        result(noErr);
    });
}
