// FenraProgressCallback: the progress of a long operation (a conversion, an export) told to the
// program. The operation calls its notifier with a progress from 0 to 1 and a status; the notifier
// of a FenraProgressCallback calls the instance's method
//   Progress(value as double, status as integer)
// which does nothing here and which a subclass of the program's overrides.
//
// Whoever runs the operation keeps a copy of the notifier (the converters clone what they are
// given; other holders copy it as a plain notifier), possibly long after the program has let go of
// the instance. So a notifier does not point at the instance: it carries a number, never reused,
// that the instance's own notifier enters in a table of live instances and takes out when it goes.
// Copies outliving the instance find nobody under their number and call nobody.
#include "FenraBase.h"
#include "KelvoCoreObjectsEvents.h"

#include <cstdint>
#include <new>
#include <string_view>
#include <unordered_map>

namespace {

constexpr const char* kProgressDeclaration = "Progress(value as double, status as integer)";

std::unordered_map<uintptr_t, REALobject>& liveInstances() {
    static std::unordered_map<uintptr_t, REALobject> instances;
    return instances;
}

void tellInstance(double progress, void* reference, int32_t code) {
    const auto found = liveInstances().find(reinterpret_cast<uintptr_t>(reference));
    if (found == liveInstances().end()) return;
    REALobject instance = found->second;
    REALproc method = REALLoadObjectMethod(instance, kProgressDeclaration);
    if (method)
        reinterpret_cast<void (*)(REALobject, double, RBInteger)>(method)(instance, progress,
                                                                          RBInteger(code));
}

// The instance's own notifier: its copies are plain notifiers with the same callback and number.
class FenraProgressNotifier : public Kelvo_ProgressNotifier {
  public:
    explicit FenraProgressNotifier(REALobject instance) {
        static uintptr_t lastNumber = 0;
        _number = ++lastNumber;
        liveInstances()[_number] = instance;
        Initialize(&tellInstance, reinterpret_cast<void*>(_number));
    }
    FenraProgressNotifier(const FenraProgressNotifier&) = delete;
    FenraProgressNotifier& operator=(const FenraProgressNotifier&) = delete;
    ~FenraProgressNotifier() override { liveInstances().erase(_number); }

  private:
    uintptr_t _number = 0;
};

void progressCtr(REALobject self) {
    if (auto* notifier = new (std::nothrow) FenraProgressNotifier(self)) FenraSetObject(self, notifier);
}

// What the instance does with the progress unless a subclass says otherwise: nothing.
void progressDefault(REALobject, double, RBInteger) {}

} // namespace

void FenraProgressMembers(const char* className, FenraMembers& m) {
    if (std::string_view(className) != "FenraProgressCallback") return;
    m.method("Constructor()", FenraProc(&progressCtr))
        .method(kProgressDeclaration, FenraProc(&progressDefault));
}
