#include "PlatformFixed.h"
#include "PlatformMemory.h"
#include "PlatformMovieModelExtras.h"
#include "PlatformMovies.h"
#include "PlatformUserData.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <vector>

namespace {

SampleDescriptionHandle makeDescription(OSType format) {
    Handle h = NewHandleClear(sizeof(ImageDescription));
    auto* d = reinterpret_cast<ImageDescription*>(*h);
    d->idSize = sizeof(ImageDescription);
    d->cType = format;
    d->width = 16;
    d->height = 16;
    return reinterpret_cast<SampleDescriptionHandle>(h);
}

// A movie of scale 600 whose video track shows samples of the given durations (media scale
// 600), each holding `bytesEach` bytes of value i + 1.
struct Fixture {
    Movie movie = nullptr;
    Track track = nullptr;
    Media media = nullptr;
    explicit Fixture(const std::vector<int64_t>& durations, size_t bytesEach = 4) {
        movie = NewMovie(0);
        track = NewMovieTrack(movie, Long2Fix(32), Long2Fix(16), 0);
        media = NewTrackMedia(track, VideoMediaType, 600, nullptr, 0);
        SampleDescriptionHandle desc = makeDescription(FOUR_CHAR_CODE("raw "));
        int64_t total = 0;
        for (size_t i = 0; i < durations.size(); ++i) {
            std::vector<uint8_t> bytes(bytesEach, uint8_t(i + 1));
            EXPECT_EQ(AddMediaSample2(media, bytes.data(), ByteCount(bytes.size()), durations[i], 0, desc, 1,
                                      i == 0 ? 0 : mediaSampleNotSync, nullptr),
                      noErr);
            total += durations[i];
        }
        DisposeHandle(reinterpret_cast<Handle>(desc));
        if (total > 0) {
            EXPECT_EQ(InsertMediaIntoTrack(track, 0, 0, TimeValue(total), fixed1), noErr);
        }
    }
    ~Fixture() { DisposeMovie(movie); }
};

uint32_t nowMac() {
    const auto unix =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    return uint32_t(unix + 2082844800LL);
}

} // namespace

TEST(MovieModelExtras, MovieEditStateRestoresEditsInTheMoviesPresentScale) {
    Fixture f({100, 200, 300});
    MovieEditState state = NewMovieEditState(f.movie);
    ASSERT_NE(state, nullptr);
    ASSERT_EQ(DeleteMovieSegment(f.movie, 100, 200), noErr);
    ASSERT_EQ(GetMovieDuration(f.movie), 400);
    // The scale changes between the snapshot and its use: the edits come back in the new one.
    SetMovieTimeScale(f.movie, 1200);
    ASSERT_EQ(UseMovieEditState(f.movie, state), noErr);
    EXPECT_EQ(GetMovieDuration(f.movie), 1200);
    EXPECT_EQ(TrackTimeToMediaTime(700, f.track), 350);

    // A state serves one movie; a disposed one is refused.
    Fixture other({10});
    EXPECT_EQ(UseMovieEditState(other.movie, state), invalidMovie);
    EXPECT_EQ(DisposeMovieEditState(state), noErr);
    EXPECT_EQ(DisposeMovieEditState(state), paramErr);
    EXPECT_EQ(UseMovieEditState(f.movie, state), paramErr);
    EXPECT_EQ(NewMovieEditState(nullptr), nullptr);
    EXPECT_EQ(GetMoviesError(), invalidMovie);
}

TEST(MovieModelExtras, TrackEditStateRestoresOneTrackAndOutlivesItsTrackSafely) {
    Fixture f({100, 100});
    Track second = NewMovieTrack(f.movie, 0, 0, 0);
    TrackEditState state = NewTrackEditState(f.track);
    ASSERT_NE(state, nullptr);
    ASSERT_EQ(InsertEmptyTrackSegment(f.track, 0, 50), noErr);
    EXPECT_EQ(GetTrackOffset(f.track), 50);
    EXPECT_EQ(UseTrackEditState(second, state), invalidTrack);
    ASSERT_EQ(UseTrackEditState(f.track, state), noErr);
    EXPECT_EQ(GetTrackOffset(f.track), 0);
    EXPECT_EQ(GetTrackDuration(f.track), 200);
    DisposeMovieTrack(f.track);
    EXPECT_EQ(UseTrackEditState(f.track, state), invalidTrack);
    EXPECT_EQ(DisposeTrackEditState(state), noErr);
}

