#include "PlatformClock.h"
#include "PlatformEvents.h"
#include "PlatformTimers.h"
#include "PlatformWindows.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

class EventsTest : public ::testing::Test {
  protected:
    void SetUp() override { platform::setMainScreenSize(320, 240); }
    void TearDown() override {
        EXPECT_EQ(GetNumEventsInQueue(GetMainEventQueue()), 0u);
        EXPECT_EQ(platform::installedEventHandlerCount(), 0);
        EXPECT_EQ(platform::liveWindowCount(), 0);
        EXPECT_EQ(platform::liveEventCount(), 0);
        EXPECT_EQ(SetUserFocusWindow(nullptr), noErr);
        platform::setMainScreenSize(1024, 768);
    }
    platform::ManualClock clock{1'000'000'000};
    platform::ScopedSystemClock scope{clock};
};

constexpr EventTypeSpec kKeyDown{kEventClassKeyboard, kEventRawKeyDown};
constexpr EventTypeSpec kMouseDown{kEventClassMouse, kEventMouseDown};

// A handler that logs its name and does what the test asks.
struct Probe {
    Probe(std::string n, std::vector<std::string>* l, OSStatus a = eventNotHandledErr)
        : name(std::move(n)), log(l), answer(a) {}
    std::string name;
    std::vector<std::string>* log = nullptr;
    OSStatus answer = eventNotHandledErr;
    std::function<OSStatus(EventHandlerCallRef, EventRef)> body;
    EventHandlerRef ref = nullptr;
};

OSStatus probeHandler(EventHandlerCallRef call, EventRef event, void* userData) {
    auto* p = static_cast<Probe*>(userData);
    p->log->push_back(p->name);
    return p->body ? p->body(call, event) : p->answer;
}

void install(EventTargetRef target, Probe& p, EventTypeSpec spec = kKeyDown) {
    ASSERT_EQ(InstallEventHandler(target, probeHandler, 1, &spec, &p, &p.ref), noErr);
}

EventRef keyDown(UInt32 keyCode) {
    EventRef e = nullptr;
    EXPECT_EQ(CreateEvent(nullptr, kEventClassKeyboard, kEventRawKeyDown, 0, kEventAttributeNone, &e), noErr);
    EXPECT_EQ(SetEventParameter(e, kEventParamKeyCode, typeUInt32, sizeof keyCode, &keyCode), noErr);
    return e;
}

WindowRef newWindow() {
    const Rect bounds{0, 0, 20, 20};
    WindowRef w = nullptr;
    EXPECT_EQ(CreateNewWindow(kDocumentWindowClass, 0, &bounds, &w), noErr);
    return w;
}

} // namespace

TEST_F(EventsTest, ParametersKeepTheirTypeAndSize) {
    EventRef e = keyDown(53);
    EXPECT_EQ(GetEventClass(e), kEventClassKeyboard);
    EXPECT_EQ(GetEventKind(e), kEventRawKeyDown);
    UInt32 code = 0;
    EventParamType type = 0;
    ByteCount size = 0;
    EXPECT_EQ(GetEventParameter(e, kEventParamKeyCode, typeUInt32, &type, sizeof code, &size, &code), noErr);
    EXPECT_EQ(code, 53u);
    EXPECT_EQ(type, typeUInt32);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(GetEventParameter(e, kEventParamKeyCode, typeSInt32, nullptr, sizeof code, nullptr, &code),
              errAECoercionFail);
    EXPECT_EQ(GetEventParameter(e, kEventParamKeyModifiers, typeUInt32, nullptr, sizeof code, nullptr, &code),
              eventParameterNotFoundErr);
    // A short buffer takes what fits and learns the whole size.
    uint8_t first = 0xAA;
    ASSERT_EQ(GetEventParameter(e, kEventParamKeyCode, typeWildCard, &type, 1, &size, &first), noErr);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(GetEventParameter(e, kEventParamKeyCode, typeUInt32, nullptr, 4, nullptr, nullptr), paramErr);
    // Setting a name again replaces the value.
    UInt32 other = 49;
    ASSERT_EQ(SetEventParameter(e, kEventParamKeyCode, typeUInt32, sizeof other, &other), noErr);
    ASSERT_EQ(GetEventParameter(e, kEventParamKeyCode, typeUInt32, nullptr, sizeof code, nullptr, &code),
              noErr);
    EXPECT_EQ(code, 49u);

    EventRef copy = CopyEvent(e);
    EXPECT_EQ(RetainEvent(e), e);
    ReleaseEvent(e);
    ReleaseEvent(e);
    EXPECT_EQ(GetEventClass(e), 0u); // gone with its last reference
    EXPECT_EQ(SetEventParameter(e, kEventParamKeyCode, typeUInt32, sizeof other, &other), paramErr);
    EXPECT_EQ(GetEventParameter(e, kEventParamKeyCode, typeUInt32, nullptr, sizeof code, nullptr, &code),
              paramErr);
    EXPECT_EQ(RetainEvent(e), nullptr);
    ReleaseEvent(e);
    ASSERT_EQ(GetEventParameter(copy, kEventParamKeyCode, typeUInt32, nullptr, sizeof code, nullptr, &code),
              noErr);
    EXPECT_EQ(code, 49u);
    ReleaseEvent(copy);

    EventRef none = reinterpret_cast<EventRef>(uintptr_t(1));
    EXPECT_EQ(CreateEvent(nullptr, 0, 1, 0, 0, &none), eventClassInvalidErr);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(CreateEvent(nullptr, kEventClassMouse, 1, 0, 0, nullptr), paramErr);
}

