#include "PlatformCFURL.h"
#include "PlatformDataRef.h"
#include "PlatformEndian.h"
#include "PlatformFiles.h"
#include "PlatformMemory.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string textOf(CFStringRef s) {
    std::string out = s ? s->utf8 : std::string("<null>");
    if (s) CFRelease(s);
    return out;
}

Handle handleOf(const std::string& bytes) {
    Handle h = nullptr;
    PtrToHand(bytes.data(), &h, Size(bytes.size()));
    return h;
}

} // namespace

TEST(PlatformFiles, RecordsAndAliases) {
    testsupport::ScratchDir dir("tka-files");
    std::string path = dir.file("a.dcm");
    testsupport::writeFile(path, "x");

    FSRef ref;
    Boolean isDir = true;
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, &isDir), 0);
    EXPECT_FALSE(isDir);
    EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(dir.file("none").c_str()), &ref, nullptr), fnfErr);
    std::string tooLong(kPlatformPathCapacity + 10, 'a');
    EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(tooLong.c_str()), &ref, nullptr), bdNamErr);

    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr), 0);
    UInt8 small[4];
    EXPECT_EQ(FSRefMakePath(&ref, small, sizeof small), bdNamErr);
    FSSpec spec;
    FSRef parent;
    ASSERT_EQ(FSGetCatalogInfo(&ref, 0, nullptr, nullptr, &spec, &parent), 0);
    EXPECT_EQ(std::string(spec.path), path);
    EXPECT_EQ(std::string(parent.path), dir.path().string());

    FSSpec missing;
    EXPECT_EQ(FSPathMakeFSSpec(dir.file("new.dcm").c_str(), &missing), fnfErr);
    EXPECT_EQ(std::string(missing.path), dir.file("new.dcm")); // filled all the same

    AliasHandle alias = nullptr;
    ASSERT_EQ(FSNewAlias(nullptr, &ref, &alias), 0);
    FSRef target;
    ASSERT_EQ(FSResolveAlias(nullptr, alias, &target, nullptr), 0);
    EXPECT_EQ(std::string(target.path), path);
    // An alias record without a terminated path is refused, not read past its end.
    SetHandleSize(alias, 3);
    std::memcpy(*alias, "abc", 3);
    EXPECT_EQ(FSResolveAlias(nullptr, alias, &target, nullptr), paramErr);
    DisposeHandle(alias);
}

TEST(PlatformFiles, ResourceFilesRoundTripAndRefuseLies) {
    testsupport::ScratchDir dir("tka-files");
    FSSpec spec;
    FSPathMakeFSSpec(dir.file("res").c_str(), &spec);
    FSpCreateResFile(&spec, FOUR_CHAR_CODE("crea"), FOUR_CHAR_CODE("type"), -1);
    ASSERT_EQ(ResError(), 0);
    FSpCreateResFile(&spec, 0, 0, -1); // never over an existing file
    EXPECT_EQ(ResError(), -48);

    int16_t ref = FSpOpenResFile(&spec, fsRdWrPerm);
    ASSERT_GT(ref, 0);
    struct Res {
        ResType type;
        int16_t id;
        std::string data;
    };
    const Res resources[] = {
        {FOUR_CHAR_CODE("alis"), 256, std::string("/some/path\0", 11)},
        {FOUR_CHAR_CODE("url "), 256, "http://x/"},
        {FOUR_CHAR_CODE("alis"), 128, ""},
    };
    for (const Res& r : resources) {
        Handle h = handleOf(r.data);
        unsigned char name[] = "\x04name";
        AddResource(h, r.type, r.id, name);
        EXPECT_EQ(ResError(), 0);
        DisposeHandle(h);
    }
    CloseResFile(ref);
    ASSERT_EQ(ResError(), 0);

    ref = FSpOpenResFile(&spec, fsRdPerm);
    ASSERT_GT(ref, 0);
    for (const Res& r : resources) {
        Handle h = Get1Resource(r.type, r.id);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(std::string(*h, size_t(GetHandleSize(h))), r.data);
        DisposeHandle(h);
    }
    EXPECT_EQ(Get1Resource(FOUR_CHAR_CODE("none"), 1), nullptr);
    EXPECT_EQ(ResError(), resNotFound);
    Handle h = handleOf("x");
    AddResource(h, FOUR_CHAR_CODE("data"), 1, nullptr); // opened read-only
    EXPECT_NE(ResError(), 0);
    DisposeHandle(h);
    CloseResFile(ref);

    // Every truncation and every lying length is refused when the file is opened.
    std::string full = testsupport::readFile(spec.path);
    for (size_t n = 0; n < full.size(); ++n) {
        testsupport::writeFile(spec.path, full.substr(0, n));
        int16_t r = FSpOpenResFile(&spec, fsRdPerm);
        if (r > 0) CloseResFile(r); // a cut that still adds up is fine
    }
    for (size_t i = 0; i < full.size(); ++i) {
        std::string bad = full;
        bad[i] = char(bad[i] ^ 0xFF);
        testsupport::writeFile(spec.path, bad);
        int16_t r = FSpOpenResFile(&spec, fsRdPerm);
        if (r > 0) {
            for (const Res& res : resources)
                if (Handle got = Get1Resource(res.type, res.id)) DisposeHandle(got);
            CloseResFile(r);
        }
    }
    testsupport::writeFile(spec.path, full.substr(0, 100));
    EXPECT_EQ(FSpOpenResFile(&spec, fsRdPerm), -1);
    EXPECT_EQ(ResError(), mapReadErr);
}

