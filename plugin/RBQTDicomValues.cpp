// The host classes of DICOM values: the raw value of an element, the typed values by value
// representation and the data element. Every member reaches the toolkit object of its host object
// through the instance record. Getters hand out copies (the caller owns what comes back); a change
// reaches the value it came from only when it is stored back. An empty host object, a parameter
// out of range, a nil argument or an object of another class gives an empty result (0, false, 0.0,
// nil, the empty string) and leaves a setter without effect.
#include "KelvoCoreObjectsRange.h"
#include "KelvoDicomBinaryData.h"
#include "KelvoDicomData.h"
#include "KelvoDicomDataElements.h"
#include "KelvoDicomDataStrings.h"
#include "KelvoDicomDataStringsCodes.h"
#include "KelvoDicomDataStringsDates.h"
#include "KelvoDicomDataStringsNames.h"
#include "KelvoDicomDataStringsNumbers.h"
#include "KelvoDicomDataStringsTags.h"
#include "KelvoDicomDictionaries.h"
#include "KelvoDicomNumbers.h"
#include "PlatformMemory.h"
#include "RBPluginUtils.h"
#include "RBQTCommon.h"
#include "RBQTDicomObjTools.h"
#include "RBQTHostMembers.h"

#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

using namespace fenra;

namespace {

// ---------------------------------------------------------------------------------------------
// Shared helpers

void cloneConstructor(REALobject self, REALobject other) {
    FenraNewClonedObject(self, other);
}

// ---------------------------------------------------------------------------------------------
// FenraDicomValue: the raw value of an element

KelvoDicomDataNode* nodeOf(REALobject self) {
    return validObjectAs<KelvoDicomDataNode>(self, "KelvoDicomDataNode");
}

enum : RBInteger { kTypeUnknown = 0, kTypeString = 1, kTypeInteger = 2, kTypeDouble = 3, kTypePointer = 4 };

RBInteger valueGetType(REALobject self, RBInteger) {
    KelvoDicomDataNode* node = nodeOf(self);
    if (!node) return kTypeUnknown;
    switch (node->Format()) {
    case kDicmFormatString:
        return kTypeString;
    case kDicmFormatUL:
    case kDicmFormatUS:
    case kDicmFormatSS:
    case kDicmFormatSL:
        return kTypeInteger;
    case kDicmFormatFL:
    case kDicmFormatFD:
        return kTypeDouble;
    case kDicmFormatOB:
    case kDicmFormatOW:
    case kDicmFormatAT:
    case kDicmFormatOF:
        return kTypePointer;
    default:
        return kTypeUnknown;
    }
}

REALstring valueGetFormat(REALobject self, RBInteger) {
    KelvoDicomDataNode* node = nodeOf(self);
    return hostString(node ? node->VR() : "");
}

void valueConstructorFormat(REALobject self, REALstring format) {
    auto text = hostText(format);
    if (!text) return;
    adopt(self, new (std::nothrow) KelvoDicomDataNode(text->c_str()));
}

void valueConstructorTag(REALobject self, RBInteger group, RBInteger element) {
    if (!fitsUInt16(group) || !fitsUInt16(element)) return;
    adopt(self, new (std::nothrow) KelvoDicomDataNode(uint16_t(group), uint16_t(element)));
}

REALstring valueGetString(REALobject self) {
    KelvoDicomDataNode* node = nodeOf(self);
    if (!node || node->Format() != kDicmFormatString) return hostString("");
    Handle h = node->Value(0);
    if (!h) return hostString("");
    Size size = GetHandleSize(h);
    // The stored text ends with its NUL, which is not part of the string.
    REALstring s = hostString(*h, size > 0 ? size_t(size - 1) : 0);
    DisposeHandle(h);
    return s;
}

void valueSetString(REALobject self, REALstring value) {
    KelvoDicomDataNode* node = nodeOf(self);
    auto text = hostText(value);
    if (!node || !text || node->Format() != kDicmFormatString) return;
    node->strValue(text->c_str());
}

RBInteger valueGetInteger(REALobject self, RBInteger i) {
    KelvoDicomDataNode* node = nodeOf(self);
    if (!node || i < 0) return 0;
    switch (node->Format()) {
    case kDicmFormatUL:
        return RBInteger(node->ulValue(i));
    case kDicmFormatUS:
        return RBInteger(node->usValue(i));
    case kDicmFormatSS:
        return RBInteger(node->shortValue(i));
    case kDicmFormatSL:
        return RBInteger(node->longValue(i));
    default:
        return 0;
    }
}

// Index -1 appends a value; 0 to count - 1 replace one.
void valueSetInteger(REALobject self, RBInteger i, RBInteger value) {
    KelvoDicomDataNode* node = nodeOf(self);
    if (!node || i < -1) return;
    switch (node->Format()) {
    case kDicmFormatUL:
        node->ulValueSet(uint32_t(value), i);
        break;
    case kDicmFormatUS:
        node->usValueSet(uint16_t(uint32_t(value) & 0xFFFF), i);
        break;
    case kDicmFormatSS:
        node->shortValueSet(int16_t(uint16_t(uint32_t(value) & 0xFFFF)), i);
        break;
    case kDicmFormatSL:
        node->longValueSet(value, i);
        break;
    default:
        break;
    }
}

double valueGetDouble(REALobject self, RBInteger i) {
    KelvoDicomDataNode* node = nodeOf(self);
    if (!node || i < 0) return 0.0;
    if (node->Format() == kDicmFormatFD) return node->doubleValue(i);
    if (node->Format() == kDicmFormatFL) return double(node->floatValue(i));
    return 0.0;
}

void valueSetDouble(REALobject self, RBInteger i, double value) {
    KelvoDicomDataNode* node = nodeOf(self);
    if (!node || i < -1) return;
    if (node->Format() == kDicmFormatFD) {
        node->doubleValueSet(value, i);
    } else if (node->Format() == kDicmFormatFL && fitsFloat(value)) {
        node->floatValueSet(float(value), i);
    }
}

REALmemoryBlock valueGetPointer(REALobject self, RBInteger i) {
    KelvoDicomDataNode* node = nodeOf(self);
    if (!node || i < 0) return nullptr;
    Handle h = node->Value(i);
    if (!h) return nullptr;
    HLock(h);
    REALmemoryBlock block = newBlock(*h, size_t(GetHandleSize(h)));
    HUnlock(h);
    DisposeHandle(h);
    return block;
}

void valueSetPointer(REALobject self, RBInteger i, REALmemoryBlock block) {
    KelvoDicomDataNode* node = nodeOf(self);
    const uint8_t* bytes = nullptr;
    uint32_t size = 0;
    if (!node || !blockBytes(block, bytes, size) || size == 0) return;
    if (node->Format() == kDicmFormatAT) {
        if (size != sizeof(AttributeTagRecord) || i < -1) return;
        AttributeTagRecord tag;
        std::memcpy(&tag, bytes, sizeof tag);
        node->atValueSet(&tag, i);
    } else if (node->Format() == kDicmFormatOB || node->Format() == kDicmFormatOW) {
        // Raw data is one value: it can be given while the node holds none.
        if (node->valueCount() != 0) return;
        Handle h = NewHandle(Size(size));
        if (!h) return;
        std::memcpy(*h, bytes, size);
        node->Append(h);
        DisposeHandle(h);
    }
}

REALConstantRecord valueConstants[] = {
    {"ktype_unknown \t\t=\t\t0", {}}, {"ktype_string \t\t=\t\t1", {}},  {"ktype_integer \t\t=\t\t2", {}},
    {"ktype_double \t\t=\t\t3", {}},  {"ktype_pointer \t\t=\t\t4", {}},
};

REALPropertyRecord valueProperties[] = {
    property("valueType", "integer", fn(&valueGetType), nullptr, 0),
    property("valueFormat", "string", fn(&valueGetFormat), nullptr, 0),
};

REALMethodRecord valueMethods[] = {
    method(fn(&cloneConstructor), "Constructor(other as FenraDicomValue)"),
    method(fn(&valueConstructorFormat), "Constructor(valueFormat as string)"),
    method(fn(&valueConstructorTag), "Constructor(group as integer,element as integer)"),
    method(fn(&valueGetString), "stringValue() as string", fn(&valueSetString)),
    method(fn(&valueGetInteger), "integerValue(i as integer) as integer", fn(&valueSetInteger)),
    method(fn(&valueGetDouble), "doubleValue(i as integer) as double", fn(&valueSetDouble)),
    method(fn(&valueGetPointer), "pointerValue(i as integer) as memoryblock", fn(&valueSetPointer)),
};

// ---------------------------------------------------------------------------------------------
// FenraDicomVRValue: a typed value and its further values

KelvoDicomDataElementValue* vrValueOf(REALobject self) {
    return objectAs<KelvoDicomDataElementValue>(self, "KelvoDicomDataElementValue");
}

REALstring vrGetString(REALobject self, RBInteger param) {
    KelvoDicomDataElementValue* v = vrValueOf(self);
    if (!v) return hostString("");
    switch (param) {
    case 0:
        return hostString(v->vr());
    case 1:
        return charToRealString(static_cast<unsigned char>(v->paddingByte()));
    case 2:
        return hostString(v->stringValue());
    default:
        return hostString("");
    }
}

void vrSetString(REALobject self, RBInteger param, REALstring value) {
    KelvoDicomDataElementValue* v = vrValueOf(self);
    auto text = hostText(value);
    if (!v || !text || param != 2) return;
    v->stringValue(text->c_str());
}

RBBoolean vrGetBoolean(REALobject self, RBInteger param) {
    KelvoDicomDataElementValue* v = vrValueOf(self);
    if (!v) return 0;
    if (param == 0) return v->multipleValuesAllowed() ? 1 : 0;
    if (param == 1) return v->hasMultipleValues() ? 1 : 0;
    return 0;
}

RBInteger vrGetInteger(REALobject self, RBInteger param) {
    KelvoDicomDataElementValue* v = vrValueOf(self);
    if (!v || param != 0) return 0;
    uint32_t count = v->valuesCount();
    return count > uint32_t(INT32_MAX) ? INT32_MAX : RBInteger(count);
}

REALobject vrGetValue(REALobject self, RBInteger param) {
    KelvoDicomDataElementValue* v = vrValueOf(self);
    if (!v || param != 0) return nullptr;
    return FenraWrapNewObject(v->value());
}

void vrSetValue(REALobject self, RBInteger param, REALobject value) {
    KelvoDicomDataElementValue* v = vrValueOf(self);
    if (!v || param != 0) return;
    if (!value) {
        v->defaultStatus();
        return;
    }
    KelvoDicomDataNode* node = objectAs<KelvoDicomDataNode>(value, "KelvoDicomDataNode");
    if (node) v->value(node);
}

// Values count from 1, the first value included. The toolkit keeps the first value in the object
// itself and the further ones in its list, where its own indexes start at the second value.

// A copy of the first value alone (caller owns).
KelvoDicomDataElementValue* firstValueCopy(KelvoDicomDataElementValue& v) {
    auto* copy = static_cast<KelvoDicomDataElementValue*>(v.clone());
    while (copy && copy->valuesCount() > 1)
        if (!copy->removeValue(0)) break;
    if (copy && copy->valuesCount() != 1) {
        delete copy;
        return nullptr;
    }
    return copy;
}

// Makes `v` hold `values` (owned by the caller), in order, through the values' DICOM form, so that
// the object the host holds stays the same object.
bool assignValues(KelvoDicomDataElementValue& v,
                  std::vector<std::unique_ptr<KelvoDicomDataElementValue>>& values) {
    if (values.empty() || !values[0]) return false;
    KelvoDicomDataElementValue& combined = *values[0];
    for (size_t k = 1; k < values.size(); ++k)
        if (!values[k] || !combined.appendValue(values[k].get())) return false;
    std::unique_ptr<KelvoDicomDataNode> node(combined._encodeForDicom());
    return node && v.value(node.get());
}

// Every value of `v` as a copy of its own, in order.
std::vector<std::unique_ptr<KelvoDicomDataElementValue>> valueCopies(KelvoDicomDataElementValue& v) {
    std::vector<std::unique_ptr<KelvoDicomDataElementValue>> values;
    values.emplace_back(firstValueCopy(v));
    for (uint32_t k = 0; k + 1 < v.valuesCount(); ++k) {
        KelvoDicomDataElementValue* further = v.getValue(k);
        values.emplace_back(further ? static_cast<KelvoDicomDataElementValue*>(further->clone()) : nullptr);
    }
    return values;
}

REALobject vrGetItem(REALobject self, RBInteger i) {
    KelvoDicomDataElementValue* v = vrValueOf(self);
    if (!v || i < 1 || uint64_t(i) > v->valuesCount()) return nullptr;
    // A copy, as every getter gives: a host object referring to the value its parent keeps would
    // be left pointing at nothing once the host lets the parent go. Changes reach the parent
    // through `item(i) = value`.
    if (i == 1) return FenraWrapNewObject(firstValueCopy(*v));
    KelvoDicomDataElementValue* value = v->getValue(uint32_t(i - 2));
    return value ? FenraWrapNewObject(value->clone()) : nullptr;
}

void vrSetItem(REALobject self, RBInteger i, REALobject value) {
    KelvoDicomDataElementValue* v = vrValueOf(self);
    KelvoDicomDataElementValue* given = vrValueOf(value);
    if (!v || !given || i < 1 || uint64_t(i) > v->valuesCount()) return;
    if (std::strncmp(given->vr(), v->vr(), 2) != 0) return;
    if (i > 1) {
        // One value takes the place of one: a given value's own further values stay out.
        std::unique_ptr<KelvoDicomDataElementValue> one(firstValueCopy(*given));
        if (one) v->setValue(uint32_t(i - 2), one.get());
        return;
    }
    auto values = valueCopies(*v);
    values[0].reset(firstValueCopy(*given));
    assignValues(*v, values);
}

// A value keeps at least one value: removing the only one is refused.
RBBoolean vrRemove(REALobject self, RBInteger i) {
    KelvoDicomDataElementValue* v = vrValueOf(self);
    if (!v || i < 1 || uint64_t(i) > v->valuesCount() || v->valuesCount() < 2) return 0;
    if (i > 1) return v->removeValue(uint32_t(i - 2)) ? 1 : 0;
    auto values = valueCopies(*v);
    values.erase(values.begin());
    return assignValues(*v, values) ? 1 : 0;
}

RBBoolean vrAppend(REALobject self, REALobject item) {
    KelvoDicomDataElementValue* v = vrValueOf(self);
    KelvoDicomDataElementValue* given = vrValueOf(item);
    if (!v || !given || given == v) return 0;
    return v->appendValue(given) ? 1 : 0;
}

REALobject vrValueConvert(REALobject self) {
    return vrGetValue(self, 0);
}

REALstring vrTextConvert(REALobject self) {
    return vrGetString(self, 2);
}

REALPropertyRecord vrProperties[] = {
    property("vr", "string", fn(&vrGetString), nullptr, 0),
    property("paddingByte", "string", fn(&vrGetString), nullptr, 1),
    property("stringValue", "string", fn(&vrGetString), fn(&vrSetString), 2),
    property("allowsMultipleValues", "boolean", fn(&vrGetBoolean), nullptr, 0),
    property("hasMultipleValues", "boolean", fn(&vrGetBoolean), nullptr, 1),
    property("valuesCount", "integer", fn(&vrGetInteger), nullptr, 0),
    property("value", "FenraDicomValue", fn(&vrGetValue), fn(&vrSetValue), 0),
};

REALMethodRecord vrMethods[] = {
    method(fn(&cloneConstructor), "Constructor(other as FenraDicomVRValue)"),
    method(fn(&vrGetItem), "item(i as integer) as FenraDicomVRValue", fn(&vrSetItem)),
    method(fn(&vrRemove), "remove(i as integer) as boolean"),
    method(fn(&vrAppend), "append(item as FenraDicomVRValue) as boolean"),
    method(fn(&vrValueConvert), "Operator_Convert() as FenraDicomValue"),
    method(fn(&vrTextConvert), "Operator_Convert() as string"),
};

// ---------------------------------------------------------------------------------------------
// FenraDicomBinaryValue: OB, UN, OW and OF

KelvoDicomDataBinary* binaryOf(REALobject self) {
    return objectAs<KelvoDicomDataBinary>(self, "KelvoDicomDataBinary");
}

REALmemoryBlock binaryGetData(REALobject self, RBInteger param) {
    KelvoDicomDataBinary* v = binaryOf(self);
    if (!v || param != 0) return nullptr;
    const KelvoDataT<uint8_t>* data = v->binaryData();
    if (!data) return nullptr;
    return newBlock(data->items(), data->itemCount());
}

void binarySetData(REALobject self, RBInteger param, REALmemoryBlock block) {
    KelvoDicomDataBinary* v = binaryOf(self);
    const uint8_t* bytes = nullptr;
    uint32_t size = 0;
    if (!v || param != 0 || !blockBytes(block, bytes, size)) return;
    v->binaryData(bytes, size);
}

REALmemoryBlock binaryConvert(REALobject self) {
    return binaryGetData(self, 0);
}

REALobject binaryCreate(const char* vr, REALmemoryBlock block) {
    KelvoDicomDataBinary* v = KelvoDicomDataBinary::createWithVR(vr);
    const uint8_t* bytes = nullptr;
    uint32_t size = 0;
    if (v && blockBytes(block, bytes, size)) v->binaryData(bytes, size);
    return FenraWrapNewObject(v);
}

REALobject binaryCreateBytes(REALmemoryBlock block) {
    return binaryCreate("OB", block);
}
REALobject binaryCreateUnknown(REALmemoryBlock block) {
    return binaryCreate("UN", block);
}
REALobject binaryCreateWords(REALmemoryBlock block) {
    return binaryCreate("OW", block);
}
REALobject binaryCreateFloats(REALmemoryBlock block) {
    return binaryCreate("OF", block);
}

REALPropertyRecord binaryProperties[] = {
    property("data", "memoryblock", fn(&binaryGetData), fn(&binarySetData), 0),
};

REALMethodRecord binaryMethods[] = {
    method(fn(&binaryConvert), "Operator_Convert() as memoryblock"),
};

REALMethodRecord binarySharedMethods[] = {
    method(fn(&binaryCreateBytes), "createWithBytes(value as memoryblock) as FenraDicomBinaryValue"),
    method(fn(&binaryCreateUnknown), "createWithUnknownData(value as memoryblock) as FenraDicomBinaryValue"),
    method(fn(&binaryCreateWords), "createWithWords(value as memoryblock) as FenraDicomBinaryValue"),
    method(fn(&binaryCreateFloats), "createWithFloats(value as memoryblock) as FenraDicomBinaryValue"),
};

// ---------------------------------------------------------------------------------------------
// FenraDicomAttributeTag

KelvoDicomDataAttributeTag* tagOf(REALobject self) {
    return objectAs<KelvoDicomDataAttributeTag>(self, "KelvoDicomDataAttributeTag");
}

uint16_t tagGet(REALobject self, RBInteger param) {
    KelvoDicomDataAttributeTag* tag = tagOf(self);
    if (!tag) return 0;
    if (param == 0) return tag->group();
    if (param == 1) return tag->element();
    return 0;
}

void tagSet(REALobject self, RBInteger param, uint16_t value) {
    KelvoDicomDataAttributeTag* tag = tagOf(self);
    if (!tag) return;
    if (param == 0) tag->group() = value;
    if (param == 1) tag->element() = value;
}

void tagConstructor(REALobject self, uint16_t group, uint16_t element) {
    adopt(self, new (std::nothrow) KelvoDicomDataAttributeTag(group, element));
}

REALPropertyRecord tagProperties[] = {
    property("group", "UInt16", fn(&tagGet), fn(&tagSet), 0),
    property("element", "UInt16", fn(&tagGet), fn(&tagSet), 1),
};

REALMethodRecord tagMethods[] = {
    method(fn(&tagConstructor), "Constructor(group as UInt16,element as UInt16)"),
};

// ---------------------------------------------------------------------------------------------
// FenraDicomVRStringValue and the text classes

KelvoDicomDataElementValueString* stringValueOf(REALobject self) {
    return objectAs<KelvoDicomDataElementValueString>(self, "KelvoDicomDataElementValueString");
}

REALstring stringGetString(REALobject self, RBInteger param) {
    KelvoDicomDataElementValueString* v = stringValueOf(self);
    if (!v) return hostString("");
    if (param == 0) return charToRealString(static_cast<unsigned char>(v->multipleValuesSeparator()));
    if (param != 1) return hostString("");
    std::unique_ptr<KelvoDataT<char>> joined(v->concatStringValues());
    if (!joined || !joined->items()) return hostString("");
    return hostString(joined->items(), strnlen(joined->items(), joined->itemCount()));
}

double stringGetDouble(REALobject self, RBInteger param) {
    KelvoDicomDataElementValueString* v = stringValueOf(self);
    if (!v || param != 0) return 0.0;
    return double(v->maxSizeAllowed());
}

REALPropertyRecord stringProperties[] = {
    property("multipleValuesSeparator", "string", fn(&stringGetString), nullptr, 0),
    property("concatStringValues", "string", fn(&stringGetString), nullptr, 1),
    property("maxSize", "double", fn(&stringGetDouble), nullptr, 0),
};

// A constructor that makes a toolkit value of class T from the text of its one argument.
template <class T> void textConstructor(REALobject self, REALstring value) {
    auto text = hostText(value);
    if (!text) return;
    adopt(self, new (std::nothrow) T(text->c_str()));
}

REALMethodRecord aeMethods[] = {
    method(fn(&textConstructor<KelvoDicomDataApplicationEntity>), "Constructor(value as string)"),
};
REALMethodRecord csMethods[] = {
    method(fn(&textConstructor<KelvoDicomDataCodeString>), "Constructor(data as string)"),
};
REALMethodRecord loMethods[] = {
    method(fn(&textConstructor<KelvoDicomDataLongString>), "Constructor(value as string)"),
};
REALMethodRecord shMethods[] = {
    method(fn(&textConstructor<KelvoDicomDataShortString>), "Constructor(value as string)"),
};
REALMethodRecord uiMethods[] = {
    method(fn(&textConstructor<KelvoDicomDataUID>), "Constructor(uid as string)"),
};

REALobject uidCreate(REALstring root) {
    auto text = hostText(root);
    // No root, or an empty one, is the generator's own.
    const char* prefix = text && !text->empty() ? text->c_str() : nullptr;
    return FenraWrapNewObject(KelvoDicomDataUID::generate(prefix));
}

REALMethodRecord uiSharedMethods[] = {
    method(fn(&uidCreate), "create(organizationRoot as string) as FenraDicomUID"),
};

template <KelvoDicomDataElementValueText* (*make)(const char*)> REALobject textCreate(REALstring data) {
    auto text = hostText(data);
    return FenraWrapNewObject(make(text ? text->c_str() : nullptr));
}

REALMethodRecord textSharedMethods[] = {
    method(fn(&textCreate<&KelvoDicomDataElementValueText::createWithLongText>),
           "createWithLongText(data as string) as FenraDicomText"),
    method(fn(&textCreate<&KelvoDicomDataElementValueText::createWithShortText>),
           "createWithShortText(data as string) as FenraDicomText"),
    method(fn(&textCreate<&KelvoDicomDataElementValueText::createWithUnlimitedText>),
           "createWithUnlimitedText(data as string) as FenraDicomText"),
};

// ---------------------------------------------------------------------------------------------
// FenraDicomAge

KelvoDicomDataAge* ageOf(REALobject self) {
    return objectAs<KelvoDicomDataAge>(self, "KelvoDicomDataAge");
}

RBInteger ageGet(REALobject self, RBInteger param) {
    KelvoDicomDataAge* age = ageOf(self);
    if (!age) return 0;
    switch (param) {
    case 0:
        return age->years();
    case 1:
        return age->months();
    case 2:
        return age->days();
    case 3:
        return age->weeks();
    default:
        return 0;
    }
}

void ageSet(REALobject self, RBInteger param, RBInteger value) {
    KelvoDicomDataAge* age = ageOf(self);
    if (!age) return;
    switch (param) {
    case 0:
        age->years(value);
        break;
    case 1:
        age->months(value);
        break;
    case 2:
        age->days(value);
        break;
    case 3:
        age->weeks(value);
        break;
    default:
        break;
    }
}

REALPropertyRecord ageProperties[] = {
    property("years", "integer", fn(&ageGet), fn(&ageSet), 0),
    property("months", "integer", fn(&ageGet), fn(&ageSet), 1),
    property("days", "integer", fn(&ageGet), fn(&ageSet), 2),
    property("weeks", "integer", fn(&ageGet), fn(&ageSet), 3),
};

REALMethodRecord ageMethods[] = {
    method(fn(&textConstructor<KelvoDicomDataAge>), "Constructor(age as string)"),
};

// ---------------------------------------------------------------------------------------------
// FenraDicomPersonName

KelvoDicomDataPersonName* nameOf(REALobject self) {
    return objectAs<KelvoDicomDataPersonName>(self, "KelvoDicomDataPersonName");
}

REALstring nameGet(REALobject self, RBInteger param) {
    KelvoDicomDataPersonName* name = nameOf(self);
    if (!name) return hostString("");
    switch (param) {
    case 0:
        return hostString(name->firstName());
    case 1:
        return hostString(name->lastName());
    case 2:
        return hostString(name->middleName());
    case 3:
        return hostString(name->namePrefix());
    case 4:
        return hostString(name->nameSuffix());
    default:
        return hostString("");
    }
}

void nameSet(REALobject self, RBInteger param, REALstring value) {
    KelvoDicomDataPersonName* name = nameOf(self);
    auto text = hostText(value);
    if (!name || !text) return;
    switch (param) {
    case 0:
        name->firstName(text->c_str());
        break;
    case 1:
        name->lastName(text->c_str());
        break;
    case 2:
        name->middleName(text->c_str());
        break;
    case 3:
        name->namePrefix(text->c_str());
        break;
    case 4:
        name->nameSuffix(text->c_str());
        break;
    default:
        break;
    }
}

void nameConstructor(REALobject self, REALstring firstName, REALstring lastName) {
    auto first = hostText(firstName), last = hostText(lastName);
    adopt(self, new (std::nothrow) KelvoDicomDataPersonName(first ? first->c_str() : nullptr,
                                                            last ? last->c_str() : nullptr));
}

REALPropertyRecord nameProperties[] = {
    property("givenName", "string", fn(&nameGet), fn(&nameSet), 0),
    property("familyName", "string", fn(&nameGet), fn(&nameSet), 1),
    property("middleName", "string", fn(&nameGet), fn(&nameSet), 2),
    property("prefix", "string", fn(&nameGet), fn(&nameSet), 3),
    property("suffix", "string", fn(&nameGet), fn(&nameSet), 4),
};

REALMethodRecord nameMethods[] = {
    method(fn(&nameConstructor), "Constructor(firstName as string,lastName as string)"),
};

// ---------------------------------------------------------------------------------------------
// Dates, times and date-times, and their conversion to the host's Date

// A new host Date with the given SQL-like text in its property; nil without a Date class.
REALobject hostDate(const char* property, const char* text, int32_t offsetHours) {
    REALclassRef dateClass = REALGetClassRef("Date");
    REALobject date = dateClass ? REALnewInstance(dateClass) : nullptr;
    if (!date) return nullptr;
    REALstring s = hostString(text);
    bool set = REALSetPropValue(date, property, s) != 0;
    REALUnlockString(s);
    if (set && offsetHours != 0) set = REALSetPropValue(date, "GMTOffset", double(offsetHours)) != 0;
    if (!set) {
        REALUnlockObject(date);
        return nullptr;
    }
    return date;
}

KelvoDicomDataDate* dateOf(REALobject self) {
    return objectAs<KelvoDicomDataDate>(self, "KelvoDicomDataDate");
}

RBInteger dateGetInteger(REALobject self, RBInteger param) {
    KelvoDicomDataDate* date = dateOf(self);
    if (!date) return 0;
    switch (param) {
    case 0:
        return RBInteger(date->year());
    case 1:
        return RBInteger(date->month());
    case 2:
        return RBInteger(date->day());
    default:
        return 0;
    }
}

void dateSetInteger(REALobject self, RBInteger param, RBInteger value) {
    KelvoDicomDataDate* date = dateOf(self);
    if (!date || value < 0) return;
    switch (param) {
    case 0:
        date->year(uint32_t(value));
        break;
    case 1:
        date->month(uint32_t(value));
        break;
    case 2:
        date->day(uint32_t(value));
        break;
    default:
        break;
    }
}

REALstring dateGetString(REALobject self, RBInteger param) {
    KelvoDicomDataDate* date = dateOf(self);
    return hostString(date && param == 0 ? date->sqlDate() : "");
}

void dateSetString(REALobject self, RBInteger param, REALstring value) {
    KelvoDicomDataDate* date = dateOf(self);
    auto text = hostText(value);
    if (date && text && param == 0) date->sqlDate(text->c_str());
}

void dateConstructorNumbers(REALobject self, RBInteger year, RBInteger month, RBInteger day) {
    // Negative numbers are no date part: each is then left at 0, as a number out of range is.
    auto part = [](RBInteger v) { return v < 0 ? 0u : uint32_t(v); };
    adopt(self, new (std::nothrow) KelvoDicomDataDate(part(year), part(month), part(day)));
}

REALobject dateConvert(REALobject self) {
    KelvoDicomDataDate* date = dateOf(self);
    if (!date || !date->qtObjIsValid()) return nullptr;
    return hostDate("SQLDate", date->sqlDate(), 0);
}

REALPropertyRecord dateProperties[] = {
    property("year", "integer", fn(&dateGetInteger), fn(&dateSetInteger), 0),
    property("month", "integer", fn(&dateGetInteger), fn(&dateSetInteger), 1),
    property("day", "integer", fn(&dateGetInteger), fn(&dateSetInteger), 2),
    property("sqlDate", "string", fn(&dateGetString), fn(&dateSetString), 0),
};

REALMethodRecord dateMethods[] = {
    method(fn(&dateConstructorNumbers), "Constructor(year as integer,month as integer,day as integer)"),
    method(fn(&textConstructor<KelvoDicomDataDate>), "Constructor(sqlDate as string)"),
    method(fn(&dateConvert), "Operator_Convert() as Date"),
};

KelvoDicomDataTime* timeOf(REALobject self) {
    return objectAs<KelvoDicomDataTime>(self, "KelvoDicomDataTime");
}

RBInteger timeGetInteger(REALobject self, RBInteger param) {
    KelvoDicomDataTime* time = timeOf(self);
    if (!time) return 0;
    switch (param) {
    case 0:
        return RBInteger(time->hours());
    case 1:
        return RBInteger(time->minutes());
    case 2:
        return RBInteger(time->seconds());
    case 3:
        return RBInteger(time->microseconds());
    default:
        return 0;
    }
}

void timeSetInteger(REALobject self, RBInteger param, RBInteger value) {
    KelvoDicomDataTime* time = timeOf(self);
    if (!time || value < 0) return;
    switch (param) {
    case 0:
        time->hours(uint32_t(value));
        break;
    case 1:
        time->minutes(uint32_t(value));
        break;
    case 2:
        time->seconds(uint32_t(value));
        break;
    case 3:
        time->microseconds(uint32_t(value));
        break;
    default:
        break;
    }
}

REALstring timeGetString(REALobject self, RBInteger param) {
    KelvoDicomDataTime* time = timeOf(self);
    return hostString(time && param == 0 ? time->sqlTime() : "");
}

void timeSetString(REALobject self, RBInteger param, REALstring value) {
    KelvoDicomDataTime* time = timeOf(self);
    auto text = hostText(value);
    if (time && text && param == 0) time->sqlTime(text->c_str());
}

void timeConstructorNumbers(REALobject self, RBInteger hours, RBInteger minutes, RBInteger seconds) {
    // A negative number is out of range and left unset, as any other number out of range.
    auto part = [](RBInteger v) { return v < 0 ? 0xFFFFFFFFu : uint32_t(v); };
    adopt(self, new (std::nothrow) KelvoDicomDataTime(part(hours), part(minutes), part(seconds)));
}

void timeUseCurrentTime(REALobject self) {
    if (KelvoDicomDataTime* time = timeOf(self)) time->useCurrentTime();
}

REALPropertyRecord timeProperties[] = {
    property("hours", "integer", fn(&timeGetInteger), fn(&timeSetInteger), 0),
    property("minutes", "integer", fn(&timeGetInteger), fn(&timeSetInteger), 1),
    property("seconds", "integer", fn(&timeGetInteger), fn(&timeSetInteger), 2),
    property("microseconds", "integer", fn(&timeGetInteger), fn(&timeSetInteger), 3),
    property("sqlTime", "string", fn(&timeGetString), fn(&timeSetString), 0),
};

REALMethodRecord timeMethods[] = {
    method(fn(&timeConstructorNumbers),
           "Constructor(hours as integer,minutes as integer,seconds as integer)"),
    method(fn(&textConstructor<KelvoDicomDataTime>), "Constructor(sqlTime as string)"),
    method(fn(&timeUseCurrentTime), "useCurrentTime()"),
};

KelvoDicomDataDateTime* dateTimeOf(REALobject self) {
    return objectAs<KelvoDicomDataDateTime>(self, "KelvoDicomDataDateTime");
}

RBInteger dateTimeGetInteger(REALobject self, RBInteger param) {
    KelvoDicomDataDateTime* dt = dateTimeOf(self);
    if (!dt) return 0;
    if (param == 0) return dt->utcOffsetHours();
    if (param == 1) return RBInteger(dt->utcOffsetMinutes());
    return 0;
}

void dateTimeSetInteger(REALobject self, RBInteger param, RBInteger value) {
    KelvoDicomDataDateTime* dt = dateTimeOf(self);
    if (!dt) return;
    if (param == 0) dt->utcOffsetHours(value);
    if (param == 1 && value >= 0) dt->utcOffsetMinutes(uint32_t(value));
}

REALobject dateTimeGetObject(REALobject self, RBInteger param) {
    KelvoDicomDataDateTime* dt = dateTimeOf(self);
    if (!dt) return nullptr;
    if (param == 0) return FenraWrapNewObject(new (std::nothrow) KelvoDicomDataDate(dt->date()));
    if (param == 1) return FenraWrapNewObject(new (std::nothrow) KelvoDicomDataTime(dt->time()));
    return nullptr;
}

void dateTimeSetObject(REALobject self, RBInteger param, REALobject value) {
    KelvoDicomDataDateTime* dt = dateTimeOf(self);
    if (!dt) return;
    if (param == 0) {
        if (KelvoDicomDataDate* date = dateOf(value)) dt->date() = *date;
    } else if (param == 1) {
        if (KelvoDicomDataTime* time = timeOf(value)) dt->time() = *time;
    }
}

REALstring dateTimeGetString(REALobject self, RBInteger param) {
    KelvoDicomDataDateTime* dt = dateTimeOf(self);
    return hostString(dt && param == 0 ? dt->sqlDateTime() : "");
}

void dateTimeSetString(REALobject self, RBInteger param, REALstring value) {
    KelvoDicomDataDateTime* dt = dateTimeOf(self);
    auto text = hostText(value);
    if (dt && text && param == 0) dt->sqlDateTime(text->c_str());
}

REALobject dateTimeConvert(REALobject self) {
    KelvoDicomDataDateTime* dt = dateTimeOf(self);
    if (!dt || !dt->date().qtObjIsValid()) return nullptr;
    return hostDate("SQLDateTime", dt->sqlDateTime(), dt->utcOffsetHours());
}

REALPropertyRecord dateTimeProperties[] = {
    property("utcOffsetHours", "integer", fn(&dateTimeGetInteger), fn(&dateTimeSetInteger), 0),
    property("utcOffsetMinutes", "integer", fn(&dateTimeGetInteger), fn(&dateTimeSetInteger), 1),
    property("date", "FenraDicomDate", fn(&dateTimeGetObject), fn(&dateTimeSetObject), 0),
    property("time", "FenraDicomTime", fn(&dateTimeGetObject), fn(&dateTimeSetObject), 1),
    property("sqlDateTime", "string", fn(&dateTimeGetString), fn(&dateTimeSetString), 0),
};

REALMethodRecord dateTimeMethods[] = {
    method(fn(&textConstructor<KelvoDicomDataDateTime>), "Constructor(sqlDateTime as string)"),
    method(fn(&dateTimeConvert), "Operator_Convert() as Date"),
};

// ---------------------------------------------------------------------------------------------
// FenraDicomIntegerString and FenraDicomDecimalString

KelvoDicomIntegerString* integerStringOf(REALobject self) {
    return objectAs<KelvoDicomIntegerString>(self, "KelvoDicomIntegerString");
}

RBInteger integerStringGet(REALobject self, RBInteger param) {
    KelvoDicomIntegerString* v = integerStringOf(self);
    return v && param == 0 ? v->integerValue() : 0;
}

void integerStringSet(REALobject self, RBInteger param, RBInteger value) {
    KelvoDicomIntegerString* v = integerStringOf(self);
    if (v && param == 0) v->integerValue(value);
}

RBInteger integerStringConvert(REALobject self) {
    return integerStringGet(self, 0);
}

void integerStringConstructor(REALobject self) {
    adopt(self, new (std::nothrow) KelvoDicomIntegerString());
}

void integerStringConstructorValue(REALobject self, RBInteger value) {
    adopt(self, new (std::nothrow) KelvoDicomIntegerString(int32_t(value)));
}

REALPropertyRecord integerStringProperties[] = {
    property("integerValue", "integer", fn(&integerStringGet), fn(&integerStringSet), 0),
};

REALMethodRecord integerStringMethods[] = {
    method(fn(&integerStringConstructor), "Constructor()"),
    method(fn(&integerStringConstructorValue), "Constructor(value as integer)"),
    method(fn(&textConstructor<KelvoDicomIntegerString>), "Constructor(data as string)"),
    method(fn(&integerStringConvert), "Operator_Convert() as integer"),
};

KelvoDicomDecimalString* decimalStringOf(REALobject self) {
    return objectAs<KelvoDicomDecimalString>(self, "KelvoDicomDecimalString");
}

// The number is handed over whole: a decimal string holds a double, and rounding it to single
// precision on its way to or from the host would change the value a file holds.
double decimalStringGetDouble(REALobject self, RBInteger param) {
    KelvoDicomDecimalString* v = decimalStringOf(self);
    return v && param == 0 ? v->doubleValue() : 0.0;
}

void decimalStringSetDouble(REALobject self, RBInteger param, double value) {
    KelvoDicomDecimalString* v = decimalStringOf(self);
    if (v && param == 0) *v = value;
}

RBBoolean decimalStringGetBoolean(REALobject self, RBInteger param) {
    KelvoDicomDecimalString* v = decimalStringOf(self);
    return v && param == 0 && v->exponentialNotation() ? 1 : 0;
}

void decimalStringSetBoolean(REALobject self, RBInteger param, RBBoolean value) {
    KelvoDicomDecimalString* v = decimalStringOf(self);
    if (v && param == 0) v->exponentialNotation() = value ? 1 : 0;
}

double decimalStringConvert(REALobject self) {
    return decimalStringGetDouble(self, 0);
}

void decimalStringConstructor(REALobject self) {
    adopt(self, new (std::nothrow) KelvoDicomDecimalString());
}

void decimalStringConstructorValue(REALobject self, double value) {
    adopt(self, new (std::nothrow) KelvoDicomDecimalString(value));
}

REALPropertyRecord decimalStringProperties[] = {
    property("exponentialNotation", "boolean", fn(&decimalStringGetBoolean), fn(&decimalStringSetBoolean), 0),
    property("doubleValue", "double", fn(&decimalStringGetDouble), fn(&decimalStringSetDouble), 0),
};

REALMethodRecord decimalStringMethods[] = {
    method(fn(&decimalStringConstructor), "Constructor()"),
    method(fn(&decimalStringConstructorValue), "Constructor(value as double)"),
    method(fn(&textConstructor<KelvoDicomDecimalString>), "Constructor(data as string)"),
    method(fn(&decimalStringConvert), "Operator_Convert() as double"),
};

// ---------------------------------------------------------------------------------------------
// FenraDicomNumber: FL, FD, SS, SL, US and UL

KelvoDicomDataNumber* numberOf(REALobject self) {
    return validObjectAs<KelvoDicomDataNumber>(self, "KelvoDicomDataNumber");
}

double numberGetDouble(REALobject self, RBInteger param) {
    KelvoDicomDataNumber* n = numberOf(self);
    if (!n) return 0.0;
    if (param == 0) return double(n->floatValue());
    if (param == 1) return n->doubleValue();
    return 0.0;
}

void numberSetDouble(REALobject self, RBInteger param, double value) {
    KelvoDicomDataNumber* n = numberOf(self);
    if (!n) return;
    if (param == 0 && fitsFloat(value)) n->floatValue(float(value));
    if (param == 1) n->doubleValue(value);
}

RBInteger numberGetInteger(REALobject self, RBInteger param) {
    KelvoDicomDataNumber* n = numberOf(self);
    if (!n) return 0;
    switch (param) {
    case 0:
        return n->signedShortValue();
    case 1:
        return n->signedLongValue();
    case 2:
        return n->unsignedShortValue();
    default:
        return 0;
    }
}

void numberSetInteger(REALobject self, RBInteger param, RBInteger value) {
    KelvoDicomDataNumber* n = numberOf(self);
    if (!n) return;
    if (param == 0 && fitsInt16(value)) n->signedShortValue(int16_t(value));
    if (param == 1) n->signedLongValue(value);
    if (param == 2 && fitsUInt16(value)) n->unsignedShortValue(uint16_t(value));
}

uint32_t numberGetUInt32(REALobject self, RBInteger param) {
    KelvoDicomDataNumber* n = numberOf(self);
    return n && param == 0 ? n->unsignedLongValue() : 0;
}

void numberSetUInt32(REALobject self, RBInteger param, uint32_t value) {
    KelvoDicomDataNumber* n = numberOf(self);
    if (n && param == 0) n->unsignedLongValue(value);
}

double numberConvertDouble(REALobject self) {
    return numberGetDouble(self, 1);
}

uint32_t numberConvertUInt32(REALobject) {
    return 0;
}

REALobject numberCreateSingle(double value) {
    if (!fitsFloat(value)) return nullptr;
    return FenraWrapNewObject(KelvoDicomDataNumber::createWithFloat(float(value)));
}
REALobject numberCreateDouble(double value) {
    return FenraWrapNewObject(KelvoDicomDataNumber::createWithDouble(value));
}
REALobject numberCreateInteger(RBInteger value) {
    return FenraWrapNewObject(KelvoDicomDataNumber::createWithSignedLong(value));
}
REALobject numberCreateUInt32(uint32_t value) {
    return FenraWrapNewObject(KelvoDicomDataNumber::createWithUnsignedLong(value));
}
REALobject numberCreateShort(RBInteger value) {
    if (!fitsInt16(value)) return nullptr;
    return FenraWrapNewObject(KelvoDicomDataNumber::createWithSignedShort(int16_t(value)));
}
REALobject numberCreateUnsignedShort(RBInteger value) {
    if (!fitsUInt16(value)) return nullptr;
    return FenraWrapNewObject(KelvoDicomDataNumber::createWithUnsignedShort(uint16_t(value)));
}

REALPropertyRecord numberProperties[] = {
    property("singleValue", "double", fn(&numberGetDouble), fn(&numberSetDouble), 0),
    property("doubleValue", "double", fn(&numberGetDouble), fn(&numberSetDouble), 1),
    property("shortValue", "integer", fn(&numberGetInteger), fn(&numberSetInteger), 0),
    property("integerValue", "integer", fn(&numberGetInteger), fn(&numberSetInteger), 1),
    property("UInt16Value", "integer", fn(&numberGetInteger), fn(&numberSetInteger), 2),
    property("UInt32Value", "UInt32", fn(&numberGetUInt32), fn(&numberSetUInt32), 0),
};

REALMethodRecord numberMethods[] = {
    method(fn(&numberConvertDouble), "Operator_Convert() as double"),
    method(fn(&numberConvertUInt32), "Operator_Convert() as UInt32"),
};

REALMethodRecord numberSharedMethods[] = {
    method(fn(&numberCreateSingle), "createWithSingle(value as double) as FenraDicomNumber"),
    method(fn(&numberCreateDouble), "createWithDouble(value as double) as FenraDicomNumber"),
    method(fn(&numberCreateInteger), "createWithInteger(value as integer) as FenraDicomNumber"),
    method(fn(&numberCreateUInt32), "createWithUInt32(value as UInt32) as FenraDicomNumber"),
    method(fn(&numberCreateShort), "createWithShort(value as integer) as FenraDicomNumber"),
    method(fn(&numberCreateUnsignedShort), "createWithUnsignedShort(value as integer) as FenraDicomNumber"),
};

// ---------------------------------------------------------------------------------------------
// FenraDicomDataElement

KelvoDicomDataElement* elementOf(REALobject self) {
    return validObjectAs<KelvoDicomDataElement>(self, "KelvoDicomDataElement");
}

REALstring elementGetString(REALobject self, RBInteger param) {
    KelvoDicomDataElement* e = elementOf(self);
    if (!e) return hostString("");
    if (param == 0) return hostString(e->vr());
    if (param == 1) return hostString(e->description());
    return hostString("");
}

REALobject elementGetObject(REALobject self, RBInteger param) {
    KelvoDicomDataElement* e = elementOf(self);
    if (!e) return nullptr;
    switch (param) {
    case 0:
        return FenraWrapNewObject(new (std::nothrow) KelvoDicomDataAttributeTag(e->group(), e->element()));
    case 1:
        return FenraWrapNewObject(e->multeplicity());
    case 2:
        return FenraWrapNewObject(e->value());
    default:
        return nullptr;
    }
}

// Whether `value` can be the element's value: a sequence for a sequence, a typed value or a raw
// value of the element's VR. The element empties its value before it looks at what it is given,
// so what it would refuse must not reach it.
bool fitsElement(KelvoDicomDataElement* e, Kelvo_QTObj* value) {
    Kelvo_QTObj* own = e->valueByRef();
    if (!own || !value) return false;
    if (own->isA("KelvoDicomDataItemGroup")) return value->isA("KelvoDicomDataItemGroup");
    if (own->isA("KelvoDicomDataElementValue") && value->isA("KelvoDicomDataElementValue"))
        return std::strncmp(static_cast<KelvoDicomDataElementValue*>(own)->vr(),
                            static_cast<KelvoDicomDataElementValue*>(value)->vr(), 2) == 0;
    if (own->isA("KelvoDicomDataNode") && value->isA("KelvoDicomDataNode"))
        return std::strncmp(static_cast<KelvoDicomDataNode*>(own)->VR(),
                            static_cast<KelvoDicomDataNode*>(value)->VR(), 2) == 0;
    return false;
}

void elementSetObject(REALobject self, RBInteger param, REALobject value) {
    KelvoDicomDataElement* e = elementOf(self);
    if (!e || param != 2) return;
    if (!value) {
        // Without a value to store the element's own is emptied.
        e->value(nullptr);
        return;
    }
    Kelvo_QTObj* given = FenraKelvoObjectInstance(value);
    if (given && fitsElement(e, given)) e->value(given);
}

void elementConstructor(REALobject self, REALobject elementTag, REALobject data) {
    KelvoDicomDataAttributeTag* tag = tagOf(elementTag);
    if (!tag) return;
    auto* element = new (std::nothrow) KelvoDicomDataElement(tag->group(), tag->element());
    if (element && data) {
        Kelvo_QTObj* value = FenraKelvoObjectInstance(data);
        if (value && element->qtObjIsValid() && fitsElement(element, value)) element->value(value);
    }
    adopt(self, element);
}

void elementConstructorPrivate(REALobject self, REALobject elementTag, REALstring vr, REALstring multeplicity,
                               REALobject data) {
    KelvoDicomDataAttributeTag* tag = tagOf(elementTag);
    auto vrText = hostText(vr);
    if (!tag || !vrText || vrText->size() != 2) return;
    auto vm = hostText(multeplicity);
    std::string vmText = vm && !vm->empty() ? *vm : "1";
    // The element copies the entry's texts: these may go when the constructor returns.
    dicmDictEntry entry{
        tag->element(), "Private Data Element", {(*vrText)[0], (*vrText)[1], 0}, vmText.c_str()};
    Kelvo_QTObj* value = data ? FenraKelvoObjectInstance(data) : nullptr;
    adopt(self, new (std::nothrow) KelvoDicomDataElement(tag->group(), entry, value));
}

REALPropertyRecord elementProperties[] = {
    property("vr", "string", fn(&elementGetString), nullptr, 0),
    property("description", "string", fn(&elementGetString), nullptr, 1),
    property("elementTag", "FenraDicomAttributeTag", fn(&elementGetObject), nullptr, 0),
    property("multeplicity", "FenraNumericalRange", fn(&elementGetObject), nullptr, 1),
    property("value", "FenraObject", fn(&elementGetObject), fn(&elementSetObject), 2),
};

REALMethodRecord elementMethods[] = {
    method(fn(&elementConstructor),
           "Constructor(elementTag as FenraDicomAttributeTag,data as FenraDicomVRValue=nil)"),
    method(fn(&elementConstructorPrivate),
           "Constructor(elementTag as FenraDicomAttributeTag,vr as string,multeplicity as string=\"\","
           "data as FenraDicomVRValue=nil)"),
};

// The member tables of the classes.
FenraClassTables valueTables() {
    FenraClassTables t = tables(valueProperties, valueMethods);
    t.constants = valueConstants;
    t.constantCount = countOf(valueConstants);
    return t;
}

FenraClassTables binaryTables() {
    FenraClassTables t = tables(binaryProperties, binaryMethods);
    t.sharedMethods = binarySharedMethods;
    t.sharedMethodCount = countOf(binarySharedMethods);
    return t;
}

FenraClassTables uidTables() {
    FenraClassTables t = methodTables(uiMethods);
    t.sharedMethods = uiSharedMethods;
    t.sharedMethodCount = countOf(uiSharedMethods);
    return t;
}

FenraClassTables textTables() {
    FenraClassTables t;
    t.sharedMethods = textSharedMethods;
    t.sharedMethodCount = countOf(textSharedMethods);
    return t;
}

FenraClassTables numberTables() {
    FenraClassTables t = tables(numberProperties, numberMethods);
    t.sharedMethods = numberSharedMethods;
    t.sharedMethodCount = countOf(numberSharedMethods);
    return t;
}

} // namespace

