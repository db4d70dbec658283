// Time and peak resident memory of a piece of work run in a child process of its own (fork,
// exec, wait4), so that the peak is that of the work alone and not of the benchmark around it.
// Shared by the memory benchmarks, header only.
#pragma once

#include <chrono>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace benchchild {

struct Measure {
    bool ok = false;
    double seconds = 0;
    double peakMB = 0;
};

// Which of the child's streams go to the output file; what is not redirected stays on ours.
enum class Streams { outputOnly, outputAndErrors };

// Runs `args` (args[0] looked up on the PATH) in a child whose standard output, and with
// Streams::outputAndErrors its error stream too, goes to `output`, and measures it. `ok` is set
// only when the child exits with status 0.
inline Measure measure(const std::vector<std::string>& args, const std::string& output,
                       Streams streams = Streams::outputOnly) {
    Measure m;
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) return m;
    if (pid == 0) {
        const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, STDOUT_FILENO);
            if (streams == Streams::outputAndErrors) dup2(fd, STDERR_FILENO);
            close(fd);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid) return m;
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.peakMB = double(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
    m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return m;
}

} // namespace benchchild
