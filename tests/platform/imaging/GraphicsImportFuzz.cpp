// Feeds bytes to every graphics importer as a handle: bounds, description and drawing into a
// small world must give a status, never a crash, a hang or a leak.
#include "PlatformComponents.h"
#include "PlatformGWorlds.h"
#include "PlatformGraphicsImport.h"
#include "PlatformImageDescriptions.h"
#include "PlatformMemory.h"
#include "PlatformPendingCalls.h"

#include <cstddef>
#include <cstdint>

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
            }
        }
        CloseComponent(importer);
    }
    if (world) DisposeGWorld(world);
    DisposeHandle(h);
    return 0;
}
