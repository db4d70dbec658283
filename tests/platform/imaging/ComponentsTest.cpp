// The component manager: registration, matching, information, instances, clocks and icon suites.
#include "PlatformClock.h"
#include "PlatformComponents.h"
#include "PlatformFiles.h"
#include "PlatformTimeBase.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string pstring(Handle h) {
    if (!h || GetHandleSize(h) < 1) return "<none>";
    const auto n = uint8_t((*h)[0]);
    EXPECT_EQ(GetHandleSize(h), Size(n + 1));
    return std::string(*h + 1, n);
}

// Components registered by one test, taken out again when it ends.
class ComponentsTest : public ::testing::Test {
  protected:
    ~ComponentsTest() override {
        for (Component c : _registered)
            platform::unregisterComponent(c);
    }

    Component add(OSType type, OSType subType, OSType manufacturer, uint32_t flags, const char* name = "Test",
                  const platform::ComponentCallbacks& callbacks = {}, void* refcon = nullptr,
                  Handle icon = nullptr) {
        Component c = platform::registerComponent({type, subType, manufacturer, flags, 0}, name, "info", icon,
                                                  callbacks, refcon);
        if (c) _registered.push_back(c);
        return c;
    }

    std::vector<Component> found(ComponentDescription looking) {
        std::vector<Component> all;
        for (Component c = FindNextComponent(nullptr, &looking); c; c = FindNextComponent(c, &looking))
            all.push_back(c);
        EXPECT_EQ(CountComponents(&looking), int32_t(all.size()));
        return all;
    }

    std::vector<Component> _registered;
};

constexpr OSType kTest = FOUR_CHAR_CODE("tst1");

// Counts the provider's calls.
struct Provider {
    int opens = 0;
    int closes = 0;
    OSErr openResult = noErr;
    int ownObject = 0; // the provider's own instance object when `useOwn`
    bool useOwn = false;
    ComponentInstance lastClosed = nullptr;
    int32_t lastSelector = 0;
};

platform::ComponentCallbacks providerCallbacks() {
    platform::ComponentCallbacks cb;
    cb.open = [](void* refcon, Component, ComponentInstance* instance) -> OSErr {
        auto* p = static_cast<Provider*>(refcon);
        ++p->opens;
        if (p->openResult != noErr) return p->openResult;
        if (p->useOwn) *instance = reinterpret_cast<ComponentInstance>(&p->ownObject);
        return noErr;
    };
    cb.close = [](void* refcon, ComponentInstance instance) -> OSErr {
        auto* p = static_cast<Provider*>(refcon);
        ++p->closes;
        p->lastClosed = instance;
        return noErr;
    };
    cb.dispatch = [](void* refcon, ComponentInstance, int32_t selector, void* params) -> ComponentResult {
        static_cast<Provider*>(refcon)->lastSelector = selector;
        return *static_cast<int32_t*>(params) * 2;
    };
    return cb;
}

} // namespace

TEST_F(ComponentsTest, MatchingByFieldsAndFlagsUnderTheMask) {
    Component a = add(kTest, FOUR_CHAR_CODE("aaaa"), FOUR_CHAR_CODE("mfr1"), 0x1);
    Component b = add(kTest, FOUR_CHAR_CODE("bbbb"), FOUR_CHAR_CODE("mfr1"), 0x3);
    Component c = add(kTest, FOUR_CHAR_CODE("aaaa"), FOUR_CHAR_CODE("mfr2"), 0x2);
    ASSERT_TRUE(a && b && c);
    struct Case {
        ComponentDescription looking;
        std::vector<Component> expected;
    } cases[] = {
        {{kTest, 0, 0, 0, 0}, {a, b, c}},
        {{kTest, FOUR_CHAR_CODE("aaaa"), 0, 0, 0}, {a, c}},
        {{kTest, 0, FOUR_CHAR_CODE("mfr1"), 0, 0}, {a, b}},
        {{kTest, FOUR_CHAR_CODE("aaaa"), FOUR_CHAR_CODE("mfr2"), 0, 0}, {c}},
        {{kTest, 0, 0, 0x1, 0x1}, {a, b}},     // bit 0 set
        {{kTest, 0, 0, 0x0, 0x1}, {c}},        // bit 0 clear
        {{kTest, 0, 0, 0x3, 0x3}, {b}},        // both bits
        {{kTest, 0, 0, 0xFF, 0x0}, {a, b, c}}, // flags ignored without a mask
        {{kTest, FOUR_CHAR_CODE("zzzz"), 0, 0, 0}, {}},
    };
    for (const Case& k : cases)
        EXPECT_EQ(found(k.looking), k.expected)
            << k.looking.componentSubType << " " << k.looking.componentFlags;
    // The whole catalogue: null matches everything, ours come after the built-in components.
    EXPECT_EQ(CountComponents(nullptr), CountComponents(std::array<ComponentDescription, 1>{}.data()));
    EXPECT_GE(CountComponents(nullptr), 3 + 2 + 22);
    // A starting point the manager does not know ends the walk.
    int bogus = 0;
    ComponentDescription any{kTest, 0, 0, 0, 0};
    EXPECT_EQ(FindNextComponent(reinterpret_cast<Component>(&bogus), &any), nullptr);
}

