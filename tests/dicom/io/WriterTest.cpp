// The Part 10 writer: files of the corpus written back in every encoding read the same in DCMTK
// and pydicom, with a sound meta information header; data stored after the pixel data and
// waveform data stay where they were; a file written onto itself stays whole; compressed pixel
// data are never written in another syntax; the exact bytes of small trees.
#include "KelvoDicomDataSetViews.h"
#include "KelvoDicomDataTree.h"
#include "KelvoDicomStream.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using testsupport::run;

constexpr const char* kExplicitLE = "1.2.840.10008.1.2.1";
constexpr const char* kImplicitLE = "1.2.840.10008.1.2";
constexpr const char* kExplicitBE = "1.2.840.10008.1.2.2";

std::string corpusFile(const std::string& name) {
    return std::string(testsupport::pydicomTestFiles()) + "/" + name;
}

std::string quoted(const std::string& s) {
    return "'" + s + "'";
}

// Compares each written file with its source in pydicom: the same elements at every level with
// the same values (group lengths, and the record offsets of directories, aside), OB/OW/OF/OD data
// byte-swapped by their unit where the byte order changed, and a meta information header that
// names the expected transfer syntax and the source's SOP class and instance. Manifest lines:
// source, written, byte order changed (0/1), expected transfer syntax, tab-separated. Prints one
// line per difference.
const char* const kCompareScript = R"PY(
import sys, warnings
warnings.filterwarnings('ignore')
import pydicom
from pydicom.filebase import DicomBytesIO
from pydicom.filewriter import write_data_element

UNIT = {'OW': 2, 'OF': 4, 'OL': 4, 'OD': 8, 'OV': 8}
OFFSETS = {0x00041200, 0x00041202, 0x00041400, 0x00041420}

def swapped(b, n):
    if n <= 1:
        return bytes(b)
    out = bytearray(b)
    for i in range(0, len(b) - len(b) % n, n):
        out[i:i + n] = b[i:i + n][::-1]
    return bytes(out)

def little_endian_bytes(elem):
    fp = DicomBytesIO()
    fp.is_little_endian = True
    fp.is_implicit_VR = True
    write_data_element(fp, elem)
    return fp.getvalue()[8:]

def same_value(ea, eb, swap, implicit_out):
    va, vb = ea.value, eb.value
    a_bytes = isinstance(va, (bytes, bytearray))
    b_bytes = isinstance(vb, (bytes, bytearray))
    if a_bytes and b_bytes:
        # Swapped by the unit of the VR written, or of the source's where the output has none.
        unit = UNIT.get((ea if implicit_out else eb).VR, 1)
        return (swapped(va, unit) if swap else bytes(va)) == bytes(vb)
    if a_bytes != b_bytes:
        # One side has no VR to read the value with (implicit VR, private): compare encodings.
        ra = bytes(va) if a_bytes else little_endian_bytes(ea)
        rb = bytes(vb) if b_bytes else little_endian_bytes(eb)
        return ra == rb or ra.rstrip(b' \0') == rb.rstrip(b' \0')
    if va is None or vb is None:
        return (va in (None, '', b'')) and (vb in (None, '', b''))
    try:
        if hasattr(va, '__len__') and not isinstance(va, str) and hasattr(vb, '__len__') and not isinstance(vb, str):
            return list(va) == list(vb)
    except TypeError:
        pass
    return va == vb

def compare(a, b, where, swap, implicit_out, directory, problems):
    ka = sorted(t for t in a.keys() if t.element != 0)
    kb = sorted(t for t in b.keys() if t.element != 0)
    if ka != kb:
        problems.append('%s tags differ: missing %s, extra %s' % (where, sorted(map(str, set(ka) - set(kb))),
                                                                 sorted(map(str, set(kb) - set(ka)))))
        return
    for t in ka:
        if directory and int(t) in OFFSETS:
            continue
        ea, eb = a[t], b[t]
        w = '%s%s' % (where, t)
        if ea.VR == 'SQ' or eb.VR == 'SQ':
            sa, sb = ea.value or [], eb.value or []
            if ea.VR != eb.VR or len(sa) != len(sb):
                problems.append('%s sequence differs (%s %d items, %s %d items)' % (w, ea.VR, len(sa), eb.VR, len(sb)))
                continue
            for i, (x, y) in enumerate(zip(sa, sb)):
                compare(x, y, '%s[%d]' % (w, i + 1), swap, implicit_out, directory, problems)
            continue
        if not same_value(ea, eb, swap, implicit_out):
            problems.append('%s value differs: %r vs %r' % (w, str(ea.value)[:60], str(eb.value)[:60]))

