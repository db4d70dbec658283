#include "KelvoDicomBinaryData.h"

#include "KelvoDicomNumbers.h"
#include "KelvoDicomNumbersFixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

using Binary = std::unique_ptr<KelvoDicomDataBinary>;

std::vector<uint8_t> wordsBytes(std::initializer_list<uint16_t> words) {
    std::vector<uint8_t> out(words.size() * 2);
    std::memcpy(out.data(), std::data(words), out.size());
    return out;
}

std::vector<uint8_t> floatsBytes(std::initializer_list<float> floats) {
    std::vector<uint8_t> out(floats.size() * 4);
    std::memcpy(out.data(), std::data(floats), out.size());
    return out;
}

std::string hex20(int count) {
    std::string s;
    char two[3];
    for (int i = 0; i < count; ++i) {
        std::snprintf(two, sizeof two, "%02X", unsigned(i) & 0xFFu);
        s += two;
    }
    return s;
}

std::string text(const char* s) {
    return s ? std::string(s) : std::string("(null)");
}

TEST(KelvoDicomBinaryData, CreateWithVR) {
    struct {
        const char* vr;
        const char* name;
    } cases[] = {
        {"OB", "KelvoDicomDataOtherByte"},
        {"OW", "KelvoDicomDataOtherWord"},
        {"OF", "KelvoDicomDataOtherFloat"},
        {"UN", "KelvoDicomDataUnknownData"},
        {"SQ", nullptr},
        {"ob", nullptr},
        {"O", nullptr},
        {"OBX", nullptr},
        {nullptr, nullptr},
    };
    for (auto& c : cases) {
        Binary b(KelvoDicomDataBinary::createWithVR(c.vr));
        if (!c.name) {
            EXPECT_FALSE(b) << text(c.vr);
            continue;
        }
        ASSERT_TRUE(b) << c.vr;
        EXPECT_STREQ(b->qtObjName(), c.name);
        EXPECT_STREQ(b->vr(), c.vr);
        EXPECT_TRUE(b->isA("KelvoDicomDataBinary"));
        EXPECT_TRUE(b->isA("KelvoDicomDataElementValue"));
        EXPECT_EQ(b->stringValue(), nullptr);
        EXPECT_EQ(b->_dataLengthForDicom(), 0u);
        EXPECT_EQ(b->lengthForDicom(), 0u);
        EXPECT_EQ(b->itemsCount(), 0u);
        EXPECT_EQ(b->binaryData(), nullptr);
        EXPECT_EQ(b->paddingByte(), 0);
        // A binary value is not set from text.
        EXPECT_FALSE(b->stringValue("0102"));
        EXPECT_EQ(b->binaryData(), nullptr);
        std::unique_ptr<KelvoDicomDataNode> node(b->_encodeForDicom());
        ASSERT_TRUE(node);
        EXPECT_STREQ(node->VR(), c.vr);
        EXPECT_EQ(node->valueCount(), 0);
    }
}

