// Helpers every test program shares: scratch folders, running external
// programs without a shell, and small file utilities.
#pragma once

#include <string>
#include <vector>

namespace QvTest {

// A fresh folder under the system temp dir, removed with its content when the
// object dies.
class TempDir {
public:
    explicit TempDir(const std::string& tag = "qvtest");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

struct ProgramResult {
    int exitCode = -1;  // -1 when the program could not be started or was killed
    std::string out;    // standard output
    std::string err;    // standard error
};

// Runs argv[0] (looked up on PATH) with the given arguments, no shell involved.
ProgramResult runProgram(const std::vector<std::string>& argv);

// Runs the ffmpeg program quietly with the given arguments (after "-y -v error");
// fails the calling test when it exits non-zero.
bool ffmpeg(const std::vector<std::string>& args);

// Reads one stream property with ffprobe, e.g. probe(file, "v:0", "nb_read_frames")
// (counting frames decodes the file), "codec_name", "width", "r_frame_rate".
std::string probe(const std::string& file, const std::string& stream, const std::string& entry);
// Container duration in seconds, or a negative value when unknown.
double probeDuration(const std::string& file);

// Sends this process's standard error (the descriptor, so children forked
// meanwhile too) to a file, /dev/null unless named, until stop() or the end
// of the scope.
class StderrRedirect {
public:
    explicit StderrRedirect(const std::string& path = "/dev/null");
    ~StderrRedirect();
    StderrRedirect(const StderrRedirect&) = delete;
    StderrRedirect& operator=(const StderrRedirect&) = delete;
    // Restores standard error; returns what the file holds.
    std::string stop();

private:
    std::string path_;
    int saved_ = -1;
};

std::string readFile(const std::string& path);
bool writeFile(const std::string& path, const std::string& bytes);
bool fileExists(const std::string& path);
// Makes `link` a symbolic link to `target` through a chain of links whose
// lookup passes folders deeper than PATH_MAX, made beside the link (TempDir
// removes them): open() follows it to its end, realpath() gives up with
// ENAMETOOLONG.
bool makeDeepLink(const std::string& link, const std::string& target);

}  // namespace QvTest
