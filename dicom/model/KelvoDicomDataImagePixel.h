// The image pixel view (group 0028): rows, columns, samples, bits, photometric interpretation,
// planar configuration, frames, pixel representation, rescale, window and the palette. It turns
// these into what the renderer decides (window/level and its default window, inversion, byte
// swapping, frame size) and into an image description for the platform's codecs.
#pragma once

#include "KelvoCoreGraphics.h"
#include "KelvoCoreObjectsRange.h"
#include "KelvoDicomDataSet.h"
#include "KelvoDicomLookupTables.h"

class Kelvo_ImgDesc;

class KelvoDicomDataImagePixel : public KelvoDicomDataSet {
  public:
    // "MONOCHROME2", one sample, 8 bits allocated and stored, high bit 7.
    KelvoDicomDataImagePixel();
    KelvoDicomDataImagePixel(QTAtomContainer container, QTAtom atom);
    KelvoDicomDataImagePixel(const KelvoDicomDataImagePixel& other);
    KelvoDicomDataImagePixel& operator=(const KelvoDicomDataImagePixel& other);
    ~KelvoDicomDataImagePixel() override;

    const char* qtObjName() const override { return "KelvoDicomDataImagePixel"; }
    // An empty group 0028 with the defaults of a new view.
    void defaultStatus() override;
    Kelvo_QTObj* clone() override;
    using Kelvo_Dictionary::Copy;
    void Copy(Kelvo_Dictionary& other) override;

    // The spatial quality handed to image descriptions (512 by default).
    uint32_t& displayQuality() { return _quality; }
    // The transfer syntax of the pixel data, set by the users of the view; not owned.
    const dicmXferSyntaxInfo*& pixelEncoding() { return _encoding; }

    uint16_t PixelSamples();
    // 1, 3 or 4 is stored, anything else stores 1. Colour sets Planar Configuration 0, one
    // sample removes it.
    void PixelSamples(uint16_t samples);
    uint16_t PlanarConfiguration();
    void PlanarConfiguration(uint16_t value);
    const char* PhotoInterpretation();
    // One of the standard's photometric interpretations, else -50; also sets its samples.
    void PhotoInterpretation(const char* name);
    const char* PixelIntensityRelationShip();
    // "LIN", "LOG" or "DISP", else -50.
    void PixelIntensityRelationShip(const char* value);
    // Number of Frames; 1 when it is absent or says less than one frame.
    int32_t FramesCount();
    // -50 below 1.
    void FramesCount(int32_t frames);
    double Intercept();
    double Slope();
    void Intercept(float value);
    void Slope(float value);
    bool useRescaleIntercept();
    bool isTwoComplement();
    void isTwoComplement(bool on);
    void FrameIncrementPointer(KelvoDicomDataNode* node);
    void WindowCenter(KelvoDicomDataNode* node);
    void WindowWidth(KelvoDicomDataNode* node);
    // A new size of Columns × Rows, owned by the caller.
    Kelvo_Size* imageSize();
    // Columns and Rows from the size (fractions cut); -50 for a size outside 0 to 65535 or NaN.
    // A null size stores 0 and 0.
    void imageSize(const Kelvo_Size* size);
    // Bytes of one frame, and of one frame at 8 bits per sample; 0 with -50 beyond 32 bits.
    uint32_t size();
    uint32_t size8Bit();

    bool useWindowing();
    bool needInversionForPhotoInterpretation();
    bool needByteSwapping();

    // The default window: start = centre, end = width.
    void getWindowLevelsDefault(Kelvo_NumericalRange& window);
    void setWindowLevelsDefault(const Kelvo_NumericalRange& window);
    void getWindowCenterRange(Kelvo_NumericalRange& range);
    void getWindowWidthRange(Kelvo_NumericalRange& range);
    void windowRange(int32_t& centreMax, int32_t& centreMin, int32_t& widthMax, int32_t& widthMin);

    bool hasColorPalette();
    // A new palette from the palette elements, owned by the caller; null when there is none or
    // it cannot be made.
    KelvoDicomPixelLut* colorPalette();
    void colorPalette(KelvoDicomPixelLut* lut);

    // A new image description of one frame, owned by the caller, or null.
    Kelvo_ImgDesc* ImageParams();
    void ImageParams(Kelvo_ImgDesc* desc);

  private:
    void setDefaults();
    double dsValue(uint16_t element, bool& present);

    uint32_t _quality = 512;
    const dicmXferSyntaxInfo* _encoding = nullptr;
};
