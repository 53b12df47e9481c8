// Copies its input and draws a host's facial landmarks on it as black
// points. Templates carry no parameters for it: the host sets the points.
#pragma once

#include <string>
#include <vector>

#include "effects/EffectCommon.h"
#include "render/RenderEffect.h"

namespace Quorvane {
namespace Core {

class FullScreenRenderPass;

class FaceLandmarkDisplay : public RenderEffect {
public:
    // One face of the 68-point layout.
    static constexpr size_t kPointsPerFace = 68;

    explicit FaceLandmarkDisplay(RenderLayer* layer);
    // Copies the points and the point size; new program and copy pass, no buffer.
    FaceLandmarkDisplay(const FaceLandmarkDisplay& other);
    FaceLandmarkDisplay& operator=(const FaceLandmarkDisplay&) = delete;
    ~FaceLandmarkDisplay() override;

    void drawSelf(unsigned int texture) override;
    void prepareForFrame(long long) override {}
    void loadFromJson(const rapidjson::Value&) override {}
    bool hasAnimation() override { return false; }
    std::string matchName() const override { return "ZR_Face_Landmark_Display"; }

    // `count` floats, x and y of each point in layer pixels (y down).
    void updateLandmark(const float* points, unsigned long count);
    void setPointSize(float size) { mPointSize = size; }
    const std::vector<float>& landmarks() const { return mLandmarks; }
    float pointSize() const { return mPointSize; }

private:
    GLShader* mShader;
    uint32_t mVertexBuffer = 0;
    std::vector<float> mLandmarks;
    float mPointSize = 5.0f;
    FullScreenRenderPass* mCopyPass;
};

}  // namespace Core
}  // namespace Quorvane
