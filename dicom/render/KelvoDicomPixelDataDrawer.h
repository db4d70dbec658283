// Rendering one frame of DICOM pixel data into a 32-bit offscreen buffer.
//
// The drawer works in place on a frame buffer that belongs to its caller (one frame as read from
// the file, 16 bits a sample for images of more than 8 bits allocated). Grey samples go through
// one table indexed by their stored value: the table folds in the stored value's sign, the
// modality rescale (Rescale Slope and Intercept), the linear window that reduces it to 8-bit grey
// and the inversion that the photometric interpretation needs, so that each sample costs one
// look-up and no value is ever held in fewer bits than it needs. Big-endian samples are swapped
// as they are read. Colour goes through its palette; 8-bit grey is shown by value (signed samples
// from -128 black to 127 white), never windowed. A decompression session then draws the 8-bit
// (or palette RGB/ARGB) picture into the offscreen buffer.
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

// Entries of a window table: one output byte for every stored value of up to 16 bits.
constexpr uint32_t kDicomWindowTableSize = 65536;

// Where the stored value of a grey sample lies in its word and what it stands for: Bits Stored
// bits ending at High Bit, two's complement when Pixel Representation says so, and the modality
// value slope x stored + intercept. Bits above High Bit (overlays, or nothing in particular) and
// below the stored bits are not part of the value. Every view of a grey frame (the drawing, raw
// values, statistics, grabs) reads samples through one of these.
struct DicomStoredValues {
    uint16_t bitsStored = 16; // 1 to 16
    uint16_t shift = 0;       // High Bit + 1 - Bits Stored
    bool isSigned = false;
    // Rescale Slope or Intercept present: the modality value is not the stored value.
    bool rescale = false;
    double slope = 1.0;
    double intercept = 0.0;

    // The layout of a description's samples. A Bits Stored or High Bit that does not fit the
    // bits allocated is taken as all of them, low bits first.
    static DicomStoredValues of(KelvoDicomDataImagePixel& imagePixel);

    // Stored values there are: the entries of a table indexed by them.
    uint32_t entries() const { return 1u << bitsStored; }
    // The stored bits of a word, as an unsigned index.
    uint32_t index(uint32_t word) const { return (word >> shift) & (entries() - 1u); }
    // The stored value of an index, sign-extended from its top bit when signed.
    int32_t stored(uint32_t index) const {
        if (!isSigned) return int32_t(index);
        const uint32_t sign = 1u << (bitsStored - 1);
        return int32_t(index ^ sign) - int32_t(sign);
    }
    // The modality value of a stored value: slope x value + intercept in double precision,
    // truncated toward zero into 32 bits (saturated beyond them; not a number gives 0).
    int32_t modality(int32_t stored) const;
    int32_t valueOfWord(uint32_t word) const {
        return rescale ? modality(stored(index(word))) : stored(index(word));
    }
};

// Fills the kDicomWindowTableSize bytes of `table`, indexed by a 16-bit word as it lies in the
// frame (its bytes swapped first when `swapped` is set), with the picture of the word's stored
// value: its modality value through the linear VOI function of the window (centre, width) onto
// 0..255 (the bottom of the window 0), complemented when `invert` is set. Bits outside the stored
// bits do not change the picture. A null table does nothing.
void SetupWindowLevelsTable(double centre, double width, uint8_t* table, const DicomStoredValues& values,
                            bool invert, bool swapped = false);

// Reduces `count` 16-bit samples to `count` bytes at the start of the same buffer: byte i is
// table[sample i]. Null buffers do nothing.
void ApplyWindowLevels(void* data, uint32_t count, const uint8_t* table);

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

    // On (the default): each refresh swaps the bytes of big-endian samples; off, the owner has.
    uint8_t& autoCorrectionEnabled() { return _autoCorrection; }
    // The window table, indexed by the words of the frame as they lie in it (see
    // SetupWindowLevelsTable), null when the image is not windowed.
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
    // How the grey samples of the attached description hold their values.
    const DicomStoredValues& storedValues() const { return _frame.values; }

  private:
    // What every frame needs, read from the description when it is attached.
    struct Frame {
        uint32_t bytes = 0;     // a frame as stored
        uint32_t bytes8Bit = 0; // a frame at one byte a sample
        bool wide = false;      // more than 8 bits allocated
        bool isSigned = false;
        bool swap = false;
        DicomStoredValues values;
        // 8-bit grey drawn through the grey table.
        bool grey8 = false;
        // YBR colour of 8 bits to convert to RGB: none, full (interleaved or planar), 4:2:2.
        enum class YBR : uint8_t { None, Full, Full422 } ybr = YBR::None;
        bool planar = false;
    };

    // The window table for the current window.
    void buildWindowTable();
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
    // The table was built for words read with their bytes swapped.
    bool _tableSwapped = false;
    // 8-bit grey: each byte's picture, inversion included.
    uint8_t _greyTable[256] = {};
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
