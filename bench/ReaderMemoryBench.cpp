// Peak memory and time of opening a 200 MB multi-frame file and dumping it to text, beside DCMTK's
// dcmdump on the same file in the same run. Each is measured in a child process of its own (fork,
// exec, wait4), so the peak resident size is that of the work alone: ours runs this program again
// in its child mode. Pixel data stay in the file, so our peak must stay under 16 MB.
//
// Usage: reader_memory_bench [data folder] [frames]
// The data folder (default ./reader-bench-data) keeps the file between runs: 400 frames of
// 512 x 512 16-bit samples, explicit VR little endian.
//
// Child mode: reader_memory_bench --open-and-dump <file> <text dump> <frames>
#include "BenchDicomBytes.h"
#include "ChildPeakMemory.h"
#include "KelvoDicomDataTree.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using benchchild::Measure;

namespace {

constexpr uint16_t kRows = 512;
constexpr uint16_t kColumns = 512;
constexpr uint32_t kFrameBytes = uint32_t(kRows) * kColumns * 2;
constexpr double kTargetMB = 16.0;

// Writes the file under a private name and renames it into place, so that an interrupted run
// leaves no half file behind.
bool makeFile(const fs::path& path, uint32_t frames) {
    const char* sopClass = "1.2.840.10008.5.1.4.1.1.7.3"; // multi-frame grey-scale word
    const char* instance = "1.2.826.0.1.3680043.2.1143.4000.1";
    ExplicitElements head = ExplicitElements::fileHead(sopClass, instance, "1.2.826.0.1.3680043.2.1143.4000");
    head.text(0x0008, 0x0016, "UI", sopClass);
    head.text(0x0008, 0x0018, "UI", instance);
    head.text(0x0008, 0x0060, "CS", "OT");
    head.text(0x0010, 0x0010, "PN", "BENCH^READER");
    head.text(0x0010, 0x0020, "LO", "RB400");
    head.text(0x0020, 0x000D, "UI", "1.2.826.0.1.3680043.2.1143.4000.2");
    head.text(0x0020, 0x000E, "UI", "1.2.826.0.1.3680043.2.1143.4000.3");
    head.word(0x0028, 0x0002, 1);
    head.text(0x0028, 0x0004, "CS", "MONOCHROME2");
    head.text(0x0028, 0x0008, "IS", std::to_string(frames));
    head.word(0x0028, 0x0010, kRows);
    head.word(0x0028, 0x0011, kColumns);
    head.word(0x0028, 0x0100, 16);
    head.word(0x0028, 0x0101, 12);
    head.word(0x0028, 0x0102, 11);
    head.word(0x0028, 0x0103, 0);
    head.longHeader(0x7FE0, 0x0010, "OW", frames * kFrameBytes);

    const fs::path partial = path.string() + ".partial";
    FILE* f = std::fopen(partial.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(head.bytes.data(), 1, head.bytes.size(), f) == head.bytes.size();
    std::vector<uint8_t> frame(kFrameBytes);
    for (uint32_t n = 0; ok && n < frames; ++n) {
        for (uint32_t y = 0; y < kRows; ++y)
            for (uint32_t x = 0; x < kColumns; ++x) {
                const uint32_t v = (x * 7 + y * 3 + n * 11 + ((x ^ y) & 31)) & 0x0FFF;
                const size_t at = (size_t(y) * kColumns + x) * 2;
                frame[at] = uint8_t(v);
                frame[at + 1] = uint8_t(v >> 8);
            }
        ok = std::fwrite(frame.data(), 1, frame.size(), f) == frame.size();
    }
    ok = std::fclose(f) == 0 && ok;
    std::error_code ec;
    if (ok) fs::rename(partial, path, ec);
    if (!ok || ec) fs::remove(partial, ec);
    return ok && !ec;
}

// The child's work: open, dump to text; the exit status says whether both succeeded and the
// chunk table lists every frame.
int openAndDump(const char* file, const char* dump, uint32_t frames) {
    std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(file));
    if (!tree || tree->readError() != 0) return 2;
    KelvoDicomDataChunks* chunks = tree->pixelData();
    if (!chunks || chunks->count() != frames) return 3;
    tree->toTextFile(dump);
    return tree->Error() == 0 ? 0 : 4;
}

void report(const char* who, const Measure& m, const fs::path& output) {
    std::error_code ec;
    const auto size = fs::file_size(output, ec);
    std::printf("%-30s %s peak %8.1f MB   time %7.3f s   output %llu bytes\n", who,
                m.ok ? "ok    " : "FAILED", m.peakMB, m.seconds,
                ec ? 0ull : static_cast<unsigned long long>(size));
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--open-and-dump") == 0)
        return openAndDump(argv[2], argv[3], uint32_t(std::strtoul(argv[4], nullptr, 10)));

    const fs::path dir = argc > 1 ? argv[1] : "reader-bench-data";
    const uint32_t frames = argc > 2 ? uint32_t(std::strtoul(argv[2], nullptr, 10)) : 400;
    if (frames == 0 || frames > 0xFFFFFFFFu / kFrameBytes) {
        std::fprintf(stderr, "frames must be 1 to %u\n", 0xFFFFFFFFu / kFrameBytes);
        return 2;
    }
    std::error_code ec;
    fs::create_directories(dir, ec);
    const fs::path file = dir / ("multiframe-" + std::to_string(frames) + ".dcm");
    if (!fs::exists(file)) {
        std::printf("making %s (%u frames of %ux%u, 16 bits)\n", file.c_str(), frames, kRows, kColumns);
        if (!makeFile(file, frames)) {
            std::fprintf(stderr, "cannot write %s\n", file.c_str());
            return 1;
        }
    }
    std::printf("file %s: %.1f MB\n", file.c_str(), double(fs::file_size(file)) / (1024.0 * 1024.0));

    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const fs::path ours = dir / "ours.txt";
    const fs::path theirs = dir / "dcmdump.txt";
    const fs::path theirsShort = dir / "dcmdump-M.txt";
    const fs::path childLog = dir / "child-stdout.txt";
    const Measure a = benchchild::measure(
        {self, "--open-and-dump", file.string(), ours.string(), std::to_string(frames)}, childLog.string());
    const Measure b = benchchild::measure({"dcmdump", file.string()}, theirs.string());
    const Measure c = benchchild::measure({"dcmdump", "-M", file.string()}, theirsShort.string());
    report("ours: open + text dump", a, ours);
    report("dcmdump", b, theirs);
    report("dcmdump -M (long values left)", c, theirsShort);
    const bool met = a.ok && a.peakMB < kTargetMB;
    std::printf("target: our peak under %.0f MB: %s\n", kTargetMB, met ? "met" : "MISSED");
    return a.ok ? 0 : 1;
}
