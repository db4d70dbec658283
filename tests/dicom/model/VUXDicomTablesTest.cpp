#include "VUXDicomLib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>
#include <sstream>
#include <string>

namespace {

using VUX::VUXDCM::VUXDicomLibrary;

constexpr uint32_t fourCC(const char (&s)[5]) {
    return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
           (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

TEST(DicomVRTable, EveryRow) {
    struct Row {
        const char* vr;
        uint32_t maxLength, kind, format, headerLength, separator, flags;
    };
    const Row rows[] = {
        {"AE", 16, 1, 1, 8, 92, 0},
        {"AS", 4, 1, 1, 8, 92, 0},
        {"AT", 4, 2, 10, 8, 0, 0},
        {"CS", 16, 1, 1, 8, 92, 0},
        {"DA", 8, 1, 1, 8, 92, 0},
        {"DS", 16, 1, 1, 8, 92, 0},
        {"DT", 26, 1, 1, 8, 92, 0},
        {"FL", 4, 2, 6, 8, 0, 0},
        {"FD", 8, 2, 7, 8, 0, 0},
        {"IS", 12, 1, 1, 8, 92, 0},
        {"LO", 64, 1, 1, 8, 92, 0},
        {"LT", 10240, 1, 1, 8, 0, 1},
        {"PN", 64, 1, 1, 8, 92, 0},
        {"SH", 16, 1, 1, 8, 92, 0},
        {"SL", 4, 2, 5, 8, 0, 0},
        {"SS", 2, 2, 4, 8, 0, 0},
        {"ST", 1024, 1, 1, 8, 0, 1},
        {"TM", 16, 1, 1, 8, 92, 0},
        {"UI", 64, 1, 1, 8, 92, 0},
        {"UL", 4, 2, 2, 8, 0, 0},
        {"US", 2, 2, 3, 8, 0, 0},
        {"UT", 0, 3, 1, 12, 0, 1},
        {"OB", 0, 3, 8, 12, 0, 3},
        {"OW", 0, 3, 9, 12, 0, 3},
        {"OF", 0, 3, 11, 12, 0, 3},
        {"SQ", 0, 3, 0, 12, 0, 3},
        {"UN", 0, 3, 8, 12, 0, 3},
        {"na", 0, 3, 0, 8, 0, 2},
        // The later VRs: 32-bit lengths in explicit VR; binary values kept as bytes.
        {"UC", 0, 3, 1, 12, 92, 0},
        {"UR", 0, 3, 1, 12, 0, 1},
        {"UV", 8, 3, 8, 12, 0, 0},
        {"SV", 8, 3, 8, 12, 0, 0},
        {"OD", 0, 3, 8, 12, 0, 3},
        {"OL", 0, 3, 8, 12, 0, 3},
        {"OV", 0, 3, 8, 12, 0, 3},
    };
    for (const Row& r : rows) {
        const dicmVRInfo* info = VUXDicomLibrary::vrInfo(r.vr);
        ASSERT_NE(info, nullptr) << r.vr;
        EXPECT_STREQ(info->vr, r.vr);
        EXPECT_EQ(info->maxLength, r.maxLength) << r.vr;
        EXPECT_EQ(info->kind, r.kind) << r.vr;
        EXPECT_EQ(info->format, r.format) << r.vr;
        EXPECT_EQ(info->headerLength, r.headerLength) << r.vr;
        EXPECT_EQ(info->separator, r.separator) << r.vr;
        EXPECT_EQ(info->flags, r.flags) << r.vr;
        EXPECT_EQ(DicmDict_VRInfo(r.vr), info);
        EXPECT_EQ(DicmDict_VRFormat(r.vr), r.format);
    }
}

TEST(DicomVRTable, LookUpRules) {
    // Only the first two characters count.
    EXPECT_STREQ(VUXDicomLibrary::vrInfo("AEX")->vr, "AE");
    EXPECT_STREQ(VUXDicomLibrary::vrInfo("OW or OB")->vr, "OW");
    EXPECT_EQ(VUXDicomLibrary::vrInfo("A"), nullptr);
    EXPECT_EQ(VUXDicomLibrary::vrInfo("ae"), nullptr); // case counts
    EXPECT_EQ(VUXDicomLibrary::vrInfo(""), nullptr);
    EXPECT_EQ(VUXDicomLibrary::vrInfo(nullptr), nullptr);
    EXPECT_EQ(VUXDicomLibrary::vrInfo("XX"), nullptr);
    EXPECT_EQ(VUXDicomLibrary::vrDataType("XX"), 0xFFFFFFFFu);
    EXPECT_EQ(VUXDicomLibrary::vrDataType(nullptr), 0xFFFFFFFFu);
    EXPECT_EQ(DicmDict_VRFormat("??"), 0xFFFFFFFFu);
}

TEST(DicomTransferSyntaxes, Rows) {
    struct Row {
        const char* uid;
        const char* name;
        uint32_t id, flags;
    };
    const Row rows[] = {
        {"1.2.840.10008.1.2", "Implicit VR Little Endian", 0, 4},
        {"1.2.840.10008.1.2.1", "Explicit VR Little Endian", 1, 4},
        {"1.2.840.10008.1.2.1.99", "Deflated Explicit VR Little Endian", 2, 0},
        {"1.2.840.10008.1.2.2", "Explicit VR Big Endian", 3, 4},
        {"1.2.840.10008.1.2.4.50", "JPEG Baseline (Process 1)", 4, 14},
        {"1.2.840.10008.1.2.4.51", "JPEGExtended(Process 2 & 4)", 5, 2},
        {"1.2.840.10008.1.2.4.52", "JPEGExtended(Process 3 & 5)", fourCC("JP35"), 3},
        {"1.2.840.10008.1.2.4.53", "JPEGSpectralSelectionNon-Hierarchical(Process 6 & 8)", fourCC("JP68"), 3},
        {"1.2.840.10008.1.2.4.54", "JPEGSpectralSelectionNon-Hierarchical(Process 7 & 9)", fourCC("JP79"), 3},
        {"1.2.840.10008.1.2.4.55", "JPEGFullProgressionNon-Hierarchical(Process 10 & 12)", fourCC("JP10"), 3},
        {"1.2.840.10008.1.2.4.56", "JPEGFullProgressionNon-Hierarchical(Process 11 & 13)", fourCC("JP11"), 3},
        {"1.2.840.10008.1.2.4.57", "JPEGLosslessNon-Hierarchical(Process 14)", 11, 2},
        {"1.2.840.10008.1.2.4.64", "JPEG Full Progression Hierarchical (Process 25 & 27)", 18, 3},
        {"1.2.840.10008.1.2.4.65", "JPEGLosslessHierarchical(Process 28)", fourCC("JP28"), 3},
        {"1.2.840.10008.1.2.4.66", "JPEGLosslessHierarchical(Process 29)", fourCC("JP29"), 3},
        {"1.2.840.10008.1.2.4.70", "JPEGLosslessNon-HierarchicalFirst-OrderPrediction (Process 14)", 21, 6},
        {"1.2.840.10008.1.2.4.80", "JPEG-LS Lossless", fourCC("JPLO"), 2},
        {"1.2.840.10008.1.2.4.81", "JPEG-LS Lossy(Near-Lossless)", fourCC("JPLS"), 2},
        {"1.2.840.10008.1.2.5", "RLE Lossless", 24, 6},
        {"1.2.840.10008.1.2.4.90", "JPEG2000 Lossless Only", 25, 14},
        {"1.2.840.10008.1.2.4.91", "JPEG2000 ImageCompression", 26, 14},
        {"1.2.840.10008.1.2.4.92", "JPEG2000 Part 2 Multi-component Image Compression (Lossless Only)", 27,
         2},
        {"1.2.840.10008.1.2.4.95", "JPIP Referenced Deflate", 30, 0},
        {"1.2.840.10008.1.2.4.103", "MPEG-4 AVC/H.264 BD-compatible High Profile/Level 4.1", 34, 14},
        {"1.2.840.10008.1.2.6.1", "RFC 2557 MIME encapsulation", fourCC("MIME"), 0},
    };
    for (const Row& r : rows) {
        const dicmXferSyntaxInfo* byUID = DicmDict_XFerSyntax(r.uid);
        ASSERT_NE(byUID, nullptr) << r.uid;
        EXPECT_STREQ(byUID->name, r.name);
        EXPECT_EQ(byUID->id, r.id) << r.uid;
        EXPECT_EQ(byUID->flags, r.flags) << r.uid;
        EXPECT_EQ(VUXDicomLibrary::xferSyntaxInfoByIndex(r.id), byUID) << r.uid;
        EXPECT_STREQ(VUXDicomLibrary::xferSyntaxUIDByIndex(r.id), r.uid);
    }
    // Ids are row numbers except for the rows with a four-character code.
    for (int id = 0; id <= 34; ++id) {
        const dicmXferSyntaxInfo* row = DicmDict_XFerSyntaxByIndex(id);
        const bool hasCode = id == 6 || id == 7 || id == 8 || id == 9 || id == 10 || id == 19 || id == 20 ||
                             id == 22 || id == 23;
        EXPECT_EQ(row == nullptr, hasCode) << id;
    }
}

TEST(DicomTransferSyntaxes, SharedUIDAndMisses) {
    // Two rows share the MIME/XML UID: the UID finds the first, the code finds either.
    EXPECT_STREQ(VUXDicomLibrary::xferSyntaxInfo("1.2.840.10008.1.2.6.1")->name,
                 "RFC 2557 MIME encapsulation");
    EXPECT_STREQ(VUXDicomLibrary::xferSyntaxInfoByIndex(fourCC("XMLD"))->name, "XML Encoding");
    EXPECT_STREQ(DicmDict_XFerSyntaxUIDByIndex(int(fourCC("XMLD"))), "1.2.840.10008.1.2.6.1");

    const char* none = VUXDicomLibrary::xferSyntaxUIDByIndex(99);
    ASSERT_NE(none, nullptr);
    EXPECT_STREQ(none, "");
    EXPECT_STREQ(DicmDict_XFerSyntaxUIDByIndex(-1), "");
    EXPECT_EQ(DicmDict_XFerSyntaxByIndex(99), nullptr);
    EXPECT_EQ(VUXDicomLibrary::xferSyntaxInfo("1.2.840.10008.1.2.1 "), nullptr);
    EXPECT_EQ(VUXDicomLibrary::xferSyntaxInfo(""), nullptr);
    EXPECT_EQ(DicmDict_XFerSyntax(nullptr), nullptr);
}

// Deflated syntaxes must never look readable: their data set would be misread as plain explicit
// VR. The rows whose pixel data the system reads are exactly these.
TEST(DicomTransferSyntaxes, ReadableSyntaxes) {
    const uint32_t readable[] = {0, 1, 3, 4, 21, 24, 25, 26, 31, 32, 33, 34};
    for (uint32_t id = 0; id <= 34; ++id) {
        const dicmXferSyntaxInfo* row = VUXDicomLibrary::xferSyntaxInfoByIndex(id);
        if (!row) continue;
        const bool expected = std::find(std::begin(readable), std::end(readable), id) != std::end(readable);
        EXPECT_EQ((row->flags & kDicmXferReadable) != 0, expected) << row->name;
    }
    EXPECT_EQ(DicmDict_XFerSyntax("1.2.840.10008.1.2.1.99")->flags & kDicmXferReadable, 0u);
    EXPECT_EQ(DicmDict_XFerSyntax("1.2.840.10008.1.2.4.95")->flags & kDicmXferReadable, 0u);
    // A syntax the table does not know has no row at all, so nobody can take it as readable.
    EXPECT_EQ(DicmDict_XFerSyntax("1.2.840.10008.1.2.4.201"), nullptr);
}

TEST(DicomTransferSyntaxes, ByteOrderAttributes) {
    ASSERT_TRUE(std::endian::native == std::endian::little)
        << "expectations below are for a little-endian host";
    struct Case {
        const char* uid;
        bool needSwap;
        uint32_t io;
    };
    const Case cases[] = {
        {"1.2.840.10008.1.2", false, 2},
        {"1.2.840.10008.1.2.1", false, 0},
        {"1.2.840.10008.1.2.2", true, 4},
        {"1.2.840.10008.1.2.5", false, 0},
        {"1.2.840.10008.1.2.4.50", false, 0},
        {"", false, 0},
        {nullptr, false, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VUXDicomLibrary::xferSyntaxNeedSwap(c.uid), c.needSwap) << (c.uid ? c.uid : "(null)");
        EXPECT_EQ(VUXDicomLibrary::xferSyntaxIOAttributes(c.uid), c.io) << (c.uid ? c.uid : "(null)");
    }
}

TEST(DicomSOPClasses, Rows) {
    struct Row {
        const char* uid;
        const char* name;
        uint32_t index, flags;
    };
    const Row rows[] = {
        {"1.2.840.10008.1.1", "Verification", 0, 16},
        {"1.2.840.10008.1.3.10", "MediaStorageDirectoryStorage", 1, 16},
        {"1.2.840.10008.1.9", "BasicStudyContentNotification", 2, 17},
        {"1.2.840.10008.1.20.1.1", "StorageCommitmentPushModelSOPInstance", 4, 0},
        {"1.2.840.10008.1.20.2.1", "StorageCommitmentPullModelSOPInstance", 6, 1},
        {"1.2.840.10008.5.1.1.4", "BasicGrayscaleImageBox", 25, 16},
        {"1.2.840.10008.5.1.1.4.1", "BasicColorImageBox", 27, 16}, // index 26 is never used
        {"1.2.840.10008.5.1.4.1.1.2", "CTImageStorage", 58, 16},
        {"1.2.840.10008.5.1.4.1.1.77.1.6", "VLWholeSlideMicroscopyImageStorage", 169, 16},
        {"1.2.840.10008.5.1.4.1.1.78.7", "OphthalmicAxialMeasurementsStorage", 184, 16},
        {"1.2.840.10008.5.1.4.1.1.88.1", "TextSRStorageTrial", 113, 17},
        {"1.2.840.10008.5.1.4.1.1.88.70", "ImplantationPlanSRDocumentStorage", 183, 16},
        {"1.2.840.10008.5.1.4.1.2.1.2", "PatientRootQuery/RetrieveInformationModel\xE2\x80\x93MOVES", 139,
         16},
        {"1.2.840.10008.5.1.4.1.2.3.1", "Patient/StudyOnlyQuery/RetrieveInformationModel-FIND", 144, 17},
        {"1.2.840.10008.5.1.4.31",
         "ModalityWorklistInformationModel\xE2\x80\x93"
         "FIND",
         147, 16},
        {"1.2.840.10008.5.1.4.34.1", "RTBeamsDeliveryInstructionStorage(Supplement74FrozenDraft)", 153, 16},
        {"1.2.840.10008.5.1.4.34.5", "UnifiedWorklistandProcedureStepSOPInstance", 160, 0},
        {"1.2.840.10008.5.1.4.43.1", "GenericImplantTemplateStorage", 172, 16},
        {"1.2.840.10008.5.1.4.43.2",
         "GenericImplantTemplateInformationModel\xE2\x80\x93"
         "FIND",
         172, 16},
        {"1.2.840.10008.5.1.4.45.4", "ImplantTemplateGroupInformationModel\xE2\x80\x93GET", 182, 16},
        {"1.2.840.10008.7.1.1", "NativeDICOMModel", 170, 0},
        {"1.2.840.10008.7.1.2", "AbstractMultiDimensionalImageModel", 171, 0},
    };
    for (const Row& r : rows) {
        const dicmSOPClassInfo* info = DicmDict_SOPClass(r.uid);
        ASSERT_NE(info, nullptr) << r.uid;
        EXPECT_EQ(info, VUXDicomLibrary::sopClassInfo(r.uid));
        EXPECT_STREQ(info->name, r.name) << r.uid;
        EXPECT_EQ(info->index, r.index) << r.uid;
        EXPECT_EQ(info->flags, r.flags) << r.uid;
    }
    EXPECT_EQ(DicmDict_SOPClass("1.2.840.10008.1.1.1"), nullptr);
    EXPECT_EQ(DicmDict_SOPClass(""), nullptr);
    EXPECT_EQ(DicmDict_SOPClass(nullptr), nullptr);
}

TEST(DicomSOPClasses, KindTests) {
    EXPECT_TRUE(VUXDicomLibrary::isDicomDirectorySOPClass("1.2.840.10008.1.3.10"));
    EXPECT_FALSE(VUXDicomLibrary::isDicomDirectorySOPClass("1.2.840.10008.1.3.100"));
    EXPECT_FALSE(VUXDicomLibrary::isDicomDirectorySOPClass(nullptr));
    EXPECT_TRUE(VUXDicomLibrary::isStructuredReportSOPClass("1.2.840.10008.5.1.4.1.1.88.11"));
    EXPECT_TRUE(VUXDicomLibrary::isStructuredReportSOPClass("1.2.840.10008.5.1.4.1.1.88"));
    EXPECT_TRUE(VUXDicomLibrary::isStructuredReportSOPClass("1.2.840.10008.5.1.4.1.1.889")); // a prefix test
    EXPECT_FALSE(VUXDicomLibrary::isStructuredReportSOPClass("1.2.840.10008.5.1.4.1.1.8"));
    EXPECT_FALSE(VUXDicomLibrary::isStructuredReportSOPClass(""));
    EXPECT_FALSE(VUXDicomLibrary::isStructuredReportSOPClass(nullptr));
}

TEST(DicomDefinedTerms, PhotometricAndDirectory) {
    const dicmPhotoInfo* p = VUXDicomLibrary::photoInterpretationInfo("YBR_FULL_422");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->samplesPerPixel, 3);
    EXPECT_EQ(p->retired, 0);
    EXPECT_EQ(VUXDicomLibrary::photoInterpretationInfo("ARGB")->retired, 1);
    EXPECT_EQ(VUXDicomLibrary::photoInterpretationInfo("PALETTE COLOR")->samplesPerPixel, 1);
    EXPECT_TRUE(VUXDicomLibrary::isPhotoInterpretationTypeValid("MONOCHROME2"));
    EXPECT_FALSE(VUXDicomLibrary::isPhotoInterpretationTypeValid("monochrome2"));
    EXPECT_FALSE(VUXDicomLibrary::isPhotoInterpretationTypeValid("MONOCHROME2 "));
    EXPECT_FALSE(VUXDicomLibrary::isPhotoInterpretationTypeValid(nullptr));

    for (const char* t : {"PATIENT", "RT STRUCTURE SET", "HL7 STRUC DOC", "PRIVATE"})
        EXPECT_TRUE(VUXDicomLibrary::isDicomDirectoryTypeValid(t)) << t;
    for (const char* t : {"Patient", "IMAGES", "", static_cast<const char*>(nullptr)})
        EXPECT_FALSE(VUXDicomLibrary::isDicomDirectoryTypeValid(t));
}

TEST(DicomDefinedTerms, Modalities) {
    const char* codes[] = {"AR",  "AS",     "AU",      "BI",     "BDUS",     "BMD",      "CD",  "CF",   "CP",
                           "CR",  "CT",     "DD",      "DF",     "DM",       "DOC",      "DG",  "DS",   "DX",
                           "EC",  "ECG",    "EPS",     "ES",     "FA",       "FID",      "FS",  "GM",   "HC",
                           "HD",  "IO",     "IVUS",    "KER",    "KO",       "LEN",      "LS",  "LP",   "MA",
                           "MG",  "MR",     "MS",      "NM",     "OAM",      "OCT",      "OP",  "OPM",  "OPR",
                           "OPT", "OPV",    "OT",      "PR",     "PT",       "PX",       "REG", "RESP", "RF",
                           "RG",  "RTDOSE", "RTIMAGE", "RTPLAN", "RTRECORD", "RTSTRUCT", "SEG", "SM",   "SMR",
                           "SR",  "SRF",    "ST",      "TG",     "US",       "VA",       "VF",  "XA",   "XC"};
    static_assert(std::size(codes) == 72);
    const std::string retired = " AS CD CF CP DD DF DM DS EC FA FS LP MA MS OPR ST ";
    for (const char* code : codes) {
        const dicmModalityInfo* m = VUXDicomLibrary::modalityInfo(code);
        ASSERT_NE(m, nullptr) << code;
        EXPECT_STREQ(m->code, code);
        EXPECT_GT(std::strlen(m->description), 0u);
        EXPECT_EQ(m->retired, retired.find(std::string(" ") + code + " ") != std::string::npos ? 1 : 0)
            << code;
    }
    EXPECT_STREQ(VUXDicomLibrary::modalityInfo("CP")->description, "Culposcopy");
    EXPECT_STREQ(VUXDicomLibrary::modalityInfo("OCT")->description,
                 "Optical Coherence Tomography (non-Ophthalmic)");
    EXPECT_STREQ(VUXDicomLibrary::modalityInfo("RG")->description,
                 "Radiographic imaging (conventional film/screen)");
    EXPECT_STREQ(VUXDicomLibrary::modalityInfo("ST")->description,
                 "Single-photon emission computed tomography (SPECT)");
    EXPECT_STREQ(VUXDicomLibrary::modalityInfo("XC")->description, "External-camera Photography");
    EXPECT_EQ(VUXDicomLibrary::modalityInfo("ct"), nullptr);
    EXPECT_EQ(VUXDicomLibrary::modalityInfo(""), nullptr);
}

TEST(DicomDefinedTerms, CharacterSetsAndCommands) {
    struct Case {
        const char* term;
        const char* description;
        int32_t kind;
    };
    const Case sets[] = {{"ISO_IR 100", "Latin alphabet No.1", 0},
                         {"ISO_IR 13", "Japanese", 0},
                         {"ISO 2022 IR 6", "Default Repertoire", 1},
                         {"ISO 2022 IR 87", "Japanese", 2},
                         {"ISO 2022 IR 149", "Korean", 2},
                         {"ISO_IR 192", "Unicode in UTF-8", 3},
                         {"GB18030", "GB18030", 3}};
    for (const Case& c : sets) {
        const dicmCharSetInfo* info = VUXDicomLibrary::charSetInfo(c.term);
        ASSERT_NE(info, nullptr) << c.term;
        EXPECT_STREQ(info->description, c.description);
        EXPECT_EQ(info->kind, c.kind) << c.term;
        EXPECT_TRUE(VUXDicomLibrary::isDicomCharSetValid(c.term));
    }
    EXPECT_FALSE(VUXDicomLibrary::isDicomCharSetValid("ISO_IR 6"));
    EXPECT_FALSE(VUXDicomLibrary::isDicomCharSetValid(nullptr));

    auto none = VUXDicomLibrary::commandInfo(uint16_t(0));
    EXPECT_EQ(none.first, nullptr);
    EXPECT_EQ(none.second, 0u);
    auto echo = VUXDicomLibrary::commandInfo(uint16_t(0x8030));
    ASSERT_NE(echo.first, nullptr);
    EXPECT_STREQ(echo.first->name, "C-ECHO-RSP");
    EXPECT_EQ(echo.second, 16u);
    auto first = VUXDicomLibrary::commandInfo(uint16_t(0x0001));
    EXPECT_STREQ(first.first->name, "C-STORE-RQ");
    EXPECT_EQ(first.second, 0u);
    auto last = VUXDicomLibrary::commandInfo(uint16_t(0x8150));
    EXPECT_STREQ(last.first->name, "N-DELETE-RSP");
    EXPECT_EQ(last.second, 22u);
    auto missing = VUXDicomLibrary::commandInfo(uint16_t(0x1234));
    EXPECT_EQ(missing.first, nullptr);
    EXPECT_EQ(missing.second, 23u);

    const dicmCommandInfo* cancel = VUXDicomLibrary::commandInfo("C-CANCEL-RQ");
    ASSERT_NE(cancel, nullptr);
    EXPECT_EQ(cancel->commandField, 0x0FFF);
    EXPECT_EQ(cancel->reserved, 0);
    EXPECT_EQ(VUXDicomLibrary::commandInfo("c-cancel-rq"), nullptr);
    EXPECT_EQ(VUXDicomLibrary::commandInfo(static_cast<const char*>(nullptr)), nullptr);
}

TEST(DicomDefinedTerms, FileIDValues) {
    struct Case {
        const char* value;
        bool suitable;
    };
    const Case cases[] = {
        {"", true},
        {"IMAGES\\IM000001", true},
        {"A1\\B2\\C3\\D4\\E5\\F6\\G7\\H8", true},
        {"ABCDEFGH", true},
        {"ABCDEFGHI", false}, // a component of 9 characters
        {"ABCDEFGHI\\X", false},
        {"IMAGES\\", false}, // ends with a backslash
        {"\\", false},
        {"IMAGES\\\\IM1", true}, // an empty component in between is let through
        {"IM_0001", false},
        {"IM 0001", false},
        {"im0001", true},
        {"IM\xC3\x89", false},
        {nullptr, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VUXDicomLibrary::isFileIDValueSuitable(c.value), c.suitable)
            << (c.value ? c.value : "(null)");
}

TEST(DicomLibrary, IdentityAndInfoBlock) {
    EXPECT_EQ(VUXDicomLibrary::libraryVersion(), 0x04000000u);
    EXPECT_STREQ(VUXDicomLibrary::libraryVersionStr(), "4.0.0");
    EXPECT_STREQ(VUXDicomLibrary::defaultImplementationVersionName(), "VUXDCM100.0");
    EXPECT_STREQ(VUXDicomLibrary::defaultAETitle(), "VUXDICM-ZW");
    EXPECT_STREQ(VUXDicomLibrary::dicomMimeType(), "application/dicom");

    const std::string root = VUXDicomLibrary::defaultRootOrganization();
    EXPECT_EQ(root.size(), 16u);
    EXPECT_EQ(std::count(root.begin(), root.end(), '.'), 4);
    const std::string impl = VUXDicomLibrary::defaultImplementationUID();
    EXPECT_EQ(impl.size(), 32u);
    EXPECT_EQ(impl.compare(0, root.size() + 1, root + "."), 0);
    EXPECT_EQ(impl.find_first_not_of("0123456789."), std::string::npos);
    EXPECT_EQ(impl[25], '.'); // root, ".", 8-digit date, ".", 6-digit time

    const std::string rule = "#" + std::string(56, '=') + "\n";
    std::ostringstream text, xml, other;
    VUXDicomLibrary::libraryInfoWrite(text, dicmIOStreamText);
    EXPECT_EQ(text.str(), rule + "#VUXDicom Library version 4.0.0\n" + rule);
    VUXDicomLibrary::libraryInfoWrite(xml, dicmIOStreamXML);
    EXPECT_EQ(xml.str(), "<KelvoDicomInfo>\n<version>\n4.0.0\n</version>\n</KelvoDicomInfo>\n");
    VUXDicomLibrary::libraryInfoWrite(other, static_cast<dicmIOStreamType>(3));
    EXPECT_TRUE(other.str().empty());
}

} // namespace
