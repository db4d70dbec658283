#include "HostScript.h"
#include "HostObjects.h"

#include <ffi.h>

#include <cctype>
#include <charconv>
#include <cmath>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace sylhost {

namespace {

enum class Tok { Name, String, Integer, Real, Dot, Open, Close, Comma, Equals };

struct Token {
    Tok kind;
    std::string text;
};

// The token a one-character punctuation mark stands for.
std::optional<Tok> punctuation(char c) {
    switch (c) {
    case '.':
        return Tok::Dot;
    case '(':
        return Tok::Open;
    case ')':
        return Tok::Close;
    case ',':
        return Tok::Comma;
    case '=':
        return Tok::Equals;
    default:
        return std::nullopt;
    }
}

// Splits a line into tokens; false with `why` set for a character that starts none.
bool lex(const std::string& line, std::vector<Token>& out, std::string& why) {
    size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            size_t start = i;
            while (i < line.size() && (std::isalnum(static_cast<unsigned char>(line[i])) || line[i] == '_'))
                ++i;
            out.push_back({Tok::Name, line.substr(start, i - start)});
        } else if (c == '"') {
            std::string text;
            ++i;
            for (;;) {
                if (i >= line.size()) {
                    why = "a string is not closed";
                    return false;
                }
                if (line[i] == '"') {
                    if (i + 1 < line.size() && line[i + 1] == '"') {
                        text += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                text += line[i++];
            }
            out.push_back({Tok::String, text});
        } else if (std::isdigit(static_cast<unsigned char>(c)) ||
                   ((c == '-' || c == '+') && i + 1 < line.size() &&
                    (std::isdigit(static_cast<unsigned char>(line[i + 1])) || line[i + 1] == '.'))) {
            size_t start = i++;
            bool real = false;
            while (i < line.size()) {
                char d = line[i];
                if (std::isdigit(static_cast<unsigned char>(d))) {
                    ++i;
                } else if (d == '.' || d == 'e' || d == 'E') {
                    real = true;
                    ++i;
                    if ((d == 'e' || d == 'E') && i < line.size() && (line[i] == '-' || line[i] == '+')) ++i;
                } else {
                    break;
                }
            }
            out.push_back({real ? Tok::Real : Tok::Integer, line.substr(start, i - start)});
        } else if (std::optional<Tok> kind = punctuation(c)) {
            out.push_back({*kind, std::string(1, c)});
            ++i;
        } else {
            why = std::string("unexpected character '") + c + "'";
            return false;
        }
    }
    return true;
}

// A reference in a statement: a name, a member of a name, or a call of one.
struct Reference {
    std::string owner;
    std::string member; // empty: the name alone
    bool call = false;
    std::vector<Token> args;
};

class Script {
  public:
    Script(HostRuntime& host, std::ostream& out) : _host(host), _out(out) {}

    // Runs one statement; false with `why` set on an error. `raised` tells an exception apart.
    bool run(const std::vector<Token>& tokens, std::string& why, bool& raised);
    void clear() { _variables.clear(); }
    void bind(const std::string& name, Value value) { _variables[name] = std::move(value); }

  private:
    bool parseReference(const std::vector<Token>& tokens, size_t& at, Reference& ref, std::string& why);
    bool literal(const Token& token, Value& out, std::string& why);
    bool argument(const Token& token, Value& out, std::string& why);
    bool arguments(const Reference& ref, std::vector<Value>& out, std::string& why);
    bool evaluate(const std::vector<Token>& tokens, Value& out, std::string& why, bool& raised);
    bool call(const Reference& ref, Value& out, std::string& why, bool& raised);
    bool outcome(CallOutcome&& result, Value& out, std::string& why, bool& raised);
    bool constant(const std::vector<ConstantInfo>& constants, const std::string& name, Value& out);
    Value* variable(const std::string& name);

