#include "PlatformAudio.h"

#include "PlatformCF.h"
#include "PlatformEndian.h"
#include "PlatformProperties.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int32_t kExtensionHeaderSize = 8;

// The fixed part of a description of `version`; 0 for a version nobody knows.
int32_t fixedSize(int16_t version) {
    switch (version) {
    case 0:
        return kSoundDescriptionV0Size;
    case 1:
        return kSoundDescriptionV1Size;
    case 2:
        return kSoundDescriptionV2Size;
    default:
        return 0;
    }
}

void put16(uint8_t* base, int offset, int16_t v) {
    std::memcpy(base + offset, &v, sizeof v);
}
void put32(uint8_t* base, int offset, uint32_t v) {
    std::memcpy(base + offset, &v, sizeof v);
}

// Appends an extension: big-endian size (header included) and type, then the bytes.
bool appendExtension(Handle h, OSType type, const void* data, uint32_t size) {
    if (size > uint32_t(INT32_MAX - kExtensionHeaderSize)) return false;
    uint8_t header[kExtensionHeaderSize];
    platform::storeBE32(header, size + kExtensionHeaderSize);
    platform::storeBE32(header + 4, type);
    if (PtrAndHand(header, h, kExtensionHeaderSize) != noErr) return false;
    return size == 0 || PtrAndHand(data, h, Size(size)) == noErr;
}

} // namespace

OSStatus QTSoundDescriptionCreate(const AudioStreamBasicDescription* asbd, const AudioChannelLayout* layout,
                                  ByteCount layoutSize, const void* magicCookie, ByteCount magicCookieSize,
                                  OSType descriptionKind, SoundDescriptionHandle* outDesc) {
    if (outDesc) *outDesc = nullptr;
    if (!asbd || !outDesc || descriptionKind != kQTSoundDescriptionKind_Movie_AnyVersion ||
        (layoutSize && !layout) || (magicCookieSize && !magicCookie))
        return paramErr;
    // A layout smaller than its header, or than the descriptions it counts, cannot be kept.
    if (layout && layoutSize) {
        if (layoutSize < kAudioChannelLayoutHeaderSize ||
            (layoutSize - kAudioChannelLayoutHeaderSize) / sizeof(AudioChannelDescription) <
                layout->mNumberChannelDescriptions)
            return paramErr;
    }
    const double rate = asbd->mSampleRate;
    if (!(rate > 0.0) || !std::isfinite(rate)) return paramErr;

    const bool interleaved = (asbd->mFormatFlags & kAudioFormatFlagIsNonInterleaved) == 0;
    const bool fitsVersion1 =
        asbd->mChannelsPerFrame >= 1 && asbd->mChannelsPerFrame <= 2 && rate < 65536.0 && interleaved;
    const int16_t version = fitsVersion1 ? 1 : 2;
    const int32_t size = fixedSize(version);

    Handle h = NewHandleClear(size);
    if (!h) return memFullErr;
    uint8_t* d = reinterpret_cast<uint8_t*>(*h);
    put32(d, 0, uint32_t(size));
    put32(d, 4, asbd->mFormatID);
    put16(d, 14, 1); // data reference index
    put16(d, 16, version);
    if (version == 1) {
        put16(d, 24, int16_t(asbd->mChannelsPerFrame));
        put16(d, 26, int16_t(asbd->mBitsPerChannel > 0x7FFF ? 0 : asbd->mBitsPerChannel));
        put16(d, 28, int16_t(asbd->mFramesPerPacket == 1 ? 0 : -2));
        put32(d, 32, uint32_t(std::lround(rate * 65536.0)));
        put32(d, 36, asbd->mFramesPerPacket);
        put32(d, 40, asbd->mBytesPerPacket / asbd->mChannelsPerFrame);
        put32(d, 44, asbd->mBytesPerFrame);
        put32(d, 48, asbd->mBitsPerChannel / 8);
    } else {
        put16(d, 24, 3);
        put16(d, 26, 16);
        put16(d, 28, -2);
        put32(d, 32, 0x00010000u);
        put32(d, 36, uint32_t(kSoundDescriptionV2Size));
        std::memcpy(d + 40, &rate, sizeof rate);
        put32(d, 48, asbd->mChannelsPerFrame);
        put32(d, 52, 0x7F000000u);
        put32(d, 56, asbd->mBitsPerChannel);
        put32(d, 60, asbd->mFormatFlags);
        put32(d, 64, asbd->mBytesPerPacket);
        put32(d, 68, asbd->mFramesPerPacket);
    }
    bool ok = true;
    if (magicCookieSize)
        ok = appendExtension(h, kSoundDescriptionExtension_Decompression, magicCookie, magicCookieSize);
    if (ok && layoutSize)
        ok = appendExtension(h, kSoundDescriptionExtension_ChannelLayout, layout, layoutSize);
    if (!ok) {
        DisposeHandle(h);
        return memFullErr;
    }
    // The description's size covers its extensions.
    const uint32_t total = uint32_t(GetHandleSize(h));
    std::memcpy(*h, &total, sizeof total);
    *outDesc = reinterpret_cast<SoundDescriptionHandle>(h);
    return noErr;
}

