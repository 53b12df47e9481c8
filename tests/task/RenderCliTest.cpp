// The quorvane-render command as a user runs it.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "TaskTestSupport.h"
#include "support/AudioGen.h"
#include "support/MediaGen.h"
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
    // The engine's lines, the child's and ffmpeg's went to the log beside the
    // output, not between the progress lines.
    std::string log = QvTest::readFile(output + ".log");
    for (const char* line : {"Start render process for output:", "Child RenderTask start", "ffmpeg command"})
        EXPECT_NE(std::string::npos, log.find(line)) << line;
    EXPECT_EQ(std::string::npos, run.err.find("Start render process")) << run.err;
}

TEST(RenderCli, FailuresExitNonZero) {
    TempDir dir("qvcli");
    QvTest::ProgramResult missing =
        QvTest::runProgram({kCommand, dir.file("none"), dir.file("o.mp4"), "--verbose"});
    EXPECT_EQ(1, missing.exitCode);
    EXPECT_EQ(0u, missing.out.find("{\"status\":\"cancel\",\"info\":{\"duration\":\"0.000000\""));
    EXPECT_NE(std::string::npos, missing.err.find("Invalid template")) << missing.err;
    EXPECT_FALSE(QvTest::fileExists(dir.file("o.mp4.log")));

    // ffmpeg cannot put H.264 into Ogg: it creates the output, then fails. A
    // failed mux leaves no file at the output path.
    std::string folder = QvTaskTest::writeSolidTemplate(dir, "ogg", 32, 32, 25, 3, "#00FF00");
    std::string ogg = dir.file("out.ogg");
    QvTest::ProgramResult mux = QvTest::runProgram({kCommand, folder, ogg, "--log", dir.file("mux.log")});
    EXPECT_EQ(1, mux.exitCode);
    EXPECT_EQ(0u, mux.out.find("{\"status\":\"fail\""));
    EXPECT_NE(std::string::npos, QvTest::readFile(dir.file("mux.log")).find("ffmpeg command exit ret"));
    EXPECT_FALSE(QvTest::fileExists(ogg));
    EXPECT_FALSE(QvTaskTest::workFolderLeft(ogg));

    for (std::vector<std::string> args :
         {std::vector<std::string>{kCommand},
          {kCommand, "t", "o.mp4", "--bogus"},
          {kCommand, "t", "o.mp4", "--snapshot-frames", "1,x", "--snapshot-dir", "d"},
          {kCommand, "t", "o.mp4", "--watermark", "w.png,1,2,3"},
          {kCommand, "t", "o.mp4", "--snapshot-frames", "1"},
          {kCommand, "t", "o.mp4", "--log", "l", "--verbose"},
          {kCommand, "t", "o.mp4", "--log", "o.mp4"}}) {
        QvTest::ProgramResult usage = QvTest::runProgram(args);
        EXPECT_EQ(2, usage.exitCode) << args.back();
        EXPECT_TRUE(usage.out.empty());
        EXPECT_NE(std::string::npos, usage.err.find("usage: quorvane-render"));
    }

    // The log is compared with the render's files by the file it names, not by
    // its text: the output however spelled or linked, and any file of the
    // template, are never appended to (the literal output above is refused
    // alike); an output inside the template keeps its default log out of it.
    std::string t = QvTaskTest::writeSolidTemplate(dir, "t", 32, 32, 25, 3, "#00FF00");
    std::string older = dir.file("o.mp4");
    QvTest::writeFile(older, "an older video");
    ASSERT_EQ(0, symlink(older.c_str(), dir.file("link.mp4").c_str()));
    const std::string config = QvTest::readFile(t + "config.json");
    // Outside the template by its path, the template's config.json by its file.
    const std::string hardLink = dir.file("config-link.log");
    ASSERT_EQ(0, link((t + "config.json").c_str(), hardLink.c_str()));
    struct LogRow {
        std::vector<std::string> args;
        int exitCode;
        std::string told;  // on standard error
    };
    const LogRow logRows[] = {
        {{kCommand, t, older, "--log", dir.path() + "/./o.mp4"}, 2, "--log must not name the output\n"},
        {{kCommand, t, older, "--log", dir.file("link.mp4")}, 2, "--log must not name the output\n"},
        {{kCommand, t, older, "--log", t + "./config.json"}, 2, "--log must not name a file inside the template"},
        {{kCommand, t, older, "--log", t + "new.log"}, 2, "--log must not name a file inside the template"},
        {{kCommand, t, older, "--log", hardLink}, 2,
         "--log must not name one of the render's inputs (it is a file of the render's inputs: " + t +
             "config.json)\n"},
        {{kCommand, t, t + "config.json"}, 1, "Invalid output path " + t + "config.json: it is a file of"},
    };
    for (const LogRow& row : logRows) {
        SCOPED_TRACE(row.args.back());
        QvTest::ProgramResult run = QvTest::runProgram(row.args);
        EXPECT_EQ(row.exitCode, run.exitCode);
        EXPECT_NE(std::string::npos, run.err.find(row.told)) << run.err;
        if (row.exitCode == 2) {
            EXPECT_TRUE(run.out.empty()) << run.out;
        } else {
            // Refused by the render as before; its log went to standard error.
            EXPECT_EQ(0u, run.out.find("{\"status\":\"cancel\"")) << run.out;
            EXPECT_NE(std::string::npos, run.err.find("quorvane-render: no log file: " + t +
                                                      "config.json.log would be a file inside the template"))
                << run.err;
        }
        EXPECT_TRUE(QvTest::readFile(older) == "an older video") << "the older output changed";
        EXPECT_TRUE(QvTest::readFile(t + "config.json") == config) << "the template's config changed";
        EXPECT_EQ(std::vector<std::string>{"config.json"}, QvTaskTest::folderEntries(t));
    }
}

