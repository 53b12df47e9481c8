// quorvane-render: renders one template into one video through the engine's
// native host interface.
//
//   quorvane-render TEMPLATE_DIR OUTPUT.mp4 [--key N] [--replace FILE ...]
//       [--music FILE] [--music-loop] [--music-volume V] [--music-fadeout SECONDS]
//       [--snapshot-dir DIR --snapshot-frames 0,5,9]
//       [--watermark IMAGE,x,y,start,duration,sx,sy] [--bitrate FACTOR]
//       [--log FILE | --verbose]
//   quorvane-render --images OUT_DIR --filter FILTER_DIR [--filter ...] IMAGE ...
//       (still images; see images.cpp)
//
// Progress goes to standard error (a bar on a terminal, plain lines otherwise);
// the final status and the rendered information go to standard output as one
// JSON line. The engine's own log lines (and those of its render child and of
// ffmpeg) go to a log file, OUTPUT.mp4.log unless --log names another, or with
// --verbose to standard error. The log is never the output, a file of the
// template folder or a file the render reads or writes, however its path is
// spelled: such a --log is refused, and such a default log is left out (the
// engine then logs to standard error). After the status, standard error also
// gets the log's lines about what the engine passed over (music of a kind it
// does not read, media it cannot read) and, when the render did not end with
// "end", why and where the full log is. The exit code is 0 only when the status is "end".
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "logfile.h"
#include "report.h"
#include "task/quorvane.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char* kUsage =
    "usage: quorvane-render TEMPLATE_DIR OUTPUT.mp4 [--key N] [--replace FILE ...]\n"
    "           [--music FILE] [--music-loop] [--music-volume V] [--music-fadeout SECONDS]\n"
    "           [--snapshot-dir DIR --snapshot-frames 0,5,9]\n"
    "           [--watermark IMAGE,x,y,start,duration,sx,sy] [--bitrate FACTOR]\n"
    "           [--log FILE | --verbose]\n"
    "  --key N            the render's key, kept for hosts (renders never share a queue)\n"
    "  --replace FILE...  the template's replaceable files, in order\n"
    "  --snapshot-dir DIR snapshots are named DIR + frame number + \".png\" (DIR is a prefix)\n"
    "  --watermark ...    may be given several times; start and duration in seconds\n"
    "  --log FILE         where the engine's log lines go (default: OUTPUT.mp4.log);\n"
    "                     never the output, a template file or a file of the render\n"
    "  --verbose          the engine's log lines go to standard error instead\n"
    "   or: quorvane-render --images OUT_DIR --filter FILTER_DIR [--filter ...] IMAGE ...\n";

struct Options {
    std::string templateDir;
    std::string output;
    int key = 1;
    std::vector<std::string> replaceFiles;
    std::string music;
    bool musicLoop = false;
    float musicVolume = 1.0f;
    int musicFadeout = 0;
    bool haveMusicVolume = false;
    bool haveMusicFadeout = false;
    std::string snapshotDir;
    std::vector<int> snapshotFrames;
    struct Mark {
        std::string image;
        float values[6];
    };
    std::vector<Mark> watermarks;
    float bitrate = 0.0f;
    bool haveBitrate = false;
    std::string logFile;
    bool verbose = false;
    // Why the default log beside the output may not be written (it would be
    // inside the template folder, or a file of the render): the engine then
    // logs to standard error.
    std::string defaultLogConflict;
};

// Everything the render reads or writes by name, for the log's check.
RenderFiles renderFilesOf(const Options& options) {
    RenderFiles files;
    files.inputs.templateFolder = options.templateDir;
    files.inputs.files = options.replaceFiles;
    files.inputs.files.push_back(options.music);
    for (const Options::Mark& mark : options.watermarks) files.inputs.files.push_back(mark.image);
    files.output = options.output;
    for (int frame : options.snapshotFrames)
        files.written.push_back(options.snapshotDir + std::to_string(frame) + ".png");
    return files;
}

