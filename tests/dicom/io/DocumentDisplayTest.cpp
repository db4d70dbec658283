// What a tree and a document present of their file: the icons of its icon image sequences (made
// by pydicom at test time, pydicom's corpus has none) and the whole pixel data, for corpus files
// with and without pixel data.
#include "KelvoDicomDataTree.h"
#include "KelvoDicomImageIcon.h"
#include "KelvoDicomVideoPresentation.h"
#include "PlatformErrors.h"
#include "PlatformGWorlds.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using testsupport::run;

const char* const kMakeScript = R"PY(
import sys, os, warnings
warnings.filterwarnings('ignore')
import numpy as np
import pydicom
from pydicom.dataset import Dataset
from pydicom.sequence import Sequence

out = sys.argv[1]
corpus = sys.argv[2]
rng = np.random.default_rng(11)

def icon(rows, cols):
    it = Dataset()
    it.Rows = rows
    it.Columns = cols
    it.SamplesPerPixel = 1
    it.PhotometricInterpretation = 'MONOCHROME2'
    it.BitsAllocated = 8
    it.BitsStored = 8
    it.HighBit = 7
    it.PixelRepresentation = 0
    it.PixelData = rng.integers(0, 256, size=rows * cols, dtype=np.uint8).tobytes()
    return it

# CT_small with two icons: one in an item of a sequence that comes first in the file, one in
# the data set itself.
ds = pydicom.dcmread(os.path.join(corpus, 'CT_small.dcm'))
ds.IconImageSequence = Sequence([icon(12, 20)])
holder = Dataset()
holder.IconImageSequence = Sequence([icon(9, 7)])
ds.ReferencedImageSequence = Sequence([holder])
ds.save_as(os.path.join(out, 'icons.dcm'), write_like_original=False)
for n, arr in enumerate((holder.IconImageSequence[0], ds.IconImageSequence[0])):
    with open(os.path.join(out, 'icon%d.grey' % n), 'wb') as f:
        f.write(arr.PixelData)

# Encapsulated pixel data without an Image Pixel group.
ds = pydicom.dcmread(os.path.join(corpus, 'MR_small_RLE.dcm'))
for elem in list(ds):
    if elem.tag.group == 0x0028:
        del ds[elem.tag]
ds.save_as(os.path.join(out, 'no0028.dcm'), write_like_original=False)
)PY";

class Fixtures {
  public:
    static Fixtures& get() {
        static Fixtures f;
        return f;
    }
    std::string file(const std::string& name) const { return dir_.file(name); }
    const std::string& error() const { return error_; }

  private:
    Fixtures() : dir_("display-fixtures") {
        testsupport::writeFile(dir_.file("make.py"), kMakeScript);
        int status = 0;
        std::string log = run("/usr/bin/python3 '" + dir_.file("make.py") + "' '" + dir_.path().string() +
                                  "' '" + testsupport::pydicomTestFiles() + "' 2>&1",
                              &status);
        if (status != 0) error_ = "pydicom could not make the fixtures: " + log;
    }
    testsupport::ScratchDir dir_;
    std::string error_;
};

std::string corpus(const std::string& name) {
    return std::string(testsupport::pydicomTestFiles()) + "/" + name;
}

std::unique_ptr<KelvoDicomDataTree> open(const std::string& path) {
    return std::unique_ptr<KelvoDicomDataTree>(KelvoDicomDataTree::openFile(path.c_str()));
}

KelvoDicomDocument& document(KelvoDicomDataTree& tree) {
    EXPECT_TRUE(tree.isA("KelvoDicomDocument"));
    return static_cast<KelvoDicomDocument&>(tree);
}

class DocumentDisplay : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!Fixtures::get().error().empty()) GTEST_SKIP() << Fixtures::get().error();
    }
};

