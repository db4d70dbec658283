#include "KelvoDicomDataImagePixel.h"
#include "KelvoDicomDataSetViews.h"
#include "KelvoDicomSequence.h"
#include "KelvoDicomUtils.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <string>

using namespace std::string_literals;

namespace {

using testsupport::ScratchDir;

using testsupport::capture;

std::string pydicomFile(const char* name) {
    return std::string(testsupport::pydicomTestFiles()) + "/" + name;
}

bool isStamp(const std::string& s) {
    if (s.size() != 14) return false;
    if (s == "XX000000000000") return true;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

const char* const kNewHeaderText = "[Dataset id=0002 count=5 length=80]\n"
                                   "[Element id=0001 vr=OB length=2]\n"
                                   "Data count=1\t00\t01\t\n"
                                   "[Element End]\n"
                                   "[Element id=0010 vr=UI length=20]\n"
                                   "Data count=1\t[1.2.840.10008.1.2.1]\t\n"
                                   "[Element End]\n"
                                   "[Element id=0013 vr=SH length=12]\n"
                                   "Data count=1\t[kelvodicom63]\t\n"
                                   "[Element End]\n"
                                   "[Element id=0016 vr=AE length=10]\n"
                                   "Data count=1\t[kelvodicom]\t\n"
                                   "[Element End]\n"
                                   "[Dataset End]\n";

// (0002,0000) UL 80, then the four elements in ascending order, explicit VR little endian.
const std::string kNewHeaderBinary = "\x02\x00\x00\x00UL\x04\x00\x50\x00\x00\x00"s
                                     "\x02\x00\x01\x00OB\x00\x00\x02\x00\x00\x00\x00\x01"s
                                     "\x02\x00\x10\x00UI\x14\x00"
                                     "1.2.840.10008.1.2.1\x00"s
                                     "\x02\x00\x13\x00SH\x0c\x00"
                                     "kelvodicom63"
                                     "\x02\x00\x16\x00"
                                     "AE\x0a\x00"
                                     "kelvodicom";

TEST(DataHeader, NewHeaderDumpsItsElementsInOrderWithTheComputedLength) {
    KelvoDicomDataHeader h;
    EXPECT_EQ(h.Error(), 0);
    EXPECT_TRUE(h.qtObjIsValid());
    EXPECT_EQ(h.GroupLengthGetCurrent(false), 80u);
    EXPECT_EQ(capture([&](FILE* f) { h.flushToText(f, 0); }), kNewHeaderText);
    EXPECT_EQ(h.GroupLength(), 80u); // the dump refreshed it
    EXPECT_FALSE(h.Implicit());
    EXPECT_FALSE(h.BigEndian());
    EXPECT_FALSE(h.Swap());
    EXPECT_FALSE(h.isSourceACRNema());
    EXPECT_TRUE(h.isA("KelvoDicomDataHeader"));
    EXPECT_TRUE(h.isA("KelvoDicomDataSet"));
    EXPECT_TRUE(h.isA("Kelvo_Dictionary"));
}

TEST(DataHeader, BinaryFormIsExplicitLittleEndianWhateverTheFlags) {
    KelvoDicomDataHeader h;
    for (uint32_t flags : {0u, 0x2u, 0x4u, 0x6u}) {
        EXPECT_EQ(capture([&](FILE* f) { h.flushToBinary(f, &flags); }), kNewHeaderBinary) << flags;
    }
    EXPECT_EQ(capture([&](FILE* f) { h.flushToBinary(f, nullptr); }), kNewHeaderBinary);
    h.flushToBinary(nullptr, nullptr);
    EXPECT_EQ(h.Error(), -50);
}

TEST(DataHeader, PydicomReadsTheWrittenMetaInformation) {
    ScratchDir dir("kelvo-header");
    const std::string path = dir.file("meta.dcm");
    KelvoDicomDataHeader h;
    h.setStringValueProperty(0x0002, "1.2.840.10008.5.1.4.1.1.7");
    h.setStringValueProperty(0x0003, "1.2.3.4.5");
    h.setStringValueProperty(0x0012, "1.2.3.4");
    testsupport::writeFile(path, std::string(128, '\0') + "DICM" +
                                     capture([&](FILE* f) { h.flushToBinary(f, nullptr); }));
    int status = 0;
    std::string out = testsupport::run(
        "/usr/bin/python3 -c \"import sys,pydicom; m=pydicom.filereader.read_file_meta_info(sys.argv[1]); "
        "print(m.FileMetaInformationGroupLength, m.TransferSyntaxUID, m.ImplementationVersionName, "
        "m.SourceApplicationEntityTitle, m.MediaStorageSOPInstanceUID, "
        "m.FileMetaInformationVersion.hex())\" " +
            path + " 2>&1",
        &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_EQ(out, std::to_string(h.GroupLength()) +
                       " 1.2.840.10008.1.2.1 kelvodicom63 kelvodicom 1.2.3.4.5 0001\n");

    // And the header reads itself back from that file.
    int32_t err = 0;
    std::unique_ptr<KelvoDicomDataHeader> back(KelvoDicomDataHeader::openFile(path.c_str(), err));
    ASSERT_NE(back, nullptr) << err;
    EXPECT_STREQ(back->getStringValueProperty(0x0003), "1.2.3.4.5");
    EXPECT_EQ(capture([&](FILE* f) { back->flushToBinary(f, nullptr); }),
              capture([&](FILE* f) { h.flushToBinary(f, nullptr); }));
}

TEST(DataHeader, XmlDumpIsWellFormed) {
    ScratchDir dir("kelvo-header-xml");
    KelvoDicomDataHeader h;
    h.setStringValueProperty(0x0016, "A<&>\"'");
    const std::string xml = capture([&](FILE* f) { h.flushToXml(f, 0); });
    EXPECT_EQ(xml.rfind("<Dataset id=\"0002\" count=\"5\" length=\"", 0), 0u) << xml;
    testsupport::writeFile(dir.file("h.xml"), xml);
    int status = 0;
    std::string out =
        testsupport::run("/usr/bin/python3 -c \"import sys,xml.dom.minidom as m; "
                         "d=m.parse(sys.argv[1]); print(d.documentElement.getAttribute('length'))\" " +
                             dir.file("h.xml") + " 2>&1",
                         &status);
    ASSERT_EQ(status, 0) << out << xml;
    EXPECT_EQ(out, std::to_string(h.GroupLengthGetCurrent(false)) + "\n");
}

TEST(DataHeader, TransferSyntaxSetsTheEncodingFlags) {
    struct Case {
        const char* uid;
        bool implicit, big, compressed;
    };
    const Case cases[] = {
        {"1.2.840.10008.1.2", true, false, false},   {"1.2.840.10008.1.2.1", false, false, false},
        {"1.2.840.10008.1.2.2", false, true, false}, {"1.2.840.10008.1.2.4.50", false, false, true},
        {"1.2.840.10008.1.2.5", false, false, true}, {"1.2.3.4", false, false, false},
    };
    for (const Case& c : cases) {
        KelvoDicomDataHeader h;
        h.XFerSyntax(c.uid);
        EXPECT_EQ(h.Implicit(), c.implicit) << c.uid;
        EXPECT_EQ(h.BigEndian(), c.big) << c.uid;
        EXPECT_EQ(h.Swap(), c.big) << c.uid;
        EXPECT_EQ(h.isDataCompressed(), c.compressed) << c.uid;
    }
    KelvoDicomDataHeader h;
    h.XFerSyntax("1.2.840.10008.1.2.2");
    h.XFerSyntax("1.2.840.10008.1.2.1");
    EXPECT_FALSE(h.BigEndian());
    EXPECT_FALSE(h.Swap());

    // Through setObjValue of element 0x0010 the flags follow as well.
    KelvoDicomDataNode uid("UI");
    uid.strValue("1.2.840.10008.1.2");
    h.setObjValue(0x0010, &uid);
    EXPECT_TRUE(h.Implicit());
    h.XFerSyntax(nullptr);
    EXPECT_EQ(h.Error(), -50);
    EXPECT_TRUE(h.Implicit());
}

TEST(DataHeader, WithoutTransferSyntaxTheHeaderIsInvalid) {
    KelvoDicomDataHeader h;
    h.XFerSyntax("1.2.840.10008.1.2.2");
    h.XFerSyntax("");
    EXPECT_FALSE(h.qtObjIsValid());
    EXPECT_FALSE(static_cast<const KelvoDicomDataHeader&>(h).qtObjIsValid());
    EXPECT_FALSE(h.BigEndian());
    EXPECT_FALSE(h.isDataCompressed());
    EXPECT_EQ(h.clone(), nullptr);
}

TEST(DataHeader, AcrNemaHeaderCopiesAndAnonymisation) {
    std::unique_ptr<KelvoDicomDataHeader> acr(KelvoDicomDataHeader::createACRNemaHeader());
    ASSERT_NE(acr, nullptr);
    EXPECT_TRUE(acr->isSourceACRNema());
    EXPECT_TRUE(acr->Implicit());
    EXPECT_STREQ(acr->getStringValueProperty(0x0002), "1.2.840.10008.5.1.4.1.1.1");

    KelvoDicomDataHeader copy(*acr);
    EXPECT_TRUE(copy.isSourceACRNema());
    EXPECT_TRUE(copy.Implicit());
    std::unique_ptr<Kelvo_QTObj> clone(acr->clone());
    ASSERT_NE(clone, nullptr);
    EXPECT_STREQ(clone->qtObjName(), "KelvoDicomDataHeader");
    EXPECT_TRUE(static_cast<KelvoDicomDataHeader*>(clone.get())->isSourceACRNema());

    KelvoDicomDataHeader target;
    target.Copy(*acr);
    EXPECT_TRUE(target.isSourceACRNema());
    EXPECT_TRUE(target.Implicit());
    EXPECT_STREQ(target.getStringValueProperty(0x0002), "1.2.840.10008.5.1.4.1.1.1");
    target.setStringValueProperty(0x0003, "9.9"); // the copy is writable in its own group
    EXPECT_STREQ(target.getStringValueProperty(0x0003), "9.9");
    KelvoDicomDataSet plain(0x0002);
    target.Copy(plain); // not a header: nothing happens
    EXPECT_TRUE(target.HasKey(0x0003));

    EXPECT_EQ(target.anonymize(), 0);
    EXPECT_STREQ(target.getStringValueProperty(0x0016), "kelvodicom62");
    EXPECT_STREQ(target.getStringValueProperty(0x0013), "kelvodicom62");
    EXPECT_STREQ(target.getStringValueProperty(0x0010), "1.2.840.10008.1.2");
    EXPECT_STREQ(target.getStringValueProperty(0x0003), "9.9");
}

TEST(DataHeader, VersionAndPrivateInformationNeedValidNodes) {
    KelvoDicomDataHeader h;
    h.Version(nullptr);
    EXPECT_EQ(h.Error(), -50);
    KelvoDicomDataNode bytes("OB");
    Handle v = nullptr;
    PtrToHand("\x00\x02", &v, 2);
    bytes.Value(v, 0);
    h.Version(&bytes);
    KelvoDicomDataNode back;
    h.getProperty(0x0001, back);
    EXPECT_EQ(back.dataBinarySize(), 2u);
    h.VersionDefault();

    h.PrivateInfo(&bytes); // no creator (0002,0100): nothing
    EXPECT_FALSE(h.HasKey(0x0102));
    h.setStringValueProperty(0x0100, "1.2.3");
    h.PrivateInfo(&bytes);
    EXPECT_TRUE(h.HasKey(0x0102));
    DisposeHandle(v);
}

TEST(DataHeader, OpensTheMetaInformationOfRealFiles) {
    struct Case {
        const char* file;
        const char* uid; // null: refused
        bool implicit, big;
        int32_t status;
    };
    const Case cases[] = {
        {"CT_small.dcm", "1.2.840.10008.1.2.1", false, false, 0},
        {"MR_small_implicit.dcm", "1.2.840.10008.1.2", true, false, 0},
        {"MR_small_bigendian.dcm", "1.2.840.10008.1.2.2", false, true, 0},
        {"JPEG2000.dcm", "1.2.840.10008.1.2.4.91", false, false, 0},
        {"no_meta.dcm", nullptr, false, false, 300},
    };
    if (!std::ifstream(pydicomFile("CT_small.dcm")).good())
        GTEST_SKIP() << "pydicom test files not installed";
    // The meta group of every readable file as pydicom sees it, one line a file: its element
    // numbers and its stored group length.
    std::string paths;
    for (const Case& c : cases)
        if (c.uid) paths += " " + pydicomFile(c.file);
    int rc = 0;
    const std::string reference =
        testsupport::run("/usr/bin/python3 -c \"import sys,pydicom\n"
                         "for p in sys.argv[1:]:\n"
                         "  m=pydicom.filereader.read_file_meta_info(p)\n"
                         "  print(' '.join('%04X' % e.tag.element for e in m if e.tag.element), "
                         "m.FileMetaInformationGroupLength)\"" +
                             paths,
                         &rc);
    ASSERT_EQ(rc, 0) << reference;
    size_t line = 0;
    for (const Case& c : cases) {
        int32_t status = -1;
        std::unique_ptr<KelvoDicomDataHeader> h(
            KelvoDicomDataHeader::openFile(pydicomFile(c.file).c_str(), status));
        EXPECT_EQ(status, c.status) << c.file;
        if (!c.uid) {
            EXPECT_EQ(h, nullptr) << c.file;
            continue;
        }
        ASSERT_NE(h, nullptr) << c.file;
        EXPECT_STREQ(h->getStringValueProperty(0x0010), c.uid) << c.file;
        EXPECT_EQ(h->Implicit(), c.implicit) << c.file;
        EXPECT_EQ(h->BigEndian(), c.big) << c.file;
        std::string ours;
        for (int32_t i = 0; int32_t key = h->Key(int16_t(i)); ++i) {
            if (key == kDicomZeroID) continue;
            char text[16];
            std::snprintf(text, sizeof text, "%s%04X", ours.empty() ? "" : " ", unsigned(key));
            ours += text;
        }
        // The stored length read from the file, and the same length computed anew.
        ours += " " + std::to_string(h->GroupLength());
        const size_t eol = reference.find('\n', line);
        ASSERT_NE(eol, std::string::npos);
        EXPECT_EQ(ours, reference.substr(line, eol - line)) << c.file;
        EXPECT_EQ(h->GroupLengthGetCurrent(false), h->GroupLength()) << c.file;
        line = eol + 1;
    }
    // Without a transfer syntax, the data set's first element tells its encoding, which the
    // header then names.
    int32_t status = -1;
    std::unique_ptr<KelvoDicomDataHeader> missing(
        KelvoDicomDataHeader::openFile(pydicomFile("meta_missing_tsyntax.dcm").c_str(), status));
    ASSERT_NE(missing, nullptr);
    EXPECT_EQ(status, 0);
    EXPECT_STREQ(missing->getStringValueProperty(0x0010), "1.2.840.10008.1.2");
    EXPECT_TRUE(missing->Implicit());
    EXPECT_EQ(KelvoDicomDataHeader::openFile("/nonexistent/file.dcm", status), nullptr);
    EXPECT_EQ(status, 100);
    EXPECT_EQ(KelvoDicomDataHeader::openFile(nullptr, status), nullptr);
    EXPECT_EQ(status, -50);
}

TEST(DataHeader, ReadsMetaInformationWrittenByDcmtk) {
    const std::string source = pydicomFile("CT_small.dcm");
    if (!std::ifstream(source).good()) GTEST_SKIP() << "pydicom test files not installed";
    ScratchDir dir("kelvo-dcmtk-meta");
    struct Case {
        const char* option;
        bool implicit, big;
    };
    const Case cases[] = {{"+ti", true, false}, {"+tb", false, true}, {"+te", false, false}};
    for (const Case& c : cases) {
        const std::string path = dir.file(std::string("ct") + c.option + ".dcm");
        int rc = 0;
        testsupport::run(std::string("dcmconv ") + c.option + " " + source + " " + path + " 2>&1", &rc);
        ASSERT_EQ(rc, 0) << c.option;
        const std::string dump = testsupport::run("dcmdump -M +P 0002,0012 +P 0002,0000 " + path, &rc);
        ASSERT_EQ(rc, 0);
        int32_t status = -1;
        std::unique_ptr<KelvoDicomDataHeader> h(KelvoDicomDataHeader::openFile(path.c_str(), status));
        ASSERT_NE(h, nullptr) << status;
        EXPECT_EQ(h->Implicit(), c.implicit) << c.option;
        EXPECT_EQ(h->BigEndian(), c.big) << c.option;
        EXPECT_NE(dump.find(std::string("[") + h->getStringValueProperty(0x0012) + "]"), std::string::npos)
            << dump;
        EXPECT_NE(dump.find("UL " + std::to_string(h->GroupLengthGetCurrent(false)) + " "), std::string::npos)
            << dump;
    }
}

TEST(DataHeader, DamagedMetaInformationIsRefused) {
    const std::string source = testsupport::readFile(pydicomFile("CT_small.dcm"));
    if (source.size() < 400) GTEST_SKIP() << "pydicom test files not installed";
    ScratchDir dir("kelvo-meta");
    // The transfer syntax element of CT_small starts where "UI" follows its tag.
    const size_t ts = source.find("\x02\x00\x10\x00UI"s);
    ASSERT_NE(ts, std::string::npos);
    struct Case {
        const char* name;
        std::string bytes;
        int32_t status;
    };
    std::string hugeLength = source;
    hugeLength[ts + 6] = '\xFF'; // a 16-bit length past the end of the file
    hugeLength[ts + 7] = '\xFF';
    std::string badVR = source;
    badVR[ts + 4] = '?';
    std::string sequence = source;
    sequence[ts + 4] = 'S';
    sequence[ts + 5] = 'Q';
    const Case cases[] = {
        {"truncated-in-value", source.substr(0, ts + 12), 303},
        {"truncated-in-tag", source.substr(0, ts + 5), 303},
        {"short", source.substr(0, 100), 300},
        {"no-magic", std::string(128, '\0') + "DICX" + source.substr(132), 300},
        {"huge-length", hugeLength, 302}, // an odd length is refused before its size is
        {"bad-vr", badVR, 301},
        {"sequence", sequence, 302},
    };
    for (const Case& c : cases) {
        const std::string path = dir.file(c.name);
        testsupport::writeFile(path, c.bytes);
        int32_t status = 0;
        EXPECT_EQ(KelvoDicomDataHeader::openFile(path.c_str(), status), nullptr) << c.name;
        EXPECT_EQ(status, c.status) << c.name;
    }
    // The whole meta group followed by nothing is a header.
    const std::string path = dir.file("meta-only");
    int32_t status = 0;
    std::unique_ptr<KelvoDicomDataHeader> full(
        KelvoDicomDataHeader::openFile(pydicomFile("CT_small.dcm").c_str(), status));
    ASSERT_NE(full, nullptr);
    testsupport::writeFile(path, std::string(128, '\0') + "DICM" +
                                     capture([&](FILE* f) { full->flushToBinary(f, nullptr); }));
    std::unique_ptr<KelvoDicomDataHeader> metaOnly(KelvoDicomDataHeader::openFile(path.c_str(), status));
    EXPECT_NE(metaOnly, nullptr) << status;
}

TEST(DataFileSet, FlagsTypesAndDirectory) {
    KelvoDicomDataFileSet fs;
    EXPECT_EQ(fs.Error(), 0);
    EXPECT_TRUE(fs.HasKey(0x1212));
    EXPECT_EQ(fs.getUSValueProperty(0x1212), 0);
    fs.isConsistent(false);
    EXPECT_EQ(fs.getUSValueProperty(0x1212), 65535);
    fs.isConsistent(true);
    EXPECT_EQ(fs.getUSValueProperty(0x1212), 0);
    fs.isActive(false);
    EXPECT_TRUE(fs.HasKey(0x1410));
    EXPECT_EQ(fs.getUSValueProperty(0x1410), 0);
    fs.isActive(true);
    EXPECT_EQ(fs.getUSValueProperty(0x1410), 65535);

    for (const char* ok : {"PATIENT", "STUDY", "PALETTE", "PRIVATE"}) {
        fs.DirectoryType(ok);
        EXPECT_EQ(fs.Error(), 0);
        EXPECT_STREQ(fs.getStringValueProperty(0x1430), ok);
    }
    for (const char* bad : {"patient", "NOTHING", ""}) {
        fs.DirectoryType(bad);
        EXPECT_EQ(fs.Error(), 322) << bad;
    }
    fs.DirectoryType(nullptr);
    EXPECT_EQ(fs.Error(), 322);
    EXPECT_STREQ(fs.getStringValueProperty(0x1430), "PRIVATE");

    KelvoDicomDataItemGroup wrong(0x1221);
    fs.Directory(&wrong);
    EXPECT_EQ(fs.Error(), 9);
    EXPECT_FALSE(fs.HasKey(0x1220));
    KelvoDicomDataItemGroup records(0x1220);
    fs.Directory(&records);
    EXPECT_EQ(fs.Error(), 0);
    EXPECT_TRUE(fs.HasKey(0x1220));
    fs.Directory(nullptr);
    EXPECT_FALSE(fs.HasKey(0x1220));
}

TEST(DataFileSet, BinaryWriteNotesWhereTheOffsetsWent) {
    KelvoDicomDataFileSet fs;
    fs.setULValueProperty(0x1400, 0x11223344);
    fs.setULValueProperty(0x1420, 0x55667788);
    fs.DirectoryType("STUDY");
    for (uint32_t flags : {0u, 0x2u, 0x4u, 0xAu}) {
        FILE* f = std::tmpfile();
        std::fputs("0123456789", f); // the set does not start at 0
        fs.flushToBinary(f, &flags);
        EXPECT_EQ(fs.Error(), 0);
        const int64_t next = fs.nextRecordOffsetPosition(), lower = fs.lowerLevelOffsetPosition();
        ASSERT_GT(next, 10) << flags;
        ASSERT_GT(lower, next) << flags;
        uint8_t v[4];
        auto at = [&](int64_t pos) {
            fseeko(f, pos, SEEK_SET);
            EXPECT_EQ(std::fread(v, 1, 4, f), 4u);
            return (flags & 0x4) ? (uint32_t(v[0]) << 24 | uint32_t(v[1]) << 16 | uint32_t(v[2]) << 8 | v[3])
                                 : (uint32_t(v[3]) << 24 | uint32_t(v[2]) << 16 | uint32_t(v[1]) << 8 | v[0]);
        };
        EXPECT_EQ(at(next), 0x11223344u) << flags;
        EXPECT_EQ(at(lower), 0x55667788u) << flags;
        std::fclose(f);
    }
    // The positions belong to one write: a copy starts without them, and a record without the
    // offsets leaves none.
    KelvoDicomDataFileSet copy(fs);
    EXPECT_EQ(copy.nextRecordOffsetPosition(), 0);
    std::unique_ptr<Kelvo_QTObj> clone(fs.clone());
    EXPECT_EQ(static_cast<KelvoDicomDataFileSet*>(clone.get())->lowerLevelOffsetPosition(), 0);
    fs.RemoveKey(0x1400);
    fs.RemoveKey(0x1420);
    capture([&](FILE* f) { fs.flushToBinary(f, nullptr); });
    EXPECT_EQ(fs.nextRecordOffsetPosition(), 0);
    EXPECT_EQ(fs.lowerLevelOffsetPosition(), 0);

    // Text and XML are the data set's own.
    KelvoDicomDataSet plain(0x0004);
    plain.setUSValueProperty(0x1212, 0);
    KelvoDicomDataFileSet fresh;
    EXPECT_EQ(capture([&](FILE* f) { fresh.flushToText(f, 0); }),
              capture([&](FILE* f) { plain.flushToText(f, 0); }));
}

TEST(DataFileSet, BinaryFormMatchesTheDataSetsForPlainElements) {
    KelvoDicomDataFileSet fs;
    KelvoDicomDataSet plain(0x0004);
    for (KelvoDicomDataSet* s : {static_cast<KelvoDicomDataSet*>(&fs), &plain}) {
        s->setUSValueProperty(0x1212, 0);
        s->setULValueProperty(0x1400, 7);
        s->setStringValueProperty(0x1130, "ID");
        KelvoDicomDataItemGroup records(0x1220);
        s->setObjValue(0x1220, &records);
    }
    for (uint32_t flags : {0u, 0x2u, 0x4u, 0x8u}) {
        EXPECT_EQ(capture([&](FILE* f) { fs.flushToBinary(f, &flags); }),
                  capture([&](FILE* f) { plain.flushToBinary(f, &flags); }))
            << flags;
    }
}

TEST(GroupViews, PatientSex) {
    struct Case {
        const char* in;
        const char* stored;
    };
    const Case cases[] = {{"F", "F"}, {"female", "F"}, {"M", "M"}, {"man", "M"},
                          {"x", "O"}, {"", "O"},       {"O", "O"}};
    for (const Case& c : cases) {
        KelvoDicomDataPatient p;
        p.Sex(c.in);
        EXPECT_STREQ(p.getStringValueProperty(0x0040), c.stored) << c.in;
    }
    KelvoDicomDataPatient p;
    p.Sex(nullptr);
    EXPECT_FALSE(p.HasKey(0x0040));
}

TEST(GroupViews, ViewOfAnotherGroupIsEmptyAndStaysInItsGroup) {
    KelvoDicomDataSet patientGroup(0x0010);
    patientGroup.setStringValueProperty(0x0010, "Doe^John");
    KelvoDicomDataStudy study(patientGroup.Dictionary(), patientGroup.getRootOfItems());
    EXPECT_EQ(study.Error(), 0);
    EXPECT_EQ(study.count(), 0);
    EXPECT_FALSE(study.HasKey(0x0010));
    EXPECT_EQ(study.groupID(), 0x0008);
    // Written into an item it cannot take the patient group's place.
    KelvoDicomDataItem item;
    item.setObjValue(0x0010, &study);
    EXPECT_EQ(item.Error(), -50);

    KelvoDicomDataSet studyGroup(0x0008);
    studyGroup.setStringValueProperty(0x0020, "20240101");
    KelvoDicomDataStudy same(studyGroup.Dictionary(), studyGroup.getRootOfItems());
    EXPECT_STREQ(same.getStringValueProperty(0x0020), "20240101");

    // A null container or an atom that is not a group fails as for the data set.
    KelvoDicomDataImage none(nullptr, 0);
    EXPECT_EQ(none.Error(), -50);
    KelvoDicomDataItemGroup sequence(0x1111);
    KelvoDicomDataAcquisition notGroup(sequence.Dictionary(), sequence.getRootOfItems());
    EXPECT_EQ(notGroup.Error(), -2108);
}

TEST(GroupViews, NodeAccessorsStoreWithTheDictionaryVR) {
    KelvoDicomDataStudy study;
    KelvoDicomDataAcquisition acq;
    KelvoDicomDataImage image;
    struct Case {
        KelvoDicomDataSet* set;
        void (*call)(KelvoDicomDataSet*, KelvoDicomDataNode*);
        uint16_t element;
        const char* vr;
        const char* text;
    };
    const Case cases[] = {
        {&study,
         [](KelvoDicomDataSet* s, KelvoDicomDataNode* n) {
             static_cast<KelvoDicomDataStudy*>(s)->CharacterSet(n);
         },
         0x0005, "CS", "ISO_IR 100"},
        {&study,
         [](KelvoDicomDataSet* s, KelvoDicomDataNode* n) {
             static_cast<KelvoDicomDataStudy*>(s)->ImageType(n);
         },
         0x0008, "CS", "ORIGINAL\\PRIMARY"},
        {&study,
         [](KelvoDicomDataSet* s, KelvoDicomDataNode* n) {
             static_cast<KelvoDicomDataStudy*>(s)->PerformingPhysician(n);
         },
         0x1050, "PN", "Doe^Jane"},
        {&acq,
         [](KelvoDicomDataSet* s, KelvoDicomDataNode* n) {
             static_cast<KelvoDicomDataAcquisition*>(s)->SoftwareVersion(n);
         },
         0x1020, "LO", "1.0"},
        {&acq,
         [](KelvoDicomDataSet* s, KelvoDicomDataNode* n) {
             static_cast<KelvoDicomDataAcquisition*>(s)->LastCalibrationDate(n);
         },
         0x1200, "DA", "20200101"},
        {&acq,
         [](KelvoDicomDataSet* s, KelvoDicomDataNode* n) {
             static_cast<KelvoDicomDataAcquisition*>(s)->LastCalibrationTime(n);
         },
         0x1201, "TM", "101010"},
        {&image,
         [](KelvoDicomDataSet* s, KelvoDicomDataNode* n) {
             static_cast<KelvoDicomDataImage*>(s)->ImageComments(n);
         },
         0x4000, "LT", "note"},
    };
    for (const Case& c : cases) {
        c.call(c.set, nullptr);
        EXPECT_EQ(c.set->Error(), -50);
        KelvoDicomDataNode invalid;
        c.call(c.set, &invalid);
        EXPECT_EQ(c.set->Error(), -50);
        EXPECT_FALSE(c.set->HasKey(c.element));
        KelvoDicomDataNode node(c.vr);
        node.strValue(c.text);
        c.call(c.set, &node);
        EXPECT_EQ(c.set->Error(), 0) << std::hex << c.element;
        EXPECT_STREQ(c.set->getStringValueProperty(c.element), c.text);
    }
}

TEST(GroupViews, PatientAndImageAnonymisation) {
    KelvoDicomDataPatient p;
    p.setStringValueProperty(0x0010, "Doe^John");
    p.setStringValueProperty(0x0020, "PID-12345");
    p.setStringValueProperty(0x1040, "1 Main St");
    p.setStringValueProperty(0x0040, "M");
    p.GroupLengthRefresh(false);
    EXPECT_EQ(p.anonymize(), 0);
    EXPECT_FALSE(p.HasKey(0));
    EXPECT_STREQ(p.getStringValueProperty(0x0010), "XXX^XXXX");
    EXPECT_TRUE(isStamp(p.getStringValueProperty(0x0020))) << p.getStringValueProperty(0x0020);
    EXPECT_STREQ(p.getStringValueProperty(0x1040), "XXXXXXXXX");
    EXPECT_STREQ(p.getStringValueProperty(0x0040), "M");

    // Absent identifiers stay absent.
    KelvoDicomDataPatient bare;
    bare.setStringValueProperty(0x0010, "A");
    EXPECT_EQ(bare.anonymize(), 0);
    EXPECT_FALSE(bare.HasKey(0x0020));
    EXPECT_FALSE(bare.HasKey(0x1040));

    KelvoDicomDataImage image;
    image.setStringValueProperty(0x0010, "S1");
    image.setStringValueProperty(0x0013, "4");
    EXPECT_EQ(image.anonymize(), 0);
    EXPECT_TRUE(isStamp(image.getStringValueProperty(0x0010)));
    EXPECT_STREQ(image.getStringValueProperty(0x0013), "4");

    // The file set anonymises as a data set.
    KelvoDicomDataFileSet fs;
    fs.GroupLengthRefresh(false);
    EXPECT_EQ(fs.anonymize(), 0);
    EXPECT_FALSE(fs.HasKey(0));
}

TEST(GroupViews, NamesClonesAndCopies) {
    KelvoDicomDataFileSet fs;
    KelvoDicomDataStudy study;
    KelvoDicomDataPatient patient;
    KelvoDicomDataAcquisition acq;
    KelvoDicomDataImage image;
    struct Case {
        KelvoDicomDataSet* set;
        const char* name;
        uint16_t group;
    };
    const Case cases[] = {{&fs, "KelvoDicomDataFileSet", 0x0004},
                          {&study, "KelvoDicomDataStudy", 0x0008},
                          {&patient, "KelvoDicomDataPatient", 0x0010},
                          {&acq, "KelvoDicomDataAcquisition", 0x0018},
                          {&image, "KelvoDicomDataImage", 0x0020}};
    for (const Case& c : cases) {
        EXPECT_STREQ(c.set->qtObjName(), c.name);
        EXPECT_EQ(c.set->groupID(), c.group);
        EXPECT_TRUE(c.set->isA(c.name));
        EXPECT_TRUE(c.set->isA("KelvoDicomDataSet"));
        EXPECT_TRUE(c.set->isA("Kelvo_Dictionary"));
        c.set->setUSValueProperty(0x7777, 3);
        std::unique_ptr<Kelvo_QTObj> clone(c.set->clone());
        ASSERT_NE(clone, nullptr);
        EXPECT_STREQ(clone->qtObjName(), c.name);
        auto* copy = static_cast<KelvoDicomDataSet*>(clone.get());
        EXPECT_EQ(copy->getUSValueProperty(0x7777), 3);
        EXPECT_EQ(copy->groupID(), c.group);
    }
    // Copy takes only its own class and keeps working on its own group afterwards.
    KelvoDicomDataPatient target;
    target.Copy(study);
    EXPECT_FALSE(target.HasKey(0x7777));
    target.Copy(patient);
    EXPECT_EQ(target.getUSValueProperty(0x7777), 3);
    target.setUSValueProperty(0x7778, 4);
    EXPECT_EQ(target.getUSValueProperty(0x7778), 4);
    EXPECT_EQ(target.count(), patient.count() + 1);
}

TEST(DataSetFactory, MakesTheViewOfEachGroup) {
    struct Case {
        uint16_t group;
        const char* name;
    };
    const Case cases[] = {
        {0x0002, "KelvoDicomDataSet"},     {0x0004, "KelvoDicomDataFileSet"},
        {0x0008, "KelvoDicomDataStudy"},   {0x0009, "KelvoDicomDataSet"},
        {0x0010, "KelvoDicomDataPatient"}, {0x0018, "KelvoDicomDataAcquisition"},
        {0x0020, "KelvoDicomDataImage"},   {0x0028, "KelvoDicomDataImagePixel"},
        {0x0000, "KelvoDicomDataSet"},     {0x7FE0, "KelvoDicomDataSet"},
    };
    for (const Case& c : cases) {
        KelvoDicomDataSet source(c.group);
        source.setUSValueProperty(0x7777, 5);
        Kelvo_AtomCoord coord(source.Dictionary(), source.getRootOfItems());
        int32_t status = -1;
        std::unique_ptr<KelvoDicomDataSet> set(DicmUtils_DataSetFactory(coord, status));
        ASSERT_NE(set, nullptr) << c.group;
        EXPECT_EQ(status, 0);
        EXPECT_STREQ(set->qtObjName(), c.name) << std::hex << c.group;
        EXPECT_EQ(set->groupID(), c.group);
        EXPECT_EQ(set->getUSValueProperty(0x7777), 5);
    }
    Kelvo_AtomCoord invalid;
    int32_t status = 0;
    EXPECT_EQ(DicmUtils_DataSetFactory(invalid, status), nullptr);
    EXPECT_EQ(status, 321);
    KelvoDicomDataItem item;
    Kelvo_AtomCoord notGroup(item.Dictionary(), item.getRootOfItems());
    EXPECT_EQ(DicmUtils_DataSetFactory(notGroup, status), nullptr);
    EXPECT_EQ(status, -2108);

    // Items hand out their data sets through the factory.
    KelvoDicomDataImagePixel pixel;
    pixel.setUSValueProperty(0x0010, 64);
    item.setObjValue(0x0028, &pixel);
    std::unique_ptr<Kelvo_QTObj> back(item.getObjValue(0x0028));
    ASSERT_NE(back, nullptr);
    ASSERT_TRUE(back->isA("KelvoDicomDataImagePixel"));
    EXPECT_EQ(static_cast<KelvoDicomDataImagePixel*>(back.get())->getUSValueProperty(0x0010), 64);
}

} // namespace
