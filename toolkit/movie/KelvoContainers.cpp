#include "KelvoContainers.h"

#include "KelvoGraphicsDisplay.h"

#include <cstring>
#include <new>

namespace {

// A new array holding a copy of `text` (null for null).
char* copyText(const char* text) {
    if (!text) return nullptr;
    const size_t n = std::strlen(text) + 1;
    char* copy = new (std::nothrow) char[n];
    if (copy) std::memcpy(copy, text, n);
    return copy;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Kelvo_EditState

Kelvo_EditState::Kelvo_EditState(Kelvo_EditStateRegistrable& owner) : _owner(&owner) {
    _uid.formatType(2);
    _uid.splitter('-');
    _editState = owner.registerState();
}

Kelvo_EditState::Kelvo_EditState(Kelvo_EditStateRegistrable& owner, const char* text)
    : Kelvo_EditState(owner) {
    description(text);
}

Kelvo_EditState::~Kelvo_EditState() {
    delete[] _description;
    _description = nullptr;
    // Only a snapshot that was taken is handed back for disposal.
    if (_editState) _owner->removeState(*this);
}

bool Kelvo_EditState::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_QTObj::isA(name) || std::strcmp(name, "Kelvo_EditState") == 0;
}

void Kelvo_EditState::description(const char* text) {
    if (!qtObjIsValid() || text == _description) return;
    delete[] _description;
    _description = copyText(text);
    if (text && !_description) _status = memFullErr;
}

const char* Kelvo_EditState::description() {
    return _description ? _description : _uid.stringValue();
}

int32_t Kelvo_EditState::use() {
    if (!qtObjIsValid()) return 0;
    return _owner->useState(*this);
}

// ---------------------------------------------------------------------------------------------
// Kelvo_Container

Kelvo_Container::~Kelvo_Container() {
    _editStates.clear();
}

bool Kelvo_Container::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_QTObj::isA(name) || std::strcmp(name, "Kelvo_Container") == 0;
}

int32_t Kelvo_Container::getProperty(uint32_t, uint32_t, void*) {
    return 0;
}

int32_t Kelvo_Container::setProperty(uint32_t, uint32_t, void*, uint32_t) {
    return 0;
}

void Kelvo_Container::timeInfo(Kelvo_TimeRange64& range) {
    range.start() = time();
    range.duration() = double(duration()) - range.start();
    range.scale() = timeScale();
}

void Kelvo_Container::duration(int32_t newDuration) {
    duration(nullptr, newDuration);
}

void Kelvo_Container::qtBounds(Kelvo_Rect&) {}

Kelvo_CoreDisplayParams* Kelvo_Container::displayParams() {
    if (!qtObjIsValid()) return nullptr;
    return new (std::nothrow) Kelvo_CoreDisplayParams(this);
}

bool Kelvo_Container::qtAddState(char* name) {
    return editStateRegister(name);
}

bool Kelvo_Container::editStateRegister(const char* name) {
    Kelvo_EditState* state = new (std::nothrow) Kelvo_EditState(*this, name);
    if (!state) {
        _status = memFullErr;
        return false;
    }
    if (!state->qtObjIsValid()) {
        // The owner's refusal may have left its own error: a state without one keeps it.
        if (state->Error() != 0) _status = state->Error();
        delete state;
        return false;
    }
    const int32_t before = _editStates.count();
    _editStates.addObjValueByRef(state);
    if (_editStates.count() == before) {
        // The list did not take it: the state is still ours to delete.
        _status = _editStates.Error();
        delete state;
        return false;
    }
    return true;
}

Kelvo_EditState* Kelvo_Container::stateAt(int32_t index) {
    Kelvo_QTObj* object = _editStates.getObjValueByRef(index);
    return object && object->isA("Kelvo_EditState") ? static_cast<Kelvo_EditState*>(object) : nullptr;
}

int32_t Kelvo_Container::qtUseState(int32_t index) {
    Kelvo_EditState* state = stateAt(index);
    if (!state) return 0;
    if (!state->qtObjIsValid()) return 0;
    return useState(*state);
}

void Kelvo_Container::qtRemoveState(int32_t index) {
    _editStates.RemoveKey(index);
}

void Kelvo_Container::getStateName(char*& name, int32_t index) {
    name = nullptr;
    Kelvo_EditState* state = stateAt(index);
    if (!state) return;
    name = copyText(state->description());
    if (!name) _status = memFullErr;
}

void Kelvo_Container::setStateName(char* name, int32_t index) {
    if (Kelvo_EditState* state = stateAt(index)) state->description(name);
}

int16_t Kelvo_Container::stateCount() {
    return int16_t(_editStates.count());
}

void Kelvo_Container::removeAllStates() {
    _editStates.clear();
}