TEST(MovieModelExtras, SettingsCopiesReplaceTheDestinationsUserData) {
    Fixture src({10}), dst({10});
    MatrixRecord m{};
    SetIdentityMatrix(&m);
    m.matrix[2][0] = Long2Fix(7);
    SetMovieMatrix(src.movie, &m);
    ASSERT_EQ(SetUserDataItem(GetMovieUserData(src.movie), "abc", 3, FOUR_CHAR_CODE("cmnt"), 1), noErr);
    ASSERT_EQ(SetUserDataItem(GetMovieUserData(dst.movie), "x", 1, FOUR_CHAR_CODE("gone"), 1), noErr);
    ASSERT_EQ(CopyMovieSettings(src.movie, dst.movie), noErr);
    MatrixRecord got{};
    GetMovieMatrix(dst.movie, &got);
    EXPECT_EQ(std::memcmp(&got, &m, sizeof m), 0);
    EXPECT_EQ(CountUserDataType(GetMovieUserData(dst.movie), FOUR_CHAR_CODE("gone")), 0);
    char text[3] = {};
    EXPECT_EQ(GetUserDataItem(GetMovieUserData(dst.movie), text, 3, FOUR_CHAR_CODE("cmnt"), 1), noErr);
    EXPECT_EQ(std::memcmp(text, "abc", 3), 0);

    SetTrackLayer(src.track, -3);
    SetTrackVolume(src.track, 128);
    SetTrackUsage(src.track, trackUsageInMovie);
    ASSERT_EQ(CopyTrackSettings(src.track, dst.track), noErr);
    EXPECT_EQ(GetTrackLayer(dst.track), -3);
    EXPECT_EQ(GetTrackVolume(dst.track), 128);
    EXPECT_EQ(GetTrackUsage(dst.track), trackUsageInMovie);
    EXPECT_EQ(CopyTrackSettings(src.track, nullptr), invalidTrack);
    EXPECT_EQ(CopyMovieSettings(nullptr, dst.movie), invalidMovie);
}

TEST(MovieModelExtras, RecordTimesAreTheMomentOfCreationAndMoveWithChanges) {
    const uint32_t before = nowMac();
    Fixture f({10});
    const uint32_t after = nowMac();
    for (uint32_t t :
         {GetMovieCreationTime(f.movie), GetTrackCreationTime(f.track), GetMediaCreationTime(f.media)}) {
        EXPECT_GE(t, before);
        EXPECT_LE(t, after);
    }
    EXPECT_EQ(GetMovieModificationTime(f.movie), GetMovieCreationTime(f.movie));
    SetTrackUsage(f.track, 0);
    EXPECT_GE(GetTrackModificationTime(f.track), GetTrackCreationTime(f.track));
    EXPECT_EQ(GetMovieCreationTime(nullptr), 0u);
    EXPECT_EQ(GetMoviesError(), invalidMovie);
    EXPECT_EQ(GetMediaModificationTime(nullptr), 0u);
}

TEST(MovieModelExtras, UsageStartsWithEveryUseAndKeepsOnlyKnownBits) {
    Fixture f({10});
    EXPECT_EQ(GetTrackUsage(f.track), trackUsageInMovie | trackUsageInPreview | trackUsageInPoster);
    SetTrackUsage(f.track, trackUsageInPoster | 1 | 0x100);
    EXPECT_EQ(GetTrackUsage(f.track), trackUsageInPoster);
}

