#include "HostRuntime.h"

#include "HostObjects.h"
#include "PlatformCF.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <dlfcn.h>
#include <thread>
#include <unordered_set>

namespace sylhost {

// ---------------------------------------------------------------------------------------------
// Live objects and strings

namespace {

std::unordered_set<const void*>& liveObjectSet() {
    static std::unordered_set<const void*> set;
    return set;
}

std::unordered_set<const void*>& liveStringSet() {
    static std::unordered_set<const void*> set;
    return set;
}

HostRuntime* gActive = nullptr;

// Largest instance the host makes: a record asking for more is refused.
constexpr RBRecordWord kMaxClassData = 1 << 20;
constexpr RBRecordWord kMaxMembers = 1 << 16;

} // namespace

HostObject* liveObject(REALobject object) {
    if (!object || !liveObjectSet().count(object)) return nullptr;
    return reinterpret_cast<HostObject*>(object);
}

HostString* liveString(REALstring string) {
    if (!string || !liveStringSet().count(string)) return nullptr;
    return reinterpret_cast<HostString*>(string);
}

void registerLive(HostObject* object) {
    liveObjectSet().insert(object);
}
void registerLive(HostString* string) {
    liveStringSet().insert(string);
}
void unregisterLive(HostObject* object) {
    liveObjectSet().erase(object);
}
void unregisterLive(HostString* string) {
    liveStringSet().erase(string);
}

void retainObject(REALobject object) {
    if (HostObject* o = liveObject(object)) ++o->refs;
}

void releaseObject(REALobject object) {
    HostObject* o = liveObject(object);
    if (!o || o->dying) return;
    if (--o->refs > 0) return;
    o->dying = true;
    HostRuntime* host = o->host;
    {
        HostRuntime::Scope scope(host);
        // Each class of the chain tidies its own data, the most derived first.
        for (ClassInfo* cls = o->cls; cls; cls = cls->super)
            if (cls->record->destructor)
                reinterpret_cast<void (*)(REALobject)>(cls->record->destructor)(object);
    }
    unregisterLive(o);
    delete[] o->data;
    delete o;
    host->noteObjectGone();
}

void retainString(REALstring string) {
    if (HostString* s = liveString(string)) ++s->refs;
}

void releaseString(REALstring string) {
    HostString* s = liveString(string);
    if (!s || --s->refs > 0) return;
    unregisterLive(s);
    HostRuntime* host = s->host;
    delete s;
    host->noteStringGone();
}

bool convertEncoding(const std::string& bytes, REALstringEncoding from, REALstringEncoding to,
                     std::string& out) {
    out.clear();
    if (from == to) {
        out = bytes;
        return true;
    }
    // The platform's conversions work on C strings: convert the runs between NUL bytes.
    size_t start = 0;
    for (;;) {
        size_t end = bytes.find('\0', start);
        std::string run = bytes.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!run.empty()) {
            CFStringRef text =
                CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(run.data()),
                                        CFIndex(run.size()), from, false);
            if (!text) return false;
            std::string buffer(run.size() * 4 + 1, '\0');
            bool ok = CFStringGetCString(text, buffer.data(), CFIndex(buffer.size()), to);
            CFRelease(text);
            if (!ok) return false;
            out.append(buffer.c_str());
        }
        if (end == std::string::npos) break;
        out.push_back('\0');
        start = end + 1;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Values

Value::~Value() {
    release();
}

Value::Value(const Value& other)
    : _kind(other._kind), _integer(other._integer), _real(other._real), _boolean(other._boolean),
      _string(other._string), _object(other._object) {
    retain();
}

Value::Value(Value&& other) noexcept
    : _kind(other._kind), _integer(other._integer), _real(other._real), _boolean(other._boolean),
      _string(other._string), _object(other._object) {
    other._string = nullptr;
    other._object = nullptr;
    other._kind = TypeKind::Void;
}

Value& Value::operator=(const Value& other) {
    if (this != &other) {
        Value copy(other);
        *this = std::move(copy);
    }
    return *this;
}

Value& Value::operator=(Value&& other) noexcept {
    if (this != &other) {
        release();
        _kind = other._kind;
        _integer = other._integer;
        _real = other._real;
        _boolean = other._boolean;
        _string = other._string;
        _object = other._object;
        other._string = nullptr;
        other._object = nullptr;
        other._kind = TypeKind::Void;
    }
    return *this;
}

void Value::retain() {
    if (_string) retainString(_string);
    if (_object) retainObject(_object);
}

void Value::release() {
    REALstring s = _string;
    REALobject o = _object;
    _string = nullptr;
    _object = nullptr;
    if (s) releaseString(s);
    if (o) releaseObject(o);
}

Value Value::integer(int64_t v, TypeKind kind) {
    Value value;
    value._kind = kind;
    value._integer = v;
    return value;
}

Value Value::real(double v, TypeKind kind) {
    Value value;
    value._kind = kind;
    value._real = v;
    return value;
}

Value Value::boolean(bool v) {
    Value value;
    value._kind = TypeKind::Boolean;
    value._boolean = v;
    return value;
}

Value Value::adoptString(REALstring s) {
    Value value;
    value._kind = TypeKind::String;
    value._string = liveString(s) ? s : nullptr;
    return value;
}

Value Value::adoptObject(REALobject o) {
    Value value;
    value._kind = TypeKind::Object;
    value._object = liveObject(o) ? o : nullptr;
    return value;
}

Value Value::nil(TypeKind kind) {
    Value value;
    value._kind = kind;
    return value;
}

std::string Value::text() const {
    HostString* s = liveString(_string);
    return s ? s->bytes : std::string();
}

std::string Value::className() const {
    HostObject* o = liveObject(_object);
    return o ? o->cls->name : std::string();
}

// ---------------------------------------------------------------------------------------------
// Classes

bool ClassInfo::isKindOf(const std::string& className) const {
    for (const ClassInfo* c = this; c; c = c->super)
        if (equalsIgnoreCase(c->name, className)) return true;
    return false;
}

HostRuntime::Scope::Scope(HostRuntime* host) : _previous(gActive) {
    gActive = host;
}
HostRuntime::Scope::~Scope() {
    gActive = _previous;
}

HostRuntime* HostRuntime::active() {
    return gActive;
}

HostRuntime::HostRuntime(bool console) : _console(console) {
    registerBuiltins();
}

void HostRuntime::registerBuiltins() {
    registerBuiltinClasses(*this);
}

void HostRuntime::registerEventPump(REALEventPump pump, int plugin) {
    if (!pump) return;
    for (const auto& p : _pumps)
        if (p.pump == pump) return;
    _pumps.push_back(EventPump{pump, plugin});
}

void HostRuntime::runEventLoop(int64_t milliseconds) {
    Scope scope(this);
    // A pump may be registered while the loop runs (a timer that loads nothing does not, but the
    // list is walked by index all the same).
    auto pass = [this](RBInteger advance) {
        for (size_t i = 0; i < _pumps.size(); ++i) {
            const int previous = _currentPlugin;
            _currentPlugin = _pumps[i].plugin;
            _pumps[i].pump(advance, 1);
            _currentPlugin = previous;
        }
    };
    if (milliseconds <= 0) {
        pass(0);
        return;
    }
    if (_manualClock) {
        // Moved in slices no longer than an int of milliseconds holds.
        for (int64_t left = milliseconds; left > 0;) {
            const int64_t step = std::min<int64_t>(left, 1'000'000'000);
            pass(RBInteger(step));
            left -= step;
        }
        return;
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        pass(0);
        const auto now = std::chrono::steady_clock::now();
        if (now >= end) break;
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(end - now, std::chrono::milliseconds(2)));
    }
}

HostRuntime::~HostRuntime() {
    _pendingException = Value();
    destroyRemaining();
    for (auto it = _plugins.rbegin(); it != _plugins.rend(); ++it)
        if (it->handle) dlclose(it->handle);
}

void HostRuntime::destroyRemaining() {
    // Whatever is still alive at shutdown is let go while its plug-in's code is still loaded.
    std::vector<HostObject*> mine;
    for (const void* p : liveObjectSet()) {
        auto* o = static_cast<HostObject*>(const_cast<void*>(p));
        if (o->host == this) mine.push_back(o);
    }
    for (HostObject* o : mine)
        if (liveObject(toReal(o))) {
            o->refs = 1;
            releaseObject(toReal(o));
        }
    std::vector<HostString*> strings;
    for (const void* p : liveStringSet()) {
        auto* s = static_cast<HostString*>(const_cast<void*>(p));
        if (s->host == this) strings.push_back(s);
    }
    for (HostString* s : strings) {
        s->refs = 1;
        releaseString(toReal(s));
    }
}

ClassInfo* HostRuntime::classNamed(const std::string& name) const {
    for (const auto& cls : _classes)
        if (equalsIgnoreCase(cls->name, name)) return cls.get();
    return nullptr;
}

const ClassInfo* HostRuntime::findClass(const std::string& name) const {
    return classNamed(name);
}

ClassInfo* HostRuntime::classOfRecord(const REALClassRecord* record) const {
    auto it = _byRecord.find(record);
    return it == _byRecord.end() ? nullptr : it->second;
}

const ModuleInfo* HostRuntime::findModule(const std::string& name) const {
    for (const auto& module : _modules)
        if (equalsIgnoreCase(module->name, name)) return module.get();
    return nullptr;
}

PluginInfo* HostRuntime::plugin(int index) {
    if (index < 0 || size_t(index) >= _plugins.size()) return nullptr;
    return &_plugins[size_t(index)];
}

namespace {

void problem(HostRuntime& host, int plugin, const std::string& text) {
    if (PluginInfo* p = host.plugin(plugin)) p->problems.push_back(text);
}

// A table in a record: refused when it claims entries without naming where they are, or more
// than any real record holds.
template <class T> bool tableUsable(const T* table, RBRecordWord count) {
    return count >= 0 && count <= kMaxMembers && (count == 0 || table != nullptr);
}

bool readProperties(HostRuntime& host, int plugin, const std::string& owner, const REALPropertyRecord* table,
                    RBRecordWord count, std::vector<PropertyInfo>& out) {
    if (!tableUsable(table, count)) return false;
    for (RBRecordWord i = 0; i < count; ++i) {
        const REALPropertyRecord& r = table[i];
        if (!r.name || !*r.name || !r.type || !r.getter) {
            problem(host, plugin, owner + ": property " + std::to_string(i) + " is incomplete");
            continue;
        }
        PropertyInfo prop;
        prop.name = r.name;
        prop.type = parseType(r.type);
        prop.getter = r.getter;
        prop.setter = r.setter;
        prop.param = int32_t(r.param);
        prop.consoleSafe = (r.flags & kREALConsoleSafe) != 0;
        if (prop.type.kind == TypeKind::Void) {
            problem(host, plugin, owner + "." + prop.name + ": no type");
            continue;
        }
        out.push_back(std::move(prop));
    }
    return true;
}

bool readMethods(HostRuntime& host, int plugin, const std::string& owner, const REALMethodRecord* table,
                 RBRecordWord count, std::vector<MethodInfo>& out) {
    if (!tableUsable(table, count)) return false;
    for (RBRecordWord i = 0; i < count; ++i) {
        const REALMethodRecord& r = table[i];
        auto decl = r.declaration ? parseDeclaration(r.declaration) : std::nullopt;
        if (!decl || !r.function) {
            problem(host, plugin,
                    owner + ": method \"" + (r.declaration ? r.declaration : "") + "\" cannot be declared");
            continue;
        }
        MethodInfo method;
        method.text = r.declaration;
        method.decl = std::move(*decl);
        method.function = r.function;
        method.setter = r.setterFunction;
        method.consoleSafe = (r.flags & kREALConsoleSafe) != 0;
        out.push_back(std::move(method));
    }
    return true;
}

bool readConstants(HostRuntime& host, int plugin, const std::string& owner, const REALConstantRecord* table,
                   RBRecordWord count, std::vector<ConstantInfo>& out) {
    if (!tableUsable(table, count)) return false;
    for (RBRecordWord i = 0; i < count; ++i) {
        const char* text = table[i].declaration;
        auto spec = text ? parseConstant(text) : std::nullopt;
        if (!spec) {
            problem(host, plugin, owner + ": constant \"" + (text ? text : "") + "\" cannot be declared");
            continue;
        }
        out.push_back(ConstantInfo{text, std::move(*spec)});
    }
    return true;
}

} // namespace

void HostRuntime::registerClass(REALClassRecord* record, int pluginIndex) {
    if (!record || !record->name || !*record->name) {
        problem(*this, pluginIndex, "a class record without a name was refused");
        return;
    }
    std::string name = record->name;
    if (record->version != kREALPluginVersion) {
        problem(*this, pluginIndex,
                name + ": record version " + std::to_string(record->version) + " refused");
        return;
    }
    if (classNamed(name) || _byRecord.count(record)) {
        problem(*this, pluginIndex, name + ": a class of that name is registered already");
        return;
    }
    ClassInfo* super = nullptr;
    if (record->superName && *record->superName) {
        super = classNamed(record->superName);
        if (!super) {
            problem(*this, pluginIndex, name + ": unknown superclass " + record->superName);
            return;
        }
    }
    if (record->dataSize < 0 || record->dataSize > kMaxClassData) {
        problem(*this, pluginIndex, name + ": instance data size refused");
        return;
    }
    auto cls = std::make_unique<ClassInfo>();
    cls->name = name;
    cls->super = super;
    cls->record = record;
    cls->plugin = pluginIndex;
    cls->dataOffset = super ? super->instanceSize : 0;
    cls->dataSize = size_t(record->dataSize);
    cls->instanceSize = cls->dataOffset + cls->dataSize;
    bool tables =
        readProperties(*this, pluginIndex, name, record->properties, record->propertyCount,
                       cls->properties) &&
        readProperties(*this, pluginIndex, name, record->sharedProperties, record->sharedPropertyCount,
                       cls->sharedProperties) &&
        readMethods(*this, pluginIndex, name, record->methods, record->methodCount, cls->methods) &&
        readMethods(*this, pluginIndex, name, record->sharedMethods, record->sharedMethodCount,
                    cls->sharedMethods) &&
        readConstants(*this, pluginIndex, name, record->constants, record->constantCount, cls->constants);
    if (!tables) {
        problem(*this, pluginIndex, name + ": a member table of the record is malformed");
        return;
    }
    _byRecord[record] = cls.get();
    if (PluginInfo* p = plugin(pluginIndex)) p->classes.push_back(name);
    _classes.push_back(std::move(cls));
}

int32_t HostRuntime::registerModule(REALModuleRecord* record, int pluginIndex) {
    if (!record || !record->name || !*record->name || record->version != kREALPluginVersion) {
        problem(*this, pluginIndex, "a module record was refused");
        return -50;
    }
    std::string name = record->name;
    if (findModule(name) || classNamed(name)) {
        problem(*this, pluginIndex, name + ": a module or class of that name is registered already");
        return -48;
    }
    auto module = std::make_unique<ModuleInfo>();
    module->name = name;
    module->record = record;
    module->plugin = pluginIndex;
    if (!readMethods(*this, pluginIndex, name, record->methods, record->methodCount, module->methods) ||
        !readConstants(*this, pluginIndex, name, record->constants, record->constantCount,
                       module->constants)) {
        problem(*this, pluginIndex, name + ": a member table of the module record is malformed");
        return -50;
    }
    if (PluginInfo* p = plugin(pluginIndex)) p->modules.push_back(name);
    _modules.push_back(std::move(module));
    return 0;
}

REALstring HostRuntime::makeString(std::string bytes, REALstringEncoding encoding) {
    auto* s = new HostString;
    s->host = this;
    s->bytes = std::move(bytes);
    s->encoding = encoding;
    registerLive(s);
    ++_liveStrings;
    return toReal(s);
}

REALobject HostRuntime::makeObject(ClassInfo* cls) {
    if (!cls) return nullptr;
    auto* o = new HostObject;
    o->host = this;
    o->cls = cls;
    o->size = cls->instanceSize;
    // Whole words, so that every class's data is aligned for the pointers it keeps.
    o->data = new std::byte[(o->size + 15) / 16 * 16 + 16]();
    registerLive(o);
    ++_liveObjects;
    REALobject object = toReal(o);
    std::vector<ClassInfo*> chain;
    for (ClassInfo* c = cls; c; c = c->super)
        chain.push_back(c);
    Scope scope(this);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        if ((*it)->record->constructor)
            reinterpret_cast<void (*)(REALobject)>((*it)->record->constructor)(object);
    return object;
}

void HostRuntime::raise(REALobject exception) {
    if (!liveObject(exception) || _pendingException.object()) return;
    retainObject(exception);
    _pendingException = Value::adoptObject(exception);
}

Value HostRuntime::newString(const std::string& text, REALstringEncoding encoding) {
    return Value::adoptString(makeString(text, encoding));
}

Value HostRuntime::newFolderItem(const std::string& path) {
    Value item = Value::adoptObject(makeObject(classNamed("FolderItem")));
    if (!path.empty()) setFolderItemPath(item.object(), path);
    return item;
}

Value HostRuntime::newInstance(const std::string& className) {
    CallOutcome outcome = construct(className, {});
    return outcome.ok ? outcome.result : Value::nil();
}

// ---------------------------------------------------------------------------------------------
// Plug-ins

int HostRuntime::loadPlugin(const std::string& path, std::string& error) {
    // The library stays mapped after the host lets go of it: a plug-in keeps process-wide
    // registries (components, codecs) that must stay reachable, as they do in a real host.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle) {
        const char* why = dlerror();
        error = "cannot load " + path + ": " + (why ? why : "unknown reason");
        return -1;
    }
    for (size_t i = 0; i < _plugins.size(); ++i)
        if (_plugins[i].handle == handle) {
            // The same library again: only its entry is called, as a host loading it twice would.
            dlclose(handle);
            reenterPlugin(int(i));
            return int(i);
        }
    auto entry = reinterpret_cast<void (*)(REALresolver)>(dlsym(handle, "REALPluginMain"));
    if (!entry) {
        error = path + " is not a plug-in: it has no REALPluginMain";
        dlclose(handle);
        return -1;
    }
    PluginInfo info;
    info.path = path;
    info.handle = handle;
    info.entry = entry;
    _plugins.push_back(std::move(info));
    reenterPlugin(int(_plugins.size() - 1));
    return int(_plugins.size() - 1);
}

int HostRuntime::loadLinkedPlugin(const std::string& name, void (*entry)(REALresolver)) {
    if (!entry) return -1;
    PluginInfo info;
    info.path = name;
    info.entry = entry;
    _plugins.push_back(std::move(info));
    reenterPlugin(int(_plugins.size() - 1));
    return int(_plugins.size() - 1);
}

void HostRuntime::reenterPlugin(int index) {
    PluginInfo* p = plugin(index);
    if (!p || !p->entry) return;
    int previous = _currentPlugin;
    _currentPlugin = index;
    {
        Scope scope(this);
        p->entry(&HostRuntime::resolve);
    }
    _currentPlugin = previous;
}

} // namespace sylhost