def trim(v):
    return str(v or '').rstrip(' \0')

count = 0
for line in open(sys.argv[1]):
    source, written, swap, syntax = line.rstrip('\n').split('\t')
    try:
        a = pydicom.dcmread(source, force=True)
        b = pydicom.dcmread(written)
        meta = b.file_meta
        problems = []
        if trim(meta.get('TransferSyntaxUID')) != syntax:
            problems.append('transfer syntax %s' % meta.get('TransferSyntaxUID'))
        for element, own in ((0x00020002, 0x00080016), (0x00020003, 0x00080018)):
            had = a.file_meta.get(element) if hasattr(a, 'file_meta') else None
            want = trim(had.value) if had is not None and trim(had.value) else trim(a.get(own).value if own in a else '')
            got = trim(meta[element].value) if element in meta else ''
            if want and got != want:
                problems.append('meta %08x is %r, not %r' % (element, got, want))
        if not trim(meta.get('ImplementationClassUID')):
            problems.append('no implementation class UID')
        directory = trim(meta.get('MediaStorageSOPClassUID')) == '1.2.840.10008.1.3.10'
        compare(a, b, '', swap == '1', syntax == '1.2.840.10008.1.2', directory, problems)
        if not problems and 'PixelData' in a and a.get('BitsAllocated') == 16 and \
                not a.file_meta.TransferSyntaxUID.is_compressed:
            import numpy
            if not numpy.array_equal(a.pixel_array, b.pixel_array):
                problems.append('pixel values differ')
    except Exception as e:
        problems = ['exception %r' % e]
    for p in problems[:5]:
        print('%s: %s' % (written, p))
    count += 1
print('compared %d' % count)
)PY";

// Runs the comparison over a manifest and returns its report, "" when everything matched.
std::string comparePydicom(const testsupport::ScratchDir& dir, const std::string& manifest, size_t expected) {
    const std::string script = dir.file("compare.py");
    testsupport::writeFile(script, kCompareScript);
    int status = 0;
    std::string out = run("/usr/bin/python3 " + quoted(script) + " " + quoted(manifest) + " 2>&1", &status);
    const std::string done = "compared " + std::to_string(expected) + "\n";
    if (status == 0 && out == done) return "";
    return out;
}

// The (tag, VR) outline of a file's data set as dcmdump sees it: one line per element at every
// level, indented by depth, meta information and group lengths aside.
std::vector<std::string> dcmdumpOutline(const std::string& file) {
    std::istringstream in(run("dcmdump -q +L " + quoted(file) + " 2>/dev/null"));
    std::vector<std::string> out;
    bool dataSet = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("# Dicom-Data-Set", 0) == 0) dataSet = true;
        size_t indent = line.find_first_not_of(' ');
        if (!dataSet || indent == std::string::npos || line[indent] != '(' || line.size() < indent + 14)
            continue;
        std::string tag = line.substr(indent, 11);
        if (tag.substr(6, 4) == "0000") continue;
        out.push_back(line.substr(0, indent) + tag + " " + line.substr(indent + 12, 2));
    }
    return out;
}

// DCMTK reads the files without an error.
std::string dcmdumpErrors(const std::vector<std::string>& files) {
    std::string all;
    for (const std::string& f : files)
        all += " " + quoted(f);
    std::string out = run("dcmdump" + all + " 2>&1 >/dev/null | grep -E '^(E|F):'");
    return out;
}

