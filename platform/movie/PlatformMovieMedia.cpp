#include "PlatformMovieModel.h"
#include "PlatformDataRef.h"
#include "PlatformPendingToolboxCalls.h"

#include <algorithm>
#include <cstring>
#include <new>

using namespace platform::movie;

namespace {

using Lock = std::lock_guard<std::mutex>;

// The description's bytes as its handle holds them, when the record is whole.
bool descriptionBytes(SampleDescriptionHandle desc, Bytes& out) {
    Handle h = reinterpret_cast<Handle>(desc);
    if (!h || !*h) return false;
    const Size size = GetHandleSize(h);
    if (size < Size(sizeof(SampleDescription))) return false;
    int32_t declared = 0;
    std::memcpy(&declared, *h, sizeof declared);
    if (declared < int32_t(sizeof(SampleDescription)) || declared > size) return false;
    const auto* p = reinterpret_cast<const uint8_t*>(*h);
    out.assign(p, p + declared);
    return true;
}

int16_t dataRefIndexOf(const Bytes& description) {
    SampleDescription head;
    std::memcpy(&head, description.data(), sizeof head);
    return head.dataRefIndex;
}

// Appends samples alike, joining the last run when they continue it.
void appendRun(MediaRecord& m, SampleRun run) {
    run.firstNumber = m.sampleCount;
    run.firstDecodeTime = m.decodeEnd;
    SampleRun* last = m.runs.empty() ? nullptr : &m.runs.back();
    if (last && last->size == run.size && last->duration == run.duration &&
        last->displayOffset == run.displayOffset && last->flags == run.flags &&
        last->description == run.description && last->reference == run.reference &&
        last->dataOffset + last->count * int64_t(last->size) == run.dataOffset) {
        last->count += run.count;
    } else {
        m.runs.push_back(run);
    }
    m.sampleCount += run.count;
    m.decodeEnd += run.count * run.duration;
    m.displayEnd = std::max(m.displayEnd, m.decodeEnd + run.displayOffset);
}

// Whether `count` more samples of the duration keep every time of the media within bounds.
bool timesFit(const MediaRecord& m, int64_t count, int64_t duration, int64_t displayOffset) {
    const __int128 end = __int128(m.decodeEnd) + __int128(count) * duration;
    return end <= kMaxTime && displayOffset >= -kMaxTime && displayOffset <= kMaxTime;
}

void clearOutputs64(TimeValue64* a, TimeValue64* b) {
    if (a) *a = -1;
    if (b) *b = 0;
}

} // namespace

