// Colour through the DICOM video presentation: YBR_FULL frames (planar, and interleaved under
// RLE) and YBR_FULL_422 frames are shown as the RGB that pydicom's convert_color_space makes of
// them, within one level; the raw movie of a PALETTE COLOR image holds the palette's colours,
// as ffmpeg reads them back, not the indices. The files are made by pydicom and dcmcrle at test
// time, beside pydicom's own 4:2:2 file.
#include "KelvoCoreObjectsTypes.h"
#include "KelvoDicomDataTree.h"
#include "KelvoDicomVideoPresentation.h"
#include "PeerFixtureFolder.h"
#include "PixelDrawerFixtures.h"
#include "PlatformClock.h"
#include "PlatformTimers.h"
#include "TestFiles.h"
#include "VUXDicomLib.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

using testsupport::run;

const char* const kMakeScript = R"PY(
import sys, os, warnings, shutil
warnings.filterwarnings('ignore')
import numpy as np, pydicom
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.uid import ExplicitVRLittleEndian
from pydicom.pixel_data_handlers.util import convert_color_space, apply_color_lut
out, corpus = sys.argv[1], sys.argv[2]

def new_ds(rows, cols, photometric, samples, frames=1):
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = '1.2.840.10008.5.1.4.1.1.7'
    meta.MediaStorageSOPInstanceUID = pydicom.uid.generate_uid()
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds = Dataset(); ds.file_meta = meta
    ds.is_little_endian = True; ds.is_implicit_VR = False
    ds.SOPClassUID = meta.MediaStorageSOPClassUID; ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
    ds.Modality = 'OT'; ds.PatientName = 'Colour^Test'
    ds.Rows, ds.Columns = rows, cols
    ds.SamplesPerPixel = samples; ds.PhotometricInterpretation = photometric
    ds.BitsAllocated, ds.BitsStored, ds.HighBit, ds.PixelRepresentation = 8, 8, 7, 0
    if samples > 1: ds.PlanarConfiguration = 0
    if frames > 1: ds.NumberOfFrames = frames
    return ds

rows, cols = 36, 50
y, x = np.mgrid[0:rows, 0:cols]
rgb = np.stack([(x * 5 + y) % 256, (y * 7 + 3) % 256, (x * y + 40) % 256], axis=-1).astype(np.uint8)
ybr = convert_color_space(rgb, 'RGB', 'YBR_FULL')

def expect(name, path, photometric):
    # The colours the file means, by pydicom's own conversion of its samples.
    arr = pydicom.dcmread(path).pixel_array
    np.ascontiguousarray(convert_color_space(arr, photometric, 'RGB')).tofile(os.path.join(out, name + '.rgb'))

ds = new_ds(rows, cols, 'YBR_FULL', 3); ds.PlanarConfiguration = 1
ds.PixelData = np.moveaxis(ybr, -1, 0).tobytes()
ds.save_as(os.path.join(out, 'ybr_planar.dcm'), write_like_original=False)
expect('ybr_planar', os.path.join(out, 'ybr_planar.dcm'), 'YBR_FULL')

ds = new_ds(rows, cols, 'YBR_FULL', 3)
ds.PixelData = ybr.tobytes()
ds.save_as(os.path.join(out, 'ybr_interleaved.dcm'), write_like_original=False)
expect('ybr_rle', os.path.join(out, 'ybr_interleaved.dcm'), 'YBR_FULL')