// Without --verbose the engine's lines go to the log file, yet after the status
// the user reads why a render did not end with "end" (with the log's path) and
// what the engine passed over; a clean render adds nothing.
TEST(RenderCli, TellsWhyAndWhatWasIgnored) {
    TempDir dir("qvcli");
    std::string good = QvTaskTest::writeSolidTemplate(dir, "good", 32, 32, 25, 3, "#00FF00");
    std::string flat = QvTaskTest::writeSolidTemplate(dir, "flat", 0, 32, 25, 3, "#00FF00");
    std::string media = dir.file("media") + "/";
    mkdir(media.c_str(), 0755);
    mkdir((media + "assets").c_str(), 0755);
    ASSERT_TRUE(QvTest::makeImage(media + "assets/own.png", 8, 8, {255, 0, 0}));
    QvTest::writeFile(media + "assets/anim.gif", "GIF89a");
    QvTest::writeFile(media + "config.json",
                      R"({"type":1,"fps":25,"main":"main",
                          "assets":[{"key":"img","type":1,"name":"own.png","ui":{}},
                                    {"key":"gif","type":1,"name":"anim.gif"}],
                          "comps":[{"name":"main","size":[32,32],"bg":"#0000FF","duration":3,"layers":[
                            {"type":1,"uuid":"i","source":"img"}]}]})");
    std::string wav = dir.file("pluck.wav");
    ASSERT_TRUE(QvTest::writeTones(wav, {{440.0, 0.5}}));
    std::string missing = dir.file("no-such-photo.png");

    struct Row {
        const char* name;
        std::string folder;
        std::vector<std::string> options;
        const char* status;
        std::string told;  // a line on standard error after the status
    };
    // An output path that is a folder is refused before anything is drawn.
    ASSERT_EQ(0, mkdir(dir.file("folder.mp4").c_str(), 0755));
    const Row rows[] = {
        {"refused.mp4", flat, {}, "cancel",
         "\nquorvane-render: Invalid template: the main composition has no positive size\n"},
        {"folder.mp4", good, {}, "cancel",
         "\nquorvane-render: Invalid output path " + dir.file("folder.mp4") + ": it is no regular file\n"},
        {"lost.mp4", media, {"--replace", missing}, "fail",
         "replaceable file " + missing + " is missing or cannot be decoded\n"},
        // ffmpeg cannot put H.264 into Ogg: its own error lines tell why.
        {"mux.ogg", good, {}, "fail", "\nquorvane-render: Could not write header for output file"},
        {"music.mp4", good, {"--music", wav}, "end",
         "\nquorvane-render: warning: music " + wav + " is not an mp3 or aac file, skipped\n"},
        {"gif.mp4", media, {}, "end", ": unknown media type " + media + "assets/anim.gif\n"},
        {"good.mp4", good, {}, "end", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string output = dir.file(row.name);
        std::vector<std::string> args = {kCommand, row.folder, output};
        args.insert(args.end(), row.options.begin(), row.options.end());
        QvTest::ProgramResult run = QvTest::runProgram(args);
        const bool ended = std::string(row.status) == "end";
        EXPECT_EQ(ended ? 0 : 1, run.exitCode);
        ASSERT_EQ(1, countLines(run.out)) << run.out;
        EXPECT_EQ(0u, run.out.find(std::string("{\"status\":\"") + row.status + "\""));
        const std::string err = "\n" + run.err;
        size_t status = err.find(std::string("\nstatus ") + row.status + "\n");
        ASSERT_NE(std::string::npos, status) << run.err;
        std::string told = err.substr(status);
        if (row.told.empty()) {
            EXPECT_EQ(std::string::npos, told.find("quorvane-render:")) << run.err;
        } else {
            EXPECT_NE(std::string::npos, told.find(row.told)) << run.err;
        }
        const std::string logLine = "\nquorvane-render: the full log is " + output + ".log\n";
        EXPECT_EQ(!ended, told.find(logLine) != std::string::npos) << run.err;
        // The engine's own lines stayed in the log.
        EXPECT_EQ(std::string::npos, run.err.find("Child RenderTask start")) << run.err;
    }
}