    HostRuntime& _host;
    std::ostream& _out;
    std::map<std::string, Value> _variables;
};

Value* Script::variable(const std::string& name) {
    auto it = _variables.find(name);
    return it == _variables.end() ? nullptr : &it->second;
}

bool Script::parseReference(const std::vector<Token>& tokens, size_t& at, Reference& ref, std::string& why) {
    if (at >= tokens.size() || tokens[at].kind != Tok::Name) {
        why = "a name is expected";
        return false;
    }
    ref.owner = tokens[at++].text;
    if (at < tokens.size() && tokens[at].kind == Tok::Dot) {
        ++at;
        if (at >= tokens.size() || tokens[at].kind != Tok::Name) {
            why = "a member name is expected after \".\"";
            return false;
        }
        ref.member = tokens[at++].text;
    }
    if (at < tokens.size() && tokens[at].kind == Tok::Open) {
        if (ref.member.empty()) {
            why = ref.owner + "(...) names no module, class or object member";
            return false;
        }
        ref.call = true;
        ++at;
        bool first = true;
        while (at < tokens.size() && tokens[at].kind != Tok::Close) {
            if (!first) {
                if (tokens[at].kind != Tok::Comma) {
                    why = "\",\" or \")\" is expected";
                    return false;
                }
                ++at;
            }
            if (at >= tokens.size() || tokens[at].kind == Tok::Close || tokens[at].kind == Tok::Comma ||
                tokens[at].kind == Tok::Open || tokens[at].kind == Tok::Dot ||
                tokens[at].kind == Tok::Equals) {
                why = "an argument is a literal or a variable";
                return false;
            }
            ref.args.push_back(tokens[at++]);
            first = false;
        }
        if (at >= tokens.size()) {
            why = "\")\" is missing";
            return false;
        }
        ++at;
    }
    return true;
}

bool Script::literal(const Token& token, Value& out, std::string& why) {
    switch (token.kind) {
    case Tok::String:
        out = _host.newString(token.text);
        return true;
    case Tok::Integer: {
        int64_t v = 0;
        const char* begin = token.text.data() + (token.text[0] == '+' ? 1 : 0);
        auto r = std::from_chars(begin, token.text.data() + token.text.size(), v);
        if (r.ec != std::errc() || r.ptr != token.text.data() + token.text.size()) {
            why = token.text + " is not a whole number that fits 64 bits";
            return false;
        }
        out = Value::integer(v);
        return true;
    }
    case Tok::Real: {
        double v = 0;
        const char* begin = token.text.data() + (token.text[0] == '+' ? 1 : 0);
        auto r = std::from_chars(begin, token.text.data() + token.text.size(), v);
        if (r.ec != std::errc() || r.ptr != token.text.data() + token.text.size() || !std::isfinite(v)) {
            why = token.text + " is not a number";
            return false;
        }
        out = Value::real(v);
        return true;
    }
    default:
        break;
    }
    if (token.kind == Tok::Name) {
        if (equalsIgnoreCase(token.text, "true") || equalsIgnoreCase(token.text, "false")) {
            out = Value::boolean(equalsIgnoreCase(token.text, "true"));
            return true;
        }
        if (equalsIgnoreCase(token.text, "nil")) {
            out = Value::nil();
            return true;
        }
    }
    why = "\"" + token.text + "\" is not a value";
    return false;
}

bool Script::argument(const Token& token, Value& out, std::string& why) {
    if (token.kind == Tok::Name && !equalsIgnoreCase(token.text, "true") &&
        !equalsIgnoreCase(token.text, "false") && !equalsIgnoreCase(token.text, "nil")) {
        Value* v = variable(token.text);
        if (!v) {
            why = "no variable " + token.text;
            return false;
        }
        out = *v;
        return true;
    }
    return literal(token, out, why);
}

bool Script::arguments(const Reference& ref, std::vector<Value>& out, std::string& why) {
    for (const Token& token : ref.args) {
        Value v;
        if (!argument(token, v, why)) return false;
        out.push_back(std::move(v));
    }
    return true;
}

bool Script::outcome(CallOutcome&& result, Value& out, std::string& why, bool& raised) {
    if (!result.ok) {
        why = result.error;
        return false;
    }
    if (result.exception.object()) {
        std::string message = _host.describe(_host.getProperty(result.exception, "Message"));
        why = "raised " + result.exception.className() + (message.empty() ? "" : ": " + message);
        raised = true;
        return false;
    }
    out = std::move(result.result);
    return true;
}

bool Script::constant(const std::vector<ConstantInfo>& constants, const std::string& name, Value& out) {
    for (const auto& c : constants) {
        if (!equalsIgnoreCase(c.spec.name, name)) continue;
        if (c.spec.isString) {
            out = _host.newString(c.spec.value);
            return true;
        }
        Token token{c.spec.value.find_first_of(".eE") == std::string::npos ? Tok::Integer : Tok::Real,
                    c.spec.value};
        std::string why;
        return literal(token, out, why);
    }
    return false;
}

bool Script::call(const Reference& ref, Value& out, std::string& why, bool& raised) {
    std::vector<Value> args;
    if (!arguments(ref, args, why)) return false;
    if (Value* object = variable(ref.owner)) {
        if (ref.call)
            return outcome(_host.callMethod(*object, ref.member, std::move(args)), out, why, raised);
        if (object->kind() != TypeKind::Object || object->isNil()) {
            why = ref.owner + " is not an object";
            return false;
        }
        const ClassInfo* cls = _host.findClass(object->className());
        const PropertyInfo* prop = cls ? _host.findProperty(cls, ref.member) : nullptr;
        if (!prop) {
            why = object->className() + " has no property " + ref.member;
            return false;
        }
        if (!_host.callGetter(*prop, object->object(), out)) {
            why = object->className() + "." + prop->name + " cannot be read";
            return false;
        }
        return true;
    }
    if (const ModuleInfo* module = _host.findModule(ref.owner)) {
        if (ref.call)
            return outcome(_host.callModule(module->name, ref.member, std::move(args)), out, why, raised);
        if (constant(module->constants, ref.member, out)) return true;
        why = module->name + " has no constant " + ref.member;
        return false;
    }
    if (const ClassInfo* cls = _host.findClass(ref.owner)) {
        if (ref.call) {
            if (equalsIgnoreCase(ref.member, "Constructor"))
                return outcome(_host.construct(cls->name, std::move(args)), out, why, raised);
            return outcome(_host.callShared(cls->name, ref.member, std::move(args)), out, why, raised);
        }
        for (const ClassInfo* c = cls; c; c = c->super)
            if (constant(c->constants, ref.member, out)) return true;
        for (const ClassInfo* c = cls; c; c = c->super)
            for (const PropertyInfo& prop : c->sharedProperties) {
                if (!equalsIgnoreCase(prop.name, ref.member)) continue;
                if (_host.callGetter(prop, nullptr, out)) return true;
                why = cls->name + "." + prop.name + " cannot be read";
                return false;
            }
        why = cls->name + " has no constant " + ref.member;
        return false;
    }
    if (equalsIgnoreCase(ref.owner, "App") && ref.call && equalsIgnoreCase(ref.member, "DoEvents")) {
        // The host application's event loop, run for a number of milliseconds (one pass without).
        if (args.size() > 1 || (args.size() == 1 && args[0].kind() != TypeKind::Integer)) {
            why = "App.DoEvents takes a number of milliseconds";
            return false;
        }
        _host.runEventLoop(args.empty() ? 0 : args[0].asInteger());
        return true;
    }
    why = "no variable, module or class " + ref.owner;
    return false;
}

bool Script::evaluate(const std::vector<Token>& tokens, Value& out, std::string& why, bool& raised) {
    if (tokens.empty()) {
        why = "a value is expected";
        return false;
    }
    if (tokens.size() == 1) return argument(tokens[0], out, why);
    size_t at = 0;
    Reference ref;
    if (!parseReference(tokens, at, ref, why)) return false;
    if (at != tokens.size()) {
        why = "unexpected \"" + tokens[at].text + "\"";
        return false;
    }
    return call(ref, out, why, raised);
}

bool Script::run(const std::vector<Token>& tokens, std::string& why, bool& raised) {
    if (tokens.size() >= 2 && tokens[0].kind == Tok::Name && equalsIgnoreCase(tokens[0].text, "print") &&
        tokens[1].kind != Tok::Equals && tokens[1].kind != Tok::Dot) {
        Value v;
        if (!evaluate(std::vector<Token>(tokens.begin() + 1, tokens.end()), v, why, raised)) return false;
        _out << _host.describe(v) << '\n';
        return true;
    }
    // The first "=" outside parentheses splits an assignment.
    size_t equals = tokens.size();
    int depth = 0;
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].kind == Tok::Open) ++depth;
        if (tokens[i].kind == Tok::Close) --depth;
        if (tokens[i].kind == Tok::Equals && depth == 0) {
            equals = i;
            break;
        }
    }
    if (equals == tokens.size()) {
        size_t at = 0;
        Reference ref;
        if (!parseReference(tokens, at, ref, why)) return false;
        if (at != tokens.size()) {
            why = "unexpected \"" + tokens[at].text + "\"";
            return false;
        }
        if (!ref.call) {
            why = "a statement is a call, an assignment or print";
            return false;
        }
        Value ignored;
        return call(ref, ignored, why, raised);
    }
    std::vector<Token> left(tokens.begin(), tokens.begin() + long(equals));
    std::vector<Token> right(tokens.begin() + long(equals) + 1, tokens.end());
    size_t at = 0;
    Reference target;
    if (!parseReference(left, at, target, why)) return false;
    if (at != left.size()) {
        why = "unexpected \"" + left[at].text + "\"";
        return false;
    }
    Value value;
    if (!evaluate(right, value, why, raised)) return false;
    if (target.member.empty()) {
        if (value.isVoid()) {
            why = "the call gives no value to keep";
            return false;
        }
        if (_host.findModule(target.owner) || _host.findClass(target.owner) ||
            equalsIgnoreCase(target.owner, "print") || equalsIgnoreCase(target.owner, "nil") ||
            equalsIgnoreCase(target.owner, "true") || equalsIgnoreCase(target.owner, "false")) {
            why = target.owner + " cannot name a variable";
            return false;
        }
        _variables[target.owner] = std::move(value);
        return true;
    }
    Value* object = variable(target.owner);
    if (!object) {
        why = "no variable " + target.owner;
        return false;
    }
    if (target.call) {
        std::vector<Value> args;
        if (!arguments(target, args, why)) return false;
        Value ignored;
        return outcome(_host.assignMethod(*object, target.member, std::move(args), value), ignored, why,
                       raised);
    }
    return _host.setProperty(*object, target.member, value, why);
}

