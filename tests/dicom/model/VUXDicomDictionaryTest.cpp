#include "VUXDicomLib.h"
#include "VUXDicomLibCoreDictionary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <iterator>

namespace {

using VUX::VUXDCM::VUXDicomLibrary;
namespace CD = VUX::VUXDCM::CoreDictionary;

dataElementTagRecord tag(uint16_t group, uint16_t element) {
    return {group, element};
}

std::string tagText(uint32_t t) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "(%04X,%04X)", t >> 16, t & 0xFFFF);
    return buf;
}

TEST(DicomDictionary, KnownRows) {
    struct Row {
        uint16_t group, element;
        const char* vr;
        const char* vm;
        const char* name;
    };
    const Row rows[] = {
        {0x0000, 0x0000, "UL", "1", "CommandGroupLength"},
        {0x0002, 0x0000, "UL", "1", "MetaElementGroupLength"},
        {0x0002, 0x0001, "OB", "1", "FileMetaInformationVersion"},
        {0x0002, 0x0002, "UI", "1", "MediaStorageSOPClassUID"},
        {0x0002, 0x0010, "UI", "1", "TransferSyntaxUID"},
        {0x0002, 0x0013, "SH", "1", "ImplementationVersionName"},
        {0x0002, 0x0016, "AE", "1", "SourceApplicationEntityTitle"},
        {0x0008, 0x0005, "CS", "1-n", "SpecificCharacterSet"},
        {0x0010, 0x0010, "PN", "1", "Patient'sName"},
        {0x0028, 0x0002, "US", "1", "SamplesperPixel"},
        {0x0028, 0x0010, "US", "1", "Rows"},
        {0x0028, 0x1201, "OW", "1", "RedPaletteColorLookupTableData"},
        {0x7FE0, 0x0000, "UL", "1", "PixelDataGroupLength"},
        {0xFFFA, 0xFFFA, "SQ", "1", "DigitalSignaturesSequence"},
        {0xFFFC, 0xFFFC, "OB", "1", "DataSetTrailingPadding"},
        {0xFFFE, 0xE000, "na", "1", "Item"},
        {0xFFFE, 0xE00D, "na", "1", "ItemDelimitationItem"},
        {0xFFFE, 0xE0DD, "na", "1", "SequenceDelimitationItem"},
        // Group lengths of every group, so that raw streams starting with one are recognised.
        {0x0008, 0x0000, "UL", "1", "GroupLength"},
        {0x0018, 0x0000, "UL", "1", "GroupLength"},
        {0x6000, 0x0000, "UL", "1", "GroupLength"},
        // Tags with two VRs in the standard that are not context-dependent here get one.
        {0x0028, 0x3002, "US", "3", "LUTDescriptor"},
        {0x0018, 0x9810, "US", "1", "ZeroVelocityPixelValue"},
        {0x0014, 0x3050, "OW", "1", "DarkCurrentCounts"},
        // Repeating groups: the overlay, curve and variable pixel data groups, xx = 00 to 1E.
        {0x6000, 0x3000, "OW", "1", "OverlayData"},
        {0x601E, 0x0010, "US", "1", "OverlayRows"},
        {0x6002, 0x0050, "SS", "2", "OverlayOrigin"},
        {0x5000, 0x3000, "OW", "1", "CurveData"},
        {0x7F00, 0x0010, "OW", "1", "VariablePixelData"},
        // The later VRs.
        {0x0072, 0x0083, "UV", "1-n", "SelectorUVValue"},
        {0x7FE0, 0x0001, "OV", "1", "ExtendedOffsetTable"},
        {0x0008, 0x010E, "UR", "1", "CodingSchemeURL"},
    };
    for (const Row& r : rows) {
        const dicmDictEntry* e = VUXDicomLibrary::stdDataElementInfo(tag(r.group, r.element));
        ASSERT_NE(e, nullptr) << tagText(uint32_t(r.group) << 16 | r.element);
        EXPECT_EQ(e->element, r.element);
        EXPECT_STREQ(e->vr, r.vr) << r.name;
        EXPECT_STREQ(e->vm, r.vm) << r.name;
        EXPECT_STREQ(e->name, r.name);
        char vr[3] = {'x', 'x', 'x'};
        EXPECT_TRUE(VUXDicomLibrary::vrOfStdDataElement(tag(r.group, r.element), vr));
        EXPECT_STREQ(vr, r.vr);
        EXPECT_FALSE(VUXDicomLibrary::dataElementHasMultipleVR(tag(r.group, r.element)));
    }
}

