// The host classes of the pixel-data chunk tables, the image icon and the video presentation.
// Registered with their superclasses; their members are not declared yet.
#include "RBQTCommon.h"

REALClassRecord FenraDicomDataChunksClass = FenraMakeClassRecord("FenraDicomDataChunks", "FenraObject", 0);
REALClassRecord FenraDicomPixelDataClass =
    FenraMakeClassRecord("FenraDicomPixelData", "FenraDicomDataChunks", 0);
REALClassRecord FenraDicomIconClass = FenraMakeClassRecord("FenraDicomIcon", "FenraObject", 0);
// Plays frames in a window: never console-safe.
REALClassRecord FenraDicomVideoPresentationClass =
    FenraMakeClassRecord("FenraDicomVideoPresentation", "FenraVideoPresentation", 0);
