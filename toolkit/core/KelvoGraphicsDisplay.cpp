#include "KelvoGraphicsDisplay.h"

#include "KelvoGraphicsSources.h"
#include "PlatformFixed.h"
#include "PlatformGeometry.h"
#include "PlatformGraphicsImport.h"

#include <cmath>
#include <cstring>
#include <new>

using kelvo_graphics::SourceKind;

namespace {

constexpr std::array<double, 256> makeGammaLut() {
    std::array<double, 256> lut{};
    for (int i = 0; i < 256; ++i) {
        // i / 256 in millionths is i * 3906.25 exactly: round that to an integer, halves to even.
        int64_t quarters = int64_t(i) * 390625; // hundredths of a millionth
        int64_t whole = quarters / 100, rest = quarters % 100;
        if (rest > 50 || (rest == 50 && (whole & 1))) ++whole;
        lut[size_t(i)] = double(whole) / 1e6;
    }
    return lut;
}

} // namespace

const std::array<double, 256> LUT_GAMMA_HASH = makeGammaLut();

void Kelvo_GammaTable(double gamma, unsigned char* table) {
    if (!table) return;
    for (int i = 0; i < 256; ++i) {
        double v = std::pow(LUT_GAMMA_HASH[size_t(i)], gamma) * 255.0;
        table[i] = uint8_t(uint32_t(platform::truncToInt32(v)) & 0xFF);
    }
}

// ---------------------------------------------------------------------------------------------
// Display parameters

Kelvo_CoreDisplayParams::Kelvo_CoreDisplayParams(const Kelvo_CoreDisplayParams& other)
    : Kelvo_QTObj(other), _displayBounds(other._displayBounds), _graphicsMode(other._graphicsMode),
      _clipRegion(other._clipRegion), _matrix(other._matrix) {}

Kelvo_CoreDisplayParams::Kelvo_CoreDisplayParams(ComponentInstance importer)
    : _displayBounds(importer), _graphicsMode(importer), _clipRegion(importer), _matrix(importer) {}

Kelvo_CoreDisplayParams::Kelvo_CoreDisplayParams(Kelvo_QTObj* object) {
    initWithObject(object);
}

void Kelvo_CoreDisplayParams::defaultStatus() {
    _displayBounds.defaultStatus();
    _graphicsMode.defaultStatus();
    _clipRegion.defaultStatus();
    _matrix.defaultStatus();
}

void Kelvo_CoreDisplayParams::copy(Kelvo_QTObj& other) {
    // Copying onto itself would reset what it is about to copy.
    if (&other == this) return;
    defaultStatus();
    initWithObject(&other);
}

Kelvo_QTObj* Kelvo_CoreDisplayParams::clone() {
    return new (std::nothrow) Kelvo_CoreDisplayParams(*this);
}

bool Kelvo_CoreDisplayParams::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_QTObj::isA(name) || std::strcmp(name, "Kelvo_CoreDisplayParams") == 0;
}

void Kelvo_CoreDisplayParams::initWithObject(Kelvo_QTObj* object) {
    if (!isValidInstance(object, _status, false)) {
        _status = 0;
        return;
    }
    if (object->isA(qtObjName())) {
        auto* other = static_cast<Kelvo_CoreDisplayParams*>(object);
        _displayBounds = other->_displayBounds;
        _graphicsMode.copy(other->_graphicsMode);
        _clipRegion.copy(other->_clipRegion);
        _matrix.copy(other->_matrix);
    } else if (object->isA("Kelvo_DisplayTransform")) {
        auto* t = static_cast<Kelvo_DisplayTransform*>(object);
        _displayBounds = t->qtDstRect();
        _graphicsMode.copy(t->drawingMode());
        _matrix.copy(t->getMatrix());
        if (t->Clip()) _clipRegion.copy(*t->Clip());
    } else {
        switch (kelvo_graphics::kindOf(*object)) {
        case SourceKind::Movie:
            _displayBounds = static_cast<Movie>(object->qtObjReference());
            break;
        case SourceKind::Track:
            _displayBounds = static_cast<Track>(object->qtObjReference());
            break;
        case SourceKind::Media:
            _displayBounds = static_cast<Media>(object->qtObjReference());
            break;
        case SourceKind::None:
            _displayBounds.copy(*object);
            break;
        }
        if (object != &_graphicsMode) _graphicsMode.initWithObject(object);
        if (object != &_clipRegion) _clipRegion.initWithObject(object);
        if (object != &_matrix) _matrix.initWithObject(object);
    }
    _status = 0;
}

