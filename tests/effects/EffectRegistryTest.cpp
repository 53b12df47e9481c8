// The registry as the library fills it at load, and the record loading and
// per-frame choice every effect shares (told on the colour channel effect).
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>

#include "core/FileCodec.h"
#include "effects/ColorChannelAdjustment.h"
#include "effects/EffectRegistry.h"
#include "effects/GaussianBlurEffect.h"
#include "scene/RenderLayer.h"
#include "support/TestComp.h"
#include "support/TestSupport.h"

using namespace Quorvane::Core;

namespace {

const char* const kBlurNames[] = {"ZR_Gaussian_Blur", "ADBE Fast Blur", "ADBE Box Blur2",
                                  "ADBE Gaussian Blur 2", "ADBE Gaussian Blur"};

// No GL is touched: effects make their GL objects on the first draw.
class RecordTest : public ::testing::Test {
protected:
    void SetUp() override {
        comp.dataFolder = dir.path() + "/";
        layer = new RenderLayer(&comp, kAVLayer, false);
        comp.addLayer(layer, false);
    }

    ColorChannelAdjustment* load(const std::string& dataJson) {
        effect.reset(new ColorChannelAdjustment(layer));
        rapidjson::Document item;
        item.Parse(("{\"name\":\"ZR_Color_Channel_Adjustment\",\"data\":" + dataJson + "}").c_str());
        EXPECT_FALSE(item.HasParseError());
        effect->loadFromJson(item);
        return effect.get();
    }
    // Channel x and saturation chosen for a frame.
    std::pair<float, float> at(long long frame) {
        effect->prepareForFrame(frame);
        return {effect->channel().x, effect->saturation()};
    }

    QvTest::TempDir dir{"qvrecords"};
    QvTest::TestComp comp{16, 16, 25};
    RenderLayer* layer = nullptr;
    std::unique_ptr<ColorChannelAdjustment> effect;
};

}  // namespace

TEST(EffectRegistry, LoadedNamesCreateAndCloneTheirClasses) {
    QvTest::TestComp comp(16, 16, 25);
    auto* a = new RenderLayer(&comp, kAVLayer, false);
    auto* b = new RenderLayer(&comp, kAVLayer, false);
    comp.addLayer(a, false);
    comp.addLayer(b, false);

    for (const char* name : kBlurNames) {
        ASSERT_EQ(RenderEffectManager::constructors().count(name), 1u) << name;
        std::unique_ptr<RenderEffect> effect(RenderEffectManager::createEffect(name, a));
        ASSERT_NE(dynamic_cast<GaussianBlurEffect*>(effect.get()), nullptr) << name;
        EXPECT_EQ(effect->parent(), a);
        // Every name answers with the one engine name; the clone goes through it.
        EXPECT_EQ(effect->matchName(), "ZR_Gaussian_Blur");
        std::unique_ptr<RenderEffect> copy(RenderEffectManager::cloneEffect(effect.get(), b));
        ASSERT_NE(dynamic_cast<GaussianBlurEffect*>(copy.get()), nullptr);
        EXPECT_EQ(copy->parent(), b);
    }
    std::unique_ptr<RenderEffect> cca(RenderEffectManager::createEffect("ZR_Color_Channel_Adjustment", a));
    ASSERT_NE(dynamic_cast<ColorChannelAdjustment*>(cca.get()), nullptr);
    EXPECT_EQ(cca->matchName(), "ZR_Color_Channel_Adjustment");

    // Exact comparison: case and spaces count.
    EXPECT_EQ(RenderEffectManager::createEffect("zr_gaussian_blur", a), nullptr);
    EXPECT_EQ(RenderEffectManager::createEffect("ADBE Gaussian Blur ", a), nullptr);
    EXPECT_EQ(RenderEffectManager::createEffect("", a), nullptr);

    // Every table row is registered, under distinct names.
    std::set<std::string> names;
    for (const auto& row : effectRegistryTable()) {
        names.insert(row.name);
        EXPECT_EQ(RenderEffectManager::constructors().at(row.name), row.create);
    }
    EXPECT_EQ(names.size(), effectRegistryTable().size());
}

TEST(EffectRegistry, LayerBuildsItsChainFromTheEffectsList) {
    QvTest::TestComp comp(16, 16, 25);
    auto* layer = new RenderLayer(&comp, kAVLayer, false);
    comp.addLayer(layer, false);
    rapidjson::Document doc;
    doc.Parse(R"({"effects":[{"name":"ADBE Gaussian Blur 2","data":7.5},{"name":"ADBE Unknown","data":1},
                             {"name":"ZR_Color_Channel_Adjustment","data":[0,0,0,0.5]}]})");
    layer->loadFromJson(doc);
    ASSERT_EQ(layer->numEffects(), 2u);
    auto* blur = dynamic_cast<GaussianBlurEffect*>(layer->getEffectByIndex(0));
    ASSERT_NE(blur, nullptr);
    // A fractional amount counts as it stands and rounds to 8 when applied.
    ASSERT_EQ(blur->records(), std::vector<float>{7.5f});
    layer->prepareForFrame(0);
    EXPECT_EQ(blur->blurPixels(), 8.0f);
    auto* cca = dynamic_cast<ColorChannelAdjustment*>(layer->getEffectByIndex(1));
    ASSERT_NE(cca, nullptr);
    EXPECT_FLOAT_EQ(cca->saturation(), 0.5f);
}

