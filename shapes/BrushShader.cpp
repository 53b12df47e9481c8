#include "shapes/BrushShader.h"

#include "shapes/Brush.h"

namespace Quorvane {
namespace Core {

namespace {

// Feature bits each brush style adds, indexed by BrushStyle.
const int kStyleFeatures[] = {
    BrushShader::kSolid | BrushShader::kColors,                                  // solid
    BrushShader::kLinear | BrushShader::kColors | BrushShader::kSimpleGradient,  // linear
    BrushShader::kRadial | BrushShader::kColors | BrushShader::kSimpleGradient,  // radial
    BrushShader::kSweep | BrushShader::kColors | BrushShader::kSimpleGradient,   // sweep
    BrushShader::kComplexLinear | BrushShader::kColors | BrushShader::kColorStops,
    BrushShader::kComplexRadial | BrushShader::kColors | BrushShader::kColorStops,
    BrushShader::kComplexSweep | BrushShader::kColors | BrushShader::kColorStops,
    BrushShader::kImagePattern,
};

struct ColourStatement {
    int feature;
    const char* text;
};

// The colour statement of each style bit, in the order they are emitted.
const ColourStatement kColourStatements[] = {
    {BrushShader::kLinear,
     "vec2 r = complexPoint - extent;\nfloat rl = length(r);\n"
     "float dist = abs(dot(complexPoint - pt, r) / rl);\n"
     "vec4 color = mix(ucolors[0], ucolors[1], smoothstep(0.0, 1.0, dist/rl));\n"},
    {BrushShader::kRadial,
     "vec4 color = mix(ucolors[0], ucolors[1], smoothstep(0.0, 1.0, distance(vpos, "
     "complexPoint)/radius));\n"},
    {BrushShader::kSweep,
     "vec2 sweep = (pt - complexPoint);\nhighp float index = atan(sweep.y, sweep.x) * 0.15915494309;\n"
     "vec4 color = mix(ucolors[0], ucolors[1], clamp(index - floor(index), 0.0, 1.0));\n"},
    {BrushShader::kComplexLinear,
     "vec2 r = complexPoint - extent;\nfloat rl = length(r);\nfloat dist = dot(complexPoint - pt, r) / rl;\n"
     "vec4 color = ucolors[0];\n"
     "for (int i=1; i<numColors; ++i) {\n"
     "    color = mix(color, ucolors[i], smoothstep(ucolorStops[i-1], ucolorStops[i], dist/rl));\n}\n"},
    {BrushShader::kComplexRadial,
     "vec2 focal = extent;\nvec2 center = complexPoint;\nvec2 fd = focal - center;\nvec2 d = focal - pt;\n"
     "vec2 dn = normalize(vec2(-d.y, d.x));\n"
     "float center_to_line_dist = dot(fd, dn) / length(dn);\n"
     "float fd_on_proj_d_dist = dot(fd, d) / length(d);\n"
     "float cut_line_length = sqrt(radius * radius - center_to_line_dist * center_to_line_dist) + "
     "fd_on_proj_d_dist;\n"
     "vec4 color = ucolors[0];\n"
     "for (int i=1; i<numColors; ++i) {\n"
     "    color = mix(color, ucolors[i], smoothstep(ucolorStops[i-1], ucolorStops[i], "
     "min(1.0, length(d)/cut_line_length )));\n}\n"},
    {BrushShader::kComplexSweep,
     "vec2 sweep = (pt - complexPoint);\nhighp float index = atan(sweep.y, sweep.x) * 0.15915494309;\n"
     "vec4 color = ucolors[0];\n"
     "for (int i=1; i<numColors; ++i) {\n"
     "    color = mix(color, ucolors[i], smoothstep(ucolorStops[i-1], ucolorStops[i], "
     "clamp(index - floor(index), 0.0, 1.0)));\n}\n"},
    {BrushShader::kSolid, "vec4 color = ucolors[0];\n"},
    // The pattern tiles. The engine's textures hold straight (not
    // premultiplied) alpha, so the colour is used as it is: dividing it by
    // its alpha would brighten every translucent pixel of a masked layer.
    {BrushShader::kImagePattern, "vec2 t = mod(pt, extent) / extent;\nvec4 color = texture2D(tex, t);\n"},
};

}  // namespace

BrushShader::BrushShader(int features)
    : GLShader(std::string(), std::string()),
      mFeatures(features),
      mVertexText(formVertexString(features)),
      mFragmentText(formFragmentString(features)) {
    setSource(mVertexText, mFragmentText);
    addAttributeBinding("avertex", 0);
    addAttributeBinding("atcoord", 1);
}

BrushShader* BrushShader::create(int features) {
    return new BrushShader(features);
}

int BrushShader::getBrushShaderFeatures(const Brush* brush, bool antiAlias) {
    int features = antiAlias ? kAntiAlias : 0;
    if (!brush) return features;
    const int style = brush->getStyle();
    if (style >= 0 && style < static_cast<int>(sizeof(kStyleFeatures) / sizeof(kStyleFeatures[0])))
        features |= kStyleFeatures[style];
    if (brush->shouldFlip()) features |= kFlip;
    return features;
}

std::string BrushShader::formVertexString(int features) {
    std::string text =
        "attribute vec3 avertex;\nattribute vec3 atcoord;\nvarying vec2 vtcoord;\nuniform vec2 viewPort;\n"
        "varying vec2 vpos;\nuniform mat4 umvp;\nvoid main(){\n";
    if (features & kFlip)
        text += "vec2 vertex = avertex.xy + vec2(-viewPort.x * 0.5, -viewPort.y * 0.5);\n";
    else
        text += "vec2 vertex = vec2(avertex.x - viewPort.x * 0.5, viewPort.y * 0.5 - avertex.y);\n";
    text +=
        "vpos = avertex.xy;\nvtcoord = atcoord.xy;\ngl_Position = umvp * vec4(vertex.x, vertex.y, 0.0, "
        "1.0);\n}\n";
    return text;
}

std::string BrushShader::formFragmentString(int features) {
    std::string text = "#ifdef GL_ES\nprecision highp float;\n#endif\n";
    text += "varying vec2 vtcoord;\n";
    text += "varying vec2 vpos;\n";
    if (!(features & kStencil)) {
        text +=
            "uniform vec3 ufrag[3];\n"
            "#define extent ufrag[0].xy\n"
            "#define strokeMult ufrag[0].z\n"
            "#define tex_type ufrag[1].x\n"
            "#define complexPoint ufrag[1].yz\n"
            "#define radius ufrag[2].x\n"
            "#define numColors (int(ufrag[2].y))\n"
            "#define alpha ufrag[2].z\n";
    }
    if (features & kAntiAlias)
        text +=
            "#define stroke_mask (min(1.0, (1.0-abs(vtcoord.x*2.0-1.0))*strokeMult) * min(1.0, vtcoord.y))\n";
    if (features & kColors) text += "uniform vec4 ucolors[21];\n";
    if (features & kImagePattern) text += "uniform sampler2D tex;\n";
    if (features & kPaintTransform) text += "uniform mat4 paintMat;\n";
    if (features & kColorStops) text += "uniform float ucolorStops[21];\n";
    text += "void main(){\n";
    if (features & kPaintTransform) text += "vec2 pt = (paintMat * vec4(vpos, 0, 1.0)).xy;\n";
    for (const ColourStatement& statement : kColourStatements)
        if (features & statement.feature) text += statement.text;
    if (features & kAntiAlias)
        text += "gl_FragColor = vec4(color.rgb, color.a * stroke_mask * alpha);\n";
    else if (features & kStencil)
        text += "gl_FragColor = vec4(1.0);\n";
    else
        // The colour's own alpha counts as it does with anti-aliasing (the
        // bare brush alpha alone would paint translucent colours opaque).
        text += "gl_FragColor = vec4(color.rgb, color.a * alpha);\n";
    text += "gl_FragColor = vec4(gl_FragColor.rgb, gl_FragColor.a);\n}\n\n";
    return text;
}

}  // namespace Core
}  // namespace Quorvane
