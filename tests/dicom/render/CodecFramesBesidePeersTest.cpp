// Grey frames of JPEG 2000 and JPEG baseline files through the DICOM video presentation beside an
// independent renderer. pydicom decodes each file (its own decoder, not ours) and writes the
// samples as a native file, which DCMTK's dcmj2pnm renders with the same window; the frame the
// presentation draws must equal dcmj2pnm's within one grey level, under the file's own window
// and under one fitted to the frame's values, and the raw values and their statistics must equal
// pydicom's samples, rescaled. Files: the JPEG 2000 images of pydicom's corpus (signed, lossy,
// lossless, a codestream less signed than its Pixel Representation), a three-frame 16-bit
// codestream and a rescaled 12-bit MONOCHROME1 one made by opj_compress and wrapped by pydicom,
// and an 8-bit MONOCHROME1 frame compressed as JPEG baseline by dcmcjpeg.
#include "KelvoCoreObjectsTypes.h"
#include "KelvoDicomDataTree.h"
#include "KelvoDicomVideoPresentation.h"
#include "KelvoImage.h"
#include "PeerFixtureFolder.h"
#include "PixelDrawerFixtures.h"
#include "PlatformClock.h"
#include "PlatformCodecEngines.h"
#include "PlatformTimers.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using testsupport::run;

const char* const kPeerScript = R"PY(
import sys, os, subprocess, warnings
warnings.filterwarnings('ignore')
import numpy as np, pydicom
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.encaps import encapsulate
from pydicom.uid import ExplicitVRLittleEndian
out, corpus = sys.argv[1], sys.argv[2]
lines = []

def new_ds(rows, cols, photometric, stored, signed, frames, syntax=ExplicitVRLittleEndian, alloc=16):
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = '1.2.840.10008.5.1.4.1.1.7'
    meta.MediaStorageSOPInstanceUID = pydicom.uid.generate_uid()
    meta.TransferSyntaxUID = syntax
    ds = Dataset(); ds.file_meta = meta
    ds.is_little_endian = True; ds.is_implicit_VR = False
    ds.SOPClassUID = meta.MediaStorageSOPClassUID; ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
    ds.Modality = 'OT'; ds.PatientName = 'Codec^Peer'
    ds.SamplesPerPixel = 1; ds.PhotometricInterpretation = photometric
    ds.Rows, ds.Columns = rows, cols
    ds.BitsAllocated, ds.BitsStored, ds.HighBit = alloc, stored, stored - 1
    ds.PixelRepresentation = 1 if signed else 0
    if frames > 1: ds.NumberOfFrames = frames
    return ds

def j2k(name, arr, maxval, photometric, extra):
    # Each frame through opj_compress (lossless) from a 16-bit PGM, then encapsulated.
    frames = []
    for k, frame in enumerate(arr):
        pgm = os.path.join(out, '%s.%d.pgm' % (name, k)); cs = os.path.join(out, '%s.%d.j2k' % (name, k))
        rows, cols = frame.shape
        open(pgm, 'wb').write(b'P5\n%d %d\n%d\n' % (cols, rows, maxval) + frame.astype('>u2').tobytes())
        subprocess.run(['opj_compress', '-i', pgm, '-o', cs], check=True, stdout=subprocess.DEVNULL)
        frames.append(open(cs, 'rb').read())
    stored = int(maxval).bit_length()
    ds = new_ds(arr.shape[1], arr.shape[2], photometric, stored, False, len(arr), '1.2.840.10008.1.2.4.90')
    for k, v in extra.items(): setattr(ds, k, v)
    ds.PixelData = encapsulate(frames, has_bot=False)
    ds['PixelData'].is_undefined_length = True
    ds['PixelData'].VR = 'OB'
    path = os.path.join(out, name + '.dcm')
    ds.save_as(path, write_like_original=False)
    return path

def jpeg8(name):
    # An 8-bit MONOCHROME1 frame compressed as JPEG baseline by DCMTK.
    y, x = np.mgrid[0:48, 0:64]
    arr = ((x * 4 + y * 2 + np.random.RandomState(3).randint(0, 9, (48, 64))) % 256).astype('u1')
    ds = new_ds(48, 64, 'MONOCHROME1', 8, False, 1, alloc=8)
    ds.PixelData = arr.tobytes()
    native = os.path.join(out, name + '_src.dcm'); ds.save_as(native, write_like_original=False)
    path = os.path.join(out, name + '.dcm')
    subprocess.run(['dcmcjpeg', '+eb', native, path], check=True)
    return path

