#include "task/RenderImageProcess.h"

#include <errno.h>
#include <signal.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <mutex>

#include "core/Log.h"
#include "task/RenderChild.h"
#include "task/RenderImageProcessTask.h"
#include "task/RenderImageTask.h"

namespace Quorvane {
namespace Core {

namespace {

// Runs `work` on the record the slot names, inside the gate and under the
// record lock; `missing` when there is none.
template <typename Work>
int withRecord(unsigned long* handle, int missing, Work work) {
    RenderForkGateShared gate(RenderForkGate());
    std::lock_guard<std::mutex> guard(RenderRecordLock());
    RenderImageProcessData* data = RecordInSlot<RenderImageProcessData>(handle);
    if (!data) return missing;
    work(*data);
    return 0;
}

// Waits for the child while listening to its reports; a child that stays
// silent too long (ChildSilenceClock) or stops is killed. A stopped child is
// killed and reaped rather than left behind. Returns waitpid's status, or -1
// when the child could not be waited for.
int waitForChild(pid_t pid, int reports, const std::string& outputFolder) {
    ChildSilenceClock silence;
    int status = 0;
    pid_t reaped = 0;
    bool ending = false;  // the child closed its end: it is exiting
    while (true) {
        if (!ending) {
            struct pollfd poller = {reports, POLLIN, 0};
            if (poll(&poller, 1, static_cast<int>(kRenderWatchdogTick.count())) > 0) {
                char bytes[64];
                ssize_t got = recv(reports, bytes, sizeof bytes, MSG_DONTWAIT);
                ending = got == 0;
                for (ssize_t i = 0; i < got; ++i) silence.heard(bytes[i] == kImageReportStarted);
            }
        }
        reaped = waitpid(pid, &status, (ending ? 0 : WNOHANG) | WUNTRACED);
        if (reaped == -1 && errno == EINTR) continue;
        if (reaped == -1 || (reaped == pid && !WIFSTOPPED(status))) break;
        ChildSilenceClock::Verdict verdict = silence.verdict();
        if (reaped == pid || verdict != ChildSilenceClock::Verdict::Alive) {
            {
                RenderForkGateShared gate(RenderForkGate());
                if (reaped == pid) {
                    QVPrint("Child pid %d stopped by %d, killing it", static_cast<int>(pid), WSTOPSIG(status));
                } else {
                    silence.logKill(verdict, static_cast<int>(pid), outputFolder);
                }
            }
            // Not reaped yet: the pid is still this child's.
            kill(pid, SIGKILL);
            do {
                reaped = waitpid(pid, &status, 0);
            } while (reaped == -1 && errno == EINTR);
            break;
        }
    }
    close(reports);
    return reaped == pid ? status : -1;
}

void childAfterFork(const RenderImageProcessData& parentCopy, pid_t parentPid, int reportFd) {
    DetachChildOutput();
    auto* data = new RenderImageProcessData(parentCopy.inputs, parentCopy.outputFolder);
    data->pid = getpid();
    data->reportFd = reportFd;
    QVPrint("Child process start head --- 1 %d, %s", data->pid, data->outputFolder.c_str());
    InstallChildSignalHandling(data->pid, parentPid, false);
    data->filters = parentCopy.filters;
    data->watermarks = parentCopy.watermarks;
    QVPrint("Child process start before --- %d", data->pid);
    render_image_process_main(data);
}

}  // namespace

void render_image_process_main(RenderImageProcessData* data) {
    QVPrint("Child process %d start", data->pid);
    if (RenderChildHoldForTesting) RenderChildHoldForTesting();
    auto* task = new RenderImageTask(data->inputs, data->outputFolder);
    QVPrint("Child RenderImageProcessTask simple start %d", data->pid);
    // Never deleted: the child ends here, and its GL and scene go with it.
    auto* processTask = new RenderImageProcessTask(data, task);
    task->setRenderDelegate(processTask);
    ChildExit(processTask->simple() ? 0 : 1);
}

}  // namespace Core
}  // namespace Quorvane

using namespace Quorvane::Core;

int zr_create_render_image_process(unsigned long* handle, std::vector<std::string> inputs,
                                   std::string outputFolder) {
    if (!handle) return -1;
    RenderForkGateShared gate(RenderForkGate());
    auto* data = new RenderImageProcessData(std::move(inputs), std::move(outputFolder));
    std::lock_guard<std::mutex> guard(RenderRecordLock());
    *handle = reinterpret_cast<unsigned long>(data);
    return 0;
}

int zr_render_image_process_set_filters(unsigned long* handle, std::vector<std::string> filters) {
    return withRecord(handle, -1, [&](RenderImageProcessData& data) { data.filters = std::move(filters); });
}

