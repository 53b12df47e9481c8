// The typed JSON reads every template loader shares.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/Json.h"

namespace Json = Quorvane::Core::Json;

namespace {

Json::Document parsed(const std::string& text) {
    Json::Document doc;
    EXPECT_TRUE(Json::parse(doc, text, Json::ByteOrderMark::Reject)) << text;
    return doc;
}

TEST(ConfigJson, ParseHandlesMarksBlanksAndTrailingText) {
    Json::Document doc;
    const std::string bom = "\xEF\xBB\xBF";
    EXPECT_TRUE(Json::parse(doc, bom + " {\"a\":1} \n", Json::ByteOrderMark::Skip));
    EXPECT_TRUE(doc.IsObject());
    EXPECT_FALSE(Json::parse(doc, bom + "{\"a\":1}", Json::ByteOrderMark::Reject));
    EXPECT_TRUE(doc.IsNull());
    // Each byte of the mark is skipped only when present, in order.
    EXPECT_TRUE(Json::parse(doc, "\xEF[1]", Json::ByteOrderMark::Skip));
    EXPECT_TRUE(Json::parse(doc, "\xBB\xBF[1]", Json::ByteOrderMark::Skip));
    EXPECT_FALSE(Json::parse(doc, "\xBF\xBB[1]", Json::ByteOrderMark::Skip));
    for (const char* bad : {"", "  ", "[1] [2]", "[1] x", "{\"a\":}", "[1,]", "01", "nul"}) {
        EXPECT_FALSE(Json::parse(doc, std::string(bad), Json::ByteOrderMark::Skip)) << bad;
        EXPECT_TRUE(doc.IsNull());
    }
    // Zero-terminated text ends at the first zero byte; a sized stream does not.
    const std::string withZero("[1]\0[2]", 7);
    EXPECT_TRUE(Json::parse(doc, withZero, Json::ByteOrderMark::Reject));
    EXPECT_TRUE(Json::parse(doc, nullptr, 0, Json::ByteOrderMark::Skip) == false);
}

TEST(ConfigJson, NestingIsLimited) {
    Json::Document doc;
    const int limit = Json::kMaxDepth;
    EXPECT_TRUE(
        Json::parse(doc, std::string(limit, '[') + std::string(limit, ']'), Json::ByteOrderMark::Skip));
    EXPECT_FALSE(Json::parse(doc, std::string(limit + 1, '[') + std::string(limit + 1, ']'),
                             Json::ByteOrderMark::Skip));
    // Brackets inside strings, escaped quotes included, do not count.
    const std::string text = "[\"" + std::string(2000, '[') + "\\\"" + std::string(2000, '{') + "\"]";
    EXPECT_TRUE(Json::parse(doc, text, Json::ByteOrderMark::Skip));
}

TEST(ConfigJson, TypedReadsIgnoreOtherTypes) {
    const Json::Document doc = parsed(
        R"({"i":7,"neg":-3,"big":3000000000,"huge":1e39,"f":2.5,"s":"t\u0000u","b":true,"n":null,"a":[1,2],"o":{}})");
    int32_t i = -1;
    EXPECT_TRUE(Json::read(doc, "i", i, Json::getInt));
    EXPECT_EQ(i, 7);
    for (const char* key : {"big", "huge", "f", "s", "b", "n", "a", "o", "missing"}) {
        EXPECT_FALSE(Json::read(doc, key, i, Json::getInt)) << key;
    }
    EXPECT_EQ(i, 7);
    int64_t l = 0;
    EXPECT_TRUE(Json::read(doc, "big", l, Json::getInt64));
    EXPECT_EQ(l, 3000000000LL);

    float f = -1;
    EXPECT_TRUE(Json::read(doc, "neg", f, Json::getFloat));
    EXPECT_EQ(f, -3.0f);
    EXPECT_FALSE(Json::read(doc, "big", f, Json::getFloat));
    EXPECT_FALSE(Json::read(doc, "huge", f, Json::getFloat));
    EXPECT_TRUE(Json::read(doc, "f", f, Json::getFloat));
    EXPECT_EQ(f, 2.5f);
    EXPECT_TRUE(Json::read(doc, "huge", f, Json::getNumber));
    EXPECT_TRUE(std::isinf(f));
    double d = 0;
    EXPECT_TRUE(Json::read(doc, "big", d, Json::getNumber));
    EXPECT_EQ(d, 3e9);
    EXPECT_FALSE(Json::read(doc, "s", d, Json::getNumber));

    std::string s;
    EXPECT_TRUE(Json::read(doc, "s", s, Json::getString));
    EXPECT_EQ(s, std::string("t\0u", 3));
    EXPECT_FALSE(Json::read(doc, "n", s, Json::getString));
    bool b = false;
    EXPECT_TRUE(Json::read(doc, "b", b, Json::getBool));
    EXPECT_FALSE(Json::read(doc, "i", b, Json::getBool));

    EXPECT_NE(Json::findArray(doc, "a"), nullptr);
    EXPECT_EQ(Json::findArray(doc, "o"), nullptr);
    EXPECT_NE(Json::findObject(doc, "o"), nullptr);
    EXPECT_EQ(Json::find(doc["a"], "a"), nullptr);  // not an object
    EXPECT_FALSE(Json::read(doc["a"], "x", i, Json::getInt));
}

TEST(ConfigJson, VectorsAndSizes) {
    const Json::Document doc = parsed(R"([[1,2],[1,2,3],[1],[1,2,3,4],[1,"2"],[1.5,2],[4,5,6]])");
    Quorvane::Core::Vec3 v(9, 9, 9);
    EXPECT_TRUE(Json::getVec3(doc[0], v, 7));
    EXPECT_EQ(v.z, 7.0f);
    EXPECT_TRUE(Json::getVec3(doc[1], v, 7));
    EXPECT_EQ(v.z, 3.0f);
    for (int bad : {2, 3, 4}) {
        EXPECT_FALSE(Json::getVec3(doc[bad], v, 7)) << bad;
        EXPECT_EQ(v.x, 1.0f);
    }
    Quorvane::Core::Vec2 p;
    EXPECT_TRUE(Json::getVec2(doc[5], p));
    EXPECT_EQ(p.x, 1.5f);
    EXPECT_FALSE(Json::getVec2(doc[1], p));

    int32_t w = 0, h = 0;
    EXPECT_TRUE(Json::getSize(doc[6], w, h));
    EXPECT_EQ(w * 10 + h, 45);
    EXPECT_FALSE(Json::getSize(doc[5], w, h));  // 1.5 is no pixel count
    EXPECT_FALSE(Json::getSize(doc[2], w, h));
    EXPECT_EQ(w * 10 + h, 45);
}

TEST(ConfigJson, WriteIsCompactInDocumentOrder) {
    const Json::Document doc =
        parsed(" { \"z\" : [ 1 , 2.5 , \"a\\nb\" ] , \"a\" : { } , \"s\" : \"\\u0000\" } ");
    EXPECT_EQ(Json::write(doc), R"({"z":[1,2.5,"a\nb"],"a":{},"s":"\u0000"})");
    EXPECT_EQ(Json::write(Json::Value()), "null");
}

}  // namespace
