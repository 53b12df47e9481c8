// Asset records built from elements of a template's "assets" list.
#include <gtest/gtest.h>

#include "core/Json.h"
#include "render/AssetConfig.h"

using Quorvane::Core::AssetConfig;
namespace Json = Quorvane::Core::Json;

namespace {

AssetConfig fromText(const char* text) {
    Json::Document doc;
    EXPECT_TRUE(Json::parse(doc, text, strlen(text), Json::ByteOrderMark::Reject)) << text;
    return AssetConfig(doc);
}

TEST(AssetConfig, ReadsEveryKeyOfAFullElement) {
    const AssetConfig a = fromText(R"({"key":"k","ui_key":"u","ui_extra":"x y","name":"clip.mp4","fps":12.5,
        "type":1,"num":3,"size":[640,360],"ui":{"w":1},"preset":["p0.png","p1.png"],"other":[1]})");
    EXPECT_EQ(a.key, "k");
    EXPECT_EQ(a.uiKey, "u");
    EXPECT_EQ(a.uiExtra, "x y");
    EXPECT_EQ(a.name, "clip.mp4");
    EXPECT_EQ(a.fps, 12.5f);
    EXPECT_EQ(a.type, 1);
    EXPECT_EQ(a.num, 3);
    EXPECT_EQ(a.width, 640);
    EXPECT_EQ(a.height, 360);
    EXPECT_TRUE(a.hasUI);
    EXPECT_FALSE(a.replaced);
    EXPECT_EQ(a.presets, (std::vector<std::string>{"p0.png", "p1.png"}));
    EXPECT_EQ(a.json,
              R"({"key":"k","ui_key":"u","ui_extra":"x y","name":"clip.mp4","fps":12.5,)"
              R"("type":1,"num":3,"size":[640,360],"ui":{"w":1},"preset":["p0.png","p1.png"],"other":[1]})");
}

TEST(AssetConfig, NonObjectElementsGiveDefaults) {
    for (const char* text : {"7", "\"asset\"", "null", "[{\"key\":\"k\"}]"}) {
        const AssetConfig a = fromText(text);
        EXPECT_EQ(a.num, 1) << text;
        EXPECT_EQ(a.width + a.height + a.type, 0) << text;
        EXPECT_EQ(a.fps, 0.0f) << text;
        EXPECT_TRUE(a.key.empty() && a.name.empty() && a.json.empty() && a.uiKey.empty()) << text;
        EXPECT_FALSE(a.hasUI) << text;
    }
    const AssetConfig onlyKey = fromText(R"( { "key" : "a" } )");
    EXPECT_EQ(onlyKey.num, 1);
    EXPECT_EQ(onlyKey.json, R"({"key":"a"})");
}

TEST(AssetConfig, MembersOfAnotherTypeArePassedOver) {
    const AssetConfig a = fromText(R"({"key":1,"ui_key":["u"],"ui_extra":{},"name":null,"fps":"12",
        "type":3.5,"num":"2","size":[640],"ui":"yes","preset":"p.png"})");
    EXPECT_EQ(a.key, "");
    EXPECT_EQ(a.uiKey, "");
    EXPECT_EQ(a.name, "");
    EXPECT_EQ(a.fps, 0.0f);
    EXPECT_EQ(a.type, 0);
    EXPECT_EQ(a.num, 1);
    EXPECT_EQ(a.width, 0);
    EXPECT_FALSE(a.hasUI);
    EXPECT_TRUE(a.presets.empty());

    const AssetConfig sizes = fromText(R"({"size":[640.5,360],"preset":["a",2,"b"],"fps":1e39})");
    EXPECT_EQ(sizes.width, 0);
    EXPECT_EQ(sizes.height, 0);
    EXPECT_EQ(sizes.presets, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(sizes.fps, 0.0f);
}

TEST(AssetConfig, RepeatedKeysApplyAgainInOrder) {
    const AssetConfig a =
        fromText(R"({"name":"a","preset":["x"],"ui":{},"name":"b","preset":["y"],"ui":0,"fps":12})");
    EXPECT_EQ(a.name, "b");
    EXPECT_EQ(a.presets, (std::vector<std::string>{"x", "y"}));
    EXPECT_TRUE(a.hasUI);  // a later "ui" of another type does not clear it
    EXPECT_EQ(a.fps, 12.0f);
}

}  // namespace
