#include "KelvoDicomSequence.h"

#include "KelvoDicomUtils.h"
#include "PlatformEndian.h"
#include "PlatformErrors.h"

#include <cstring>
#include <vector>

namespace {

uint32_t storedLength(QTAtomContainer c, QTAtom atom, int32_t& status) {
    qtAtomNodeHeader header{};
    int32_t s = 0;
    if (DicmUtils_NodeInfo(header, c, atom, s)) return header.length;
    status = paramErr;
    return kDicomUndefinedLength;
}

void writeLength32(FILE* file, uint32_t flags, uint32_t v) {
    uint8_t b[4];
    (flags & kDicomWriteBigEndian) ? platform::storeBE32(b, v) : platform::storeLE32(b, v);
    std::fwrite(b, 1, 4, file);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// KelvoDicomDataItem

KelvoDicomDataItem::KelvoDicomDataItem() {
    if (_container) _status = QTInsertChild(_container, 0, kDicomItemAtom, 1, 1, 0, nullptr, &_root);
}

KelvoDicomDataItem::KelvoDicomDataItem(QTAtomContainer container, QTAtom atom) {
    if (!container || DicmUtils_AtomType(container, atom) != kDicomItemAtom) {
        _status = paramErr;
        return;
    }
    if (!initWithAtom(container, atom)) return;
    _root = QTFindChildByIndex(_container, 0, kDicomItemAtom, 1, nullptr);
    _length = storedLength(container, atom, _status);
}

KelvoDicomDataItem::KelvoDicomDataItem(QTAtomContainer container, QTAtom atom, KelvoAtomView view)
    : Kelvo_Dictionary(view) {
    if (!container || DicmUtils_AtomType(container, atom) != kDicomItemAtom) {
        QTNewAtomContainer(&_container); // an empty item, as one made by default
        _status = paramErr;
        return;
    }
    borrowContainer(container);
    _root = atom;
    _length = storedLength(container, atom, _status);
}

KelvoDicomDataItem::KelvoDicomDataItem(const KelvoDicomDataItem& other)
    : Kelvo_Dictionary(other), _root(other._root), _length(other._length) {}

KelvoDicomDataItem& KelvoDicomDataItem::operator=(const KelvoDicomDataItem& other) {
    if (&other != this) Copy(other.Dictionary());
    return *this;
}

void KelvoDicomDataItem::copy(Kelvo_QTObj& source) {
    if (&source == this || !source.isA("KelvoDicomDataItem")) return;
    auto& other = static_cast<KelvoDicomDataItem&>(source);
    initWithContainer(other.Dictionary());
    if (_status != noErr) return;
    _root = QTFindChildByIndex(_container, 0, kDicomItemAtom, 1, nullptr);
    _length = other._length;
}

Kelvo_QTObj* KelvoDicomDataItem::clone() {
    return qtObjIsValid() ? new KelvoDicomDataItem(*this) : nullptr;
}

bool KelvoDicomDataItem::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_Dictionary::isA(name) || std::strcmp(name, "KelvoDicomDataItem") == 0;
}

int32_t KelvoDicomDataItem::count() {
    return _container ? QTCountChildrenOfType(_container, _root, kDicomGroupAtom) : 0;
}

void KelvoDicomDataItem::clear() {
    if (_container) _status = QTRemoveChildren(_container, _root);
}

QTAtom KelvoDicomDataItem::FindItem(int32_t group, QTAtom parentAtom) {
    if (group < 0) {
        _status = kKelvoIndexOutOfRange;
        return 0;
    }
    if (!_container) return 0;
    return QTFindChildByID(_container, parentAtom, kDicomGroupAtom,
                           DicmUtils_AtomIDForNumber(uint16_t(group)), nullptr);
}

bool KelvoDicomDataItem::HasKey(int32_t group) {
    return _container && FindItem(group, _root) != 0;
}

int32_t KelvoDicomDataItem::Key(int16_t index) {
    _status = noErr;
    QTAtom atom = _container && index >= 0
                      ? QTFindChildByIndex(_container, _root, kDicomGroupAtom, int32_t(index) + 1, nullptr)
                      : 0;
    if (!atom) {
        _status = paramErr;
        return 0;
    }
    return DicmUtils_AtomID(_container, atom);
}

KelvoDicomDataNode* KelvoDicomDataItem::getKeys() {
    auto* keys = new KelvoDicomDataNode("US");
    if (!keys->qtObjIsValid()) {
        _status = keys->Error();
        delete keys;
        return nullptr;
    }
    for (int32_t i = 1; i <= count(); ++i) {
        QTAtom atom = QTFindChildByIndex(_container, _root, kDicomGroupAtom, i, nullptr);
        keys->usValueSet(DicmUtils_NumberForAtomID(DicmUtils_AtomID(_container, atom)), -1);
    }
    return keys;
}

Kelvo_QTObj* KelvoDicomDataItem::getObjValue(int32_t group) {
    if (!qtObjIsValid()) return nullptr;
    QTAtom atom = FindItem(group, _root);
    Kelvo_AtomCoord coord(_container, atom);
    int32_t status = 0;
    KelvoDicomDataSet* set = DicmUtils_DataSetFactory(coord, status);
    if (!set) _status = status;
    return set;
}

QTAtom KelvoDicomDataItem::insertBefore(int32_t group) {
    const int32_t target = DicmUtils_AtomIDForNumber(uint16_t(group));
    for (int32_t i = 1; i <= count(); ++i) {
        QTAtom atom = QTFindChildByIndex(_container, _root, kDicomGroupAtom, i, nullptr);
        if (DicmUtils_AtomID(_container, atom) > target) return atom;
    }
    return 0;
}

void KelvoDicomDataItem::setObjValue(int32_t group, Kelvo_QTObj* object) {
    if (!object || !object->qtObjIsValid() || !object->isA("KelvoDicomDataSet") ||
        static_cast<KelvoDicomDataSet*>(object)->groupID() != group || !_container) {
        _status = paramErr;
        return;
    }
    auto* set = static_cast<KelvoDicomDataSet*>(object);
    QTAtom atom = FindItem(group, _root);
    if (!atom) {
        _status = QTInsertChildBeforeAtom(_container, _root, kDicomGroupAtom,
                                          DicmUtils_AtomIDForNumber(uint16_t(group)), insertBefore(group), 0,
                                          nullptr, &atom);
        if (_status != noErr) return;
    }
    _status = QTReplaceAtom(_container, atom, set->Dictionary(), set->getRootOfItems());
}

Kelvo_QTObjectsList* KelvoDicomDataItem::values() {
    auto* list = new Kelvo_QTObjectsList();
    for (int32_t i = 0; qtObjIsValid() && i < count(); ++i) {
        QTAtom atom = QTFindChildByIndex(_container, _root, kDicomGroupAtom, i + 1, nullptr);
        Kelvo_AtomCoord coord(_container, atom);
        int32_t status = 0;
        KelvoDicomDataSet* set = DicmUtils_DataSetFactory(coord, status);
        if (set && set->qtObjIsValid())
            list->addObjValueByRef(set);
        else
            delete set;
    }
    _status = noErr;
    return list;
}

void KelvoDicomDataItem::values(Kelvo_List* list) {
    if (!qtObjIsValid()) return;
    clear();
    for (int32_t i = 0; list && i < list->count(); ++i) {
        Kelvo_QTObj* entry = list->getObjValueByRef(i);
        if (entry && entry->isA("KelvoDicomDataSet") && entry->qtObjIsValid())
            setObjValue(static_cast<KelvoDicomDataSet*>(entry)->groupID(), entry);
    }
    _status = noErr;
}

int32_t KelvoDicomDataItem::anonymize() {
    int32_t firstError = 0;
    for (int32_t i = 1; qtObjIsValid() && i <= count(); ++i) {
        Kelvo_AtomCoord coord(_container, QTFindChildByIndex(_container, _root, kDicomGroupAtom, i, nullptr));
        int32_t status = 0;
        KelvoDicomDataSet* set = DicmUtils_DataSetFactory(coord, status);
        if (!set) continue;
        status = set->anonymize();
        setObjValue(set->groupID(), set);
        if (status == 0) status = _status;
        if (status != 0 && firstError == 0) firstError = status;
        delete set;
    }
    _status = firstError;
    return firstError;
}

void KelvoDicomDataItem::flushContent(FILE* file, dicmIOformat format, uint32_t flags) {
    if (!file || !_container) return;
    QTAtom atom = 0;
    while (QTNextChildAnyType(_container, _root, atom, &atom) == noErr && atom) {
        if (DicmUtils_AtomType(_container, atom) != kDicomGroupAtom) continue;
        KelvoDicomDataSet set(_container, atom, KelvoAtomView::borrowed);
        if (!set.qtObjIsValid() || set.Error() != 0) {
            std::fprintf(file, "Failed to parse dataset %04X \t Err Code:%ld\n",
                         unsigned(DicmUtils_AtomID(_container, atom) & 0xFFFF), long(set.Error()));
            continue;
        }
        if (format == dicmIOformatBinary)
            set.flushToBinary(file, &flags);
        else if (format == dicmIOformatXML)
            set.flushToXml(file, 0);
        else if (format == dicmIOformatText)
            set.flushToText(file, 0);
    }
}

void KelvoDicomDataItem::flushToText(FILE* file, QTAtom) {
    if (!file) {
        _status = paramErr;
        return;
    }
    std::fprintf(file, "[Item id=%04X vr=na count=%lu length=%lu]\n", 0xFFFEu, (unsigned long)count(),
                 (unsigned long)_length);
    flushContent(file, dicmIOformatText, 0);
    std::fputs("[Item End]\n", file);
}

void KelvoDicomDataItem::flushToXml(FILE* file, QTAtom) {
    if (!file) {
        _status = paramErr;
        return;
    }
    std::fprintf(file, "<Item id=\"%04X\" vr=\"na\" count=\"%lu\" length=\"%lu\">\n", 0xFFFEu,
                 (unsigned long)count(), (unsigned long)_length);
    flushContent(file, dicmIOformatXML, 0);
    std::fputs("</Item>\n", file);
}

// Items are written with undefined length and a delimiter, so that the length is right whatever
// encoding the content takes; an item without data sets has length 0.
void KelvoDicomDataItem::flushToBinary(FILE* file, const void* flags) {
    if (!file) {
        _status = paramErr;
        return;
    }
    uint32_t f = flags ? *static_cast<const uint32_t*>(flags) : 0;
    uint32_t length = count() == 0 ? 0 : kDicomUndefinedLength;
    DicomUtils_WriteItemStart(file, int32_t(f), &length);
    if (length == 0) return;
    flushContent(file, dicmIOformatBinary, f);
    DicomUtils_WriteEndofDelimiter(file, int32_t(f), 0xE00D);
}

uint64_t KelvoDicomDataItem::binarySize(uint32_t flags) {
    if (count() == 0) return 8;
    uint64_t size = 8 + 8;
    QTAtom child = 0;
    while (QTNextChildAnyType(_container, _root, child, &child) == noErr && child) {
        if (DicmUtils_AtomType(_container, child) != kDicomGroupAtom) continue;
        KelvoDicomDataSet set(_container, child, KelvoAtomView::borrowed);
        if (!set.qtObjIsValid() || set.Error() != 0) continue;
        size += set.binaryContentSize(flags);
        if (flags & kDicomWriteGroupLength) size += 12; // tag, header and the UL value
    }
    return size;
}

// ---------------------------------------------------------------------------------------------
// KelvoDicomDataItemGroup

KelvoDicomDataItemGroup::KelvoDicomDataItemGroup() : KelvoDicomDataItemGroup(uint16_t(0)) {}

KelvoDicomDataItemGroup::KelvoDicomDataItemGroup(uint16_t element) : _element(element) {
    if (_container)
        _status = QTInsertChild(_container, 0, kDicomSequenceAtom, DicmUtils_AtomIDForNumber(element), 1, 0,
                                nullptr, &_root);
}

KelvoDicomDataItemGroup::KelvoDicomDataItemGroup(QTAtomContainer container, QTAtom atom) {
    if (!container || DicmUtils_AtomType(container, atom) != kDicomSequenceAtom) {
        _status = paramErr;
        return;
    }
    if (!initWithAtom(container, atom)) return;
    _root = QTFindChildByIndex(_container, 0, kDicomSequenceAtom, 1, nullptr);
    _element = uint16_t(DicmUtils_AtomID(container, atom));
    _length = storedLength(container, atom, _status);
}

KelvoDicomDataItemGroup::KelvoDicomDataItemGroup(QTAtomContainer container, QTAtom atom, KelvoAtomView view)
    : Kelvo_Dictionary(view) {
    if (!container || DicmUtils_AtomType(container, atom) != kDicomSequenceAtom) {
        QTNewAtomContainer(&_container); // an empty sequence, as one made by default
        _status = paramErr;
        return;
    }
    borrowContainer(container);
    _root = atom;
    _element = uint16_t(DicmUtils_AtomID(container, atom));
    _length = storedLength(container, atom, _status);
}

KelvoDicomDataItemGroup::KelvoDicomDataItemGroup(const KelvoDicomDataItemGroup& other)
    : Kelvo_Dictionary(other), _root(other._root), _element(other._element), _length(other._length) {}

KelvoDicomDataItemGroup& KelvoDicomDataItemGroup::operator=(const KelvoDicomDataItemGroup& other) {
    if (&other != this) Copy(other.Dictionary());
    return *this;
}

void KelvoDicomDataItemGroup::copy(Kelvo_QTObj& source) {
    if (&source == this || !source.isA("KelvoDicomDataItemGroup")) return;
    auto& other = static_cast<KelvoDicomDataItemGroup&>(source);
    initWithContainer(other.Dictionary());
    if (_status != noErr) return;
    _root = QTFindChildByIndex(_container, 0, kDicomSequenceAtom, 1, nullptr);
    _element = other._element;
    _length = other._length;
}

Kelvo_QTObj* KelvoDicomDataItemGroup::clone() {
    return qtObjIsValid() ? new KelvoDicomDataItemGroup(*this) : nullptr;
}

bool KelvoDicomDataItemGroup::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_Dictionary::isA(name) || std::strcmp(name, "KelvoDicomDataItemGroup") == 0;
}

