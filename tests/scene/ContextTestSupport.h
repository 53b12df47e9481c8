// Small templates written on the spot for the render-context tests, and the
// read-back of a context's finished frame.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <string>

#include "render/Config.h"
#include "scene/RenderContext.h"
#include "support/GLFixture.h"
#include "support/TestSupport.h"

namespace QvTest {

// A template folder with "assets/" and "datas/" and a config.json.
class TemplateFolder {
public:
    explicit TemplateFolder(const std::string& json = std::string()) : dir_("qvcontext") {
        ::mkdir(dir_.file("assets").c_str(), 0755);
        ::mkdir(dir_.file("datas").c_str(), 0755);
        if (!json.empty()) writeConfig(json);
    }
    void writeConfig(const std::string& json) { writeFile(dir_.file("config.json"), json); }
    std::string folder() const { return dir_.path() + "/"; }
    std::string asset(const std::string& name) const { return dir_.file("assets/" + name); }

private:
    TempDir dir_;
};

// A normal template: composition "main" of the given size and duration with
// the given layers, background "#0000FF", at 25 frames per second, plus extra
// compositions and assets (JSON array members without brackets).
inline std::string normalTemplate(int width, int height, int duration, const std::string& mainLayers,
                                  const std::string& assets, const std::string& otherComps = std::string(),
                                  int type = 1, const std::string& fps = "25") {
    std::string comps = "{\"name\":\"main\",\"size\":[" + std::to_string(width) + "," +
                        std::to_string(height) + "],\"duration\":" + std::to_string(duration) +
                        ",\"bg\":\"#0000FF\",\"layers\":[" + mainLayers + "]}";
    if (!otherComps.empty()) comps += "," + otherComps;
    return "{\"type\":" + std::to_string(type) + ",\"main\":\"main\",\"fps\":" + fps + ",\"assets\":[" +
           assets + "],\"comps\":[" + comps + "]}";
}

// An AV layer of the given source over [start, start + duration) with the
// identity transform placed at (x, y) (anchor 0, scale 1).
inline std::string avLayer(const std::string& source, int start, int duration, float x = 0, float y = 0,
                           const std::string& extra = std::string()) {
    return "{\"type\":1,\"source\":\"" + source + "\",\"range\":[" + std::to_string(start) + "," +
           std::to_string(duration) + "],\"transform\":{\"a\":[0,0,0],\"p\":[" + std::to_string(x) + "," +
           std::to_string(y) + ",0],\"s\":[1,1,1],\"r\":0,\"t\":1}" + extra + "}";
}

inline std::string solidAsset(const std::string& key, const std::string& color, int width, int height) {
    return "{\"type\":4,\"key\":\"" + key + "\",\"name\":\"" + color + "\",\"size\":[" +
           std::to_string(width) + "," + std::to_string(height) + "]}";
}

inline std::string compAsset(const std::string& key, const std::string& comp) {
    return "{\"type\":3,\"key\":\"" + key + "\",\"name\":\"" + comp + "\"}";
}

inline std::string fileAsset(const std::string& key, const std::string& name, int count = 1) {
    return "{\"type\":1,\"key\":\"" + key + "\",\"name\":\"" + name + "\",\"num\":" + std::to_string(count) +
           "}";
}

// The finished frame of the context, row 0 being the composition's top row
// (the output pass flips the image for read-back).
inline Pixels readContext(Quorvane::Core::RenderContext& context) {
    context.beginReadContent();
    Pixels pixels = GLFixture::readFramebuffer(0, 0, context.width(), context.height());
    context.endReadContent();
    return pixels;
}

// Opaque colour of a composition pixel as 0xRRGGBBAA.
inline uint32_t pixelAt(const Pixels& pixels, int x, int y) {
    return pixels.packed(x, y);
}

// A test that loads templates written into its folder into a render context
// on the shared GL context.
class ContextFixture : public GLFixture {
protected:
    // Loads the template from its folder and builds a context on it.
    Quorvane::Core::RenderContext* build(const std::string& json) {
        folder.writeConfig(json);
        config.reset(new Quorvane::Core::Config(folder.folder()));
        context.reset(new Quorvane::Core::RenderContext(config.get(), nullptr, true, 0, -1));
        context->setGLContext(sharedContext());
        return context.get();
    }
    void TearDown() override {
        context.reset();
        config.reset();
        GLFixture::TearDown();
    }

    TemplateFolder folder;
    std::unique_ptr<Quorvane::Core::Config> config;
    std::unique_ptr<Quorvane::Core::RenderContext> context;
};

constexpr uint32_t kRed = 0xFF0000FF;
constexpr uint32_t kGreen = 0x00FF00FF;
constexpr uint32_t kBlue = 0x0000FFFF;
constexpr uint32_t kWhite = 0xFFFFFFFF;

}  // namespace QvTest
