#include "KelvoDicomDataTree.h"

#include "KelvoDicomDataImagePixel.h"
#include "KelvoDicomDataSetViews.h"
#include "KelvoDicomImageIcon.h"
#include "KelvoDicomStream.h"
#include "KelvoDicomUtils.h"
#include "PlatformErrors.h"

#include <cstring>
#include <memory>

namespace {

constexpr const char* kDirectoryClass = "1.2.840.10008.1.3.10";

// Key() answers a group's id as stored, which is 'NGEZ' for group 0000; taking that id back as
// group 0000 lets every key Key() gives reach its group.
int32_t groupKey(int32_t key) {
    return key == kDicomZeroID ? 0 : key;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Tree

KelvoDicomDataTree::KelvoDicomDataTree() {
    if (_container && _status == 0) _header = new KelvoDicomDataHeader();
}

KelvoDicomDataTree::KelvoDicomDataTree(const char* path) : KelvoDicomDataTree() {
    if (_container) readFrom(path);
}

void KelvoDicomDataTree::readFrom(const char* path) {
    KelvoDicomInputFileBinary in(path);
    in >> *this;
    _status = in.Error();
    _readError = _status;
    if (qtObjIsValid() && path) _path = path;
}

KelvoDicomDataTree::KelvoDicomDataTree(const KelvoDicomDataTree& other)
    : Kelvo_Dictionary(other), _thumbnails(other._thumbnails), _readError(other._readError) {
    if (!_container || !const_cast<KelvoDicomDataTree&>(other).qtObjIsValid()) return;
    if (other._header) _header = new KelvoDicomDataHeader(*other._header);
    _path = other._path;
    if (other._pixelData && other._pixelData->isA("KelvoDicomPixelData"))
        _pixelData = new KelvoDicomPixelData(*static_cast<KelvoDicomPixelData*>(other._pixelData));
}

KelvoDicomDataTree& KelvoDicomDataTree::operator=(const KelvoDicomDataTree& other) {
    if (&other != this) Copy(other.Dictionary());
    return *this;
}

KelvoDicomDataTree::~KelvoDicomDataTree() {
    delete _header;
    delete _pixelData;
}

KelvoDicomDataTree* KelvoDicomDataTree::openFile(const char* path) {
    KelvoDicomInputFileBinary in(path);
    std::unique_ptr<KelvoDicomDataHeader> header(in.readHeader());
    if (!header) return nullptr;
    char sop[80] = {};
    header->getStringValueProperty(0x0002, sop, sizeof sop);
    if (DicomUtils_IsFileDicomDirectory(sop)) return new KelvoDicomDirectoryDocument(path);
    return new KelvoDicomDocument(path);
}

bool KelvoDicomDataTree::qtObjIsValid() {
    return _container && _header && _header->qtObjIsValid();
}

Kelvo_QTObj* KelvoDicomDataTree::clone() {
    return qtObjIsValid() ? new KelvoDicomDataTree(*this) : nullptr;
}

bool KelvoDicomDataTree::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_Dictionary::isA(name) || std::strcmp(name, "KelvoDicomDataTree") == 0;
}

QTAtom KelvoDicomDataTree::FindItem(int32_t key, QTAtom parentAtom) {
    key = groupKey(key);
    QTAtom atom = _container && key >= 0 && key <= 0xFFFF
                      ? QTFindChildByID(_container, parentAtom, kDicomGroupAtom,
                                        DicmUtils_AtomIDForNumber(uint16_t(key)), nullptr)
                      : 0;
    if (!atom) _status = kKelvoNotFound;
    return atom;
}

int32_t KelvoDicomDataTree::Key(int16_t index) {
    QTAtom atom =
        _container && index >= 0 ? QTFindChildByIndex(_container, 0, kDicomGroupAtom, index + 1, nullptr) : 0;
    if (!atom) {
        _status = paramErr;
        return 0;
    }
    return DicmUtils_AtomID(_container, atom);
}

Kelvo_QTObj* KelvoDicomDataTree::getObjValue(int32_t key) {
    if (!qtObjIsValid()) return nullptr;
    QTAtom atom = FindItem(key, 0);
    if (!atom) return nullptr;
    Kelvo_AtomCoord coord(_container, atom);
    int32_t status = 0;
    KelvoDicomDataSet* set = DicmUtils_DataSetFactory(coord, status);
    if (!set) _status = status;
    return set;
}

int32_t KelvoDicomDataTree::newKeyIndex(int32_t key, QTAtom parent) {
    const int32_t target = DicmUtils_AtomIDForNumber(uint16_t(key));
    int32_t n = QTCountChildrenOfType(_container, parent, kDicomGroupAtom);
    for (int32_t i = 1; i <= n; ++i)
        if (DicmUtils_AtomID(_container,
                             QTFindChildByIndex(_container, parent, kDicomGroupAtom, i, nullptr)) > target)
            return i;
    return 0;
}

QTAtom KelvoDicomDataTree::newKeyAtom(int32_t key, QTAtom parent) {
    int32_t index = newKeyIndex(key, parent);
    return index ? QTFindChildByIndex(_container, parent, kDicomGroupAtom, index, nullptr) : 0;
}

void KelvoDicomDataTree::setObjValue(int32_t key, Kelvo_QTObj* value) {
    key = groupKey(key);
    if (!_container || !value || !value->qtObjIsValid() || !value->isA("KelvoDicomDataSet") || key < 0 ||
        key > 0xFFFF) {
        _status = kKelvoUnacceptedValue;
        return;
    }
    auto* set = static_cast<KelvoDicomDataSet*>(value);
    QTAtom atom =
        QTFindChildByID(_container, 0, kDicomGroupAtom, DicmUtils_AtomIDForNumber(uint16_t(key)), nullptr);
    if (!atom) {
        _status =
            QTInsertChildBeforeAtom(_container, 0, kDicomGroupAtom, DicmUtils_AtomIDForNumber(uint16_t(key)),
                                    newKeyAtom(key, 0), 0, nullptr, &atom);
        if (_status != noErr) return;
    }
    _status = QTReplaceAtom(_container, atom, set->Dictionary(), set->getRootOfItems());
}

KelvoDicomDataNode* KelvoDicomDataTree::getKeys() {
    auto* keys = new KelvoDicomDataNode("US");
    int32_t n = _container ? QTCountChildrenOfType(_container, 0, kDicomGroupAtom) : 0;
    for (int32_t i = 1; i <= n; ++i)
        keys->usValueSet(DicmUtils_NumberForAtomID(DicmUtils_AtomID(
                             _container, QTFindChildByIndex(_container, 0, kDicomGroupAtom, i, nullptr))),
                         -1);
    return keys;
}

Kelvo_QTObjectsList* KelvoDicomDataTree::values() {
    if (!qtObjIsValid() || empty()) return nullptr;
    auto* list = new Kelvo_QTObjectsList();
    QTAtom child = 0;
    while (QTNextChildAnyType(_container, 0, child, &child) == noErr && child) {
        QTAtomType type = 0;
        QTGetAtomTypeAndID(_container, child, &type, nullptr);
        if (type != kDicomGroupAtom) {
            _status = invalidAtomTypeErr;
            continue;
        }
        Kelvo_AtomCoord coord(_container, child);
        int32_t status = 0;
        KelvoDicomDataSet* set = DicmUtils_DataSetFactory(coord, status);
        if (set)
            list->addObjValueByRef(set);
        else
            _status = status;
    }
    return list;
}

void KelvoDicomDataTree::values(Kelvo_List* list) {
    for (int32_t i = 0; list && i < list->count(); ++i) {
        Kelvo_QTObj* entry = list->getObjValueByRef(i);
        if (entry && entry->isA("KelvoDicomDataSet"))
            setObjValue(static_cast<KelvoDicomDataSet*>(entry)->groupID(), entry);
    }
}

void KelvoDicomDataTree::_addThumbnailEntry(QTAtom atom) {
    _thumbnails.longValueSet(atom, -1);
}

int32_t KelvoDicomDataTree::thumbnailsCount() {
    return _thumbnails.valueCount();
}

Kelvo_QTObjectsList* KelvoDicomDataTree::thumbnails() {
    const int32_t n = _thumbnails.valueCount();
    if (n <= 0) return nullptr;
    auto* list = new Kelvo_QTObjectsList();
    for (int32_t i = 0; i < n; ++i)
        list->addObjValueByRef(new KelvoDicomImageIcon(_container, _thumbnails.longValue(i)));
    int32_t status = 0;
    if (!Kelvo_QTObj::isValidInstance(list, status, true)) {
        _status = status;
        delete list;
        return nullptr;
    }
    return list;
}

KelvoDicomImageIcon* KelvoDicomDataTree::thumbnail(int32_t index) {
    const int32_t n = _thumbnails.valueCount();
    if (!qtObjIsValid() || n <= 0) return nullptr;
    const QTAtom atom = index >= 0 && index < n ? _thumbnails.longValue(index) : 0;
    if (atom == 0) {
        _status = paramErr;
        return nullptr;
    }
    auto* icon = new KelvoDicomImageIcon(_container, atom);
    if (!icon->qtObjIsValid()) {
        // An icon that could not be made is never handed out, whatever its status says.
        _status = icon->Error() ? icon->Error() : paramErr;
        delete icon;
        return nullptr;
    }
    return icon;
}

void KelvoDicomDataTree::pixelData(KelvoDicomDataChunks* chunks) {
    if (chunks == _pixelData) return;
    delete _pixelData;
    _pixelData = chunks;
}

KelvoDicomDataHeader* KelvoDicomDataTree::Header() const {
    if (!const_cast<KelvoDicomDataTree*>(this)->qtObjIsValid()) return nullptr;
    return new KelvoDicomDataHeader(*_header);
}

void KelvoDicomDataTree::Header(KelvoDicomDataHeader* header) {
    if (!header || !header->qtObjIsValid()) {
        _status = paramErr;
        return;
    }
    delete _header;
    _header = new KelvoDicomDataHeader(*header);
}

void KelvoDicomDataTree::_anonymizeData(KelvoDicomDataTree& target) {
    if (!target.qtObjIsValid()) {
        _status = paramErr;
        return;
    }
    int32_t n = QTCountChildrenOfType(target.Dictionary(), 0, kDicomGroupAtom);
    for (int32_t i = 1; i <= n; ++i) {
        Kelvo_AtomCoord coord(target.Dictionary(),
                              QTFindChildByIndex(target.Dictionary(), 0, kDicomGroupAtom, i, nullptr));
        int32_t status = 0;
        std::unique_ptr<KelvoDicomDataSet> set(DicmUtils_DataSetFactory(coord, status));
        if (!set) continue;
        status = set->anonymize();
        target.setObjValue(set->groupID(), set.get());
        if (status == 0) status = target.Error();
        if (status != 0) {
            _status = DicmUtils_PublicStatus(status);
            return;
        }
    }
}

KelvoDicomDataTree* KelvoDicomDataTree::anonymize() {
    auto* copy = static_cast<KelvoDicomDataTree*>(clone());
    if (!copy) return nullptr;
    _anonymizeData(*copy);
    return copy;
}

void KelvoDicomDataTree::_writeToStream(KelvoDicomOutputFile& out) {
    if (!qtObjIsValid()) return;
    if (!out.qtObjIsValid()) {
        _status = kKelvoBadArgumentObject;
        return;
    }
    out << *this;
    _status = DicmUtils_PublicStatus(out.Error());
}

void KelvoDicomDataTree::toTextFile(const char* path) {
    KelvoDicomOutputFileText out(path);
    _writeToStream(out);
}

void KelvoDicomDataTree::toXmlFile(const char* path) {
    KelvoDicomOutputFileXml out(path);
    _writeToStream(out);
}

// ---------------------------------------------------------------------------------------------
// Document

bool KelvoDicomDocument::qtObjIsValid() {
    if (!KelvoDicomDataTree::qtObjIsValid()) return false;
    char sop[80] = {};
    _header->getStringValueProperty(0x0002, sop, sizeof sop);
    if (DicomUtils_IsFileDicomDirectory(sop)) {
        _status = 113;
        return false;
    }
    return true;
}

Kelvo_QTObj* KelvoDicomDocument::clone() {
    return qtObjIsValid() ? new KelvoDicomDocument(*this) : nullptr;
}

bool KelvoDicomDocument::isA(const char* name) const {
    if (!name) return false;
    return KelvoDicomDataTree::isA(name) || std::strcmp(name, "KelvoDicomDocument") == 0;
}

void KelvoDicomDocument::setObjValue(int32_t key, Kelvo_QTObj* value) {
    if (key == 0x0004) {
        _status = kKelvoUnacceptedValue;
        return;
    }
    KelvoDicomDataTree::setObjValue(key, value);
}

QTAtom KelvoDicomDocument::hasMedia() {
    for (auto [group, element] : {std::pair<uint16_t, uint16_t>{0x7FE0, 0x0010}, {0x5400, 0x1010}}) {
        QTAtom g = FindItem(group, 0);
        if (!g) continue;
        QTAtom e = QTFindChildByID(_container, g, kDicomElementAtom, element, nullptr);
        if (e) return e;
    }
    return 0;
}

KelvoDicomPixelData* KelvoDicomDocument::mediaDataSamplesInfo() {
    if (!_pixelData) {
        QTAtom media = hasMedia();
        if (media && DicmUtils_AtomID(_container, media) == 0x0010) {
            Kelvo_AtomCoord element(_container, media);
            if (_header->isDataCompressed()) {
                _pixelData = new KelvoDicomPixelData(element, 0);
            } else if (Kelvo_QTObj* view = getObjValue(0x0028)) {
                if (view->isA("KelvoDicomDataImagePixel"))
                    _pixelData = new KelvoDicomPixelData(
                        element, static_cast<KelvoDicomDataImagePixel*>(view)->size());
                delete view;
            }
        }
    }
    if (_pixelData && _pixelData->isA("KelvoDicomPixelData"))
        return new KelvoDicomPixelData(*static_cast<KelvoDicomPixelData*>(_pixelData));
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Directory document

KelvoDicomDirectoryDocument::KelvoDicomDirectoryDocument() {
    _headerCheck(_header);
    KelvoDicomDataFileSet fileSet;
    KelvoDicomDataItemGroup records(0x1220);
    fileSet.Directory(&records);
    fileSet.setULValueProperty(0x1200, 0);
    fileSet.setULValueProperty(0x1202, 0);
    KelvoDicomDataTree::setObjValue(0x0004, &fileSet);
}

bool KelvoDicomDirectoryDocument::_headerCheck(KelvoDicomDataHeader* header) {
    if (!header || !header->qtObjIsValid()) return false;
    header->setStringValueProperty(0x0002, kDirectoryClass);
    header->XFerSyntax(const_cast<char*>("1.2.840.10008.1.2.1"));
    return true;
}

bool KelvoDicomDirectoryDocument::qtObjIsValid() {
    if (!KelvoDicomDataTree::qtObjIsValid()) return false;
    char sop[80] = {};
    _header->getStringValueProperty(0x0002, sop, sizeof sop);
    if (!DicomUtils_IsFileDicomDirectory(sop)) {
        _status = 113;
        return false;
    }
    return true;
}

Kelvo_QTObj* KelvoDicomDirectoryDocument::clone() {
    return qtObjIsValid() ? new KelvoDicomDirectoryDocument(*this) : nullptr;
}

bool KelvoDicomDirectoryDocument::isA(const char* name) const {
    if (!name) return false;
    return KelvoDicomDataTree::isA(name) || std::strcmp(name, "KelvoDicomDirectoryDocument") == 0;
}

Kelvo_QTObj* KelvoDicomDirectoryDocument::getObjValue(int32_t key) {
    return key == 0x0004 ? KelvoDicomDataTree::getObjValue(key) : nullptr;
}

void KelvoDicomDirectoryDocument::setObjValue(int32_t key, Kelvo_QTObj* value) {
    if (key == 0x0004) KelvoDicomDataTree::setObjValue(key, value);
}

void KelvoDicomDirectoryDocument::Header(KelvoDicomDataHeader* header) {
    if (!_headerCheck(header)) {
        _status = paramErr;
        return;
    }
    KelvoDicomDataTree::Header(header);
}

KelvoDicomDataFileSet* KelvoDicomDirectoryDocument::root() {
    Kelvo_QTObj* set = getObjValue(0x0004);
    if (set && !set->isA("KelvoDicomDataFileSet")) {
        delete set;
        return nullptr;
    }
    return static_cast<KelvoDicomDataFileSet*>(set);
}

void KelvoDicomDirectoryDocument::root(KelvoDicomDataFileSet* fileSet) {
    _status = 0;
    if (!qtObjIsValid()) return;
    if (!fileSet || !fileSet->qtObjIsValid()) {
        _status = kKelvoUnacceptedValue;
        return;
    }
    KelvoDicomDataTree::setObjValue(0x0004, fileSet);
}

QTAtom KelvoDicomDirectoryDocument::getRootOfItems() {
    QTAtom g = _container ? QTFindChildByID(_container, 0, kDicomGroupAtom, 0x0004, nullptr) : 0;
    return g ? QTFindChildByID(_container, g, kDicomSequenceAtom, 0x1220, nullptr) : 0;
}

KelvoDicomDataItemGroup* KelvoDicomDirectoryDocument::rootDirectory() {
    if (!qtObjIsValid()) return nullptr;
    QTAtom atom = getRootOfItems();
    return atom ? new KelvoDicomDataItemGroup(_container, atom) : nullptr;
}

void KelvoDicomDirectoryDocument::_anonymizeData(KelvoDicomDataTree& target) {
    if (!target.isA("KelvoDicomDirectoryDocument")) return;
    auto& dir = static_cast<KelvoDicomDirectoryDocument&>(target);
    std::unique_ptr<KelvoDicomDataFileSet> fileSet(dir.root());
    if (!fileSet) return;
    std::unique_ptr<Kelvo_QTObj> records(fileSet->getObjValue(0x1220));
    if (!records || !records->isA("KelvoDicomDataItemGroup")) return;
    auto* sequence = static_cast<KelvoDicomDataItemGroup*>(records.get());
    _status = DicmUtils_PublicStatus(sequence->anonymize());
    fileSet->Directory(sequence);
    dir.root(fileSet.get());
}
