// A four-character code as a foundation object: the code in native order and its four
// characters with a terminating zero, kept in step by every setter. Its stream form is the code's
// four bytes, most significant first.
#pragma once

#include "VUXObject.h"

#include "PlatformCF.h"

#include <cstdint>

namespace VUX {

class VUXOSType : public VUXObject {
  public:
    VUXOSType();
    explicit VUXOSType(uint32_t code);
    // As stringValue(text): the object's error holds the conversion's status.
    explicit VUXOSType(const char* text);
    // A null string gives code 0.
    explicit VUXOSType(CFStringRef string);
    VUXOSType(VUXOSType const& other);
    ~VUXOSType() override;

    // A new object that the caller deletes; a null string gives code 0.
    static VUXOSType* createWithString(CFStringRef string);
    static const char* objectName() { return "VUXOSType"; }

    uint32_t value() const { return _code; }
    operator uint32_t() const { return _code; }
    void value(uint32_t code);

    const char* stringValue() const { return _text; }
    operator const char*() const { return _text; }
    // -107 for a null text, -50 for a text that is not four characters long (code and text are
    // then cleared); the status is also kept as the object's error.
    int32_t stringValue(const char* text);

    VUXOSType& operator=(uint32_t code);
    VUXOSType& operator=(const char* text);
    // A null string leaves the object as it was.
    VUXOSType& operator=(CFStringRef string);
    VUXOSType& operator=(VUXOSType const& other);

    // A new platform string that the caller releases.
    explicit operator CFStringRef() const;
    static CFStringRef stringFromOSType(VUXOSType const& type);

    // One conversion serves both directions: 0 stays 0; otherwise the byte-swapped value on a
    // little-endian host and the value itself on a big-endian one.
    static uint32_t nativeToBigEndian(uint32_t code);
    static uint32_t bigEndianToNative(uint32_t code);

    // The code with its bytes reversed, whatever the host.
    VUXOSType swap() const;
    VUXOSType toBigEndian() const;
    VUXOSType toNative() const;

    const char* className() const override;
    bool isA(const char* name) const override;
    void defaultStatus() override;

  protected:
    VUXObject* _clone() const override;
    void _readableDescription(std::ostream& stream) const override;
    void _toStream(std::ostream& stream) const override;
    void _fromStream(std::istream& stream) override;
    // Both take `other` as a VUXOSType: anything else raises std::bad_cast.
    bool _compare(VUXObject const& other) const override;
    void _copy(VUXObject const& other) override;

    char _text[5];
    uint32_t _code;
};

} // namespace VUX
