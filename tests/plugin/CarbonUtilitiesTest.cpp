// The Carbon build's host utilities and the host services they stand on, run as they would inside
// a call from the host: a folder item's path with its flag, a string's byte length through the
// host's global "LenB", and a four-integer host array as a rectangle; and the host's global
// methods, integer arrays, platform strings and file records.
#include "HostObjects.h"
#include "HostRuntime.h"
#include "PlatformCF.h"
#include "PlatformFiles.h"
#include "RBCarbonUtils.h"
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
        EXPECT_EQ(runtime->loadLinkedPlugin("Tarnwick", &REALPluginMain), 1);
        return runtime;
    }();
    return *h;
}

template <class F> F service(const char* name) {
    return reinterpret_cast<F>(HostRuntime::resolve(name));
}

// An integer array of the host, released with the test.
struct HostArray {
    explicit HostArray(const std::vector<int32_t>& values) : array(newIntegerArray(values)) {}
    ~HostArray() { releaseIntegerArray(array); }
    HostArray(const HostArray&) = delete;
    HostArray& operator=(const HostArray&) = delete;
    REALintArray array;
};

class CarbonUtilities : public ::testing::Test {
  protected:
    void SetUp() override {
        scope = std::make_unique<HostRuntime::Scope>(&host());
        objects = host().liveObjects();
        strings = host().liveStrings();
    }
    void TearDown() override {
        EXPECT_EQ(host().liveObjects(), objects);
        EXPECT_EQ(host().liveStrings(), strings);
        scope.reset();
    }
    std::unique_ptr<HostRuntime::Scope> scope;
    size_t objects = 0, strings = 0;
};

} // namespace

TEST_F(CarbonUtilities, TheCarbonBuildRegistersTheSharedClassesAndModule) {
    ASSERT_EQ(host().plugins().size(), 2u);
    EXPECT_TRUE(host().plugins()[1].problems.empty());
    EXPECT_EQ(host().plugins()[1].classes.size(), 42u);
    ASSERT_TRUE(host().findModule("FenraDicomSystem"));
}

TEST_F(CarbonUtilities, AFolderItemGivesItsPathAndAFlag) {
    testsupport::ScratchDir dir("carbon-path");
    const std::string file = dir.file("scan one.dcm");
    testsupport::writeFile(file, "x");
    Value item = host().newFolderItem(file);
    unsigned char ok = 7;
    unsigned char* path =
        RBFolderitemToCrossPlatformPath(reinterpret_cast<REALfolderItem>(item.object()), ok);
    ASSERT_TRUE(path);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(path)), file);
    delete[] path;

    // An item of a file not made yet still has its path.
    Value later = host().newFolderItem(dir.file("later.dcm"));
    ok = 0;
    path = RBFolderitemToCrossPlatformPath(reinterpret_cast<REALfolderItem>(later.object()), ok);
    ASSERT_TRUE(path);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(path)), dir.file("later.dcm"));
    delete[] path;

    // Without a path: null and the flag down; without an item: null and the flag as it was.
    Value none = host().newFolderItem("");
    ok = 7;
    EXPECT_FALSE(RBFolderitemToCrossPlatformPath(reinterpret_cast<REALfolderItem>(none.object()), ok));
    EXPECT_EQ(ok, 0);
    ok = 7;
    EXPECT_FALSE(RBFolderitemToCrossPlatformPath(nullptr, ok));
    EXPECT_EQ(ok, 7);
}

TEST_F(CarbonUtilities, AStringsLengthIsItsBytesAsTheHostCountsThem) {
    struct Case {
        const char* text;
        REALstringEncoding encoding;
        int32_t length;
    };
    const Case cases[] = {
        {"", kREALTextEncodingUTF8, 0},
        {"DICOM", kREALTextEncodingUTF8, 5},
        {"Gr\xC3\xBC\xC3\x9F"
         "e",
         kREALTextEncodingUTF8, 7},
        {"Gr\xFC\xDF"
         "e",
         kREALTextEncodingISOLatin1, 5},
    };
    for (const auto& c : cases) {
        Value s = host().newString(c.text, c.encoding);
        EXPECT_EQ(RBUtils_StringLength(s.string()), c.length) << c.text;
    }
    EXPECT_EQ(RBUtils_StringLength(nullptr), 0);
}

