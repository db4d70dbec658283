// Atom coordinates, the owner of one atom container, media input maps and the free functions for
// classic atoms, child-atom data and tree dumps. Look-ups hand their results back by value.
#pragma once

#include "KelvoCoreObjects.h"
#include "PlatformAtoms.h"
#include "PlatformMedia.h"

#include <cstdio>

// One atom of one container. Valid when both the container and the atom are non-zero; owns
// nothing, and dangles when its container is disposed.
class Kelvo_AtomCoord : public Kelvo_QTObj {
  public:
    Kelvo_AtomCoord() = default;
    Kelvo_AtomCoord(QTAtomContainer container, QTAtom atom) : _container(container), _atom(atom) {}
    Kelvo_AtomCoord(const Kelvo_AtomCoord& other)
        : Kelvo_QTObj(other), _container(other._container), _atom(other._atom) {}
    Kelvo_AtomCoord& operator=(const Kelvo_AtomCoord& other) {
        _container = other._container;
        _atom = other._atom;
        return *this;
    }

    const char* qtObjName() const override { return "Kelvo_AtomCoord"; }
    bool qtObjIsValid() override { return _container != nullptr && _atom != 0; }
    bool qtObjIsValid() const override { return _container != nullptr && _atom != 0; }
    void defaultStatus() override { reset(); }
    Kelvo_QTObj* clone() override;
    virtual void reset();

    QTAtomContainer container() const { return _container; }
    QTAtom atom() const { return _atom; }

    QTAtomType type() const;
    QTAtomID id() const;
    bool isLeaf() const;
    int32_t childCount(QTAtomType type) const;

    Kelvo_AtomCoord getParent();
    Kelvo_AtomCoord nextChild(const Kelvo_AtomCoord& current);
    Kelvo_AtomCoord addChild(QTAtomType type, QTAtomID id, int32_t index);
    Kelvo_AtomCoord childByIndex(QTAtomType type, int32_t index);
    Kelvo_AtomCoord childById(QTAtomType type, QTAtomID id);

    // A new handle with a leaf's data, owned by the caller.
    Handle getData();
    bool getData(void* buffer, uint32_t size);
    bool setData(Handle data);
    bool setData(const void* buffer, uint32_t size);

  private:
    QTAtomContainer _container = nullptr;
    QTAtom _atom = 0;
};

// Owns one atom container (created or copied, disposed by the destructor).
// Asks a data set, sequence or item for a view that reads its atom where it lies in the source
// container, rather than a copy of it. Such a view lives no longer than the source and does not
// change it.
enum class KelvoAtomView { borrowed };

class Kelvo_AtomContainer : public Kelvo_QTObj {
  public:
    Kelvo_AtomContainer();
    Kelvo_AtomContainer(const Kelvo_AtomContainer& other);
    explicit Kelvo_AtomContainer(QTAtomContainer source);
    ~Kelvo_AtomContainer() override;

    bool operator==(const Kelvo_AtomContainer& other) const { return _container == other._container; }
    Kelvo_AtomContainer& operator=(const Kelvo_AtomContainer& other) {
        copy(const_cast<Kelvo_AtomContainer&>(other));
        return *this;
    }
    Kelvo_AtomContainer& operator=(QTAtomContainer source) {
        if (source != _container) initWithContainer(source);
        return *this;
    }
    operator QTAtomContainer() const { return _container; }

    const char* qtObjName() const override { return "Kelvo_AtomContainer"; }
    bool qtObjIsValid() override { return _container != nullptr; }
    bool qtObjIsValid() const override { return _container != nullptr; }
    void* qtObjReference() override { return _container; }
    void defaultStatus() override { clear(); }
    void copy(Kelvo_QTObj& source) override;
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;

