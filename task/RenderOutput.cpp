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
#include "core/FileWriter.h"
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

// stb's writers hand their bytes over in pieces.
void writeToFile(void* context, void* data, int size) {
    static_cast<FileWriter*>(context)->write(data, size > 0 ? static_cast<size_t>(size) : 0);
}

}  // namespace

bool WriteImageFile(const std::string& path, ImageFileKind kind, int width, int height, const uint8_t* rgba,
                    int quality) {
    FileWriter file;
    if (!file.open(path, FileWriter::Mode::Replace)) return false;
    int encoded = 0;
    switch (kind) {
        case ImageFileKind::Png:
            encoded = stbi_write_png_to_func(writeToFile, &file, width, height, 4, rgba, width * 4);
            break;
        case ImageFileKind::Jpg:
            encoded = stbi_write_jpg_to_func(writeToFile, &file, width, height, 4, rgba, quality);
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
            encoded = stbi_write_bmp_to_func(writeToFile, &file, width, height, 3, rgb.data());
            break;
        }
        case ImageFileKind::Tga:
            // Run-length encoded: the writer's default (stbi_write_tga_with_rle).
            encoded = stbi_write_tga_to_func(writeToFile, &file, width, height, 4, rgba);
            break;
    }
    // A file the encoder gave up on is removed with the writer.
    return encoded != 0 && file.commit();
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
