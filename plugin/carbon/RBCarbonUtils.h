// Host utilities that the Carbon build carries beside the shared bridge utilities: a folder item's
// path with a success flag, a host string's length in bytes as the host measures it, and a host
// array of four integers as a QuickDraw rectangle.
#pragma once

#include "PlatformTypes.h"
#include "REALplugin.h"

#include <cstdint>

// The item's POSIX path as a new NUL-terminated text (delete[] it), with `ok` telling whether
// there was one. A nil item gives null and leaves `ok` as it was.
unsigned char* RBFolderitemToCrossPlatformPath(REALfolderItem item, unsigned char& ok);

// The string's length in bytes, through the host's "LenB( s as string ) as integer"; 0 for nil
// or when the host has no such method.
int32_t RBUtils_StringLength(REALstring s);

// An array whose upper bound is 3 holds left, top, right, bottom (with `sizes`: left, top, width,
// height) -> the rectangle, 0. Any other array, or an edge outside the signed 16-bit range, zeroes
// the rectangle -> -50. Nothing is written without a rectangle (-50).
int32_t RBUtils_IntArrayToRect(REALintArray values, Rect* rect, unsigned char sizes);
