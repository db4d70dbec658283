#include "KelvoMedia.h"

#include "KelvoCoreComponents.h"
#include "KelvoCoreObjectsDescriptors.h"
#include "KelvoCoreVideoDataDescriptors.h"
#include "KelvoDataReference.h"
#include "KelvoGraphicsDisplay.h"
#include "KelvoGraphicsMode.h"
#include "KelvoMetaData.h"
#include "KelvoMovie.h"
#include "KelvoMovieSupport.h"
#include "KelvoUserData.h"
#include "PlatformImageDescriptions.h"
#include "PlatformMovieModelExtras.h"
#include "PlatformMovieExport.h"
#include "PlatformMovieFileReader.h"
#include "PlatformMoviePlayback.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

using namespace kelvo_movie;

namespace {

// A time given as a double, kept within what a 64-bit time holds (NaN: -1, never a time).
TimeValue64 toTime64(double t) {
    if (std::isnan(t)) return -1;
    return TimeValue64(std::clamp(t, -9.0e18, 9.0e18));
}

// A new description (the caller deletes it) of the media's 1-based index; null, with the
// status, when none can be made or read there.
template <class D> D* newDescriptor(Media m, int32_t index, int32_t& status) {
    auto* d = new (std::nothrow) D(m, index);
    if (!d) {
        status = memFullErr;
        return nullptr;
    }
    if (!d->qtObjIsValid()) {
        status = d->Error();
        delete d;
        return nullptr;
    }
    return d;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Kelvo_SampleReference

Kelvo_SampleReference::Kelvo_SampleReference(const Kelvo_SampleReference& other)
    : Kelvo_QTObj(other), _offset(other._offset), _size(other._size), _count(other._count),
      _sampleDuration(other._sampleDuration), _samplesRange(other._samplesRange), _flags(other._flags),
      _indexOfSampleDescriptor(other._indexOfSampleDescriptor) {}

Kelvo_SampleReference& Kelvo_SampleReference::operator=(const Kelvo_SampleReference& other) {
    if (&other == this) return *this;
    reset();
    _offset = other._offset;
    _size = other._size;
    _count = other._count;
    _sampleDuration = other._sampleDuration;
    _samplesRange = other._samplesRange;
    _flags = other._flags;
    _indexOfSampleDescriptor = other._indexOfSampleDescriptor;
    return *this;
}

Kelvo_QTObj* Kelvo_SampleReference::clone() {
    return new (std::nothrow) Kelvo_SampleReference(*this);
}

void Kelvo_SampleReference::reset() {
    _offset = 0;
    _size = 0;
    _count = 0;
    _sampleDuration = 0;
    _samplesRange.start() = 0;
    _samplesRange.duration() = 0;
    _samplesRange.scale() = 0;
    _flags = 1;
    _indexOfSampleDescriptor = 0;
}

void Kelvo_SampleReference::count(double n) {
    _count = n;
    _samplesRange.duration() = double(_sampleDuration) * n;
}

void Kelvo_SampleReference::sampleDuration(int32_t& d) {
    _sampleDuration = d;
    _samplesRange.duration() = double(d) * _count;
}

void Kelvo_SampleReference::isKeyFrame(bool& key) {
    if (isKeyFrame() != key) _flags ^= 1;
}

bool Kelvo_SampleReference::toQTNativeRecord(void* sampleTable, int32_t descriptionId) {
    if (!qtObjIsValid()) return false;
    if (!sampleTable) {
        _status = paramErr;
        return false;
    }
    // Counts, sizes and offsets come from doubles: values that no integer holds are refused.
    const double perSample = _size / _count;
    if (!(_offset >= 0 && _offset < 9.0e18) || !(perSample >= 1 && perSample <= double(UINT32_MAX)) ||
        !(_count >= 1 && _count < 9.0e18)) {
        _status = paramErr;
        return false;
    }
    _status = QTSampleTableAddSampleReferences(
        static_cast<QTMutableSampleTableRef>(sampleTable), int64_t(_offset), ByteCount(perSample),
        _sampleDuration, 0, int64_t(_count), MediaSampleFlags(_flags), descriptionId, nullptr);
    return _status == 0;
}

// ---------------------------------------------------------------------------------------------
// Kelvo_Media: construction.

Kelvo_Media::Kelvo_Media(Track t) {
    _initWithTrack(t);
}

Kelvo_Media::Kelvo_Media(Track t, uint32_t requiredType) {
    _initWithTrack(t);
    if (_status == 0 && _media && type() != requiredType) {
        reset();
        _status = kKelvoNoTrack;
    }
}

Kelvo_Media::Kelvo_Media(Media m) {
    if (!m) {
        _status = kKelvoNoMedia;
        return;
    }
    _media = m;
    _mediaHandler = GetMediaHandler(m);
    if (!_mediaHandler) _status = GetMoviesError();
    _mediaType.setOSType(handlerTypeOf(m));
}

Kelvo_Media::Kelvo_Media(const Kelvo_Media& other)
    : Kelvo_Container(), _media(other._media), _mediaHandler(other._mediaHandler),
      _mediaType(other._mediaType) {
    if (other._sampleTable && other._sampleReferencesCount > 0) {
        try {
            // The copy answers every sample as the source does, its changed entries included.
            _sampleReferences = other._sampleReferences;
        } catch (const std::bad_alloc&) {
            _status = memFullErr;
            return;
        }
        _sampleTable = other._sampleTable;
        _sampleReferencesCount = other._sampleReferencesCount;
    }
}

Kelvo_Media::~Kelvo_Media() = default;

Kelvo_QTObj* Kelvo_Media::clone() {
    return qtObjIsValid() ? new (std::nothrow) Kelvo_Media(*this) : nullptr;
}

bool Kelvo_Media::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_Container::isA(name) || std::strcmp(name, "Kelvo_Media") == 0;
}

void Kelvo_Media::_initWithTrack(Track t) {
    reset();
    if (!t) {
        _status = kKelvoNoTrack;
        return;
    }
    _media = GetTrackMedia(t);
    if (!_media) {
        _status = GetMoviesError() ? GetMoviesError() : kKelvoNoMedia;
        return;
    }
    _mediaHandler = GetMediaHandler(_media);
    if (!_mediaHandler) _status = GetMoviesError();
    _mediaType.setOSType(handlerTypeOf(_media));
}

void Kelvo_Media::reset() {
    _status = 0;
    _media = nullptr;
    _mediaHandler = nullptr;
    _mediaType.defaultStatus();
}

Track Kelvo_Media::parentContainer() {
    if (noMedia()) return nullptr;
    return GetMediaTrack(_media);
}

// ---------------------------------------------------------------------------------------------
// Sample references.

void Kelvo_Media::_initSampleTable() {
    if (!_media || _sampleTable) return;
    QTMutableSampleTableRef table = nullptr;
    _status = CopyMediaMutableSampleTable(_media, 0, nullptr, 0, 0, &table);
    if (_status != 0) return;
    const int64_t n = QTSampleTableGetNumberOfSamples(table);
    if (n <= 0) {
        QTSampleTableRelease(table);
        return;
    }
    try {
        _sampleTable.reset(table, QTSampleTableRelease);
    } catch (const std::bad_alloc&) {
        QTSampleTableRelease(table);
        _status = memFullErr;
        return;
    }
    _sampleReferencesCount = double(n);
}

void Kelvo_Media::_makeSampleReference(int64_t index, Kelvo_SampleReference& r) const {
    QTSampleTableRef table = _sampleTable.get();
    const int64_t s = index + 1;
    const TimeValue64 decodeTime = QTSampleTableGetDecodeTime(table, s);
    const TimeValue64 decodeDuration = QTSampleTableGetDecodeDuration(table, s);
    r.indexOfSampleDescriptor(QTSampleTableGetSampleDescriptionID(table, s));
    r.count(1.0);
    r.samplesRange().scale() = QTSampleTableGetTimeScale(table);
    r.size() = double(QTSampleTableGetDataSizePerSample(table, s));
    r.offset() = double(QTSampleTableGetDataOffset(table, s));
    r.characteristics(int32_t(QTSampleTableGetSampleFlags(table, s)));
    int32_t d = int32_t(std::clamp<int64_t>(decodeDuration, INT32_MIN, INT32_MAX));
    r.sampleDuration(d);
    r.samplesRange().duration() = double(decodeDuration);
    r.samplesRange().start() = double(decodeTime + QTSampleTableGetDisplayOffset(table, s));
}

Kelvo_SampleReference* Kelvo_Media::_expandSampleReference(int64_t index) {
    auto it = _sampleReferences.find(index);
    if (it != _sampleReferences.end()) return &it->second;
    Kelvo_SampleReference r;
    _makeSampleReference(index, r);
    try {
        return &_sampleReferences.emplace(index, r).first->second;
    } catch (const std::bad_alloc&) {
        _status = memFullErr;
        return nullptr;
    }
}

double Kelvo_Media::sampleReferencesCount() {
    _initSampleTable();
    return _sampleTable ? _sampleReferencesCount : 0;
}

Kelvo_SampleReference* Kelvo_Media::sampleReference(double index) {
    _initSampleTable();
    if (!_sampleTable) return nullptr;
    if (!(index >= 0 && index < _sampleReferencesCount)) {
        _status = paramErr;
        return nullptr;
    }
    return _expandSampleReference(int64_t(index));
}

double Kelvo_Media::samplesCount() {
    if (_sampleTable) return _sampleReferencesCount;
    if (!_media) return 0;
    QTMutableSampleTableRef table = nullptr;
    if (CopyMediaMutableSampleTable(_media, 0, nullptr, 0, 0, &table) != noErr) return 0;
    const double n = double(QTSampleTableGetNumberOfSamples(table));
    QTSampleTableRelease(table);
    return n;
}

double Kelvo_Media::timeToSampleNum(double mediaTime) {
    if (noMedia()) return 0;
    int64_t number = 0;
    const TimeValue64 t = toTime64(mediaTime);
    MediaDisplayTimeToSampleNum(_media, t, &number, nullptr, nullptr);
    _status = GetMoviesError();
    return _status == 0 ? double(number) : 0;
}

Kelvo_QTObjectsList* Kelvo_Media::listOfSampleReferences(Kelvo_TimeRange64* range) {
    if (!_media) return nullptr;
    auto* list = new (std::nothrow) Kelvo_QTObjectsList();
    if (!list) {
        _status = memFullErr;
        return nullptr;
    }
    _initSampleTable();
    if (!_sampleTable) return list;
    double first = 0, last = samplesCount();
    if (range) {
        Kelvo_TimeRange64 media;
        timeRangeToMediaTimeRange(&media, range);
        if (media.start() >= 0 && media.duration() >= 0) {
            // The samples shown in [start, end): from the one at the start to the one shown at
            // the range's last unit.
            first = timeToSampleNum(media.start()) - 1;
            if (media.duration() <= 0) {
                last = first;
            } else {
                const double atEnd = timeToSampleNum(media.end() - 1);
                last = atEnd > 0 ? atEnd : samplesCount();
            }
            _status = 0;
            if (first < 0) first = 0;
        }
    }
    // Samples never asked for one by one are listed without being kept here as well.
    Kelvo_SampleReference made;
    for (double i = first; i < last && i < _sampleReferencesCount; i += 1) {
        auto it = _sampleReferences.find(int64_t(i));
        if (it != _sampleReferences.end()) {
            list->addObjValue(&it->second);
        } else {
            _makeSampleReference(int64_t(i), made);
            list->addObjValue(&made);
        }
    }
    return list;
}

// ---------------------------------------------------------------------------------------------
// Time.

double Kelvo_Media::timeToMediaTime(double movieTime) const {
    if (!_media || std::isnan(movieTime)) return -1.0;
    Track t = GetMediaTrack(_media);
    if (!t) return -1.0;
    const TimeValue64 m = TrackTimeToMediaDisplayTime(toTime64(movieTime), t);
    return GetMoviesError() == noErr ? double(m) : -1.0;
}

int32_t Kelvo_Media::timeToMediaTime(int32_t movieTime) const {
    const double m = timeToMediaTime(double(movieTime));
    return int32_t(std::clamp(m, double(INT32_MIN), double(INT32_MAX)));
}

int32_t Kelvo_Media::time() const {
    if (!_media) return -1;
    Track t = GetMediaTrack(_media);
    Movie m = t ? GetTrackMovie(t) : nullptr;
    if (!m) return -1;
    return timeToMediaTime(GetMovieTime(m, nullptr));
}

int32_t Kelvo_Media::duration() const {
    return _media ? GetMediaDuration(_media) : 0;
}

int32_t Kelvo_Media::timeScale() const {
    return _media ? GetMediaTimeScale(_media) : 0;
}

void Kelvo_Media::timeScale(int32_t scale) {
    if (noMedia()) return;
    SetMediaTimeScale(_media, scale);
    _status = GetMoviesError();
}

void Kelvo_Media::timeRangeToMediaTimeRange(Kelvo_TimeRange64* out, Kelvo_TimeRange64* in) {
    if (!out) {
        _status = paramErr;
        return;
    }
    out->start() = -1.0;
    out->duration() = -1.0;
    if (!_media || !in || !in->qtObjIsValid()) {
        _status = 0;
        return;
    }
    out->scale() = timeScale();
    const double s = timeToMediaTime(in->start());
    const double e = timeToMediaTime(in->end());
    if (s < 0) return;
    const double mediaDuration = duration();
    out->start() = s;
    out->duration() = (e >= 0 && e <= mediaDuration) ? e - s : mediaDuration - s;
}

void Kelvo_Media::sampleTimeInfoForTime(double t, Kelvo_TimeRange64& out) {
    out.start() = -1.0;
    out.duration() = -1.0;
    out.scale() = timeScale();
    if (!_media) return;
    const double m = timeToMediaTime(t);
    if (m < 0) return;
    TimeValue64 start = -1, length = 0;
    GetMediaNextInterestingDisplayTime(_media, kEdgeSampleSearch, TimeValue64(m), kRateBackward, &start,
                                       nullptr);
    if (GetMoviesError() != noErr || start < 0) {
        _status = kKelvoNegativeTime;
        return;
    }
    GetMediaNextInterestingDisplayTime(_media, kEdgeSampleSearch, start, kRateForward, nullptr, &length);
    if (GetMoviesError() != noErr) {
        _status = kKelvoNegativeTime;
        return;
    }
    _status = 0;
    out.start() = double(start);
    out.duration() = double(length);
}

// ---------------------------------------------------------------------------------------------
// Descriptions and data references.

Kelvo_SmpDescriptor* Kelvo_Media::getIndexedSampleDescriptor(int32_t index) {
    if (noMedia()) return nullptr;
    return newDescriptor<Kelvo_SmpDescriptor>(_media, index, _status);
}

Kelvo_QTObjectsList* Kelvo_Media::listOfSampleDescriptors() {
    auto* list = new (std::nothrow) Kelvo_QTObjectsList();
    if (!list) {
        _status = memFullErr;
        return nullptr;
    }
    const int32_t n = samplesDescCount();
    for (int32_t i = 1; i <= n; ++i)
        if (Kelvo_SmpDescriptor* d = sampleDescriptor(i)) list->addObjValueByRef(d);
    return list;
}

int32_t Kelvo_Media::samplesDescCount() {
    return _media ? GetMediaSampleDescriptionCount(_media) : 0;
}

int16_t Kelvo_Media::dataRefCount() {
    if (noMedia()) return 0;
    int16_t n = 0;
    if (OSErr err = GetMediaDataRefCount(_media, &n); err != noErr) {
        _status = err;
        return 0;
    }
    return n;
}

Kelvo_DataReference* Kelvo_Media::qtDataRef(int32_t index) {
    if (!_media) return nullptr;
    return new (std::nothrow) Kelvo_DataReference(_media, int16_t(index));
}

Kelvo_QTObjectsList* Kelvo_Media::listOfDataReferences() {
    auto* list = new (std::nothrow) Kelvo_QTObjectsList();
    if (!list) {
        _status = memFullErr;
        return nullptr;
    }
    const int16_t n = dataRefCount();
    for (int16_t i = 1; i <= n; ++i)
        if (Kelvo_DataReference* r = qtDataRef(i)) list->addObjValueByRef(r);
    return list;
}

// ---------------------------------------------------------------------------------------------
// Handler properties.

bool Kelvo_Media::HasCharacteristic(uint32_t characteristic) {
    if (!_mediaHandler) {
        _status = kKelvoNoMedia;
        return false;
    }
    Boolean has = false;
    _status = MediaHasCharacteristic(_mediaHandler, characteristic, &has);
    return _status == 0 && has;
}

bool Kelvo_Media::isThreadSafe() const {
    return _media && Kelvo_QTObjComponent::isThreadSafe(FOUR_CHAR_CODE("mhlr"), _mediaType.getOSType());
}

bool Kelvo_Media::isDRMAuthorized(bool allowUserInteraction) {
    constexpr uint32_t kDRM = FOUR_CHAR_CODE("drm ");
    Boolean isProtected = true;
    Kelvo_PropertyComponent prot(_mediaHandler, kDRM);
    // A handler that says nothing of protection, or says the media is not protected, has
    // nothing to authorise.
    if (kelvo_movie::readProperty(prot, FOUR_CHAR_CODE("prot"), &isProtected, sizeof isProtected) != 0 ||
        !isProtected)
        return true;
    Boolean allow = allowUserInteraction;
    Kelvo_PropertyComponent access(_mediaHandler, kDRM);
    kelvo_movie::writeProperty(access, FOUR_CHAR_CODE("shui"), &allow, 1);
    Boolean authorized = false;
    Kelvo_PropertyComponent auth(_mediaHandler, kDRM);
    _status = kelvo_movie::readProperty(auth, FOUR_CHAR_CODE("auth"), &authorized, sizeof authorized);
    return _status == 0 && authorized;
}

int32_t Kelvo_Media::getProperty(uint32_t propertyClass, uint32_t propertyId, void* value) {
    if (noMedia()) return _status;
    Kelvo_PropertyComponent property(_mediaHandler, propertyClass);
    _status = kelvo_movie::readProperty(property, propertyId, value);
    return _status;
}

int32_t Kelvo_Media::setProperty(uint32_t propertyClass, uint32_t propertyId, void* value, uint32_t size) {
    if (noMedia()) return _status;
    Kelvo_PropertyComponent property(_mediaHandler, propertyClass);
    _status = kelvo_movie::writeProperty(property, propertyId, value, size);
    return _status;
}

bool Kelvo_Media::playHintsEnabled(int32_t hint) {
    if (noMedia()) return false;
    int32_t hints = 0;
    GetMediaPlayHints(_media, &hints);
    _status = GetMoviesError();
    return _status == 0 && (hints & hint) != 0;
}

void Kelvo_Media::playHintsEnabled(int32_t hint, bool on) {
    if (noMedia()) return;
    int32_t hints = 0;
    GetMediaPlayHints(_media, &hints);
    _status = GetMoviesError();
    if (_status != 0 || ((hints & hint) != 0) == on) return;
    hints ^= hint;
    SetMediaPlayHints(_media, on ? hint : 0, hint);
    _status = GetMoviesError();
    if (_status != 0) return;
    // The track loads with the same hints.
    Track t = GetMediaTrack(_media);
    TimeValue preloadTime = 0, preloadDuration = 0;
    int32_t preloadFlags = 0, defaultHints = 0;
    GetTrackLoadSettings(t, &preloadTime, &preloadDuration, &preloadFlags, &defaultHints);
    SetTrackLoadSettings(t, preloadTime, preloadDuration, preloadFlags, hints);
    _status = GetMoviesError();
}

bool Kelvo_Media::highQualityEnabled() {
    return qtHasVideo() && playHintsEnabled(256);
}

void Kelvo_Media::highQualityEnabled(bool on) {
    if (qtHasVideo()) playHintsEnabled(256, on);
}

bool Kelvo_Media::singleFieldEnabled() {
    return qtHasVideo() && playHintsEnabled(0x100000);
}

void Kelvo_Media::singleFieldEnabled(bool on) {
    if (qtHasVideo()) playHintsEnabled(0x100000, on);
}

int16_t Kelvo_Media::quality() {
    if (!_media) {
        _status = kKelvoBadArgumentObject;
        return -1;
    }
    // Both bits together are the best quality, which is reported as such.
    const int16_t bits = int16_t(GetMediaQuality(_media) & (mediaQualityNormal | mediaQualityBetter));
    return bits ? bits : -1;
}

void Kelvo_Media::quality(int16_t q) {
    if (q != mediaQualityDraft && q != mediaQualityNormal && q != mediaQualityBetter &&
        q != mediaQualityBest) {
        _status = paramErr;
        return;
    }
    if (!_media) {
        _status = kKelvoBadArgumentObject;
        return;
    }
    SetMediaQuality(_media, int16_t(GetMediaQuality(_media) | q));
    _status = GetMoviesError();
}

int32_t Kelvo_Media::graphicsMode() {
    if (!_mediaHandler || !qtHasVideo()) {
        _status = kKelvoNoMedia;
        return 0;
    }
    int32_t mode = 0;
    RGBColor color{};
    _status = MediaGetGraphicsMode(_mediaHandler, &mode, &color);
    return _status == 0 ? mode : 0;
}

void Kelvo_Media::graphicsMode(int32_t mode) {
    if (!_mediaHandler || !qtHasVideo()) {
        _status = kKelvoNoMedia;
        return;
    }
    int32_t old = 0;
    RGBColor color{};
    _status = MediaGetGraphicsMode(_mediaHandler, &old, &color);
    if (_status == 0) _status = MediaSetGraphicsMode(_mediaHandler, mode, &color);
}

RGBColor Kelvo_Media::graphicsColor() {
    RGBColor color{};
    if (!_mediaHandler || !qtHasVideo()) {
        _status = kKelvoNoMedia;
        return color;
    }
    int32_t mode = 0;
    _status = MediaGetGraphicsMode(_mediaHandler, &mode, &color);
    return _status == 0 ? color : RGBColor{};
}

void Kelvo_Media::graphicsColor(RGBColor& color) {
    if (!_mediaHandler || !qtHasVideo()) {
        _status = kKelvoNoMedia;
        return;
    }
    int32_t mode = 0;
    RGBColor old{};
    _status = MediaGetGraphicsMode(_mediaHandler, &mode, &old);
    if (_status == 0) _status = MediaSetGraphicsMode(_mediaHandler, mode, &color);
}

Kelvo_GraphicsMode* Kelvo_Media::drawingMode() {
    auto* mode = new (std::nothrow) Kelvo_GraphicsMode();
    if (!mode) {
        _status = memFullErr;
        return nullptr;
    }
    mode->initWithMedia(*this);
    return mode;
}

void Kelvo_Media::drawingMode(Kelvo_GraphicsMode* mode) {
    if (!mode || !mode->qtObjIsValid()) return;
    if (!_mediaHandler) {
        _status = kKelvoNoMedia;
        return;
    }
    _status = MediaSetGraphicsMode(_mediaHandler, mode->mode(), &mode->color());
}

void Kelvo_Media::qtDisplayProperties(Kelvo_DisplayTransform* transform) {
    if (transform && transform->qtObjIsValid()) {
        drawingMode(&transform->drawingMode());
    } else {
        Kelvo_GraphicsMode plain;
        drawingMode(&plain);
    }
}

void Kelvo_Media::displayParams(Kelvo_CoreDisplayParams* params) {
    if (!qtHasVideo() || !params || !params->qtObjIsValid()) return;
    drawingMode(&params->graphicsMode());
    Kelvo_Track t(GetMediaTrack(_media));
    t.displayParams(params);
    _status = t.Error();
}

int16_t Kelvo_Media::qtSndVolume() {
    if (!_mediaHandler || !qtHasSound()) {
        _status = kKelvoNoMedia;
        return 0;
    }
    int16_t balance = 0;
    return MediaGetSoundBalance(_mediaHandler, &balance) == noErr ? balance : 0;
}

void Kelvo_Media::qtSndVolume(int16_t volume) {
    if (!_mediaHandler || !qtHasSound()) {
        _status = kKelvoNoMedia;
        return;
    }
    _status = MediaSetSoundBalance(_mediaHandler, volume);
}

void Kelvo_Media::generateApertureModes() {
    if (!_media || !_mediaHandler || !hasApertureModes()) return;
    _status = MediaGenerateApertureModeDimensions(_mediaHandler);
    if (_status != 0) return;
    Kelvo_SmpDescriptor desc(_media, 1);
    _status = SetTrackApertureModeDimensionsUsingSampleDescription(GetMediaTrack(_media), desc.hSampleDesc());
}

// ---------------------------------------------------------------------------------------------
// Other.

bool Kelvo_Media::enabled() {
    if (noMedia()) return false;
    return GetTrackEnabled(GetMediaTrack(_media));
}

void Kelvo_Media::enabled(bool on) {
    if (noMedia()) return;
    SetTrackEnabled(GetMediaTrack(_media), on);
    _status = GetMoviesError();
}

uint32_t Kelvo_Media::qtCreationTime() {
    return _media ? GetMediaCreationTime(_media) : 0;
}

uint32_t Kelvo_Media::qtModificationTime() {
    return _media ? GetMediaModificationTime(_media) : 0;
}

Kelvo_Rect& Kelvo_Media::qtNaturalBounds() {
    _bounds.defaultStatus();
    return _bounds;
}

Kelvo_Rect& Kelvo_Media::qtBounds() {
    _bounds = _media;
    return _bounds;
}

void Kelvo_Media::qtBounds(Kelvo_Rect& bounds) {
    Kelvo_Track t(_media ? GetMediaTrack(_media) : nullptr);
    t.qtBounds(bounds);
    _status = t.Error();
}

int16_t Kelvo_Media::qtLanguage() {
    if (noMedia()) return -1;
    return GetMediaLanguage(_media);
}

void Kelvo_Media::qtLanguage(int16_t language) {
    if (noMedia()) return;
    SetMediaLanguage(_media, language);
    _status = GetMoviesError();
}

Kelvo_UDataList* Kelvo_Media::qtUDataList() {
    if (noMedia()) return nullptr;
    return new (std::nothrow) Kelvo_UDataList(_media);
}

Kelvo_MetaDataList* Kelvo_Media::qtMetaDataList() {
    if (noMedia()) return nullptr;
    return new (std::nothrow) Kelvo_MetaDataList(_media);
}

double Kelvo_Media::sizeOfSelection(Kelvo_TimeRange* range) {
    if (noMedia()) return 0;
    const bool part = range && range->qtObjIsValid();
    wide size{};
    _status = GetMediaDataSize64(_media, part ? range->start() : 0,
                                 part ? range->duration() : GetMediaDuration(_media), &size);
    return _status == 0 ? double(platform::wideToInt64(size)) : 0;
}

int32_t Kelvo_Media::qtLoadInRAM(Kelvo_TimeRange* range, int32_t flags) {
    if (range && range->duration() == 0) return _status = paramErr;
    if (noMedia()) return _status;
    if (range)
        _status = LoadMediaIntoRam(_media, range->start(), range->duration(), flags);
    else
        _status = LoadMediaIntoRam(_media, 0, GetMediaDuration(_media), flags);
    return _status;
}

void Kelvo_Media::qtAddEmptySegment(Kelvo_TimeRange* range) {
    if (!range || !range->qtObjIsValid()) {
        _status = paramErr;
        return;
    }
    if (noMedia()) return;
    _status = BeginMediaEdits(_media);
    if (_status != 0) return;
    ClearMoviesStickyError();
    InsertEmptyTrackSegment(GetMediaTrack(_media), range->start(), range->duration());
    EndMediaEdits(_media);
    _status = GetMoviesStickyError();
}

void Kelvo_Media::qtDeleteSegment(Kelvo_TimeRange* range) {
    if (!range || !range->qtObjIsValid()) {
        _status = paramErr;
        return;
    }
    if (noMedia()) return;
    _status = BeginMediaEdits(_media);
    if (_status != 0) return;
    ClearMoviesStickyError();
    DeleteTrackSegment(GetMediaTrack(_media), range->start(), range->duration());
    EndMediaEdits(_media);
    _status = GetMoviesStickyError();
}

void Kelvo_Media::frameAtTime(Kelvo_QDGWorldBuffer*& out, int32_t t, Kelvo_DisplayTransform* transform) {
    Kelvo_Track track(_media ? GetMediaTrack(_media) : nullptr);
    track.frameAtTime(out, t, transform);
    _status = track.Error();
}

void Kelvo_Media::frame(Kelvo_QDGWorldBuffer*& out, Kelvo_DisplayTransform* transform) {
    frameAtTime(out, time(), transform);
}

void Kelvo_Media::thumbnailAtTime(Kelvo_QDGWorldBuffer*& out, int32_t t) {
    Kelvo_DisplayTransform transform(qtBounds(), Kelvo_Rect(100, 100));
    frameAtTime(out, t, &transform);
}

void Kelvo_Media::thumbnail(Kelvo_QDGWorldBuffer*& out) {
    thumbnailAtTime(out, time());
}

void Kelvo_Media::exportData(Kelvo_DataReference& ref, Kelvo_OSType& fileType, bool showDialog) {
    if (noMedia()) return;
    Track t = GetMediaTrack(_media);
    _status = Kelvo_ExportMovie(t ? GetTrackMovie(t) : nullptr, t, ref, fileType, showDialog);
}

// ---------------------------------------------------------------------------------------------
// Kelvo_MediaVideo

Kelvo_MediaVideo::Kelvo_MediaVideo(Track t) : Kelvo_Media(t) {
    if (!HasCharacteristic(VisualMediaCharacteristic) || type() == TextMediaType) {
        reset();
        _status = kKelvoNoTrack;
    }
}

Kelvo_QTObj* Kelvo_MediaVideo::clone() {
    return qtObjIsValid() ? new (std::nothrow) Kelvo_MediaVideo(*this) : nullptr;
}

bool Kelvo_MediaVideo::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_Media::isA(name) || std::strcmp(name, "Kelvo_MediaVideo") == 0;
}

