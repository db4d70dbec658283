// The companion base plug-in: it registers the root classes that plug-in classes derive from and
// owns the toolkit object each of their instances holds.
//
// Every instance carries, at the start of its instance data, the record {toolkit object, byRef}.
// The root class FenraObject lays it out; plug-ins reach the same bytes through their own stub
// class of the same layout. When the host destroys an instance, the root's destructor deletes the
// toolkit object unless the instance only refers to it (byRef 1). The object may come from
// another plug-in's copy of the toolkit: it is deleted through its own virtual destructor.
#include "FenraBase.h"
#include "REALpluginEventPump.h"


#include <cstdint>
#include <cstring>
#include <deque>
#include <string_view>

namespace {

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

// The status of the toolkit object an instance holds (its last operation's result), for every
// class: 0 when the instance holds none.
RBInteger errorCode(REALobject self) {
    FenraBaseInstance* record = static_cast<FenraBaseInstance*>(REALGetClassData(self, &gClasses[0]));
    return record && record->object ? RBInteger(record->object->Error()) : 0;
}

// The members of every class, alive as long as the plug-in is loaded.
std::deque<FenraMembers>& membersStore() {
    static std::deque<FenraMembers> store;
    return store;
}

bool windowsOnly(const REALClassRecord& record) {
    const std::string_view name = record.name;
    return name == "FenraDataPresentation" || name == "FenraVideoPresentation";
}

void attachMembers(REALClassRecord& record) {
    FenraMembers& members = membersStore().emplace_back();
    FenraPresentationMembers(record.name, members);
    FenraImageMembers(record.name, members);
    FenraValueMembers(record.name, members);
    FenraMovieMembers(record.name, members);
    FenraProgressMembers(record.name, members);
    if (std::string_view(record.name) == "FenraObject")
        members.method("errorCode() as integer", reinterpret_cast<REALproc>(&errorCode));
    // Members of a class that console programs may use may be used there too.
    if (!windowsOnly(record)) {
        for (auto& p : members.properties)
            p.flags |= kREALConsoleSafe;
        for (auto& m : members.methods)
            m.flags |= kREALConsoleSafe;
    }
    record.properties = members.properties.empty() ? nullptr : members.properties.data();
    record.propertyCount = RBRecordWord(members.properties.size());
    record.methods = members.methods.empty() ? nullptr : members.methods.data();
    record.methodCount = RBRecordWord(members.methods.size());
    record.constants = members.constants.empty() ? nullptr : members.constants.data();
    record.constantCount = RBRecordWord(members.constants.size());
}

} // namespace

FenraBaseInstance* FenraRecordOf(REALobject object) {
    return object ? static_cast<FenraBaseInstance*>(REALGetClassData(object, &gClasses[0])) : nullptr;
}

Kelvo_QTObj* FenraObjectOf(REALobject object, const char* toolkitClass) {
    FenraBaseInstance* record = FenraRecordOf(object);
    if (!record || !record->object) return nullptr;
    if (toolkitClass && !record->object->isA(toolkitClass)) return nullptr;
    return record->object;
}

void FenraSetObject(REALobject self, Kelvo_QTObj* object, uint8_t byRef) {
    FenraBaseInstance* record = FenraRecordOf(self);
    if (!record) {
        if (!byRef) delete object;
        return;
    }
    if (record->object && !record->byRef && record->object != object) delete record->object;
    record->object = object;
    record->byRef = byRef;
}

REALobject FenraWrapNew(Kelvo_QTObj* object, const char* hostClass) {
    if (!object) return nullptr;
    REALobject instance = REALnewInstance(hostClass);
    FenraBaseInstance* record = FenraRecordOf(instance);
    if (!record) {
        delete object;
        REALUnlockObject(instance);
        return nullptr;
    }
    record->object = object;
    record->byRef = 0;
    return instance;
}

std::string FenraFolderItemPath(REALobject item) {
    REALstring path = REALpathFromFolderItem(item);
    if (!path) return {};
    size_t size = 0;
    const void* bytes = REALGetStringContents(path, &size);
    std::string text(static_cast<const char*>(bytes), size);
    REALUnlockString(path);
    return text;
}

FenraMembers& FenraMembers::property(const char* name, const char* type, REALproc getter, REALproc setter) {
    properties.push_back(REALPropertyRecord{"", name, type, 0, getter, setter, 0, {}});
    return *this;
}

FenraMembers& FenraMembers::method(const char* declaration, REALproc function, REALproc setter) {
    methods.push_back(REALMethodRecord{function, setter, declaration, 0, {}});
    return *this;
}

FenraMembers& FenraMembers::constant(const char* declaration) {
    constants.push_back(REALConstantRecord{declaration, {}});
    return *this;
}

RBInteger PluginEntry() {
    // Timers of the toolkit objects the companion makes (a movie it opens) run from the host's
    // event loop, like every plug-in's.
    realpump::registerEventPumpWithHost();
    for (auto& record : gClasses) {
        attachMembers(record);
        if (!windowsOnly(record)) SetClassConsoleSafe(&record);
        REALRegisterClass(&record);
    }
    return 0;
}
