#include "KelvoCoreObjectsDescriptors.h"

#include "KelvoCoreObjectsUtils.h"

#include "PlatformErrors.h"
#include "PlatformMemory.h"
#include "PlatformMovies.h"
#include "PlatformSequenceGrabber.h"
#include "PlatformPendingCalls.h"

#include <cstddef>
#include <cstring>

// ---------------------------------------------------------------------------------------------
// Kelvo_MediaDataDescriptor

Kelvo_MediaDataDescriptor::Kelvo_MediaDataDescriptor(SampleDescriptionHandle desc) {
    _desc = copyOf(reinterpret_cast<Handle>(desc));
}

Kelvo_MediaDataDescriptor::~Kelvo_MediaDataDescriptor() {
    if (_desc) DisposeHandle(_desc);
    if (_extension) DisposeHandle(_extension);
}

void Kelvo_MediaDataDescriptor::defaultStatus() {
    if (_desc) DisposeHandle(_desc);
    if (_extension) DisposeHandle(_extension);
    _desc = _extension = nullptr;
}

bool Kelvo_MediaDataDescriptor::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_QTObj::isA(name) || std::strcmp(name, "Kelvo_MediaDataDescriptor") == 0;
}

Handle Kelvo_MediaDataDescriptor::copyOf(Handle h) {
    if (!h) return nullptr;
    int32_t error = 0;
    Handle copy = Kelvo_Utils::HandleCopy(h, error);
    if (!copy) _status = error;
    return copy;
}

Handle Kelvo_MediaDataDescriptor::hdescCopy() {
    return copyOf(_desc);
}

Handle Kelvo_MediaDataDescriptor::hdescExtensionCopy() {
    return copyOf(_extension);
}

bool Kelvo_MediaDataDescriptor::pCopy(const Kelvo_MediaDataDescriptor& other) {
    if (&other == this) return false;
    // The handles go whatever a subclass's defaults are: they are replaced right below.
    Kelvo_MediaDataDescriptor::defaultStatus();
    if (!other.qtObjIsValid()) {
        _status = kKelvoBadArgumentObject;
        return false;
    }
    _desc = copyOf(other._desc);
    if (!_desc) return false;
    if (other._extension) _extension = copyOf(other._extension);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Kelvo_SmpDescriptor

Kelvo_SmpDescriptor::Kelvo_SmpDescriptor(int32_t size) : _descriptorSize(size) {
    init();
}

Kelvo_SmpDescriptor::Kelvo_SmpDescriptor(const Kelvo_SmpDescriptor& other) : Kelvo_MediaDataDescriptor() {
    if (pCopy(other)) _descriptorSize = other._descriptorSize;
}

Kelvo_SmpDescriptor::Kelvo_SmpDescriptor(SampleDescriptionHandle desc) : _descriptorSize(0) {
    copy(desc);
}

Kelvo_SmpDescriptor::Kelvo_SmpDescriptor(Media media, int32_t index) {
    if (!media) {
        _status = invalidMedia;
        return;
    }
    init();
    if (!_desc) return;
    GetMediaSampleDescription(media, index, reinterpret_cast<SampleDescriptionHandle>(_desc));
    _descriptorSize = GetHandleSize(_desc);
    if (_descriptorSize == 0) {
        _status = GetMoviesError();
        DisposeHandle(_desc);
        _desc = nullptr;
    }
}

Kelvo_SmpDescriptor::Kelvo_SmpDescriptor(SGChannel channel) {
    if (!channel) {
        _status = paramErr;
        return;
    }
    init();
    if (!_desc) return;
    _status = SGGetChannelSampleDescription(channel, _desc);
    if (_status != noErr) {
        DisposeHandle(_desc);
        _desc = nullptr;
        return;
    }
    _descriptorSize = GetHandleSize(_desc);
}

void Kelvo_SmpDescriptor::copy(Kelvo_QTObj& source) {
    if (source.isA("Kelvo_SmpDescriptor")) copy(static_cast<const Kelvo_SmpDescriptor&>(source));
}

Kelvo_QTObj* Kelvo_SmpDescriptor::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new Kelvo_SmpDescriptor(*this);
}

bool Kelvo_SmpDescriptor::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_MediaDataDescriptor::isA(name) || std::strcmp(name, "Kelvo_SmpDescriptor") == 0;
}

void Kelvo_SmpDescriptor::init() {
    if (_descriptorSize < 0) return;
    Handle h = NewHandleClear(_descriptorSize);
    if (!h) {
        _status = MemError();
        return;
    }
    // A size too small for the size word holds only zeros.
    if (_descriptorSize >= Size(sizeof(int32_t))) std::memcpy(*h, &_descriptorSize, sizeof(int32_t));
    // The description this one replaces is released, not leaked.
    if (_desc) DisposeHandle(_desc);
    _desc = h;
}

bool Kelvo_SmpDescriptor::copy(const Kelvo_SmpDescriptor& other) {
    bool ok = pCopy(other);
    if (ok) _descriptorSize = other._descriptorSize;
    return ok;
}

bool Kelvo_SmpDescriptor::copy(SampleDescriptionHandle desc) {
    if (!desc) {
        _status = kKelvoNothingToWorkOn;
        return false;
    }
    if (reinterpret_cast<Handle>(desc) == _desc) return false;
    Kelvo_MediaDataDescriptor::defaultStatus();
    _desc = copyOf(reinterpret_cast<Handle>(desc));
    if (_desc) _descriptorSize = GetHandleSize(_desc);
    return _desc != nullptr;
}

SampleDescriptionHandle Kelvo_SmpDescriptor::hSampleDescCopy() {
    return reinterpret_cast<SampleDescriptionHandle>(copyOf(_desc));
}

bool Kelvo_SmpDescriptor::readField(Size offset, void* out, Size size) const {
    if (!_desc || !*_desc || GetHandleSize(_desc) < offset + size) return false;
    std::memcpy(out, *_desc + offset, size_t(size));
    return true;
}

bool Kelvo_SmpDescriptor::writeField(Size offset, const void* in, Size size) {
    if (!_desc || !*_desc || GetHandleSize(_desc) < offset + size) return false;
    std::memcpy(*_desc + offset, in, size_t(size));
    return true;
}

uint32_t Kelvo_SmpDescriptor::dataFormat() {
    uint32_t v = 0;
    return readField(offsetof(SampleDescription, dataFormat), &v, sizeof v) ? v : 0;
}

void Kelvo_SmpDescriptor::dataFormat(uint32_t format) {
    writeField(offsetof(SampleDescription, dataFormat), &format, sizeof format);
}

int32_t Kelvo_SmpDescriptor::descSize() {
    int32_t v = 0;
    return readField(offsetof(SampleDescription, descSize), &v, sizeof v) ? v : 0;
}

int16_t Kelvo_SmpDescriptor::descIndex() {
    int16_t v = 0;
    return readField(offsetof(SampleDescription, dataRefIndex), &v, sizeof v) ? v : 0;
}
