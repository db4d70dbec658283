// How opening, dumping, writing, walking and adding to a DICOM file grow with its size, beside
// DCMTK and pydicom in the same run. Three kinds of file are made at run time, each at every n
// asked for:
//
// - elements: one data set of n private elements (LO, US, DS and UL in turn, blocks of 256 under
//   their own private creators, 240 blocks to an odd group), explicit VR little endian (pydicom);
// - items: one contour sequence of n items of four elements each, as an RT structure set holds
//   them (pydicom);
// - dicomdir: a DICOMDIR of n images (dcmmkdir over n tiny files of pydicom, each of its own
//   patient, study and series: 4 n records). dcmmkdir itself grows with the square of the count,
//   so this kind stops at --dicomdir-max images.
//
// Every measurement runs in a child process of its own, timed and with its peak resident size
// (wait4), and is killed when its time limit is up. "host" is the stand-in host program with the
// companion and Sylmark plug-ins (a module call or a script, as a host program calls the
// plug-in); "library" is this program again in a child mode calling the library as the plug-in
// does; the peers are dcmdump, dcmconv and pydicom (/usr/bin/python3). The host's scripts have
// no loops: a walk or an add is a script of a few lines per element, written out for each n.
//
// Usage: dataset_scale_bench [--n=1000,10000,100000] [--dicomdir-max=10000] [--timeout=120]
//                            [--repeat=3] [--data=FOLDER] [--python=/usr/bin/python3]
//                            [--host=PROGRAM --base-plugin=PATH --plugin=PATH]
// Without --data the files go to a new temporary folder, removed at the end; with it they stay
// there and are made only when missing. A measurement that took less than a second is repeated
// (--repeat times in all) and the fastest run is shown. After a time-out the same measurement is
// not tried at a larger n.
//
// Child modes (the library side): dataset_scale_bench --child MODE ARGUMENTS...
#include "ChildPeakMemory.h"
#include "KelvoDicomDataElements.h"
#include "KelvoDicomDataTree.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace fs = std::filesystem;
using benchchild::Measure;

namespace {

// ---------------------------------------------------------------------------------------------
// The layout of the private elements, shared by the maker, the walks and the adds

constexpr int kBlock = 256;          // elements under one private creator
constexpr int kBlocksPerGroup = 240; // creators (gggg,0010) to (gggg,00FF)
constexpr uint16_t kContourGroup = 0x3006;
constexpr uint16_t kContourSequence = 0x0040;
const uint16_t kContourElements[] = {0x0042, 0x0046, 0x0048, 0x0050};

struct PrivateSlot {
    uint16_t group;
    uint16_t creator; // the creator's element, (gggg,00xx)
    uint16_t element; // (gggg,xxyy)
};

PrivateSlot slotOf(int i) {
    const int block = i / kBlock;
    const uint16_t group = uint16_t(0x0009 + 2 * (block / kBlocksPerGroup));
    const uint16_t creator = uint16_t(0x10 + block % kBlocksPerGroup);
    return {group, creator, uint16_t((creator << 8) | (i % kBlock))};
}

// The private groups of n elements, and how many elements (creators included) each holds.
std::map<uint16_t, int> privateGroups(int n) {
    std::map<uint16_t, int> groups;
    for (int i = 0; i < n; ++i) {
        const PrivateSlot s = slotOf(i);
        groups[s.group] += i % kBlock == 0 ? 2 : 1;
    }
    return groups;
}

int privateElementCount(int n) {
    return n + (n + kBlock - 1) / kBlock;
}

// Element i's VR and value text, as the Python maker writes them.
const char* vrOf(int i) {
    static const char* const vrs[] = {"LO", "US", "DS", "UL"};
    return vrs[i % 4];
}

std::string textOf(int i) {
    switch (i % 4) {
    case 0:
        return "value " + std::to_string(i);
    case 1:
        return std::to_string(i % 65536);
    case 2:
        return std::to_string(i) + ".5";
    default:
        return std::to_string(i);
    }
}

std::string creatorText(int block) {
    return "BENCH " + std::to_string(block);
}

// ---------------------------------------------------------------------------------------------
// Child modes: the library as the plug-in's module and host classes call it

std::unique_ptr<KelvoDicomDataTree> openTree(const char* path) {
    std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(path));
    if (!tree || tree->readError() != 0 || !tree->qtObjIsValid()) return nullptr;
    return tree;
}

// What FenraDicomSystem.dumpFileToTextFile does.
int childDump(const char* file, const char* out) {
    auto tree = openTree(file);
    if (!tree) return 2;
    tree->toTextFile(out);
    return tree->Error() == 0 ? 0 : 3;
}

// What openFile and toDicomFile do.
int childWrite(const char* file, const char* out) {
    auto tree = openTree(file);
    if (!tree) return 2;
    tree->toDicomFile(out, 0);
    return tree->Error() == 0 ? 0 : 3;
}

// The value of an element as its host value reads it.
size_t valueText(KelvoDicomDataElement& element) {
    Kelvo_QTObj* value = element.valueByRef();
    if (!value || !value->isA("KelvoDicomDataElementValue")) return 0;
    const char* text = static_cast<KelvoDicomDataElementValue*>(value)->stringValue();
    return text ? std::strlen(text) + 1 : 1;
}

