// Decoding throughput of the RLE and lossless JPEG decoders beside DCMTK's dcmdrle and dcmdjpeg,
// on one core, on a multi-frame file the program makes itself: 400 frames of 512 x 512 16-bit
// samples (200 MiB), compressed with dcmcrle and dcmcjpeg +e1.
//
// Usage: codec_bench [work folder] [frames]
// The work folder (default ./codec-bench-data) keeps the three files between runs.
#include "JPEGLib.h"
#include "RLELib.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sched.h>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kRows = 512;
constexpr uint32_t kColumns = 512;
constexpr uint32_t kFrameBytes = kRows * kColumns * 2;

double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// A small generator for the test image (the program's own, so the data are the same every run).
struct XorShift {
    uint64_t s = 0x9E3779B97F4A7C15ull;
    uint32_t next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return uint32_t(s >> 32);
    }
    // Roughly normal noise of the given spread.
    int32_t noise(int32_t spread) {
        int32_t sum = 0;
        for (int i = 0; i < 4; ++i)
            sum += int32_t(next() & 0xFFFF) - 32768;
        return int32_t(int64_t(sum) * spread / 65536);
    }
};

void put16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}
void put32(std::vector<uint8_t>& v, uint32_t x) {
    put16(v, x & 0xFFFF);
    put16(v, x >> 16);
}
void element(std::vector<uint8_t>& v, uint16_t g, uint16_t e, const char* vr, std::string value) {
    if (value.size() & 1) value.push_back(vr[0] == 'U' && vr[1] == 'I' ? '\0' : ' ');
    put16(v, g);
    put16(v, e);
    v.push_back(uint8_t(vr[0]));
    v.push_back(uint8_t(vr[1]));
    put16(v, uint32_t(value.size()));
    v.insert(v.end(), value.begin(), value.end());
}
void us(std::vector<uint8_t>& v, uint16_t g, uint16_t e, uint16_t value) {
    element(v, g, e, "US", std::string{char(value & 0xFF), char(value >> 8)});
}

// A CT-like series: a body of soft tissue with noise, a bone ring and air around it, changing a
// little from slice to slice.
bool makeSource(const fs::path& path, uint32_t frames) {
    std::vector<uint8_t> meta;
    put16(meta, 0x0002);
    put16(meta, 0x0001);
    meta.insert(meta.end(), {'O', 'B', 0, 0});
    put32(meta, 2);
    meta.insert(meta.end(), {0, 1});
    element(meta, 0x0002, 0x0002, "UI", "1.2.840.10008.5.1.4.1.1.7");
    element(meta, 0x0002, 0x0003, "UI", "1.2.826.0.1.3680043.8.498.10");
    element(meta, 0x0002, 0x0010, "UI", "1.2.840.10008.1.2.1");
    element(meta, 0x0002, 0x0012, "UI", "1.2.826.0.1.3680043.8.498.11");
    std::vector<uint8_t> head(128, 0);
    head.insert(head.end(), {'D', 'I', 'C', 'M'});
    put16(head, 0x0002);
    put16(head, 0x0000);
    head.insert(head.end(), {'U', 'L', 4, 0});
    put32(head, uint32_t(meta.size()));
    head.insert(head.end(), meta.begin(), meta.end());
    element(head, 0x0008, 0x0016, "UI", "1.2.840.10008.5.1.4.1.1.7");
    element(head, 0x0008, 0x0018, "UI", "1.2.826.0.1.3680043.8.498.10");
    element(head, 0x0008, 0x0060, "CS", "OT");
    us(head, 0x0028, 0x0002, 1);
    element(head, 0x0028, 0x0004, "CS", "MONOCHROME2");
    element(head, 0x0028, 0x0008, "IS", std::to_string(frames));
    us(head, 0x0028, 0x0010, kRows);
    us(head, 0x0028, 0x0011, kColumns);
    us(head, 0x0028, 0x0100, 16);
    us(head, 0x0028, 0x0101, 16);
    us(head, 0x0028, 0x0102, 15);
    us(head, 0x0028, 0x0103, 0);
    put16(head, 0x7FE0);
    put16(head, 0x0010);
    head.insert(head.end(), {'O', 'W', 0, 0});
    put32(head, kFrameBytes * frames);

    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::fwrite(head.data(), 1, head.size(), f);
    XorShift rng;
    std::vector<uint16_t> frame(kRows * kColumns);
    for (uint32_t k = 0; k < frames; ++k) {
        const double r = 200.0 + 20.0 * std::sin(k / 40.0);
        for (uint32_t y = 0; y < kRows; ++y)
            for (uint32_t x = 0; x < kColumns; ++x) {
                const double dx = x - 256.0, dy = (y - 256.0) * 1.2;
                const double d = std::sqrt(dx * dx + dy * dy);
                int32_t v;
                if (d > r + 12)
                    v = 24 + rng.noise(6); // air
                else if (d > r)
                    v = 2200 + rng.noise(40); // bone
                else
                    v = 1040 + int32_t(30 * std::sin(x / 23.0 + k / 9.0)) + rng.noise(12); // tissue
                frame[y * kColumns + x] = uint16_t(std::clamp(v, 0, 65535));
            }
        std::fwrite(frame.data(), 2, frame.size(), f); // little-endian host
    }
    return std::fclose(f) == 0;
}

