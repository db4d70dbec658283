// Foundation's geometry records. The old build was 32-bit, where they have the layouts of the
// Core Graphics records (two single-precision floats each) but are distinct types.
#pragma once

#include "PlatformGeometry.h"

struct NSPoint {
    CGFloat x;
    CGFloat y;
};
static_assert(sizeof(NSPoint) == sizeof(CGPoint));

struct NSSize {
    CGFloat width;
    CGFloat height;
};
static_assert(sizeof(NSSize) == sizeof(CGSize));

struct NSRect {
    NSPoint origin;
    NSSize size;
};
static_assert(sizeof(NSRect) == sizeof(CGRect));

inline NSPoint NSMakePoint(CGFloat x, CGFloat y) {
    return NSPoint{x, y};
}
inline NSSize NSMakeSize(CGFloat w, CGFloat h) {
    return NSSize{w, h};
}
inline NSRect NSMakeRect(CGFloat x, CGFloat y, CGFloat w, CGFloat h) {
    return NSRect{{x, y}, {w, h}};
}

inline NSPoint NSPointFromCGPoint(CGPoint p) {
    return NSPoint{p.x, p.y};
}
inline CGPoint NSPointToCGPoint(NSPoint p) {
    return CGPoint{p.x, p.y};
}
inline NSSize NSSizeFromCGSize(CGSize s) {
    return NSSize{s.width, s.height};
}
inline CGSize NSSizeToCGSize(NSSize s) {
    return CGSize{s.width, s.height};
}
inline NSRect NSRectFromCGRect(CGRect r) {
    return NSRect{NSPointFromCGPoint(r.origin), NSSizeFromCGSize(r.size)};
}
inline CGRect NSRectToCGRect(NSRect r) {
    return CGRect{NSPointToCGPoint(r.origin), NSSizeToCGSize(r.size)};
}
