// JPEG 2000 lossless frames rendered through the DICOM video presentation beside pydicom's
// decode of the same file, windowed in numpy by the standard's linear VOI function (modality
// values in double, the 8-bit result truncated, MONOCHROME1 inverted; 8-bit frames unwindowed,
// signed 8-bit by value). DCMTK cannot decode JPEG 2000, so pydicom (Pillow over OpenJPEG) is
// the peer here.
//
// The table is the stored values of the dcmj2pnm table (signed 10, 12 and 16 bits with and
// without rescale, values below the intercept, unsigned values near 65535 under rescale 1/0,
// signed 8-bit, MONOCHROME1 signed, width 1, centres outside the data) compressed by
// opj_compress from raw samples and wrapped by pydicom, plus what the codec and the frame's
// layout must get right: odd sides over 16 x 16 tiles, a single column, quality layers with
// packet markers, a JP2 file, three frames stepped through, 5 bits in 8, 8 bits in 16, and 12
// signed bits under Bits Stored 16. A codestream holds exactly its precision's bits a sample,
// so the cases that carry noise above High Bit in the other forms carry their values alone here. Then
// pydicom's own JPEG 2000 grey images (lossless, lossy, a Bits Stored that differs from the codestream's
// precision, an unsigned codestream under Pixel Representation 1), under their own first window and two over
// their values. Every sample is compared: none is left out.
#include "KelvoDicomDataTree.h"
#include "KelvoDicomVideoPresentation.h"
#include "PeerFixtureFolder.h"
#include "PixelDrawerFixtures.h"
#include "PlatformClock.h"
#include "PlatformTimers.h"
#include "PresentationValueCases.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

// Writes NAME_j2k.dcm for every case, NAME.wK.ref (the 8-bit picture of window K, row by row)
// and manifest.tsv: name, file, windows ("c,w;c,w", or "-" for an unwindowed 8-bit frame).
// A fixture that pydicom does not decode to the values compressed fails the script. Run after
// the shared cases.
const char* const kScript = R"PY(
import sys, os, subprocess, warnings
import numpy as np, pydicom
from pydicom.encaps import encapsulate
from pydicom.uid import JPEG2000Lossless
warnings.filterwarnings('ignore')
out, corpus = sys.argv[1], sys.argv[2]
GREY = ('MONOCHROME1', 'MONOCHROME2')
J2K = ('1.2.840.10008.1.2.4.90', '1.2.840.10008.1.2.4.91')

def window(x, c, w):
    # The linear VOI function over modality values in double, truncated to 8 bits.
    if w <= 1:
        y = np.where(x <= c - 0.5, 0.0, 255.0)
    else:
        y = ((x - (c - 0.5)) / (w - 1) + 0.5) * 255.0
        y = np.where(x <= c - 0.5 - (w - 1) / 2, 0.0, np.where(x > c - 0.5 + (w - 1) / 2, 255.0, y))
    return np.clip(np.floor(y), 0, 255).astype(np.uint8)

def pictures(ds, arr, windows):
    signed = int(ds.PixelRepresentation) == 1
    if int(ds.BitsAllocated) == 8:
        # Never windowed; signed 8-bit is shown by value, -128 black.
        found = [(arr.astype(np.int64) + (128 if signed else 0)).astype(np.uint8)]
    else:
        x = arr.astype(np.float64)
        if 'RescaleSlope' in ds or 'RescaleIntercept' in ds:
            x = x * float(ds.get('RescaleSlope', 1) or 1) + float(ds.get('RescaleIntercept', 0) or 0)
        found = [window(x, c, w) for c, w in windows]
    if str(ds.PhotometricInterpretation) == 'MONOCHROME1':
        found = [255 - p for p in found]
    return found

lines = []
def add(name, path, ds, arr, windows):
    # `arr` holds one frame, or the frames of a multi-frame image one after the other.
    frames = arr if int(ds.get('NumberOfFrames', 1) or 1) > 1 else [arr]
    for f, frame in enumerate(frames):
        for k, p in enumerate(pictures(ds, frame, windows)):
            open(os.path.join(out, '%s.f%d.w%d.ref' % (name, f, k)), 'wb').write(np.ascontiguousarray(p).tobytes())
    lines.append('\t'.join([name, path, str(len(frames)), ';'.join('%r,%r' % (float(c), float(w)) for c, w in windows) or '-']))

