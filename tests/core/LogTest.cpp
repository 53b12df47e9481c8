// The log line format, its message cap, and whole lines under concurrent writers.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/Log.h"
#include "support/TestSupport.h"

using namespace Quorvane::Core;

namespace {

const std::regex kLinePrefix(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}:  \[(\d+)\] )");

// Runs fn with standard error sent to a file and returns what was written.
std::string captureStderr(const std::function<void()>& fn) {
    QvTest::TempDir dir("logtest");
    std::string path = dir.file("stderr.txt");
    QvTest::StderrRedirect capture(path);
    fn();
    return capture.stop();
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// The message part of a line, or "<bad prefix>".
std::string messageOf(const std::string& line) {
    std::smatch m;
    if (!std::regex_search(line, m, kLinePrefix)) return "<bad prefix>";
    EXPECT_EQ(std::stoi(m[1].str()), getpid());
    return line.substr(m.length(0));
}

TEST(LogTest, VersionText) {
    EXPECT_STREQ(QVVersion(), "1.2.0.beta");
    QVAbort();  // has nothing to do, and must not end the process
}

TEST(LogTest, TimeLabelFormat) {
    EXPECT_TRUE(std::regex_match(GetTimeLabel(), std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})")))
        << GetTimeLabel();
}

TEST(LogTest, LineFormatAndMessage) {
    std::string out = captureStderr([] { QVPrint("frame %d of %s: %.2f", 12, "main", 0.5); });
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.back(), '\n');
    std::vector<std::string> ls = lines(out);
    ASSERT_EQ(ls.size(), 1u);
    EXPECT_EQ(messageOf(ls[0]), "frame 12 of main: 0.50");
}

TEST(LogTest, LongMessageIsCutAt1023Characters) {
    std::string huge(5000, 'x');
    std::string out = captureStderr([&] { QVPrint("%s", huge.c_str()); });
    std::vector<std::string> ls = lines(out);
    ASSERT_EQ(ls.size(), 1u);
    EXPECT_EQ(messageOf(ls[0]), std::string(1023, 'x'));
}

TEST(LogTest, ConcurrentLinesStayWhole) {
    constexpr int kThreads = 4, kLines = 200;
    std::string out = captureStderr([] {
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([t] {
                for (int i = 0; i < kLines; ++i)
                    QVPrint("thread %d line %d %s", t, i, std::string(200, 'a' + t).c_str());
            });
        }
        for (auto& th : threads) th.join();
    });
    std::set<std::string> expected;
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kLines; ++i) {
            expected.insert("thread " + std::to_string(t) + " line " + std::to_string(i) + " " +
                            std::string(200, static_cast<char>('a' + t)));
        }
    }
    std::set<std::string> seen;
    for (const std::string& line : lines(out)) seen.insert(messageOf(line));
    EXPECT_EQ(seen, expected);
}

TEST(LogTest, GlErrorNameWithoutPendingError) {
    // Without a current context GL reports no error; the line is still written.
    std::string out = captureStderr([] { QVGetGlError("after draw"); });
    std::vector<std::string> ls = lines(out);
    ASSERT_EQ(ls.size(), 1u);
    EXPECT_EQ(messageOf(ls[0]), "after draw-->GL_NO_ERROR");
}

}  // namespace
