// The one place that maps a value representation to the class of its values.
#include "KelvoDicomBinaryData.h"
#include "KelvoDicomDataElements.h"
#include "KelvoDicomDataStrings.h"
#include "KelvoDicomDataStringsTags.h"
#include "KelvoDicomNumbers.h"
#include "KelvoDicomSequence.h"

#include <cstring>

Kelvo_QTObj* KelvoDicomDataFactory::createElementValue(const char* vr) {
    const dicmVRInfo* info = vr && vr[0] && vr[1] ? DicmDict_VRInfo(vr) : nullptr;
    Kelvo_QTObj* made = nullptr;
    if (info) {
        switch (info->format) {
        case kDicmFormatNone:
            if (std::strncmp(vr, "SQ", 2) == 0) made = new KelvoDicomDataItemGroup();
            break;
        case kDicmFormatString:
            made = KelvoDicomDataElementValueString::createWithVR(vr, nullptr);
            break;
        case kDicmFormatUL:
        case kDicmFormatUS:
        case kDicmFormatSS:
        case kDicmFormatSL:
        case kDicmFormatFL:
        case kDicmFormatFD:
            made = KelvoDicomDataNumber::createWithVR(vr);
            break;
        case kDicmFormatOB:
        case kDicmFormatOW:
        case kDicmFormatOF:
            made = KelvoDicomDataBinary::createWithVR(vr);
            break;
        case kDicmFormatAT:
            made = new KelvoDicomDataAttributeTag();
            break;
        default:
            break;
        }
    }
    // Without a class of its own (an unknown VR, "na"), the value is a node of that VR; for an
    // unknown VR the node is invalid.
    if (!made) made = new KelvoDicomDataNode(vr);
    return made;
}

Kelvo_QTObj* KelvoDicomDataFactory::createElementValue(const KelvoDicomDataNode& node) {
    if (!node.qtObjIsValid()) return nullptr;
    Kelvo_QTObj* made = createElementValue(node.VR());
    auto& source = const_cast<KelvoDicomDataNode&>(node);
    if (made->isA("KelvoDicomDataElementValue")) {
        auto* value = static_cast<KelvoDicomDataElementValue*>(made);
        if (value->_isDataKindRight(&source)) value->_initWithData(&source);
    } else if (made->isA("KelvoDicomDataNode")) {
        auto* copy = static_cast<KelvoDicomDataNode*>(made);
        if (Handle first = source.Value(0)) {
            copy->Append(first);
            DisposeHandle(first);
        }
    }
    return made;
}
