// Helpers of the render process and render task tests: template folders we
// write ourselves, a recorder for the status callback, and probes for what a
// render may leave behind (children, queues, descriptors, side files).
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <csignal>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "render/Config.h"
#include "support/TestSupport.h"

namespace QvTaskTest {

// A template whose config.json is a FIFO is refused at once. To hold a render
// child before it can say "start", a test has it read the FIFO first, through
// the configuration's test seam: the child blocks in that read until the test
// writes to the FIFO or ends the child.
inline void readFifoBeforeLoad(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISFIFO(st.st_mode)) return;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    char buffer[256];
    while (read(fd, buffer, sizeof buffer) > 0) {
    }
    close(fd);
}

inline void holdChildrenOnFifoConfigs() {
    Quorvane::Core::Config::beforeLoadForTests = readFifoBeforeLoad;
}

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

// Process ids whose parent is this process.
inline std::vector<int> childProcesses() {
    std::vector<int> children;
    DIR* proc = opendir("/proc");
    if (!proc) return children;
    std::string self = std::to_string(getpid());
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

// Whether a message queue exists under the render's queue key.
inline bool queueExists(const std::string& templateFolder, int key) {
    key_t queueKey = ftok(templateFolder.c_str(), key);
    return msgget(queueKey, 0) != -1;
}

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

// Opens the FIFO's write end once a reader has opened it (-1 after five
// seconds): the reader is then blocked in its read.
inline int waitForFifoReader(const std::string& fifo) {
    for (int i = 0; i < 500; ++i) {
        int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) return fd;
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
