// User data lists: item and text index rules, the 'UDAT' document, type positions, private
// copies, and the lists of graphics importers, exporters and sequence grabbers.
#include "KelvoUserData.h"

#include "KelvoCoreObjectsDocument.h"
#include "PlatformGraphicsImport.h"
#include "PlatformGraphicsMetaData.h"
#include "PlatformMemory.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kName = FOUR_CHAR_CODE("name");
constexpr uint32_t kInfo = FOUR_CHAR_CODE("\251inf");
constexpr uint32_t kCopyright = FOUR_CHAR_CODE("\251cpy");
constexpr uint32_t kData = FOUR_CHAR_CODE("data");

std::string take(Handle h) {
    if (!h) return "<null>";
    std::string bytes(*h, size_t(GetHandleSize(h)));
    DisposeHandle(h);
    return bytes;
}

// Every item of every type, in the list's order, as (type, bytes).
std::vector<std::pair<uint32_t, std::string>> itemsOf(Kelvo_UDataList& l) {
    std::vector<std::pair<uint32_t, std::string>> out;
    for (int16_t t = 0; t < l.ListTypesCount(); ++t) {
        uint32_t type = l.ListType(t);
        for (int32_t i = 1; i <= l.Count(type); ++i)
            out.emplace_back(type, take(l.Item(type, i)));
    }
    return out;
}

std::vector<std::string> itemsOfType(Kelvo_UDataList& l, uint32_t type) {
    std::vector<std::string> out;
    for (int32_t i = 1; i <= l.Count(type); ++i)
        out.push_back(take(l.Item(type, i)));
    return out;
}

// A list with bytes and texts in several languages over three types.
void fill(Kelvo_UDataList& l) {
    l.addItem(kName, "study", 5);
    l.addItem(kData, "\x00\x01\x02\xFF", 4);
    l.addItemText(kInfo, "English", 0);
    l.ItemText("Francais", kInfo, 1, 1);
    l.ItemText("Deutsch", kInfo, 2, 1);
    l.addItemText(kInfo, "second", 0);
    l.addItem(kName, "series", 6);
    ASSERT_EQ(l.Error(), noErr);
}

} // namespace

TEST(UserDataList, SettingPastTheLastItemWritesTheNextOne) {
    Kelvo_UDataList l;
    ASSERT_TRUE(l.qtObjIsValid());
    l.addItem(kName, "one", 3);
    l.addItem(kName, "two", 3);
    l.Item("five", 4, kName, 5);
    EXPECT_EQ(l.Error(), noErr);
    EXPECT_EQ(itemsOfType(l, kName), (std::vector<std::string>{"one", "two", "five"}));

    l.Item("TWO", 3, kName, 2);
    l.Item("first", 5, kData, 4);
    EXPECT_EQ(itemsOfType(l, kName), (std::vector<std::string>{"one", "TWO", "five"}));
    EXPECT_EQ(itemsOfType(l, kData), (std::vector<std::string>{"first"})) << "an empty type starts at 1";

    // Missing data, size or a negative index leave the list and the status alone.
    l.Item(nullptr, 4, kName, 1);
    l.Item("x", 0, kName, 1);
    l.Item("x", 1, kName, -1);
    EXPECT_EQ(l.Error(), noErr);
    EXPECT_EQ(l.Count(), 4);

    char word[3];
    EXPECT_TRUE(l.ItemToPtr(word, 3, kName, 2));
    EXPECT_EQ(std::string(word, 3), "TWO");
    for (int32_t index : {0, 4}) {
        EXPECT_FALSE(l.ItemToPtr(word, 3, kName, index));
        EXPECT_EQ(l.Error(), paramErr);
    }
    EXPECT_FALSE(l.ItemToPtr(word, 2, kName, 1)) << "the buffer must be the item's size";
    EXPECT_EQ(take(l.Item(kName, 9)), "<null>");
    EXPECT_EQ(l.Error(), userDataItemNotFound);
}

