// The pixel-data chunk tables of real multi-frame files: native, RLE and lossless JPEG, from
// pydicom's corpus and made by DCMTK at test time. Every chunk's offset and size equal the frame
// positions that pydicom finds in the same file, and reading a chunk gives exactly the frame bytes
// pydicom extracts. The table rebuilt from the media-samples atoms lists one chunk per fragment
// (encapsulated) or the same frames (native).
#include "KelvoDicomDataImagePixel.h"
#include "KelvoDicomDataTree.h"
#include "PlatformErrors.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

namespace {

using testsupport::run;

// pydicom's view of each file's pixel data, in a folder of the file's name: reference.txt lists its
// fragments (value position and length) and its frames (position of the first value byte and the
// span to the end of the last fragment); frame-<i>.bin holds the bytes of frame i.
const char* const kReferenceScript = R"PY(
import os, sys
import pydicom
from pydicom.encaps import generate_pixel_data_fragment, generate_pixel_data_frame, get_frame_offsets
from pydicom.filebase import DicomFileLike

def describe(path, out):
    os.makedirs(out)
    with open(os.path.join(out, 'reference.txt'), 'w') as listing:
        for line in spans(path, out):
            print(line, file=listing)

def spans(path, out):
    lines = []
    ds = pydicom.dcmread(path)
    raw = ds.get_item(0x7FE00010)
    declared = int(ds.get('NumberOfFrames', 1) or 1)
    lines.append('syntax %s' % ds.file_meta.TransferSyntaxUID)
    lines.append('bigendian %d' % (0 if raw.is_little_endian else 1))
    frames = []
    if raw.length == 0xFFFFFFFF:
        fragments = []
        with open(path, 'rb') as f:
            f.seek(raw.value_tell)
            fp = DicomFileLike(f)
            fp.is_little_endian = True
            has_bot, bot = get_frame_offsets(fp)
            first_item = fp.tell()
            for fragment in generate_pixel_data_fragment(fp):
                fragments.append((fp.tell() - len(fragment), len(fragment)))
        for position, length in fragments:
            lines.append('fragment %d %d' % (position, length))
        def span(parts):
            return (parts[0][0], parts[-1][0] + parts[-1][1] - parts[0][0])
        if has_bot:
            bounds = bot + [1 << 62]
            for i in range(len(bot)):
                frames.append(span([p for p in fragments if bounds[i] <= p[0] - 8 - first_item < bounds[i + 1]]))
        elif declared == 1:
            frames.append(span(fragments))
        else:
            with open(path, 'rb') as f:
                def opens(p):
                    f.seek(p[0])
                    return f.read(2) in (b'\xff\xd8', b'\xff\x4f')
                starts = [i for i, p in enumerate(fragments) if opens(p)]
            if len(fragments) > declared and len(starts) == declared and starts[0] == 0:
                ends = starts[1:] + [len(fragments)]
                frames = [span(fragments[a:b]) for a, b in zip(starts, ends)]
            else:
                frames = fragments[:declared]
        data = list(generate_pixel_data_frame(ds.PixelData, declared))
    else:
        size = ds.Rows * ds.Columns * ds.SamplesPerPixel * ds.BitsAllocated // 8
        frames = [(raw.value_tell + i * size, size) for i in range(raw.length // size)]
        data = [ds.PixelData[i * size:(i + 1) * size] for i in range(len(frames))]
    for i, (position, length) in enumerate(frames):
        lines.append('frame %d %d' % (position, length))
        with open(os.path.join(out, 'frame-%d.bin' % i), 'wb') as f:
            f.write(data[i])
    return lines

for name, path in (a.split('=', 1) for a in sys.argv[2:]):
    describe(path, os.path.join(sys.argv[1], name))
)PY";

// Uncompressed multi-frame sources for DCMTK to compress: a gradient with noise, so that lossless
// JPEG frames come to several kilobytes and split into fragments when asked.
const char* const kSourceScript = R"PY(
import sys
import numpy as np
import pydicom
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.uid import ExplicitVRLittleEndian

def write(path, frames, rows, cols, spp, bits, stored, seed):
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:rows, 0:cols]
    planes = []
    for f in range(frames):
        for s in range(spp):
            noise = rng.integers(0, 48, size=(rows, cols))
            planes.append((x * 37 + y * 11 + f * 101 + s * 53 + noise) % (1 << stored))
    dtype = np.uint16 if bits == 16 else np.uint8
    pixels = np.stack(planes).reshape(frames, spp, rows, cols).transpose(0, 2, 3, 1).astype(dtype)
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = '1.2.840.10008.5.1.4.1.1.7.2' if bits == 16 else '1.2.840.10008.5.1.4.1.1.7.4'
    meta.MediaStorageSOPInstanceUID = '1.2.826.0.1.3680043.2.1143.7.%d' % seed
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds = Dataset()
    ds.file_meta = meta
    ds.is_little_endian = True
    ds.is_implicit_VR = False
    ds.SOPClassUID = meta.MediaStorageSOPClassUID
    ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
    ds.Modality = 'OT'
    ds.PatientName = 'CHUNKS^TEST'
    ds.SamplesPerPixel = spp
    ds.PhotometricInterpretation = 'RGB' if spp == 3 else 'MONOCHROME2'
    if spp == 3:
        ds.PlanarConfiguration = 0
    ds.NumberOfFrames = frames
    ds.Rows = rows
    ds.Columns = cols
    ds.BitsAllocated = bits
    ds.BitsStored = stored
    ds.HighBit = stored - 1
    ds.PixelRepresentation = 0
    ds.PixelData = pixels.tobytes()
    ds.save_as(path, write_like_original=False)

out = sys.argv[1]
write(out + '/mono16.dcm', 4, 64, 64, 1, 16, 12, 1)
write(out + '/rgb8.dcm', 3, 24, 32, 3, 8, 8, 2)
write(out + '/mono8.dcm', 5, 32, 40, 1, 8, 8, 3)
write(out + '/single16.dcm', 1, 64, 64, 1, 16, 16, 4)
)PY";

