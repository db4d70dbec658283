// The string and folder-item conversions of the two builds side by side, linked into this program
// and entered as a plug-in of a host that also loaded the companion. The Carbon build's routes
// (through the host's global methods, platform strings and file records) are installed or taken
// out around each case, so that both builds answer the same inputs in one process; where the two
// builds differ by design, the case says so.
#include "HostObjects.h"
#include "HostRuntime.h"
#include "KelvoDataReference.h"
#include "PlatformCF.h"
#include "PlatformFiles.h"
#include "PlatformMemory.h"
#include "RBCarbonUtils.h"
#include "RBPluginUtils.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

extern "C" void REALPluginMain(REALresolver resolver);

using namespace sylhost;

namespace {

HostRuntime& host() {
    static HostRuntime* h = [] {
        auto* runtime = new HostRuntime();
        std::string error;
        EXPECT_GE(runtime->loadPlugin(FENRA_BASE_PLUGIN, error), 0) << error;
        EXPECT_EQ(runtime->loadLinkedPlugin("linked", &REALPluginMain), 1);
        return runtime;
    }();
    return *h;
}

enum class Build { Sylmark, Tarnwick };

std::string buildName(const ::testing::TestParamInfo<Build>& info) {
    return info.param == Build::Tarnwick ? "Tarnwick" : "Sylmark";
}

// Every case runs as it would inside a call from the host, with the conversions of one build, and
// leaves as many host objects and strings alive as it found.
class CarbonBridge : public ::testing::TestWithParam<Build> {
  protected:
    void SetUp() override {
        scope = std::make_unique<HostRuntime::Scope>(&host());
        objects = host().liveObjects();
        strings = host().liveStrings();
        RBInstallBridgeRoutes(carbon() ? tarnwick::bridgeRoutes() : RBBridgeRoutes{});
    }
    void TearDown() override {
        RBInstallBridgeRoutes(tarnwick::bridgeRoutes());
        EXPECT_EQ(host().liveObjects(), objects);
        EXPECT_EQ(host().liveStrings(), strings);
        scope.reset();
    }
    bool carbon() const { return GetParam() == Build::Tarnwick; }

    std::unique_ptr<HostRuntime::Scope> scope;
    size_t objects = 0, strings = 0;
};

std::string textOf(REALstring s) {
    return Value::adoptString(s).text();
}

REALfolderItem itemOf(const Value& v) {
    return reinterpret_cast<REALfolderItem>(v.object());
}

// The text a platform string holds in UTF-8, and whether there was one.
struct PlatformText {
    bool present;
    std::string utf8;
};

PlatformText platformText(CFStringRef s) {
    if (!s) return {false, ""};
    char buffer[256];
    const bool ok = CFStringGetCString(s, buffer, sizeof buffer, kCFStringEncodingUTF8);
    CFRelease(s);
    return {true, ok ? buffer : "<unreadable>"};
}

// The path a file data reference names (the zero-terminated text of its handle); empty for none
// or another kind.
std::string referencePath(Kelvo_DataReference* reference) {
    if (!reference || !reference->isFileStorage() || !*reference->DataRef()) return "";
    const Size size = GetHandleSize(reference->DataRef());
    const char* text = *reference->DataRef();
    return std::string(text, strnlen(text, size_t(size)));
}

std::string corpus(const std::string& name) {
    return std::string(testsupport::pydicomTestFiles()) + "/" + name;
}

// Whether the Carbon routes were in place when the program started, before any case ran.
bool gCarbonRoutesAtStart = false;

class LoadedRoutes : public ::testing::Environment {
  public:
    void SetUp() override {
        HostRuntime::Scope scope(&host());
        Value item = host().newFolderItem(corpus("CT_small.dcm"));
        FSRef ref;
        gCarbonRoutesAtStart = !FolderitemToFSRef(itemOf(item), &ref);
    }
};

[[maybe_unused]] ::testing::Environment* const kLoadedRoutes =
    ::testing::AddGlobalTestEnvironment(new LoadedRoutes);

// A host without the "Chr" built-in for the life of the object.
struct WithoutChr {
    static constexpr const char* kDeclaration = "Chr(char as integer) as string";
    WithoutChr() { withholdMethod(kDeclaration, true); }
    ~WithoutChr() { withholdMethod(kDeclaration, false); }
};

} // namespace

TEST(CarbonBuild, ItsRoutesAreInPlaceFromItsLoading) {
    // Seen before any case took them out: an existing file gives no file reference.
    EXPECT_TRUE(gCarbonRoutesAtStart);
    HostRuntime::Scope scope(&host());
    Value item = host().newFolderItem(corpus("CT_small.dcm"));
    FSRef ref;
    RBInstallBridgeRoutes(RBBridgeRoutes{});
    EXPECT_TRUE(FolderitemToFSRef(itemOf(item), &ref));
    EXPECT_EQ(std::string(ref.path), corpus("CT_small.dcm"));
    RBInstallBridgeRoutes(tarnwick::bridgeRoutes());
    EXPECT_FALSE(FolderitemToFSRef(itemOf(item), &ref));
}

