// The final mux: the command text and argument vector for each music setting
// (checked with a recording stand-in for ffmpeg), and real muxes.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cmath>
#include <cstdlib>

#include "core/Subprocess.h"
#include "media/NVMediaWriter.h"
#include "render/Config.h"
#include "support/AudioGen.h"
#include "support/TestSupport.h"
#include "task/RenderChild.h"

using namespace Quorvane::Core;

namespace {

// Reads back the NUL-separated argument list the stand-in recorded.
std::vector<std::string> readArgs(const std::string& path) {
    std::vector<std::string> args;
    std::string data = QvTest::readFile(path), cur;
    for (char c : data) {
        if (c == '\0') {
            args.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    return args;
}

// Puts a stand-in "ffmpeg" first on PATH for the life of the object: it records
// its arguments and exits with QV_STANDIN_EXIT.
class StandIn {
public:
    StandIn() : mOldPath(getenv("PATH") ? getenv("PATH") : "") {
        std::string script = mDir.file("ffmpeg");
        QvTest::writeFile(script,
                          "#!/bin/sh\n"
                          ": > \"$QV_STANDIN_RECORD\"\n"
                          "for a in \"$@\"; do printf '%s\\0' \"$a\" >> \"$QV_STANDIN_RECORD\"; done\n"
                          "exit ${QV_STANDIN_EXIT:-0}\n");
        chmod(script.c_str(), 0755);
        setenv("PATH", (mDir.path() + ":" + mOldPath).c_str(), 1);
        setenv("QV_STANDIN_RECORD", record().c_str(), 1);
        setenv("QV_STANDIN_EXIT", "0", 1);
    }
    ~StandIn() {
        setenv("PATH", mOldPath.c_str(), 1);
        unsetenv("QV_STANDIN_RECORD");
        unsetenv("QV_STANDIN_EXIT");
    }
    std::string record() const { return mDir.file("args"); }
    std::vector<std::string> args() const { return readArgs(record()); }
    void exitWith(int code) { setenv("QV_STANDIN_EXIT", std::to_string(code).c_str(), 1); }

private:
    QvTest::TempDir mDir{"qvstandin"};
    std::string mOldPath;
};

struct MuxRun {
    int status = 0;
    std::string log;
};

MuxRun mux(NVMediaWriter& writer, Config& config) {
    testing::internal::CaptureStderr();
    MuxRun r;
    r.status = writer.muxFile(&config);
    r.log = testing::internal::GetCapturedStderr();
    return r;
}

// The logged command text.
std::string loggedCommand(const std::string& log) {
    const std::string tag = "ffmpeg command : ";
    size_t at = log.find(tag);
    if (at == std::string::npos) return "<none>";
    size_t end = log.find('\n', at);
    return log.substr(at + tag.size(), end - at - tag.size());
}

const std::string kMeta = " -map_metadata -1 -metadata artist=\"RU davode\" ";

std::vector<std::string> joinArgs(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

}  // namespace

TEST(MuxSubprocess, ArgumentsReachTheProgramVerbatim) {
    StandIn standIn;
    QvTest::TempDir dir;
    std::string marker = dir.file("pwned");
    std::vector<std::string> argv = {"ffmpeg",
                                     "a b",
                                     "it's \"quoted\"",
                                     "x; touch " + marker,
                                     "$(touch " + marker + ")",
                                     "-leading",
                                     "`touch " + marker + "`",
                                     ""};
    EXPECT_EQ(Subprocess::run(argv), 0);
    EXPECT_EQ(standIn.args(), std::vector<std::string>(argv.begin() + 1, argv.end()));
    EXPECT_FALSE(QvTest::fileExists(marker));

    standIn.exitWith(3);
    int status = Subprocess::run({"ffmpeg"});
    EXPECT_NE(status, 0);
    EXPECT_EQ(Subprocess::exitCode(status), 3);
    EXPECT_EQ(Subprocess::run({"qv-no-such-program-anywhere"}), -1);
    EXPECT_EQ(Subprocess::exitCode(-1), -1);
    EXPECT_EQ(Subprocess::run({}), -1);
    // Standard input is empty: a program reading it ends at once.
    EXPECT_EQ(Subprocess::exitCode(Subprocess::run({"sh", "-c", "read x && exit 5 || exit 0"})), 0);
    // A program past its time limit is killed; one within it is not.
    bool timedOut = false;
    status = Subprocess::run({"sh", "-c", "exec sleep 60"}, std::chrono::milliseconds(200), &timedOut);
    EXPECT_TRUE(timedOut);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    status = Subprocess::run({"sh", "-c", "exit 4"}, std::chrono::milliseconds(60000), &timedOut);
    EXPECT_FALSE(timedOut);
    EXPECT_EQ(Subprocess::exitCode(status), 4);
    // A heartbeat runs while the program does, with or without a limit, and
    // does not keep a program past its limit alive.
    int beats = 0;
    const Subprocess::Heartbeat heartbeat{std::chrono::milliseconds(20), [&beats] { ++beats; }};
    status = Subprocess::run({"sh", "-c", "sleep 0.3; exit 6"}, std::chrono::milliseconds::max(), &timedOut,
                             heartbeat);
    EXPECT_FALSE(timedOut);
    EXPECT_EQ(Subprocess::exitCode(status), 6);
    EXPECT_GT(beats, 0);
    beats = 0;
    status =
        Subprocess::run({"sh", "-c", "exec sleep 60"}, std::chrono::milliseconds(300), &timedOut, heartbeat);
    EXPECT_TRUE(timedOut);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_GT(beats, 0);

    // The mux's limit for a video of that length: a minute at least, then as
    // long as the video, with no cap a real video could reach.
    const struct {
        double seconds;
        long long limitMs;
    } limits[] = {{std::nan(""), 60000}, {-HUGE_VAL, 60000},  {-5, 60000},
                  {0, 60000},            {59.9, 60000},       {61.5, 61500},
                  {8 * 3600, 28800000},  {1e300, 1000000000000000}, {HUGE_VAL, 1000000000000000}};
    for (const auto& row : limits) {
        EXPECT_EQ(row.limitMs, MuxTimeLimit(row.seconds).count()) << row.seconds;
    }
}

// A caller killed while its program runs takes the program with it.
TEST(MuxSubprocess, ProgramDiesWithItsCaller) {
    QvTest::TempDir dir;
    std::string pidFile = dir.file("pid");
    pid_t caller = fork();
    ASSERT_GE(caller, 0);
    if (caller == 0) {
        Subprocess::run(
            {"sh", "-c", "echo $$ > \"$0.tmp\" && mv \"$0.tmp\" \"$0\" && exec sleep 60", pidFile});
        _exit(0);
    }
    int program = 0;
    for (int i = 0; i < 1000 && program == 0; ++i) {
        program = atoi(QvTest::readFile(pidFile).c_str());
        if (program == 0) usleep(10000);
    }
    kill(caller, SIGKILL);
    waitpid(caller, nullptr, 0);
    ASSERT_GT(program, 0);
    // Gone, or a zombie waiting for whoever adopted it.
    auto ended = [&] {
        std::string stat = QvTest::readFile("/proc/" + std::to_string(program) + "/stat");
        size_t close = stat.rfind(')');
        return close == std::string::npos || stat.compare(close, 3, ") Z") == 0;
    };
    bool gone = false;
    for (int i = 0; i < 500 && !gone; ++i) {
        gone = ended();
        if (!gone) usleep(10000);
    }
    if (!gone) kill(program, SIGKILL);
    EXPECT_TRUE(gone);
}

TEST(MuxCommand, TextsAndArgumentsForEachMusicSetting) {
    QvTest::TempDir dir;
    std::string out = dir.file("out.mp4");
    std::string music = dir.file("music.mp3"), longMusic = dir.file("long.mp3"),
                nearMusic = dir.file("near.mp3");
    ASSERT_TRUE(QvTest::writeTones(music, {{440, 4.0}}));
    ASSERT_TRUE(QvTest::writeTones(longMusic, {{440, 20.0}}));
    ASSERT_TRUE(QvTest::writeTones(nearMusic, {{440, 12.7}}));
    StandIn standIn;  // after the real ffmpeg has made the music
    const std::vector<std::string> video = {"-i", out + ".h264", "-vcodec", "copy"};
    const std::vector<std::string> meta = {"-map_metadata", "-1", "-metadata", "artist=RU davode", out};

    struct Case {
        const char* name;
        std::string musicFile;
        bool loop;
        float volume;
        int fadeout;
        unsigned long frames;  // at 25 fps
        std::string text;
        std::vector<std::string> argv;
    } cases[] = {
        {"no music", "", false, 1.0f, 0, 250, "ffmpeg -y  -i " + out + ".h264 -vcodec copy " + kMeta + out,
         joinArgs({{"-y"}, video, meta})},
        {"looped music, volume 0.5, fade 3, 10 s", music, true, 0.5f, 3, 250,
         "ffmpeg -y  -stream_loop -1  -i " + music +
             " -filter_complex \"[0:a]volume=0.500000[a1];[a1]afade=t=out:st=8:d=3\" -i " + out +
             ".h264 -vcodec copy  -acodec aac -shortest " + kMeta + out,
         joinArgs({{"-y", "-stream_loop", "-1", "-i", music, "-filter_complex",
                    "[0:a]volume=0.500000[a1];[a1]afade=t=out:st=8:d=3"},
                   video,
                   {"-acodec", "aac", "-shortest"},
                   meta})},
        {"loop without music", "", true, 1.0f, 0, 250,
         "ffmpeg -y  -i " + out + ".h264 -vcodec copy  -shortest " + kMeta + out,
         joinArgs({{"-y"}, video, {"-shortest"}, meta})},
        {"music longer than the video", longMusic, false, 1.0f, 2, 250,
         "ffmpeg -y  -i " + longMusic +
             " -filter_complex \"[0:a]volume=1.000000[a1];[a1]afade=t=out:st=9:d=2\" -i " + out +
             ".h264 -vcodec copy  -acodec aac -shortest " + kMeta + out,
         joinArgs(
             {{"-y", "-i", longMusic, "-filter_complex", "[0:a]volume=1.000000[a1];[a1]afade=t=out:st=9:d=2"},
              video,
              {"-acodec", "aac", "-shortest"},
              meta})},
        {"music shorter than the video", music, false, 1.0f, 2, 250,
         "ffmpeg -y  -i " + music +
             " -filter_complex \"[0:a]volume=1.000000[a1];[a1]afade=t=out:st=9:d=2\" -i " + out +
             ".h264 -vcodec copy  -acodec aac" + kMeta + out,
         joinArgs(
             {{"-y", "-i", music, "-filter_complex", "[0:a]volume=1.000000[a1];[a1]afade=t=out:st=9:d=2"},
              video,
              {"-acodec", "aac"},
              meta})},
        // 12.7 s truncates to 12, which is not above 12.0: no -shortest.
        {"music 12.7 s against 12 s", nearMusic, false, 1.0f, 2, 300,
         "ffmpeg -y  -i " + nearMusic +
             " -filter_complex \"[0:a]volume=1.000000[a1];[a1]afade=t=out:st=11:d=2\" -i " + out +
             ".h264 -vcodec copy  -acodec aac" + kMeta + out,
         joinArgs({{"-y", "-i", nearMusic, "-filter_complex",
                    "[0:a]volume=1.000000[a1];[a1]afade=t=out:st=11:d=2"},
                   video,
                   {"-acodec", "aac"},
                   meta})},
        {"fade-out 0", music, false, 1.0f, 0, 250,
         "ffmpeg -y  -i " + music +
             " -filter_complex \"[0:a]volume=1.000000[a1];[a1]afade=t=out:st=11:d=0\" -i " + out +
             ".h264 -vcodec copy  -acodec aac" + kMeta + out,
         joinArgs(
             {{"-y", "-i", music, "-filter_complex", "[0:a]volume=1.000000[a1];[a1]afade=t=out:st=11:d=0"},
              video,
              {"-acodec", "aac"},
              meta})},
        // A 5 s fade over 2.5 s would start at -1: it starts at 0.
        {"fade longer than the video", music, false, 1.0f, 5, 62,
         "ffmpeg -y  -i " + music +
             " -filter_complex \"[0:a]volume=1.000000[a1];[a1]afade=t=out:st=0:d=5\" -i " + out +
             ".h264 -vcodec copy  -acodec aac -shortest " + kMeta + out,
         joinArgs(
             {{"-y", "-i", music, "-filter_complex", "[0:a]volume=1.000000[a1];[a1]afade=t=out:st=0:d=5"},
              video,
              {"-acodec", "aac", "-shortest"},
              meta})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(QvTest::writeFile(out + ".h264", "raw"));
        ASSERT_TRUE(QvTest::writeFile(out + ".aac", "aac"));
        Config config(320, 240, 25.0f, c.frames, "main");
        config.setFinalDuration(c.frames);
        config.setMusicFile(c.musicFile);
        config.setMusicLoop(c.loop);
        config.setMusicVolume(c.volume);
        config.setMusicFadeoutDuration(c.fadeout);
        NVMediaWriter writer(out.c_str());
        MuxRun r = mux(writer, config);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(loggedCommand(r.log), c.text) << r.log;
        EXPECT_NE(r.log.find("ffmpeg command exit ret : 0"), std::string::npos);
        EXPECT_EQ(standIn.args(), c.argv);
        EXPECT_FALSE(QvTest::fileExists(out + ".h264"));
        EXPECT_FALSE(QvTest::fileExists(out + ".aac"));
    }
}

TEST(MuxCommand, MixedAudioFailuresAndAwkwardPaths) {
    QvTest::TempDir dir;
    std::string mixed = dir.file("mixed.mp4");
    ASSERT_TRUE(QvTest::writeTones(mixed + ".aac", {{440, 3.0}}));
    StandIn standIn;
    {
        // The mixed audio tracks are the music: the ".aac" side file goes in,
        // and is removed afterwards with the raw video.
        std::string out = mixed;
        ASSERT_TRUE(QvTest::writeFile(out + ".h264", "raw"));
        Config config(320, 240, 25.0f, 100, "main");
        config.setFinalDuration(100);
        config.setMusicFile(out + ".aac");
        NVMediaWriter writer(out.c_str());
        MuxRun r = mux(writer, config);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(loggedCommand(r.log),
                  "ffmpeg -y  -i " + out +
                      ".aac -filter_complex \"[0:a]volume=1.000000[a1];[a1]afade=t=out:st=5:d=0\" -i " + out +
                      ".h264 -vcodec copy  -acodec aac" + kMeta + out);
        EXPECT_FALSE(QvTest::fileExists(out + ".aac"));
        EXPECT_FALSE(QvTest::fileExists(out + ".h264"));
    }
    {
        // ffmpeg failing fails the mux; the side files go all the same.
        std::string out = dir.file("fail.mp4");
        ASSERT_TRUE(QvTest::writeFile(out + ".h264", "raw"));
        standIn.exitWith(1);
        Config config(320, 240, 25.0f, 100, "main");
        NVMediaWriter writer(out.c_str());
        MuxRun r = mux(writer, config);
        EXPECT_NE(r.status, 0);
        EXPECT_EQ(Subprocess::exitCode(r.status), 1);
        EXPECT_NE(r.log.find("ffmpeg command exit ret : " + std::to_string(r.status)), std::string::npos);
        EXPECT_FALSE(QvTest::fileExists(out + ".h264"));
        standIn.exitWith(0);
    }
    {
        // A music file that cannot be probed is no crash; ffmpeg gets to say
        // what is wrong with it.
        std::string out = dir.file("probe.mp4");
        Config config(320, 240, 25.0f, 100, "main");
        config.setFinalDuration(100);
        config.setMusicFile(dir.file("missing.mp3"));
        NVMediaWriter writer(out.c_str());
        MuxRun r = mux(writer, config);
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.log.find("music probe failed"), std::string::npos);
        EXPECT_EQ(loggedCommand(r.log).find(" -shortest"), std::string::npos);
    }
    {
        // Blanks, quotes, ';' and "$()" in the folder, a leading '-' in the name:
        // the logged text keeps the path as it is, the arguments carry it whole.
        std::string odd = dir.path() + "/my clips; 'it\"s' $(touch pwned)";
        ASSERT_EQ(mkdir(odd.c_str(), 0755), 0);
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        ASSERT_EQ(chdir(odd.c_str()), 0);
        Config config(320, 240, 25.0f, 100, "main");
        NVMediaWriter writer("-clip.mp4");
        MuxRun r = mux(writer, config);
        EXPECT_EQ(chdir(cwd), 0);
        EXPECT_EQ(loggedCommand(r.log), "ffmpeg -y  -i -clip.mp4.h264 -vcodec copy " + kMeta + "-clip.mp4");
        EXPECT_EQ(standIn.args(),
                  joinArgs({{"-y", "-i", "file:-clip.mp4.h264", "-vcodec", "copy"},
                            {"-map_metadata", "-1", "-metadata", "artist=RU davode", "file:-clip.mp4"}}));
        EXPECT_FALSE(QvTest::fileExists(odd + "/pwned"));
        EXPECT_FALSE(QvTest::fileExists(std::string(cwd) + "/pwned"));
    }
}

TEST(MuxReal, JoinsRawVideoAndMusic) {
    QvTest::TempDir dir;
    std::string odd = dir.path() + "/out put; 'q\" $(touch pwned)";
    ASSERT_EQ(mkdir(odd.c_str(), 0755), 0);
    std::string out = odd + "/video.mp4";
    std::string music = dir.file("music.aac");
    ASSERT_TRUE(QvTest::writeTones(music, {{440, 1.0}}));
    // 60 frames at 30 fps as a raw Annex B stream.
    ASSERT_TRUE(QvTest::ffmpeg({"-f", "lavfi", "-i", "testsrc=s=160x120:r=30:d=2", "-c:v", "libx264", "-bf",
                                "0", "-preset", "ultrafast", "-f", "h264", out + ".h264"}));

    Config config(160, 120, 30.0f, 60, "main");
    config.setFinalDuration(60);
    config.setMusicFile(music);
    config.setMusicLoop(true);
    config.setMusicVolume(0.5f);
    config.setMusicFadeoutDuration(1);
    NVMediaWriter writer(out.c_str());
    MuxRun r = mux(writer, config);
    ASSERT_EQ(r.status, 0) << r.log;
    EXPECT_EQ(QvTest::probe(out, "v:0", "nb_read_frames"), "60");
    EXPECT_EQ(QvTest::probe(out, "v:0", "r_frame_rate"), "30/1");
    EXPECT_EQ(QvTest::probe(out, "a:0", "codec_name"), "aac");
    QvTest::ProgramResult tags = QvTest::runProgram(
        {"ffprobe", "-v", "error", "-show_entries", "format_tags=artist", "-of", "default=nw=1:nk=1", out});
    EXPECT_EQ(tags.out, "RU davode\n");
    // The looped one-second music fills the two seconds of video.
    EXPECT_NEAR(QvTest::probeDuration(out), 2.0, 0.1);
    EXPECT_FALSE(QvTest::fileExists(out + ".h264"));
    EXPECT_FALSE(QvTest::fileExists(dir.path() + "/pwned"));

    // A fade longer than the video still muxes.
    std::string shortOut = dir.file("short.mp4");
    ASSERT_TRUE(QvTest::ffmpeg({"-f", "lavfi", "-i", "testsrc=s=160x120:r=10:d=2.5", "-c:v", "libx264", "-bf",
                                "0", "-preset", "ultrafast", "-f", "h264", shortOut + ".h264"}));
    Config fade(160, 120, 10.0f, 25, "main");
    fade.setFinalDuration(25);
    fade.setMusicFile(music);
    fade.setMusicFadeoutDuration(5);
    NVMediaWriter shortWriter(shortOut.c_str());
    r = mux(shortWriter, fade);
    EXPECT_EQ(r.status, 0) << r.log;
    EXPECT_EQ(QvTest::probe(shortOut, "v:0", "nb_read_frames"), "25");
}

// Below 1000 fps ffmpeg gives every frame its duration, and the mux gives the
// plain command's audio packets (where -shortest cuts the music depends on
// the video's packet durations). At 1000 fps the mux gives the durations
// itself and keeps the last frame. Every frame of the raw stream is kept.
TEST(MuxReal, KeepsEveryFrameAndThePlainCommandsAudio) {
    QvTest::TempDir dir;
    std::string music = dir.file("music.aac");
    ASSERT_TRUE(QvTest::writeTones(music, {{440, 3.0}}));
    auto md5 = [](const std::string& file, const std::vector<std::string>& how) {
        std::vector<std::string> argv = {"ffmpeg", "-v", "error", "-i", file};
        argv.insert(argv.end(), how.begin(), how.end());
        argv.insert(argv.end(), {"-f", "md5", "-"});
        return QvTest::runProgram(argv).out;
    };
    const std::vector<std::string> audio = {"-map", "0:a", "-c", "copy"};
    const std::vector<std::string> video = {"-map", "0:v", "-vsync", "passthrough", "-f", "rawvideo", "-pix_fmt", "yuv420p"};
    struct Row {
        int fps, frames;
        std::string music;
        const char* duration;
    } rows[] = {{25, 12, music, "0.480000"}, {1000, 12, music, "0.012000"}, {1000, 1, "", "0.001000"},
                {999, 12, "", "0.012012"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.fps) + " fps, " + std::to_string(row.frames) + " frames");
        const std::string out = dir.file("out.mp4"), plain = dir.file("plain.mp4");
        NVMediaWriter writer(out.c_str());
        writer.setMux(true);
        ASSERT_TRUE(writer.addVideoInput(64, 48, row.fps));
        ASSERT_EQ(writer.close(), 0);
        const std::string rate = std::to_string(row.fps);
        ASSERT_TRUE(QvTest::ffmpeg({"-f", "lavfi", "-i", "testsrc=s=64x48:r=" + rate, "-frames:v",
                                    std::to_string(row.frames), "-c:v", "libx264", "-bf", "0", "-preset",
                                    "ultrafast", "-f", "h264", out + ".h264"}));
        ASSERT_TRUE(QvTest::ffmpeg({"-i", out + ".h264", "-c", "copy", "-f", "h264", dir.file("raw.h264")}));
        Config config(64, 48, static_cast<float>(row.fps), row.frames, "main");
        config.setFinalDuration(row.frames);
        // The plain command: "ffmpeg -y", the music and its filter, the raw
        // video copied, the music encoded, -shortest as the mux decides.
        std::vector<std::string> argv = {"ffmpeg", "-v", "error", "-y"};
        if (!row.music.empty()) {
            config.setMusicFile(row.music);
            argv.insert(argv.end(), {"-i", row.music, "-filter_complex",
                                     "[0:a]volume=1.000000[a1];[a1]afade=t=out:st=1:d=0"});
        }
        argv.insert(argv.end(), {"-i", dir.file("raw.h264"), "-vcodec", "copy"});
        if (!row.music.empty()) argv.insert(argv.end(), {"-acodec", "aac", "-shortest"});
        argv.insert(argv.end(), {"-map_metadata", "-1", "-metadata", "artist=RU davode", plain});
        ASSERT_EQ(QvTest::runProgram(argv).exitCode, 0);

        MuxRun r = mux(writer, config);
        ASSERT_EQ(r.status, 0) << r.log;
        EXPECT_EQ(NVMediaWriter::muxSetsFrameDurations(AVRational{row.fps, 1}),
                  loggedCommand(r.log).find("setts") != std::string::npos);
        EXPECT_EQ(QvTest::probe(out, "v:0", "nb_read_frames"), std::to_string(row.frames));
        EXPECT_NEAR(atof(QvTest::probe(out, "v:0", "duration").c_str()), atof(row.duration), 0.0011);
        EXPECT_EQ(md5(out, video), md5(dir.file("raw.h264"), video));
        EXPECT_EQ(md5(out, audio), md5(plain, audio));
        if (!row.music.empty()) EXPECT_NE(md5(out, audio), "");
    }
}