// The host dies mid-render (killed, terminated, by Ctrl-C at its terminal,
// which reaches its whole process group, or because the pipe it logs into
// closed): its render child removes the raw stream, the partial output and
// its queue before it exits.
TEST(RenderCli, HostDeathMidRenderLeavesNothingBehind) {
    constexpr int kPipeCloses = 0;
    for (int signo : {SIGKILL, SIGTERM, SIGINT, kPipeCloses}) {
        TempDir dir("qvcli");
        std::string folder = QvTaskTest::writeSolidTemplate(dir, "long", 128, 128, 25, 3000, "#808080");
        std::string output = dir.file("long.mp4");
        std::vector<std::string> args = {kCommand, folder, output, "--verbose"};
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(&arg[0]);
        argv.push_back(nullptr);
        int logPipe[2];
        ASSERT_EQ(0, pipe2(logPipe, O_CLOEXEC));
        // The orphaned render child becomes ours, so that its end can be waited for.
        ASSERT_EQ(0, prctl(PR_SET_CHILD_SUBREAPER, 1));
        pid_t host = fork();
        if (host == 0) {
            setpgid(0, 0);
            if (signo == kPipeCloses) dup2(logPipe[1], STDERR_FILENO);
            execv(argv[0], argv.data());
            _exit(127);
        }
        ASSERT_GT(host, 0);
        close(logPipe[1]);
        std::vector<int> children;
        for (int i = 0; i < 3000 && children.empty(); ++i) {
            children = QvTaskTest::childProcesses(host);
            if (children.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_EQ(1u, children.size()) << signo;
        // Until the raw stream in the child's work folder has grown.
        const std::string raw =
            Quorvane::Core::RenderOutput::workFolderFor(output, children[0]) + "/long.mp4.h264";
        struct stat info;
        for (int i = 0; i < 3000 && !(stat(raw.c_str(), &info) == 0 && info.st_size > 0); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        close(logPipe[0]);
        if (signo != kPipeCloses) kill(signo == SIGINT ? -host : host, signo);
        waitpid(host, nullptr, 0);
        int status = 0;
        EXPECT_EQ(children[0], waitpid(children[0], &status, 0));
        prctl(PR_SET_CHILD_SUBREAPER, 0);
        EXPECT_FALSE(QvTest::fileExists(output)) << signo;
        EXPECT_FALSE(QvTaskTest::workFolderLeft(output)) << signo;
        EXPECT_FALSE(QvTaskTest::queueUsedBy(children[0])) << signo;
        EXPECT_FALSE(QvTaskTest::queueUsedBy(host)) << signo;
    }
}

}  // namespace