TEST(MovieModelExtras, MovieLanguageEnablesTheMatchingAlternate) {
    Movie movie = NewMovie(0);
    Track english = NewMovieTrack(movie, 0, 0, 256);
    Track french = NewMovieTrack(movie, 0, 0, 256);
    Track alone = NewMovieTrack(movie, 0, 0, 256);
    SetMediaLanguage(NewTrackMedia(english, SoundMediaType, 0, nullptr, 0), 0);
    SetMediaLanguage(NewTrackMedia(french, SoundMediaType, 0, nullptr, 0), 1);
    SetMediaLanguage(NewTrackMedia(alone, SoundMediaType, 0, nullptr, 0), 2);
    SetTrackAlternate(french, english);
    SetTrackEnabled(french, false);
    SetTrackEnabled(alone, false);

    SetMovieLanguage(movie, 1);
    EXPECT_EQ(GetMoviesError(), noErr);
    EXPECT_FALSE(GetTrackEnabled(english));
    EXPECT_TRUE(GetTrackEnabled(french));
    // A track outside any group is left alone, as is a group without the language.
    SetMovieLanguage(movie, 2);
    EXPECT_FALSE(GetTrackEnabled(alone));
    EXPECT_TRUE(GetTrackEnabled(french));
    DisposeMovie(movie);
}

// Automatic alternates: each group shows the best-quality track of the movie's language, or
// the best of all when none has it; equal tracks keep the group's enabled one.
TEST(MovieModelExtras, AutoAlternatesChooseByLanguageThenQuality) {
    Movie movie = NewMovie(0);
    struct Made {
        Track track;
        int16_t language, quality;
    };
    std::vector<Made> tracks;
    for (auto [language, quality] : {std::pair{0, 10}, {1, 5}, {1, 20}, {2, 7}, {3, 7}}) {
        Track t = NewMovieTrack(movie, 0, 0, 256);
        Media m = NewTrackMedia(t, SoundMediaType, 0, nullptr, 0);
        SetMediaLanguage(m, language);
        SetMediaQuality(m, quality);
        tracks.push_back({t, int16_t(language), int16_t(quality)});
    }
    // Group one: the first three; group two: the last two, its last track enabled.
    SetTrackAlternate(tracks[1].track, tracks[0].track);
    SetTrackAlternate(tracks[2].track, tracks[0].track);
    SetTrackAlternate(tracks[3].track, tracks[4].track);
    SetTrackEnabled(tracks[3].track, false);
    auto enabled = [&] {
        std::vector<bool> on;
        for (const Made& m : tracks)
            on.push_back(GetTrackEnabled(m.track));
        return on;
    };
    const std::vector<bool> before = enabled();

    // Off, the language keeps its plain rule and nothing else moves.
    SetAutoTrackAlternatesEnabled(movie, false);
    EXPECT_EQ(GetMoviesError(), noErr);
    EXPECT_EQ(enabled(), before);

    SetMovieLanguage(movie, 1);
    SetAutoTrackAlternatesEnabled(movie, true);
    EXPECT_EQ(GetMoviesError(), noErr);
    // Language 1 in group one: its better track; group two has none: equal quality, the enabled
    // one stays.
    EXPECT_EQ(enabled(), (std::vector<bool>{false, false, true, false, true}));
    // Language 2 only in group two; group one keeps its best of all.
    SetMovieLanguage(movie, 2);
    EXPECT_EQ(enabled(), (std::vector<bool>{false, false, true, true, false}));
    SetMovieLanguage(movie, 0);
    EXPECT_EQ(enabled(), (std::vector<bool>{true, false, false, true, false}));

    SetAutoTrackAlternatesEnabled(nullptr, true);
    EXPECT_EQ(GetMoviesError(), invalidMovie);
    DisposeMovie(movie);
}

