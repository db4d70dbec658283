#include "KelvoContainers.h"

#include "KelvoGraphicsDisplay.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <regex>
#include <string>

namespace {

// A container with every pure operation answering nothing: the edit-state machinery is all the
// base provides. Snapshots are counted per handle so that disposal can be checked exactly.
class TestContainer : public Kelvo_Container {
  public:
    bool valid = true;
    std::map<void*, int>* disposals = nullptr;
    std::string lastRestored;
    int32_t restoreStatus = 0;
    int32_t lastDuration = -1;
    bool durationRangeWasNull = false;

    bool qtObjIsValid() override { return valid; }
    bool qtObjIsValid() const override { return valid; }

    bool qtHasVideo() override { return false; }
    bool qtHasSound() override { return false; }
    bool enabled() override { return true; }
    void enabled(bool) override {}
    bool isThreadSafe() const override { return false; }
    bool isDRMAuthorized(bool) override { return true; }
    int16_t qtSndVolume() override { return 0; }
    void qtSndVolume(int16_t) override {}
    uint32_t qtCreationTime() override { return 0; }
    uint32_t qtModificationTime() override { return 0; }
    void timeInfo(Kelvo_TimeRange64&) override {}
    int32_t time() const override { return 0; }
    void time(int32_t) override {}
    int32_t timeScale() const override { return 600; }
    void timeScale(int32_t) override {}
    int32_t duration() const override { return 0; }
    using Kelvo_Container::duration;
    void duration(Kelvo_TimeRange* range, int32_t d) override {
        durationRangeWasNull = range == nullptr;
        lastDuration = d;
    }
    void sampleTimeInfoForTime(double, Kelvo_TimeRange64&) override {}
    double sizeOfSelection(Kelvo_TimeRange*) override { return 0.0; }
    int32_t qtLoadInRAM(Kelvo_TimeRange*, int32_t) override { return 0; }
    Kelvo_Rect& qtNaturalBounds() override { return _bounds; }
    Kelvo_Rect& qtBounds() override { return _bounds; }
    using Kelvo_Container::qtBounds;
    void qtDisplayProperties(Kelvo_DisplayTransform*) override {}
    using Kelvo_Container::displayParams;
    void displayParams(Kelvo_CoreDisplayParams*) override {}
    bool hasApertureModes() override { return false; }
    void generateApertureModes() override {}
    void removeApertureModes() override {}
    bool highQualityEnabled() override { return false; }
    void highQualityEnabled(bool) override {}
    bool singleFieldEnabled() override { return false; }
    void singleFieldEnabled(bool) override {}
    int16_t qtLanguage() override { return 0; }
    void qtLanguage(int16_t) override {}
    Kelvo_UDataList* qtUDataList() override { return nullptr; }
    Kelvo_MetaDataList* qtMetaDataList() override { return nullptr; }
    void qtAddEmptySegment(Kelvo_TimeRange*) override {}
    void qtDeleteSegment(Kelvo_TimeRange*) override {}
    void frameAtTime(Kelvo_QDGWorldBuffer*& out, int32_t, Kelvo_DisplayTransform*) override { out = nullptr; }
    void frame(Kelvo_QDGWorldBuffer*& out, Kelvo_DisplayTransform*) override { out = nullptr; }
    void thumbnailAtTime(Kelvo_QDGWorldBuffer*& out, int32_t) override { out = nullptr; }
    void thumbnail(Kelvo_QDGWorldBuffer*& out) override { out = nullptr; }
    void exportData(Kelvo_DataReference&, Kelvo_OSType&, bool) override {}
};

// Keeps snapshots the way a movie or track does: each is a distinct platform object, disposed of
// through removeState, and the states still listed are removed while the subclass is alive.
class SnapshotContainer : public TestContainer {
  public:
    int32_t refuseWith = 0;
    int made = 0;

    explicit SnapshotContainer(std::map<void*, int>& d) { disposals = &d; }
    ~SnapshotContainer() override { removeAllStates(); }

    void* registerState() override {
        if (refuseWith) {
            _status = refuseWith;
            return nullptr;
        }
        ++made;
        void* snapshot = new int(made);
        (*disposals)[snapshot] = 0;
        return snapshot;
    }
    int32_t useState(const Kelvo_EditState& s) override {
        lastRestored = std::to_string(*static_cast<int*>(s.editState()));
        return restoreStatus;
    }
    int32_t removeState(const Kelvo_EditState& s) override {
        ++(*disposals)[s.editState()];
        delete static_cast<int*>(s.editState());
        return 0;
    }
};

std::string stateName(Kelvo_Container& c, int32_t index) {
    char* name = reinterpret_cast<char*>(1);
    c.getStateName(name, index);
    if (!name) return "<null>";
    std::string s(name);
    delete[] name;
    return s;
}

const std::regex kUidName("^[0-9A-F]{4,8}-[0-9A-F]{2,4}-[0-9A-F]{2,4}-[0-9A-F]{4,8}-[0-9A-F]{4,8}$");

} // namespace

