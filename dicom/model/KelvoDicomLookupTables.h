// Palette-colour lookup tables. A KelvoDicomBaseLut is one table with its descriptor (number of
// entries, first mapped value, bits per entry); a KelvoDicomPixelLut holds the red, green, blue and
// optional alpha tables of a palette and turns rows of 8-bit indices into packed colour bytes.
// The two are separate classes: a palette is not a table.
#pragma once

#include "KelvoCoreObjects.h"
#include "KelvoDicomData.h"

#include <cstdint>

// Table selectors of a palette.
using lutselector = int32_t;
constexpr lutselector kDicomLutRed = 1;
constexpr lutselector kDicomLutGreen = 2;
constexpr lutselector kDicomLutBlue = 3;
constexpr lutselector kDicomLutAlpha = 4;

// A descriptor's number of entries is a 16-bit value where 0 stands for 65536, so no table holds
// more entries than that.
constexpr uint32_t kDicomLutMaxEntries = 65536;

class KelvoDicomBaseLut : public Kelvo_QTObj {
  public:
    KelvoDicomBaseLut();
    KelvoDicomBaseLut(uint32_t entries, uint16_t bits);
    KelvoDicomBaseLut(const KelvoDicomBaseLut& other);
    KelvoDicomBaseLut& operator=(const KelvoDicomBaseLut& other);
    ~KelvoDicomBaseLut() override;

    const char* qtObjName() const override { return "KelvoDicomBaseLut"; }
    bool qtObjIsValid() override { return _data != nullptr; }
    bool qtObjIsValid() const override { return _data != nullptr; }
    void defaultStatus() override;
    void copy(Kelvo_QTObj& other) override;
    Kelvo_QTObj* clone() override;
    // A zeroed table of entries × bits / 8 bytes (any former data is freed); -50 for a size no
    // table can have, -108 when memory runs out.
    virtual void init(uint32_t entries, uint16_t bits);

    // init() on an emptied table; -50 for bits other than 8 and 16 or entries 0.
    void allocate(uint32_t entries, uint16_t bits);

    uint32_t entries() const { return _entries; }
    uint32_t firstMappedValue() const { return _firstMapped; }
    void firstMappedValue(uint32_t value) { _firstMapped = value; }
    uint16_t bitsPerEntry() const { return _bits; }
    uint32_t lastMappedValue() const { return _entries + _firstMapped - 1; }
    uint32_t sizeOfLuts() const { return uint32_t(_bits / 8) * _entries; }
    uint8_t* lutData() const { return _data; }
    operator uint8_t*() const { return _data; }

    // Copies sizeOfLuts() bytes from `source`; -50 for a null source. Nothing for a table without
    // data. Returns the status.
    int32_t lutData(const uint8_t* source);
    // The same from a source of `size` bytes: a shorter source fills the table's head and leaves
    // the rest zero, with status -50 to tell that the table is incomplete.
    int32_t lutData(const uint8_t* source, uint32_t size);

    // The descriptor as the node's values: entries (0 for 65536), first mapped value, bits per
    // entry; three 16-bit values of the node's own representation (US or SS, else -50).
    void dicomLutDescriptor(KelvoDicomDataNode& node);
    // The table's bytes as the node's first value.
    void dicomLutData(KelvoDicomDataNode& node);

  private:
    void release();
    void takeOver(const KelvoDicomBaseLut& other);

    uint32_t _entries = 0;
    uint32_t _firstMapped = 0;
    uint16_t _bits = 0;
    uint8_t* _data = nullptr;
};

class KelvoDicomPixelLut : public Kelvo_QTObj {
  public:
    KelvoDicomPixelLut() = default;
    KelvoDicomPixelLut(uint32_t entries, uint16_t bits, bool alpha);
    KelvoDicomPixelLut(const KelvoDicomPixelLut& other);
    KelvoDicomPixelLut& operator=(const KelvoDicomPixelLut& other);

    const char* qtObjName() const override { return "KelvoDicomPixelLut"; }
    bool qtObjIsValid() override { return valid(); }
    bool qtObjIsValid() const override { return valid(); }
    void defaultStatus() override;
    void copy(Kelvo_QTObj& other) override;
    Kelvo_QTObj* clone() override;

    // Three tables of `bits`, or, with alpha, four tables of 8 bits whatever `bits` says. A table
    // that cannot be made empties the whole palette and leaves its error in the status.
    void initLuts(uint32_t entries, uint16_t bits, bool alpha);
    void allocate(uint32_t entries, uint16_t bits, bool alpha);

    bool hasAlpha() const { return _luts[3].qtObjIsValid(); }
    // Off empties the alpha table; on makes it only for a palette of 8-bit entries.
    void hasAlpha(bool on);

    uint32_t entries() const { return _luts[0].entries(); }
    uint16_t bitsPerEntry() const { return _luts[0].bitsPerEntry(); }
    uint32_t firstMappedValue() const { return _luts[0].firstMappedValue(); }
    void firstMappedValue(int32_t value);
    uint32_t lastMappedValue() const { return _luts[0].lastMappedValue(); }
    uint32_t sizeOfLuts() const { return _luts[0].sizeOfLuts(); }
    // Bits per pixel that applyLutsToDataARGB produces: 32 with alpha, else 24.
    int16_t requiredBitsDepth() const { return hasAlpha() ? 32 : 24; }

    // The data of table s (null when it has none); -50 and null for a selector outside 1 to 4.
    uint8_t* lutData(lutselector s);
    // Fills table s from `source` (the table's size in bytes); -50 for an invalid palette, a bad
    // selector or a table without data. A null source only returns the table's data.
    uint8_t* lutData(const uint8_t* source, lutselector s);
    // The same from a source of `size` bytes (see KelvoDicomBaseLut::lutData).
    uint8_t* lutData(const uint8_t* source, uint32_t size, lutselector s);
    // Table s as a new "OW" node owned by the caller; null when the table has no data.
    KelvoDicomDataNode* dicomLutData(lutselector s);

    // Maps `count` 8-bit indices to packed A,R,G,B (with alpha) or R,G,B bytes.
    void applyLutsToDataARGB(const uint8_t* source, uint8_t* destination, uint32_t count) const;

  private:
    bool valid() const {
        return _luts[0].qtObjIsValid() && _luts[1].qtObjIsValid() && _luts[2].qtObjIsValid();
    }
    void takeOver(const KelvoDicomPixelLut& other);

    KelvoDicomBaseLut _luts[4];
};
