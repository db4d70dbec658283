// FenraProgressCallback: the progress of a long operation (a conversion, an export) told to the
// program. The operation calls its notifier with a progress from 0 to 1 and a status; the notifier
// of a FenraProgressCallback calls the instance's method
//   Progress(value as double, status as integer)
// which does nothing here and which a subclass of the program's overrides.
//
// Whoever runs the operation keeps a copy of the notifier (the converters clone what they are
// given), possibly long after the program has let go of the instance. Every copy shares one record
// with the original that names the instance; the instance's own notifier clears that name when it
// goes, so that copies outliving it call nobody.
#include "FenraBase.h"
#include "KelvoCoreObjectsEvents.h"

#include <new>
#include <string_view>

namespace {

constexpr const char* kProgressDeclaration = "Progress(value as double, status as integer)";

struct SharedTarget {
    REALobject instance = nullptr;
    int copies = 0;
};

void tellInstance(double progress, void* reference, int32_t code);

class FenraProgressNotifier : public Kelvo_ProgressNotifier {
  public:
    // The instance's own notifier.
    explicit FenraProgressNotifier(REALobject instance) : _target(new SharedTarget), _own(true) {
        _target->instance = instance;
        _target->copies = 1;
        Initialize(&tellInstance, _target);
    }
    FenraProgressNotifier(const FenraProgressNotifier& other)
        : Kelvo_ProgressNotifier(other), _target(other._target), _own(false) {
        ++_target->copies;
    }
    FenraProgressNotifier& operator=(const FenraProgressNotifier&) = delete;
    ~FenraProgressNotifier() override {
        if (_own) _target->instance = nullptr;
        if (--_target->copies == 0) delete _target;
    }

    Kelvo_QTObj* clone() override { return new (std::nothrow) FenraProgressNotifier(*this); }
    // Its callback and reference are what make it: a reset would leave the shared record behind.
    void defaultStatus() override { _status = 0; }

  private:
    SharedTarget* _target;
    bool _own;
};

void tellInstance(double progress, void* reference, int32_t code) {
    auto* target = static_cast<SharedTarget*>(reference);
    if (!target || !target->instance) return;
    REALproc method = REALLoadObjectMethod(target->instance, kProgressDeclaration);
    if (method)
        reinterpret_cast<void (*)(REALobject, double, RBInteger)>(method)(target->instance, progress,
                                                                          RBInteger(code));
}

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
