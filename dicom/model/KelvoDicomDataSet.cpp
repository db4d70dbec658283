#include "KelvoDicomDataSet.h"

#include "KelvoDicomDataElements.h"
#include "KelvoDicomDictionaries.h"
#include "KelvoDicomSequence.h"
#include "KelvoDicomUtils.h"
#include "PlatformEndian.h"
#include "PlatformErrors.h"

#include <cstring>
#include <vector>

namespace {

// The first two characters of a representation (fewer when it is shorter), terminated.
void copyVR(char (&out)[3], const char* vr) {
    out[0] = vr ? vr[0] : 0;
    out[1] = out[0] ? vr[1] : 0;
    out[2] = 0;
}

int32_t atomID(int32_t key) {
    return DicmUtils_AtomIDForNumber(uint16_t(key));
}

bool isElementOrSequence(QTAtomType t) {
    return t == kDicomElementAtom || t == kDicomSequenceAtom;
}

void standardVR(uint16_t group, uint16_t element, char vr[3]) {
    vr[0] = vr[1] = vr[2] = 0;
    VUX::VUXDCM::VUXDicomLibrary::vrOfStdDataElement(dataElementTagRecord{group, element}, vr);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Construction

KelvoDicomDataSet::KelvoDicomDataSet() : KelvoDicomDataSet(uint16_t(0)) {}

KelvoDicomDataSet::KelvoDicomDataSet(uint16_t group) : _group(group) {
    if (!_container) return;
    _status = QTInsertChild(_container, 0, kDicomGroupAtom, DicmUtils_AtomIDForNumber(group), 1, 0, nullptr,
                            &_root);
}

KelvoDicomDataSet::KelvoDicomDataSet(QTAtomContainer container, QTAtom atom) {
    initFromAtom(container, atom);
}

void KelvoDicomDataSet::initFromAtom(QTAtomContainer container, QTAtom atom) {
    if (!container) {
        _status = paramErr;
        return;
    }
    QTAtomType type = 0;
    QTAtomID id = 0;
    if (QTGetAtomTypeAndID(container, atom, &type, &id) != noErr || type != kDicomGroupAtom) {
        _status = invalidAtomTypeErr;
        return;
    }
    _group = DicmUtils_NumberForAtomID(id);
    if (initWithAtom(container, atom)) _root = QTFindChildByIndex(_container, 0, kDicomGroupAtom, 1, nullptr);
}

KelvoDicomDataSet::KelvoDicomDataSet(QTAtomContainer container, QTAtom atom, KelvoAtomView view)
    : Kelvo_Dictionary(view) {
    QTAtomType type = 0;
    QTAtomID id = 0;
    if (!container || QTGetAtomTypeAndID(container, atom, &type, &id) != noErr || type != kDicomGroupAtom) {
        QTNewAtomContainer(&_container); // an empty set, as one made by default
        _status = container ? int32_t(invalidAtomTypeErr) : int32_t(paramErr);
        return;
    }
    _group = DicmUtils_NumberForAtomID(id);
    borrowContainer(container);
    _root = atom;
}

// A whole copy keeps every reference, so a copy of a view keeps the view's atom.
KelvoDicomDataSet::KelvoDicomDataSet(const KelvoDicomDataSet& other)
    : Kelvo_Dictionary(other), _group(other._group) {
    _root = !_container        ? 0
            : other.borrowed() ? other._root
                               : QTFindChildByIndex(_container, 0, kDicomGroupAtom, 1, nullptr);
}

KelvoDicomDataSet& KelvoDicomDataSet::operator=(const KelvoDicomDataSet& other) {
    if (&other != this) {
        Copy(other.Dictionary());
        _group = other._group;
        _root = !_container        ? 0
                : other.borrowed() ? other._root
                                   : QTFindChildByIndex(_container, 0, kDicomGroupAtom, 1, nullptr);
    }
    return *this;
}

KelvoDicomDataSet::~KelvoDicomDataSet() = default;

void KelvoDicomDataSet::copy(Kelvo_QTObj& source) {
    if (&source == this || !source.isA("KelvoDicomDataSet")) return;
    auto& other = static_cast<KelvoDicomDataSet&>(source);
    initWithContainer(other.Dictionary());
    if (_status != noErr) return;
    _group = other._group;
    _root = QTFindChildByIndex(_container, 0, kDicomGroupAtom, 1, nullptr);
}

Kelvo_QTObj* KelvoDicomDataSet::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new KelvoDicomDataSet(*this);
}

bool KelvoDicomDataSet::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_Dictionary::isA(name) || std::strcmp(name, "KelvoDicomDataSet") == 0;
}