// Every element of the private groups: the group, its keys, each data element and its value
// text, as the host script walks them. Prints the number of elements.
int childWalkElements(const char* file) {
    auto tree = openTree(file);
    if (!tree) return 2;
    std::unique_ptr<KelvoDicomDataNode> groups(tree->getKeys());
    if (!groups) return 3;
    long count = 0;
    size_t bytes = 0;
    for (int32_t g = 0; g < groups->valueCount(); ++g) {
        const uint16_t group = groups->usValue(g);
        if (group % 2 == 0) continue;
        std::unique_ptr<Kelvo_QTObj> object(tree->getObjValue(group));
        if (!object || !object->isA("KelvoDicomDataSet")) return 4;
        auto* set = static_cast<KelvoDicomDataSet*>(object.get());
        std::unique_ptr<KelvoDicomDataNode> keys(set->getKeys());
        if (!keys) return 5;
        for (int32_t k = 0; k < keys->valueCount(); ++k) {
            std::unique_ptr<KelvoDicomDataElement> element(set->dataElement(keys->usValue(k)));
            if (!element) return 6;
            bytes += valueText(*element);
            ++count;
        }
    }
    std::printf("%ld\n", count);
    return bytes > 0 ? 0 : 7;
}

// Every item of the contour sequence and each of its elements' values. Prints the number of
// elements.
int childWalkItems(const char* file) {
    auto tree = openTree(file);
    if (!tree) return 2;
    std::unique_ptr<Kelvo_QTObj> object(tree->getObjValue(kContourGroup));
    if (!object || !object->isA("KelvoDicomDataSet")) return 3;
    std::unique_ptr<Kelvo_QTObj> seqObject(
        static_cast<KelvoDicomDataSet*>(object.get())->getObjValue(kContourSequence));
    if (!seqObject || !seqObject->isA("KelvoDicomDataItemGroup")) return 4;
    auto* sequence = static_cast<KelvoDicomDataItemGroup*>(seqObject.get());
    long count = 0;
    size_t bytes = 0;
    const int32_t items = sequence->count();
    for (int32_t i = 1; i <= items; ++i) {
        std::unique_ptr<Kelvo_QTObj> item(sequence->getObjValue(i));
        if (!item || !item->isA("KelvoDicomDataItem")) return 5;
        std::unique_ptr<Kelvo_QTObj> groupObject(
            static_cast<KelvoDicomDataItem*>(item.get())->getObjValue(kContourGroup));
        if (!groupObject || !groupObject->isA("KelvoDicomDataSet")) return 6;
        auto* set = static_cast<KelvoDicomDataSet*>(groupObject.get());
        for (uint16_t element : kContourElements) {
            std::unique_ptr<Kelvo_QTObj> value(set->getObjValue(element));
            if (!value || !value->isA("KelvoDicomDataNode")) return 7;
            const char* text = static_cast<KelvoDicomDataNode*>(value.get())->textValue();
            bytes += text ? std::strlen(text) : 0;
            ++count;
        }
    }
    std::printf("%ld\n", count);
    return bytes > 0 ? 0 : 8;
}

// Every directory record: its item, its group 0004 view, its type and referenced file. Prints
// the number of records.
int childWalkRecords(const char* file) {
    auto tree = openTree(file);
    if (!tree || !tree->isA("KelvoDicomDirectoryDocument")) return 2;
    std::unique_ptr<KelvoDicomDataItemGroup> records(
        static_cast<KelvoDicomDirectoryDocument*>(tree.get())->rootDirectory());
    if (!records) return 3;
    long count = 0;
    size_t bytes = 0;
    const int32_t n = records->count();
    for (int32_t i = 1; i <= n; ++i) {
        std::unique_ptr<Kelvo_QTObj> item(records->getObjValue(i));
        if (!item || !item->isA("KelvoDicomDataItem")) return 4;
        std::unique_ptr<Kelvo_QTObj> object(
            static_cast<KelvoDicomDataItem*>(item.get())->getObjValue(0x0004));
        if (!object || !object->isA("KelvoDicomDataSet")) return 5;
        auto* set = static_cast<KelvoDicomDataSet*>(object.get());
        const char* type = set->getStringValueProperty(0x1430);
        bytes += type ? std::strlen(type) : 0;
        const char* referenced = set->getStringValueProperty(0x1500);
        bytes += referenced ? std::strlen(referenced) : 0;
        ++count;
    }
    std::printf("%ld\n", count);
    return bytes > 0 ? 0 : 6;
}

// n private elements added to the file at `base`, as privateValue adds them, the file written
// and the written file dumped.
int childAdd(int n, const char* base, const char* out, const char* dump) {
    auto tree = openTree(base);
    if (!tree) return 2;
    std::map<uint16_t, std::unique_ptr<KelvoDicomDataSet>> sets;
    for (int i = 0; i < n; ++i) {
        const PrivateSlot s = slotOf(i);
        auto& set = sets[s.group];
        if (!set) set = std::make_unique<KelvoDicomDataSet>(s.group);
        if (i % kBlock == 0) {
            KelvoDicomDataNode creator("LO");
            creator.strValue(creatorText(i / kBlock).c_str());
            set->setObjValue(s.creator, "LO", &creator);
        }
        KelvoDicomDataNode node(vrOf(i));
        switch (i % 4) {
        case 1:
            node.usValueSet(uint16_t(i % 65536), -1);
            break;
        case 3:
            node.ulValueSet(uint32_t(i), -1);
            break;
        default:
            node.strValue(textOf(i).c_str());
            break;
        }
        set->setObjValue(s.element, vrOf(i), &node);
        if (set->Error() != 0) return 3;
    }
    for (auto& [group, set] : sets)
        tree->setObjValue(group, set.get());
    tree->toDicomFile(out, 0);
    if (tree->Error() != 0) return 4;
    return childDump(out, dump) == 0 ? 0 : 5;
}