// Each icon is a one-frame presentation of its own size whose raw values are its pixels.
TEST_F(DocumentDisplay, EachIconIsPresentedWithItsPixels) {
    auto tree = open(Fixtures::get().file("icons.dcm"));
    ASSERT_TRUE(tree);
    ASSERT_EQ(tree->thumbnailsCount(), 2);
    std::unique_ptr<Kelvo_QTObjectsList> icons(tree->thumbnails());
    ASSERT_TRUE(icons);
    EXPECT_EQ(icons->count(), 2);

    struct Expected {
        int rows, columns;
    };
    // In file order: (0008,1140) holds the first, (0088,0200) the second.
    const Expected sizes[] = {{9, 7}, {12, 20}};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        std::unique_ptr<KelvoDicomVideoPresentation> p(tree->thumbnailDisplay(i));
        ASSERT_TRUE(p);
        ASSERT_TRUE(p->qtObjIsValid());
        EXPECT_EQ(p->Error(), 0);
        EXPECT_EQ(p->SamplesCount(), 1);
        EXPECT_EQ(p->Time(kKelvoTimeDuration), 600);
        EXPECT_TRUE(p->isDone());
        EXPECT_FALSE(p->isPlaying());
        ASSERT_NE(p->dataSourceGraphics(), nullptr);
        Rect bounds{};
        GetPortBounds(p->dataSourceGraphics(), &bounds);
        EXPECT_EQ(bounds.right - bounds.left, sizes[i].columns);
        EXPECT_EQ(bounds.bottom - bounds.top, sizes[i].rows);
        const std::string grey =
            testsupport::readFile(Fixtures::get().file("icon" + std::to_string(i) + ".grey"));
        ASSERT_EQ(grey.size(), size_t(sizes[i].rows * sizes[i].columns));
        for (int y = 0; y < sizes[i].rows; ++y)
            for (int x = 0; x < sizes[i].columns; ++x) {
                Kelvo_Point at(x, y);
                ASSERT_EQ(p->rawValueAtPoint(at), double(uint8_t(grey[size_t(y * sizes[i].columns + x)])));
            }
    }
    EXPECT_EQ(tree->Error(), 0);

    // No such icon.
    EXPECT_EQ(tree->thumbnailDisplay(2), nullptr);
    EXPECT_EQ(tree->Error(), paramErr);
    EXPECT_EQ(tree->thumbnailDisplay(-1), nullptr);
    EXPECT_EQ(tree->Error(), paramErr);

    // The same document's pixel data.
    std::unique_ptr<KelvoDicomVideoPresentation> data(document(*tree).dataDisplay());
    ASSERT_TRUE(data);
    EXPECT_EQ(data->SamplesCount(), 1);
}

// CT_small has neither icons nor a second frame; its presentation answers the rescaled values.
TEST_F(DocumentDisplay, AFileWithoutIconsShowsItsPixelData) {
    auto tree = open(corpus("CT_small.dcm"));
    ASSERT_TRUE(tree);
    EXPECT_EQ(tree->thumbnails(), nullptr);
    EXPECT_EQ(tree->thumbnail(0), nullptr);
    EXPECT_EQ(tree->thumbnailDisplay(0), nullptr);
    EXPECT_EQ(tree->Error(), 0);

    std::unique_ptr<KelvoDicomVideoPresentation> p(document(*tree).dataDisplay());
    ASSERT_TRUE(p);
    EXPECT_EQ(p->Error(), 0);
    EXPECT_EQ(p->SamplesCount(), 1);
    EXPECT_EQ(p->Time(kKelvoTimeDuration), 600);
    // pydicom's modality values at a few pixels.
    const std::string values =
        run("/usr/bin/python3 -c \"import pydicom,sys; ds=pydicom.dcmread(sys.argv[1]); "
            "a=ds.pixel_array.astype(int)*int(ds.RescaleSlope)+int(ds.RescaleIntercept); "
            "print(' '.join(str(a[y,x]) for y,x in ((0,0),(10,20),(63,63),(32,5))))\" '" +
            corpus("CT_small.dcm") + "'");
    std::vector<double> expected;
    for (size_t at = 0; at < values.size();) {
        char* end = nullptr;
        const double v = std::strtod(values.c_str() + at, &end);
        if (end == values.c_str() + at) break;
        expected.push_back(v);
        at = size_t(end - values.c_str());
    }
    ASSERT_EQ(expected.size(), 4u) << values;
    const int points[4][2] = {{0, 0}, {20, 10}, {63, 63}, {5, 32}};
    for (int i = 0; i < 4; ++i) {
        Kelvo_Point at(points[i][0], points[i][1]);
        EXPECT_EQ(p->rawValueAtPoint(at), expected[size_t(i)]) << i;
    }
}

TEST_F(DocumentDisplay, DocumentsWithNothingToShow) {
    // No pixel data at all.
    auto plan = open(corpus("rtplan.dcm"));
    ASSERT_TRUE(plan);
    EXPECT_EQ(document(*plan).dataDisplay(), nullptr);
    EXPECT_EQ(plan->Error(), memFullErr);

    // Pixel data without the Image Pixel group: the presentation has no description.
    auto bare = open(Fixtures::get().file("no0028.dcm"));
    ASSERT_TRUE(bare);
    EXPECT_EQ(document(*bare).dataDisplay(), nullptr);
    EXPECT_EQ(bare->Error(), kKelvoBadArgumentObject);

    // Frames of 32-bit samples: the drawer cannot draw them, and says so.
    auto dose = open(corpus("rtdose.dcm"));
    ASSERT_TRUE(dose);
    EXPECT_EQ(document(*dose).dataDisplay(), nullptr);
    EXPECT_NE(dose->Error(), 0);
}

} // namespace