TEST(MovieModelExtras, LoadSettingsAreKeptPerTrack) {
    Fixture f({10});
    Track other = NewMovieTrack(f.movie, 0, 0, 0);
    TimeValue time = -1, duration = -1;
    int32_t flags = -1, hints = -1;
    GetTrackLoadSettings(f.track, &time, &duration, &flags, &hints);
    EXPECT_EQ(GetMoviesError(), noErr);
    EXPECT_EQ(std::vector<int32_t>({time, duration, flags, hints}), std::vector<int32_t>({0, 0, 0, 0}));
    SetTrackLoadSettings(f.track, 5, -1, 1 << 1, 1 << 8);
    EXPECT_EQ(GetMoviesError(), noErr);
    GetTrackLoadSettings(f.track, &time, &duration, &flags, &hints);
    EXPECT_EQ(std::vector<int32_t>({time, duration, flags, hints}), std::vector<int32_t>({5, -1, 2, 256}));
    GetTrackLoadSettings(other, &time, nullptr, nullptr, &hints);
    EXPECT_EQ(time, 0);
    EXPECT_EQ(hints, 0);
    // A track that is gone answers zeros.
    DisposeMovieTrack(other);
    GetTrackLoadSettings(other, &time, &duration, &flags, &hints);
    EXPECT_EQ(GetMoviesError(), invalidTrack);
    EXPECT_EQ(std::vector<int32_t>({time, duration, flags, hints}), std::vector<int32_t>({0, 0, 0, 0}));
    SetTrackLoadSettings(other, 1, 1, 1, 1);
    EXPECT_EQ(GetMoviesError(), invalidTrack);
}

TEST(MovieModelExtras, SelectionCopyCutClearAndPaste) {
    Fixture f({100, 200, 300});
    SetMovieSelection(f.movie, 100, 200);
    Movie copy = CopyMovieSelection(f.movie);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(GetMovieDuration(copy), 200);
    EXPECT_EQ(GetMovieDuration(f.movie), 600);

    Movie cut = CutMovieSelection(f.movie);
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(GetMovieDuration(f.movie), 400);
    TimeValue start = -1, length = -1;
    GetMovieSelection(f.movie, &start, &length);
    EXPECT_EQ(start, 100);
    EXPECT_EQ(length, 0);

    // Pasting at the empty selection puts the cut back where it was, and selects it.
    PasteMovieSelection(f.movie, cut);
    ASSERT_EQ(GetMoviesError(), noErr);
    EXPECT_EQ(GetMovieDuration(f.movie), 600);
    GetMovieSelection(f.movie, &start, &length);
    EXPECT_EQ(start, 100);
    EXPECT_EQ(length, 200);
    // Pasting over a selection replaces it.
    PasteMovieSelection(f.movie, copy);
    EXPECT_EQ(GetMovieDuration(f.movie), 600);

    SetMovieSelection(f.movie, 0, 100);
    ClearMovieSelection(f.movie);
    EXPECT_EQ(GetMovieDuration(f.movie), 500);
    EXPECT_EQ(CopyMovieSelection(nullptr), nullptr);
    EXPECT_EQ(GetMoviesError(), invalidMovie);
    DisposeMovie(copy);
    DisposeMovie(cut);
}

