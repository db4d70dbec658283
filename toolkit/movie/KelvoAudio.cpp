#include "KelvoAudio.h"

#include "KelvoCoreObjectsUtils.h"
#include "KelvoProperties.h"
#include "PlatformCF.h"
#include "PlatformEndian.h"
#include "PlatformErrors.h"
#include "PlatformMemory.h"
#include "PlatformMoviePlayback.h"
#include "PlatformPendingCalls.h"
#include "PlatformPendingDisplayCalls.h"
#include "PlatformProperties.h"

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr OSType kSoundCharacteristic = FOUR_CHAR_CODE("ears");

template <class T> T* newRecord() {
    T* p = static_cast<T*>(std::calloc(1, sizeof(T)));
    return p;
}

// A double truncated into 32 bits: NaN gives 0, values beyond the range its nearest limit.
int32_t truncToInt32(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return INT32_MAX;
    if (v <= -2147483648.0) return INT32_MIN;
    return int32_t(std::trunc(v));
}

// An unsigned 16.16 value of a double, clamped to what the field holds.
uint32_t toUnsignedFixed(double v) {
    if (!(v > 0.0)) return 0;
    const double scaled = v * 65536.0;
    if (scaled >= 4294967295.0) return 0xFFFFFFFFu;
    return uint32_t(scaled);
}

constexpr int kSettingsRead = 0;
constexpr int kSettingsWrite = 1;

// The first child of `type` under `parent`, copied into `out` (at most `size` bytes, the rest
// left 0); a missing child leaves `out` 0.
void readSetting(QTAtomContainer c, QTAtom parent, QTAtomType type, void* out, int32_t size) {
    std::memset(out, 0, size_t(size));
    const QTAtom atom = QTFindChildByIndex(c, parent, type, 1, nullptr);
    if (!atom) return;
    int32_t copied = 0;
    QTCopyAtomDataToPtr(c, atom, true, size, out, &copied);
}

OSErr writeSetting(QTAtomContainer c, QTAtom parent, QTAtomType type, const void* data, int32_t size) {
    const QTAtom atom = QTFindChildByIndex(c, parent, type, 1, nullptr);
    if (atom) return QTSetAtomData(c, atom, size, data);
    return QTInsertChild(c, parent, type, 0, 1, size, data, nullptr);
}

// The sound settings of a container: mode 0 reads all four (each missing one as 0), mode 1
// writes them. -50 for a null container or another mode, -2101 without 'soun'.
OSErr SoundSettingsValues(QTAtomContainer container, uint32_t& format, uint32_t& rate, int16_t& sampleSize,
                          int16_t& channels, int mode) {
    if (!container) return paramErr;
    const QTAtom sound = QTFindChildByIndex(container, kParentAtomIsContainer, kQTSettingsSound, 1, nullptr);
    if (!sound) return cannotFindAtomErr;
    if (mode == kSettingsRead) {
        uint8_t b4[4];
        uint8_t b2[2];
        readSetting(container, sound, kQTSettingsSoundFormat, b4, 4);
        format = platform::loadBE32(b4);
        readSetting(container, sound, kQTSettingsSoundRate, b4, 4);
        rate = platform::loadBE32(b4);
        readSetting(container, sound, kQTSettingsSoundSize, b2, 2);
        sampleSize = int16_t(platform::loadBE16(b2));
        readSetting(container, sound, kQTSettingsSoundChannels, b2, 2);
        channels = int16_t(platform::loadBE16(b2));
        return noErr;
    }
    if (mode != kSettingsWrite) return paramErr;
    uint8_t b4[4];
    uint8_t b2[2];
    platform::storeBE32(b4, format);
    OSErr err = writeSetting(container, sound, kQTSettingsSoundFormat, b4, 4);
    if (err != noErr) return err;
    platform::storeBE32(b4, rate);
    if ((err = writeSetting(container, sound, kQTSettingsSoundRate, b4, 4)) != noErr) return err;
    platform::storeBE16(b2, uint16_t(sampleSize));
    if ((err = writeSetting(container, sound, kQTSettingsSoundSize, b2, 2)) != noErr) return err;
    platform::storeBE16(b2, uint16_t(channels));
    return writeSetting(container, sound, kQTSettingsSoundChannels, b2, 2);
}

// Offsets of the sound description's fields.
constexpr Size kVersionOffset = 16;
constexpr Size kChannelsOffset = 24;
constexpr Size kSampleSizeOffset = 26;
constexpr Size kSampleRateOffset = 32;
constexpr Size kSamplesPerPacketOffset = 36;
constexpr Size kBytesPerPacketOffset = 40;
constexpr Size kBytesPerFrameOffset = 44;
constexpr Size kBytesPerSampleOffset = 48;
constexpr Size kV2RateOffset = 40;
constexpr Size kV2ChannelsOffset = 48;
constexpr Size kV2BitsOffset = 56;

} // namespace

