// Calling plug-in functions: the arguments are converted by the declaration of the chosen
// overload and passed with their native types through libffi; results come back as host values.
#include "HostObjects.h"
#include "HostRuntime.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <ffi.h>
#include <limits>

namespace sylhost {

namespace {

bool isIntegerKind(TypeKind k) {
    return k == TypeKind::Integer || k == TypeKind::Int16 || k == TypeKind::UInt16 || k == TypeKind::UInt32;
}

bool isRealKind(TypeKind k) {
    return k == TypeKind::Double || k == TypeKind::Single;
}

bool inRange(int64_t v, TypeKind k) {
    switch (k) {
    case TypeKind::Integer:
        return v >= INT32_MIN && v <= INT32_MAX;
    case TypeKind::Int16:
        return v >= INT16_MIN && v <= INT16_MAX;
    case TypeKind::UInt16:
        return v >= 0 && v <= UINT16_MAX;
    case TypeKind::UInt32:
        return v >= 0 && v <= int64_t(UINT32_MAX);
    default:
        return false;
    }
}


union Slot {
    int32_t i32;
    int16_t i16;
    uint16_t u16;
    uint32_t u32;
    double d;
    float f;
    uint8_t b;
    void* p;
};

void store(Slot& slot, const TypeSpec& type, const Value& v) {
    switch (type.kind) {
    case TypeKind::Integer:
        slot.i32 = int32_t(v.asInteger());
        break;
    case TypeKind::Int16:
        slot.i16 = int16_t(v.asInteger());
        break;
    case TypeKind::UInt16:
        slot.u16 = uint16_t(v.asInteger());
        break;
    case TypeKind::UInt32:
        slot.u32 = uint32_t(v.asInteger());
        break;
    case TypeKind::Double:
        slot.d = v.asReal();
        break;
    case TypeKind::Single:
        slot.f = float(v.asReal());
        break;
    case TypeKind::Boolean:
        slot.b = v.asBoolean() ? 1 : 0;
        break;
    case TypeKind::String:
        slot.p = v.string();
        break;
    case TypeKind::Object:
        slot.p = v.object();
        break;
    case TypeKind::Void:
        break;
    }
}

Value load(const Slot& slot, const TypeSpec& type) {
    switch (type.kind) {
    case TypeKind::Integer:
        return Value::integer(slot.i32);
    case TypeKind::Int16:
        return Value::integer(slot.i16, TypeKind::Int16);
    case TypeKind::UInt16:
        return Value::integer(slot.u16, TypeKind::UInt16);
    case TypeKind::UInt32:
        return Value::integer(slot.u32, TypeKind::UInt32);
    case TypeKind::Double:
        return Value::real(slot.d);
    case TypeKind::Single:
        return Value::real(slot.f, TypeKind::Single);
    case TypeKind::Boolean:
        return Value::boolean(slot.b != 0);
    default:
        return Value();
    }
}

std::string formatReal(double v) {
    char buffer[64];
    auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
    return std::string(buffer, r.ptr);
}

bool parseInteger(const std::string& text, int64_t& v) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (begin != end && *begin == '+') ++begin;
    auto r = std::from_chars(begin, end, v);
    return r.ec == std::errc() && r.ptr == end && begin != end;
}

bool parseReal(const std::string& text, double& v) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (begin != end && *begin == '+') ++begin;
    auto r = std::from_chars(begin, end, v);
    return r.ec == std::errc() && r.ptr == end && begin != end && std::isfinite(v);
}

int callDepth = 0;

} // namespace

ffi_type* ffiType(const TypeSpec& t) {
    if (t.byRef) return &ffi_type_pointer;
    switch (t.kind) {
    case TypeKind::Void:
        return &ffi_type_void;
    case TypeKind::Integer:
        return &ffi_type_sint32;
    case TypeKind::Int16:
        return &ffi_type_sint16;
    case TypeKind::UInt16:
        return &ffi_type_uint16;
    case TypeKind::UInt32:
        return &ffi_type_uint32;
    case TypeKind::Double:
        return &ffi_type_double;
    case TypeKind::Single:
        return &ffi_type_float;
    case TypeKind::Boolean:
        return &ffi_type_uint8;
    case TypeKind::String:
    case TypeKind::Object:
        return &ffi_type_pointer;
    }
    return &ffi_type_void;
}

