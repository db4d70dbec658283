// Frames of encoded files rendered through the DICOM video presentation beside DCMTK's dcmj2pnm
// with the same window: a multi-frame image made by pydicom, its RLE copy (dcmcrle) and its
// lossless JPEG copy (dcmcjpeg +e1, process 14 selection value 1). Every frame the presentation
// steps to is read from its drawer's 32-bit offscreen buffer and must equal dcmj2pnm's PGM of
// that frame within one grey level.
//
// Then a table of the stored values that are easy to draw wrong (signed samples of 10, 12 and 16
// bits with and without rescale, values below the intercept, unsigned values near 65535, bits
// above High Bit, signed 8-bit, MONOCHROME1 signed, width 1, a centre outside the data), each in
// native little-endian, big-endian, RLE and lossless JPEG forms, every sample compared with
// dcmj2pnm +Ww C W.
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
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using testsupport::run;

const char* const kMakeScript = R"PY(
import sys, os
import numpy as np
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.uid import ExplicitVRLittleEndian
out = sys.argv[1]
meta = FileMetaDataset()
meta.MediaStorageSOPClassUID = '1.2.840.10008.5.1.4.1.1.7.3'
meta.MediaStorageSOPInstanceUID = '1.2.826.0.1.3680043.2.1143.2020.1'
meta.TransferSyntaxUID = ExplicitVRLittleEndian
ds = Dataset(); ds.file_meta = meta
ds.is_little_endian = True; ds.is_implicit_VR = False
ds.SOPClassUID = meta.MediaStorageSOPClassUID; ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
ds.Modality = 'OT'; ds.PatientName = 'BESIDE^DCMJ2PNM'
ds.SamplesPerPixel = 1; ds.PhotometricInterpretation = 'MONOCHROME2'
ds.NumberOfFrames = 5; ds.Rows = 48; ds.Columns = 64
ds.BitsAllocated = 16; ds.BitsStored = 12; ds.HighBit = 11; ds.PixelRepresentation = 0
ds.WindowCenter, ds.WindowWidth = 1500, 2000
y, x = np.mgrid[0:48, 0:64]
rng = np.random.RandomState(7)
# Ramps across the whole range of 12 bits with noise, so that the window's both ends and its
# slope are reached in every frame and the compressors have real work to do.
arr = np.stack([(x * 61 + y * 17 + k * 500 + rng.randint(0, 40, (48, 64))) % 4096 for k in range(5)])
ds.PixelData = arr.astype('<u2').tobytes()
ds.save_as(os.path.join(out, 'native.dcm'), write_like_original=False)
)PY";

class Fixtures {
  public:
    static Fixtures& get() {
        static Fixtures f;
        return f;
    }
    std::string file(const std::string& name) const { return folder_.file(name); }
    const testsupport::ScratchDir& dir() const { return folder_.dir(); }
    const std::string& skip() const { return folder_.problem(); }

  private:
    Fixtures() : folder_("presentation-dcmj2pnm") {
        folder_.require({"dcmj2pnm", "dcmcrle", "dcmcjpeg"});
        folder_.runScript(kMakeScript, "pydicom could not make the fixture");
        folder_.runEach({"dcmcrle '@/native.dcm' '@/rle.dcm'", "dcmcjpeg +e1 '@/native.dcm' '@/jpll.dcm'"});
    }
    PeerFixtureFolder folder_;
};

// The presentation of a file's pixel data, as the document makes it.
std::unique_ptr<KelvoDicomVideoPresentation> display(const std::string& path) {
    std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(path.c_str()));
    if (!tree || !tree->isA("KelvoDicomDocument")) return nullptr;
    return std::unique_ptr<KelvoDicomVideoPresentation>(
        static_cast<KelvoDicomDocument*>(tree.get())->dataDisplay());
}

class PresentationBesideDcmj2pnmTest : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        if (!Fixtures::get().skip().empty()) GTEST_SKIP() << Fixtures::get().skip();
    }
    void TearDown() override { EXPECT_EQ(platform::installedTimerCount(), 0); }
    platform::ManualClock clock{5'000'000'000};
    platform::ScopedSystemClock scope{clock};
};