int32_t KelvoDicomDataItemGroup::count() {
    return _container ? QTCountChildrenOfType(_container, _root, kDicomItemAtom) : 0;
}

void KelvoDicomDataItemGroup::clear() {
    if (!_container) return;
    // Items go; the sequence's own header stays.
    while (QTAtom item = QTFindChildByIndex(_container, _root, kDicomItemAtom, 1, nullptr))
        QTRemoveAtom(_container, item);
}

QTAtom KelvoDicomDataItemGroup::FindItem(int32_t key, QTAtom parentAtom) {
    if (key < 0) {
        _status = kKelvoIndexOutOfRange;
        return 0;
    }
    if (!_container || key == 0) return 0;
    return QTFindChildByIndex(_container, parentAtom, kDicomItemAtom, key, nullptr);
}

int32_t KelvoDicomDataItemGroup::Key(int16_t index) {
    return index < 0 || index >= count() ? 0 : index + 1;
}

bool KelvoDicomDataItemGroup::HasKey(int32_t key) {
    return FindItem(key, _root) != 0;
}

OSErr KelvoDicomDataItemGroup::elementID(uint16_t element) {
    if (!qtObjIsValid() || element == 0) return paramErr;
    OSErr err = QTSetAtomID(_container, _root, element);
    if (err == noErr) _element = element;
    return err;
}

