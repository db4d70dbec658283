// What the pixel drawer tests share: descriptions built in memory, frames rendered from DICOM
// files through the reader's chunk table, dcmj2pnm's PGM/PPM pictures, and the pydicom peer that
// makes the test-time fixtures and picks the corpus images the drawer takes.
#pragma once

#include "KelvoDicomDataImagePixel.h"
#include "KelvoDicomDataTree.h"
#include "KelvoDicomPixelDataDrawer.h"
#include "KelvoVideo.h"
#include "PlatformMemory.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace drawertest {

// A grey description of width x height samples.
inline void describeGrey(KelvoDicomDataImagePixel& px, const char* photometric, uint16_t width,
                         uint16_t height, uint16_t allocated, uint16_t stored, bool isSigned) {
    px.PhotoInterpretation(photometric);
    px.setUSValueProperty(0x0011, width);
    px.setUSValueProperty(0x0010, height);
    px.setUSValueProperty(0x0100, allocated);
    px.setUSValueProperty(0x0101, stored);
    px.setUSValueProperty(0x0102, uint16_t(stored - 1));
    px.isTwoComplement(isSigned);
}

inline void setWindow(KelvoDicomDataImagePixel& px, const char* centre, const char* width) {
    px.setStringValueProperty(0x1050, centre);
    px.setStringValueProperty(0x1051, width);
}

// A palette of `entries` 16-bit entries, first mapped value 0; each table a function of the index.
inline void putPalette(KelvoDicomDataImagePixel& px, uint16_t entries, uint16_t (*red)(int),
                       uint16_t (*green)(int), uint16_t (*blue)(int)) {
    px.PhotoInterpretation("PALETTE COLOR");
    KelvoDicomDataNode descriptor("US");
    for (uint16_t v : {entries, uint16_t(0), uint16_t(16)})
        descriptor.numberSet(0, &v);
    for (uint16_t e : {0x1101, 0x1102, 0x1103})
        px.setProperty(e, "US", descriptor);
    uint16_t (*tables[3])(int) = {red, green, blue};
    for (int t = 0; t < 3; ++t) {
        std::vector<uint16_t> words(entries);
        for (int i = 0; i < entries; ++i)
            words[size_t(i)] = tables[t](i);
        KelvoDicomDataNode node("OW");
        Handle h = nullptr;
        PtrToHand(words.data(), &h, Size(words.size() * 2));
        node.Value(h, 0);
        DisposeHandle(h);
        px.setProperty(uint16_t(0x1201 + t), "OW", node);
    }
}

// The drawn picture: width x height pixels of A, R, G, B.
struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> argb;
    uint8_t channel(int32_t x, int32_t y, int c) const {
        return argb[(size_t(y) * size_t(width) + size_t(x)) * 4 + size_t(c)];
    }
};

inline Picture picture(KelvoDicomPixelDataDrawer& drawer) {
    Picture p;
    Kelvo_QDGWorldBuffer* buffer = drawer.qtPixelBuffer();
    if (!buffer) return p;
    p.width = buffer->width();
    p.height = buffer->height();
    const auto* base = reinterpret_cast<const uint8_t*>(buffer->baseAddress());
    for (int32_t y = 0; y < p.height; ++y)
        p.argb.insert(p.argb.end(), base + size_t(y) * size_t(buffer->rowBytes()),
                      base + size_t(y) * size_t(buffer->rowBytes()) + size_t(p.width) * 4);
    return p;
}

// A DICOM file opened as the presentation opens it: the image pixel view with the syntax of the
// pixel data, and the first frame as stored.
struct FileFrame {
    std::unique_ptr<KelvoDicomDataTree> tree;
    std::unique_ptr<KelvoDicomDataImagePixel> imagePixel;
    std::vector<uint8_t> stored;

    // Without `required`, a file that does not open as an image leaves the frame empty quietly.
    explicit FileFrame(const std::string& path, bool required = true) {
        tree.reset(KelvoDicomDataTree::openFile(path.c_str()));
        if (!tree || !tree->qtObjIsValid()) {
            if (required) ADD_FAILURE() << path << " does not open";
            return;
        }
        Kelvo_QTObj* group = tree->getObjValue(0x0028);
        if (!group || !group->isA("KelvoDicomDataImagePixel")) {
            delete group;
            if (required) ADD_FAILURE() << path << " has no image pixel group";
            return;
        }
        imagePixel.reset(static_cast<KelvoDicomDataImagePixel*>(group));
        // Frames the reader makes no chunk table for (1-bit ones) have no stored frame.
        KelvoDicomDataChunks* chunks = tree->pixelData();
        if (!chunks) return;
        imagePixel->pixelEncoding() = chunks->chunksEncodingInfo();
        EXPECT_TRUE(chunks->readChunk(0, stored)) << path;
    }
    // A working copy of the frame, of the description's frame size at least.
    std::vector<uint8_t> working() {
        std::vector<uint8_t> w = stored;
        if (imagePixel && w.size() < imagePixel->size()) w.resize(imagePixel->size(), 0);
        return w;
    }
};

// A PGM (P5) or PPM (P6) picture of 8-bit samples.
struct Pnm {
    int32_t width = 0;
    int32_t height = 0;
    int32_t components = 0;
    std::vector<uint8_t> samples;
};

inline Pnm readPnm(const std::string& path) {
    Pnm p;
    const std::string bytes = testsupport::readFile(path);
    size_t at = 0;
    auto token = [&]() {
        for (;;) {
            while (at < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[at])))
                ++at;
            if (at < bytes.size() && bytes[at] == '#') {
                while (at < bytes.size() && bytes[at] != '\n')
                    ++at;
                continue;
            }
            break;
        }
        const size_t start = at;
        while (at < bytes.size() && !std::isspace(static_cast<unsigned char>(bytes[at])))
            ++at;
        return bytes.substr(start, at - start);
    };
    const std::string magic = token();
    if (magic != "P5" && magic != "P6") return p;
    p.components = magic == "P5" ? 1 : 3;
    p.width = std::atoi(token().c_str());
    p.height = std::atoi(token().c_str());
    const int maxval = std::atoi(token().c_str());
    ++at; // the single white space before the samples
    const size_t n = size_t(p.width) * size_t(p.height) * size_t(p.components);
    if (maxval != 255 || at + n > bytes.size()) return Pnm{};
    p.samples.assign(bytes.begin() + long(at), bytes.begin() + long(at + n));
    return p;
}

// dcmj2pnm's picture of the first frame, windowed with (centre, width) when `windowed`; overlays
// are left out, as the drawer draws none.
inline Pnm dcmj2pnm(const testsupport::ScratchDir& dir, const std::string& file, bool windowed, double centre,
                    double width) {
    const std::string out = dir.file("dcmtk.pnm");
    std::remove(out.c_str());
    char window[128] = "";
    if (windowed) std::snprintf(window, sizeof window, "+Ww %.17g %.17g", centre, width);
    int status = -1;
    const std::string said = testsupport::run(
        "dcmj2pnm -O " + std::string(window) + " '" + file + "' '" + out + "' 2>&1", &status);
    EXPECT_EQ(status, 0) << file << ": " << said;
    return readPnm(out);
}

} // namespace drawertest
