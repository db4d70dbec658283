#include "KelvoMovie.h"

#include "KelvoCoreObjectsUtils.h"
#include "KelvoDataReference.h"
#include "PlatformMovieFiles.h"
#include "PlatformMovieModelExtras.h"
#include "PlatformCF.h"
#include "PlatformDataRef.h"
#include "PlatformMovieExport.h"
#include "PlatformMovieFileReader.h"
#include "PlatformMovieControllers.h"
#include "PlatformMoviePlayback.h"

#include <cstring>
#include <new>

namespace {

constexpr OSType kCreator = FOUR_CHAR_CODE("TVOD");
const MovieProgressUPP kDefaultProgress = kMovieProgressDefault;

// Installs the platform's default progress procedure while alive, when the movie has none.
class DefaultProgress {
  public:
    explicit DefaultProgress(Movie m) : _movie(m) {
        if (!m) return;
        _previous = GetMovieProgressProc(m, &_refcon);
        if (!_previous) {
            SetMovieProgressProc(m, kDefaultProgress, 0);
            _installed = true;
        }
    }
    ~DefaultProgress() {
        if (_installed) SetMovieProgressProc(_movie, _previous, _refcon);
    }
    DefaultProgress(const DefaultProgress&) = delete;
    DefaultProgress& operator=(const DefaultProgress&) = delete;

