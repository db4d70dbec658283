// The component service (connection, properties, settings and their documents, progress events,
// the thread list) and the background thread (runs over a clone, events in order, owners that go
// away while the worker runs).
#include "KelvoComponentService.h"
#include "KelvoCoreObjectsDocument.h"

#include "PlatformAtoms.h"
#include "PlatformEndian.h"
#include "PlatformErrors.h"
#include "PlatformMemory.h"
#include "PlatformMovieThreads.h"
#include "PlatformProperties.h"
#include "PlatformSystem.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
constexpr auto kWait = 20s;

constexpr OSType kServiceType = FOUR_CHAR_CODE("tsvc");
constexpr OSType kServiceId = FOUR_CHAR_CODE("TSVC");
constexpr OSType kMaker = FOUR_CHAR_CODE("test");
constexpr OSErr kRefusedOpen = -4040;

// ---------------------------------------------------------------------------------------------
// Components the services connect to: a thread-safe one that answers the can-do question, one
// that is not thread-safe, and one that refuses every open.

std::atomic<int> gOpened{0};
std::atomic<int> gClosed{0};

OSErr openCounted(void*, Component, ComponentInstance*) {
    ++gOpened;
    return noErr;
}
OSErr closeCounted(void*, ComponentInstance) {
    ++gClosed;
    return noErr;
}
OSErr openRefused(void*, Component, ComponentInstance*) {
    return kRefusedOpen;
}
ComponentResult answerCanDo(void*, ComponentInstance, int32_t selector, void* params) {
    if (selector != kComponentCanDoSelect || !params) return badComponentSelector;
    const int16_t asked = *static_cast<int16_t*>(params);
    return asked == 11 || asked == 19 ? 1 : 0;
}

class Components {
  public:
    Components() {
        platform::ComponentCallbacks counted;
        counted.open = openCounted;
        counted.close = closeCounted;
        counted.dispatch = answerCanDo;
        platform::ComponentCallbacks refused;
        refused.open = openRefused;
        add({kServiceType, FOUR_CHAR_CODE("safe"), kMaker, cmpThreadSafe | 0x5u, 0}, counted);
        add({kServiceType, FOUR_CHAR_CODE("slow"), kMaker, 0, 0}, counted);
        add({kServiceType, FOUR_CHAR_CODE("shut"), kMaker, 0, 0}, refused);
    }
    ~Components() {
        for (Component c : _added)
            platform::unregisterComponent(c);
    }

  private:
    void add(const ComponentDescription& d, const platform::ComponentCallbacks& callbacks) {
        if (Component c =
                platform::registerComponent(d, "Test service", nullptr, nullptr, callbacks, nullptr))
            _added.push_back(c);
    }
    std::vector<Component> _added;
};

// The smallest concrete service: settings start as an empty container.
class TestService : public Kelvo_ComponentService {
  public:
    explicit TestService(OSType subType = FOUR_CHAR_CODE("safe")) {
        initConnection(new Kelvo_Component(kServiceType, subType));
        InitService();
    }
    TestService(const TestService& other) : Kelvo_ComponentService(other) {}

    uint32_t serviceId() override { return kServiceId; }
    void InitService() override {
        if (qtObjIsValid() && !_settings) QTNewAtomContainer(&_settings);
    }
    bool ShowDialog() override { return false; }
    bool ShowDialogWithin(OpaqueWindowPtr*) override { return false; }
    void settingsToString(char*& text) override { text = nullptr; }
    void ReadSettings(const char*) override {}

    void tag(uint32_t t) { _settingsTag = t; }
    void dropSettings() {
        if (_settings) QTDisposeAtomContainer(_settings);
        _settings = nullptr;
    }
};

// A data source whose clones are counted, and whose last clone's end a test can wait for.
class Probe : public Kelvo_QTObj {
  public:
    explicit Probe(int value) : value(value) { changeLive(+1); }
    Probe(const Probe& other) : Kelvo_QTObj(other), value(other.value) { changeLive(+1); }
    ~Probe() override { changeLive(-1); }
    const char* qtObjName() const override { return "Probe"; }
    Kelvo_QTObj* clone() override { return new Probe(*this); }

    int value;

    static int live() {
        std::lock_guard<std::mutex> lock(mutex());
        return count();
    }
    // Waits until only `n` probes are left.
    static bool waitUntilLive(int n) {
        std::unique_lock<std::mutex> lock(mutex());
        return cv().wait_for(lock, kWait, [n] { return count() == n; });
    }

  private:
    static void changeLive(int delta) {
        std::lock_guard<std::mutex> lock(mutex());
        count() += delta;
        cv().notify_all();
    }
    static std::mutex& mutex() {
        static std::mutex m;
        return m;
    }
    static std::condition_variable& cv() {
        static std::condition_variable c;
        return c;
    }
    static int& count() {
        static int n = 0;
        return n;
    }
};

// Valid, but nothing can be cloned from it.
class Uncloneable : public Kelvo_QTObj {};

// Invalid, with an error of its own.
class Broken : public Kelvo_QTObj {
  public:
    Broken() { _status = -7777; }
    bool qtObjIsValid() override { return false; }
};

// What an events handler heard, in order, with the thread it heard it on.
struct Heard {
    uint32_t code;
    int32_t parameter;
    QTUUID uid{};
    double progress = -1.0;
    std::thread::id on;
};

class Recorder {
  public:
    static void callback(uint32_t event, void* data, int32_t parameter, void* reference) {
        auto* self = static_cast<Recorder*>(reference);
        Heard h{event, parameter, {}, -1.0, std::this_thread::get_id()};
        if (event == kKelvoEventWorkProgress)
            h.progress = *static_cast<double*>(data);
        else if (data)
            h.uid = static_cast<Kelvo_UUID*>(data)->uuid();
        std::lock_guard<std::mutex> lock(self->_mutex);
        self->_heard.push_back(h);
        self->_cv.notify_all();
    }
    void listenTo(Kelvo_BaseEventsHandler& handler) { handler.setEventsHandler(callback, this); }