def reference(label, source):
    # pydicom's samples as a native file for dcmj2pnm, the rescaled values for the raw queries
    # and a window fitted to the values of the first frame.
    ds = pydicom.dcmread(source)
    arr = ds.pixel_array
    frames = int(ds.get('NumberOfFrames', 1) or 1)
    if frames == 1: arr = arr[np.newaxis]
    signed = int(ds.PixelRepresentation) == 1
    alloc = int(ds.BitsAllocated)
    nd = new_ds(int(ds.Rows), int(ds.Columns), str(ds.PhotometricInterpretation), int(ds.BitsStored),
                signed, frames, alloc=alloc)
    for el in ds.group_dataset(0x0028):
        if el.keyword not in ('NumberOfFrames', 'PlanarConfiguration') and el.VR not in ('OB', 'OW', 'UN', 'OB or OW'):
            nd[el.tag] = el
    dt = {8: 'u1', 16: '<i2' if signed else '<u2'}[alloc]
    nd.PixelData = np.ascontiguousarray(arr.astype(dt)).tobytes()
    native = os.path.join(out, label + '_native.dcm')
    nd.save_as(native, write_like_original=False)
    values = arr.astype(np.int64)
    if alloc > 8 and ('RescaleSlope' in ds or 'RescaleIntercept' in ds):
        slope = np.float32(float(ds.get('RescaleSlope', 1))); icpt = np.float32(float(ds.get('RescaleIntercept', 0)))
        values = np.trunc(arr.astype(np.float32) * slope + icpt).astype(np.int64)
    values.astype('<i4').tofile(os.path.join(out, label + '.values'))
    # The fitted window stays above the rescale offset: values the window table cannot index are
    # drawn by a rule of their own, below the window here as in dcmj2pnm.
    low, high = float(values[0].min()), float(values[0].max())
    if alloc > 8 and ('RescaleSlope' in ds or 'RescaleIntercept' in ds):
        icpt = float(ds.get('RescaleIntercept', 0))
        low = max(low, -1024.0 if icpt == 0 else icpt)
    window = '%g,%g' % ((low + high) / 2, max((high - low) / 2, 2))
    lines.append('\t'.join([label, source, native, str(frames), window]))

for name in ('693_J2KI', 'J2K_pixelrep_mismatch', 'JPEG2000', 'MR_small_jp2klossless'):
    reference(name, os.path.join(corpus, name + '.dcm'))
rng = np.random.RandomState(11)
y, x = np.mgrid[0:40, 0:56]
mf = np.stack([(x * 1170 + y * 310 + k * 9000 + rng.randint(0, 300, (40, 56))) % 65536 for k in range(3)])
reference('j2k16_frames', j2k('j2k16_frames', mf, 65535, 'MONOCHROME2',
                              {'WindowCenter': 30000, 'WindowWidth': 40000}))
m1 = ((x * 73 + y * 29 + rng.randint(0, 20, (40, 56))) % 4096)[np.newaxis]
reference('j2k12_m1', j2k('j2k12_m1', m1, 4095, 'MONOCHROME1',
                          {'RescaleSlope': 2, 'RescaleIntercept': -1000, 'WindowCenter': 2500, 'WindowWidth': 3000}))
reference('jpeg8_m1', jpeg8('jpeg8_m1'))
# Codestreams that are not the frame their description gives: two columns fewer than the file
# says, and one cut short in its tile data.
j2k('j2k_narrow', m1, 4095, 'MONOCHROME2', {'Columns': 58})
ds = pydicom.dcmread(os.path.join(out, 'j2k12_m1.dcm'))
ds.PhotometricInterpretation = 'MONOCHROME2'
del ds.RescaleSlope, ds.RescaleIntercept
whole = open(os.path.join(out, 'j2k12_m1.0.j2k'), 'rb').read()
cut = whole[:len(whole) * 2 // 3]
ds.PixelData = encapsulate([cut + b'\0' * (len(cut) % 2)], has_bot=False)
ds.save_as(os.path.join(out, 'j2k_cut.dcm'), write_like_original=False)
open(os.path.join(out, 'manifest.tsv'), 'w').write('\n'.join(lines) + '\n')
)PY";

struct Entry {
    std::string label, source, native;
    int frames = 1;
    double centre = 0.0, width = 0.0; // the fitted window
};

