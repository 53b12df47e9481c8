// Float constants shared by the whole engine.
#pragma once

namespace Quorvane {
namespace Core {

// A holder of constants only; it is never instantiated. Every value is the
// 32-bit float nearest to the decimal written, except where noted.
struct Float {
    Float() = delete;

    static constexpr float radiansToDegreesFactor = 57.29578f;
    static constexpr float degreesToRadiansFactor = 0.017453292f;
    static constexpr float pixelEpsilon = 0.25f;
    static constexpr float epsilon = 1e-06f;
    // Largest finite float.
    static constexpr float max = 3.4028235e+38f;
    // Smallest positive normal float; it is not the most negative float.
    static constexpr float min = 1.1754944e-38f;
    static constexpr float sqrt3 = 1.7320508f;
    static constexpr float log10e = 0.4342945f;
    static constexpr float log2e = 1.442695f;
    static constexpr float e = 2.7182817f;
    // One float step below the float nearest to half pi (1.57079637): stored
    // templates and scripts were tuned against this value, so it is kept.
    static constexpr float halfPi = 1.57079625f;
    static constexpr float doublePi = 6.2831855f;
    static constexpr float pi = 3.1415927f;
};

}  // namespace Core
}  // namespace Quorvane