namespace platform::movie {

OSErr addDescription(MediaRecord& m, SampleDescriptionHandle desc, uint32_t* index) {
    if (!desc) {
        if (m.descriptions.empty()) return paramErr;
        *index = uint32_t(m.descriptions.size());
        return noErr;
    }
    Bytes bytes;
    if (!descriptionBytes(desc, bytes)) return invalidSampleDescription;
    if (!m.descriptions.empty() && m.descriptions.back() == bytes) {
        *index = uint32_t(m.descriptions.size());
        return noErr;
    }
    const int16_t ref = dataRefIndexOf(bytes);
    if (ref < 0 || size_t(ref) > std::max<size_t>(m.dataRefs.size(), 1)) return badDataRefIndex;
    m.descriptions.push_back(std::move(bytes));
    *index = uint32_t(m.descriptions.size());
    return noErr;
}

OSErr readSampleBytes(const MediaRecord& m, const SampleRun& run, int64_t offset, size_t size, uint8_t* out) {
    const uint8_t* base = nullptr;
    size_t available = 0;
    if (!run.reference || m.dataRefs.empty()) {
        base = m.storage.data();
        available = m.storage.size();
    } else {
        const DataRef* found = descriptionDataRef(m, run.description);
        if (!found) return couldNotResolveDataRef;
        const DataRef& ref = *found;
        if (ref.type == AliasDataHandlerSubType) return readDataRefFile(ref, offset, size, out);
        if (ref.type != HandleDataHandlerSubType || ref.bytes.size() < sizeof(Handle))
            return couldNotResolveDataRef;
        Handle h = nullptr;
        std::memcpy(&h, ref.bytes.data(), sizeof h);
        if (!h || !*h) return couldNotResolveDataRef;
        base = reinterpret_cast<const uint8_t*>(*h);
        available = size_t(std::max<Size>(GetHandleSize(h), 0));
    }
    if (offset < 0 || uint64_t(offset) > available || size > available - size_t(offset))
        return endOfDataReached;
    if (size) std::memcpy(out, base + offset, size);
    return noErr;
}

const DataRef* descriptionDataRef(const MediaRecord& m, uint32_t description) {
    if (m.dataRefs.empty() || description < 1 || description > m.descriptions.size()) return nullptr;
    int16_t index = dataRefIndexOf(m.descriptions[description - 1]);
    if (index == 0) index = 1;
    // A description read from a file may name a reference the media does not have.
    if (index < 0 || size_t(index) > m.dataRefs.size()) return nullptr;
    return &m.dataRefs[size_t(index - 1)];
}

const SampleRun* runOfNumber(const MediaRecord& m, int64_t number) {
    if (number < 0 || number >= m.sampleCount) return nullptr;
    auto it = std::upper_bound(m.runs.begin(), m.runs.end(), number,
                               [](int64_t n, const SampleRun& r) { return n < r.firstNumber; });
    return &*--it;
}

const SampleRun* runAtDecodeTime(const MediaRecord& m, int64_t time) {
    if (time < 0 || time >= m.decodeEnd) return nullptr;
    auto it = std::upper_bound(m.runs.begin(), m.runs.end(), time,
                               [](int64_t t, const SampleRun& r) { return t < r.firstDecodeTime; });
    return &*--it;
}

namespace {

const RunIndex& runIndexOf(const MediaRecord& m) {
    RunIndex& x = m.runIndex;
    if (x.upto > m.runs.size()) x = RunIndex{};
    for (; x.upto < m.runs.size(); ++x.upto) {
        const SampleRun& r = m.runs[x.upto];
        x.minOffset = x.upto == 0 ? r.displayOffset : std::min(x.minOffset, r.displayOffset);
        x.maxOffset = x.upto == 0 ? r.displayOffset : std::max(x.maxOffset, r.displayOffset);
        if (!(r.flags & mediaSampleNotSync)) x.syncRuns.push_back(x.upto);
    }
    return x;
}

// The index of the last run starting to decode before `time` (at or before it when `orAt`); 0 when
// there is none.
size_t lastRunBefore(const MediaRecord& m, __int128 time, bool orAt) {
    auto it = orAt ? std::upper_bound(m.runs.begin(), m.runs.end(), time,
                                      [](__int128 t, const SampleRun& r) { return t < r.firstDecodeTime; })
                   : std::lower_bound(m.runs.begin(), m.runs.end(), time,
                                      [](const SampleRun& r, __int128 t) { return r.firstDecodeTime < t; });
    return it == m.runs.begin() ? 0 : size_t(it - m.runs.begin()) - 1;
}

// Visits runs from `from` on (forward) or back from it, every run or only the runs of sync
// samples, while `visit` answers true.
template <class F>
void walkRuns(const MediaRecord& m, const RunIndex& x, bool syncOnly, size_t from, bool forward, F&& visit) {
    if (!syncOnly) {
        if (forward) {
            for (size_t i = from; i < m.runs.size() && visit(m.runs[i]); ++i) {
            }
        } else {
            for (size_t i = from + 1; i-- > 0 && visit(m.runs[i]);) {
            }
        }
        return;
    }
    if (forward) {
        for (auto it = std::lower_bound(x.syncRuns.begin(), x.syncRuns.end(), from);
             it != x.syncRuns.end() && visit(m.runs[*it]); ++it) {
        }
    } else {
        for (auto it = std::upper_bound(x.syncRuns.begin(), x.syncRuns.end(), from);
             it != x.syncRuns.begin() && visit(m.runs[*--it]);) {
        }
    }
}

} // namespace

// A sample shows from its decode time plus its run's display offset, so only the runs decoding
// within the span of the offsets around `time` can hold the answer; the walk stops once no later
// (earlier) run can beat the best start found.
std::optional<int64_t> sampleStartAfter(const MediaRecord& m, bool syncOnly, int64_t lo, int64_t hi,
                                        int64_t time) {
    const int64_t target = std::max(lo, time);
    if (m.runs.empty() || target >= hi) return std::nullopt;
    const RunIndex& x = runIndexOf(m);
    int64_t best = hi; // exclusive: a start must lie below it
    bool found = false;
    walkRuns(m, x, syncOnly, lastRunBefore(m, __int128(target) - x.maxOffset, false), true,
             [&](const SampleRun& r) {
                 if (__int128(r.firstDecodeTime) + x.minOffset >= best) return false;
                 const int64_t first = r.firstDecodeTime + r.displayOffset;
                 // A run of samples lasting nothing starts all of them at its first time.
                 const int64_t k = r.duration <= 0
                                       ? (first >= target ? 0 : r.count)
                                       : std::max<int64_t>(0, ceilDiv(__int128(target) - first, r.duration));
                 if (k < r.count && first + k * r.duration < best) {
                     best = first + k * r.duration;
                     found = true;
                 }
                 return true;
             });
    return found ? std::optional<int64_t>(best) : std::nullopt;
}

std::optional<int64_t> sampleStartBefore(const MediaRecord& m, bool syncOnly, int64_t lo, int64_t hi,
                                         int64_t time) {
    if (m.runs.empty() || hi <= lo) return std::nullopt;
    const int64_t target = std::min(time, hi - 1);
    if (target < lo) return std::nullopt;
    const RunIndex& x = runIndexOf(m);
    const __int128 from = __int128(target) - x.minOffset;
    if (from < m.runs.front().firstDecodeTime) return std::nullopt;
    __int128 best = __int128(lo) - 1; // exclusive: a start must lie above it
    bool found = false;
    walkRuns(m, x, syncOnly, lastRunBefore(m, from, true), false, [&](const SampleRun& r) {
        const __int128 lastDecode = __int128(r.firstDecodeTime) + __int128(r.count - 1) * r.duration;
        if (lastDecode + x.maxOffset <= best) return false;
        const int64_t first = r.firstDecodeTime + r.displayOffset;
        const int64_t k =
            r.duration <= 0 ? (first <= target ? r.count - 1 : -1)
                            : std::min<int64_t>(r.count - 1, floorDiv(__int128(target) - first, r.duration));
        if (k >= 0 && first + k * r.duration > best) {
            best = first + k * r.duration;
            found = true;
        }
        return true;
    });
    return found ? std::optional<int64_t>(int64_t(best)) : std::nullopt;
}

} // namespace platform::movie

