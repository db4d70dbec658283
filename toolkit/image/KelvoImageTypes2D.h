// The 2D image template: the pixels of every image class, an interleaved buffer of N samples of T
// a pixel, rows packed without padding (sample c of pixel (x, y) at (y * width + x) * N + c).
//
// Images are frame buffers over a pointer to their samples. They add element-wise arithmetic,
// crop, nearest-neighbour scaling, blending, inversion, range normalisation, erasing and pixel
// access, an image description of their samples, and the two conversions with 32-bit offscreen
// worlds (dataFromQDContext, drawToQDBuffer) through which images come from and go to the
// platform. Operations that make an image return a new one that the caller owns; only invert,
// erase and pixel writes change the image itself.
//
// Points and rectangles are in the coordinates of the image's bounds: the pixel at the bounds'
// top-left corner is the buffer's first, whatever the bounds' origin (it is 0, 0 except for an
// image over a caller's samples that was given bounds elsewhere).
//
// The companion plug-in calls the virtual operations by slot: their order is part of the
// interface.
#pragma once

#include "KelvoCoreGraphics.h"
#include "KelvoGraphicsDisplay.h"
#include "KelvoImageTypesAlgorithms.h"
#include "KelvoVideo.h"
#include "PlatformDescriptions.h"
#include "PlatformMemory.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

// The samples of one pixel.
template <class T, int N> class KelvoImageValue2DT : public Kelvo_QTObj {
  public:
    KelvoImageValue2DT() = default;
    KelvoImageValue2DT(const KelvoImageValue2DT& other) : Kelvo_QTObj(other), count(other.count) {
        for (int c = 0; c < N; ++c)
            values[c] = other.values[c];
    }
    KelvoImageValue2DT& operator=(const KelvoImageValue2DT&) = delete;

    const char* qtObjName() const override { return "KelvoImageValue2DT"; }
    bool qtObjIsValid() override { return count > 0; }
    bool qtObjIsValid() const override { return count > 0; }
    void defaultStatus() override {
        for (int c = 0; c < N; ++c)
            values[c] = T();
    }
    KelvoImageValue2DT* clone() override { return new (std::nothrow) KelvoImageValue2DT(*this); }

    uint32_t count = N;
    T values[N] = {};
};

