// Image icons of real files made by pydicom at test time: grey and palette icons equal pydicom's
// pixels (and its palette colours), an icon set by the host and written by our writer reads back
// equal in pydicom, and icons nothing can be made of leave a status.
#include "KelvoDicomDataSetViews.h"
#include "KelvoDicomDataTree.h"
#include "KelvoDicomImageIcon.h"
#include "PlatformErrors.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using testsupport::run;

const char* const kMakeScript = R"PY(
import sys, os, warnings
warnings.filterwarnings('ignore')
import numpy as np
import pydicom
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.sequence import Sequence
from pydicom.uid import ExplicitVRLittleEndian, ImplicitVRLittleEndian
from pydicom.pixel_data_handlers.util import apply_color_lut

out = sys.argv[1]
rng = np.random.default_rng(7)

def icon_item(rows, cols, photometric='MONOCHROME2', spp=1, bits=8, pixels=None, drop=()):
    it = Dataset()
    if 'rows' not in drop: it.Rows = rows
    if 'cols' not in drop: it.Columns = cols
    it.SamplesPerPixel = spp
    it.PhotometricInterpretation = photometric
    if spp > 1: it.PlanarConfiguration = 0
    it.BitsAllocated = bits
    it.BitsStored = bits
    it.HighBit = bits - 1
    it.PixelRepresentation = 0
    if pixels is None:
        pixels = rng.integers(0, 256, size=rows * cols * spp * bits // 8, dtype=np.uint8).tobytes()
    it.add_new(0x7FE00010, 'OB', pixels)
    return it

def write(name, items, syntax=ExplicitVRLittleEndian):
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = '1.2.840.10008.5.1.4.1.1.7'
    meta.MediaStorageSOPInstanceUID = '1.2.826.0.1.3680043.2.1143.9.%d' % len(name)
    meta.TransferSyntaxUID = syntax
    ds = Dataset()
    ds.file_meta = meta
    ds.is_little_endian = True
    ds.is_implicit_VR = syntax == ImplicitVRLittleEndian
    ds.SOPClassUID = meta.MediaStorageSOPClassUID
    ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
    ds.Modality = 'OT'
    ds.PatientName = 'ICON^TEST'
    ds.IconImageSequence = Sequence(items)
    ds.SamplesPerPixel = 1
    ds.PhotometricInterpretation = 'MONOCHROME2'
    ds.Rows = 8
    ds.Columns = 8
    ds.BitsAllocated = 8
    ds.BitsStored = 8
    ds.HighBit = 7
    ds.PixelRepresentation = 0
    ds.PixelData = bytes(range(64))
    ds.save_as(os.path.join(out, name), write_like_original=False)

def reference(name):
    # pydicom's pixels of the icon read back from the file: the grey samples, and for a palette
    # the colours through its tables (16-bit).
    ds = pydicom.dcmread(os.path.join(out, name))
    merged = Dataset()
    for item in ds.IconImageSequence:
        for elem in item:
            merged[elem.tag] = elem
    merged.file_meta = ds.file_meta
    merged.is_little_endian = ds.is_little_endian
    merged.is_implicit_VR = ds.is_implicit_VR
    arr = merged.pixel_array
    with open(os.path.join(out, name + '.grey'), 'wb') as f:
        f.write(np.ascontiguousarray(arr, dtype=np.uint8).tobytes())
    if merged.PhotometricInterpretation == 'PALETTE COLOR':
        rgb = apply_color_lut(arr, merged)
        with open(os.path.join(out, name + '.rgb16'), 'wb') as f:
            f.write(np.ascontiguousarray(rgb, dtype='<u2').tobytes())

write('grey.dcm', [icon_item(20, 30)])
write('grey_implicit.dcm', [icon_item(24, 16)], ImplicitVRLittleEndian)
write('grey_odd.dcm', [icon_item(15, 15)])
both = icon_item(12, 10)
first = Dataset()
for elem in both:
    if elem.tag.group == 0x0028:
        first[elem.tag] = elem
second = Dataset()
second.add_new(0x7FE00010, 'OB', both.PixelData)
write('split.dcm', [first, second])

pal = icon_item(16, 24, 'PALETTE COLOR')
entries = 256
for colour, (a, b) in zip(('Red', 'Green', 'Blue'), ((0, 65535), (65535, 0), (1000, 40000))):
    tag = pydicom.datadict.tag_for_keyword(colour + 'PaletteColorLookupTableDescriptor')
    pal.add_new(tag, 'US', [entries, 0, 16])
    table = np.linspace(a, b, entries).astype('<u2')
    table[7] = 12345
    pal.add_new(pydicom.datadict.tag_for_keyword(colour + 'PaletteColorLookupTableData'), 'OW', table.tobytes())
write('palette.dcm', [pal])

for name in ('grey.dcm', 'grey_implicit.dcm', 'grey_odd.dcm', 'split.dcm', 'palette.dcm'):
    reference(name)

# Icons nothing can be made of.
write('no_rows.dcm', [icon_item(10, 10, drop=('rows',))])
write('no_columns.dcm', [icon_item(10, 10, drop=('cols',))])
write('short.dcm', [icon_item(10, 10, pixels=bytes(98))])
write('rgb.dcm', [icon_item(10, 10, 'RGB', spp=3)])
write('grey16.dcm', [icon_item(10, 10, bits=16)])
write('no_pixels.dcm', [first])
)PY";

