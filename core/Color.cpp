#include "core/Color.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "core/Float.h"

namespace Quorvane {
namespace Core {

namespace {
float nibble(unsigned long long v, int shift) {
    return float((v >> shift) & 0xF) / 15.0f;
}
float byte(unsigned long long v, int shift) {
    return float((v >> shift) & 0xFF) / 255.0f;
}
}  // namespace

Color::Color(const std::string& text) {
    if (text.empty() || text[0] != '#') return;
    const std::string hex = text.substr(1);
    // Read like std::stoull in base 16 (leading blanks, a sign and "0x" are
    // accepted, reading stops at the first non-digit), but a text with no
    // number or one beyond 64 bits gives the nil colour instead of throwing.
    const char* begin = hex.c_str();
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(begin, &end, 16);
    if (end == begin || errno == ERANGE) {
        setNil();
        return;
    }
    // The branch follows the length of the text, not the digits read.
    switch (hex.size()) {
        case 3:
            set(nibble(v, 8), nibble(v, 4), nibble(v, 0), 1.0f);
            break;
        case 4:
            set(nibble(v, 12), nibble(v, 8), nibble(v, 4), nibble(v, 0));
            break;
        case 6:
            set(byte(v, 16), byte(v, 8), byte(v, 0), 1.0f);
            break;
        case 8:
            set(byte(v, 16), byte(v, 8), byte(v, 0), byte(v, 24));
            break;
        default:
            break;
    }
}

void Color::set(float nr, float ng, float nb, float na) {
    r = nr;
    g = ng;
    b = nb;
    a = na;
}

Color Color::operator+(const Color& c) const {
    return Color(r + c.r, g + c.g, b + c.b, a + c.a);
}
Color Color::operator-(const Color& c) const {
    return Color(r - c.r, g - c.g, b - c.b, a - c.a);
}
Color Color::operator*(const Color& c) const {
    return Color(r * c.r, g * c.g, b * c.b, a * c.a);
}
Color Color::operator*(const float& s) const {
    return Color(r * s, g * s, b * s, a * s);
}

bool Color::isNil() const {
    return r < 0.0f || g < 0.0f || b < 0.0f || a < 0.0f;
}
void Color::setNil() {
    set(-1.0f, -1.0f, -1.0f, -1.0f);
}

bool Color::equal(const Color& c) const {
    if (isNil() && c.isNil()) return true;
    return std::fabs(r - c.r) <= Float::epsilon && std::fabs(g - c.g) <= Float::epsilon &&
           std::fabs(b - c.b) <= Float::epsilon && std::fabs(a - c.a) <= Float::epsilon;
}

Color Color::lerp(const Color& a, const Color& b, float t) {
    if (t < 0.0f) t = 0.0f;
    if (t > 1.0f) t = 1.0f;
    return a * (1.0f - t) + b * t;
}

}  // namespace Core
}  // namespace Quorvane
