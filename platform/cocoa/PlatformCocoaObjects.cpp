#include "PlatformCocoaObjects.h"

#include <vector>

namespace {

struct PoolLevel {
    const NSAutoreleasePool* owner; // null for the thread's outermost pool
    std::vector<const NSObject*> objects;
};

// Set when the calling thread's pools have gone (the thread is ending).
thread_local bool tPoolsGone = false;

struct ThreadPools {
    std::vector<PoolLevel> levels{PoolLevel{nullptr, {}}};

    ~ThreadPools() {
        while (!levels.empty()) {
            drainLevel(levels.size() - 1);
            levels.pop_back();
        }
        tPoolsGone = true;
    }

    // Releasing an object may autorelease others into the same level: repeat until it is empty.
    void drainLevel(size_t index) {
        while (index < levels.size() && !levels[index].objects.empty()) {
            std::vector<const NSObject*> batch;
            batch.swap(levels[index].objects);
            for (const NSObject* object : batch)
                object->release();
        }
    }

    // The level of `pool`, searched from the innermost; levels.size() when it has none.
    size_t levelOf(const NSAutoreleasePool* pool) const {
        for (size_t i = levels.size(); i-- > 1;)
            if (levels[i].owner == pool) return i;
        return levels.size();
    }
};

ThreadPools& threadPools() {
    thread_local ThreadPools pools;
    return pools;
}

} // namespace

void NSObject::release() const {
    if (_refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

void NSObject::autorelease() const {
    NSAutoreleasePool::addObject(this);
}

NSAutoreleasePool::NSAutoreleasePool() {
    if (tPoolsGone) return;
    threadPools().levels.push_back(PoolLevel{this, {}});
}

NSAutoreleasePool::~NSAutoreleasePool() {
    if (tPoolsGone) return;
    ThreadPools& pools = threadPools();
    size_t level = pools.levelOf(this);
    while (level < pools.levels.size()) {
        pools.drainLevel(pools.levels.size() - 1);
        pools.levels.pop_back();
    }
}

void NSAutoreleasePool::drain() {
    if (tPoolsGone) return;
    ThreadPools& pools = threadPools();
    pools.drainLevel(pools.levelOf(this));
}

void NSAutoreleasePool::addObject(const NSObject* object) {
    // A thread that is ending keeps what it still autoreleases rather than freeing it under
    // its caller.
    if (!object || tPoolsGone) return;
    threadPools().levels.back().objects.push_back(object);
}

size_t NSAutoreleasePool::innermostCount() {
    if (tPoolsGone) return 0;
    return threadPools().levels.back().objects.size();
}
