// The companion base plug-in: it registers the root classes that plug-in classes derive from and
// owns the toolkit object each of their instances holds.
//
// Every instance carries, at the start of its instance data, the record {toolkit object, byRef}.
// The root class FenraObject lays it out; plug-ins reach the same bytes through their own stub
// class of the same layout. When the host destroys an instance, the root's destructor deletes the
// toolkit object unless the instance only refers to it (byRef 1). The object may come from
// another plug-in's copy of the toolkit: it is deleted through its own virtual destructor.
#include "KelvoCoreObjects.h"
#include "REALplugin.h"
#include "REALpluginEventPump.h"

#include <cstdint>
#include <string_view>

namespace {

struct FenraBaseInstance {
    Kelvo_QTObj* object;
    uint8_t byRef;
};
static_assert(sizeof(FenraBaseInstance) == 2 * sizeof(void*));

void FenraObjectDestructor(REALobject self);

REALClassRecord rootRecord(const char* name, const char* superName) {
    return REALClassRecord{kREALPluginVersion,
                           name,
                           superName,
                           superName ? 0 : RBRecordWord(sizeof(FenraBaseInstance)),
                           0,
                           nullptr,
                           superName ? nullptr : reinterpret_cast<REALproc>(&FenraObjectDestructor),
                           nullptr,
                           0,
                           nullptr,
                           0,
                           nullptr,
                           0,
                           nullptr,
                           0,
                           nullptr,
                           nullptr,
                           0,
                           nullptr,
                           0,
                           0,
                           nullptr,
                           0,
                           nullptr,
                           0};
}

// Superclasses before subclasses. The presentations are for programs with windows only.
REALClassRecord gClasses[] = {
    rootRecord("FenraObject", nullptr),
    rootRecord("FenraDictionary", "FenraObject"),
    rootRecord("FenraList", "FenraObject"),
    rootRecord("FenraObjectsList", "FenraList"),
    rootRecord("FenraNumericalRange", "FenraObject"),
    rootRecord("FenraOSType", "FenraObject"),
    rootRecord("FenraProgressCallback", "FenraObject"),
    rootRecord("FenraSize", "FenraObject"),
    rootRecord("FenraPoint", "FenraObject"),
    rootRecord("FenraContour", "FenraObject"),
    rootRecord("FenraRect", "FenraObject"),
    rootRecord("FenraRegion", "FenraObject"),
    rootRecord("FenraTimeRange", "FenraObject"),
    rootRecord("FenraGraphicsContext", "FenraObject"),
    rootRecord("FenraUserData", "FenraObject"),
    rootRecord("FenraDataRef", "FenraObject"),
    rootRecord("FenraSampleDesc", "FenraObject"),
    rootRecord("FenraImageDesc", "FenraSampleDesc"),
    rootRecord("FenraImageDescComp", "FenraImageDesc"),
    rootRecord("FenraMedia", "FenraObject"),
    rootRecord("FenraMediaVideo", "FenraMedia"),
    rootRecord("FenraMediaSound", "FenraMedia"),
    rootRecord("FenraMediaText", "FenraMedia"),
    rootRecord("FenraMediaTimeCode", "FenraMedia"),
    rootRecord("FenraTrack", "FenraObject"),
    rootRecord("FenraMovie", "FenraObject"),
    rootRecord("FenraImageHistogram", "FenraObject"),
    rootRecord("FenraImageStatistics", "FenraObject"),
    rootRecord("FenraImage", "FenraObject"),
    rootRecord("FenraImageMono8Bit", "FenraImage"),
    rootRecord("FenraImage8Bit", "FenraImage"),
    rootRecord("FenraImage8BitFloat", "FenraImage"),
    rootRecord("FenraImage16Bit", "FenraImage"),
    rootRecord("FenraImageRGB", "FenraImage"),
    rootRecord("FenraImageARGB", "FenraImage"),
    rootRecord("FenraDataPresentation", "FenraObject"),
    rootRecord("FenraVideoPresentation", "FenraDataPresentation"),
};

void FenraObjectDestructor(REALobject self) {
    auto* record = static_cast<FenraBaseInstance*>(REALGetClassData(self, &gClasses[0]));
    if (!record) return;
    if (record->object && !record->byRef) delete record->object;
    record->object = nullptr;
}

bool windowsOnly(const REALClassRecord& record) {
    const std::string_view name = record.name;
    return name == "FenraDataPresentation" || name == "FenraVideoPresentation";
}

} // namespace

RBInteger PluginEntry() {
    realpump::registerEventPumpWithHost();
    for (auto& record : gClasses) {
        if (!windowsOnly(record)) SetClassConsoleSafe(&record);
        REALRegisterClass(&record);
    }
    return 0;
}
