#include "KelvoGraphicsSources.h"

#include "PlatformMoviePlayback.h"
#include "PlatformMovies.h"

namespace kelvo_graphics {

SourceKind kindOf(const Kelvo_QTObj& object) {
    if (object.isA("Kelvo_Movie")) return SourceKind::Movie;
    if (object.isA("Kelvo_Track")) return SourceKind::Track;
    if (object.isA("Kelvo_Media")) return SourceKind::Media;
    return SourceKind::None;
}

bool movieHasVideo(Movie movie) {
    return movie &&
           GetMovieIndTrackType(movie, 1, VisualMediaCharacteristic, movieTrackCharacteristic) != nullptr;
}

bool mediaHasVideo(Media media) {
    if (!media) return false;
    MediaHandler handler = GetMediaHandler(media);
    if (!handler) return false;
    Boolean has = false;
    return MediaHasCharacteristic(handler, VisualMediaCharacteristic, &has) == noErr && has;
}

bool trackHasVideo(Track track) {
    return track && mediaHasVideo(GetTrackMedia(track));
}

bool mediaDrawingMode(Media media, int32_t& mode, RGBColor& color) {
    if (!mediaHasVideo(media)) return false;
    int32_t m = 0;
    RGBColor c{0, 0, 0};
    MediaGetGraphicsMode(GetMediaHandler(media), &m, &c);
    mode = m;
    color = c;
    return true;
}

} // namespace kelvo_graphics
