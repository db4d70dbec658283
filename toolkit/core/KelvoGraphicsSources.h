// How the graphics values reach the movies, tracks and media they are read from. Those objects
// come either as platform references or as their toolkit wrappers, recognised by class name
// ("Kelvo_Movie", "Kelvo_Track", "Kelvo_Media"), whose qtObjReference() is the platform
// reference. The helpers answer what the wrappers would: whether the object shows video, and the
// track behind a media.
#pragma once

#include "KelvoCoreObjects.h"
#include "PlatformPendingDisplayCalls.h"

namespace kelvo_graphics {

enum class SourceKind { None, Movie, Track, Media };

// The kind of a toolkit object by its class name, first match wins.
SourceKind kindOf(const Kelvo_QTObj& object);

// A movie shows video when it has a track with the visual characteristic.
bool movieHasVideo(Movie movie);
// A media shows video when its handler has the visual characteristic.
bool mediaHasVideo(Media media);
// A track shows video when its media does.
bool trackHasVideo(Track track);

// The graphics mode of a media that shows video; false (and nothing written) otherwise.
bool mediaDrawingMode(Media media, int32_t& mode, RGBColor& color);

} // namespace kelvo_graphics
