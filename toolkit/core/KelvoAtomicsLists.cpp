#include "KelvoAtomicsLists.h"

#include "PlatformErrors.h"

#include <cstring>

// ---------------------------------------------------------------------------------------------
// Kelvo_List

Kelvo_List::Kelvo_List(const Kelvo_List& other) : Kelvo_Dictionary() {
    appendClonesOf(const_cast<Kelvo_List&>(other));
}

Kelvo_List::~Kelvo_List() {
    deleteObjects();
    removeAllItems();
}

bool Kelvo_List::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_Dictionary::isA(name) || std::strcmp(name, "Kelvo_List") == 0;
}

Kelvo_QTObj* Kelvo_List::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new Kelvo_List(*this);
}

void Kelvo_List::initWithContainer(QTAtomContainer source) {
    if (!source) {
        _status = kKelvoNothingToWorkOn;
        return;
    }
    if (QTCountChildrenOfType(source, 0, kItemAtom) != 0) {
        _status = paramErr;
        return;
    }
    deleteObjects();
    Kelvo_Dictionary::initWithContainer(source);
}

void Kelvo_List::reset() {
    deleteObjects();
    removeAllItems();
    Kelvo_Dictionary::reset();
}

int32_t Kelvo_List::count() {
    return _container ? QTCountChildrenOfType(_container, 0, kItemAtom) : 0;
}

QTAtom Kelvo_List::FindItem(int32_t index, QTAtom parentAtom) {
    if (!_container || index < 0 || index >= count()) {
        _status = kKelvoIndexOutOfRange;
        return 0;
    }
    QTAtom atom = QTFindChildByIndex(_container, parentAtom, kItemAtom, index + 1, nullptr);
    _status = atom ? noErr : kKelvoNotFound;
    return atom;
}

Kelvo_QTObj* Kelvo_List::getItemData(QTAtom itemAtom) {
    _status = noErr;
    if (!_container || !itemAtom) {
        _status = kKelvoNotFound;
        return nullptr;
    }
    QTAtom pckg = QTFindChildByIndex(_container, itemAtom, kObjectAtom, 1, nullptr);
    if (!pckg) return nullptr;
    Kelvo_QTObj* object = nullptr;
    int32_t got = 0;
    OSErr err = QTCopyAtomDataToPtr(_container, pckg, true, sizeof object, &object, &got);
    if (err != noErr || got != int32_t(sizeof object)) {
        _status = err != noErr ? err : kKelvoNotFound;
        return nullptr;
    }
    return object;
}

void Kelvo_List::setItemData(QTAtom itemAtom, Kelvo_QTObj* object) {
    _status = noErr;
    if (!_container || !itemAtom) {
        _status = kKelvoNotFound;
        return;
    }
    if (!object) {
        _status = kKelvoBadArgumentObject;
        return;
    }
    QTAtom pckg = QTFindChildByIndex(_container, itemAtom, kObjectAtom, 1, nullptr);
    if (pckg) {
        Kelvo_QTObj* held = getItemData(itemAtom);
        if (held == object) return; // already holds it: nothing to replace or delete
        delete held;
        _status = QTSetAtomData(_container, pckg, sizeof object, &object);
        return;
    }
    _status = QTInsertChild(_container, itemAtom, kObjectAtom, 0, 1, sizeof object, &object, nullptr);
}

QTAtom Kelvo_List::NewItem(Kelvo_QTObj* object, int32_t index) {
    if (!_container) return 0;
    if (index < 0 || index > count() + 1) index = 0;
    QTAtom atom = 0;
    _status = QTInsertChild(_container, 0, kItemAtom, 0, index, 0, nullptr, &atom);
    if (atom && object) setItemData(atom, object);
    return atom;
}

