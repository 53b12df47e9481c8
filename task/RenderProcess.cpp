#include "task/RenderProcess.h"

#include <errno.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/Log.h"
#include "core/RenderThread.h"
#include "task/RenderChild.h"
#include "task/RenderOutput.h"
#include "task/RenderProcessTask.h"
#include "task/RenderTask.h"

namespace Quorvane {
namespace Core {

const char* const kStatusInit = "init";
const char* const kStatusStart = "start";
const char* const kStatusUpdate = "update";
const char* const kStatusEnd = "end";
const char* const kStatusFail = "fail";
const char* const kStatusCancel = "cancel";
const char* const kStatusCrash = "crash";

void (*shutdown_handler)(int) = nullptr;

namespace {

constexpr int kMaxReceiveFailures = 10;
// The queue has no key and only this user may open it by its id.
constexpr int kQueuePermissions = 0600;

// Put into the queue by the parent once the child has been reaped, behind
// everything the child sent. No child message has this text (the child's
// texts are fixed words or "name:value"), so a receiver that reaches it
// knows that no final word will come.
constexpr const char* kReapedMarker = "\x01reaped";

// See RenderForkGate. A thread already inside the gate (a host callback
// calling back into the library) passes through without locking again; a
// callback that tries to start a render is refused.
RenderForkGateLock& gForkGate = RenderForkGate();
using GateShared = RenderForkGateShared;

// The state one start shares between the calling thread, the watchdog and
// the receiver. The receiver outlives the start call, hence the shared owner.
struct StartSession {
    std::mutex lock;
    std::condition_variable changed;
    ChildSilenceClock silence;  // "start" or "end" counts as started
    bool childGone = false;     // the child is dead or being reaped: nobody may signal its pid
    bool receiverDone = false;  // the receiver has left its loop and removed the queue
    bool finalWord = false;     // the receiver got "end", "fail", "cancel" or "crash"
    bool watchdogDone = false;  // the watchdog's task has returned (or will never run)
};

struct FinalWord {
    const char* text;
    const char* status;
};
const FinalWord kFinalWords[] = {
    {"crash", kStatusCrash}, {"end", kStatusEnd}, {"fail", kStatusFail}, {"cancel", kStatusCancel}};

const char* finalStatusFor(const char* text) {
    for (const FinalWord& word : kFinalWords) {
        if (strcmp(word.text, text) == 0) return word.status;
    }
    return nullptr;
}

// Under RenderRecordLock.
RenderProcessData* recordOf(unsigned long* handle) {
    return RecordInSlot<RenderProcessData>(handle);
}

// Runs `work` on the record the slot names, inside the gate and under the
// record lock; `missing` when there is none.
template <typename Result, typename Work>
Result withRecord(unsigned long* handle, Result missing, Work work) {
    GateShared gate(gForkGate);
    std::lock_guard<std::mutex> guard(RenderRecordLock());
    RenderProcessData* data = recordOf(handle);
    return data ? work(*data) : missing;
}

// The record whose callback this thread is running: a release of it there is
// deferred until its start returns, since the start and the receiver still
// work on it.
thread_local const RenderProcessData* tCallbackRecord = nullptr;

void notifyHost(RenderProcessData* data, zr_render_process_callback callback, unsigned long* handle,
                const char* word) {
    if (!callback || data->claim.releaseRequested) return;
    const RenderProcessData* outer = tCallbackRecord;
    tCallbackRecord = data;
    callback(handle, word);
    tCallbackRecord = outer;
}

// What a worker thread's task works on. The task holds only a pointer to it,
// so that nothing of it is freed outside the gate. The receiver's job is
// deleted by its task; the watchdog's belongs to the start. A start waits
// until both tasks have returned.
struct ReceiverJob {
    RenderProcessData* data;
    std::shared_ptr<StartSession> session;
    zr_render_process_callback callback;
    unsigned long* handle;
};

struct WatchdogJob {
    std::shared_ptr<StartSession> session;
    int pid;
    std::string outputPath;
};

void runReceiver(ReceiverJob* job) {
    RenderProcessData* data = job->data;
    StartSession* session = job->session.get();
    zr_render_process_callback callback = job->callback;
    unsigned long* handle = job->handle;
    int failures = 0;
    bool gotFinalWord = false;
    while (true) {
        ssize_t n = msgrcv(data->queueId, &data->message, kRenderMessageTextSize, kRenderMessageType, 0);
        int err = errno;
        GateShared gate(gForkGate);
        if (n >= 0) {
            std::lock_guard<std::mutex> guard(session->lock);
            session->silence.heard(false);
        }
        if (n < 0) {
            if (err == EINTR) continue;  // a signal is no failure of the queue
            QVPrint("Child process %d receive status : %s on recv failed", data->pid, data->status.load());
            if (++failures > kMaxReceiveFailures) {
                data->status = kStatusCrash;
                QVPrint("Child process %d receive failcount : %d, %s", data->pid, failures,
                        data->status.load());
                break;
            }
            continue;
        }
        char* text = data->message.text;
        text[kRenderMessageTextSize - 1] = '\0';

        if (strcmp(text, kReapedMarker) == 0) {
            // The child is gone and everything it sent has been read.
            data->status = kStatusCrash;
            QVPrint("Child process %d ended without a final word, status : %s", data->pid,
                    data->status.load());
            notifyHost(data, callback, handle, kStatusCrash);
            break;
        }
        if (const char* word = finalStatusFor(text)) {
            data->status = word;
            gotFinalWord = true;
            if (word == kStatusEnd) {
                std::lock_guard<std::mutex> guard(session->lock);
                session->silence.heard(true);
            }
            QVPrint("Child process %d receive status : %s", data->pid, word);
            notifyHost(data, callback, handle, word);
            break;
        }
        if (strcmp(text, "start") == 0) {
            data->status = kStatusStart;
            {
                std::lock_guard<std::mutex> guard(session->lock);
                session->silence.heard(true);
            }
            notifyHost(data, callback, handle, kStatusStart);
            continue;
        }
        char* colon = strchr(text, ':');
        if (!colon) continue;
        *colon = '\0';
        const char* value = colon + 1;
        if (strcmp(text, "update") == 0) {
            data->status = kStatusUpdate;
            data->progress = static_cast<float>(strtod(value, nullptr));
            notifyHost(data, callback, handle, kStatusUpdate);
        } else {
            size_t size;
            {
                std::lock_guard<std::mutex> guard(data->infoLock);
                data->renderedInfo.emplace(text, value);  // the first value of a key stays
                size = data->renderedInfo.size();
            }
            QVPrint("recv info message : %s %s, info size: %d", text, value, static_cast<int>(size));
        }
    }
    GateShared gate(gForkGate);
    msgctl(data->queueId, IPC_RMID, nullptr);
    data->receiving = false;
    {
        std::lock_guard<std::mutex> guard(session->lock);
        session->finalWord = gotFinalWord;
        session->receiverDone = true;
        session->changed.notify_all();
    }
    delete job;
}

// Kills a child that stays silent too long (before "start", or between two
// reports after it) and ends once the child is gone. It enters the fork gate
// only to report a kill, so that the start, which joins it inside the gate
// once it is done, never waits for a thread that waits for the gate.
void runWatchdog(const WatchdogJob* job) {
    StartSession* session = job->session.get();
    auto done = [session] {
        session->watchdogDone = true;
        session->changed.notify_all();
    };
    while (true) {
        {
            std::unique_lock<std::mutex> guard(session->lock);
            if (session->childGone) return done();
            if (session->silence.verdict() == ChildSilenceClock::Verdict::Alive) {
                session->changed.wait_for(guard, kRenderWatchdogTick, [&] { return session->childGone; });
                continue;
            }
        }
        GateShared gate(gForkGate);
        std::lock_guard<std::mutex> guard(session->lock);
        if (session->childGone) return done();
        ChildSilenceClock::Verdict verdict = session->silence.verdict();
        if (verdict != ChildSilenceClock::Verdict::Alive) {
            session->silence.logKill(verdict, job->pid, job->outputPath);
            // Under the lock and before the parent reaps: the pid is still ours.
            kill(job->pid, SIGKILL);
            return done();
        }
    }
}

// Waits for the child to exit or stop without reaping it, fences off the
// watchdog, kills a stopped child, then reaps. Returns waitpid's status, or -1
// when the child could not be waited for.
int waitForChild(int pid, StartSession& session) {
    siginfo_t info;
    memset(&info, 0, sizeof info);
    int rc;
    do {
        rc = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WSTOPPED | WNOWAIT);
    } while (rc == -1 && errno == EINTR);
    {
        std::lock_guard<std::mutex> guard(session.lock);
        session.childGone = true;
        session.changed.notify_all();
    }
    if (rc == 0 && info.si_code == CLD_STOPPED) {
        GateShared gate(gForkGate);
        QVPrint("Child pid %d stopped by %d, killing it", pid, info.si_status);
        kill(pid, SIGKILL);
    }
    int status = 0;
    pid_t reaped;
    do {
        reaped = waitpid(pid, &status, 0);
    } while (reaped == -1 && errno == EINTR);
    if (reaped != pid) {
        int err = errno;
        GateShared gate(gForkGate);
        QVPrint("Child process %d could not be waited for, errno: %d %s", pid, err, strerror(err));
        return -1;
    }
    return status;
}

// What a dead child may have left: its work folder beside the output, with
// the raw stream, the mixed audio and the partial video in it. The output
// path itself still holds what it held before the render.
void removeLeftovers(const std::string& outputPath, int pid) {
    const std::string folder = RenderOutput::workFolderFor(outputPath, pid);
    RemoveRenderWorkFolder(folder.c_str(), RenderOutput::baseNameOf(outputPath).c_str());
}

// ---- the child ----------------------------------------------------------

void childAfterFork(const RenderProcessData& parentCopy, pid_t parentPid) {
    DetachChildOutput();

    auto* data = new RenderProcessData(parentCopy.templatePath, parentCopy.outputPath, parentCopy.key);
    data->pid = getpid();
    data->messageKey = parentCopy.messageKey;
    data->queueId = parentCopy.queueId;
    QVPrint("Child process start head --- 1 %d, %s", data->pid, data->outputPath.c_str());
    SetChildCrashQueue(data->queueId);
    SetChildCleanup(data->outputPath);
    InstallChildSignalHandling(data->pid, parentPid, true);
    data->copyOptions(parentCopy);
    QVPrint("Child process start before --- %d", data->pid);
    render_process_main(data);
}

}  // namespace

void signal_handler(int signo) {
    if (shutdown_handler) shutdown_handler(signo);
}

bool SendRenderMessage(int queueId, const char* text) {
    RenderMessage message;
    strncpy(message.text, text, kRenderMessageTextSize - 1);
    int rc;
    do {
        rc = msgsnd(queueId, &message, kRenderMessageTextSize, 0);
    } while (rc == -1 && errno == EINTR);
    return rc == 0;
}

RenderProcessData::RenderProcessData(const std::string& templatePath, const std::string& outputPath, int key)
    : key(key), templatePath(templatePath), outputPath(outputPath), status(kStatusInit) {}

RenderProcessData::~RenderProcessData() {
    delete receiverThread;
}

void RenderProcessData::copyOptions(const RenderProcessData& other) {
    replaceableFiles = other.replaceableFiles;
    musicLoop = other.musicLoop;
    musicPath = other.musicPath;
    dynamicSubFiles = other.dynamicSubFiles;
    musicFadeoutDuration = other.musicFadeoutDuration;
    musicVolume = other.musicVolume;
    bitrateControl = other.bitrateControl;
    watermarks = other.watermarks;
    luaMainFile = other.luaMainFile;
    luaDir = other.luaDir;
    luaData = other.luaData;
    dynamicSubTexts = other.dynamicSubTexts;
    scrivanePath = other.scrivanePath;
    assetPath = other.assetPath;
    snapshotFrames = other.snapshotFrames;
    snapshotDir = other.snapshotDir;
}

void render_process_main(RenderProcessData* data) {
    QVPrint("Child process %d start", data->pid);
    // The queue is the private one the parent created before the fork.
    QVPrint("msgkey %d - %d", data->messageKey, data->queueId);
    if (RenderChildHoldForTesting) RenderChildHoldForTesting();

    auto* processTask = new RenderProcessTask(data);
    processTask->setTask(new RenderTask(data->templatePath.c_str(), data->outputPath.c_str(), processTask));
    QVPrint("Child RenderPocessTask simple start %d", data->pid);
    bool ok = processTask->simple();
    QVPrint("Child RenderPocessTask simple after %d", data->pid);

    // On the normal road the task has reported already and the parent has
    // removed the queue, so these sends fail and are logged; for a template that
    // could not even be loaded they are the only report.
    processTask->sendRenderedInfo();
    const char* word = ok ? "end" : "cancel";
    QVPrint("pid %d --> send message :  %s", data->pid, word);
    if (!SendRenderMessage(data->queueId, word)) {
        QVPrint("pid %d --> fail send message :  %s %d", data->pid, word, data->queueId);
    }
    ChildAwaitQueueEnd();
    ChildExit(0);
}

}  // namespace Core
}  // namespace Quorvane