struct Span {
    int64_t offset;
    uint32_t size;
};

struct Reference {
    std::string syntax;
    bool bigEndian = false;
    std::vector<Span> fragments, frames;
};

// The files of the cases, as named in the test list: "made/x" is made with DCMTK, others are
// pydicom's.
const char* const kFiles[] = {
    // pydicom's corpus: RLE of 8, 16 and 32 bits, native implicit and big endian, lossless and
    // baseline JPEG of one frame.
    "SC_rgb_rle_2frame.dcm", "SC_rgb_rle_16bit_2frame.dcm", "SC_rgb_rle_32bit_2frame.dcm", "rtdose.dcm",
    "rtdose_expb.dcm", "rtdose_rle.dcm", "SC_rgb_jpeg_gdcm.dcm", "SC_rgb_jpeg_dcmtk.dcm", "MR_small_RLE.dcm",
    // DCMTK's: with and without a basic offset table, frames over several fragments, and a single
    // frame of several fragments with no table.
    "made/mono16.dcm", "made/rgb8.dcm", "made/mono16_rle.dcm", "made/rgb8_rle.dcm",
    "made/mono8_rle_nobot.dcm", "made/mono16_sv1.dcm", "made/rgb8_sv1.dcm", "made/mono8_sv1_nobot.dcm",
    "made/mono16_sv1_fragments.dcm", "made/mono16_sv1_fragments_nobot.dcm",
    "made/single16_sv1_fragments_nobot.dcm", "made/mono16_big.dcm", "made/rgb8_implicit.dcm"};

