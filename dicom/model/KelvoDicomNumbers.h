// Values of the six binary number VRs: FL, FD, UL, SL, US and SS. The abstract number class holds
// everything they share: the choice of class by VR, the conversions between the stored type and
// every other number type, the text form, parsing and the size in a DICOM stream. Each concrete
// class holds one number of its own type (the element's first value); further numbers are
// objects of the same class in the base's list.
//
// Conversions from floating to integer types are defined for every input: out-of-range values
// give the documented wrap-around results (no clamping), NaN gives 0.
#pragma once

#include "KelvoDicomDataElements.h"

#include <cstring>

class KelvoDicomDataNumber : public KelvoDicomDataElementValue {
  public:
    const char* qtObjName() const override { return "KelvoDicomDataNumber"; }
    // A concrete number: one whose value storage is set.
    bool qtObjIsValid() override { return _valueStorage != nullptr; }
    bool qtObjIsValid() const override { return _valueStorage != nullptr; }
    // Drops the further values and clears the text buffer.
    void defaultStatus() override;
    bool isA(const char* name) const override;
    // Reads the first number of `text` into the first value; a null text resets the value.
    bool _initWithStringData(const char* text) override;
    // 4 for UL, SL and FL, 2 for US and SS, 8 for FD; 0 for anything else.
    uint32_t _dataLengthForDicom() const override;
    char paddingByte() const override { return 0; }
    // The first value as text, in a buffer of the object valid until the next call.
    const char* stringValue() override;
    using KelvoDicomDataElementValue::stringValue;

    virtual float floatValue() const;
    virtual void floatValue(float value);
    virtual double doubleValue() const;
    virtual void doubleValue(double value);
    virtual int32_t signedLongValue() const;
    virtual void signedLongValue(int32_t value);
    virtual int16_t signedShortValue() const;
    virtual void signedShortValue(int16_t value);
    virtual uint32_t unsignedLongValue() const;
    virtual void unsignedLongValue(uint32_t value);
    virtual uint16_t unsignedShortValue() const;
    virtual void unsignedShortValue(uint16_t value);

    operator float() const { return floatValue(); }
    operator double() const { return doubleValue(); }
    operator int32_t() const { return signedLongValue(); }
    operator int16_t() const { return signedShortValue(); }
    operator uint32_t() const { return unsignedLongValue(); }
    operator uint16_t() const { return unsignedShortValue(); }

    // The value format code of the class's VR (2 UL, 3 US, 4 SS, 5 SL, 6 FL, 7 FD), -1 when the
    // VR has no row in the VR table.
    int32_t _numberType() const;

    // A new value of the class for "FD", "FL", "SS", "SL", "UL" or "US" holding 0; null for any
    // other text (the comparison is case-sensitive).
    static KelvoDicomDataNumber* createWithVR(const char* vr);
    static KelvoDicomDataNumber* createWithFloat(float value);
    static KelvoDicomDataNumber* createWithDouble(double value);
    static KelvoDicomDataNumber* createWithSignedLong(int32_t value);
    static KelvoDicomDataNumber* createWithUnsignedLong(uint32_t value);
    static KelvoDicomDataNumber* createWithSignedShort(int16_t value);
    static KelvoDicomDataNumber* createWithUnsignedShort(uint16_t value);

  protected:
    KelvoDicomDataNumber();
    // The further values are copied by the base; the concrete class points the storage at its
    // own field and copies its value.
    KelvoDicomDataNumber(const KelvoDicomDataNumber& other);
    KelvoDicomDataNumber& operator=(const KelvoDicomDataNumber& other);

