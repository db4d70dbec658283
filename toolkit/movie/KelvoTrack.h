// A wrapper of one platform track of a movie: timing, geometry, display, sound, language, user
// data, track references, alternate groups, aperture modes, frames, export and edit states. The
// track belongs to its movie: the wrapper neither makes nor disposes of it. What depends on the
// track's media is asked of a Kelvo_Media made for the call.
#pragma once

#include "KelvoContainers.h"
#include "KelvoCoreObjectsTypes.h"
#include "PlatformMovies.h"

class Kelvo_ApertureModesDimensions;
// Cocoa build (see KelvoCocoaTypes.h: declared in every build, defined only in the Cocoa one).
class QTMovie;
class QTTrack;

// Statuses of the movie, track and media wrappers.
constexpr int32_t kKelvoNoMedia = -2008;
constexpr int32_t kKelvoNoTrack = -2009;
constexpr int32_t kKelvoNoMovie = -2010;
constexpr int32_t kKelvoNegativeTime = -2015;

class Kelvo_Track : public Kelvo_Container {
  public:
    Kelvo_Track() = default;
    explicit Kelvo_Track(Track t);
    // The movie's track at the 1-based index; -2010 for a null movie.
    Kelvo_Track(Movie m, int32_t index);
    // The same track and media type; the status starts at 0.
    Kelvo_Track(const Kelvo_Track& other);
    Kelvo_Track& operator=(const Kelvo_Track& other);
    Kelvo_Track& operator=(Track t);
    // Leaves the edit states' snapshots with the platform disposed of.
    ~Kelvo_Track() override;

    const char* qtObjName() const override { return "Kelvo_Track"; }
    bool qtObjIsValid() override { return _track != nullptr; }
    bool qtObjIsValid() const override { return _track != nullptr; }
    void* qtObjReference() override { return _track; }
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;

    // Edit states.
    void* registerState() override;
    int32_t useState(const Kelvo_EditState& state) override;
    int32_t removeState(const Kelvo_EditState& state) override;

    int32_t getProperty(uint32_t propertyClass, uint32_t propertyId, void* value) override;
    int32_t setProperty(uint32_t propertyClass, uint32_t propertyId, void* value, uint32_t size) override;
    bool qtHasVideo() override;
    bool qtHasSound() override;
    bool enabled() override;
    void enabled(bool on) override;
    bool isThreadSafe() const override;
    bool isDRMAuthorized(bool allowUserInteraction) override;
    int16_t qtSndVolume() override;
    void qtSndVolume(int16_t volume) override;
    uint32_t qtCreationTime() override;
    uint32_t qtModificationTime() override;
    int32_t time() const override;
    void time(int32_t t) override;
    int32_t timeScale() const override;
    void timeScale(int32_t scale) override;
    int32_t duration() const override;
    using Kelvo_Container::duration;
    void duration(Kelvo_TimeRange* range, int32_t newDuration) override;
    void sampleTimeInfoForTime(double t, Kelvo_TimeRange64& out) override;
    double sizeOfSelection(Kelvo_TimeRange* range) override;
    int32_t qtLoadInRAM(Kelvo_TimeRange* range, int32_t flags) override;
    Kelvo_Rect& qtNaturalBounds() override;
    Kelvo_Rect& qtBounds() override;
    void qtBounds(Kelvo_Rect& bounds) override;
    void qtDisplayProperties(Kelvo_DisplayTransform* transform) override;
    using Kelvo_Container::displayParams;
    void displayParams(Kelvo_CoreDisplayParams* params) override;
    bool hasApertureModes() override;
    void generateApertureModes() override;
    void removeApertureModes() override;
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
    // Forgets the track and the media type; the status stays.
    virtual void reset();
    // A track holds nothing of the platform's.
    virtual void releaseMemory() {}

    // Sets the track (reset first); a null track: -2009.
    void track(Track t);
    Track track() const { return _track; }
    operator Track() const { return _track; }
    uint32_t type() { return _mediaType.getOSType(); }
    const Kelvo_OSType& type() const { return _mediaType; }
    // The track's media, null when invalid.
    Media media();
    // The track's movie; -2009 and null without a track.
    Movie parentContainer();

    // Cocoa build. The QTKit track (autoreleased) of the track; null when invalid or when the
    // track is no longer the movie layer's.
    explicit operator QTTrack*() const;
    // The same; the status is -2009 without a track, else QTKit's error (0 on success).
    QTTrack* getQTTrack();
    // The QTKit movie of that track (owned by it, autoreleased with it); not a copy: it is the
    // track's own movie, which stays its owner's. Null, with getQTTrack()'s status, on failure.
    QTMovie* parentQTContainer();

    // Aperture dimensions (media with aperture modes only, else 79).
    Kelvo_ApertureModesDimensions* getApertureDimensions();
    void setApertureDimensions(const Kelvo_ApertureModesDimensions* dimensions);

    int32_t id();
    int16_t layer();
    void layer(int16_t value);
    bool trackUsageEnabled(int32_t flag);
    void trackUsageEnabled(int32_t flag, bool on);
    bool useInMovie() { return trackUsageEnabled(2); }
    void useInMovie(bool on) { trackUsageEnabled(2, on); }
    bool useInPreview() { return trackUsageEnabled(4); }
    void useInPreview(bool on) { trackUsageEnabled(4, on); }
    bool useInPoster() { return trackUsageEnabled(8); }
    void useInPoster(bool on) { trackUsageEnabled(8, on); }

    int32_t offset() const;
    void offset(int32_t value);
    // Sample times of the track in [range], -1 without a track or for a bad range.
    int32_t samplesCount(Kelvo_TimeRange* range);
    // The byte offset of the sample shown at the track's start; -1 on error.
    double dataOffset();

    // The track's name: with set 0 a new C text (free()) or null; otherwise *text replaces every
    // name item.
    void name(char** text, int set);

    void addTrackSegment(Kelvo_Track* source, Kelvo_TimeRange* range, int32_t at, bool mediaEdits);

    // Track references.
    int32_t countTrackReference(Kelvo_OSType* type);
    Kelvo_QTObjectsList* listOfTrackReferenceTypes();
    Kelvo_QTObjectsList* listOfTrackReference(Kelvo_OSType* type);
    int32_t addTrackReference(Kelvo_Track* track, Kelvo_OSType* type);
    bool removeTrackReference(Kelvo_OSType* type, int32_t index);
    bool removeAllTrackReference(Kelvo_OSType* type);

    // Alternate groups.
    void addToAlternateGroup(Kelvo_Track* track);
    void removeFromAlternateGroup();
    Kelvo_QTObjectsList* alternateGroup();

  private:
    // True, with status -2009, when there is no track.
    bool noTrack() {
        if (_track) return false;
        _status = kKelvoNoTrack;
        return true;
    }

    Track _track = nullptr;
    Kelvo_OSType _mediaType;
};
