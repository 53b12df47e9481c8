// A layer of a stand-in composition with a frame-buffer manager, on the shared
// headless GL context: effects are created on it and drawn directly.
#pragma once

#include <string>
#include <vector>

#include <rapidjson/document.h>

#include "render/GLFrameBufferManager.h"
#include "render/GLRenderDestination.h"
#include "render/RenderEffect.h"
#include "support/GLFixture.h"
#include "support/TestComp.h"
#include "support/TestSupport.h"

namespace QvTest {

class EffectFixture : public GLFixture {
protected:
    static constexpr int kWidth = 64;
    static constexpr int kHeight = 32;

    void SetUp() override {
        GLFixture::SetUp();
        comp.manager = &manager;
        comp.dataFolder = dir.path() + "/";
        layer = new Quorvane::Core::RenderLayer(&comp, Quorvane::Core::kAVLayer, false);
        comp.addLayer(layer, false);
        setLayerSize(kWidth, kHeight);
    }

    void setLayerSize(int width, int height) {
        layer->setWidth(width);
        layer->setHeight(height);
        layer->layerSizeExtendData()->size = layer->layerSizeExtendData()->baseSize =
            Quorvane::Core::Vec2(static_cast<float>(width), static_cast<float>(height));
    }

    // An effect by match name whose "data" is the given JSON text.
    template <typename Effect>
    Effect* create(const std::string& name, const std::string& dataJson) {
        auto* effect = dynamic_cast<Effect*>(Quorvane::Core::RenderEffectManager::createEffect(name, layer));
        EXPECT_NE(effect, nullptr) << name;
        if (!effect) return nullptr;
        rapidjson::Document item;
        item.Parse(("{\"name\":\"" + name + "\",\"data\":" + dataJson + "}").c_str());
        EXPECT_FALSE(item.HasParseError()) << dataJson;
        effect->loadFromJson(item);
        owned.push_back(effect);
        return effect;
    }

    // Draws the effect for a frame on the texture and reads its own destination.
    Pixels drawFrame(Quorvane::Core::RenderEffect* effect, GLuint texture, long long frame) {
        effect->prepareForFrame(frame);
        effect->willExtendLayerSize(layer->layerSizeExtendData());
        effect->draw(texture);
        return readDestination(effect->getDestination());
    }

    void TearDown() override {
        for (auto* e : owned) delete e;
        owned.clear();
        GLFixture::TearDown();
    }

    TempDir dir{"qveffect"};
    Quorvane::Core::GLFrameBufferManager manager;
    TestComp comp{kWidth, kHeight, 25};
    Quorvane::Core::RenderLayer* layer = nullptr;
    std::vector<Quorvane::Core::RenderEffect*> owned;
};

}  // namespace QvTest
