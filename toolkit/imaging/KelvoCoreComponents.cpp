#include "KelvoCoreComponents.h"

#include "PlatformGWorlds.h"
#include "PlatformMemory.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

bool isCodecComponentType(uint32_t type) {
    return type == compressorComponentType || type == decompressorComponentType;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Kelvo_QTObjComponent

Kelvo_QTObjComponent::Kelvo_QTObjComponent(const Kelvo_QTObjComponent& other) : Kelvo_QTObj(other) {
    init(other);
}

Kelvo_QTObjComponent& Kelvo_QTObjComponent::operator=(const Kelvo_QTObjComponent& other) {
    if (&other != this) Copy(const_cast<Kelvo_QTObjComponent&>(other));
    return *this;
}

Kelvo_QTObjComponent::~Kelvo_QTObjComponent() {
    clearFields();
}

void Kelvo_QTObjComponent::copy(Kelvo_QTObj& source) {
    if (&source == this || !source.isA("Kelvo_QTObjComponent")) return;
    Copy(static_cast<Kelvo_QTObjComponent&>(source));
}

Kelvo_QTObj* Kelvo_QTObjComponent::clone() {
    return new (std::nothrow) Kelvo_QTObjComponent(*this);
}

bool Kelvo_QTObjComponent::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_QTObj::isA(name) || std::strcmp(name, "Kelvo_QTObjComponent") == 0;
}

void Kelvo_QTObjComponent::Copy(Kelvo_QTObjComponent& other) {
    if (&other == this) return;
    reset();
    init(other);
}

void Kelvo_QTObjComponent::reset() {
    clearFields();
    _status = 0;
}

void Kelvo_QTObjComponent::clearFields() {
    delete[] _name;
    _name = nullptr;
    std::memset(_pName, 0, sizeof _pName);
    _type = _subType = _manufacturer = 0;
    if (_iconSuite) DisposeHandle(_iconSuite);
    _iconSuite = nullptr;
    _properties = 0;
}

void Kelvo_QTObjComponent::init(const Kelvo_QTObjComponent& other) {
    if (&other == this) return;
    setName(other._name);
    Handle icon = other._iconSuite;
    if (icon && HandToHand(&icon) != noErr) {
        icon = nullptr;
        _status = memFullErr;
    }
    adoptIconSuite(icon);
    _properties = other._properties;
    _type = other._type;
    _subType = other._subType;
    _manufacturer = other._manufacturer;
}

void Kelvo_QTObjComponent::setName(const char* name) {
    delete[] _name;
    _name = nullptr;
    std::memset(_pName, 0, sizeof _pName);
    if (!name) return;
    const size_t n = std::strlen(name);
    _name = new (std::nothrow) char[n + 1];
    if (!_name) {
        _status = memFullErr;
        return;
    }
    std::memcpy(_name, name, n + 1);
    const size_t p = n < 255 ? n : 255;
    _pName[0] = uint8_t(p);
    std::memcpy(_pName + 1, name, p);
}

void Kelvo_QTObjComponent::setPStrName(const unsigned char* pname) {
    char text[256];
    const size_t n = pname ? pname[0] : 0;
    if (n) std::memcpy(text, pname + 1, n);
    text[n] = '\0';
    setName(text);
}

void Kelvo_QTObjComponent::adoptIconSuite(Handle iconSuite) {
    if (_iconSuite && _iconSuite != iconSuite) DisposeHandle(_iconSuite);
    _iconSuite = iconSuite;
}

Component Kelvo_QTObjComponent::threadSafeComponent(ComponentDescription& description) {
    for (Component c = FindNextComponent(nullptr, &description); c; c = FindNextComponent(c, &description)) {
        ComponentDescription found{};
        if (GetComponentInfo(c, &found, nullptr, nullptr, nullptr) == noErr &&
            (found.componentFlags & kThreadSafeFlag) != 0)
            return c;
    }
    return nullptr;
}

bool Kelvo_QTObjComponent::isThreadSafe(uint32_t type, uint32_t subType) {
    ComponentDescription d{type, subType, 0, 0, kMissingFlag};
    return threadSafeComponent(d) != nullptr;
}

