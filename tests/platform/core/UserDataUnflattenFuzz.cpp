// Untrusted bytes into the user data reader: anything accepted flattens to a form that reads back
// to itself and is no longer than the input, and the text calls read every item without leaving
// it.
#include "PlatformMemory.h"
#include "PlatformUserData.h"

#include <cstdlib>
#include <cstring>

namespace {

Handle flatten(UserData ud) {
    Handle h = NewHandle(0);
    if (!h || PutUserDataIntoHandle(ud, h) != noErr) std::abort();
    return h;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > size_t(INT32_MAX)) return 0;
    Handle input = nullptr;
    if (PtrToHand(data, &input, Size(size)) != noErr) return 0;
    UserData ud = nullptr;
    OSErr err = NewUserDataFromHandle(input, &ud);
    DisposeHandle(input);
    if (err != noErr) {
        if (ud) std::abort();
        return 0;
    }

    Handle flat = flatten(ud);
    if (size_t(GetHandleSize(flat)) > size) std::abort();
    UserData again = nullptr;
    if (NewUserDataFromHandle(flat, &again) != noErr) std::abort();
    Handle flat2 = flatten(again);
    if (GetHandleSize(flat2) != GetHandleSize(flat) ||
        std::memcmp(*flat, *flat2, size_t(GetHandleSize(flat))) != 0)
        std::abort();

    // Text calls on every item, in the first languages: refused or answered, never out of bounds.
    Handle text = NewHandle(0);
    for (OSType type = GetNextUserDataType(ud, 0); type != 0; type = GetNextUserDataType(ud, type)) {
        int16_t count = CountUserDataType(ud, type);
        for (int16_t index = 1; index <= count && index <= 16; ++index) {
            for (int16_t language = 0; language < 4; ++language)
                GetUserDataText(ud, text, type, index, language);
            RemoveUserDataText(ud, type, index, 0);
            AddUserDataText(ud, text, type, index, 1);
        }
    }
    DisposeHandle(text);
    DisposeHandle(flat);
    DisposeHandle(flat2);
    DisposeUserData(again);
    DisposeUserData(ud);
    return 0;
}
