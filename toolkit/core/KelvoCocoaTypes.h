// The Foundation and QTKit types that the toolkit's Cocoa-build members take and return.
//
// The members are declared in every build and defined only in the Cocoa build's own library
// (toolkit/core/cocoa, on platform/cocoa), which only the Cocoa deliverable links. Declaring
// them unconditionally keeps one definition of each class for every translation unit; shared
// code that called one by mistake would fail to link in the Carbon build rather than compile
// differently. None of them is virtual: the virtual operations are an interface shared with
// another plug-in and do not change between builds.
//
// Conversions to these object pointers are explicit: a class that also converts to an integer
// (`Kelvo_OSType`) would otherwise make every truth test of its objects ambiguous.
#pragma once

class NSString;
class NSURL;
class QTDataReference;
struct NSPoint;
struct NSSize;
struct QTTime;
struct QTTimeRange;
