// The Gaussian blur: radius and sigma from the amount, the generated texts,
// and the blurred pixels against a Gaussian computed here.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "EffectFixture.h"
#include "effects/GaussianBlurEffect.h"

using namespace Quorvane::Core;

namespace {

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The number written right after the first occurrence of `marker`.
double numberAfter(const std::string& text, const std::string& marker) {
    const size_t at = text.find(marker);
    if (at == std::string::npos) return std::nan("");
    return std::stod(text.substr(at + marker.size()));
}

// Sample radius for an amount on a fresh effect.
int64_t radiusFor(float amount) {
    GaussianBlurEffect effect(nullptr);
    effect.setBlurScale(amount);
    return effect.sampleRadius();
}

}  // namespace

TEST(GaussianBlurMath, RadiusTable) {
    const std::pair<float, int64_t> table[] = {{1, 4},   {2, 6},   {3, 8},   {5, 12},   {10, 22}, {20, 36},
                                               {30, 46}, {50, 60}, {70, 60}, {100, 20}, {102, 6}};
    for (auto [amount, radius] : table) {
        GaussianBlurEffect effect(nullptr);
        effect.calculateSampleRadiusAndSigmaFromPixel(amount);
        EXPECT_EQ(effect.sampleRadius(), radius) << amount;
        EXPECT_EQ(effect.sigma(), amount);
    }
    for (int amount = 55; amount <= 69; ++amount)
        EXPECT_EQ(radiusFor(static_cast<float>(amount)), 62) << amount;
    // Below one pixel: a plain copy. Halves round away from zero.
    EXPECT_EQ(radiusFor(0.4f), 0);
    EXPECT_EQ(radiusFor(0.5f), 4);
    EXPECT_EQ(radiusFor(-3.0f), 0);
}

TEST(GaussianBlurMath, LargeAmountsClampToTheLargestRadius) {
    for (float amount : {102.5f, 103.0f, 104.0f, 500.0f, 1e30f, std::numeric_limits<float>::infinity()}) {
        GaussianBlurEffect effect(nullptr);
        effect.setBlurScale(amount);
        EXPECT_EQ(effect.sampleRadius(), GaussianBlurEffect::kLargestSampleRadius) << amount;
        const std::string fragment = effect.getFragmentFunction();
        EXPECT_EQ(fragment.find("nan"), std::string::npos) << amount;
        EXPECT_EQ(fragment.find("inf"), std::string::npos) << amount;
        EXPECT_GT(numberAfter(fragment, "blurCoordinates[0]) * "), 0.0) << amount;
    }
    GaussianBlurEffect nan(nullptr);
    nan.setBlurScale(std::nanf(""));
    EXPECT_EQ(nan.sampleRadius(), 0);
    EXPECT_EQ(nan.blurPixels(), 0.0f);
}

TEST(GaussianBlurMath, DefaultProgramNumbers) {
    GaussianBlurEffect effect(nullptr);
    EXPECT_EQ(effect.sampleRadius(), 4);
    EXPECT_EQ(effect.sigma(), 2.0f);
    // 2.4 rounds to the constructor's 2: nothing is recalculated (radius stays 4, not 6).
    effect.setBlurScale(2.4f);
    EXPECT_EQ(effect.sampleRadius(), 4);

    const std::string vertex = effect.getVertexFunction();
    const std::string fragment = effect.getFragmentFunction();
    EXPECT_EQ(count(vertex, "varying vec2 blurCoordinates[5];"), 1);
    EXPECT_EQ(count(fragment, "varying vec2 blurCoordinates[5];"), 1);
    EXPECT_EQ(count(fragment, "singlStepOffset"), 0);
    EXPECT_NEAR(numberAfter(fragment, "blurCoordinates[0]) * "), 0.2042, 5e-5);
    EXPECT_NEAR(numberAfter(fragment, "blurCoordinates[1]) * "), 0.3040, 5e-5);
    EXPECT_NEAR(numberAfter(fragment, "blurCoordinates[2]) * "), 0.3040, 5e-5);
    EXPECT_NEAR(numberAfter(fragment, "blurCoordinates[3]) * "), 0.0939, 5e-5);
    EXPECT_NEAR(numberAfter(vertex, "blurCoordinates[1] = inCoords.xy + singleStepOffset * "), 1.4073, 5e-5);
    EXPECT_NEAR(numberAfter(vertex, "blurCoordinates[2] = inCoords.xy - singleStepOffset * "), 1.4073, 5e-5);
    EXPECT_NEAR(numberAfter(vertex, "blurCoordinates[3] = inCoords.xy + singleStepOffset * "), 3.2942, 5e-5);
    EXPECT_EQ(vertex.find(
                  "attribute vec2 position;\n attribute vec2 inCoords;\n varying vec2 textureCoords;\n "
                  "uniform vec2 texelOffset;\nuniform vec2 viewSize;\nvarying vec2 blurCoordinates[5];\n"
                  "void main(){\n    vec2 singleStepOffset = vec2(texelOffset.x / viewSize.x, texelOffset.y "
                  "/ viewSize.y);\n    blurCoordinates[0] = inCoords.xy;\n    blurCoordinates[1] = "
                  "inCoords.xy + singleStepOffset * 1.40"),
              0u);
    EXPECT_EQ(
        fragment.find("#ifdef GL_ES\nprecision highp float;\n#endif\n varying vec2 textureCoords;\n uniform "
                      "sampler2D texture;\nuniform vec2 texelOffset;\nuniform vec2 viewSize;\nvarying vec2 "
                      "blurCoordinates[5];\nvoid main() {\n    lowp vec4 sum = vec4(0.0);\n    sum += "
                      "texture2D(texture, blurCoordinates[0]) * 0.204"),
        0u);
    EXPECT_TRUE(endsWith(vertex, ";\ntextureCoords = inCoords; gl_Position = vec4(position, 0.0, 1.0); }"));
    EXPECT_TRUE(endsWith(fragment, ";\n    gl_FragColor = sum;\n}\n"));
    // Six significant digits, as a default stream writes them.
    EXPECT_NE(fragment.find("blurCoordinates[0]) * 0.204"), std::string::npos);
}

