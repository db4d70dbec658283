#include "KelvoVideoPresentation.h"

#include "KelvoImageBase.h"
#include "KelvoMovie.h"
#include "KelvoTrackProviders.h"
#include "KelvoVideo.h"
#include "KelvoVideoCompression.h"
#include "KelvoVideoDecompression.h"

#include <cstring>

Kelvo_VideoPresentation::AliveScope::AliveScope(Kelvo_VideoPresentation& presentation)
    : _presentation(&presentation), _outer(presentation._aliveScopes) {
    presentation._aliveScopes = this;
}

Kelvo_VideoPresentation::AliveScope::~AliveScope() {
    if (!_gone) _presentation->_aliveScopes = _outer;
}

Kelvo_VideoPresentation::Kelvo_VideoPresentation() = default;

Kelvo_VideoPresentation::~Kelvo_VideoPresentation() {
    for (AliveScope* s = _aliveScopes; s; s = s->_outer)
        s->_gone = true;
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

void Kelvo_VideoPresentation::updateParams(Kelvo_DisplayTransform*) {}
void Kelvo_VideoPresentation::displaySetUp(GrafPtr, Kelvo_Rect*) {}
void Kelvo_VideoPresentation::setUpDataPlayer(Kelvo_ImgDesc&) {}
void Kelvo_VideoPresentation::initDataPlayer() {}
void Kelvo_VideoPresentation::prepareOutputMovie(FSSpec*, Kelvo_ImgDescComp*, Kelvo_Movie*& movie,
                                                 Kelvo_TrackVideoProvider*& provider) {
    movie = nullptr;
    provider = nullptr;
}
void Kelvo_VideoPresentation::FullScreenLoop() {}
void Kelvo_VideoPresentation::drawToDisplay() {}
void Kelvo_VideoPresentation::ShowWithin(void*, Kelvo_Rect*) {}
void Kelvo_VideoPresentation::ShowWithinGWorld(GrafPtr port, Kelvo_Rect* rect) {
    displaySetUp(port, rect);
}
void Kelvo_VideoPresentation::FullScreenStart(Kelvo_Rect*, bool) {}
void Kelvo_VideoPresentation::FullScreenStop() {}
void Kelvo_VideoPresentation::displayProperties(Kelvo_DisplayTransform*) {}
Kelvo_DisplayTransform* Kelvo_VideoPresentation::displayProperties() {
    return nullptr;
}
int32_t Kelvo_VideoPresentation::brightness() {
    return 0;
}
void Kelvo_VideoPresentation::brightness(int32_t) {}
int32_t Kelvo_VideoPresentation::contrast() {
    return 0;
}
void Kelvo_VideoPresentation::contrast(int32_t) {}
GWorldPtr Kelvo_VideoPresentation::dataSourceGraphics() {
    return nullptr;
}
GWorldPtr Kelvo_VideoPresentation::displayGraphics() {
    return nullptr;
}
bool Kelvo_VideoPresentation::autoScale() const {
    return _autoScale != 0;
}
void Kelvo_VideoPresentation::autoScale(bool on) {
    _autoScale = on ? 1 : 0;
}
Kelvo_QDGWorldBuffer* Kelvo_VideoPresentation::grabFrame(Kelvo_DisplayTransform*) {
    return nullptr;
}
Kelvo_QDGWorldBuffer* Kelvo_VideoPresentation::grabFrameAndEffect(Kelvo_DisplayTransform*) {
    return nullptr;
}
Kelvo_Image* Kelvo_VideoPresentation::grabRawImage(Kelvo_DisplayTransform*, Kelvo_OSType&) {
    return nullptr;
}
Kelvo_Image* Kelvo_VideoPresentation::grabRawImageAndEffect(Kelvo_DisplayTransform*, Kelvo_OSType&) {
    return nullptr;
}
void Kelvo_VideoPresentation::presentationToMovie(FSSpec*, Kelvo_ImgDescComp*, Kelvo_TimeRange*) {}

OSStatus Kelvo_VideoPresentation::fullScreenEventHandler(EventHandlerCallRef, EventRef, void*) {
    return noErr;
}

void Kelvo_VideoPresentation::reportProgress(double) {}
GrafPtr Kelvo_VideoPresentation::wrappedPort() const {
    return nullptr;
}
int32_t Kelvo_VideoPresentation::writeEffectParameter(uint32_t, int32_t) {
    return 0;
}
int32_t Kelvo_VideoPresentation::readEffectParameter(uint32_t) {
    return 0;
}
int32_t Kelvo_VideoPresentation::flattenEffectDescription() {
    return 0;
}
void Kelvo_VideoPresentation::disposeEffectDescription() {}