TEST(MovieModelExtras, MediaSampleTableDescribesEverySample) {
    Fixture f({100, 100, 50}, 6);
    QTMutableSampleTableRef table = nullptr;
    TimeValue64 from = -1;
    ASSERT_EQ(CopyMediaMutableSampleTable(f.media, 0, &from, 0, 0, &table), noErr);
    EXPECT_EQ(from, 0);
    ASSERT_EQ(QTSampleTableGetNumberOfSamples(table), 3);
    EXPECT_EQ(QTSampleTableGetTimeScale(table), 600);
    struct Row {
        TimeValue64 decode, duration;
        int64_t offset;
        MediaSampleFlags flags;
    };
    const Row rows[] = {{0, 100, 0, 0}, {100, 100, 6, mediaSampleNotSync}, {200, 50, 12, mediaSampleNotSync}};
    for (int64_t s = 1; s <= 3; ++s) {
        SCOPED_TRACE(s);
        EXPECT_EQ(QTSampleTableGetDecodeTime(table, s), rows[s - 1].decode);
        EXPECT_EQ(QTSampleTableGetDecodeDuration(table, s), rows[s - 1].duration);
        EXPECT_EQ(QTSampleTableGetDataOffset(table, s), rows[s - 1].offset);
        EXPECT_EQ(QTSampleTableGetDataSizePerSample(table, s), 6u);
        EXPECT_EQ(QTSampleTableGetSampleFlags(table, s), rows[s - 1].flags);
        EXPECT_EQ(QTSampleTableGetSampleDescriptionID(table, s), 1);
        EXPECT_EQ(QTSampleTableGetDisplayOffset(table, s), 0);
    }
    // Outside the table every answer is empty.
    EXPECT_EQ(QTSampleTableGetDecodeTime(table, 0), -1);
    EXPECT_EQ(QTSampleTableGetDataSizePerSample(table, 4), 0u);
    QTSampleTableRelease(table);

    // A part: from the sample at decode time 150, at most one sample.
    ASSERT_EQ(CopyMediaMutableSampleTable(f.media, 150, &from, 1, 0, &table), noErr);
    EXPECT_EQ(from, 100);
    EXPECT_EQ(QTSampleTableGetNumberOfSamples(table), 1);
    EXPECT_EQ(QTSampleTableGetDataOffset(table, 1), 6);
    QTSampleTableRelease(table);
    // The samples that start within 150 units of the first.
    ASSERT_EQ(CopyMediaMutableSampleTable(f.media, 0, nullptr, 0, 150, &table), noErr);
    EXPECT_EQ(QTSampleTableGetNumberOfSamples(table), 2);
    QTSampleTableRelease(table);
    EXPECT_EQ(CopyMediaMutableSampleTable(f.media, 900, nullptr, 0, 0, &table), invalidTime);
    EXPECT_EQ(table, nullptr);
    EXPECT_EQ(CopyMediaMutableSampleTable(nullptr, 0, nullptr, 0, 0, &table), invalidMedia);
}

TEST(MovieModelExtras, MutableTableTakesRunsAndRefusesBadOnes) {
    QTMutableSampleTableRef table = nullptr;
    EXPECT_EQ(QTSampleTableCreateMutable(nullptr, 0, nullptr, &table), paramErr);
    ASSERT_EQ(QTSampleTableCreateMutable(nullptr, 90000, nullptr, &table), noErr);
    int64_t first = 0;
    ASSERT_EQ(QTSampleTableAddSampleReferences(table, 1000, 10, 3000, 0, 4, 0, 1, &first), noErr);
    EXPECT_EQ(first, 1);
    ASSERT_EQ(QTSampleTableAddSampleReferences(table, 5000, 7, 1500, 0, 2, 1, 2, &first), noErr);
    EXPECT_EQ(first, 5);
    EXPECT_EQ(QTSampleTableGetNumberOfSamples(table), 6);
    EXPECT_EQ(QTSampleTableGetDataOffset(table, 4), 1030);
    EXPECT_EQ(QTSampleTableGetDecodeTime(table, 6), 4 * 3000 + 1500);
    EXPECT_EQ(QTSampleTableGetSampleDescriptionID(table, 6), 2);
    struct Bad {
        int64_t offset;
        ByteCount size;
        TimeValue64 duration;
        int64_t count;
    };
    for (const Bad& b : {Bad{-1, 10, 1, 1}, Bad{0, 0, 1, 1}, Bad{0, 10, 0, 1}, Bad{0, 10, 1, 0},
                         Bad{0, 10, INT64_MAX / 2, 4}}) {
        EXPECT_EQ(
            QTSampleTableAddSampleReferences(table, b.offset, b.size, b.duration, 0, b.count, 0, 1, nullptr),
            paramErr);
    }
    EXPECT_EQ(QTSampleTableGetNumberOfSamples(table), 6);
    QTSampleTableRelease(table);
    // A released table is refused, never read.
    EXPECT_EQ(QTSampleTableAddSampleReferences(table, 0, 1, 1, 0, 1, 0, 1, nullptr), paramErr);
    EXPECT_EQ(QTSampleTableGetNumberOfSamples(table), 0);
}
