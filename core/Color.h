// RGBA colour of backgrounds, solids, effect parameters and clear colours, with
// the parser of the template's colour texts.
#pragma once

#include <string>

namespace Quorvane {
namespace Core {

// Channels nominally 0..1; arithmetic never clamps. The nil colour has every
// channel at -1; a colour with any channel below 0 counts as nil.
struct Color {
    float r = 1.0f;
    float g = 1.0f;
    float b = 1.0f;
    float a = 1.0f;

    // Opaque white.
    Color() = default;
    Color(float r, float g, float b, float a) : r(r), g(g), b(b), a(a) {}
    // "#RGB", "#RGBA", "#RRGGBB" or "#AARRGGBB". Text without a leading "#" or
    // with another length gives white; text whose hex part holds no readable
    // number (or one beyond 64 bits) gives the nil colour.
    explicit Color(const std::string& text);
    Color(const Color&) = default;
    Color& operator=(const Color&) = default;

    void set(float r, float g, float b, float a);

    Color operator+(const Color& c) const;
    Color operator-(const Color& c) const;
    Color operator*(const Color& c) const;
    Color operator*(const float& s) const;

    bool isNil() const;
    void setNil();
    // Both nil, or all four channels within Float::epsilon.
    bool equal(const Color& c) const;

    // t is clamped to [0, 1].
    static Color lerp(const Color& a, const Color& b, float t);
};

}  // namespace Core
}  // namespace Quorvane
