// Wrappers of a track's media with its media handler (Kelvo_Media, and Kelvo_MediaVideo for
// visual media), and the per-sample references a media answers from its sample table
// (Kelvo_SampleReference): the table of runs is copied on first use, and a sample's reference is
// made from it the first time that sample is asked for. A media wrapper neither makes nor disposes of the
// media or its handler: the movie owns them.
#pragma once

#include "KelvoContainers.h"
#include "KelvoCoreObjectsTypes.h"
#include "KelvoTrack.h"
#include "PlatformPendingDisplayCalls.h"

#include <map>
#include <memory>

class Kelvo_GraphicsMode;
class Kelvo_SmpDescriptor;
// Cocoa build (see KelvoCocoaTypes.h: declared in every build, defined only in the Cocoa one).
class QTMedia;
class QTTrack;

// One run of samples alike in a media: where their bytes lie, how long each lasts and when the
// run shows. A reference with no samples (count 0) is invalid.
class Kelvo_SampleReference : public Kelvo_QTObj {
  public:
    Kelvo_SampleReference() = default;
    Kelvo_SampleReference(const Kelvo_SampleReference& other);
    Kelvo_SampleReference& operator=(const Kelvo_SampleReference& other);

    const char* qtObjName() const override { return "Kelvo_SampleReference"; }
    bool qtObjIsValid() override { return _count > 0; }
    bool qtObjIsValid() const override { return _count > 0; }
    void defaultStatus() override { reset(); }
    Kelvo_QTObj* clone() override;

    // Virtual operation after those of Kelvo_QTObj: no samples, flags 1.
    virtual void reset();

    double& offset() { return _offset; }
    double& size() { return _size; }
    double sampleSize() const { return _count > 0 ? _size / _count : 0; }
    double count() const { return _count; }
    void count(double n);
    int32_t sampleDuration() const { return _sampleDuration; }
    void sampleDuration(int32_t& d);
    int32_t characteristics() const { return _flags; }
    void characteristics(int32_t flags) { _flags = flags; }
    bool isKeyFrame() const { return (_flags & 1) == 0; }
    void isKeyFrame(bool& key);
    int32_t indexOfSampleDescriptor() const { return _indexOfSampleDescriptor; }
    void indexOfSampleDescriptor(int32_t index) { _indexOfSampleDescriptor = index; }
    Kelvo_TimeRange64& samplesRange() { return _samplesRange; }

    // Appends the run to a mutable sample table; false (nothing written) for an invalid
    // reference, -50 for a null table.
    bool toQTNativeRecord(void* sampleTable, int32_t descriptionId);

  private:
    double _offset = 0;
    double _size = 0;
    double _count = 1.0;
    int32_t _sampleDuration = 0;
    Kelvo_TimeRange64 _samplesRange;
    int32_t _flags = 1;
    int32_t _indexOfSampleDescriptor = 0;
};

class Kelvo_Media : public Kelvo_Container {
  public:
    Kelvo_Media() = default;
    explicit Kelvo_Media(Track t);
    // A media of another type than `requiredType` leaves the object empty with -2009.
    Kelvo_Media(Track t, uint32_t requiredType);
    explicit Kelvo_Media(Media m);
    Kelvo_Media(const Kelvo_Media& other);
    Kelvo_Media& operator=(const Kelvo_Media&) = delete;
    ~Kelvo_Media() override;

    const char* qtObjName() const override { return "Kelvo_Media"; }
    bool qtObjIsValid() override { return _media != nullptr; }
    bool qtObjIsValid() const override { return _media != nullptr; }
    void* qtObjReference() override { return _media; }
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;

    int32_t getProperty(uint32_t propertyClass, uint32_t propertyId, void* value) override;
    int32_t setProperty(uint32_t propertyClass, uint32_t propertyId, void* value, uint32_t size) override;
    bool qtHasVideo() override { return HasCharacteristic(VisualMediaCharacteristic); }
    bool qtHasSound() override { return HasCharacteristic(AudioMediaCharacteristic); }
    bool enabled() override;
    void enabled(bool on) override;
    bool isThreadSafe() const override;
    bool isDRMAuthorized(bool allowUserInteraction) override;
    int16_t qtSndVolume() override;
    void qtSndVolume(int16_t volume) override;
    uint32_t qtCreationTime() override;
    uint32_t qtModificationTime() override;
    int32_t time() const override;
    void time(int32_t) override {}
    int32_t timeScale() const override;
    void timeScale(int32_t scale) override;
    int32_t duration() const override;
    using Kelvo_Container::duration;
    void duration(Kelvo_TimeRange*, int32_t) override {}
    void sampleTimeInfoForTime(double t, Kelvo_TimeRange64& out) override;
    double sizeOfSelection(Kelvo_TimeRange* range) override;
    int32_t qtLoadInRAM(Kelvo_TimeRange* range, int32_t flags) override;
    Kelvo_Rect& qtNaturalBounds() override;
    Kelvo_Rect& qtBounds() override;
    void qtBounds(Kelvo_Rect& bounds) override;
    void qtDisplayProperties(Kelvo_DisplayTransform* transform) override;
    using Kelvo_Container::displayParams;
    void displayParams(Kelvo_CoreDisplayParams* params) override;
    bool hasApertureModes() override { return HasCharacteristic(FOUR_CHAR_CODE("apmd")); }
    void generateApertureModes() override;
    void removeApertureModes() override {}
    bool highQualityEnabled() override;
    void highQualityEnabled(bool on) override;
    bool singleFieldEnabled() override;
    void singleFieldEnabled(bool on) override;
    int16_t qtLanguage() override;
    void qtLanguage(int16_t language) override;
    Kelvo_UDataList* qtUDataList() override;
    Kelvo_MetaDataList* qtMetaDataList() override;
    void qtAddEmptySegment(Kelvo_TimeRange* range) override;
    void qtDeleteSegment(Kelvo_TimeRange* range) override;
    void frameAtTime(Kelvo_QDGWorldBuffer*& out, int32_t t, Kelvo_DisplayTransform* transform) override;
    void frame(Kelvo_QDGWorldBuffer*& out, Kelvo_DisplayTransform* transform) override;
    void thumbnailAtTime(Kelvo_QDGWorldBuffer*& out, int32_t t) override;
    void thumbnail(Kelvo_QDGWorldBuffer*& out) override;
    void exportData(Kelvo_DataReference& ref, Kelvo_OSType& fileType, bool showDialog) override;

