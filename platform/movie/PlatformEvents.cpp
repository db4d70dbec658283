#include "PlatformEvents.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace {

// Every reference handed out is a token: a number that is never reused, looked up in the
// registry below and never dereferenced.
template <typename Ref> Ref tokenOf(uint64_t id) {
    return reinterpret_cast<Ref>(uintptr_t(0x10000 + id * 16));
}
template <typename Ref> uint64_t idOf(Ref ref) {
    uintptr_t v = reinterpret_cast<uintptr_t>(ref);
    return v < 0x10000 ? 0 : (v - 0x10000) / 16;
}

struct Param {
    EventParamName name;
    EventParamType type;
    std::vector<uint8_t> bytes;
};

struct Event {
    uint64_t id = 0;
    UInt32 eventClass = 0;
    UInt32 kind = 0;
    EventTime when = 0;
    EventAttributes attributes = 0;
    int32_t refs = 1;
    std::vector<Param> params;
    bool queued = false;
};
using EventPtr = std::shared_ptr<Event>;

struct Target;

struct Handler {
    uint64_t id = 0;
    EventHandlerUPP proc = nullptr;
    void* userData = nullptr;
    std::vector<EventTypeSpec> types;
    bool removed = false;
    Target* target = nullptr; // valid while not removed
};
using HandlerPtr = std::shared_ptr<Handler>;

struct Target {
    uint64_t id = 0;
    WindowRef window = nullptr;       // null: the application
    std::vector<HandlerPtr> handlers; // in order of installation
    bool dead = false;
};
using TargetPtr = std::shared_ptr<Target>;

struct ChainEntry {
    HandlerPtr handler;
    TargetPtr target;
};

// One dispatch of one event: the handlers still to run.
struct Dispatch {
    std::vector<ChainEntry> chain;
    size_t next = 0;
};
using DispatchPtr = std::shared_ptr<Dispatch>;

struct Queued {
    EventPtr event;
    EventPriority priority;
    uint64_t order;
};

struct Registry {
    std::mutex lock;
    uint64_t nextId = 1;
    uint64_t nextPostOrder = 1;
    std::unordered_map<uint64_t, EventPtr> events;
    std::unordered_map<uint64_t, TargetPtr> targets;
    std::unordered_map<uint64_t, HandlerPtr> handlers;
    std::unordered_map<uint64_t, DispatchPtr> calls;
    std::vector<Queued> queue;
    TargetPtr application;
};

Registry& registry() {
    static Registry* r = new Registry; // never destroyed: handlers may outlive static destruction
    return *r;
}

const TargetPtr& applicationTarget(Registry& r) {
    if (!r.application) {
        r.application = std::make_shared<Target>();
        r.application->id = r.nextId++;
        r.targets[r.application->id] = r.application;
    }
    return r.application;
}

EventPtr findEvent(Registry& r, EventRef ref) {
    auto found = r.events.find(idOf(ref));
    return found == r.events.end() ? nullptr : found->second;
}

TargetPtr findTarget(Registry& r, EventTargetRef ref) {
    auto found = r.targets.find(idOf(ref));
    return found == r.targets.end() || found->second->dead ? nullptr : found->second;
}

HandlerPtr findHandler(Registry& r, EventHandlerRef ref) {
    auto found = r.handlers.find(idOf(ref));
    return found == r.handlers.end() ? nullptr : found->second;
}

bool wants(const Handler& h, UInt32 eventClass, UInt32 kind) {
    for (const EventTypeSpec& t : h.types)
        if (t.eventClass == eventClass && t.eventKind == kind) return true;
    return false;
}

void detach(Registry& r, const HandlerPtr& h) {
    h->removed = true;
    r.handlers.erase(h->id);
    if (Target* t = h->target) {
        auto& list = t->handlers;
        list.erase(std::remove(list.begin(), list.end(), h), list.end());
        h->target = nullptr;
    }
}

void appendHandlers(std::vector<ChainEntry>& chain, const TargetPtr& target) {
    for (auto it = target->handlers.rbegin(); it != target->handlers.rend(); ++it)
        chain.push_back({*it, target});
}

