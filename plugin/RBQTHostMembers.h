// Small helpers for the member functions of host classes: host strings and texts, the toolkit
// object of a host object by class, member records. Nothing here raises anything in the host.
#pragma once

#include "RBQTCommon.h"
#include "RBQTDicomObjTools.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

namespace fenra {

inline REALstring hostString(const char* text) {
    if (!text) text = "";
    return REALBuildString(text, RBInteger(std::strlen(text)), kREALTextEncodingUTF8);
}

inline REALstring hostString(const char* text, size_t length) {
    return REALBuildString(text ? text : "", text ? RBInteger(length) : 0, kREALTextEncodingUTF8);
}

// The text of a host string in UTF-8, up to its first NUL (the toolkit takes C strings); nothing
// for nil or a text that cannot be converted. An empty string is an empty text.
inline std::optional<std::string> hostText(REALstring s) {
    if (!s) return std::nullopt;
    REALstring converted = REALConvertString(s, kREALTextEncodingUTF8);
    if (!converted) return std::nullopt;
    size_t size = 0;
    const void* bytes = REALGetStringContents(converted, &size);
    std::string text(bytes ? static_cast<const char*>(bytes) : "", bytes ? size : 0);
    REALUnlockString(converted);
    text.resize(std::strlen(text.c_str()));
    return text;
}

// The toolkit object of a host object when it is of the named toolkit class.
template <class T> T* objectAs(REALobject object, const char* toolkitClass) {
    Kelvo_QTObj* o = FenraKelvoObjectInstance(object);
    return o && o->isA(toolkitClass) ? static_cast<T*>(o) : nullptr;
}

// The same, and only when the object is usable.
template <class T> T* validObjectAs(REALobject object, const char* toolkitClass) {
    T* o = objectAs<T>(object, toolkitClass);
    return o && o->qtObjIsValid() ? o : nullptr;
}

// Gives a constructor's new toolkit object to its host object; without a record to take it, the
// object is deleted.
inline void adopt(REALobject self, Kelvo_QTObj* object) {
    FenraInstanceRecord* record = FenraInstanceRecordOf(self);
    if (!record || !object) {
        delete object;
        return;
    }
    if (record->object && !record->byRef) delete record->object;
    record->object = object;
    record->byRef = 0;
}

// A new memory block holding a copy of the bytes; nil when the host cannot hold that many.
inline REALmemoryBlock newBlock(const void* bytes, size_t size) {
    if (size > size_t(INT32_MAX)) return nullptr;
    REALmemoryBlock block = REALNewMemoryBlock(RBInteger(size));
    void* out = block ? REALMemoryBlockGetPtr(block) : nullptr;
    if (block && size > 0) {
        if (!out) {
            REALUnlockObject(block);
            return nullptr;
        }
        std::memcpy(out, bytes, size);
    }
    return block;
}

// The bytes of a memory block argument; false for nil or an object that is not a block.
inline bool blockBytes(REALmemoryBlock block, const uint8_t*& bytes, uint32_t& size) {
    if (!block) return false;
    RBInteger n = REALMemoryBlockGetSize(block);
    void* p = REALMemoryBlockGetPtr(block);
    if (!p || n < 0) return false;
    bytes = static_cast<const uint8_t*>(p);
    size = uint32_t(n);
    return true;
}

inline bool fitsUInt16(RBInteger v) {
    return v >= 0 && v <= 0xFFFF;
}

inline bool fitsInt16(RBInteger v) {
    return v >= INT16_MIN && v <= INT16_MAX;
}

// A double the single-precision type can hold without overflowing: NaN and infinities pass,
// finite values beyond the float range are refused.
inline bool fitsFloat(double v) {
    return !std::isfinite(v) || std::fabs(v) <= double(FLT_MAX);
}

// An unsigned count as a host integer, held at the largest one.
inline RBInteger hostCount(uint32_t n) {
    return n > uint32_t(INT32_MAX) ? INT32_MAX : RBInteger(n);
}

template <class T> void* fn(T f) {
    return reinterpret_cast<void*>(f);
}

inline REALMethodRecord method(void* function, const char* declaration, void* setter = nullptr,
                               RBRecordWord flags = kREALConsoleSafe) {
    return REALMethodRecord{
        reinterpret_cast<REALproc>(function), reinterpret_cast<REALproc>(setter), declaration, flags, {}};
}

inline REALPropertyRecord property(const char* name, const char* type, void* getter, void* setter,
                                   RBRecordWord param) {
    return REALPropertyRecord{nullptr,
                              name,
                              type,
                              kREALConsoleSafe,
                              reinterpret_cast<REALproc>(getter),
                              reinterpret_cast<REALproc>(setter),
                              param,
                              {}};
}

template <class R, size_t N> RBRecordWord countOf(R (&)[N]) {
    return RBRecordWord(N);
}

template <class P> FenraClassTables propertyTables(P& properties) {
    FenraClassTables t;
    t.properties = properties;
    t.propertyCount = countOf(properties);
    return t;
}

template <class M> FenraClassTables methodTables(M& methods) {
    FenraClassTables t;
    t.methods = methods;
    t.methodCount = countOf(methods);
    return t;
}

template <class P, class M> FenraClassTables tables(P& properties, M& methods) {
    FenraClassTables t = propertyTables(properties);
    t.methods = methods;
    t.methodCount = countOf(methods);
    return t;
}

} // namespace fenra
