#include "PlatformCodecRegistry.h"

#include "PlatformCodecRaw.h"
#include "PlatformImageDescriptions.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>

namespace {

using platform::codec::Format;

constexpr uint32_t kRawDepths = codecInfoDoes1 | codecInfoDoes8 | codecInfoDoes16 | codecInfoDoes32;
constexpr uint32_t kGreyAndColour = codecInfoDoes8 | codecInfoDoes32;

struct BuiltinCodec {
    OSType cType;
    const char* name;
    bool raw;      // the raw family; else an engine's stream
    Format format; // when not raw
    uint32_t decompressFlags;
    uint32_t compressFlags;
    uint32_t formatFlags;
    uint8_t accuracy;
    uint16_t speed;
    uint8_t level;
    uint32_t iconColour;
};

constexpr BuiltinCodec kBuiltins[] = {
    {FOUR_CHAR_CODE("raw "), "None", true, Format::BMP, kRawDepths, kRawDepths,
     codecInfoDepth1 | codecInfoDepth8 | codecInfoDepth16 | codecInfoDepth24 | codecInfoDepth32 |
         codecInfoDepth40 | codecInfoDoesLossless,
     255, 1, 0, 0xFF808080u},
    {FOUR_CHAR_CODE("jpeg"), "Photo - JPEG", false, Format::JPEG, kGreyAndColour, kGreyAndColour,
     codecInfoDepth24 | codecInfoDepth40, 128, 10, 128, 0xFF3070C0u},
    {FOUR_CHAR_CODE("mjp2"), "JPEG 2000", false, Format::JPEG2000, kGreyAndColour, kGreyAndColour,
     codecInfoDepth24 | codecInfoDepth32 | codecInfoDepth40, 200, 60, 192, 0xFF6040A0u},
    {FOUR_CHAR_CODE("png "), "PNG", false, Format::PNG, kGreyAndColour, kGreyAndColour,
     codecInfoDepth24 | codecInfoDepth32 | codecInfoDepth40 | codecInfoDoesLossless, 255, 30, 96,
     0xFF30A060u},
    {FOUR_CHAR_CODE("WRLE"), "BMP", false, Format::BMP, kGreyAndColour, kGreyAndColour,
     codecInfoDepth24 | codecInfoDepth32 | codecInfoDepth40 | codecInfoDoesLossless, 255, 5, 16, 0xFFC0A030u},
    {FOUR_CHAR_CODE("8BPS"), "Planar RGB", true, Format::BMP, codecInfoDoes32, codecInfoDoes32,
     codecInfoDepth24 | codecInfoDepth32 | codecInfoDoesLossless, 255, 1, 0, 0xFFC04040u},
    {FOUR_CHAR_CODE("cmyk"), "CMYK", true, Format::BMP, codecInfoDoes32, codecInfoDoes32,
     codecInfoDepth32 | codecInfoDoesLossless, 255, 1, 0, 0xFF40A0C0u},
    {FOUR_CHAR_CODE("2vuy"), "Component Y'CbCr 8-bit 4:2:2", true, Format::BMP, codecInfoDoes32,
     codecInfoDoes32, codecInfoDepth24 | codecInfoDoesLossless, 255, 1, 0, 0xFF909030u},
    {FOUR_CHAR_CODE("v216"), "Component Y'CbCr 10,12,14,16-bit 4:2:2", true, Format::BMP, codecInfoDoes32,
     codecInfoDoes32, codecInfoDepth24 | codecInfoDoesLossless, 255, 1, 0, 0xFF707020u},
    {FOUR_CHAR_CODE("b16g"), "16-bit Grayscale", true, Format::BMP, kGreyAndColour, kGreyAndColour,
     codecInfoDepth40 | codecInfoDoesLossless, 255, 1, 0, 0xFF505050u},
    {FOUR_CHAR_CODE("b48r"), "48-bit RGB", true, Format::BMP, codecInfoDoes32, codecInfoDoes32,
     codecInfoDepth24 | codecInfoDoesLossless, 255, 1, 0, 0xFFA05030u},
};

const BuiltinCodec* builtinFor(OSType cType) {
    for (const BuiltinCodec& b : kBuiltins)
        if (b.cType == cType) return &b;
    return nullptr;
}

// The capability records of the codec components, by component.
struct CodecTable {
    std::mutex mutex;
    std::unordered_map<const void*, CodecInfo> infos;
};

CodecTable& table() {
    static CodecTable* t = new CodecTable(); // lives as long as the process
    return *t;
}

bool infoOf(Component c, CodecInfo& info) {
    CodecTable& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.infos.find(c);
    if (it == t.infos.end()) return false;
    info = it->second;
    return true;
}

void toStr31(const char* text, unsigned char (&out)[32]) {
    std::memset(out, 0, sizeof out);
    const size_t n = std::min<size_t>(text ? std::strlen(text) : 0, 31);
    out[0] = uint8_t(n);
    if (n) std::memcpy(out + 1, text, n);
}

CodecInfo builtinInfo(const BuiltinCodec& b) {
    CodecInfo info{};
    toStr31(b.name, info.typeName);
    info.version = 1;
    info.revisionLevel = 1;
    info.vendor = int32_t(platform::kVendorCode);
    info.decompressFlags = b.decompressFlags;
    info.compressFlags = b.compressFlags;
    info.formatFlags = b.formatFlags;
    info.compressionAccuracy = b.accuracy;
    info.decompressionAccuracy = b.accuracy;
    info.compressionSpeed = b.speed;
    info.decompressionSpeed = b.speed;
    info.compressionLevel = b.level;
    info.minimumHeight = 1;
    info.minimumWidth = 1;
    return info;
}

bool isCodecComponentType(OSType type) {
    return type == compressorComponentType || type == decompressorComponentType;
}

// Whether a component of the type is installed for the codec type.
bool installed(OSType componentType, OSType cType) {
    ComponentDescription d{componentType, cType, 0, 0, 0};
    return cType != 0 && FindNextComponent(nullptr, &d) != nullptr;
}

} // namespace

