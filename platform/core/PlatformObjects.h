// Opaque references to the objects of the imaging and movie layers (movies, tracks, ports and
// offscreen worlds, component instances). The core only passes them around; the layers that
// define them complete the types.
#pragma once

#include "PlatformMedia.h"
#include "PlatformTypes.h"

struct OpaqueMovie;
using Movie = OpaqueMovie*;
struct OpaqueTrack;
using Track = OpaqueTrack*;

struct OpaqueGrafPort;
using CGrafPtr = OpaqueGrafPort*;
using GrafPtr = CGrafPtr;
using GWorldPtr = CGrafPtr;

struct ComponentInstanceRecord;
using ComponentInstance = ComponentInstanceRecord*;
using ComponentResult = int32_t;
using GraphicsImportComponent = ComponentInstance;
using MovieImportComponent = ComponentInstance;
using MovieController = ComponentInstance;
using SeqGrabComponent = ComponentInstance;
using SGChannel = ComponentInstance;

struct ComponentRecord;
using Component = ComponentRecord*;

// Data handlers of the core's own data references (PlatformDataRef.h).
struct OpaqueDataHandler;
using DataHandler = OpaqueDataHandler*;

struct MatrixRecord;

struct OpaqueICMCompressionSessionOptions;
using ICMCompressionSessionOptionsRef = OpaqueICMCompressionSessionOptions*;
struct OpaqueICMCompressionSession;
using ICMCompressionSessionRef = OpaqueICMCompressionSession*;
struct OpaqueQTSampleTable;
using QTSampleTableRef = OpaqueQTSampleTable*;

// Properties handed to NewMovieFromProperties.
using QTPropertyClass = OSType;
using QTPropertyID = OSType;
using QTPropertyValuePtr = void*;
using ByteCount = uint32_t;
using ItemCount = uint32_t;
struct QTNewMoviePropertyElement {
    QTPropertyClass propClass;
    QTPropertyID propID;
    ByteCount propValueSize;
    QTPropertyValuePtr propValueAddress;
    OSStatus propStatus;
};

constexpr OSErr cantFindHandler = -2003;
constexpr OSErr badDataRefIndex = -2050;
constexpr OSStatus badComponentInstance = int32_t(0x80008001u);
constexpr OSStatus badComponentSelector = int32_t(0x80008002u);
