// Composites one layer's texture over what its composition has drawn so far,
// with a GLSL program generated for the layer's blend mode, track matte,
// resampling kernel, adjustment-layer mode, depth peeling and opacity. GL
// blending is off while it draws: the program reads the image drawn so far from
// the "previous" texture, or from the target itself where the context can
// fetch it there, and writes the finished pixel itself.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/Matrix.h"
#include "core/Vector.h"
#include "render/BlendModes.h"
#include "render/GLRenderDestination.h"
#include "render/PolygonEdgeBuilder.h"
#include "render/RenderPass.h"

namespace Quorvane {
namespace Core {

class FullScreenRenderPass;
class GLShader;
class RenderLayer;

enum TrackMatteType : int32_t {
    kNoTrackMatte = 0,
    kAlphaMatte = 1,
    kInverseAlphaMatte = 2,
    kLumaMatte = 3,
    kInverseLumaMatte = 4,
};
constexpr int32_t kTrackMatteTypeCount = 5;

enum LayerResampleMode : int32_t {
    kDefaultResampleMode = 0,
    kBiCubicLinearResampleMode = 1,
    kBiCubicTriangluarResampleMode = 2,  // spelled so in the script interface
    kBiCubicBellShapedResampleMode = 3,
};
constexpr int32_t kLayerResampleModeCount = 4;

// Template values outside the known ranges ("blend" 0-29, "matte" 0-4,
// "resample" 0-3) would index past the GLSL tables or give a program that
// fails to compile on every frame; loaders map them to 0 through these, which
// log the replacement. `key` names the JSON key in the log line.
BlendMode CheckedBlendMode(long long value, const char* key = "blend");
TrackMatteType CheckedMatteType(long long value, const char* key = "matte");
LayerResampleMode CheckedResampleMode(long long value, const char* key = "resample");

class CompositeRenderPass : public RenderPass {
public:
    CompositeRenderPass(RenderLayer* parent, BlendMode blendMode, TrackMatteType matteType, int width,
                        int height, bool useScreenTexture);
    CompositeRenderPass(const CompositeRenderPass&) = delete;
    CompositeRenderPass& operator=(const CompositeRenderPass&) = delete;
    ~CompositeRenderPass() override;

    void drawSelf(unsigned int previousTexture) override;
    void unprepare() override;
    void prepareForFrame(long long frame) override;

    // Setters that change the program text mark it for regeneration only when
    // the stored value really changes. Out-of-range modes are stored as 0.
    void setBlendMode(BlendMode mode);
    void setMatteType(TrackMatteType type);
    // Forced to 0 while the render context disables advanced resampling.
    void setResampleMode(LayerResampleMode mode);
    void setUseScreenTexture(bool on);
    void setOITLastDepthTexture(unsigned int texture);
    void setFlipSource(bool on);
    void setDrawEdge(bool on) { mDrawEdge = on; }
    void setEnableStencil(bool on) { mEnableStencil = on; }
    void setAlpha(float alpha) { mAlpha = alpha; }
    void setCamera(const Mat4& m) { mCamera = m; }
    void setTransform(const Mat4& m) { mTransform = m; }
    void setProjection(const Mat4& m) { mProjection = m; }
    void setSourceTexture(unsigned int texture) { mSourceTexture = texture; }
    void setSourceSize(int width, int height) {
        mSourceWidth = width;
        mSourceHeight = height;
    }
    // Ignored while the matte type is 0.
    void setMatteTexture(unsigned int texture);
    // Stores the inverse of the matte layer's transform.
    void setMatteTransform(const Mat4& m);
    void setMatteSize(const Vec2& size) { mMatteSize = size; }

