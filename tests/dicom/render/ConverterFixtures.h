// What the converter tests share: the pydicom peer, dcmdump and dciodvfy checks, movies made
// with the movie layer and source trees from pydicom's corpus.
#pragma once

#include "KelvoDicomConverter.h"
#include "KelvoDicomDataImagePixel.h"
#include "KelvoDicomDataSetViews.h"
#include "KelvoDicomDataTree.h"
#include "KelvoMovie.h"
#include "PlatformFixed.h"
#include "PlatformMemory.h"
#include "PlatformMovies.h"
#include "PythonPeer.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace convertertest {

using testsupport::ScratchDir;

// Reads a written file; prints its attributes and stores every frame's samples (raw bytes of the
// pixel array) in OUT. Encapsulated pixel data is walked item by item first: the length of the
// offset table, then those of the other items.
inline const char* kPeer = R"PY(
import sys, struct, pydicom, numpy as np
path, out = sys.argv[1], sys.argv[2]
ds = pydicom.dcmread(path, force=True)
if 'TransferSyntaxUID' not in getattr(ds, 'file_meta', {}):
    ds.file_meta = pydicom.dataset.FileMetaDataset()
    ds.file_meta.TransferSyntaxUID = pydicom.uid.ExplicitVRLittleEndian
def show(k):
    v = ds.get(k)
    return '-' if v is None else str(v.value if hasattr(v, 'value') else v)
print('frames', show('NumberOfFrames'))
print('fip', '-' if 'FrameIncrementPointer' not in ds else '%08X' % int(ds.FrameIncrementPointer))
print('frametime', show('FrameTime'))
print('rep', show('RepresentativeFrameNumber'))
print('wc', show('WindowCenter'), 'ww', show('WindowWidth'))
print('pixels', show('PhotometricInterpretation'), show('SamplesPerPixel'), show('BitsAllocated'),
      show('BitsStored'), show('HighBit'))
if ds.file_meta.TransferSyntaxUID.is_compressed:
    data, pos, lengths = ds.PixelData, 0, []
    while pos + 8 <= len(data):
        g, e, n = struct.unpack('<HHI', data[pos:pos + 8])
        assert (g, e) == (0xFFFE, 0xE000), 'not an item'
        lengths.append(n)
        pos += 8 + n
    assert pos == len(data), 'items overrun the pixel data'
    print('offsets', lengths[0])
    print('items', ' '.join(str(n) for n in lengths[1:]))
if 'PixelRepresentation' not in ds: ds.PixelRepresentation = 0
a = ds.pixel_array
if str(ds.PhotometricInterpretation).startswith('YBR'):
    from pydicom.pixel_data_handlers.util import convert_color_space
    a = convert_color_space(a, ds.PhotometricInterpretation, 'RGB', per_frame=True)
n = int(ds.get('NumberOfFrames', 1))
if n == 1: a = a[None]
a = a.astype(a.dtype.newbyteorder('='))
open(out, 'wb').write(np.ascontiguousarray(a).tobytes())
print('shape', 'x'.join(str(s) for s in a.shape), a.dtype)
)PY";

struct Peer {
    std::string said;
    std::string samples;
};

inline Peer readBack(const ScratchDir& dir, const std::string& file) {
    const std::string script = testsupport::writePeerScript(dir, kPeer);
    int status = -1;
    Peer p;
    p.said =
        testsupport::run("/usr/bin/python3 " + script + " '" + file + "' '" + file + ".raw' 2>&1", &status);
    EXPECT_EQ(status, 0) << p.said;
    p.samples = testsupport::readFile(file + ".raw");
    return p;
}

