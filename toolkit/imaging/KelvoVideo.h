// Frame buffers: one rectangle of pixels of one pixel format that the toolkit draws into,
// compresses from, decompresses into and reads pixels out of.
//
// KelvoVideoBufferT is the template base over the buffer handle type T; its members here are the
// offscreen-world buffer (Kelvo_QDGWorldBuffer, the workhorse: every drawing, conversion and
// compression step renders into one, most often 32-bit ARGB) and the pixel buffer
// (Kelvo_CVPixelBuffer) that a world buffer makes over its own pixels to feed compression
// sessions. The 2D image template instantiates the base over a pointer to its samples.
//
// The companion plug-in calls the virtual operations by slot: their order below is part of the
// interface.
#pragma once

#include "KelvoCoreGraphics.h"
#include "KelvoCoreObjects.h"
#include "PlatformCoreGraphics.h"
#include "PlatformCoreVideo.h"
#include "PlatformDescriptions.h"
#include "PlatformGWorlds.h"
#include "PlatformMemory.h"
#include "PlatformTypes.h"

#include <cstdint>
#include <cstring>

template <class T> class KelvoVideoBufferT : public Kelvo_QTObj {
  public:
    explicit KelvoVideoBufferT(uint32_t pixelFormat = 0) : _pixelFormat(pixelFormat) {}
    KelvoVideoBufferT(const KelvoVideoBufferT&) = delete;
    KelvoVideoBufferT& operator=(const KelvoVideoBufferT&) = delete;
    // The sub-world and the description go with the object; releasing the buffer itself is the
    // member's (its destructor calls its own releaseBuffer()).
    ~KelvoVideoBufferT() override {
        disposeSubWorld();
        disposeDescription();
    }

    const char* qtObjName() const override { return "KelvoVideoBufferT"; }
    bool qtObjIsValid() override { return _buffer != T(); }
    bool qtObjIsValid() const override { return _buffer != T(); }
    bool isA(const char* name) const override {
        return Kelvo_QTObj::isA(name) || (name && std::strcmp(name, "KelvoVideoBufferT") == 0);
    }

    // Virtual operations in slot order.
    // A world over the pixels of `rect` (buffer coordinates), kept as the wrapped sub-world and
    // owned by the buffer (a previous one is disposed); null with the status on failure.
    virtual GWorldPtr allocSubGWorld(Kelvo_Rect& rect) = 0;
    // Makes the cached image description of the pixels; returns the status.
    virtual int32_t allocQTDescription() = 0;
    virtual void releaseBuffer() = 0;
    virtual int32_t allocBuffer() = 0;
    // Bounds cleared and the buffer released.
    virtual void reset() {
        _bounds.defaultStatus();
        releaseBuffer();
    }
    // The depth an image description of the pixels carries.
    virtual int16_t depth() const = 0;
    virtual int64_t bufferSize() const = 0;
    virtual Ptr baseAddress() const = 0;
    virtual bool bufferLocked() const = 0;
    virtual int32_t rowBytes() const = 0;
    virtual int16_t bitsPerPixel() const = 0;
    // Zeroes the pixels of `rect`; returns the status.
    virtual int32_t erase(Kelvo_Rect* rect) = 0;
    // Disposes the wrapped sub-world, if any.
    virtual void wrappedGWorldRelease() { disposeSubWorld(); }
    // Replaces the buffer by a copy of (or a reference to) `source`; returns the status.
    virtual int32_t copyBuffer(T source) = 0;

    // reset(), then a buffer of width x height when that is a valid size and the pixel format is
    // set; else status -50 and no buffer. Returns the status.
    int32_t init(int32_t width, int32_t height) {
        reset();
        _bounds = Kelvo_Rect(width, height);
        if (_bounds.qtObjIsValid() && _pixelFormat != 0) return allocBuffer();
        _bounds.defaultStatus();
        _status = paramErr;
        return _status;
    }

    uint32_t pixelFormat() const { return _pixelFormat; }
    T buffer() const { return _buffer; }
    const Kelvo_Rect& bounds() const { return _bounds; }
    int32_t width() const { return _bounds.width(); }
    int32_t height() const { return _bounds.height(); }
    GWorldPtr wrappedGWorld() const { return _subWorld; }
    // The cached description (allocQTDescription), owned by the buffer; null when none.
    ImageDescriptionHandle qtDescription() const { return _description; }

  protected:
    void disposeSubWorld() {
        if (_subWorld) DisposeGWorld(_subWorld);
        _subWorld = nullptr;
    }
    void disposeDescription() {
        if (_description) DisposeHandle(reinterpret_cast<Handle>(_description));
        _description = nullptr;
    }

    uint32_t _pixelFormat = 0;
    T _buffer = T();
    Kelvo_Rect _bounds;
    GWorldPtr _subWorld = nullptr;
    ImageDescriptionHandle _description = nullptr;
};

class Kelvo_CVPixelBuffer;

// A frame buffer over an offscreen world: its own, or a caller's that it wraps without owning.
class Kelvo_QDGWorldBuffer : public KelvoVideoBufferT<GWorldPtr> {
  public:
    // No buffer yet.
    explicit Kelvo_QDGWorldBuffer(uint32_t pixelFormat);
    Kelvo_QDGWorldBuffer(int32_t width, int32_t height, uint32_t pixelFormat);
    Kelvo_QDGWorldBuffer(const Kelvo_Rect& bounds, uint32_t pixelFormat);
    // A null world: no buffer. With `copy`, a copy of the world's pixels in a world of its own;
    // without, the caller's world itself, which stays the caller's (never disposed here). A world
    // that the platform does not know gives status -50.
    Kelvo_QDGWorldBuffer(GWorldPtr world, bool copy);
    ~Kelvo_QDGWorldBuffer() override;