using namespace Quorvane::Core;

int zr_create_render_process(unsigned long* handle, const char* templatePath, const char* outputPath,
                             int key) {
    if (!handle || !templatePath || !outputPath) return -1;
    GateShared gate(gForkGate);
    auto* data = new RenderProcessData(templatePath, outputPath, key);
    std::lock_guard<std::mutex> guard(RenderRecordLock());
    *handle = reinterpret_cast<unsigned long>(data);
    return 0;
}

int zr_render_process_set_replaceable_files(unsigned long* handle, std::vector<std::string>* files) {
    if (!files) return -1;
    return withRecord(handle, -1, [&](RenderProcessData& data) {
        data.replaceableFiles = *files;
        return 0;
    });
}

namespace {
// Stores one option; `missing` for no record.
template <typename Field, typename Value>
int storeOption(unsigned long* handle, Field RenderProcessData::*field, Value&& value, int missing = -1) {
    return withRecord(handle, missing, [&](RenderProcessData& data) {
        data.*field = std::forward<Value>(value);
        return 0;
    });
}
}  // namespace

int zr_render_process_set_dynamic_sub_files(unsigned long* handle, std::string json) {
    return storeOption(handle, &RenderProcessData::dynamicSubFiles, std::move(json), 1);
}

int zr_render_process_set_dynamic_sub_texts(unsigned long* handle, std::string json) {
    return storeOption(handle, &RenderProcessData::dynamicSubTexts, std::move(json), 1);
}