TEST(PlatformFiles, URLs) {
    struct Case {
        const char* text;
        bool valid;
        const char* last;
    };
    const Case cases[] = {
        {"http://a.b/cd/e.f", true, "e.f"},
        {"http://a.b/cd/", true, "cd"},
        {"http://a.b/", true, "/"},
        {"http://a.b", true, ""},
        {"http://a.b/x%20y.dcm?q=1#frag", true, "x y.dcm"},
        {"relative/path/file", true, "file"},
        {"http://a b/c", false, nullptr},
        {"http://a.b/%zz", false, nullptr},
        {"http://a.b/%2", false, nullptr},
        {"http://a.b/\xC3\xA9", false, nullptr},
    };
    for (const Case& c : cases) {
        CFURLRef url = CFURLCreateWithBytes(nullptr, reinterpret_cast<const UInt8*>(c.text),
                                            CFIndex(std::strlen(c.text)), kCFStringEncodingUTF8, nullptr);
        EXPECT_EQ(url != nullptr, c.valid) << c.text;
        if (!url) continue;
        EXPECT_EQ(textOf(CFURLCopyLastPathComponent(url)), c.last) << c.text;
        EXPECT_EQ(CFURLCopyFileSystemPath(url, kCFURLPOSIXPathStyle), nullptr);
        CFRelease(url);
    }
    CFStringRef path = CFStringCreateWithCString(nullptr, "/tmp/a b.dcm", kCFStringEncodingUTF8);
    CFURLRef file = CFURLCreateWithFileSystemPath(nullptr, path, kCFURLPOSIXPathStyle, false);
    EXPECT_EQ(textOf(CFURLCopyFileSystemPath(file, kCFURLPOSIXPathStyle)), "/tmp/a b.dcm");
    EXPECT_EQ(textOf(CFURLCopyLastPathComponent(file)), "a b.dcm");
    CFRelease(file);
    CFRelease(path);
}

