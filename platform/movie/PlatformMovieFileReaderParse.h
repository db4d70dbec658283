// The reader's inside: a movie file's bytes parsed into plain records, checked whole, before
// any movie, track or media exists; then turned into a movie of the in-memory model.
#pragma once

#include "PlatformMovieModel.h"

#include <string>
#include <utility>
#include <vector>

namespace platform::movie::reader {

// Where the bytes come from: a file (read on demand) or a block of memory.
struct Source {
    int fd = -1;
    const uint8_t* memory = nullptr;
    int64_t size = 0;
    std::string path; // the file's, for its data reference
    OSErr read(int64_t offset, size_t count, uint8_t* out) const;
};

struct ParsedEdit {
    int64_t length = 0;
    int64_t mediaTime = -1;
    Fixed rate = 0x10000;
};

struct ParsedDataRef {
    DataRef ref;
    bool self = false;
};

struct ParsedMedia {
    OSType type = 0;
    TimeScale scale = 0;
    int16_t language = 0;
    int16_t quality = 0;
    std::vector<Bytes> descriptions; // in the model's order
    std::vector<ParsedDataRef> dataRefs;
    std::vector<SampleRun> runs;
    int64_t sampleCount = 0;
    int64_t decodeEnd = 0;
    int64_t displayEnd = 0;
};

using UserDataItems = std::vector<std::pair<OSType, Bytes>>;

struct ParsedTrack {
    int32_t id = 0;
    bool enabled = true;
    int16_t layer = 0;
    uint16_t group = 0;
    int16_t volume = 0;
    MatrixRecord matrix{};
    Fixed width = 0, height = 0;
    int64_t duration = 0;
    bool hasEdits = false;
    std::vector<ParsedEdit> edits;
    bool hasMedia = false;
    ParsedMedia media;
    std::vector<std::pair<OSType, std::vector<uint32_t>>> references;
    UserDataItems userData;
    TrackLoadSettings load;
};

struct ParsedMovie {
    TimeScale scale = 0;
    MatrixRecord matrix{};
    int64_t previewStart = 0, previewDuration = 0, posterTime = 0;
    int64_t selectionStart = 0, selectionDuration = 0, time = 0;
    int32_t nextTrackID = 1;
    Fixed preferredRate = 0x10000;
    int16_t preferredVolume = 0x100;
    std::vector<ParsedTrack> tracks;
    UserDataItems userData;
    // A reference movie: the movie lies in the data reference it names.
    bool isReference = false;
    DataRef target;
};

// Finds the movie atom among the source's top-level atoms and parses it. noMovieFound when the
// source holds none, badPublicMovieAtom or invalidSampleTable when it is damaged.
OSErr parseSource(const Source& source, ParsedMovie& movie);
// Whether the source's top-level atoms are sound and one of them is a movie atom.
bool holdsMovie(const Source& source);

// Makes the movie of the model from what was parsed: samples in the source stay there (a file)
// or are copied into the media (memory). *movie receives it; nothing is left on failure.
OSErr buildMovie(const ParsedMovie& parsed, const Source& source, int16_t flags, Movie* movie);

} // namespace platform::movie::reader

namespace platform::movie::reader {

// Opens the movie of a file or of a block of memory, following a reference movie to the movie
// it names (a few steps at most). Without newMovieDontResolveDataRefs, a movie whose samples lie
// in files that do not exist is answered with couldNotResolveDataRef (and made all the same).
OSErr openFile(const std::string& path, int16_t flags, Movie* movie);
OSErr openMemory(const uint8_t* data, int64_t size, int16_t flags, Movie* movie);
// Whether the file or block holds a movie this layer reads.
bool fileHoldsMovie(const std::string& path);

// The top-level layout of a movie file, for a writer that replaces its movie atom: where the
// first movie atom starts and how long it is, and whether it is the file's last atom, right
// after the data atom (whose header start and size are told) and, before that, an 8-byte 'wide'.
struct FileLayout {
    int64_t moovAt = -1, moovSize = 0;
    bool moovLastAfterData = false;
    int64_t mdatAt = -1, mdatHeader = 0;
    bool wideBeforeData = false;
};
OSErr fileLayout(const Source& source, FileLayout& layout);

} // namespace platform::movie::reader
