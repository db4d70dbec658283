// Conversions between host pictures, movies, movie players, windows and controls and the
// platform's and toolkit's graphics values. A host picture's pixels are plain memory the host owns
// (REALGraphicsSurface); every platform object made here over them belongs to this plug-in's copy
// of the platform. Failures give null, nil, false or the codes given; nothing is raised in the
// host.
#pragma once

#include "PlatformCoreGraphics.h"
#include "PlatformGWorlds.h"
#include "PlatformObjects.h"
#include "PlatformTypes.h"
#include "REALplugin.h"

#include <cstdint>

class Kelvo_QDGWorldBuffer;

// Pictures and graphics.

// A new host "Picture" of the size: the two-argument constructor for depth 32, the three-argument
// one for other depths. Nil when the host has no such class or constructor, or refuses the size.
REALobject RBPictureCreate(int32_t width, int32_t height, int32_t depth);
// The picture graphics' "Handle(5)": the host's number for its drawing surface (0 for nil).
RBInteger RBPictureGraphicsHandle(REALobject picture);
// A new bitmap context over the picture's own pixels: what is drawn into it is in the picture.
// The caller releases it, and keeps the picture alive while using it. Null for nil.
CGContextRef RBPictureToCGContext(REALobject picture);
// A new image of a copy of the picture's pixels (the caller releases it); null for nil.
CGImageRef RBPictureToCGImage(REALobject picture);
// A new host picture of a copy of the context's pixels; nil for a context that cannot be read.
REALobject CGContextToRBPicture(CGContextRef context);
// A new host picture of the image's size and bits per pixel with the image drawn into it.
REALobject CGImageToRBPicture(CGImageRef image);
// A new host picture of the world's pixels; the world is disposed when `dispose` is set (also
// when nothing could be made of it).
REALobject RBPictureFromGWorld(GWorldPtr gworld, bool dispose);
// The picture's width and height (0 and 0 for nil).
void RBUtils_GetPictDimensions(REALobject picture, int32_t& width, int32_t& height);
// Draws the picture, scaled, into the world's rectangle; with `pict`, what is drawn is recorded
// into a new QuickDraw picture put there (the caller kills it). The current port is restored.
// -50 for nil, an unknown world or an empty rectangle.
OSErr RBUtils_DrawRBPicture(REALobject picture, GWorldPtr gworld, const Rect* rect, PicHandle* pict);
// The picture scaled onto the whole world. -50 for nil or a world with an empty rectangle.
OSErr RBQTUtils_DrawPictInGWorld1(REALobject picture, GWorldPtr gworld);
// A new 32-bit world (pixels locked) of the picture's size, or of `rect` when it is given, into
// which the picture will be drawn scaled; `bounds` (when given) receives the world's rectangle.
// -50 for nil or an empty rectangle; a locking failure gives the QuickDraw error, without world.
OSErr RBUtils_NewGWorldForRBPicture(REALobject picture, GWorldPtr* gworld, const Rect* rect, Rect* bounds);
// Such a world with the picture drawn into it (the caller disposes it).
OSErr RBQTUtils_DrawPictInGWorld(REALobject picture, GWorldPtr* gworld, const Rect* rect);
// The picture recorded into a new QuickDraw picture through such a world, which is then disposed;
// -108 when no picture was made.
OSErr RBQTUtils_DrawPicHandle(REALobject picture, PicHandle* pict, const Rect* rect);
// A new 32-bit buffer of `size`'s dimensions (the picture's without one) with the picture drawn
// into it; on any failure no buffer is left (null) and the status is returned.
OSErr RBQTUtils_RBPicToQDContext(REALobject picture, Kelvo_QDGWorldBuffer*& buffer, const Rect* size);
// The QuickDraw picture drawn through a display transform onto `rect` (its own frame without
// one) as a new host picture; nil for a null or empty picture.
REALobject RBQTUtils_RBPicFromQTPicture(PicHandle pict, const Rect* rect);

// The build for the host's Carbon runtime makes, reads and builds pictures through the host's
// own calls; it installs its three routes here when it loads. Every route left null is this
// build's own.
struct RBPictureRoutes {
    REALobject (*create)(int32_t width, int32_t height, int32_t depth);
    CGImageRef (*toCGImage)(REALobject picture);
    REALobject (*fromGWorld)(GWorldPtr gworld, bool dispose);
};
void RBInstallPictureRoutes(const RBPictureRoutes& routes);

// Movies, windows and controls.

// The platform controller of a host movie player ("QTMovieController"); null for nil or none.
MovieController FenraRBMoviePlayerToMovieController(REALobject player);
// A new host "MoviePlayer" holding the controller; nil for a null controller.
REALobject FenraMovieControllerToRBMoviePlayer(MovieController controller);
// The platform movie of a host movie ("Handle"); null for nil or none.
Movie FenraRBMovieToMovie(REALobject movie);
// A new host "Movie" of the platform movie, which stays the caller's; nil for a null movie.
REALobject FenraMovieToRBMovie(Movie movie);
// The drawing surface of a host window ("Handle"); null for nil.
REALGraphicsSurface* RBWindowToNativeWindow(REALobject window);
// The control's "left", "top", "width" and "height" as a rectangle (zeroed first; left as zero
// for nil and for edges beyond the signed 16-bit range).
void FenraRBControlBounds(REALobject control, Rect* rect);
