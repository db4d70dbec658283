// The six image classes, one a pixel format: monochrome, 8-bit grey and float grey (the three
// under Kelvo_Image8Greys), 16-bit grey, RGB and ARGB. Each holds an owned KelvoImage2DT of its
// sample type and channel count and maps every image operation onto it; KelvoImageClassT carries
// that mapping once for all six, and the classes add their names and their few extras.
//
// Conversions between formats go through a 32-bit world: the source draws itself, the target
// reads the world back (grey by (117 B + 601 G + 306 R) >> 10; monochrome cut at 129).
#pragma once

#include "KelvoImageBase.h"
#include "KelvoImageTypes2D.h"

#include <cstdint>

class Kelvo_Image8Greys : public Kelvo_Image {
  public:
    bool isA(const char* name) const override;
    // The pixels are not handed out as a platform buffer: length 0, -2053.
    virtual int32_t qtBuffer(void*& pointer, uint32_t& length);
};

template <class Base, class T, int N, uint32_t Format> class KelvoImageClassT : public Base {
  public:
    using Buffer = KelvoImage2DT<T, N>;

    ~KelvoImageClassT() override { delete _data; }

    bool qtObjIsValid() override { return _data != nullptr && _data->qtObjIsValid(); }
    bool qtObjIsValid() const override { return _data != nullptr && _data->qtObjIsValid(); }
    void copy(Kelvo_QTObj& other) override;

    Kelvo_Image* opAddImage(const Kelvo_Image& other) override;
    Kelvo_Image* opAddConst(double value) override;
    Kelvo_Image* opSubImage(const Kelvo_Image& other) override;
    Kelvo_Image* opSubConst(double value) override;
    void deleteDataBuffer() override {
        delete _data;
        _data = nullptr;
    }
    void newImageData(const Kelvo_Size& size, void* data) override;
    // newImageData without pixels, the samples of a new buffer left as the memory was: for a
    // caller that writes every one.
    void newImageDataUncleared(const Kelvo_Size& size) { allocateData(size, nullptr, false); }
    void initWithQDContext(Kelvo_QDGWorldBuffer* world) override;
    int16_t depth() const override;
    uint32_t bytesPerPixel() const override { return uint32_t(sizeof(T)) * N; }
    uint32_t rowBytes() const override { return this->qtObjIsValid() ? uint32_t(_data->rowBytes()) : 0; }
    uint32_t pixelFormat() const override { return Format; }
    uint16_t channelsCount() override { return N; }
    Kelvo_ImageInfo* channelInfo(uint16_t channel) override;
    Kelvo_Histogram* channelHistogram(uint16_t channel) override;
    Kelvo_QTObjectsList* channelsInfo() override;
    Kelvo_QTObjectsList* channelsHistogram() override;
    void* buffer() const override { return _data ? static_cast<void*>(_data->buffer()) : nullptr; }
    uint32_t bufferSize() override {
        return this->qtObjIsValid() ? uint32_t(uint64_t(_data->bufferSize()) * sizeof(T)) : 0;
    }
    Kelvo_ImgDesc* qtDataDescriptor() override;
    using Kelvo_Image::image;
    Kelvo_QDGWorldBuffer* image(Kelvo_DisplayTransform* transform) override;
    using Kelvo_Image::value;
    const Kelvo_ImageValue& value(const Kelvo_Point& point) const override;
    bool value(const Kelvo_Point& point, const Kelvo_ImageValue& v) override;
    void invert() override {
        if (this->qtObjIsValid()) _data->invert();
    }
    void swapBytes() override;
    void erase(Kelvo_Rect* rect) override {
        if (this->qtObjIsValid()) _data->erase(rect);
    }
    Kelvo_Image* cropImage(Kelvo_Rect* rect) override;
    Kelvo_Image* scaleImage(const Kelvo_Size& size) override;
    Kelvo_Image* normalizeImage(double low, double high) override;
    Kelvo_Image* blend(const Kelvo_Image& other, float weight) override;
    Kelvo_Image* histEqualizeImage() override;
    Kelvo_Image* histContrastStretchImage(int lowPercent, int highPercent) override;

  protected:
    KelvoImageClassT() = default;
    // Adopts the buffer.
    explicit KelvoImageClassT(Buffer* adopted);

    // newImageData, a new buffer's samples cleared or not.
    void allocateData(const Kelvo_Size& size, void* pixels, bool cleared);
    // A new image of the concrete class: empty, or over an adopted buffer.
    virtual KelvoImageClassT* make(Buffer* adopted) const = 0;
    // The adopted result of a buffer operation, or null with the buffer's status.
    Kelvo_Image* adopt(Buffer* result);
    // A new list holding `perChannel`'s object for each channel; null when any channel has
    // none.
    template <class PerChannel> Kelvo_QTObjectsList* channelsList(PerChannel perChannel);
    // An unchanged copy (what the monochrome image answers to tone operations).
    Kelvo_Image* unchangedCopy();
    // The image's samples as bytes: themselves for 8-bit samples, stretched from their range to
    // 0 .. 255 for float ones (new memory the caller deletes with delete[]; null, status -108,
    // without memory); `owned` says which.
    const uint8_t* bytesForTables(bool& owned);
    // Per channel, a new image whose samples go through the channel's table from `makeTable`.
    template <class F> Kelvo_Image* mapThroughTables(F makeTable);
    uint32_t pixelCount() const { return uint32_t(uint64_t(this->_width) * this->_height); }

    Buffer* _data = nullptr;
};