const PropertyInfo* HostRuntime::findProperty(const ClassInfo* cls, const std::string& name) const {
    for (const ClassInfo* c = cls; c; c = c->super)
        for (const auto& p : c->properties)
            if (equalsIgnoreCase(p.name, name) && (!_console || p.consoleSafe)) return &p;
    return nullptr;
}

bool HostRuntime::invoke(REALproc fn, bool hasSelf, REALobject self, const Declaration& decl,
                         std::vector<Value>& args, CallOutcome& outcome) {
    if (!fn) {
        outcome.error = decl.name + " has no function";
        return false;
    }
    size_t count = decl.params.size() + (hasSelf ? 1 : 0);
    std::vector<ffi_type*> types(count);
    std::vector<Slot> slots(count), targets(count);
    std::vector<void*> values(count);
    size_t at = 0;
    if (hasSelf) {
        types[0] = &ffi_type_pointer;
        slots[0].p = self;
        values[0] = &slots[0];
        at = 1;
    }
    for (size_t i = 0; i < decl.params.size(); ++i, ++at) {
        const TypeSpec& type = decl.params[i].type;
        types[at] = ffiType(type);
        if (type.byRef) {
            if (type.kind == TypeKind::String || type.kind == TypeKind::Object) {
                outcome.error = decl.name + ": strings and objects are not passed by reference here";
                return false;
            }
            store(targets[at], type, args[i]);
            slots[at].p = &targets[at];
        } else {
            store(slots[at], type, args[i]);
        }
        values[at] = &slots[at];
    }
    ffi_cif cif;
    if (ffi_prep_cif(&cif, FFI_DEFAULT_ABI, unsigned(count), ffiType(decl.result), types.data()) != FFI_OK) {
        outcome.error = decl.name + ": the call cannot be prepared";
        return false;
    }
    alignas(16) unsigned char ret[32] = {};
    bool outermost = callDepth == 0;
    if (outermost) _pendingException = Value();
    ++callDepth;
    {
        Scope scope(this);
        ffi_call(&cif, FFI_FN(fn), ret, values.data());
    }
    --callDepth;
    // Small integers come back widened to a whole register.
    ffi_arg word;
    std::memcpy(&word, ret, sizeof word);
    switch (decl.result.kind) {
    case TypeKind::Void:
        outcome.result = Value();
        break;
    case TypeKind::Integer:
        outcome.result = Value::integer(int32_t(word));
        break;
    case TypeKind::Int16:
        outcome.result = Value::integer(int16_t(word), TypeKind::Int16);
        break;
    case TypeKind::UInt16:
        outcome.result = Value::integer(uint16_t(word), TypeKind::UInt16);
        break;
    case TypeKind::UInt32:
        outcome.result = Value::integer(uint32_t(word), TypeKind::UInt32);
        break;
    case TypeKind::Boolean:
        outcome.result = Value::boolean(uint8_t(word) != 0);
        break;
    case TypeKind::Double: {
        double d;
        std::memcpy(&d, ret, sizeof d);
        outcome.result = Value::real(d);
        break;
    }
    case TypeKind::Single: {
        float f;
        std::memcpy(&f, ret, sizeof f);
        outcome.result = Value::real(f, TypeKind::Single);
        break;
    }
    case TypeKind::String: {
        void* p;
        std::memcpy(&p, ret, sizeof p);
        outcome.result = Value::adoptString(static_cast<REALstring>(p));
        break;
    }
    case TypeKind::Object: {
        void* p;
        std::memcpy(&p, ret, sizeof p);
        outcome.result = Value::adoptObject(static_cast<REALobject>(p));
        break;
    }
    }
    at = hasSelf ? 1 : 0;
    for (size_t i = 0; i < decl.params.size(); ++i, ++at)
        if (decl.params[i].type.byRef)
            outcome.byRefValues.emplace_back(decl.params[i].name, load(targets[at], decl.params[i].type));
    if (outermost && _pendingException.object()) outcome.exception = std::move(_pendingException);
    outcome.ok = true;
    return true;
}

