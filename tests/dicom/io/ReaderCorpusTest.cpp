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
        std::vector<std::string> theirs = treelines::dcmdumpLines(file.string());
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
