#include "logfile.h"

#include <sys/stat.h>

#include "core/FileManager.h"
#include "task/RenderOutput.h"

using Quorvane::Core::FileManager;

namespace {

// A file as the file system knows it: one that exists by its device and inode
// (links followed), one that does not by its resolved folder and its name.
struct FileIdentity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string location;  // resolved; empty when the folder cannot be resolved

    bool operator==(const FileIdentity& other) const {
        if (exists != other.exists) return false;
        if (exists) return device == other.device && inode == other.inode;
        return !location.empty() && location == other.location;
    }
};

FileIdentity identityOf(const std::string& path) {
    FileIdentity id;
    struct stat info;
    if (!path.empty() && stat(path.c_str(), &info) == 0) {
        id.exists = true;
        id.device = info.st_dev;
        id.inode = info.st_ino;
        id.location = FileManager::resolvedPath(path);
        return id;
    }
    const std::string name = Quorvane::Core::RenderOutput::baseNameOf(path);
    if (name.empty() || name == "." || name == "..") return id;
    const std::string folder =
        FileManager::resolvedPath(path.size() > name.size() ? path.substr(0, path.size() - name.size()) : ".");
    if (!folder.empty()) id.location = folder + (folder.back() == '/' ? "" : "/") + name;
    return id;
}

}  // namespace

std::string logFileConflict(const std::string& log, const RenderFiles& files) {
    const FileIdentity target = identityOf(log);
    if (target == identityOf(files.output)) return "the output";
    const std::string templateDir = FileManager::resolvedPath(files.inputs.templateFolder);
    if (!target.location.empty() && FileManager::liesWithin(target.location, templateDir))
        return "a file inside the template folder";
    // The snapshots, and the files the host named, are compared by where
    // they would be as well: one not there yet would be read once the log
    // made it.
    for (const auto* list : {&files.written, &files.inputs.files}) {
        for (const std::string& file : *list) {
            if (target == identityOf(file)) return "the render's file " + file;
        }
    }
    const std::string input = Quorvane::Core::RenderInputs(files.inputs).reasonFor(log);
    if (!input.empty()) return "one of the render's inputs (" + input + ")";
    return std::string();
}
