// Fixtures of record for the codec tests: frames compressed by DCMTK and pydicom's corpus, with the
// pixels DCMTK decodes from them. They are made once per build tree, at test time.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace codectest {

struct FixtureCase {
    std::string kind; // "jpeg" or "rle"
    std::string name;
    uint32_t rows, columns, samples, bitsAllocated, frames;

    uint32_t frameBytes() const { return rows * columns * samples * (bitsAllocated / 8); }
};

// The folder holding the fixtures, made first when needed (several test processes may ask at
// once: one makes them, the others wait).
const std::filesystem::path& fixtureDir();
std::vector<FixtureCase> fixtureCases(const std::string& kind);

std::vector<uint8_t> readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
// Runs a shell command; true when it exits with 0.
bool run(const std::string& command);

// A lossless JPEG stream wrapped as the encapsulated pixel data of a Part 10 file, one frame.
std::vector<uint8_t> wrapJPEGAsDicom(const std::vector<uint8_t>& stream, uint32_t rows, uint32_t columns,
                                     uint32_t bitsAllocated, uint32_t bitsStored, bool firstOrderPredictor);

} // namespace codectest
