#include "KelvoUserData.h"

#include "KelvoCoreObjectsDocument.h"
#include "PlatformErrors.h"
#include "PlatformGraphicsMetaData.h"
#include "PlatformMovies.h"
#include "PlatformPendingToolboxCalls.h"
#include "PlatformSequenceGrabber.h"

#include <climits>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr uint32_t kSequenceGrabberType = FOUR_CHAR_CODE("grab");
constexpr uint32_t kGraphicsImporterType = FOUR_CHAR_CODE("grip");
constexpr uint32_t kGraphicsExporterType = FOUR_CHAR_CODE("grex");

int16_t saturated16(int32_t n) {
    return int16_t(n > INT16_MAX ? INT16_MAX : n);
}

// The C text without its terminator in a new handle; null when it does not fit.
Handle textHandle(const char* text) {
    size_t length = std::strlen(text);
    Handle h = nullptr;
    if (length > size_t(INT32_MAX) || PtrToHand(text, &h, Size(length)) != noErr) return nullptr;
    return h;
}

} // namespace

Kelvo_UDataList::Kelvo_UDataList() {
    UserData ud = nullptr;
    OSErr err = NewUserData(&ud);
    adopt(ud, err);
}

template <class Owner>
void Kelvo_UDataList::borrow(Owner owner, int32_t nullOwner, UserData (*userDataOf)(Owner)) {
    if (!owner) {
        _status = nullOwner;
        return;
    }
    _userData = userDataOf(owner);
    if (!_userData) _status = GetMoviesError();
}

Kelvo_UDataList::Kelvo_UDataList(Movie movie) {
    borrow(movie, invalidMovie, GetMovieUserData);
}

Kelvo_UDataList::Kelvo_UDataList(Track track) {
    borrow(track, invalidTrack, GetTrackUserData);
}

Kelvo_UDataList::Kelvo_UDataList(Media media) {
    borrow(media, invalidMedia, GetMediaUserData);
}

Kelvo_UDataList::Kelvo_UDataList(UserData ud) {
    Copy(ud);
}

Kelvo_UDataList::Kelvo_UDataList(ComponentInstance c, uint32_t type) {
    if (!c) {
        _status = paramErr;
        return;
    }
    UserData ud = nullptr;
    int32_t err = noErr;
    if (type == kSequenceGrabberType) {
        err = SGGetSettings(c, &ud, 0);
    } else {
        err = NewUserData(&ud);
        if (err == noErr && type == kGraphicsExporterType) err = GraphicsExportGetMetaData(c, ud);
        if (err == noErr && type == kGraphicsImporterType) err = GraphicsImportGetMetaData(c, ud);
    }
    adopt(ud, err);
}

Kelvo_UDataList::Kelvo_UDataList(Kelvo_UDataList* other) {
    if (other) Copy(other->_userData);
}

Kelvo_UDataList::Kelvo_UDataList(const Kelvo_UDataList& other) : Kelvo_QTObj(other) {
    Copy(other._userData);
}

Kelvo_UDataList::Kelvo_UDataList(const char* path) {
    Kelvo_QTObjDocument document(path);
    _status = document.Error();
    if (_status != noErr) return;
    // A document of another kind is refused even when it has no node.
    if (document.DocType() != kDocumentType) {
        _status = kWrongDocumentType;
        return;
    }
    if (document.NodesCount() < 1) return;
    Handle payload = nullptr;
    document.Doc_NodeData(&payload, nullptr, nullptr, 1);
    _status = document.Error();
    if (_status == noErr && payload) {
        UserData ud = nullptr;
        OSErr err = NewUserDataFromHandle(payload, &ud);
        adopt(ud, err);
    }
    if (payload) DisposeHandle(payload);
}

Kelvo_UDataList::~Kelvo_UDataList() {
    reset();
}

Kelvo_QTObj* Kelvo_UDataList::clone() {
    return new (std::nothrow) Kelvo_UDataList(*this);
}

