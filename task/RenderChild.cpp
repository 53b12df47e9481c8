#include "task/RenderChild.h"

#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <stdio_ext.h>
#include <sys/msg.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <cstring>

#include "core/Log.h"
#include "task/RenderOutput.h"
#include "task/RenderProcess.h"
#include "task/SignalSafeLog.h"

namespace Quorvane {
namespace Core {

namespace {

// Everything the crash reporter needs, prepared before the handlers are
// installed so that the handler only copies, writes and sends.
constexpr size_t kCleanupPathSize = 4200;

struct CrashReporter {
    volatile sig_atomic_t queueId = -1;
    volatile sig_atomic_t reportsToQueue = 0;
    pid_t parentPid = 0;
    // Empty when the render has none (or its path does not fit).
    char workFolder[kCleanupPathSize] = {};
    char workBase[NAME_MAX + 1] = {};
    char signalLinePrefix[96] = {};
    char sendLine[96] = {};
    char failLinePrefix[96] = {};
    RenderMessage crash;
};
CrashReporter gCrashReporter;

void pauseBriefly() {
    struct timespec pause = {0, 5 * 1000 * 1000};
    nanosleep(&pause, nullptr);
}

// See ChildAwaitQueueEnd; only system calls, for the crash reporter too.
void awaitQueueEnd() {
    const int queueId = gCrashReporter.queueId;
    if (queueId < 0 || !gCrashReporter.reportsToQueue) return;
    for (int i = 0; i < 2000; ++i) {
        struct msqid_ds info;
        if (msgctl(queueId, IPC_STAT, &info) != 0) return;
        if (getppid() != gCrashReporter.parentPid) {
            msgctl(queueId, IPC_RMID, nullptr);
            return;
        }
        pauseBriefly();
    }
}

void reportCrash(int signo) {
    if (signo != SIGHUP && signo != SIGABRT && signo != SIGKILL && signo != SIGTERM) return;
    char line[160];
    size_t at = strlen(gCrashReporter.signalLinePrefix);
    memcpy(line, gCrashReporter.signalLinePrefix, at);
    at += SignalSafeFormatInt(line + at, sizeof line - at - 1, signo);
    line[at] = '\0';
    SignalSafeLog(line);
    if (gCrashReporter.workFolder[0])
        RemoveRenderWorkFolder(gCrashReporter.workFolder, gCrashReporter.workBase);
    if (!gCrashReporter.reportsToQueue) _exit(1);
    int queueId = gCrashReporter.queueId;
    if (signo == SIGHUP) {
        // The parent-death signal comes when the forking thread dies, which
        // may be before the rest of the host: give the host a moment to be
        // gone (this child is then re-parented) before taking it for alive.
        for (int i = 0; i < 200 && getppid() == gCrashReporter.parentPid; ++i) {
            struct timespec pause = {0, 10 * 1000 * 1000};
            nanosleep(&pause, nullptr);
        }
    }
    if (getppid() != gCrashReporter.parentPid) {
        // The host is gone: nobody will read a report, and a full queue would
        // block the send for ever.
        if (queueId >= 0) msgctl(queueId, IPC_RMID, nullptr);
        _exit(1);
    }
    SignalSafeLog(gCrashReporter.sendLine);
    // Without blocking: a host that dies meanwhile (the same signal may have
    // reached its whole process group) would leave a full queue unread.
    int rc = -1;
    while (queueId >= 0) {
        rc = msgsnd(queueId, &gCrashReporter.crash, kRenderMessageTextSize, IPC_NOWAIT);
        if (rc == 0 || (errno != EAGAIN && errno != EINTR) || getppid() != gCrashReporter.parentPid) break;
        pauseBriefly();
    }
    if (rc != 0) {
        at = strlen(gCrashReporter.failLinePrefix);
        memcpy(line, gCrashReporter.failLinePrefix, at);
        at += SignalSafeFormatInt(line + at, sizeof line - at - 1, queueId);
        line[at] = '\0';
        SignalSafeLog(line);
    }
    awaitQueueEnd();
    _exit(1);
}

}  // namespace

void RenderForkGateLock::lock_shared() {
    std::unique_lock<std::mutex> guard(lock_);
    const unsigned long arrived = passes_;
    changed_.wait(guard, [&] { return !forking_ && (forksWaiting_ == 0 || passes_ != arrived); });
    ++holders_;
}

void RenderForkGateLock::unlock_shared() {
    std::lock_guard<std::mutex> guard(lock_);
    if (--holders_ == 0) changed_.notify_all();
}

void RenderForkGateLock::lock() {
    std::unique_lock<std::mutex> guard(lock_);
    ++forksWaiting_;
    auto passAt = std::chrono::steady_clock::now() + kPass;
    while (forking_ || holders_ > 0) {
        if (changed_.wait_until(guard, passAt) == std::cv_status::timeout) {
            ++passes_;
            changed_.notify_all();
            passAt = std::chrono::steady_clock::now() + kPass;
        }
    }
    --forksWaiting_;
    forking_ = true;
}

void RenderForkGateLock::unlock() {
    std::lock_guard<std::mutex> guard(lock_);
    forking_ = false;
    changed_.notify_all();
}

bool RenderForkGateLock::forkWaitingForTesting() {
    std::lock_guard<std::mutex> guard(lock_);
    return forksWaiting_ > 0;
}

RenderForkGateLock& RenderForkGate() {
    static RenderForkGateLock gate;
    return gate;
}

namespace {
thread_local int tGateDepth = 0;
}  // namespace

void RenderForkGateShared::lock() {
    if (tGateDepth++ == 0) gate_.lock_shared();
    held_ = true;
}

void RenderForkGateShared::unlock() {
    held_ = false;
    if (--tGateDepth == 0) gate_.unlock_shared();
}

bool InsideRenderForkGate() {
    return tGateDepth > 0;
}

std::mutex& RenderRecordLock() {
    static std::mutex lock;
    return lock;
}

bool ClaimRenderStart(RenderStartClaim& claim) {
    if (claim.running) return false;
    claim.running = true;
    return true;
}

bool EndRenderStart(RenderStartClaim& claim) {
    std::lock_guard<std::mutex> guard(RenderRecordLock());
    claim.running = false;
    return claim.releaseRequested;
}

bool DetachForRelease(unsigned long* slot, RenderStartClaim& claim, bool defer) {
    *slot = 0;
    if (!claim.running && !defer) return true;
    claim.releaseRequested = true;
    return false;
}

void DetachChildOutput() {
    __fpurge(stdout);
    __fpurge(stderr);
    dup2(STDERR_FILENO, STDOUT_FILENO);
}

void InstallChildSignalHandling(int pid, pid_t parentPid, bool reportsToQueue) {
    SignalSafeLogPrepare();
    snprintf(gCrashReporter.signalLinePrefix, sizeof gCrashReporter.signalLinePrefix,
             "Child receive signo  pid  %d, signo = ", pid);
    snprintf(gCrashReporter.sendLine, sizeof gCrashReporter.sendLine, "pid %d --> send message :  %s", pid,
             "crash");
    snprintf(gCrashReporter.failLinePrefix, sizeof gCrashReporter.failLinePrefix,
             "pid %d --> fail send message :  %s ", pid, "crash");
    gCrashReporter.reportsToQueue = reportsToQueue ? 1 : 0;
    gCrashReporter.parentPid = parentPid;
    gCrashReporter.crash.type = kRenderMessageType;
    strncpy(gCrashReporter.crash.text, "crash", kRenderMessageTextSize - 1);
    shutdown_handler = reportCrash;

    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = signal_handler;
    sigemptyset(&action.sa_mask);
    // One report at a time: a second signal waits until the first has exited.
    const int kHandled[] = {SIGHUP, SIGTERM, SIGABRT};
    for (int signo : kHandled) sigaddset(&action.sa_mask, signo);
    action.sa_flags = SA_RESTART;
    for (int signo : kHandled) sigaction(signo, &action, nullptr);
    // The host may have blocked them in the thread that forked.
    sigset_t unblock;
    sigemptyset(&unblock);
    for (int signo : kHandled) sigaddset(&unblock, signo);
    pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr);
    // Keys typed at the terminal (Ctrl-C, Ctrl-\) reach the whole process group
    // and are the host's to act on: a host that dies of them takes the child
    // down through the parent-death signal, which cleans up; one that goes on
    // keeps its render.
    signal(SIGINT, SIG_IGN);
    signal(SIGQUIT, SIG_IGN);
    // Output into a pipe whose reader has gone (a host piped into `head`) must
    // fail the write, not kill the child before it has cleaned up.
    signal(SIGPIPE, SIG_IGN);
    // The parent blocked these around the fork (see zr_render_process_start).
    sigemptyset(&unblock);
    for (int signo : {SIGINT, SIGQUIT}) sigaddset(&unblock, signo);
    pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr);

