#include "PlatformImageDescriptions.h"

#include "PlatformCodecEngines.h"
#include "PlatformComponents.h"
#include "PlatformDecompressionSessions.h"
#include "PlatformEndian.h"
#include "PlatformFixed.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using platform::loadBE16;
using platform::loadBE32;
using platform::storeBE32;

constexpr Size kRecordSize = Size(sizeof(ImageDescription));
constexpr Size kAtomHeader = 8;

ImageDescription* record(ImageDescriptionHandle desc) {
    return reinterpret_cast<ImageDescription*>(*desc);
}

bool usable(ImageDescriptionHandle desc) {
    return desc && *desc && GetHandleSize(reinterpret_cast<Handle>(desc)) >= kRecordSize;
}

struct Extension {
    Size offset; // of the atom header
    Size size;   // header included
    OSType type;
};

// The extensions of a description, in order. The walk ends at the first atom that does not fit
// what remains of the handle, so a damaged tail is never read past.
std::vector<Extension> extensions(ImageDescriptionHandle desc) {
    std::vector<Extension> list;
    if (!usable(desc)) return list;
    const Size total = GetHandleSize(reinterpret_cast<Handle>(desc));
    const auto* bytes = reinterpret_cast<const uint8_t*>(*desc);
    Size at = kRecordSize + ImageDescriptionColorTableSize(desc);
    while (total - at >= kAtomHeader) {
        const uint32_t size = loadBE32(bytes + at);
        if (size < uint32_t(kAtomHeader) || size > uint32_t(total - at)) break;
        list.push_back(Extension{at, Size(size), loadBE32(bytes + at + 4)});
        at += Size(size);
    }
    return list;
}

const Extension* findExtension(const std::vector<Extension>& list, OSType type, int32_t index) {
    if (index < 1) return nullptr;
    int32_t seen = 0;
    for (const Extension& e : list)
        if (e.type == type && ++seen == index) return &e;
    return nullptr;
}

void updateSize(ImageDescriptionHandle desc) {
    record(desc)->idSize = int32_t(GetHandleSize(reinterpret_cast<Handle>(desc)));
}

// Extension data in host order, for the stored extensions the accessor knows.
OSStatus readExtension(ImageDescriptionHandle desc, OSType type, std::vector<uint8_t>& data) {
    std::vector<Extension> list = extensions(desc);
    const Extension* e = findExtension(list, type, 1);
    if (!e) return codecExtensionNotFoundErr;
    const auto* bytes = reinterpret_cast<const uint8_t*>(*desc);
    data.assign(bytes + e->offset + kAtomHeader, bytes + e->offset + e->size);
    return noErr;
}

OSStatus replaceExtension(ImageDescriptionHandle desc, OSType type, const void* data, Size size) {
    int32_t count = 0;
    CountImageDescriptionExtensionType(desc, int32_t(type), &count);
    for (int32_t i = count; i >= 1; --i) {
        OSErr err = RemoveImageDescriptionExtension(desc, int32_t(type), i);
        if (err) return err;
    }
    Handle h = nullptr;
    OSErr err = PtrToHand(data, &h, size);
    if (err) return err;
    err = AddImageDescriptionExtension(desc, h, int32_t(type));
    DisposeHandle(h);
    return err;
}

// The stored extensions: their size and whether each 16- or 32-bit word is swapped between the
// big-endian extension and the host-order value.
struct StoredKind {
    OSType id;
    Size size;
    int wordBits; // 0: bytes; 16 or 32: every word of that size; -1: the colour info record
};
constexpr StoredKind kStored[] = {
    {kICMImageDescriptionPropertyID_GammaLevel, 4, 32},
    {kICMImageDescriptionPropertyID_FieldInfo, 2, 0},
    {kICMImageDescriptionPropertyID_NCLCColorInfo, 10, -1},
    {kICMImageDescriptionPropertyID_CleanAperture, 32, 32},
    {kICMImageDescriptionPropertyID_PixelAspectRatio, 8, 32},
};

const StoredKind* storedKind(OSType id) {
    for (const StoredKind& k : kStored)
        if (k.id == id) return &k;
    return nullptr;
}

