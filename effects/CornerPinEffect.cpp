#include "effects/CornerPinEffect.h"

#include <algorithm>
#include <cmath>

#include "core/Json.h"
#include "render/DataFileCache.h"
#include "render/GLRenderDestination.h"
#include "render/GLShader.h"
#include "scene/RenderLayer.h"

namespace Quorvane {
namespace Core {

namespace {

const char* const kFragmentShader =
    "#ifdef GL_ES\nprecision highp float;\n#endif\n"
    "varying vec4 textureCoords;\n"
    "uniform sampler2D texture;\n"
    "void main() {\n"
    "    gl_FragColor = texture2DProj(texture, textureCoords.xyz) * textureCoords.w;\n"
    "}\n";

// Eight numbers: tl, tr, bl, br as (x, y).
constexpr size_t kRecordNumbers = 8;

bool allFinite(const float* v, size_t n) {
    return std::all_of(v, v + n, [](float f) { return std::isfinite(f); });
}

bool allFinite(const std::vector<float>& v) {
    return allFinite(v.data(), v.size());
}

// A data file counts only when its first element is a whole record.
bool dataFileStartsWithRecord(RenderLayer* layer, const rapidjson::Value& name) {
    if (!layer) return false;
    const std::string path = layer->dataFile(std::string(name.GetString(), name.GetStringLength()));
    if (path.empty()) return false;
    const std::shared_ptr<const bool> starts =
        DataFileCache::get<bool>(layer->dataFiles(), path, "corner pin first record", [&path] {
            std::string text;
            Json::Document doc;
            const bool record = EffectRecords::readDataFile(path, text) &&
                                Json::parse(doc, text, Json::ByteOrderMark::Reject) && doc.IsArray() &&
                                !doc.Empty() && doc[0].IsArray() && doc[0].Size() == kRecordNumbers;
            return std::make_shared<const bool>(record);
        });
    return *starts;
}

}  // namespace

const char* const CornerPinEffect::kVertexShader =
    "attribute vec2 position;\n"
    "attribute vec4 inCoords;\n"
    "varying vec4 textureCoords;\n"
    "uniform highp vec2 viewPort;\n"
    "uniform mat4 transform;\n"
    "uniform mat4 projection;\n"
    "void main() {\n"
    "    vec2 vertex = position + vec2(-viewPort.x * 0.5, -viewPort.y * 0.5);\n"
    "    gl_Position = projection * transform * vec4(vertex.x, vertex.y, 0.0, 1.0);\n"
    "    textureCoords = inCoords;\n"
    "}\n";

CornerPinEffect::CornerPinData::CornerPinData(const Vec2& bl, const Vec2& br, const Vec2& tr, const Vec2& tl)
    : vertices{tl, tr, br, bl}, textureCoords{Vec3(0, 0, 1), Vec3(1, 0, 1), Vec3(1, 1, 1), Vec3(0, 1, 1)} {
    UpdateQuadPack(tl, tr, br, bl, textureCoords[0], textureCoords[1], textureCoords[2], textureCoords[3],
                   textureCoords[0], textureCoords[1], textureCoords[2], textureCoords[3]);
}

CornerPinEffect::CornerPinEffect(RenderLayer* layer)
    : RenderEffect(layer), mShader(newEffectShader(kVertexShader, kFragmentShader)) {}

CornerPinEffect::CornerPinEffect(const CornerPinEffect& other)
    : RenderEffect(other),
      mShader(newEffectShader(kVertexShader, kFragmentShader)),
      mDataList(other.mDataList) {}

CornerPinEffect::~CornerPinEffect() {
    delete mShader;
    if (mVertexBuffer != 0) glDeleteBuffers(1, &mVertexBuffer);
}

void CornerPinEffect::unprepare() {
    RenderPass::unprepare();
}

void CornerPinEffect::loadFromJson(const rapidjson::Value& item) {
    const rapidjson::Value* data = Json::find(item, "data");
    if (!data) return;
    if (data->IsArray() && data->Size() != kRecordNumbers) return;
    if (data->IsString() && !dataFileStartsWithRecord(parent(), *data)) return;
    // A coordinate beyond the float range would make every size and
    // coordinate derived from it meaningless: such a record is skipped.
    EffectRecords::load(item, parent(), EffectRecords::arrayOf(kRecordNumbers), [this](const float* v) {
        if (!allFinite(v, kRecordNumbers)) return;
        mDataList.emplace_back(Vec2(v[4], v[5]), Vec2(v[6], v[7]), Vec2(v[2], v[3]), Vec2(v[0], v[1]));
    });
}

void CornerPinEffect::prepareForFrame(long long frame) {
    if (mDataList.empty()) return;
    const auto index = static_cast<unsigned long long>(frame);
    mCurrent = index < mDataList.size() ? static_cast<size_t>(index) : mDataList.size() - 1;
}

void CornerPinEffect::UpdateQuadPack(Vec2 p0, Vec2 p1, Vec2 p2, Vec2 p3, Vec3 t0, Vec3 t1, Vec3 t2, Vec3 t3,
                                     Vec3& o0, Vec3& o1, Vec3& o2, Vec3& o3) {
    const Vec2 d02 = p2 - p0;
    const Vec2 d13 = p3 - p1;
    const float den = d02.x * d13.y - d02.y * d13.x;
    if (den == 0.0f) return;
    // Written so that NaN fails every test below.
    const float u = (d02.x * (p0.y - p1.y) - d02.y * (p0.x - p1.x)) / den;
    if (!(u > 0.0f && u < 1.0f)) return;
    const float s = ((p0.y - p1.y) * d13.x - (p0.x - p1.x) * d13.y) / den;
    if (!(s > 0.0f && s < 1.0f)) return;
    const float q0 = 1.0f / (1.0f - s);
    const float q1 = 1.0f / (1.0f - u);
    const float q2 = 1.0f / s;
    const float q3 = 1.0f / u;
    o2 = Vec3(t2.x * q2, t2.y * q2, q2);
    o1 = Vec3(t1.x * q1, t1.y * q1, q1);
    o0 = Vec3(t0.x * q0, t0.y * q0, q0);
    o3 = Vec3(t3.x * q3, t3.y * q3, q3);
}

int CornerPinEffect::truncated(float v) {
    const float limit = 4.0f * static_cast<float>(kLargestSide);
    if (!(v == v)) return 0;
    return static_cast<int>(std::clamp(v, -limit, limit));
}

Vec2 CornerPinEffect::largestSides(const RenderLayer* layer, int width, int height) {
    const RenderLayer* comp = layer ? layer->parentCompLayer() : nullptr;
    auto side = [](int compSide, int own) {
        if (compSide <= 0) return static_cast<float>(kLargestSide);
        const int64_t reach = std::max<int64_t>(compSide, own) * kCompositionReach;
        return static_cast<float>(std::min<int64_t>(reach, kLargestSide));
    };
    return comp ? Vec2(side(comp->width(), width), side(comp->height(), height))
                : Vec2(static_cast<float>(kLargestSide), static_cast<float>(kLargestSide));
}

float CornerPinEffect::clampedSide(float side, float largest) {
    if (!(side >= 1.0f)) return 1.0f;
    return std::min(side, std::max(largest, 1.0f));
}

Rect CornerPinEffect::keptArea(RenderLayer* layer, int width, int height, const Vec2& offset, const Rect& box) {
    const Vec2 largest = largestSides(layer, width, height);
    if (box.width <= largest.x && box.height <= largest.y) {
        return Rect(box.x, box.y, clampedSide(box.width, largest.x), clampedSide(box.height, largest.y));
    }
    const float limit = static_cast<float>(kLargestSide);
    const Rect whole(box.x, box.y, clampedSide(box.width, limit), clampedSide(box.height, limit));
    const RenderLayer* comp = layer ? layer->parentCompLayer() : nullptr;
    if (!comp || comp->width() <= 0 || comp->height() <= 0 || layer->is3D() || layer->collapseCompLayer())
        return whole;

    // A 2D layer lands in its composition by the affine part of its world
    // matrix (composition pixels, y down): c = A·q + t for a point q of its
    // current area.
    const Mat4 world = layer->getCurrentWorldAETransform();
    const double a = world.m[0], b = world.m[1], c = world.m[4], d = world.m[5];
    const double tx = world.m[12], ty = world.m[13];
    const double det = a * d - b * c;
    if (!std::isfinite(det) || std::fabs(det) < 1e-12 || !std::isfinite(tx) || !std::isfinite(ty))
        return Rect(box.x, box.y, clampedSide(box.width, largest.x), clampedSide(box.height, largest.y));
    // Four composition pixels beyond each edge: the composite's bilinear
    // reads and its anti-aliased band at the cut lie outside what shows.
    constexpr double kMargin = 4.0;
    const double cw = comp->width(), ch = comp->height();
    double minX = HUGE_VAL, minY = HUGE_VAL, maxX = -HUGE_VAL, maxY = -HUGE_VAL;
    for (const double cx : {-kMargin, cw + kMargin}) {
        for (const double cy : {-kMargin, ch + kMargin}) {
            const double x = (d * (cx - tx) - c * (cy - ty)) / det - offset.x;
            const double y = (a * (cy - ty) - b * (cx - tx)) / det - offset.y;
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
        }
    }
    // Whole pixels, so that the layer's texels keep their places on the grid.
    auto cut = [limit](double lo, double hi, float boxLo, float boxSide, float* from, float* side) {
        const double first = std::max<double>(boxLo, std::floor(lo));
        const double last = std::min<double>(static_cast<double>(boxLo) + boxSide, std::ceil(hi));
        if (!std::isfinite(first) || !std::isfinite(last)) return false;
        *from = static_cast<float>(first);
        // Nothing of the box reaches the composition: one pixel stands for it.
        *side = last > first ? static_cast<float>(std::min<double>(last - first, limit)) : 1.0f;
        return true;
    };
    Rect kept;
    if (!cut(minX, maxX, box.x, box.width, &kept.x, &kept.width) ||
        !cut(minY, maxY, box.y, box.height, &kept.y, &kept.height))
        return whole;
    return kept;
}

bool CornerPinEffect::willExtendLayerSize(LayerSizeExtendData* data) {
    RenderEffect::willExtendLayerSize(data);
    const CornerPinData* pin = currentData();
    if (!pin || !data) return false;
    // The box of all four corners: the two corners of a side alone miss the
    // quad of a pin turned past a quarter or mirrored, which would then be
    // drawn outside its own destination.
    float minX = pin->tl().x, maxX = minX, minY = pin->tl().y, maxY = minY;
    for (const Vec2& v : pin->vertices) {
        minX = std::min(minX, v.x);
        maxX = std::max(maxX, v.x);
        minY = std::min(minY, v.y);
        maxY = std::max(maxY, v.y);
    }
    const int left = truncated(minX);
    const int top = truncated(minY);
    const int right = truncated(maxX);
    const int bottom = truncated(maxY);
    if (left == 0 && top == 0 && right == width() && bottom == height()) return false;

    const Rect kept = keptArea(parent(), width(), height(), data->offset,
                               Rect(static_cast<float>(left), static_cast<float>(top),
                                    static_cast<float>(right - left), static_cast<float>(bottom - top)));
    data->offsetDelta = Vec2(-kept.x - data->offset.x, -kept.y - data->offset.y);
    data->offset = Vec2(-kept.x, -kept.y);
    data->size = Vec2(kept.width, kept.height);
    if (mDestination && (mDestination->width() != static_cast<int>(data->size.x) ||
                         mDestination->height() != static_cast<int>(data->size.y)))
        dropDestination();
    return true;
}

void CornerPinEffect::drawSelf(unsigned int texture) {
    if (texture == 0 || !currentData() || width() < 1 || height() < 1) return;
    if (mVertexBuffer == 0) glGenBuffers(1, &mVertexBuffer);
    glBindBuffer(GL_ARRAY_BUFFER, mVertexBuffer);
    Mat4 world = parent() ? parent()->getCurrentWorldTransform() : Mat4();
    mEdgeBuilder.setEdgeWidth(edgeWidthFor(parent()));
    std::vector<float> scratch;
    scratch.reserve(4 * kFloatsPerVertex);
    drawPass(texture, &scratch, &mDataList[mCurrent], world);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

void CornerPinEffect::drawPass(unsigned int texture, std::vector<float>* scratch, CornerPinData* data,
                               Mat4&) {
    buildEdge(mEdgeBuilder, &data->vertices, &data->textureCoords);
    const std::vector<Vec2>& inner =
        mEdgeBuilder.innerVertices()->size() == 4 ? *mEdgeBuilder.innerVertices() : data->vertices;
    // Strip order tr, br, tl, bl.
    static const int kOrder[4] = {1, 2, 0, 3};
    scratch->clear();
    for (int i : kOrder) {
        const Vec2& p = inner[i];
        const Vec3& t = data->textureCoords[i];
        scratch->insert(scratch->end(), {p.x, p.y, t.x, t.y, t.z, 1.0f});
    }

    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_BLEND);
    mShader->useProgram();
    setLayerSpaceUniforms(*mShader, parent());
    mShader->setUniformTexture("texture", GL_TEXTURE_2D, static_cast<int>(texture), 0);
    drawVertices(*scratch, GL_TRIANGLE_STRIP);
    drawVertices(*mEdgeBuilder.result(), GL_TRIANGLE_STRIP);
}

// ---- shared with the other layer-space warps ---------------------------------------

void CornerPinEffect::setLayerSpaceUniforms(GLShader& shader, RenderLayer* layer) {
    const float w = layer ? static_cast<float>(layer->width()) : 0.0f;
    const float h = layer ? static_cast<float>(layer->height()) : 0.0f;
    const Vec2 offset = layer ? layer->layerSizeExtendData()->offset : Vec2();
    Mat4 transform;
    transform.setTranslate(offset.x, offset.y, 0.0f);
    Mat4 projection;
    projection.setOrtho(-w / 2.0f, w / 2.0f, h / 2.0f, -h / 2.0f, -1.0f, 100.0f);
    shader.setUniformMatrix4f("transform", transform);
    shader.setUniformMatrix4f("projection", projection);
    shader.setUniform2f("viewPort", w, h);
}

float CornerPinEffect::edgeWidthFor(RenderLayer* layer) {
    if (!layer) return 1.0f;
    const float scale = layer->getCurrentWorldTransform().getAffine().averageScale();
    if (!std::isfinite(scale) || !(scale > 0.0f)) return 0.0f;
    return 1.0f / scale;
}

void CornerPinEffect::buildEdge(PolygonEdgeBuilder& builder, std::vector<Vec2>* outline,
                                std::vector<Vec3>* coords) {
    builder.setVertexBuffer(outline);
    builder.setTextureCoordsBuffer3(coords);
    builder.build();
    // A spike (an edge running straight back) has no miter: its vertices go
    // to infinity. Such an outline is drawn without its band.
    bool finite = allFinite(*builder.result());
    for (const Vec2& v : *builder.innerVertices())
        finite = finite && std::isfinite(v.x) && std::isfinite(v.y);
    if (!finite) builder.clear();
}

void CornerPinEffect::drawVertices(const std::vector<float>& vertices, GLenum mode) {
    const auto count = static_cast<GLsizei>(vertices.size() / kFloatsPerVertex);
    if (count < 1) return;
    constexpr GLsizei kStride = kFloatsPerVertex * sizeof(float);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(vertices.size() * sizeof(float)), vertices.data(),
                 GL_DYNAMIC_DRAW);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, kStride, nullptr);
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, 4, GL_FLOAT, GL_FALSE, kStride,
                          reinterpret_cast<const void*>(2 * sizeof(float)));
    glDrawArrays(mode, 0, count);
    glDisableVertexAttribArray(0);
    glDisableVertexAttribArray(1);
}

}  // namespace Core
}  // namespace Quorvane