TEST(DicomDictionary, Misses) {
    const dataElementTagRecord misses[] = {
        tag(0x0009, 0x0010),                                           // private groups are never standard
        tag(0x0029, 0x1010), tag(0x0010, 0x0011), tag(0x6020, 0x3000), // past the overlay groups
        tag(0x6001, 0x3000), tag(0xFFFE, 0x0000),                      // items have no group length
        tag(0xFFFE, 0xE001), tag(0x0028, 0x0410), // element-pattern repeaters are left out
        tag(0x1000, 0x0010), tag(0x0020, 0x3101), tag(0x1010, 0x0004),
    };
    for (const dataElementTagRecord& t : misses) {
        EXPECT_EQ(VUXDicomLibrary::stdDataElementInfo(t), nullptr)
            << tagText(uint32_t(t.group) << 16 | t.element);
        char vr[3] = {'x', 'x', 'x'};
        EXPECT_FALSE(VUXDicomLibrary::vrOfStdDataElement(t, vr));
        EXPECT_EQ(std::memcmp(vr, "\0\0\0", 3), 0);
    }
}

TEST(DicomDictionary, MultiVRTags) {
    const uint32_t tags[] = {0x00280071, 0x00280104, 0x00280105, 0x00280106, 0x00280107, 0x00280108,
                             0x00280109, 0x00280110, 0x00280111, 0x00280120, 0x00280121, 0x00281100,
                             0x00281101, 0x00281102, 0x00281103, 0x00281111, 0x00281112, 0x00281113,
                             0x00281200, 0x00283006, 0x00409211, 0x00409216, 0x00603004, 0x00603006,
                             0x54000110, 0x54000112, 0x5400100A, 0x54001010, 0x7FE00010};
    for (uint32_t t : tags) {
        const dataElementTagRecord rec = tag(uint16_t(t >> 16), uint16_t(t));
        EXPECT_TRUE(VUXDicomLibrary::dataElementHasMultipleVR(rec)) << tagText(t);
        EXPECT_EQ(VUXDicomLibrary::stdDataElementInfo(rec), nullptr) << tagText(t);
        char vr[3] = {'x', 'x', 'x'};
        EXPECT_FALSE(VUXDicomLibrary::vrOfStdDataElement(rec, vr));
        EXPECT_EQ(std::memcmp(vr, "\0\0\0", 3), 0);
    }
    // Exactly these: the table holds no others.
    size_t count = 0;
    for (uint32_t i = 0; i < CD::multiVRTagRefsCount; ++i) {
        const dicmDictEntryIndex& g = CD::multiVRTagRefs[i];
        for (uint32_t r = 0; r < g.count; ++r) {
            ++count;
            EXPECT_EQ(g.entries[r].vr[0], 0);
            EXPECT_EQ(g.entries[r].vm, nullptr);
            EXPECT_GT(std::strlen(g.entries[r].name), 0u);
        }
    }
    EXPECT_EQ(count, std::size(tags));
    const dicmDictEntry* pixel =
        VUX::VUXDCM::dicmDictTableEntry(tag(0x7FE0, 0x0010), CD::multiVRTagRefs, CD::multiVRTagRefsCount);
    ASSERT_NE(pixel, nullptr);
    EXPECT_STREQ(pixel->name, "PixelData");
    EXPECT_FALSE(VUXDicomLibrary::dataElementHasMultipleVR(tag(0x7FE0, 0x0020)));
    EXPECT_FALSE(VUXDicomLibrary::dataElementHasMultipleVR(tag(0x7FE1, 0x0010)));
}

