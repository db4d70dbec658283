// Data trees, documents and directory documents used as a host program uses them: scripts run by
// the host program with the plug-in under test open files of the pydicom corpus and files DCMTK
// makes at test time, read and change their values, and write them back. What they write is read
// by DCMTK's dcmdump and by pydicom, which compares every element of the copy with the file it
// came from. Every script ends with nothing left alive, which the host program checks itself.
#include "PluginHost.h"
#include "PluginScript.h"
#include "PythonPeer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using plugintest::host;
using plugintest::ScriptRun;

namespace {

// Prints the copy's transfer syntax, then every element of the copy that differs from the
// original (its path and the copy's value), sorted. Left out: group lengths, and the file meta
// elements a writer sets itself (group length, transfer syntax, implementation). Pixel data
// compare as decoded samples; OW and OF data across byte orders as words. With "directory", the record
// offsets are left out and the links between records compared as record numbers instead.
const char* const kComparePeer = R"PY(
import sys
import numpy
import pydicom
from pydicom.filebase import DicomBytesIO
from pydicom.filewriter import write_data_element

SKIP_META = {0x00020000, 0x00020010, 0x00020012, 0x00020013}
OFFSETS = {0x00041200, 0x00041202, 0x00041400, 0x00041420}


def implicit_bytes(elem):
    f = DicomBytesIO()
    f.is_little_endian = True
    f.is_implicit_VR = True
    write_data_element(f, elem)
    return f.getvalue()[8:]


def same_bytes(a, b, da, db):
    width = {"OW": 2, "OF": 4}.get(a.VR, 1)
    if width > 1 and da.is_little_endian != db.is_little_endian:
        words = [b.value[k:k + width][::-1] for k in range(0, len(b.value), width)]
        return b"".join(words) == a.value
    return a.value == b.value


def same(a, b, da, db):
    if a.tag == 0x7FE00010:
        return numpy.array_equal(da.pixel_array, db.pixel_array)
    # An element of the original that the copy, written without VRs, leaves to its reader as UN.
    if b.VR == "UN" and a.VR != "UN":
        return implicit_bytes(a) == b.value
    if a.VR in ("OB", "OW", "UN", "OF") or b.VR in ("OB", "OW", "UN", "OF"):
        return same_bytes(a, b, da, db)
    if not db.is_implicit_VR and a.VR != b.VR:
        return False
    va, vb = a.value, b.value
    if isinstance(va, pydicom.multival.MultiValue):
        va = list(va)
    if isinstance(vb, pydicom.multival.MultiValue):
        vb = list(vb)
    return va == vb


def shown(elem):
    if elem is None:
        return "(none)"
    if elem.VR == "SQ":
        return "SQ of %d" % len(elem.value)
    v = elem.value
    if isinstance(v, bytes):
        return v.hex()
    if isinstance(v, pydicom.multival.MultiValue):
        return "\\".join(str(x) for x in v)
    return str(v)


def walk(a, b, da, db, path, out, skip):
    for tag in sorted(set(a.keys()) | set(b.keys())):
        if tag.element == 0 or int(tag) in skip:
            continue
        ea, eb = a.get(tag), b.get(tag)
        name = path + "(%04X,%04X)" % (tag.group, tag.element)
        if ea is None or eb is None:
            out.append(name + " " + shown(eb))
        elif ea.VR == "SQ" and eb.VR == "SQ":
            if len(ea.value) != len(eb.value):
                out.append(name + " " + shown(eb))
                continue
            for i, (ia, ib) in enumerate(zip(ea.value, eb.value)):
                walk(ia, ib, da, db, name + "[%d]" % (i + 1), out, skip)
        elif not same(ea, eb, da, db):
            out.append(name + " " + shown(eb))


def links(ds):
    records = list(ds.DirectoryRecordSequence)
    where = {r.seq_item_tell: i + 1 for i, r in enumerate(records)}
    result = []
    for r in records:
        nxt = r.OffsetOfTheNextDirectoryRecord
        lower = r.OffsetOfReferencedLowerLevelDirectoryEntity
        result.append((where.get(nxt, -1) if nxt else 0, where.get(lower, -1) if lower else 0))
    first = ds.OffsetOfTheFirstDirectoryRecordOfTheRootDirectoryEntity
    last = ds.OffsetOfTheLastDirectoryRecordOfTheRootDirectoryEntity
    return (where.get(first, -1), where.get(last, -1), result)


da = pydicom.dcmread(sys.argv[1])
db = pydicom.dcmread(sys.argv[2])
directory = len(sys.argv) > 3 and sys.argv[3] == "directory"
out = []
walk(da.file_meta, db.file_meta, da, db, "", out, SKIP_META)
walk(da, db, da, db, "", out, OFFSETS if directory else set())
if directory and links(da) != links(db):
    out.append("the records are linked otherwise: %s" % (links(db),))
print(db.file_meta.TransferSyntaxUID)
for line in out:
    print(line)
)PY";