// ---------------------------------------------------------------------------------------------
// Kelvo_AudioStreamDescriptor

Kelvo_AudioStreamDescriptor::Kelvo_AudioStreamDescriptor() {
    _desc = newRecord<AudioStreamBasicDescription>();
    if (!_desc) _status = memFullErr;
}

Kelvo_AudioStreamDescriptor::Kelvo_AudioStreamDescriptor(const AudioStreamBasicDescription* desc) {
    streamDescription(desc);
}

Kelvo_AudioStreamDescriptor::Kelvo_AudioStreamDescriptor(const Kelvo_AudioStreamDescriptor& other)
    : Kelvo_QTObj(other) {
    if (!other.qtObjIsValid()) return;
    streamDescription(other._desc);
    formatMagicCookie(other._cookie);
}

Kelvo_AudioStreamDescriptor&
Kelvo_AudioStreamDescriptor::operator=(const Kelvo_AudioStreamDescriptor& other) {
    if (&other == this) return *this;
    reset();
    if (other.qtObjIsValid()) {
        streamDescription(other._desc);
        formatMagicCookie(other._cookie);
    }
    return *this;
}

Kelvo_AudioStreamDescriptor::~Kelvo_AudioStreamDescriptor() {
    reset();
}

Kelvo_QTObj* Kelvo_AudioStreamDescriptor::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new (std::nothrow) Kelvo_AudioStreamDescriptor(*this);
}

bool Kelvo_AudioStreamDescriptor::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_QTObj::isA(name) || std::strcmp(name, "Kelvo_AudioStreamDescriptor") == 0;
}

void Kelvo_AudioStreamDescriptor::reset() {
    std::free(_desc);
    _desc = nullptr;
    if (_cookie) DisposeHandle(_cookie);
    _cookie = nullptr;
}

void Kelvo_AudioStreamDescriptor::streamDescription(const AudioStreamBasicDescription* desc) {
    std::free(_desc);
    _desc = nullptr;
    if (!desc) return;
    _desc = newRecord<AudioStreamBasicDescription>();
    if (!_desc) {
        _status = memFullErr;
        return;
    }
    *_desc = *desc;
}

void Kelvo_AudioStreamDescriptor::formatMagicCookie(Handle cookie) {
    if (cookie == _cookie) return;
    if (_cookie) DisposeHandle(_cookie);
    _cookie = nullptr;
    if (!cookie || !*cookie) return;
    int32_t error = 0;
    _cookie = Kelvo_Utils::HandleCopy(cookie, error);
    _status = error;
}

void Kelvo_AudioStreamDescriptor::formatMagicCookie(const void* data, uint32_t size) {
    if (_cookie) DisposeHandle(_cookie);
    _cookie = nullptr;
    if (!data) return;
    int32_t error = 0;
    _cookie = Kelvo_Utils::HandleCopy(static_cast<const char*>(data), size, error);
    _status = error;
}

bool Kelvo_AudioStreamDescriptor::hasCharacteristic(uint32_t flags) const {
    return _desc && (_desc->mFormatFlags & flags) != 0;
}

void Kelvo_AudioStreamDescriptor::setCharacteristic(uint32_t flags, bool on) {
    if (!_desc || hasCharacteristic(flags) == on) return;
    if (on)
        _desc->mFormatFlags |= flags;
    else
        _desc->mFormatFlags &= ~flags;
}

void Kelvo_AudioStreamDescriptor::isDataFloat(bool on) {
    setCharacteristic(kAudioFormatFlagIsFloat, on);
    if (on) setCharacteristic(kAudioFormatFlagIsSignedInteger, false);
}

void Kelvo_AudioStreamDescriptor::isDataSignedInteger(bool on) {
    setCharacteristic(kAudioFormatFlagIsSignedInteger, on);
    if (on) setCharacteristic(kAudioFormatFlagIsFloat, false);
}

void Kelvo_AudioStreamDescriptor::isDataPacked(bool on) {
    setCharacteristic(kAudioFormatFlagIsPacked, on);
    if (on) setCharacteristic(kAudioFormatFlagIsAlignedHigh, false);
}

void Kelvo_AudioStreamDescriptor::isDataAlignedHigh(bool on) {
    setCharacteristic(kAudioFormatFlagIsAlignedHigh, on);
    if (on) setCharacteristic(kAudioFormatFlagIsPacked, false);
}

#define ASBD_U32_FIELD(getter, member)                                                                       \
    uint32_t Kelvo_AudioStreamDescriptor::getter() const {                                                   \
        return _desc ? _desc->member : 0;                                                                    \
    }                                                                                                        \
    void Kelvo_AudioStreamDescriptor::getter(uint32_t value) {                                               \
        if (!_desc) return;                                                                                  \
        if (value == 0) {                                                                                    \
            _status = paramErr;                                                                              \
            return;                                                                                          \
        }                                                                                                    \
        _desc->member = value;                                                                               \
    }

