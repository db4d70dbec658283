#include "PlatformQTFileFormat.h"

#include "PlatformDataRef.h"
#include "PlatformEndian.h"
#include "PlatformMemory.h"
#include "PlatformMoviePlaybackState.h"

#include <algorithm>
#include <cstring>

namespace platform::movie {

namespace {

// Appends big-endian values and atoms to a buffer.
struct Writer {
    Bytes& out;
    void u8(uint8_t v) { out.push_back(v); }
    void u16(uint16_t v) {
        u8(uint8_t(v >> 8));
        u8(uint8_t(v));
    }
    void u32(uint32_t v) {
        u16(uint16_t(v >> 16));
        u16(uint16_t(v));
    }
    void u64(uint64_t v) {
        u32(uint32_t(v >> 32));
        u32(uint32_t(v));
    }
    void zeros(size_t n) { out.insert(out.end(), n, 0); }
    void bytes(const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); }
    size_t begin(OSType type) {
        const size_t at = out.size();
        u32(0);
        u32(type);
        return at;
    }
    size_t beginFull(OSType type, uint8_t version, uint32_t flags) {
        const size_t at = begin(type);
        u32((uint32_t(version) << 24) | (flags & 0xFFFFFF));
        return at;
    }
    // Atoms of a movie atom stay far below 4 GiB: their size was bounded by the tables' counts.
    void end(size_t at) { platform::storeBE32(out.data() + at, uint32_t(out.size() - at)); }
    void matrix(const MatrixRecord& m) {
        for (const auto& row : m.matrix)
            for (Fixed v : row)
                u32(uint32_t(v));
    }
};

bool fits32(int64_t v) {
    return v >= 0 && v <= int64_t(UINT32_MAX);
}

void swapField(uint8_t* p, size_t width) {
    std::reverse(p, p + width);
}

// Turns the fixed fields of a description around, between the file's big-endian order and the
// model's native order; `version` is the sound description's version, read in the order the bytes
// are in.
void swapDescription(OSType mediaType, Bytes& d, int16_t version) {
    if (std::endian::native != std::endian::little) return;
    uint8_t* p = d.data();
    auto field = [&](size_t offset, size_t width) {
        if (offset + width <= d.size()) swapField(p + offset, width);
    };
    field(0, 4);
    field(4, 4);
    field(8, 4);
    field(12, 2);
    field(14, 2);
    if (mediaType == VideoMediaType && d.size() >= sizeof(ImageDescription)) {
        for (size_t o : {16, 18})
            field(o, 2);
        for (size_t o : {20, 24, 28})
            field(o, 4);
        for (size_t o : {32, 34})
            field(o, 2);
        for (size_t o : {36, 40, 44})
            field(o, 4);
        field(48, 2);
        for (size_t o : {82, 84})
            field(o, 2);
    } else if (mediaType == SoundMediaType && d.size() >= sizeof(SoundDescription)) {
        for (size_t o : {16, 18})
            field(o, 2);
        field(20, 4);
        for (size_t o : {24, 26, 28, 30})
            field(o, 2);
        field(32, 4);
        if (version == 1 && d.size() >= 52) {
            for (size_t o : {36, 40, 44, 48})
                field(o, 4);
        } else if (version == 2 && d.size() >= 72) {
            field(36, 4);
            field(40, 8);
            for (size_t o : {48, 52, 56, 60, 64, 68})
                field(o, 4);
        }
    }
}

// The description as files hold it: its fixed fields big-endian, its data reference renumbered.
Bytes fileDescription(OSType mediaType, const Bytes& native, uint16_t dataRefIndex) {
    Bytes d = native;
    int16_t version = 0;
    if (d.size() >= 18) std::memcpy(&version, native.data() + 16, sizeof version);
    swapDescription(mediaType, d, version);
    platform::storeBE16(d.data() + 14, dataRefIndex);
    return d;
}

// The user data's items, each an atom of its type, in the order the list keeps them.
void writeUserData(Writer& w, UserData ud) {
    if (!ud) return;
    Handle item = NewHandle(0);
    if (!item) return;
    size_t at = SIZE_MAX;
    for (OSType type = GetNextUserDataType(ud, 0); type; type = GetNextUserDataType(ud, type)) {
        const int16_t count = CountUserDataType(ud, type);
        for (int16_t i = 1; i <= count; ++i) {
            if (GetUserData(ud, item, type, i) != noErr) continue;
            if (at == SIZE_MAX) at = w.begin(FOUR_CHAR_CODE("udta"));
            const size_t a = w.begin(type);
            w.bytes(reinterpret_cast<const uint8_t*>(*item), size_t(std::max<Size>(GetHandleSize(item), 0)));
            w.end(a);
        }
    }
    DisposeHandle(item);
    if (at != SIZE_MAX) w.end(at);
}

Fixed editRate(const Edit& e, int64_t movieScale, int64_t mediaScale) {
    // Media units per track unit is num / den; per second of each, times the scales' ratio.
    const __int128 rate = (__int128(e.num) * movieScale * 65536 + __int128(e.den) * mediaScale / 2) /
                          (__int128(e.den) * mediaScale);
    return rate > INT32_MAX ? INT32_MAX : Fixed(rate);
}

struct Chunk {
    int64_t offset;
    int64_t samples;
    uint32_t description;
};

OSErr writeSampleTable(Writer& w, const MediaRecord& m, const AtomPlan& plan,
                       const std::vector<uint16_t>& descriptionRefs) {
    // The tables count samples and chunks in 32 bits.
    if (m.sampleCount > int64_t(UINT32_MAX)) return paramErr;
    const size_t stbl = w.begin(FOUR_CHAR_CODE("stbl"));

    size_t at = w.beginFull(FOUR_CHAR_CODE("stsd"), 0, 0);
    w.u32(uint32_t(m.descriptions.size()));
    for (size_t i = 0; i < m.descriptions.size(); ++i) {
        const Bytes d = fileDescription(m.type, m.descriptions[i], descriptionRefs[i]);
        w.bytes(d.data(), d.size());
    }
    w.end(at);

    // Decode durations, joined where neighbours agree.
    std::vector<std::pair<int64_t, int64_t>> stts;
    for (const SampleRun& r : m.runs) {
        if (!stts.empty() && stts.back().second == r.duration)
            stts.back().first += r.count;
        else
            stts.push_back({r.count, r.duration});
    }
    at = w.beginFull(FOUR_CHAR_CODE("stts"), 0, 0);
    size_t countAt = w.out.size();
    w.u32(0);
    uint32_t entries = 0;
    for (auto [count, duration] : stts) {
        if (duration > int64_t(UINT32_MAX)) return paramErr;
        for (int64_t left = count; left > 0; left -= UINT32_MAX, ++entries) {
            w.u32(uint32_t(std::min<int64_t>(left, UINT32_MAX)));
            w.u32(uint32_t(duration));
        }
    }
    platform::storeBE32(w.out.data() + countAt, entries);
    w.end(at);

    const bool anyOffset =
        std::any_of(m.runs.begin(), m.runs.end(), [](const SampleRun& r) { return r.displayOffset != 0; });
    if (anyOffset) {
        at = w.beginFull(FOUR_CHAR_CODE("ctts"), 0, 0);
        countAt = w.out.size();
        w.u32(0);
        entries = 0;
        for (const SampleRun& r : m.runs) {
            if (r.displayOffset < INT32_MIN || r.displayOffset > INT32_MAX) return paramErr;
            for (int64_t left = r.count; left > 0; left -= INT32_MAX, ++entries) {
                w.u32(uint32_t(std::min<int64_t>(left, INT32_MAX)));
                w.u32(uint32_t(int32_t(r.displayOffset)));
            }
        }
        platform::storeBE32(w.out.data() + countAt, entries);
        w.end(at);
    }

    // Sync samples are listed only when some sample is not one.
    const bool anyNotSync = std::any_of(m.runs.begin(), m.runs.end(),
                                        [](const SampleRun& r) { return r.flags & mediaSampleNotSync; });
    if (anyNotSync) {
        at = w.beginFull(FOUR_CHAR_CODE("stss"), 0, 0);
        countAt = w.out.size();
        w.u32(0);
        entries = 0;
        for (const SampleRun& r : m.runs) {
            if (r.flags & mediaSampleNotSync) continue;
            for (int64_t k = 0; k < r.count; ++k, ++entries)
                w.u32(uint32_t(r.firstNumber + k + 1));
        }
        platform::storeBE32(w.out.data() + countAt, entries);
        w.end(at);
    }

    // One chunk for each run: its samples lie one after another.
    std::vector<Chunk> chunks;
    for (const SampleRun& r : m.runs) {
        const int64_t offset = plan.runOffset(m, r);
        if (offset < 0) return paramErr;
        chunks.push_back({offset, r.count, r.description});
    }
    at = w.beginFull(FOUR_CHAR_CODE("stsc"), 0, 0);
    countAt = w.out.size();
    w.u32(0);
    entries = 0;
    for (size_t i = 0; i < chunks.size(); ++i) {
        if (i > 0 && chunks[i].samples == chunks[i - 1].samples &&
            chunks[i].description == chunks[i - 1].description)
            continue;
        w.u32(uint32_t(i + 1));
        w.u32(uint32_t(chunks[i].samples));
        w.u32(chunks[i].description);
        ++entries;
    }
    platform::storeBE32(w.out.data() + countAt, entries);
    w.end(at);

    const bool oneSize = std::all_of(m.runs.begin(), m.runs.end(),
                                     [&](const SampleRun& r) { return r.size == m.runs.front().size; });
    at = w.beginFull(FOUR_CHAR_CODE("stsz"), 0, 0);
    if (oneSize && !m.runs.empty()) {
        w.u32(m.runs.front().size);
        w.u32(uint32_t(m.sampleCount));
    } else {
        w.u32(0);
        w.u32(uint32_t(m.sampleCount));
        for (const SampleRun& r : m.runs)
            for (int64_t k = 0; k < r.count; ++k)
                w.u32(r.size);
    }
    w.end(at);

    const bool wide = plan.wideOffsets || std::any_of(chunks.begin(), chunks.end(), [](const Chunk& c) {
                          return c.offset > int64_t(UINT32_MAX);
                      });
    at = w.beginFull(wide ? FOUR_CHAR_CODE("co64") : FOUR_CHAR_CODE("stco"), 0, 0);
    w.u32(uint32_t(chunks.size()));
    for (const Chunk& c : chunks) {
        if (wide)
            w.u64(uint64_t(c.offset));
        else
            w.u32(uint32_t(c.offset));
    }
    w.end(at);

    w.end(stbl);
    return noErr;
}

OSErr writeMedia(Writer& w, const MediaRecord& m, const AtomPlan& plan, int64_t movieScale) {
    (void)movieScale;
    // The file's data references, and the one each description's samples lie in.
    std::vector<std::pair<const DataRef*, bool>> refs; // reference, is the file itself
    int selfIndex = 0;
    if (!plan.selfContained) {
        for (size_t i = 0; i < m.dataRefs.size(); ++i) {
            const bool self = plan.isSelf(m, i);
            refs.push_back({&m.dataRefs[i], self});
            if (self && !selfIndex) selfIndex = int(i + 1);
        }
    }
    std::vector<uint16_t> descriptionRefs(m.descriptions.size(), 1);
    for (size_t i = 0; i < m.descriptions.size(); ++i) {
        bool inFile = plan.selfContained || m.dataRefs.empty();
        for (const SampleRun& r : m.runs)
            if (r.description == i + 1 && runInFile(m, r, plan)) inFile = true;
        if (inFile) {
            if (!selfIndex) {
                refs.push_back({nullptr, true});
                selfIndex = int(refs.size());
            }
            descriptionRefs[i] = uint16_t(selfIndex);
        } else {
            int16_t index = 0;
            std::memcpy(&index, m.descriptions[i].data() + 14, sizeof index);
            descriptionRefs[i] = uint16_t(index ? index : 1);
        }
    }
    if (refs.empty()) refs.push_back({nullptr, true});

    const size_t mdia = w.begin(FOUR_CHAR_CODE("mdia"));
    const bool longTimes = !fits32(m.decodeEnd);
    size_t at = w.beginFull(FOUR_CHAR_CODE("mdhd"), longTimes ? 1 : 0, 0);
    if (longTimes) {
        w.u64(0);
        w.u64(0);
        w.u32(uint32_t(m.scale));
        w.u64(uint64_t(m.decodeEnd));
    } else {
        w.u32(0);
        w.u32(0);
        w.u32(uint32_t(m.scale));
        w.u32(uint32_t(m.decodeEnd));
    }
    w.u16(uint16_t(m.language));
    w.u16(uint16_t(m.quality));
    w.end(at);

    at = w.beginFull(FOUR_CHAR_CODE("hdlr"), 0, 0);
    w.u32(FOUR_CHAR_CODE("mhlr"));
    w.u32(m.type);
    w.zeros(12);
    w.u8(0); // an empty name
    w.end(at);

    const size_t minf = w.begin(FOUR_CHAR_CODE("minf"));
    if (m.type == VideoMediaType) {
        at = w.beginFull(FOUR_CHAR_CODE("vmhd"), 0, 1);
        w.u16(0x40); // dither copy
        for (int i = 0; i < 3; ++i)
            w.u16(0x8000);
        w.end(at);
    } else if (m.type == SoundMediaType) {
        at = w.beginFull(FOUR_CHAR_CODE("smhd"), 0, 0);
        w.zeros(4);
        w.end(at);
    } else {
        const size_t gmhd = w.begin(FOUR_CHAR_CODE("gmhd"));
        at = w.beginFull(FOUR_CHAR_CODE("gmin"), 0, 0);
        w.u16(0x40);
        for (int i = 0; i < 3; ++i)
            w.u16(0x8000);
        w.zeros(4);
        w.end(at);
        w.end(gmhd);
    }
    at = w.beginFull(FOUR_CHAR_CODE("hdlr"), 0, 0);
    w.u32(FOUR_CHAR_CODE("dhlr"));
    w.u32(AliasDataHandlerSubType);
    w.zeros(12);
    w.u8(0);
    w.end(at);

    const size_t dinf = w.begin(FOUR_CHAR_CODE("dinf"));
    at = w.beginFull(FOUR_CHAR_CODE("dref"), 0, 0);
    w.u32(uint32_t(refs.size()));
    for (auto [ref, self] : refs) {
        // The file itself is a reference with no data and the self-reference flag.
        const size_t e = w.beginFull(self || !ref ? AliasDataHandlerSubType : ref->type, 0, self ? 1 : 0);
        if (!self && ref) w.bytes(ref->bytes.data(), ref->bytes.size());
        w.end(e);
    }
    w.end(at);
    w.end(dinf);

    if (OSErr err = writeSampleTable(w, m, plan, descriptionRefs)) return err;
    w.end(minf);
    w.end(mdia);
    return noErr;
}

OSErr writeTrack(Writer& w, const MovieRecord& movie, const TrackRecord& t, const AtomPlan& plan,
                 const std::vector<std::pair<const TrackRecord*, uint16_t>>& groups) {
    const size_t trak = w.begin(FOUR_CHAR_CODE("trak"));
    const int64_t duration = trackDuration(t);
    const bool longTimes = !fits32(duration);
    uint16_t group = 0;
    for (auto [track, g] : groups)
        if (track == &t) group = g;
    size_t at = w.beginFull(FOUR_CHAR_CODE("tkhd"), longTimes ? 1 : 0, t.enabled ? 0xF : 0xE);
    if (longTimes) {
        w.u64(0);
        w.u64(0);
        w.u32(uint32_t(t.id));
        w.u32(0);
        w.u64(uint64_t(duration));
    } else {
        w.u32(0);
        w.u32(0);
        w.u32(uint32_t(t.id));
        w.u32(0);
        w.u32(uint32_t(duration));
    }
    w.zeros(8);
    w.u16(uint16_t(t.layer));
    w.u16(group);
    w.u16(uint16_t(t.volume));
    w.u16(0);
    w.matrix(t.matrix);
    w.u32(uint32_t(t.width));
    w.u32(uint32_t(t.height));
    w.end(at);

    if (!t.edits.empty()) {
        const size_t edts = w.begin(FOUR_CHAR_CODE("edts"));
        const int64_t mediaScale = t.media ? t.media->scale : movie.scale;
        bool wide = false;
        for (const Edit& e : t.edits)
            if (!fits32(e.length) || (!e.empty && !fits32(mediaTimeAt(e, 0)))) wide = true;
        at = w.beginFull(FOUR_CHAR_CODE("elst"), wide ? 1 : 0, 0);
        w.u32(uint32_t(t.edits.size()));
        for (const Edit& e : t.edits) {
            const int64_t mediaTime = e.empty ? -1 : mediaTimeAt(e, 0);
            if (wide) {
                w.u64(uint64_t(e.length));
                w.u64(uint64_t(mediaTime));
            } else {
                w.u32(uint32_t(e.length));
                w.u32(uint32_t(int32_t(mediaTime)));
            }
            w.u32(uint32_t(e.empty ? 0x10000 : editRate(e, movie.scale, mediaScale)));
        }
        w.end(at);
        w.end(edts);
    }

    bool anyReference = false;
    for (const TrackReferences& r : t.references)
        anyReference = anyReference || !r.tracks.empty();
    if (anyReference) {
        const size_t tref = w.begin(FOUR_CHAR_CODE("tref"));
        for (const TrackReferences& r : t.references) {
            if (r.tracks.empty()) continue;
            at = w.begin(r.type);
            for (const TrackRecord* other : r.tracks)
                w.u32(uint32_t(other->id));
            w.end(at);
        }
        w.end(tref);
    }

    if (t.load != TrackLoadSettings{}) {
        at = w.begin(FOUR_CHAR_CODE("load"));
        w.u32(uint32_t(t.load.preloadTime));
        w.u32(uint32_t(t.load.preloadDuration));
        w.u32(uint32_t(t.load.preloadFlags));
        w.u32(uint32_t(t.load.defaultHints));
        w.end(at);
    }

    if (t.media)
        if (OSErr err = writeMedia(w, *t.media, plan, movie.scale)) return err;
    writeUserData(w, t.userData);
    w.end(trak);
    return noErr;
}

} // namespace

