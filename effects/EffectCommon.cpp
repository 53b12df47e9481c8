#include "effects/EffectCommon.h"

#include "core/FileCodec.h"
#include "core/Json.h"
#include "render/DataFileCache.h"
#include "render/GLShader.h"
#include "scene/RenderLayer.h"

namespace Quorvane {
namespace Core {

namespace EffectRecords {

bool readRecord(const rapidjson::Value& value, Shape shape, float* out) {
    if (shape.scalar) return Json::getNumber(value, out[0]);
    if (!value.IsArray() || value.Size() < shape.numbers) return false;
    if (shape.exact && value.Size() != shape.numbers) return false;
    for (size_t i = 0; i < shape.numbers; ++i) {
        if (!Json::getNumber(value[static_cast<rapidjson::SizeType>(i)], out[i])) return false;
    }
    return true;
}

bool readDataFile(const std::string& path, std::string& text) {
    FileCodec codec(FileCodec::getFileCodecVersion(path));
    if (!codec.decodePack(path)) return false;
    const size_t size =
        codec.size < codec.content.size() ? static_cast<size_t>(codec.size) : codec.content.size();
    text.assign(codec.content.data(), size);
    return true;
}

namespace {

// The records of a data file of the shape, one after the other; null for a
// file that cannot be read or parsed, or whose root is no array.
std::shared_ptr<const std::vector<float>> readRecords(const std::string& path, Shape shape) {
    std::string text;
    if (!readDataFile(path, text)) return nullptr;
    // Effect data files are read as zero-terminated text, as the template
    // tools write them: a byte-order mark makes the parse fail.
    Json::Document doc;
    if (!Json::parse(doc, text, Json::ByteOrderMark::Reject) || !doc.IsArray()) return nullptr;
    auto records = std::make_shared<std::vector<float>>();
    std::vector<float> record(shape.numbers, 0.0f);
    for (const rapidjson::Value& element : doc.GetArray()) {
        if (readRecord(element, shape, record.data())) records->insert(records->end(), record.begin(), record.end());
    }
    return records;
}

}  // namespace

void load(const rapidjson::Value& item, RenderLayer* layer, Shape shape, const Sink& sink) {
    const rapidjson::Value* data = Json::find(item, "data");
    if (!data || shape.numbers == 0) return;
    std::vector<float> record(shape.numbers, 0.0f);

    if (!data->IsString()) {
        if (readRecord(*data, shape, record.data())) sink(record.data());
        return;
    }
    if (!layer) return;
    const std::string path = layer->dataFile(std::string(data->GetString(), data->GetStringLength()));
    if (path.empty()) return;
    const std::string kind = "effect records " + std::to_string(shape.scalar) + " " +
                             std::to_string(shape.numbers) + " " + std::to_string(shape.exact);
    const std::shared_ptr<const std::vector<float>> records = DataFileCache::get<std::vector<float>>(
        layer->dataFiles(), path, kind, [&path, shape] { return readRecords(path, shape); });
    if (!records) return;
    for (size_t i = 0; i + shape.numbers <= records->size(); i += shape.numbers) sink(records->data() + i);
}

}  // namespace EffectRecords

const char* const kEffectVertexShader =
    "attribute vec2 position;\n attribute vec2 inCoords;\n varying vec2 textureCoords;\nvoid "
    "main(){gl_Position "
    "= vec4(position.x, position.y, 0.0, 1.0); textureCoords = inCoords;}";

GLShader* newEffectShader(const std::string& vertex, const std::string& fragment) {
    auto* shader = new GLShader(vertex, fragment);
    shader->addAttributeBinding("position", 0);
    shader->addAttributeBinding("inCoords", 1);
    return shader;
}

namespace {

// x, y, s, t per vertex, in strip order.
const float kQuad[16] = {1, 1, 1, 1, 1, -1, 1, 0, -1, 1, 0, 1, -1, -1, 0, 0};
constexpr GLsizei kStride = 4 * sizeof(float);

}  // namespace

EffectQuad::~EffectQuad() {
    if (mBuffer != 0) glDeleteBuffers(1, &mBuffer);
}

void EffectQuad::ensureBuffer() {
    if (mBuffer != 0) return;
    glGenBuffers(1, &mBuffer);
    glBindBuffer(GL_ARRAY_BUFFER, mBuffer);
    glBufferData(GL_ARRAY_BUFFER, sizeof kQuad, kQuad, GL_STATIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

void EffectQuad::bindAttributes() {
    ensureBuffer();
    glBindBuffer(GL_ARRAY_BUFFER, mBuffer);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, kStride, nullptr);
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, kStride,
                          reinterpret_cast<const void*>(2 * sizeof(float)));
}

void EffectQuad::drawStrip() {
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

void EffectQuad::unbindAttributes() {
    glDisableVertexAttribArray(0);
    glDisableVertexAttribArray(1);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

void EffectQuad::drawFullScreen(GLShader* shader, unsigned int texture,
                                const std::function<void(GLShader&)>& uniforms) {
    if (texture == 0 || !shader) return;
    ensureBuffer();
    glDisable(GL_BLEND);
    shader->useProgram();
    bindAttributes();
    shader->setUniformTexture("texture", GL_TEXTURE_2D, static_cast<int>(texture), 0);
    if (uniforms) uniforms(*shader);
    drawStrip();
    unbindAttributes();
}

}  // namespace Core
}  // namespace Quorvane