ASBD_U32_FIELD(dataFormat, mFormatID)
ASBD_U32_FIELD(bytesPerPacket, mBytesPerPacket)
ASBD_U32_FIELD(framesPerPacket, mFramesPerPacket)
ASBD_U32_FIELD(bytesPerFrame, mBytesPerFrame)
ASBD_U32_FIELD(channelsPerFrame, mChannelsPerFrame)
ASBD_U32_FIELD(bitsPerChannel, mBitsPerChannel)

#undef ASBD_U32_FIELD

double Kelvo_AudioStreamDescriptor::sampleRate() const {
    return _desc ? _desc->mSampleRate : 0.0;
}

void Kelvo_AudioStreamDescriptor::sampleRate(double rate) {
    if (!_desc) return;
    // NaN is no rate either.
    if (!(rate > 0.0)) {
        _status = paramErr;
        return;
    }
    _desc->mSampleRate = rate;
}

// ---------------------------------------------------------------------------------------------
// Kelvo_AudioChannelDescription

Kelvo_AudioChannelDescription::Kelvo_AudioChannelDescription() {
    init();
}

Kelvo_AudioChannelDescription::Kelvo_AudioChannelDescription(const AudioChannelDescription* desc) {
    init();
    if (_desc && desc) *_desc = *desc;
}

Kelvo_AudioChannelDescription::Kelvo_AudioChannelDescription(const Kelvo_AudioChannelDescription& other)
    : Kelvo_QTObj(other) {
    init();
    if (_desc && other._desc) *_desc = *other._desc;
}

Kelvo_AudioChannelDescription&
Kelvo_AudioChannelDescription::operator=(const Kelvo_AudioChannelDescription& other) {
    if (&other != this) description(other._desc);
    return *this;
}

Kelvo_AudioChannelDescription::~Kelvo_AudioChannelDescription() {
    std::free(_desc);
}

void Kelvo_AudioChannelDescription::init() {
    AudioChannelDescription* d = newRecord<AudioChannelDescription>();
    if (!d) {
        _status = memFullErr;
        return;
    }
    std::free(_desc);
    _desc = d;
    defaultStatus();
}

void Kelvo_AudioChannelDescription::defaultStatus() {
    if (!_desc) return;
    _desc->mChannelLabel = kAudioChannelLabel_UseCoordinates;
    _desc->mChannelFlags = kAudioChannelFlags_RectangularCoordinates | kAudioChannelFlags_Meters;
    clearCoordinates();
}

void Kelvo_AudioChannelDescription::reset() {
    if (!_desc) return;
    _desc->mChannelLabel = kAudioChannelLabel_Unknown;
    _desc->mChannelFlags = 0;
    clearCoordinates();
}

Kelvo_QTObj* Kelvo_AudioChannelDescription::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new (std::nothrow) Kelvo_AudioChannelDescription(*this);
}

bool Kelvo_AudioChannelDescription::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_QTObj::isA(name) || std::strcmp(name, "Kelvo_AudioChannelDescription") == 0;
}

void Kelvo_AudioChannelDescription::description(const AudioChannelDescription* desc) {
    reset();
    if (_desc && desc) *_desc = *desc;
}

void Kelvo_AudioChannelDescription::clearCoordinates() {
    if (!_desc) return;
    for (float& c : _desc->mCoordinates)
        c = 0.0f;
}

uint32_t Kelvo_AudioChannelDescription::label() const {
    return _desc ? _desc->mChannelLabel : kAudioChannelLabel_Unknown;
}

void Kelvo_AudioChannelDescription::label(uint32_t value) {
    if (_desc) _desc->mChannelLabel = value;
}

uint32_t Kelvo_AudioChannelDescription::flags() const {
    return _desc ? _desc->mChannelFlags : 0;
}

void Kelvo_AudioChannelDescription::flags(uint32_t value) {
    if (_desc) _desc->mChannelFlags = value;
}

void Kelvo_AudioChannelDescription::coordinatesEnabled(bool on) {
    if (!_desc || coordinatesEnabled() == on) return;
    _desc->mChannelLabel = on ? kAudioChannelLabel_UseCoordinates : kAudioChannelLabel_Unused;
}

int Kelvo_AudioChannelDescription::coordinateType() const {
    if (!_desc) return 0;
    if (_desc->mChannelFlags & kAudioChannelFlags_RectangularCoordinates) return 1;
    if (_desc->mChannelFlags & kAudioChannelFlags_SphericalCoordinates) return 2;
    return 0;
}

void Kelvo_AudioChannelDescription::coordinateType(int type) {
    if (!_desc || type == coordinateType()) return;
    uint32_t bit = 0;
    if (type == 1)
        bit = kAudioChannelFlags_RectangularCoordinates;
    else if (type == 2)
        bit = kAudioChannelFlags_SphericalCoordinates;
    else {
        _status = paramErr;
        return;
    }
    _desc->mChannelFlags &=
        ~(kAudioChannelFlags_RectangularCoordinates | kAudioChannelFlags_SphericalCoordinates);
    _desc->mChannelFlags |= bit;
    // Coordinates of one kind mean nothing in the other.
    clearCoordinates();
}

