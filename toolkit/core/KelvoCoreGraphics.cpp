#include "KelvoCoreGraphics.h"

#include "PlatformEndian.h"
#include "PlatformFixed.h"

#include <cmath>
#include <cstdlib>

// ---------------------------------------------------------------------------------------------
// Kelvo_Point

namespace {

int32_t wrapAdd(int32_t a, int32_t b) {
    return int32_t(uint32_t(a) + uint32_t(b));
}

int32_t wrapSub(int32_t a, int32_t b) {
    return int32_t(uint32_t(a) - uint32_t(b));
}

int16_t swapS16(int16_t v) {
    return int16_t(platform::swap16(uint16_t(v)));
}

} // namespace

Kelvo_Point::Kelvo_Point(const CGPoint& cg)
    : _x(platform::truncToInt32(cg.x)), _y(platform::truncToInt32(cg.y)) {}

Kelvo_Point::~Kelvo_Point() = default;

Kelvo_QTObj* Kelvo_Point::clone() {
    return new Kelvo_Point(*this);
}

Fixed Kelvo_Point::xAsFixed() const {
    return Long2Fix(_x);
}

Fixed Kelvo_Point::yAsFixed() const {
    return Long2Fix(_y);
}

void Kelvo_Point::xAsFixed(Fixed f) {
    _x = Fix2Long(f);
}

void Kelvo_Point::yAsFixed(Fixed f) {
    _y = Fix2Long(f);
}

void Kelvo_Point::move(int32_t dx, int32_t dy) {
    _x = wrapAdd(_x, dx);
    _y = wrapAdd(_y, dy);
}

void Kelvo_Point::fromFixed(const FixedPoint& fp) {
    _x = Fix2Long(fp.x);
    _y = Fix2Long(fp.y);
}

void Kelvo_Point::toFixed(FixedPoint& fp) const {
    fp.x = Long2Fix(_x);
    fp.y = Long2Fix(_y);
}

Kelvo_Point& Kelvo_Point::operator=(const CGPoint& cg) {
    _x = platform::truncToInt32(cg.x);
    _y = platform::truncToInt32(cg.y);
    return *this;
}

bool Kelvo_Point::operator==(const CGPoint& cg) const {
    return _x == platform::truncToInt32(cg.x) && _y == platform::truncToInt32(cg.y);
}

Kelvo_Point& Kelvo_Point::operator+=(const Kelvo_Point& o) {
    _x = wrapAdd(_x, o._x);
    _y = wrapAdd(_y, o._y);
    return *this;
}

Kelvo_Point& Kelvo_Point::operator-=(const Kelvo_Point& o) {
    _x = wrapSub(_x, o._x);
    _y = wrapSub(_y, o._y);
    return *this;
}

Kelvo_Point Kelvo_Point::operator+(const Kelvo_Point& o) const {
    return Kelvo_Point(wrapAdd(_x, o._x), wrapAdd(_y, o._y));
}

Kelvo_Point Kelvo_Point::operator-(const Kelvo_Point& o) const {
    return Kelvo_Point(wrapSub(_x, o._x), wrapSub(_y, o._y));
}

Kelvo_Point::operator Point() const {
    return Point{platform::clampToInt16(_y), platform::clampToInt16(_x)};
}

float Kelvo_Point::distance(const Kelvo_Point& a, const Kelvo_Point& b) {
    int64_t dx = int64_t(b._x) - a._x;
    int64_t dy = int64_t(b._y) - a._y;
    // Squares of differences up to 2^32 in double precision: exact while the sum stays below
    // 2^53, far beyond the 2^31 that 32-bit arithmetic held.
    double sum = double(dx) * double(dx) + double(dy) * double(dy);
    return float(std::sqrt(sum));
}

Kelvo_Point Kelvo_Point::midPoint(const Kelvo_Point& a, const Kelvo_Point& b) {
    // The sum of two 32-bit values needs 33 bits; its half fits 32 again.
    int64_t sx = int64_t(a._x) + b._x;
    int64_t sy = int64_t(a._y) + b._y;
    return Kelvo_Point(int32_t(sx >> 1), int32_t(sy >> 1));
}

Point Kelvo_Point::nativeToBig() const {
    Point p = *this;
    NtoB(p);
    return p;
}

void Kelvo_Point::NtoB(Kelvo_Point& p) {
    if (!p.qtObjIsValid()) return;
    if (!platform::fitsInt16(p._x) || !platform::fitsInt16(p._y)) {
        p._status = paramErr;
        return;
    }
    p._x = swapS16(int16_t(p._x));
    p._y = swapS16(int16_t(p._y));
}

