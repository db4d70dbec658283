// The typed arrays and statistics that the image, DICOM and host layers share.
#include "KelvoImageTypes.h"

bool KelvoStatisticsResults::takeResults(Kelvo_QTObj& source) {
    if (!isSameType(source)) return false;
    auto& other = static_cast<KelvoStatisticsResults&>(source);
    count = other.count;
    mean = other.mean;
    variance = other.variance;
    stdDeviation = other.stdDeviation;
    meanAbsDeviation = other.meanAbsDeviation;
    min = other.min;
    max = other.max;
    return true;
}

template class KelvoDataT<uint32_t>;
template class KelvoDataT<uint8_t>;
template class KelvoDataT<char>;
template class KelvoDataT<uint16_t>;
template class KelvoDataT<int16_t>;
template class KelvoStatisticsT<uint8_t>;
template class KelvoStatisticsT<uint16_t>;
template class KelvoStatisticsT<int16_t>;
template class KelvoStatisticsT<float>;
