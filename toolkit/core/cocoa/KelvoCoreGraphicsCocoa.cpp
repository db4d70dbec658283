// The Cocoa build's conversions of points and sizes: Foundation's records behave as the Core
// Graphics ones they mirror.
#include "KelvoCoreGraphics.h"
#include "PlatformCocoaGeometry.h"

Kelvo_Point::Kelvo_Point(const NSPoint& ns) : Kelvo_Point(NSPointToCGPoint(ns)) {}

Kelvo_Point& Kelvo_Point::operator=(const NSPoint& ns) {
    return *this = NSPointToCGPoint(ns);
}

bool Kelvo_Point::operator==(const NSPoint& ns) const {
    return *this == NSPointToCGPoint(ns);
}

bool Kelvo_Point::operator!=(const NSPoint& ns) const {
    return !(*this == ns);
}

Kelvo_Point::operator NSPoint() const {
    return NSPointFromCGPoint(CGPoint(*this));
}

Kelvo_Size::Kelvo_Size(const NSSize& ns) : Kelvo_Size(NSSizeToCGSize(ns)) {}

Kelvo_Size& Kelvo_Size::operator=(const NSSize& ns) {
    return *this = NSSizeToCGSize(ns);
}

bool Kelvo_Size::operator==(const NSSize& ns) const {
    return *this == NSSizeToCGSize(ns);
}

bool Kelvo_Size::operator!=(const NSSize& ns) const {
    return !(*this == ns);
}

Kelvo_Size::operator NSSize() const {
    return NSSizeFromCGSize(CGSize(*this));
}
