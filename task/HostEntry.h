/* The entry functions for hosts that reach the engine through a C interface,
 * Go programs with cgo first of all. Only NUL-terminated texts, integers and
 * floats cross it; this header is plain C.
 *
 *   char* h = nCreateRenderProcess("/templates/intro/", "/out/intro.mp4", 7);
 *   nRenderProcessSetReplaceableFiles(h, "[\"/in/a.jpg\",\"/in/b.mp4\"]");
 *   int failed = nRenderProcessStart(h);      (blocks until the render ends)
 *   char* status = nRenderProcessStatus(h);   ("end" means a finished video)
 *   char* info = nRenderProcessRenderedInfo(h);
 *   free(status); free(info);
 *   nRenderProcessRelease(h);
 *   free(h);
 *
 * Handles: nCreateRenderProcess returns the handle as a decimal text; every
 * other function takes that text back. A handle names one render until it is
 * released and is never given out again in the same process, so a released,
 * unknown or mistyped handle ("", "0", "abc") only makes a function report
 * "no render": the setters and nRenderProcessStart return 1, the two readers
 * return an empty text, and nRenderProcessRelease does nothing (releasing twice
 * is harmless). A release while the handle's start runs (from another thread)
 * frees the render once that start has returned; a second start while one
 * runs returns 1 and changes nothing.
 *
 * Text results: every char* returned (handle, status, rendered information,
 * also an empty text) is a new buffer from malloc that the caller owns and
 * must release with free (C.free in Go). None is ever shared or static.
 *
 * Lists travel as JSON arrays: paths as strings, frame numbers as integers.
 * Elements of another type are skipped. The setters only store what they are
 * given; nRenderProcessStart hands the render everything that was set.
 * Any function may run on any thread at once with any other, for one handle
 * too: a setter while the handle's start runs reaches only a later start, and
 * a status or information read while a release from another thread lets the
 * start finish reads the render or, once released, nothing.
 */
#ifndef QUORVANE_TASK_HOSTENTRY_H
#define QUORVANE_TASK_HOSTENTRY_H

#ifdef __cplusplus
extern "C" {
#endif

#define QV_HOST_EXPORT __attribute__((visibility("default")))

/* Results of the setters: 0 done, 1 no render or a rejected list. */
QV_HOST_EXPORT char* nCreateRenderProcess(const char* templatePath, const char* outputPath, int key);
/* Appends the paths of a JSON array to the replaceable files. */
QV_HOST_EXPORT int nRenderProcessSetReplaceableFiles(const char* handle, const char* pathsJson);
QV_HOST_EXPORT int nRenderProcessSetDynamicSubFiles(const char* handle, const char* json);
QV_HOST_EXPORT int nRenderProcessSetDynamicSubTexts(const char* handle, const char* json);
QV_HOST_EXPORT int nRenderProcessSetAssetPath(const char* handle, const char* path);
QV_HOST_EXPORT int nRenderProcessSetScrivanePath(const char* handle, const char* path);
/* The folder and the data reach the render only together with a main file. */
QV_HOST_EXPORT int nRenderProcessSetScript(const char* handle, const char* mainFile, const char* folder,
                                           const char* data);
/* Snapshots are taken only when both the path and some frames are set; files are
 * named path + frame number + ".png". */
QV_HOST_EXPORT int nRenderProcessSetSnapShotPath(const char* handle, const char* path);
/* Appends the frame numbers of a JSON array. */
QV_HOST_EXPORT int nRenderProcessSetSnapShotFrames(const char* handle, const char* framesJson);
/* Loop, volume and fade-out reach the render only together with a music file;
 * without one the template's own music settings stay. */
QV_HOST_EXPORT int nRenderProcessSetMusicFile(const char* handle, const char* path, int loop);
QV_HOST_EXPORT int nRenderProcessSetMusicLoop(const char* handle, int loop);
QV_HOST_EXPORT int nRenderProcessSetMusicVolume(const char* handle, float volume);
QV_HOST_EXPORT int nRenderProcessSetMusicFadeoutDuration(const char* handle, int duration);
/* A factor of 0 or below keeps the engine's default. */
QV_HOST_EXPORT int nRenderProcessSetBitrateControl(const char* handle, float factor);
/* One watermark: a JSON array of image paths (one for a still image, several for
 * a sequence), position in pixels, start and duration in seconds, scale. An
 * empty array adds nothing and returns 1. */
QV_HOST_EXPORT int nRenderProcessAddWatermark(const char* handle, const char* pathsJson, float x, float y,
                                              float start, float duration, float scaleX, float scaleY);
/* Renders in a child process and blocks until it has ended: 0 when the child
 * ended normally (the status tells whether a video was made), 1 otherwise. */
QV_HOST_EXPORT int nRenderProcessStart(const char* handle);
/* "init", "start", "update", "end", "fail", "cancel" or "crash"; empty before
 * nRenderProcessStart. */
QV_HOST_EXPORT char* nRenderProcessStatus(const char* handle);
/* A JSON object of texts: "duration", "encodeTime", "renderTime", "totalTime"
 * in seconds after a render, "{}" before one. */
QV_HOST_EXPORT char* nRenderProcessRenderedInfo(const char* handle);
/* Frees the render; the handle text itself is still the caller's to free. */
QV_HOST_EXPORT void nRenderProcessRelease(const char* handle);

#undef QV_HOST_EXPORT

#ifdef __cplusplus
}  // extern "C"

#include <cstdint>
#include <string>
#include <vector>

#include "scene/Watermark.h"

namespace Quorvane {
namespace Core {

// What a host has set for one render, kept until nRenderProcessStart hands it
// to the native render record.
struct HostRenderRecord {
    unsigned long slot = 0;  // the native render handle, 0 until started
    int64_t key = 0;
    std::string templatePath;
    std::string outputPath;
    std::vector<std::string> replaceableFiles;
    std::string musicPath;
    std::string dynamicSubFiles;
    bool musicLoop = false;
    float bitrateControl = 0.25f;
    float musicVolume = 1.0f;
    int32_t musicFadeoutDuration = 0;
    std::vector<Watermark> watermarks;
    std::string scriptMainFile;
    std::string scriptFolder;
    std::string scriptData;
    std::string dynamicSubTexts;
    std::string assetPath;
    std::string scrivanePath;
    std::string snapshotPath;
    std::vector<int32_t> snapshotFrames;
    // Guarded by the handle registry's lock: a start is running, and the
    // handle was released meanwhile (the start releases the native render
    // when it returns).
    bool running = false;
    bool released = false;
};

// The live record a handle text names, or null.
HostRenderRecord* FindHostRenderRecord(const char* handle);

// Creates the native render record in the record's slot (releasing one a
// previous start left there) and hands it every option that was set. Returns
// the result of zr_create_render_process.
int CreateNativeRender(HostRenderRecord& record);

}  // namespace Core
}  // namespace Quorvane
#endif  // __cplusplus

#endif  // QUORVANE_TASK_HOSTENTRY_H
