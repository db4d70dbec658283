// The engines' entry points: each call goes to the engine of its format. The checks every engine
// would repeat (null data, an inconsistent picture) are made here once, and a failure always
// leaves the output empty, whatever an engine left behind.
#include "PlatformCodecEnginesInternal.h"

namespace platform::codec {

OSErr decode(Format format, const uint8_t* data, size_t size, Picture& out) {
    return decode(format, data, size, out, DecodeOptions());
}

OSErr decodeInto(Format format, const uint8_t* data, size_t size, const DecodeOptions& options,
                 const RowTarget& target) {
    if (!data && size != 0) return paramErr;
    if (!target.base || target.width <= 0 || target.height <= 0) return paramErr;
    const size_t pixelBytes = target.layout == RowLayout::ARGB32  ? 4
                              : target.layout == RowLayout::RGB24 ? 3
                                                                  : 1;
    if (target.rowBytes < size_t(target.width) * pixelBytes) return paramErr;
    switch (format) {
    case Format::JPEG:
        if (target.layout == RowLayout::RGB24) return codecUnimpErr;
        return detail::decodeJPEGInto(data, size, options, target);
    case Format::BMP:
        return target.layout == RowLayout::RGB24 ? detail::decodeBMPInto(data, size, target) : codecUnimpErr;
    case Format::PNG:
        return target.layout == RowLayout::RGB24 ? detail::decodePNGInto(data, size, target) : codecUnimpErr;
    default:
        return codecUnimpErr;
    }
}

OSErr decodeInto(Format format, const ByteSource& source, const DecodeOptions&, const RowTarget& target) {
    if (!target.base || target.width <= 0 || target.height <= 0) return paramErr;
    if (target.layout != RowLayout::RGB24 || format != Format::BMP) return codecUnimpErr;
    if (target.rowBytes < size_t(target.width) * 3) return paramErr;
    return detail::decodeBMPIntoFrom(source, target);
}

OSErr decode(Format format, const uint8_t* data, size_t size, Picture& out, const DecodeOptions& options) {
    out = Picture();
    if (!data && size != 0) return paramErr;
    OSErr err;
    switch (format) {
    case Format::JPEG:
        err = detail::decodeJPEG(data, size, options, out);
        break;
    case Format::JPEG2000:
        err = detail::decodeJPEG2000(data, size, out);
        break;
    case Format::PNG:
        err = detail::decodePNG(data, size, out);
        break;
    case Format::BMP:
        err = detail::decodeBMP(data, size, out);
        break;
    case Format::GIF:
        err = detail::decodeGIF(data, size, out);
        break;
    default:
        return noCodecErr;
    }
    if (err != noErr) out = Picture();
    return err;
}

OSErr encode(Format format, const Picture& in, const EncodeOptions& options, std::vector<uint8_t>& out,
             bool jp2) {
    out.clear();
    if (!in.isConsistent()) return paramErr;
    OSErr err;
    switch (format) {
    case Format::JPEG:
        err = detail::encodeJPEG(in, options, out);
        break;
    case Format::JPEG2000:
        err = detail::encodeJPEG2000(in, options, out, jp2);
        break;
    case Format::PNG:
        err = detail::encodePNG(in, options, out);
        break;
    case Format::BMP:
        err = detail::encodeBMP(in, options, out);
        break;
    case Format::GIF:
        err = codecUnimpErr;
        break;
    default:
        return noCodecErr;
    }
    if (err != noErr) out.clear();
    return err;
}

OSErr inspectHead(Format format, const uint8_t* data, size_t size, uint64_t total, Picture& layout) {
    if (format != Format::BMP) return inspect(format, data, size, layout);
    layout = Picture();
    if (!data && size != 0) return paramErr;
    const OSErr err = detail::inspectBMPHead(data, size, total, layout);
    if (err != noErr) layout = Picture();
    return err;
}

OSErr inspect(Format format, const uint8_t* data, size_t size, Picture& layout) {
    layout = Picture();
    if (!data && size != 0) return paramErr;
    OSErr err;
    switch (format) {
    case Format::JPEG:
        err = detail::inspectJPEG(data, size, layout);
        break;
    case Format::JPEG2000:
        err = detail::inspectJPEG2000(data, size, layout);
        break;
    case Format::PNG:
        err = detail::inspectPNG(data, size, layout);
        break;
    case Format::BMP:
        err = detail::inspectBMP(data, size, layout);
        break;
    case Format::GIF:
        err = detail::inspectGIF(data, size, layout);
        break;
    default:
        return noCodecErr;
    }
    if (err != noErr) layout = Picture();
    return err;
}

} // namespace platform::codec
