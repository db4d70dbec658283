// The histogram, image statistics and pixel value records.
#include "KelvoImageDescriptors.h"

#include <cmath>
#include <algorithm>
#include <new>
#include <utility>

namespace {

constexpr int32_t kBadArgument = -50;
constexpr uint32_t kDefaultBins = 256;

// A single-precision product floored into a byte; the tables' arithmetic stays in floats so that
// they match across builds, and an out-of-range or NaN product cannot reach the conversion.
uint8_t flooredByte(float value) {
    if (!(value > 0.0f)) return 0;
    if (value >= 255.0f) return 255;
    return uint8_t(std::floor(value));
}

// x * scale truncated toward zero; a percentage of a count that cannot exceed the total.
uint32_t percentage(uint32_t x, float scale) {
    const float p = float(x) * scale;
    if (!(p > 0.0f)) return 0;
    if (p >= 4294967040.0f) return UINT32_MAX;
    return uint32_t(p);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Kelvo_Histogram

Kelvo_Histogram::Kelvo_Histogram() : KelvoDataT<uint32_t>(kDefaultBins), _cumulative(kDefaultBins) {}

Kelvo_Histogram::Kelvo_Histogram(uint32_t bins) : KelvoDataT<uint32_t>(bins), _cumulative(bins) {}

Kelvo_Histogram::Kelvo_Histogram(const Kelvo_Histogram& other)
    : KelvoDataT<uint32_t>(other), _cumulative(other._cumulative), _total(other._total) {}

Kelvo_Histogram::Kelvo_Histogram(const void* data, uint32_t count, uint32_t stride)
    : KelvoDataT<uint32_t>(kDefaultBins), _cumulative(kDefaultBins) {
    Kelvo_Histogram::initHistogram(data, count, stride);
}

Kelvo_Histogram::~Kelvo_Histogram() = default;

void Kelvo_Histogram::defaultStatus() {
    KelvoDataT<uint32_t>::defaultStatus();
    _cumulative.defaultStatus();
    _total = 0;
}

Kelvo_Histogram* Kelvo_Histogram::clone() {
    return new (std::nothrow) Kelvo_Histogram(*this);
}

void Kelvo_Histogram::initInternal() {
    const uint32_t bins = itemCount();
    if (bins == 0) return;
    _cumulative[0] = (*this)[0];
    for (uint32_t i = 1; i < bins; ++i)
        _cumulative[i] = _cumulative[i - 1] + (*this)[i];
}

void Kelvo_Histogram::initHistogram(const void* data, uint32_t count, uint32_t stride) {
    if (!data || stride == 0) {
        _status = kBadArgument;
        return;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    uint32_t counted = 0;
    for (uint64_t i = 0; i < count; i += stride) {
        // A byte beyond the bins lands in the spare element and sets -50 through the index.
        ++(*this)[bytes[i]];
        ++counted;
    }
    // The total follows the bins: counting twice without clearing adds to both, so that the
    // running sums never exceed the total the tables divide by.
    _total += counted;
    initInternal();
}

void Kelvo_Histogram::create(const void* data, uint32_t count, uint32_t stride) {
    defaultStatus();
    initHistogram(data, count, stride);
}

double Kelvo_Histogram::intensityCount(uint32_t index) {
    return double((*this)[index]);
}

uint32_t Kelvo_Histogram::cumulativeCount(uint32_t index) {
    if (index >= _cumulative.itemCount()) {
        _status = kBadArgument;
        return 0;
    }
    return _cumulative[index];
}

KelvoDataT<uint8_t>* Kelvo_Histogram::newTable() {
    const uint32_t bins = itemCount();
    auto* table = new (std::nothrow) KelvoDataT<uint8_t>(bins);
    if (!table) {
        _status = -108;
        return nullptr;
    }
    if (bins != 0 && !table->qtObjIsValid()) {
        _status = table->Error();
        delete table;
        return nullptr;
    }
    return table;
}

KelvoDataT<uint8_t>* Kelvo_Histogram::getLutNormalized() {
    KelvoDataT<uint8_t>* table = newTable();
    if (!table || _total == 0) return table;
    const float scale = 255.0f / float(_total);
    const uint32_t bins = itemCount();
    for (uint32_t i = 0; i < bins; ++i)
        (*table)[i] = flooredByte(float(_cumulative[i]) * scale);
    return table;
}

KelvoDataT<uint8_t>* Kelvo_Histogram::getLutContrastStretch(int& lowPercent, int& highPercent) {
    if (lowPercent > highPercent) std::swap(lowPercent, highPercent);
    KelvoDataT<uint8_t>* table = newTable();
    // Nothing counted: no percentage exists, and the table stays zero.
    if (!table || _total == 0) return table;
    const uint32_t bins = itemCount();
    const float scale = 100.0f / float(_total);
    // Unsigned comparisons: a negative percentage is never reached.
    const uint32_t low = uint32_t(lowPercent);
    const uint32_t high = uint32_t(highPercent);

    uint32_t lowIndex = 0;
    for (uint32_t i = 0; i < bins; ++i)
        if (percentage(_cumulative[i], scale) >= low) {
            lowIndex = i;
            break;
        }
    uint32_t highIndex = 0;
    for (uint32_t i = bins; i-- > 0;)
        if (percentage(_total - _cumulative[i], scale) >= high) {
            highIndex = i;
            break;
        }
    if (lowIndex == highIndex) return table;

    // Entries up to lowIndex stay 0.
    for (uint32_t j = lowIndex + 1; j < highIndex; ++j)
        (*table)[j] = uint8_t(255u * (j - lowIndex) / (highIndex - lowIndex));
    for (uint32_t j = std::max(highIndex, lowIndex + 1); j < bins; ++j)
        (*table)[j] = 255;
    return table;
}

// ---------------------------------------------------------------------------------------------
// Kelvo_ImageInfo

Kelvo_ImageInfo::Kelvo_ImageInfo(const Kelvo_ImageInfo& other)
    : Kelvo_QTObj(other), count(other.count), mean(other.mean), variance(other.variance),
      stdDeviation(other.stdDeviation), meanAbsDeviation(other.meanAbsDeviation), min(other.min),
      max(other.max) {}

Kelvo_ImageInfo& Kelvo_ImageInfo::operator=(const Kelvo_ImageInfo& other) {
    copy(const_cast<Kelvo_ImageInfo&>(other));
    return *this;
}

Kelvo_ImageInfo& Kelvo_ImageInfo::operator=(const Kelvo_ImageInfo* other) {
    if (other) copy(const_cast<Kelvo_ImageInfo&>(*other));
    return *this;
}

void Kelvo_ImageInfo::defaultStatus() {
    count = 0;
    mean = variance = stdDeviation = meanAbsDeviation = min = max = 0.0;
}

void Kelvo_ImageInfo::copy(Kelvo_QTObj& source) {
    if (&source == this) return;
    defaultStatus();
    if (!source.isA(qtObjName())) {
        _status = kKelvoWrongType;
        return;
    }
    auto& other = static_cast<Kelvo_ImageInfo&>(source);
    count = other.count;
    mean = other.mean;
    variance = other.variance;
    stdDeviation = other.stdDeviation;
    meanAbsDeviation = other.meanAbsDeviation;
    min = other.min;
    max = other.max;
}

Kelvo_ImageInfo* Kelvo_ImageInfo::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new (std::nothrow) Kelvo_ImageInfo(*this);
}

// ---------------------------------------------------------------------------------------------
// Kelvo_ImageValue

Kelvo_ImageValue::Kelvo_ImageValue(const Kelvo_ImageValue& other)
    : Kelvo_QTObj(other), _grey(other._grey), _red(other._red), _green(other._green), _blue(other._blue) {}

Kelvo_ImageValue& Kelvo_ImageValue::operator=(const Kelvo_ImageValue& other) {
    copy(const_cast<Kelvo_ImageValue&>(other));
    return *this;
}

void Kelvo_ImageValue::defaultStatus() {
    _grey = _red = _green = _blue = 0.0;
}

void Kelvo_ImageValue::copy(Kelvo_QTObj& source) {
    if (&source == this || !source.isA(qtObjName())) return;
    auto& other = static_cast<Kelvo_ImageValue&>(source);
    _grey = other._grey;
    _red = other._red;
    _green = other._green;
    _blue = other._blue;
}

Kelvo_ImageValue* Kelvo_ImageValue::clone() {
    return new (std::nothrow) Kelvo_ImageValue(*this);
}

bool Kelvo_ImageValue::operator==(const Kelvo_ImageValue& other) const {
    if (&other == this) return true;
    return _grey == other._grey && _red == other._red && _green == other._green && _blue == other._blue;
}

void Kelvo_ImageInfo::take(const KelvoStatisticsResults& results) {
    count = results.count;
    mean = results.mean;
    variance = results.variance;
    stdDeviation = results.stdDeviation;
    meanAbsDeviation = results.meanAbsDeviation;
    min = results.min;
    max = results.max;
}