bool Kelvo_AudioChannelDescription::isCoordinatesUnitMeters() const {
    return _desc && (_desc->mChannelFlags & kAudioChannelFlags_Meters) != 0;
}

void Kelvo_AudioChannelDescription::isCoordinatesUnitMeters(bool on) {
    if (!_desc || isCoordinatesUnitMeters() == on) return;
    if (on)
        _desc->mChannelFlags |= kAudioChannelFlags_Meters;
    else
        _desc->mChannelFlags &= ~kAudioChannelFlags_Meters;
}

float Kelvo_AudioChannelDescription::coordinate(int index) {
    if (index < 0 || index >= numOfCoordinates) {
        _status = paramErr;
        return 0.0f;
    }
    return _desc ? _desc->mCoordinates[index] : 0.0f;
}

void Kelvo_AudioChannelDescription::coordinate(int index, float value) {
    if (index < 0 || index >= numOfCoordinates) {
        _status = paramErr;
        return;
    }
    if (_desc) _desc->mCoordinates[index] = value;
}

bool Kelvo_AudioChannelDescription::isUsed() const {
    return _desc && _desc->mChannelLabel != kAudioChannelLabel_Unused &&
           _desc->mChannelLabel != kAudioChannelLabel_Unknown;
}

void Kelvo_AudioChannelDescription::isUsed(bool on) {
    if (_desc) _desc->mChannelLabel = on ? kAudioChannelLabel_UseCoordinates : kAudioChannelLabel_Unused;
}

// ---------------------------------------------------------------------------------------------
// Kelvo_AudioChannelLayout

Kelvo_AudioChannelLayout::Kelvo_AudioChannelLayout() {
    init();
}

Kelvo_AudioChannelLayout::Kelvo_AudioChannelLayout(const AudioChannelLayout* layout) {
    init();
    if (layout) channelLayout(layout);
}

Kelvo_AudioChannelLayout::Kelvo_AudioChannelLayout(const Kelvo_AudioChannelLayout& other)
    : Kelvo_QTObj(other) {
    init();
    copyFrom(other);
}

Kelvo_AudioChannelLayout& Kelvo_AudioChannelLayout::operator=(const Kelvo_AudioChannelLayout& other) {
    if (&other == this) return *this;
    reset();
    copyFrom(other);
    return *this;
}

Kelvo_AudioChannelLayout::~Kelvo_AudioChannelLayout() {
    std::free(_header);
}

void Kelvo_AudioChannelLayout::copyFrom(const Kelvo_AudioChannelLayout& other) {
    if (!_header || !other._header) return;
    _header->mChannelLayoutTag = other._header->mChannelLayoutTag;
    _header->mChannelBitmap = other._header->mChannelBitmap;
    _header->mNumberChannelDescriptions = other._header->mNumberChannelDescriptions;
    auto& list = const_cast<Kelvo_QTObjectsList&>(other._descriptions);
    const int32_t n = list.count();
    for (int32_t i = 0; i < n; ++i)
        if (Kelvo_QTObj* d = list.getObjValueByRef(i)) _descriptions.addObjValue(d);
}

void Kelvo_AudioChannelLayout::init() {
    AudioChannelLayout* h = newRecord<AudioChannelLayout>();
    if (!h) {
        _status = memFullErr;
        return;
    }
    std::free(_header);
    _header = h;
    defaultStatus();
}

void Kelvo_AudioChannelLayout::reset() {
    _descriptions.clear();
    if (!_header) return;
    _header->mChannelLayoutTag = kAudioChannelLayoutTag_Stereo;
    _header->mChannelBitmap = 0;
    _header->mNumberChannelDescriptions = 0;
}

Kelvo_QTObj* Kelvo_AudioChannelLayout::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new (std::nothrow) Kelvo_AudioChannelLayout(*this);
}

bool Kelvo_AudioChannelLayout::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_QTObj::isA(name) || std::strcmp(name, "Kelvo_AudioChannelLayout") == 0;
}

void Kelvo_AudioChannelLayout::channelLayout(const AudioChannelLayout* layout) {
    reset();
    if (!_header || !layout) return;
    _header->mChannelLayoutTag = layout->mChannelLayoutTag;
    _header->mChannelBitmap = layout->mChannelBitmap;
    _header->mNumberChannelDescriptions = layout->mNumberChannelDescriptions;
    for (uint32_t i = 0; i < layout->mNumberChannelDescriptions; ++i) {
        auto* d = new (std::nothrow) Kelvo_AudioChannelDescription(&layout->mChannelDescriptions[i]);
        if (!d) {
            _status = memFullErr;
            return;
        }
        _descriptions.addObjValueByRef(d);
    }
}

