// Whether a file may take the engine's log lines of one render: never the
// output, never a file of the template folder, never a file the render reads
// or writes. Paths are compared by the files they name, not by their text, so
// "./o.mp4", "t/./config.json" or a link to the output are caught as well.
#pragma once

#include <string>
#include <vector>

#include "task/RenderInputs.h"

struct RenderFiles {
    // Everything the render is handed: the template folder, replaceable
    // files, music, watermark images. The engine gathers its inputs of these.
    Quorvane::Core::RenderFileNames inputs;
    std::string output;
    // The other files the render writes: snapshots.
    std::vector<std::string> written;
};

// Empty when `log` may be appended to; otherwise what it would be, e.g.
// "the output" or "a file inside the template folder".
std::string logFileConflict(const std::string& log, const RenderFiles& files);
