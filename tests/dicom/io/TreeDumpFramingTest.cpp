// The frame of a tree's text and XML dumps, the statuses of the writers, the order of a tree's
// groups, what documents and directory documents refuse, and an anonymised copy that leaves its
// source alone. Files of the pydicom corpus, with dcmdump and Python's XML parser as references.
#include "KelvoDicomDataSetViews.h"
#include "KelvoDicomDataTree.h"
#include "KelvoDicomStream.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string R = "#" + std::string(56, '=') + "\n";
const char* const kDirectoryClass = "1.2.840.10008.1.3.10";

std::string corpus(const std::string& name) {
    return std::string(testsupport::pydicomTestFiles()) + "/" + name;
}

std::string quoted(const std::string& s) {
    return "'" + s + "'";
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The ids of the data sets that are not nested in another, in dump order ("0008 0010 ...").
std::string topLevelSets(const std::string& dump) {
    std::string ids;
    int depth = 0;
    for (const std::string& line : linesOf(dump)) {
        if (line.rfind("[Dataset id=", 0) == 0) {
            if (depth++ == 0) ids += (ids.empty() ? "" : " ") + line.substr(12, 4);
        } else if (line == "[Dataset End]") {
            --depth;
        }
    }
    return ids;
}

// The groups of a file's data set as dcmdump lists them, meta information aside, in file order.
std::string dcmdumpGroups(const std::string& path) {
    std::string ids;
    std::set<std::string> seen;
    for (const std::string& line : linesOf(testsupport::run("dcmdump -q " + quoted(path) + " 2>/dev/null"))) {
        if (line.size() < 6 || line[0] != '(' || line[5] != ',') continue;
        std::string group = line.substr(1, 4);
        for (char& c : group)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        // The meta information, and the delimiter closing a top-level sequence of undefined length.
        if (group == "0002" || group == "FFFE" || !seen.insert(group).second) continue;
        ids += (ids.empty() ? "" : " ") + group;
    }
    return ids;
}

// The same for the data sets of a whole dump's list.
std::string listedSets(const std::string& dump) {
    size_t list = dump.find("[DATASET_LIST]\n");
    return list == std::string::npos ? "no list" : topLevelSets(dump.substr(list));
}

std::string textDump(KelvoDicomDataTree& tree, const std::string& path) {
    tree.toTextFile(path.c_str());
    return tree.Error() == 0 ? testsupport::readFile(path) : "error " + std::to_string(tree.Error());
}

std::string headerText(const KelvoDicomDataTree& tree, bool xml) {
    std::unique_ptr<KelvoDicomDataHeader> header(tree.Header());
    if (!header) return "no header";
    return testsupport::capture([&](FILE* f) {
        if (xml)
            header->flushToXml(f, 0);
        else
            header->flushToText(f, 0);
    });
}

std::string frameBefore(const std::string& header, bool xml) {
    if (xml)
        return "<DICOM>\n<KelvoDicomInfo>\n<version>4.0.0\n</version>\n</KelvoDicomInfo>\n<HEADER>\n" +
               header + "</HEADER>\n<DATASET_LIST>\n";
    return R + "[DICOM]\n" + R + "#VUXDicom Library version 4.0.0\n" + R + "[HEADER]\n" + R + header +
           "[HEADER End]\n" + R + "[DATASET_LIST]\n" + R;
}

std::string frameAfter(bool xml) {
    if (xml) return "</DATASET_LIST>\n</DICOM>\n";
    return "[DATASET_LIST End]\n" + R + "[DICOM End]\n" + R;
}

// A tree whose header names the other kind: a document with a directory header, or a directory
// document with an image header. Neither is valid (113).
template <class Tree> std::unique_ptr<Tree> wrongKind(const char* sopClass) {
    auto tree = std::make_unique<Tree>();
    std::unique_ptr<KelvoDicomDataHeader> header(tree->KelvoDicomDataTree::Header());
    header->setStringValueProperty(0x0002, sopClass);
    tree->KelvoDicomDataTree::Header(header.get());
    return tree;
}

} // namespace