// A scratch folder for a test: "@OUT@" in a script stands for it.
class Scratch {
  public:
    Scratch() : dir("plugin-documents") {}

    ScriptRun run(std::string text) const {
        plugintest::replaceAll(text, "@OUT@", dir.path().string());
        return plugintest::runScript(dir, std::move(text));
    }
    std::string output(const std::string& text) const { return plugintest::successfulOutput(run(text)); }
    std::string file(const std::string& name) const { return dir.file(name); }

    // What pydicom finds changed in the copy (see the peer above).
    std::string changes(const std::string& original, const std::string& copy, bool directory = false) const {
        const std::string peer = testsupport::writePeerScript(dir, kComparePeer);
        int status = -1;
        std::string said = testsupport::run("/usr/bin/python3 " + peer + " " + original + " " + copy +
                                                (directory ? " directory" : "") + " 2>" + file("peer-err"),
                                            &status);
        EXPECT_EQ(status, 0) << testsupport::readFile(file("peer-err"));
        return said;
    }

    testsupport::ScratchDir dir;
};

std::string corpus(const std::string& name) {
    return std::string(testsupport::pydicomTestFiles()) + "/" + name;
}

// dcmdump's text of a file, which it must read without an error or a warning.
std::string dcmdump(const std::string& path) {
    int status = -1;
    std::string out = testsupport::run("dcmdump " + path + " 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out.find("E: "), std::string::npos) << out;
    EXPECT_EQ(out.find("W: "), std::string::npos) << out;
    return out;
}

// Expected output that names corpus files.
std::string withCorpus(std::string text) {
    plugintest::replaceAll(text, "@CORPUS@", testsupport::pydicomTestFiles());
    return text;
}

// How the host describes a document that holds no data: one that could not be read, and a
// new empty one, which has a header and keys but nothing else.
std::string documentWithNoData(const std::string& header, const std::string& keys) {
    return "FenraDicomDocument\n  path = \n  hasThumbnails = false\n  header = " + header +
           "\n  thumbnails = nil\n  keys = " + keys +
           "\n  values = nil\n  hasData = false\n  dataSamplesInfo = nil\n  study = nil\n"
           "  patient = nil\n  acquisition = nil\n  image = nil\n  imagePixel = nil\n";
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A file of every value representation, with an icon in its icon image sequence, made by
// DCMTK's dump2dcm from its own dump text.
std::string everyRepresentationFile() {
    static const std::string path = [] {
        const std::string folder = testsupport::derivedFixtures("plugin-documents");
        const std::string dump = testsupport::draftOf(folder + "/every.dump");
        testsupport::writeFile(dump, R"((0002,0001) OB 00\01
(0002,0002) UI [1.2.840.10008.5.1.4.1.1.7]
(0002,0003) UI [1.2.826.0.1.3680043.2.1143.42.1]
(0002,0010) UI [1.2.840.10008.1.2.1]
(0002,0012) UI [1.2.826.0.1.3680043.2.1143.1]
(0008,0005) CS [ISO_IR 100]
(0008,0008) CS [DERIVED\SECONDARY]
(0008,0012) DA [20011231]
(0008,0013) TM [235958.123456]
(0008,0016) UI [1.2.840.10008.5.1.4.1.1.7]
(0008,0018) UI [1.2.826.0.1.3680043.2.1143.42.1]
(0008,0020) DA [19991231]
(0008,002a) DT [20011231235958.5+0100]
(0008,0030) TM [101010]
(0008,0050) SH [ACC42]
(0008,0054) AE [STORE_SCP]
(0008,0060) CS [OT]
(0008,0064) CS [WSD]
(0008,0070) LO [Sylmark Maker]
(0008,0080) LO [General Hospital]
(0008,0090) PN [Smith^John^^Dr.]
(0008,1030) LO [Study of things]
(0008,1161) UL 4000000000\7
(0008,2111) ST [short text]
(0010,0010) PN [Doe^Jane^Q^Mrs^III]
(0010,0020) LO [PID-42]
(0010,0030) DA [19800229]
(0010,0040) CS [F]
(0010,1010) AS [042Y]
(0010,1030) DS [72.5]
(0010,21b0) LT [long text]
(0010,9431) FL 1.5
(0018,1150) IS [2000]
(0018,6020) SL -70000
(0018,9305) FD 2.25
(0020,000d) UI [1.2.826.0.1.3680043.2.1143.42.2]
(0020,000e) UI [1.2.826.0.1.3680043.2.1143.42.3]
(0020,0010) SH [S1]
(0020,0011) IS [7]
(0020,0013) IS [3]
(0020,4000) LT [comment]
(0028,0002) US 1
(0028,0004) CS [MONOCHROME2]
(0028,0009) AT (0054,0010)\(0054,0020)
(0028,0010) US 2
(0028,0011) US 2
(0028,0100) US 16
(0028,0101) US 12
(0028,0102) US 11
(0028,0103) US 1
(0028,0120) SS -2000
(0040,a160) UT [unlimited text]
(0042,0011) OB 01\02\03\04
(0064,0009) OF 1.5\-2.25
(0088,0200) SQ (Sequence with explicit length #=1)
  (fffe,e000) na (Item with explicit length #=9)
    (0028,0002) US 1
    (0028,0004) CS [MONOCHROME2]
    (0028,0010) US 2
    (0028,0011) US 2
    (0028,0100) US 8
    (0028,0101) US 8
    (0028,0102) US 7
    (0028,0103) US 0
    (7fe0,0010) OB 00\40\80\ff
  (fffe,e00d) na (ItemDelimitationItem for re-encoding)
(fffe,e0dd) na (SequenceDelimitationItem for re-encoding)
(7fe0,0010) OW 0001\0002\0fff\f830
)");
        const std::string file = folder + "/every.dcm";
        int status = -1;
        const std::string draft = testsupport::draftOf(file);
        std::string said = testsupport::run("dump2dcm " + dump + " " + draft + " 2>&1", &status);
        EXPECT_EQ(status, 0) << said;
        EXPECT_TRUE(testsupport::publish(draft, file));
        std::filesystem::remove(dump);
        return file;
    }();
    return path;
}

// CT_small.dcm of the corpus turned into explicit VR big endian by DCMTK's dcmconv.
std::string bigEndianFile() {
    static const std::string path = [] {
        const std::string file = testsupport::derivedFixtures("plugin-documents") + "/ct-big-endian.dcm";
        int status = -1;
        std::string said =
            testsupport::run("dcmconv +tb " + corpus("CT_small.dcm") + " " + testsupport::draftOf(file) + " 2>&1", &status);
        EXPECT_EQ(status, 0) << said;
        EXPECT_TRUE(testsupport::publish(testsupport::draftOf(file), file));
        return file;
    }();
    return path;
}

// The changes every written copy of CT_small.dcm carries: text, numbers (a decimal string, a
// signed long and a signed short through typed values), dates, a time, person names, and an
// item of a sequence. "@SRC@" is the file opened, "@ENCODING@" the transfer syntax written.
const char* const kChangesScript = R"(t = FenraDicomSystem.openFile("@SRC@")
p = t.patient
p.name = "Roe^Richard^^Dr"
p.birthDate = "19800229"
p.weight = "72.5"
seq = p.value(4098)
item = seq.value(2)
ids = item.value(16)
ids.id = "ZZZ999"
item.value(16) = ids
seq.value(2) = item
p.value(4098) = seq
t.patient = p
s = t.study
s.institution = "Sylmark General Hospital"
day = FenraDicomDate.Constructor(1999, 12, 31)
s.value(34) = day
clock = FenraDicomTime.Constructor(23, 59, 58)
s.value(50) = clock
physician = FenraDicomPersonName.Constructor("Jane", "Smith")
s.value(144) = physician
t.study = s
g = t.value(25)
raw = g.value(4098)
n = FenraDicomSystem.createDataElementValue(raw)
n.integerValue = -4321
g.value(4098) = n
t.value(25) = g
g = t.value(17)
raw = g.value(4112)
n = FenraDicomSystem.createDataElementValue(raw)
n.shortValue = -7
g.value(4112) = n
t.value(17) = g
px = t.imagePixel
px.intercept = -1000.5
t.imagePixel = px
i = t.image
i.seriesNumber = "42"
t.image = i
h = t.header
h.encoding = "@ENCODING@"
t.header = h
t.toDicomFile("@OUT@/copy.dcm", @GROUPLENGTH@)
)";

const char* const kExpectedChanges = R"((0008,0022) 19991231
(0008,0032) 235958
(0008,0080) Sylmark General Hospital
(0008,0090) Smith^Jane
(0010,0010) Roe^Richard^^Dr
(0010,0030) 19800229
(0010,1002)[2](0010,0020) ZZZ999
(0010,1030) 72.5
(0011,1010) -7
(0019,1002) -4321
(0020,0011) 42
(0028,1052) -1000.500000
)";

} // namespace

// A CT image of the corpus, and the same image made big endian by DCMTK, changed and written in
// each encoding the writer has: implicit and explicit VR little endian and explicit VR big
// endian, with and without group lengths. pydicom finds exactly the changes made in each copy and
// nothing else changed (pixel data included); dcmdump reads each one without a complaint.
TEST(PluginDocuments, ChangedFilesWrittenInEveryEncodingReadBackInThePeers) {
    struct Case {
        std::string source;
        const char* encoding;
        const char* dcmdumpSyntax;
        bool groupLengths;
    };
    const Case cases[] = {
        {corpus("CT_small.dcm"), "1.2.840.10008.1.2", "Little Endian Implicit", false},
        {corpus("CT_small.dcm"), "1.2.840.10008.1.2.1", "Little Endian Explicit", true},
        {corpus("CT_small.dcm"), "1.2.840.10008.1.2.2", "Big Endian Explicit", false},
        {bigEndianFile(), "1.2.840.10008.1.2", "Little Endian Implicit", true},
        {bigEndianFile(), "1.2.840.10008.1.2.1", "Little Endian Explicit", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source + " as " + c.encoding);
        Scratch scratch;
        std::string text = kChangesScript;
        plugintest::replaceAll(text, "@SRC@", c.source);
        plugintest::replaceAll(text, "@ENCODING@", c.encoding);
        plugintest::replaceAll(text, "@GROUPLENGTH@", c.groupLengths ? "true" : "false");
        EXPECT_EQ(scratch.output(text), "");
        const std::string copy = scratch.file("copy.dcm");
        ASSERT_TRUE(std::filesystem::exists(copy));
        EXPECT_EQ(scratch.changes(c.source, copy), std::string(c.encoding) + "\n" + kExpectedChanges);

        const std::string dump = dcmdump(copy);
        EXPECT_TRUE(has(dump, std::string("# Used TransferSyntax: ") + c.dcmdumpSyntax)) << dump;
        EXPECT_TRUE(has(dump, "(0010,0010) PN [Roe^Richard^^Dr]")) << dump;
        EXPECT_TRUE(has(dump, "(0008,0090) PN [Smith^Jane]")) << dump;
        EXPECT_TRUE(has(dump, "(0019,1002) SL -4321")) << dump;
        EXPECT_TRUE(has(dump, "(0011,1010) SS -7")) << dump;
        EXPECT_TRUE(has(dump, "(0008,0022) DA [19991231]")) << dump;
        EXPECT_TRUE(has(dump, "(0020,0011) IS [42]")) << dump;
        EXPECT_EQ(has(dump, "(0008,0000) UL"), c.groupLengths) << dump;
    }
}

// A file of every value representation, read through the document's named views and their typed
// values, then written back unchanged in each encoding: pydicom finds nothing changed.
TEST(PluginDocuments, TypedValuesOfEveryRepresentationReadAndWriteBack) {
    Scratch scratch;
    const std::string source = everyRepresentationFile();
    // Each element is read as the typed value FenraDicomSystem makes of it (as `v`), from the
    // named view or group it belongs to; `reads` prints from that value what `shows` expects.
    struct TypedRead {
        const char* view;
        int key;
        const char* reads;
        const char* shows;
    };
    const TypedRead typedReads[] = {
        {"study", 8, "print v.concatStringValues", "DERIVED\\SECONDARY"},
        {"study", 18, "print v.sqlDate", "2001-12-31"},
        {"study", 19, "print v.sqlTime\nprint v.microseconds", "23:59:58\n123456"},
        {"study", 42, "print v.sqlDateTime\nprint v.utcOffsetHours", "2001-12-31 23:59:58\n1"},
        {"study", 84, "print v.stringValue", "STORE_SCP"},
        {"study", 144, "print v.familyName\nprint v.givenName\nprint v.prefix", "Smith\nJohn\nDr."},
        {"study", 4449, "print v.UInt32Value\ntwo = v.item(2)\nprint two.UInt32Value", "4000000000\n7"},
        {"study", 8465, "print v.stringValue", "short text"},
        {"patient", 16, "print v.middleName\nprint v.prefix\nprint v.suffix", "Q\nMrs\nIII"},
        {"patient", 4112, "print v.years", "42"},
        {"patient", 4144, "print v.doubleValue", "72.5"},
        {"patient", 8624, "print v.stringValue", "long text"},
        {"patient", 37937, "print v.singleValue", "1.5"},
        {"acquisition", 4432, "print v.integerValue", "2000"},
        {"acquisition", 24608, "print v.integerValue", "-70000"},
        {"acquisition", 37637, "print v.doubleValue", "2.25"},
        {"image", 13, "print v.stringValue", "1.2.826.0.1.3680043.2.1143.42.2"},
        {"imagePixel", 9, "one = v.item(1)\nprint one.stringValue", "0x0054,0x0010"},
        {"imagePixel", 288, "print v.shortValue", "-2000"},
        {"value(64)", 41312, "print v.stringValue", "unlimited text"},
        {"value(66)", 17, "print v.vr\nbytes = v.data\nprint bytes.Size", "OB\n4"},
        {"value(100)", 9, "print v.vr\nbytes = v.data\nprint bytes.Size", "OF\n8"},
    };
    std::string text = R"(t = FenraDicomSystem.openFile("@SRC@")
print t.hasThumbnails
print t.thumbnails
s = t.study
p = t.patient
px = t.imagePixel
print s.modality
print s.studyDate
print s.institution
print p.name
print p.age
print p.weight
print px.bitsStored
)";
    std::string expected = R"(true
FenraObjectsList
OT
19991231
General Hospital
Doe^Jane^Q^Mrs^III
042Y
72.5
12
)";
    for (const TypedRead& r : typedReads) {
        text += std::string("g = t.") + r.view + "\nraw = g.value(" + std::to_string(r.key) +
                ")\nv = FenraDicomSystem.createDataElementValue(raw)\n" + r.reads + "\n";
        expected += std::string(r.shows) + "\n";
    }
    text += R"(h = t.header