// ---------------------------------------------------------------------------------------------
// Media of tracks.

Media NewTrackMedia(Track track, OSType mediaType, TimeScale timeScale, Handle dataRef, OSType dataRefType) {
    return onRecord(track, Media(nullptr), [&](TrackRecord& t) -> Media {
        // A second media would strand the edits that show the first.
        if (t.media || timeScale < 0 || mediaType == 0) {
            result(paramErr);
            return nullptr;
        }
        Media token = platform::newDetachedMedia();
        if (!token) {
            result(memFullErr);
            return nullptr;
        }
        auto media = std::unique_ptr<MediaRecord>(new (std::nothrow) MediaRecord());
        if (!media || NewUserData(&media->userData) != noErr) {
            platform::disposeMedia(token);
            result(memFullErr);
            return nullptr;
        }
        media->token = token;
        media->type = mediaType;
        media->scale = timeScale ? timeScale : kMovieDefaultTimeScale;
        if (dataRef) {
            DataRef ref;
            ref.type = dataRefType;
            if (*dataRef) ref.bytes.assign(*dataRef, *dataRef + std::max<Size>(GetHandleSize(dataRef), 0));
            media->dataRefs.push_back(std::move(ref));
        } else if (t.movie->defaultDataRef.type) {
            // A movie made with its file keeps new media's samples in that file.
            media->dataRefs.push_back(t.movie->defaultDataRef);
        }
        media->track = &t;
        t.media = media.get();
        registry().media.emplace(reinterpret_cast<uintptr_t>(token), std::move(media));
        result(noErr);
        return token;
    });
}

void DisposeTrackMedia(Media media) {
    onRecordNoErr(media, [](MediaRecord& m) {
        MovieRecord* movie = m.track ? m.track->movie : nullptr;
        destroyMedia(&m);
        if (movie) keepTimeInMovie(*movie);
    });
}

Media GetTrackMedia(Track track) {
    return onRecordNoErr(track, Media(nullptr),
                         [](TrackRecord& t) { return t.media ? t.media->token : nullptr; });
}

Track GetMediaTrack(Media media) {
    return onRecordNoErr(media, Track(nullptr),
                         [](MediaRecord& m) { return m.track ? m.track->token : nullptr; });
}

