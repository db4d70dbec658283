#include "PlatformComponents.h"

#include "PlatformGWorlds.h"

#include "PlatformClock.h"
#include "PlatformCodecRegistry.h"
#include "PlatformDecompressionSessions.h"
#include "PlatformFiles.h"
#include "PlatformPendingDisplayCalls.h"
#include "PlatformTimeBase.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

struct ComponentRecord {
    ComponentDescription desc{};
    std::string name;
    std::string info;
    std::vector<uint8_t> icon; // empty or kIconSuiteBytes
    platform::ComponentCallbacks callbacks;
    void* refcon = nullptr;
    bool registered = true;
    int32_t openInstances = 0;
};

// The instances that the manager makes itself; providers may hand out objects of their own.
struct ComponentInstanceRecord {
    ComponentRecord* component = nullptr;
    Handle storage = nullptr;
};

namespace {

struct InstanceEntry {
    ComponentRecord* component = nullptr;
    // Set when the manager made the instance (and deletes it on close).
    ComponentInstanceRecord* own = nullptr;
};

struct Registry {
    std::mutex mutex;
    // Registration order; records are never freed, so a Component never dangles.
    std::vector<ComponentRecord*> order;
    std::unordered_set<const void*> components;
    std::unordered_map<const void*, InstanceEntry> instances;
};

Registry& registry() {
    static Registry* r = new Registry(); // lives as long as the process
    return *r;
}

// The built-in components go first; a provider registering from inside that installation must
// not wait for it.
thread_local bool t_installing = false;
void ensureBuiltins();

ComponentRecord* knownComponent(Registry& r, const void* p) {
    if (!p || !r.components.count(p)) return nullptr;
    auto* c = static_cast<ComponentRecord*>(const_cast<void*>(p));
    return c->registered ? c : nullptr;
}

// The component behind a component or an instance, with the lock held.
ComponentRecord* resolveLocked(Registry& r, const void* p) {
    if (!p) return nullptr;
    if (ComponentRecord* c = knownComponent(r, p)) return c;
    auto it = r.instances.find(p);
    if (it != r.instances.end()) return it->second.component;
    auto* ci = static_cast<ComponentInstance>(const_cast<void*>(p));
    for (ComponentRecord* c : r.order) {
        if (c->registered && c->callbacks.ownsInstance && c->callbacks.ownsInstance(c->refcon, ci)) return c;
    }
    return nullptr;
}

bool matches(const ComponentRecord& c, const ComponentDescription* looking) {
    if (!looking) return true;
    const ComponentDescription& d = c.desc;
    if (looking->componentType && looking->componentType != d.componentType) return false;
    if (looking->componentSubType && looking->componentSubType != d.componentSubType) return false;
    if (looking->componentManufacturer && looking->componentManufacturer != d.componentManufacturer)
        return false;
    const uint32_t mask = looking->componentFlagsMask;
    return (d.componentFlags & mask) == (looking->componentFlags & mask);
}

// A length-prefixed copy of `text` into the handle, cut at 255 characters.
OSErr putPString(Handle h, const std::string& text) {
    const size_t n = std::min<size_t>(text.size(), 255);
    SetHandleSize(h, Size(n + 1));
    if (MemError() != noErr) return MemError();
    (*h)[0] = char(uint8_t(n));
    std::memcpy(*h + 1, text.data(), n);
    return noErr;
}

// Clocks: every clock instance of the time-base engine is an instance of a clock component, the
// ones opened through the manager and those opened directly on a time source of the caller's.
OSErr openSystemClock(void*, Component, ComponentInstance* instance) {
    ComponentInstance clock = platform::openClock(nullptr);
    if (!clock) return memFullErr;
    *instance = clock;
    return noErr;
}

OSErr openSteadyClock(void*, Component, ComponentInstance* instance) {
    ComponentInstance clock = platform::openClock(&platform::steadyClock());
    if (!clock) return memFullErr;
    *instance = clock;
    return noErr;
}

OSErr closeClockInstance(void*, ComponentInstance instance) {
    return platform::closeClock(instance);
}

bool isClock(void*, ComponentInstance instance) {
    return platform::isClockInstance(instance);
}

// A clock face: a white disc with a dark rim and two hands.
Handle newClockIcon() {
    Handle h = NewHandleClear(kIconSuiteBytes);
    if (!h) return nullptr;
    auto* p = reinterpret_cast<uint8_t*>(*h);
    for (int y = 0; y < kIconSuiteSide; ++y) {
        for (int x = 0; x < kIconSuiteSide; ++x) {
            const int dx = 2 * x - 31, dy = 2 * y - 31; // twice the distance from the centre
            const int d2 = dx * dx + dy * dy;
            uint8_t* px = p + (y * kIconSuiteSide + x) * 4;
            if (d2 > 30 * 30) continue; // transparent outside
            const bool rim = d2 > 26 * 26;
            const bool hand =
                (x >= 15 && x <= 16 && y >= 6 && y <= 16) || (y >= 15 && y <= 16 && x >= 15 && x <= 23);
            const uint8_t v = (rim || hand) ? 0x20 : 0xF8;
            px[0] = 0xFF;
            px[1] = px[2] = px[3] = v;
        }
    }
    return h;
}

// A clock component and the source its instances read; the time bases ask this when they are
// given a component rather than an instance.
bool resolveClockComponent(Component component, platform::Clock** source) {
    ComponentDescription d{};
    if (GetComponentInfo(component, &d, nullptr, nullptr, nullptr) != noErr) return false;
    if (d.componentType != clockComponentType || d.componentManufacturer != platform::kVendorCode)
        return false;
    if (d.componentSubType == systemMicrosecondClock) {
        *source = nullptr;
        return true;
    }
    if (d.componentSubType == systemSteadyClock) {
        *source = &platform::steadyClock();
        return true;
    }
    return false;
}

void installClockComponents() {
    platform::setClockComponentResolver(resolveClockComponent);
    Handle icon = newClockIcon();
    platform::ComponentCallbacks system;
    system.open = openSystemClock;
    system.close = closeClockInstance;
    system.ownsInstance = isClock;
    platform::registerComponent(
        {clockComponentType, systemMicrosecondClock, platform::kVendorCode, cmpThreadSafe, 0}, "System Clock",
        "The process's system clock, in nanoseconds: the steady clock, or the clock a "
        "program puts in its place",
        icon, system, nullptr);
    platform::ComponentCallbacks steady;
    steady.open = openSteadyClock;
    steady.close = closeClockInstance;
    platform::registerComponent(
        {clockComponentType, systemSteadyClock, platform::kVendorCode, cmpThreadSafe, 0}, "Steady Clock",
        "The process's steady clock, in nanoseconds, whatever the system clock", icon, steady, nullptr);
    DisposeHandle(icon);
}

void ensureBuiltins() {
    static std::once_flag once;
    if (t_installing) return;
    std::call_once(once, [] {
        t_installing = true;
        installClockComponents();
        platform::detail::installCodecComponents();
        platform::detail::installEffectComponents();
        t_installing = false;
    });
}

// Installers of the layers above, constant-initialised so that adding one works from any static
// initialiser. A slot is written before the count that covers it, and a reader stops at the first
// slot not written yet.
constexpr int kMaxInstallers = 8;
std::atomic<void (*)()> g_installers[kMaxInstallers];
std::atomic<int> g_installerCount{0};
std::atomic<int> g_installersRun{0};
thread_local bool t_runningInstallers = false;

void runInstallers() {
    if (t_installing || t_runningInstallers) return;
    int done = g_installersRun.load(std::memory_order_acquire);
    const int count = std::min(g_installerCount.load(std::memory_order_acquire), kMaxInstallers);
    if (done >= count) return;
    t_runningInstallers = true;
    for (; done < count; ++done) {
        void (*install)() = g_installers[done].load(std::memory_order_acquire);
        if (!install) break;
        install();
    }
    t_runningInstallers = false;
    int seen = g_installersRun.load(std::memory_order_acquire);
    while (seen < done && !g_installersRun.compare_exchange_weak(seen, done, std::memory_order_acq_rel)) {
    }
}

Registry& builtinRegistry() {
    ensureBuiltins();
    runInstallers();
    return registry();
}

} // namespace

