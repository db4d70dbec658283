// The plug-in's entry as the host sees it: every class in order with its superclass and
// console-safe mark, the module with its functions and constants, a second entry that changes
// nothing, and a shared object that exports its entry alone.
#include "PluginHost.h"

using namespace sylhost;
using plugintest::host;

namespace {

struct Expected {
    const char* name;
    const char* superName;
    bool consoleSafe;
};

const Expected kClasses[] = {
    {"_FenraObjectDicomStub", nullptr, true},
    {"FenraDicomValue", "FenraDictionary", true},
    {"FenraDicomVRValue", "FenraObject", true},
    {"FenraDicomBinaryValue", "FenraDicomVRValue", true},
    {"FenraDicomAttributeTag", "FenraDicomVRValue", true},
    {"FenraDicomVRStringValue", "FenraDicomVRValue", true},
    {"FenraDicomText", "FenraDicomVRStringValue", true},
    {"FenraDicomAge", "FenraDicomVRStringValue", true},
    {"FenraDicomApplicationEntity", "FenraDicomVRStringValue", true},
    {"FenraDicomCodeString", "FenraDicomVRStringValue", true},
    {"FenraDicomUID", "FenraDicomVRStringValue", true},
    {"FenraDicomLongString", "FenraDicomVRStringValue", true},
    {"FenraDicomShortString", "FenraDicomVRStringValue", true},
    {"FenraDicomPersonName", "FenraDicomVRStringValue", true},
    {"FenraDicomDate", "FenraDicomVRStringValue", true},
    {"FenraDicomTime", "FenraDicomVRStringValue", true},
    {"FenraDicomDateTime", "FenraDicomVRStringValue", true},
    {"FenraDicomIntegerString", "FenraDicomVRStringValue", true},
    {"FenraDicomDecimalString", "FenraDicomVRStringValue", true},
    {"FenraDicomNumber", "FenraDicomVRValue", true},
    {"FenraDicomDataElement", "FenraObject", true},
    {"FenraDicomItem", "FenraDictionary", true},
    {"FenraDicomItemSequence", "FenraDictionary", true},
    {"FenraDicomDataSet", "FenraDictionary", true},
    {"FenraDicomHeader", "FenraDicomDataSet", true},
    {"FenraDicomFileSet", "FenraDicomDataSet", true},
    {"FenraDicomPatient", "FenraDicomDataSet", true},
    {"FenraDicomStudy", "FenraDicomDataSet", true},
    {"FenraDicomAcquisition", "FenraDicomDataSet", true},
    {"FenraDicomImage", "FenraDicomDataSet", true},
    {"FenraDicomPixelLut", "FenraObject", true},
    {"FenraDicomImagePixel", "FenraDicomDataSet", true},
    {"FenraDicomDataChunks", "FenraObject", true},
    {"FenraDicomPixelData", "FenraDicomDataChunks", true},
    {"FenraDicomIcon", "FenraObject", true},
    {"FenraDicomVideoPresentation", "FenraVideoPresentation", false},
    {"FenraDicomTree", "FenraDictionary", true},
    {"FenraDicomDocument", "FenraDicomTree", true},
    {"FenraDicomDirectoryDocument", "FenraDicomTree", true},
    {"FenraDicomConverter", "FenraObject", true},
    {"FenraDicomMovieConverter", "FenraDicomConverter", false},
    {"FenraDicomImageConverter", "FenraDicomConverter", true},
};

const char* const kModuleMethods[] = {
    "dicomMimeType() as string",
    "isFileDicomFile(srcFile as folderitem) as boolean",
    "metaInformationsFromFile(srcFile as folderitem) as FenraDicomHeader",
    "dumpFileToTextFile(srcFile as folderitem,dstFile as folderitem) as integer",
    "dumpFileToXmlFile(srcFile as folderitem,dstFile as folderitem) as integer",
    "anonymizeFile(srcFile as folderitem,dstFile as folderitem) as integer",
    "openFile(srcFile as folderitem) as FenraDicomTree",
    "loadExternalDictionary(srcFile as folderitem,description as string) as integer",
    "createAnonymousID() as string",
    "createUID(prefix as string=\"\") as string",
    "createDataElementValue(valueFormat as string) as FenraObject",
    "createDataElementValue(value as FenraDicomValue) as FenraObject",
};

} // namespace

class PluginEntry : public plugintest::PluginTest {};