Kelvo_QTObj* KelvoDicomDataItemGroup::getObjValue(int32_t index) {
    if (!qtObjIsValid()) return nullptr;
    QTAtom atom = FindItem(index, _root);
    return atom ? new KelvoDicomDataItem(_container, atom) : nullptr;
}

void KelvoDicomDataItemGroup::setObjValue(int32_t index, Kelvo_QTObj* object) {
    if (!qtObjIsValid() || !object || !object->qtObjIsValid() || !object->isA("KelvoDicomDataItem")) {
        _status = paramErr;
        return;
    }
    auto* item = static_cast<KelvoDicomDataItem*>(object);
    QTAtom atom = index >= 1 ? FindItem(index, _root) : 0;
    if (!atom) {
        int32_t n = count();
        int32_t at = index >= 1 && index <= n ? index : 0;
        _status = QTInsertChild(_container, _root, kDicomItemAtom, 0, at, 0, nullptr, &atom);
        if (_status != noErr) return;
    }
    _status = QTReplaceAtom(_container, atom, item->Dictionary(), item->getRootOfItems());
}

Kelvo_QTObjectsList* KelvoDicomDataItemGroup::values() {
    auto* list = new Kelvo_QTObjectsList();
    for (int32_t i = 1; qtObjIsValid() && i <= count(); ++i) {
        auto* item = new KelvoDicomDataItem(_container, FindItem(i, _root));
        if (item->qtObjIsValid()) {
            list->addObjValueByRef(item);
        } else {
            _status = item->Error();
            delete item;
        }
    }
    return list;
}