int zr_render_process_set_asset_path(unsigned long* handle, std::string path) {
    return storeOption(handle, &RenderProcessData::assetPath, std::move(path));
}

int zr_render_process_set_scrivane_path(unsigned long* handle, std::string path) {
    return storeOption(handle, &RenderProcessData::scrivanePath, std::move(path));
}

int zr_render_process_set_music_path(unsigned long* handle, std::string path, bool loop) {
    return withRecord(handle, -1, [&](RenderProcessData& data) {
        data.musicPath = std::move(path);
        data.musicLoop = loop;
        return 0;
    });
}

int zr_render_process_set_music_loop(unsigned long* handle, bool loop) {
    return storeOption(handle, &RenderProcessData::musicLoop, loop);
}

int zr_render_process_set_music_fadeout_duration(unsigned long* handle, int seconds) {
    return storeOption(handle, &RenderProcessData::musicFadeoutDuration, seconds);
}

int zr_render_process_set_music_volume(unsigned long* handle, float volume) {
    // Stored as given; the child's configuration keeps its volume, with a log
    // line, when this one is not finite or negative.
    return storeOption(handle, &RenderProcessData::musicVolume, volume);
}

int zr_render_process_set_lua_main_file(unsigned long* handle, std::string path) {
    return storeOption(handle, &RenderProcessData::luaMainFile, std::move(path));
}

