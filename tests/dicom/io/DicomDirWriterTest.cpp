// The DICOMDIR writer: directories made by DCMTK and those of pydicom's corpus, read and written
// back, traverse to the same hierarchy in pydicom and dicom3tools; directories made in memory are
// linked by the order and types of their records, every record type of the hierarchy included.
#include "KelvoDicomDataSetViews.h"
#include "KelvoDicomDataTree.h"
#include "KelvoDicomStream.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using testsupport::run;

std::string quoted(const std::string& s) {
    return "'" + s + "'";
}

// The hierarchy of each directory as pydicom reaches it: from (0004,1200) along the next and
// lower-level offsets (one line per record, indented by depth, with its type and identifier),
// whether (0004,1202) names the last root record, how many records nothing reaches, and the tree
// pydicom itself builds under its patient records.
const char* const kHierarchyScript = R"PY(
import sys, warnings
warnings.filterwarnings('ignore')
import pydicom

def ident(r):
    for k in ('ReferencedFileID', 'PatientID', 'StudyInstanceUID', 'SeriesInstanceUID', 'ContentDescription'):
        if k in r:
            v = r.get(k)
            return '/'.join(v) if isinstance(v, (list, pydicom.multival.MultiValue)) else str(v)
    return ''

for f in sys.argv[1:]:
    print('== directory')
    try:
        ds = pydicom.dcmread(f)
        records = ds.DirectoryRecordSequence
        at = {r.seq_item_tell: r for r in records}
        seen = set()
        def chain(offset, depth):
            last = 0
            while offset:
                if offset in seen or offset not in at:
                    print('  ' * depth + 'bad offset')
                    return last
                seen.add(offset)
                r = at[offset]
                print('  ' * depth + '%s %s' % (r.DirectoryRecordType, ident(r)))
                last = offset
                lower = r.get('OffsetOfReferencedLowerLevelDirectoryEntity', 0)
                if lower:
                    chain(lower, depth + 1)
                offset = r.get('OffsetOfTheNextDirectoryRecord', 0)
            return last
        last = chain(ds.OffsetOfTheFirstDirectoryRecordOfTheRootDirectoryEntity, 0)
        print('last root', 'right' if last == ds.OffsetOfTheLastDirectoryRecordOfTheRootDirectoryEntity else 'wrong')
        print('unreachable', len(records) - len(seen))
        def walk(r, depth):
            print('patients: ' + '  ' * depth + '%s %s' % (r.DirectoryRecordType, ident(r)))
            for c in getattr(r, 'children', []):
                walk(c, depth + 1)
        for p in ds.patient_records:
            walk(p, 0)
    except Exception as e:
        print('exception %r' % e)
)PY";

// The hierarchy of each file, in one run of the script.
std::vector<std::string> hierarchies(const testsupport::ScratchDir& dir,
                                     const std::vector<std::string>& files) {
    const std::string script = dir.file("hierarchy.py");
    testsupport::writeFile(script, kHierarchyScript);
    std::string command = "/usr/bin/python3 " + quoted(script);
    for (const std::string& f : files)
        command += " " + quoted(f);
    const std::string text = run(command + " 2>&1");
    std::vector<std::string> out;
    const std::string mark = "== directory\n";
    for (size_t at = text.find(mark); at != std::string::npos;) {
        size_t next = text.find(mark, at + mark.size());
        out.push_back(text.substr(at + mark.size(),
                                  next == std::string::npos ? std::string::npos : next - at - mark.size()));
        at = next;
    }
    out.resize(files.size());
    return out;
}

// The records reached, without the verdict on (0004,1202).
std::string withoutLastRoot(std::string h) {
    size_t at = h.find("last root ");
    if (at != std::string::npos) h.erase(at, h.find('\n', at) + 1 - at);
    return h;
}

std::string dcdirdmp(const std::string& file) {
    return run("dcdirdmp " + quoted(file) + " 2>&1");
}

std::unique_ptr<KelvoDicomDataTree> openTree(const std::string& path) {
    return std::unique_ptr<KelvoDicomDataTree>(KelvoDicomDataTree::openFile(path.c_str()));
}

