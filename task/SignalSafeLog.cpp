#include "task/SignalSafeLog.h"

#include <time.h>
#include <unistd.h>

#include <cstring>

namespace Quorvane {
namespace Core {

namespace {

// localtime is not async-signal-safe, so the offset is taken once beforehand; a
// daylight-saving change during a render shifts the stamp of a crash line only.
volatile long gLocalOffsetSeconds = 0;

size_t appendText(char* out, size_t capacity, size_t at, const char* text) {
    size_t n = strlen(text);
    if (at >= capacity) return at;
    if (n > capacity - at) n = capacity - at;
    memcpy(out + at, text, n);
    return at + n;
}

size_t appendPadded(char* out, size_t capacity, size_t at, long long value, int width) {
    char digits[24];
    size_t n = SignalSafeFormatInt(digits, sizeof digits, value);
    for (int pad = width - static_cast<int>(n); pad > 0 && at < capacity; --pad) out[at++] = '0';
    for (size_t i = 0; i < n && at < capacity; ++i) out[at++] = digits[i];
    return at;
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian calendar).
void civilFromDays(long long days, long long* year, int* month, int* day) {
    days += 719468;
    long long era = (days >= 0 ? days : days - 146096) / 146097;
    long long doe = days - era * 146097;
    long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long long mp = (5 * doy + 2) / 153;
    *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *year = yoe + era * 400 + (*month <= 2 ? 1 : 0);
}

}  // namespace

void SignalSafeLogPrepare() {
    time_t now = time(nullptr);
    struct tm local;
    if (localtime_r(&now, &local)) gLocalOffsetSeconds = local.tm_gmtoff;
}

size_t SignalSafeFormatInt(char* out, size_t capacity, long long value) {
    char reversed[24];
    size_t n = 0;
    unsigned long long magnitude =
        value < 0 ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
    do {
        reversed[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) reversed[n++] = '-';
    size_t written = 0;
    while (n > 0 && written < capacity) out[written++] = reversed[--n];
    return written;
}

void SignalSafeLog(const char* message) {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    long long seconds = static_cast<long long>(ts.tv_sec) + gLocalOffsetSeconds;
    long long days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    long long secondOfDay = seconds - days * 86400;
    long long year;
    int month, day;
    civilFromDays(days, &year, &month, &day);

    char line[1200];
    const size_t cap = sizeof line - 1;  // room for the newline
    size_t at = 0;
    at = appendPadded(line, cap, at, year, 4);
    at = appendText(line, cap, at, "-");
    at = appendPadded(line, cap, at, month, 2);
    at = appendText(line, cap, at, "-");
    at = appendPadded(line, cap, at, day, 2);
    at = appendText(line, cap, at, " ");
    at = appendPadded(line, cap, at, secondOfDay / 3600, 2);
    at = appendText(line, cap, at, ":");
    at = appendPadded(line, cap, at, (secondOfDay / 60) % 60, 2);
    at = appendText(line, cap, at, ":");
    at = appendPadded(line, cap, at, secondOfDay % 60, 2);
    at = appendText(line, cap, at, ".");
    at = appendPadded(line, cap, at, ts.tv_nsec / 1000000, 3);
    at = appendText(line, cap, at, ":  [");
    at = appendPadded(line, cap, at, getpid(), 1);
    at = appendText(line, cap, at, "] ");
    at = appendText(line, cap, at, message);
    line[at++] = '\n';
    size_t off = 0;
    while (off < at) {
        ssize_t w = write(STDERR_FILENO, line + off, at - off);
        if (w <= 0) break;
        off += static_cast<size_t>(w);
    }
}

}  // namespace Core
}  // namespace Quorvane
