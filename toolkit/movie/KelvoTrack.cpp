#include "KelvoTrack.h"

#include "KelvoCoreVideoDataDescriptors.h"
#include "KelvoDrawingUtils.h"
#include "KelvoGraphicsDisplay.h"
#include "KelvoMedia.h"
#include "KelvoMetaData.h"
#include "KelvoMovie.h"
#include "KelvoMovieSupport.h"
#include "KelvoUserData.h"
#include "PlatformMemory.h"
#include "PlatformMovieModelExtras.h"
#include "PlatformMovieExport.h"
#include "PlatformMovieFileReader.h"
#include "PlatformMoviePlayback.h"
#include "PlatformPictures.h"

#include <cstdlib>
#include <cstring>
#include <new>

using namespace kelvo_movie;

Kelvo_Track::Kelvo_Track(Track t) {
    track(t);
}

Kelvo_Track::Kelvo_Track(Movie m, int32_t index) {
    if (!m) {
        _status = kKelvoNoMovie;
        return;
    }
    track(GetMovieIndTrack(m, index));
}

Kelvo_Track::Kelvo_Track(const Kelvo_Track& other)
    : Kelvo_Container(), _track(other._track), _mediaType(other._mediaType) {}

Kelvo_Track& Kelvo_Track::operator=(const Kelvo_Track& other) {
    if (&other != this) track(other._track);
    return *this;
}

Kelvo_Track& Kelvo_Track::operator=(Track t) {
    track(t);
    return *this;
}

Kelvo_Track::~Kelvo_Track() {
    removeAllStates();
}

Kelvo_QTObj* Kelvo_Track::clone() {
    return qtObjIsValid() ? new (std::nothrow) Kelvo_Track(*this) : nullptr;
}

bool Kelvo_Track::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_Container::isA(name) || std::strcmp(name, "Kelvo_Track") == 0;
}

void Kelvo_Track::reset() {
    releaseMemory();
    _track = nullptr;
    _mediaType.defaultStatus();
}

void Kelvo_Track::track(Track t) {
    reset();
    _track = t;
    if (!t) {
        _status = kKelvoNoTrack;
        return;
    }
    _mediaType.setOSType(handlerTypeOf(GetTrackMedia(t)));
}

Media Kelvo_Track::media() {
    return _track ? GetTrackMedia(_track) : nullptr;
}

Movie Kelvo_Track::parentContainer() {
    if (noTrack()) return nullptr;
    return GetTrackMovie(_track);
}

// ---------------------------------------------------------------------------------------------
// Edit states and properties.

void* Kelvo_Track::registerState() {
    return _track ? NewTrackEditState(_track) : nullptr;
}

int32_t Kelvo_Track::useState(const Kelvo_EditState& state) {
    if (_track && state.editState())
        _status = UseTrackEditState(_track, static_cast<TrackEditState>(state.editState()));
    return _status;
}

int32_t Kelvo_Track::removeState(const Kelvo_EditState& state) {
    _status = DisposeTrackEditState(static_cast<TrackEditState>(state.editState()));
    return _status;
}

int32_t Kelvo_Track::getProperty(uint32_t propertyClass, uint32_t propertyId, void* value) {
    Kelvo_PropertyTrack property(_track, propertyClass);
    _status = kelvo_movie::readProperty(property, propertyId, value);
    return _status;
}

int32_t Kelvo_Track::setProperty(uint32_t propertyClass, uint32_t propertyId, void* value, uint32_t size) {
    Kelvo_PropertyTrack property(_track, propertyClass);
    _status = kelvo_movie::writeProperty(property, propertyId, value, size);
    return _status;
}

bool Kelvo_Track::qtHasVideo() {
    Kelvo_Media m(_track);
    return m.mediaHandler() && m.HasCharacteristic(VisualMediaCharacteristic);
}

bool Kelvo_Track::qtHasSound() {
    Kelvo_Media m(_track);
    return m.mediaHandler() && m.HasCharacteristic(AudioMediaCharacteristic);
}

bool Kelvo_Track::isThreadSafe() const {
    Kelvo_Media m(_track);
    return m.isThreadSafe();
}

