// What the video presentations share about the frame they draw from: whether the display
// transform changes the frame's pixels, and drawing through such a transform without keeping
// the change in a frame that is not redrawn from its source before the next draw.
#pragma once

#include "KelvoDrawingUtils.h"
#include "KelvoGraphicsDisplay.h"
#include "KelvoVideo.h"

#include <cstddef>
#include <cstring>
#include <vector>

// True when drawing through `t` adjusts the frame in place: gamma (not exactly 1.0; NaN counts as
// different) or colour discarding.
inline bool kelvoTransformAdjustsFrame(const Kelvo_DisplayTransform* t) {
    return t && ((!(t->Gamma() == 1.0) && t->GammaTable()) || t->discardColor());
}

// Runs `draw`, which adjusts `frame` in place and draws it, and then puts the frame's pixels back
// as they were when `t` adjusts them: a frame nobody draws anew would otherwise be adjusted again
// on every draw and drift further each time. `draw` answers whether the frame still exists (a
// receiver of its events may delete the presentation that owns it).
template <class Draw>
void kelvoDrawWithoutKeepingAdjustments(Kelvo_QDGWorldBuffer* frame, const Kelvo_DisplayTransform* t,
                                        Draw draw) {
    if (!frame || !frame->qtObjIsValid() || !kelvoTransformAdjustsFrame(t)) {
        draw();
        return;
    }
    // Read before drawing: the frame may be gone afterwards.
    const Ptr base = frame->baseAddress();
    const size_t size = size_t(frame->rowBytes()) * size_t(frame->height());
    std::vector<char> kept(base, base + size);
    if (draw()) std::memcpy(base, kept.data(), size);
}
