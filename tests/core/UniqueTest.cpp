// Identifier texts and the shared counter; path queries.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <mutex>
#include <regex>
#include <set>
#include <thread>
#include <vector>

#include "core/FileCodec.h"
#include "core/FileManager.h"
#include "core/Unique.h"
#include "support/TestSupport.h"

using namespace Quorvane::Core;

namespace {

const std::regex kIdPattern(R"(^([0-9A-Za-z]{15})---(\d+)---(\d+)$)");

struct ParsedId {
    std::string random;
    long seconds;
    unsigned long long counter;
};

ParsedId parse(const std::string& id) {
    std::smatch m;
    EXPECT_TRUE(std::regex_match(id, m, kIdPattern)) << id;
    if (m.empty()) return {"", 0, 0};
    return {m[1].str(), std::stol(m[2].str()), std::stoull(m[3].str())};
}

TEST(UniqueTest, RandomFillsLengthMinusOne) {
    char buf[8];
    memset(buf, '#', sizeof buf);
    Unique::genRandom(buf, 1);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(buf[1], '#');
    Unique::genRandom(buf, 7);
    EXPECT_EQ(strlen(buf), 6u);
    EXPECT_TRUE(std::regex_match(std::string(buf), std::regex("[0-9A-Za-z]{6}")));
    EXPECT_EQ(buf[7], '#');
    Unique::genRandom(buf, 0);  // nothing to write, not even the terminator
    EXPECT_EQ(buf[7], '#');
}

TEST(UniqueTest, IdentifiersOfOneSecondShareTheRandomPart) {
    // Retry when a second boundary falls between the two calls.
    for (int attempt = 0; attempt < 5; ++attempt) {
        ParsedId a = parse(Unique::GenerateID());
        ParsedId b = parse(Unique::GenerateID());
        if (a.seconds != b.seconds) continue;
        EXPECT_EQ(a.random, b.random);
        EXPECT_EQ(b.counter, a.counter + 1);
        EXPECT_LE(std::labs(a.seconds - static_cast<long>(time(nullptr))), 2);
        return;
    }
    FAIL() << "no two identifiers within one second";
}

TEST(UniqueTest, CounterTextsAreConsecutive) {
    // Template prefixes rely on it: prefix 7& is followed by layer id 7&layer_8.
    unsigned long long a = std::stoull(Unique::getUniqueCounter());
    unsigned long long b = std::stoull(Unique::getUniqueCounter());
    EXPECT_EQ(b, a + 1);
    unsigned long long id = parse(Unique::GenerateID()).counter;
    EXPECT_EQ(id, b);
    EXPECT_EQ(std::stoull(Unique::getUniqueCounter()), id + 2);
}

// Run in a freshly started copy of the test program, where the counter is new.
TEST(UniqueDeathTest, FirstValuesOfAFreshProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            bool ok = parse(Unique::GenerateID()).counter == 1 && Unique::getUniqueCounter() == "3";
            _exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            bool ok = Unique::getUniqueCounter() == "2" && parse(Unique::GenerateID()).counter == 2;
            _exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(UniqueTest, UniqueAcrossThreads) {
    constexpr int kThreads = 6, kEach = 300;
    std::mutex m;
    std::set<std::string> ids;
    std::set<unsigned long long> counters;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::vector<std::pair<std::string, unsigned long long>> local;
            for (int i = 0; i < kEach; ++i) {
                if ((i + t) % 3 == 0) {
                    local.emplace_back("", std::stoull(Unique::getUniqueCounter()));
                } else {
                    std::string id = Unique::GenerateID();
                    local.emplace_back(id, parse(id).counter);
                }
            }
            std::lock_guard<std::mutex> g(m);
            for (auto& [id, c] : local) {
                if (!id.empty()) {
                    EXPECT_TRUE(ids.insert(id).second) << id;
                } else {
                    EXPECT_TRUE(counters.insert(c).second) << c;
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(ids.size() + counters.size(), static_cast<size_t>(kThreads * kEach));
}

TEST(FileManagerTest, FileNames) {
    EXPECT_EQ(FileManager::getOsSeprator(), '/');
    EXPECT_EQ(FileManager::getFileName("/a/b/clip.final.mp4", true), "clip.final.mp4");
    EXPECT_EQ(FileManager::getFileName("/a/b/clip.final.mp4", false), "clip.final");
    EXPECT_EQ(FileManager::getFileName("/a/b/", true), "b");
    EXPECT_EQ(FileManager::getFileName("/a/b///", false), "b");
    EXPECT_EQ(FileManager::getFileName(".hidden", false), "");
    EXPECT_EQ(FileManager::getFileName(".hidden", true), ".hidden");
    EXPECT_EQ(FileManager::getFileName("a", true), "");
    EXPECT_EQ(FileManager::getFileName("", true), "");
    EXPECT_EQ(FileManager::getFileName("//", true), "");
    EXPECT_EQ(FileManager::getFileName("dir/", true), "dir");
    EXPECT_EQ(FileManager::getFileName("name", false), "name");
    EXPECT_EQ(FileManager::getFileName("/x.y/name", false), "name");
}

// Files of templates and hosts are read only when regular and under the cap:
// a FIFO or a device is refused at once (never read, never waited on), and
// the pack reader refuses them too.
TEST(FileManagerTest, InputFilesAreRegularAndCapped) {
    QvTest::TempDir dir("inputfiles");
    ASSERT_TRUE(QvTest::writeFile(dir.file("five"), "12345"));
    ASSERT_TRUE(QvTest::writeFile(dir.file("empty"), ""));
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0644), 0);
    ASSERT_EQ(symlink("/dev/zero", dir.file("zero").c_str()), 0);
    ASSERT_EQ(symlink(dir.file("five").c_str(), dir.file("link").c_str()), 0);
    struct Case {
        const char* name;
        uint64_t cap;
        size_t head;
        InputFileStatus status;
        const char* content;
    };
    const Case cases[] = {
        {"five", kMaxInputFileBytes, 0, InputFileStatus::Ok, "12345"},
        {"link", 5, 0, InputFileStatus::Ok, "12345"},
        {"five", 4, 0, InputFileStatus::TooLarge, ""},
        {"five", kMaxInputFileBytes, 3, InputFileStatus::Ok, "123"},
        {"empty", kMaxInputFileBytes, 0, InputFileStatus::Ok, ""},
        {"missing", kMaxInputFileBytes, 0, InputFileStatus::Missing, ""},
        {"", kMaxInputFileBytes, 0, InputFileStatus::NotRegular, ""},  // the folder itself
        {"fifo", kMaxInputFileBytes, 0, InputFileStatus::NotRegular, ""},
        {"zero", kMaxInputFileBytes, 0, InputFileStatus::NotRegular, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.name);
        std::string out = "stale";
        EXPECT_EQ(c.status, FileManager::readInput(path, out, c.cap, c.head));
        EXPECT_EQ(c.content, out);
        if (c.head == 0) {
            EXPECT_EQ(c.status, FileManager::checkInput(path, c.cap));
        }
        if (c.status == InputFileStatus::NotRegular) {
            FileCodec codec(FileCodec::getFileCodecVersion(path));
            EXPECT_FALSE(codec.decodePack(path));
            EXPECT_EQ(0u, codec.size);
        }
    }
    EXPECT_STREQ("not a regular file", FileManager::describe(InputFileStatus::NotRegular));
}

TEST(FileManagerTest, QueriesOnRealPaths) {
    QvTest::TempDir dir("filemanager");
    std::string file = dir.file("clip.MP4");
    std::string bare = dir.file("Makefile");
    ASSERT_TRUE(QvTest::writeFile(file, "x"));
    ASSERT_TRUE(QvTest::writeFile(bare, "all:"));
    ASSERT_EQ(symlink(file.c_str(), dir.file("link").c_str()), 0);

    EXPECT_TRUE(FileManager::exist(file));
    EXPECT_TRUE(FileManager::isFile(file));
    EXPECT_FALSE(FileManager::isDirectory(file));
    EXPECT_TRUE(FileManager::isDirectory(dir.path()));
    EXPECT_FALSE(FileManager::isFile(dir.path()));
    EXPECT_TRUE(FileManager::isFile(dir.file("link")));  // links are followed
    EXPECT_FALSE(FileManager::exist(dir.file("missing")));
    EXPECT_FALSE(FileManager::isFile(dir.file("missing")));
    EXPECT_FALSE(FileManager::isDirectory(dir.file("missing")));
    struct stat st;
    EXPECT_FALSE(GetFileStat(dir.file("missing").c_str(), &st));
    EXPECT_TRUE(GetFileStat(file.c_str(), &st));
    EXPECT_EQ(st.st_size, 1);

    EXPECT_EQ(FileManager::suffix(file), "MP4");
    EXPECT_EQ(FileManager::suffix(bare), bare);  // no '.' anywhere: the whole path
    EXPECT_EQ(FileManager::suffix(dir.path()), "");
    EXPECT_EQ(FileManager::suffix(dir.file("missing.png")), "");

    // A socket is neither a regular file nor a folder, although its mode shares
    // a bit with each.
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string sock = dir.file("s.sock");
    ASSERT_LT(sock.size(), sizeof addr.sun_path);
    strcpy(addr.sun_path, sock.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    EXPECT_TRUE(FileManager::exist(sock));
    EXPECT_FALSE(FileManager::isFile(sock));
    EXPECT_FALSE(FileManager::isDirectory(sock));
    EXPECT_EQ(FileManager::suffix(sock), "");
    close(fd);
}

}  // namespace