// Runs the handlers of the dispatch from where it stands, until one handles the event or ends it.
OSStatus runChain(const DispatchPtr& d, EventRef eventRef) {
    Registry& r = registry();
    for (;;) {
        EventHandlerUPP proc = nullptr;
        void* userData = nullptr;
        uint64_t callId = 0;
        {
            std::lock_guard<std::mutex> guard(r.lock);
            EventPtr event = findEvent(r, eventRef);
            if (!event) return eventNotHandledErr;
            while (d->next < d->chain.size()) {
                const ChainEntry& e = d->chain[d->next++];
                if (e.handler->removed || e.target->dead ||
                    !wants(*e.handler, event->eventClass, event->kind))
                    continue;
                proc = e.handler->proc;
                userData = e.handler->userData;
                break;
            }
            if (!proc) return eventNotHandledErr;
            callId = r.nextId++;
            r.calls[callId] = d;
        }
        OSStatus result = proc(tokenOf<EventHandlerCallRef>(callId), eventRef, userData);
        {
            std::lock_guard<std::mutex> guard(r.lock);
            r.calls.erase(callId);
        }
        if (result != eventNotHandledErr) return result;
    }
}

OSStatus dispatchTo(EventRef eventRef, EventTargetRef targetRef) {
    Registry& r = registry();
    auto d = std::make_shared<Dispatch>();
    {
        std::lock_guard<std::mutex> guard(r.lock);
        if (!findEvent(r, eventRef)) return paramErr;
        TargetPtr target = findTarget(r, targetRef);
        if (!target) return paramErr;
        appendHandlers(d->chain, target);
        // What a window does not handle goes on to the application.
        if (target->window) appendHandlers(d->chain, applicationTarget(r));
    }
    return runChain(d, eventRef);
}

bool pendingPostedEvents() {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    return !r.queue.empty();
}

template <typename T> bool paramValue(const Event& e, EventParamName name, EventParamType type, T& out) {
    for (const Param& p : e.params)
        if (p.name == name && p.type == type && p.bytes.size() == sizeof(T)) {
            std::memcpy(&out, p.bytes.data(), sizeof(T));
            return true;
        }
    return false;
}

} // namespace

OSStatus CreateEvent(CFAllocatorRef, UInt32 inClassID, UInt32 kind, EventTime when, EventAttributes flags,
                     EventRef* outEvent) {
    if (!outEvent) return paramErr;
    *outEvent = nullptr;
    if (inClassID == 0) return eventClassInvalidErr;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    auto e = std::make_shared<Event>();
    e->id = r.nextId++;
    e->eventClass = inClassID;
    e->kind = kind;
    e->when = when;
    e->attributes = flags;
    r.events[e->id] = e;
    *outEvent = tokenOf<EventRef>(e->id);
    return noErr;
}

EventRef RetainEvent(EventRef inEvent) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    EventPtr e = findEvent(r, inEvent);
    if (!e) return nullptr;
    ++e->refs;
    return inEvent;
}

void ReleaseEvent(EventRef inEvent) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    EventPtr e = findEvent(r, inEvent);
    if (e && --e->refs <= 0) r.events.erase(e->id);
}

EventRef CopyEvent(EventRef inOther) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    EventPtr e = findEvent(r, inOther);
    if (!e) return nullptr;
    auto copy = std::make_shared<Event>(*e);
    copy->id = r.nextId++;
    copy->refs = 1;
    copy->queued = false;
    r.events[copy->id] = copy;
    return tokenOf<EventRef>(copy->id);
}

UInt32 GetEventClass(EventRef inEvent) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    EventPtr e = findEvent(r, inEvent);
    return e ? e->eventClass : 0;
}

UInt32 GetEventKind(EventRef inEvent) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    EventPtr e = findEvent(r, inEvent);
    return e ? e->kind : 0;
}

EventTime GetEventTime(EventRef inEvent) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    EventPtr e = findEvent(r, inEvent);
    return e ? e->when : 0;
}

OSStatus SetEventParameter(EventRef inEvent, EventParamName inName, EventParamType inType, ByteCount inSize,
                           const void* inDataPtr) {
    if (inSize > 0 && !inDataPtr) return paramErr;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    EventPtr e = findEvent(r, inEvent);
    if (!e) return paramErr;
    const auto* bytes = static_cast<const uint8_t*>(inDataPtr);
    Param p{inName, inType, std::vector<uint8_t>(bytes, bytes + inSize)};
    for (Param& old : e->params)
        if (old.name == inName) {
            old = std::move(p);
            return noErr;
        }
    e->params.push_back(std::move(p));
    return noErr;
}