    // The container becomes a new copy of the whole source container (79 for a null source).
    virtual void initWithContainer(QTAtomContainer source);
    virtual void reset();
    virtual QTAtomContainer container() { return _container; }
    virtual bool empty();
    virtual int32_t count();
    virtual void clear();
    virtual bool locked() { return _locked; }
    virtual void locked(bool lock);
    virtual Kelvo_AtomCoord nextChild(const Kelvo_AtomCoord& current);
    virtual Kelvo_AtomCoord addChild(QTAtomType type, QTAtomID id, int32_t index);
    virtual Kelvo_AtomCoord childByIndex(QTAtomType type, int32_t index);
    virtual Kelvo_AtomCoord childById(QTAtomType type, QTAtomID id);
    virtual void flushToText(FILE* file, QTAtom parentAtom);
    virtual void flushToXml(FILE* file, QTAtom parentAtom);

    int32_t childCount(QTAtomType type);

    // Whether the object reads another object's container in place (see borrowContainer).
    bool borrowed() const { return _borrowed; }

  protected:
    // The container becomes a copy of `atom` of `source` with its subtree (the atom under the
    // new root); false, with the platform's status, when the copy fails.
    bool initWithAtom(QTAtomContainer source, QTAtom atom);
    // The object reads `source` in place, without a copy, and never disposes of it: for walks
    // that only read (dumps, writes, sizes) of a large tree while its owner keeps it alive.
    void borrowContainer(QTAtomContainer source);
    // For views, which borrow their container: none of their own is made first, only to be
    // thrown away (a walk over a large tree makes one view per item).
    explicit Kelvo_AtomContainer(KelvoAtomView) {}

    QTAtomContainer _container = nullptr;
    bool _locked = false;
    bool _borrowed = false;
};

// The input map of a media: 'in' atoms describing the inputs of its samples.
class Kelvo_MediaInputMap : public Kelvo_AtomContainer {
  public:
    Kelvo_MediaInputMap() = default;
    Kelvo_MediaInputMap(const Kelvo_MediaInputMap& other) : Kelvo_AtomContainer(other) {}
    explicit Kelvo_MediaInputMap(Media media);
    Kelvo_MediaInputMap& operator=(Media media);

    const char* qtObjName() const override { return "Kelvo_MediaInputMap"; }
    void copy(Kelvo_QTObj& source) override;
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;

    void setMedia(Media media);
    void addInput(QTAtomID id, uint32_t kind, const void* data);

  private:
    void takeMediaMap(Media media);
};

// A new handle holding a classic atom: big-endian size (data + 8), big-endian type, data.
Handle Kelvo_CreateClassicAtom(OSType type, const void* data, uint32_t size, int32_t& error);
Handle Kelvo_CreateClassicAtom(OSType type, Handle data, int32_t& error);

// Child-atom data of `parent` (0 for the root); indexes are 1-based.
Handle QTAtomData(QTAtomContainer container, QTAtomType type, int32_t index, QTAtom parent);
OSErr QTAtomDataGet(QTAtomContainer container, QTAtomType type, void* buffer, uint32_t size, int32_t index,
                    QTAtom parent);
OSErr QTAtomDataGet(QTAtomContainer container, QTAtomType type, void* buffer, uint32_t size, int32_t index,
                    QTAtom parent, uint32_t* copied);
OSErr QTAtomDataSet(QTAtomContainer container, QTAtomType type, const void* buffer, uint32_t size,
                    int32_t index, QTAtom parent);
// direction 1 writes, 0 reads.
OSErr Kelvo_AtomDataHandle(QTAtomContainer container, QTAtomType type, int32_t direction, void* buffer,
                           uint32_t size, int32_t index, QTAtom parent);
OSErr Kelvo_AtomDataHandle(QTAtomContainer container, QTAtomType type, int32_t direction, Handle& handle,
                           int32_t index, QTAtom parent);

// Tree dumps of the children of `parent`: text lines "Node(abcd)" indented by depth, or XML
// where a leaf is <Node type="abcd"/> and a parent encloses its children.
void Kelvo_PrintAtomContainerTree(FILE* file, QTAtomContainer container, QTAtom parent);
void Kelvo_PrintAtomContainerTreeXml(FILE* file, QTAtomContainer container, QTAtom parent);
