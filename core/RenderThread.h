// One worker thread that runs queued tasks in submission order, and blocking
// calls that run on the worker between two tasks.
#pragma once

#include <pthread.h>

#include <atomic>
#include <deque>
#include <functional>
#include <thread>
#include <utility>

#include "core/Semaphore.h"

namespace Quorvane {
namespace Core {

class RenderThread;

// The calling thread's platform thread id.
pthread_t RenderThreadGetThreadID();

// Start record shared between a RenderThread and its worker.
struct RenderThreadInfo {
    std::atomic<bool> started{false};
    pthread_t threadId{};
    Semaphore startSignal{0};
    RenderThread* owner = nullptr;
};

class RenderThread {
public:
    using Task = std::function<void()>;

    // Starts the worker; does not wait for it to run.
    RenderThread();
    // Lets the running task finish, drops every task still queued, joins.
    // Called from the worker's own running task, it lets the worker go instead
    // of joining; that task must not touch the object afterwards.
    virtual ~RenderThread();

    RenderThread(const RenderThread&) = delete;
    RenderThread& operator=(const RenderThread&) = delete;

    // Appends the task to the queue and returns at once.
    void async(const Task& task, bool removable = true);
    // Runs the task on the worker and returns once it has run. Called from the
    // worker itself (inside a task) it runs the task in place.
    void sync(const Task& task);

    bool hasTask();
    bool hasAsyncTasks();
    // Drops every queued task; a running task and a pending blocking call complete.
    void clearAllTask();
    // Drops the queued tasks that were submitted as removable. With the flag set
    // (and called from another thread) it returns only after the running task ended.
    void clearAsyncQueue(bool waitForRunning = false);

    // The worker's thread id; waits for the worker to start when needed.
    pthread_t getThreadID();
    void threadJoin();

private:
    static void threadFunctionS(RenderThreadInfo* info);
    void run();
    bool onWorker();

    RenderThreadInfo* info_;
    std::thread* thread_ = nullptr;
    Semaphore syncDone_{0};
    Semaphore syncSlot_{1};
    Semaphore syncCallers_{1};
    Semaphore queueLock_{1};
    Semaphore execLock_{1};
    Semaphore wake_{0};
    Task syncTask_;  // guarded by queueLock_
    std::deque<std::pair<Task, bool>> taskQueue_;
    std::atomic<bool> quit_{false};
    // Set by the worker while a queued task runs: the destructor, called from
    // that task, marks it so that the worker returns at once.
    bool* destroyedByTask_ = nullptr;
};

}  // namespace Core
}  // namespace Quorvane
