// File and path queries. '/' is the only separator.
#pragma once

#include <sys/stat.h>

#include <string>

namespace Quorvane {
namespace Core {

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
};

}  // namespace Core
}  // namespace Quorvane