OSErr GetSoundDescriptionExtension(SoundDescriptionHandle desc, Handle* extension, OSType idType) {
    if (extension) *extension = nullptr;
    if (!desc || !*desc || !extension) return paramErr;
    const Handle h = reinterpret_cast<Handle>(desc);
    const int32_t handleSize = GetHandleSize(h);
    if (handleSize < kSoundDescriptionV0Size) return paramErr;
    const uint8_t* d = reinterpret_cast<const uint8_t*>(*h);
    int32_t declared = 0;
    int16_t version = 0;
    std::memcpy(&declared, d, sizeof declared);
    std::memcpy(&version, d + 16, sizeof version);
    const int32_t start = fixedSize(version);
    if (start == 0 || declared < start || declared > handleSize) return paramErr;
    // Every size comes from the description: each one is checked against what remains.
    int32_t at = start;
    while (declared - at >= kExtensionHeaderSize) {
        const uint32_t size = platform::loadBE32(d + at);
        const uint32_t type = platform::loadBE32(d + at + 4);
        if (size < uint32_t(kExtensionHeaderSize) || size > uint32_t(declared - at)) return paramErr;
        if (type == idType) {
            Handle out = nullptr;
            const OSErr err =
                PtrToHand(d + at + kExtensionHeaderSize, &out, Size(size) - kExtensionHeaderSize);
            if (err != noErr) return err;
            *extension = out;
            return noErr;
        }
        at += int32_t(size);
    }
    return cannotFindAtomErr;
}

// ---------------------------------------------------------------------------------------------
// The sound description's properties.

