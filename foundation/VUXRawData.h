// Small value classes of the foundation: a byte block that owns its bytes or only refers to bytes
// owned elsewhere, a pair of two values, and a range (a pair read as the lower and upper ends of
// an interval).
#pragma once

#include "VUXObject.h"

#include <cstdint>
#include <cstring>
#include <istream>
#include <ostream>
#include <typeinfo>

namespace VUX {

// Two values of possibly different types; both are public fields.
template <typename L, typename R> class VUXPair : public VUXObject {
  public:
    VUXPair() : left(), right() {}
    VUXPair(L const& l, R const& r) : left(l), right(r) {}
    VUXPair(VUXPair const& other) : VUXObject(other), left(other.left), right(other.right) {}
    ~VUXPair() override = default;
    VUXPair& operator=(VUXPair const& other) {
        copy(other);
        return *this;
    }

    static const char* objectName() { return "VUXPair"; }
    const char* className() const override { return "VUXPair"; }
    bool isA(const char* name) const override {
        return VUXObject::isA(name) || (name && std::strcmp(name, "VUXPair") == 0);
    }
    void defaultStatus() override {
        VUXObject::defaultStatus();
        left = L();
        right = R();
    }

    L left;
    R right;

  protected:
    VUXObject* _clone() const override { return new VUXPair(*this); }
    void _readableDescription(std::ostream& stream) const override {
        stream << "<left>" << left << "</left>\n<right>" << right << "</right>\n";
    }
    void _toStream(std::ostream& stream) const override { stream << left << ' ' << right; }
    void _fromStream(std::istream& stream) override { stream >> left >> right; }
    // Both take `other` as a pair of the same types: anything else raises std::bad_cast.
    bool _compare(VUXObject const& other) const override {
        auto const& o = dynamic_cast<VUXPair const&>(other);
        return left == o.left && right == o.right;
    }
    void _copy(VUXObject const& other) override {
        auto const& o = dynamic_cast<VUXPair const&>(other);
        left = o.left;
        right = o.right;
    }
};

// An interval: left is the lower end (min), right the upper end (max). Whether the upper end is
// inside is the user's convention; the strings and containers read ranges inclusively.
template <typename T> class VUXRange : public VUXPair<T, T> {
  public:
    VUXRange() = default;
    VUXRange(T const& min, T const& max) : VUXPair<T, T>(min, max) {}
    VUXRange(VUXRange const& other) : VUXPair<T, T>(other) {}
    ~VUXRange() override = default;
    VUXRange& operator=(VUXRange const& other) {
        this->copy(other);
        return *this;
    }

    static const char* objectName() { return "VUXRange"; }
    const char* className() const override { return "VUXRange"; }
    // left <= right; a NaN end makes a floating range invalid.
    bool isValid() const override { return this->left <= this->right; }

  protected:
    VUXObject* _clone() const override { return new VUXRange(*this); }
    void _readableDescription(std::ostream& stream) const override {
        stream << "<min>" << this->left << "</min>\n<max>" << this->right << "</max>\n";
    }
};

// The address of a byte block (as an integer) and its length in bytes.
using VUXRawBlock = VUXPair<intptr_t, int64_t>;

// A byte block. An owning object allocated its bytes (or was handed them) and frees them; a
// referring object only points at bytes that somebody else owns. Valid unless it holds a null
// address with a non-zero length. Allocation failures leave the error -108 and the object as it
// was; nothing throws.
class VUXRawData : public VUXObject {
  public:
    VUXRawData();
    // An owned block of `length` zero bytes.
    explicit VUXRawData(uint64_t length);
    // copy true: an owned copy of the block's bytes; copy false: refers to them.
    VUXRawData(VUXRawBlock const& block, bool copy);
    VUXRawData(VUXRawData const& other);
    ~VUXRawData() override;

    static const char* objectName() { return "VUXRawData"; }

    void* data() { return reinterpret_cast<void*>(_block.left); }
    const void* data() const { return reinterpret_cast<const void*>(_block.left); }
    operator const void*() const { return data(); }
    uint64_t length() const { return static_cast<uint64_t>(_block.right); }
    bool isDataOwner() const { return _dataOwner; }

    // An owned block of `length` bytes, copied from `data` when it is not null (zeroed
    // otherwise). `data` may point into this object's own bytes. Giving the current address
    // changes nothing; the result then tells whether the length is the current one.
    bool alloc(uint64_t length, const void* data = nullptr);
    // A null `data` sets -107 and fails.
    bool allocWithData(const void* data, uint64_t length);
    // Takes the bytes as they are; with `owner` true they must come from new[] and are freed
    // with delete[]. Wrapping the current address keeps its bytes.
    void wrapData(const void* data, uint64_t length, bool owner);
    // Keeps the first bytes, zeroes any new ones, and makes the block owned.
    bool resize(uint64_t length);
    void clear() { defaultStatus(); }
    void zeroed();
    // 0 for an invalid object; otherwise the ones'-complement checksum of the bytes.
    uint16_t checkSum() const;

    VUXRawData& operator=(VUXRawData const& other);
    // An owned copy of the block's bytes.
    VUXRawData& operator=(VUXRawBlock const& block);
    // Appends the other's bytes, unless it is this object, shares this address or does not
    // own its bytes.
    VUXRawData& operator+=(VUXRawData const& other);
    VUXRawData& operator+=(uint64_t n);
    // Past the length the object is emptied.
    VUXRawData& operator-=(uint64_t n);

    const char* className() const override;
    bool isValid() const override;
    void defaultStatus() override;

  protected:
    VUXObject* _clone() const override;
    void _readableDescription(std::ostream& stream) const override;
    void _toStream(std::ostream& stream) const override;
    // Consumes the rest of the stream.
    void _fromStream(std::istream& stream) override;
    // Both take `other` as a VUXRawData: anything else raises std::bad_cast.
    bool _compare(VUXObject const& other) const override;
    void _copy(VUXObject const& other) override;

    VUXRawBlock _block;
    bool _dataOwner;

  private:
    void release();
    void take(char* bytes, uint64_t length, bool owner);
};

// A new owned block: a's bytes (when a owns them), then b's (when b owns them), zeroes for the
// rest of the summed length.
VUXRawData operator+(VUXRawData const& a, VUXRawData const& b);

} // namespace VUX