std::string trim(const std::string& text) {
    size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string::npos) return "";
    size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(start, end - start + 1);
}

// ---- Classes a script declares ----
//
//   class Name inherits Super
//   sub Method(p as type, ...)
//   statements
//   end sub
//   end class
//
// Each sub becomes a method of a new host class, derived from a registered one, so that a plug-in
// that looks a method of its instance up by its declaration (REALLoadObjectMethod) calls the
// script's code, as it calls a subclass's in a host program. A sub's statements see its parameters
// and `self`, nothing else; a sub gives no result.

struct ScriptLine {
    size_t number;
    std::string text;
};

struct ScriptMethod {
    std::string declaration;
    Declaration decl;
    std::vector<ScriptLine> body;
    std::vector<ffi_type*> types;
    ffi_cif cif{};
    ffi_closure* closure = nullptr;
    void* code = nullptr;

    ScriptMethod() = default;
    ScriptMethod(const ScriptMethod&) = delete;
    ScriptMethod& operator=(const ScriptMethod&) = delete;
    ~ScriptMethod() {
        if (closure) ffi_closure_free(closure);
    }
};

struct ScriptClass {
    std::string name;
    std::string super;
    std::deque<ScriptMethod> methods;
    std::vector<REALMethodRecord> records;
    REALClassRecord record{};
};

