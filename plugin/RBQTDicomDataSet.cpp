// The host classes of items, item sequences and data sets. Each keeps its values in its own
// storage: value(key) hands out a copy (byRef 0) that reaches the container again only when it
// is stored back with value(key) = copy, and nothing is handed out by reference. Sequences count
// their items from 1, as every host index does. An empty host object, a key out of range, a nil
// argument or an object of another class gives an empty result and leaves a setter without
// effect.
#include "KelvoAtomicsLists.h"
#include "KelvoDicomDataElements.h"
#include "KelvoDicomDataSet.h"
#include "KelvoDicomSequence.h"
#include "RBQTDicomDataSetMembers.h"
#include "RBQTHostMembers.h"
#include "VUXDicomLib.h"

#include <new>

using namespace fenra;

namespace {

Kelvo_List* listOf(REALobject list) {
    return objectAs<Kelvo_List>(list, "Kelvo_List");
}

// ---------------------------------------------------------------------------------------------
// What items, sequences and data sets share

REALobject noValueByRef(REALobject, RBInteger) {
    return nullptr;
}

// value(key) of items and data sets, whose keys are group and element numbers.
REALobject numberedValue(REALobject self, RBInteger key) {
    if (!fitsUInt16(key)) return nullptr;
    return FenraDictionaryGetValue(self, key);
}

void setNumberedValue(REALobject self, RBInteger key, REALobject value) {
    if (!fitsUInt16(key)) return;
    FenraDictionarySetValue(self, key, value);
}

// ---------------------------------------------------------------------------------------------
// FenraDicomItem

KelvoDicomDataItem* itemOf(REALobject self) {
    return validObjectAs<KelvoDicomDataItem>(self, "KelvoDicomDataItem");
}

void itemConstructor(REALobject self) {
    adopt(self, new (std::nothrow) KelvoDicomDataItem());
}

void itemClone(REALobject self, REALobject other) {
    FenraNewClonedObject(self, other);
}

REALobject itemGetObject(REALobject self, RBInteger param) {
    KelvoDicomDataItem* item = itemOf(self);
    if (!item) return nullptr;
    if (param == 0) return FenraWrapNewObject(item->values());
    if (param == 1) return FenraWrapNewObject(item->getKeys());
    return nullptr;
}

void itemSetObject(REALobject self, RBInteger param, REALobject value) {
    KelvoDicomDataItem* item = itemOf(self);
    Kelvo_List* list = listOf(value);
    if (item && list && param == 0) item->values(list);
}

REALPropertyRecord itemProperties[] = {
    property("values", "FenraList", fn(&itemGetObject), fn(&itemSetObject), 0),
    property("keys", "FenraDicomValue", fn(&itemGetObject), nullptr, 1),
};

REALMethodRecord itemMethods[] = {
    method(fn(&itemConstructor), "Constructor()"),
    method(fn(&itemClone), "Constructor(other as FenraDicomItem)"),
    method(fn(&numberedValue), "value(key as integer) as FenraObject", fn(&setNumberedValue)),
    method(fn(&noValueByRef), "valueByRef(key as integer) as FenraObject"),
};

// ---------------------------------------------------------------------------------------------
// FenraDicomItemSequence

KelvoDicomDataItemGroup* sequenceOf(REALobject self) {
    return validObjectAs<KelvoDicomDataItemGroup>(self, "KelvoDicomDataItemGroup");
}

void sequenceConstructor(REALobject self) {
    adopt(self, new (std::nothrow) KelvoDicomDataItemGroup());
}

void sequenceConstructorElement(REALobject self, RBInteger element) {
    if (!fitsUInt16(element)) return;
    adopt(self, new (std::nothrow) KelvoDicomDataItemGroup(uint16_t(element)));
}

void sequenceClone(REALobject self, REALobject other) {
    FenraNewClonedObject(self, other);
}

RBInteger sequenceGetInteger(REALobject self, RBInteger param) {
    KelvoDicomDataItemGroup* sequence = sequenceOf(self);
    return sequence && param == 0 ? sequence->elementID() : 0;
}

void sequenceSetInteger(REALobject self, RBInteger param, RBInteger value) {
    KelvoDicomDataItemGroup* sequence = sequenceOf(self);
    if (sequence && param == 0 && fitsUInt16(value)) sequence->elementID(uint16_t(value));
}

REALobject sequenceGetObject(REALobject self, RBInteger param) {
    KelvoDicomDataItemGroup* sequence = sequenceOf(self);
    return sequence && param == 0 ? FenraWrapNewObject(sequence->values()) : nullptr;
}

void sequenceSetObject(REALobject self, RBInteger param, REALobject value) {
    KelvoDicomDataItemGroup* sequence = sequenceOf(self);
    Kelvo_List* list = listOf(value);
    if (sequence && list && param == 0) sequence->values(list);
}

// Items count from 1.
REALobject sequenceValue(REALobject self, RBInteger index) {
    if (index < 1) return nullptr;
    return FenraDictionaryGetValue(self, index);
}

// An item replaces the one at its index; the index just past the last appends it.
void setSequenceValue(REALobject self, RBInteger index, REALobject value) {
    KelvoDicomDataItemGroup* sequence = sequenceOf(self);
    if (!sequence || index < 1 || index > sequence->count() + 1) return;
    FenraDictionarySetValue(self, index, value);
}

REALPropertyRecord sequenceProperties[] = {
    property("elementID", "integer", fn(&sequenceGetInteger), fn(&sequenceSetInteger), 0),
    property("values", "FenraList", fn(&sequenceGetObject), fn(&sequenceSetObject), 0),
};

REALMethodRecord sequenceMethods[] = {
    method(fn(&sequenceConstructor), "Constructor()"),
    method(fn(&sequenceConstructorElement), "Constructor(elementID as integer)"),
    method(fn(&sequenceClone), "Constructor(other as FenraDicomItemSequence)"),
    method(fn(&sequenceValue), "value(key as integer) as FenraObject", fn(&setSequenceValue)),
    method(fn(&noValueByRef), "valueByRef(key as integer) as FenraObject"),
};

// ---------------------------------------------------------------------------------------------
// FenraDicomDataSet

void setConstructorGroup(REALobject self, RBInteger group) {
    if (!fitsUInt16(group)) return;
    adopt(self, new (std::nothrow) KelvoDicomDataSet(uint16_t(group)));
}

void setClone(REALobject self, REALobject other) {
    FenraNewClonedObject(self, other);
}

RBInteger setGetInteger(REALobject self, RBInteger param) {
    KelvoDicomDataSet* set = FenraDataSetOf(self);
    if (!set) return 0;
    if (param == 0) return set->groupID();
    if (param == 1) return hostCount(set->GroupLength());
    return 0;
}

REALobject setGetKeys(REALobject self, RBInteger param) {
    KelvoDicomDataSet* set = FenraDataSetOf(self);
    return set && param == 0 ? FenraWrapNewObject(set->getKeys()) : nullptr;
}

REALobject setGetValues(REALobject self, RBInteger param) {
    KelvoDicomDataSet* set = FenraDataSetOf(self);
    return set && param == 1 ? FenraWrapNewObject(set->dataElements()) : nullptr;
}

void setSetValues(REALobject self, RBInteger param, REALobject value) {
    KelvoDicomDataSet* set = FenraDataSetOf(self);
    Kelvo_List* list = listOf(value);
    if (set && list && param == 1) set->dataElements(list);
}

REALobject setGetDataElement(REALobject self, RBInteger key) {
    KelvoDicomDataSet* set = FenraDataSetOf(self);
    if (!set || !fitsUInt16(key)) return nullptr;
    return FenraWrapNewObject(set->dataElement(key));
}

// The element goes under its own tag, whatever the key: a set holds its elements by their tags.
void setSetDataElement(REALobject self, RBInteger, REALobject value) {
    KelvoDicomDataSet* set = FenraDataSetOf(self);
    auto* element = objectAs<KelvoDicomDataElement>(value, "KelvoDicomDataElement");
    if (set && element) set->dataElement(element);
}

// An element the dictionary does not know, with the representation given. A value of another
// representation is refused: stored under this one it would leave an element without its value.
void setPrivateValue(REALobject self, RBInteger key, REALstring vr, REALobject value) {
    KelvoDicomDataSet* set = FenraDataSetOf(self);
    auto* node = validObjectAs<KelvoDicomDataNode>(value, "KelvoDicomDataNode");
    auto text = hostText(vr);
    if (!set || !node || !text || text->size() != 2 || !fitsUInt16(key)) return;
    if (std::strncmp(node->VR(), text->c_str(), 2) != 0) return;
    set->setObjValue(key, text->c_str(), node);
}

REALPropertyRecord setProperties[] = {
    property("groupID", "integer", fn(&setGetInteger), nullptr, 0),
    property("groupLength", "integer", fn(&setGetInteger), nullptr, 1),
    property("keys", "FenraDicomValue", fn(&setGetKeys), nullptr, 0),
    property("values", "FenraList", fn(&setGetValues), fn(&setSetValues), 1),
};

REALMethodRecord setMethods[] = {
    method(fn(&setConstructorGroup), "Constructor(groupID as integer)"),
    method(fn(&setClone), "Constructor(other as FenraDicomDataSet)"),
    method(fn(&numberedValue), "value(key as integer) as FenraObject", fn(&setNumberedValue)),
    method(fn(&noValueByRef), "valueByRef(key as integer) as FenraObject"),
    method(fn(&setGetDataElement), "dataElement(key as integer) as FenraDicomDataElement",
           fn(&setSetDataElement)),
    method(fn(&setPrivateValue), "privateValue(key as integer,vr as string,value as FenraDicomValue)"),
};

} // namespace

KelvoDicomDataSet* FenraDataSetOf(REALobject self) {
    return objectAs<KelvoDicomDataSet>(self, "KelvoDicomDataSet");
}

bool FenraValueFitsElement(KelvoDicomDataSet& set, uint16_t element, KelvoDicomDataNode& value) {
    char vr[3] = {0, 0, 0};
    if (!VUX::VUXDCM::VUXDicomLibrary::vrOfStdDataElement(dataElementTagRecord{set.groupID(), element}, vr))
        return true;
    return std::strncmp(value.VR(), vr, 2) == 0;
}

REALClassRecord FenraDicomItemClass =
    FenraMakeClassRecord("FenraDicomItem", "FenraDictionary", 0, tables(itemProperties, itemMethods));
REALClassRecord FenraDicomItemSequenceClass = FenraMakeClassRecord(
    "FenraDicomItemSequence", "FenraDictionary", 0, tables(sequenceProperties, sequenceMethods));
REALClassRecord FenraDicomDataSetClass =
    FenraMakeClassRecord("FenraDicomDataSet", "FenraDictionary", 0, tables(setProperties, setMethods));