int childMain(int argc, char** argv) {
    const std::string mode = argc > 2 ? argv[2] : "";
    if (mode == "noop" && argc == 3) return 0;
    if (mode == "dump" && argc == 5) return childDump(argv[3], argv[4]);
    if (mode == "write" && argc == 5) return childWrite(argv[3], argv[4]);
    if (mode == "walk-elements" && argc == 4) return childWalkElements(argv[3]);
    if (mode == "walk-items" && argc == 4) return childWalkItems(argv[3]);
    if (mode == "walk-records" && argc == 4) return childWalkRecords(argv[3]);
    if (mode == "add" && argc == 7) return childAdd(std::atoi(argv[3]), argv[4], argv[5], argv[6]);
    std::fprintf(stderr, "unknown child mode\n");
    return 64;
}

// ---------------------------------------------------------------------------------------------
// pydicom: the maker of the files and a peer

const char* const kPython = R"PY(
import os, sys
from pydicom import dcmread
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.dataelem import DataElement
from pydicom.sequence import Sequence
from pydicom.uid import ExplicitVRLittleEndian

ROOT = '1.2.826.0.1.3680043.2.1143.5100'

def new_file(sop_class, instance):
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = sop_class
    meta.MediaStorageSOPInstanceUID = instance
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds = Dataset(); ds.file_meta = meta
    ds.is_little_endian = True; ds.is_implicit_VR = False
    ds.SOPClassUID = sop_class; ds.SOPInstanceUID = instance
    ds.PatientName = 'BENCH^SCALE'; ds.PatientID = 'SCALE1'
    return ds

def add_elements(ds, n):
    # Blocks of 256 under their own creators, 240 blocks to an odd group.
    for i in range(n):
        block, low = divmod(i, 256)
        group = 0x0009 + 2 * (block // 240)
        slot = 0x10 + block % 240
        if low == 0:
            ds.add(DataElement((group << 16) | slot, 'LO', 'BENCH %d' % block))
        tag = (group << 16) | (slot << 8) | low
        kind = i % 4
        if kind == 0: ds.add(DataElement(tag, 'LO', 'value %d' % i))
        elif kind == 1: ds.add(DataElement(tag, 'US', i % 65536))
        elif kind == 2: ds.add(DataElement(tag, 'DS', '%d.5' % i))
        else: ds.add(DataElement(tag, 'UL', i))

def make_elements(n, path):
    ds = new_file('1.2.840.10008.5.1.4.1.1.7', '%s.1.%d' % (ROOT, n))
    ds.Modality = 'OT'
    add_elements(ds, n)
    ds.save_as(path, write_like_original=False)

def make_items(n, path):
    ds = new_file('1.2.840.10008.5.1.4.1.1.481.3', '%s.2.%d' % (ROOT, n))
    ds.Modality = 'RTSTRUCT'
    items = []
    for i in range(n):
        item = Dataset()
        item.ContourGeometricType = 'CLOSED_PLANAR'
        item.NumberOfContourPoints = 3
        item.ContourNumber = i + 1
        item.ContourData = [float(i), 0.0, 1.5, float(i), 2.0, 1.5, float(i) + 1, 2.0, 1.5]
        items.append(item)
    ds.ContourSequence = Sequence(items)
    ds.save_as(path, write_like_original=False)

def make_images(n, folder):
    # Each image of its own patient, study and series: four directory records an image.
    os.makedirs(os.path.join(folder, 'IMAGES'), exist_ok=True)
    for i in range(n):
        ds = new_file('1.2.840.10008.5.1.4.1.1.7', '%s.3.%d.4' % (ROOT, i))
        ds.StudyDate = '20240101'; ds.StudyTime = '120000'; ds.AccessionNumber = ''
        ds.Modality = 'OT'; ds.ConversionType = 'WSD'
        ds.PatientName = 'BENCH^%d' % i; ds.PatientID = 'P%07d' % i
        ds.PatientBirthDate = ''; ds.PatientSex = ''
        ds.StudyInstanceUID = '%s.3.%d.1' % (ROOT, i); ds.SeriesInstanceUID = '%s.3.%d.2' % (ROOT, i)
        ds.StudyID = 'S%d' % i; ds.SeriesNumber = 1; ds.InstanceNumber = 1
        ds.SamplesPerPixel = 1; ds.PhotometricInterpretation = 'MONOCHROME2'
        ds.Rows = 2; ds.Columns = 2; ds.BitsAllocated = 8; ds.BitsStored = 8; ds.HighBit = 7
        ds.PixelRepresentation = 0; ds.PixelData = bytes([i & 255, 1, 2, 3])
        ds.save_as(os.path.join(folder, 'IMAGES', 'I%07d' % i), write_like_original=False)

def dump(path, out):
    ds = dcmread(path)
    with open(out, 'w') as f:
        f.write(str(ds)); f.write('\n')

def walk_elements(path):
    count = 0
    for e in dcmread(path):
        if e.tag.group % 2:
            e.value; count += 1
    print(count)

def walk_items(path):
    count = 0
    for item in dcmread(path).ContourSequence:
        for e in item:
            e.value; count += 1
    print(count)

def walk_records(path):
    count = 0
    for record in dcmread(path).DirectoryRecordSequence:
        record.DirectoryRecordType; record.get('ReferencedFileID'); count += 1
    print(count)

def add(n, base, out, dump_path):
    ds = dcmread(base)
    add_elements(ds, n)
    ds.save_as(out, write_like_original=False)
    dump(out, dump_path)

mode, args = sys.argv[1], sys.argv[2:]
if mode == 'startup': pass
elif mode == 'make-elements': make_elements(int(args[0]), args[1])
elif mode == 'make-items': make_items(int(args[0]), args[1])
elif mode == 'make-images': make_images(int(args[0]), args[1])
elif mode == 'dump': dump(args[0], args[1])
elif mode == 'write': dcmread(args[0]).save_as(args[1])
elif mode == 'walk-elements': walk_elements(args[0])
elif mode == 'walk-items': walk_items(args[0])
elif mode == 'walk-records': walk_records(args[0])
elif mode == 'add': add(int(args[0]), args[1], args[2], args[3])
else: sys.exit('unknown mode ' + mode)
)PY";