template <class T, int N> class KelvoImage2DT : public KelvoVideoBufferT<T*> {
    using Base = KelvoVideoBufferT<T*>;

  public:
    using Value = KelvoImageValue2DT<T, N>;
    // The depth of an image of this sample type and channel count: 8, 16 or 32 bits a sample
    // times the channels.
    static constexpr int16_t kDefaultDepth = int16_t(8 * sizeof(T) * N);

    // An image of `size` (whole pixels) in `pixelFormat`; without a usable size or with pixel
    // format 0, status -50 and no buffer. The samples start at zero, or, when not `cleared`, as
    // the memory was (for a caller that writes every sample).
    KelvoImage2DT(const Kelvo_Size& size, uint32_t pixelFormat, bool cleared = true) : Base(pixelFormat) {
        const Kelvo_Rect bounds(size);
        _clearNew = cleared;
        Base::init(bounds.width(), bounds.height());
        _clearNew = true;
    }
    // The same pixel format, depth and samples in a buffer of its own.
    KelvoImage2DT(const KelvoImage2DT& other) : Base(other._pixelFormat), _depth(other._depth) {
        _clearNew = !other._buffer; // the samples are copied over the new buffer
        Base::init(other.width(), other.height());
        _clearNew = true;
        if (this->_buffer && other._buffer)
            std::memcpy(static_cast<void*>(this->_buffer), static_cast<const void*>(other._buffer),
                        size_t(bufferSize()) * sizeof(T));
    }
    KelvoImage2DT& operator=(const KelvoImage2DT&) = delete;
    ~KelvoImage2DT() override { KelvoImage2DT::releaseBuffer(); }

    const char* qtObjName() const override { return "KelvoImage2DT"; }
    bool isA(const char* name) const override {
        return Base::isA(name) || (name && std::strcmp(name, "KelvoImage2DT") == 0);
    }
    bool qtObjIsValid() override { return this->_buffer != nullptr; }
    bool qtObjIsValid() const override { return this->_buffer != nullptr; }
    void defaultStatus() override { erase(nullptr); }
    KelvoImage2DT* clone() override {
        if (!qtObjIsValid()) return nullptr;
        return new (std::nothrow) KelvoImage2DT(*this);
    }

    // Virtual operations in slot order.
    // Images have no worlds over parts of themselves.
    GWorldPtr allocSubGWorld(Kelvo_Rect&) override { return nullptr; }
    // A new 86-byte description of the samples, cached (replacing any earlier one): 'raw ' of
    // depth 40 for 1- and 8-bit images, 'b16g' of depth 16 for 16-bit ones, else 'raw ' of the
    // image's depth. -108 without memory; -50 (and none) when the samples' size does not fit
    // the description's 32-bit data size.
    int32_t allocQTDescription() override {
        this->disposeDescription();
        const int64_t dataSize = int64_t(this->height()) * rowBytes();
        if (dataSize > INT32_MAX) {
            this->_status = -50;
            return this->_status;
        }
        Handle h = NewHandleClear(int32_t(sizeof(ImageDescription)));
        if (!h) {
            this->_status = -108;
            return this->_status;
        }
        auto* d = reinterpret_cast<ImageDescription*>(*h);
        d->idSize = int32_t(sizeof(ImageDescription));
        const int16_t bits = depth();
        if (bits == 1 || bits == 8) {
            d->cType = FOUR_CHAR_CODE("raw ");
            d->depth = 40;
        } else if (bits == 16) {
            d->cType = FOUR_CHAR_CODE("b16g");
            d->depth = 16;
        } else {
            d->cType = FOUR_CHAR_CODE("raw ");
            d->depth = bits;
        }
        d->width = int16_t(this->width());
        d->height = int16_t(this->height());
        d->spatialQuality = 0x300;
        // The resolution has always been written as the plain number 72, not as 72.0 in 16.16.
        d->hRes = 72;
        d->vRes = 72;
        d->dataSize = int32_t(dataSize);
        d->frameCount = 1;
        d->clutID = -1;
        d->dataRefIndex = -1;
        this->_description = reinterpret_cast<ImageDescriptionHandle>(h);
        return 0;
    }
    void releaseBuffer() override {
        if (this->_buffer && _owns) delete[] this->_buffer;
        this->disposeDescription();
        _owns = 0;
        this->_buffer = nullptr;
    }
    int32_t allocBuffer() override {
        const size_t count = size_t(bufferSize());
        T* fresh = _clearNew ? new (std::nothrow) T[count]() : new (std::nothrow) T[count];
        if (!fresh) {
            this->_status = -108;
            return this->_status;
        }
        this->_buffer = fresh;
        _owns = 1;
        return 0;
    }
    int16_t depth() const override { return _depth; }
    // Samples, not bytes.
    int64_t bufferSize() const override { return int64_t(this->width()) * this->height() * N; }
    Ptr baseAddress() const override { return reinterpret_cast<Ptr>(this->_buffer); }
    bool bufferLocked() const override { return qtObjIsValid() && _owns; }
    int32_t rowBytes() const override { return this->width() * N * int32_t(sizeof(T)); }
    int16_t bitsPerPixel() const override { return _depth; }
    // Zeroes the samples of the part of `rect` inside the bounds; a null or empty rect zeroes
    // every sample and clears the status. Nothing without a buffer. Returns the status.
    int32_t erase(Kelvo_Rect* rect) override {
        if (!this->_buffer) return this->_status;
        if (rect && rect->qtObjIsValid()) {
            const Kelvo_Rect& b = this->_bounds;
            const int32_t left = std::max<int32_t>(rect->left(), b.left());
            const int32_t top = std::max<int32_t>(rect->top(), b.top());
            const int32_t right = std::min<int32_t>(rect->right(), b.right());
            const int32_t bottom = std::min<int32_t>(rect->bottom(), b.bottom());
            if (left >= right || top >= bottom) return this->_status;
            for (int32_t y = top; y < bottom; ++y) {
                T* row = _coordToMemory(Kelvo_Point(left, y));
                for (int64_t i = 0; i < int64_t(right - left) * N; ++i)
                    row[i] = T();
            }
            return this->_status;
        }
        this->_status = 0;
        const int64_t n = bufferSize();
        for (int64_t i = 0; i < n; ++i)
            this->_buffer[i] = T();
        return 0;
    }
    // Copies bufferSize() samples from `source` into the buffer; -50 for a null source or an
    // image without a buffer.
    int32_t copyBuffer(T* source) override {
        if (!source || !this->_buffer) {
            this->_status = -50;
            return this->_status;
        }
        std::memcpy(static_cast<void*>(this->_buffer), static_cast<const void*>(source),
                    size_t(bufferSize()) * sizeof(T));
        return 0;
    }
    // Sample 0 of pixel (x, y); no range check.
    virtual T* _coordToMemory(const Kelvo_Point& p) const {
        const int64_t x = int64_t(p.x()) - this->_bounds.left();
        const int64_t y = int64_t(p.y()) - this->_bounds.top();
        return this->_buffer + (y * this->width() + x) * N;
    }
    virtual int64_t bufferRawBytesSize() const { return bufferSize() * int64_t(sizeof(T)); }
    // The image's own value object (kept by the image, overwritten by the next call): the
    // pixel's samples, or zeros for a point outside the bounds.
    virtual Value& value(const Kelvo_Point& p) const {
        _value.defaultStatus();
        if (this->_buffer && this->_bounds.isInRect(p)) {
            const T* in = _coordToMemory(p);
            for (int c = 0; c < N; ++c)
                _value.values[c] = in[c];
        }
        return _value;
    }
    // Writes the pixel; nothing for a point outside the bounds.
    virtual void value(const Kelvo_Point& p, const Value& v) {
        if (!this->_buffer || !this->_bounds.isInRect(p)) return;
        T* out = _coordToMemory(p);
        for (int c = 0; c < N; ++c)
            out[c] = v.values[c];
    }

    // With `copy`, the image takes a copy of bounds' size of samples (in a buffer of its own,
    // resized when needed); without, it shows the caller's samples, which stay the caller's, and
    // takes the bounds as they are. Nothing for null data or empty bounds.
    void initWithData(const T* data, const Kelvo_Rect& bounds, uint8_t copy) {
        if (!data || !bounds.qtObjIsValid()) return;
        if (copy) {
            // A caller's buffer is never written through: the copy goes into one of our own.
            if (bounds.width() != this->width() || bounds.height() != this->height() || !_owns)
                Base::init(bounds.width(), bounds.height());
            if (this->_buffer)
                std::memcpy(static_cast<void*>(this->_buffer), static_cast<const void*>(data),
                            size_t(bufferSize()) * sizeof(T));
            return;
        }
        this->reset();
        this->_bounds = bounds;
        this->_buffer = const_cast<T*>(data);
        _owns = 0;
    }

    uint32_t channels() const { return _channels; }

    // Element-wise sums and differences in T (integers wrap). Both images must be valid and of
    // one size, else status 9 and null.
    KelvoImage2DT* operator+(const KelvoImage2DT& other) const {
        return combine(other, [](T a, T b) { return T(a + b); });
    }
    KelvoImage2DT* operator-(const KelvoImage2DT& other) const {
        return combine(other, [](T a, T b) { return T(a - b); });
    }
    // Every sample plus or minus k; null for an invalid image.
    KelvoImage2DT* operator+(T k) const {
        return map([k](T a) { return T(a + k); });
    }
    KelvoImage2DT* operator-(T k) const {
        return map([k](T a) { return T(a - k); });
    }

    // The pixels of `rect`, which must be non-empty and lie within the bounds; else -50 and null.
    KelvoImage2DT* crop(const Kelvo_Rect& rect) const {
        const Kelvo_Rect& b = this->_bounds;
        if (!this->_buffer || !rect.qtObjIsValid() || rect.left() < b.left() || rect.top() < b.top() ||
            rect.right() > b.right() || rect.bottom() > b.bottom()) {
            setStatus(-50);
            return nullptr;
        }
        KelvoImage2DT* out = newImage(rect.width(), rect.height(), false);
        if (!out) return nullptr;
        const size_t rowSamples = size_t(rect.width()) * N;
        for (int32_t y = 0; y < rect.height(); ++y)
            std::memcpy(static_cast<void*>(out->_buffer + size_t(y) * rowSamples),
                        static_cast<const void*>(_coordToMemory(Kelvo_Point(rect.left(), rect.top() + y))),
                        rowSamples * sizeof(T));
        return out;
    }

    // The image resized to `size` by nearest neighbour (a copy at the same size); null for an
    // invalid image or size.
    KelvoImage2DT* scale(const Kelvo_Size& size) const {
        if (!size.qtObjIsValid() || !qtObjIsValid()) return nullptr;
        const Kelvo_Size own(this->width(), this->height());
        if (size == own) return new (std::nothrow) KelvoImage2DT(*this);
        const Kelvo_Rect target(size);
        KelvoImage2DT* out = newImage(target.width(), target.height(), true);
        if (!out) return nullptr;
        algZoomNearestNeighbor<T, N>(out->_buffer, this->_buffer, own,
                                     Kelvo_Size(target.width(), target.height()));
        return out;
    }

    // other x (1 - t) + this x t, sample by sample; integers truncated toward zero and kept in T
    // by wrapping (with t in [0, 1] they stay in range). Status 9 and null for an invalid operand
    // or one of another size.
    KelvoImage2DT* blend(const KelvoImage2DT& other, float t) const {
        if (!sameShape(other)) {
            setStatus(9);
            return nullptr;
        }
        KelvoImage2DT* out = newImage(this->width(), this->height(), true);
        if (!out) return nullptr;
        const float rest = 1.0f - t;
        const int64_t n = bufferSize();
        for (int64_t i = 0; i < n; ++i) {
            const double sum =
                double(float(other._buffer[i])) * double(rest) + double(float(this->_buffer[i]) * t);
            if constexpr (std::is_integral_v<T>)
                out->_buffer[i] = T(truncated(sum));
            else
                out->_buffer[i] = T(sum);
        }
        return out;
    }

    // In place: every sample becomes the buffer's largest sample minus itself.
    void invert() {
        if (!qtObjIsValid()) return;
        const int64_t n = bufferSize();
        T top = this->_buffer[0];
        for (int64_t i = 1; i < n; ++i)
            if (this->_buffer[i] > top) top = this->_buffer[i];
        for (int64_t i = 0; i < n; ++i)
            this->_buffer[i] = T(top - this->_buffer[i]);
    }

    // The samples mapped linearly onto [low, high] (bounds in either order), each channel from
    // its own minimum and maximum; a constant channel becomes low. Null for an invalid image and
    // for a monochrome one (pixel format 1).
    KelvoImage2DT* normalizeImage(T low, T high) const {
        if (!qtObjIsValid() || this->_pixelFormat == 1) return nullptr;
        if (low > high) std::swap(low, high);
        KelvoImage2DT* out = newImage(this->width(), this->height(), false);
        if (!out) return nullptr;
        const uint32_t pixels = uint32_t(int64_t(this->width()) * this->height());
        if constexpr (N == 1) {
            if (normalizeDataT<T, T>(this->_buffer, out->_buffer, low, high, pixels) != 0) {
                delete out;
                return nullptr;
            }
        } else {
            static_assert(std::is_integral_v<T>, "several channels are integer samples");
            for (int c = 0; c < N; ++c) {
                T mn = this->_buffer[c], mx = this->_buffer[c];
                for (uint32_t i = 1; i < pixels; ++i) {
                    const T x = this->_buffer[size_t(i) * N + c];
                    if (x < mn) mn = x;
                    if (x > mx) mx = x;
                }
                for (uint32_t i = 0; i < pixels; ++i) {
                    const size_t at = size_t(i) * N + c;
                    if (mx == mn) {
                        out->_buffer[at] = low;
                        continue;
                    }
                    int64_t v = int64_t(low) + (int64_t(this->_buffer[at]) - mn) * (int64_t(high) - low) /
                                                   (int64_t(mx) - mn);
                    if (v < low) v = low;
                    if (v > high) v = high;
                    out->_buffer[at] = T(v);
                }
            }
        }
        return out;
    }

  protected:
    void setStatus(int32_t status) const { const_cast<KelvoImage2DT*>(this)->_status = status; }

    bool sameShape(const KelvoImage2DT& other) const {
        return qtObjIsValid() && other.qtObjIsValid() && other.width() == this->width() &&
               other.height() == this->height();
    }

    // A new image of this one's pixel format (and, when asked, depth); null with the status on
    // this image when it cannot be made.
    KelvoImage2DT* newImage(int32_t w, int32_t h, bool keepDepth) const {
        auto* out = new (std::nothrow) KelvoImage2DT(Kelvo_Size(w, h), this->_pixelFormat);
        if (!out) {
            setStatus(-108);
            return nullptr;
        }
        if (!out->qtObjIsValid()) {
            setStatus(out->Error() != 0 ? out->Error() : -108);
            delete out;
            return nullptr;
        }
        if (keepDepth) out->_depth = _depth;
        return out;
    }

    template <class F> KelvoImage2DT* combine(const KelvoImage2DT& other, F f) const {
        if (!sameShape(other)) {
            setStatus(9);
            return nullptr;
        }
        KelvoImage2DT* out = newImage(this->width(), this->height(), true);
        if (!out) return nullptr;
        const int64_t n = bufferSize();
        for (int64_t i = 0; i < n; ++i)
            out->_buffer[i] = f(this->_buffer[i], other._buffer[i]);
        return out;
    }

    template <class F> KelvoImage2DT* map(F f) const {
        if (!qtObjIsValid()) return nullptr;
        KelvoImage2DT* out = newImage(this->width(), this->height(), true);
        if (!out) return nullptr;
        const int64_t n = bufferSize();
        for (int64_t i = 0; i < n; ++i)
            out->_buffer[i] = f(this->_buffer[i]);
        return out;
    }

    // Toward zero into 64 bits; NaN gives 0 and values beyond the range saturate.
    static int64_t truncated(double v) {
        if (!(v == v)) return 0;
        if (v >= 9223372036854775807.0) return INT64_MAX;
        if (v <= -9223372036854775808.0) return INT64_MIN;
        return int64_t(v);
    }

    mutable Value _value;
    uint8_t _owns = 0;
    // Whether a buffer allocated next starts at zero: it does unless the caller is to fill it.
    bool _clearNew = true;
    int16_t _depth = kDefaultDepth;
    uint32_t _channels = N;
};

