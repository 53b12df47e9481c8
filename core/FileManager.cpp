#include "core/FileManager.h"

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

}  // namespace Core
}  // namespace Quorvane
