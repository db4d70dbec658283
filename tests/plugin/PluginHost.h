// The host of a plug-in test program: the companion base plug-in and the plug-in under test,
// loaded once for the whole process.
#pragma once

#include "HostRuntime.h"
#include "KelvoCoreObjects.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

namespace plugintest {

inline sylhost::HostRuntime& host() {
    static sylhost::HostRuntime* h = [] {
        auto* runtime = new sylhost::HostRuntime();
        std::string error;
        EXPECT_GE(runtime->loadPlugin(FENRA_BASE_PLUGIN, error), 0) << error;
        EXPECT_EQ(runtime->loadPlugin(PLUGIN_UNDER_TEST, error), 1) << error;
        return runtime;
    }();
    return *h;
}

struct InstanceRecord {
    Kelvo_QTObj* object;
    uint8_t byRef;
};

// The record of a host object, at the place the companion's root class keeps it.
inline InstanceRecord* recordOf(const sylhost::Value& object) {
    auto getData = reinterpret_cast<void* (*)(REALobject, REALClassRecord*)>(
        sylhost::HostRuntime::resolve("REALGetClassData"));
    return static_cast<InstanceRecord*>(getData(object.object(), host().findClass("FenraObject")->record));
}

// The class name of the toolkit object a host object holds ("" when none).
inline std::string toolkitClass(const sylhost::Value& object) {
    InstanceRecord* record = recordOf(object);
    return record && record->object ? record->object->qtObjName() : "";
}

// Every test leaves as many host objects and strings alive as it found.
class PluginTest : public ::testing::Test {
  protected:
    void SetUp() override {
        objects = host().liveObjects();
        strings = host().liveStrings();
    }
    void TearDown() override {
        EXPECT_EQ(host().liveObjects(), objects);
        EXPECT_EQ(host().liveStrings(), strings);
    }
    size_t objects = 0, strings = 0;
};

} // namespace plugintest