// Whole files: the frame around the header and the data sets, every group of the data set once
// and in order, the same sets in the XML twin, which parses and has no declaration.
TEST(TreeDumpFraming, WholeFilesInTextAndXml) {
    testsupport::ScratchDir dir("tree-dump-frame");
    const std::string parse = dir.file("ids.py");
    testsupport::writeFile(parse, R"PY(
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
print(root.tag, ' '.join(child.tag for child in root))
print(' '.join(s.get('id') for s in root.find('HEADER').findall('Dataset')))
print(' '.join(s.get('id') for s in root.find('DATASET_LIST').findall('Dataset')))
)PY");
    for (const char* name : {"CT_small.dcm", "MR_small_bigendian.dcm", "ExplVR_LitEndNoMeta.dcm",
                             "rtplan.dcm", "dicomdirtests/DICOMDIR"}) {
        SCOPED_TRACE(name);
        std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(corpus(name).c_str()));
        ASSERT_NE(tree, nullptr);
        ASSERT_EQ(tree->Error(), 0);
        const std::string groups = dcmdumpGroups(corpus(name));
        ASSERT_FALSE(groups.empty());

        const std::string text = textDump(*tree, dir.file("dump.txt"));
        const std::string head = frameBefore(headerText(*tree, false), false);
        ASSERT_EQ(text.substr(0, head.size()), head);
        const std::string tail = frameAfter(false);
        ASSERT_GE(text.size(), head.size() + tail.size());
        EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
        const std::string body = text.substr(head.size(), text.size() - head.size() - tail.size());
        EXPECT_EQ(topLevelSets(body), groups);
        EXPECT_EQ(topLevelSets(headerText(*tree, false)), "0002");
        for (const char* marker :
             {"[DICOM]", "[HEADER]", "[HEADER End]", "[DATASET_LIST]", "[DATASET_LIST End]", "[DICOM End]"})
            EXPECT_EQ(text.find(std::string("\n") + marker + "\n"),
                      text.rfind(std::string("\n") + marker + "\n"))
                << marker;

        tree->toXmlFile(dir.file("dump.xml").c_str());
        ASSERT_EQ(tree->Error(), 0);
        const std::string xml = testsupport::readFile(dir.file("dump.xml"));
        EXPECT_EQ(xml.substr(0, 16), "<DICOM>\n<KelvoDi");
        const std::string xmlHead = frameBefore(headerText(*tree, true), true);
        EXPECT_EQ(xml.substr(0, xmlHead.size()), xmlHead);
        EXPECT_EQ(xml.substr(xml.size() - frameAfter(true).size()), frameAfter(true));
        EXPECT_EQ(testsupport::run("/usr/bin/python3 " + quoted(parse) + " " + quoted(dir.file("dump.xml")) +
                                   " 2>&1"),
                  "DICOM KelvoDicomInfo HEADER DATASET_LIST\n0002\n" + groups + "\n");
    }
}

// A tree without data sets gives the header part and an empty list, whichever way the writer
// was given its path; a second write makes the file anew.
TEST(TreeDumpFraming, EmptyTreeThroughEveryPathForm) {
    testsupport::ScratchDir dir("tree-dump-empty");
    KelvoDicomDataTree tree;
    ASSERT_TRUE(tree.qtObjIsValid());
    for (bool xml : {false, true}) {
        SCOPED_TRACE(xml ? "xml" : "text");
        const std::string expected = frameBefore(headerText(tree, xml), xml) + frameAfter(xml);
        const std::string target = dir.file(xml ? "empty.xml" : "empty.txt");
        std::string owned = target;
        std::string unterminated = target + "#ignored";
        std::string borrowed = target + std::string(1, '\0') + "ignored";
        std::vector<std::pair<const char*, std::function<KelvoDicomOutputFile*()>>> forms;
        auto make = [xml](auto&& path) -> KelvoDicomOutputFile* {
            if (xml) return new KelvoDicomOutputFileXml(path);
            return new KelvoDicomOutputFileText(path);
        };
        forms.push_back({"C string", [&] { return make(target.c_str()); }});
        forms.push_back({"owned array with its NUL", [&] {
                             KelvoDataT<char> path(owned.data(), uint32_t(owned.size() + 1), uint8_t(0));
                             return make(path);
                         }});
        forms.push_back({"borrowed array, text after the NUL", [&] {
                             KelvoDataT<char> path(borrowed.data(), uint32_t(borrowed.size()), uint8_t(1));
                             return make(path);
                         }});
        forms.push_back({"array without a NUL", [&] {
                             KelvoDataT<char> path(unterminated.data(), uint32_t(target.size()), uint8_t(1));
                             return make(path);
                         }});
        for (auto& [label, form] : forms) {
            SCOPED_TRACE(label);
            fs::remove(target);
            std::unique_ptr<KelvoDicomOutputFile> out(form());
            EXPECT_STREQ(out->qtObjName(), xml ? "KelvoDicomOutputFileXml" : "KelvoDicomOutputFileText");
            EXPECT_EQ(out->streamType(), FOUR_CHAR_CODE("TEXT"));
            EXPECT_STREQ(out->pathText(), target.c_str());
            for (int pass = 0; pass < 2; ++pass) {
                *out << tree;
                EXPECT_EQ(out->Error(), 0);
                EXPECT_EQ(testsupport::readFile(target), expected);
            }
        }
        EXPECT_FALSE(fs::exists(unterminated));
    }
}