TEST_F(EventsTest, HandlersRunNewestFirstThenTheApplication) {
    std::vector<std::string> log;
    WindowRef w = newWindow();
    Probe app{"app", &log, noErr}, older{"older", &log}, newer{"newer", &log}, mouse{"mouse", &log, noErr};
    install(GetApplicationEventTarget(), app);
    install(GetWindowEventTarget(w), older);
    install(GetWindowEventTarget(w), newer);
    install(GetWindowEventTarget(w), mouse, kMouseDown);
    EventRef e = keyDown(1);
    EXPECT_EQ(SendEventToEventTarget(e, GetWindowEventTarget(w)), noErr);
    EXPECT_EQ(log, (std::vector<std::string>{"newer", "older", "app"}));

    // Any answer other than "not handled" ends the dispatch and is its result.
    log.clear();
    older.answer = userCanceledErr;
    EXPECT_EQ(SendEventToEventTarget(e, GetWindowEventTarget(w)), userCanceledErr);
    EXPECT_EQ(log, (std::vector<std::string>{"newer", "older"}));

    // The application's target does not pass on to the window's.
    log.clear();
    app.answer = eventNotHandledErr;
    EXPECT_EQ(SendEventToEventTarget(e, GetApplicationEventTarget()), eventNotHandledErr);
    EXPECT_EQ(log, (std::vector<std::string>{"app"}));

    // Types can be added to and taken from a handler.
    log.clear();
    ASSERT_EQ(AddEventTypesToHandler(mouse.ref, 1, &kKeyDown), noErr);
    EXPECT_EQ(SendEventToEventTarget(e, GetWindowEventTarget(w)), noErr);
    EXPECT_EQ(log, (std::vector<std::string>{"mouse"}));
    ASSERT_EQ(RemoveEventTypesFromHandler(mouse.ref, 1, &kKeyDown), noErr);
    log.clear();
    older.answer = eventNotHandledErr;
    EXPECT_EQ(SendEventToEventTarget(e, GetWindowEventTarget(w)), eventNotHandledErr);
    EXPECT_EQ(log, (std::vector<std::string>{"newer", "older", "app"}));

    EXPECT_EQ(RemoveEventHandler(app.ref), noErr);
    EXPECT_EQ(RemoveEventHandler(app.ref), paramErr);
    DisposeWindow(w); // takes its handlers with it
    EXPECT_EQ(RemoveEventHandler(newer.ref), paramErr);
    EXPECT_EQ(AddEventTypesToHandler(older.ref, 1, &kKeyDown), paramErr);
    ReleaseEvent(e);
}

TEST_F(EventsTest, CallNextRunsTheRestOnce) {
    std::vector<std::string> log;
    WindowRef w = newWindow();
    EventHandlerCallRef kept = nullptr;
    Probe last{"last", &log, noErr}, middle{"middle", &log}, first{"first", &log};
    first.body = [&](EventHandlerCallRef call, EventRef event) {
        kept = call;
        OSStatus next = CallNextEventHandler(call, event);
        log.push_back("after " + std::to_string(next));
        return eventNotHandledErr; // what ran already is not run again
    };
    install(GetApplicationEventTarget(), last);
    install(GetWindowEventTarget(w), middle);
    install(GetWindowEventTarget(w), first);
    EventRef e = keyDown(1);
    EXPECT_EQ(SendEventToEventTarget(e, GetWindowEventTarget(w)), eventNotHandledErr);
    EXPECT_EQ(log, (std::vector<std::string>{"first", "middle", "last", "after 0"}));
    EXPECT_EQ(CallNextEventHandler(kept, e), paramErr); // its handler has returned
    ReleaseEvent(e);
    DisposeWindow(w);
    RemoveEventHandler(last.ref);
}

