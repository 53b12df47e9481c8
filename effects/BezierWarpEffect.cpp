#include "effects/BezierWarpEffect.h"

#include <algorithm>
#include <cmath>

#include "core/Json.h"
#include "effects/CornerPinEffect.h"
#include "render/GLRenderDestination.h"
#include "render/GLShader.h"
#include "scene/RenderLayer.h"

namespace Quorvane {
namespace Core {

namespace {

// Only alpha takes the edge ramp, unlike the corner pin.
const char* const kFragmentShader =
    "#ifdef GL_ES\nprecision highp float;\n#endif\n"
    "varying vec4 textureCoords;\n"
    "uniform sampler2D texture;\n"
    "void main() {\n"
    "    vec4 color = texture2DProj(texture, textureCoords.xyz);\n"
    "    gl_FragColor = vec4(color.rgb, color.a * textureCoords.w);\n"
    "}\n";

constexpr size_t kRecordNumbers = 24;

bool allFinite(const float* v) {
    return std::all_of(v, v + kRecordNumbers, [](float f) { return std::isfinite(f); });
}

Vec2 bezier(const Vec2& p0, const Vec2& p1, const Vec2& p2, const Vec2& p3, float t) {
    return Vec2(bezierPoint(p0.x, p1.x, p2.x, p3.x, t), bezierPoint(p0.y, p1.y, p2.y, p3.y, t));
}

}  // namespace

float bezierPoint(float p0, float p1, float p2, float p3, float t) {
    const float c = 3.0f * (p1 - p0);
    const float b = 3.0f * (p2 - p1) - c;
    const float a = p3 - p0 - c - b;
    return a * t * t * t + b * t * t + c * t + p0;
}

BezierWarpEffect::BezierWarpData::BezierWarpData(const float* v)
    : corners{Vec2(v[0], v[1]), Vec2(v[6], v[7]), Vec2(v[12], v[13]), Vec2(v[18], v[19])},
      tangents{Vec2(v[2], v[3]),   Vec2(v[4], v[5]),   Vec2(v[8], v[9]),   Vec2(v[10], v[11]),
               Vec2(v[14], v[15]), Vec2(v[16], v[17]), Vec2(v[20], v[21]), Vec2(v[22], v[23])} {}

BezierWarpEffect::BezierWarpData::BezierWarpData(const rapidjson::Value& value) {
    float v[kRecordNumbers];
    if (EffectRecords::readRecord(value, EffectRecords::exactArrayOf(kRecordNumbers), v) && allFinite(v)) {
        *this = BezierWarpData(v);
    }
}

BezierWarpEffect::BezierWarpEffect(RenderLayer* layer)
    : RenderEffect(layer), mShader(newEffectShader(CornerPinEffect::kVertexShader, kFragmentShader)) {
    allocateMesh();
}

BezierWarpEffect::BezierWarpEffect(const BezierWarpEffect& other)
    : RenderEffect(other),
      mShader(newEffectShader(CornerPinEffect::kVertexShader, kFragmentShader)),
      mDataList(other.mDataList) {
    allocateMesh();
}

void BezierWarpEffect::allocateMesh() {
    mVertexData.reserve(static_cast<size_t>(mColumns * mRows * 36));
    mGrid.assign(static_cast<size_t>(mColumns + 1), std::vector<Vec2>(static_cast<size_t>(mRows + 1)));
    mOutline.resize(static_cast<size_t>(2 * (mColumns + mRows)));
    mOutlineTextureCoords.resize(mOutline.size());
}

BezierWarpEffect::~BezierWarpEffect() {
    delete mShader;
    if (mVertexBuffer != 0) glDeleteBuffers(1, &mVertexBuffer);
}

void BezierWarpEffect::loadFromJson(const rapidjson::Value& item) {
    const rapidjson::Value* data = Json::find(item, "data");
    if (!data || !data->IsObject()) return;
    const rapidjson::Value* corner = Json::find(*data, "corner");
    if (!corner) return;
    // The common loader reads an item's "data": hand it the "corner" value so.
    rapidjson::Document wrapped;
    wrapped.SetObject();
    wrapped.AddMember("data", rapidjson::Value(*corner, wrapped.GetAllocator()), wrapped.GetAllocator());
    EffectRecords::load(wrapped, parent(), EffectRecords::exactArrayOf(kRecordNumbers), [this](const float* v) {
        if (allFinite(v)) mDataList.emplace_back(v);
    });
}

void BezierWarpEffect::prepareForFrame(long long frame) {
    if (mDataList.empty()) return;
    const auto index = static_cast<unsigned long long>(frame);
    const size_t chosen = index < mDataList.size() ? static_cast<size_t>(index) : mDataList.size() - 1;
    if (chosen != mCurrent) mNeedsUpdate = true;
    mCurrent = chosen;
}

void BezierWarpEffect::updateBuffer() {
    const BezierWarpData* d = currentData();
    if (!d || !mNeedsUpdate) return;
    mNeedsUpdate = false;
    const int n = mColumns;
    const int m = mRows;
    const Vec2* t = d->tangents;

    bool finite = true;
    float minX = 0, minY = 0, maxX = 0, maxY = 0;
    for (int i = 0; i <= n; ++i) {
        const float v = static_cast<float>(i) / static_cast<float>(n);
        for (int j = 0; j <= m; ++j) {
            const float u = static_cast<float>(j) / static_cast<float>(m);
            const Vec2 left = bezier(d->tl(), t[7], t[6], d->bl(), u);
            const Vec2 right = bezier(d->tr(), t[2], t[3], d->br(), u);
            const Vec2 c1 = t[5] + (t[0] - t[5]) * (1.0f - u);
            const Vec2 c2 = t[4] + (t[1] - t[4]) * (1.0f - u);
            const Vec2 p = bezier(left, c1, c2, right, v);
            mGrid[i][j] = p;
            finite = finite && std::isfinite(p.x) && std::isfinite(p.y);
            if (i == 0 && j == 0) {
                minX = maxX = p.x;
                minY = maxY = p.y;
            }
            minX = std::min(minX, p.x);
            maxX = std::max(maxX, p.x);
            minY = std::min(minY, p.y);
            maxY = std::max(maxY, p.y);
        }
    }
    mVertexData.clear();
    if (!finite) {
        // Coordinates so large that the curves overflow: nothing to draw.
        mBounds = Rect();
        return;
    }
    mBounds = Rect(minX, minY, maxX - minX, maxY - minY);

    const auto fn = static_cast<float>(n);
    const auto fm = static_cast<float>(m);
    for (int c = 0; c < n; ++c) {
        for (int r = 0; r < m; ++r) {
            const Vec2& p0 = mGrid[c][r];
            const Vec2& p1 = mGrid[c + 1][r];
            const Vec2& p2 = mGrid[c + 1][r + 1];
            const Vec2& p3 = mGrid[c][r + 1];
            Vec3 o0(c / fn, r / fm, 1), o1((c + 1) / fn, r / fm, 1), o2((c + 1) / fn, (r + 1) / fm, 1),
                o3(c / fn, (r + 1) / fm, 1);
            CornerPinEffect::UpdateQuadPack(p0, p1, p2, p3, o0, o1, o2, o3, o0, o1, o2, o3);
            for (const auto& [p, o] :
                 {std::pair<Vec2, Vec3>{p0, o0}, {p1, o1}, {p2, o2}, {p2, o2}, {p3, o3}, {p0, o0}})
                mVertexData.insert(mVertexData.end(), {p.x, p.y, o.x, o.y, o.z, 1.0f});

            // The outline, clockwise, each point with its boundary cell's coordinate.
            if (r == 0) {
                mOutline[c] = p0;
                mOutlineTextureCoords[c] = o0;
            }
            if (c == n - 1) {
                mOutline[n + r] = p1;
                mOutlineTextureCoords[n + r] = o1;
                if (r == m - 1) {
                    mOutline[n + m] = p2;
                    mOutlineTextureCoords[n + m] = o2;
                }
            }
            if (r == m - 1) {
                mOutline[2 * n + m - c] = p3;
                mOutlineTextureCoords[2 * n + m - c] = o3;
            }
            if (c == 0 && r >= 1) {
                mOutline[2 * (n + m) - r] = p0;
                mOutlineTextureCoords[2 * (n + m) - r] = o0;
            }
        }
    }
}

bool BezierWarpEffect::willExtendLayerSize(LayerSizeExtendData* data) {
    updateBuffer();
    RenderEffect::willExtendLayerSize(data);
    if (!currentData() || !data || mVertexData.empty()) return false;
    if (mBounds.x == 0.0f && mBounds.y == 0.0f && mBounds.width == static_cast<float>(width()) &&
        mBounds.height == static_cast<float>(height()))
        return false;
    const Rect kept = CornerPinEffect::keptArea(parent(), width(), height(), data->offset, mBounds);
    data->offsetDelta = Vec2(-kept.x - data->offset.x, -kept.y - data->offset.y);
    data->offset = Vec2(-kept.x, -kept.y);
    data->size = Vec2(kept.width, kept.height);
    if (mDestination && (mDestination->width() != static_cast<int>(data->size.x) ||
                         mDestination->height() != static_cast<int>(data->size.y)))
        dropDestination();
    return true;
}

void BezierWarpEffect::drawSelf(unsigned int texture) {
    if (texture == 0 || mDataList.empty() || width() < 1 || height() < 1) return;
    updateBuffer();
    if (mVertexData.empty()) return;
    if (mVertexBuffer == 0) glGenBuffers(1, &mVertexBuffer);
    glBindBuffer(GL_ARRAY_BUFFER, mVertexBuffer);
    mEdgeBuilder.setEdgeWidth(CornerPinEffect::edgeWidthFor(parent()));
    CornerPinEffect::buildEdge(mEdgeBuilder, &mOutline, &mOutlineTextureCoords);

    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_BLEND);
    mShader->useProgram();
    CornerPinEffect::setLayerSpaceUniforms(*mShader, parent());
    mShader->setUniformTexture("texture", GL_TEXTURE_2D, static_cast<int>(texture), 0);
    CornerPinEffect::drawVertices(mVertexData, GL_TRIANGLES);
    CornerPinEffect::drawVertices(*mEdgeBuilder.result(), GL_TRIANGLE_STRIP);
    mShader->unuseProgram();
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glActiveTexture(GL_TEXTURE0);
}

}  // namespace Core
}  // namespace Quorvane