TEST(PlatformFiles, DataReferenceNamesAndFolders) {
    struct Case {
        OSType type;
        const char* ref;
        const char* name;
        const char* folder;
    };
    const Case cases[] = {
        {AliasDataHandlerSubType, "/data/study/im1.dcm", "im1.dcm", "/data/study"},
        {AliasDataHandlerSubType, "/im1.dcm", "im1.dcm", "/"},
        {URLDataHandlerSubType, "http://h/data/x.dcm", "x.dcm", "http://h/data/"},
        {URLDataHandlerSubType, "http://h/x.dcm", "x.dcm", "http://h/"},
    };
    for (const Case& c : cases) {
        Handle ref = handleOf(std::string(c.ref) + '\0');
        CFStringRef name = nullptr;
        EXPECT_EQ(QTGetDataReferenceTargetNameCFString(ref, c.type, &name), 0);
        EXPECT_EQ(textOf(name), c.name);
        Handle folder = nullptr;
        OSType type = 0;
        EXPECT_EQ(QTGetDataReferenceDirectoryDataReference(ref, c.type, 0, &folder, &type), 0);
        ASSERT_NE(folder, nullptr);
        EXPECT_STREQ(*folder, c.folder);
        EXPECT_EQ(type, c.type);
        DisposeHandle(folder);
        DisposeHandle(ref);
    }
    Handle unterminated = handleOf("abc");
    CFStringRef name = nullptr;
    EXPECT_EQ(QTGetDataReferenceTargetNameCFString(unterminated, AliasDataHandlerSubType, &name), paramErr);
    DisposeHandle(unterminated);
}

TEST(PlatformFiles, MemoryDataHandlersCheckEveryLength) {
    char block[8] = {};
    uint32_t length = 8;
    const void* address = block;
    std::string record = std::string(reinterpret_cast<const char*>(&address), sizeof address) +
                         std::string(reinterpret_cast<const char*>(&length), 4);
    char atomHead[8];
    platform::storeBE32(atomHead, 12);
    platform::storeBE32(atomHead + 4, FOUR_CHAR_CODE("ftyp"));
    std::string full = record +
                       "\x03"
                       "abc" +
                       std::string(atomHead, 8) + "JPEG";

    for (size_t n = 0; n <= full.size(); ++n) {
        Handle ref = handleOf(full.substr(0, n));
        DataHandler dh = nullptr;
        OSErr err = OpenADataHandler(ref, PointerDataHandlerSubType, nullptr, 0, nullptr, 1, &dh);
        // Whole fields only: the record, the record and name, or everything.
        bool whole = n == record.size() || n == record.size() + 4 || n == full.size();
        EXPECT_EQ(err == noErr, whole) << "cut at " << n;
        if (dh) {
            Handle back = nullptr;
            EXPECT_EQ(DataHGetDataRef(dh, &back), 0);
            EXPECT_EQ(std::string(*back, size_t(GetHandleSize(back))), full.substr(0, n));
            DisposeHandle(back);
            CloseComponent(dh);
        }
        DisposeHandle(ref);
    }
    // An atom that claims more than the reference holds.
    std::string lying = full;
    platform::storeBE32(&lying[record.size() + 4], 0x7FFFFFFF);
    Handle ref = handleOf(lying);
    DataHandler dh = nullptr;
    EXPECT_NE(OpenADataHandler(ref, PointerDataHandlerSubType, nullptr, 0, nullptr, 1, &dh), 0);
    EXPECT_EQ(dh, nullptr);
    DisposeHandle(ref);

    // Extensions replace their earlier value; a name longer than its handle is refused.
    ref = handleOf(full);
    ASSERT_EQ(OpenADataHandler(ref, PointerDataHandlerSubType, nullptr, 0, nullptr, 1, &dh), 0);
    Handle type = handleOf("TIFF");
    EXPECT_EQ(DataHSetDataRefExtension(dh, type, kDataRefExtensionMacOSFileType), 0);
    Handle badName = handleOf("\x09short");
    EXPECT_EQ(DataHSetDataRefExtension(dh, badName, kDataRefExtensionFileName), paramErr);
    Handle back = nullptr;
    DataHGetDataRef(dh, &back);
    EXPECT_EQ(std::string(*back, size_t(GetHandleSize(back))), record +
                                                                   "\x03"
                                                                   "abc" +
                                                                   std::string(atomHead, 8) + "TIFF");
    for (Handle x : {type, badName, back, ref})
        DisposeHandle(x);
    CloseComponent(dh);
    EXPECT_EQ(OpenADataHandler(nullptr, PointerDataHandlerSubType, nullptr, 0, nullptr, 1, &dh),
              cantFindHandler);
}