int zr_render_process_set_lua_dir(unsigned long* handle, std::string path) {
    return storeOption(handle, &RenderProcessData::luaDir, std::move(path));
}

int zr_render_process_set_lua_data(unsigned long* handle, std::string data) {
    return storeOption(handle, &RenderProcessData::luaData, std::move(data));
}

int zr_render_process_set_snapshot_dir(unsigned long* handle, std::string path) {
    return storeOption(handle, &RenderProcessData::snapshotDir, std::move(path));
}

int zr_render_process_set_snapshot_frames(unsigned long* handle, std::vector<int> frames) {
    return storeOption(handle, &RenderProcessData::snapshotFrames, std::move(frames));
}

int zr_render_process_set_bitrate_control(unsigned long* handle, float factor) {
    // Stored as given; the child's render task keeps its factor, with a log
    // line, when this one is unusable.
    return storeOption(handle, &RenderProcessData::bitrateControl, factor);
}

int zr_render_process_set_watermarks(unsigned long* handle, std::vector<Watermark> watermarks) {
    return storeOption(handle, &RenderProcessData::watermarks, std::move(watermarks));
}

int zr_render_process_add_watermark(unsigned long* handle, std::vector<std::string> imagePaths, float x,
                                    float y, float start, float duration, float scaleX, float scaleY) {
    return withRecord(handle, -1, [&](RenderProcessData& data) {
        data.watermarks.push_back(
            Watermark::fromHost(std::move(imagePaths), x, y, start, duration, scaleX, scaleY));
        return 0;
    });
}