// The tables hold together: groups and elements ascend without repeats, every VR is in the VR
// table, and every name fits the external dictionaries' record.
TEST(DicomDictionary, TableShape) {
    uint32_t rows = 0;
    int previousGroup = -1;
    for (uint32_t i = 0; i < CD::entriesIndexesCount; ++i) {
        const dicmDictEntryIndex& g = CD::entriesIndexes[i];
        EXPECT_GT(int(g.group), previousGroup);
        EXPECT_EQ(g.group & 1, 0);
        previousGroup = g.group;
        ASSERT_GT(g.count, 0u);
        int previousElement = -1;
        for (uint32_t r = 0; r < g.count; ++r) {
            const dicmDictEntry& e = g.entries[r];
            EXPECT_GT(int(e.element), previousElement) << std::hex << g.group;
            previousElement = e.element;
            ASSERT_NE(VUXDicomLibrary::vrInfo(e.vr), nullptr) << e.name;
            EXPECT_EQ(std::strlen(e.vr), 2u);
            EXPECT_LT(std::strlen(e.name), sizeof(dicmDictFileRecord::name));
            ASSERT_NE(e.vm, nullptr);
            EXPECT_LT(std::strlen(e.vm), sizeof(dicmDictFileRecord::vm));
            EXPECT_EQ(VUXDicomLibrary::stdDataElementInfo(tag(g.group, e.element)), &e);
            ++rows;
        }
        if (g.group < 0xFFFA) {
            EXPECT_EQ(g.entries[0].element, 0) << "group length of " << std::hex << g.group;
        }
    }
    EXPECT_EQ(rows, CD::entriesCount);
}

TEST(DicomDictionary, GroupsAndTags) {
    for (uint16_t g : {0x0001, 0x0003, 0x0005, 0x0007}) {
        EXPECT_TRUE(VUXDicomLibrary::dataElementIsGroupReserved(g));
        EXPECT_FALSE(VUXDicomLibrary::dataElementIsGroupValidForPrivate(g));
    }
    for (uint16_t g : {0x0000, 0x0002, 0x0009, 0x0011, 0xFFFF})
        EXPECT_FALSE(VUXDicomLibrary::dataElementIsGroupReserved(g));
    EXPECT_TRUE(VUXDicomLibrary::dataElementIsGroupValidForPrivate(0x0009));
    EXPECT_TRUE(VUXDicomLibrary::dataElementIsGroupValidForPrivate(0x7FE1));
    EXPECT_FALSE(VUXDicomLibrary::dataElementIsGroupValidForPrivate(0x0010));
    EXPECT_TRUE(VUXDicomLibrary::dataElementIsPrivate(tag(0x0029, 0x0010)));
    EXPECT_FALSE(VUXDicomLibrary::dataElementIsPrivate(tag(0x0003, 0x0010)));
    EXPECT_FALSE(VUXDicomLibrary::dataElementIsPrivate(tag(0x0028, 0x0010)));

    const dataElementTagRecord fixed = tag(0x0028, 0x0010);
    EXPECT_EQ(VUXDicomLibrary::dataElementTagSwap(fixed), 0x10002800u);
    dataElementTagRecord t = tag(0x7FE0, 0x0010);
    VUXDicomLibrary::dataElementTagSwap(t);
    EXPECT_EQ(t.group, 0xE07F);
    EXPECT_EQ(t.element, 0x1000);

    static_assert(sizeof(dicmDictFileRecord) == 146);
    static_assert(offsetof(dicmDictFileRecord, name) == 4);
    static_assert(offsetof(dicmDictFileRecord, vr) == 124);
    static_assert(offsetof(dicmDictFileRecord, vm) == 126);
}

