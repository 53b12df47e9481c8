// File and path queries. '/' is the only separator.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

namespace Quorvane {
namespace Core {

// Why a file of a template or a host may not be read.
enum class InputFileStatus {
    Ok,
    Missing,     // no such path, or its status cannot be read
    NotRegular,  // a folder, FIFO, socket or device: it would block or never end
    TooLarge,    // above the cap of the read
    Unreadable,  // opening or reading failed
};

// Caps far above any real template: files read whole into memory (configuration,
// packs, data files, scripts, images) and media that decoders stream (videos,
// audio).
constexpr uint64_t kMaxInputFileBytes = 256ull << 20;
constexpr uint64_t kMaxMediaFileBytes = 64ull << 30;

// True when the status of path (symbolic links followed) was read into st.
bool GetFileStat(const char* path, struct stat* st);

class FileManager {
public:
    static char getOsSeprator();
    static bool exist(const std::string& path);
    static bool isFile(const std::string& path);
    static bool isDirectory(const std::string& path);
    // Last path component, trailing '/' ignored; without keepSuffix the text
    // from the last '.' on is cut. Paths shorter than two characters give "".
    static std::string getFileName(const std::string& path, bool keepSuffix);
    // Text after the last '.' of an existing regular file's path (the whole
    // path when it has no '.'); "" when path is not a regular file.
    static std::string suffix(const std::string& path);

    // Every file named by a template or a host is read through these: only a
    // regular file (links followed) of at most maxBytes. checkInput looks
    // without opening; readInput reads the whole file (at most maxBytes, or
    // only its first headBytes when that is not 0) into out, which is left
    // empty on failure.
    static InputFileStatus checkInput(const std::string& path, uint64_t maxBytes = kMaxInputFileBytes);
    static InputFileStatus readInput(const std::string& path, std::string& out,
                                     uint64_t maxBytes = kMaxInputFileBytes, size_t headBytes = 0);
    // A short text for log lines ("not a regular file" ...).
    static const char* describe(InputFileStatus status);
    // True when the resolved path lies below the resolved folder (not the
    // folder itself); a text comparison, so both must already be resolved.
    static bool liesWithin(const std::string& resolved, const std::string& folder);
    // The path with every link, "." and ".." resolved; "" when it does not
    // exist or cannot be resolved (see resolvePath).
    static std::string resolvedPath(const std::string& path);
    enum class Resolution {
        Resolved,
        Missing,  // no such file: neither its resolution nor the name itself leads to one
        Failed,   // anything else: it cannot be told where the name leads
    };
    // Resolves path into *resolved (left empty unless Resolved).
    static Resolution resolvePath(const std::string& path, std::string* resolved);
};

// The files one render may read. A template comes from an author we do not
// control and its video goes back to that author: whatever the template or
// its script names must resolve (links followed) to a file inside one of the
// render's folders (the template's, its script folder, the host's asset
// folder), or be a file the host itself named for this render (replaceable
// files, sub images, music, watermarks, paths inside the script data).
// A scope without any folder (a render built in memory, where the host names
// every file) allows every path.
class InputScope {
public:
    void addFolder(const std::string& folder);
    void addFile(const std::string& path);
    // The strings of a JSON document (keys too) that could be paths; text
    // that is no JSON counts as one path.
    static std::vector<std::string> pathsIn(const std::string& json);
    bool restricted() const { return !folders_.empty(); }
    // False, with a log line naming the path and what named it, for an
    // existing path outside the scope or one that cannot be resolved (the
    // check fails closed); a missing path is left to the caller, which
    // reports it as missing. `opened`, when given, receives the name to open:
    // the resolved path that was checked (path itself when the scope is not
    // restricted or the file is missing).
    bool allows(const std::string& path, const char* what, std::string* opened = nullptr) const;

private:
    std::vector<std::string> folders_;  // resolved, without a trailing '/'
    std::vector<std::string> files_;    // resolved
};

}  // namespace Core
}  // namespace Quorvane