bool Kelvo_Track::isDRMAuthorized(bool allowUserInteraction) {
    if (!_track) return true;
    Kelvo_Media m(_track);
    const bool answer = m.isDRMAuthorized(allowUserInteraction);
    _status = m.Error();
    return answer;
}

// ---------------------------------------------------------------------------------------------
// Aperture modes.

bool Kelvo_Track::hasApertureModes() {
    Boolean has = false;
    Kelvo_PropertyTrack property(_track, FOUR_CHAR_CODE("visu"));
    _status = kelvo_movie::readProperty(property, FOUR_CHAR_CODE("hamd"), &has, sizeof has);
    return _status == 0 && has;
}

void Kelvo_Track::generateApertureModes() {
    if (noTrack()) return;
    if (!hasApertureModes()) _status = GenerateTrackApertureModeDimensions(_track);
}

void Kelvo_Track::removeApertureModes() {
    if (noTrack()) return;
    if (hasApertureModes()) _status = RemoveTrackApertureModeDimensions(_track);
}

Kelvo_ApertureModesDimensions* Kelvo_Track::getApertureDimensions() {
    Kelvo_Media m(_track);
    if (!m.hasApertureModes()) {
        _status = kKelvoNothingToWorkOn;
        return nullptr;
    }
    return new (std::nothrow) Kelvo_ApertureModesDimensions(_track);
}

void Kelvo_Track::setApertureDimensions(const Kelvo_ApertureModesDimensions* dimensions) {
    if (!dimensions || !dimensions->qtObjIsValid()) {
        _status = paramErr;
        return;
    }
    Kelvo_Media m(_track);
    if (!m.hasApertureModes()) {
        _status = kKelvoNothingToWorkOn;
        return;
    }
    auto& d = const_cast<Kelvo_ApertureModesDimensions&>(*dimensions);
    // The whole dimensions value (two Fixed numbers) is written.
    struct Entry {
        uint32_t id;
        const Kelvo_Rect& rect;
        FixedPoint value;
    } entries[] = {{FOUR_CHAR_CODE("cadi"), d.cleanDimensions(), d.clean()},
                   {FOUR_CHAR_CODE("prdi"), d.productionDimensions(), d.production()},
                   {FOUR_CHAR_CODE("endi"), d.encodedDimensions(), d.encoded()}};
    for (Entry& e : entries)
        if (e.rect.qtObjIsValid()) setProperty(FOUR_CHAR_CODE("visu"), e.id, &e.value, sizeof e.value);
}

// ---------------------------------------------------------------------------------------------
// Flags and numbers.

bool Kelvo_Track::enabled() {
    if (noTrack()) return false;
    return GetTrackEnabled(_track);
}

void Kelvo_Track::enabled(bool on) {
    if (noTrack()) return;
    SetTrackEnabled(_track, on);
    _status = GetMoviesError();
}

uint32_t Kelvo_Track::qtCreationTime() {
    return _track ? GetTrackCreationTime(_track) : 0;
}

uint32_t Kelvo_Track::qtModificationTime() {
    return _track ? GetTrackModificationTime(_track) : 0;
}

int32_t Kelvo_Track::id() {
    if (noTrack()) return 0;
    return GetTrackID(_track);
}

int16_t Kelvo_Track::layer() {
    if (noTrack()) return 0;
    return GetTrackLayer(_track);
}

void Kelvo_Track::layer(int16_t value) {
    if (noTrack()) return;
    SetTrackLayer(_track, value);
    _status = GetMoviesError();
}

int16_t Kelvo_Track::qtSndVolume() {
    return _track ? GetTrackVolume(_track) : 0;
}

void Kelvo_Track::qtSndVolume(int16_t volume) {
    if (noTrack()) return;
    SetTrackVolume(_track, volume);
    _status = GetMoviesError();
}

bool Kelvo_Track::trackUsageEnabled(int32_t flag) {
    if (noTrack()) return false;
    return (GetTrackUsage(_track) & flag) != 0;
}

void Kelvo_Track::trackUsageEnabled(int32_t flag, bool on) {
    if (noTrack()) return;
    if (trackUsageEnabled(flag) == on) return;
    const int32_t usage = GetTrackUsage(_track);
    SetTrackUsage(_track, on ? usage | flag : usage ^ flag);
    _status = GetMoviesError();
}