GWorldPtr Kelvo_QTObjComponent::IconImage() {
    if (!_iconSuite) return nullptr;
    Rect bounds{0, 0, kIconSuiteSide, kIconSuiteSide};
    GWorldPtr world = nullptr;
    QDErr err = QTNewGWorld(&world, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0);
    if (err != noErr || !world) {
        _status = err != noErr ? err : memFullErr;
        return nullptr;
    }
    CGrafPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    GetGWorld(&savedPort, &savedDevice);
    SetGWorld(world, nullptr);
    err = PlotIconSuite(&bounds, kAlignNone, kTransformNone, _iconSuite);
    SetGWorld(savedPort, savedDevice);
    if (err != noErr) {
        DisposeGWorld(world);
        _status = err;
        return nullptr;
    }
    return world;
}

// ---------------------------------------------------------------------------------------------
// Kelvo_ComponentForSearch

Kelvo_ComponentForSearch::Kelvo_ComponentForSearch(uint32_t type, uint32_t subType, uint32_t manufacturer,
                                                   uint32_t flags, uint32_t flagsMask)
    : _flagsMask(flagsMask) {
    _type = type;
    _subType = subType;
    _manufacturer = manufacturer;
    _properties = flags;
}

Kelvo_ComponentForSearch::Kelvo_ComponentForSearch(const ComponentDescription& description) {
    setDescription(description);
}

Kelvo_ComponentForSearch::Kelvo_ComponentForSearch(const Kelvo_ComponentForSearch& other)
    : Kelvo_QTObjComponent(other), _flagsMask(other._flagsMask) {}

Kelvo_ComponentForSearch& Kelvo_ComponentForSearch::operator=(const Kelvo_ComponentForSearch& other) {
    if (&other != this) Copy(const_cast<Kelvo_ComponentForSearch&>(other));
    return *this;
}

Kelvo_QTObj* Kelvo_ComponentForSearch::clone() {
    return new (std::nothrow) Kelvo_ComponentForSearch(*this);
}

bool Kelvo_ComponentForSearch::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_QTObjComponent::isA(name) || std::strcmp(name, "Kelvo_ComponentForSearch") == 0;
}

void Kelvo_ComponentForSearch::Copy(Kelvo_QTObjComponent& other) {
    if (&other == this) return;
    Kelvo_QTObjComponent::Copy(other);
    if (other.isA("Kelvo_ComponentForSearch"))
        _flagsMask = static_cast<Kelvo_ComponentForSearch&>(other)._flagsMask;
}

void Kelvo_ComponentForSearch::reset() {
    Kelvo_QTObjComponent::reset();
    _flagsMask = 0;
}

void Kelvo_ComponentForSearch::getDescription(ComponentDescription& description) const {
    description = ComponentDescription{_type, _subType, _manufacturer, _properties, _flagsMask};
}

void Kelvo_ComponentForSearch::setDescription(const ComponentDescription& description) {
    _type = description.componentType;
    _subType = description.componentSubType;
    _manufacturer = description.componentManufacturer;
    _properties = description.componentFlags;
    _flagsMask = description.componentFlagsMask;
}

// ---------------------------------------------------------------------------------------------
// Kelvo_Codec

Kelvo_Codec::Kelvo_Codec(uint32_t codecType, Component codec) : _codec(codec) {
    CodecInfo info{};
    _status = GetCodecInfo(&info, codecType, codec);
    if (_status != noErr) return;
    _info = info;
    _type = codecType;
    ComponentDescription d{};
    if (_type == 0 && GetComponentInfo(codec, &d, nullptr, nullptr, nullptr) == noErr)
        _type = d.componentSubType;
    _manufacturer = uint32_t(info.vendor);
    _properties = info.formatFlags;
    Component iconOf = codec;
    if (!iconOf) {
        // The first component of the codec, as the platform took its record from.
        ComponentDescription byType{0, _type, 0, 0, 0};
        for (Component c = FindNextComponent(nullptr, &byType); c; c = FindNextComponent(c, &byType)) {
            ComponentDescription found{};
            if (GetComponentInfo(c, &found, nullptr, nullptr, nullptr) == noErr &&
                isCodecComponentType(found.componentType)) {
                iconOf = c;
                break;
            }
        }
    }
    Handle icon = nullptr;
    if (iconOf && GetComponentIconSuite(iconOf, &icon) == noErr) adoptIconSuite(icon);
    setPStrName(info.typeName);
}

Kelvo_Codec::Kelvo_Codec(const Kelvo_Codec& other)
    : Kelvo_QTObjComponent(other), _info(other._info), _codec(other._codec) {}

Kelvo_Codec& Kelvo_Codec::operator=(const Kelvo_Codec& other) {
    if (&other == this) return *this;
    reset();
    init(other);
    _info = other._info;
    _codec = other._codec;
    return *this;
}

