// Starting external programs (ffmpeg, the text renderer) without a shell.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace Quorvane {
namespace Core {

class Subprocess {
public:
    // Starts argv[0], looked up on PATH, with the given argument vector and waits
    // for it. No shell parses anything, so paths with blanks, quotes, ';' or "$()"
    // reach the program verbatim. Standard input is /dev/null (a forked render
    // child must never block on, or be steered by, the terminal); standard output
    // and error are inherited.
    // The program is killed (SIGKILL) when the calling thread dies, so a
    // killed render child never leaves its ffmpeg behind.
    // Returns the raw wait status as system() would (0 when the program exited
    // with 0), or -1 when it could not be started.
    static int run(const std::vector<std::string>& argv);
    // The same, and a program still running after `limit` is killed (SIGKILL);
    // `*timedOut` then says so (the status is that of the killed program).
    static int run(const std::vector<std::string>& argv, std::chrono::milliseconds limit, bool* timedOut);
    // Called on the waiting thread each `every` while the program runs, so
    // that a caller watched for silence can report that it still lives.
    struct Heartbeat {
        std::chrono::milliseconds every{0};
        std::function<void()> beat;
    };
    static int run(const std::vector<std::string>& argv, std::chrono::milliseconds limit, bool* timedOut,
                   const Heartbeat& heartbeat);

    // Exit code within a raw status; -1 when the program did not exit normally
    // (killed by a signal, or never started).
    static int exitCode(int status);
};

}  // namespace Core
}  // namespace Quorvane
