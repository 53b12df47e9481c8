// What the video and the still-image render processes share around their
// forked child: the fork gate, the child's output, its signal handling and its
// exit.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

namespace Quorvane {
namespace Core {

// fork copies only the calling thread: a lock that another thread holds at
// that moment (the allocator's, the time zone's, the thread registry's) stays
// locked for ever in the child, which then hangs. So every stretch of
// parent-side work of the library's threads (logging, allocating, callbacks,
// starting and joining threads) holds this gate shared, and every render fork
// holds it alone.
//
// The library's locks, outermost first; a thread takes them only in this order:
//   1. the fork gate (RenderForkGate);
//   2. the host-language family's registry lock (HostEntry);
//   3. RenderRecordLock;
//   4. a video record's infoLock, or a video start's session lock.
// None of 2-4 is held while waiting for a thread, a child or the gate. A
// thread that holds the gate shared never waits for one that has yet to enter
// it (a start lets its watchdog finish before it joins it under the gate);
// only host code run from a callback might, which the gate's pass resolves.
//
// A fork waiting for the gate goes ahead of every thread that comes to hold it
// shared afterwards, so that threads holding it shared in turn (a host reading
// status without a pause from several threads) cannot keep a start from ever
// forking. A thread inside the gate enters again at once (RenderForkGateShared),
// whatever waits.
class RenderForkGateLock {
public:
    void lock_shared();
    void unlock_shared();
    void lock();
    void unlock();

    // How long a fork that cannot get in waits before it lets in the threads
    // that were waiting behind it: one of them may be what a holder waits for
    // (a callback of the host waiting for another of its threads' calls).
    static constexpr std::chrono::milliseconds kPass{20};

