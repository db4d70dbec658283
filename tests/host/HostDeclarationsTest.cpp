#include "HostDeclarations.h"

#include <gtest/gtest.h>

using namespace sylhost;

TEST(HostDeclarations, MethodDeclarationsParse) {
    struct Case {
        const char* text;
        const char* name;
        size_t params;
        size_t required;
        TypeKind result;
    };
    const Case cases[] = {
        {"dicomMimeType() as string", "dicomMimeType", 0, 0, TypeKind::String},
        {"isFileDicomFile(srcFile as folderitem) as boolean", "isFileDicomFile", 1, 1, TypeKind::Boolean},
        {"createUID(prefix as string=\"\") as string", "createUID", 1, 0, TypeKind::String},
        {"toDicomFile(dst as folderitem, useGroupLength as boolean=false)", "toDicomFile", 2, 1,
         TypeKind::Void},
        {"Constructor(group as UInt16,element as UInt16)", "Constructor", 2, 2, TypeKind::Void},
        {"windowRange(byref minC as integer,byref maxC as integer,byref minW as integer,byref maxW as "
         "integer)",
         "windowRange", 4, 4, TypeKind::Void},
        {"Operator_Convert() as Date", "Operator_Convert", 0, 0, TypeKind::Object},
        {"  value ( key AS Integer ) AS FenraObject ", "value", 1, 1, TypeKind::Object},
        {"f(a as string = \"x, y)\", b as double = 1.5) as single", "f", 2, 0, TypeKind::Single},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto decl = parseDeclaration(c.text);
        ASSERT_TRUE(decl);
        EXPECT_EQ(decl->name, c.name);
        EXPECT_EQ(decl->params.size(), c.params);
        EXPECT_EQ(decl->requiredCount(), c.required);
        EXPECT_EQ(decl->result.kind, c.result);
    }
    auto range = parseDeclaration("windowRange(byref minC as integer)");
    EXPECT_TRUE(range->params[0].type.byRef);
    auto defaults = parseDeclaration("f(a as string = \"x, y)\", b as double = 1.5) as single");
    EXPECT_EQ(defaults->params[0].defaultText, "\"x, y)\"");
    EXPECT_EQ(defaults->params[1].defaultText, "1.5");
    auto uid = parseDeclaration("Constructor(uid as FenraDicomUID)");
    EXPECT_EQ(uid->params[0].type.kind, TypeKind::Object);
    EXPECT_EQ(uid->params[0].type.className, "FenraDicomUID");
}

TEST(HostDeclarations, MalformedDeclarationsAreRefused) {
    for (const char* text :
         {"", "noParens", "f(", "f(a)", "f(a as)", "f(a as integer,)", "f() as", "f() trailing",
          "f(a as string = \"open)", "f(a as integer =)", "(a as integer)"}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(parseDeclaration(text));
    }
}

TEST(HostDeclarations, SignaturesCompareByTypesNotNamesOrCase) {
    auto a = parseDeclaration("Constructor(path as String,PathType as Integer)");
    auto b = parseDeclaration("constructor(p AS string, t as integer)");
    auto c = parseDeclaration("Constructor(path as String,PathType as Double)");
    auto d = parseDeclaration("Constructor(path as String,PathType as Integer) as integer");
    EXPECT_TRUE(sameSignature(*a, *b));
    EXPECT_FALSE(sameSignature(*a, *c));
    EXPECT_FALSE(sameSignature(*a, *d));
}

TEST(HostDeclarations, ConstantsCarryNameAndValue) {
    auto number = parseConstant("kDicomPluginVersion \t\t=\t\t631");
    ASSERT_TRUE(number);
    EXPECT_EQ(number->name, "kDicomPluginVersion");
    EXPECT_EQ(number->value, "631");
    EXPECT_FALSE(number->isString);
    auto text = parseConstant("kEnc_ImplicitLE \t=\t\"1.2.840.10008.1.2\"");
    ASSERT_TRUE(text);
    EXPECT_EQ(text->value, "1.2.840.10008.1.2");
    EXPECT_TRUE(text->isString);
    EXPECT_FALSE(parseConstant("noValue ="));
    EXPECT_FALSE(parseConstant("k = \"unclosed"));
    EXPECT_FALSE(parseConstant("= 3"));
}