// A copy of a directory's records made in memory: the same groups in the same order, but items
// that come from no file, so that only their order and types can link them.
std::unique_ptr<KelvoDicomDirectoryDocument> rebuiltInMemory(KelvoDicomDirectoryDocument& source) {
    auto doc = std::make_unique<KelvoDicomDirectoryDocument>();
    std::unique_ptr<KelvoDicomDataItemGroup> records(source.rootDirectory());
    KelvoDicomDataItemGroup copies(0x1220);
    for (int32_t i = 1; records && i <= records->count(); ++i) {
        std::unique_ptr<Kelvo_QTObj> item(records->getObjValue(i));
        auto& from = static_cast<KelvoDicomDataItem&>(*item);
        KelvoDicomDataItem fresh;
        for (int32_t g = 0; g < from.count(); ++g) {
            const int32_t group = from.Key(int16_t(g));
            std::unique_ptr<Kelvo_QTObj> set(from.getObjValue(DicmUtils_NumberForAtomID(group)));
            fresh.setObjValue(DicmUtils_NumberForAtomID(group), set.get());
        }
        copies.setObjValue(0, &fresh);
    }
    std::unique_ptr<KelvoDicomDataFileSet> root(doc->root());
    root->Directory(&copies);
    doc->root(root.get());
    return doc;
}

// Two patients with two studies of two series each, one series with two images, and an SR
// document and a presentation state in series of their own.
class DicomDirWriterDcmtk : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new testsupport::ScratchDir("dicomdir-writer");
        const std::string ct = std::string(testsupport::pydicomTestFiles()) + "/CT_small.dcm";
        const std::string uid = "1.2.826.0.1.3680043.2.1125.";
        int n = 0;
        for (int p = 1; p <= 2; ++p)
            for (int s = 1; s <= 2; ++s)
                for (int e = 1; e <= 2; ++e) {
                    const std::string file = dir_->file("IMG" + std::to_string(++n));
                    fs::copy_file(ct, file);
                    const std::string study = uid + std::to_string(p) + "." + std::to_string(s);
                    const std::string series = study + "." + std::to_string(e);
                    modify(file, "-m '(0010,0020)=PAT" + std::to_string(p) + "' -m '(0010,0010)=DOE^P" +
                                     std::to_string(p) + "' -m '(0020,000d)=" + study +
                                     "' -m '(0020,0010)=S" + std::to_string(p) + std::to_string(s) +
                                     "' -m '(0020,000e)=" + series + "' -m '(0020,0011)=" +
                                     std::to_string(e) + "' -m '(0008,0018)=" + series + ".1'");
                }
        fs::copy_file(dir_->file("IMG1"), dir_->file("IMG9"));
        modify(dir_->file("IMG9"), "-m '(0008,0018)=" + uid + "1.1.1.2' -m '(0020,0013)=2'");
        fs::copy_file(std::string(testsupport::pydicomTestFiles()) + "/test-SR.dcm", dir_->file("SR1"));
        modify(dir_->file("SR1"), "-m '(0010,0020)=PAT1' -m '(0010,0010)=DOE^P1' -m '(0020,000d)=" + uid +
                                      "1.1' -m '(0020,000e)=" + uid + "1.1.9'");
        int status = 0;
        std::string log = run("cd " + quoted(dir_->path().string()) + " && dcmpsmk IMG4 PR1 2>&1", &status);
        ASSERT_EQ(status, 0) << log;
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static void modify(const std::string& file, const std::string& options) {
        int status = 0;
        std::string log = run("dcmodify -nb " + options + " " + quoted(file) + " 2>&1", &status);
        ASSERT_EQ(status, 0) << log;
    }
    static std::string make(const std::string& command) {
        int status = 0;
        std::string log = run("cd " + quoted(dir_->path().string()) + " && " + command + " 2>&1", &status);
        EXPECT_EQ(status, 0) << log;
        return log;
    }
    static testsupport::ScratchDir* dir_;
};
testsupport::ScratchDir* DicomDirWriterDcmtk::dir_ = nullptr;

