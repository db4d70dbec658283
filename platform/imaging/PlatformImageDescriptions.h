// Image description records beyond their 86-byte head: the colour table that may follow the
// record, the typed extensions that follow that, and the property accessor that reads and writes
// extensions (and a few values computed from the record) by property id.
//
// An extension is an atom: a 32-bit big-endian size (header included), a four-character type and
// its data, which is kept big-endian as descriptions are stored in files; the property accessor
// hands values over in host order. The record's `idSize` always counts the whole handle.
#pragma once

#include "PlatformAtoms.h"
#include "PlatformCF.h"
#include "PlatformDescriptions.h"
#include "PlatformMemory.h"
#include "PlatformProperties.h"
#include "PlatformTypes.h"

constexpr OSErr codecExtensionNotFoundErr = -8971;

constexpr OSType kQTPropertyClass_ImageDescription = FOUR_CHAR_CODE("idsc");

// Property ids of the image description class. Stored extensions: gamma, field information,
// colour parameters, clean aperture, pixel aspect ratio. Computed from the record and the clean
// aperture and aspect ratio: the clean width and height, the clean, production and encoded
// aperture dimensions, the encoded width and height (settable: they are the record's width and
// height) and a summary text.
enum : OSType {
    kICMImageDescriptionPropertyID_GammaLevel = FOUR_CHAR_CODE("gama"), // Fixed
    kICMImageDescriptionPropertyID_FieldInfo = FOUR_CHAR_CODE("fiel"),  // FieldInfoImageDescriptionExtension2
    kICMImageDescriptionPropertyID_NCLCColorInfo =
        FOUR_CHAR_CODE("nclc"), // NCLCColorInfoImageDescriptionExtension
    kICMImageDescriptionPropertyID_CleanAperture =
        FOUR_CHAR_CODE("clap"), // CleanApertureImageDescriptionExtension
    kICMImageDescriptionPropertyID_PixelAspectRatio =
        FOUR_CHAR_CODE("pasp"), // PixelAspectRatioImageDescriptionExtension
    kICMImageDescriptionPropertyID_CleanApertureWidth = FOUR_CHAR_CODE("claw"),           // Fixed
    kICMImageDescriptionPropertyID_CleanApertureHeight = FOUR_CHAR_CODE("clah"),          // Fixed
    kICMImageDescriptionPropertyID_CleanApertureDimensions = FOUR_CHAR_CODE("cadi"),      // FixedPoint
    kICMImageDescriptionPropertyID_ProductionApertureDimensions = FOUR_CHAR_CODE("prdi"), // FixedPoint
    kICMImageDescriptionPropertyID_EncodedPixelsDimensions = FOUR_CHAR_CODE("endi"),      // FixedPoint
    kICMImageDescriptionPropertyID_EncodedWidth = FOUR_CHAR_CODE("encw"),                 // SInt32
    kICMImageDescriptionPropertyID_EncodedHeight = FOUR_CHAR_CODE("ench"),                // SInt32
    kICMImageDescriptionPropertyID_SummaryString =
        FOUR_CHAR_CODE("isum"), // CFStringRef, released by the caller
};

// Value types the information call reports.
enum : OSType {
    kQTPropertyValueType_Fixed = FOUR_CHAR_CODE("fixd"),
    kQTPropertyValueType_FixedPoint = FOUR_CHAR_CODE("fixp"),
    kQTPropertyValueType_SInt32 = FOUR_CHAR_CODE("sl32"),
    kQTPropertyValueType_CFStringRef = FOUR_CHAR_CODE("cfst"),
    kQTPropertyValueType_Record = FOUR_CHAR_CODE("data"),
};

#pragma pack(push, 2)
struct FieldInfoImageDescriptionExtension2 {
    uint8_t fields;
    uint8_t detail;
};
static_assert(sizeof(FieldInfoImageDescriptionExtension2) == 2);

struct NCLCColorInfoImageDescriptionExtension {
    OSType colorParamType; // 'nclc'
    uint16_t primaries;
    uint16_t transferFunction;
    uint16_t matrix;
};
static_assert(sizeof(NCLCColorInfoImageDescriptionExtension) == 10);

struct CleanApertureImageDescriptionExtension {
    int32_t cleanApertureWidthN;
    int32_t cleanApertureWidthD;
    int32_t cleanApertureHeightN;
    int32_t cleanApertureHeightD;
    int32_t horizOffN;
    int32_t horizOffD;
    int32_t vertOffN;
    int32_t vertOffD;
};
static_assert(sizeof(CleanApertureImageDescriptionExtension) == 32);

struct PixelAspectRatioImageDescriptionExtension {
    int32_t hSpacing;
    int32_t vSpacing;
};
static_assert(sizeof(PixelAspectRatioImageDescriptionExtension) == 8);
#pragma pack(pop)

// Bytes of the colour table that follows the record when its clutID is 0 (0 when there is none
// or the handle cannot hold the table it announces). The table's header is in host order.
Size ImageDescriptionColorTableSize(ImageDescriptionHandle desc);

// Adds a copy of `extension`'s bytes as an extension of type `idType` after the existing ones.
OSErr AddImageDescriptionExtension(ImageDescriptionHandle desc, Handle extension, int32_t idType);
// A new handle with the data of the index-th (1-based) extension of the type.
// codecExtensionNotFoundErr when there is no such extension.
OSErr GetImageDescriptionExtension(ImageDescriptionHandle desc, Handle* extension, int32_t idType,
                                   int32_t index);
OSErr CountImageDescriptionExtensionType(ImageDescriptionHandle desc, int32_t idType, int32_t* count);
OSErr RemoveImageDescriptionExtension(ImageDescriptionHandle desc, int32_t idType, int32_t index);
// The type of the first extension whose type is above *idType (0 starts; 0 back when none).
OSErr GetNextImageDescriptionExtensionType(ImageDescriptionHandle desc, int32_t* idType);

// A new 86-byte description of the effect: its cType is the effect type.
OSErr MakeImageDescriptionForEffect(OSType effectType, ImageDescriptionHandle* idh);

// The image description's property accessor (class kQTPropertyClass_ImageDescription).
OSStatus ICMImageDescriptionGetPropertyInfo(ImageDescriptionHandle desc, ComponentPropertyClass cls,
                                            ComponentPropertyID id, ComponentValueType* type, ByteCount* size,
                                            UInt32* flags);
OSStatus ICMImageDescriptionGetProperty(ImageDescriptionHandle desc, ComponentPropertyClass cls,
                                        ComponentPropertyID id, ByteCount size, ComponentValuePtr value,
                                        ByteCount* sizeUsed);
OSStatus ICMImageDescriptionSetProperty(ImageDescriptionHandle desc, ComponentPropertyClass cls,
                                        ComponentPropertyID id, ByteCount size, ConstComponentValuePtr value);

// The effect's frame rate from its parameters: the big-endian Fixed of the top-level 'sped'
// atom; 0 (a real-time effect) when there is none.
OSErr QTGetEffectSpeed(QTAtomContainer parameters, Fixed* framesPerSecond);
// A new container with the effect's parameter description (its 'srcs' atom holds the number
// of sources, big-endian). Effects register their lists with the codec registry; an instance
// of a component that has none answers badComponentSelector.
ComponentResult ImageCodecGetParameterList(ComponentInstance effect, QTAtomContainer* parameterDescription);
// The importer's description of its image (a new handle the caller disposes); defined with the
// graphics importers (PlatformGraphicsImport.cpp).
ComponentResult GraphicsImportGetImageDescription(GraphicsImportComponent importer,
                                                  ImageDescriptionHandle* desc);