    // Waits until an event with that code has been heard.
    bool waitFor(uint32_t code) {
        std::unique_lock<std::mutex> lock(_mutex);
        return _cv.wait_for(lock, kWait, [&] {
            for (const Heard& h : _heard)
                if (h.code == code) return true;
            return false;
        });
    }
    std::vector<Heard> heard() {
        std::lock_guard<std::mutex> lock(_mutex);
        return _heard;
    }
    std::vector<uint32_t> codes() {
        std::vector<uint32_t> out;
        for (const Heard& h : heard())
            out.push_back(h.code);
        return out;
    }

  private:
    std::mutex _mutex;
    std::condition_variable _cv;
    std::vector<Heard> _heard;
};

bool sameUid(const QTUUID& a, const Kelvo_UUID& b) {
    return QTEqualUUIDs(&a, &b.uuid());
}

// A gate that blocked procedures wait at; opened once per test.
class Gate {
  public:
    static void reset() {
        std::lock_guard<std::mutex> lock(mutex());
        open() = false;
        waiting() = 0;
    }
    static void release() {
        std::lock_guard<std::mutex> lock(mutex());
        open() = true;
        cv().notify_all();
    }
    // False when nobody opened it in time.
    static bool pass() {
        std::unique_lock<std::mutex> lock(mutex());
        ++waiting();
        cv().notify_all();
        return cv().wait_for(lock, kWait, [] { return open(); });
    }
    static bool waitForWaiters(int n) {
        std::unique_lock<std::mutex> lock(mutex());
        return cv().wait_for(lock, kWait, [n] { return waiting() >= n; });
    }

  private:
    static std::mutex& mutex() {
        static std::mutex m;
        return m;
    }
    static std::condition_variable& cv() {
        static std::condition_variable c;
        return c;
    }
    static bool& open() {
        static bool o = false;
        return o;
    }
    static int& waiting() {
        static int w = 0;
        return w;
    }
};

// A movie as the movie wrapper shows itself to this library: by its class name and reference.
// A clone holds a new movie of its own, made (and so attached) on the cloning thread.
class MovieProbe : public Probe {
  public:
    MovieProbe() : Probe(0), _movie(NewMovie(0)) {}
    ~MovieProbe() override { DisposeMovie(_movie); }
    const char* qtObjName() const override { return "MovieProbe"; }
    bool isA(const char* name) const override {
        return Kelvo_QTObj::isA(name) || (name && std::strcmp(name, "Kelvo_Movie") == 0);
    }
    void* qtObjReference() override { return _movie; }
    Kelvo_QTObj* clone() override { return new MovieProbe(); }
    Movie movie() const { return _movie; }

  private:
    Movie _movie = nullptr;
};

// Where the movie of the source stood, as the worker saw it.
struct Attachment {
    std::mutex mutex;
    Boolean here = false, any = false;
    OSErr enterAgain = 1, exitAgain = 1;
};
Attachment gAttachment;

bool lookAtTheMovie(Kelvo_BackgroundThread* t) {
    std::lock_guard<std::mutex> lock(gAttachment.mutex);
    GetMovieThreadAttachState(static_cast<Movie>(t->dataSource()->qtObjReference()), &gAttachment.here,
                              &gAttachment.any);
    // The worker has entered the toolbox: its own calls nest inside the run's.
    gAttachment.enterAgain = EnterMoviesOnThread(0);
    gAttachment.exitAgain = ExitMoviesOnThread();
    return true;
}

// What the procedures saw of the thread they were handed.
struct Seen {
    std::mutex mutex;
    const Kelvo_QTObj* source = nullptr;
    int sourceValue = 0;
    bool busy = false;
    bool running = false;
    int32_t refusedSource = 0;
    std::thread::id on;
};
Seen gSeen;

