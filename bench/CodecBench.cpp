// Decoding throughput of the RLE and lossless JPEG decoders beside DCMTK, on one core, on a
// multi-frame file the program makes itself: 400 frames of 512 x 512 16-bit samples (200 MiB),
// compressed with dcmcrle and dcmcjpeg +e1.
//
// Each codec is timed three ways beside a memcpy of the decoded bytes (the bound no decoder
// beats):
// - the same work on both sides: the file parsed and its fragments loaded before the clock
//   starts, then every frame decoded in turn into one frame buffer, by our decoders and by
//   DCMTK's (DcmPixelData::getUncompressedFrame with its RLE and JPEG decoders registered);
//   the targets are judged on these figures;
// - ours reading the fragments from the file as a viewer does, beside DCMTK's dcmdrle and
//   dcmdjpeg, which also parse the file, decode every frame into one block and write a whole
//   file (to /dev/null): shown for reference, no target.
//
// Usage: codec_bench [work folder] [frames]
// The work folder (default ./codec-bench-data) keeps the three files between runs.
#include "JPEGLib.h"
#include "RLELib.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcrledrg.h>
#include <dcmtk/dcmjpeg/djdecode.h>

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

void checkLastFrame(const char* who, const fs::path& path, const std::vector<uint8_t>& pixels,
                    const std::vector<uint8_t>& lastFrame) {
    if (pixels != lastFrame) {
        std::fprintf(stderr, "%s, %s: the last frame differs from the source\n", who, path.c_str());
        std::exit(1);
    }
}

std::vector<Fragment> frameFragments(FILE* f, const fs::path& path, uint32_t frames) {
    std::vector<Fragment> frags = fragments(f);
    if (frags.size() != frames) {
        std::fprintf(stderr, "%s: %zu fragments for %u frames\n", path.c_str(), frags.size(), frames);
        std::exit(1);
    }
    return frags;
}

// Steps through every frame as a viewer does: each frame's fragment is read from the file into
// one buffer and decoded into one frame buffer. Best time of `reps`, opening the file included.
template <typename DecodeFrame>
double timeOursReading(const fs::path& path, uint32_t frames, DecodeFrame decodeFrame, int reps,
                       const std::vector<uint8_t>& lastFrame) {
    double best = 1e30;
    std::vector<uint8_t> pixels(kFrameBytes), scratch(kFrameBytes), compressed;
    for (int r = 0; r < reps; ++r) {
        const double t0 = now();
        FILE* f = std::fopen(path.c_str(), "rb");
        if (!f) std::exit(1);
        for (const Fragment& frag : frameFragments(f, path, frames)) {
            compressed.resize(frag.size);
            if (fseeko(f, frag.offset, SEEK_SET) != 0 ||
                std::fread(compressed.data(), 1, frag.size, f) != frag.size)
                std::exit(1);
            if (!decodeFrame(compressed.data(), frag.size, pixels.data(), scratch.data())) {
                std::fprintf(stderr, "%s: decoding failed\n", path.c_str());
                std::exit(1);
            }
        }
        std::fclose(f);
        best = std::min(best, now() - t0);
        checkLastFrame("ours", path, pixels, lastFrame);
    }
    return best;
}

// The file loaded first, each frame's fragment in a block of its own as DCMTK keeps it; then
// every frame decoded in turn into one frame buffer. Best time of `reps` of the decoding loop.
template <typename DecodeFrame>
double timeOursLoaded(const fs::path& path, uint32_t frames, DecodeFrame decodeFrame, int reps,
                      const std::vector<uint8_t>& lastFrame) {
    std::vector<std::vector<uint8_t>> loaded;
    {
        FILE* f = std::fopen(path.c_str(), "rb");
        if (!f) std::exit(1);
        for (const Fragment& frag : frameFragments(f, path, frames)) {
            std::vector<uint8_t>& block = loaded.emplace_back(frag.size);
            if (fseeko(f, frag.offset, SEEK_SET) != 0 ||
                std::fread(block.data(), 1, frag.size, f) != frag.size)
                std::exit(1);
        }
        std::fclose(f);
    }
    double best = 1e30;
    std::vector<uint8_t> pixels(kFrameBytes), scratch(kFrameBytes);
    for (int r = 0; r < reps; ++r) {
        const double t0 = now();
        for (const std::vector<uint8_t>& block : loaded)
            if (!decodeFrame(block.data(), uint32_t(block.size()), pixels.data(), scratch.data())) {
                std::fprintf(stderr, "%s: decoding failed\n", path.c_str());
                std::exit(1);
            }
        best = std::min(best, now() - t0);
        checkLastFrame("ours", path, pixels, lastFrame);
    }
    return best;
}