bool HostRuntime::callGetter(const PropertyInfo& prop, REALobject self, Value& out) {
    Declaration decl;
    decl.name = prop.name;
    decl.params.push_back(ParamSpec{"param", parseType("integer"), false, {}});
    decl.result = prop.type;
    decl.result.byRef = false;
    std::vector<Value> args{Value::integer(prop.param)};
    CallOutcome outcome;
    if (!invoke(prop.getter, self != nullptr, self, decl, args, outcome)) return false;
    out = std::move(outcome.result);
    return true;
}

bool HostRuntime::callSetter(const PropertyInfo& prop, REALobject self, const Value& value) {
    if (!prop.setter) return false;
    Declaration decl;
    decl.name = prop.name;
    decl.params.push_back(ParamSpec{"param", parseType("integer"), false, {}});
    TypeSpec type = prop.type;
    type.byRef = false;
    decl.params.push_back(ParamSpec{"value", type, false, {}});
    Value converted;
    std::string why;
    if (!convertArgument(type, value, converted, why)) return false;
    std::vector<Value> args{Value::integer(prop.param), converted};
    CallOutcome outcome;
    return invoke(prop.setter, self != nullptr, self, decl, args, outcome);
}

bool HostRuntime::setProperty(const Value& object, const std::string& name, const Value& value,
                              std::string& error) {
    HostObject* o = liveObject(object.object());
    if (!o) {
        error = "property " + name + " set on nil";
        return false;
    }
    const PropertyInfo* prop = findProperty(o->cls, name);
    if (!prop) {
        error = o->cls->name + " has no property " + name;
        return false;
    }
    if (!prop->setter) {
        error = o->cls->name + "." + prop->name + " is read-only";
        return false;
    }
    Value converted;
    std::string why;
    TypeSpec type = prop->type;
    type.byRef = false;
    if (!convertArgument(type, value, converted, why)) {
        error = o->cls->name + "." + prop->name + " " + why;
        return false;
    }
    if (!callSetter(*prop, object.object(), converted)) {
        error = o->cls->name + "." + prop->name + " cannot be set";
        return false;
    }
    return true;
}

CallOutcome HostRuntime::assignMethod(const Value& self, const std::string& method, std::vector<Value> args,
                                      const Value& value) {
    CallOutcome outcome;
    HostObject* o = liveObject(self.object());
    if (!o) {
        outcome.error = method + " assigned on nil";
        return outcome;
    }
    // Each setter takes the method's parameters and then the value, of the method's result type.
    std::vector<MethodInfo> setters;
    for (const ClassInfo* c = o->cls; c; c = c->super)
        for (const auto& m : c->methods)
            if (equalsIgnoreCase(m.decl.name, method) && m.setter && (!_console || m.consoleSafe)) {
                MethodInfo setter = m;
                setter.function = m.setter;
                setter.decl.params.push_back(ParamSpec{"value", m.decl.result, false, {}});
                setter.decl.params.back().type.byRef = false;
                setter.decl.result = TypeSpec{};
                setters.push_back(std::move(setter));
            }
    std::vector<const MethodInfo*> candidates;
    for (const auto& s : setters)
        candidates.push_back(&s);
    args.push_back(value);
    std::string what = o->cls->name + "." + method;
    if (candidates.empty()) {
        outcome.error = what + " cannot be assigned to";
        return outcome;
    }
    return invokeChosen(candidates, what, self.object(), std::move(args), false, {}, nullptr);
}

Value HostRuntime::getProperty(const Value& object, const std::string& name) {
    HostObject* o = liveObject(object.object());
    if (!o) return Value();
    const PropertyInfo* prop = findProperty(o->cls, name);
    Value out;
    if (!prop || !callGetter(*prop, object.object(), out)) return Value();
    return out;
}

