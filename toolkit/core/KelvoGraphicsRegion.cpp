#include "KelvoGraphicsRegion.h"

#include "KelvoGraphicsSources.h"
#include "PlatformMoviePlayback.h"
#include "PlatformMovies.h"
#include "PlatformSequenceGrabber.h"
#include "PlatformPictures.h"
#include "PlatformEndian.h"
#include "PlatformGraphicsImport.h"
#include "PlatformMemory.h"

#include <cstring>
#include <new>

using kelvo_graphics::SourceKind;

namespace {

// The flat form's first word counts its bytes: that many bytes' worth of 16-bit words (never
// more than the handle holds) have their two bytes exchanged.
void swapFlatRegion(RgnHandle region, bool dataIsNative) {
    if (!region) return;
    Handle h = NewHandle(0);
    if (!h) return;
    RgnToHandle(region, h);
    Size size = GetHandleSize(h);
    if (size > 0) {
        HLock(h);
        auto* bytes = reinterpret_cast<uint8_t*>(*h);
        uint16_t first;
        std::memcpy(&first, bytes, 2);
        auto declared = int16_t(dataIsNative ? first : EndianU16_BtoN(first));
        int32_t words = declared / 2;
        if (words > size / 2) words = size / 2;
        for (int32_t i = 0; i < words; ++i)
            std::swap(bytes[2 * i], bytes[2 * i + 1]);
        HandleToRgn(h, region);
        HUnlock(h);
    }
    DisposeHandle(h);
}

RgnHandle convertedCopy(RgnHandle region, bool dataIsNative) {
    if (!region) return nullptr;
    RgnHandle copy = NewRgn();
    if (!copy) return nullptr;
    CopyRgn(region, copy);
    swapFlatRegion(copy, dataIsNative);
    return copy;
}

} // namespace

Kelvo_Region::Kelvo_Region() {
    _region = NewRgn();
    if (!_region) _status = MemError();
}

Kelvo_Region::Kelvo_Region(const Kelvo_Region& other) : Kelvo_QTObj(other) {
    _region = NewRgn();
    if (!_region) {
        _status = MemError();
        return;
    }
    if (other._region) CopyRgn(other._region, _region);
}

Kelvo_Region::Kelvo_Region(ComponentInstance importer) {
    if (!importer) {
        _status = paramErr;
        return;
    }
    _status = GraphicsImportGetClip(importer, &_region);
}

Kelvo_Region::Kelvo_Region(Kelvo_QTObj* object) {
    initWithObject(object);
}

Kelvo_Region::~Kelvo_Region() {
    if (_region) DisposeRgn(_region);
}

void Kelvo_Region::reset() {
    if (_region) DisposeRgn(_region);
    _region = nullptr;
}

void Kelvo_Region::defaultStatus() {
    reset();
    _status = 0;
    _region = NewRgn();
    if (!_region) _status = MemError();
}

void Kelvo_Region::copy(Kelvo_QTObj& other) {
    if (&other != this) initWithObject(&other);
}

Kelvo_QTObj* Kelvo_Region::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new (std::nothrow) Kelvo_Region(*this);
}

void Kelvo_Region::_fromMovie(Movie movie) {
    if (kelvo_graphics::movieHasVideo(movie)) _region = GetMovieClipRgn(movie);
}

void Kelvo_Region::_fromTrack(Track track) {
    if (kelvo_graphics::trackHasVideo(track)) _region = GetTrackClipRgn(track);
}

void Kelvo_Region::_fromMedia(Media media) {
    if (!kelvo_graphics::mediaHasVideo(media)) return;
    if (Track track = GetMediaTrack(media)) _region = GetTrackClipRgn(track);
}

void Kelvo_Region::initWithObject(Kelvo_QTObj* object) {
    if (!isValidInstance(object, _status, false)) {
        defaultStatus();
        return;
    }
    if (object->isA(qtObjName())) {
        auto* other = static_cast<Kelvo_Region*>(object);
        if (_region && other->_region && EqualRgn(_region, other->_region)) return;
        defaultStatus();
        if (_region && other->_region) CopyRgn(other->_region, _region);
        return;
    }
    reset();
    switch (kelvo_graphics::kindOf(*object)) {
    case SourceKind::Movie:
        _fromMovie(static_cast<Movie>(object->qtObjReference()));
        return;
    case SourceKind::Track:
        _fromTrack(static_cast<Track>(object->qtObjReference()));
        return;
    case SourceKind::Media:
        _fromMedia(static_cast<Media>(object->qtObjReference()));
        return;
    case SourceKind::None:
        break;
    }
    if (object->isA("Kelvo_Rect")) {
        RectToRegion(static_cast<Kelvo_Rect*>(object));
    } else if (object->isA("Kelvo_Contour")) {
        ContourToRegion(static_cast<Kelvo_Contour*>(object));
    }
}

Kelvo_Region& Kelvo_Region::operator=(const Kelvo_Region& other) {
    copy(const_cast<Kelvo_Region&>(other));
    return *this;
}

Kelvo_Region& Kelvo_Region::operator=(Kelvo_Rect& rect) {
    initWithObject(&rect);
    return *this;
}

Kelvo_Region& Kelvo_Region::operator=(Kelvo_Contour& contour) {
    initWithObject(&contour);
    return *this;
}

// Assignments from platform objects behave as from a temporary wrapper: a null object makes an
// invalid wrapper with a status, which gives a new empty region.
Kelvo_Region& Kelvo_Region::operator=(Movie movie) {
    if (!movie) {
        defaultStatus();
        return *this;
    }
    _status = 0;
    reset();
    _fromMovie(movie);
    return *this;
}