// What dciodvfy reports about the meta information header of each file, by file: its error
// lines, or "cannot read" when it gives up on the file altogether (it stops at 32-bit pixel data).
std::map<std::string, std::set<std::string>> metaHeaderErrors(const testsupport::ScratchDir& dir,
                                                              const std::vector<std::string>& files) {
    const std::string list = dir.file("dciodvfy.list");
    std::string text;
    for (const std::string& f : files)
        text += f + "\n";
    testsupport::writeFile(list, text);
    const std::string script = dir.file("dciodvfy.sh");
    testsupport::writeFile(script, R"SH(
out=$(dciodvfy "$1" 2>&1)
[ $? -gt 1 ] && printf '%s\tcannot read\n' "$1"
printf '%s\n' "$out" | grep -E '^Error' |
  grep -iE 'meta|mediastorage|media storage|transfersyntax|transfer syntax|implementationclass|implementation class|0x0002,' |
  sed "s|^|$1\t|"
)SH");
    std::istringstream in(
        run("xargs -d '\\n' -P 8 -n 1 sh " + quoted(script) + " < " + quoted(list) + " 2>/dev/null"));
    std::map<std::string, std::set<std::string>> out;
    for (std::string line; std::getline(in, line);) {
        size_t tab = line.find('\t');
        if (tab != std::string::npos) out[line.substr(0, tab)].insert(line.substr(tab + 1));
    }
    return out;
}

// The meta header errors of written files that their sources do not have already.
std::string newMetaHeaderErrors(const testsupport::ScratchDir& dir,
                                const std::vector<std::pair<std::string, std::string>>& sourceAndWritten) {
    std::vector<std::string> files;
    for (const auto& [source, written] : sourceAndWritten)
        files.push_back(written);
    auto errors = metaHeaderErrors(dir, files);
    // The sources are looked at only where a written file has something to say.
    files.clear();
    for (const auto& [source, written] : sourceAndWritten)
        if (errors.count(written)) files.push_back(source);
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    if (!files.empty()) errors.merge(metaHeaderErrors(dir, files));
    std::string report;
    for (const auto& [source, written] : sourceAndWritten)
        for (const std::string& e : errors[written])
            if (!errors[source].count(e)) report += written + ": " + e + "\n";
    return report;
}

std::unique_ptr<KelvoDicomDataTree> openTree(const std::string& path) {
    return std::unique_ptr<KelvoDicomDataTree>(KelvoDicomDataTree::openFile(path.c_str()));
}

std::string syntaxOf(KelvoDicomDataTree& tree) {
    std::unique_ptr<KelvoDicomDataHeader> header(tree.Header());
    char uid[80] = {};
    if (header) header->getStringValueProperty(0x0010, uid, sizeof uid);
    return uid;
}

void setSyntax(KelvoDicomDataTree& tree, const char* uid) {
    std::unique_ptr<KelvoDicomDataHeader> header(tree.Header());
    header->XFerSyntax(uid);
    tree.Header(header.get());
}

bool bigEndian(const std::string& uid) {
    return uid == kExplicitBE;
}

std::vector<fs::path> readableCorpus() {
    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator(testsupport::pydicomTestFiles())) {
        if (!e.is_regular_file()) continue;
        std::string ext = e.path().extension().string();
        if (ext == ".txt" || ext == ".json" || ext == ".dump" || ext == ".gz" || ext == ".py") continue;
        files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    std::vector<fs::path> readable;
    for (const fs::path& f : files) {
        auto tree = openTree(f.string());
        if (tree && tree->readError() == 0 && tree->qtObjIsValid()) readable.push_back(f);
    }
    return readable;
}

