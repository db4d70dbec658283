#include "KelvoDicomDataStringsTags.h"

#include <cstdio>
#include <cstring>
#include <new>

void KelvoDicomDataAttributeTag::defaultStatus() {
    KelvoDicomDataElementValue::defaultStatus();
    std::memset(_text, 0, sizeof _text);
    _group = 0;
    _element = 0;
}

void KelvoDicomDataAttributeTag::copy(Kelvo_QTObj& other) {
    if (&other == this || !other.isA(qtObjName())) return;
    // Taken whole first: the other value may be one of the further values replaced here.
    KelvoDicomDataAttributeTag kept(static_cast<const KelvoDicomDataAttributeTag&>(other));
    _group = kept._group;
    _element = kept._element;
    // A copy holds exactly the other's further values.
    if (_list) _list->clear();
    _copyList(kept);
}

Kelvo_QTObj* KelvoDicomDataAttributeTag::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new (std::nothrow) KelvoDicomDataAttributeTag(*this);
}

bool KelvoDicomDataAttributeTag::_initWithData(KelvoDicomDataNode* node) {
    defaultStatus();
    if (!node) return false;
    const int32_t count = node->valueCount();
    if (count < 1) return true;
    AttributeTagRecord tag{0, 0};
    node->atValueGet(&tag, 0);
    _group = tag.group;
    _element = tag.element;
    for (int32_t i = 1; i < count; ++i) {
        AttributeTagRecord further{0, 0};
        node->atValueGet(&further, i);
        auto* value = new (std::nothrow) KelvoDicomDataAttributeTag(further.group, further.element);
        if (value && !_appendValueByRef(value)) delete value;
    }
    return true;
}

bool KelvoDicomDataAttributeTag::_initWithStringData(const char* text) {
    defaultStatus();
    if (!text) return true;
    unsigned group = 0, element = 0;
    // A sign read by the C library would wrap: such a number is no tag number.
    if (std::sscanf(text, "%04X,%04X", &group, &element) != 2 || group > 0xFFFF || element > 0xFFFF) {
        defaultStatus();
        return true;
    }
    _group = uint16_t(group);
    _element = uint16_t(element);
    return true;
}

namespace {

// Appends the value's own tag, then those of its further values (and of theirs), in order.
void appendTags(KelvoDicomDataNode& node, const KelvoDicomDataAttributeTag& value) {
    AttributeTagRecord tag = value;
    node.atValueSet(&tag, -1);
    const Kelvo_QTObjectsList* list = value._getList();
    if (!list) return;
    auto* further = const_cast<Kelvo_QTObjectsList*>(list);
    const int32_t n = further->count();
    for (int32_t i = 0; i < n; ++i) {
        Kelvo_QTObj* held = further->getObjValueByRef(i);
        if (held && held->isA("KelvoDicomDataAttributeTag"))
            appendTags(node, *static_cast<KelvoDicomDataAttributeTag*>(held));
    }
}

} // namespace

KelvoDicomDataNode* KelvoDicomDataAttributeTag::_encodeForDicom() const {
    auto* node = new (std::nothrow) KelvoDicomDataNode("AT");
    if (!node || !node->qtObjIsValid()) return node;
    appendTags(*node, *this);
    return node;
}

const char* KelvoDicomDataAttributeTag::stringValue() {
    std::snprintf(_text, 25, "0x%04X,0x%04X", unsigned(_group), unsigned(_element));
    return _text;
}
