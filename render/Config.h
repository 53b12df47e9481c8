// The parsed configuration of one template ("config.json" of a template
// folder, or one built in memory), with the music and audio options of a render.
#pragma once

#include <rapidjson/document.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "core/Color.h"
#include "core/FileManager.h"
#include "render/AssetConfig.h"
#include "render/DataFileCache.h"

class FileCodec;

namespace Quorvane {
namespace Core {

// Stored as the signed 32-bit value found under "type"; values other than the
// named ones are kept unchanged.
enum TemplateType : int32_t {
    TemplateTypeNormal = 1,
    TemplateTypeDynamic = 2,
    TemplateTypeFilter = 4,
    TemplateTypeInMemory = 8,
};

// One audio track of a render, added and edited by a template script.
struct AudioTrackInfo {
    std::string key;  // a fresh Unique::GenerateID() text
    float startTime = 0.0f;
    float inPoint = 0.0f;
    float duration = 0.0f;  // seconds, as probed
    float volume = 1.0f;    // 1 = unchanged
    float outPoint = 0.0f;
    float fadeInDuration = 0.0f;
    float fadeOutDuration = 0.0f;
    std::string filePath;
};

class Config {
public:
    // Loads "config.json" of the template folder (plain or packed). A missing
    // file or a broken document leaves a configuration that fails
    // isTemplateValid().
    explicit Config(std::string const& folder);
    // The same with `content` parsed in place of the folder's "config.json";
    // the folder still gives the asset and data paths and the music.
    Config(std::string const& content, std::string const& folder);
    // A configuration built in memory (type 8); it reads no file.
    Config(int width, int height, float fps, unsigned long duration, std::string const& mainCompName);
    virtual ~Config();

    Config(Config const&) = delete;
    Config& operator=(Config const&) = delete;

    // Parses the bytes and fills the configuration; the names of the document
    // are prefixed (resolveConflict) before any of them is read.
    void loadFromJson(char const* bytes, unsigned long size);
    // Gives every composition name, layer identifier, layer reference and asset
    // key of the document this configuration's fresh prefix, generates missing
    // layer identifiers and turns parents given by position into identifiers.
    void resolveConflict(rapidjson::Document& document, TemplateType type);

    std::string const& version() const { return version_; }
    std::string const& description() const { return description_; }
    std::string const& mainCompName() const { return mainCompName_; }
    std::string const& prefix() const { return prefix_; }
    TemplateType templateType() const { return templateType_; }
    Color const& backgroundColor() const { return backgroundColor_; }
    std::string const& musicFile() const { return musicFile_; }
    std::string const& configContent() const { return configContent_; }
    std::string const& templatePath() const { return templatePath_; }
    int mainCompWidth() const { return mainCompWidth_; }
    int mainCompHeight() const { return mainCompHeight_; }
    float frameRate() const { return frameRate_; }
    unsigned long duration() const { return duration_; }
    unsigned long finalDuration() const { return finalDuration_; }
    int expand() const { return expand_; }
    bool musicLoop() const { return musicLoop_; }
    float musicVolume() const { return musicVolume_; }
    int musicFadeoutDuration() const { return musicFadeoutDuration_; }
    int attrSetttings() const { return attr_; }
    bool isRandomSegment() const { return randomSegment_; }

    std::vector<AssetConfig*> const& assets() const { return assets_; }
    std::vector<std::string> const& replaceableFilePaths() const { return replaceableFilePaths_; }
    // Every file the host handed this configuration: replaceable files, taken
    // by an asset or not, files set for assets, the music.
    std::vector<std::string> const& hostFiles() const { return hostFiles_; }
    std::vector<AudioTrackInfo>& audioTracks() { return audioTracks_; }

    void setBackgroundColor(Color const& color) { backgroundColor_ = color; }
    void setFinalDuration(unsigned long frames) { finalDuration_ = frames; }
    void setMusicLoop(bool loop) { musicLoop_ = loop; }
    void setMusicVolume(float volume);
    void setMusicFadeoutDuration(int seconds) { musicFadeoutDuration_ = seconds; }
    void setRandomSegment(bool random) { randomSegment_ = random; }

    // Stores the path when its extension is "mp3" or "aac" in any case
    // (setMusicPath also needs the file to exist); otherwise nothing changes.
    void setMusicFile(std::string const& path);
    void setMusicPath(std::string const& path);
    // The render leaves without music (what a script's mix took the place of
    // was no music at all).
    void clearMusicFile() { musicFile_.clear(); }

    std::string assetFolder() const;
    std::string assetFile(std::string const& name) const;
    // The path of a data file; "" for a name that leaves "datas/" (a ".."
    // component) or a file there that is no regular file or too large, which
    // is logged and noted (noteUnreadableFile); "" too, logged but taken as
    // missing, for one that resolves outside the input scope.
    std::string dataFile(std::string const& name) const;
    // The decoded data file of "datas/", owned by the caller; null when the
    // file does not exist or may not be read.
    FileCodec* loadDataFile(std::string const& name) const;

    bool setFileForAsset(std::string const& uiKey, std::string const& file);
    std::string getAssetJsonForUIKey(std::string const& uiKey) const;
    std::string getExtraDataForUIKey(std::string const& uiKey) const;
    // Type 1: the assets with a "ui" object take the paths in order (an empty
    // path is used up without a change). Type 2: the list is kept for the
    // dynamic assembly. Other types: nothing.
    void setReplaceableFilePaths(std::vector<std::string> const& paths);

