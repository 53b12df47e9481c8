// Repeats the layer image as tiles around a centre over an output area larger
// or smaller than the layer, optionally mirroring alternate tiles and shifting
// alternate rows or columns by a phase. All tiling happens in the fragment
// shader over one full-screen quad.
#pragma once

#include <string>
#include <vector>

#include "core/Vector.h"
#include "effects/EffectCommon.h"
#include "render/RenderEffect.h"

namespace Quorvane {
namespace Core {

class MotionTileEffect : public RenderEffect {
public:
    // One frame: [center x, center y, tile width %, tile height %, output
    // width %, output height %, mirror, phase (degrees), horizontal phase
    // shift]; the percentages are kept as fractions, non-zero flags are on.
    struct DataPack {
        Vec2 center;
        float tileWidth = 1.0f;
        float tileHeight = 1.0f;
        float outputWidth = 1.0f;
        float outputHeight = 1.0f;
        bool mirrorEdges = false;
        float phase = 0.0f;
        bool horizontalPhaseShift = false;

        // False (the record unchanged) unless the nine numbers are finite.
        bool setNumbers(const float* numbers);
        // From a nine-number array; any other value leaves the record unchanged.
        void loadFromJson(const rapidjson::Value& value);
    };

    // Tile fractions are held at least this large when drawn: a tile of no
    // size would divide by zero in the tile arithmetic.
    static constexpr float kSmallestTile = 1.0e-3f;

    explicit MotionTileEffect(RenderLayer* layer);
    // Copies the records and the current parameters; new program, no buffer.
    MotionTileEffect(const MotionTileEffect& other);
    MotionTileEffect& operator=(const MotionTileEffect&) = delete;
    ~MotionTileEffect() override;

    void drawSelf(unsigned int texture) override;
    void prepareForFrame(long long frame) override;
    void loadFromJson(const rapidjson::Value& item) override;
    bool hasAnimation() override { return mDataList.size() > 1; }
    std::string matchName() const override { return "ADBE Tile"; }
    bool willExtendLayerSize(LayerSizeExtendData* data) override;

    const std::vector<DataPack>& records() const { return mDataList; }
    const DataPack& current() const { return mCurrent; }
    const Vec2& sourceSize() const { return mSourceSize; }

    static const char* const kFragmentShader;

private:
    GLShader* mShader;
    EffectQuad mQuad;
    std::vector<DataPack> mDataList;
    // Until a record is chosen: tile and output at 100 %, centre (0, 0).
    DataPack mCurrent;
    Vec2 mSourceSize;
};

}  // namespace Core
}  // namespace Quorvane