// The writers' statuses: 80 for a stream without a path (checked first), 79 for a tree that is not
// valid, 101 for a file that cannot be created; nothing is created in any of these cases. The
// tree's own operations answer 9 for a stream without a path.
TEST(TreeDumpFraming, WriterStatuses) {
    testsupport::ScratchDir dir("tree-dump-status");
    KelvoDicomDataTree valid;
    auto invalid = wrongKind<KelvoDicomDocument>(kDirectoryClass);
    ASSERT_FALSE(invalid->qtObjIsValid());
    const std::string missingFolder = dir.file("no/such/folder/out");
    const std::string good = dir.file("out");

    using Maker = std::function<KelvoDicomOutputFile*(const char*)>;
    const std::pair<const char*, Maker> writers[] = {
        {"text",
         [](const char* p) { return p ? new KelvoDicomOutputFileText(p) : new KelvoDicomOutputFileText(); }},
        {"xml",
         [](const char* p) { return p ? new KelvoDicomOutputFileXml(p) : new KelvoDicomOutputFileXml(); }},
        {"binary",
         [](const char* p) {
             return p ? new KelvoDicomOutputFileBinary(p) : new KelvoDicomOutputFileBinary();
         }},
    };
    struct Case {
        const char* label;
        const char* path;
        const KelvoDicomDataTree* tree;
        int32_t status;
    };
    const Case cases[] = {
        {"no path", nullptr, &valid, 80},
        {"empty path", "", &valid, 80},
        {"no path, invalid tree", nullptr, invalid.get(), 80},
        {"invalid tree", good.c_str(), invalid.get(), 79},
        {"missing folder", missingFolder.c_str(), &valid, 101},
        {"written", good.c_str(), &valid, 0},
    };
    for (const auto& [kind, make] : writers) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(kind) + ": " + c.label);
            fs::remove(good);
            std::unique_ptr<KelvoDicomOutputFile> out(make(c.path));
            out->write(*c.tree);
            EXPECT_EQ(out->Error(), c.status);
            EXPECT_EQ(fs::exists(good), c.status == 0);
        }
    }
    KelvoDataT<char> nothing(0u);
    KelvoDicomOutputFileText noText(nothing);
    noText << valid;
    EXPECT_EQ(noText.Error(), 80);
    KelvoDicomOutputFileXml noXml(nothing);
    noXml << valid;
    EXPECT_EQ(noXml.Error(), 80);

    struct TreeCase {
        const char* label;
        std::function<void(KelvoDicomDataTree&)> call;
        int32_t status;
    };
    const TreeCase treeCases[] = {
        {"text, no path", [](KelvoDicomDataTree& t) { t.toTextFile(nullptr); }, 9},
        {"xml, empty path", [](KelvoDicomDataTree& t) { t.toXmlFile(""); }, 9},
        {"binary, no path", [](KelvoDicomDataTree& t) { t.toBinaryFile(nullptr, nullptr); }, 9},
        {"text, missing folder", [&](KelvoDicomDataTree& t) { t.toTextFile(missingFolder.c_str()); }, 101},
        {"xml, missing folder", [&](KelvoDicomDataTree& t) { t.toXmlFile(missingFolder.c_str()); }, 101},
        {"text", [&](KelvoDicomDataTree& t) { t.toTextFile(good.c_str()); }, 0},
    };
    for (const TreeCase& c : treeCases) {
        SCOPED_TRACE(c.label);
        KelvoDicomDataTree tree;
        c.call(tree);
        EXPECT_EQ(tree.Error(), c.status);
    }
    // A tree that is not valid is not written through its own operations either.
    fs::remove(good);
    invalid->toTextFile(good.c_str());
    EXPECT_EQ(invalid->Error(), 113);
    EXPECT_FALSE(fs::exists(good));
}