TEST(GaussianBlurMath, TwentyPixelsReadsElevenPairsInTheFragmentShader) {
    GaussianBlurEffect effect(nullptr);
    effect.setBlurScale(20.0f);
    EXPECT_EQ(effect.sigma(), 20.0f);
    EXPECT_EQ(effect.sampleRadius(), 36);
    const std::string vertex = effect.getVertexFunction();
    const std::string fragment = effect.getFragmentFunction();
    EXPECT_EQ(count(vertex, "blurCoordinates[15]"), 1);
    EXPECT_EQ(count(fragment, "blurCoordinates[15]"), 1);
    EXPECT_EQ(count(fragment, "+ singlStepOffset *"), 11);
    EXPECT_EQ(count(fragment, "- singlStepOffset *"), 11);
    EXPECT_EQ(count(vertex, "singleStepOffset *"), 14);
    // The weights written sum to one: w_0 plus both sides of every pair.
    double total = 0;
    for (size_t at = fragment.find(") * "); at != std::string::npos; at = fragment.find(") * ", at + 1))
        total += std::stod(fragment.substr(at + 4));
    EXPECT_NEAR(total, 1.0, 1e-4);
}

TEST(GaussianBlurMath, CopyPathTexts) {
    GaussianBlurEffect effect(nullptr);
    effect.setBlurScale(0.4f);
    EXPECT_EQ(effect.getVertexFunction(),
              "attribute vec2 position;\n attribute vec2 inCoords;\n varying vec2 textureCoords;\nvoid "
              "main(){gl_Position = vec4(position, 0.0, 1.0); textureCoords = inCoords;}");
    EXPECT_EQ(effect.getFragmentFunction(),
              "#ifdef GL_ES\nprecision highp float;\n#endif\nvarying vec2 textureCoords;\n uniform sampler2D "
              "texture;\nvoid main(){gl_FragColor = texture2D(texture, textureCoords);\n}");
}

namespace {

class GaussianBlurDraw : public QvTest::EffectFixture {
protected:
    // An opaque image, linearly filtered as the engine's own layer textures are.
    GLuint image(int width, int height, const std::function<uint8_t(int x, int y, int c)>& at) {
        std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < 4; ++c)
                    rgba[4 * (static_cast<size_t>(y) * width + x) + c] = c == 3 ? 255 : at(x, y, c);
        GLuint texture = uploadTexture(width, height, rgba);
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glBindTexture(GL_TEXTURE_2D, 0);
        textures.push_back(texture);
        return texture;
    }
    void TearDown() override {
        for (GLuint t : textures) deleteTexture(t);
        EffectFixture::TearDown();
    }
    std::vector<GLuint> textures;
};

// The normalised discrete Gaussian of the blur: taps -radius..radius with
// weights exp(-d^2 / 2 sigma^2), summing to one.
std::vector<double> referenceKernel(double sigma, int radius) {
    std::vector<double> w(radius + 1);
    double total = 0;
    for (int d = 0; d <= radius; ++d) {
        w[d] = std::exp(-d * d / (2 * sigma * sigma));
        total += d == 0 ? w[d] : 2 * w[d];
    }
    for (double& v : w) v /= total;
    return w;
}

}  // namespace

TEST_F(GaussianBlurDraw, FlatImageStaysFlat) {
    GLuint flat = image(kWidth, kHeight, [](int, int, int c) { return uint8_t(60 + 50 * c); });
    auto* effect = create<GaussianBlurEffect>("ADBE Fast Blur", "null");
    ASSERT_NE(effect, nullptr);
    // The constructor's blur, a plain copy, a blur past the varyings and a
    // clamped amount (the largest radius) all keep a flat image flat.
    for (float amount : {2.0f, 0.4f, 20.0f, 150.0f}) {
        effect->setBlurScale(amount);
        const QvTest::Pixels p = drawFrame(effect, flat, 0);
        for (int y = 2; y < kHeight - 2; y += 3)
            for (int x = 2; x < kWidth - 2; x += 3)
                for (int c = 0; c < 4; ++c)
                    ASSERT_NEAR(p.at(x, y)[c], c == 3 ? 255 : 60 + 50 * c, 1)
                        << amount << " at " << x << "," << y;
    }
}

