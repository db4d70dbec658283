// The codec registry: the image codecs installed as components, their capability records, the
// name list that compression dialogs and the toolkit show, and the frame entry points that the
// image sequences and the importers and exporters use.
//
// Each codec type is one compressor ('imco') and one decompressor ('imdc') component, subtype =
// the codec type, manufacturer = platform::kVendorCode, component flags = the codec's compress
// or decompress flags and cmpThreadSafe. Installed codecs, in this order:
//   'raw ' None                                   'cmyk' CMYK
//   'jpeg' Photo - JPEG                           '2vuy' Component Y'CbCr 8-bit 4:2:2
//   'mjp2' JPEG 2000                              'v216' Component Y'CbCr 10,12,14,16-bit 4:2:2
//   'png ' PNG                                    'b16g' 16-bit Grayscale
//   'WRLE' BMP                                    'b48r' 48-bit RGB
//   '8BPS' Planar RGB
// The type name of a capability record is a Str31: longer names are cut at 31 characters there
// (the component and name-list names keep them whole).
#pragma once

#include "PlatformCodecEngines.h"
#include "PlatformComponents.h"
#include "PlatformDescriptions.h"
#include "PlatformTypes.h"

#include <cstddef>
#include <cstdint>
#include <vector>

using CodecType = OSType;
using CodecComponent = Component;
using CompressorComponent = Component;
using DecompressorComponent = Component;
constexpr CodecComponent anyCodec = nullptr;

// Compress and decompress flags: the pixel depths a codec reads or writes, and its abilities.
enum : uint32_t {
    codecInfoDoes1 = 1u << 0,
    codecInfoDoes2 = 1u << 1,
    codecInfoDoes4 = 1u << 2,
    codecInfoDoes8 = 1u << 3,
    codecInfoDoes16 = 1u << 4,
    codecInfoDoes32 = 1u << 5,
    codecInfoDoesTemporal = 1u << 10,      // compress
    codecInfoDoesEffect = 1u << 18,        // decompress: the decompressor is a video effect
    codecInfoDoesReorder = 1u << 19,       // compress
    codecInfoDoesMultiPass = 1u << 20,     // compress
    codecInfoDoesRecompress = 1u << 21,    // compress
    codecInfoDoesRateConstrain = 1u << 23, // compress: honours a data rate
};

// Format flags: the depths the codec's data holds, and its nature.
enum : uint32_t {
    codecInfoDepth1 = 1u << 0,
    codecInfoDepth2 = 1u << 1,
    codecInfoDepth4 = 1u << 2,
    codecInfoDepth8 = 1u << 3,
    codecInfoDepth16 = 1u << 4,
    codecInfoDepth32 = 1u << 5,
    codecInfoDepth24 = 1u << 6,
    codecInfoDepth40 = 1u << 10,
    codecInfoDoesLossless = 1u << 12,
};

#pragma pack(push, 2)
struct CodecInfo {
    Str31 typeName;
    int16_t version;
    int16_t revisionLevel;
    int32_t vendor;
    uint32_t decompressFlags;
    uint32_t compressFlags;
    uint32_t formatFlags;
    uint8_t compressionAccuracy;
    uint8_t decompressionAccuracy;
    uint16_t compressionSpeed;
    uint16_t decompressionSpeed;
    uint8_t compressionLevel;
    uint8_t resvd;
    int16_t minimumHeight;
    int16_t minimumWidth;
    int16_t decompressPipelineLatency;
    int16_t compressPipelineLatency;
    int32_t privateData;
};
#pragma pack(pop)
static_assert(sizeof(CodecInfo) == 72);

// One entry of the codec name list: the codec's compressor, its type, its type name and a
// handle holding its full name as a length-prefixed string.
struct CodecNameSpec {
    CodecComponent codec;
    CodecType cType;
    Str31 typeName;
    Handle name;
};

struct CodecNameSpecList {
    int16_t count;
    CodecNameSpec list[1]; // `count` entries
};
using CodecNameSpecListPtr = CodecNameSpecList*;

// A new list (DisposeCodecNameList frees it) of the installed compressors in registration order;
// with `showAll` 0 only the first compressor of each codec type. paramErr without `list`.
OSErr GetCodecNameList(CodecNameSpecListPtr* list, int16_t showAll);
OSErr DisposeCodecNameList(CodecNameSpecListPtr list);

// The capability record of a codec: `codec` null takes the first component of the type; a
// component (or an instance of one) must be a compressor or decompressor of `cType` (a cType of
// 0 takes the component's). noCodecErr when no such codec is installed; paramErr without `info`.
OSErr GetCodecInfo(CodecInfo* info, CodecType cType, CodecComponent codec);

namespace platform {

// Decodes one frame described by `desc`: the raw family by the description's depth, the others
// by their streams. paramErr for a null or short (< 86 bytes) description or dimensions that are
// not positive, noCodecErr for a type without an installed decompressor, codecUnimpErr for an
// installed one this registry cannot run, the engine's status on failure, and codecBadDataErr
// when the frame's dimensions differ from the description's. `out` is empty on failure.
// A colour-parameter extension ('colr', 'nclc') tells how three colour samples are stored: matrix
// 0 without a transform (R, G, B), 1, 6 or 7 as YCbCr; without one the stream's markers decide.
OSErr codecDecodeFrame(ImageDescriptionHandle desc, const uint8_t* data, size_t size, codec::Picture& out);

// Decodes one frame of an engine that writes rows straight into a caller's pixels (JPEG), the
// target the description's size. codecUnimpErr, with nothing touched, when the codec cannot:
// the caller decodes to a picture instead. Otherwise as codecDecodeFrame; on failure the
// target may hold part of the frame.
OSErr codecDecodeFrameInto(ImageDescriptionHandle desc, const uint8_t* data, size_t size,
                           const codec::RowTarget& target);

// Encodes one frame: the raw family in the layout of (cType, depth), the others as their streams
// at `quality` (0..1024; JPEG 2000 as a raw codestream). noCodecErr for a type without an
// installed compressor, else the engine's status; `out` is empty on failure.
OSErr codecEncodeFrame(OSType cType, int16_t depth, uint32_t quality, const codec::Picture& in,
                       std::vector<uint8_t>& out);

// Registers a codec component of another layer (an effect, for instance): `componentType` is
// compressorComponentType or decompressorComponentType; the component's flags are the record's
// compress or decompress flags, with cmpThreadSafe when `threadSafe`. Null when refused.
Component registerCodecComponent(OSType componentType, CodecType cType, const char* name,
                                 const CodecInfo& info, bool threadSafe, const ComponentCallbacks& callbacks,
                                 void* refcon);

namespace detail {
// Installs the built-in codecs; the component manager calls it once, on its first use.
void installCodecComponents();
} // namespace detail

} // namespace platform