Kelvo_QTObj* Kelvo_Codec::clone() {
    return new (std::nothrow) Kelvo_Codec(*this);
}

bool Kelvo_Codec::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_QTObjComponent::isA(name) || std::strcmp(name, "Kelvo_Codec") == 0;
}

void Kelvo_Codec::Copy(Kelvo_QTObjComponent& other) {
    if (&other == this) return;
    if (other.isA("Kelvo_Codec")) {
        *this = static_cast<Kelvo_Codec&>(other);
        return;
    }
    Kelvo_QTObjComponent::Copy(other);
}

void Kelvo_Codec::reset() {
    Kelvo_QTObjComponent::reset();
    _info = CodecInfo{};
    _codec = nullptr;
}

bool Kelvo_Codec::operator==(const Kelvo_Codec& other) const {
    return qtObjIsValid() && other.qtObjIsValid() && _type == other._type && _codec == other._codec;
}

bool Kelvo_Codec::CodecCheckProperty(int selector, uint32_t flags) const {
    uint32_t have = 0;
    switch (selector) {
    case kCompressFlags:
        have = _info.compressFlags;
        break;
    case kDecompressFlags:
        have = _info.decompressFlags;
        break;
    default:
        return false;
    }
    return (have & flags) == flags;
}

bool Kelvo_Codec::CodecDoesTemporal() const {
    return qtObjIsValid() && CodecCheckProperty(kCompressFlags, codecInfoDoesTemporal);
}
bool Kelvo_Codec::CodecDoesReorder() const {
    return qtObjIsValid() && CodecCheckProperty(kCompressFlags, codecInfoDoesReorder);
}
bool Kelvo_Codec::CodecDoesMultiPass() const {
    return qtObjIsValid() && CodecCheckProperty(kCompressFlags, codecInfoDoesMultiPass);
}
bool Kelvo_Codec::CodecDoesRecompress() const {
    return qtObjIsValid() && CodecCheckProperty(kCompressFlags, codecInfoDoesRecompress);
}
bool Kelvo_Codec::CodecDoesDataRate() const {
    return qtObjIsValid() && CodecCheckProperty(kCompressFlags, codecInfoDoesRateConstrain);
}
bool Kelvo_Codec::CodecDoesEffect() const {
    return qtObjIsValid() && CodecCheckProperty(kDecompressFlags, codecInfoDoesEffect);
}
bool Kelvo_Codec::CodecDoesLossless() const {
    return qtObjIsValid() && (_info.formatFlags & codecInfoDoesLossless) != 0;
}

bool Kelvo_Codec::isThreadSafeForCompression() const {
    if (!qtObjIsValid()) return false;
    ComponentDescription d{compressorComponentType, _type, 0, 0, kMissingFlag};
    return threadSafeComponent(d) != nullptr;
}

bool Kelvo_Codec::isThreadSafeForDecompression() const {
    if (!qtObjIsValid()) return false;
    ComponentDescription d{decompressorComponentType, _type, 0, 0, kMissingFlag};
    return threadSafeComponent(d) != nullptr;
}

bool Kelvo_Codec::codecExists(uint32_t type) {
    if (type == 0) return false;
    CodecInfo info;
    return GetCodecInfo(&info, type, anyCodec) == noErr;
}

// ---------------------------------------------------------------------------------------------
// Kelvo_Component

Kelvo_Component::Kelvo_Component() {
    _status = paramErr;
}

Kelvo_Component::Kelvo_Component(ComponentDescription* description) {
    initComponent(description ? FindNextComponent(nullptr, description) : nullptr);
}

Kelvo_Component::Kelvo_Component(uint32_t type, uint32_t subType) {
    ComponentDescription d{type, subType, 0, 0, 0};
    initComponent(FindNextComponent(nullptr, &d));
}

Kelvo_Component::Kelvo_Component(Component component) {
    initComponent(component);
}

Kelvo_Component::Kelvo_Component(ComponentInstance instance, bool adopt) {
    initComponent(reinterpret_cast<Component>(instance));
    if (adopt && instance) _instance = instance;
}

Kelvo_Component::Kelvo_Component(const Kelvo_Component& other) : Kelvo_QTObjComponent() {
    initComponent(other._component);
}

Kelvo_Component& Kelvo_Component::operator=(const Kelvo_Component& other) {
    if (&other != this) Copy(const_cast<Kelvo_Component&>(other));
    return *this;
}

