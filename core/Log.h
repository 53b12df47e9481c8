// The engine's version text and its one log line format.
#pragma once

#include <string>

namespace Quorvane {
namespace Core {

// "1.2.0.beta"
const char* QVVersion();

// Kept for hosts that call it; it has nothing to do.
void QVAbort();

// Local time as "YYYY-mm-dd HH:MM:SS.mmm".
std::string GetTimeLabel();

// One line on standard error: "<time label>:  [<pid>] <message>\n". The message
// is cut at 1023 characters. The line is written with one call so that lines
// from several threads or processes never interleave.
void QVPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A share of the log that lines may take while a LogShareScope of it is open
// on their thread: what a template script prints and the engine lines its
// calls cause, which a script could otherwise repeat without end. Past it one
// line (`dropped`) says so and the rest is not written.
struct LogShare {
    LogShare(size_t bytes, const char* dropped) : left(bytes), dropped(dropped) {}
    size_t left;
    const char* dropped;
    bool full = false;
};

// Holds this thread's log lines to `share` while it lives; scopes nest, the
// innermost counts.
class LogShareScope {
public:
    explicit LogShareScope(LogShare& share);
    ~LogShareScope();
    LogShareScope(const LogShareScope&) = delete;
    LogShareScope& operator=(const LogShareScope&) = delete;

private:
    LogShare* previous_;
};

// Logs the name of the current GL error together with the tag.
void QVGetGlError(const char* tag);

}  // namespace Core
}  // namespace Quorvane
