// Every file the DICOM layer writes, under injected faults: a file-size limit (standing in for a
// full disk), a full file system, a read-only folder, the source as destination (by its path, a
// symbolic link and a hard link) and a writer killed part way. After each, the destination holds
// what it held before or the whole new file, never a part of it; every failure answers a non-zero
// status; the source is never changed, except by the DICOM writer rewriting its own source whole.
#include "KelvoCoreObjectsDocument.h"
#include "KelvoCoreObjectsUtils.h"
#include "KelvoDataReference.h"
#include "KelvoDicomConverter.h"
#include "KelvoDicomDataTree.h"
#include "KelvoDicomVideoPresentation.h"
#include "KelvoExportGraphics.h"
#include "KelvoImage.h"
#include "KelvoMovie.h"
#include "PlatformMemory.h"
#include "PlatformFiles.h"
#include "PlatformMovies.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string corpus(const std::string& name) {
    return std::string(testsupport::pydicomTestFiles()) + "/" + name;
}

// The status of `write` run in a child process that `prepare` sets up first (0 when the child
// could not report one: that counts as a failure to report).
int32_t inChild(const std::function<bool()>& prepare, const std::function<int32_t()>& write,
                bool* prepared = nullptr) {
    int fds[2];
    if (pipe(fds) != 0) return 0;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        int32_t result[2] = {0, 0};
        result[0] = prepare() ? 1 : 0;
        if (result[0]) result[1] = write();
        (void)!::write(fds[1], result, sizeof result);
        _exit(0);
    }
    close(fds[1]);
    int32_t result[2] = {0, 0};
    const bool got = read(fds[0], result, sizeof result) == ssize_t(sizeof result);
    close(fds[0]);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    if (prepared) *prepared = got && result[0] == 1;
    return got ? result[1] : 0;
}

struct Writer {
    const char* name;
    const char* source; // in the corpus
    // Writes from `src` to `dst` and answers the status.
    std::function<int32_t(const std::string& src, const std::string& dst)> write;
    // The DICOM writer may rewrite its own source (whole).
    bool rewritesSource;
    // Whether the write reads the source file at all (the others write what is in memory).
    bool readsSource = true;
    // Makes the source at the path; null: a copy of the corpus file.
    std::function<void(const std::string& path)> makeSource = nullptr;
    // Changes the destination where it is, which starts as a copy of the source.
    bool updatesInPlace = false;
};

// Named in test output by its name.
void PrintTo(const Writer& w, std::ostream* os) {
    *os << w.name;
}

int32_t treeWrite(const std::string& src, const std::function<void(KelvoDicomDataTree&)>& write) {
    std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(src.c_str()));
    if (!tree) return 100;
    write(*tree);
    return tree->Error();
}

int32_t anonymizeInto(const std::string& src, const std::string& dst) {
    std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(src.c_str()));
    if (!tree) return 100;
    std::unique_ptr<KelvoDicomDataTree> copy(tree->anonymize());
    if (!copy || tree->Error() != 0) return tree->Error() ? tree->Error() : 100;
    copy->toBinaryFile(dst.c_str(), nullptr);
    return copy->Error();
}

int32_t rawImage(const std::string&, const std::string& dst) {
    std::vector<uint8_t> pixels(64 * 48);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint8_t(i * 7);
    Kelvo_Image8BitGrey image(Kelvo_Size(64, 48), pixels.data());
    image.write(dst.c_str(), 0);
    return image.Error();
}

int32_t document(const std::string&, const std::string& dst) {
    Kelvo_QTObjDocument doc(FOUR_CHAR_CODE("test"));
    const std::string payload(20000, 'p');
    Handle h = nullptr;
    PtrToHand(payload.data(), &h, Size(payload.size()));
    doc.Doc_NodeData(h, nullptr, nullptr);
    DisposeHandle(h);
    doc.Doc_Write(dst.c_str());
    return doc.Error();
}

