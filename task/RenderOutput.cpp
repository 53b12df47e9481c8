#include "task/RenderOutput.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "core/FileManager.h"
#include "core/Log.h"

namespace Quorvane {
namespace Core {

namespace {

// The work folder's name holds the output's name, cut so that the whole
// name stays within the 255 bytes a file system allows.
constexpr size_t kFolderNameBaseBytes = 200;

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}


}  // namespace

RenderOutput::RenderOutput(const std::string& outputPath, int pid)
    : outputPath_(outputPath),
      folder_(folderOf(outputPath)),
      base_(baseNameOf(outputPath)),
      workFolder_(workFolderFor(outputPath, pid)),
      workFile_(workFolder_ + "/" + base_) {}

std::string RenderOutput::baseNameOf(const std::string& outputPath) {
    const size_t slash = outputPath.rfind('/');
    return slash == std::string::npos ? outputPath : outputPath.substr(slash + 1);
}

std::string RenderOutput::workFolderFor(const std::string& outputPath, int pid) {
    const std::string base = baseNameOf(outputPath).substr(0, kFolderNameBaseBytes);
    std::string folder = folderOf(outputPath);
    if (folder.back() != '/') folder += '/';
    return folder + "." + base + "." + std::to_string(pid) + ".render";
}

std::string RenderOutput::refusalReason(const std::vector<std::string>& inputFolders,
                                        const std::vector<std::string>& inputFiles) const {
    if (base_.empty() || base_ == "." || base_ == "..") return "it names a folder";
    struct stat info;
    const bool exists = stat(outputPath_.c_str(), &info) == 0;
    // A link that leads nowhere counts as absent: the video replaces the link.
    if (!exists && errno != ENOENT) return std::string("it cannot be examined: ") + strerror(errno);
    if (exists && !S_ISREG(info.st_mode)) return "it is no regular file";
    struct stat folderInfo;
    if (stat(folder_.c_str(), &folderInfo) != 0 || !S_ISDIR(folderInfo.st_mode))
        return "its folder does not exist";
    if (access(folder_.c_str(), W_OK | X_OK) != 0) return "its folder is not writable";
    if (!exists) return std::string();
    const std::string real = FileManager::resolvedPath(outputPath_);
    for (const std::string& folder : inputFolders) {
        if (FileManager::liesWithin(real, FileManager::resolvedPath(folder)))
            return "it is a file of the render's input folder " + folder;
    }
    for (const std::string& file : inputFiles) {
        struct stat input;
        if (!file.empty() && stat(file.c_str(), &input) == 0 && input.st_dev == info.st_dev &&
            input.st_ino == info.st_ino)
            return "it is the render's input " + file;
    }
    return std::string();
}

bool RenderOutput::create() {
    // mkdir never follows a link and fails on anything already there.
    if (mkdir(workFolder_.c_str(), 0700) != 0) {
        const int err = errno;
        QVPrint("could not create the work folder %s: %s", workFolder_.c_str(), strerror(err));
        return false;
    }
    return true;
}

bool RenderOutput::publish() {
    struct stat info;
    if (lstat(workFile_.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        QVPrint("the mux left no video at %s", workFile_.c_str());
        return false;
    }
    if (rename(workFile_.c_str(), outputPath_.c_str()) != 0) {
        const int err = errno;
        QVPrint("could not move the video to %s: %s", outputPath_.c_str(), strerror(err));
        return false;
    }
    return true;
}

void RenderOutput::discard() const {
    RemoveRenderWorkFolder(workFolder_.c_str(), base_.c_str());
}

void RemoveRenderWorkFolder(const char* workFolder, const char* base) {
    const size_t length = strlen(base);
    if (length == 0 || length > NAME_MAX) return;
    const int fd = open(workFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    struct stat info;
    if (fstat(fd, &info) == 0 && info.st_uid == geteuid()) {
        static const char* const kSuffixes[] = {"", ".h264", ".aac"};
        char name[NAME_MAX + 8];
        for (const char* suffix : kSuffixes) {
            memcpy(name, base, length);
            const size_t suffixLength = strlen(suffix);
            memcpy(name + length, suffix, suffixLength + 1);
            unlinkat(fd, name, 0);
        }
        unlinkat(AT_FDCWD, workFolder, AT_REMOVEDIR);
    }
    close(fd);
}

}  // namespace Core
}  // namespace Quorvane
