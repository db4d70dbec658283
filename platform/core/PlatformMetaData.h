// Movie metadata stores: the items of metadata that a movie, track or media carries, each a key
// and a typed value, kept in one of three storage formats.
//
// - A store is reached through a reference-counted QTMetaDataRef: the engine makes one with a
//   count of 1 (platform::newMetaData), QTMetaDataRetain adds a count and QTMetaDataRelease
//   drops one; the store goes with its last count. References are tokens that are never reused,
//   so a reference to a store that has gone is refused with kQTMetaDataInvalidMetaDataErr, as is
//   a null or unknown one; no reference is ever dereferenced.
// - Storage formats: 'mdta', 'itms' and 'udta'. Format 0 (the wildcard) means every format where
//   items are searched or removed; an item is always added to one concrete format.
// - Key formats: 'mdta' and 'itlk' keys are texts (their bytes without a terminator, at least
//   one byte); 'itsk', 'udta' and 'comn' keys are four-character codes (exactly 4 bytes: the
//   code's 32-bit value in host byte order). The 'mdta' format stores 'mdta' keys, 'itms' stores
//   'itsk' and 'itlk' keys, 'udta' stores 'udta' keys. A common key ('comn') is a four-character
//   code that stands for the native key with the same code in the formats whose keys are codes:
//   an item added with a common key is stored with the 'udta' key of that code in 'udta' storage
//   and with the 'itsk' key in 'itms' storage, and a search by a common key finds those items in
//   either format. 'mdta' storage, whose keys are texts, has no common keys. Any other pairing of
//   key and storage format is refused with kQTMetaDataInvalidKeyFormatErr.
// - Items: a 64-bit identifier (never 0, never reused within a store), the storage format, the
//   key format and bytes, a data type, the value bytes and a locale text. Items are kept in the
//   order they were added; several items may share a key. Data types are the well-known ones
//   (kQTMetaDataType...); any other is refused with paramErr. Values may be empty.
// - Item properties (class 'mdit'): 'keyf' the key format and 'sfmt' the storage format (4-byte
//   OSType, value type 'ostp'), 'key ' the key bytes ('raw '), 'dtyp' the data type (4 bytes,
//   'ui32'), 'loc ' the locale ('cstr'): its text and terminator, no bytes when the item has none.
//   Only the locale can be set: given bytes up to their first zero byte become the text, and an
//   empty text removes it. Store properties (class 'meta'): 'fmts' the storage formats that hold
//   items, as 32-bit OSType entries in the order 'mdta', 'itms', 'udta' (no bytes for an empty
//   store), and 'ownt' the owner's type (4 bytes).
// - Property reads need a buffer of at least the property's size (else
//   kQTPropertyBadValueSizeErr); unknown classes or identifiers give kQTPropertyNotSupportedErr,
//   settings of a read-only property kQTPropertyReadOnlyErr.
// - Every call is safe from any thread.
#pragma once

#include "PlatformObjects.h"
#include "PlatformTypes.h"

struct OpaqueQTMetaDataRef;
using QTMetaDataRef = OpaqueQTMetaDataRef*;
using QTMetaDataItem = uint64_t;
using QTMetaDataStorageFormat = OSType;
using QTMetaDataKeyFormat = OSType;
using QTPropertyValueType = OSType;
using ConstQTPropertyValuePtr = const void*;

constexpr QTMetaDataItem kQTMetaDataItemUninitialized = 0;

constexpr QTMetaDataStorageFormat kQTMetaDataStorageFormatWildcard = 0;
constexpr QTMetaDataStorageFormat kQTMetaDataStorageFormatMdta = FOUR_CHAR_CODE("mdta");
constexpr QTMetaDataStorageFormat kQTMetaDataStorageFormatItms = FOUR_CHAR_CODE("itms");
constexpr QTMetaDataStorageFormat kQTMetaDataStorageFormatUdta = FOUR_CHAR_CODE("udta");

constexpr QTMetaDataKeyFormat kQTMetaDataKeyFormatWildcard = 0;
constexpr QTMetaDataKeyFormat kQTMetaDataKeyFormatMdta = FOUR_CHAR_CODE("mdta");
constexpr QTMetaDataKeyFormat kQTMetaDataKeyFormatItlk = FOUR_CHAR_CODE("itlk");
constexpr QTMetaDataKeyFormat kQTMetaDataKeyFormatItsk = FOUR_CHAR_CODE("itsk");
constexpr QTMetaDataKeyFormat kQTMetaDataKeyFormatUdta = FOUR_CHAR_CODE("udta");
constexpr QTMetaDataKeyFormat kQTMetaDataKeyFormatCommon = FOUR_CHAR_CODE("comn");

// Well-known data types. Text of type 2 is UTF-16 big-endian; numbers are big-endian.
enum : uint32_t {
    kQTMetaDataTypeBinary = 0,
    kQTMetaDataTypeUTF8 = 1,
    kQTMetaDataTypeUTF16BE = 2,
    kQTMetaDataTypePlatformText = 3,
    kQTMetaDataTypeGIF = 12,
    kQTMetaDataTypeJPEGImage = 13,
    kQTMetaDataTypePNGImage = 14,
    kQTMetaDataTypeSignedIntegerBE = 21,
    kQTMetaDataTypeUnsignedIntegerBE = 22,
    kQTMetaDataTypeFloat32BE = 23,
    kQTMetaDataTypeFloat64BE = 24,
    kQTMetaDataTypeBMPImage = 27,
};

constexpr QTPropertyClass kPropertyClass_MetaData = FOUR_CHAR_CODE("meta");
constexpr QTPropertyID kQTMetaDataPropertyID_StorageFormats = FOUR_CHAR_CODE("fmts");
constexpr QTPropertyID kQTMetaDataPropertyID_OwnerType = FOUR_CHAR_CODE("ownt");