// ---------------------------------------------------------------------------------------------
// The host's scripts

// A string literal of the script language.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string writeScript(const fs::path& file, const fs::path& out) {
    return "t = FenraDicomSystem.openFile(" + quoted(file) + ")\nt.toDicomFile(" + quoted(out) + ")\n";
}

// Through every private group: its keys, then for each key the data element, its value and the
// value's text. The last text is printed.
std::string walkElementsScript(const fs::path& file, int n) {
    std::ostringstream s;
    s << "t = FenraDicomSystem.openFile(" << quoted(file) << ")\n";
    for (const auto& [group, count] : privateGroups(n)) {
        s << "set = t.value(" << group << ")\nkeys = set.keys\n";
        for (int k = 0; k < count; ++k)
            s << "k = keys.integerValue(" << k
              << ")\ne = set.dataElement(k)\nv = e.value\ns = v.stringValue\n";
    }
    s << "print s\n";
    return s.str();
}

// Through every item of the contour sequence: its group, and each of its four elements' value
// and text. The last text is printed.
std::string walkItemsScript(const fs::path& file, int n) {
    std::ostringstream s;
    s << "t = FenraDicomSystem.openFile(" << quoted(file) << ")\nset = t.value(" << kContourGroup
      << ")\nseq = set.value(" << kContourSequence << ")\n";
    for (int i = 1; i <= n; ++i) {
        s << "item = seq.value(" << i << ")\ng = item.value(" << kContourGroup << ")\n";
        for (uint16_t element : kContourElements)
            s << "d = g.value(" << element << ")\nx = d.stringValue()\n";
    }
    s << "print x\n";
    return s.str();
}

// Through every directory record: its item, its group 0004 view, its type and referenced file.
std::string walkRecordsScript(const fs::path& file, int records) {
    std::ostringstream s;
    s << "t = FenraDicomSystem.openFile(" << quoted(file) << ")\ndir = t.rootDirectory\n";
    for (int i = 1; i <= records; ++i)
        s << "r = dir.value(" << i
          << ")\nrs = r.value(4)\nty = rs.directoryRecordType\nf = rs.referencedFileID\n";
    s << "print ty\nprint f\n";
    return s.str();
}

// n private elements added to the file at `base` through new data sets and privateValue, the
// sets stored in the tree, the tree written and the written file dumped (the status printed).
std::string addScript(const fs::path& base, int n, const fs::path& out, const fs::path& dump) {
    std::ostringstream s;
    s << "t = FenraDicomSystem.openFile(" << quoted(base) << ")\n";
    int group = -1;
    for (int i = 0; i < n; ++i) {
        const PrivateSlot slot = slotOf(i);
        if (slot.group != group) {
            if (group >= 0) s << "t.value(" << group << ") = set\n";
            group = slot.group;
            s << "set = FenraDicomDataSet.Constructor(" << group << ")\n";
        }
        if (i % kBlock == 0)
            s << "v = FenraDicomValue.Constructor(\"LO\")\nv.stringValue() = "
              << quoted(creatorText(i / kBlock)) << "\nset.privateValue(" << slot.creator << ", \"LO\", v)\n";
        s << "v = FenraDicomValue.Constructor(\"" << vrOf(i) << "\")\n";
        if (i % 2 == 1)
            s << "v.integerValue(-1) = " << textOf(i) << "\n";
        else
            s << "v.stringValue() = " << quoted(textOf(i)) << "\n";
        s << "set.privateValue(" << slot.element << ", \"" << vrOf(i) << "\", v)\n";
    }
    if (group >= 0) s << "t.value(" << group << ") = set\n";
    s << "t.toDicomFile(" << quoted(out) << ")\n";
    s << "print FenraDicomSystem.dumpFileToTextFile(" << quoted(out) << ", " << quoted(dump) << ")\n";
    return s.str();
}

