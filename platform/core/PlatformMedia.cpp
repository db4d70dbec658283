#include "PlatformMedia.h"

#include "PlatformErrors.h"

#include <new>

struct OpaqueMedia {
    QTAtomContainer inputMap = nullptr;
    ~OpaqueMedia() {
        if (inputMap) QTDisposeAtomContainer(inputMap);
    }
};

OSErr GetMediaInputMap(Media media, QTAtomContainer* inputMap) {
    if (!inputMap) return platform::setMoviesError(paramErr);
    *inputMap = nullptr;
    if (!media) return platform::setMoviesError(invalidMedia);
    if (!media->inputMap) return QTNewAtomContainer(inputMap);
    return QTCopyAtom(media->inputMap, 0, inputMap);
}

OSErr SetMediaInputMap(Media media, QTAtomContainer inputMap) {
    if (!media) return platform::setMoviesError(invalidMedia);
    QTAtomContainer copy = nullptr;
    if (inputMap) {
        if (OSErr err = QTCopyAtom(inputMap, 0, &copy)) return err;
    }
    if (media->inputMap) QTDisposeAtomContainer(media->inputMap);
    media->inputMap = copy;
    return platform::setMoviesError(noErr);
}

namespace platform {
Media newDetachedMedia() {
    return new (std::nothrow) OpaqueMedia();
}
void disposeMedia(Media media) {
    delete media;
}
} // namespace platform
