#include "KelvoCoreVideoDataDescriptors.h"

#include "PlatformMemory.h"

#include <cstddef>
#include <cstring>

#define IMG_FIELD(name) Size(offsetof(ImageDescription, name))

Kelvo_ImgDesc::Kelvo_ImgDesc() : Kelvo_SmpDescriptor(kImageDescriptionSize) {
    setDefaults();
}

Kelvo_ImgDesc::Kelvo_ImgDesc(const Kelvo_ImgDesc& other) : Kelvo_SmpDescriptor(other) {}

void Kelvo_ImgDesc::setDefaults() {
    if (!_desc) {
        _descriptorSize = kImageDescriptionSize;
        Kelvo_SmpDescriptor::init();
        if (!_desc) return;
    }
    if (GetHandleSize(_desc) < kImageDescriptionSize) {
        SetHandleSize(_desc, kImageDescriptionSize);
        if (MemError() != noErr) {
            _status = MemError();
            return;
        }
    }
    ImageDescription d{};
    d.idSize = kImageDescriptionSize;
    d.hRes = 0x00480000; // 72.0
    d.vRes = 0x00480000;
    d.frameCount = 1;
    d.spatialQuality = 512;
    d.temporalQuality = 512;
    d.clutID = -1;
    std::memcpy(*_desc, &d, sizeof d);
}

void Kelvo_ImgDesc::defaultStatus() {
    setDefaults();
}

Kelvo_QTObj* Kelvo_ImgDesc::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new Kelvo_ImgDesc(*this);
}

bool Kelvo_ImgDesc::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_SmpDescriptor::isA(name) || std::strcmp(name, "Kelvo_ImgDesc") == 0;
}

int16_t Kelvo_ImgDesc::qtWidth() {
    return field<int16_t>(IMG_FIELD(width));
}
void Kelvo_ImgDesc::qtWidth(int16_t width) {
    field(IMG_FIELD(width), width);
}
int16_t Kelvo_ImgDesc::qtHeight() {
    return field<int16_t>(IMG_FIELD(height));
}
void Kelvo_ImgDesc::qtHeight(int16_t height) {
    field(IMG_FIELD(height), height);
}
int16_t Kelvo_ImgDesc::qtDepth() {
    return field<int16_t>(IMG_FIELD(depth));
}
void Kelvo_ImgDesc::qtDepth(int16_t depth) {
    if (depth > 0) field(IMG_FIELD(depth), depth);
}
uint32_t Kelvo_ImgDesc::qtSpatialQuality() {
    return field<uint32_t>(IMG_FIELD(spatialQuality));
}
void Kelvo_ImgDesc::qtSpatialQuality(uint32_t quality) {
    field(IMG_FIELD(spatialQuality), quality);
}
uint32_t Kelvo_ImgDesc::qtTemporalQuality() {
    return field<uint32_t>(IMG_FIELD(temporalQuality));
}
int16_t Kelvo_ImgDesc::qtFrameCount() {
    return field<int16_t>(IMG_FIELD(frameCount));
}
void Kelvo_ImgDesc::qtFrameCount(int16_t count) {
    field(IMG_FIELD(frameCount), count);
}
int32_t Kelvo_ImgDesc::qtDataSize() {
    return field<int32_t>(IMG_FIELD(dataSize));
}
void Kelvo_ImgDesc::qtDataSize(int32_t size) {
    field(IMG_FIELD(dataSize), size);
}
Fixed Kelvo_ImgDesc::qtFixHRes() {
    return field<Fixed>(IMG_FIELD(hRes));
}
Fixed Kelvo_ImgDesc::qtFixVRes() {
    return field<Fixed>(IMG_FIELD(vRes));
}
int16_t Kelvo_ImgDesc::qtClutID() {
    return field<int16_t>(IMG_FIELD(clutID));
}