    // Virtual operations after those of Kelvo_Container, in slot order.
    // A new description (the caller deletes it) of the 1-based index, or null.
    virtual Kelvo_SmpDescriptor* getIndexedSampleDescriptor(int32_t index);
    // Forgets media, handler and type (status 0); built sample references stay.
    virtual void reset();
    // 64 or 128 by the media quality's bits, else -1; 9 and -1 when invalid.
    virtual int16_t quality();
    // 0, 64, 128 or 192 is added to the quality's bits; another value: -50.
    virtual void quality(int16_t q);
    virtual Kelvo_SmpDescriptor* sampleDescriptor(int32_t index) { return getIndexedSampleDescriptor(index); }
    virtual Kelvo_QTObjectsList* listOfSampleDescriptors();

    Media media() const { return _media; }
    operator Media() const { return _media; }
    MediaHandler mediaHandler() const { return _mediaHandler; }
    uint32_t type() { return _mediaType.getOSType(); }
    const Kelvo_OSType& type() const { return _mediaType; }
    // The media's track; -2008 and null without a media.
    Track parentContainer();

    // Cocoa build. The QTKit media (autoreleased) of the media; null when invalid or when the
    // media is no longer the movie layer's.
    explicit operator QTMedia*() const;
    // The same; the status is -2008 without a media, else QTKit's error (0 on success).
    QTMedia* getQTMedia();
    // The QTKit track of that media (owned by it, autoreleased with it); null on failure (with
    // getQTMedia()'s status) and for a media of no track.
    QTTrack* parentQTContainer();

    bool HasCharacteristic(uint32_t characteristic);

    // Sample references, built on first use and kept.
    double sampleReferencesCount();
    // The entry at the 0-based index (owned by the media), or null (-50 outside the table).
    Kelvo_SampleReference* sampleReference(double index);
    double samplesCount();
    double timeToSampleNum(double mediaTime);
    Kelvo_QTObjectsList* listOfSampleReferences(Kelvo_TimeRange64* range);

    double timeToMediaTime(double movieTime) const;
    int32_t timeToMediaTime(int32_t movieTime) const;
    void timeRangeToMediaTimeRange(Kelvo_TimeRange64* out, Kelvo_TimeRange64* in);

    int32_t samplesDescCount();
    int16_t dataRefCount();
    Kelvo_DataReference* qtDataRef(int32_t index);
    Kelvo_QTObjectsList* listOfDataReferences();

    bool playHintsEnabled(int32_t hint);
    void playHintsEnabled(int32_t hint, bool on);

    int32_t graphicsMode();
    void graphicsMode(int32_t mode);
    RGBColor graphicsColor();
    void graphicsColor(RGBColor& color);
    Kelvo_GraphicsMode* drawingMode();
    void drawingMode(Kelvo_GraphicsMode* mode);

  protected:
    // True, with status -2008, when there is no media.
    bool noMedia() {
        if (_media) return false;
        _status = kKelvoNoMedia;
        return true;
    }
    void _initWithTrack(Track t);
    void _initSampleTable();

    // Made from the copied table on demand, keyed by 0-based sample; the map keeps each entry in
    // place, so a reference handed out stays valid as long as the media.
    Kelvo_SampleReference* _expandSampleReference(int64_t index);
    void _makeSampleReference(int64_t index, Kelvo_SampleReference& r) const;

    std::shared_ptr<OpaqueQTSampleTable> _sampleTable; // runs of samples, shared by copies, never changed
    std::map<int64_t, Kelvo_SampleReference> _sampleReferences;
    double _sampleReferencesCount = 0;
    Media _media = nullptr;
    MediaHandler _mediaHandler = nullptr;
    Kelvo_OSType _mediaType;
};

class Kelvo_MediaVideo : public Kelvo_Media {
  public:
    Kelvo_MediaVideo() = default;
    // A media without the visual characteristic, or a text media: empty, -2009.
    explicit Kelvo_MediaVideo(Track t);
    Kelvo_MediaVideo(const Kelvo_MediaVideo& other) : Kelvo_Media(other) {}

    const char* qtObjName() const override { return "Kelvo_MediaVideo"; }
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;
    bool isThreadSafe() const override;
    void removeApertureModes() override;
    Kelvo_SmpDescriptor* getIndexedSampleDescriptor(int32_t index) override;

    bool isMPEG() { return HasCharacteristic(FOUR_CHAR_CODE("mpeg")); }
    // Frames a second drawn since the statistics were last reset (0 before two frames); resets
    // them.
    double playBackRate();
    void resetPlayBackRate();
    double staticFrameRate();
};
