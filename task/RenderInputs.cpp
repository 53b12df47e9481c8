#include "task/RenderInputs.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <set>

#include "core/FileCodec.h"
#include "core/FileManager.h"

namespace Quorvane {
namespace Core {

namespace {

// The texts of the template's own config.json, packed or plain. One linked
// out of the folder is no configuration of this template (the render reads
// nothing of it): it names nothing.
std::string configOf(const std::string& folder) {
    const std::string path = folder + "config.json";
    if (!FileManager::liesWithin(FileManager::resolvedPath(path), FileManager::resolvedPath(folder)))
        return {};
    FileCodec codec(FileCodec::getFileCodecVersion(path));
    if (!codec.decodePack(path)) return {};
    return codec.content.substr(0, static_cast<size_t>(std::min<uint64_t>(codec.size, codec.content.size())));
}

}  // namespace

RenderInputs::RenderInputs(const RenderFileNames& names) {
    for (const std::string& file : names.files) {
        addFile(file);
        hostFiles_.push_back(file);
    }
    for (const std::string& document : names.documents) {
        if (document.empty()) continue;
        for (const std::string& file : InputScope::pathsIn(document)) {
            addFile(file);
            hostFiles_.push_back(file);
        }
    }
    for (const std::string& track : names.tracks) addFile(track);
    addFolder(names.assetFolder, true);
    addFolder(names.scriptFolder, true);
    addFolder(names.textProgramFolder, false);
    if (names.templateFolder.empty()) return;

    // The template's own files: its configuration, its music (whichever the
    // host's replaced) and every file a text of its configuration names, as
    // an asset, a data file or a path of its own; and the folders whose files
    // are named while the render runs (image sequences, the script's data
    // files).
    std::string folder = names.templateFolder;
    if (folder.back() != '/') folder += '/';
    for (const char* name : {"config.json", "music.aac", "music.mp3"}) addFile(folder + name);
    const std::vector<std::string> texts =
        InputScope::pathsIn(names.configContent.empty() ? configOf(folder) : names.configContent);
    for (const std::string& text : std::set<std::string>(texts.begin(), texts.end())) {
        for (const std::string& file : {text, folder + "assets/" + text, folder + "datas/" + text})
            addFile(file);
    }
    addFolder(folder + "assets/", false);
    addFolder(folder + "datas/", false);
}

void RenderInputs::addFile(const std::string& path) {
    struct stat info;
    if (!path.empty() && stat(path.c_str(), &info) == 0)
        files_.emplace(std::make_pair(info.st_dev, info.st_ino), path);
}

void RenderInputs::addFolder(const std::string& folder, bool hostNamed) {
    if (folder.empty()) return;
    std::string resolved;
    // A folder that does not exist holds nothing to guard.
    if (FileManager::resolvePath(folder, &resolved) == FileManager::Resolution::Missing) return;
    folders_.push_back(Folder{folder, resolved, hostNamed});
}

std::string RenderInputs::reasonFor(const std::string& path) const {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return std::string();
    const auto file = files_.find(std::make_pair(info.st_dev, info.st_ino));
    if (file != files_.end()) return "it is a file of the render's inputs: " + file->second;
    if (folders_.empty()) return std::string();
    std::string resolved;
    if (FileManager::resolvePath(path, &resolved) != FileManager::Resolution::Resolved)
        return "it cannot be resolved";
    for (const Folder& folder : folders_) {
        if (folder.resolved.empty())
            return "the render's input folder " + folder.given + " cannot be resolved";
        if (FileManager::liesWithin(resolved, folder.resolved))
            return "it is a file of the render's input folder " + folder.given;
    }
    return std::string();
}

void RenderInputs::admitInto(InputScope& scope) const {
    for (const Folder& folder : folders_) {
        if (folder.hostNamed) scope.addFolder(folder.given);
    }
    for (const std::string& file : hostFiles_) scope.addFile(file);
}

}  // namespace Core
}  // namespace Quorvane