class Kelvo_Image8BitMonochrome
    : public KelvoImageClassT<Kelvo_Image8Greys, uint8_t, 1, Kelvo_Image::kMonochrome> {
  public:
    explicit Kelvo_Image8BitMonochrome(Buffer* adopted) : KelvoImageClassT(adopted) {}
    Kelvo_Image8BitMonochrome() = default;
    Kelvo_Image8BitMonochrome(const Kelvo_Size& size, void* pixels) { newImageData(size, pixels); }
    Kelvo_Image8BitMonochrome(Kelvo_Image8BitMonochrome& other) : KelvoImageClassT() { copy(other); }

    const char* qtObjName() const override { return "Kelvo_Image8BitMonochrome"; }
    using Kelvo_Image::operator=;
    Kelvo_Image8BitMonochrome* clone() override;

  protected:
    KelvoImageClassT* make(Buffer* adopted) const override;
};

class Kelvo_Image8BitGrey : public KelvoImageClassT<Kelvo_Image8Greys, uint8_t, 1, Kelvo_Image::kGrey> {
  public:
    explicit Kelvo_Image8BitGrey(Buffer* adopted) : KelvoImageClassT(adopted) {}
    Kelvo_Image8BitGrey() = default;
    Kelvo_Image8BitGrey(const Kelvo_Size& size, void* pixels) { newImageData(size, pixels); }
    Kelvo_Image8BitGrey(Kelvo_Image8BitGrey& other) : KelvoImageClassT() { copy(other); }

    const char* qtObjName() const override { return "Kelvo_Image8BitGrey"; }
    using Kelvo_Image::operator=;
    Kelvo_Image8BitGrey* clone() override;

  protected:
    KelvoImageClassT* make(Buffer* adopted) const override;
};

class Kelvo_Image8BitGreyFloat
    : public KelvoImageClassT<Kelvo_Image8Greys, float, 1, Kelvo_Image::kGreyFloat> {
  public:
    explicit Kelvo_Image8BitGreyFloat(Buffer* adopted) : KelvoImageClassT(adopted) {}
    Kelvo_Image8BitGreyFloat() = default;
    Kelvo_Image8BitGreyFloat(const Kelvo_Size& size, void* pixels) { newImageData(size, pixels); }
    Kelvo_Image8BitGreyFloat(Kelvo_Image8BitGreyFloat& other) : KelvoImageClassT() { copy(other); }

    const char* qtObjName() const override { return "Kelvo_Image8BitGreyFloat"; }
    using Kelvo_Image::operator=;
    Kelvo_Image8BitGreyFloat* clone() override;

    // New memory of width x height bytes (the caller deletes it with delete[]): the samples
    // mapped linearly from their smallest and largest onto 0 .. 255. Null for an invalid image;
    // -108 and null without memory.
    uint8_t* convertToChar();

  protected:
    KelvoImageClassT* make(Buffer* adopted) const override;
};