TEST_F(DicomDirWriterDcmtk, ReadAndWrittenBackTraverseTheSame) {
    struct Maker {
        const char* name;
        const char* command;
    };
    const Maker makers[] = {
        {"MKDIR", "dcmmkdir -Pgp +I +D MKDIR IMG1 IMG2 IMG3 IMG4 IMG5 IMG6 IMG7 IMG8 IMG9 SR1 PR1"},
        {"GPDIR", "dcmgpdir +I +D GPDIR IMG1 IMG2 IMG3 IMG4 IMG5 IMG6 IMG7 IMG8 IMG9"},
    };
    for (const Maker& m : makers) {
        make(m.command);
        const std::string source = dir_->file(m.name);
        auto tree = openTree(source);
        ASSERT_TRUE(tree && tree->readError() == 0 && tree->isA("KelvoDicomDirectoryDocument")) << m.name;
        // Written back as read, then rebuilt in memory where only order and types can link.
        auto memory = rebuiltInMemory(static_cast<KelvoDicomDirectoryDocument&>(*tree));
        std::vector<std::string> files = {source};
        for (KelvoDicomDataTree* doc : {tree.get(), static_cast<KelvoDicomDataTree*>(memory.get())}) {
            const std::string out = dir_->file(m.name + std::string(doc == tree.get() ? "-READ" : "-MEMORY"));
            doc->toDicomFile(out.c_str(), 0);
            ASSERT_EQ(doc->Error(), 0) << m.name;
            files.push_back(out);
            EXPECT_EQ(dcdirdmp(out), dcdirdmp(source)) << out;
            EXPECT_EQ(run("dcmdump " + quoted(out) + " 2>&1 >/dev/null | grep -E '^(E|F):'"), "");
        }
        const std::vector<std::string> h = hierarchies(*dir_, files);
        ASSERT_NE(h[0].find("unreachable 0"), std::string::npos) << h[0];
        ASSERT_NE(h[0].find("last root right"), std::string::npos) << h[0];
        if (std::string(m.name) == "MKDIR") {
            EXPECT_NE(h[0].find("SR DOCUMENT SR1"), std::string::npos) << h[0];
            EXPECT_NE(h[0].find("PRESENTATION PR1"), std::string::npos) << h[0];
        }
        EXPECT_EQ(h[1], h[0]) << m.name << " read";
        EXPECT_EQ(h[2], h[0]) << m.name << " in memory";
    }
}

// pydicom's directories, read and written back: the order of the records need not follow the
// hierarchy (the reordered one), and records of a type the hierarchy does not know keep the
// links the file gave them.
TEST(DicomDirWriter, CorpusDirectoriesKeepTheirHierarchy) {
    testsupport::ScratchDir dir("dicomdir-corpus");
    const std::string base = std::string(testsupport::pydicomTestFiles()) + "/dicomdirtests/";
    std::vector<std::string> sources, written;
    for (const char* name : {"DICOMDIR", "DICOMDIR-bigEnd", "DICOMDIR-implicit", "DICOMDIR-reordered",
                             "DICOMDIR-nopatient", "DICOMDIR-empty.dcm", "TINY_ALPHA/DICOMDIR"}) {
        const std::string source = base + name;
        auto tree = openTree(source);
        ASSERT_TRUE(tree && tree->readError() == 0) << name;
        const std::string out = dir.file("DICOMDIR" + std::to_string(written.size()));
        tree->toDicomFile(out.c_str(), 0);
        ASSERT_EQ(tree->Error(), 0) << name;
        sources.push_back(source);
        written.push_back(out);
        EXPECT_EQ(dcdirdmp(out), dcdirdmp(source)) << name;
    }
    const std::vector<std::string> expected = hierarchies(dir, sources);
    const std::vector<std::string> got = hierarchies(dir, written);
    for (size_t i = 0; i < sources.size(); ++i) {
        EXPECT_EQ(expected[i].find("exception"), std::string::npos) << sources[i] << expected[i];
        EXPECT_EQ(withoutLastRoot(got[i]), withoutLastRoot(expected[i])) << sources[i];
        // Right even where the source had it wrong.
        EXPECT_NE(got[i].find("last root right"), std::string::npos) << sources[i] << got[i];
    }
}

