// The foundation's small free functions: host byte order, in-place swapping of number arrays,
// four-character codes to and from their characters, bytes to and from hexadecimal digits, the
// 16-bit ones'-complement checksum, and freeing of C strings made by the foundation.
//
// A four-character code is an unsigned 32-bit value whose most significant byte is the first
// character: the code of "moov" is 0x6D6F6F76 on every host.
#pragma once

#include <cstdint>

namespace VUX {

// Determined on the first call and cached.
bool isPlatformLittleEndian();

// Writes the four characters of `code`, first character first, into out[0..3] (no terminator).
// Code 0 gives four zero bytes. Null `out`: -107.
int32_t ostypeToChar(uint32_t code, char* out);

// `code` becomes 0 first. Null text: -107; a text that is not exactly four characters long: -50.
int32_t charToOSType(const char* text, uint32_t& code);

// Reverses the bytes of each of `count` elements in place. Null data: -107; a count of 0 or
// below does nothing. Provided for uint16_t, int16_t, uint32_t, int32_t, float and double.
template <typename T> int32_t swapDataEndianess(T* data, int64_t count);

// Two upper-case hexadecimal digits, high nibble first, and a NUL into out[0..2].
void charToHex(uint8_t byte, char* out);

// Reads at most two digits 0-9 or A-F; the first other character (lower case included) ends
// the reading and leaves the value built so far.
void hexToChar(const char* text, uint8_t& byte);

// The Internet ones'-complement checksum of the block, summed as 16-bit words in host order. An
// empty block gives 0xFFFF.
uint16_t bsdChecksum(const void* data, uint64_t length);

// Deletes a string made with new[] and nulls the pointer.
void freeVUXCString(char*& str);

} // namespace VUX
