#include "PlatformCocoaString.h"

#include "PlatformCFURL.h"

#include <sys/stat.h>

namespace {

NSString* takeString(CFStringRef cf) {
    NSString* s = NSString::stringWithCFString(cf);
    if (cf) CFRelease(cf);
    return s;
}

} // namespace

NSString* NSString::createWithUTF8String(const char* text) {
    CFStringRef cf = CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8);
    return cf ? new NSString(cf) : nullptr;
}

NSString* NSString::createWithCFString(CFTypeRef cf) {
    if (!cf || CFGetTypeID(cf) != CFStringGetTypeID()) return nullptr;
    CFRetain(cf);
    return new NSString(static_cast<CFStringRef>(cf));
}

NSString* NSString::stringWithUTF8String(const char* text) {
    return autoreleased(createWithUTF8String(text));
}

NSString* NSString::stringWithCFString(CFTypeRef cf) {
    return autoreleased(createWithCFString(cf));
}

NSString::~NSString() {
    CFRelease(_cf);
}

const char* NSString::UTF8String() const {
    return CFStringGetCStringPtr(_cf, kCFStringEncodingUTF8);
}

size_t NSString::length() const {
    return size_t(CFStringGetLength(_cf));
}

bool NSString::isEqualToString(const NSString* other) const {
    return other && CFStringEqual(_cf, other->_cf);
}

NSURL* NSURL::URLWithString(const NSString* text) {
    if (!text) return nullptr;
    CFURLRef cf = CFURLCreateWithString(nullptr, text->cfString(), nullptr);
    return cf ? autoreleased(new NSURL(cf)) : nullptr;
}

NSURL* NSURL::fileURLWithPath(const NSString* path) {
    if (!path) return nullptr;
    struct stat st;
    bool directory = ::stat(path->UTF8String(), &st) == 0 && S_ISDIR(st.st_mode);
    CFURLRef cf = CFURLCreateWithFileSystemPath(nullptr, path->cfString(), kCFURLPOSIXPathStyle, directory);
    return cf ? autoreleased(new NSURL(cf)) : nullptr;
}

NSURL::~NSURL() {
    CFRelease(_cf);
}

NSString* NSURL::absoluteString() const {
    return takeString(CFURLCopyString(_cf));
}

NSString* NSURL::path() const {
    return takeString(CFURLCopyFileSystemPath(_cf, kCFURLPOSIXPathStyle));
}

bool NSURL::isFileURL() const {
    return platform::isFileURLText(_cf->text);
}
