// The image description: one image sample description of the platform (the 86-byte
// ImageDescription record in a handle, optionally followed by a colour table and typed
// extensions). Every frame that is compressed, decompressed, drawn or converted is described by
// one. Around it stand small value classes for its extensions: colour parameters, clean
// aperture, aperture-mode dimensions, and the description of a video effect with its parameters.
#pragma once

#include "KelvoCoreGraphics.h"
#include "KelvoCoreObjectsDescriptors.h"
#include "PlatformAtoms.h"
#include "PlatformDescriptions.h"
#include "PlatformImageDescriptions.h"
#include "PlatformObjects.h"

class Kelvo_Codec;
class Kelvo_Component;
class Kelvo_NCLCColorInfo;
class Kelvo_CleanAperture;
class Kelvo_ApertureModesDimensions;

class Kelvo_ImgDesc : public Kelvo_SmpDescriptor {
  public:
    static constexpr int32_t kImageDescriptionSize = int32_t(sizeof(ImageDescription));

    // An 86-byte description with the defaults: 72 dpi both ways, one frame, spatial and
    // temporal quality 512, an empty name and clutID -1.
    Kelvo_ImgDesc();
    // No description at all (for subclasses that make their own).
    explicit Kelvo_ImgDesc(uint32_t size);
    Kelvo_ImgDesc(const Kelvo_ImgDesc& other);
    // A copy of the description; one whose codec is not installed is reset with status 79.
    explicit Kelvo_ImgDesc(SampleDescriptionHandle desc);
    // The media's description at `index`; -2008 unless the media is visual.
    Kelvo_ImgDesc(Media media, int32_t index);
    // The description of the world's pixel map; 79 for a null world.
    explicit Kelvo_ImgDesc(GWorldPtr world);
    // Filled from compression settings; 79 for a null container.
    explicit Kelvo_ImgDesc(QTAtomContainer settings);
    // The graphics importer's description; 79 for a null importer.
    explicit Kelvo_ImgDesc(ComponentInstance importer);
    // A copy of the handle; 79 for null.
    explicit Kelvo_ImgDesc(ImageDescriptionHandle desc);
    Kelvo_ImgDesc& operator=(const Kelvo_ImgDesc&) = delete;
    ~Kelvo_ImgDesc() override;

    const char* qtObjName() const override { return "Kelvo_ImgDesc"; }
    // Back to the defaults (a description is made when there is none).
    void defaultStatus() override;
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;
    using Kelvo_SmpDescriptor::copy;
    bool hasExtension() override;
    uint32_t dataFormat() override;
    // Takes the codec's vendor and name too; an unknown codec leaves the description and sets
    // the codec's error.
    void dataFormat(uint32_t type) override;
    int32_t descVersion() override;
    bool copy(const Kelvo_SmpDescriptor& other) override;
    bool copy(SampleDescriptionHandle desc) override;

    // One property of the description (class 'idsc'); a failure is kept and returned.
    virtual int32_t getProperty(uint32_t type, void* value);
    virtual int32_t setProperty(uint32_t type, void* value, uint32_t size);
    // No description (invalid) and no region of interest.
    virtual void reset();
    // A new codec object for the description's codec (the caller owns it), or null.
    virtual Kelvo_Codec* qtCodecInfo();
    // Makes the codec the description's; false for an invalid codec.
    virtual bool qtCodecInfo(Kelvo_Codec& codec);

    ImageDescriptionHandle hImageDesc() const { return reinterpret_cast<ImageDescriptionHandle>(_desc); }

    // Fields of the record; getters answer 0 and setters do nothing without a description.
    int16_t qtWidth();
    void qtWidth(int16_t width);
    int16_t qtHeight();
    void qtHeight(int16_t height);
    int16_t qtDepth();
    // Values of 0 and below are ignored.
    void qtDepth(int16_t depth);
    int16_t qtFrameCount();
    void qtFrameCount(int16_t count);
    int32_t qtDataSize();
    void qtDataSize(int32_t size);
    uint32_t qtSpatialQuality();
    void qtSpatialQuality(uint32_t quality);
    uint32_t qtTemporalQuality();
    void qtTemporalQuality(uint32_t quality);
    Fixed qtFixHRes();
    void qtFixHRes(Fixed res);
    Fixed qtFixVRes();
    void qtFixVRes(Fixed res);
    int16_t qtHRes();
    void qtHRes(int16_t res);
    int16_t qtVRes();
    void qtVRes(int16_t res);
    int16_t qtClutID();
    // The clean width and height (0 when they cannot be read); setting stores the rounded value
    // as the record's width or height.
    Fixed qtFixWidth();
    void qtFixWidth(Fixed width);
    Fixed qtFixHeight();
    void qtFixHeight(Fixed height);

    // Width and height as a size (refreshed from the record).
    const Kelvo_Size& size();
    // Stores a valid, different size (truncated); sizes beyond 16 bits are refused with -50.
    void size(const Kelvo_Size& size);

