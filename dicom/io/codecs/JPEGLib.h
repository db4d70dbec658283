// Lossless JPEG (ITU-T T.81 process 14: Huffman coded, predictors 1-7) for DICOM frames: a
// decoder for the lossless JPEG transfer syntaxes and an encoder for 8-bit single-component frames.
//
// Every call keeps its working state to itself, so calls may run side by side on different
// threads. Buffers handed over to or returned by these functions are malloc blocks (free()).
#pragma once

#include "PlatformTypes.h"

// Statuses. Besides noErr, paramErr (-50) for a missing argument and memFullErr (-108).
enum : int32_t {
    kJPEGNoSourceErr = -107,           // no source bytes (null, or a size of 0)
    kJPEGMaxSampleValueErr = -6500,    // encoder: maximum sample value outside 2-65535
    kJPEGTooManyComponentsErr = -6501, // more than 4 components in the scan
    kJPEGSamplingFactorsErr = -6502,   // a component sampled other than 1 x 1
    kJPEGNoSOIErr = -6503,             // the stream does not start with FF D8
    kJPEGNoScanErr = -6504,            // no scan follows the frame header
    kJPEGFrameTypeErr = -6505,         // the frame is not SOF0, SOF1 or SOF3
    // The stream is unusable; decoding stops and nothing is delivered.
    kJPEGEmptyImageErr = -6510,      // width, height or component count of 0 (DNL not supported)
    kJPEGPrecisionErr = -6511,       // sample precision outside 2-16
    kJPEGBogusSOFErr = -6512,        // frame header length does not match its components
    kJPEGBogusSOSErr = -6513,        // scan header length or component count is wrong
    kJPEGBadComponentErr = -6514,    // scan names a component the frame does not have
    kJPEGBogusDHTCountsErr = -6515,  // Huffman table with more values than it may hold
    kJPEGBogusDHTIndexErr = -6516,   // Huffman table index of 4 or more, or an AC table
    kJPEGBadHuffmanTableErr = -6517, // code lengths that no prefix code can have, or values above 16
    kJPEGUndefinedTableErr = -6518,  // scan uses a Huffman table that was never defined
    kJPEGBogusDRIErr = -6519,        // restart interval segment of a length other than 4
    kJPEGCorruptDataErr = -6520,     // bad Huffman code, missing restart marker, data cut short
    kJPEGUnsupportedErr = -6521,     // components in scans of their own, or restarts inside a row
    kJPEGOutputTooSmallErr = -6522,  // the frame does not fit the caller's buffer
    kJPEGDimensionErr = -6523,       // encoder: width or height above 65535
    kJPEGNoHuffmanCodeErr = -6524,   // encoder: a difference the Huffman table has no code for
};

// One Huffman table: its definition (bits, huffval) and the forms derived from it.
struct HuffmanTable {
    uint8_t bits[17];     // bits[l]: number of codes of length l (1-16)
    uint8_t huffval[256]; // symbols in order of increasing code length
    // Encoding form: code and code length of each symbol (length 0: no code).
    uint16_t ehufco[256];
    uint8_t ehufsi[256];
    // Decoding form (T.81 F.2.2.3): codes of length l run from mincode[l] to maxcode[l] and map to
    // huffval[valptr[l] ...]; maxcode[l] is -1 when there is no code of that length, and maxcode[17]
    // ends every search.
    int32_t mincode[17];
    int32_t maxcode[18];
    int16_t valptr[17];
    // 8-bit lookahead: for every 8-bit prefix that starts with a code of at most 8 bits, that code's
    // length and symbol; numbits 0 where the code is longer.
    uint8_t numbits[256];
    uint8_t value[256];
};

// Derives the encoding and decoding forms of a table from bits and huffval. False when the code
// lengths oversubscribe the code space (no prefix code has them); the table is then unusable.
bool FixHuffTbl(HuffmanTable* htbl);

// Decodes one lossless JPEG stream of *size bytes at *src (the caller keeps its buffer) into dst,
// which holds dstCapacity bytes. Samples come out row by row, the samples of a pixel together in
// scan order: one byte each for precisions up to 8 bits, a 16-bit value in host byte order each
// above 8 bits. On success *size is the number of bytes written; on failure it is 0.
OSStatus DecodeJPEGData(uint8_t** src, uint16_t* dst, uint32_t* size, uint32_t dstCapacity);

// As DecodeJPEGData, but takes over the source: the block at *src is freed and *src set to null
// whatever the result. On success *dst is a new block with the samples and *size its size. With
// verbose set, the frame's precision, height, width and component count are first written to the
// standard error stream.
OSStatus DecodeJPEGImage(uint8_t** src, uint32_t* size, void** dst, uint32_t verbose);

// As DecodeJPEGImage, but the samples replace the source in *buffer (null on failure).
OSStatus DecodeJPEGImage1Buffer(void** buffer, uint32_t* size);

// Encoding parameters, an array of seven values.
enum : uint32_t {
    kJPEGParamOptimalTables = 0, // nonzero: Huffman tables built for the frame; 0: standard tables
    kJPEGParamRestartRows = 1,   // restart interval in rows (0: no restarts)
    kJPEGParamPointTransform = 2,
    kJPEGParamWidth = 3,
    kJPEGParamHeight = 4,
    kJPEGParamPredictors = 5,     // n: the predictors 1 ... n are tried and the best one kept
    kJPEGParamMaxSampleValue = 6, // 2-65535; the precision is its bit length
    kJPEGParamCount = 7
};

// Encodes width x height 8-bit samples (one component, row by row) as one lossless JPEG stream of
// even length. On success *out is a new block of *outSize bytes.
OSStatus JPEG14Encode(const uint8_t* samples, void** out, uint32_t* outSize, const uint32_t* params);

// Diagnostic aid: prints "n: value " for each of count samples to the standard output, then a line
// feed.
void PrintMCU(int32_t count, const uint16_t* samples);
