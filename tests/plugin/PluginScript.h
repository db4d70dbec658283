// Scripts run by the host program with the companion base plug-in and the plug-in under test, as
// a host program uses them; "@CORPUS@" in a script stands for the pydicom corpus folder.
#pragma once

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <string>

namespace plugintest {

struct ScriptRun {
    int status;
    std::string out;
    std::string err;
};

inline void replaceAll(std::string& text, const std::string& mark, const std::string& with) {
    for (size_t at; (at = text.find(mark)) != std::string::npos;)
        text.replace(at, mark.size(), with);
}

// Runs the script from the scratch folder, which also takes what the program writes to its error
// stream.
inline ScriptRun runScript(const testsupport::ScratchDir& dir, std::string text) {
    replaceAll(text, "@CORPUS@", testsupport::pydicomTestFiles());
    testsupport::writeFile(dir.file("script.txt"), text);
    int status = -1;
    std::string out = testsupport::run(std::string(SYLMARK_HOST_PROGRAM) + " --plugin " + FENRA_BASE_PLUGIN +
                                           " --plugin " + PLUGIN_UNDER_TEST + " --script " +
                                           dir.file("script.txt") + " 2>" + dir.file("err"),
                                       &status);
    return ScriptRun{status, out, testsupport::readFile(dir.file("err"))};
}

// What a script that must succeed printed.
inline std::string successfulOutput(const ScriptRun& r) {
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    return r.out;
}

} // namespace plugintest