Handle Kelvo_AudioChannelLayout::channelLayout() {
    if (!_header) return nullptr;
    const int32_t n = _descriptions.count();
    const Size size = Size(kAudioChannelLayoutHeaderSize + uint32_t(n) * sizeof(AudioChannelDescription));
    Handle h = NewHandleClear(size);
    if (!h) {
        _status = MemError();
        return nullptr;
    }
    uint8_t* p = reinterpret_cast<uint8_t*>(*h);
    const uint32_t header[3] = {_header->mChannelLayoutTag, _header->mChannelBitmap, uint32_t(n)};
    std::memcpy(p, header, sizeof header);
    p += kAudioChannelLayoutHeaderSize;
    for (int32_t i = 0; i < n; ++i, p += sizeof(AudioChannelDescription)) {
        Kelvo_QTObj* object = _descriptions.getObjValueByRef(i);
        if (!object || !object->isA("Kelvo_AudioChannelDescription")) continue;
        const AudioChannelDescription* d = static_cast<Kelvo_AudioChannelDescription*>(object)->description();
        if (d) std::memcpy(p, d, sizeof *d);
    }
    return h;
}

uint32_t Kelvo_AudioChannelLayout::channelLayoutTag() const {
    return _header ? _header->mChannelLayoutTag : 0;
}

void Kelvo_AudioChannelLayout::channelLayoutTag(uint32_t tag) {
    if (_header) _header->mChannelLayoutTag = tag;
}

uint32_t Kelvo_AudioChannelLayout::channelBitmap() const {
    return _header ? _header->mChannelBitmap : 0;
}

void Kelvo_AudioChannelLayout::channelBitmap(uint32_t bitmap) {
    if (_header) _header->mChannelBitmap = bitmap;
}

void Kelvo_AudioChannelLayout::useBitmapForMapping(bool on) {
    channelLayoutTag(on ? kAudioChannelLayoutTag_UseChannelBitmap : kAudioChannelLayoutTag_Stereo);
}

void Kelvo_AudioChannelLayout::useDescriptionsForMapping(bool on) {
    channelLayoutTag(on ? kAudioChannelLayoutTag_UseChannelDescriptions : kAudioChannelLayoutTag_Stereo);
}

uint32_t Kelvo_AudioChannelLayout::channelsCount() const {
    if (!_header) return 0;
    const uint32_t tag = _header->mChannelLayoutTag;
    if (tag == kAudioChannelLayoutTag_UseChannelBitmap) return 2;
    if (tag == kAudioChannelLayoutTag_UseChannelDescriptions) return _header->mNumberChannelDescriptions;
    return tag & 0xFFFFu;
}

void Kelvo_AudioChannelLayout::channelDescriptions(const Kelvo_List& list) {
    auto& source = const_cast<Kelvo_List&>(list);
    // Its own list is what it would copy: emptying it first would lose every description.
    if (&source == &_descriptions) return;
    _descriptions.clear();
    const int32_t n = source.count();
    for (int32_t i = 0; i < n; ++i) {
        Kelvo_QTObj* object = source.getObjValueByRef(i);
        if (object && object->isA("Kelvo_AudioChannelDescription")) _descriptions.addObjValue(object);
    }
}

uint32_t Kelvo_AudioChannelLayout::addDescription(const AudioChannelDescription& desc) {
    if (!_header) return 0;
    auto* d = new (std::nothrow) Kelvo_AudioChannelDescription(&desc);
    if (!d)
        _status = memFullErr;
    else
        _descriptions.addObjValueByRef(d);
    _header->mNumberChannelDescriptions = uint32_t(_descriptions.count());
    return _header->mNumberChannelDescriptions;
}

uint32_t Kelvo_AudioChannelLayout::addDescription(Kelvo_AudioChannelDescription& desc) {
    if (!_header) return 0;
    _descriptions.addObjValue(&desc);
    _header->mNumberChannelDescriptions = uint32_t(_descriptions.count());
    return _header->mNumberChannelDescriptions;
}

// ---------------------------------------------------------------------------------------------
// Kelvo_SndDesc

Kelvo_SndDesc::Kelvo_SndDesc() : Kelvo_SmpDescriptor(kSoundDescriptionV1Size) {
    const int16_t v = 1;
    writeField(kVersionOffset, &v, sizeof v);
}

Kelvo_SndDesc::Kelvo_SndDesc(Kelvo_AudioStreamDescriptor* stream, Kelvo_AudioChannelLayout* layout)
    : Kelvo_SmpDescriptor(-1) {
    if (!stream) {
        _status = paramErr;
        return;
    }
    Handle layoutBytes = layout ? layout->channelLayout() : nullptr;
    Handle cookie = stream->formatMagicCookie();
    SoundDescriptionHandle made = nullptr;
    _status = QTSoundDescriptionCreate(
        stream->streamDescription(),
        layoutBytes ? reinterpret_cast<const AudioChannelLayout*>(*layoutBytes) : nullptr,
        layoutBytes ? ByteCount(GetHandleSize(layoutBytes)) : 0, cookie ? *cookie : nullptr,
        cookie ? ByteCount(GetHandleSize(cookie)) : 0, kQTSoundDescriptionKind_Movie_AnyVersion, &made);
    if (layoutBytes) DisposeHandle(layoutBytes);
    if (_status == noErr && made) {
        _desc = reinterpret_cast<Handle>(made);
        _descriptorSize = GetHandleSize(_desc);
    }
}