# The shared cases, two of them in other codestream forms.
FORMS = {
    # Quality layers (the last lossless), another progression order, small code-blocks and
    # packet markers: the codec reads the whole codestream, not its first layer.
    'u16_rescaled': dict(opj=['-r', '40,10,1', '-p', 'RPCL', '-b', '16,16', '-SOP', '-EPH']),
    # A JP2 file rather than a bare codestream, as some writers store it (unsigned: pydicom
    # learns a JP2 file's signedness from Pixel Representation alone).
    'u16': dict(jp2=True),
}
cases = [c + ((FORMS[c[0]],) if c[0] in FORMS else ()) for c in VALUE_CASES] + [
    # Shapes the codec must get right: odd sides over tiles of 16, and a single column.
    ('s14_odd_tiles', 16, 14, True, 'MONOCHROME2', (1, -3000), -8192, 8191, False, [(-3000, 9000), (-11191, 1)],
     dict(shape=(45, 67), opj=['-t', '16,16', '-n', '4'])),
    ('u10_column', 16, 10, False, 'MONOCHROME1', None, 0, 1023, False, [(512, 1024), (100, 50)],
     dict(shape=(301, 1), opj=['-n', '1'])),
    ('u5', 8, 5, False, 'MONOCHROME2', None, 0, 31, False, []),
    # A codestream of 12 signed bits under Bits Stored 16: its negative values are negative.
    ('s12_as_s16', 16, 12, True, 'MONOCHROME2', None, -2048, 2047, False, [(0, 4096), (-1000, 300)], dict(declared=16)),
    # Frames of their own codestream each, stepped through.
    ('s12_frames', 16, 12, True, 'MONOCHROME2', (1, -1024), -2048, 2047, False, [(-600, 1500), (-1024, 2)],
     dict(shape=(37, 53), frames=3)),
    # Samples of 8 bits in words of 16: windowed as any 16-bit frame.
    ('s8_in_16', 16, 8, True, 'MONOCHROME2', None, -128, 127, False, [(0, 256), (-100.5, 1)]),
    ('u8_in_16_rescaled', 16, 8, False, 'MONOCHROME1', (3, -200), 0, 255, False, [(100, 600)]),
]
for case in cases:
    name, alloc, stored, signed, pi, rescale, lo, hi, noise, windows = case[:10]
    extra = case[10] if len(case) > 10 else {}
    rows, cols = extra.get('shape', (48, 64))
    declared = extra.get('declared', stored)
    frames = extra.get('frames', 1)
    n = rows * cols
    stack, codestreams = [], []
    for f in range(frames):
        vals = case_values(name, stored, lo, hi, n, f)[0].reshape(rows, cols)
        stack.append(vals)
        # The codestream holds Bits Stored bits a sample and nothing above them: the cases with
        # noise above High Bit in the other forms carry their values alone here.
        wide = stored > 8
        raw = os.path.join(out, name + ('.rawl' if wide else '.raw'))
        dt = {(True, True): '<i2', (True, False): '<u2', (False, True): 'i1', (False, False): 'u1'}[(wide, signed)]
        open(raw, 'wb').write(vals.astype(dt).tobytes())
        j2k = os.path.join(out, name + ('.jp2' if extra.get('jp2') else '.j2k'))
        subprocess.run(['opj_compress', '-i', raw, '-o', j2k, '-F', '%d,%d,1,%d,%s' % (cols, rows, stored, 's' if signed else 'u')]
                       + extra.get('opj', []), check=True, stdout=subprocess.DEVNULL)
        codestreams.append(open(j2k, 'rb').read())
    vals = np.stack(stack) if frames > 1 else stack[0]
    ds = grey_ds('J2K^' + name, rows, cols, pi, alloc, declared, signed, rescale, windows, JPEG2000Lossless)
    if frames > 1:
        ds.NumberOfFrames = frames
    ds.PixelData = encapsulate(codestreams)
    ds['PixelData'].VR = 'OB'
    ds['PixelData'].is_undefined_length = True
    path = os.path.join(out, name + '_j2k.dcm')
    ds.save_as(path, write_like_original=False)
    back = pydicom.dcmread(path)
    if alloc == 16 and stored <= 8:
        # pydicom sizes the frame by Bits Allocated, but Pillow gives a byte for each sample of
        # a codestream of up to 8 bits: decoded as the 8-bit frame that it is.
        back.BitsAllocated = 8
    arr = back.pixel_array
    back.BitsAllocated = alloc
    # The fixture itself: pydicom must read back the values written.
    if not np.array_equal(arr.astype(np.int64), vals):
        sys.exit('pydicom does not decode %s to the values compressed' % name)
    add(name, path, back, arr, windows)

