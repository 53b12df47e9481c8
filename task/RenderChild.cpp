#include "task/RenderChild.h"

#include <errno.h>
#include <signal.h>
#include <stdio_ext.h>
#include <sys/msg.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "task/RenderProcess.h"
#include "task/SignalSafeLog.h"

namespace Quorvane {
namespace Core {

namespace {

// Everything the crash reporter needs, prepared before the handlers are
// installed so that the handler only copies, writes and sends.
struct CrashReporter {
    volatile sig_atomic_t queueId = -1;
    volatile sig_atomic_t reportsToQueue = 0;
    char signalLinePrefix[96] = {};
    char sendLine[96] = {};
    char failLinePrefix[96] = {};
    RenderMessage crash;
};
CrashReporter gCrashReporter;

void reportCrash(int signo) {
    if (signo != SIGHUP && signo != SIGABRT && signo != SIGKILL && signo != SIGTERM) return;
    char line[160];
    size_t at = strlen(gCrashReporter.signalLinePrefix);
    memcpy(line, gCrashReporter.signalLinePrefix, at);
    at += SignalSafeFormatInt(line + at, sizeof line - at - 1, signo);
    line[at] = '\0';
    SignalSafeLog(line);
    if (!gCrashReporter.reportsToQueue) _exit(1);
    SignalSafeLog(gCrashReporter.sendLine);
    int queueId = gCrashReporter.queueId;
    int rc;
    do {
        rc = queueId < 0 ? -1 : msgsnd(queueId, &gCrashReporter.crash, kRenderMessageTextSize, 0);
    } while (rc == -1 && errno == EINTR);
    if (rc != 0) {
        at = strlen(gCrashReporter.failLinePrefix);
        memcpy(line, gCrashReporter.failLinePrefix, at);
        at += SignalSafeFormatInt(line + at, sizeof line - at - 1, queueId);
        line[at] = '\0';
        SignalSafeLog(line);
    }
    _exit(1);
}

}  // namespace

std::shared_mutex& RenderForkGate() {
    static std::shared_mutex gate;
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

    prctl(PR_SET_PDEATHSIG, SIGHUP);
    // The parent may have died before the request above took effect.
    if (getppid() != parentPid) raise(SIGHUP);
}

void SetChildCrashQueue(int queueId) {
    gCrashReporter.queueId = queueId;
}

void ChildExit(int code) {
    fflush(stdout);
    fflush(stderr);
    _exit(code);
}

}  // namespace Core
}  // namespace Quorvane
