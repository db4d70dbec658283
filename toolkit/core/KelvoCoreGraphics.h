// The toolkit's small geometric values: integer points, floating sizes, lines, contours and the
// QuickDraw rectangle, with their conversions to and from the platform's QuickDraw, fixed-point
// and Core Graphics forms, and the fitting and digital-line helpers built on them.
//
// QuickDraw forms hold 16-bit coordinates. Where a 32-bit value would not fit one, the toolkit
// refuses it (status -50, the target unchanged) or, where no status can be given (conversions),
// saturates at the nearest 16-bit value instead of keeping only the low 16 bits.
#pragma once

#include "KelvoAtomicsLists.h"
#include "KelvoCocoaTypes.h"
#include "KelvoCoreObjects.h"
#include "PlatformDescriptions.h"
#include "PlatformGeometry.h"
#include "PlatformObjects.h"
#include "PlatformTypes.h"

// ---------------------------------------------------------------------------------------------
// Points

class Kelvo_Point : public Kelvo_QTObj {
  public:
    Kelvo_Point() = default;
    Kelvo_Point(int32_t x, int32_t y) : _x(x), _y(y) {}
    // Coordinates only: the copy has its own identifier and status 0.
    Kelvo_Point(const Kelvo_Point& other) : Kelvo_QTObj(other), _x(other._x), _y(other._y) {}
    explicit Kelvo_Point(const Point& qd) : _x(qd.h), _y(qd.v) {}
    // Each coordinate rounded to the nearest integer.
    explicit Kelvo_Point(const FixedPoint& fp) { fromFixed(fp); }
    // Each coordinate truncated toward zero (NaN gives 0, out-of-range values saturate).
    explicit Kelvo_Point(const CGPoint& cg);
    // Cocoa build: as from a CGPoint.
    explicit Kelvo_Point(const NSPoint& ns);
    ~Kelvo_Point() override;

    const char* qtObjName() const override { return "Kelvo_Point"; }
    bool qtObjIsValid() override { return true; }
    bool qtObjIsValid() const override { return true; }
    void defaultStatus() override { _x = _y = 0; }
    Kelvo_QTObj* clone() override;

    int32_t x() const { return _x; }
    int32_t y() const { return _y; }
    void x(int32_t v) { _x = v; }
    void y(int32_t v) { _y = v; }
    Fixed xAsFixed() const;
    Fixed yAsFixed() const;
    void xAsFixed(Fixed f);
    void yAsFixed(Fixed f);
    void operator()(int32_t x, int32_t y) {
        _x = x;
        _y = y;
    }
    void move(int32_t dx, int32_t dy);

    void fromFixed(const FixedPoint& fp);
    void toFixed(FixedPoint& fp) const;

    Kelvo_Point& operator=(const Kelvo_Point& other) {
        if (&other != this) {
            _x = other._x;
            _y = other._y;
        }
        return *this;
    }
    Kelvo_Point& operator=(const Point& qd) {
        _x = qd.h;
        _y = qd.v;
        return *this;
    }
    Kelvo_Point& operator=(const CGPoint& cg);
    Kelvo_Point& operator=(const NSPoint& ns);

    bool operator==(const Kelvo_Point& o) const { return _x == o._x && _y == o._y; }
    bool operator!=(const Kelvo_Point& o) const { return !(*this == o); }
    bool operator==(const Point& qd) const { return _x == qd.h && _y == qd.v; }
    bool operator!=(const Point& qd) const { return !(*this == qd); }
    bool operator==(const CGPoint& cg) const;
    bool operator!=(const CGPoint& cg) const { return !(*this == cg); }
    bool operator==(const NSPoint& ns) const;
    bool operator!=(const NSPoint& ns) const;

    // Coordinate-wise, wrapping as two's-complement 32-bit integers.
    Kelvo_Point& operator+=(const Kelvo_Point& o);
    Kelvo_Point& operator-=(const Kelvo_Point& o);
    Kelvo_Point operator+(const Kelvo_Point& o) const;
    Kelvo_Point operator-(const Kelvo_Point& o) const;

    // QuickDraw form, each coordinate saturated to 16 bits.
    operator Point() const;
    operator CGPoint() const { return CGPoint{float(_x), float(_y)}; }
    operator NSPoint() const;

