#include "render/BlendModes.h"

#include <cstring>

namespace Quorvane {
namespace Core {

namespace {

struct BlendNameEntry {
    int32_t mode;
    char name[40];
};

// Indexed by mode. Opacity's name keeps the trailing blank hosts have always
// seen; GLSL tolerates it at the call site.
const BlendNameEntry StaticBlendNames[kBlendModeCount] = {
    {0, "BlendNormal"},       {1, "BlendLighten"},     {2, "BlendDarken"},       {3, "BlendMultiply"},
    {4, "BlendAverage"},      {5, "BlendAdd"},         {6, "BlendSubtract"},     {7, "BlendDifference"},
    {8, "BlendNegation"},     {9, "BlendExclusion"},   {10, "BlendScreen"},      {11, "BlendOverlay"},
    {12, "BlendSoftLight"},   {13, "BlendHardLight"},  {14, "BlendColorDodge"},  {15, "BlendColorBurn"},
    {16, "BlendLinearDodge"}, {17, "BlendLinearBurn"}, {18, "BlendLinearLight"}, {19, "BlendVividLight"},
    {20, "BlendPinLight"},    {21, "BlendHardMix"},    {22, "BlendReflect"},     {23, "BlendGlow"},
    {24, "BlendPhoenix"},     {25, "BlendOpacity "},   {26, "BlendHue"},         {27, "BlendSaturation"},
    {28, "BlendColor"},       {29, "BlendLuminosity"},
};

const char* const kDisplayNames[kBlendModeCount] = {
    "Normal",       "Lighten",     "Darken",      "Multiply",   "Average",      "Add",
    "Subtract",     "Difference",  "Negation",    "Exclusion",  "Screen",       "Overlay",
    "Soft Light",   "Hard Light",  "Color Dodge", "Color Burn", "Linear Dodge", "Linear Burn",
    "Linear Light", "Vivid Light", "Pin Light",   "Hard Mix",   "Reflect",      "Glow",
    "Phoenix",      "Opacity ",    "Hue",         "Saturation", "Color",        "Luminosity",
};

// Per-channel helpers: float name(float base, float blend).
struct Helper {
    const char* name;
    const char* expression;
};

const Helper kHelpers[] = {
    {"BlendLightenf", "max(blend, base)"},
    {"BlendDarkenf", "min(blend, base)"},
    {"BlendScreenf", "(1.0 - ((1.0 - base) * (1.0 - blend)))"},
    {"BlendOverlayf", "(base < 0.5 ? (2.0 * base * blend) : (1.0 - 2.0 * (1.0 - base) * (1.0 - blend)))"},
    {"BlendSoftLightf",
     "((blend < 0.5) ? (2.0 * base * blend + base * base * (1.0 - 2.0 * blend)) : (sqrt(base) * (2.0 * blend "
     "- "
     "1.0) + 2.0 * base * (1.0 - blend)))"},
    {"BlendColorDodgef", "((blend == 1.0) ? blend : min(base / (1.0 - blend), 1.0))"},
    {"BlendColorBurnf", "((blend == 0.0) ? blend : max((1.0 - ((1.0 - base) / blend)), 0.0))"},
    {"BlendLinearBurnf", "max(base + blend - 1.0, 0.0)"},
    {"BlendLinearDodgef", "min(base + blend, 1.0)"},
    {"BlendLinearLightf",
     "(blend < 0.5 ? BlendLinearBurnf(base, (2.0 * blend)) : BlendLinearDodgef(base, (2.0 * (blend - "
     "0.5))))"},
    {"BlendVividLightf",
     "((blend < 0.5) ? BlendColorBurnf(base, (2.0 * blend)) : BlendColorDodgef(base, (2.0 * (blend - "
     "0.5))))"},
    {"BlendPinLightf",
     "((blend < 0.5) ? BlendDarkenf(base, (2.0 * blend)) : BlendLightenf(base, (2.0 *(blend - 0.5))))"},
    {"BlendHardMixf", "((BlendVividLightf(base, blend) < 0.5) ? 0.0 : 1.0)"},
    {"BlendReflectf", "((blend == 1.0) ? blend : min(base * base / (1.0 - blend), 1.0))"},
};

// The colour conversions the four HSL modes start with (h, s, l in x, y, z).
const char* const kHSLFunctions =
    "vec3 RGBToHSL(vec3 color) {\n"
    "    vec3 hsl;\n"
    "    float fmin = min(min(color.r, color.g), color.b);\n"
    "    float fmax = max(max(color.r, color.g), color.b);\n"
    "    float delta = fmax - fmin;\n"
    "    hsl.z = (fmax + fmin) / 2.0;\n"
    "    if (delta == 0.0) {\n"
    "        hsl.x = 0.0;\n"
    "        hsl.y = 0.0;\n"
    "    } else {\n"
    "        if (hsl.z < 0.5)\n"
    "            hsl.y = delta / (fmax + fmin);\n"
    "        else\n"
    "            hsl.y = delta / (2.0 - fmax - fmin);\n"
    "        float deltaR = (((fmax - color.r) / 6.0) + (delta / 2.0)) / delta;\n"
    "        float deltaG = (((fmax - color.g) / 6.0) + (delta / 2.0)) / delta;\n"
    "        float deltaB = (((fmax - color.b) / 6.0) + (delta / 2.0)) / delta;\n"
    "        hsl.x = 0.0;\n"
    "        if (color.r == fmax)\n"
    "            hsl.x = deltaB - deltaG;\n"
    "        else if (color.g == fmax)\n"
    "            hsl.x = (1.0 / 3.0) + deltaR - deltaB;\n"
    "        else if (color.b == fmax)\n"
    "            hsl.x = (2.0 / 3.0) + deltaG - deltaR;\n"
    "        if (hsl.x < 0.0)\n"
    "            hsl.x += 1.0;\n"
    "        else if (hsl.x > 1.0)\n"
    "            hsl.x -= 1.0;\n"
    "    }\n"
    "    return hsl;\n"
    "}\n"
    "float HueToRGB(float f1, float f2, float hue) {\n"
    "    if (hue < 0.0)\n"
    "        hue += 1.0;\n"
    "    else if (hue > 1.0)\n"
    "        hue -= 1.0;\n"
    "    float res;\n"
    "    if ((6.0 * hue) < 1.0)\n"
    "        res = f1 + (f2 - f1) * 6.0 * hue;\n"
    "    else if ((2.0 * hue) < 1.0)\n"
    "        res = f2;\n"
    "    else if ((3.0 * hue) < 2.0)\n"
    "        res = f1 + (f2 - f1) * ((2.0 / 3.0) - hue) * 6.0;\n"
    "    else\n"
    "        res = f1;\n"
    "    return res;\n"
    "}\n"
    "vec3 HSLToRGB(vec3 hsl) {\n"
    "    vec3 rgb;\n"
    "    if (hsl.y == 0.0) {\n"
    "        rgb = vec3(hsl.z);\n"
    "    } else {\n"
    "        float f2;\n"
    "        if (hsl.z < 0.5)\n"
    "            f2 = hsl.z * (1.0 + hsl.y);\n"
    "        else\n"
    "            f2 = (hsl.z + hsl.y) - (hsl.y * hsl.z);\n"
    "        float f1 = 2.0 * hsl.z - f2;\n"
    "        rgb.r = HueToRGB(f1, f2, hsl.x + (1.0/3.0));\n"
    "        rgb.g = HueToRGB(f1, f2, hsl.x);\n"
    "        rgb.b = HueToRGB(f1, f2, hsl.x - (1.0/3.0));\n"
    "    }\n"
    "    return rgb;\n"
    "}\n";

enum class Body { PerChannel, Rgb, Hsl, Normal };

// How one mode's function is written: the helpers it needs (in definition
// order), then either a per-channel helper, an RGB expression, or an HSL
// expression with the declarations it reads.
struct ModeText {
    Body body;
    const char* helpers[4];
    const char* expression;    // helper name for PerChannel, otherwise the RGB result
    const char* declarations;  // HSL modes only
};

const char* const kBaseHSL = "vec3 baseHSL = RGBToHSL(base.rgb); ";
const char* const kBlendHSL = "vec3 blendHSL = RGBToHSL(blend.rgb); ";
const char* const kBothHSL = "vec3 baseHSL = RGBToHSL(base.rgb); vec3 blendHSL = RGBToHSL(blend.rgb); ";

const ModeText kModeTexts[kBlendModeCount] = {
    {Body::Normal, {}, "mix(base.rgb, blend.rgb, max(blend.a, 1.0 - sign(base.a)))", nullptr},
    {Body::PerChannel, {"BlendLightenf"}, "BlendLightenf", nullptr},
    {Body::PerChannel, {"BlendDarkenf"}, "BlendDarkenf", nullptr},
    {Body::Rgb, {}, "base.rgb * blend.rgb", nullptr},
    {Body::Rgb, {}, "(base.rgb + blend.rgb) / 2.0", nullptr},
    {Body::Rgb, {}, "min(base.rgb + blend.rgb, vec3(1.0))", nullptr},
    {Body::Rgb, {}, "max(base.rgb + blend.rgb - vec3(1.0), vec3(0.0))", nullptr},
    {Body::Rgb, {}, "abs(base.rgb - blend.rgb)", nullptr},
    {Body::Rgb, {}, "(vec3(1.0) - abs(vec3(1.0) - base.rgb - blend.rgb))", nullptr},
    {Body::Rgb, {}, "(base.rgb + blend.rgb - 2.0 * base.rgb * blend.rgb)", nullptr},
    {Body::PerChannel, {"BlendScreenf"}, "BlendScreenf", nullptr},
    {Body::PerChannel, {"BlendOverlayf"}, "BlendOverlayf", nullptr},
    {Body::PerChannel, {"BlendSoftLightf"}, "BlendSoftLightf", nullptr},
    // Hard Light calls the overlay helper with the arguments in the same
    // order, so it gives the same pixels as Overlay.
    {Body::PerChannel, {"BlendOverlayf"}, "BlendOverlayf", nullptr},
    {Body::PerChannel, {"BlendColorDodgef"}, "BlendColorDodgef", nullptr},
    {Body::PerChannel, {"BlendColorBurnf"}, "BlendColorBurnf", nullptr},
    {Body::Rgb, {}, "min(base.rgb + blend.rgb, vec3(1.0))", nullptr},
    {Body::Rgb, {}, "max(base.rgb + blend.rgb - vec3(1.0), vec3(0.0))", nullptr},
    {Body::PerChannel,
     {"BlendLinearBurnf", "BlendLinearDodgef", "BlendLinearLightf"},
     "BlendLinearLightf",
     nullptr},
    {Body::PerChannel,
     {"BlendColorDodgef", "BlendColorBurnf", "BlendVividLightf"},
     "BlendVividLightf",
     nullptr},
    {Body::PerChannel, {"BlendLightenf", "BlendDarkenf", "BlendPinLightf"}, "BlendPinLightf", nullptr},
    {Body::PerChannel,
     {"BlendColorDodgef", "BlendColorBurnf", "BlendVividLightf", "BlendHardMixf"},
     "BlendHardMixf",
     nullptr},
    {Body::PerChannel, {"BlendReflectf"}, "BlendReflectf", nullptr},
    // Glow calls the reflect helper with the arguments in the same order.
    {Body::PerChannel, {"BlendReflectf"}, "BlendReflectf", nullptr},
    {Body::Rgb, {}, "min(base.rgb, blend.rgb) - max(base.rgb, blend.rgb) + vec3(1.0)", nullptr},
    {Body::Rgb, {}, "mix(base.rgb, blend.rgb, blend.a)", nullptr},
    {Body::Hsl,
     {},
     "HSLToRGB(vec3(RGBToHSL(blend.rgb).r, baseHSL.g * sign(blendHSL.g) * sign(blendHSL.b) , baseHSL.b))",
     kBothHSL},
    {Body::Hsl, {}, "HSLToRGB(vec3(baseHSL.r, blendHSL.g, baseHSL.b))", kBothHSL},
    {Body::Hsl, {}, "HSLToRGB(vec3(blendHSL.r, blendHSL.g, RGBToHSL(base.rgb).b))", kBlendHSL},
    {Body::Hsl, {}, "HSLToRGB(vec3(baseHSL.r, baseHSL.g, RGBToHSL(blend.rgb).b))", kBaseHSL},
};

bool validMode(BlendMode mode) {
    int value = static_cast<int>(mode);
    return value >= 0 && value < kBlendModeCount;
}

const char* helperExpression(const char* name) {
    for (const auto& helper : kHelpers) {
        if (strcmp(helper.name, name) == 0) return helper.expression;
    }
    return "";
}

// The function's name as defined: the table name without trailing blanks.
std::string definitionName(BlendMode mode) {
    std::string name = StaticBlendNames[static_cast<int>(mode)].name;
    while (!name.empty() && name.back() == ' ') name.pop_back();
    return name;
}

}  // namespace

std::string BlendModes::GetBlendName(BlendMode mode) {
    if (!validMode(mode)) return "";
    return StaticBlendNames[static_cast<int>(mode)].name;
}

std::string BlendModes::GetBlendDisplayName(BlendMode mode) {
    if (!validMode(mode)) return "";
    return kDisplayNames[static_cast<int>(mode)];
}

std::string BlendModes::GetBlendDefineStr(BlendMode mode) {
    if (!validMode(mode)) return "";
    const ModeText& text = kModeTexts[static_cast<int>(mode)];
    std::string out;
    if (text.body == Body::Hsl) out += kHSLFunctions;
    for (const char* helper : text.helpers) {
        if (!helper) break;
        out += std::string("float ") + helper + "(float base, float blend) { return " +
               helperExpression(helper) + ";}\n";
    }
    out += "vec4 " + definitionName(mode) + "(vec4 base, vec4 blend) { ";
    switch (text.body) {
        case Body::Normal:
            out +=
                std::string("return vec4(") + text.expression + ", blend.a + (1.0 - blend.a) * base.a);}\n";
            break;
        case Body::PerChannel: {
            std::string h = text.expression;
            out += "return vec4(" + h + "(base.r, blend.r), " + h + "(base.g, blend.g), " + h +
                   "(base.b, blend.b), blend.a);}\n";
            break;
        }
        case Body::Rgb:
            out += std::string("return vec4(") + text.expression + ", blend.a);}\n";
            break;
        case Body::Hsl:
            out += std::string(text.declarations) + "return vec4(" + text.expression + ", blend.a);}\n";
            break;
    }
    return out;
}

}  // namespace Core
}  // namespace Quorvane