TEST_F(ComponentsTest, InformationNamesAndIcons) {
    Handle icon = platform::newPlainIconSuite(0xFF112233u, 0xFF445566u);
    ASSERT_TRUE(icon);
    ASSERT_EQ(GetHandleSize(icon), kIconSuiteBytes);
    EXPECT_EQ(uint8_t((*icon)[0]), 0xFF);
    EXPECT_EQ(uint8_t((*icon)[1]), 0x44); // the border's red
    const int centre = (16 * kIconSuiteSide + 16) * 4;
    EXPECT_EQ(uint8_t((*icon)[centre + 3]), 0x33); // the fill's blue
    const std::string longName(300, 'n');
    Component c = add(kTest, FOUR_CHAR_CODE("info"), FOUR_CHAR_CODE("mfr1"), cmpThreadSafe | 0x5,
                      longName.c_str(), {}, nullptr, icon);
    Component plain = add(kTest, FOUR_CHAR_CODE("plan"), 0, 0, nullptr);
    ASSERT_TRUE(c && plain);

    ComponentDescription cd{};
    Handle name = NewHandle(0), info = NewHandle(0), iconCopy = NewHandle(0);
    ASSERT_EQ(GetComponentInfo(c, &cd, name, info, iconCopy), noErr);
    EXPECT_EQ(cd.componentType, kTest);
    EXPECT_EQ(cd.componentSubType, FOUR_CHAR_CODE("info"));
    EXPECT_EQ(cd.componentManufacturer, FOUR_CHAR_CODE("mfr1"));
    EXPECT_EQ(cd.componentFlags, cmpThreadSafe | 0x5);
    EXPECT_EQ(cd.componentFlagsMask, 0u);
    EXPECT_EQ(pstring(name), std::string(255, 'n')); // cut to what a length byte holds
    EXPECT_EQ(pstring(info), "info");
    ASSERT_EQ(GetHandleSize(iconCopy), kIconSuiteBytes);
    EXPECT_EQ(std::memcmp(*iconCopy, *icon, kIconSuiteBytes), 0);

    Handle suite = nullptr;
    ASSERT_EQ(GetComponentIconSuite(c, &suite), noErr);
    ASSERT_TRUE(suite);
    EXPECT_NE(suite, icon); // a copy, the caller's to dispose
    EXPECT_EQ(std::memcmp(*suite, *icon, kIconSuiteBytes), 0);
    EXPECT_EQ(DisposeIconSuite(suite, true), noErr);

    // Without a name or an icon.
    ASSERT_EQ(GetComponentInfo(plain, nullptr, name, nullptr, iconCopy), noErr);
    EXPECT_EQ(pstring(name), "");
    EXPECT_EQ(GetHandleSize(iconCopy), 0);
    suite = reinterpret_cast<Handle>(&cd);
    EXPECT_EQ(GetComponentIconSuite(plain, &suite), resNotFound);
    EXPECT_EQ(suite, nullptr);

    // Unknown components and refused registrations.
    int bogus = 0;
    EXPECT_EQ(GetComponentInfo(reinterpret_cast<Component>(&bogus), &cd, name, nullptr, nullptr),
              invalidComponentID);
    EXPECT_EQ(GetComponentInfo(nullptr, &cd, nullptr, nullptr, nullptr), invalidComponentID);
    EXPECT_EQ(GetComponentIconSuite(c, nullptr), paramErr);
    EXPECT_EQ(add(0, FOUR_CHAR_CODE("zero"), 0, 0), nullptr);
    SetHandleSize(icon, 100);
    EXPECT_EQ(add(kTest, FOUR_CHAR_CODE("bad "), 0, 0, "x", {}, nullptr, icon), nullptr);
    for (Handle h : {name, info, iconCopy, icon})
        DisposeHandle(h);
}