Kelvo_Component::~Kelvo_Component() {
    closeInstance();
}

void Kelvo_Component::closeInstance() {
    if (!_instance) return;
    if (CloseComponent(_instance) == noErr) _instance = nullptr;
}

Kelvo_QTObj* Kelvo_Component::clone() {
    return new (std::nothrow) Kelvo_Component(*this);
}

bool Kelvo_Component::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_QTObjComponent::isA(name) || std::strcmp(name, "Kelvo_Component") == 0;
}

void Kelvo_Component::Copy(Kelvo_QTObjComponent& other) {
    if (&other == this) return;
    if (!other.isA("Kelvo_Component")) {
        Kelvo_QTObjComponent::Copy(other);
        return;
    }
    Component component = static_cast<Kelvo_Component&>(other)._component;
    reset();
    initComponent(component);
}

void Kelvo_Component::reset() {
    closeInstance();
    _instance = nullptr;
    _component = nullptr;
    Kelvo_QTObjComponent::reset();
}

void Kelvo_Component::initComponent(Component component) {
    if (!component) {
        _status = paramErr;
        return;
    }
    // An open connection belongs to the component described before.
    if (_instance && component != _component) closeInstance();
    Kelvo_QTObjComponent::reset();
    _component = component;
    Handle name = NewHandle(0);
    if (!name) {
        _status = memFullErr;
        return;
    }
    ComponentDescription d{};
    _status = GetComponentInfo(component, &d, name, nullptr, nullptr);
    if (_status == noErr) {
        unsigned char pname[256] = {0};
        const Size size = GetHandleSize(name);
        const size_t n = size > 0 ? std::min<size_t>(uint8_t((*name)[0]), size_t(size - 1)) : 0;
        pname[0] = uint8_t(n);
        if (n) std::memcpy(pname + 1, *name + 1, n);
        setPStrName(pname);
        Handle icon = nullptr;
        if (GetComponentIconSuite(component, &icon) == noErr) adoptIconSuite(icon);
        _type = d.componentType;
        _subType = d.componentSubType;
        _manufacturer = d.componentManufacturer;
        _properties = d.componentFlags;
    }
    DisposeHandle(name);
}

bool Kelvo_Component::openConnection() {
    if (isConnected()) return true;
    if (!qtObjIsValid()) return false;
    ComponentInstance instance = nullptr;
    _status = OpenAComponent(_component, &instance);
    _instance = instance;
    return _instance != nullptr;
}

bool Kelvo_Component::closeConnection() {
    if (!_instance) return true;
    _status = CloseComponent(_instance);
    if (_status == noErr) _instance = nullptr;
    return _instance == nullptr;
}

bool Kelvo_Component::isConnected() {
    return qtObjIsValid() && _instance != nullptr;
}

bool Kelvo_Component::operator==(const Kelvo_Component& other) const {
    return _component != nullptr && other._component != nullptr && _component == other._component;
}

Kelvo_Component* Kelvo_Component::threadSafeInstance() {
    if (!qtObjIsValid()) return nullptr;
    ComponentDescription d{_type, _subType, 0, 0, kMissingFlag};
    Component c = threadSafeComponent(d);
    if (!c) return nullptr;
    auto* result = new (std::nothrow) Kelvo_Component(c);
    if (!result) _status = memFullErr;
    return result;
}

// ---------------------------------------------------------------------------------------------
// Kelvo_Clock

Kelvo_Clock::Kelvo_Clock(uint32_t subType) : Kelvo_Component(clockComponentType, subType), _owns(1) {}

Kelvo_Clock::Kelvo_Clock(ComponentInstance instance, unsigned char adopt, unsigned char owns)
    : Kelvo_Component(instance, adopt != 0), _owns(owns) {}

Kelvo_Clock::Kelvo_Clock(const Kelvo_Clock& other) : Kelvo_Component(other), _owns(1) {}

Kelvo_Clock& Kelvo_Clock::operator=(const Kelvo_Clock& other) {
    if (&other != this) {
        // A connection that is not ours is forgotten, never closed.
        if (!_owns) _instance = nullptr;
        Copy(const_cast<Kelvo_Clock&>(other));
        _owns = 1;
    }
    return *this;
}

void Kelvo_Clock::reset() {
    // A connection that is not ours is forgotten, never closed.
    if (!_owns) _instance = nullptr;
    Kelvo_Component::reset();
}