TEST(WriterCorpus, EveryReadableFileWritesBackInEachEncoding) {
    testsupport::ScratchDir dir("writer-corpus");
    const std::vector<fs::path> corpus = readableCorpus();
    ASSERT_GT(corpus.size(), 140u);
    std::string manifest;
    std::vector<std::string> written;
    std::vector<std::pair<std::string, std::string>> pairs;
    int compressed = 0, directories = 0;
    for (size_t i = 0; i < corpus.size(); ++i) {
        const std::string source = corpus[i].string();
        auto tree = openTree(source);
        ASSERT_TRUE(tree && tree->readError() == 0) << source;
        const std::string own = syntaxOf(*tree);
        std::unique_ptr<KelvoDicomDataHeader> header(tree->Header());
        const bool isDirectory = tree->isA("KelvoDicomDirectoryDocument");
        std::vector<std::string> syntaxes;
        if (isDirectory) {
            ++directories;
            // Directories are always written explicit VR, in their own byte order.
            syntaxes = {own == kImplicitLE ? std::string(kExplicitLE) : own};
        } else if (header->isDataCompressed()) {
            ++compressed;
            syntaxes = {own};
        } else {
            syntaxes = {kExplicitLE, kImplicitLE, kExplicitBE};
        }
        std::vector<std::string> encodings;
        for (const std::string& syntax : syntaxes) {
            for (uint8_t groupLength : {0, 1}) {
                if (!isDirectory) setSyntax(*tree, syntax.c_str());
                const std::string out =
                    dir.file(std::to_string(written.size()) + "-" + corpus[i].filename().string() + ".dcm");
                tree->toDicomFile(out.c_str(), groupLength);
                ASSERT_EQ(tree->Error(), 0) << source << " as " << syntax;
                written.push_back(out);
                encodings.push_back(out);
                const bool swap = bigEndian(own) != bigEndian(syntax);
                manifest += source + "\t" + out + "\t" + (swap ? "1" : "0") + "\t" + syntax + "\n";
            }
        }
        // The meta header is written by one road whatever the encoding: dciodvfy, which takes a
        // while for each file, looks at one encoding of each file, in turn.
        pairs.emplace_back(source, encodings[i % encodings.size()]);
    }
    EXPECT_GT(compressed, 20);
    EXPECT_GE(directories, 6);
    const std::string list = dir.file("manifest.txt");
    testsupport::writeFile(list, manifest);
    EXPECT_EQ(dcmdumpErrors(written), "");
    EXPECT_EQ(newMetaHeaderErrors(dir, pairs), "");
    EXPECT_EQ(comparePydicom(dir, list, written.size()), "");
}

// The tree's own header is not changed by a write; the file's header names the SOP class and
// instance of the data set and the library, and carries the version and the transfer syntax.
TEST(Writer, MetaHeaderIsCompletedInACopy) {
    testsupport::ScratchDir dir("writer-meta");
    KelvoDicomDocument tree;
    KelvoDicomDataStudy identification;
    identification.setStringValueProperty(0x0016, "1.2.840.10008.5.1.4.1.1.7");
    identification.setStringValueProperty(0x0018, "1.2.3.4.5.6");
    tree.setObjValue(0x0008, &identification);
    std::unique_ptr<KelvoDicomDataHeader> before(tree.Header());
    ASSERT_FALSE(before->HasKey(0x0002));
    const std::string out = dir.file("meta.dcm");
    tree.toDicomFile(out.c_str(), 0);
    ASSERT_EQ(tree.Error(), 0);

    std::unique_ptr<KelvoDicomDataHeader> after(tree.Header());
    EXPECT_FALSE(after->HasKey(0x0002));
    EXPECT_FALSE(after->HasKey(0x0003));
    EXPECT_FALSE(after->HasKey(0x0012));

    std::unique_ptr<KelvoDicomDataHeader> written(KelvoDicomDataHeader::openFile(out.c_str()));
    ASSERT_NE(written, nullptr);
    auto text = [&](uint16_t element) {
        char value[80] = {};
        written->getStringValueProperty(element, value, sizeof value);
        return std::string(value);
    };
    EXPECT_EQ(text(0x0002), "1.2.840.10008.5.1.4.1.1.7");
    EXPECT_EQ(text(0x0003), "1.2.3.4.5.6");
    EXPECT_EQ(text(0x0010), kExplicitLE);
    EXPECT_EQ(text(0x0012), VUX::VUXDCM::VUXDicomLibrary::defaultImplementationUID());
    EXPECT_TRUE(written->HasKey(0x0001));
    EXPECT_TRUE(metaHeaderErrors(dir, {out}).empty());

    // A header made up for a stream that had none takes the data set's identification rather
    // than the made-up class.
    auto raw = openTree(corpusFile("ExplVR_LitEndNoMeta.dcm"));
    ASSERT_TRUE(raw && raw->readError() == 0);
    const std::string rewritten = dir.file("nometa.dcm");
    raw->toDicomFile(rewritten.c_str(), 0);
    ASSERT_EQ(raw->Error(), 0);
    const std::string py =
        run("/usr/bin/python3 -c \"import pydicom;a=pydicom.dcmread('" +
            corpusFile("ExplVR_LitEndNoMeta.dcm") + "',force=True);b=pydicom.dcmread('" + rewritten +
            "');print(a.SOPClassUID==b.file_meta.MediaStorageSOPClassUID,"
            "a.SOPInstanceUID==b.file_meta.MediaStorageSOPInstanceUID)\"");
    EXPECT_EQ(py, "True True\n");
}

