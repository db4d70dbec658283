// The small value classes a program builds to call other members: FenraPoint, FenraRect,
// FenraTimeRange and FenraNumericalRange, each with its constructors and its fields.
#include "FenraBase.h"
#include "KelvoCoreGraphics.h"
#include "KelvoCoreObjectsRange.h"
#include "KelvoCoreObjectsTypes.h"
#include "KelvoVideoCompression.h"
#include "PlatformGraphicsExport.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace {

template <class T> T* value(REALobject self, const char* toolkitClass) {
    return FenraObjectAs<T>(self, toolkitClass);
}

// ---- FenraPoint ----
Kelvo_Point* point(REALobject self) {
    return value<Kelvo_Point>(self, "Kelvo_Point");
}
void pointCtr(REALobject self) {
    FenraSetObject(self, new Kelvo_Point());
}
void pointCtrXY(REALobject self, RBInteger x, RBInteger y) {
    FenraSetObject(self, new Kelvo_Point(x, y));
}
RBInteger pointGet(REALobject self, RBInteger which) {
    auto* p = point(self);
    return p ? (which == 0 ? p->x() : p->y()) : 0;
}
void pointSet(REALobject self, RBInteger which, RBInteger v) {
    auto* p = point(self);
    if (!p) return;
    if (which == 0)
        p->x(v);
    else
        *p = Kelvo_Point(p->x(), v);
}

// ---- FenraRect ----
// A rectangle's edges are 16-bit: values beyond that range are held at its ends.
int16_t edge(RBInteger v) {
    return int16_t(std::clamp<RBInteger>(v, INT16_MIN, INT16_MAX));
}
Kelvo_Rect* rect(REALobject self) {
    return value<Kelvo_Rect>(self, "Kelvo_Rect");
}
void rectCtr(REALobject self) {
    FenraSetObject(self, new Kelvo_Rect());
}
void rectCtrEdges(REALobject self, RBInteger left, RBInteger top, RBInteger right, RBInteger bottom) {
    auto* r = new Kelvo_Rect();
    r->left() = edge(left);
    r->top() = edge(top);
    r->right() = edge(right);
    r->bottom() = edge(bottom);
    FenraSetObject(self, r);
}
RBInteger rectGet(REALobject self, RBInteger which) {
    const Kelvo_Rect* r = rect(self);
    if (!r) return 0;
    switch (which) {
    case 0:
        return r->left();
    case 1:
        return r->top();
    case 2:
        return r->right();
    case 3:
        return r->bottom();
    case 4:
        return r->width();
    default:
        return r->height();
    }
}
void rectSet(REALobject self, RBInteger which, RBInteger v) {
    Kelvo_Rect* r = rect(self);
    if (!r) return;
    switch (which) {
    case 0:
        r->left() = edge(v);
        break;
    case 1:
        r->top() = edge(v);
        break;
    case 2:
        r->right() = edge(v);
        break;
    case 3:
        r->bottom() = edge(v);
        break;
    default:
        break;
    }
}

// ---- FenraTimeRange ----
Kelvo_TimeRange* timeRange(REALobject self) {
    return value<Kelvo_TimeRange>(self, "Kelvo_TimeRange");
}
void timeRangeCtr(REALobject self) {
    FenraSetObject(self, new Kelvo_TimeRange());
}
void timeRangeCtrValues(REALobject self, RBInteger start, RBInteger duration) {
    FenraSetObject(self, new Kelvo_TimeRange(start, duration));
}
RBInteger timeRangeGet(REALobject self, RBInteger which) {
    auto* r = timeRange(self);
    return r ? (which == 0 ? r->start() : r->duration()) : 0;
}
void timeRangeSet(REALobject self, RBInteger which, RBInteger v) {
    auto* r = timeRange(self);
    if (!r) return;
    if (which == 0)
        (*r)(v, r->duration());
    else
        (*r)(r->start(), v);
}

// ---- FenraNumericalRange ----
Kelvo_NumericalRange* numericalRange(REALobject self) {
    return value<Kelvo_NumericalRange>(self, "Kelvo_NumericalRange");
}
void numericalRangeCtr(REALobject self) {
    FenraSetObject(self, new Kelvo_NumericalRange());
}
void numericalRangeCtrValues(REALobject self, double start, double end) {
    FenraSetObject(self, new Kelvo_NumericalRange(start, end));
}
double numericalRangeGet(REALobject self, RBInteger which) {
    auto* r = numericalRange(self);
    return r ? (which == 0 ? r->getStart() : r->getEnd()) : 0.0;
}
// Stored as given: the range's scale applies to values read in another scale, not to these.
void numericalRangeSet(REALobject self, RBInteger which, double v) {
    auto* r = numericalRange(self);
    if (!r) return;
    *r = Kelvo_NumericalRange(which == 0 ? v : r->getStart(), which == 0 ? r->getEnd() : v);
}

