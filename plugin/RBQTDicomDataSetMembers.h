// What the data set host classes share with their named group views.
#pragma once

#include "REALplugin.h"

class KelvoDicomDataSet;

// The data set a host object holds (a view included), or null.
KelvoDicomDataSet* FenraDataSetOf(REALobject self);
