// The still-image render task: every accepted input image becomes a one-frame
// layer of one composition as large as the largest image; the filter
// templates and watermarks lie over it; each frame is read back at its image's
// size and written into the output folder under its input's name.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "task/RenderBaseTask.h"

namespace Quorvane {
namespace Core {

class Config;

class RenderImageTask : public RenderBaseTask {
public:
    // Inputs wider or higher than this many pixels are refused.
    static constexpr int kMaxImageSide = 4096;

    RenderImageTask(const std::vector<std::string>& inputs, const std::string& outputFolder);
    // Deletes the render context while its GL context is still current, then
    // releases the GL context, then deletes the filter configurations that the
    // context's filters borrow.
    ~RenderImageTask() override;

    // Checks the inputs by their headers alone (refused ones are logged and
    // dropped), then builds the render context with one layer per input, the filters and the watermarks.
    // No input left, or a filter that cannot be loaded: no render context.
    void commit() override;
    // Draws and writes every frame, in input order; an input whose output file
    // an earlier one wrote replaces it. True when every image was written (or
    // the task was cancelled); false without a render context, on a failed
    // write, when an input's pixels did not decode or when its output file
    // would lie in a filter template's folder (nothing is written for it, the
    // others still are). Each file is written under a new name beside the
    // output and renamed over it, so nothing standing at the output name is
    // written through. Pixels are decoded frame by frame, after the delegate
    // heard renderStarted.
    bool start() override;
    bool isRendering() override { return rendering_; }
    // Only while rendering: the loop stops after the image it is writing.
    bool cancel() override;

    // Clamped to 1..100; returns the stored quality (50 unless set).
    int setJpgQuality(int quality);
    int jpgQuality() const { return jpgQuality_; }

    // The lower-case text after the last '.' of the whole path; "" without one.
    static std::string getSuffix(const std::string& path);
    // The file the input is written to: folder + "/" + its name without its
    // suffix + ".png", ".jpg", ".bmp" or ".tga"; "" for an unsupported suffix.
    static std::string outputFileFor(const std::string& outputFolder, const std::string& input);

    // The inputs still to render (after commit, the accepted ones).
    const std::vector<std::string>& inputs() const { return inputs_; }
    const std::string& outputFolder() const { return outputFolder_; }

private:
    // Deletes the render context and, after it, the filter configurations.
    void releaseScene();
    // Builds the render context of the accepted inputs; false when a filter
    // template could not be laid over it.
    bool buildScene(int width, int height);
    // Fits every filter layer to an image of that size at the top-left corner.
    void fitFilters(int width, int height);

    std::atomic<bool> cancelled_{false};
    std::atomic<bool> rendering_{false};
    int lastWidth_ = 0;
    int lastHeight_ = 0;
    int jpgQuality_ = 50;
    std::vector<Config*> filterConfigs_;
    std::vector<std::string> inputs_;
    std::string outputFolder_;
    // Header sizes of the accepted inputs, read once by commit.
    std::vector<std::pair<int, int>> sizes_;
    // The source key of each accepted input's layer.
    std::vector<std::string> sourceKeys_;
    // (filter name, configuration) of every filter laid over the context.
    std::vector<std::pair<std::string, Config*>> filterNames_;
};

}  // namespace Core
}  // namespace Quorvane