h.encoding = FenraDicomHeader.kEnc_ImplicitLE
t.header = h
t.toDicomFile("@OUT@/implicit.dcm")
h.encoding = FenraDicomHeader.kEnc_ExplicitBE
t.header = h
t.toDicomFile("@OUT@/big.dcm")
h.encoding = FenraDicomHeader.kEnc_ExplicitLE
t.header = h
t.toDicomFile("@OUT@/explicit.dcm")
)";
    plugintest::replaceAll(text, "@SRC@", source);
    EXPECT_EQ(scratch.output(text), expected);
    for (const char* name : {"implicit.dcm", "big.dcm", "explicit.dcm"}) {
        SCOPED_TRACE(name);
        const std::string copy = scratch.file(name);
        std::string found = scratch.changes(source, copy);
        EXPECT_EQ(found.find('\n'), found.size() - 1) << found;
        const std::string dump = dcmdump(copy);
        EXPECT_TRUE(has(dump, "(0064,0009) OF 1.5\\-2.25")) << dump;
        EXPECT_TRUE(has(dump, "(0028,0009) AT (0054,0010)\\(0054,0020)")) << dump;
        EXPECT_TRUE(has(dump, "(0008,1161) UL 4000000000\\7")) << dump;
    }
}

// A DICOMDIR of the corpus opened as a directory document, its file-set identifier and a
// patient record changed, written back as a DICOMDIR: pydicom finds those two changes and the
// records linked as before (the offsets change with the lengths), and dcmdump reads it.
TEST(PluginDocuments, DirectoryWrittenAsADicomdirReadsBackInThePeers) {
    Scratch scratch;
    const std::string source = corpus("dicomdirtests/DICOMDIR");
    std::string text = R"(d = FenraDicomSystem.openFile("@SRC@")
r = d.root
print r.fileSetID
r.fileSetID = "SYLMARK_SET"
records = r.directory
first = records.value(1)
g = first.value(4)
print g.directoryRecordType
g = first.value(16)
g.name = "Doe^Archibald^Changed"
first.value(16) = g
records.value(1) = first
r.directory = records
d.root = r
d.toDicomFile("@OUT@/DICOMDIR")
)";
    plugintest::replaceAll(text, "@SRC@", source);
    EXPECT_EQ(scratch.output(text), "PYDICOM_TEST\nPATIENT\n");
    const std::string copy = scratch.file("DICOMDIR");
    EXPECT_EQ(
        scratch.changes(source, copy, true),
        "1.2.840.10008.1.2.1\n(0004,1130) SYLMARK_SET\n(0004,1220)[1](0010,0010) Doe^Archibald^Changed\n");
    const std::string dump = dcmdump(copy);
    EXPECT_TRUE(has(dump, "(0004,1130) CS [SYLMARK_SET]")) << dump;
    EXPECT_TRUE(has(dump, "(0010,0010) PN [Doe^Archibald^Changed]")) << dump;
}

