#include "PlatformDescriptions.h"

#include <cstring>

OSErr QDGetPictureBounds(PicHandle picture, Rect* bounds) {
    if (!bounds) return paramErr;
    std::memset(bounds, 0, sizeof *bounds);
    Handle h = reinterpret_cast<Handle>(picture);
    if (!h || !*h || GetHandleSize(h) < Size(sizeof(Picture))) return paramErr;
    Picture head;
    std::memcpy(&head, *h, sizeof head);
    *bounds = head.picFrame;
    return noErr;
}