TimeScale GetMediaTimeScale(Media media) {
    return onRecordNoErr(media, TimeScale(0), [](MediaRecord& m) { return m.scale; });
}

void SetMediaTimeScale(Media media, TimeScale timeScale) {
    onRecord(media, [&](MediaRecord& m) {
        if (timeScale < 1 || m.sampleCount > 0) {
            result(paramErr);
            return;
        }
        m.scale = timeScale;
        result(noErr);
    });
}

TimeValue64 GetMediaDecodeDuration(Media media) {
    return onRecordNoErr(media, TimeValue64(0), [](MediaRecord& m) { return m.decodeEnd; });
}

TimeValue GetMediaDuration(Media media) {
    return saturate32(GetMediaDecodeDuration(media));
}

void GetMediaHandlerDescription(Media media, OSType* mediaType, Str255 creatorName,
                                OSType* creatorManufacturer) {
    if (mediaType) *mediaType = 0;
    if (creatorName) creatorName[0] = 0;
    if (creatorManufacturer) *creatorManufacturer = 0;
    onRecordNoErr(media, [&](MediaRecord& m) {
        if (mediaType) *mediaType = m.type;
    });
}

int16_t GetMediaLanguage(Media media) {
    return onRecordNoErr(media, int16_t(0), [](MediaRecord& m) { return m.language; });
}

void SetMediaLanguage(Media media, int16_t language) {
    onRecordNoErr(media, [&](MediaRecord& m) { m.language = language; });
}

int16_t GetMediaQuality(Media media) {
    return onRecordNoErr(media, int16_t(0), [](MediaRecord& m) { return m.quality; });
}

void SetMediaQuality(Media media, int16_t quality) {
    onRecordNoErr(media, [&](MediaRecord& m) { m.quality = quality; });
}

// ---------------------------------------------------------------------------------------------
// Data references.

OSErr GetMediaDataRefCount(Media media, int16_t* count) {
    if (count) *count = 0;
    return onRecord(media, invalidMedia, [&](MediaRecord& m) {
        if (count) *count = int16_t(m.dataRefs.size());
        return result(noErr);
    });
}

OSErr GetMediaDataRef(Media media, int16_t index, Handle* dataRef, OSType* dataRefType,
                      int32_t* dataRefAttributes) {
    if (dataRef) *dataRef = nullptr;
    if (dataRefType) *dataRefType = 0;
    if (dataRefAttributes) *dataRefAttributes = 0;
    return onRecord(media, invalidMedia, [&](MediaRecord& m) {
        if (index < 1 || size_t(index) > m.dataRefs.size()) return result(badDataRefIndex);
        const DataRef& ref = m.dataRefs[size_t(index - 1)];
        if (dataRef) {
            if (PtrToHand(ref.bytes.data(), dataRef, Size(ref.bytes.size())) != noErr)
                return result(memFullErr);
        }
        if (dataRefType) *dataRefType = ref.type;
        return result(noErr);
    });
}

OSErr AddMediaDataRef(Media media, int16_t* index, Handle dataRef, OSType dataRefType) {
    if (index) *index = 0;
    if (!dataRef || !*dataRef) return result(paramErr);
    return onRecord(media, invalidMedia, [&](MediaRecord& m) {
        DataRef ref;
        ref.type = dataRefType;
        ref.bytes.assign(*dataRef, *dataRef + std::max<Size>(GetHandleSize(dataRef), 0));
        for (size_t i = 0; i < m.dataRefs.size(); ++i)
            if (m.dataRefs[i].type == ref.type && m.dataRefs[i].bytes == ref.bytes) {
                if (index) *index = int16_t(i + 1);
                return result(noErr);
            }
        if (m.dataRefs.size() >= size_t(INT16_MAX)) return result(paramErr);
        m.dataRefs.push_back(std::move(ref));
        if (index) *index = int16_t(m.dataRefs.size());
        return result(noErr);
    });
}

// ---------------------------------------------------------------------------------------------
// Samples.

OSErr BeginMediaEdits(Media media) {
    return onRecord(media, invalidMedia, [](MediaRecord&) { return result(noErr); });
}

OSErr EndMediaEdits(Media media) {
    return onRecord(media, invalidMedia, [](MediaRecord&) { return result(noErr); });
}