    const char* qtObjName() const override { return "Kelvo_QDGWorldBuffer"; }
    bool isA(const char* name) const override;
    // A new buffer with a copy of the pixels (the caller owns it), or null.
    Kelvo_QTObj* clone() override;

    GWorldPtr allocSubGWorld(Kelvo_Rect& rect) override;
    int32_t allocQTDescription() override;
    void releaseBuffer() override;
    int32_t allocBuffer() override;
    int16_t depth() const override;
    int64_t bufferSize() const override;
    Ptr baseAddress() const override;
    bool bufferLocked() const override;
    // The pixel map's row length, without the flag bits of its row-bytes word and without a cap.
    int32_t rowBytes() const override;
    int16_t bitsPerPixel() const override;
    int32_t erase(Kelvo_Rect* rect) override;
    int32_t copyBuffer(GWorldPtr source) override;

    PixMapHandle bufferPixMap() const { return _pixMap; }
    bool isBufferOwned() const { return !_borrowed; }

    // The pixel buffer over this buffer's pixels, made on first use and kept (owned) by this
    // buffer. Every call retains its platform buffer once more for the caller; those retains are
    // this buffer's to balance: they are released when the cached pixel buffer goes (with the
    // pixels), so callers never release them, and a caller that keeps the platform buffer beyond
    // this buffer's pixels retains it itself. The flag changes nothing. Null when invalid.
    Kelvo_CVPixelBuffer* toCVPixelBuffer(bool flag = false);

    // A CG bitmap context over the world (the one already open, if any); null with the status
    // on failure. Stopping ends it and answers null on success.
    CGContextRef startCGContextWrapping();
    CGContextRef stopCGContextWrapping();
    CGContextRef cgContext() const { return _cgContext; }

  private:
    void deletePixelBuffer();

    PixMapHandle _pixMap = nullptr;
    Kelvo_CVPixelBuffer* _pixelBuffer = nullptr;
    bool _borrowed = false;
    CGContextRef _cgContext = nullptr;
    int32_t _pixelBufferRetains = 0; // retains handed out by toCVPixelBuffer
};

// A frame buffer over a platform pixel buffer.
class Kelvo_CVPixelBuffer : public KelvoVideoBufferT<CVPixelBufferRef> {
  public:
    explicit Kelvo_CVPixelBuffer(uint32_t pixelFormat);
    Kelvo_CVPixelBuffer(int32_t width, int32_t height, uint32_t pixelFormat);
    Kelvo_CVPixelBuffer(const Kelvo_Rect& bounds, uint32_t pixelFormat);
    ~Kelvo_CVPixelBuffer() override;

    const char* qtObjName() const override { return "Kelvo_CVPixelBuffer"; }
    bool isA(const char* name) const override;

    GWorldPtr allocSubGWorld(Kelvo_Rect& rect) override;
    // A new 86-byte description of the buffer; returns the status.
    int32_t allocQTDescription() override;
    void releaseBuffer() override;
    int32_t allocBuffer() override;
    int16_t depth() const override;
    int64_t bufferSize() const override;
    Ptr baseAddress() const override;
    bool bufferLocked() const override;
    int32_t rowBytes() const override;
    int16_t bitsPerPixel() const override;
    int32_t erase(Kelvo_Rect* rect) override;
    // Refers to `source` (retained) instead of a buffer of its own.
    int32_t copyBuffer(CVPixelBufferRef source) override;

    // A platform buffer over the world buffer's pixels, in this object's pixel format; returns
    // the status (-50 for an invalid source).
    int32_t initWithData(Kelvo_QDGWorldBuffer& source, CVPixelBufferReleaseBytesCallback releaseCallback,
                         void* refCon);

    // The answers of the format's description (false when absent).
    bool isQDCompatible();
    bool isCGBitmapContextCompatible();
    bool isCGImageCompatible();
    bool isOpenGLCompatible();
    // The description of the pixel format (owned by this object), made on first use.
    CFDictionaryRef formatDescription();

    // A new CG image over the buffer's pixels (the caller releases it; it keeps the platform
    // buffer alive): null when invalid, status 79 when the format has no CG image form, -50 for
    // a format outside the bits-per-component table.
    CGImageRef toCGImage();
    // A new bitmap context over the pixels, under the same rules for bitmap contexts.
    CGContextRef toCGBitmapContext();
    // A new pixel-buffer visual context for buffers like this one (the caller releases it).
    QTVisualContextRef toVideoContext();

    // Bits per component of the CG forms of a format: 8 for 'RGBA', 'BGRA', 'ABGR', '24BG' and the
    // depths 24, 32 and 40; 5 for depth 16; 0 for any other.
    static size_t cgBitsPerComponent(uint32_t pixelFormat);

  private:
    bool formatFlag(CFStringRef key);
    CGBitmapInfo formatBitmapInfo();
    // Checks what a CG form needs; false with the status set when something is missing.
    bool cgFormReady(bool compatible, size_t& bitsPerComponent);

    bool _locked = false;
    CFDictionaryRef _formatDescription = nullptr;
};

// A CG image over a pixel buffer's rows (height x row bytes from its base address), 8 bits a
// component: 32 bits a pixel for 'cmyk' (a CMYK space, no alpha), 'BGRA' (alpha first in
// little-endian words) and depth 32 (alpha first); 8 bits a pixel for the 8-bit grey formats
// (depths 8 and 40, grey space, sample 0 white). Null for null arguments and for formats whose
// pixels have no such form. The image keeps the pixel buffer alive; the caller releases it.
CGImageRef CGImageFromPixelBuffer(CVPixelBufferRef buffer, uint32_t pixelFormat);
