// Dynamic templates written on the spot: a builder for the template JSON, the
// user's files as solid-colour images, and a fixture that builds the render
// context on them.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ContextTestSupport.h"
#include "render/Config.h"
#include "scene/DynamicComp.h"
#include "scene/RenderContext.h"
#include "support/MediaGen.h"

namespace QvTest {

// A dynamic template at 25 frames per second with a grey 32 x 32 solid "ph"
// as the placeholder every source composition starts with.
class DynamicTemplate {
public:
    DynamicTemplate(int width, int height) : width_(width), height_(height) {}

    // A 32 x 32 source composition showing the placeholder; `layers` replaces
    // its layer list when given.
    DynamicTemplate& source(const std::string& name, const std::string& layers = std::string()) {
        sources_.push_back(comp(name, 32, 32, 1000, layers.empty() ? avLayer("ph", 0, 1000) : layers));
        assets_.push_back(compAsset("a" + name, name));
        return *this;
    }
    // A composition of the template's size and `frames` frames whose i-th
    // source composition lies at x = 32 i.
    static std::string element(const std::string& name, int width, int height, int frames,
                               const std::vector<std::string>& sources) {
        std::string layers;
        for (size_t i = 0; i < sources.size(); ++i)
            layers += (i ? "," : "") + avLayer("a" + sources[i], 0, frames, 32.0f * i, 0);
        return comp(name, width, height, frames, layers);
    }
    DynamicTemplate& entrance(const std::string& name, int frames, const std::vector<std::string>& sources) {
        entrance_ = element(name, width_, height_, frames, sources);
        return *this;
    }
    DynamicTemplate& exit(const std::string& name, int frames, const std::vector<std::string>& sources) {
        exit_ = element(name, width_, height_, frames, sources);
        return *this;
    }
    DynamicTemplate& segment(const std::string& name, int frames, const std::vector<std::string>& sources) {
        segments_.push_back(element(name, width_, height_, frames, sources));
        return *this;
    }
    // A background or foreground of `frames` frames showing a solid of the colour.
    DynamicTemplate& background(const std::string& name, int frames, const std::string& color) {
        background_ = solidElement(name, frames, color);
        return *this;
    }
    DynamicTemplate& foreground(const std::string& name, int frames, const std::string& color) {
        foreground_ = solidElement(name, frames, color);
        return *this;
    }
    // "offsets" member: an integer, or an object with "time" and "style".
    DynamicTemplate& offset(const std::string& name, const std::string& value) {
        offsets_ += (offsets_.empty() ? "" : ",") + ("\"" + name + "\":" + value);
        return *this;
    }
    DynamicTemplate& raw(const std::string& member) {
        extra_ += "," + member;
        return *this;
    }

    std::string json() const {
        std::string text = "{\"type\":2,\"fps\":25,\"size\":[" + std::to_string(width_) + "," +
                           std::to_string(height_) + "],\"bg\":\"#000000\",\"expand\":0";
        std::string assets = solidAsset("ph", "#808080", 32, 32);
        for (const std::string& a : assets_) assets += "," + a;
        text += ",\"assets\":[" + assets + "]";
        text += ",\"sources\":[" + join(sources_) + "]";
        if (!entrance_.empty()) text += ",\"entrance\":" + entrance_;
        if (!exit_.empty()) text += ",\"exit\":" + exit_;
        if (!background_.empty()) text += ",\"background\":" + background_;
        if (!foreground_.empty()) text += ",\"foreground\":" + foreground_;
        text += ",\"segments\":[" + join(segments_) + "]";
        if (!offsets_.empty()) text += ",\"offsets\":{" + offsets_ + "}";
        return text + extra_ + "}";
    }

    static std::string comp(const std::string& name, int width, int height, int frames,
                            const std::string& layers) {
        return "{\"name\":\"" + name + "\",\"size\":[" + std::to_string(width) + "," +
               std::to_string(height) + "],\"duration\":" + std::to_string(frames) + ",\"layers\":[" +
               layers + "]}";
    }

private:
    std::string solidElement(const std::string& name, int frames, const std::string& color) {
        assets_.push_back(solidAsset("solid" + name, color, width_, height_));
        return comp(name, width_, height_, frames, avLayer("solid" + name, 0, frames));
    }
    static std::string join(const std::vector<std::string>& items) {
        std::string out;
        for (size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + items[i];
        return out;
    }

    int width_;
    int height_;
    std::vector<std::string> sources_;
    std::vector<std::string> assets_;
    std::vector<std::string> segments_;
    std::string entrance_, exit_, background_, foreground_, offsets_, extra_;
};

// Solid colours of the user's files, far apart from each other and from the
// grey placeholder and the black background.
inline const std::vector<Rgb>& fileColors() {
    static const std::vector<Rgb> colors = {{255, 0, 0},   {0, 255, 0},   {0, 0, 255},     {255, 255, 0},
                                            {255, 0, 255}, {0, 255, 255}, {255, 255, 255}, {255, 128, 0},
                                            {128, 0, 255}, {0, 128, 64},  {128, 255, 128}, {64, 0, 0}};
    return colors;
}

inline uint32_t packed(const Rgb& c) {
    return (uint32_t(c.r) << 24) | (uint32_t(c.g) << 16) | (uint32_t(c.b) << 8) | 0xFF;
}

class DynamicFixture : public ContextFixture {
protected:
    // Image i: 32 x 32 of fileColors()[i], made once per test.
    std::vector<std::string> files(int count) {
        std::vector<std::string> paths;
        for (int i = 0; i < count; ++i) {
            const std::string path = folder.asset("file" + std::to_string(i) + ".png");
            if (!fileExists(path)) {
                EXPECT_TRUE(makeImage(path, 32, 32, fileColors()[i % fileColors().size()]));
            }
            paths.push_back(path);
        }
        return paths;
    }
    Quorvane::Core::RenderContext* build(const std::string& json, const std::vector<std::string>& paths) {
        context.reset();
        folder.writeConfig(json);
        config.reset(new Quorvane::Core::Config(folder.folder()));
        config->setReplaceableFilePaths(paths);
        context.reset(new Quorvane::Core::RenderContext(config.get(), nullptr, true, 0, -1));
        context->setGLContext(sharedContext());
        return context.get();
    }
    std::string name(const std::string& templateName) const { return config->prefix() + templateName; }
    // The finished frame at `frame`.
    Pixels frameAt(long long frame) {
        context->setCurrentCompTime(frame);
        context->draw(0);
        return readContext(*context);
    }
};

}  // namespace QvTest