class Fixtures {
  public:
    static Fixtures& get() {
        static Fixtures f;
        return f;
    }
    const testsupport::ScratchDir& dir() const { return folder_.dir(); }
    const std::string& skip() const { return folder_.problem(); }
    const std::vector<Entry>& entries() const { return entries_; }
    std::vector<int32_t> values(const std::string& label) const { return folder_.values(label); }

  private:
    Fixtures() : folder_("codec-frames-peers") {
        folder_.require({"dcmj2pnm", "dcmcjpeg", "opj_compress"});
        if (!folder_.runScript(kPeerScript, "the pydicom peer failed")) return;
        std::istringstream manifest(testsupport::readFile(folder_.file("manifest.tsv")));
        std::string line;
        while (std::getline(manifest, line)) {
            if (line.empty()) continue;
            std::istringstream fields(line);
            Entry e;
            std::string frames, window;
            std::getline(fields, e.label, '\t');
            std::getline(fields, e.source, '\t');
            std::getline(fields, e.native, '\t');
            std::getline(fields, frames, '\t');
            std::getline(fields, window, '\t');
            e.frames = std::atoi(frames.c_str());
            std::sscanf(window.c_str(), "%lf,%lf", &e.centre, &e.width);
            entries_.push_back(e);
        }
    }
    PeerFixtureFolder folder_;
    std::vector<Entry> entries_;
};

std::unique_ptr<KelvoDicomVideoPresentation> display(const std::string& path) {
    std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(path.c_str()));
    if (!tree || !tree->isA("KelvoDicomDocument")) return nullptr;
    return std::unique_ptr<KelvoDicomVideoPresentation>(
        static_cast<KelvoDicomDocument*>(tree.get())->dataDisplay());
}

class CodecFramesBesidePeersTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!Fixtures::get().skip().empty()) GTEST_SKIP() << Fixtures::get().skip();
        ASSERT_EQ(Fixtures::get().entries().size(), 7u);
    }
    void TearDown() override { EXPECT_EQ(platform::installedTimerCount(), 0); }
    platform::ManualClock clock{5'000'000'000};
    platform::ScopedSystemClock scope{clock};
};

// The presentation's drawing of its current frame beside dcmj2pnm's PGM: the largest difference.
int worstDifference(KelvoDicomVideoPresentation& p, const drawertest::Pnm& theirs, int* notGrey) {
    const drawertest::Picture ours = drawertest::picture(p.drawer());
    EXPECT_EQ(theirs.components, 1);
    EXPECT_EQ(ours.width, theirs.width);
    EXPECT_EQ(ours.height, theirs.height);
    if (ours.width != theirs.width || ours.height != theirs.height || theirs.components != 1) return 256;
    int worst = 0;
    *notGrey = 0;
    for (int32_t y = 0; y < ours.height; ++y)
        for (int32_t x = 0; x < ours.width; ++x) {
            const int r = ours.channel(x, y, 1), g = ours.channel(x, y, 2), b = ours.channel(x, y, 3);
            if (r != g || g != b) ++*notGrey;
            worst = std::max(worst,
                             std::abs(r - int(theirs.samples[size_t(y) * size_t(theirs.width) + size_t(x)])));
        }
    return worst;
}

