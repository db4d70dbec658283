// The recording lives beside the handle while the picture is open and is copied into the handle
// when it closes: a picture being recorded is not yet drawable. In the handle the recording
// follows the 10-byte record: a 4-byte mark, the width and height (host order), the A, R, G, B
// pixels row by row, then one byte a pixel that is 255 where something was drawn. The mark and
// the sizes let DrawPicture refuse handles that are no pictures of ours.
#include "PlatformPictures.h"

#include "PlatformBlitter.h"
#include "PlatformCodecEngines.h"
#include "PlatformMemory.h"
#include "PlatformRegions.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

using platform::BlitSurface;
using platform::PixelRaster;

constexpr char kMark[4] = {'S', 'Y', 'P', 'R'};
constexpr Size kHeaderBytes = Size(sizeof(Picture));
constexpr Size kDataOffset = kHeaderBytes + 4 + 4 + 4;
// Drawn pixels of the mask: black in the 8-bit grey format where 0 is white, so that a one-bit
// copy of the mask has its bits set exactly there.
constexpr uint8_t kDrawn = 255;

struct Recording {
    PicHandle picture = nullptr;
    Rect frame{};
    CGrafPtr port = nullptr;
    int32_t width = 0, height = 0;
    std::vector<uint8_t> argb;
    std::vector<uint8_t> mask;
    std::vector<uint8_t> ink; // a drawn-everywhere source for the mask's copies
    bool busy = false;
};

thread_local std::unique_ptr<Recording> gRecording;

int32_t widthOf(const Rect& r) {
    return int32_t(r.right) - r.left;
}
int32_t heightOf(const Rect& r) {
    return int32_t(r.bottom) - r.top;
}

PixelRaster rasterOver(uint8_t* base, int32_t width, int32_t height, OSType format) {
    PixelRaster r;
    r.base = base;
    r.info = platform::pixelFormatInfo(format);
    r.width = width;
    r.height = height;
    r.rowBytes = int32_t(platform::minimumRowBytes(*r.info, width));
    return r;
}

// The pixels the recording draws into, when `base` is the recorded port's.
bool recordsInto(const Recording& rec, const uint8_t* base) {
    if (rec.busy || !base || !platform::isGWorld(rec.port)) return false;
    PixMapHandle map = GetGWorldPixMap(rec.port);
    return map && reinterpret_cast<const uint8_t*>((*map)->baseAddr) == base;
}

// A picture of ours, read from its handle.
struct Stored {
    Rect frame{};
    int32_t width = 0, height = 0;
    uint8_t* argb = nullptr;
    uint8_t* mask = nullptr;
};

bool readStored(PicHandle picture, Stored& out) {
    Handle h = reinterpret_cast<Handle>(picture);
    if (!h || !*h) return false;
    const Size size = GetHandleSize(h);
    if (size < kDataOffset) return false;
    Picture head;
    std::memcpy(&head, *h, sizeof head);
    if (std::memcmp(*h + kHeaderBytes, kMark, sizeof kMark) != 0) return false;
    int32_t w = 0, hgt = 0;
    std::memcpy(&w, *h + kHeaderBytes + 4, 4);
    std::memcpy(&hgt, *h + kHeaderBytes + 8, 4);
    if (w <= 0 || hgt <= 0 || w != widthOf(head.picFrame) || hgt != heightOf(head.picFrame)) return false;
    const int64_t pixels = int64_t(w) * hgt;
    if (int64_t(size) != int64_t(kDataOffset) + pixels * 5) return false;
    out.frame = head.picFrame;
    out.width = w;
    out.height = hgt;
    out.argb = reinterpret_cast<uint8_t*>(*h + kDataOffset);
    out.mask = out.argb + pixels * 4;
    return true;
}

} // namespace

