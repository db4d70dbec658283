// The generated standard data dictionary (VUXDicomLibCoreDictionary.cpp).
#pragma once

#include "VUXDicomLib.h"

namespace VUX::VUXDCM::CoreDictionary {

// One index row per group, in group order.
extern const dicmDictEntryIndex entriesIndexes[];
extern const uint32_t entriesIndexesCount;
// Rows of all groups together.
extern const uint32_t entriesCount;

// The tags whose VR depends on context: their names only, and absent from entriesIndexes.
extern const dicmDictEntryIndex multiVRTagRefs[];
extern const uint32_t multiVRTagRefsCount;

} // namespace VUX::VUXDCM::CoreDictionary
