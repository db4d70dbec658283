// Feeds bytes to every graphics importer as a handle: bounds, description, drawing into a small
// world (as it comes, then through a scaling matrix, a clip, a source rectangle and notSrcCopy) and
// CG images of both kinds must give a status, never a crash, a hang or a leak.
#include "PlatformComponents.h"
#include "PlatformCoreGraphics.h"
#include "PlatformFixed.h"
#include "PlatformGWorlds.h"
#include "PlatformGraphicsImport.h"
#include "PlatformImageDescriptions.h"
#include "PlatformMatrix.h"
#include "PlatformMemory.h"
#include "PlatformPendingCalls.h"
#include "PlatformRegions.h"

#include <cstddef>
#include <cstdint>

namespace {

// Draws again through settings that scale each axis differently, clip, and pick the middle of
// the image, then makes images with and without them.
void drawWithSettings(ComponentInstance importer, const Rect& bounds) {
    MatrixRecord m;
    SetIdentityMatrix(&m);
    ScaleMatrix(&m, 3 * fixed1 / 2, fixed1 / 2, 0, 0);
    TranslateMatrix(&m, Long2Fix(-3), Long2Fix(5));
    GraphicsImportSetMatrix(importer, &m);
    RgnHandle clip = NewRgn();
    if (clip) {
        SetRectRgn(clip, 2, 3, 40, 50);
        GraphicsImportSetClip(importer, clip);
        DisposeRgn(clip);
    }
    const int16_t w = int16_t(bounds.right - bounds.left), h = int16_t(bounds.bottom - bounds.top);
    const Rect middle{int16_t(h / 4), int16_t(w / 4), int16_t(h - h / 4), int16_t(w - w / 4)};
    GraphicsImportSetSourceRect(importer, &middle);
    GraphicsImportSetGraphicsMode(importer, notSrcCopy, nullptr);
    GraphicsImportDraw(importer);
    for (uint32_t flags : {kGraphicsImportCreateCGImageUsingCurrentSettings, 0u}) {
        CGImageRef image = nullptr;
        GraphicsImportCreateCGImage(importer, &image, flags);
        CGImageRelease(image);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    Handle h = nullptr;
    if (PtrToHand(data, &h, Size(size)) != noErr) return 0;
    platform::installGraphicsImporters();
    Rect worldBounds{0, 0, 64, 64};
    GWorldPtr world = nullptr;
    QTNewGWorld(&world, 32, &worldBounds, nullptr, nullptr, 0);
    ComponentDescription importers{FOUR_CHAR_CODE("grip"), 0, 0, 0, 0};
    for (Component c = FindNextComponent(nullptr, &importers); c; c = FindNextComponent(c, &importers)) {
        ComponentInstance importer = nullptr;
        if (OpenAComponent(c, &importer) != noErr || !importer) continue;
        if (GraphicsImportSetDataHandle(importer, h) == noErr) {
            Rect bounds{};
            ImageDescriptionHandle desc = nullptr;
            GraphicsImportGetImageDescription(importer, &desc);
            if (desc) DisposeHandle(reinterpret_cast<Handle>(desc));
            // Large pictures are only measured, so that a run explores streams rather than memory.
            if (GraphicsImportGetNaturalBounds(importer, &bounds) == noErr &&
                int32_t(bounds.right - bounds.left) * int32_t(bounds.bottom - bounds.top) <= 1 << 20) {
                GraphicsImportSetGWorld(importer, world, nullptr);
                GraphicsImportDraw(importer);
                drawWithSettings(importer, bounds);
            }
        }
        CloseComponent(importer);
    }
    if (world) DisposeGWorld(world);
    DisposeHandle(h);
    return 0;
}