bool succeedWithProgress(Kelvo_BackgroundThread* t) {
    auto* source = static_cast<Probe*>(t->dataSource());
    {
        std::lock_guard<std::mutex> lock(gSeen.mutex);
        gSeen.source = source;
        gSeen.sourceValue = source ? source->value : 0;
        gSeen.busy = t->isBusy();
        gSeen.running = t->qtObjIsValid();
        gSeen.on = std::this_thread::get_id();
        Probe other(1);
        t->dataSource(&other); // the data source cannot change under a running worker
        gSeen.refusedSource = t->Error();
    }
    if (source) source->value = 42; // the clone is the worker's to change
    for (double p : {0.25, 0.75})
        t->eventsHandler().notifyEvent(kKelvoEventWorkProgress, &p, 0);
    return true;
}
bool fail(Kelvo_BackgroundThread*) {
    return false;
}
bool abortInside(Kelvo_BackgroundThread* t) {
    t->abort();
    return true;
}
bool stopInside(Kelvo_BackgroundThread* t) {
    t->_stop();
    return true;
}
bool waitAtGate(Kelvo_BackgroundThread*) {
    return Gate::pass();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Component service

class ComponentServiceTest : public ::testing::Test {
  protected:
    Components _components;
    testsupport::ScratchDir _dir{"tki-service"};
};

TEST_F(ComponentServiceTest, ConnectionOpensAndClosesWithTheService) {
    const int opened = gOpened, closed = gClosed;
    {
        TestService service;
        ASSERT_TRUE(service.qtObjIsValid());
        EXPECT_EQ(service.Error(), 0);
        EXPECT_EQ(service.qtObjReference(), service.component()->instance());
        EXPECT_NE(service.qtObjReference(), nullptr);
        EXPECT_EQ(gOpened, opened + 1);
        // A new connection closes the old one.
        service.initConnection(new Kelvo_Component(kServiceType, FOUR_CHAR_CODE("slow")));
        EXPECT_TRUE(service.qtObjIsValid());
        EXPECT_EQ(service.component()->SubType(), FOUR_CHAR_CODE("slow"));
        EXPECT_EQ(gOpened, opened + 2);
        EXPECT_EQ(gClosed, closed + 1);
        EXPECT_TRUE(service.isA("Kelvo_ComponentService"));
        EXPECT_TRUE(service.isA("Kelvo_QTObj"));
    }
    EXPECT_EQ(gClosed, closed + 2);
}

TEST_F(ComponentServiceTest, ConnectionFailuresLeaveNoComponentAndAStatus) {
    auto reset = [] {
        auto* c = new Kelvo_Component(kServiceType, FOUR_CHAR_CODE("safe"));
        c->reset(); // invalid, with no error of its own
        return c;
    };
    struct Case {
        const char* name;
        std::function<Kelvo_Component*()> make;
        int32_t status;
    } cases[] = {
        {"null", [] { return static_cast<Kelvo_Component*>(nullptr); }, -108},
        {"no component", [] { return new Kelvo_Component(); }, paramErr},
        {"invalid without error", reset, paramErr},
        {"open refused", [] { return new Kelvo_Component(kServiceType, FOUR_CHAR_CODE("shut")); },
         kRefusedOpen},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestService service;
        service.initConnection(c.make());
        EXPECT_FALSE(service.qtObjIsValid());
        EXPECT_EQ(service.component(), nullptr);
        EXPECT_EQ(service.qtObjReference(), nullptr);
        EXPECT_EQ(service.Error(), c.status);
        EXPECT_EQ(service.ServiceInfo(), nullptr);
    }
}

TEST_F(ComponentServiceTest, PropertiesOfTheComponent) {
    TestService service;
    ComponentInstance instance = service.component()->instance();
    const OSType cls = FOUR_CHAR_CODE("clss");
    const uint32_t four = 0x01020304u;
    platform::setStoredProperty(instance, cls, FOUR_CHAR_CODE("four"), FOUR_CHAR_CODE("long"),
                                kComponentPropertyFlagCanGetNow | kComponentPropertyFlagCanSetNow, &four, 4);
    platform::setStoredProperty(instance, cls, FOUR_CHAR_CODE("read"), FOUR_CHAR_CODE("long"),
                                kComponentPropertyFlagCanGetNow, &four, 4);

    uint32_t value = 0;
    EXPECT_EQ(service.getProperty(cls, FOUR_CHAR_CODE("four"), &value, 4), 4u);
    EXPECT_EQ(value, four);
    Handle h = service.getProperty(cls, FOUR_CHAR_CODE("four"));
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(GetHandleSize(h), 4);
    EXPECT_EQ(std::memcmp(*h, &four, 4), 0);
    DisposeHandle(h);

    // A buffer too small for the value is never written past.
    uint16_t small = 0xBEEF;
    EXPECT_EQ(service.getProperty(cls, FOUR_CHAR_CODE("four"), &small, 2), 0u);
    EXPECT_EQ(service.Error(), kQTPropertyBadValueSizeErr);
    EXPECT_EQ(small, 0xBEEF);
    EXPECT_EQ(service.getProperty(cls, FOUR_CHAR_CODE("none"), &value, 4), 0u);
    EXPECT_EQ(service.Error(), kQTPropertyNotSupportedErr);
    EXPECT_EQ(service.getProperty(cls, FOUR_CHAR_CODE("none")), nullptr);
    EXPECT_EQ(service.Error(), kQTPropertyNotSupportedErr);

    const uint32_t changed = 0xCAFEF00Du;
    EXPECT_TRUE(service.setProperty(cls, FOUR_CHAR_CODE("four"), &changed, 4));
    EXPECT_EQ(service.Error(), 0);
    EXPECT_EQ(service.getProperty(cls, FOUR_CHAR_CODE("four"), &value, 4), 4u);
    EXPECT_EQ(value, changed);
    // Failures answer false, never a status that reads as true.
    EXPECT_FALSE(service.setProperty(cls, FOUR_CHAR_CODE("read"), &changed, 4));
    EXPECT_EQ(service.Error(), kQTPropertyReadOnlyErr);
    EXPECT_FALSE(service.setProperty(cls, FOUR_CHAR_CODE("none"), &changed, 4));
    EXPECT_EQ(service.Error(), kQTPropertyNotSupportedErr);
    platform::removeStoredProperties(instance);

    TestService none(FOUR_CHAR_CODE("shut"));
    EXPECT_EQ(none.getProperty(cls, FOUR_CHAR_CODE("four"), &value, 4), 0u);
    EXPECT_EQ(none.Error(), badComponentInstance);
    EXPECT_FALSE(none.setProperty(cls, FOUR_CHAR_CODE("four"), &changed, 4));
}

TEST_F(ComponentServiceTest, ComponentDescriptionAtomInTheSettings) {
    TestService service;
    ComponentDescription d{};
    EXPECT_EQ(service.GetComponentDescFromSetting(&d), 0); // no atom yet
    const QTAtom atom = service.SetComponentDescToSetting();
    ASSERT_NE(atom, 0);
    EXPECT_TRUE(service.SettingsExist(kKelvoComponentDescAtom));
    // Five big-endian words.
    int32_t size = 0;
    Ptr bytes = nullptr;
    ASSERT_EQ(QTGetAtomDataPtr(service.settings(), atom, &size, &bytes), noErr);
    ASSERT_EQ(size, 20);
    EXPECT_EQ(std::string(bytes, 20), std::string("tsvcsafetest\x10\0\0\x05\0\0\0\0", 20));

    EXPECT_EQ(service.GetComponentDescFromSetting(&d), atom);
    EXPECT_EQ(d.componentType, kServiceType);
    EXPECT_EQ(d.componentSubType, FOUR_CHAR_CODE("safe"));
    EXPECT_EQ(d.componentManufacturer, kMaker);
    EXPECT_EQ(d.componentFlags, cmpThreadSafe | 0x5u);
    EXPECT_EQ(d.componentFlagsMask, 0u);
    EXPECT_EQ(service.GetComponentDescFromSetting(nullptr), 0);

    // A description of another size is refused and leaves the output alone.
    const uint8_t sixteen[16] = {1, 2, 3, 4};
    QTInsertChild(service.settings(), 0, kKelvoComponentDescAtom, 0, 1, 16, sixteen, nullptr);
    ComponentDescription untouched{7, 7, 7, 7, 7};
    EXPECT_EQ(service.GetComponentDescFromSetting(&untouched), 0);
    EXPECT_EQ(service.Error(), paramErr);
    EXPECT_EQ(untouched.componentType, 7u);

    service.dropSettings();
    EXPECT_EQ(service.SetComponentDescToSetting(), 0);
    EXPECT_EQ(service.Error(), paramErr);
    EXPECT_EQ(service.GetComponentDescFromSetting(&d), 0);
    EXPECT_FALSE(service.SettingsExist(kKelvoComponentDescAtom));
}

TEST_F(ComponentServiceTest, SettingsDocumentIsWrittenAndReadBack) {
    TestService service;
    service.SetComponentDescToSetting();
    const char payload[] = "quality 0.75";
    QTInsertChild(service.settings(), 0, FOUR_CHAR_CODE("qual"), 0, 0, sizeof payload, payload, nullptr);
    // Tags are stored so that their bytes read as the subtype's characters.
    uint32_t tag = 0;
    std::memcpy(&tag, "PNGf", 4);
    service.tag(tag);
    service.Description("Quality settings");
    const std::string path = _dir.file("settings.kdoc");
    service.WriteSettings(path.c_str());
    ASSERT_EQ(service.Error(), 0);

    const std::string file = testsupport::readFile(path);
    ASSERT_GT(file.size(), 516u);
    EXPECT_EQ(file.substr(0, 512), std::string(512, '\0'));
    EXPECT_EQ(file.substr(512, 4), "KELV");

    Kelvo_QTObjDocument document(path.c_str());
    ASSERT_EQ(document.Error(), 0);
    EXPECT_EQ(document.DocType(), kServiceId);
    ASSERT_EQ(document.NodesCount(), 1);
    QTAtomContainer read = nullptr;
    uint32_t flags = 0;
    char* description = nullptr;
    document.Doc_NodeDataToAtomContainer(&read, &flags, &description, 1);
    ASSERT_EQ(document.Error(), 0);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(std::memcmp(&flags, "PNGf", 4), 0);
    ASSERT_NE(description, nullptr);
    EXPECT_STREQ(description, "Quality settings");
    delete[] description;
    Handle original = nullptr, copy = nullptr;
    ASSERT_EQ(QTFlattenAtomContainer(service.settings(), &original), noErr);
    ASSERT_EQ(QTFlattenAtomContainer(read, &copy), noErr);
    EXPECT_EQ(std::string(*copy, GetHandleSize(copy)), std::string(*original, GetHandleSize(original)));
    DisposeHandle(original);
    DisposeHandle(copy);
    QTDisposeAtomContainer(read);

    // Without tag or description the node carries neither.
    TestService plain;
    const std::string plainPath = _dir.file("plain.kdoc");
    plain.WriteSettings(plainPath.c_str());
    ASSERT_EQ(plain.Error(), 0);
    Kelvo_QTObjDocument plainDocument(plainPath.c_str());
    ASSERT_EQ(plainDocument.NodesCount(), 1);
    flags = 0xFFFFFFFFu;
    description = nullptr;
    plainDocument.Doc_NodeDataToAtomContainer(&read, &flags, &description, 1);
    EXPECT_EQ(plainDocument.Error(), 0);
    EXPECT_EQ(flags, 0xFFFFFFFFu);
    EXPECT_EQ(description, nullptr);
    EXPECT_EQ(QTCountChildren(read, 0), 0);
    QTDisposeAtomContainer(read);

    // A folder that does not exist; a service without component writes nothing.
    plain.WriteSettings(_dir.file("missing/settings.kdoc").c_str());
    EXPECT_EQ(plain.Error(), kKelvoCannotOpenForWriting);
    TestService none(FOUR_CHAR_CODE("shut"));
    const std::string nonePath = _dir.file("none.kdoc");
    none.WriteSettings(nonePath.c_str());
    EXPECT_FALSE(std::filesystem::exists(nonePath));
}

TEST_F(ComponentServiceTest, SettingsAsDictionary) {
    TestService service;
    const char payload[] = "abc";
    QTInsertChild(service.settings(), 0, FOUR_CHAR_CODE("abcd"), 0, 0, sizeof payload, payload, nullptr);
    std::unique_ptr<Kelvo_Dictionary> properties(service.Properties());
    ASSERT_NE(properties, nullptr);
    EXPECT_NE(properties->Dictionary(), service.settings()); // a copy
    EXPECT_EQ(properties->childCount(FOUR_CHAR_CODE("abcd")), 1);
    properties->clear();
    EXPECT_TRUE(service.SettingsExist(FOUR_CHAR_CODE("abcd")));

    service.Properties(nullptr);
    EXPECT_EQ(service.Error(), -108);
    Kelvo_Dictionary empty;
    service.Properties(&empty);
    EXPECT_EQ(service.Error(), paramErr);
    EXPECT_TRUE(service.SettingsExist(FOUR_CHAR_CODE("abcd")));

    Kelvo_Dictionary replacement;
    QTInsertChild(replacement.Dictionary(), 0, FOUR_CHAR_CODE("wxyz"), 0, 0, sizeof payload, payload,
                  nullptr);
    service.Properties(&replacement);
    EXPECT_EQ(service.Error(), 0);
    EXPECT_NE(service.settings(), replacement.Dictionary());
    EXPECT_TRUE(service.SettingsExist(FOUR_CHAR_CODE("wxyz")));
    EXPECT_FALSE(service.SettingsExist(FOUR_CHAR_CODE("abcd")));

    service.dropSettings();
    EXPECT_EQ(service.Properties(), nullptr);
}

TEST_F(ComponentServiceTest, CopyConnectsAgainAndCopiesTheSettings) {
    TestService service;
    Recorder recorder;
    recorder.listenTo(service.eventsHandler());
    service.SetComponentDescToSetting();
    service.Description("not copied");
    service.tag(7);
    service.FileType(FOUR_CHAR_CODE("PNGf"));
    Kelvo_ProgressNotifier notifier([](double, void*, int32_t) {}, nullptr);
    service.Callback(&notifier);
    service.backgroundTaskEnabled(true);
    ASSERT_TRUE(service.backgroundTaskEnabled());

    const int opened = gOpened;
    TestService copy(service);
    EXPECT_EQ(copy.Error(), 0);
    ASSERT_TRUE(copy.qtObjIsValid());
    EXPECT_EQ(gOpened, opened + 1);
    EXPECT_NE(copy.component()->instance(), service.component()->instance());
    EXPECT_EQ(copy.component()->id(), service.component()->id());
    EXPECT_TRUE(copy.backgroundTaskEnabled());
    EXPECT_TRUE(copy.eventsHandler().qtObjIsValid());
    ASSERT_NE(copy.settings(), nullptr);
    EXPECT_NE(copy.settings(), service.settings());
    EXPECT_TRUE(copy.SettingsExist(kKelvoComponentDescAtom));
    EXPECT_STREQ(copy.Description(), "");
    EXPECT_EQ(copy.settingsTag(), 0u);
    EXPECT_EQ(copy.FileType(), 0u);
    EXPECT_EQ(copy.Callback(), nullptr);
    EXPECT_FALSE(copy.uid() == service.uid());

    TestService none(FOUR_CHAR_CODE("shut"));
    TestService noCopy(none);
    EXPECT_FALSE(noCopy.qtObjIsValid());
    EXPECT_EQ(noCopy.Error(), paramErr);
}

TEST_F(ComponentServiceTest, FeaturesAndBackgroundThreading) {
    TestService service;
    EXPECT_TRUE(service.HasFeature(11));
    EXPECT_TRUE(service.HasFeature(19));
    EXPECT_FALSE(service.HasFeature(5));
    EXPECT_FALSE(service.hasGUI());
    TestService none(FOUR_CHAR_CODE("shut"));
    EXPECT_FALSE(none.HasFeature(11));
    EXPECT_FALSE(none.hasBackgroundThreading());

    static SInt32 version;
    static OSErr answer;
    auto previous = platform::setGestaltHandler([](OSType selector, SInt32* r) -> OSErr {
        if (selector != gestaltSystemVersion) return gestaltUndefSelectorErr;
        *r = version;
        return answer;
    });
    struct Case {
        SInt32 version;
        OSErr answer;
        OSType subType;
        bool enabled;
    } cases[] = {
        {0x1030, noErr, FOUR_CHAR_CODE("safe"), true},
        {0x1068, noErr, FOUR_CHAR_CODE("safe"), true},
        {0x102F, noErr, FOUR_CHAR_CODE("safe"), false}, // system too old
        {0x1068, noErr, FOUR_CHAR_CODE("slow"), false}, // component not thread-safe
        {0x1068, gestaltUndefSelectorErr, FOUR_CHAR_CODE("safe"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        version = c.version;
        answer = c.answer;
        TestService s(c.subType);
        EXPECT_EQ(s.hasBackgroundThreading(), c.enabled);
        s.backgroundTaskEnabled(true);
        EXPECT_EQ(s.backgroundTaskEnabled(), c.enabled);
    }
    platform::setGestaltHandler(previous);
}

TEST_F(ComponentServiceTest, DescriptionNotifierTypesAndInfo) {
    TestService service;
    service.Description("first");
    service.Description(nullptr);
    EXPECT_EQ(service.Error(), paramErr);
    EXPECT_STREQ(service.Description(), "first");

    service.FileType(FOUR_CHAR_CODE("JPEG"));
    service.FileType(0);
    service.FileCreator(FOUR_CHAR_CODE("ogle"));
    service.FileCreator(0);
    EXPECT_EQ(service.FileType(), FOUR_CHAR_CODE("JPEG"));
    EXPECT_EQ(service.FileCreator(), FOUR_CHAR_CODE("ogle"));
    service.DefaultCallback(true);
    EXPECT_TRUE(service.DefaultCallback());

    Kelvo_ProgressNotifier notifier([](double, void*, int32_t) {}, &service);
    service.Callback(&notifier);
    ASSERT_NE(service.Callback(), nullptr);
    EXPECT_NE(service.Callback(), &notifier);
    EXPECT_EQ(service.Callback()->reference(), &service);
    Kelvo_ProgressNotifier unset;
    service.Callback(&unset);
    EXPECT_EQ(service.Callback(), nullptr);
    EXPECT_EQ(service.Error(), 0);

    std::unique_ptr<Kelvo_Component> info(service.ServiceInfo());
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->id(), service.component()->id());
    EXPECT_FALSE(info->isConnected());

    TestService none(FOUR_CHAR_CODE("shut"));
    none.Callback(&notifier); // nothing on an invalid service
    EXPECT_EQ(none.Callback(), nullptr);
}

TEST_F(ComponentServiceTest, ProgressProceduresSendEventsAndCallTheNotifier) {
    TestService service;
    Recorder recorder;
    recorder.listenTo(service.eventsHandler());
    static std::vector<double> notified;
    notified.clear();
    Kelvo_ProgressNotifier notifier([](double p, void*, int32_t) { notified.push_back(p); }, nullptr);
    service.Callback(&notifier);

    const auto refcon = reinterpret_cast<intptr_t>(&service);
    EXPECT_EQ(Kelvo_ComponentServiceICMEventsProc(0, 0, refcon), noErr);
    EXPECT_EQ(Kelvo_ComponentServiceICMEventsProc(1, 0x8000, refcon), noErr);
    EXPECT_EQ(Kelvo_ComponentServiceMovieEventsProc(nullptr, 1, 0, 0x4000, refcon), noErr);
    EXPECT_EQ(Kelvo_ComponentServiceICMEventsProc(7, 0x8000, refcon), noErr); // not a progress message
    EXPECT_EQ(Kelvo_ComponentServiceICMEventsProc(2, 0, refcon), noErr);
    EXPECT_EQ(Kelvo_ComponentServiceICMEventsProc(1, 0x8000, 0), paramErr);
    EXPECT_EQ(Kelvo_ComponentServiceMovieEventsProc(nullptr, 1, 0, 0x8000, 0), noErr);

    const std::vector<Heard> heard = recorder.heard();
    ASSERT_EQ(heard.size(), 4u);
    EXPECT_EQ(heard[0].code, kKelvoEventWorkStarted);
    EXPECT_TRUE(sameUid(heard[0].uid, service.uid()));
    EXPECT_EQ(heard[0].parameter, 0);
    EXPECT_EQ(heard[1].code, kKelvoEventWorkProgress);
    EXPECT_EQ(heard[1].progress, 0.5);
    EXPECT_EQ(heard[2].code, kKelvoEventWorkProgress);
    EXPECT_EQ(heard[2].progress, 0.25);
    EXPECT_EQ(heard[3].code, kKelvoEventWorkEnded);
    EXPECT_TRUE(sameUid(heard[3].uid, service.uid()));
    EXPECT_EQ(notified, (std::vector<double>{0.5, 0.25, 1.0}));

    // Without a handler the notifier still hears progress.
    service.eventsHandler().setEventsHandler(nullptr, nullptr);
    Kelvo_ComponentServiceICMEventsProc(1, 0x10000, refcon);
    EXPECT_EQ(recorder.heard().size(), 4u);
    EXPECT_EQ(notified.back(), 1.0);
}

// The platform may report progress on a thread of its own while the owner changes the listener
// and the notifier.
TEST_F(ComponentServiceTest, ProgressFromAnotherThreadWhileTheOwnerChangesListeners) {
    TestService service;
    Recorder recorder;
    static std::atomic<int> notified{0};
    notified = 0;
    Kelvo_ProgressNotifier notifier([](double, void*, int32_t) { ++notified; }, nullptr);
    const auto refcon = reinterpret_cast<intptr_t>(&service);
    std::atomic<bool> done{false};
    std::thread platformThread([&] {
        for (int i = 0; i < 2000; ++i)
            Kelvo_ComponentServiceICMEventsProc(int16_t(i % 3), Fixed(i), refcon);
        done = true;
    });
    int swaps = 0;
    while (!done || swaps < 10) {
        recorder.listenTo(service.eventsHandler());
        service.Callback(&notifier);
        service.eventsHandler().setEventsHandler(nullptr, nullptr);
        service.Callback(nullptr);
        ++swaps;
    }
    platformThread.join();
    recorder.listenTo(service.eventsHandler());
    service.Callback(&notifier);
    Kelvo_ComponentServiceICMEventsProc(2, 0, refcon);
    EXPECT_EQ(recorder.codes().back(), kKelvoEventWorkEnded);
    EXPECT_GT(notified.load(), 0);
}

TEST_F(ComponentServiceTest, ThreadListKeepsOneEntryPerUid) {
    const int before = Probe::live();
    TestService service;
    Probe probe(1);
    auto* first = new Kelvo_BackgroundThread(fail);
    auto* second = new Kelvo_BackgroundThread(fail);
    first->dataSource(&probe);
    second->dataSource(&probe);
    service._addThread(nullptr);
    service._addThread(first);
    service._addThread(second);
    service._addThread(first);
    EXPECT_EQ(service.countOfActiveThreads(), 2);
    EXPECT_EQ(service._indexOfThread(first->uid()), 0);
    EXPECT_EQ(service._indexOfThread(second->uid()), 1);
    EXPECT_EQ(service._indexOfThread(Kelvo_UUID()), -1);

    service._removeThread(first->uid()); // deleted with its clone
    EXPECT_EQ(service.countOfActiveThreads(), 1);
    EXPECT_EQ(service._indexOfThread(second->uid()), 0);
    EXPECT_EQ(Probe::live(), before + 2);
    service._removeThread(Kelvo_UUID());
    EXPECT_EQ(service.countOfActiveThreads(), 1);
}

// ---------------------------------------------------------------------------------------------
// Background thread

class BackgroundThreadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Gate::reset();
        _live = Probe::live();
    }
    // Every run has ended once its clone is gone.
    void TearDown() override { EXPECT_TRUE(Probe::waitUntilLive(_live)); }
    int _live = 0;
};

