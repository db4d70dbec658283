// Declaration texts as plug-ins write them: "name(p as type, byref q as type = default) as type"
// for methods, a type name for properties, "name \t=\tvalue" for constants. Names and types are
// compared without regard to case, as the host's language does.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sylhost {

enum class TypeKind { Void, Integer, Int16, UInt16, UInt32, Double, Single, Boolean, String, Object };

struct TypeSpec {
    TypeKind kind = TypeKind::Void;
    // The class named by an object type, as written (folderitem, memoryblock, a plug-in class).
    std::string className;
    bool byRef = false;
};

struct ParamSpec {
    std::string name;
    TypeSpec type;
    bool hasDefault = false;
    std::string defaultText;
};

struct Declaration {
    std::string name;
    std::vector<ParamSpec> params;
    TypeSpec result;
    // The number of parameters without a default value.
    size_t requiredCount() const;
};

struct ConstantSpec {
    std::string name;
    std::string value;
    bool isString = false;
};

bool equalsIgnoreCase(std::string_view a, std::string_view b);
// The kind of a type name; unknown names are object types of that class.
TypeSpec parseType(std::string_view name);
std::optional<Declaration> parseDeclaration(std::string_view text);
std::optional<ConstantSpec> parseConstant(std::string_view text);
// Same name, same parameter types (and byref) in the same order, same result type.
bool sameSignature(const Declaration& a, const Declaration& b);
std::string typeName(const TypeSpec& type);
std::string describeParams(const Declaration& decl);

} // namespace sylhost
