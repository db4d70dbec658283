// Real elements for the number and binary value tests: pydicom lists the top-level elements of a
// file (VR, where the element and its value start, the value length, the byte order and, for
// numbers, the values), and the node reader takes them from the file at those places. The
// big-endian fixture is made from a pydicom test file with DCMTK's dcmconv into the build tree.
#pragma once

#include "KelvoDicomData.h"
#include "TestFiles.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace numbersfixtures {

struct RealElement {
    std::string vr;
    int64_t elementPosition = 0;
    int64_t valuePosition = 0;
    uint32_t length = 0;
    bool bigEndian = false;
    std::vector<std::string> values; // numbers only, as pydicom shows them
};

inline const char* kListerScript = R"PY(
import sys, warnings
warnings.simplefilter("ignore")
import pydicom
from pydicom.filereader import data_element_generator, read_preamble, _read_file_meta_info
from pydicom.dataelem import DataElement_from_raw
RAW = ("OB", "OW", "OF", "UN")
WANT = {"US", "SS", "UL", "SL", "FL", "FD"} | set(RAW)
with open(sys.argv[1], "rb") as fp:
    read_preamble(fp, False)
    little = _read_file_meta_info(fp).TransferSyntaxUID != "1.2.840.10008.1.2.2"
    for raw in data_element_generator(fp, False, little, defer_size=None):
        vr = str(raw.VR)
        if vr not in WANT or raw.length == 0xFFFFFFFF:
            continue
        header = 12 if vr in RAW else 8
        line = [vr, str(raw.value_tell - header), str(raw.value_tell), str(raw.length), "0" if little else "1"]
        if vr not in RAW:
            value = DataElement_from_raw(raw).value
            values = list(value) if isinstance(value, (list, pydicom.multival.MultiValue)) else [value]
            line += [repr(float(v)) if vr in ("FL", "FD") else str(v) for v in values]
        print(" ".join(line))
)PY";

// A folder of the build tree for derived fixtures.
inline std::string fixtureFolder() { return testsupport::derivedFixtures("number-value-fixtures"); }

inline std::string pydicomFile(const char* name) {
    return std::string(testsupport::pydicomTestFiles()) + "/" + name;
}

// CT_small in explicit VR big endian (it holds US, SS, UL, SL, FL, FD, OB and OW elements);
// empty when dcmconv cannot make it.
inline std::string bigEndianCT() {
    std::string out = fixtureFolder() + "/CT_small_big_endian.dcm";
    if (!std::filesystem::exists(out)) {
        // Made under a name of this process and renamed, as tests may run side by side.
        std::string partial = out + "." + std::to_string(getpid());
        int status = 0;
        testsupport::run("dcmconv +tb '" + pydicomFile("CT_small.dcm") + "' '" + partial + "' 2>&1", &status);
        if (status != 0) return std::string();
        std::filesystem::rename(partial, out);
    }
    return out;
}

inline std::vector<RealElement> listElements(const std::string& path) {
    std::vector<RealElement> elements;
    std::string script = fixtureFolder() + "/list_elements." + std::to_string(getpid()) + ".py";
    testsupport::writeFile(script, kListerScript);
    int status = 0;
    std::string out =
        testsupport::run("/usr/bin/python3 '" + script + "' '" + path + "' 2>/dev/null", &status);
    std::filesystem::remove(script);
    if (status != 0) return elements;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        RealElement e;
        int big = 0;
        if (!(words >> e.vr >> e.elementPosition >> e.valuePosition >> e.length >> big)) continue;
        e.bigEndian = big != 0;
        std::string v;
        while (words >> v)
            e.values.push_back(v);
        elements.push_back(e);
    }
    return elements;
}

// The element's value read by the node reader, byte-swapped into host order when big endian.
inline void readNode(const std::string& path, const RealElement& e, KelvoDicomDataNode& node) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return;
    dicomNodeDescRecord desc{};
    desc.vr[0] = e.vr[0];
    desc.vr[1] = e.vr[1];
    desc.length = e.length;
    dicomNodeFPosRecord fpos{e.elementPosition, e.valuePosition};
    KelvoDicomDataNode::read(f, desc, fpos, e.bigEndian, node);
    std::fclose(f);
}

inline std::string fileBytes(const std::string& path, int64_t from, int64_t to) {
    std::string all = testsupport::readFile(path);
    if (from < 0 || to > int64_t(all.size()) || from > to) return std::string();
    return all.substr(size_t(from), size_t(to - from));
}

// What a node writes: its VR, length and value in explicit VR (the tag excluded), and its value
// alone, in the element's byte order.
inline std::string flushed(KelvoDicomDataNode& node, bool bigEndian) {
    char* buffer = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&buffer, &size);
    uint8_t flags = bigEndian ? 0x4 : 0;
    node.flushToBinary(f, &flags);
    std::fclose(f);
    std::string bytes(buffer, size);
    std::free(buffer);
    return bytes;
}

inline std::string valueBytes(KelvoDicomDataNode& node, bool bigEndian) {
    char* buffer = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&buffer, &size);
    node.writeBinaryData(f, bigEndian);
    std::fclose(f);
    std::string bytes(buffer, size);
    std::free(buffer);
    return bytes;
}

} // namespace numbersfixtures