  private:
    Movie _movie;
    MovieProgressUPP _previous = nullptr;
    intptr_t _refcon = 0;
    bool _installed = false;
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Construction and lifecycle.

Kelvo_Movie::Kelvo_Movie() {
    init();
    Boolean yes = true;
    void* noContext = nullptr;
    QTNewMoviePropertyElement props[] = {
        {FOUR_CHAR_CODE("mprp"), FOUR_CHAR_CODE("actv"), 1, &yes, 0},
        {FOUR_CHAR_CODE("audi"), FOUR_CHAR_CODE("aucp"), 1, &yes, 0},
        {FOUR_CHAR_CODE("ctxt"), FOUR_CHAR_CODE("visu"), 4, &noContext, 0},
    };
    _status = NewMovieFromProperties(3, props, 0, nullptr, &_movie);
    if (!_movie) return;
    _dataReference = new (std::nothrow) Kelvo_DataReference(true);
    if (_dataReference && _dataReference->qtObjIsValid())
        SetMovieDefaultDataRef(_movie, _dataReference->DataRef(), _dataReference->Type());
}

Kelvo_Movie::Kelvo_Movie(Kelvo_DataReference* ref, bool asyncOK) {
    setMovieWithDataRef(ref, asyncOK);
}

Kelvo_Movie::Kelvo_Movie(const char* path) {
    // A file path names its file; text with a scheme is taken as a URL.
    if (path && *path && !std::strstr(path, "://")) {
        CFStringRef text = CFStringCreateWithCString(nullptr, path, kCFStringEncodingUTF8);
        if (text) {
            Kelvo_DataReference file(static_cast<CFTypeRef>(text));
            CFRelease(text);
            setMovieWithDataRef(&file, false);
            return;
        }
    }
    Kelvo_DataReference temp(path);
    setMovieWithDataRef(&temp, false);
}

Kelvo_Movie::Kelvo_Movie(FSSpec* spec, bool create) {
    init();
    if (!spec) {
        _status = paramErr;
        return;
    }
    if (create) {
        _status = CreateMovieFile(spec, kCreator, -2, int32_t(0x80000001u), &_movieFileRefNum, &_movie);
    } else {
        Kelvo_DataReference temp(spec);
        setMovieWithDataRef(&temp, false);
    }
    if (_status != 0) {
        if (_movie) DisposeMovie(_movie);
        _movie = nullptr;
        if (_movieFileRefNum) CloseMovieFile(_movieFileRefNum);
        _movieFileRefNum = 0;
        return;
    }
    delete _dataReference;
    _dataReference = new (std::nothrow) Kelvo_DataReference(spec);
    _neverWritten = create;
}

Kelvo_Movie::Kelvo_Movie(Movie m, bool copy) {
    init();
    if (!m) {
        _status = kKelvoNothingToWorkOn;
        return;
    }
    if (copy) {
        _movie = Kelvo_Utils::MovieCopy(m, _status, true);
    } else {
        _movie = m;
        _ownsMovie = false;
    }
    if (_movie) _dataReference = new (std::nothrow) Kelvo_DataReference(_movie);
}

Kelvo_Movie::Kelvo_Movie(MovieController mc) {
    init();
    if (!mc) {
        _status = paramErr;
        return;
    }
    _movie = MCGetIndMovie(mc, 0);
    if (!_movie) {
        _status = GetMoviesError();
        return;
    }
    _controller = mc;
    _ownsMovie = false;
    _dataReference = new (std::nothrow) Kelvo_DataReference(_movie);
}

Kelvo_Movie::Kelvo_Movie(Movie m, DataHandler storage, const Kelvo_DataReference& ref) {
    init();
    _movie = m;
    _storageHandler = storage;
    _dataReference = new (std::nothrow) Kelvo_DataReference(ref);
    _neverWritten = storage != nullptr;
}

Kelvo_Movie::Kelvo_Movie(Kelvo_Movie& other) : Kelvo_Container() {
    init();
    *this = other;
}

Kelvo_Movie& Kelvo_Movie::operator=(Kelvo_Movie& other) {
    if (&other == this) return *this;
    reset();
    if (!other.qtObjIsValid()) {
        _status = kKelvoBadArgumentObject;
        return *this;
    }
    _movie = Kelvo_Utils::MovieCopy(other._movie, _status, true);
    if (!_movie) return *this;
    if (other._dataReference && other._dataReference->qtObjIsValid())
        _dataReference = new (std::nothrow) Kelvo_DataReference(*other._dataReference);
    _status = 0;
    if (other._movieResourceId != 0) _movieResourceId = other._movieResourceId;
    return *this;
}

Kelvo_Movie::~Kelvo_Movie() {
    removeAllStates();
    if (_storageHandler) {
        flush();
        // A storage that the flush could not write to is still closed.
        if (_storageHandler) CloseMovieStorage(_storageHandler);
        _storageHandler = nullptr;
    }
    releaseMemory();
}

Kelvo_QTObj* Kelvo_Movie::clone() {
    return qtObjIsValid() ? new (std::nothrow) Kelvo_Movie(*this) : nullptr;
}

void Kelvo_Movie::init() {
    _status = 0;
    _movieFileRefNum = 0;
    _movieResourceId = 0;
    _ownsMovie = true;
    _movie = nullptr;
    _dataReference = nullptr;
    _storageHandler = nullptr;
    _controller = nullptr;
    _neverWritten = false;
}

void Kelvo_Movie::releaseMemory() {
    if (_movie && _ownsMovie) DisposeMovie(_movie);
    if (_movieFileRefNum) CloseMovieFile(_movieFileRefNum);
    delete _dataReference;
    // Nothing released stays named, so that a later release cannot release it twice.
    _movie = nullptr;
    _movieFileRefNum = 0;
    _dataReference = nullptr;
}

void Kelvo_Movie::reset() {
    releaseMemory();
    init();
}

void Kelvo_Movie::changed() {
    if (_controller && _movie) MCMovieChanged(_controller, _movie);
}

void Kelvo_Movie::setMovieWithDataRef(Kelvo_DataReference* ref, bool asyncOK) {
    // What the object held goes first: adopting a second movie must not lose the first.
    reset();
    if (!ref || !ref->qtObjIsValid()) {
        _status = ref ? ref->Error() : int32_t(memFullErr);
        return;
    }
    Boolean yes = true;
    Boolean async = asyncOK;
    void* noContext = nullptr;
    DataReferenceRecord record{ref->Type(), ref->DataRef()};
    QTNewMoviePropertyElement inputs[] = {
        {FOUR_CHAR_CODE("dloc"), FOUR_CHAR_CODE("dref"), sizeof record, &record, 0},
        {FOUR_CHAR_CODE("mins"), FOUR_CHAR_CODE("rdrn"), 1, &yes, 0},
        {FOUR_CHAR_CODE("mins"), FOUR_CHAR_CODE("aurn"), 1, &yes, 0},
        {FOUR_CHAR_CODE("mins"), FOUR_CHAR_CODE("asok"), 1, &async, 0},
        {FOUR_CHAR_CODE("mprp"), FOUR_CHAR_CODE("actv"), 1, &yes, 0},
        {FOUR_CHAR_CODE("mprp"), FOUR_CHAR_CODE("intn"), 1, &yes, 0},
        {FOUR_CHAR_CODE("audi"), FOUR_CHAR_CODE("aucp"), 1, &yes, 0},
        {FOUR_CHAR_CODE("ctxt"), FOUR_CHAR_CODE("visu"), 4, &noContext, 0},
    };
    QTNewMoviePropertyElement outputs[] = {
        {FOUR_CHAR_CODE("rloc"), FOUR_CHAR_CODE("rezi"), 2, &_movieResourceId, 0},
    };
    _status = NewMovieFromProperties(8, inputs, 1, outputs, &_movie);
    // A movie whose own data references cannot all be resolved is still a movie; without a
    // movie the reference itself could not be resolved, and that stays the status.
    if (_status == couldNotResolveDataRef && _movie) _status = 0;
    if (_movie) _dataReference = new (std::nothrow) Kelvo_DataReference(*ref);
}

// ---------------------------------------------------------------------------------------------
// Statics.

Kelvo_Movie* Kelvo_Movie::create(const Kelvo_DataReference& ref, int32_t& err) {
    if (!const_cast<Kelvo_DataReference&>(ref).qtObjIsValid()) {
        err = kKelvoNothingToWorkOn;
        return nullptr;
    }
    DataHandler storage = nullptr;
    Movie movie = nullptr;
    err = CreateMovieStorage(ref.DataRef(), ref.Type(), kCreator, -1, int32_t(0x90000000u), &storage, &movie);
    if (err != noErr) {
        if (movie) DisposeMovie(movie);
        if (storage) {
            CloseMovieStorage(storage);
            DeleteMovieStorage(ref.DataRef(), ref.Type());
        }
        return nullptr;
    }
    return new (std::nothrow) Kelvo_Movie(movie, storage, ref);
}

Kelvo_Movie* Kelvo_Movie::open(const Kelvo_DataReference& ref, int32_t& err) {
    if (!const_cast<Kelvo_DataReference&>(ref).qtObjIsValid()) {
        err = kKelvoNothingToWorkOn;
        return nullptr;
    }
    err = 0;
    return new (std::nothrow) Kelvo_Movie(const_cast<Kelvo_DataReference*>(&ref), false);
}

Kelvo_Movie* Kelvo_Movie::createFromScrap() {
    Boolean yes = true;
    void* noContext = nullptr;
    QTNewMoviePropertyElement props[] = {
        {FOUR_CHAR_CODE("dloc"), FOUR_CHAR_CODE("scrp"), 0, nullptr, 0},
        {FOUR_CHAR_CODE("mins"), FOUR_CHAR_CODE("rdrn"), 1, &yes, 0},
        {FOUR_CHAR_CODE("mins"), FOUR_CHAR_CODE("aurn"), 1, &yes, 0},
        {FOUR_CHAR_CODE("mprp"), FOUR_CHAR_CODE("actv"), 1, &yes, 0},
        {FOUR_CHAR_CODE("audi"), FOUR_CHAR_CODE("aucp"), 1, &yes, 0},
        {FOUR_CHAR_CODE("ctxt"), FOUR_CHAR_CODE("visu"), 4, &noContext, 0},
    };
    Movie movie = nullptr;
    const OSStatus err = NewMovieFromProperties(6, props, 0, nullptr, &movie);
    auto* result = new (std::nothrow) Kelvo_Movie(movie, false);
    if (!result) {
        if (movie) DisposeMovie(movie);
        return nullptr;
    }
    if (movie)
        result->_ownsMovie = true;
    else if (err != noErr)
        result->_status = err;
    return result;
}

namespace {

// Whether samples of the movie are read from the file at `path`.
bool readsSamplesFrom(Movie movie, const char* path) {
    for (int32_t t = 1; t <= GetMovieTrackCount(movie); ++t) {
        Media media = GetTrackMedia(GetMovieIndTrack(movie, t));
        int16_t count = 0;
        if (!media || GetMediaDataRefCount(media, &count) != noErr) continue;
        for (int16_t i = 1; i <= count; ++i) {
            Handle ref = nullptr;
            OSType type = 0;
            if (GetMediaDataRef(media, i, &ref, &type, nullptr) != noErr || !ref) continue;
            const bool same =
                type == AliasDataHandlerSubType && PlatformSameFile(platform::aliasPath(ref).c_str(), path);
            DisposeHandle(ref);
            if (same) return true;
        }
    }
    return false;
}

} // namespace

int16_t Kelvo_Movie::saveAs(Kelvo_Movie& m, FSSpec* spec, bool flatten) {
    if (!m.qtObjIsValid()) return kKelvoNoMovie;
    if (!spec) return kKelvoMediaMissing;
    // A movie written over the file its samples are read from would lose them.
    if (std::memchr(spec->path, 0, sizeof spec->path) && readsSamplesFrom(m._movie, spec->path))
        return paramErr;
    SetMovieProgressProc(m._movie, kDefaultProgress, 0);
    OSErr err = noErr;
    if (flatten) {
        FlattenMovie(m._movie, 0x49, spec, kCreator, -1, int32_t(0x90000000u), nullptr, nullptr);
        err = GetMoviesError();
    } else {
        // A reference movie: the movie atom alone, naming the samples where they are.
        int16_t refNum = 0;
        err = CreateMovieFile(spec, kCreator, -1, int32_t(0xC0000000u), &refNum, nullptr);
        if (err == noErr) {
            err = UpdateMovieResource(m._movie, refNum, movieInDataForkResID, nullptr);
            const OSErr closed = CloseMovieFile(refNum);
            if (err == noErr) err = closed;
        }
    }
    SetMovieProgressProc(m._movie, nullptr, 0);
    return err;
}

// ---------------------------------------------------------------------------------------------
// Saving.

bool Kelvo_Movie::isChanged() {
    if (noMovie()) return false;
    return HasMovieChanged(_movie);
}

void Kelvo_Movie::flush() {
    if (noMovie()) return;
    // A file or storage made with the movie holds no movie yet: it is written whatever changed.
    if (!_neverWritten && !HasMovieChanged(_movie)) return;
    if (_movieFileRefNum) {
        if (_movieResourceId > 0) RemoveMovieResource(_movieFileRefNum, _movieResourceId);
        _status = UpdateMovieResource(_movie, _movieFileRefNum, movieInDataForkResID, nullptr);
        if (_status == 0) _neverWritten = false;
        return;
    }
    if (!_dataReference || !_dataReference->isFileStorage()) return;
    if (_storageHandler) {
        _status = AddMovieToStorage(_movie, _storageHandler);
        const OSErr closed = CloseMovieStorage(_storageHandler);
        _storageHandler = nullptr;
        _neverWritten = false;
        if (_status != 0)
            DeleteMovieStorage(_dataReference->DataRef(), _dataReference->Type());
        else
            _status = closed;
    } else {
        DataHandler storage = nullptr;
        _status = OpenMovieStorage(_dataReference->DataRef(), _dataReference->Type(), 9, &storage);
        if (_status == 0) {
            _status = UpdateMovieInStorage(_movie, storage);
            const OSErr closed = CloseMovieStorage(storage);
            if (_status == 0) _status = closed;
        }
    }
    _movieFileRefNum = 0;
    _movieResourceId = 0;
}

void Kelvo_Movie::flush(FSSpec* spec, bool flatten) {
    if (noMovie()) return;
    Rect natural{}, box{};
    GetMovieNaturalBoundsRect(_movie, &natural);
    GetMovieBox(_movie, &box);
    const bool reshape = qtHasVideo() && std::memcmp(&natural, &box, sizeof box) != 0;
    if (reshape) SetMovieBox(_movie, &natural);
    _status = saveAs(*this, spec, flatten);
    if (reshape) SetMovieBox(_movie, &box);
}

void Kelvo_Movie::flush(FSSpec* spec, Kelvo_TimeRange64* range, bool flatten) {
    if (noMovie()) return;
    TimeValue start = 0, length = 0;
    GetMovieSelection(_movie, &start, &length);
    selection(range);
    Kelvo_Movie* part = movieFromSelection();
    SetMovieSelection(_movie, start, length);
    if (!part) return;
    _status = part->qtObjIsValid() ? saveAs(*part, spec, flatten) : part->Error();
    delete part;
}

void Kelvo_Movie::createShortcut(FSSpec* spec) {
    if (!_dataReference || !_dataReference->qtObjIsValid()) {
        _status = kKelvoNothingToWorkOn;
        return;
    }
    if (!spec) {
        _status = paramErr;
        return;
    }
    _status = CreateShortcutMovieFile(spec, kCreator, -2, int32_t(0x90000000u), _dataReference->DataRef(),
                                      _dataReference->Type());
}

Kelvo_DataReference* Kelvo_Movie::defaultDataReference() {
    if (noMovie()) return nullptr;
    if (!_dataReference) {
        _dataReference = new (std::nothrow) Kelvo_DataReference(_movie);
        if (!_dataReference) {
            _status = memFullErr;
        } else if (!_dataReference->qtObjIsValid()) {
            _status = _dataReference->Error();
            delete _dataReference;
            _dataReference = nullptr;
        }
    }
    return _dataReference;
}

bool Kelvo_Movie::isMemoryMovie() const {
    return _dataReference && _dataReference->isMemoryStorage();
}

// ---------------------------------------------------------------------------------------------
// Edits.

Kelvo_TimeRange64* Kelvo_Movie::selection() {
    TimeValue start = 0, length = 0;
    if (_movie) GetMovieSelection(_movie, &start, &length);
    auto* range = new (std::nothrow) Kelvo_TimeRange64(start, length);
    if (range) range->scale() = timeScale();
    return range;
}

void Kelvo_Movie::selection(Kelvo_TimeRange64* range) {
    if (noMovie()) return;
    if (!range || !range->qtObjIsValid()) {
        SetMovieSelection(_movie, 0, GetMovieDuration(_movie));
        _status = GetMoviesError();
        return;
    }
    // The range's times count in its own scale, so the movie takes that scale first.
    if (range->scale() > 0 && range->scale() != timeScale()) {
        SetMovieTimeScale(_movie, range->scale());
        if ((_status = GetMoviesError()) != 0) return;
    }
    const Kelvo_TimeRange whole = *range;
    SetMovieSelection(_movie, whole.start(), whole.duration());
    _status = GetMoviesError();
}

Kelvo_Movie* Kelvo_Movie::movieFromSelection() {
    if (noMovie()) return nullptr;
    DefaultProgress progress(_movie);
    Movie part = CopyMovieSelection(_movie);
    if (!part) {
        _status = GetMoviesError();
        return nullptr;
    }
    CopyMovieSettings(_movie, part);
    Rect natural{};
    GetMovieNaturalBoundsRect(_movie, &natural);
    SetMovieBox(part, &natural);
    SetMovieSelection(part, 0, GetMovieDuration(part));
    auto* result = new (std::nothrow) Kelvo_Movie(part, false);
    if (!result) {
        DisposeMovie(part);
        _status = memFullErr;
        return nullptr;
    }
    result->_ownsMovie = true;
    return result;
}

bool Kelvo_Movie::_edit(int op, Kelvo_TimeRange64* range) {
    if (!_movie) return false;
    DefaultProgress progress(_movie);
    if (range) selection(range);
    _status = 0;
    switch (op) {
    case 1:
    case 3: {
        Movie scrap = op == 1 ? CopyMovieSelection(_movie) : CutMovieSelection(_movie);
        if (!scrap) {
            _status = GetMoviesError();
            break;
        }
        _status = PutMovieOnScrap(scrap, 2);
        DisposeMovie(scrap);
        break;
    }
    case 2:
        ClearMovieSelection(_movie);
        _status = GetMoviesError();
        break;
    case 4: {
        Kelvo_Movie* scrap = createFromScrap();
        if (!scrap) {
            _status = memFullErr;
            break;
        }
        if (scrap->qtObjIsValid()) {
            PasteMovieSelection(_movie, scrap->_movie);
            _status = GetMoviesError();
        } else {
            _status = scrap->Error() ? scrap->Error() : kKelvoNothingToWorkOn;
        }
        delete scrap;
        break;
    }
    default:
        break;
    }
    if (_status == 0) changed();
    return _status == 0;
}

void Kelvo_Movie::addMovieSegment(Kelvo_Movie* source, Kelvo_TimeRange* range, bool atEnd) {
    if (noMovie()) return;
    Movie from = _movie;
    if (source) {
        if (!source->qtObjIsValid()) {
            _status = kKelvoNothingToWorkOn;
            return;
        }
        from = source->_movie;
    }
    // The inserted tracks take this movie's geometry.
    const bool video =
        GetMovieIndTrackType(from, 1, VisualMediaCharacteristic, movieTrackCharacteristic) != nullptr;
    MatrixRecord own{}, mine{};
    if (video) {
        GetMovieMatrix(from, &own);
        GetMovieMatrix(_movie, &mine);
        SetMovieMatrix(from, &mine);
    }
    const bool part = range && range->qtObjIsValid();
    const TimeValue at = atEnd ? GetMovieDuration(_movie) : GetMovieTime(_movie, nullptr);
    _status = InsertMovieSegment(from, _movie, part ? range->start() : 0,
                                 part ? range->duration() : GetMovieDuration(from), at);
    if (video) SetMovieMatrix(from, &own);
    if (_status == 0) changed();
}

Kelvo_Movie& Kelvo_Movie::operator+=(Kelvo_Movie& other) {
    if (other.qtObjIsValid()) addMovieSegment(&other, nullptr, true);
    return *this;
}

Kelvo_Movie* Kelvo_Movie::operator+(Kelvo_Movie& other) {
    auto* sum = new (std::nothrow) Kelvo_Movie();
    if (!sum) return nullptr;
    if (!qtObjIsValid() || !other.qtObjIsValid()) {
        sum->_status = kKelvoNothingToWorkOn;
        return sum;
    }
    sum->addMovieSegment(this, nullptr, true);
    if (sum->_status == 0) sum->addMovieSegment(&other, nullptr, true);
    return sum;
}

void Kelvo_Movie::qtAddEmptySegment(Kelvo_TimeRange* range) {
    if (!range || !range->qtObjIsValid()) {
        _status = paramErr;
        return;
    }
    if (noMovie()) return;
    _status = InsertEmptyMovieSegment(_movie, range->start(), range->duration());
    if (_status == 0) changed();
}

void Kelvo_Movie::qtDeleteSegment(Kelvo_TimeRange* range) {
    if (!range || !range->qtObjIsValid()) {
        _status = paramErr;
        return;
    }
    if (noMovie()) return;
    _status = DeleteMovieSegment(_movie, range->start(), range->duration());
    if (_status == 0) changed();
}

// ---------------------------------------------------------------------------------------------
// Edit states and export.

void* Kelvo_Movie::registerState() {
    return _movie ? NewMovieEditState(_movie) : nullptr;
}

int32_t Kelvo_Movie::useState(const Kelvo_EditState& state) {
    if (_movie && state.editState()) {
        _status = UseMovieEditState(_movie, static_cast<MovieEditState>(state.editState()));
        if (_status == 0) changed();
    }
    return _status;
}

int32_t Kelvo_Movie::removeState(const Kelvo_EditState& state) {
    _status = DisposeMovieEditState(static_cast<MovieEditState>(state.editState()));
    return _status;
}

int32_t Kelvo_ExportMovie(Movie m, Track onlyTrack, Kelvo_DataReference& ref, Kelvo_OSType& fileType,
                          bool showDialog) {
    if (!ref.isFileStorage()) return kKelvoMediaMissing;
    if (fileType.getOSType() == 0 && !showDialog) return paramErr;
    if (!m) return kKelvoNoMovie;
    DefaultProgress progress(m);
    return ConvertMovieToDataRef(m, onlyTrack, ref.DataRef(), ref.Type(), fileType.getOSType(), kCreator,
                                 int32_t(showDialog ? 0x80000006u : 0x80000004u), nullptr);
}

void Kelvo_Movie::exportData(Kelvo_DataReference& ref, Kelvo_OSType& fileType, bool showDialog) {
    _status = Kelvo_ExportMovie(_movie, nullptr, ref, fileType, showDialog);
}

int32_t Kelvo_MovieTime(Movie m, int32_t selector) {
    if (!m) return 0;
    switch (selector) {
    case 0:
        return GetMovieDuration(m);
    case 1:
        return GetMovieTimeScale(m);
    case 2:
        return GetMovieTime(m, nullptr);
    case 3:
        return GetMoviePosterTime(m);
    default:
        return 0;
    }
}