TEST(CarbonBuild, OnlyTarnwickCarriesTheCarbonConversions) {
    const char* conversions[] = {
        "tarnwick::charToRealString(",   "tarnwick::RealStringToCString(",
        "tarnwick::StringToCFString(",   "tarnwick::FolderitemToFSSpec(",
        "tarnwick::FSSpecToFolderitem(", "tarnwick::FenraFolderitemToDataReference("};
    int status = -1;
    const std::string tarnwick =
        testsupport::run(std::string("nm -C --defined-only ") + TARNWICK_PLUGIN + " 2>/dev/null", &status);
    ASSERT_EQ(status, 0);
    const std::string sylmark =
        testsupport::run(std::string("nm -C --defined-only ") + SYLMARK_PLUGIN + " 2>/dev/null", &status);
    ASSERT_EQ(status, 0);
    for (const char* name : conversions) {
        EXPECT_NE(tarnwick.find(name), std::string::npos) << name;
        EXPECT_EQ(sylmark.find(name), std::string::npos) << name;
    }
}

TEST_P(CarbonBridge, CharactersBecomeOneCharacterStrings) {
    const std::pair<unsigned char, std::string> cases[] = {
        {'A', "A"}, {'0', "0"}, {' ', " "}, {'\\', "\\"}, {0xE9, "\xC3\xA9"}};
    for (const auto& [c, text] : cases)
        EXPECT_EQ(textOf(charToRealString(c)), text) << int(c);
    // A host without the built-in gives an empty string, not nil.
    WithoutChr without;
    REALstring empty = charToRealString('A');
    ASSERT_TRUE(empty);
    EXPECT_EQ(textOf(empty), "");
}

