// Small value classes of the image model: the histogram of 8-bit samples with the equalisation
// and contrast-stretch tables derived from it, the statistics record that images hand to their
// callers, and the pixel value record of four doubles.
//
// The virtual operations are listed in slot order after those of their bases.
#pragma once

#include "KelvoImageTypes.h"

#include <cstdint>

// Bins of 8-bit samples (the inherited array), their running sums and the number of samples.
class Kelvo_Histogram : public KelvoDataT<uint32_t> {
  public:
    // 256 bins.
    Kelvo_Histogram();
    explicit Kelvo_Histogram(uint32_t bins);
    Kelvo_Histogram(const Kelvo_Histogram& other);
    // 256 bins holding every stride-th byte of `data` below `count`.
    Kelvo_Histogram(const void* data, uint32_t count, uint32_t stride);
    Kelvo_Histogram& operator=(const Kelvo_Histogram&) = delete;
    ~Kelvo_Histogram() override;

    const char* qtObjName() const override { return "Kelvo_Histogram"; }
    bool qtObjIsValid() override { return KelvoDataT<uint32_t>::qtObjIsValid(); }
    bool qtObjIsValid() const override { return true; }
    // Zeroes the bins, the running sums and the total; the status stays.
    void defaultStatus() override;
    Kelvo_Histogram* clone() override;

    // The running sums from the bins.
    virtual void initInternal();
    // Adds the bytes at 0, stride, 2*stride, ... below `count` to the bins (they are not cleared
    // first) and to the total, then the running sums. Null data or a zero stride: -50, nothing
    // counted. A byte beyond the bins: -50, counted into the spare bin.
    virtual void initHistogram(const void* data, uint32_t count, uint32_t stride);

    // Clears the histogram, then counts as initHistogram.
    void create(const void* data, uint32_t count, uint32_t stride);

    // The bin's count; -50 and the spare bin's count for a bad index.
    double intensityCount(uint32_t index);
    uint32_t total() const { return _total; }
    // The running sum up to and including the bin; -50 and 0 for a bad index.
    uint32_t cumulativeCount(uint32_t index);

    // New tables of one byte a bin (the caller owns them): equalisation, and the linear stretch
    // that clips `lowPercent` of the samples at the dark end and `highPercent` at the bright end.
    // The percentages are put in order in the caller's variables. Null, with the status, when a
    // table cannot be made; a histogram without bins gives the empty table; one that counted
    // nothing gives zeros.
    KelvoDataT<uint8_t>* getLutNormalized();
    KelvoDataT<uint8_t>* getLutContrastStretch(int& lowPercent, int& highPercent);

  private:
    // A table of one byte a bin, zero-filled; null (status taken over) when it cannot be made.
    KelvoDataT<uint8_t>* newTable();

    KelvoDataT<uint32_t> _cumulative;
    uint32_t _total = 0;
};

// What an image reports of its samples.
class Kelvo_ImageInfo : public Kelvo_QTObj {
  public:
    Kelvo_ImageInfo() = default;
    Kelvo_ImageInfo(const Kelvo_ImageInfo& other);
    Kelvo_ImageInfo& operator=(const Kelvo_ImageInfo& other);
    // A null record changes nothing.
    Kelvo_ImageInfo& operator=(const Kelvo_ImageInfo* other);

    const char* qtObjName() const override { return "Kelvo_ImageInfo"; }
    bool qtObjIsValid() override { return count != 0; }
    bool qtObjIsValid() const override { return count != 0; }
    void defaultStatus() override;
    // Clears, then takes the seven values of another record (status 10 for another class).
    void copy(Kelvo_QTObj& source) override;
    Kelvo_ImageInfo* clone() override;
    // Takes the seven results of a statistics run.
    void take(const KelvoStatisticsResults& results);

    uint32_t count = 0;
    double mean = 0.0;
    double variance = 0.0;
    double stdDeviation = 0.0;
    double meanAbsDeviation = 0.0;
    double min = 0.0;
    double max = 0.0;
};

// A pixel value: grey, red, green, blue.
class Kelvo_ImageValue : public Kelvo_QTObj {
  public:
    Kelvo_ImageValue() = default;
    Kelvo_ImageValue(const Kelvo_ImageValue& other);
    Kelvo_ImageValue& operator=(const Kelvo_ImageValue& other);

    const char* qtObjName() const override { return "Kelvo_ImageValue"; }
    bool qtObjIsValid() const override { return true; }
    using Kelvo_QTObj::qtObjIsValid;
    void defaultStatus() override;
    // Takes the four values of another record; anything else changes nothing.
    void copy(Kelvo_QTObj& source) override;
    Kelvo_ImageValue* clone() override;

    double& grey() { return _grey; }
    double& red() { return _red; }
    double& green() { return _green; }
    double& blue() { return _blue; }
    const double& grey() const { return _grey; }
    const double& red() const { return _red; }
    const double& green() const { return _green; }
    const double& blue() const { return _blue; }

    // The same record, or four equal values (a NaN never compares equal).
    bool operator==(const Kelvo_ImageValue& other) const;
    bool operator!=(const Kelvo_ImageValue& other) const { return !(*this == other); }

  private:
    double _grey = 0.0;
    double _red = 0.0;
    double _green = 0.0;
    double _blue = 0.0;
};
