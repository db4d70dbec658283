// Sequences: an item group ('SQIT' atom, the value of an SQ element) holds items ('ITEM' atoms),
// and each item holds one data set per group ('DAST' atoms). Both work on their own copy of the
// atoms they were built from; changes reach the owner when written back with setObjValue.
#pragma once

#include "KelvoAtomicsLists.h"
#include "KelvoDicomDataSet.h"

class KelvoDicomDataItem : public Kelvo_Dictionary {
  public:
    KelvoDicomDataItem();
    KelvoDicomDataItem(QTAtomContainer container, QTAtom atom);
    KelvoDicomDataItem(QTAtomContainer container, QTAtom atom, KelvoAtomView);
    KelvoDicomDataItem(const KelvoDicomDataItem& other);
    KelvoDicomDataItem& operator=(const KelvoDicomDataItem& other);

    const char* qtObjName() const override { return "KelvoDicomDataItem"; }
    void copy(Kelvo_QTObj& source) override;
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;
    int32_t count() override;
    void clear() override;
    void flushToText(FILE* file, QTAtom parentAtom) override;
    void flushToXml(FILE* file, QTAtom parentAtom) override;
    QTAtom FindItem(int32_t group, QTAtom parentAtom) override;
    bool HasKey(int32_t group) override;
    int32_t Key(int16_t index) override;
    // A new typed data set of that group, owned by the caller.
    Kelvo_QTObj* getObjValue(int32_t group) override;
    void setObjValue(int32_t group, Kelvo_QTObj* set) override;
    void flushToBinary(FILE* file, const void* flags) override;
    virtual int32_t anonymize();

    QTAtom getRootOfItems() const { return _root; }
    uint32_t Length() const { return _length; }
    KelvoDicomDataNode* getKeys();
    Kelvo_QTObjectsList* values();
    void values(Kelvo_List* list);
    void flushContent(FILE* file, dicmIOformat format, uint32_t flags);
    uint64_t binarySize(uint32_t flags);

  private:
    QTAtom insertBefore(int32_t group);

    QTAtom _root = 0;
    uint32_t _length = kDicomUndefinedLength;
};

class KelvoDicomDataItemGroup : public Kelvo_Dictionary {
  public:
    KelvoDicomDataItemGroup();
    explicit KelvoDicomDataItemGroup(uint16_t element);
    KelvoDicomDataItemGroup(QTAtomContainer container, QTAtom atom);
    KelvoDicomDataItemGroup(QTAtomContainer container, QTAtom atom, KelvoAtomView);
    KelvoDicomDataItemGroup(const KelvoDicomDataItemGroup& other);
    KelvoDicomDataItemGroup& operator=(const KelvoDicomDataItemGroup& other);

    const char* qtObjName() const override { return "KelvoDicomDataItemGroup"; }
    void copy(Kelvo_QTObj& source) override;
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;
    int32_t count() override;
    void clear() override;
    void flushToText(FILE* file, QTAtom parentAtom) override;
    void flushToXml(FILE* file, QTAtom parentAtom) override;
    QTAtom FindItem(int32_t key, QTAtom parentAtom) override;
    bool HasKey(int32_t key) override;
    int32_t Key(int16_t index) override;
    // A new item (1-based index), owned by the caller.
    Kelvo_QTObj* getObjValue(int32_t index) override;
    void setObjValue(int32_t index, Kelvo_QTObj* item) override;
    void flushToBinary(FILE* file, const void* flags) override;
    virtual int32_t anonymize();

    QTAtom getRootOfItems() const { return _root; }
    uint16_t elementID() const { return _element; }
    OSErr elementID(uint16_t element);
    uint32_t Length() const { return _length; }
    Kelvo_QTObjectsList* values();
    void values(Kelvo_List* list);
    void flushContent(FILE* file, dicmIOformat format, uint32_t flags);
    // The bytes flushToBinary writes after the tag.
    uint64_t binarySize(uint32_t flags);

  private:
    QTAtom _root = 0;
    uint16_t _element = 0;
    uint32_t _length = kDicomUndefinedLength;
};
