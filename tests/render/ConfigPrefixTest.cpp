// Name prefixing of templates: the prefix, generated layer identifiers,
// positional parents and the names rewritten for normal and dynamic templates.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ConfigTestSupport.h"
#include "core/Json.h"
#include "render/Config.h"

using Quorvane::Core::Config;
namespace Json = Quorvane::Core::Json;

namespace QvTest {

namespace {

const char kFolderFlag[] = "--qv-fresh-config=";
const char kDumpFlag[] = "--qv-fresh-dump=";

// When this program is started by describeInFreshProcess, it loads the folder
// during static initialisation, before any test could draw from the
// identifier counter, writes the description and ends.
bool runAsFreshLoader() {
    std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
    std::string folder, dump, arg;
    while (std::getline(cmdline, arg, '\0')) {
        if (arg.rfind(kFolderFlag, 0) == 0) folder = arg.substr(sizeof kFolderFlag - 1);
        if (arg.rfind(kDumpFlag, 0) == 0) dump = arg.substr(sizeof kDumpFlag - 1);
    }
    if (folder.empty() || dump.empty()) return false;
    {
        Config config(folder);
        writeFile(dump, describe(config));
    }
    _exit(0);
}

const bool kFreshLoader = runAsFreshLoader();

}  // namespace

std::string describeInFreshProcess(const std::string& folder) {
    (void)kFreshLoader;
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "";
    self[n] = '\0';
    TempDir out("qv-fresh");
    const std::string dump = out.file("dump.txt");
    const ProgramResult r = runProgram({self, kFolderFlag + folder, kDumpFlag + dump});
    if (r.exitCode != 0) return "";
    return readFile(dump);
}

}  // namespace QvTest

namespace {

using QvTest::TempDir;

// Loads a document through the text constructor and parses configContent.
struct Loaded {
    explicit Loaded(const std::string& json) : config(json, "/nonexistent-template") {
        Json::parse(doc, config.configContent(), Json::ByteOrderMark::Reject);
    }
    const Json::Value& at(const char* key) const { return doc[key]; }
    std::string p() const { return config.prefix(); }
    uint64_t counter() const { return std::stoull(config.prefix()); }

    Config config;
    Json::Document doc;
};

std::string str(const Json::Value& v) {
    return v.IsString() ? v.GetString() : "<not a string>";
}

TEST(ConfigPrefix, FirstTemplateOfAFreshProcessGets2) {
    TempDir dir;
    QvTest::writeTemplate(
        dir.path(), R"({"type":1,"fps":25,"main":"m","comps":[{"name":"m","size":[8,8],"layers":[{}]}]})");
    const std::string d = QvTest::describeInFreshProcess(dir.path());
    EXPECT_NE(d.find("\nprefix=2&\n"), std::string::npos) << d;
    // The prefix drew 2, so the first generated layer identifier draws 3.
    EXPECT_NE(d.find(R"("uuid":"2&layer_3")"), std::string::npos) << d;
}

TEST(ConfigPrefix, StringIdentifiersAndParentsArePrefixedWithoutNewMembers) {
    Loaded t(R"({"type":1,"main":"main","comps":[{"name":"main","layers":[
        {"uuid":"a","source":"img","parent":""},
        {"uuid":"","source":"","parent":"a"}]},
        {"name":"","layers":[]}]})");
    const std::string p = t.p();
    ASSERT_EQ(p.back(), '&');
    EXPECT_EQ(t.config.mainCompName(), p + "main");
    EXPECT_EQ(str(t.at("main")), p + "main");
    const auto& comps = t.at("comps");
    EXPECT_EQ(str(comps[0]["name"]), p + "main");
    EXPECT_EQ(str(comps[1]["name"]), p);
    const auto& l0 = comps[0]["layers"][0];
    const auto& l1 = comps[0]["layers"][1];
    EXPECT_EQ(l0.MemberCount(), 3u);
    EXPECT_EQ(l1.MemberCount(), 3u);
    EXPECT_EQ(str(l0["uuid"]), p + "a");
    EXPECT_EQ(str(l0["source"]), p + "img");
    EXPECT_EQ(str(l0["parent"]), "");  // empty parents and sources stay empty
    EXPECT_EQ(str(l1["uuid"]), p);     // an empty identifier becomes the prefix alone
    EXPECT_EQ(str(l1["source"]), "");
    EXPECT_EQ(str(l1["parent"]), p + "a");
}

