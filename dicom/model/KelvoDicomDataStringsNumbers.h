// Integer strings (IS) and decimal strings (DS): numbers kept in binary form and written as DICOM
// text when asked. A DS value is a double, written in the shortest form that reads back as the
// same number within the 16 characters of the VR (or as near to it as 16 characters allow).
#pragma once

#include "KelvoDicomDataStrings.h"

class KelvoDicomIntegerString final : public KelvoDicomDataElementValueString {
  public:
    static constexpr uint32_t kMaxSize = 12;

    KelvoDicomIntegerString() = default;
    explicit KelvoDicomIntegerString(int32_t value) : _value(value) {}
    // Text beyond the 32-bit range is refused: value 0 and status -50.
    explicit KelvoDicomIntegerString(const char* text);
    explicit KelvoDicomIntegerString(KelvoDicomDataNode* node) { value(node); }
    KelvoDicomIntegerString(const KelvoDicomIntegerString& other)
        : KelvoDicomDataElementValueString(other), _value(other._value) {}
    KelvoDicomIntegerString& operator=(const KelvoDicomIntegerString& other) {
        KelvoDicomDataElementValue::operator=(other);
        return *this;
    }
    using KelvoDicomDataElementValueString::operator=;
    using KelvoDicomDataElementValueString::stringValue;
    // Stores the integer; the further values stay.
    KelvoDicomIntegerString& operator=(int32_t value) {
        _value = value;
        return *this;
    }

    const char* qtObjName() const override { return "KelvoDicomIntegerString"; }
    void defaultStatus() override;
    Kelvo_QTObj* clone() override { return new (std::nothrow) KelvoDicomIntegerString(*this); }
    bool _initWithStringData(const char* text) override;
    const char* vr() const override { return "IS"; }
    const char* stringValue() override;
    void _initWithOther(const KelvoDicomDataElementValueString& other) override;
    uint32_t maxSizeAllowed() const override { return kMaxSize; }

    int32_t integerValue() const { return _value; }
    void integerValue(int32_t value) { _value = value; }
    operator int32_t() const { return _value; }

  private:
    void parse(const char* text);

    char _text[kMaxSize + 1] = {};
    int32_t _value = 0;
};

class KelvoDicomDecimalString final : public KelvoDicomDataElementValueString {
  public:
    static constexpr uint32_t kMaxSize = 16;

    KelvoDicomDecimalString() = default;
    // A number that is not finite is refused: value 0 and status -50.
    explicit KelvoDicomDecimalString(double value);
    // Text that holds no number gives 0; one beyond the double range or not finite is refused
    // (value 0, status -50).
    explicit KelvoDicomDecimalString(const char* text);
    explicit KelvoDicomDecimalString(KelvoDicomDataNode* node) { value(node); }
    KelvoDicomDecimalString(const KelvoDicomDecimalString& other)
        : KelvoDicomDataElementValueString(other), _value(other._value), _exponential(other._exponential) {}
    KelvoDicomDecimalString& operator=(const KelvoDicomDecimalString& other) {
        KelvoDicomDataElementValue::operator=(other);
        return *this;
    }
    using KelvoDicomDataElementValueString::operator=;
    using KelvoDicomDataElementValueString::stringValue;
    // Stores the number (not a finite one: refused, status -50); the further values stay.
    KelvoDicomDecimalString& operator=(double value) {
        store(value);
        return *this;
    }

    const char* qtObjName() const override { return "KelvoDicomDecimalString"; }
    void defaultStatus() override;
    Kelvo_QTObj* clone() override { return new (std::nothrow) KelvoDicomDecimalString(*this); }
    bool _initWithStringData(const char* text) override;
    const char* vr() const override { return "DS"; }
    // The shortest text of at most 16 characters; in exponent form ("1.5E+00") when the flag is
    // set. Empty for a number that is not finite.
    const char* stringValue() override;
    void _initWithOther(const KelvoDicomDataElementValueString& other) override;
    uint32_t maxSizeAllowed() const override { return kMaxSize; }

    // The number, to read or set in place.
    double& doubleValue() { return _value; }
    double doubleValue() const { return _value; }
    // The number in single precision (beyond its range: the infinity of its sign).
    float floatValue() const;
    operator double() const { return _value; }
    // When set, the text is written in exponent form.
    uint8_t& exponentialNotation() { return _exponential; }

  private:
    void store(double value);
    void parse(const char* text);

    char _text[kMaxSize + 1] = {};
    double _value = 0.0;
    uint8_t _exponential = 0;
};
