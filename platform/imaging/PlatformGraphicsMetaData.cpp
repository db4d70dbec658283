#include "PlatformGraphicsMetaData.h"

#include "PlatformMemory.h"

#include <map>
#include <mutex>
#include <new>
#include <string>

namespace {

struct Store {
    std::mutex mutex;
    std::map<ComponentInstance, std::string> flat; // each instance's list in the flat form
};

Store& store() {
    static Store* s = new Store(); // lives as long as the process
    return *s;
}

// Appends every item of `from` to `to`, type by type in `from`'s order.
OSErr appendItems(UserData from, UserData to) {
    Handle item = NewHandle(0);
    if (!item) return memFullErr;
    OSErr err = noErr;
    for (OSType type = GetNextUserDataType(from, 0); type != 0 && err == noErr;
         type = GetNextUserDataType(from, type)) {
        int16_t count = CountUserDataType(from, type);
        for (int32_t index = 1; index <= count && err == noErr; ++index) {
            err = GetUserData(from, item, type, index);
            if (err == noErr) err = AddUserData(to, item, type);
        }
    }
    DisposeHandle(item);
    return err;
}

ComponentResult getMetaData(ComponentInstance ci, UserData userData) {
    if (!ci) return badComponentInstance;
    if (!platform::isUserData(userData)) return paramErr;
    std::string flat;
    try {
        Store& s = store();
        std::lock_guard<std::mutex> lock(s.mutex);
        auto found = s.flat.find(ci);
        if (found != s.flat.end()) flat = found->second;
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    if (flat.empty()) return noErr;
    Handle h = nullptr;
    OSErr err = PtrToHand(flat.data(), &h, Size(flat.size()));
    if (err != noErr) return err;
    UserData stored = nullptr;
    err = NewUserDataFromHandle(h, &stored);
    DisposeHandle(h);
    if (err != noErr) return err;
    err = appendItems(stored, userData);
    DisposeUserData(stored);
    return err;
}

} // namespace

ComponentResult GraphicsImportGetMetaData(GraphicsImportComponent ci, UserData userData) {
    return getMetaData(ci, userData);
}

ComponentResult GraphicsExportGetMetaData(GraphicsExportComponent ci, UserData userData) {
    return getMetaData(ci, userData);
}

ComponentResult GraphicsExportSetMetaData(GraphicsExportComponent ci, UserData userData) {
    if (!ci) return badComponentInstance;
    Handle h = NewHandle(0);
    if (!h) return memFullErr;
    OSErr err = PutUserDataIntoHandle(userData, h);
    if (err == noErr) {
        try {
            std::string flat(*h, size_t(GetHandleSize(h)));
            Store& s = store();
            std::lock_guard<std::mutex> lock(s.mutex);
            s.flat[ci] = std::move(flat);
        } catch (const std::bad_alloc&) {
            err = memFullErr;
        }
    }
    DisposeHandle(h);
    return err;
}

namespace platform {

void forgetGraphicsMetaData(ComponentInstance ci) {
    Store& s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.flat.erase(ci);
}

} // namespace platform