// DCMTK in-process: the file parsed and all its values loaded once, then every frame decoded in
// turn into one frame buffer through the registered decoders, the first fragment of the next
// frame handed on from each call as a viewer stepping through the frames does.
double timeDcmtkLoaded(const fs::path& path, uint32_t frames, int reps,
                       const std::vector<uint8_t>& lastFrame) {
    DcmFileFormat file;
    OFCondition status = file.loadFile(path.c_str());
    if (status.good()) status = file.loadAllDataIntoMemory();
    DcmDataset* dataset = file.getDataset();
    DcmElement* element = nullptr;
    if (status.good()) status = dataset->findAndGetElement(DCM_PixelData, element);
    DcmPixelData* pixelData = dynamic_cast<DcmPixelData*>(element);
    Uint32 frameSize = 0;
    if (status.good() && pixelData) status = pixelData->getUncompressedFrameSize(dataset, frameSize);
    if (status.bad() || !pixelData || frameSize != kFrameBytes) {
        std::fprintf(stderr, "DCMTK, %s: %s (frame size %u)\n", path.c_str(), status.text(),
                     unsigned(frameSize));
        std::exit(1);
    }
    double best = 1e30;
    std::vector<uint8_t> pixels(kFrameBytes);
    OFString colorModel;
    for (int r = 0; r < reps; ++r) {
        const double t0 = now();
        Uint32 startFragment = 0;
        for (uint32_t k = 0; k < frames; ++k) {
            status = pixelData->getUncompressedFrame(dataset, k, startFragment, pixels.data(), kFrameBytes,
                                                     colorModel);
            if (status.bad()) {
                std::fprintf(stderr, "DCMTK, %s, frame %u: %s\n", path.c_str(), k, status.text());
                std::exit(1);
            }
        }
        best = std::min(best, now() - t0);
        checkLastFrame("DCMTK", path, pixels, lastFrame);
    }
    return best;
}

// The bound: the decoded frames, held in memory, copied in turn into one frame buffer.
double timeMemcpy(const std::vector<uint8_t>& decoded, int reps, const std::vector<uint8_t>& lastFrame) {
    double best = 1e30;
    std::vector<uint8_t> pixels(kFrameBytes);
    for (int r = 0; r < reps; ++r) {
        const double t0 = now();
        for (size_t at = 0; at < decoded.size(); at += kFrameBytes)
            std::memcpy(pixels.data(), decoded.data() + at, kFrameBytes);
        best = std::min(best, now() - t0);
        checkLastFrame("memcpy", "source", pixels, lastFrame);
    }
    return best;
}

struct Figures {
    double oursLoaded, dcmtkLoaded, oursReading, tool;
};

void report(const char* what, const char* tool, double mib, double bound, const Figures& t, double target) {
    const auto line = [&](const char* label, double s) {
        std::printf("  %-46s %7.3f s  %8.1f MiB/s\n", label, s, mib / s);
    };
    std::printf("%s: %.1f MiB decoded\n", what, mib);
    line("memcpy of the decoded frames (bound)", bound);
    line("ours, file loaded, decoding", t.oursLoaded);
    line("DCMTK in-process, file loaded, decoding", t.dcmtkLoaded);
    line("ours, reading the file + decoding", t.oursReading);
    line((std::string(tool) + " (parse, decode, write a whole file)").c_str(), t.tool);
    std::printf("  ours / DCMTK in-process   %5.2fx  (target %.1fx)\n", t.dcmtkLoaded / t.oursLoaded, target);
    std::printf("  ours / %-17s %5.2fx  (ours with reading; the tool does more work, no target)\n", tool,
                t.tool / t.oursReading);
    std::printf("  share of the memcpy bound: ours %.0f%%, DCMTK in-process %.0f%%\n",
                100 * bound / t.oursLoaded, 100 * bound / t.dcmtkLoaded);
    const bool met = t.dcmtkLoaded / t.oursLoaded >= target;
    std::printf("  %s: %s against DCMTK in-process (%.2fx, target %.1fx)\n", met ? "PASS" : "FAIL", what,
                t.dcmtkLoaded / t.oursLoaded, target);
}

} // namespace