// ---------------------------------------------------------------------------------------------
// Keys

QTAtom KelvoDicomDataSet::FindItem(int32_t key, QTAtom parentAtom) {
    if (key < 0) {
        _status = kKelvoIndexOutOfRange;
        return 0;
    }
    if (!_container) return 0;
    QTAtom atom = QTFindChildByID(_container, parentAtom, kDicomElementAtom, atomID(key), nullptr);
    if (!atom) atom = QTFindChildByID(_container, parentAtom, kDicomSequenceAtom, atomID(key), nullptr);
    return atom;
}

bool KelvoDicomDataSet::HasKey(int32_t key) {
    return _container && FindItem(key, _root) != 0;
}

void KelvoDicomDataSet::RemoveKey(int32_t key) {
    if (!_container) return;
    QTAtom atom = FindItem(key, _root);
    if (atom) _status = QTRemoveAtom(_container, atom);
}

int32_t KelvoDicomDataSet::Key(int16_t index) {
    if (!_container || index < 0) return 0;
    QTAtom child = 0;
    for (int32_t i = 0; i <= index; ++i) {
        _status = QTNextChildAnyType(_container, _root, child, &child);
        if (_status != noErr || !child) return 0;
    }
    return DicmUtils_AtomID(_container, child);
}

int32_t KelvoDicomDataSet::count() {
    if (!_container) return 0;
    return QTCountChildrenOfType(_container, _root, kDicomElementAtom) +
           QTCountChildrenOfType(_container, _root, kDicomSequenceAtom);
}

KelvoDicomDataNode* KelvoDicomDataSet::getKeys() {
    auto* keys = new KelvoDicomDataNode("US");
    if (!keys->qtObjIsValid()) {
        _status = keys->Error();
        delete keys;
        return nullptr;
    }
    QTAtom child = 0;
    while (_container && QTNextChildAnyType(_container, _root, child, &child) == noErr && child) {
        if (!isElementOrSequence(DicmUtils_AtomType(_container, child))) continue;
        keys->usValueSet(DicmUtils_NumberForAtomID(DicmUtils_AtomID(_container, child)), -1);
    }
    return keys;
}

// Elements and sequences are kept in tag order, so the place of a new one is a binary search over
// the children by position (other atoms in between are stepped over). Adding in tag order, the
// usual way, answers from the last child at once.
QTAtom KelvoDicomDataSet::insertBefore(int32_t key) {
    const int32_t target = atomID(key);
    _status = noErr;
    if (!_container) return 0;
    const int32_t n = QTCountChildren(_container, _root);
    // The element or sequence at `index` or after it, before `end`, and its position; 0 when none.
    auto keyAt = [&](int32_t index, int32_t end, int32_t& at) -> QTAtom {
        for (at = index; at < end; ++at) {
            QTAtom child = QTFindChildByIndex(_container, _root, 0, at, nullptr);
            if (child && isElementOrSequence(DicmUtils_AtomType(_container, child))) return child;
        }
        return 0;
    };
    if (n == 0) return 0;
    int32_t at = 0;
    QTAtom last = QTFindChildByIndex(_container, _root, 0, n, nullptr);
    if (last && isElementOrSequence(DicmUtils_AtomType(_container, last)) &&
        DicmUtils_AtomID(_container, last) < target)
        return 0;
    int32_t lo = 1, hi = n + 1;
    QTAtom best = 0;
    while (lo < hi) {
        const int32_t mid = lo + (hi - lo) / 2;
        QTAtom child = keyAt(mid, hi, at);
        if (!child) {
            hi = mid;
        } else if (DicmUtils_AtomID(_container, child) > target) {
            best = child;
            hi = mid;
        } else {
            lo = at + 1;
        }
    }
    return best;
}

// ---------------------------------------------------------------------------------------------
// Typed access

void KelvoDicomDataSet::getProperty(uint16_t element, KelvoDicomDataNode& node) {
    node.defaultStatus();
    if (!_container) return;
    QTAtom atom = FindItem(element, _root);
    if (!atom) {
        _status = kKelvoNotFound;
        return;
    }
    qtAtomNodeHeader header;
    int32_t status = 0;
    if (!DicmUtils_NodeInfo(header, _container, atom, status)) {
        _status = status;
        return;
    }
    char vr[3] = {header.vr[0], header.vr[1], 0};
    KelvoDicomDataNode::read(_container, atom, vr, node);
    _status = node.Error();
}

