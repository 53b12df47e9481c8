// The vertices of one drawable shape in one GL array buffer; the fill and
// stroke caches each hold a range of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/Vector.h"
#include "render/GLBase.h"
#include "shapes/CacheableObject.h"

namespace Quorvane {
namespace Core {

// {x, y, 0, u, v, 1}: attribute 0 (avertex) is the first three floats,
// attribute 1 (atcoord) the last three; 24 bytes a vertex.
struct ShapeBufferVertex {
    float x = 0, y = 0, z = 0;
    float u = 0, v = 0, w = 0;
    static void SetVertex(ShapeBufferVertex* vertex, float x, float y, float u, float v);
};

class ShapeVertexBuffer : public CacheableObject, public GLBase {
public:
    static constexpr int kStride = sizeof(ShapeBufferVertex);

    ShapeVertexBuffer() = default;
    ~ShapeVertexBuffer() override;
    ShapeVertexBuffer(const ShapeVertexBuffer&) = delete;
    ShapeVertexBuffer& operator=(const ShapeVertexBuffer&) = delete;

    // Uploads every vertex to the bound GL buffer.
    void cache() override;

    // The range's start becomes the current vertex count; size zeroed
    // vertices are appended. The range stays its caller's.
    void allocShaderVertices(Range* range);
    // Erases the range's vertices and moves later ranges down; an unknown
    // range changes nothing.
    void removeShaderVertices(Range* range);
    // Throws std::out_of_range when the floats do not fit from index on.
    void fillShaderVertices(int index, const ShapeBufferVertex* source, int floatCount);
    // For writing; null (and a log line) past the end.
    ShapeBufferVertex* getShaderVertex(int index);
    // Creates the GL buffer on first use, binds it and uploads changes.
    void bindShaderVertexBuffer();
    int getShaderVertexBufferOffset() const;
    void flush();

    size_t vertexCount() const { return mVertices.size(); }
    const std::vector<ShapeBufferVertex>& vertices() const { return mVertices; }
    const std::vector<Range*>& ranges() const { return mRanges; }
    int32_t bufferId() const { return mBufferId; }

private:
    std::vector<ShapeBufferVertex> mVertices;
    std::vector<Range*> mRanges;
    int32_t mBufferId = -1;
};

}  // namespace Core
}  // namespace Quorvane
