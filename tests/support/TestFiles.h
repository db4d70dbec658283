// Helpers shared by tests: scratch folders, reading and writing whole files, and running the
// test-time peers.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>

namespace testsupport {

// A fresh folder under the system's temporary folder, removed when the object goes.
class ScratchDir {
  public:
    explicit ScratchDir(const std::string& tag) {
        static int serial = 0;
        path_ = std::filesystem::temp_directory_path() /
                (tag + "-" + std::to_string(getpid()) + "-" + std::to_string(serial++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() { std::filesystem::remove_all(path_); }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

// Runs a shell command and returns its standard output; `status` receives its exit status.
inline std::string run(const std::string& command, int* status = nullptr) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) {
        if (status) *status = -1;
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    int rc = pclose(p);
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

// Whether the shell finds the command, as a test-time peer that may be missing.
inline bool haveCommand(const std::string& name) {
    int status = -1;
    run("command -v '" + name + "' >/dev/null 2>&1", &status);
    return status == 0;
}

// The key=value lines of a peer's report (as ffprobe prints them), by key; other lines are passed
// over.
inline std::map<std::string, std::string> keyValues(const std::string& report) {
    std::map<std::string, std::string> values;
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

// What a writer of C streams writes, as bytes.
template <class F> std::string capture(F&& print) {
    FILE* f = std::tmpfile();
    print(f);
    std::rewind(f);
    std::string out;
    for (int c; (c = std::fgetc(f)) != EOF;)
        out += char(c);
    std::fclose(f);
    return out;
}

// A folder of the build tree for fixtures derived at run time, made on first use.
inline std::string derivedFixtures(const std::string& name) {
    std::filesystem::path folder = std::filesystem::path(SYLMARK_TEST_FIXTURES) / name;
    std::filesystem::create_directories(folder);
    return folder.string();
}

// Derived fixtures are shared by test programs that run side by side: each is made under a name
// of its own process (`draftOf`) and then renamed into place (`publish`), so no program reads a
// file another one is still writing.
inline std::string draftOf(const std::string& path) {
    return path + "." + std::to_string(getpid()) + ".part";
}

inline bool publish(const std::string& draft, const std::string& path) {
    std::error_code error;
    std::filesystem::rename(draft, path, error);
    return !error;
}

inline const char* pydicomTestFiles() {
    return "/usr/lib/python3/dist-packages/pydicom/data/test_files";
}

} // namespace testsupport