Kelvo_Region& Kelvo_Region::operator=(Track track) {
    if (!track) {
        defaultStatus();
        return *this;
    }
    _status = 0;
    reset();
    _fromTrack(track);
    return *this;
}

Kelvo_Region& Kelvo_Region::operator=(Media media) {
    if (!media) {
        defaultStatus();
        return *this;
    }
    _status = 0;
    reset();
    _fromMedia(media);
    return *this;
}

Kelvo_Region& Kelvo_Region::operator=(ComponentInstance importer) {
    reset();
    if (importer) GraphicsImportGetClip(importer, &_region);
    if (!_region) {
        _region = NewRgn();
        if (!_region) _status = MemError();
    }
    return *this;
}

void Kelvo_Region::Merge(RgnHandle other) {
    if (!_region) return;
    if (!other) {
        _status = paramErr;
        return;
    }
    UnionRgn(_region, other, _region);
    _status = QDError();
}

void Kelvo_Region::Subtract(RgnHandle other) {
    if (!_region) return;
    if (!other) {
        _status = paramErr;
        return;
    }
    DiffRgn(_region, other, _region);
    _status = QDError();
}

Kelvo_Region* Kelvo_Region::operator+(Kelvo_Region& other) {
    auto* result = new (std::nothrow) Kelvo_Region(*this);
    if (result) result->Merge(other._region);
    return result;
}

Kelvo_Region* Kelvo_Region::operator-(Kelvo_Region& other) {
    auto* result = new (std::nothrow) Kelvo_Region(*this);
    if (result) result->Subtract(other._region);
    return result;
}

bool Kelvo_Region::operator==(Kelvo_Region& other) {
    return _region && other._region && EqualRgn(_region, other._region);
}

bool Kelvo_Region::operator!=(Kelvo_Region& other) {
    if (!_region || !other._region) return true;
    return !EqualRgn(_region, other._region);
}

int32_t Kelvo_Region::RectToRegion(Kelvo_Rect* rect) {
    defaultStatus();
    if (_region && isValidInstance(rect, _status, false))
        SetRectRgn(_region, rect->left(), rect->top(), rect->right(), rect->bottom());
    return _status;
}

int32_t Kelvo_Region::OvalToRegion(Kelvo_Rect* rect) {
    defaultStatus();
    if (_region && isValidInstance(rect, _status, false)) {
        OpenRgn();
        FrameOval(rect->rPtr());
        CloseRgn(_region);
    }
    return _status;
}

int32_t Kelvo_Region::ContourToRegion(Kelvo_Contour* contour) {
    defaultStatus();
    if (!_region || !isValidInstance(contour, _status, false)) return _status;
    OpenRgn();
    // Point 0 of an empty contour is its spare point (-1, -1): the pen moves and nothing is drawn.
    Kelvo_Point& first = (*contour)[0];
    int32_t x0 = first.x(), y0 = first.y();
    MoveTo(x0, y0);
    int32_t count = contour->count();
    for (int32_t i = 1; i < count; ++i) {
        Kelvo_Point& p = (*contour)[i];
        LineTo(p.x(), p.y());
        MoveTo(p.x(), p.y());
    }
    if (contour->isClosed()) LineTo(x0, y0);
    CloseRgn(_region);
    return _status;
}

int32_t Kelvo_Region::GraphicsToRegion(GWorldPtr world) {
    if (!world) {
        _status = paramErr;
        reset();
        return _status;
    }
    defaultStatus();
    if (!_region) return _status;
    PixMapHandle pixMap = GetGWorldPixMap(world);
    if (!pixMap) return _status;
    LockPixels(pixMap);
    HLock(reinterpret_cast<Handle>(pixMap));
    _status = BitMapToRegion(_region, reinterpret_cast<const BitMap*>(*pixMap));
    return _status;
}

int32_t Kelvo_Region::PictureToRegion(PicHandle picture) {
    if (!picture) {
        reset();
        return _status;
    }
    Kelvo_Rect frame(picture);
    if (!frame.qtObjIsValid()) {
        _status = frame.Error();
        reset();
        return _status;
    }
    CGrafPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    GetGWorld(&savedPort, &savedDevice);
    GWorldPtr world = nullptr;
    _status = QTNewGWorld(&world, 1, frame.rPtr(), nullptr, nullptr, 0);
    if (!world) {
        reset();
        return _status;
    }
    SetGWorld(world, nullptr);
    EraseRect(frame.rPtr());
    DrawPicture(picture, frame.rPtr());
    GraphicsToRegion(world);
    UnlockPixels(GetGWorldPixMap(world));
    DisposeGWorld(world);
    SetGWorld(savedPort, savedDevice);
    return _status;
}

int32_t Kelvo_Region::getRegionFromSGChannel(SGChannel channel) {
    reset();
    if (!channel) {
        _status = paramErr;
        return _status;
    }
    _status = SGGetChannelClip(channel, &_region);
    return _status;
}

bool Kelvo_Region::empty() const {
    return !_region || EmptyRgn(_region);
}

bool Kelvo_Region::isInRegion(const Kelvo_Point& point) const {
    return _region && platform::regionContains(_region, point.x(), point.y());
}

void Kelvo_Region::NtoB(Kelvo_Region& region) {
    if (region.qtObjIsValid()) NtoB(region._region);
}

void Kelvo_Region::BtoN(Kelvo_Region& region) {
    if (region.qtObjIsValid()) BtoN(region._region);
}

void Kelvo_Region::NtoB(RgnHandle region) {
    swapFlatRegion(region, true);
}

void Kelvo_Region::BtoN(RgnHandle region) {
    swapFlatRegion(region, false);
}

RgnHandle Kelvo_Region::nativeToBig() const {
    return convertedCopy(_region, true);
}

RgnHandle Kelvo_Region::bigToNative() const {
    return convertedCopy(_region, false);
}