// Groups stay sorted by number whatever order they are stored in; a set stored under key 0 sorts
// after every real group; storing a group again replaces it.
TEST(TreeGroups, SortedWithKeyZeroLast) {
    testsupport::ScratchDir dir("tree-groups");
    KelvoDicomDataTree tree;
    auto store = [&](uint16_t group, uint16_t element, const char* text) {
        KelvoDicomDataSet set(group);
        set.setStringValueProperty(element, text);
        ASSERT_TRUE(set.qtObjIsValid()) << group;
        tree.setObjValue(group, &set);
        EXPECT_EQ(tree.Error(), 0) << group;
    };
    auto keys = [&] {
        std::string out;
        for (int16_t i = 0;; ++i) {
            int32_t key = tree.Key(i);
            if (tree.Error() != 0) break;
            char b[16];
            std::snprintf(b, sizeof b, "%04X", unsigned(key));
            out += (out.empty() ? "" : " ") + (key == FOUR_CHAR_CODE("NGEZ") ? "NGEZ" : std::string(b));
        }
        return out;
    };
    store(0x0020, 0x000D, "1.2.3");
    store(0x0008, 0x0060, "CT");
    EXPECT_EQ(keys(), "0008 0020");
    EXPECT_EQ(tree.Error(), -50); // past the last group
    store(0x0000, 0x0002, "1.2.840.10008.1.1");
    store(0x0010, 0x0010, "Doe^John");
    store(0x0009, 0x0010, "MAKER");
    store(0x0028, 0x0004, "MONOCHROME2");
    // Key() answers the stored id of group 0000, and that id reaches the group.
    EXPECT_EQ(keys(), "0008 0009 0010 0020 0028 NGEZ");
    EXPECT_EQ(listedSets(textDump(tree, dir.file("tree.txt"))), "0008 0009 0010 0020 0028 0000");
    std::unique_ptr<KelvoDicomDataNode> numbers(tree.getKeys());
    ASSERT_EQ(numbers->valueCount(), 6);
    EXPECT_EQ(numbers->usValue(5), 0);
    for (int32_t key : {0, int32_t(tree.Key(5))}) {
        std::unique_ptr<Kelvo_QTObj> last(tree.getObjValue(key));
        ASSERT_NE(last, nullptr) << key;
        EXPECT_EQ(static_cast<KelvoDicomDataSet*>(last.get())->groupID(), 0);
    }

    store(0x0010, 0x0010, "Roe^Jane");
    EXPECT_EQ(keys(), "0008 0009 0010 0020 0028 NGEZ");
    std::unique_ptr<Kelvo_QTObj> patient(tree.getObjValue(0x0010));
    ASSERT_NE(patient, nullptr);
    EXPECT_STREQ(static_cast<KelvoDicomDataSet*>(patient.get())->getStringValueProperty(0x0010), "Roe^Jane");
    EXPECT_EQ(tree.getObjValue(0x0018), nullptr);
    EXPECT_EQ(tree.Error(), 321);
}