TEST_F(EventsTest, HandlersMayRemoveHandlersOrDisposeTheirWindowWhileRunning) {
    std::vector<std::string> log;
    WindowRef w = newWindow();
    Probe app{"app", &log, noErr}, older{"older", &log, noErr}, remover{"remover", &log}, self{"self", &log};
    self.body = [&](EventHandlerCallRef, EventRef) {
        EXPECT_EQ(RemoveEventHandler(self.ref), noErr);
        return eventNotHandledErr;
    };
    remover.body = [&](EventHandlerCallRef, EventRef) {
        EXPECT_EQ(RemoveEventHandler(older.ref), noErr); // not called after this
        return eventNotHandledErr;
    };
    install(GetApplicationEventTarget(), app);
    install(GetWindowEventTarget(w), older);
    install(GetWindowEventTarget(w), remover);
    install(GetWindowEventTarget(w), self);
    EventRef e = keyDown(1);
    EXPECT_EQ(SendEventToEventTarget(e, GetWindowEventTarget(w)), noErr);
    EXPECT_EQ(log, (std::vector<std::string>{"self", "remover", "app"}));

    // A handler disposes of its window: the window's other handlers stop, the application's run.
    log.clear();
    Probe closer{"closer", &log}, below{"below", &log, noErr};
    closer.body = [&](EventHandlerCallRef call, EventRef event) {
        DisposeWindow(w);
        EXPECT_EQ(CallNextEventHandler(call, event), noErr); // the application's, still there
        return noErr;
    };
    install(GetWindowEventTarget(w), below);
    install(GetWindowEventTarget(w), closer);
    EventTargetRef target = GetWindowEventTarget(w);
    EXPECT_EQ(SendEventToEventTarget(e, target), noErr);
    EXPECT_EQ(log, (std::vector<std::string>{"closer", "app"}));
    EXPECT_FALSE(IsValidWindowPtr(w));
    EXPECT_EQ(SendEventToEventTarget(e, target), paramErr);
    EXPECT_EQ(RemoveEventHandler(closer.ref), paramErr);
    EXPECT_EQ(platform::installedEventHandlerCount(), 1);
    RemoveEventHandler(app.ref);
    ReleaseEvent(e);
}

TEST_F(EventsTest, BadTargetsHandlersAndEventsAnswerParamErr) {
    Probe p{"p", nullptr};
    EventHandlerRef ref = reinterpret_cast<EventHandlerRef>(uintptr_t(1));
    EventTargetRef app = GetApplicationEventTarget();
    EventTargetRef bogus = reinterpret_cast<EventTargetRef>(uintptr_t(0xBAD0));
    EXPECT_EQ(InstallEventHandler(nullptr, probeHandler, 1, &kKeyDown, &p, &ref), paramErr);
    EXPECT_EQ(ref, nullptr);
    EXPECT_EQ(InstallEventHandler(bogus, probeHandler, 1, &kKeyDown, &p, &ref), paramErr);
    EXPECT_EQ(InstallEventHandler(app, nullptr, 1, &kKeyDown, &p, &ref), paramErr);
    EXPECT_EQ(InstallEventHandler(app, probeHandler, 0, &kKeyDown, &p, &ref), paramErr);
    EXPECT_EQ(InstallEventHandler(app, probeHandler, 1, nullptr, &p, &ref), paramErr);
    EXPECT_EQ(InstallWindowEventHandler(nullptr, probeHandler, 1, &kKeyDown, &p, &ref), paramErr);
    EXPECT_EQ(RemoveEventHandler(nullptr), paramErr);
    EXPECT_EQ(RemoveEventHandler(reinterpret_cast<EventHandlerRef>(uintptr_t(0xBAD0))), paramErr);
    EXPECT_EQ(CallNextEventHandler(nullptr, nullptr), paramErr);
    EventRef e = keyDown(1);
    EXPECT_EQ(SendEventToEventTarget(e, bogus), paramErr);
    EXPECT_EQ(SendEventToEventTarget(nullptr, app), paramErr);
    EXPECT_EQ(SendEventToEventTarget(e, app), eventNotHandledErr); // no handler at all
    EXPECT_EQ(PostEventToQueue(nullptr, e, kEventPriorityStandard), paramErr);
    EXPECT_EQ(PostEventToQueue(GetMainEventQueue(), e, 3), paramErr);
    EXPECT_EQ(PostEventToQueue(GetMainEventQueue(), nullptr, kEventPriorityStandard), paramErr);
    EXPECT_EQ(RemoveEventFromQueue(GetMainEventQueue(), e), eventNotInQueueErr);
    ReleaseEvent(e);
}

