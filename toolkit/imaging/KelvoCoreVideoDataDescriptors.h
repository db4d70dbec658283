// The image description: one image sample description of the platform (the 86-byte
// ImageDescription record in a handle) with typed access to its fields. Every frame that is
// compressed, decompressed, drawn or converted is described by one.
#pragma once

#include "KelvoCoreObjectsDescriptors.h"
#include "PlatformDescriptions.h"

class Kelvo_ImgDesc : public Kelvo_SmpDescriptor {
  public:
    static constexpr int32_t kImageDescriptionSize = int32_t(sizeof(ImageDescription));

    // An 86-byte description with the defaults: 72 dpi both ways, one frame, spatial and
    // temporal quality 512, an empty name and clutID -1.
    Kelvo_ImgDesc();
    Kelvo_ImgDesc(const Kelvo_ImgDesc& other);
    Kelvo_ImgDesc& operator=(const Kelvo_ImgDesc&) = delete;

    const char* qtObjName() const override { return "Kelvo_ImgDesc"; }
    // Back to the defaults (a description is made when there is none).
    void defaultStatus() override;
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;

    // Fields of the record; getters answer 0 and setters do nothing without a description.
    int16_t qtWidth();
    void qtWidth(int16_t width);
    int16_t qtHeight();
    void qtHeight(int16_t height);
    int16_t qtDepth();
    // Values of 0 and below are ignored.
    void qtDepth(int16_t depth);
    uint32_t qtSpatialQuality();
    void qtSpatialQuality(uint32_t quality);
    uint32_t qtTemporalQuality();
    int16_t qtFrameCount();
    void qtFrameCount(int16_t count);
    int32_t qtDataSize();
    void qtDataSize(int32_t size);
    Fixed qtFixHRes();
    Fixed qtFixVRes();
    int16_t qtClutID();

  private:
    void setDefaults();
    template <class T> T field(Size offset) const {
        T v{};
        return readField(offset, &v, Size(sizeof v)) ? v : T{};
    }
    template <class T> void field(Size offset, T v) { writeField(offset, &v, Size(sizeof v)); }
};
