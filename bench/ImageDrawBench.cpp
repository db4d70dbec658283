// Decoding and drawing images beside the libraries and tools that do the same work, in one run.
//
// 1. 100 JPEG baseline frames of 512 x 512 (colour 4:2:0 and grey, made by the platform's own
//    encoder) decoded and drawn into a 32-bit world through an image-decompression sequence, as
//    the DICOM frames of those syntaxes are drawn, beside libjpeg-turbo decoding the same
//    codestreams in-process into a buffer of its own (decoding alone), and a memcpy of the
//    world's bytes (the bound that no drawing beats). Targets: colour within 1.5x of
//    libjpeg-turbo, grey within 1.4x.
// 2. A 2048 x 2048 colour BMP made into a DICOM file through the host's FenraImage and
//    FenraDicomImageConverter (the stand-in host running a script), beside DCMTK's
//    `img2dcm -i BMP` of the same file, and a PNG of the same pixels through the host beside
//    img2dcm of the BMP (img2dcm reads no PNG). CPU time (user and system) of whole processes,
//    best of several runs taken in turn; the host's start-up alone is printed too. Targets: the
//    BMP no slower than img2dcm, the PNG within 1.5x.
//
// Figures, not tests: the program prints them and the ratios to their targets.
#include "PlatformCodecEngines.h"
#include "PlatformCodecRegistry.h"
#include "PlatformCompressionSessions.h"
#include "PlatformDecompressionSessions.h"
#include "PlatformGWorlds.h"
#include "PlatformMemory.h"

#include <algorithm>
#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <sys/resource.h>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int16_t kSide = 512;
constexpr int kFrames = 100;
constexpr int kRounds = 7;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A picture with some texture (gradients and a pattern), different in every frame.
platform::codec::Picture framePicture(int frame, int components) {
    platform::codec::Picture p;
    p.width = p.height = kSide;
    p.components = components;
    p.samples.resize(size_t(kSide) * kSide * size_t(components));
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x)
            for (int c = 0; c < components; ++c)
                p.samples[(size_t(y) * kSide + size_t(x)) * size_t(components) + size_t(c)] =
                    uint8_t((x * (c + 1) + y * (3 - c) + frame * 5 + ((x ^ y) & 31)) & 0xFF);
    return p;
}

std::vector<std::vector<uint8_t>> makeFrames(int components) {
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < kFrames; ++i) {
        std::vector<uint8_t> stream;
        platform::codec::EncodeOptions options;
        options.quality = 768;
        if (platform::codec::encode(platform::codec::Format::JPEG, framePicture(i, components), options,
                                    stream) != noErr)
            std::exit(1);
        frames.push_back(std::move(stream));
    }
    return frames;
}

// Ours: every frame through one decompression sequence into a 32-bit world.
double timeOurs(const std::vector<std::vector<uint8_t>>& frames, int components, GWorldPtr world) {
    Handle h = NewHandleClear(sizeof(ImageDescription));
    auto* d = reinterpret_cast<ImageDescription*>(*h);
    d->idSize = sizeof(ImageDescription);
    d->cType = FOUR_CHAR_CODE("jpeg");
    d->width = d->height = kSide;
    d->depth = components == 1 ? 40 : 24;
    d->clutID = -1;
    d->frameCount = 1;
    ImageSequence seq = 0;
    OSErr err = DecompressSequenceBeginS(&seq, reinterpret_cast<ImageDescriptionHandle>(h),
                                         reinterpret_cast<Ptr>(const_cast<uint8_t*>(frames[0].data())),
                                         int32_t(frames[0].size()), world, nullptr, nullptr, nullptr, srcCopy,
                                         nullptr, 0, CodecQ(0x200), anyCodec);
    if (err != noErr) {
        std::fprintf(stderr, "DecompressSequenceBeginS: %d\n", err);
        std::exit(1);
    }
    const auto start = Clock::now();
    for (const auto& f : frames) {
        err = DecompressSequenceFrameS(seq, reinterpret_cast<Ptr>(const_cast<uint8_t*>(f.data())),
                                       int32_t(f.size()), 0, nullptr, nullptr);
        if (err != noErr) {
            std::fprintf(stderr, "DecompressSequenceFrameS: %d\n", err);
            std::exit(1);
        }
    }
    const double t = secondsSince(start);
    CDSequenceEnd(seq);
    DisposeHandle(h);
    return t;
}

struct ErrorJump {
    jpeg_error_mgr pub;
    jmp_buf jump;
};

void jumpOut(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorJump*>(cinfo->err)->jump, 1);
}