namespace {
int startRecord(RenderProcessData* data, unsigned long* handle, zr_render_process_callback callback);
}  // namespace

int zr_render_process_start(unsigned long* handle, zr_render_process_callback callback) {
    RenderProcessData* data;
    {
        GateShared gate(gForkGate);
        std::lock_guard<std::mutex> guard(RenderRecordLock());
        data = recordOf(handle);
        if (!data) return 0;
        if (!ClaimRenderStart(data->claim)) {
            // Its child, queue and receiver belong to the start that runs.
            QVPrint("Start render process refused: this render is running already, %s",
                    data->outputPath.c_str());
            return 1;
        }
    }
    // From here the claim keeps the record alive, whatever a release does.
    int result = startRecord(data, handle, callback);
    GateShared gate(gForkGate);
    // Released while it ran: freed now that nothing works on it.
    if (EndRenderStart(data->claim)) delete data;
    return result;
}

namespace {

int startRecord(RenderProcessData* data, unsigned long* handle, zr_render_process_callback callback) {
    if (InsideRenderForkGate()) {
        // Forking here would wait for this very thread to leave the gate.
        QVPrint("Start render process refused: called from a status callback, %s", data->outputPath.c_str());
        return 1;
    }

    // The child works from this copy; the record itself stays the parent's.
    std::unique_ptr<RenderProcessData> copy;
    pid_t parentPid = getpid();
    int queueId;
    {
        GateShared gate(gForkGate);
        QVPrint("Start render process for output:%s", data->outputPath.c_str());
        // Every render gets a queue of its own, without a key, created before
        // the fork so that the child inherits its id: no other render (of the
        // same folder and key, or of a key equal modulo 256) can find, read or
        // remove it.
        queueId = msgget(IPC_PRIVATE, IPC_CREAT | kQueuePermissions);
        if (queueId == -1) {
            int err = errno;
            QVPrint("Failed create msgqueue, errno: %d %s, %s", err, strerror(err), data->outputPath.c_str());
            return 1;
        }
        copy = std::make_unique<RenderProcessData>(data->templatePath, data->outputPath, data->key);
        // A setter on another thread may be storing an option meanwhile.
        std::lock_guard<std::mutex> guard(RenderRecordLock());
        data->messageKey = IPC_PRIVATE;
        data->queueId = queueId;
        copy->copyOptions(*data);
        copy->messageKey = IPC_PRIVATE;
        copy->queueId = queueId;
    }
    pid_t pid;
    int forkError;
    {
        // Until its own handlers are in place the child holds these back: a
        // signal to the whole process group in between would end it without
        // a report and without its cleanup.
        sigset_t held, previous;
        sigemptyset(&held);
        for (int signo : {SIGHUP, SIGTERM, SIGABRT, SIGINT, SIGQUIT}) sigaddset(&held, signo);
        std::unique_lock<RenderForkGateLock> gate(gForkGate);
        pthread_sigmask(SIG_BLOCK, &held, &previous);
        pid = fork();
        forkError = errno;
        // The child never returns, so it never releases its copy of the gate.
        if (pid == 0) childAfterFork(*copy, parentPid);
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }

    GateShared gate(gForkGate);
    copy.reset();
    if (pid < 0) {
        msgctl(queueId, IPC_RMID, nullptr);
        data->status = kStatusFail;
        QVPrint("Fork process failed with pid : %d, fork ret: %d, errno: %d %s ", static_cast<int>(parentPid),
                -1, forkError, strerror(forkError));
        errno = forkError;
        perror(strerror(forkError));
        return 1;
    }

    QVPrint("Child process created with pid : %d, %s", static_cast<int>(pid), data->outputPath.c_str());
    data->pid = pid;
    QVPrint("msgkey %d - %d", data->messageKey, data->queueId);

    auto session = std::make_shared<StartSession>();
    // Declared before the thread, so that it outlives the thread's join.
    auto watchdogJob = std::make_unique<WatchdogJob>(WatchdogJob{session, pid, data->outputPath});
    auto watchdog = std::make_unique<RenderThread>();
    // A new thread sets itself up (allocating) after its constructor has
    // returned; waiting for its start keeps that inside the gate too.
    watchdog->getThreadID();
    const WatchdogJob* job = watchdogJob.get();
    watchdog->async([job] { runWatchdog(job); }, true);
    // A record started again keeps no thread of its earlier start.
    delete data->receiverThread;
    data->receiverThread = new RenderThread();
    data->receiverThread->getThreadID();
    auto* receiverJob = new ReceiverJob{data, session, callback, handle};
    data->receiverThread->async([receiverJob] { runReceiver(receiverJob); }, true);
    gate.unlock();

    int status = waitForChild(pid, *session);

    gate.lock();
    bool exited = status != -1 && WIFEXITED(status);
    int exitCode = exited ? WEXITSTATUS(status) : 0;
    QVPrint("Child process exited, pid : %d, exitcode : %d, exitstatus : %d", static_cast<int>(pid),
            exited ? 1 : 0, exitCode);
    if (status != -1 && WIFSIGNALED(status)) {
        QVPrint("Child pid %d killed by %d", static_cast<int>(pid), WTERMSIG(status));
    }
    bool died = !exited || exitCode != 0;

    // Wake the receiver behind whatever the child left in the queue, then wait
    // until it has read up to the child's final word or to this marker.
    bool receiverDone;
    {
        std::lock_guard<std::mutex> guard(session->lock);
        receiverDone = session->receiverDone;
    }
    if (!receiverDone) {
        if (died) QVPrint("pid %d --> send message :  %s", static_cast<int>(pid), "crash");
        if (!SendRenderMessage(data->queueId, died ? "crash" : kReapedMarker)) {
            if (died)
                QVPrint("pid %d --> fail send message :  %s %d", static_cast<int>(pid), "crash",
                        data->queueId);
            // The queue is unusable: removing it makes the receiver's next waits
            // fail, so it cannot block for ever.
            msgctl(data->queueId, IPC_RMID, nullptr);
        }
    }
    gate.unlock();
    {
        std::unique_lock<std::mutex> guard(session->lock);
        // The watchdog too: joined inside the gate below, it must not be
        // waiting to enter it.
        session->changed.wait(guard, [&] { return session->receiverDone && session->watchdogDone; });
        if (!session->finalWord) died = true;
    }
    gate.lock();
    data->receiving = false;

    int result = 0;
    if (died) {
        removeLeftovers(data->outputPath, pid);
        data->status = kStatusCrash;
        QVPrint("Child process 1 pid %d status : %s", static_cast<int>(pid), data->status.load());
        notifyHost(data, callback, handle, kStatusCrash);
        result = 1;
    }
    // Joined under the gate: the worker's own exit is part of this stretch.
    watchdog.reset();
    watchdogJob.reset();
    return result;
}

}  // namespace