TEST(ConfigPrefix, LayersWithoutStringIdentifierGetGeneratedOnes) {
    Loaded t(R"({"type":4,"comps":[{"name":"c","layers":[
        {"source":"s"},{"uuid":17,"source":"s"},{"uuid":"x"},{"source":"t"}]}]})");
    const std::string p = t.p();
    const uint64_t c = t.counter();
    const auto& layers = t.at("comps")[0]["layers"];
    // Counters are drawn in document order right after the prefix.
    EXPECT_EQ(str(layers[0]["uuid"]), p + "layer_" + std::to_string(c + 1));
    // The generated member is appended as the last member.
    EXPECT_STREQ(layers[0].MemberBegin()[1].name.GetString(), "uuid");
    // A non-string identifier is replaced in place, so no duplicate member.
    EXPECT_EQ(layers[1].MemberCount(), 2u);
    EXPECT_EQ(str(layers[1]["uuid"]), p + "layer_" + std::to_string(c + 2));
    EXPECT_EQ(str(layers[2]["uuid"]), p + "x");
    EXPECT_EQ(str(layers[3]["uuid"]), p + "layer_" + std::to_string(c + 3));
}

TEST(ConfigPrefix, IntegerParentsBecomeIdentifiersOfThatPosition) {
    Loaded t(R"({"type":1,"comps":[{"name":"c","layers":[
        {"uuid":"a"},
        {"uuid":"b","parent":0},
        {"uuid":"c","parent":-1},
        {"uuid":"d","parent":4},
        {"parent":1},
        {"uuid":"f","parent":"b"},
        {"uuid":"g","parent":4},
        {"uuid":"h","parent":1.5},
        {"uuid":"i","parent":3000000000}]}]})");
    const std::string p = t.p();
    const auto& layers = t.at("comps")[0]["layers"];
    EXPECT_EQ(str(layers[1]["parent"]), p + "a");
    EXPECT_EQ(str(layers[2]["parent"]), "");
    EXPECT_EQ(str(layers[3]["parent"]), p + "layer_" + std::to_string(t.counter() + 1));
    EXPECT_EQ(str(layers[4]["parent"]), p + "b");
    // A string parent is prefixed once, in the first pass only.
    EXPECT_EQ(str(layers[5]["parent"]), p + "b");
    EXPECT_EQ(str(layers[6]["parent"]), str(layers[4]["uuid"]));
    // Neither a fraction nor a number beyond 32 bits is a position.
    EXPECT_TRUE(layers[7]["parent"].IsDouble());
    EXPECT_TRUE(layers[8]["parent"].IsUint());

    Loaded past(R"({"type":1,"comps":[{"name":"c","layers":[{"uuid":"a","parent":1}]}]})");
    EXPECT_EQ(str(past.at("comps")[0]["layers"][0]["parent"]), "");
}

