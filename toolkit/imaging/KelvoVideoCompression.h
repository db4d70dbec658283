// The compression description: an image description that also carries the parameters of a
// compression run (key frames, data rate, frame duration or rate, minimum qualities, reordering,
// multipass, temporal compression). It is the parameter object of every compression session and
// converts to and from the platform's compression options and the compression settings atoms.
#pragma once

#include "KelvoCoreVideoDataDescriptors.h"
#include "PlatformCompressionOptions.h"
#include "PlatformCompressionSessions.h"

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

class Kelvo_QDGWorldBuffer;

// Where compressed frames go.
struct KelvoCompressionOutput {
    uint32_t kind = 0;      // 0 none, 1 a media (samples), 2 a memory handle (appended), 3 a FILE*
    void* target = nullptr; // Media, Handle or FILE*
};

// A compression session: frames drawn into one source frame buffer, compressed with the
// parameters of a compression description, delivered to the output storage.
class Kelvo_VideoCompressionSession : public Kelvo_QTObj {
  public:
    Kelvo_VideoCompressionSession() = default;
    Kelvo_VideoCompressionSession(Kelvo_ImgDescComp* parameters, int32_t timeScale);
    Kelvo_VideoCompressionSession(const Kelvo_VideoCompressionSession&) = delete;
    Kelvo_VideoCompressionSession& operator=(const Kelvo_VideoCompressionSession&) = delete;
    ~Kelvo_VideoCompressionSession() override;

    const char* qtObjName() const override { return "Kelvo_VideoCompressionSession"; }
    bool qtObjIsValid() override { return _parameters != nullptr && _timeScale > 0; }
    bool qtObjIsValid() const override { return _parameters != nullptr && _timeScale > 0; }
    bool isA(const char* name) const override;

    virtual int32_t computeMinFrameDuration();
    virtual void reset();
    virtual Kelvo_ImgDescComp* sessionParameters() { return _parameters; }
    // Refused (200) while active; an invalid description is refused with its verdict.
    virtual bool sessionParameters(Kelvo_ImgDescComp* parameters);
    virtual Kelvo_ImgDesc* compressedDataParameters() { return _compressedParameters; }
    virtual int32_t framesCount() { return _framesCount; }
    virtual int32_t timeScale() { return _timeScale; }
    virtual void timeScale(int32_t scale) { _timeScale = scale; }
    virtual int32_t minimumFrameDuration();
    virtual bool isActive() = 0;
    virtual bool beginSession(Kelvo_QDGWorldBuffer* buffer) = 0;
    virtual int32_t compressData(int64_t displayTime, int64_t duration) = 0;
    virtual void endSession() = 0;

    KelvoCompressionOutput& outputStorage() { return _output; }

  protected:
    // The checks every session makes before it begins: a valid source buffer, which it then
    // compresses, and an output; the minimum frame duration is worked out afresh.
    bool takeSource(Kelvo_QDGWorldBuffer* buffer);
    // Appends or writes one compressed frame by the output kind; a status.
    int32_t deliver(const uint8_t* data, size_t size, int64_t decodeDuration, int64_t displayOffset,
                    ImageDescriptionHandle desc, uint32_t sampleFlags);

    Kelvo_ImgDescComp* _parameters = nullptr;
    int32_t _framesCount = 0;
    Kelvo_ImgDesc* _compressedParameters = nullptr;
    KelvoCompressionOutput _output;
    int32_t _timeScale = 0;
    int32_t _minFrameDuration = 0;
    Kelvo_QDGWorldBuffer* _source = nullptr;
};

// On the classic image-sequence calls.
class Kelvo_ImageSequenceCompressionSession : public Kelvo_VideoCompressionSession {
  public:
    Kelvo_ImageSequenceCompressionSession();
    Kelvo_ImageSequenceCompressionSession(Kelvo_ImgDescComp* parameters, int32_t timeScale);
    ~Kelvo_ImageSequenceCompressionSession() override;

    const char* qtObjName() const override { return "Kelvo_ImageSequenceCompressionSession"; }
    bool isA(const char* name) const override;
    bool isActive() override { return _sequence != 0; }
    bool beginSession(Kelvo_QDGWorldBuffer* buffer) override;
    int32_t compressData(int64_t displayTime, int64_t duration) override;
    void endSession() override;

    uint16_t& compressionFlags() { return _flags; }

  private:
    int32_t _sequence = 0;
    Rect _sourceRect{0, 0, 0, 0};
    Handle _data = nullptr;
    uint16_t _flags = 0;
};

// On the compression-session interface: frames as pixel buffers, encoded frames through a
// callback, passes for multipass codecs.
class Kelvo_ICMCompressionSession : public Kelvo_VideoCompressionSession {
  public:
    Kelvo_ICMCompressionSession();
    Kelvo_ICMCompressionSession(Kelvo_ImgDescComp* parameters, int32_t timeScale);
    ~Kelvo_ICMCompressionSession() override;

    const char* qtObjName() const override { return "Kelvo_ICMCompressionSession"; }
    bool isA(const char* name) const override;
    int32_t timeScale() override;
    using Kelvo_VideoCompressionSession::timeScale;
    bool isActive() override { return _session != nullptr; }
    bool beginSession(Kelvo_QDGWorldBuffer* buffer) override;
    int32_t compressData(int64_t displayTime, int64_t duration) override;
    void endSession() override;
    virtual int32_t getProperty(uint32_t type, void* value);
    virtual int32_t setProperty(uint32_t type, void* value, uint32_t size);

    bool isMultiPassSession();
    int32_t encodedFrameReady(ICMEncodedFrameRef frame);

  private:
    static OSStatus encodedFrameCallback(void* refCon, ICMCompressionSessionRef session, OSStatus error,
                                         ICMEncodedFrameRef frame, void* reserved);
    void beginPass();
    bool endPass();

    ICMCompressionSessionRef _session = nullptr;
    uint32_t _passFlags = 0;
};