// Swaps a stored value between big-endian and host order (the same operation both ways).
void swapStored(const StoredKind& kind, uint8_t* bytes) {
    if (kind.wordBits == 32) {
        for (Size i = 0; i + 4 <= kind.size; i += 4) {
            uint32_t v;
            std::memcpy(&v, bytes + i, 4);
            v = EndianU32_BtoN(v);
            std::memcpy(bytes + i, &v, 4);
        }
    } else if (kind.wordBits == -1) {
        // The parameter type stays in memory order; the three indexes are 16-bit words.
        for (Size i = 4; i + 2 <= kind.size; i += 2) {
            uint16_t v = loadBE16(bytes + i);
            std::memcpy(bytes + i, &v, 2);
        }
    }
}

// Fixed value of numerator / denominator; 0 for a zero denominator, saturated out of range.
Fixed ratioToFixed(int32_t num, int32_t den) {
    if (den == 0) return 0;
    return X2Fix(double(num) / double(den));
}

struct Computed {
    OSType id;
    OSType type;
    Size size;
    bool settable;
};
constexpr Computed kComputed[] = {
    {kICMImageDescriptionPropertyID_CleanApertureWidth, kQTPropertyValueType_Fixed, 4, false},
    {kICMImageDescriptionPropertyID_CleanApertureHeight, kQTPropertyValueType_Fixed, 4, false},
    {kICMImageDescriptionPropertyID_CleanApertureDimensions, kQTPropertyValueType_FixedPoint, 8, false},
    {kICMImageDescriptionPropertyID_ProductionApertureDimensions, kQTPropertyValueType_FixedPoint, 8, false},
    {kICMImageDescriptionPropertyID_EncodedPixelsDimensions, kQTPropertyValueType_FixedPoint, 8, false},
    {kICMImageDescriptionPropertyID_EncodedWidth, kQTPropertyValueType_SInt32, 4, true},
    {kICMImageDescriptionPropertyID_EncodedHeight, kQTPropertyValueType_SInt32, 4, true},
    {kICMImageDescriptionPropertyID_SummaryString, kQTPropertyValueType_CFStringRef,
     Size(sizeof(CFStringRef)), false},
};

const Computed* computedKind(OSType id) {
    for (const Computed& c : kComputed)
        if (c.id == id) return &c;
    return nullptr;
}

// The clean aperture's width and height: the 'clap' extension's ratios, or the whole record.
void cleanDimensions(ImageDescriptionHandle desc, Fixed& width, Fixed& height) {
    std::vector<uint8_t> data;
    if (readExtension(desc, kICMImageDescriptionPropertyID_CleanAperture, data) == noErr &&
        data.size() == 32) {
        CleanApertureImageDescriptionExtension clap;
        std::memcpy(&clap, data.data(), 32);
        swapStored(kStored[3], reinterpret_cast<uint8_t*>(&clap));
        width = ratioToFixed(clap.cleanApertureWidthN, clap.cleanApertureWidthD);
        height = ratioToFixed(clap.cleanApertureHeightN, clap.cleanApertureHeightD);
        return;
    }
    width = Long2Fix(record(desc)->width);
    height = Long2Fix(record(desc)->height);
}

std::string summaryText(ImageDescriptionHandle desc) {
    const ImageDescription* r = record(desc);
    std::string name;
    const unsigned n = r->name[0] < 32 ? r->name[0] : 31;
    if (n > 0) {
        name.assign(reinterpret_cast<const char*>(r->name + 1), n);
    } else {
        char code[5];
        storeBE32(code, r->cType);
        code[4] = 0;
        name = code;
    }
    char text[160];
    std::snprintf(text, sizeof text, "%s, %d x %d", name.c_str(), int(r->width), int(r->height));
    return text;
}

