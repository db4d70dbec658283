// A secondary-capture file with an icon in its Icon Image Sequence (0088,0200), made at test time
// by DCMTK's dump2dcm: the icon and the image are the same 40 x 48 grey pixels, so that what is
// made of the icon can be compared with the image as the peers read it.
#pragma once

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <string>

namespace plugintest {

constexpr int kIconColumns = 40;
constexpr int kIconRows = 48;

// The icon's pixels, row after row.
inline std::string iconPixels() {
    std::string bytes;
    for (int y = 0; y < kIconRows; ++y)
        for (int x = 0; x < kIconColumns; ++x)
            bytes += char((x * 5 + y * 11 + (x * y) % 7) & 0xFF);
    return bytes;
}

inline std::string iconFile() {
    static const std::string path = [] {
        const std::string folder = testsupport::derivedFixtures("plugin-icons");
        const std::string raw = testsupport::draftOf(folder + "/icon.raw");
        testsupport::writeFile(raw, iconPixels());
        const std::string pixelGroup = R"((0028,0002) US 1
(0028,0004) CS [MONOCHROME2]
(0028,0010) US 48
(0028,0011) US 40
(0028,0100) US 8
(0028,0101) US 8
(0028,0102) US 7
(0028,0103) US 0
)";
        const std::string dump = testsupport::draftOf(folder + "/icon.dump");
        testsupport::writeFile(dump, "(0002,0010) UI [1.2.840.10008.1.2.1]\n"
                                     "(0008,0016) UI [1.2.840.10008.5.1.4.1.1.7]\n"
                                     "(0008,0018) UI [1.2.826.0.1.3680043.2.1143.77.1]\n"
                                     "(0008,0060) CS [OT]\n"
                                     "(0010,0010) PN [Icon^Holder]\n" +
                                         pixelGroup +
                                         "(0088,0200) SQ (Sequence with explicit length #=1)\n"
                                         "(fffe,e000) na (Item with explicit length #=9)\n" +
                                         pixelGroup + "(7fe0,0010) OB =" + raw +
                                         "\n(fffe,e00d) na (ItemDelimitationItem for re-encoding)\n"
                                         "(fffe,e0dd) na (SequenceDelimitationItem for re-encoding)\n"
                                         "(7fe0,0010) OB =" +
                                         raw + "\n");
        const std::string file = folder + "/icon.dcm";
        int status = -1;
        const std::string draft = testsupport::draftOf(file);
        const std::string said = testsupport::run("dump2dcm +E " + dump + " " + draft + " 2>&1", &status);
        EXPECT_EQ(status, 0) << said;
        EXPECT_TRUE(testsupport::publish(draft, file));
        std::filesystem::remove(raw);
        std::filesystem::remove(dump);
        return file;
    }();
    return path;
}

} // namespace plugintest