constexpr QTPropertyClass kPropertyClass_MetaDataItem = FOUR_CHAR_CODE("mdit");
constexpr QTPropertyID kQTMetaDataItemPropertyID_Key = FOUR_CHAR_CODE("key ");
constexpr QTPropertyID kQTMetaDataItemPropertyID_KeyFormat = FOUR_CHAR_CODE("keyf");
constexpr QTPropertyID kQTMetaDataItemPropertyID_DataType = FOUR_CHAR_CODE("dtyp");
constexpr QTPropertyID kQTMetaDataItemPropertyID_StorageFormat = FOUR_CHAR_CODE("sfmt");
constexpr QTPropertyID kQTMetaDataItemPropertyID_Locale = FOUR_CHAR_CODE("loc ");

// A null, unknown or released reference.
constexpr OSStatus kQTMetaDataInvalidMetaDataErr = -2170;
// The search found no further item.
constexpr OSStatus kQTMetaDataNoMoreItemsErr = -2172;
// An item identifier that names no item of the store.
constexpr OSStatus kQTMetaDataInvalidItemErr = -2174;
// A storage format that is none of the three (or the wildcard where one format is needed).
constexpr OSStatus kQTMetaDataInvalidStorageFormatErr = -2175;
// An unknown key format, or one that the storage format does not take.
constexpr OSStatus kQTMetaDataInvalidKeyFormatErr = -2176;

// The reference with one more count (null, and no count, for a reference that is refused).
QTMetaDataRef QTMetaDataRetain(QTMetaDataRef metaData);
// Drops one count; the store goes with its last. Refused references are ignored.
void QTMetaDataRelease(QTMetaDataRef metaData);

// Store properties (class 'meta').
OSStatus QTMetaDataGetPropertyInfo(QTMetaDataRef metaData, QTPropertyClass inPropClass, QTPropertyID inPropID,
                                   QTPropertyValueType* outPropType, ByteCount* outPropValueSize,
                                   UInt32* outPropFlags);
OSStatus QTMetaDataGetProperty(QTMetaDataRef metaData, QTPropertyClass inPropClass, QTPropertyID inPropID,
                               ByteCount inPropValueSize, QTPropertyValuePtr outPropValueAddress,
                               ByteCount* outPropValueSizeUsed);

// Item properties (class 'mdit').
OSStatus QTMetaDataGetItemPropertyInfo(QTMetaDataRef metaData, QTMetaDataItem item,
                                       QTPropertyClass inPropClass, QTPropertyID inPropID,
                                       QTPropertyValueType* outPropType, ByteCount* outPropValueSize,
                                       UInt32* outPropFlags);
OSStatus QTMetaDataGetItemProperty(QTMetaDataRef metaData, QTMetaDataItem item, QTPropertyClass inPropClass,
                                   QTPropertyID inPropID, ByteCount inPropValueSize,
                                   QTPropertyValuePtr outPropValueAddress, ByteCount* outPropValueSizeUsed);
OSStatus QTMetaDataSetItemProperty(QTMetaDataRef metaData, QTMetaDataItem item, QTPropertyClass inPropClass,
                                   QTPropertyID inPropID, ByteCount inPropValueSize,
                                   ConstQTPropertyValuePtr inPropValueAddress);

// The item's value bytes. With a null buffer only the size is told (in outActualSize); with a
// buffer, it must hold the whole value (else kQTPropertyBadValueSizeErr).
OSStatus QTMetaDataGetItemValue(QTMetaDataRef metaData, QTMetaDataItem item, UInt8* outValuePtr,
                                ByteCount inValueSize, ByteCount* outActualSize);
// Replaces the item's value and data type.
OSStatus QTMetaDataSetItem(QTMetaDataRef metaData, QTMetaDataItem item, const UInt8* inValuePtr,
                           ByteCount inValueSize, UInt32 inDataType);
// A new item with the key and value in the storage format; its identifier in outItem (which may
// be null), 0 on failure.
OSStatus QTMetaDataAddItem(QTMetaDataRef metaData, QTMetaDataStorageFormat inMetaDataFormat,
                           QTMetaDataKeyFormat inKeyFormat, const UInt8* inKeyPtr, ByteCount inKeySize,
                           const UInt8* inValuePtr, ByteCount inValueSize, UInt32 inDataType,
                           QTMetaDataItem* outItem);
// The first item after inCurrentItem (0: from the start) in the storage format (0: any) whose
// key matches (key format 0: any key); kQTMetaDataNoMoreItemsErr and 0 when none is left.
OSStatus QTMetaDataGetNextItem(QTMetaDataRef metaData, QTMetaDataStorageFormat inMetaDataFormat,
                               QTMetaDataItem inCurrentItem, QTMetaDataKeyFormat inKeyFormat,
                               const UInt8* inKeyPtr, ByteCount inKeySize, QTMetaDataItem* outNextItem);
OSStatus QTMetaDataRemoveItem(QTMetaDataRef metaData, QTMetaDataItem item);
// Removes every item of the storage format (0: any) with the key; a key is required. Finding
// none is no failure.
OSStatus QTMetaDataRemoveItemsWithKey(QTMetaDataRef metaData, QTMetaDataStorageFormat inMetaDataFormat,
                                      QTMetaDataKeyFormat inKeyFormat, const UInt8* inKeyPtr,
                                      ByteCount inKeySize);

namespace platform {
// A new empty store with a count of 1 for an owner of that type (a movie 'moov', a track 'trak'
// or a media 'mdia'), for the movie layer to hand out; null when memory runs out.
QTMetaDataRef newMetaData(OSType ownerType);
} // namespace platform