class Kelvo_Image16BitGrey : public KelvoImageClassT<Kelvo_Image, uint16_t, 1, Kelvo_Image::kGrey16> {
  public:
    explicit Kelvo_Image16BitGrey(Buffer* adopted) : KelvoImageClassT(adopted) {}
    Kelvo_Image16BitGrey() = default;
    Kelvo_Image16BitGrey(const Kelvo_Size& size, void* pixels) { newImageData(size, pixels); }
    Kelvo_Image16BitGrey(Kelvo_Image16BitGrey& other) : KelvoImageClassT() { copy(other); }

    const char* qtObjName() const override { return "Kelvo_Image16BitGrey"; }
    using Kelvo_Image::operator=;
    Kelvo_Image16BitGrey* clone() override;

  protected:
    KelvoImageClassT* make(Buffer* adopted) const override;
};

// RGB and ARGB: pixels of interleaved bytes, and planar views of them (the plane of channel 0,
// then channel 1, ...).
class Kelvo_ImageRGB : public KelvoImageClassT<Kelvo_Image, uint8_t, 3, Kelvo_Image::kRGB> {
  public:
    explicit Kelvo_ImageRGB(Buffer* adopted) : KelvoImageClassT(adopted) {}
    Kelvo_ImageRGB() = default;
    Kelvo_ImageRGB(const Kelvo_Size& size, void* pixels) { newImageData(size, pixels); }
    Kelvo_ImageRGB(Kelvo_ImageRGB& other) : KelvoImageClassT() { copy(other); }

    const char* qtObjName() const override { return "Kelvo_ImageRGB"; }
    using Kelvo_Image::operator=;
    Kelvo_ImageRGB* clone() override;

    // New memory in the plane layout (delete[] by the caller), or null.
    virtual uint8_t* bufferPlanar();
    // The plane layout into the caller's width x height x 3 bytes; -50 for null memory.
    virtual void splitPlanes(uint8_t* planes);
    // The pixels rebuilt from the caller's plane layout; -108 for null memory.
    virtual void mergePlanes(uint8_t* planes);

  protected:
    KelvoImageClassT* make(Buffer* adopted) const override;
};

class Kelvo_ImageARGB : public KelvoImageClassT<Kelvo_Image, uint8_t, 4, Kelvo_Image::kARGB> {
  public:
    explicit Kelvo_ImageARGB(Buffer* adopted) : KelvoImageClassT(adopted) {}
    Kelvo_ImageARGB() = default;
    Kelvo_ImageARGB(const Kelvo_Size& size, void* pixels) { newImageData(size, pixels); }
    Kelvo_ImageARGB(Kelvo_ImageARGB& other) : KelvoImageClassT() { copy(other); }

    const char* qtObjName() const override { return "Kelvo_ImageARGB"; }
    using Kelvo_Image::operator=;
    Kelvo_ImageARGB* clone() override;

    virtual uint8_t* bufferPlanar();
    virtual void splitPlanes(uint8_t* planes);
    virtual void mergePlanes(uint8_t* planes);

  protected:
    KelvoImageClassT* make(Buffer* adopted) const override;
};

extern template class KelvoImageClassT<Kelvo_Image8Greys, uint8_t, 1, Kelvo_Image::kMonochrome>;
extern template class KelvoImageClassT<Kelvo_Image8Greys, uint8_t, 1, Kelvo_Image::kGrey>;
extern template class KelvoImageClassT<Kelvo_Image8Greys, float, 1, Kelvo_Image::kGreyFloat>;
extern template class KelvoImageClassT<Kelvo_Image, uint16_t, 1, Kelvo_Image::kGrey16>;
extern template class KelvoImageClassT<Kelvo_Image, uint8_t, 3, Kelvo_Image::kRGB>;
extern template class KelvoImageClassT<Kelvo_Image, uint8_t, 4, Kelvo_Image::kARGB>;
