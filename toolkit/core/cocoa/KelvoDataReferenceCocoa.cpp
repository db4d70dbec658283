// The Cocoa build's views of a data reference: its path, its URL and the QTKit object.
#include "KelvoDataReference.h"
#include "PlatformCocoa.h"

#include <string>

NSString* Kelvo_DataReference::systemPath() {
    _status = noErr;
    if (!qtObjIsValid()) return nullptr;
    if (isFileStorage()) {
        QTDataReference* ref = toQTDataReference();
        return ref ? ref->referenceFile() : nullptr;
    }
    if (isURLStorage()) {
        std::string text = platform::aliasPath(_dataRef); // the zero-terminated text
        // A new string that the caller releases (the file path above belongs to the reference).
        return text.empty() ? nullptr : NSString::createWithUTF8String(text.c_str());
    }
    _status = kKelvoNothingToWorkOn;
    return nullptr;
}

NSURL* Kelvo_DataReference::urlPath() {
    if (!isURLStorage() && !isFileStorage()) return nullptr;
    QTDataReference* ref = toQTDataReference();
    return ref ? ref->referenceURL() : nullptr;
}

QTDataReference* Kelvo_DataReference::toQTDataReference() const {
    if (!static_cast<const Kelvo_QTObj*>(this)->qtObjIsValid()) return nullptr;
    return QTDataReference::dataReferenceWithDataRef(_dataRef, static_cast<NSString*>(_type));
}
