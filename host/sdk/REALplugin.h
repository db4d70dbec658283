// The plug-in interface of the host, version 10: the records through which a plug-in declares
// its classes and modules, the opaque host types, and the host services a plug-in calls.
//
// A plug-in is a shared object that exports one function, REALPluginMain. The host calls it once
// with its resolver, a function that returns a host service for a name. The entry glue
// (REALpluginGlue.cpp, compiled into every plug-in) keeps the resolver, tells the host the
// interface version, and calls the plug-in's PluginEntry, which registers the plug-in's classes
// and modules. The service functions below look their host entry up by name on first use and
// keep it.
//
// Records are tables of machine words: every count, flag and version is a word as wide as a
// pointer, so the order of the fields is the whole layout.
//
// Calling conventions of the functions named in the records (the host calls them with the
// native types of their declaration text):
// - instance method: result fn(REALobject self, arguments...); a method's setter (the form
//   `value(key) = x`) is void fn(REALobject self, arguments..., value);
// - shared method and module method: result fn(arguments...);
// - property getter: type fn(REALobject self, RBInteger param); setter: void fn(REALobject self,
//   RBInteger param, type value);
// - shared property getter: type fn(RBInteger param); setter: void fn(RBInteger param, type);
// - class constructor and destructor: void fn(REALobject self).
// Declared types and their native types: integer RBInteger, Int16 int16_t, UInt16 uint16_t,
// UInt32 uint32_t, double double, single float, boolean RBBoolean, string REALstring, any class
// (folderitem, memoryblock, Date, a plug-in class) REALobject; a `byref` parameter is a pointer
// to its type.
//
// References: a string or object that a service returns to the plug-in is the plug-in's to
// release (REALUnlockString, REALUnlockObject) or to hand back as a function result, which
// passes it to the host. Arguments the host passes in are borrowed for the call.
#pragma once

#include <cstddef>
#include <cstdint>

using RBInteger = int32_t;
using RBBoolean = uint8_t;
// One word of a record, wide enough for a pointer.
using RBRecordWord = intptr_t;

struct REALobjectStruct;
using REALobject = REALobjectStruct*;
using REALfolderItem = REALobject;
using REALmemoryBlock = REALobject;
struct REALstringStruct;
using REALstring = REALstringStruct*;
struct REALclassRefStruct;
using REALclassRef = REALclassRefStruct*;
// An array of integers of the host's language, as the Carbon runtime hands it over.
struct REALintArrayStruct;
using REALintArray = REALintArrayStruct*;

using REALproc = void (*)();
using REALresolver = void* (*)(const char* entryName);

// Text encodings, as the platform numbers them.
using REALstringEncoding = uint32_t;
constexpr REALstringEncoding kREALTextEncodingMacRoman = 0;
constexpr REALstringEncoding kREALTextEncodingISOLatin1 = 0x0201;
constexpr REALstringEncoding kREALTextEncodingWindowsLatin1 = 0x0500;
constexpr REALstringEncoding kREALTextEncodingASCII = 0x0600;
constexpr REALstringEncoding kREALTextEncodingUTF8 = 0x08000100;
constexpr REALstringEncoding kREALTextEncodingUnknown = 0xFFFFFFFFu;

constexpr RBRecordWord kREALPluginVersion = 10;
// The console-safe mark of a class or a member: console programs may use it.
constexpr RBRecordWord kREALConsoleSafe = 4;

struct REALEventRecord;
struct REALEventInstanceRecord;
struct REALAttributeRecord;

struct REALPropertyRecord {
    const char* group;
    const char* name;
    const char* type;
    RBRecordWord flags;
    REALproc getter;
    REALproc setter;
    RBRecordWord param;
    RBRecordWord reserved[5];
};
static_assert(sizeof(REALPropertyRecord) == 12 * sizeof(void*));

struct REALMethodRecord {
    REALproc function;
    REALproc setterFunction;
    const char* declaration;
    RBRecordWord flags;
    RBRecordWord reserved[2];
};
static_assert(sizeof(REALMethodRecord) == 6 * sizeof(void*));

// The declaration carries name and value: `name \t\t=\t\tvalue`, a string value in double quotes.
struct REALConstantRecord {
    const char* declaration;
    RBRecordWord reserved[4];
};
static_assert(sizeof(REALConstantRecord) == 5 * sizeof(void*));

