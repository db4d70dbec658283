#include "KelvoDicomUtils.h"

#include "PlatformEndian.h"
#include "PlatformErrors.h"
#include "PlatformRandom.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>

namespace {

std::atomic<DicmUtils_LocalTimeSource> localTimeSource{nullptr};

bool systemLocalNow(std::tm& out) {
    std::time_t now = std::time(nullptr);
    return now != std::time_t(-1) && localtime_r(&now, &out) != nullptr;
}

bool localNow(std::tm& out) {
    DicmUtils_LocalTimeSource source = localTimeSource.load();
    return source ? source(out) : systemLocalNow(out);
}

// A number that no other call in this process returns: a random start, then one more each time.
// Keeps UIDs made within the same second apart.
long uniqueNumber() {
    static std::atomic<uint32_t> next{uint32_t(platform::random31()) & 0x3FFFFFFFu};
    return long(next.fetch_add(1) & 0x7FFFFFFFu);
}

// The stamp "YYYYMMDDhhmmss" of a broken-down local time (16 bytes and a NUL at most).
void formatStamp(char* buffer17, const std::tm& t) {
    std::memset(buffer17, 0, 17);
    char text[80];
    std::snprintf(text, sizeof text, "%d%02d%02d%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec);
    std::memcpy(buffer17, text, 16);
}

// The stamp of the current local time, as it is: two calls in one second give the same text.
void currentStamp(char* buffer17) {
    std::tm t{};
    if (!localNow(t)) {
        std::memset(buffer17, 0, 17);
        std::memcpy(buffer17, "XX000000000000", 14);
        return;
    }
    formatStamp(buffer17, t);
}

// The anonymous identifiers handed out so far. A stamp is a wall-clock reading, so two patients
// anonymised within one second would share it, and the local clock may even step back (summer
// time ending, a corrected clock). Each identifier is therefore the later of now and the last
// one plus a second. The step is taken on the calendar itself (the fields read as if they were
// UTC), so it carries through minutes, days, months and leap years with no time zone rule
// involved, and the text always grows.
struct IssuedStamps {
    std::mutex lock;
    bool any = false;
    int64_t last = 0;          // calendar seconds of the last identifier
    uint64_t withoutClock = 0; // identifiers made while the local time could not be had
};

IssuedStamps& issuedStamps() {
    static IssuedStamps issued;
    return issued;
}

void nextAnonymousStamp(char* buffer17) {
    IssuedStamps& issued = issuedStamps();
    std::lock_guard<std::mutex> hold(issued.lock);
    std::tm t{};
    bool haveClock = localNow(t);
    if (!haveClock && !issued.any) {
        // Nothing to count on: "XX" and a serial number, the first being all zeros.
        char text[32];
        std::snprintf(text, sizeof text, "XX%012llu",
                      static_cast<unsigned long long>(issued.withoutClock++ % 1000000000000ull));
        std::memset(buffer17, 0, 17);
        std::memcpy(buffer17, text, 14);
        return;
    }
    int64_t next = issued.last + 1;
    if (haveClock) {
        t.tm_isdst = 0;
        int64_t now = int64_t(timegm(&t));
        if (!issued.any || now > issued.last) next = now;
    }
    std::tm out{};
    std::time_t value = std::time_t(next);
    if (!gmtime_r(&value, &out)) {
        std::memset(buffer17, 0, 17);
        std::memcpy(buffer17, "XX000000000000", 14);
        return;
    }
    issued.any = true;
    issued.last = next;
    formatStamp(buffer17, out);
}

void appendBytes(std::string& out, const char* s) {
    out += s;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Time stamps and UIDs

void DicmUtils_SetLocalTimeSource(DicmUtils_LocalTimeSource source) {
    IssuedStamps& issued = issuedStamps();
    std::lock_guard<std::mutex> hold(issued.lock);
    localTimeSource.store(source);
    issued.any = false;
    issued.last = 0;
    issued.withoutClock = 0;
}

void DicmUtils_GetAnonymousID(char* buffer17) {
    if (!buffer17) return;
    nextAnonymousStamp(buffer17);
}

void DicmUtils_IDAnonymizer(char** out) {
    if (!out) return;
    *out = new (std::nothrow) char[17];
    if (!*out) return;
    DicmUtils_GetAnonymousID(*out);
}

char* VUX::VUXDCM::VUXDicomLibrary::anonymousIDCreate() {
    char* id = nullptr;
    DicmUtils_IDAnonymizer(&id);
    return id;
}

void DicmUtils_IDAnonymizer(char* id) {
    if (!id || !*id) return;
    size_t n = std::strlen(id);
    char stamp[17];
    DicmUtils_GetAnonymousID(stamp);
    std::memset(id, 0, n);
    std::memcpy(id, stamp, n < 14 ? n : 14);
}

void VUX::VUXDCM::VUXDicomLibrary::anonymizeID(char* id) {
    DicmUtils_IDAnonymizer(id);
}

namespace {

// What follows a root in a UID: ".", the 14-digit stamp, "." and the unique number, which has up to
// 10 digits. A root leaves room for all of it or none is made: a UID cut to fit could lose the
// digits that keep it apart from the next one.
constexpr size_t kUIDMaxLength = 64;
constexpr size_t kUIDUniquePart = 1 + 14 + 1 + 10;

// Digits and dots as a UID has them: components of digits, none empty, none with a leading zero
// (but "0" itself).
bool isWellFormedUIDRoot(const char* root) {
    const char* p = root;
    while (true) {
        const char* start = p;
        while (*p >= '0' && *p <= '9')
            ++p;
        if (p == start || (*start == '0' && p - start > 1)) return false;
        if (*p == 0) return true;
        if (*p != '.') return false;
        ++p;
    }
}

} // namespace

char* DicmUtils_UIDCreate(const char* root) {
    char* uid = new (std::nothrow) char[kUIDMaxLength + 1]();
    if (!uid) return nullptr;
    const bool ownRoot = root && *root && std::strcmp(root, "1.2.840.10008") != 0;
    if (ownRoot && (std::strlen(root) + kUIDUniquePart > kUIDMaxLength || !isWellFormedUIDRoot(root)))
        return uid; // refused: empty
    // The plain stamp: UIDs are kept apart by their numbers, and a burst of them must not push
    // the anonymous identifiers ahead of the clock. Without a local time the stamp is not digits:
    // a 0 takes its place.
    char stamp[17];
    currentStamp(stamp);
    if (stamp[0] < '1' || stamp[0] > '9') std::memcpy(stamp, "0", 2);
    char text[128];
    if (ownRoot)
        std::snprintf(text, sizeof text, "%s.%s.%ld", root, stamp, uniqueNumber());
    else
        std::snprintf(text, sizeof text, "1.650.%ld.%ld.%s.%ld", long(platform::random31()),
                      long(platform::random31()), stamp, uniqueNumber());
    std::memcpy(uid, text, std::min(std::strlen(text), kUIDMaxLength));
    return uid;
}

char* VUX::VUXDCM::VUXDicomLibrary::dicomUIDCreate(const char* root) {
    return DicmUtils_UIDCreate(root);
}

void DicmUtils_SecureStringCopy(char* dst, const char* src, uint32_t max) {
    if (!dst || !src) return;
    size_t n = strnlen(src, size_t(max) + 1);
    if (n > max) n = max;
    std::memcpy(dst, src, n);
    dst[n] = 0;
}

void DicmUtils_CopyDicomCurrentTime(char* dst7) {
    if (!dst7) return;
    std::tm t{};
    if (!localNow(t)) {
        std::memcpy(dst7, "000000", 7);
        return;
    }
    char text[48];
    std::snprintf(text, sizeof text, "%02d%02d%02d", t.tm_hour, t.tm_min, t.tm_sec);
    std::memcpy(dst7, text, 6);
    dst7[6] = 0;
}

void VUX::VUXDCM::VUXDicomLibrary::copyDicomCurrentTime(char* dst7) {
    DicmUtils_CopyDicomCurrentTime(dst7);
}

void DicmUtils_CopyDicomCurrentDate(char* dst9) {
    if (!dst9) return;
    std::tm t{};
    if (!localNow(t)) {
        std::memcpy(dst9, "19000101", 9);
        return;
    }
    char text[48];
    std::snprintf(text, sizeof text, "%04d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
    std::memcpy(dst9, text, 8);
    dst9[8] = 0;
}

void VUX::VUXDCM::VUXDicomLibrary::copyDicomCurrentDate(char* dst9) {
    DicmUtils_CopyDicomCurrentDate(dst9);
}

char* DicmUtils_StringAnonymizer(char* value, const char* vr) {
    if (!value || !*value || !vr || !vr[0] || !vr[1]) return value;
    size_t n = std::strlen(value);
    if (std::strncmp(vr, "TM", 2) == 0 && n >= 6) {
        DicmUtils_CopyDicomCurrentTime(value);
        return value;
    }
    if (std::strncmp(vr, "DA", 2) == 0 && n >= 8) {
        DicmUtils_CopyDicomCurrentDate(value);
        return value;
    }
    for (size_t i = 0; i < n; ++i)
        if (value[i] != '=' && value[i] != '^') value[i] = 'X';
    return value;
}

char* VUX::VUXDCM::VUXDicomLibrary::anonymizeString(char* value, const char* vr) {
    return DicmUtils_StringAnonymizer(value, vr);
}

// ---------------------------------------------------------------------------------------------
// Number texts

float DicmUtils_DSToNumber(const char* text) {
    if (!text || !*text) return 0;
    if (*text == ' ') ++text;
    double v = std::strtod(text, nullptr);
    if (std::isnan(v)) return 0;
    // Beyond the float range the value saturates to infinity rather than converting undefined.
    if (v > 3.4028234663852886e38) return HUGE_VALF;
    if (v < -3.4028234663852886e38) return -HUGE_VALF;
    return float(v);
}

float VUX::VUXDCM::VUXDicomLibrary::decimalStringToNumber(const char* text) {
    return DicmUtils_DSToNumber(text);
}

int32_t DicmUtils_ISToNumber(const char* text) {
    if (!text || !*text) return 0;
    if (*text == ' ' || *text == '0') ++text;
    errno = 0;
    long long v = std::strtoll(text, nullptr, 10);
    // Out of the 32-bit range: the nearest representable value, never a wrapped one.
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return int32_t(v);
}

int32_t VUX::VUXDCM::VUXDicomLibrary::integerStringToNumber(const char* text) {
    return DicmUtils_ISToNumber(text);
}

void DicmUtils_StringDecimalToNumber(const char* text, float** values, int* count) {
    if (!text || !values || !count) return;
    *values = nullptr;
    *count = 0;
    if (*text == ' ') ++text;
    int capacity = 0;
    const char* p = text;
    while (*p) {
        char* end = nullptr;
        double v = std::strtod(p, &end);
        if (v == HUGE_VAL) break;
        if (*count == capacity) {
            int grown = capacity ? capacity * 2 : 8;
            auto* bigger = static_cast<float*>(std::realloc(*values, size_t(grown) * sizeof(float)));
            if (!bigger) break; // keep what is parsed so far
            *values = bigger;
            capacity = grown;
        }
        (*values)[(*count)++] =
            std::isnan(v) ? 0.0f : DicmUtils_DSToNumber(std::string(p, size_t(end - p)).c_str());
        const char* sep = std::strchr(end, '\\');
        if (!sep) break;
        p = sep + 1;
    }
}

// ---------------------------------------------------------------------------------------------
// Byte swapping

void DicmUtils_OWSwap(void* data, uint32_t size) {
    if (!data || size < 2) return;
    auto* p = static_cast<uint8_t*>(data);
    for (uint32_t i = 0; i + 1 < size; i += 2)
        std::swap(p[i], p[i + 1]);
}

void DicmUtils_OFSwap(void* data, uint32_t size) {
    if (!data || size < 4) return;
    auto* p = static_cast<uint8_t*>(data);
    for (uint32_t i = 0; i + 3 < size; i += 4) {
        std::swap(p[i], p[i + 3]);
        std::swap(p[i + 1], p[i + 2]);
    }
}

// ---------------------------------------------------------------------------------------------
// Transfer syntaxes, directories, data-set atoms

void DicomUtils_XferSyntaxInfo(const char* uid, bool& implicitVR, bool& bigEndian) {
    implicitVR = bigEndian = false;
    if (!uid) return;
    implicitVR = std::strcmp(uid, "1.2.840.10008.1.2") == 0;
    bigEndian = std::strcmp(uid, "1.2.840.10008.1.2.2") == 0;
}

bool DicomUtils_IsFileDicomDirectory(const char* sopClassUID) {
    return sopClassUID && std::strcmp(sopClassUID, "1.2.840.10008.1.3.10") == 0;
}

QTAtom DicmUtils_AddDataSetNode(QTAtomContainer container, QTAtom parentAtom, uint16_t group, int32_t& status,
                                int16_t index) {
    if (!container) {
        status = paramErr;
        return 0;
    }
    int32_t id = DicmUtils_AtomIDForNumber(group);
    QTAtom atom = QTFindChildByID(container, parentAtom, kDicomGroupAtom, id, nullptr);
    if (atom) return atom;
    status = QTInsertChild(container, parentAtom, kDicomGroupAtom, id, index, 0, nullptr, &atom);
    if (status == atomIndexInvalidErr) // an index past the end appends
        status = QTInsertChild(container, parentAtom, kDicomGroupAtom, id, 0, 0, nullptr, &atom);
    return status == noErr ? atom : 0;
}

QTAtom DicmUtils_AddDataSetNode(Kelvo_AtomCoord& parent, uint16_t group, int32_t& status, int16_t index) {
    if (!parent.qtObjIsValid()) {
        status = paramErr;
        return 0;
    }
    return DicmUtils_AddDataSetNode(parent.container(), parent.atom(), group, status, index);
}

// ---------------------------------------------------------------------------------------------
// Stream writers

namespace {

void writeTag(uint8_t* out, bool big, uint16_t group, uint16_t element) {
    if (big) {
        platform::storeBE16(out, group);
        platform::storeBE16(out + 2, element);
    } else {
        platform::storeLE16(out, group);
        platform::storeLE16(out + 2, element);
    }
}

void write32(uint8_t* out, bool big, uint32_t v) {
    big ? platform::storeBE32(out, v) : platform::storeLE32(out, v);
}

} // namespace

void DicomUtils_WriteItemStart(FILE* file, int32_t flags, const uint32_t* length) {
    if (!file) return;
    bool big = (flags & kDicomWriteBigEndian) != 0;
    uint8_t b[8];
    writeTag(b, big, 0xFFFE, 0xE000);
    write32(b + 4, big, length ? *length : kDicomUndefinedLength);
    std::fwrite(b, 1, sizeof b, file);
}

void DicomUtils_WriteEndofDelimiter(FILE* file, int32_t flags, uint16_t element) {
    if (!file) return;
    bool big = (flags & kDicomWriteBigEndian) != 0;
    uint8_t b[8];
    writeTag(b, big, 0xFFFE, element);
    write32(b + 4, big, 0);
    std::fwrite(b, 1, sizeof b, file);
}

void DicomUtils_WriteItemsContainerStart(FILE* file, int32_t flags, const dicomNodeDescRecord& desc) {
    if (!file) return;
    bool big = (flags & kDicomWriteBigEndian) != 0;
    uint8_t b[12];
    size_t n = 0;
    writeTag(b, big, desc.group, desc.element);
    n = 4;
    if (!(flags & kDicomWriteImplicitVR)) {
        b[4] = uint8_t(desc.vr[0]);
        b[5] = uint8_t(desc.vr[1]);
        b[6] = b[7] = 0;
        n = 8;
    }
    write32(b + n, big, desc.length);
    std::fwrite(b, 1, n + 4, file);
}

// ---------------------------------------------------------------------------------------------
// XML text

void DicomUtils_XmlEscape(std::string& out, const char* text, size_t length) {
    const auto* p = reinterpret_cast<const uint8_t*>(text);
    size_t i = 0;
    char ref[16];
    while (i < length) {
        uint8_t c = p[i];
        if (c < 0x80) {
            switch (c) {
            case '<':
                appendBytes(out, "&lt;");
                break;
            case '>':
                appendBytes(out, "&gt;");
                break;
            case '&':
                appendBytes(out, "&amp;");
                break;
            case '"':
                appendBytes(out, "&quot;");
                break;
            case '\'':
                appendBytes(out, "&apos;");
                break;
            default:
                if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
                    appendBytes(out, "&#xFFFD;");
                else
                    out += char(c);
            }
            ++i;
            continue;
        }
        // A valid UTF-8 sequence is copied; any other byte is taken as a Latin-1 character.
        int extra = (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        bool valid = extra > 0 && i + size_t(extra) < length + 0 && length - i - 1 >= size_t(extra);
        uint32_t cp = 0;
        if (valid) {
            cp = c & (0x3F >> extra);
            for (int k = 1; k <= extra; ++k) {
                uint8_t cc = p[i + size_t(k)];
                if ((cc & 0xC0) != 0x80) {
                    valid = false;
                    break;
                }
                cp = (cp << 6) | (cc & 0x3F);
            }
            if (valid && ((extra == 1 && cp < 0x80) || (extra == 2 && cp < 0x800) ||
                          (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF) ||
                          cp == 0xFFFE || cp == 0xFFFF))
                valid = false;
        }
        if (valid) {
            out.append(text + i, size_t(extra) + 1);
            i += size_t(extra) + 1;
        } else {
            if (c >= 0x80 && c < 0xA0)
                appendBytes(out, "&#xFFFD;"); // C1 controls are not XML characters either
            else {
                std::snprintf(ref, sizeof ref, "&#x%X;", unsigned(c));
                out += ref;
            }
            ++i;
        }
    }
}

std::string DicomUtils_XmlEscape(const char* text) {
    std::string out;
    if (text) DicomUtils_XmlEscape(out, text, std::strlen(text));
    return out;
}

int32_t DicmUtils_PublicStatus(int32_t status) {
    if (status > -2101 || status < -2199) return status;
    if (status == cannotFindAtomErr) return kKelvoNotFound;
    if (status == atomIndexInvalidErr) return kKelvoIndexOutOfRange;
    return kKelvoUnacceptedValue;
}