int32_t dictionaryDump(const std::string& src, const std::string& dst) {
    return treeWrite(src, [&](KelvoDicomDataTree& t) { t.Kelvo_Dictionary::toXmlFile(dst.c_str()); });
}

int32_t rawMovie(const std::string& src, const std::string& dst) {
    std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(src.c_str()));
    if (!tree || !tree->isA("KelvoDicomDocument")) return 100;
    std::unique_ptr<KelvoDicomVideoPresentation> p(static_cast<KelvoDicomDocument&>(*tree).dataDisplay());
    if (!p) return 100;
    FSSpec spec{};
    FSPathMakeFSSpec(dst.c_str(), &spec);
    p->presentationToRawMovie(&spec, nullptr);
    return p->Error();
}

// A movie file of the corpus file's frames.
void makeMovie(const std::string& path) {
    ASSERT_EQ(rawMovie(corpus("CT_small.dcm"), path), 0);
}

// A PNG file of the corpus file's picture, made by DCMTK.
void makePng(const std::string& path) {
    int status = 0;
    testsupport::run("dcmj2pnm --write-png '" + corpus("CT_small.dcm") + "' '" + path + "' 2>&1", &status);
    ASSERT_EQ(status, 0);
}

FSSpec specOf(const std::string& path) {
    FSSpec spec{};
    FSPathMakeFSSpec(path.c_str(), &spec);
    return spec;
}

// The image file at `src` drawn and exported by the graphics exporter of `subtype`.
int32_t graphicsExport(OSType subtype, const std::string& src, const std::string& dst) {
    FSSpec in = specOf(src), out = specOf(dst);
    Kelvo_DataReference reference(&in);
    Kelvo_ExportGraphics service(subtype);
    compressionOutputRecord record{};
    record.kind = kCompressionOutputFile;
    record.file = &out;
    const uint32_t written = service.doService(&reference, &record);
    return service.Error() != 0 ? service.Error() : written == 0 ? 100 : 0;
}

// The movie of the file at `src` saved at `dst`: flattened, or as a movie naming its samples
// where they are.
int32_t movieSave(const std::string& src, const std::string& dst, bool flatten) {
    FSSpec in = specOf(src), out = specOf(dst);
    Kelvo_Movie movie(&in, false);
    if (!movie.qtObjIsValid()) return 100;
    movie.flush(&out, flatten);
    return movie.Error();
}

// The movie file at `dst` opened, changed and written where it is.
int32_t movieUpdate(const std::string&, const std::string& dst) {
    FSSpec spec = specOf(dst);
    Kelvo_Movie movie(&spec, false);
    if (!movie.qtObjIsValid()) return 100;
    const TimeScale scale = GetMovieTimeScale(movie);
    SetMovieTimeScale(movie, scale == 1200 ? 600 : 1200);
    movie.flush();
    return movie.Error();
}

// A grey picture as DICOM under the attributes of the tree read from `src`.
int32_t imageConverter(const std::string& src, const std::string& dst) {
    std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(src.c_str()));
    if (!tree) return 100;
    std::vector<uint16_t> samples(128 * 128);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = uint16_t(i * 13);
    Kelvo_Image16BitGrey image(Kelvo_Size(128, 128), samples.data());
    KelvoDicomConvertImage converter(&image);
    converter.setDicomSource(tree.get());
    converter.convertToFile(dst.c_str());
    return converter.Error();
}

// A file written through the toolkit's file opener, its close checked.
int32_t fileStream(const std::string&, const std::string& dst) {
    int32_t status = 0;
    FILE* f = Kelvo_NewFileStream(dst.c_str(), "wb", status);
    if (!f) return status ? status : 100;
    const std::string payload(20000, 's');
    const bool wrote = std::fwrite(payload.data(), 1, payload.size(), f) == payload.size();
    const bool closed = std::fclose(f) == 0;
    return wrote && closed ? 0 : 101;
}