Bytes nativeDescription(OSType mediaType, const uint8_t* bytes, size_t size) {
    Bytes d(bytes, bytes + size);
    const int16_t version = size >= 18 ? int16_t(platform::loadBE16(bytes + 16)) : 0;
    swapDescription(mediaType, d, version);
    return d;
}

bool runInFile(const MediaRecord& m, const SampleRun& r, const AtomPlan& plan) {
    if (plan.selfContained || !r.reference || m.dataRefs.empty()) return true;
    int16_t index = 0;
    std::memcpy(&index, m.descriptions[r.description - 1].data() + 14, sizeof index);
    if (index == 0) index = 1;
    return plan.isSelf(m, size_t(index - 1));
}

OSErr buildMovieAtom(const MovieRecord& movie, const AtomPlan& plan, Bytes& out) {
    out.clear();
    Writer w{out};
    const size_t moov = w.begin(FOUR_CHAR_CODE("moov"));
    const int64_t duration = movieDuration(movie);
    const bool longTimes = !fits32(duration);
    size_t at = w.beginFull(FOUR_CHAR_CODE("mvhd"), longTimes ? 1 : 0, 0);
    if (longTimes) {
        w.u64(0);
        w.u64(0);
        w.u32(uint32_t(movie.scale));
        w.u64(uint64_t(duration));
    } else {
        w.u32(0);
        w.u32(0);
        w.u32(uint32_t(movie.scale));
        w.u32(uint32_t(duration));
    }
    const MoviePlayback* p = movie.playback.state.get();
    w.u32(uint32_t(p ? p->preferredRate : fixed1));
    w.u16(uint16_t(p ? p->preferredVolume : kFullVolume));
    w.zeros(10);
    w.matrix(movie.matrix);
    // The 32-bit times of the header: what does not fit is left at 0.
    for (int64_t v : {movie.previewStart, movie.previewDuration, movie.posterTime, movie.selectionStart,
                      movie.selectionDuration, movie.time})
        w.u32(fits32(v) ? uint32_t(v) : 0);
    w.u32(uint32_t(movie.nextTrackID));
    w.end(at);

    // Alternate groups: each ring of more than one track gets a number.
    std::vector<std::pair<const TrackRecord*, uint16_t>> groups;
    uint16_t nextGroup = 1;
    for (const auto& t : movie.tracks) {
        if (t->alternate == t.get()) continue;
        bool numbered = false;
        for (auto [track, g] : groups)
            numbered = numbered || track == t.get();
        if (numbered) continue;
        const TrackRecord* r = t.get();
        do {
            groups.push_back({r, nextGroup});
            r = r->alternate;
        } while (r != t.get());
        ++nextGroup;
    }
    for (const auto& t : movie.tracks) {
        // A media without a sample description holds nothing a reader can decode, and a track of
        // one makes the whole file unreadable to other tools: it is left out.
        if (t->media && t->media->descriptions.empty()) continue;
        if (OSErr err = writeTrack(w, movie, *t, plan, groups)) return err;
    }
    writeUserData(w, movie.userData);
    if (out.size() > UINT32_MAX) return paramErr;
    w.end(moov);
    return noErr;
}

} // namespace platform::movie