    // Whether a fork waits to get in; for tests.
    bool forkWaitingForTesting();

private:
    std::mutex lock_;
    std::condition_variable changed_;
    int holders_ = 0;
    int forksWaiting_ = 0;
    bool forking_ = false;
    // Counts the passes: a thread waiting since before the last one may enter
    // while a fork waits.
    unsigned long passes_ = 0;
};

RenderForkGateLock& RenderForkGate();

// Holds the gate shared. A thread already inside the gate (a host callback
// calling back into the library) passes through without locking again.
class RenderForkGateShared {
public:
    explicit RenderForkGateShared(RenderForkGateLock& gate) : gate_(gate) { lock(); }
    ~RenderForkGateShared() {
        if (held_) unlock();
    }
    RenderForkGateShared(const RenderForkGateShared&) = delete;
    RenderForkGateShared& operator=(const RenderForkGateShared&) = delete;
    void lock();
    void unlock();

private:
    RenderForkGateLock& gate_;
    bool held_ = false;
};

// True on a thread that holds the gate: a fork there would wait for itself,
// so a render start must be refused.
bool InsideRenderForkGate();

// Host calls on a record (video or still image) against a start of it that
// returns, and a release deferred meanwhile, on other threads. Every host call
// reads the host's slot and works on the record it names under this lock
// (lookups, reads of status, progress and information, setters, a start's
// claim and its copy of the options). A release while a start of the record
// runs only clears the slot and marks the record; that start frees it when it
// returns.
std::mutex& RenderRecordLock();

// A start's claim on its record, guarded by RenderRecordLock.
struct RenderStartClaim {
    bool running = false;
    // Read without the lock too (no callback reaches a host that released).
    std::atomic<bool> releaseRequested{false};
};

// The record a host's slot names, or null; under RenderRecordLock.
template <typename Record>
Record* RecordInSlot(unsigned long* slot) {
    if (!slot || *slot == 0) return nullptr;
    return reinterpret_cast<Record*>(*slot);
}

// Under RenderRecordLock: claims the record for a start; false when a start
// of it runs already.
bool ClaimRenderStart(RenderStartClaim& claim);
// Takes RenderRecordLock: ends the claim. True when the record was released
// meanwhile: the caller, whose start has returned, frees it.
bool EndRenderStart(RenderStartClaim& claim);
// Under RenderRecordLock: clears the slot of a release. True when the caller
// frees the record now; false when a running start will (also when `defer`).
bool DetachForRelease(unsigned long* slot, RenderStartClaim& claim, bool defer);

// First thing in a freshly forked child: output the host buffered before the
// fork belongs to the parent, and the child's own chatter goes to standard
// error, never into the host's standard output.
void DetachChildOutput();

// Sets shutdown_handler to the crash reporter of child `pid` and installs
// signal_handler for SIGHUP, SIGTERM and SIGABRT, ignores the terminal's
// SIGINT and SIGQUIT and SIGPIPE, then asks for SIGHUP when the parent (`parentPid`) dies. The reporter logs "Child receive signo  pid  %d,
// signo = %d"; with `reportsToQueue` it then sends "crash" into the queue given
// by SetChildCrashQueue (logging the send and a failed send). It ends the
// child with exit code 1.
void InstallChildSignalHandling(int pid, pid_t parentPid, bool reportsToQueue);
void SetChildCrashQueue(int queueId);

// What a dying video render child removes itself: its work folder beside
// `outputPath` (RenderOutput) with the raw stream, the mixed audio and the
// partial video in it, never the output path itself, and its queue when its
// parent is gone (nobody else would ever remove it).
void SetChildCleanup(const std::string& outputPath);

// Before a video render child exits: waits until its parent has removed the
// queue (it does so once it has read the final word), or removes the queue
// itself when the parent is gone, so that whichever of the two dies first
// (a signal to the whole process group), no queue outlives them. Waits at
// most ten seconds for a parent that lives but does not read.
void ChildAwaitQueueEnd();

// How long the parent lets a render child stay silent: 9.5 seconds until the
// child reports that its work has begun ("start"), then the stall limit
// between two reports.
constexpr std::chrono::milliseconds kRenderStartLimit{9500};
constexpr std::chrono::milliseconds kRenderWatchdogTick{500};
// Five minutes: far above any single silent step of a real render on a slow
// machine (the longest are a heavy frame on the software GL device, the text
// program and a script within its budget), so only a child that hangs
// reaches it. The final mux, which can take many minutes for a long video,
// is not silent: the child repeats its last progress while it runs.
constexpr std::chrono::milliseconds kRenderStallLimit{300000};
// The stall limit in force; tests shorten it (a zero restores the default).
std::chrono::milliseconds RenderStallLimit();
void SetRenderStallLimitForTesting(std::chrono::milliseconds limit);
// How often a child repeats its last report during a long step of its own: a
// tenth of the stall limit, so that a receiver slowed by its host still gets
// one well within the limit.
std::chrono::milliseconds ChildHeartbeatInterval();

// How long the mux program may run for a video of that many seconds. The
// mux copies the video and encodes at most its length of audio, faster than
// it plays: as long as the video lasts, and a minute at least (starting the
// program, probing the music). No cap: an eight-hour video's AAC alone takes
// five to eight minutes, and the child's reports during the mux keep the
// stall limit from cutting it short. A mux still running at its limit is
// killed and the render fails, saying why.
constexpr std::chrono::milliseconds kMuxTimeFloor{60000};
std::chrono::milliseconds MuxTimeLimit(double videoSeconds);
// Tests shorten the floor (a zero restores the default).
void SetMuxTimeFloorForTesting(std::chrono::milliseconds floor);

class ChildSilenceClock {
public:
    enum class Verdict { Alive, NeverStarted, Stalled };
    ChildSilenceClock();
    // A report arrived; `started` when it says the work has begun.
    void heard(bool started);
    bool started() const { return started_; }
    Verdict verdict() const;
    // The logged reason of a kill.
    void logKill(Verdict verdict, int pid, const std::string& output) const;

private:
    std::chrono::steady_clock::time_point begun_;
    std::chrono::steady_clock::time_point lastHeard_;
    bool started_ = false;
};

// Called in a render child (video or still image) before it builds its task.
// Null but in tests, which hold a child there to stand for one that hangs
// before "start".
extern void (*RenderChildHoldForTesting)();

// Ends the child with `code` after flushing its output. The host's atexit
// handlers and static destructors belong to the parent and do not run.
[[noreturn]] void ChildExit(int code);

}  // namespace Core
}  // namespace Quorvane
