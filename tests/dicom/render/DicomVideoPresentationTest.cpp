// The DICOM video presentation over real files: multi-frame images made by pydicom and turned
// into RLE, lossless JPEG and big-endian forms by DCMTK at test time, and pydicom's own corpus.
// Frames play under the manual clock and the main-loop pump; what is on the surface is compared
// with frames a standalone drawer renders from pydicom's samples; raw values and their
// statistics equal numpy's; raw movies are read back by ffprobe and ffmpeg.
#include "KelvoCoreObjectsTypes.h"
#include "KelvoDicomDataSetViews.h"
#include "KelvoDicomDataTree.h"
#include "KelvoDicomVideoPresentation.h"
#include "KelvoImage.h"
#include "KelvoImageDescriptors.h"
#include "PeerFixtureFolder.h"
#include "PlatformClock.h"
#include "PlatformErrors.h"
#include "PlatformTimers.h"
#include "TestFiles.h"
#include "../../toolkit/movie/VideoPresentationFixtures.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

using testsupport::run;
using vpfixtures::pixelsOf;
using vpfixtures::Recorder;

const char* const kMakeScript = R"PY(
import sys, os, warnings, shutil
warnings.filterwarnings('ignore')
import numpy as np
import pydicom
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.uid import ExplicitVRLittleEndian

out = sys.argv[1]
corpus = sys.argv[2]

def grey(sop_class, instance, modality, patient):
    # An explicit VR little endian grey data set with its meta information.
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = sop_class
    meta.MediaStorageSOPInstanceUID = instance
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds = Dataset()
    ds.file_meta = meta
    ds.is_little_endian = True
    ds.is_implicit_VR = False
    ds.SOPClassUID = sop_class
    ds.SOPInstanceUID = instance
    ds.Modality = modality
    ds.PatientName = patient
    ds.SamplesPerPixel = 1
    ds.PhotometricInterpretation = 'MONOCHROME2'
    return ds

def native(name, frames, bits, rows, cols, slope=None, intercept=None, window=None):
    ds = grey('1.2.840.10008.5.1.4.1.1.7', '1.2.826.0.1.3680043.2.1143.77.%d' % bits, 'OT', 'FRAMES^TEST')
    ds.NumberOfFrames = frames
    ds.Rows = rows
    ds.Columns = cols
    ds.BitsAllocated = bits
    ds.BitsStored = 12 if bits == 16 else 8
    ds.HighBit = ds.BitsStored - 1
    ds.PixelRepresentation = 0
    if slope is not None:
        ds.RescaleSlope = slope
        ds.RescaleIntercept = intercept
    if window is not None:
        ds.WindowCenter, ds.WindowWidth = window
    y, x = np.mgrid[0:rows, 0:cols]
    if bits == 16:
        arr = np.stack([(x * 37 + y * 11 + k * 300) % 4096 for k in range(frames)]).astype('<u2')
    else:
        arr = np.stack([(x * 7 + y * 3 + k * 40) % 256 for k in range(frames)]).astype('u1')
    ds.PixelData = arr.tobytes()
    ds.save_as(os.path.join(out, name), write_like_original=False)

def reference(name, source):
    # The samples as stored (one frame after the other, little endian, colour interleaved) and
    # the rescaled values as 32-bit integers.
    ds = pydicom.dcmread(source)
    arr = ds.pixel_array
    frames = int(ds.get('NumberOfFrames', 1) or 1)
    if frames == 1:
        arr = arr[np.newaxis]
    stored = arr.astype('<u2' if ds.BitsAllocated == 16 else 'u1')
    with open(os.path.join(out, name + '.stored'), 'wb') as f:
        f.write(np.ascontiguousarray(stored).tobytes())
    values = arr.astype(np.int64)
    if 'RescaleSlope' in ds:
        values = values * int(ds.RescaleSlope) + int(ds.RescaleIntercept)
    with open(os.path.join(out, name + '.values'), 'wb') as f:
        f.write(np.ascontiguousarray(values.astype('<i4')).tobytes())

def rescaled(name, signed, slope, intercept):
    # One 1024 x 1024 frame rescaled by a fractional slope, and numpy's answers for it: the raw
    # values (single precision, truncated toward zero) and the statistics of the whole frame and
    # of the rect from row 37 and column 100 that the frame's edges clip.
    ds = grey('1.2.840.10008.5.1.4.1.1.2', '1.2.826.0.1.3680043.2.1143.78.%d' % int(signed), 'CT', 'LARGE^TEST')
    ds.Rows = ds.Columns = 1024
    ds.BitsAllocated = 16
    ds.BitsStored = 16 if signed else 12
    ds.HighBit = ds.BitsStored - 1
    ds.PixelRepresentation = int(signed)
    ds.RescaleSlope = slope
    ds.RescaleIntercept = intercept
    y, x = np.mgrid[0:1024, 0:1024]
    noise = np.random.RandomState(7).randint(0, 4096, (1024, 1024))
    if signed:
        arr = ((x * 41 + y * 17 + noise) % 65536 - 32768).astype('<i2')
    else:
        arr = ((x * 5 + y * 3 + noise) & 0x0FFF).astype('<u2')
    ds.PixelData = arr.tobytes()
    ds.save_as(os.path.join(out, name + '.dcm'), write_like_original=False)
    values = (arr.astype(np.float32) * np.float32(float(slope)) + np.float32(float(intercept))).astype(np.int32)
    with open(os.path.join(out, name + '.values'), 'wb') as f:
        f.write(values.astype('<i4').tobytes())
    stats = []
    for region in (values, values[37:, 100:]):
        v = region.astype(np.float64)
        mean = v.mean()
        stats += [v.size, mean, v.var(ddof=1), v.std(ddof=1), np.abs(v - mean).mean(), v.min(), v.max()]
    with open(os.path.join(out, name + '.stats'), 'wb') as f:
        f.write(np.array(stats, '<f8').tobytes())

rescaled('large_u', False, '0.75', '-1024.5')
rescaled('large_s', True, '2.5', '-1024')
native('mf16.dcm', 6, 16, 24, 32, slope=2, intercept=-100, window=(3000, 5000))
native('mf8.dcm', 5, 8, 20, 28)
native('long8.dcm', 40, 8, 8, 8)
reference('mf16', os.path.join(out, 'mf16.dcm'))
reference('mf8', os.path.join(out, 'mf8.dcm'))
reference('mr', os.path.join(corpus, 'MR_small.dcm'))
reference('mr_rle', os.path.join(corpus, 'MR_small_RLE.dcm'))
reference('rgb', os.path.join(corpus, 'SC_rgb_rle_2frame.dcm'))
shutil.copy(os.path.join(corpus, 'MR_small.dcm'), os.path.join(out, 'mr.dcm'))
)PY";