    void qtROI(const Rect* roi);
    const Rect& qtROI() const { return _roi; }
    // The region of interest when it is a rectangle, else the whole description, else empty.
    void activeBounds(Rect* bounds);

    // Mode 1: the C text becomes the record's name (at most 31 characters); mode 0: the name
    // is copied out as a C text (the buffer holds at least 32 bytes).
    void qtCodecName(char* name, int mode);

    // Extensions.
    int32_t removeExtension(uint32_t type);
    bool isInterlaced();
    double gamma();
    // A gamma below 1 removes the extension.
    bool gamma(double value);
    Kelvo_NCLCColorInfo* colorInfo();
    bool colorInfo(Kelvo_NCLCColorInfo* info);
    Kelvo_CleanAperture* cleanAperture();
    bool cleanAperture(Kelvo_CleanAperture* aperture);
    Kelvo_Point* pixelAspectRatio();
    bool pixelAspectRatio(Kelvo_Point* ratio);
    Kelvo_ApertureModesDimensions* apertureDimensions();
    Kelvo_Size* encodedDimensions();
    bool encodedDimensions(Kelvo_Size* size);
    // The summary text as a new C text (delete[]); `out` is cleared first.
    int32_t settingsToString(char*& out);

    // Writes the spatial settings (and, with the flag, the clean dimensions) of the description.
    int32_t FillQTAtomSettings(QTAtomContainer settings, bool withDimensions);

    // New handles (the caller owns them): a copy with every field swapped; 0 when invalid.
    Handle nativeToBig();
    Handle bigToNative();
    // Swap in place.
    static void NtoB(Handle desc);
    static void BtoN(Handle desc);
    static void NtoB(Kelvo_ImgDesc& desc) { NtoB(desc._desc); }
    static void BtoN(Kelvo_ImgDesc& desc) { BtoN(desc._desc); }

  protected:
    void setDefaults();
    // Resets the description and sets 79 when its codec is not installed; false then.
    bool requireInstalledCodec();
    template <class T> T field(Size offset) const {
        T v{};
        return readField(offset, &v, Size(sizeof v)) ? v : T{};
    }
    template <class T> void field(Size offset, T v) { writeField(offset, &v, Size(sizeof v)); }

    Rect _roi{0, 0, 0, 0};
    Kelvo_Size _size;
};

// The 'nclc' colour parameters.
class Kelvo_NCLCColorInfo : public Kelvo_QTObj {
  public:
    Kelvo_NCLCColorInfo();
    Kelvo_NCLCColorInfo(const Kelvo_NCLCColorInfo& other);
    explicit Kelvo_NCLCColorInfo(ImageDescriptionHandle desc);
    Kelvo_NCLCColorInfo& operator=(const Kelvo_NCLCColorInfo& other);
    Kelvo_NCLCColorInfo& operator=(ImageDescriptionHandle desc);
    ~Kelvo_NCLCColorInfo() override;

    const char* qtObjName() const override { return "Kelvo_NCLCColorInfo"; }
    bool qtObjIsValid() override;
    bool qtObjIsValid() const override;
    void defaultStatus() override;
    void copy(Kelvo_QTObj& source) override;
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;

    uint16_t chromaticCoordinates() const { return _info.primaries; }
    void chromaticCoordinates(uint16_t v) { _info.primaries = v; }
    uint16_t transferFunction() const { return _info.transferFunction; }
    void transferFunction(uint16_t v) { _info.transferFunction = v; }
    uint16_t matrix() const { return _info.matrix; }
    void matrix(uint16_t v) { _info.matrix = v; }
    NCLCColorInfoImageDescriptionExtension* getNCLCInfoExtensionPtr() { return &_info; }
    operator NCLCColorInfoImageDescriptionExtension*() { return &_info; }

  private:
    void read(ImageDescriptionHandle desc);
    NCLCColorInfoImageDescriptionExtension _info{};
};

// The 'clap' clean aperture: eight 32-bit numbers, numerator and denominator of width, height
// and the two offsets.
class Kelvo_CleanAperture : public Kelvo_QTObj {
  public:
    Kelvo_CleanAperture();
    Kelvo_CleanAperture(const Kelvo_CleanAperture& other);
    explicit Kelvo_CleanAperture(ImageDescriptionHandle desc);
    Kelvo_CleanAperture& operator=(const Kelvo_CleanAperture&) = delete;
    Kelvo_CleanAperture& operator=(ImageDescriptionHandle desc);
    ~Kelvo_CleanAperture() override;

    const char* qtObjName() const override { return "Kelvo_CleanAperture"; }
    bool qtObjIsValid() override { return _clap != nullptr; }
    bool qtObjIsValid() const override { return _clap != nullptr; }
    void defaultStatus() override;
    void copy(Kelvo_QTObj& source) override;
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;