bool HostRuntime::convertArgument(const TypeSpec& type, const Value& in, Value& out, std::string& why) {
    if (isIntegerKind(type.kind)) {
        if (!isIntegerKind(in.kind()) || !inRange(in.asInteger(), type.kind)) {
            why = "expects a whole number that fits " + typeName(type);
            return false;
        }
        out = Value::integer(in.asInteger(), type.kind);
        return true;
    }
    if (isRealKind(type.kind)) {
        if (isIntegerKind(in.kind()))
            out = Value::real(double(in.asInteger()), type.kind);
        else if (isRealKind(in.kind()))
            out = Value::real(in.asReal(), type.kind);
        else {
            why = "expects a number";
            return false;
        }
        return true;
    }
    if (type.kind == TypeKind::Boolean) {
        if (in.kind() != TypeKind::Boolean) {
            why = "expects true or false";
            return false;
        }
        out = in;
        return true;
    }
    if (type.kind == TypeKind::String) {
        if (_nilForString && in.kind() == TypeKind::Object && in.isNil()) {
            out = Value::nil(TypeKind::String);
            return true;
        }
        if (in.kind() != TypeKind::String) {
            why = "expects a string";
            return false;
        }
        out = in;
        return true;
    }
    if (type.kind == TypeKind::Object) {
        // A path where a folder item is declared, as on the command line.
        if (in.kind() == TypeKind::String && equalsIgnoreCase(type.className, "FolderItem")) {
            out = newFolderItem(in.text());
            return true;
        }
        if (in.kind() != TypeKind::Object) {
            why = "expects a " + type.className;
            return false;
        }
        HostObject* o = liveObject(in.object());
        if (o && !o->cls->isKindOf(type.className)) {
            why = "expects a " + type.className + ", not a " + o->cls->name;
            return false;
        }
        out = in;
        return true;
    }
    why = "has no type";
    return false;
}

bool HostRuntime::convertText(const TypeSpec& type, const std::string& text, Value& out, std::string& why) {
    if (isIntegerKind(type.kind)) {
        int64_t v;
        if (!parseInteger(text, v) || !inRange(v, type.kind)) {
            why = "expects a whole number that fits " + typeName(type) + ", not \"" + text + "\"";
            return false;
        }
        out = Value::integer(v, type.kind);
        return true;
    }
    if (isRealKind(type.kind)) {
        double v;
        if (!parseReal(text, v)) {
            why = "expects a number, not \"" + text + "\"";
            return false;
        }
        out = Value::real(v, type.kind);
        return true;
    }
    if (type.kind == TypeKind::Boolean) {
        if (equalsIgnoreCase(text, "true"))
            out = Value::boolean(true);
        else if (equalsIgnoreCase(text, "false"))
            out = Value::boolean(false);
        else {
            why = "expects true or false, not \"" + text + "\"";
            return false;
        }
        return true;
    }
    if (type.kind == TypeKind::String) {
        out = newString(text);
        return true;
    }
    if (type.kind == TypeKind::Object) {
        if (equalsIgnoreCase(type.className, "FolderItem")) {
            out = newFolderItem(text);
            return true;
        }
        if (text == "nil") {
            out = Value::nil();
            return true;
        }
        why = "is a " + type.className + ": only nil can be given for it here";
        return false;
    }
    why = "has no type";
    return false;
}

bool HostRuntime::defaultArgument(const ParamSpec& param, Value& out) {
    const std::string& text = param.defaultText;
    const TypeSpec& type = param.type;
    std::string why;
    if (type.kind == TypeKind::String) {
        if (text.size() < 2 || text.front() != '"' || text.back() != '"') return false;
        out = newString(text.substr(1, text.size() - 2));
        return true;
    }
    if (type.kind == TypeKind::Object) {
        if (!equalsIgnoreCase(text, "nil")) return false;
        out = Value::nil();
        return true;
    }
    return convertText(type, text, out, why);
}

