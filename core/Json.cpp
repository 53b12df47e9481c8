#include "core/Json.h"

#include <rapidjson/encodedstream.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

namespace Quorvane {
namespace Core {
namespace Json {

namespace {

// Counts the nesting of arrays and objects outside strings without parsing.
// Malformed text is of no concern here: the parser reports it afterwards.
bool nestsTooDeep(const char* bytes, size_t size) {
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (size_t i = 0; i < size; ++i) {
        const char c = bytes[i];
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxDepth) return true;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

}  // namespace

bool parse(Document& doc, const char* bytes, size_t size, ByteOrderMark bom) {
    Document fresh;
    doc.Swap(fresh);
    if (bytes == nullptr) {
        bytes = "";
        size = 0;
    }
    if (bom == ByteOrderMark::Reject) size = strnlen(bytes, size);
    if (nestsTooDeep(bytes, size)) return false;

    rapidjson::MemoryStream stream(bytes, size);
    if (bom == ByteOrderMark::Skip) {
        rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream> withoutMark(stream);
        doc.ParseStream<rapidjson::kParseDefaultFlags, rapidjson::UTF8<>>(withoutMark);
    } else {
        doc.ParseStream<rapidjson::kParseDefaultFlags, rapidjson::UTF8<>>(stream);
    }
    if (doc.HasParseError()) {
        doc.SetNull();
        return false;
    }
    return true;
}

namespace {

// Finds where each element of the root array ends while the reader checks the
// whole text, and parses the element's own text there.
class ElementSplitter : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, ElementSplitter> {
public:
    ElementSplitter(const rapidjson::MemoryStream& stream, const std::function<bool(const Value&)>& each)
        : stream_(stream), each_(each) {}
    bool Default() { return depth_ == 1 ? elementEnds() : true; }
    bool StartObject() { return enter(); }
    bool EndObject(rapidjson::SizeType) { return leave(); }
    bool StartArray() {
        if (depth_ == 0) {
            rootIsArray_ = true;
            start_ = stream_.Tell();
        }
        return enter();
    }
    bool EndArray(rapidjson::SizeType) { return leave(); }
    bool rootIsArray() const { return rootIsArray_; }

private:
    bool enter() {
        ++depth_;
        return true;
    }
    bool leave() {
        --depth_;
        return depth_ == 1 ? elementEnds() : true;
    }
    bool elementEnds() {
        const size_t end = stream_.Tell();
        const char* text = stream_.begin_ + start_;
        size_t length = end - start_;
        start_ = end;
        if (!wanted_) return true;
        // Blanks and the comma before the element belong to no element.
        while (length > 0 && (*text == ',' || *text == ' ' || *text == '\t' || *text == '\n' || *text == '\r')) {
            ++text;
            --length;
        }
        // A document of its own: one reused would keep every element's memory.
        Document element;
        element.Parse(text, length);
        if (element.HasParseError()) return false;
        wanted_ = each_(element);
        return true;
    }

    const rapidjson::MemoryStream& stream_;
    const std::function<bool(const Value&)>& each_;
    size_t start_ = 0;
    int depth_ = 0;
    bool rootIsArray_ = false;
    bool wanted_ = true;
};

}  // namespace

bool parseArrayElements(const char* bytes, size_t size, const std::function<bool(const Value&)>& each) {
    if (bytes == nullptr) return false;
    size = strnlen(bytes, size);
    if (nestsTooDeep(bytes, size)) return false;
    rapidjson::MemoryStream stream(bytes, size);
    ElementSplitter splitter(stream, each);
    rapidjson::Reader reader;
    const bool parsed = !reader.Parse<rapidjson::kParseDefaultFlags>(stream, splitter).IsError();
    return parsed && splitter.rootIsArray();
}

std::string write(const Value& value) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    value.Accept(writer);
    return std::string(buffer.GetString(), buffer.GetSize());
}

const Value* find(const Value& object, const char* key) {
    if (!object.IsObject()) return nullptr;
    Value::ConstMemberIterator it = object.FindMember(key);
    return it == object.MemberEnd() ? nullptr : &it->value;
}

Value* find(Value& object, const char* key) {
    if (!object.IsObject()) return nullptr;
    Value::MemberIterator it = object.FindMember(key);
    return it == object.MemberEnd() ? nullptr : &it->value;
}

const Value* findArray(const Value& object, const char* key) {
    const Value* v = find(object, key);
    return v && v->IsArray() ? v : nullptr;
}

Value* findArray(Value& object, const char* key) {
    Value* v = find(object, key);
    return v && v->IsArray() ? v : nullptr;
}

const Value* findObject(const Value& object, const char* key) {
    const Value* v = find(object, key);
    return v && v->IsObject() ? v : nullptr;
}

Value* findObject(Value& object, const char* key) {
    Value* v = find(object, key);
    return v && v->IsObject() ? v : nullptr;
}

bool nameIs(const Value& name, const char* key) {
    if (!name.IsString()) return false;
    const size_t length = strlen(key);
    return name.GetStringLength() == length && memcmp(name.GetString(), key, length) == 0;
}

bool getBool(const Value& v, bool& out) {
    if (!v.IsBool()) return false;
    out = v.GetBool();
    return true;
}

bool getInt(const Value& v, int32_t& out) {
    if (!v.IsInt()) return false;
    out = v.GetInt();
    return true;
}

bool getInt64(const Value& v, int64_t& out) {
    if (!v.IsInt64()) return false;
    out = v.GetInt64();
    return true;
}

bool getString(const Value& v, std::string& out) {
    if (!v.IsString()) return false;
    out.assign(v.GetString(), v.GetStringLength());
    return true;
}

bool getNumber(const Value& v, double& out) {
    if (!v.IsNumber()) return false;
    out = v.GetDouble();
    return true;
}

bool getNumber(const Value& v, float& out) {
    if (!v.IsNumber()) return false;
    out = toFloat(v.GetDouble());
    return true;
}

bool getFloat(const Value& v, float& out) {
    if (v.IsInt()) {
        out = static_cast<float>(v.GetInt());
        return true;
    }
    if (v.IsFloat()) {
        out = static_cast<float>(v.GetDouble());
        return true;
    }
    return false;
}

bool getVec3(const Value& v, Vec3& out, float zWhenTwo) {
    if (!v.IsArray() || (v.Size() != 2 && v.Size() != 3)) return false;
    float f[3] = {0.0f, 0.0f, zWhenTwo};
    for (rapidjson::SizeType i = 0; i < v.Size(); ++i) {
        if (!getNumber(v[i], f[i])) return false;
    }
    out.x = f[0];
    out.y = f[1];
    out.z = f[2];
    return true;
}

bool getVec2(const Value& v, Vec2& out) {
    if (!v.IsArray() || v.Size() != 2) return false;
    float f[2];
    for (rapidjson::SizeType i = 0; i < 2; ++i) {
        if (!getNumber(v[i], f[i])) return false;
    }
    out.x = f[0];
    out.y = f[1];
    return true;
}

bool getSize(const Value& v, int32_t& width, int32_t& height) {
    if (!v.IsArray() || v.Size() < 2) return false;
    int32_t w = 0;
    int32_t h = 0;
    if (!getInt(v[0], w) || !getInt(v[1], h)) return false;
    width = w;
    height = h;
    return true;
}

float toFloat(double d) {
    if (d > static_cast<double>(FLT_MAX)) return std::numeric_limits<float>::infinity();
    if (d < -static_cast<double>(FLT_MAX)) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(d);  // NaN converts to NaN
}

}  // namespace Json
}  // namespace Core
}  // namespace Quorvane