    prctl(PR_SET_PDEATHSIG, SIGHUP);
    // The parent may have died before the request above took effect.
    if (getppid() != parentPid) raise(SIGHUP);
}

void SetChildCrashQueue(int queueId) {
    gCrashReporter.queueId = queueId;
}

void SetChildCleanup(const std::string& outputPath) {
    const std::string folder = RenderOutput::workFolderFor(outputPath, static_cast<int>(getpid()));
    const std::string base = RenderOutput::baseNameOf(outputPath);
    if (base.empty() || base.size() > NAME_MAX || folder.size() >= kCleanupPathSize) return;
    snprintf(gCrashReporter.workFolder, sizeof gCrashReporter.workFolder, "%s", folder.c_str());
    snprintf(gCrashReporter.workBase, sizeof gCrashReporter.workBase, "%s", base.c_str());
}

void ChildAwaitQueueEnd() {
    awaitQueueEnd();
}

namespace {
std::atomic<long long> gStallLimitMs{kRenderStallLimit.count()};
}  // namespace

std::chrono::milliseconds RenderStallLimit() {
    return std::chrono::milliseconds(gStallLimitMs.load());
}

void SetRenderStallLimitForTesting(std::chrono::milliseconds limit) {
    gStallLimitMs = limit.count() > 0 ? limit.count() : kRenderStallLimit.count();
}

