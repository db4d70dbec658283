// Typed properties: the platform's information, get and set calls wrapped once for every kind of
// object that has them. An instance is made on one object (never owned), selects one property
// with getInfo, reads or writes it, and is then thrown away.
#pragma once

#include "KelvoCoreObjects.h"
#include "PlatformMemory.h"
#include "PlatformProperties.h"
#include "PlatformTypes.h"

template <class Obj, class ErrT> class KelvoPropertyT : public Kelvo_QTObj {
  public:
    using InfoFn = ErrT (*)(Obj, ComponentPropertyClass, ComponentPropertyID, ComponentValueType*, ByteCount*,
                            UInt32*);
    using GetFn = ErrT (*)(Obj, ComponentPropertyClass, ComponentPropertyID, ByteCount, ComponentValuePtr,
                           ByteCount*);
    using SetFn = ErrT (*)(Obj, ComponentPropertyClass, ComponentPropertyID, ByteCount,
                           ConstComponentValuePtr);

    bool qtObjIsValid() override { return _object && _class && _info && _get && _set; }
    // Clears the selected property; the object, class and functions stay.
    void defaultStatus() override {
        _id = 0;
        _flags = 0;
        _type = 0;
        _size = 0;
    }

    // Forgets everything: the instance becomes invalid.
    virtual void reset() {
        _object = Obj();
        _class = 0;
        defaultStatus();
        _info = nullptr;
        _get = nullptr;
        _set = nullptr;
    }

    // Selects property `id` and stores its value type, size and flags; true when the platform
    // knows it. A failed query leaves no property selected.
    virtual bool getInfo(uint32_t id) {
        if (!qtObjIsValid()) return false;
        ComponentValueType type = 0;
        ByteCount size = 0;
        UInt32 flags = 0;
        _status = int32_t(_info(_object, _class, id, &type, &size, &flags));
        _type = type;
        _size = size;
        _flags = flags;
        if (_status != 0) {
            defaultStatus();
            return false;
        }
        _id = id;
        return true;
    }

    // Reads the selected property into `buffer` (the size getInfo reported); the bytes written.
    virtual uint32_t getValue(void* buffer) {
        if (!qtObjIsValid() || _id == 0) return 0;
        if (!buffer) {
            _status = paramErr;
            return 0;
        }
        ByteCount used = 0;
        _status = int32_t(_get(_object, _class, _id, _size, buffer, &used));
        return _status == 0 ? used : 0;
    }

    // The selected property's value in a new handle owned by the caller.
    virtual Handle getValue() {
        if (!qtObjIsValid()) return nullptr;
        if (_size == 0) {
            _status = paramErr;
            return nullptr;
        }
        if (_size > uint32_t(INT32_MAX)) {
            _status = memFullErr;
            return nullptr;
        }
        Handle h = NewHandleClear(Size(_size));
        if (!h) {
            _status = MemError();
            return nullptr;
        }
        uint32_t got = getValue(*h);
        if (got < _size) SetHandleSize(h, Size(got));
        return h;
    }

    // Writes the selected property; a size of 0 means the size getInfo reported.
    virtual bool setValue(const void* value, uint32_t size) {
        if (!qtObjIsValid() || _id == 0) return false;
        if (!value) {
            _status = paramErr;
            return false;
        }
        if (size == 0) size = _size;
        _status = int32_t(_set(_object, _class, _id, size, value));
        return _status == 0;
    }

    Obj object() const { return _object; }
    uint32_t propertyClass() const { return _class; }
    uint32_t propertyID() const { return _id; }
    uint32_t propertyFlags() const { return _flags; }
    uint32_t propertyType() const { return _type; }
    uint32_t valueSize() const { return _size; }

  protected:
    // The functions are kept only for a non-null object; a null one gets `nullStatus`.
    KelvoPropertyT(Obj object, uint32_t propClass, InfoFn info, GetFn get, SetFn set, int32_t nullStatus)
        : _object(object), _class(propClass) {
        if (!object) {
            _status = nullStatus;
            return;
        }
        _info = info;
        _get = get;
        _set = set;
    }

  private:
    Obj _object;
    uint32_t _class = 0;
    uint32_t _id = 0;
    uint32_t _flags = 0;
    uint32_t _type = 0;
    uint32_t _size = 0;
    InfoFn _info = nullptr;
    GetFn _get = nullptr;
    SetFn _set = nullptr;
};

class Kelvo_PropertyComponent : public KelvoPropertyT<ComponentInstance, ComponentResult> {
  public:
    Kelvo_PropertyComponent(ComponentInstance instance, uint32_t propClass);
    ~Kelvo_PropertyComponent() override;
    const char* qtObjName() const override { return "Kelvo_PropertyComponent"; }
};

class Kelvo_PropertyImageDesc : public KelvoPropertyT<ImageDescriptionHandle, OSStatus> {
  public:
    explicit Kelvo_PropertyImageDesc(ImageDescriptionHandle desc);
    ~Kelvo_PropertyImageDesc() override;
    const char* qtObjName() const override { return "Kelvo_PropertyImageDesc"; }
};

class Kelvo_PropertySoundDesc : public KelvoPropertyT<SoundDescriptionHandle, OSStatus> {
  public:
    explicit Kelvo_PropertySoundDesc(SoundDescriptionHandle desc);
    ~Kelvo_PropertySoundDesc() override;
    const char* qtObjName() const override { return "Kelvo_PropertySoundDesc"; }
};

class Kelvo_PropertyMovie : public KelvoPropertyT<Movie, OSErr> {
  public:
    Kelvo_PropertyMovie(Movie movie, uint32_t propClass);
    ~Kelvo_PropertyMovie() override;
    const char* qtObjName() const override { return "Kelvo_PropertyMovie"; }
};

class Kelvo_PropertyTrack : public KelvoPropertyT<Track, OSErr> {
  public:
    Kelvo_PropertyTrack(Track track, uint32_t propClass);
    ~Kelvo_PropertyTrack() override;
    const char* qtObjName() const override { return "Kelvo_PropertyTrack"; }
};

class Kelvo_PropertyImageCompressionOptions
    : public KelvoPropertyT<ICMCompressionSessionOptionsRef, OSStatus> {
  public:
    explicit Kelvo_PropertyImageCompressionOptions(ICMCompressionSessionOptionsRef options);
    ~Kelvo_PropertyImageCompressionOptions() override;
    const char* qtObjName() const override { return "Kelvo_PropertyImageCompressionOptions"; }
};

class Kelvo_PropertyImageCompression : public KelvoPropertyT<ICMCompressionSessionRef, OSStatus> {
  public:
    explicit Kelvo_PropertyImageCompression(ICMCompressionSessionRef session);
    ~Kelvo_PropertyImageCompression() override;
    const char* qtObjName() const override { return "Kelvo_PropertyImageCompression"; }
};

class Kelvo_PropertySampleTable : public KelvoPropertyT<QTSampleTableRef, OSStatus> {
  public:
    explicit Kelvo_PropertySampleTable(QTSampleTableRef table);
    ~Kelvo_PropertySampleTable() override;
    const char* qtObjName() const override { return "Kelvo_PropertySampleTable"; }
};
