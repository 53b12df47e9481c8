#include "effects/FaceReshapeEffect.h"

#include <algorithm>
#include <array>

#include "effects/ParameterBounds.h"
#include "render/GLShader.h"

namespace Quorvane {
namespace Core {

namespace {

const char* const kCopyFragment =
    "#ifdef GL_ES\nprecision highp float;\n#endif\n"
    "varying vec2 textureCoords;\n"
    "uniform sampler2D texture;\n"
    "void main() { gl_FragColor = texture2D(texture, textureCoords); }\n";

// The warps work in layer pixels. kTiny keeps a collapsed face (radius 0, a
// mouth of no size, strengths so large that a scale reaches 0) from dividing
// by zero: such a warp leaves the coordinate alone or clamps it, never NaN.
const char* const kReshapeHead =
    "#ifdef GL_ES\nprecision highp float;\n#endif\n"
    "varying vec2 textureCoords;\n"
    "uniform sampler2D texture;\n"
    "uniform vec2 viewPort;\n"
    "uniform float faceShaveStrength;\n"
    "uniform float faceSlimStrength;\n"
    "uniform float chinChangeStrength;\n"
    "uniform float eyeEnlargeStrength;\n"
    "uniform float mouthAdjustStrength;\n"
    "uniform float noseLengthStrength;\n"
    "uniform float noseWidthStrength;\n"
    "uniform int numFaces;\n"
    "const float kTiny = 1.0e-4;\n"
    "vec2 curveWarp(vec2 c, vec2 origin, vec2 target, float radius) {\n"
    "    return c - (target - origin) * clamp(1.0 - distance(c, origin) / max(radius, kTiny), 0.0, 1.0);\n"
    "}\n"
    "vec2 faceShave(vec2 c, float D, float s, vec2 L6, vec2 L8, vec2 L10, vec2 L57) {\n"
    "    float scale = s * 0.12;\n"
    "    vec2 chin = (L8 + L57) * 0.5;\n"
    "    c = curveWarp(c, L6, L6 + (chin - L6) * scale, D);\n"
    "    return curveWarp(c, L10, L10 + (chin - L10) * scale, D);\n"
    "}\n"
    "vec2 noseShave(vec2 c, float s, vec2 L30, vec2 L31, vec2 L33, vec2 L35) {\n"
    "    float scale = s * 0.12;\n"
    "    float radius = distance(L31, L35) * 0.8;\n"
    "    vec2 nose = (L30 + L33) * 0.5;\n"
    "    c = curveWarp(c, L31, L31 + (nose - L31) * scale, radius);\n"
    "    return curveWarp(c, L35, L35 + (nose - L35) * scale, radius);\n"
    "}\n"
    "vec2 faceLift(vec2 c, float D, float s, vec2 L2, vec2 L5, vec2 L11, vec2 L14, vec2 L28, vec2 L30) {\n"
    "    float scale = s * 0.05;\n"
    "    c = curveWarp(c, L2, L2 + (L28 - L2) * scale, D);\n"
    "    c = curveWarp(c, L14, L14 + (L28 - L14) * scale, D);\n"
    "    c = curveWarp(c, L5, L5 + (L30 - L5) * scale * 0.6, D * 0.8);\n"
    "    return curveWarp(c, L11, L11 + (L30 - L11) * scale * 0.6, D * 0.8);\n"
    "}\n"
    "vec2 chinChange(vec2 c, float D, float s, vec2 L8, vec2 L30) {\n"
    "    return curveWarp(c, L8, L8 + (L30 - L8) * s * 0.08, D * 1.25);\n"
    "}\n"
    "vec2 noseLength(vec2 c, float s, vec2 L29, vec2 L30, vec2 L31, vec2 L33) {\n"
    "    float radius = max(distance(L29, L31), distance(L29, L33)) * 1.2;\n"
    "    return curveWarp(c, L30, L30 + (L29 - L30) * s * 0.2, radius);\n"
    "}\n"
    // st 1 samples nearer the centre (magnifies), 0 farther (shrinks).
    "vec2 scaleAround(vec2 c, vec2 centre, float w, float st) {\n"
    "    return mix(centre + (c - centre) / max(w, kTiny), centre + (c - centre) * w, st);\n"
    "}\n"
    "vec2 enlargeEye(vec2 c, vec2 centre, float radius, float s) {\n"
    "    float w = distance(c, centre) / max(radius, kTiny);\n"
    "    w = clamp(1.0 - abs(s) * 0.12 * (1.0 - w * w), 0.0, 1.0);\n"
    "    return scaleAround(c, centre, w, step(0.0, s));\n"
    "}\n"
    "float sdEllipse(vec2 p, vec2 ab, vec2 centre) {\n"
    "    p = abs(p - centre);\n"
    "    if (p.x > p.y) { p = p.yx; ab = ab.yx; }\n"
    "    if (min(ab.x, ab.y) < kTiny) return 2.0;\n"
    "    float l = ab.y * ab.y - ab.x * ab.x;\n"
    // A circle has no focal term (l = 0): its distance in closed form.
    "    if (abs(l) < kTiny * (ab.x * ab.x + ab.y * ab.y)) return (ab.x - length(p)) / ab.x;\n"
    "    float m = ab.x * p.x / l;\n"
    "    float n = ab.y * p.y / l;\n"
    "    float m2 = m * m;\n"
    "    float n2 = n * n;\n"
    "    float c = (m2 + n2 - 1.0) / 3.0;\n"
    "    float c3 = c * c * c;\n"
    "    float q = c3 + m2 * n2 * 2.0;\n"
    "    float d = c3 + m2 * n2;\n"
    "    float g = m + m * n2;\n"
    "    float co;\n"
    "    if (d < 0.0) {\n"
    "        float h = acos(clamp(q / c3, -1.0, 1.0)) / 3.0;\n"
    "        float s = cos(h);\n"
    "        float t = sin(h) * sqrt(3.0);\n"
    "        float rx = sqrt(max(-c * (s + t + 2.0) + m2, 0.0));\n"
    "        float ry = sqrt(max(-c * (s - t + 2.0) + m2, 0.0));\n"
    "        co = (ry + sign(l) * rx + abs(g) / max(rx * ry, kTiny) - m) / 2.0;\n"
    "    } else {\n"
    "        float h = 2.0 * m * n * sqrt(d);\n"
    "        float s = sign(q + h) * pow(abs(q + h), 1.0 / 3.0);\n"
    "        float u = sign(q - h) * pow(abs(q - h), 1.0 / 3.0);\n"
    "        float rx = -s - u - c * 4.0 + 2.0 * m2;\n"
    "        float ry = (s - u) * sqrt(3.0);\n"
    "        float rm = sqrt(rx * rx + ry * ry);\n"
    "        co = (ry / sqrt(max(rm - rx, kTiny)) + 2.0 * g / max(rm, kTiny) - m) / 2.0;\n"
    "    }\n"
    "    co = clamp(co, -1.0, 1.0);\n"
    "    float si = sqrt(max(1.0 - co * co, 0.0));\n"
    "    vec2 r = ab * vec2(co, si);\n"
    "    return length(r - p) / max(length(r), kTiny) * sign(r.y - p.y);\n"
    "}\n"
    "vec2 mouthAdjust(vec2 c, float s, vec2 L48, vec2 L51, vec2 L54, vec2 L57) {\n"
    "    vec2 centre = vec2(((L48 + L54) * 0.5).x, ((L51 + L57) * 0.5).y);\n"
    "    float vl = distance(centre, L51);\n"
    "    float hl = distance(centre, L54) * 0.6;\n"
    "    float w = clamp(sdEllipse(c, vec2(hl, vl), centre), -2.0, 2.0);\n"
    "    w = clamp(1.0 - abs(s) * 0.12 * (1.0 - w * w), 0.0, 1.0);\n"
    "    return scaleAround(c, centre, w, step(0.0, s));\n"
    "}\n";

// One face's uniforms and its warps, "#" standing for the face number.
const char* const kFaceUniforms =
    "uniform vec2 landmarks#[68];\n"
    "uniform vec2 leftEyeCenter#;\n"
    "uniform vec2 rightEyeCenter#;\n"
    "uniform float eyeDistance#;\n";
const char* const kFaceWarps =
    "    if (numFaces >= #) {\n"
    "        c = mouthAdjust(c, mouthAdjustStrength, landmarks#[48], landmarks#[51], landmarks#[54], "
    "landmarks#[57]);\n"
    "        c = noseShave(c, noseWidthStrength, landmarks#[30], landmarks#[31], landmarks#[33], "
    "landmarks#[35]);\n"
    "        c = noseLength(c, noseLengthStrength, landmarks#[29], landmarks#[30], landmarks#[31], "
    "landmarks#[33]);\n"
    "        c = faceLift(c, eyeDistance#, faceSlimStrength, landmarks#[2], landmarks#[5], landmarks#[11], "
    "landmarks#[14], landmarks#[28], landmarks#[30]);\n"
    "        c = faceShave(c, eyeDistance#, faceShaveStrength, landmarks#[6], landmarks#[8], landmarks#[10], "
    "landmarks#[57]);\n"
    "        c = chinChange(c, eyeDistance#, chinChangeStrength, landmarks#[8], landmarks#[30]);\n"
    "        vec2 eyeAxis# = rightEyeCenter# - leftEyeCenter#;\n"
    "        c = enlargeEye(c, leftEyeCenter# + eyeAxis# * 0.05, eyeDistance# * 0.33, eyeEnlargeStrength);\n"
    "        c = enlargeEye(c, rightEyeCenter# - eyeAxis# * 0.05, eyeDistance# * 0.33, eyeEnlargeStrength);\n"
    "    }\n";

std::string forFace(const char* text, size_t face) {
    std::string out(text);
    const std::string digit = std::to_string(face);
    for (size_t at = out.find('#'); at != std::string::npos; at = out.find('#', at + 1))
        out.replace(at, 1, digit);
    return out;
}

}  // namespace

std::string FaceReshapeEffect::fragmentShader() {
    std::string text = kReshapeHead;
    for (size_t k = 1; k <= kDrawnFaces; ++k) text += forFace(kFaceUniforms, k);
    text += "void main() {\n    vec2 c = textureCoords * viewPort;\n";
    for (size_t k = 1; k <= kDrawnFaces; ++k) text += forFace(kFaceWarps, k);
    text += "    gl_FragColor = texture2D(texture, c / viewPort);\n}\n";
    return text;
}

void FaceReshapeEffect::FaceInfo::updateLandmark(const float* points, unsigned long count, float) {
    if (!points || count == 0) return;
    landmarks.assign(points, points + count);
    if (!complete()) return;
    leftEyeCenter = (getLandmark(39) + getLandmark(36)) * 0.5f;
    rightEyeCenter = (getLandmark(45) + getLandmark(42)) * 0.5f;
    eyeDistance = (rightEyeCenter - leftEyeCenter).length();
}

Vec2 FaceReshapeEffect::FaceInfo::getLandmark(unsigned long index) const {
    if (2 * index + 1 >= landmarks.size()) return Vec2();
    return Vec2(landmarks[2 * index], landmarks[2 * index + 1]);
}

FaceReshapeEffect::FaceReshapeEffect(RenderLayer* layer)
    : RenderEffect(layer),
      mShader(newEffectShader(kEffectVertexShader, fragmentShader())),
      mCopyShader(newEffectShader(kEffectVertexShader, kCopyFragment)) {}

FaceReshapeEffect::FaceReshapeEffect(const FaceReshapeEffect& other)
    : RenderEffect(other),
      mShader(newEffectShader(kEffectVertexShader, fragmentShader())),
      mCopyShader(newEffectShader(kEffectVertexShader, kCopyFragment)),
      mFaceShaveStrength(other.mFaceShaveStrength),
      mEyeEnlargeStrength(other.mEyeEnlargeStrength),
      mChinChangeStrength(other.mChinChangeStrength),
      mFaceSlimStrength(other.mFaceSlimStrength),
      mMouthAdjustStrength(other.mMouthAdjustStrength),
      mNoseLengthStrength(other.mNoseLengthStrength),
      mNoseWidthStrength(other.mNoseWidthStrength) {}

FaceReshapeEffect::~FaceReshapeEffect() {
    clearFaces();
    delete mShader;
    delete mCopyShader;
}

void FaceReshapeEffect::addFace(const float* points, unsigned long count) {
    if (!points || count == 0) return;
    auto* face = new FaceInfo();
    face->updateLandmark(points, count, static_cast<float>(height()));
    mFaces.push_back(face);
}

void FaceReshapeEffect::clearFaces() {
    for (FaceInfo* face : mFaces) delete face;
    mFaces.clear();
}

std::vector<const FaceReshapeEffect::FaceInfo*> FaceReshapeEffect::drawnFaces() const {
    std::vector<const FaceInfo*> drawn;
    for (size_t i = 0; i < mFaces.size() && i < kDrawnFaces; ++i) drawn.push_back(mFaces[i]);
    return drawn;
}

void FaceReshapeEffect::drawSelf(unsigned int texture) {
    glDepthMask(GL_FALSE);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    const std::vector<const FaceInfo*> drawn = drawnFaces();
    if (drawn.empty()) {
        mQuad.drawFullScreen(mCopyShader, texture, nullptr);
        return;
    }
    mQuad.drawFullScreen(mShader, texture, [&](GLShader& shader) {
        shader.setUniform2f("viewPort", static_cast<float>(width()), static_cast<float>(height()));
        using ParameterBounds::bounded;
        const std::pair<const char*, float> strengths[] = {
            {"faceShaveStrength", mFaceShaveStrength},     {"faceSlimStrength", mFaceSlimStrength},
            {"chinChangeStrength", mChinChangeStrength},   {"eyeEnlargeStrength", mEyeEnlargeStrength},
            {"mouthAdjustStrength", mMouthAdjustStrength}, {"noseLengthStrength", mNoseLengthStrength},
            {"noseWidthStrength", mNoseWidthStrength},
        };
        for (const auto& strength : strengths) shader.setUniform1f(strength.first, bounded(strength.second, 0.0f));
        for (size_t k = 0; k < drawn.size(); ++k) {
            const std::string n = std::to_string(k + 1);
            const FaceInfo& face = *drawn[k];
            // The face's points up to the 68 of the array; the rest of the
            // array is set to 0 rather than left with another face's points.
            std::array<float, 2 * kPointsPerFace> points{};
            const size_t count = std::min(points.size(), face.landmarks.size() & ~size_t(1));
            for (size_t i = 0; i < count; ++i) points[i] = bounded(face.landmarks[i], 0.0f);
            shader.setUniform2f("leftEyeCenter" + n, bounded(face.leftEyeCenter, 0.0f));
            shader.setUniform2f("rightEyeCenter" + n, bounded(face.rightEyeCenter, 0.0f));
            shader.setUniform2fv("landmarks" + n, points.data(), static_cast<int>(kPointsPerFace));
            shader.setUniform1f("eyeDistance" + n, bounded(face.eyeDistance, 0.0f));
        }
        shader.setUniform1i("numFaces", static_cast<int>(drawn.size()));
    });
}

}  // namespace Core
}  // namespace Quorvane