TEST_F(BackgroundThreadTest, RunsOnACloneAndReportsInOrder) {
    Probe original(7);
    Kelvo_BackgroundThread thread(succeedWithProgress);
    Recorder recorder;
    recorder.listenTo(thread.eventsHandler());
    EXPECT_FALSE(thread.qtObjIsValid());
    EXPECT_FALSE(thread.isBusy());
    thread.dataSource(&original);
    ASSERT_EQ(thread.Error(), 0);
    const Kelvo_QTObj* clone = thread.dataSource();
    ASSERT_NE(clone, nullptr);
    EXPECT_NE(clone, &original);

    thread.run();
    ASSERT_EQ(thread.Error(), 0);
    EXPECT_EQ(thread.dataSource(), nullptr); // the run took it
    ASSERT_TRUE(recorder.waitFor(kKelvoEventWorkEnded));
    ASSERT_TRUE(Probe::waitUntilLive(_live + 1)); // the clone is gone, the original stays
    EXPECT_FALSE(thread.qtObjIsValid());
    EXPECT_FALSE(thread.isBusy());

    EXPECT_EQ(original.value, 7);
    {
        std::lock_guard<std::mutex> lock(gSeen.mutex);
        EXPECT_EQ(gSeen.source, clone);
        EXPECT_EQ(gSeen.sourceValue, 7);
        EXPECT_TRUE(gSeen.busy);
        EXPECT_TRUE(gSeen.running);
        EXPECT_EQ(gSeen.refusedSource, kKelvoThreadActive);
        EXPECT_NE(gSeen.on, std::this_thread::get_id());
    }
    const std::vector<Heard> heard = recorder.heard();
    ASSERT_EQ(heard.size(), 4u);
    const uint32_t order[] = {kKelvoEventWorkStarted, kKelvoEventWorkProgress, kKelvoEventWorkProgress,
                              kKelvoEventWorkEnded};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(heard[i].code, order[i]);
        EXPECT_EQ(heard[i].parameter, 0);
        EXPECT_EQ(heard[i].on, gSeen.on);
    }
    EXPECT_TRUE(sameUid(heard[0].uid, thread.uid()));
    EXPECT_TRUE(sameUid(heard[3].uid, thread.uid()));
    EXPECT_EQ(heard[1].progress, 0.25);
    EXPECT_EQ(heard[2].progress, 0.75);

    // The data source went with the run.
    thread.run();
    EXPECT_EQ(thread.Error(), kKelvoBadArgumentObject);
}

