// FenraMovie: a movie file opened for reading, with its duration, time scale and whether it has
// pictures.
#include "FenraBase.h"
#include "KelvoModuleOrigin.h"
#include "KelvoMovie.h"
#include "PlatformMovies.h"

#include <string_view>

namespace {

Kelvo_Movie* movie(REALobject self) {
    auto* m = FenraObjectAs<Kelvo_Movie>(self, "Kelvo_Movie");
    return m && m->qtObjIsValid() ? m : nullptr;
}

// Opens the movie file the folder item names. The instance is not valid when the item has no
// path or the file is not a movie (lastError then tells the platform's reason).
// An empty movie object, to be given a movie by the program that made it.
void movieEmptyCtr(REALobject) {}

void movieCtr(REALobject self, REALobject file) {
    const std::string path = FenraFolderItemPath(file);
    // Without a file there is nothing to open (an empty movie would read as a valid one).
    if (path.empty()) return;
    FenraSetObject(self, new Kelvo_Movie(path.c_str()));
}

RBInteger duration(REALobject self, RBInteger) {
    auto* m = movie(self);
    return m ? m->duration() : 0;
}
RBInteger timeScale(REALobject self, RBInteger) {
    auto* m = movie(self);
    return m ? m->timeScale() : 0;
}
// Whether a track of the movie holds video. A movie the companion opened is one this plug-in's
// platform knows; a movie another plug-in hands out (a converter's copy) is asked through its own
// code, which answers for its visual tracks.
RBBoolean hasVideo(REALobject self, RBInteger) {
    auto* m = movie(self);
    if (!m) return 0;
    if (!KelvoMadeInThisModule(m)) return m->qtHasVideo() ? 1 : 0;
    return GetMovieIndTrackType(static_cast<Movie>(m->qtObjReference()), 1, VideoMediaType,
                                movieTrackMediaType)
               ? 1
               : 0;
}
RBInteger lastError(REALobject self, RBInteger) {
    Kelvo_QTObj* o = FenraObjectOf(self, "Kelvo_Movie");
    return o ? o->Error() : 0;
}
RBBoolean isValid(REALobject self, RBInteger) {
    return movie(self) ? 1 : 0;
}

} // namespace

void FenraMovieMembers(const char* className, FenraMembers& m) {
    if (std::string_view(className) != "FenraMovie") return;
    m.method("Constructor()", FenraProc(&movieEmptyCtr))
        .method("Constructor(f as folderitem)", FenraProc(&movieCtr))
        .property("duration", "integer", FenraProc(&duration))
        .property("timeScale", "integer", FenraProc(&timeScale))
        .property("hasVideo", "boolean", FenraProc(&hasVideo))
        .property("lastError", "integer", FenraProc(&lastError))
        .property("isValid", "boolean", FenraProc(&isValid));
}
