// The 2D image template's instances and its conversions with 32-bit offscreen worlds.
#include "KelvoImageTypes2D.h"

#include "KelvoCoreVideoDataDescriptors.h"

namespace {

constexpr int32_t kBadObject = 9;
constexpr int32_t kNoDestination = 80;

// The monochrome cut of a grey value: black below 129, else white.
constexpr uint32_t monochromeOf(uint32_t grey) {
    return grey < 129 ? 0u : 255u;
}

} // namespace

template <class T, int N>
int32_t dataFromQDContext(const Kelvo_QDGWorldBuffer& world, T* out, uint8_t monochrome) {
    if (!out) return kNoDestination;
    const auto* base = reinterpret_cast<const uint8_t*>(world.baseAddress());
    const int32_t width = world.width();
    const int32_t height = world.height();
    const int64_t rowBytes = world.rowBytes();
    // Only 32-bit pixels are read; rows must hold the whole width.
    if (!base || world.bitsPerPixel() != 32 || rowBytes < int64_t(width) * 4) return kBadObject;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* p = base + int64_t(y) * rowBytes;
        for (int32_t x = 0; x < width; ++x, p += 4) {
            const uint32_t pixel = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
            if constexpr (N == 1) {
                const uint32_t grey = Kelvo_GreyOfPixel(pixel);
                if (monochrome)
                    *out = T(monochromeOf(grey));
                else if constexpr (sizeof(T) == 2)
                    *out = T(grey * 257u);
                else
                    *out = T(grey);
                ++out;
            } else {
                pixelToData<T, N>(pixel, out);
            }
        }
    }
    return 0;
}

template <class T, int N>
int32_t drawToQDBuffer(const KelvoImage2DT<T, N>& image, Kelvo_QDGWorldBuffer*& result,
                       Kelvo_DisplayTransform*) {
    result = nullptr;
    if (!image.qtObjIsValid()) return kBadObject;
    auto& source = const_cast<KelvoImage2DT<T, N>&>(image);
    if (!source.qtDescription()) {
        const int32_t err = source.allocQTDescription();
        if (!source.qtDescription()) return err != 0 ? err : -108;
    }
    Kelvo_ImgDesc desc(source.qtDescription());
    // One-byte grey of 8 bits or fewer is drawn so that sample 0 shows black.
    const uint8_t monochrome = (sizeof(T) == 1 && image.depth() < 9) ? 1 : 0;
    return qdContextFromData<T>(image.buffer(), result, desc, monochrome);
}

template class KelvoImage2DT<uint8_t, 1>;
template class KelvoImage2DT<uint16_t, 1>;
template class KelvoImage2DT<float, 1>;
template class KelvoImage2DT<uint8_t, 3>;
template class KelvoImage2DT<uint8_t, 4>;

template int32_t dataFromQDContext<uint8_t, 1>(const Kelvo_QDGWorldBuffer&, uint8_t*, uint8_t);
template int32_t dataFromQDContext<uint16_t, 1>(const Kelvo_QDGWorldBuffer&, uint16_t*, uint8_t);
template int32_t dataFromQDContext<float, 1>(const Kelvo_QDGWorldBuffer&, float*, uint8_t);
template int32_t dataFromQDContext<uint8_t, 3>(const Kelvo_QDGWorldBuffer&, uint8_t*, uint8_t);
template int32_t dataFromQDContext<uint8_t, 4>(const Kelvo_QDGWorldBuffer&, uint8_t*, uint8_t);

template int32_t drawToQDBuffer<uint8_t, 1>(const KelvoImage2DT<uint8_t, 1>&, Kelvo_QDGWorldBuffer*&,
                                            Kelvo_DisplayTransform*);
template int32_t drawToQDBuffer<uint16_t, 1>(const KelvoImage2DT<uint16_t, 1>&, Kelvo_QDGWorldBuffer*&,
                                             Kelvo_DisplayTransform*);
template int32_t drawToQDBuffer<float, 1>(const KelvoImage2DT<float, 1>&, Kelvo_QDGWorldBuffer*&,
                                          Kelvo_DisplayTransform*);
template int32_t drawToQDBuffer<uint8_t, 3>(const KelvoImage2DT<uint8_t, 3>&, Kelvo_QDGWorldBuffer*&,
                                            Kelvo_DisplayTransform*);
template int32_t drawToQDBuffer<uint8_t, 4>(const KelvoImage2DT<uint8_t, 4>&, Kelvo_QDGWorldBuffer*&,
                                            Kelvo_DisplayTransform*);