    // Euclidean distance; exact while the squared distance fits 31 bits, correct (in double
    // precision) beyond.
    float distance(const Kelvo_Point& other) const { return distance(*this, other); }
    static float distance(const Kelvo_Point& a, const Kelvo_Point& b);
    // ((x1 + x2) >> 1, (y1 + y2) >> 1): the midpoint rounded toward minus infinity.
    Kelvo_Point midPoint(const Kelvo_Point& other) const { return midPoint(*this, other); }
    static Kelvo_Point midPoint(const Kelvo_Point& a, const Kelvo_Point& b);

    // The QuickDraw form with the two bytes of each field swapped (saturated as the conversion).
    Point nativeToBig() const;
    Point bigToNative() const { return nativeToBig(); }
    // Replaces x and y by their 16-bit form byte-swapped and sign-extended. A coordinate that
    // does not fit 16 bits is refused: status -50, the point unchanged.
    static void NtoB(Kelvo_Point& p);
    static void BtoN(Kelvo_Point& p) { NtoB(p); }
    static void NtoB(Point& p);
    static void BtoN(Point& p) { NtoB(p); }

  private:
    int32_t _x = 0;
    int32_t _y = 0;
};

// ---------------------------------------------------------------------------------------------
// Sizes

class Kelvo_Size : public Kelvo_QTObj {
  public:
    Kelvo_Size() = default;
    Kelvo_Size(double width, double height) : _width(width), _height(height) {}
    Kelvo_Size(const Kelvo_Size& other) : Kelvo_QTObj(other), _width(other._width), _height(other._height) {}
    explicit Kelvo_Size(const CGSize& cg) : _width(cg.width), _height(cg.height) {}
    // Cocoa build: as from a CGSize.
    explicit Kelvo_Size(const NSSize& ns);
    ~Kelvo_Size() override;

    const char* qtObjName() const override { return "Kelvo_Size"; }
    bool qtObjIsValid() override { return _width > 0 && _height > 0; }
    bool qtObjIsValid() const override { return _width > 0 && _height > 0; }
    void defaultStatus() override { _width = _height = 0; }
    void copy(Kelvo_QTObj& source) override;
    Kelvo_QTObj* clone() override;

    double& width() { return _width; }
    double& height() { return _height; }
    double width() const { return _width; }
    double height() const { return _height; }
    void operator()(double width, double height) {
        _width = width;
        _height = height;
    }
    // width / height, or 0 when the height is not positive.
    double ratio() const { return _height > 0 ? _width / _height : 0.0; }

    Kelvo_Size& operator=(const Kelvo_Size& other) {
        if (&other != this) {
            _width = other._width;
            _height = other._height;
        }
        return *this;
    }
    Kelvo_Size& operator=(const CGSize& cg) {
        _width = cg.width;
        _height = cg.height;
        return *this;
    }
    Kelvo_Size& operator=(const NSSize& ns);
    operator CGSize() const { return CGSize{float(_width), float(_height)}; }
    operator NSSize() const;

    bool operator==(const Kelvo_Size& o) const { return _width == o._width && _height == o._height; }
    bool operator!=(const Kelvo_Size& o) const { return !(*this == o); }
    bool operator==(const CGSize& cg) const {
        return _width == double(cg.width) && _height == double(cg.height);
    }
    bool operator!=(const CGSize& cg) const { return !(*this == cg); }
    bool operator==(const NSSize& ns) const;
    bool operator!=(const NSSize& ns) const;
    // Strict in both dimensions: a < b when b is wider and taller.
    bool operator<(const Kelvo_Size& o) const { return o._width > _width && o._height > _height; }
    bool operator>(const Kelvo_Size& o) const { return _width > o._width && _height > o._height; }
    bool operator<=(const Kelvo_Size& o) const { return *this == o || *this < o; }
    bool operator>=(const Kelvo_Size& o) const { return *this == o || *this > o; }

  private:
    double _width = 0.0;
    double _height = 0.0;
};

// ---------------------------------------------------------------------------------------------
// Lines

class Kelvo_Line : public Kelvo_QTObj {
  public:
    Kelvo_Line() = default;
    Kelvo_Line(const Kelvo_Point& start, const Kelvo_Point& end) : _start(start), _end(end) {}
    Kelvo_Line(const Kelvo_Line& other) : Kelvo_QTObj(other), _start(other._start), _end(other._end) {}
    ~Kelvo_Line() override;
    Kelvo_Line& operator=(const Kelvo_Line& other) {
        copy(const_cast<Kelvo_Line&>(other));
        return *this;
    }

