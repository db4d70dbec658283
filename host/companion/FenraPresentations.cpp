// FenraDataPresentation and FenraVideoPresentation: play, stop, step and seek a presentation, read
// its times and samples, start and stop its timer, and, for pictures, redraw, brightness and
// contrast, scaling and frame grabs.
//
// The presentation belongs to the plug-in that made it (a DICOM document's frames, a movie's
// pictures): its timer runs in that plug-in's main loop, so everything here goes through its
// virtual operations, and its class is told by name.
#include "FenraBase.h"
#include "KelvoCoreObjectsTypes.h"
#include "KelvoDataPresentation.h"
#include "KelvoImageBase.h"
#include "KelvoVideoCompression.h"
#include "KelvoVideoPresentation.h"

#include <cstdint>
#include <cstring>
#include <memory>

namespace {

constexpr const char* kData = "Kelvo_DataPresentation";
constexpr const char* kVideo = "Kelvo_VideoPresentation";

Kelvo_DataPresentation* data(REALobject self) {
    return FenraObjectAs<Kelvo_DataPresentation>(self, kData);
}

Kelvo_VideoPresentation* video(REALobject self) {
    return FenraObjectAs<Kelvo_VideoPresentation>(self, kVideo);
}

// The play statistics are fields of the presentation, read through a member pointer of a class
// that may name them.
struct StatisticsFields : Kelvo_DataPresentation {
    static double dataRate(Kelvo_DataPresentation* p) { return p->*(&StatisticsFields::_dataRate); }
    static double sampleRate(Kelvo_DataPresentation* p) { return p->*(&StatisticsFields::_sampleRate); }
    static bool enabled(Kelvo_DataPresentation* p) {
        return p->*(&StatisticsFields::_statisticsEnabled) != 0;
    }
};

// ---- FenraDataPresentation ----

// A program that plays expects the samples to move on. What steps them is the presentation's
// own timer in the main loop of the plug-in that made it, and a presentation's Play leaves that
// timer alone; so playing starts it when none runs yet. A presentation that is not playing after
// Play (one sample, or already at its end) gets none, and a timer the program started stays as
// it is.
void play(REALobject self, double rate) {
    auto* p = data(self);
    if (!p) return;
    p->Play(rate);
    if (!p->isPlaying() || p->idlingTimer()) return;
    // A flag left on by a timer that was stopped since is cleared first, so that the timer starts.
    if (p->autoIdlingEnabled()) p->autoIdlingEnabled(false);
    p->autoIdlingEnabled(true);
}
void stop(REALobject self) {
    if (auto* p = data(self)) p->Stop();
}
void playAction(REALobject self, RBInteger action) {
    if (auto* p = data(self)) p->PlayAction(action);
}
void playTime(REALobject self, RBInteger time) {
    if (auto* p = data(self)) p->PlayTime(time);
}
RBInteger timeOfKind(REALobject self, RBInteger kind) {
    auto* p = data(self);
    return p ? p->Time(kind) : 0;
}
RBInteger duration(REALobject self, RBInteger) {
    auto* p = data(self);
    return p ? p->Time(kKelvoTimeDuration) : 0;
}
RBInteger timeScale(REALobject self, RBInteger) {
    auto* p = data(self);
    return p ? p->Time(kKelvoTimeScale) : 0;
}
RBInteger currentTime(REALobject self, RBInteger) {
    auto* p = data(self);
    return p ? p->Time(kKelvoTimeCurrent) : 0;
}
void setCurrentTime(REALobject self, RBInteger, RBInteger value) {
    playTime(self, value);
}
RBInteger samplesCount(REALobject self, RBInteger) {
    auto* p = data(self);
    return p ? p->SamplesCount() : 0;
}
RBInteger sampleDuration(REALobject self, RBInteger) {
    auto* p = data(self);
    return p ? p->SampleDuration() : 0;
}
RBInteger sampleID(REALobject self, RBInteger) {
    auto* p = data(self);
    return p ? p->SampleID() : 0;
}
RBInteger sampleIDForTime(REALobject self, RBInteger time) {
    auto* p = data(self);
    return p ? p->SampleIDForTime(time) : 0;
}
RBBoolean isPlaying(REALobject self, RBInteger) {
    auto* p = data(self);
    return p && p->isPlaying() ? 1 : 0;
}
RBBoolean isDone(REALobject self, RBInteger) {
    auto* p = data(self);
    return p && p->isDone() ? 1 : 0;
}
RBBoolean getLoop(REALobject self, RBInteger) {
    auto* p = data(self);
    return p && p->loop() ? 1 : 0;
}
void setLoop(REALobject self, RBInteger, RBBoolean on) {
    if (auto* p = data(self)) p->loop(on != 0);
}
RBBoolean getPalindrome(REALobject self, RBInteger) {
    auto* p = data(self);
    return p && p->palindrome() ? 1 : 0;
}
void setPalindrome(REALobject self, RBInteger, RBBoolean on) {
    if (auto* p = data(self)) p->palindrome(on != 0);
}
RBBoolean getStatisticsEnabled(REALobject self, RBInteger) {
    auto* p = data(self);
    return p && StatisticsFields::enabled(p) ? 1 : 0;
}
void setStatisticsEnabled(REALobject self, RBInteger, RBBoolean on) {
    bool flag = on != 0;
    if (auto* p = data(self)) p->statisticsEnabled(flag);
}
double dataRate(REALobject self, RBInteger) {
    auto* p = data(self);
    return p ? StatisticsFields::dataRate(p) : 0.0;
}
double sampleRate(REALobject self, RBInteger) {
    auto* p = data(self);
    return p ? StatisticsFields::sampleRate(p) : 0.0;
}
RBBoolean getAutoIdling(REALobject self, RBInteger) {
    auto* p = data(self);
    return p && p->autoIdlingEnabled() ? 1 : 0;
}
void setAutoIdling(REALobject self, RBInteger, RBBoolean on) {
    if (auto* p = data(self)) p->autoIdlingEnabled(on != 0);
}
double getIdlingPeriod(REALobject self, RBInteger) {
    auto* p = data(self);
    return p ? p->idlingTimeInMilliSec() : 0.0;
}
void setIdlingPeriod(REALobject self, RBInteger, double milliseconds) {
    if (auto* p = data(self)) p->idlingTimeInMilliSec(milliseconds);
}
// The presentation's own timer, in the main loop of the plug-in that made it.
RBBoolean startIdling(REALobject self) {
    auto* p = data(self);
    return p && p->_startIdlingLoop() ? 1 : 0;
}
RBBoolean stopIdling(REALobject self) {
    auto* p = data(self);
    if (!p) return 0;
    // Without its timer the presentation no longer idles by itself, whoever started it.
    if (p->autoIdlingEnabled()) p->autoIdlingEnabled(false);
    return p->_stopIdlingLoop() ? 1 : 0;
}
void idle(REALobject self) {
    if (auto* p = data(self)) p->idle();
}
RBInteger lastError(REALobject self, RBInteger) {
    Kelvo_QTObj* o = FenraObjectOf(self);
    return o ? o->Error() : 0;
}
RBBoolean isValid(REALobject self, RBInteger) {
    Kelvo_QTObj* o = FenraObjectOf(self);
    return o && o->qtObjIsValid() ? 1 : 0;
}

// ---- FenraVideoPresentation ----

void update(REALobject self) {
    if (auto* p = video(self)) p->Update();
}
RBInteger getBrightness(REALobject self, RBInteger) {
    auto* p = video(self);
    return p ? p->brightness() : 0;
}
void setBrightness(REALobject self, RBInteger, RBInteger value) {
    if (auto* p = video(self)) p->brightness(value);
}
RBInteger getContrast(REALobject self, RBInteger) {
    auto* p = video(self);
    return p ? p->contrast() : 0;
}
void setContrast(REALobject self, RBInteger, RBInteger value) {
    if (auto* p = video(self)) p->contrast(value);
}
RBBoolean getAutoScale(REALobject self, RBInteger) {
    auto* p = video(self);
    return p && p->autoScale() ? 1 : 0;
}
void setAutoScale(REALobject self, RBInteger, RBBoolean on) {
    if (auto* p = video(self)) p->autoScale(on != 0);
}

// The host class of an image by its pixel format.
const char* imageClassFor(uint32_t pixelFormat) {
    switch (pixelFormat) {
    case Kelvo_Image::kMonochrome:
        return "FenraImageMono8Bit";
    case Kelvo_Image::kGrey:
        return "FenraImage8Bit";
    case Kelvo_Image::kGreyFloat:
        return "FenraImage8BitFloat";
    case Kelvo_Image::kGrey16:
        return "FenraImage16Bit";
    case Kelvo_Image::kRGB:
        return "FenraImageRGB";
    case Kelvo_Image::kARGB:
        return "FenraImageARGB";
    default:
        return "FenraImage";
    }
}

REALobject wrapImage(Kelvo_Image* image) {
    if (!image) return nullptr;
    if (!image->qtObjIsValid()) {
        delete image;
        return nullptr;
    }
    return FenraWrapNew(image, imageClassFor(image->pixelFormat()));
}

// The current frame as a new image of `pixelFormat` (a pixel-format code of the images), drawn
// at the frame's own size; with the effect, as brightness and contrast show it.
REALobject grabRawImage(REALobject self, RBInteger pixelFormat, RBBoolean withEffect) {
    auto* p = video(self);
    if (!p) return nullptr;
    Kelvo_OSType type{uint32_t(pixelFormat)};
    return wrapImage(withEffect ? p->grabRawImageAndEffect(nullptr, type) : p->grabRawImage(nullptr, type));
}
REALobject grabRawImageOnly(REALobject self, RBInteger pixelFormat) {
    return grabRawImage(self, pixelFormat, 0);
}
// The frame as it is shown, with brightness and contrast, as a 32-bit image of `width` x
// `height`. The effect draws into a destination of that size, whether or not the presentation is
// shown anywhere yet.
REALobject grabFrameSized(REALobject self, RBInteger width, RBInteger height) {
    auto* p = video(self);
    if (!p || width <= 0 || height <= 0 || width > INT16_MAX || height > INT16_MAX) return nullptr;
    Rect destination{0, 0, int16_t(height), int16_t(width)};
    Kelvo_DisplayTransform transform(nullptr, &destination);
    Kelvo_OSType type{Kelvo_Image::kARGB};
    return wrapImage(p->grabRawImageAndEffect(&transform, type));
}
// The same at the frame's own size.
REALobject grabFrame(REALobject self) {
    auto* p = video(self);
    if (!p) return nullptr;
    Kelvo_OSType type{Kelvo_Image::kARGB};
    std::unique_ptr<Kelvo_Image> raw(p->grabRawImage(nullptr, type));
    if (!raw || !raw->qtObjIsValid()) return nullptr;
    return grabFrameSized(self, RBInteger(raw->width()), RBInteger(raw->height()));
}

// Writes the frames of `range` (all without one) into a new movie file compressed as `desc`
// says. Errors are the presentation's status (lastError).
void presentationToMovie(REALobject self, REALobject destination, REALobject desc, REALobject range) {
    auto* p = video(self);
    if (!p) return;
    const std::string path = FenraFolderItemPath(destination);
    FSSpec spec{};
    FSSpec* file = nullptr;
    if (!path.empty() && path.size() < sizeof spec.path) {
        std::memcpy(spec.path, path.data(), path.size());
        file = &spec;
    }
    auto* compression = FenraObjectAs<Kelvo_ImgDescComp>(desc, "Kelvo_ImgDescComp");
    auto* timeRange = FenraObjectAs<Kelvo_TimeRange>(range, "Kelvo_TimeRange");
    p->presentationToMovie(file, compression, timeRange);
}

} // namespace