void KelvoDicomDataItemGroup::values(Kelvo_List* list) {
    if (!qtObjIsValid()) return;
    clear();
    for (int32_t i = 0; list && i < list->count(); ++i) {
        Kelvo_QTObj* entry = list->getObjValueByRef(i);
        if (entry && entry->isA("KelvoDicomDataItem")) setObjValue(0, entry);
    }
}

int32_t KelvoDicomDataItemGroup::anonymize() {
    int32_t firstError = 0;
    for (int32_t i = 1; qtObjIsValid() && i <= count(); ++i) {
        KelvoDicomDataItem item(_container, FindItem(i, _root));
        if (!item.qtObjIsValid()) continue;
        int32_t status = item.anonymize();
        setObjValue(i, &item);
        if (status == 0) status = _status;
        if (status != 0 && firstError == 0) firstError = status;
    }
    _status = firstError;
    return firstError;
}

void KelvoDicomDataItemGroup::flushContent(FILE* file, dicmIOformat format, uint32_t flags) {
    if (!file || !_container) return;
    QTAtom child = 0;
    while (QTNextChildAnyType(_container, _root, child, &child) == noErr && child) {
        if (DicmUtils_AtomType(_container, child) != kDicomItemAtom) continue;
        KelvoDicomDataItem item(_container, child, KelvoAtomView::borrowed);
        if (!item.qtObjIsValid()) continue;
        if (format == dicmIOformatBinary)
            item.flushToBinary(file, &flags);
        else if (format == dicmIOformatXML)
            item.flushToXml(file, 0);
        else if (format == dicmIOformatText)
            item.flushToText(file, 0);
    }
}