OSStatus getComputed(ImageDescriptionHandle desc, OSType id, void* value) {
    Fixed w = 0, h = 0;
    switch (id) {
    case kICMImageDescriptionPropertyID_CleanApertureWidth:
        cleanDimensions(desc, w, h);
        std::memcpy(value, &w, 4);
        return noErr;
    case kICMImageDescriptionPropertyID_CleanApertureHeight:
        cleanDimensions(desc, w, h);
        std::memcpy(value, &h, 4);
        return noErr;
    case kICMImageDescriptionPropertyID_CleanApertureDimensions: {
        cleanDimensions(desc, w, h);
        FixedPoint p{w, h};
        std::memcpy(value, &p, sizeof p);
        return noErr;
    }
    case kICMImageDescriptionPropertyID_ProductionApertureDimensions: {
        // The clean aperture in square pixels: its width scaled by the pixel aspect ratio.
        cleanDimensions(desc, w, h);
        std::vector<uint8_t> data;
        if (readExtension(desc, kICMImageDescriptionPropertyID_PixelAspectRatio, data) == noErr &&
            data.size() == 8) {
            const int32_t hs = int32_t(loadBE32(data.data())), vs = int32_t(loadBE32(data.data() + 4));
            if (hs > 0 && vs > 0) w = X2Fix(Fix2X(w) * double(hs) / double(vs));
        }
        FixedPoint p{w, h};
        std::memcpy(value, &p, sizeof p);
        return noErr;
    }
    case kICMImageDescriptionPropertyID_EncodedPixelsDimensions: {
        FixedPoint p{Long2Fix(record(desc)->width), Long2Fix(record(desc)->height)};
        std::memcpy(value, &p, sizeof p);
        return noErr;
    }
    case kICMImageDescriptionPropertyID_EncodedWidth: {
        int32_t v = record(desc)->width;
        std::memcpy(value, &v, 4);
        return noErr;
    }
    case kICMImageDescriptionPropertyID_EncodedHeight: {
        int32_t v = record(desc)->height;
        std::memcpy(value, &v, 4);
        return noErr;
    }
    case kICMImageDescriptionPropertyID_SummaryString: {
        CFStringRef s =
            CFStringCreateWithCString(nullptr, summaryText(desc).c_str(), kCFStringEncodingMacRoman);
        if (!s) return memFullErr;
        std::memcpy(value, &s, sizeof s);
        return noErr;
    }
    default:
        return kQTPropertyNotSupportedErr;
    }
}

} // namespace

Size ImageDescriptionColorTableSize(ImageDescriptionHandle desc) {
    if (!usable(desc) || record(desc)->clutID != 0) return 0;
    const Size total = GetHandleSize(reinterpret_cast<Handle>(desc));
    // Seed (32 bits), flags (16), size (16: entries less one), then four 16-bit words an entry.
    if (total - kRecordSize < 8) return 0;
    uint16_t ctSize;
    std::memcpy(&ctSize, reinterpret_cast<const uint8_t*>(*desc) + kRecordSize + 6, 2);
    const Size bytes = 8 + (Size(ctSize) + 1) * 8;
    return bytes <= total - kRecordSize ? bytes : 0;
}

OSErr AddImageDescriptionExtension(ImageDescriptionHandle desc, Handle extension, int32_t idType) {
    if (!usable(desc) || !extension || !*extension || idType == 0) return paramErr;
    const Size dataSize = GetHandleSize(extension);
    if (dataSize > Size(0x7FFFFFF0)) return paramErr;
    // The new atom goes after the last well-formed one; a damaged tail is dropped.
    std::vector<Extension> list = extensions(desc);
    Size end = kRecordSize + ImageDescriptionColorTableSize(desc);
    if (!list.empty()) end = list.back().offset + list.back().size;
    std::vector<uint8_t> atom(size_t(kAtomHeader + dataSize));
    storeBE32(atom.data(), uint32_t(kAtomHeader + dataSize));
    storeBE32(atom.data() + 4, uint32_t(idType));
    if (dataSize) std::memcpy(atom.data() + kAtomHeader, *extension, size_t(dataSize));
    Handle h = reinterpret_cast<Handle>(desc);
    SetHandleSize(h, end);
    if (MemError()) return MemError();
    OSErr err = PtrAndHand(atom.data(), h, Size(atom.size()));
    if (err) return err;
    updateSize(desc);
    return noErr;
}