int zr_render_image_process_add_filter(unsigned long* handle, std::string filter) {
    withRecord(handle, 0, [&](RenderImageProcessData& data) { data.filters.push_back(std::move(filter)); });
    return 0;
}

int zr_render_image_process_set_watermarks(unsigned long* handle, std::vector<Watermark> watermarks) {
    return withRecord(handle, -1, [&](RenderImageProcessData& data) { data.watermarks = std::move(watermarks); });
}

int zr_render_image_process_add_watermark(unsigned long* handle, std::vector<std::string> imagePaths, float x,
                                          float y, float start, float duration, float scaleX, float scaleY) {
    return withRecord(handle, -1, [&](RenderImageProcessData& data) {
        data.watermarks.push_back(
            Watermark::fromHost(std::move(imagePaths), x, y, start, duration, scaleX, scaleY));
    });
}

namespace {
int startImageRecord(RenderImageProcessData* data, const RenderImageProcessData& copy);
}  // namespace

int zr_render_image_process_start(unsigned long* handle) {
    // Forking from a video render's status callback would wait for this very
    // thread to leave the gate.
    const bool fromCallback = InsideRenderForkGate();
    RenderImageProcessData* data;
    // The child works from this copy; the record itself stays the parent's.
    std::unique_ptr<RenderImageProcessData> copy;
    {
        RenderForkGateShared gate(RenderForkGate());
        std::lock_guard<std::mutex> guard(RenderRecordLock());
        data = RecordInSlot<RenderImageProcessData>(handle);
        if (!data) return 0;
        if (fromCallback) {
            QVPrint("Start render image process refused: called from a status callback, %s",
                    data->outputFolder.c_str());
            return 1;
        }
        if (!ClaimRenderStart(data->claim)) {
            // Two children would write the same outputs at once.
            QVPrint("Start render image process refused: this render is running already, %s",
                    data->outputFolder.c_str());
            return 1;
        }
        copy = std::make_unique<RenderImageProcessData>(*data);
    }
    // From here the claim keeps the record alive, whatever a release does.
    int result = startImageRecord(data, *copy);
    RenderForkGateShared gate(RenderForkGate());
    copy.reset();
    // Released while it ran: freed now that nothing works on it.
    if (EndRenderStart(data->claim)) delete data;
    return result;
}

namespace {

int startImageRecord(RenderImageProcessData* data, const RenderImageProcessData& copy) {
    const std::string& outputFolder = copy.outputFolder;
    pid_t parentPid = getpid();
    // The child's reports: [0] the parent's end, [1] the child's.
    int reports[2];
    {
        RenderForkGateShared gate(RenderForkGate());
        QVPrint("Start render image process for output:%s", outputFolder.c_str());
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, reports) != 0) {
            int err = errno;
            QVPrint("Failed create report socket, errno: %d %s, %s", err, strerror(err), outputFolder.c_str());
            return 1;
        }
    }
    pid_t pid;
    {
        std::unique_lock<RenderForkGateLock> gate(RenderForkGate());
        pid = fork();
        // The child never returns, so it never releases its copy of the gate.
        if (pid == 0) {
            close(reports[0]);
            childAfterFork(copy, parentPid, reports[1]);
        }
    }
    close(reports[1]);

    RenderForkGateShared gate(RenderForkGate());
    if (pid < 0) {
        close(reports[0]);
        QVPrint("Fork process failed with pid : %d, err: %d ", static_cast<int>(parentPid), -1);
        return 1;
    }
    QVPrint("Child process created with pid : %d, %s", static_cast<int>(pid), outputFolder.c_str());
    {
        std::lock_guard<std::mutex> guard(RenderRecordLock());
        data->pid = pid;
    }
    gate.unlock();

    int status = waitForChild(pid, reports[0], outputFolder);

    gate.lock();
    bool exited = status != -1 && WIFEXITED(status);
    bool signalled = status != -1 && WIFSIGNALED(status);
    int exitCode = exited ? WEXITSTATUS(status) : 0;
    QVPrint("Child process exited, pid : %d, exitcode : %d, exitstatus : %d", static_cast<int>(pid),
            signalled ? 0 : 1, exitCode);
    if (signalled) QVPrint("Child pid %d killed by %d", static_cast<int>(pid), WTERMSIG(status));
    if (!exited || exitCode != 0) {
        QVPrint("Child process 1 pid %d", static_cast<int>(pid));
        return 1;
    }
    return 0;
}

}  // namespace

void zr_render_image_process_release(unsigned long* handle) {
    RenderForkGateShared gate(RenderForkGate());
    RenderImageProcessData* data;
    {
        std::lock_guard<std::mutex> guard(RenderRecordLock());
        data = RecordInSlot<RenderImageProcessData>(handle);
        if (!data) return;
        if (!DetachForRelease(handle, data->claim, false)) return;
    }
    delete data;
}