Component FindNextComponent(Component aComponent, ComponentDescription* looking) {
    Registry& r = builtinRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    size_t start = 0;
    if (aComponent) {
        ComponentRecord* after = resolveLocked(r, aComponent);
        if (!after) return nullptr;
        start = size_t(std::find(r.order.begin(), r.order.end(), after) - r.order.begin()) + 1;
    }
    for (size_t i = start; i < r.order.size(); ++i) {
        if (r.order[i]->registered && matches(*r.order[i], looking)) return r.order[i];
    }
    return nullptr;
}

int32_t CountComponents(ComponentDescription* looking) {
    Registry& r = builtinRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    int32_t n = 0;
    for (ComponentRecord* c : r.order)
        if (c->registered && matches(*c, looking)) ++n;
    return n;
}

OSErr GetComponentInfo(Component aComponent, ComponentDescription* cd, Handle componentName,
                       Handle componentInfo, Handle componentIcon) {
    Registry& r = builtinRegistry();
    ComponentDescription desc{};
    std::string name, info;
    std::vector<uint8_t> icon;
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        ComponentRecord* c = resolveLocked(r, aComponent);
        if (!c) return invalidComponentID;
        desc = c->desc;
        desc.componentFlagsMask = 0;
        if (componentName) name = c->name;
        if (componentInfo) info = c->info;
        if (componentIcon) icon = c->icon;
    }
    if (cd) *cd = desc;
    if (componentName) {
        if (OSErr err = putPString(componentName, name)) return err;
    }
    if (componentInfo) {
        if (OSErr err = putPString(componentInfo, info)) return err;
    }
    if (componentIcon) {
        SetHandleSize(componentIcon, Size(icon.size()));
        if (MemError() != noErr) return MemError();
        if (!icon.empty()) std::memcpy(*componentIcon, icon.data(), icon.size());
    }
    return noErr;
}

