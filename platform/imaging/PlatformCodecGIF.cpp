// The GIF engine, over giflib (reading only). giflib reports failures by return values and
// allocates with malloc, so no jump crosses our frames; its reader is given our buffer.
//
// A GIF file is a logical screen with a sequence of images on it; the engine decodes the first
// image, composed on the screen: the picture has the screen's size, the image lands at its
// offset (the parts of it that fall outside the screen are dropped) and the rest of the screen
// is filled as follows (a screen larger than what the rest of the stream could fill with one
// image is refused). When the graphics control extension before the image names a
// transparent index, the picture is RGBA: pixels of that index, and the screen around the image,
// are transparent (alpha 0, their colour that of the transparent entry, or black when the colour
// map has no such entry). Otherwise the picture is RGB and the screen around the image takes the
// background colour of the global colour map (black without one). Indexes beyond the colour map
// are black.
#include "PlatformCodecEnginesInternal.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace platform::codec::detail {

namespace {

struct MemoryReader {
    const uint8_t* data;
    size_t size;
    size_t position;
};

int readFromMemory(GifFileType* gif, GifByteType* out, int count) {
    auto* reader = static_cast<MemoryReader*>(gif->UserData);
    if (count <= 0) return 0;
    const size_t wanted = std::min(size_t(count), reader->size - reader->position);
    if (wanted) std::memcpy(out, reader->data + reader->position, wanted);
    reader->position += wanted;
    return int(wanted);
}

// giflib's decoder, closed with the frame that opened it.
struct Session {
    GifFileType* gif = nullptr;
    MemoryReader reader{};
    Session() = default;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session() {
        if (gif) {
            int ignored = 0;
            DGifCloseFile(gif, &ignored);
        }
    }
    size_t remaining() const { return reader.size - reader.position; }
};

// What precedes the first image's pixels: the screen, the image's placement and colours.
struct Header {
    int32_t screenWidth = 0;
    int32_t screenHeight = 0;
    int transparentIndex = NO_TRANSPARENT_COLOR;
    int background = 0;
};

// No LZW code of at most 12 bits yields more than 4096 pixels, and a code takes more than a
// byte's worth of the stream only when it is shorter: a byte of the stream never holds more than
// 4096 pixels.
constexpr uint64_t kMostPixelsAByte = 4096;

// Opens the stream and reads its records up to and including the first image descriptor.
// Extensions other than graphics control are skipped.
OSErr readHeader(Session& s, const uint8_t* data, size_t size, Header& h) {
    if (!data || size < 13) return codecBadDataErr;
    if (std::memcmp(data, "GIF87a", 6) != 0 && std::memcmp(data, "GIF89a", 6) != 0) return codecBadDataErr;
    s.reader = MemoryReader{data, size, 0};
    int error = 0;
    s.gif = DGifOpen(&s.reader, readFromMemory, &error);
    if (!s.gif) return error == D_GIF_ERR_NOT_ENOUGH_MEM ? memFullErr : codecBadDataErr;
    h.screenWidth = s.gif->SWidth;
    h.screenHeight = s.gif->SHeight;
    h.background = s.gif->SBackGroundColor;
    if (h.screenWidth <= 0 || h.screenHeight <= 0) return codecBadDataErr;
    if (!pictureFits(h.screenWidth, h.screenHeight, 4, 8)) return codecSizeErr;

    for (;;) {
        GifRecordType record = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(s.gif, &record) == GIF_ERROR) return codecBadDataErr;
        if (record == IMAGE_DESC_RECORD_TYPE) break;
        if (record != EXTENSION_RECORD_TYPE) return codecBadDataErr; // the trailer before any image
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(s.gif, &code, &block) == GIF_ERROR) return codecBadDataErr;
        if (code == GRAPHICS_EXT_FUNC_CODE && block) {
            GraphicsControlBlock control;
            if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_ERROR) return codecBadDataErr;
            h.transparentIndex = control.TransparentColor;
        }
        while (block) {
            if (DGifGetExtensionNext(s.gif, &block) == GIF_ERROR) return codecBadDataErr;
        }
    }
    if (DGifGetImageDesc(s.gif) == GIF_ERROR) return codecBadDataErr;
    const GifImageDesc& image = s.gif->Image;
    if (image.Width <= 0 || image.Height <= 0) return codecBadDataErr;
    if (!image.ColorMap && !s.gif->SColorMap) return codecBadDataErr;
    // The image's pixels must fit in what is left of the stream, and so must the screen's: a
    // screen larger than any image the stream could fill is refused before it is allocated.
    const uint64_t most = (uint64_t(s.remaining()) + 1) * kMostPixelsAByte;
    if (uint64_t(image.Width) * uint64_t(image.Height) > most) return codecBadDataErr;
    if (uint64_t(h.screenWidth) * uint64_t(h.screenHeight) > most) return codecBadDataErr;
    return noErr;
}

