// The root of every toolkit and DICOM class: an identifier text, a status code that operations
// set instead of throwing, a validity test, a run-time type test by class name, and the copy and
// clone protocol. The host binding maps objects to host classes by the name qtObjName() returns,
// and the companion plug-in calls the virtual operations by slot, so both names and the order of
// the virtual operations below are part of the interface.
#pragma once

#include <cstdint>

class Kelvo_QTObj {
  public:
    Kelvo_QTObj();
    // A copy is a new object: it gets its own identifier and starts with status 0.
    Kelvo_QTObj(const Kelvo_QTObj& other);
    Kelvo_QTObj& operator=(const Kelvo_QTObj&) { return *this; }

    // Virtual operations in slot order.
    virtual ~Kelvo_QTObj();
    virtual const char* qtObjName() const;
    virtual bool qtObjIsValid();
    virtual bool qtObjIsValid() const;
    virtual void* qtObjReference();
    virtual void defaultStatus();
    virtual void copy(Kelvo_QTObj& source);
    virtual Kelvo_QTObj* clone();
    virtual bool isA(const char* name) const;

    // Made when first asked for: objects are made per element of a data set, and few are ever
    // asked. Like the rest of an object, not to be asked from two threads at once.
    const char* objUID() const;
    int32_t Error() const { return _status; }
    static const char* objectName() { return "Kelvo_QTObj"; }

    // Passes a valid object, and an invalid one whose status is 0; deletes (and nulls) an invalid
    // object with a non-zero status when asked to.
    static bool isValidInstance(Kelvo_QTObj*& object, int32_t& error, bool deleteIfInvalid);
    static bool isValidInstance(Kelvo_QTObj** object, int32_t& error, bool deleteIfInvalid);
    template <class T> static bool isValidInstance(T*& object, int32_t& error, bool deleteIfInvalid) {
        Kelvo_QTObj* base = object;
        bool ok = isValidInstance(base, error, deleteIfInvalid);
        if (!base) object = nullptr;
        return ok;
    }

    // Whether `other` is of this object's class (or derives from it); status 10 when not.
    bool isSameType(Kelvo_QTObj& other);

  protected:
    mutable char _objUID[36];
    int32_t _status;
};

// Status codes shared by the toolkit and DICOM classes.
constexpr int32_t kKelvoNoErr = 0;
constexpr int32_t kKelvoCopyFailed = 1;
constexpr int32_t kKelvoBadArgumentObject = 9;
constexpr int32_t kKelvoWrongType = 10;
constexpr int32_t kKelvoNothingToWorkOn = 79;
constexpr int32_t kKelvoMediaMissing = 80;
constexpr int32_t kKelvoCannotOpenForReading = 100;
constexpr int32_t kKelvoCannotOpenForWriting = 101;
constexpr int32_t kKelvoWrongFileFormat = 111;
constexpr int32_t kKelvoElementUnreadable = 303;
constexpr int32_t kKelvoIndexOutOfRange = 320;
constexpr int32_t kKelvoNotFound = 321;
constexpr int32_t kKelvoUnacceptedValue = 322;

// Debug trace, not called in normal operation: appends a line naming the object's class to
// "/fenra.txt".
void Kelvo_DbgClassDestructorCalled(Kelvo_QTObj* object);