std::chrono::milliseconds ChildHeartbeatInterval() {
    return std::max(RenderStallLimit() / 10, std::chrono::milliseconds(1));
}

namespace {
std::atomic<long long> gMuxTimeFloorMs{kMuxTimeFloor.count()};
// About 31,700 years: far past any video, and far inside a count of milliseconds.
constexpr double kMuxTimeCeilingMs = 1e15;
}  // namespace

std::chrono::milliseconds MuxTimeLimit(double videoSeconds) {
    const std::chrono::milliseconds floor(gMuxTimeFloorMs.load());
    const double ms = videoSeconds * 1000.0;
    // A NaN fails the comparison too.
    if (!(ms > static_cast<double>(floor.count()))) return floor;
    return std::chrono::milliseconds(static_cast<long long>(std::min(ms, kMuxTimeCeilingMs)));
}

void SetMuxTimeFloorForTesting(std::chrono::milliseconds floor) {
    gMuxTimeFloorMs = floor.count() > 0 ? floor.count() : kMuxTimeFloor.count();
}

ChildSilenceClock::ChildSilenceClock()
    : begun_(std::chrono::steady_clock::now()), lastHeard_(begun_) {}

void ChildSilenceClock::heard(bool started) {
    lastHeard_ = std::chrono::steady_clock::now();
    started_ = started_ || started;
}

ChildSilenceClock::Verdict ChildSilenceClock::verdict() const {
    auto now = std::chrono::steady_clock::now();
    if (!started_) return now - begun_ >= kRenderStartLimit ? Verdict::NeverStarted : Verdict::Alive;
    return now - lastHeard_ >= RenderStallLimit() ? Verdict::Stalled : Verdict::Alive;
}

void ChildSilenceClock::logKill(Verdict verdict, int pid, const std::string& output) const {
    int err = errno;
    if (verdict == Verdict::NeverStarted) {
        QVPrint("Child process start failed, kill child pid : %d, %s, errno: %d %s", pid, output.c_str(), err,
                strerror(err));
    } else {
        QVPrint("Child process stalled for %lld ms, kill child pid : %d, %s",
                static_cast<long long>(RenderStallLimit().count()), pid, output.c_str());
    }
}

void (*RenderChildHoldForTesting)() = nullptr;

void ChildExit(int code) {
    fflush(stdout);
    fflush(stderr);
    _exit(code);
}

}  // namespace Core
}  // namespace Quorvane
