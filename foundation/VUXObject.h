// Root of the foundation's own object framework: an identifier label, an error code, a type test
// by class name, equality, copy and clone, a readable description and a stream form. Each public
// operation checks its preconditions and then calls the protected hook of the same role, which
// subclasses override.
#pragma once

#include <cstdint>
#include <iosfwd>

namespace VUX {

// Error codes of the foundation framework.
enum vuxErrors : int32_t {
    vuxNoErr = 0,
    vuxRangeErr = 1,        // a bad range in a string operation
    vuxSegmentErr = 80,     // a segment outside a container's items
    vuxParamErr = -50,      // a bad parameter
    vuxNullParamErr = -107, // a null object or pointer argument
    vuxMemFullErr = -108,   // an array that cannot grow
};

class VUXObject {
  public:
    VUXObject();
    // A copy carries the other object's error but gets an identifier of its own.
    VUXObject(VUXObject const& other);
    virtual ~VUXObject();

    static const char* objectName() { return "VUXObject"; }
    const char* uid() const { return _uid; }

    // False with -107 for a null pointer; true with 0 for a valid object; otherwise false with
    // the object's error, deleting the object (and nulling the pointer) when asked to.
    static bool isValidInstance(VUXObject*& object, int32_t& error, bool deleteIfInvalid);

    VUXObject& operator=(VUXObject const& other);
    bool operator==(VUXObject const& other) const { return equal(other); }
    bool operator!=(VUXObject const& other) const { return !equal(other); }

    virtual const char* className() const;
    virtual bool isA(const char* name) const;
    virtual std::ostream& readableDescription(std::ostream& stream) const;
    virtual bool equal(VUXObject const& other) const;
    virtual VUXObject* clone() const;
    virtual void copy(VUXObject const& other);
    virtual bool isValid() const;
    virtual void defaultStatus();
    virtual int32_t error() const;
    virtual std::ostream& write(std::ostream& stream) const;
    virtual std::istream& read(std::istream& stream);

  protected:
    virtual VUXObject* _clone() const;
    virtual void _readableDescription(std::ostream& stream) const;
    virtual void _toStream(std::ostream& stream) const;
    virtual void _fromStream(std::istream& stream);
    virtual bool _compare(VUXObject const& other) const;
    virtual void _copy(VUXObject const& other);

    char _uid[33];
    int32_t _error;

  private:
    void makeIdentifier();
};

std::ostream& operator<<(std::ostream& stream, VUXObject const& object);
std::istream& operator>>(std::istream& stream, VUXObject& object);

} // namespace VUX
