#include "KelvoCoreGraphics.h"

#include "PlatformEndian.h"
#include "PlatformErrors.h"
#include "PlatformFixed.h"
#include "PlatformGWorlds.h"
#include "PlatformMovies.h"
#include "PlatformPendingCalls.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>

namespace {

int16_t swapS16(int16_t v) {
    return int16_t(platform::swap16(uint16_t(v)));
}

// Sets r from 32-bit edges when all four fit 16 bits.
bool setEdges(Rect& r, int64_t left, int64_t top, int64_t right, int64_t bottom) {
    if (!platform::fitsInt16(left) || !platform::fitsInt16(top) || !platform::fitsInt16(right) ||
        !platform::fitsInt16(bottom))
        return false;
    r.left = int16_t(left);
    r.top = int16_t(top);
    r.right = int16_t(right);
    r.bottom = int16_t(bottom);
    return true;
}

// A double truncated toward zero, when it is a number inside the 32-bit range.
bool truncChecked(double v, int64_t& out) {
    if (std::isnan(v) || v >= 2147483648.0 || v <= -2147483649.0) return false;
    out = int64_t(v);
    return true;
}

// a / b with the results IEEE arithmetic gives for b == 0, without dividing by zero.
template <class T> T quotient(T a, T b) {
    if (b != 0) return a / b;
    if (a == 0 || std::isnan(a)) return std::numeric_limits<T>::quiet_NaN();
    bool negative = std::signbit(a) != std::signbit(b);
    return negative ? -std::numeric_limits<T>::infinity() : std::numeric_limits<T>::infinity();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Construction and assignment

Kelvo_Rect::Kelvo_Rect(const Rect* r) {
    rPtr(r);
}

Kelvo_Rect::Kelvo_Rect(int32_t width, int32_t height) {
    if (!setEdges(_rect, 0, 0, width, height)) _status = paramErr;
}

Kelvo_Rect::Kelvo_Rect(const Kelvo_Size& size) {
    int64_t w = 0, h = 0;
    if (!truncChecked(size.width(), w) || !truncChecked(size.height(), h) || !setEdges(_rect, 0, 0, w, h))
        _status = paramErr;
}

Kelvo_Rect::Kelvo_Rect(CGrafPtr port) {
    *this = port;
}

Kelvo_Rect::Kelvo_Rect(ImageDescriptionHandle desc) {
    *this = desc;
}

Kelvo_Rect::Kelvo_Rect(GraphicsImportComponent importer) {
    *this = importer;
}

Kelvo_Rect::Kelvo_Rect(PicHandle picture) {
    *this = picture;
}

Kelvo_Rect::Kelvo_Rect(const CGRect& cg) {
    setFromCG(cg);
}

Kelvo_Rect::~Kelvo_Rect() = default;

void Kelvo_Rect::copy(Kelvo_QTObj& source) {
    if (&source == this || !source.isA(qtObjName())) return;
    _rect = static_cast<Kelvo_Rect&>(source)._rect;
}

Kelvo_QTObj* Kelvo_Rect::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new Kelvo_Rect(*this);
}

Kelvo_Rect& Kelvo_Rect::operator=(const Rect& r) {
    _rect = r;
    return *this;
}

void Kelvo_Rect::rPtr(const Rect* r) {
    if (!r) {
        defaultStatus();
        return;
    }
    if (r != &_rect) _rect = *r;
}

Kelvo_Rect& Kelvo_Rect::operator=(CGrafPtr port) {
    if (!port) {
        _status = paramErr;
        return *this;
    }
    GetPortBounds(port, &_rect);
    return *this;
}

Kelvo_Rect& Kelvo_Rect::operator=(ImageDescriptionHandle desc) {
    Handle h = reinterpret_cast<Handle>(desc);
    // Only a description long enough to hold its width and height is read.
    constexpr Size kNeeded = Size(offsetof(ImageDescription, height) + sizeof(int16_t));
    if (!h || !*h || GetHandleSize(h) < kNeeded) {
        _status = paramErr;
        return *this;
    }
    int16_t width = 0, height = 0;
    std::memcpy(&width, *h + offsetof(ImageDescription, width), sizeof width);
    std::memcpy(&height, *h + offsetof(ImageDescription, height), sizeof height);
    _rect = Rect{0, 0, height, width};
    return *this;
}

Kelvo_Rect& Kelvo_Rect::operator=(GraphicsImportComponent importer) {
    if (!importer) {
        _status = paramErr;
        return *this;
    }
    _status = GraphicsImportGetNaturalBounds(importer, &_rect);
    return *this;
}

Kelvo_Rect& Kelvo_Rect::operator=(PicHandle picture) {
    if (!picture) return *this;
    Rect bounds;
    if (OSErr err = QDGetPictureBounds(picture, &bounds)) {
        _status = err;
        return *this;
    }
    _rect = bounds;
    return *this;
}

Kelvo_Rect& Kelvo_Rect::operator=(const CGRect& cg) {
    setFromCG(cg);
    return *this;
}

void Kelvo_Rect::setFromCG(const CGRect& cg) {
    int64_t x = 0, y = 0, w = 0, h = 0;
    Rect r;
    if (!truncChecked(cg.origin.x, x) || !truncChecked(cg.origin.y, y) || !truncChecked(cg.size.width, w) ||
        !truncChecked(cg.size.height, h) || !setEdges(r, x, y, x + w, y + h)) {
        _status = paramErr;
        return;
    }
    _rect = r;
}

Kelvo_Rect& Kelvo_Rect::operator=(Movie movie) {
    if (!movie) {
        defaultStatus();
        return *this;
    }
    GetMovieBox(movie, &_rect);
    return *this;
}

Kelvo_Rect& Kelvo_Rect::operator=(Track track) {
    setFromTrack(track);
    return *this;
}

Kelvo_Rect& Kelvo_Rect::operator=(Media media) {
    setFromTrack(media ? GetMediaTrack(media) : nullptr);
    return *this;
}

void Kelvo_Rect::setFromTrack(Track track) {
    if (!track) {
        defaultStatus();
        return;
    }
    Fixed w = 0, h = 0;
    GetTrackDimensions(track, &w, &h);
    // Rounded to the nearest integer as the platform's FixRound does, but in 32 bits: a
    // dimension that leaves the 16-bit plane is refused rather than clipped.
    if (!setEdges(_rect, _rect.left, _rect.top, int64_t(_rect.left) + Fix2Long(w),
                  int64_t(_rect.top) + Fix2Long(h)))
        _status = paramErr;
}

// ---------------------------------------------------------------------------------------------
// Size and position

void Kelvo_Rect::width(int32_t w) {
    int64_t right = int64_t(_rect.left) + w;
    if (!platform::fitsInt16(right)) {
        _status = paramErr;
        return;
    }
    _rect.right = int16_t(right);
}

void Kelvo_Rect::height(int32_t h) {
    int64_t bottom = int64_t(_rect.top) + h;
    if (!platform::fitsInt16(bottom)) {
        _status = paramErr;
        return;
    }
    _rect.bottom = int16_t(bottom);
}

Fixed Kelvo_Rect::widthAsFixed() const {
    return Long2Fix(width());
}

Fixed Kelvo_Rect::heightAsFixed() const {
    return Long2Fix(height());
}

void Kelvo_Rect::operator()(int16_t h, int16_t v, bool topLeft) {
    if (topLeft) {
        _rect.left = h;
        _rect.top = v;
    } else {
        _rect.right = h;
        _rect.bottom = v;
    }
}

void Kelvo_Rect::move(int16_t h, int16_t v, bool topLeft) {
    int64_t w = width(), ht = height();
    bool ok = topLeft ? setEdges(_rect, h, v, h + w, v + ht) : setEdges(_rect, h - w, v - ht, h, v);
    if (!ok) _status = paramErr;
}

const Kelvo_Size& Kelvo_Rect::size() const {
    _sizeCache(double(width()), double(height()));
    return _sizeCache;
}

void Kelvo_Rect::size(const Kelvo_Size& s) {
    int64_t w = 0, h = 0;
    if (!truncChecked(s.width(), w) || !truncChecked(s.height(), h) ||
        !setEdges(_rect, _rect.left, _rect.top, _rect.left + w, _rect.top + h))
        _status = paramErr;
}

double Kelvo_Rect::rRatio() const {
    const Kelvo_Size& s = size();
    return height() >= 1 ? s.width() / s.height() : 0.0;
}

void Kelvo_Rect::center(int32_t* h, int32_t* v) const {
    if (h) *h = _rect.left + (width() >> 1);
    if (v) *v = _rect.top + (height() >> 1);
}

void Kelvo_Rect::center(Kelvo_Point& p) const {
    int32_t h = 0, v = 0;
    center(&h, &v);
    p(h, v);
}

void Kelvo_Rect::setTopCorner(Kelvo_Point& p) {
    if (!p.qtObjIsValid()) return;
    if (!setEdges(_rect, p.x(), p.y(), _rect.right, _rect.bottom)) _status = paramErr;
}

void Kelvo_Rect::setBottomCorner(Kelvo_Point& p) {
    if (!p.qtObjIsValid()) return;
    if (!setEdges(_rect, _rect.left, _rect.top, p.x(), p.y())) _status = paramErr;
}

Kelvo_Rect::operator CGRect() const {
    return CGRectMake(float(_rect.left), float(_rect.top), float(width()), float(height()));
}

// ---------------------------------------------------------------------------------------------
// Tests and comparisons

bool Kelvo_Rect::isInRect(Kelvo_Rect& outer, bool strict) const {
    if (EmptyRect(&_rect) || !outer.qtObjIsValid()) return false;
    const Rect& o = outer._rect;
    if (strict)
        return _rect.left > o.left && _rect.top > o.top && _rect.right < o.right && _rect.bottom < o.bottom;
    return _rect.left >= o.left && _rect.top >= o.top && _rect.right <= o.right && _rect.bottom <= o.bottom;
}

bool Kelvo_Rect::isInRect(const Kelvo_Point& p) const {
    // A point beyond the 16-bit plane lies outside every rectangle.
    if (!platform::fitsInt16(p.x()) || !platform::fitsInt16(p.y())) return false;
    return PtInRect(Point{int16_t(p.y()), int16_t(p.x())}, &_rect);
}

bool Kelvo_Rect::operator==(const Kelvo_Rect& o) const {
    return _rect.top == o._rect.top && _rect.left == o._rect.left && _rect.bottom == o._rect.bottom &&
           _rect.right == o._rect.right;
}

// ---------------------------------------------------------------------------------------------
// Byte order

Rect Kelvo_Rect::nativeToBig() const {
    Rect r = _rect;
    NtoB(r);
    return r;
}

void Kelvo_Rect::NtoB(Kelvo_Rect& r) {
    if (!r.qtObjIsValid()) return;
    NtoB(r._rect);
}

void Kelvo_Rect::NtoB(Rect& r) {
    r.top = swapS16(r.top);
    r.left = swapS16(r.left);
    r.bottom = swapS16(r.bottom);
    r.right = swapS16(r.right);
}

// ---------------------------------------------------------------------------------------------
// Fitting

Kelvo_Rect* Kelvo_Rect::fitToRect(Kelvo_Rect& shape) {
    if (!qtObjIsValid() || !shape.qtObjIsValid()) {
        _status = kKelvoBadArgumentObject;
        return nullptr;
    }
    auto* result = new Kelvo_Rect();
    Kelvo_RectScaleInRect(&_rect, &shape._rect, &result->_rect);
    return result;
}

void Kelvo_Rect::scaleToFit(Kelvo_Rect& shape, Kelvo_Rect& area, Kelvo_Rect& result) {
    Kelvo_RectScaleInRect(&area._rect, &shape._rect, &result._rect);
}

void Kelvo_RectCopy(Rect* dst, const Rect* src) {
    if (!dst) return;
    std::memset(dst, 0, sizeof *dst);
    if (src) *dst = *src;
}

void Kelvo_RectScaleInRect(const Rect* area, const Rect* shape, Rect* result) {
    if (!area || !shape || !result) return;
    // The shape's proportion in single precision, as the fitted size has always been computed.
    float r =
        quotient(float(int32_t(shape->right) - shape->left), float(int32_t(shape->bottom) - shape->top));
    int32_t aw = int32_t(area->right) - area->left;
    int32_t ah = int32_t(area->bottom) - area->top;
    int32_t w = 0, h = 0;
    if (float(ah) * r > float(aw)) {
        w = aw;
        h = platform::truncToInt32(quotient(1.0, double(r)) * double(aw));
    } else {
        h = ah;
        w = platform::truncToInt32(double(r * float(ah)));
    }
    // Sizes and offsets stay in 32 bits: an area wider than 32767 still centres correctly.
    int64_t dx = (int64_t(aw) - w) / 2;
    int64_t dy = (int64_t(ah) - h) / 2;
    SetRect(result, platform::clampToInt16(area->left + dx), platform::clampToInt16(area->top + dy),
            platform::clampToInt16(area->left + int64_t(w) + dx),
            platform::clampToInt16(area->top + int64_t(h) + dy));
}

// ---------------------------------------------------------------------------------------------
// Digital line

Kelvo_Contour* Kelvo_CreateInterpolatedLineDDA(Kelvo_Point& a, Kelvo_Point& b) {
    if (!a.qtObjIsValid() || !b.qtObjIsValid()) return nullptr;
    if (a == b) return nullptr;
    int64_t dx = int64_t(b.x()) - a.x();
    int64_t dy = int64_t(b.y()) - a.y();
    int64_t steps = std::max(dx < 0 ? -dx : dx, dy < 0 ? -dy : dy);
    // A line across the whole 16-bit plane has 65535 steps; anything longer is no drawing
    // and would only exhaust memory.
    if (steps > 65535) return nullptr;
    auto* contour = new Kelvo_Contour();
    int32_t error = 0;
    if (!Kelvo_QTObj::isValidInstance(contour, error, true) || !contour->qtObjIsValid()) {
        delete contour;
        return nullptr;
    }
    double x = a.x(), y = a.y();
    Kelvo_Point p(a.x(), a.y());
    contour->add(&p);
    double xinc = double(dx) / double(steps);
    double yinc = double(dy) / double(steps);
    for (int64_t i = 0; i < steps; ++i) {
        x += xinc;
        y += yinc;
        p(platform::truncToInt32(std::round(x)), platform::truncToInt32(std::round(y)));
        contour->add(&p);
    }
    return contour;
}
