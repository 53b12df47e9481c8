// The quorvane-render command as a user runs it.
#include <gtest/gtest.h>

#include "TaskTestSupport.h"
#include "support/TestSupport.h"

using QvTest::TempDir;

namespace {

const std::string kCommand = std::string(QV_BINARY_DIR) + "/examples/quorvane-render/quorvane-render";

int countLines(const std::string& text) {
    int lines = 0;
    for (char c : text) lines += c == '\n';
    return lines;
}

TEST(RenderCli, RendersAndPrintsOneJsonLine) {
    TempDir dir("qvcli");
    std::string folder = QvTaskTest::writeSolidTemplate(dir, "green", 64, 32, 25, 5, "#00FF00");
    std::string output = dir.file("green.mp4");
    QvTest::ProgramResult run =
        QvTest::runProgram({kCommand, folder, output, "--key", "61", "--snapshot-dir", dir.file("s"),
                            "--snapshot-frames", "4", "--bitrate", "0.5"});
    EXPECT_EQ(0, run.exitCode) << run.err;
    ASSERT_EQ(1, countLines(run.out)) << run.out;
    EXPECT_EQ(0u, run.out.find("{\"status\":\"end\",\"info\":{\"duration\":\"0.200000\",\"encodeTime\":\""));
    EXPECT_NE(std::string::npos, run.out.find("\"renderTime\":\""));
    EXPECT_NE(std::string::npos, run.out.find("\"totalTime\":\""));
    // Not a terminal: plain progress lines, then the final word.
    EXPECT_NE(std::string::npos, run.err.find("\nprogress 0%\n"));
    EXPECT_NE(std::string::npos, run.err.find("\nprogress 80%\n"));
    EXPECT_NE(std::string::npos, run.err.find("\nstatus end\n"));
    EXPECT_EQ("5", QvTest::probe(output, "v:0", "nb_read_frames"));
    EXPECT_TRUE(QvTest::fileExists(dir.file("s4.png")));
}

TEST(RenderCli, FailuresExitNonZero) {
    TempDir dir("qvcli");
    QvTest::ProgramResult missing = QvTest::runProgram({kCommand, dir.file("none"), dir.file("o.mp4")});
    EXPECT_EQ(1, missing.exitCode);
    EXPECT_EQ(0u, missing.out.find("{\"status\":\"cancel\",\"info\":{\"duration\":\"0.000000\""));

    for (std::vector<std::string> args :
         {std::vector<std::string>{kCommand},
          {kCommand, "t", "o.mp4", "--bogus"},
          {kCommand, "t", "o.mp4", "--snapshot-frames", "1,x", "--snapshot-dir", "d"},
          {kCommand, "t", "o.mp4", "--watermark", "w.png,1,2,3"},
          {kCommand, "t", "o.mp4", "--snapshot-frames", "1"}}) {
        QvTest::ProgramResult usage = QvTest::runProgram(args);
        EXPECT_EQ(2, usage.exitCode) << args.back();
        EXPECT_TRUE(usage.out.empty());
        EXPECT_NE(std::string::npos, usage.err.find("usage: quorvane-render"));
    }
}

}  // namespace