TEST_F(EventsTest, ThePumpDeliversPostedEventsByRouteAndPriority) {
    std::vector<std::string> log;
    WindowRef a = newWindow(), b = newWindow();
    Probe app{"app", &log, noErr}, atA{"a", &log, noErr}, atB{"b", &log, noErr};
    const EventTypeSpec both[] = {kKeyDown, kMouseDown};
    ASSERT_EQ(InstallEventHandler(GetApplicationEventTarget(), probeHandler, 2, both, &app, &app.ref), noErr);
    ASSERT_EQ(InstallWindowEventHandler(a, probeHandler, 2, both, &atA, &atA.ref), noErr);
    ASSERT_EQ(InstallWindowEventHandler(b, probeHandler, 2, both, &atB, &atB.ref), noErr);

    EventRef toB = keyDown(1);     // explicit post target
    EventRef inA = nullptr;        // a mouse down naming its window
    EventRef focused = keyDown(2); // goes to the focus window
    EventRef urgent = keyDown(3);  // high priority, posted last
    EventRef noWindow = nullptr;   // a mouse down without a window: the application
    EventTargetRef targetB = GetWindowEventTarget(b);
    ASSERT_EQ(SetEventParameter(toB, kEventParamPostTarget, typeEventTargetRef, sizeof targetB, &targetB),
              noErr);
    ASSERT_EQ(CreateEvent(nullptr, kEventClassMouse, kEventMouseDown, 0, 0, &inA), noErr);
    ASSERT_EQ(SetEventParameter(inA, kEventParamWindowRef, typeWindowRef, sizeof a, &a), noErr);
    ASSERT_EQ(CreateEvent(nullptr, kEventClassMouse, kEventMouseDown, 0, 0, &noWindow), noErr);
    ASSERT_EQ(SetUserFocusWindow(a), noErr);
    EXPECT_EQ(GetUserFocusWindow(), a);
    EventQueueRef q = GetMainEventQueue();
    for (EventRef e : {toB, inA, focused, noWindow})
        ASSERT_EQ(PostEventToQueue(q, e, kEventPriorityStandard), noErr);
    ASSERT_EQ(PostEventToQueue(q, urgent, kEventPriorityHigh), noErr);
    EXPECT_EQ(PostEventToQueue(q, urgent, kEventPriorityHigh), eventAlreadyPostedErr);
    EXPECT_TRUE(IsEventInQueue(q, urgent));
    EXPECT_EQ(GetNumEventsInQueue(q), 5u);
    for (EventRef e : {toB, inA, focused, urgent, noWindow})
        ReleaseEvent(e);                        // the queue keeps them
    EXPECT_EQ(log, std::vector<std::string>{}); // nothing before the pump runs
    EXPECT_EQ(platform::runOnce(), 0);          // no timers fired, but events delivered
    EXPECT_EQ(log, (std::vector<std::string>{"a", "b", "a", "a", "app"}));
    EXPECT_EQ(GetNumEventsInQueue(q), 0u);
    EXPECT_EQ(platform::liveEventCount(), 0);

    // Disposing of the focus window sends later keys to the application.
    log.clear();
    DisposeWindow(a);
    EXPECT_EQ(GetUserFocusWindow(), nullptr);
    EventRef key = keyDown(4);
    ASSERT_EQ(PostEventToQueue(q, key, kEventPriorityStandard), noErr);
    // An event whose post target went away is dropped.
    EventRef lost = keyDown(5);
    ASSERT_EQ(SetEventParameter(lost, kEventParamPostTarget, typeEventTargetRef, sizeof targetB, &targetB),
              noErr);
    ASSERT_EQ(PostEventToQueue(q, lost, kEventPriorityStandard), noErr);
    DisposeWindow(b);
    ReleaseEvent(key);
    ReleaseEvent(lost);
    platform::runOnce();
    EXPECT_EQ(log, (std::vector<std::string>{"app"}));
    RemoveEventHandler(app.ref);
}

