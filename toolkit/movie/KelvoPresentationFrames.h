// What the video presentations share about the frame they draw from: whether the display
// transform changes the frame's pixels.
#pragma once

#include "KelvoDrawingUtils.h"
#include "KelvoGraphicsDisplay.h"
#include "KelvoVideo.h"

// True when drawing through `t` adjusts the frame in place: gamma (not exactly 1.0; NaN counts as
// different) or colour discarding.
inline bool kelvoTransformAdjustsFrame(const Kelvo_DisplayTransform* t) {
    return t && ((!(t->Gamma() == 1.0) && t->GammaTable()) || t->discardColor());
}