// The two polls neither allocate nor log, so they stay outside the gate: a
// host may poll while another of its threads forks a render.
float zr_render_process_progress(unsigned long* handle) {
    std::lock_guard<std::mutex> guard(RenderRecordLock());
    RenderProcessData* data = recordOf(handle);
    return data ? data->progress.load() : 0.0f;
}

const char* zr_render_process_status(unsigned long* handle) {
    std::lock_guard<std::mutex> guard(RenderRecordLock());
    RenderProcessData* data = recordOf(handle);
    return data ? data->status.load() : nullptr;
}

std::map<std::string, std::string> zr_render_process_rendered_info(unsigned long* handle) {
    return withRecord(handle, std::map<std::string, std::string>(), [](RenderProcessData& data) {
        std::lock_guard<std::mutex> guard(data.infoLock);
        return data.renderedInfo;
    });
}

void zr_render_process_release(unsigned long* handle) {
    GateShared gate(gForkGate);
    RenderProcessData* data;
    {
        std::lock_guard<std::mutex> guard(RenderRecordLock());
        data = recordOf(handle);
        if (!data) return;
        // From a callback its start runs on; no further callback reaches the host.
        if (!DetachForRelease(handle, data->claim, tCallbackRecord == data)) return;
    }
    // Outside the lock: this joins the receiver, whose callback may poll.
    delete data;
}

bool zr_msg_key_compare(const char* a, const char* b) {
    return a && b && strcmp(a, b) == 0;
}