bool Kelvo_MediaVideo::isThreadSafe() const {
    if (!Kelvo_Media::isThreadSafe()) return false;
    const int32_t n = GetMediaSampleDescriptionCount(_media);
    for (int32_t i = 1; i <= n; ++i) {
        Kelvo_SmpDescriptor desc(_media, i);
        if (!desc.qtObjIsValid() ||
            !Kelvo_QTObjComponent::isThreadSafe(FOUR_CHAR_CODE("imdc"), desc.dataFormat()))
            return false;
    }
    return true;
}

void Kelvo_MediaVideo::removeApertureModes() {
    if (!_media || !hasApertureModes()) return;
    // The descriptions are edited as copies and written back, so that the media loses them.
    const int32_t n = GetMediaSampleDescriptionCount(_media);
    for (int32_t i = 1; i <= n; ++i) {
        Kelvo_ImgDesc desc(_media, i);
        if (!desc.qtObjIsValid()) continue;
        RemoveImageDescriptionExtension(desc.hImageDesc(), FOUR_CHAR_CODE("clap"), 0);
        RemoveImageDescriptionExtension(desc.hImageDesc(), FOUR_CHAR_CODE("pasp"), 0);
        _status = SetMediaSampleDescription(_media, i,
                                            reinterpret_cast<SampleDescriptionHandle>(desc.hImageDesc()));
        if (_status != 0) return;
    }
}