// The exact bytes of a small data set in each encoding, with and without group lengths.
TEST(Writer, DataSetBytesFollowTheTransferSyntax) {
    testsupport::ScratchDir dir("writer-bytes");
    KelvoDicomDocument tree;
    KelvoDicomDataPatient patient;
    patient.setStringValueProperty(0x0010, "DOE^J");
    tree.setObjValue(0x0010, &patient);
    KelvoDicomDataSet pixels(0x0028);
    pixels.setUSValueProperty(0x0010, 0x0102);
    tree.setObjValue(0x0028, &pixels);
    struct Case {
        const char* syntax;
        uint8_t groupLength;
        const char* bytes;
        size_t size;
    };
#define BYTES(s) s, sizeof(s) - 1
    const Case cases[] = {
        {kExplicitLE, 0, BYTES("\x10\0\x10\0PN\6\0DOE^J \x28\0\x10\0US\2\0\2\1")},
        {kImplicitLE, 0, BYTES("\x10\0\x10\0\6\0\0\0DOE^J \x28\0\x10\0\2\0\0\0\2\1")},
        {kExplicitBE, 0, BYTES("\0\x10\0\x10PN\0\6DOE^J \0\x28\0\x10US\0\2\1\2")},
        {kExplicitLE, 1,
         BYTES("\x10\0\0\0UL\4\0\x0e\0\0\0\x10\0\x10\0PN\6\0DOE^J "
               "\x28\0\0\0UL\4\0\x0a\0\0\0\x28\0\x10\0US\2\0\2\1")},
        {kImplicitLE, 1,
         BYTES("\x10\0\0\0\4\0\0\0\x0e\0\0\0\x10\0\x10\0\6\0\0\0DOE^J "
               "\x28\0\0\0\4\0\0\0\x0a\0\0\0\x28\0\x10\0\2\0\0\0\2\1")},
        {kExplicitBE, 1,
         BYTES("\0\x10\0\0UL\0\4\0\0\0\x0e\0\x10\0\x10PN\0\6DOE^J "
               "\0\x28\0\0UL\0\4\0\0\0\x0a\0\x28\0\x10US\0\2\1\2")},
    };
#undef BYTES
    for (const Case& c : cases) {
        setSyntax(tree, c.syntax);
        const std::string out = dir.file("small.dcm");
        tree.toDicomFile(out.c_str(), c.groupLength);
        ASSERT_EQ(tree.Error(), 0);
        const std::string bytes = testsupport::readFile(out);
        ASSERT_GT(bytes.size(), 140 + c.size);
        EXPECT_EQ(bytes.substr(0, 128), std::string(128, '\0'));
        EXPECT_EQ(bytes.substr(128, 4), "DICM");
        // Group 0002 in explicit VR little endian, whatever the data set's syntax, and the data
        // set right after it.
        EXPECT_EQ(bytes.substr(132, 8), std::string("\x02\x00\x00\x00UL\x04\x00", 8)) << c.syntax;
        const uint32_t metaLength = uint8_t(bytes[140]) | uint8_t(bytes[141]) << 8;
        EXPECT_EQ(bytes.substr(144 + metaLength), std::string(c.bytes, c.size))
            << c.syntax << " group length " << int(c.groupLength);
    }
    // No option: no group lengths.
    setSyntax(tree, kExplicitLE);
    const std::string plain = dir.file("plain.dcm");
    tree.toBinaryFile(plain.c_str(), nullptr);
    ASSERT_EQ(tree.Error(), 0);
    const std::string bytes = testsupport::readFile(plain);
    EXPECT_EQ(bytes.substr(bytes.size() - cases[0].size), std::string(cases[0].bytes, cases[0].size));
}

