// What the effect classes share: the per-frame parameter records they load
// from an effect item's "data" (inline or from a data file), the choice of the
// record for a frame, and the full-screen quad the colour effects draw with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include "render/GLBase.h"

namespace Quorvane {
namespace Core {

class GLShader;
class RenderLayer;

namespace EffectRecords {

// The JSON shape of one record: a bare number, or an array of `numbers`
// numbers (with `exact`, of no more than those either).
struct Shape {
    bool scalar;
    size_t numbers;
    bool exact = false;
};
constexpr Shape kNumber{true, 1};
constexpr Shape arrayOf(size_t numbers) {
    return Shape{false, numbers};
}
constexpr Shape exactArrayOf(size_t numbers) {
    return Shape{false, numbers, true};
}

// Receives one record: `shape.numbers` floats, in JSON order.
using Sink = std::function<void(const float* values)>;

// Reads the item's "data": a record of the shape itself (one record for every
// frame), or a string naming a file of the layer's data folder whose root array
// holds one record per frame. Elements of another shape, array records with
// fewer numbers than the shape needs (or more, for an exact shape) or with a
// non-number among those, are skipped, so the later frames move up by one;
// numbers past the needed ones are otherwise ignored. A missing, unreadable or unparsable file, or one whose root is
// not an array, gives nothing. Nothing is logged.
void load(const rapidjson::Value& item, RenderLayer* layer, Shape shape, const Sink& sink);

// One record of the shape from a JSON value into `out` (shape.numbers floats);
// false for any other shape.
bool readRecord(const rapidjson::Value& value, Shape shape, float* out);

// The text of a data file through the template file reader (plain or packed);
// false when it cannot be read.
bool readDataFile(const std::string& path, std::string& text);

// The record for a frame: an empty list leaves `current` alone; a frame below
// the count (compared unsigned, so every negative frame is past it) takes its
// record; any other frame the last one. Records are never interpolated.
template <typename T>
void choose(const std::vector<T>& list, long long frame, T& current) {
    if (list.empty()) return;
    const auto index = static_cast<unsigned long long>(frame);
    current = index < list.size() ? list[static_cast<size_t>(index)] : list.back();
}

}  // namespace EffectRecords

// The common vertex shader of the effects: passes the quad's coordinates on.
extern const char* const kEffectVertexShader;

// Makes a shader of the two texts with "position" at attribute 0 and
// "inCoords" at attribute 1 (built on its first use).
GLShader* newEffectShader(const std::string& vertex, const std::string& fragment);

// The quad that covers the whole destination: four vertices (x, y, s, t) as a
// triangle strip, texture coordinate (0, 0) at position (-1, -1). The buffer
// is made on the first bind and kept for the life of the owner; copies of an
// effect start without one.
class EffectQuad {
public:
    EffectQuad() = default;
    EffectQuad(const EffectQuad&) : EffectQuad() {}
    EffectQuad& operator=(const EffectQuad&) = delete;
    // Deletes the buffer: the owner's GL context must be current.
    ~EffectQuad();

    // Creates the buffer when there is none yet.
    void ensureBuffer();
    // Binds the buffer and points attribute 0 at (x, y) and 1 at (s, t).
    void bindAttributes();
    void drawStrip();
    // Disables attributes 0 and 1 and unbinds the array buffer.
    void unbindAttributes();
    uint32_t buffer() const { return mBuffer; }

    // The whole common pass: nothing for texture 0; otherwise blending off,
    // the program in use, the texture on unit 0 as "texture", the caller's
    // uniforms, one strip.
    void drawFullScreen(GLShader* shader, unsigned int texture,
                        const std::function<void(GLShader&)>& uniforms);

private:
    uint32_t mBuffer = 0;
};

}  // namespace Core
}  // namespace Quorvane