PicHandle OpenPicture(const Rect* picFrame) {
    CGrafPtr port = nullptr;
    GetGWorld(&port, nullptr);
    if (!picFrame || !platform::isGWorld(port) || gRecording || widthOf(*picFrame) <= 0 ||
        heightOf(*picFrame) <= 0) {
        platform::setQDError(paramErr);
        return nullptr;
    }
    const int32_t w = widthOf(*picFrame), h = heightOf(*picFrame);
    const int64_t pixels = int64_t(w) * h;
    if (pixels * 5 > int64_t(platform::codec::kMaxPictureBytes)) {
        platform::setQDError(memFullErr);
        return nullptr;
    }
    auto rec = std::make_unique<Recording>();
    Handle handle = NewHandleClear(kHeaderBytes);
    try {
        if (!handle) throw std::bad_alloc();
        rec->argb.assign(size_t(pixels) * 4, 0);
        rec->mask.assign(size_t(pixels), 0);
    } catch (const std::bad_alloc&) {
        DisposeHandle(handle);
        platform::setQDError(memFullErr);
        return nullptr;
    }
    Picture head{int16_t(kHeaderBytes), *picFrame};
    std::memcpy(*handle, &head, sizeof head);
    rec->picture = reinterpret_cast<PicHandle>(handle);
    rec->frame = *picFrame;
    rec->port = port;
    rec->width = w;
    rec->height = h;
    gRecording = std::move(rec);
    platform::setQDError(noErr);
    return reinterpret_cast<PicHandle>(handle);
}

void ClosePicture() {
    std::unique_ptr<Recording> rec = std::move(gRecording);
    if (!rec) return;
    Handle h = reinterpret_cast<Handle>(rec->picture);
    const Size total = kDataOffset + Size(rec->argb.size() + rec->mask.size());
    SetHandleSize(h, total);
    if (MemError() != noErr) {
        // The picture stays a bare record, which draws nothing.
        platform::setQDError(memFullErr);
        return;
    }
    Picture head{int16_t(uint16_t(total & 0xFFFF)), rec->frame};
    std::memcpy(*h, &head, sizeof head);
    std::memcpy(*h + kHeaderBytes, kMark, sizeof kMark);
    std::memcpy(*h + kHeaderBytes + 4, &rec->width, 4);
    std::memcpy(*h + kHeaderBytes + 8, &rec->height, 4);
    std::memcpy(*h + kDataOffset, rec->argb.data(), rec->argb.size());
    std::memcpy(*h + kDataOffset + Size(rec->argb.size()), rec->mask.data(), rec->mask.size());
    platform::setQDError(noErr);
}

void KillPicture(PicHandle picture) {
    Handle h = reinterpret_cast<Handle>(picture);
    if (gRecording && gRecording->picture == picture) gRecording.reset();
    DisposeHandle(h);
}

