// Decompression sessions: compressed frames described by an image description drawn into an
// offscreen frame buffer through a display transform (source rectangle, clip, transfer mode,
// matrix). The image-sequence session serves the drawing utilities and DICOM frames; the effect
// session draws a video effect over up to three source worlds on its own time base; the session
// of the newer interface decodes nothing by itself. Also the input records that the drawing
// utilities and the graphics exporter take.
#pragma once

#include "KelvoCoreVideoDataDescriptors.h"
#include "KelvoGraphicsDisplay.h"
#include "KelvoProperties.h"
#include "PlatformCoreGraphics.h"
#include "PlatformCoreVideo.h"
#include "PlatformCompressionSessions.h"
#include "PlatformDecompressionSessions.h"
#include "PlatformFiles.h"

class Kelvo_QDGWorldBuffer;

struct pointerDataRecordForCompression {
    void* data;
    int32_t size;
    Kelvo_ImgDesc* desc;
};

// A kind and its data: 1 handle, 2 pointer data, 3 picture, 4 offscreen world, 6 CGImage,
// 7 CGBitmapContext, 8 file (an FSSpec), 10 pixel buffer.
struct compressionInputRecord {
    uint32_t kind;
    union {
        Handle handle;
        pointerDataRecordForCompression pointer;
        PicHandle picture;
        GWorldPtr world;
        CGImageRef image;
        CGContextRef context;
        const FSSpec* file;
        CVPixelBufferRef pixelBuffer;
    };
};

// What a session decodes from: kind 0 none, 2 pointer data, 10 a pixel buffer.
struct KelvoDecompressionInput {
    uint32_t kind = 0;
    void* data = nullptr;
    uint32_t size = 0;
    void* extra = nullptr;
};

class Kelvo_VideoDecompressionSession : public Kelvo_QTObj {
  public:
    Kelvo_VideoDecompressionSession() = default;
    explicit Kelvo_VideoDecompressionSession(Kelvo_ImgDesc* parameters);
    Kelvo_VideoDecompressionSession(const Kelvo_VideoDecompressionSession&) = delete;
    Kelvo_VideoDecompressionSession& operator=(const Kelvo_VideoDecompressionSession&) = delete;
    ~Kelvo_VideoDecompressionSession() override;

    const char* qtObjName() const override { return "Kelvo_VideoDecompressionSession"; }
    bool qtObjIsValid() override { return _parameters != nullptr && _parameters->qtObjIsValid(); }
    bool qtObjIsValid() const override { return _parameters != nullptr && _parameters->qtObjIsValid(); }
    // Ends the session, forgets the parameters, the transform and the input.
    void defaultStatus() override;
    bool isA(const char* name) const override;

    virtual Kelvo_ImgDesc* sessionParameters() { return _parameters; }
    virtual bool sessionParameters(Kelvo_ImgDesc* parameters);
    virtual KelvoDecompressionInput& inputStorage() { return _input; }
    virtual void inputStorage(compressionInputRecord* record);
    virtual Kelvo_DisplayTransform& displayTransformations() { return _transform; }
    virtual void displayTransformations(Kelvo_DisplayTransform* transform) = 0;
    virtual int32_t framesCount() { return _framesCount; }
    virtual bool isActive() = 0;
    virtual bool beginSession(Kelvo_QDGWorldBuffer* destination) = 0;
    virtual void decompressData(int64_t time, int64_t scale) = 0;
    virtual void endSession() = 0;

  protected:
    // The checks every session makes before it begins: a valid, inactive session with an input
    // and a valid destination, which it then draws into; the frame count starts again.
    bool takeDestination(Kelvo_QDGWorldBuffer* destination);

    Kelvo_ImgDesc* _parameters = nullptr;
    int32_t _framesCount = 0;
    Kelvo_QDGWorldBuffer* _destination = nullptr;
    Kelvo_DisplayTransform _transform;
    KelvoDecompressionInput _input;
    // A world's description made for a world input; kept while the input points at its pixels.
    Kelvo_ImgDesc* _worldDescription = nullptr;
};

class Kelvo_ISDecompressionSession : public Kelvo_VideoDecompressionSession {
  public:
    Kelvo_ISDecompressionSession() = default;
    explicit Kelvo_ISDecompressionSession(Kelvo_ImgDesc* parameters);
    ~Kelvo_ISDecompressionSession() override;

    const char* qtObjName() const override { return "Kelvo_ISDecompressionSession"; }
    bool isA(const char* name) const override;
    void displayTransformations(Kelvo_DisplayTransform* transform) override;
    using Kelvo_VideoDecompressionSession::displayTransformations;
    bool isActive() override { return _sequence != 0; }
    bool beginSession(Kelvo_QDGWorldBuffer* destination) override;
    void decompressData(int64_t time, int64_t scale) override;
    void endSession() override;

