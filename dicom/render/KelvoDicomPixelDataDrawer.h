// Rendering one frame of DICOM pixel data into a 32-bit offscreen buffer.
//
// The drawer works in place on a frame buffer that belongs to its caller (one frame as read from
// the file, 16 bits a sample for images of more than 8 bits allocated). Each refresh applies, in
// this order: byte swapping (big-endian files), the modality rescale (Rescale Slope and
// Intercept), the window/level lookup that reduces 16-bit samples to 8-bit grey, the colour
// palette, and the grey inversion that the photometric interpretation needs. A decompression
// session then draws the 8-bit (or palette RGB/ARGB) picture into the offscreen buffer.
//
// Colour stored as YBR_FULL (interleaved or planar) or YBR_FULL_422 is converted to interleaved
// RGB in the same pass, so that the session draws the colours the frame means.
//
// Grey is drawn at depth 40, where 0 is white: MONOCHROME2 samples are complemented before the
// session draws them, so that the bottom of the window shows black, while MONOCHROME1 samples
// are drawn as they are and the bottom of the window shows white.
//
// The video presentation embeds one drawer and feeds it frame after frame; the raw-movie export
// uses the free functions directly. The virtual operations below are called by slot by the
// companion plug-in: their order is part of the interface.
#pragma once

#include "KelvoCoreObjects.h"
#include "KelvoCoreObjectsRange.h"
#include "KelvoDicomDataImagePixel.h"
#include "KelvoDicomLookupTables.h"

#include <cstdint>
#include <vector>

class Kelvo_ISDecompressionSession;
class Kelvo_ImgDesc;
class Kelvo_QDGWorldBuffer;

// Entries of a window table: one output byte for every 16-bit index.
constexpr uint32_t kDicomWindowTableSize = 65536;

// `count` 16-bit samples in place: each becomes sample × slope + intercept in single precision,
// truncated toward zero (results beyond 32 bits saturate first, results that are not a number
// give 0) and stored as its low 16 bits; samples are read as signed 16-bit when `isSigned` is
// set. Slope exactly 1 and intercept exactly 0 leave the samples untouched, and so does a null
// buffer.
void ApplySlopeIntercept(void* data, uint32_t count, float intercept, float slope, bool isSigned);

// Fills the 65536-byte `table` with the linear VOI function of the window (centre, width) onto
// 0..255, the centre shifted down by `offset`: the table is indexed by sample − offset, so that
// rescaled values below zero (down to the offset) still have an entry. A null table does nothing.
void SetupWindowLevelsTable(double centre, double width, uint8_t* table, float offset);

// Reduces `count` 16-bit samples to `count` bytes at the start of the same buffer through
// `table`. A non-zero `offset` is subtracted from every sample first (and the shifted sample is
// written back); signed samples whose shifted value is negative give 0. Null buffers do nothing.
void ApplyWindowLevels(void* data, bool isSigned, uint32_t count, const uint8_t* table, int32_t offset);

// The rescale offset of an image: 0 without Rescale Intercept and Rescale Slope, else the
// intercept, where an intercept of exactly 0 counts as −1024, so that rescaled values down to
// −1024 still index the window table.
float DicomWindowOffset(KelvoDicomDataImagePixel& imagePixel);

class KelvoDicomPixelDataDrawer : public Kelvo_QTObj {
  public:
    // Detached: no data, no description, window {0, 1}, auto-correction on.
    KelvoDicomPixelDataDrawer();
    KelvoDicomPixelDataDrawer(const KelvoDicomPixelDataDrawer&) = delete;
    KelvoDicomPixelDataDrawer& operator=(const KelvoDicomPixelDataDrawer&) = delete;
    ~KelvoDicomPixelDataDrawer() override;

    const char* qtObjName() const override { return "KelvoDicomPixelDataDrawer"; }
    // An offscreen buffer to draw into and a frame buffer to draw from.
    bool qtObjIsValid() override;
    bool qtObjIsValid() const override;
    bool isA(const char* name) const override;