// The host keeps the records of the classes it registers for as long as it lives: so do these.
std::deque<std::unique_ptr<ScriptClass>>& scriptClasses() {
    static std::deque<std::unique_ptr<ScriptClass>> all;
    return all;
}

// The run the script's code belongs to, and the first failure of a sub, which ends the run.
struct ScriptRun {
    HostRuntime* host = nullptr;
    std::ostream* out = nullptr;
    std::string failure;
    bool raised = false;
    int depth = 0;
};
ScriptRun* gRun = nullptr;

constexpr int kMaxSubDepth = 64;

// A script sub takes its parameters by value; one with no value has no type.
ffi_type* closureType(const TypeSpec& t) {
    return t.kind == TypeKind::Void ? nullptr : ffiType(t);
}

// A parameter as the sub sees it: strings and objects take a reference of their own.
Value parameterValue(const TypeSpec& t, void* at) {
    switch (t.kind) {
    case TypeKind::Integer:
        return Value::integer(*static_cast<int32_t*>(at));
    case TypeKind::Int16:
        return Value::integer(*static_cast<int16_t*>(at), TypeKind::Int16);
    case TypeKind::UInt16:
        return Value::integer(*static_cast<uint16_t*>(at), TypeKind::UInt16);
    case TypeKind::UInt32:
        return Value::integer(*static_cast<uint32_t*>(at), TypeKind::UInt32);
    case TypeKind::Double:
        return Value::real(*static_cast<double*>(at));
    case TypeKind::Single:
        return Value::real(*static_cast<float*>(at), TypeKind::Single);
    case TypeKind::Boolean:
        return Value::boolean(*static_cast<uint8_t*>(at) != 0);
    case TypeKind::String: {
        REALstring s = *static_cast<REALstring*>(at);
        if (!liveString(s)) return Value::nil(TypeKind::String);
        retainString(s);
        return Value::adoptString(s);
    }
    case TypeKind::Object: {
        REALobject o = *static_cast<REALobject*>(at);
        if (!liveObject(o)) return Value::nil();
        retainObject(o);
        return Value::adoptObject(o);
    }
    case TypeKind::Void:
        break;
    }
    return Value();
}