    // For the next draw only: the bound target holds the previous image
    // already (the caller copied what differed), so the pass does not copy
    // it, and records in drawnBox() the pixels it may change.
    void setTargetHoldsPrevious();
    // For the next draw only: the bound target is the previous image itself
    // (see GLFrameBufferManager::framebufferFetch). The pass composites in
    // place, reading the pixel under each fragment from the target, and
    // records drawnBox() as above.
    void setTargetIsPrevious();
    // After such a draw: the pixels its quad and edge strip can reach, grown
    // by a pixel for rasterisation; the whole viewport when that cannot be
    // bounded (3D layers, depth peeling, a projection that puts a corner
    // behind the eye). Null when no such draw came since the call.
    const PixelBox* drawnBox() const { return mBoxedDrawDone ? &mDrawnBox : nullptr; }

    BlendMode blendMode() const { return mBlendMode; }
    TrackMatteType matteType() const { return mMatteType; }
    LayerResampleMode resampleMode() const { return mResampleMode; }
    unsigned int matteTexture() const { return mMatteTexture; }
    bool useScreenTexture() const { return mUseScreenTexture; }
    bool drawEdge() const { return mDrawEdge; }
    float alpha() const { return mAlpha; }

    // The program texts for the current settings and a given previous texture
    // (only whether it is 0 matters).
    std::string vertexText() const;
    std::string fragmentText(unsigned int previousTexture) const;

    // The interleaved quad and edge strip of the last draw ({x, y, u, v, 0, w}
    // per vertex) and the number of distinct programs the pass holds.
    const std::vector<float>& vertexData() const { return mVertexData; }
    const std::vector<float>& edgeStripData() const { return mEdgeStrip; }
    size_t cachedProgramCount() const { return mProgramCache.size(); }

private:
    // Sets a value the program text depends on; a change marks it for a rebuild.
    template <typename T>
    void setProgramInput(T& field, T value) {
        if (field == value) return;
        field = value;
        mShaderDirty = true;
    }

    void cacheShader();
    void updateBuffer();
    PixelBox boundsOnTarget(float viewW, float viewH, bool is3D) const;
    int sourceWidth() const;
    int sourceHeight() const;

    bool mFlipSource = true;
    bool mDrawEdge = true;
    bool mShaderDirty = true;
    int32_t mSourceWidth = 0;
    int32_t mSourceHeight = 0;
    uint32_t mPreviousTexture = 0xFFFFFFFFu;
    bool mEnableStencil = false;
    float mAlpha = 1.0f;
    Mat4 mCamera;
    Mat4 mTransform;
    Mat4 mProjection;
    // One of mProgramCache; null until the first draw.
    GLShader* mShader = nullptr;
    BlendMode mBlendMode;
    Vec2 mMatteSize;
    Mat4 mMatteTransform;
    uint32_t mMatteTexture = 0;
    uint32_t mSourceTexture = 0;
    uint32_t mOITLastDepthTexture = 0;
    uint32_t mVertexBuffer = 0;
    TrackMatteType mMatteType;
    LayerResampleMode mResampleMode = kDefaultResampleMode;
    FullScreenRenderPass* mCopyPass = nullptr;
    bool mUseScreenTexture;
    PolygonEdgeBuilder mEdgeBuilder;
    std::vector<Vec2> mQuadCorners;
    std::vector<Vec3> mQuadCoords;
    std::vector<float> mVertexData;
    std::vector<float> mEdgeStrip;
    // Some pixel may lie under both the quad and the strip (a source narrower
    // than its edge).
    bool mEdgeOverlapsQuad = false;
    // The programs this pass has used: the text flips between two forms when
    // the previous texture alternates between 0 and a texture, and every
    // settings change adds one; kept small (see cacheShader). Taken from the
    // render context's shared cache when there is one.
    std::vector<std::shared_ptr<GLShader>> mProgramCache;
    bool mTargetHoldsPrevious = false;
    bool mTargetIsPrevious = false;
    // The program reads the previous image from the target (a text input).
    bool mFetchPrevious = false;
    bool mBoxedDrawDone = false;
    PixelBox mDrawnBox;
    // The parent's layer bits the current program was made for.
    bool mProgramIs3D = false;
    bool mProgramIsAdjustment = false;
};

}  // namespace Core
}  // namespace Quorvane
