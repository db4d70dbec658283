// Sound for the toolkit: the description of an audio stream (with its codec's magic cookie), one
// channel's description, a channel layout (tag, bitmap and channel descriptions), and the sound
// sample description of a movie's sound media, which converts between all three and the sound
// settings of an atom container.
//
// Sound settings live under the first 'soun' child of a container's root, each value in the first
// child of its type, big-endian:
//   'ssct' 4 bytes  sound format (compression type)
//   'ssrt' 4 bytes  sample rate, 16.16 fixed
//   'ssss' 2 bytes  sample size in bits
//   'sscc' 2 bytes  number of channels
#pragma once

#include "KelvoAtomicsLists.h"
#include "KelvoCoreObjects.h"
#include "KelvoCoreObjectsDescriptors.h"
#include "PlatformAtoms.h"
#include "PlatformAudio.h"
#include "PlatformObjects.h"

constexpr QTAtomType kQTSettingsSound = FOUR_CHAR_CODE("soun");
constexpr QTAtomType kQTSettingsSoundFormat = FOUR_CHAR_CODE("ssct");
constexpr QTAtomType kQTSettingsSoundRate = FOUR_CHAR_CODE("ssrt");
constexpr QTAtomType kQTSettingsSoundSize = FOUR_CHAR_CODE("ssss");
constexpr QTAtomType kQTSettingsSoundChannels = FOUR_CHAR_CODE("sscc");

class Kelvo_AudioStreamDescriptor : public Kelvo_QTObj {
  public:
    // A zeroed description.
    Kelvo_AudioStreamDescriptor();
    // A copy of `desc`; none for null.
    explicit Kelvo_AudioStreamDescriptor(const AudioStreamBasicDescription* desc);
    Kelvo_AudioStreamDescriptor(const Kelvo_AudioStreamDescriptor& other);
    Kelvo_AudioStreamDescriptor& operator=(const Kelvo_AudioStreamDescriptor& other);
    ~Kelvo_AudioStreamDescriptor() override;

    const char* qtObjName() const override { return "Kelvo_AudioStreamDescriptor"; }
    bool qtObjIsValid() override { return _desc != nullptr; }
    bool qtObjIsValid() const override { return _desc != nullptr; }
    void* qtObjReference() override { return _desc; }
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;
    // Frees the description and the cookie.
    virtual void reset();

    // Replaces the description with a copy of `desc` (none for null).
    void streamDescription(const AudioStreamBasicDescription* desc);
    AudioStreamBasicDescription* streamDescription() const { return _desc; }

    // Replace the cookie with a copy of the bytes (none for null).
    void formatMagicCookie(Handle cookie);
    void formatMagicCookie(const void* data, uint32_t size);
    Handle formatMagicCookie() const { return _cookie; }

    // Whether any of the format flags is set.
    bool hasCharacteristic(uint32_t flags) const;
    void setCharacteristic(uint32_t flags, bool on);

    // Getters answer 0 and setters do nothing on an invalid description; a zero value (a rate
    // that is not positive) is refused with -50.
    uint32_t dataFormat() const;
    void dataFormat(uint32_t format);
    double sampleRate() const;
    void sampleRate(double rate);
    uint32_t bytesPerPacket() const;
    void bytesPerPacket(uint32_t n);
    uint32_t framesPerPacket() const;
    void framesPerPacket(uint32_t n);
    uint32_t bytesPerFrame() const;
    void bytesPerFrame(uint32_t n);
    uint32_t channelsPerFrame() const;
    void channelsPerFrame(uint32_t n);
    uint32_t bitsPerChannel() const;
    void bitsPerChannel(uint32_t n);

    // Float and signed integer exclude each other, as do packed and aligned high.
    bool isDataFloat() const { return hasCharacteristic(kAudioFormatFlagIsFloat); }
    void isDataFloat(bool on);
    bool isDataBigEndian() const { return hasCharacteristic(kAudioFormatFlagIsBigEndian); }
    void isDataBigEndian(bool on) { setCharacteristic(kAudioFormatFlagIsBigEndian, on); }
    bool isDataSignedInteger() const { return hasCharacteristic(kAudioFormatFlagIsSignedInteger); }
    void isDataSignedInteger(bool on);
    bool isDataPacked() const { return hasCharacteristic(kAudioFormatFlagIsPacked); }
    void isDataPacked(bool on);
    bool isDataAlignedHigh() const { return hasCharacteristic(kAudioFormatFlagIsAlignedHigh); }
    void isDataAlignedHigh(bool on);
    bool isDataInterleaved() const { return !hasCharacteristic(kAudioFormatFlagIsNonInterleaved); }
    void isDataInterleaved(bool on) { setCharacteristic(kAudioFormatFlagIsNonInterleaved, !on); }

