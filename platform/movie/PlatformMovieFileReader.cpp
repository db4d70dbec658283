#include "PlatformMovieFileReader.h"
#include "PlatformMovieFileReaderParse.h"
#include "PlatformMoviePlaybackState.h"

#include "PlatformDataRef.h"
#include "PlatformEndian.h"
#include "PlatformMatrix.h"
#include "PlatformMemory.h"
#include "PlatformPendingToolboxCalls.h"
#include "PlatformQTFileFormat.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <numeric>
#include <unistd.h>

namespace platform::movie::reader {

namespace {

using Lock = std::lock_guard<std::mutex>;

// The movie atom is read whole; past this it is not a movie this layer takes.
constexpr int64_t kMaxMovieAtom = int64_t(1) << 30;
// Track identifiers stay far from the end of their 32 bits, so that new tracks can follow.
constexpr uint32_t kMaxTrackID = uint32_t(1) << 30;

constexpr OSType kMdat = FOUR_CHAR_CODE("mdat");

// A window on bytes already in memory.
struct Span {
    const uint8_t* p = nullptr;
    size_t n = 0;
};

// Reads big-endian values from a span; a read past its end leaves `ok` false and reads zeros.
struct In {
    Span s;
    size_t at = 0;
    bool ok = true;
    size_t left() const { return s.n - at; }
    bool need(size_t k) {
        if (!ok || k > left()) {
            ok = false;
            return false;
        }
        return true;
    }
    uint8_t u8() {
        if (!need(1)) return 0;
        return s.p[at++];
    }
    uint16_t u16() {
        if (!need(2)) return 0;
        const uint16_t v = platform::loadBE16(s.p + at);
        at += 2;
        return v;
    }
    uint32_t u32() {
        if (!need(4)) return 0;
        const uint32_t v = platform::loadBE32(s.p + at);
        at += 4;
        return v;
    }
    uint64_t u64() {
        const uint64_t hi = u32();
        return (hi << 32) | u32();
    }
    void skip(size_t k) {
        if (need(k)) at += k;
    }
    Span rest() const { return {s.p + at, ok ? left() : 0}; }
};

// The next atom of a run of atoms: its type and its body. False at the end; `err` is set when
// the atom's size lies (smaller than its header, or past what holds it).
bool nextAtom(Span& rest, OSType& type, Span& body, OSErr& err) {
    if (rest.n == 0) return false;
    if (rest.n < 8) {
        err = badPublicMovieAtom;
        return false;
    }
    uint64_t size = platform::loadBE32(rest.p);
    type = platform::loadBE32(rest.p + 4);
    size_t header = 8;
    if (size == 1) {
        if (rest.n < 16) {
            err = badPublicMovieAtom;
            return false;
        }
        size = (uint64_t(platform::loadBE32(rest.p + 8)) << 32) | platform::loadBE32(rest.p + 12);
        header = 16;
    } else if (size == 0) {
        size = rest.n;
    }
    if (size < header || size > rest.n) {
        err = badPublicMovieAtom;
        return false;
    }
    body = {rest.p + header, size_t(size) - header};
    rest = {rest.p + size, rest.n - size_t(size)};
    return true;
}

void readMatrix(In& in, MatrixRecord& m) {
    for (auto& row : m.matrix)
        for (Fixed& v : row)
            v = Fixed(in.u32());
}

// A full atom's version, checked to be 0 or 1.
bool version01(In& in, uint8_t& version, uint32_t* flags = nullptr) {
    version = in.u8();
    const uint32_t f = (uint32_t(in.u8()) << 16) | (uint32_t(in.u8()) << 8) | in.u8();
    if (flags) *flags = f;
    return in.ok && version <= 1;
}

OSErr parseUserData(Span body, UserDataItems& items) {
    OSType type = 0;
    Span item;
    OSErr err = noErr;
    while (body.n >= 8) {
        if (!nextAtom(body, type, item, err)) break;
        // A zero type ends the list (an old writer's terminator).
        if (type == 0) break;
        items.emplace_back(type, Bytes(item.p, item.p + item.n));
    }
    // Fewer than 8 bytes left: the list's terminator, when it is zeros.
    for (size_t i = 0; i < body.n && !err; ++i)
        if (body.p[i] != 0) err = badPublicMovieAtom;
    return err;
}

OSErr parseMovieHeader(Span body, ParsedMovie& movie) {
    In in{body};
    uint8_t version = 0;
    if (!version01(in, version)) return badPublicMovieAtom;
    in.skip(version ? 16 : 8);
    const uint32_t scale = in.u32();
    in.skip(version ? 8 : 4);
    movie.preferredRate = Fixed(in.u32());
    movie.preferredVolume = int16_t(in.u16());
    in.skip(10);
    readMatrix(in, movie.matrix);
    movie.previewStart = in.u32();
    movie.previewDuration = in.u32();
    movie.posterTime = in.u32();
    movie.selectionStart = in.u32();
    movie.selectionDuration = in.u32();
    movie.time = in.u32();
    const uint32_t next = in.u32();
    if (!in.ok || scale < 1 || scale > uint32_t(INT32_MAX)) return badPublicMovieAtom;
    movie.scale = TimeScale(scale);
    movie.nextTrackID = int32_t(std::min(next, kMaxTrackID));
    return noErr;
}

OSErr parseTrackHeader(Span body, ParsedTrack& track) {
    In in{body};
    uint8_t version = 0;
    uint32_t flags = 0;
    if (!version01(in, version, &flags)) return badPublicMovieAtom;
    in.skip(version ? 16 : 8);
    const uint32_t id = in.u32();
    in.skip(4);
    const uint64_t duration = version ? in.u64() : in.u32();
    in.skip(8);
    track.layer = int16_t(in.u16());
    track.group = in.u16();
    track.volume = int16_t(in.u16());
    in.skip(2);
    readMatrix(in, track.matrix);
    track.width = Fixed(in.u32());
    track.height = Fixed(in.u32());
    if (!in.ok || id < 1 || id >= kMaxTrackID || duration > uint64_t(kMaxTime) || track.width < 0 ||
        track.height < 0)
        return badPublicMovieAtom;
    track.id = int32_t(id);
    track.enabled = (flags & 1) != 0;
    track.duration = int64_t(duration);
    return noErr;
}

OSErr parseEditList(Span body, ParsedTrack& track) {
    OSType type = 0;
    Span atom;
    OSErr err = noErr;
    while (nextAtom(body, type, atom, err)) {
        if (type != FOUR_CHAR_CODE("elst")) continue;
        In in{atom};
        uint8_t version = 0;
        if (!version01(in, version)) return badPublicMovieAtom;
        const uint32_t count = in.u32();
        const size_t entry = version ? 20 : 12;
        if (!in.ok || count > in.left() / entry) return badPublicMovieAtom;
        track.hasEdits = true;
        track.edits.clear();
        track.edits.reserve(count);
        int64_t total = 0;
        for (uint32_t i = 0; i < count; ++i) {
            ParsedEdit e;
            const uint64_t length = version ? in.u64() : in.u32();
            e.mediaTime = version ? int64_t(in.u64()) : int64_t(int32_t(in.u32()));
            e.rate = Fixed(in.u32());
            if (length > uint64_t(kMaxTime) || int64_t(length) > kMaxTime - total || e.mediaTime < -1 ||
                e.mediaTime > kMaxTime || e.rate < 0)
                return badPublicMovieAtom;
            e.length = int64_t(length);
            total += e.length;
            track.edits.push_back(e);
        }
    }
    return err;
}

OSErr parseDataRefs(Span body, ParsedMedia& media) {
    OSType type = 0;
    Span atom;
    OSErr err = noErr;
    while (nextAtom(body, type, atom, err)) {
        if (type != FOUR_CHAR_CODE("dref")) continue;
        In in{atom};
        in.skip(4);
        const uint32_t count = in.u32();
        if (!in.ok || count > in.left() / 12 || count > uint32_t(INT16_MAX)) return badPublicMovieAtom;
        Span entries = in.rest();
        media.dataRefs.clear();
        media.dataRefs.reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            Span entry;
            if (!nextAtom(entries, type, entry, err) || entry.n < 4) return badPublicMovieAtom;
            ParsedDataRef r;
            r.self = (platform::loadBE32(entry.p) & 1) != 0;
            r.ref.type = type;
            r.ref.bytes.assign(entry.p + 4, entry.p + entry.n);
            media.dataRefs.push_back(std::move(r));
        }
    }
    return err;
}

// The tables of a sample table atom, each checked against the bytes that hold it.
struct Tables {
    std::vector<std::pair<uint32_t, uint32_t>> stts; // count, duration
    bool hasCtts = false;
    std::vector<std::pair<uint32_t, int32_t>> ctts; // count, display offset
    bool hasStss = false;
    std::vector<uint32_t> stss;                // 1-based sync sample numbers
    std::vector<std::array<uint32_t, 3>> stsc; // first chunk, samples per chunk, description
    uint32_t sampleSize = 0;
    uint32_t sampleCount = 0;
    std::vector<uint32_t> sizes;
    std::vector<int64_t> chunks;
    bool hasStsz = false, hasChunks = false;
};

OSErr parseTables(Span body, OSType mediaType, ParsedMedia& media, Tables& t) {
    OSType type = 0;
    Span atom;
    OSErr err = noErr;
    while (nextAtom(body, type, atom, err)) {
        In in{atom};
        in.skip(4); // version and flags
        switch (type) {
        case FOUR_CHAR_CODE("stsd"): {
            const uint32_t count = in.u32();
            if (!in.ok || count > in.left() / 16) return badPublicMovieAtom;
            Span entries = in.rest();
            media.descriptions.clear();
            media.descriptions.reserve(count);
            for (uint32_t i = 0; i < count; ++i) {
                if (entries.n < 16) return badPublicMovieAtom;
                const uint32_t size = platform::loadBE32(entries.p);
                // Descriptions are read as records by their users: each holds its fixed fields.
                size_t least = 16;
                if (mediaType == VideoMediaType) least = sizeof(ImageDescription);
                if (mediaType == SoundMediaType) least = sizeof(SoundDescription);
                if (size < least || size > entries.n || size > uint32_t(INT32_MAX)) return badPublicMovieAtom;
                media.descriptions.push_back(nativeDescription(mediaType, entries.p, size));
                entries = {entries.p + size, entries.n - size};
            }
            break;
        }
        case FOUR_CHAR_CODE("stts"): {
            const uint32_t count = in.u32();
            if (!in.ok || count > in.left() / 8) return badPublicMovieAtom;
            t.stts.resize(count);
            for (auto& [n, d] : t.stts) {
                n = in.u32();
                d = in.u32();
            }
            break;
        }
        case FOUR_CHAR_CODE("ctts"): {
            const uint32_t count = in.u32();
            if (!in.ok || count > in.left() / 8) return badPublicMovieAtom;
            t.hasCtts = true;
            t.ctts.resize(count);
            for (auto& [n, o] : t.ctts) {
                n = in.u32();
                o = int32_t(in.u32());
            }
            break;
        }
        case FOUR_CHAR_CODE("stss"): {
            const uint32_t count = in.u32();
            if (!in.ok || count > in.left() / 4) return badPublicMovieAtom;
            t.hasStss = true;
            t.stss.resize(count);
            for (uint32_t& n : t.stss)
                n = in.u32();
            break;
        }
        case FOUR_CHAR_CODE("stsc"): {
            const uint32_t count = in.u32();
            if (!in.ok || count > in.left() / 12) return badPublicMovieAtom;
            t.stsc.resize(count);
            for (auto& e : t.stsc)
                for (uint32_t& v : e)
                    v = in.u32();
            break;
        }
        case FOUR_CHAR_CODE("stsz"): {
            t.hasStsz = true;
            t.sampleSize = in.u32();
            t.sampleCount = in.u32();
            if (!in.ok) return badPublicMovieAtom;
            if (t.sampleSize == 0) {
                if (t.sampleCount > in.left() / 4) return badPublicMovieAtom;
                t.sizes.resize(t.sampleCount);
                for (uint32_t& s : t.sizes)
                    s = in.u32();
            }
            break;
        }
        case FOUR_CHAR_CODE("stco"):
        case FOUR_CHAR_CODE("co64"): {
            const bool wide = type == FOUR_CHAR_CODE("co64");
            const uint32_t count = in.u32();
            if (!in.ok || count > in.left() / (wide ? 8 : 4)) return badPublicMovieAtom;
            t.hasChunks = true;
            t.chunks.resize(count);
            for (int64_t& c : t.chunks) {
                const uint64_t v = wide ? in.u64() : in.u32();
                if (v > uint64_t(kMaxTime)) return badPublicMovieAtom;
                c = int64_t(v);
            }
            break;
        }
        default:
            break;
        }
    }
    return err;
}

// The bytes of one audio frame that an old sound description implies, for tables that count
// sound samples as one byte each; 0 when the description does not say.
uint32_t soundFrameBytes(const Bytes& d) {
    if (d.size() < sizeof(SoundDescription)) return 0;
    SoundDescription s;
    std::memcpy(&s, d.data(), sizeof s);
    if (s.version == 0)
        return uint32_t(std::max<int>(s.numChannels, 0)) * uint32_t(std::max<int>(s.sampleSize, 0)) / 8;
    if (s.version == 1 && d.size() >= 52) {
        uint32_t bytesPerFrame = 0;
        std::memcpy(&bytesPerFrame, d.data() + 44, 4);
        return bytesPerFrame;
    }
    if (s.version == 2 && d.size() >= 72) {
        uint32_t bytesPerPacket = 0, framesPerPacket = 0;
        std::memcpy(&bytesPerPacket, d.data() + 64, 4);
        std::memcpy(&framesPerPacket, d.data() + 68, 4);
        return framesPerPacket == 1 ? bytesPerPacket : 0;
    }
    return 0;
}

bool descriptionIsSelf(const ParsedMedia& media, uint32_t description) {
    int16_t index = 0;
    std::memcpy(&index, media.descriptions[description - 1].data() + 14, sizeof index);
    if (index == 0) index = 1;
    return media.dataRefs[size_t(index - 1)].self;
}

// Turns the tables into runs of samples alike. Every step takes at least one sample and ends
// at an entry of some table, so the work and the runs are bounded by the tables' sizes, never
// by the sample count the file claims.
OSErr buildRuns(const Tables& t, const Source& source, ParsedMedia& media) {
    const int64_t total = t.sampleCount;
    if (total == 0) return noErr;
    if (t.stsc.empty() || t.chunks.empty() || t.stts.empty()) return invalidSampleTable;
    for (size_t i = 0; i < t.stsc.size(); ++i) {
        const auto& e = t.stsc[i];
        if (e[0] < 1 || (i == 0 && e[0] != 1) || (i > 0 && e[0] <= t.stsc[i - 1][0]))
            return invalidSampleTable;
        if (e[2] < 1 || e[2] > media.descriptions.size()) return invalidSampleTable;
    }
    for (size_t i = 0; i < t.stss.size(); ++i)
        if (t.stss[i] < 1 || t.stss[i] > t.sampleCount || (i > 0 && t.stss[i] <= t.stss[i - 1]))
            return invalidSampleTable;

    size_t sttsAt = 0, cttsAt = 0, stssAt = 0, stscAt = 0;
    int64_t sttsLeft = 0, cttsLeft = 0;
    int64_t sample = 0;
    for (size_t chunk = 0; chunk < t.chunks.size() && sample < total; ++chunk) {
        while (stscAt + 1 < t.stsc.size() && t.stsc[stscAt + 1][0] <= chunk + 1)
            ++stscAt;
        const uint32_t description = t.stsc[stscAt][2];
        int64_t left = std::min<int64_t>(t.stsc[stscAt][1], total - sample);
        int64_t offset = t.chunks[chunk];
        const bool self = descriptionIsSelf(media, description);
        uint32_t constSize = t.sampleSize;
        if (constSize == 1 && media.type == SoundMediaType) {
            const uint32_t frame = soundFrameBytes(media.descriptions[description - 1]);
            if (frame > 1) constSize = frame;
        }
        while (left > 0) {
            int64_t len = left;
            while (sttsLeft == 0) {
                if (sttsAt >= t.stts.size()) return invalidSampleTable;
                sttsLeft = t.stts[sttsAt++].first;
            }
            const int64_t duration = t.stts[sttsAt - 1].second;
            len = std::min(len, sttsLeft);
            int64_t displayOffset = 0;
            if (t.hasCtts) {
                while (cttsLeft == 0 && cttsAt < t.ctts.size())
                    cttsLeft = t.ctts[cttsAt++].first;
                if (cttsLeft > 0) {
                    displayOffset = t.ctts[cttsAt - 1].second;
                    len = std::min(len, cttsLeft);
                }
            }
            uint32_t size = constSize;
            if (!constSize) {
                size = t.sizes[size_t(sample)];
                int64_t k = 1;
                while (k < len && t.sizes[size_t(sample + k)] == size)
                    ++k;
                len = k;
            }
            uint32_t flags = 0;
            if (t.hasStss) {
                if (stssAt < t.stss.size() && t.stss[stssAt] == sample + 1) {
                    int64_t k = 1;
                    while (k < len && stssAt + size_t(k) < t.stss.size() &&
                           t.stss[stssAt + size_t(k)] == sample + 1 + k)
                        ++k;
                    len = k;
                    stssAt += size_t(k);
                } else {
                    flags = mediaSampleNotSync;
                    if (stssAt < t.stss.size())
                        len = std::min<int64_t>(len, int64_t(t.stss[stssAt]) - (sample + 1));
                }
            }
            // The bytes must lie in the data: all of the source for samples in it.
            const __int128 bytes = __int128(len) * size;
            const __int128 end = __int128(offset) + bytes;
            if (end > (self ? __int128(source.size) : __int128(kMaxTime))) return invalidSampleTable;
            if (__int128(media.decodeEnd) + __int128(len) * duration > kMaxTime) return invalidSampleTable;

            SampleRun run;
            run.firstNumber = media.sampleCount;
            run.firstDecodeTime = media.decodeEnd;
            run.count = len;
            run.duration = duration;
            run.displayOffset = displayOffset;
            run.dataOffset = offset;
            run.size = size;
            run.flags = flags;
            run.description = description;
            run.reference = true;
            SampleRun* last = media.runs.empty() ? nullptr : &media.runs.back();
            if (last && last->size == run.size && last->duration == run.duration &&
                last->displayOffset == run.displayOffset && last->flags == run.flags &&
                last->description == run.description &&
                last->dataOffset + last->count * int64_t(last->size) == offset)
                last->count += len;
            else
                media.runs.push_back(run);
            media.sampleCount += len;
            media.decodeEnd += len * duration;
            media.displayEnd = std::max(media.displayEnd, media.decodeEnd + displayOffset);

            offset += int64_t(bytes);
            sample += len;
            left -= len;
            sttsLeft -= len;
            if (cttsLeft > 0) cttsLeft -= len;
        }
    }
    // Samples that no chunk holds have no bytes.
    return sample < total ? invalidSampleTable : noErr;
}

OSErr parseMedia(Span body, const Source& source, ParsedTrack& track) {
    ParsedMedia& media = track.media;
    OSType type = 0;
    Span atom;
    OSErr err = noErr;
    Span minf{};
    bool haveHeader = false, haveMinf = false;
    while (nextAtom(body, type, atom, err)) {
        In in{atom};
        if (type == FOUR_CHAR_CODE("mdhd")) {
            uint8_t version = 0;
            if (!version01(in, version)) return badPublicMovieAtom;
            in.skip(version ? 16 : 8);
            const uint32_t scale = in.u32();
            in.skip(version ? 8 : 4);
            media.language = int16_t(in.u16());
            media.quality = int16_t(in.u16());
            if (!in.ok || scale < 1 || scale > uint32_t(INT32_MAX)) return badPublicMovieAtom;
            media.scale = TimeScale(scale);
            haveHeader = true;
        } else if (type == FOUR_CHAR_CODE("hdlr")) {
            in.skip(8);
            media.type = in.u32();
            if (!in.ok) return badPublicMovieAtom;
        } else if (type == FOUR_CHAR_CODE("minf")) {
            minf = atom;
            haveMinf = true;
        }
    }
    if (err) return err;
    if (!haveHeader || media.type == 0) return badPublicMovieAtom;
    track.hasMedia = true;
    if (!haveMinf) return noErr;

    Tables tables;
    while (nextAtom(minf, type, atom, err)) {
        if (type == FOUR_CHAR_CODE("dinf")) {
            if (OSErr e = parseDataRefs(atom, media)) return e;
        } else if (type == FOUR_CHAR_CODE("stbl")) {
            if (OSErr e = parseTables(atom, media.type, media, tables)) return e;
        }
    }
    if (err) return err;
    // A media without data references keeps its samples in the movie's own file.
    if (media.dataRefs.empty()) media.dataRefs.push_back({DataRef{AliasDataHandlerSubType, {}}, true});
    for (Bytes& d : media.descriptions) {
        int16_t index = 0;
        std::memcpy(&index, d.data() + 14, sizeof index);
        if (index < 0 || size_t(index) > media.dataRefs.size()) return badPublicMovieAtom;
    }
    return buildRuns(tables, source, media);
}

OSErr parseTrack(Span body, const Source& source, ParsedTrack& track) {
    OSType type = 0;
    Span atom;
    OSErr err = noErr;
    bool haveHeader = false;
    while (nextAtom(body, type, atom, err)) {
        OSErr e = noErr;
        switch (type) {
        case FOUR_CHAR_CODE("tkhd"):
            e = parseTrackHeader(atom, track);
            haveHeader = true;
            break;
        case FOUR_CHAR_CODE("edts"):
            e = parseEditList(atom, track);
            break;
        case FOUR_CHAR_CODE("mdia"):
            e = parseMedia(atom, source, track);
            break;
        case FOUR_CHAR_CODE("udta"):
            e = parseUserData(atom, track.userData);
            break;
        case FOUR_CHAR_CODE("load"): {
            // Preload time, preload duration, preload flags, default hints.
            In in{atom};
            TrackLoadSettings load;
            load.preloadTime = int32_t(in.u32());
            load.preloadDuration = int32_t(in.u32());
            load.preloadFlags = int32_t(in.u32());
            load.defaultHints = int32_t(in.u32());
            if (!in.ok) return badPublicMovieAtom;
            track.load = load;
            break;
        }
        case FOUR_CHAR_CODE("tref"): {
            OSType refType = 0;
            Span ids;
            while (nextAtom(atom, refType, ids, e)) {
                std::vector<uint32_t> list(ids.n / 4);
                for (size_t i = 0; i < list.size(); ++i)
                    list[i] = platform::loadBE32(ids.p + 4 * i);
                track.references.emplace_back(refType, std::move(list));
            }
            break;
        }
        default:
            break;
        }
        if (e) return e;
    }
    if (err) return err;
    return haveHeader ? noErr : badPublicMovieAtom;
}

// A reference movie: the first reference of a kind this layer resolves.
OSErr parseReferenceMovie(Span body, ParsedMovie& movie) {
    movie.isReference = true;
    OSType type = 0;
    Span rmda;
    OSErr err = noErr;
    while (nextAtom(body, type, rmda, err)) {
        if (type != FOUR_CHAR_CODE("rmda")) continue;
        Span rdrf;
        while (nextAtom(rmda, type, rdrf, err)) {
            if (type != FOUR_CHAR_CODE("rdrf")) continue;
            In in{rdrf};
            in.skip(4);
            const OSType refType = in.u32();
            const uint32_t size = in.u32();
            if (!in.ok || size > in.left()) return badPublicMovieAtom;
            if (movie.target.type == 0 && refType == AliasDataHandlerSubType) {
                movie.target.type = refType;
                movie.target.bytes.assign(in.rest().p, in.rest().p + size);
            }
        }
    }
    return err;
}

OSErr parseMovieAtom(Span body, const Source& source, ParsedMovie& movie) {
    OSType type = 0;
    Span atom;
    OSErr err = noErr;
    bool haveHeader = false;
    while (nextAtom(body, type, atom, err)) {
        OSErr e = noErr;
        switch (type) {
        case FOUR_CHAR_CODE("mvhd"):
            e = parseMovieHeader(atom, movie);
            haveHeader = true;
            break;
        case FOUR_CHAR_CODE("trak"):
            movie.tracks.emplace_back();
            e = parseTrack(atom, source, movie.tracks.back());
            break;
        case FOUR_CHAR_CODE("udta"):
            e = parseUserData(atom, movie.userData);
            break;
        case FOUR_CHAR_CODE("rmra"):
            e = parseReferenceMovie(atom, movie);
            break;
        default:
            break;
        }
        if (e) return e;
    }
    if (err) return err;
    if (movie.isReference) return noErr;
    if (!haveHeader) return badPublicMovieAtom;
    // Track identifiers name one track each.
    for (size_t i = 0; i < movie.tracks.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            if (movie.tracks[i].id == movie.tracks[j].id) return badPublicMovieAtom;
    return noErr;
}

// Walks the source's top-level atoms, telling `visit` each one's type, header start, header
// size and whole size. Every atom's size must hold in the source: a file cut short is refused
// even when its movie atom came first.
template <class Visit> OSErr walkTopLevel(const Source& source, Visit&& visit) {
    for (int64_t pos = 0; pos < source.size;) {
        uint8_t h[16];
        const int64_t left = source.size - pos;
        if (left < 8) return badPublicMovieAtom;
        if (OSErr err = source.read(pos, 8, h)) return err;
        uint64_t atomSize = platform::loadBE32(h);
        const OSType type = platform::loadBE32(h + 4);
        int64_t header = 8;
        if (atomSize == 1) {
            if (left < 16) return badPublicMovieAtom;
            if (OSErr err = source.read(pos + 8, 8, h + 8)) return err;
            atomSize = (uint64_t(platform::loadBE32(h + 8)) << 32) | platform::loadBE32(h + 12);
            header = 16;
        } else if (atomSize == 0) {
            atomSize = uint64_t(left);
        }
        if (atomSize < uint64_t(header) || atomSize > uint64_t(left)) return badPublicMovieAtom;
        visit(type, pos, header, int64_t(atomSize));
        pos += int64_t(atomSize);
    }
    return noErr;
}

OSErr findMovieAtom(const Source& source, int64_t& at, int64_t& size) {
    at = -1;
    size = 0;
    const OSErr err = walkTopLevel(source, [&](OSType type, int64_t pos, int64_t header, int64_t atomSize) {
        if (type == FOUR_CHAR_CODE("moov") && at < 0) {
            at = pos + header;
            size = atomSize - header;
        }
    });
    if (err) return err;
    return at < 0 ? noMovieFound : noErr;
}

} // namespace

OSErr Source::read(int64_t offset, size_t count, uint8_t* out) const {
    if (offset < 0 || offset > size || int64_t(count) > size - offset) return endOfDataReached;
    if (memory) {
        if (count) std::memcpy(out, memory + offset, count);
        return noErr;
    }
    return readAll(fd, out, count, offset);
}

OSErr fileLayout(const Source& source, FileLayout& layout) {
    layout = FileLayout();
    struct Seen {
        OSType type = 0;
        int64_t pos = 0, header = 0, size = 0;
    } before[2], last;
    const OSErr err = walkTopLevel(source, [&](OSType type, int64_t pos, int64_t header, int64_t atomSize) {
        if (type == FOUR_CHAR_CODE("moov") && layout.moovAt < 0) {
            layout.moovAt = pos;
            layout.moovSize = atomSize;
        }
        before[0] = before[1];
        before[1] = last;
        last = {type, pos, header, atomSize};
    });
    if (err) return err;
    if (layout.moovAt < 0) return noMovieFound;
    const Seen& data = before[1];
    if (last.type == FOUR_CHAR_CODE("moov") && last.pos == layout.moovAt && data.type == kMdat &&
        data.pos + data.size == last.pos) {
        layout.moovLastAfterData = true;
        layout.mdatAt = data.pos;
        layout.mdatHeader = data.header;
        layout.wideBeforeData =
            before[0].type == FOUR_CHAR_CODE("wide") && before[0].size == 8 && before[0].pos + 8 == data.pos;
    }
    return noErr;
}

bool holdsMovie(const Source& source) {
    int64_t at = 0, size = 0;
    return findMovieAtom(source, at, size) == noErr;
}

OSErr parseSource(const Source& source, ParsedMovie& movie) {
    int64_t at = 0, size = 0;
    if (OSErr err = findMovieAtom(source, at, size)) return err;
    if (size > kMaxMovieAtom) return memFullErr;
    try {
        Bytes atom(static_cast<size_t>(size));
        if (OSErr err = source.read(at, atom.size(), atom.data())) return err;
        return parseMovieAtom({atom.data(), atom.size()}, source, movie);
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
}

// ---------------------------------------------------------------------------------------------
// The movie of the model.

namespace {

int64_t gcd64(int64_t a, int64_t b) {
    return std::gcd(a, b);
}

Edit makeEdit(int64_t length, int64_t mediaTime, Fixed rate, int64_t movieScale, int64_t mediaScale) {
    Edit e;
    e.length = length;
    if (mediaTime < 0) return e;
    e.empty = false;
    e.anchor = mediaTime;
    // Media units per track unit: rate * mediaScale / movieScale.
    e.num = int64_t(rate) * mediaScale;
    e.den = int64_t(65536) * movieScale;
    const int64_t g = gcd64(e.num, e.den);
    if (g > 1) {
        e.num /= g;
        e.den /= g;
    }
    return e;
}

void addUserData(UserData ud, const UserDataItems& items) {
    if (!ud) return;
    for (const auto& [type, bytes] : items) {
        Handle h = nullptr;
        if (PtrToHand(bytes.data(), &h, Size(bytes.size())) != noErr) continue;
        AddUserData(ud, h, type);
        DisposeHandle(h);
    }
}

} // namespace

OSErr buildMovie(const ParsedMovie& parsed, const Source& source, int16_t flags, Movie* out) {
    *out = nullptr;
    Movie movie = NewMovie(flags & 1);
    if (!movie) return memFullErr;
    auto fail = [&](OSErr err) {
        DisposeMovie(movie);
        return err;
    };
    std::vector<Track> tracks;
    for (const ParsedTrack& pt : parsed.tracks) {
        Track t = NewMovieTrack(movie, pt.width, pt.height, pt.volume);
        if (!t) return fail(memFullErr);
        if (pt.hasMedia && !NewTrackMedia(t, pt.media.type, pt.media.scale, nullptr, 0))
            return fail(memFullErr);
        tracks.push_back(t);
    }
    const bool inMemory = source.memory != nullptr;
    OSErr err = noErr;
    {
        Lock lock(registry().mutex);
        MovieRecord* m = findMovie(movie);
        if (!m) return invalidMovie;
        m->scale = parsed.scale;
        m->matrix = parsed.matrix;
        m->active = (flags & 1) != 0;
        m->previewStart = parsed.previewStart;
        m->previewDuration = parsed.previewDuration;
        m->posterTime = parsed.posterTime;
        m->selectionStart = parsed.selectionStart;
        m->selectionDuration = parsed.selectionDuration;
        m->time = parsed.time;
        // The movie plays at the rate and volume it was saved with.
        if (MoviePlayback* p = playbackOf(*m)) {
            p->preferredRate = parsed.preferredRate;
            p->preferredVolume = parsed.preferredVolume;
            p->volume = parsed.preferredVolume;
        }
        int32_t maxID = 0;
        for (const ParsedTrack& pt : parsed.tracks)
            maxID = std::max(maxID, pt.id);
        m->nextTrackID = std::max(parsed.nextTrackID, maxID + 1);
        if (!source.path.empty()) m->defaultDataRef = {AliasDataHandlerSubType, aliasBytes(source.path)};
        addUserData(m->userData, parsed.userData);

        // Samples copied out of memory never add up to more than the memory held.
        int64_t copied = 0;
        try {
            for (size_t i = 0; i < tracks.size() && !err; ++i) {
                const ParsedTrack& pt = parsed.tracks[i];
                TrackRecord* t = findTrack(tracks[i]);
                t->id = pt.id;
                t->matrix = pt.matrix;
                t->enabled = pt.enabled;
                t->layer = pt.layer;
                t->load = pt.load;
                addUserData(t->userData, pt.userData);
                if (!t->media) continue;
                MediaRecord& md = *t->media;
                const ParsedMedia& pm = pt.media;
                md.language = pm.language;
                md.quality = pm.quality;
                md.descriptions = pm.descriptions;
                bool allSelf = true;
                for (const ParsedDataRef& r : pm.dataRefs)
                    allSelf = allSelf && r.self;
                md.dataRefs.clear();
                if (!(inMemory && allSelf)) {
                    for (const ParsedDataRef& r : pm.dataRefs) {
                        DataRef ref = r.ref;
                        if (r.self)
                            ref = {AliasDataHandlerSubType, inMemory ? Bytes{0} : aliasBytes(source.path)};
                        // A file names no memory: a handle or pointer it holds is not followed.
                        else if (ref.type == HandleDataHandlerSubType ||
                                 ref.type == PointerDataHandlerSubType)
                            ref.bytes.clear();
                        md.dataRefs.push_back(std::move(ref));
                    }
                }
                md.runs = pm.runs;
                for (SampleRun& r : md.runs) {
                    const bool self = descriptionIsSelf(pm, r.description);
                    if (!(inMemory && self)) continue;
                    const int64_t bytes = r.count * int64_t(r.size);
                    if (bytes > source.size - copied) {
                        err = invalidSampleTable;
                        break;
                    }
                    const int64_t at = int64_t(md.storage.size());
                    md.storage.insert(md.storage.end(), source.memory + r.dataOffset,
                                      source.memory + r.dataOffset + bytes);
                    copied += bytes;
                    r.dataOffset = at;
                    r.reference = false;
                }
                md.sampleCount = pm.sampleCount;
                md.decodeEnd = pm.decodeEnd;
                md.displayEnd = pm.displayEnd;
            }
            if (!err) {
                // Edits, alternate groups and references, now that every track is in place.
                for (size_t i = 0; i < tracks.size(); ++i) {
                    const ParsedTrack& pt = parsed.tracks[i];
                    TrackRecord* t = findTrack(tracks[i]);
                    const int64_t mediaScale = t->media ? t->media->scale : m->scale;
                    if (pt.hasEdits) {
                        for (const ParsedEdit& e : pt.edits)
                            t->edits.push_back(makeEdit(e.length, t->media ? e.mediaTime : -1, e.rate,
                                                        m->scale, mediaScale));
                    } else if (pt.duration > 0 && t->media) {
                        t->edits.push_back(makeEdit(pt.duration, 0, 0x10000, m->scale, mediaScale));
                    }
                    normalizeEdits(*t);
                    if (pt.group) {
                        for (size_t j = i + 1; j < tracks.size(); ++j) {
                            if (parsed.tracks[j].group != pt.group) continue;
                            TrackRecord* other = findTrack(tracks[j]);
                            if (other->alternate != other) continue;
                            // Into the ring after t.
                            other->alternate = t->alternate;
                            t->alternate = other;
                        }
                    }
                    for (const auto& entry : pt.references) {
                        const OSType type = entry.first;
                        const std::vector<uint32_t>& ids = entry.second;
                        TrackReferences refs;
                        refs.type = type;
                        for (uint32_t id : ids) {
                            for (size_t j = 0; j < tracks.size(); ++j) {
                                if (uint32_t(parsed.tracks[j].id) != id) continue;
                                TrackRecord* other = findTrack(tracks[j]);
                                if (std::find(refs.tracks.begin(), refs.tracks.end(), other) ==
                                    refs.tracks.end())
                                    refs.tracks.push_back(other);
                            }
                        }
                        if (refs.tracks.empty()) continue;
                        auto same = std::find_if(t->references.begin(), t->references.end(),
                                                 [&](const TrackReferences& r) { return r.type == type; });
                        if (same == t->references.end()) t->references.push_back(std::move(refs));
                    }
                }
                keepTimeInMovie(*m);
                markMovieSaved(*m);
            }
        } catch (const std::bad_alloc&) {
            err = memFullErr;
        }
    }
    if (err) return fail(err);
    *out = movie;
    return noErr;
}

} // namespace platform::movie::reader