CallOutcome HostRuntime::invokeChosen(const std::vector<const MethodInfo*>& candidates,
                                      const std::string& what, REALobject self, std::vector<Value> args,
                                      bool fromText, const std::vector<std::string>& texts,
                                      ClassInfo* constructing) {
    CallOutcome outcome;
    if (candidates.empty()) {
        outcome.error = what + " does not exist";
        return outcome;
    }
    size_t given = fromText ? texts.size() : args.size();
    std::string lastWhy;
    // nil stands for a missing object first; only when no overload takes it so does it stand for
    // a missing string.
    for (int pass = 0; pass < 2; ++pass) {
        _nilForString = pass == 1;
        for (const MethodInfo* m : candidates) {
            const Declaration& decl = m->decl;
            if (given < decl.requiredCount() || given > decl.params.size()) {
                lastWhy = describeParams(decl) + " takes " + std::to_string(decl.requiredCount()) +
                          (decl.requiredCount() == decl.params.size()
                               ? ""
                               : " to " + std::to_string(decl.params.size())) +
                          (decl.params.size() == 1 ? " argument" : " arguments") + ", not " +
                          std::to_string(given);
                continue;
            }
            std::vector<Value> converted(decl.params.size());
            bool fits = true;
            for (size_t i = 0; i < decl.params.size() && fits; ++i) {
                std::string why;
                TypeSpec type = decl.params[i].type;
                type.byRef = false;
                if (i < given) {
                    fits = fromText ? convertText(type, texts[i], converted[i], why)
                                    : convertArgument(type, args[i], converted[i], why);
                    if (!fits)
                        lastWhy =
                            "argument " + std::to_string(i + 1) + " (" + decl.params[i].name + ") " + why;
                } else {
                    fits = defaultArgument(decl.params[i], converted[i]);
                    if (!fits)
                        lastWhy =
                            describeParams(decl) + ": the default of " + decl.params[i].name + " is unusable";
                }
            }
            if (!fits) continue;
            Value instance;
            if (constructing) {
                instance = Value::adoptObject(makeObject(constructing));
                self = instance.object();
            }
            _nilForString = true;
            invoke(m->function, self != nullptr || constructing, self, decl, converted, outcome);
            if (constructing && outcome.ok) outcome.result = instance;
            return outcome;
        }
    }
    _nilForString = true;
    outcome.error = candidates.size() == 1 ? what + ": " + lastWhy
                                           : what + ": no form takes these arguments (" + lastWhy + ")";
    return outcome;
}

CallOutcome HostRuntime::callModule(const std::string& module, const std::string& function,
                                    std::vector<Value> args) {
    const ModuleInfo* m = findModule(module);
    if (!m) {
        CallOutcome outcome;
        outcome.error = "no module " + module;
        return outcome;
    }
    std::vector<const MethodInfo*> candidates;
    for (const auto& method : m->methods)
        if (equalsIgnoreCase(method.decl.name, function) && (!_console || method.consoleSafe))
            candidates.push_back(&method);
    return invokeChosen(candidates, module + "." + function, nullptr, std::move(args), false, {}, nullptr);
}

CallOutcome HostRuntime::callShared(const std::string& className, const std::string& method,
                                    std::vector<Value> args) {
    CallOutcome outcome;
    ClassInfo* cls = classNamed(className);
    if (!cls || !visible(cls)) {
        outcome.error = cls ? className + " is not available to console programs" : "no class " + className;
        return outcome;
    }
    std::vector<const MethodInfo*> candidates;
    for (const ClassInfo* c = cls; c; c = c->super)
        for (const auto& m : c->sharedMethods)
            if (equalsIgnoreCase(m.decl.name, method) && (!_console || m.consoleSafe))
                candidates.push_back(&m);
    return invokeChosen(candidates, className + "." + method, nullptr, std::move(args), false, {}, nullptr);
}

CallOutcome HostRuntime::callMethod(const Value& self, const std::string& method, std::vector<Value> args) {
    CallOutcome outcome;
    HostObject* o = liveObject(self.object());
    if (!o) {
        outcome.error = method + " called on nil";
        return outcome;
    }
    std::vector<const MethodInfo*> candidates;
    for (const ClassInfo* c = o->cls; c; c = c->super)
        for (const auto& m : c->methods)
            if (equalsIgnoreCase(m.decl.name, method) && (!_console || m.consoleSafe))
                candidates.push_back(&m);
    return invokeChosen(candidates, o->cls->name + "." + method, self.object(), std::move(args), false, {},
                        nullptr);
}

namespace {

// The constructors of the nearest class of the chain that declares any.
std::vector<const MethodInfo*> constructorsOf(const ClassInfo* cls, bool console) {
    std::vector<const MethodInfo*> found;
    for (const ClassInfo* c = cls; c && found.empty(); c = c->super)
        for (const auto& m : c->methods)
            if (equalsIgnoreCase(m.decl.name, "Constructor") && (!console || m.consoleSafe))
                found.push_back(&m);
    return found;
}

} // namespace