// The module's openFile and the classes' own constructors: a folder item makes a plain tree of
// any file, a document of an image file and (through the module: the directory document's own
// constructor from a folder item is for programs with windows) a directory document of a
// DICOMDIR; a document of a
// DICOMDIR, a file that is not DICOM or one that cannot be read whole is empty; the cloning
// constructor makes an independent copy, nil an empty object.
TEST(PluginDocuments, ConstructorsAndTheDocumentKinds) {
    Scratch scratch;
    testsupport::writeFile(scratch.file("plain.txt"), std::string(300, 'x'));
    EXPECT_EQ(scratch.output(R"(t = FenraDicomTree.Constructor("@CORPUS@/dicomdirtests/DICOMDIR")
print t
h = t.header
print h.sopClass
k = t.keys
print k.integerValue(0)
d = FenraDicomSystem.openFile("@CORPUS@/dicomdirtests/DICOMDIR")
r = d.root
print r.fileSetID
print FenraDicomDirectoryDocument.fileID
opened = FenraDicomSystem.openFile("@CORPUS@/dicomdirtests/DICOMDIR")
print opened
print FenraDicomSystem.openFile("@CORPUS@/MR_truncated.dcm")
truncated = FenraDicomDocument.Constructor("@CORPUS@/MR_truncated.dcm")
print truncated
wrongKind = FenraDicomDocument.Constructor("@CORPUS@/dicomdirtests/DICOMDIR")
print wrongKind.header
print wrongKind.patient
notDicom = FenraDicomTree.Constructor("@OUT@/plain.txt")
print notDicom.path
print notDicom.keys
doc = FenraDicomDocument.Constructor("@CORPUS@/CT_small.dcm")
copy = FenraDicomDocument.Constructor(doc)
cp = copy.patient
cp.name = "Copy^Name"
copy.patient = cp
p = doc.patient
print p.name
cp = copy.patient
print cp.name
doc = nil
print copy.path
print copy.hasData
none = FenraDicomDocument.Constructor(nil)
print none.path
print none.anonymize()
empty = FenraDicomDocument.Constructor()
print empty
fresh = FenraDicomDirectoryDocument.Constructor()
root = fresh.root
print root.fileSetID
records = fresh.rootDirectory
print records.elementID
h = fresh.header
print h.sopClass
print h.encoding
)"),
              withCorpus(R"(FenraDicomTree
  path = @CORPUS@/dicomdirtests/DICOMDIR
  hasThumbnails = false
  header = FenraDicomHeader
  thumbnails = nil
  keys = FenraDicomValue
  values = FenraObjectsList
1.2.840.10008.1.3.10
4
PYDICOM_TEST
DICOMDIR
FenraDicomDirectoryDocument
  path = @CORPUS@/dicomdirtests/DICOMDIR
  hasThumbnails = false
  header = FenraDicomHeader
  thumbnails = nil
  keys = FenraDicomValue
  values = FenraObjectsList
  root = FenraDicomFileSet
  rootDirectory = FenraDicomItemSequence
nil
)" + documentWithNoData("nil", "nil") +
                         R"(nil
nil

nil
CompressedSamples^CT1
Copy^Name
@CORPUS@/CT_small.dcm
true

nil
)" + documentWithNoData("FenraDicomHeader", "FenraDicomValue") +
                         R"(
4640
1.2.840.10008.1.3.10
1.2.840.10008.1.2.1
)"));
}

