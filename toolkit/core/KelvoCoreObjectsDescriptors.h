// Sample descriptions: the handle-held records that tell a media's samples apart (format, size,
// codec data). Kelvo_MediaDataDescriptor owns a description and an optional extension handle;
// Kelvo_SmpDescriptor adds the generic operations and is the base of the image and sound
// descriptions.
#pragma once

#include "KelvoCoreObjects.h"
#include "PlatformDescriptions.h"
#include "PlatformObjects.h"
#include "PlatformTypes.h"

class Kelvo_MediaDataDescriptor : public Kelvo_QTObj {
  public:
    Kelvo_MediaDataDescriptor() = default;
    // Owns a copy of the description.
    explicit Kelvo_MediaDataDescriptor(SampleDescriptionHandle desc);
    Kelvo_MediaDataDescriptor(const Kelvo_MediaDataDescriptor&) = delete;
    Kelvo_MediaDataDescriptor& operator=(const Kelvo_MediaDataDescriptor&) = delete;
    ~Kelvo_MediaDataDescriptor() override;

    const char* qtObjName() const override { return "Kelvo_MediaDataDescriptor"; }
    bool qtObjIsValid() override { return _desc != nullptr; }
    bool qtObjIsValid() const override { return _desc != nullptr; }
    void* qtObjReference() override { return _desc; }
    void defaultStatus() override;
    bool isA(const char* name) const override;

    virtual bool hasExtension() { return _extension != nullptr; }
    virtual uint32_t dataFormat() = 0;
    virtual void dataFormat(uint32_t format) = 0;
    virtual int32_t descSize() = 0;
    virtual int16_t descIndex() = 0;
    virtual int32_t descVersion() { return 0; }

    Handle hdesc() const { return _desc; }
    Handle hdescExtension() const { return _extension; }
    // New copies owned by the caller; null when the handle is missing.
    Handle hdescCopy();
    Handle hdescExtensionCopy();

  protected:
    // Takes copies of `other`'s handles; false for itself, an invalid `other` (status 9) or a
    // failed copy.
    bool pCopy(const Kelvo_MediaDataDescriptor& other);
    Handle copyOf(Handle h);

    Handle _desc = nullptr;
    Handle _extension = nullptr;
};

class Kelvo_SmpDescriptor : public Kelvo_MediaDataDescriptor {
  public:
    static constexpr int32_t defaultDescriptorSize = 16;

    // A zero-filled description of `size` bytes whose size word holds the size.
    explicit Kelvo_SmpDescriptor(int32_t size = defaultDescriptorSize);
    Kelvo_SmpDescriptor(const Kelvo_SmpDescriptor& other);
    explicit Kelvo_SmpDescriptor(SampleDescriptionHandle desc);
    // The media's sample description `index` (1-based); -2008 for a null media.
    Kelvo_SmpDescriptor(Media media, int32_t index);
    // A sequence-grabber channel's sample description; -50 for a null channel.
    explicit Kelvo_SmpDescriptor(SGChannel channel);
    Kelvo_SmpDescriptor& operator=(Kelvo_SmpDescriptor& other) {
        copy(other);
        return *this;
    }
    Kelvo_SmpDescriptor& operator=(SampleDescriptionHandle desc) {
        copy(desc);
        return *this;
    }
    operator SampleDescriptionHandle() const { return hSampleDesc(); }

    const char* qtObjName() const override { return "Kelvo_SmpDescriptor"; }
    void copy(Kelvo_QTObj& source) override;
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;

    // Fields of the description; 0 (and nothing written) when it is missing or too short.
    uint32_t dataFormat() override;
    void dataFormat(uint32_t format) override;
    int32_t descSize() override;
    int16_t descIndex() override;

    virtual void init();
    virtual bool copy(const Kelvo_SmpDescriptor& other);
    virtual bool copy(SampleDescriptionHandle desc);
    virtual SampleDescriptionHandle hSampleDesc() const {
        return reinterpret_cast<SampleDescriptionHandle>(_desc);
    }
    virtual SampleDescriptionHandle hSampleDescCopy();

    int32_t descriptorSize() const { return _descriptorSize; }

  protected:
    // The bytes of the description from `offset`, when it holds them.
    bool readField(Size offset, void* out, Size size) const;
    bool writeField(Size offset, const void* in, Size size);

    int32_t _descriptorSize = defaultDescriptorSize;
};