OSErr GetComponentIconSuite(Component aComponent, Handle* iconSuite) {
    if (!iconSuite) return paramErr;
    *iconSuite = nullptr;
    Registry& r = builtinRegistry();
    std::vector<uint8_t> icon;
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        ComponentRecord* c = resolveLocked(r, aComponent);
        if (!c) return invalidComponentID;
        icon = c->icon;
    }
    if (icon.empty()) return resNotFound;
    return PtrToHand(icon.data(), iconSuite, Size(icon.size()));
}

OSErr OpenAComponent(Component aComponent, ComponentInstance* ci) {
    if (!ci) return paramErr;
    *ci = nullptr;
    Registry& r = builtinRegistry();
    ComponentRecord* c = nullptr;
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        c = resolveLocked(r, aComponent);
        if (!c) return invalidComponentID;
        ++c->openInstances; // holds off unregistration while the provider opens
    }
    auto* own = new (std::nothrow) ComponentInstanceRecord();
    OSErr err = own ? noErr : memFullErr;
    ComponentInstance instance = own;
    if (own) {
        own->component = c;
        if (c->callbacks.open) err = c->callbacks.open(c->refcon, c, &instance);
        if (err == noErr && !instance) err = memFullErr;
    }
    std::lock_guard<std::mutex> lock(r.mutex);
    if (err != noErr) {
        --c->openInstances;
        delete own;
        return err;
    }
    if (instance != own) {
        delete own;
        own = nullptr;
    }
    r.instances[instance] = InstanceEntry{c, own};
    *ci = instance;
    return noErr;
}

ComponentInstance OpenComponent(Component aComponent) {
    ComponentInstance ci = nullptr;
    OpenAComponent(aComponent, &ci);
    return ci;
}

ComponentInstance OpenDefaultComponent(OSType componentType, OSType componentSubType) {
    ComponentDescription looking{componentType, componentSubType, kAnyComponentManufacturer, 0,
                                 kAnyComponentFlagsMask};
    if (!componentType) return nullptr;
    Component c = FindNextComponent(nullptr, &looking);
    return c ? OpenComponent(c) : nullptr;
}

OSErr CloseComponent(ComponentInstance ci) {
    Registry& r = builtinRegistry();
    InstanceEntry entry;
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        auto it = ci ? r.instances.find(ci) : r.instances.end();
        if (it != r.instances.end()) {
            entry = it->second;
            r.instances.erase(it);
            --entry.component->openInstances;
        } else if (ComponentRecord* c = ci ? resolveLocked(r, ci) : nullptr; c && !knownComponent(r, ci)) {
            // Opened by its provider outside the manager.
            entry.component = c;
        } else {
            return OSErr(badComponentInstance);
        }
    }
    ComponentRecord* c = entry.component;
    OSErr err = noErr;
    if (c->callbacks.close) err = c->callbacks.close(c->refcon, ci);
    delete entry.own;
    return err;
}

Handle GetComponentInstanceStorage(ComponentInstance ci) {
    Registry& r = builtinRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = ci ? r.instances.find(ci) : r.instances.end();
    return it != r.instances.end() && it->second.own ? it->second.own->storage : nullptr;
}

void SetComponentInstanceStorage(ComponentInstance ci, Handle storage) {
    Registry& r = builtinRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = ci ? r.instances.find(ci) : r.instances.end();
    if (it != r.instances.end() && it->second.own) it->second.own->storage = storage;
}

OSErr DisposeIconSuite(Handle theIconSuite, Boolean disposeData) {
    if (!theIconSuite) return paramErr;
    // An icon suite is its pixels: there is nothing to keep apart from the data.
    (void)disposeData;
    DisposeHandle(theIconSuite);
    return noErr;
}

