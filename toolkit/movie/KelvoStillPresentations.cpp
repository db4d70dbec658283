#include "KelvoStillPresentations.h"

#include "KelvoDrawingUtils.h"
#include "KelvoImageBase.h"
#include "KelvoMovie.h"
#include "KelvoPresentationFrames.h"
#include "KelvoTrackProviders.h"
#include "KelvoVideo.h"
#include "KelvoVideoCompression.h"
#include "KelvoVideoDecompression.h"
#include "PlatformDecompressionSessions.h"

#include <cstring>
#include <new>

namespace {

// The duration of the one sample of a still picture's movie when the description has none.
constexpr int32_t kStillSampleDuration = 600;

} // namespace

// ---------------------------------------------------------------------------------------------
// Still image

Kelvo_StillImagePresentation::~Kelvo_StillImagePresentation() {
    delete _sourceBuffer;
    _sourceBuffer = nullptr;
}

bool Kelvo_StillImagePresentation::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_VideoPresentation::isA(name) || std::strcmp(name, "Kelvo_StillImagePresentation") == 0;
}

void Kelvo_StillImagePresentation::defaultStatus() {
    reset();
}

void Kelvo_StillImagePresentation::reset() {
    _dataSource = nullptr;
    delete _sourceBuffer;
    _sourceBuffer = nullptr;
    if (_effectSession && _effectSession->isActive()) _effectSession->endSession();
    delete _dataSourceBuffer;
    _dataSourceBuffer = nullptr;
}

void Kelvo_StillImagePresentation::setSource(GrafPtr port) {
    reset();
    if (!port) {
        _status = kKelvoNothingToWorkOn;
        return;
    }
    int32_t err = 0;
    _sourceBuffer = Kelvo_DrawingUtils::draw(port, nullptr, err);
    _status = err;
    if (!_sourceBuffer) return;
    _dataSource = _sourceBuffer;
    sourceChanged();
}

void Kelvo_StillImagePresentation::setSource(Kelvo_Image* image) {
    reset();
    if (!image) {
        _status = kKelvoNothingToWorkOn;
        return;
    }
    _sourceBuffer = image->image(static_cast<Kelvo_DisplayTransform*>(nullptr));
    if (!_sourceBuffer) {
        _status = image->Error() != 0 ? image->Error() : int32_t(kKelvoNothingToWorkOn);
        return;
    }
    _status = noErr;
    _dataSource = _sourceBuffer;
    sourceChanged();
}

void Kelvo_StillImagePresentation::sourceChanged() {
    if (!_sourceBuffer) return;
    int32_t err = 0;
    delete _dataSourceBuffer;
    _dataSourceBuffer = Kelvo_DrawingUtils::draw(_sourceBuffer->buffer(), nullptr, err);
    if (!_dataSourceBuffer) {
        _status = err != 0 ? err : int32_t(kKelvoNothingToWorkOn);
        return;
    }
    const Kelvo_Rect bounds(_dataSourceBuffer->width(), _dataSourceBuffer->height());
    if (!_displayTransform) {
        _displayTransform = new (std::nothrow) Kelvo_DisplayTransform(bounds, bounds);
        if (!_displayTransform) {
            _status = memFullErr;
            return;
        }
    } else {
        _displayTransform->SrcRect(bounds.rPtr());
    }
    initDataPlayer();
    if (_displayBuffer) idle();
}

void Kelvo_StillImagePresentation::refresh() {
    if (!_sourceBuffer || !_dataSourceBuffer) return;
    if (_effectSession && _effectSession->isActive()) _effectSession->endSession();
    const int32_t copied = _dataSourceBuffer->copyBuffer(_sourceBuffer->buffer());
    if (copied != noErr) {
        _status = copied;
        return;
    }
    initDataPlayer();
    if (kelvoTransformAdjustsFrame(_displayTransform))
        Kelvo_DrawingUtils::postProcessingDrawingContext(*_dataSourceBuffer, _displayTransform);
}

void Kelvo_StillImagePresentation::restoreBrightnessAndCostrast(int32_t brightness, int32_t contrast) {
    if (!_effectDescription || (brightness == 0 && contrast == 0)) return;
    QTUnlockContainer(_effectDescription);
    _status = writeEffectParameter(kEffectBrightnessParameter, brightness);
    if (_status == noErr) _status = writeEffectParameter(kEffectContrastParameter, contrast);
    QTLockContainer(_effectDescription);
}

void Kelvo_StillImagePresentation::drawToDisplay() {
    if (!qtObjIsValid()) return;
    if (_redrawPending) {
        const int32_t b = brightness();
        const int32_t c = contrast();
        refresh();
        _redrawPending = 0;
        restoreBrightnessAndCostrast(b, c);
    }
    if (_effectSession && _effectSession->isActive()) {
        _effectSession->decompressData(-1, -1);
        _status = _effectSession->Error();
    }
    _eventsHandler.notifyEvent(kKelvoPresentationDraw, nullptr, _status);
}

void Kelvo_StillImagePresentation::displayProperties(Kelvo_DisplayTransform* t) {
    if (!qtObjIsValid()) return;
    updateParams(t);
    if (_status == noErr) Update();
}

void Kelvo_StillImagePresentation::Update() {
    _redrawPending = 1;
    drawToDisplay();
}

void Kelvo_StillImagePresentation::idle() {
    drawToDisplay();
}

void Kelvo_StillImagePresentation::presentationToMovie(FSSpec* file, Kelvo_ImgDescComp* desc,
                                                       Kelvo_TimeRange*) {
    if (SamplesCount() == 0) return;
    if (!file) {
        _status = kKelvoMediaMissing;
        return;
    }
    int32_t error = 0;
    if (!Kelvo_QTObj::isValidInstance(desc, error, false) || !desc->qtObjIsValid()) {
        _status = error != 0 ? error : int32_t(paramErr);
        return;
    }
    MovieExport output(*this);
    if (!output.begin(file, desc)) return;
    Kelvo_TrackVideoProvider* provider = output.provider();
    if (desc->qtFrameDur() == 0) {
        provider->sampleDuration(kStillSampleDuration);
        if (provider->sampleDuration() != kStillSampleDuration) _status = paramErr;
    }
    if (_status == noErr) {
        provider->addSample();
        _status = provider->Error();
    }
    reportProgress(1.0);
    if (output.gone()) return;
    output.finish();
}

// ---------------------------------------------------------------------------------------------
// Buffer

Kelvo_VideoBufferPresentation::Kelvo_VideoBufferPresentation(Kelvo_QDGWorldBuffer& buffer) {
    if (!buffer.qtObjIsValid()) return;
    _dataSourceBuffer = &buffer;
    _dataSource = &buffer;
    const Kelvo_Rect bounds(buffer.width(), buffer.height());
    _displayTransform = new (std::nothrow) Kelvo_DisplayTransform(bounds, bounds);
    if (!_displayTransform) {
        _status = memFullErr;
        return;
    }
    initDataPlayer();
}

Kelvo_VideoBufferPresentation::~Kelvo_VideoBufferPresentation() {
    // The buffer is the caller's.
    _dataSourceBuffer = nullptr;
    _dataSource = nullptr;
}

void Kelvo_VideoBufferPresentation::drawToDisplay() {
    // The caller's world is not drawn anew between draws.
    drawThroughEffect(true);
}

void Kelvo_VideoBufferPresentation::idle() {
    if (qtObjIsValid()) drawToDisplay();
}