// The generated rows against pydicom's own data dictionary, read by its Python at test time.
TEST(DicomDictionary, AgreesWithPydicom) {
    const char* script = "/usr/bin/python3 - <<'EOF'\n"
                         "from pydicom._dicom_dict import DicomDictionary, RepeatersDictionary\n"
                         "for t, (vr, vm, name, r, k) in DicomDictionary.items():\n"
                         "    print('P\\t%08X\\t%s\\t%s\\t%s' % (t, vr, vm, name))\n"
                         "for m, (vr, vm, name, r, k) in RepeatersDictionary.items():\n"
                         "    print('R\\t%s\\t%s\\t%s\\t%s' % (m, vr, vm, name))\n"
                         "EOF\n";
    FILE* pipe = popen(script, "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        output.append(buf, n);
    const int status = pclose(pipe);
    if (status != 0 || output.empty()) GTEST_SKIP() << "pydicom is not available to /usr/bin/python3";

    auto singleVR = [](const std::string& vr) -> std::string {
        if (vr == "NONE") return "na";
        if (vr == "US or SS") return "US";
        if (vr == "OB or OW") return "OW";
        return vr;
    };
    auto keyword = [](std::string name) {
        name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
        return name;
    };

    // tag -> (vr, vm, name) expected in the generated table
    std::map<uint32_t, std::tuple<std::string, std::string, std::string>> expected;
    size_t plain = 0, multi = 0, elementRepeaters = 0;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string kind, key, vr, vm, name;
        std::getline(fields, kind, '\t');
        std::getline(fields, key, '\t');
        std::getline(fields, vr, '\t');
        std::getline(fields, vm, '\t');
        std::getline(fields, name);
        if (kind == "P") {
            const uint32_t t = uint32_t(std::stoul(key, nullptr, 16));
            const dataElementTagRecord rec = tag(uint16_t(t >> 16), uint16_t(t));
            if (VUXDicomLibrary::dataElementHasMultipleVR(rec)) {
                // Context-dependent here, and pydicom agrees that the standard gives two VRs.
                EXPECT_NE(vr.find(" or "), std::string::npos) << tagText(t);
                ++multi;
                continue;
            }
            expected[t] = {singleVR(vr), vm, keyword(name)};
            ++plain;
        } else if (kind == "R") {
            const std::string group = key.substr(0, 4), element = key.substr(4);
            if (element.find('x') != std::string::npos) {
                ++elementRepeaters;
                continue;
            }
            ASSERT_TRUE(group == "50xx" || group == "60xx" || group == "7Fxx") << key;
            const uint32_t base = group == "50xx" ? 0x5000 : group == "60xx" ? 0x6000 : 0x7F00;
            for (uint32_t g = base; g <= base + 0x1E; g += 2)
                expected[g << 16 | uint32_t(std::stoul(element, nullptr, 16))] = {singleVR(vr), vm,
                                                                                  keyword(name)};
        }
    }
    ASSERT_GT(plain, 4000u);
    EXPECT_EQ(multi, 29u);
    EXPECT_GT(elementRepeaters, 0u);
    expected[0x00020000] = {"UL", "1", "MetaElementGroupLength"};

    std::set<uint32_t> seen;
    for (const auto& [t, row] : expected) {
        const dicmDictEntry* e = VUXDicomLibrary::stdDataElementInfo(tag(uint16_t(t >> 16), uint16_t(t)));
        ASSERT_NE(e, nullptr) << tagText(t);
        EXPECT_EQ(e->vr, std::get<0>(row)) << tagText(t);
        EXPECT_EQ(e->vm, std::get<1>(row)) << tagText(t);
        EXPECT_EQ(e->name, std::get<2>(row)) << tagText(t);
        seen.insert(t);
    }
    // Every other row of the table is a group length added for its group.
    for (uint32_t i = 0; i < CD::entriesIndexesCount; ++i) {
        const dicmDictEntryIndex& g = CD::entriesIndexes[i];
        for (uint32_t r = 0; r < g.count; ++r) {
            const uint32_t t = uint32_t(g.group) << 16 | g.entries[r].element;
            if (seen.count(t)) continue;
            EXPECT_EQ(g.entries[r].element, 0) << tagText(t) << " is in no source";
            EXPECT_STREQ(g.entries[r].vr, "UL");
            EXPECT_STREQ(g.entries[r].vm, "1");
        }
    }
}

} // namespace