TEST(UserDataList, TextsFollowTheSameIndexRules) {
    Kelvo_UDataList l;
    l.ItemText("first", kInfo, 0, 3);
    EXPECT_EQ(l.Error(), noErr);
    EXPECT_EQ(l.Count(kInfo), 1) << "a text at index 3 of an empty type goes to index 1";
    EXPECT_EQ(take(l.ItemText(kInfo, 0, 1)), "first");

    l.ItemText("premier", kInfo, 1, 1);
    l.ItemText("later", kInfo, 0, 7);
    EXPECT_EQ(l.Count(kInfo), 2);
    EXPECT_EQ(take(l.ItemText(kInfo, 1, 1)), "premier");
    EXPECT_EQ(take(l.ItemText(kInfo, 0, 2)), "later");
    EXPECT_EQ(take(l.ItemText(kInfo, 5, 2)), "<null>");
    EXPECT_EQ(l.Error(), userDataItemNotFound);

    for (const char* bad : {"", static_cast<const char*>(nullptr)}) {
        l.ItemText(bad, kInfo, 0, 1);
        EXPECT_EQ(l.Error(), paramErr);
    }
    l.ItemText("x", kInfo, 0, -1);
    EXPECT_EQ(l.Error(), paramErr);
    l.addItemText(kInfo, nullptr, 0);
    EXPECT_EQ(l.Error(), paramErr);
    l.addItem(0, "x", 1);
    EXPECT_EQ(l.Error(), paramErr);
    l.addItem(kName, static_cast<Handle>(nullptr));
    EXPECT_EQ(l.Error(), paramErr);
    EXPECT_EQ(l.Count(), 2);
}

TEST(UserDataList, ADocumentReadsBackItemForItem) {
    testsupport::ScratchDir dir("udata-doc");
    const std::string path = dir.file("list.udat");
    Kelvo_UDataList stored;
    fill(stored);
    Handle extra = nullptr;
    PtrToHand("\x00\x00\x00\x00", &extra, 4);
    stored.addItem(kCopyright, extra);
    DisposeHandle(extra);
    stored.store(path.c_str());
    ASSERT_EQ(stored.Error(), noErr);

    Kelvo_UDataList loaded(path.c_str());
    ASSERT_EQ(loaded.Error(), noErr);
    ASSERT_TRUE(loaded.qtObjIsValid());
    EXPECT_EQ(itemsOf(loaded), itemsOf(stored));
    EXPECT_EQ(itemsOf(loaded).size(), 6u);
    for (int16_t language : {0, 1, 2})
        EXPECT_EQ(take(loaded.ItemText(kInfo, language, 1)), take(stored.ItemText(kInfo, language, 1)));
    EXPECT_EQ(take(loaded.ItemText(kInfo, 1, 1)), "Francais");

    // The file is a 'UDAT' document of one node carrying the flat list, without flags or
    // description.
    Kelvo_QTObjDocument doc(path.c_str());
    ASSERT_EQ(doc.Error(), noErr);
    EXPECT_EQ(doc.DocType(), FOUR_CHAR_CODE("UDAT"));
    ASSERT_EQ(doc.NodesCount(), 1);
    Handle payload = nullptr;
    uint32_t flags = 0xA5A5A5A5u;
    char* description = nullptr;
    doc.Doc_NodeData(&payload, &flags, &description, 1);
    EXPECT_EQ(flags, 0xA5A5A5A5u);
    EXPECT_EQ(description, nullptr);
    EXPECT_EQ(take(payload), take(stored.handle()));

    stored.store(nullptr);
    EXPECT_EQ(stored.Error(), paramErr);
}

TEST(UserDataList, DocumentsOfAnotherKindOrWithoutAListAreRefused) {
    testsupport::ScratchDir dir("udata-doc");
    auto write = [&](uint32_t type, const std::string* payload, const std::string& name) {
        Kelvo_QTObjDocument doc(type);
        if (payload) {
            Handle h = nullptr;
            PtrToHand(payload->data(), &h, Size(payload->size()));
            doc.Doc_NodeData(h, nullptr, nullptr);
            DisposeHandle(h);
        }
        doc.Doc_Write(dir.file(name).c_str());
        EXPECT_EQ(doc.Error(), noErr);
        return dir.file(name);
    };
    Kelvo_UDataList source;
    fill(source);
    const std::string flat = take(source.handle());
    const std::string garbage = flat.substr(0, flat.size() - 1);

    struct Case {
        const char* what;
        std::string path;
        int32_t status;
    };
    const Case cases[] = {
        {"a dictionary document", write(FOUR_CHAR_CODE("DICT"), &flat, "dict.doc"), 113},
        {"a dictionary document without node", write(FOUR_CHAR_CODE("DICT"), nullptr, "dict0.doc"), 113},
        {"a list document without node", write(FOUR_CHAR_CODE("UDAT"), nullptr, "empty.doc"), noErr},
        {"a truncated list", write(FOUR_CHAR_CODE("UDAT"), &garbage, "cut.doc"), paramErr},
        {"no file", dir.file("missing.doc"), kKelvoCannotOpenForReading},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Kelvo_UDataList l(c.path.c_str());
        EXPECT_EQ(l.Error(), c.status);
        EXPECT_FALSE(l.qtObjIsValid());
        EXPECT_EQ(l.Count(), 0);
    }
}

