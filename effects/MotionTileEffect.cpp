#include "effects/MotionTileEffect.h"

#include <algorithm>
#include <cmath>

#include "core/Matrix.h"
#include "effects/CornerPinEffect.h"
#include "render/GLRenderDestination.h"
#include "render/GLShader.h"
#include "scene/RenderLayer.h"

namespace Quorvane {
namespace Core {

namespace {

constexpr size_t kRecordNumbers = 9;

}  // namespace

// Effect textures hold the layer's top row in row 0 (as images are decoded),
// so gl_FragCoord is already the position in the enlarged layer with y down
// and the tile coordinates address the texture without a vertical flip.
// A phase moves alternate rows (or columns) by that fraction of a whole tile:
// after the affine, a tile spans sourceSize.
const char* const MotionTileEffect::kFragmentShader =
    "#ifdef GL_ES\nprecision highp float;\n#endif\n"
    "varying vec2 textureCoords;\n"
    "uniform sampler2D texture;\n"
    "uniform vec2 viewPort;\n"
    "uniform vec2 origin;\n"
    "uniform vec2 sourceSize;\n"
    "uniform vec2 center;\n"
    "uniform vec2 tileSize;\n"
    "uniform vec2 offsetPhase;\n"
    "uniform float affine[6];\n"
    "uniform float isMirror;\n"
    "float beyondCentre(float offset, float halfTile) {\n"
    "    return abs(offset) >= halfTile ? offset - sign(offset) * halfTile : 0.0;\n"
    "}\n"
    "bool isOdd(float index) { return mod(index, 2.0) != 0.0; }\n"
    "void main() {\n"
    "    vec2 pixel = gl_FragCoord.xy;\n"
    "    vec2 offset = pixel - origin - center;\n"
    "    vec2 beyond = vec2(beyondCentre(offset.x, tileSize.x * 0.5), beyondCentre(offset.y, tileSize.y * "
    "0.5));\n"
    "    vec2 index = vec2(float(int(sign(beyond.x) * ceil(abs(beyond.x) / tileSize.x))),\n"
    "                      float(int(sign(beyond.y) * ceil(abs(beyond.y) / tileSize.y))));\n"
    "    vec2 p = pixel - origin;\n"
    "    vec2 coords = vec2(affine[0] * p.x + affine[1] * p.y + affine[2],\n"
    "                       affine[3] * p.x + affine[4] * p.y + affine[5]);\n"
    "    if (offsetPhase.x > 0.0 && isOdd(index.y)) coords.x -= offsetPhase.x * sourceSize.x;\n"
    "    if (offsetPhase.y > 0.0 && isOdd(index.x)) coords.y += offsetPhase.y * sourceSize.y;\n"
    "    coords = mod(coords, sourceSize) / sourceSize;\n"
    "    if (isMirror > 0.5) {\n"
    "        if (isOdd(index.x)) coords.x = 1.0 - coords.x;\n"
    "        if (isOdd(index.y)) coords.y = 1.0 - coords.y;\n"
    "    }\n"
    "    gl_FragColor = texture2D(texture, coords);\n"
    "}\n";

MotionTileEffect::MotionTileEffect(RenderLayer* layer)
    : RenderEffect(layer), mShader(newEffectShader(kEffectVertexShader, kFragmentShader)) {}

MotionTileEffect::MotionTileEffect(const MotionTileEffect& other)
    : RenderEffect(other),
      mShader(newEffectShader(kEffectVertexShader, kFragmentShader)),
      mDataList(other.mDataList),
      mCurrent(other.mCurrent),
      mSourceSize(other.mSourceSize) {}

MotionTileEffect::~MotionTileEffect() {
    delete mShader;
}

bool MotionTileEffect::DataPack::setNumbers(const float* v) {
    if (!std::all_of(v, v + kRecordNumbers, [](float f) { return std::isfinite(f); })) return false;
    center = Vec2(v[0], v[1]);
    tileWidth = v[2] / 100.0f;
    tileHeight = v[3] / 100.0f;
    outputWidth = v[4] / 100.0f;
    outputHeight = v[5] / 100.0f;
    mirrorEdges = v[6] != 0.0f;
    phase = v[7];
    horizontalPhaseShift = v[8] != 0.0f;
    return true;
}

void MotionTileEffect::DataPack::loadFromJson(const rapidjson::Value& value) {
    float v[kRecordNumbers];
    if (EffectRecords::readRecord(value, EffectRecords::arrayOf(kRecordNumbers), v)) setNumbers(v);
}

void MotionTileEffect::loadFromJson(const rapidjson::Value& item) {
    EffectRecords::load(item, parent(), EffectRecords::arrayOf(kRecordNumbers), [this](const float* v) {
        DataPack d;
        if (d.setNumbers(v)) mDataList.push_back(d);
    });
}

void MotionTileEffect::prepareForFrame(long long frame) {
    EffectRecords::choose(mDataList, frame, mCurrent);
}

bool MotionTileEffect::willExtendLayerSize(LayerSizeExtendData* data) {
    RenderEffect::willExtendLayerSize(data);
    const int w = width();
    const int h = height();
    mSourceSize = Vec2(static_cast<float>(w), static_cast<float>(h));
    if (!data) return false;
    const Vec2 largest = CornerPinEffect::largestSides(parent(), w, h);
    const int newW = static_cast<int>(
        CornerPinEffect::clampedSide(std::trunc(static_cast<float>(w) * mCurrent.outputWidth), largest.x));
    const int newH = static_cast<int>(
        CornerPinEffect::clampedSide(std::trunc(static_cast<float>(h) * mCurrent.outputHeight), largest.y));
    if (newW == w && newH == h) return false;
    // Half the growth, truncated toward zero (51 pixels more give 25).
    const Vec2 offset(static_cast<float>(-((w - newW) / 2)), static_cast<float>(-((h - newH) / 2)));
    data->offsetDelta = offset - data->offset;
    data->offset = offset;
    data->size = Vec2(static_cast<float>(newW), static_cast<float>(newH));
    if (mDestination && (mDestination->width() != newW || mDestination->height() != newH)) dropDestination();
    return true;
}

void MotionTileEffect::drawSelf(unsigned int texture) {
    if (texture == 0) return;
    // A layer that does not ask for enlargement (an adjustment layer) never
    // recorded its size: its own size is the source then.
    Vec2 source = mSourceSize;
    if (!(source.x >= 1.0f && source.y >= 1.0f))
        source = Vec2(static_cast<float>(width()), static_cast<float>(height()));
    if (!(source.x >= 1.0f && source.y >= 1.0f)) return;
    // Without any record the image stays where it is: centred on the layer.
    const Vec2 center = mDataList.empty() ? source * 0.5f : mCurrent.center;
    const float tileW = std::max(mCurrent.tileWidth, kSmallestTile);
    const float tileH = std::max(mCurrent.tileHeight, kSmallestTile);
    Affine affine;
    affine.set(center, source * 0.5f, Vec2(1.0f / tileW, 1.0f / tileH), 0.0f);
    RenderLayer* layer = parent();
    const Vec2 origin = layer ? layer->layerSizeExtendData()->offset : Vec2();
    const float phase = mCurrent.phase / 360.0f;

    mQuad.drawFullScreen(mShader, texture, [&](GLShader& shader) {
        shader.setUniform2f("origin", origin);
        shader.setUniform2f("sourceSize", source);
        shader.setUniform1fv("affine", affine.m, 6);
        shader.setUniform2f("center", center);
        shader.setUniform2f("viewPort", static_cast<float>(width()), static_cast<float>(height()));
        shader.setUniform2f("tileSize", source.x * tileW, source.y * tileH);
        shader.setUniform2f("offsetPhase", mCurrent.horizontalPhaseShift ? phase : 0.0f,
                            mCurrent.horizontalPhaseShift ? 0.0f : phase);
        shader.setUniform1f("isMirror", mCurrent.mirrorEdges ? 1.0f : 0.0f);
    });
}

}  // namespace Core
}  // namespace Quorvane
