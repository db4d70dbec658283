// Untrusted files through the display path, as the host drives it. The input is written to a
// scratch file and opened as a document; the presentation of its pixel data and that of each of
// its icons then show every frame in turn, answer raw values and statistics at the frame's edges
// and beyond, grab each frame in every format (directly, through a transform and as drawn), play
// under the main loop with statistics on, and take a new window. Everything a presentation does
// is bounded by what the file holds: frames are its chunks, and a frame's size is what its data
// can fill, so nothing is skipped for being large.
//
// A display that cannot be made answers a status; once the presentations are gone, no timer of
// theirs is left installed.
#include "FuzzScratch.h"
#include "KelvoCoreObjectsTypes.h"
#include "KelvoDicomDataTree.h"
#include "KelvoDicomVideoPresentation.h"
#include "KelvoGraphicsDisplay.h"
#include "KelvoImage.h"
#include "KelvoImageDescriptors.h"
#include "PlatformClock.h"
#include "PlatformTimers.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

namespace {

constexpr uint16_t kColumns = 0x0011;
constexpr uint16_t kRows = 0x0010;

struct Scratch {
    FuzzScratch dir{"display-fuzz"};
    std::string input = dir.file("in.dcm");
};

Scratch& scratch() {
    static Scratch s;
    return s;
}

// Raw values and statistics of the frame shown: its corners, its middle, points just outside,
// the whole frame, a rect its edges clip and one wholly outside it.
void probeValues(KelvoDicomVideoPresentation& p, int32_t columns, int32_t rows) {
    const int32_t points[][2] = {{0, 0},
                                 {columns - 1, rows - 1},
                                 {columns / 2, rows / 2},
                                 {columns - 1, 0},
                                 {0, rows - 1},
                                 {columns, rows},
                                 {-1, 0},
                                 {0, -1},
                                 {columns, 0}};
    for (const auto& xy : points) {
        Kelvo_Point at(xy[0], xy[1]);
        p.rawValueAtPoint(at);
    }
    const Kelvo_Rect rects[] = {
        Kelvo_Rect(columns, rows),
        Kelvo_Rect(Rect{int16_t(rows / 3), int16_t(columns / 3), int16_t(rows + 5), int16_t(columns + 5)}),
        Kelvo_Rect(Rect{-4, -4, int16_t(rows / 2 + 1), int16_t(columns / 2 + 1)}),
        Kelvo_Rect(Rect{int16_t(rows + 1), int16_t(columns + 1), int16_t(rows + 9), int16_t(columns + 9)}),
    };
    for (const Kelvo_Rect& r : rects) {
        std::unique_ptr<Kelvo_ImageInfo> info(p.rawValuesStatistics(const_cast<Kelvo_Rect&>(r)));
    }
}

// The frame shown grabbed in every format a host asks for, through a transform that halves it,
// and as drawn.
void grabAll(KelvoDicomVideoPresentation& p, int32_t columns, int32_t rows) {
    for (uint32_t type :
         {24u, 32u, 40u, uint32_t(FOUR_CHAR_CODE("16GR")), uint32_t(FOUR_CHAR_CODE("FLOA")), 8u}) {
        Kelvo_OSType pixelType(type);
        std::unique_ptr<Kelvo_Image> image(p.grabRawImage(nullptr, pixelType));
    }
    Kelvo_DisplayTransform half(Kelvo_Rect(columns, rows), Kelvo_Rect(columns / 2 + 1, rows / 2 + 1));
    Kelvo_OSType argb(32);
    std::unique_ptr<Kelvo_Image> image(p.grabRawImage(&half, argb));
    std::unique_ptr<Kelvo_QDGWorldBuffer> frame(p.grabFrame(nullptr));
}

void exercise(KelvoDicomVideoPresentation& p, platform::ManualClock& clock) {
    KelvoDicomDataImagePixel* desc = p.imagePixelDesc();
    if (!desc) return;
    const int32_t columns = desc->getUSValueProperty(kColumns);
    const int32_t rows = desc->getUSValueProperty(kRows);
    const int32_t frames = p.SamplesCount();
    const int32_t duration = p.SampleDuration();

    // The frame the presentation starts on, then every frame from the last back to the first.
    probeValues(p, columns, rows);
    grabAll(p, columns, rows);
    for (int32_t k = frames - 1; k >= 0; --k) {
        p.PlayTime(k * duration);
        probeValues(p, columns, rows);
        grabAll(p, columns, rows);
    }

    // The host's controls, then playing under the main loop until the end (or a few ticks past
    // it), forward, looping and in palindrome mode.
    const int32_t actions[] = {kKelvoPlayActionEnd,   kKelvoPlayActionBack, kKelvoPlayActionForward,
                               kKelvoPlayActionStart, kKelvoPlayActionBack, 99};
    for (int32_t action : actions)
        p.PlayAction(action);
    bool on = true;
    p.statisticsEnabled(on);
    if (p.autoIdlingEnabled(true)) {
        for (int pass = 0; pass < 2; ++pass) {
            p.loop(pass == 1);
            p.palindrome(pass == 1);
            p.PlayTime(0);
            p.Play(1.0);
            for (int32_t tick = 0; tick < frames + 3 && (pass == 1 || p.isPlaying()); ++tick) {
                platform::runOnce();
                clock.advanceMilliseconds(40);
            }
            p.Stop();
        }
        p.autoIdlingEnabled(false);
    }
    on = false;
    p.statisticsEnabled(on);

    // A narrow window and one of no width over the frame shown.
    const Kelvo_NumericalRange narrow(100.0, 1.0), flat(-5.0, 0.0);
    p.windowLevels(&narrow);
    probeValues(p, columns, rows);
    p.windowLevels(&flat);
    grabAll(p, columns, rows);
    p.refreshBuffer();
    p.Update();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    Scratch& s = scratch();
    if (!FuzzScratch::write(s.input, data, size)) return 0;

    platform::ManualClock clock{5'000'000'000};
    platform::ScopedSystemClock scope{clock};
    {
        std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(s.input.c_str()));
        if (!tree || tree->readError() != 0) return 0;
        if (tree->isA("KelvoDicomDocument")) {
            std::unique_ptr<KelvoDicomVideoPresentation> p(
                static_cast<KelvoDicomDocument*>(tree.get())->dataDisplay());
            // No display is never a success.
            if (!p && tree->Error() == 0) std::abort();
            if (p) exercise(*p, clock);
        }
        const int32_t icons = tree->thumbnailsCount();
        for (int32_t i = 0; i < icons; ++i) {
            std::unique_ptr<KelvoDicomVideoPresentation> p(tree->thumbnailDisplay(i));
            if (!p && tree->Error() == 0) std::abort();
            if (p) exercise(*p, clock);
        }
    }
    // Presentations leave no timer behind them.
    if (platform::installedTimerCount() != 0) std::abort();
    return 0;
}