const std::vector<Writer>& writers() {
    static const std::vector<Writer> all = {
        {"text dump", "CT_small.dcm",
         [](const std::string& s, const std::string& d) {
             return treeWrite(s, [&](KelvoDicomDataTree& t) { t.toTextFile(d.c_str()); });
         },
         false},
        {"XML dump", "CT_small.dcm",
         [](const std::string& s, const std::string& d) {
             return treeWrite(s, [&](KelvoDicomDataTree& t) { t.toXmlFile(d.c_str()); });
         },
         false},
        {"anonymised copy", "CT_small.dcm", anonymizeInto, true},
        {"DICOM without pixel data", "rtplan.dcm",
         [](const std::string& s, const std::string& d) {
             return treeWrite(s, [&](KelvoDicomDataTree& t) { t.toDicomFile(d.c_str(), 0); });
         },
         true},
        {"DICOM with pixel data", "CT_small.dcm",
         [](const std::string& s, const std::string& d) {
             return treeWrite(s, [&](KelvoDicomDataTree& t) { t.toDicomFile(d.c_str(), 1); });
         },
         true},
        {"DICOMDIR", "dicomdirtests/DICOMDIR",
         [](const std::string& s, const std::string& d) {
             return treeWrite(s, [&](KelvoDicomDataTree& t) { t.toDicomFile(d.c_str(), 0); });
         },
         true},
        {"raw movie", "CT_small.dcm", rawMovie, false},
        {"raw image file", "CT_small.dcm", rawImage, false, false},
        {"document", "CT_small.dcm", document, false, false},
        {"dictionary dump", "CT_small.dcm", dictionaryDump, false, false},
        {"PNG export", "CT_small.dcm",
         [](const std::string& s, const std::string& d) {
             return graphicsExport(kQTFileTypePNGExport, s, d);
         },
         false, true, makePng},
        {"JPEG export", "CT_small.dcm",
         [](const std::string& s, const std::string& d) {
             return graphicsExport(kQTFileTypeJPEGExport, s, d);
         },
         false, true, makePng},
        {"flattened movie", "CT_small.dcm",
         [](const std::string& s, const std::string& d) { return movieSave(s, d, true); }, false, true,
         makeMovie},
        {"reference movie", "CT_small.dcm",
         [](const std::string& s, const std::string& d) { return movieSave(s, d, false); }, false, true,
         makeMovie},
        {"movie updated in place", "CT_small.dcm", movieUpdate, false, false, makeMovie, true},
        {"image converter", "CT_small.dcm", imageConverter, false},
        {"toolkit file stream", "CT_small.dcm", fileStream, false, false},
    };
    return all;
}

const std::string kOld = "what the destination held before\n";

// The files of a folder other than those named.
std::vector<std::string> strays(const std::string& folder, const std::vector<std::string>& known) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(folder)) {
        const std::string name = e.path().filename().string();
        if (std::find(known.begin(), known.end(), name) == known.end()) out.push_back(name);
    }
    return out;
}

class SafeWrites : public ::testing::TestWithParam<Writer> {
  protected:
    void SetUp() override {
        const Writer& w = GetParam();
        source = dir.file("source.dcm");
        if (w.makeSource)
            w.makeSource(source);
        else
            fs::copy_file(corpus(w.source), source);
        original = testsupport::readFile(source);
        ASSERT_FALSE(original.empty());
        // A file changed where it is starts as the source; any other destination holds some text.
        old = w.updatesInPlace ? original : kOld;
        // What a write that nothing disturbs makes: the whole file, to compare with.
        const std::string reference = dir.file("reference.out");
        testsupport::writeFile(reference, old);
        ASSERT_EQ(w.write(source, reference), 0);
        whole = testsupport::readFile(reference);
        ASSERT_FALSE(whole.empty());
        if (w.updatesInPlace) {
            ASSERT_NE(whole, old) << "the update changed nothing";
        }
        fs::remove(reference);
        destination = dir.file("destination.out");
        testsupport::writeFile(destination, old);
    }
    // The destination as it was, and nothing left beside it.
    void expectUntouched() {
        EXPECT_EQ(testsupport::readFile(destination), old);
        EXPECT_EQ(testsupport::readFile(source), original) << "the source changed";
        EXPECT_EQ(strays(dir.path().string(), {"source.dcm", "destination.out"}), std::vector<std::string>{});
    }

