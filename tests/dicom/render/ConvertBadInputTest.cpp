// The converters on bad input and bad destinations: the source's own file, destinations that cannot
// be written, conversions that fail half-way, sources that cannot be converted. Every case ends in
// a status, leaves the source as it was and leaves no file that looks complete.
#include "ConverterFixtures.h"

#include "KelvoImage.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace convertertest;
using testsupport::ScratchDir;

// The names in a folder, sorted.
std::vector<std::string> listing(const ScratchDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::unique_ptr<Kelvo_Image8BitGrey> greyImage() {
    std::vector<uint8_t> samples(64 * 64);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = uint8_t(i * 7);
    return std::make_unique<Kelvo_Image8BitGrey>(Kelvo_Size(64, 64), samples.data());
}

void eightBitGrey(KelvoDicomDataImagePixel& px) {
    px.setUSValueProperty(0x0100, 8);
    px.setUSValueProperty(0x0101, 8);
    px.setUSValueProperty(0x0102, 7);
}

// The file a DICOM source was read from is never written over, neither through a path (nor a link
// to it) nor through a stream open on it: -50, and the file keeps every byte.
TEST(ConverterBadInput, TheSourcesOwnFileIsRefusedAndKept) {
    ScratchDir dir("render-bad-source");
    const std::string source = dir.file("source.dcm");
    std::filesystem::copy_file(pydicomFile("MR_small.dcm"), source);
    const std::string link = dir.file("link.dcm");
    std::filesystem::create_symlink(source, link);
    const std::string before = testsupport::readFile(source);
    std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(source.c_str()));
    ASSERT_TRUE(tree && tree->qtObjIsValid());

    TestMovie movie(2, 64, 64);
    auto image = greyImage();
    KelvoDicomConvertMovie movieConverter(movie.wrapper.get());
    KelvoDicomConvertImage imageConverter(image.get());
    for (KelvoDicomConverter* converter : {static_cast<KelvoDicomConverter*>(&movieConverter),
                                           static_cast<KelvoDicomConverter*>(&imageConverter)}) {
        SCOPED_TRACE(converter->qtObjName());
        converter->setDicomSource(tree.get());
        ASSERT_EQ(converter->Error(), 0);
        for (const std::string& path : {source, link}) {
            converter->convertToFile(path.c_str());
            EXPECT_EQ(converter->Error(), -50);
        }
        FILE* stream = std::fopen(source.c_str(), "r+b");
        ASSERT_NE(stream, nullptr);
        converter->convert(stream);
        std::fclose(stream);
        EXPECT_EQ(converter->Error(), -50);
        EXPECT_TRUE(testsupport::readFile(source) == before);
        EXPECT_EQ(listing(dir), (std::vector<std::string>{"link.dcm", "source.dcm"}));
        // Anywhere else the same converter writes.
        const std::string elsewhere = dir.file("elsewhere.dcm");
        converter->convertToFile(elsewhere.c_str());
        EXPECT_EQ(converter->Error(), 0);
        dcmdump(elsewhere);
        std::filesystem::remove(elsewhere);
    }
}

// Destinations that cannot be created or are no file: -50 and nothing made; a folder stays a
// folder.
TEST(ConverterBadInput, UnwritableDestinations) {
    ScratchDir dir("render-bad-destination");
    const std::string plainFile = dir.file("plain");
    testsupport::writeFile(plainFile, "plain");
    const std::string folder = dir.file("folder");
    std::filesystem::create_directory(folder);
    std::vector<std::string> destinations = {dir.file("missing/out.dcm"), plainFile + "/out.dcm", folder, ""};
    // A folder without write permission stops every user but the superuser.
    const std::string locked = dir.file("locked");
    if (geteuid() != 0) {
        std::filesystem::create_directory(locked);
        ::chmod(locked.c_str(), 0500);
        destinations.push_back(locked + "/out.dcm");
    }
    TestMovie movie(2, 64, 64);
    KelvoDicomConvertMovie converter(movie.wrapper.get());
    for (const std::string& path : destinations) {
        SCOPED_TRACE(path);
        converter.convertToFile(path.c_str());
        EXPECT_EQ(converter.Error(), -50);
    }
    converter.convertToFile(nullptr);
    EXPECT_EQ(converter.Error(), -50);
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    EXPECT_EQ(testsupport::readFile(plainFile), "plain");
    if (geteuid() != 0) {
        EXPECT_TRUE(std::filesystem::is_empty(locked));
        ::chmod(locked.c_str(), 0700);
    }
}

