#include "KelvoCoreComponents.h"

#include <cstring>

Kelvo_Component::Kelvo_Component() {
    _status = paramErr;
}

Kelvo_Component::Kelvo_Component(Component component) : _component(component) {
    if (!component) _status = paramErr;
}

Kelvo_Component::Kelvo_Component(ComponentInstance instance, bool adopt)
    : _component(reinterpret_cast<Component>(instance)), _instance(adopt ? instance : nullptr) {
    if (!instance) _status = paramErr;
}

Kelvo_Component::~Kelvo_Component() {
    if (!_instance) return;
    // Clocks are the component instances the core makes itself.
    if (platform::isClockInstance(_instance)) {
        platform::closeClock(_instance);
    } else {
        CloseComponent(_instance);
    }
}

bool Kelvo_Component::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_QTObj::isA(name) || std::strcmp(name, "Kelvo_Component") == 0;
}

Kelvo_Clock::Kelvo_Clock(ComponentInstance instance, unsigned char adopt, unsigned char owns)
    : Kelvo_Component(instance, adopt != 0), _owns(owns) {}

Kelvo_Clock::~Kelvo_Clock() {
    // A clock that is not ours stays open: forget it before the component closes its instance.
    if (!_owns) _instance = nullptr;
}

bool Kelvo_Clock::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_Component::isA(name) || std::strcmp(name, "Kelvo_Clock") == 0;
}
