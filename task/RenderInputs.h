// The files one render reads, gathered once from everything the host and the
// template name: the scene may read what the host named (besides the
// template), and nothing the render writes (its video, its snapshots, the
// command line's log) may replace any of them.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace Quorvane {
namespace Core {

class InputScope;

// Every name one render is handed.
struct RenderFileNames {
    std::string templateFolder;
    // The template's configuration, whose texts may name files; when empty,
    // the template's own config.json is read for them.
    std::string configContent;
    // The host's folders: the scene reads the asset and script folders by
    // names it learns while running, the text program reads its own.
    std::string assetFolder;
    std::string scriptFolder;
    std::string textProgramFolder;
    // Every file the host named: replaceable files (whether an asset took
    // them or not), music, watermark images, the main script.
    std::vector<std::string> files;
    // JSON texts whose strings may name files: the script data, the dynamic
    // sub images.
    std::vector<std::string> documents;
    // Files the render mixes that give the scene nothing to open: audio tracks.
    std::vector<std::string> tracks;
};

class RenderInputs {
public:
    RenderInputs() = default;
    explicit RenderInputs(const RenderFileNames& names);

    // One more file the render reads (a track a script added); a missing one
    // is nothing to guard.
    void addFile(const std::string& path);
    // Why the existing file at path (links followed) is one of these inputs,
    // or lies in one of their folders; empty when it is neither. Files are
    // compared by identity (device and inode, so no other spelling of their
    // paths, link or hard link, passes); a path that cannot be resolved
    // counts as an input (the check fails closed).
    std::string reasonFor(const std::string& path) const;
    // Lets the scene read the folders and files the host named.
    void admitInto(InputScope& scope) const;

private:
    void addFolder(const std::string& folder, bool hostNamed);

    struct Folder {
        std::string given;
        std::string resolved;  // "" when it cannot be resolved
        bool hostNamed;
    };
    std::map<std::pair<dev_t, ino_t>, std::string> files_;  // identity -> the path that named it
    std::vector<std::string> hostFiles_;                    // as named, for the scope
    std::vector<Folder> folders_;
};

}  // namespace Core
}  // namespace Quorvane
