// The component and codec catalogue: the toolkit's view of the platform's components. A
// component object describes one component (names, type, subtype, manufacturer, flags, icon); a
// search object describes what to look for; a codec object carries a codec's capability record;
// a component object may hold an open connection (instance), and the clock is the component that
// drives time bases. The listing functions enumerate installed codecs and components.
//
// The order of the virtual operations is part of the interface (the companion plug-in calls
// them by slot).
#pragma once

#include "KelvoAtomicsLists.h"
#include "KelvoCoreObjects.h"
#include "PlatformCodecRegistry.h"
#include "PlatformComponents.h"
#include "PlatformObjects.h"

class Kelvo_QTObjComponent : public Kelvo_QTObj {
  public:
    // The thread-safe component flag, and the flag of a component that is registered but missing.
    static constexpr uint32_t kThreadSafeFlag = 0x10000000u;
    static constexpr uint32_t kMissingFlag = 0x20000000u;

    Kelvo_QTObjComponent() = default;
    Kelvo_QTObjComponent(const Kelvo_QTObjComponent& other);
    Kelvo_QTObjComponent& operator=(const Kelvo_QTObjComponent& other);
    ~Kelvo_QTObjComponent() override;

    const char* qtObjName() const override { return "Kelvo_QTObjComponent"; }
    // Takes another component object's description (Copy).
    void copy(Kelvo_QTObj& source) override;
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;

    // Virtual operations after those of Kelvo_QTObj, in slot order.
    // reset, then init from `other`.
    virtual void Copy(Kelvo_QTObjComponent& other);
    // Frees the names and the icon suite and clears every field and the status.
    virtual void reset();

    // The first component matching the description whose flags have the thread-safe bit; null
    // when there is none.
    static Component threadSafeComponent(ComponentDescription& description);
    // Whether a thread-safe component of the type and subtype is installed (and not missing).
    static bool isThreadSafe(uint32_t type, uint32_t subType);

    // Copies the names, the icon suite (a copy of the handle), the flags, the type, subtype and
    // manufacturer.
    void init(const Kelvo_QTObjComponent& other);

    // "" when there is no name.
    const char* Name() const { return _name ? _name : ""; }
    // The name as a length-prefixed string.
    const unsigned char* PStrName() const { return _pName; }
    uint32_t Type() const { return _type; }
    uint32_t SubType() const { return _subType; }
    uint32_t Manufacturer() const { return _manufacturer; }
    Handle Icon() const { return _iconSuite; }
    bool HasIcon() const { return _iconSuite != nullptr; }
    uint32_t Properties() const { return _properties; }
    // Whether every bit of `flag` is set in the component flags.
    bool CheckAttribute(uint32_t flag) const { return (_properties & flag) == flag; }
    // A new 32 x 32 world of depth 32 (the caller disposes it) with the icon drawn into it; null
    // without an icon suite or on failure (status set).
    GWorldPtr IconImage();

  protected:
    // Both forms of the name from a C string (null: none) or a length-prefixed string.
    void setName(const char* name);
    void setPStrName(const unsigned char* pname);
    // Takes ownership of `iconSuite`, disposing the one held before.
    void adoptIconSuite(Handle iconSuite);

    char* _name = nullptr;
    unsigned char _pName[256] = {0};
    uint32_t _type = 0;
    uint32_t _subType = 0;
    uint32_t _manufacturer = 0;
    Handle _iconSuite = nullptr;
    uint32_t _properties = 0;

  private:
    void clearFields();
};

class Kelvo_ComponentForSearch : public Kelvo_QTObjComponent {
  public:
    Kelvo_ComponentForSearch() = default;
    Kelvo_ComponentForSearch(uint32_t type, uint32_t subType, uint32_t manufacturer = 0, uint32_t flags = 0,
                             uint32_t flagsMask = 0);
    explicit Kelvo_ComponentForSearch(const ComponentDescription& description);
    Kelvo_ComponentForSearch(const Kelvo_ComponentForSearch& other);
    Kelvo_ComponentForSearch& operator=(const Kelvo_ComponentForSearch& other);

