#include "core/Subprocess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace Quorvane {
namespace Core {

namespace {

// Between fork and exec only async-signal-safe calls: the caller may have
// other threads, whose locks the child's copy would never see released.
[[noreturn]] void execChild(char* const* args, int devNull, int errorPipe, pid_t parent) {
    // A render child that is killed must not leave its ffmpeg running. The
    // signal follows the death of the forking thread, which waits right here.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) _exit(127);
    if (dup2(devNull, STDIN_FILENO) < 0) _exit(127);
    execvp(args[0], args);
    int err = errno;
    ssize_t written;
    do {
        written = write(errorPipe, &err, sizeof err);
    } while (written < 0 && errno == EINTR);
    _exit(127);
}

}  // namespace

int Subprocess::run(const std::vector<std::string>& argv) {
    return run(argv, std::chrono::milliseconds::max(), nullptr);
}

int Subprocess::run(const std::vector<std::string>& argv, std::chrono::milliseconds limit, bool* timedOut) {
    return run(argv, limit, timedOut, Heartbeat());
}

int Subprocess::run(const std::vector<std::string>& argv, std::chrono::milliseconds limit, bool* timedOut,
                    const Heartbeat& heartbeat) {
    if (timedOut) *timedOut = false;
    if (argv.empty() || argv[0].empty()) return -1;
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (devNull < 0) return -1;
    // Closed by a successful exec: a message on it means the program never started.
    int errorPipe[2];
    if (pipe2(errorPipe, O_CLOEXEC) != 0) {
        close(devNull);
        return -1;
    }
    const pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) execChild(args.data(), devNull, errorPipe[1], parent);
    close(devNull);
    close(errorPipe[1]);
    if (pid < 0) {
        close(errorPipe[0]);
        return -1;
    }

    int execError = 0;
    ssize_t got;
    do {
        got = read(errorPipe[0], &execError, sizeof execError);
    } while (got < 0 && errno == EINTR);
    close(errorPipe[0]);

    int status = 0;
    pid_t reaped;
    const bool beats = heartbeat.beat && heartbeat.every.count() > 0;
    if (limit == std::chrono::milliseconds::max() && !beats) {
        do {
            reaped = waitpid(pid, &status, 0);
        } while (reaped < 0 && errno == EINTR);
    } else {
        // Looked at every few milliseconds: a wait that could be interrupted
        // at the deadline would need a signal of the process's own.
        const std::chrono::milliseconds aYear = std::chrono::hours(24 * 366);
        const auto started = std::chrono::steady_clock::now();
        const auto deadline = started + std::min(limit, aYear);
        auto nextBeat = started + std::min(heartbeat.every, aYear);
        const struct timespec pause = {0, 5000000};
        while ((reaped = waitpid(pid, &status, WNOHANG)) == 0 || (reaped < 0 && errno == EINTR)) {
            const auto now = std::chrono::steady_clock::now();
            if (reaped == 0 && beats && now >= nextBeat) {
                heartbeat.beat();
                nextBeat = std::chrono::steady_clock::now() + std::min(heartbeat.every, aYear);
            }
            if (reaped == 0 && now >= deadline) {
                kill(pid, SIGKILL);
                if (timedOut) *timedOut = true;
                do {
                    reaped = waitpid(pid, &status, 0);
                } while (reaped < 0 && errno == EINTR);
                break;
            }
            nanosleep(&pause, nullptr);
        }
    }
    if (reaped != pid || got > 0) return -1;
    return status;
}

int Subprocess::exitCode(int status) {
    if (status == -1 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace Core
}  // namespace Quorvane
