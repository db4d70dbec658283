// Properties of movies and tracks: the audio and visual classes that the movie layer answers
// from its records, and the core's property store for every other property. Aperture modes.
#include "PlatformAudio.h"
#include "PlatformErrors.h"
#include "PlatformFixed.h"
#include "PlatformImageDescriptions.h"
#include "PlatformMemory.h"
#include "PlatformMoviePlayback.h"
#include "PlatformMoviePlaybackState.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

using namespace platform::movie;

namespace {

constexpr uint32_t kReadOnly = kComponentPropertyFlagCanGetNow | kComponentPropertyFlagCanGetLater;
constexpr uint32_t kReadWrite =
    kReadOnly | kComponentPropertyFlagCanSetNow | kComponentPropertyFlagCanSetLater;

// A property the movie layer answers: its type, flags and current value.
struct Value {
    OSType type = 0;
    uint32_t flags = 0;
    std::vector<uint8_t> bytes;
};

template <class T> Value valueOf(OSType type, uint32_t flags, const T& v) {
    Value out{type, flags, std::vector<uint8_t>(sizeof v)};
    std::memcpy(out.bytes.data(), &v, sizeof v);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Sound summaries.

struct SoundFormat {
    double rate = 0.0;
    uint32_t channels = 0;
    std::vector<uint8_t> layout; // the description's channel layout, when it has a whole one
};

bool readSoundFormat(const Bytes& desc, SoundFormat& out) {
    if (desc.size() < size_t(kSoundDescriptionV0Size)) return false;
    int16_t version = 0;
    std::memcpy(&version, desc.data() + 16, 2);
    if (version == 2) {
        if (desc.size() < size_t(kSoundDescriptionV2Size)) return false;
        std::memcpy(&out.rate, desc.data() + 40, 8);
        std::memcpy(&out.channels, desc.data() + 48, 4);
    } else {
        int16_t channels = 0;
        uint32_t rate = 0;
        std::memcpy(&channels, desc.data() + 24, 2);
        std::memcpy(&rate, desc.data() + 32, 4);
        out.channels = channels > 0 ? uint32_t(channels) : 0;
        out.rate = rate / 65536.0;
    }
    if (!std::isfinite(out.rate) || out.rate <= 0.0 || out.channels == 0) return false;
    Handle h = nullptr;
    if (PtrToHand(desc.data(), &h, Size(desc.size())) != noErr) return true;
    Handle layout = nullptr;
    if (GetSoundDescriptionExtension(reinterpret_cast<SoundDescriptionHandle>(h), &layout,
                                     kSoundDescriptionExtension_ChannelLayout) == noErr) {
        const size_t size = size_t(GetHandleSize(layout));
        uint32_t count = 0;
        if (size >= kAudioChannelLayoutHeaderSize) std::memcpy(&count, *layout + 8, 4);
        // A layout counting more descriptions than it holds is not used.
        if (size >= kAudioChannelLayoutHeaderSize &&
            (size - kAudioChannelLayoutHeaderSize) / sizeof(AudioChannelDescription) >= count)
            out.layout.assign(reinterpret_cast<uint8_t*>(*layout),
                              reinterpret_cast<uint8_t*>(*layout) + size);
        DisposeHandle(layout);
    }
    DisposeHandle(h);
    return true;
}

// The sum of the movie's enabled sound tracks: false when it has none.
bool soundSummary(const MovieRecord& m, AudioStreamBasicDescription& asbd, std::vector<uint8_t>& layout) {
    SoundFormat widest;
    bool any = false;
    int layouts = 0;
    for (const auto& t : m.tracks) {
        if (!t->enabled || !t->media || t->media->type != SoundMediaType || t->media->descriptions.empty())
            continue;
        SoundFormat f;
        if (!readSoundFormat(t->media->descriptions.front(), f)) continue;
        if (!f.layout.empty()) ++layouts;
        if (!any || f.channels > widest.channels) {
            const double rate = std::max(widest.rate, f.rate);
            widest = f;
            widest.rate = rate;
        } else {
            widest.rate = std::max(widest.rate, f.rate);
        }
        any = true;
    }
    if (!any) return false;
    asbd = AudioStreamBasicDescription{widest.rate,
                                       kAudioFormatLinearPCM,
                                       kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked |
                                           kAudioFormatFlagIsNonInterleaved,
                                       4,
                                       1,
                                       4,
                                       widest.channels,
                                       32,
                                       0};
    if (layouts == 1 && !widest.layout.empty()) {
        layout = widest.layout;
        return true;
    }
    uint32_t header[3] = {widest.channels == 1 ? kAudioChannelLayoutTag_Mono
                          : widest.channels == 2
                              ? kAudioChannelLayoutTag_Stereo
                              : kAudioChannelLayoutTag_DiscreteInOrder | (widest.channels & 0xFFFF),
                          0, 0};
    layout.assign(reinterpret_cast<uint8_t*>(header), reinterpret_cast<uint8_t*>(header) + sizeof header);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Aperture modes.

const FixedPoint* dimensionsOfMode(const TrackPlayback& p, OSType mode) {
    switch (mode) {
    case kQTApertureMode_Classic:
        return &p.classic;
    case kQTApertureMode_CleanAperture:
        return &p.clean;
    case kQTApertureMode_ProductionAperture:
        return &p.production;
    case kQTApertureMode_EncodedPixels:
        return &p.encoded;
    default:
        return nullptr;
    }
}

bool isApertureMode(OSType mode) {
    return mode == kQTApertureMode_Classic || mode == kQTApertureMode_CleanAperture ||
           mode == kQTApertureMode_ProductionAperture || mode == kQTApertureMode_EncodedPixels;
}

void applyApertureMode(TrackRecord& t, OSType mode) {
    TrackPlayback* p = t.playback.state.get();
    if (!p || !p->hasApertureModes) return;
    if (const FixedPoint* d = dimensionsOfMode(*p, mode)) {
        t.width = d->x;
        t.height = d->y;
    }
}

OSType movieApertureMode(MovieRecord& m) {
    MoviePlayback* p = m.playback.state.get();
    return p ? p->apertureMode : kQTApertureMode_Classic;
}

// The track's aperture mode dimensions from an image description (the model's bytes).
OSErr generateApertureModesFrom(TrackRecord& t, const Bytes& desc) {
    if (desc.size() < sizeof(ImageDescription)) return invalidSampleDescription;
    TrackPlayback* p = playbackOf(t);
    if (!p) return memFullErr;
    Handle h = nullptr;
    OSErr err = PtrToHand(desc.data(), &h, Size(desc.size()));
    if (err != noErr) return err;
    auto idh = reinterpret_cast<ImageDescriptionHandle>(h);
    FixedPoint clean{}, production{}, encoded{};
    const OSType cls = kQTPropertyClass_ImageDescription;
    err = OSErr(ICMImageDescriptionGetProperty(
        idh, cls, kICMImageDescriptionPropertyID_EncodedPixelsDimensions, sizeof encoded, &encoded, nullptr));
    if (err == noErr)
        err = OSErr(ICMImageDescriptionGetProperty(
            idh, cls, kICMImageDescriptionPropertyID_CleanApertureDimensions, sizeof clean, &clean, nullptr));
    if (err == noErr)
        err = OSErr(ICMImageDescriptionGetProperty(
            idh, cls, kICMImageDescriptionPropertyID_ProductionApertureDimensions, sizeof production,
            &production, nullptr));
    DisposeHandle(h);
    if (err != noErr) return err;
    // The classic dimensions are those the track had before it had aperture modes.
    if (!p->hasApertureModes) p->classic = FixedPoint{t.width, t.height};
    p->clean = clean;
    p->production = production;
    p->encoded = encoded;
    p->hasApertureModes = true;
    applyApertureMode(t, movieApertureMode(*t.movie));
    return noErr;
}

OSErr generateApertureModes(TrackRecord& t) {
    if (!t.media || t.media->type != VideoMediaType) return invalidMedia;
    if (t.media->descriptions.empty()) return invalidSampleDescription;
    return generateApertureModesFrom(t, t.media->descriptions.front());
}

void removeApertureModes(TrackRecord& t) {
    TrackPlayback* p = t.playback.state.get();
    if (!p || !p->hasApertureModes) return;
    t.width = p->classic.x;
    t.height = p->classic.y;
    p->hasApertureModes = false;
}

// ---------------------------------------------------------------------------------------------
// The properties the layer answers. A null answer: the property store's.

bool isSound(const TrackRecord& t) {
    return t.media && hasCharacteristic(t.media->type, AudioMediaCharacteristic);
}

bool audioValue(OSType id, bool muted, float balance, float gain, float pitch, Value& out) {
    switch (id) {
    case kQTAudioPropertyID_Mute:
        out = valueOf(kQTPropertyValueType_Boolean, kReadWrite, Boolean(muted));
        return true;
    case kQTAudioPropertyID_Balance:
        out = valueOf(kQTPropertyValueType_Float32, kReadWrite, balance);
        return true;
    case kQTAudioPropertyID_Gain:
        out = valueOf(kQTPropertyValueType_Float32, kReadWrite, gain);
        return true;
    case kQTAudioPropertyID_Pitch:
        out = valueOf(kQTPropertyValueType_Float32, kReadWrite, pitch);
        return true;
    default:
        return false;
    }
}

// The property's value, or the status that refuses it; `handled` false: not the layer's.
OSErr movieValue(MovieRecord& m, OSType cls, OSType id, Value& out, bool& handled) {
    handled = true;
    MoviePlayback* p = playbackOf(m);
    if (!p) return memFullErr;
    if (cls == kQTPropertyClass_Audio) {
        if (audioValue(id, p->muted || p->volume < 0, p->balance, p->gain, p->pitch, out)) return noErr;
        if (id == kQTAudioPropertyID_SummaryASBD || id == kQTAudioPropertyID_SummaryChannelLayout) {
            AudioStreamBasicDescription asbd{};
            std::vector<uint8_t> layout;
            if (!soundSummary(m, asbd, layout)) return kQTPropertyNotSupportedErr;
            if (id == kQTAudioPropertyID_SummaryASBD)
                out = valueOf(kQTPropertyValueType_ASBD, kReadOnly, asbd);
            else
                out = Value{kQTPropertyValueType_ChannelLayout, kReadOnly, std::move(layout)};
            return noErr;
        }
    } else if (cls == kQTPropertyClass_Visual) {
        if (id == kQTVisualPropertyID_HasApertureModeDimensions) {
            bool has = false;
            for (const auto& t : m.tracks)
                has = has || (t->playback.state && t->playback.state->hasApertureModes);
            out = valueOf(kQTPropertyValueType_Boolean, kReadOnly, Boolean(has));
            return noErr;
        }
        if (id == kQTVisualPropertyID_ApertureMode) {
            out = valueOf(kQTPropertyValueType_OSType, kReadWrite, p->apertureMode);
            return noErr;
        }
    }
    handled = false;
    return noErr;
}

OSErr trackValue(TrackRecord& t, OSType cls, OSType id, Value& out, bool& handled) {
    handled = true;
    TrackPlayback* p = playbackOf(t);
    if (!p) return memFullErr;
    if (cls == kQTPropertyClass_Audio && isSound(t)) {
        if (audioValue(id, p->muted || t.volume < 0, p->balance, p->gain, p->pitch, out)) return noErr;
    } else if (cls == kQTPropertyClass_Visual && t.media && t.media->type == VideoMediaType) {
        if (id == kQTVisualPropertyID_HasApertureModeDimensions) {
            out = valueOf(kQTPropertyValueType_Boolean, kReadOnly, Boolean(p->hasApertureModes));
            return noErr;
        }
        const FixedPoint* d = nullptr;
        if (id == kQTVisualPropertyID_ClassicDimensions) d = &p->classic;
        if (id == kQTVisualPropertyID_CleanApertureDimensions) d = &p->clean;
        if (id == kQTVisualPropertyID_ProductionApertureDimensions) d = &p->production;
        if (id == kQTVisualPropertyID_EncodedPixelsDimensions) d = &p->encoded;
        if (d) {
            if (!p->hasApertureModes) return kQTPropertyNotSupportedErr;
            out = valueOf(kQTPropertyValueType_FixedPoint, kReadWrite, *d);
            return noErr;
        }
    }
    handled = false;
    return noErr;
}

float floatOf(const void* value) {
    float f = 0;
    std::memcpy(&f, value, sizeof f);
    return f;
}

// Sets a value of the audio class; paramErr for a value out of range.
OSErr setAudio(OSType id, const void* value, bool& muted, float& balance, float& gain, float& pitch) {
    if (id == kQTAudioPropertyID_Mute) {
        muted = *static_cast<const uint8_t*>(value) != 0;
        return noErr;
    }
    const float f = floatOf(value);
    if (!std::isfinite(f)) return paramErr;
    switch (id) {
    case kQTAudioPropertyID_Balance:
        if (f < -1.0f || f > 1.0f) return paramErr;
        balance = f;
        return noErr;
    case kQTAudioPropertyID_Gain:
        if (f < 0.0f) return paramErr;
        gain = f;
        return noErr;
    default:
        pitch = f;
        return noErr;
    }
}

// An audio value of a movie's or track's playback state; the sign of `volume` (the movie's or
// the track's) tells whether it is muted.
template <class Playback> OSErr setAudioOf(Playback& p, int16_t& volume, OSType id, const void* value) {
    bool muted = p.muted || volume < 0;
    const OSErr err = setAudio(id, value, muted, p.balance, p.gain, p.pitch);
    if (err != noErr) return err;
    p.muted = muted;
    if (muted == (volume >= 0) && volume != 0) volume = int16_t(-volume);
    return noErr;
}

OSErr setMovieValue(MovieRecord& m, OSType cls, OSType id, const void* value) {
    MoviePlayback& p = *m.playback.state;
    if (cls == kQTPropertyClass_Audio) return setAudioOf(p, p.volume, id, value);
    OSType mode = 0;
    std::memcpy(&mode, value, sizeof mode);
    if (!isApertureMode(mode)) return paramErr;
    p.apertureMode = mode;
    for (auto& t : m.tracks)
        applyApertureMode(*t, mode);
    p.redraw = true;
    return noErr;
}

OSErr setTrackValue(TrackRecord& t, OSType cls, OSType id, const void* value) {
    TrackPlayback& p = *t.playback.state;
    if (cls == kQTPropertyClass_Audio) return setAudioOf(p, t.volume, id, value);
    FixedPoint d{};
    std::memcpy(&d, value, sizeof d);
    if (d.x < 0 || d.y < 0) return paramErr;
    if (id == kQTVisualPropertyID_ClassicDimensions) p.classic = d;
    if (id == kQTVisualPropertyID_CleanApertureDimensions) p.clean = d;
    if (id == kQTVisualPropertyID_ProductionApertureDimensions) p.production = d;
    if (id == kQTVisualPropertyID_EncodedPixelsDimensions) p.encoded = d;
    applyApertureMode(t, movieApertureMode(*t.movie));
    return noErr;
}

// A property call on a movie or track; an object the layer does not know (the store serves
// objects of any kind, by address) is answered by the store alone.
template <class Ref, class StoreFn, class F> OSErr onKnown(Ref ref, StoreFn&& store, F&& body) {
    std::lock_guard<std::mutex> lock(registry().mutex);
    RecordOf<Ref>* record = findRecord(ref);
    if (!record) return result(store());
    return body(*record);
}

// The three calls of a family over the layer's values, then the store.
template <class Ref, class ValueFn, class SetFn> struct Family {
    Ref ref;
    ValueFn valueFn;
    SetFn setFn;

    OSErr info(OSType cls, OSType id, ComponentValueType* type, ByteCount* size, UInt32* flags) {
        if (type) *type = 0;
        if (size) *size = 0;
        if (flags) *flags = 0;
        return onKnown(
            ref, [&] { return OSErr(platform::storedPropertyInfo(ref, cls, id, type, size, flags)); },
            [&](RecordOf<Ref>& r) -> OSErr {
                Value v;
                bool handled = false;
                OSErr err = valueFn(r, cls, id, v, handled);
                if (!handled)
                    err = OSErr(platform::storedPropertyInfo(r.token, cls, id, type, size, flags));
                else if (err == noErr) {
                    if (type) *type = v.type;
                    if (size) *size = ByteCount(v.bytes.size());
                    if (flags) *flags = v.flags;
                }
                return result(err);
            });
    }

    OSErr get(OSType cls, OSType id, ByteCount size, void* value, ByteCount* sizeUsed) {
        if (sizeUsed) *sizeUsed = 0;
        return onKnown(
            ref, [&] { return OSErr(platform::storedPropertyGet(ref, cls, id, size, value, sizeUsed)); },
            [&](RecordOf<Ref>& r) -> OSErr {
                if (!value) return result(paramErr);
                Value v;
                bool handled = false;
                OSErr err = valueFn(r, cls, id, v, handled);
                if (!handled)
                    return result(
                        OSErr(platform::storedPropertyGet(r.token, cls, id, size, value, sizeUsed)));
                if (err != noErr) return result(err);
                if (size < v.bytes.size()) return result(kQTPropertyBadValueSizeErr);
                if (!v.bytes.empty()) std::memcpy(value, v.bytes.data(), v.bytes.size());
                if (sizeUsed) *sizeUsed = ByteCount(v.bytes.size());
                return result(noErr);
            });
    }

    OSErr set(OSType cls, OSType id, ByteCount size, const void* value) {
        return onKnown(
            ref, [&] { return OSErr(platform::storedPropertySet(ref, cls, id, size, value)); },
            [&](RecordOf<Ref>& r) -> OSErr {
                if (!value) return result(paramErr);
                Value v;
                bool handled = false;
                OSErr err = valueFn(r, cls, id, v, handled);
                if (!handled)
                    return result(OSErr(platform::storedPropertySet(r.token, cls, id, size, value)));
                if (err != noErr) return result(err);
                if (!(v.flags & kComponentPropertyFlagCanSetNow)) return result(kQTPropertyReadOnlyErr);
                if (size != v.bytes.size()) return result(kQTPropertyBadValueSizeErr);
                return result(setFn(r, cls, id, value));
            });
    }
};

template <class Ref, class ValueFn, class SetFn>
Family<Ref, ValueFn, SetFn> family(Ref ref, ValueFn v, SetFn s) {
    return Family<Ref, ValueFn, SetFn>{ref, v, s};
}

auto movieFamily(Movie movie) {
    return family(movie, movieValue, setMovieValue);
}
auto trackFamily(Track track) {
    return family(track, trackValue, setTrackValue);
}

} // namespace

OSErr QTGetMoviePropertyInfo(Movie movie, ComponentPropertyClass cls, ComponentPropertyID id,
                             ComponentValueType* type, ByteCount* size, UInt32* flags) {
    return movieFamily(movie).info(cls, id, type, size, flags);
}

OSErr QTGetMovieProperty(Movie movie, ComponentPropertyClass cls, ComponentPropertyID id, ByteCount size,
                         ComponentValuePtr value, ByteCount* sizeUsed) {
    return movieFamily(movie).get(cls, id, size, value, sizeUsed);
}

OSErr QTSetMovieProperty(Movie movie, ComponentPropertyClass cls, ComponentPropertyID id, ByteCount size,
                         ConstComponentValuePtr value) {
    return movieFamily(movie).set(cls, id, size, value);
}

OSErr QTGetTrackPropertyInfo(Track track, ComponentPropertyClass cls, ComponentPropertyID id,
                             ComponentValueType* type, ByteCount* size, UInt32* flags) {
    return trackFamily(track).info(cls, id, type, size, flags);
}

OSErr QTGetTrackProperty(Track track, ComponentPropertyClass cls, ComponentPropertyID id, ByteCount size,
                         ComponentValuePtr value, ByteCount* sizeUsed) {
    return trackFamily(track).get(cls, id, size, value, sizeUsed);
}

OSErr QTSetTrackProperty(Track track, ComponentPropertyClass cls, ComponentPropertyID id, ByteCount size,
                         ConstComponentValuePtr value) {
    return trackFamily(track).set(cls, id, size, value);
}

OSErr GenerateTrackApertureModeDimensions(Track track) {
    return onRecord(track, invalidTrack, [](TrackRecord& t) { return result(generateApertureModes(t)); });
}

OSErr SetTrackApertureModeDimensionsUsingSampleDescription(Track track, SampleDescriptionHandle sampleDesc) {
    return onRecord(track, invalidTrack, [&](TrackRecord& t) {
        if (!t.media || t.media->type != VideoMediaType) return result(invalidMedia);
        if (!sampleDesc || !*sampleDesc) return result(paramErr);
        const Size size = GetHandleSize(reinterpret_cast<Handle>(sampleDesc));
        // A description says how long it is; a handle shorter than that is not one.
        if (size < Size(sizeof(ImageDescription)) ||
            (**sampleDesc).descSize < int32_t(sizeof(ImageDescription)) || (**sampleDesc).descSize > size)
            return result(invalidSampleDescription);
        const auto* bytes = reinterpret_cast<const uint8_t*>(*sampleDesc);
        return result(generateApertureModesFrom(t, Bytes(bytes, bytes + (**sampleDesc).descSize)));
    });
}

ComponentResult MediaGenerateApertureModeDimensions(MediaHandler mh) {
    std::lock_guard<std::mutex> lock(registry().mutex);
    MediaRecord* m = mediaOfHandler(mh);
    if (!m) return badComponentInstance;
    if (m->type != VideoMediaType) return badComponentSelector;
    if (!m->track) return invalidTrack;
    return generateApertureModes(*m->track);
}

OSErr RemoveTrackApertureModeDimensions(Track track) {
    return onRecord(track, invalidTrack, [](TrackRecord& t) {
        if (!t.media || t.media->type != VideoMediaType) return result(invalidMedia);
        removeApertureModes(t);
        return result(noErr);
    });
}

OSErr GenerateMovieApertureModeDimensions(Movie movie) {
    return onRecord(movie, invalidMovie, [](MovieRecord& m) {
        OSErr first = noErr;
        for (auto& t : m.tracks) {
            if (!t->media || t->media->type != VideoMediaType) continue;
            const OSErr err = generateApertureModes(*t);
            if (first == noErr) first = err;
        }
        return result(first);
    });
}

OSErr RemoveMovieApertureModeDimensions(Movie movie) {
    return onRecord(movie, invalidMovie, [](MovieRecord& m) {
        for (auto& t : m.tracks)
            removeApertureModes(*t);
        return result(noErr);
    });
}
