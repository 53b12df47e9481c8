// The image mode of the quorvane-render command as a user runs it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "ImageTestSupport.h"
#include "support/MediaGen.h"
#include "support/TestSupport.h"

using QvTest::TempDir;

namespace {

const std::string kCommand = std::string(QV_BINARY_DIR) + "/examples/quorvane-render/quorvane-render";

TEST(ImageCli, UsageErrorsAndRefusals) {
    TempDir dir("qvimgcli");
    for (std::vector<std::string> args : {std::vector<std::string>{kCommand, "--images"},
                                          {kCommand, "--images", dir.path(), "--filter"},
                                          {kCommand, "--images", dir.path(), "--bogus", "a.png"}}) {
        QvTest::ProgramResult usage = QvTest::runProgram(args);
        EXPECT_EQ(2, usage.exitCode) << args.back();
        EXPECT_TRUE(usage.out.empty());
        EXPECT_NE(std::string::npos, usage.err.find("usage: quorvane-render --images OUT_DIR")) << usage.err;
    }
    std::string image = dir.file("a.png");
    ASSERT_TRUE(QvTest::makeImage(image, 4, 4, {1, 2, 3}));
    // No filter, no image, no output folder: the render itself fails.
    for (std::vector<std::string> args : {std::vector<std::string>{kCommand, "--images", dir.path(), image},
                                          {kCommand, "--images", dir.path(), "--filter", dir.file("f")},
                                          {kCommand, "--images", "", "--filter", dir.file("f"), image}}) {
        QvTest::ProgramResult run = QvTest::runProgram(args);
        EXPECT_EQ(1, run.exitCode);
        EXPECT_EQ("{\"status\":\"fail\"}\n", run.out);
    }
}

TEST(ImageCli, RendersIntoTheFolder) {
    QV_REQUIRE_SCENE();
    TempDir dir("qvimgcli");
    std::string out = dir.file("out");
    mkdir(out.c_str(), 0755);
    std::string filter = QvImageTest::writeTintFilter(dir, "tint", 8, 8, "#00FF00", 1.0f, 0, 0, 8, 8);
    std::string png = dir.file("p.png");
    std::string tga = dir.file("t.tga");
    ASSERT_TRUE(QvTest::makeImage(png, 6, 3, {0, 0, 0}));
    ASSERT_TRUE(QvTest::makeImage(tga, 3, 6, {0, 0, 0}));
    QvTest::ProgramResult run = QvTest::runProgram({kCommand, "--images", out, "--filter", filter, png, tga});
    EXPECT_EQ(0, run.exitCode) << run.err;
    EXPECT_EQ("{\"status\":\"end\"}\n", run.out);
    QvImageTest::Image p = QvImageTest::decode(out + "/p.png");
    QvImageTest::Image t = QvImageTest::decode(out + "/t.tga");
    ASSERT_EQ(6, p.width);
    ASSERT_EQ(6, t.height);
    EXPECT_TRUE(QvImageTest::near(p.at(2, 1), {0, 255, 0, 255}, 1)) << QvImageTest::describe(p.at(2, 1));
    EXPECT_TRUE(QvImageTest::near(t.at(1, 2), {0, 255, 0, 255}, 1)) << QvImageTest::describe(t.at(1, 2));
}

}  // namespace