void describe(const Header& h, Picture& p) {
    p.width = h.screenWidth;
    p.height = h.screenHeight;
    p.components = h.transparentIndex == NO_TRANSPARENT_COLOR ? 3 : 4;
    p.bitsPerSample = 8;
    p.precision = 8;
}

// The colour of an entry, black when the map has none.
void colourOf(const ColorMapObject* map, int index, uint8_t* rgb) {
    if (map && index >= 0 && index < map->ColorCount) {
        const GifColorType& c = map->Colors[index];
        rgb[0] = c.Red, rgb[1] = c.Green, rgb[2] = c.Blue;
    } else {
        rgb[0] = rgb[1] = rgb[2] = 0;
    }
}

} // namespace

OSErr inspectGIF(const uint8_t* data, size_t size, Picture& layout) {
    layout = Picture();
    Session s;
    Header h;
    const OSErr err = readHeader(s, data, size, h);
    if (err != noErr) return err;
    describe(h, layout);
    return noErr;
}

OSErr decodeGIF(const uint8_t* data, size_t size, Picture& out) {
    out = Picture();
    Session s;
    Header h;
    OSErr err = readHeader(s, data, size, h);
    if (err != noErr) return err;
    Picture p;
    describe(h, p);
    const GifImageDesc& image = s.gif->Image;
    const ColorMapObject* map = image.ColorMap ? image.ColorMap : s.gif->SColorMap;
    const size_t components = size_t(p.components);

    // The palette as the picture's pixels, and what the screen around the image shows.
    uint8_t palette[256][4];
    for (int i = 0; i < 256; ++i) {
        colourOf(map, i, palette[i]);
        palette[i][3] = i == h.transparentIndex ? 0 : 255;
    }
    uint8_t fill[4] = {0, 0, 0, 0};
    if (components == 4)
        colourOf(map, h.transparentIndex, fill);
    else
        colourOf(s.gif->SColorMap, h.background, fill);

    std::vector<GifPixelType> line;
    try {
        p.samples.resize(p.rowBytes() * size_t(p.height));
        line.resize(size_t(image.Width));
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    for (size_t i = 0; i < p.samples.size(); i += components)
        std::memcpy(&p.samples[i], fill, components);

    // Interlaced images come in four passes: every 8th row from 0, every 8th from 4, every 4th
    // from 2, every 2nd from 1.
    static constexpr int kPassStart[4] = {0, 4, 2, 1};
    static constexpr int kPassStep[4] = {8, 8, 4, 2};
    const int passes = image.Interlace ? 4 : 1;
    const int32_t left = image.Left;
    const int32_t firstColumn = std::max<int32_t>(0, -left);
    const int32_t lastColumn = std::min<int32_t>(image.Width, p.width - left); // exclusive
    for (int pass = 0; pass < passes; ++pass) {
        const int start = image.Interlace ? kPassStart[pass] : 0;
        const int step = image.Interlace ? kPassStep[pass] : 1;
        for (int row = start; row < image.Height; row += step) {
            if (DGifGetLine(s.gif, line.data(), image.Width) == GIF_ERROR) return codecBadDataErr;
            const int32_t y = image.Top + row;
            if (y >= p.height) continue;
            uint8_t* target = p.samples.data() + size_t(y) * p.rowBytes();
            for (int32_t x = firstColumn; x < lastColumn; ++x)
                std::memcpy(target + size_t(left + x) * components, palette[line[size_t(x)]], components);
        }
    }
    out = std::move(p);
    return noErr;
}

} // namespace platform::codec::detail