namespace {

constexpr uint32_t kGet = kComponentPropertyFlagCanGetNow | kComponentPropertyFlagCanGetLater;
constexpr uint32_t kGetSet = kGet | kComponentPropertyFlagCanSetNow | kComponentPropertyFlagCanSetLater;

// Where a description's extensions lie: from the end of its fixed part to its declared size,
// each a big-endian size (header included) and type; false when the sizes do not add up.
struct Extent {
    int32_t start = 0, end = 0;
};
bool extensionsOf(const uint8_t* d, int32_t handleSize, Extent& out) {
    if (handleSize < kSoundDescriptionV0Size) return false;
    int32_t declared = 0;
    int16_t version = 0;
    std::memcpy(&declared, d, sizeof declared);
    std::memcpy(&version, d + 16, sizeof version);
    out.start = fixedSize(version);
    out.end = declared;
    return out.start != 0 && declared >= out.start && declared <= handleSize;
}

// The extension of the type: offset of its data and its size; false when there is none.
bool findExtension(const uint8_t* d, const Extent& e, OSType type, int32_t* at, int32_t* size) {
    for (int32_t p = e.start; e.end - p >= kExtensionHeaderSize;) {
        const uint32_t n = platform::loadBE32(d + p);
        if (n < uint32_t(kExtensionHeaderSize) || n > uint32_t(e.end - p)) return false;
        if (platform::loadBE32(d + p + 4) == type) {
            *at = p + kExtensionHeaderSize;
            *size = int32_t(n) - kExtensionHeaderSize;
            return true;
        }
        p += int32_t(n);
    }
    return false;
}

// What the description says of its stream.
struct SoundFacts {
    AudioStreamBasicDescription asbd{};
    OSType format = 0; // as the description names it
    std::vector<uint8_t> cookie, layout;
};

uint32_t get32(const uint8_t* d, int offset) {
    uint32_t v = 0;
    std::memcpy(&v, d + offset, sizeof v);
    return v;
}
int16_t get16(const uint8_t* d, int offset) {
    int16_t v = 0;
    std::memcpy(&v, d + offset, sizeof v);
    return v;
}

// Whether the codec data of a 'wave' extension holds an 'enda' atom saying little-endian.
bool waveSaysLittleEndian(const std::vector<uint8_t>& wave) {
    for (size_t p = 0; wave.size() - p >= 8;) {
        const uint32_t n = platform::loadBE32(wave.data() + p);
        if (n < 8 || n > wave.size() - p) return false;
        if (platform::loadBE32(wave.data() + p + 4) == FOUR_CHAR_CODE("enda") && n >= 10)
            return (wave[p + 8] | wave[p + 9]) != 0;
        p += n;
    }
    return false;
}

bool readFacts(SoundDescriptionHandle desc, SoundFacts& f) {
    if (!desc || !*desc) return false;
    const Handle h = reinterpret_cast<Handle>(desc);
    const uint8_t* d = reinterpret_cast<const uint8_t*>(*h);
    Extent e;
    if (!extensionsOf(d, GetHandleSize(h), e)) return false;
    const int16_t version = get16(d, 16);
    f.format = get32(d, 4);
    AudioStreamBasicDescription& a = f.asbd;
    uint32_t flags = 0, bytesPerPacket = 0, framesPerPacket = 0, bits = 0;
    if (version == 2) {
        std::memcpy(&a.mSampleRate, d + 40, sizeof a.mSampleRate);
        a.mChannelsPerFrame = get32(d, 48);
        bits = get32(d, 56);
        flags = get32(d, 60);
        bytesPerPacket = get32(d, 64);
        framesPerPacket = get32(d, 68);
    } else {
        a.mSampleRate = get32(d, 32) / 65536.0;
        a.mChannelsPerFrame = uint32_t(std::max<int16_t>(get16(d, 24), 0));
        bits = uint32_t(std::max<int16_t>(get16(d, 26), 0));
        if (version == 1) {
            framesPerPacket = get32(d, 36);
            bytesPerPacket = get32(d, 44); // the v1 field counts every channel
        }
    }
    if (f.format == 0 || a.mChannelsPerFrame == 0 || !(a.mSampleRate > 0.0) || !std::isfinite(a.mSampleRate))
        return false;
    int32_t at = 0, size = 0;
    if (findExtension(d, e, kSoundDescriptionExtension_Decompression, &at, &size))
        f.cookie.assign(d + at, d + at + size);
    if (findExtension(d, e, kSoundDescriptionExtension_ChannelLayout, &at, &size) &&
        size >= int32_t(kAudioChannelLayoutHeaderSize) &&
        uint32_t(size - kAudioChannelLayoutHeaderSize) / sizeof(AudioChannelDescription) >= get32(d + at, 8))
        f.layout.assign(d + at, d + at + size);

    // Uncompressed sound: the format names the sample's kind; some name its size as well.
    const bool little = waveSaysLittleEndian(f.cookie);
    uint32_t pcm = 0; // flags of an uncompressed format
    const uint32_t sint = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
    const uint32_t flt = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
    const uint32_t be = kAudioFormatFlagIsBigEndian;
    switch (f.format) {
    case FOUR_CHAR_CODE("raw "):
        pcm = kAudioFormatFlagIsPacked;
        break;
    case FOUR_CHAR_CODE("twos"):
    case FOUR_CHAR_CODE("NONE"):
        pcm = sint | (bits > 8 ? be : 0);
        break;
    case FOUR_CHAR_CODE("sowt"):
        pcm = sint;
        break;
    case FOUR_CHAR_CODE("in24"):
        bits = 24, pcm = sint | (little ? 0 : be);
        break;
    case FOUR_CHAR_CODE("in32"):
        bits = 32, pcm = sint | (little ? 0 : be);
        break;
    case FOUR_CHAR_CODE("fl32"):
        bits = 32, pcm = flt | (little ? 0 : be);
        break;
    case FOUR_CHAR_CODE("fl64"):
        bits = 64, pcm = flt | (little ? 0 : be);
        break;
    case kAudioFormatLinearPCM:
        pcm = flags ? flags : sint;
        break;
    default:
        break;
    }
    if (pcm) {
        if (bits == 0 || bits % 8 != 0) return false;
        a.mFormatID = kAudioFormatLinearPCM;
        a.mFormatFlags = pcm;
        a.mBitsPerChannel = bits;
        a.mBytesPerFrame = a.mChannelsPerFrame * (bits / 8);
        a.mFramesPerPacket = 1;
        a.mBytesPerPacket = a.mBytesPerFrame;
    } else {
        // Compressed sound: packets of the sizes the description fixes, where it does.
        a.mFormatID = f.format;
        a.mFormatFlags = version == 2 ? flags : 0;
        a.mFramesPerPacket = framesPerPacket;
        a.mBytesPerPacket = bytesPerPacket;
        a.mBytesPerFrame = 0;
        a.mBitsPerChannel = version == 2 ? bits : 0;
        if (f.format == FOUR_CHAR_CODE("ulaw") || f.format == FOUR_CHAR_CODE("alaw")) {
            a.mFramesPerPacket = 1;
            a.mBytesPerPacket = a.mBytesPerFrame = a.mChannelsPerFrame;
            a.mBitsPerChannel = 8;
        }
    }
    if (f.layout.empty()) {
        const uint32_t n = a.mChannelsPerFrame;
        const uint32_t header[3] = {n == 1   ? kAudioChannelLayoutTag_Mono
                                    : n == 2 ? kAudioChannelLayoutTag_Stereo
                                             : kAudioChannelLayoutTag_DiscreteInOrder | (n & 0xFFFF),
                                    0, 0};
        const auto* p = reinterpret_cast<const uint8_t*>(header);
        f.layout.assign(p, p + sizeof header);
    }
    return true;
}

uint32_t bitRateOf(const AudioStreamBasicDescription& a) {
    if (a.mBytesPerPacket == 0 || a.mFramesPerPacket == 0) return 0;
    const double rate = a.mSampleRate * 8.0 * a.mBytesPerPacket / a.mFramesPerPacket;
    return rate < 4294967295.0 ? uint32_t(std::lround(rate)) : 0;
}

std::string summaryOf(const SoundFacts& f) {
    const AudioStreamBasicDescription& a = f.asbd;
    char kind[64];
    if (a.mFormatID == kAudioFormatLinearPCM) {
        const char* order = a.mBitsPerChannel <= 8                           ? ""
                            : (a.mFormatFlags & kAudioFormatFlagIsBigEndian) ? " (Big Endian)"
                                                                             : " (Little Endian)";
        std::snprintf(kind, sizeof kind, "%u-bit %s%s", a.mBitsPerChannel,
                      (a.mFormatFlags & kAudioFormatFlagIsFloat) ? "Float" : "Integer", order);
    } else {
        const uint32_t c = a.mFormatID;
        std::snprintf(kind, sizeof kind, "'%c%c%c%c'", char(c >> 24), char(c >> 16), char(c >> 8), char(c));
    }
    char channels[32];
    if (a.mChannelsPerFrame == 1)
        std::snprintf(channels, sizeof channels, "Mono");
    else if (a.mChannelsPerFrame == 2)
        std::snprintf(channels, sizeof channels, "Stereo");
    else
        std::snprintf(channels, sizeof channels, "%u channels", a.mChannelsPerFrame);
    char text[160];
    std::snprintf(text, sizeof text, "%s, %s, %.3f kHz", kind, channels, a.mSampleRate / 1000.0);
    return text;
}

// Replaces the extension of the type (or adds it at the end) with the bytes; the description's
// size follows. The handle is resized, so the description may move.
OSStatus replaceExtension(SoundDescriptionHandle desc, OSType type, const void* data, uint32_t size) {
    const Handle h = reinterpret_cast<Handle>(desc);
    const uint8_t* d = reinterpret_cast<const uint8_t*>(*h);
    Extent e;
    if (!extensionsOf(d, GetHandleSize(h), e)) return paramErr;
    std::vector<uint8_t> bytes(d, d + e.end);
    int32_t at = 0, old = 0;
    if (findExtension(d, e, type, &at, &old)) {
        bytes.erase(bytes.begin() + (at - kExtensionHeaderSize), bytes.begin() + at + old);
    }
    uint8_t header[kExtensionHeaderSize];
    platform::storeBE32(header, size + kExtensionHeaderSize);
    platform::storeBE32(header + 4, type);
    bytes.insert(bytes.end(), header, header + kExtensionHeaderSize);
    const auto* p = static_cast<const uint8_t*>(data);
    bytes.insert(bytes.end(), p, p + size);
    const int32_t trailing = GetHandleSize(h) - e.end; // anything after the declared size stays
    std::vector<uint8_t> rest(d + e.end, d + e.end + trailing);
    const uint32_t total = uint32_t(bytes.size());
    std::memcpy(bytes.data(), &total, sizeof total);
    SetHandleSize(h, Size(bytes.size() + rest.size()));
    if (MemError() != noErr) return memFullErr;
    std::memcpy(*h, bytes.data(), bytes.size());
    if (!rest.empty()) std::memcpy(*h + bytes.size(), rest.data(), rest.size());
    return noErr;
}

// The property's value as the description holds it, with its type and flags.
struct Answer {
    OSType type = 0;
    uint32_t flags = 0;
    std::vector<uint8_t> bytes;
    CFStringRef text = nullptr; // 'text': made when the value is read
};

template <class T> void put(Answer& a, const T& v) {
    a.bytes.resize(sizeof v);
    std::memcpy(a.bytes.data(), &v, sizeof v);
}

OSStatus answerOf(SoundDescriptionHandle desc, ComponentPropertyClass cls, ComponentPropertyID id,
                  const SoundFacts& f, Answer& a) {
    if (cls != kQTPropertyClass_SoundDescription) return kQTPropertyNotSupportedErr;
    switch (id) {
    case kQTSoundDescriptionPropertyID_AudioStreamBasicDescription:
        a = {FOUR_CHAR_CODE("asbd"), kGet, {}, nullptr};
        put(a, f.asbd);
        return noErr;
    case kQTSoundDescriptionPropertyID_MagicCookie:
        a = {FOUR_CHAR_CODE("kuki"), kGetSet, f.cookie, nullptr};
        return noErr;
    case kQTSoundDescriptionPropertyID_AudioChannelLayout:
        a = {FOUR_CHAR_CODE("clay"), kGetSet, f.layout, nullptr};
        return noErr;
    case kQTSoundDescriptionPropertyID_SummaryString:
        a = {FOUR_CHAR_CODE("cfst"), kGet | kComponentPropertyFlagValueMustBeReleased, {}, nullptr};
        a.bytes.resize(sizeof(CFStringRef));
        return noErr;
    case kQTSoundDescriptionPropertyID_BitRate: {
        const uint32_t rate = bitRateOf(f.asbd);
        if (!rate) return kQTPropertyNotSupportedErr;
        a = {FOUR_CHAR_CODE("UInt"), kGet, {}, nullptr};
        put(a, rate);
        return noErr;
    }
    default:
        (void)desc;
        return kQTPropertyNotSupportedErr;
    }
}

bool stored(SoundDescriptionHandle desc, ComponentPropertyClass cls, ComponentPropertyID id) {
    uint32_t size = 0;
    return platform::storedPropertyInfo(desc, cls, id, nullptr, &size, nullptr) == noErr;
}

} // namespace

