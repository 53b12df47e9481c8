#include "shapes/Brush.h"

#include <algorithm>

namespace Quorvane {
namespace Core {

namespace {

// Not-a-number goes to 0.
float Clamp01(float v) {
    return v > 0 ? std::min(1.0f, v) : 0.0f;
}

}  // namespace

Brush::Brush() {
    mColors.reserve(kMaxStops);
    mStopPositions.reserve(kMaxStops);
}

void Brush::insertColorRecord(float position, const Color& c) {
    auto it = mStops.find(position);
    if (it != mStops.end()) {
        mColors[static_cast<size_t>(it->second)] = c;
        return;
    }
    mStops.emplace(position, static_cast<int>(mColors.size()));
    mColors.push_back(c);
    mStopPositions.push_back(position);
}

Brush* Brush::solidColor(const Color& c) {
    Brush* brush = new Brush();
    brush->insertColorRecord(0.0f, c);
    return brush;
}

Brush* Brush::twoColour(BrushStyle style, const Color& start, const Color& end) {
    if (start.equal(end)) return solidColor(start);
    Brush* brush = new Brush();
    brush->mStyle = style;
    brush->insertColorRecord(0.0f, start);
    brush->insertColorRecord(1.0f, end);
    return brush;
}

Brush* Brush::linearGradient(float x0, float y0, float x1, float y1, const Color& start, const Color& end) {
    Brush* brush = twoColour(kBrushLinear, start, end);
    if (brush->mStyle == kBrushLinear) {
        brush->mComplexPoint = Vec2(x0, y0);
        brush->mExtent = Vec2(x1, y1);
    }
    return brush;
}

Brush* Brush::radialGradient(float cx, float cy, float r, const Color& inner, const Color& outer) {
    Brush* brush = twoColour(kBrushRadial, inner, outer);
    if (brush->mStyle == kBrushRadial) {
        brush->mComplexPoint = Vec2(cx, cy);
        brush->mRadius = r;
    }
    return brush;
}

Brush* Brush::sweepGradient(float cx, float cy, const Color& start, const Color& end) {
    Brush* brush = twoColour(kBrushSweep, start, end);
    if (brush->mStyle == kBrushSweep) brush->mComplexPoint = Vec2(cx, cy);
    return brush;
}

Brush* Brush::complexLinearGradient(float x0, float y0, float x1, float y1) {
    Brush* brush = new Brush();
    brush->mStyle = kBrushComplexLinear;
    brush->mComplexPoint = Vec2(x0, y0);
    brush->mExtent = Vec2(x1, y1);
    return brush;
}

Brush* Brush::complexRadialGradient(float cx, float cy, float fx, float fy, float r) {
    Brush* brush = new Brush();
    brush->mStyle = kBrushComplexRadial;
    brush->mComplexPoint = Vec2(cx, cy);
    brush->mExtent = Vec2(fx, fy);
    brush->mRadius = r;
    return brush;
}

Brush* Brush::complexSweepGradient(float cx, float cy) {
    Brush* brush = new Brush();
    brush->mStyle = kBrushComplexSweep;
    brush->mComplexPoint = Vec2(cx, cy);
    return brush;
}

Brush* Brush::imagePattern(int image, const Vec2& size, const Rect& rect, float angle, float alpha) {
    Brush* brush = new Brush();
    brush->applyImagePattern(image, size, rect, angle, alpha);
    return brush;
}

void Brush::applyImagePattern(int image, const Vec2& size, const Rect& rect, float angle, float alpha) {
    mStyle = kBrushImagePattern;
    mImage = image;
    const Rect r = rect.isEmpty() ? Rect(Vec2(0, 0), size) : rect;
    Affine a(true);
    a.rotate(angle);
    a.m[2] = r.x;
    a.m[5] = r.y;
    mXform.setWithAffine(a);
    mExtent = Vec2(r.width, r.height);
    mAlpha = Clamp01(alpha);
}

void Brush::setAlpha(float alpha) {
    mAlpha = Clamp01(alpha);
}

bool Brush::getSolidColor(Color& out) const {
    if (mStyle != kBrushSolid || mColors.empty()) return false;
    out = mColors[static_cast<size_t>(mStops.at(0.0f))];
    return true;
}

bool Brush::setSolidColor(const Color& c) {
    if (mStyle != kBrushSolid) return false;
    insertColorRecord(0.0f, c);
    return true;
}

bool Brush::getSimpleGradientStartColor(Color& out) const {
    if (!isSimpleGradient() || mColors.empty()) return false;
    out = mColors[0];
    return true;
}

bool Brush::getSimpleGradientEndColor(Color& out) const {
    if (!isSimpleGradient() || mColors.size() < 2) return false;
    out = mColors[1];
    return true;
}

bool Brush::setSimpleGradientStartColor(const Color& c) {
    if (!isSimpleGradient()) return false;
    insertColorRecord(0.0f, c);
    return true;
}

bool Brush::setSimpleGradientEndColor(const Color& c) {
    if (!isSimpleGradient()) return false;
    insertColorRecord(1.0f, c);
    return true;
}

bool Brush::complexGradientAddColorStop(const Color& c, float position) {
    if (!isComplexGradient() || mColors.size() >= static_cast<size_t>(kMaxStops)) return false;
    insertColorRecord(Clamp01(position), c);
    return true;
}

bool Brush::getStopForComplexGradientAtIndex(unsigned short i, float& out) const {
    if (!isComplexGradient() || i >= mStopPositions.size()) return false;
    out = mStopPositions[i];
    return true;
}

void Brush::setColorStopAtIndex(unsigned short i, float position) {
    for (auto it = mStops.begin(); it != mStops.end(); ++it) {
        if (it->second == i) {
            mStops.erase(it);
            break;
        }
    }
    mStopPositions[i] = position;
    mStops[position] = i;
}

bool Brush::setStopForComplexGradientAtIndex(unsigned short i, float position) {
    if (!isComplexGradient() || i >= mStopPositions.size()) return false;
    setColorStopAtIndex(i, Clamp01(position));
    return true;
}

bool Brush::getColorForComplexGradientAtIndex(unsigned short i, Color& out) const {
    if (!isComplexGradient() || i >= mColors.size()) return false;
    out = mColors[i];
    return true;
}

void Brush::setColorAtIndex(unsigned short i, const Color& c) {
    mColors[i] = c;
}

bool Brush::setColorForComplexGradientAtIndex(unsigned short i, const Color& c) {
    if (!isComplexGradient() || i >= mColors.size()) return false;
    setColorAtIndex(i, c);
    return true;
}

bool Brush::complexGradientTransform(const Mat4& m) {
    if (!isComplexGradient()) return false;
    mXform = m;
    return true;
}

bool Brush::setImagePattern(int image) {
    if (mStyle != kBrushImagePattern) return false;
    mImage = image;
    return true;
}

bool Brush::setImagePattern(int image, const Vec2& size, const Rect& rect, float angle, float alpha) {
    if (mStyle != kBrushImagePattern) return false;
    applyImagePattern(image, size, rect, angle, alpha);
    return true;
}

}  // namespace Core
}  // namespace Quorvane
