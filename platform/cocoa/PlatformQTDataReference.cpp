#include "PlatformQTDataReference.h"

#include "PlatformDataRef.h"
#include "PlatformMemory.h"

#include <string>

namespace {

// Keeps an autoreleased object alive for as long as its holder.
template <class T> T* kept(T* object) {
    if (object) object->retain();
    return object;
}

} // namespace

QTDataReference* QTDataReference::dataReferenceWithDataRef(Handle dataRef, NSString* type) {
    if (!dataRef || !type) return nullptr;
    OSType code = UTGetOSTypeFromString(type->cfString());
    if (code == 0) return nullptr;
    Handle copy = dataRef;
    if (HandToHand(&copy) != noErr || !copy) return nullptr;
    type->retain();
    return autoreleased(new QTDataReference(copy, type, code));
}

QTDataReference::~QTDataReference() {
    DisposeHandle(_dataRef);
    _type->release();
    if (_file) _file->release();
    if (_url) _url->release();
}

NSString* QTDataReference::referenceFile() const {
    if (!_file && _typeCode == AliasDataHandlerSubType) {
        std::string path = platform::aliasPath(_dataRef);
        if (!path.empty()) _file = NSString::createWithUTF8String(path.c_str());
    }
    return _file;
}

NSURL* QTDataReference::referenceURL() const {
    if (_url) return _url;
    if (_typeCode == AliasDataHandlerSubType) {
        _url = kept(NSURL::fileURLWithPath(referenceFile()));
    } else if (_typeCode == URLDataHandlerSubType) {
        std::string text = platform::aliasPath(_dataRef); // the zero-terminated text
        if (!text.empty()) _url = kept(NSURL::URLWithString(NSString::stringWithUTF8String(text.c_str())));
    }
    return _url;
}
