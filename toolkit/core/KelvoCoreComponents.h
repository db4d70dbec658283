// The least of the component classes that the time base needs: a component with an optional open
// instance, and the clock component wrapper that a time base hands out for its master clock. The
// imaging layer's component catalogue completes these classes (names, descriptions, connections).
#pragma once

#include "KelvoCoreObjects.h"
#include "PlatformPendingDisplayCalls.h"
#include "PlatformTimeBase.h"

class Kelvo_Component : public Kelvo_QTObj {
  public:
    // No component: invalid, status -50.
    Kelvo_Component();
    explicit Kelvo_Component(Component component);
    // Described from the instance (an instance names its component too); with `adopt` the
    // instance becomes this object's open instance, which it closes when it goes.
    Kelvo_Component(ComponentInstance instance, bool adopt);
    Kelvo_Component(const Kelvo_Component&) = delete;
    Kelvo_Component& operator=(const Kelvo_Component&) = delete;
    ~Kelvo_Component() override;

    const char* qtObjName() const override { return "Kelvo_Component"; }
    using Kelvo_QTObj::qtObjIsValid;
    bool qtObjIsValid() override { return _component != nullptr; }
    bool isA(const char* name) const override;

    Component id() const { return _component; }
    ComponentInstance instance() const { return _instance; }

  protected:
    Component _component = nullptr;
    ComponentInstance _instance = nullptr;
};

class Kelvo_Clock : public Kelvo_Component {
  public:
    // Wraps an existing clock instance; with `owns` clear the destructor leaves the clock open.
    Kelvo_Clock(ComponentInstance instance, unsigned char adopt, unsigned char owns);
    ~Kelvo_Clock() override;

    const char* qtObjName() const override { return "Kelvo_Clock"; }
    bool isA(const char* name) const override;

  protected:
    uint8_t _owns = 1;
};
