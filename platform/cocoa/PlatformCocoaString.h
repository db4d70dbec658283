// Foundation strings and URLs over the Core Foundation stand-in. A string is bridged to its
// Core Foundation form: `cfString()` gives the string it holds, and `stringWithCFString` wraps
// an existing one without copying it, so text passes between the two worlds as on the platform.
#pragma once

#include "PlatformCF.h"
#include "PlatformCocoaObjects.h"

#include <cstddef>

class NSString final : public NSObject {
  public:
    // A new string (one reference, owned by the caller); null for a null text or one that is not
    // UTF-8.
    static NSString* createWithUTF8String(const char* text);
    // Wraps `cf` (retained, not copied); null for a null object or one that is not a string.
    static NSString* createWithCFString(CFTypeRef cf);
    // The same, autoreleased.
    static NSString* stringWithUTF8String(const char* text);
    static NSString* stringWithCFString(CFTypeRef cf);

    // The text, valid while the string lives.
    const char* UTF8String() const;
    // The Core Foundation form, not retained for the caller.
    CFStringRef cfString() const { return _cf; }
    // In UTF-16 code units, as the platform counts.
    size_t length() const;
    bool isEqualToString(const NSString* other) const;

  private:
    explicit NSString(CFStringRef cf) : _cf(cf) {}
    ~NSString() override;

    CFStringRef _cf;
};

class NSURL final : public NSObject {
  public:
    // Autoreleased; null when the text is not a URL.
    static NSURL* URLWithString(const NSString* text);
    // A file URL for a POSIX path, autoreleased; a directory that exists gets the trailing
    // slash. Null for a null or empty path.
    static NSURL* fileURLWithPath(const NSString* path);

    // Autoreleased strings: the whole text, and the decoded path of a file URL (null for other
    // schemes).
    NSString* absoluteString() const;
    NSString* path() const;
    bool isFileURL() const;
    CFURLRef cfURL() const { return _cf; }

  private:
    explicit NSURL(CFURLRef cf) : _cf(cf) {}
    ~NSURL() override;

    CFURLRef _cf;
};
