// A scratch folder of a fuzz harness: one per process (workers of one run each get their own),
// removed when the process ends. Harnesses write each input to a file in it, as the code under
// test reads files.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

class FuzzScratch {
  public:
    explicit FuzzScratch(const std::string& prefix)
        : dir_(std::filesystem::temp_directory_path() / (prefix + "-" + std::to_string(getpid()))) {
        std::filesystem::create_directories(dir_);
    }
    ~FuzzScratch() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    FuzzScratch(const FuzzScratch&) = delete;
    FuzzScratch& operator=(const FuzzScratch&) = delete;

    std::string file(const char* name) const { return (dir_ / name).string(); }

    // `size` bytes at `data` as the whole of `path`; false when the file cannot be written.
    static bool write(const std::string& path, const uint8_t* data, size_t size) {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) return false;
        const bool complete = size == 0 || std::fwrite(data, 1, size, f) == size;
        return std::fclose(f) == 0 && complete;
    }

  private:
    std::filesystem::path dir_;
};