// Getters hand out copies that reach the tree only when stored back; a tree's groups, header and
// list of values go from one tree to another. Keys out of range and missing groups give nil, and
// nothing is handed out by reference.
TEST(PluginDocuments, GettersHandOutCopiesThatSettersStore) {
    Scratch scratch;
    EXPECT_EQ(scratch.output(R"(t = FenraDicomSystem.openFile("@CORPUS@/CT_small.dcm")
h = t.header
h.sopInstance = "1.2.3"
again = t.header
print again.sopInstance
t.header = h
again = t.header
print again.sopInstance
p = t.patient
p.name = "Changed^In^The^Copy"
again = t.patient
print again.name
t.value(16) = p
again = t.patient
print again.name
v = t.values
e = FenraDicomDocument.Constructor()
e.values = v
ep = e.patient
print ep.name
k = e.keys
print k.integerValue(0)
print k.integerValue(5)
ex = e.imagePixel
print ex.width
print t.dataSamplesInfo
print t.valueByRef(16)
print t.value(-1)
print t.value(65536)
print t.value(99)
cleared = FenraDicomDataSet.Constructor(32)
t.value(32) = cleared
i = t.image
print i.studyID
)"),
              "1.3.6.1.4.1.5962.1.1.1.1.1.20040119072730.12322\n1.2.3\nCompressedSamples^CT1\n"
              "Changed^In^The^Copy\nChanged^In^The^Copy\n8\n25\n128\nFenraDicomPixelData\n" +
                  withCorpus("  path = @CORPUS@/CT_small.dcm\n") +
                  "  encoding = 1.2.840.10008.1.2.1\n  variableChunksSize = false\n  dataSwapping = false\n  "
                  "count = 1\n"
                  "nil\nnil\nnil\nnil\n\n");
}