    testsupport::ScratchDir dir{"safe-writes"};
    std::string source, original, whole, destination, old;
};

TEST_P(SafeWrites, AFileSizeLimitFailsTheWriteAndLeavesTheDestination) {
    const Writer& w = GetParam();
    const rlim_t limit = std::min<size_t>(whole.size() / 2, 4096);
    const int32_t status = inChild(
        [&] {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit r{limit, limit};
            return setrlimit(RLIMIT_FSIZE, &r) == 0;
        },
        [&] { return w.write(source, destination); });
    EXPECT_NE(status, 0);
    expectUntouched();
}

TEST_P(SafeWrites, AFullFileSystemFailsTheWriteAndLeavesTheDestination) {
    const Writer& w = GetParam();
    // A small file system of its own, mounted in a mount namespace of the child.
    const std::string mount = dir.file("small");
    fs::create_directories(mount);
    const std::string inside = mount + "/destination.out";
    const std::string source = this->source;
    const size_t room = 64 * 1024 + old.size();
    bool prepared = false;
    int32_t status = 0;
    const std::string report = dir.file("after.out");
    status = inChild(
        [&] {
            if (unshare(CLONE_NEWNS) != 0) return false;
            if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
            const std::string options = "size=" + std::to_string(room);
            if (::mount("tmpfs", mount.c_str(), "tmpfs", 0, options.c_str()) != 0) return false;
            testsupport::writeFile(inside, old);
            // Fill what is left.
            FILE* filler = std::fopen((mount + "/filler").c_str(), "wb");
            if (!filler) return false;
            const std::string block(4096, 'x');
            while (std::fwrite(block.data(), 1, block.size(), filler) == block.size() &&
                   std::fflush(filler) == 0)
                ;
            std::fclose(filler);
            return true;
        },
        [&] {
            const int32_t s = w.write(source, inside);
            // The mount goes with the child: what it left is reported through a file outside.
            std::vector<std::string> found;
            for (const auto& e : fs::directory_iterator(mount))
                found.push_back(e.path().filename().string());
            std::sort(found.begin(), found.end());
            std::string names;
            for (const std::string& n : found)
                names += n + "\n";
            testsupport::writeFile(report, testsupport::readFile(inside) + "--\n" + names);
            return s;
        },
        &prepared);
    if (!prepared) GTEST_SKIP() << "no small tmpfs can be mounted here (needs a mount namespace)";
    EXPECT_NE(status, 0);
    EXPECT_EQ(testsupport::readFile(report), old + "--\n" + "destination.out\nfiller\n");
    fs::remove(report);
    EXPECT_EQ(testsupport::readFile(this->source), original);
}