// A conversion into a path is written beside it and put in place only when complete: one that
// fails after its attributes were written leaves the file that was there (or none) and no
// temporary; one that succeeds gives the same bytes as a conversion into a stream, with the
// permissions of a new file or of the file it replaces.
TEST(ConverterBadInput, FailedConversionsLeaveNoFileBehind) {
    ScratchDir dir("render-bad-partial");
    TestMovie movie(2, 64, 64);
    // Two samples a pixel cannot be drawn: the attributes are written, then the frames fail.
    auto twoSamples = sourceTree("MR_small.dcm", nullptr, [](KelvoDicomDataImagePixel& px) {
        px.setUSValueProperty(0x0002, 2);
        eightBitGrey(px);
    });
    KelvoDicomConvertMovie failing(movie.wrapper.get());
    failing.setDicomSource(twoSamples.get());
    Kelvo_ProgressNotifier notifier(record, nullptr);
    failing.Callback(&notifier);

    const std::string fresh = dir.file("fresh.dcm");
    gProgress.clear();
    gProgressCodes.clear();
    failing.convertToFile(fresh.c_str());
    EXPECT_EQ(failing.Error(), -50);
    EXPECT_FALSE(std::filesystem::exists(fresh));
    ASSERT_FALSE(gProgress.empty());
    EXPECT_EQ(gProgress.back(), 1.0);
    EXPECT_EQ(gProgressCodes.back(), -50);

    const std::string existing = dir.file("existing.dcm");
    testsupport::writeFile(existing, "what was there");
    ::chmod(existing.c_str(), 0640);
    failing.convertToFile(existing.c_str());
    EXPECT_EQ(failing.Error(), -50);
    EXPECT_EQ(testsupport::readFile(existing), "what was there");
    EXPECT_EQ(listing(dir), std::vector<std::string>{"existing.dcm"});

    auto tree = sourceTree("MR_small.dcm");
    KelvoDicomConvertMovie converter(movie.wrapper.get());
    converter.setDicomSource(tree.get());
    const std::string streamed = dir.file("streamed.dcm");
    ASSERT_EQ(convertTo(converter, streamed), 0);
    const std::string placed = dir.file("placed.dcm");
    converter.convertToFile(placed.c_str());
    ASSERT_EQ(converter.Error(), 0);
    EXPECT_TRUE(testsupport::readFile(placed) == testsupport::readFile(streamed));
    converter.convertToFile(existing.c_str());
    ASSERT_EQ(converter.Error(), 0);
    EXPECT_TRUE(testsupport::readFile(existing) == testsupport::readFile(streamed));
    EXPECT_EQ(listing(dir), (std::vector<std::string>{"existing.dcm", "placed.dcm", "streamed.dcm"}));
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat st {};
    ASSERT_EQ(::stat(placed.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
    ASSERT_EQ(::stat(existing.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// Sources that cannot be converted: a movie without video or without duration (79, no file made),
// and images whose samples the parameters cannot describe (-50, nothing left, one progress call
// with the status).
TEST(ConverterBadInput, SourcesThatCannotBeConverted) {
    ScratchDir dir("render-bad-sources");
    {
        Movie m = NewMovie(0);
        Track t = NewMovieTrack(m, 0, 0, 256);
        (void)NewTrackMedia(t, SoundMediaType, 600, nullptr, 0);
        Kelvo_Movie sound(m, false);
        TestMovie empty(0, 32, 16);
        for (Kelvo_Movie* movie : {&sound, empty.wrapper.get()}) {
            KelvoDicomConvertMovie converter(movie);
            EXPECT_EQ(converter.Error(), 79);
            const std::string out = dir.file("movie.dcm");
            converter.convertToFile(out.c_str());
            EXPECT_EQ(converter.Error(), 79);
            EXPECT_FALSE(std::filesystem::exists(out));
        }
        DisposeMovie(m);
    }
    struct Case {
        const char* what;
        void (*edit)(KelvoDicomDataImagePixel&);
    };
    const Case cases[] = {
        {"two samples a pixel",
         [](KelvoDicomDataImagePixel& px) {
             eightBitGrey(px);
             px.setUSValueProperty(0x0002, 2);
         }},
        {"12 bits allocated", [](KelvoDicomDataImagePixel& px) { px.setUSValueProperty(0x0100, 12); }},
        {"32 bits allocated", [](KelvoDicomDataImagePixel& px) { px.setUSValueProperty(0x0100, 32); }},
        {"16-bit colour",
         [](KelvoDicomDataImagePixel& px) {
             px.PhotoInterpretation("RGB");
             px.PixelSamples(3);
         }},
    };
    auto image = greyImage();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto tree = sourceTree("MR_small.dcm", nullptr, c.edit);
        KelvoDicomConvertImage converter(image.get());
        converter.setDicomSource(tree.get());
        const std::string out = dir.file("image.dcm");
        EXPECT_EQ(convertTo(converter, out), -50);
        EXPECT_EQ(std::filesystem::file_size(out), 0u);
        EXPECT_EQ(gProgress, std::vector<double>{1.0});
        EXPECT_EQ(gProgressCodes, std::vector<int32_t>{-50});
        converter.convertToFile(out.c_str());
        EXPECT_EQ(std::filesystem::file_size(out), 0u); // the empty file of the stream is kept as it was
    }
    // The same image under parameters it fits is written, with one progress call.
    auto tree = sourceTree("MR_small.dcm", nullptr, eightBitGrey);
    KelvoDicomConvertImage converter(image.get());
    converter.setDicomSource(tree.get());
    const std::string out = dir.file("fits.dcm");
    ASSERT_EQ(convertTo(converter, out), 0);
    EXPECT_EQ(gProgress, std::vector<double>{1.0});
    EXPECT_EQ(gProgressCodes, std::vector<int32_t>{0});
    const Peer p = readBack(dir, out);
    EXPECT_EQ(line(p.said, "shape"), "shape 1x64x64 uint8");
    ASSERT_EQ(p.samples.size(), size_t(64 * 64));
    for (size_t i = 0; i < p.samples.size(); ++i)
        ASSERT_EQ(uint8_t(p.samples[i]), uint8_t(i * 7)) << i;
}

// Raw 16-bit frames report their progress like the others: 0, 1/n, ... and 1.0 with the status.
TEST(ConverterBadInput, ProgressOfSixteenBitFrames) {
    ScratchDir dir("render-progress");
    TestMovie movie(4, 64, 64);
    auto tree = sourceTree("MR_small.dcm");
    KelvoDicomConvertMovie converter(movie.wrapper.get());
    converter.setDicomSource(tree.get());
    ASSERT_EQ(convertTo(converter, dir.file("grey16.dcm")), 0);
    EXPECT_EQ(gProgress, (std::vector<double>{0.0, 0.25, 0.5, 0.75, 1.0}));
    EXPECT_EQ(gProgressCodes, (std::vector<int32_t>{0, 0, 0, 0, 0}));
}

} // namespace