// A directory made in memory: each record is linked by its type and its place in the order.
TEST(DicomDirWriter, RecordsMadeInMemoryAreLinkedByTypeAndOrder) {
    testsupport::ScratchDir dir("dicomdir-memory");
    struct Record {
        const char* type;
        const char* id; // (0010,0020) of the record, to tell records apart
    };
    const Record order[] = {
        {"PATIENT", "P1"}, {"STUDY", "ST1"},  {"PRIVATE", "X"},        {"PATIENT", "P2"},
        {"STUDY", "ST2"},  {"SERIES", "SE1"}, {"SR DOCUMENT", "SR1"},  {"STUDY", "ST3"},
        {"SERIES", "SE2"}, {"IMAGE", "IM1"},  {"PRESENTATION", "PR1"}, {"HANGING PROTOCOL", "HP1"},
    };
    KelvoDicomDirectoryDocument doc;
    KelvoDicomDataItemGroup records(0x1220);
    for (const Record& r : order) {
        KelvoDicomDataItem item;
        KelvoDicomDataFileSet record;
        record.DirectoryType(r.type);
        // Stale links from another layout must not survive.
        record.setULValueProperty(0x1400, 12345);
        record.setULValueProperty(0x1420, 12345);
        item.setObjValue(0x0004, &record);
        KelvoDicomDataPatient patient;
        patient.setStringValueProperty(0x0020, r.id);
        item.setObjValue(0x0010, &patient);
        records.setObjValue(0, &item);
    }
    std::unique_ptr<KelvoDicomDataFileSet> root(doc.root());
    root->Directory(&records);
    doc.root(root.get());
    const std::string out = dir.file("DICOMDIR");
    doc.toDicomFile(out.c_str(), 0);
    ASSERT_EQ(doc.Error(), 0);

    // The first patient's next is the second patient; its lower-level entity the study, whose own
    // stays 0; the private record neither points nor is pointed to; a new study starts its own
    // series; the last root record is the hanging protocol.
    const std::string script = dir.file("links.py");
    testsupport::writeFile(script, R"PY(
import sys, pydicom
ds = pydicom.dcmread(sys.argv[1])
records = ds.DirectoryRecordSequence
name = {r.seq_item_tell: r.PatientID for r in records}
name[0] = '-'
print('first', name.get(ds.OffsetOfTheFirstDirectoryRecordOfTheRootDirectoryEntity),
      'last', name.get(ds.OffsetOfTheLastDirectoryRecordOfTheRootDirectoryEntity))
for r in records:
    print(r.PatientID, r.DirectoryRecordType, 'next', name.get(r.OffsetOfTheNextDirectoryRecord),
          'lower', name.get(r.OffsetOfReferencedLowerLevelDirectoryEntity))
)PY");
    EXPECT_EQ(run("/usr/bin/python3 " + quoted(script) + " " + quoted(out) + " 2>&1"),
              "first P1 last HP1\n"
              "P1 PATIENT next P2 lower ST1\n"
              "ST1 STUDY next - lower -\n"
              "X PRIVATE next - lower -\n"
              "P2 PATIENT next HP1 lower ST2\n"
              "ST2 STUDY next ST3 lower SE1\n"
              "SE1 SERIES next - lower SR1\n"
              "SR1 SR DOCUMENT next - lower -\n"
              "ST3 STUDY next - lower SE2\n"
              "SE2 SERIES next - lower IM1\n"
              "IM1 IMAGE next PR1 lower -\n"
              "PR1 PRESENTATION next - lower -\n"
              "HP1 HANGING PROTOCOL next - lower -\n");
    EXPECT_EQ(run("dcmdump " + quoted(out) + " 2>&1 >/dev/null | grep -E '^(E|F):'"), "");
    // The meta information names the directory class and gets an instance UID of its own.
    std::unique_ptr<KelvoDicomDataHeader> header(KelvoDicomDataHeader::openFile(out.c_str()));
    ASSERT_NE(header, nullptr);
    char text[80] = {};
    header->getStringValueProperty(0x0002, text, sizeof text);
    EXPECT_STREQ(text, "1.2.840.10008.1.3.10");
    header->getStringValueProperty(0x0003, text, sizeof text);
    EXPECT_NE(text[0], 0);
}

// A directory whose header names the directory class must be a directory document.
TEST(DicomDirWriter, DirectoryHeaderOnAnotherTreeIsRefused) {
    testsupport::ScratchDir dir("dicomdir-refused");
    KelvoDicomDataTree tree;
    std::unique_ptr<KelvoDicomDataHeader> header(tree.Header());
    header->setStringValueProperty(0x0002, "1.2.840.10008.1.3.10");
    KelvoDicomOutputFileBinary out(dir.file("DICOMDIR").c_str());
    KelvoDicomDataTree plain;
    plain.Header(header.get());
    out << plain;
    EXPECT_EQ(out.Error(), 10);
    EXPECT_FALSE(fs::exists(dir.file("DICOMDIR")));
}

} // namespace
