// Every file the engine writes goes through FileWriter, so that nothing that
// stood at a name before (a link planted to a file elsewhere, a FIFO no one
// reads, a device) is ever opened for writing:
//   Replace  a new file is created beside the name (O_EXCL, O_NOFOLLOW),
//            written whole and renamed over the name; a file that could not
//            be written whole (full disk) is removed and what stood at the
//            name stays, byte for byte.
//   New      the name itself is created (O_EXCL, O_NOFOLLOW) and fails when
//            anything stands there: for files a render makes in a folder it
//            has just created itself, which it removes with the folder.
#pragma once

#include <cstddef>
#include <string>

namespace Quorvane {
namespace Core {

class FileWriter {
public:
    enum class Mode { Replace, New };

    FileWriter() = default;
    // Closes a file that was not committed; in Replace mode it is removed.
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    // False when the file cannot be created; the failure sticks until commit.
    bool open(const std::string& path, Mode mode);
    // Appends at the descriptor's offset, resuming partial writes; a failure
    // sticks and every later write fails.
    bool write(const void* data, size_t size);
    // For callers that seek (a container that goes back to its header); -1
    // when nothing is open.
    int fd() const { return fd_; }
    // The name the bytes go to until commit: beside the name in Replace mode.
    const std::string& writtenPath() const { return mode_ == Mode::Replace ? temp_ : path_; }
    // Closes the file and, in Replace mode, renames it over the name. False
    // when anything failed since open (the open included); the file of a
    // failed Replace is removed. True when nothing was opened nor failed.
    bool commit();

    // The whole of data as the file at path, in Replace mode.
    static bool writeWhole(const std::string& path, const void* data, size_t size);
    static bool writeWhole(const std::string& path, const std::string& content) {
        return writeWhole(path, content.data(), content.size());
    }

private:
    void discard();

    int fd_ = -1;
    bool failed_ = false;
    Mode mode_ = Mode::Replace;
    std::string path_;
    std::string temp_;  // what is written in Replace mode
};

}  // namespace Core
}  // namespace Quorvane
