// The stand-in host: it loads plug-ins, hands each its resolver, keeps the classes and modules
// they register, owns the host objects and strings, provides the built-in classes (FolderItem,
// MemoryBlock, Date, the exceptions) and framework methods, and calls plug-in functions by their
// declaration text.
//
// Everything happens on one thread. A service a plug-in calls acts on the host that is calling
// into that plug-in at the time (each call into plug-in code marks its host active), so several
// hosts may live in one process as long as each loads its own plug-ins.
#pragma once

#include "HostDeclarations.h"
#include "REALplugin.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace sylhost {

class HostRuntime;

struct PropertyInfo {
    std::string name;
    TypeSpec type;
    REALproc getter = nullptr;
    REALproc setter = nullptr;
    int32_t param = 0;
    bool consoleSafe = false;
};

struct MethodInfo {
    std::string text;
    Declaration decl;
    REALproc function = nullptr;
    REALproc setter = nullptr;
    bool consoleSafe = false;
};

struct ConstantInfo {
    std::string declaration;
    ConstantSpec spec;
};

struct ClassInfo {
    std::string name;
    ClassInfo* super = nullptr;
    REALClassRecord* record = nullptr;
    // Who registered it: a plug-in's index, or -1 for the host's own classes.
    int plugin = -1;
    size_t dataOffset = 0;
    size_t dataSize = 0;
    size_t instanceSize = 0;
    std::vector<PropertyInfo> properties;
    std::vector<PropertyInfo> sharedProperties;
    std::vector<MethodInfo> methods;
    std::vector<MethodInfo> sharedMethods;
    std::vector<ConstantInfo> constants;

    // The flags word is read from the record, where SetClassConsoleSafe marks it.
    bool consoleSafe() const { return (record->flags & kREALConsoleSafe) != 0; }
    bool isKindOf(const std::string& className) const;
};

struct ModuleInfo {
    std::string name;
    REALModuleRecord* record = nullptr;
    int plugin = -1;
    std::vector<MethodInfo> methods;
    std::vector<ConstantInfo> constants;
};

struct PluginInfo {
    std::string path;
    void* handle = nullptr;
    void (*entry)(REALresolver) = nullptr;
    int32_t version = 0;
    // What the plug-in said through DebugStr, and what the host refused while it registered.
    std::vector<std::string> messages;
    std::vector<std::string> problems;
    std::vector<std::string> classes;
    std::vector<std::string> modules;
};

// A host value held by the host's side: numbers by value, strings and objects by reference (a
// copy takes another reference, the destructor gives it back).
class Value {
  public:
    Value() = default;
    ~Value();
    Value(const Value& other);
    Value(Value&& other) noexcept;
    Value& operator=(const Value& other);
    Value& operator=(Value&& other) noexcept;

    static Value integer(int64_t v, TypeKind kind = TypeKind::Integer);
    static Value real(double v, TypeKind kind = TypeKind::Double);
    static Value boolean(bool v);
    // Takes over a reference the caller holds.
    static Value adoptString(REALstring s);
    static Value adoptObject(REALobject o);
    // nil: an object or string that is not there.
    static Value nil(TypeKind kind = TypeKind::Object);

    TypeKind kind() const { return _kind; }
    bool isVoid() const { return _kind == TypeKind::Void; }
    bool isNil() const {
        return (_kind == TypeKind::Object && !_object) || (_kind == TypeKind::String && !_string);
    }
    int64_t asInteger() const { return _integer; }
    double asReal() const { return _real; }
    bool asBoolean() const { return _boolean; }
    REALstring string() const { return _string; }
    REALobject object() const { return _object; }
    // The bytes of a string value (empty for nil).
    std::string text() const;
    // The class name of an object value (empty for nil).
    std::string className() const;

  private:
    void retain();
    void release();

    TypeKind _kind = TypeKind::Void;
    int64_t _integer = 0;
    double _real = 0.0;
    bool _boolean = false;
    REALstring _string = nullptr;
    REALobject _object = nullptr;
};

struct CallOutcome {
    bool ok = false;
    std::string error;
    Value result;
    // Parameters passed by reference, with what the call left in them.
    std::vector<std::pair<std::string, Value>> byRefValues;
    // An exception the call raised.
    Value exception;
};

class HostRuntime {
  public:
    // A console host shows console programs only the classes and members marked console-safe.
    explicit HostRuntime(bool console = true);
    ~HostRuntime();
    HostRuntime(const HostRuntime&) = delete;
    HostRuntime& operator=(const HostRuntime&) = delete;

    // Loads a plug-in and calls its entry: its index, or -1 with `error` set.
    int loadPlugin(const std::string& path, std::string& error);
    // A plug-in linked into the host program itself, entered like a loaded one.
    int loadLinkedPlugin(const std::string& name, void (*entry)(REALresolver));
    // Calls a loaded plug-in's entry once more, as a host that loads it again would.
    void reenterPlugin(int index);
    const std::vector<PluginInfo>& plugins() const { return _plugins; }

    bool console() const { return _console; }
    // Classes in registration order (the host's own first).
    const std::vector<std::unique_ptr<ClassInfo>>& classes() const { return _classes; }
    const ClassInfo* findClass(const std::string& name) const;
    const ModuleInfo* findModule(const std::string& name) const;
    const std::vector<std::unique_ptr<ModuleInfo>>& modules() const { return _modules; }

