// Whether a polymorphic object's code is this shared object's own. Each plug-in carries its own
// copy of the toolkit and platform, so an object another plug-in made answers only through its
// own virtual functions: its movie numbers, timers and tables mean nothing here.
#pragma once

#include <dlfcn.h>

#include <cstring>

// The object's virtual table lies in the module that holds this function. The function is static
// on purpose: each module keeps its own copy, so its address names the module asking.
static inline bool KelvoMadeInThisModule(const void* object) {
    if (!object) return false;
    Dl_info here{}, there{};
    const void* table = nullptr;
    std::memcpy(&table, object, sizeof table);
    if (!dladdr(reinterpret_cast<void*>(&KelvoMadeInThisModule), &here) || !dladdr(table, &there)) return true;
    return here.dli_fbase == there.dli_fbase;
}
