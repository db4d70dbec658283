#include "KelvoAtomics.h"
#include "PlatformEndian.h"
#include "VUXQTUtils.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using namespace std::string_literals;

namespace {

constexpr QTAtomType kWxyz = FOUR_CHAR_CODE("wxyz");
constexpr QTAtomType kAbcd = FOUR_CHAR_CODE("abcd");

using testsupport::capture;

TEST(AtomCoord, NavigationAndStatuses) {
    Kelvo_AtomContainer box;
    ASSERT_TRUE(box.qtObjIsValid());
    Kelvo_AtomCoord parent = box.addChild(kWxyz, 0, 0);
    ASSERT_TRUE(parent.qtObjIsValid());
    Kelvo_AtomCoord a = parent.addChild(kAbcd, 4, 0);
    Kelvo_AtomCoord b = parent.addChild(kAbcd, 0, 0);
    EXPECT_EQ(b.id(), 5);
    EXPECT_EQ(a.type(), kAbcd);
    EXPECT_EQ(parent.childCount(0), 2);
    EXPECT_EQ(a.getParent().atom(), parent.atom());

    // Results are values: a second look-up does not overwrite the first.
    Kelvo_AtomCoord first = parent.childByIndex(kAbcd, 1);
    Kelvo_AtomCoord second = parent.childByIndex(kAbcd, 2);
    EXPECT_EQ(first.atom(), a.atom());
    EXPECT_EQ(second.atom(), b.atom());

    EXPECT_FALSE(parent.childByIndex(kAbcd, 0).qtObjIsValid());
    EXPECT_EQ(parent.Error(), -50);
    EXPECT_FALSE(parent.childById(kAbcd, -1).qtObjIsValid());
    EXPECT_EQ(parent.Error(), -50);
    EXPECT_FALSE(parent.childById(kAbcd, 77).qtObjIsValid());
    EXPECT_EQ(parent.Error(), -2101);

    // An existing pair hands back the existing atom with the insertion's error kept.
    Kelvo_AtomCoord again = parent.addChild(kAbcd, 4, 0);
    EXPECT_EQ(again.atom(), a.atom());
    EXPECT_EQ(parent.Error(), -2105);
    EXPECT_FALSE(parent.addChild(0, 1, 0).qtObjIsValid());
    EXPECT_EQ(parent.Error(), -50);

    // Walking children.
    Kelvo_AtomCoord walk = parent.nextChild(Kelvo_AtomCoord());
    EXPECT_EQ(walk.atom(), a.atom());
    walk = parent.nextChild(walk);
    EXPECT_EQ(walk.atom(), b.atom());
    EXPECT_FALSE(parent.nextChild(walk).qtObjIsValid());

    Kelvo_AtomCoord empty;
    EXPECT_TRUE(empty.isLeaf());
    EXPECT_EQ(empty.type(), 0u);
    EXPECT_EQ(empty.clone(), nullptr);
}

TEST(AtomCoord, LeafData) {
    Kelvo_AtomContainer box;
    Kelvo_AtomCoord parent = box.addChild(kWxyz, 1, 0);
    Kelvo_AtomCoord leaf = parent.addChild(kAbcd, 1, 0);
    EXPECT_EQ(parent.getData(), nullptr);
    EXPECT_EQ(parent.Error(), -2102);
    EXPECT_FALSE(parent.setData("x", 1));
    EXPECT_EQ(parent.Error(), -2102);

    EXPECT_TRUE(leaf.setData("hello", 5));
    Handle h = leaf.getData();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(std::string(*h, size_t(GetHandleSize(h))), "hello");
    char buf[3] = {};
    EXPECT_TRUE(leaf.getData(buf, 3));
    EXPECT_EQ(std::string(buf, 3), "hel");
    EXPECT_FALSE(leaf.getData(nullptr, 3));
    EXPECT_EQ(leaf.Error(), -50);
    SetHandleSize(h, 2);
    EXPECT_TRUE(leaf.setData(h));
    EXPECT_TRUE(leaf.getData(buf, 3));
    EXPECT_EQ(std::string(buf, 2), "he");
    EXPECT_TRUE(leaf.setData(Handle(nullptr)));
    DisposeHandle(h);
    h = leaf.getData();
    EXPECT_EQ(GetHandleSize(h), 0);
    DisposeHandle(h);
}

TEST(AtomContainer, LifecycleAndCopies) {
    Kelvo_AtomContainer box;
    box.addChild(kWxyz, 1, 0);
    box.locked(true);
    Kelvo_AtomContainer copy(box);
    EXPECT_NE(copy.container(), box.container());
    EXPECT_EQ(copy.count(), 1);
    EXPECT_TRUE(copy.locked());

    QTAtomContainer before = box.container();
    box.initWithContainer(nullptr);
    EXPECT_EQ(box.Error(), 79);
    EXPECT_EQ(box.container(), before);

    // Re-initialising from its own container keeps the content.
    box.initWithContainer(box.container());
    EXPECT_EQ(box.count(), 1);

    copy.clear();
    EXPECT_TRUE(copy.empty());
    EXPECT_TRUE(copy.qtObjIsValid());
    copy.reset();
    EXPECT_FALSE(copy.qtObjIsValid());
    EXPECT_TRUE(copy.empty());
    EXPECT_EQ(copy.count(), 0);
    EXPECT_FALSE(copy.childByIndex(kWxyz, 1).qtObjIsValid());
    EXPECT_EQ(copy.clone(), nullptr);

    Kelvo_QTObj* c = box.clone();
    ASSERT_NE(c, nullptr);
    EXPECT_STREQ(c->qtObjName(), "Kelvo_AtomContainer");
    delete c;
}

TEST(AtomContainer, TextAndXmlTrees) {
    Kelvo_AtomContainer box;
    box.addChild(kWxyz, 1, 0).addChild(kAbcd, 1, 0);
    box.addChild(FOUR_CHAR_CODE("a<&\""), 1, 0);
    box.addChild(100, 1, 0);
    EXPECT_EQ(capture([&](FILE* f) { box.flushToText(f, 0); }),
              "\tNode(wxyz)\n\t\tNode(abcd)\n\tNode(a<&\")\n\tNode(\0\0\0d)\n"s);
    EXPECT_EQ(capture([&](FILE* f) { box.flushToXml(f, 0); }),
              "<Node type=\"wxyz\">\n<Node type=\"abcd\"/>\n</Node>\n"
              "<Node type=\"a&lt;&amp;&quot;\"/>\n"
              "<Node type=\"0x00000064\"/>\n");
    // Nothing happens without a file or a container.
    Kelvo_PrintAtomContainerTree(nullptr, box.container(), 0);
    EXPECT_EQ(capture([&](FILE* f) { Kelvo_PrintAtomContainerTree(f, nullptr, 0); }), "");
}

TEST(AtomFunctions, ClassicAtomsAndChildData) {
    int32_t err = 1;
    Handle h = Kelvo_CreateClassicAtom(FOUR_CHAR_CODE("moov"), "abc", 3, err);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(std::string(*h, size_t(GetHandleSize(h))), std::string("\0\0\0\x0Bmoovabc", 11));
    Handle wrapped = Kelvo_CreateClassicAtom(FOUR_CHAR_CODE("wrap"), h, err);
    EXPECT_EQ(GetHandleSize(wrapped), 19);
    DisposeHandle(wrapped);
    DisposeHandle(h);
    EXPECT_EQ(Kelvo_CreateClassicAtom(0, "abc", 3, err), nullptr);
    EXPECT_EQ(err, -50);
    h = Kelvo_CreateClassicAtom(FOUR_CHAR_CODE("none"), nullptr, 0, err);
    EXPECT_EQ(GetHandleSize(h), 8);
    DisposeHandle(h);
    // The foundation's builder makes the same atoms, with or without data.
    for (uint32_t size : {0u, 3u, 100u}) {
        const char* data = size == 3 ? "abc" : nullptr;
        int32_t ours = 1, theirs = 1;
        Handle a = Kelvo_CreateClassicAtom(FOUR_CHAR_CODE("none"), data, size, ours);
        Handle b = VUX::VUXQT::VUXQTUtils::createClassicAtom(FOUR_CHAR_CODE("none"), const_cast<char*>(data),
                                                             size, theirs);
        ASSERT_TRUE(a && b);
        EXPECT_EQ(ours, 0);
        EXPECT_EQ(theirs, 0);
        EXPECT_EQ(std::string(*a, size_t(GetHandleSize(a))), std::string(*b, size_t(GetHandleSize(b))))
            << size;
        EXPECT_EQ(platform::loadBE32(reinterpret_cast<const uint8_t*>(*a)), uint32_t(GetHandleSize(a)));
        DisposeHandle(a);
        DisposeHandle(b);
    }

    Kelvo_AtomContainer box;
    QTAtomContainer c = box.container();
    EXPECT_EQ(QTAtomDataSet(c, kAbcd, "one", 3, 1, 0), noErr); // missing: inserted
    EXPECT_EQ(QTAtomDataSet(c, kAbcd, "uno", 3, 1, 0), noErr); // present: replaced
    EXPECT_EQ(box.count(), 1);
    char buf[8] = {};
    uint32_t copied = 9;
    EXPECT_EQ(QTAtomDataGet(c, kAbcd, buf, sizeof buf, 1, 0, &copied), noErr);
    EXPECT_EQ(copied, 3u);
    EXPECT_EQ(std::string(buf), "uno");
    EXPECT_EQ(QTAtomDataGet(c, kAbcd, buf, sizeof buf, 2, 0), -50);
    EXPECT_EQ(QTAtomDataGet(nullptr, kAbcd, buf, sizeof buf, 1, 0), -50);
    Handle d = QTAtomData(c, kAbcd, 1, 0);
    EXPECT_EQ(std::string(*d, 3), "uno");
    DisposeHandle(d);
    EXPECT_EQ(QTAtomData(c, kAbcd, 5, 0), nullptr);

    EXPECT_EQ(Kelvo_AtomDataHandle(c, kWxyz, 1, (void*)"w1", 2, 1, 0), noErr);
    EXPECT_EQ(Kelvo_AtomDataHandle(c, kWxyz, 0, buf, sizeof buf, 1, 0), noErr);
    EXPECT_EQ(std::string(buf, 2), "w1");
    EXPECT_EQ(Kelvo_AtomDataHandle(c, kWxyz, 0, buf, sizeof buf, 2, 0), -2101);
    EXPECT_EQ(Kelvo_AtomDataHandle(c, kWxyz, 0, nullptr, 4, 1, 0), -50);
    EXPECT_EQ(Kelvo_AtomDataHandle(c, kWxyz, 7, buf, 4, 1, 0), -50);
    Handle out = nullptr;
    EXPECT_EQ(Kelvo_AtomDataHandle(c, kWxyz, 0, out, 1, 0), noErr);
    EXPECT_EQ(std::string(*out, 2), "w1");
    EXPECT_EQ(Kelvo_AtomDataHandle(c, kWxyz, 1, out, 2, 0), noErr); // a second wxyz from the handle
    EXPECT_EQ(box.childCount(kWxyz), 2);
    DisposeHandle(out);
    Handle missing = nullptr;
    EXPECT_EQ(Kelvo_AtomDataHandle(c, kWxyz, 1, missing, 1, 0), -50);
    EXPECT_EQ(Kelvo_AtomDataHandle(c, kWxyz, 0, missing, 9, 0), -2101);
}

TEST(MediaInputMap, InputsAndMedia) {
    Kelvo_MediaInputMap map;
    uint32_t v = 0x01020304;
    map.addInput(5, 3, &v);
    EXPECT_EQ(map.Error(), 0);
    map.addInput(5, 6, &v); // the same id again changes nothing
    Kelvo_AtomCoord in = map.childById(0x696E, 5);
    ASSERT_TRUE(in.qtObjIsValid());
    EXPECT_EQ(in.childCount(0), 2);
    uint8_t be[4];
    in.childById(0x7479, 1).getData(be, 4);
    EXPECT_EQ(platform::loadBE32(be), 3u);
    in.childById(FOUR_CHAR_CODE("subi"), 1).getData(be, 4);
    EXPECT_EQ(platform::loadBE32(be), v);

    map.addInput(6, FOUR_CHAR_CODE("EFFE"), &v);
    Kelvo_AtomCoord effect = map.childById(0x696E, 6);
    effect.childById(0x7479, 1).getData(be, 4);
    EXPECT_EQ(platform::loadBE32(be), FOUR_CHAR_CODE("vide"));
    EXPECT_TRUE(effect.childById(FOUR_CHAR_CODE("dtst"), 1).qtObjIsValid());
    EXPECT_TRUE(effect.childById(FOUR_CHAR_CODE("obid"), 1).qtObjIsValid());
    map.addInput(0, 3, &v);
    EXPECT_EQ(map.Error(), -50);

    Media media = platform::newDetachedMedia();
    map.setMedia(nullptr);
    EXPECT_EQ(map.Error(), 80);
    map.setMedia(media);
    EXPECT_EQ(map.Error(), 0);
    Kelvo_MediaInputMap fromMedia(media);
    EXPECT_EQ(fromMedia.count(), 2);
    Kelvo_QTObj* c = fromMedia.clone();
    EXPECT_TRUE(c->isA("Kelvo_AtomContainer"));
    delete c;
    fromMedia = Media(nullptr);
    EXPECT_FALSE(fromMedia.qtObjIsValid());
    platform::disposeMedia(media);
}

} // namespace