int main(int argc, char** argv) {
    const fs::path dir = argc > 1 ? argv[1] : "codec-bench-data";
    const uint32_t frames = argc > 2 ? uint32_t(std::atoi(argv[2])) : 400;
    const int reps = 3;
    fs::create_directories(dir);

    // One core for our decoders, for DCMTK's in this process and for the DCMTK tools started
    // from here (they inherit the affinity).
    const int core = sched_getcpu();
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    CPU_SET(core, &cpus);
    if (sched_setaffinity(0, sizeof cpus, &cpus) != 0) {
        std::perror("sched_setaffinity");
        return 1;
    }

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
    std::printf(
        "%u frames of %ux%u 16-bit; RLE file %.1f MiB, lossless JPEG file %.1f MiB; all on core %d\n\n",
        frames, kColumns, kRows, fs::file_size(rle) / 1048576.0, fs::file_size(jpeg) / 1048576.0, core);

    // The decoded frames (the source's pixel data) for the memcpy bound; its last frame is what
    // every decoder must give for the last frame.
    std::vector<uint8_t> decoded(size_t(kFrameBytes) * frames);
    {
        FILE* f = std::fopen(source.c_str(), "rb");
        if (!f || fseeko(f, -int64_t(decoded.size()), SEEK_END) != 0 ||
            std::fread(decoded.data(), 1, decoded.size(), f) != decoded.size())
            return 1;
        std::fclose(f);
    }
    const std::vector<uint8_t> lastFrame(decoded.end() - kFrameBytes, decoded.end());
    const double bound = timeMemcpy(decoded, reps, lastFrame);
    decoded = {};

    DcmRLEDecoderRegistration::registerCodecs();
    DJDecoderRegistration::registerCodecs();

    // RLE: the two byte planes become little-endian samples, as the frame is drawn from.
    const auto rleDecode = [](const uint8_t* src, uint32_t size, uint8_t* pixels, uint8_t* planes) {
        uint32_t n = size;
        if (RLEDecode(reinterpret_cast<const uint32_t*>(src), planes, &n, kFrameBytes) != noErr) return false;
        const uint8_t* high = planes;
        const uint8_t* low = planes + kFrameBytes / 2;
        for (uint32_t i = 0; i < kFrameBytes / 2; ++i) {
            pixels[2 * i] = low[i];
            pixels[2 * i + 1] = high[i];
        }
        return true;
    };
    Figures rleTimes;
    rleTimes.oursLoaded = timeOursLoaded(rle, frames, rleDecode, reps, lastFrame);
    rleTimes.dcmtkLoaded = timeDcmtkLoaded(rle, frames, reps, lastFrame);
    rleTimes.oursReading = timeOursReading(rle, frames, rleDecode, reps, lastFrame);
    rleTimes.tool = 1e30;
    for (int r = 0; r < reps; ++r)
        rleTimes.tool = std::min(rleTimes.tool, runTool("dcmdrle '" + rle.string() + "' /dev/null"));

    const auto jpegDecode = [](const uint8_t* src, uint32_t size, uint8_t* pixels, uint8_t*) {
        uint8_t* s = const_cast<uint8_t*>(src);
        uint32_t n = size;
        return DecodeJPEGData(&s, reinterpret_cast<uint16_t*>(pixels), &n, kFrameBytes) == noErr &&
               n == kFrameBytes;
    };
    Figures jpegTimes;
    jpegTimes.oursLoaded = timeOursLoaded(jpeg, frames, jpegDecode, reps, lastFrame);
    jpegTimes.dcmtkLoaded = timeDcmtkLoaded(jpeg, frames, reps, lastFrame);
    jpegTimes.oursReading = timeOursReading(jpeg, frames, jpegDecode, reps, lastFrame);
    jpegTimes.tool = 1e30;
    for (int r = 0; r < reps; ++r)
        jpegTimes.tool = std::min(jpegTimes.tool, runTool("dcmdjpeg '" + jpeg.string() + "' /dev/null"));

    DJDecoderRegistration::cleanup();
    DcmRLEDecoderRegistration::cleanup();

    if (rleTimes.tool < 0 || jpegTimes.tool < 0) {
        std::fprintf(stderr, "a DCMTK tool failed\n");
        return 1;
    }
    report("RLE", "dcmdrle", mib, bound, rleTimes, 2.0);
    std::printf("\n");
    report("Lossless JPEG (+e1)", "dcmdjpeg", mib, bound, jpegTimes, 1.5);
    return 0;
}