pairs = ybr.reshape(rows, cols // 2, 2, 3).astype(np.float64)
chroma = np.floor(pairs[..., 1:].mean(axis=2) + 0.5).astype(np.uint8)
ds = new_ds(rows, cols, 'YBR_FULL_422', 3)
ds.PixelData = np.concatenate([pairs[..., 0].astype(np.uint8), chroma], axis=-1).tobytes()
ds.save_as(os.path.join(out, 'ybr_422.dcm'), write_like_original=False)
expect('ybr_422', os.path.join(out, 'ybr_422.dcm'), 'YBR_FULL_422')
shutil.copy(os.path.join(corpus, 'SC_ybr_full_422_uncompressed.dcm'), os.path.join(out, 'corpus_422.dcm'))
expect('corpus_422', os.path.join(out, 'corpus_422.dcm'), 'YBR_FULL_422')

# Three frames of palette indices; 16-bit entries whose high bytes are the colours.
ds = new_ds(24, 32, 'PALETTE COLOR', 1, frames=3)
idx = np.stack([((np.arange(24 * 32) * 3 + k * 50) % 256).reshape(24, 32) for k in range(3)]).astype(np.uint8)
for c in ('Red', 'Green', 'Blue'):
    setattr(ds, c + 'PaletteColorLookupTableDescriptor', [256, 0, 16])
i = np.arange(256)
ds.RedPaletteColorLookupTableData = (i * 257).astype('<u2').tobytes()
ds.GreenPaletteColorLookupTableData = (((i * 3) % 256) * 257).astype('<u2').tobytes()
ds.BluePaletteColorLookupTableData = ((255 - i) * 257).astype('<u2').tobytes()
ds.PixelData = idx.tobytes()
ds.save_as(os.path.join(out, 'palette.dcm'), write_like_original=False)
(apply_color_lut(idx, ds) >> 8).astype(np.uint8).tofile(os.path.join(out, 'palette.rgb'))
)PY";

class Fixtures {
  public:
    static Fixtures& get() {
        static Fixtures f;
        return f;
    }
    std::string file(const std::string& name) const { return folder_.file(name); }
    const std::string& skip() const { return folder_.problem(); }
    std::vector<uint8_t> bytes(const std::string& name) const { return folder_.bytes(name); }

  private:
    Fixtures() : folder_("presentation-colour") {
        folder_.require({"dcmcrle"});
        folder_.runScript(kMakeScript, "pydicom could not make the fixtures");
        folder_.runEach({"dcmcrle '@/ybr_interleaved.dcm' '@/ybr_rle.dcm'"});
    }
    PeerFixtureFolder folder_;
};

std::unique_ptr<KelvoDicomDocument> openDocument(const std::string& path) {
    KelvoDicomDataTree* tree = KelvoDicomDataTree::openFile(path.c_str());
    if (tree && !tree->isA("KelvoDicomDocument")) {
        delete tree;
        tree = nullptr;
    }
    return std::unique_ptr<KelvoDicomDocument>(static_cast<KelvoDicomDocument*>(tree));
}

class PresentationColourTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!Fixtures::get().skip().empty()) GTEST_SKIP() << Fixtures::get().skip();
    }
    void TearDown() override { EXPECT_EQ(platform::installedTimerCount(), 0); }
    platform::ManualClock clock{5'000'000'000};
    platform::ScopedSystemClock scope{clock};
};

// The largest difference of any channel between the drawn frame and the expected RGB.
int worstDifference(KelvoDicomPixelDataDrawer& drawer, const std::vector<uint8_t>& rgb) {
    const drawertest::Picture ours = drawertest::picture(drawer);
    const size_t pixels = size_t(ours.width) * size_t(ours.height);
    EXPECT_EQ(rgb.size(), pixels * 3);
    if (rgb.size() != pixels * 3 || pixels == 0) return 256;
    int worst = 0;
    for (size_t i = 0; i < pixels; ++i)
        for (int c = 0; c < 3; ++c)
            worst = std::max(worst,
                             std::abs(int(ours.argb[i * 4 + 1 + size_t(c)]) - int(rgb[i * 3 + size_t(c)])));
    return worst;
}

TEST_F(PresentationColourTest, YBRFullFramesAreShownAsTheirRGB) {
    for (const char* name : {"ybr_planar", "ybr_rle"}) {
        SCOPED_TRACE(name);
        auto doc = openDocument(Fixtures::get().file(std::string(name) + ".dcm"));
        ASSERT_TRUE(doc);
        std::unique_ptr<KelvoDicomVideoPresentation> p(doc->dataDisplay());
        ASSERT_TRUE(p && p->qtObjIsValid());
        EXPECT_EQ(p->Error(), 0);
        EXPECT_LE(worstDifference(p->drawer(), Fixtures::get().bytes(std::string(name) + ".rgb")), 1);
    }
}