std::string caseName(const std::string& file) {
    std::string name = file;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

// The fixtures live beside the test program, made once and shared by every run and process: the
// DCMTK-made files and pydicom's reference for every case. The folder's name carries a digest of
// the scripts, so changing them makes a new one; it is built under a private name and renamed
// into place, so that an interrupted run leaves no half of it.
class Fixtures {
  public:
    static Fixtures& get() {
        static Fixtures f;
        return f;
    }
    std::string file(const std::string& name) const { return pathOf((root_ / "made").string(), name); }
    std::filesystem::path referenceDir(const std::string& name) const {
        return root_ / "ref" / caseName(name);
    }
    const std::string& error() const { return error_; }

  private:
    static std::string pathOf(const std::string& made, const std::string& name) {
        if (name.rfind("made/", 0) == 0) return made + "/" + name.substr(5);
        return std::string(testsupport::pydicomTestFiles()) + "/" + name;
    }

    Fixtures() {
        const std::string scripts = std::string(kSourceScript) + kReferenceScript + kCommands;
        char digest[20];
        std::snprintf(digest, sizeof digest, "%016zx", std::hash<std::string>()(scripts));
        const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe");
        root_ = exe.parent_path() / ("chunk-fixtures-" + std::string(digest));
        if (std::filesystem::exists(root_ / "complete")) return;
        // One process makes them while the others wait.
        const int lock = open((root_.string() + ".lock").c_str(), O_RDWR | O_CREAT, 0644);
        if (lock >= 0) flock(lock, LOCK_EX);
        if (!std::filesystem::exists(root_ / "complete")) build();
        if (lock >= 0) close(lock);
    }

    void build() {
        const std::filesystem::path work = root_.string() + ".tmp-" + std::to_string(getpid());
        std::error_code ec;
        std::filesystem::remove_all(work, ec);
        std::filesystem::create_directories(work / "made", ec);
        error_ = ec ? "cannot make " + work.string() : make(work);
        if (error_.empty()) {
            testsupport::writeFile((work / "complete").string(), "");
            std::filesystem::rename(work, root_, ec);
            if (ec) error_ = "cannot move the fixtures into " + root_.string();
        }
        std::filesystem::remove_all(work, ec);
    }

    static std::string make(const std::filesystem::path& work) {
        const std::string made = (work / "made").string();
        testsupport::writeFile((work / "sources.py").string(), kSourceScript);
        testsupport::writeFile((work / "reference.py").string(), kReferenceScript);
        int status = 0;
        std::string log =
            run("/usr/bin/python3 '" + (work / "sources.py").string() + "' '" + made + "' 2>&1", &status);
        if (status != 0) return "pydicom could not write the sources: " + log;
        std::istringstream commands(kCommands);
        std::string command;
        while (std::getline(commands, command)) {
            if (command.empty()) continue;
            log = run("cd '" + made + "' && " + command + " 2>&1", &status);
            if (status != 0) return command + ": " + log;
        }
        std::string arguments;
        for (const char* f : kFiles) {
            arguments += " '" + caseName(f) + "=" + pathOf(made, f) + "'";
        }
        log = run("/usr/bin/python3 '" + (work / "reference.py").string() + "' '" + (work / "ref").string() +
                      "'" + arguments + " 2>&1",
                  &status);
        if (status != 0) return "pydicom could not describe the files: " + log;
        return "";
    }

    static constexpr const char* kCommands =
        "dcmcrle mono16.dcm mono16_rle.dcm\n"
        "dcmcrle rgb8.dcm rgb8_rle.dcm\n"
        "dcmcrle -ot mono8.dcm mono8_rle_nobot.dcm\n"
        "dcmcjpeg +e1 mono16.dcm mono16_sv1.dcm\n"
        "dcmcjpeg +e1 rgb8.dcm rgb8_sv1.dcm\n"
        "dcmcjpeg +e1 -ot mono8.dcm mono8_sv1_nobot.dcm\n"
        "dcmcjpeg +e1 +fs 1 mono16.dcm mono16_sv1_fragments.dcm\n"
        "dcmcjpeg +e1 +fs 1 -ot mono16.dcm mono16_sv1_fragments_nobot.dcm\n"
        "dcmcjpeg +e1 +fs 1 -ot single16.dcm single16_sv1_fragments_nobot.dcm\n"
        "dcmconv +tb mono16.dcm mono16_big.dcm\n"
        "dcmconv +ti rgb8.dcm rgb8_implicit.dcm\n";
    std::filesystem::path root_;
    std::string error_;
};

Reference readReference(const std::filesystem::path& dir) {
    Reference ref;
    std::istringstream in(testsupport::readFile((dir / "reference.txt").string()));
    std::string word;
    while (in >> word) {
        if (word == "syntax") {
            in >> ref.syntax;
        } else if (word == "bigendian") {
            in >> ref.bigEndian;
        } else if (word == "fragment" || word == "frame") {
            Span s{};
            in >> s.offset >> s.size;
            (word == "frame" ? ref.frames : ref.fragments).push_back(s);
        }
    }
    return ref;
}

class ChunkTables : public ::testing::TestWithParam<const char*> {};

void expectSpans(KelvoDicomDataChunks& chunks, const std::vector<Span>& spans, const char* what) {
    ASSERT_EQ(chunks.count(), spans.size()) << what;
    for (uint32_t i = 0; i < chunks.count(); ++i) {
        EXPECT_EQ(chunks.chunkOffset(i), spans[i].offset) << what << " chunk " << i;
        EXPECT_EQ(chunks.chunkSize(i), spans[i].size) << what << " chunk " << i;
        EXPECT_TRUE(chunks.chunkEnabled(i)) << what << " chunk " << i;
    }
    EXPECT_EQ(chunks.Error(), 0) << what;
}

TEST_P(ChunkTables, ListFramesAsPydicomFindsThem) {
    const Fixtures& fixtures = Fixtures::get();
    ASSERT_EQ(fixtures.error(), "");
    const std::string file = fixtures.file(GetParam());
    const std::filesystem::path dir = fixtures.referenceDir(GetParam());
    const Reference ref = readReference(dir);
    ASSERT_FALSE(ref.frames.empty());
    const bool encapsulated = !ref.fragments.empty();
    if (std::strstr(GetParam(), "fragments")) {
        ASSERT_GT(ref.fragments.size(), ref.frames.size()); // the case is what its name says
    }

    std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(file.c_str()));
    ASSERT_NE(tree, nullptr);
    ASSERT_EQ(tree->readError(), 0);
    KelvoDicomDataChunks* chunks = tree->pixelData();
    ASSERT_NE(chunks, nullptr);
    expectSpans(*chunks, ref.frames, "reader");
    EXPECT_STREQ(chunks->pathToFile(), file.c_str());
    EXPECT_STREQ(chunks->chunksEncodingUID(), ref.syntax.c_str());
    EXPECT_EQ(chunks->needDataSwapping(), ref.bigEndian);
    EXPECT_EQ(chunks->isVariableSizeLength(), encapsulated && ref.frames.size() >= 2);

    // Each chunk reads as exactly the frame's bytes, item headers between fragments left out.
    std::vector<uint8_t> bytes;
    for (uint32_t i = 0; i < chunks->count() && i < ref.frames.size(); ++i) {
        ASSERT_TRUE(chunks->readChunk(i, bytes)) << "chunk " << i;
        const std::string expected =
            testsupport::readFile((dir / ("frame-" + std::to_string(i) + ".bin")).string());
        ASSERT_FALSE(expected.empty());
        EXPECT_TRUE(std::string(bytes.begin(), bytes.end()) == expected)
            << "chunk " << i << ": " << bytes.size() << " bytes, pydicom's frame " << expected.size();
    }

    // The document hands out a copy; the atoms rebuild a table of fragments or of the same frames.
    ASSERT_TRUE(tree->isA("KelvoDicomDocument"));
    auto* document = static_cast<KelvoDicomDocument*>(tree.get());
    std::unique_ptr<KelvoDicomPixelData> copy(document->mediaDataSamplesInfo());
    ASSERT_NE(copy, nullptr);
    expectSpans(*copy, ref.frames, "copy");
    QTAtom media = document->hasMedia();
    ASSERT_NE(media, 0);
    Kelvo_AtomCoord element(document->Dictionary(), media);
    std::unique_ptr<Kelvo_QTObj> view(document->getObjValue(0x0028));
    ASSERT_TRUE(view && view->isA("KelvoDicomDataImagePixel"));
    const uint32_t frameSize = encapsulated ? 0 : static_cast<KelvoDicomDataImagePixel*>(view.get())->size();
    KelvoDicomPixelData fromAtoms(element, frameSize);
    expectSpans(fromAtoms, encapsulated ? ref.fragments : ref.frames, "atoms");
    EXPECT_STREQ(fromAtoms.chunksEncodingUID(), ref.syntax.c_str());
    EXPECT_EQ(fromAtoms.needDataSwapping(), ref.bigEndian);
}

