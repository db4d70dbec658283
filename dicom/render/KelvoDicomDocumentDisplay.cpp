// The presentations a data tree and a document make of what their file holds: one icon of the
// file, or the whole pixel data. They live with the presentation rather than with the tree, so
// that the file library does not depend on the rendering one.
#include "KelvoDicomDataImagePixel.h"
#include "KelvoDicomDataTree.h"
#include "KelvoDicomImageIcon.h"
#include "KelvoDicomVideoPresentation.h"

#include <memory>

namespace {

// Whether a new presentation may be handed out; otherwise its error, never 0.
int32_t presentationFailure(KelvoDicomVideoPresentation* p) {
    if (p->qtObjIsValid()) return noErr;
    return p->Error() != noErr ? p->Error() : int32_t(paramErr);
}

} // namespace

KelvoDicomVideoPresentation* KelvoDicomDataTree::thumbnailDisplay(int32_t index) {
    std::unique_ptr<KelvoDicomImageIcon> icon(thumbnail(index));
    if (!icon) return nullptr;
    auto* presentation = new KelvoDicomVideoPresentation(icon.get());
    if (const int32_t failure = presentationFailure(presentation)) {
        _status = failure;
        delete presentation;
        return nullptr;
    }
    return presentation;
}

KelvoDicomVideoPresentation* KelvoDicomDocument::dataDisplay() {
    std::unique_ptr<KelvoDicomPixelData> pixelData(mediaDataSamplesInfo());
    if (!pixelData || !pixelData->qtObjIsValid()) {
        _status = pixelData && pixelData->Error() != noErr ? pixelData->Error() : int32_t(memFullErr);
        return nullptr;
    }
    if (!pixelData->isA("KelvoDicomPixelData")) return nullptr;
    std::unique_ptr<Kelvo_QTObj> view(getObjValue(0x0028));
    KelvoDicomDataImagePixel* imagePixel = nullptr;
    if (view && view->isA("KelvoDicomDataImagePixel")) {
        imagePixel = static_cast<KelvoDicomDataImagePixel*>(view.get());
        imagePixel->pixelEncoding() = pixelData->chunksEncodingInfo();
    }
    auto* presentation = new KelvoDicomVideoPresentation(imagePixel, pixelData.get());
    if (const int32_t failure = presentationFailure(presentation)) {
        _status = failure;
        delete presentation;
        return nullptr;
    }
    return presentation;
}