    const char* qtObjName() const override { return "Kelvo_ComponentForSearch"; }
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;
    // A search object's flags mask comes along.
    void Copy(Kelvo_QTObjComponent& other) override;
    void reset() override;

    using Kelvo_QTObjComponent::Manufacturer;
    using Kelvo_QTObjComponent::Properties;
    using Kelvo_QTObjComponent::SubType;
    using Kelvo_QTObjComponent::Type;
    void Type(uint32_t type) { _type = type; }
    void SubType(uint32_t subType) { _subType = subType; }
    void Manufacturer(uint32_t manufacturer) { _manufacturer = manufacturer; }
    void Properties(uint32_t flags) { _properties = flags; }
    uint32_t& PropertiesMask() { return _flagsMask; }

    void getDescription(ComponentDescription& description) const;
    void setDescription(const ComponentDescription& description);

  protected:
    uint32_t _flagsMask = 0;
};

class Kelvo_Codec : public Kelvo_QTObjComponent {
  public:
    // Selectors of CodecCheckProperty.
    static constexpr int kCompressFlags = 0;
    static constexpr int kDecompressFlags = 1;

    // No codec: invalid.
    Kelvo_Codec() = default;
    // The codec of the type (`codec` null: the first installed component of it); the status is
    // the platform's result.
    Kelvo_Codec(uint32_t codecType, Component codec);
    Kelvo_Codec(const Kelvo_Codec& other);
    Kelvo_Codec& operator=(const Kelvo_Codec& other);

    const char* qtObjName() const override { return "Kelvo_Codec"; }
    using Kelvo_QTObjComponent::qtObjIsValid;
    bool qtObjIsValid() override { return _type != 0; }
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;
    // A codec object's record and component come along.
    void Copy(Kelvo_QTObjComponent& other) override;
    void reset() override;

    // Both valid, the same type and the same component.
    bool operator==(const Kelvo_Codec& other) const;
    bool operator!=(const Kelvo_Codec& other) const { return !(*this == other); }

    // Whether every bit of `flags` is set in the compress (selector 0) or decompress (1) flags.
    bool CodecCheckProperty(int selector, uint32_t flags) const;
    bool CodecDoesTemporal() const;
    bool CodecDoesReorder() const;
    bool CodecDoesMultiPass() const;
    bool CodecDoesRecompress() const;
    bool CodecDoesDataRate() const;
    bool CodecDoesEffect() const;
    bool CodecDoesLossless() const;
    bool isThreadSafeForCompression() const;
    bool isThreadSafeForDecompression() const;

    int16_t CodecVers() const { return _info.revisionLevel; }
    int16_t CompVers() const { return _info.version; }
    uint8_t CmpAccuracy() const { return _info.compressionAccuracy; }
    uint8_t DcmpAccuracy() const { return _info.decompressionAccuracy; }
    uint8_t CmpLevel() const { return _info.compressionLevel; }
    uint16_t CmpSpeed() const { return _info.compressionSpeed; }
    uint16_t DcmpSpeed() const { return _info.decompressionSpeed; }
    int16_t MinWidth() const { return _info.minimumWidth; }
    int16_t MinHeight() const { return _info.minimumHeight; }
    int16_t CmpPipelineLatency() const { return _info.compressPipelineLatency; }
    int16_t DcmpPipelineLatency() const { return _info.decompressPipelineLatency; }

    const CodecInfo& info() const { return _info; }
    Component codec() const { return _codec; }

    // Whether a codec of the type is installed (never asks for type 0).
    static bool codecExists(uint32_t type);

  protected:
    CodecInfo _info{};
    Component _codec = nullptr;
};

