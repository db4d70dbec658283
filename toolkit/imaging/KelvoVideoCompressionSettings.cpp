#include "KelvoVideoCompressionSettings.h"

#include "PlatformEndian.h"
#include "PlatformMemory.h"

#include <cstring>

namespace {

constexpr int kRead = 0;
constexpr int kWrite = 1;

// The size of a child's record; 0 for a type that is not a settings child.
int32_t recordSize(QTAtomType type) {
    switch (type) {
    case kQTSettingsSpatial:
        return kQTSettingsSpatialSize;
    case kQTSettingsTemporal:
        return kQTSettingsTemporalSize;
    case kQTSettingsDataRate:
        return kQTSettingsDataRateSize;
    case kQTSettingsCleanWidth:
    case kQTSettingsCleanHeight:
        return kQTSettingsDimensionSize;
    default:
        return 0;
    }
}

QTAtom videoAtom(QTAtomContainer container) {
    return QTFindChildByIndex(container, kParentAtomIsContainer, kQTSettingsVideo, 1, nullptr);
}

// A scratch handle that frees itself.
class Scratch {
  public:
    Scratch() : _h(NewHandle(0)) {}
    ~Scratch() {
        if (_h) DisposeHandle(_h);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    Handle get() const { return _h; }
    const uint8_t* bytes() const { return reinterpret_cast<const uint8_t*>(*_h); }

  private:
    Handle _h;
};

// Reads child `type` into `scratch`, requiring exactly `size` bytes.
int16_t readRecord(QTAtomContainer container, QTAtomType type, int32_t size, Scratch& scratch) {
    if (!scratch.get()) return memFullErr;
    const int16_t err = VideoSettingsGetDataAtomType(container, type, scratch.get());
    if (err != noErr) return err;
    return GetHandleSize(scratch.get()) == size ? int16_t(noErr) : int16_t(cannotFindAtomErr);
}

} // namespace

int16_t VideoSettingsGetDataAtomType(QTAtomContainer container, QTAtomType type, Handle out) {
    if (!container || !out || recordSize(type) == 0) return paramErr;
    const QTAtom video = videoAtom(container);
    if (!video) return cannotFindAtomErr;
    const QTAtom child = QTFindChildByIndex(container, video, type, 1, nullptr);
    if (!child) return cannotFindAtomErr;
    return QTCopyAtomDataToHandle(container, child, out);
}

int16_t VideoSettingsSetDataAtomType(QTAtomContainer container, QTAtomType type, void* data) {
    const int32_t size = recordSize(type);
    if (!container || !data || size == 0) return paramErr;
    const QTAtom video = videoAtom(container);
    if (!video) return cannotFindAtomErr;
    uint8_t bytes[kQTSettingsDataRateSize];
    std::memcpy(bytes, data, size_t(size));
    if (type == kQTSettingsCleanWidth || type == kQTSettingsCleanHeight) {
        Fixed value;
        std::memcpy(&value, data, sizeof value);
        platform::storeBE32(bytes, uint32_t(value));
    }
    const QTAtom child = QTFindChildByIndex(container, video, type, 1, nullptr);
    if (child) return QTSetAtomData(container, child, size, bytes);
    return QTInsertChild(container, video, type, 0, 1, size, bytes, nullptr);
}

int16_t QTSettings_DimensionsValues(QTAtomContainer container, Fixed* width, Fixed* height, int mode) {
    if (!container) return paramErr;
    if (mode == kWrite) {
        if (height) {
            if (int16_t err = VideoSettingsSetDataAtomType(container, kQTSettingsCleanHeight, height))
                return err;
        }
        if (width) return VideoSettingsSetDataAtomType(container, kQTSettingsCleanWidth, width);
        return noErr;
    }
    if (mode != kRead) return noErr;
    Scratch scratch;
    if (!scratch.get()) return memFullErr;
    if (height) {
        if (int16_t err = readRecord(container, kQTSettingsCleanHeight, kQTSettingsDimensionSize, scratch))
            return err;
        *height = Fixed(platform::loadBE32(scratch.bytes()));
    }
    if (width) {
        if (int16_t err = readRecord(container, kQTSettingsCleanWidth, kQTSettingsDimensionSize, scratch))
            return err;
        *width = Fixed(platform::loadBE32(scratch.bytes()));
    }
    return noErr;
}

int16_t SpatialSettingsValues(QTAtomContainer container, uint32_t* codecType, uint32_t* spatialQuality,
                              int16_t* depth, int mode) {
    if (!container) return paramErr;
    if (mode == kWrite) {
        uint8_t record[kQTSettingsSpatialSize] = {0};
        if (codecType) platform::storeBE32(record + 0, *codecType);
        if (depth) platform::storeBE16(record + 8, uint16_t(*depth));
        if (spatialQuality) platform::storeBE32(record + 10, *spatialQuality);
        return VideoSettingsSetDataAtomType(container, kQTSettingsSpatial, record);
    }
    if (mode != kRead) return noErr;
    Scratch scratch;
    if (int16_t err = readRecord(container, kQTSettingsSpatial, kQTSettingsSpatialSize, scratch)) return err;
    const uint8_t* b = scratch.bytes();
    if (codecType) *codecType = platform::loadBE32(b + 0);
    if (depth) *depth = int16_t(platform::loadBE16(b + 8));
    if (spatialQuality) *spatialQuality = platform::loadBE32(b + 10);
    return noErr;
}

void TemporalSettingsValues(QTAtomContainer container, uint32_t* temporalQuality, int32_t* keyFrameRate,
                            Fixed* frameRate, int mode) {
    if (!container) return;
    if (mode == kWrite) {
        uint8_t record[kQTSettingsTemporalSize] = {0};
        if (temporalQuality) platform::storeBE32(record + 0, *temporalQuality);
        if (frameRate) platform::storeBE32(record + 4, uint32_t(*frameRate));
        if (keyFrameRate) platform::storeBE32(record + 8, uint32_t(*keyFrameRate));
        VideoSettingsSetDataAtomType(container, kQTSettingsTemporal, record);
        return;
    }
    if (mode != kRead) return;
    Scratch scratch;
    if (readRecord(container, kQTSettingsTemporal, kQTSettingsTemporalSize, scratch) != noErr) return;
    const uint8_t* b = scratch.bytes();
    if (temporalQuality) *temporalQuality = platform::loadBE32(b + 0);
    if (frameRate) *frameRate = Fixed(platform::loadBE32(b + 4));
    if (keyFrameRate) *keyFrameRate = int32_t(platform::loadBE32(b + 8));
}

void DataRateSettingsValues(QTAtomContainer container, int32_t* dataRate, int32_t* frameDuration,
                            uint32_t* minSpatialQuality, uint32_t* minTemporalQuality, int mode) {
    if (!container) return;
    if (mode == kWrite) {
        uint8_t record[kQTSettingsDataRateSize] = {0};
        if (dataRate) platform::storeBE32(record + 0, uint32_t(*dataRate));
        if (frameDuration) platform::storeBE32(record + 4, uint32_t(*frameDuration));
        if (minSpatialQuality) platform::storeBE32(record + 8, *minSpatialQuality);
        if (minTemporalQuality) platform::storeBE32(record + 12, *minTemporalQuality);
        VideoSettingsSetDataAtomType(container, kQTSettingsDataRate, record);
        return;
    }
    if (mode != kRead) return;
    Scratch scratch;
    if (readRecord(container, kQTSettingsDataRate, kQTSettingsDataRateSize, scratch) != noErr) return;
    const uint8_t* b = scratch.bytes();
    if (dataRate) *dataRate = int32_t(platform::loadBE32(b + 0));
    if (frameDuration) *frameDuration = int32_t(platform::loadBE32(b + 4));
    if (minSpatialQuality) *minSpatialQuality = platform::loadBE32(b + 8);
    if (minTemporalQuality) *minTemporalQuality = platform::loadBE32(b + 12);
}
