#include "core/RenderThread.h"

namespace Quorvane {
namespace Core {

pthread_t RenderThreadGetThreadID() {
    return pthread_self();
}

RenderThread::RenderThread() : info_(new RenderThreadInfo) {
    info_->owner = this;
    thread_ = new std::thread(&RenderThread::threadFunctionS, info_);
}

RenderThread::~RenderThread() {
    quit_.store(true);
    if (onWorker() && destroyedByTask_) {
        // Destroyed by its own running task: a thread cannot join itself, so it
        // is let go, and the worker leaves without touching this object again.
        *destroyedByTask_ = true;
        thread_->detach();
    } else {
        wake_.signal(1);
        threadJoin();
    }
    delete info_;
    delete thread_;
    // The tasks left in the queue and the sync slot die with their members,
    // without running.
}

void RenderThread::threadFunctionS(RenderThreadInfo* info) {
    info->threadId = pthread_self();
    info->startSignal.signal(1);
    info->started.store(true);
    info->owner->run();
}

void RenderThread::run() {
    while (!quit_.load()) {
        wake_.wait();

        // The sync slot is read and emptied under queueLock_: a blocking caller
        // fills it from another thread, so an unguarded read would race with it.
        queueLock_.wait();
        Task sync = std::move(syncTask_);
        syncTask_ = nullptr;
        queueLock_.signal(1);
        if (sync) {
            bool destroyed = false;
            destroyedByTask_ = &destroyed;
            sync();
            if (destroyed) return;
            destroyedByTask_ = nullptr;
            sync = nullptr;
            syncDone_.signal(1);
            syncSlot_.signal(1);
            continue;
        }
        // A wake-up left over from a destruction or a cleared queue finds nothing
        // to do; no queued task starts once destruction has begun.
        if (quit_.load()) break;

        queueLock_.wait();
        if (taskQueue_.empty()) {
            queueLock_.signal(1);
            continue;
        }
        Task task = std::move(taskQueue_.front().first);
        taskQueue_.pop_front();
        queueLock_.signal(1);

        execLock_.wait();
        bool destroyed = false;
        destroyedByTask_ = &destroyed;
        task();
        // Only locals may be touched once the task has destroyed this object.
        if (destroyed) return;
        destroyedByTask_ = nullptr;
        execLock_.signal(1);
        task = nullptr;
    }
}

bool RenderThread::onWorker() {
    return pthread_equal(pthread_self(), getThreadID()) != 0;
}

void RenderThread::async(const Task& task, bool removable) {
    queueLock_.wait();
    taskQueue_.emplace_back(task, removable);
    queueLock_.signal(1);
    wake_.signal(1);
}

void RenderThread::sync(const Task& task) {
    if (onWorker()) {
        task();
        return;
    }
    syncCallers_.wait();
    syncSlot_.wait();
    queueLock_.wait();
    syncTask_ = task;
    queueLock_.signal(1);
    wake_.signal(1);
    syncDone_.wait();
    syncCallers_.signal(1);
}

bool RenderThread::hasTask() {
    queueLock_.wait();
    bool any = !taskQueue_.empty();
    queueLock_.signal(1);
    return any;
}

bool RenderThread::hasAsyncTasks() {
    return hasTask();
}

// From another thread the clearers empty the queue under queueLock_ and only
// then wait for the running task through execLock_, never holding both: the
// worker cannot start another queued task in between (the queue is already
// empty), and a running task may still call async() or hasTask() without
// waiting for a clearer that waits for it.
void RenderThread::clearAllTask() {
    std::deque<std::pair<Task, bool>> old;
    if (onWorker()) {
        queueLock_.wait();
        old.swap(taskQueue_);
        queueLock_.signal(1);
        return;
    }
    syncSlot_.wait();  // a pending blocking call completes first
    queueLock_.wait();
    old.swap(taskQueue_);
    queueLock_.signal(1);
    execLock_.wait();
    execLock_.signal(1);
    syncSlot_.signal(1);
}

void RenderThread::clearAsyncQueue(bool waitForRunning) {
    bool worker = onWorker();
    std::deque<std::pair<Task, bool>> dropped;
    std::deque<std::pair<Task, bool>> kept;
    queueLock_.wait();
    for (auto& entry : taskQueue_) {
        if (entry.second) {
            dropped.push_back(std::move(entry));
        } else {
            kept.push_back(std::move(entry));
        }
    }
    taskQueue_.swap(kept);
    queueLock_.signal(1);
    if (waitForRunning && !worker) {
        execLock_.wait();
        execLock_.signal(1);
    }
}

pthread_t RenderThread::getThreadID() {
    if (!info_->started.load()) {
        // Pass the start on, so that every early caller gets through.
        info_->startSignal.wait();
        info_->startSignal.signal(1);
    }
    return info_->threadId;
}

void RenderThread::threadJoin() {
    if (thread_ && thread_->joinable() && std::this_thread::get_id() != thread_->get_id()) thread_->join();
}

}  // namespace Core
}  // namespace Quorvane
