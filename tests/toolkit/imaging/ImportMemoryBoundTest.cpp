// Memory earned by data: image files of a few hundred bytes whose headers announce 16000 x 16000
// pictures, imported from their file and through the graphics import service, each in a child
// process of its own. The child's peak resident memory stays far below the picture's size, the
// import answers a failure status, and under a 600 MB address-space limit it still answers one
// (never an abort from an allocation that throws).
#include "KelvoImportGraphics.h"
#include "PlatformCodecEngines.h"
#include "PlatformGWorlds.h"
#include "PlatformMemory.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using platform::codec::Format;
using platform::codec::Picture;

constexpr uint16_t kSide = 16000;
constexpr double kPeakLimitMB = 256;

// AddressSanitizer reserves its shadow memory as address space, so a child under an address-space
// limit cannot start, and its own bookkeeping adds to the peak: the limited runs are left out and
// the engine alone gets the same bound as the rest.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

void putBE16(std::string& s, size_t at, uint16_t v) {
    s[at] = char(v >> 8);
    s[at + 1] = char(v & 0xFF);
}

void putBE32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        s[at + size_t(i)] = char((v >> (24 - 8 * i)) & 0xFF);
}

Picture smallPicture(int components) {
    Picture p;
    p.width = p.height = 16;
    p.components = components;
    p.samples.resize(16 * 16 * size_t(components));
    for (size_t i = 0; i < p.samples.size(); ++i)
        p.samples[i] = uint8_t(i * 7);
    return p;
}

std::string encoded(Format format, int components) {
    std::vector<uint8_t> out;
    EXPECT_EQ(
        platform::codec::encode(format, smallPicture(components), platform::codec::EncodeOptions(), out),
        noErr);
    return std::string(out.begin(), out.end());
}

// A baseline JPEG of 16 x 16 whose frame header says 16000 x 16000.
std::string lyingJPEG() {
    std::string s = encoded(Format::JPEG, 3);
    for (size_t i = 2; i + 8 < s.size(); ++i) {
        if (uint8_t(s[i]) == 0xFF && uint8_t(s[i + 1]) == 0xC0) {
            putBE16(s, i + 5, kSide); // lines
            putBE16(s, i + 7, kSide); // samples a line
            return s;
        }
    }
    ADD_FAILURE() << "no frame header";
    return s;
}