REALClassRecord FenraDicomValueClass =
    FenraMakeClassRecord("FenraDicomValue", "FenraDictionary", 0, valueTables());
REALClassRecord FenraDicomVRValueClass =
    FenraMakeClassRecord("FenraDicomVRValue", "FenraObject", 0, tables(vrProperties, vrMethods));
REALClassRecord FenraDicomBinaryValueClass =
    FenraMakeClassRecord("FenraDicomBinaryValue", "FenraDicomVRValue", kREALConsoleSafe, binaryTables());
REALClassRecord FenraDicomAttributeTagClass =
    FenraMakeClassRecord("FenraDicomAttributeTag", "FenraDicomVRValue", 0, tables(tagProperties, tagMethods));
REALClassRecord FenraDicomVRStringValueClass =
    FenraMakeClassRecord("FenraDicomVRStringValue", "FenraDicomVRValue", 0, propertyTables(stringProperties));
REALClassRecord FenraDicomTextClass =
    FenraMakeClassRecord("FenraDicomText", "FenraDicomVRStringValue", kREALConsoleSafe, textTables());
REALClassRecord FenraDicomAgeClass =
    FenraMakeClassRecord("FenraDicomAge", "FenraDicomVRStringValue", 0, tables(ageProperties, ageMethods));
REALClassRecord FenraDicomApplicationEntityClass = FenraMakeClassRecord(
    "FenraDicomApplicationEntity", "FenraDicomVRStringValue", 0, methodTables(aeMethods));