TEST(ConfigPrefix, DynamicTemplatesRewriteTheirBuildingBlocksAndLeaveComps) {
    Loaded t(R"({"type":2,"main":"m",
        "sources":[{"name":"s1","layers":[{"uuid":"u","source":"k"}]}],
        "others":[{"name":"o1"}],
        "segments":[{"name":"g1"},{"name":"g2","layers":[{"source":"k","parent":0}]}],
        "entrance":{"name":"e"},"exit":{"name":"x"},
        "foreground":{"name":"f"},"background":{"name":"b"},
        "offsets":{"g1":[1,2],"g2":{"name":"kept"}},
        "comps":[{"name":"plain","layers":[{"uuid":"v","source":"k"}]}]})");
    const std::string p = t.p();
    EXPECT_EQ(str(t.at("main")), p + "m");
    EXPECT_EQ(str(t.at("sources")[0]["name"]), p + "s1");
    EXPECT_EQ(str(t.at("sources")[0]["layers"][0]["uuid"]), p + "u");
    EXPECT_EQ(str(t.at("sources")[0]["layers"][0]["source"]), p + "k");
    EXPECT_EQ(str(t.at("others")[0]["name"]), p + "o1");
    EXPECT_EQ(str(t.at("segments")[0]["name"]), p + "g1");
    const auto& seg = t.at("segments")[1]["layers"][0];
    EXPECT_EQ(str(seg["parent"]), str(seg["uuid"]));
    const std::pair<const char*, const char*> single[] = {
        {"entrance", "e"}, {"exit", "x"}, {"foreground", "f"}, {"background", "b"}};
    for (const auto& [key, name] : single) EXPECT_EQ(str(t.at(key)["name"]), p + name) << key;
    const auto& offsets = t.at("offsets");
    ASSERT_EQ(offsets.MemberCount(), 2u);
    EXPECT_EQ(std::string(offsets.MemberBegin()[0].name.GetString()), p + "g1");
    EXPECT_EQ(std::string(offsets.MemberBegin()[1].name.GetString()), p + "g2");
    EXPECT_EQ(str(offsets.MemberBegin()[1].value["name"]), "kept");
    // "comps" of a dynamic template is left exactly as written.
    EXPECT_EQ(Json::write(t.at("comps")), R"([{"name":"plain","layers":[{"uuid":"v","source":"k"}]}])");
}

TEST(ConfigPrefix, NormalTemplatesLeaveTheDynamicKeysAlone) {
    Loaded t(R"({"type":1,"sources":[{"name":"s"}],"entrance":{"name":"e"},"offsets":{"a":1}})");
    EXPECT_EQ(Json::write(t.doc).find(t.p()), std::string::npos);
}

TEST(ConfigPrefix, AssetKeysAndCompositionAssetNames) {
    Loaded t(R"({"type":1,"assets":[
        {"key":"k1","name":"photo.png","type":1},
        {"key":"k3","name":"intro","type":3},
        {"key":5,"name":"n","type":3.0},
        {"name":"solo","type":3},
        "junk"]})");
    const std::string p = t.p();
    const auto& assets = t.at("assets");
    EXPECT_EQ(str(assets[0]["key"]), p + "k1");
    EXPECT_EQ(str(assets[0]["name"]), "photo.png");
    EXPECT_EQ(str(assets[1]["key"]), p + "k3");
    EXPECT_EQ(str(assets[1]["name"]), p + "intro");
    EXPECT_TRUE(assets[2]["key"].IsInt());
    EXPECT_EQ(str(assets[2]["name"]), "n");  // type 3.0 is no integer
    EXPECT_EQ(str(assets[3]["name"]), p + "solo");
    // The records are built from the rewritten document.
    ASSERT_EQ(t.config.assets().size(), 5u);
    EXPECT_EQ(t.config.assets()[1]->key, p + "k3");
    EXPECT_EQ(t.config.assets()[1]->name, p + "intro");
    EXPECT_NE(t.config.assets()[1]->json.find(p + "intro"), std::string::npos);
}

TEST(ConfigPrefix, EveryLoadDrawsANewPrefixAndAnyIntegerTypeIsPrefixed) {
    Loaded a(R"({"type":3,"main":"","fps":30})");
    Loaded b(R"({"type":-7,"main":"x"})");
    EXPECT_GT(b.counter(), a.counter());
    EXPECT_EQ(str(a.at("main")), a.p());  // an empty "main" becomes the prefix alone
    EXPECT_EQ(a.config.templateType(), 3);
    EXPECT_EQ(a.config.frameRate(), 0.0f);  // type 3 reads nothing more
    EXPECT_EQ(a.config.mainCompName(), "");

    // Without an integer type nothing is prefixed.
    Loaded none(R"({"type":"1","main":"m"})");
    EXPECT_EQ(none.p(), "");
    EXPECT_EQ(none.config.configContent(), R"({"type":"1","main":"m"})");
}

}  // namespace
