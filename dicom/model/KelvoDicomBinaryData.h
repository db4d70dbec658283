// Values of the VRs that hold raw data: OB (bytes), UN (unknown, kept as bytes), OW (16-bit
// words) and OF (32-bit floats). The bytes are kept as the node holds them, in host byte order;
// swapping for big-endian streams is the node's and the reader's business. One class keeps the
// bytes; the concrete classes add their VR, typed access and a short hexadecimal preview.
#pragma once

#include "KelvoDicomDataElements.h"
#include "KelvoImageTypes.h"

class KelvoDicomDataBinary : public KelvoDicomDataElementValue {
  public:
    ~KelvoDicomDataBinary() override;

    const char* qtObjName() const override { return "KelvoDicomDataBinary"; }
    // Drops the further values, the bytes and the preview text.
    void defaultStatus() override;
    // Holds a copy of another binary value's bytes, whatever its VR.
    void copy(Kelvo_QTObj& source) override;
    bool isA(const char* name) const override;
    bool _initWithData(KelvoDicomDataNode* node) override;
    // A binary value is not set from text.
    bool _initWithStringData(const char*) override { return false; }
    // A new node of this value's VR holding the bytes as its one value.
    KelvoDicomDataNode* _encodeForDicom() const override;
    // The number of bytes held (0 without data).
    uint32_t _dataLengthForDicom() const override;
    char paddingByte() const override { return 0; }

    // A copy of `other`'s bytes when it has this value's VR.
    virtual bool _initWithData(const KelvoDicomDataBinary& other);
    // With `copy` non-zero the value holds a deep copy of `data`; with 0 it takes `data` itself
    // over and deletes it when done.
    virtual bool _initWithData(const KelvoDataT<uint8_t>* data, uint8_t copy);
    virtual const KelvoDataT<uint8_t>* binaryData() const { return _data; }
    virtual bool binaryData(const KelvoDataT<uint8_t>* data, uint8_t copy) {
        return _initWithData(data, copy);
    }
    // Holds a copy of `count` bytes.
    virtual bool binaryData(const void* bytes, uint32_t count);
    virtual uint32_t itemsCount() const = 0;

    operator const KelvoDataT<uint8_t>*() const { return _data; }
    using KelvoDicomDataElementValue::stringValue;

    // A new empty value for "OB", "OW", "OF" or "UN"; null for anything else.
    static KelvoDicomDataBinary* createWithVR(const char* vr);
    // New OB, UN, OW and OF values holding `data` (copied or taken over as `copy` says).
    static KelvoDicomDataBinary* createWithBytes(const KelvoDataT<uint8_t>* data, uint8_t copy);
    static KelvoDicomDataBinary* createWithUnknownData(const KelvoDataT<uint8_t>* data, uint8_t copy);
    static KelvoDicomDataBinary* createWithWords(const KelvoDataT<uint8_t>* data, uint8_t copy);
    static KelvoDicomDataBinary* createWithFloats(const KelvoDataT<uint8_t>* data, uint8_t copy);

  protected:
    KelvoDicomDataBinary() = default;
    // The further values are copied by the base; the bytes by the concrete class.
    KelvoDicomDataBinary(const KelvoDicomDataBinary& other) : KelvoDicomDataElementValue(other) {}
    KelvoDicomDataBinary& operator=(const KelvoDicomDataBinary& other);

    // The operations below call no virtual operation of this object, so constructors use them.
    void reset();
    // Reads value 0 of a node whose VR the caller has checked.
    bool readNode(KelvoDicomDataNode* node);
    // Whether `node` is valid and of VR `vr`; status as the base's check sets it.
    bool nodeHasVR(KelvoDicomDataNode* node, const char* vr);
    bool takeData(const KelvoDataT<uint8_t>* data, uint8_t copy);
    bool takeBytes(const void* bytes, uint32_t count);
    bool takeValue(const KelvoDicomDataBinary& other, const char* vr);
    // The preview of the first (at most 20) items: `itemSize` 1 bytes, 2 words, 4 floats.
    const char* preview(int itemSize);

    char* _text = nullptr;
    KelvoDataT<uint8_t>* _data = nullptr;
};

class KelvoDicomDataOtherByte : public KelvoDicomDataBinary {
  public:
    KelvoDicomDataOtherByte() = default;
    explicit KelvoDicomDataOtherByte(KelvoDicomDataNode* node);
    KelvoDicomDataOtherByte(const KelvoDataT<uint8_t>* data, uint8_t copy);
    KelvoDicomDataOtherByte(const KelvoDicomDataOtherByte& other);
    KelvoDicomDataOtherByte& operator=(const KelvoDicomDataOtherByte& other) {
        KelvoDicomDataBinary::operator=(other);
        return *this;
    }
    using KelvoDicomDataElementValue::operator=;
    KelvoDicomDataOtherByte& operator=(const KelvoDataT<uint8_t>* data) {
        binaryData(data, 1);
        return *this;
    }

