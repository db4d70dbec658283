// The common base of the wrappers of the platform's movie objects (movies, tracks and media):
// one virtual interface for times, bounds, display, sound, language, user data, metadata, frame
// grabbing, export and named edit states, so that presentations, converters and the host binding
// treat a movie, a track or a media alike.
//
// Edit states are named snapshots of an object's edits. The platform keeps each snapshot; the
// container keeps the Kelvo_EditState objects that name them, in registration order. The host
// binding and the companion plug-in call the virtual operations by slot, so their order below is
// part of the interface.
#pragma once

#include "KelvoAtomicsLists.h"
#include "KelvoCoreGraphics.h"
#include "KelvoCoreObjects.h"
#include "KelvoCoreObjectsTypes.h"

class Kelvo_CoreDisplayParams;
class Kelvo_DataReference;
class Kelvo_DisplayTransform;
class Kelvo_EditState;
class Kelvo_MetaDataList;
class Kelvo_QDGWorldBuffer;
class Kelvo_UDataList;

// An object whose edits can be snapshot and restored.
class Kelvo_EditStateRegistrable {
  public:
    virtual ~Kelvo_EditStateRegistrable() = default;
    // A new platform snapshot of the object's edits; null when none can be made.
    virtual void* registerState() = 0;
    // Restores the object to the snapshot; the platform's status.
    virtual int32_t useState(const Kelvo_EditState& state) = 0;
    // Disposes of the snapshot; the platform's status.
    virtual int32_t removeState(const Kelvo_EditState& state) = 0;
};

// One snapshot of an owner's edits with its name. The snapshot is taken when the state is made
// and disposed of through the owner when the state goes; a state is therefore never copied.
class Kelvo_EditState : public Kelvo_QTObj {
  public:
    explicit Kelvo_EditState(Kelvo_EditStateRegistrable& owner);
    Kelvo_EditState(Kelvo_EditStateRegistrable& owner, const char* text);
    Kelvo_EditState(const Kelvo_EditState&) = delete;
    Kelvo_EditState& operator=(const Kelvo_EditState&) = delete;
    ~Kelvo_EditState() override;

    const char* qtObjName() const override { return "Kelvo_EditState"; }
    bool qtObjIsValid() override { return _editState != nullptr; }
    bool qtObjIsValid() const override { return _editState != nullptr; }
    void* qtObjReference() override { return _editState; }
    bool isA(const char* name) const override;

    // Only on a valid state: the text is copied (null clears the name).
    void description(const char* text);
    // The name, or the identifier's text when there is none.
    const char* description();
    // The owner's status of restoring the snapshot; 0 (false) for an invalid state.
    int32_t use();

    void* editState() const { return _editState; }
    const Kelvo_UUID& uid() const { return _uid; }

  private:
    Kelvo_UUID _uid;
    void* _editState = nullptr;
    char* _description = nullptr;
    Kelvo_EditStateRegistrable* _owner;
};

class Kelvo_Container : public Kelvo_QTObj, public Kelvo_EditStateRegistrable {
  public:
    Kelvo_Container() = default;
    Kelvo_Container(const Kelvo_Container&) = delete;
    Kelvo_Container& operator=(const Kelvo_Container&) = delete;
    // The states still listed go with the container; their snapshots are left to the subclass
    // (see removeAllStates).
    ~Kelvo_Container() override;

    const char* qtObjName() const override { return "Kelvo_Container"; }
    bool isA(const char* name) const override;

