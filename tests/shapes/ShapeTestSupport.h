// Independent geometry for the shape tests: even-odd containment of a point
// in a set of polygons and the distance of a point to their outlines,
// computed in double precision without the engine's code, to decide which
// rendered pixels must be covered and which must not.
#pragma once

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace QvTest {

struct Pt {
    double x, y;
};
using Poly = std::vector<Pt>;

// Even-odd rule over all polygons (each closed by its implied last edge).
inline bool InsideEvenOdd(const std::vector<Poly>& polys, double x, double y) {
    bool inside = false;
    for (const Poly& poly : polys) {
        for (size_t i = 0, j = poly.size() - 1; i < poly.size(); j = i++) {
            const Pt& a = poly[i];
            const Pt& b = poly[j];
            if ((a.y > y) != (b.y > y) && x < (b.x - a.x) * (y - a.y) / (b.y - a.y) + a.x) inside = !inside;
        }
    }
    return inside;
}

inline double SegmentDistance(const Pt& p, const Pt& a, const Pt& b) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double len2 = dx * dx + dy * dy;
    double t = len2 > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / len2 : 0;
    t = std::min(1.0, std::max(0.0, t));
    return std::hypot(a.x + t * dx - p.x, a.y + t * dy - p.y);
}

// Distance to the nearest edge of any polygon (closing edges included).
inline double OutlineDistance(const std::vector<Poly>& polys, double x, double y) {
    double best = 1e300;
    for (const Poly& poly : polys)
        for (size_t i = 0, j = poly.size() - 1; i < poly.size(); j = i++)
            best = std::min(best, SegmentDistance(Pt{x, y}, poly[j], poly[i]));
    return best;
}

// One path object of the mask JSON: the polygon as line segments.
inline std::string MaskPathJson(const Poly& poly, bool hole = false, bool open = false) {
    std::string lines;
    for (size_t i = 0; i + 1 < poly.size(); ++i) {
        if (!lines.empty()) lines += ",";
        lines += "[[" + std::to_string(poly[i].x) + "," + std::to_string(poly[i].y) + "],[" +
                 std::to_string(poly[i + 1].x) + "," + std::to_string(poly[i + 1].y) + "]]";
    }
    return std::string("{\"hole\":") + (hole ? "true" : "false") + ",\"open\":" + (open ? "true" : "false") +
           ",\"lines\":[" + lines + "]}";
}

}  // namespace QvTest