OSErr AddMediaSample2(Media media, const uint8_t* dataIn, ByteCount size, TimeValue64 decodeDurationPerSample,
                      TimeValue64 displayOffset, SampleDescriptionHandle sampleDescriptionH,
                      ItemCount numberOfSamples, uint32_t sampleFlags, TimeValue64* sampleDecodeTimeOut) {
    if (sampleDecodeTimeOut) *sampleDecodeTimeOut = -1;
    return onRecord(media, invalidMedia, [&](MediaRecord& m) {
        if (numberOfSamples < 1 || decodeDurationPerSample < 1 || (size && !dataIn) ||
            size % numberOfSamples != 0 ||
            !timesFit(m, numberOfSamples, decodeDurationPerSample, displayOffset))
            return result(paramErr);
        uint32_t description = 0;
        const size_t descriptionsBefore = m.descriptions.size();
        if (OSErr err = addDescription(m, sampleDescriptionH, &description)) return result(err);
        try {
            SampleRun run;
            run.count = numberOfSamples;
            run.duration = decodeDurationPerSample;
            run.displayOffset = displayOffset;
            run.dataOffset = int64_t(m.storage.size());
            run.size = size / numberOfSamples;
            run.flags = sampleFlags;
            run.description = description;
            // Samples of a media whose data reference is a movie file being written go straight
            // into that file, so that a long recording never has to fit in memory.
            const DataRef* ref = descriptionDataRef(m, description);
            if (StorageRecord* storage = ref ? storageOfDataRef(*ref) : nullptr) {
                if (OSErr err = appendToStorage(*storage, dataIn, size, &run.dataOffset)) {
                    m.descriptions.resize(descriptionsBefore);
                    return result(err);
                }
                run.reference = true;
            } else {
                m.storage.insert(m.storage.end(), dataIn, dataIn + size);
            }
            const int64_t start = m.decodeEnd;
            appendRun(m, run);
            if (sampleDecodeTimeOut) *sampleDecodeTimeOut = start;
        } catch (const std::bad_alloc&) {
            m.descriptions.resize(descriptionsBefore);
            return result(memFullErr);
        }
        return result(noErr);
    });
}

OSErr AddMediaSampleReferences(Media media, SampleDescriptionHandle sampleDescriptionH,
                               int32_t numberOfSampleRefs, SampleReferencePtr sampleRefs,
                               TimeValue* sampleTime) {
    if (sampleTime) *sampleTime = -1;
    return onRecord(media, invalidMedia, [&](MediaRecord& m) {
        if (numberOfSampleRefs < 1 || !sampleRefs) return result(paramErr);
        int64_t total = 0;
        for (int32_t i = 0; i < numberOfSampleRefs; ++i) {
            const SampleReferenceRecord& r = sampleRefs[i];
            if (r.dataOffset < 0 || r.dataSize < 0 || r.durationPerSample < 1 || r.numberOfSamples < 1 ||
                r.dataSize % r.numberOfSamples != 0)
                return result(paramErr);
            total += int64_t(r.numberOfSamples) * r.durationPerSample;
        }
        if (!timesFit(m, 1, total, 0)) return result(paramErr);
        uint32_t description = 0;
        const size_t descriptionsBefore = m.descriptions.size();
        if (OSErr err = addDescription(m, sampleDescriptionH, &description)) return result(err);
        const int64_t start = m.decodeEnd;
        try {
            for (int32_t i = 0; i < numberOfSampleRefs; ++i) {
                const SampleReferenceRecord& r = sampleRefs[i];
                SampleRun run;
                run.count = r.numberOfSamples;
                run.duration = r.durationPerSample;
                run.dataOffset = r.dataOffset;
                run.size = uint32_t(r.dataSize / r.numberOfSamples);
                run.flags = uint16_t(r.sampleFlags);
                run.description = description;
                run.reference = true;
                appendRun(m, run);
            }
        } catch (const std::bad_alloc&) {
            m.descriptions.resize(descriptionsBefore);
            return result(memFullErr);
        }
        if (sampleTime) *sampleTime = saturate32(start);
        return result(noErr);
    });
}