TEST_F(ComponentsTest, InstancesOpenCloseAndStandForTheirComponent) {
    Provider p;
    Component c = add(kTest, FOUR_CHAR_CODE("inst"), 0, 0, "Instances", providerCallbacks(), &p);
    Component next = add(kTest, FOUR_CHAR_CODE("next"), 0, 0);
    ASSERT_TRUE(c && next);

    ComponentInstance ci = nullptr;
    ASSERT_EQ(OpenAComponent(c, &ci), noErr);
    ASSERT_TRUE(ci);
    EXPECT_EQ(p.opens, 1);
    // The instance names its component everywhere a component is expected.
    EXPECT_EQ(platform::resolveComponent(reinterpret_cast<Component>(ci)), c);
    ComponentDescription cd{};
    EXPECT_EQ(GetComponentInfo(reinterpret_cast<Component>(ci), &cd, nullptr, nullptr, nullptr), noErr);
    EXPECT_EQ(cd.componentSubType, FOUR_CHAR_CODE("inst"));
    ComponentDescription ours{kTest, 0, 0, 0, 0};
    EXPECT_EQ(FindNextComponent(reinterpret_cast<Component>(ci), &ours), next);
    EXPECT_EQ(platform::componentRefcon(reinterpret_cast<Component>(ci)), &p);

    // Storage and calls.
    Handle storage = NewHandle(4);
    SetComponentInstanceStorage(ci, storage);
    EXPECT_EQ(GetComponentInstanceStorage(ci), storage);
    int32_t param = 21;
    EXPECT_EQ(platform::callComponent(ci, 7, &param), 42);
    EXPECT_EQ(p.lastSelector, 7);

    // A component with instances stays registered.
    EXPECT_EQ(platform::unregisterComponent(c), validInstancesExist);
    ComponentInstance second = OpenComponent(c);
    ASSERT_TRUE(second);
    EXPECT_NE(second, ci);
    EXPECT_EQ(CloseComponent(ci), noErr);
    EXPECT_EQ(p.lastClosed, ci);
    EXPECT_EQ(CloseComponent(ci), OSErr(badComponentInstance)); // closed already
    EXPECT_EQ(GetComponentInstanceStorage(ci), nullptr);
    EXPECT_EQ(CloseComponent(second), noErr);
    EXPECT_EQ(p.closes, 2);
    DisposeHandle(storage);

    // Calls on what the manager does not know, or a component rather than an instance.
    int bogus = 0;
    EXPECT_EQ(CloseComponent(reinterpret_cast<ComponentInstance>(&bogus)), OSErr(badComponentInstance));
    EXPECT_EQ(CloseComponent(ComponentInstance(nullptr)), OSErr(badComponentInstance));
    EXPECT_EQ(CloseComponent(reinterpret_cast<ComponentInstance>(c)), OSErr(badComponentInstance));
    EXPECT_EQ(platform::callComponent(reinterpret_cast<ComponentInstance>(&bogus), 1, &param),
              badComponentInstance);
    ComponentInstance silent = OpenComponent(next);
    ASSERT_TRUE(silent);
    EXPECT_EQ(platform::callComponent(silent, 1, &param), badComponentSelector);
    EXPECT_EQ(CloseComponent(silent), noErr);
    EXPECT_EQ(OpenAComponent(reinterpret_cast<Component>(&bogus), &ci), invalidComponentID);
    EXPECT_EQ(ci, nullptr);
    EXPECT_EQ(OpenAComponent(c, nullptr), paramErr);

    // Once closed, it goes; its record is refused from then on, never reused.
    EXPECT_EQ(platform::unregisterComponent(c), noErr);
    EXPECT_EQ(platform::unregisterComponent(c), invalidComponentID);
    EXPECT_EQ(found(ours), std::vector<Component>{next});
    EXPECT_EQ(GetComponentInfo(c, &cd, nullptr, nullptr, nullptr), invalidComponentID);
    EXPECT_EQ(OpenComponent(c), nullptr);
}

TEST_F(ComponentsTest, ProvidersRefuseOrHandOutTheirOwnInstances) {
    Provider p;
    Component c = add(kTest, FOUR_CHAR_CODE("own "), 0, 0, "Own", providerCallbacks(), &p);
    ASSERT_TRUE(c);
    p.openResult = -1234;
    ComponentInstance ci = reinterpret_cast<ComponentInstance>(&p);
    EXPECT_EQ(OpenAComponent(c, &ci), -1234);
    EXPECT_EQ(ci, nullptr);
    // A refused open leaves no instance behind: the component can go at once.
    EXPECT_EQ(platform::unregisterComponent(c), noErr);
    c = add(kTest, FOUR_CHAR_CODE("own "), 0, 0, "Own", providerCallbacks(), &p);
    ASSERT_TRUE(c);
    p.openResult = noErr;
    p.useOwn = true;
    ASSERT_EQ(OpenAComponent(c, &ci), noErr);
    EXPECT_EQ(ci, reinterpret_cast<ComponentInstance>(&p.ownObject));
    EXPECT_EQ(GetComponentInstanceStorage(ci), nullptr); // not the manager's
    EXPECT_EQ(CloseComponent(ci), noErr);
    EXPECT_EQ(p.lastClosed, ci);
}

