#include "VUXCoreNotification.h"

#include <cstring>
#include <ios>
#include <ostream>
#include <stdexcept>
#include <typeinfo>

namespace VUX {

// ---------------------------------------------------------------------------------------------
// VUXBaseNotification

VUXBaseNotification::VUXBaseNotification() : _params(nullptr), _sender(nullptr) {}

VUXBaseNotification::VUXBaseNotification(uint32_t type, uint32_t notificationClass, VUXObject* sender)
    : _codes(notificationClass, type), _params(nullptr), _sender(sender) {}

VUXBaseNotification::VUXBaseNotification(VUXBaseNotification const& other)
    : VUXObject(other), _codes(other._codes), _params(other._params), _sender(other._sender) {}

VUXBaseNotification::~VUXBaseNotification() = default;

VUXBaseNotification& VUXBaseNotification::operator=(VUXBaseNotification const& other) {
    copy(other);
    return *this;
}

void VUXBaseNotification::error(int32_t err) {
    _error = err;
}

const char* VUXBaseNotification::className() const {
    return "VUXBaseNotification";
}

bool VUXBaseNotification::isA(const char* name) const {
    return VUXObject::isA(name) || (name && std::strcmp(name, "VUXBaseNotification") == 0);
}

bool VUXBaseNotification::isValid() const {
    return _codes.right != 0;
}

void VUXBaseNotification::defaultStatus() {
    VUXObject::defaultStatus();
    _codes.defaultStatus();
    _params = nullptr;
}

VUXObject* VUXBaseNotification::_clone() const {
    return new VUXBaseNotification(*this);
}

void VUXBaseNotification::_readableDescription(std::ostream& stream) const {
    stream << "<class>" << _codes.left << "</class>\n<type>" << _codes.right << "</type>\n";
    // The params address is shown in hexadecimal; the caller's stream keeps its own base.
    const std::ios::fmtflags flags = stream.flags();
    stream << "<addressParams>" << std::hex << reinterpret_cast<uintptr_t>(_params);
    stream.flags(flags);
    stream << "</addressParams>\n";
    if (_sender) {
        stream << "<sender>";
        _sender->write(stream);
        stream << "</sender>\n";
    } else {
        stream << "<sender/>\n";
    }
}

bool VUXBaseNotification::_compare(VUXObject const& other) const {
    auto const& o = dynamic_cast<VUXBaseNotification const&>(other);
    return _codes.left == o._codes.left && _codes.right == o._codes.right && _params == o._params &&
           _sender == o._sender;
}

void VUXBaseNotification::_copy(VUXObject const& other) {
    auto const& o = dynamic_cast<VUXBaseNotification const&>(other);
    _codes.left = o._codes.left;
    _codes.right = o._codes.right;
    _params = o._params;
    _sender = o._sender;
}

// ---------------------------------------------------------------------------------------------
// VUXBaseNotificationSender

VUXBaseNotificationSender::~VUXBaseNotificationSender() = default;

bool VUXBaseNotificationSender::sendNotification(VUXBaseNotification const& notification) const {
    return _dispatcher ? _dispatcher->postNotification(notification) : false;
}

VUXBaseNotificationDispatcher const* VUXBaseNotificationSender::dispatcher() const {
    return _dispatcher;
}

void VUXBaseNotificationSender::dispatcher(VUXBaseNotificationDispatcher const* dispatcher) {
    _dispatcher = dispatcher;
}

// ---------------------------------------------------------------------------------------------
// VUXBaseNotificationObserver

VUXBaseNotificationObserver::~VUXBaseNotificationObserver() = default;

bool VUXBaseNotificationObserver::handleNotification(VUXBaseNotification const& notification) {
    if (notification.isValid() && _callback) _callback(notification, _userData);
    return false;
}

VUXNotificationCallback VUXBaseNotificationObserver::callback() const {
    return _callback;
}

void VUXBaseNotificationObserver::callback(VUXNotificationCallback callback) {
    _callback = callback;
}

void* VUXBaseNotificationObserver::userData() const {
    return _userData;
}

void VUXBaseNotificationObserver::userData(const void* userData) {
    _userData = const_cast<void*>(userData);
}

// ---------------------------------------------------------------------------------------------
// VUXBaseNotificationDispatcher

VUXBaseNotificationDispatcher::VUXBaseNotificationDispatcher() : _observers(0, true) {}

VUXBaseNotificationDispatcher::~VUXBaseNotificationDispatcher() = default;

int64_t VUXBaseNotificationDispatcher::count() const {
    return _observers.count();
}

bool VUXBaseNotificationDispatcher::add(VUXBaseNotificationObserver* observer) {
    if (!observer) {
        _error = vuxNullParamErr;
        return false;
    }
    if (_observers._indexOfItem(observer) >= 0) return false;
    return _observers.append(observer);
}

void VUXBaseNotificationDispatcher::remove(VUXBaseNotificationObserver* observer) {
    const int64_t index = _observers._indexOfItem(observer);
    if (index < 0) return;
    try {
        _observers.remove(index);
    } catch (std::out_of_range const&) {
        _error = vuxParamErr;
    }
}

bool VUXBaseNotificationDispatcher::postNotification(VUXBaseNotification const& notification) const {
    // The list is read afresh at every step, so an observer that removes itself or another
    // one while it is called leaves nothing dangling behind.
    for (int64_t i = 0; i < _observers.count(); ++i) {
        VUXBaseNotificationObserver* observer = _observers.item(i);
        if (observer && observer->handleNotification(notification)) return true;
    }
    return false;
}

const char* VUXBaseNotificationDispatcher::className() const {
    return "VUXBaseNotificationDispatcher";
}

bool VUXBaseNotificationDispatcher::isA(const char* name) const {
    return VUXObject::isA(name) || (name && std::strcmp(name, "VUXBaseNotificationDispatcher") == 0);
}

bool VUXBaseNotificationDispatcher::isValid() const {
    return _observers.isValid();
}

void VUXBaseNotificationDispatcher::defaultStatus() {
    VUXObject::defaultStatus();
    _observers._removeAll();
}

void VUXBaseNotificationDispatcher::_readableDescription(std::ostream& stream) const {
    stream << "Listeners=" << _observers.count() << ";\n";
}

} // namespace VUX