bool Kelvo_Track::highQualityEnabled() {
    Kelvo_Media m(_track);
    return m.qtHasVideo() && m.playHintsEnabled(256);
}

void Kelvo_Track::highQualityEnabled(bool on) {
    Kelvo_Media m(_track);
    if (!m.qtHasVideo()) return;
    m.playHintsEnabled(256, on);
    _status = m.Error();
}

bool Kelvo_Track::singleFieldEnabled() {
    Kelvo_Media m(_track);
    return m.qtHasVideo() && m.playHintsEnabled(0x100000);
}

void Kelvo_Track::singleFieldEnabled(bool on) {
    Kelvo_Media m(_track);
    if (!m.qtHasVideo()) return;
    m.playHintsEnabled(0x100000, on);
    _status = m.Error();
}

// ---------------------------------------------------------------------------------------------
// Time.

int32_t Kelvo_Track::time() const {
    if (!_track) return -1;
    return GetMovieTime(GetTrackMovie(_track), nullptr) - GetTrackOffset(_track);
}

void Kelvo_Track::time(int32_t t) {
    if (noTrack()) return;
    const int64_t from = GetTrackOffset(_track);
    const int64_t to = from + GetTrackDuration(_track);
    if (t < from || t > to) {
        _status = paramErr;
        return;
    }
    SetMovieTimeValue(GetTrackMovie(_track), t);
    _status = GetMoviesError();
}

int32_t Kelvo_Track::offset() const {
    return _track ? GetTrackOffset(_track) : -1;
}

void Kelvo_Track::offset(int32_t value) {
    if (noTrack()) return;
    SetTrackOffset(_track, value);
    _status = GetMoviesError();
}

int32_t Kelvo_Track::timeScale() const {
    return _track ? GetMovieTimeScale(GetTrackMovie(_track)) : -1;
}

void Kelvo_Track::timeScale(int32_t scale) {
    if (noTrack()) return;
    SetMovieTimeScale(GetTrackMovie(_track), scale);
    _status = GetMoviesError();
}

int32_t Kelvo_Track::duration() const {
    return _track ? GetTrackDuration(_track) : -1;
}

void Kelvo_Track::duration(Kelvo_TimeRange* range, int32_t newDuration) {
    if (noTrack()) return;
    const int32_t whole = GetTrackDuration(_track);
    if (newDuration == whole) return;
    if (newDuration < 1) {
        _status = paramErr;
        return;
    }
    const bool part = range && range->qtObjIsValid();
    _status =
        ScaleTrackSegment(_track, part ? range->start() : 0, part ? range->duration() : whole, newDuration);
}

void Kelvo_Track::sampleTimeInfoForTime(double t, Kelvo_TimeRange64& out) {
    out.start() = -1.0;
    out.duration() = -1.0;
    out.scale() = timeScale();
    if (noTrack()) return;
    if (!(t >= 0)) {
        _status = kKelvoNegativeTime;
        return;
    }
    TimeValue start = -1, length = 0;
    const TimeValue from = t >= double(INT32_MAX) ? INT32_MAX : TimeValue(t);
    GetTrackNextInterestingTime(_track, kEdgeStepSearch, from, kRateBackward, &start, nullptr);
    _status = GetMoviesError();
    if (_status != 0) return;
    if (start < 0) {
        // No sample shows at or before the time.
        _status = kKelvoNegativeTime;
        return;
    }
    GetTrackNextInterestingTime(_track, kEdgeStepSearch, start, kRateForward, nullptr, &length);
    _status = GetMoviesError();
    if (_status != 0) return;
    out.start() = start;
    out.duration() = length;
}

int32_t Kelvo_Track::samplesCount(Kelvo_TimeRange* range) {
    if (!_track) return -1;
    const int32_t trackOffset = GetTrackOffset(_track);
    const int32_t trackDuration = GetTrackDuration(_track);
    if (type() == FOUR_CHAR_CODE("MPEG")) {
        const int64_t start = range ? range->start() : trackOffset;
        const int64_t end = range ? range->End() : int64_t(trackOffset) + trackDuration;
        return GetMovieFrameCountInSelection(GetTrackMovie(_track), int32_t(start),
                                             int32_t(std::min<int64_t>(end, INT32_MAX)),
                                             FOUR_CHAR_CODE("MPEG"));
    }
    const int64_t start = range ? range->start() : 0;
    const int64_t end = range ? range->End() : trackDuration;
    if (start < 0 || start > end) return -1;
    return countSampleTimes(TimeValue(start), end, [&](int16_t flags, TimeValue from) {
        TimeValue next = -1;
        GetTrackNextInterestingTime(_track, flags, from, kRateForward, &next, nullptr);
        return next;
    });
}