# pydicom's own JPEG 2000 grey images: the file's first window, then two over its values.
for f in sorted(os.listdir(corpus)):
    p = os.path.join(corpus, f)
    if os.path.isdir(p): continue
    try:
        ds = pydicom.dcmread(p)
        if str(ds.file_meta.TransferSyntaxUID) not in J2K: continue
        if str(ds.PhotometricInterpretation) not in GREY or int(ds.get('NumberOfFrames', 1) or 1) != 1: continue
        arr = ds.pixel_array
    except Exception:
        continue
    x = arr.astype(np.float64)
    if 'RescaleSlope' in ds or 'RescaleIntercept' in ds:
        x = x * float(ds.get('RescaleSlope', 1) or 1) + float(ds.get('RescaleIntercept', 0) or 0)
    lo, hi = float(x.min()), float(x.max())
    windows = []
    if 'WindowCenter' in ds and 'WindowWidth' in ds:
        c, w = ds.WindowCenter, ds.WindowWidth
        windows.append((float(c[0] if isinstance(c, pydicom.multival.MultiValue) else c),
                        float(w[0] if isinstance(w, pydicom.multival.MultiValue) else w)))
    windows += [((lo + hi) / 2, hi - lo + 1), (lo + (hi - lo) / 4, (hi - lo) / 3 + 1)]
    add('corpus_' + os.path.splitext(f)[0], p, ds, arr, windows)
open(os.path.join(out, 'manifest.tsv'), 'w').write('\n'.join(lines) + '\n')
)PY";

struct Case {
    std::string name;
    std::string path;
    int frames = 1;
    std::vector<std::pair<double, double>> windows;
};

class Fixtures {
  public:
    static Fixtures& get() {
        static Fixtures f;
        return f;
    }
    const PeerFixtureFolder& folder() const { return folder_; }
    const std::vector<Case>& cases() const { return cases_; }
    bool tools() const { return tools_; }

  private:
    Fixtures() : folder_("presentation-j2k-table") {
        tools_ = folder_.require({"opj_compress"});
        int status = -1;
        testsupport::run("/usr/bin/python3 -c 'import numpy, pydicom, PIL' >/dev/null 2>&1", &status);
        if (status != 0) tools_ = false;
        if (!folder_.runScript(valuetable::withCases(kScript).c_str(),
                               "the JPEG 2000 table could not be made"))
            return;
        std::istringstream lines(testsupport::readFile(folder_.file("manifest.tsv")));
        for (std::string line; std::getline(lines, line);) {
            std::istringstream fields(line);
            Case c;
            std::string frames, list;
            if (!std::getline(fields, c.name, '\t') || !std::getline(fields, c.path, '\t') ||
                !std::getline(fields, frames, '\t') || !std::getline(fields, list))
                continue;
            c.frames = std::atoi(frames.c_str());
            std::istringstream windows(list);
            for (std::string w; std::getline(windows, w, ';');) {
                double centre = 0, width = 0;
                if (std::sscanf(w.c_str(), "%lf,%lf", &centre, &width) == 2)
                    c.windows.push_back({centre, width});
            }
            cases_.push_back(c);
        }
    }
    PeerFixtureFolder folder_;
    bool tools_ = false;
    std::vector<Case> cases_;
};

std::unique_ptr<KelvoDicomVideoPresentation> display(const std::string& path) {
    std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(path.c_str()));
    if (!tree || !tree->isA("KelvoDicomDocument")) return nullptr;
    return std::unique_ptr<KelvoDicomVideoPresentation>(
        static_cast<KelvoDicomDocument*>(tree.get())->dataDisplay());
}

