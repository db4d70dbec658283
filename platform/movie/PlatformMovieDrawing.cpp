// Drawing movies: the port a movie draws into, the frames of its video tracks decoded through
// the imaging layer's codecs and drawn through its blitter, clip regions, pictures of frames,
// and the status of the last drawing.
#include "PlatformBlitter.h"
#include "PlatformClock.h"
#include "PlatformCodecRegistry.h"
#include "PlatformErrors.h"
#include "PlatformFixed.h"
#include "PlatformGeometry.h"
#include "PlatformMemory.h"
#include "PlatformMoviePlayback.h"
#include "PlatformMoviePlaybackState.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

using namespace platform::movie;

namespace {

// A region the holder disposes of.
struct OwnedRgn {
    RgnHandle rgn = nullptr;
    OwnedRgn() = default;
    explicit OwnedRgn(RgnHandle r) : rgn(r) {}
    OwnedRgn(OwnedRgn&& o) noexcept : rgn(std::exchange(o.rgn, nullptr)) {}
    OwnedRgn& operator=(OwnedRgn&& o) noexcept {
        std::swap(rgn, o.rgn);
        return *this;
    }
    ~OwnedRgn() {
        if (rgn) DisposeRgn(rgn);
    }
};

// One track's frame, gathered under the registry's lock and decoded and drawn outside it.
struct FrameJob {
    Track track = nullptr;
    Media media = nullptr;
    int16_t layer = 0;
    Bytes data;
    Bytes description;
    MatrixRecord matrix{}; // the description's pixels to port coordinates
    OwnedRgn clip;         // port coordinates; none when null
    int32_t mode = 0;
    OSErr status = noErr; // a frame that cannot be had
};

// A copy of a region (null for none; the copy's status in `err`).
RgnHandle copyClip(RgnHandle from, OSErr& err) {
    err = noErr;
    if (!from) return nullptr;
    RgnHandle to = copyRegion(from);
    if (!to) err = memFullErr;
    return to;
}

bool hasPerspective(const MatrixRecord& m) {
    return m.matrix[0][2] != 0 || m.matrix[1][2] != 0 || m.matrix[2][2] != (1 << 30);
}

// The region mapped through the matrix, as the blitter maps pixels: a destination pixel is in
// the result when its centre maps back into the region. Only the part inside `limit` is kept.
OSErr mapRegion(RgnHandle src, const MatrixRecord& m, const Rect& limit, OwnedRgn& out) {
    out = OwnedRgn(NewRgn());
    if (!out.rgn) return memFullErr;
    if (hasPerspective(m)) return paramErr;
    const int16_t type = GetMatrixType(&m);
    if ((type == identityMatrixType || type == translateMatrixType) && (m.matrix[2][0] & 0xFFFF) == 0 &&
        (m.matrix[2][1] & 0xFFFF) == 0) {
        CopyRgn(src, out.rgn);
        if (type == translateMatrixType) OffsetRgn(out.rgn, m.matrix[2][0] >> 16, m.matrix[2][1] >> 16);
        return noErr;
    }
    const double a = m.matrix[0][0] / 65536.0, b = m.matrix[0][1] / 65536.0;
    const double c = m.matrix[1][0] / 65536.0, d = m.matrix[1][1] / 65536.0;
    const double tx = m.matrix[2][0] / 65536.0, ty = m.matrix[2][1] / 65536.0;
    const double det = a * d - b * c;
    if (det == 0.0) return paramErr;
    Rect bounds{};
    GetRegionBounds(src, &bounds);
    if (EmptyRect(&bounds)) return noErr;
    Rect area = bounds;
    TransformRect(&m, &area, nullptr);
    // One pixel of slack on each side for the rounding of the box.
    const int32_t left = std::max<int32_t>(area.left - 1, limit.left);
    const int32_t top = std::max<int32_t>(area.top - 1, limit.top);
    const int32_t right = std::min<int32_t>(area.right + 1, limit.right);
    const int32_t bottom = std::min<int32_t>(area.bottom + 1, limit.bottom);
    if (right <= left || bottom <= top) return noErr;
    const int32_t rowBytes = ((right - left + 15) / 16) * 2;
    std::vector<uint8_t> bits(size_t(rowBytes) * size_t(bottom - top), 0);
    for (int32_t y = top; y < bottom; ++y) {
        for (int32_t x = left; x < right; ++x) {
            const double px = x + 0.5 - tx, py = y + 0.5 - ty;
            const double sx = (px * d - py * c) / det;
            const double sy = (py * a - px * b) / det;
            if (!(std::fabs(sx) < 1e9 && std::fabs(sy) < 1e9)) continue;
            if (platform::regionContains(src, int32_t(std::floor(sx)), int32_t(std::floor(sy))))
                bits[size_t(y - top) * size_t(rowBytes) + size_t((x - left) >> 3)] |=
                    uint8_t(0x80u >> ((x - left) & 7));
        }
    }
    BitMap map{reinterpret_cast<Ptr>(bits.data()), int16_t(rowBytes),
               Rect{int16_t(top), int16_t(left), int16_t(bottom), int16_t(right)}};
    return OSErr(BitMapToRegion(out.rgn, &map));
}

// The media time and the run and index of the sample a track shows at movie time `time`; false
// when it shows nothing then.
bool sampleAt(const MovieRecord& m, const TrackRecord& t, int64_t time, const SampleRun** run,
              int64_t* index) {
    if (!t.media) return false;
    // At the movie's end the last frame stays on show.
    if (time == movieDuration(m) && time > 0) --time;
    int64_t start = 0;
    for (const Edit& e : t.edits) {
        if (time >= start && time < start + e.length) {
            if (e.empty) return false;
            const int64_t mediaTime = mediaTimeAt(e, time - start);
            for (const SampleRun& r : t.media->runs) {
                const int64_t first = r.firstDecodeTime + r.displayOffset;
                if (r.duration <= 0 || mediaTime < first || mediaTime >= first + r.count * r.duration)
                    continue;
                *run = &r;
                *index = (mediaTime - first) / r.duration;
                return true;
            }
            return false;
        }
        start += e.length;
    }
    return false;
}

bool drawsPictures(const TrackRecord& t) {
    return t.media && t.media->type == VideoMediaType;
}

// Gathers the frame that the track shows at `time`; false when it shows none.
bool gatherFrame(MovieRecord& m, TrackRecord& t, int64_t time, const Rect& limit, FrameJob& job,
                 std::vector<int64_t>* signature) {
    const SampleRun* run = nullptr;
    int64_t index = 0;
    if (!drawsPictures(t) || !sampleAt(m, t, time, &run, &index)) return false;
    MediaRecord& media = *t.media;
    job.track = t.token;
    job.media = media.token;
    job.layer = t.layer;
    if (MediaPlayback* mp = playbackOf(media)) job.mode = mp->graphicsMode;
    if (signature) {
        signature->insert(signature->end(), {int64_t(reinterpret_cast<uintptr_t>(t.token)),
                                             int64_t(reinterpret_cast<uintptr_t>(media.token)),
                                             run->firstNumber + index, t.layer, job.mode});
    }
    if (run->description < 1 || run->description > media.descriptions.size()) {
        job.status = invalidSampleDescription;
        return true;
    }
    job.description = media.descriptions[run->description - 1];
    if (job.description.size() < sizeof(ImageDescription)) {
        job.status = invalidSampleDescription;
        return true;
    }
    ImageDescription desc;
    std::memcpy(&desc, job.description.data(), sizeof desc);
    if (desc.width <= 0 || desc.height <= 0) {
        job.status = invalidSampleDescription;
        return true;
    }
    try {
        job.data.resize(run->size);
    } catch (const std::bad_alloc&) {
        job.status = memFullErr;
        return true;
    }
    job.status = readSampleBytes(media, *run, run->dataOffset + index * int64_t(run->size), run->size,
                                 job.data.data());
    if (job.status != noErr) return true;

    // The description's pixels fill the track's rectangle, which the track's matrix and then
    // the movie's place.
    MatrixRecord place;
    SetIdentityMatrix(&place);
    const int32_t width = Fix2Long(t.width), height = Fix2Long(t.height);
    if (width > 0 && height > 0 && width <= INT16_MAX && height <= INT16_MAX) {
        const Rect from{0, 0, desc.height, desc.width};
        const Rect to{0, 0, int16_t(height), int16_t(width)};
        MapMatrix(&place, &from, &to);
    }
    MatrixRecord trackToPort = m.matrix;
    ConcatMatrix(&t.matrix, &trackToPort); // the track's matrix, then the movie's
    job.matrix = trackToPort;
    ConcatMatrix(&place, &job.matrix);
    if (signature)
        for (const auto& row : job.matrix.matrix)
            signature->insert(signature->end(), {row[0], row[1], row[2]});

    // Clip regions: the track's in track coordinates, the movie's in movie coordinates.
    TrackPlayback* tp = t.playback.state.get();
    MoviePlayback* p = m.playback.state.get();
    if (tp && tp->clip) {
        job.status = mapRegion(tp->clip, trackToPort, limit, job.clip);
        if (job.status != noErr) return true;
    }
    if (p && p->clip) {
        OwnedRgn movieClip;
        job.status = mapRegion(p->clip, m.matrix, limit, movieClip);
        if (job.status != noErr) return true;
        if (job.clip.rgn)
            SectRgn(job.clip.rgn, movieClip.rgn, job.clip.rgn);
        else
            job.clip = std::move(movieClip);
    }
    return true;
}

// The frames of the movie's enabled video tracks (or of one track) at `time`, back to front.
std::vector<FrameJob> gatherFrames(MovieRecord& m, TrackRecord* only, int64_t time, const Rect& limit,
                                   std::vector<int64_t>* signature) {
    std::vector<FrameJob> jobs;
    for (auto& track : m.tracks) {
        TrackRecord& t = *track;
        if (only ? &t != only : !t.enabled) continue;
        FrameJob job;
        if (gatherFrame(m, t, time, limit, job, signature)) jobs.push_back(std::move(job));
    }
    // A higher layer lies further back and draws first; within a layer the later track covers.
    std::stable_sort(jobs.begin(), jobs.end(),
                     [](const FrameJob& a, const FrameJob& b) { return a.layer > b.layer; });
    return jobs;
}

// Decodes the job's frame and draws it into the port.
OSErr drawFrame(const FrameJob& job, CGrafPtr port) {
    if (job.status != noErr) return job.status;
    const int32_t transfer = job.mode & ~int32_t(ditherCopy);
    if (transfer != srcCopy && transfer != notSrcCopy) return paramErr;
    Handle descH = nullptr;
    OSErr err = PtrToHand(job.description.data(), &descH, Size(job.description.size()));
    if (err != noErr) return err;
    platform::codec::Picture picture;
    err = platform::codecDecodeFrame(reinterpret_cast<ImageDescriptionHandle>(descH), job.data.data(),
                                     job.data.size(), picture);
    DisposeHandle(descH);
    if (err != noErr) return err;
    const Rect bounds{0, 0, int16_t(picture.height), int16_t(picture.width)};
    // 8-bit colour pictures are pixels of a format the blitter reads: they draw as they are.
    // Others (grey, 16-bit samples) go through a world of their own.
    const OSType direct = picture.bitsPerSample != 8 ? 0
                          : picture.components == 3  ? OSType(k24RGBPixelFormat)
                          : picture.components == 4  ? OSType(k32RGBAPixelFormat)
                                                     : 0;
    if (direct) {
        if (!platform::isGWorld(port)) return paramErr;
        PixMapHandle to = GetPortPixMap(port);
        if (!to) return paramErr;
        platform::BlitSurface from;
        from.raster.info = platform::pixelFormatInfo(direct);
        from.raster.base = picture.samples.data();
        from.raster.rowBytes = int32_t(picture.rowBytes());
        from.raster.width = picture.width;
        from.raster.height = picture.height;
        const platform::BlitSurface into{platform::rasterOfPixMap(**to), (**to).bounds.left,
                                         (**to).bounds.top};
        return platform::blit(from, bounds, into, (**to).bounds, &job.matrix, job.clip.rgn, int16_t(job.mode),
                              nullptr);
    }
    GWorldPtr frame = nullptr;
    err = QTNewGWorld(&frame, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0);
    if (err != noErr) return err;
    err = platform::pictureToPixMap(picture, GetGWorldPixMap(frame));
    if (err == noErr)
        err = platform::drawPixMap(GetGWorldPixMap(frame), nullptr, GetPortPixMap(port), &job.matrix,
                                   job.clip.rgn, int16_t(job.mode));
    DisposeGWorld(frame);
    return err;
}

// Draws the jobs into the port and records each track's status; answers the first failure.
OSErr drawFrames(const std::vector<FrameJob>& jobs, CGrafPtr port, bool countFrames) {
    std::vector<OSErr> statuses;
    statuses.reserve(jobs.size());
    for (const FrameJob& job : jobs)
        statuses.push_back(drawFrame(job, port));
    const int64_t now = platform::systemClock().nowNanoseconds();
    std::lock_guard<std::mutex> lock(registry().mutex);
    OSErr first = noErr;
    for (size_t i = 0; i < jobs.size(); ++i) {
        if (TrackRecord* t = findTrack(jobs[i].track))
            if (TrackPlayback* tp = playbackOf(*t)) tp->status = statuses[i];
        if (statuses[i] == noErr && countFrames)
            if (MediaRecord* media = findMedia(jobs[i].media)) countDrawnFrame(*media, now);
        if (first == noErr) first = statuses[i];
    }
    return first;
}

void taskMovie(Movie movie) {
    std::vector<FrameJob> jobs;
    CGrafPtr port = nullptr;
    {
        std::lock_guard<std::mutex> lock(registry().mutex);
        MovieRecord* m = findMovie(movie);
        if (!m) {
            result(invalidMovie);
            return;
        }
        syncMovieTime(*m);
        MoviePlayback* p = m->playback.state.get();
        if (!p || !p->port || !m->active) {
            result(noErr);
            return;
        }
        Rect limit{};
        GetPortBounds(p->port, &limit);
        std::vector<int64_t> signature{int64_t(reinterpret_cast<uintptr_t>(p->port))};
        jobs = gatherFrames(*m, nullptr, m->time, limit, &signature);
        if (!p->redraw && signature == p->drawn) {
            result(noErr);
            return;
        }
        p->drawn = std::move(signature);
        p->redraw = false;
        port = p->port;
    }
    result(drawFrames(jobs, port, true));
}

// A picture of the frames, framed by `frame`.
PicHandle pictureOf(const std::vector<FrameJob>& jobs, const Rect& frame) {
    if (EmptyRect(&frame)) {
        result(paramErr);
        return nullptr;
    }
    GWorldPtr world = nullptr;
    OSErr err = QTNewGWorld(&world, k32ARGBPixelFormat, &frame, nullptr, nullptr, 0);
    if (err != noErr) {
        result(err);
        return nullptr;
    }
    CGrafPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    GetGWorld(&savedPort, &savedDevice);
    SetGWorld(world, nullptr);
    PicHandle picture = OpenPicture(&frame);
    if (!picture) err = QDError() ? QDError() : memFullErr;
    if (err == noErr) err = drawFrames(jobs, world, false);
    if (picture) ClosePicture();
    SetGWorld(savedPort, savedDevice);
    DisposeGWorld(world);
    if (err != noErr && picture) {
        KillPicture(picture);
        picture = nullptr;
    }
    result(err);
    return picture;
}

// The redraw flag of the movie a track belongs to.
void movieNeedsDrawing(MovieRecord& m) {
    if (MoviePlayback* p = m.playback.state.get()) p->redraw = true;
}

} // namespace

