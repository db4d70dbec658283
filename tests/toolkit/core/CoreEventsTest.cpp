#include "KelvoCoreObjectsEvents.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

struct Seen {
    uint32_t event = 0;
    void* data = reinterpret_cast<void*>(1);
    int32_t parameter = 0;
    void* reference = nullptr;
    double progress = -1.0;
    int calls = 0;
};

void onEvent(uint32_t event, void* data, int32_t parameter, void* reference) {
    auto* s = static_cast<Seen*>(reference);
    s->event = event;
    s->data = data;
    s->parameter = parameter;
    s->reference = reference;
    if (event == kKelvoEventProgress) s->progress = *static_cast<double*>(data);
    ++s->calls;
}

void onProgress(double progress, void* reference, int32_t code) {
    auto* s = static_cast<Seen*>(reference);
    s->progress = progress;
    s->parameter = code;
    ++s->calls;
}

} // namespace

TEST(CoreEventsTest, HandlerForwardsErrorsAndProgress) {
    Seen seen;
    Kelvo_BaseEventsHandler h;
    h.setEventsHandler(onEvent, &seen);
    EXPECT_TRUE(h.qtObjIsValid());
    h.notifyError(-50);
    EXPECT_EQ(seen.event, FOUR_CHAR_CODE("KVER"));
    EXPECT_EQ(seen.data, nullptr);
    EXPECT_EQ(seen.parameter, -50);
    EXPECT_EQ(seen.reference, &seen);
    h.notifyProgress(0.5);
    EXPECT_EQ(seen.event, FOUR_CHAR_CODE("KVPR"));
    EXPECT_EQ(seen.progress, 0.5);
    EXPECT_EQ(seen.parameter, 0);
    // Copies carry both fields; other classes are not copied from.
    Kelvo_BaseEventsHandler copy(h);
    Kelvo_EventsCallback cb = nullptr;
    void* ref = nullptr;
    copy.getEventsHandler(cb, ref);
    EXPECT_EQ(cb, onEvent);
    EXPECT_EQ(ref, &seen);
    Kelvo_QTObj other;
    copy.copy(other);
    EXPECT_TRUE(copy.qtObjIsValid());
    EXPECT_EQ(copy.Error(), 0);
    EXPECT_TRUE(copy.isA("Kelvo_BaseEventsHandler"));
    copy.defaultStatus();
    EXPECT_FALSE(copy.qtObjIsValid());
}

TEST(CoreEventsTest, HandlerWithoutCallbackIgnoresEverything) {
    Kelvo_BaseEventsHandler h;
    EXPECT_FALSE(h.qtObjIsValid());
    h.notifyError(1);
    h.notifyProgress(1.0);
    h.notifyEvent(0, nullptr, 0);
}

TEST(CoreEventsTest, ProgressNotifier) {
    Seen seen;
    Kelvo_ProgressNotifier n(onProgress, &seen);
    n.Call(0.25, 7);
    EXPECT_EQ(seen.progress, 0.25);
    EXPECT_EQ(seen.parameter, 7);
    std::unique_ptr<Kelvo_QTObj> c(n.clone());
    ASSERT_TRUE(c);
    static_cast<Kelvo_ProgressNotifier&>(*c).Call(0.75, 0);
    EXPECT_EQ(seen.progress, 0.75);
    n.CallAbort(1);
    EXPECT_EQ(n.Error(), 1);
    Kelvo_ProgressNotifier empty;
    EXPECT_EQ(empty.clone(), nullptr);
    empty.Call(1.0, 0);
    EXPECT_EQ(seen.calls, 2);
    empty = n;
    EXPECT_EQ(empty.callback(), onProgress);
    empty.defaultStatus();
    EXPECT_FALSE(empty.qtObjIsValid());
}
