// Memory that a file's header asks for but its data cannot fill: pydicom's small MR image, native,
// RLE (as in pydicom's corpus) and lossless JPEG (dcmcjpeg +e1), its colour JPEG baseline and
// JPEG 2000 images, each with Rows and Columns set to 16384 at test time, so that a frame would
// be 512 MB that a few kilobytes of data claim to fill. One JPEG also has its frame header say
// 16384 x 16384: its 3 kB of entropy-coded data cannot code that many blocks. (A JPEG 2000
// codestream has no such bound: a few bytes code a constant picture of any size, so its header
// agreeing with the description is all that can be asked of it.)
// Each is opened and presented in a child process of its own: it must answer a status, never
// abort, with a peak resident memory under 256 MB, and (outside AddressSanitizer, which reserves
// terabytes of address space) within 600 MB of address space.
#include "KelvoDicomDataTree.h"
#include "KelvoDicomVideoPresentation.h"
#include "PeerFixtureFolder.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#define PRESENTATION_MEMORY_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PRESENTATION_MEMORY_ASAN 1
#endif
#endif

namespace {

const char* const kLyingScript = R"PY(
import sys, os, struct, subprocess
import pydicom
out, corpus = sys.argv[1], sys.argv[2]
mr = os.path.join(corpus, 'MR_small.dcm')
subprocess.run(['dcmcjpeg', '+e1', mr, os.path.join(out, 'jpll.dcm')], check=True)
def sof(pixels):
    # Baseline frame header: length, precision, then lines and samples a line.
    i = pixels.find(b'\xff\xc0')
    struct.pack_into('>HH', pixels, i + 5, 16384, 16384)
cases = (('native', mr, None), ('rle', os.path.join(corpus, 'MR_small_RLE.dcm'), None),
         ('jpll', os.path.join(out, 'jpll.dcm'), None),
         ('jpeg', os.path.join(corpus, 'SC_rgb_jpeg_dcmtk.dcm'), None),
         ('jpeg_sof', os.path.join(corpus, 'SC_rgb_jpeg_dcmtk.dcm'), sof),
         ('j2k', os.path.join(corpus, 'MR_small_jp2klossless.dcm'), None),
         ('j2k_rgb', os.path.join(corpus, 'GDCMJ2K_TextGBR.dcm'), None))
for name, source, patch in cases:
    ds = pydicom.dcmread(source)
    ds.Rows = ds.Columns = 16384
    if patch:
        pixels = bytearray(ds.PixelData)
        patch(pixels)
        ds.PixelData = bytes(pixels)
    ds.save_as(os.path.join(out, name + '-lying-16384x16384.dcm'))
)PY";

class LyingFiles {
  public:
    static LyingFiles& get() {
        static LyingFiles f;
        return f;
    }
    std::string file(const std::string& name) const { return folder_.file(name + "-lying-16384x16384.dcm"); }
    const std::string& skip() const { return folder_.problem(); }

  private:
    LyingFiles() : folder_("presentation-lying-sizes") {
        folder_.require({"dcmcjpeg"});
        folder_.runScript(kLyingScript, "the lying files could not be made");
    }
    PeerFixtureFolder folder_;
};

struct ChildAnswer {
    bool exited = false; // a normal exit, not a signal
    int32_t status = 0;  // the presentation's (or the document's) status
    bool valid = false;
    double peakMB = 0;
};

// Opens `path` and makes its presentation in a child process.
ChildAnswer presentInChild(const std::string& path) {
    ChildAnswer answer;
    int fds[2];
    if (pipe(fds) != 0) return answer;
    const pid_t pid = fork();
    if (pid < 0) return answer;
    if (pid == 0) {
        close(fds[0]);
#ifndef PRESENTATION_MEMORY_ASAN
        struct rlimit limit {};
        limit.rlim_cur = limit.rlim_max = rlim_t(600) << 20;
        setrlimit(RLIMIT_AS, &limit);
#endif
        int32_t out[2] = {-1, 0};
        std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(path.c_str()));
        if (tree && tree->isA("KelvoDicomDocument")) {
            std::unique_ptr<KelvoDicomVideoPresentation> p(
                static_cast<KelvoDicomDocument*>(tree.get())->dataDisplay());
            if (p) {
                out[0] = p->Error();
                out[1] = p->qtObjIsValid() ? 1 : 0;
            } else {
                out[0] = tree->Error();
            }
        }
        const ssize_t written = write(fds[1], out, sizeof out);
        _exit(written == ssize_t(sizeof out) ? 0 : 3);
    }
    close(fds[1]);
    int32_t in[2] = {0, 0};
    const bool got = read(fds[0], in, sizeof in) == ssize_t(sizeof in);
    close(fds[0]);
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid) return answer;
    answer.exited = got && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    answer.status = in[0];
    answer.valid = in[1] != 0;
    answer.peakMB = double(usage.ru_maxrss) / 1024.0;
    return answer;
}

class PresentationMemory : public ::testing::TestWithParam<const char*> {};

TEST_P(PresentationMemory, AFrameTheDataCannotFillIsAStatusNotAnAllocation) {
    if (!LyingFiles::get().skip().empty()) GTEST_SKIP() << LyingFiles::get().skip();
    const ChildAnswer a = presentInChild(LyingFiles::get().file(GetParam()));
    EXPECT_TRUE(a.exited) << "the child did not answer: it aborted or was killed";
    EXPECT_NE(a.status, 0) << "a frame no data fills was accepted";
    EXPECT_FALSE(a.valid);
    EXPECT_LT(a.peakMB, 256.0);
    std::printf("%-8s status %d, peak %.1f MB\n", GetParam(), a.status, a.peakMB);
}

INSTANTIATE_TEST_SUITE_P(Encodings, PresentationMemory,
                         ::testing::Values("native", "rle", "jpll", "jpeg", "jpeg_sof", "j2k", "j2k_rgb"));

} // namespace