void SetMovieGWorld(Movie movie, CGrafPtr port, GDHandle gdh) {
    if (!port) {
        GDHandle current = nullptr;
        GetGWorld(&port, &current);
        if (!gdh) gdh = current;
    }
    onRecord(movie, [&](MovieRecord& m) {
        if (port && !platform::isGWorld(port)) {
            result(paramErr);
            return;
        }
        MoviePlayback* p = playbackOf(m);
        if (!p) {
            result(memFullErr);
            return;
        }
        p->port = port;
        p->device = gdh ? gdh : (port ? GetGWorldDevice(port) : nullptr);
        p->redraw = true;
        result(noErr);
    });
}

void GetMovieGWorld(Movie movie, CGrafPtr* port, GDHandle* gdh) {
    if (port) *port = nullptr;
    if (gdh) *gdh = nullptr;
    onRecordNoErr(movie, [&](MovieRecord& m) {
        if (MoviePlayback* p = m.playback.state.get()) {
            if (port) *port = p->port;
            if (gdh) *gdh = p->device;
        }
    });
}

void MoviesTask(Movie movie, int32_t) {
    if (movie) {
        taskMovie(movie);
        return;
    }
    std::vector<Movie> all;
    {
        std::lock_guard<std::mutex> lock(registry().mutex);
        for (auto& entry : registry().movies)
            if (entry.second->playback.state && entry.second->playback.state->port)
                all.push_back(entry.second->token);
    }
    OSErr first = noErr;
    for (Movie m : all) {
        taskMovie(m);
        const OSErr err = GetMoviesError();
        // A movie disposed of meanwhile is no failure of the round.
        if (first == noErr && err != invalidMovie) first = err;
    }
    result(first);
}