    // Values made by the host.
    Value newString(const std::string& text, REALstringEncoding encoding = kREALTextEncodingUTF8);
    // A FolderItem of the path (relative paths are taken from the working folder); an empty
    // path gives an item without a path.
    Value newFolderItem(const std::string& path);
    // A new instance of the class (nil when unknown or hidden from this host), built by its
    // "Constructor()" when the class has one.
    Value newInstance(const std::string& className);

    // Calls with host values, choosing among overloads by the arguments.
    CallOutcome callModule(const std::string& module, const std::string& function, std::vector<Value> args);
    CallOutcome callShared(const std::string& className, const std::string& method, std::vector<Value> args);
    CallOutcome callMethod(const Value& self, const std::string& method, std::vector<Value> args);
    // A new instance built by the constructor that fits the arguments.
    CallOutcome construct(const std::string& className, std::vector<Value> args);
    // "Module.function" or "Class.method" with arguments given as text, converted by the
    // declaration of the chosen overload (a path where a folderitem is declared).
    CallOutcome callText(const std::string& target, const std::vector<std::string>& args);

    // The setter of a method that can be assigned to (`object.method(arguments) = value`),
    // chosen among overloads by the arguments and the value.
    CallOutcome assignMethod(const Value& self, const std::string& method, std::vector<Value> args,
                             const Value& value);

    Value getProperty(const Value& object, const std::string& name);
    // Sets a property through its setter; false with `error` set when there is no such property,
    // it is read-only or the value does not fit its type.
    bool setProperty(const Value& object, const std::string& name, const Value& value, std::string& error);
    // An exception raised outside any call the host made (the caller takes it over).
    Value takePendingException() { return std::move(_pendingException); }
    // How a value is shown: numbers and strings as text, objects as their class and simple
    // properties.
    std::string describe(const Value& value);

    // ---- The event loop ----
    // A manual clock: each plug-in's clock moves only when the loop runs, by the time it is run
    // for, so that timed work is the same on every run. Set before plug-ins load.
    void useManualClock(bool on) { _manualClock = on; }
    bool manualClock() const { return _manualClock; }
    // Keeps a plug-in's pump; the host calls every pump while the event loop runs.
    void registerEventPump(REALEventPump pump, int plugin);
    size_t eventPumpCount() const { return _pumps.size(); }
    // Runs the event loop for `milliseconds` (as the host's App.DoEvents does): with a manual
    // clock every pump moves its clock on by that much; otherwise the pumps fire what falls due
    // while the time passes. 0 or less gives each pump one pass.
    void runEventLoop(int64_t milliseconds);

    // Host objects and strings alive now.
    size_t liveObjects() const { return _liveObjects; }
    size_t liveStrings() const { return _liveStrings; }

    // ---- Used by the services and the built-in classes ----
    static HostRuntime* active();
    static void* resolve(const char* name);
    REALstring makeString(std::string bytes, REALstringEncoding encoding);
    REALobject makeObject(ClassInfo* cls);
    ClassInfo* classNamed(const std::string& name) const;
    ClassInfo* classOfRecord(const REALClassRecord* record) const;
    bool visible(const ClassInfo* cls) const { return !_console || cls->consoleSafe(); }
    void registerClass(REALClassRecord* record, int plugin);
    int32_t registerModule(REALModuleRecord* record, int plugin);
    void raise(REALobject exception);
    int currentPlugin() const { return _currentPlugin; }
    PluginInfo* plugin(int index);
    const PropertyInfo* findProperty(const ClassInfo* cls, const std::string& name) const;
    bool callGetter(const PropertyInfo& prop, REALobject self, Value& out);
    bool callSetter(const PropertyInfo& prop, REALobject self, const Value& value);
    void noteObjectGone() { --_liveObjects; }
    void noteStringGone() { --_liveStrings; }

    // Sets the active host while plug-in code runs.
    class Scope {
      public:
        explicit Scope(HostRuntime* host);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

      private:
        HostRuntime* _previous;
    };

  private:
    CallOutcome invokeChosen(const std::vector<const MethodInfo*>& candidates, const std::string& what,
                             REALobject self, std::vector<Value> args, bool fromText,
                             const std::vector<std::string>& texts, ClassInfo* constructing);
    bool convertArgument(const TypeSpec& type, const Value& in, Value& out, std::string& why);
    bool convertText(const TypeSpec& type, const std::string& text, Value& out, std::string& why);
    bool defaultArgument(const ParamSpec& param, Value& out);
    bool invoke(REALproc fn, bool hasSelf, REALobject self, const Declaration& decl, std::vector<Value>& args,
                CallOutcome& outcome);
    void registerBuiltins();
    void destroyRemaining();

    bool _console;
    std::vector<PluginInfo> _plugins;
    std::vector<std::unique_ptr<ClassInfo>> _classes;
    std::map<const REALClassRecord*, ClassInfo*> _byRecord;
    std::vector<std::unique_ptr<ModuleInfo>> _modules;
    int _currentPlugin = -1;
    Value _pendingException;
    size_t _liveObjects = 0;
    size_t _liveStrings = 0;
    struct EventPump {
        REALEventPump pump;
        int plugin;
    };
    std::vector<EventPump> _pumps;
    bool _manualClock = false;
    // Whether nil converts to a string argument (a missing string) as well as to an object.
    bool _nilForString = true;
};

} // namespace sylhost
