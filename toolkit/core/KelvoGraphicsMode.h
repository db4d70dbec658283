// A transfer (graphics) mode with its op colour, the pair that media handlers, decompressors and
// display transforms take; the two colour helpers; and a range of two colours.
#pragma once

#include "KelvoCoreObjects.h"
#include "PlatformPendingDisplayCalls.h"

class Kelvo_GraphicsMode : public Kelvo_QTObj {
  public:
    Kelvo_GraphicsMode() = default;
    explicit Kelvo_GraphicsMode(const ModifierTrackGraphicsModeRecord& record) : _record(record) {}
    Kelvo_GraphicsMode(const Kelvo_GraphicsMode& other) : Kelvo_QTObj(other), _record(other._record) {}
    explicit Kelvo_GraphicsMode(Kelvo_QTObj* object);
    // The importer's mode and colour; a null importer gives mode 0 and black.
    explicit Kelvo_GraphicsMode(ComponentInstance importer);

    const char* qtObjName() const override { return "Kelvo_GraphicsMode"; }
    // The address of the record formed by the mode and the colour.
    void* qtObjReference() override { return &_record; }
    // Mode 0 and black; the status stays.
    void defaultStatus() override;
    void copy(Kelvo_QTObj& other) override;
    Kelvo_QTObj* clone() override;

    // Virtual operation after those of Kelvo_QTObj.
    virtual void initWithObject(Kelvo_QTObj* object);

    Kelvo_GraphicsMode& operator=(const Kelvo_GraphicsMode& other);
    Kelvo_GraphicsMode& operator=(ComponentInstance importer);
    Kelvo_GraphicsMode& operator=(Track track);
    Kelvo_GraphicsMode& operator=(Media media);

    // The drawing mode of a media wrapper ("Kelvo_Media"): its handler's mode and colour when it
    // shows video, else mode 0 and black.
    void initWithMedia(Kelvo_QTObj& media);

    bool operator==(const Kelvo_GraphicsMode& other) const;
    bool operator!=(const Kelvo_GraphicsMode& other) const { return !(*this == other); }

    int32_t& mode() { return _record.graphicsMode; }
    RGBColor& color() { return _record.opColor; }
    int32_t mode() const { return _record.graphicsMode; }
    const RGBColor& color() const { return _record.opColor; }
    operator ModifierTrackGraphicsModeRecord*() { return &_record; }
    const ModifierTrackGraphicsModeRecord& record() const { return _record; }

    // Reverse the bytes of the mode and of each colour component, in place.
    static void NtoB(Kelvo_GraphicsMode& mode) { NtoB(mode._record); }
    static void BtoN(Kelvo_GraphicsMode& mode) { NtoB(mode._record); }
    static void NtoB(ModifierTrackGraphicsModeRecord& record);
    static void BtoN(ModifierTrackGraphicsModeRecord& record) { NtoB(record); }
    // The record with the same swap applied; the object stays as it is.
    ModifierTrackGraphicsModeRecord nativeToBig() const;
    ModifierTrackGraphicsModeRecord bigToNative() const { return nativeToBig(); }

  private:
    void _fromMedia(Media media);

    ModifierTrackGraphicsModeRecord _record{0, {0, 0, 0}};
};

// False when either pointer is null, else whether the three components are equal.
bool Kelvo_EqualColor(const RGBColor* a, const RGBColor* b);
// Copies the components when both pointers are set; returns dst.
RGBColor* Kelvo_ColorCopy(RGBColor* dst, const RGBColor* src);

class Kelvo_ColorRange : public Kelvo_QTObj {
  public:
    // Black to white.
    Kelvo_ColorRange() = default;
    Kelvo_ColorRange(const Kelvo_ColorRange& other)
        : Kelvo_QTObj(other), _start(other._start), _end(other._end) {}
    Kelvo_ColorRange(const RGBColor& start, const RGBColor& end) : _start(start), _end(end) {}

    const char* qtObjName() const override { return "Kelvo_ColorRange"; }
    using Kelvo_QTObj::qtObjIsValid;
    bool qtObjIsValid() const override { return true; }
    void defaultStatus() override;
    Kelvo_QTObj* clone() override;

    RGBColor& start() { return _start; }
    RGBColor& end() { return _end; }
    const RGBColor& start() const { return _start; }
    const RGBColor& end() const { return _end; }
    void operator()(const RGBColor& start, const RGBColor& end) {
        _start = start;
        _end = end;
    }
    Kelvo_ColorRange& operator=(const Kelvo_ColorRange& other);
    bool operator==(const Kelvo_ColorRange& other) const;
    bool operator!=(const Kelvo_ColorRange& other) const { return !(*this == other); }

    static void NtoB(Kelvo_ColorRange& range);
    static void BtoN(Kelvo_ColorRange& range) { NtoB(range); }
    Kelvo_ColorRange nativeToBig() const;
    Kelvo_ColorRange bigToNative() const { return nativeToBig(); }

  private:
    RGBColor _start{0, 0, 0};
    RGBColor _end{65535, 65535, 65535};
};