Kelvo_SndDesc::Kelvo_SndDesc(SampleDescriptionHandle desc) : Kelvo_SmpDescriptor(desc) {}

Kelvo_SndDesc::Kelvo_SndDesc(const Kelvo_SndDesc& other) : Kelvo_SmpDescriptor(other) {}

Kelvo_SndDesc::Kelvo_SndDesc(Media media, int32_t index) : Kelvo_SmpDescriptor(media, index) {
    Boolean sound = false;
    if (media && MediaHasCharacteristic(GetMediaHandler(media), kSoundCharacteristic, &sound) == noErr &&
        sound && _desc)
        return;
    defaultStatus();
    _status = invalidMedia;
}

Kelvo_SndDesc::Kelvo_SndDesc(QTAtomContainer settings) : Kelvo_SndDesc() {
    if (!settings || !_desc) return;
    uint32_t format = 0, rate = 0;
    int16_t size = 0, channels = 0;
    _status = SoundSettingsValues(settings, format, rate, size, channels, kSettingsRead);
    if (_status != noErr) return;
    dataFormat(format);
    qtFixSndRate(rate);
    qtSndBits(size);
    qtSndChannels(channels);
}

Kelvo_SndDesc::~Kelvo_SndDesc() = default;

Kelvo_QTObj* Kelvo_SndDesc::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new (std::nothrow) Kelvo_SndDesc(*this);
}

bool Kelvo_SndDesc::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_SmpDescriptor::isA(name) || std::strcmp(name, "Kelvo_SndDesc") == 0;
}

int16_t Kelvo_SndDesc::version() const {
    int16_t v = -1;
    return readField(kVersionOffset, &v, sizeof v) ? v : int16_t(-1);
}

int32_t Kelvo_SndDesc::descVersion() {
    return version();
}

bool Kelvo_SndDesc::copy(const Kelvo_SmpDescriptor& other) {
    if (!other.isA("Kelvo_SndDesc")) return false;
    return Kelvo_SmpDescriptor::copy(other);
}

bool Kelvo_SndDesc::copy(SampleDescriptionHandle desc) {
    if (!Kelvo_SmpDescriptor::copy(desc)) return false;
    Handle extension = nullptr;
    if (GetSoundDescriptionExtension(handle(), &extension, kSoundDescriptionExtension_Decompression) ==
        noErr) {
        if (_extension) DisposeHandle(_extension);
        _extension = extension;
    } else {
        if (_extension) DisposeHandle(_extension);
        _extension = nullptr;
        _status = noErr;
    }
    return true;
}

int32_t Kelvo_SndDesc::FillQTAtomSettings(QTAtomContainer settings) {
    if (!_desc) return _status;
    if (!settings) return _status = paramErr;
    uint32_t format = dataFormat();
    uint32_t rate = qtFixSndRate();
    int16_t size = int16_t(qtSndBits());
    int16_t channels = int16_t(qtSndChannels());
    return _status = SoundSettingsValues(settings, format, rate, size, channels, kSettingsWrite);
}

// ---------------------------------------------------------------------------------------------
// Kelvo_SndDesc: fields by version

int32_t Kelvo_SndDesc::qtSndChannels() {
    const int16_t v = version();
    if (v < 0) return 0;
    if (v == 2) return int32_t(field32(kV2ChannelsOffset));
    int16_t n = 0;
    readField(kChannelsOffset, &n, sizeof n);
    return n;
}

void Kelvo_SndDesc::qtSndChannels(int16_t channels) {
    const int16_t v = version();
    if (v < 0) return;
    if (v == 2) {
        const int32_t wide = channels;
        writeField(kV2ChannelsOffset, &wide, sizeof wide);
    } else {
        writeField(kChannelsOffset, &channels, sizeof channels);
    }
}

int32_t Kelvo_SndDesc::qtSndBits() {
    const int16_t v = version();
    if (v < 0) return 0;
    if (v == 2) return int32_t(field32(kV2BitsOffset));
    int16_t n = 0;
    readField(kSampleSizeOffset, &n, sizeof n);
    return n;
}

void Kelvo_SndDesc::qtSndBits(int16_t bits) {
    const int16_t v = version();
    if (v < 0) return;
    if (v == 2) {
        const int32_t wide = bits;
        writeField(kV2BitsOffset, &wide, sizeof wide);
    } else {
        writeField(kSampleSizeOffset, &bits, sizeof bits);
    }
}