TEST(KelvoDicomBinaryData, PreviewAndSizes) {
    std::vector<uint8_t> thirty(30);
    for (int i = 0; i < 30; ++i)
        thirty[size_t(i)] = uint8_t(i);
    std::vector<uint16_t> negWords(25, 0x8000);
    std::vector<uint8_t> negBytes(negWords.size() * 2);
    std::memcpy(negBytes.data(), negWords.data(), negBytes.size());
    std::string negPreview; // negative words show the eight digits of their 32-bit form
    for (int i = 0; i < 20; ++i)
        negPreview += "FFFF8000";
    negPreview += "...";
    struct {
        const char* vr;
        std::vector<uint8_t> bytes;
        std::string preview;
        uint32_t items;
    } cases[] = {
        {"OB", {0x01, 0x02, 0xFF}, "0102FF...", 3},
        {"UN", {0x01, 0x02, 0xFF}, "0102FF...", 3},
        {"OB", thirty, hex20(20) + "...", 30},
        {"OW", wordsBytes({0x0001, 0x1234}), "011234...", 2},
        {"OW", wordsBytes({0xFFFF}), "FFFFFFFF...", 1},
        {"OW", negBytes, negPreview, 25},
        {"OW", {1, 0, 2, 0, 3, 0, 4}, "010203...", 3},
        {"OF", floatsBytes({1.5f, -2.7f}), "0001FFFFFFFE...", 2},
        // NaN shows as 0, values beyond 32 bits as the nearest limit.
        {"OF", floatsBytes({std::numeric_limits<float>::quiet_NaN(), 3e10f, -3e10f}),
         "00007FFFFFFF80000000...", 3},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(std::string(c.vr) + " " + c.preview);
        Binary b(KelvoDicomDataBinary::createWithVR(c.vr));
        ASSERT_TRUE(b->binaryData(c.bytes.data(), uint32_t(c.bytes.size())));
        EXPECT_EQ(text(b->stringValue()), c.preview);
        EXPECT_EQ(text(b->stringValue()), c.preview); // the text starts afresh on every call
        EXPECT_EQ(b->itemsCount(), c.items);
        EXPECT_EQ(b->_dataLengthForDicom(), c.bytes.size());
        EXPECT_EQ(b->lengthForDicom(), (c.bytes.size() + 1) / 2 * 2);
    }
}

TEST(KelvoDicomBinaryData, TypedAccess) {
    std::vector<uint8_t> w = wordsBytes({0xFFFE, 7});
    KelvoDicomDataOtherWord ow(nullptr, 1);
    EXPECT_EQ(ow.signedData(), nullptr);
    ow.binaryData(w.data(), uint32_t(w.size()));
    EXPECT_EQ(ow.signedData()[0], -2);
    EXPECT_EQ(ow.unsignedData()[1], 7);
    EXPECT_EQ(static_cast<const uint16_t*>(ow)[0], 0xFFFE);

    std::vector<uint8_t> f = floatsBytes({0.25f});
    KelvoDicomDataOtherFloat of;
    of.binaryData(f.data(), uint32_t(f.size()));
    EXPECT_EQ(of.floatData()[0], 0.25f);

    uint8_t b[2] = {9, 8};
    KelvoDicomDataOtherByte ob;
    EXPECT_EQ(static_cast<const uint8_t*>(ob), nullptr);
    ob.binaryData(b, 2);
    EXPECT_EQ(static_cast<const uint8_t*>(ob)[1], 8);
    EXPECT_NE(static_cast<const uint8_t*>(ob), b);
}

// Copy flag 0 hands the array to the value, 1 leaves it to the caller (ASan checks both).
TEST(KelvoDicomBinaryData, Ownership) {
    uint8_t raw[4] = {1, 2, 3, 4};
    auto* given = new KelvoDataT<uint8_t>(raw, 4, 0);
    {
        KelvoDicomDataOtherByte ob;
        ob.binaryData(given, 0);
        EXPECT_EQ(ob.binaryData(), given);
        ob.binaryData(given, 1); // the data already held: nothing happens
        EXPECT_EQ(ob.binaryData(), given);
    } // deletes `given`

    KelvoDataT<uint8_t> kept(raw, 4, 0);
    {
        KelvoDicomDataOtherByte ob(&kept, 1);
        ASSERT_TRUE(ob.binaryData());
        EXPECT_NE(ob.binaryData(), &kept);
        EXPECT_NE(ob.binaryData()->items(), kept.items());
    }
    EXPECT_EQ(kept[3], 4);

    // A deep copy owns its bytes even when the source borrows the caller's memory.
    std::vector<uint8_t> caller{5, 6};
    KelvoDataT<uint8_t> borrower(caller.data(), 2, 1);
    KelvoDicomDataOtherByte deep;
    deep = &borrower;
    ASSERT_TRUE(deep.binaryData());
    EXPECT_NE(deep.binaryData()->items(), caller.data());
    EXPECT_TRUE(deep.binaryData()->ownsItems());

    // Bytes taken from inside the value's own data are copied before the old data goes.
    std::vector<uint8_t> six{1, 2, 3, 4, 5, 6};
    KelvoDicomDataOtherByte self;
    self.binaryData(six.data(), 6);
    self.binaryData(self.binaryData()->items() + 2, 3);
    EXPECT_EQ(text(self.stringValue()), "030405...");
    // ...and its own bytes as a whole change nothing.
    const uint8_t* before = self.binaryData()->items();
    EXPECT_FALSE(self.binaryData(before, 3));
    EXPECT_EQ(self.binaryData()->items(), before);

    Binary made(KelvoDicomDataBinary::createWithWords(new KelvoDataT<uint8_t>(raw, 4, 0), 0));
    EXPECT_STREQ(made->vr(), "OW");
    EXPECT_EQ(made->itemsCount(), 2u);
    Binary floats(KelvoDicomDataBinary::createWithFloats(&kept, 1));
    EXPECT_EQ(floats->itemsCount(), 1u);
    Binary unknown(KelvoDicomDataBinary::createWithUnknownData(&kept, 1));
    EXPECT_STREQ(unknown->vr(), "UN");
    Binary bytes(KelvoDicomDataBinary::createWithBytes(nullptr, 1));
    EXPECT_EQ(bytes->binaryData(), nullptr);
}