OSErr GetImageDescriptionExtension(ImageDescriptionHandle desc, Handle* extension, int32_t idType,
                                   int32_t index) {
    if (extension) *extension = nullptr;
    if (!usable(desc) || !extension) return paramErr;
    std::vector<Extension> list = extensions(desc);
    const Extension* e = findExtension(list, OSType(idType), index);
    if (!e) return codecExtensionNotFoundErr;
    return PtrToHand(reinterpret_cast<const uint8_t*>(*desc) + e->offset + kAtomHeader, extension,
                     e->size - kAtomHeader);
}

OSErr CountImageDescriptionExtensionType(ImageDescriptionHandle desc, int32_t idType, int32_t* count) {
    if (count) *count = 0;
    if (!usable(desc) || !count) return paramErr;
    for (const Extension& e : extensions(desc))
        if (e.type == OSType(idType)) ++*count;
    return noErr;
}

OSErr RemoveImageDescriptionExtension(ImageDescriptionHandle desc, int32_t idType, int32_t index) {
    if (!usable(desc)) return paramErr;
    std::vector<Extension> list = extensions(desc);
    const Extension* e = findExtension(list, OSType(idType), index);
    if (!e) return codecExtensionNotFoundErr;
    OSErr err = HandRemoveBytes(reinterpret_cast<Handle>(desc), e->offset, e->size);
    if (err) return err;
    updateSize(desc);
    return noErr;
}

OSErr GetNextImageDescriptionExtensionType(ImageDescriptionHandle desc, int32_t* idType) {
    if (!usable(desc) || !idType) return paramErr;
    const OSType after = OSType(*idType);
    OSType next = 0;
    for (const Extension& e : extensions(desc))
        if (e.type > after && (next == 0 || e.type < next)) next = e.type;
    *idType = int32_t(next);
    return noErr;
}

OSErr MakeImageDescriptionForEffect(OSType effectType, ImageDescriptionHandle* idh) {
    if (!idh) return paramErr;
    *idh = nullptr;
    if (effectType == 0) return paramErr;
    Handle h = NewHandleClear(kRecordSize);
    if (!h) return memFullErr;
    auto* r = reinterpret_cast<ImageDescription*>(*h);
    r->idSize = int32_t(kRecordSize);
    r->cType = effectType;
    r->hRes = r->vRes = 0x00480000;
    r->frameCount = 1;
    r->depth = 32;
    r->clutID = -1;
    *idh = reinterpret_cast<ImageDescriptionHandle>(h);
    return noErr;
}

OSStatus ICMImageDescriptionGetPropertyInfo(ImageDescriptionHandle desc, ComponentPropertyClass cls,
                                            ComponentPropertyID id, ComponentValueType* type, ByteCount* size,
                                            UInt32* flags) {
    if (type) *type = 0;
    if (size) *size = 0;
    if (flags) *flags = 0;
    if (!usable(desc)) return paramErr;
    if (cls != kQTPropertyClass_ImageDescription) return kQTPropertyNotSupportedErr;
    const uint32_t canGet = kComponentPropertyFlagCanGetNow | kComponentPropertyFlagCanGetLater;
    const uint32_t canSet = kComponentPropertyFlagCanSetNow | kComponentPropertyFlagCanSetLater;
    if (const StoredKind* k = storedKind(id)) {
        if (type)
            *type = k->id == kICMImageDescriptionPropertyID_GammaLevel ? kQTPropertyValueType_Fixed
                                                                       : kQTPropertyValueType_Record;
        if (size) *size = ByteCount(k->size);
        if (flags) *flags = canGet | canSet;
        return noErr;
    }
    if (const Computed* c = computedKind(id)) {
        if (type) *type = c->type;
        if (size) *size = ByteCount(c->size);
        if (flags) {
            *flags = canGet | (c->settable ? canSet : 0);
            if (c->type == kQTPropertyValueType_CFStringRef)
                *flags |= kComponentPropertyFlagValueMustBeReleased | kComponentPropertyFlagValueIsCFTypeRef;
        }
        return noErr;
    }
    return kQTPropertyNotSupportedErr;
}