// The fixtures of this process, made once.
class Fixtures {
  public:
    static Fixtures& get() {
        static Fixtures f;
        return f;
    }
    std::string file(const std::string& name) const { return dir_.file(name); }
    const std::string& error() const { return error_; }

  private:
    Fixtures() : dir_("icon-fixtures") {
        testsupport::writeFile(dir_.file("make.py"), kMakeScript);
        int status = 0;
        std::string log = run(
            "/usr/bin/python3 '" + dir_.file("make.py") + "' '" + dir_.path().string() + "' 2>&1", &status);
        if (status != 0) error_ = "pydicom could not make the icons: " + log;
    }
    testsupport::ScratchDir dir_;
    std::string error_;
};

std::unique_ptr<KelvoDicomDataTree> open(const std::string& name) {
    return std::unique_ptr<KelvoDicomDataTree>(
        KelvoDicomDataTree::openFile(Fixtures::get().file(name).c_str()));
}

std::vector<uint8_t> pixels(const Kelvo_Image& image) {
    auto* p = static_cast<const uint8_t*>(image.buffer());
    return std::vector<uint8_t>(p, p + size_t(image.width()) * image.height());
}

std::vector<uint8_t> bytesOf(const std::string& path) {
    std::string s = testsupport::readFile(path);
    return std::vector<uint8_t>(s.begin(), s.end());
}

struct GreyCase {
    const char* file;
    uint32_t columns, rows;
};

class IconOfRealFile : public ::testing::TestWithParam<GreyCase> {};

TEST_P(IconOfRealFile, PixelsEqualPydicoms) {
    ASSERT_EQ(Fixtures::get().error(), "");
    const GreyCase c = GetParam();
    auto tree = open(c.file);
    ASSERT_TRUE(tree);
    ASSERT_EQ(tree->Error(), 0);
    ASSERT_EQ(tree->thumbnailsCount(), 1);
    std::unique_ptr<KelvoDicomImageIcon> icon(tree->thumbnail(0));
    ASSERT_TRUE(icon) << tree->Error();
    EXPECT_EQ(icon->Error(), 0);
    EXPECT_EQ(icon->icon()->width(), c.columns);
    EXPECT_EQ(icon->icon()->height(), c.rows);
    EXPECT_EQ(pixels(*icon->icon()), bytesOf(Fixtures::get().file(std::string(c.file) + ".grey")));
    EXPECT_EQ(icon->iconDescription()->pixelEncoding(), DicmDict_XFerSyntaxByIndex(1));
    std::unique_ptr<Kelvo_QTObjectsList> list(tree->thumbnails());
    ASSERT_TRUE(list);
    EXPECT_EQ(list->count(), 1);
}

// Explicit and implicit VR, an odd pixel count stored with its padding byte, and a sequence
// whose first item holds the description and whose second the pixels.
INSTANTIATE_TEST_SUITE_P(Files, IconOfRealFile,
                         ::testing::Values(GreyCase{"grey.dcm", 30, 20},
                                           GreyCase{"grey_implicit.dcm", 16, 24},
                                           GreyCase{"grey_odd.dcm", 15, 15}, GreyCase{"split.dcm", 10, 12}));

TEST(ImageIcon, PaletteIconColoursEqualPydicomsLookUp) {
    ASSERT_EQ(Fixtures::get().error(), "");
    auto tree = open("palette.dcm");
    ASSERT_TRUE(tree);
    std::unique_ptr<KelvoDicomImageIcon> icon(tree->thumbnail(0));
    ASSERT_TRUE(icon) << tree->Error();
    std::vector<uint8_t> indices = pixels(*icon->icon());
    EXPECT_EQ(indices, bytesOf(Fixtures::get().file("palette.dcm.grey")));
    EXPECT_STREQ(icon->iconDescription()->PhotoInterpretation(), "PALETTE COLOR");
    std::unique_ptr<KelvoDicomPixelLut> palette(icon->iconDescription()->colorPalette());
    ASSERT_TRUE(palette);
    std::vector<uint8_t> rgb(indices.size() * 3);
    palette->applyLutsToDataARGB(indices.data(), rgb.data(), uint32_t(indices.size()));
    std::vector<uint8_t> wide = bytesOf(Fixtures::get().file("palette.dcm.rgb16"));
    ASSERT_EQ(wide.size(), rgb.size() * 2);
    for (size_t i = 0; i < rgb.size(); ++i) {
        uint16_t v = uint16_t(wide[2 * i] | (wide[2 * i + 1] << 8));
        ASSERT_EQ(rgb[i], uint8_t(float(v) / 65535.0 * 255.0)) << "sample " << i;
    }
}