TEST(UserDataList, TypePositionsCountsAndClearing) {
    Kelvo_UDataList l;
    EXPECT_EQ(l.ListType(0), 0u);
    EXPECT_EQ(l.ListTypesCount(), 0);
    EXPECT_EQ(l.Error(), noErr);
    fill(l);
    EXPECT_EQ(l.ListTypesCount(), 3);
    EXPECT_EQ(l.ListType(0), kName);
    EXPECT_EQ(l.ListType(1), kData);
    EXPECT_EQ(l.ListType(2), kInfo);
    EXPECT_EQ(l.ListType(3), 0u);
    EXPECT_EQ(l.ListType(-1), 0u);
    EXPECT_EQ(l.Error(), paramErr);
    EXPECT_EQ(l.Count(), 5);
    EXPECT_EQ(l.Count(kName), 2);

    l.ItemRemove(kName, 1);
    EXPECT_EQ(l.Error(), noErr);
    EXPECT_EQ(itemsOfType(l, kName), (std::vector<std::string>{"series"}));
    l.ItemRemove(kName, 5);
    EXPECT_EQ(l.Error(), userDataItemNotFound);
    l.Clear(kInfo);
    EXPECT_EQ(l.Count(kInfo), 0);
    EXPECT_EQ(l.ListTypesCount(), 2);
    l.Clear();
    EXPECT_EQ(l.Count(), 0);
    EXPECT_TRUE(l.qtObjIsValid());
}

TEST(UserDataList, CopiesArePrivateAndOwnedListsAreDisposedOf) {
    UserData seen = nullptr;
    {
        Kelvo_UDataList original;
        fill(original);
        Kelvo_UDataList copy(original.UDList());
        Kelvo_UDataList fromList(&original);
        std::unique_ptr<Kelvo_QTObj> cloned(original.clone());
        ASSERT_TRUE(cloned && cloned->isA("Kelvo_UDataList"));
        auto* clone = static_cast<Kelvo_UDataList*>(cloned.get());
        for (Kelvo_UDataList* l : {&copy, &fromList, clone}) {
            EXPECT_EQ(l->Error(), noErr);
            EXPECT_NE(l->UDList(), original.UDList());
            EXPECT_EQ(itemsOf(*l), itemsOf(original));
        }
        copy.addItem(kName, "only in the copy", 16);
        EXPECT_EQ(original.Count(kName), 2);

        // Copying its own user data keeps the items.
        original.Copy(original.UDList());
        EXPECT_EQ(original.Error(), noErr);
        EXPECT_EQ(itemsOf(original), itemsOf(fromList));
        seen = original.UDList();
        EXPECT_EQ(original.qtObjReference(), static_cast<void*>(seen));
        EXPECT_EQ(static_cast<UserData>(original), seen);
        EXPECT_EQ(*original.UDListPtr(), seen);
    }
    EXPECT_FALSE(platform::isUserData(seen)) << "an owned list goes with its object";

    Kelvo_UDataList none(static_cast<Kelvo_UDataList*>(nullptr));
    EXPECT_FALSE(none.qtObjIsValid());
    EXPECT_EQ(none.Error(), noErr);
    EXPECT_EQ(none.handle(), nullptr);
    std::unique_ptr<Kelvo_QTObj> noneCopy(none.clone());
    EXPECT_EQ(noneCopy->Error(), paramErr) << "nothing to copy";
    Kelvo_UDataList fromNull(static_cast<UserData>(nullptr));
    EXPECT_EQ(fromNull.Error(), paramErr);
    EXPECT_FALSE(fromNull.qtObjIsValid());
}