TEST_F(BackgroundThreadTest, OutcomesOfTheProcedure) {
    struct Case {
        const char* name;
        Kelvo_BackgroundThread::UserProcedure procedure;
        std::vector<uint32_t> codes;
    } cases[] = {
        {"fails", fail, {kKelvoEventWorkStarted, kKelvoEventWorkFailed}},
        {"aborts", abortInside, {kKelvoEventWorkStarted}},
        {"stops itself", stopInside, {kKelvoEventWorkStarted, kKelvoEventWorkEnded}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Probe original(1);
        Kelvo_BackgroundThread thread(c.procedure);
        Recorder recorder;
        recorder.listenTo(thread.eventsHandler());
        thread.dataSource(&original);
        thread.run();
        ASSERT_EQ(thread.Error(), 0);
        ASSERT_TRUE(Probe::waitUntilLive(_live + 1));
        EXPECT_EQ(recorder.codes(), c.codes);
        for (const Heard& h : recorder.heard()) {
            EXPECT_TRUE(sameUid(h.uid, thread.uid()));
            EXPECT_EQ(h.parameter, 0);
        }
        EXPECT_FALSE(thread.qtObjIsValid());
    }
}

TEST_F(BackgroundThreadTest, DataSourceAndRunRefusals) {
    Recorder recorder;
    Kelvo_BackgroundThread thread(fail);
    recorder.listenTo(thread.eventsHandler());
    thread.run();
    EXPECT_EQ(thread.Error(), kKelvoBadArgumentObject);
    ASSERT_EQ(recorder.heard().size(), 1u);
    EXPECT_EQ(recorder.heard()[0].code, kKelvoEventWorkFailed);
    EXPECT_EQ(recorder.heard()[0].parameter, kKelvoBadArgumentObject);
    EXPECT_TRUE(sameUid(recorder.heard()[0].uid, thread.uid()));

    Uncloneable uncloneable;
    Broken broken;
    Probe probe(3);
    struct Case {
        const char* name;
        Kelvo_BackgroundThread::UserProcedure procedure;
        Kelvo_QTObj* source;
        int32_t status;
    } cases[] = {
        {"null source", fail, nullptr, -108},
        {"invalid source", fail, &broken, -7777},
        {"cannot be cloned", fail, &uncloneable, kKelvoBadArgumentObject},
        {"no procedure", nullptr, &probe, kKelvoThreadActive},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Kelvo_BackgroundThread t(c.procedure);
        t.dataSource(c.source);
        EXPECT_EQ(t.Error(), c.status);
        EXPECT_EQ(t.dataSource(), nullptr);
    }
    // The calls that belong to the worker do nothing elsewhere.
    EXPECT_FALSE(thread._begin());
    thread._stop();
    thread.abort();
    EXPECT_EQ(thread.Error(), kKelvoThreadActive);
    Kelvo_BackgroundThread::defaultServiceProcedure(&thread);
    Kelvo_BackgroundThread::defaultServiceProcedure(nullptr);
    EXPECT_EQ(recorder.heard().size(), 1u);
    EXPECT_FALSE(thread.isBusy());
}

TEST_F(BackgroundThreadTest, RefusesChangesWhileRunning) {
    Probe original(5);
    Kelvo_BackgroundThread thread(waitAtGate);
    Recorder recorder;
    recorder.listenTo(thread.eventsHandler());
    thread.dataSource(&original);
    thread.run();
    ASSERT_EQ(thread.Error(), 0);
    ASSERT_TRUE(Gate::waitForWaiters(1));
    EXPECT_TRUE(thread.qtObjIsValid());
    EXPECT_TRUE(thread.isBusy());

    thread.dataSource(&original);
    EXPECT_EQ(thread.Error(), kKelvoThreadActive);
    thread.run();
    EXPECT_EQ(thread.Error(), kKelvoThreadActive);
    thread.abort(); // only the worker may end its run
    EXPECT_EQ(thread.Error(), kKelvoThreadActive);
    // A listener set now is for the next run.
    Recorder later;
    later.listenTo(thread.eventsHandler());

    Gate::release();
    ASSERT_TRUE(recorder.waitFor(kKelvoEventWorkEnded));
    ASSERT_TRUE(Probe::waitUntilLive(_live + 1));
    EXPECT_FALSE(thread.qtObjIsValid());
    EXPECT_FALSE(thread.isBusy());
    EXPECT_EQ(recorder.codes(), (std::vector<uint32_t>{kKelvoEventWorkStarted, kKelvoEventWorkEnded}));
    EXPECT_TRUE(later.heard().empty());

    // Idle again: the data source may change and a new run starts.
    thread.dataSource(&original);
    EXPECT_EQ(thread.Error(), 0);
    thread.run();
    EXPECT_EQ(thread.Error(), 0);
    ASSERT_TRUE(later.waitFor(kKelvoEventWorkEnded));
}

// The worker runs on its own state: neither the thread object nor the service that lists it has
// to outlive it.
TEST_F(BackgroundThreadTest, OwnerDestroyedWhileTheWorkerRuns) {
    for (bool throughService : {true, false}) {
        SCOPED_TRACE(throughService ? "service" : "thread object");
        Gate::reset();
        Components components;
        Recorder recorder;
        Probe original(9);
        auto* thread = new Kelvo_BackgroundThread(waitAtGate);
        recorder.listenTo(thread->eventsHandler());
        thread->dataSource(&original);
        const Kelvo_UUID uid(thread->uid());
        auto* service = new TestService();
        service->_addThread(thread);
        thread->run();
        ASSERT_EQ(thread->Error(), 0);
        ASSERT_TRUE(Gate::waitForWaiters(1));
        ASSERT_TRUE(recorder.waitFor(kKelvoEventWorkStarted));
        if (throughService) {
            delete service; // deletes the listed thread too
        } else {
            service->_removeThread(uid);
            EXPECT_EQ(service->countOfActiveThreads(), 0);
            delete service;
        }
        Gate::release();
        ASSERT_TRUE(recorder.waitFor(kKelvoEventWorkEnded));
        ASSERT_TRUE(Probe::waitUntilLive(_live + 1));
        const std::vector<Heard> heard = recorder.heard();
        ASSERT_EQ(heard.size(), 2u);
        EXPECT_TRUE(sameUid(heard[1].uid, uid));
        EXPECT_EQ(original.value, 9);
    }
}

TEST_F(BackgroundThreadTest, ManyWorkersAtOnce) {
    constexpr int kThreads = 8;
    Recorder recorder;
    Probe original(2);
    std::vector<std::unique_ptr<Kelvo_BackgroundThread>> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.push_back(std::make_unique<Kelvo_BackgroundThread>(i % 2 ? succeedWithProgress : waitAtGate));
        recorder.listenTo(threads.back()->eventsHandler());
        threads.back()->dataSource(&original);
        threads.back()->run();
        ASSERT_EQ(threads.back()->Error(), 0);
    }
    ASSERT_TRUE(Gate::waitForWaiters(kThreads / 2));
    Gate::release();
    ASSERT_TRUE(Probe::waitUntilLive(_live + 1));
    // Each worker's events arrive in its own order.
    const std::vector<Heard> heard = recorder.heard();
    for (const auto& t : threads) {
        std::vector<uint32_t> codes;
        for (const Heard& h : heard)
            if (h.code != kKelvoEventWorkProgress && sameUid(h.uid, t->uid())) codes.push_back(h.code);
        EXPECT_EQ(codes, (std::vector<uint32_t>{kKelvoEventWorkStarted, kKelvoEventWorkEnded}));
        EXPECT_FALSE(t->qtObjIsValid());
    }
    EXPECT_EQ(heard.size(), size_t(kThreads * 2 + kThreads / 2 * 2));
}