class Fixtures {
  public:
    static Fixtures& get() {
        static Fixtures f;
        return f;
    }
    std::string file(const std::string& name) const { return folder_.file(name); }
    const std::string& error() const { return folder_.problem(); }
    std::vector<uint8_t> bytes(const std::string& name) const { return folder_.bytes(name); }
    std::vector<int32_t> values(const std::string& base) const { return folder_.values(base); }
    std::vector<double> doubles(const std::string& name) const {
        const std::vector<uint8_t> b = bytes(name);
        std::vector<double> v(b.size() / 8);
        std::memcpy(v.data(), b.data(), v.size() * 8);
        return v;
    }

  private:
    Fixtures() : folder_("dvp-fixtures") {
        folder_.runScript(kMakeScript, "pydicom could not make the fixtures");
        // The other encodings of the same samples, by DCMTK.
        folder_.runEach(
            {"dcmcrle '@/mf16.dcm' '@/mf16_rle.dcm'", "dcmcjpeg +e1 '@/mf16.dcm' '@/mf16_jpll.dcm'",
             "dcmconv +tb '@/mf16.dcm' '@/mf16_be.dcm'", "dcmcrle '@/mf8.dcm' '@/mf8_rle.dcm'",
             "dcmcjpeg +e1 '@/mf8.dcm' '@/mf8_jpll.dcm'", "dcmcjpeg +e1 '@/mr.dcm' '@/mr_jpll.dcm'",
             "dcmconv +tb '@/large_s.dcm' '@/large_s_be.dcm'"});
    }
    PeerFixtureFolder folder_;
};

std::string corpus(const std::string& name) {
    return std::string(testsupport::pydicomTestFiles()) + "/" + name;
}

std::unique_ptr<KelvoDicomDocument> openDocument(const std::string& path) {
    KelvoDicomDataTree* tree = KelvoDicomDataTree::openFile(path.c_str());
    if (tree && !tree->isA("KelvoDicomDocument")) {
        delete tree;
        tree = nullptr;
    }
    return std::unique_ptr<KelvoDicomDocument>(static_cast<KelvoDicomDocument*>(tree));
}

// The presentation of a file's pixel data, as the document makes it.
std::unique_ptr<KelvoDicomVideoPresentation> display(const std::string& path) {
    auto doc = openDocument(path);
    if (!doc) return nullptr;
    return std::unique_ptr<KelvoDicomVideoPresentation>(doc->dataDisplay());
}

// What a presentation built by hand is made of: the file's Image Pixel view and chunk table.
struct Parts {
    std::unique_ptr<KelvoDicomDataImagePixel> imagePixel;
    std::unique_ptr<KelvoDicomPixelData> pixelData;
};

Parts partsOf(const std::string& path) {
    Parts parts;
    auto doc = openDocument(path);
    if (!doc) return parts;
    parts.pixelData.reset(doc->mediaDataSamplesInfo());
    Kelvo_QTObj* view = doc->getObjValue(0x0028);
    if (view && view->isA("KelvoDicomDataImagePixel")) {
        parts.imagePixel.reset(static_cast<KelvoDicomDataImagePixel*>(view));
        if (parts.pixelData) parts.imagePixel->pixelEncoding() = parts.pixelData->chunksEncodingInfo();
    } else {
        delete view;
    }
    return parts;
}

// A presentation whose time base the test can move directly.
class Probe : public KelvoDicomVideoPresentation {
  public:
    using KelvoDicomVideoPresentation::KelvoDicomVideoPresentation;
    Kelvo_TimeBase* timeBase() const { return _timeBase; }
    bool statisticsOn() const { return _statisticsEnabled != 0; }
};

// Frame k of the samples as a standalone drawer renders it.
std::vector<std::vector<uint8_t>> referenceSurfaces(const std::string& nativeFile, const std::string& base,
                                                    int frames) {
    std::vector<std::vector<uint8_t>> surfaces;
    Parts parts = partsOf(nativeFile);
    if (!parts.imagePixel) return surfaces;
    const std::vector<uint8_t> stored = Fixtures::get().bytes(base + ".stored");
    const size_t frameBytes = stored.size() / size_t(frames);
    for (int k = 0; k < frames; ++k) {
        std::vector<uint8_t> frame(stored.begin() + k * frameBytes, stored.begin() + (k + 1) * frameBytes);
        KelvoDicomPixelDataDrawer drawer;
        drawer.attachDataSource(frame.data(), parts.imagePixel.get());
        drawer.playData(true);
        surfaces.push_back(drawer.qtPixelBuffer() ? pixelsOf(drawer.qtPixelBuffer()->buffer())
                                                  : std::vector<uint8_t>());
    }
    return surfaces;
}

std::vector<uint8_t> surface(KelvoDicomVideoPresentation& p) {
    GWorldPtr world = p.dataSourceGraphics();
    return world ? pixelsOf(world) : std::vector<uint8_t>();
}

// Whether every pixel of the surface is the same: what a blank frame looks like.
bool uniform(const std::vector<uint8_t>& argb) {
    for (size_t i = 4; i < argb.size(); ++i)
        if (argb[i] != argb[i % 4]) return false;
    return !argb.empty();
}

class DicomVideoPresentationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!Fixtures::get().error().empty()) GTEST_SKIP() << Fixtures::get().error();
    }
    void TearDown() override { EXPECT_EQ(platform::installedTimerCount(), 0); }
    platform::ManualClock clock{5'000'000'000};
    platform::ScopedSystemClock scope{clock};
};

// ---------------------------------------------------------------------------------------------
// Frames, raw values and statistics in every encoding

struct FormCase {
    const char* file;
    const char* base; // the reference samples
    const char* nativeFile;
    int frames;
};

void PrintTo(const FormCase& c, std::ostream* os) {
    *os << c.file;
}

class Forms : public DicomVideoPresentationTest, public ::testing::WithParamInterface<FormCase> {};

