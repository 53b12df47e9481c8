#include "shapes/ShapeVertexBuffer.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "core/Log.h"

namespace Quorvane {
namespace Core {

static_assert(sizeof(ShapeBufferVertex) == 24, "the GL attribute layout expects 6 packed floats");

void ShapeBufferVertex::SetVertex(ShapeBufferVertex* vertex, float x, float y, float u, float v) {
    if (!vertex) return;
    vertex->x = x;
    vertex->y = y;
    vertex->z = 0;
    vertex->u = u;
    vertex->v = v;
    vertex->w = 1;
}

ShapeVertexBuffer::~ShapeVertexBuffer() {
    if (mBufferId >= 0) {
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        const GLuint id = static_cast<GLuint>(mBufferId);
        glDeleteBuffers(1, &id);
    }
}

void ShapeVertexBuffer::cache() {
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(mVertices.size() * sizeof(ShapeBufferVertex)),
                 mVertices.empty() ? nullptr : mVertices.data(), GL_STATIC_DRAW);
}

void ShapeVertexBuffer::allocShaderVertices(Range* range) {
    if (!range || range->size < 0) return;
    range->start = static_cast<int32_t>(mVertices.size());
    mVertices.resize(mVertices.size() + static_cast<size_t>(range->size));
    mRanges.push_back(range);
    markDirty();
}

void ShapeVertexBuffer::removeShaderVertices(Range* range) {
    auto it = std::find(mRanges.begin(), mRanges.end(), range);
    if (it == mRanges.end()) return;
    for (auto later = it + 1; later != mRanges.end(); ++later) (*later)->start -= range->size;
    mRanges.erase(it);
    const size_t start = std::min(mVertices.size(), static_cast<size_t>(std::max(0, range->start)));
    const size_t end = std::min(mVertices.size(), start + static_cast<size_t>(std::max(0, range->size)));
    mVertices.erase(mVertices.begin() + static_cast<long>(start), mVertices.begin() + static_cast<long>(end));
    markDirty();
}

void ShapeVertexBuffer::fillShaderVertices(int index, const ShapeBufferVertex* source, int floatCount) {
    const size_t available =
        index < 0 ? 0 : (mVertices.size() - std::min(mVertices.size(), size_t(index))) * 6;
    if (index < 0 || static_cast<size_t>(index) >= mVertices.size() || floatCount < 0 ||
        static_cast<size_t>(floatCount) > available)
        throw std::out_of_range("shape vertex index out of range");
    if (source && floatCount > 0)
        std::memcpy(&mVertices[static_cast<size_t>(index)], source,
                    sizeof(float) * static_cast<size_t>(floatCount));
    markDirty();
}

ShapeBufferVertex* ShapeVertexBuffer::getShaderVertex(int index) {
    if (index < 0 || static_cast<size_t>(index) >= mVertices.size()) {
        QVPrint("mShaderVerts out of range");
        return nullptr;
    }
    markDirty();
    return &mVertices[static_cast<size_t>(index)];
}

void ShapeVertexBuffer::bindShaderVertexBuffer() {
    if (mBufferId < 0) {
        GLuint id = 0;
        glGenBuffers(1, &id);
        mBufferId = static_cast<int32_t>(id);
        markDirty();
    }
    glBindBuffer(GL_ARRAY_BUFFER, static_cast<GLuint>(mBufferId));
    updateCache();
}

int ShapeVertexBuffer::getShaderVertexBufferOffset() const {
    return static_cast<int>(mVertices.size() * 6) & ~1;
}

void ShapeVertexBuffer::flush() {
    mVertices.clear();
    mRanges.clear();
    markDirty();
}

}  // namespace Core
}  // namespace Quorvane