// A movie data source moves to the worker: detached from the thread that starts the run,
// attached to the worker (which has entered the toolbox) while the procedure runs.
TEST_F(BackgroundThreadTest, AMovieSourceIsAttachedToTheWorker) {
    MovieProbe original;
    Kelvo_BackgroundThread thread(lookAtTheMovie);
    Recorder recorder;
    recorder.listenTo(thread.eventsHandler());
    thread.dataSource(&original);
    ASSERT_EQ(thread.Error(), 0);
    const Movie clone = static_cast<MovieProbe*>(thread.dataSource())->movie();
    Boolean here = false, any = false;
    ASSERT_EQ(GetMovieThreadAttachState(clone, &here, &any), noErr);
    EXPECT_TRUE(here); // made here, by the clone

    thread.run();
    ASSERT_EQ(thread.Error(), 0);
    ASSERT_TRUE(recorder.waitFor(kKelvoEventWorkEnded));
    ASSERT_TRUE(Probe::waitUntilLive(_live + 1));
    EXPECT_EQ(recorder.codes(), (std::vector<uint32_t>{kKelvoEventWorkStarted, kKelvoEventWorkEnded}));
    {
        std::lock_guard<std::mutex> lock(gAttachment.mutex);
        EXPECT_TRUE(gAttachment.here);
        EXPECT_TRUE(gAttachment.any);
        EXPECT_EQ(gAttachment.enterAgain, noErr);
        EXPECT_EQ(gAttachment.exitAgain, noErr);
    }
    // The owner's own movie stays where it was.
    ASSERT_EQ(GetMovieThreadAttachState(original.movie(), &here, &any), noErr);
    EXPECT_TRUE(here);
}