    const char* qtObjName() const override { return "KelvoDicomDataOtherByte"; }
    KelvoDicomDataOtherByte* clone() override;
    const char* vr() const override { return "OB"; }
    // The first 20 bytes as "%02X" each, then "...".
    const char* stringValue() override { return preview(1); }
    using KelvoDicomDataBinary::stringValue;
    uint32_t itemsCount() const override { return _data ? _data->itemCount() : 0; }

    operator const uint8_t*() const { return _data ? _data->items() : nullptr; }
};

class KelvoDicomDataUnknownData : public KelvoDicomDataOtherByte {
  public:
    KelvoDicomDataUnknownData() = default;
    explicit KelvoDicomDataUnknownData(KelvoDicomDataNode* node);
    KelvoDicomDataUnknownData(const KelvoDataT<uint8_t>* data, uint8_t copy);
    KelvoDicomDataUnknownData(const KelvoDicomDataUnknownData& other);
    KelvoDicomDataUnknownData& operator=(const KelvoDicomDataUnknownData& other) {
        KelvoDicomDataBinary::operator=(other);
        return *this;
    }
    using KelvoDicomDataElementValue::operator=;
    KelvoDicomDataUnknownData& operator=(const KelvoDataT<uint8_t>* data) {
        binaryData(data, 1);
        return *this;
    }

    const char* qtObjName() const override { return "KelvoDicomDataUnknownData"; }
    KelvoDicomDataUnknownData* clone() override;
    const char* vr() const override { return "UN"; }
};

class KelvoDicomDataOtherWord : public KelvoDicomDataBinary {
  public:
    KelvoDicomDataOtherWord() = default;
    explicit KelvoDicomDataOtherWord(KelvoDicomDataNode* node);
    KelvoDicomDataOtherWord(const KelvoDataT<uint8_t>* data, uint8_t copy);
    KelvoDicomDataOtherWord(const KelvoDicomDataOtherWord& other);
    KelvoDicomDataOtherWord& operator=(const KelvoDicomDataOtherWord& other) {
        KelvoDicomDataBinary::operator=(other);
        return *this;
    }
    using KelvoDicomDataElementValue::operator=;
    KelvoDicomDataOtherWord& operator=(const KelvoDataT<uint8_t>* data) {
        binaryData(data, 1);
        return *this;
    }

    const char* qtObjName() const override { return "KelvoDicomDataOtherWord"; }
    KelvoDicomDataOtherWord* clone() override;
    const char* vr() const override { return "OW"; }
    // The first 20 words, each taken as a signed 16-bit number, as "%02X", then "...".
    const char* stringValue() override { return preview(2); }
    using KelvoDicomDataBinary::stringValue;
    // Whole words held (a trailing odd byte is not a word).
    uint32_t itemsCount() const override { return _data ? _data->itemCount() / 2 : 0; }

    const int16_t* signedData() const {
        return _data ? reinterpret_cast<const int16_t*>(_data->items()) : nullptr;
    }
    const uint16_t* unsignedData() const {
        return _data ? reinterpret_cast<const uint16_t*>(_data->items()) : nullptr;
    }
    operator const int16_t*() const { return signedData(); }
    operator const uint16_t*() const { return unsignedData(); }
};

class KelvoDicomDataOtherFloat : public KelvoDicomDataBinary {
  public:
    KelvoDicomDataOtherFloat() = default;
    explicit KelvoDicomDataOtherFloat(KelvoDicomDataNode* node);
    KelvoDicomDataOtherFloat(const KelvoDataT<uint8_t>* data, uint8_t copy);
    KelvoDicomDataOtherFloat(const KelvoDicomDataOtherFloat& other);
    KelvoDicomDataOtherFloat& operator=(const KelvoDicomDataOtherFloat& other) {
        KelvoDicomDataBinary::operator=(other);
        return *this;
    }
    using KelvoDicomDataElementValue::operator=;
    KelvoDicomDataOtherFloat& operator=(const KelvoDataT<uint8_t>* data) {
        binaryData(data, 1);
        return *this;
    }

    const char* qtObjName() const override { return "KelvoDicomDataOtherFloat"; }
    KelvoDicomDataOtherFloat* clone() override;
    const char* vr() const override { return "OF"; }
    // The first 20 floats, each cut toward zero to a signed 32-bit number, as "%04X", then "...".
    const char* stringValue() override { return preview(4); }
    using KelvoDicomDataBinary::stringValue;
    uint32_t itemsCount() const override { return _data ? _data->itemCount() / 4 : 0; }

    const float* floatData() const {
        return _data ? reinterpret_cast<const float*>(_data->items()) : nullptr;
    }
    operator const float*() const { return floatData(); }
};
