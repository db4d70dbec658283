// The frames of a DICOM image as a timed presentation. Frames are read one at a time from the
// DICOM file (or taken from the pixels of an icon), decoded here when they are RLE or lossless
// JPEG, rendered by an embedded pixel-data drawer into its offscreen buffer, and shown through
// the video presentation's display and effect. Multi-frame images play at 25 frames a second
// (24 units of a 600 time scale per frame); an image of one uncompressed frame is a still of
// 600 units.
//
// Grey frames (one sample a pixel) of JPEG and JPEG 2000 are decoded here through the platform's
// codec engines into samples, and then rendered as native frames are: rescaled, windowed and
// inverted as their description says. Colour frames of those syntaxes are drawn by the codec.
//
// Besides playing, the presentation answers raw pixel values and their statistics (from the
// samples as read, rescaled but never windowed), grabs the current frame as a toolkit image and
// writes the frames as they are shown into a raw movie file.
//
// The companion plug-in drives presentations through the virtual operations below, so their
// order is part of the interface.
#pragma once

#include "KelvoDicomDataHandlers.h"
#include "KelvoDicomDataImagePixel.h"
#include "KelvoDicomPixelDataDrawer.h"
#include "KelvoVideoPresentation.h"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

class KelvoDicomImageIcon;
class Kelvo_ImageInfo;
class Kelvo_TimeRange;

// The transfer syntax of the pixel data is not one this system reads.
constexpr int32_t kDicomSyntaxNotReadable = 350;

class KelvoDicomVideoPresentation : public Kelvo_VideoPresentation {
  public:
    // Empty: no file, no chunks, no buffers.
    KelvoDicomVideoPresentation();
    // The frames of `pixelData` (copied) described by `imagePixel` (copied), shown from frame 0
    // and ready to play.
    KelvoDicomVideoPresentation(KelvoDicomDataImagePixel* imagePixel, KelvoDicomPixelData* pixelData);
    // The one frame of an icon; it has no time controller.
    explicit KelvoDicomVideoPresentation(KelvoDicomImageIcon* icon);
    KelvoDicomVideoPresentation(const KelvoDicomVideoPresentation&) = delete;
    KelvoDicomVideoPresentation& operator=(const KelvoDicomVideoPresentation&) = delete;
    // Stops playing, closes the file and lets go of the chunks, the buffers and the drawer.
    ~KelvoDicomVideoPresentation() override;

    const char* qtObjName() const override { return "KelvoDicomVideoPresentation"; }
    // The base's validity and a drawer with its offscreen buffer and data.
    bool qtObjIsValid() override;
    bool qtObjIsValid() const override;
    bool isA(const char* name) const override;

    void statisticsUpdate() override;
    bool isDone() override;
    bool isPlaying() override;
    using Kelvo_DataPresentation::statisticsEnabled;
    // Ignored for an invalid presentation and for fewer than two frames.
    void statisticsEnabled(bool& on) override;
    int32_t Time(int32_t kind) override;
    int32_t SamplesCount() override;
    // The current frame + 1.
    int32_t SampleID() override;
    // Sets the time base's rate ('STRT'); the idle timer is the owner's to start.
    void Play(double rate) override;
    // Rate 0 ('STOP').
    void Stop() override;
    // 1 start, 2 end (swapped in palindrome mode), 3 one frame back, 4 one frame forward.
    void PlayAction(int32_t action) override;
    // Stops, moves to `time` clamped to the duration and shows the frame there.
    void PlayTime(int32_t time) override;
    // With a transform or for frames a platform codec draws, the base's grab; else an image of
    // the frame of the requested format (24 RGB, 32 ARGB, 40 grey, '16GR', 'FLOA').
    Kelvo_Image* grabRawImage(Kelvo_DisplayTransform* t, Kelvo_OSType& pixelType) override;
    // Reads the current frame again and draws it.
    void Update() override;

    // Virtual operations added, in slot order.
    // The working buffer again from the single-frame copy or from the file.
    virtual void refreshBuffer();
    // One tick: the frame of the current time, an 'IDLE' event, the drawing, the statistics.
    void idle() override;
    // The raw value of a one-sample pixel (0.0 outside the frame or for colour).
    virtual double rawValueAtPoint(Kelvo_Point& point);
    // A new record of the statistics of the raw values of `rect` (caller owns), null when the
    // presentation is invalid.
    virtual Kelvo_ImageInfo* rawValuesStatistics(Kelvo_Rect& rect);
    // Writes the frames of `range` (all without a valid one) into a new raw movie as they are
    // shown: windowed 8-bit grey, the palette's colours, RGB for YBR colour; frames a codec
    // draws go in compressed.
    virtual void presentationToRawMovie(FSSpec* destination, Kelvo_TimeRange* range);

