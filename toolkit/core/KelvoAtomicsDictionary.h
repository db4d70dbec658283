// The keyed container of the toolkit: an atom container whose items are addressed by position
// (1-based here; subclasses give items other keys and kinds of values), with text, XML and binary
// dumps.
#pragma once

#include "KelvoAtomics.h"

class Kelvo_Dictionary : public Kelvo_AtomContainer {
  public:
    Kelvo_Dictionary() = default;
    Kelvo_Dictionary(const Kelvo_Dictionary& other) : Kelvo_AtomContainer(other) {}
    explicit Kelvo_Dictionary(KelvoAtomView view) : Kelvo_AtomContainer(view) {}
    Kelvo_Dictionary& operator=(QTAtomContainer source) {
        Kelvo_AtomContainer::operator=(source);
        return *this;
    }

    const char* qtObjName() const override { return "Kelvo_Dictionary"; }
    void copy(Kelvo_QTObj& source) override;
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;

    // The atom of the index-th child (any type) of `parentAtom` (0 = root); 0 with status 320
    // when out of range.
    virtual QTAtom FindItem(int32_t index, QTAtom parentAtom);
    virtual void Clear();
    virtual bool HasKey(int32_t key);
    virtual void RemoveKey(int32_t key);
    virtual QTAtom ValueKey(int32_t key);
    virtual int32_t Key(int16_t index);
    virtual void Copy(Kelvo_Dictionary& other);
    virtual void Copy(QTAtomContainer container);
    // New objects owned by the caller (getObjValue) or the stored object itself (ByRef); the
    // base class holds no objects.
    virtual Kelvo_QTObj* getObjValue(int32_t key);
    virtual Kelvo_QTObj* getObjValueByRef(int32_t key);
    virtual void setObjValue(int32_t key, Kelvo_QTObj* value);
    // 512 zero bytes, the four bytes at `tag` ("DICT" when null), then the flat container.
    virtual void flushToBinary(FILE* file, const void* tag);
    virtual void toTextFile(const char* path);
    virtual void toXmlFile(const char* path);
    virtual void toBinaryFile(const char* path, const void* tag);

    QTAtomContainer Dictionary() const { return _container; }
};
