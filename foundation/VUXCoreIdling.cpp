#include "VUXCoreIdling.h"

#include <cstring>

namespace VUX {

VUXIdler::~VUXIdler() = default;

VUXBaseIdler::VUXBaseIdler()
    : _autoIdlingEnabled(false), _idlingPeriod(0.0), _notification(0, kVUXIdleNotificationClass, this) {}

VUXBaseIdler::~VUXBaseIdler() = default;

bool VUXBaseIdler::autoIdlingEnabled() const {
    return _autoIdlingEnabled;
}

void VUXBaseIdler::autoIdlingEnabled(bool enabled) {
    if (autoIdlingEnabled() == enabled) return;
    _autoIdlingEnabled = enabled;
    if (_dispatcher) {
        _notification.notificationParams(&_autoIdlingEnabled);
        announce(kVUXAutoIdlingNotification);
    }
    _autoIdlingDidChange();
}

double VUXBaseIdler::idlingPeriod() const {
    return _idlingPeriod;
}

void VUXBaseIdler::idlingPeriod(double period) {
    if (idlingPeriod() == period) return;
    _idlingPeriod = period;
    if (_dispatcher) {
        _notification.notificationParams(&_idlingPeriod);
        announce(kVUXIdlingPeriodNotification);
    }
    _idlingPeriodDidChange();
}

void VUXBaseIdler::idle() {
    if (_dispatcher) announce(kVUXIdleNotification);
}

void VUXBaseIdler::announce(uint32_t type) {
    _notification.notificationType() = type;
    sendNotification(_notification);
}

const char* VUXBaseIdler::className() const {
    return "VUXBaseIdler";
}

bool VUXBaseIdler::isA(const char* name) const {
    if (VUXObject::isA(name)) return true;
    return name && (std::strcmp(name, "VUXBaseIdler") == 0 || std::strcmp(name, "VUXIdler") == 0 ||
                    std::strcmp(name, "VUXBaseNotificationSender") == 0);
}

void VUXBaseIdler::defaultStatus() {
    _autoIdlingEnabled = false;
    _idlingPeriod = 0.0;
}

void VUXBaseIdler::_autoIdlingDidChange() {}

void VUXBaseIdler::_idlingPeriodDidChange() {}

} // namespace VUX
