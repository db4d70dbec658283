#include "KelvoCoreObjects.h"

#include "PlatformRandom.h"

#include <cstdio>
#include <charconv>
#include <cstring>
#include <ctime>

namespace {

// "<seconds>.<random>.<random>", the digits written directly rather than through printf.
void makeIdentifier(char (&uid)[36]) {
    std::memset(uid, 0, sizeof uid);
    const long long now = static_cast<long long>(std::time(nullptr));
    const long first = long(platform::random31()), second = long(platform::random31());
    char* const end = uid + sizeof uid - 1; // the last byte stays the terminator
    char* p = std::to_chars(uid, end, now).ptr;
    if (p < end) *p++ = '.';
    p = std::to_chars(p, end, first).ptr;
    if (p < end) *p++ = '.';
    std::to_chars(p, end, second);
}

} // namespace

Kelvo_QTObj::Kelvo_QTObj() : _objUID{}, _status(0) {}

Kelvo_QTObj::Kelvo_QTObj(const Kelvo_QTObj&) : _objUID{}, _status(0) {}

const char* Kelvo_QTObj::objUID() const {
    if (!_objUID[0]) makeIdentifier(_objUID);
    return _objUID;
}

Kelvo_QTObj::~Kelvo_QTObj() = default;

const char* Kelvo_QTObj::qtObjName() const {
    return "Kelvo_QTObj";
}

bool Kelvo_QTObj::qtObjIsValid() {
    return true;
}

bool Kelvo_QTObj::qtObjIsValid() const {
    return const_cast<Kelvo_QTObj*>(this)->qtObjIsValid();
}

void* Kelvo_QTObj::qtObjReference() {
    return nullptr;
}

void Kelvo_QTObj::defaultStatus() {}

void Kelvo_QTObj::copy(Kelvo_QTObj&) {}

Kelvo_QTObj* Kelvo_QTObj::clone() {
    return nullptr;
}

bool Kelvo_QTObj::isA(const char* name) const {
    if (!name) return false;
    return std::strcmp(name, qtObjName()) == 0 || std::strcmp(name, "Kelvo_QTObj") == 0;
}

bool Kelvo_QTObj::isValidInstance(Kelvo_QTObj*& object, int32_t& error, bool deleteIfInvalid) {
    error = 0;
    if (!object) {
        error = -108;
        return false;
    }
    if (object->qtObjIsValid()) return true;
    error = object->Error();
    if (error != 0 && deleteIfInvalid) {
        delete object;
        object = nullptr;
    }
    return error == 0;
}

bool Kelvo_QTObj::isValidInstance(Kelvo_QTObj** object, int32_t& error, bool deleteIfInvalid) {
    if (!object) {
        error = -108;
        return false;
    }
    return isValidInstance(*object, error, deleteIfInvalid);
}

bool Kelvo_QTObj::isSameType(Kelvo_QTObj& other) {
    if (other.isA(qtObjName())) return true;
    _status = kKelvoWrongType;
    return false;
}

void Kelvo_DbgClassDestructorCalled(Kelvo_QTObj* object) {
    if (!object) return;
    FILE* f = std::fopen("/fenra.txt", "a");
    if (!f) return;
    std::time_t now = std::time(nullptr);
    char when[64] = "";
    ctime_r(&now, when); // ends with its own newline, as ctime() does
    std::size_t n = std::strlen(when);
    if (n > 0 && when[n - 1] == '\n') when[n - 1] = 0;
    std::fprintf(f, "%s : %s Destructor Called\n", when, object->qtObjName());
    std::fclose(f);
}