TEST_P(Forms, EachFrameShowsAndAnswersRawValuesAsNumpy) {
    const FormCase& c = GetParam();
    auto p = display(Fixtures::get().file(c.file));
    ASSERT_TRUE(p);
    ASSERT_TRUE(p->qtObjIsValid());
    EXPECT_EQ(p->Error(), 0);
    EXPECT_STREQ(p->qtObjName(), "KelvoDicomVideoPresentation");
    EXPECT_TRUE(p->isA("KelvoDicomVideoPresentation"));
    EXPECT_TRUE(p->isA("Kelvo_VideoPresentation"));
    EXPECT_EQ(p->SamplesCount(), c.frames);
    EXPECT_EQ(p->SampleDuration(), 24);
    EXPECT_EQ(p->Time(kKelvoTimeScale), 600);
    EXPECT_EQ(p->Time(kKelvoTimeDuration), 24 * c.frames);
    EXPECT_EQ(p->idlingTimeInMilliSec(), 40.0);

    const auto references = referenceSurfaces(Fixtures::get().file(c.nativeFile), c.base, c.frames);
    ASSERT_EQ(int(references.size()), c.frames);
    const std::vector<int32_t> values = Fixtures::get().values(c.base);
    KelvoDicomDataImagePixel* desc = p->imagePixelDesc();
    const int columns = desc->getUSValueProperty(0x0011), rows = desc->getUSValueProperty(0x0010);
    ASSERT_EQ(values.size(), size_t(columns) * rows * c.frames);

    for (int k = c.frames - 1; k >= 0; --k) {
        p->PlayTime(k * 24);
        ASSERT_EQ(p->Error(), 0) << "frame " << k;
        EXPECT_EQ(int(p->currentFrame()), k);
        EXPECT_EQ(p->SampleID(), k + 1);
        EXPECT_EQ(surface(*p), references[size_t(k)]) << "frame " << k;
        const int32_t* frame = values.data() + size_t(k) * columns * rows;
        // Every pixel's raw value, and the statistics of the whole frame and of a corner.
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < columns; ++x) {
                Kelvo_Point at(x, y);
                ASSERT_EQ(p->rawValueAtPoint(at), double(frame[y * columns + x])) << x << "," << y;
            }
        for (const Kelvo_Rect& r : {Kelvo_Rect(columns, rows), Kelvo_Rect(Rect{2, 3, 9, 13})}) {
            std::unique_ptr<Kelvo_ImageInfo> info(p->rawValuesStatistics(const_cast<Kelvo_Rect&>(r)));
            ASSERT_TRUE(info);
            double sum = 0, lo = 1e9, hi = -1e9;
            uint32_t n = 0;
            for (int y = r.top(); y < r.top() + r.height(); ++y)
                for (int x = r.left(); x < r.left() + r.width(); ++x) {
                    const double v = frame[y * columns + x];
                    sum += v;
                    lo = std::min(lo, v);
                    hi = std::max(hi, v);
                    ++n;
                }
            EXPECT_EQ(info->count, n);
            EXPECT_EQ(info->min, lo);
            EXPECT_EQ(info->max, hi);
            EXPECT_NEAR(info->mean, sum / n, 1e-9);
        }
    }
    // Outside the frame there is no value.
    Kelvo_Point outside(columns, 0), negative(-1, 2);
    EXPECT_EQ(p->rawValueAtPoint(outside), 0.0);
    EXPECT_EQ(p->rawValueAtPoint(negative), 0.0);
}

INSTANTIATE_TEST_SUITE_P(Encodings, Forms,
                         ::testing::Values(FormCase{"mf16.dcm", "mf16", "mf16.dcm", 6},
                                           FormCase{"mf16_be.dcm", "mf16", "mf16.dcm", 6},
                                           FormCase{"mf16_rle.dcm", "mf16", "mf16.dcm", 6},
                                           FormCase{"mf16_jpll.dcm", "mf16", "mf16.dcm", 6},
                                           FormCase{"mf8.dcm", "mf8", "mf8.dcm", 5},
                                           FormCase{"mf8_rle.dcm", "mf8", "mf8.dcm", 5},
                                           FormCase{"mf8_jpll.dcm", "mf8", "mf8.dcm", 5}));

// One signed 16-bit frame in four encodings: a still of 600 units (uncompressed) or a single
// chunk of 24 (encapsulated); the RLE form is the corpus's own two-segment frame.
TEST_F(DicomVideoPresentationTest, OneFrameImagesAnswerRawValuesAsNumpy) {
    const std::vector<int32_t> values = Fixtures::get().values("mr");
    ASSERT_EQ(values, Fixtures::get().values("mr_rle"));
    struct Case {
        std::string path;
        int32_t duration;
    };
    for (const Case& c :
         {Case{Fixtures::get().file("mr.dcm"), 600}, Case{corpus("MR_small_bigendian.dcm"), 600},
          Case{corpus("MR_small_RLE.dcm"), 24}, Case{Fixtures::get().file("mr_jpll.dcm"), 24}}) {
        SCOPED_TRACE(c.path);
        Parts parts = partsOf(c.path);
        ASSERT_TRUE(parts.imagePixel && parts.pixelData);
        Probe p(parts.imagePixel.get(), parts.pixelData.get());
        ASSERT_TRUE(p.qtObjIsValid());
        EXPECT_EQ(p.Error(), 0);
        EXPECT_EQ(p.SamplesCount(), 1);
        EXPECT_EQ(p.SampleDuration(), c.duration);
        EXPECT_EQ(p.Time(kKelvoTimeDuration), c.duration);
        EXPECT_TRUE(p.isDone());
        EXPECT_FALSE(p.isPlaying());
        EXPECT_EQ(p.timeBase(), nullptr);
        bool on = true;
        p.statisticsEnabled(on);
        EXPECT_FALSE(p.statisticsOn());
        EXPECT_FALSE(p.autoIdlingEnabled(true));
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                Kelvo_Point at(x, y);
                ASSERT_EQ(p.rawValueAtPoint(at), double(values[size_t(y) * 64 + x])) << x << "," << y;
            }
        // Playing a still changes nothing.
        p.Play(1.0);
        p.PlayAction(kKelvoPlayActionForward);
        EXPECT_EQ(p.currentFrame(), 0u);
        EXPECT_EQ(p.Time(kKelvoTimeCurrent), 0);
    }
}