  private:
    AudioStreamBasicDescription* _desc = nullptr;
    Handle _cookie = nullptr;
};

class Kelvo_AudioChannelDescription : public Kelvo_QTObj {
  public:
    static constexpr int numOfCoordinates = 3;

    // Each starts from the defaults (label 100, rectangular coordinates in metres at 0, 0, 0);
    // the last two then take the other description's values when there is one.
    Kelvo_AudioChannelDescription();
    explicit Kelvo_AudioChannelDescription(const AudioChannelDescription* desc);
    Kelvo_AudioChannelDescription(const Kelvo_AudioChannelDescription& other);
    Kelvo_AudioChannelDescription& operator=(const Kelvo_AudioChannelDescription& other);
    ~Kelvo_AudioChannelDescription() override;

    const char* qtObjName() const override { return "Kelvo_AudioChannelDescription"; }
    bool qtObjIsValid() override { return _desc != nullptr; }
    bool qtObjIsValid() const override { return _desc != nullptr; }
    void* qtObjReference() override { return _desc; }
    // Label 100, flags rectangular + metres, coordinates 0.
    void defaultStatus() override;
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;
    // Label unknown, no flags, coordinates 0.
    virtual void reset();

    // A new record with the defaults.
    void init();
    // reset(), then the values of `desc`.
    void description(const AudioChannelDescription* desc);
    AudioChannelDescription* description() const { return _desc; }
    void clearCoordinates();

    uint32_t label() const;
    void label(uint32_t value);
    uint32_t flags() const;
    void flags(uint32_t value);

    bool coordinatesEnabled() const { return label() == kAudioChannelLabel_UseCoordinates; }
    void coordinatesEnabled(bool on);
    // 1 rectangular, 2 spherical, 0 neither (or no record). Setting another type clears the
    // coordinates; values other than 1 and 2 are refused with -50.
    int coordinateType() const;
    void coordinateType(int type);
    bool isCoordinatesUnitMeters() const;
    void isCoordinatesUnitMeters(bool on);
    int coordinatesCount() const { return numOfCoordinates; }
    // Indexes 0 to 2; others -50 (and 0.0).
    float coordinate(int index);
    void coordinate(int index, float value);
    bool isUsed() const;
    void isUsed(bool on);

  private:
    AudioChannelDescription* _desc = nullptr;
};

class Kelvo_AudioChannelLayout : public Kelvo_QTObj {
  public:
    // Stereo, no bitmap, no descriptions.
    Kelvo_AudioChannelLayout();
    explicit Kelvo_AudioChannelLayout(const AudioChannelLayout* layout);
    Kelvo_AudioChannelLayout(const Kelvo_AudioChannelLayout& other);
    Kelvo_AudioChannelLayout& operator=(const Kelvo_AudioChannelLayout& other);
    ~Kelvo_AudioChannelLayout() override;

    const char* qtObjName() const override { return "Kelvo_AudioChannelLayout"; }
    bool qtObjIsValid() override { return _header != nullptr; }
    bool qtObjIsValid() const override { return _header != nullptr; }
    void* qtObjReference() override { return _header; }
    void defaultStatus() override { reset(); }
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;
    // Stereo, no bitmap, no descriptions.
    virtual void reset();

    void init();
    // reset(), then the tag, bitmap and each of the layout's descriptions (the record must hold
    // as many as it counts).
    void channelLayout(const AudioChannelLayout* layout);
    // A new handle (the caller owns it) with the platform layout: header and the listed
    // descriptions. Null when invalid.
    Handle channelLayout();

