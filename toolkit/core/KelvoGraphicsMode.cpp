#include "KelvoGraphicsMode.h"

#include "KelvoGraphicsSources.h"
#include "PlatformEndian.h"
#include "PlatformGraphicsImport.h"
#include "PlatformMovies.h"

#include <new>

using kelvo_graphics::SourceKind;

namespace {

void swapColor(RGBColor& c) {
    c.red = platform::swap16(c.red);
    c.green = platform::swap16(c.green);
    c.blue = platform::swap16(c.blue);
}

} // namespace

Kelvo_GraphicsMode::Kelvo_GraphicsMode(Kelvo_QTObj* object) {
    initWithObject(object);
}

Kelvo_GraphicsMode::Kelvo_GraphicsMode(ComponentInstance importer) {
    if (importer) GraphicsImportGetGraphicsMode(importer, &_record.graphicsMode, &_record.opColor);
}

void Kelvo_GraphicsMode::defaultStatus() {
    _record = ModifierTrackGraphicsModeRecord{0, {0, 0, 0}};
}

void Kelvo_GraphicsMode::copy(Kelvo_QTObj& other) {
    if (&other != this) initWithObject(&other);
}

Kelvo_QTObj* Kelvo_GraphicsMode::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new (std::nothrow) Kelvo_GraphicsMode(*this);
}

void Kelvo_GraphicsMode::_fromMedia(Media media) {
    int32_t mode = 0;
    RGBColor color{0, 0, 0};
    if (!kelvo_graphics::mediaDrawingMode(media, mode, color)) {
        defaultStatus();
        return;
    }
    _record.graphicsMode = mode;
    _record.opColor = color;
}

void Kelvo_GraphicsMode::initWithMedia(Kelvo_QTObj& media) {
    _fromMedia(media.isA("Kelvo_Media") ? static_cast<Media>(media.qtObjReference()) : nullptr);
}

void Kelvo_GraphicsMode::initWithObject(Kelvo_QTObj* object) {
    if (!isValidInstance(object, _status, false)) {
        defaultStatus();
        return;
    }
    if (object->isA(qtObjName())) {
        _record = static_cast<Kelvo_GraphicsMode*>(object)->_record;
        return;
    }
    switch (kelvo_graphics::kindOf(*object)) {
    case SourceKind::Track: {
        auto track = static_cast<Track>(object->qtObjReference());
        _fromMedia(track ? GetTrackMedia(track) : nullptr);
        return;
    }
    case SourceKind::Media:
        _fromMedia(static_cast<Media>(object->qtObjReference()));
        return;
    case SourceKind::Movie:
    case SourceKind::None:
        break;
    }
    defaultStatus();
}

Kelvo_GraphicsMode& Kelvo_GraphicsMode::operator=(const Kelvo_GraphicsMode& other) {
    copy(const_cast<Kelvo_GraphicsMode&>(other));
    return *this;
}

Kelvo_GraphicsMode& Kelvo_GraphicsMode::operator=(ComponentInstance importer) {
    if (!importer) {
        defaultStatus();
        return *this;
    }
    GraphicsImportGetGraphicsMode(importer, &_record.graphicsMode, &_record.opColor);
    return *this;
}

Kelvo_GraphicsMode& Kelvo_GraphicsMode::operator=(Track track) {
    _fromMedia(track ? GetTrackMedia(track) : nullptr);
    return *this;
}

Kelvo_GraphicsMode& Kelvo_GraphicsMode::operator=(Media media) {
    _fromMedia(media);
    return *this;
}

bool Kelvo_GraphicsMode::operator==(const Kelvo_GraphicsMode& other) const {
    if (&other == this) return true;
    return _record.graphicsMode == other._record.graphicsMode &&
           Kelvo_EqualColor(&_record.opColor, &other._record.opColor);
}

void Kelvo_GraphicsMode::NtoB(ModifierTrackGraphicsModeRecord& record) {
    record.graphicsMode = int32_t(platform::swap32(uint32_t(record.graphicsMode)));
    swapColor(record.opColor);
}

ModifierTrackGraphicsModeRecord Kelvo_GraphicsMode::nativeToBig() const {
    ModifierTrackGraphicsModeRecord r = _record;
    NtoB(r);
    return r;
}

bool Kelvo_EqualColor(const RGBColor* a, const RGBColor* b) {
    if (!a || !b) return false;
    return a->red == b->red && a->green == b->green && a->blue == b->blue;
}

RGBColor* Kelvo_ColorCopy(RGBColor* dst, const RGBColor* src) {
    if (dst && src) {
        dst->red = src->red;
        dst->green = src->green;
        dst->blue = src->blue;
    }
    return dst;
}

void Kelvo_ColorRange::defaultStatus() {
    _start = RGBColor{0, 0, 0};
    _end = RGBColor{65535, 65535, 65535};
}

Kelvo_QTObj* Kelvo_ColorRange::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new (std::nothrow) Kelvo_ColorRange(*this);
}

Kelvo_ColorRange& Kelvo_ColorRange::operator=(const Kelvo_ColorRange& other) {
    if (&other != this) {
        _start = other._start;
        _end = other._end;
    }
    return *this;
}

bool Kelvo_ColorRange::operator==(const Kelvo_ColorRange& other) const {
    return Kelvo_EqualColor(&_start, &other._start) && Kelvo_EqualColor(&_end, &other._end);
}

void Kelvo_ColorRange::NtoB(Kelvo_ColorRange& range) {
    swapColor(range._start);
    swapColor(range._end);
}

Kelvo_ColorRange Kelvo_ColorRange::nativeToBig() const {
    Kelvo_ColorRange r(*this);
    NtoB(r);
    return r;
}
