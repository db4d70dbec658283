// sylmark-host: loads the plug-ins and calls one module function or class method by name, with
// its arguments converted by the declaration, then prints the result.
//
//   sylmark-host [OPTIONS] [--plugin PATH]... TARGET [ARGUMENT]...
//   sylmark-host [OPTIONS] [--plugin PATH]... --script FILE
//   OPTIONS: --manual-clock, --desktop
//
// --manual-clock gives the plug-ins clocks that move only while the event loop runs, by the time
// it runs for (App.DoEvents in a script), so that timed work repeats exactly. --desktop runs as a
// desktop application, which also offers the classes that need windows.
//
// TARGET is Module.function or Class.method (Class.Constructor makes an instance). A folderitem
// argument is a path; an argument of another class can only be nil. Without --plugin, the
// companion base plug-in and Sylmark of the same build are loaded.
//
// With --script, FILE (or - for the standard input) holds one statement a line (HostScript.h).
//
// Exit status: 0 when the call or script ran, 1 when a call raised an exception, 2 when it was
// refused (for a script: any other error, or objects left alive at its end).
#include "HostRuntime.h"
#include "HostScript.h"

#include <climits>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void usage() {
    std::fputs(
        "usage: sylmark-host [--manual-clock] [--desktop] [--plugin PATH]... Module.function|Class.method "
        "[ARGUMENT]...\n"
        "       sylmark-host [--manual-clock] [--desktop] [--plugin PATH]... --script FILE|-\n",
        stderr);
}

// The folder of this program, for the plug-ins built beside it.
std::string programFolder() {
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return ".";
    std::string path(buffer, size_t(n));
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> plugins;
    std::string script;
    bool scriptGiven = false;
    bool manualClock = false;
    bool desktop = false;
    int i = 1;
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--plugin") {
            if (i + 1 >= argc) {
                usage();
                return 2;
            }
            plugins.emplace_back(argv[++i]);
        } else if (arg == "--script") {
            if (i + 1 >= argc || scriptGiven) {
                usage();
                return 2;
            }
            script = argv[++i];
            scriptGiven = true;
        } else if (arg == "--manual-clock") {
            manualClock = true;
        } else if (arg == "--desktop") {
            desktop = true;
        } else if (arg == "--help" || arg == "-h") {
            usage();
            return 0;
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
            std::fprintf(stderr, "sylmark-host: unknown option %s\n", arg.c_str());
            usage();
            return 2;
        } else {
            break;
        }
    }
    if (scriptGiven ? i < argc : i >= argc) {
        usage();
        return 2;
    }
    std::ifstream scriptFile;
    if (scriptGiven && script != "-") {
        scriptFile.open(script);
        if (!scriptFile) {
            std::fprintf(stderr, "sylmark-host: cannot read %s\n", script.c_str());
            return 2;
        }
    }
    std::string target = scriptGiven ? std::string() : argv[i++];
    std::vector<std::string> arguments(argv + i, argv + argc);
    if (plugins.empty()) {
        std::string folder = programFolder();
        plugins = {folder + "/companion/libFenraBase.so", folder + "/../plugin/libSylmark.so"};
    }

    int status = 0;
    {
        sylhost::HostRuntime host(!desktop);
        host.useManualClock(manualClock);
        for (const auto& path : plugins) {
            std::string error;
            int index = host.loadPlugin(path, error);
            if (index < 0) {
                std::fprintf(stderr, "sylmark-host: %s\n", error.c_str());
                return 2;
            }
            const auto& info = host.plugins()[size_t(index)];
            for (const auto& m : info.messages)
                std::fprintf(stderr, "sylmark-host: %s: %s\n", path.c_str(), m.c_str());
            for (const auto& p : info.problems)
                std::fprintf(stderr, "sylmark-host: %s: %s\n", path.c_str(), p.c_str());
        }
        if (scriptGiven) {
            status = sylhost::runScript(host, script == "-" ? std::cin : scriptFile, std::cout, std::cerr);
            std::cout.flush();
            return status;
        }
        sylhost::CallOutcome outcome = host.callText(target, arguments);
        if (!outcome.ok) {
            std::fprintf(stderr, "sylmark-host: %s\n", outcome.error.c_str());
            return 2;
        }
        if (outcome.exception.object()) {
            std::string message = host.describe(host.getProperty(outcome.exception, "Message"));
            std::fprintf(stderr, "sylmark-host: %s raised %s%s%s\n", target.c_str(),
                         outcome.exception.className().c_str(), message.empty() ? "" : ": ", message.c_str());
            status = 1;
        }
        if (!outcome.result.isVoid()) std::printf("%s\n", host.describe(outcome.result).c_str());
        for (const auto& [name, value] : outcome.byRefValues)
            std::printf("%s = %s\n", name.c_str(), host.describe(value).c_str());
    }
    std::fflush(stdout);
    return status;
}
