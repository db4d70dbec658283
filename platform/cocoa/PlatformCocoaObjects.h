// The reference-counted root of the Foundation stand-in and its autorelease pools.
//
// An object starts with one reference, owned by whoever made it with a `create...` call;
// `release` drops a reference and deletes the object at zero. Factories named like the
// platform's convenience constructors (`stringWithUTF8String`, `dataReferenceWithDataRef`, ...)
// return autoreleased objects: the innermost pool of the calling thread owns that reference, and
// the object lives until the pool drains. Retain it to keep it longer.
//
// Every thread has an outermost pool of its own, drained when the thread ends, so an object
// autoreleased outside any explicit pool is never lost. Code that autoreleases in a loop, or a
// host's event loop, brackets its work with an `NSAutoreleasePool` on the stack so that the
// objects go as soon as the work is done.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

class NSObject {
  public:
    NSObject(const NSObject&) = delete;
    NSObject& operator=(const NSObject&) = delete;

    void retain() const { _refs.fetch_add(1, std::memory_order_relaxed); }
    // Deletes the object when the last reference goes.
    void release() const;
    // Hands one reference to the innermost pool of the calling thread.
    void autorelease() const;
    uint32_t retainCount() const { return _refs.load(std::memory_order_relaxed); }

  protected:
    NSObject() = default;
    virtual ~NSObject() = default;

  private:
    mutable std::atomic<uint32_t> _refs{1};
};

// Hands a new object's first reference to the innermost pool and gives the object back, for the
// factories that return autoreleased objects; null stays null.
template <class T> T* autoreleased(T* object) {
    if (object) object->autorelease();
    return object;
}

// A pool is pushed when it is made and drained and popped when it goes. Pools nest in the order
// they are made on a thread and must go in the reverse order, on the same thread; a pool that
// goes while inner pools remain drains those first.
class NSAutoreleasePool {
  public:
    NSAutoreleasePool();
    ~NSAutoreleasePool();
    NSAutoreleasePool(const NSAutoreleasePool&) = delete;
    NSAutoreleasePool& operator=(const NSAutoreleasePool&) = delete;

    // Releases what this pool holds now; the pool stays in place for more.
    void drain();

    // Adds one reference of `object` to the calling thread's innermost pool (null: nothing).
    static void addObject(const NSObject* object);
    // How many references the calling thread's innermost pool holds.
    static size_t innermostCount();
};
