// The abstract image of the toolkit: a width x height raster of one pixel format, held by one of
// six concrete classes (KelvoImage.h) in an owned 2D image buffer.
//
// The base fixes the virtual interface every image implements (arithmetic, statistics,
// histograms, conversions with offscreen worlds, pixel access, geometry and tone), the factory
// that maps a pixel-format code to its class, and the raw image file: a 40-byte big-endian header
// followed by the pixels as they lie in memory.
//
// Every operation reports through the object's status (Error()). Results handed out as new
// images, lists, statistics, histograms, descriptions or worlds belong to the caller; invert,
// erase, swapBytes and pixel writes are the only operations that change an image in place.
//
// The companion plug-in calls the virtual operations by slot: their order is part of the
// interface.
#pragma once

#include "KelvoAtomicsLists.h"
#include "KelvoCoreGraphics.h"
#include "KelvoCoreObjectsTypes.h"
#include "KelvoCoreVideoDataDescriptors.h"
#include "KelvoGraphicsDisplay.h"
#include "KelvoImageDescriptors.h"
#include "KelvoVideo.h"

#include <cstdint>
#include <cstdio>

class Kelvo_Image : public Kelvo_QTObj {
  public:
    // The raw image file's header, in host order here; the file holds every multi-byte field
    // big-endian.
    struct Kelvo_ImageHeader {
        char signature[4];
        uint32_t version;
        uint32_t headerSize;
        uint32_t width;
        uint32_t height;
        uint32_t bufferSize;
        uint32_t pixelFormat;
        uint16_t bytesPerPixel;
        uint16_t depth;
        uint32_t reserved[2];
    };
    static_assert(sizeof(Kelvo_ImageHeader) == 40, "the raw file header is 40 bytes");

    static constexpr char magicNumber[4] = {'.', 'm', 'w', '1'};
    static constexpr uint32_t version = 2;
    static constexpr uint32_t kHeaderSize = 40;
    // The platform's high-quality codec setting.
    static constexpr uint32_t kDefaultDisplayQuality = 0x300;

    // Pixel-format codes of the six classes.
    static constexpr uint32_t kMonochrome = 1;
    static constexpr uint32_t kRGB = 24;
    static constexpr uint32_t kARGB = 32;
    static constexpr uint32_t kGrey = 40;
    static constexpr uint32_t kGrey16 = FOUR_CHAR_CODE("16GR");
    static constexpr uint32_t kGreyFloat = FOUR_CHAR_CODE("FLOA");

    Kelvo_Image();
    Kelvo_Image(const Kelvo_Image&) = delete;
    ~Kelvo_Image() override;

    // Virtual operations in slot order.
    const char* qtObjName() const override { return "Kelvo_Image"; }
    // Valid with a pixel format and a buffer.
    bool qtObjIsValid() override;
    bool qtObjIsValid() const override;
    // The buffer, or null.
    void* qtObjReference() override;
    // Empty: no buffer, width and height 0, display quality back to its default.
    void defaultStatus() override;
    using Kelvo_QTObj::clone;
    using Kelvo_QTObj::copy;
    // Its own class name, "Kelvo_QTObj" and "Kelvo_Image".
    bool isA(const char* name) const override;

    virtual Kelvo_Image* opAddImage(const Kelvo_Image& other) = 0;
    virtual Kelvo_Image* opAddConst(double value) = 0;
    virtual Kelvo_Image* opSubImage(const Kelvo_Image& other) = 0;
    virtual Kelvo_Image* opSubConst(double value) = 0;
    virtual void deleteDataBuffer() = 0;
    // A buffer of `size` (whole pixels) in the class's format, filled from `data` when given
    // (width x height x channels samples).
    virtual void newImageData(const Kelvo_Size& size, void* data) = 0;
    // Fills the header from the image: signature, version, sizes, format and depth.
    virtual void setImageHeader(Kelvo_ImageHeader& header);
    // Takes the pixels of a 32-bit world, scaled to the image's size when it has a buffer of
    // another size, at the world's size when it has none.
    virtual void initWithQDContext(Kelvo_QDGWorldBuffer* world) = 0;
    virtual int16_t depth() const = 0;
    virtual uint32_t bytesPerPixel() const = 0;
    virtual uint32_t rowBytes() const = 0;
    virtual uint32_t pixelFormat() const = 0;
    virtual uint16_t channelsCount() = 0;
    virtual Kelvo_ImageInfo* channelInfo(uint16_t channel) = 0;
    virtual Kelvo_Histogram* channelHistogram(uint16_t channel) = 0;
    virtual Kelvo_QTObjectsList* channelsInfo() = 0;
    virtual Kelvo_QTObjectsList* channelsHistogram() = 0;
    virtual void* buffer() const = 0;
    // Bytes of the pixels; 0 without a buffer.
    virtual uint32_t bufferSize() = 0;
    virtual Kelvo_ImgDesc* qtDataDescriptor() = 0;
    // Loads width x height pixels from the stream at *position; the stream is closed afterwards
    // when asked. -50 for a null stream or position, a zero or too large size; 111 when the
    // stream does not hold that many bytes there (nothing is allocated then); 100 when they
    // cannot be read.
    virtual void image(FILE* stream, uint32_t width, uint32_t height, int64_t* position, uint8_t closeStream);
    // The same as initWithQDContext.
    virtual void image(Kelvo_QDGWorldBuffer* world);
    // A new 32-bit world showing the image (the caller owns it), or null.
    virtual Kelvo_QDGWorldBuffer* image(Kelvo_DisplayTransform* transform) = 0;
    // The pixel's value, kept in the image's value record (overwritten by the next read).
    virtual const Kelvo_ImageValue& value(const Kelvo_Point& point) const = 0;
    // Writes the pixel; false for an invalid image or a point outside it.
    virtual bool value(const Kelvo_Point& point, const Kelvo_ImageValue& value) = 0;
    virtual void invert() = 0;
    // Nothing here; the 16-bit and float grey images turn their samples' bytes round.
    virtual void swapBytes();
    virtual void erase(Kelvo_Rect* rect) = 0;
    virtual Kelvo_Image* cropImage(Kelvo_Rect* rect) = 0;
    virtual Kelvo_Image* scaleImage(const Kelvo_Size& size) = 0;
    virtual Kelvo_Image* normalizeImage(double low, double high) = 0;
    virtual Kelvo_Image* blend(const Kelvo_Image& other, float weight) = 0;
    virtual Kelvo_Image* histEqualizeImage() = 0;
    virtual Kelvo_Image* histContrastStretchImage(int lowPercent, int highPercent) = 0;
    // Writes the raw image file (the pixels alone with `rawOnly`); an invalid image writes
    // nothing and leaves status 0. -50 for a null path; 101 when the file cannot be opened or
    // any write, flush or close fails.
    virtual void write(const char* path, uint8_t rawOnly);

