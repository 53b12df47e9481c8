// Broken and hostile "config.json" files: every one loads as an invalid (or at
// least consistent) configuration, never crashes and never trips a rapidjson
// assertion (armed in the Debug sanitizer build).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ConfigTestSupport.h"
#include "core/Json.h"
#include "render/Config.h"

using Quorvane::Core::Config;
using QvTest::TempDir;
namespace Json = Quorvane::Core::Json;

namespace {

const char kValid[] =
    R"({"type":1,"version":"1.0.0","fps":30,"main":"main","settings":{"attr":1},)"
    R"("assets":[{"key":"a","name":"a.png","type":1,"size":[64,64],"num":1,"fps":25,"ui":{},"preset":["p"]},)"
    R"({"key":"c","name":"inner","type":3}],)"
    R"("comps":[{"name":"inner","size":[64,64],"duration":30,"layers":[{"uuid":"x","source":"a","parent":0}]},)"
    R"({"name":"main","size":[320,240],"duration":90,"bg":"#808080","layers":[{"source":"c","parent":-1}]}]})";

// The content of a load must itself be JSON: "null" after a parse error.
void expectConsistent(const Config& c, const std::string& input) {
    Json::Document doc;
    EXPECT_TRUE(Json::parse(doc, c.configContent(), Json::ByteOrderMark::Reject)) << input;
}

TEST(ConfigMalformed, ValidReferenceLoads) {
    Config c(std::string(kValid), "/nonexistent");
    EXPECT_TRUE(c.isTemplateValid());
    EXPECT_EQ(c.mainCompWidth(), 320);
}

TEST(ConfigMalformed, EveryTruncationIsInvalid) {
    const std::string valid = kValid;
    QvTest::StderrRedirect quiet;  // the sweep's thousands of log lines
    for (size_t n = 0; n < valid.size(); ++n) {
        Config c(valid.substr(0, n), "/nonexistent");
        ASSERT_FALSE(c.isTemplateValid()) << n;
        ASSERT_EQ(c.configContent(), "null") << n;
    }
    // The same through files: plain and packed, cut at a few places.
    TempDir plain, packed;
    for (size_t n = 0; n < valid.size(); n += 37) {
        QvTest::writeTemplate(plain.path(), valid.substr(0, n));
        QvTest::writeTemplate(packed.path(), QvTest::handMadePack(valid.substr(0, n), "config.json"));
        EXPECT_FALSE(Config(plain.path()).isTemplateValid()) << n;
        EXPECT_FALSE(Config(packed.path()).isTemplateValid()) << n;
    }
    // A pack whose size field promises more bytes than it holds.
    std::string lying = QvTest::handMadePack(valid, "config.json");
    lying.resize(lying.size() / 2);
    QvTest::writeTemplate(packed.path(), lying);
    EXPECT_FALSE(Config(packed.path()).isTemplateValid());
}

// Pre-order walk that answers the n-th value of a document.
Json::Value* nth(Json::Value& v, int& n) {
    if (n-- == 0) return &v;
    if (v.IsArray()) {
        for (auto& e : v.GetArray()) {
            if (Json::Value* hit = nth(e, n)) return hit;
        }
    } else if (v.IsObject()) {
        for (auto& m : v.GetObject()) {
            if (Json::Value* hit = nth(m.value, n)) return hit;
        }
    }
    return nullptr;
}

TEST(ConfigMalformed, WrongTypesAnywhereAreSurvived) {
    const std::vector<std::string> replacements = {"null",
                                                   "true",
                                                   "0",
                                                   "-1",
                                                   "7",
                                                   "1.5",
                                                   "-1e308",
                                                   "1e308",
                                                   "2147483648",
                                                   "-2147483649",
                                                   "18446744073709551615",
                                                   "-9223372036854775808",
                                                   "\"\"",
                                                   "\"x\"",
                                                   "\"#zz\"",
                                                   "[]",
                                                   "[1]",
                                                   "[1,2,3]",
                                                   "[\"a\",\"b\"]",
                                                   "{}",
                                                   R"({"a":1})"};
    Json::Document original;
    ASSERT_TRUE(Json::parse(original, std::string(kValid), Json::ByteOrderMark::Reject));
    QvTest::StderrRedirect quiet;
    int loads = 0;
    for (int index = 0;; ++index) {
        Json::Document probe;
        probe.CopyFrom(original, probe.GetAllocator());
        int n = index;
        if (!nth(probe, n)) break;
        for (const std::string& text : replacements) {
            Json::Document doc, replacement;
            doc.CopyFrom(original, doc.GetAllocator());
            ASSERT_TRUE(Json::parse(replacement, text, Json::ByteOrderMark::Reject));
            n = index;
            nth(doc, n)->CopyFrom(replacement, doc.GetAllocator());
            const std::string input = Json::write(doc);
            Config c(input, "/nonexistent");
            expectConsistent(c, input);
            // No replacement may turn into a duration the document never held
            // (a negative or 64-bit number wrapping into the unsigned field).
            EXPECT_LE(c.duration(), 90u) << input;
            ++loads;
        }
    }
    EXPECT_GT(loads, 900);
}

TEST(ConfigMalformed, BrokenFilesLoadAsInvalid) {
    const std::vector<std::string> broken = {
        "",
        "\xEF\xBB\xBF",
        "\xEF\xBB",
        "null",
        "[]",
        "\"config\"",
        "{",
        "{}",
        "{\"type\":1}{\"type\":1}",
        "{\"type\":1,}",
        "{'type':1}",
        "{\"type\":1,\"fps\":NaN}",
        "{\"type\":1,\"fps\":Infinity}",
        std::string("{\"type\":1,\"fps\":30,\0\"main\":\"m\"}", 31),
        // "type" missing, of another type, or beyond 32 bits.
        R"({"fps":30,"main":"m","comps":[{"name":"m","size":[8,8]}]})",
        R"({"type":"1","fps":30,"main":"m","comps":[{"name":"m","size":[8,8]}]})",
        R"({"type":1.0,"fps":30,"main":"m","comps":[{"name":"m","size":[8,8]}]})",
        R"({"type":4294967297,"fps":30,"main":"m","comps":[{"name":"m","size":[8,8]}]})",
        R"({"type":1e20,"fps":30,"main":"m","comps":[{"name":"m","size":[8,8]}]})",
        // "comps" or the main composition of the wrong shape.
        R"({"type":1,"fps":30,"main":"m","comps":{"name":"m","size":[8,8]}})",
        R"({"type":1,"fps":30,"main":"m","comps":"m"})",
        R"({"type":1,"fps":30,"main":"m","comps":[["m",[8,8]]]})",
        R"({"type":1,"fps":30,"main":7,"comps":[{"name":7,"size":[8,8]}]})",
        R"({"type":1,"fps":30,"main":"m","comps":[{"name":"m","size":[8]}]})",
        R"({"type":1,"fps":30,"main":"m","comps":[{"name":"m","size":[]}]})",
        R"({"type":1,"fps":30,"main":"m","comps":[{"name":"m","size":8}]})",
        R"({"type":1,"fps":30,"main":"m","comps":[{"name":"m","size":["8","8"]}]})",
        R"({"type":1,"fps":30,"main":"m","comps":[{"name":"m","size":[-8,8]}]})",
        R"({"type":2,"fps":30,"size":[720]})",
        R"({"type":2,"fps":30,"size":{"w":720,"h":1280}})",
        // Huge numbers.
        R"({"type":1,"fps":1e400,"main":"m","comps":[{"name":"m","size":[8,8]}]})",
        R"({"type":1,"fps":1e39,"main":"m","comps":[{"name":"m","size":[8,8]}]})",
        R"({"type":1,"fps":30,"main":"m","comps":[{"name":"m","size":[1e10,8]}]})",
        R"({"type":1,"fps":30,"main":"m","comps":[{"name":"m","size":[99999999999,8]}]})",
        R"({"type":1,"fps":30,"main":"m","comps":[{"name":"m","size":[8,18446744073709551616]}]})",
        R"({"type":2,"fps":30,"size":[4294967296,4294967296]})",
        R"({"type":1,"fps":0,"main":"m","comps":[{"name":"m","size":[8,8]}]})",
        // Nesting far deeper than any template, which would exhaust the stack
        // of a recursive parser or writer.
        std::string(200000, '['),
        "{\"type\":1,\"fps\":30,\"x\":" + std::string(100000, '[') + std::string(100000, ']') + "}",
    };
    QvTest::StderrRedirect quiet;
    for (const std::string& text : broken) {
        Config c(text, "/nonexistent");
        EXPECT_FALSE(c.isTemplateValid()) << text.substr(0, 120);
        expectConsistent(c, text.substr(0, 120));
    }
}

TEST(ConfigMalformed, OddButLegalValuesKeepTheirMeaning) {
    // A huge duration is not an integer of 32 bits and is passed over; an
    // embedded zero byte in a string is kept; nesting of a few hundred levels
    // in an unread member is accepted.
    const std::string deep = std::string(300, '[') + std::string(300, ']');
    Config c(R"({"type":1,"fps":30,"main":"m\u0000n","x":)" + deep +
                 R"(,"comps":[{"name":"m\u0000n","size":[8,8],"duration":1e30}]})",
             "/nonexistent");
    EXPECT_TRUE(c.isTemplateValid());
    EXPECT_EQ(c.duration(), 0u);
    EXPECT_EQ(c.mainCompName(), c.prefix() + std::string("m\0n", 3));
}

}  // namespace