OSStatus GetEventParameter(EventRef inEvent, EventParamName inName, EventParamType inDesiredType,
                           EventParamType* outActualType, ByteCount inBufferSize, ByteCount* outActualSize,
                           void* outData) {
    if (inBufferSize > 0 && !outData) return paramErr;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    EventPtr e = findEvent(r, inEvent);
    if (!e) return paramErr;
    for (const Param& p : e->params) {
        if (p.name != inName) continue;
        if (inDesiredType != typeWildCard && inDesiredType != p.type) return errAECoercionFail;
        if (outActualType) *outActualType = p.type;
        if (outActualSize) *outActualSize = ByteCount(p.bytes.size());
        size_t n = std::min<size_t>(inBufferSize, p.bytes.size());
        if (n) std::memcpy(outData, p.bytes.data(), n);
        return noErr;
    }
    return eventParameterNotFoundErr;
}

EventTargetRef GetApplicationEventTarget() {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    return tokenOf<EventTargetRef>(applicationTarget(r)->id);
}

OSStatus InstallEventHandler(EventTargetRef inTarget, EventHandlerUPP inHandler, ItemCount inNumTypes,
                             const EventTypeSpec* inList, void* inUserData, EventHandlerRef* outRef) {
    if (outRef) *outRef = nullptr;
    if (!inHandler || inNumTypes == 0 || !inList) return paramErr;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    TargetPtr target = findTarget(r, inTarget);
    if (!target) return paramErr;
    auto h = std::make_shared<Handler>();
    h->id = r.nextId++;
    h->proc = inHandler;
    h->userData = inUserData;
    h->types.assign(inList, inList + inNumTypes);
    h->target = target.get();
    target->handlers.push_back(h);
    r.handlers[h->id] = h;
    if (outRef) *outRef = tokenOf<EventHandlerRef>(h->id);
    return noErr;
}

OSStatus RemoveEventHandler(EventHandlerRef inHandlerRef) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    HandlerPtr h = findHandler(r, inHandlerRef);
    if (!h) return paramErr;
    detach(r, h);
    return noErr;
}

namespace {

// Hands each listed type to `change` with the handler, under the lock; paramErr for a handler
// that is not there or a count without a list.
template <class Change>
OSStatus changeTypes(EventHandlerRef inHandlerRef, ItemCount inNumTypes, const EventTypeSpec* inList,
                     Change change) {
    if (inNumTypes > 0 && !inList) return paramErr;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    HandlerPtr h = findHandler(r, inHandlerRef);
    if (!h) return paramErr;
    for (ItemCount i = 0; i < inNumTypes; ++i)
        change(*h, inList[i]);
    return noErr;
}

} // namespace

OSStatus AddEventTypesToHandler(EventHandlerRef inHandlerRef, ItemCount inNumTypes,
                                const EventTypeSpec* inList) {
    return changeTypes(inHandlerRef, inNumTypes, inList, [](auto& h, const EventTypeSpec& s) {
        if (!wants(h, s.eventClass, s.eventKind)) h.types.push_back(s);
    });
}

OSStatus RemoveEventTypesFromHandler(EventHandlerRef inHandlerRef, ItemCount inNumTypes,
                                     const EventTypeSpec* inList) {
    return changeTypes(inHandlerRef, inNumTypes, inList, [](auto& h, const EventTypeSpec& s) {
        std::erase_if(h.types, [&](const EventTypeSpec& t) {
            return t.eventClass == s.eventClass && t.eventKind == s.eventKind;
        });
    });
}

OSStatus CallNextEventHandler(EventHandlerCallRef inCallRef, EventRef inEvent) {
    Registry& r = registry();
    DispatchPtr d;
    {
        std::lock_guard<std::mutex> guard(r.lock);
        auto found = r.calls.find(idOf(inCallRef));
        if (found == r.calls.end() || !findEvent(r, inEvent)) return paramErr;
        d = found->second;
    }
    return runChain(d, inEvent);
}

OSStatus SendEventToEventTarget(EventRef inEvent, EventTargetRef inTarget) {
    return dispatchTo(inEvent, inTarget);
}

EventQueueRef GetMainEventQueue() {
    return reinterpret_cast<EventQueueRef>(uintptr_t(0xE0E0));
}

EventQueueRef GetCurrentEventQueue() {
    return GetMainEventQueue();
}

OSStatus PostEventToQueue(EventQueueRef inQueue, EventRef inEvent, EventPriority inPriority) {
    if (inQueue != GetMainEventQueue() || inPriority < kEventPriorityLow || inPriority > kEventPriorityHigh)
        return paramErr;
    Registry& r = registry();
    {
        std::lock_guard<std::mutex> guard(r.lock);
        EventPtr e = findEvent(r, inEvent);
        if (!e) return paramErr;
        if (e->queued) return eventAlreadyPostedErr;
        e->queued = true;
        ++e->refs;
        r.queue.push_back({e, inPriority, r.nextPostOrder++});
    }
    platform::setPostedEventPump(&platform::dispatchPostedEvents, &pendingPostedEvents);
    return noErr;
}