bool parseNumber(const char* text, double* out) {
    char* end = nullptr;
    errno = 0;
    double value = strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0) return false;
    *out = value;
    return true;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at - start));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

// IMAGE,x,y,start,duration,sx,sy: the six numbers are taken from the right, so
// the image path itself may hold commas.
bool parseWatermark(const std::string& text, Options::Mark* mark) {
    std::vector<std::string> parts = split(text, ',');
    if (parts.size() < 7) return false;
    size_t first = parts.size() - 6;
    for (size_t i = 0; i < 6; ++i) {
        double value;
        if (!parseNumber(parts[first + i].c_str(), &value)) return false;
        mark->values[i] = static_cast<float>(value);
    }
    mark->image = parts[0];
    for (size_t i = 1; i < first; ++i) mark->image += "," + parts[i];
    return !mark->image.empty();
}

bool fail(const std::string& message) {
    fprintf(stderr, "quorvane-render: %s\n%s", message.c_str(), kUsage);
    return false;
}

bool parseArguments(int argc, char** argv, Options* options) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        auto number = [&](double* out) {
            std::string text;
            return value(&text) && parseNumber(text.c_str(), out);
        };
        double n;
        std::string text;
        if (arg == "--help" || arg == "-h") {
            fputs(kUsage, stdout);
            exit(0);
        } else if (arg == "--key") {
            if (!number(&n) || n != static_cast<int>(n)) return fail("--key needs an integer");
            options->key = static_cast<int>(n);
        } else if (arg == "--replace") {
            while (i + 1 < argc && strncmp(argv[i + 1], "--", 2) != 0)
                options->replaceFiles.push_back(argv[++i]);
        } else if (arg == "--music") {
            if (!value(&options->music)) return fail("--music needs a file");
        } else if (arg == "--music-loop") {
            options->musicLoop = true;
        } else if (arg == "--music-volume") {
            if (!number(&n)) return fail("--music-volume needs a number");
            options->musicVolume = static_cast<float>(n);
            options->haveMusicVolume = true;
        } else if (arg == "--music-fadeout") {
            if (!number(&n) || n < 0 || n != static_cast<int>(n))
                return fail("--music-fadeout needs whole seconds");
            options->musicFadeout = static_cast<int>(n);
            options->haveMusicFadeout = true;
        } else if (arg == "--snapshot-dir") {
            if (!value(&options->snapshotDir)) return fail("--snapshot-dir needs a folder");
        } else if (arg == "--snapshot-frames") {
            if (!value(&text)) return fail("--snapshot-frames needs a list");
            for (const std::string& part : split(text, ',')) {
                if (!parseNumber(part.c_str(), &n) || n < 0 || n != static_cast<int>(n)) {
                    return fail("--snapshot-frames needs frame numbers like 0,5,9");
                }
                options->snapshotFrames.push_back(static_cast<int>(n));
            }
        } else if (arg == "--watermark") {
            Options::Mark mark;
            if (!value(&text) || !parseWatermark(text, &mark)) {
                return fail("--watermark needs IMAGE,x,y,start,duration,sx,sy");
            }
            options->watermarks.push_back(mark);
        } else if (arg == "--bitrate") {
            if (!number(&n) || n <= 0) return fail("--bitrate needs a positive factor");
            options->bitrate = static_cast<float>(n);
            options->haveBitrate = true;
        } else if (arg == "--log") {
            if (!value(&options->logFile) || options->logFile.empty()) return fail("--log needs a file");
        } else if (arg == "--verbose") {
            options->verbose = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return fail("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) return fail("TEMPLATE_DIR and OUTPUT.mp4 are needed");
    if (!options->snapshotFrames.empty() && options->snapshotDir.empty()) {
        return fail("--snapshot-frames needs --snapshot-dir");
    }
    if (options->verbose && !options->logFile.empty()) return fail("--log and --verbose exclude each other");
    options->templateDir = positional[0];
    options->output = positional[1];
    if (options->verbose) return true;
    // Never appended to: the output, a file of the template, a file the render
    // reads or writes, however the path is spelled.
    const bool named = !options->logFile.empty();
    if (!named) options->logFile = options->output + ".log";
    const std::string conflict = logFileConflict(options->logFile, renderFilesOf(*options));
    if (conflict.empty()) return true;
    if (named) return fail("--log must not name " + conflict);
    options->defaultLogConflict = options->logFile + " would be " + conflict;
    options->logFile.clear();
    return true;
}

// What the user reads: the progress and the final word. Standard error until
// the engine's log is sent elsewhere.
FILE* gUserOut = stderr;

// The log is the one file appended to rather than replaced: it is the user's
// and keeps the lines of earlier renders. A new file is created (O_EXCL); an
// existing one is opened only when its name holds a regular file, and kept
// only when what was opened is that very file: opening a FIFO or a device for
// writing may block or act on the device, and a link is never written through.
int openLogFile(const std::string& path) {
    const int created =
        open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0644);
    if (created >= 0 || errno != EEXIST) return created;
    struct stat named;
    if (lstat(path.c_str(), &named) != 0 || !S_ISREG(named.st_mode)) return -1;
    // Non-blocking in case a FIFO took the name since it was looked at.
    const int log = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    struct stat opened;
    if (log >= 0 && (fstat(log, &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_dev != named.st_dev ||
                     opened.st_ino != named.st_ino)) {
        close(log);
        return -1;
    }
    return log;
}

// Sends everything written to standard error from here on (the engine's log
// lines, the render child's, ffmpeg's) into the log file `path`, and keeps the
// terminal for the user. False when the file cannot be opened or is no
// regular file.
bool sendEngineLogTo(const std::string& path) {
    int log = openLogFile(path);
    if (log < 0) return false;
    int user = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    FILE* userOut = user >= 0 ? fdopen(user, "w") : nullptr;
    if (!userOut || dup2(log, STDERR_FILENO) < 0) {
        if (userOut) fclose(userOut);
        close(log);
        return false;
    }
    close(log);
    gUserOut = userOut;
    return true;
}

// Engine lines carry paths from templates and hosts: no byte of them may drive
// the user's terminal.
std::string printable(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    }
    return out;
}

