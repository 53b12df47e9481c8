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

// Logs the name of the current GL error together with the tag.
void QVGetGlError(const char* tag);

}  // namespace Core
}  // namespace Quorvane
