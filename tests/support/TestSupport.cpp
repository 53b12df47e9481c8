#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace QvTest {

TempDir::TempDir(const std::string& tag) {
    std::string tmpl = (std::filesystem::temp_directory_path() / (tag + "-XXXXXX")).string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed for " << tmpl;
    }
    path_ = buf.data();
}

namespace {

// Removes the entry `name` of the folder `parent` with everything below it,
// by descriptors: a tree deeper than PATH_MAX defeats removal by path.
void removeTree(int parent, const char* name) {
    if (unlinkat(parent, name, 0) == 0) return;
    const int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR* folder = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!folder) {
        if (fd >= 0) close(fd);
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = readdir(folder)) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    }
    for (const std::string& entry : names) removeTree(dirfd(folder), entry.c_str());
    closedir(folder);
    unlinkat(parent, name, AT_REMOVEDIR);
}

}  // namespace

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
    if (ec) removeTree(AT_FDCWD, path_.c_str());
}

ProgramResult runProgram(const std::vector<std::string>& argv) {
    ProgramResult result;
    if (argv.empty()) return result;
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) return result;
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return result;
    }
    pid_t pid = fork();
    if (pid == 0) {
        dup2(outPipe[1], STDOUT_FILENO);
        dup2(errPipe[1], STDERR_FILENO);
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0) dup2(devnull, STDIN_FILENO);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    if (pid < 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        return result;
    }
    // Read both pipes together so a chatty program cannot block on a full pipe.
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    char buf[65536];
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

bool ffmpeg(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-y", "-v", "error"};
    argv.insert(argv.end(), args.begin(), args.end());
    ProgramResult r = runProgram(argv);
    EXPECT_EQ(r.exitCode, 0) << "ffmpeg failed: " << r.err;
    return r.exitCode == 0;
}

std::string probe(const std::string& file, const std::string& stream, const std::string& entry) {
    std::vector<std::string> argv = {"ffprobe", "-v", "error", "-select_streams", stream};
    if (entry == "nb_read_frames") argv.push_back("-count_frames");
    argv.insert(argv.end(), {"-show_entries", "stream=" + entry, "-of", "default=nw=1:nk=1", file});
    ProgramResult r = runProgram(argv);
    std::string out = r.out;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

double probeDuration(const std::string& file) {
    ProgramResult r = runProgram({"ffprobe", "-v", "error", "-show_entries", "format=duration",
                                  "-of", "default=nw=1:nk=1", file});
    if (r.exitCode != 0 || r.out.empty()) return -1.0;
    char* end = nullptr;
    double d = std::strtod(r.out.c_str(), &end);
    return end == r.out.c_str() ? -1.0 : d;
}

StderrRedirect::StderrRedirect(const std::string& path) : path_(path) {
    fflush(stderr);
    saved_ = dup(STDERR_FILENO);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    dup2(fd, STDERR_FILENO);
    close(fd);
}

StderrRedirect::~StderrRedirect() {
    stop();
}

std::string StderrRedirect::stop() {
    if (saved_ >= 0) {
        fflush(stderr);
        dup2(saved_, STDERR_FILENO);
        close(saved_);
        saved_ = -1;
    }
    return readFile(path_);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool fileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool makeDeepLink(const std::string& link, const std::string& target) {
    // Twelve names of 200 bytes: two of these steps pass PATH_MAX, and one
    // fits a link's text.
    const std::string step = std::string(200, 'd') + "/";
    std::string steps;
    for (int i = 0; i < 12; ++i) steps += step;
    const size_t slash = link.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : link.substr(0, slash);
    // Named after the link, so that links of one folder keep chains apart.
    const std::string first = link.substr(slash + 1) + ".1", second = link.substr(slash + 1) + ".2";
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // The folders are made relative to a descriptor: their paths are too long to name.
    for (int level = 0; level < 24 && fd >= 0; ++level) {
        const std::string name(200, 'd');
        mkdirat(fd, name.c_str(), 0755);
        const int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        close(fd);
        fd = next;
        // link -> steps/first, first -> steps/second, second -> target
        if (level == 11 && fd >= 0 && symlinkat((steps + second).c_str(), fd, first.c_str()) != 0) {
            close(fd);
            fd = -1;
        }
    }
    const bool ok = fd >= 0 && symlinkat(target.c_str(), fd, second.c_str()) == 0 &&
                    symlink((steps + first).c_str(), link.c_str()) == 0;
    if (fd >= 0) close(fd);
    return ok;
}

}  // namespace QvTest