TEST(PresentationJ2KTable, EveryStoredValueEqualsPydicomWindowedWithinOneGreyLevel) {
    const PeerFixtureFolder& folder = Fixtures::get().folder();
    // Only a missing peer skips: a fixture the peers could not make is a failure.
    if (!Fixtures::get().tools())
        GTEST_SKIP() << "opj_compress, or pydicom with numpy and Pillow, is not installed";
    ASSERT_EQ(folder.problem(), "");
    platform::ManualClock clock{5'000'000'000};
    platform::ScopedSystemClock scope{clock};
    const auto& cases = Fixtures::get().cases();
    // 22 made here and the four grey JPEG 2000 images of pydicom's corpus.
    ASSERT_EQ(cases.size(), 26u);
    size_t compared = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto p = display(c.path);
        ASSERT_TRUE(p && p->qtObjIsValid()) << (p ? p->Error() : 0);
        ASSERT_EQ(p->SamplesCount(), c.frames);
        std::vector<std::pair<double, double>> windows = c.windows;
        if (windows.empty()) windows.push_back({0.0, 0.0});
        for (int f = 0; f < c.frames; ++f) {
            if (f == 0)
                p->PlayTime(0);
            else
                p->PlayAction(4); // one frame forward
            ASSERT_EQ(p->SampleID(), f + 1);
            for (size_t k = 0; k < windows.size(); ++k) {
                const auto [centre, width] = windows[k];
                if (!c.windows.empty()) {
                    const Kelvo_NumericalRange range(centre, width);
                    p->windowLevels(&range);
                    ASSERT_EQ(p->windowLevels().getStart(), centre);
                    ASSERT_EQ(p->windowLevels().getEnd(), width);
                }
                ASSERT_EQ(p->Error(), 0);
                const drawertest::Picture ours = drawertest::picture(p->drawer());
                const std::vector<uint8_t> theirs =
                    folder.bytes(c.name + ".f" + std::to_string(f) + ".w" + std::to_string(k) + ".ref");
                ASSERT_EQ(theirs.size(), size_t(ours.width) * size_t(ours.height));
                int worst = 0, different = 0, first = -1;
                for (int32_t y = 0; y < ours.height; ++y)
                    for (int32_t x = 0; x < ours.width; ++x) {
                        const int i = y * ours.width + x;
                        const int r = ours.channel(x, y, 1);
                        ASSERT_EQ(r, ours.channel(x, y, 2));
                        ASSERT_EQ(r, ours.channel(x, y, 3));
                        const int d = std::abs(r - int(theirs[size_t(i)]));
                        if (d > 0) ++different;
                        if (d > 1 && first < 0) first = i;
                        worst = std::max(worst, d);
                    }
                EXPECT_LE(worst, 1) << "frame " << f << ", window " << centre << "/" << width << ": "
                                    << different << " pixels differ, first by more than one at " << first
                                    << " (ours " << (first >= 0 ? int(ours.argb[size_t(first) * 4 + 1]) : -1)
                                    << ", theirs " << (first >= 0 ? int(theirs[size_t(first)]) : -1) << ")";
                ++compared;
            }
        }
    }
    EXPECT_EQ(compared, 59u);
    EXPECT_EQ(platform::installedTimerCount(), 0);
}

} // namespace

// pydicom's copy of JPEG2000.dcm with four bytes of the codestream's size header overwritten by a
// sequence delimiter: its only codestream is no frame of the description, so the file has no
// frame to show, and its presentation is refused before any frame buffer is made.
TEST(PresentationJ2KTable, ACodestreamThatIsNotTheFrameIsRefused) {
    const std::string path =
        std::string(testsupport::pydicomTestFiles()) + "/JPEG2000-embedded-sequence-delimiter.dcm";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " is not installed";
    platform::ManualClock clock{5'000'000'000};
    platform::ScopedSystemClock scope{clock};
    std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(path.c_str()));
    ASSERT_TRUE(tree && tree->isA("KelvoDicomDocument"));
    std::unique_ptr<KelvoDicomVideoPresentation> p(
        static_cast<KelvoDicomDocument*>(tree.get())->dataDisplay());
    EXPECT_FALSE(p && p->qtObjIsValid());
    EXPECT_EQ(p ? p->Error() : tree->Error(), kKelvoElementUnreadable);
    EXPECT_EQ(platform::installedTimerCount(), 0);
}
