// Typed properties of platform objects: the one pattern of three calls (information, get, set)
// that components, image and sound descriptions, movies, tracks, compression options and
// sessions and sample tables share. Properties live in a store kept per object (by address);
// the layers that make these objects give them their properties through the store, and remove
// them when the object goes.
#pragma once

#include "PlatformDescriptions.h"
#include "PlatformObjects.h"
#include "PlatformTypes.h"

using ComponentValueType = OSType;
using ComponentValuePtr = void*;
using ConstComponentValuePtr = const void*;
using ComponentPropertyClass = OSType;
using ComponentPropertyID = OSType;

enum : uint32_t {
    kComponentPropertyFlagCanSetLater = 1u << 0,
    kComponentPropertyFlagCanSetNow = 1u << 1,
    kComponentPropertyFlagCanGetLater = 1u << 2,
    kComponentPropertyFlagCanGetNow = 1u << 3,
    kComponentPropertyFlagHasExtendedInfo = 1u << 4,
    kComponentPropertyFlagValueMustBeReleased = 1u << 5,
    kComponentPropertyFlagValueIsCFTypeRef = 1u << 6,
};

constexpr OSErr kQTPropertyBadValueSizeErr = -2184;
constexpr OSErr kQTPropertyReadOnlyErr = -2191;
constexpr OSErr kQTPropertyNotSupportedErr = -2195;
constexpr OSErr kQTPropertyAskLaterErr = -2200;

namespace platform {
// Gives `object` the property (class, id) with its value type, flags and value, replacing an
// earlier one.
OSStatus setStoredProperty(const void* object, OSType propClass, OSType propID, OSType valueType,
                           uint32_t flags, const void* value, uint32_t size);
void removeStoredProperties(const void* object);
// The three calls of a family over the store, for families whose layer adds rules of its own.
OSStatus storedPropertyInfo(const void* object, OSType cls, OSType id, OSType* type, uint32_t* size,
                            uint32_t* flags);
OSStatus storedPropertyGet(const void* object, OSType cls, OSType id, uint32_t size, void* value,
                           uint32_t* sizeUsed);
OSStatus storedPropertySet(const void* object, OSType cls, OSType id, uint32_t size, const void* value);
} // namespace platform

// Each family: information (value type, size, flags), get (into a buffer of `size` bytes; the
// bytes written in `sizeUsed`) and set (exactly the property's size). Unknown properties give
// kQTPropertyNotSupportedErr, a null object paramErr.
ComponentResult QTGetComponentPropertyInfo(ComponentInstance inComponent, ComponentPropertyClass inPropClass,
                                           ComponentPropertyID inPropID, ComponentValueType* outPropType,
                                           ByteCount* outPropValueSize, UInt32* outPropertyFlags);
ComponentResult QTGetComponentProperty(ComponentInstance inComponent, ComponentPropertyClass inPropClass,
                                       ComponentPropertyID inPropID, ByteCount inPropValueSize,
                                       ComponentValuePtr outPropValueAddress,
                                       ByteCount* outPropValueSizeUsed);
ComponentResult QTSetComponentProperty(ComponentInstance inComponent, ComponentPropertyClass inPropClass,
                                       ComponentPropertyID inPropID, ByteCount inPropValueSize,
                                       ConstComponentValuePtr inPropValueAddress);

// The image description family is the imaging layer's (PlatformImageDescriptions.h): its
// properties live in the description itself.

OSStatus QTSoundDescriptionGetPropertyInfo(SoundDescriptionHandle desc, ComponentPropertyClass cls,
                                           ComponentPropertyID id, ComponentValueType* type, ByteCount* size,
                                           UInt32* flags);
OSStatus QTSoundDescriptionGetProperty(SoundDescriptionHandle desc, ComponentPropertyClass cls,
                                       ComponentPropertyID id, ByteCount size, ComponentValuePtr value,
                                       ByteCount* sizeUsed);
OSStatus QTSoundDescriptionSetProperty(SoundDescriptionHandle desc, ComponentPropertyClass cls,
                                       ComponentPropertyID id, ByteCount size, ConstComponentValuePtr value);

// Movies and tracks: defined by the movie layer (PlatformMoviePlayback.h), which answers the audio
// and visual classes itself and the other properties from the store.
OSErr QTGetMoviePropertyInfo(Movie movie, ComponentPropertyClass cls, ComponentPropertyID id,
                             ComponentValueType* type, ByteCount* size, UInt32* flags);
OSErr QTGetMovieProperty(Movie movie, ComponentPropertyClass cls, ComponentPropertyID id, ByteCount size,
                         ComponentValuePtr value, ByteCount* sizeUsed);
OSErr QTSetMovieProperty(Movie movie, ComponentPropertyClass cls, ComponentPropertyID id, ByteCount size,
                         ConstComponentValuePtr value);

OSErr QTGetTrackPropertyInfo(Track track, ComponentPropertyClass cls, ComponentPropertyID id,
                             ComponentValueType* type, ByteCount* size, UInt32* flags);
OSErr QTGetTrackProperty(Track track, ComponentPropertyClass cls, ComponentPropertyID id, ByteCount size,
                         ComponentValuePtr value, ByteCount* sizeUsed);
OSErr QTSetTrackProperty(Track track, ComponentPropertyClass cls, ComponentPropertyID id, ByteCount size,
                         ConstComponentValuePtr value);

// The compression options family is the imaging layer's (PlatformCompressionOptions.h).

// The compression session family is the imaging layer's (PlatformCompressionSessions.h).

OSStatus QTSampleTableGetPropertyInfo(QTSampleTableRef table, ComponentPropertyClass cls,
                                      ComponentPropertyID id, ComponentValueType* type, ByteCount* size,
                                      UInt32* flags);
OSStatus QTSampleTableGetProperty(QTSampleTableRef table, ComponentPropertyClass cls, ComponentPropertyID id,
                                  ByteCount size, ComponentValuePtr value, ByteCount* sizeUsed);
OSStatus QTSampleTableSetProperty(QTSampleTableRef table, ComponentPropertyClass cls, ComponentPropertyID id,
                                  ByteCount size, ConstComponentValuePtr value);
