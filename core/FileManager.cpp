#include "core/FileManager.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "core/Json.h"
#include "core/Log.h"

namespace Quorvane {
namespace Core {

namespace {
constexpr char kSeparator = '/';
}  // namespace

bool GetFileStat(const char* path, struct stat* st) {
    if (path == nullptr || st == nullptr) return false;
    return stat(path, st) == 0;
}

char FileManager::getOsSeprator() {
    return kSeparator;
}

bool FileManager::exist(const std::string& path) {
    struct stat st;
    return GetFileStat(path.c_str(), &st);
}

// The file type is compared whole: testing single mode bits would take a
// socket (0xC000) or a block device (0x6000) for a regular file or a folder.
bool FileManager::isFile(const std::string& path) {
    struct stat st;
    return GetFileStat(path.c_str(), &st) && S_ISREG(st.st_mode);
}

bool FileManager::isDirectory(const std::string& path) {
    struct stat st;
    return GetFileStat(path.c_str(), &st) && S_ISDIR(st.st_mode);
}

std::string FileManager::getFileName(const std::string& path, bool keepSuffix) {
    if (path.size() < 2) return std::string();
    std::string name = path;
    while (!name.empty() && name.back() == kSeparator) name.pop_back();
    size_t slash = name.rfind(kSeparator);
    if (slash != std::string::npos) name = name.substr(slash + 1);
    if (!keepSuffix) {
        size_t dot = name.rfind('.');
        if (dot != std::string::npos) name.resize(dot);
    }
    return name;
}

std::string FileManager::suffix(const std::string& path) {
    if (!isFile(path)) return std::string();
    size_t dot = path.rfind('.');
    return dot == std::string::npos ? path : path.substr(dot + 1);
}

namespace {

InputFileStatus statusOf(const struct stat& st, uint64_t maxBytes) {
    if (!S_ISREG(st.st_mode)) return InputFileStatus::NotRegular;
    if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > maxBytes) return InputFileStatus::TooLarge;
    return InputFileStatus::Ok;
}

}  // namespace

InputFileStatus FileManager::checkInput(const std::string& path, uint64_t maxBytes) {
    struct stat st;
    if (!GetFileStat(path.c_str(), &st)) return InputFileStatus::Missing;
    return statusOf(st, maxBytes);
}

InputFileStatus FileManager::readInput(const std::string& path, std::string& out, uint64_t maxBytes,
                                       size_t headBytes) {
    out.clear();
    // Looked at before opening, so that no device is ever opened; and again
    // on the open descriptor (without blocking on a FIFO), since the path may
    // have been replaced in between.
    InputFileStatus status = checkInput(path, maxBytes);
    if (status != InputFileStatus::Ok) return status;
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return InputFileStatus::Unreadable;
    struct stat st;
    status = fstat(fd, &st) == 0 ? statusOf(st, maxBytes) : InputFileStatus::Unreadable;
    if (status == InputFileStatus::Ok) {
        // The file may grow while it is read: never past the cap.
        const uint64_t limit = headBytes ? std::min<uint64_t>(headBytes, maxBytes) : maxBytes;
        out.reserve(static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(st.st_size), limit)));
        char buffer[65536];
        while (true) {
            ssize_t n = read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                status = InputFileStatus::Unreadable;
                break;
            }
            if (n == 0) break;
            const uint64_t room = limit - out.size();
            out.append(buffer, static_cast<size_t>(std::min<uint64_t>(room, static_cast<uint64_t>(n))));
            if (static_cast<uint64_t>(n) > room) {
                if (!headBytes) status = InputFileStatus::TooLarge;
                break;
            }
            if (out.size() == limit && headBytes) break;
        }
    }
    close(fd);
    if (status != InputFileStatus::Ok) out.clear();
    return status;
}

const char* FileManager::describe(InputFileStatus status) {
    switch (status) {
        case InputFileStatus::Ok:
            return "readable";
        case InputFileStatus::Missing:
            return "missing";
        case InputFileStatus::NotRegular:
            return "not a regular file";
        case InputFileStatus::TooLarge:
            return "too large";
        case InputFileStatus::Unreadable:
            return "cannot be read";
    }
    return "cannot be read";
}