    const char* qtObjName() const override { return "Kelvo_Line"; }
    // A line needs two distinct ends.
    bool qtObjIsValid() override { return _start != _end; }
    bool qtObjIsValid() const override { return _start != _end; }
    void defaultStatus() override;
    void copy(Kelvo_QTObj& source) override;
    Kelvo_QTObj* clone() override;

    Kelvo_Point& startPoint() { return _start; }
    Kelvo_Point& endPoint() { return _end; }
    const Kelvo_Point& startPoint() const { return _start; }
    const Kelvo_Point& endPoint() const { return _end; }

    bool operator==(const Kelvo_Line& o) const { return _start == o._start && _end == o._end; }
    bool operator!=(const Kelvo_Line& o) const { return !(*this == o); }

    float length() const { return Kelvo_Point::distance(_start, _end); }
    // The midpoint of a valid line; (0, 0) for an invalid one.
    void center(Kelvo_Point& p) const;

  private:
    Kelvo_Point _start;
    Kelvo_Point _end;
};

// ---------------------------------------------------------------------------------------------
// Contours: an ordered list of points (indexed from 0) with a closed flag. The contour keeps its
// own copies of the points.

class Kelvo_Contour : public Kelvo_QTObj {
  public:
    Kelvo_Contour() = default;
    Kelvo_Contour(const Kelvo_Contour& other);
    ~Kelvo_Contour() override;
    Kelvo_Contour& operator=(const Kelvo_Contour& other) {
        copy(const_cast<Kelvo_Contour&>(other));
        return *this;
    }

    const char* qtObjName() const override { return "Kelvo_Contour"; }
    bool qtObjIsValid() override { return _points.qtObjIsValid(); }
    bool qtObjIsValid() const override { return _points.qtObjIsValid(); }
    void defaultStatus() override;
    void copy(Kelvo_QTObj& source) override;
    Kelvo_QTObj* clone() override;

    // Appends a copy of the point; returns the status.
    int32_t add(Kelvo_Point* point);
    Kelvo_Contour& operator+=(Kelvo_Point& point) {
        add(&point);
        return *this;
    }
    // A new contour (owned by the caller): this one's points, then copies of `other`'s.
    Kelvo_Contour* operator+(Kelvo_Contour& other);

    int32_t count() { return _points.count(); }
    // The stored point, or the spare point set to (-1, -1) for an index the contour lacks.
    Kelvo_Point& operator[](int32_t index);
    // A new copy of the stored point (owned by the caller), or null.
    Kelvo_Point* point(int32_t index);
    // Replaces the stored point by a copy of `point`; the caller keeps `point`.
    int32_t point(int32_t index, Kelvo_Point* point);
    int32_t remove(int32_t index);
    int32_t clear();
    bool& isClosed() { return _closed; }
    // The integer mean of the points (each sum truncated toward zero); (0, 0) without points.
    void center(Kelvo_Point& p);

  private:
    bool _closed = false;
    Kelvo_QTObjectsList _points;
    Kelvo_Point _spare;
};

// ---------------------------------------------------------------------------------------------
// Rectangles

class Kelvo_Rect : public Kelvo_QTObj {
  public:
    Kelvo_Rect() = default;
    Kelvo_Rect(const Kelvo_Rect& other) : Kelvo_QTObj(other), _rect(other._rect) {}
    explicit Kelvo_Rect(const Rect& r) : _rect(r) {}
    explicit Kelvo_Rect(const Rect* r);
    // top = left = 0, right = width, bottom = height; -50 when either does not fit 16 bits.
    Kelvo_Rect(int32_t width, int32_t height);
    explicit Kelvo_Rect(const Kelvo_Size& size);
    explicit Kelvo_Rect(CGrafPtr port);
    explicit Kelvo_Rect(ImageDescriptionHandle desc);
    explicit Kelvo_Rect(GraphicsImportComponent importer);
    explicit Kelvo_Rect(PicHandle picture);
    explicit Kelvo_Rect(const CGRect& cg);
    ~Kelvo_Rect() override;

    const char* qtObjName() const override { return "Kelvo_Rect"; }
    bool qtObjIsValid() override { return !EmptyRect(&_rect); }
    bool qtObjIsValid() const override { return !EmptyRect(&_rect); }
    void* qtObjReference() override { return &_rect; }
    void defaultStatus() override { _rect = Rect{0, 0, 0, 0}; }
    void copy(Kelvo_QTObj& source) override;
    Kelvo_QTObj* clone() override;

