// Records that describe media samples and pictures, as the platform lays them out in handles.
// They are held in native byte order in memory.
#pragma once

#include "PlatformMemory.h"
#include "PlatformTypes.h"

#pragma pack(push, 2)

// The generic head of every sample description.
struct SampleDescription {
    int32_t descSize;
    OSType dataFormat;
    int32_t resvd1;
    int16_t resvd2;
    int16_t dataRefIndex;
};
static_assert(sizeof(SampleDescription) == 16);

struct ImageDescription {
    int32_t idSize;
    OSType cType;
    int32_t resvd1;
    int16_t resvd2;
    int16_t dataRefIndex;
    int16_t version;
    int16_t revisionLevel;
    int32_t vendor;
    uint32_t temporalQuality;
    uint32_t spatialQuality;
    int16_t width;
    int16_t height;
    Fixed hRes;
    Fixed vRes;
    int32_t dataSize;
    int16_t frameCount;
    unsigned char name[32];
    int16_t depth;
    int16_t clutID;
};
static_assert(sizeof(ImageDescription) == 86);

struct SoundDescription {
    int32_t descSize;
    OSType dataFormat;
    int32_t resvd1;
    int16_t resvd2;
    int16_t dataRefIndex;
    int16_t version;
    int16_t revlevel;
    int32_t vendor;
    int16_t numChannels;
    int16_t sampleSize;
    int16_t compressionID;
    int16_t packetSize;
    uint32_t sampleRate; // unsigned 16.16
};
static_assert(sizeof(SoundDescription) == 36);

struct Picture {
    int16_t picSize;
    Rect picFrame;
};
static_assert(sizeof(Picture) == 10);

#pragma pack(pop)

using SampleDescriptionPtr = SampleDescription*;
using SampleDescriptionHandle = SampleDescription**;
using ImageDescriptionPtr = ImageDescription*;
using ImageDescriptionHandle = ImageDescription**;
using SoundDescriptionPtr = SoundDescription*;
using SoundDescriptionHandle = SoundDescription**;
using PicPtr = Picture*;
using PicHandle = Picture**;

// The picture's frame; a null or short handle gives the empty rectangle and paramErr.
OSErr QDGetPictureBounds(PicHandle picture, Rect* bounds);