// Nil arguments are ignored; an object of another class is refused, by the host where the
// declaration names the class and by the plug-in where it names any object; a data set goes only
// under its own group. An empty tree reads empty and writes nothing.
TEST(PluginDocuments, NilArgumentsObjectsOfAnotherClassAndEmptyTrees) {
    Scratch scratch;
    EXPECT_EQ(
        scratch.output(R"(t = FenraDicomSystem.openFile("@CORPUS@/CT_small.dcm")
s = t.study
t.value(16) = s
t.patient = nil
t.value(16) = nil
t.header = nil
t.values = nil
name = FenraDicomPersonName.Constructor("Ann", "Other")
t.value(16) = name
t.value(8) = t
t.toDicomFile(nil)
t.toDicomFile("")
t.toDicomFile("@OUT@/missing/copy.dcm")
p = t.patient
print p.name
s = t.study
print s.modality
h = t.header
print h.encoding
k = t.keys
print k.integerValue(5)
d = FenraDicomSystem.openFile("@CORPUS@/dicomdirtests/DICOMDIR")
d.root = nil
d.value(16) = p
print d.value(16)
r = d.root
print r.fileSetID
dh = d.header
t.header = dh
h = t.header
print h.sopClass
empty = FenraDicomTree.Constructor(nil)
empty.value(16) = p
empty.header = h
empty.toDicomFile("@OUT@/empty.dcm")
print empty
print empty.value(16)
print empty.anonymize()
)"),
        "CompressedSamples^CT1\nCT\n1.2.840.10008.1.2.1\n25\nnil\nPYDICOM_TEST\n1.2.840.10008.5.1.4.1.1.2\n"
        "FenraDicomTree\n  path = \n  hasThumbnails = false\n  header = nil\n  thumbnails = nil\n"
        "  keys = nil\n  values = nil\nnil\nnil\n");
    EXPECT_FALSE(std::filesystem::exists(scratch.file("empty.dcm")));
    EXPECT_FALSE(std::filesystem::exists(scratch.file("missing")));

    struct Refused {
        const char* statement;
        const char* why;
    };
    const Refused refused[] = {
        {"t.patient = s", "FenraDicomDocument.patient expects a FenraDicomPatient, not a FenraDicomStudy"},
        {"t.header = s", "FenraDicomDocument.header expects a FenraDicomHeader, not a FenraDicomStudy"},
        {"t.values = s", "FenraDicomDocument.values expects a FenraList, not a FenraDicomStudy"},
        {"d.root = s", "FenraDicomDirectoryDocument.root expects a FenraDicomFileSet, not a FenraDicomStudy"},
        {"copy = FenraDicomDocument.Constructor(d)", "FenraDicomDirectoryDocument"},
        // Read from a folder item only by programs with windows.
        {"r = FenraDicomDirectoryDocument.Constructor(\"@CORPUS@/dicomdirtests/DICOMDIR\")",
         "argument 1 (other) expects a FenraDicomDirectoryDocument"},
    };
    for (const Refused& r : refused) {
        SCOPED_TRACE(r.statement);
        ScriptRun run =
            scratch.run(std::string("t = FenraDicomSystem.openFile(\"@CORPUS@/CT_small.dcm\")\n"
                                    "d = FenraDicomSystem.openFile(\"@CORPUS@/dicomdirtests/DICOMDIR\")\n"
                                    "s = t.study\n") +
                        r.statement + "\n");
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(has(run.err, r.why)) << run.err;
    }
}