OSErr UpdateMovie(Movie movie) {
    return onRecord(movie, invalidMovie, [](MovieRecord& m) {
        MoviePlayback* p = playbackOf(m);
        if (!p) return result(memFullErr);
        p->redraw = true;
        return result(noErr);
    });
}

PicHandle GetMoviePict(Movie movie, TimeValue time) {
    Rect box{};
    GetMovieBox(movie, &box);
    if (GetMoviesError() != noErr) return nullptr;
    std::vector<FrameJob> jobs;
    {
        std::lock_guard<std::mutex> lock(registry().mutex);
        MovieRecord* m = findMovie(movie);
        if (!m) {
            result(invalidMovie);
            return nullptr;
        }
        if (time < 0 || time > movieDuration(*m)) {
            result(invalidTime);
            return nullptr;
        }
        jobs = gatherFrames(*m, nullptr, time, box, nullptr);
    }
    return pictureOf(jobs, box);
}

PicHandle GetTrackPict(Track track, TimeValue time) {
    std::vector<FrameJob> jobs;
    Rect frame{};
    {
        std::lock_guard<std::mutex> lock(registry().mutex);
        TrackRecord* t = findTrack(track);
        if (!t) {
            result(invalidTrack);
            return nullptr;
        }
        if (time < 0 || time > movieDuration(*t->movie)) {
            result(invalidTime);
            return nullptr;
        }
        const int32_t width = Fix2Long(t->width), height = Fix2Long(t->height);
        frame = Rect{0, 0, int16_t(std::clamp(height, 0, int32_t(INT16_MAX))),
                     int16_t(std::clamp(width, 0, int32_t(INT16_MAX)))};
        MatrixRecord toMovie = t->movie->matrix;
        ConcatMatrix(&t->matrix, &toMovie);
        TransformRect(&toMovie, &frame, nullptr);
        jobs = gatherFrames(*t->movie, t, time, frame, nullptr);
    }
    return pictureOf(jobs, frame);
}

