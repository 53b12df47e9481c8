// Log lines written from inside a signal handler: the same line format as
// QVPrint, built only with async-signal-safe calls (clock_gettime, getpid,
// write) into caller-owned buffers.
#pragma once

#include <cstddef>

namespace Quorvane {
namespace Core {

// Captures the local time zone offset; call outside any signal handler, before
// the handlers that log are installed.
void SignalSafeLogPrepare();

// Appends the decimal text of `value` at `out` (no terminator); returns the
// number of characters written, at most `capacity`.
size_t SignalSafeFormatInt(char* out, size_t capacity, long long value);

// Writes "<local time>:  [<pid>] <message>\n" to standard error with one write.
void SignalSafeLog(const char* message);

}  // namespace Core
}  // namespace Quorvane