    const Kelvo_Rect& getNumeratorDimensions();
    const Kelvo_Rect& getDenominatorDimensions();
    const Kelvo_Point& getNumeratorOffset();
    const Kelvo_Point& getDenominatorOffset();
    void setNumeratorDimensions(const Kelvo_Rect& r);
    void setDenominatorDimensions(const Kelvo_Rect& r);
    void setNumeratorOffset(const Kelvo_Point& p);
    void setDenominatorOffset(const Kelvo_Point& p);

    CleanApertureImageDescriptionExtension* record() { return _clap; }

  private:
    void read(ImageDescriptionHandle desc);
    CleanApertureImageDescriptionExtension* _clap = nullptr;
    Kelvo_Rect _rect;
    Kelvo_Point _point;
};

// The four aperture modes of a description or a track: classic, clean, production and encoded
// pixels, each a width and height in Fixed.
class Kelvo_ApertureModesDimensions : public Kelvo_QTObj {
  public:
    Kelvo_ApertureModesDimensions();
    Kelvo_ApertureModesDimensions(const Kelvo_ApertureModesDimensions& other);
    explicit Kelvo_ApertureModesDimensions(ImageDescriptionHandle desc);
    explicit Kelvo_ApertureModesDimensions(Track track);
    Kelvo_ApertureModesDimensions& operator=(const Kelvo_ApertureModesDimensions&) = delete;
    Kelvo_ApertureModesDimensions& operator=(ImageDescriptionHandle desc);
    Kelvo_ApertureModesDimensions& operator=(Track track);
    ~Kelvo_ApertureModesDimensions() override;

    const char* qtObjName() const override { return "Kelvo_ApertureModesDimensions"; }
    bool qtObjIsValid() override { return true; }
    bool qtObjIsValid() const override { return true; }
    void defaultStatus() override;
    void copy(Kelvo_QTObj& source) override;
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;

    const Kelvo_Rect& classicDimensions() { return rectOf(_classic); }
    const Kelvo_Rect& cleanDimensions() { return rectOf(_clean); }
    const Kelvo_Rect& productionDimensions() { return rectOf(_production); }
    const Kelvo_Rect& encodedDimensions() { return rectOf(_encoded); }
    void classicDimensions(const Kelvo_Rect& r) { store(_classic, r); }
    void cleanDimensions(const Kelvo_Rect& r) { store(_clean, r); }
    void productionDimensions(const Kelvo_Rect& r) { store(_production, r); }
    void encodedDimensions(const Kelvo_Rect& r) { store(_encoded, r); }

    const FixedPoint& classic() const { return _classic; }
    const FixedPoint& clean() const { return _clean; }
    const FixedPoint& production() const { return _production; }
    const FixedPoint& encoded() const { return _encoded; }

  private:
    void clear();
    void read(ImageDescriptionHandle desc);
    void read(Track track);
    const Kelvo_Rect& rectOf(const FixedPoint& p);
    static void store(FixedPoint& p, const Kelvo_Rect& r);

    FixedPoint _classic{0, 0};
    FixedPoint _clean{0, 0};
    FixedPoint _production{0, 0};
    FixedPoint _encoded{0, 0};
    Kelvo_Rect _rect;
};

// A description whose codec is a video effect, with the effect's parameter container and the
// number of sources it takes.
class Kelvo_EffectDesc : public Kelvo_ImgDesc {
  public:
    Kelvo_EffectDesc();
    explicit Kelvo_EffectDesc(Kelvo_Component& component);
    explicit Kelvo_EffectDesc(QTAtomContainer parameters);
    explicit Kelvo_EffectDesc(uint32_t effectType);
    Kelvo_EffectDesc(const Kelvo_EffectDesc& other);
    Kelvo_EffectDesc& operator=(uint32_t effectType) {
        dataFormat(effectType);
        return *this;
    }
    ~Kelvo_EffectDesc() override;

    const char* qtObjName() const override { return "Kelvo_EffectDesc"; }
    bool qtObjIsValid() override;
    bool qtObjIsValid() const override;
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;
    using Kelvo_ImgDesc::dataFormat;
    void dataFormat(uint32_t type) override;
    bool copy(const Kelvo_SmpDescriptor& other) override;
    bool copy(SampleDescriptionHandle desc) override;
    void reset() override;
    Kelvo_Codec* qtCodecInfo() override;
    bool qtCodecInfo(Kelvo_Codec& codec) override;

    virtual void initEffectDesc(uint32_t effectType, QTAtomContainer parameters);
    virtual void initEffectParams(uint32_t effectType);
    virtual QTAtomContainer settings() { return _parameters; }
    // A copy of the parameters with the source atoms the effect takes ("srcA", "srcB", "srcC");
    // the caller disposes it.
    virtual int32_t effDescription(QTAtomContainer* description);

    int32_t qtSourcesReq() const { return _sources; }
    Fixed qtFixEffectSpeed();
    double qtEffectSpeed();
    bool isRealTimeEffect();

  private:
    void disposeParameters();
    void readSources();

    QTAtomContainer _parameters = nullptr;
    int32_t _sources = -1;
};