// ---- FenraImageDescComp ----
// What a compression run writes: the codec, the frame size and depth, and the spatial quality.
Kelvo_ImgDescComp* compression(REALobject self) {
    return value<Kelvo_ImgDescComp>(self, "Kelvo_ImgDescComp");
}
void compressionCtr(REALobject self) {
    FenraSetObject(self, new Kelvo_ImgDescComp());
}
// `codec` is the codec's four-character code ("raw ", "jpeg"); 32-bit frames at the highest
// quality unless changed afterwards.
void compressionCtrCodec(REALobject self, REALstring codec, RBInteger width, RBInteger height) {
    auto* d = new Kelvo_ImgDescComp();
    size_t size = 0;
    const auto* bytes = static_cast<const unsigned char*>(REALGetStringContents(codec, &size));
    uint32_t code = 0;
    for (size_t i = 0; i < 4; ++i)
        code = (code << 8) | (bytes && i < size ? bytes[i] : ' ');
    d->dataFormat(code);
    d->qtDepth(32);
    d->qtWidth(edge(width));
    d->qtHeight(edge(height));
    d->qtSpatialQuality(codecMaxQuality);
    FenraSetObject(self, d);
}
REALstring compressionCodec(REALobject self, RBInteger) {
    auto* d = compression(self);
    if (!d) return nullptr;
    const uint32_t code = d->dataFormat();
    const char text[4] = {char(code >> 24), char(code >> 16), char(code >> 8), char(code)};
    return REALBuildString(text, 4, kREALTextEncodingMacRoman);
}
RBInteger compressionGet(REALobject self, RBInteger which) {
    auto* d = compression(self);
    if (!d) return 0;
    switch (which) {
    case 0:
        return d->qtWidth();
    case 1:
        return d->qtHeight();
    case 2:
        return d->qtDepth();
    default:
        return RBInteger(d->qtSpatialQuality());
    }
}
void compressionSet(REALobject self, RBInteger which, RBInteger v) {
    auto* d = compression(self);
    if (!d) return;
    switch (which) {
    case 0:
        d->qtWidth(edge(v));
        break;
    case 1:
        d->qtHeight(edge(v));
        break;
    case 2:
        d->qtDepth(edge(v));
        break;
    default:
        d->qtSpatialQuality(uint32_t(v));
        break;
    }
}

void indexed(FenraMembers& m, const char* name, const char* type, REALproc getter, REALproc setter,
             RBInteger param) {
    m.property(name, type, getter, setter);
    m.properties.back().param = param;
}

} // namespace

void FenraValueMembers(const char* className, FenraMembers& m) {
    const std::string_view name = className;
    if (name == "FenraPoint") {
        m.method("Constructor()", FenraProc(&pointCtr))
            .method("Constructor(x as integer, y as integer)", FenraProc(&pointCtrXY));
        indexed(m, "x", "integer", FenraProc(&pointGet), FenraProc(&pointSet), 0);
        indexed(m, "y", "integer", FenraProc(&pointGet), FenraProc(&pointSet), 1);
    } else if (name == "FenraRect") {
        m.method("Constructor()", FenraProc(&rectCtr))
            .method("Constructor(left as integer, top as integer, right as integer, bottom as integer)",
                    FenraProc(&rectCtrEdges));
        const char* edges[] = {"left", "top", "right", "bottom"};
        for (RBInteger i = 0; i < 4; ++i)
            indexed(m, edges[i], "integer", FenraProc(&rectGet), FenraProc(&rectSet), i);
        indexed(m, "width", "integer", FenraProc(&rectGet), nullptr, 4);
        indexed(m, "height", "integer", FenraProc(&rectGet), nullptr, 5);
    } else if (name == "FenraTimeRange") {
        m.method("Constructor()", FenraProc(&timeRangeCtr))
            .method("Constructor(start as integer, duration as integer)", FenraProc(&timeRangeCtrValues));
        indexed(m, "start", "integer", FenraProc(&timeRangeGet), FenraProc(&timeRangeSet), 0);
        indexed(m, "duration", "integer", FenraProc(&timeRangeGet), FenraProc(&timeRangeSet), 1);
    } else if (name == "FenraImageDescComp") {
        m.method("Constructor()", FenraProc(&compressionCtr))
            .method("Constructor(codec as string, width as integer, height as integer)",
                    FenraProc(&compressionCtrCodec))
            .property("codec", "string", FenraProc(&compressionCodec));
        const char* fields[] = {"width", "height", "depth", "spatialQuality"};
        for (RBInteger i = 0; i < 4; ++i)
            indexed(m, fields[i], "integer", FenraProc(&compressionGet), FenraProc(&compressionSet), i);
    } else if (name == "FenraNumericalRange") {
        m.method("Constructor()", FenraProc(&numericalRangeCtr))
            .method("Constructor(start as double, end as double)", FenraProc(&numericalRangeCtrValues));
        indexed(m, "start", "double", FenraProc(&numericalRangeGet), FenraProc(&numericalRangeSet), 0);
        indexed(m, "end", "double", FenraProc(&numericalRangeGet), FenraProc(&numericalRangeSet), 1);
    }
}
