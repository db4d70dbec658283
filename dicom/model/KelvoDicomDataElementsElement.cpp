// The data element: a tag, its dictionary entry and an owned value.
#include "KelvoCoreObjectsRange.h"
#include "KelvoDicomDataElements.h"
#include "KelvoDicomDictionaries.h"
#include "KelvoDicomSequence.h"

#include <cstdlib>
#include <cstring>

namespace {

char* copyText(const char* text) {
    size_t n = text ? std::strlen(text) : 0;
    char* out = new char[n + 1];
    if (n) std::memcpy(out, text, n);
    out[n] = 0;
    return out;
}

// "1" 1..1, "1-n" 1..-1, "1-3" 1..3, "2-2n" 2..2: a leading number (0 or none counts as 1),
// then after "-" an "n" (unbounded) or the maximum.
void parseVM(const char* vm, double& minimum, double& maximum) {
    const char* p = vm ? vm : "";
    long start = std::strtol(p, const_cast<char**>(&p), 10);
    if (start <= 0) start = 1;
    minimum = double(start);
    maximum = minimum;
    if (*p != '-') return;
    ++p;
    if (*p == 'n' || *p == 'N') {
        maximum = -1;
        return;
    }
    long end = std::strtol(p, const_cast<char**>(&p), 10);
    if (*p == 'n' || *p == 'N') {
        maximum = -1; // "2-2n": any multiple
        return;
    }
    maximum = double(end);
}

} // namespace

KelvoDicomDataElement::KelvoDicomDataElement(uint16_t group, uint16_t element, Kelvo_QTObj* v)
    : _group(group), _element(element) {
    _init(nullptr);
    value(v);
}

KelvoDicomDataElement::KelvoDicomDataElement(const AttributeTagRecord& tag, Kelvo_QTObj* v)
    : KelvoDicomDataElement(tag.group, tag.element, v) {}

KelvoDicomDataElement::KelvoDicomDataElement(uint16_t group, const dicmDictEntry& entry, Kelvo_QTObj* v) {
    if ((group & 1) == 0) return; // only private tags take an entry of their own
    _group = group;
    _init(&entry);
    value(v);
}

KelvoDicomDataElement::KelvoDicomDataElement(uint16_t group, Kelvo_AtomCoord& atom) : _group(group) {
    _element = DicmUtils_NumberForAtomID(atom.id());
    if (atom.qtObjIsValid()) _init(nullptr);
    if (!qtObjIsValid() && atom.qtObjIsValid()) {
        _group = group;
        _element = DicmUtils_NumberForAtomID(atom.id());
        _status = 0;
        qtAtomNodeHeader header{};
        int32_t status = 0;
        bool known = DicmUtils_NodeInfo(atom, header, status);
        if (!known && atom.type() == kDicomSequenceAtom) {
            // A sequence made in memory carries no header: it is a sequence all the same.
            std::memcpy(header.vr, "SQ", 2);
            known = true;
        }
        if (known) {
            char vr[3] = {header.vr[0], header.vr[1], 0};
            const dicmVRInfo* info = DicmDict_VRInfo(vr);
            dicmDictEntry made{_element,
                               "Unknown Data Element",
                               {vr[0], vr[1], 0},
                               info && (info->flags & kDicmVRSingleValue) ? "1" : "1-n"};
            _init(&made);
        } else {
            _status = status;
        }
    }
    if (!qtObjIsValid()) return;
    if (_value->isA("KelvoDicomDataItemGroup")) {
        KelvoDicomDataItemGroup sequence(atom.container(), atom.atom());
        if (sequence.qtObjIsValid()) {
            static_cast<KelvoDicomDataItemGroup*>(_value)->copy(sequence);
        } else {
            _status = sequence.Error();
        }
        return;
    }
    KelvoDicomDataNode node;
    KelvoDicomDataNode::read(atom, vr(), node);
    _status = node.Error();
    if (_status != 0) return;
    if (_value->isA("KelvoDicomDataElementValue")) {
        auto* v = static_cast<KelvoDicomDataElementValue*>(_value);
        if (std::strncmp(node.VR(), v->vr(), 2) == 0) v->_initWithData(&node);
    } else if (_value->isA("KelvoDicomDataNode")) {
        *static_cast<KelvoDicomDataNode*>(_value) = node;
    }
}

KelvoDicomDataElement::KelvoDicomDataElement(const KelvoDicomDataElement& other)
    : Kelvo_QTObj(other), _group(other._group), _element(other._element), _vmMin(other._vmMin),
      _vmMax(other._vmMax) {
    if (!other.qtObjIsValid()) return;
    _init(other._ownsEntry ? other._entry : nullptr);
    value(other._value);
}