double Kelvo_Track::sizeOfSelection(Kelvo_TimeRange* range) {
    if (noTrack()) return 0;
    const bool part = range && range->qtObjIsValid();
    wide size{};
    _status = GetTrackDataSize64(_track, part ? range->start() : 0,
                                 part ? range->duration() : GetTrackDuration(_track), &size);
    return _status == 0 ? double(platform::wideToInt64(size)) : 0;
}

int32_t Kelvo_Track::qtLoadInRAM(Kelvo_TimeRange* range, int32_t flags) {
    if (noTrack()) return _status;
    if (range && range->duration() == 0) return _status = paramErr;
    if (range)
        _status = LoadTrackIntoRam(_track, range->start(), range->duration(), flags);
    else
        _status = LoadTrackIntoRam(_track, 0, GetTrackDuration(_track), flags);
    return _status;
}

double Kelvo_Track::dataOffset() {
    if (noTrack()) return -1;
    Kelvo_Media m(_track);
    const TimeValue mediaTime = TrackTimeToMediaTime(GetTrackOffset(_track), _track);
    const double number = m.timeToSampleNum(mediaTime);
    Kelvo_SampleReference* ref = number >= 1 ? m.sampleReference(number - 1) : nullptr;
    if (!ref) {
        _status = m.Error() ? m.Error() : kKelvoNoMedia;
        return -1;
    }
    return ref->offset();
}

// ---------------------------------------------------------------------------------------------
// Geometry and display.

Kelvo_Rect& Kelvo_Track::qtNaturalBounds() {
    return qtBounds();
}

Kelvo_Rect& Kelvo_Track::qtBounds() {
    _bounds = _track;
    return _bounds;
}

void Kelvo_Track::qtBounds(Kelvo_Rect& bounds) {
    if (!qtHasVideo()) return;
    if (!bounds.qtObjIsValid()) {
        _status = paramErr;
        return;
    }
    SetTrackDimensions(_track, bounds.widthAsFixed(), bounds.heightAsFixed());
    _status = GetMoviesError();
}

void Kelvo_Track::qtDisplayProperties(Kelvo_DisplayTransform* transform) {
    if (noTrack()) return;
    if (!transform) {
        SetTrackMatrix(_track, nullptr);
        SetTrackClipRgn(_track, nullptr);
        return;
    }
    if (!transform->qtObjIsValid()) {
        _status = paramErr;
        return;
    }
    SetTrackMatrix(_track, transform->Matrix());
    _status = GetMoviesError();
    if (Kelvo_Region* clip = transform->Clip(); clip && clip->qtObjIsValid()) {
        SetTrackClipRgn(_track, clip->region());
        _status = GetMoviesError();
    }
}

void Kelvo_Track::displayParams(Kelvo_CoreDisplayParams* params) {
    if (!qtHasVideo() || !params || !params->qtObjIsValid()) return;
    ClearMoviesStickyError();
    if (params->displayBounds() != qtBounds()) qtBounds(params->displayBounds());
    SetTrackMatrix(_track, params->matrix());
    SetTrackClipRgn(_track, params->clipRegion().empty() ? nullptr : params->clipRegion().region());
    Kelvo_Media m(_track);
    m.drawingMode(&params->graphicsMode());
    _status = GetMoviesStickyError();
}

void Kelvo_Track::frameAtTime(Kelvo_QDGWorldBuffer*& out, int32_t t, Kelvo_DisplayTransform* transform) {
    out = nullptr;
    if (t < 0) {
        _status = paramErr;
        return;
    }
    if (noTrack()) return;
    PicHandle picture = GetTrackPict(_track, t);
    if (!picture) {
        _status = GetMoviesError();
        return;
    }
    out = Kelvo_DrawingUtils::draw(picture, transform, _status);
    KillPicture(picture);
}