OSErr GetCodecNameList(CodecNameSpecListPtr* list, int16_t showAll) {
    if (!list) return paramErr;
    *list = nullptr;
    std::vector<CodecNameSpec> entries;
    auto disposeNames = [&entries] {
        for (CodecNameSpec& e : entries)
            DisposeHandle(e.name);
    };
    ComponentDescription d{compressorComponentType, 0, 0, 0, 0};
    for (Component c = FindNextComponent(nullptr, &d); c && entries.size() < size_t(INT16_MAX);
         c = FindNextComponent(c, &d)) {
        CodecInfo info;
        ComponentDescription cd{};
        if (!infoOf(c, info)) continue;
        Handle name = NewHandle(0);
        if (!name) {
            disposeNames();
            return memFullErr;
        }
        // A component unregistered meanwhile is left out.
        if (GetComponentInfo(c, &cd, name, nullptr, nullptr) != noErr ||
            (!showAll && std::any_of(entries.begin(), entries.end(), [&](const CodecNameSpec& e) {
                return e.cType == cd.componentSubType;
            }))) {
            DisposeHandle(name);
            continue;
        }
        CodecNameSpec spec{};
        spec.codec = c;
        spec.cType = cd.componentSubType;
        std::memcpy(spec.typeName, info.typeName, sizeof spec.typeName);
        spec.name = name;
        entries.push_back(spec);
    }
    const size_t bytes =
        offsetof(CodecNameSpecList, list) + std::max<size_t>(entries.size(), 1) * sizeof(CodecNameSpec);
    auto* result = reinterpret_cast<CodecNameSpecList*>(NewPtrClear(Size(bytes)));
    if (!result) {
        disposeNames();
        return memFullErr;
    }
    result->count = int16_t(entries.size());
    if (!entries.empty()) std::memcpy(result->list, entries.data(), entries.size() * sizeof(CodecNameSpec));
    *list = result;
    return noErr;
}

