// Plain typed buffers and sample statistics of the image layer.
//
// KelvoDataT<T> is a counted array that either owns its elements or borrows a caller's array
// (neither copied nor freed). It carries file paths (a KelvoDataT<char> with the terminating
// NUL), lookup tables, byte values of DICOM elements and regions of interest cut from pixel
// planes. KelvoStatisticsT<T> describes every stride-th sample of a typed buffer.
//
// Both follow the toolkit's status model: bad input sets the object's status, nothing throws.
// The virtual operations are listed in slot order after those of Kelvo_QTObj.
#pragma once

#include "KelvoCoreObjects.h"
#include "PlatformGeometry.h"
#include "PlatformTypes.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>
#include <concepts>

template <class T> class KelvoDataT : public Kelvo_QTObj {
  public:
    // A zero-filled array of `count` elements that it owns.
    explicit KelvoDataT(uint32_t count) : _data(nullptr), _dummy(), _count(0), _owns(1) {
        KelvoDataT::init(count, nullptr);
    }

    // With `borrow` non-zero, non-null `data` and non-zero `count`, the array refers to the
    // caller's elements; otherwise it owns a copy of them (zero-filled when `data` is null).
    KelvoDataT(T* data, uint32_t count, uint8_t borrow) : _data(nullptr), _dummy(), _count(0), _owns(1) {
        if (borrow && data && count) {
            _data = data;
            _count = count;
            _owns = 0;
        } else {
            KelvoDataT::init(count, data);
        }
    }

    // The same with counts and flags of other integer types (a literal 0 count would otherwise
    // also fit the region constructor). Counts outside 32 bits make an empty array, status -50.
    template <std::integral C, std::integral B>
    KelvoDataT(T* data, C count, B borrow)
        : KelvoDataT(data, std::in_range<uint32_t>(count) ? uint32_t(count) : 0u, uint8_t(borrow != 0)) {
        if (!std::in_range<uint32_t>(count)) _status = -50;
    }

    // A borrowing source gives another borrower of the same elements; an owning source gives an
    // owned deep copy.
    KelvoDataT(const KelvoDataT& other) : Kelvo_QTObj(other), _data(nullptr), _dummy(), _count(0), _owns(1) {
        if (!other._owns && other._data) {
            _data = other._data;
            _count = other._count;
            _owns = 0;
        } else {
            KelvoDataT::init(other._count, other._data);
        }
    }

    // The region `region` of a plane of rows `rowWidth` elements wide, packed row after row.
    KelvoDataT(T* source, Rect* region, uint32_t rowWidth) : _data(nullptr), _dummy(), _count(0), _owns(1) {
        if (!region || EmptyRect(region)) {
            _status = -50;
            return;
        }
        // Both sides are positive here, so the area fits in 32 unsigned bits.
        uint32_t area =
            uint32_t(int32_t(region->right) - region->left) * uint32_t(int32_t(region->bottom) - region->top);
        KelvoDataT::init(area, nullptr);
        copyROI(source, region, rowWidth);
    }

    KelvoDataT& operator=(const KelvoDataT&) = delete;

    ~KelvoDataT() override { release(); }

    const char* qtObjName() const override { return "KelvoDataT"; }
    bool qtObjIsValid() override { return _data != nullptr && _count != 0; }
    bool qtObjIsValid() const override { return _data != nullptr && _count != 0; }

    // Clears every element of a valid array.
    void defaultStatus() override {
        if (!qtObjIsValid()) return;
        for (uint32_t i = 0; i < _count; ++i)
            _data[i] = T();
    }

    KelvoDataT* clone() override {
        if (!qtObjIsValid()) return nullptr;
        return new (std::nothrow) KelvoDataT(*this);
    }

    // A new owned array of `count` elements, copied from `data` when given, else zero-filled.
    // Whatever the array held before is released first, and the new elements are always owned.
    virtual void init(uint32_t count, T* data) {
        release();
        _owns = 1;
        if (count == 0) return;
        T* fresh = new (std::nothrow) T[count]();
        if (!fresh) {
            _status = -108;
            return;
        }
        _data = fresh;
        _count = count;
        if (data) {
            std::memcpy(static_cast<void*>(_data), static_cast<const void*>(data), sizeof(T) * size_t(count));
            _status = 0;
        }
    }

    // Drops the elements (freeing them when owned); the ownership flag stays as it was.
    virtual void reset() {
        if (_data && _owns) delete[] _data;
        _data = nullptr;
        _count = 0;
        _dummy = T();
    }

    virtual uint32_t itemCount() const { return _count; }

    // Copies the region of `source` (rows of `rowWidth` elements) into the array, whose count
    // must equal the region's area. The region must lie inside the rows: a negative edge or a
    // right edge beyond the row width would read outside the plane and is refused with -50.
    void copyROI(T* source, Rect* region, uint32_t rowWidth) {
        if (!qtObjIsValid()) return;
        if (!source || !region || EmptyRect(region)) {
            _status = 79;
            return;
        }
        int64_t width = int64_t(region->right) - region->left;
        int64_t height = int64_t(region->bottom) - region->top;
        if (width * height != int64_t(_count)) {
            _status = -50;
            return;
        }
        if (region->top < 0 || region->left < 0 || int64_t(region->right) > int64_t(rowWidth)) {
            _status = -50;
            return;
        }
        T* out = _data;
        for (int64_t row = region->top; row < region->bottom; ++row) {
            const T* in = source + size_t(row) * rowWidth + size_t(region->left);
            std::memcpy(static_cast<void*>(out), static_cast<const void*>(in), sizeof(T) * size_t(width));
            out += width;
        }
    }

    // A bad index sets status -50 and yields the spare element, so a write through it changes
    // nothing of the array.
    T& operator[](int64_t index) {
        if (index < 0 || index >= int64_t(_count) || !_data) {
            _status = -50;
            return _dummy;
        }
        return _data[index];
    }

    // The first element (null when the array is empty).
    T* items() { return _data; }
    const T* items() const { return _data; }
    bool ownsItems() const { return _owns != 0; }

    // A new owned array holding `text` and its terminating NUL; null for a null or empty text.
    template <class U = T>
    requires std::is_same_v<U, char>
    static KelvoDataT* createWithString(const char* text) {
        if (!text || !*text) return nullptr;
        size_t length = std::strlen(text);
        if (length >= UINT32_MAX) return nullptr;
        KelvoDataT* array = new (std::nothrow) KelvoDataT(const_cast<char*>(text), uint32_t(length + 1), 0);
        if (array && !array->qtObjIsValid()) {
            delete array;
            return nullptr;
        }
        return array;
    }

  protected:
    void release() {
        if (_data && _owns) delete[] _data;
        _data = nullptr;
        _count = 0;
    }

    T* _data;
    T _dummy;
    uint32_t _count;
    uint8_t _owns;
};