void Kelvo_List::deleteObjects() {
    if (!_container) return;
    int32_t n = count();
    for (int32_t i = 0; i < n; ++i) {
        QTAtom item = QTFindChildByIndex(_container, 0, kItemAtom, i + 1, nullptr);
        QTAtom pckg = item ? QTFindChildByIndex(_container, item, kObjectAtom, 1, nullptr) : 0;
        if (!pckg) continue;
        Kelvo_QTObj* object = getItemData(item);
        delete object;
        // Forget the address at once, so that nothing can reach the deleted object.
        QTRemoveAtom(_container, pckg);
    }
}

void Kelvo_List::removeAllItems() {
    if (!_container) return;
    while (QTAtom item = QTFindChildByIndex(_container, 0, kItemAtom, 1, nullptr))
        QTRemoveAtom(_container, item);
}

void Kelvo_List::appendClonesOf(Kelvo_List& other) {
    int32_t n = other.count();
    for (int32_t i = 0; i < n; ++i) {
        Kelvo_QTObj* copy = other.getObjValue(i);
        if (copy) NewItem(copy, 0);
    }
}

void Kelvo_List::copy(Kelvo_QTObj& source) {
    if (&source == this || !source.isA("Kelvo_List")) return;
    deleteObjects();
    removeAllItems();
    appendClonesOf(static_cast<Kelvo_List&>(source));
}

Kelvo_QTObj* Kelvo_List::getObjValueByRef(int32_t key) {
    QTAtom item = FindItem(key, 0);
    return item ? getItemData(item) : nullptr;
}

Kelvo_QTObj* Kelvo_List::getObjValue(int32_t key) {
    Kelvo_QTObj* object = getObjValueByRef(key);
    return object ? object->clone() : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Kelvo_QTObjectsList

Kelvo_QTObj* Kelvo_QTObjectsList::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new Kelvo_QTObjectsList(*this);
}

bool Kelvo_QTObjectsList::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_List::isA(name) || std::strcmp(name, "Kelvo_QTObjectsList") == 0;
}

bool Kelvo_QTObjectsList::checkObjectToAdd(Kelvo_QTObj* object) {
    if (object) return true;
    _status = kKelvoBadArgumentObject;
    return false;
}

void Kelvo_QTObjectsList::addObjValue(Kelvo_QTObj* object) {
    if (!checkObjectToAdd(object)) return;
    Kelvo_QTObj* copy = object->clone();
    if (!copy) {
        // An object that cannot be cloned adds no empty item.
        _status = kKelvoBadArgumentObject;
        return;
    }
    if (!NewItem(copy, 0)) delete copy;
}

void Kelvo_QTObjectsList::addObjValueByRef(Kelvo_QTObj* object) {
    if (!checkObjectToAdd(object)) return;
    NewItem(object, 0);
}

void Kelvo_QTObjectsList::setObjValue(int32_t key, Kelvo_QTObj* object) {
    if (!checkObjectToAdd(object)) return;
    QTAtom item = FindItem(key, 0);
    if (!item) return;
    setItemData(item, object);
}

void Kelvo_QTObjectsList::RemoveKey(int32_t key) {
    QTAtom item = FindItem(key, 0);
    if (!item) return;
    delete getItemData(item);
    _status = QTRemoveAtom(_container, item);
}

void Kelvo_QTObjectsList::clear() {
    deleteObjects();
    removeAllItems();
}

Kelvo_QTObjectsList& Kelvo_QTObjectsList::operator+=(Kelvo_List& other) {
    if (!qtObjIsValid()) return *this;
    if (!other.qtObjIsValid()) {
        _status = paramErr;
        return *this;
    }
    int32_t n = other.count(); // `other` may be this list: count before appending
    for (int32_t i = 0; i < n; ++i) {
        Kelvo_QTObj* copy = other.getObjValue(i);
        if (copy) addObjValueByRef(copy);
    }
    return *this;
}

Kelvo_QTObjectsList* Kelvo_QTObjectsList::operator+(Kelvo_List& other) {
    auto* sum = new Kelvo_QTObjectsList();
    if (sum->qtObjIsValid()) {
        *sum += *this;
        *sum += other;
    }
    if (!sum->qtObjIsValid()) {
        _status = sum->Error();
        delete sum;
        return nullptr;
    }
    return sum;
}
