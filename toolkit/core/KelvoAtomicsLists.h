// Ordered lists of toolkit objects kept in a dictionary's atom container: each item is a 'DATA'
// atom whose 'PCKG' child holds the object's address (meaningful only inside this process, so
// such a container is never written out). Lists own every object reachable from their items:
// objects enter by clone or by address and leave by deletion. Keys are 0-based positions.
#pragma once

#include "KelvoAtomicsDictionary.h"

class Kelvo_List : public Kelvo_Dictionary {
  public:
    static constexpr QTAtomType kItemAtom = FOUR_CHAR_CODE("DATA");
    static constexpr QTAtomType kObjectAtom = FOUR_CHAR_CODE("PCKG");

    Kelvo_List() = default;
    // Holds clones of the other list's objects.
    Kelvo_List(const Kelvo_List& other);
    ~Kelvo_List() override;
    Kelvo_List& operator=(const Kelvo_List& other) {
        copy(const_cast<Kelvo_List&>(other));
        return *this;
    }

    const char* qtObjName() const override { return "Kelvo_List"; }
    void copy(Kelvo_QTObj& source) override;
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;
    // A container of another list's addresses cannot be adopted: two lists would own the same
    // objects. Only a container without items is taken.
    void initWithContainer(QTAtomContainer source) override;
    void reset() override;
    int32_t count() override;
    void clear() override {}
    QTAtom FindItem(int32_t index, QTAtom parentAtom) override;
    void RemoveKey(int32_t) override {}
    void Copy(Kelvo_Dictionary& other) override { copy(other); }
    void Copy(QTAtomContainer) override {}
    Kelvo_QTObj* getObjValue(int32_t key) override;
    Kelvo_QTObj* getObjValueByRef(int32_t key) override;

    virtual QTAtom NewItem(Kelvo_QTObj* object, int32_t index);
    virtual void setItemData(QTAtom itemAtom, Kelvo_QTObj* object);
    virtual Kelvo_QTObj* getItemData(QTAtom itemAtom);
    virtual void deleteObjects();

    // A new clone of the object at `index`, owned by the caller.
    Kelvo_QTObj* operator[](int index) { return getObjValue(index); }

  protected:
    void appendClonesOf(Kelvo_List& other);
    void removeAllItems();
};

class Kelvo_QTObjectsList : public Kelvo_List {
  public:
    Kelvo_QTObjectsList() = default;
    Kelvo_QTObjectsList(const Kelvo_QTObjectsList& other) : Kelvo_List(other) {}
    Kelvo_QTObjectsList& operator=(const Kelvo_List& other) {
        copy(const_cast<Kelvo_List&>(other));
        return *this;
    }
    Kelvo_QTObjectsList& operator=(const Kelvo_QTObjectsList& other) {
        copy(const_cast<Kelvo_QTObjectsList&>(other));
        return *this;
    }

    const char* qtObjName() const override { return "Kelvo_QTObjectsList"; }
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;
    void clear() override;
    void RemoveKey(int32_t key) override;
    // The list takes `object` itself in place of the object at `key`, which it deletes. When the
    // key is bad the list takes nothing and the caller keeps `object`.
    void setObjValue(int32_t key, Kelvo_QTObj* object) override;

    virtual bool checkObjectToAdd(Kelvo_QTObj* object);
    // Appends a clone; the caller keeps `object`.
    virtual void addObjValue(Kelvo_QTObj* object);
    // Appends `object` itself; the list owns it from now on.
    virtual void addObjValueByRef(Kelvo_QTObj* object);

    Kelvo_QTObjectsList& operator+=(Kelvo_List& other);
    Kelvo_QTObjectsList& operator+=(Kelvo_QTObj* object) {
        addObjValue(object);
        return *this;
    }
    // A new list (owned by the caller) of clones of this list's objects and then of `other`'s.
    Kelvo_QTObjectsList* operator+(Kelvo_List& other);
};