OSErr AddMediaSampleReference(Media media, int32_t dataOffset, uint32_t size, TimeValue durationPerSample,
                              SampleDescriptionHandle sampleDescriptionH, int32_t numberOfSamples,
                              int16_t sampleFlags, TimeValue* sampleTime) {
    if (size > uint32_t(INT32_MAX)) {
        if (sampleTime) *sampleTime = -1;
        return result(paramErr);
    }
    SampleReferenceRecord r{dataOffset, int32_t(size), durationPerSample, numberOfSamples, sampleFlags};
    return AddMediaSampleReferences(media, sampleDescriptionH, 1, &r, sampleTime);
}

int32_t GetMediaSampleCount(Media media) {
    return onRecordNoErr(media, int32_t(0),
                         [](MediaRecord& m) { return int32_t(std::min<int64_t>(m.sampleCount, INT32_MAX)); });
}

int32_t GetMediaSampleDescriptionCount(Media media) {
    return onRecordNoErr(media, int32_t(0), [](MediaRecord& m) { return int32_t(m.descriptions.size()); });
}

void GetMediaSampleDescription(Media media, int32_t index, SampleDescriptionHandle descH) {
    Lock lock(registry().mutex);
    Handle h = reinterpret_cast<Handle>(descH);
    MediaRecord* m = findMedia(media);
    if (!m) {
        if (h) SetHandleSize(h, 0);
        result(invalidMedia);
        return;
    }
    if (index < 1 || size_t(index) > m->descriptions.size()) {
        if (h) SetHandleSize(h, 0);
        result(invalidSampleDescIndex);
        return;
    }
    if (!h) { // only asking whether it exists
        result(noErr);
        return;
    }
    const Bytes& bytes = m->descriptions[size_t(index - 1)];
    SetHandleSize(h, Size(bytes.size()));
    if (MemError() != noErr || GetHandleSize(h) != Size(bytes.size())) {
        result(memFullErr);
        return;
    }
    std::memcpy(*h, bytes.data(), bytes.size());
    result(noErr);
}

OSErr SetMediaSampleDescription(Media media, int32_t index, SampleDescriptionHandle descH) {
    return onRecord(media, invalidMedia, [&](MediaRecord& m) {
        if (index < 1 || size_t(index) > m.descriptions.size()) return result(invalidSampleDescIndex);
        Bytes bytes;
        if (!descriptionBytes(descH, bytes)) return result(invalidSampleDescription);
        const int16_t ref = dataRefIndexOf(bytes);
        if (ref < 0 || size_t(ref) > std::max<size_t>(m.dataRefs.size(), 1)) return result(badDataRefIndex);
        m.descriptions[size_t(index - 1)] = std::move(bytes);
        return result(noErr);
    });
}

void SampleNumToMediaDecodeTime(Media media, int64_t logicalSampleNum, TimeValue64* sampleDecodeTime,
                                TimeValue64* sampleDecodeDuration) {
    clearOutputs64(sampleDecodeTime, sampleDecodeDuration);
    onRecord(media, [&](MediaRecord& m) {
        const SampleRun* r = runOfNumber(m, logicalSampleNum - 1);
        if (!r) {
            result(invalidSampleNum);
            return;
        }
        if (sampleDecodeTime)
            *sampleDecodeTime = r->firstDecodeTime + (logicalSampleNum - 1 - r->firstNumber) * r->duration;
        if (sampleDecodeDuration) *sampleDecodeDuration = r->duration;
        result(noErr);
    });
}

void MediaDecodeTimeToSampleNum(Media media, TimeValue64 decodeTime, int64_t* sampleNum,
                                TimeValue64* sampleDecodeTime, TimeValue64* sampleDecodeDuration) {
    if (sampleNum) *sampleNum = 0;
    clearOutputs64(sampleDecodeTime, sampleDecodeDuration);
    onRecord(media, [&](MediaRecord& m) {
        const SampleRun* r = runAtDecodeTime(m, decodeTime);
        if (!r) {
            result(invalidTime);
            return;
        }
        const int64_t k = (decodeTime - r->firstDecodeTime) / r->duration;
        if (sampleNum) *sampleNum = r->firstNumber + k + 1;
        if (sampleDecodeTime) *sampleDecodeTime = r->firstDecodeTime + k * r->duration;
        if (sampleDecodeDuration) *sampleDecodeDuration = r->duration;
        result(noErr);
    });
}