void Kelvo_Track::frame(Kelvo_QDGWorldBuffer*& out, Kelvo_DisplayTransform* transform) {
    frameAtTime(out, _track ? GetMovieTime(GetTrackMovie(_track), nullptr) : -1, transform);
}

void Kelvo_Track::thumbnailAtTime(Kelvo_QDGWorldBuffer*& out, int32_t t) {
    Kelvo_DisplayTransform transform(qtBounds(), Kelvo_Rect(100, 100));
    frameAtTime(out, t, &transform);
}

void Kelvo_Track::thumbnail(Kelvo_QDGWorldBuffer*& out) {
    thumbnailAtTime(out, _track ? GetMovieTime(GetTrackMovie(_track), nullptr) : -1);
}

// ---------------------------------------------------------------------------------------------
// Language, user data, name.

int16_t Kelvo_Track::qtLanguage() {
    Media m = media();
    return m ? GetMediaLanguage(m) : -1;
}

void Kelvo_Track::qtLanguage(int16_t language) {
    Media m = media();
    if (!m) {
        _status = _track ? kKelvoNoMedia : kKelvoNoTrack;
        return;
    }
    SetMediaLanguage(m, language);
    _status = GetMoviesError();
}

Kelvo_UDataList* Kelvo_Track::qtUDataList() {
    if (noTrack()) return nullptr;
    return new (std::nothrow) Kelvo_UDataList(_track);
}

Kelvo_MetaDataList* Kelvo_Track::qtMetaDataList() {
    if (noTrack()) return nullptr;
    return new (std::nothrow) Kelvo_MetaDataList(_track);
}

void Kelvo_Track::name(char** text, int set) {
    if (!_track || !text) {
        _status = memFullErr;
        return;
    }
    Kelvo_UDataList list(_track);
    constexpr uint32_t kName = FOUR_CHAR_CODE("name");
    if (set == 0) {
        Handle item = list.Item(kName, 1);
        if (!item) {
            *text = nullptr;
            _status = list.Error();
            return;
        }
        const Size n = GetHandleSize(item);
        char* copy = static_cast<char*>(std::malloc(size_t(n) + 1));
        if (!copy) {
            DisposeHandle(item);
            *text = nullptr;
            _status = memFullErr;
            return;
        }
        if (n > 0) std::memcpy(copy, *item, size_t(n));
        copy[n] = 0;
        DisposeHandle(item);
        *text = copy;
        _status = 0;
        return;
    }
    list.Clear(kName);
    if (*text) list.addItem(kName, *text, uint32_t(std::strlen(*text)));
    _status = list.Error();
}

void Kelvo_Track::exportData(Kelvo_DataReference& ref, Kelvo_OSType& fileType, bool showDialog) {
    if (noTrack()) return;
    _status = Kelvo_ExportMovie(GetTrackMovie(_track), _track, ref, fileType, showDialog);
}

// ---------------------------------------------------------------------------------------------
// Segments.

void Kelvo_Track::addTrackSegment(Kelvo_Track* source, Kelvo_TimeRange* range, int32_t at, bool mediaEdits) {
    if (noTrack()) return;
    Track from = _track;
    if (source) {
        if (!source->qtObjIsValid() || source->type() != type()) {
            _status = kKelvoNoTrack;
            return;
        }
        from = source->track();
    }
    Media m = GetTrackMedia(_track);
    if (!m) {
        _status = kKelvoNoMedia;
        return;
    }
    if (mediaEdits) {
        _status = BeginMediaEdits(m);
        if (_status != 0) return;
    }
    const bool part = range && range->qtObjIsValid();
    _status = InsertTrackSegment(from, _track, part ? range->start() : 0,
                                 part ? range->duration() : GetTrackDuration(from), at);
    if (mediaEdits) {
        const OSErr end = EndMediaEdits(m);
        if (_status == 0) _status = end;
    }
}

void Kelvo_Track::qtAddEmptySegment(Kelvo_TimeRange* range) {
    if (noTrack()) return;
    if (!range || !range->qtObjIsValid()) {
        _status = paramErr;
        return;
    }
    _status = InsertEmptyTrackSegment(_track, range->start(), range->duration());
}

void Kelvo_Track::qtDeleteSegment(Kelvo_TimeRange* range) {
    if (noTrack()) return;
    if (!range || !range->qtObjIsValid()) {
        _status = paramErr;
        return;
    }
    _status = DeleteTrackSegment(_track, range->start(), range->duration());
}

