// The native host interface of the still-image mode: a list of image files is
// rendered through filter templates and watermarks into an output folder, in a
// forked child process while the calling thread waits.
//
//   unsigned long handle = 0;
//   zr_create_render_image_process(&handle, {"/in/a.png", "/in/b.jpg"}, "/out");
//   zr_render_image_process_add_filter(&handle, "/filters/warm/");
//   int failed = zr_render_image_process_start(&handle);  // writes /out/a.png, /out/b.jpg
//   zr_render_image_process_release(&handle);
//
// Each output is named after its input: the output folder, "/", the input's
// file name without its suffix and ".png" (inputs png, psd), ".jpg" (jpg,
// jpeg), ".bmp" (bmp) or ".tga" (tga). Inputs that are missing, of another
// kind, unreadable or wider or higher than 4096 pixels are skipped; inputs of
// one output name write it in turn, the last one staying. There is no
// callback: start returns 0 when every accepted image was written.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "scene/Watermark.h"
#include "task/RenderChild.h"

namespace Quorvane {
namespace Core {

// The child's reports on its socket, one byte each.
constexpr char kImageReportStarted = 's';
constexpr char kImageReportProgress = 'u';

// The record behind an image-process handle.
struct RenderImageProcessData {
    RenderImageProcessData(std::vector<std::string> inputs, std::string outputFolder)
        : inputs(std::move(inputs)), outputFolder(std::move(outputFolder)) {}
    // The options of `other`, for the child's copy.
    RenderImageProcessData(const RenderImageProcessData& other)
        : RenderImageProcessData(other.inputs, other.outputFolder) {
        filters = other.filters;
        watermarks = other.watermarks;
    }

    int pid = 0;  // the last child, 0 until a start forks
    std::vector<std::string> inputs;
    std::string outputFolder;
    std::vector<std::string> filters;  // filter template folders
    std::vector<Watermark> watermarks;
    // In the child: its end of the socket on which it tells the parent that
    // its work has begun and that it still makes progress; -1 elsewhere.
    int reportFd = -1;
    // A second start while one runs is refused; a release meanwhile is left
    // to the running start.
    RenderStartClaim claim;
};

// The child's whole life after the fork; never returns. Exit code 0 when the
// task rendered, 1 otherwise.
[[noreturn]] void render_image_process_main(RenderImageProcessData* data);

}  // namespace Core
}  // namespace Quorvane

// Creates the record; returns 0, or -1 for a null handle.
int zr_create_render_image_process(unsigned long* handle, std::vector<std::string> inputs,
                                   std::string outputFolder);
// Replaces the filter list; 0, or -1 for a null handle.
int zr_render_image_process_set_filters(unsigned long* handle, std::vector<std::string> filters);
// Appends one filter template folder; 0 (also for a null handle, which stores nothing).
int zr_render_image_process_add_filter(unsigned long* handle, std::string filter);
// Replaces the watermark list; 0, or -1 for a null handle.
int zr_render_image_process_set_watermarks(unsigned long* handle,
                                           std::vector<Quorvane::Core::Watermark> watermarks);
// Appends one watermark: position (x, y) in pixels, start and duration in
// seconds, scale (x, y); 0, or -1 for a null handle.
int zr_render_image_process_add_watermark(unsigned long* handle, std::vector<std::string> imagePaths, float x,
                                          float y, float start, float duration, float scaleX, float scaleY);
// Renders; blocks until the child has ended. 0 when it exited with code 0 (and
// for a null handle, where nothing is done); 1 when the fork failed or the
// child failed (no filter, no input left, no output folder, a file that could
// not be written) or died, and for a second start while one of the same
// record runs (on another thread).
int zr_render_image_process_start(unsigned long* handle);
// Frees the record and sets the handle to 0; nothing for a null handle. A
// release while the record's start runs (on another thread) sets the handle to
// 0 at once and leaves the freeing to that start.
void zr_render_image_process_release(unsigned long* handle);
