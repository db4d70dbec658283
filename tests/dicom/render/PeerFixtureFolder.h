// A scratch folder of fixtures made once for a test program by the peers: the tools they need, a
// Python script that writes them (given the folder and pydicom's corpus), then commands over what
// it wrote. `problem()` says why they could not be made; empty when they were.
#pragma once

#include "TestFiles.h"

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

class PeerFixtureFolder {
  public:
    explicit PeerFixtureFolder(const std::string& tag) : dir_(tag) {}

    // Each step does nothing once one has failed, so a fixture class can chain them.
    bool require(std::initializer_list<const char*> tools) {
        for (const char* tool : tools)
            if (problem_.empty() && !testsupport::haveCommand(tool)) problem_ = std::string(tool) + " is not installed";
        return problem_.empty();
    }
    bool runScript(const char* source, const std::string& failure) {
        if (!problem_.empty()) return false;
        testsupport::writeFile(dir_.file("make.py"), source);
        int status = 0;
        const std::string log = testsupport::run("/usr/bin/python3 '" + dir_.file("make.py") + "' '" +
                                                     dir_.path().string() + "' '" + testsupport::pydicomTestFiles() +
                                                     "' 2>&1",
                                                 &status);
        if (status != 0) problem_ = failure + ": " + log;
        return problem_.empty();
    }
    // `commands` name the folder's files as "@/name".
    bool runEach(std::initializer_list<std::string> commands) {
        for (std::string command : commands) {
            if (!problem_.empty()) break;
            for (size_t at; (at = command.find("@/")) != std::string::npos;)
                command.replace(at, 2, dir_.path().string() + "/");
            int status = 0;
            const std::string log = testsupport::run(command + " 2>&1", &status);
            if (status != 0) problem_ = command + ": " + log;
        }
        return problem_.empty();
    }

    const std::string& problem() const { return problem_; }
    const testsupport::ScratchDir& dir() const { return dir_; }
    std::string file(const std::string& name) const { return dir_.file(name); }
    std::vector<uint8_t> bytes(const std::string& name) const {
        const std::string s = testsupport::readFile(file(name));
        return std::vector<uint8_t>(s.begin(), s.end());
    }
    // The 32-bit samples a peer wrote as `<base>.values`.
    std::vector<int32_t> values(const std::string& base) const {
        const std::string s = testsupport::readFile(file(base + ".values"));
        std::vector<int32_t> v(s.size() / 4);
        std::memcpy(v.data(), s.data(), v.size() * 4);
        return v;
    }

  private:
    testsupport::ScratchDir dir_;
    std::string problem_;
};
