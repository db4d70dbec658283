#include "CodecFixtures.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/file.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace codectest {

namespace {

bool upToDate(const fs::path& manifest) {
    std::error_code ec;
    if (!fs::exists(manifest, ec)) return false;
    return fs::last_write_time(manifest, ec) >= fs::last_write_time(CODEC_FIXTURE_SCRIPT, ec);
}

fs::path makeFixtures() {
    const fs::path dir = CODEC_FIXTURE_DIR;
    fs::create_directories(dir);
    const fs::path manifest = dir / "manifest.txt";
    const int lock = ::open((dir / ".lock").c_str(), O_CREAT | O_RDWR, 0644);
    if (lock >= 0) ::flock(lock, LOCK_EX);
    if (!upToDate(manifest)) {
        const std::string command = std::string("/usr/bin/python3 ") + CODEC_FIXTURE_SCRIPT + " '" +
                                    dir.string() + "' '" + CODEC_PYDICOM_CORPUS + "' >'" +
                                    (dir / "make.log").string() + "' 2>&1";
        if (!run(command))
            std::fprintf(stderr, "making the codec fixtures failed: see %s\n", (dir / "make.log").c_str());
    }
    if (lock >= 0) {
        ::flock(lock, LOCK_UN);
        ::close(lock);
    }
    return dir;
}

void put16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}
void put32(std::vector<uint8_t>& v, uint32_t x) {
    put16(v, x & 0xFFFF);
    put16(v, x >> 16);
}
void tag(std::vector<uint8_t>& v, uint16_t group, uint16_t element) {
    put16(v, group);
    put16(v, element);
}
// Explicit VR little endian element with a short (16-bit) length.
void shortElement(std::vector<uint8_t>& v, uint16_t group, uint16_t element, const char* vr,
                  std::string value) {
    if (value.size() & 1) value.push_back(vr[0] == 'U' && vr[1] == 'I' ? '\0' : ' ');
    tag(v, group, element);
    v.push_back(uint8_t(vr[0]));
    v.push_back(uint8_t(vr[1]));
    put16(v, uint32_t(value.size()));
    v.insert(v.end(), value.begin(), value.end());
}
void usElement(std::vector<uint8_t>& v, uint16_t group, uint16_t element, uint16_t value) {
    std::string s(2, '\0');
    s[0] = char(value & 0xFF);
    s[1] = char(value >> 8);
    shortElement(v, group, element, "US", s);
}

} // namespace

const fs::path& fixtureDir() {
    static const fs::path dir = makeFixtures();
    return dir;
}

std::vector<FixtureCase> fixtureCases(const std::string& kind) {
    std::vector<FixtureCase> cases;
    std::ifstream in(fixtureDir() / "manifest.txt");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        FixtureCase c;
        if (fields >> c.kind >> c.name >> c.rows >> c.columns >> c.samples >> c.bitsAllocated >> c.frames &&
            c.kind == kind)
            cases.push_back(c);
    }
    return cases;
}

std::vector<uint8_t> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

bool run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

std::vector<uint8_t> wrapJPEGAsDicom(const std::vector<uint8_t>& stream, uint32_t rows, uint32_t columns,
                                     uint32_t bitsAllocated, uint32_t bitsStored, bool firstOrderPredictor) {
    const std::string sopClass = "1.2.840.10008.5.1.4.1.1.7";
    const std::string instance = "1.2.826.0.1.3680043.8.498.2";
    const std::string syntax = firstOrderPredictor ? "1.2.840.10008.1.2.4.70" : "1.2.840.10008.1.2.4.57";

    std::vector<uint8_t> meta;
    tag(meta, 0x0002, 0x0001);
    meta.insert(meta.end(), {'O', 'B', 0, 0});
    put32(meta, 2);
    meta.insert(meta.end(), {0, 1});
    shortElement(meta, 0x0002, 0x0002, "UI", sopClass);
    shortElement(meta, 0x0002, 0x0003, "UI", instance);
    shortElement(meta, 0x0002, 0x0010, "UI", syntax);
    shortElement(meta, 0x0002, 0x0012, "UI", "1.2.826.0.1.3680043.8.498.3");

    std::vector<uint8_t> file(128, 0);
    file.insert(file.end(), {'D', 'I', 'C', 'M'});
    tag(file, 0x0002, 0x0000);
    file.insert(file.end(), {'U', 'L', 4, 0});
    put32(file, uint32_t(meta.size()));
    file.insert(file.end(), meta.begin(), meta.end());

    shortElement(file, 0x0008, 0x0016, "UI", sopClass);
    shortElement(file, 0x0008, 0x0018, "UI", instance);
    shortElement(file, 0x0008, 0x0060, "CS", "OT");
    usElement(file, 0x0028, 0x0002, 1);
    shortElement(file, 0x0028, 0x0004, "CS", "MONOCHROME2");
    usElement(file, 0x0028, 0x0010, uint16_t(rows));
    usElement(file, 0x0028, 0x0011, uint16_t(columns));
    usElement(file, 0x0028, 0x0100, uint16_t(bitsAllocated));
    usElement(file, 0x0028, 0x0101, uint16_t(bitsStored));
    usElement(file, 0x0028, 0x0102, uint16_t(bitsStored - 1));
    usElement(file, 0x0028, 0x0103, 0);

    tag(file, 0x7FE0, 0x0010);
    file.insert(file.end(), {'O', 'B', 0, 0});
    put32(file, 0xFFFFFFFF);
    tag(file, 0xFFFE, 0xE000); // empty offset table
    put32(file, 0);
    tag(file, 0xFFFE, 0xE000);
    put32(file, uint32_t(stream.size()));
    file.insert(file.end(), stream.begin(), stream.end());
    tag(file, 0xFFFE, 0xE0DD);
    put32(file, 0);
    return file;
}

} // namespace codectest