TEST(KelvoDicomBinaryData, CopiesAndClones) {
    uint8_t raw[3] = {0xAA, 0xBB, 0xCC};
    KelvoDicomDataUnknownData un;
    un.binaryData(raw, 3);
    std::unique_ptr<KelvoDicomDataUnknownData> clone(un.clone());
    ASSERT_TRUE(clone);
    EXPECT_STREQ(clone->vr(), "UN");
    EXPECT_EQ(text(clone->stringValue()), "AABBCC...");
    EXPECT_NE(clone->binaryData(), un.binaryData());

    // copy(): any binary value's bytes, whatever its VR; nothing from other values.
    KelvoDicomDataOtherWord ow;
    ow.copy(un);
    EXPECT_EQ(ow._dataLengthForDicom(), 3u);
    KelvoDicomDataUnsignedShort number(uint16_t(3));
    ow.copy(number);
    EXPECT_EQ(ow._dataLengthForDicom(), 3u);
    KelvoDicomDataOtherFloat empty;
    ow.copy(empty);
    EXPECT_EQ(ow.binaryData(), nullptr);

    // Taking another value by _initWithData needs the same VR.
    KelvoDicomDataOtherByte ob;
    EXPECT_FALSE(ob._initWithData(static_cast<const KelvoDicomDataBinary&>(un)));
    EXPECT_EQ(ob.binaryData(), nullptr);
    KelvoDicomDataUnknownData un2;
    EXPECT_TRUE(un2._initWithData(static_cast<const KelvoDicomDataBinary&>(un)));
    EXPECT_EQ(un2._dataLengthForDicom(), 3u);

    KelvoDicomDataOtherByte ob2;
    ob2.binaryData(raw, 2);
    KelvoDicomDataOtherByte ob3(ob2);
    ob2.defaultStatus();
    EXPECT_EQ(ob2.binaryData(), nullptr);
    EXPECT_EQ(text(ob3.stringValue()), "AABB...");
    ob2 = ob3;
    EXPECT_EQ(text(ob2.stringValue()), "AABB...");
}