TEST_P(PresentationBesideDcmj2pnmTest, EveryFrameEqualsDcmj2pnmWithinOneGreyLevel) {
    const std::string path = Fixtures::get().file(GetParam());
    auto p = display(path);
    ASSERT_TRUE(p && p->qtObjIsValid()) << path;
    ASSERT_EQ(p->SamplesCount(), 5);
    // The file's own window, given to dcmj2pnm as it is.
    const double centre = p->windowLevels().getStart(), width = p->windowLevels().getEnd();
    EXPECT_EQ(centre, 1500.0);
    EXPECT_EQ(width, 2000.0);

    const testsupport::ScratchDir& dir = Fixtures::get().dir();
    const std::string prefix = dir.file(std::string(GetParam()) + ".frame");
    char window[96];
    std::snprintf(window, sizeof window, "+Ww %.17g %.17g", centre, width);
    int status = -1;
    const std::string said =
        run("dcmj2pnm -O +Fa " + std::string(window) + " '" + path + "' '" + prefix + "' 2>&1", &status);
    ASSERT_EQ(status, 0) << said;

    for (int k = 0; k < 5; ++k) {
        if (k == 0)
            p->PlayTime(0);
        else
            p->PlayAction(4); // one frame forward
        ASSERT_EQ(p->SampleID(), k + 1);
        const drawertest::Picture ours = drawertest::picture(p->drawer());
        const drawertest::Pnm theirs = drawertest::readPnm(prefix + "." + std::to_string(k) + ".pgm");
        ASSERT_EQ(theirs.components, 1) << "frame " << k;
        ASSERT_EQ(ours.width, theirs.width);
        ASSERT_EQ(ours.height, theirs.height);
        int worst = 0, grey = 0, different = 0;
        for (int32_t y = 0; y < ours.height; ++y)
            for (int32_t x = 0; x < ours.width; ++x) {
                const int r = ours.channel(x, y, 1), g = ours.channel(x, y, 2), b = ours.channel(x, y, 3);
                if (r != g || g != b) ++grey;
                const int d = std::abs(r - int(theirs.samples[size_t(y) * size_t(theirs.width) + size_t(x)]));
                if (d > 0) ++different;
                worst = std::max(worst, d);
            }
        EXPECT_EQ(grey, 0) << "frame " << k << ": pixels that are not grey";
        EXPECT_LE(worst, 1) << "frame " << k << " of " << GetParam() << ": " << different << " pixels differ";
        // Not a blank frame either: the window reaches both ends of the scale.
        EXPECT_NE(*std::min_element(theirs.samples.begin(), theirs.samples.end()),
                  *std::max_element(theirs.samples.begin(), theirs.samples.end()));
    }
}

// ---------------------------------------------------------------------------------------------
// The table of stored values

// Each case: name, bits allocated, stored, signed, photometric, rescale (slope, intercept) or
// None, the range of stored values, whether bits above High Bit carry noise, and its windows
// (none for 8 bits, which are never windowed). The stored words are written as they are, so
// that signed samples of fewer than 16 bits are stored without sign extension and with noise
// above High Bit where the case says so; manifest.tsv lists name and windows ("c,w;c,w").
// Run after the shared cases.
const char* const kTableScript = R"PY(
import sys, os
out = sys.argv[1]
rows, cols = 48, 64
lines = []
for name, alloc, stored, signed, pi, rescale, lo, hi, noise, windows in VALUE_CASES:
    n = rows * cols
    vals, rng = case_values(name, stored, lo, hi, n)
    words = vals & ((1 << stored) - 1)
    if noise:
        words |= rng.randint(0, 1 << (alloc - stored), n) << stored
    ds = grey_ds('TABLE^' + name, rows, cols, pi, alloc, stored, signed, rescale, windows)
    ds.PixelData = words.astype('<u2' if alloc == 16 else 'u1').tobytes()
    ds.save_as(os.path.join(out, name + '.dcm'), write_like_original=False)
    lines.append(name + '\t' + (';'.join('%r,%r' % w for w in windows) or '-'))
open(os.path.join(out, 'manifest.tsv'), 'w').write('\n'.join(lines) + '\n')
)PY";

struct TableCase {
    std::string name;
    std::vector<std::pair<double, double>> windows;
};

class TableFixtures {
  public:
    static TableFixtures& get() {
        static TableFixtures f;
        return f;
    }
    std::string file(const std::string& name) const { return folder_.file(name); }
    const testsupport::ScratchDir& dir() const { return folder_.dir(); }
    const std::string& skip() const { return folder_.problem(); }
    const std::vector<TableCase>& cases() const { return cases_; }

