// What the engine's log says about one render, picked out for the user of
// quorvane-render: why a render did not end well, and which of the inputs the
// engine passed over. The engine's wording is kept; only the time stamp and the
// process id of each line are left out.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct EngineLogLine {
    // An input the engine passed over by rule (the render went on without it);
    // otherwise a reason why the render did not end with "end".
    bool warning = false;
    std::string text;
};

// The lines that the log file at `path`, from byte `from` on, holds about the
// render started by process `host` (its own lines, its render child's, and the
// error lines of a mux that failed), in log order, each once.
std::vector<EngineLogLine> pickEngineLogLines(const std::string& path, off_t from, pid_t host);
