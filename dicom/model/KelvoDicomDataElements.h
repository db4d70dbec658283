// The abstract value of a data element: one class per value representation derives from it. An
// element with several values holds the first value in the object itself and the further ones,
// in order, in an owned list of values of the same class.
#pragma once

#include "KelvoAtomicsLists.h"
#include "KelvoDicomData.h"

class KelvoDicomDataElementValue : public Kelvo_QTObj {
  public:
    KelvoDicomDataElementValue() = default;
    KelvoDicomDataElementValue(const KelvoDicomDataElementValue& other);
    KelvoDicomDataElementValue& operator=(const KelvoDicomDataElementValue& other);
    KelvoDicomDataElementValue& operator=(KelvoDicomDataNode* node) {
        value(node);
        return *this;
    }
    KelvoDicomDataElementValue& operator=(const char* text) {
        stringValue(text);
        return *this;
    }
    ~KelvoDicomDataElementValue() override;

    const char* qtObjName() const override { return "KelvoDicomDataElementValue"; }
    using Kelvo_QTObj::qtObjIsValid;
    bool qtObjIsValid() const override { return true; }
    void defaultStatus() override;
    bool isA(const char* name) const override;

    // Operations every VR class implements.
    virtual bool _initWithData(KelvoDicomDataNode* node) = 0;
    virtual bool _initWithStringData(const char* text) = 0;
    // A new node with the value(s) in DICOM form, owned by the caller.
    virtual KelvoDicomDataNode* _encodeForDicom() const = 0;
    // The DICOM length of one value (strings: of all values joined).
    virtual uint32_t _dataLengthForDicom() const = 0;
    virtual bool _isDataKindRight(KelvoDicomDataNode* node);
    virtual Kelvo_QTObjectsList* _getList();
    virtual const Kelvo_QTObjectsList* _getList() const { return _list; }
    // Takes `value` itself (the list owns it) when it has this value's VR.
    virtual bool _appendValueByRef(KelvoDicomDataElementValue* value);
    virtual void _copyList(const KelvoDicomDataElementValue& other);
    virtual const char* vr() const = 0;
    virtual bool multipleValuesAllowed() const;
    virtual bool hasMultipleValues() const { return valuesCount() > 1; }
    virtual uint32_t valuesCount() const;
    // Appends a copy of `value` when it has this value's VR and the VR allows several values.
    virtual bool appendValue(const KelvoDicomDataElementValue* value);
    // Further values from index 0 (the element's second value); borrowed, null when none.
    virtual KelvoDicomDataElementValue* getValue(uint32_t index);
    virtual bool setValue(uint32_t index, const KelvoDicomDataElementValue* value);
    virtual bool removeValue(uint32_t index);
    virtual char paddingByte() const { return ' '; }
    // The DICOM length of all values, made even.
    virtual uint32_t lengthForDicom() const;
    virtual const char* stringValue() = 0;
    virtual bool stringValue(const char* text) { return _initWithStringData(text); }

    bool value(KelvoDicomDataNode* node) { return _isDataKindRight(node) && _initWithData(node); }
    KelvoDicomDataNode* value() const { return _encodeForDicom(); }
    operator const char*() { return stringValue(); }
    operator KelvoDicomDataNode*() const { return _encodeForDicom(); }

  protected:
    // Whether this class's one-value length is that of one value (numbers, tags, binary) rather
    // than that of all values joined (strings).
    virtual bool lengthIsPerValue() const { return true; }

    Kelvo_QTObjectsList* _list = nullptr;
};

class Kelvo_NumericalRange;
class KelvoDicomDataItemGroup;

// A data element: a tag, its dictionary entry (borrowed from a dictionary, or the element's own)
// and an owned value: an element value, an item group for SQ, or a data node for VRs without a
// value class.
class KelvoDicomDataElement : public Kelvo_QTObj {
  public:
    KelvoDicomDataElement(uint16_t group, uint16_t element, Kelvo_QTObj* value = nullptr);
    KelvoDicomDataElement(const AttributeTagRecord& tag, Kelvo_QTObj* value = nullptr);
    // An element with its own entry, for a private (odd) group only.
    KelvoDicomDataElement(uint16_t group, const dicmDictEntry& entry, Kelvo_QTObj* value = nullptr);
    // The element of an element or sequence atom of a data set of `group`.
    KelvoDicomDataElement(uint16_t group, Kelvo_AtomCoord& elementAtom);
    KelvoDicomDataElement(const KelvoDicomDataElement& other);
    KelvoDicomDataElement& operator=(const KelvoDicomDataElementValue& value);
    ~KelvoDicomDataElement() override;

    const char* qtObjName() const override { return "KelvoDicomDataElement"; }
    bool qtObjIsValid() override { return _entry != nullptr && _value != nullptr; }
    bool qtObjIsValid() const override { return _entry != nullptr && _value != nullptr; }
    void defaultStatus() override;
    void copy(Kelvo_QTObj& source) override;
    Kelvo_QTObj* clone() override;
    virtual const char* vr() const;
    // Header and value bytes in explicit VR; -1 for a sequence of undefined length.
    virtual int64_t lengthForDicom() const;

    // Sets the value from a copy of `value` when it is of the element's kind.
    void value(Kelvo_QTObj* value);
    // A copy of the value, owned by the caller.
    Kelvo_QTObj* value() const;
    // The value itself, owned by the element.
    Kelvo_QTObj* valueByRef() const { return _value; }
    uint16_t group() const { return _group; }
    uint16_t element() const { return _element; }
    const char* description() const;
    // A copy of the value multiplicity (start = minimum, end = maximum, -1 unbounded).
    Kelvo_NumericalRange* multeplicity() const;
    const dicmDictEntry* entry() const { return _entry; }

  private:
    void _init(const dicmDictEntry* entry);
    void dropEntry();

    uint16_t _group = 0;
    uint16_t _element = 0;
    const dicmDictEntry* _entry = nullptr;
    bool _ownsEntry = false;
    Kelvo_QTObj* _value = nullptr;
    double _vmMin = 0;
    double _vmMax = 0;
};

// Makes the right value object for a VR or a node. Results belong to the caller; callers tell
// their kind with isA.
class KelvoDicomDataFactory {
  public:
    KelvoDicomDataFactory() = delete;
    static Kelvo_QTObj* createElementValue(const char* vr);
    static Kelvo_QTObj* createElementValue(const KelvoDicomDataNode& node);
};
