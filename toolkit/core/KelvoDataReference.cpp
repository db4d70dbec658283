#include "KelvoDataReference.h"

#include "KelvoCoreObjectsUtils.h"

#include "PlatformCFURL.h"
#include "PlatformEndian.h"
#include "PlatformMemory.h"
#include "PlatformMovies.h"
#include "PlatformSequenceGrabber.h"
#include "PlatformPendingCalls.h"

#include <cstring>
#include <string>

namespace {

constexpr int32_t kDataHCanRead = 1;

// A length-prefixed string of at most 255 characters.
std::string pascalOf(const char* text) {
    size_t n = text ? std::strlen(text) : 0;
    if (n > 255) n = 255;
    std::string p(1, char(n));
    if (n) p.append(text, n);
    return p;
}

OSErr appendBytes(Handle h, const std::string& bytes) {
    return PtrAndHand(bytes.data(), h, Size(bytes.size()));
}

std::string extensionAtom(OSType type, const std::string& data) {
    char head[8];
    platform::storeBE32(head, uint32_t(data.size() + 8));
    platform::storeBE32(head + 4, type);
    return std::string(head, 8) + data;
}

// Writes `handle` as the resource (type, ID 256) of a new resource file at `spec`, replacing any
// file there. The handle is disposed and nulled in every case.
OSErr writeResourceFile(FSSpec* spec, Handle& handle, ResType type, OSType fileType, OSType creator) {
    OSErr result = noErr;
    if (!handle) return memFullErr;
    if (!spec) {
        result = paramErr;
    } else {
        FSSpec existing;
        if (FSPathMakeFSSpec(spec->path, &existing) == noErr) result = FSpDelete(&existing);
        if (result == noErr) {
            FSpCreateResFile(spec, creator, fileType, -1);
            result = ResError();
        }
        if (result == noErr) {
            int16_t ref = FSpOpenResFile(spec, fsRdWrPerm);
            if (ref < 0) {
                result = ResError();
            } else {
                SInt8 state = HGetState(handle);
                HLock(handle);
                AddResource(handle, type, 256, nullptr);
                result = ResError();
                CloseResFile(ref);
                if (result == noErr) result = ResError();
                HSetState(handle, state);
            }
        }
    }
    DisposeHandle(handle);
    handle = nullptr;
    return result;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Construction

Kelvo_DataReference::Kelvo_DataReference(bool builtInStorage) {
    if (!builtInStorage) return;
    _storage = NewHandle(0);
    if (!_storage) {
        _status = MemError();
        return;
    }
    Handle value = _storage;
    if (OSErr err = PtrToHand(&value, &_dataRef, Size(sizeof value))) {
        _status = err;
        return;
    }
    _type = HandleDataHandlerSubType;
}

Kelvo_DataReference::Kelvo_DataReference(Handle handle, uint32_t type) {
    initWithHandle(handle, type);
}

Kelvo_DataReference::Kelvo_DataReference(const DataReferenceRecord& record) {
    initWithDataReferenceRecord(record);
}

Kelvo_DataReference::Kelvo_DataReference(const Kelvo_DataReference& other) : Kelvo_QTObj(other) {
    initWithOtherObject(other);
}

Kelvo_DataReference::Kelvo_DataReference(Handle handle, const char* name) {
    if (!handle) {
        _status = paramErr;
        return;
    }
    std::string bytes(reinterpret_cast<const char*>(&handle), sizeof handle);
    bytes += pascalOf(name);
    if (OSErr err = PtrToHand(bytes.data(), &_dataRef, Size(bytes.size()))) {
        _status = err;
        return;
    }
    _type = HandleDataHandlerSubType;
}

Kelvo_DataReference::Kelvo_DataReference(void* data, uint32_t length, const char* name) {
    if (!data || length == 0) {
        _status = paramErr;
        return;
    }
    char record[sizeof(void*) + sizeof(int32_t)];
    std::memcpy(record, &data, sizeof data);
    std::memcpy(record + sizeof data, &length, sizeof length);
    if (OSErr err = PtrToHand(record, &_dataRef, Size(sizeof record))) {
        _status = err;
        return;
    }
    _type = PointerDataHandlerSubType;
    if (name && *name) _status = extendPointerRef(name, 0, nullptr);
}

Kelvo_DataReference::Kelvo_DataReference(Media media, int16_t index) {
    if (!media) {
        _status = invalidMedia;
        return;
    }
    Handle ref = nullptr;
    OSType type = 0;
    int32_t attributes = 0;
    OSErr err = GetMediaDataRef(media, index, &ref, &type, &attributes);
    takeResult(err, ref, type);
    if (err == noErr) _attributes = attributes;
}

Kelvo_DataReference::Kelvo_DataReference(FSSpec* file) {
    initWithFile(file);
}

Kelvo_DataReference::Kelvo_DataReference(const FSRef& file) {
    initWithFile(file);
}

Kelvo_DataReference::Kelvo_DataReference(const char* url) {
    initWithUrl(url);
}

Kelvo_DataReference::Kelvo_DataReference(SeqGrabComponent grabber) {
    initWithSequenceGrabber(grabber);
}

Kelvo_DataReference::Kelvo_DataReference(Movie movie) {
    initWithMovie(movie);
}

Kelvo_DataReference::Kelvo_DataReference(CFTypeRef source) {
    initWithCFSource(source);
}

Kelvo_DataReference::Kelvo_DataReference(const FSRef& directory, CFTypeRef fileName) {
    initWithDirectoryAndFileName(directory, fileName);
}

Kelvo_DataReference::Kelvo_DataReference(CFTypeRef directory, CFTypeRef fileName) {
    initWithDirectoryPathAndFileName(directory, fileName);
}

Kelvo_DataReference::~Kelvo_DataReference() {
    if (_storage) DisposeHandle(_storage);
    if (_dataRef) DisposeHandle(_dataRef);
}

void Kelvo_DataReference::defaultStatus() {
    if (_storage) DisposeHandle(_storage);
    if (_dataRef) DisposeHandle(_dataRef);
    _storage = _dataRef = nullptr;
    _type = 0u;
    _attributes = 0;
}

void Kelvo_DataReference::copy(Kelvo_QTObj& source) {
    if (&source == this) return;
    if (!source.isA(qtObjName())) {
        _status = kKelvoBadArgumentObject;
        return;
    }
    initWithOtherObject(static_cast<Kelvo_DataReference&>(source));
}

Kelvo_QTObj* Kelvo_DataReference::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new Kelvo_DataReference(*this);
}

void Kelvo_DataReference::takeResult(OSErr err, Handle ref, OSType type) {
    _status = err;
    if (err != noErr) {
        if (ref) DisposeHandle(ref);
        return;
    }
    _dataRef = ref;
    _type = type;
}

// ---------------------------------------------------------------------------------------------
// Initialisers

void Kelvo_DataReference::initWithHandle(Handle handle, uint32_t type) {
    defaultStatus();
    if (!handle || type == 0) {
        _status = paramErr;
        return;
    }
    int32_t error = 0;
    _dataRef = Kelvo_Utils::HandleCopy(handle, error);
    _status = error;
    if (_dataRef) _type = type;
}

void Kelvo_DataReference::initWithDataReferenceRecord(const DataReferenceRecord& record) {
    initWithHandle(record.dataRef, record.dataRefType);
}

void Kelvo_DataReference::initWithOtherObject(const Kelvo_DataReference& other) {
    if (&other == this) return;
    defaultStatus();
    if (!other._dataRef) {
        _status = kKelvoBadArgumentObject;
        return;
    }
    int32_t error = 0;
    _dataRef = Kelvo_Utils::HandleCopy(other._dataRef, error);
    _status = error;
    if (!_dataRef) return;
    _type = other._type;
    _attributes = other._attributes;
    if (!other._storage) return;
    _storage = Kelvo_Utils::HandleCopy(other._storage, error);
    if (!_storage) {
        _status = error;
        return;
    }
    // The copied reference still names the source's storage: make it name the copy's own, so
    // that it stays good after the source is gone.
    Handle theirs = other._storage;
    if (Type() == HandleDataHandlerSubType && GetHandleSize(_dataRef) >= Size(sizeof(Handle)) &&
        std::memcmp(*_dataRef, &theirs, sizeof theirs) == 0)
        std::memcpy(*_dataRef, &_storage, sizeof _storage);
}

void Kelvo_DataReference::initWithFile(FSSpec* file) {
    defaultStatus();
    if (!file) {
        _status = paramErr;
        return;
    }
    Handle ref = nullptr;
    OSType type = 0;
    OSErr err = QTNewDataReferenceFromFSSpec(file, 0, &ref, &type);
    takeResult(err, ref, type);
}

void Kelvo_DataReference::initWithFile(const FSRef& file) {
    defaultStatus();
    Handle ref = nullptr;
    OSType type = 0;
    OSErr err = QTNewDataReferenceFromFSRef(&file, 0, &ref, &type);
    takeResult(err, ref, type);
}

void Kelvo_DataReference::initWithUrl(const char* url) {
    defaultStatus();
    if (!url || !*url) {
        _status = paramErr;
        return;
    }
    _status = PtrToHand(url, &_dataRef, Size(std::strlen(url) + 1));
    if (_dataRef) _type = URLDataHandlerSubType;
}

void Kelvo_DataReference::initWithSequenceGrabber(SeqGrabComponent grabber) {
    defaultStatus();
    if (!grabber) {
        _status = badComponentInstance;
        return;
    }
    Handle ref = nullptr;
    OSType type = 0;
    int32_t attributes = 0;
    _status = SGGetDataRef(grabber, &ref, &type, &attributes);
    _dataRef = ref;
    _type = type;
    _attributes = attributes;
    if (_status != noErr) defaultStatus();
}

void Kelvo_DataReference::initWithMovie(Movie movie) {
    defaultStatus();
    if (!movie) {
        _status = invalidMovie;
        return;
    }
    Handle ref = nullptr;
    OSType type = 0;
    OSErr err = GetMovieDefaultDataRef(movie, &ref, &type);
    takeResult(err, ref, type);
}

void Kelvo_DataReference::initWithCFSource(CFTypeRef source) {
    defaultStatus();
    Handle ref = nullptr;
    OSType type = 0;
    if (source && CFGetTypeID(source) == CFURLGetTypeID()) {
        OSErr err = QTNewDataReferenceFromCFURL(static_cast<CFURLRef>(source), 0, &ref, &type);
        takeResult(err, ref, type);
    } else if (source && CFGetTypeID(source) == CFStringGetTypeID()) {
        OSErr err = QTNewDataReferenceFromFullPathCFString(static_cast<CFStringRef>(source),
                                                           kQTNativeDefaultPathStyle, 0, &ref, &type);
        takeResult(err, ref, type);
    } else {
        _status = kKelvoNothingToWorkOn;
    }
}

void Kelvo_DataReference::initWithDirectoryAndFileName(const FSRef& directory, CFTypeRef fileName) {
    defaultStatus();
    if (!fileName || CFGetTypeID(fileName) != CFStringGetTypeID()) {
        _status = kKelvoNothingToWorkOn;
        return;
    }
    Handle ref = nullptr;
    OSType type = 0;
    OSErr err =
        QTNewDataReferenceFromFSRefCFString(&directory, static_cast<CFStringRef>(fileName), 0, &ref, &type);
    takeResult(err, ref, type);
}

void Kelvo_DataReference::initWithDirectoryPathAndFileName(CFTypeRef directory, CFTypeRef fileName) {
    defaultStatus();
    Kelvo_DataReference folder(directory);
    if (!folder.qtObjIsValid()) {
        _status = folder.Error();
        return;
    }
    if (!fileName || CFGetTypeID(fileName) != CFStringGetTypeID()) {
        _status = kKelvoNothingToWorkOn;
        return;
    }
    Handle ref = nullptr;
    OSType type = 0;
    OSErr err = QTNewDataReferenceWithDirectoryCFString(folder.DataRef(), folder.Type(),
                                                        static_cast<CFStringRef>(fileName), 0, &ref, &type);
    takeResult(err, ref, type);
}

// ---------------------------------------------------------------------------------------------
// Tests and extensions

bool Kelvo_DataReference::isMemoryStorage() const {
    return _dataRef && (Type() == PointerDataHandlerSubType || Type() == HandleDataHandlerSubType);
}

int32_t Kelvo_DataReference::extendHandleRef(uint32_t fileType, const char* mime) {
    if (!_dataRef) return 0;
    bool hasMime = mime && *mime;
    if (fileType == 0 && !hasMime) return 0;
    OSErr first = noErr;
    // The name field comes once, right after the handle value; a reference that already has
    // one (a name, or an earlier extension) keeps it.
    if (GetHandleSize(_dataRef) == Size(sizeof(Handle))) first = appendBytes(_dataRef, std::string(1, '\0'));
    if (fileType) {
        char be[4];
        platform::storeBE32(be, fileType);
        OSErr err = appendBytes(_dataRef, extensionAtom(kDataRefExtensionMacOSFileType, std::string(be, 4)));
        if (first == noErr) first = err;
    }
    if (hasMime) {
        OSErr err = appendBytes(_dataRef, extensionAtom(kDataRefExtensionMIMEType, pascalOf(mime)));
        if (first == noErr) first = err;
    }
    return first;
}

int32_t Kelvo_DataReference::extendPointerRef(const char* name, uint32_t fileType, const char* mime) {
    if (!_dataRef) return memFullErr;
    DataHandler handler = nullptr;
    OSErr err =
        OpenADataHandler(_dataRef, PointerDataHandlerSubType, nullptr, 0, nullptr, kDataHCanRead, &handler);
    if (err != noErr) return err;
    bool hasMime = mime && *mime;
    if (!name && fileType == 0 && !hasMime) {
        CloseComponent(handler);
        return noErr;
    }
    // A call without a name keeps the name the reference has.
    Handle existing = nullptr;
    bool hasName = DataHGetDataRefExtension(handler, &existing, kDataRefExtensionFileName) == noErr;
    if (existing) DisposeHandle(existing);
    if (name || !hasName) {
        std::string p = pascalOf(name);
        Handle h = nullptr;
        err = PtrToHand(p.data(), &h, Size(p.size()));
        if (err == noErr) err = DataHSetDataRefExtension(handler, h, kDataRefExtensionFileName);
        if (h) DisposeHandle(h);
        if (err != noErr) {
            CloseComponent(handler);
            return err;
        }
    }
    if (fileType) {
        char be[4];
        platform::storeBE32(be, fileType);
        Handle h = nullptr;
        if (PtrToHand(be, &h, 4) == noErr) {
            DataHSetDataRefExtension(handler, h, kDataRefExtensionMacOSFileType);
            DisposeHandle(h);
        }
    }
    if (hasMime) {
        std::string p = pascalOf(mime);
        Handle h = nullptr;
        if (PtrToHand(p.data(), &h, Size(p.size())) == noErr) {
            DataHSetDataRefExtension(handler, h, kDataRefExtensionMIMEType);
            DisposeHandle(h);
        }
    }
    Handle extended = nullptr;
    err = DataHGetDataRef(handler, &extended);
    CloseComponent(handler);
    if (err != noErr) {
        // The reference stays as it was rather than being lost.
        if (extended) DisposeHandle(extended);
        return err;
    }
    DisposeHandle(_dataRef);
    _dataRef = extended;
    return noErr;
}

int32_t Kelvo_DataReference::addMimeTypeExtension(const char* mime) {
    if (_dataRef && Type() == HandleDataHandlerSubType)
        _status = extendHandleRef(0, mime);
    else if (_dataRef && Type() == PointerDataHandlerSubType)
        _status = extendPointerRef(nullptr, 0, mime);
    else
        _status = kKelvoBadArgumentObject;
    return _status;
}

bool Kelvo_DataReference::addFileTypeExtension(Kelvo_OSType* fileType) {
    int32_t error = 0;
    if (!Kelvo_QTObj::isValidInstance(fileType, error, false) || !fileType) {
        _status = error;
        return false;
    }
    if (_dataRef && Type() == HandleDataHandlerSubType)
        _status = extendHandleRef(fileType->getOSType(), nullptr);
    else if (_dataRef && Type() == PointerDataHandlerSubType)
        _status = extendPointerRef(nullptr, fileType->getOSType(), nullptr);
    else
        _status = kKelvoBadArgumentObject;
    return _status == noErr;
}

// ---------------------------------------------------------------------------------------------
// Files and URLs

void Kelvo_DataReference::FSFileRef(FSRef* out) {
    if (!out) {
        _status = paramErr;
        return;
    }
    if (!isFileStorage() || isRefUnresolved()) return;
    Boolean changed = false;
    _status = FSResolveAlias(nullptr, _dataRef, out, &changed);
}

void Kelvo_DataReference::FileRef(FSSpec* out) {
    if (!out) {
        _status = paramErr;
        return;
    }
    if (!isFileStorage() || isRefUnresolved()) return;
    FSRef ref;
    Boolean changed = false;
    _status = FSResolveAlias(nullptr, _dataRef, &ref, &changed);
    if (_status == noErr) _status = FSGetCatalogInfo(&ref, 0, nullptr, nullptr, out, nullptr);
}

Handle Kelvo_DataReference::URLRef() {
    if (!isURLStorage()) return nullptr;
    int32_t error = 0;
    Handle copy = Kelvo_Utils::HandleCopy(_dataRef, error);
    if (!copy) _status = error;
    return copy;
}

CFStringRef Kelvo_DataReference::getName() {
    _status = noErr;
    CFStringRef name = nullptr;
    if (isFileStorage()) {
        _status = QTGetDataReferenceTargetNameCFString(_dataRef, AliasDataHandlerSubType, &name);
    } else if (isURLStorage()) {
        std::string text = platform::aliasPath(_dataRef); // the zero-terminated text
        CFURLRef url = text.empty()
                           ? nullptr
                           : CFURLCreateWithBytes(nullptr, reinterpret_cast<const UInt8*>(text.data()),
                                                  CFIndex(text.size()), kCFStringEncodingUTF8, nullptr);
        if (!url) {
            _status = coreFoundationUnknownErr;
            return nullptr;
        }
        name = CFURLCopyLastPathComponent(url);
        CFRelease(url);
    } else {
        _status = kKelvoNothingToWorkOn;
    }
    return name;
}

Kelvo_DataReference* Kelvo_DataReference::parentDirectory() {
    _status = noErr;
    if (!qtObjIsValid()) return nullptr;
    if (!isFileStorage()) {
        _status = kKelvoNothingToWorkOn;
        return nullptr;
    }
    auto* parent = new Kelvo_DataReference();
    Handle ref = nullptr;
    OSType type = 0;
    OSErr err = QTGetDataReferenceDirectoryDataReference(_dataRef, Type(), 0, &ref, &type);
    parent->takeResult(err, ref, type);
    _status = err;
    return parent;
}

bool Kelvo_DataReference::makeAlias(FSSpec* file) {
    if (!qtObjIsValid()) return false;
    int32_t error = 0;
    Handle copy = Kelvo_Utils::HandleCopy(_dataRef, error);
    if (!copy) {
        _status = error;
        return false;
    }
    if (isFileStorage()) {
        FSSpec target;
        FInfo info{};
        FileRef(&target);
        if (_status != noErr || FSpGetFInfo(&target, &info) != noErr) info = FInfo{};
        _status = writeResourceFile(file, copy, AliasDataHandlerSubType, info.fdType, info.fdCreator);
        if (_status != noErr) return false;
        FInfo aliasInfo = info;
        aliasInfo.fdFlags = uint16_t(aliasInfo.fdFlags | kIsAlias);
        FSpSetFInfo(file, &aliasInfo);
        return true;
    }
    if (isURLStorage()) {
        _status = writeResourceFile(file, copy, URLDataHandlerSubType, FOUR_CHAR_CODE("ilht"),
                                    FOUR_CHAR_CODE("MACS"));
        return _status == noErr;
    }
    DisposeHandle(copy);
    _status = kKelvoNothingToWorkOn;
    return false;
}
