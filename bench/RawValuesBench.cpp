// Raw values of a 1024 x 1024 16-bit frame (12 bits stored, rescaled by a slope of 0.75 and an
// intercept of -1024.5) through the DICOM video presentation, beside numpy doing the same work on
// the same samples in the same run (a python3 child process timing itself).
//
// - Statistics: rawValuesStatistics of the whole frame (rescale in single precision, truncation,
//   count, mean, variance, standard and mean absolute deviation, minimum and maximum).
// - Grab16: grabRawImage('16GR') of the frame (the rescaled values as 16-bit words).
// - ValueAtPoint: one rawValueAtPoint call, for its cost per call.
// - numpy: the same rescale and statistics (float32 arithmetic, astype(int32), mean, var with
//   ddof 1, std, mean absolute deviation, min, max) and the 16-bit words (astype(uint16)), over
//   the samples already in memory.
// - memcpy of the frame's 2 MB: the bound that no implementation beats.
// Every figure is the median of its repetitions; the results of both sides are compared too.
//
// Usage: raw_values_bench [--data=FOLDER]
// The data folder (default ./raw-values-bench-data) keeps the file between runs.
#include "KelvoDicomDataTree.h"
#include "KelvoDicomVideoPresentation.h"
#include "KelvoImage.h"
#include "KelvoImageDescriptors.h"
#include "KelvoImageTypes.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kSide = 1024;
constexpr size_t kPixels = size_t(kSide) * kSide;

const char* const kMakeScript = R"PY(
import sys
import numpy as np
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.uid import ExplicitVRLittleEndian
path = sys.argv[1]
meta = FileMetaDataset()
meta.MediaStorageSOPClassUID = '1.2.840.10008.5.1.4.1.1.7'
meta.MediaStorageSOPInstanceUID = '1.2.826.0.1.3680043.2.1143.4300.1'
meta.TransferSyntaxUID = ExplicitVRLittleEndian
ds = Dataset(); ds.file_meta = meta
ds.is_little_endian = True; ds.is_implicit_VR = False
ds.SOPClassUID = meta.MediaStorageSOPClassUID; ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
ds.Modality = 'CT'; ds.PatientName = 'BENCH^RAW'
ds.SamplesPerPixel = 1; ds.PhotometricInterpretation = 'MONOCHROME2'
ds.Rows = 1024; ds.Columns = 1024
ds.BitsAllocated = 16; ds.BitsStored = 12; ds.HighBit = 11; ds.PixelRepresentation = 0
ds.RescaleSlope = '0.75'; ds.RescaleIntercept = '-1024.5'
ds.WindowCenter, ds.WindowWidth = 0, 2000
y, x = np.mgrid[0:1024, 0:1024].astype(np.uint32)
rng = np.random.RandomState(3)
arr = ((x * 5 + y * 3 + rng.randint(0, 256, (1024, 1024))) & 0x0FFF).astype('<u2')
ds.PixelData = arr.tobytes()
ds.save_as(path, write_like_original=False)
)PY";

// The same work in numpy over the frame's samples (the last 2 MB of the file), timed in the child.
const char* const kNumpyScript = R"PY(
import sys, time
import numpy as np
path, reps = sys.argv[1], int(sys.argv[2])
with open(path, 'rb') as f:
    data = f.read()
stored = np.frombuffer(data[-1024 * 1024 * 2:], '<u2').reshape(1024, 1024)
slope, intercept = np.float32(float('0.75')), np.float32(float('-1024.5'))
def values():
    return (stored.astype(np.float32) * slope + intercept).astype(np.int32)
def statistics():
    v = values().astype(np.float64)
    mean = v.mean()
    return (v.size, mean, v.var(ddof=1), v.std(ddof=1), np.abs(v - mean).mean(), v.min(), v.max())
def grab():
    return values().astype(np.uint16)
def median(fn):
    times = []
    for _ in range(reps):
        t = time.perf_counter(); r = fn(); times.append(time.perf_counter() - t)
    return sorted(times)[len(times) // 2], r
ts, s = median(statistics)
tg, g = median(grab)
print('%.9f %.9f' % (ts, tg))
print(' '.join(repr(float(x)) for x in s))
print(int(g.astype(np.uint64).sum()), int(g[0, 0]), int(g[1023, 1023]))
)PY";

