#include "PlatformCFURL.h"

#include <cctype>
#include <cstring>
#include <strings.h>

namespace {

bool isHex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    return (std::tolower(static_cast<unsigned char>(c)) - 'a') + 10;
}

bool validURLText(const std::string& s) {
    if (s.empty()) return false;
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '%') {
            if (i + 2 >= s.size() || !isHex(s[i + 1]) || !isHex(s[i + 2])) return false;
            i += 2;
            continue;
        }
        if (std::isalnum(c) || std::strchr("-._~:/?#[]@!$&'()*+,;=", c)) continue;
        return false;
    }
    return true;
}

} // namespace

namespace platform {

bool isFileURLText(const std::string& text) {
    return text.size() >= 7 && strncasecmp(text.c_str(), "file://", 7) == 0;
}

std::string urlPathPart(const std::string& text) {
    size_t start = 0;
    // A scheme: letters, digits, '+', '-', '.' up to a ':'.
    size_t colon = text.find(':');
    if (colon != std::string::npos && colon > 0) {
        bool scheme = std::isalpha(static_cast<unsigned char>(text[0])) != 0;
        for (size_t i = 1; scheme && i < colon; ++i)
            scheme = std::isalnum(static_cast<unsigned char>(text[i])) || std::strchr("+-.", text[i]);
        if (scheme) start = colon + 1;
    }
    if (text.compare(start, 2, "//") == 0) {
        size_t end = text.find_first_of("/?#", start + 2);
        start = end == std::string::npos ? text.size() : end;
    }
    size_t stop = text.find_first_of("?#", start);
    return text.substr(start, stop == std::string::npos ? std::string::npos : stop - start);
}

std::string percentDecode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && isHex(text[i + 1]) && isHex(text[i + 2])) {
            out += char(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace platform

CFURLRef CFURLCreateWithBytes(CFAllocatorRef, const UInt8* bytes, CFIndex length, CFStringEncoding encoding,
                              CFURLRef) {
    if (!bytes || length <= 0) return nullptr;
    CFStringRef text = CFStringCreateWithBytes(nullptr, bytes, length, encoding, false);
    if (!text) return nullptr;
    std::string s = text->utf8;
    CFRelease(text);
    if (!validURLText(s)) return nullptr;
    auto* url = new CFLiteURL();
    url->text = s;
    return url;
}

CFURLRef CFURLCreateWithString(CFAllocatorRef alloc, CFStringRef text, CFURLRef baseURL) {
    if (!text) return nullptr;
    return CFURLCreateWithBytes(alloc, reinterpret_cast<const UInt8*>(text->utf8.data()),
                                CFIndex(text->utf8.size()), kCFStringEncodingUTF8, baseURL);
}

CFStringRef CFURLCopyString(CFURLRef url) {
    if (!url) return nullptr;
    return new CFLiteString(url->text);
}

CFStringRef CFURLCopyLastPathComponent(CFURLRef url) {
    if (!url) return nullptr;
    std::string path = platform::urlPathPart(url->text);
    if (path == "/") return new CFLiteString("/");
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    size_t slash = path.rfind('/');
    std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
    return new CFLiteString(platform::percentDecode(last));
}

CFStringRef CFURLCopyFileSystemPath(CFURLRef url, CFURLPathStyle pathStyle) {
    if (!url || pathStyle != kCFURLPOSIXPathStyle || !platform::isFileURLText(url->text)) return nullptr;
    // Everything after "file://", as the file URLs of this platform are written.
    std::string rest = url->text.substr(7);
    size_t stop = rest.find_first_of("?#");
    std::string path = platform::percentDecode(rest.substr(0, stop));
    if (path.size() > 1 && path.back() == '/') path.pop_back();
    return new CFLiteString(path);
}
