#include "VUXContainer.h"

namespace VUX {

// The instances the foundation uses, compiled once here.
template class VUXList<int64_t>;
template class VUXList<VUXRange<int64_t>>;
template class VUXList<char*>;
template class VUXArray<char*>;
template class VUXArray<uint32_t>;
template class VUXList<VUXObject*>;
template class VUXArray<VUXObject*>;

} // namespace VUX