bool FileManager::liesWithin(const std::string& resolved, const std::string& folder) {
    return !folder.empty() && resolved.size() > folder.size() && resolved.compare(0, folder.size(), folder) == 0 &&
           (folder.back() == '/' || resolved[folder.size()] == '/');
}

std::string FileManager::resolvedPath(const std::string& path) {
    std::string resolved;
    resolvePath(path, &resolved);
    return resolved;
}

// realpath gives up where the kernel does not: a chain of links whose lookup
// passes folders deeper than PATH_MAX fails with ENAMETOOLONG, yet open()
// follows it to its end. Only "no such file" (ENOENT, or ENOTDIR for a file
// used as a folder) means missing, and only when the name does not reach a
// file either (a /proc link to a deleted file resolves nowhere but opens).
FileManager::Resolution FileManager::resolvePath(const std::string& path, std::string* resolved) {
    resolved->clear();
    if (path.empty()) return Resolution::Missing;
    char* real = ::realpath(path.c_str(), nullptr);
    if (real) {
        resolved->assign(real);
        std::free(real);
        return Resolution::Resolved;
    }
    const int err = errno;
    if ((err == ENOENT || err == ENOTDIR) && !exist(path)) return Resolution::Missing;
    return Resolution::Failed;
}

namespace {

void collectStrings(const Json::Value& value, std::vector<std::string>& out) {
    if (value.IsString()) {
        out.emplace_back(value.GetString(), value.GetStringLength());
    } else if (value.IsArray()) {
        for (const auto& element : value.GetArray()) collectStrings(element, out);
    } else if (value.IsObject()) {
        for (const auto& member : value.GetObject()) {
            out.emplace_back(member.name.GetString(), member.name.GetStringLength());
            collectStrings(member.value, out);
        }
    }
}

}  // namespace

void InputScope::addFolder(const std::string& folder) {
    std::string resolved = FileManager::resolvedPath(folder);
    // A folder that does not exist still makes the scope restricted: it then
    // admits nothing of its own.
    if (resolved.empty()) resolved = "/nonexistent/";
    if (resolved.size() > 1 && resolved.back() == '/') resolved.pop_back();
    if (std::find(folders_.begin(), folders_.end(), resolved) == folders_.end()) folders_.push_back(resolved);
}

void InputScope::addFile(const std::string& path) {
    const std::string resolved = FileManager::resolvedPath(path);
    if (!resolved.empty()) files_.push_back(resolved);
}

std::vector<std::string> InputScope::pathsIn(const std::string& json) {
    // The parse limits the nesting, and so the depth of collectStrings.
    Json::Document doc;
    std::vector<std::string> strings;
    if (Json::parse(doc, json, Json::ByteOrderMark::Skip)) {
        collectStrings(doc, strings);
    } else {
        strings.push_back(json);
    }
    // Only texts that could be paths are looked up.
    strings.erase(std::remove_if(strings.begin(), strings.end(),
                                 [](const std::string& text) { return text.empty() || text.size() >= PATH_MAX; }),
                  strings.end());
    return strings;
}

bool InputScope::allows(const std::string& path, const char* what, std::string* opened) const {
    if (opened) *opened = path;
    if (!restricted()) return true;
    std::string resolved;
    switch (FileManager::resolvePath(path, &resolved)) {
        case FileManager::Resolution::Missing:
            return true;
        case FileManager::Resolution::Failed:
            break;
        case FileManager::Resolution::Resolved:
            if (std::find(files_.begin(), files_.end(), resolved) != files_.end() ||
                std::any_of(folders_.begin(), folders_.end(), [&](const std::string& folder) {
                    return FileManager::liesWithin(resolved, folder);
                })) {
                if (opened) *opened = resolved;
                return true;
            }
            break;
    }
    QVPrint("%s %s lies outside the template and the files given for this render, refused", what,
            path.c_str());
    return false;
}

}  // namespace Core
}  // namespace Quorvane
