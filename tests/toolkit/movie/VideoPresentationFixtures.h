// What the video, still-image and buffer presentation tests share: frames painted into 32-bit
// worlds, the pixels read back, the brightness and contrast formula, a recorder of presentation
// events and the key events of full screen.
#pragma once

#include "KelvoDataPresentation.h"
#include "KelvoVideo.h"
#include "PlatformEvents.h"
#include "PlatformWindows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace vpfixtures {

constexpr int kW = 32;
constexpr int kH = 16;

// Byte c (0 A, 1 R, 2 G, 3 B) of pixel (x, y) of frame k: smooth gradients that move with the
// frame, without wrapping round for the first ten frames (a lossy codec keeps them close).
inline uint8_t frameByte(int k, int x, int y, int c) {
    switch (c) {
    case 0:
        return 255;
    case 1:
        return uint8_t(x * 4 + k * 8);
    case 2:
        return uint8_t(y * 8 + k * 5);
    default:
        return uint8_t(200 - k * 15);
    }
}

inline void paintFrame(GWorldPtr world, int k) {
    PixMapHandle map = GetGWorldPixMap(world);
    auto* base = reinterpret_cast<uint8_t*>(GetPixBaseAddr(map));
    const int32_t rowBytes = GetPixRowBytes(map);
    Rect bounds{};
    GetPortBounds(world, &bounds);
    for (int y = 0; y < bounds.bottom - bounds.top; ++y)
        for (int x = 0; x < bounds.right - bounds.left; ++x)
            for (int c = 0; c < 4; ++c)
                base[size_t(y) * size_t(rowBytes) + size_t(x) * 4 + size_t(c)] = frameByte(k, x, y, c);
}

// The A, R, G, B bytes of `r` in the world, row after row.
inline std::vector<uint8_t> pixelsOf(GWorldPtr world, const Rect& r) {
    std::vector<uint8_t> out;
    PixMapHandle map = GetGWorldPixMap(world);
    if (!map) return out;
    const auto* base = reinterpret_cast<const uint8_t*>(GetPixBaseAddr(map));
    const int32_t rowBytes = GetPixRowBytes(map);
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x)
            for (int c = 0; c < 4; ++c)
                out.push_back(base[size_t(y) * size_t(rowBytes) + size_t(x) * 4 + size_t(c)]);
    return out;
}

inline std::vector<uint8_t> pixelsOf(GWorldPtr world) {
    Rect bounds{};
    GetPortBounds(world, &bounds);
    return pixelsOf(world, bounds);
}

// The brightness and contrast effect on one sample: contrast scales about the middle grey,
// brightness adds 2.55 per step, both from -100 to 100.
inline uint8_t brco(uint8_t v, int brightness, int contrast) {
    brightness = std::clamp(brightness, -100, 100);
    contrast = std::clamp(contrast, -100, 100);
    const double out =
        (double(v) - 127.5) * double(100 + contrast) / 100.0 + 127.5 + double(brightness) * 2.55;
    return uint8_t(std::clamp(std::lround(out), 0L, 255L));
}

// Frame k of kW x kH as the effect draws it: alpha kept, colour through the formula.
inline std::vector<uint8_t> effectFrame(int k, int brightness, int contrast) {
    std::vector<uint8_t> out;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            for (int c = 0; c < 4; ++c) {
                const uint8_t v = frameByte(k, x, y, c);
                out.push_back(c == 0 ? v : brco(v, brightness, contrast));
            }
    return out;
}

// R, G, B bytes of A, R, G, B pixels.
inline std::string rgbOf(const std::vector<uint8_t>& argb) {
    std::string rgb;
    for (size_t i = 0; i + 3 < argb.size(); i += 4)
        rgb.append(reinterpret_cast<const char*>(&argb[i + 1]), 3);
    return rgb;
}

struct Event {
    uint32_t code;
    int32_t parameter;
    std::string key;      // the key name of 'FKDN'
    double progress = -1; // the progress of 'MPRG'
};

inline std::string codeText(uint32_t code) {
    return {char(code >> 24), char(code >> 16), char(code >> 8), char(code)};
}

// Records every event; runs `action` (when set) after recording one.
struct Recorder {
    std::vector<Event> events;
    std::function<void(uint32_t)> action;

    static void callback(uint32_t code, void* data, int32_t parameter, void* reference) {
        auto* self = static_cast<Recorder*>(reference);
        Event e{code, parameter, {}, -1};
        if (code == kKelvoPresentationFullScreenKeyDown && data) e.key = static_cast<const char*>(data);
        if (code == kKelvoPresentationMovieProgress && data) e.progress = *static_cast<double*>(data);
        self->events.push_back(e);
        if (self->action) self->action(code);
    }
    void attach(Kelvo_DataPresentation& p) { p.eventsHandler().setEventsHandler(&Recorder::callback, this); }
    std::vector<std::string> codes() const {
        std::vector<std::string> out;
        for (const Event& e : events)
            out.push_back(codeText(e.code));
        return out;
    }
    int count(uint32_t code) const {
        return int(
            std::count_if(events.begin(), events.end(), [&](const Event& e) { return e.code == code; }));
    }
};

// A raw key down (or a mouse down when `mouse`) for the window.
inline EventRef newInputEvent(WindowRef window, uint32_t keyCode, bool mouse = false, uint32_t kind = 1) {
    EventRef e = nullptr;
    CreateEvent(nullptr, mouse ? kEventClassMouse : kEventClassKeyboard, kind, 0, kEventAttributeNone, &e);
    if (!mouse) SetEventParameter(e, kEventParamKeyCode, typeUInt32, sizeof keyCode, &keyCode);
    SetEventParameter(e, kEventParamWindowRef, typeWindowRef, sizeof window, &window);
    return e;
}

// Posts the event to the main queue, where the main-loop pump delivers it.
inline void postInput(WindowRef window, uint32_t keyCode, bool mouse = false) {
    EventRef e = newInputEvent(window, keyCode, mouse);
    PostEventToQueue(GetMainEventQueue(), e, kEventPriorityStandard);
    ReleaseEvent(e);
}

// Sends the event to the window at once and answers what its handlers answered.
inline OSStatus sendInput(WindowRef window, uint32_t keyCode, bool mouse = false, uint32_t kind = 1) {
    EventRef e = newInputEvent(window, keyCode, mouse, kind);
    const OSStatus result = SendEventToEventTarget(e, GetWindowEventTarget(window));
    ReleaseEvent(e);
    return result;
}

} // namespace vpfixtures
