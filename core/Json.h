// Typed reads of template JSON shared by every loader of the engine.
//
// Template files come from outside and may hold anything. rapidjson asserts
// (or reads the wrong union member) when a value is used as a type it does not
// have, so every read here tests the type first: a value of another type
// leaves the output unchanged and answers false, and a loader simply passes it
// over. Nothing here logs.
#pragma once

#include <rapidjson/document.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "core/Vector.h"

namespace Quorvane {
namespace Core {
namespace Json {

using Value = rapidjson::Value;
using Document = rapidjson::Document;

// Deepest nesting of arrays and objects a parse accepts. rapidjson's parser,
// its writer and the engine's loaders all recurse once per level, so a file of
// a million "[" would otherwise overflow the stack. Real templates stay below
// twenty levels.
constexpr int kMaxDepth = 512;

enum class ByteOrderMark {
    Skip,    // a leading EF, BB, BF is skipped (each byte only when present)
    Reject,  // the bytes are parsed as they are, so a mark fails the parse
};

// Parses one whole JSON document with the default strict flags: blanks around
// the root are allowed, anything else after it is an error. With Reject the
// text ends at its first zero byte, as zero-terminated text does. On failure
// (syntax error, empty input, nesting deeper than kMaxDepth) the document is
// null and the result false.
bool parse(Document& doc, const char* bytes, size_t size, ByteOrderMark bom);
inline bool parse(Document& doc, const std::string& text, ByteOrderMark bom) {
    return parse(doc, text.data(), text.size(), bom);
}

// As parse with Reject, for a document whose root is an array: each element
// is parsed alone and handed to `each` (while it answers true; the rest is
// still checked), so a large array never lives whole as values. False, after
// any number of elements, when the text does not parse or its root is not an
// array: the caller drops what it was given.
bool parseArrayElements(const char* bytes, size_t size, const std::function<bool(const Value&)>& each);

// Compact JSON text of a value (no blanks, members in document order).
std::string write(const Value& value);

// Member lookup: the first member of that name, or null when `object` is not an
// object or has no such member.
const Value* find(const Value& object, const char* key);
Value* find(Value& object, const char* key);
// The member when it is an array (or object); null otherwise.
const Value* findArray(const Value& object, const char* key);
Value* findArray(Value& object, const char* key);
const Value* findObject(const Value& object, const char* key);
Value* findObject(Value& object, const char* key);

// True when a member name (a string value) is exactly `key`.
bool nameIs(const Value& name, const char* key);

// Typed reads of one value. Each answers true and stores the value when it has
// the type named, and answers false leaving `out` unchanged otherwise.
bool getBool(const Value& v, bool& out);
bool getInt(const Value& v, int32_t& out);  // fits a signed 32-bit integer
bool getInt64(const Value& v, int64_t& out);
bool getString(const Value& v, std::string& out);  // keeps embedded zero bytes
// Any number, integer or floating point, as a double.
bool getNumber(const Value& v, double& out);
// Any number narrowed to float; a magnitude beyond the float range becomes an
// infinity of its sign (a plain cast of such a double is undefined behaviour).
bool getNumber(const Value& v, float& out);
// A frame-rate style float: an integer that fits 32 bits, or a floating-point
// number within the float range. Unsigned or 64-bit integers beyond 32 bits and
// doubles beyond the float range answer false.
bool getFloat(const Value& v, float& out);

// An array of 2 or 3 numbers: x, y and z, z being `zWhenTwo` for two numbers.
// Any other length or a non-number element answers false.
bool getVec3(const Value& v, Vec3& out, float zWhenTwo);
// An array of exactly 2 numbers.
bool getVec2(const Value& v, Vec2& out);
// A pixel size [width, height]: an array whose first two elements are 32-bit
// integers. Both outputs change together or not at all.
bool getSize(const Value& v, int32_t& width, int32_t& height);

// One of the reads above applied to a member of an object; a missing member or
// a non-object answers false. Example: read(root, "fps", fps, getFloat).
template <typename T>
bool read(const Value& object, const char* key, T& out, bool (*get)(const Value&, T&)) {
    const Value* member = find(object, key);
    return member && get(*member, out);
}

// Narrows a double to float without undefined behaviour (see getNumber).
float toFloat(double d);

}  // namespace Json
}  // namespace Core
}  // namespace Quorvane