// libjpeg-turbo alone: each codestream decoded into a buffer of the picture's layout.
double timeLibjpeg(const std::vector<std::vector<uint8_t>>& frames, int components,
                   std::vector<uint8_t>& out) {
    jpeg_decompress_struct cinfo;
    ErrorJump errors;
    cinfo.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = jumpOut;
    if (setjmp(errors.jump)) {
        std::fprintf(stderr, "libjpeg failed\n");
        std::exit(1);
    }
    jpeg_create_decompress(&cinfo);
    out.resize(size_t(kSide) * kSide * size_t(components));
    const auto start = Clock::now();
    for (const auto& f : frames) {
        jpeg_mem_src(&cinfo, f.data(), static_cast<unsigned long>(f.size()));
        jpeg_read_header(&cinfo, TRUE);
        cinfo.out_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
        jpeg_start_decompress(&cinfo);
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW rows[16];
            const JDIMENSION n = std::min<JDIMENSION>(16, cinfo.output_height - cinfo.output_scanline);
            for (JDIMENSION i = 0; i < n; ++i)
                rows[i] = out.data() + size_t(cinfo.output_scanline + i) * kSide * size_t(components);
            jpeg_read_scanlines(&cinfo, rows, n);
        }
        jpeg_finish_decompress(&cinfo);
    }
    const double t = secondsSince(start);
    jpeg_destroy_decompress(&cinfo);
    return t;
}

double timeMemcpy(GWorldPtr world) {
    PixMapHandle pm = GetGWorldPixMap(world);
    const size_t bytes = size_t(GetPixRowBytes(pm)) * kSide;
    std::vector<uint8_t> from(bytes, 1);
    auto* to = reinterpret_cast<uint8_t*>(GetPixBaseAddr(pm));
    const auto start = Clock::now();
    for (int i = 0; i < kFrames; ++i) {
        from[size_t(i)] = uint8_t(i);
        std::memcpy(to, from.data(), bytes);
    }
    return secondsSince(start);
}

void jpegFigures(int components, double target) {
    const auto frames = makeFrames(components);
    size_t total = 0;
    for (const auto& f : frames)
        total += f.size();
    const Rect bounds{0, 0, kSide, kSide};
    GWorldPtr world = nullptr;
    QTNewGWorld(&world, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0);
    std::vector<uint8_t> theirs;
    double ours = 1e30, lib = 1e30, copy = 1e30;
    for (int r = 0; r < kRounds; ++r) {
        ours = std::min(ours, timeOurs(frames, components, world));
        lib = std::min(lib, timeLibjpeg(frames, components, theirs));
        copy = std::min(copy, timeMemcpy(world));
    }
    // The drawn world holds the last frame: check it against libjpeg's decode of it.
    timeOurs(frames, components, world);
    PixMapHandle pm = GetGWorldPixMap(world);
    const auto* base = reinterpret_cast<const uint8_t*>(GetPixBaseAddr(pm));
    const size_t rowBytes = size_t(GetPixRowBytes(pm));
    size_t differ = 0;
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x)
            for (int c = 0; c < 3; ++c)
                differ += base[size_t(y) * rowBytes + size_t(x) * 4 + 1 + size_t(c)] !=
                          theirs[(size_t(y) * kSide + size_t(x)) * size_t(components) +
                                 size_t(components == 1 ? 0 : c)];
    std::printf("%s JPEG, %d frames of %dx%d, %.1f KiB a frame%s\n", components == 1 ? "Grey" : "Colour",
                kFrames, kSide, kSide, double(total) / kFrames / 1024.0,
                differ ? " (DRAWN PIXELS DIFFER)" : "");
    std::printf("  ours (decoded and drawn into a 32-bit world) %8.2f ms  %7.0f frames/s\n", ours * 1e3,
                kFrames / ours);
    std::printf("  libjpeg-turbo in-process (decoding alone)    %8.2f ms  %7.0f frames/s\n", lib * 1e3,
                kFrames / lib);
    std::printf("  memcpy of the world's bytes (the bound)      %8.2f ms\n", copy * 1e3);
    std::printf("  ours / libjpeg-turbo = %.2f (target %.1f: %s)\n\n", ours / lib, target,
                ours / lib <= target ? "met" : "NOT met");
    DisposeGWorld(world);
}

// ---- image files into DICOM -----------------------------------------------------------------

#ifndef IMAGE_BENCH_HOST
#define IMAGE_BENCH_HOST ""
#define IMAGE_BENCH_BASE_PLUGIN ""
#define IMAGE_BENCH_PLUGIN ""
#endif