template <class F> double medianSeconds(int reps, F&& f) {
    std::vector<double> times;
    for (int i = 0; i < reps; ++i) {
        const auto start = std::chrono::steady_clock::now();
        f();
        times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

bool writeText(const fs::path& path, const char* text) {
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return false;
    const bool ok = std::fputs(text, f) >= 0;
    return std::fclose(f) == 0 && ok;
}

std::string capture(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
            out.append(buffer, n);
        if (pclose(p) != 0) out.clear();
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    fs::path dir = "raw-values-bench-data";
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--data=", 7) == 0) dir = argv[i] + 7;
    std::error_code ec;
    fs::create_directories(dir, ec);
    const fs::path file = dir / "raw-1024.dcm";
    if (!fs::exists(file)) {
        std::printf("making %s\n", file.c_str());
        const fs::path script = dir / "make.py", partial = file.string() + ".partial";
        if (!writeText(script, kMakeScript) ||
            std::system(("/usr/bin/python3 '" + script.string() + "' '" + partial.string() + "'").c_str()) !=
                0) {
            std::fprintf(stderr, "cannot make %s (needs /usr/bin/python3 with pydicom and numpy)\n",
                         file.c_str());
            return 1;
        }
        fs::rename(partial, file, ec);
        if (ec) return 1;
    }

    std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(file.c_str()));
    if (!tree || !tree->isA("KelvoDicomDocument")) {
        std::fprintf(stderr, "cannot open %s\n", file.c_str());
        return 1;
    }
    std::unique_ptr<KelvoDicomVideoPresentation> p(
        static_cast<KelvoDicomDocument*>(tree.get())->dataDisplay());
    if (!p || !p->qtObjIsValid()) {
        std::fprintf(stderr, "cannot present %s\n", file.c_str());
        return 1;
    }

    // A few repetitions when a call takes long, more when it is quick.
    auto repetitions = [](double once) { return once > 0.5 ? 3 : (once > 0.05 ? 7 : 21); };
    Kelvo_Rect all(kSide, kSide);
    std::unique_ptr<Kelvo_ImageInfo> info;
    auto statistics = [&] { info.reset(p->rawValuesStatistics(all)); };
    const double statsOnce = medianSeconds(1, statistics);
    const double statsTime = medianSeconds(repetitions(statsOnce), statistics);

    Kelvo_OSType grey16(FOUR_CHAR_CODE("16GR"));
    std::unique_ptr<Kelvo_Image> image;
    auto grab = [&] { image.reset(p->grabRawImage(nullptr, grey16)); };
    const double grabOnce = medianSeconds(1, grab);
    const double grabTime = medianSeconds(repetitions(grabOnce), grab);

    double pointSum = 0.0;
    constexpr int kPoints = 2000;
    const double pointTime = medianSeconds(5, [&] {
        for (int i = 0; i < kPoints; ++i) {
            Kelvo_Point at(i % kSide, (i * 7) % kSide);
            pointSum += p->rawValueAtPoint(at);
        }
    });

    std::vector<uint8_t> source(kPixels * 2, 1), copy(kPixels * 2);
    const double memcpyTime = medianSeconds(21, [&] {
        std::memcpy(copy.data(), source.data(), copy.size());
        asm volatile("" : : "r"(copy.data()) : "memory");
    });

    const fs::path script = dir / "numpy_raw.py";
    std::string numpy;
    if (writeText(script, kNumpyScript))
        numpy = capture("/usr/bin/python3 '" + script.string() + "' '" + file.string() + "' 21");

    std::printf("1024 x 1024 16-bit frame, slope 0.75, intercept -1024.5 (median of repetitions)\n");
    std::printf("  %-40s %10.3f ms\n", "ours rawValuesStatistics", statsTime * 1e3);
    std::printf("  %-40s %10.3f ms\n", "ours grabRawImage('16GR')", grabTime * 1e3);
    std::printf("  %-40s %10.3f us\n", "ours rawValueAtPoint (one call)", pointTime * 1e6 / kPoints);
    std::printf("  %-40s %10.3f ms\n", "memcpy of the frame (2 MB)", memcpyTime * 1e3);
    if (numpy.empty()) {
        std::printf("  numpy: not timed (/usr/bin/python3 with numpy needed)\n");
        return 0;
    }
    double numpyStats = 0, numpyGrab = 0;
    double n[7] = {};
    unsigned long long wordSum = 0;
    unsigned first = 0, last = 0;
    const int fields =
        std::sscanf(numpy.c_str(), "%lf %lf %lf %lf %lf %lf %lf %lf %lf %llu %u %u", &numpyStats, &numpyGrab,
                    &n[0], &n[1], &n[2], &n[3], &n[4], &n[5], &n[6], &wordSum, &first, &last);
    std::printf("  %-40s %10.3f ms\n", "numpy statistics", numpyStats * 1e3);
    std::printf("  %-40s %10.3f ms\n", "numpy 16-bit words", numpyGrab * 1e3);
    if (fields != 12 || !info || !image) {
        std::printf("  results: cannot compare\n");
        return 1;
    }
    // The same answers on both sides: exact counts, means and extremes; the spreads within the
    // error bound of adding the terms one after the other (n ulps), where numpy adds pairwise.
    const double bound = double(kPixels) * std::numeric_limits<double>::epsilon();
    auto close = [bound](double a, double b) {
        return std::fabs(a - b) <= bound * std::max(std::fabs(b), 1.0);
    };
    const bool statsAgree = info->count == uint32_t(n[0]) && info->mean == n[1] &&
                            close(info->variance, n[2]) && close(info->stdDeviation, n[3]) &&
                            close(info->meanAbsDeviation, n[4]) && info->min == n[5] && info->max == n[6];
    const auto* words = static_cast<const uint16_t*>(image->buffer());
    unsigned long long ourSum = 0;
    for (size_t i = 0; i < kPixels; ++i)
        ourSum += words[i];
    const bool wordsAgree = ourSum == wordSum && words[0] == first && words[kPixels - 1] == last;
    if (!statsAgree)
        std::printf("  ours  %u %.17g %.17g %.17g %.17g %g %g\n  numpy %g %.17g %.17g %.17g %.17g %g %g\n",
                    info->count, info->mean, info->variance, info->stdDeviation, info->meanAbsDeviation,
                    info->min, info->max, n[0], n[1], n[2], n[3], n[4], n[5], n[6]);
    std::printf("  results: statistics %s, 16-bit words %s\n", statsAgree ? "agree" : "DIFFER",
                wordsAgree ? "agree" : "DIFFER");
    return statsAgree && wordsAgree ? 0 : 1;
}
