#include "KelvoDataReference.h"

#include "PlatformCFURL.h"
#include "PlatformEndian.h"
#include "PlatformMemory.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr size_t kPtr = sizeof(void*);

std::string bytesOf(Handle h) {
    return h ? std::string(*h, size_t(GetHandleSize(h))) : std::string();
}

std::string be32(uint32_t v) {
    char b[4];
    platform::storeBE32(b, v);
    return std::string(b, 4);
}

std::string addressOf(const void* p) {
    return std::string(reinterpret_cast<const char*>(&p), sizeof p);
}

std::string cfText(CFStringRef s) {
    std::string out = s ? s->utf8 : std::string("<null>");
    if (s) CFRelease(s);
    return out;
}

} // namespace

TEST(DataReference, BuiltInStorageAndHandleExtensions) {
    Kelvo_DataReference ref(true);
    ASSERT_TRUE(ref.qtObjIsValid());
    EXPECT_EQ(ref.Type(), FOUR_CHAR_CODE("hndl"));
    EXPECT_TRUE(ref.isMemoryStorage());
    EXPECT_FALSE(ref.isFileStorage());
    EXPECT_EQ(bytesOf(ref.DataRef()), addressOf(ref.storage()));

    Kelvo_OSType jpeg("JPEG");
    EXPECT_TRUE(ref.addFileTypeExtension(&jpeg));
    // The handle value, the empty name, then 'ftyp' (size 12) holding the type big-endian.
    std::string expected = addressOf(ref.storage()) + std::string(1, '\0') + be32(12) + "ftyp" + "JPEG";
    EXPECT_EQ(bytesOf(ref.DataRef()), expected);
    EXPECT_EQ(GetHandleSize(ref.DataRef()), Size(kPtr + 1 + 12));

    // A second extension adds its atom after the first; the name field is not repeated.
    EXPECT_EQ(ref.addMimeTypeExtension("image/x-png"), 0); // 11 characters: atom of 20 bytes
    expected += be32(20) + "mime" + char(11) + "image/x-png";
    EXPECT_EQ(bytesOf(ref.DataRef()), expected);

    Kelvo_DataReference mimeOnly(true);
    mimeOnly.addMimeTypeExtension("image/x-png");
    EXPECT_EQ(GetHandleSize(mimeOnly.DataRef()), Size(kPtr + 1 + 20));
    EXPECT_EQ(mimeOnly.addMimeTypeExtension(""), 0); // nothing to add
    EXPECT_EQ(GetHandleSize(mimeOnly.DataRef()), Size(kPtr + 1 + 20));

    EXPECT_FALSE(ref.addFileTypeExtension(nullptr));
    EXPECT_EQ(ref.Error(), -108);
}

TEST(DataReference, HandleAndPointerReferences) {
    Handle data = NewHandle(10);
    Kelvo_DataReference unnamed(data, static_cast<const char*>(nullptr));
    EXPECT_EQ(bytesOf(unnamed.DataRef()), addressOf(data) + std::string(1, '\0'));
    EXPECT_EQ(unnamed.storage(), nullptr); // the handle is not owned

    Kelvo_DataReference named(data, "clip.mov");
    EXPECT_EQ(bytesOf(named.DataRef()), addressOf(data) + char(8) + "clip.mov");
    Kelvo_OSType mov("MooV");
    named.addFileTypeExtension(&mov);
    EXPECT_EQ(bytesOf(named.DataRef()), addressOf(data) + char(8) + "clip.mov" + be32(12) + "ftyp" + "MooV");

    EXPECT_EQ(Kelvo_DataReference(static_cast<Handle>(nullptr), "x").Error(), -50);

    char block[64] = {};
    uint32_t length = sizeof block;
    std::string record = addressOf(block) + std::string(reinterpret_cast<const char*>(&length), 4);
    Kelvo_DataReference bare(block, length, nullptr);
    EXPECT_EQ(bare.Type(), FOUR_CHAR_CODE("ptr "));
    EXPECT_EQ(bytesOf(bare.DataRef()), record);
    bare.addFileTypeExtension(&mov);
    EXPECT_EQ(bytesOf(bare.DataRef()), record + std::string(1, '\0') + be32(12) + "ftyp" + "MooV");

    Kelvo_DataReference ptr(block, length, "a.png");
    EXPECT_EQ(ptr.Error(), 0);
    EXPECT_EQ(bytesOf(ptr.DataRef()), record + char(5) + "a.png");
    // A MIME type added later keeps the file name.
    EXPECT_EQ(ptr.addMimeTypeExtension("image/png"), 0);
    EXPECT_EQ(bytesOf(ptr.DataRef()), record + char(5) + "a.png" + be32(18) + "mime" + char(9) + "image/png");
    CFStringRef none = ptr.getName();
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(ptr.Error(), 79);

    EXPECT_EQ(Kelvo_DataReference(nullptr, 4, "x").Error(), -50);
    EXPECT_EQ(Kelvo_DataReference(block, 0, "x").Error(), -50);
    DisposeHandle(data);
}

