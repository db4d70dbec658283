// Data elements in and out of a data set.
#include "KelvoDicomDataElements.h"
#include "KelvoDicomDataSet.h"
#include "KelvoDicomSequence.h"

#include "PlatformErrors.h"

void KelvoDicomDataSet::setDataElementProperty(int32_t element, KelvoDicomDataElement& source) {
    Kelvo_QTObj* value = source.value();
    if (!value) return;
    if (value->isA("KelvoDicomDataItemGroup")) {
        setSequenceProperty(element, *static_cast<KelvoDicomDataItemGroup*>(value));
    } else if (value->isA("KelvoDicomDataElementValue")) {
        setDataElementValueProperty(element, *static_cast<KelvoDicomDataElementValue*>(value));
    } else if (value->isA("KelvoDicomDataNode")) {
        // A value with no class of its own (an unknown VR) is stored as the node it is.
        auto* node = static_cast<KelvoDicomDataNode*>(value);
        if (node->qtObjIsValid()) setProperty(uint16_t(element), node->VR(), *node);
    }
    delete value;
}

KelvoDicomDataElement* KelvoDicomDataSet::dataElement(int32_t element) {
    QTAtom atom = FindItem(element, _root);
    if (!atom) {
        _status = kKelvoNotFound;
        return nullptr;
    }
    Kelvo_AtomCoord coord(_container, atom);
    auto* result = new KelvoDicomDataElement(_group, coord);
    if (!result->qtObjIsValid()) {
        _status = result->Error();
        delete result;
        return nullptr;
    }
    return result;
}

void KelvoDicomDataSet::dataElement(const KelvoDicomDataElement* element) {
    if (!element) {
        _status = paramErr;
        return;
    }
    if (!element->qtObjIsValid()) {
        _status = element->Error();
        return;
    }
    if (element->group() != _group) {
        _status = kKelvoNothingToWorkOn;
        return;
    }
    setDataElementProperty(element->element(), const_cast<KelvoDicomDataElement&>(*element));
}

Kelvo_QTObjectsList* KelvoDicomDataSet::dataElements() {
    auto* list = new Kelvo_QTObjectsList();
    if (!qtObjIsValid()) return list;
    QTAtom child = 0;
    while (QTNextChildAnyType(_container, _root, child, &child) == noErr && child) {
        QTAtomType type = 0;
        QTGetAtomTypeAndID(_container, child, &type, nullptr);
        if (type != kDicomElementAtom && type != kDicomSequenceAtom) continue;
        Kelvo_AtomCoord coord(_container, child);
        auto* element = new KelvoDicomDataElement(_group, coord);
        if (element->qtObjIsValid())
            list->addObjValueByRef(element);
        else
            delete element;
        _status = noErr;
    }
    return list;
}

int32_t KelvoDicomDataSet::dataElements(Kelvo_List* list) {
    if (!qtObjIsValid() || !list) return 0;
    for (int32_t i = 0; i < list->count(); ++i) {
        Kelvo_QTObj* entry = list->getObjValueByRef(i);
        if (entry && entry->isA("KelvoDicomDataElement"))
            dataElement(static_cast<KelvoDicomDataElement*>(entry));
    }
    _status = noErr;
    return list->count();
}
