// Whether a file may take the engine's log lines of one render: never the
// output, never a file of the template folder, never a file the render reads
// or writes. Paths are compared by the files they name, not by their text, so
// "./o.mp4", "t/./config.json" or a link to the output are caught as well.
#pragma once

#include <string>
#include <vector>

struct RenderFiles {
    std::string templateDir;
    std::string output;
    // Everything else the render reads or writes by name: replaceable files,
    // music, watermark images, snapshot files.
    std::vector<std::string> others;
};

// Empty when `log` may be appended to; otherwise what it would be, e.g.
// "the output" or "a file inside the template folder".
std::string logFileConflict(const std::string& log, const RenderFiles& files);
