// Audio records as the platform lays them out: the basic description of an audio stream, one
// channel's description and a channel layout, with the flags, labels and tags the toolkit uses.
// Sound sample descriptions are made from them here, with their codec data and layout kept as
// extensions after the description's fields.
#pragma once

#include "PlatformDescriptions.h"
#include "PlatformObjects.h"
#include "PlatformMemory.h"
#include "PlatformTypes.h"

struct AudioStreamBasicDescription {
    double mSampleRate;
    uint32_t mFormatID;
    uint32_t mFormatFlags;
    uint32_t mBytesPerPacket;
    uint32_t mFramesPerPacket;
    uint32_t mBytesPerFrame;
    uint32_t mChannelsPerFrame;
    uint32_t mBitsPerChannel;
    uint32_t mReserved;
};
static_assert(sizeof(AudioStreamBasicDescription) == 40);

struct AudioChannelDescription {
    uint32_t mChannelLabel;
    uint32_t mChannelFlags;
    float mCoordinates[3];
};
static_assert(sizeof(AudioChannelDescription) == 20);

// A header of three words followed by mNumberChannelDescriptions descriptions; the record holds
// room for one.
struct AudioChannelLayout {
    uint32_t mChannelLayoutTag;
    uint32_t mChannelBitmap;
    uint32_t mNumberChannelDescriptions;
    AudioChannelDescription mChannelDescriptions[1];
};
static_assert(sizeof(AudioChannelLayout) == 32);
constexpr uint32_t kAudioChannelLayoutHeaderSize = 12;

enum : uint32_t {
    kAudioFormatFlagIsFloat = 1u << 0,
    kAudioFormatFlagIsBigEndian = 1u << 1,
    kAudioFormatFlagIsSignedInteger = 1u << 2,
    kAudioFormatFlagIsPacked = 1u << 3,
    kAudioFormatFlagIsAlignedHigh = 1u << 4,
    kAudioFormatFlagIsNonInterleaved = 1u << 5,
};

enum : uint32_t {
    kAudioChannelLabel_Unused = 0,
    kAudioChannelLabel_UseCoordinates = 100,
    kAudioChannelLabel_Unknown = 0xFFFFFFFFu,
};

enum : uint32_t {
    kAudioChannelFlags_RectangularCoordinates = 1u << 0,
    kAudioChannelFlags_SphericalCoordinates = 1u << 1,
    kAudioChannelFlags_Meters = 1u << 2,
};

enum : uint32_t {
    kAudioChannelLayoutTag_UseChannelDescriptions = 0,
    kAudioChannelLayoutTag_UseChannelBitmap = 0x10000,
    kAudioChannelLayoutTag_Stereo = (101u << 16) | 2,
};

// Properties of sound descriptions (class 'sdes'), answered from the description's fields and
// extensions (PlatformAudio.cpp), or from a value the layer that made the description gave it
// through the property store (PlatformProperties.h):
// - 'asbd' the stream's basic description (read only); uncompressed formats ('raw ', 'twos',
//   'sowt', 'NONE', 'in24', 'in32', 'fl32', 'fl64', 'lpcm') as 'lpcm' with the flags of their
//   kind, the sample size of 'in24' and the like from the format, their byte order from the
//   'enda' atom of the 'wave' extension;
// - 'kuki' the codec's data, the 'wave' extension's bytes (empty without one), read and write;
// - 'clay' the channel layout: the 'chan' extension, else mono, stereo or channels in order by
//   the channel count, read and write;
// - 'text' a summary as a new platform string the caller releases (read only);
// - 'brat' the bit rate in bits a second, where the description fixes it (read only).
// A description whose format, rate or channel count is missing or whose sizes do not add up
// answers none of them (kQTPropertyNotSupportedErr).
constexpr OSType kQTPropertyClass_SoundDescription = FOUR_CHAR_CODE("sdes");
constexpr OSType kQTSoundDescriptionPropertyID_AudioStreamBasicDescription = FOUR_CHAR_CODE("asbd");
constexpr OSType kQTSoundDescriptionPropertyID_MagicCookie = FOUR_CHAR_CODE("kuki");
constexpr OSType kQTSoundDescriptionPropertyID_AudioChannelLayout = FOUR_CHAR_CODE("clay");
constexpr OSType kQTSoundDescriptionPropertyID_SummaryString = FOUR_CHAR_CODE("text");
constexpr OSType kQTSoundDescriptionPropertyID_BitRate = FOUR_CHAR_CODE("brat");

constexpr uint32_t kAudioFormatLinearPCM = FOUR_CHAR_CODE("lpcm");
constexpr uint32_t kAudioChannelLayoutTag_Mono = (100u << 16) | 1;
constexpr uint32_t kAudioChannelLayoutTag_DiscreteInOrder = 147u << 16;

// Whatever version of description a movie needs.
constexpr OSType kQTSoundDescriptionKind_Movie_AnyVersion = FOUR_CHAR_CODE("mvny");

// Extensions of a sound description: the codec's data ('wave') and the channel layout ('chan').
constexpr OSType kSoundDescriptionExtension_Decompression = FOUR_CHAR_CODE("wave");
constexpr OSType kSoundDescriptionExtension_ChannelLayout = FOUR_CHAR_CODE("chan");

// The fixed part of each version of sound description.
constexpr int32_t kSoundDescriptionV0Size = 36;
constexpr int32_t kSoundDescriptionV1Size = 52;
constexpr int32_t kSoundDescriptionV2Size = 72;

// A new sound description (owned by the caller) for the stream, with the layout and the codec's
// magic cookie (either may be absent) as extensions. Version 1 when the stream fits its fields
// (at most two interleaved channels, a rate below 65536), else version 2. paramErr for a null
// stream or result, a size without bytes, or another kind than kQTSoundDescriptionKind_Movie_AnyVersion.
OSStatus QTSoundDescriptionCreate(const AudioStreamBasicDescription* asbd, const AudioChannelLayout* layout,
                                  ByteCount layoutSize, const void* magicCookie, ByteCount magicCookieSize,
                                  OSType descriptionKind, SoundDescriptionHandle* outDesc);

// A new handle (owned by the caller) with the data of the description's extension `idType`;
// cannotFindAtomErr when it has none, paramErr for a null argument or a description whose sizes
// do not add up.
OSErr GetSoundDescriptionExtension(SoundDescriptionHandle desc, Handle* extension, OSType idType);