// Elements after the pixel data, and waveform data inside a sequence, keep their places: the
// outline DCMTK reads is the source's, and every value is the source's.
TEST(Writer, DataAroundPixelAndWaveformDataStayInPlace) {
    testsupport::ScratchDir dir("writer-after");
    const std::string after = dir.file("after.dcm");
    fs::copy_file(corpusFile("CT_small.dcm"), after);
    int status = 0;
    std::string log = run("dcmodify -nb -i '(6000,0010)=4' -i '(7fe1,0010)=SIEMENS CSA NON-IMAGE' "
                          "-i '(7fe1,1010)=01\\02\\03\\04' " +
                              quoted(after) + " 2>&1",
                          &status);
    ASSERT_EQ(status, 0) << log;
    std::string manifest;
    std::vector<std::string> written;
    for (const std::string& source : {after, corpusFile("waveform_ecg.dcm"), corpusFile("MR_small.dcm")}) {
        const std::vector<std::string> outline = dcmdumpOutline(source);
        ASSERT_FALSE(outline.empty());
        auto tree = openTree(source);
        ASSERT_TRUE(tree && tree->readError() == 0) << source;
        const std::string own = syntaxOf(*tree);
        for (const char* syntax : {kExplicitLE, kImplicitLE, kExplicitBE}) {
            setSyntax(*tree, syntax);
            const std::string out = dir.file("w" + std::to_string(written.size()) + ".dcm");
            tree->toDicomFile(out.c_str(), 1);
            ASSERT_EQ(tree->Error(), 0);
            std::vector<std::string> got = dcmdumpOutline(out);
            if (std::string(syntax) == kImplicitLE) {
                // Implicit VR cannot say the VR of a private tag: compare tags only there.
                auto tags = [](std::vector<std::string> v) {
                    for (std::string& s : v)
                        s = s.substr(0, s.size() - 3);
                    return v;
                };
                EXPECT_EQ(tags(got), tags(outline)) << source << " as " << syntax;
            } else {
                EXPECT_EQ(got, outline) << source << " as " << syntax;
            }
            written.push_back(out);
            manifest += source + "\t" + out + "\t" + (bigEndian(own) != bigEndian(syntax) ? "1" : "0") +
                        "\t" + syntax + "\n";
        }
    }
    const std::string list = dir.file("manifest.txt");
    testsupport::writeFile(list, manifest);
    EXPECT_EQ(comparePydicom(dir, list, written.size()), "");
}

