// What a shape is painted with: a solid colour, a two-colour or multi-stop
// gradient (linear, radial, sweep) or an image pattern (the layer mask's
// brush, with the layer texture as its image).
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "core/Color.h"
#include "core/Matrix.h"
#include "core/Rect.h"
#include "core/Vector.h"

namespace Quorvane {
namespace Core {

enum BrushStyle : int32_t {
    kBrushSolid = 0,
    kBrushLinear = 1,
    kBrushRadial = 2,
    kBrushSweep = 3,
    kBrushComplexLinear = 4,
    kBrushComplexRadial = 5,
    kBrushComplexSweep = 6,
    kBrushImagePattern = 7,
};

class Brush {
public:
    // Room of the shader's colour and stop arrays.
    static constexpr int kMaxStops = 21;

    Brush();
    virtual ~Brush() = default;

    // Factories; each returns a new brush owned by the caller. The two-colour
    // ones give a solid brush of the start colour when both colours are equal.
    static Brush* solidColor(const Color& c);
    static Brush* linearGradient(float x0, float y0, float x1, float y1, const Color& start,
                                 const Color& end);
    static Brush* radialGradient(float cx, float cy, float r, const Color& inner, const Color& outer);
    static Brush* sweepGradient(float cx, float cy, const Color& start, const Color& end);
    static Brush* complexLinearGradient(float x0, float y0, float x1, float y1);
    static Brush* complexRadialGradient(float cx, float cy, float fx, float fy, float r);
    static Brush* complexSweepGradient(float cx, float cy);
    // The pattern spans rect (or (0, 0, size) when rect is empty), turned by
    // angle degrees; alpha is clamped to [0, 1].
    static Brush* imagePattern(int image, const Vec2& size, const Rect& rect, float angle, float alpha);

    BrushStyle getStyle() const { return mStyle; }
    Mat4 getXform() const { return mXform; }
    bool shouldFlip() const { return mShouldFlip; }
    void setShouldFlip(bool flip) { mShouldFlip = flip; }
    float getAlpha() const { return mAlpha; }
    void setAlpha(float alpha);

    // Setters and getters bound to styles answer false and change nothing
    // for a brush of another style.
    bool getSolidColor(Color& out) const;
    bool setSolidColor(const Color& c);
    bool getSimpleGradientStartColor(Color& out) const;
    bool getSimpleGradientEndColor(Color& out) const;
    bool setSimpleGradientStartColor(const Color& c);
    bool setSimpleGradientEndColor(const Color& c);
    // Refused past kMaxStops stops; the position is clamped to [0, 1].
    bool complexGradientAddColorStop(const Color& c, float position);
    bool getStopForComplexGradientAtIndex(unsigned short i, float& out) const;
    bool setStopForComplexGradientAtIndex(unsigned short i, float position);
    bool getColorForComplexGradientAtIndex(unsigned short i, Color& out) const;
    bool setColorForComplexGradientAtIndex(unsigned short i, const Color& c);
    bool complexGradientTransform(const Mat4& m);
    bool setImagePattern(int image);
    int getImagePattern() const { return mStyle == kBrushImagePattern ? mImage : 0; }
    bool setImagePattern(int image, const Vec2& size, const Rect& rect, float angle, float alpha);

    const Vec2& extent() const { return mExtent; }
    float radius() const { return mRadius; }
    int image() const { return mImage; }
    const Vec2& complexPoint() const { return mComplexPoint; }
    const std::vector<Color>& colors() const { return mColors; }
    const std::vector<float>& stopPositions() const { return mStopPositions; }
    size_t stopCount() const { return mColors.size(); }

private:
    bool isSimpleGradient() const { return mStyle >= kBrushLinear && mStyle <= kBrushSweep; }
    bool isComplexGradient() const { return mStyle >= kBrushComplexLinear && mStyle <= kBrushComplexSweep; }
    void insertColorRecord(float position, const Color& c);
    void setColorStopAtIndex(unsigned short i, float position);
    void setColorAtIndex(unsigned short i, const Color& c);
    void applyImagePattern(int image, const Vec2& size, const Rect& rect, float angle, float alpha);
    static Brush* twoColour(BrushStyle style, const Color& start, const Color& end);

    Mat4 mXform;
    Vec2 mExtent{-1.0f, -1.0f};
    float mRadius = 0.0f;
    int mImage = 0;
    bool mShouldFlip = true;
    Vec2 mComplexPoint;
    std::map<float, int> mStops;
    std::vector<Color> mColors;
    std::vector<float> mStopPositions;
    float mAlpha = 1.0f;
    BrushStyle mStyle = kBrushSolid;
};

}  // namespace Core
}  // namespace Quorvane