void KelvoDicomDataItemGroup::flushToText(FILE* file, QTAtom) {
    if (!file) {
        _status = paramErr;
        return;
    }
    std::fprintf(file, "[Sequence id=%04X vr=SQ count=%lu length=%lu]\n", unsigned(_element),
                 (unsigned long)count(), (unsigned long)_length);
    flushContent(file, dicmIOformatText, 0);
    std::fputs("[Sequence End]\n", file);
}

void KelvoDicomDataItemGroup::flushToXml(FILE* file, QTAtom) {
    if (!file) {
        _status = paramErr;
        return;
    }
    std::fprintf(file, "<Sequence id=\"%04X\" vr=\"SQ\" count=\"%lu\" length=\"%lu\">\n", unsigned(_element),
                 (unsigned long)count(), (unsigned long)_length);
    flushContent(file, dicmIOformatXML, 0);
    std::fputs("</Sequence>\n", file);
}

// Sequences are written with undefined length and a delimiter, whatever length they had in their
// file, so that the length is right for what is written; a sequence without items has length 0.
void KelvoDicomDataItemGroup::flushToBinary(FILE* file, const void* flags) {
    if (!file) {
        _status = paramErr;
        return;
    }
    uint32_t f = flags ? *static_cast<const uint32_t*>(flags) : 0;
    if (!(f & kDicomWriteImplicitVR)) std::fwrite("SQ\0\0", 1, 4, file);
    uint32_t length = count() == 0 ? 0 : kDicomUndefinedLength;
    writeLength32(file, f, length);
    if (length == 0) return;
    flushContent(file, dicmIOformatBinary, f);
    DicomUtils_WriteEndofDelimiter(file, int32_t(f), 0xE0DD);
}

uint64_t KelvoDicomDataItemGroup::binarySize(uint32_t flags) {
    uint64_t size = (flags & kDicomWriteImplicitVR) ? 4 : 8;
    if (count() == 0) return size;
    QTAtom child = 0;
    while (QTNextChildAnyType(_container, _root, child, &child) == noErr && child) {
        if (DicmUtils_AtomType(_container, child) != kDicomItemAtom) continue;
        KelvoDicomDataItem item(_container, child, KelvoAtomView::borrowed);
        if (item.qtObjIsValid()) size += item.binarySize(flags);
    }
    return size + 8;
}
