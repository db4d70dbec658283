#include "KelvoCoreObjectsDocument.h"

#include "PlatformAtoms.h"
#include "PlatformEndian.h"
#include "PlatformMemory.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

Handle handleOf(const std::string& bytes) {
    Handle h = nullptr;
    PtrToHand(bytes.data(), &h, Size(bytes.size()));
    return h;
}

std::string bytesOf(Handle h) {
    return std::string(*h, size_t(GetHandleSize(h)));
}

// Reads `bytes` as a document file and returns the status.
int32_t readStatus(const testsupport::ScratchDir& dir, const std::string& bytes,
                   bool* hasContainer = nullptr) {
    std::string path = dir.file("probe.kdoc");
    testsupport::writeFile(path, bytes);
    Kelvo_QTObjDocument doc(path.c_str());
    if (hasContainer) *hasContainer = doc.qtObjIsValid();
    return doc.Error();
}

std::string be32(uint32_t v) {
    char b[4];
    platform::storeBE32(b, v);
    return std::string(b, 4);
}

// One atom of the flat form: size, type, id 1, reserved, child count, reserved, data.
std::string atom(const char* type, const std::string& body, uint16_t children) {
    std::string a = be32(uint32_t(20 + body.size())) + std::string(type, 4) + be32(1);
    a += std::string(2, '\0');
    a += char(children >> 8);
    a += char(children);
    a += std::string(4, '\0') + body;
    return a;
}

std::string documentFile(const std::string& rootChildren, uint16_t count) {
    return std::string(512, '\0') + "KELV" + std::string(12, '\0') + atom("sean", rootChildren, count);
}

} // namespace

TEST(ObjectDocument, FileLayoutIsPinnedByteByByte) {
    testsupport::ScratchDir dir("tka-doc");
    Kelvo_QTObjDocument doc(FOUR_CHAR_CODE("UDAT"));
    ASSERT_EQ(doc.Error(), 0);
    doc.Doc_Write(dir.file("empty.kdoc").c_str());
    ASSERT_EQ(doc.Error(), 0);

    std::string desc = atom("DESC", atom("VERS", be32(2), 0) + atom("TYPE", "UDAT", 0), 2);
    std::string expected = documentFile(desc, 1);
    EXPECT_EQ(testsupport::readFile(dir.file("empty.kdoc")), expected);
    // The same bytes spelt out after the 512 zero bytes: the magic, the container header, the
    // root, 'DESC', then 'VERS' holding 2 and 'TYPE' holding the type, all big-endian.
    const char* hex = "4B454C56"
                      "000000000000000000000000"
                      "00000058"
                      "7365616E"
                      "00000001"
                      "0000"
                      "0001"
                      "00000000"
                      "00000044"
                      "44455343"
                      "00000001"
                      "0000"
                      "0002"
                      "00000000"
                      "00000018"
                      "56455253"
                      "00000001"
                      "0000"
                      "0000"
                      "00000000"
                      "00000002"
                      "00000018"
                      "54595045"
                      "00000001"
                      "0000"
                      "0000"
                      "00000000"
                      "55444154";
    std::string spelt(512, '\0');
    for (size_t i = 0; hex[i]; i += 2)
        spelt += char(std::stoi(std::string(hex + i, 2), nullptr, 16));
    EXPECT_EQ(expected, spelt);

    Kelvo_QTObjDocument read(dir.file("empty.kdoc").c_str());
    EXPECT_EQ(read.Error(), 0);
    EXPECT_EQ(read.DocType(), FOUR_CHAR_CODE("UDAT"));
    EXPECT_EQ(read.DocVersion(), 2u);
    EXPECT_EQ(read.NodesCount(), 0);
}