OSErr PlotIconSuite(const Rect* theRect, IconAlignmentType align, IconTransformType transform,
                    Handle theIconSuite) {
    (void)align;
    (void)transform;
    if (!theRect || !theIconSuite || !*theIconSuite || GetHandleSize(theIconSuite) != kIconSuiteBytes)
        return paramErr;
    CGrafPtr port = nullptr;
    GDHandle device = nullptr;
    GetGWorld(&port, &device);
    if (!port) return paramErr;
    // The icon is drawn at its own size from the rectangle's top-left corner (icons are not
    // scaled here); what falls outside the port is clipped by the copy.
    std::vector<uint8_t> pixels(*theIconSuite, *theIconSuite + kIconSuiteBytes);
    const Rect iconBounds{0, 0, int16_t(kIconSuiteSide), int16_t(kIconSuiteSide)};
    GWorldPtr icon = nullptr;
    QDErr err = QTNewGWorldFromPtr(&icon, k32ARGBPixelFormat, &iconBounds, nullptr, nullptr, 0, pixels.data(),
                                   int32_t(kIconSuiteSide * 4));
    if (err != noErr) return err;
    const Rect dst{theRect->top, theRect->left, int16_t(theRect->top + kIconSuiteSide),
                   int16_t(theRect->left + kIconSuiteSide)};
    err = CopyBits(GetPortBitMapForCopyBits(icon), GetPortBitMapForCopyBits(port), &iconBounds, &dst, srcCopy,
                   nullptr);
    DisposeGWorld(icon);
    return err;
}

namespace platform {

Component registerComponent(const ComponentDescription& desc, const char* name, const char* info,
                            Handle iconSuite, const ComponentCallbacks& callbacks, void* refcon) {
    if (desc.componentType == 0) return nullptr;
    if (iconSuite && (!*iconSuite || GetHandleSize(iconSuite) != kIconSuiteBytes)) return nullptr;
    ensureBuiltins();
    auto record = std::unique_ptr<ComponentRecord>(new (std::nothrow) ComponentRecord());
    if (!record) return nullptr;
    record->desc = desc;
    record->desc.componentFlagsMask = 0;
    record->name = name ? name : "";
    record->info = info ? info : "";
    if (iconSuite) record->icon.assign(*iconSuite, *iconSuite + kIconSuiteBytes);
    record->callbacks = callbacks;
    record->refcon = refcon;
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.order.push_back(record.get());
    r.components.insert(record.get());
    return record.release();
}

bool addComponentInstaller(void (*install)()) {
    if (!install) return false;
    const int slot = g_installerCount.load(std::memory_order_acquire);
    for (int i = 0; i < std::min(slot, kMaxInstallers); ++i)
        if (g_installers[i].load(std::memory_order_acquire) == install) return true;
    const int index = g_installerCount.fetch_add(1, std::memory_order_acq_rel);
    if (index >= kMaxInstallers) return false;
    g_installers[index].store(install, std::memory_order_release);
    return true;
}

OSErr unregisterComponent(Component component) {
    Registry& r = builtinRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    ComponentRecord* c = knownComponent(r, component);
    if (!c) return invalidComponentID;
    if (c->openInstances > 0) return validInstancesExist;
    c->registered = false;
    r.order.erase(std::remove(r.order.begin(), r.order.end(), c), r.order.end());
    return noErr;
}

Component resolveComponent(Component c) {
    Registry& r = builtinRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return resolveLocked(r, c);
}

void* componentRefcon(Component c) {
    Registry& r = builtinRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    ComponentRecord* rec = resolveLocked(r, c);
    return rec ? rec->refcon : nullptr;
}

ComponentResult callComponent(ComponentInstance ci, int32_t selector, void* params) {
    Registry& r = builtinRegistry();
    ComponentRecord* c = nullptr;
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        c = ci && !knownComponent(r, ci) ? resolveLocked(r, ci) : nullptr;
    }
    if (!c) return badComponentInstance;
    if (!c->callbacks.dispatch) return badComponentSelector;
    return c->callbacks.dispatch(c->refcon, ci, selector, params);
}

Handle newPlainIconSuite(uint32_t fill, uint32_t border) {
    Handle h = NewHandle(kIconSuiteBytes);
    if (!h) return nullptr;
    auto* p = reinterpret_cast<uint8_t*>(*h);
    for (int y = 0; y < kIconSuiteSide; ++y) {
        for (int x = 0; x < kIconSuiteSide; ++x) {
            const bool edge = x < 2 || y < 2 || x >= kIconSuiteSide - 2 || y >= kIconSuiteSide - 2;
            const uint32_t v = edge ? border : fill;
            uint8_t* px = p + (y * kIconSuiteSide + x) * 4;
            px[0] = uint8_t(v >> 24);
            px[1] = uint8_t(v >> 16);
            px[2] = uint8_t(v >> 8);
            px[3] = uint8_t(v);
        }
    }
    return h;
}

} // namespace platform