REALClassRecord FenraDicomCodeStringClass =
    FenraMakeClassRecord("FenraDicomCodeString", "FenraDicomVRStringValue", 0, methodTables(csMethods));
REALClassRecord FenraDicomUIDClass =
    FenraMakeClassRecord("FenraDicomUID", "FenraDicomVRStringValue", 0, uidTables());
REALClassRecord FenraDicomLongStringClass =
    FenraMakeClassRecord("FenraDicomLongString", "FenraDicomVRStringValue", 0, methodTables(loMethods));
REALClassRecord FenraDicomShortStringClass =
    FenraMakeClassRecord("FenraDicomShortString", "FenraDicomVRStringValue", 0, methodTables(shMethods));
REALClassRecord FenraDicomPersonNameClass = FenraMakeClassRecord(
    "FenraDicomPersonName", "FenraDicomVRStringValue", 0, tables(nameProperties, nameMethods));
REALClassRecord FenraDicomDateClass =
    FenraMakeClassRecord("FenraDicomDate", "FenraDicomVRStringValue", 0, tables(dateProperties, dateMethods));
REALClassRecord FenraDicomTimeClass =
    FenraMakeClassRecord("FenraDicomTime", "FenraDicomVRStringValue", 0, tables(timeProperties, timeMethods));
REALClassRecord FenraDicomDateTimeClass = FenraMakeClassRecord(
    "FenraDicomDateTime", "FenraDicomVRStringValue", 0, tables(dateTimeProperties, dateTimeMethods));
REALClassRecord FenraDicomIntegerStringClass =
    FenraMakeClassRecord("FenraDicomIntegerString", "FenraDicomVRStringValue", 0,
                         tables(integerStringProperties, integerStringMethods));
REALClassRecord FenraDicomDecimalStringClass =
    FenraMakeClassRecord("FenraDicomDecimalString", "FenraDicomVRStringValue", 0,
                         tables(decimalStringProperties, decimalStringMethods));
REALClassRecord FenraDicomNumberClass =
    FenraMakeClassRecord("FenraDicomNumber", "FenraDicomVRValue", kREALConsoleSafe, numberTables());
REALClassRecord FenraDicomDataElementClass = FenraMakeClassRecord("FenraDicomDataElement", "FenraObject", 0,
                                                                  tables(elementProperties, elementMethods));
