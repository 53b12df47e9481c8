// Stand-in parent for passes under test until real layers exist in these
// tests: a plain pass that answers with a given frame-buffer manager. It is
// handed to passes as their parent layer; the render core only ever uses a
// parent through its pass part.
#pragma once

#include "render/GLFrameBufferManager.h"
#include "render/RenderPass.h"

namespace QvTest {

class PassTestLayer : public Quorvane::Core::RenderPass {
public:
    PassTestLayer(Quorvane::Core::RenderLayer* parent, int width, int height,
                  Quorvane::Core::GLFrameBufferManager* manager = nullptr)
        : RenderPass(parent, false, width, height), mManager(manager) {}

    Quorvane::Core::GLFrameBufferManager* frameBufferManager() override {
        return mManager ? mManager : RenderPass::frameBufferManager();
    }
    Quorvane::Core::RenderLayer* asLayer() {
        return reinterpret_cast<Quorvane::Core::RenderLayer*>(static_cast<RenderPass*>(this));
    }

private:
    Quorvane::Core::GLFrameBufferManager* mManager;
};

}  // namespace QvTest