TEST(ImageIcon, NewIconWrittenByOurWriterReadsBackInPydicom) {
    ASSERT_EQ(Fixtures::get().error(), "");
    auto tree = open("grey.dcm");
    ASSERT_TRUE(tree);
    std::unique_ptr<KelvoDicomImageIcon> icon(tree->thumbnail(0));
    ASSERT_TRUE(icon);
    std::vector<uint8_t> pattern(40 * 25);
    for (size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = uint8_t(i * 7 + i / 40);
    Kelvo_Image8BitGrey image(Kelvo_Size(40, 25), pattern.data());
    icon->icon(&image);
    ASSERT_EQ(icon->Error(), 0);
    EXPECT_EQ(icon->iconDescription()->getUSValueProperty(0x0011), 40);
    EXPECT_EQ(icon->iconDescription()->getUSValueProperty(0x0010), 25);
    std::unique_ptr<KelvoDicomDataSet> set(icon->iconDataSet());
    ASSERT_TRUE(set) << icon->Error();
    tree->setObjValue(0x0088, set.get());
    ASSERT_EQ(tree->Error(), 0);
    const std::string out = Fixtures::get().file("written.dcm");
    tree->toDicomFile(out.c_str(), 0);
    ASSERT_EQ(tree->Error(), 0);
    int status = 0;
    std::string said =
        run("/usr/bin/python3 -c \"import pydicom,sys; ds=pydicom.dcmread(sys.argv[1]); "
            "it=ds.IconImageSequence[0]; "
            "sys.stdout.write('%d %d %s\\n' % (it.Rows, it.Columns, it.PhotometricInterpretation)); "
            "open(sys.argv[1]+'.px','wb').write(it.PixelData)\" '" +
                out + "' 2>&1",
            &status);
    ASSERT_EQ(status, 0) << said;
    EXPECT_EQ(said, "25 40 MONOCHROME2\n");
    EXPECT_EQ(bytesOf(out + ".px"), pattern);
    // And our own reader finds the same icon.
    auto back = open("written.dcm");
    ASSERT_TRUE(back);
    std::unique_ptr<KelvoDicomImageIcon> again(back->thumbnail(0));
    ASSERT_TRUE(again) << back->Error();
    EXPECT_EQ(pixels(*again->icon()), pattern);
}

// A default icon given new pixels: its description is whole (Samples per Pixel and Pixel
// Representation too), so that pydicom decodes the written icon and dciodvfy finds nothing
// wanting in the Icon Image Sequence.
TEST(ImageIcon, DefaultIconWrittenIsAWholeIconImage) {
    ASSERT_EQ(Fixtures::get().error(), "");
    KelvoDicomImageIcon icon;
    ASSERT_TRUE(icon.qtObjIsValid());
    std::vector<uint8_t> pattern(64 * 32);
    for (size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = uint8_t(i * 5 + i / 64);
    Kelvo_Image8BitGrey image(Kelvo_Size(64, 32), pattern.data());
    icon.icon(&image);
    ASSERT_EQ(icon.Error(), 0);
    std::unique_ptr<KelvoDicomDataSet> set(icon.iconDataSet());
    ASSERT_TRUE(set) << icon.Error();
    auto tree = open("grey.dcm");
    ASSERT_TRUE(tree);
    tree->setObjValue(0x0088, set.get());
    ASSERT_EQ(tree->Error(), 0);
    const std::string out = Fixtures::get().file("default-icon.dcm");
    tree->toDicomFile(out.c_str(), 0);
    ASSERT_EQ(tree->Error(), 0);
    int status = 0;
    const std::string said = run(
        "/usr/bin/python3 -c \"import pydicom,sys; ds=pydicom.dcmread(sys.argv[1]); "
        "it=ds.IconImageSequence[0]; it.file_meta=ds.file_meta; a=it.pixel_array; "
        "sys.stdout.write('%d %d %d %s %s\\n' % (it.PixelRepresentation, it.SamplesPerPixel, it.BitsStored, "
        "a.shape, a.dtype)); open(sys.argv[1]+'.px','wb').write(a.tobytes())\" '" +
            out + "' 2>&1",
        &status);
    ASSERT_EQ(status, 0) << said;
    EXPECT_EQ(said, "0 1 8 (32, 64) uint8\n");
    EXPECT_EQ(bytesOf(out + ".px"), pattern);
    if (!testsupport::haveCommand("dciodvfy")) {
        std::printf("dciodvfy is not installed: the icon was not verified\n");
        return;
    }
    const std::string report = run("dciodvfy '" + out + "' 2>&1", &status);
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);)
        if (line.find("Icon") != std::string::npos &&
            (line.rfind("Error", 0) == 0 || line.rfind("Warning", 0) == 0))
            ADD_FAILURE() << line;
}

