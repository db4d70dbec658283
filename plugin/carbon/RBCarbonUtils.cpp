#include "RBCarbonUtils.h"

#include "RBPluginUtils.h"

#include <cstring>
#include <limits>
#include <new>

namespace {

constexpr int32_t kBadArgument = -50;

bool fitsInt16(int64_t value) {
    return value >= std::numeric_limits<int16_t>::min() && value <= std::numeric_limits<int16_t>::max();
}

} // namespace

unsigned char* RBFolderitemToCrossPlatformPath(REALfolderItem item, unsigned char& ok) {
    if (!item) return nullptr;
    ok = false;
    char* path = nullptr;
    if (RBUtils_FolderitemToXPath(item, path) != 0 || !path) return nullptr;
    // Handed out as unsigned bytes, so made as such: the caller's delete[] then matches.
    const size_t length = std::strlen(path);
    auto* text = new (std::nothrow) unsigned char[length + 1];
    if (text) std::memcpy(text, path, length + 1);
    delete[] path;
    ok = text != nullptr;
    return text;
}

int32_t RBUtils_StringLength(REALstring s) {
    if (!s) return 0;
    using LenB = RBInteger (*)(REALstring);
    // Looked up once; a host that lacks it is asked again next time.
    static LenB lenB = nullptr;
    if (!lenB) lenB = reinterpret_cast<LenB>(REALLoadGlobalMethod("LenB( s as string ) as integer"));
    return lenB ? lenB(s) : 0;
}

int32_t RBUtils_IntArrayToRect(REALintArray values, Rect* rect, unsigned char sizes) {
    if (!rect) return kBadArgument;
    *rect = Rect{};
    if (!values || REALGetArrayUBound(values) != 3) return kBadArgument;
    const int64_t left = REALGetArrayInt(values, 0);
    const int64_t top = REALGetArrayInt(values, 1);
    const int64_t third = REALGetArrayInt(values, 2);
    const int64_t fourth = REALGetArrayInt(values, 3);
    const int64_t right = sizes ? left + third : third;
    const int64_t bottom = sizes ? top + fourth : fourth;
    // An edge that a rectangle cannot hold is refused rather than wrapped into another place.
    if (!fitsInt16(left) || !fitsInt16(top) || !fitsInt16(right) || !fitsInt16(bottom)) return kBadArgument;
    rect->top = int16_t(top);
    rect->left = int16_t(left);
    rect->bottom = int16_t(bottom);
    rect->right = int16_t(right);
    return 0;
}
