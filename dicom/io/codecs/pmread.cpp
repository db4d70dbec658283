// Lossless JPEG encoder: its parameters and input samples.
#include "JPEGInternal.h"

#include <bit>

namespace ljpeg {

OSStatus ReadEncodeParams(const uint32_t* params, EncodeParams* p) {
    p->optimalTables = params[kJPEGParamOptimalTables] != 0;
    p->restartRows = params[kJPEGParamRestartRows];
    p->pointTransform = params[kJPEGParamPointTransform];
    p->width = params[kJPEGParamWidth];
    p->height = params[kJPEGParamHeight];
    p->predictors = params[kJPEGParamPredictors];
    p->maxSampleValue = params[kJPEGParamMaxSampleValue];
    if (p->maxSampleValue < 2 || p->maxSampleValue > 65535) return kJPEGMaxSampleValueErr;
    if (p->width > 65535 || p->height > 65535) return kJPEGDimensionErr;
    if (p->width == 0 || p->height == 0 || p->predictors > 7) return paramErr;
    // The first sample is predicted from 2^(P - Pt - 1): the point transform must leave a bit.
    const uint32_t precision = uint32_t(std::bit_width(p->maxSampleValue));
    if (p->pointTransform >= precision) return paramErr;
    // A restart interval is written in pixels and must fit its 16-bit field.
    if (p->restartRows != 0 && uint64_t(p->restartRows) * p->width > 65535) return paramErr;
    return noErr;
}

OSStatus ReadSamples(const uint8_t* samples, const EncodeParams& p, CompressInfo& info) {
    info.imageWidth = int32_t(p.width);
    info.imageHeight = int32_t(p.height);
    info.dataPrecision = int32_t(std::bit_width(p.maxSampleValue));
    info.Pt = int32_t(p.pointTransform);
    info.numComponents = 1;
    if (!info.compInfo.allocate(1)) return memFullErr;
    info.compInfo[0] = JpegComponentInfo{0, 0, 1, 1, 0};
    info.compsInScan = 1;
    info.curCompInfo[0] = &info.compInfo[0];
    info.MCUmembership[0] = 0;
    info.restartInRows = int32_t(p.restartRows);
    info.restartInterval = int32_t(p.restartRows * p.width);

    const size_t count = size_t(p.width) * p.height;
    if (!info.samples.allocate(count)) return memFullErr;
    uint16_t* s = info.samples.get();
    for (size_t i = 0; i < count; ++i) {
        // A sample above the maximum would not fit the precision written in the frame header.
        if (samples[i] > p.maxSampleValue) return paramErr;
        s[i] = uint16_t(samples[i] >> p.pointTransform);
    }
    return noErr;
}

} // namespace ljpeg