// ---------------------------------------------------------------------------------------------
// Track references and alternate groups.

int32_t Kelvo_Track::countTrackReference(Kelvo_OSType* refType) {
    if (noTrack()) return 0;
    if (refType && refType->getOSType() != 0) return GetTrackReferenceCount(_track, refType->getOSType());
    int32_t total = 0;
    for (OSType t = GetNextTrackReferenceType(_track, 0); t != 0; t = GetNextTrackReferenceType(_track, t))
        total += GetTrackReferenceCount(_track, t);
    return total;
}

Kelvo_QTObjectsList* Kelvo_Track::listOfTrackReferenceTypes() {
    if (noTrack()) return nullptr;
    auto* list = new (std::nothrow) Kelvo_QTObjectsList();
    if (!list) {
        _status = memFullErr;
        return nullptr;
    }
    for (OSType t = GetNextTrackReferenceType(_track, 0); t != 0; t = GetNextTrackReferenceType(_track, t))
        if (auto* code = new (std::nothrow) Kelvo_OSType(t)) list->addObjValueByRef(code);
    return list;
}

Kelvo_QTObjectsList* Kelvo_Track::listOfTrackReference(Kelvo_OSType* refType) {
    if (noTrack()) return nullptr;
    if (!refType || refType->getOSType() == 0) {
        _status = paramErr;
        return nullptr;
    }
    auto* list = new (std::nothrow) Kelvo_QTObjectsList();
    if (!list) {
        _status = memFullErr;
        return nullptr;
    }
    const int32_t n = GetTrackReferenceCount(_track, refType->getOSType());
    for (int32_t i = 1; i <= n; ++i)
        if (auto* t = new (std::nothrow) Kelvo_Track(GetTrackReference(_track, refType->getOSType(), i)))
            list->addObjValueByRef(t);
    return list;
}

int32_t Kelvo_Track::addTrackReference(Kelvo_Track* other, Kelvo_OSType* refType) {
    if (!_track || !other || !other->qtObjIsValid() || !refType || refType->getOSType() == 0) return -1;
    int32_t index = 0;
    _status = AddTrackReference(_track, other->track(), refType->getOSType(), &index);
    return _status == 0 ? index : -1;
}

bool Kelvo_Track::removeTrackReference(Kelvo_OSType* refType, int32_t index) {
    if (noTrack()) return false;
    if (!refType || refType->getOSType() == 0) {
        _status = paramErr;
        return false;
    }
    _status = DeleteTrackReference(_track, refType->getOSType(), index);
    return _status == 0;
}

bool Kelvo_Track::removeAllTrackReference(Kelvo_OSType* refType) {
    if (noTrack()) return false;
    if (!refType || refType->getOSType() == 0) {
        _status = paramErr;
        return false;
    }
    for (int32_t i = GetTrackReferenceCount(_track, refType->getOSType()); i >= 1; --i)
        if (!removeTrackReference(refType, i)) return false;
    return true;
}

void Kelvo_Track::addToAlternateGroup(Kelvo_Track* other) {
    if (noTrack()) return;
    if (!other || !other->qtObjIsValid()) {
        _status = paramErr;
        return;
    }
    SetTrackAlternate(_track, other->track());
    _status = GetMoviesError();
}

void Kelvo_Track::removeFromAlternateGroup() {
    if (noTrack()) return;
    SetTrackAlternate(_track, nullptr);
    _status = GetMoviesError();
}

Kelvo_QTObjectsList* Kelvo_Track::alternateGroup() {
    if (noTrack()) return nullptr;
    auto* list = new (std::nothrow) Kelvo_QTObjectsList();
    if (!list) {
        _status = memFullErr;
        return nullptr;
    }
    // A ring is never longer than the movie's track list.
    const int32_t limit = GetMovieTrackCount(GetTrackMovie(_track));
    Track t = GetTrackAlternate(_track);
    for (int32_t n = 0; t && n < limit; ++n) {
        if (auto* copy = new (std::nothrow) Kelvo_Track(t)) list->addObjValueByRef(copy);
        if (t == _track) break;
        t = GetTrackAlternate(t);
    }
    return list;
}
