// The 30 blend modes and their GLSL: each mode is one function
// vec4 name(vec4 base, vec4 blend) over non-premultiplied colours, base being
// what the composition holds and blend the layer's colour.
#pragma once

#include <cstdint>
#include <string>

namespace Quorvane {
namespace Core {

enum class BlendMode : int32_t {
    Normal = 0,
    Lighten = 1,
    Darken = 2,
    Multiply = 3,
    Average = 4,
    Add = 5,
    Subtract = 6,
    Difference = 7,
    Negation = 8,
    Exclusion = 9,
    Screen = 10,
    Overlay = 11,
    SoftLight = 12,
    HardLight = 13,
    ColorDodge = 14,
    ColorBurn = 15,
    LinearDodge = 16,
    LinearBurn = 17,
    LinearLight = 18,
    VividLight = 19,
    PinLight = 20,
    HardMix = 21,
    Reflect = 22,
    Glow = 23,
    Phoenix = 24,
    Opacity = 25,
    Hue = 26,
    Saturation = 27,
    Color = 28,
    Luminosity = 29,
};

constexpr int kBlendModeCount = 30;

class BlendModes {
public:
    // The GLSL function name to call. The name of Opacity carries a trailing
    // blank (its definition does not; GLSL accepts the blank before the
    // argument list). Empty outside 0..29.
    static std::string GetBlendName(BlendMode mode);
    // The GLSL text defining the mode's function and every helper it calls;
    // each text is complete in itself. Empty outside 0..29.
    static std::string GetBlendDefineStr(BlendMode mode);
    // Name for hosts; empty outside 0..29.
    static std::string GetBlendDisplayName(BlendMode mode);
};

}  // namespace Core
}  // namespace Quorvane