double Kelvo_SndDesc::v2Rate() {
    double rate = 0.0;
    readField(kV2RateOffset, &rate, sizeof rate);
    return rate;
}

uint32_t Kelvo_SndDesc::qtFixSndRate() {
    const int16_t v = version();
    if (v < 0) return 0;
    if (v == 2) return toUnsignedFixed(v2Rate());
    return field32(kSampleRateOffset);
}

void Kelvo_SndDesc::qtFixSndRate(uint32_t rate) {
    const int16_t v = version();
    if (v < 0) return;
    if (v == 2) {
        const double r = double(rate) / 65536.0;
        writeField(kV2RateOffset, &r, sizeof r);
    } else {
        writeField(kSampleRateOffset, &rate, sizeof rate);
    }
}

int32_t Kelvo_SndDesc::qtSndRate() {
    const int16_t v = version();
    if (v < 0) return 0;
    if (v == 2) return truncToInt32(v2Rate());
    // The field is unsigned: rates from 32768 up read as such.
    return int32_t(field32(kSampleRateOffset) >> 16);
}

void Kelvo_SndDesc::qtSndRate(int32_t rate) {
    const int16_t v = version();
    if (v < 0) return;
    if (v == 2) {
        const double r = rate;
        writeField(kV2RateOffset, &r, sizeof r);
        return;
    }
    // An unsigned 16.16 field holds whole rates up to 65535; a larger one would wrap into a
    // different rate.
    if (rate < 0 || rate > 0xFFFF) {
        _status = paramErr;
        return;
    }
    const uint32_t fixed = uint32_t(rate) << 16;
    writeField(kSampleRateOffset, &fixed, sizeof fixed);
}

uint32_t Kelvo_SndDesc::version1Field(Size offset) {
    return version() == 1 ? field32(offset) : 0;
}

void Kelvo_SndDesc::version1Field(Size offset, uint32_t value) {
    if (version() == 1) writeField(offset, &value, sizeof value);
}

uint32_t Kelvo_SndDesc::field32(Size offset) {
    uint32_t v = 0;
    return readField(offset, &v, sizeof v) ? v : 0;
}

uint32_t Kelvo_SndDesc::qtSamplesPerPacket() {
    return version1Field(kSamplesPerPacketOffset);
}
void Kelvo_SndDesc::qtSamplesPerPacket(uint32_t n) {
    version1Field(kSamplesPerPacketOffset, n);
}
uint32_t Kelvo_SndDesc::qtBytesPerPacket() {
    return version1Field(kBytesPerPacketOffset);
}
void Kelvo_SndDesc::qtBytesPerPacket(uint32_t n) {
    version1Field(kBytesPerPacketOffset, n);
}
uint32_t Kelvo_SndDesc::qtBytesPerFrame() {
    return version1Field(kBytesPerFrameOffset);
}
void Kelvo_SndDesc::qtBytesPerFrame(uint32_t n) {
    version1Field(kBytesPerFrameOffset, n);
}
uint32_t Kelvo_SndDesc::qtBytesPerSample() {
    return version1Field(kBytesPerSampleOffset);
}
void Kelvo_SndDesc::qtBytesPerSample(uint32_t n) {
    version1Field(kBytesPerSampleOffset, n);
}

// ---------------------------------------------------------------------------------------------
// Kelvo_SndDesc: through the description's properties

namespace {

// Selects property `id` of the description; false (with the accessor's status in `status`) when
// it cannot be read.
bool selectProperty(Kelvo_PropertySoundDesc& property, OSType id, int32_t& status) {
    if (!property.qtObjIsValid() || !property.getInfo(id)) {
        status = property.Error();
        return false;
    }
    return true;
}

} // namespace

Kelvo_AudioStreamDescriptor* Kelvo_SndDesc::dataStreamDesc() {
    Kelvo_PropertySoundDesc property(handle());
    if (!selectProperty(property, kQTSoundDescriptionPropertyID_AudioStreamBasicDescription, _status))
        return nullptr;
    // The value is read into a record of its own size only.
    if (property.valueSize() != sizeof(AudioStreamBasicDescription)) {
        _status = kQTPropertyBadValueSizeErr;
        return nullptr;
    }
    AudioStreamBasicDescription asbd{};
    if (property.getValue(&asbd) != sizeof asbd) {
        _status = property.Error();
        return nullptr;
    }
    auto* stream = new (std::nothrow) Kelvo_AudioStreamDescriptor(&asbd);
    if (!stream) {
        _status = memFullErr;
        return nullptr;
    }
    if (!stream->qtObjIsValid()) {
        _status = stream->Error();
        delete stream;
        return nullptr;
    }
    Kelvo_PropertySoundDesc cookie(handle());
    if (cookie.getInfo(kQTSoundDescriptionPropertyID_MagicCookie) && cookie.valueSize() != 0) {
        Handle bytes = cookie.getValue();
        if (bytes) {
            stream->formatMagicCookie(bytes);
            DisposeHandle(bytes);
        }
    }
    return stream;
}

