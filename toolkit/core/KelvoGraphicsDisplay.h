// How a picture reaches the screen. Kelvo_DisplayTransform is the instruction set for drawing one
// frame: the part of the frame to take (source rectangle; an empty one means the whole frame),
// where to put it (destination rectangle), the transfer mode and op colour, an optional clip, a
// gamma correction with its 256-entry table, flips, a rotation in whole degrees, a translation in
// pixels, a uniform scale and a discard-colour flag. From these it rebuilds, on demand, the matrix
// that maps the source onto the destination.
//
// Kelvo_CoreDisplayParams gathers the display state of a movie, track, media, graphics importer or
// display transform into one value: display bounds, graphics mode, clip region and matrix.
#pragma once

#include "KelvoCoreGraphics.h"
#include "KelvoCoreObjects.h"
#include "KelvoGraphicsMatrix.h"
#include "KelvoGraphicsMode.h"
#include "KelvoGraphicsRegion.h"

#include <array>

class Kelvo_CoreDisplayParams : public Kelvo_QTObj {
  public:
    // Empty bounds, mode 0 and black, a valid empty region, the identity.
    Kelvo_CoreDisplayParams() = default;
    Kelvo_CoreDisplayParams(const Kelvo_CoreDisplayParams& other);
    explicit Kelvo_CoreDisplayParams(ComponentInstance importer);
    explicit Kelvo_CoreDisplayParams(Kelvo_QTObj* object);

    const char* qtObjName() const override { return "Kelvo_CoreDisplayParams"; }
    // Resets the four parts; the status stays.
    void defaultStatus() override;
    void copy(Kelvo_QTObj& other) override;
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;

    // Virtual operation after those of Kelvo_QTObj.
    virtual void initWithObject(Kelvo_QTObj* object);

    Kelvo_CoreDisplayParams& operator=(const Kelvo_CoreDisplayParams& other);
    Kelvo_CoreDisplayParams& operator=(Kelvo_QTObj& object);
    Kelvo_CoreDisplayParams& operator=(ComponentInstance importer);

    Kelvo_Rect& displayBounds() { return _displayBounds; }
    Kelvo_GraphicsMode& graphicsMode() { return _graphicsMode; }
    Kelvo_Region& clipRegion() { return _clipRegion; }
    Kelvo_Matrix& matrix() { return _matrix; }

  private:
    Kelvo_Rect _displayBounds;
    Kelvo_GraphicsMode _graphicsMode;
    Kelvo_Region _clipRegion;
    Kelvo_Matrix _matrix;
};

class Kelvo_DisplayTransform : public Kelvo_QTObj {
  public:
    Kelvo_DisplayTransform();
    Kelvo_DisplayTransform(const Kelvo_DisplayTransform& other);
    // The source from `src` and the destination from `dst` where they are given.
    Kelvo_DisplayTransform(Rect* src, Rect* dst);
    // The source as given (empty or not); the destination only when it is valid.
    Kelvo_DisplayTransform(const Kelvo_Rect& src, const Kelvo_Rect& dst);
    explicit Kelvo_DisplayTransform(ComponentInstance importer);
    ~Kelvo_DisplayTransform() override;

    const char* qtObjName() const override { return "Kelvo_DisplayTransform"; }
    // Back to every default; the status stays.
    void defaultStatus() override;
    Kelvo_QTObj* clone() override;

    void Copy(const Kelvo_DisplayTransform& other);
    Kelvo_DisplayTransform& operator=(const Kelvo_DisplayTransform& other) {
        Copy(other);
        return *this;
    }
    void operator()(const Kelvo_DisplayTransform& other) { Copy(other); }
    // The importer's matrix, source and destination rectangles, mode and clip (the destination
    // rectangle when its clip cannot be read); a null importer gives -50 after the reset.
    void Copy(ComponentInstance importer);

    Rect* SrcRect() { return _srcRect.rPtr(); }
    void SrcRect(const Rect* r);
    Kelvo_Rect& qtSrcRect() { return _srcRect; }
    Rect* DstRect() { return _dstRect.rPtr(); }
    // Also moves the anchor to the rectangle's centre.
    void DstRect(const Rect* r);
    Kelvo_Rect& qtDstRect() { return _dstRect; }
    Kelvo_GraphicsMode& drawingMode() { return _mode; }

    Kelvo_Region* Clip() { return _clip; }
    // Drops the clip; a region that holds one is copied as the new clip (status: the copy's),
    // one that holds none sets -50 and leaves no clip.
    void Clip(Kelvo_Region* region);
    // The clip becomes exactly the destination rectangle; returns the region's status.
    int32_t ClipToDestRect();

    // Rebuilds the table; a gamma <= 0 is refused with -50, leaving no table and the previous gamma.
    void Gamma(double gamma);
    double Gamma() const { return _gamma; }
    const uint8_t* GammaTable() const { return _gammaTable; }

    void setFlipHor(bool on);
    void setFlipVer(bool on);
    uint32_t getFlipHor() const { return _flips & 1; }
    uint32_t getFlipVer() const { return _flips & 2; }
    // Drawers remove the colour of the drawn frame when it is set.
    bool discardColor() const { return _discardColor != 0; }

    // Both rebuild the matrix from the other fields every time.
    Kelvo_Matrix& getMatrix();
    MatrixRecord* Matrix();
    // The flip step of the rebuild: mirrors the frame inside the destination rectangle.
    void handleFlip();

  protected:
    void _initFields();
    void _rebuild();

    uint8_t* _gammaTable = nullptr;
    Kelvo_Rect _srcRect;
    Kelvo_Rect _dstRect;
    Kelvo_GraphicsMode _mode;
    Kelvo_Region* _clip = nullptr;
    Kelvo_Matrix _matrix;
    double _gamma = 1.0;
    uint32_t _flips = 0;
    uint8_t _discardColor = 0;
    int32_t _rotation = 0;
    int32_t _translationX = 0;
    int32_t _translationY = 0;
    double _scale = 1.0;
};

// Fills a caller's 256-byte table with the display transform's gamma curve: entry i is the low
// byte of pow(LUT_GAMMA_HASH[i], gamma) x 255 truncated (NaN gives 0, values past the 32-bit range
// saturate). Does nothing for a null table.
void Kelvo_GammaTable(double gamma, unsigned char* table);
// i / 256 rounded to six decimals, halves to even: 0.0, 0.003906, 0.007812, ..., 0.996094.
extern const std::array<double, 256> LUT_GAMMA_HASH;
