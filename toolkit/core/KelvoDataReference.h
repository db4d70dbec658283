// A data reference: a handle that the platform's data handlers read according to its type. Four
// kinds are made here: 'hndl' (memory in a handle), 'ptr ' (memory at an address), 'alis' (a
// file) and 'url ' (a URL). Movies are created on, opened from and exported to references;
// media report theirs. The object owns its reference handle and, for a reference made with
// built-in storage, the storage handle as well.
#pragma once

#include "KelvoCocoaTypes.h"
#include "KelvoCoreObjects.h"
#include "KelvoCoreObjectsTypes.h"
#include "PlatformCF.h"
#include "PlatformDataRef.h"
#include "PlatformFiles.h"
#include "PlatformObjects.h"
#include "PlatformTypes.h"

class Kelvo_DataReference : public Kelvo_QTObj {
  public:
    // With true: a new empty storage handle and a 'hndl' reference to it; with false: empty.
    explicit Kelvo_DataReference(bool builtInStorage = false);
    // A copy of `handle` taken as a reference of `type`.
    Kelvo_DataReference(Handle handle, uint32_t type);
    explicit Kelvo_DataReference(const DataReferenceRecord& record);
    // Copies of the other's reference and storage; a copy's 'hndl' reference names its own
    // storage, never the source's.
    Kelvo_DataReference(const Kelvo_DataReference& other);
    // A 'hndl' reference to `handle` (neither copied nor owned), followed by the name.
    Kelvo_DataReference(Handle handle, const char* name);
    // A 'ptr ' reference to `length` bytes at `data`; a non-empty name becomes its file name.
    Kelvo_DataReference(void* data, uint32_t length, const char* name);
    Kelvo_DataReference(Media media, int16_t index);
    explicit Kelvo_DataReference(FSSpec* file);
    explicit Kelvo_DataReference(const FSRef& file);
    explicit Kelvo_DataReference(const char* url);
    explicit Kelvo_DataReference(SeqGrabComponent grabber);
    explicit Kelvo_DataReference(Movie movie);
    // A URL or a full path string.
    explicit Kelvo_DataReference(CFTypeRef source);
    Kelvo_DataReference(const FSRef& directory, CFTypeRef fileName);
    // A folder given as a path string or URL, and a file name in it.
    Kelvo_DataReference(CFTypeRef directory, CFTypeRef fileName);
    ~Kelvo_DataReference() override;

    Kelvo_DataReference& operator=(const Kelvo_DataReference& other) {
        copy(const_cast<Kelvo_DataReference&>(other));
        return *this;
    }
    Kelvo_DataReference& operator=(const DataReferenceRecord& record) {
        initWithDataReferenceRecord(record);
        return *this;
    }
    Kelvo_DataReference& operator=(FSSpec* file) {
        initWithFile(file);
        return *this;
    }
    Kelvo_DataReference& operator=(const FSRef& file) {
        initWithFile(file);
        return *this;
    }
    Kelvo_DataReference& operator=(const char* url) {
        initWithUrl(url);
        return *this;
    }
    Kelvo_DataReference& operator=(SeqGrabComponent grabber) {
        initWithSequenceGrabber(grabber);
        return *this;
    }
    Kelvo_DataReference& operator=(Movie movie) {
        initWithMovie(movie);
        return *this;
    }
    Kelvo_DataReference& operator=(CFTypeRef source) {
        initWithCFSource(source);
        return *this;
    }

    const char* qtObjName() const override { return "Kelvo_DataReference"; }
    bool qtObjIsValid() override { return _dataRef != nullptr; }
    void* qtObjReference() override { return _dataRef; }
    // Releases both handles; type and attributes become 0. The status is kept.
    void defaultStatus() override;
    void copy(Kelvo_QTObj& source) override;
    Kelvo_QTObj* clone() override;

    // Each first releases what the object holds.
    void initWithHandle(Handle handle, uint32_t type);
    void initWithDataReferenceRecord(const DataReferenceRecord& record);
    void initWithOtherObject(const Kelvo_DataReference& other);
    void initWithFile(FSSpec* file);
    void initWithFile(const FSRef& file);
    void initWithUrl(const char* url);
    void initWithSequenceGrabber(SeqGrabComponent grabber);
    void initWithMovie(Movie movie);
    void initWithCFSource(CFTypeRef source);
    void initWithDirectoryAndFileName(const FSRef& directory, CFTypeRef fileName);
    void initWithDirectoryPathAndFileName(CFTypeRef directory, CFTypeRef fileName);

    Handle DataRef() const { return _dataRef; }
    uint32_t Type() const { return _type.getOSType(); }
    Kelvo_OSType& type() { return _type; }
    int32_t attributes() const { return _attributes; }
    Handle storage() const { return _storage; }

    bool isMemoryStorage() const;
    bool isFileStorage() const { return _dataRef && Type() == AliasDataHandlerSubType; }
    bool isURLStorage() const { return _dataRef && Type() == URLDataHandlerSubType; }
    bool isSelfContained() const { return _attributes == kDataRefIsSelfContained; }
    bool isRefUnresolved() const { return _attributes == kDataRefWasNotResolved; }

    // Extensions of memory references; other kinds set status 9.
    int32_t addMimeTypeExtension(const char* mime);
    bool addFileTypeExtension(Kelvo_OSType* fileType);

    // The file an 'alis' reference names.
    void FSFileRef(FSRef* out);
    void FileRef(FSSpec* out);
    // A copy of a 'url ' reference's handle (owned by the caller), or null.
    Handle URLRef();
    // The name of the item referred to, as a new string the caller releases.
    CFStringRef getName();
    // A new reference (owned by the caller) to the folder holding an 'alis' reference's file.
    Kelvo_DataReference* parentDirectory();
    // Writes this reference into `file` as a resource file ('alis' or 'url ' resource, ID 256).
    bool makeAlias(FSSpec* file);

    // Cocoa build. Results are autoreleased, as the platform's are: the caller does not release
    // them and retains what it keeps beyond the current pool.
    // The path of an 'alis' reference's file (autoreleased), or the text of a 'url ' reference
    // (a new string the caller releases); status 79 and null for other kinds, null for an
    // invalid reference.
    NSString* systemPath();
    // The URL of a 'url ' reference or the file URL of an 'alis' one; null otherwise.
    NSURL* urlPath();
    // A QTKit data reference made from a copy of the handle and the type; null when invalid.
    QTDataReference* toQTDataReference() const;
    explicit operator QTDataReference*() const { return toQTDataReference(); }

  private:
    // Takes a reference a platform call returned (the type only on success).
    void takeResult(OSErr err, Handle ref, OSType type);
    // Appends the extensions to a 'hndl' reference.
    int32_t extendHandleRef(uint32_t fileType, const char* mime);
    // Lets a data handler extend a 'ptr ' reference.
    int32_t extendPointerRef(const char* name, uint32_t fileType, const char* mime);

    Handle _storage = nullptr;
    Handle _dataRef = nullptr;
    Kelvo_OSType _type;
    int32_t _attributes = 0;
};