struct BadCase {
    const char* file;
    int32_t status;
};

class BadIcon : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadIcon, LeavesAStatusAndNoIcon) {
    ASSERT_EQ(Fixtures::get().error(), "");
    const BadCase c = GetParam();
    auto tree = open(c.file);
    ASSERT_TRUE(tree);
    ASSERT_EQ(tree->Error(), 0);
    ASSERT_EQ(tree->thumbnailsCount(), 1);
    EXPECT_EQ(tree->thumbnail(0), nullptr);
    EXPECT_EQ(tree->Error(), c.status);
    EXPECT_EQ(tree->thumbnail(1), nullptr); // no such entry
    EXPECT_EQ(tree->Error(), paramErr);
}

INSTANTIATE_TEST_SUITE_P(Files, BadIcon,
                         ::testing::Values(BadCase{"no_rows.dcm", paramErr},
                                           BadCase{"no_columns.dcm", paramErr},
                                           BadCase{"short.dcm", paramErr}, BadCase{"rgb.dcm", paramErr},
                                           BadCase{"grey16.dcm", paramErr},
                                           BadCase{"no_pixels.dcm", kKelvoNotFound}));

TEST(ImageIcon, DefaultDescriptionAndSamplesTable) {
    KelvoDicomImageIcon icon;
    ASSERT_TRUE(icon.qtObjIsValid());
    EXPECT_EQ(icon.icon()->width(), 128u);
    EXPECT_EQ(icon.icon()->height(), 128u);
    EXPECT_EQ(icon.iconDescription()->getUSValueProperty(0x0010), 128);

    // Too large an edge and a colour model an icon cannot have are not taken.
    KelvoDicomDataImagePixel big;
    big.setUSValueProperty(0x0010, 512);
    big.setUSValueProperty(0x0011, 64);
    big.PhotoInterpretation("RGB");
    icon.iconDescription(&big);
    EXPECT_EQ(icon.icon()->width(), 64u);
    EXPECT_EQ(icon.icon()->height(), 128u);
    EXPECT_STREQ(icon.iconDescription()->PhotoInterpretation(), "MONOCHROME2");

    std::unique_ptr<KelvoDicomPixelData> table(icon.iconSamplesTable());
    ASSERT_TRUE(table);
    EXPECT_EQ(table->count(), 1u);
    EXPECT_EQ(table->chunkSize(0), 64u * 128u);
    EXPECT_EQ(table->chunkOffset(0), 0);
    EXPECT_EQ(table->chunksEncoding(), 1u);
    EXPECT_STREQ(table->pathToFile(), "");

    std::unique_ptr<Kelvo_QTObj> copy(icon.clone());
    ASSERT_TRUE(copy);
    EXPECT_EQ(pixels(*static_cast<KelvoDicomImageIcon*>(copy.get())->icon()), pixels(*icon.icon()));
}

TEST(ImageIcon, WrongSourcesGiveTheirStatus) {
    KelvoDicomDataSet other(0x0010);
    KelvoDicomImageIcon fromOtherGroup(&other);
    EXPECT_FALSE(fromOtherGroup.qtObjIsValid());
    EXPECT_EQ(fromOtherGroup.Error(), paramErr);
    KelvoDicomDataSet empty(0x0088);
    KelvoDicomImageIcon withoutSequence(&empty);
    EXPECT_EQ(withoutSequence.Error(), paramErr);
    KelvoDicomImageIcon fromRoot(other.Dictionary(), other.getRootOfItems());
    EXPECT_EQ(fromRoot.Error(), paramErr);

    EXPECT_EQ(withoutSequence.iconSamplesTable(), nullptr);
    EXPECT_EQ(withoutSequence.Error(), memFullErr);
    KelvoDicomImageIcon good;
    good.copy(withoutSequence);
    EXPECT_EQ(good.Error(), kKelvoBadArgumentObject);
    good.copy(other);
    EXPECT_EQ(good.Error(), kKelvoWrongType);
    EXPECT_TRUE(good.qtObjIsValid());
}

} // namespace