// Enough to see what went wrong; a template with hundreds of broken assets
// leaves the rest in the log.
constexpr size_t kMaxReportedLines = 20;

// The log's lines about this render: what was passed over, and, when the
// render did not end with "end", why and where the whole log is.
void reportFromLog(const std::string& logFile, off_t from, const std::string& status) {
    const bool ended = status == "end";
    size_t shown = 0, more = 0;
    for (const EngineLogLine& line : pickEngineLogLines(logFile, from, getpid())) {
        if (!line.warning && ended) continue;
        if (shown == kMaxReportedLines) {
            ++more;
            continue;
        }
        ++shown;
        fprintf(gUserOut, "quorvane-render: %s%s\n", line.warning ? "warning: " : "", printable(line.text).c_str());
    }
    if (more) fprintf(gUserOut, "quorvane-render: %zu more such lines in the log\n", more);
    if (!ended) fprintf(gUserOut, "quorvane-render: the full log is %s\n", printable(logFile).c_str());
    fflush(gUserOut);
}

// ---- progress on standard error -------------------------------------------

std::mutex gProgressLock;
bool gTerminal = false;
int gLastPercent = -1;

void drawProgress(float progress) {
    int percent = static_cast<int>(progress * 100.0f + 0.5f);
    if (percent == gLastPercent) return;
    if (gTerminal) {
        constexpr int kWidth = 40;
        int filled = percent * kWidth / 100;
        fprintf(gUserOut, "\r[%.*s%*s] %3d%%", filled, "########################################",
                kWidth - filled, "", percent);
        gLastPercent = percent;
    } else if (gLastPercent < 0 || percent / 10 != gLastPercent / 10) {
        // One line per tenth keeps logs readable for long renders.
        fprintf(gUserOut, "progress %d%%\n", percent);
        gLastPercent = percent;
    }
    fflush(gUserOut);
}