    int32_t sequence() const { return _sequence; }

  protected:
    void updateSessionDisplayParams();
    int32_t _sequence = 0;
};

// The sources an effect draws: worlds the caller owns.
struct KelvoEffectSources {
    GWorldPtr* worlds = nullptr;
    int32_t count = 0;
};

class Kelvo_ISEffectDecompressionSession : public Kelvo_ISDecompressionSession {
  public:
    Kelvo_ISEffectDecompressionSession();
    explicit Kelvo_ISEffectDecompressionSession(Kelvo_ImgDesc* parameters);
    ~Kelvo_ISEffectDecompressionSession() override;

    const char* qtObjName() const override { return "Kelvo_ISEffectDecompressionSession"; }
    bool isA(const char* name) const override;
    void defaultStatus() override;
    // Only effect descriptions (9 for anything else).
    bool sessionParameters(Kelvo_ImgDesc* parameters) override;
    using Kelvo_ISDecompressionSession::sessionParameters;
    // Only the effect's description in a handle (kind 1); 79 for anything else.
    void inputStorage(compressionInputRecord* record) override;
    using Kelvo_ISDecompressionSession::inputStorage;
    bool beginSession(Kelvo_QDGWorldBuffer* destination) override;
    void decompressData(int64_t time, int64_t scale) override;
    void endSession() override;

    KelvoEffectSources& sources() { return _sources; }
    TimeBase timeBase() const { return _timeBase; }

  private:
    bool sessionSetDataSources();
    void sessionRefreshDataSources();
    void resetGWSources();

    struct Slot {
        uint32_t size = 0;
        ImageSequenceDataSource source = 0;
        Kelvo_ImgDesc* desc = nullptr;
        void* base = nullptr;
    };
    KelvoEffectSources _sources;
    Slot _slots[3];
    TimeBase _timeBase = nullptr;
};

class Kelvo_ICMDecompressionSession : public Kelvo_VideoDecompressionSession {
  public:
    Kelvo_ICMDecompressionSession() = default;
    explicit Kelvo_ICMDecompressionSession(Kelvo_ImgDesc* parameters);
    ~Kelvo_ICMDecompressionSession() override;

    const char* qtObjName() const override { return "Kelvo_ICMDecompressionSession"; }
    bool isA(const char* name) const override;
    // Kind 10 (a pixel buffer) is taken as it is; other kinds as the base takes them.
    void inputStorage(compressionInputRecord* record) override;
    using Kelvo_VideoDecompressionSession::inputStorage;
    void displayTransformations(Kelvo_DisplayTransform* transform) override;
    using Kelvo_VideoDecompressionSession::displayTransformations;
    bool isActive() override { return _session != nullptr; }
    bool beginSession(Kelvo_QDGWorldBuffer* destination) override;
    void decompressData(int64_t, int64_t) override {}
    void endSession() override;

    ICMDecompressionSessionRef session() const { return _session; }
    ICMDecompressionFrameOptionsRef frameOptions() const { return _frameOptions; }

  private:
    static void _decompressionTrackingCallback(void* refCon, OSStatus result, uint32_t flags,
                                               CVPixelBufferRef pixelBuffer, void* frameTime,
                                               void* sourceFrameRefCon);
    ICMDecompressionSessionRef _session = nullptr;
    ICMDecompressionFrameOptionsRef _frameOptions = nullptr;
};

class Kelvo_PropertyImageDecompressionOptions
    : public KelvoPropertyT<ICMDecompressionSessionOptionsRef, OSStatus> {
  public:
    explicit Kelvo_PropertyImageDecompressionOptions(ICMDecompressionSessionOptionsRef options);
    const char* qtObjName() const override { return "Kelvo_PropertyImageDecompressionOptions"; }
};

class Kelvo_PropertyImageDecompressionFrameOptions
    : public KelvoPropertyT<ICMDecompressionFrameOptionsRef, OSStatus> {
  public:
    explicit Kelvo_PropertyImageDecompressionFrameOptions(ICMDecompressionFrameOptionsRef options);
    const char* qtObjName() const override { return "Kelvo_PropertyImageDecompressionFrameOptions"; }
};

class Kelvo_PropertyImageDecompression : public KelvoPropertyT<ICMDecompressionSessionRef, OSStatus> {
  public:
    explicit Kelvo_PropertyImageDecompression(ICMDecompressionSessionRef session);
    const char* qtObjName() const override { return "Kelvo_PropertyImageDecompression"; }
};