OSStatus RemoveEventFromQueue(EventQueueRef inQueue, EventRef inEvent) {
    if (inQueue != GetMainEventQueue()) return paramErr;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    EventPtr e = findEvent(r, inEvent);
    if (!e) return paramErr;
    auto it = std::find_if(r.queue.begin(), r.queue.end(), [&](const Queued& q) { return q.event == e; });
    if (it == r.queue.end()) return eventNotInQueueErr;
    r.queue.erase(it);
    e->queued = false;
    if (--e->refs <= 0) r.events.erase(e->id);
    return noErr;
}

Boolean IsEventInQueue(EventQueueRef inQueue, EventRef inEvent) {
    if (inQueue != GetMainEventQueue()) return false;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    EventPtr e = findEvent(r, inEvent);
    return e && e->queued;
}

ItemCount GetNumEventsInQueue(EventQueueRef inQueue) {
    if (inQueue != GetMainEventQueue()) return 0;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    return ItemCount(r.queue.size());
}

OSStatus FlushEventQueue(EventQueueRef inQueue) {
    if (inQueue != GetMainEventQueue()) return paramErr;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    for (Queued& q : r.queue) {
        q.event->queued = false;
        if (--q.event->refs <= 0) r.events.erase(q.event->id);
    }
    r.queue.clear();
    return noErr;
}

namespace platform {

int32_t dispatchPostedEvents() {
    Registry& r = registry();
    uint64_t postedBefore;
    {
        std::lock_guard<std::mutex> guard(r.lock);
        postedBefore = r.nextPostOrder;
    }
    int32_t delivered = 0;
    for (;;) {
        EventPtr event;
        TargetPtr target;
        WindowRef window = nullptr;
        bool byWindow = false;
        {
            std::lock_guard<std::mutex> guard(r.lock);
            auto best = r.queue.end();
            for (auto it = r.queue.begin(); it != r.queue.end(); ++it)
                if (it->order < postedBefore && (best == r.queue.end() || it->priority > best->priority))
                    best = it;
            if (best == r.queue.end()) break;
            event = best->event;
            r.queue.erase(best);
            event->queued = false;
            EventTargetRef posted = nullptr;
            if (paramValue(*event, kEventParamPostTarget, typeEventTargetRef, posted)) {
                // A target that went away takes its events with it.
                target = findTarget(r, posted);
                if (!target) {
                    if (--event->refs <= 0) r.events.erase(event->id);
                    continue;
                }
            } else if (paramValue(*event, kEventParamWindowRef, typeWindowRef, window)) {
                byWindow = true;
            }
        }
        // Window look-ups take the window layer's lock: done outside ours.
        EventTargetRef to = nullptr;
        if (target) {
            to = tokenOf<EventTargetRef>(target->id);
        } else {
            if (byWindow) to = GetWindowEventTarget(window);
            if (!to && event->eventClass == kEventClassKeyboard)
                if (WindowRef focus = GetUserFocusWindow()) to = GetWindowEventTarget(focus);
            if (!to) to = GetApplicationEventTarget();
        }
        EventRef ref = tokenOf<EventRef>(event->id);
        dispatchTo(ref, to);
        ++delivered;
        std::lock_guard<std::mutex> guard(r.lock);
        if (--event->refs <= 0) r.events.erase(event->id);
    }
    return delivered;
}

EventTargetRef newWindowEventTarget(WindowRef window) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    auto t = std::make_shared<Target>();
    t->id = r.nextId++;
    t->window = window;
    r.targets[t->id] = t;
    return tokenOf<EventTargetRef>(t->id);
}

void disposeWindowEventTarget(EventTargetRef target) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    auto found = r.targets.find(idOf(target));
    if (found == r.targets.end() || !found->second->window) return;
    TargetPtr t = found->second;
    t->dead = true;
    std::vector<HandlerPtr> handlers = t->handlers;
    for (const HandlerPtr& h : handlers)
        detach(r, h);
    r.targets.erase(found);
}

int32_t installedEventHandlerCount() {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    return int32_t(r.handlers.size());
}

int32_t liveEventCount() {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    return int32_t(r.events.size());
}

} // namespace platform