struct REALClassRecord {
    RBRecordWord version;
    const char* name;
    const char* superName;
    RBRecordWord dataSize;
    RBRecordWord forSystemUse;
    REALproc constructor;
    REALproc destructor;
    REALPropertyRecord* properties;
    RBRecordWord propertyCount;
    REALMethodRecord* methods;
    RBRecordWord methodCount;
    REALEventRecord* events;
    RBRecordWord eventCount;
    REALEventInstanceRecord* eventInstances;
    RBRecordWord eventInstanceCount;
    const char* interfaces;
    REALAttributeRecord* attributes;
    RBRecordWord attributeCount;
    REALConstantRecord* constants;
    RBRecordWord constantCount;
    RBRecordWord flags;
    REALPropertyRecord* sharedProperties;
    RBRecordWord sharedPropertyCount;
    REALMethodRecord* sharedMethods;
    RBRecordWord sharedMethodCount;
};
static_assert(sizeof(REALClassRecord) == 25 * sizeof(void*));

struct REALModuleRecord {
    RBRecordWord version;
    const char* name;
    REALMethodRecord* methods;
    RBRecordWord methodCount;
    REALConstantRecord* constants;
    RBRecordWord constantCount;
    RBRecordWord reserved[8];
    RBRecordWord moduleFlags;
    RBRecordWord reserved2;
};
static_assert(sizeof(REALModuleRecord) == 16 * sizeof(void*));

// What REALGetPropValue and REALSetPropValue move, by the kind of the property.
enum REALPropertyKind : RBInteger {
    kREALPropString = 1,
    kREALPropInteger = 2,
    kREALPropDouble = 3,
    kREALPropBoolean = 4,
    kREALPropObject = 5,
};

// Defined by each plug-in: registers its classes and modules. Called once, by REALPluginMain.
RBInteger PluginEntry();

// ---- Host services (resolved by name on first use) ----

// Registration. A class whose superclass the host does not know is refused.
void REALRegisterClass(REALClassRecord* record);
// ORs the console-safe mark into the record's flags.
void SetClassConsoleSafe(REALClassRecord* record);
// 0 when the host took the module; otherwise the host's refusal code.
RBInteger REALRegisterModule(REALModuleRecord* record);

// The instance data that `record`'s class contributes to `object` (null when the object has no
// such data).
void* REALGetClassData(REALobject object, REALClassRecord* record);
REALclassRef REALGetClassRef(const char* className);
// A new instance (zero-filled instance data), owned by the caller; nil when the class is unknown
// or refused.
REALobject REALnewInstance(REALclassRef classRef);
REALobject REALnewInstance(const char* className);
void REALUnlockObject(REALobject object);

// Strings.
REALstring REALBuildString(const char* bytes, RBInteger length, REALstringEncoding encoding);
// The string's bytes with a terminating NUL, valid while the string lives.
const char* REALCString(REALstring string);
// A new string of the text in another encoding; nil when a character has no form there.
REALstring REALConvertString(REALstring string, REALstringEncoding encoding);
const void* REALGetStringContents(REALstring string, size_t* byteCount);
REALstringEncoding REALGetStringEncoding(REALstring string);
void REALUnlockString(REALstring string);

// Properties by name: false when the object has no such property of that kind.
RBBoolean REALGetPropValue(REALobject object, const char* name, REALstring* value);
RBBoolean REALGetPropValue(REALobject object, const char* name, RBInteger* value);
RBBoolean REALGetPropValue(REALobject object, const char* name, double* value);
RBBoolean REALGetPropValue(REALobject object, const char* name, RBBoolean* value);
RBBoolean REALGetPropValue(REALobject object, const char* name, REALobject* value);
RBBoolean REALSetPropValue(REALobject object, const char* name, REALstring value);
RBBoolean REALSetPropValue(REALobject object, const char* name, RBInteger value);
RBBoolean REALSetPropValue(REALobject object, const char* name, double value);
RBBoolean REALSetPropValue(REALobject object, const char* name, RBBoolean value);
RBBoolean REALSetPropValue(REALobject object, const char* name, REALobject value);

// Methods by their declaration text; null when there is none. The caller casts the result to the
// function type of the declaration.
REALproc REALLoadObjectMethod(REALobject object, const char* declaration);
REALproc REALLoadFrameworkMethod(const char* declaration);

// Memory blocks: zero-filled bytes owned by the block.
REALmemoryBlock REALNewMemoryBlock(RBInteger size);
void* REALMemoryBlockGetPtr(REALmemoryBlock block);
RBInteger REALMemoryBlockGetSize(REALmemoryBlock block);

// The item's path as a new string; nil for an item without a path.
REALstring REALpathFromFolderItem(REALfolderItem item);

// Raises the exception object in the host when the current call returns.
void REALRaiseException(REALobject exception);

// ---- The host's event loop ----