TEST_F(ComponentsTest, ClocksAreComponents) {
    ComponentDescription clocks{clockComponentType, 0, 0, 0, 0};
    const std::vector<Component> all = found(clocks);
    ASSERT_GE(all.size(), 2u);
    ComponentDescription cd{};
    Handle name = NewHandle(0);
    ASSERT_EQ(GetComponentInfo(all[0], &cd, name, nullptr, nullptr), noErr);
    EXPECT_EQ(cd.componentSubType, systemMicrosecondClock);
    EXPECT_EQ(cd.componentManufacturer, platform::kVendorCode);
    EXPECT_NE(cd.componentFlags & cmpThreadSafe, 0u);
    EXPECT_EQ(pstring(name), "System Clock");
    Handle icon = nullptr;
    EXPECT_EQ(GetComponentIconSuite(all[0], &icon), noErr);
    DisposeHandle(icon);

    platform::ManualClock manual(5'000'000'000);
    platform::ScopedSystemClock scope(manual);
    // Opened through the manager: a clock of the time-base engine on the system clock.
    ComponentInstance system = OpenComponent(all[0]);
    ASSERT_TRUE(system);
    EXPECT_TRUE(platform::isClockInstance(system));
    TimeRecord tr{};
    ASSERT_EQ(ClockGetTime(system, &tr), noErr);
    EXPECT_EQ(platform::wideToInt64(tr.value), 5'000'000'000);
    // The steady clock keeps reading the steady clock.
    ComponentDescription steadyLooking{clockComponentType, systemSteadyClock, 0, 0, 0};
    ComponentInstance steady = OpenComponent(FindNextComponent(nullptr, &steadyLooking));
    ASSERT_TRUE(steady);
    ASSERT_EQ(ClockGetTime(steady, &tr), noErr);
    EXPECT_NE(platform::wideToInt64(tr.value), 5'000'000'000);
    ASSERT_EQ(GetComponentInfo(reinterpret_cast<Component>(steady), &cd, nullptr, nullptr, nullptr), noErr);
    EXPECT_EQ(cd.componentSubType, systemSteadyClock);

    // A clock opened directly on a source of the caller's is a system clock component instance.
    platform::ManualClock own(7);
    ComponentInstance direct = platform::openClock(&own);
    ASSERT_EQ(GetComponentInfo(reinterpret_cast<Component>(direct), &cd, nullptr, nullptr, nullptr), noErr);
    EXPECT_EQ(cd.componentType, clockComponentType);
    EXPECT_EQ(cd.componentSubType, systemMicrosecondClock);

    // CloseComponent closes every clock alike.
    for (ComponentInstance ci : {system, steady, direct}) {
        EXPECT_EQ(CloseComponent(ci), noErr);
        EXPECT_FALSE(platform::isClockInstance(ci));
        EXPECT_EQ(CloseComponent(ci), OSErr(badComponentInstance));
    }
    DisposeHandle(name);
}

TEST_F(ComponentsTest, ConcurrentRegistrationLookupAndInstances) {
    constexpr int kThreads = 8, kRounds = 200;
    std::atomic<int> failures{0};
    std::vector<Component> mine(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        mine[t] = add(kTest, FOUR_CHAR_CODE("thr0") + uint32_t(t), 0, cmpThreadSafe);
        ASSERT_TRUE(mine[t]);
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ComponentDescription looking{kTest, FOUR_CHAR_CODE("thr0") + uint32_t(t), 0, cmpThreadSafe,
                                         cmpThreadSafe};
            for (int i = 0; i < kRounds; ++i) {
                // Others register and unregister while this thread looks up and opens.
                Component extra = platform::registerComponent({kTest, FOUR_CHAR_CODE("xtra"), 0, 0, 0}, "x",
                                                              nullptr, nullptr, {}, nullptr);
                if (FindNextComponent(nullptr, &looking) != mine[t]) ++failures;
                ComponentInstance ci = OpenComponent(mine[t]);
                ComponentDescription cd{};
                if (!ci ||
                    GetComponentInfo(reinterpret_cast<Component>(ci), &cd, nullptr, nullptr, nullptr) !=
                        noErr ||
                    cd.componentSubType != looking.componentSubType)
                    ++failures;
                if (CloseComponent(ci) != noErr) ++failures;
                if (platform::unregisterComponent(extra) != noErr) ++failures;
                ComponentDescription clocks{clockComponentType, systemMicrosecondClock, 0, 0, 0};
                if (CountComponents(&clocks) != 1) ++failures;
            }
        });
    }
    for (std::thread& th : threads)
        th.join();
    EXPECT_EQ(failures.load(), 0);
    ComponentDescription extras{kTest, FOUR_CHAR_CODE("xtra"), 0, 0, 0};
    EXPECT_EQ(CountComponents(&extras), 0);
}