// ---------------------------------------------------------------------------------------------
// The run

struct Options {
    std::vector<int> ns = {1000, 10000, 100000};
    int dicomdirMax = 10000;
    double timeout = 120;
    int repeat = 3;
    std::string data;
    std::string python = "/usr/bin/python3";
    std::string host;
    std::string basePlugin;
    std::string plugin;
};

#ifndef SCALE_BENCH_HOST
#define SCALE_BENCH_HOST ""
#define SCALE_BENCH_BASE_PLUGIN ""
#define SCALE_BENCH_PLUGIN ""
#endif

fs::path gDir;
std::string gSelf;
Options gOpt;

bool writeText(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return bool(out.flush());
}

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string lastLine(const std::string& text) {
    std::string t = text;
    while (!t.empty() && (t.back() == '\n' || t.back() == '\r'))
        t.pop_back();
    const size_t at = t.rfind('\n');
    return at == std::string::npos ? t : t.substr(at + 1);
}

std::string firstLine(const std::string& text) {
    const size_t at = text.find('\n');
    return at == std::string::npos ? text : text.substr(0, at);
}

std::vector<std::string> hostCommand() {
    return {gOpt.host, "--plugin", gOpt.basePlugin, "--plugin", gOpt.plugin};
}

std::vector<std::string> with(std::vector<std::string> command, const std::vector<std::string>& more) {
    command.insert(command.end(), more.begin(), more.end());
    return command;
}

std::vector<std::string> python(const std::vector<std::string>& args) {
    return with({gOpt.python, (gDir / "scale.py").string()}, args);
}

std::vector<std::string> self(const std::vector<std::string>& args) {
    return with({gSelf, "--child"}, args);
}

// A step of making the files, outside the measurements.
bool make(const std::vector<std::string>& command, const std::string& what) {
    const fs::path log = gDir / "make.log";
    const Measure m = benchchild::measure(command, log.string(), benchchild::Streams::outputAndErrors);
    if (!m.ok) std::fprintf(stderr, "making %s failed: %s\n", what.c_str(), firstLine(readText(log)).c_str());
    return m.ok;
}

bool renameInto(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::rename(from, to, ec);
    return !ec;
}

enum Kind { kElements, kItems, kDicomdir };
const char* const kKindNames[] = {"elements", "items", "dicomdir"};
const char* const kKindDescriptions[] = {
    "one data set of n private elements (LO, US, DS, UL; a creator a block of 256)",
    "one contour sequence of n items of 4 elements (CS, IS, IS, DS)",
    "DICOMDIR of n images (dcmmkdir; 4 records an image: patient, study, series, image)"};

fs::path fileOf(Kind kind, int n) {
    if (kind == kDicomdir) return gDir / ("dicomdir-" + std::to_string(n)) / "DICOMDIR";
    return gDir / (std::string(kKindNames[kind]) + "-" + std::to_string(n) + ".dcm");
}

// The file of a kind at n, made when missing. The time dcmmkdir took is kept for the table.
bool makeFile(Kind kind, int n, Measure* mkdirTime) {
    const fs::path file = fileOf(kind, n);
    if (fs::exists(file)) return true;
    std::printf("making %s ...\n", file.c_str());
    std::fflush(stdout);
    if (kind != kDicomdir) {
        const fs::path partial = file.string() + ".partial";
        return make(python({kind == kElements ? "make-elements" : "make-items", std::to_string(n),
                            partial.string()}),
                    file.string()) &&
               renameInto(partial, file);
    }
    const fs::path folder = file.parent_path();
    const fs::path partial = folder.string() + ".partial";
    std::error_code ec;
    fs::remove_all(partial, ec);
    if (!make(python({"make-images", std::to_string(n), partial.string()}), partial.string())) return false;
    const fs::path log = gDir / "dcmmkdir.log";
    *mkdirTime = benchchild::measure(
        {"dcmmkdir", "+id", partial.string(), "+D", (partial / "DICOMDIR").string(), "+r", "IMAGES"},
        log.string(), benchchild::Streams::outputAndErrors);
    if (!mkdirTime->ok) {
        std::fprintf(stderr, "dcmmkdir failed: %s\n", firstLine(readText(log)).c_str());
        return false;
    }
    return renameInto(partial, folder);
}

// One row of a table.
struct Row {
    std::string op;
    std::string who;
    Measure m;
    bool skipped = false;
    std::string note;
};

// Measurements that timed out, by kind, operation and who: not tried again at a larger n.
std::set<std::string> gTimedOut;

// The summary: µs per element (and peak) of every row, by n.
struct SummaryKey {
    int kind;
    std::string op;
    std::string who;
    bool operator<(const SummaryKey& o) const {
        return std::tie(kind, op, who) < std::tie(o.kind, o.op, o.who);
    }
};
std::map<SummaryKey, std::map<int, Row>> gSummary;
std::vector<SummaryKey> gSummaryOrder;

// What a measurement's output says: whether it is right, and a note for the table.
struct Verdict {
    bool ok;
    std::string note;
};

