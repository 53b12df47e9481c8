// Registration, factories, copies and look-ups of a render context's sources
// and compositions.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "scene/ContextTestSupport.h"
#include "scene/RenderAVLayer.h"

using namespace Quorvane::Core;
using namespace QvTest;

namespace {

class FactoryTest : public GLFixture {
protected:
    RenderContext ctx{64, 48, 25.0f, 10, "images", true, 0, -1};
};

}  // namespace

TEST_F(FactoryTest, FirstRegistrationOfAKeyWins) {
    EXPECT_EQ(ctx.createSolidSource(Color(1, 0, 0, 1), 4, 4, "k", "first"), "k");
    AVSource* first = ctx.source("k");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(ctx.createAVFileSource("/nowhere/a.png", "k", 0, "second"), "k");
    EXPECT_EQ(ctx.source("k"), first);
    EXPECT_EQ(first->getConfigJson(), "first");
    EXPECT_EQ(first->sourceType(), AVSource::kSourceTypeSolid);

    EXPECT_EQ(ctx.createTextureSource(0, AVSource::kColorFormatRGBA, 4, 4, "tex"), "tex");
    EXPECT_EQ(ctx.createImageSequenceSource({"/a_0.png", "/a_1.png"}, "seq", 0, "j"), "seq");
    EXPECT_EQ(ctx.source("seq")->getConfigJson(), "j");
    EXPECT_EQ(ctx.createImageSourceFromMemory("not an image", 12, "mem", ""), "mem");
    EXPECT_EQ(ctx.createCompSource(nullptr, "empty", ""), "empty");
    EXPECT_EQ(ctx.source("empty")->sourceComp(), nullptr);
    // Registered in ascending byte order of the keys; the context's own output
    // source is there as well.
    std::string previous;
    for (const auto& entry : ctx.sources()) {
        EXPECT_LT(previous, entry.first);
        previous = entry.first;
    }
}

TEST_F(FactoryTest, RemovalTakesOutAndDeletesOnlyWhenAsked) {
    const size_t base = ctx.sources().size();
    ctx.createSolidSource(Color(1, 0, 0, 1), 4, 4, "k", "");
    ctx.removeSource("", true);
    ctx.removeSource("unknown", true);
    EXPECT_EQ(ctx.sources().size(), base + 1);
    ctx.removeSource("k", true);
    EXPECT_EQ(ctx.source("k"), nullptr);

    EXPECT_EQ(ctx.createPreComp(16, 8, 5, "pre"), "pre");
    RenderComp* pre = ctx.comp("pre");
    ASSERT_NE(pre, nullptr);
    EXPECT_EQ(pre->width(), 16);
    EXPECT_EQ(pre->duration(), 5u);
    ctx.removeComp("pre", false);
    EXPECT_EQ(ctx.comp("pre"), nullptr);
    delete pre;
    EXPECT_EQ(ctx.comp("images"), nullptr) << "the context is not in its own registry";
}

TEST_F(FactoryTest, PreCompOfATakenNameKeepsTheFirst) {
    EXPECT_EQ(ctx.createPreComp(16, 8, 5, "pre"), "pre");
    RenderComp* first = ctx.comp("pre");
    EXPECT_EQ(ctx.createPreComp(32, 32, 9, "pre"), "pre");
    EXPECT_EQ(ctx.comp("pre"), first);
    EXPECT_EQ(first->width(), 16);
}

TEST_F(FactoryTest, CopiesGetFreshNamesAndKeys) {
    EXPECT_EQ(ctx.duplicateSource("unknown"), "");
    EXPECT_EQ(ctx.duplicateComp("unknown"), "");
    std::map<std::string, std::string> keys;
    EXPECT_EQ(ctx.duplicateCompWithReusedSource("unknown", keys), "");

    ctx.createSolidSource(Color(0, 1, 0, 1), 4, 6, "solid", "json");
    const std::string copyKey = ctx.duplicateSource("solid");
    ASSERT_NE(copyKey, "");
    EXPECT_NE(copyKey, "solid");
    ASSERT_NE(ctx.source(copyKey), nullptr);
    EXPECT_NE(ctx.source(copyKey), ctx.source("solid"));
    EXPECT_EQ(ctx.source(copyKey)->width(), 4);

    ctx.createPreComp(16, 8, 5, "pre");
    RenderComp* pre = ctx.comp("pre");
    auto* layer = new RenderAVLayer(pre);
    layer->setSourceID("solid", true);
    pre->addLayer(layer, false);
    auto* second = new RenderAVLayer(pre);
    second->setSourceID("solid", true);
    pre->addLayer(second, false);

    const std::string copy = ctx.duplicateComp("pre");
    ASSERT_NE(copy, "");
    EXPECT_NE(copy, "pre");
    RenderComp* copied = ctx.comp(copy);
    ASSERT_NE(copied, nullptr);
    EXPECT_EQ(copied->layers().size(), 2u);
    EXPECT_EQ(copied->duration(), 5u);
    // A copy shares the sources.
    EXPECT_EQ(static_cast<RenderAVLayer*>(copied->layers()[0])->sourceID(), "solid");

    const std::string duplicate = ctx.duplicateCompWithReusedSource("pre", keys);
    ASSERT_NE(duplicate, "");
    RenderComp* dup = ctx.comp(duplicate);
    ASSERT_NE(dup, nullptr);
    ASSERT_EQ(dup->layers().size(), 2u);
    // A duplicate has its own source, one for both layers that shared one.
    const std::string a = static_cast<RenderAVLayer*>(dup->layers()[0])->sourceID();
    const std::string b = static_cast<RenderAVLayer*>(dup->layers()[1])->sourceID();
    EXPECT_NE(a, "solid");
    EXPECT_EQ(a, b);
    EXPECT_EQ(keys["solid"], a);
    EXPECT_NE(ctx.source(a), nullptr);
}

TEST_F(FactoryTest, CompositionsByUIKeyInNameOrder) {
    ctx.createPreComp(4, 4, 1, "b");
    ctx.createPreComp(4, 4, 1, "a");
    ctx.createPreComp(4, 4, 1, "c");
    ctx.comp("b")->setUIKey("ui");
    ctx.comp("a")->setUIKey("ui");
    std::vector<RenderComp*> found{nullptr};
    ctx.getCompForUIKey("ui", found);
    ASSERT_EQ(found.size(), 3u) << "the list is appended to, not cleared";
    EXPECT_EQ(found[1], ctx.comp("a"));
    EXPECT_EQ(found[2], ctx.comp("b"));
    ctx.getCompForUIKey("", found);
    EXPECT_EQ(found.size(), 3u);
}