CallOutcome HostRuntime::construct(const std::string& className, std::vector<Value> args) {
    CallOutcome outcome;
    ClassInfo* cls = classNamed(className);
    if (!cls || !visible(cls)) {
        outcome.error = cls ? className + " is not available to console programs" : "no class " + className;
        return outcome;
    }
    auto candidates = constructorsOf(cls, _console);
    if (candidates.empty() && args.empty()) {
        outcome.result = Value::adoptObject(makeObject(cls));
        outcome.ok = true;
        return outcome;
    }
    return invokeChosen(candidates, className + ".Constructor", nullptr, std::move(args), false, {}, cls);
}

CallOutcome HostRuntime::callText(const std::string& target, const std::vector<std::string>& texts) {
    CallOutcome outcome;
    size_t dot = target.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == target.size()) {
        outcome.error = "\"" + target + "\" is not Module.function or Class.method";
        return outcome;
    }
    std::string owner = target.substr(0, dot), member = target.substr(dot + 1);
    if (const ModuleInfo* m = findModule(owner)) {
        std::vector<const MethodInfo*> candidates;
        for (const auto& method : m->methods)
            if (equalsIgnoreCase(method.decl.name, member) && (!_console || method.consoleSafe))
                candidates.push_back(&method);
        return invokeChosen(candidates, m->name + "." + member, nullptr, {}, true, texts, nullptr);
    }
    ClassInfo* cls = classNamed(owner);
    if (!cls) {
        outcome.error = "no module or class " + owner;
        return outcome;
    }
    if (!visible(cls)) {
        outcome.error = cls->name + " is not available to console programs";
        return outcome;
    }
    if (equalsIgnoreCase(member, "Constructor")) {
        auto candidates = constructorsOf(cls, _console);
        if (candidates.empty() && texts.empty()) {
            outcome.result = Value::adoptObject(makeObject(cls));
            outcome.ok = true;
            return outcome;
        }
        return invokeChosen(candidates, cls->name + ".Constructor", nullptr, {}, true, texts, cls);
    }
    std::vector<const MethodInfo*> shared, instance;
    for (const ClassInfo* c = cls; c; c = c->super) {
        for (const auto& m : c->sharedMethods)
            if (equalsIgnoreCase(m.decl.name, member) && (!_console || m.consoleSafe)) shared.push_back(&m);
        for (const auto& m : c->methods)
            if (equalsIgnoreCase(m.decl.name, member) && (!_console || m.consoleSafe)) instance.push_back(&m);
    }
    if (!shared.empty())
        return invokeChosen(shared, cls->name + "." + member, nullptr, {}, true, texts, nullptr);
    if (instance.empty()) {
        outcome.error = cls->name + "." + member + " does not exist";
        return outcome;
    }
    // An instance method runs on a new instance made by the class's constructor without arguments.
    Value self = newInstance(cls->name);
    if (self.isNil()) {
        outcome.error = cls->name + " cannot be made without arguments";
        return outcome;
    }
    return invokeChosen(instance, cls->name + "." + member, self.object(), {}, true, texts, nullptr);
}

std::string HostRuntime::describe(const Value& value) {
    switch (value.kind()) {
    case TypeKind::Void:
        return "";
    case TypeKind::Integer:
    case TypeKind::Int16:
    case TypeKind::UInt16:
    case TypeKind::UInt32:
        return std::to_string(value.asInteger());
    case TypeKind::Double:
    case TypeKind::Single:
        return formatReal(value.asReal());
    case TypeKind::Boolean:
        return value.asBoolean() ? "true" : "false";
    case TypeKind::String: {
        HostString* s = liveString(value.string());
        if (!s) return "";
        std::string text;
        return convertEncoding(s->bytes, s->encoding, kREALTextEncodingUTF8, text) ? text : s->bytes;
    }
    case TypeKind::Object:
        break;
    }
    HostObject* o = liveObject(value.object());
    if (!o) return "nil";
    std::string out = o->cls->name;
    std::vector<const ClassInfo*> chain;
    for (const ClassInfo* c = o->cls; c; c = c->super)
        chain.push_back(c);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        for (const auto& prop : (*it)->properties) {
            if (_console && !prop.consoleSafe) continue;
            Value v;
            if (!callGetter(prop, value.object(), v)) continue;
            std::string shown =
                v.kind() == TypeKind::Object ? (v.isNil() ? "nil" : v.className()) : describe(v);
            out += "\n  " + prop.name + " = " + shown;
        }
    return out;
}

} // namespace sylhost