TEST_F(CarbonUtilities, FourIntegersBecomeARectangle) {
    struct Case {
        const char* what;
        std::vector<int32_t> values;
        bool sizes;
        int32_t status;
        Rect rect;
    };
    const Case cases[] = {
        {"edges", {10, 20, 30, 40}, false, 0, {20, 10, 40, 30}},
        {"sizes", {10, 20, 30, 40}, true, 0, {20, 10, 60, 40}},
        {"negative", {-5, -7, 3, 2}, false, 0, {-7, -5, 2, 3}},
        {"widest", {-32768, 0, 65535, 32767}, true, 0, {0, -32768, 32767, 32767}},
        {"three elements", {10, 20, 30}, false, -50, {0, 0, 0, 0}},
        {"five elements", {1, 2, 3, 4, 5}, false, -50, {0, 0, 0, 0}},
        {"empty", {}, false, -50, {0, 0, 0, 0}},
        // Edges a rectangle cannot hold are refused, not wrapped round to other places.
        {"edge past 16 bits", {10, 20, 40000, 40}, false, -50, {0, 0, 0, 0}},
        {"size past 16 bits", {30000, 20, 5000, 40}, true, -50, {0, 0, 0, 0}},
        {"sum past 32 bits", {2147483647, 0, 2147483647, 0}, true, -50, {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HostArray values(c.values);
        Rect rect{1, 2, 3, 4};
        EXPECT_EQ(RBUtils_IntArrayToRect(values.array, &rect, c.sizes), c.status);
        EXPECT_EQ(rect.top, c.rect.top);
        EXPECT_EQ(rect.left, c.rect.left);
        EXPECT_EQ(rect.bottom, c.rect.bottom);
        EXPECT_EQ(rect.right, c.rect.right);
    }
    Rect rect{1, 2, 3, 4};
    EXPECT_EQ(RBUtils_IntArrayToRect(nullptr, &rect, false), -50);
    EXPECT_EQ(rect.top | rect.left | rect.bottom | rect.right, 0);
    HostArray values({10, 20, 30, 40});
    EXPECT_EQ(RBUtils_IntArrayToRect(values.array, nullptr, false), -50);
}

TEST_F(CarbonUtilities, TheHostAnswersForItsArraysOnly) {
    auto ubound = service<RBInteger (*)(REALintArray)>("REALGetArrayUBound");
    auto element = service<RBInteger (*)(REALintArray, RBInteger)>("REALGetArrayInt");
    ASSERT_TRUE(ubound && element);
    HostArray values({7, -8, 9});
    EXPECT_EQ(ubound(values.array), 2);
    EXPECT_EQ(element(values.array, 0), 7);
    EXPECT_EQ(element(values.array, 1), -8);
    EXPECT_EQ(element(values.array, 3), 0);
    EXPECT_EQ(element(values.array, -1), 0);
    HostArray empty({});
    EXPECT_EQ(ubound(empty.array), -1);
    // A pointer that is no live array is refused, not followed.
    int32_t foreign[4] = {1, 2, 3, 4};
    EXPECT_EQ(ubound(reinterpret_cast<REALintArray>(foreign)), -1);
    EXPECT_EQ(element(reinterpret_cast<REALintArray>(foreign), 0), 0);
    REALintArray gone = newIntegerArray({1, 2, 3, 4});
    releaseIntegerArray(gone);
    EXPECT_EQ(ubound(gone), -1);
}

TEST_F(CarbonUtilities, GlobalMethodsAreTheLanguagesBuiltIns) {
    auto load = service<REALproc (*)(const char*)>("REALLoadGlobalMethod");
    ASSERT_TRUE(load);
    // Found by signature, however the declaration is spaced or cased.
    EXPECT_TRUE(load("LenB( s as string ) as integer"));
    EXPECT_TRUE(load("lenb(text As String) As Integer"));
    auto chr = reinterpret_cast<REALstring (*)(RBInteger)>(load("Chr(char as integer) as string"));
    ASSERT_TRUE(chr);
    Value a = Value::adoptString(chr(65));
    EXPECT_EQ(a.text(), "A");
    EXPECT_FALSE(load("LenB(s as string) as double"));
    EXPECT_FALSE(load("Len(s as string) as integer"));
    EXPECT_FALSE(load("not a declaration ("));
    EXPECT_FALSE(load(nullptr));

    // A host that runs without one built-in finds it neither as a global nor as a framework
    // method, and finds the others as before.
    auto framework = service<REALproc (*)(const char*)>("REALLoadFrameworkMethod");
    ASSERT_TRUE(framework);
    withholdMethod("Chr(char as integer) as string", true);
    EXPECT_FALSE(load("chr(c As Integer) As String"));
    EXPECT_FALSE(framework("Chr(char as integer) as string"));
    EXPECT_TRUE(load("LenB( s as string ) as integer"));
    withholdMethod("Chr(char as integer) as string", false);
    EXPECT_TRUE(load("Chr(char as integer) as string"));
    EXPECT_TRUE(framework("Chr(char as integer) as string"));
}

TEST_F(CarbonUtilities, StringsBecomePlatformStringsInTheirOwnEncoding) {
    auto toCF = service<CFStringRef (*)(REALstring)>("REALGetStringCFString");
    ASSERT_TRUE(toCF);
    struct Case {
        std::string bytes;
        REALstringEncoding encoding;
        const char* utf8;
    };
    const Case cases[] = {
        {"plain", kREALTextEncodingASCII, "plain"},
        {"Gr\xC3\xBC\xC3\x9F"
         "e",
         kREALTextEncodingUTF8,
         "Gr\xC3\xBC\xC3\x9F"
         "e"},
        {"Gr\xFC\xDF"
         "e",
         kREALTextEncodingISOLatin1,
         "Gr\xC3\xBC\xC3\x9F"
         "e"},
        {"\x8A", kREALTextEncodingMacRoman, "\xC3\xA4"},
    };
    for (const auto& c : cases) {
        Value s = host().newString(c.bytes, c.encoding);
        CFStringRef text = toCF(s.string());
        ASSERT_TRUE(text) << c.utf8;
        char buffer[64];
        ASSERT_TRUE(CFStringGetCString(text, buffer, sizeof buffer, kCFStringEncodingUTF8));
        EXPECT_STREQ(buffer, c.utf8);
        CFRelease(text);
    }
    Value empty = host().newString("");
    EXPECT_FALSE(toCF(empty.string()));
    Value broken = host().newString("\xC3", kREALTextEncodingUTF8);
    EXPECT_FALSE(toCF(broken.string()));
    EXPECT_FALSE(toCF(nullptr));
}

TEST_F(CarbonUtilities, FolderItemsAndFileRecordsConvertBothWays) {
    auto toSpec = service<RBBoolean (*)(REALfolderItem, FSSpec*)>("REALFSSpecFromFolderItem");
    auto toItem = service<REALfolderItem (*)(const FSSpec*)>("REALFolderItemFromFSSpec");
    ASSERT_TRUE(toSpec && toItem);
    testsupport::ScratchDir dir("carbon-spec");
    const std::string file = dir.file("image.dcm");
    testsupport::writeFile(file, "x");
    for (const std::string& path : {file, dir.file("not yet.dcm")}) {
        SCOPED_TRACE(path);
        Value item = host().newFolderItem(path);
        FSSpec spec;
        ASSERT_TRUE(toSpec(reinterpret_cast<REALfolderItem>(item.object()), &spec));
        EXPECT_STREQ(spec.path, path.c_str());
        Value back = Value::adoptObject(toItem(&spec));
        ASSERT_EQ(back.className(), "FolderItem");
        EXPECT_EQ(folderItemPath(back.object()), path);
    }

    FSSpec spec;
    std::memset(spec.path, 'k', sizeof spec.path);
    Value none = host().newFolderItem("");
    EXPECT_FALSE(toSpec(reinterpret_cast<REALfolderItem>(none.object()), &spec));
    EXPECT_FALSE(toSpec(nullptr, &spec));
    // A path the record cannot hold is refused rather than cut.
    Value deep = host().newFolderItem("/" + std::string(kPlatformPathCapacity, 'd'));
    EXPECT_FALSE(toSpec(reinterpret_cast<REALfolderItem>(deep.object()), &spec));
    EXPECT_EQ(spec.path[0], 'k');
    Value date = host().newInstance("Date");
    EXPECT_FALSE(toSpec(reinterpret_cast<REALfolderItem>(date.object()), &spec));
    // A record names a file in a folder: none for an item whose folder is not there.
    Value orphan = host().newFolderItem(dir.file("gone/image.dcm"));
    EXPECT_FALSE(toSpec(reinterpret_cast<REALfolderItem>(orphan.object()), &spec));
    EXPECT_EQ(spec.path[0], 'k');
    Value item = host().newFolderItem(file);
    EXPECT_FALSE(toSpec(reinterpret_cast<REALfolderItem>(item.object()), nullptr));

    // A record without its terminating zero, an empty one and none give no item.
    EXPECT_FALSE(toItem(&spec));
    spec.path[0] = '\0';
    EXPECT_FALSE(toItem(&spec));
    EXPECT_FALSE(toItem(nullptr));
}
