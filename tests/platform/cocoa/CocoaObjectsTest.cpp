#include "PlatformCocoaObjects.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

// Records its deletion; may autorelease another object as it goes.
class Probe final : public NSObject {
  public:
    explicit Probe(std::vector<int>* log, int id, const NSObject* onDelete = nullptr)
        : _log(log), _id(id), _onDelete(onDelete) {}

  private:
    ~Probe() override {
        _log->push_back(_id);
        if (_onDelete) _onDelete->autorelease();
    }
    std::vector<int>* _log;
    int _id;
    const NSObject* _onDelete;
};

} // namespace

TEST(CocoaObjects, RetainAndReleaseCount) {
    std::vector<int> log;
    auto* p = new Probe(&log, 1);
    EXPECT_EQ(p->retainCount(), 1u);
    p->retain();
    EXPECT_EQ(p->retainCount(), 2u);
    p->release();
    EXPECT_TRUE(log.empty());
    p->release();
    EXPECT_EQ(log, std::vector<int>{1});
}

TEST(CocoaObjects, PoolsReleaseWhatTheyHoldWhenTheyGo) {
    std::vector<int> log;
    {
        NSAutoreleasePool outer;
        (new Probe(&log, 1))->autorelease();
        {
            NSAutoreleasePool inner;
            (new Probe(&log, 2))->autorelease();
            EXPECT_EQ(NSAutoreleasePool::innermostCount(), 1u);
        }
        EXPECT_EQ(log, std::vector<int>{2});
        EXPECT_EQ(NSAutoreleasePool::innermostCount(), 1u);

        // A retained object outlives its pool by the retained reference.
        auto* kept = new Probe(&log, 3);
        kept->autorelease();
        kept->retain();
        outer.drain();
        EXPECT_EQ(log, (std::vector<int>{2, 1}));
        EXPECT_EQ(NSAutoreleasePool::innermostCount(), 0u);
        kept->release();
        EXPECT_EQ(log, (std::vector<int>{2, 1, 3}));

        // An object autoreleased twice is released twice.
        auto* twice = new Probe(&log, 4);
        twice->retain();
        twice->autorelease();
        twice->autorelease();
    }
    EXPECT_EQ(log, (std::vector<int>{2, 1, 3, 4}));
}

TEST(CocoaObjects, ObjectsAutoreleasedWhileDrainingGoWithThePool) {
    std::vector<int> log;
    {
        NSAutoreleasePool pool;
        auto* second = new Probe(&log, 2);
        (new Probe(&log, 1, second))->autorelease();
    }
    EXPECT_EQ(log, (std::vector<int>{1, 2}));
}

TEST(CocoaObjects, AnOuterPoolThatGoesFirstDrainsTheInnerOnes) {
    std::vector<int> log;
    auto* outer = new NSAutoreleasePool;
    (new Probe(&log, 1))->autorelease();
    auto* inner = new NSAutoreleasePool;
    (new Probe(&log, 2))->autorelease();
    delete outer;
    EXPECT_EQ(log, (std::vector<int>{2, 1}));
    delete inner; // already popped: nothing left to do
    EXPECT_EQ(log.size(), 2u);
}

TEST(CocoaObjects, AThreadsOwnPoolGoesWithTheThread) {
    std::vector<int> log;
    const size_t mainThreadCount = NSAutoreleasePool::innermostCount();
    std::thread([&log] {
        // No pool made on this thread: its outermost pool takes the object.
        (new Probe(&log, 7))->autorelease();
        EXPECT_EQ(NSAutoreleasePool::innermostCount(), 1u);
        EXPECT_TRUE(log.empty());
    }).join();
    EXPECT_EQ(log, std::vector<int>{7});
    // Each thread has its own pools.
    EXPECT_EQ(NSAutoreleasePool::innermostCount(), mainThreadCount);
}
