// Stand-ins for the movie layer's wrappers: objects that answer to a wrapper's class name and
// hand out a platform reference, as the wrappers do.
#pragma once

#include "KelvoCoreObjects.h"

class FakeWrapper : public Kelvo_QTObj {
  public:
    FakeWrapper(const char* name, void* reference) : _name(name), _reference(reference) {}
    const char* qtObjName() const override { return _name; }
    void* qtObjReference() override { return _reference; }

  private:
    const char* _name;
    void* _reference;
};