OSStatus QTSoundDescriptionGetPropertyInfo(SoundDescriptionHandle desc, ComponentPropertyClass cls,
                                           ComponentPropertyID id, ComponentValueType* type, ByteCount* size,
                                           UInt32* flags) {
    if (stored(desc, cls, id)) return platform::storedPropertyInfo(desc, cls, id, type, size, flags);
    if (!desc) return paramErr;
    SoundFacts f;
    if (!readFacts(desc, f)) return kQTPropertyNotSupportedErr;
    Answer a;
    if (OSStatus err = answerOf(desc, cls, id, f, a)) return err;
    if (type) *type = a.type;
    if (size) *size = ByteCount(a.bytes.size());
    if (flags) *flags = a.flags;
    return noErr;
}

OSStatus QTSoundDescriptionGetProperty(SoundDescriptionHandle desc, ComponentPropertyClass cls,
                                       ComponentPropertyID id, ByteCount size, ComponentValuePtr value,
                                       ByteCount* sizeUsed) {
    if (stored(desc, cls, id)) return platform::storedPropertyGet(desc, cls, id, size, value, sizeUsed);
    if (sizeUsed) *sizeUsed = 0;
    if (!desc || !value) return paramErr;
    SoundFacts f;
    if (!readFacts(desc, f)) return kQTPropertyNotSupportedErr;
    Answer a;
    if (OSStatus err = answerOf(desc, cls, id, f, a)) return err;
    if (size < a.bytes.size()) return kQTPropertyBadValueSizeErr;
    if (id == kQTSoundDescriptionPropertyID_SummaryString) {
        CFStringRef text =
            CFStringCreateWithCString(nullptr, summaryOf(f).c_str(), kCFStringEncodingMacRoman);
        if (!text) return memFullErr;
        std::memcpy(value, &text, sizeof text);
    } else if (!a.bytes.empty()) {
        std::memcpy(value, a.bytes.data(), a.bytes.size());
    }
    if (sizeUsed) *sizeUsed = ByteCount(a.bytes.size());
    return noErr;
}