TEST(UserDataList, OwnersWithoutUserDataGiveTheirStatus) {
    EXPECT_EQ(Kelvo_UDataList(static_cast<Movie>(nullptr)).Error(), invalidMovie);
    EXPECT_EQ(Kelvo_UDataList(static_cast<Track>(nullptr)).Error(), invalidTrack);
    EXPECT_EQ(Kelvo_UDataList(static_cast<Media>(nullptr)).Error(), invalidMedia);
    EXPECT_EQ(Kelvo_UDataList(static_cast<ComponentInstance>(nullptr), FOUR_CHAR_CODE("grip")).Error(),
              paramErr);
}

TEST(UserDataList, ComponentListsCopyTheMetadataOfTheirComponent) {
    testsupport::ScratchDir dir("udata-grip");
    const std::string png = dir.file("image.png");
    int status = -1;
    const std::string said = testsupport::run("/usr/bin/python3 -c \"from PIL import Image; "
                                              "Image.new('RGB', (4, 3), (10, 20, 30)).save('" +
                                                  png + "')\" 2>&1",
                                              &status);
    ASSERT_EQ(status, 0) << said;
    FSSpec spec{};
    std::snprintf(spec.path, sizeof spec.path, "%s", png.c_str());
    GraphicsImportComponent importer = nullptr;
    ASSERT_EQ(GetGraphicsImporterForFile(&spec, &importer), noErr);

    Kelvo_UDataList fromImporter(importer, FOUR_CHAR_CODE("grip"));
    EXPECT_EQ(fromImporter.Error(), noErr);
    EXPECT_TRUE(fromImporter.qtObjIsValid()) << "an importer with no metadata gives an empty list";
    EXPECT_EQ(fromImporter.Count(), 0);

    // The store keys metadata by instance; an exporter's is set and read back through it.
    ComponentInstance exporter = importer;
    Kelvo_UDataList metadata;
    fill(metadata);
    ASSERT_EQ(GraphicsExportSetMetaData(exporter, metadata.UDList()), noErr);
    metadata.addItem(kName, "after", 5);
    Kelvo_UDataList fromExporter(exporter, FOUR_CHAR_CODE("grex"));
    EXPECT_EQ(fromExporter.Error(), noErr);
    EXPECT_EQ(fromExporter.Count(), 5) << "what was set, not what changed since";
    EXPECT_EQ(take(fromExporter.ItemText(kInfo, 2, 1)), "Deutsch");

    // Getting appends to what the caller's list holds.
    Kelvo_UDataList target;
    target.addItem(kCopyright, "mine", 4);
    ASSERT_EQ(GraphicsImportGetMetaData(importer, target.UDList()), noErr);
    EXPECT_EQ(target.Count(), 6);
    EXPECT_EQ(target.ListType(0), kCopyright);

    platform::forgetGraphicsMetaData(exporter);
    EXPECT_EQ(Kelvo_UDataList(exporter, FOUR_CHAR_CODE("grex")).Count(), 0);
    EXPECT_EQ(Kelvo_UDataList(importer, FOUR_CHAR_CODE("abcd")).Count(), 0)
        << "other types give an empty list";

    Kelvo_UDataList grabber(importer, FOUR_CHAR_CODE("grab"));
    EXPECT_EQ(grabber.Error(), badComponentInstance);
    EXPECT_FALSE(grabber.qtObjIsValid());

    EXPECT_EQ(GraphicsImportGetMetaData(nullptr, target.UDList()), badComponentInstance);
    EXPECT_EQ(GraphicsExportSetMetaData(nullptr, target.UDList()), badComponentInstance);
    EXPECT_EQ(GraphicsExportGetMetaData(importer, nullptr), paramErr);
    EXPECT_EQ(GraphicsExportSetMetaData(importer, nullptr), paramErr);
    // Closing the component drops what it kept.
    ASSERT_EQ(GraphicsExportSetMetaData(importer, metadata.UDList()), noErr);
    CloseComponent(importer);
    EXPECT_EQ(Kelvo_UDataList(importer, FOUR_CHAR_CODE("grex")).Count(), 0);
}