TEST(ContainerEditStates, RegisterUseAndRemoveByIndex) {
    std::map<void*, int> disposals;
    {
        SnapshotContainer c(disposals);
        char first[] = "before trim";
        ASSERT_TRUE(c.qtAddState(first));
        ASSERT_TRUE(c.editStateRegister(nullptr));
        ASSERT_TRUE(c.editStateRegister("third"));
        EXPECT_EQ(c.stateCount(), 3);
        EXPECT_EQ(const_cast<Kelvo_QTObjectsList&>(c.editStatesList()).count(), 3);

        c.restoreStatus = -2010;
        EXPECT_EQ(c.qtUseState(1), -2010); // the restore's status comes back
        EXPECT_EQ(c.lastRestored, "2");

        c.qtRemoveState(0);
        EXPECT_EQ(c.stateCount(), 2);
        int disposedOnce = 0;
        for (auto& [snapshot, n] : disposals)
            disposedOnce += n;
        EXPECT_EQ(disposedOnce, 1);
        // Positions close up: the old second state is now first.
        c.restoreStatus = 0;
        c.lastRestored.clear();
        EXPECT_EQ(c.qtUseState(0), 0);
        EXPECT_EQ(c.lastRestored, "2");
        EXPECT_EQ(stateName(c, 1), "third");

        // Past the end: nothing is restored.
        c.lastRestored.clear();
        EXPECT_EQ(c.qtUseState(2), 0);
        EXPECT_EQ(c.qtUseState(-1), 0);
        EXPECT_TRUE(c.lastRestored.empty());
        c.qtRemoveState(7); // nothing there: nothing disposed
        EXPECT_EQ(c.stateCount(), 2);
    }
    // Every snapshot is disposed of exactly once, also those still listed at the end.
    ASSERT_EQ(disposals.size(), 3u);
    for (auto& [snapshot, n] : disposals)
        EXPECT_EQ(n, 1);
}

TEST(ContainerEditStates, NamesDefaultToTheIdentifierText) {
    std::map<void*, int> disposals;
    SnapshotContainer c(disposals);
    ASSERT_TRUE(c.editStateRegister(nullptr));
    ASSERT_TRUE(c.editStateRegister(nullptr));
    ASSERT_TRUE(c.editStateRegister("named"));

    const std::string a = stateName(c, 0);
    const std::string b = stateName(c, 1);
    EXPECT_TRUE(std::regex_match(a, kUidName)) << a;
    EXPECT_NE(a, b);
    EXPECT_EQ(stateName(c, 2), "named");

    // A name given later is a copy; clearing it brings the identifier back.
    std::string text = "renamed";
    c.setStateName(text.data(), 0);
    text[0] = 'X';
    EXPECT_EQ(stateName(c, 0), "renamed");
    c.setStateName(nullptr, 0);
    EXPECT_EQ(stateName(c, 0), a);

    // Bad indexes: no name, nothing changed.
    EXPECT_EQ(stateName(c, 3), "<null>");
    EXPECT_EQ(stateName(c, -1), "<null>");
    char other[] = "other";
    c.setStateName(other, 3);
    EXPECT_EQ(stateName(c, 2), "named");
}

TEST(ContainerEditStates, NoSnapshotNoState) {
    // A container that keeps the base's registerState (as a media does) never registers one.
    TestContainer plain;
    EXPECT_FALSE(plain.editStateRegister("never"));
    char name[] = "never";
    EXPECT_FALSE(plain.qtAddState(name));
    EXPECT_EQ(plain.stateCount(), 0);
    EXPECT_EQ(plain.Error(), 0);
    EXPECT_EQ(plain.qtUseState(0), 0);

    // A refusal keeps the owner's own error and leaves no entry.
    std::map<void*, int> disposals;
    SnapshotContainer refusing(disposals);
    refusing.refuseWith = -2010;
    EXPECT_FALSE(refusing.editStateRegister("x"));
    EXPECT_EQ(refusing.Error(), -2010);
    EXPECT_EQ(refusing.stateCount(), 0);
    EXPECT_TRUE(disposals.empty());
}

TEST(ContainerEditStates, AStateWithoutSnapshotDoesNothing) {
    TestContainer plain;
    Kelvo_EditState state(plain, "ignored");
    EXPECT_FALSE(state.qtObjIsValid());
    EXPECT_EQ(state.qtObjReference(), nullptr);
    EXPECT_STREQ(state.qtObjName(), "Kelvo_EditState");
    EXPECT_EQ(state.use(), 0);
    // Names are kept only for a real snapshot: the identifier text stands in.
    EXPECT_TRUE(std::regex_match(std::string(state.description()), kUidName)) << state.description();
}

TEST(ContainerBase, IdentityAndBaseBodies) {
    TestContainer c;
    EXPECT_STREQ(c.qtObjName(), "Kelvo_Container");
    EXPECT_TRUE(c.isA("Kelvo_Container"));
    EXPECT_TRUE(c.isA("Kelvo_QTObj"));
    EXPECT_FALSE(c.isA("Kelvo_Movie"));
    EXPECT_FALSE(c.isA(nullptr));

    int value = 7;
    EXPECT_EQ(c.getProperty(FOUR_CHAR_CODE("trak"), FOUR_CHAR_CODE("dura"), &value), 0);
    EXPECT_EQ(c.setProperty(FOUR_CHAR_CODE("trak"), FOUR_CHAR_CODE("dura"), &value, 4), 0);
    EXPECT_EQ(value, 7);

    c.duration(1200);
    EXPECT_EQ(c.lastDuration, 1200);
    EXPECT_TRUE(c.durationRangeWasNull);

    std::unique_ptr<Kelvo_CoreDisplayParams> params(c.displayParams());
    EXPECT_NE(params, nullptr);
    c.valid = false;
    EXPECT_EQ(c.displayParams(), nullptr);
}