    // Virtual operations in slot order.
    // The offscreen buffer and the session for the current description; on failure both are
    // gone and the status is the failing object's error. Frames the session cannot be given
    // one byte a sample for (samples of other than 8 bits, except 16-bit grey that the window
    // reduces) are refused with -50 unless a platform codec draws them.
    virtual void initQTContext();
    // The per-frame pipeline over the frame buffer (nothing without one).
    virtual void refreshData();
    virtual KelvoDicomDataImagePixel& dataDescription() { return _imagePixel; }
    virtual Kelvo_QDGWorldBuffer* qtPixelBuffer() { return _offScreen; }
    // Tears the previous set-up down, then takes the caller's frame buffer (not owned) and a copy
    // of `description`, which must be a KelvoDicomDataImagePixel (else status 9). A null `data`
    // leaves the drawer detached without error.
    virtual void attachDataSource(void* data, Kelvo_QTObj* description);
    // Draws the whole frame buffer (after a refresh when `refresh` is set).
    virtual void playData(bool refresh);

    // Takes a copy of the description, its window table, palette and inversion; answers whether
    // the grey must be inverted. The layout of the frame is read here, once: a description
    // changed through dataDescription() afterwards takes effect when it is attached again.
    bool initDicomImagePixelDesc(KelvoDicomDataImagePixel* imagePixel);
    // Draws `size` bytes of a compressed frame from the frame buffer.
    void playDataCompressed(uint32_t size);

    // On (the default): each refresh swaps bytes and rescales before windowing.
    uint8_t& autoCorrectionEnabled() { return _autoCorrection; }
    // The 65536-entry window table, null when the image is not windowed.
    uint8_t* lutWindow() const { return _windowTable; }
    // {start = centre, end = width}.
    Kelvo_NumericalRange& windowLevels() { return _windowLevels; }
    // A new window: ignored for null, for an image without windowing and for the current window;
    // else stored and the table rebuilt. The frame buffer is not touched: the owner refills it
    // with unwindowed samples and refreshes.
    void windowLevels(const Kelvo_NumericalRange* range);

    // What the owner of the drawer needs to drive it.
    uint8_t* data() const { return _data; }
    // What the session draws once a frame is refreshed: the palette's colours, or the frame
    // buffer itself (grey of one byte a pixel, or RGB); displayedSize() bytes of it.
    const uint8_t* displayed() const { return _outputBuffer ? _outputBuffer : _data; }
    uint32_t displayedSize() const { return _displayedSize; }
    // A new description of what the session draws (caller owns), null with the status set.
    Kelvo_ImgDesc* displayedDescription();
    Kelvo_ISDecompressionSession* decompressionSession() const { return _session; }
    KelvoDicomPixelLut* palette() const { return _palette; }
    bool inversion() const { return _inversion != 0; }

  private:
    // What every frame needs, read from the description when it is attached.
    struct Frame {
        uint32_t bytes = 0;     // a frame as stored
        uint32_t bytes8Bit = 0; // a frame at one byte a sample
        bool wide = false;      // more than 8 bits allocated
        bool isSigned = false;
        bool swap = false;
        bool rescale = false;
        float intercept = 0.0f;
        float slope = 1.0f;
        float offset = 0.0f; // DicomWindowOffset
        // YBR colour of 8 bits to convert to RGB: none, full (interleaved or planar), 4:2:2.
        enum class YBR : uint8_t { None, Full, Full422 } ybr = YBR::None;
        bool planar = false;
    };

    // The YBR frame in the data buffer as interleaved RGB, in place.
    void convertYBR();

    // The session, the offscreen buffer and the palette's output buffer.
    void releaseContext();
    // All of the frame set-up (not the data pointer nor the description).
    void tearDown();
    // Whether the session can draw what the pipeline leaves in the frame buffer.
    bool drawnFromSamples();

    KelvoDicomDataImagePixel _imagePixel;
    KelvoDicomPixelLut* _palette = nullptr;
    uint8_t* _outputBuffer = nullptr;
    uint8_t _inversion = 0;
    uint8_t* _windowTable = nullptr;
    Kelvo_NumericalRange _windowLevels{0.0, 1.0};
    Kelvo_ISDecompressionSession* _session = nullptr;
    uint8_t _autoCorrection = 1;
    uint8_t* _data = nullptr;
    Kelvo_QDGWorldBuffer* _offScreen = nullptr;
    Frame _frame;
    // Bytes the session reads for a frame.
    uint32_t _displayedSize = 0;
    // A planar YBR frame while its planes are interleaved (allocated with the context).
    std::vector<uint8_t> _planes;
};
