// What the data set host classes share with their named group views.
#pragma once

#include "REALplugin.h"

#include <cstdint>

class KelvoDicomDataNode;
class KelvoDicomDataSet;

// The data set a host object holds (a view included), or null.
KelvoDicomDataSet* FenraDataSetOf(REALobject self);

// Whether a raw value can be stored as the element of the set's group: its representation is the
// one the dictionary gives the element (any, for an element the dictionary does not know). A value
// of another representation would leave a new element without its value.
bool FenraValueFitsElement(KelvoDicomDataSet& set, uint16_t element, KelvoDicomDataNode& value);