// A whole 1024 x 1024 frame, rescaled by a fractional slope: unsigned, signed with values past
// the 16-bit range (the 16-bit grab keeps their low words), and the signed one big endian. The
// statistics of the frame and of a rect its edges clip, the 16-bit grab and raw values across
// the frame are numpy's on the same samples.
TEST_F(DicomVideoPresentationTest, RescaledFramesAtSizeAnswerAsNumpy) {
    constexpr int kSide = 1024;
    struct Case {
        const char* file;
        const char* base;
    };
    for (const Case& c : {Case{"large_u.dcm", "large_u"}, Case{"large_s.dcm", "large_s"},
                          Case{"large_s_be.dcm", "large_s"}}) {
        SCOPED_TRACE(c.file);
        auto p = display(Fixtures::get().file(c.file));
        ASSERT_TRUE(p);
        ASSERT_TRUE(p->qtObjIsValid());
        const std::vector<int32_t> values = Fixtures::get().values(c.base);
        const std::vector<double> expected = Fixtures::get().doubles(std::string(c.base) + ".stats");
        ASSERT_EQ(values.size(), size_t(kSide) * kSide);
        ASSERT_EQ(expected.size(), 14u);

        const Kelvo_Rect rects[] = {Kelvo_Rect(kSide, kSide), Kelvo_Rect(Rect{37, 100, 2000, 1500})};
        for (int k = 0; k < 2; ++k) {
            SCOPED_TRACE(k);
            std::unique_ptr<Kelvo_ImageInfo> info(p->rawValuesStatistics(const_cast<Kelvo_Rect&>(rects[k])));
            ASSERT_TRUE(info);
            const double* e = expected.data() + 7 * k;
            // Sums of integers are exact on both sides. The spreads add up to a million terms one
            // after the other, numpy pairwise: they agree within that sum's error bound, n ulps.
            const double bound = e[0] * std::numeric_limits<double>::epsilon();
            EXPECT_EQ(info->count, uint32_t(e[0]));
            EXPECT_EQ(info->mean, e[1]);
            EXPECT_NEAR(info->variance, e[2], bound * e[2]);
            EXPECT_NEAR(info->stdDeviation, e[3], bound * e[3]);
            EXPECT_NEAR(info->meanAbsDeviation, e[4], bound * e[4]);
            EXPECT_EQ(info->min, e[5]);
            EXPECT_EQ(info->max, e[6]);
        }

        Kelvo_OSType grey16(FOUR_CHAR_CODE("16GR"));
        std::unique_ptr<Kelvo_Image> image(p->grabRawImage(nullptr, grey16));
        ASSERT_TRUE(image);
        EXPECT_STREQ(image->qtObjName(), "Kelvo_Image16BitGrey");
        ASSERT_EQ(image->width(), uint32_t(kSide));
        ASSERT_EQ(image->height(), uint32_t(kSide));
        // Values below 0 (or past 65535) are clamped to the ends of 16 unsigned bits, never
        // wrapped round to values of the other end.
        const auto* words = static_cast<const uint16_t*>(image->buffer());
        for (size_t i = 0; i < values.size(); ++i)
            ASSERT_EQ(words[i], uint16_t(std::clamp<int32_t>(values[i], 0, 65535))) << i;

        for (size_t i = 0; i < values.size(); i += 997) {
            Kelvo_Point at(int(i % kSide), int(i / kSide));
            ASSERT_EQ(p->rawValueAtPoint(at), double(values[i])) << i;
        }
        Kelvo_Point last(kSide - 1, kSide - 1);
        EXPECT_EQ(p->rawValueAtPoint(last), double(values.back()));
    }
}

// ---------------------------------------------------------------------------------------------
// RLE segments

// Two segments of 16-bit grey (high bytes first), three of 8-bit RGB, one of 8-bit grey: the
// frames equal pydicom's decoding of the same files.
TEST_F(DicomVideoPresentationTest, RLESegmentsMakeTheFramesPydicomDecodes) {
    {
        auto p = display(corpus("MR_small_RLE.dcm"));
        ASSERT_TRUE(p);
        Kelvo_OSType grey16(FOUR_CHAR_CODE("16GR"));
        std::unique_ptr<Kelvo_Image> image(p->grabRawImage(nullptr, grey16));
        ASSERT_TRUE(image);
        EXPECT_STREQ(image->qtObjName(), "Kelvo_Image16BitGrey");
        const std::vector<int32_t> values = Fixtures::get().values("mr_rle");
        const auto* samples = static_cast<const uint16_t*>(image->buffer());
        for (size_t i = 0; i < values.size(); ++i)
            ASSERT_EQ(int16_t(samples[i]), values[i]) << i;
    }
    {
        auto p = display(corpus("SC_rgb_rle_2frame.dcm"));
        ASSERT_TRUE(p);
        ASSERT_EQ(p->SamplesCount(), 2);
        const std::vector<uint8_t> stored = Fixtures::get().bytes("rgb.stored");
        const size_t frameBytes = 100 * 100 * 3;
        ASSERT_EQ(stored.size(), 2 * frameBytes);
        for (int k : {1, 0}) {
            p->PlayTime(k * 24);
            ASSERT_EQ(p->Error(), 0);
            Kelvo_OSType rgb(24);
            std::unique_ptr<Kelvo_Image> image(p->grabRawImage(nullptr, rgb));
            ASSERT_TRUE(image);
            EXPECT_STREQ(image->qtObjName(), "Kelvo_ImageRGB");
            const auto* bytes = static_cast<const uint8_t*>(image->buffer());
            EXPECT_TRUE(std::equal(bytes, bytes + frameBytes, stored.begin() + k * frameBytes)) << k;
            // A colour pixel has no single raw value.
            Kelvo_Point at(3, 3);
            EXPECT_EQ(p->rawValueAtPoint(at), 0.0);
            Kelvo_Rect all(100, 100);
            std::unique_ptr<Kelvo_ImageInfo> info(p->rawValuesStatistics(all));
            ASSERT_TRUE(info);
            EXPECT_EQ(info->count, 0u);
            EXPECT_EQ(p->Error(), paramErr);
        }
    }
    {
        auto p = display(Fixtures::get().file("mf8_rle.dcm"));
        ASSERT_TRUE(p);
        const std::vector<uint8_t> stored = Fixtures::get().bytes("mf8.stored");
        p->PlayTime(3 * 24);
        Kelvo_OSType grey16(FOUR_CHAR_CODE("16GR"));
        std::unique_ptr<Kelvo_Image> image(p->grabRawImage(nullptr, grey16));
        ASSERT_TRUE(image);
        const auto* samples = static_cast<const uint16_t*>(image->buffer());
        for (size_t i = 0; i < 20 * 28; ++i)
            ASSERT_EQ(samples[i], stored[3 * 20 * 28 + i]) << i;
    }
}

// ---------------------------------------------------------------------------------------------
// Grabs