// anonymize() gives an anonymised copy and leaves the tree as it was; the copy is written as a
// file that pydicom reads, with names and identifiers changed and the pixel data untouched.
TEST(PluginDocuments, AnonymizeGivesAnAnonymisedCopy) {
    Scratch scratch;
    EXPECT_EQ(scratch.output(R"(t = FenraDicomSystem.openFile("@CORPUS@/CT_small.dcm")
a = t.anonymize()
p = t.patient
print p.name
print p.id
ap = a.patient
print ap.name
a.toDicomFile("@OUT@/anonymous.dcm")
)"),
              "CompressedSamples^CT1\n1CT1\nXXXXXXXXXXXXXXXXX^XXX\n");
    const std::string found = scratch.changes(corpus("CT_small.dcm"), scratch.file("anonymous.dcm"));
    EXPECT_TRUE(has(found, "(0010,0010) ")) << found;
    EXPECT_TRUE(has(found, "(0010,0020) ")) << found;
    EXPECT_FALSE(has(found, "(7FE0,0010)")) << found;
    EXPECT_FALSE(has(found, "(0028,")) << found;
}

// The example script of the README, run as it stands (its copy written into a scratch folder):
// it prints the patient's name, and the copy differs from the file in that name alone.
TEST(PluginDocuments, TheReadmeExampleDoesWhatItSays) {
    const std::string readme = testsupport::readFile(std::string(SYLMARK_SOURCE_DIR) + "/README.md");
    const size_t section = readme.find("## A script of your own");
    ASSERT_NE(section, std::string::npos);
    std::string example;
    size_t at = readme.find("\n    ", section);
    ASSERT_NE(at, std::string::npos);
    while (at != std::string::npos && readme.compare(at, 5, "\n    ") == 0) {
        const size_t end = readme.find('\n', at + 1);
        example += readme.substr(at + 5, end - at - 5) + "\n";
        at = end;
    }
    ASSERT_TRUE(has(example, "toDicomFile(\"/tmp/CT_small-copy.dcm\")")) << example;
    plugintest::replaceAll(example, "/tmp/CT_small-copy.dcm", "@OUT@/copy.dcm");
    Scratch scratch;
    EXPECT_EQ(scratch.output(example), "CompressedSamples^CT1\n");
    EXPECT_EQ(scratch.changes(corpus("CT_small.dcm"), scratch.file("copy.dcm")),
              "1.2.840.10008.1.2.1\n(0010,0010) Doe^Jane\n");
}

