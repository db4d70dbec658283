// The small preview a DICOM data set may carry in its Icon Image Sequence (0088,0200): the item's
// Image Pixel description (group 0028) and its 8-bit pixels as a grey image. An icon can take a
// new image or description from the host and turn itself back into a (0088,0200) data set, or
// into a one-chunk samples table for display.
#pragma once

#include "KelvoDicomDataHandlers.h"
#include "KelvoDicomDataImagePixel.h"
#include "KelvoDicomSequence.h"
#include "KelvoImage.h"

class KelvoDicomImageIcon : public Kelvo_QTObj {
  public:
    // A blank 128 x 128 icon.
    KelvoDicomImageIcon();
    // The icon of a group 0088 data set holding (0088,0200).
    explicit KelvoDicomImageIcon(KelvoDicomDataSet* set);
    // The icon of an (0088,0200) sequence atom of a container.
    KelvoDicomImageIcon(QTAtomContainer container, QTAtom atom);
    KelvoDicomImageIcon(const KelvoDicomImageIcon& other);
    KelvoDicomImageIcon& operator=(const KelvoDicomImageIcon&) = delete;
    ~KelvoDicomImageIcon() override;

    const char* qtObjName() const override { return "KelvoDicomImageIcon"; }
    bool qtObjIsValid() override;
    bool qtObjIsValid() const override;
    // Back to a blank 128 x 128 icon described as explicit VR little endian.
    void defaultStatus() override;
    void copy(Kelvo_QTObj& source) override;
    Kelvo_QTObj* clone() override;

    // Both owned by the icon (null when missing).
    KelvoDicomDataImagePixel* iconDescription() const { return _description; }
    Kelvo_Image8BitGrey* icon() const { return _icon; }

    // Takes what an icon can use of `description`; the image is scaled to a new size.
    void iconDescription(KelvoDicomDataImagePixel* description);
    // The icon's pixels become a grey copy of `image`, and its Columns and Rows follow.
    void icon(Kelvo_Image* image);

    // A new group 0088 data set holding the icon's sequence (caller owns), or null.
    KelvoDicomDataSet* iconDataSet();
    // A new one-chunk table of the icon's pixels, which lie in the icon's image rather than in a
    // file (caller owns), or null.
    KelvoDicomPixelData* iconSamplesTable();

  private:
    void release();
    void _initFromIconSequence(KelvoDicomDataItemGroup& items);

    KelvoDicomDataImagePixel* _description = nullptr;
    Kelvo_Image8BitGrey* _icon = nullptr;
};