TEST_F(RecordTest, InlineRecordHoldsForEveryFrame) {
    load("[0.5, 0, -1, 1]");
    EXPECT_FALSE(effect->hasAnimation());
    for (long long frame : {0LL, 1LL, 1000LL, -1LL}) {
        effect->prepareForFrame(frame);
        EXPECT_FLOAT_EQ(effect->channel().x, 0.5f);
        EXPECT_FLOAT_EQ(effect->channel().z, -1.0f);
        EXPECT_FLOAT_EQ(effect->saturation(), 1.0f);
    }
    // Integers, unsigned and 64-bit forms all count as numbers.
    load("[1, 18446744073709551615, -9007199254740993, 2]");
    EXPECT_EQ(at(0), std::make_pair(1.0f, 2.0f));
}

TEST_F(RecordTest, UnusableDataLoadsNothingAndKeepsTheCurrentValues) {
    for (const char* data : {"0.5", "{}", "true", "null", "[0.5, 0, -1]", "[0.5, 0, \"x\", 1]", "[[0,0,0,1]]",
                             "\"missing.json\""}) {
        load(data);
        effect->setSaturation(0.25f);
        effect->prepareForFrame(3);
        EXPECT_FLOAT_EQ(effect->saturation(), 0.25f) << data;
        EXPECT_FALSE(effect->hasAnimation()) << data;
    }
    rapidjson::Document noData;
    noData.Parse(R"({"name":"ZR_Color_Channel_Adjustment"})");
    effect->loadFromJson(noData);
    effect->prepareForFrame(0);
    EXPECT_FLOAT_EQ(effect->saturation(), 0.25f);
}

TEST_F(RecordTest, DataFileGivesOneRecordPerFrameAndSkipsBrokenOnes) {
    QvTest::writeFile(dir.file("sat.json"), "[[0,0,0,1],[0,0,0,0],[0,0,0,0.5]]");
    load("\"sat.json\"");
    EXPECT_TRUE(effect->hasAnimation());
    EXPECT_EQ(at(0).second, 1.0f);
    EXPECT_EQ(at(1).second, 0.0f);
    EXPECT_EQ(at(2).second, 0.5f);
    EXPECT_EQ(at(99).second, 0.5f);
    EXPECT_EQ(at(-1).second, 0.5f);

    // Short records, non-numbers and elements of another shape are skipped:
    // the later records move up a frame; numbers past the fourth are ignored.
    QvTest::writeFile(
        dir.file("broken.json"),
        R"([[0.1,0,0,1], 7, [0.2,0,0], [0.3,"a",0,1], {}, [0.4,0,0,0.4,9,9], [], [0.5,0,0,0.5]])");
    load("\"broken.json\"");
    EXPECT_EQ(at(0), std::make_pair(0.1f, 1.0f));
    EXPECT_EQ(at(1), std::make_pair(0.4f, 0.4f));
    EXPECT_EQ(at(2), std::make_pair(0.5f, 0.5f));
    EXPECT_EQ(at(3), std::make_pair(0.5f, 0.5f));

    // Root not an array, no parse, empty file: nothing.
    for (const char* text : {"{\"a\":[[0,0,0,0]]}", "[[0,0,0,0]", "", "\xEF\xBB\xBF[[0,0,0,0]]"}) {
        QvTest::writeFile(dir.file("bad.json"), text);
        load("\"bad.json\"");
        effect->prepareForFrame(0);
        EXPECT_FLOAT_EQ(effect->saturation(), 1.0f) << text;
    }
}

TEST_F(RecordTest, PackedDataFileReadsLikeAPlainOne) {
    const std::string plain = dir.path() + "/src";
    std::filesystem::create_directories(plain);
    QvTest::writeFile(plain + "/sat.json", "[[0,0,0,0.75],[0,0,0,0.25]]");
    FileCodec codec(FileCodecVersion1);
    ASSERT_TRUE(codec.createPack(plain, "sat.json", dir.file("packed.json")));
    load("\"packed.json\"");
    EXPECT_EQ(at(0).second, 0.75f);
    EXPECT_EQ(at(1).second, 0.25f);
}

TEST_F(RecordTest, CopyTakesTheRecordsButStartsAtTheDefaults) {
    load("[0.5, 0, -1, 0.5]");
    effect->prepareForFrame(0);
    ColorChannelAdjustment copy(*effect);
    EXPECT_FLOAT_EQ(copy.saturation(), 1.0f);
    EXPECT_FLOAT_EQ(copy.channel().x, 0.0f);
    copy.prepareForFrame(0);
    EXPECT_FLOAT_EQ(copy.saturation(), 0.5f);
    EXPECT_FLOAT_EQ(copy.channel().x, 0.5f);
}