// Looks at a measurement's output (its standard output and errors), its product and the count it
// should report.
using Check = Verdict (*)(const std::string& output, const fs::path& product, long expected);

Verdict checkNothing(const std::string&, const fs::path&, long) {
    return {true, ""};
}

// A product file that must exist and not be empty.
Verdict checkProduct(const std::string&, const fs::path& product, long) {
    std::error_code ec;
    const auto size = fs::file_size(product, ec);
    if (ec || size == 0) return {false, "no output"};
    char text[32];
    std::snprintf(text, sizeof text, "%.0f KB", double(size) / 1024.0);
    return {true, text};
}

// The host's module call or script printed the status 0 last, and the product exists.
Verdict checkStatusZero(const std::string& output, const fs::path& product, long expected) {
    if (lastLine(output) != "0") return {false, "status " + lastLine(output)};
    return checkProduct(output, product, expected);
}

// The walk printed the number of elements (or records) it went through.
Verdict checkCount(const std::string& output, const fs::path&, long expected) {
    const std::string last = lastLine(output);
    if (last != std::to_string(expected))
        return {false, "counted " + last + ", not " + std::to_string(expected)};
    return {true, ""};
}

void record(int kind, int n, Row row) {
    const SummaryKey key{kind, row.op, row.who};
    if (!gSummary.count(key)) gSummaryOrder.push_back(key);
    gSummary[key][n] = row;
}

Row measureRow(int kind, int n, const std::string& op, const std::string& who,
               const std::vector<std::string>& command, const fs::path& product, Check check, long expected,
               benchchild::Streams streams = benchchild::Streams::outputAndErrors,
               const fs::path& stdoutFile = {}) {
    Row row{op, who, {}, false, ""};
    const std::string key = std::string(kKindNames[kind]) + "/" + op + "/" + who;
    if (gTimedOut.count(key)) {
        row.skipped = true;
        row.note = "timed out at a smaller n";
        record(kind, n, row);
        return row;
    }
    const fs::path log = stdoutFile.empty() ? gDir / "child.log" : stdoutFile;
    for (int run = 0; run < std::max(1, gOpt.repeat); ++run) {
        std::error_code ec;
        if (!product.empty()) fs::remove(product, ec);
        const Measure m = benchchild::measure(command, log.string(), streams, gOpt.timeout);
        if (run == 0 || (m.ok && m.seconds < row.m.seconds)) row.m = m;
        if (!m.ok || m.seconds >= 1.0) break;
    }
    if (row.m.timedOut) {
        gTimedOut.insert(key);
        row.note = "timeout";
    } else if (!row.m.ok) {
        row.note = "failed: " + firstLine(readText(log));
    } else {
        const Verdict verdict = check(readText(log), product, expected);
        row.m.ok = verdict.ok;
        row.note = verdict.note;
    }
    record(kind, n, row);
    return row;
}

void printRow(const Row& r, int n) {
    if (r.skipped) {
        std::printf("  %-6s %-16s %-8s %10s %10s %9s   %s\n", r.op.c_str(), r.who.c_str(), "skipped", "", "",
                    "", r.note.c_str());
        return;
    }
    const char* status = r.m.timedOut ? "TIMEOUT" : r.m.ok ? "ok" : "FAILED";
    // A measurement that was killed took longer than the limit: its figures are lower bounds.
    const char* over = r.m.timedOut ? ">" : "";
    char seconds[32];
    char perElement[32];
    std::snprintf(seconds, sizeof seconds, "%s%.3f", over, r.m.seconds);
    std::snprintf(perElement, sizeof perElement, "%s%.2f", over, r.m.seconds * 1e6 / n);
    std::printf("  %-6s %-16s %-8s %10s %10s %9.1f   %s\n", r.op.c_str(), r.who.c_str(), status, seconds,
                perElement, r.m.peakMB, r.note.c_str());
}