TEST_F(CodecFramesBesidePeersTest, EveryFrameEqualsDcmj2pnmOfPydicomsSamplesUnderTwoWindows) {
    const testsupport::ScratchDir& dir = Fixtures::get().dir();
    for (const Entry& e : Fixtures::get().entries()) {
        SCOPED_TRACE(e.label);
        auto p = display(e.source);
        ASSERT_TRUE(p && p->qtObjIsValid());
        EXPECT_EQ(p->Error(), 0);
        ASSERT_EQ(p->SamplesCount(), e.frames);
        struct Window {
            double centre, width;
            bool fitted;
        };
        const Window windows[] = {{p->windowLevels().getStart(), p->windowLevels().getEnd(), false},
                                  {e.centre, e.width, true}};
        for (const Window& w : windows) {
            SCOPED_TRACE("window " + std::to_string(w.centre) + "/" + std::to_string(w.width));
            const bool grey8 = e.label == "jpeg8_m1"; // 8-bit frames have no window
            if (grey8 && w.fitted) continue;
            if (!grey8) {
                Kelvo_NumericalRange range(w.centre, w.width);
                p->windowLevels(&range);
                EXPECT_EQ(p->Error(), 0);
            }
            const std::string prefix = dir.file(e.label + (w.fitted ? ".fitted" : ".own"));
            char window[96] = "";
            if (!grey8) std::snprintf(window, sizeof window, "+Ww %.17g %.17g", w.centre, w.width);
            int status = -1;
            const std::string said =
                run("dcmj2pnm -O +Fa " + std::string(window) + " '" + e.native + "' '" + prefix + "' 2>&1",
                    &status);
            ASSERT_EQ(status, 0) << said;
            for (int k = 0; k < e.frames; ++k) {
                p->PlayTime(k * 24);
                ASSERT_EQ(p->SampleID(), k + 1);
                const std::string pgm =
                    e.frames == 1 ? prefix + ".pgm" : prefix + "." + std::to_string(k) + ".pgm";
                const drawertest::Pnm theirs =
                    drawertest::readPnm(testsupport::readFile(pgm).empty() ? prefix + ".0.pgm" : pgm);
                int notGrey = 0;
                EXPECT_LE(worstDifference(*p, theirs, &notGrey), 1) << "frame " << k;
                EXPECT_EQ(notGrey, 0) << "frame " << k;
                if (w.fitted || grey8) {
                    // Not a blank frame: the window reaches both ends of the scale.
                    ASSERT_FALSE(theirs.samples.empty());
                    EXPECT_LT(*std::min_element(theirs.samples.begin(), theirs.samples.end()), 64);
                    EXPECT_GT(*std::max_element(theirs.samples.begin(), theirs.samples.end()), 191);
                }
            }
        }
    }
}

TEST_F(CodecFramesBesidePeersTest, RawValuesAndStatisticsArePydicomsSamplesRescaled) {
    for (const Entry& e : Fixtures::get().entries()) {
        SCOPED_TRACE(e.label);
        auto p = display(e.source);
        ASSERT_TRUE(p && p->qtObjIsValid());
        const std::vector<int32_t> values = Fixtures::get().values(e.label);
        KelvoDicomDataImagePixel& px = *p->imagePixelDesc();
        const int32_t columns = px.getUSValueProperty(0x0011);
        const int32_t rows = px.getUSValueProperty(0x0010);
        const size_t pixels = size_t(columns) * size_t(rows);
        ASSERT_EQ(values.size(), pixels * size_t(e.frames));
        // The last frame first, then the first: each answers from its own samples.
        for (int k : {e.frames - 1, 0}) {
            p->PlayTime(k * 24);
            ASSERT_EQ(p->SampleID(), k + 1);
            const int32_t* frame = values.data() + pixels * size_t(k);
            // Every pixel of the small frames; a lattice of the large ones, whose steps are prime
            // to the codestreams' code blocks.
            const int32_t step = pixels > 20000 ? 7 : 1;
            int mismatches = 0;
            for (int32_t y = 0; y < rows; y += step)
                for (int32_t x = 0; x < columns; x += step) {
                    Kelvo_Point at(x, y);
                    if (p->rawValueAtPoint(at) != double(frame[size_t(y) * size_t(columns) + size_t(x)]))
                        ++mismatches;
                }
            EXPECT_EQ(mismatches, 0) << "frame " << k;
            Kelvo_Rect all(columns, rows);
            std::unique_ptr<Kelvo_ImageInfo> info(p->rawValuesStatistics(all));
            ASSERT_TRUE(info);
            EXPECT_EQ(info->count, uint32_t(pixels));
            EXPECT_EQ(info->min, double(*std::min_element(frame, frame + pixels))) << "frame " << k;
            EXPECT_EQ(info->max, double(*std::max_element(frame, frame + pixels))) << "frame " << k;
            // The 16-bit grab holds the same values, clamped to what 16 unsigned bits hold.
            Kelvo_OSType grey16(FOUR_CHAR_CODE("16GR"));
            std::unique_ptr<Kelvo_Image> image(p->grabRawImage(nullptr, grey16));
            ASSERT_TRUE(image);
            ASSERT_STREQ(image->qtObjName(), "Kelvo_Image16BitGrey");
            const auto* samples = static_cast<const uint16_t*>(image->buffer());
            int grabbed = 0;
            for (size_t i = 0; i < pixels; ++i)
                if (samples[i] != uint16_t(std::clamp<int32_t>(frame[i], 0, 65535))) ++grabbed;
            EXPECT_EQ(grabbed, 0) << "frame " << k;
        }
        // The samples stay unwindowed under a new window.
        Kelvo_NumericalRange narrow(e.centre, 3.0);
        p->windowLevels(&narrow);
        Kelvo_Point corner(columns - 1, rows - 1);
        EXPECT_EQ(p->rawValueAtPoint(corner), double(values[pixels - 1]));
    }
}

