// How a stream is encoded, decided on real files: pydicom's test corpus and streams made with
// DCMTK into the build tree.
#include "VUXDicomLib.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using VUX::VUXDCM::VUXDicomLibrary;

const fs::path kCorpus = "/usr/lib/python3/dist-packages/pydicom/data/test_files";

struct Answer {
    uint32_t attributes;
    bool isDicom;
    long position; // where the stream is left
};

Answer fromFile(const fs::path& path) {
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
    EXPECT_TRUE(f) << path;
    if (!f) return {0xFFFFFFFFu, false, -1};
    Answer a{};
    a.attributes = VUXDicomLibrary::streamIOAttributes(f.get(), a.isDicom);
    a.position = std::ftell(f.get());
    return a;
}

Answer fromStream(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    Answer a{};
    a.attributes = VUXDicomLibrary::streamIOAttributes(in, a.isDicom);
    a.position = in ? long(in.tellg()) : -1;
    return a;
}

void expectBoth(const fs::path& path, uint32_t attributes, bool isDicom, long position) {
    for (const Answer& a : {fromFile(path), fromStream(path)}) {
        EXPECT_EQ(a.attributes, attributes) << path;
        EXPECT_EQ(a.isDicom, isDicom) << path;
        if (isDicom) {
            EXPECT_EQ(a.position, position) << path;
        }
    }
}

bool haveCorpus() {
    return fs::exists(kCorpus / "CT_small.dcm");
}

TEST(DicomStreamKind, Part10Files) {
    if (!haveCorpus()) GTEST_SKIP() << "pydicom's test files are not installed";
    // Whatever the meta header says, the meta header itself is explicit VR little endian.
    for (const char* name :
         {"CT_small.dcm", "MR_small_implicit.dcm", "MR_small_bigendian.dcm", "JPEG2000.dcm"})
        expectBoth(kCorpus / name, 0, true, 132);
}

TEST(DicomStreamKind, RawStreams) {
    if (!haveCorpus()) GTEST_SKIP() << "pydicom's test files are not installed";
    // Starts with (0008,0005) and has no preamble.
    expectBoth(kCorpus / "rtstruct.dcm", kDicmIOImplicitVR | kDicmIONoPreamble, true, 0);
    // A raw stream is always taken as implicit VR little endian, even when it is explicit.
    expectBoth(kCorpus / "ExplVR_LitEndNoMeta.dcm", kDicmIOImplicitVR | kDicmIONoPreamble, true, 0);
    // A big-endian raw stream starts with a tag nobody knows when read little endian.
    expectBoth(kCorpus / "ExplVR_BigEndNoMeta.dcm", 0, false, 0);
}

// Old ACR-NEMA streams start with the group length of their first group.
TEST(DicomStreamKind, RawStreamStartingWithGroupLength) {
    if (!haveCorpus()) GTEST_SKIP() << "pydicom's test files are not installed";
    if (std::system("command -v dcmconv >/dev/null 2>&1") != 0) GTEST_SKIP() << "DCMTK is not installed";
    testsupport::ScratchDir scratch("stream-kind");
    const fs::path out = scratch.path() / "raw_with_group_lengths.dcm";
    fs::remove(out);
    const std::string cmd =
        "dcmconv +ti -F +g \"" + (kCorpus / "CT_small.dcm").string() + "\" \"" + out.string() + "\"";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::ifstream in(out, std::ios::binary);
    unsigned char head[8] = {};
    in.read(reinterpret_cast<char*>(head), 8);
    ASSERT_EQ(std::string(reinterpret_cast<char*>(head), 4), std::string("\x08\x00\x00\x00", 4))
        << "(0008,0000)";
    expectBoth(out, kDicmIOImplicitVR | kDicmIONoPreamble, true, 0);
}

TEST(DicomStreamKind, ShortAndBrokenInput) {
    testsupport::ScratchDir scratch("stream-kind");
    const fs::path dir = scratch.path();
    fs::create_directories(dir);
    auto write = [&](const char* name, const std::string& bytes) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
        return dir / name;
    };
    // Shorter than the preamble: the failed read at 128 says nothing about the start.
    expectBoth(write("short_known.raw", std::string("\x10\x00\x10\x00\x04\x00\x00\x00", 8)),
               kDicmIOImplicitVR | kDicmIONoPreamble, true, 0);
    expectBoth(write("short_private.raw", std::string("\x09\x00\x10\x00\x04\x00\x00\x00", 8)), 0, false, 0);
    expectBoth(write("three_bytes.raw", std::string("\x08\x00\x05", 3)), 0, false, 0);
    expectBoth(write("empty.raw", ""), 0, false, 0);
    // Multi-VR tags have no standard row, so they do not mark a raw stream.
    expectBoth(write("pixel_first.raw", std::string("\xE0\x7F\x10\x00\x00\x00\x00\x00", 8)), 0, false, 0);
    // "DICM" at 128 makes a Part-10 file, even with nothing after it.
    expectBoth(write("magic_only.dcm", std::string(128, '\0') + "DICM"), 0, true, 132);

    bool isDicom = true;
    EXPECT_EQ(VUXDicomLibrary::streamIOAttributes(static_cast<FILE*>(nullptr), isDicom), 0u);
    EXPECT_FALSE(isDicom);
    std::istringstream failed(std::string("\x08\x00\x05\x00", 4));
    failed.setstate(std::ios::failbit);
    isDicom = true;
    EXPECT_EQ(VUXDicomLibrary::streamIOAttributes(failed, isDicom), 0u);
    EXPECT_FALSE(isDicom);
}

} // namespace
