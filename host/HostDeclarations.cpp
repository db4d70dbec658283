#include "HostDeclarations.h"

#include <cctype>

namespace sylhost {

namespace {

bool isIdentChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

struct Cursor {
    std::string_view text;
    size_t pos = 0;

    void skipSpace() {
        while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos])))
            ++pos;
    }
    bool atEnd() {
        skipSpace();
        return pos >= text.size();
    }
    bool take(char c) {
        skipSpace();
        if (pos < text.size() && text[pos] == c) {
            ++pos;
            return true;
        }
        return false;
    }
    // A name; type names may be qualified with dots.
    std::string ident(bool allowDots = false) {
        skipSpace();
        size_t start = pos;
        while (pos < text.size() && (isIdentChar(text[pos]) || (allowDots && text[pos] == '.')))
            ++pos;
        return std::string(text.substr(start, pos - start));
    }
    // The keyword as a whole word.
    bool keyword(std::string_view word) {
        skipSpace();
        if (text.size() - pos < word.size()) return false;
        if (!equalsIgnoreCase(text.substr(pos, word.size()), word)) return false;
        size_t end = pos + word.size();
        if (end < text.size() && isIdentChar(text[end])) return false;
        pos = end;
        return true;
    }
    // A default value: up to the next comma or closing parenthesis outside double quotes.
    std::optional<std::string> defaultValue() {
        skipSpace();
        size_t start = pos;
        bool quoted = false;
        while (pos < text.size()) {
            char c = text[pos];
            if (c == '"')
                quoted = !quoted;
            else if (!quoted && (c == ',' || c == ')'))
                break;
            ++pos;
        }
        if (quoted) return std::nullopt;
        std::string value(text.substr(start, pos - start));
        while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back())))
            value.pop_back();
        if (value.empty()) return std::nullopt;
        return value;
    }
};

} // namespace

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

size_t Declaration::requiredCount() const {
    size_t n = 0;
    for (const auto& p : params)
        if (!p.hasDefault) ++n;
    return n;
}

TypeSpec parseType(std::string_view name) {
    struct Row {
        const char* name;
        TypeKind kind;
    };
    static const Row rows[] = {
        {"integer", TypeKind::Integer}, {"int32", TypeKind::Integer},   {"int16", TypeKind::Int16},
        {"uint16", TypeKind::UInt16},   {"uint32", TypeKind::UInt32},   {"double", TypeKind::Double},
        {"single", TypeKind::Single},   {"boolean", TypeKind::Boolean}, {"string", TypeKind::String},
    };
    TypeSpec type;
    for (const auto& row : rows)
        if (equalsIgnoreCase(name, row.name)) {
            type.kind = row.kind;
            return type;
        }
    type.kind = name.empty() ? TypeKind::Void : TypeKind::Object;
    type.className = std::string(name);
    return type;
}

std::optional<Declaration> parseDeclaration(std::string_view text) {
    Cursor in{text};
    Declaration decl;
    decl.name = in.ident();
    if (decl.name.empty() || !in.take('(')) return std::nullopt;
    if (!in.take(')')) {
        for (;;) {
            ParamSpec param;
            bool byRef = in.keyword("byref");
            if (!byRef) in.keyword("byval");
            param.name = in.ident();
            if (param.name.empty() || !in.keyword("as")) return std::nullopt;
            std::string type = in.ident(true);
            if (type.empty()) return std::nullopt;
            param.type = parseType(type);
            param.type.byRef = byRef;
            if (in.take('=')) {
                auto value = in.defaultValue();
                if (!value) return std::nullopt;
                param.hasDefault = true;
                param.defaultText = *value;
            }
            decl.params.push_back(std::move(param));
            if (in.take(')')) break;
            if (!in.take(',')) return std::nullopt;
        }
    }
    if (in.keyword("as")) {
        std::string type = in.ident(true);
        if (type.empty()) return std::nullopt;
        decl.result = parseType(type);
    }
    if (!in.atEnd()) return std::nullopt;
    return decl;
}

std::optional<ConstantSpec> parseConstant(std::string_view text) {
    Cursor in{text};
    ConstantSpec constant;
    constant.name = in.ident();
    if (constant.name.empty() || !in.take('=')) return std::nullopt;
    in.skipSpace();
    std::string_view rest = text.substr(in.pos);
    while (!rest.empty() && std::isspace(static_cast<unsigned char>(rest.back())))
        rest.remove_suffix(1);
    if (rest.empty()) return std::nullopt;
    if (rest.front() == '"') {
        if (rest.size() < 2 || rest.back() != '"') return std::nullopt;
        constant.isString = true;
        constant.value = std::string(rest.substr(1, rest.size() - 2));
    } else {
        constant.value = std::string(rest);
    }
    return constant;
}

namespace {
bool sameType(const TypeSpec& a, const TypeSpec& b) {
    if (a.kind != b.kind || a.byRef != b.byRef) return false;
    return a.kind != TypeKind::Object || equalsIgnoreCase(a.className, b.className);
}
} // namespace

bool sameSignature(const Declaration& a, const Declaration& b) {
    if (!equalsIgnoreCase(a.name, b.name) || a.params.size() != b.params.size()) return false;
    for (size_t i = 0; i < a.params.size(); ++i)
        if (!sameType(a.params[i].type, b.params[i].type)) return false;
    return sameType(a.result, b.result);
}

std::string typeName(const TypeSpec& type) {
    switch (type.kind) {
    case TypeKind::Void:
        return "";
    case TypeKind::Integer:
        return "integer";
    case TypeKind::Int16:
        return "Int16";
    case TypeKind::UInt16:
        return "UInt16";
    case TypeKind::UInt32:
        return "UInt32";
    case TypeKind::Double:
        return "double";
    case TypeKind::Single:
        return "single";
    case TypeKind::Boolean:
        return "boolean";
    case TypeKind::String:
        return "string";
    case TypeKind::Object:
        return type.className;
    }
    return "";
}

std::string describeParams(const Declaration& decl) {
    std::string out = decl.name + "(";
    for (size_t i = 0; i < decl.params.size(); ++i) {
        if (i) out += ", ";
        const auto& p = decl.params[i];
        if (p.type.byRef) out += "byref ";
        out += p.name + " as " + typeName(p.type);
        if (p.hasDefault) out += " = " + p.defaultText;
    }
    out += ")";
    if (decl.result.kind != TypeKind::Void) out += " as " + typeName(decl.result);
    return out;
}

} // namespace sylhost