// The seven results, the same whatever the sample type, so that statistics of one sample type
// can take over those of another (they share one class name).
class KelvoStatisticsResults : public Kelvo_QTObj {
  public:
    uint32_t count = 0;
    double mean = 0.0;
    double variance = 0.0;
    double stdDeviation = 0.0;
    double meanAbsDeviation = 0.0;
    double min = 0.0;
    double max = 0.0;

  protected:
    KelvoStatisticsResults() = default;
    KelvoStatisticsResults(const KelvoStatisticsResults& other) : Kelvo_QTObj(other) {}
    // Copies the results of another statistics object; false (status 10) for another class.
    bool takeResults(Kelvo_QTObj& source);
};

template <class T> class KelvoStatisticsT : public KelvoStatisticsResults {
  public:
    KelvoStatisticsT() = default;
    KelvoStatisticsT(const KelvoStatisticsT& other) : KelvoStatisticsResults(other) {
        KelvoStatisticsT::copy(const_cast<KelvoStatisticsT&>(other));
    }
    KelvoStatisticsT& operator=(const KelvoStatisticsT&) = delete;

    const char* qtObjName() const override { return "KelvoStatisticsT"; }
    bool qtObjIsValid() override { return count != 0; }
    bool qtObjIsValid() const override { return count != 0; }

    // Clears every result; the status becomes -50 (nothing described).
    void defaultStatus() override { KelvoStatisticsT::init(nullptr, 0, 1); }

    // Takes over the results of another statistics object; the status stays as clearing set it.
    void copy(Kelvo_QTObj& source) override {
        KelvoStatisticsT::defaultStatus();
        int32_t cleared = _status;
        if (takeResults(source)) _status = cleared;
    }

    KelvoStatisticsT* clone() override {
        if (!qtObjIsValid()) return nullptr;
        return new (std::nothrow) KelvoStatisticsT(*this);
    }

    // Describes the samples at 0, stride, 2*stride, ... below `n`. Fewer than four strides'
    // worth of elements, null data or a zero stride leave every result 0 with status -50.
    virtual void init(T* data, uint32_t n, uint32_t stride) {
        count = 0;
        mean = variance = stdDeviation = meanAbsDeviation = min = max = 0.0;
        if (!data || stride == 0 || n / stride < 4) {
            _status = -50;
            return;
        }
        T lo = data[0];
        T hi = data[0];
        double sum = 0.0;
        uint32_t samples = 0;
        bool unordered = false; // a NaN sample: no minimum or maximum, as numpy answers
        for (uint64_t i = 0; i < n; i += stride) {
            T x = data[i];
            if (x < lo)
                lo = x;
            else if (x > hi)
                hi = x;
            else if constexpr (std::is_floating_point_v<T>)
                unordered |= x != x;
            sum += double(x);
            ++samples;
        }
        mean = sum / double(samples);
        double absSum = 0.0, dSum = 0.0, sqSum = 0.0;
        for (uint64_t i = 0; i < n; i += stride) {
            double d = double(data[i]) - mean;
            absSum += std::fabs(d);
            dSum += d;
            sqSum += d * d;
        }
        meanAbsDeviation = absSum / double(samples);
        variance = (sqSum - dSum * dSum / double(samples)) / double(samples - 1);
        // Rounding can leave a constant buffer a hair below zero; its spread is nil. A NaN (from
        // a NaN or an infinite sample) stays: the spread of such samples is not a number.
        if (variance < 0.0) variance = 0.0;
        stdDeviation = std::sqrt(variance);
        min = unordered ? std::numeric_limits<double>::quiet_NaN() : double(lo);
        max = unordered ? std::numeric_limits<double>::quiet_NaN() : double(hi);
        count = n / stride;
    }
};

// The instances the library provides; others are made where they are used.
extern template class KelvoDataT<uint32_t>;
extern template class KelvoDataT<uint8_t>;
extern template class KelvoDataT<char>;
extern template class KelvoDataT<uint16_t>;
extern template class KelvoDataT<int16_t>;
extern template class KelvoStatisticsT<uint8_t>;
extern template class KelvoStatisticsT<uint16_t>;
extern template class KelvoStatisticsT<int16_t>;
extern template class KelvoStatisticsT<float>;
