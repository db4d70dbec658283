// A wrapper of one platform movie with its optional movie file, storage, data reference and
// controller: it creates, opens, copies, edits, times, draws, exports and saves movies.
//
// Ownership: the movie is disposed of here when this object made it (new, scrap, data
// reference, file, storage, copy, selection); a movie adopted without copying or taken from a
// controller stays its owner's. The data reference is always owned; the controller never is;
// the storage a movie was created in is closed by flush (or by the destructor's flush).
// A controller, when there is one, hears of every successful change.
#pragma once

#include "KelvoContainers.h"
#include "KelvoCoreObjectsTypes.h"
#include "KelvoTrack.h"
#include "PlatformFiles.h"

class Kelvo_AudioChannelLayout;
class Kelvo_AudioStreamDescriptor;
// Cocoa build (see KelvoCocoaTypes.h: declared in every build, defined only in the Cocoa one).
class QTMovie;

class Kelvo_Movie : public Kelvo_Container {
  public:
    // A new empty movie on a new in-memory data reference.
    Kelvo_Movie();
    Kelvo_Movie(Kelvo_DataReference* ref, bool asyncOK);
    explicit Kelvo_Movie(const char* path);
    // Opens the file, or creates it with a new movie.
    Kelvo_Movie(FSSpec* spec, bool create);
    // A copy of `m` (owned), or `m` itself (borrowed); null: 79.
    Kelvo_Movie(Movie m, bool copy);
    // The controller's movie (borrowed).
    explicit Kelvo_Movie(MovieController mc);
    // Adopts a movie made in an open storage.
    Kelvo_Movie(Movie m, DataHandler storage, const Kelvo_DataReference& ref);
    Kelvo_Movie(Kelvo_Movie& other);
    Kelvo_Movie& operator=(Kelvo_Movie& other);
    ~Kelvo_Movie() override;

    const char* qtObjName() const override { return "Kelvo_Movie"; }
    bool qtObjIsValid() override { return _movie != nullptr; }
    bool qtObjIsValid() const override { return _movie != nullptr; }
    void* qtObjReference() override { return _movie; }
    Kelvo_QTObj* clone() override;

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
    // Status 0 and every field empty, without releasing anything.
    virtual void init();
    // Disposes of an owned movie, closes the movie file, deletes the data reference.
    virtual void releaseMemory();
    virtual void reset();

    // Statics: new objects owned by the caller.
    static Kelvo_Movie* create(const Kelvo_DataReference& ref, int32_t& err);
    static Kelvo_Movie* open(const Kelvo_DataReference& ref, int32_t& err);
    static Kelvo_Movie* createFromScrap();
    static int16_t saveAs(Kelvo_Movie& m, FSSpec* spec, bool flatten);

    void setMovieWithDataRef(Kelvo_DataReference* ref, bool asyncOK);

    Movie movie() const { return _movie; }
    operator Movie() const { return _movie; }
    MovieController controller() const { return _controller; }
    int16_t movieFileRefNum() const { return _movieFileRefNum; }
    int16_t movieResourceId() const { return _movieResourceId; }
    bool ownsMovie() const { return _ownsMovie; }
    DataHandler storageHandler() const { return _storageHandler; }

    // Cocoa build. A QTKit movie (autoreleased) over a copy of the movie, which it disposes of
    // when it goes, so that it stays usable whatever becomes of this object; null when the movie
    // is invalid or cannot be copied.
    explicit operator QTMovie*() const;
    // The same; the status is -2010 without a movie, else the copy's or QTKit's error (0 on
    // success).
    QTMovie* getQTMovie();

    // Saving.
    void flush();
    bool isChanged();
    void flush(FSSpec* spec, bool flatten);
    void flush(FSSpec* spec, Kelvo_TimeRange64* range, bool flatten);
    void createShortcut(FSSpec* spec);
    Kelvo_DataReference* defaultDataReference();
    bool isMemoryMovie() const;

    // Edits.
    Kelvo_TimeRange64* selection();
    void selection(Kelvo_TimeRange64* range);
    Kelvo_Movie* movieFromSelection();
    bool _edit(int op, Kelvo_TimeRange64* range);
    bool copy(Kelvo_TimeRange64* range) const { return const_cast<Kelvo_Movie*>(this)->_edit(1, range); }
    bool clear(Kelvo_TimeRange64* range) { return _edit(2, range); }
    bool cut(Kelvo_TimeRange64* range) { return _edit(3, range); }
    bool paste(Kelvo_TimeRange64* range) { return _edit(4, range); }
    using Kelvo_QTObj::copy;
    void addMovieSegment(Kelvo_Movie* source, Kelvo_TimeRange* range, bool atEnd);
    Kelvo_Movie& operator+=(Kelvo_Movie& other);
    // A new movie (the caller deletes it): this movie, then `other`.
    Kelvo_Movie* operator+(Kelvo_Movie& other);

