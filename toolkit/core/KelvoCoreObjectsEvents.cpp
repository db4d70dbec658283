#include "KelvoCoreObjectsEvents.h"

#include <cstring>
#include <new>

Kelvo_BaseEventsHandler::Kelvo_BaseEventsHandler(const Kelvo_BaseEventsHandler& other)
    : Kelvo_QTObj(other), _reference(other._reference), _callback(other._callback) {}

Kelvo_BaseEventsHandler& Kelvo_BaseEventsHandler::operator=(const Kelvo_BaseEventsHandler& other) {
    if (&other != this) copy(const_cast<Kelvo_BaseEventsHandler&>(other));
    return *this;
}

void Kelvo_BaseEventsHandler::defaultStatus() {
    _reference = nullptr;
    _callback = nullptr;
}

void Kelvo_BaseEventsHandler::copy(Kelvo_QTObj& source) {
    if (&source == this || !source.isA("Kelvo_BaseEventsHandler")) return;
    auto& other = static_cast<Kelvo_BaseEventsHandler&>(source);
    _reference = other._reference;
    _callback = other._callback;
}

bool Kelvo_BaseEventsHandler::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_QTObj::isA(name) || std::strcmp(name, "Kelvo_BaseEventsHandler") == 0;
}

void Kelvo_BaseEventsHandler::getEventsHandler(Kelvo_EventsCallback& callback, void*& reference) {
    callback = _callback;
    reference = _reference;
}

void Kelvo_BaseEventsHandler::setEventsHandler(Kelvo_EventsCallback callback, void* reference) {
    _callback = callback;
    _reference = reference;
}

void Kelvo_BaseEventsHandler::notifyEvent(uint32_t event, void* data, int32_t parameter) const {
    if (_callback) _callback(event, data, parameter, _reference);
}

void Kelvo_BaseEventsHandler::notifyError(int32_t error) {
    notifyEvent(kKelvoEventError, nullptr, error);
}

void Kelvo_BaseEventsHandler::notifyProgress(double progress) {
    double value = progress;
    notifyEvent(kKelvoEventProgress, &value, 0);
}

Kelvo_ProgressNotifier& Kelvo_ProgressNotifier::operator=(const Kelvo_ProgressNotifier& other) {
    initialize(other);
    return *this;
}

void Kelvo_ProgressNotifier::defaultStatus() {
    _callback = nullptr;
    _reference = nullptr;
}

Kelvo_QTObj* Kelvo_ProgressNotifier::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new (std::nothrow) Kelvo_ProgressNotifier(_callback, _reference);
}

void Kelvo_ProgressNotifier::initialize(const Kelvo_ProgressNotifier& other) {
    _callback = other._callback;
    _reference = other._reference;
}

void Kelvo_ProgressNotifier::Initialize(Kelvo_ProgressCallback callback, void* reference) {
    _callback = callback;
    _reference = reference;
}

void Kelvo_ProgressNotifier::Call(double progress, int32_t code) {
    if (_callback) _callback(progress, _reference, code);
}
