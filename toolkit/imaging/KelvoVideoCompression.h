// The compression description: an image description that also carries the parameters of a
// compression run (key frames, data rate, frame duration or rate, minimum qualities, reordering,
// multipass, temporal compression). It is the parameter object of every compression session and
// converts to and from the platform's compression options and the compression settings atoms.
#pragma once

#include "KelvoCoreVideoDataDescriptors.h"
#include "PlatformCompressionOptions.h"

class Kelvo_ImgDescComp : public Kelvo_ImgDesc {
  public:
    // An 86-byte description with the defaults, parameters 0.
    Kelvo_ImgDescComp();
    // As the description; parameters 0.
    explicit Kelvo_ImgDescComp(SampleDescriptionHandle desc);
    explicit Kelvo_ImgDescComp(ImageDescriptionHandle desc);
    explicit Kelvo_ImgDescComp(GWorldPtr world);
    // The description of the settings, then the temporal and data-rate settings that its codec
    // takes ('tprl' for a temporal codec, 'drat' for one that honours a data rate).
    explicit Kelvo_ImgDescComp(QTAtomContainer settings);
    // A default description that takes the options (see setICMOptions).
    explicit Kelvo_ImgDescComp(ICMCompressionSessionOptionsRef options);
    Kelvo_ImgDescComp(const Kelvo_ImgDescComp& other);
    ~Kelvo_ImgDescComp() override;

    const char* qtObjName() const override { return "Kelvo_ImgDescComp"; }
    void defaultStatus() override;
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;
    using Kelvo_ImgDesc::copy;
    bool copy(const Kelvo_SmpDescriptor& other) override;
    void reset() override;

    virtual Kelvo_ImgDescComp& operator=(Kelvo_SmpDescriptor& other);
    virtual Kelvo_ImgDescComp& operator=(SampleDescriptionHandle desc);

    // Reads the options: temporal compression, reordering, key-frame interval, then frame count,
    // depth, quality, data rate, frame rate and multipass storage. -50 for null options.
    void setICMOptions(ICMCompressionSessionOptionsRef options);
    // New options from the description (the caller releases them); null when invalid or when a
    // property cannot be set. With multipass, a storage on a temporary file goes with them.
    ICMCompressionSessionOptionsRef copyICMOptions();
    // Writes 'sptl', 'tprl', 'drat', then 'wdth' and 'hegt'; the result of the last write.
    int32_t FillQTAtomSettings(QTAtomContainer settings);

    int32_t& qtKeyFrames() { return _keyFrames; }
    int32_t& qtDataRate() { return _dataRate; }
    int32_t& qtFrameDur() { return _frameDuration; }
    Fixed& qtFixFrameRate() { return _frameRate; }
    uint32_t& qtMinSpatialQual() { return _minSpatialQuality; }
    uint32_t& qtMinTemporalQual() { return _minTemporalQuality; }
    bool& qtFrameReordering() { return _frameReordering; }
    bool& qtMultiPassEncoding() { return _multiPass; }
    bool& qtTemporalCompressionEnabled() { return _temporal; }
    double qtFrameRate() const;
    void qtFrameRate(double rate);

    void initParams();
    void initParams(const Kelvo_ImgDescComp& other);

  private:
    void readSettings(QTAtomContainer settings);

    int32_t _keyFrames = 0;
    int32_t _dataRate = 0;
    int32_t _frameDuration = 0;
    Fixed _frameRate = 0;
    uint32_t _minSpatialQuality = 0;
    uint32_t _minTemporalQuality = 0;
    bool _frameReordering = false;
    bool _multiPass = false;
    bool _temporal = false;
};