void KelvoDicomDataSet::setProperty(uint16_t element, KelvoDicomDataNode& node) {
    char vr[3];
    standardVR(_group, element, vr);
    setProperty(element, vr, node);
}

void KelvoDicomDataSet::setProperty(uint16_t element, const char* vr, KelvoDicomDataNode& node) {
    if (!_container) return;
    QTAtom atom = FindItem(element, _root);
    if (!vr || !vr[0] || !vr[1]) {
        _status = paramErr;
        return;
    }
    if (atom && DicmUtils_AtomType(_container, atom) == kDicomSequenceAtom) {
        // A plain value takes the place of a sequence.
        QTRemoveAtom(_container, atom);
        atom = 0;
    }
    const bool hasValue = node.qtObjIsValid() && node.valueCount() > 0;
    if (atom) {
        // The value must be of the representation asked for, and of the element's own.
        qtAtomNodeHeader existing{};
        int32_t headerStatus = 0;
        bool known = DicmUtils_NodeInfo(existing, _container, atom, headerStatus);
        if (std::strncmp(node.VR(), vr, 2) != 0 || (known && std::strncmp(existing.vr, vr, 2) != 0)) {
            _status = paramErr;
            return;
        }
        int32_t status = 0;
        if (hasValue) {
            if (!DicmUtils_DicomNodeAddData(_container, atom, node, status)) {
                _status = status;
                return;
            }
        } else if (QTAtom data = QTFindChildByIndex(_container, atom, kDicomNodeDataAtom, 1, nullptr)) {
            QTRemoveAtom(_container, data);
        }
        // The value no longer comes from a file: its header says what it holds now.
        for (QTAtomType media :
             {kDicomMediaFileAtom, kDicomMediaSyntaxAtom, kDicomMediaSwapAtom, kDicomMediaPixelsAtom,
              kDicomMediaWaveformAtom, kDicomMediaUnknownAtom, kDicomMediaSamplesAtom})
            while (QTAtom m = QTFindChildByIndex(_container, atom, media, 1, nullptr))
                QTRemoveAtom(_container, m);
        qtAtomNodeHeader header{{vr[0], vr[1]}, 0, hasValue ? node.dataBinarySize() : 0, 0, 0};
        QTAtom hd = QTFindChildByIndex(_container, atom, kDicomNodeHeaderAtom, 1, nullptr);
        _status =
            hd ? QTSetAtomData(_container, hd, sizeof header, &header)
               : QTInsertChild(_container, atom, kDicomNodeHeaderAtom, 0, 1, sizeof header, &header, nullptr);
        return;
    }
    qtAtomNodeHeader header{{vr[0], vr[1]}, 0, 0, 0, 0};
    QTAtom before = insertBefore(element);
    _status = QTInsertChildBeforeAtom(_container, _root, kDicomElementAtom, atomID(element), before, 0,
                                      nullptr, &atom);
    if (_status != noErr) return;
    _status = QTInsertChild(_container, atom, kDicomNodeHeaderAtom, 0, 1, sizeof header, &header, nullptr);
    if (_status != noErr || !hasValue) return;
    if (_group == 0x7FE0 && element == 0x0010)
        QTInsertChild(_container, atom, kDicomInMemoryPixelsAtom, 0, 0, 0, nullptr, nullptr);
    if (std::strncmp(node.VR(), vr, 2) != 0) return; // a value of another representation is not stored
    int32_t status = 0;
    if (!DicmUtils_DicomNodeAddData(_container, atom, node, status)) {
        _status = status;
        return;
    }
    header.length = node.dataBinarySize();
    QTAtom hd = QTFindChildByIndex(_container, atom, kDicomNodeHeaderAtom, 1, nullptr);
    _status = QTSetAtomData(_container, hd, sizeof header, &header);
}

const char* KelvoDicomDataSet::getStringValueProperty(uint16_t element) {
    std::memset(_scratch, 0, sizeof _scratch);
    KelvoDicomDataNode node;
    getProperty(element, node);
    if (const char* text = node.textValue()) DicmUtils_SecureStringCopy(_scratch, text, sizeof _scratch - 1);
    return _scratch;
}

