// The GLSL program of one brush kind, assembled from feature bits (brush
// style, anti-aliasing, flip, plain stencil output).
#pragma once

#include <string>

#include "render/GLShader.h"

namespace Quorvane {
namespace Core {

class Brush;

class BrushShader : public GLShader {
public:
    enum Feature : int {
        kAntiAlias = 0x0001,
        kLinear = 0x0002,
        kRadial = 0x0004,
        kSweep = 0x0008,
        kStencil = 0x0010,
        kComplexLinear = 0x0020,
        kComplexRadial = 0x0040,
        kComplexSweep = 0x0080,
        kSolid = 0x0100,
        kColors = 0x0200,
        kSimpleGradient = 0x0400,
        kColorStops = 0x0800,
        kImagePattern = 0x1000,
        kFlip = 0x2000,
        // Any of these declares the paint transform and the point pt.
        kPaintTransform = 0x1C00,
    };

    explicit BrushShader(int features);
    // A new program each call; there is no cache by features.
    static BrushShader* create(int features);
    static int getBrushShaderFeatures(const Brush* brush, bool antiAlias);

    int features() const { return mFeatures; }
    const std::string& vertexText() const { return mVertexText; }
    const std::string& fragmentText() const { return mFragmentText; }

    static std::string formVertexString(int features);
    static std::string formFragmentString(int features);

private:
    int mFeatures;
    std::string mVertexText;
    std::string mFragmentText;
};

}  // namespace Core
}  // namespace Quorvane
