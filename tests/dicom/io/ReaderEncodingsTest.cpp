// Files converted by DCMTK into every encoding read to the same tree: the same elements with the
// same values, whatever the byte order, VR encoding, meta header or sequence length form.
#include "KelvoDicomDataSetViews.h"
#include "KelvoDicomDataTree.h"
#include "TestFiles.h"
#include "TreeLines.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using testsupport::run;

class ReaderEncodings : public ::testing::TestWithParam<const char*> {};

TEST_P(ReaderEncodings, EveryEncodingReadsToTheSameTree) {
    testsupport::ScratchDir dir("reader-encodings");
    const std::string source = std::string(testsupport::pydicomTestFiles()) + "/" + GetParam();
    treelines::Options compare;
    compare.lengths = false; // sequence and item lengths change with the length form
    compare.values = true;
    compare.groupLengths = false; // present or not by the variant
    compare.vrOfPrivate = false;  // implicit VR cannot tell a private tag's VR
    compare.valuesOfPrivate = false;
    std::vector<std::string> reference;
    struct Variant {
        const char* options;
        const char* syntax; // expected transfer syntax of the tree read back
    };
    const Variant variants[] = {
        {"+te", "1.2.840.10008.1.2.1"},       {"+ti", "1.2.840.10008.1.2"},
        {"+tb", "1.2.840.10008.1.2.2"},       {"+te -e", "1.2.840.10008.1.2.1"},
        {"+tb -e +g", "1.2.840.10008.1.2.2"}, {"+ti -e +g", "1.2.840.10008.1.2"},
        {"-F +ti", "1.2.840.10008.1.2"},      {"-F +te", "1.2.840.10008.1.2.1"},
        {"-F +tb", "1.2.840.10008.1.2.2"},
    };
    for (const Variant& v : variants) {
        std::string out = dir.file("v.dcm");
        int status = 0;
        std::string log =
            run("dcmconv " + std::string(v.options) + " '" + source + "' '" + out + "' 2>&1", &status);
        ASSERT_EQ(status, 0) << log;
        std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(out.c_str()));
        ASSERT_NE(tree, nullptr) << v.options;
        ASSERT_EQ(tree->readError(), 0) << v.options;
        std::unique_ptr<KelvoDicomDataHeader> header(tree->Header());
        char uid[80] = {};
        header->getStringValueProperty(0x0010, uid, sizeof uid);
        EXPECT_STREQ(uid, v.syntax) << v.options;
        std::vector<std::string> got = treelines::lines(*tree, compare);
        if (reference.empty()) {
            reference = got;
            ASSERT_FALSE(reference.empty());
        } else {
            EXPECT_EQ(treelines::firstDifference(got, reference), "") << v.options;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, ReaderEncodings,
                         ::testing::Values("CT_small.dcm", "rtplan.dcm", "test-SR.dcm", "waveform_ecg.dcm",
                                           "MR_small.dcm", "rtstruct.dcm"));

} // namespace