// Written onto its own path (directly and through a link), a file is replaced whole: its pixel
// data are copied from the original before the original goes, and its permissions stay.
TEST(Writer, WritingOntoItsOwnPathLeavesACompleteFile) {
    testsupport::ScratchDir dir("writer-self");
    struct Case {
        const char* file;
        const char* syntax; // null: the file's own
        bool throughLink;
    };
    const Case cases[] = {
        {"MR_small.dcm", kExplicitBE, false},
        {"rtdose.dcm", kExplicitLE, true},
        {"JPEG2000.dcm", nullptr, false},
        {"waveform_ecg.dcm", kImplicitLE, false},
    };
    std::string manifest;
    int n = 0;
    for (const Case& c : cases) {
        const std::string original = corpusFile(c.file);
        const std::string copy = dir.file(std::to_string(n) + ".dcm");
        fs::copy_file(original, copy);
        ::chmod(copy.c_str(), 0640);
        std::string target = copy;
        if (c.throughLink) {
            target = dir.file(std::to_string(n) + "-link.dcm");
            fs::create_symlink(copy, target);
        }
        auto tree = openTree(target);
        ASSERT_TRUE(tree && tree->readError() == 0) << c.file;
        const std::string own = syntaxOf(*tree);
        const std::string syntax = c.syntax ? c.syntax : own;
        setSyntax(*tree, syntax.c_str());
        tree->toDicomFile(target.c_str(), 1);
        EXPECT_EQ(tree->Error(), 0) << c.file;
        EXPECT_TRUE(fs::is_regular_file(copy));
        if (c.throughLink) {
            EXPECT_TRUE(fs::is_symlink(target));
        }
        struct stat st {};
        ASSERT_EQ(::stat(copy.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0640u) << c.file;
        manifest += original + "\t" + copy + "\t" + (bigEndian(own) != bigEndian(syntax) ? "1" : "0") + "\t" +
                    syntax + "\n";
        // The tree now finds its pixel and waveform data in the file that replaced their source.
        fs::create_directories(dir.path() / "again");
        const std::string again = (dir.path() / "again" / (std::to_string(n) + ".dcm")).string();
        const std::string next = c.syntax ? kExplicitLE : own;
        setSyntax(*tree, next.c_str());
        tree->toDicomFile(again.c_str(), 0);
        EXPECT_EQ(tree->Error(), 0) << c.file;
        manifest += original + "\t" + again + "\t" + (bigEndian(own) != bigEndian(next) ? "1" : "0") + "\t" +
                    next + "\n";
        ++n;
    }
    // Nothing is left behind but the files and the link.
    int entries = 0;
    for (const auto& e : fs::directory_iterator(dir.path()))
        entries += e.path().extension() == ".dcm";
    EXPECT_EQ(entries, n + 1);
    const std::string list = dir.file("manifest.txt");
    testsupport::writeFile(list, manifest);
    EXPECT_EQ(comparePydicom(dir, list, size_t(2 * n)), "");

    // A caller's stream on the source itself is refused: it would be read while it is written.
    const std::string source = dir.file("open.dcm");
    fs::copy_file(corpusFile("MR_small.dcm"), source);
    const std::string before = testsupport::readFile(source);
    auto tree = openTree(source);
    ASSERT_TRUE(tree && tree->readError() == 0);
    FILE* f = std::fopen(source.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    tree->flushToBinary(f, nullptr);
    std::fclose(f);
    EXPECT_EQ(tree->Error(), -50);
    EXPECT_EQ(testsupport::readFile(source), before);
}

// The tree's binary form goes into the caller's stream and leaves it open after the last group,
// as the converters need to append their own pixel data.
TEST(Writer, FlushToBinaryWritesIntoAnOpenStream) {
    testsupport::ScratchDir dir("writer-flush");
    auto tree = openTree(corpusFile("rtplan.dcm"));
    ASSERT_TRUE(tree && tree->readError() == 0);
    const std::string file = dir.file("file.dcm");
    tree->toDicomFile(file.c_str(), 0);
    ASSERT_EQ(tree->Error(), 0);
    const std::string stream = dir.file("stream.dcm");
    FILE* f = std::fopen(stream.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    tree->flushToBinary(f, nullptr);
    EXPECT_EQ(tree->Error(), 0);
    EXPECT_EQ(std::fputs("tail", f), 1); // still open
    std::fclose(f);
    EXPECT_EQ(testsupport::readFile(stream), testsupport::readFile(file) + "tail");
}

// Pixel data that cannot be written as asked are refused before anything is written: compressed
// frames in another syntax, native samples under a compressed syntax, a syntax nobody can read
// back, and pixel data whose source file has gone or shrunk.
TEST(Writer, RefusesWhatItCannotWriteFaithfully) {
    testsupport::ScratchDir dir("writer-refuse");
    struct Case {
        const char* file;
        const char* syntax;
        int32_t status;
    };
    const Case cases[] = {
        {"JPEG2000.dcm", kExplicitLE, -50},
        {"MR_small_RLE.dcm", kImplicitLE, -50},
        {"SC_rgb_jpeg_dcmtk.dcm", "1.2.840.10008.1.2.4.70", -50},
        {"MR_small.dcm", "1.2.840.10008.1.2.5", -50},
        {"MR_small.dcm", "1.2.840.10008.1.2.1.99", 301},
        {"MR_small.dcm", "1.2.3.4", 301},
    };
    for (const Case& c : cases) {
        auto tree = openTree(corpusFile(c.file));
        ASSERT_TRUE(tree && tree->readError() == 0) << c.file;
        setSyntax(*tree, c.syntax);
        const std::string out = dir.file("refused.dcm");
        tree->toDicomFile(out.c_str(), 0);
        EXPECT_EQ(tree->Error(), c.status) << c.file << " as " << c.syntax;
        EXPECT_FALSE(fs::exists(out)) << c.file << " as " << c.syntax;
    }
    // The source of the pixel data shrinks, then goes.
    const std::string source = dir.file("source.dcm");
    fs::copy_file(corpusFile("MR_small.dcm"), source);
    auto tree = openTree(source);
    ASSERT_TRUE(tree && tree->readError() == 0);
    fs::resize_file(source, fs::file_size(source) - 1000);
    const std::string out = dir.file("out.dcm");
    tree->toDicomFile(out.c_str(), 0);
    EXPECT_EQ(tree->Error(), 303);
    EXPECT_FALSE(fs::exists(out));
    fs::remove(source);
    tree->toDicomFile(out.c_str(), 0);
    EXPECT_EQ(tree->Error(), 100);
    EXPECT_FALSE(fs::exists(out));
}

} // namespace
