// Warps the input around up to three faces of 68 landmark points each: mouth
// size, nose width and length, face slimming and shaving, chin length and eye
// size, each with its own strength. Templates carry no parameters for it: a
// host adds the faces and sets the strengths.
#pragma once

#include <string>
#include <vector>

#include "core/Vector.h"
#include "effects/EffectCommon.h"
#include "render/RenderEffect.h"

namespace Quorvane {
namespace Core {

class FaceReshapeEffect : public RenderEffect {
public:
    static constexpr size_t kPointsPerFace = 68;
    static constexpr size_t kDrawnFaces = 3;

    struct FaceInfo {
        // Points in layer pixels, y down as given (the effect's texture
        // coordinates times its size address the same pixels). Count 0 keeps
        // the face; a whole face (136 floats) also gets its eye centres.
        void updateLandmark(const float* points, unsigned long count, float height);
        Vec2 getLandmark(unsigned long index) const;
        bool complete() const { return landmarks.size() == 2 * kPointsPerFace; }

        std::vector<float> landmarks;
        Vec2 leftEyeCenter;
        Vec2 rightEyeCenter;
        float eyeDistance = 0.0f;
    };

    explicit FaceReshapeEffect(RenderLayer* layer);
    // Copies the strengths; new programs, no faces, no buffer.
    FaceReshapeEffect(const FaceReshapeEffect& other);
    FaceReshapeEffect& operator=(const FaceReshapeEffect&) = delete;
    ~FaceReshapeEffect() override;

    void drawSelf(unsigned int texture) override;
    void prepareForFrame(long long) override {}
    void loadFromJson(const rapidjson::Value&) override {}
    bool hasAnimation() override { return false; }
    std::string matchName() const override { return "ZR_Face_ReShape"; }

    void addFace(const float* points, unsigned long count);
    void clearFaces();
    void updateFaceShaveStrength(float s) { mFaceShaveStrength = s; }
    void updateEyeEnlargeStrength(float s) { mEyeEnlargeStrength = s; }
    void updateChinChangeStrength(float s) { mChinChangeStrength = s; }
    void updateFaceSlimStrength(float s) { mFaceSlimStrength = s; }
    void updateMouthAdjustStrength(float s) { mMouthAdjustStrength = s; }
    void updateNoseAdjustStrength(float s) { mNoseLengthStrength = s; }
    void updateNoseWidthStrength(float s) { mNoseWidthStrength = s; }

    const std::vector<FaceInfo*>& faces() const { return mFaces; }
    // The faces the next draw warps: the first three, each with its points up
    // to the 68 (a face of other than 68 has no eye centres).
    std::vector<const FaceInfo*> drawnFaces() const;
    float noseLengthStrength() const { return mNoseLengthStrength; }
    float noseWidthStrength() const { return mNoseWidthStrength; }
    float eyeEnlargeStrength() const { return mEyeEnlargeStrength; }

    static std::string fragmentShader();

private:
    GLShader* mShader;
    GLShader* mCopyShader;
    EffectQuad mQuad;
    float mFaceShaveStrength = 0.0f;
    float mEyeEnlargeStrength = 0.0f;
    float mChinChangeStrength = 0.0f;
    float mFaceSlimStrength = 0.0f;
    float mMouthAdjustStrength = 0.0f;
    float mNoseLengthStrength = 0.0f;
    float mNoseWidthStrength = 0.0f;
    std::vector<FaceInfo*> mFaces;
};

}  // namespace Core
}  // namespace Quorvane