    // Tracks.
    int32_t tracksCount() const;
    Track track(int32_t index) const;
    Kelvo_Track operator[](int32_t index) const;
    Kelvo_QTObjectsList* trackList(Kelvo_OSType* type, int32_t flags);
    Kelvo_QTObjectsList* trackListByType(Kelvo_OSType* type, bool enabledOnly) {
        return trackList(type, enabledOnly ? 5 : 1);
    }
    Kelvo_QTObjectsList* trackListByCharacteristic(Kelvo_OSType* type, bool enabledOnly) {
        return trackList(type, enabledOnly ? 6 : 2);
    }
    void removeTrack(int32_t index);
    Kelvo_Track* checkStatusForMoviePlayback();
    bool isSkinMovie();
    bool isStreamingMovie();
    bool isHintedMovie();
    bool isQTVRMovie();
    Kelvo_OSType* getMovieControllerType();
    void setMovieControllerType(Kelvo_OSType* type);
    // The enabled visual track of the lowest layer (the first of them on a tie), or null.
    Kelvo_Track* getFrontmostVideoTrack();
    Track addTrackSegment(Kelvo_Track* source, Kelvo_TimeRange* range, bool mediaEdits);
    Kelvo_Movie& operator+=(Kelvo_Track& track);

    // Time.
    int32_t posterTime();
    void posterTime(int32_t t);
    Fixed rate();
    void rate(Fixed r);
    Fixed preferredRate();
    void preferredRate(Fixed r);
    int32_t loadState();
    void sampleTimeInfoForTimeAndType(double t, uint32_t mediaType, Kelvo_TimeRange64& out);
    int32_t nextSampleTime(uint32_t mediaType, int direction, bool move);
    void seekTime(int mode, uint32_t* mediaType);
    int32_t samplesCount(Kelvo_TimeRange* range, uint32_t mediaType);
    void synchronize(const Kelvo_Movie& master, double* offset);

    // Display and frames.
    void posterFrame(Kelvo_QDGWorldBuffer*& out, Kelvo_DisplayTransform* transform);
    void posterThumbnail(Kelvo_QDGWorldBuffer*& out);
    uint32_t getApertureMode();
    void setApertureMode(uint32_t mode);

    // Sound.
    int16_t preferredVolume();
    void preferredVolume(int16_t volume);
    bool mute();
    void mute(bool on);
    int32_t balance();
    void balance(int32_t& value);
    float gain();
    void gain(float& value);
    float pitch();
    void pitch(float& value);
    Kelvo_AudioStreamDescriptor* summaryABSD();
    Kelvo_AudioChannelLayout* summaryChannelLayout();
    bool setAudioContext(const void* deviceUID);

    void autoTrackAlternatesEnabled(bool on);

  private:
    // True, with status -2010, when there is no movie.
    bool noMovie() {
        if (_movie) return false;
        _status = kKelvoNoMovie;
        return true;
    }
    // Tells the controller of a change.
    void changed();
    bool hasAudioProperty();

    int16_t _movieFileRefNum = 0;
    int16_t _movieResourceId = 0;
    bool _ownsMovie = true;
    Movie _movie = nullptr;
    Kelvo_DataReference* _dataReference = nullptr;
    DataHandler _storageHandler = nullptr;
    MovieController _controller = nullptr;
    // A movie made here with a new file or storage that holds no movie yet.
    bool _neverWritten = false;
};

// 0 duration, 1 time scale, 2 current time, 3 poster time; 0 for a null movie or another
// selector.
int32_t Kelvo_MovieTime(Movie m, int32_t selector);

// Copies every audible track of `src` into new tracks of `dst`; the last result.
int16_t Kelvo_MovieCopySoundTracks(Kelvo_Movie& src, Kelvo_Movie& dst);

// The number of sample times of the media type found in [start, end]; -1 for a null movie or a
// failed warm-up.
int32_t GetMovieFrameCountInSelection(Movie m, int32_t start, int32_t end, uint32_t mediaType);

// Shared by the movie, track and media exports: the whole movie (or one track) converted to
// the file the reference names. Installs the default progress procedure only when the movie has
// none, and restores the previous one afterwards.
int32_t Kelvo_ExportMovie(Movie m, Track onlyTrack, Kelvo_DataReference& ref, Kelvo_OSType& fileType,
                          bool showDialog);