TEST(KelvoDicomBinaryData, NodesAndEncoding) {
    // A UN node's bytes, and its clone's.
    Handle h = nullptr;
    const uint8_t raw[6] = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(PtrToHand(raw, &h, 6), noErr);
    KelvoDicomDataNode unNode("UN");
    unNode.Append(h);
    DisposeHandle(h);
    KelvoDicomDataUnknownData un(&unNode);
    EXPECT_EQ(un.Error(), 0);
    ASSERT_EQ(un._dataLengthForDicom(), 6u);
    std::unique_ptr<KelvoDicomDataUnknownData> clone(un.clone());
    EXPECT_EQ(std::memcmp(clone->binaryData()->items(), raw, 6), 0);

    // Another VR's node: status 10, nothing read.
    KelvoDicomDataOtherByte ob(&unNode);
    EXPECT_EQ(ob.Error(), 10);
    EXPECT_EQ(ob.binaryData(), nullptr);

    struct {
        const char* vr;
        std::vector<uint8_t> bytes;
        std::string little, big; // explicit VR: VR, reserved, 32-bit length, value
    } cases[] = {
        {"OB",
         {1, 2, 0xFF},
         std::string("OB\0\0\4\0\0\0\1\2\xFF\0", 12),
         std::string("OB\0\0\0\0\0\4\1\2\xFF\0", 12)},
        {"UN", {9, 8}, std::string("UN\0\0\2\0\0\0\x09\x08", 10), std::string("UN\0\0\0\0\0\2\x09\x08", 10)},
        {"OW", wordsBytes({0x0102, 0xA0B0}), std::string("OW\0\0\4\0\0\0\x02\x01\xB0\xA0", 12),
         std::string("OW\0\0\0\0\0\4\x01\x02\xA0\xB0", 12)},
        {"OF", floatsBytes({1.0f}), std::string("OF\0\0\4\0\0\0\0\0\x80\x3F", 12),
         std::string("OF\0\0\0\0\0\4\x3F\x80\0\0", 12)},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.vr);
        Binary b(KelvoDicomDataBinary::createWithVR(c.vr));
        b->binaryData(c.bytes.data(), uint32_t(c.bytes.size()));
        std::unique_ptr<KelvoDicomDataNode> node(b->_encodeForDicom());
        ASSERT_TRUE(node);
        EXPECT_STREQ(node->VR(), c.vr);
        EXPECT_EQ(node->valueCount(), 1);
        EXPECT_EQ(numbersfixtures::flushed(*node, false), c.little);
        EXPECT_EQ(numbersfixtures::flushed(*node, true), c.big);
        // And back through a node, the same bytes (an odd OB comes back with its padding byte).
        Binary back(KelvoDicomDataBinary::createWithVR(c.vr));
        ASSERT_TRUE(back->value(node.get()));
        EXPECT_EQ(back->_dataLengthForDicom(), (c.bytes.size() + 1) / 2 * 2);
        EXPECT_EQ(std::memcmp(back->binaryData()->items(), c.bytes.data(), c.bytes.size()), 0);
    }
}

// Real elements: every OB and OW element of CT_small and of its big-endian form (pixel data
// included) goes through a value and comes back out byte for byte.
TEST(KelvoDicomBinaryData, RealFilesRoundTrip) {
    using namespace numbersfixtures;
    std::string little = pydicomFile("CT_small.dcm");
    std::string big = bigEndianCT();
    ASSERT_FALSE(big.empty()) << "dcmconv could not make the big-endian fixture";
    int checked = 0;
    for (const std::string& path : {little, big}) {
        for (const RealElement& e : listElements(path)) {
            if (e.vr != "OB" && e.vr != "OW") continue;
            SCOPED_TRACE(path + " " + e.vr + " at " + std::to_string(e.elementPosition));
            KelvoDicomDataNode node;
            readNode(path, e, node);
            ASSERT_EQ(node.Error(), 0);
            Binary b(KelvoDicomDataBinary::createWithVR(e.vr.c_str()));
            ASSERT_TRUE(b->value(&node));
            EXPECT_EQ(b->lengthForDicom(), e.length);
            std::unique_ptr<KelvoDicomDataNode> out(b->_encodeForDicom());
            EXPECT_EQ(valueBytes(*out, e.bigEndian),
                      fileBytes(path, e.valuePosition, e.valuePosition + e.length));
            EXPECT_EQ(flushed(*out, e.bigEndian),
                      fileBytes(path, e.elementPosition + 4, e.valuePosition + e.length));
            ++checked;
        }
    }
    EXPECT_GE(checked, 10); // four OB and one OW in each
}

} // namespace
