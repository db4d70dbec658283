#include "KelvoDicomDataElements.h"

#include <cstring>

KelvoDicomDataElementValue::KelvoDicomDataElementValue(const KelvoDicomDataElementValue& other)
    : Kelvo_QTObj(other) {
    // No virtual call here: the derived part does not exist yet. The other value's list exists
    // only when its VR allows several values, and this value has the same VR.
    if (other._list && other._list->count() > 0) _list = new Kelvo_QTObjectsList(*other._list);
}

KelvoDicomDataElementValue& KelvoDicomDataElementValue::operator=(const KelvoDicomDataElementValue& other) {
    if (&other != this) copy(const_cast<KelvoDicomDataElementValue&>(other));
    return *this;
}

KelvoDicomDataElementValue::~KelvoDicomDataElementValue() {
    delete _list;
}

void KelvoDicomDataElementValue::defaultStatus() {
    delete _list;
    _list = nullptr;
}

bool KelvoDicomDataElementValue::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_QTObj::isA(name) || std::strcmp(name, "KelvoDicomDataElementValue") == 0;
}

bool KelvoDicomDataElementValue::_isDataKindRight(KelvoDicomDataNode* node) {
    Kelvo_QTObj* object = node;
    int32_t error = 0;
    if (!node || !node->qtObjIsValid()) {
        if (node) Kelvo_QTObj::isValidInstance(object, error, false);
        _status = node ? error : -108;
        return false;
    }
    if (std::strncmp(node->VR(), vr(), 2) == 0) return true;
    _status = kKelvoWrongType;
    return false;
}

bool KelvoDicomDataElementValue::multipleValuesAllowed() const {
    const dicmVRInfo* info = DicmDict_VRInfo(vr());
    return !info || (info->flags & kDicmVRSingleValue) == 0;
}

Kelvo_QTObjectsList* KelvoDicomDataElementValue::_getList() {
    if (_list || !multipleValuesAllowed()) return _list;
    auto* list = new Kelvo_QTObjectsList();
    if (!list->qtObjIsValid()) {
        _status = list->Error();
        delete list;
        return nullptr;
    }
    _list = list;
    return _list;
}

uint32_t KelvoDicomDataElementValue::valuesCount() const {
    return 1 + (_list ? uint32_t(_list->count()) : 0u);
}

bool KelvoDicomDataElementValue::appendValue(const KelvoDicomDataElementValue* value) {
    if (!value || std::strncmp(value->vr(), vr(), 2) != 0) return false;
    Kelvo_QTObjectsList* list = _getList();
    if (!list) return false;
    int32_t before = list->count();
    list->addObjValue(const_cast<KelvoDicomDataElementValue*>(value));
    return list->count() > before;
}

bool KelvoDicomDataElementValue::_appendValueByRef(KelvoDicomDataElementValue* value) {
    if (!value || value == this || std::strncmp(value->vr(), vr(), 2) != 0) return false;
    Kelvo_QTObjectsList* list = _getList();
    if (!list) return false;
    int32_t before = list->count();
    list->addObjValueByRef(value);
    return list->count() > before;
}

KelvoDicomDataElementValue* KelvoDicomDataElementValue::getValue(uint32_t index) {
    if (!_list || index >= uint32_t(_list->count())) return nullptr;
    return static_cast<KelvoDicomDataElementValue*>(_list->getObjValueByRef(int32_t(index)));
}

bool KelvoDicomDataElementValue::setValue(uint32_t index, const KelvoDicomDataElementValue* value) {
    if (!value || !_list || index >= uint32_t(_list->count()) || std::strncmp(value->vr(), vr(), 2) != 0)
        return false;
    Kelvo_QTObj* copy = const_cast<KelvoDicomDataElementValue*>(value)->clone();
    if (!copy) return false;
    _list->setObjValue(int32_t(index), copy);
    if (_list->getObjValueByRef(int32_t(index)) != copy) {
        delete copy;
        return false;
    }
    return true;
}

bool KelvoDicomDataElementValue::removeValue(uint32_t index) {
    if (!_list || index >= uint32_t(_list->count())) return false;
    int32_t before = _list->count();
    _list->RemoveKey(int32_t(index));
    return _list->count() < before;
}

void KelvoDicomDataElementValue::_copyList(const KelvoDicomDataElementValue& other) {
    if (!other._list || other._list->count() == 0 || &other == this) return;
    Kelvo_QTObjectsList* list = _getList();
    if (list) list->copy(*other._list);
}

uint32_t KelvoDicomDataElementValue::lengthForDicom() const {
    uint64_t length = _dataLengthForDicom();
    if (lengthIsPerValue()) length *= valuesCount();
    if (length & 1) ++length;
    return length > 0xFFFFFFFEu ? 0xFFFFFFFEu : uint32_t(length);
}
