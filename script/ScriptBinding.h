// Mechanics shared by every binding class: how a value userdata owns its copy,
// how a scene userdata lends an engine object, argument checks, class and
// enumeration-table registration. Each binding source holds only its tables
// of Lua names and thin wrappers around the engine operations.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include <lua.hpp>

#include "render/GLBase.h"
#include "script/ScriptManager.h"

namespace Quorvane {
namespace Core {

class RenderLayer;
class TimeUnit;
class TransformManager;

namespace ScriptBinding {

// ---- value family: the userdata block holds one pointer to its own copy.

// The owned copy behind a value userdata of that class (or a class naming it
// in its super chain); null for anything else and for a copy already
// collected, so a script calling "__gc" by hand cannot reach freed memory.
// Value classes do not inherit, and a script can reach a class metatable (its
// "__index" is itself) and write a "super" into it; so a value block is taken
// only from a userdata whose metatable is the class's own.
void** valueBlock(lua_State* L, int index, const char* className);

template <class T>
T* valueAt(lua_State* L, int index, const char* className) {
    void** block = valueBlock(L, index, className);
    return block ? static_cast<T*>(*block) : nullptr;
}

// As valueAt, but raises the argument error with the given text when it fails.
template <class T>
T& checkValue(lua_State* L, int index, const char* className, const char* message = "param is invalid") {
    T* value = valueAt<T>(L, index, className);
    if (!value) luaL_argerror(L, index, message);
    return *value;
}

// Gives the userdata at the top the class metatable without marking it for
// finalisation: a script can reach a class metatable and put a function of
// its own under "__gc", which would then run with the time budget's hook off.
void setClassMetatable(lua_State* L, const char* className);

// A new userdata with the class metatable holding the copy of the value
// itself, after the pointer to it: the copy is counted by the interpreter's
// allocator like any other script memory and goes with the userdata.
template <class T>
void pushValue(lua_State* L, const T& value, const char* className) {
    static_assert(std::is_trivially_destructible<T>::value, "the copy is never destroyed");
    struct Block {
        void* copy;
        T value;
    };
    static_assert(alignof(Block) <= alignof(lua_Number) && alignof(Block) <= alignof(void*),
                  "userdata memory is aligned for numbers and pointers only");
    auto* block = static_cast<Block*>(lua_newuserdata(L, sizeof(Block)));
    block->copy = new (&block->value) T(value);
    setClassMetatable(L, className);
}

// "__gc" (only ever called by a script): forgets the copy. With a message, a
// value of another class raises that argument error; without, it is ignored.
template <class T>
int collectValue(lua_State* L, const char* className, const char* message) {
    void** block = valueBlock(L, 1, className);
    if (!block) {
        if (message) luaL_argerror(L, 1, message);
        return 0;
    }
    *block = nullptr;
    return 0;
}

inline float checkFloat(lua_State* L, int index) {
    return static_cast<float>(luaL_checknumber(L, index));
}

// Logs the count message with the argument count and raises the error value
// at the top of the stack, as the value bindings do for a wrong count.
[[noreturn]] void countError(lua_State* L, const char* format);

// The arithmetic metamethods ("__add", "__sub", "__mul", "__div") of a value
// class, by operator.
enum class Arith { Add, Sub, Mul, Div };

template <Arith Op, class A, class B>
A arith(const A& a, const B& b) {
    switch (Op) {
        case Arith::Add:
            return a + b;
        case Arith::Sub:
            return a - b;
        case Arith::Mul:
            return a * b;
        default:
            return a / b;
    }
}

// ---- scene family: the userdata block holds one borrowed engine pointer.

// Pushes nil for null, else a new userdata lending the object with the
// class metatable. Lua never deletes it.
void pushScene(lua_State* L, GLBase* object, const char* className);

// The engine object of a scene userdata whose class is (or inherits) the
// given one, as T; null on any mismatch.
// Scene userdata carry a mark that scripts cannot forge, so that a value
// userdata dressed up with a scene class in its "super" never reaches here.
GLBase* sceneBlock(lua_State* L, int index, const char* className);

template <class T>
T* sceneAt(lua_State* L, int index, const char* className) {
    return dynamic_cast<T*>(sceneBlock(L, index, className));
}

// The object of a scene call whose Lua types are exactly these (the first
// being the object); null on any mismatch.
template <class T>
T* sceneObject(lua_State* L, const char* className, std::initializer_list<int> types);

// Before the engine deletes an object a script may hold: every userdata
// lending it is emptied (it then answers like a mismatch) and the script host
// forgets it.
void forgetScene(lua_State* L, GLBase* object);

inline int pushNil(lua_State* L) {
    lua_pushnil(L);
    return 1;
}
inline int pushNumber(lua_State* L, float value) {
    lua_pushnumber(L, value);
    return 1;
}
inline int pushBool(lua_State* L, bool value) {
    lua_pushboolean(L, value);
    return 1;
}

// True when the call has exactly these Lua types, in order.
bool argsAre(lua_State* L, std::initializer_list<int> types);

template <class T>
T* sceneObject(lua_State* L, const char* className, std::initializer_list<int> types) {
    return argsAre(L, types) ? sceneAt<T>(L, 1, className) : nullptr;
}

// Copies the string at the index (which must be a string).
std::string toString(lua_State* L, int index);

// ---- limits on what a script may make the engine allocate.

// H.264 encoders take at most 8192 pixels a side; a larger pass or
// composition would only exhaust memory when its texture is made.
constexpr lua_Integer kMaxPixelSide = 8192;
// The longest span a script may ask a render for, in frames: writing a
// keyframe at frame n fills the transform track up to n, and a composition's
// duration is how many frames get drawn. About five hours at 60 frames per
// second; beyond that a frame number is a runaway.
constexpr lua_Integer kMaxFrames = lua_Integer(1) << 20;

// A pass side: 0 (inherit from the parent; refused where there is none) up
// to the limit.
inline bool passSizeAllowed(lua_Integer side) {
    return side >= 0 && side <= kMaxPixelSide;
}
// A composition or source side: 1 up to the limit.
inline bool compSizeAllowed(lua_Integer side) {
    return side >= 1 && side <= kMaxPixelSide;
}
inline bool keyframeAllowed(lua_Integer frame) {
    return frame <= kMaxFrames;
}
inline bool frameCountAllowed(lua_Integer frames) {
    return frames >= 0 && frames <= kMaxFrames;
}
// The same, logging a refusal after the text naming the call.
bool compSizeAccepted(lua_State* L, lua_Integer width, lua_Integer height, const char* what);
bool frameCountAccepted(lua_State* L, lua_Integer frames, const char* what);
// A frame number, either side of zero.
inline bool frameInRange(lua_Integer frame) {
    return frame >= -kMaxFrames && frame <= kMaxFrames;
}

// Times a script holds (TimeUnit values, layer times) are limited in seconds
// of their own rate: at most the longest timeline a render takes (a day)
// either side of zero, at a rate from 0 to kMaxTimeRate. A million covers
// every video and audio rate, and keeps every frame count below 2^37, so
// conversions between such rates stay far from the int64 range. A rate of 0
// (what a rate with a fraction reads as) makes a time without length: it
// converts to 0 frames; its count is held to a day at the highest rate.
constexpr double kMaxTimeRate = 1e6;
// Whether a script may hold the time; if not, logs why (after the text
// naming the call) and answers false.
bool timeAccepted(lua_State* L, const TimeUnit& t, const char* what);
// Whether a rate may be converted to (0 up to kMaxTimeRate); logs as above.
bool rateAccepted(lua_State* L, double rate, const char* what);
// A rate of 0 on either side of a conversion gives 0 frames (or adds
// nothing): such a conversion is logged, once per call.
void noteZeroRate(lua_State* L, float from, float to, const char* what);

// A float truncated to an integer for a script, without undefined behaviour:
// NaN gives 0, values past the integer range saturate.
lua_Integer wholeNumber(double value);

// What engine objects made from a script are charged against the script's
// memory cap (estimates of their heap size, textures counted at 4 bytes a
// pixel): a layer with its pass and transform state, one transform record, a
// source or composition before its pixels, a music track.
constexpr size_t kLayerCost = size_t(16) << 10;
constexpr size_t kKeyframeCost = 256;
constexpr size_t kObjectCost = size_t(64) << 10;
// A music track: the mix opens a decoder with its buffers for each.
constexpr size_t kTrackCost = size_t(1) << 20;
inline size_t pixelCost(lua_Integer width, lua_Integer height) {
    if (width <= 0 || height <= 0) return kObjectCost;
    return kObjectCost + static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
}

// What a transform track's records take as a layer's own: a pointer a frame
// of the per-frame list and a record for each record (frames that share one
// share it). Read without copying a shared track.
size_t trackBytes(const TransformManager& track);
// Before a binding changes the layer's transform track: a track still shared
// by the layers naming its data file becomes the layer's own copy, charged
// first (or the memory error raised while the track is still shared).
void chargeOwnTrack(lua_State* L, RenderLayer& layer);

// Before a getter reads the layer's matrices at frame t (with world, those of
// every layer its world matrix walks): the copies of shared records the read
// caches for good are charged first (or the memory error raised before any
// is made). Frames the engine draws fill the same caches uncharged.
void chargeMatrixRead(lua_State* L, RenderLayer& layer, long long t, bool world);

// Charges the growth of a texture's pixels from the old size to the new.
void chargeResize(lua_State* L, lua_Integer oldWidth, lua_Integer oldHeight, lua_Integer width,
                  lua_Integer height);

// What the engine's copy of a text of that many bytes takes: a string
// object and, past its inline room, a heap block. A list of texts is an array
// of such objects, so a list of one-byte names costs far more than its bytes.
size_t keptTextBytes(size_t length);
size_t keptListBytes(const std::vector<std::string>& texts);

// A Lua array of texts that the engine keeps as a list: whether elements 1 to
// its length are all strings; when they are, the list's copy and the extra
// bytes are charged (or the memory error raised) before anything is copied.
bool chargeTextArray(lua_State* L, int index, size_t extra = 0);
// The strings of such an array, in order.
std::vector<std::string> textArray(lua_State* L, int index);

// Copies the string at the index (which must be a string) for the engine to
// keep, in place of a text of kept bytes: the growth is counted against the
// script's memory cap first (or the memory error raised).
std::string storedText(lua_State* L, int index, size_t kept = 0);

// A log line caused by a script call: it counts against the script's share of
// the log, so that a script repeating the call cannot flood it.
void logLine(lua_State* L, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Counts the bytes of texts the engine keeps against the script's memory cap,
// or raises the memory error.
void chargeText(lua_State* L, size_t bytes);

// Charges the bytes or raises the interpreter's memory error. Call it before
// any C++ object with a destructor is alive in the binding.
void charge(lua_State* L, size_t bytes);

// ---- registration.

struct ClassSpec {
    const char* className;    // metatable name in the registry
    const char* superName;    // base class's metatable name, or null
    const luaL_Reg* methods;  // instance methods and metamethods
    const luaL_Reg* statics;  // functions of the global table
};

// The body of every luaopenClass: the class metatable (with "super" and the
// inheriting __index when it has a base), and the global table returned.
int openClass(lua_State* L, const ClassSpec& desc);

// luaL_requiref with the global name, leaving the stack as it was.
void requireClass(lua_State* L, const char* globalName, lua_CFunction open);

struct EnumEntry {
    const char* name;
    lua_Integer value;
};

// Sets the global table of that name from the entries.
void setEnumGlobal(lua_State* L, const char* name, std::initializer_list<EnumEntry> entries);

}  // namespace ScriptBinding
}  // namespace Core
}  // namespace Quorvane
