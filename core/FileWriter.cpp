#include "core/FileWriter.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace Quorvane {
namespace Core {

namespace {

// A file name may hold 255 bytes; the name is cut so that the temporary
// name's dot, process id and attempt number still fit.
constexpr size_t kTempNameBaseBytes = 200;
constexpr int kTempAttempts = 100;

// The mode of the fopen this writer replaced: what the umask leaves of 0666.
int createExclusive(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
}

// A file of path's folder that nothing stood at before; -1 when none can be
// made.
int createBeside(const std::string& path, std::string* temp) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = path.substr(folder.size()).substr(0, kTempNameBaseBytes);
    const std::string stem = folder + "." + name + "." + std::to_string(getpid()) + ".";
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
        *temp = stem + std::to_string(attempt);
        const int fd = createExclusive(*temp);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

}  // namespace

FileWriter::~FileWriter() {
    discard();
}

void FileWriter::discard() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
    if (mode_ == Mode::Replace) unlink(temp_.c_str());
}

bool FileWriter::open(const std::string& path, Mode mode) {
    discard();
    mode_ = mode;
    path_ = path;
    temp_.clear();
    fd_ = mode == Mode::Replace ? createBeside(path, &temp_) : createExclusive(path);
    failed_ = fd_ < 0;
    return !failed_;
}

bool FileWriter::write(const void* data, size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    if (fd_ < 0) failed_ = true;
    while (size > 0 && !failed_) {
        const ssize_t written = ::write(fd_, bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            failed_ = true;
        } else {
            bytes += written;
            size -= static_cast<size_t>(written);
        }
    }
    return !failed_;
}

bool FileWriter::commit() {
    if (fd_ < 0) return !failed_;
    // A close that fails may have lost written bytes (a full network disk).
    if (::close(fd_) != 0) failed_ = true;
    fd_ = -1;
    if (mode_ == Mode::Replace) {
        if (!failed_ && rename(temp_.c_str(), path_.c_str()) != 0) failed_ = true;
        if (failed_) unlink(temp_.c_str());
    }
    return !failed_;
}

bool FileWriter::writeWhole(const std::string& path, const void* data, size_t size) {
    FileWriter writer;
    return writer.open(path, Mode::Replace) && writer.write(data, size) && writer.commit();
}

}  // namespace Core
}  // namespace Quorvane
