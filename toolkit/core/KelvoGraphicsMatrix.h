// A transformation matrix with an anchor point, about which rotations, skews, scales and flips
// are applied. It is read from movies, tracks, media and graphics importers and built by the
// display transform.
#pragma once

#include "KelvoCoreGraphics.h"
#include "KelvoCoreObjects.h"
#include "PlatformFixed.h"
#include "PlatformMatrix.h"
#include "PlatformPendingDisplayCalls.h"

class Kelvo_Matrix : public Kelvo_QTObj {
  public:
    // The identity, anchored at (0, 0).
    Kelvo_Matrix();
    explicit Kelvo_Matrix(const MatrixRecord& record);
    Kelvo_Matrix(const Kelvo_Matrix& other);
    explicit Kelvo_Matrix(Kelvo_QTObj* object);
    explicit Kelvo_Matrix(ComponentInstance importer);

    const char* qtObjName() const override { return "Kelvo_Matrix"; }
    void* qtObjReference() override { return &_matrix; }
    // Status 0, the identity, anchor (0, 0).
    void defaultStatus() override;
    void copy(Kelvo_QTObj& other) override;
    Kelvo_QTObj* clone() override;

    // Virtual operation after those of Kelvo_QTObj.
    virtual void initWithObject(Kelvo_QTObj* object);

    Kelvo_Matrix& operator=(const Kelvo_Matrix& other);
    Kelvo_Matrix& operator=(Movie movie);
    Kelvo_Matrix& operator=(Track track);
    Kelvo_Matrix& operator=(Media media);
    // The record, unless it is equal already; the anchor stays.
    Kelvo_Matrix& operator=(const MatrixRecord& record);
    Kelvo_Matrix& operator=(ComponentInstance importer);

    // This matrix's transformation after `other`'s.
    Kelvo_Matrix& operator+=(Kelvo_Matrix& other);
    // Replaces the translation with the point. Coordinates beyond the 16.16 range are refused
    // (status -50, the matrix unchanged).
    Kelvo_Matrix& operator+=(Kelvo_Point& point);
    // The inverse, or the identity when there is none; the object stays as it is.
    MatrixRecord operator!() const;
    bool operator==(const Kelvo_Matrix& other) const;
    bool operator==(const MatrixRecord& record) const;
    bool operator!=(const Kelvo_Matrix& other) const { return !(*this == other); }
    bool operator!=(const MatrixRecord& record) const { return !(*this == record); }
    // The raw entry [row][column]; 0 outside 0..2.
    Fixed operator()(int column, int row) const;

    operator MatrixRecord*() { return &_matrix; }
    const MatrixRecord& record() const { return _matrix; }
    Kelvo_Point& anchorPoint() { return _anchor; }
    const Kelvo_Point& anchorPoint() const { return _anchor; }
    int16_t getType() const { return GetMatrixType(&_matrix); }

    // Adds the mapping of `from` onto `to` when both are valid.
    void bounds(Kelvo_Rect& from, Kelvo_Rect& to);
    // About the anchor.
    void setRotation(double degrees);
    // Skews beyond the 16.16 range are refused (status -50).
    void setSkew(int32_t sx, int32_t sy);
    void setScale(double sx, double sy);
    void getScale(double& sx, double& sy) const;
    // Adds to the translation; amounts beyond the 16.16 range are refused (status -50).
    void setTranslation(int32_t dx, int32_t dy);
    void getTranslation(int32_t& x, int32_t& y) const;
    // Bit 1 mirrors horizontally, bit 2 vertically, about the anchor; other bits are ignored.
    void setFlip(int32_t flip);
    int32_t getFlip() const;

    // Reverse the bytes of the nine entries, in place.
    static void NtoB(Kelvo_Matrix& matrix) { NtoB(matrix._matrix); }
    static void BtoN(Kelvo_Matrix& matrix) { NtoB(matrix._matrix); }
    static void NtoB(MatrixRecord& record);
    static void BtoN(MatrixRecord& record) { NtoB(record); }
    MatrixRecord nativeToBig() const;
    MatrixRecord bigToNative() const { return nativeToBig(); }

  private:
    Fixed anchorX() const { return Long2Fix(_anchor.x()); }
    Fixed anchorY() const { return Long2Fix(_anchor.y()); }

    MatrixRecord _matrix;
    Kelvo_Point _anchor;
};
