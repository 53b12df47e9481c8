#include "report.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

namespace {

enum class Kind { Other, Reason, Warning };

// A line counts when its message begins with `begins` and holds `holds` (when
// given); the first row that matches decides.
struct LinePattern {
    const char* begins;
    const char* holds;
    Kind kind;
};

const LinePattern kPatterns[] = {
    // Why a render was refused, failed or died.
    {"Invalid template: ", nullptr, Kind::Reason},
    {"Invalid output path ", nullptr, Kind::Reason},
    {"Child RenderTask ", ": music ", Kind::Reason},
    {"the mux left no video", nullptr, Kind::Reason},
    {"ZRScriptError", nullptr, Kind::Reason},
    {"Child RenderTask ", " could not ", Kind::Reason},
    {"Child RenderTask ", ": replaceable file ", Kind::Reason},
    {"Child RenderTask ", " failed to close", Kind::Reason},
    {"Child receive signo", nullptr, Kind::Reason},
    {"Child pid ", " by ", Kind::Reason},
    {"Child process ", "kill child pid", Kind::Reason},
    {"Child process ", "without a final word", Kind::Reason},
    {"Start render process refused", nullptr, Kind::Reason},
    {"Failed create msgqueue", nullptr, Kind::Reason},
    {"Fork process failed", nullptr, Kind::Reason},
    // Inputs passed over: media of a kind not read, or that cannot be read or
    // decoded (template assets, replaced files, watermarks), and host options
    // out of their range. A shrunk image is still shown.
    {"AVSource ", " shrunk to ", Kind::Other},
    {"AVSource ", nullptr, Kind::Warning},
    {"music ", ", skipped", Kind::Warning},
    {"music volume ", " kept", Kind::Warning},
    {"bitrate control ", " kept", Kind::Warning},
    {"replaceable file ", ", skipped", Kind::Warning},
    {"audio track ", ", skipped", Kind::Warning},
    {"invalid music file ", nullptr, Kind::Warning},
    {"RenderContext: image sequence asset ", ", skipped", Kind::Warning},
};

// Words of ffmpeg's own error lines; its other lines (banner, stream list,
// progress) say nothing about why the mux failed.
const char* const kMuxErrorWords[] = {"rror",        "Could not",         "Invalid",       "No such file", "Unable",
                                      "Unsupported", "Permission denied", "not supported", "failed"};
constexpr size_t kMuxErrorLines = 3;  // the last ones: ffmpeg ends with its verdict

const char* const kMuxBegins = "ffmpeg command : ";
const char* const kMuxEnds = "ffmpeg command exit ret : ";
const char* const kChildCreated = "Child process created with pid : ";

bool beginsWith(const std::string& text, const char* head) {
    return text.compare(0, strlen(head), head) == 0;
}

const LinePattern* classify(const std::string& message) {
    for (const LinePattern& pattern : kPatterns) {
        if (beginsWith(message, pattern.begins) &&
            (!pattern.holds || message.find(pattern.holds) != std::string::npos)) {
            return &pattern;
        }
    }
    return nullptr;
}

// One log line: "2026-01-31 12:00:00.000:  [pid] message" from the engine, or
// anything else from the programs it runs (pid 0 then).
struct LogLine {
    pid_t pid = 0;
    std::string message;
};

LogLine parseLine(const std::string& line) {
    LogLine parsed;
    size_t open = line.find(":  [");
    if (open == std::string::npos) {
        parsed.message = line;
        return parsed;
    }
    char* end = nullptr;
    long pid = strtol(line.c_str() + open + 4, &end, 10);
    if (pid <= 0 || end[0] != ']' || end[1] != ' ') {
        parsed.message = line;
        return parsed;
    }
    parsed.pid = static_cast<pid_t>(pid);
    parsed.message = end + 2;
    return parsed;
}

// Calls `visit` for every line of the log from `from` on; ffmpeg's progress,
// rewritten in place with carriage returns, counts as one line per rewrite.
template <class Visit>
void forEachLine(const std::string& path, off_t from, Visit visit) {
    FILE* file = fopen(path.c_str(), "r");
    if (!file) return;
    if (fseeko(file, from, SEEK_SET) == 0) {
        char* buffer = nullptr;
        size_t capacity = 0;
        ssize_t length;
        while ((length = getline(&buffer, &capacity, file)) > 0) {
            std::string text(buffer, static_cast<size_t>(length));
            size_t begin = 0;
            while (begin < text.size()) {
                size_t end = text.find_first_of("\r\n", begin);
                if (end == std::string::npos) end = text.size();
                size_t last = end;
                while (last > begin && (text[last - 1] == ' ' || text[last - 1] == '\t')) --last;
                if (last > begin) visit(parseLine(text.substr(begin, last - begin)));
                begin = end + 1;
            }
        }
        free(buffer);
    }
    fclose(file);
}

bool isMuxError(const std::string& line) {
    if (line.empty() || line[0] == ' ') return false;
    for (const char* word : kMuxErrorWords) {
        if (line.find(word) != std::string::npos) return true;
    }
    return false;
}

// The media source a line speaks of ("AVSource KEY: ..."): one line per source
// says what became of it.
std::string sourceKey(const std::string& message) {
    if (!beginsWith(message, "AVSource ")) return std::string();
    size_t colon = message.find(": ", 9);
    return colon == std::string::npos ? std::string() : message.substr(0, colon);
}

}  // namespace

std::vector<EngineLogLine> pickEngineLogLines(const std::string& path, off_t from, pid_t host) {
    // The child may write before its parent has logged its pid.
    pid_t child = -1;
    forEachLine(path, from, [&](const LogLine& line) {
        if (child < 0 && line.pid == host && beginsWith(line.message, kChildCreated))
            child = static_cast<pid_t>(atoi(line.message.c_str() + strlen(kChildCreated)));
    });

    std::vector<EngineLogLine> picked;
    std::set<std::string> seen;
    auto pick = [&](bool warning, const std::string& text) {
        const std::string key = sourceKey(text);
        if (!seen.insert(key.empty() ? text : key).second) return;
        EngineLogLine line;
        line.warning = warning;
        line.text = text;
        picked.push_back(line);
    };
    bool inMux = false;
    std::vector<std::string> muxErrors;
    forEachLine(path, from, [&](const LogLine& line) {
        if (line.pid == 0) {
            if (inMux && isMuxError(line.message)) {
                muxErrors.push_back(line.message);
                if (muxErrors.size() > kMuxErrorLines) muxErrors.erase(muxErrors.begin());
            }
            return;
        }
        // Without the parent's word on its child, every engine line of the log
        // since the start counts: better one line too many than none.
        if (line.pid != host && child > 0 && line.pid != child) return;
        if (beginsWith(line.message, kMuxBegins)) {
            inMux = true;
            muxErrors.clear();
            return;
        }
        if (beginsWith(line.message, kMuxEnds)) {
            inMux = false;
            if (atoi(line.message.c_str() + strlen(kMuxEnds)) != 0) {
                // ffmpeg that did not run at all leaves only the engine's line.
                if (muxErrors.empty()) muxErrors.push_back(line.message);
                for (const std::string& error : muxErrors) pick(false, error);
            }
            return;
        }
        const LinePattern* pattern = classify(line.message);
        if (!pattern || pattern->kind == Kind::Other) return;
        pick(pattern->kind == Kind::Warning, line.message);
    });
    return picked;
}
