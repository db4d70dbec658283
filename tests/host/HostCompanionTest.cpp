#include "HostRuntime.h"
#include "KelvoCoreObjects.h"

#include <gtest/gtest.h>

using namespace sylhost;

namespace {

// A toolkit object whose end the test can see.
class Watched : public Kelvo_QTObj {
  public:
    explicit Watched(bool* gone) : _gone(gone) {}
    ~Watched() override { *_gone = true; }
    const char* qtObjName() const override { return "Watched"; }

  private:
    bool* _gone;
};

struct Record {
    Kelvo_QTObj* object;
    uint8_t byRef;
};

HostRuntime& companionHost() {
    static HostRuntime* host = [] {
        auto* h = new HostRuntime();
        std::string error;
        EXPECT_GE(h->loadPlugin(FENRA_BASE_PLUGIN, error), 0) << error;
        return h;
    }();
    return *host;
}

Record* recordOf(HostRuntime& host, const Value& object) {
    auto getData =
        reinterpret_cast<void* (*)(REALobject, REALClassRecord*)>(HostRuntime::resolve("REALGetClassData"));
    return static_cast<Record*>(getData(object.object(), host.findClass("FenraObject")->record));
}

} // namespace

TEST(HostCompanion, RegistersTheRootClassesWithTheInstanceRecord) {
    HostRuntime& host = companionHost();
    const PluginInfo& companion = host.plugins().at(0);
    EXPECT_TRUE(companion.problems.empty());
    EXPECT_EQ(companion.classes.size(), 37u);
    for (const char* name : {"FenraObject",
                             "FenraDictionary",
                             "FenraList",
                             "FenraObjectsList",
                             "FenraNumericalRange",
                             "FenraOSType",
                             "FenraProgressCallback",
                             "FenraSize",
                             "FenraPoint",
                             "FenraContour",
                             "FenraRect",
                             "FenraRegion",
                             "FenraTimeRange",
                             "FenraGraphicsContext",
                             "FenraUserData",
                             "FenraDataRef",
                             "FenraSampleDesc",
                             "FenraImageDesc",
                             "FenraImageDescComp",
                             "FenraMediaVideo",
                             "FenraMediaSound",
                             "FenraMediaText",
                             "FenraMediaTimeCode",
                             "FenraMedia",
                             "FenraTrack",
                             "FenraMovie",
                             "FenraImageHistogram",
                             "FenraImageStatistics",
                             "FenraImage",
                             "FenraImageMono8Bit",
                             "FenraImage8Bit",
                             "FenraImage8BitFloat",
                             "FenraImage16Bit",
                             "FenraImageRGB",
                             "FenraImageARGB",
                             "FenraDataPresentation",
                             "FenraVideoPresentation"}) {
        const ClassInfo* cls = host.findClass(name);
        ASSERT_TRUE(cls) << name;
        EXPECT_TRUE(cls->isKindOf("FenraObject")) << name;
        // Every instance has the record at the start of its data.
        EXPECT_EQ(cls->instanceSize, 2 * sizeof(void*)) << name;
    }
    EXPECT_FALSE(host.findClass("FenraVideoPresentation")->consoleSafe());
    EXPECT_TRUE(host.findClass("FenraImageRGB")->consoleSafe());
}

TEST(HostCompanion, TheRootClassFreesOwnedObjectsOnly) {
    HostRuntime& host = companionHost();
    bool ownedGone = false, borrowedGone = false;
    Watched borrowed(&borrowedGone);
    {
        Value owner = host.newInstance("FenraImageRGB");
        Value referrer = host.newInstance("FenraDictionary");
        ASSERT_TRUE(recordOf(host, owner) && recordOf(host, referrer));
        EXPECT_EQ(recordOf(host, owner)->object, nullptr); // zero-filled
        *recordOf(host, owner) = Record{new Watched(&ownedGone), 0};
        *recordOf(host, referrer) = Record{&borrowed, 1};
    }
    EXPECT_TRUE(ownedGone);
    EXPECT_FALSE(borrowedGone);
    EXPECT_EQ(host.liveObjects(), 0u);
}