TEST(DataReference, URLReferences) {
    const char* text = "http://a.b/cd/e.f"; // 17 characters
    Kelvo_DataReference url(text);
    EXPECT_EQ(GetHandleSize(url.DataRef()), 18);
    EXPECT_TRUE(url.isURLStorage());
    EXPECT_FALSE(url.isFileStorage());
    EXPECT_FALSE(url.isMemoryStorage());
    EXPECT_EQ(cfText(url.getName()), "e.f");
    Handle copy = url.URLRef();
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, url.DataRef());
    EXPECT_STREQ(*copy, text);
    DisposeHandle(copy);
    EXPECT_EQ(url.parentDirectory(), nullptr);
    EXPECT_EQ(url.Error(), 79);
    EXPECT_EQ(url.addMimeTypeExtension("text/html"), 9);
    EXPECT_EQ(GetHandleSize(url.DataRef()), 18);

    Kelvo_DataReference encoded("http://host/a%20b/");
    EXPECT_EQ(cfText(encoded.getName()), "a b");
    Kelvo_DataReference broken("http://a b/c");
    EXPECT_EQ(broken.getName(), nullptr);
    EXPECT_EQ(broken.Error(), -4960);

    EXPECT_EQ(Kelvo_DataReference("").Error(), -50);
    EXPECT_EQ(Kelvo_DataReference(static_cast<const char*>(nullptr)).Error(), -50);
    Kelvo_DataReference memory(true);
    EXPECT_EQ(memory.URLRef(), nullptr);
}

TEST(DataReference, FileReferences) {
    testsupport::ScratchDir dir("tka-dref");
    std::string path = dir.file("movie.mov");
    testsupport::writeFile(path, "moov");

    FSSpec spec;
    ASSERT_EQ(FSPathMakeFSSpec(path.c_str(), &spec), 0);
    Kelvo_DataReference fromSpec(&spec);
    ASSERT_TRUE(fromSpec.qtObjIsValid());
    EXPECT_EQ(fromSpec.Type(), FOUR_CHAR_CODE("alis"));
    EXPECT_TRUE(fromSpec.isFileStorage());
    EXPECT_EQ(cfText(fromSpec.getName()), "movie.mov");
    FSRef resolved;
    fromSpec.FSFileRef(&resolved);
    EXPECT_EQ(fromSpec.Error(), 0);
    EXPECT_STREQ(resolved.path, path.c_str());
    FSSpec back;
    fromSpec.FileRef(&back);
    EXPECT_STREQ(back.path, path.c_str());
    fromSpec.FSFileRef(nullptr);
    EXPECT_EQ(fromSpec.Error(), -50);

    std::unique_ptr<Kelvo_DataReference> parent(fromSpec.parentDirectory());
    ASSERT_TRUE(parent);
    EXPECT_EQ(parent->Type(), FOUR_CHAR_CODE("alis"));
    EXPECT_EQ(std::string(*parent->DataRef()), dir.path().string());

    FSRef ref;
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr), 0);
    Kelvo_DataReference fromRef(ref);
    EXPECT_EQ(std::string(*fromRef.DataRef()), path);

    EXPECT_EQ(Kelvo_DataReference(static_cast<FSSpec*>(nullptr)).Error(), -50);

    // A reference to a file that is gone resolves to fnfErr.
    std::filesystem::remove(path);
    fromSpec.FSFileRef(&resolved);
    EXPECT_EQ(fromSpec.Error(), -43);
}