TEST_F(PluginEntry, RegistersTheClassesInOrderWithTheirMarks) {
    const PluginInfo& plugin = host().plugins().at(1);
    EXPECT_EQ(plugin.version, 10);
    EXPECT_TRUE(plugin.problems.empty()) << plugin.problems.front();
    EXPECT_TRUE(plugin.messages.empty());
    ASSERT_EQ(plugin.classes.size(), std::size(kClasses));
    for (size_t i = 0; i < std::size(kClasses); ++i) {
        const Expected& e = kClasses[i];
        SCOPED_TRACE(e.name);
        EXPECT_EQ(plugin.classes[i], e.name);
        const ClassInfo* cls = host().findClass(e.name);
        ASSERT_TRUE(cls);
        EXPECT_EQ(cls->plugin, 1);
        if (e.superName) {
            ASSERT_TRUE(cls->super);
            EXPECT_EQ(cls->super->name, e.superName);
            // Only the stub declares instance data: every other class keeps the root's record.
            EXPECT_EQ(cls->dataSize, 0u);
            EXPECT_TRUE(cls->isKindOf("FenraObject"));
        } else {
            EXPECT_FALSE(cls->super);
            EXPECT_EQ(cls->dataSize, 2 * sizeof(void*));
        }
        EXPECT_EQ(cls->consoleSafe(), e.consoleSafe);
        EXPECT_EQ(cls->record->flags & ~kREALConsoleSafe, 0);
        EXPECT_FALSE(cls->record->constructor);
        EXPECT_FALSE(cls->record->destructor);
    }
}

TEST_F(PluginEntry, RegistersTheModuleLast) {
    const PluginInfo& plugin = host().plugins().at(1);
    EXPECT_EQ(plugin.modules, std::vector<std::string>{"FenraDicomSystem"});
    const ModuleInfo* module = host().findModule("FenraDicomSystem");
    ASSERT_TRUE(module);
    EXPECT_EQ(module->record->moduleFlags, 8);
    ASSERT_EQ(module->methods.size(), std::size(kModuleMethods));
    for (size_t i = 0; i < std::size(kModuleMethods); ++i) {
        EXPECT_EQ(module->methods[i].text, kModuleMethods[i]);
        EXPECT_TRUE(module->methods[i].consoleSafe) << kModuleMethods[i];
    }
    ASSERT_EQ(module->constants.size(), 2u);
    EXPECT_EQ(module->constants[0].spec.name, "kDicomPluginVersion");
    EXPECT_EQ(module->constants[0].spec.value, "631");
    EXPECT_FALSE(module->constants[0].spec.isString);
    EXPECT_EQ(module->constants[1].spec.name, "kDicomPluginVersionStr");
    EXPECT_EQ(module->constants[1].spec.value, "6.3.1");
    EXPECT_TRUE(module->constants[1].spec.isString);
}

TEST_F(PluginEntry, ASecondEntryChangesNothingAndSaysSo) {
    size_t classes = host().classes().size(), modules = host().modules().size();
    const PluginInfo& plugin = host().plugins().at(1);
    size_t messages = plugin.messages.size();
    host().reenterPlugin(1);
    std::string error;
    EXPECT_EQ(host().loadPlugin(PLUGIN_UNDER_TEST, error), 1);
    ASSERT_EQ(plugin.messages.size(), messages + 2);
    EXPECT_EQ(plugin.messages.back(), "Plugin loaded twice?");
    EXPECT_EQ(host().classes().size(), classes);
    EXPECT_EQ(host().modules().size(), modules);
    EXPECT_TRUE(plugin.problems.empty());
    EXPECT_EQ(host().plugins().size(), 2u);
}

TEST_F(PluginEntry, TheStubRecordSharesThePlaceOfTheRootRecord) {
    // A class without a constructor of no arguments: the host's new instance is left as made.
    Value document = host().newInstance("FenraDicomConverter");
    ASSERT_EQ(document.className(), "FenraDicomConverter");
    auto getData =
        reinterpret_cast<void* (*)(REALobject, REALClassRecord*)>(HostRuntime::resolve("REALGetClassData"));
    void* stub = getData(document.object(), host().findClass("_FenraObjectDicomStub")->record);
    ASSERT_TRUE(stub);
    EXPECT_EQ(stub, getData(document.object(), host().findClass("FenraObject")->record));
    // Made by the host, it holds no object yet.
    EXPECT_EQ(plugintest::toolkitClass(document), "");
}

TEST_F(PluginEntry, AConsoleProgramSeesNeitherThePresentationNorTheMovieConverter) {
    EXPECT_TRUE(host().newInstance("FenraDicomVideoPresentation").isNil());
    CallOutcome converter = host().callText("FenraDicomMovieConverter.Constructor", {});
    EXPECT_FALSE(converter.ok);
    EXPECT_NE(converter.error.find("not available to console programs"), std::string::npos);
    EXPECT_EQ(host().newInstance("FenraDicomImageConverter").className(), "FenraDicomImageConverter");
    EXPECT_EQ(host().newInstance("FenraDicomDirectoryDocument").className(), "FenraDicomDirectoryDocument");
}

TEST(PluginExports, TheSharedObjectExportsItsEntryAlone) {
    int status = -1;
    std::string symbols =
        testsupport::run(std::string("nm -D --defined-only --format=posix ") + PLUGIN_UNDER_TEST, &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(symbols, "REALPluginMain T " + symbols.substr(symbols.find(" T ") + 3));
    EXPECT_EQ(std::count(symbols.begin(), symbols.end(), '\n'), 1) << symbols;
}
