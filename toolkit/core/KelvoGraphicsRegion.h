// The toolkit's clip shape: one platform region, owned by the object. It is built empty, from
// another region, a rectangle, an oval, a contour, the set pixels of an offscreen world or a
// picture, or from the clip of a graphics importer, a sequence-grabber channel, a movie or a
// track, and it offers the boolean region operations. An object may hold no region at all (after
// reset(), or when built from something without a clip): it is then invalid and empty.
#pragma once

#include "KelvoCoreGraphics.h"
#include "KelvoCoreObjects.h"
#include "PlatformGWorlds.h"
#include "PlatformPendingDisplayCalls.h"
#include "PlatformRegions.h"

class Kelvo_Region : public Kelvo_QTObj {
  public:
    // A new empty region; when none can be made the status is MemError().
    Kelvo_Region();
    Kelvo_Region(const Kelvo_Region& other);
    // The importer's clip; a null importer gives -50. An importer without a clip leaves no region.
    explicit Kelvo_Region(ComponentInstance importer);
    explicit Kelvo_Region(Kelvo_QTObj* object);
    ~Kelvo_Region() override;

    const char* qtObjName() const override { return "Kelvo_Region"; }
    using Kelvo_QTObj::qtObjIsValid;
    bool qtObjIsValid() override { return _region != nullptr; }
    void* qtObjReference() override { return _region; }
    void defaultStatus() override;
    void copy(Kelvo_QTObj& other) override;
    Kelvo_QTObj* clone() override;

    // Virtual operations after those of Kelvo_QTObj, in slot order.
    virtual void initWithObject(Kelvo_QTObj* object);
    // Disposes of the region, leaving none; the status stays.
    virtual void reset();

    Kelvo_Region& operator=(const Kelvo_Region& other);
    Kelvo_Region& operator=(Kelvo_Rect& rect);
    Kelvo_Region& operator=(Kelvo_Contour& contour);
    Kelvo_Region& operator=(Movie movie);
    Kelvo_Region& operator=(Track track);
    Kelvo_Region& operator=(Media media);
    // The importer's clip, or a new empty region when there is none.
    Kelvo_Region& operator=(ComponentInstance importer);

    void Merge(RgnHandle other);
    void Subtract(RgnHandle other);
    Kelvo_Region& operator+=(Kelvo_Region& other) {
        Merge(other._region);
        return *this;
    }
    Kelvo_Region& operator-=(Kelvo_Region& other) {
        Subtract(other._region);
        return *this;
    }
    // A new region (owned by the caller): this one's union with, or difference from, `other`.
    Kelvo_Region* operator+(Kelvo_Region& other);
    Kelvo_Region* operator-(Kelvo_Region& other);
    // Equal only when both hold equal regions; two objects without regions are not equal.
    bool operator==(Kelvo_Region& other);
    bool operator!=(Kelvo_Region& other);

    // The shape builders replace the region; each returns the status.
    int32_t RectToRegion(Kelvo_Rect* rect);
    int32_t OvalToRegion(Kelvo_Rect* rect);
    int32_t ContourToRegion(Kelvo_Contour* contour);
    // The set pixels of a one-bit offscreen world; its pixels stay locked for the caller to unlock.
    int32_t GraphicsToRegion(GWorldPtr world);
    int32_t PictureToRegion(PicHandle picture);
    int32_t getRegionFromSGChannel(SGChannel channel);

    RgnHandle region() const { return _region; }
    operator RgnHandle() const { return _region; }
    bool empty() const;
    bool isInRegion(const Kelvo_Point& point) const;

    // Byte order of the region's flat form (see RgnToHandle).
    static void NtoB(Kelvo_Region& region);
    static void BtoN(Kelvo_Region& region);
    static void NtoB(RgnHandle region);
    static void BtoN(RgnHandle region);
    // A new region (disposed of by the caller) holding a converted copy; null without a region.
    RgnHandle nativeToBig() const;
    RgnHandle bigToNative() const;

  private:
    void _fromMovie(Movie movie);
    void _fromTrack(Track track);
    void _fromMedia(Media media);

    RgnHandle _region = nullptr;
};