uint16_t le16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

struct Fragment {
    int64_t offset;
    uint32_t size;
};

// The fragments of the encapsulated pixel data of an explicit little-endian file as DCMTK writes
// it (no undefined-length sequences before the pixel data), found by walking the item headers;
// the offset table is skipped.
std::vector<Fragment> fragments(FILE* f) {
    std::vector<Fragment> out;
    std::vector<uint8_t> head(1 << 16);
    std::fseek(f, 0, SEEK_SET);
    head.resize(std::fread(head.data(), 1, head.size(), f));
    static const char* const kLongForms[] = {"OB", "OW", "OF", "SQ", "UT", "UN", "OD",
                                             "OL", "OV", "UC", "UR", "SV", "UV"};
    size_t p = 132;
    while (p + 12 <= head.size()) {
        const uint16_t group = le16(&head[p]), elem = le16(&head[p + 2]);
        const char vr[3] = {char(head[p + 4]), char(head[p + 5]), 0};
        const bool longForm = std::any_of(std::begin(kLongForms), std::end(kLongForms),
                                          [&](const char* form) { return std::strcmp(form, vr) == 0; });
        const uint32_t length = longForm ? le32(&head[p + 8]) : le16(&head[p + 6]);
        const size_t value = p + (longForm ? 12 : 8);
        if (group == 0x7FE0 && elem == 0x0010 && length == 0xFFFFFFFF) {
            int64_t q = int64_t(value);
            bool first = true;
            uint8_t item[8];
            while (fseeko(f, q, SEEK_SET) == 0 && std::fread(item, 1, 8, f) == 8 && le16(item) == 0xFFFE &&
                   le16(item + 2) == 0xE000) {
                const uint32_t n = le32(item + 4);
                if (!first) out.push_back({q + 8, n});
                first = false;
                q += 8 + int64_t(n);
            }
            return out;
        }
        if (length == 0xFFFFFFFF) return out;
        p = value + length;
    }
    return out;
}

double runTool(const std::string& command) {
    const double t0 = now();
    const int rc = std::system(command.c_str());
    const double t = now() - t0;
    return rc == 0 ? t : -1;
}

struct Timing {
    double decode = 1e30; // best decode-only time
    double total = 1e30;  // best time with reading the file
};

// Decodes every frame of the file into one frame buffer, as a viewer stepping through it does.
// Steps through every frame as a viewer does: each frame's fragment is read from the file into
// one buffer and decoded into one frame buffer. The last frame must come out as the source's.
template <typename DecodeFrame>
Timing timeOurs(const fs::path& path, uint32_t frames, DecodeFrame decodeFrame, int reps,
                const std::vector<uint8_t>& lastFrame) {
    Timing best;
    std::vector<uint8_t> pixels(kFrameBytes), scratch(kFrameBytes), compressed;
    for (int r = 0; r < reps; ++r) {
        double decoding = 0;
        const double t0 = now();
        FILE* f = std::fopen(path.c_str(), "rb");
        if (!f) std::exit(1);
        const std::vector<Fragment> frags = fragments(f);
        if (frags.size() != frames) {
            std::fprintf(stderr, "%s: %zu fragments for %u frames\n", path.c_str(), frags.size(), frames);
            std::exit(1);
        }
        for (const Fragment& frag : frags) {
            compressed.resize(frag.size);
            if (fseeko(f, frag.offset, SEEK_SET) != 0 ||
                std::fread(compressed.data(), 1, frag.size, f) != frag.size)
                std::exit(1);
            const double t1 = now();
            if (!decodeFrame(compressed.data(), frag.size, pixels.data(), scratch.data())) {
                std::fprintf(stderr, "%s: decoding failed\n", path.c_str());
                std::exit(1);
            }
            decoding += now() - t1;
        }
        std::fclose(f);
        best.total = std::min(best.total, now() - t0);
        best.decode = std::min(best.decode, decoding);
        if (pixels != lastFrame) {
            std::fprintf(stderr, "%s: the last frame differs from the source\n", path.c_str());
            std::exit(1);
        }
    }
    return best;
}