// A movie attached to a third thread cannot be taken: the run reports the refusal and never
// starts the procedure.
TEST_F(BackgroundThreadTest, AMovieAttachedElsewhereIsRefused) {
    MovieProbe original;
    Kelvo_BackgroundThread thread(lookAtTheMovie);
    Recorder recorder;
    recorder.listenTo(thread.eventsHandler());
    thread.dataSource(&original);
    const Movie clone = static_cast<MovieProbe*>(thread.dataSource())->movie();
    // A third thread takes the clone's movie and keeps it until the run is over.
    ASSERT_EQ(DetachMovieFromCurrentThread(clone), noErr);
    std::mutex m;
    std::condition_variable cv;
    bool held = false, done = false;
    OSErr attached = 1;
    std::thread holder([&] {
        EnterMoviesOnThread(0);
        std::unique_lock<std::mutex> lock(m);
        attached = AttachMovieToCurrentThread(clone);
        held = true;
        cv.notify_all();
        cv.wait_for(lock, kWait, [&] { return done; });
        DetachMovieFromCurrentThread(clone);
        ExitMoviesOnThread();
    });
    {
        std::unique_lock<std::mutex> lock(m);
        cv.wait_for(lock, kWait, [&] { return held; });
    }
    ASSERT_EQ(attached, noErr);
    {
        std::lock_guard<std::mutex> lock(gAttachment.mutex);
        gAttachment.enterAgain = 1;
    }
    thread.run();
    EXPECT_EQ(thread.Error(), 0);
    EXPECT_TRUE(recorder.waitFor(kKelvoEventWorkFailed));
    {
        std::lock_guard<std::mutex> lock(m);
        done = true;
        cv.notify_all();
    }
    holder.join();
    ASSERT_TRUE(Probe::waitUntilLive(_live + 1));
    const std::vector<Heard> heard = recorder.heard();
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].code, kKelvoEventWorkFailed);
    EXPECT_EQ(heard[0].parameter, kQTMovieAttachedToOtherThreadErr);
    std::lock_guard<std::mutex> lock(gAttachment.mutex);
    EXPECT_EQ(gAttachment.enterAgain, 1); // the procedure did not run
}
