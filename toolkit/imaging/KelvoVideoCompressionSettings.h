// Video compression settings in an atom container, laid out as the platform's standard
// compression dialog keeps them: the root holds a 'vide' atom whose children carry the settings,
// each stored big-endian and packed without padding:
//
//   'sptl' 14 bytes  codec type (u32), codec component (u32, written 0, ignored on reading),
//                    depth (i16), spatial quality (u32)
//   'tprl' 12 bytes  temporal quality (u32), frame rate (Fixed), key-frame rate (i32)
//   'drat' 16 bytes  data rate (i32, bytes a second), frame duration (i32), minimum spatial
//                    quality (u32), minimum temporal quality (u32)
//   'wdth'  4 bytes  clean width (Fixed)
//   'hegt'  4 bytes  clean height (Fixed)
//
// The first 'vide' of the root and the first child of each type are the ones read and written;
// 'vide' itself is never created here. Mode 1 writes, mode 0 reads; other modes do nothing.
#pragma once

#include "PlatformAtoms.h"
#include "PlatformTypes.h"

constexpr QTAtomType kQTSettingsVideo = FOUR_CHAR_CODE("vide");
constexpr QTAtomType kQTSettingsSpatial = FOUR_CHAR_CODE("sptl");
constexpr QTAtomType kQTSettingsTemporal = FOUR_CHAR_CODE("tprl");
constexpr QTAtomType kQTSettingsDataRate = FOUR_CHAR_CODE("drat");
constexpr QTAtomType kQTSettingsCleanWidth = FOUR_CHAR_CODE("wdth");
constexpr QTAtomType kQTSettingsCleanHeight = FOUR_CHAR_CODE("hegt");

constexpr int32_t kQTSettingsSpatialSize = 14;
constexpr int32_t kQTSettingsTemporalSize = 12;
constexpr int32_t kQTSettingsDataRateSize = 16;
constexpr int32_t kQTSettingsDimensionSize = 4;

// Copies the data of child `type` of 'vide' into `out`. -50 for a null argument or a type that is
// none of the five; -2101 when 'vide' or the child is missing; else the copy's result.
int16_t VideoSettingsGetDataAtomType(QTAtomContainer container, QTAtomType type, Handle out);

// Writes child `type` of 'vide', replacing its data or inserting it first among the children.
// 'sptl', 'tprl' and 'drat' take their record already big-endian; 'wdth' and 'hegt' take a native
// Fixed, stored big-endian. -50 for a null argument or another type; -2101 without 'vide'.
int16_t VideoSettingsSetDataAtomType(QTAtomContainer container, QTAtomType type, void* data);

// Clean dimensions: mode 1 writes 'hegt' then 'wdth' (each when given), mode 0 reads them (each
// when asked for), both stopping at the first error. A value that is not exactly 4 bytes reads as
// -2101 and leaves its output alone. -50 for a null container; -108 without scratch memory.
int16_t QTSettings_DimensionsValues(QTAtomContainer container, Fixed* width, Fixed* height, int mode);

// Spatial settings. Writing leaves the bytes of absent fields 0 (and the codec component always);
// reading gives each field asked for, or -2101 (outputs untouched) when the record is missing or
// not exactly 14 bytes. -50 for a null container; -108 without scratch memory.
int16_t SpatialSettingsValues(QTAtomContainer container, uint32_t* codecType, uint32_t* spatialQuality,
                              int16_t* depth, int mode);

// Temporal and data-rate settings, in the same way; a record that is missing or of another size
// leaves the outputs untouched.
void TemporalSettingsValues(QTAtomContainer container, uint32_t* temporalQuality, int32_t* keyFrameRate,
                            Fixed* frameRate, int mode);
void DataRateSettingsValues(QTAtomContainer container, int32_t* dataRate, int32_t* frameDuration,
                            uint32_t* minSpatialQuality, uint32_t* minTemporalQuality, int mode);
