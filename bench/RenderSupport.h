// What the whole-render benchmarks share: scratch folders, a quiet standard
// error, one render through the host interface and the peak memory of the
// render child.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "task/quorvane.h"

namespace QvBench {

namespace fs = std::filesystem;

// A scratch folder of this process, removed with it.
struct Scratch {
    explicit Scratch(const std::string& name)
        : path(fs::temp_directory_path() / ("qvbench-" + name + "-" + std::to_string(getpid()))) {
        fs::create_directories(path);
    }
    ~Scratch() { fs::remove_all(path); }
    fs::path path;
};

// Standard error of the engine and of ffmpeg would drown the report.
class QuietStderr {
public:
    QuietStderr() : saved_(dup(STDERR_FILENO)) {
        FILE* null = fopen("/dev/null", "w");
        dup2(fileno(null), STDERR_FILENO);
        fclose(null);
    }
    ~QuietStderr() {
        dup2(saved_, STDERR_FILENO);
        close(saved_);
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

private:
    int saved_;
};

// One render through the host interface; true when it ended well. Renders
// running at the same time need keys of their own.
inline bool render(const std::string& folder, const std::string& output, int key) {
    unsigned long handle = 0;
    zr_create_render_process(&handle, folder.c_str(), output.c_str(), key);
    zr_render_process_start(&handle, nullptr);
    const bool ok = std::string(zr_render_process_status(&handle)) == "end";
    zr_render_process_release(&handle);
    return ok;
}

// The largest peak, in KB, of the render children this process has had.
inline long peakChildMemoryKb() {
    struct rusage usage;
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_maxrss;
}

// Runs `renders` in a process of its own, so that the peak of its render
// children alone is measured, not of every child this program had; -1 when
// `renders` fails.
inline long peakInOwnProcessKb(const std::function<bool()>& renders) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const long peak = renders() ? peakChildMemoryKb() : -1;
        _exit(write(fds[1], &peak, sizeof peak) == sizeof peak ? 0 : 1);
    }
    close(fds[1]);
    long peak = -1;
    if (read(fds[0], &peak, sizeof peak) != sizeof peak) peak = -1;
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    return peak;
}

}  // namespace QvBench
