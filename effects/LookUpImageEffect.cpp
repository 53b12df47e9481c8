#include "effects/LookUpImageEffect.h"

#include <sstream>

#include "core/Json.h"
#include "effects/ParameterBounds.h"
#include "render/GLShader.h"
#include "scene/LayerManager.h"
#include "scene/RenderLayer.h"

namespace Quorvane {
namespace Core {

namespace {

// Per type: blue levels - 1, tiles per row, tile size and image size (texture
// units and texels).
struct LookUpGeometry {
    int32_t type;
    const char* levels;
    const char* tilesPerRow;
    const char* tileSize;
    const char* imageSize;
};
const LookUpGeometry kGeometries[] = {
    {1, "63.0", "8.0", "0.125", "512.0"},
    {2, "15.0", "4.0", "0.25", "64.0"},
};

const LookUpGeometry* geometry(int32_t type) {
    for (const LookUpGeometry& g : kGeometries)
        if (g.type == type) return &g;
    return nullptr;
}

}  // namespace

std::string LookUpImageEffect::fragmentShader(int32_t type) {
    const LookUpGeometry* g = geometry(type);
    if (!g) return std::string();
    std::ostringstream out;
    // Texel centres of a tile run from half a texel in to half a texel short
    // of its far side; the two tiles around the blue level are blended.
    out << "#ifdef GL_ES\nprecision highp float;\n#endif\n"
        << "varying vec2 textureCoords;\n"
        << "uniform sampler2D texture;\n"
        << "uniform sampler2D lookUpTexture;\n"
        << "uniform float intensity;\n"
        << "const float kLevels = " << g->levels << ";\n"
        << "const float kTilesPerRow = " << g->tilesPerRow << ";\n"
        << "const float kTileSize = " << g->tileSize << ";\n"
        << "const float kImageSize = " << g->imageSize << ";\n"
        << "vec2 tileTexel(float level, vec2 redGreen) {\n"
        << "    float row = floor(level / kTilesPerRow);\n"
        << "    float column = level - row * kTilesPerRow;\n"
        << "    return vec2(column, row) * kTileSize + 0.5 / kImageSize\n"
        << "        + (kTileSize - 1.0 / kImageSize) * redGreen;\n"
        << "}\n"
        << "void main() {\n"
        << "    vec4 c = texture2D(texture, textureCoords);\n"
        << "    float blue = c.b * kLevels;\n"
        << "    vec4 low = texture2D(lookUpTexture, tileTexel(floor(blue), c.rg));\n"
        << "    vec4 high = texture2D(lookUpTexture, tileTexel(ceil(blue), c.rg));\n"
        << "    vec4 n = mix(low, high, fract(blue));\n"
        << "    gl_FragColor = mix(c, vec4(n.rgb, c.a), intensity);\n"
        << "}\n";
    return out.str();
}

LookUpImageEffect::LookUpImageEffect(RenderLayer* layer) : RenderEffect(layer) {}

LookUpImageEffect::LookUpImageEffect(const LookUpImageEffect& other)
    : RenderEffect(other),
      mIntensityList(other.mIntensityList),
      mLayerIndex(other.mLayerIndex),
      mLayerName(other.mLayerName),
      mType(other.mType) {}

LookUpImageEffect::~LookUpImageEffect() {
    delete mShader;
}

void LookUpImageEffect::loadFromJson(const rapidjson::Value& item) {
    const rapidjson::Value* data = Json::findObject(item, "data");
    if (!data || !data->IsObject()) return;
    if (const rapidjson::Value* layer = Json::find(*data, "layer")) {
        if (!Json::getInt(*layer, mLayerIndex)) Json::getString(*layer, mLayerName);
    }
    Json::read(*data, "type", mType, Json::getInt);
    const rapidjson::Value* intensity = Json::find(*data, "intensity");
    if (!intensity) return;
    // The intensity takes the common "data" forms: a number, or the name of a
    // data file of numbers (other elements skipped).
    rapidjson::Document wrapper;
    wrapper.SetObject();
    rapidjson::Value copy(*intensity, wrapper.GetAllocator());
    wrapper.AddMember("data", copy, wrapper.GetAllocator());
    EffectRecords::load(wrapper, parent(), EffectRecords::kNumber,
                        [this](const float* v) { mIntensityList.push_back(v[0]); });
}

void LookUpImageEffect::prepareForFrame(long long frame) {
    EffectRecords::choose(mIntensityList, frame, mIntensity);
}

RenderLayer* LookUpImageEffect::getLayer() const {
    RenderLayer* layer = parent();
    LayerManager* list = layer ? layer->parentCompLayers() : nullptr;
    if (!list) return nullptr;
    if (!mLayerName.empty()) return list->layer(list->getPrefix() + mLayerName);
    const std::vector<RenderLayer*>& layers = list->layers();
    if (mLayerIndex < 0 || static_cast<size_t>(mLayerIndex) >= layers.size()) return nullptr;
    return layers[layers.size() - 1 - static_cast<size_t>(mLayerIndex)];
}

bool LookUpImageEffect::hasAnimation() {
    if (mIntensityList.size() > 1) return true;
    // The look-up layer may be this effect's own layer, or one whose look-up
    // leads back here: a question already being answered adds nothing.
    if (mAskingLayer) return false;
    RenderLayer* layer = getLayer();
    mAskingLayer = true;
    const bool animated = layer && layer->hasAnimation();
    mAskingLayer = false;
    return animated;
}

void LookUpImageEffect::drawSelf(unsigned int texture) {
    if (texture == 0 || !geometry(mType)) return;
    RenderLayer* layer = getLayer();
    // A look-up layer without a texture has no image to look up in: the
    // output stays transparent, as for a missing layer.
    const unsigned int lookUp = layer ? layer->getSourceTexture() : 0;
    if (lookUp == 0) return;
    if (!mShader) mShader = newEffectShader(kEffectVertexShader, fragmentShader(mType));
    glDisable(GL_DEPTH_TEST);
    mQuad.drawFullScreen(mShader, texture, [&](GLShader& shader) {
        shader.setUniformTexture("lookUpTexture", GL_TEXTURE_2D, static_cast<int>(lookUp), 1);
        shader.setUniform1f("intensity", ParameterBounds::bounded(mIntensity, 100.0f) / 100.0f);
    });
    // Later passes bind their textures on the default unit.
    glActiveTexture(GL_TEXTURE0);
}

}  // namespace Core
}  // namespace Quorvane