void DrawPicture(PicHandle picture, const Rect* dstRect) {
    CGrafPtr port = nullptr;
    GetGWorld(&port, nullptr);
    Stored pic;
    if (!dstRect || !platform::isGWorld(port) || !readStored(picture, pic)) {
        platform::setQDError(paramErr);
        return;
    }
    PixMapHandle map = GetGWorldPixMap(port);
    const Rect bounds = (*map)->bounds;
    // The pixels the recording drew, scaled as the colours will be, become the clip.
    Rect area{std::max(dstRect->top, bounds.top), std::max(dstRect->left, bounds.left),
              std::min(dstRect->bottom, bounds.bottom), std::min(dstRect->right, bounds.right)};
    if (widthOf(area) <= 0 || heightOf(area) <= 0) {
        platform::setQDError(noErr);
        return;
    }
    const int32_t bitRowBytes = ((widthOf(area) + 15) / 16) * 2;
    if (bitRowBytes > 0x3FFF) {
        platform::setQDError(paramErr);
        return;
    }
    std::vector<uint8_t> bits;
    try {
        bits.assign(size_t(bitRowBytes) * size_t(heightOf(area)), 0);
    } catch (const std::bad_alloc&) {
        platform::setQDError(memFullErr);
        return;
    }
    PixelRaster bitRaster = rasterOver(bits.data(), widthOf(area), heightOf(area), k1MonochromePixelFormat);
    bitRaster.rowBytes = bitRowBytes;
    const BlitSurface maskSrc{rasterOver(pic.mask, pic.width, pic.height, k8IndexedGrayPixelFormat),
                              pic.frame.left, pic.frame.top};
    OSErr err = platform::blit(maskSrc, pic.frame, BlitSurface{bitRaster, area.left, area.top}, *dstRect,
                               nullptr, nullptr, srcCopy, nullptr);
    RgnHandle drawn = err == noErr ? NewRgn() : nullptr;
    if (err == noErr && !drawn) err = memFullErr;
    if (err == noErr) {
        BitMap bm{reinterpret_cast<Ptr>(bits.data()), int16_t(bitRowBytes), area};
        err = OSErr(BitMapToRegion(drawn, &bm));
    }
    if (err == noErr) {
        const BlitSurface colours{rasterOver(pic.argb, pic.width, pic.height, k32ARGBPixelFormat),
                                  pic.frame.left, pic.frame.top};
        const BlitSurface target{platform::rasterOfPixMap(**map), bounds.left, bounds.top};
        err = platform::blit(colours, pic.frame, target, *dstRect, nullptr, drawn, srcCopy, nullptr);
    }
    if (drawn) DisposeRgn(drawn);
    platform::setQDError(err);
}

namespace platform {

void recordBlit(const BlitSurface& src, const Rect& srcRect, const BlitSurface& dst, const Rect& dstRect,
                const MatrixRecord* matrix, RgnHandle clip, int16_t mode, const RGBColor* opColor) {
    Recording* rec = gRecording.get();
    if (!rec || !recordsInto(*rec, dst.raster.base)) return;
    rec->busy = true;
    const BlitSurface colours{rasterOver(rec->argb.data(), rec->width, rec->height, k32ARGBPixelFormat),
                              rec->frame.left, rec->frame.top};
    if (blit(src, srcRect, colours, dstRect, matrix, clip, mode, opColor) == noErr) {
        // The same copy from a source that is drawn everywhere marks the pixels it reached.
        try {
            const size_t need = size_t(src.raster.width) * size_t(src.raster.height);
            if (rec->ink.size() < need) rec->ink.assign(need, kDrawn);
            const BlitSurface ink{
                rasterOver(rec->ink.data(), src.raster.width, src.raster.height, k8IndexedGrayPixelFormat),
                src.left, src.top};
            const BlitSurface mask{
                rasterOver(rec->mask.data(), rec->width, rec->height, k8IndexedGrayPixelFormat),
                rec->frame.left, rec->frame.top};
            blit(ink, srcRect, mask, dstRect, matrix, clip, srcCopy, nullptr);
        } catch (const std::bad_alloc&) {
            // What was drawn stays unrecorded rather than the drawing failing.
        }
    }
    rec->busy = false;
}

void recordErase(CGrafPtr port, const Rect& area) {
    Recording* rec = gRecording.get();
    if (!rec || rec->busy || port != rec->port) return;
    const int32_t left = std::max<int32_t>(area.left, rec->frame.left);
    const int32_t top = std::max<int32_t>(area.top, rec->frame.top);
    const int32_t right = std::min<int32_t>(area.right, rec->frame.right);
    const int32_t bottom = std::min<int32_t>(area.bottom, rec->frame.bottom);
    if (right <= left || bottom <= top) return;
    const int32_t x = left - rec->frame.left, y = top - rec->frame.top;
    fillPixels(rasterOver(rec->argb.data(), rec->width, rec->height, k32ARGBPixelFormat), x, y, right - left,
               bottom - top, ARGB16{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF});
    fillPixels(rasterOver(rec->mask.data(), rec->width, rec->height, k8IndexedGrayPixelFormat), x, y,
               right - left, bottom - top, ARGB16{0xFFFF, 0, 0, 0});
}

} // namespace platform