bool Kelvo_UDataList::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_QTObj::isA(name) || std::strcmp(name, "Kelvo_UDataList") == 0;
}

void Kelvo_UDataList::reset() {
    if (_userData && _owned) DisposeUserData(_userData);
    _userData = nullptr;
    _owned = 0;
}

void Kelvo_UDataList::adopt(UserData ud, int32_t err) {
    _status = err;
    if (err == noErr && ud) {
        _userData = ud;
        _owned = 1;
    } else if (ud) {
        DisposeUserData(ud);
    }
}

template <class Fill> Handle Kelvo_UDataList::filledHandle(Fill fill) {
    Handle h = NewHandle(0);
    if (!h) {
        _status = memFullErr;
        return nullptr;
    }
    OSErr err = fill(h);
    if (err != noErr) {
        DisposeHandle(h);
        _status = err;
        return nullptr;
    }
    return h;
}

void Kelvo_UDataList::Copy(UserData ud) {
    if (!ud) {
        reset();
        _status = paramErr;
        return;
    }
    // Flattened before the list lets go of its own user data, which may be `ud` itself.
    Handle flat = filledHandle([ud](Handle h) { return PutUserDataIntoHandle(ud, h); });
    reset();
    if (!flat) return;
    UserData copy = nullptr;
    OSErr err = NewUserDataFromHandle(flat, &copy);
    adopt(copy, err);
    DisposeHandle(flat);
}

Handle Kelvo_UDataList::handle() {
    if (!qtObjIsValid()) return nullptr;
    return filledHandle([this](Handle h) { return PutUserDataIntoHandle(_userData, h); });
}

int16_t Kelvo_UDataList::Count() {
    if (!qtObjIsValid()) return 0;
    int32_t total = 0;
    for (OSType type = GetNextUserDataType(_userData, 0); type != 0;
         type = GetNextUserDataType(_userData, type)) {
        total += CountUserDataType(_userData, type);
        if (total >= INT16_MAX) break;
    }
    return saturated16(total);
}

int16_t Kelvo_UDataList::Count(uint32_t type) {
    return qtObjIsValid() ? CountUserDataType(_userData, type) : 0;
}

int16_t Kelvo_UDataList::ListTypesCount() {
    if (!qtObjIsValid()) return 0;
    int32_t types = 0;
    for (OSType type = GetNextUserDataType(_userData, 0); type != 0 && types < INT16_MAX;
         type = GetNextUserDataType(_userData, type))
        ++types;
    return saturated16(types);
}

uint32_t Kelvo_UDataList::ListType(int16_t index) {
    if (!qtObjIsValid()) return 0;
    if (index < 0) {
        _status = paramErr;
        return 0;
    }
    OSType type = GetNextUserDataType(_userData, 0);
    for (int16_t i = 0; i < index && type != 0; ++i)
        type = GetNextUserDataType(_userData, type);
    return type;
}

Handle Kelvo_UDataList::Item(uint32_t type, int32_t index) {
    return filledHandle([&](Handle h) { return GetUserData(_userData, h, type, index); });
}

OSErr Kelvo_UDataList::appendEmptyItem(uint32_t type) {
    Handle empty = NewHandle(0);
    if (!empty) return memFullErr;
    OSErr err = AddUserData(_userData, empty, type);
    DisposeHandle(empty);
    return err;
}

OSErr Kelvo_UDataList::placeWrite(uint32_t type, int32_t& index) {
    int32_t count = CountUserDataType(_userData, type);
    if (count == 0 && index > 1) {
        index = 1;
    } else if (count >= 1 && count < index) {
        // The platform writes only the item just past the last one.
        index = count + 1;
        return appendEmptyItem(type);
    }
    return noErr;
}

