// The data elements of one DICOM group, kept as a tree of atoms in the set's own container: one
// 'DAST' root atom (id = group, 'NGEZ' for 0) whose 'DAEL' children are elements and 'SQIT'
// children sequences, ordered by element number. A set built from an atom of a larger tree works
// on its own copy; changes reach the tree when the owner writes the set back.
#pragma once

#include "KelvoAtomicsLists.h"
#include "KelvoDicomData.h"

#include <cstdio>

class KelvoDicomDataElement;
class KelvoDicomDataElementValue;
class KelvoDicomDataItemGroup;

// Media atoms of elements whose value stayed in its file (pixel and waveform data).
constexpr QTAtomType kDicomInMemoryPixelsAtom = FOUR_CHAR_CODE("DTSC");
// The media-samples atoms of an element whose value stayed in its file: the transfer syntax
// code of that file, a mark that its values are big endian, the media kind and the table.
constexpr QTAtomType kDicomMediaSyntaxAtom = FOUR_CHAR_CODE("MDDE");
constexpr QTAtomType kDicomMediaSwapAtom = FOUR_CHAR_CODE("MDSW");
constexpr QTAtomType kDicomMediaPixelsAtom = FOUR_CHAR_CODE("MDIV");
constexpr QTAtomType kDicomMediaWaveformAtom = FOUR_CHAR_CODE("MDIW");
constexpr QTAtomType kDicomMediaUnknownAtom = FOUR_CHAR_CODE("MDUN");
constexpr QTAtomType kDicomMediaSamplesAtom = FOUR_CHAR_CODE("MDST");

class KelvoDicomDataSet : public Kelvo_Dictionary {
  public:
    KelvoDicomDataSet();
    explicit KelvoDicomDataSet(uint16_t group);
    KelvoDicomDataSet(QTAtomContainer container, QTAtom atom);
    // The group atom read where it lies (see KelvoAtomView).
    KelvoDicomDataSet(QTAtomContainer container, QTAtom atom, KelvoAtomView);
    KelvoDicomDataSet(const KelvoDicomDataSet& other);
    KelvoDicomDataSet& operator=(const KelvoDicomDataSet& other);
    ~KelvoDicomDataSet() override;

    const char* qtObjName() const override { return "KelvoDicomDataSet"; }
    void copy(Kelvo_QTObj& source) override;
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;
    int32_t count() override;
    void flushToText(FILE* file, QTAtom parentAtom) override;
    void flushToXml(FILE* file, QTAtom parentAtom) override;
    QTAtom FindItem(int32_t key, QTAtom parentAtom) override;
    bool HasKey(int32_t key) override;
    void RemoveKey(int32_t key) override;
    int32_t Key(int16_t index) override;
    Kelvo_QTObj* getObjValue(int32_t key) override;
    void setObjValue(int32_t key, Kelvo_QTObj* object) override;
    // `flags` points to an unsigned 32-bit word: 0x2 implicit VR, 0x4 big endian, 0x8 group length.
    void flushToBinary(FILE* file, const void* flags) override;
    virtual void flushContent(FILE* file, dicmIOformat format, uint32_t flags);
    virtual int32_t anonymize();

    uint16_t groupID() const { return _group; }
    QTAtom getRootOfItems() const { return _root; }
    KelvoDicomDataNode* getKeys();

    // Typed access by element number.
    void getProperty(uint16_t element, KelvoDicomDataNode& node);
    void setProperty(uint16_t element, KelvoDicomDataNode& node);
    void setProperty(uint16_t element, const char* vr, KelvoDicomDataNode& node);
    const char* getStringValueProperty(uint16_t element);
    void getStringValueProperty(uint16_t element, char* destination, uint32_t capacity);
    void setStringValueProperty(uint16_t element, const char* text);
    int16_t getSSValueProperty(uint16_t element);
    uint16_t getUSValueProperty(uint16_t element);
    uint32_t getULValueProperty(uint16_t element);
    void setSSValueProperty(uint16_t element, int16_t value);
    void setUSValueProperty(uint16_t element, uint16_t value);
    void setULValueProperty(uint16_t element, uint32_t value);
    KelvoDicomDataNode* getDataValueProperty(uint16_t element);

    // Objects.
    void setObjValue(int32_t key, const char* vr, Kelvo_QTObj* object);
    void setDataElementProperty(int32_t element, KelvoDicomDataElement& source);
    void setDataElementValueProperty(int32_t element, KelvoDicomDataElementValue& value);
    int32_t setSequenceProperty(int32_t element, KelvoDicomDataItemGroup& sequence);
    KelvoDicomDataElement* dataElement(int32_t element);
    void dataElement(const KelvoDicomDataElement* element);
    Kelvo_QTObjectsList* dataElements();
    int32_t dataElements(Kelvo_List* list);

    // Group length: the stored value, the value computed for what would be written, and the
    // computed value stored as element 0.
    uint32_t GroupLength() { return getULValueProperty(0); }
    uint32_t GroupLengthGetCurrent(bool implicit);
    uint32_t GroupLengthRefresh(bool implicit);

    int32_t anonymizeSQItems();

    // The bytes flushContent writes in binary form with `flags` (group length element excluded).
    uint64_t binaryContentSize(uint32_t flags);

  protected:
    // Where a new child with this key goes: before the first element or sequence with a larger
    // id (0 appends).
    QTAtom insertBefore(int32_t key);
    void initFromAtom(QTAtomContainer container, QTAtom atom);
    void writeMediaElement(FILE* file, QTAtom atom, uint32_t flags);
    uint64_t mediaElementSize(QTAtom atom, uint32_t flags);
    bool isMediaElement(QTAtom atom, uint16_t element, KelvoDicomDataNode& node, bool haveNode);
    bool isMediaElement(QTAtom atom, bool haveValues, int32_t valueCount);
    void writeGroupLength(FILE* file, uint32_t flags);

    QTAtom _root = 0;
    uint16_t _group = 0;
    char _scratch[1025] = {};
};

// The tag of an element in the output byte order.
void DicomUtils_WriteTag(FILE* file, uint32_t flags, uint16_t group, uint16_t element);

// The data set of the right class for a 'DAST' atom: the group views for their groups, a plain
// data set otherwise. 321 for an invalid coordinate, -2108 for another atom type.
KelvoDicomDataSet* DicmUtils_DataSetFactory(Kelvo_AtomCoord& dataSetAtom, int32_t& status);
