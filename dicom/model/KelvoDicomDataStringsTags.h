// Attribute tag values (AT): a data element's tag, group and element, used as a value (for
// instance to point at another element). An element with several tags holds the further ones in
// the base's list.
#pragma once

#include "KelvoDicomDataElements.h"

class KelvoDicomDataAttributeTag final : public KelvoDicomDataElementValue {
  public:
    KelvoDicomDataAttributeTag() = default;
    KelvoDicomDataAttributeTag(uint16_t group, uint16_t element) : _group(group), _element(element) {}
    explicit KelvoDicomDataAttributeTag(KelvoDicomDataNode* node) { value(node); }
    // A copy holds the same tags, further values included.
    KelvoDicomDataAttributeTag(const KelvoDicomDataAttributeTag& other)
        : KelvoDicomDataElementValue(other), _group(other._group), _element(other._element) {}
    KelvoDicomDataAttributeTag& operator=(const KelvoDicomDataAttributeTag& other) {
        KelvoDicomDataElementValue::operator=(other);
        return *this;
    }
    using KelvoDicomDataElementValue::operator=;
    using KelvoDicomDataElementValue::stringValue;

    const char* qtObjName() const override { return "KelvoDicomDataAttributeTag"; }
    void defaultStatus() override;
    void copy(Kelvo_QTObj& other) override;
    Kelvo_QTObj* clone() override;
    bool _initWithData(KelvoDicomDataNode* node) override;
    // "gggg,eeee" in hexadecimal; anything else leaves 0000,0000.
    bool _initWithStringData(const char* text) override;
    KelvoDicomDataNode* _encodeForDicom() const override;
    uint32_t _dataLengthForDicom() const override { return 4; }
    const char* vr() const override { return "AT"; }
    char paddingByte() const override { return 0; }
    // "0xGGGG,0xEEEE".
    const char* stringValue() override;

    uint16_t& group() { return _group; }
    uint16_t group() const { return _group; }
    uint16_t& element() { return _element; }
    uint16_t element() const { return _element; }
    operator AttributeTagRecord() const { return AttributeTagRecord{_group, _element}; }

  private:
    char _text[26] = {};
    uint16_t _group = 0;
    uint16_t _element = 0;
};
