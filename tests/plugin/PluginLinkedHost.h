// A host for programs with windows, with the companion base plug-in and the binding linked into
// the test program, entered once for the whole process; and the instance record through which a
// test hands toolkit objects made here to host objects of the companion's classes.
#pragma once

#include "HostRuntime.h"
#include "PluginHost.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

extern "C" void REALPluginMain(REALresolver resolver);

namespace plugintest::linked {

inline sylhost::HostRuntime& host() {
    static sylhost::HostRuntime* h = [] {
        auto* runtime = new sylhost::HostRuntime(false);
        std::string error;
        EXPECT_GE(runtime->loadPlugin(FENRA_BASE_PLUGIN, error), 0) << error;
        EXPECT_EQ(runtime->loadLinkedPlugin("linked", &REALPluginMain), 1);
        return runtime;
    }();
    return *h;
}

inline InstanceRecord* recordOf(const sylhost::Value& object) {
    if (!object.object()) return nullptr;
    auto getData = reinterpret_cast<void* (*)(REALobject, REALClassRecord*)>(
        sylhost::HostRuntime::resolve("REALGetClassData"));
    return static_cast<InstanceRecord*>(
        getData(object.object(), host().findClass("FenraObject")->record));
}

inline Kelvo_QTObj* toolkitObject(const sylhost::Value& object) {
    InstanceRecord* record = recordOf(object);
    return record ? record->object : nullptr;
}

// The status of the object a host object holds; 1 when it holds none.
inline int32_t status(const sylhost::Value& object) {
    Kelvo_QTObj* o = toolkitObject(object);
    return o ? o->Error() : 1;
}

// A host object of a companion class holding a toolkit object made here (owned unless `byRef`;
// an owned object is deleted when the host refuses the instance).
inline sylhost::Value wrap(const char* hostClass, Kelvo_QTObj* object, bool byRef = false) {
    sylhost::Value v = host().newInstance(hostClass);
    InstanceRecord* record = recordOf(v);
    EXPECT_TRUE(record);
    if (record) {
        // What the class's own constructor made gives way to the object handed in.
        if (record->object && !record->byRef) delete record->object;
        record->object = object;
        record->byRef = byRef ? 1 : 0;
    } else if (!byRef) {
        delete object;
    }
    return v;
}

} // namespace plugintest::linked