class Kelvo_Component : public Kelvo_QTObjComponent {
  public:
    // No component: invalid, status -50.
    Kelvo_Component();
    // The first matching component; a null description or no match: invalid, status -50.
    explicit Kelvo_Component(ComponentDescription* description);
    Kelvo_Component(uint32_t type, uint32_t subType);
    explicit Kelvo_Component(Component component);
    // Described from the instance (an instance names its component); with `adopt` the instance
    // becomes this object's open connection, which it closes when it goes.
    Kelvo_Component(ComponentInstance instance, bool adopt);
    // The other's component, without its connection.
    Kelvo_Component(const Kelvo_Component& other);
    Kelvo_Component& operator=(const Kelvo_Component& other);
    ~Kelvo_Component() override;

    const char* qtObjName() const override { return "Kelvo_Component"; }
    using Kelvo_QTObjComponent::qtObjIsValid;
    bool qtObjIsValid() override { return _component != nullptr; }
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;
    // reset, then the other component object's component.
    void Copy(Kelvo_QTObjComponent& other) override;
    // Closes the connection and forgets the component.
    void reset() override;

    // Virtual operations after those of Kelvo_QTObjComponent, in slot order.
    // Describes `component` (null: status -50).
    virtual void initComponent(Component component);
    // True when connected afterwards.
    virtual bool openConnection();
    // True when no connection is left.
    virtual bool closeConnection();
    virtual bool isConnected();

    // Invalid objects are never equal.
    bool operator==(const Kelvo_Component& other) const;
    bool operator!=(const Kelvo_Component& other) const { return !(*this == other); }

    Component id() const { return _component; }
    ComponentInstance instance() const { return _instance; }
    operator Component() const { return _component; }
    operator ComponentInstance() const { return _instance; }

    using Kelvo_QTObjComponent::isThreadSafe;
    bool isThreadSafe() const { return isThreadSafe(_type, _subType); }
    // A new object (the caller owns it) for the first thread-safe component of this type and
    // subtype; null when invalid or when there is none.
    Kelvo_Component* threadSafeInstance();

  protected:
    Component _component = nullptr;
    ComponentInstance _instance = nullptr;

  private:
    void closeInstance();
};

class Kelvo_Clock : public Kelvo_Component {
  public:
    // The clock component of the subtype ('micr': the system clock), not yet connected; owns
    // the connection it opens.
    explicit Kelvo_Clock(uint32_t subType);
    // Wraps an existing clock instance; with `owns` clear the destructor leaves the clock open.
    Kelvo_Clock(ComponentInstance instance, unsigned char adopt, unsigned char owns);
    Kelvo_Clock(const Kelvo_Clock& other);
    Kelvo_Clock& operator=(const Kelvo_Clock& other);
    ~Kelvo_Clock() override;

    const char* qtObjName() const override { return "Kelvo_Clock"; }
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;
    // A connection the clock does not own is forgotten, never closed.
    void reset() override;
    void initComponent(Component component) override;

  protected:
    uint8_t _owns = 1;
};

// New lists (owned by the caller) that own the objects appended to them; `err` takes the first
// error, which ends the listing.
// Every installed codec from the platform's name list, in its order; null when the name list
// cannot be had.
Kelvo_QTObjectsList* Kelvo_GetListOfAvailableCodecs(int32_t& err);
// The components matching the description, in the platform's order (null description: -50).
Kelvo_QTObjectsList* Kelvo_GetListOfComponents(ComponentDescription* description, int32_t& err);
// Every component.
Kelvo_QTObjectsList* Kelvo_GetListOfComponents(int32_t& err);
// By the search object's description; null: -50.
Kelvo_QTObjectsList* Kelvo_GetListOfComponents(Kelvo_ComponentForSearch* search, int32_t& err);
// By kind: 1 graphics importers, 2 graphics exporters, 3 movie importers, 4 movie exporters,
// 5 video outputs, 6 video digitisers, 9 decompressors that are effects; another kind: -50.
Kelvo_QTObjectsList* Kelvo_GetListOfComponents(int kind, int32_t& err);