namespace {

class PluginDocumentsInProcess : public plugintest::PluginTest {};

} // namespace

// Every property of the three classes read and written with a parameter its record never gives:
// the getter answers empty and the setter changes nothing, on a document of each kind. What the
// setters are given is the property's own value, changed, so that a store would show.
TEST_F(PluginDocumentsInProcess, ParametersOutOfRangeGiveEmptyResults) {
    using sylhost::Value;
    struct Case {
        const char* file;
        const char* hostClass;
        const char* view; // an object property whose value is changed before it is given
        const char* text; // the string property of that value that is changed
    };
    const Case cases[] = {
        {"CT_small.dcm", "FenraDicomDocument", "patient", "name"},
        {"CT_small.dcm", "FenraDicomDocument", "header", "sopInstance"},
        {"dicomdirtests/DICOMDIR", "FenraDicomDirectoryDocument", "root", "fileSetID"},
        {"dicomdirtests/DICOMDIR", "FenraDicomDirectoryDocument", "header", "sopInstance"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.hostClass) + "." + c.view);
        sylhost::CallOutcome opened =
            host().callModule("FenraDicomSystem", "openFile", {host().newFolderItem(corpus(c.file))});
        ASSERT_TRUE(opened.ok) << opened.error;
        Value document = opened.result;
        ASSERT_EQ(document.className(), c.hostClass);
        auto text = [&] {
            return host().describe(host().getProperty(host().getProperty(document, c.view), c.text));
        };
        const std::string before = text();
        Value changed = host().getProperty(document, c.view);
        std::string why;
        ASSERT_TRUE(host().setProperty(changed, c.text, host().newString("9.9.9"), why)) << why;
        for (const sylhost::ClassInfo* cls = host().findClass(c.hostClass);
             cls && cls->name != "FenraDictionary"; cls = cls->super) {
            for (sylhost::PropertyInfo prop : cls->properties) {
                SCOPED_TRACE(prop.name);
                const bool given = prop.name == c.view;
                for (int32_t param : {-1, 5, 99}) {
                    prop.param = param;
                    Value out;
                    ASSERT_TRUE(host().callGetter(prop, document.object(), out));
                    const std::string shown = host().describe(out);
                    EXPECT_TRUE(shown == "" || shown == "nil" || shown == "false") << param << ": " << shown;
                    if (given && prop.setter) {
                        EXPECT_TRUE(host().callSetter(prop, document.object(), changed));
                    }
                }
            }
        }
        EXPECT_EQ(text(), before);
    }
}