TEST_F(DicomVideoPresentationTest, GrabsInEachFormat) {
    auto p = display(Fixtures::get().file("mf16.dcm"));
    ASSERT_TRUE(p);
    p->PlayTime(2 * 24);
    const int columns = 32, rows = 24;
    const uint8_t* drawn = p->workingBuffer(); // the frame at depth 40, as the session drew it
    const std::vector<int32_t> values = Fixtures::get().values("mf16");
    const int32_t* frame = values.data() + 2 * columns * rows;

    Kelvo_OSType grey(40);
    std::unique_ptr<Kelvo_Image> image(p->grabRawImage(nullptr, grey));
    ASSERT_TRUE(image);
    EXPECT_STREQ(image->qtObjName(), "Kelvo_Image8BitGrey");
    EXPECT_EQ(image->width(), uint32_t(columns));
    EXPECT_EQ(image->height(), uint32_t(rows));
    for (int i = 0; i < columns * rows; ++i)
        ASSERT_EQ(static_cast<const uint8_t*>(image->buffer())[i], uint8_t(~drawn[i])) << i;

    Kelvo_OSType floats(FOUR_CHAR_CODE("FLOA"));
    image.reset(p->grabRawImage(nullptr, floats));
    ASSERT_TRUE(image);
    EXPECT_STREQ(image->qtObjName(), "Kelvo_Image8BitGreyFloat");
    for (int i = 0; i < columns * rows; ++i)
        ASSERT_EQ(static_cast<const float*>(image->buffer())[i], 255.0f - float(drawn[i])) << i;

    // The 16-bit grab holds the raw values, rescaled and never windowed.
    Kelvo_OSType wide(FOUR_CHAR_CODE("16GR"));
    image.reset(p->grabRawImage(nullptr, wide));
    ASSERT_TRUE(image);
    for (int i = 0; i < columns * rows; ++i)
        ASSERT_EQ(static_cast<const uint16_t*>(image->buffer())[i], uint16_t(frame[i])) << i;

    // A format the frame cannot give directly, and any grab through a transform, come from the
    // base: the picture on the surface.
    for (uint32_t type : {24u, 32u}) {
        Kelvo_OSType other(type);
        image.reset(p->grabRawImage(nullptr, other));
        ASSERT_TRUE(image) << type;
        EXPECT_EQ(image->width(), uint32_t(columns));
    }
    Kelvo_DisplayTransform t(Kelvo_Rect(columns, rows), Kelvo_Rect(columns / 2, rows / 2));
    Kelvo_OSType argb(32);
    image.reset(p->grabRawImage(&t, argb));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), uint32_t(columns / 2));
}

// ---------------------------------------------------------------------------------------------
// Playing

TEST_F(DicomVideoPresentationTest, FramesPlayOneByOneUnderTheMainLoop) {
    auto p = display(Fixtures::get().file("mf16.dcm"));
    ASSERT_TRUE(p);
    const auto references = referenceSurfaces(Fixtures::get().file("mf16.dcm"), "mf16", 6);
    Recorder recorder;
    recorder.attach(*p);
    p->displaySetUp(nullptr, nullptr);
    ASSERT_EQ(p->Error(), 0);
    ASSERT_TRUE(p->autoIdlingEnabled(true));
    EXPECT_FALSE(p->isPlaying());
    p->Play(1.0);
    EXPECT_TRUE(p->isPlaying());
    std::vector<int> shown;
    for (int tick = 0; tick < 8; ++tick) {
        platform::runOnce();
        shown.push_back(int(p->currentFrame()));
        EXPECT_EQ(surface(*p), references[p->currentFrame()]) << "tick " << tick;
        clock.advanceMilliseconds(40);
    }
    // One frame a tick; the last stays once the end is reached, and playing stops there.
    EXPECT_EQ(shown, (std::vector<int>{0, 1, 2, 3, 4, 5, 5, 5}));
    EXPECT_TRUE(p->isDone());
    EXPECT_FALSE(p->isPlaying());
    EXPECT_EQ(recorder.count(kKelvoPresentationStart), 1);
    EXPECT_EQ(recorder.count(kKelvoPresentationStop), 1);
    // The display's first picture is a tick of its own.
    EXPECT_EQ(recorder.count(kKelvoPresentationIdle), 7);
    EXPECT_EQ(recorder.count(kKelvoPresentationDraw), 7);
    EXPECT_EQ(recorder.codes()[0], "IDLE");
    EXPECT_EQ(recorder.codes()[1], "DRAW");
    EXPECT_EQ(recorder.codes()[2], "STRT");
    EXPECT_EQ(recorder.codes().back(), "STOP");

    // Looping: after the last frame comes the first again, and it never is done.
    recorder.events.clear();
    p->loop(true);
    p->PlayTime(0);
    p->Play(1.0);
    shown.clear();
    for (int tick = 0; tick < 9; ++tick) {
        platform::runOnce();
        shown.push_back(int(p->currentFrame()));
        clock.advanceMilliseconds(40);
    }
    EXPECT_EQ(shown, (std::vector<int>{0, 1, 2, 3, 4, 5, 0, 1, 2}));
    EXPECT_TRUE(p->isPlaying());
    EXPECT_FALSE(p->isDone());
    p->Stop();
    EXPECT_FALSE(p->isPlaying());
    p->loop(false);
    EXPECT_TRUE(p->autoIdlingEnabled(false));
}

TEST_F(DicomVideoPresentationTest, PalindromePlaysBackAndSwapsTheEnds) {
    auto p = display(Fixtures::get().file("mf16.dcm"));
    ASSERT_TRUE(p);
    ASSERT_TRUE(p->autoIdlingEnabled(true));
    p->loop(true);
    p->palindrome(true);
    EXPECT_TRUE(p->palindrome());
    // In palindrome mode the start action goes to the end, and the end action to the start.
    p->PlayAction(kKelvoPlayActionStart);
    EXPECT_EQ(p->Time(kKelvoTimeCurrent), 144);
    EXPECT_EQ(p->currentFrame(), 5u);
    p->PlayAction(kKelvoPlayActionEnd);
    EXPECT_EQ(p->Time(kKelvoTimeCurrent), 0);
    EXPECT_EQ(p->currentFrame(), 0u);
    p->Play(1.0);
    std::vector<int> shown;
    for (int tick = 0; tick < 12; ++tick) {
        platform::runOnce();
        shown.push_back(int(p->currentFrame()));
        clock.advanceMilliseconds(40);
    }
    // Forward to the last frame (held at the turn, where the time is exactly at the end), then
    // back again.
    EXPECT_EQ(shown, (std::vector<int>{0, 1, 2, 3, 4, 5, 5, 5, 4, 3, 2, 1}));
    p->Stop();
    EXPECT_TRUE(p->autoIdlingEnabled(false));
}

