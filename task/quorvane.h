// The native host interface of the engine: one video render per handle, run in
// a forked child process while the calling thread waits.
//
//   unsigned long handle = 0;
//   zr_create_render_process(&handle, "/templates/intro/", "/out/intro.mp4", 7);
//   zr_render_process_set_music_path(&handle, "/music/theme.mp3", true);
//   int failed = zr_render_process_start(&handle, onStatus);
//   if (strcmp(zr_render_process_status(&handle), "end") == 0) ...
//   zr_render_process_release(&handle);
//
// The status callback runs on a worker thread of the library for every status
// word ("start", "update", "end", "fail", "cancel", "crash"); a "crash" is
// reported once more on the thread that called zr_render_process_start. A
// callback should return quickly; it may read the handle's status, progress
// and information, but a start from inside a callback is refused (returns 1).
// The status words are "init", "start", "update", "end", "fail", "cancel",
// "crash"; only "end" means a finished video.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "scene/Watermark.h"

typedef void (*zr_render_process_callback)(unsigned long* handle, const char* status);

// Creates the render record for a template folder and an output video. The
// `key` is kept for hosts; every render has a message queue of its own, so
// renders of one template may run at once whatever their keys. Returns 0.
int zr_create_render_process(unsigned long* handle, const char* templatePath, const char* outputPath,
                             int key);

// Options; each returns 0, or -1 (1 for the two dynamic setters) for a null handle.
int zr_render_process_set_replaceable_files(unsigned long* handle, std::vector<std::string>* files);
int zr_render_process_set_dynamic_sub_files(unsigned long* handle, std::string json);
int zr_render_process_set_dynamic_sub_texts(unsigned long* handle, std::string json);
int zr_render_process_set_asset_path(unsigned long* handle, std::string path);
int zr_render_process_set_scrivane_path(unsigned long* handle, std::string path);
int zr_render_process_set_music_path(unsigned long* handle, std::string path, bool loop);
int zr_render_process_set_music_loop(unsigned long* handle, bool loop);
int zr_render_process_set_music_fadeout_duration(unsigned long* handle, int seconds);
int zr_render_process_set_music_volume(unsigned long* handle, float volume);
int zr_render_process_set_lua_main_file(unsigned long* handle, std::string path);
int zr_render_process_set_lua_dir(unsigned long* handle, std::string path);
int zr_render_process_set_lua_data(unsigned long* handle, std::string data);
// The snapshot folder is a prefix: files are named prefix + frame number + ".png".
int zr_render_process_set_snapshot_dir(unsigned long* handle, std::string path);
int zr_render_process_set_snapshot_frames(unsigned long* handle, std::vector<int> frames);
int zr_render_process_set_bitrate_control(unsigned long* handle, float factor);
int zr_render_process_set_watermarks(unsigned long* handle,
                                     std::vector<Quorvane::Core::Watermark> watermarks);
int zr_render_process_add_watermark(unsigned long* handle, std::vector<std::string> imagePaths, float x,
                                    float y, float start, float duration, float scaleX, float scaleY);

// Renders; blocks until the render child has ended and its last status word has
// been received. Returns 0 when the child exited normally, 1 when it could not
// be started or died. A child silent for 9.5 seconds before "start", or for
// five minutes between two reports after it, is killed ("crash"). A render
// that does not end with "end" leaves no file at the output path.
int zr_render_process_start(unsigned long* handle, zr_render_process_callback callback);

float zr_render_process_progress(unsigned long* handle);
// One of the constant status words above; null for a null handle.
const char* zr_render_process_status(unsigned long* handle);
// "duration", "renderTime", "encodeTime", "totalTime" as "%f" texts.
std::map<std::string, std::string> zr_render_process_rendered_info(unsigned long* handle);
// Frees the record and sets the handle to 0. Called from inside a status
// callback of that render, it sets the handle to 0 at once, no further
// callback comes, and the record is freed when its start returns.
void zr_render_process_release(unsigned long* handle);

bool zr_msg_key_compare(const char* a, const char* b);

// The still-image mode: zr_create_render_image_process and its family.
#include "task/RenderImageProcess.h"