inline std::string dcmdump(const std::string& file) {
    int status = -1;
    const std::string out = testsupport::run("dcmdump -dc +E '" + file + "' 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out.find("E: "), std::string::npos) << out;
    EXPECT_EQ(out.find("W: "), std::string::npos) << out;
    return out;
}

// The pixel of frame `f` at (x, y) of the test movies: A, R, G, B.
inline uint32_t pixelOf(int f, int x, int y) {
    return 0xFF000000u | uint32_t((20 * f + 2 * x) & 0xFF) << 16 | uint32_t((3 * y + 3 * f) & 0xFF) << 8 |
           uint32_t((100 - 9 * f + x * y / 32) & 0xFF);
}
inline uint8_t greyOf(uint32_t p) {
    return uint8_t((117 * (p & 0xFF) + 601 * ((p >> 8) & 0xFF) + 306 * ((p >> 16) & 0xFF)) >> 10);
}

// A movie (scale 600) of `frames` raw 32-bit frames of width x height, 60 units each; disposed of
// with the fixture.
struct TestMovie {
    Movie movie = NewMovie(0);
    std::unique_ptr<Kelvo_Movie> wrapper;
    TestMovie(int frames, int16_t width, int16_t height) {
        Track track = NewMovieTrack(movie, Long2Fix(width), Long2Fix(height), 0);
        Media media = NewTrackMedia(track, VideoMediaType, 600, nullptr, 0);
        Handle h = NewHandleClear(sizeof(ImageDescription));
        auto* d = reinterpret_cast<ImageDescription*>(*h);
        d->idSize = sizeof(ImageDescription);
        d->cType = FOUR_CHAR_CODE("raw ");
        d->width = width;
        d->height = height;
        d->depth = 32;
        d->hRes = d->vRes = Long2Fix(72);
        d->frameCount = 1;
        for (int f = 0; f < frames; ++f) {
            std::vector<uint8_t> bytes;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    const uint32_t p = pixelOf(f, x, y);
                    for (int s = 24; s >= 0; s -= 8)
                        bytes.push_back(uint8_t(p >> s));
                }
            EXPECT_EQ(AddMediaSample2(media, bytes.data(), ByteCount(bytes.size()), 60, 0,
                                      reinterpret_cast<SampleDescriptionHandle>(h), 1, f == 0 ? 0 : 1,
                                      nullptr),
                      noErr);
        }
        DisposeHandle(h);
        if (frames > 0) {
            EXPECT_EQ(InsertMediaIntoTrack(track, 0, 0, TimeValue(60 * frames), fixed1), noErr);
        }
        wrapper = std::make_unique<Kelvo_Movie>(movie, false);
    }
    ~TestMovie() {
        wrapper.reset();
        DisposeMovie(movie);
    }
};

inline std::string pydicomFile(const char* name) {
    return std::string(testsupport::pydicomTestFiles()) + "/" + name;
}

// A source tree from the corpus with its group 0028 changed by `edit` and, when given, its
// transfer syntax replaced.
inline std::unique_ptr<KelvoDicomDataTree> sourceTree(const char* name, const char* syntax = nullptr,
                                                      void (*edit)(KelvoDicomDataImagePixel&) = nullptr) {
    std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(pydicomFile(name).c_str()));
    EXPECT_TRUE(tree && tree->qtObjIsValid());
    if (!tree) return tree;
    if (syntax) {
        KelvoDicomDataHeader* header = tree->Header();
        header->XFerSyntax(syntax);
        tree->Header(header);
        delete header;
    }
    if (edit) {
        Kelvo_QTObj* group = tree->getObjValue(0x0028);
        EXPECT_TRUE(group && group->isA("KelvoDicomDataImagePixel"));
        edit(*static_cast<KelvoDicomDataImagePixel*>(group));
        tree->setObjValue(0x0028, group);
        delete group;
    }
    return tree;
}

// The errors dciodvfy finds in a written file, one a line, leaving out the enumerated values that
// the source's single-frame MR class asks for (one 16-bit grey sample, one frame): the frames
// written change them on purpose. Empty, with a note, when dciodvfy is not installed.
inline std::string dciodvfyErrors(const std::string& file) {
    if (testsupport::run("command -v dciodvfy").empty()) {
        std::printf("dciodvfy is not installed: %s was not checked with it\n", file.c_str());
        return std::string();
    }
    const std::string verdict = testsupport::run("dciodvfy '" + file + "' 2>&1");
    std::string errors;
    for (size_t at = 0; at < verdict.size();) {
        size_t end = verdict.find('\n', at);
        if (end == std::string::npos) end = verdict.size();
        const std::string l = verdict.substr(at, end - at);
        if (l.rfind("Error", 0) == 0 && l.find("Unrecognized enumerated value") == std::string::npos)
            errors += l + "\n";
        at = end + 1;
    }
    return errors;
}

// What the notifier was told: the values, and the code of each call.
inline std::vector<double> gProgress;
inline std::vector<int32_t> gProgressCodes;
inline void record(double value, void*, int32_t code) {
    gProgress.push_back(value);
    gProgressCodes.push_back(code);
}

// Converts into `path` through fopen "wb", as the host does; answers the status.
inline int32_t convertTo(KelvoDicomConverter& converter, const std::string& path) {
    Kelvo_ProgressNotifier notifier(record, nullptr);
    converter.Callback(&notifier);
    gProgress.clear();
    gProgressCodes.clear();
    FILE* file = std::fopen(path.c_str(), "wb");
    converter.convert(file);
    if (file) std::fclose(file);
    return converter.Error();
}

inline std::string line(const std::string& said, const std::string& key) {
    const size_t at = said.find(key + " ");
    return at == std::string::npos ? std::string() : said.substr(at, said.find('\n', at) - at);
}

} // namespace convertertest
