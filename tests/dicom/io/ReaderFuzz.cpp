// Untrusted files into the reader. The input is written to a scratch file and opened as a
// document; a read that fails reports one of the reading statuses of DICOM streams, never a code
// of the atom engine or the C library. A file that reads without error is dumped to text and XML
// and every chunk of its pixel data is read back, both from the table the reader built and from
// one rebuilt from the media-samples atoms. Chunks must lie inside the file, and a chunk that
// reads must give no more bytes than its table says (exactly as many for native data).
#include "KelvoDicomDataImagePixel.h"
#include "FuzzScratch.h"
#include "KelvoDicomDataTree.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Scratch {
    FuzzScratch dir{"reader-fuzz"};
    std::string input = dir.file("in.dcm"), text = dir.file("dump.txt"), xml = dir.file("dump.xml");
};

Scratch& scratch() {
    static Scratch s;
    return s;
}

void readChunks(KelvoDicomDataChunks& chunks, int64_t fileSize) {
    const bool encapsulated = chunks.chunksEncodingInfo() != nullptr &&
                              (chunks.chunksEncodingInfo()->flags & kDicmXferEncapsulated) != 0;
    std::vector<uint8_t> bytes;
    for (uint32_t i = 0; i < chunks.count(); ++i) {
        const int64_t offset = chunks.chunkOffset(i);
        const uint32_t size = chunks.chunkSize(i);
        if (offset < 0 || int64_t(size) > fileSize - offset) std::abort(); // a chunk outside the file
        if (!chunks.readChunk(i, bytes)) continue;
        if (encapsulated ? bytes.size() > size : bytes.size() != size) std::abort();
    }
    // Past the end: the sentinels, never a read.
    if (chunks.chunkOffset(chunks.count()) != -1 || chunks.chunkSize(chunks.count()) != 0) std::abort();
    if (chunks.readChunk(chunks.count(), bytes) || !bytes.empty()) std::abort();
}

// The statuses a read may end with: the streams' own, a bad argument and a lack of memory.
bool isReadingStatus(int32_t status) {
    for (int32_t s : {0, -50, -108, 79, 80, 100, 111, 200, 300, 301, 302, 303, 304})
        if (status == s) return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    Scratch& s = scratch();
    if (!FuzzScratch::write(s.input, data, size)) return 0;

    std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(s.input.c_str()));
    if (!tree) return 0;
    if (!isReadingStatus(tree->readError())) std::abort();
    if (tree->readError() != 0) return 0;
    tree->toTextFile(s.text.c_str());
    tree->toXmlFile(s.xml.c_str());
    if (KelvoDicomDataChunks* chunks = tree->pixelData()) readChunks(*chunks, int64_t(size));
    if (tree->isA("KelvoDicomDocument")) {
        auto* document = static_cast<KelvoDicomDocument*>(tree.get());
        std::unique_ptr<KelvoDicomPixelData> copy(document->mediaDataSamplesInfo());
        if (copy) readChunks(*copy, int64_t(size));
        // The table rebuilt from the atoms: one chunk per fragment, or frames of the image's size.
        if (QTAtom media = document->hasMedia()) {
            Kelvo_AtomCoord element(document->Dictionary(), media);
            uint32_t frameSize = 0;
            if (Kelvo_QTObj* view = document->getObjValue(0x0028)) {
                if (view->isA("KelvoDicomDataImagePixel"))
                    frameSize = static_cast<KelvoDicomDataImagePixel*>(view)->size();
                delete view;
            }
            KelvoDicomPixelData fromAtoms(element, frameSize);
            readChunks(fromAtoms, int64_t(size));
        }
    }
    return 0;
}