// What a document and a directory document refuse: a file set in a document and anything that is
// not a data set (322), a header of the other kind (113), and any group but 0004 in a directory.
TEST(TreeDocuments, RefusalsAndStatuses) {
    std::unique_ptr<KelvoDicomDataTree> image(KelvoDicomDataTree::openFile(corpus("CT_small.dcm").c_str()));
    ASSERT_NE(image, nullptr);
    ASSERT_TRUE(image->isA("KelvoDicomDocument"));
    std::unique_ptr<KelvoDicomDataNode> before(image->getKeys());
    KelvoDicomDataFileSet fileSet;
    KelvoDicomDataNode notASet("US");
    KelvoDicomDataSet emptyStudy(0x0008);
    struct Case {
        const char* label;
        int32_t key;
        Kelvo_QTObj* value;
        int32_t status;
    };
    const Case cases[] = {
        {"file set", 0x0004, &fileSet, 322},
        {"any set under key 0004", 0x0004, &emptyStudy, 322},
        {"a node", 0x0008, &notASet, 322},
        {"nothing", 0x0008, nullptr, 322},
        {"a key beyond 16 bits", 0x10008, &emptyStudy, 322},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        image->setObjValue(c.key, c.value);
        EXPECT_EQ(image->Error(), c.status);
        std::unique_ptr<KelvoDicomDataNode> after(image->getKeys());
        EXPECT_EQ(after->valueCount(), before->valueCount());
    }
    EXPECT_EQ(image->getObjValue(0x0004), nullptr);

    std::unique_ptr<KelvoDicomDataTree> dir(
        KelvoDicomDataTree::openFile(corpus("dicomdirtests/DICOMDIR").c_str()));
    ASSERT_NE(dir, nullptr);
    ASSERT_TRUE(dir->isA("KelvoDicomDirectoryDocument"));
    ASSERT_TRUE(dir->qtObjIsValid());
    for (int32_t key : {0x0002, 0x0008, 0x0010, 0x0000})
        EXPECT_EQ(dir->getObjValue(key), nullptr) << key;
    std::unique_ptr<Kelvo_QTObj> root(dir->getObjValue(0x0004));
    ASSERT_NE(root, nullptr);
    EXPECT_TRUE(root->isA("KelvoDicomDataFileSet"));
    KelvoDicomDataStudy study;
    study.setStringValueProperty(0x0060, "CT");
    dir->setObjValue(0x0008, &study);
    std::unique_ptr<KelvoDicomDataNode> dirKeys(dir->getKeys());
    EXPECT_EQ(dirKeys->valueCount(), 1);
    auto& directory = static_cast<KelvoDicomDirectoryDocument&>(*dir);
    directory.root(nullptr);
    EXPECT_EQ(directory.Error(), 322);

    // Headers of the other kind make either tree invalid, and nothing is cloned from it.
    auto document = wrongKind<KelvoDicomDocument>(kDirectoryClass);
    EXPECT_FALSE(document->qtObjIsValid());
    EXPECT_EQ(document->Error(), 113);
    EXPECT_EQ(document->clone(), nullptr);
    auto directoryDoc = wrongKind<KelvoDicomDirectoryDocument>("1.2.840.10008.5.1.4.1.1.2");
    EXPECT_FALSE(directoryDoc->qtObjIsValid());
    EXPECT_EQ(directoryDoc->Error(), 113);
    EXPECT_EQ(directoryDoc->clone(), nullptr);
    EXPECT_EQ(directoryDoc->getObjValue(0x0004), nullptr);
}

// anonymize() gives a changed copy and leaves the tree it was called on as it was; copies made one
// after the other get patient identifiers of their own.
TEST(TreeAnonymize, LeavesItsSourceAlone) {
    testsupport::ScratchDir scratch("tree-anonymize");
    for (const char* name :
         {"CT_small.dcm", "MR_small_bigendian.dcm", "rtplan.dcm", "dicomdirtests/DICOMDIR"}) {
        SCOPED_TRACE(name);
        std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(corpus(name).c_str()));
        ASSERT_NE(tree, nullptr);
        const std::string before = textDump(*tree, scratch.file("before.txt"));
        std::unique_ptr<KelvoDicomDataTree> copy(tree->anonymize());
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(tree->Error(), 0); // every group was anonymised
        EXPECT_STREQ(copy->qtObjName(), tree->qtObjName());
        EXPECT_EQ(textDump(*tree, scratch.file("after.txt")), before);
        const std::string anonymised = textDump(*copy, scratch.file("copy.txt"));
        EXPECT_NE(anonymised, before);
        EXPECT_EQ(listedSets(anonymised), listedSets(before));
    }

    std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(corpus("CT_small.dcm").c_str()));
    ASSERT_NE(tree, nullptr);
    std::set<std::string> ids;
    for (int i = 0; i < 3; ++i) {
        std::unique_ptr<KelvoDicomDataTree> copy(tree->anonymize());
        ASSERT_NE(copy, nullptr);
        std::unique_ptr<Kelvo_QTObj> patient(copy->getObjValue(0x0010));
        ASSERT_NE(patient, nullptr);
        auto* set = static_cast<KelvoDicomDataSet*>(patient.get());
        std::string name = set->getStringValueProperty(0x0010);
        EXPECT_EQ(name.find_first_not_of("X^="), std::string::npos) << name;
        ids.insert(set->getStringValueProperty(0x0020));
    }
    EXPECT_EQ(ids.size(), 3u);
    std::unique_ptr<Kelvo_QTObj> source(tree->getObjValue(0x0010));
    EXPECT_STREQ(static_cast<KelvoDicomDataSet*>(source.get())->getStringValueProperty(0x0010),
                 "CompressedSamples^CT1");
    EXPECT_STREQ(static_cast<KelvoDicomDataSet*>(source.get())->getStringValueProperty(0x0020), "1CT1");
}