    // Width and height as a size (the record is refreshed and returned).
    const Kelvo_Size& size() const;
    uint32_t width() const { return _width; }
    uint32_t height() const { return _height; }
    uint32_t& displayQuality() { return _displayQuality; }

    Kelvo_Image& operator=(Kelvo_Image& other) {
        copy(other);
        return *this;
    }
    Kelvo_Image& operator=(Kelvo_QDGWorldBuffer& world) {
        initWithQDContext(&world);
        return *this;
    }
    Kelvo_Image* operator+(const Kelvo_Image& other) { return opAddImage(other); }
    Kelvo_Image* operator+(double value) { return opAddConst(value); }
    Kelvo_Image* operator-(const Kelvo_Image& other) { return opSubImage(other); }
    Kelvo_Image* operator-(double value) { return opSubConst(value); }
    bool operator()(const Kelvo_Point& point, const Kelvo_ImageValue& v) { return value(point, v); }
    const Kelvo_ImageValue& operator()(const Kelvo_Point& point) const { return value(point); }
    explicit operator void*() const { return buffer(); }

    // A new empty image of the class the code names (null for any other code); with a size, it
    // gets a buffer, and one that then reports itself invalid with a status is deleted.
    static Kelvo_Image* create(const Kelvo_OSType& pixelFormat, Kelvo_Size* size);
    // The same with a buffer of `size` whose samples are left as the memory was, for a caller
    // that writes every one (no time is spent clearing what is then overwritten).
    static Kelvo_Image* createUncleared(const Kelvo_OSType& pixelFormat, const Kelvo_Size& size);
    // The same as create, then the world's pixels (drawn scaled when a size is given); null when they
    // cannot be read.
    static Kelvo_Image* createWithQDContext(const Kelvo_QDGWorldBuffer& world,
                                            const Kelvo_OSType& pixelFormat, Kelvo_Size* size);
    // A new image holding a copy of the caller's pixels.
    static Kelvo_Image* createWithData(const Kelvo_OSType& pixelFormat, const Kelvo_Size& size,
                                       const void* data);
    // A new image of the source's class with a copy of its pixels; 79 and null for a source that
    // is missing or reports itself invalid with a status.
    static Kelvo_Image* duplicate(const Kelvo_Image* source, int32_t& status);

    // Raw image files.
    // Header-less pixels at a byte offset; null when the file does not hold them all.
    static Kelvo_Image* createWithBinaryFile(const char* path, const Kelvo_OSType& pixelFormat,
                                             const Kelvo_Size& size, int64_t offset);
    // True when the file starts with the signature.
    static bool isValidFile(const char* path);
    // A new image from a raw image file, or null with the status: 100 or -50 when it cannot be
    // opened, 111 for a file that is not one or whose header does not agree with what follows
    // it, 79 for a pixel format that names no image class.
    static Kelvo_Image* open(const char* path, int32_t& status);
    // Reads and checks the header; with `stream`, the open stream after the header (closed and
    // null on failure). Returns the status.
    static int32_t readImageHeader(const char* path, FILE** stream, Kelvo_ImageHeader& header);
    // Bytes a pixel of the format holds; 0 for a code that names no image class.
    static uint32_t bytesPerPixelOf(uint32_t pixelFormat);

  protected:
    uint32_t _width = 0;
    uint32_t _height = 0;
    mutable Kelvo_Size _size;
    mutable Kelvo_ImageValue _value;
    uint32_t _displayQuality = kDefaultDisplayQuality;
};