void KelvoDicomDataSet::getStringValueProperty(uint16_t element, char* destination, uint32_t capacity) {
    if (!destination || capacity == 0) {
        _status = paramErr;
        return;
    }
    destination[0] = 0;
    KelvoDicomDataNode node;
    getProperty(element, node);
    if (const char* text = node.textValue()) DicmUtils_SecureStringCopy(destination, text, capacity - 1);
}

void KelvoDicomDataSet::setStringValueProperty(uint16_t element, const char* text) {
    char vr[3];
    standardVR(_group, element, vr);
    KelvoDicomDataNode node(vr);
    node.strValue(text);
    setProperty(element, vr, node);
}

int16_t KelvoDicomDataSet::getSSValueProperty(uint16_t element) {
    KelvoDicomDataNode node;
    getProperty(element, node);
    return node.valueCount() > 0 ? node.shortValue(0) : 0;
}

uint16_t KelvoDicomDataSet::getUSValueProperty(uint16_t element) {
    KelvoDicomDataNode node;
    getProperty(element, node);
    return node.valueCount() > 0 ? node.usValue(0) : 0;
}

uint32_t KelvoDicomDataSet::getULValueProperty(uint16_t element) {
    KelvoDicomDataNode node;
    getProperty(element, node);
    return node.valueCount() > 0 ? node.ulValue(0) : 0;
}

void KelvoDicomDataSet::setSSValueProperty(uint16_t element, int16_t value) {
    KelvoDicomDataNode node("SS");
    node.shortValueSet(value, -1);
    setProperty(element, "SS", node);
}

void KelvoDicomDataSet::setUSValueProperty(uint16_t element, uint16_t value) {
    KelvoDicomDataNode node("US");
    node.usValueSet(value, -1);
    setProperty(element, "US", node);
}

void KelvoDicomDataSet::setULValueProperty(uint16_t element, uint32_t value) {
    KelvoDicomDataNode node("UL");
    node.ulValueSet(value, -1);
    setProperty(element, "UL", node);
}

KelvoDicomDataNode* KelvoDicomDataSet::getDataValueProperty(uint16_t element) {
    auto* node = new KelvoDicomDataNode();
    getProperty(element, *node);
    return node;
}

// ---------------------------------------------------------------------------------------------
// Objects

Kelvo_QTObj* KelvoDicomDataSet::getObjValue(int32_t key) {
    QTAtom atom = FindItem(key, _root);
    if (!atom) {
        if (key >= 0) _status = kKelvoNotFound;
        return nullptr;
    }
    QTAtomType type = DicmUtils_AtomType(_container, atom);
    if (type == kDicomSequenceAtom) return new KelvoDicomDataItemGroup(_container, atom);
    if (type != kDicomElementAtom) return nullptr;
    KelvoDicomDataNode node;
    getProperty(uint16_t(key), node);
    return node.clone();
}

void KelvoDicomDataSet::setObjValue(int32_t key, Kelvo_QTObj* object) {
    char vr[3];
    standardVR(_group, uint16_t(key), vr);
    if (!vr[0] && object) {
        // A tag the standard does not know: the object's own representation serves.
        if (object->isA("KelvoDicomDataItemGroup")) {
            std::memcpy(vr, "SQ", 3);
        } else if (object->isA("KelvoDicomDataElementValue")) {
            copyVR(vr, static_cast<KelvoDicomDataElementValue*>(object)->vr());
        } else if (object->isA("KelvoDicomDataNode")) {
            copyVR(vr, static_cast<KelvoDicomDataNode*>(object)->VR());
        } else if (object->isA("KelvoDicomDataElement")) {
            std::memcpy(vr, "UN", 3); // the element carries its own value and representation
        }
    }
    setObjValue(key, vr, object);
}

void KelvoDicomDataSet::setObjValue(int32_t key, const char* vr, Kelvo_QTObj* object) {
    if (!object || !object->qtObjIsValid() || !vr || std::strlen(vr) != 2 || key < 0 || key > 0xFFFF) {
        _status = paramErr;
        return;
    }
    if (object->isA("KelvoDicomDataElement")) {
        setDataElementProperty(key, *static_cast<KelvoDicomDataElement*>(object));
    } else if (object->isA("KelvoDicomDataElementValue")) {
        setDataElementValueProperty(key, *static_cast<KelvoDicomDataElementValue*>(object));
    } else if (object->isA("KelvoDicomDataNode")) {
        setProperty(uint16_t(key), vr, *static_cast<KelvoDicomDataNode*>(object));
    } else if (object->isA("KelvoDicomDataItemGroup")) {
        setSequenceProperty(key, *static_cast<KelvoDicomDataItemGroup*>(object));
    } else {
        _status = kKelvoUnacceptedValue;
    }
}