INSTANTIATE_TEST_SUITE_P(Files, ChunkTables, ::testing::ValuesIn(kFiles),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return caseName(info.param);
                         });

// rtdose_rle.dcm with the value of its meta group length overwritten, as the fuzzer found it (the
// kept input chunk-table-fragments-under-native-syntax holds the same bytes): (0002,0001) then
// reads as (00FF,0001), the meta group ends before it, and the data set, transfer syntax
// included, is read as explicit VR little endian, a native syntax. The pixel data are still RLE
// fragments, one a frame: each chunk keeps its own fragment's size, lies inside the file and
// reads as the same bytes as in the sound file.
TEST(ChunkTable, FragmentsUnderANativeSyntaxKeepTheirOwnSizes) {
    const std::string sound = std::string(testsupport::pydicomTestFiles()) + "/rtdose_rle.dcm";
    std::string bytes = testsupport::readFile(sound);
    ASSERT_GT(bytes.size(), 145u);
    ASSERT_EQ(bytes.substr(132, 8), std::string("\x02\x00\x00\x00UL\x04\x00", 8));
    bytes.replace(141, 4, "\xFF\xFF\xFF\xFF");
    const std::string file = testsupport::derivedFixtures("chunk-tables") + "/meta_length_overwritten.dcm";
    testsupport::writeFile(file, bytes);

    std::unique_ptr<KelvoDicomDataTree> reference(KelvoDicomDataTree::openFile(sound.c_str()));
    std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(file.c_str()));
    ASSERT_TRUE(reference && tree);
    ASSERT_EQ(tree->readError(), 0);
    KelvoDicomDataChunks* expected = reference->pixelData();
    ASSERT_TRUE(expected && expected->count() == 15u);
    auto* document = static_cast<KelvoDicomDocument*>(tree.get());
    std::unique_ptr<KelvoDicomPixelData> copy(document->mediaDataSamplesInfo());
    ASSERT_TRUE(tree->pixelData() && copy);
    for (KelvoDicomDataChunks* chunks : {tree->pixelData(), static_cast<KelvoDicomDataChunks*>(copy.get())}) {
        EXPECT_STREQ(chunks->chunksEncodingUID(), "1.2.840.10008.1.2.1");
        ASSERT_EQ(chunks->count(), expected->count());
        std::vector<uint8_t> ours, theirs;
        for (uint32_t i = 0; i < chunks->count(); ++i) {
            EXPECT_EQ(chunks->chunkOffset(i), expected->chunkOffset(i)) << "chunk " << i;
            EXPECT_EQ(chunks->chunkSize(i), expected->chunkSize(i)) << "chunk " << i;
            EXPECT_LE(chunks->chunkOffset(i) + int64_t(chunks->chunkSize(i)), int64_t(bytes.size()));
            ASSERT_TRUE(chunks->readChunk(i, ours)) << "chunk " << i;
            ASSERT_TRUE(expected->readChunk(i, theirs)) << "chunk " << i;
            EXPECT_TRUE(ours == theirs) << "chunk " << i;
        }
    }
}

