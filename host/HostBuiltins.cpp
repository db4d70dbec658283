// The host's own classes and framework methods, declared through the same records as a plug-in's
// classes: FolderItem (a file-system path), MemoryBlock (bytes), Date (a calendar date and time
// with an offset from GMT) and the exceptions RuntimeException, NilObjectException and
// OutOfBoundsException.
#include "HostObjects.h"
#include "HostRuntime.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>

namespace sylhost {

namespace {

HostRuntime* host() {
    return HostRuntime::active();
}

REALstring newString(const std::string& text) {
    HostRuntime* h = host();
    return h ? h->makeString(text, kREALTextEncodingUTF8) : nullptr;
}

// ---- FolderItem ----

struct FolderItemData {
    std::string* path;
};

REALClassRecord& folderItemClass();

FolderItemData* folderData(REALobject item) {
    HostObject* o = liveObject(item);
    if (!o || !o->cls->isKindOf("FolderItem")) return nullptr;
    ClassInfo* cls = o->host->classOfRecord(&folderItemClass());
    if (!cls) return nullptr;
    return reinterpret_cast<FolderItemData*>(o->data + cls->dataOffset);
}

void folderDestructor(REALobject self) {
    if (FolderItemData* d = folderData(self)) {
        delete d->path;
        d->path = nullptr;
    }
}

bool isUnreserved(unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
}

std::string percentEncode(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (isUnreserved(c)) {
            out.push_back(char(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The path of a file URL; empty when the text is not one.
std::string pathOfFileURL(const std::string& url) {
    static const char scheme[] = "file://";
    if (url.size() < sizeof scheme - 1 || url.compare(0, sizeof scheme - 1, scheme) != 0) return {};
    std::string rest = url.substr(sizeof scheme - 1);
    // An authority before the path: only the local one ("localhost" or nothing) names this machine.
    size_t slash = rest.find('/');
    if (slash == std::string::npos) return {};
    std::string authority = rest.substr(0, slash);
    if (!authority.empty() && authority != "localhost") return {};
    std::string encoded = rest.substr(slash);
    std::string path;
    for (size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == '%') {
            if (i + 2 >= encoded.size()) return {};
            int hi = hexValue(encoded[i + 1]), lo = hexValue(encoded[i + 2]);
            if (hi < 0 || lo < 0) return {};
            char c = char(hi * 16 + lo);
            if (c == '\0') return {};
            path.push_back(c);
            i += 2;
        } else if (encoded[i] == '?' || encoded[i] == '#') {
            break;
        } else {
            path.push_back(encoded[i]);
        }
    }
    return path;
}

std::string absolutePath(const std::string& path) {
    if (path.empty()) return {};
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(path, ec);
    if (ec) return {};
    std::string text = p.lexically_normal().string();
    // A trailing separator names the same item.
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

bool isDirectory(const std::string& path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

REALstring folderUrlPath(REALobject self, RBInteger) {
    std::string path = folderItemPath(self);
    if (path.empty()) return newString("");
    std::string url = "file://" + percentEncode(path);
    if (isDirectory(path) && url.back() != '/') url.push_back('/');
    return newString(url);
}

REALstring folderShellPath(REALobject self, RBInteger) {
    return newString(folderItemPath(self));
}

REALstring folderName(REALobject self, RBInteger) {
    std::string path = folderItemPath(self);
    if (path.empty()) return newString("");
    if (path == "/") return newString("/");
    return newString(path.substr(path.rfind('/') + 1));
}

RBBoolean folderExists(REALobject self, RBInteger) {
    std::string path = folderItemPath(self);
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0;
}

REALobject folderParent(REALobject self, RBInteger) {
    HostRuntime* h = host();
    std::string path = folderItemPath(self);
    if (!h || path.empty() || path == "/") return nullptr;
    size_t slash = path.rfind('/');
    std::string parent = slash == 0 ? "/" : path.substr(0, slash);
    REALobject item = h->makeObject(h->classNamed("FolderItem"));
    setFolderItemPath(item, parent);
    return item;
}

// "Constructor(path as String,PathType as Integer)": 0 and 1 a path of this system, 2 a file
// URL. Anything else leaves the item without a path.
void folderConstructor(REALobject self, REALstring path, RBInteger pathType) {
    HostString* s = liveString(path);
    if (!s || s->bytes.empty()) return;
    std::string text;
    if (!convertEncoding(s->bytes, s->encoding, kREALTextEncodingUTF8, text)) return;
    if (text.find('\0') != std::string::npos) return;
    if (pathType == 2)
        text = pathOfFileURL(text);
    else if (pathType != 0 && pathType != 1)
        return;
    setFolderItemPath(self, text);
}

REALPropertyRecord folderProperties[] = {
    {nullptr, "UrlPath", "string", kREALConsoleSafe, (REALproc)&folderUrlPath, nullptr, 0, {}},
    {nullptr, "ShellPath", "string", kREALConsoleSafe, (REALproc)&folderShellPath, nullptr, 0, {}},
    {nullptr, "Name", "string", kREALConsoleSafe, (REALproc)&folderName, nullptr, 0, {}},
    {nullptr, "Exists", "boolean", kREALConsoleSafe, (REALproc)&folderExists, nullptr, 0, {}},
    {nullptr, "Parent", "FolderItem", kREALConsoleSafe, (REALproc)&folderParent, nullptr, 0, {}},
};

REALMethodRecord folderMethods[] = {
    {(REALproc)&folderConstructor,
     nullptr,
     "Constructor(path as String,PathType as Integer)",
     kREALConsoleSafe,
     {}},
};

REALClassRecord& folderItemClass() {
    static REALClassRecord record = {kREALPluginVersion,
                                     "FolderItem",
                                     nullptr,
                                     sizeof(FolderItemData),
                                     0,
                                     nullptr,
                                     (REALproc)&folderDestructor,
                                     folderProperties,
                                     std::size(folderProperties),
                                     folderMethods,
                                     std::size(folderMethods),
                                     nullptr,
                                     0,
                                     nullptr,
                                     0,
                                     nullptr,
                                     nullptr,
                                     0,
                                     nullptr,
                                     0,
                                     kREALConsoleSafe,
                                     nullptr,
                                     0,
                                     nullptr,
                                     0};
    return record;
}

// ---- MemoryBlock ----

struct MemoryBlockData {
    std::byte* bytes;
    int32_t size;
};

REALClassRecord& memoryBlockClass();

MemoryBlockData* blockData(REALobject block) {
    HostObject* o = liveObject(block);
    if (!o || !o->cls->isKindOf("MemoryBlock")) return nullptr;
    ClassInfo* cls = o->host->classOfRecord(&memoryBlockClass());
    if (!cls) return nullptr;
    return reinterpret_cast<MemoryBlockData*>(o->data + cls->dataOffset);
}

void blockDestructor(REALobject self) {
    if (MemoryBlockData* d = blockData(self)) {
        delete[] d->bytes;
        d->bytes = nullptr;
        d->size = 0;
    }
}

RBInteger blockSize(REALobject self, RBInteger) {
    MemoryBlockData* d = blockData(self);
    return d ? d->size : 0;
}

void blockConstructor(REALobject self, RBInteger size) {
    allocateMemoryBlock(self, size);
}

REALPropertyRecord blockProperties[] = {
    {nullptr, "Size", "integer", kREALConsoleSafe, (REALproc)&blockSize, nullptr, 0, {}},
};

REALMethodRecord blockMethods[] = {
    {(REALproc)&blockConstructor, nullptr, "Constructor(size as integer)", kREALConsoleSafe, {}},
};

REALClassRecord& memoryBlockClass() {
    static REALClassRecord record = {kREALPluginVersion,
                                     "MemoryBlock",
                                     nullptr,
                                     sizeof(MemoryBlockData),
                                     0,
                                     nullptr,
                                     (REALproc)&blockDestructor,
                                     blockProperties,
                                     std::size(blockProperties),
                                     blockMethods,
                                     std::size(blockMethods),
                                     nullptr,
                                     0,
                                     nullptr,
                                     0,
                                     nullptr,
                                     nullptr,
                                     0,
                                     nullptr,
                                     0,
                                     kREALConsoleSafe,
                                     nullptr,
                                     0,
                                     nullptr,
                                     0};
    return record;
}

// ---- Date ----

struct DateData {
    int32_t year, month, day, hour, minute, second;
    double gmtOffset;
};

REALClassRecord& dateClass();

DateData* dateData(REALobject date) {
    HostObject* o = liveObject(date);
    if (!o || !o->cls->isKindOf("Date")) return nullptr;
    ClassInfo* cls = o->host->classOfRecord(&dateClass());
    if (!cls) return nullptr;
    return reinterpret_cast<DateData*>(o->data + cls->dataOffset);
}

// A new date starts at the host's epoch, 1904-01-01 00:00:00: the host reads no clock.
void dateConstructor(REALobject self) {
    if (DateData* d = dateData(self)) *d = DateData{1904, 1, 1, 0, 0, 0, 0.0};
}

bool validDate(int y, int m, int d) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return d <= days[m - 1] + (m == 2 && leap ? 1 : 0);
}

// Exactly `count` decimal digits at `pos`.
bool digits(const std::string& text, size_t pos, size_t count, int& value) {
    if (pos + count > text.size()) return false;
    value = 0;
    for (size_t i = 0; i < count; ++i) {
        char c = text[pos + i];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

std::string stringArg(REALstring s) {
    HostString* hs = liveString(s);
    if (!hs) return {};
    std::string text;
    convertEncoding(hs->bytes, hs->encoding, kREALTextEncodingUTF8, text);
    return text;
}

REALstring dateSQLDate(REALobject self, RBInteger) {
    DateData* d = dateData(self);
    if (!d) return newString("");
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", d->year, d->month, d->day);
    return newString(text);
}

REALstring dateSQLDateTime(REALobject self, RBInteger) {
    DateData* d = dateData(self);
    if (!d) return newString("");
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", d->year, d->month, d->day, d->hour,
                  d->minute, d->second);
    return newString(text);
}

// "YYYY-MM-DD"; anything else is ignored.
void setSQLDate(REALobject self, RBInteger, REALstring value) {
    DateData* d = dateData(self);
    std::string text = stringArg(value);
    int y, m, day;
    if (!d || text.size() != 10 || text[4] != '-' || text[7] != '-' || !digits(text, 0, 4, y) ||
        !digits(text, 5, 2, m) || !digits(text, 8, 2, day) || !validDate(y, m, day))
        return;
    d->year = y;
    d->month = m;
    d->day = day;
    d->hour = d->minute = d->second = 0;
}

// "YYYY-MM-DD HH:MM:SS", or a date alone.
void setSQLDateTime(REALobject self, RBInteger param, REALstring value) {
    DateData* d = dateData(self);
    std::string text = stringArg(value);
    if (!d) return;
    if (text.size() == 10) {
        setSQLDate(self, param, value);
        return;
    }
    int y, m, day, hh, mm, ss;
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' ||
        text[16] != ':' || !digits(text, 0, 4, y) || !digits(text, 5, 2, m) || !digits(text, 8, 2, day) ||
        !digits(text, 11, 2, hh) || !digits(text, 14, 2, mm) || !digits(text, 17, 2, ss) ||
        !validDate(y, m, day) || hh > 23 || mm > 59 || ss > 59)
        return;
    *d = DateData{y, m, day, hh, mm, ss, d->gmtOffset};
}

double dateGMTOffset(REALobject self, RBInteger) {
    DateData* d = dateData(self);
    return d ? d->gmtOffset : 0.0;
}

void setGMTOffset(REALobject self, RBInteger, double value) {
    DateData* d = dateData(self);
    if (d && value >= -24.0 && value <= 24.0) d->gmtOffset = value;
}

REALPropertyRecord dateProperties[] = {
    {nullptr, "SQLDate", "string", kREALConsoleSafe, (REALproc)&dateSQLDate, (REALproc)&setSQLDate, 0, {}},
    {nullptr,
     "SQLDateTime",
     "string",
     kREALConsoleSafe,
     (REALproc)&dateSQLDateTime,
     (REALproc)&setSQLDateTime,
     0,
     {}},
    {nullptr,
     "GMTOffset",
     "double",
     kREALConsoleSafe,
     (REALproc)&dateGMTOffset,
     (REALproc)&setGMTOffset,
     0,
     {}},
};

REALClassRecord& dateClass() {
    static REALClassRecord record = {kREALPluginVersion,
                                     "Date",
                                     nullptr,
                                     sizeof(DateData),
                                     0,
                                     (REALproc)&dateConstructor,
                                     nullptr,
                                     dateProperties,
                                     std::size(dateProperties),
                                     nullptr,
                                     0,
                                     nullptr,
                                     0,
                                     nullptr,
                                     0,
                                     nullptr,
                                     nullptr,
                                     0,
                                     nullptr,
                                     0,
                                     kREALConsoleSafe,
                                     nullptr,
                                     0,
                                     nullptr,
                                     0};
    return record;
}

// ---- Exceptions ----

struct ExceptionData {
    std::string* message;
};

REALClassRecord& exceptionClass();

ExceptionData* exceptionData(REALobject e) {
    HostObject* o = liveObject(e);
    if (!o || !o->cls->isKindOf("RuntimeException")) return nullptr;
    ClassInfo* cls = o->host->classOfRecord(&exceptionClass());
    if (!cls) return nullptr;
    return reinterpret_cast<ExceptionData*>(o->data + cls->dataOffset);
}

void exceptionDestructor(REALobject self) {
    if (ExceptionData* d = exceptionData(self)) {
        delete d->message;
        d->message = nullptr;
    }
}

REALstring exceptionMessage(REALobject self, RBInteger) {
    ExceptionData* d = exceptionData(self);
    return newString(d && d->message ? *d->message : std::string());
}

void setExceptionMessage(REALobject self, RBInteger, REALstring value) {
    ExceptionData* d = exceptionData(self);
    if (!d) return;
    delete d->message;
    d->message = new std::string(stringArg(value));
}

REALPropertyRecord exceptionProperties[] = {
    {nullptr,
     "Message",
     "string",
     kREALConsoleSafe,
     (REALproc)&exceptionMessage,
     (REALproc)&setExceptionMessage,
     0,
     {}},
};

REALClassRecord& exceptionClass() {
    static REALClassRecord record = {kREALPluginVersion,
                                     "RuntimeException",
                                     nullptr,
                                     sizeof(ExceptionData),
                                     0,
                                     nullptr,
                                     (REALproc)&exceptionDestructor,
                                     exceptionProperties,
                                     std::size(exceptionProperties),
                                     nullptr,
                                     0,
                                     nullptr,
                                     0,
                                     nullptr,
                                     0,
                                     nullptr,
                                     nullptr,
                                     0,
                                     nullptr,
                                     0,
                                     kREALConsoleSafe,
                                     nullptr,
                                     0,
                                     nullptr,
                                     0};
    return record;
}

// An exception class that adds nothing to RuntimeException but its name.
REALClassRecord exceptionSubclass(const char* name) {
    REALClassRecord record{};
    record.version = kREALPluginVersion;
    record.name = name;
    record.superName = "RuntimeException";
    record.flags = kREALConsoleSafe;
    return record;
}

REALClassRecord nilObjectExceptionClass = exceptionSubclass("NilObjectException");
REALClassRecord outOfBoundsExceptionClass = exceptionSubclass("OutOfBoundsException");

// ---- Framework methods ----

// The character of a code point, in UTF-8; the empty string for a value that is not one.
REALstring frameworkChr(RBInteger code) {
    std::string text;
    uint32_t c = uint32_t(code);
    if (code < 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return newString("");
    if (c < 0x80) {
        text.push_back(char(c));
    } else if (c < 0x800) {
        text.push_back(char(0xC0 | (c >> 6)));
        text.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        text.push_back(char(0xE0 | (c >> 12)));
        text.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        text.push_back(char(0x80 | (c & 0x3F)));
    } else {
        text.push_back(char(0xF0 | (c >> 18)));
        text.push_back(char(0x80 | ((c >> 12) & 0x3F)));
        text.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        text.push_back(char(0x80 | (c & 0x3F)));
    }
    return newString(text);
}

// A new FolderItem of the path in the given mode (see the FolderItem constructor); nil when the
// path gives none.
REALobject frameworkGetFolderItem(REALstring path, RBInteger pathMode) {
    HostRuntime* h = host();
    if (!h) return nullptr;
    REALobject item = h->makeObject(h->classNamed("FolderItem"));
    folderConstructor(item, path, pathMode);
    if (folderItemPath(item).empty()) {
        releaseObject(item);
        return nullptr;
    }
    return item;
}

struct Framework {
    const char* declaration;
    REALproc function;
};

const Framework kFramework[] = {
    {"Chr(char as integer) as string", (REALproc)&frameworkChr},
    {"GetFolderItem(path as string,pathMode as integer=0) as folderitem", (REALproc)&frameworkGetFolderItem},
};

} // namespace

void registerBuiltinClasses(HostRuntime& h) {
    h.registerClass(&folderItemClass(), -1);
    h.registerClass(&memoryBlockClass(), -1);
    h.registerClass(&dateClass(), -1);
    h.registerClass(&exceptionClass(), -1);
    h.registerClass(&nilObjectExceptionClass, -1);
    h.registerClass(&outOfBoundsExceptionClass, -1);
    registerGraphicsClasses(h);
}

REALproc frameworkMethod(const Declaration& decl) {
    for (const auto& f : kFramework) {
        auto known = parseDeclaration(f.declaration);
        if (known && sameSignature(*known, decl)) return f.function;
    }
    return nullptr;
}

std::string folderItemPath(REALobject item) {
    FolderItemData* d = folderData(item);
    return d && d->path ? *d->path : std::string();
}

void setFolderItemPath(REALobject item, const std::string& path) {
    FolderItemData* d = folderData(item);
    if (!d) return;
    delete d->path;
    d->path = nullptr;
    std::string absolute = absolutePath(path);
    if (!absolute.empty()) d->path = new std::string(absolute);
}

bool isFolderItem(REALobject item) {
    return folderData(item) != nullptr;
}

std::byte* memoryBlockBytes(REALobject block, int32_t* size) {
    MemoryBlockData* d = blockData(block);
    if (size) *size = d ? d->size : 0;
    return d ? d->bytes : nullptr;
}

bool allocateMemoryBlock(REALobject block, int32_t size) {
    MemoryBlockData* d = blockData(block);
    if (!d || size < 0) return false;
    delete[] d->bytes;
    // A block of no bytes still has an address to give.
    d->bytes = new std::byte[size_t(size) + 1]();
    d->size = size;
    return true;
}

} // namespace sylhost