TEST_F(DicomVideoPresentationTest, ActionsAndTimesAtTheEdges) {
    Parts parts = partsOf(Fixtures::get().file("mf16.dcm"));
    ASSERT_TRUE(parts.imagePixel && parts.pixelData);
    Probe p(parts.imagePixel.get(), parts.pixelData.get());
    ASSERT_TRUE(p.qtObjIsValid());
    ASSERT_NE(p.timeBase(), nullptr);
    Recorder recorder;
    recorder.attach(p);

    // One frame back from time 0 asks for a negative time: clamped to 0.
    p.PlayAction(kKelvoPlayActionBack);
    EXPECT_EQ(p.Time(kKelvoTimeCurrent), 0);
    EXPECT_EQ(p.currentFrame(), 0u);
    p.PlayAction(kKelvoPlayActionForward);
    EXPECT_EQ(p.Time(kKelvoTimeCurrent), 24);
    EXPECT_EQ(p.currentFrame(), 1u);
    p.PlayAction(kKelvoPlayActionForward);
    p.PlayAction(kKelvoPlayActionBack);
    EXPECT_EQ(p.currentFrame(), 1u);
    p.PlayAction(kKelvoPlayActionEnd);
    // Exactly at frame count × duration: the last frame.
    EXPECT_EQ(p.Time(kKelvoTimeCurrent), 144);
    EXPECT_EQ(p.currentFrame(), 5u);
    EXPECT_TRUE(p.isDone());
    p.PlayAction(kKelvoPlayActionForward); // clamped at the end
    EXPECT_EQ(p.Time(kKelvoTimeCurrent), 144);
    p.PlayAction(99); // nothing
    EXPECT_EQ(p.currentFrame(), 5u);
    p.PlayAction(kKelvoPlayActionStart);
    EXPECT_EQ(p.currentFrame(), 0u);
    // Every move stops first and then shows the frame.
    EXPECT_GE(recorder.count(kKelvoPresentationStop), 7);
    EXPECT_GE(recorder.count(kKelvoPresentationIdle), 7);

    // A time beyond the end (the time base moved past its range by its owner): back to 0 and
    // frame 0.
    const auto references = referenceSurfaces(Fixtures::get().file("mf16.dcm"), "mf16", 6);
    p.PlayTime(3 * 24);
    EXPECT_EQ(p.currentFrame(), 3u);
    Kelvo_TimeRange64 wider(0.0, 10000.0);
    wider.scale() = 600;
    p.timeBase()->timeInfo(&wider);
    p.timeBase()->currentTime(24 * 7 + 5);
    ASSERT_EQ(p.Time(kKelvoTimeCurrent), 24 * 7 + 5);
    p.idle();
    EXPECT_EQ(p.Time(kKelvoTimeCurrent), 0);
    EXPECT_EQ(p.currentFrame(), 0u);
    EXPECT_EQ(surface(p), references[0]);

    // Statistics can be switched on for several frames.
    bool on = true;
    p.statisticsEnabled(on);
    EXPECT_TRUE(p.statisticsOn());
}

// After a second of playing, the statistics give the frames and bytes of that second.
TEST_F(DicomVideoPresentationTest, StatisticsCountTheFramesOfTheLastSecond) {
    Parts parts = partsOf(Fixtures::get().file("long8.dcm"));
    ASSERT_TRUE(parts.imagePixel && parts.pixelData);
    class Stats : public Probe {
      public:
        using Probe::Probe;
        double dataRate() const { return _dataRate; }
        double sampleRate() const { return _sampleRate; }
    } p(parts.imagePixel.get(), parts.pixelData.get());
    ASSERT_TRUE(p.qtObjIsValid());
    bool on = true;
    p.statisticsEnabled(on);
    ASSERT_TRUE(p.statisticsOn());
    ASSERT_TRUE(p.autoIdlingEnabled(true));
    p.Play(1.0);
    for (int tick = 0; tick < 25; ++tick) {
        platform::runOnce();
        clock.advanceMilliseconds(40);
        EXPECT_EQ(p.sampleRate(), 0.0) << tick; // less than a second so far
    }
    platform::runOnce();
    ASSERT_EQ(p.currentFrame(), 25u);
    // Frames 0 to 25 were read in that second: 26 chunks of 64 bytes, 25 frames on.
    EXPECT_EQ(p.sampleRate(), 25.0);
    EXPECT_EQ(p.dataRate(), 26.0 * 64.0);
    p.Stop();
    EXPECT_EQ(p.sampleRate(), 0.0); // stopping resets them
    EXPECT_TRUE(p.autoIdlingEnabled(false));
}

// Frames a platform codec draws (JPEG baseline, JPEG 2000): the compressed chunk goes to the
// codec, and grabs come from the drawn picture.
// Colour frames of the codecs' syntaxes are drawn by the codec and keep no samples; grey ones
// are decoded into samples (CodecFramesBesidePeersTest).
TEST_F(DicomVideoPresentationTest, PlatformCodecFramesAreDrawnByTheCodec) {
    for (const char* name : {"SC_rgb_jpeg_dcmtk.dcm", "SC_rgb_small_odd_jpeg.dcm"}) {
        SCOPED_TRACE(name);
        auto p = display(corpus(name));
        ASSERT_TRUE(p);
        ASSERT_TRUE(p->qtObjIsValid());
        EXPECT_EQ(p->Error(), 0);
        EXPECT_FALSE(uniform(surface(*p)));
        Kelvo_OSType grey(40);
        std::unique_ptr<Kelvo_Image> image(p->grabRawImage(nullptr, grey));
        ASSERT_TRUE(image);
        Kelvo_Point at(1, 1);
        EXPECT_EQ(p->rawValueAtPoint(at), 0.0); // no samples of its own
    }
}

TEST_F(DicomVideoPresentationTest, ANewWindowRedrawsFromTheRawSamples) {
    auto p = display(Fixtures::get().file("mf16.dcm"));
    ASSERT_TRUE(p);
    p->PlayTime(24);
    EXPECT_EQ(p->windowLevels().getStart(), 3000.0);
    EXPECT_EQ(p->windowLevels().getEnd(), 5000.0);
    Kelvo_Point at(5, 5);
    const double before = p->rawValueAtPoint(at);
    const std::vector<uint8_t> wide = surface(*p);
    Kelvo_NumericalRange narrow(2000.0, 100.0);
    p->windowLevels(&narrow);
    EXPECT_EQ(p->Error(), 0);
    EXPECT_EQ(p->windowLevels().getEnd(), 100.0);
    EXPECT_NE(surface(*p), wide);
    // Raw values do not depend on the window.
    EXPECT_EQ(p->rawValueAtPoint(at), before);
}