Kelvo_CoreDisplayParams& Kelvo_CoreDisplayParams::operator=(const Kelvo_CoreDisplayParams& other) {
    return *this = static_cast<Kelvo_QTObj&>(const_cast<Kelvo_CoreDisplayParams&>(other));
}

Kelvo_CoreDisplayParams& Kelvo_CoreDisplayParams::operator=(Kelvo_QTObj& object) {
    if (&object == this) return *this;
    defaultStatus();
    initWithObject(&object);
    return *this;
}

Kelvo_CoreDisplayParams& Kelvo_CoreDisplayParams::operator=(ComponentInstance importer) {
    if (!importer) {
        defaultStatus();
        return *this;
    }
    _displayBounds = importer;
    GraphicsImportGetGraphicsMode(importer, &_graphicsMode.mode(), &_graphicsMode.color());
    _clipRegion = importer;
    GraphicsImportGetMatrix(importer, _matrix);
    return *this;
}

// ---------------------------------------------------------------------------------------------
// Display transform

void Kelvo_DisplayTransform::_initFields() {
    _gammaTable = nullptr;
    _srcRect.defaultStatus();
    _dstRect.defaultStatus();
    _mode.defaultStatus();
    _clip = nullptr;
    _matrix.defaultStatus();
    _flips = 0;
}

Kelvo_DisplayTransform::Kelvo_DisplayTransform() {
    _initFields();
    defaultStatus();
}

Kelvo_DisplayTransform::Kelvo_DisplayTransform(const Kelvo_DisplayTransform& other) : Kelvo_QTObj(other) {
    _initFields();
    Copy(other);
}

Kelvo_DisplayTransform::Kelvo_DisplayTransform(Rect* src, Rect* dst) {
    _initFields();
    defaultStatus();
    if (src) _srcRect = *src;
    if (dst) DstRect(dst);
}

Kelvo_DisplayTransform::Kelvo_DisplayTransform(const Kelvo_Rect& src, const Kelvo_Rect& dst) {
    _initFields();
    defaultStatus();
    _srcRect = src;
    if (dst.qtObjIsValid()) DstRect(dst.rPtr());
}

Kelvo_DisplayTransform::Kelvo_DisplayTransform(ComponentInstance importer) {
    _initFields();
    Copy(importer);
}

Kelvo_DisplayTransform::~Kelvo_DisplayTransform() {
    delete _clip;
    delete[] _gammaTable;
}

void Kelvo_DisplayTransform::defaultStatus() {
    _matrix.defaultStatus();
    _scale = 1.0;
    _rotation = 0;
    Gamma(1.0);
    _translationX = 0;
    _translationY = 0;
    _srcRect.defaultStatus();
    _dstRect.defaultStatus();
    _mode.defaultStatus();
    _flips = 0;
    delete _clip;
    _clip = nullptr;
    _discardColor = 0;
}

Kelvo_QTObj* Kelvo_DisplayTransform::clone() {
    return new (std::nothrow) Kelvo_DisplayTransform(*this);
}

void Kelvo_DisplayTransform::Copy(const Kelvo_DisplayTransform& other) {
    if (&other == this) return;
    defaultStatus();
    _matrix.anchorPoint() = other._matrix.anchorPoint();
    if (other._srcRect.qtObjIsValid() && other._srcRect != _srcRect) _srcRect = other._srcRect;
    if (other._dstRect.qtObjIsValid() && other._dstRect != _dstRect) DstRect(other._dstRect.rPtr());
    _mode.copy(const_cast<Kelvo_GraphicsMode&>(other._mode));
    Clip(other._clip);
    _discardColor = other._discardColor;
    _flips = other._flips;
    _rotation = other._rotation;
    _scale = other._scale;
    Gamma(other._gamma);
    _translationX = other._translationX;
    _translationY = other._translationY;
}

