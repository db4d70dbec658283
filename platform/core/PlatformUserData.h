// User data lists: typed, indexed items of raw bytes that movies, tracks, media, sequence
// grabbers and graphics importers and exporters carry (names, copyright texts, controller
// types, image metadata).
//
// - Items are grouped by type; types keep the order in which they first got an item, and a type
//   whose last item is removed is gone from that order. Indexes count from 1 within a type. The
//   item calls that read or write one item (GetUserData, GetUserDataItem, SetUserDataItem and
//   the text calls) also take index 0 for the first item, as callers that keep a single item of
//   a type write it; RemoveUserData takes 1 to the count only, so a wrong index never removes
//   anything. An index that names no item gives userDataItemNotFound.
// - Type 0 is no type: GetNextUserDataType uses it to start and to end the walk, and adding or
//   setting an item of type 0 is refused with paramErr.
// - A type holds at most 32767 items (its count is 16 bits); a further item is refused with
//   paramErr.
// - Text items hold strings in several languages: a sequence of [16-bit length][16-bit
//   language][bytes], big-endian, with no terminators. The text calls refuse an item whose bytes
//   do not follow that layout with paramErr and never read past its end.
// - The flat form (PutUserDataIntoHandle, NewUserDataFromHandle) is the content of a 'udta'
//   atom: one big-endian [32-bit size][type][data] atom per item, types in their order and items
//   in index order within a type, with no trailing zero. Reading also accepts the 32-bit zero that
//   some writers put after the last atom; every size is checked against the bytes that remain,
//   and anything malformed is refused with paramErr, leaving no user data.
// - Unknown or disposed user data references are refused with paramErr, never dereferenced.
//   Every call is safe from any thread, and sets the value that GetMoviesError() answers.
#pragma once

#include "PlatformTypes.h"

struct OpaqueUserData;
using UserData = OpaqueUserData*;

constexpr OSErr userDataItemNotFound = -2026;

// A new empty list (null on failure).
OSErr NewUserData(UserData* theUserData);
OSErr DisposeUserData(UserData theUserData);

// The number of items of the type (0 for an unknown list).
int16_t CountUserDataType(UserData theUserData, OSType udType);
// The type after `udType` in the list's order: the first for 0, and 0 after the last or for a
// type the list does not hold.
OSType GetNextUserDataType(UserData theUserData, OSType udType);

// The item's bytes into `data`, resized to fit.
OSErr GetUserData(UserData theUserData, Handle data, OSType udType, int32_t index);
// The item's bytes into a buffer of exactly the item's size (another size: paramErr).
OSErr GetUserDataItem(UserData theUserData, void* data, int32_t size, OSType udType, int32_t index);
// Replaces the item's bytes; the index one past the last item adds a new item there.
OSErr SetUserDataItem(UserData theUserData, const void* data, int32_t size, OSType udType, int32_t index);
// Appends a copy of the handle's bytes as a new item of the type.
OSErr AddUserData(UserData theUserData, Handle data, OSType udType);
OSErr RemoveUserData(UserData theUserData, OSType udType, int32_t index);

// The item's string in the language into `text`, resized to fit; userDataItemNotFound when the
// item holds no string in that language.
OSErr GetUserDataText(UserData theUserData, Handle text, OSType udType, int32_t index, int16_t itlRegionTag);
// Puts the handle's bytes (at most 65535) into the item as its string in the language, replacing
// the string it had in that language; the index one past the last item adds a new item there.
OSErr AddUserDataText(UserData theUserData, Handle data, OSType udType, int32_t index, int16_t itlRegionTag);
// Removes the item's string in the language; the item stays, even when no string is left.
OSErr RemoveUserDataText(UserData theUserData, OSType udType, int32_t index, int16_t itlRegionTag);

// The flat form into `h`, resized to fit.
OSErr PutUserDataIntoHandle(UserData theUserData, Handle h);
// A new list read from the flat form in `h` (null on failure).
OSErr NewUserDataFromHandle(Handle h, UserData* theUserData);

namespace platform {
// Whether the reference names a list that has not been disposed of.
bool isUserData(UserData theUserData);
} // namespace platform