// With the drawer's auto-correction off the picture is the same: decoded frames are in host order
// and the rescale is the table's.
TEST_F(CodecFramesBesidePeersTest, WithoutAutoCorrectionDecodedFramesLookTheSame) {
    auto p = display(Fixtures::get().dir().file("j2k12_m1.dcm"));
    ASSERT_TRUE(p && p->qtObjIsValid());
    const drawertest::Picture corrected = drawertest::picture(p->drawer());
    p->drawer().autoCorrectionEnabled() = 0;
    p->Update();
    EXPECT_EQ(p->Error(), 0);
    const drawertest::Picture read = drawertest::picture(p->drawer());
    EXPECT_EQ(read.argb, corrected.argb);
}

// The raw movie of decoded frames holds them windowed to 8-bit grey, as they are drawn (depth 40,
// 0 white: ffmpeg's RGB is the complement of the bytes), not their compressed codestreams.
TEST_F(CodecFramesBesidePeersTest, RawMovieHoldsTheWindowedFrames) {
    if (!testsupport::haveCommand("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    auto p = display(Fixtures::get().dir().file("j2k16_frames.dcm"));
    ASSERT_TRUE(p && p->qtObjIsValid());
    const size_t pixels = 56 * 40;
    std::string drawn;
    for (int k = 0; k < 3; ++k) {
        p->PlayTime(k * 24);
        drawn.append(reinterpret_cast<const char*>(p->workingBuffer()), pixels);
    }
    testsupport::ScratchDir dir("codec-frames-movie");
    FSSpec spec{};
    const std::string file = dir.file("frames.mov");
    std::snprintf(spec.path, sizeof spec.path, "%s", file.c_str());
    p->presentationToRawMovie(&spec, nullptr);
    ASSERT_EQ(p->Error(), 0);
    const std::string decoded =
        run("ffmpeg -v error -i '" + file + "' -map 0:v:0 -f rawvideo -pix_fmt rgb24 - 2>/dev/null");
    ASSERT_EQ(decoded.size(), 3 * drawn.size());
    int different = 0;
    for (size_t i = 0; i < drawn.size(); ++i)
        if (uint8_t(decoded[3 * i]) != uint8_t(255 - uint8_t(drawn[i]))) ++different;
    EXPECT_EQ(different, 0);
}

// A file none of whose codestreams has the description's dimensions holds no frame of it: its
// presentation is refused when it is made, before a frame's buffers are sized by the
// description. A codestream cut short is an error of its frame: the frame shows blank and
// answers no values, and nothing is read or written past the frame's buffers.
TEST_F(CodecFramesBesidePeersTest, CodestreamsThatAreNotTheFrameAreErrors) {
    {
        const std::string narrow = Fixtures::get().dir().file("j2k_narrow.dcm");
        std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(narrow.c_str()));
        ASSERT_TRUE(tree && tree->isA("KelvoDicomDocument"));
        std::unique_ptr<KelvoDicomVideoPresentation> refused(
            static_cast<KelvoDicomDocument*>(tree.get())->dataDisplay());
        EXPECT_FALSE(refused && refused->qtObjIsValid());
        EXPECT_EQ(refused ? refused->Error() : tree->Error(), kKelvoElementUnreadable);
    }
    auto p = display(Fixtures::get().dir().file("j2k_cut.dcm"));
    ASSERT_TRUE(p && p->qtObjIsValid());
    EXPECT_EQ(p->Error(), codecBadDataErr);
    Kelvo_Point at(3, 3);
    EXPECT_EQ(p->rawValueAtPoint(at), 0.0);
    const drawertest::Picture shown = drawertest::picture(p->drawer());
    ASSERT_FALSE(shown.argb.empty());
    // MONOCHROME2 zeros under the file's default window: black everywhere.
    for (size_t i = 0; i < shown.argb.size(); i += 4)
        ASSERT_EQ(shown.argb[i + 1], 0) << i / 4;
}

} // namespace