void Kelvo_DisplayTransform::Copy(ComponentInstance importer) {
    defaultStatus();
    if (!importer) {
        _status = paramErr;
        return;
    }
    GraphicsImportGetMatrix(importer, _matrix);
    GraphicsImportGetSourceRect(importer, _srcRect.rPtr());
    Rect dst{0, 0, 0, 0};
    GraphicsImportGetDestRect(importer, &dst);
    DstRect(&dst);
    GraphicsImportGetGraphicsMode(importer, &_mode.mode(), &_mode.color());
    Kelvo_Region* clip = new (std::nothrow) Kelvo_Region(importer);
    if (!clip) {
        _status = memFullErr;
        ClipToDestRect();
        return;
    }
    isValidInstance(clip, _status, true);
    if (!clip) {
        // The importer's clip could not be read: clip to the destination instead.
        ClipToDestRect();
        return;
    }
    _clip = clip;
}

void Kelvo_DisplayTransform::SrcRect(const Rect* r) {
    if (r) _srcRect = *r;
}

void Kelvo_DisplayTransform::DstRect(const Rect* r) {
    if (!r) return;
    _dstRect = *r;
    _dstRect.center(_matrix.anchorPoint());
}

void Kelvo_DisplayTransform::Clip(Kelvo_Region* region) {
    if (region && region == _clip) return; // its own clip: nothing to replace
    delete _clip;
    _clip = nullptr;
    if (!region) return;
    if (!region->qtObjIsValid()) {
        _status = paramErr;
        return;
    }
    _clip = new (std::nothrow) Kelvo_Region(*region);
    _status = _clip ? _clip->Error() : memFullErr;
}

int32_t Kelvo_DisplayTransform::ClipToDestRect() {
    if (!_clip) _clip = new (std::nothrow) Kelvo_Region();
    if (!_clip) return memFullErr;
    return _clip->RectToRegion(&_dstRect);
}

void Kelvo_DisplayTransform::Gamma(double gamma) {
    delete[] _gammaTable;
    _gammaTable = nullptr;
    if (gamma <= 0.0) {
        _status = paramErr;
        return;
    }
    _gammaTable = new (std::nothrow) uint8_t[256];
    if (!_gammaTable) {
        _status = memFullErr;
        return;
    }
    Kelvo_GammaTable(gamma, _gammaTable);
    _gamma = gamma;
}

void Kelvo_DisplayTransform::setFlipHor(bool on) {
    _flips = on ? (_flips | 1u) : (_flips & ~1u);
}

void Kelvo_DisplayTransform::setFlipVer(bool on) {
    _flips = on ? (_flips | 2u) : (_flips & ~2u);
}

void Kelvo_DisplayTransform::handleFlip() {
    if (!_flips) return;
    int32_t dx = (_flips & 1) ? int32_t(_dstRect.left()) + _dstRect.right() : 0;
    int32_t dy = (_flips & 2) ? int32_t(_dstRect.top()) + _dstRect.bottom() : 0;
    _matrix.setFlip(int32_t(_flips));
    TranslateMatrix(_matrix, Long2Fix(dx), Long2Fix(dy));
}

void Kelvo_DisplayTransform::_rebuild() {
    Kelvo_Point anchor(_matrix.anchorPoint());
    _matrix.defaultStatus();
    _matrix.bounds(_srcRect, _dstRect);
    handleFlip();
    _matrix.anchorPoint() = anchor;
    if (_scale != 0.0) _matrix.setScale(_scale, _scale);
    if (_translationX != 0 || _translationY != 0)
        TranslateMatrix(_matrix, Long2Fix(_translationX), Long2Fix(_translationY));
    if (_rotation != 0) _matrix.setRotation(double(_rotation));
}

Kelvo_Matrix& Kelvo_DisplayTransform::getMatrix() {
    _rebuild();
    return _matrix;
}

MatrixRecord* Kelvo_DisplayTransform::Matrix() {
    _rebuild();
    return _matrix;
}