OSStatus ICMImageDescriptionGetProperty(ImageDescriptionHandle desc, ComponentPropertyClass cls,
                                        ComponentPropertyID id, ByteCount size, ComponentValuePtr value,
                                        ByteCount* sizeUsed) {
    if (sizeUsed) *sizeUsed = 0;
    if (!usable(desc) || !value) return paramErr;
    if (cls != kQTPropertyClass_ImageDescription) return kQTPropertyNotSupportedErr;
    if (const StoredKind* k = storedKind(id)) {
        if (size < ByteCount(k->size)) return kQTPropertyBadValueSizeErr;
        std::vector<uint8_t> data;
        OSStatus err = readExtension(desc, id, data);
        if (err) return err;
        // An extension of another size than its record is damaged, not a value.
        if (data.size() != size_t(k->size)) return codecBadDataErr;
        swapStored(*k, data.data());
        std::memcpy(value, data.data(), data.size());
        if (sizeUsed) *sizeUsed = ByteCount(k->size);
        return noErr;
    }
    if (const Computed* c = computedKind(id)) {
        if (size < ByteCount(c->size)) return kQTPropertyBadValueSizeErr;
        OSStatus err = getComputed(desc, id, value);
        if (err == noErr && sizeUsed) *sizeUsed = ByteCount(c->size);
        return err;
    }
    return kQTPropertyNotSupportedErr;
}

OSStatus ICMImageDescriptionSetProperty(ImageDescriptionHandle desc, ComponentPropertyClass cls,
                                        ComponentPropertyID id, ByteCount size,
                                        ConstComponentValuePtr value) {
    if (!usable(desc) || !value) return paramErr;
    if (cls != kQTPropertyClass_ImageDescription) return kQTPropertyNotSupportedErr;
    if (const StoredKind* k = storedKind(id)) {
        if (size != ByteCount(k->size)) return kQTPropertyBadValueSizeErr;
        uint8_t data[32];
        std::memcpy(data, value, size_t(k->size));
        swapStored(*k, data);
        return replaceExtension(desc, id, data, k->size);
    }
    if (const Computed* c = computedKind(id)) {
        if (!c->settable) return kQTPropertyReadOnlyErr;
        if (size != ByteCount(c->size)) return kQTPropertyBadValueSizeErr;
        int32_t v;
        std::memcpy(&v, value, 4);
        // The record holds 16-bit dimensions: larger values cannot be described.
        if (v < 0 || v > 0x7FFF) return paramErr;
        if (id == kICMImageDescriptionPropertyID_EncodedWidth)
            record(desc)->width = int16_t(v);
        else
            record(desc)->height = int16_t(v);
        return noErr;
    }
    return kQTPropertyNotSupportedErr;
}

OSErr QTGetEffectSpeed(QTAtomContainer parameters, Fixed* framesPerSecond) {
    if (!parameters || !framesPerSecond) return paramErr;
    *framesPerSecond = 0;
    QTAtom atom = QTFindChildByIndex(parameters, kParentAtomIsContainer, FOUR_CHAR_CODE("sped"), 1, nullptr);
    if (!atom) return noErr;
    int32_t size = 0;
    Ptr data = nullptr;
    OSErr err = QTGetAtomDataPtr(parameters, atom, &size, &data);
    if (err) return err;
    if (size != 4 || !data) return codecBadDataErr;
    *framesPerSecond = Fixed(loadBE32(data));
    return noErr;
}

ComponentResult ImageCodecGetParameterList(ComponentInstance effect, QTAtomContainer* parameterDescription) {
    if (parameterDescription) *parameterDescription = nullptr;
    if (!effect || !parameterDescription) return badComponentInstance;
    ComponentDescription d{};
    if (GetComponentInfo(reinterpret_cast<Component>(effect), &d, nullptr, nullptr, nullptr) != noErr)
        return badComponentInstance;
    if (d.componentType != decompressorComponentType || !platform::isEffectType(d.componentSubType))
        return badComponentSelector;
    *parameterDescription = platform::newEffectParameterList(d.componentSubType);
    return *parameterDescription ? noErr : memFullErr;
}