    uint32_t channelLayoutTag() const;
    void channelLayoutTag(uint32_t tag);
    uint32_t channelBitmap() const;
    void channelBitmap(uint32_t bitmap);
    bool useBitmapForMapping() const { return channelLayoutTag() == kAudioChannelLayoutTag_UseChannelBitmap; }
    void useBitmapForMapping(bool on);
    bool useDescriptionsForMapping() const {
        return _header && channelLayoutTag() == kAudioChannelLayoutTag_UseChannelDescriptions;
    }
    void useDescriptionsForMapping(bool on);
    uint32_t channelsCount() const;

    Kelvo_QTObjectsList& channelDescriptions() { return _descriptions; }
    // Copies of the list's channel descriptions (other objects are skipped).
    void channelDescriptions(const Kelvo_List& list);
    // Append a copy; both return the new count of descriptions.
    uint32_t addDescription(const AudioChannelDescription& desc);
    uint32_t addDescription(Kelvo_AudioChannelDescription& desc);

  private:
    void copyFrom(const Kelvo_AudioChannelLayout& other);

    AudioChannelLayout* _header = nullptr;
    Kelvo_QTObjectsList _descriptions;
};

class Kelvo_SndDesc : public Kelvo_SmpDescriptor {
  public:
    // A 52-byte version 1 description.
    Kelvo_SndDesc();
    // Made by the platform from the stream (with its cookie) and the layout; -50 for no stream.
    Kelvo_SndDesc(Kelvo_AudioStreamDescriptor* stream, Kelvo_AudioChannelLayout* layout);
    explicit Kelvo_SndDesc(SampleDescriptionHandle desc);
    Kelvo_SndDesc(const Kelvo_SndDesc& other);
    // The media's description `index`; -2008 unless the media has sound.
    Kelvo_SndDesc(Media media, int32_t index);
    // A version 1 description filled from the sound settings.
    explicit Kelvo_SndDesc(QTAtomContainer settings);
    Kelvo_SndDesc& operator=(const Kelvo_SndDesc&) = delete;
    ~Kelvo_SndDesc() override;

    const char* qtObjName() const override { return "Kelvo_SndDesc"; }
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;
    int32_t descVersion() override;
    using Kelvo_SmpDescriptor::copy;
    // Only from another sound description.
    bool copy(const Kelvo_SmpDescriptor& other) override;
    // Keeps the description's codec data ('wave') as its extension.
    bool copy(SampleDescriptionHandle desc) override;

    operator SoundDescriptionHandle() const { return handle(); }
    SoundDescriptionHandle handle() const { return reinterpret_cast<SoundDescriptionHandle>(_desc); }
    SoundDescriptionHandle handleCopy() { return reinterpret_cast<SoundDescriptionHandle>(hdescCopy()); }

    // Writes the format, rate, size and channels into the settings.
    int32_t FillQTAtomSettings(QTAtomContainer settings);

    // Fields by version; 0 (and nothing written) without a description.
    int32_t qtSndChannels();
    void qtSndChannels(int16_t channels);
    int32_t qtSndBits();
    void qtSndBits(int16_t bits);
    // Unsigned 16.16.
    uint32_t qtFixSndRate();
    void qtFixSndRate(uint32_t rate);
    int32_t qtSndRate();
    // Versions 0 and 1 hold rates up to 65535; others are refused with -50.
    void qtSndRate(int32_t rate);
    uint32_t qtSamplesPerPacket();
    void qtSamplesPerPacket(uint32_t n);
    uint32_t qtBytesPerPacket();
    void qtBytesPerPacket(uint32_t n);
    uint32_t qtBytesPerFrame();
    void qtBytesPerFrame(uint32_t n);
    uint32_t qtBytesPerSample();
    void qtBytesPerSample(uint32_t n);

    // Through the description's properties. New objects belong to the caller.
    Kelvo_AudioStreamDescriptor* dataStreamDesc();
    int32_t dataStreamDesc(Kelvo_AudioStreamDescriptor* stream);
    Kelvo_AudioChannelLayout* channelLayout();
    int32_t channelLayout(Kelvo_AudioChannelLayout* layout);
    // `text` becomes a new array (delete[] by the caller) with the readable summary, or null.
    int32_t settingsToString(char*& text);
    uint32_t bitRate();

  private:
    int16_t version() const;
    uint32_t field32(Size offset);
    double v2Rate();
    void version1Field(Size offset, uint32_t value);
    uint32_t version1Field(Size offset);
};