TEST_F(EventsTest, EventsPostedWhileDeliveringWaitForTheNextPass) {
    std::vector<std::string> log;
    int reposts = 2;
    Probe app{"app", &log};
    app.body = [&](EventHandlerCallRef, EventRef) {
        if (reposts-- > 0) {
            EventRef again = keyDown(9);
            EXPECT_EQ(PostEventToQueue(GetMainEventQueue(), again, kEventPriorityStandard), noErr);
            ReleaseEvent(again);
        }
        return noErr;
    };
    install(GetApplicationEventTarget(), app);
    EventRef e = keyDown(1);
    ASSERT_EQ(PostEventToQueue(GetMainEventQueue(), e, kEventPriorityLow), noErr);
    ReleaseEvent(e);
    platform::runOnce();
    EXPECT_EQ(log.size(), 1u);
    EXPECT_EQ(GetNumEventsInQueue(GetMainEventQueue()), 1u);
    // runFor keeps passing while events wait, with no timer installed.
    platform::runFor(0.5);
    EXPECT_EQ(log.size(), 3u);

    // Removed and flushed events are never delivered.
    EventRef x = keyDown(1), y = keyDown(2);
    ASSERT_EQ(PostEventToQueue(GetMainEventQueue(), x, kEventPriorityStandard), noErr);
    ASSERT_EQ(PostEventToQueue(GetMainEventQueue(), y, kEventPriorityStandard), noErr);
    EXPECT_EQ(RemoveEventFromQueue(GetMainEventQueue(), x), noErr);
    EXPECT_FALSE(IsEventInQueue(GetMainEventQueue(), x));
    EXPECT_EQ(FlushEventQueue(GetMainEventQueue()), noErr);
    ReleaseEvent(x);
    ReleaseEvent(y);
    platform::runOnce();
    EXPECT_EQ(log.size(), 3u);
    RemoveEventHandler(app.ref);
}

// The full-screen pattern of a video presentation: a window covering the screen in the
// document group, a handler for mouse downs and raw key downs, and Escape ending full screen
// from inside the handler, which disposes of the window that the handler is installed on.
TEST_F(EventsTest, EscapeEndsFullScreenFromInsideItsHandler) {
    struct Presentation {
        Ptr state = nullptr;
        WindowRef window = nullptr;
        std::vector<UInt32> keys;
    } pres;
    EventHandlerUPP handler =
        NewEventHandlerUPP([](EventHandlerCallRef, EventRef event, void* userData) -> OSStatus {
            auto* p = static_cast<Presentation*>(userData);
            if (GetEventClass(event) == kEventClassMouse) {
                EndFullScreen(p->state, 0);
                return noErr;
            }
            UInt32 code = 0;
            if (GetEventParameter(event, kEventParamKeyCode, typeUInt32, nullptr, sizeof code, nullptr,
                                  &code) != noErr)
                return eventNotHandledErr;
            p->keys.push_back(code);
            if (code != 53) return eventNotHandledErr;
            EXPECT_EQ(EndFullScreen(p->state, 0), noErr);
            return noErr;
        });
    ASSERT_EQ(
        BeginFullScreen(&pres.state, nullptr, nullptr, nullptr, &pres.window, nullptr, fullScreenAllowEvents),
        noErr);
    ASSERT_EQ(SetWindowGroup(pres.window, GetWindowGroupOfClass(kDocumentWindowClass)), noErr);
    const EventTypeSpec types[] = {kMouseDown, kKeyDown};
    ASSERT_EQ(InstallWindowEventHandler(pres.window, handler, 2, types, &pres, nullptr), noErr);
    ASSERT_EQ(SetUserFocusWindow(pres.window), noErr);
    for (UInt32 code : {117u, 53u, 49u}) {
        EventRef e = keyDown(code);
        ASSERT_EQ(PostEventToQueue(GetMainEventQueue(), e, kEventPriorityStandard), noErr);
        ReleaseEvent(e);
    }
    platform::runOnce();
    // The key after Escape found no full-screen window and went to the application.
    EXPECT_EQ(pres.keys, (std::vector<UInt32>{117, 53}));
    EXPECT_FALSE(IsValidWindowPtr(pres.window));
    EXPECT_EQ(EndFullScreen(pres.state, 0), paramErr);

    // A mouse down ends it as well, sent straight to the window.
    ASSERT_EQ(
        BeginFullScreen(&pres.state, nullptr, nullptr, nullptr, &pres.window, nullptr, fullScreenAllowEvents),
        noErr);
    ASSERT_EQ(InstallWindowEventHandler(pres.window, handler, 2, types, &pres, nullptr), noErr);
    EventRef click = nullptr;
    ASSERT_EQ(CreateEvent(nullptr, kEventClassMouse, kEventMouseDown, 0, 0, &click), noErr);
    EXPECT_EQ(SendEventToEventTarget(click, GetWindowEventTarget(pres.window)), noErr);
    EXPECT_FALSE(IsValidWindowPtr(pres.window));
    ReleaseEvent(click);
}