void KelvoDicomDataSet::setDataElementValueProperty(int32_t element, KelvoDicomDataElementValue& value) {
    KelvoDicomDataNode* node = value.value();
    if (!node) return;
    setProperty(uint16_t(element), value.vr(), *node);
    delete node;
}

int32_t KelvoDicomDataSet::setSequenceProperty(int32_t element, KelvoDicomDataItemGroup& sequence) {
    if (!_container || !sequence.Dictionary()) {
        _status = paramErr;
        return _status;
    }
    QTAtom atom = FindItem(element, _root);
    if (atom && DicmUtils_AtomType(_container, atom) != kDicomSequenceAtom) {
        QTRemoveAtom(_container, atom); // a sequence takes the place of a plain value
        atom = 0;
    }
    if (!atom) {
        QTAtomType type = DicmUtils_AtomType(sequence.Dictionary(), sequence.getRootOfItems());
        if (!type) type = kDicomSequenceAtom;
        _status = QTInsertChildBeforeAtom(_container, _root, type, atomID(element), insertBefore(element), 0,
                                          nullptr, &atom);
        if (_status != noErr) return _status;
    }
    _status = QTReplaceAtom(_container, atom, sequence.Dictionary(), sequence.getRootOfItems());
    return _status;
}

// ---------------------------------------------------------------------------------------------
// Group length

uint32_t KelvoDicomDataSet::GroupLengthGetCurrent(bool implicit) {
    if (!_container) return 0;
    uint64_t size = binaryContentSize(implicit ? uint32_t(kDicomWriteImplicitVR) : 0u);
    return size > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(size);
}

uint32_t KelvoDicomDataSet::GroupLengthRefresh(bool implicit) {
    if (!_container) return 0;
    uint32_t length = GroupLengthGetCurrent(implicit);
    setULValueProperty(0, length);
    return length;
}

// ---------------------------------------------------------------------------------------------
// Anonymisation

int32_t KelvoDicomDataSet::anonymize() {
    if (!qtObjIsValid()) return _status;
    RemoveKey(0);
    int32_t firstError = 0;
    KelvoDicomDataNode* keys = getKeys();
    if (keys) {
        const int32_t n = keys->valueCount();
        for (int32_t i = 0; i < n; ++i) {
            uint16_t key = keys->usValue(i);
            KelvoDicomDataNode node;
            getProperty(key, node);
            if (node.valueCount() == 0) continue;
            const char* vr = node.VR();
            if (std::strcmp(vr, "PN") != 0 && std::strcmp(vr, "DA") != 0 && std::strcmp(vr, "TM") != 0 &&
                std::strcmp(vr, "DT") != 0)
                continue;
            const char* text = node.textValue();
            if (!text) continue;
            std::string value(text);
            DicmUtils_StringAnonymizer(value.data(), vr);
            node.strValue(value.c_str());
            // Stored with the element's own representation, so that a tag the dictionary types
            // differently is anonymised all the same.
            char own[3] = {vr[0], vr[1], 0};
            setProperty(key, own, node);
            if (_status != 0 && firstError == 0) firstError = _status;
        }
        delete keys;
    }
    int32_t result = anonymizeSQItems();
    if (firstError != 0) _status = firstError;
    return firstError != 0 ? firstError : result;
}

int32_t KelvoDicomDataSet::anonymizeSQItems() {
    if (!qtObjIsValid()) return _status;
    std::vector<QTAtom> sequences;
    QTAtom child = 0;
    while (QTNextChildAnyType(_container, _root, child, &child) == noErr && child)
        if (DicmUtils_AtomType(_container, child) == kDicomSequenceAtom) sequences.push_back(child);
    int32_t firstError = 0;
    for (QTAtom atom : sequences) {
        KelvoDicomDataItemGroup group(_container, atom);
        int32_t status = group.anonymize();
        if (status == 0) {
            setSequenceProperty(DicmUtils_NumberForAtomID(DicmUtils_AtomID(_container, atom)), group);
            status = _status;
        }
        if (status != 0 && firstError == 0) firstError = status;
    }
    _status = firstError;
    return firstError;
}