void report(const char* what, const char* tool, double mib, const Timing& ours, double theirs,
            double target) {
    std::printf("%s: %.1f MiB decoded\n", what, mib);
    std::printf("  ours, decoding only      %7.3f s  %8.1f MiB/s\n", ours.decode, mib / ours.decode);
    std::printf("  ours, reading + decoding %7.3f s  %8.1f MiB/s\n", ours.total, mib / ours.total);
    std::printf("  %-24s %7.3f s  %8.1f MiB/s\n", tool, theirs, mib / theirs);
    std::printf("  ratio (ours with reading / %s) %.2f, target %.1f: %s\n", tool, theirs / ours.total, target,
                theirs / ours.total >= target ? "met" : "NOT met");
}

} // namespace

int main(int argc, char** argv) {
    const fs::path dir = argc > 1 ? argv[1] : "codec-bench-data";
    const uint32_t frames = argc > 2 ? uint32_t(std::atoi(argv[2])) : 400;
    const int reps = 3;
    fs::create_directories(dir);

    // One core for us and for the DCMTK tools started from here.
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    CPU_SET(sched_getcpu(), &cpus);
    sched_setaffinity(0, sizeof cpus, &cpus);

    const fs::path source = dir / ("source-" + std::to_string(frames) + ".dcm");
    const fs::path rle = dir / ("rle-" + std::to_string(frames) + ".dcm");
    const fs::path jpeg = dir / ("jpeg-" + std::to_string(frames) + ".dcm");
    if (!fs::exists(source)) {
        std::printf("making %s ...\n", source.c_str());
        if (!makeSource(source, frames)) return 1;
        fs::remove(rle);
        fs::remove(jpeg);
    }
    if (!fs::exists(rle) &&
        std::system(("dcmcrle '" + source.string() + "' '" + rle.string() + "'").c_str()) != 0)
        return 1;
    if (!fs::exists(jpeg) &&
        std::system(("dcmcjpeg +e1 '" + source.string() + "' '" + jpeg.string() + "'").c_str()) != 0)
        return 1;
    const double mib = double(kFrameBytes) * frames / (1024.0 * 1024.0);
    std::printf("%u frames of %ux%u 16-bit; RLE file %.1f MiB, lossless JPEG file %.1f MiB; one core\n\n",
                frames, kColumns, kRows, fs::file_size(rle) / 1048576.0, fs::file_size(jpeg) / 1048576.0);

    std::vector<uint8_t> lastFrame(kFrameBytes);
    {
        FILE* f = std::fopen(source.c_str(), "rb");
        if (!f || fseeko(f, -int64_t(kFrameBytes), SEEK_END) != 0 ||
            std::fread(lastFrame.data(), 1, kFrameBytes, f) != kFrameBytes)
            return 1;
        std::fclose(f);
    }

    // RLE: the two byte planes become little-endian samples, as the frame is drawn from.
    const Timing rleOurs = timeOurs(
        rle, frames,
        [](const uint8_t* src, uint32_t size, uint8_t* pixels, uint8_t* planes) {
            uint32_t n = size;
            if (RLEDecode(reinterpret_cast<const uint32_t*>(src), planes, &n, kFrameBytes) != noErr)
                return false;
            const uint8_t* high = planes;
            const uint8_t* low = planes + kFrameBytes / 2;
            for (uint32_t i = 0; i < kFrameBytes / 2; ++i) {
                pixels[2 * i] = low[i];
                pixels[2 * i + 1] = high[i];
            }
            return true;
        },
        reps, lastFrame);
    double rleTheirs = 1e30;
    for (int r = 0; r < reps; ++r)
        rleTheirs = std::min(rleTheirs, runTool("dcmdrle '" + rle.string() + "' /dev/null"));

    const Timing jpegOurs = timeOurs(
        jpeg, frames,
        [](const uint8_t* src, uint32_t size, uint8_t* pixels, uint8_t*) {
            uint8_t* s = const_cast<uint8_t*>(src);
            uint32_t n = size;
            return DecodeJPEGData(&s, reinterpret_cast<uint16_t*>(pixels), &n, kFrameBytes) == noErr &&
                   n == kFrameBytes;
        },
        reps, lastFrame);
    double jpegTheirs = 1e30;
    for (int r = 0; r < reps; ++r)
        jpegTheirs = std::min(jpegTheirs, runTool("dcmdjpeg '" + jpeg.string() + "' /dev/null"));

    if (rleTheirs < 0 || jpegTheirs < 0) {
        std::fprintf(stderr, "a DCMTK tool failed\n");
        return 1;
    }
    report("RLE", "dcmdrle", mib, rleOurs, rleTheirs, 2.0);
    std::printf("\n");
    report("Lossless JPEG (+e1)", "dcmdjpeg", mib, jpegOurs, jpegTheirs, 1.5);
    return 0;
}