TEST_P(CarbonBridge, StringsBecomeUTF8CStrings) {
    struct Case {
        const char* what;
        std::string bytes;
        REALstringEncoding encoding;
        int32_t status;
        const char* text;
    };
    const Case cases[] = {
        {"ASCII", "DICOM", kREALTextEncodingASCII, 0, "DICOM"},
        {"UTF-8", "Gr\xC3\xBC\xC3\x9F", kREALTextEncodingUTF8, 0, "Gr\xC3\xBC\xC3\x9F"},
        {"Latin-1", "\xE9t\xE9", kREALTextEncodingISOLatin1, 0, "\xC3\xA9t\xC3\xA9"},
        {"MacRoman", "\x8A", kREALTextEncodingMacRoman, 0, "\xC3\xA4"},
        {"a NUL inside", std::string("ab\0cd", 5), kREALTextEncodingUTF8, 0, "ab"},
        {"empty", "", kREALTextEncodingUTF8, -109, nullptr},
        {"no conversion", "abc", 0x7777, -5224, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Value s = host().newString(c.bytes, c.encoding);
        char* out = reinterpret_cast<char*>(1);
        EXPECT_EQ(RealStringToCString(s.string(), out), c.status);
        if (c.text) {
            ASSERT_TRUE(out);
            EXPECT_STREQ(out, c.text);
        } else {
            EXPECT_EQ(out, nullptr);
        }
        delete[] out;
    }
    char* out = reinterpret_cast<char*>(1);
    EXPECT_EQ(RealStringToCString(nullptr, out), 0);
    EXPECT_EQ(out, nullptr);

    // The Carbon build measures the C text with strlen: a string that starts with a NUL is empty
    // there, while the other build copies the host's byte count.
    Value leading = host().newString(std::string("\0x", 2));
    const int32_t status = RealStringToCString(leading.string(), out);
    if (carbon()) {
        EXPECT_EQ(status, -109);
        EXPECT_EQ(out, nullptr);
    } else {
        EXPECT_EQ(status, 0);
        ASSERT_TRUE(out);
        EXPECT_STREQ(out, "");
    }
    delete[] out;
}

TEST_P(CarbonBridge, StringsBecomePlatformStringsOfTheirOwnEncoding) {
    struct Case {
        const char* what;
        std::string bytes;
        REALstringEncoding encoding;
        PlatformText expected;
    };
    const Case cases[] = {
        {"ASCII", "plain", kREALTextEncodingASCII, {true, "plain"}},
        {"UTF-8", "Gr\xC3\xBC\xC3\x9F", kREALTextEncodingUTF8, {true, "Gr\xC3\xBC\xC3\x9F"}},
        {"Latin-1", "\xE9t\xE9", kREALTextEncodingISOLatin1, {true, "\xC3\xA9t\xC3\xA9"}},
        {"MacRoman", "\x8A", kREALTextEncodingMacRoman, {true, "\xC3\xA4"}},
        {"empty", "", kREALTextEncodingUTF8, {false, ""}},
        {"cut UTF-8", "\xC3", kREALTextEncodingUTF8, {false, ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Value s = host().newString(c.bytes, c.encoding);
        PlatformText got = platformText(StringToCFString(s.string()));
        EXPECT_EQ(got.present, c.expected.present);
        EXPECT_EQ(got.utf8, c.expected.utf8);
    }
    EXPECT_FALSE(StringToCFString(nullptr));
}

TEST_P(CarbonBridge, FolderItemsGiveFileRecordsAndPaths) {
    testsupport::ScratchDir dir(carbon() ? "carbon-bridge-t" : "carbon-bridge-s");
    const std::string file = dir.file("a b%20c.dcm");
    testsupport::writeFile(file, "x");
    struct Case {
        const char* what;
        std::string path;
        bool spec;
    };
    const Case cases[] = {
        {"an existing file", file, true},
        {"a file not made yet", dir.file("later.mov"), true},
        {"a folder", dir.path(), true},
        {"a file in a folder that is not there", dir.file("gone/later.mov"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Value item = host().newFolderItem(c.path);
        FSSpec spec;
        std::memset(spec.path, 'k', sizeof spec.path);
        ASSERT_EQ(FolderitemToFSSpec(itemOf(item), &spec), c.spec);
        if (c.spec) {
            EXPECT_EQ(std::string(spec.path), c.path);
        }
        // The paths the host classes read go through the platform strings of the build.
        char* text = nullptr;
        ASSERT_TRUE(FolderitemPath(itemOf(item), text));
        EXPECT_EQ(std::string(text), c.path);
        delete[] text;
        ASSERT_EQ(RBUtils_FolderitemToXPath(itemOf(item), text), 0);
        EXPECT_EQ(std::string(text), c.path);
        delete[] text;
    }

    FSSpec spec;
    Value none = host().newFolderItem("");
    EXPECT_FALSE(FolderitemToFSSpec(itemOf(none), &spec));
    EXPECT_FALSE(FolderitemToFSSpec(nullptr, &spec));
    Value date = host().newInstance("Date");
    EXPECT_FALSE(FolderitemToFSSpec(itemOf(date), &spec));
    Value item = host().newFolderItem(file);
    EXPECT_FALSE(FolderitemToFSSpec(itemOf(item), nullptr));
    char* text = reinterpret_cast<char*>(1);
    EXPECT_FALSE(FolderitemPath(itemOf(none), text));
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(RBUtils_FolderitemToXPath(itemOf(none), text), 50);
}

TEST_P(CarbonBridge, FileRecordsGiveFolderItems) {
    testsupport::ScratchDir dir(carbon() ? "carbon-records-t" : "carbon-records-s");
    const std::string file = dir.file("image one.dcm");
    testsupport::writeFile(file, "x");
    FSSpec existing;
    ASSERT_EQ(FSPathMakeFSSpec(file.c_str(), &existing), noErr);
    Value back = Value::adoptObject(FSSpecToFolderitem(&existing));
    ASSERT_EQ(back.className(), "FolderItem");
    EXPECT_EQ(host().getProperty(back, "ShellPath").text(), file);
    EXPECT_TRUE(host().getProperty(back, "Exists").asBoolean());

    FSSpec empty{};
    EXPECT_FALSE(FSSpecToFolderitem(&empty));
    EXPECT_FALSE(FSSpecToFolderitem(nullptr));

    // A record of a file not made yet: the host's own call gives its folder item, as file records
    // name files to be made; the other build goes through a file reference, which needs the file.
    FSSpec later;
    ASSERT_EQ(FSPathMakeFSSpec(dir.file("later.dcm").c_str(), &later), fnfErr);
    Value made = Value::adoptObject(FSSpecToFolderitem(&later));
    if (carbon()) {
        ASSERT_EQ(made.className(), "FolderItem");
        EXPECT_EQ(host().getProperty(made, "ShellPath").text(), dir.file("later.dcm"));
        EXPECT_FALSE(host().getProperty(made, "Exists").asBoolean());
    } else {
        EXPECT_TRUE(made.isNil());
    }
}

TEST_P(CarbonBridge, FolderItemsGiveFileDataReferences) {
    testsupport::ScratchDir dir(carbon() ? "carbon-refs-t" : "carbon-refs-s");
    const std::string file = dir.file("movie 1%.mov");
    testsupport::writeFile(file, "x");
    // An existing file (from its record in the Carbon build) and one not made yet (from its URL):
    // both name the file the item does.
    for (const std::string& path : {file, dir.file("later.mov")}) {
        SCOPED_TRACE(path);
        Value item = host().newFolderItem(path);
        std::unique_ptr<Kelvo_DataReference> reference(FenraFolderitemToDataReference(itemOf(item)));
        ASSERT_TRUE(reference && reference->qtObjIsValid());
        EXPECT_EQ(reference->Type(), uint32_t(AliasDataHandlerSubType));
        EXPECT_EQ(referencePath(reference.get()), path);
    }
    Value none = host().newFolderItem("");
    EXPECT_FALSE(FenraFolderitemToDataReference(itemOf(none)));
    EXPECT_FALSE(FenraFolderitemToDataReference(nullptr));
    Value date = host().newInstance("Date");
    EXPECT_FALSE(FenraFolderitemToDataReference(itemOf(date)));
}

INSTANTIATE_TEST_SUITE_P(Builds, CarbonBridge, ::testing::Values(Build::Sylmark, Build::Tarnwick), buildName);