// ---------------------------------------------------------------------------------------------
// Raw movies

class RawMovies : public DicomVideoPresentationTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(RawMovies, FfmpegReadsTheFramesWeRender) {
    if (!testsupport::haveCommand("ffmpeg") || !testsupport::haveCommand("ffprobe"))
        GTEST_SKIP() << "ffmpeg or ffprobe missing";
    auto p = display(Fixtures::get().file(GetParam()));
    ASSERT_TRUE(p);
    // Our frames, windowed to 8 bits as the session draws them (depth 40: 0 is white).
    std::string drawn;
    for (int k = 0; k < 6; ++k) {
        p->PlayTime(k * 24);
        drawn.append(reinterpret_cast<const char*>(p->workingBuffer()), 32 * 24);
    }
    p->PlayTime(2 * 24);
    Recorder recorder;
    recorder.attach(*p);
    testsupport::ScratchDir dir("dvp-movie");
    FSSpec spec{};
    const std::string file = dir.file("frames.mov");
    std::snprintf(spec.path, sizeof spec.path, "%s", file.c_str());
    p->presentationToRawMovie(&spec, nullptr);
    ASSERT_EQ(p->Error(), 0);
    // The presentation shows the frame it showed before.
    EXPECT_EQ(p->currentFrame(), 2u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p->workingBuffer()), 32 * 24),
              drawn.substr(2 * 32 * 24, 32 * 24));
    std::vector<double> progress;
    for (const auto& e : recorder.events)
        if (e.code == kKelvoPresentationMovieProgress) progress.push_back(e.progress);
    EXPECT_EQ(progress, (std::vector<double>{0.0, 1.0 / 6, 2.0 / 6, 3.0 / 6, 4.0 / 6, 5.0 / 6, 1.0}));

    const std::string report = run("ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                                   "stream=codec_type,width,height,nb_read_frames:format=duration "
                                   "-of default=noprint_wrappers=1 '" +
                                   file + "' 2>&1");
    auto info = testsupport::keyValues(report);
    EXPECT_EQ(info["codec_type"], "video") << report;
    EXPECT_EQ(info["width"], "32");
    EXPECT_EQ(info["height"], "24");
    EXPECT_EQ(info["nb_read_frames"], "6");
    EXPECT_NEAR(std::atof(info["duration"].c_str()), 6 * 24 / 600.0, 0.002);
    // Depth 40 is grey where 0 is white: ffmpeg's colours (its grey palette, read as RGB to
    // keep clear of a luma conversion) are the complement of our bytes.
    const std::string decoded =
        run("ffmpeg -v error -i '" + file + "' -map 0:v:0 -f rawvideo -pix_fmt rgb24 - 2>/dev/null");
    ASSERT_EQ(decoded.size(), 3 * drawn.size());
    for (size_t i = 0; i < drawn.size(); ++i)
        for (size_t c = 0; c < 3; ++c)
            ASSERT_EQ(uint8_t(decoded[3 * i + c]), uint8_t(255 - uint8_t(drawn[i]))) << i;
}

INSTANTIATE_TEST_SUITE_P(Encodings, RawMovies,
                         ::testing::Values("mf16.dcm", "mf16_rle.dcm", "mf16_jpll.dcm"));

TEST_F(DicomVideoPresentationTest, RawMovieRangesAndMissingDestination) {
    auto p = display(Fixtures::get().file("mf16.dcm"));
    ASSERT_TRUE(p);
    p->presentationToRawMovie(nullptr, nullptr);
    EXPECT_EQ(p->Error(), 80);

    testsupport::ScratchDir dir("dvp-range");
    Recorder recorder;
    recorder.attach(*p);
    FSSpec spec{};
    std::snprintf(spec.path, sizeof spec.path, "%s", dir.file("none.mov").c_str());
    // A range that starts past the end writes nothing and still reports its end.
    Kelvo_TimeRange past(1000, 48);
    p->presentationToRawMovie(&spec, &past);
    EXPECT_EQ(p->Error(), 0);
    ASSERT_EQ(recorder.count(kKelvoPresentationMovieProgress), 1);
    EXPECT_EQ(recorder.events.back().progress, 1.0);

    // Frames 2 to 4 of a range.
    if (!testsupport::haveCommand("ffprobe")) return;
    std::snprintf(spec.path, sizeof spec.path, "%s", dir.file("part.mov").c_str());
    Kelvo_TimeRange part(48, 72);
    p->presentationToRawMovie(&spec, &part);
    ASSERT_EQ(p->Error(), 0);
    const std::string report = run("ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                                   "stream=nb_read_frames -of default=noprint_wrappers=1 '" +
                                   dir.file("part.mov") + "' 2>&1");
    EXPECT_EQ(testsupport::keyValues(report)["nb_read_frames"], "3") << report;
}

// ---------------------------------------------------------------------------------------------
// Bad input

