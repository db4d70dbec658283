// Time and peak resident memory of a piece of work run in a child process of its own (fork,
// exec, wait4), so that the peak is that of the work alone and not of the benchmark around it.
// Shared by the memory benchmarks, header only.
#pragma once

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace benchchild {

struct Measure {
    bool ok = false;
    double seconds = 0;
    double peakMB = 0;
    bool timedOut = false; // killed when its time was up: `seconds` is then the limit
};

namespace detail {

// Waits until the child ends or `limit` seconds have passed; false when the time is up. The
// wait is on a descriptor of the process, so the child's own end is seen at once, not at the
// next tick of a polling loop. Without one (a kernel before 5.3) it waits for the end.
inline bool awaitEnd(pid_t pid, double limit) {
    const int fd = int(syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0) return true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(limit);
    bool ended = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        const int r = poll(&p, 1, int(left.count()));
        if (r > 0) {
            ended = true;
            break;
        }
        if (r < 0 && errno != EINTR) {
            ended = true; // cannot wait with a limit: wait for the end instead
            break;
        }
    }
    close(fd);
    return ended;
}

} // namespace detail

// Which of the child's streams go to the output file; what is not redirected stays on ours.
enum class Streams { outputOnly, outputAndErrors };

// Runs `args` (args[0] looked up on the PATH) in a child whose standard output, and with
// Streams::outputAndErrors its error stream too, goes to `output`, and measures it. `ok` is set
// only when the child exits with status 0. With a time limit (seconds, 0 for none) a child still
// running when it is up is killed and the measure says so.
inline Measure measure(const std::vector<std::string>& args, const std::string& output,
                       Streams streams = Streams::outputOnly, double timeLimit = 0) {
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
    if (timeLimit > 0 && !detail::awaitEnd(pid, timeLimit)) {
        kill(pid, SIGKILL);
        m.timedOut = true;
    }
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid) return m;
    m.seconds = m.timedOut ? timeLimit
                           : std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.peakMB = double(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
    m.ok = !m.timedOut && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return m;
}

// The first line of a child's output file (its answer, or the first word of its failure).
inline std::string firstLineOf(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

} // namespace benchchild
