// A tree as text lines, for comparing trees with each other and with what dcmdump reports: one
// line per element, sequence and item, its path naming the sequences and 1-based item indexes,
// e.g. "(0008,1140)[1](0008,1150) UI 26".
#pragma once

#include "KelvoDicomDataTree.h"
#include "TestFiles.h"

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace treelines {

inline std::string hex4(unsigned v) {
    char b[8];
    std::snprintf(b, sizeof b, "%04x", v & 0xFFFF);
    return b;
}

inline std::string lengthText(uint32_t length) {
    return length == 0xFFFFFFFFu ? "u/l" : std::to_string(length);
}

struct Options {
    bool lengths = true;         // the length of every element, sequence and item
    bool values = false;         // the value bytes of every element, in hexadecimal
    bool groupLengths = true;    // elements (gggg,0000)
    bool vrOfPrivate = true;     // the VR of elements of odd groups
    bool valuesOfPrivate = true; // their values (implicit VR keeps text padding as bytes)
};

inline std::string valueText(QTAtomContainer c, QTAtom element) {
    std::string out;
    QTAtom data = QTFindChildByIndex(c, element, kDicomNodeDataAtom, 1, nullptr);
    QTAtom v = 0;
    while (data && QTNextChildAnyType(c, data, v, &v) == noErr && v) {
        int32_t size = 0;
        Ptr p = nullptr;
        QTGetAtomDataPtr(c, v, &size, &p);
        out += " [";
        for (int32_t i = 0; i < size; ++i) {
            char h[4];
            std::snprintf(h, sizeof h, "%02x", unsigned(uint8_t(p[i])));
            out += h;
        }
        out += "]";
    }
    return out;
}

inline void walkGroups(QTAtomContainer c, QTAtom parent, const std::string& path, const Options& o,
                       std::vector<std::string>& out);

inline void walkElements(QTAtomContainer c, QTAtom group, uint16_t groupNumber, const std::string& path,
                         const Options& o, std::vector<std::string>& out) {
    QTAtom child = 0;
    while (QTNextChildAnyType(c, group, child, &child) == noErr && child) {
        QTAtomType type;
        QTAtomID id;
        QTGetAtomTypeAndID(c, child, &type, &id);
        if (type != kDicomElementAtom && type != kDicomSequenceAtom) continue;
        uint16_t element = DicmUtils_NumberForAtomID(id);
        if (!o.groupLengths && element == 0) continue;
        qtAtomNodeHeader h{};
        int32_t status = 0;
        DicmUtils_NodeInfo(h, c, child, status);
        std::string tag = "(" + hex4(groupNumber) + "," + hex4(element) + ")";
        std::string line = path + tag;
        if (o.vrOfPrivate || !(groupNumber & 1)) line += " " + std::string(h.vr, 2);
        if (o.lengths) line += " " + lengthText(h.length);
        if (o.values && type == kDicomElementAtom && (o.valuesOfPrivate || !(groupNumber & 1)))
            line += valueText(c, child);
        out.push_back(line);
        if (type != kDicomSequenceAtom) continue;
        int index = 0;
        QTAtom item = 0;
        while (QTNextChildAnyType(c, child, item, &item) == noErr && item) {
            QTAtomType t;
            QTGetAtomTypeAndID(c, item, &t, nullptr);
            if (t != kDicomItemAtom) continue;
            qtAtomNodeHeader ih{};
            DicmUtils_NodeInfo(ih, c, item, status);
            std::string itemPath = path + tag + "[" + std::to_string(++index) + "]";
            out.push_back(itemPath + " na" + (o.lengths ? " " + lengthText(ih.length) : std::string()));
            walkGroups(c, item, itemPath, o, out);
        }
    }
}

inline void walkGroups(QTAtomContainer c, QTAtom parent, const std::string& path, const Options& o,
                       std::vector<std::string>& out) {
    QTAtom group = 0;
    while (QTNextChildAnyType(c, parent, group, &group) == noErr && group) {
        QTAtomType type;
        QTAtomID id;
        QTGetAtomTypeAndID(c, group, &type, &id);
        if (type == kDicomGroupAtom) walkElements(c, group, DicmUtils_NumberForAtomID(id), path, o, out);
    }
}

inline std::vector<std::string> lines(KelvoDicomDataTree& tree, const Options& o = {}) {
    std::vector<std::string> out;
    walkGroups(tree.Dictionary(), 0, "", o, out);
    return out;
}

} // namespace treelines