OSErr DisposeCodecNameList(CodecNameSpecListPtr list) {
    if (!list) return paramErr;
    for (int16_t i = 0; i < list->count; ++i)
        if (list->list[i].name) DisposeHandle(list->list[i].name);
    DisposePtr(reinterpret_cast<Ptr>(list));
    return noErr;
}

OSErr GetCodecInfo(CodecInfo* info, CodecType cType, CodecComponent codec) {
    if (!info) return paramErr;
    CodecInfo found{};
    if (codec) {
        Component c = platform::resolveComponent(codec);
        ComponentDescription cd{};
        if (!c || GetComponentInfo(c, &cd, nullptr, nullptr, nullptr) != noErr) return noCodecErr;
        if (!isCodecComponentType(cd.componentType)) return noCodecErr;
        if (cType != 0 && cd.componentSubType != cType) return noCodecErr;
        if (!infoOf(c, found)) return noCodecErr;
    } else {
        if (cType == 0) return noCodecErr;
        ComponentDescription d{0, cType, 0, 0, 0};
        bool any = false;
        for (Component c = FindNextComponent(nullptr, &d); c && !any; c = FindNextComponent(c, &d)) {
            ComponentDescription cd{};
            if (GetComponentInfo(c, &cd, nullptr, nullptr, nullptr) != noErr) continue;
            any = isCodecComponentType(cd.componentType) && infoOf(c, found);
        }
        if (!any) return noCodecErr;
    }
    *info = found;
    return noErr;
}

