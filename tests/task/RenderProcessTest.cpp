// The native host interface driven as a host drives it: real forked render
// children, the real message queue, the real encoder and mux.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <thread>

#include "ImageTestSupport.h"
#include "TaskTestSupport.h"
#include "support/TestSupport.h"
#include "task/HostEntry.h"
#include "task/quorvane.h"

using QvTaskTest::CallbackRecorder;
using QvTest::TempDir;

namespace {

const std::vector<std::string> kInfoKeys = {"duration", "encodeTime", "renderTime", "totalTime"};

std::vector<std::string> infoKeys(unsigned long* handle) {
    std::vector<std::string> keys;
    for (const auto& entry : zr_render_process_rendered_info(handle)) keys.push_back(entry.first);
    return keys;
}

// The folder of the renders whose child is held before "start" (ChildHold);
// released, the child finds no template there and cancels.
std::string heldTemplate(const TempDir& dir) {
    return dir.file("held") + "/";
}

using QvTaskTest::ChildHold;
using QvTaskTest::HostThread;
using QvTaskTest::queueExists;
using QvTaskTest::renderQueue;
using QvTaskTest::waitForOneChild;

TEST(RenderProcess, NullHandlesAndFreshRecord) {
    EXPECT_EQ(0, zr_render_process_start(nullptr, nullptr));
    unsigned long zero = 0;
    EXPECT_EQ(0, zr_render_process_start(&zero, nullptr));
    EXPECT_EQ(nullptr, zr_render_process_status(&zero));
    EXPECT_EQ(0.0f, zr_render_process_progress(nullptr));
    EXPECT_TRUE(zr_render_process_rendered_info(nullptr).empty());
    EXPECT_EQ(1, zr_render_process_set_dynamic_sub_files(nullptr, "[]"));
    EXPECT_EQ(1, zr_render_process_set_dynamic_sub_texts(&zero, "[]"));
    std::vector<std::string> files = {"a.png"};
    EXPECT_EQ(-1, zr_render_process_set_replaceable_files(&zero, &files));
    EXPECT_EQ(-1, zr_render_process_set_music_path(&zero, "m.mp3", true));
    EXPECT_EQ(-1, zr_render_process_set_music_volume(nullptr, 0.5f));
    EXPECT_EQ(-1, zr_render_process_set_snapshot_frames(&zero, {1, 2}));
    EXPECT_EQ(-1, zr_render_process_set_bitrate_control(&zero, 0.5f));
    EXPECT_EQ(-1, zr_render_process_add_watermark(&zero, {"w.png"}, 1, 2, 3, 4, 5, 6));
    zr_render_process_release(nullptr);
    zr_render_process_release(&zero);

    unsigned long handle = 0;
    ASSERT_EQ(0, zr_create_render_process(&handle, "/nowhere/", "/tmp/out.mp4", 3));
    ASSERT_NE(0u, handle);
    EXPECT_STREQ("init", zr_render_process_status(&handle));
    EXPECT_EQ(0.0f, zr_render_process_progress(&handle));
    EXPECT_EQ(0, zr_render_process_set_music_path(&handle, "m.mp3", true));
    EXPECT_EQ(0, zr_render_process_set_dynamic_sub_files(&handle, "[]"));
    EXPECT_EQ(0, zr_render_process_add_watermark(&handle, {"w.png"}, 1, 2, 3, 4, 5, 6));
    EXPECT_EQ(0, zr_render_process_set_music_volume(&handle, std::nanf("")));
    EXPECT_EQ(0, zr_render_process_set_bitrate_control(&handle, 1e30f));
    EXPECT_EQ(0, zr_render_process_set_bitrate_control(&handle, 2.0f));
    zr_render_process_release(&handle);
    EXPECT_EQ(0u, handle);
    zr_render_process_release(&handle);  // a second release does nothing

    EXPECT_TRUE(zr_msg_key_compare("end", "end"));
    EXPECT_FALSE(zr_msg_key_compare("end", "fail"));
    EXPECT_FALSE(zr_msg_key_compare(nullptr, nullptr));
}

TEST(RenderProcess, MissingTemplateIsCancelledWithZeroInfo) {
    TempDir dir("qvproc");
    std::string folder = dir.file("absent") + "/";
    unsigned long handle = 0;
    ASSERT_EQ(0, zr_create_render_process(&handle, folder.c_str(), dir.file("out.mp4").c_str(), 5));
    int result;
    std::string log;
    {
        QvTaskTest::StderrCapture capture(dir.file("stderr.txt"));
        result = zr_render_process_start(&handle, CallbackRecorder::callback);
        log = capture.stop();
    }
    EXPECT_EQ(0, result);
    EXPECT_STREQ("cancel", zr_render_process_status(&handle));
    EXPECT_EQ(std::vector<std::string>{"cancel"}, CallbackRecorder::instance().words(&handle));
    auto info = zr_render_process_rendered_info(&handle);
    EXPECT_EQ(kInfoKeys, infoKeys(&handle));
    for (const auto& entry : info) EXPECT_EQ("0.000000", entry.second) << entry.first;
    EXPECT_NE(std::string::npos,
              log.find("Invalid template, please check template path or template config.json"));
    EXPECT_EQ(std::string::npos, log.find("kill child"));
    EXPECT_FALSE(queueExists(renderQueue(handle)));
    EXPECT_TRUE(QvTaskTest::childProcesses().empty());
    CallbackRecorder::instance().clear(&handle);
    zr_render_process_release(&handle);
}

// A child that never says "start" is killed by the watchdog: its log line,
// then the kill (signal 9) as the parent saw it.
TEST(RenderProcess, WatchdogKillsChildThatNeverStarts) {
    TempDir dir("qvproc");
    std::string folder = heldTemplate(dir);
    ChildHold hold;
    unsigned long handle = 0;
    ASSERT_EQ(0, zr_create_render_process(&handle, folder.c_str(), dir.file("out.mp4").c_str(), 9));
    int result = -1;
    std::string log;
    {
        QvTaskTest::StderrCapture capture(dir.file("stderr.txt"));
        std::promise<int> done;
        std::future<int> finished = done.get_future();
        HostThread host([&] { done.set_value(zr_render_process_start(&handle, CallbackRecorder::callback)); });
        // A generous outer guard: should the watchdog never act, the child is
        // let go (it then cancels) rather than the suite hanging.
        if (finished.wait_for(std::chrono::seconds(120)) != std::future_status::ready) {
            ADD_FAILURE() << "no watchdog after 120 s";
            hold.release();
        }
        host.join();
        result = finished.get();
        log = capture.stop();
    }
    EXPECT_EQ(1, result);
    EXPECT_STREQ("crash", zr_render_process_status(&handle));
    // Once from the receiver, once more from the calling thread.
    EXPECT_EQ((std::vector<std::string>{"crash", "crash"}), CallbackRecorder::instance().words(&handle));
    const size_t killed = log.find("Child process start failed, kill child pid : ");
    ASSERT_NE(std::string::npos, killed) << log;
    EXPECT_NE(std::string::npos, log.find(" killed by 9\n", killed)) << log;
    // Held, the child never reached its own signal report.
    EXPECT_EQ(std::string::npos, log.find("Child receive signo")) << log;
    EXPECT_FALSE(queueExists(renderQueue(handle)));
    EXPECT_TRUE(QvTaskTest::childProcesses().empty());
    CallbackRecorder::instance().clear(&handle);
    zr_render_process_release(&handle);
}

// SIGTERM reaches the child's own crash report: the handler logs, sends
// "crash" and exits; the parent reports "crash" and nothing is left behind.
TEST(RenderProcess, TerminatedChildIsACrashAndLeavesNothing) {
    TempDir dir("qvproc");
    std::string folder = heldTemplate(dir);
    std::string output = dir.file("out.mp4");
    ChildHold hold;
    int descriptorsBefore = QvTaskTest::openDescriptorCount();
    unsigned long handle = 0;
    ASSERT_EQ(0, zr_create_render_process(&handle, folder.c_str(), output.c_str(), 11));
    std::atomic<int> result{-1};
    std::string log;
    {
        QvTaskTest::StderrCapture capture(dir.file("stderr.txt"));
        HostThread host([&] { result = zr_render_process_start(&handle, CallbackRecorder::callback); });
        ASSERT_TRUE(hold.waitUntilHeld());
        int child = waitForOneChild();
        ASSERT_GT(child, 0);
        kill(child, SIGTERM);
        host.join();
        log = capture.stop();
    }
    EXPECT_EQ(1, result.load());
    EXPECT_STREQ("crash", zr_render_process_status(&handle));
    EXPECT_EQ((std::vector<std::string>{"crash", "crash"}), CallbackRecorder::instance().words(&handle));
    EXPECT_NE(std::string::npos, log.find("Child receive signo  pid  ")) << log;
    EXPECT_NE(std::string::npos, log.find(", signo = 15\n"));
    EXPECT_FALSE(queueExists(renderQueue(handle)));
    EXPECT_TRUE(QvTaskTest::childProcesses().empty());
    EXPECT_FALSE(QvTaskTest::workFolderLeft(output));
    EXPECT_EQ(descriptorsBefore, QvTaskTest::openDescriptorCount());
    CallbackRecorder::instance().clear(&handle);
    zr_render_process_release(&handle);
}

// A stopped child counts as died; it is killed and reaped, not left stopped.
TEST(RenderProcess, StoppedChildIsKilledAndReaped) {
    TempDir dir("qvproc");
    std::string folder = heldTemplate(dir);
    ChildHold hold;
    unsigned long handle = 0;
    ASSERT_EQ(0, zr_create_render_process(&handle, folder.c_str(), dir.file("out.mp4").c_str(), 12));
    std::atomic<int> result{-1};
    HostThread host([&] { result = zr_render_process_start(&handle, nullptr); });
    ASSERT_TRUE(hold.waitUntilHeld());
    int child = waitForOneChild();
    ASSERT_GT(child, 0);
    kill(child, SIGSTOP);
    host.join();
    EXPECT_EQ(1, result.load());
    EXPECT_STREQ("crash", zr_render_process_status(&handle));
    EXPECT_TRUE(QvTaskTest::childProcesses().empty());
    EXPECT_FALSE(queueExists(renderQueue(handle)));
    zr_render_process_release(&handle);
}

void ignoreSignal(int) {}

// Messages put into the render's queue from outside while the child is
// blocked: malformed texts change nothing, the first value of an information
// key stays, and signals that interrupt the receiver's wait are no failures.
TEST(RenderProcess, ReceiverParsesMessagesAndSurvivesSignals) {
    TempDir dir("qvproc");
    std::string folder = heldTemplate(dir);
    ChildHold hold;
    unsigned long handle = 0;
    ASSERT_EQ(0, zr_create_render_process(&handle, folder.c_str(), dir.file("out.mp4").c_str(), 13));

    struct sigaction action, previous;
    memset(&action, 0, sizeof action);
    action.sa_handler = ignoreSignal;  // no SA_RESTART: msgrcv fails with EINTR
    sigaction(SIGUSR1, &action, &previous);

    std::atomic<int> result{-1};
    HostThread host([&] { result = zr_render_process_start(&handle, CallbackRecorder::callback); });
    ASSERT_TRUE(hold.waitUntilHeld());
    int child = waitForOneChild();
    ASSERT_GT(child, 0);

    // Interrupt every other thread of this process (the receiver among them)
    // well over ten times.
    pid_t self = static_cast<pid_t>(syscall(SYS_gettid));
    for (int round = 0; round < 15; ++round) {
        DIR* tasks = opendir("/proc/self/task");
        while (dirent* entry = readdir(tasks)) {
            pid_t tid = static_cast<pid_t>(atoi(entry->d_name));
            if (tid > 0 && tid != self) syscall(SYS_tgkill, getpid(), tid, SIGUSR1);
        }
        closedir(tasks);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }

    int queue = renderQueue(handle);
    ASSERT_TRUE(queueExists(queue));
    for (const char* text : {"update", "bogus", "update:0.250000", "duration:1.500000", "duration:9.000000",
                             "start", "update:0.500000"}) {
        struct {
            long type;
            char text[256];
        } message = {2, {}};
        strncpy(message.text, text, sizeof message.text - 1);
        ASSERT_EQ(0, msgsnd(queue, &message, sizeof message.text, 0));
    }
    // Give the receiver the time to read them, then end the child.
    for (int i = 0; i < 200 && zr_render_process_progress(&handle) != 0.5f; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(child, SIGTERM);
    host.join();
    sigaction(SIGUSR1, &previous, nullptr);

    EXPECT_EQ(1, result.load());
    EXPECT_FLOAT_EQ(0.5f, zr_render_process_progress(&handle));
    auto info = zr_render_process_rendered_info(&handle);
    EXPECT_EQ(1u, info.size());
    EXPECT_EQ("1.500000", info["duration"]);
    EXPECT_EQ((std::vector<std::string>{"update", "start", "update", "crash", "crash"}),
              CallbackRecorder::instance().words(&handle));
    CallbackRecorder::instance().clear(&handle);
    zr_render_process_release(&handle);
}

}  // namespace

namespace {

// The queue vanishes under a running render: the receiver gives up after its
// failed waits, and a child that then exits normally without being heard is
// no success.
TEST(RenderProcess, LostQueueIsNoSuccess) {
    TempDir dir("qvproc");
    std::string folder = heldTemplate(dir);
    ChildHold hold;
    unsigned long handle = 0;
    ASSERT_EQ(0, zr_create_render_process(&handle, folder.c_str(), dir.file("out.mp4").c_str(), 14));
    std::atomic<int> result{-1};
    QvTaskTest::StderrCapture capture(dir.file("stderr.txt"));
    HostThread host([&] { result = zr_render_process_start(&handle, CallbackRecorder::callback); });
    ASSERT_TRUE(hold.waitUntilHeld());
    int queue = renderQueue(handle);
    ASSERT_EQ(0, msgctl(queue, IPC_RMID, nullptr));
    // Let the receiver run out of patience, then let the child go on: it finds
    // no template and cancels, its reports go nowhere, and it exits with 0.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    hold.release();
    host.join();
    std::string log = capture.stop();
    // The receiver gave up on its own; the child ended by itself with 0, not
    // by the watchdog.
    EXPECT_NE(std::string::npos, log.find(" receive failcount : 11, crash\n")) << log;
    EXPECT_NE(std::string::npos, log.find(", exitcode : 1, exitstatus : 0\n")) << log;
    EXPECT_EQ(std::string::npos, log.find("kill child pid")) << log;
    EXPECT_EQ(std::string::npos, log.find(" killed by ")) << log;
    EXPECT_EQ(1, result.load());
    EXPECT_STREQ("crash", zr_render_process_status(&handle));
    // No word from the receiver (it never heard one), one from the caller.
    EXPECT_EQ(std::vector<std::string>{"crash"}, CallbackRecorder::instance().words(&handle));
    EXPECT_TRUE(QvTaskTest::childProcesses().empty());
    CallbackRecorder::instance().clear(&handle);
    zr_render_process_release(&handle);
}

}  // namespace

namespace {

unsigned long gOtherHandle = 0;
std::atomic<int> gNestedStart{-2};
std::atomic<size_t> gInfoSeen{0};

void reenteringCallback(unsigned long* handle, const char* status) {
    gInfoSeen = zr_render_process_rendered_info(handle).size();
    if (strcmp(status, "cancel") == 0) gNestedStart = zr_render_process_start(&gOtherHandle, nullptr);
}

// A callback may read its handle; a start from inside it is refused, not a
// deadlock, and the render that called it ends normally.
TEST(RenderProcess, CallbackMayReadButNotStart) {
    TempDir dir("qvproc");
    unsigned long handle = 0;
    ASSERT_EQ(0, zr_create_render_process(&handle, dir.file("none").c_str(), dir.file("a.mp4").c_str(), 15));
    ASSERT_EQ(
        0, zr_create_render_process(&gOtherHandle, dir.file("none").c_str(), dir.file("b.mp4").c_str(), 16));
    EXPECT_EQ(0, zr_render_process_start(&handle, reenteringCallback));
    EXPECT_EQ(1, gNestedStart.load());
    EXPECT_EQ(4u, gInfoSeen.load());
    EXPECT_STREQ("cancel", zr_render_process_status(&handle));
    EXPECT_STREQ("init", zr_render_process_status(&gOtherHandle));
    zr_render_process_release(&gOtherHandle);
    zr_render_process_release(&handle);
}

}  // namespace

namespace {

// A queue under the key an older engine (or a dead host) would have used for
// this template and key, with messages in it: the render neither reads it
// nor removes it, since it is not its own.
TEST(RenderProcess, KeyedQueueOfAnotherIsNeitherReadNorRemoved) {
    TempDir dir("qvproc");
    std::string folder = dir.file("absent") + "/";
    mkdir(folder.c_str(), 0755);  // ftok needs the folder; config.json stays missing
    int stale = msgget(ftok(folder.c_str(), 17), IPC_CREAT | 0666);
    ASSERT_NE(-1, stale);
    for (const char* text : {"update:0.500000", "duration:7.000000", "end"}) {
        struct {
            long type;
            char text[256];
        } message = {2, {}};
        strncpy(message.text, text, sizeof message.text - 1);
        ASSERT_EQ(0, msgsnd(stale, &message, sizeof message.text, 0));
    }
    unsigned long handle = 0;
    ASSERT_EQ(0, zr_create_render_process(&handle, folder.c_str(), dir.file("out.mp4").c_str(), 17));
    EXPECT_EQ(0, zr_render_process_start(&handle, CallbackRecorder::callback));
    EXPECT_STREQ("cancel", zr_render_process_status(&handle));
    EXPECT_EQ(0.0f, zr_render_process_progress(&handle));
    EXPECT_EQ("0.000000", zr_render_process_rendered_info(&handle)["duration"]);
    EXPECT_EQ(std::vector<std::string>{"cancel"}, CallbackRecorder::instance().words(&handle));
    EXPECT_FALSE(queueExists(renderQueue(handle)));
    EXPECT_TRUE(queueExists(stale));
    msgctl(stale, IPC_RMID, nullptr);
    CallbackRecorder::instance().clear(&handle);
    zr_render_process_release(&handle);
}

}  // namespace

namespace {

// Folders that do not exist give no queue key: renders of them, side by side
// and beside a normal render, still each hear only their own child, and none
// removes another's queue as a stale one.
TEST(RenderProcess, MissingFolderRendersKeepTheirQueuesApart) {
    TempDir dir("qvproc");
    std::string solid = QvTaskTest::writeSolidTemplate(dir, "solid", 32, 32, 10, 3, "#FF0000");
    const std::string folders[3] = {dir.file("gone1") + "/", dir.file("gone2") + "/", solid};
    for (int round = 0; round < 3; ++round) {
        unsigned long handles[3] = {0, 0, 0};
        std::atomic<int> results[3] = {{-1}, {-1}, {-1}};
        for (int i = 0; i < 3; ++i) {
            std::string output = dir.file("out" + std::to_string(i) + ".mp4");
            ASSERT_EQ(0, zr_create_render_process(&handles[i], folders[i].c_str(), output.c_str(), 21));
        }
        {
            // The threads also end together: one torn down (which takes the
            // runtime's locks, the sanitizer's allocator among them) while
            // another forks would leave that child hung.
            QvTaskTest::Rendezvous together(3), done(3);
            std::vector<std::unique_ptr<HostThread>> hosts;
            for (int i = 0; i < 3; ++i) {
                hosts.push_back(std::make_unique<HostThread>([&, i] {
                    together.arriveAndWait();
                    results[i] = zr_render_process_start(&handles[i], CallbackRecorder::callback);
                    done.arriveAndWait();
                }));
            }
            for (auto& host : hosts) host->join();
        }
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(0, results[i].load()) << round << " " << i;
            EXPECT_STREQ("cancel", zr_render_process_status(&handles[i])) << round << " " << i;
            EXPECT_EQ(std::vector<std::string>{"cancel"}, CallbackRecorder::instance().words(&handles[i]));
            EXPECT_EQ("0.000000", zr_render_process_rendered_info(&handles[i])["duration"]);
        }
        EXPECT_EQ(0, results[2].load()) << round;
        EXPECT_STREQ("end", zr_render_process_status(&handles[2])) << round;
        std::vector<std::string> words = CallbackRecorder::instance().words(&handles[2]);
        ASSERT_FALSE(words.empty());
        EXPECT_EQ("start", words.front());
        EXPECT_EQ("end", words.back());
        EXPECT_EQ("0.300000", zr_render_process_rendered_info(&handles[2])["duration"]);
        for (unsigned long& handle : handles) {
            CallbackRecorder::instance().clear(&handle);
            zr_render_process_release(&handle);
        }
    }
    EXPECT_TRUE(QvTaskTest::childProcesses().empty());
}

// Renders whose child is gone at once: whatever the watchdog managed to take
// before it was joined is freed (the sanitizer build checks for leaks at exit).
TEST(RenderProcess, ManyInstantRendersLeaveNothing) {
    TempDir dir("qvproc");
    for (int i = 0; i < 40; ++i) {
        unsigned long handle = 0;
        ASSERT_EQ(0,
                  zr_create_render_process(&handle, dir.file("none").c_str(), dir.file("o.mp4").c_str(), 22));
        EXPECT_EQ(0, zr_render_process_start(&handle, nullptr));
        EXPECT_STREQ("cancel", zr_render_process_status(&handle));
        zr_render_process_release(&handle);
    }
    EXPECT_TRUE(QvTaskTest::childProcesses().empty());
}

// A text result of the host-language family, freed as a host frees it.
std::string hostText(char* text) {
    std::string copy = text ? text : "<null>";
    free(text);
    return copy;
}

// Frees what a read returned inside the fork gate, as the library's own
// threads do: a host thread freeing while a render forks could leave the
// sanitizer's allocator locked in the child.
void freeInsideGate(char* text) {
    Quorvane::Core::RenderForkGateShared gate(Quorvane::Core::RenderForkGate());
    free(text);
}

void freeInsideGate(std::map<std::string, std::string> info) {
    Quorvane::Core::RenderForkGateShared gate(Quorvane::Core::RenderForkGate());
    info.clear();
}

// Host calls around a running start, through both entry families: a second
// start is refused at once and changes nothing, a release from another thread
// frees the render only once the start has returned (the sanitizer build
// checks that nothing is used after its free), and the render completes.
// Meanwhile a second host thread polls status, progress and information
// until after the start has returned: from the release on, the handle names
// nothing. The still-image family defers its release the same way.
// Renders started at once from many threads, each polled without a pause by a
// thread of its own, all end; a read that a thread inside the gate waits for
// gets in while a start waits to fork.
// Then SIGTERM to a host's whole process group at moments spread over its
// render (frames, mux, end): whichever of host and child dies first, no
// queue of theirs is left, 20 runs of 20.
TEST(RenderProcess, HostCallsAroundARunningStart) {
    TempDir dir("qvproc");
    std::string folder = QvTaskTest::writeSolidTemplate(dir, "green", 32, 32, 25, 3, "#00FF00");
    // Every function of a family works on one of kRecords records.
    constexpr int kRecords = 8;
    struct Family {
        const char* name;
        std::function<void(int, const std::string&)> create;
        std::function<int(int)> start;
        std::function<std::string(int)> status;
        std::function<void(int)> release;
        std::function<std::vector<std::string>(int)> poll;  // status, progress, information
        // One round of the same reads that allocates nothing outside the fork
        // gate, for polling while other renders fork.
        std::function<void(int)> read;
    };
    unsigned long handles[kRecords] = {};
    std::string texts[kRecords];
    const Family families[] = {
        {"native",
         [&](int i, const std::string& out) {
             zr_create_render_process(&handles[i], folder.c_str(), out.c_str(), 41);
         },
         [&](int i) { return zr_render_process_start(&handles[i], nullptr); },
         [&](int i) {
             const char* status = zr_render_process_status(&handles[i]);
             return std::string(status ? status : "");
         },
         [&](int i) { zr_render_process_release(&handles[i]); },
         [&](int i) {
             const char* status = zr_render_process_status(&handles[i]);
             std::vector<std::string> read = {status ? status : "<none>"};
             read.push_back(std::to_string(zr_render_process_progress(&handles[i])));
             read.push_back(std::to_string(zr_render_process_rendered_info(&handles[i]).size()));
             return read;
         },
         [&](int i) {
             zr_render_process_status(&handles[i]);
             zr_render_process_progress(&handles[i]);
             freeInsideGate(zr_render_process_rendered_info(&handles[i]));
         }},
        {"host language",
         [&](int i, const std::string& out) {
             texts[i] = hostText(nCreateRenderProcess(folder.c_str(), out.c_str(), 42));
         },
         [&](int i) { return nRenderProcessStart(texts[i].c_str()); },
         [&](int i) { return hostText(nRenderProcessStatus(texts[i].c_str())); },
         [&](int i) { nRenderProcessRelease(texts[i].c_str()); },
         [&](int i) {
             std::vector<std::string> read = {hostText(nRenderProcessStatus(texts[i].c_str()))};
             read.push_back(hostText(nRenderProcessRenderedInfo(texts[i].c_str())));
             return read;
         },
         [&](int i) {
             freeInsideGate(nRenderProcessStatus(texts[i].c_str()));
             freeInsideGate(nRenderProcessRenderedInfo(texts[i].c_str()));
         }},
    };
    // Polls from its own thread until told to stop, keeping each change of
    // each value it reads. It begins after the fork and ends before the next
    // one: a thread allocating while a render forks could leave the
    // sanitizer's allocator locked in the child.
    class Poller {
    public:
        explicit Poller(const std::function<std::vector<std::string>()>& poll)
            : thread_([this, poll] {
                  while (!stop_) {
                      std::vector<std::string> read = poll();
                      std::lock_guard<std::mutex> guard(lock_);
                      seen_.resize(read.size());
                      for (size_t i = 0; i < read.size(); ++i) {
                          if (seen_[i].empty() || seen_[i].back() != read[i]) seen_[i].push_back(read[i]);
                      }
                      ++polls_;
                  }
              }) {}
        // Returns once it has polled `more` times after this call.
        void await(int more) {
            auto polled = [this] {
                std::lock_guard<std::mutex> guard(lock_);
                return polls_;
            };
            const long from = polled();
            while (polled() < from + more) std::this_thread::yield();
        }
        // Per value, the texts it went through.
        std::vector<std::vector<std::string>> stop() {
            stop_ = true;
            thread_.join();
            return seen_;
        }

    private:
        std::atomic<bool> stop_{false};
        std::mutex lock_;
        std::vector<std::vector<std::string>> seen_;
        long polls_ = 0;
        std::thread thread_;
    };
    for (const Family& family : families) {
        SCOPED_TRACE(family.name);
        std::string output = dir.file(std::string(family.name) + ".mp4");
        family.create(0, output);
        ChildHold hold;
        int result = -2;
        HostThread host([&] { result = family.start(0); });
        ASSERT_TRUE(hold.waitUntilHeld());
        const std::vector<std::string> unstarted = family.poll(0);
        Poller poller([&] { return family.poll(0); });
        poller.await(1);
        const std::string before = family.status(0);
        EXPECT_EQ(1, family.start(0));
        EXPECT_EQ(before, family.status(0));
        EXPECT_EQ(1u, QvTaskTest::childProcesses().size());
        family.release(0);
        EXPECT_EQ("", family.status(0));  // the released handle names nothing
        const std::vector<std::string> nothing = family.poll(0);
        hold.release();
        host.join();
        poller.await(100);
        // Each value went from what the held render showed to what no render
        // shows, in one step (the polls are separate calls: the release may
        // fall between two of one round).
        const std::vector<std::vector<std::string>> seen = poller.stop();
        ASSERT_EQ(unstarted.size(), seen.size());
        for (size_t i = 0; i < seen.size(); ++i) {
            std::vector<std::string> expected = {unstarted[i], nothing[i]};
            if (unstarted[i] == nothing[i]) expected.pop_back();
            EXPECT_EQ(expected, seen[i]) << i;
        }
        EXPECT_EQ(0, result);
        EXPECT_EQ("3", QvTest::probe(output, "v:0", "nb_read_frames"));
        EXPECT_TRUE(QvTaskTest::childProcesses().empty());
        family.release(0);  // nothing left to release
    }

    {
        std::string image = dir.file("still.png");
        ASSERT_TRUE(QvTest::makeImage(image, 8, 8, {200, 10, 10}));
        std::string stills = dir.file("stills");
        ASSERT_EQ(0, mkdir(stills.c_str(), 0755));
        unsigned long still = 0;
        ASSERT_EQ(0, zr_create_render_image_process(&still, {image}, stills));
        zr_render_image_process_add_filter(
            &still, QvImageTest::writeTintFilter(dir, "tint", 8, 8, "#0000FF", 0.25f, 0, 0, 8, 8));
        ChildHold hold;
        int result = -2;
        HostThread host([&] { result = zr_render_image_process_start(&still); });
        ASSERT_TRUE(hold.waitUntilHeld());
        EXPECT_EQ(1, zr_render_image_process_start(&still));
        EXPECT_EQ(1u, QvTaskTest::childProcesses().size());
        zr_render_image_process_release(&still);
        EXPECT_EQ(0u, still);
        EXPECT_EQ(-1, zr_render_image_process_add_watermark(&still, {image}, 0, 0, 0, 1, 1, 1));
        hold.release();
        host.join();
        EXPECT_EQ(0, result);
        // Rendered through the filter all the same.
        QvImageTest::Image written = QvImageTest::decode(stills + "/still.png");
        ASSERT_EQ(8, written.width);
        const QvImageTest::Rgba tinted = QvImageTest::tinted({200, 10, 10, 255}, {0, 0, 255, 255}, 0.25f);
        EXPECT_TRUE(QvImageTest::near(written.at(4, 4), tinted, 2)) << QvImageTest::describe(written.at(4, 4));
        EXPECT_TRUE(QvTaskTest::childProcesses().empty());
    }

    // Renders started at once from as many threads, still images among them,
    // each video record read by a thread of its own without a pause: every
    // start gets its fork and every render ends. Should the starts stay
    // stuck, a generous outer guard stops the readers.
    {
        const std::string image = dir.file("many.png");
        ASSERT_TRUE(QvTest::makeImage(image, 8, 8, {10, 200, 10}));
        const std::string filter =
            QvImageTest::writeTintFilter(dir, "many tint", 8, 8, "#0000FF", 0.25f, 0, 0, 8, 8);
        constexpr int kStills = 2, kStarts = kRecords + kStills;
        unsigned long stills[kStills] = {};
        for (const Family& family : families) {
            SCOPED_TRACE(family.name);
            const std::string prefix = dir.file(std::string("many ") + family.name);
            for (int i = 0; i < kRecords; ++i) family.create(i, prefix + std::to_string(i) + ".mp4");
            for (int i = 0; i < kStills; ++i) {
                const std::string folder = prefix + " still" + std::to_string(i);
                ASSERT_EQ(0, mkdir(folder.c_str(), 0755));
                ASSERT_EQ(0, zr_create_render_image_process(&stills[i], {image}, folder));
                zr_render_image_process_add_filter(&stills[i], filter);
            }
            std::vector<int> results(kStarts, -2);
            std::atomic<int> returned{0};
            std::atomic<bool> stop{false};
            int waiting = 0;  // starts still waiting when the guard fired
            {
                QvTest::StderrRedirect quiet;  // the host language family logs every read
                // The threads begin and end together, so that none is set up or
                // torn down (which allocates) while another forks.
                QvTaskTest::Rendezvous together(kStarts + 1), done(kStarts);
                std::vector<std::unique_ptr<HostThread>> threads;
                for (int i = 0; i < kRecords; ++i)
                    threads.push_back(std::make_unique<HostThread>([&, i] {
                        while (!stop) family.read(i);
                    }));
                for (int i = 0; i < kStarts; ++i) {
                    threads.push_back(std::make_unique<HostThread>([&, i] {
                        together.arriveAndWait();
                        results[i] = i < kRecords ? family.start(i)
                                                  : zr_render_image_process_start(&stills[i - kRecords]);
                        ++returned;
                        done.arriveAndWait();
                    }));
                }
                together.arriveAndWait();
                const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(120);
                while (returned < kStarts && !waiting) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    if (std::chrono::steady_clock::now() > limit) waiting = kStarts - returned;
                }
                stop = true;
                for (auto& thread : threads) thread->join();
            }
            EXPECT_EQ(0, waiting) << "starts still waiting after 120 s";
            for (int i = 0; i < kRecords; ++i) {
                EXPECT_EQ(0, results[i]) << i;
                EXPECT_EQ("end", family.status(i)) << i;
                EXPECT_EQ("3", QvTest::probe(prefix + std::to_string(i) + ".mp4", "v:0", "nb_read_frames"))
                    << i;
                family.release(i);
            }
            for (int i = 0; i < kStills; ++i) {
                EXPECT_EQ(0, results[kRecords + i]) << i;
                EXPECT_EQ(8, QvImageTest::decode(prefix + " still" + std::to_string(i) + "/many.png").width)
                    << i;
                zr_render_image_process_release(&stills[i]);
            }
            EXPECT_TRUE(QvTaskTest::childProcesses().empty());
        }
    }

