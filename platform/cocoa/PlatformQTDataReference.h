// QTKit's data reference object: a data-reference handle and its type, with the file or URL
// it names.
#pragma once

#include "PlatformCocoaString.h"
#include "PlatformTypes.h"

class QTDataReference final : public NSObject {
  public:
    // Autoreleased. The object keeps its own copy of `dataRef`, so the caller's handle may go
    // at once. Null for a null handle, a type that is not four characters, or a failed copy.
    static QTDataReference* dataReferenceWithDataRef(Handle dataRef, NSString* type);

    // The object's copy of the handle (owned by the object) and its type.
    Handle dataRef() const { return _dataRef; }
    NSString* dataRefType() const { return _type; }
    OSType dataRefTypeCode() const { return _typeCode; }

    // The POSIX path of the file an 'alis' reference names; null for other kinds. Owned by this
    // object.
    NSString* referenceFile() const;
    // The URL of a 'url ' reference, or the file URL of an 'alis' one; null for other kinds or a
    // text that is not a URL. Owned by this object.
    NSURL* referenceURL() const;

  private:
    QTDataReference(Handle dataRef, NSString* type, OSType code)
        : _dataRef(dataRef), _type(type), _typeCode(code) {}
    ~QTDataReference() override;

    Handle _dataRef;
    NSString* _type;
    OSType _typeCode;
    // Made on first use and kept.
    mutable NSString* _file = nullptr;
    mutable NSURL* _url = nullptr;
};