TEST(DataReference, CoreFoundationSources) {
    testsupport::ScratchDir dir("tka-dref");
    CFStringRef folder = CFStringCreateWithCString(nullptr, dir.path().c_str(), kCFStringEncodingUTF8);
    CFStringRef name = CFStringCreateWithCString(nullptr, "frame 1.dcm", kCFStringEncodingUTF8);
    CFURLRef fileURL = CFURLCreateWithFileSystemPath(nullptr, name, kCFURLPOSIXPathStyle, false);
    const char web[] = "https://example.org/data/x.dcm";
    CFURLRef webURL = CFURLCreateWithBytes(nullptr, reinterpret_cast<const UInt8*>(web),
                                           CFIndex(std::strlen(web)), kCFStringEncodingUTF8, nullptr);
    ASSERT_NE(webURL, nullptr);
    int32_t seven = 7;
    CFNumberRef number = CFNumberCreate(nullptr, kCFNumberSInt32Type, &seven);

    struct Case {
        const char* what;
        CFTypeRef source;
        int32_t status;
        uint32_t type;
    };
    const Case cases[] = {
        {"path string", folder, 0, FOUR_CHAR_CODE("alis")},
        {"file URL", fileURL, 0, FOUR_CHAR_CODE("alis")},
        {"web URL", webURL, 0, FOUR_CHAR_CODE("url ")},
        {"number", number, 79, 0},
        {"null", nullptr, 79, 0},
    };
    for (const Case& c : cases) {
        Kelvo_DataReference ref(c.source);
        EXPECT_EQ(ref.Error(), c.status) << c.what;
        EXPECT_EQ(ref.Type(), c.type) << c.what;
    }
    Kelvo_DataReference web2(static_cast<CFTypeRef>(webURL));
    EXPECT_STREQ(*web2.DataRef(), web);
    Kelvo_DataReference file2(static_cast<CFTypeRef>(fileURL));
    EXPECT_STREQ(*file2.DataRef(), "frame 1.dcm"); // decoded back to the path

    Kelvo_DataReference inFolder(static_cast<CFTypeRef>(folder), static_cast<CFTypeRef>(name));
    EXPECT_EQ(inFolder.Error(), 0);
    EXPECT_EQ(std::string(*inFolder.DataRef()), dir.file("frame 1.dcm"));
    Kelvo_DataReference inWeb(static_cast<CFTypeRef>(webURL), static_cast<CFTypeRef>(name));
    EXPECT_EQ(inWeb.Type(), FOUR_CHAR_CODE("url "));
    Kelvo_DataReference noName(static_cast<CFTypeRef>(folder), static_cast<CFTypeRef>(number));
    EXPECT_EQ(noName.Error(), 79);
    Kelvo_DataReference noFolder(static_cast<CFTypeRef>(number), static_cast<CFTypeRef>(name));
    EXPECT_EQ(noFolder.Error(), 79);

    FSRef dirRef;
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(dir.path().c_str()), &dirRef, nullptr), 0);
    Kelvo_DataReference inDirRef(dirRef, static_cast<CFTypeRef>(name));
    EXPECT_EQ(std::string(*inDirRef.DataRef()), dir.file("frame 1.dcm"));
    Kelvo_DataReference badName(dirRef, static_cast<CFTypeRef>(number));
    EXPECT_EQ(badName.Error(), 79);

    CFRelease(folder);
    CFRelease(name);
    CFRelease(fileURL);
    CFRelease(webURL);
    CFRelease(number);
}

TEST(DataReference, PlatformObjectsWithoutTheirLayers) {
    struct Case {
        const char* what;
        int32_t status;
    };
    Media media = platform::newDetachedMedia();
    const Case cases[] = {
        {"null media", Kelvo_DataReference(static_cast<Media>(nullptr), 1).Error()},
        {"media without references", Kelvo_DataReference(media, 1).Error()},
        {"null movie", Kelvo_DataReference(static_cast<Movie>(nullptr)).Error()},
        {"null grabber", Kelvo_DataReference(static_cast<SeqGrabComponent>(nullptr)).Error()},
    };
    const int32_t expected[] = {-2008, -2050, -2010, int32_t(0x80008001u)};
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(cases[i].status, expected[i]) << cases[i].what;
    platform::disposeMedia(media);
}