TEST_P(SafeWrites, AReadOnlyFolderFailsTheWrite) {
    const Writer& w = GetParam();
    const std::string folder = dir.file("readonly");
    fs::create_directories(folder);
    const std::string target = folder + "/destination.out";
    testsupport::writeFile(target, old);
    bool prepared = false;
    const int32_t status = inChild(
        [&] {
            // Read-only for root too: a read-only bind mount in a mount namespace of the child.
            if (unshare(CLONE_NEWNS) != 0) return false;
            if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
            if (::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0) return false;
            return ::mount(nullptr, folder.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
        },
        [&] { return w.write(source, target); }, &prepared);
    if (!prepared) {
        // Without mount namespaces, folder permissions (which bind everyone but root).
        if (geteuid() == 0) GTEST_SKIP() << "no read-only folder can be made here";
        fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
        const int32_t s = w.write(source, target);
        fs::permissions(folder, fs::perms::owner_all);
        EXPECT_NE(s, 0);
    } else {
        EXPECT_NE(status, 0);
    }
    EXPECT_EQ(testsupport::readFile(target), old);
    EXPECT_EQ(strays(folder, {"destination.out"}), std::vector<std::string>{});
    EXPECT_EQ(testsupport::readFile(source), original);
}

// The source reached as the destination through its path, a symbolic link and a hard link.
TEST_P(SafeWrites, TheSourceAsDestinationIsRefusedOrRewrittenWhole) {
    const Writer& w = GetParam();
    if (w.updatesInPlace) GTEST_SKIP() << "changes the file it reads by design";
    if (!w.readsSource) GTEST_SKIP() << "writes what it holds in memory: no source file";
    struct Way {
        const char* name;
        std::function<std::string()> make;
    };
    const Way ways[] = {
        {"path", [&] { return source; }},
        {"another path", [&] { return dir.path().string() + "/./source.dcm"; }},
        {"symbolic link",
         [&] {
             const std::string link = dir.file("link.dcm");
             fs::create_symlink(source, link);
             return link;
         }},
        {"hard link",
         [&] {
             const std::string link = dir.file("hard.dcm");
             fs::create_hard_link(source, link);
             return link;
         }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        testsupport::writeFile(source, original);
        const std::string target = way.make();
        const int32_t status = w.write(source, target);
        if (w.rewritesSource && status == 0) {
            // Rewritten whole: the new file, complete, where the link or path leads.
            EXPECT_EQ(testsupport::readFile(target).size(), whole.size());
            std::unique_ptr<KelvoDicomDataTree> again(KelvoDicomDataTree::openFile(target.c_str()));
            ASSERT_TRUE(again);
            EXPECT_EQ(again->readError(), 0);
            if (std::string(way.name) == "symbolic link") {
                EXPECT_TRUE(fs::is_symlink(target));
            }
        } else {
            EXPECT_NE(status, 0);
            EXPECT_EQ(testsupport::readFile(source), original) << "the source changed";
        }
        if (target != source && std::string(way.name) != "another path") fs::remove(target);
        EXPECT_EQ(strays(dir.path().string(), {"source.dcm", "destination.out"}), std::vector<std::string>{});
    }
}

// A writer killed while it writes: the destination is as it was or whole.
TEST_P(SafeWrites, AWriterKilledPartWayLeavesTheDestinationAsItWasOrWhole) {
    const Writer& w = GetParam();
    int outcomes[2] = {0, 0};
    for (int attempt = 0; attempt < 4; ++attempt) {
        testsupport::writeFile(destination, old);
        const pid_t pid = fork();
        if (pid == 0) {
            for (;;)
                w.write(source, destination);
        }
        // Killed once a temporary shows, or after a moment.
        for (int i = 0; i < 2000; ++i) {
            if (strays(dir.path().string(), {"source.dcm", "destination.out"}).size() > 0) break;
            usleep(100);
        }
        usleep(useconds_t(attempt * 300));
        kill(pid, SIGKILL);
        int wstatus = 0;
        waitpid(pid, &wstatus, 0);
        const std::string after = testsupport::readFile(destination);
        const bool asBefore = after == old;
        const bool complete = after.size() == whole.size();
        EXPECT_TRUE(asBefore || complete) << "a destination of " << after.size() << " bytes";
        ++outcomes[asBefore ? 0 : 1];
        EXPECT_EQ(testsupport::readFile(source), original);
        for (const std::string& s : strays(dir.path().string(), {"source.dcm", "destination.out"}))
            fs::remove(dir.file(s)); // the killed writer's temporary
    }
}

INSTANTIATE_TEST_SUITE_P(EveryWriter, SafeWrites, ::testing::ValuesIn(writers()),
                         [](const ::testing::TestParamInfo<Writer>& info) {
                             std::string name;
                             for (const char* c = info.param.name; *c; ++c)
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             return name;
                         });

} // namespace