uint32_t crc32Of(const std::string& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (char ch : bytes) {
        crc ^= uint8_t(ch);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::string pngChunk(const std::string& type, const std::string& data) {
    std::string out(4, '\0');
    putBE32(out, 0, uint32_t(data.size()));
    out += type + data + std::string(4, '\0');
    putBE32(out, out.size() - 4, crc32Of(type + data));
    return out;
}

// 69 bytes: the signature, an IHDR of 16000 x 16000 8-bit RGB, an IDAT of the first 12 bytes of
// a zlib stream, and IEND.
std::string lyingPNG() {
    std::string ihdr(13, '\0');
    putBE32(ihdr, 0, kSide);
    putBE32(ihdr, 4, kSide);
    ihdr[8] = 8; // bits
    ihdr[9] = 2; // RGB
    return std::string("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", ihdr) +
           pngChunk("IDAT", std::string("\x78\x9c\x63\x60\x18\x05\xa3\x60\x14\x0c\x77\x00", 12)) +
           pngChunk("IEND", "");
}

// A JPEG 2000 codestream of 16 x 16 (opj_compress) whose size marker says 16000 x 16000 in one
// tile; empty when the tool is missing.
std::string lyingJ2K(const testsupport::ScratchDir& dir) {
    if (!testsupport::haveCommand("opj_compress")) return std::string();
    std::string pgm = "P5\n16 16\n255\n";
    for (int i = 0; i < 256; ++i)
        pgm += char(i);
    testsupport::writeFile(dir.file("small.pgm"), pgm);
    int status = -1;
    testsupport::run("opj_compress -n 2 -i '" + dir.file("small.pgm") + "' -o '" + dir.file("small.j2k") +
                         "' >/dev/null 2>&1",
                     &status);
    if (status != 0) return std::string();
    std::string s = testsupport::readFile(dir.file("small.j2k"));
    // SOC, then SIZ: marker, length, capabilities, Xsiz, Ysiz, XOsiz, YOsiz, XTsiz, YTsiz.
    if (s.size() < 40 || uint8_t(s[2]) != 0xFF || uint8_t(s[3]) != 0x51) return std::string();
    for (size_t at : {size_t(8), size_t(12), size_t(24), size_t(28)})
        putBE32(s, at, kSide);
    return s;
}

struct ChildResult {
    bool exited = false;
    int32_t status = 0; // what the import answered
    double peakMB = 0;
};

// Runs `work` in a child (with an address-space limit when `limitMB` > 0): its answer and peak.
template <class F> ChildResult inChild(size_t limitMB, F work) {
    ChildResult r;
    int fds[2];
    if (pipe(fds) != 0) return r;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        if (limitMB > 0) {
            rlimit lim{rlim_t(limitMB) << 20, rlim_t(limitMB) << 20};
            setrlimit(RLIMIT_AS, &lim);
        }
        const int32_t answer = work();
        (void)!write(fds[1], &answer, sizeof answer);
        _exit(0);
    }
    close(fds[1]);
    int32_t answer = 0;
    const bool got = read(fds[0], &answer, sizeof answer) == ssize_t(sizeof answer);
    close(fds[0]);
    int wstatus = 0;
    rusage usage{};
    wait4(pid, &wstatus, 0, &usage);
    r.exited = got && WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0;
    r.status = answer;
    r.peakMB = double(usage.ru_maxrss) / 1024.0;
    return r;
}

int32_t importFromFile(const std::string& path) {
    FSSpec spec{};
    std::memcpy(spec.path, path.data(), std::min(path.size(), sizeof spec.path - 1));
    GWorldPtr world = nullptr;
    const OSErr err = KelvoFile_ImportGraphicsFile(&spec, &world, nullptr);
    if (world) DisposeGWorld(world);
    return err == noErr ? 1 : err; // 1: drawn, which none of these may be
}

int32_t importThroughService(OSType subType, const std::string& bytes) {
    Handle h = nullptr;
    if (PtrToHand(bytes.data(), &h, Size(bytes.size())) != noErr) return 2;
    int32_t answer = 3;
    {
        Kelvo_ImportGraphics service(subType, h);
        if (service.qtObjIsValid()) {
            Kelvo_QDGWorldBuffer* buffer = nullptr;
            service.doService(buffer);
            answer = buffer ? 1 : service.Error();
            delete buffer;
        } else {
            answer = service.Error() != 0 ? service.Error() : 4;
        }
    }
    DisposeHandle(h);
    return answer;
}

TEST(ImportMemoryBound, TinyFilesAnnouncingHugePicturesAnswerAStatusWithinBoundedMemory) {
    testsupport::ScratchDir dir("import-memory");
    struct Case {
        const char* name;
        OSType subType;
        std::string bytes;
    };
    std::vector<Case> cases = {{"jpeg", kQTFileTypeJPEG, lyingJPEG()}, {"png", kQTFileTypePNG, lyingPNG()}};
    EXPECT_LT(cases[0].bytes.size(), 1000u);
    EXPECT_EQ(cases[1].bytes.size(), 69u);
    const std::string j2k = lyingJ2K(dir);
    if (!j2k.empty())
        cases.push_back({"j2k", kQTFileTypeJPEG2000, j2k});
    else
        std::printf("opj_compress is not installed: no JPEG 2000 case\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(std::string("lying.") + c.name);
        testsupport::writeFile(path, c.bytes);
        for (size_t limit : {size_t(0), size_t(600)}) {
            if (kSanitized && limit != 0) continue;
            SCOPED_TRACE(limit ? "600 MB of address space" : "no limit");
            const ChildResult fromFile = inChild(limit, [&] { return importFromFile(path); });
            const ChildResult service =
                inChild(limit, [&] { return importThroughService(c.subType, c.bytes); });
            for (const ChildResult* r : {&fromFile, &service}) {
                EXPECT_TRUE(r->exited) << "the child did not end by itself";
                EXPECT_LT(r->status, 0) << "a status, not a picture";
                EXPECT_LT(r->peakMB, kPeakLimitMB);
            }
            std::printf("%-5s limit %3zu MB: from the file %6d, %6.1f MB; the service %6d, %6.1f MB\n",
                        c.name, limit, fromFile.status, fromFile.peakMB, service.status, service.peakMB);
        }
    }
}

// The engine alone: a real picture of the announced size still decodes when its data is there,
// and the lying header fails before its samples are touched.
TEST(ImportMemoryBound, TheJPEGEngineEarnsItsPictureRowByRow) {
    const std::string lying = lyingJPEG();
    const ChildResult r = inChild(0, [&] {
        Picture p;
        return int32_t(platform::codec::decode(Format::JPEG, reinterpret_cast<const uint8_t*>(lying.data()),
                                               lying.size(), p));
    });
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, codecBadDataErr);
    EXPECT_LT(r.peakMB, kSanitized ? kPeakLimitMB : 64.0);
}

} // namespace