    // Main composition width and height above 0 and frame rate not 0 (a
    // negative size counts as invalid).
    bool isTemplateValid() const;

    // Why the template cannot be rendered, or "" when it can: every rate the
    // render uses (the root's and the main composition's own) finite and
    // from 1 to kMaxFrameRate, every composition size given positive and at
    // most maxSide pixels, so every solid asset's sides, and no file of the template that exists but may
    // not be read (recorded while the template is read, see dataFile).
    std::string refusalReason(int maxSide) const;
    // Largest composition side a render takes, whatever GL allows.
    static constexpr int kMaxCompSide = 16384;
    // The encoder's limit.
    static constexpr float kMaxFrameRate = 1000.0f;
    static bool isUsableFrameRate(float fps) { return fps >= 1.0f && fps <= kMaxFrameRate; }
    // The longest timeline a render takes: a day of video at its rate, and
    // never more than 2^24 frames (four and a half hours at 1000 fps). Nobody
    // waits for more, and the dynamic assembly places layers in proportion.
    static constexpr double kMaxTimelineSeconds = 24.0 * 60.0 * 60.0;
    static constexpr unsigned long long kMaxTimelineFrames = 1ull << 24;
    static unsigned long long maxTimelineFrames(float fps);
    // Why a main timeline of this many frames at this rate cannot be
    // rendered (none, or more than maxTimelineFrames), or "".
    static std::string timelineRefusal(unsigned long long frames, float fps);
    // The rate frames are counted at once the scene is built (the main
    // composition's own rate, when it gives one); the render task stores it so
    // that the encoder, the mux and the reported duration agree.
    void setFrameRate(float fps) { frameRate_ = fps; }
    // Music volume: a finite gain from 0 up to kMaxMusicVolume (a loud one is
    // the host's choice; ffmpeg clips what it amplifies); setMusicVolume keeps
    // the current value with a log line otherwise. Full-scale noise amplified
    // about 3e5 times makes ffmpeg's AAC encoder fail or spin for ever; 1e5
    // still encodes at once, for every kind of full-scale music tried.
    static constexpr float kMaxMusicVolume = 1e5f;
    static bool isUsableMusicVolume(float volume) {
        return std::isfinite(volume) && volume >= 0.0f && volume <= kMaxMusicVolume;
    }
    // Notes a file of the template that exists but may not be read.
    void noteUnreadableFile(std::string const& what) const;
    // Notes a part of the template that the scene found it cannot build
    // (refusalReason answers it, as an unreadable file).
    void noteUnbuildable(std::string const& what) const;
    // The most tiles a dynamic background or foreground is repeated in: each
    // is a layer every frame visits, so more would make the render crawl
    // (a day at 25 fps under 10-second tiles takes 8640). 65536 one-frame
    // tiles, 44 minutes at 25 fps, still reach "start" in about a second,
    // as a long render of a still background did before tiles were counted.
    static constexpr size_t kMaxDynamicTiles = 65536;

    // The files this render may read: the template folder and every file
    // the host names through this configuration; the render task adds its
    // own folders and files.
    InputScope& inputScope() { return inputScope_; }
    InputScope const& inputScope() const { return inputScope_; }
    // The data files this render has read, kept for the layers and effects
    // that name them again (dataFile still answers each path).
    DataFileCache& dataFiles() const { return dataFiles_; }

private:
    void setFolder(std::string const& folder);
    void chooseMusic();
    void readRoot(rapidjson::Value const& root);
    void readMainComp(rapidjson::Value const& root);
    void checkCompSizes(rapidjson::Value const& root);
    AssetConfig* findAsset(std::string const& uiKey) const;
    // A file the host handed: it may be read, and nothing the render writes replaces it.
    void addHostFile(std::string const& path);

    std::string version_ = "1.0.0";
    uint64_t duration_ = 0;
    uint64_t finalDuration_ = 0;
    float frameRate_ = 0.0f;
    int32_t mainCompWidth_ = 0;
    int32_t mainCompHeight_ = 0;
    int32_t expand_ = 0;
    Color backgroundColor_;
    std::string musicFile_;
    bool musicLoop_ = false;
    float musicVolume_ = 1.0f;
    int32_t musicFadeoutDuration_ = 0;
    int32_t attr_ = 0;
    std::string prefix_;
    std::string mainCompName_;
    std::string description_;
    std::string templatePath_;
    std::string configContent_;
    TemplateType templateType_ = TemplateTypeNormal;
    bool randomSegment_ = false;
    std::vector<AssetConfig*> assets_;
    std::vector<std::string> replaceableFilePaths_;
    std::vector<std::string> hostFiles_;
    std::vector<AudioTrackInfo> audioTracks_;
    // Facts for refusalReason.
    bool hasMainCompFrameRate_ = false;
    float mainCompFrameRate_ = 0.0f;
    int64_t largestCompSide_ = 0;
    std::string badCompSize_;
    mutable std::vector<std::string> unreadableFiles_;
    InputScope inputScope_;
    mutable DataFileCache dataFiles_;
};

}  // namespace Core
}  // namespace Quorvane
