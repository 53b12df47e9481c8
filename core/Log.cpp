#include "core/Log.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <unistd.h>

#include <chrono>

#include <GL/gl.h>

namespace Quorvane {
namespace Core {

namespace {
constexpr int kVersionMajor = 1;
constexpr int kVersionMinor = 2;
constexpr int kVersionPatch = 0;
constexpr const char* kVersionTag = "beta";
constexpr size_t kMessageCapacity = 1024;  // 1023 characters and the terminator

thread_local LogShare* tLogShare = nullptr;

void writeLine(const char* line, size_t len) {
    size_t off = 0;
    while (off < len) {
        ssize_t w = write(STDERR_FILENO, line + off, len - off);
        if (w <= 0) break;
        off += static_cast<size_t>(w);
    }
}

std::string formatLine(const char* message) {
    std::string label = GetTimeLabel();
    char line[kMessageCapacity + 128];
    int n = snprintf(line, sizeof line, "%s:  [%d] %s\n", label.c_str(), static_cast<int>(getpid()), message);
    if (n < 0) return std::string();
    return std::string(line, static_cast<size_t>(n) < sizeof line ? static_cast<size_t>(n) : sizeof line - 1);
}
}  // namespace

LogShareScope::LogShareScope(LogShare& share) : previous_(tLogShare) {
    tLogShare = &share;
}

LogShareScope::~LogShareScope() {
    tLogShare = previous_;
}

const char* QVVersion() {
    static const std::string version = std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) +
                                       "." + std::to_string(kVersionPatch) + "." + kVersionTag;
    return version.c_str();
}

void QVAbort() {}

std::string GetTimeLabel() {
    long long ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
    time_t seconds = static_cast<time_t>(ns / 1000000000LL);
    int millis = static_cast<int>((ns / 1000000LL) % 1000);
    struct tm local;
    localtime_r(&seconds, &local);
    char date[64];
    strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
    char label[80];
    snprintf(label, sizeof label, "%s.%03d", date, millis);
    return label;
}

void QVPrint(const char* format, ...) {
    char message[kMessageCapacity];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);
    va_end(args);

    const std::string line = formatLine(message);
    if (LogShare* share = tLogShare) {
        if (share->full) return;
        if (line.size() > share->left) {
            share->full = true;
            const std::string dropped = formatLine(share->dropped);
            writeLine(dropped.data(), dropped.size());
            return;
        }
        share->left -= line.size();
    }
    writeLine(line.data(), line.size());
}

void QVGetGlError(const char* tag) {
    struct ErrorName {
        GLenum code;
        const char* name;
    };
    static const ErrorName kNames[] = {
        {GL_NO_ERROR, "GL_NO_ERROR"},
        {GL_INVALID_ENUM, "GL_INVALID_ENUM"},
        {GL_INVALID_VALUE, "GL_INVALID_VALUE"},
        {GL_INVALID_OPERATION, "GL_INVALID_OPERATION"},
        {GL_OUT_OF_MEMORY, "GL_OUT_OF_MEMORY"},
    };
    GLenum code = glGetError();
    const char* name = "Unknown GL Error";
    for (const auto& entry : kNames) {
        if (entry.code == code) name = entry.name;
    }
    QVPrint("%s-->%s", tag, name);
}

}  // namespace Core
}  // namespace Quorvane
