// The video file a render writes, and the private folder beside it in which
// the render works. The raw stream, the mixed audio and the muxed video are
// made inside a folder that the render itself has just created, so nothing
// that stood at their names before (a link planted by someone else, a file of
// the user's) is ever written through; the finished video is then renamed
// over the output path, so an older file there stays, byte for byte, until
// the new one is complete.
//
//   OUT.mp4                       the output, replaced only on success
//   .OUT.mp4.PID.render/          the work folder (mode 0700)
//       OUT.mp4                   what the mux writes
//       OUT.mp4.h264, OUT.mp4.aac the raw stream and the mixed audio
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "task/RenderInputs.h"

namespace Quorvane {
namespace Core {

enum class ImageFileKind { Png, Jpg, Bmp, Tga };

// Writes RGBA pixels (rows in read-back order, stride width * 4) as the file
// at path, through FileWriter's Replace: whatever stood at path (a link to a
// file elsewhere, a FIFO no one reads) is replaced, never opened, and stays
// when the file cannot be written whole. `quality` is for JPEG only.
bool WriteImageFile(const std::string& path, ImageFileKind kind, int width, int height, const uint8_t* rgba,
                    int quality);

class RenderOutput {
public:
    // For the render process `pid` (the render child, or the process that
    // runs the task itself).
    RenderOutput(const std::string& outputPath, int pid);

    // Why the output path cannot take this render's video, or empty. It must
    // be absent or a regular file (links followed) in a folder the render may
    // write, and none of the render's inputs.
    std::string refusalReason(const RenderInputs& inputs) const;

    // Creates the work folder; false, with a log line, when it cannot (it
    // exists already, or the folder is not writable).
    bool create();
    // Where the mux writes; the raw stream and the mixed audio are this path
    // followed by ".h264" and ".aac".
    const std::string& workFile() const { return workFile_; }
    // Renames the finished video over the output path; false, with a log
    // line, when it cannot.
    bool publish();
    // Removes what the render left in its work folder, and the folder.
    void discard() const;

    static std::string workFolderFor(const std::string& outputPath, int pid);
    // The output's file name, which the files in the work folder share.
    static std::string baseNameOf(const std::string& outputPath);

private:
    std::string outputPath_;
    std::string folder_;  // the output's folder
    std::string base_;
    std::string workFolder_;
    std::string workFile_;
};

// Removes the work folder `workFolder` of an output named `base` (see
// RenderOutput) with the three files a render makes in it, when the folder is
// a real folder of this user; anything else in it keeps the folder. Only
// system calls and byte copies: the render child's crash reporter calls it
// from a signal handler.
void RemoveRenderWorkFolder(const char* workFolder, const char* base);

}  // namespace Core
}  // namespace Quorvane