    // The operations below call no virtual operation of this object, so constructors use them.
    // `vr` is the concrete class's VR and `storage` its value field.
    void attach(const char* vr, void* storage);
    void clearNumber();
    void clearText() { std::memset(_text, 0, sizeof _text); }
    bool nodeHasVR(KelvoDicomDataNode* node, const char* vr);
    bool parseText(const char* text);
    // Reads all values of a node whose VR the caller has checked.
    bool readNode(KelvoDicomDataNode* node);
    // Value `index` of a node of this class's VR into the value field, and the value field
    // appended to such a node.
    void loadFromNode(KelvoDicomDataNode* node, int32_t index);
    void appendToNode(KelvoDicomDataNode* node) const;
    // The value and further values of another number of the same class.
    void copyNumber(Kelvo_QTObj& source);
    KelvoDicomDataNode* encode() const;
    // The conversions of the getters and setters, by the stored number type.
    float getFloat() const;
    double getDouble() const;
    int32_t getSignedLong() const;
    uint32_t getUnsignedLong() const;
    int16_t getSignedShort() const;
    uint16_t getUnsignedShort() const;
    void setFromFloat(float value);
    void setFromDouble(double value);
    void setFromSigned(int32_t value);
    void setFromUnsigned(uint32_t value);

    mutable int32_t _type = -1;
    void* _valueStorage = nullptr;
    char _text[41];
};

// The six concrete classes share one shape.
#define KELVO_DICOM_NUMBER_CLASS(Class, Type)                                                                \
    class Class : public KelvoDicomDataNumber {                                                              \
      public:                                                                                                \
        Class();                                                                                             \
        explicit Class(Type value);                                                                          \
        explicit Class(const char* text);                                                                    \
        explicit Class(KelvoDicomDataNode* node);                                                            \
        Class(const Class& other);                                                                           \
        ~Class() override;                                                                                   \
        Class& operator=(const Class& other) {                                                               \
            KelvoDicomDataNumber::operator=(other);                                                          \
            return *this;                                                                                    \
        }                                                                                                    \
        using KelvoDicomDataElementValue::operator=;                                                         \
                                                                                                             \
        const char* qtObjName() const override { return #Class; }                                            \
        void defaultStatus() override;                                                                       \
        void copy(Kelvo_QTObj& source) override;                                                             \
        Class* clone() override;                                                                             \
        bool _initWithData(KelvoDicomDataNode* node) override;                                               \
        KelvoDicomDataNode* _encodeForDicom() const override;                                                \
        const char* vr() const override;                                                                     \
                                                                                                             \
      private:                                                                                               \
        Type _value = 0;                                                                                     \
    };

KELVO_DICOM_NUMBER_CLASS(KelvoDicomDataFloat, float)
KELVO_DICOM_NUMBER_CLASS(KelvoDicomDataDouble, double)
KELVO_DICOM_NUMBER_CLASS(KelvoDicomDataUnsignedLong, uint32_t)
KELVO_DICOM_NUMBER_CLASS(KelvoDicomDataSignedShort, int16_t)
KELVO_DICOM_NUMBER_CLASS(KelvoDicomDataUnsignedShort, uint16_t)

// The signed 32-bit class also answers its length itself.
class KelvoDicomDataSignedLong : public KelvoDicomDataNumber {
  public:
    KelvoDicomDataSignedLong();
    explicit KelvoDicomDataSignedLong(int32_t value);
    explicit KelvoDicomDataSignedLong(const char* text);
    explicit KelvoDicomDataSignedLong(KelvoDicomDataNode* node);
    KelvoDicomDataSignedLong(const KelvoDicomDataSignedLong& other);
    ~KelvoDicomDataSignedLong() override;
    KelvoDicomDataSignedLong& operator=(const KelvoDicomDataSignedLong& other) {
        KelvoDicomDataNumber::operator=(other);
        return *this;
    }
    using KelvoDicomDataElementValue::operator=;

    const char* qtObjName() const override { return "KelvoDicomDataSignedLong"; }
    void defaultStatus() override;
    void copy(Kelvo_QTObj& source) override;
    KelvoDicomDataSignedLong* clone() override;
    bool _initWithData(KelvoDicomDataNode* node) override;
    KelvoDicomDataNode* _encodeForDicom() const override;
    uint32_t _dataLengthForDicom() const override { return 4; }
    const char* vr() const override;

  private:
    int32_t _value = 0;
};