// Fills `out` (width x height x N samples of the world's bounds) from a 32-bit A, R, G, B world:
// grey for one channel ((117 B + 601 G + 306 R) >> 10; 16-bit samples hold it in both bytes;
// with `monochrome`, 0 below 129 and 255 from there), R, G, B for three and A, R, G, B for four.
// 80 for a null output, 9 for a world without pixels, of another depth or with rows shorter than
// its width. Instances: <uint8_t, 1>, <uint16_t, 1>, <float, 1>, <uint8_t, 3>, <uint8_t, 4>.
template <class T, int N>
int32_t dataFromQDContext(const Kelvo_QDGWorldBuffer& world, T* out, uint8_t monochrome);

// Draws the image into a new 32-bit world buffer in `result` (the caller owns it): its
// description is made when none is cached, and one-byte grey images of a depth below 9 are drawn
// so that sample 0 shows black. 9 for an invalid image; else the drawing status. The transform
// is not used.
template <class T, int N>
int32_t drawToQDBuffer(const KelvoImage2DT<T, N>& image, Kelvo_QDGWorldBuffer*& result,
                       Kelvo_DisplayTransform* transform);

extern template class KelvoImage2DT<uint8_t, 1>;
extern template class KelvoImage2DT<uint16_t, 1>;
extern template class KelvoImage2DT<float, 1>;
extern template class KelvoImage2DT<uint8_t, 3>;
extern template class KelvoImage2DT<uint8_t, 4>;
