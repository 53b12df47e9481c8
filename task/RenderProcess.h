// The render record behind a host handle, the message format between a render
// child and its parent, and the child's entry point.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "scene/Watermark.h"
#include "task/RenderChild.h"
#include "task/quorvane.h"

namespace Quorvane {
namespace Core {

class RenderThread;

constexpr long kRenderMessageType = 2;
constexpr size_t kRenderMessageTextSize = 256;

// One System V message; the text is always sent whole, NUL-terminated.
struct RenderMessage {
    long type = kRenderMessageType;
    char text[kRenderMessageTextSize] = {};
};

// Sends `text` (cut to 255 bytes) from a buffer of its own; blocks while the
// queue is full, retries when a signal interrupts. Returns false on failure.
bool SendRenderMessage(int queueId, const char* text);

struct RenderProcessData {
    RenderProcessData(const std::string& templatePath, const std::string& outputPath, int key);
    ~RenderProcessData();

    int key;
    int pid = 0;
    std::string templatePath;
    std::string outputPath;
    std::atomic<float> progress{0.0f};
    // Always IPC_PRIVATE once started: each render's queue is its own, made by
    // the parent before the fork and known to the child by its id alone.
    int messageKey = 0;
    int queueId = 0;
    RenderMessage message;  // receive buffer of the receiver thread
    // Always one of the constant status words, so a reader never sees a text
    // that another thread is rewriting.
    std::atomic<const char*> status;
    std::vector<std::string> replaceableFiles;
    std::string musicPath;
    bool musicLoop = false;
    int musicFadeoutDuration = 0;
    float musicVolume = 1.0f;
    std::string luaMainFile;
    std::string luaDir;
    std::string luaData;
    std::string snapshotDir;
    std::vector<int> snapshotFrames;
    float bitrateControl = 0.25f;
    std::atomic<bool> receiving{true};
    std::string dynamicSubFiles;
    std::string dynamicSubTexts;
    std::string scrivanePath;
    std::string assetPath;
    std::vector<Watermark> watermarks;
    std::map<std::string, std::string> renderedInfo;  // guarded by infoLock
    std::mutex infoLock;
    RenderThread* receiverThread = nullptr;
    // A second start while one runs is refused; a release meanwhile (from a
    // callback or from any other thread) is left to the running start.
    RenderStartClaim claim;

    // Copies every host option (not the state) of `other`.
    void copyOptions(const RenderProcessData& other);
};

// The status words.
extern const char* const kStatusInit;
extern const char* const kStatusStart;
extern const char* const kStatusUpdate;
extern const char* const kStatusEnd;
extern const char* const kStatusFail;
extern const char* const kStatusCancel;
extern const char* const kStatusCrash;

// Set in the render child before its signal handlers are installed; called by
// signal_handler with the signal number. It runs inside a signal handler, so
// whatever it is set to must be async-signal-safe.
extern void (*shutdown_handler)(int);
void signal_handler(int signo);

// The child's whole life after the fork; never returns.
[[noreturn]] void render_process_main(RenderProcessData* data);

}  // namespace Core
}  // namespace Quorvane