    Kelvo_Rect& operator=(const Kelvo_Rect& other) {
        if (&other != this) _rect = other._rect;
        return *this;
    }
    Kelvo_Rect& operator=(const Rect& r);
    void rPtr(const Rect* r);
    Kelvo_Rect& operator=(CGrafPtr port);
    Kelvo_Rect& operator=(ImageDescriptionHandle desc);
    Kelvo_Rect& operator=(GraphicsImportComponent importer);
    Kelvo_Rect& operator=(PicHandle picture);
    Kelvo_Rect& operator=(const CGRect& cg);
    Kelvo_Rect& operator=(Movie movie);
    Kelvo_Rect& operator=(Track track);
    Kelvo_Rect& operator=(Media media);

    int16_t& left() { return _rect.left; }
    int16_t& top() { return _rect.top; }
    int16_t& right() { return _rect.right; }
    int16_t& bottom() { return _rect.bottom; }
    int16_t left() const { return _rect.left; }
    int16_t top() const { return _rect.top; }
    int16_t right() const { return _rect.right; }
    int16_t bottom() const { return _rect.bottom; }
    int32_t width() const { return int32_t(_rect.right) - _rect.left; }
    int32_t height() const { return int32_t(_rect.bottom) - _rect.top; }
    // right = left + w (bottom = top + h); -50 and unchanged when the edge would not fit.
    void width(int32_t w);
    void height(int32_t h);
    Fixed widthAsFixed() const;
    Fixed heightAsFixed() const;

    void operator()(int16_t h, int16_t v, bool topLeft);
    // Keeps the size and puts the top-left (or bottom-right) corner at (h, v); -50 and unchanged
    // when the opposite corner would leave the 16-bit plane.
    void move(int16_t h, int16_t v, bool topLeft);

    const Kelvo_Size& size() const;
    void size(const Kelvo_Size& s);
    double rRatio() const;

    void center(int32_t* h, int32_t* v) const;
    void center(Kelvo_Point& p) const;
    void getTopCorner(Kelvo_Point& p) const { p(_rect.left, _rect.top); }
    void getBottomCorner(Kelvo_Point& p) const { p(_rect.right, _rect.bottom); }
    void setTopCorner(Kelvo_Point& p);
    void setBottomCorner(Kelvo_Point& p);

    Rect* rPtr() { return &_rect; }
    const Rect* rPtr() const { return &_rect; }
    operator Rect() const { return _rect; }
    operator CGRect() const;

    bool isInRect(Kelvo_Rect& outer, bool strict) const;
    bool isInRect(const Kelvo_Point& p) const;

    bool operator==(const Kelvo_Rect& o) const;
    bool operator!=(const Kelvo_Rect& o) const { return !(*this == o); }
    // Either dimension suffices: a < b when a is narrower or lower.
    bool operator<(const Kelvo_Rect& o) const { return width() < o.width() || height() < o.height(); }
    bool operator>(const Kelvo_Rect& o) const { return width() > o.width() || height() > o.height(); }

    Rect nativeToBig() const;
    Rect bigToNative() const { return nativeToBig(); }
    static void NtoB(Kelvo_Rect& r);
    static void BtoN(Kelvo_Rect& r) { NtoB(r); }
    static void NtoB(Rect& r);
    static void BtoN(Rect& r) { NtoB(r); }

    // A new rect (owned by the caller): `shape`'s proportions fitted into this rect; null with
    // status 9 when either is empty.
    Kelvo_Rect* fitToRect(Kelvo_Rect& shape);
    static void scaleToFit(Kelvo_Rect& shape, Kelvo_Rect& area, Kelvo_Rect& result);

  private:
    void setFromCG(const CGRect& cg);
    void setFromTrack(Track track);

    mutable Kelvo_Size _sizeCache;
    Rect _rect{0, 0, 0, 0};
};

// dst = src (zeros for a null src); a null dst does nothing.
void Kelvo_RectCopy(Rect* dst, const Rect* src);
// The largest rectangle with the proportions of `shape` that fits in `area`, centred in it.
void Kelvo_RectScaleInRect(const Rect* area, const Rect* shape, Rect* result);
// The integer points of the line from a to b, both ends included, as a new contour owned by the
// caller; null when a and b coincide or the line is longer than 65535 steps.
Kelvo_Contour* Kelvo_CreateInterpolatedLineDDA(Kelvo_Point& a, Kelvo_Point& b);