// A table that lists a chunk past the end of its file (one built over a file that was cut since)
// refuses that frame with 303; the frames around it still read.
TEST(ChunkTable, AChunkPastTheFileIsRefusedAndTheOthersRead) {
    const std::string file = std::string(testsupport::pydicomTestFiles()) + "/rtdose_rle.dcm";
    std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(file.c_str()));
    ASSERT_TRUE(tree && tree->pixelData());
    KelvoDicomDataChunks& sound = *tree->pixelData();
    const int64_t fileSize = int64_t(std::filesystem::file_size(file));
    KelvoDicomPixelData chunks(3, DicmDict_XFerSyntax("1.2.840.10008.1.2.5"), false, file.c_str());
    chunks.setChunkInfo(sound.chunkOffset(0), sound.chunkSize(0), 0);
    chunks.setChunkInfo(fileSize - 8, 64, 1);
    chunks.setChunkInfo(sound.chunkOffset(2), sound.chunkSize(2), 2);
    std::vector<uint8_t> bytes, expected;
    EXPECT_TRUE(chunks.readChunk(0, bytes));
    EXPECT_FALSE(chunks.readChunk(1, bytes));
    EXPECT_EQ(chunks.Error(), kKelvoElementUnreadable);
    EXPECT_TRUE(bytes.empty());
    ASSERT_TRUE(chunks.readChunk(2, bytes));
    ASSERT_TRUE(sound.readChunk(2, expected));
    EXPECT_TRUE(bytes == expected);
}

