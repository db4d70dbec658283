// The picture routes of the build for the host's Carbon runtime: pictures made with the host's
// three-argument constructor, read from their description (QuickDraw or bitmap context), and
// built from worlds by the host first. Installed into the shared conversions when the build loads.
#pragma once

#include "RBPluginGraphics.h"

namespace tarnwick {

// A new host "Picture" through "Constructor(w as Integer,h as integer,depth as integer)" for every
// depth; nil when the host has no such class or constructor, or refuses the size.
REALobject RBPictureCreate(int32_t width, int32_t height, int32_t depth);
// A new image of the picture's pixels: a QuickDraw picture (type 4) through a bitmap context of a
// world over them, a context picture (type 8) from a bitmap context over them; null otherwise.
CGImageRef RBPictureToCGImage(REALobject picture);
// The host's REALBuildPictureFromGWorld first, the image of the world's context when that gives
// nothing; the world is disposed afterwards when asked.
REALobject RBPictureFromGWorld(GWorldPtr gworld, bool dispose);

// Whether the routes are installed (they are from the loading of the build on).
bool pictureRoutesInstalled();

} // namespace tarnwick
