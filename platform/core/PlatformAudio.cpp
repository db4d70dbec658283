#include "PlatformAudio.h"

#include "PlatformEndian.h"

#include <cmath>
#include <cstring>

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
