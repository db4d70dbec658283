// Every file of pydicom's corpus is read, or refused with a status where it really cannot be
// read; for each file read, the (tag, VR, length) of every element at every nesting level equals
// what DCMTK's dcmdump reports.
#include "KelvoDicomDataTree.h"
#include "TestFiles.h"
#include "TreeLines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// dcmdump's data set in the same form (public dictionary only, so that its private dictionary
// does not type private tags that a reader without it sees as unknown).
std::vector<std::string> dcmdumpLines(const std::string& file) {
    std::string text = testsupport::run("DCMDICTPATH=/usr/share/libdcmtk17/dicom.dic dcmdump -q +L -dc '" +
                                        file + "' 2>/dev/null");
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    bool dataSet = false;
    std::vector<std::string> stack; // the path of each nesting level
    std::vector<int> itemCounts;
    std::string piece;
    while (std::getline(in, piece)) {
        line = piece;
        if (line.rfind("# Dicom-Data-Set", 0) == 0) dataSet = true;
        // A value with line breaks spreads one element over several lines: join them up to the
        // line that holds the length.
        size_t lead = line.find_first_not_of(' ');
        while (lead != std::string::npos && line[lead] == '(' && line.find(" #") == std::string::npos &&
               std::getline(in, piece))
            line += "\n" + piece;
        // "  (gggg,eeee) VR value... # length, vm Name", parsed by hand: the values can be long.
        size_t indent = line.find_first_not_of(' ');
        size_t hash = line.rfind('#');
        if (!dataSet || indent == std::string::npos || hash == std::string::npos ||
            line.size() < indent + 15 || line[indent] != '(' || line[indent + 5] != ',' ||
            line[indent + 10] != ')')
            continue;
        size_t lengthStart = line.find_first_not_of(' ', hash + 1);
        size_t comma = line.find(',', lengthStart);
        if (lengthStart == std::string::npos || comma == std::string::npos) continue;
        std::string lengthField = line.substr(lengthStart, comma - lengthStart);
        size_t depth = indent / 2;
        std::string tag = line.substr(indent, 11);
        std::string vr = line.substr(indent + 12, 2);
        if (vr == "??") vr = "UN";
        if (vr == "up") vr = "UL"; // DCMTK's name for the UL offsets of directory records
        if (vr == "pi") continue;  // fragments of encapsulated pixel data stay in the file
        if (tag == "(fffe,e00d)" || tag == "(fffe,e0dd)") continue;
        stack.resize(depth + 1);
        itemCounts.resize(depth + 1);
        std::string prefix;
        for (size_t i = 0; i < depth; ++i)
            prefix += stack[i];
        if (tag == "(fffe,e000)") {
            std::string itemTag = "[" + std::to_string(++itemCounts[depth]) + "]";
            stack[depth] = itemTag;
            out.push_back(prefix + itemTag + " na " + lengthField);
        } else {
            stack[depth] = tag;
            if (depth + 1 < itemCounts.size()) itemCounts[depth + 1] = 0;
            if (itemCounts.size() < depth + 2) itemCounts.resize(depth + 2);
            itemCounts[depth + 1] = 0;
            out.push_back(prefix + tag + " " + vr + " " + lengthField);
        }
    }
    return out;
}

std::vector<fs::path> corpus() {
    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator(testsupport::pydicomTestFiles())) {
        if (!e.is_regular_file()) continue;
        std::string ext = e.path().extension().string();
        std::string name = e.path().filename().string();
        if (ext == ".dcm" || name == "DICOMDIR" || (ext.empty() && e.path().parent_path().filename() != "")) {
            if (ext == ".txt" || ext == ".json" || ext == ".dump" || ext == ".gz" || ext == ".py") continue;
            files.push_back(e.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(ReaderCorpus, ReadsWhatDcmdumpReads) {
    std::map<std::string, int32_t> refused;
    int read = 0;
    for (const fs::path& file : corpus()) {
        std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(file.c_str()));
        std::string name = fs::relative(file, testsupport::pydicomTestFiles()).string();
        if (!tree) {
            refused[name] = -1;
            continue;
        }
        if (tree->readError() != 0) {
            refused[name] = tree->readError();
            continue;
        }
        ++read;
        std::vector<std::string> ours = treelines::lines(*tree);
        std::vector<std::string> theirs = dcmdumpLines(file.string());
        if (ours != theirs) {
            size_t i = 0;
            while (i < ours.size() && i < theirs.size() && ours[i] == theirs[i])
                ++i;
            ADD_FAILURE() << name << ": first difference at line " << i << ": ours '"
                          << (i < ours.size() ? ours[i] : "(end)") << "', dcmdump '"
                          << (i < theirs.size() ? theirs[i] : "(end)") << "'";
            if (std::getenv("CORPUS_VERBOSE")) {
                for (size_t k = i > 3 ? i - 3 : 0; k < i + 4 && k < ours.size(); ++k)
                    std::printf("ours   %s\n", ours[k].c_str());
                for (size_t k = i > 3 ? i - 3 : 0; k < i + 4 && k < theirs.size(); ++k)
                    std::printf("theirs %s\n", theirs[k].c_str());
            }
        }
    }
    // The files refused, each with its reason: truncated (303), an item longer than its sequence
    // (303), deflated or garbled syntax (301), odd lengths (302), and files that are not DICOM at
    // all (no tree). DCMTK cannot read SC_rgb_jpeg.dcm and no_meta.dcm either.
    const std::map<std::string, int32_t> expected = {
        {"MR_truncated.dcm", 303},
        {"SC_rgb_jpeg.dcm", 301},
        {"dicomdirtests/DICOMDIR-nooffset", 303},
        {"dicomdirtests/TINY_ALPHA/README", -1},
        {"image_dfl.dcm", 301},
        {"meta_missing_tsyntax.dcm", 302},
        {"nested_priv_SQ.dcm", 302},
        {"no_meta.dcm", -1},
        {"rtplan_truncated.dcm", 303},
    };
    EXPECT_EQ(refused, expected);
    EXPECT_GT(read, 140);
}

} // namespace