// Where every sub is entered, whoever calls it.
void enterSub(ffi_cif*, void*, void** args, void* data) {
    auto* method = static_cast<ScriptMethod*>(data);
    ScriptRun* run = gRun;
    // Outside its run, or once the run has failed, the script's code does nothing.
    if (!run || !run->failure.empty()) return;
    if (run->depth >= kMaxSubDepth) {
        run->failure = "line " + std::to_string(method->body.empty() ? 0 : method->body[0].number) + ": " +
                       method->decl.name + " calls itself too deeply";
        return;
    }
    ++run->depth;
    {
        Script local(*run->host, *run->out);
        local.bind("self", parameterValue(TypeSpec{TypeKind::Object, {}, false}, args[0]));
        for (size_t i = 0; i < method->decl.params.size(); ++i)
            local.bind(method->decl.params[i].name, parameterValue(method->decl.params[i].type, args[i + 1]));
        for (const ScriptLine& line : method->body) {
            std::vector<Token> tokens;
            std::string why;
            bool raised = false;
            if (!lex(line.text, tokens, why) || !local.run(tokens, why, raised)) {
                if (run->failure.empty()) {
                    run->failure = "line " + std::to_string(line.number) + ": " + line.text + ": " + why;
                    run->raised = raised;
                }
                break;
            }
            if (!run->failure.empty()) break;
        }
        local.clear();
    }
    --run->depth;
}

bool startsWithWord(const std::string& text, const char* word) {
    const size_t n = std::char_traits<char>::length(word);
    return text.size() >= n && equalsIgnoreCase(std::string_view(text).substr(0, n), word) &&
           (text.size() == n || std::isspace(static_cast<unsigned char>(text[n])));
}

// The words of "end sub" or "end class", blanks between them as they come.
bool isEnd(const std::string& text, const char* what) {
    if (!startsWithWord(text, "end")) return false;
    return equalsIgnoreCase(trim(text.substr(3)), what);
}