KelvoDicomDataElement& KelvoDicomDataElement::operator=(const KelvoDicomDataElementValue& v) {
    if (qtObjIsValid() && &v != _value) value(const_cast<KelvoDicomDataElementValue*>(&v));
    return *this;
}

KelvoDicomDataElement::~KelvoDicomDataElement() {
    delete _value;
    dropEntry();
}

void KelvoDicomDataElement::dropEntry() {
    if (_ownsEntry && _entry) {
        delete[] _entry->name;
        delete[] _entry->vm;
        delete _entry;
    }
    _entry = nullptr;
    _ownsEntry = false;
}

void KelvoDicomDataElement::_init(const dicmDictEntry* entry) {
    dropEntry();
    delete _value;
    _value = nullptr;
    if (entry) {
        auto* own = new dicmDictEntry{
            entry->element, copyText(entry->name), {entry->vr[0], entry->vr[1], 0}, copyText(entry->vm)};
        _element = entry->element;
        _entry = own;
        _ownsEntry = true;
    } else {
        _entry = KelvoDicomStandardDictionaryUtils::dicomTagInfo(AttributeTagRecord{_group, _element}, 0);
        if (!_entry) {
            _group = _element = 0;
            _status = kKelvoNotFound;
            return;
        }
    }
    parseVM(_entry->vm, _vmMin, _vmMax);
    _value = KelvoDicomDataFactory::createElementValue(_entry->vr);
    if (_value && _value->isA("KelvoDicomDataItemGroup"))
        static_cast<KelvoDicomDataItemGroup*>(_value)->elementID(_element);
}

void KelvoDicomDataElement::defaultStatus() {
    if (_value) _value->defaultStatus();
}

void KelvoDicomDataElement::value(Kelvo_QTObj* v) {
    if (!qtObjIsValid()) return;
    defaultStatus();
    if (!v || v == _value) return;
    bool sameKind = false;
    if (v->isA("KelvoDicomDataItemGroup")) {
        sameKind = _value->isA("KelvoDicomDataItemGroup");
    } else if (v->isA("KelvoDicomDataElementValue") && _value->isA("KelvoDicomDataElementValue")) {
        sameKind = std::strncmp(static_cast<KelvoDicomDataElementValue*>(v)->vr(),
                                static_cast<KelvoDicomDataElementValue*>(_value)->vr(), 2) == 0;
    } else if (v->isA("KelvoDicomDataNode") && _value->isA("KelvoDicomDataNode")) {
        sameKind = std::strncmp(static_cast<KelvoDicomDataNode*>(v)->VR(),
                                static_cast<KelvoDicomDataNode*>(_value)->VR(), 2) == 0;
    }
    if (!sameKind) return;
    if (_value->isA("KelvoDicomDataItemGroup")) {
        // Keep the element's number on the copied sequence.
        static_cast<KelvoDicomDataItemGroup*>(_value)->copy(*v);
        static_cast<KelvoDicomDataItemGroup*>(_value)->elementID(_element);
    } else {
        _value->copy(*v);
    }
}

Kelvo_QTObj* KelvoDicomDataElement::value() const {
    return _value ? _value->clone() : nullptr;
}

const char* KelvoDicomDataElement::vr() const {
    return _entry ? _entry->vr : "";
}

const char* KelvoDicomDataElement::description() const {
    return _entry && _entry->name ? _entry->name : "";
}

Kelvo_NumericalRange* KelvoDicomDataElement::multeplicity() const {
    if (!qtObjIsValid()) return nullptr;
    return new Kelvo_NumericalRange(_vmMin, _vmMax);
}

int64_t KelvoDicomDataElement::lengthForDicom() const {
    if (!qtObjIsValid()) return 0;
    const dicmVRInfo* info = DicmDict_VRInfo(vr());
    int64_t header = info ? info->headerLength : 0;
    if (_value->isA("KelvoDicomDataItemGroup")) {
        uint32_t length = static_cast<KelvoDicomDataItemGroup*>(_value)->Length();
        return length == kDicomUndefinedLength ? -1 : header + length;
    }
    if (_value->isA("KelvoDicomDataElementValue"))
        return header + static_cast<KelvoDicomDataElementValue*>(_value)->lengthForDicom();
    if (_value->isA("KelvoDicomDataNode"))
        return header + static_cast<KelvoDicomDataNode*>(_value)->writtenDataSize();
    return header;
}

void KelvoDicomDataElement::copy(Kelvo_QTObj& source) {
    if (&source == this || !source.isA("KelvoDicomDataElement") || !source.qtObjIsValid()) return;
    auto& other = static_cast<KelvoDicomDataElement&>(source);
    if (other._group != _group) return;
    value(other._value);
}

Kelvo_QTObj* KelvoDicomDataElement::clone() {
    return qtObjIsValid() ? new KelvoDicomDataElement(*this) : nullptr;
}
