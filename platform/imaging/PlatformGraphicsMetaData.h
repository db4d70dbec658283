// Image metadata of graphics importers and exporters: each instance keeps a user data list of
// its own (names, copyright and other texts, in the flat user data form) that callers copy out
// of it and, for exporters, into it. An instance with nothing stored has an empty list. Calls on
// a null instance give badComponentInstance; every call is safe from any thread.
#pragma once

#include "PlatformObjects.h"
#include "PlatformUserData.h"

using GraphicsExportComponent = ComponentInstance;

// Appends the instance's stored items to `userData`.
ComponentResult GraphicsImportGetMetaData(GraphicsImportComponent ci, UserData userData);
ComponentResult GraphicsExportGetMetaData(GraphicsExportComponent ci, UserData userData);
// Replaces the instance's stored items with a copy of those of `userData`.
ComponentResult GraphicsExportSetMetaData(GraphicsExportComponent ci, UserData userData);

namespace platform {
// Drops what the instance keeps, for its component's close callback: a later instance at the
// same address starts with nothing.
void forgetGraphicsMetaData(ComponentInstance ci);
} // namespace platform