void onStatus(unsigned long* handle, const char* status) {
    std::lock_guard<std::mutex> guard(gProgressLock);
    // "crash" comes once from the receiver and once more from the starting
    // thread; the user is told once.
    static bool crashShown = false;
    if (strcmp(status, "crash") == 0) {
        if (crashShown) return;
        crashShown = true;
    }
    if (strcmp(status, "update") == 0) {
        drawProgress(zr_render_process_progress(handle));
        return;
    }
    // The last update reports (frames - 1) / frames; a finished render fills the bar.
    if (strcmp(status, "end") == 0) drawProgress(1.0f);
    if (gTerminal && gLastPercent >= 0) fputc('\n', gUserOut);
    gLastPercent = gTerminal ? -1 : gLastPercent;
    fprintf(gUserOut, "status %s\n", status);
    fflush(gUserOut);
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

}  // namespace

// images.cpp
bool isImageMode(int argc, char** argv);
int runImageMode(int argc, char** argv);

int main(int argc, char** argv) {
    if (isImageMode(argc, argv)) return runImageMode(argc, argv);
    Options options;
    if (!parseArguments(argc, argv, &options)) return kExitUsage;
    gTerminal = isatty(STDERR_FILENO);
    // Where this render's lines begin: the log file may hold earlier renders.
    off_t logStart = -1;
    if (!options.defaultLogConflict.empty()) {
        fprintf(stderr, "quorvane-render: no log file: %s; the engine logs to standard error\n",
                printable(options.defaultLogConflict).c_str());
    } else if (!options.verbose) {
        struct stat info;
        if (!sendEngineLogTo(options.logFile)) {
            fprintf(stderr, "quorvane-render: cannot write the log file %s; the engine logs to standard error\n",
                    options.logFile.c_str());
        } else if (fstat(STDERR_FILENO, &info) == 0) {
            logStart = info.st_size;
        }
    }

    unsigned long handle = 0;
    if (zr_create_render_process(&handle, options.templateDir.c_str(), options.output.c_str(), options.key) !=
        0) {
        fprintf(gUserOut, "quorvane-render: could not create the render\n");
        return kExitFailed;
    }
    if (!options.replaceFiles.empty())
        zr_render_process_set_replaceable_files(&handle, &options.replaceFiles);
    if (!options.music.empty()) zr_render_process_set_music_path(&handle, options.music, options.musicLoop);
    zr_render_process_set_music_loop(&handle, options.musicLoop);
    // A value the render child cannot use is kept out with a log line, which the
    // report after the render shows as a warning.
    if (options.haveMusicVolume) zr_render_process_set_music_volume(&handle, options.musicVolume);
    if (options.haveMusicFadeout) zr_render_process_set_music_fadeout_duration(&handle, options.musicFadeout);
    if (!options.snapshotDir.empty()) zr_render_process_set_snapshot_dir(&handle, options.snapshotDir);
    if (!options.snapshotFrames.empty())
        zr_render_process_set_snapshot_frames(&handle, options.snapshotFrames);
    for (const Options::Mark& mark : options.watermarks) {
        const float* v = mark.values;
        zr_render_process_add_watermark(&handle, {mark.image}, v[0], v[1], v[2], v[3], v[4], v[5]);
    }
    if (options.haveBitrate) zr_render_process_set_bitrate_control(&handle, options.bitrate);

    zr_render_process_start(&handle, onStatus);

    std::string status = zr_render_process_status(&handle);
    // With the log on standard error the user has read every line already.
    if (logStart >= 0) reportFromLog(options.logFile, logStart, status);
    std::string line = "{\"status\":" + jsonString(status) + ",\"info\":{";
    bool first = true;
    for (const auto& entry : zr_render_process_rendered_info(&handle)) {
        if (!first) line += ",";
        first = false;
        line += jsonString(entry.first) + ":" + jsonString(entry.second);
    }
    line += "}}\n";
    fputs(line.c_str(), stdout);
    fflush(stdout);
    zr_render_process_release(&handle);
    return status == "end" ? 0 : kExitFailed;
}
