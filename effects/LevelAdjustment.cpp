#include "effects/LevelAdjustment.h"

#include <algorithm>
#include <cmath>

#include "effects/ParameterBounds.h"
#include "render/GLShader.h"

namespace Quorvane {
namespace Core {

// An empty or inverted input range (maximum at or below minimum) would divide
// by zero or give a negative base to pow, both NaN: such a channel becomes a
// threshold at its minimum. Within a proper range the result is the plain
// formula wherever it is finite; where pow overflows (a negative middle at or
// near 0) it is held at kHeld, which the 8-bit output clamps anyway.
const char* const LevelAdjustment::kFragmentShader =
    "#ifdef GL_ES\nprecision highp float;\n#endif\n"
    "varying vec2 textureCoords;\n"
    "uniform sampler2D texture;\n"
    "uniform vec3 levelMinimum;\n"
    "uniform vec3 levelMiddle;\n"
    "uniform vec3 levelMaximum;\n"
    "uniform vec3 minOutput;\n"
    "uniform vec3 maxOutput;\n"
    "float level(float c, float low, float middle, float high, float outLow, float outHigh) {\n"
    "    float x;\n"
    "    if (high > low) x = min(max(c - low, 0.0) / (high - low), 1.0);\n"
    "    else x = c > low ? 1.0 : 0.0;\n"
    "    const float kHeld = 1.0e6;\n"
    "    if (x > 0.0) x = min(pow(x, 1.0 / middle), kHeld);\n"
    "    else x = middle > 0.0 ? 0.0 : kHeld;\n"
    "    return mix(outLow, outHigh, x);\n"
    "}\n"
    "void main() {\n"
    "    vec4 c = texture2D(texture, textureCoords);\n"
    "    gl_FragColor = vec4(\n"
    "        level(c.r, levelMinimum.r, levelMiddle.r, levelMaximum.r, minOutput.r, maxOutput.r),\n"
    "        level(c.g, levelMinimum.g, levelMiddle.g, levelMaximum.g, minOutput.g, maxOutput.g),\n"
    "        level(c.b, levelMinimum.b, levelMiddle.b, levelMaximum.b, minOutput.b, maxOutput.b), c.a);\n"
    "}\n";

LevelAdjustment::LevelAdjustment(RenderLayer* layer)
    : RenderEffect(layer), mShader(newEffectShader(kEffectVertexShader, kFragmentShader)) {}

LevelAdjustment::LevelAdjustment(const LevelAdjustment& other)
    : RenderEffect(other),
      mShader(newEffectShader(kEffectVertexShader, kFragmentShader)),
      mMinimum(other.mMinimum),
      mMiddle(other.mMiddle),
      mMaximum(other.mMaximum),
      mMinOutput(other.mMinOutput),
      mMaxOutput(other.mMaxOutput) {}

LevelAdjustment::~LevelAdjustment() {
    delete mShader;
}

void LevelAdjustment::setChannel(int channel, float min, float mid, float max, float minOutput,
                                 float maxOutput) {
    Vec3* fields[] = {&mMinimum, &mMiddle, &mMaximum, &mMinOutput, &mMaxOutput};
    const float values[] = {min, mid, max, minOutput, maxOutput};
    for (int i = 0; i < 5; ++i) {
        Vec3& v = *fields[i];
        (channel == 0 ? v.x : channel == 1 ? v.y : v.z) = values[i];
    }
}

void LevelAdjustment::setRed(float min, float mid, float max, float minOutput, float maxOutput) {
    setChannel(0, min, mid, max, minOutput, maxOutput);
}

void LevelAdjustment::setGreen(float min, float mid, float max, float minOutput, float maxOutput) {
    setChannel(1, min, mid, max, minOutput, maxOutput);
}

void LevelAdjustment::setBlue(float min, float mid, float max, float minOutput, float maxOutput) {
    setChannel(2, min, mid, max, minOutput, maxOutput);
}

void LevelAdjustment::set(float min, float mid, float max, float minOutput, float maxOutput) {
    for (int channel = 0; channel < 3; ++channel) setChannel(channel, min, mid, max, minOutput, maxOutput);
}

void LevelAdjustment::drawSelf(unsigned int texture) {
    mQuad.drawFullScreen(mShader, texture, [this](GLShader& shader) {
        using ParameterBounds::bounded;
        // A middle of 0 acts as its limit from above (every input below the
        // maximum goes to the output minimum), a tinier one as the smallest of
        // its sign; NaN is the neutral 1.
        auto middle = [](float m) {
            if (std::isnan(m)) return 1.0f;
            if (std::fabs(m) < kSmallestMiddle) return m < 0.0f ? -kSmallestMiddle : kSmallestMiddle;
            return ParameterBounds::bounded(m, 1.0f);
        };
        shader.setUniform3f("levelMinimum", bounded(mMinimum, 0.0f));
        shader.setUniform3f("levelMiddle", Vec3(middle(mMiddle.x), middle(mMiddle.y), middle(mMiddle.z)));
        shader.setUniform3f("levelMaximum", bounded(mMaximum, 1.0f));
        shader.setUniform3f("minOutput", bounded(mMinOutput, 0.0f));
        shader.setUniform3f("maxOutput", bounded(mMaxOutput, 1.0f));
    });
}

}  // namespace Core
}  // namespace Quorvane