int32_t Kelvo_SndDesc::dataStreamDesc(Kelvo_AudioStreamDescriptor* stream) {
    int32_t status = 0;
    if (!Kelvo_QTObj::isValidInstance(stream, status, false) || !stream->qtObjIsValid()) {
        _status = stream ? stream->Error() : status;
        if (_status == 0) _status = paramErr;
        return _status;
    }
    _status = noErr;
    dataFormat(stream->dataFormat());
    qtSndRate(truncToInt32(stream->sampleRate()));
    qtSndChannels(int16_t(stream->channelsPerFrame() & 0xFFFF));
    qtSndBits(int16_t(stream->bitsPerChannel() & 0xFFFF));
    if (Handle cookie = stream->formatMagicCookie()) {
        Kelvo_PropertySoundDesc property(handle());
        if (selectProperty(property, kQTSoundDescriptionPropertyID_MagicCookie, _status) &&
            !property.setValue(*cookie, uint32_t(GetHandleSize(cookie))))
            _status = property.Error();
    }
    return _status;
}

Kelvo_AudioChannelLayout* Kelvo_SndDesc::channelLayout() {
    Kelvo_PropertySoundDesc property(handle());
    if (!selectProperty(property, kQTSoundDescriptionPropertyID_AudioChannelLayout, _status)) return nullptr;
    // The layout counts its own descriptions: the value must hold them all.
    const uint32_t size = property.valueSize();
    if (size < kAudioChannelLayoutHeaderSize) {
        _status = kQTPropertyBadValueSizeErr;
        return nullptr;
    }
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[size]);
    if (!bytes) {
        _status = memFullErr;
        return nullptr;
    }
    if (property.getValue(bytes.get()) != size) {
        _status = property.Error() ? property.Error() : int32_t(kQTPropertyBadValueSizeErr);
        return nullptr;
    }
    uint32_t count = 0;
    std::memcpy(&count, bytes.get() + 8, sizeof count);
    if ((size - kAudioChannelLayoutHeaderSize) / sizeof(AudioChannelDescription) < count) {
        _status = kQTPropertyBadValueSizeErr;
        return nullptr;
    }
    // The record is read through an aligned copy of at least its own size.
    const size_t copySize = size < sizeof(AudioChannelLayout) ? sizeof(AudioChannelLayout) : size;
    AudioChannelLayout* record = static_cast<AudioChannelLayout*>(std::calloc(1, copySize));
    if (!record) {
        _status = memFullErr;
        return nullptr;
    }
    std::memcpy(record, bytes.get(), size);
    auto* layout = new (std::nothrow) Kelvo_AudioChannelLayout(record);
    std::free(record);
    if (!layout) {
        _status = memFullErr;
        return nullptr;
    }
    if (!layout->qtObjIsValid()) {
        _status = layout->Error();
        delete layout;
        return nullptr;
    }
    return layout;
}

int32_t Kelvo_SndDesc::channelLayout(Kelvo_AudioChannelLayout* layout) {
    int32_t status = 0;
    if (!Kelvo_QTObj::isValidInstance(layout, status, false) || !layout->qtObjIsValid()) {
        _status = layout ? layout->Error() : status;
        if (_status == 0) _status = paramErr;
        return _status;
    }
    Handle bytes = layout->channelLayout();
    if (!bytes) return _status = layout->Error();
    _status = noErr;
    Kelvo_PropertySoundDesc property(handle());
    if (selectProperty(property, kQTSoundDescriptionPropertyID_AudioChannelLayout, _status) &&
        !property.setValue(*bytes, uint32_t(GetHandleSize(bytes))))
        _status = property.Error();
    DisposeHandle(bytes);
    return _status;
}

int32_t Kelvo_SndDesc::settingsToString(char*& text) {
    text = nullptr;
    Kelvo_PropertySoundDesc property(handle());
    if (!selectProperty(property, kQTSoundDescriptionPropertyID_SummaryString, _status)) return _status;
    CFStringRef string = nullptr;
    if (property.valueSize() != sizeof string) return _status = kQTPropertyBadValueSizeErr;
    if (property.getValue(&string) != sizeof string) return _status = property.Error();
    const bool release = (property.propertyFlags() & kComponentPropertyFlagValueMustBeReleased) != 0;
    return _status = Kelvo_Utils::CFStringToCString(string, text, release);
}

uint32_t Kelvo_SndDesc::bitRate() {
    Kelvo_PropertySoundDesc property(handle());
    int32_t status = 0;
    uint32_t rate = 0;
    if (!selectProperty(property, kQTSoundDescriptionPropertyID_BitRate, status) ||
        property.valueSize() != sizeof rate || property.getValue(&rate) != sizeof rate)
        return 0;
    return rate;
}
