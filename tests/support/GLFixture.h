// The headless GL context every GL test runs on, and the small helpers they
// share: upload a texture from bytes or floats, read a framebuffer, a
// destination or a texture back, and run one test in a child process.
//
// Pixel buffers are RGBA8 in GL order: row 0 is the bottom row of a
// framebuffer, which is also the row at texture coordinate v = 0.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "render/GLBase.h"

namespace Quorvane {
namespace Core {
struct GLContext;
class GLRenderDestination;
}  // namespace Core
}  // namespace Quorvane

namespace QvTest {

struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;

    const uint8_t* at(int x, int y) const { return &rgba[4 * (static_cast<size_t>(y) * width + x)]; }
    uint32_t packed(int x, int y) const {
        const uint8_t* p = at(x, y);
        return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
    }
};

// The framebuffer bound for drawing and reading now.
GLuint boundFramebuffer();

class GLFixture : public ::testing::Test {
public:
    // The context of this test program, made current on the calling thread
    // the first time; never released (Mesa's display lives with the process).
    // Null when the headless device cannot be opened.
    static Quorvane::Core::GLContext* sharedContext();

    // RGBA8 texture from w*h*4 bytes (row 0 at v = 0), nearest filtering,
    // clamped to the edge.
    static GLuint uploadTexture(int width, int height, const std::vector<uint8_t>& rgba);
    // RGBA32F texture from w*h*4 floats, nearest filtering: exact inputs for
    // shader arithmetic tests.
    static GLuint uploadFloatTexture(int width, int height, const std::vector<float>& rgba);
    static void deleteTexture(GLuint texture);

    // From the currently bound read framebuffer.
    static Pixels readFramebuffer(int x, int y, int width, int height);
    // Binds the destination (which attaches its texture), reads it whole and
    // binds the previously bound framebuffer again.
    static Pixels readDestination(Quorvane::Core::GLRenderDestination* destination);
    // Reads a texture of the given size through a scratch framebuffer; the
    // previous framebuffer binding is kept.
    static Pixels readTexture(GLuint texture, int width, int height);

    // Runs the named test ("Suite.Name") of this program in a child process
    // with QV_TEST_CHILD=1 in its environment (for tests that must tear a GL
    // display down or start without the shared context), with the extra
    // NAME=VALUE settings added. True when it passed.
    static bool runInChild(const std::string& testName, std::string* output = nullptr,
                           const std::vector<std::string>& extraEnv = {});
    static bool isChild();
    // Marks every shared object loaded so far as never to be unloaded. Mesa
    // unloads its driver at eglTerminate; a test that terminates a display
    // calls this first, so that leak reports about the driver's own
    // allocations still name the driver (and its suppressions apply).
    static void keepLoadedLibraries();

protected:
    void SetUp() override;
    void TearDown() override;
};

}  // namespace QvTest
