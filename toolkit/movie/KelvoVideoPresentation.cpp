#include "KelvoVideoPresentation.h"

#include "KelvoCoreObjectsTypes.h"
#include "KelvoCoreVideoDataDescriptors.h"
#include "KelvoDrawingUtils.h"
#include "KelvoImageBase.h"
#include "KelvoMovie.h"
#include "KelvoPresentationFrames.h"
#include "KelvoTrackProviders.h"
#include "KelvoVideo.h"
#include "KelvoVideoCompression.h"
#include "KelvoVideoDecompression.h"
#include "PlatformDecompressionSessions.h"
#include "PlatformEndian.h"
#include "PlatformGWorlds.h"
#include "PlatformWindows.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <new>

namespace {

// The window class whose group the full-screen window joins (document windows).
constexpr WindowClass kFullScreenWindowGroupClass = kDocumentWindowClass;

// The frame rectangle of a buffer: its size at the origin.
Kelvo_Rect frameRectOf(const Kelvo_QDGWorldBuffer* buffer) {
    return buffer ? Kelvo_Rect(buffer->width(), buffer->height()) : Kelvo_Rect();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Life

Kelvo_VideoPresentation::Kelvo_VideoPresentation() : _alive(std::make_shared<bool>(true)) {}

Kelvo_VideoPresentation::~Kelvo_VideoPresentation() {
    // Code of this presentation still under way (an event receiver deletes it) must stop.
    if (_alive) *_alive = false;
    // Full screen ends quietly: the subclass is gone, so nothing is drawn, played or announced
    // any more; what matters is that no window, handler or screen state is left behind.
    if (_fullScreen) {
        _fullScreenHandler = nullptr;
        if (_effectSession) _effectSession->endSession();
        delete _displayBuffer;
        _displayBuffer = nullptr;
        EndFullScreen(_fullScreen->restoreState, 0);
        delete _fullScreen;
        _fullScreen = nullptr;
    }
    disposeEffectDescription();
    delete _effectSession;
    _effectSession = nullptr;
    delete _dataSourceBuffer;
    _dataSourceBuffer = nullptr;
    delete _displayBuffer;
    _displayBuffer = nullptr;
    delete _displayTransform;
    _displayTransform = nullptr;
}

bool Kelvo_VideoPresentation::qtObjIsValid() {
    return _dataSource && _dataSourceBuffer && _displayTransform;
}

bool Kelvo_VideoPresentation::qtObjIsValid() const {
    return _dataSource && _dataSourceBuffer && _displayTransform;
}

bool Kelvo_VideoPresentation::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_DataPresentation::isA(name) || std::strcmp(name, "Kelvo_VideoPresentation") == 0;
}

// ---------------------------------------------------------------------------------------------
// Display

void Kelvo_VideoPresentation::updateParams(Kelvo_DisplayTransform* t) {
    _status = noErr;
    if (!_displayTransform) {
        _status = memFullErr;
        return;
    }
    if (!t) {
        _status = paramErr;
        return;
    }
    if (t != _displayTransform) _displayTransform->Copy(*t);
    // The source stays inside the frame; the destination is where the display draws.
    Kelvo_Rect frame = frameRectOf(_dataSourceBuffer);
    Kelvo_Rect& source = _displayTransform->qtSrcRect();
    if (!source.qtObjIsValid() || !source.isInRect(frame, false)) _displayTransform->SrcRect(frame.rPtr());
    _displayTransform->DstRect(_displayRect.rPtr());
    if (!_displayTransform->Clip()) _displayTransform->ClipToDestRect();
    _status = _displayTransform->Error();
}

void Kelvo_VideoPresentation::displaySetUp(GrafPtr port, Kelvo_Rect* rect) {
    if (!qtObjIsValid()) return;
    // The effect must not draw into the destination that goes now, even when no new one comes.
    if (_effectSession && _effectSession->isActive()) _effectSession->endSession();
    delete _displayBuffer;
    _displayBuffer = nullptr;
    const Kelvo_Rect frame = frameRectOf(_dataSourceBuffer);
    if (rect && rect->qtObjIsValid())
        _displayRect = *rect;
    else if (port)
        _displayRect = Kelvo_Rect(port);
    else
        _displayRect = frame;
    if (_autoScale) {
        Rect fitted{0, 0, 0, 0};
        Kelvo_RectScaleInRect(_displayRect.rPtr(), frame.rPtr(), &fitted);
        _displayRect = fitted;
    }
    Kelvo_QDGWorldBuffer* buffer = nullptr;
    if (port) {
        buffer = new (std::nothrow) Kelvo_QDGWorldBuffer(port, false);
    } else {
        // An own world holds exactly the picture: the display rect is put at its origin, where a
        // rect placed elsewhere would draw partly outside the world.
        _displayRect.move(0, 0, true);
        buffer = new (std::nothrow)
            Kelvo_QDGWorldBuffer(_displayRect.width(), _displayRect.height(), k32ARGBPixelFormat);
    }
    if (!buffer) {
        _status = memFullErr;
        return;
    }
    if (!buffer->qtObjIsValid()) {
        _status = buffer->Error() != 0 ? buffer->Error() : int32_t(paramErr);
        delete buffer;
        return;
    }
    _displayBuffer = buffer;
    _displayTransform->DstRect(_displayRect.rPtr());
    _displayTransform->ClipToDestRect();
    if (!_effectSession) return;
    _effectSources[0] = _dataSourceBuffer->buffer();
    _effectSession->sources() = KelvoEffectSources{_effectSources, 1};
    _effectSession->displayTransformations(_displayTransform);
    if (!_effectSession->beginSession(_displayBuffer)) {
        // Nothing is drawn through the effect until initDataPlayer makes it again.
        _status = _effectSession->Error() != 0 ? _effectSession->Error() : int32_t(paramErr);
        delete _effectSession;
        _effectSession = nullptr;
        return;
    }
    _status = noErr;
    idle();
}

void Kelvo_VideoPresentation::setUpDataPlayer(Kelvo_ImgDesc& desc) {
    if (!desc.qtObjIsValid()) {
        _status = desc.Error();
        return;
    }
    if (!_effectSession) {
        _effectSession = new (std::nothrow) Kelvo_ISEffectDecompressionSession();
        if (!_effectSession) {
            _status = memFullErr;
            return;
        }
        int32_t error = 0;
        if (!Kelvo_QTObj::isValidInstance(_effectSession, error, true)) {
            _status = error;
            return;
        }
    }
    if (!_effectDescription || !_effectData || !_dataSourceBuffer) {
        _status = kKelvoNothingToWorkOn;
        return;
    }
    _status = noErr;
    _effectSession->sessionParameters(&desc);
    compressionInputRecord input{};
    input.kind = 1;
    input.handle = _effectData;
    _effectSession->inputStorage(&input);
    _effectSources[0] = _dataSourceBuffer->buffer();
    _effectSession->sources() = KelvoEffectSources{_effectSources, 1};
    _effectSession->displayTransformations(_displayTransform);
    if (_displayBuffer) {
        _effectSession->beginSession(_displayBuffer);
        _status = _effectSession->Error();
    }
}

void Kelvo_VideoPresentation::initDataPlayer() {
    if (!_dataSourceBuffer) {
        _status = kKelvoNothingToWorkOn;
        return;
    }
    Kelvo_EffectDesc desc(kBrightnessContrastEffect);
    if (!desc.qtObjIsValid()) {
        _status = desc.Error() != 0 ? desc.Error() : int32_t(kKelvoNothingToWorkOn);
        return;
    }
    if (_effectSession && _effectSession->isActive()) _effectSession->endSession();
    desc.qtWidth(int16_t(_dataSourceBuffer->width()));
    desc.qtHeight(int16_t(_dataSourceBuffer->height()));
    disposeEffectDescription();
    QTAtomContainer settings = desc.settings();
    if (!settings) {
        _status = desc.Error() != 0 ? desc.Error() : int32_t(kKelvoNothingToWorkOn);
        return;
    }
    QTAtomContainer own = nullptr;
    const OSErr err = QTCopyAtom(settings, kParentAtomIsContainer, &own);
    if (err != noErr || !own) {
        _status = err != noErr ? err : int32_t(memFullErr);
        return;
    }
    _effectDescription = own;
    _status = flattenEffectDescription();
    if (_status != noErr) {
        disposeEffectDescription();
        return;
    }
    QTLockContainer(_effectDescription);
    setUpDataPlayer(desc);
}

void Kelvo_VideoPresentation::displayProperties(Kelvo_DisplayTransform* t) {
    if (!qtObjIsValid()) return;
    updateParams(t);
    if (_status != noErr) return;
    if (_effectSession) _effectSession->displayTransformations(_displayTransform);
    Update();
}

Kelvo_DisplayTransform* Kelvo_VideoPresentation::displayProperties() {
    if (!_displayTransform) return nullptr;
    return static_cast<Kelvo_DisplayTransform*>(_displayTransform->clone());
}

void Kelvo_VideoPresentation::ShowWithin(void* window, Kelvo_Rect* rect) {
    // The host hands the platform window of its window; anything the platform does not know as
    // a window gives no port, as a missing window does.
    WindowRef w = static_cast<WindowRef>(window);
    GrafPtr port = w && IsValidWindowPtr(w) ? GetWindowPort(w) : nullptr;
    displaySetUp(port, rect);
}

void Kelvo_VideoPresentation::ShowWithinGWorld(GrafPtr port, Kelvo_Rect* rect) {
    displaySetUp(port, rect);
}

void Kelvo_VideoPresentation::drawToDisplay() {
    drawThroughEffect(false);
}

void Kelvo_VideoPresentation::drawThroughEffect(bool putFrameBack) {
    Kelvo_QDGWorldBuffer* frame = _dataSourceBuffer;
    const bool adjust = kelvoTransformAdjustsFrame(_displayTransform) && frame && frame->qtObjIsValid();
    // The frame's pixels before the adjustment, kept in a buffer that lives with the presentation
    // so that drawing allocates nothing once it has drawn a frame of this size.
    const bool keep = adjust && putFrameBack && frame->baseAddress();
    const size_t size = keep ? size_t(frame->rowBytes()) * size_t(frame->height()) : 0;
    if (keep) _unadjustedFrame.assign(frame->baseAddress(), frame->baseAddress() + size);
    if (adjust) Kelvo_DrawingUtils::postProcessingDrawingContext(*frame, _displayTransform);
    // Without a running session there is nowhere to draw, and nothing to announce.
    const bool draws = _effectSession && _effectSession->isActive();
    if (draws) {
        _effectSession->decompressData(-1, -1);
        _status = _effectSession->Error();
    }
    // Put back before anyone hears of the draw: a receiver of 'DRAW' may draw again (from the
    // frame as it is, not as adjusted) or replace the frame (which then must not be written).
    if (keep) std::memcpy(frame->baseAddress(), _unadjustedFrame.data(), size);
    if (draws && _status == noErr) _eventsHandler.notifyEvent(kKelvoPresentationDraw, nullptr, 0);
}

// ---------------------------------------------------------------------------------------------
// Brightness and contrast

int32_t Kelvo_VideoPresentation::readEffectParameter(uint32_t type) {
    QTAtom atom = QTFindChildByIndex(_effectDescription, kParentAtomIsContainer, type, 1, nullptr);
    if (!atom) {
        _status = cannotFindAtomErr;
        return 0;
    }
    int32_t size = 0;
    Ptr data = nullptr;
    _status = QTGetAtomDataPtr(_effectDescription, atom, &size, &data);
    if (_status != noErr || !data) return 0;
    // Values this presentation writes are 32-bit; the effect's own defaults are 16-bit.
    if (size == 4) {
        uint32_t v = 0;
        std::memcpy(&v, data, 4);
        return int32_t(EndianU32_BtoN(v));
    }
    if (size == 2) {
        uint16_t v = 0;
        std::memcpy(&v, data, 2);
        return int16_t(EndianU16_BtoN(v));
    }
    _status = paramErr;
    return 0;
}

int32_t Kelvo_VideoPresentation::writeEffectParameter(uint32_t type, int32_t value) {
    const uint32_t big = EndianU32_NtoB(uint32_t(value));
    QTAtom atom = QTFindChildByIndex(_effectDescription, kParentAtomIsContainer, type, 1, nullptr);
    OSErr err = atom
                    ? QTSetAtomData(_effectDescription, atom, 4, &big)
                    : QTInsertChild(_effectDescription, kParentAtomIsContainer, type, 1, 0, 4, &big, nullptr);
    if (err != noErr) return err;
    return flattenEffectDescription();
}

int32_t Kelvo_VideoPresentation::brightness() {
    if (!qtObjIsValid() || !_effectDescription) return 0;
    return readEffectParameter(kEffectBrightnessParameter);
}

void Kelvo_VideoPresentation::brightness(int32_t value) {
    if (!qtObjIsValid() || !_effectDescription) return;
    QTUnlockContainer(_effectDescription);
    _status = writeEffectParameter(kEffectBrightnessParameter, value);
    QTLockContainer(_effectDescription);
    // A playing presentation shows the change on its next tick.
    if (_status == noErr && !isPlaying()) idle();
}

int32_t Kelvo_VideoPresentation::contrast() {
    if (!qtObjIsValid() || !_effectDescription) return 0;
    return readEffectParameter(kEffectContrastParameter);
}

void Kelvo_VideoPresentation::contrast(int32_t value) {
    if (!qtObjIsValid() || !_effectDescription) return;
    QTUnlockContainer(_effectDescription);
    _status = writeEffectParameter(kEffectContrastParameter, value);
    QTLockContainer(_effectDescription);
    if (_status == noErr && !isPlaying()) idle();
}

int32_t Kelvo_VideoPresentation::flattenEffectDescription() {
    if (!_effectDescription) return kKelvoNothingToWorkOn;
    int32_t size = 0;
    OSErr err = QTGetFlattenedSize(_effectDescription, &size);
    if (err != noErr) return err;
    if (!_effectData) {
        _effectData = NewHandle(size);
        if (!_effectData) return memFullErr;
    } else {
        SetHandleSize(_effectData, size);
        if (GetHandleSize(_effectData) != size) return memFullErr;
    }
    err = QTFlattenAtomContainerToBytes(_effectDescription, *_effectData, size);
    if (err != noErr) return err;
    // The session reads the bytes where they are now: a resized handle may have moved them.
    if (_effectSession) {
        compressionInputRecord input{};
        input.kind = 1;
        input.handle = _effectData;
        _effectSession->inputStorage(&input);
    }
    return noErr;
}

void Kelvo_VideoPresentation::disposeEffectDescription() {
    if (_effectDescription) {
        QTUnlockContainer(_effectDescription);
        QTDisposeAtomContainer(_effectDescription);
        _effectDescription = nullptr;
    }
    if (_effectData) {
        // The session must not read the bytes once they are gone.
        if (_effectSession) {
            if (_effectSession->isActive()) _effectSession->endSession();
            _effectSession->inputStorage() = KelvoDecompressionInput{};
        }
        DisposeHandle(_effectData);
        _effectData = nullptr;
    }
}

// ---------------------------------------------------------------------------------------------
// Accessors

GWorldPtr Kelvo_VideoPresentation::dataSourceGraphics() {
    return qtObjIsValid() ? _dataSourceBuffer->buffer() : nullptr;
}

GWorldPtr Kelvo_VideoPresentation::displayGraphics() {
    return _displayBuffer ? _displayBuffer->buffer() : nullptr;
}

bool Kelvo_VideoPresentation::autoScale() const {
    return _autoScale != 0;
}

void Kelvo_VideoPresentation::autoScale(bool on) {
    _autoScale = on ? 1 : 0;
}

GrafPtr Kelvo_VideoPresentation::wrappedPort() const {
    return _displayBuffer && !_displayBuffer->isBufferOwned() ? _displayBuffer->buffer() : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Grabs

Kelvo_QDGWorldBuffer* Kelvo_VideoPresentation::grabFrame(Kelvo_DisplayTransform* t) {
    if (!qtObjIsValid()) return nullptr;
    int32_t err = 0;
    Kelvo_QDGWorldBuffer* frame = Kelvo_DrawingUtils::draw(_dataSourceBuffer->buffer(), t, err);
    _status = err;
    if (frame && !frame->qtObjIsValid()) {
        delete frame;
        frame = nullptr;
    }
    return frame;
}

Kelvo_QDGWorldBuffer* Kelvo_VideoPresentation::grabFrameAndEffect(Kelvo_DisplayTransform* t) {
    if (!qtObjIsValid()) return nullptr;
    if (!_effectSession) return grabFrame(t);
    Kelvo_DisplayTransform savedTransform(*_displayTransform);
    const Kelvo_Rect savedRect = _displayRect;
    GrafPtr port = wrappedPort();

    int32_t width = _displayRect.width(), height = _displayRect.height();
    if (t && t->qtDstRect().qtObjIsValid()) {
        width = t->qtDstRect().width();
        height = t->qtDstRect().height();
    }
    auto* grabbed = new (std::nothrow) Kelvo_QDGWorldBuffer(width, height, k32ARGBPixelFormat);
    if (!grabbed) {
        _status = memFullErr;
        return nullptr;
    }
    if (!grabbed->qtObjIsValid()) {
        _status = grabbed->Error() != 0 ? grabbed->Error() : int32_t(paramErr);
        delete grabbed;
        return nullptr;
    }
    AliveScope alive(*this);
    Stop();
    if (alive.gone()) return grabbed;
    Kelvo_Rect frame(width, height);
    displaySetUp(grabbed->buffer(), &frame);
    if (alive.gone()) return grabbed;
    int32_t status = _status;
    if (t) {
        displayProperties(t);
        if (alive.gone()) return grabbed;
        status = _status;
    }
    Kelvo_Rect restore = savedRect;
    displaySetUp(port, &restore);
    if (alive.gone()) return grabbed;
    if (port) SetGWorld(port, nullptr);
    if (t) {
        displayProperties(&savedTransform);
        if (alive.gone()) return grabbed;
    }
    // What the grab itself met is what the caller hears of.
    if (status != noErr) _status = status;
    return grabbed;
}

Kelvo_Image* Kelvo_VideoPresentation::grabRawImage(Kelvo_DisplayTransform* t, Kelvo_OSType& pixelType) {
    std::unique_ptr<Kelvo_QDGWorldBuffer> frame(grabFrame(t));
    if (!frame) return nullptr;
    return Kelvo_Image::createWithQDContext(*frame, pixelType, nullptr);
}

Kelvo_Image* Kelvo_VideoPresentation::grabRawImageAndEffect(Kelvo_DisplayTransform* t,
                                                            Kelvo_OSType& pixelType) {
    std::unique_ptr<Kelvo_QDGWorldBuffer> frame(grabFrameAndEffect(t));
    if (!frame) return nullptr;
    return Kelvo_Image::createWithQDContext(*frame, pixelType, nullptr);
}

// ---------------------------------------------------------------------------------------------
// Export

void Kelvo_VideoPresentation::reportProgress(double progress) {
    double value = progress;
    if (_eventsHandler.qtObjIsValid())
        _eventsHandler.notifyEvent(kKelvoPresentationMovieProgress, &value, _status);
    else if (_progressNotifier)
        _progressNotifier->Call(value, _status);
}

void Kelvo_VideoPresentation::prepareOutputMovie(FSSpec* file, Kelvo_ImgDescComp* desc, Kelvo_Movie*& movie,
                                                 Kelvo_TrackVideoProvider*& provider) {
    movie = nullptr;
    provider = nullptr;
    _exportRedirected = false;
    if (!desc) {
        _status = paramErr;
        return;
    }
    Kelvo_Rect frame(int32_t(desc->qtWidth()), int32_t(desc->qtHeight()));
    const Kelvo_Rect roi(desc->qtROI());
    if (!frame.qtObjIsValid()) {
        // The frames are as large as the display shows them.
        frame = Kelvo_Rect(_displayRect.width(), _displayRect.height());
        desc->qtWidth(int16_t(frame.width()));
        desc->qtHeight(int16_t(frame.height()));
    }
    auto* newMovie = new (std::nothrow) Kelvo_Movie(file, true);
    if (!newMovie) {
        _status = memFullErr;
        return;
    }
    if (!newMovie->qtObjIsValid()) {
        _status = newMovie->Error() != 0 ? newMovie->Error() : int32_t(kKelvoCannotOpenForWriting);
        delete newMovie;
        return;
    }
    auto* newProvider =
        new (std::nothrow) Kelvo_TrackVideoProvider(newMovie, desc, Kelvo_TrackProvider::defaultTimeScale);
    if (!newProvider || !newProvider->qtObjIsValid()) {
        _status = !newProvider ? int32_t(memFullErr)
                               : (newProvider->Error() != 0 ? newProvider->Error() : int32_t(paramErr));
        delete newProvider;
        delete newMovie;
        return;
    }
    AliveScope alive(*this);
    _exportRedirected = true;
    displaySetUp(newProvider->dataProvider(), &frame);
    if (alive.gone()) {
        delete newProvider;
        delete newMovie;
        return;
    }
    if (roi.qtObjIsValid() && _displayTransform) {
        Kelvo_DisplayTransform selection(*_displayTransform);
        selection.SrcRect(roi.rPtr());
        displayProperties(&selection);
        if (alive.gone()) {
            delete newProvider;
            delete newMovie;
            return;
        }
    }
    newProvider->BeginSession();
    _status = newProvider->Error();
    if (_status != noErr) {
        delete newProvider;
        delete newMovie;
        return;
    }
    movie = newMovie;
    provider = newProvider;
}

void Kelvo_VideoPresentation::presentationToMovie(FSSpec* file, Kelvo_ImgDescComp* desc,
                                                  Kelvo_TimeRange* range) {
    if (!qtObjIsValid()) return;
    if (!file) {
        _status = paramErr;
        return;
    }
    int32_t error = 0;
    if (!Kelvo_QTObj::isValidInstance(desc, error, false) || !desc->qtObjIsValid()) {
        _status = error != 0 ? error : int32_t(paramErr);
        return;
    }
    const bool ranged = range && range->qtObjIsValid();
    const int32_t start = ranged ? range->start() : 0;
    const int64_t end = ranged ? range->End() : int64_t(Time(kKelvoTimeDuration));

    MovieExport output(*this);
    if (!output.begin(file, desc)) return;
    Kelvo_TrackVideoProvider* provider = output.provider();
    PlayTime(start);
    if (output.gone()) return;
    double progress = 0.0;
    for (;;) {
        const int32_t t = Time(kKelvoTimeCurrent);
        if (int64_t(t) >= end) {
            if (_status == noErr) progress = 1.0;
            break;
        }
        provider->addSample();
        _status = provider->Error();
        progress = end > 0 ? double(t) / double(end) : 1.0;
        reportProgress(progress);
        if (output.gone()) return;
        if (_status != noErr) break;
        PlayAction(kKelvoPlayActionForward);
        if (output.gone()) return;
        // A presentation whose time does not move on has no further samples to give.
        if (Time(kKelvoTimeCurrent) <= t) {
            if (_status == noErr) progress = 1.0;
            break;
        }
    }
    reportProgress(progress);
    if (output.gone()) return;
    output.finish();
}

Kelvo_VideoPresentation::MovieExport::MovieExport(Kelvo_VideoPresentation& presentation)
    : _presentation(presentation), _alive(presentation), _savedTransform(*presentation._displayTransform),
      _savedRect(presentation._displayRect), _port(presentation.wrappedPort()) {}

Kelvo_VideoPresentation::MovieExport::~MovieExport() {
    delete _provider;
    delete _movie;
}

bool Kelvo_VideoPresentation::MovieExport::begin(FSSpec* file, Kelvo_ImgDescComp* desc) {
    Kelvo_VideoPresentation& p = _presentation;
    p.prepareOutputMovie(file, desc, _movie, _provider);
    if (gone()) return false;
    const bool redirected = p._exportRedirected;
    p._exportRedirected = false;
    if (p._status == noErr) return true;
    // No destination may be left on the provider's world, which is gone.
    if (redirected) {
        const int32_t failure = p._status;
        p.displaySetUp(_port, &_savedRect);
        if (gone()) return false;
        p.displayProperties(&_savedTransform);
        if (gone()) return false;
        p._status = failure;
    }
    return false;
}

void Kelvo_VideoPresentation::MovieExport::finish() {
    Kelvo_VideoPresentation& p = _presentation;
    int32_t written = p._status;
    _provider->EndSession();
    _movie->flush();
    if (written == noErr) written = _provider->Error();
    if (written == noErr) written = _movie->Error();
    p.displaySetUp(_port, &_savedRect);
    if (gone()) return;
    p.displayProperties(&_savedTransform);
    if (gone()) return;
    delete _provider;
    _provider = nullptr;
    delete _movie;
    _movie = nullptr;
    p._status = written;
}

// ---------------------------------------------------------------------------------------------
// Full screen

void Kelvo_VideoPresentation::FullScreenStart(Kelvo_Rect* rect, bool loop) {
    if (!qtObjIsValid() || _fullScreen) return;
    const bool playing = isPlaying();
    auto* record = new (std::nothrow) Kelvo_FullScreenRecord();
    if (!record) {
        _status = memFullErr;
        return;
    }
    _status = BeginFullScreen(&record->restoreState, nullptr, nullptr, nullptr, &record->window, nullptr,
                              fullScreenAllowEvents);
    if (_status != noErr) {
        delete record;
        return;
    }
    record->savedDisplayRect = _displayRect;
    record->savedPort = wrappedPort();
    _fullScreen = record;
    SetWindowGroup(record->window, GetWindowGroupOfClass(kFullScreenWindowGroupClass));
    AliveScope alive(*this);
    displaySetUp(GetWindowPort(record->window), rect);
    if (alive.gone()) return;
    if (playing) {
        Play(1.0);
        if (alive.gone()) return;
    }
    _eventsHandler.notifyEvent(kKelvoPresentationFullScreenStart, nullptr, 0);
    if (alive.gone()) return;
    if (loop) FullScreenLoop();
}

void Kelvo_VideoPresentation::FullScreenLoop() {
    // Installed once: the handler goes with the full-screen window.
    if (!_fullScreen || _fullScreenHandler) return;
    static const EventTypeSpec kEvents[] = {{kEventClassMouse, kEventMouseDown},
                                            {kEventClassKeyboard, kEventRawKeyDown}};
    const OSStatus err = InstallEventHandler(
        GetWindowEventTarget(_fullScreen->window),
        NewEventHandlerUPP(&Kelvo_VideoPresentation::fullScreenEventHandler), 2, kEvents, this, nullptr);
    if (err != noErr) {
        _status = err;
        return;
    }
    _fullScreenHandler = &Kelvo_VideoPresentation::fullScreenEventHandler;
}

void Kelvo_VideoPresentation::FullScreenStop() {
    if (!_fullScreen) return;
    const bool playing = isPlaying();
    _fullScreenHandler = nullptr;
    // Nothing may draw into the window's port once the window is gone.
    if (_effectSession && _effectSession->isActive()) _effectSession->endSession();
    delete _displayBuffer;
    _displayBuffer = nullptr;
    _status = EndFullScreen(_fullScreen->restoreState, 0);
    const int32_t status = _status;
    Kelvo_Rect savedRect = _fullScreen->savedDisplayRect;
    GrafPtr savedPort = _fullScreen->savedPort;
    delete _fullScreen;
    _fullScreen = nullptr;
    AliveScope alive(*this);
    displaySetUp(savedPort, &savedRect);
    if (alive.gone()) return;
    if (status != noErr) _status = status;
    _eventsHandler.notifyEvent(kKelvoPresentationFullScreenStop, nullptr, 0);
    if (alive.gone()) return;
    if (playing) Play(1.0);
}

OSStatus Kelvo_VideoPresentation::fullScreenEventHandler(EventHandlerCallRef, EventRef event,
                                                         void* presentation) {
    if (!presentation) return noErr;
    auto* self = static_cast<Kelvo_VideoPresentation*>(presentation);
    const bool notify = self->_eventsHandler.qtObjIsValid();
    const UInt32 eventClass = GetEventClass(event);
    if (eventClass != kEventClassKeyboard && eventClass != kEventClassMouse) return noErr;
    if (GetEventKind(event) != 1) return eventNotHandledErr;

    const char* name = nullptr;
    uint32_t key = kKelvoKeyEscape;
    if (eventClass == kEventClassKeyboard) {
        key = 0;
        if (GetEventParameter(event, kEventParamKeyCode, typeUInt32, nullptr, sizeof key, nullptr, &key) !=
            noErr)
            return eventNotHandledErr;
    }
    AliveScope alive(*self);
    switch (key) {
    case kKelvoKeyEscape:
        self->FullScreenStop();
        name = "ESC";
        break;
    case kKelvoKeySpace:
    case kKelvoKeyF8:
        if (self->isPlaying()) {
            self->Stop();
        } else {
            if (self->isDone()) {
                self->PlayAction(kKelvoPlayActionStart);
                if (alive.gone()) return noErr;
            }
            self->Play(1.0);
        }
        name = "SPACE";
        break;
    case kKelvoKeyPageUp:
    case kKelvoKeyF7:
        self->PlayAction(kKelvoPlayActionStart);
        if (alive.gone()) return noErr;
        self->idle();
        name = "PAGEUP";
        break;
    case kKelvoKeyPageDown:
    case kKelvoKeyF9:
        self->PlayAction(kKelvoPlayActionEnd);
        if (alive.gone()) return noErr;
        self->idle();
        name = "PAGEDOWN";
        break;
    case kKelvoKeyLeftArrow:
        self->PlayAction(kKelvoPlayActionBack);
        if (alive.gone()) return noErr;
        self->idle();
        name = "LEFT";
        break;
    case kKelvoKeyRightArrow:
        self->PlayAction(kKelvoPlayActionForward);
        if (alive.gone()) return noErr;
        self->idle();
        name = "RIGHT";
        break;
    default:
        return eventNotHandledErr;
    }
    if (alive.gone()) return noErr;
    if (notify)
        self->_eventsHandler.notifyEvent(kKelvoPresentationFullScreenKeyDown, const_cast<char*>(name), 0);
    return noErr;
}