void Kelvo_Clock::initComponent(Component component) {
    if (!_owns && component != _component) _instance = nullptr;
    Kelvo_Component::initComponent(component);
}

Kelvo_Clock::~Kelvo_Clock() {
    // A clock that is not ours stays open: forget it before the component closes its instance.
    if (!_owns) _instance = nullptr;
}

Kelvo_QTObj* Kelvo_Clock::clone() {
    return new (std::nothrow) Kelvo_Clock(*this);
}

bool Kelvo_Clock::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_Component::isA(name) || std::strcmp(name, "Kelvo_Clock") == 0;
}

// ---------------------------------------------------------------------------------------------
// Listing functions

namespace {

// A new empty list; null (and `err` set) when it cannot be made.
Kelvo_QTObjectsList* newList(int32_t& err) {
    auto* list = new (std::nothrow) Kelvo_QTObjectsList();
    if (list && !list->qtObjIsValid()) {
        err = list->Error() != 0 ? list->Error() : int32_t(memFullErr);
        delete list;
        return nullptr;
    }
    if (!list) err = memFullErr;
    return list;
}

// Appends `object` to the list, which owns it from then on; false (and `err` set) when the
// object carries an error or cannot be made.
bool appendOrStop(Kelvo_QTObjectsList& list, Kelvo_QTObj* object, int32_t& err) {
    if (!object) {
        err = memFullErr;
        return false;
    }
    if (object->Error() != 0) {
        err = object->Error();
        delete object;
        return false;
    }
    if (!list.NewItem(object, 0)) {
        err = list.Error() != 0 ? list.Error() : int32_t(memFullErr);
        delete object;
        return false;
    }
    return true;
}

} // namespace

Kelvo_QTObjectsList* Kelvo_GetListOfAvailableCodecs(int32_t& err) {
    err = noErr;
    CodecNameSpecListPtr names = nullptr;
    err = GetCodecNameList(&names, 1);
    if (err != noErr || !names) {
        if (err == noErr) err = memFullErr;
        return nullptr;
    }
    Kelvo_QTObjectsList* list = newList(err);
    if (!list) {
        DisposeCodecNameList(names);
        return nullptr;
    }
    for (int16_t i = 0; i < names->count; ++i) {
        const CodecNameSpec& spec = names->list[i];
        if (!appendOrStop(*list, new (std::nothrow) Kelvo_Codec(spec.cType, spec.codec), err)) break;
    }
    DisposeCodecNameList(names);
    return list;
}

Kelvo_QTObjectsList* Kelvo_GetListOfComponents(ComponentDescription* description, int32_t& err) {
    err = noErr;
    if (!description) {
        err = paramErr;
        return nullptr;
    }
    Kelvo_QTObjectsList* list = newList(err);
    if (!list) return nullptr;
    for (Component c = FindNextComponent(nullptr, description); c; c = FindNextComponent(c, description)) {
        if (!appendOrStop(*list, new (std::nothrow) Kelvo_Component(c), err)) break;
    }
    return list;
}

Kelvo_QTObjectsList* Kelvo_GetListOfComponents(int32_t& err) {
    ComponentDescription all{0, 0, 0, 0, 0};
    return Kelvo_GetListOfComponents(&all, err);
}

Kelvo_QTObjectsList* Kelvo_GetListOfComponents(Kelvo_ComponentForSearch* search, int32_t& err) {
    if (!search) {
        err = paramErr;
        return nullptr;
    }
    ComponentDescription d{};
    search->getDescription(d);
    return Kelvo_GetListOfComponents(&d, err);
}

Kelvo_QTObjectsList* Kelvo_GetListOfComponents(int kind, int32_t& err) {
    struct Kind {
        int kind;
        OSType type;
        uint32_t flags;
        uint32_t mask;
    };
    static constexpr Kind kKinds[] = {
        {1, GraphicsImporterComponentType, 0, 0},
        {2, GraphicsExporterComponentType, 0, 1},
        {3, MovieImportType, 0, 0},
        {4, MovieExportType, 0, 0},
        {5, QTVideoOutputComponentType, 0, 1},
        {6, videoDigitizerComponentType, 0, 0},
        {9, decompressorComponentType, codecInfoDoesEffect, codecInfoDoesEffect},
    };
    for (const Kind& k : kKinds) {
        if (k.kind != kind) continue;
        ComponentDescription d{k.type, 0, 0, k.flags, k.mask};
        return Kelvo_GetListOfComponents(&d, err);
    }
    err = paramErr;
    return nullptr;
}
