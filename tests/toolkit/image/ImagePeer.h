// What the image tests share: running a numpy/PIL script that writes fixtures and expected values
// into a scratch folder, and reading those files back.
#pragma once

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace imagepeer {

// Writes `script` into the folder and runs it with the folder as its argument; false (with the
// script's output as a test failure) when it does not succeed.
inline bool runPeer(const testsupport::ScratchDir& scratch, const std::string& script) {
    const std::string path = scratch.file("peer.py");
    testsupport::writeFile(path, script);
    int status = -1;
    const std::string said =
        testsupport::run("/usr/bin/python3 " + path + " " + scratch.path().string() + " 2>&1", &status);
    if (status != 0) ADD_FAILURE() << "peer script failed: " << said;
    return status == 0;
}

// The samples of a file the peer wrote with numpy's tofile (host byte order).
template <class T> std::vector<T> samplesOf(const std::string& path) {
    const std::string bytes = testsupport::readFile(path);
    std::vector<T> out(bytes.size() / sizeof(T));
    if (!out.empty()) std::memcpy(out.data(), bytes.data(), out.size() * sizeof(T));
    return out;
}

// Lines "key v1 v2 ..." of a text file, by key.
inline std::map<std::string, std::vector<double>> valuesOf(const std::string& path) {
    std::map<std::string, std::vector<double>> out;
    std::istringstream in(testsupport::readFile(path));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string key;
        if (!(fields >> key)) continue;
        std::vector<double>& values = out[key];
        for (double v; fields >> v;)
            values.push_back(v);
    }
    return out;
}

} // namespace imagepeer