namespace treelines {
// "" when equal, else where the two lists first part.
inline std::string firstDifference(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    if (a == b) return "";
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i])
        ++i;
    return "line " + std::to_string(i) + ": '" + (i < a.size() ? a[i] : "(end)") + "' vs '" +
           (i < b.size() ? b[i] : "(end)") + "'";
}
} // namespace treelines

namespace treelines {
// dcmdump's data set in the same form (public dictionary only, so that its private dictionary
// does not type private tags that a reader without it sees as unknown).
inline std::vector<std::string> dcmdumpLines(const std::string& file) {
    std::string text = testsupport::run("DCMDICTPATH=/usr/share/libdcmtk17/dicom.dic dcmdump -q +L -dc '" +
                                        file + "' 2>/dev/null");
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    bool dataSet = false;
    std::vector<std::string> stack; // the path of each nesting level
    std::vector<int> itemCounts;
    std::string piece;
    while (std::getline(in, piece)) {
        line = piece;
        if (line.rfind("# Dicom-Data-Set", 0) == 0) dataSet = true;
        // A value with line breaks spreads one element over several lines: join them up to the
        // line that holds the length.
        size_t lead = line.find_first_not_of(' ');
        while (lead != std::string::npos && line[lead] == '(' && line.find(" #") == std::string::npos &&
               std::getline(in, piece))
            line += "\n" + piece;
        // "  (gggg,eeee) VR value... # length, vm Name", parsed by hand: the values can be long.
        size_t indent = line.find_first_not_of(' ');
        size_t hash = line.rfind('#');
        if (!dataSet || indent == std::string::npos || hash == std::string::npos ||
            line.size() < indent + 15 || line[indent] != '(' || line[indent + 5] != ',' ||
            line[indent + 10] != ')')
            continue;
        size_t lengthStart = line.find_first_not_of(' ', hash + 1);
        size_t comma = line.find(',', lengthStart);
        if (lengthStart == std::string::npos || comma == std::string::npos) continue;
        std::string lengthField = line.substr(lengthStart, comma - lengthStart);
        size_t depth = indent / 2;
        std::string tag = line.substr(indent, 11);
        std::string vr = line.substr(indent + 12, 2);
        if (vr == "??") vr = "UN";
        if (vr == "up") vr = "UL"; // DCMTK's name for the UL offsets of directory records
        if (vr == "pi") continue;  // fragments of encapsulated pixel data stay in the file
        if (tag == "(fffe,e00d)" || tag == "(fffe,e0dd)") continue;
        stack.resize(depth + 1);
        itemCounts.resize(depth + 1);
        std::string prefix;
        for (size_t i = 0; i < depth; ++i)
            prefix += stack[i];
        if (tag == "(fffe,e000)") {
            std::string itemTag = "[" + std::to_string(++itemCounts[depth]) + "]";
            stack[depth] = itemTag;
            out.push_back(prefix + itemTag + " na " + lengthField);
        } else {
            stack[depth] = tag;
            if (depth + 1 < itemCounts.size()) itemCounts[depth + 1] = 0;
            if (itemCounts.size() < depth + 2) itemCounts.resize(depth + 2);
            itemCounts[depth + 1] = 0;
            out.push_back(prefix + tag + " " + vr + " " + lengthField);
        }
    }
    return out;
}
} // namespace treelines