    // A thread inside the fork gate (as a status callback is) that waits for
    // another thread's read while a start waits to fork: the read gets in all
    // the same, then the start forks and its render ends.
    for (const Family& family : families) {
        SCOPED_TRACE(family.name);
        using Quorvane::Core::RenderForkGate;
        family.create(0, dir.file(std::string("pass ") + family.name + ".mp4"));
        int result = -2;
        std::atomic<bool> read{false};
        std::unique_ptr<HostThread> starter, reader;
        {
            Quorvane::Core::RenderForkGateShared callback(RenderForkGate());
            starter = std::make_unique<HostThread>([&] { result = family.start(0); });
            while (!RenderForkGate().forkWaitingForTesting()) std::this_thread::yield();
            reader = std::make_unique<HostThread>([&] {
                family.read(0);
                read = true;
            });
            const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(120);
            while (!read && std::chrono::steady_clock::now() < limit)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            EXPECT_TRUE(read) << "the read stayed out for 120 s";
            // Torn down before the fork, which it would otherwise race.
            if (read) reader->join();
        }
        if (!read) reader->join();
        starter->join();
        EXPECT_EQ(0, result);
        EXPECT_EQ("end", family.status(0));
        family.release(0);
    }

    const std::string cli = std::string(QV_BINARY_DIR) + "/examples/quorvane-render/quorvane-render";
    std::string gray = QvTaskTest::writeSolidTemplate(dir, "gray", 64, 64, 25, 25, "#808080");
    // The orphans (the render child, its ffmpeg) become ours, to be reaped.
    ASSERT_EQ(0, prctl(PR_SET_CHILD_SUBREAPER, 1));
    constexpr int kRuns = 20;
    std::vector<int> queues;
    for (int run = 0; run < kRuns; ++run) {
        std::string output = dir.file("group" + std::to_string(run) + ".mp4");
        pid_t host = fork();
        if (host == 0) {
            setpgid(0, 0);
            int quiet = open("/dev/null", O_WRONLY);
            dup2(quiet, STDOUT_FILENO);
            dup2(quiet, STDERR_FILENO);
            execl(cli.c_str(), cli.c_str(), gray.c_str(), output.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        ASSERT_GT(host, 0);
        setpgid(host, host);
        // The queue is known once the child has said "start" into it.
        int child = -1, queue = -1;
        for (int i = 0; i < 2500 && queue < 0; ++i) {
            std::vector<int> children = QvTaskTest::childProcesses(host);
            if (children.size() == 1) child = children[0];
            if (child > 0) queue = QvTaskTest::queueOf(child);
            if (queue < 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(15 * run));
        kill(-host, SIGTERM);
        // Everyone of the group gone and reaped (ten seconds at most).
        for (int i = 0; i < 1000 && !(kill(-host, 0) != 0 && errno == ESRCH); ++i) {
            while (waitpid(-1, nullptr, WNOHANG) > 0) {
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_TRUE(kill(-host, 0) != 0 && errno == ESRCH) << run;
        EXPECT_GE(queue, 0) << run;
        queues.push_back(queue);
        EXPECT_FALSE(QvTaskTest::queueUsedBy(host)) << run;
        EXPECT_FALSE(QvTaskTest::queueUsedBy(child)) << run;
    }
    prctl(PR_SET_CHILD_SUBREAPER, 0);
    int left = 0;
    for (int queue : queues) left += queueExists(queue);
    EXPECT_EQ(0, left) << "of " << kRuns;
}

}  // namespace