void Kelvo_UDataList::Item(const void* data, uint32_t size, uint32_t type, int32_t index) {
    if (!data || !_userData || size == 0 || index < 0) return;
    if (size > uint32_t(INT32_MAX)) {
        _status = paramErr;
        return;
    }
    _status = placeWrite(type, index);
    if (_status != noErr) return;
    _status = SetUserDataItem(_userData, data, int32_t(size), type, index);
}

bool Kelvo_UDataList::ItemToPtr(void* data, uint32_t size, uint32_t type, int32_t index) {
    if (!qtObjIsValid()) return false;
    if (index < 1 || index > CountUserDataType(_userData, type) || size > uint32_t(INT32_MAX)) {
        _status = paramErr;
        return false;
    }
    _status = GetUserDataItem(_userData, data, int32_t(size), type, index);
    return _status == noErr;
}

void Kelvo_UDataList::addItem(uint32_t type, const void* data, uint32_t size) {
    if (!qtObjIsValid()) return;
    if (type == 0 || !data || size == 0 || size > uint32_t(INT32_MAX)) {
        _status = paramErr;
        return;
    }
    _status = appendEmptyItem(type);
    if (_status != noErr) return;
    _status = SetUserDataItem(_userData, data, int32_t(size), type, CountUserDataType(_userData, type));
}

void Kelvo_UDataList::addItem(uint32_t type, Handle h) {
    if (!qtObjIsValid()) return;
    if (type == 0 || !h) {
        _status = paramErr;
        return;
    }
    _status = AddUserData(_userData, h, type);
}

Handle Kelvo_UDataList::ItemText(uint32_t type, int16_t language, int32_t index) {
    if (!qtObjIsValid()) return nullptr;
    return filledHandle([&](Handle h) { return GetUserDataText(_userData, h, type, index, language); });
}

void Kelvo_UDataList::ItemText(const char* text, uint32_t type, int16_t language, int32_t index) {
    if (!_userData || !text || !*text || index < 0) {
        _status = paramErr;
        return;
    }
    Handle h = textHandle(text);
    if (!h) {
        _status = memFullErr;
        return;
    }
    _status = placeWrite(type, index);
    if (_status == noErr) _status = AddUserDataText(_userData, h, type, index, language);
    DisposeHandle(h);
}

void Kelvo_UDataList::addItemText(uint32_t type, const char* text, int16_t language) {
    if (!qtObjIsValid()) return;
    if (type == 0 || !text) {
        _status = paramErr;
        return;
    }
    Handle h = textHandle(text);
    if (!h) {
        _status = memFullErr;
        return;
    }
    int32_t count = CountUserDataType(_userData, type);
    _status = appendEmptyItem(type);
    if (_status == noErr) _status = AddUserDataText(_userData, h, type, count + 1, language);
    DisposeHandle(h);
}

void Kelvo_UDataList::Clear(uint32_t type) {
    while (RemoveUserData(_userData, type, 1) == noErr) {
    }
}

void Kelvo_UDataList::Clear() {
    if (!qtObjIsValid()) return;
    std::vector<OSType> types;
    for (OSType type = GetNextUserDataType(_userData, 0); type != 0;
         type = GetNextUserDataType(_userData, type))
        types.push_back(type);
    for (OSType type : types)
        Clear(type);
}

void Kelvo_UDataList::ItemRemove(uint32_t type, int32_t index) {
    if (!qtObjIsValid()) return;
    _status = RemoveUserData(_userData, type, index);
}

void Kelvo_UDataList::store(const char* path) {
    if (!path) {
        _status = paramErr;
        return;
    }
    Handle flat = handle();
    if (!flat) return;
    HLock(flat);
    Kelvo_QTObjDocument document(kDocumentType);
    document.Doc_NodeData(flat, nullptr, nullptr);
    // A document missing its node is not written.
    if (document.Error() == noErr) document.Doc_Write(path);
    _status = document.Error();
    HUnlock(flat);
    DisposeHandle(flat);
}