    // Virtual operations after those of Kelvo_QTObj, in slot order.
    // The base keeps no snapshots.
    void* registerState() override { return nullptr; }
    int32_t useState(const Kelvo_EditState&) override { return 0; }
    int32_t removeState(const Kelvo_EditState&) override { return 0; }
    virtual int32_t getProperty(uint32_t propertyClass, uint32_t propertyId, void* value);
    virtual int32_t setProperty(uint32_t propertyClass, uint32_t propertyId, void* value, uint32_t size);
    virtual bool qtHasVideo() = 0;
    virtual bool qtHasSound() = 0;
    virtual bool enabled() = 0;
    virtual void enabled(bool on) = 0;
    virtual bool isThreadSafe() const = 0;
    virtual bool isDRMAuthorized(bool allowUserInteraction) = 0;
    virtual int16_t qtSndVolume() = 0;
    virtual void qtSndVolume(int16_t volume) = 0;
    virtual uint32_t qtCreationTime() = 0;
    virtual uint32_t qtModificationTime() = 0;
    // From the current time to the end, in the object's time scale.
    virtual void timeInfo(Kelvo_TimeRange64& range);
    virtual int32_t time() const = 0;
    virtual void time(int32_t t) = 0;
    virtual int32_t timeScale() const = 0;
    virtual void timeScale(int32_t scale) = 0;
    virtual int32_t duration() const = 0;
    virtual void duration(int32_t newDuration);
    virtual void duration(Kelvo_TimeRange* range, int32_t newDuration) = 0;
    virtual void sampleTimeInfoForTime(double t, Kelvo_TimeRange64& out) = 0;
    virtual double sizeOfSelection(Kelvo_TimeRange* range) = 0;
    virtual int32_t qtLoadInRAM(Kelvo_TimeRange* range, int32_t flags) = 0;
    virtual Kelvo_Rect& qtNaturalBounds() = 0;
    virtual Kelvo_Rect& qtBounds() = 0;
    virtual void qtBounds(Kelvo_Rect& bounds);
    virtual void qtDisplayProperties(Kelvo_DisplayTransform* transform) = 0;
    // A new set of display parameters of this object (the caller deletes it); null when invalid.
    virtual Kelvo_CoreDisplayParams* displayParams();
    virtual void displayParams(Kelvo_CoreDisplayParams* params) = 0;
    virtual bool hasApertureModes() = 0;
    virtual void generateApertureModes() = 0;
    virtual void removeApertureModes() = 0;
    virtual bool highQualityEnabled() = 0;
    virtual void highQualityEnabled(bool on) = 0;
    virtual bool singleFieldEnabled() = 0;
    virtual void singleFieldEnabled(bool on) = 0;
    virtual int16_t qtLanguage() = 0;
    virtual void qtLanguage(int16_t language) = 0;
    virtual Kelvo_UDataList* qtUDataList() = 0;
    virtual Kelvo_MetaDataList* qtMetaDataList() = 0;
    virtual void qtAddEmptySegment(Kelvo_TimeRange* range) = 0;
    virtual void qtDeleteSegment(Kelvo_TimeRange* range) = 0;
    virtual void frameAtTime(Kelvo_QDGWorldBuffer*& out, int32_t t, Kelvo_DisplayTransform* transform) = 0;
    virtual void frame(Kelvo_QDGWorldBuffer*& out, Kelvo_DisplayTransform* transform) = 0;
    virtual void thumbnailAtTime(Kelvo_QDGWorldBuffer*& out, int32_t t) = 0;
    virtual void thumbnail(Kelvo_QDGWorldBuffer*& out) = 0;
    // Named edit states, by 0-based index.
    virtual bool qtAddState(char* name);
    // 0 when there is no state at `index`; else the status of restoring it.
    virtual int32_t qtUseState(int32_t index);
    // Removes the state; its snapshot is disposed of through removeState.
    virtual void qtRemoveState(int32_t index);
    // `name` becomes a new array (delete[] by the caller) holding the state's name or identifier
    // text, or null when there is no state at `index`.
    virtual void getStateName(char*& name, int32_t index);
    virtual void setStateName(char* name, int32_t index);
    virtual int16_t stateCount();
    // Registers a new state; false (with the snapshot's status) when no snapshot can be made.
    virtual bool editStateRegister(const char* name);
    virtual void exportData(Kelvo_DataReference& ref, Kelvo_OSType& fileType, bool showDialog) = 0;

    const Kelvo_QTObjectsList& editStatesList() const { return _editStates; }

  protected:
    // Removes every state while the subclass can still dispose of its snapshots. The states
    // left when the container itself goes meet only the base bodies, which dispose of nothing,
    // so a subclass that keeps snapshots calls this from its own destructor.
    void removeAllStates();

    Kelvo_Rect _bounds;

  private:
    Kelvo_EditState* stateAt(int32_t index);

    Kelvo_QTObjectsList _editStates;
};