namespace {

// A copy of the clip of a movie's or track's playback state, for the caller to dispose of.
template <class Record> RgnHandle clipOf(Record& r) {
    const auto* p = r.playback.state.get();
    OSErr err = noErr;
    RgnHandle copy = copyClip(p ? p->clip : nullptr, err);
    result(err);
    return copy;
}

// A copy of the clip (null for none) in place of the movie's or track's; false, with the error
// set, when it cannot be.
template <class Record> bool replaceClip(Record& r, RgnHandle theClip) {
    if (theClip && !platform::isRegion(theClip)) {
        result(paramErr);
        return false;
    }
    auto* p = playbackOf(r);
    OSErr err = p ? noErr : memFullErr;
    RgnHandle copy = p ? copyClip(theClip, err) : nullptr;
    if (err != noErr) {
        result(err);
        return false;
    }
    if (p->clip) DisposeRgn(p->clip);
    p->clip = copy;
    result(noErr);
    return true;
}

} // namespace

RgnHandle GetMovieClipRgn(Movie movie) {
    return onRecord(movie, RgnHandle(nullptr), [](MovieRecord& m) { return clipOf(m); });
}

void SetMovieClipRgn(Movie movie, RgnHandle theClip) {
    onRecord(movie, [&](MovieRecord& m) {
        if (replaceClip(m, theClip)) movieNeedsDrawing(m);
    });
}

RgnHandle GetTrackClipRgn(Track track) {
    return onRecord(track, RgnHandle(nullptr), [](TrackRecord& t) { return clipOf(t); });
}

void SetTrackClipRgn(Track track, RgnHandle theClip) {
    onRecord(track, [&](TrackRecord& t) {
        if (replaceClip(t, theClip)) movieNeedsDrawing(*t.movie);
    });
}

ComponentResult GetMovieStatus(Movie movie, Track* firstProblemTrack) {
    if (firstProblemTrack) *firstProblemTrack = nullptr;
    return onRecord(movie, ComponentResult(invalidMovie), [&](MovieRecord& m) -> ComponentResult {
        for (auto& t : m.tracks) {
            TrackPlayback* p = t->playback.state.get();
            if (p && p->status != noErr) {
                if (firstProblemTrack) *firstProblemTrack = t->token;
                result(noErr);
                return p->status;
            }
        }
        result(noErr);
        return noErr;
    });
}

ComponentResult GetTrackStatus(Track track) {
    return onRecord(track, ComponentResult(invalidTrack), [](TrackRecord& t) -> ComponentResult {
        TrackPlayback* p = t.playback.state.get();
        result(noErr);
        return p ? p->status : noErr;
    });
}
