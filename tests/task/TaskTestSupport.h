// Helpers of the render process and render task tests: template folders we
// write ourselves, a recorder for the status callback, and probes for what a
// render may leave behind (children, queues, descriptors, side files).
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <csignal>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "task/RenderChild.h"
#include "task/RenderOutput.h"
#include "task/RenderProcess.h"

namespace QvTaskTest {

// A template whose main composition shows only its background colour.
inline std::string solidTemplateJson(int width, int height, int fps, int frames, const std::string& bg) {
    char text[512];
    snprintf(text, sizeof text,
             "{\"type\":1,\"version\":\"1.0.0\",\"fps\":%d,\"main\":\"main\",\"assets\":[],"
             "\"comps\":[{\"name\":\"main\",\"size\":[%d,%d],\"bg\":\"%s\",\"duration\":%d,\"layers\":[]}]}",
             fps, width, height, bg.c_str(), frames);
    return text;
}

inline std::string writeSolidTemplate(const QvTest::TempDir& dir, const std::string& name, int width,
                                      int height, int fps, int frames, const std::string& bg) {
    std::string folder = dir.file(name) + "/";
    mkdir(folder.c_str(), 0755);
    QvTest::writeFile(folder + "config.json", solidTemplateJson(width, height, fps, frames, bg));
    return folder;
}

// Every status word the library hands to the callback, per handle.
class CallbackRecorder {
public:
    static CallbackRecorder& instance() {
        static CallbackRecorder recorder;
        return recorder;
    }
    static void callback(unsigned long* handle, const char* status) {
        CallbackRecorder& self = instance();
        std::lock_guard<std::mutex> guard(self.lock_);
        self.words_[handle].push_back(status);
    }
    std::vector<std::string> words(unsigned long* handle) {
        std::lock_guard<std::mutex> guard(lock_);
        return words_[handle];
    }
    void clear(unsigned long* handle) {
        std::lock_guard<std::mutex> guard(lock_);
        words_.erase(handle);
    }

private:
    std::mutex lock_;
    std::map<unsigned long*, std::vector<std::string>> words_;
};

// Lets a fixed number of threads pass together.
class Rendezvous {
public:
    explicit Rendezvous(int count) : waiting_(count) {}
    void arriveAndWait() {
        std::unique_lock<std::mutex> guard(lock_);
        if (--waiting_ == 0) all_.notify_all();
        all_.wait(guard, [&] { return waiting_ == 0; });
    }

private:
    std::mutex lock_;
    std::condition_variable all_;
    int waiting_;
};

// Process ids whose parent is `parent` (this process by default).
inline std::vector<int> childProcesses(int parent = getpid()) {
    std::vector<int> children;
    DIR* proc = opendir("/proc");
    if (!proc) return children;
    std::string self = std::to_string(parent);
    while (dirent* entry = readdir(proc)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        std::string stat = QvTest::readFile(std::string("/proc/") + entry->d_name + "/stat");
        size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        // After ") " come the state and the parent pid.
        int ppid = 0;
        char state = 0;
        if (sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && std::to_string(ppid) == self) {
            children.push_back(atoi(entry->d_name));
        }
    }
    closedir(proc);
    return children;
}

inline int openDescriptorCount() {
    int count = 0;
    DIR* fds = opendir("/proc/self/fd");
    if (!fds) return -1;
    while (dirent* entry = readdir(fds)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(fds);
    return count;
}

// The message queue of a started render (read before its release).
inline int renderQueue(unsigned long handle) {
    return reinterpret_cast<const Quorvane::Core::RenderProcessData*>(handle)->queueId;
}

inline bool queueExists(int queueId) {
    struct msqid_ds info;
    return queueId > 0 && msgctl(queueId, IPC_STAT, &info) == 0;
}

// The message queue that process `pid` last sent into or received from (the
// queue of a render whose record we cannot read), or -1.
inline int queueOf(int pid) {
    std::string table = QvTest::readFile("/proc/sysvipc/msg");
    size_t at = table.find('\n');
    while (at != std::string::npos && at + 1 < table.size()) {
        size_t end = table.find('\n', at + 1);
        long long key, id, perms, bytes, count, lastSent, lastReceived;
        if (sscanf(table.c_str() + at + 1, "%lld %lld %llo %lld %lld %lld %lld", &key, &id, &perms, &bytes, &count,
                   &lastSent, &lastReceived) == 7 &&
            (lastSent == pid || lastReceived == pid)) {
            return static_cast<int>(id);
        }
        at = end;
    }
    return -1;
}

inline bool queueUsedBy(int pid) {
    return queueOf(pid) >= 0;
}

// The names in a folder but "." and "..", sorted.
inline std::vector<std::string> folderEntries(const std::string& path) {
    std::vector<std::string> names;
    DIR* folder = opendir(path.c_str());
    if (!folder) return names;
    while (dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(folder);
    std::sort(names.begin(), names.end());
    return names;
}

// Whether a render left a work folder (RenderOutput) beside `output`.
inline bool workFolderLeft(const std::string& output) {
    const std::string base = Quorvane::Core::RenderOutput::baseNameOf(output);
    const size_t slash = output.rfind('/');
    const std::string prefix = "." + base + ".", suffix = ".render";
    for (const std::string& name : folderEntries(slash == std::string::npos ? "." : output.substr(0, slash + 1))) {
        if (name.size() > prefix.size() + suffix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            return true;
    }
    return false;
}

// Holds every render child forked meanwhile where it would build its task (as
// one hung before "start" would be), until release() or the end of the scope.
class ChildHold {
public:
    ChildHold() {
        if (pipe2(fds_, O_CLOEXEC) != 0) fds_[0] = fds_[1] = -1;
        if (pipe2(held_, O_CLOEXEC) != 0) held_[0] = held_[1] = -1;
        readFd() = fds_[0];
        writeFd() = fds_[1];
        heldFd() = held_[1];
        Quorvane::Core::RenderChildHoldForTesting = &hold;
    }
    ~ChildHold() {
        Quorvane::Core::RenderChildHoldForTesting = nullptr;
        release();
        for (int fd : {fds_[0], held_[0], held_[1]}) {
            if (fd >= 0) close(fd);
        }
    }
    // Waits (at most five seconds) until a child is held: its signal handling
    // is then in place.
    bool waitUntilHeld() {
        struct pollfd poller = {held_[0], POLLIN, 0};
        char byte;
        return poll(&poller, 1, 5000) == 1 && read(held_[0], &byte, 1) == 1;
    }
    void release() {
        if (fds_[1] >= 0) close(fds_[1]);
        fds_[1] = -1;
    }

private:
    static int& readFd() {
        static int fd = -1;
        return fd;
    }
    static int& writeFd() {
        static int fd = -1;
        return fd;
    }
    static int& heldFd() {
        static int fd = -1;
        return fd;
    }
    // In the child: its copy of the write end would keep the pipe open for ever.
    static void hold() {
        close(writeFd());
        char byte = 'h';
        if (write(heldFd(), &byte, 1) != 1) return;
        while (read(readFd(), &byte, 1) < 0 && errno == EINTR) {
        }
    }
    int fds_[2];
    int held_[2];
};

// Sends everything written to standard error (by this process and by children
// forked meanwhile) into a file until stop().
using StderrCapture = QvTest::StderrRedirect;

// Waits until exactly one child of this process exists and returns it (-1
// after four seconds).
inline int waitForOneChild() {
    for (int i = 0; i < 400; ++i) {
        std::vector<int> children = childProcesses();
        if (children.size() == 1) return children[0];
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

// A host thread running a blocking start; should a check fail half-way, the
// children are killed and the thread joined rather than left behind.
class HostThread {
public:
    template <typename Body>
    explicit HostThread(Body body) : thread_(body) {}
    ~HostThread() {
        if (!thread_.joinable()) return;
        for (int child : childProcesses()) kill(child, SIGKILL);
        thread_.join();
    }
    void join() { thread_.join(); }

private:
    std::thread thread_;
};

}  // namespace QvTaskTest
