#include "KelvoDataReference.h"
#include "PlatformCocoa.h"
#include "PlatformMemory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

const char* utf8(NSString* s) {
    return s ? s->UTF8String() : "<null>";
}

const char* utf8(NSURL* u) {
    return u ? u->absoluteString()->UTF8String() : "<null>";
}

std::unique_ptr<Kelvo_DataReference> fileRef(const char* path) {
    CFStringRef cf = CFStringCreateWithCString(nullptr, path, kCFStringEncodingUTF8);
    auto ref = std::make_unique<Kelvo_DataReference>(static_cast<CFTypeRef>(cf));
    CFRelease(cf);
    return ref;
}

} // namespace

TEST(CocoaDataReference, PathsByKind) {
    NSAutoreleasePool pool;
    auto file = fileRef("/no/such/dir/a b.dcm");
    ASSERT_TRUE(file->isFileStorage());
    EXPECT_STREQ(utf8(file->systemPath()), "/no/such/dir/a b.dcm");
    EXPECT_EQ(file->Error(), 0);
    EXPECT_STREQ(utf8(file->urlPath()), "file:///no/such/dir/a%20b.dcm");

    Kelvo_DataReference url("http://example.com/movies/a.mov");
    ASSERT_TRUE(url.isURLStorage());
    NSString* text = url.systemPath(); // the caller's to release
    EXPECT_STREQ(utf8(text), "http://example.com/movies/a.mov");
    text->release();
    EXPECT_EQ(url.Error(), 0);
    EXPECT_STREQ(utf8(url.urlPath()), "http://example.com/movies/a.mov");
    // A 'url ' text that is not a URL still has its text, but no URL.
    Kelvo_DataReference notURL("not a url");
    ASSERT_TRUE(notURL.isURLStorage());
    text = notURL.systemPath();
    EXPECT_STREQ(utf8(text), "not a url");
    text->release();
    EXPECT_EQ(notURL.urlPath(), nullptr);

    // Memory references have neither: 79 for the path.
    Kelvo_DataReference memory(true);
    ASSERT_TRUE(memory.isMemoryStorage());
    EXPECT_EQ(memory.systemPath(), nullptr);
    EXPECT_EQ(memory.Error(), kKelvoNothingToWorkOn);
    EXPECT_EQ(memory.urlPath(), nullptr);
    EXPECT_EQ(memory.Error(), kKelvoNothingToWorkOn); // urlPath sets no status

    // An invalid reference: null, and the status reset.
    Kelvo_DataReference empty;
    empty.initWithUrl(nullptr);
    ASSERT_NE(empty.Error(), 0);
    EXPECT_EQ(empty.systemPath(), nullptr);
    EXPECT_EQ(empty.Error(), 0);
    EXPECT_EQ(empty.urlPath(), nullptr);
}

TEST(CocoaDataReference, QTKitObject) {
    NSAutoreleasePool pool;
    Kelvo_DataReference empty;
    EXPECT_EQ(empty.toQTDataReference(), nullptr);
    EXPECT_EQ(static_cast<QTDataReference*>(empty), nullptr);

    auto file = fileRef("/no/such/file.mov");
    QTDataReference* q = static_cast<QTDataReference*>(*file);
    ASSERT_NE(q, nullptr);
    EXPECT_STREQ(utf8(q->dataRefType()), "alis");
    // The QTKit object holds its own copy of the handle, and outlives the toolkit object.
    Handle handle = file->DataRef();
    const Size size = GetHandleSize(handle);
    ASSERT_NE(q->dataRef(), handle);
    ASSERT_EQ(GetHandleSize(q->dataRef()), size);
    EXPECT_EQ(std::memcmp(*q->dataRef(), *handle, size_t(size)), 0);
    file.reset();
    EXPECT_STREQ(utf8(q->referenceFile()), "/no/such/file.mov");

    Kelvo_DataReference memory(true);
    QTDataReference* m = memory.toQTDataReference();
    ASSERT_NE(m, nullptr);
    EXPECT_STREQ(utf8(m->dataRefType()), "hndl");
    EXPECT_EQ(m->referenceFile(), nullptr);
}

TEST(CocoaDataReference, AURLTextBelongsToTheCallerAFilePathToThePool) {
    size_t before;
    NSString* path;
    NSString* file;
    {
        NSAutoreleasePool pool;
        Kelvo_DataReference url("http://example.com/a.mov");
        before = NSAutoreleasePool::innermostCount();
        path = url.systemPath();
        ASSERT_NE(path, nullptr);
        EXPECT_EQ(NSAutoreleasePool::innermostCount(), before);
        EXPECT_EQ(path->retainCount(), 1u);
        auto alias = fileRef("/no/such/b.dcm");
        file = alias->systemPath();
        ASSERT_NE(file, nullptr);
        EXPECT_GT(NSAutoreleasePool::innermostCount(), before);
        file->retain(); // kept past the pool
    }
    EXPECT_STREQ(path->UTF8String(), "http://example.com/a.mov");
    EXPECT_EQ(path->retainCount(), 1u);
    path->release();
    EXPECT_STREQ(file->UTF8String(), "/no/such/b.dcm");
    EXPECT_EQ(file->retainCount(), 1u);
    file->release();
}