Kelvo_SmpDescriptor* Kelvo_MediaVideo::getIndexedSampleDescriptor(int32_t index) {
    if (noMedia()) return nullptr;
    return newDescriptor<Kelvo_ImgDesc>(_media, index, _status);
}

double Kelvo_MediaVideo::playBackRate() {
    if (!_media || !_mediaHandler) {
        if (_media) _status = kKelvoNoMedia;
        return 0;
    }
    // The handler measures frames a second as a Fixed number.
    const ComponentResult value = VideoMediaGetStatistics(_mediaHandler);
    _status = VideoMediaResetStatistics(_mediaHandler);
    return double(value) / 65536.0;
}

void Kelvo_MediaVideo::resetPlayBackRate() {
    if (!_mediaHandler) {
        _status = kKelvoNoMedia;
        return;
    }
    _status = VideoMediaResetStatistics(_mediaHandler);
}

double Kelvo_MediaVideo::staticFrameRate() {
    if (!_media) return 0;
    if (isMPEG()) {
        Fixed rate = 0;
        Size size = sizeof rate;
        _status = MediaGetPublicInfo(_mediaHandler, FOUR_CHAR_CODE("orat"), &rate, &size);
        return _status == 0 ? double(rate) / 65536.0 : 0;
    }
    const double d = duration();
    // A media without duration has no rate.
    return d > 0 ? double(timeScale()) * samplesCount() / d : 0;
}