void Kelvo_Point::NtoB(Point& p) {
    p.h = swapS16(p.h);
    p.v = swapS16(p.v);
}

// ---------------------------------------------------------------------------------------------
// Kelvo_Size

Kelvo_Size::~Kelvo_Size() = default;

void Kelvo_Size::copy(Kelvo_QTObj& source) {
    if (&source == this || !source.isA(qtObjName())) return;
    auto& other = static_cast<Kelvo_Size&>(source);
    _width = other._width;
    _height = other._height;
}

Kelvo_QTObj* Kelvo_Size::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new Kelvo_Size(*this);
}

// ---------------------------------------------------------------------------------------------
// Kelvo_Line

Kelvo_Line::~Kelvo_Line() = default;

void Kelvo_Line::defaultStatus() {
    _start.defaultStatus();
    _end.defaultStatus();
}

void Kelvo_Line::copy(Kelvo_QTObj& source) {
    if (&source == this || !source.isA(qtObjName())) return;
    auto& other = static_cast<Kelvo_Line&>(source);
    _start = other._start;
    _end = other._end;
}

Kelvo_QTObj* Kelvo_Line::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new Kelvo_Line(*this);
}

void Kelvo_Line::center(Kelvo_Point& p) const {
    if (!qtObjIsValid()) {
        p.defaultStatus();
        return;
    }
    p = Kelvo_Point::midPoint(_start, _end);
}

// ---------------------------------------------------------------------------------------------
// Kelvo_Contour

Kelvo_Contour::Kelvo_Contour(const Kelvo_Contour& other)
    : Kelvo_QTObj(other), _closed(other._closed), _points(other._points) {}

Kelvo_Contour::~Kelvo_Contour() = default;

void Kelvo_Contour::defaultStatus() {
    _points.defaultStatus();
    _closed = false;
}

void Kelvo_Contour::copy(Kelvo_QTObj& source) {
    if (&source == this || !isSameType(source)) return;
    auto& other = static_cast<Kelvo_Contour&>(source);
    _points = other._points;
    _closed = other._closed;
}

Kelvo_QTObj* Kelvo_Contour::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new Kelvo_Contour(*this);
}

int32_t Kelvo_Contour::add(Kelvo_Point* point) {
    _points.addObjValue(point);
    _status = _points.Error();
    return _status;
}

Kelvo_Contour* Kelvo_Contour::operator+(Kelvo_Contour& other) {
    auto* sum = new Kelvo_Contour(*this);
    int32_t n = other.count(); // `other` may be this contour
    for (int32_t i = 0; i < n; ++i) {
        auto* p = static_cast<Kelvo_Point*>(other._points.getObjValueByRef(i));
        if (p) sum->add(p);
    }
    int32_t error = 0;
    if (!Kelvo_QTObj::isValidInstance(sum, error, true)) {
        _status = error;
        delete sum; // null already when the test deleted it
        return nullptr;
    }
    return sum;
}

Kelvo_Point& Kelvo_Contour::operator[](int32_t index) {
    auto* p = static_cast<Kelvo_Point*>(_points.getObjValueByRef(index));
    if (p) return *p;
    _spare(-1, -1);
    return _spare;
}

Kelvo_Point* Kelvo_Contour::point(int32_t index) {
    Kelvo_QTObj* p = _points.getObjValue(index);
    if (!p) {
        _status = _points.Error();
        return nullptr;
    }
    return static_cast<Kelvo_Point*>(p);
}

int32_t Kelvo_Contour::point(int32_t index, Kelvo_Point* point) {
    // The list takes what it is given; give it a copy so that the caller's point stays theirs.
    if (!point) {
        _points.setObjValue(index, nullptr);
        _status = _points.Error();
        return _status;
    }
    auto* copy = new Kelvo_Point(*point);
    _points.setObjValue(index, copy);
    _status = _points.Error();
    if (_status != 0) delete copy;
    return _status;
}

int32_t Kelvo_Contour::remove(int32_t index) {
    _points.RemoveKey(index);
    _status = _points.Error();
    return _status;
}

int32_t Kelvo_Contour::clear() {
    _points.clear();
    _status = _points.Error();
    return _status;
}

void Kelvo_Contour::center(Kelvo_Point& p) {
    p(0, 0);
    int32_t n = count();
    if (n < 1) return;
    int64_t sx = 0, sy = 0;
    for (int32_t i = 0; i < n; ++i) {
        auto* q = static_cast<Kelvo_Point*>(_points.getObjValueByRef(i));
        if (!q) continue;
        sx += q->x();
        sy += q->y();
    }
    // Sums of up to 2^31 points of 32 bits fit 63 bits; their means fit 32 again.
    p(int32_t(sx / n), int32_t(sy / n));
}