// Every measurement of one kind at one n.
void runKind(Kind kind, int n) {
    const fs::path file = fileOf(kind, n);
    const std::string tag = std::string(kKindNames[kind]) + "-" + std::to_string(n);
    const fs::path out = gDir / "out";
    fs::create_directories(out);
    const fs::path scripts = gDir / "scripts";
    fs::create_directories(scripts);
    std::error_code ec;
    std::printf("\n%s, n = %d: %s\n  file %s, %.0f KB\n", kKindNames[kind], n, kKindDescriptions[kind],
                file.c_str(), double(fs::file_size(file, ec)) / 1024.0);
    std::printf("  %-6s %-16s %-8s %10s %10s %9s   %s\n", "op", "who", "status", "time s", "us/n", "peak MB",
                "output");

    // Four elements an item; four records an image.
    const long walked = kind == kElements ? privateElementCount(n) : 4L * n;
    std::vector<Row> rows;
    const auto add = [&](Row r) {
        printRow(r, n);
        std::fflush(stdout);
        rows.push_back(std::move(r));
    };

    // Open + text dump.
    fs::path dump = out / (tag + "-host.txt");
    add(measureRow(kind, n, "dump", "host",
                   with(hostCommand(), {"FenraDicomSystem.dumpFileToTextFile", file, dump}), dump,
                   &checkStatusZero, 0));
    dump = out / (tag + "-library.txt");
    add(measureRow(kind, n, "dump", "library", self({"dump", file, dump}), dump, &checkProduct, 0));
    dump = out / (tag + "-dcmdump.txt");
    add(measureRow(kind, n, "dump", "dcmdump", {"dcmdump", file}, dump, &checkProduct, 0,
                   benchchild::Streams::outputOnly, dump));
    dump = out / (tag + "-pydicom.txt");
    add(measureRow(kind, n, "dump", "pydicom", python({"dump", file, dump}), dump, &checkProduct, 0));

    // Open + write, in the file's own syntax (explicit VR little endian).
    fs::path written = out / (tag + "-host.dcm");
    const fs::path writeScriptFile = scripts / (tag + "-write.txt");
    writeText(writeScriptFile, writeScript(file, written));
    add(measureRow(kind, n, "write", "host", with(hostCommand(), {"--script", writeScriptFile}), written,
                   &checkProduct, 0));
    written = out / (tag + "-library.dcm");
    add(measureRow(kind, n, "write", "library", self({"write", file, written}), written, &checkProduct, 0));
    written = out / (tag + "-dcmconv.dcm");
    add(measureRow(kind, n, "write", "dcmconv +te", {"dcmconv", "+te", file, written}, written, &checkProduct,
                   0));
    written = out / (tag + "-pydicom.dcm");
    add(measureRow(kind, n, "write", "pydicom", python({"write", file, written}), written, &checkProduct, 0));

    // A walk through every element (every item's elements, every record).
    const fs::path walkScriptFile = scripts / (tag + "-walk.txt");
    const char* walkMode = kind == kElements ? "walk-elements"
                           : kind == kItems  ? "walk-items"
                                             : "walk-records";
    writeText(walkScriptFile, kind == kElements ? walkElementsScript(file, n)
                              : kind == kItems  ? walkItemsScript(file, n)
                                                : walkRecordsScript(file, int(walked)));
    add(measureRow(kind, n, "walk", "host", with(hostCommand(), {"--script", walkScriptFile}), {},
                   &checkNothing, 0));
    add(measureRow(kind, n, "walk", "library", self({walkMode, file}), {}, &checkCount, walked));
    add(measureRow(kind, n, "walk", "pydicom", python({walkMode, file}), {}, &checkCount, walked));

    // n elements added to a file without them, written and dumped.
    if (kind == kElements) {
        const fs::path base = fileOf(kElements, 0);
        const fs::path addScriptFile = scripts / (tag + "-add.txt");
        written = out / (tag + "-add-host.dcm");
        writeText(addScriptFile, addScript(base, n, written, out / (tag + "-add-host.txt")));
        add(measureRow(kind, n, "add", "host", with(hostCommand(), {"--script", addScriptFile}), written,
                       &checkStatusZero, 0));
        written = out / (tag + "-add-library.dcm");
        add(measureRow(kind, n, "add", "library",
                       self({"add", std::to_string(n), base, written, out / (tag + "-add-library.txt")}),
                       written, &checkProduct, 0));
        written = out / (tag + "-add-pydicom.dcm");
        add(measureRow(kind, n, "add", "pydicom",
                       python({"add", std::to_string(n), base, written, out / (tag + "-add-pydicom.txt")}),
                       written, &checkProduct, 0));
    }
    // The products are large at a large n; the next n needs the room more than anyone needs them.
    for (const auto& entry : fs::directory_iterator(out, ec))
        fs::remove(entry.path(), ec);
}

void printSummary() {
    std::printf("\nmicroseconds per n (peak MB), by n; a constant figure along a row is linear growth "
                "(skipped: timed out at a smaller n)\n");
    std::printf("  %-9s %-6s %-16s", "kind", "op", "who");
    for (int n : gOpt.ns)
        std::printf(" %19s", ("n=" + std::to_string(n)).c_str());
    std::printf("\n");
    for (const SummaryKey& key : gSummaryOrder) {
        std::printf("  %-9s %-6s %-16s", kKindNames[key.kind], key.op.c_str(), key.who.c_str());
        const auto& byN = gSummary[key];
        for (int n : gOpt.ns) {
            const auto it = byN.find(n);
            char cell[64];
            if (it == byN.end())
                std::snprintf(cell, sizeof cell, "-");
            else if (it->second.skipped)
                std::snprintf(cell, sizeof cell, "skipped");
            else if (it->second.m.timedOut)
                std::snprintf(cell, sizeof cell, "timeout");
            else if (!it->second.m.ok)
                std::snprintf(cell, sizeof cell, "FAILED");
            else
                std::snprintf(cell, sizeof cell, "%.2f (%.0f)", it->second.m.seconds * 1e6 / n,
                              it->second.m.peakMB);
            std::printf(" %19s", cell);
        }
        std::printf("\n");
    }
}

