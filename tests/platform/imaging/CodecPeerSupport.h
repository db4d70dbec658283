// What the codec tests share: pictures to and from the Netpbm files that the image peers read and
// write, whole-file bytes, and the frames of the pydicom corpus extracted for a transfer syntax.
#pragma once

#include "PlatformCodecEngines.h"
#include "TestFiles.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace codectest {

using platform::codec::Picture;

inline std::vector<uint8_t> bytesOf(const std::string& path) {
    std::string s = testsupport::readFile(path);
    return std::vector<uint8_t>(s.begin(), s.end());
}

inline void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    testsupport::writeFile(path, std::string(bytes.begin(), bytes.end()));
}

// Reads a binary PGM or PPM (P5, P6; maxval up to 65535, 16-bit samples big-endian as Netpbm
// stores them) into a picture; an empty picture when the file is not one.
inline Picture readPnm(const std::string& path) {
    std::string s = testsupport::readFile(path);
    Picture p;
    size_t at = 0;
    auto token = [&]() -> long {
        while (at < s.size()) {
            if (s[at] == '#') {
                while (at < s.size() && s[at] != '\n')
                    ++at;
            } else if (std::isspace(static_cast<unsigned char>(s[at]))) {
                ++at;
            } else {
                break;
            }
        }
        long v = 0;
        bool any = false;
        while (at < s.size() && s[at] >= '0' && s[at] <= '9')
            v = v * 10 + (s[at++] - '0'), any = true;
        return any ? v : -1;
    };
    if (s.size() < 2 || s[0] != 'P' || (s[1] != '5' && s[1] != '6')) return Picture();
    int components = s[1] == '5' ? 1 : 3;
    at = 2;
    long w = token(), h = token(), maxval = token();
    if (w <= 0 || h <= 0 || maxval <= 0 || maxval > 65535) return Picture();
    ++at; // the single whitespace before the samples
    int bytes = maxval > 255 ? 2 : 1;
    size_t count = size_t(w) * size_t(h) * size_t(components);
    if (s.size() < at + count * size_t(bytes)) return Picture();
    p.width = int32_t(w);
    p.height = int32_t(h);
    p.components = components;
    p.bitsPerSample = bytes * 8;
    int precision = 0;
    while ((1L << precision) - 1 < maxval)
        ++precision;
    p.precision = precision;
    p.samples.resize(count * size_t(bytes));
    if (bytes == 1) {
        std::memcpy(p.samples.data(), s.data() + at, count);
    } else {
        uint16_t* out = reinterpret_cast<uint16_t*>(p.samples.data());
        for (size_t i = 0; i < count; ++i)
            out[i] = uint16_t(uint8_t(s[at + 2 * i]) << 8 | uint8_t(s[at + 2 * i + 1]));
    }
    return p;
}

// Writes a grey or RGB picture as PGM or PPM, maxval from its precision.
inline void writePnm(const std::string& path, const Picture& p) {
    std::string out = std::string(p.components == 1 ? "P5" : "P6") + "\n" + std::to_string(p.width) + " " +
                      std::to_string(p.height) + "\n" + std::to_string((1L << p.precision) - 1) + "\n";
    if (p.bitsPerSample == 8) {
        out.append(p.samples.begin(), p.samples.end());
    } else {
        const uint16_t* in = reinterpret_cast<const uint16_t*>(p.samples.data());
        for (size_t i = 0; i < p.samples.size() / 2; ++i)
            out += char(in[i] >> 8), out += char(in[i] & 0xFF);
    }
    testsupport::writeFile(path, out);
}

// The sample at index i (component-interleaved) of a picture of either storage.
inline uint32_t sampleAt(const Picture& p, size_t i) {
    if (p.bitsPerSample == 8) return p.samples[i];
    uint16_t v;
    std::memcpy(&v, p.samples.data() + 2 * i, 2);
    return v;
}

// Extracts every frame of the pydicom corpus files whose transfer syntax is one of `syntaxes`
// into `folder` as <file>.<frame>.bin, and returns their paths. Frames come from pydicom, an
// independent reader, so that these tests do not lean on our own DICOM layer.
inline std::vector<std::string> corpusFrames(const std::string& folder,
                                             const std::vector<std::string>& syntaxes) {
    std::string script = folder + "/extract.py";
    testsupport::writeFile(script, R"(import os, sys, warnings
warnings.simplefilter("ignore")
import pydicom
from pydicom.encaps import generate_pixel_data_frame
corpus, out, syntaxes = sys.argv[1], sys.argv[2], set(sys.argv[3:])
for name in sorted(os.listdir(corpus)):
    path = os.path.join(corpus, name)
    if not os.path.isfile(path):
        continue
    try:
        ds = pydicom.dcmread(path)
        syntax = ds.file_meta.TransferSyntaxUID
    except Exception:
        continue
    if syntax not in syntaxes or "PixelData" not in ds:
        continue
    frames = int(ds.get("NumberOfFrames", 1) or 1)
    for i, frame in enumerate(generate_pixel_data_frame(ds.PixelData, frames)):
        target = os.path.join(out, "%s.%d.bin" % (name[:-4], i))
        with open(target, "wb") as f:
            f.write(frame)
        print(target)
)");
    std::string command = "/usr/bin/python3 " + script + " " + testsupport::pydicomTestFiles() + " " + folder;
    for (const std::string& s : syntaxes)
        command += " " + s;
    std::string listing = testsupport::run(command + " 2>/dev/null");
    std::vector<std::string> paths;
    size_t start = 0;
    for (size_t end; (end = listing.find('\n', start)) != std::string::npos; start = end + 1)
        paths.push_back(listing.substr(start, end - start));
    return paths;
}

inline std::string baseName(const std::string& path) {
    return path.substr(path.find_last_of('/') + 1);
}

} // namespace codectest