// CPU seconds (user and system) of the processes a run of the command waited for.
double childCPUSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) * 1e-6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The least CPU time, whole processes (the shell's few instructions included, alike for both
// sides), of several runs of the command.
double timeCommand(const std::string& command, int rounds) {
    double best = 1e30;
    for (int i = 0; i < rounds; ++i) {
        const double before = childCPUSeconds();
        if (std::system(command.c_str()) != 0) return -1;
        best = std::min(best, childCPUSeconds() - before);
    }
    return best;
}

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

void conversionFigures(const fs::path& dir) {
    if (std::string(IMAGE_BENCH_HOST).empty()) {
        std::printf("Image files into DICOM: the host or its plug-ins were not built; left out\n");
        return;
    }
    if (std::system("command -v img2dcm >/dev/null 2>&1") != 0 ||
        std::system("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") != 0) {
        std::printf("Image files into DICOM: img2dcm (dcmtk) or PIL is missing; left out\n");
        return;
    }
    const fs::path bmp = dir / "image.bmp", png = dir / "image.png";
    const std::string make = "/usr/bin/python3 -c \"import numpy as np; from PIL import Image; "
                             "y, x = np.mgrid[0:2048, 0:2048]; "
                             "a = np.dstack([(x * 3 + y) & 255, (y * 5 + (x ^ y)) & 255, (x + y * 7) & 255])"
                             ".astype(np.uint8); im = Image.fromarray(a, 'RGB'); im.save('" +
                             bmp.string() + "'); im.save('" + png.string() + "')\"";
    if (std::system(make.c_str()) != 0) {
        std::printf("Image files into DICOM: the pictures could not be made; left out\n");
        return;
    }
    const std::string host = std::string(IMAGE_BENCH_HOST) + " --desktop --manual-clock --plugin " +
                             IMAGE_BENCH_BASE_PLUGIN + " --plugin " + IMAGE_BENCH_PLUGIN + " --script ";
    auto script = [&](const std::string& name, const fs::path& image) {
        const fs::path path = dir / (name + ".txt");
        // The attributes of img2dcm's file, so that both write the same 2048 x 2048 RGB frame
        // (alone, the converter fits the image into a default grey frame).
        writeText(path, "t = FenraDicomSystem.openFile(\"" + (dir / "template.dcm").string() +
                            "\")\nimg = FenraImage.Constructor(\"" + image.string() +
                            "\")\nc = FenraDicomImageConverter.Constructor(img)\nc.dicomSource = t\n"
                            "c.convert(\"" + (dir / (name + ".dcm")).string() + "\")\nprint c.errorCode()\n");
        return host + path.string() + " >" + (dir / (name + ".out")).string() + " 2>&1";
    };
    writeText(dir / "empty.txt", "x = 1\n");
    const std::string startup = host + (dir / "empty.txt").string() + " >/dev/null 2>&1";
    const std::string peer = "img2dcm -i BMP '" + bmp.string() + "' '" + (dir / "img2dcm.dcm").string() + "'";
    if (std::system(("img2dcm -i BMP '" + bmp.string() + "' '" + (dir / "template.dcm").string() + "'").c_str()) !=
        0) {
        std::printf("Image files into DICOM: img2dcm failed; left out\n");
        return;
    }
    constexpr int rounds = 9;
    // In turn, so that a busy spell of the machine falls on every side alike.
    const std::string bmpRun = script("bmp", bmp), pngRun = script("png", png);
    double tStart = 1e30, tBmp = 1e30, tPng = 1e30, tPeer = 1e30;
    for (int i = 0; i < rounds && tStart >= 0 && tBmp >= 0 && tPng >= 0 && tPeer >= 0; ++i) {
        tStart = std::min(tStart, timeCommand(startup, 1));
        tBmp = std::min(tBmp, timeCommand(bmpRun, 1));
        tPng = std::min(tPng, timeCommand(pngRun, 1));
        tPeer = std::min(tPeer, timeCommand(peer, 1));
    }
    if (tStart < 0 || tBmp < 0 || tPng < 0 || tPeer < 0) {
        std::printf("Image files into DICOM: a run failed (see %s)\n", dir.string().c_str());
        return;
    }
    std::printf("A 2048x2048 colour image into DICOM, CPU time of whole processes, best of %d\n", rounds);
    std::printf("  host start-up alone                   %8.1f ms\n", tStart * 1e3);
    std::printf("  BMP through FenraImage + converter    %8.1f ms\n", tBmp * 1e3);
    std::printf("  PNG through FenraImage + converter    %8.1f ms\n", tPng * 1e3);
    std::printf("  img2dcm -i BMP                        %8.1f ms\n", tPeer * 1e3);
    std::printf("  BMP: ours / img2dcm = %.2f (target 1.0: %s)\n", tBmp / tPeer,
                tBmp <= tPeer ? "met" : "NOT met");
    std::printf("  PNG: ours / img2dcm of the BMP = %.2f (target 1.5: %s)\n", tPng / tPeer,
                tPng <= 1.5 * tPeer ? "met" : "NOT met");
}

} // namespace

int main(int argc, char** argv) {
    const fs::path dir = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "image-draw-bench";
    fs::create_directories(dir);
    jpegFigures(3, 1.5);
    jpegFigures(1, 1.4);
    conversionFigures(dir);
    return 0;
}