namespace platform {

Component registerCodecComponent(OSType componentType, CodecType cType, const char* name,
                                 const CodecInfo& info, bool threadSafe, const ComponentCallbacks& callbacks,
                                 void* refcon) {
    if (!isCodecComponentType(componentType) || cType == 0) return nullptr;
    uint32_t flags = componentType == compressorComponentType ? info.compressFlags : info.decompressFlags;
    // The manager's own bits are not the codec's to set.
    flags &= ~(cmpThreadSafe | cmpIsMissing | cmpFastDispatch | cmpWantsRegisterMessage);
    if (threadSafe) flags |= cmpThreadSafe;
    Handle icon = newPlainIconSuite(0xFFE0E0E0u, 0xFF404040u);
    Component c = registerComponent({componentType, cType, OSType(info.vendor), flags, 0}, name, nullptr,
                                    icon, callbacks, refcon);
    if (icon) DisposeHandle(icon);
    if (!c) return nullptr;
    CodecTable& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    t.infos[c] = info;
    return c;
}

namespace detail {

void installCodecComponents() {
    CodecTable& t = table();
    for (const BuiltinCodec& b : kBuiltins) {
        const CodecInfo info = builtinInfo(b);
        Handle icon = newPlainIconSuite(b.iconColour, 0xFF202020u);
        for (OSType type : {compressorComponentType, decompressorComponentType}) {
            const uint32_t flags =
                (type == compressorComponentType ? info.compressFlags : info.decompressFlags) | cmpThreadSafe;
            const std::string infoText =
                std::string(type == compressorComponentType ? "Compresses" : "Decompresses") +
                " frames of the " + b.name + " format";
            Component c = registerComponent({type, b.cType, kVendorCode, flags, 0}, b.name, infoText.c_str(),
                                            icon, ComponentCallbacks{}, nullptr);
            if (!c) continue;
            std::lock_guard<std::mutex> lock(t.mutex);
            t.infos[c] = info;
        }
        if (icon) DisposeHandle(icon);
    }
}

} // namespace detail

namespace {

// The description's word on its colour samples: a colour-parameter extension whose matrix is 0
// (identity: samples are R, G, B) or a YCbCr matrix (1 BT.709, 6 BT.601, 7 SMPTE 240M). Without
// one the stream's own markers decide.
platform::codec::DecodeOptions decodeOptionsOf(ImageDescriptionHandle desc) {
    platform::codec::DecodeOptions options;
    NCLCColorInfoImageDescriptionExtension nclc{};
    if (ICMImageDescriptionGetProperty(desc, kQTPropertyClass_ImageDescription,
                                       kICMImageDescriptionPropertyID_NCLCColorInfo, sizeof nclc, &nclc,
                                       nullptr) != noErr)
        return options;
    if (nclc.matrix == 0)
        options.colour = platform::codec::ColourSpace::RGB;
    else if (nclc.matrix == 1 || nclc.matrix == 6 || nclc.matrix == 7)
        options.colour = platform::codec::ColourSpace::YCbCr;
    return options;
}

// The description's record and its codec, checked as both decoding calls check them.
OSErr describedCodec(ImageDescriptionHandle desc, const uint8_t* data, size_t size, ImageDescription& d,
                     const BuiltinCodec*& codec) {
    if (!desc || !*desc || GetHandleSize(reinterpret_cast<Handle>(desc)) < Size(sizeof(ImageDescription)))
        return paramErr;
    std::memcpy(&d, *desc, sizeof d);
    if (d.width <= 0 || d.height <= 0 || (!data && size)) return paramErr;
    if (!installed(decompressorComponentType, d.cType)) return noCodecErr;
    codec = builtinFor(d.cType);
    if (!codec) return codecUnimpErr;
    return noErr;
}

} // namespace

OSErr codecDecodeFrame(ImageDescriptionHandle desc, const uint8_t* data, size_t size, codec::Picture& out) {
    out = codec::Picture{};
    ImageDescription d;
    const BuiltinCodec* b = nullptr;
    OSErr err = describedCodec(desc, data, size, d, b);
    if (err != noErr) return err;
    static const uint8_t kNothing = 0;
    if (!data) data = &kNothing;
    codec::Picture picture;
    if (b->raw) {
        err = codec::decodeRaw(d.cType, d.depth, d.width, d.height, data, size, picture);
    } else {
        // A stream announcing another frame is refused from its header, before anything is
        // allocated for it.
        codec::Picture layout;
        err = codec::inspect(b->format, data, size, layout);
        if (err != noErr) return err;
        if (layout.width != d.width || layout.height != d.height) return codecBadDataErr;
        err = codec::decode(b->format, data, size, picture, decodeOptionsOf(desc));
    }
    if (err != noErr) return err;
    if (picture.width != d.width || picture.height != d.height) return codecBadDataErr;
    out = std::move(picture);
    return noErr;
}

OSErr codecDecodeFrameInto(ImageDescriptionHandle desc, const uint8_t* data, size_t size,
                           const codec::RowTarget& target) {
    ImageDescription d;
    const BuiltinCodec* b = nullptr;
    OSErr err = describedCodec(desc, data, size, d, b);
    if (err != noErr) return err;
    if (b->raw || !data) return codecUnimpErr;
    if (target.width != d.width || target.height != d.height) return codecUnimpErr;
    return codec::decodeInto(b->format, data, size, decodeOptionsOf(desc), target);
}

OSErr codecEncodeFrame(OSType cType, int16_t depth, uint32_t quality, const codec::Picture& in,
                       std::vector<uint8_t>& out) {
    out.clear();
    if (!installed(compressorComponentType, cType)) return noCodecErr;
    const BuiltinCodec* b = builtinFor(cType);
    if (!b) return codecUnimpErr;
    // Into the caller's storage, which it keeps from frame to frame; empty on failure.
    if (b->raw) return codec::encodeRaw(cType, depth, in, out);
    codec::EncodeOptions options;
    options.quality = std::min<uint32_t>(quality, 1024);
    return codec::encode(b->format, in, options, out, false);
}

} // namespace platform