// Chunks that point past the file, chunks shorter than a frame, and frames the RLE decoder
// refuses: each gives its status and a blank frame, and the next good frame shows again.
TEST_F(DicomVideoPresentationTest, BadChunksGiveAStatusAndABlankFrame) {
    const std::string path = Fixtures::get().file("mf16.dcm");
    Parts parts = partsOf(path);
    ASSERT_TRUE(parts.imagePixel && parts.pixelData);
    const auto references = referenceSurfaces(path, "mf16", 6);
    const uint32_t frameBytes = 32 * 24 * 2;
    const int64_t fileSize = int64_t(std::filesystem::file_size(path));

    KelvoDicomPixelData table(*parts.pixelData);
    KelvoDicomPixelData bad(6, table.chunksEncodingInfo(), false, path.c_str(), true);
    for (uint32_t i = 0; i < 6; ++i)
        bad.setChunkInfo(table.chunkOffset(i), frameBytes, i);
    bad.setChunkInfo(fileSize - 100, frameBytes, 2);           // runs past the end of the file
    bad.setChunkInfo(table.chunkOffset(3), frameBytes / 2, 3); // shorter than a frame
    bad.setChunkInfo(fileSize + 4096, frameBytes, 4);          // wholly past the end
    Probe p(parts.imagePixel.get(), &bad);
    ASSERT_TRUE(p.qtObjIsValid());
    EXPECT_EQ(p.Error(), 0);
    for (int k : {2, 3, 4}) {
        p.PlayTime(k * 24);
        EXPECT_EQ(p.Error(), eofErr) << k;
        EXPECT_EQ(p.currentFrame(), uint32_t(k));
        EXPECT_TRUE(uniform(surface(p))) << k;
        // The blank frame's samples are 0: rescaled, -100.
        Kelvo_Point at(7, 7);
        EXPECT_EQ(p.rawValueAtPoint(at), -100.0);
        p.PlayTime(5 * 24);
        EXPECT_EQ(p.Error(), 0);
        EXPECT_EQ(surface(p), references[5]);
    }

    // An export stops at the bad frame with its status, and the frame shown comes back.
    Recorder recorder;
    recorder.attach(p);
    testsupport::ScratchDir out("dvp-bad-export");
    FSSpec spec{};
    std::snprintf(spec.path, sizeof spec.path, "%s", out.file("cut.mov").c_str());
    p.presentationToRawMovie(&spec, nullptr);
    EXPECT_EQ(p.Error(), eofErr);
    EXPECT_EQ(recorder.count(kKelvoPresentationMovieProgress), 2); // frames 0 and 1
    EXPECT_EQ(p.currentFrame(), 5u);
    EXPECT_EQ(surface(p), references[5]);

    // An RLE frame whose segments are garbage.
    testsupport::ScratchDir dir("dvp-bad");
    const std::string rle = dir.file("broken_rle.dcm");
    std::filesystem::copy_file(Fixtures::get().file("mf16_rle.dcm"), rle);
    Parts rleParts = partsOf(rle);
    ASSERT_TRUE(rleParts.pixelData);
    {
        FILE* f = std::fopen(rle.c_str(), "r+b");
        ASSERT_TRUE(f);
        const int64_t at = rleParts.pixelData->chunkOffset(1);
        fseeko(f, at, SEEK_SET);
        const std::vector<uint8_t> junk(rleParts.pixelData->chunkSize(1), 0x80); // a run of no bytes
        std::fwrite(junk.data(), 1, 64, f);                                      // the header
        std::fclose(f);
    }
    auto broken = display(rle);
    ASSERT_TRUE(broken);
    EXPECT_EQ(broken->Error(), 0);
    broken->PlayTime(24);
    EXPECT_NE(broken->Error(), 0);
    EXPECT_TRUE(uniform(surface(*broken)));
    broken->PlayTime(48);
    EXPECT_EQ(broken->Error(), 0);
    EXPECT_EQ(surface(*broken), references[2]);
}

// The file is cut short after the presentation opened it: frames are refused with a status
// and shown blank, never read from what is no longer there.
TEST_F(DicomVideoPresentationTest, AFileChangedOnDiskIsRefused) {
    testsupport::ScratchDir dir("dvp-changed");
    for (const char* name : {"mf16.dcm", "mf16_rle.dcm"}) {
        SCOPED_TRACE(name);
        const std::string path = dir.file(name);
        std::filesystem::copy_file(Fixtures::get().file(name), path);
        auto p = display(path);
        ASSERT_TRUE(p);
        p->PlayTime(24);
        ASSERT_EQ(p->Error(), 0);
        const auto size = std::filesystem::file_size(path);
        ASSERT_EQ(truncate(path.c_str(), off_t(size / 2)), 0);
        p->PlayTime(5 * 24);
        EXPECT_EQ(p->Error(), kKelvoElementUnreadable);
        EXPECT_TRUE(uniform(surface(*p)));
        // Put back at its size, it is still another file than the one opened.
        ASSERT_EQ(truncate(path.c_str(), off_t(size)), 0);
        p->PlayTime(4 * 24);
        EXPECT_EQ(p->Error(), kKelvoElementUnreadable);
    }
}

TEST_F(DicomVideoPresentationTest, WhatCannotBePresented) {
    KelvoDicomVideoPresentation empty;
    EXPECT_FALSE(empty.qtObjIsValid());
    EXPECT_EQ(empty.Time(kKelvoTimeDuration), 0);
    EXPECT_EQ(empty.SamplesCount(), 0);
    EXPECT_TRUE(empty.isDone());
    Kelvo_Point at(0, 0);
    EXPECT_EQ(empty.rawValueAtPoint(at), 0.0);
    Kelvo_Rect r(4, 4);
    EXPECT_EQ(empty.rawValuesStatistics(r), nullptr);
    Kelvo_OSType grey(40);
    EXPECT_EQ(empty.grabRawImage(nullptr, grey), nullptr);
    empty.Play(1.0);
    empty.PlayAction(kKelvoPlayActionForward);
    empty.Update();
    empty.idle();

    Parts parts = partsOf(Fixtures::get().file("mf16.dcm"));
    ASSERT_TRUE(parts.imagePixel && parts.pixelData);
    // Without a description or chunks.
    KelvoDicomVideoPresentation noPixel(nullptr, parts.pixelData.get());
    EXPECT_FALSE(noPixel.qtObjIsValid());
    EXPECT_NE(noPixel.Error(), 0);
    // A transfer syntax this system does not read.
    KelvoDicomPixelData deflated(6, DicmDict_XFerSyntaxByIndex(2), false,
                                 Fixtures::get().file("mf16.dcm").c_str());
    KelvoDicomVideoPresentation refused(parts.imagePixel.get(), &deflated);
    EXPECT_FALSE(refused.qtObjIsValid());
    EXPECT_EQ(refused.Error(), kDicomSyntaxNotReadable);
    // Video syntaxes marked for the platform's codecs, which have none for them: their compressed
    // bytes are not shown as pixels.
    for (uint32_t mpeg = 31; mpeg <= 34; ++mpeg) {
        KelvoDicomPixelData video(1, DicmDict_XFerSyntaxByIndex(mpeg), false,
                                  Fixtures::get().file("mf16.dcm").c_str());
        KelvoDicomVideoPresentation noCodec(parts.imagePixel.get(), &video);
        EXPECT_FALSE(noCodec.qtObjIsValid()) << mpeg;
        EXPECT_EQ(noCodec.Error(), -8961) << mpeg;
    }
    // A file that cannot be opened.
    KelvoDicomPixelData missing(6, parts.pixelData->chunksEncodingInfo(), false, "/nonexistent/x.dcm");
    KelvoDicomVideoPresentation gone(parts.imagePixel.get(), &missing);
    EXPECT_FALSE(gone.qtObjIsValid());
    EXPECT_EQ(gone.Error(), 100);
}

} // namespace
