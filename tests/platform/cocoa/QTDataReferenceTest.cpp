#include "PlatformQTDataReference.h"

#include "PlatformDataRef.h"
#include "PlatformMemory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

Handle textHandle(const char* text) {
    Handle h = nullptr;
    PtrToHand(text, &h, Size(std::strlen(text) + 1));
    return h;
}

NSString* str(const char* s) {
    return NSString::stringWithUTF8String(s);
}

} // namespace

TEST(QTDataReference, RefusesWhatIsNotAReference) {
    NSAutoreleasePool pool;
    Handle h = textHandle("/tmp/x");
    EXPECT_EQ(QTDataReference::dataReferenceWithDataRef(nullptr, str("alis")), nullptr);
    EXPECT_EQ(QTDataReference::dataReferenceWithDataRef(h, nullptr), nullptr);
    EXPECT_EQ(QTDataReference::dataReferenceWithDataRef(h, str("ali")), nullptr);
    EXPECT_EQ(QTDataReference::dataReferenceWithDataRef(h, str("")), nullptr);
    DisposeHandle(h);
}

TEST(QTDataReference, KeepsItsOwnCopyOfTheHandle) {
    NSAutoreleasePool pool;
    Handle h = textHandle("http://example.com/movies/a.mov");
    NSString* type = str("url ");
    QTDataReference* ref = QTDataReference::dataReferenceWithDataRef(h, type);
    ASSERT_NE(ref, nullptr);
    EXPECT_EQ(ref->dataRefType(), type);
    EXPECT_EQ(ref->dataRefTypeCode(), URLDataHandlerSubType);
    ASSERT_NE(ref->dataRef(), h);
    DisposeHandle(h);
    EXPECT_STREQ(*ref->dataRef(), "http://example.com/movies/a.mov");
    EXPECT_EQ(NSAutoreleasePool::innermostCount(), 2u); // the type and the reference
}

TEST(QTDataReference, FileAndURLByKind) {
    NSAutoreleasePool pool;
    Handle alias = nullptr;
    OSType type = 0;
    CFStringRef path = CFStringCreateWithCString(nullptr, "/no/such/dir/a b.dcm", kCFStringEncodingUTF8);
    ASSERT_EQ(QTNewDataReferenceFromFullPathCFString(path, kQTPOSIXPathStyle, 0, &alias, &type), noErr);
    CFRelease(path);
    ASSERT_EQ(type, AliasDataHandlerSubType);

    QTDataReference* file = QTDataReference::dataReferenceWithDataRef(alias, str("alis"));
    ASSERT_NE(file, nullptr);
    ASSERT_NE(file->referenceFile(), nullptr);
    EXPECT_STREQ(file->referenceFile()->UTF8String(), "/no/such/dir/a b.dcm");
    EXPECT_EQ(file->referenceFile(), file->referenceFile()); // kept, not remade
    ASSERT_NE(file->referenceURL(), nullptr);
    EXPECT_STREQ(file->referenceURL()->absoluteString()->UTF8String(), "file:///no/such/dir/a%20b.dcm");
    DisposeHandle(alias);

    Handle url = textHandle("http://example.com/a.mov");
    QTDataReference* web = QTDataReference::dataReferenceWithDataRef(url, str("url "));
    ASSERT_NE(web, nullptr);
    EXPECT_EQ(web->referenceFile(), nullptr);
    ASSERT_NE(web->referenceURL(), nullptr);
    EXPECT_STREQ(web->referenceURL()->absoluteString()->UTF8String(), "http://example.com/a.mov");

    // A 'url ' reference whose text is not a URL has none; memory references have neither.
    Handle notURL = textHandle("not a url");
    QTDataReference* bad = QTDataReference::dataReferenceWithDataRef(notURL, str("url "));
    ASSERT_NE(bad, nullptr);
    EXPECT_EQ(bad->referenceURL(), nullptr);
    QTDataReference* memory = QTDataReference::dataReferenceWithDataRef(url, str("hndl"));
    ASSERT_NE(memory, nullptr);
    EXPECT_EQ(memory->referenceFile(), nullptr);
    EXPECT_EQ(memory->referenceURL(), nullptr);
    DisposeHandle(url);
    DisposeHandle(notURL);
}