// Reads the class block that starts at lines[at] (its "class" line), leaving `at` on its "end
// class" line, and registers the class; false with `why` (and `at` on the line at fault).
bool declareClass(HostRuntime& host, const std::vector<ScriptLine>& lines, size_t& at, std::string& why) {
    auto cls = std::make_unique<ScriptClass>();
    {
        std::vector<Token> tokens;
        if (!lex(lines[at].text, tokens, why)) return false;
        if (tokens.size() != 4 || tokens[1].kind != Tok::Name || tokens[2].kind != Tok::Name ||
            !equalsIgnoreCase(tokens[2].text, "inherits") || tokens[3].kind != Tok::Name) {
            why = "a class is declared as \"class Name inherits Super\"";
            return false;
        }
        cls->name = tokens[1].text;
        cls->super = tokens[3].text;
    }
    if (host.findClass(cls->name) || host.findModule(cls->name)) {
        why = "a class or module " + cls->name + " exists already";
        return false;
    }
    const ClassInfo* super = host.findClass(cls->super);
    if (!super || !host.visible(super)) {
        why = "no class " + cls->super;
        return false;
    }
    for (++at; at < lines.size(); ++at) {
        const std::string& text = lines[at].text;
        if (text.empty() || text[0] == '#') continue;
        if (isEnd(text, "class")) break;
        if (!startsWithWord(text, "sub")) {
            why = "a class holds subs only";
            return false;
        }
        ScriptMethod& method = cls->methods.emplace_back();
        method.declaration = trim(text.substr(3));
        std::optional<Declaration> decl = parseDeclaration(method.declaration);
        if (!decl || decl->result.kind != TypeKind::Void) {
            why = "a sub is declared as \"sub Name(p as type, ...)\" and gives no result";
            return false;
        }
        method.decl = *decl;
        method.types.push_back(&ffi_type_pointer);
        for (const ParamSpec& p : method.decl.params) {
            ffi_type* type = p.type.byRef ? nullptr : closureType(p.type);
            if (!type || p.hasDefault || equalsIgnoreCase(p.name, "self")) {
                why = "the parameter " + p.name + " of " + method.decl.name + " cannot be taken";
                return false;
            }
            method.types.push_back(type);
        }
        for (++at; at < lines.size() && !isEnd(lines[at].text, "sub"); ++at) {
            if (startsWithWord(lines[at].text, "sub") || isEnd(lines[at].text, "class")) {
                why = "\"end sub\" is missing";
                return false;
            }
            if (!lines[at].text.empty() && lines[at].text[0] != '#') method.body.push_back(lines[at]);
        }
        if (at >= lines.size()) {
            --at;
            why = "\"end sub\" is missing";
            return false;
        }
    }
    if (at >= lines.size()) {
        --at;
        why = "\"end class\" is missing";
        return false;
    }
    for (ScriptMethod& method : cls->methods) {
        method.closure = static_cast<ffi_closure*>(ffi_closure_alloc(sizeof(ffi_closure), &method.code));
        if (!method.closure ||
            ffi_prep_cif(&method.cif, FFI_DEFAULT_ABI, unsigned(method.types.size()), &ffi_type_void,
                         method.types.data()) != FFI_OK ||
            ffi_prep_closure_loc(method.closure, &method.cif, &enterSub, &method, method.code) != FFI_OK) {
            why = method.decl.name + " cannot be made callable";
            return false;
        }
        cls->records.push_back(REALMethodRecord{reinterpret_cast<REALproc>(method.code),
                                                nullptr,
                                                method.declaration.c_str(),
                                                kREALConsoleSafe,
                                                {}});
    }
    REALClassRecord& r = cls->record;
    r.version = kREALPluginVersion;
    r.name = cls->name.c_str();
    r.superName = cls->super.c_str();
    r.methods = cls->records.empty() ? nullptr : cls->records.data();
    r.methodCount = RBRecordWord(cls->records.size());
    r.flags = kREALConsoleSafe;
    host.registerClass(&r, -1);
    if (!host.findClass(cls->name)) {
        why = "the host refused the class " + cls->name;
        return false;
    }
    scriptClasses().push_back(std::move(cls));
    return true;
}

} // namespace

int runScript(HostRuntime& host, std::istream& script, std::ostream& out, std::ostream& err) {
    const size_t objectsBefore = host.liveObjects();
    const size_t stringsBefore = host.liveStrings();
    std::vector<ScriptLine> lines;
    {
        std::string line;
        for (size_t number = 1; std::getline(script, line); ++number)
            lines.push_back({number, trim(line)});
    }
    int status = 0;
    {
        Script runner(host, out);
        ScriptRun run;
        run.host = &host;
        run.out = &out;
        ScriptRun* outer = gRun;
        gRun = &run;
        for (size_t at = 0; at < lines.size(); ++at) {
            const std::string& statement = lines[at].text;
            if (statement.empty() || statement[0] == '#') continue;
            std::string why;
            bool raised = false;
            bool ok;
            if (startsWithWord(statement, "class")) {
                const size_t first = at;
                ok = declareClass(host, lines, at, why);
                if (!ok) why = lines[first].text + ": " + why;
            } else {
                std::vector<Token> tokens;
                ok = lex(statement, tokens, why) && runner.run(tokens, why, raised);
                if (!ok) why = statement + ": " + why;
            }
            if (ok && !run.failure.empty()) {
                // A sub the statement called failed: the sub's line is the one at fault.
                err << "sylmark-host: " << run.failure << '\n';
                status = run.raised ? 1 : 2;
                break;
            }
            if (!ok) {
                err << "sylmark-host: line " << lines[at].number << ": " << why << '\n';
                status = raised ? 1 : 2;
                break;
            }
        }
        runner.clear();
        gRun = outer;
    }
    out.flush();
    const size_t objects = host.liveObjects() > objectsBefore ? host.liveObjects() - objectsBefore : 0;
    const size_t strings = host.liveStrings() > stringsBefore ? host.liveStrings() - stringsBefore : 0;
    if (objects != 0 || strings != 0) {
        err << "sylmark-host: " << objects << " objects and " << strings
            << " strings are still alive after the script\n";
        if (status == 0) status = 2;
    }
    return status;
}

} // namespace sylhost