TEST(ObjectDocument, NodesRoundTripWithFlagsAndDescriptions) {
    testsupport::ScratchDir dir("tka-doc");
    std::string big(100000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = char(i * 7);
    struct Node {
        std::string payload;
        bool hasFlags;
        uint32_t flags;
        const char* description;
    };
    const Node nodes[] = {
        {"first payload", true, 0xA1B2C3D4, "the first"},
        {std::string("\0\x01\x02", 3), false, 0, nullptr},
        {big, true, 7, ""}, // an empty description is not stored
        {"", false, 0, "no payload bytes"},
    };
    {
        Kelvo_QTObjDocument doc(FOUR_CHAR_CODE("UDAT"));
        for (const Node& n : nodes) {
            Handle h = handleOf(n.payload);
            uint32_t flags = n.flags;
            doc.Doc_NodeData(h, n.hasFlags ? &flags : nullptr, const_cast<char*>(n.description));
            EXPECT_EQ(doc.Error(), 0);
            DisposeHandle(h);
        }
        doc.Doc_NodeData(nullptr, nullptr, nullptr); // no payload: nothing
        EXPECT_EQ(doc.NodesCount(), 0);              // counted on reading only
        doc.Doc_Write(dir.file("nodes.kdoc").c_str());
        ASSERT_EQ(doc.Error(), 0);
    }

    Kelvo_QTObjDocument doc(dir.file("nodes.kdoc").c_str());
    ASSERT_EQ(doc.Error(), 0);
    EXPECT_EQ(doc.DocType(), FOUR_CHAR_CODE("UDAT"));
    ASSERT_EQ(doc.NodesCount(), 4);
    for (int16_t i = 1; i <= 4; ++i) {
        const Node& n = nodes[i - 1];
        Handle payload = nullptr;
        uint32_t flags = 0x5EED;
        char sentinel = 0;
        char* description = &sentinel;
        doc.Doc_NodeData(&payload, &flags, &description, i);
        ASSERT_EQ(doc.Error(), 0) << i;
        ASSERT_NE(payload, nullptr);
        EXPECT_EQ(bytesOf(payload), n.payload) << i;
        DisposeHandle(payload);
        EXPECT_EQ(flags, n.hasFlags ? n.flags : 0x5EEDu) << i; // unchanged without flags
        if (n.description && *n.description) {
            EXPECT_STREQ(description, n.description);
            delete[] description;
        } else {
            EXPECT_EQ(description, &sentinel) << i; // unchanged without a description
        }
    }
    Handle none = nullptr;
    doc.Doc_NodeData(&none, nullptr, nullptr, 5);
    EXPECT_EQ(doc.Error(), -50);
    EXPECT_EQ(none, nullptr);
    doc.Doc_NodeData(&none, nullptr, nullptr, 0);
    EXPECT_EQ(doc.Error(), -50);
    doc.Doc_NodeData(nullptr, nullptr, nullptr, 1);
    EXPECT_EQ(doc.Error(), -50);
}

TEST(ObjectDocument, NodeAsAtomContainer) {
    QTAtomContainer settings = nullptr;
    ASSERT_EQ(QTNewAtomContainer(&settings), 0);
    QTInsertChild(settings, 0, FOUR_CHAR_CODE("qual"), 5, 0, 4, "abcd", nullptr);
    Handle flat = nullptr;
    ASSERT_EQ(QTFlattenAtomContainer(settings, &flat), 0);

    Kelvo_QTObjDocument doc(FOUR_CHAR_CODE("sett"));
    doc.Doc_NodeData(flat, nullptr, const_cast<char*>("settings"));
    Handle junk = handleOf("not a container");
    doc.Doc_NodeData(junk, nullptr, nullptr);
    DisposeHandle(junk);
    DisposeHandle(flat);
    QTDisposeAtomContainer(settings);

    QTAtomContainer out = reinterpret_cast<QTAtomContainer>(1);
    char* description = nullptr;
    doc.Doc_NodeDataToAtomContainer(&out, nullptr, &description, 1);
    ASSERT_EQ(doc.Error(), 0);
    ASSERT_NE(out, nullptr);
    EXPECT_STREQ(description, "settings");
    delete[] description;
    QTAtom q = QTFindChildByID(out, 0, FOUR_CHAR_CODE("qual"), 5, nullptr);
    ASSERT_NE(q, 0);
    char data[4];
    int32_t got = 0;
    QTCopyAtomDataToPtr(out, q, false, 4, data, &got);
    EXPECT_EQ(std::string(data, 4), "abcd");
    QTDisposeAtomContainer(out);

    doc.Doc_NodeDataToAtomContainer(&out, nullptr, nullptr, 2); // a payload that is no container
    EXPECT_NE(doc.Error(), 0);
    EXPECT_EQ(out, nullptr);
    doc.Doc_NodeDataToAtomContainer(nullptr, nullptr, nullptr, 1);
    EXPECT_EQ(doc.Error(), -50);
}

TEST(ObjectDocument, MalformedFilesAreRefusedWith111) {
    testsupport::ScratchDir dir("tka-doc");
    std::string desc = atom("DESC", atom("VERS", be32(2), 0) + atom("TYPE", "UDAT", 0), 2);
    std::string good = documentFile(desc, 1);
    ASSERT_EQ(readStatus(dir, good), 0);

    std::string badMagic = good;
    badMagic[515] = 'X';
    std::string junkHead = good;
    junkHead.replace(0, 512, std::string(512, '\x7F')); // the first 512 bytes are ignored
    // The root claims more children and bytes than the file holds.
    std::string oversized = good;
    oversized.replace(516 + 12, 4, be32(0x7FFFFFF0));
    std::string tooManyChildren = good;
    tooManyChildren[516 + 12 + 15] = 9;
    struct Case {
        const char* what;
        std::string bytes;
        int32_t expected;
    };
    const Case cases[] = {
        {"empty file", "", 111},
        {"shorter than the magic", std::string(300, '\0'), 111},
        {"magic only", std::string(512, '\0') + "KELV", 111},
        {"bad magic", badMagic, 111},
        {"ignored head", junkHead, 0},
        {"container cut short", good.substr(0, good.size() - 3), 111},
        {"oversized root atom", oversized, 111},
        {"child count beyond the bytes", tooManyChildren, 111},
        {"no DESC", documentFile(atom("DATA", "", 0), 1), 111},
        {"DESC without TYPE", documentFile(atom("DESC", atom("VERS", be32(2), 0), 1), 1), 111},
        {"TYPE of two bytes", documentFile(atom("DESC", atom("TYPE", "UD", 0), 1), 1), 111},
        {"not a container", std::string(512, '\0') + "KELV" + std::string(1000, '\xEE'), 111},
    };
    for (const Case& c : cases) {
        bool hasContainer = true;
        EXPECT_EQ(readStatus(dir, c.bytes, &hasContainer), c.expected) << c.what;
        if (c.expected != 0) {
            EXPECT_FALSE(hasContainer) << c.what; // a refused document keeps nothing
        }
    }

    Kelvo_QTObjDocument missing(dir.file("missing.kdoc").c_str());
    EXPECT_EQ(missing.Error(), 100);
    Kelvo_QTObjDocument nullPath(static_cast<const char*>(nullptr));
    EXPECT_EQ(nullPath.Error(), -50);
}

TEST(ObjectDocument, EveryTruncationAndByteFlipIsRefusedOrRead) {
    testsupport::ScratchDir dir("tka-doc");
    Kelvo_QTObjDocument doc(FOUR_CHAR_CODE("UDAT"));
    Handle h = handleOf("payload");
    uint32_t flags = 3;
    doc.Doc_NodeData(h, &flags, const_cast<char*>("desc"));
    DisposeHandle(h);
    doc.Doc_Write(dir.file("full.kdoc").c_str());
    std::string full = testsupport::readFile(dir.file("full.kdoc"));
    ASSERT_GT(full.size(), 516u);

    for (size_t n = 0; n < full.size(); ++n)
        ASSERT_EQ(readStatus(dir, full.substr(0, n)), 111) << "cut at " << n;
    for (size_t i = 512; i < full.size(); ++i) {
        std::string flipped = full;
        flipped[i] = char(flipped[i] ^ 0xFF);
        int32_t status = readStatus(dir, flipped);
        ASSERT_TRUE(status == 0 || status == 111) << "flip at " << i << ": " << status;
    }
}

TEST(ObjectDocument, WriteFailures) {
    testsupport::ScratchDir dir("tka-doc");
    Kelvo_QTObjDocument doc(FOUR_CHAR_CODE("UDAT"));
    doc.Doc_Write(dir.file("no/such/folder/x.kdoc").c_str());
    EXPECT_EQ(doc.Error(), 101);
    doc.Doc_Write(nullptr);
    EXPECT_EQ(doc.Error(), -50);

    Kelvo_QTObjDocument none(0u);
    EXPECT_EQ(none.Error(), -50);
    EXPECT_FALSE(none.qtObjIsValid());
    none.Doc_Write(dir.file("none.kdoc").c_str()); // nothing for an invalid document
    EXPECT_FALSE(std::filesystem::exists(dir.file("none.kdoc")));
}