void FenraPresentationMembers(const char* className, FenraMembers& m) {
    const std::string_view name = className;
    if (name == "FenraDataPresentation") {
        m.method("play(rate as double = 1.0)", FenraProc(&play))
            .method("stop()", FenraProc(&stop))
            .method("playAction(action as integer)", FenraProc(&playAction))
            .method("playTime(time as integer)", FenraProc(&playTime))
            .method("time(kind as integer) as integer", FenraProc(&timeOfKind))
            .method("sampleIDForTime(time as integer) as integer", FenraProc(&sampleIDForTime))
            .method("startIdling() as boolean", FenraProc(&startIdling))
            .method("stopIdling() as boolean", FenraProc(&stopIdling))
            .method("idle()", FenraProc(&idle))
            .property("duration", "integer", FenraProc(&duration))
            .property("timeScale", "integer", FenraProc(&timeScale))
            .property("currentTime", "integer", FenraProc(&currentTime), FenraProc(&setCurrentTime))
            .property("samplesCount", "integer", FenraProc(&samplesCount))
            .property("sampleDuration", "integer", FenraProc(&sampleDuration))
            .property("sampleID", "integer", FenraProc(&sampleID))
            .property("isPlaying", "boolean", FenraProc(&isPlaying))
            .property("isDone", "boolean", FenraProc(&isDone))
            .property("loop", "boolean", FenraProc(&getLoop), FenraProc(&setLoop))
            .property("palindrome", "boolean", FenraProc(&getPalindrome), FenraProc(&setPalindrome))
            .property("statisticsEnabled", "boolean", FenraProc(&getStatisticsEnabled),
                      FenraProc(&setStatisticsEnabled))
            .property("dataRate", "double", FenraProc(&dataRate))
            .property("sampleRate", "double", FenraProc(&sampleRate))
            .property("autoIdling", "boolean", FenraProc(&getAutoIdling), FenraProc(&setAutoIdling))
            .property("idlingPeriod", "double", FenraProc(&getIdlingPeriod), FenraProc(&setIdlingPeriod))
            .property("lastError", "integer", FenraProc(&lastError))
            .property("isValid", "boolean", FenraProc(&isValid))
            .constant("kTimeDuration = 0")
            .constant("kTimeScale = 1")
            .constant("kTimeCurrent = 2")
            .constant("kActionStart = 1")
            .constant("kActionEnd = 2")
            .constant("kActionBack = 3")
            .constant("kActionForward = 4");
    } else if (name == "FenraVideoPresentation") {
        m.method("update()", FenraProc(&update))
            .method("grabRawImage(pixelFormat as integer) as FenraImage", FenraProc(&grabRawImageOnly))
            .method("grabRawImage(pixelFormat as integer, withEffect as boolean) as FenraImage",
                    FenraProc(&grabRawImage))
            .method("grabFrame() as FenraImage", FenraProc(&grabFrame))
            .method("grabFrame(width as integer, height as integer) as FenraImage",
                    FenraProc(&grabFrameSized))
            .method("presentationToMovie(destination as folderitem, desc as FenraImageDescComp, range as "
                    "FenraTimeRange)",
                    FenraProc(&presentationToMovie))
            .property("brightness", "integer", FenraProc(&getBrightness), FenraProc(&setBrightness))
            .property("contrast", "integer", FenraProc(&getContrast), FenraProc(&setContrast))
            .property("autoScale", "boolean", FenraProc(&getAutoScale), FenraProc(&setAutoScale));
    }
}