TEST(DataReference, CopiesOwnTheirHandlesAndStorage) {
    Handle src = NewHandle(3);
    std::memcpy(*src, "abc", 3);
    DataReferenceRecord record{FOUR_CHAR_CODE("hndl"), src};
    Kelvo_DataReference fromRecord(record);
    EXPECT_NE(fromRecord.DataRef(), src);
    (*src)[0] = 'X';
    EXPECT_EQ(bytesOf(fromRecord.DataRef()), "abc");
    EXPECT_EQ(Kelvo_DataReference(src, 0u).Error(), -50);
    DisposeHandle(src);

    auto* original = new Kelvo_DataReference(true);
    Kelvo_OSType type("JPEG");
    original->addFileTypeExtension(&type);
    Kelvo_DataReference copy(*original);
    std::unique_ptr<Kelvo_QTObj> cloned(original->clone());
    Kelvo_DataReference assigned;
    assigned = *original;
    delete original;

    for (Kelvo_DataReference* r : {&copy, static_cast<Kelvo_DataReference*>(cloned.get()), &assigned}) {
        ASSERT_TRUE(r->qtObjIsValid());
        ASSERT_NE(r->storage(), nullptr);
        // The reference names the copy's own storage, which stays usable after the source is
        // gone (the sanitizer build catches any use of the freed one).
        Handle named = nullptr;
        std::memcpy(&named, *r->DataRef(), sizeof named);
        EXPECT_EQ(named, r->storage());
        SetHandleSize(named, 16);
        std::memset(*named, 0x5A, 16);
        EXPECT_EQ(GetHandleSize(r->DataRef()), Size(kPtr + 1 + 12)); // extensions copied too
    }

    Kelvo_DataReference empty;
    Kelvo_DataReference target(true);
    target.copy(empty);
    EXPECT_EQ(target.Error(), 9);
    EXPECT_FALSE(target.qtObjIsValid());
    Kelvo_OSType notARef("abcd");
    target.copy(notARef);
    EXPECT_EQ(target.Error(), 9);
    EXPECT_EQ(empty.clone(), nullptr);
}

TEST(DataReference, MakeAliasWritesAResourceFile) {
    testsupport::ScratchDir dir("tka-dref");
    std::string targetPath = dir.file("target.dcm");
    testsupport::writeFile(targetPath, "DICM");
    FSSpec target;
    FSPathMakeFSSpec(targetPath.c_str(), &target);
    FInfo info{FOUR_CHAR_CODE("DICM"), FOUR_CHAR_CODE("Fenr"), 0, {0, 0}, 0};
    bool finderInfo = FSpSetFInfo(&target, &info) == noErr; // needs user extended attributes

    Kelvo_DataReference ref(&target);
    FSSpec aliasFile;
    FSPathMakeFSSpec(dir.file("target alias").c_str(), &aliasFile);
    testsupport::writeFile(aliasFile.path, "an older file is replaced");
    ASSERT_TRUE(ref.makeAlias(&aliasFile)) << ref.Error();

    std::string bytes = testsupport::readFile(aliasFile.path);
    ASSERT_GE(bytes.size(), 256u);
    EXPECT_EQ(bytes.substr(0, 4), be32(256)); // resource data start right after the header
    int16_t file = FSpOpenResFile(&aliasFile, fsRdPerm);
    ASSERT_GT(file, 0);
    Handle res = Get1Resource(FOUR_CHAR_CODE("alis"), 256);
    ASSERT_NE(res, nullptr);
    EXPECT_STREQ(*res, targetPath.c_str());
    DisposeHandle(res);
    CloseResFile(file);
    if (finderInfo) {
        FInfo got{};
        FSpGetFInfo(&aliasFile, &got);
        EXPECT_EQ(got.fdType, FOUR_CHAR_CODE("DICM"));
        EXPECT_EQ(got.fdCreator, FOUR_CHAR_CODE("Fenr"));
        EXPECT_EQ(got.fdFlags & kIsAlias, kIsAlias);
    }

    Kelvo_DataReference url("http://example.org/x.dcm");
    FSSpec urlFile;
    FSPathMakeFSSpec(dir.file("link").c_str(), &urlFile);
    ASSERT_TRUE(url.makeAlias(&urlFile));
    file = FSpOpenResFile(&urlFile, fsRdPerm);
    res = Get1Resource(FOUR_CHAR_CODE("url "), 256);
    ASSERT_NE(res, nullptr);
    EXPECT_STREQ(*res, "http://example.org/x.dcm");
    DisposeHandle(res);
    CloseResFile(file);
    if (finderInfo) {
        FInfo got{};
        FSpGetFInfo(&urlFile, &got);
        EXPECT_EQ(got.fdType, FOUR_CHAR_CODE("ilht"));
        EXPECT_EQ(got.fdCreator, FOUR_CHAR_CODE("MACS"));
    }

    Kelvo_DataReference memory(true);
    EXPECT_FALSE(memory.makeAlias(&urlFile));
    EXPECT_EQ(memory.Error(), 79);
    EXPECT_FALSE(url.makeAlias(nullptr));
    EXPECT_EQ(url.Error(), -50);
    FSSpec nowhere;
    FSPathMakeFSSpec(dir.file("no/such/folder/alias").c_str(), &nowhere);
    EXPECT_FALSE(url.makeAlias(&nowhere));
}
