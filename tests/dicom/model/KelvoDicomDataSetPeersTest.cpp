// Data sets built in memory, written behind a preamble, "DICM" and a meta header in each
// encoding, read back by DCMTK's dcmdump and by pydicom.
#include "KelvoDicomDataSet.h"
#include "KelvoDicomSequence.h"
#include "KelvoDicomUtils.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using testsupport::run;
using testsupport::ScratchDir;

struct Encoding {
    const char* uid;
    uint32_t flags;
};

std::unique_ptr<KelvoDicomDataSet> strings(uint16_t group,
                                           std::initializer_list<std::pair<uint16_t, const char*>> values) {
    auto set = std::make_unique<KelvoDicomDataSet>(group);
    for (auto& [element, text] : values)
        set->setStringValueProperty(element, text);
    return set;
}

// Writes a complete file: preamble, magic, meta group (always explicit little endian, with its
// group length), then the data set groups in the encoding.
void writeFile(const std::string& path, const Encoding& enc, bool groupLengths) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    char preamble[128] = {};
    std::fwrite(preamble, 1, 128, f);
    std::fwrite("DICM", 1, 4, f);
    KelvoDicomDataSet meta(0x0002);
    KelvoDicomDataNode version("OB");
    Handle v = nullptr;
    PtrToHand("\x00\x01", &v, 2);
    version.Append(v);
    DisposeHandle(v);
    meta.setProperty(0x0001, "OB", version);
    meta.setStringValueProperty(0x0002, "1.2.840.10008.5.1.4.1.1.7");
    meta.setStringValueProperty(0x0003, "1.2.826.0.1.3680043.2.1125.1.1");
    meta.setStringValueProperty(0x0010, enc.uid);
    meta.setStringValueProperty(0x0012, "1.2.826.0.1.3680043.2.1125.1");
    meta.setStringValueProperty(0x0013, "SYLMARK_TEST");
    uint32_t metaFlags = kDicomWriteGroupLength;
    meta.flushToBinary(f, &metaFlags);

    auto g8 = strings(0x0008, {{0x0016, "1.2.840.10008.5.1.4.1.1.7"},
                               {0x0018, "1.2.826.0.1.3680043.2.1125.1.1"},
                               {0x0020, "20240131"},
                               {0x0060, "OT"},
                               {0x0008, "ORIGINAL\\PRIMARY"}});
    KelvoDicomDataItemGroup refs(0x1140);
    for (const char* uid : {"1.2.3.4", "1.2.3.45"}) {
        auto inner = strings(0x0008, {{0x1150, "1.2.840.10008.5.1.4.1.1.7"}, {0x1155, uid}});
        KelvoDicomDataItem item;
        item.setObjValue(0x0008, inner.get());
        refs.setObjValue(0, &item);
    }
    g8->setSequenceProperty(0x1140, refs);
    auto g10 = strings(0x0010, {{0x0010, "Doe^Jane^^Dr"}, {0x0020, "ID-42"}});
    auto g20 = strings(0x0020, {{0x000D, "1.2.3"}, {0x000E, "1.2.3.4"}, {0x0013, "7"}});
    KelvoDicomDataSet g28(0x0028);
    g28.setUSValueProperty(0x0002, 1);
    g28.setStringValueProperty(0x0004, "MONOCHROME2");
    g28.setUSValueProperty(0x0010, 2);
    g28.setUSValueProperty(0x0011, 2);
    g28.setUSValueProperty(0x0100, 16);
    g28.setUSValueProperty(0x0101, 16);
    g28.setUSValueProperty(0x0102, 15);
    g28.setUSValueProperty(0x0103, 0);
    g28.setStringValueProperty(0x1050, "1e-5\\123456789.123");
    KelvoDicomDataSet g7fe0(0x7FE0);
    KelvoDicomDataNode pixels("OW");
    uint16_t words[4] = {1, 2, 3, 0x1234};
    Handle h = nullptr;
    PtrToHand(words, &h, sizeof words);
    pixels.Append(h);
    DisposeHandle(h);
    g7fe0.setProperty(0x0010, "OW", pixels);

    uint32_t flags = enc.flags | (groupLengths ? kDicomWriteGroupLength : 0);
    for (KelvoDicomDataSet* set : {g8.get(), g10.get(), g20.get(), &g28, &g7fe0})
        set->flushToBinary(f, &flags);
    std::fclose(f);
}

class DataSetPeers : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(DataSetPeers, DcmdumpAndPydicomReadWhatWeWrite) {
    static const Encoding encodings[] = {
        {"1.2.840.10008.1.2.1", 0},
        {"1.2.840.10008.1.2", kDicomWriteImplicitVR},
        {"1.2.840.10008.1.2.2", kDicomWriteBigEndian},
    };
    const Encoding& enc = encodings[std::get<0>(GetParam())];
    ScratchDir dir("dataset-peers");
    std::string path = dir.file("out.dcm");
    writeFile(path, enc, std::get<1>(GetParam()));

    int status = 0;
    std::string dump = run("dcmdump -dc +E '" + path + "' 2>&1", &status);
    EXPECT_EQ(status, 0) << dump;
    EXPECT_EQ(dump.find("W: "), std::string::npos) << dump;
    EXPECT_EQ(dump.find("E: "), std::string::npos) << dump;
    EXPECT_NE(dump.find("[Doe^Jane^^Dr]"), std::string::npos) << dump;

    std::string script = dir.file("check.py");
    testsupport::writeFile(script, "import sys, pydicom\n"
                                   "ds = pydicom.dcmread(sys.argv[1])\n"
                                   "print(ds.file_meta.TransferSyntaxUID)\n"
                                   "print(ds.PatientName, ds.PatientID, ds.StudyDate, ds.InstanceNumber)\n"
                                   "print(list(ds.ImageType), ds.Rows, ds.Columns, ds.BitsAllocated)\n"
                                   "print([str(x) for x in ds.WindowCenter])\n"
                                   "print([i.ReferencedSOPInstanceUID for i in ds.ReferencedImageSequence])\n"
                                   "print(ds.pixel_array.flatten().tolist())\n");
    std::string out = run("/usr/bin/python3 '" + script + "' '" + path + "' 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, std::string(enc.uid) + "\n"
                                          "Doe^Jane^^Dr ID-42 20240131 7\n"
                                          "['ORIGINAL', 'PRIMARY'] 2 2 16\n"
                                          "['1e-5', '123456789.123']\n"
                                          "['1.2.3.4', '1.2.3.45']\n"
                                          "[1, 2, 3, 4660]\n");
}

INSTANTIATE_TEST_SUITE_P(Encodings, DataSetPeers,
                         ::testing::Combine(::testing::Values(0, 1, 2), ::testing::Bool()));

} // namespace
