#include "task/RenderOutput.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include <stb_image_write.h>

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

// The descriptor of a file this write created; partial writes are resumed.
struct FileSink {
    int fd;
    bool failed;
};

void writeToSink(void* context, void* data, int size) {
    auto* sink = static_cast<FileSink*>(context);
    const auto* bytes = static_cast<const char*>(data);
    size_t left = size > 0 ? static_cast<size_t>(size) : 0;
    while (left > 0 && !sink->failed) {
        const ssize_t written = write(sink->fd, bytes, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            sink->failed = true;
        } else {
            bytes += written;
            left -= static_cast<size_t>(written);
        }
    }
}

// A file of the output's folder that nothing stood at before: whatever is
// at the output name (a link to a file elsewhere, a FIFO no one reads) is
// then replaced by the rename, never opened. -1 when none can be made.
int createBeside(const std::string& path, std::string* temp) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    // Cut so that the name with its suffix stays within a file name's limit.
    const std::string name = path.substr(folder.size()).substr(0, 200);
    const std::string stem = folder + "." + name + "." + std::to_string(getpid()) + ".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        *temp = stem + std::to_string(attempt);
        // The mode of the fopen this replaces: what the umask leaves of 0666.
        const int fd = open(temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

}  // namespace

bool WriteImageFile(const std::string& path, ImageFileKind kind, int width, int height, const uint8_t* rgba,
                    int quality) {
    std::string temp;
    const int fd = createBeside(path, &temp);
    if (fd < 0) return false;
    FileSink sink{fd, false};
    int encoded = 0;
    switch (kind) {
        case ImageFileKind::Png:
            encoded = stbi_write_png_to_func(writeToSink, &sink, width, height, 4, rgba, width * 4);
            break;
        case ImageFileKind::Jpg:
            encoded = stbi_write_jpg_to_func(writeToSink, &sink, width, height, 4, rgba, quality);
            break;
        case ImageFileKind::Bmp: {
            // Given four components this writer makes a 32-bit file with a V4
            // header; three give the plain 24-bit bottom-up bitmap.
            size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
            std::vector<uint8_t> rgb(pixels * 3);
            for (size_t i = 0; i < pixels; ++i) {
                rgb[3 * i] = rgba[4 * i];
                rgb[3 * i + 1] = rgba[4 * i + 1];
                rgb[3 * i + 2] = rgba[4 * i + 2];
            }
            encoded = stbi_write_bmp_to_func(writeToSink, &sink, width, height, 3, rgb.data());
            break;
        }
        case ImageFileKind::Tga:
            // Run-length encoded: the writer's default (stbi_write_tga_with_rle).
            encoded = stbi_write_tga_to_func(writeToSink, &sink, width, height, 4, rgba);
            break;
    }
    const bool closed = close(fd) == 0;
    const bool ok = encoded != 0 && !sink.failed && closed && rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) unlink(temp.c_str());
    return ok;
}

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

std::string RenderOutput::refusalReason(const RenderInputs& inputs) const {
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
    return inputs.reasonFor(outputPath_);
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