TEST_F(GaussianBlurDraw, LineSpreadsIntoTheGaussian) {
    setLayerSize(128, 16);
    const int lineX = 64;
    GLuint line = image(128, 16, [&](int x, int, int) { return uint8_t(x == lineX ? 255 : 0); });
    // 5 px: all pairs through varyings; 20 px: eleven pairs read in the fragment shader.
    for (auto [amount, radius] : {std::pair<float, int>{5, 12}, {20, 36}}) {
        auto* effect = create<GaussianBlurEffect>("ZR_Gaussian_Blur", std::to_string(amount));
        ASSERT_NE(effect, nullptr);
        const QvTest::Pixels p = drawFrame(effect, line, 0);
        ASSERT_EQ(effect->sampleRadius(), radius);
        const std::vector<double> w = referenceKernel(amount, radius);
        for (int y : {2, 8, 13}) {
            for (int x = 0; x < 128; ++x) {
                const int d = std::abs(x - lineX);
                const double want = d <= radius ? 255 * w[d] : 0;
                for (int c = 0; c < 3; ++c)
                    ASSERT_NEAR(p.at(x, y)[c], want, 2.0) << amount << " px, x " << x << " y " << y;
                ASSERT_NEAR(p.at(x, y)[3], 255, 1);
            }
        }
    }
}

TEST_F(GaussianBlurDraw, IntermediateDestinationFollowsThePassSize) {
    GLuint flat = image(kWidth, kHeight, [](int, int, int) { return uint8_t(128); });
    auto* effect = create<GaussianBlurEffect>("ADBE Box Blur2", "4");
    ASSERT_NE(effect, nullptr);
    drawFrame(effect, flat, 0);
    GLRenderDestination* first = effect->intermediateDestination();
    ASSERT_NE(first, nullptr);
    drawFrame(effect, flat, 1);
    EXPECT_EQ(effect->intermediateDestination(), first);
    EXPECT_EQ(manager.destinationCount(), 0u);

    setLayerSize(40, 20);
    const QvTest::Pixels p = drawFrame(effect, flat, 2);
    ASSERT_NE(effect->intermediateDestination(), nullptr);
    EXPECT_EQ(effect->intermediateDestination()->width(), 40);
    EXPECT_EQ(effect->intermediateDestination()->height(), 20);
    EXPECT_EQ(p.width, 40);
    EXPECT_NEAR(p.at(20, 10)[0], 128, 1);

    // unprepare drops the intermediate destination only.
    effect->unprepare();
    EXPECT_EQ(effect->intermediateDestination(), nullptr);
    EXPECT_NE(effect->getDestination(), nullptr);

    // Texture 0: the own destination stays cleared.
    const QvTest::Pixels empty = drawFrame(effect, 0, 3);
    EXPECT_EQ(empty.packed(20, 10), 0u);
}

TEST_F(GaussianBlurDraw, ProgramRegeneratesOnlyOnRoundedChanges) {
    GLuint flat = image(kWidth, kHeight, [](int, int, int) { return uint8_t(90); });
    QvTest::writeFile(dir.file("blur.json"), "[3, 3, \"x\", 5, 2.6, 3.4]");
    auto* effect = create<GaussianBlurEffect>("ADBE Gaussian Blur", "\"blur.json\"");
    ASSERT_NE(effect, nullptr);
    // The non-number is skipped and the frames after it move up.
    ASSERT_EQ(effect->records(), (std::vector<float>{3, 3, 5, 2.6f, 3.4f}));
    EXPECT_TRUE(effect->hasAnimation());
    const bool regenerated[] = {true, false, true, true, false};
    for (int frame = 0; frame < 5; ++frame) {
        effect->prepareForFrame(frame);
        EXPECT_EQ(effect->shaderDirty(), regenerated[frame]) << frame;
        effect->draw(flat);
        EXPECT_FALSE(effect->shaderDirty());
    }
    EXPECT_EQ(effect->blurPixels(), 3.0f);
    effect->prepareForFrame(-1);
    EXPECT_EQ(effect->blurPixels(), 3.0f);

    // An inline array is no record for the blur.
    auto* inlineArray = create<GaussianBlurEffect>("ZR_Gaussian_Blur", "[3]");
    EXPECT_TRUE(inlineArray->records().empty());

    // The copy keeps records and amount and builds its own program.
    std::unique_ptr<RenderEffect> copy(RenderEffectManager::cloneEffect(effect, layer));
    auto* blurCopy = dynamic_cast<GaussianBlurEffect*>(copy.get());
    ASSERT_NE(blurCopy, nullptr);
    EXPECT_EQ(blurCopy->records(), effect->records());
    EXPECT_EQ(blurCopy->blurPixels(), 3.0f);
    EXPECT_EQ(blurCopy->sampleRadius(), 8);
    EXPECT_TRUE(blurCopy->shaderDirty());
    EXPECT_EQ(blurCopy->intermediateDestination(), nullptr);
}
