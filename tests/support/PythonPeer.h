// Running the Python (numpy/PIL) peers of the tests: a script written once into a scratch folder,
// run with arguments, or run to write a fixture folder.
#pragma once

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace testsupport {

// Writes `source` into the scratch folder as peer.py and gives its path.
inline std::string writePeerScript(const ScratchDir& scratch, const char* source) {
    const std::string path = scratch.file("peer.py");
    writeFile(path, source);
    return path;
}

// Runs the peer script with `arguments`: empty when it succeeds, else what it said (or that it
// failed, when it said nothing).
inline std::string runPeerScript(const std::string& script, const std::string& arguments) {
    int status = -1;
    const std::string said = run("/usr/bin/python3 " + script + " " + arguments + " 2>&1", &status);
    return status == 0 ? std::string() : said.empty() ? std::string("the PIL peer failed") : said;
}

// Writes `source` into the scratch folder and runs it with `command` (if any) and a fresh folder
// "files" to fill with fixtures; that folder, or empty (with what the peer said as a test
// failure) when the peer fails.
inline std::string makePeerFixtures(const ScratchDir& scratch, const char* source,
                                    const std::string& command = std::string()) {
    const std::string script = writePeerScript(scratch, source);
    const std::string dir = scratch.file("files");
    std::filesystem::create_directories(dir);
    int status = -1;
    const std::string said = run(
        "/usr/bin/python3 " + script + " " + (command.empty() ? "" : command + " ") + dir + " 2>&1", &status);
    if (status != 0) ADD_FAILURE() << said;
    return status == 0 ? dir : std::string();
}

} // namespace testsupport
