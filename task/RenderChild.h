// What the video and the still-image render processes share around their
// forked child: the fork gate, the child's output, its signal handling and its
// exit.
#pragma once

#include <sys/types.h>

#include <shared_mutex>

namespace Quorvane {
namespace Core {

// fork copies only the calling thread: a lock that another thread holds at
// that moment (the allocator's, the time zone's, the thread registry's) stays
// locked for ever in the child, which then hangs. So every stretch of
// parent-side work of the library's threads (logging, allocating, callbacks,
// starting and joining threads) holds this gate shared, and every render fork
// holds it alone.
std::shared_mutex& RenderForkGate();

// Holds the gate shared. A thread already inside the gate (a host callback
// calling back into the library) passes through without locking again.
class RenderForkGateShared {
public:
    explicit RenderForkGateShared(std::shared_mutex& gate) : gate_(gate) { lock(); }
    ~RenderForkGateShared() {
        if (held_) unlock();
    }
    RenderForkGateShared(const RenderForkGateShared&) = delete;
    RenderForkGateShared& operator=(const RenderForkGateShared&) = delete;
    void lock();
    void unlock();

private:
    std::shared_mutex& gate_;
    bool held_ = false;
};

// True on a thread that holds the gate: a fork there would wait for itself,
// so a render start must be refused.
bool InsideRenderForkGate();

// First thing in a freshly forked child: output the host buffered before the
// fork belongs to the parent, and the child's own chatter goes to standard
// error, never into the host's standard output.
void DetachChildOutput();

// Sets shutdown_handler to the crash reporter of child `pid` and installs
// signal_handler for SIGHUP, SIGTERM and SIGABRT, then asks for SIGHUP when the
// parent (`parentPid`) dies. The reporter logs "Child receive signo  pid  %d,
// signo = %d"; with `reportsToQueue` it then sends "crash" into the queue given
// by SetChildCrashQueue (logging the send and a failed send). It ends the
// child with exit code 1.
void InstallChildSignalHandling(int pid, pid_t parentPid, bool reportsToQueue);
void SetChildCrashQueue(int queueId);

// Ends the child with `code` after flushing its output. The host's atexit
// handlers and static destructors belong to the parent and do not run.
[[noreturn]] void ChildExit(int code);

}  // namespace Core
}  // namespace Quorvane