void MediaDisplayTimeToSampleNum(Media media, TimeValue64 displayTime, int64_t* sampleNum,
                                 TimeValue64* sampleDisplayTime, TimeValue64* sampleDisplayDuration) {
    if (sampleNum) *sampleNum = 0;
    clearOutputs64(sampleDisplayTime, sampleDisplayDuration);
    onRecord(media, [&](MediaRecord& m) {
        // Display offsets may reorder samples: the first sample whose display interval holds the time.
        for (const SampleRun& r : m.runs) {
            const int64_t first = r.firstDecodeTime + r.displayOffset;
            if (displayTime < first || displayTime >= first + r.count * r.duration) continue;
            const int64_t k = (displayTime - first) / r.duration;
            if (sampleNum) *sampleNum = r.firstNumber + k + 1;
            if (sampleDisplayTime) *sampleDisplayTime = first + k * r.duration;
            if (sampleDisplayDuration) *sampleDisplayDuration = r.duration;
            result(noErr);
            return;
        }
        result(invalidTime);
    });
}

void SampleNumToMediaTime(Media media, int32_t logicalSampleNum, TimeValue* sampleTime,
                          TimeValue* sampleDuration) {
    TimeValue64 t = -1, d = 0;
    SampleNumToMediaDecodeTime(media, logicalSampleNum, &t, &d);
    if (sampleTime) *sampleTime = saturate32(t);
    if (sampleDuration) *sampleDuration = saturate32(d);
}

void MediaTimeToSampleNum(Media media, TimeValue time, int32_t* sampleNum, TimeValue* sampleTime,
                          TimeValue* sampleDuration) {
    int64_t n = 0;
    TimeValue64 t = -1, d = 0;
    MediaDecodeTimeToSampleNum(media, time, &n, &t, &d);
    if (sampleNum) *sampleNum = int32_t(std::min<int64_t>(n, INT32_MAX));
    if (sampleTime) *sampleTime = saturate32(t);
    if (sampleDuration) *sampleDuration = saturate32(d);
}

OSErr GetMediaSample2(Media media, uint8_t* dataOut, ByteCount maxDataSize, ByteCount* size,
                      TimeValue64 decodeTime, TimeValue64* sampleDecodeTime,
                      TimeValue64* decodeDurationPerSample, TimeValue64* displayOffset,
                      SampleDescriptionHandle sampleDescriptionH, ItemCount* sampleDescriptionIndex,
                      ItemCount maxNumberOfSamples, ItemCount* numberOfSamples, uint32_t* sampleFlags) {
    if (size) *size = 0;
    clearOutputs64(sampleDecodeTime, decodeDurationPerSample);
    if (displayOffset) *displayOffset = 0;
    if (sampleDescriptionIndex) *sampleDescriptionIndex = 0;
    if (numberOfSamples) *numberOfSamples = 0;
    if (sampleFlags) *sampleFlags = 0;
    return onRecord(media, invalidMedia, [&](MediaRecord& m) {
        const SampleRun* r = runAtDecodeTime(m, decodeTime);
        if (!r) return result(invalidTime);
        const int64_t k = (decodeTime - r->firstDecodeTime) / r->duration;
        const int64_t wanted = std::max<int64_t>(1, maxNumberOfSamples);
        const int64_t n = std::min<int64_t>(wanted, r->count - k);
        const uint64_t bytes = uint64_t(n) * r->size;
        if (bytes > UINT32_MAX) return result(paramErr);
        if (size) *size = ByteCount(bytes);
        if (dataOut) {
            if (bytes > maxDataSize) return result(paramErr);
            if (OSErr err =
                    readSampleBytes(m, *r, r->dataOffset + k * int64_t(r->size), size_t(bytes), dataOut))
                return result(err);
        }
        if (sampleDescriptionH) {
            Handle h = reinterpret_cast<Handle>(sampleDescriptionH);
            const Bytes& d = m.descriptions[r->description - 1];
            SetHandleSize(h, Size(d.size()));
            if (MemError() != noErr || GetHandleSize(h) != Size(d.size())) return result(memFullErr);
            std::memcpy(*h, d.data(), d.size());
        }
        if (sampleDecodeTime) *sampleDecodeTime = r->firstDecodeTime + k * r->duration;
        if (decodeDurationPerSample) *decodeDurationPerSample = r->duration;
        if (displayOffset) *displayOffset = r->displayOffset;
        if (sampleDescriptionIndex) *sampleDescriptionIndex = r->description;
        if (numberOfSamples) *numberOfSamples = ItemCount(n);
        if (sampleFlags) *sampleFlags = r->flags;
        return result(noErr);
    });
}
