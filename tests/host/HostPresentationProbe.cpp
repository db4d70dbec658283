// A plug-in made for the tests: it opens a movie file and hands its pictures out as a
// FenraVideoPresentation, so that the companion's presentation members are driven across two
// plug-ins, each with its own toolkit, platform, main loop and clock, as with the DICOM plug-in.
#include "KelvoMovie.h"
#include "KelvoMoviePresentations.h"
#include "REALplugin.h"
#include "REALpluginEventPump.h"

#include <cstdint>
#include <string>

namespace {

struct InstanceRecord {
    Kelvo_QTObj* object;
    uint8_t byRef;
};

// A root class of the same data layout as the companion's root: its data is the instance record
// of every host object.
REALClassRecord makeStub() {
    REALClassRecord r{};
    r.version = kREALPluginVersion;
    r.name = "_PresentationProbeStub";
    r.dataSize = RBRecordWord(sizeof(InstanceRecord));
    return r;
}
REALClassRecord gStub = makeStub();

// "movieVideo(f as folderitem) as FenraVideoPresentation": the movie's pictures, or nil.
REALobject movieVideo(REALobject file) {
    REALstring path = REALpathFromFolderItem(file);
    if (!path) return nullptr;
    Kelvo_Movie movie(REALCString(path));
    REALUnlockString(path);
    auto* play = new Kelvo_MovieVideoPlay();
    play->initDataSource(movie);
    if (!play->qtObjIsValid()) {
        delete play;
        return nullptr;
    }
    REALobject instance = REALnewInstance("FenraVideoPresentation");
    auto* record = static_cast<InstanceRecord*>(REALGetClassData(instance, &gStub));
    if (!record) {
        delete play;
        REALUnlockObject(instance);
        return nullptr;
    }
    record->object = play;
    record->byRef = 0;
    return instance;
}

REALMethodRecord gMethods[] = {
    {reinterpret_cast<REALproc>(&movieVideo),
     nullptr,
     "movieVideo(f as folderitem) as FenraVideoPresentation",
     0,
     {}},
};

REALModuleRecord makeModule() {
    REALModuleRecord m{};
    m.version = kREALPluginVersion;
    m.name = "PresentationProbe";
    m.methods = gMethods;
    m.methodCount = 1;
    return m;
}
REALModuleRecord gModule = makeModule();

} // namespace

RBInteger PluginEntry() {
    realpump::registerEventPumpWithHost();
    REALRegisterClass(&gStub);
    return REALRegisterModule(&gModule);
}
