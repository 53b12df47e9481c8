// A root composition for composition and layer tests: it answers what the
// render context would (source and composition registry, frame-buffer
// manager, frame rate) with plain maps, so the tests build compositions
// directly. Like the render context it deletes its sources before its
// compositions.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "core/TimeUnit.h"
#include "media/AVSource.h"
#include "render/GLFrameBufferManager.h"
#include "scene/RenderComp.h"
#include "support/GLFixture.h"

namespace QvTest {

class CompTestRoot : public Quorvane::Core::RenderComp, public Quorvane::Core::AVSourceContext {
public:
    CompTestRoot(int width, int height, float fps, unsigned long duration)
        : RenderComp(nullptr, true, 0u, -1) {
        setFrameRate(fps);
        setCompSize(width, height);
        setCompDuration(duration);
        // Black, so that uncovered pixels are easy to tell.
        setBackgroundColor(Quorvane::Core::Color(0, 0, 0, 1));
    }

    ~CompTestRoot() override {
        for (auto& entry : sources) delete entry.second;
        sources.clear();
        for (Quorvane::Core::AVSource* s : extraSources) delete s;
        extraSources.clear();
        for (auto& entry : comps) delete entry.second;
        comps.clear();
    }

    // AVSourceContext
    void addSource(Quorvane::Core::AVSource* source) override {
        if (!source) return;
        if (!sources.emplace(source->key(), source).second) extraSources.push_back(source);
    }
    float frameRate() const override { return RenderComp::frameRate(); }
    Quorvane::Core::GLContext* glContext() override { return nullptr; }
    Quorvane::Core::GLFrameBufferManager* frameBufferManager() override { return &manager; }
    // The template's "datas/" folder.
    std::string dataFile(const std::string& name) const override { return dataFolder + name; }

    // Registry
    Quorvane::Core::AVSource* source(const std::string& key) override {
        auto it = sources.find(key);
        return it == sources.end() ? nullptr : it->second;
    }
    Quorvane::Core::RenderComp* comp(const std::string& name) override {
        auto it = comps.find(name);
        return it == comps.end() ? nullptr : it->second;
    }
    void addComp(Quorvane::Core::RenderComp* c) override {
        if (c && c != this) comps.emplace(c->name(), c);
    }
    std::string createTextureSource(unsigned int texture, Quorvane::Core::AVSource::ColorFormat format, int w,
                                    int h, std::string key) override {
        auto* s = new Quorvane::Core::AVSource(key, this, texture, format, w, h);
        return s->key();
    }
    std::string createCompSource(Quorvane::Core::RenderComp* c, std::string key, std::string json) override {
        auto* s = new Quorvane::Core::AVSource(key, this, c);
        s->setConfigJson(json);
        return s->key();
    }
    std::string duplicateSource(const std::string& key) override {
        Quorvane::Core::AVSource* s = source(key);
        return s ? (new Quorvane::Core::AVSource(*s))->key() : std::string();
    }
    std::string duplicateComp(const Quorvane::Core::RenderComp& c) override {
        return (new Quorvane::Core::RenderComp(c))->name();
    }
    std::string duplicateCompWithReusedSource(Quorvane::Core::RenderComp* c,
                                              std::map<std::string, std::string>& keys) override {
        return (new Quorvane::Core::RenderComp(c, keys))->name();
    }

    // A solid-colour source registered under key.
    std::string solid(const std::string& key, const Quorvane::Core::Color& color, int w, int h) {
        return (new Quorvane::Core::AVSource(key, this, color, w, h))->key();
    }

    // An AV layer on top of `comp` showing a new solid of size w x h, its
    // top-left corner at (x, y, z) of the composition, visible from frame
    // `in` (where its local frame 0 lies) for `duration` frames.
    Quorvane::Core::RenderAVLayer* addSolid(Quorvane::Core::RenderComp* comp, const std::string& id,
                                            const Quorvane::Core::Color& color, int w, int h, float x,
                                            float y, float z = 0, long long in = 0,
                                            long long duration = 1000) {
        using namespace Quorvane::Core;
        auto* layer = new RenderAVLayer(comp);
        layer->setSourceID(solid(id + "-source", color, w, h), false);
        place(layer, Vec3(0, 0, 0), Vec3(x, y, z), 0);
        const float fps = frameRate();
        layer->setLayerStartTime(TimeUnit(in, fps));
        layer->setLayerInPoint(TimeUnit(in, fps));
        layer->setLayerDuration(TimeUnit(duration, fps));
        comp->addLayer(layer, false);
        return layer;
    }

    static void place(Quorvane::Core::RenderLayer* layer, const Quorvane::Core::Vec3& anchor,
                      const Quorvane::Core::Vec3& position, long long frame) {
        layer->setTransformAtTime(anchor, position, Quorvane::Core::Vec3(0, 0, 0),
                                  Quorvane::Core::Vec3(1, 1, 1), frame);
    }

    // Draws the root at a frame and reads its finished image: row 0 is the
    // top row of the picture, as an encoder receives it.
    Pixels drawFrame(long long frame) {
        setCurrentCompTime(frame);
        draw(0);
        return GLFixture::readDestination(readDestination());
    }

    Quorvane::Core::GLFrameBufferManager manager;
    std::string dataFolder;
    std::map<std::string, Quorvane::Core::AVSource*> sources;
    std::vector<Quorvane::Core::AVSource*> extraSources;
    std::map<std::string, Quorvane::Core::RenderComp*> comps;
};

// The pixel at (x, y) is (r, g, b) in 0..255 within tol, and opaque.
inline ::testing::AssertionResult PixelIs(const Pixels& p, int x, int y, int r, int g, int b, int tol = 2) {
    const uint8_t* v = p.at(x, y);
    if (std::abs(v[0] - r) <= tol && std::abs(v[1] - g) <= tol && std::abs(v[2] - b) <= tol && v[3] >= 253)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "pixel (" << x << ", " << y << ") is (" << int(v[0]) << ", " << int(v[1]) << ", " << int(v[2])
           << ", " << int(v[3]) << "), expected (" << r << ", " << g << ", " << b << ", 255)";
}

// A GL test whose layers live in a CompTestRoot of the given size, rate and
// duration, made afresh for each test.
class CompRootFixture : public GLFixture {
protected:
    CompRootFixture(int width, int height, float fps, unsigned long duration)
        : width_(width), height_(height), fps_(fps), duration_(duration) {}
    void SetUp() override {
        GLFixture::SetUp();
        root = new CompTestRoot(width_, height_, fps_, duration_);
    }
    void TearDown() override {
        delete root;
        root = nullptr;
        GLFixture::TearDown();
    }

    CompTestRoot* root = nullptr;

private:
    int width_;
    int height_;
    float fps_;
    unsigned long duration_;
};

}  // namespace QvTest