// Native 4:2:2 frames keep two bytes a pixel (Y0 Y1 Cb Cr for each pair): the reader's chunk
// table sizes them so, the presentation reads a frame of that size and the drawer widens it to
// RGB. A chunk shorter than that (given by hand: the pixel data are the last element of both
// files) is still short.
TEST_F(PresentationColourTest, YBRFull422FramesAreShownAsTheirRGB) {
    for (const char* name : {"ybr_422", "corpus_422"}) {
        SCOPED_TRACE(name);
        const std::string path = Fixtures::get().file(std::string(name) + ".dcm");
        auto doc = openDocument(path);
        ASSERT_TRUE(doc);
        {
            std::unique_ptr<KelvoDicomVideoPresentation> shown(doc->dataDisplay());
            ASSERT_TRUE(shown && shown->qtObjIsValid());
            EXPECT_EQ(shown->Error(), 0);
            EXPECT_EQ(shown->SamplesCount(), 1);
            EXPECT_LE(worstDifference(shown->drawer(), Fixtures::get().bytes(std::string(name) + ".rgb")), 1);
        }
        std::unique_ptr<Kelvo_QTObj> view(doc->getObjValue(0x0028));
        ASSERT_TRUE(view && view->isA("KelvoDicomDataImagePixel"));
        auto* imagePixel = static_cast<KelvoDicomDataImagePixel*>(view.get());
        const dicmXferSyntaxInfo* syntax = DicmDict_XFerSyntax("1.2.840.10008.1.2.1");
        imagePixel->pixelEncoding() = syntax;
        const uint32_t pixels =
            uint32_t(imagePixel->getUSValueProperty(0x0011)) * imagePixel->getUSValueProperty(0x0010);
        struct stat st {};
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        KelvoDicomPixelData shortChunks(1, syntax, false, path.c_str());
        shortChunks.setChunkInfo(int64_t(st.st_size) - int64_t(pixels) * 2, pixels * 2 - 2, 0);
        KelvoDicomVideoPresentation q(imagePixel, &shortChunks);
        EXPECT_EQ(q.Error(), eofErr);
    }
}

TEST_F(PresentationColourTest, RawMovieOfAPaletteImageHoldsItsColours) {
    if (!testsupport::haveCommand("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    auto doc = openDocument(Fixtures::get().file("palette.dcm"));
    ASSERT_TRUE(doc);
    std::unique_ptr<KelvoDicomVideoPresentation> p(doc->dataDisplay());
    ASSERT_TRUE(p && p->qtObjIsValid());
    ASSERT_EQ(p->SamplesCount(), 3);
    const std::vector<uint8_t> colours = Fixtures::get().bytes("palette.rgb");
    const size_t frameBytes = 24 * 32 * 3;
    ASSERT_EQ(colours.size(), 3 * frameBytes);
    // What is shown is what is exported.
    p->PlayTime(24);
    EXPECT_EQ(worstDifference(p->drawer(), std::vector<uint8_t>(colours.begin() + long(frameBytes),
                                                                colours.begin() + long(2 * frameBytes))),
              0);
    testsupport::ScratchDir dir("presentation-palette-movie");
    FSSpec spec{};
    const std::string file = dir.file("palette.mov");
    std::snprintf(spec.path, sizeof spec.path, "%s", file.c_str());
    p->presentationToRawMovie(&spec, nullptr);
    ASSERT_EQ(p->Error(), 0);
    const std::string decoded =
        run("ffmpeg -v error -i '" + file + "' -map 0:v:0 -f rawvideo -pix_fmt rgb24 - 2>/dev/null");
    ASSERT_EQ(decoded.size(), colours.size());
    EXPECT_TRUE(std::equal(colours.begin(), colours.end(), reinterpret_cast<const uint8_t*>(decoded.data())));
    // The frame shown before comes back.
    EXPECT_EQ(p->currentFrame(), 1u);
    EXPECT_EQ(worstDifference(p->drawer(), std::vector<uint8_t>(colours.begin() + long(frameBytes),
                                                                colours.begin() + long(2 * frameBytes))),
              0);
}

} // namespace
