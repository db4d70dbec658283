// A small plug-in that exercises the host: arguments and results of every declared type, by
// reference, with defaults and overloads; properties; constructors and destructors of a class
// chain; shared methods; constants; raised exceptions; the host's strings, folder items, memory
// blocks and framework methods; and a few records the host must refuse.
#include "REALplugin.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

namespace {

std::string gLog;

REALstring text(const std::string& s) {
    return REALBuildString(s.data(), RBInteger(s.size()), kREALTextEncodingUTF8);
}

std::string bytesOf(REALstring s) {
    size_t n = 0;
    const void* p = REALGetStringContents(s, &n);
    return p ? std::string(static_cast<const char*>(p), n) : std::string();
}

struct ProbeData {
    int32_t count;
    double ratio;
    uint8_t flag;
    std::string* label;
};

struct ChildData {
    int32_t extra;
};

extern REALClassRecord gBase;
extern REALClassRecord gChild;

ProbeData* data(REALobject self) {
    return static_cast<ProbeData*>(REALGetClassData(self, &gBase));
}

void baseConstructor(REALobject self) {
    gLog += "base+";
    if (ProbeData* d = data(self)) d->ratio = 0.5;
}
void baseDestructor(REALobject self) {
    gLog += "base-";
    if (ProbeData* d = data(self)) {
        delete d->label;
        d->label = nullptr;
    }
}
void childConstructor(REALobject self) {
    gLog += "child+";
    if (auto* c = static_cast<ChildData*>(REALGetClassData(self, &gChild))) c->extra = 7;
}
void childDestructor(REALobject) {
    gLog += "child-";
}

void ctorDefault(REALobject self) {
    data(self)->count = 1;
}
void ctorStart(REALobject self, RBInteger start) {
    data(self)->count = start;
}

REALstring mix(REALobject, RBInteger i, int16_t s, uint16_t u, uint32_t w, double d, float f, RBBoolean b) {
    char buffer[200];
    std::snprintf(buffer, sizeof buffer, "%d %d %u %u %.3f %.3f %d", i, s, unsigned(u), unsigned(w), d,
                  double(f), int(b));
    return text(buffer);
}
double twice(REALobject, double x) {
    return 2 * x;
}
float half(REALobject, float x) {
    return x / 2;
}
RBBoolean negate(REALobject, RBBoolean b) {
    return b ? 0 : 1;
}
REALstring echo(REALobject, REALstring s) {
    return text(s ? "<" + bytesOf(s) + ">" : "nil");
}
void bump(REALobject, RBInteger* i, double* d, RBBoolean* b) {
    *i += 1;
    *d *= 2;
    *b = !*b;
}
REALstring greet(REALobject, REALstring name, RBInteger times) {
    std::string out;
    for (int k = 0; k < times; ++k)
        out += "hi " + bytesOf(name) + ";";
    return text(out);
}
REALstring pickInteger(REALobject, RBInteger) {
    return text("integer");
}
REALstring pickString(REALobject, REALstring) {
    return text("string");
}
REALstring pickProbe(REALobject, REALobject o) {
    return text(o ? "probe" : "nil probe");
}
void fail(REALobject) {
    REALobject e = REALnewInstance("OutOfBoundsException");
    REALstring message = text("index 9 of 3");
    REALSetPropValue(e, "Message", message);
    REALUnlockString(message);
    REALRaiseException(e);
    REALUnlockObject(e);
}
void windowsOnly(REALobject) {}

RBInteger getCount(REALobject self, RBInteger param) {
    return data(self)->count + param;
}
void setCount(REALobject self, RBInteger param, RBInteger v) {
    data(self)->count = v - param;
}
REALstring getLabel(REALobject self, RBInteger) {
    ProbeData* d = data(self);
    return text(d->label ? *d->label : "");
}
void setLabel(REALobject self, RBInteger, REALstring v) {
    ProbeData* d = data(self);
    delete d->label;
    d->label = new std::string(bytesOf(v));
}
double getRatio(REALobject self, RBInteger) {
    return data(self)->ratio;
}
void setRatio(REALobject self, RBInteger, double v) {
    data(self)->ratio = v;
}
RBBoolean getFlag(REALobject self, RBInteger) {
    return data(self)->flag;
}
void setFlag(REALobject self, RBInteger, RBBoolean v) {
    data(self)->flag = v;
}
REALobject getTwin(REALobject self, RBInteger) {
    REALobject twin = REALnewInstance("ProbeChild");
    if (twin) data(twin)->count = data(self)->count;
    return twin;
}
void setTwin(REALobject self, RBInteger, REALobject v) {
    if (v) data(self)->count = data(v)->count;
}

REALobject make(RBInteger n) {
    REALobject o = REALnewInstance("ProbeBase");
    if (o) data(o)->count = n;
    return o;
}

REALPropertyRecord baseProperties[] = {
    {nullptr, "count", "integer", kREALConsoleSafe, (REALproc)&getCount, (REALproc)&setCount, 0, {}},
    {nullptr, "countPlusTen", "integer", kREALConsoleSafe, (REALproc)&getCount, (REALproc)&setCount, 10, {}},
    {nullptr, "label", "string", kREALConsoleSafe, (REALproc)&getLabel, (REALproc)&setLabel, 0, {}},
    {nullptr, "ratio", "double", kREALConsoleSafe, (REALproc)&getRatio, (REALproc)&setRatio, 0, {}},
    {nullptr, "flag", "boolean", kREALConsoleSafe, (REALproc)&getFlag, (REALproc)&setFlag, 0, {}},
    {nullptr, "twin", "ProbeBase", kREALConsoleSafe, (REALproc)&getTwin, (REALproc)&setTwin, 0, {}},
};

REALMethodRecord baseMethods[] = {
    {(REALproc)&ctorDefault, nullptr, "Constructor()", kREALConsoleSafe, {}},
    {(REALproc)&ctorStart, nullptr, "Constructor(start as integer)", kREALConsoleSafe, {}},
    {(REALproc)&mix,
     nullptr,
     "mix(i as integer, s as Int16, u as UInt16, w as UInt32, d as double, f as single, b as boolean) as "
     "string",
     kREALConsoleSafe,
     {}},
    {(REALproc)&twice, nullptr, "twice(x as double) as double", kREALConsoleSafe, {}},
    {(REALproc)&half, nullptr, "half(x as single) as single", kREALConsoleSafe, {}},
    {(REALproc)&negate, nullptr, "negate(b as boolean) as boolean", kREALConsoleSafe, {}},
    {(REALproc)&echo, nullptr, "echo(s as string) as string", kREALConsoleSafe, {}},
    {(REALproc)&bump,
     nullptr,
     "bump(byref i as integer, byref d as double, byref b as boolean)",
     kREALConsoleSafe,
     {}},
    {(REALproc)&greet,
     nullptr,
     "greet(name as string = \"world\", times as integer = 2) as string",
     kREALConsoleSafe,
     {}},
    {(REALproc)&pickInteger, nullptr, "pick(i as integer) as string", kREALConsoleSafe, {}},
    {(REALproc)&pickString, nullptr, "pick(s as string) as string", kREALConsoleSafe, {}},
    {(REALproc)&pickProbe, nullptr, "pick(o as ProbeBase) as string", kREALConsoleSafe, {}},
    {(REALproc)&fail, nullptr, "fail()", kREALConsoleSafe, {}},
    {(REALproc)&windowsOnly, nullptr, "windowsOnly()", 0, {}},
    {(REALproc)&echo, nullptr, "broken(s as) as string", kREALConsoleSafe, {}},
};

REALMethodRecord baseShared[] = {
    {(REALproc)&make, nullptr, "make(n as integer) as ProbeBase", kREALConsoleSafe, {}},
};

REALConstantRecord baseConstants[] = {
    {"kAnswer \t\t=\t\t42", {}},
    {"kName \t=\t\"probe\"", {}},
};

REALClassRecord record(const char* name, const char* super, RBRecordWord size, REALproc ctor, REALproc dtor,
                       RBRecordWord flags) {
    REALClassRecord r{};
    r.version = kREALPluginVersion;
    r.name = name;
    r.superName = super;
    r.dataSize = size;
    r.constructor = ctor;
    r.destructor = dtor;
    r.flags = flags;
    return r;
}

REALClassRecord makeBase() {
    REALClassRecord r = record("ProbeBase", nullptr, sizeof(ProbeData), (REALproc)&baseConstructor,
                               (REALproc)&baseDestructor, kREALConsoleSafe);
    r.properties = baseProperties;
    r.propertyCount = RBRecordWord(std::size(baseProperties));
    r.methods = baseMethods;
    r.methodCount = RBRecordWord(std::size(baseMethods));
    r.sharedMethods = baseShared;
    r.sharedMethodCount = RBRecordWord(std::size(baseShared));
    r.constants = baseConstants;
    r.constantCount = RBRecordWord(std::size(baseConstants));
    return r;
}

REALClassRecord gBase = makeBase();
REALClassRecord gChild = record("ProbeChild", "ProbeBase", sizeof(ChildData), (REALproc)&childConstructor,
                                (REALproc)&childDestructor, kREALConsoleSafe);
REALClassRecord gWindowed = record("ProbeWindowed", "ProbeBase", 0, nullptr, nullptr, 0);
REALClassRecord gOrphan = record("ProbeOrphan", "NoSuchClass", 0, nullptr, nullptr, kREALConsoleSafe);
REALClassRecord gDuplicate = record("probebase", nullptr, 0, nullptr, nullptr, kREALConsoleSafe);
REALClassRecord gBadTable = [] {
    REALClassRecord r = record("ProbeBadTable", nullptr, 0, nullptr, nullptr, kREALConsoleSafe);
    r.methodCount = 3; // and no table
    return r;
}();

// ---- The module ----

REALstring takeLog() {
    REALstring s = text(gLog);
    gLog.clear();
    return s;
}
uint16_t u16(uint16_t x) {
    return uint16_t(x + 1);
}
int16_t i16(int16_t x) {
    return int16_t(x - 1);
}
uint32_t u32(uint32_t x) {
    return x ^ 0xFFFFFFFFu;
}
REALstring pathOf(REALobject item) {
    REALstring p = REALpathFromFolderItem(item);
    if (!p) return text("no path");
    return p;
}
REALstring urlOf(REALobject item) {
    REALstring url = nullptr;
    if (!REALGetPropValue(item, "UrlPath", &url)) return text("no url");
    return url;
}
REALstring chr(RBInteger c) {
    auto f = reinterpret_cast<REALstring (*)(RBInteger)>(
        REALLoadFrameworkMethod("Chr(char as integer) as string"));
    return f ? f(c) : text("no Chr");
}
REALstring viaGetFolderItem(REALstring url) {
    auto f = reinterpret_cast<REALobject (*)(REALstring, RBInteger)>(
        REALLoadFrameworkMethod("GetFolderItem(path as string,pathMode as integer=0) as folderitem"));
    if (!f) return text("no GetFolderItem");
    REALobject item = f(url, 2);
    if (!item) return text("nil");
    REALstring p = REALpathFromFolderItem(item);
    REALUnlockObject(item);
    return p ? p : text("no path");
}
REALobject newBlock(RBInteger n) {
    REALobject block = REALNewMemoryBlock(n);
    auto* p = static_cast<unsigned char*>(REALMemoryBlockGetPtr(block));
    for (RBInteger i = 0; p && i < REALMemoryBlockGetSize(block); ++i)
        p[i] = static_cast<unsigned char>(i);
    return block;
}
REALstring convert(REALstring s, RBInteger encoding) {
    REALstring c = REALConvertString(s, REALstringEncoding(encoding));
    return c ? c : text("no conversion");
}
RBInteger encodingOf(REALstring s) {
    return RBInteger(REALGetStringEncoding(s));
}
// A Latin-1 string of the bytes 0xE9 0x74 0xE9 ("été").
REALstring latin1() {
    return REALBuildString("\xE9t\xE9", 3, kREALTextEncodingISOLatin1);
}
RBBoolean hostRefusals() {
    bool ok = REALGetClassData(nullptr, &gBase) == nullptr && REALnewInstance("NoSuchClass") == nullptr &&
              REALLoadFrameworkMethod("NoSuch() as string") == nullptr && REALNewMemoryBlock(-1) == nullptr &&
              REALBuildString(nullptr, 4, kREALTextEncodingUTF8) == nullptr &&
              REALnewInstance("ProbeWindowed") == nullptr;
    // A stale pointer is refused, not followed.
    REALobject o = REALnewInstance("ProbeBase");
    REALUnlockObject(o);
    ok = ok && REALGetClassData(o, &gBase) == nullptr && REALMemoryBlockGetSize(o) == 0;
    return ok;
}
RBBoolean methodByDeclaration() {
    REALobject o = REALnewInstance("ProbeChild");
    auto f = reinterpret_cast<double (*)(REALobject, double)>(
        REALLoadObjectMethod(o, "TWICE(y as Double) as double"));
    bool ok = f && f(o, 1.25) == 2.5 && !REALLoadObjectMethod(o, "twice(x as single) as double") &&
              !REALLoadObjectMethod(o, "windowsOnly()");
    REALUnlockObject(o);
    return ok;
}

REALMethodRecord moduleMethods[] = {
    {(REALproc)&takeLog, nullptr, "takeLog() as string", kREALConsoleSafe, {}},
    {(REALproc)&u16, nullptr, "u16(x as UInt16) as UInt16", kREALConsoleSafe, {}},
    {(REALproc)&i16, nullptr, "i16(x as Int16) as Int16", kREALConsoleSafe, {}},
    {(REALproc)&u32, nullptr, "u32(x as UInt32) as UInt32", kREALConsoleSafe, {}},
    {(REALproc)&pathOf, nullptr, "pathOf(f as folderitem) as string", kREALConsoleSafe, {}},
    {(REALproc)&urlOf, nullptr, "urlOf(f as folderitem) as string", kREALConsoleSafe, {}},
    {(REALproc)&chr, nullptr, "chr(c as integer) as string", kREALConsoleSafe, {}},
    {(REALproc)&viaGetFolderItem, nullptr, "viaGetFolderItem(url as string) as string", kREALConsoleSafe, {}},
    {(REALproc)&newBlock, nullptr, "newBlock(n as integer) as memoryblock", kREALConsoleSafe, {}},
    {(REALproc)&convert,
     nullptr,
     "convert(s as string, encoding as integer) as string",
     kREALConsoleSafe,
     {}},
    {(REALproc)&encodingOf, nullptr, "encodingOf(s as string) as integer", kREALConsoleSafe, {}},
    {(REALproc)&latin1, nullptr, "latin1() as string", kREALConsoleSafe, {}},
    {(REALproc)&hostRefusals, nullptr, "hostRefusals() as boolean", kREALConsoleSafe, {}},
    {(REALproc)&methodByDeclaration, nullptr, "methodByDeclaration() as boolean", kREALConsoleSafe, {}},
};

REALModuleRecord gModule = {kREALPluginVersion,
                            "ProbeModule",
                            moduleMethods,
                            RBRecordWord(std::size(moduleMethods)),
                            nullptr,
                            0,
                            {},
                            0,
                            0};

} // namespace

RBInteger PluginEntry() {
    REALRegisterClass(&gBase);
    REALRegisterClass(&gChild);
    REALRegisterClass(&gWindowed);
    REALRegisterClass(&gOrphan);
    REALRegisterClass(&gDuplicate);
    REALRegisterClass(&gBadTable);
    return REALRegisterModule(&gModule);
}