// A plug-in's share of the host's event loop. Each plug-in has its own main loop, timers and
// clock; the host calls every registered pump while a program runs its event loop. With
// `advanceMilliseconds` 0 the pump fires what is due now on its own clock; with a positive amount
// (the host runs a manual clock) it moves its clock forward by that much, firing its timers as
// they fall due when `run` is true.
using REALEventPump = void (*)(RBInteger advanceMilliseconds, RBBoolean run);
// Registers the plug-in's pump. True when the host runs a manual clock: the plug-in then puts a
// clock of its own in place that moves only when its pump is told to advance it.
RBBoolean REALRegisterEventPump(REALEventPump pump);

// ---- Services of the host's Carbon runtime ----

// A global method of the host's language (its built-in functions) by its declaration text; null
// when there is none. The caller casts the result to the function type of the declaration.
REALproc REALLoadGlobalMethod(const char* declaration);
// The highest index of the array (-1 for an empty or nil array); an element by index from 0 (0
// outside the array).
RBInteger REALGetArrayUBound(REALintArray array);
RBInteger REALGetArrayInt(REALintArray array, RBInteger index);
// A platform string and a file record made by the host's copy of the platform: both copies are
// built from the same sources, so the plug-in reads and releases them with its own.
struct CFLiteString;
struct FSSpec;
// A new platform string of the string's bytes in its own encoding (the caller releases it); null
// for nil, empty, or bytes that are not text in that encoding.
const CFLiteString* REALGetStringCFString(REALstring string);
// The file record of the item's path, whether the file exists or not; false for an item without
// a path, one whose folder is not there, or a path the record cannot hold.
RBBoolean REALFSSpecFromFolderItem(REALfolderItem item, FSSpec* spec);
// A new folder item of the record's path; nil for a record without one.
REALfolderItem REALFolderItemFromFSSpec(const FSSpec* spec);

// ---- Pictures, windows and movies ----
//
// The host and each plug-in carry their own copy of the platform libraries, so a platform object
// (a bitmap context, an offscreen world, a movie) made by one copy means nothing to the other.
// What crosses between them is plain data: a drawing surface is pixel memory the host owns,
// described by the record below, which each side wraps in its own platform objects. The
// "Handle" integers the host hands out (a picture graphics' Handle(5), a window's or a movie's
// "Handle", a movie player's "QTMovieController") are numbers the host gives out, never
// addresses: REALHandlePointer turns one into what it stands for (a surface record for graphics
// and windows, the platform movie or controller the plug-in set for movies and players).

// 32 bits a pixel, bytes A, R, G, B in memory (the platform's k32ARGBPixelFormat).
constexpr uint32_t kREALSurfaceFormatARGB32 = 32;

struct REALGraphicsSurface {
    int32_t width;
    int32_t height;
    int32_t rowBytes;
    // The depth the surface was asked for; the pixels are always of `pixelFormat`.
    int32_t depth;
    uint32_t pixelFormat;
    void* pixels;
};

// How a picture describes itself: type 4 for a host whose pictures are QuickDraw drawings, type 8
// for one whose pictures are bitmap contexts. Either way the pixels are the surface's.
enum : RBInteger {
    kREALPictureDescriptionQuickDraw = 4,
    kREALPictureDescriptionCGContext = 8,
};

struct REALPictureDescription {
    RBInteger type;
    REALGraphicsSurface surface;
};

// The graphics handle type that answers a picture's drawing surface.
constexpr RBInteger kREALGraphicsHandleContext = 5;

// What a handle integer stands for; null for a number the host did not give out (or gave out and
// took back).
void* REALHandlePointer(RBInteger handle);
// Sets what a movie's or movie player's handle stands for; false for other handles.
RBBoolean REALSetHandlePointer(RBInteger handle, void* pointer);
// The description of a host picture; false for nil or a picture without pixels.
RBBoolean REALGetPictureDescription(REALobject picture, REALPictureDescription* description);
// A new host picture with a copy of the described pixels (ARGB32 surfaces only); nil otherwise.
REALobject REALBuildPictureFromPictureDescription(const REALPictureDescription* description);
// Gives a host movie its platform movie (the caller keeps owning the movie).
void REALSetMovieMovie(REALobject movie, void* platformMovie);

// Calls that work on the plug-in's own platform copy, on top of the services above: the binding
// defines them (not the entry glue, which carries no platform code), for the plug-ins that link it.
struct CGImage;
struct CGContext;
struct OpaqueGrafPort;
struct Rect;
// A new image of a copy of the picture's pixels (the caller releases it); null for nil.
CGImage* REALCopyPictureCGImage(REALobject picture);
// Draws the picture into the current port's rectangle, scaled to it (an open QuickDraw picture
// records it); false when there is nothing to draw or no current port.
RBBoolean REALDrawPicturePrimitive(REALobject picture, const Rect* rect, RBBoolean useMask);
// A new host picture with a copy of the world's pixels; nil for a world the platform does not know.
REALobject REALBuildPictureFromGWorld(OpaqueGrafPort* world, RBBoolean dispose);
