// A tree as text lines, for comparing trees with each other and with what dcmdump reports: one
// line per element, sequence and item, its path naming the sequences and 1-based item indexes,
// e.g. "(0008,1140)[1](0008,1150) UI 26".
#pragma once

#include "KelvoDicomDataTree.h"

#include <cstdio>
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