TEST(ChunkTable, BadIndexesAndRangesOfFlags) {
    KelvoDicomPixelData chunks(5, DicmDict_XFerSyntax("1.2.840.10008.1.2.5"), false, "/nowhere/frames.dcm");
    for (uint32_t i = 0; i < 5; ++i)
        chunks.setChunkInfo(int64_t(100 + 10 * i), 8, i);
    ASSERT_EQ(chunks.count(), 5u);
    EXPECT_EQ(chunks.Error(), 0);

    EXPECT_EQ(chunks.chunkOffset(5), -1);
    EXPECT_EQ(chunks.Error(), paramErr);
    EXPECT_EQ(chunks.chunkSize(5), 0u);
    EXPECT_FALSE(chunks.chunkEnabled(5));
    int64_t offset = 0;
    uint32_t size = 1;
    chunks.chunkInfo(offset, size, 7);
    EXPECT_EQ(offset, -1);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(chunks.chunkOffset(4), 140); // good indexes still answer
    EXPECT_EQ(chunks.chunkSize(4), 8u);

    // Disabling 100 chunks from index 2 stops at the end of the table.
    chunks.chunkEnabled(0, 2, 100);
    const bool expected[] = {true, true, false, false, false};
    for (uint32_t i = 0; i < 5; ++i)
        EXPECT_EQ(chunks.chunkEnabled(i), expected[i]) << "chunk " << i;
    chunks.chunkEnabled(1, 4, 0xFFFFFFFFu); // a count that would wrap past the end
    EXPECT_TRUE(chunks.chunkEnabled(4));
    EXPECT_FALSE(chunks.chunkEnabled(3));
    chunks.chunkEnabled(1, 5, 1); // first index past the end: nothing
    EXPECT_FALSE(chunks.chunkEnabled(2));

    // Copies keep the flags; a chunk whose file is missing does not read.
    KelvoDicomPixelData copy(chunks);
    EXPECT_FALSE(copy.chunkEnabled(2));
    EXPECT_TRUE(copy.chunkEnabled(4));
    std::vector<uint8_t> bytes{1, 2, 3};
    EXPECT_FALSE(copy.readChunk(0, bytes));
    EXPECT_TRUE(bytes.empty());
    EXPECT_FALSE(copy.readChunk(5, bytes));

    // An empty table answers with the sentinels.
    KelvoDicomPixelData empty;
    EXPECT_EQ(empty.chunkOffset(0), -1);
    EXPECT_EQ(empty.chunkSize(0), 0u);
    EXPECT_FALSE(empty.chunkEnabled(0));
}

} // namespace
