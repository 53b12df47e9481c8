// The video render task: builds the scene of one template, draws every frame
// into the H.264 writer, mixes the template's audio on a thread of its own,
// writes the requested snapshot frames and muxes the finished file.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/Semaphore.h"
#include "media/FFAudioComposer.h"
#include "task/RenderBaseTask.h"
#include "task/RenderOutput.h"

struct AVFrame;

namespace Quorvane {
namespace Core {

class Config;
class FFAudioWriter;
class NVMediaWriter;
class RenderThread;

// Seconds of processor time (clock) and the video's length.
struct RenderTaskInfo {
    double renderTime = 0.0;  // drawing frames
    double encodeTime = 0.0;  // from the end of each frame's drawing to its hand-over to the encoder
    double totalTime = 0.0;   // the whole frame loop
    float duration = 0.0f;    // composition frames / frame rate
};

// One dynamic replacement entry; filled by the text and dynamic image steps.
struct SubAssetInfo {
    std::string imagePath;
    std::string keyPrefix;
    std::vector<std::string> images;
    // Text images are drawn for one layer each, so they are placed one per
    // served layer in the order the layers were matched. Host images are one
    // per pass, shared by every layer that pass serves.
    bool onePerLayer = false;
};

class RenderTask : public RenderBaseTask, public FFAudioComposerDelegate {
public:
    RenderTask(const char* templatePath, const char* outputPath, RenderDelegate* delegate);
    ~RenderTask() override;

    void commit() override;
    bool start() override;
    bool isRendering() override { return rendering_; }
    // Only while rendering: the frame loop stops before its next frame.
    bool cancel() override;

    void prepareAudioEncoder() override {}
    void addAudioNewFrame(AVFrame* frame, long pts, bool last) override;

    // A factor that is not finite and in range keeps the current one, with a log line.
    void setBitrateControl(float factor);
    void setLoopAudio(bool loop);
    void setAudioFile(const std::string& path);
    void setDynamicSubImgJson(const std::string& json) { dynamicSubImgJson_ = json; }
    void setDynamicSubTextJson(const std::string& json) { dynamicSubTextJson_ = json; }
    void setAssetDir(const std::string& path) { assetDir_ = path; }
    void setScrivaneDir(const std::string& path) { scrivaneDir_ = path; }
    void setLuaMainFile(const std::string& path) { luaMainFile_ = path; }
    void setLuaDir(const std::string& path) { luaDir_ = path; }
    void setLuaData(const std::string& data) { luaData_ = data; }
    void setSnapShotDir(const std::string& path) { snapshotDir_ = path; }
    void setSnapFrames(const std::vector<int>& frames) { snapshotFrames_ = frames; }

    Config* renderConfig() { return config_; }
    RenderTaskInfo* renderTaskInfo() { return taskInfo_; }

    // Builds the scene (once) and returns its length in seconds; 0 without one.
    float videoDuration();
    // Whether the frame is in the snapshot list; with `erase` its first
    // occurrence is taken out, so a repeated number yields one snapshot.
    bool shouldSnapThisFrame(int frame, bool erase);

    // Text images and dynamic sub images (TextImages.cpp), run by start after
    // the scene is built. The first two collect text entries for the
    // renderer; drawTexts writes them out and runs it.
    void buildScriptDataSubTexts(std::map<std::string, std::string>& replaceMap);
    void buildDynamicSubTexts(std::vector<SubAssetInfo>& list);
    bool drawTexts();
    bool parseSubImgJson();
    void replaceDynamicSubImgs();
    // The script data, with the placeholders of the drawn texts replaced.
    const std::string& luaData() const { return luaData_; }

private:
    void prepareAudio();
    // Logs the invalid-template lines with the reason, releases what start
    // made and returns false: the child then reports "cancel".
    bool refuseTemplate(const std::string& reason);
    // The first replaceable file whose source could not be read or decoded.
    std::string lostReplaceableFile(const std::set<std::string>& replaced) const;
    // The user's files that replace the template's own.
    std::set<std::string> replacedFiles() const;
    // Every name this render was handed, of which its inputs are gathered.
    RenderFileNames fileNames() const;
    void writeSnapshot(int64_t frame);
    void releaseScene();
    // The text steps in their order; the drawn texts join the dynamic sub
    // images and replace their placeholders in the script data.
    void drawTextImages();

    bool loopAudio_ = false;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> rendering_{false};
    std::string audioFile_;
    std::string dynamicSubImgJson_;
    std::string dynamicSubTextJson_;
    std::vector<SubAssetInfo> dynamicSubImgs_;
    std::string assetDir_;
    std::string scrivaneDir_;
    Config* config_ = nullptr;
    float bitrateControl_ = 0.25f;
    std::string outputPath_;
    // Where the mux writes, inside the render's work folder (RenderOutput).
    std::string workFile_;
    // The music the scripts' mix replaced, kept should the mix give no sound.
    std::string musicBeforeMix_;
    std::string luaMainFile_;
    std::string luaDir_;
    std::string luaData_;
    std::string textList_;
    std::string snapshotDir_;
    std::vector<int> snapshotFrames_;
    NVMediaWriter* videoWriter_ = nullptr;
    FFAudioComposer* audioMixer_ = nullptr;
    Semaphore framesDone_{0};
    Semaphore audioDone_{0};
    RenderThread* audioThread_ = nullptr;
    FFAudioWriter* audioWriter_ = nullptr;
    std::vector<uint8_t> pixels_;
    // What the render reads: what the scene may open besides the template,
    // and what the output path and the snapshots may not replace.
    RenderInputs inputs_;
    RenderTaskInfo* taskInfo_ = nullptr;
};

bool file_exists(const std::string& path);
// Wall-clock milliseconds.
long long getCurrentTime();
// The items joined, the separator only between non-empty text and an item.
std::string implode(const std::string& separator, const std::vector<std::string>& items);
// Numeric IPv4 addresses of every interface but "lo".
void get_ips(std::vector<std::string>& out);
// "%02X:..." hardware addresses of every IPv4 interface but "lo".
void get_mac_addresses(std::vector<std::string>& out);

}  // namespace Core
}  // namespace Quorvane