    // Allocates the buffers, opens the file and attaches the drawer.
    void initMediaSamplesContext();
    void initTimeSystem() { _initTimeController(); }
    // Reads the current frame into `buffer` (size() bytes), decoding RLE and lossless JPEG.
    void readDataFromMedia(uint8_t* buffer);

    Kelvo_NumericalRange& windowLevels() { return _drawer.windowLevels(); }
    // A new window, then the frame again.
    void windowLevels(const Kelvo_NumericalRange* range);
    KelvoDicomDataImagePixel* imagePixelDesc() const { return _imagePixel; }
    KelvoDicomPixelData* samplesTable() const { return _chunks; }
    KelvoDicomPixelDataDrawer& drawer() { return _drawer; }
    uint32_t currentFrame() const { return _currentFrame; }
    // What the presentation read and rendered: the working buffer (the drawer's data).
    const uint8_t* workingBuffer() const { return _workingBuffer; }

  private:
    // Bytes sized from a description or a chunk table, left uninitialised until data fills
    // them, made without throwing: a size the file's data cannot fill is refused before it is
    // made, and one that cannot be made answers memFullErr.
    struct Bytes {
        std::unique_ptr<uint8_t[]> bytes;
        uint32_t capacity = 0;
        uint32_t length = 0;
        // At least n bytes (the former contents are kept only when no new bytes are needed).
        bool reserve(uint32_t n);
        uint8_t* data() const { return bytes.get(); }
        size_t size() const { return length; }
        bool empty() const { return length == 0; }
    };
    // The samples of the current frame as read (never windowed): the single-frame copy, else
    // the copy of the last frame read, else null.
    const uint8_t* rawFrame() const;
    // Frames a platform codec draws straight from their compressed bytes.
    bool platformDrawn() const;
    // Bytes of a frame as stored (native 4:2:2 colour keeps two bytes a pixel).
    uint32_t storedFrameBytes();
    // The compressed frame in `_compressed` (n bytes) decoded by the platform's codec engine
    // into samples in `buffer`, as a native frame of the description holds them.
    int32_t decodeWithCodec(uint32_t n, uint8_t* buffer);
    bool encapsulated() const;
    // The bytes of the current chunk as stored, without the item headers of its fragments, into
    // `out` (at most `capacity` bytes); the number of bytes or -1 with the status set.
    int64_t readChunkBytes(uint8_t* out, uint64_t capacity, Bytes* grow);
    // Whether some chunk of the file holds the data of a whole frame (its bytes, or for RLE and
    // lossless JPEG the most their codings can give), before the frame's buffers are made.
    bool dataFillsAFrame();
    // The same for frames a platform codec decodes: some chunk's codestream announces the
    // description's rows and columns and, for JPEG, has the bytes to code that many pixels.
    bool codestreamFitsFrame(int64_t fileSize);
    // The RLE frame in `_compressed` (n bytes) into `buffer`.
    int32_t decodeRLE(uint32_t n, uint8_t* buffer);
    int32_t decodeLosslessJPEG(uint32_t n, uint8_t* buffer);
    // The session's drawing of the current frame after the working buffer changed (or not).
    void drawFrame(bool refreshed);
    // The file still is the one opened: same size and modification time.
    bool streamUnchanged();

    FILE* _stream = nullptr;
    KelvoDicomPixelData* _chunks = nullptr;
    int32_t _timeScale = 600;
    KelvoDicomPixelDataDrawer _drawer;
    uint8_t* _singleFrame = nullptr;
    uint8_t* _workingBuffer = nullptr;
    // Bytes of the working buffer: a frame, or the largest compressed frame a codec draws.
    uint32_t _workingCapacity = 0;
    // Encapsulated frames decoded here, as stored (as long as the longest chunk read).
    Bytes _compressed;
    KelvoDicomDataImagePixel* _imagePixel = nullptr;
    uint32_t _currentFrame = 0;
    // Frames of a codec's syntax decoded here into samples (see above).
    bool _decodeHere = false;

    // The samples of the last frame read of a multi-frame image, kept before the drawer windows
    // the working buffer in place: raw values come from here.
    Bytes _rawCopy;
    // The planes of an RLE frame before they are interleaved.
    Bytes _planes;
    // Bytes of the current compressed frame handed to a platform codec.
    uint32_t _compressedSize = 0;
    // Identity of the file when it was opened.
    int64_t _fileSize = -1;
    struct timespec _fileTime {};
};