bool parseOptions(int argc, char** argv) {
    gOpt.host = SCALE_BENCH_HOST;
    gOpt.basePlugin = SCALE_BENCH_BASE_PLUGIN;
    gOpt.plugin = SCALE_BENCH_PLUGIN;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : arg.substr(eq + 1);
        if (name == "--n") {
            gOpt.ns.clear();
            std::stringstream list(value);
            for (std::string item; std::getline(list, item, ',');) {
                const int n = std::atoi(item.c_str());
                if (n <= 0 || n > kBlock * kBlocksPerGroup * 100) return false;
                gOpt.ns.push_back(n);
            }
            if (gOpt.ns.empty()) return false;
        } else if (name == "--dicomdir-max") {
            gOpt.dicomdirMax = std::atoi(value.c_str());
        } else if (name == "--timeout") {
            gOpt.timeout = std::atof(value.c_str());
            if (gOpt.timeout <= 0) return false;
        } else if (name == "--repeat") {
            gOpt.repeat = std::max(1, std::atoi(value.c_str()));
        } else if (name == "--data") {
            gOpt.data = value;
        } else if (name == "--python") {
            gOpt.python = value;
        } else if (name == "--host") {
            gOpt.host = value;
        } else if (name == "--base-plugin") {
            gOpt.basePlugin = value;
        } else if (name == "--plugin") {
            gOpt.plugin = value;
        } else {
            return false;
        }
    }
    std::sort(gOpt.ns.begin(), gOpt.ns.end());
    return !gOpt.host.empty() && !gOpt.basePlugin.empty() && !gOpt.plugin.empty();
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0) return childMain(argc, argv);
    if (!parseOptions(argc, argv)) {
        std::fprintf(stderr, "usage: dataset_scale_bench [--n=1000,10000,100000] [--dicomdir-max=10000] "
                             "[--timeout=120] [--repeat=3] [--data=FOLDER] [--python=/usr/bin/python3] "
                             "[--host=PROGRAM --base-plugin=PATH --plugin=PATH]\n");
        return 2;
    }
    gSelf = fs::read_symlink("/proc/self/exe").string();
    bool temporary = gOpt.data.empty();
    if (temporary) {
        std::string pattern = (fs::temp_directory_path() / "dataset-scale-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            std::fprintf(stderr, "cannot make a temporary folder\n");
            return 1;
        }
        gDir = pattern;
    } else {
        gDir = gOpt.data;
        fs::create_directories(gDir);
    }
    gDir = fs::absolute(gDir);
    writeText(gDir / "scale.py", kPython);

    std::printf("data set scale benchmark: files in %s%s\n", gDir.c_str(),
                temporary ? " (removed at the end)" : "");
    std::printf("host: %s with %s and %s\n", gOpt.host.c_str(), gOpt.basePlugin.c_str(), gOpt.plugin.c_str());
    std::printf(
        "time limit %.0f s a measurement; a run under 1 s is repeated (%d in all), the fastest shown\n",
        gOpt.timeout, gOpt.repeat);
    std::printf("dicomdir kind up to n = %d (--dicomdir-max): dcmmkdir grows with the square of n\n",
                gOpt.dicomdirMax);
    std::printf("us/n: microseconds per element, item or image; peak: the child's peak resident size\n");

    int status = 0;
    if (!makeFile(kElements, 0, nullptr)) return 1;
    {
        // What starting a program costs, to read the small figures by.
        const fs::path base = fileOf(kElements, 0);
        const fs::path script = gDir / "scripts-startup.txt";
        writeText(script, "t = FenraDicomSystem.openFile(" + quoted(base) + ")\n");
        const fs::path log = gDir / "child.log";
        const Measure h = benchchild::measure(with(hostCommand(), {"--script", script}), log.string(),
                                              benchchild::Streams::outputAndErrors, gOpt.timeout);
        const Measure l =
            benchchild::measure(self({"noop"}), log.string(), benchchild::Streams::outputAndErrors);
        const Measure d =
            benchchild::measure({"dcmdump", base}, log.string(), benchchild::Streams::outputAndErrors);
        const Measure p =
            benchchild::measure(python({"startup"}), log.string(), benchchild::Streams::outputAndErrors);
        std::printf(
            "start-up (a file of 5 elements opened where it applies): host %.3f s %.1f MB, library %.3f s "
            "%.1f MB, dcmdump %.3f s %.1f MB, python3 + pydicom %.3f s %.1f MB\n",
            h.seconds, h.peakMB, l.seconds, l.peakMB, d.seconds, d.peakMB, p.seconds, p.peakMB);
        if (!h.ok) {
            std::fprintf(stderr, "the host cannot open a file: %s\n", firstLine(readText(log)).c_str());
            return 1;
        }
    }

    for (int n : gOpt.ns) {
        for (Kind kind : {kElements, kItems, kDicomdir}) {
            if (kind == kDicomdir && n > gOpt.dicomdirMax) {
                std::printf("\ndicomdir, n = %d: left out (over --dicomdir-max=%d)\n", n, gOpt.dicomdirMax);
                continue;
            }
            Measure mkdir;
            if (!makeFile(kind, n, &mkdir)) {
                status = 1;
                continue;
            }
            runKind(kind, n);
            if (kind == kDicomdir && mkdir.ok) {
                Row row{"make", "dcmmkdir", mkdir, false, "making the DICOMDIR (not repeated)"};
                printRow(row, n);
                record(kind, n, row);
            }
        }
    }
    printSummary();
    for (const auto& [key, byN] : gSummary)
        for (const auto& [n, row] : byN)
            if (!row.skipped && !row.m.timedOut && !row.m.ok) status = 1;
    if (temporary) {
        std::error_code ec;
        fs::remove_all(gDir, ec);
    }
    return status;
}