OSStatus QTSoundDescriptionSetProperty(SoundDescriptionHandle desc, ComponentPropertyClass cls,
                                       ComponentPropertyID id, ByteCount size, ConstComponentValuePtr value) {
    if (stored(desc, cls, id)) return platform::storedPropertySet(desc, cls, id, size, value);
    if (!desc || (!value && size > 0)) return paramErr;
    SoundFacts f;
    if (!readFacts(desc, f)) return kQTPropertyNotSupportedErr;
    Answer a;
    if (OSStatus err = answerOf(desc, cls, id, f, a)) return err;
    if (!(a.flags & kComponentPropertyFlagCanSetNow)) return kQTPropertyReadOnlyErr;
    if (size > uint32_t(INT32_MAX / 2)) return kQTPropertyBadValueSizeErr;
    if (id == kQTSoundDescriptionPropertyID_AudioChannelLayout) {
        // A layout must hold the descriptions it counts.
        uint32_t count = 0;
        if (size < kAudioChannelLayoutHeaderSize) return kQTPropertyBadValueSizeErr;
        std::memcpy(&count, static_cast<const uint8_t*>(value) + 8, sizeof count);
        if ((size - kAudioChannelLayoutHeaderSize) / sizeof(AudioChannelDescription) < count)
            return kQTPropertyBadValueSizeErr;
        return replaceExtension(desc, kSoundDescriptionExtension_ChannelLayout, value, uint32_t(size));
    }
    return replaceExtension(desc, kSoundDescriptionExtension_Decompression, value, uint32_t(size));
}