  private:
    TableFixtures() : folder_("presentation-value-table") {
        folder_.require({"dcmj2pnm", "dcmconv", "dcmcrle", "dcmcjpeg"});
        if (!folder_.runScript(valuetable::withCases(kTableScript).c_str(),
                               "pydicom could not make the table"))
            return;
        std::istringstream lines(testsupport::readFile(folder_.file("manifest.tsv")));
        for (std::string line; std::getline(lines, line);) {
            const size_t tab = line.find('\t');
            if (tab == std::string::npos) continue;
            TableCase c{line.substr(0, tab), {}};
            std::istringstream list(line.substr(tab + 1));
            for (std::string w; std::getline(list, w, ';');) {
                double centre = 0, width = 0;
                if (std::sscanf(w.c_str(), "%lf,%lf", &centre, &width) == 2)
                    c.windows.push_back({centre, width});
            }
            const std::string n = c.name;
            folder_.runEach({"dcmconv +tb '@/" + n + ".dcm' '@/" + n + "_big.dcm'",
                             "dcmcrle '@/" + n + ".dcm' '@/" + n + "_rle.dcm'",
                             "dcmcjpeg +e1 '@/" + n + ".dcm' '@/" + n + "_jpll.dcm'"});
            cases_.push_back(c);
        }
    }
    PeerFixtureFolder folder_;
    std::vector<TableCase> cases_;
};

TEST(PresentationValueTable, EveryStoredValueEqualsDcmj2pnmWithinOneGreyLevel) {
    if (!TableFixtures::get().skip().empty()) GTEST_SKIP() << TableFixtures::get().skip();
    platform::ManualClock clock{5'000'000'000};
    platform::ScopedSystemClock scope{clock};
    const auto& cases = TableFixtures::get().cases();
    ASSERT_EQ(cases.size(), 15u);
    const testsupport::ScratchDir& dir = TableFixtures::get().dir();
    size_t compared = 0;
    for (const TableCase& c : cases) {
        for (const char* form : {"", "_big", "_rle", "_jpll"}) {
            const std::string path = TableFixtures::get().file(c.name + form + ".dcm");
            SCOPED_TRACE(path);
            auto p = display(path);
            ASSERT_TRUE(p && p->qtObjIsValid()) << (p ? p->Error() : 0);
            // 8-bit grey is never windowed: drawn once, beside dcmj2pnm without a window.
            std::vector<std::pair<double, double>> windows = c.windows;
            if (windows.empty()) windows.push_back({0.0, 0.0});
            for (const auto& [centre, width] : windows) {
                const bool windowed = !c.windows.empty();
                if (windowed) {
                    const Kelvo_NumericalRange range(centre, width);
                    p->windowLevels(&range);
                    ASSERT_EQ(p->windowLevels().getStart(), centre);
                }
                ASSERT_EQ(p->Error(), 0);
                const drawertest::Picture ours = drawertest::picture(p->drawer());
                const drawertest::Pnm theirs = drawertest::dcmj2pnm(dir, path, windowed, centre, width);
                ASSERT_EQ(theirs.components, 1);
                ASSERT_EQ(ours.width, theirs.width);
                ASSERT_EQ(ours.height, theirs.height);
                int worst = 0, different = 0, first = -1;
                for (int32_t y = 0; y < ours.height; ++y)
                    for (int32_t x = 0; x < ours.width; ++x) {
                        const int i = y * ours.width + x;
                        const int r = ours.channel(x, y, 1);
                        ASSERT_EQ(r, ours.channel(x, y, 2));
                        const int d = std::abs(r - int(theirs.samples[size_t(i)]));
                        if (d > 0) ++different;
                        if (d > worst && first < 0 && d > 1) first = i;
                        worst = std::max(worst, d);
                    }
                EXPECT_LE(worst, 1) << "window " << centre << "/" << width << ": " << different
                                    << " pixels differ, first by more than one at " << first << " (ours "
                                    << (first >= 0 ? int(ours.argb[size_t(first) * 4 + 1]) : -1)
                                    << ", theirs " << (first >= 0 ? int(theirs.samples[size_t(first)]) : -1)
                                    << ")";
                ++compared;
            }
        }
    }
    EXPECT_EQ(compared, 4u * 32u);
}

INSTANTIATE_TEST_SUITE_P(Encodings, PresentationBesideDcmj2pnmTest,
                         ::testing::Values("native.dcm", "rle.dcm", "jpll.dcm"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             return name.substr(0, name.find('.'));
                         });

} // namespace
