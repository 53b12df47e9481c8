#include "script/Vec3Script.h"

#include "core/Matrix.h"
#include "core/Rotation.h"
#include "core/Vector.h"
#include "script/ScriptBinding.h"

namespace Quorvane {
namespace Core {

namespace {

using namespace ScriptBinding;
constexpr const char* kClass = Vec3Script::className;

// The object argument answers with the interpreter's own type error.
Vec3& self(lua_State* L) {
    void** block = static_cast<void**>(luaL_checkudata(L, 1, kClass));
    if (!*block) luaL_argerror(L, 1, "param is invalid");
    return *static_cast<Vec3*>(*block);
}
Vec3& arg(lua_State* L, int index, const char* message) {
    return checkValue<Vec3>(L, index, kClass, message);
}
const Mat4& mat(lua_State* L, int index, const char* message) {
    return checkValue<Mat4>(L, index, "Mat4Script", message);
}
int pushVec3(lua_State* L, const Vec3& v) {
    pushValue(L, v, kClass);
    return 1;
}

template <Vec3& (Vec3::*ByVec)(const Vec3&), Vec3& (Vec3::*ByScalar)(float)>
int inPlace(lua_State* L) {
    Vec3& v = self(L);
    if (lua_type(L, 2) == LUA_TNUMBER)
        (v.*ByScalar)(static_cast<float>(lua_tonumber(L, 2)));
    else
        (v.*ByVec)(arg(L, 2, "vec2 is invilid"));
    return 0;
}

template <Arith Op>
int arithmetic(lua_State* L) {
    const Vec3& a = arg(L, 1, "a is invilid");
    if (lua_type(L, 2) == LUA_TNUMBER)
        return pushVec3(L, arith<Op>(a, static_cast<float>(lua_tonumber(L, 2))));
    return pushVec3(L, arith<Op>(a, arg(L, 2, "vec2 is invilid")));
}

int create(lua_State* L) {
    const int n = lua_gettop(L);
    // Two or four and more arguments have no form; they are refused before
    // any userdata exists, so no Vec3 without its own copy can come out.
    if (n != 0 && n != 1 && n != 3) return luaL_error(L, "Vec3 error: do not match %d parm", n);
    // Every argument is read before anything is allocated: an argument error
    // jumps out of this function, past any C++ clean-up.
    Vec3 value;
    if (n == 0)
        value = Vec3();
    else if (n == 1 && lua_type(L, 1) == LUA_TNUMBER)
        value = Vec3(checkFloat(L, 1));
    else if (n == 1)
        value = Vec3(arg(L, 1, "other is invalid"));
    else
        value = Vec3(checkFloat(L, 1), checkFloat(L, 2), checkFloat(L, 3));
    pushValue(L, value, kClass);
    return 1;
}

int set(lua_State* L) {
    Vec3& v = self(L);
    const int n = lua_gettop(L);
    if (n == 2) {
        v.set(checkValue<Vec2>(L, 2, "Vec2Script"), 0.0f);
    } else if (n == 3 && lua_type(L, 2) == LUA_TUSERDATA) {
        v.set(checkValue<Vec2>(L, 2, "Vec2Script"), checkFloat(L, 3));
    } else if (n == 3) {
        v.set(static_cast<int>(luaL_checkinteger(L, 2)), checkFloat(L, 3));
    } else {
        v.set(checkFloat(L, 2), checkFloat(L, 3), checkFloat(L, 4));
    }
    return 0;
}

int equal(lua_State* L) {
    const Vec3& a = arg(L, 1, "start is invilid");
    const Vec3& b = arg(L, 2, "end is invilid");
    const float tolerance = lua_gettop(L) >= 3 ? checkFloat(L, 3) : 0.0f;
    return pushBool(L, a.equal(b, tolerance));
}

const luaL_Reg kStatics[] = {
    {"create", create},
    {"lerp",
     [](lua_State* L) {
         return pushVec3(L,
                         Vec3::lerp(arg(L, 1, "a is invilid"), arg(L, 2, "b is invilid"), checkFloat(L, 3)));
     }},
    {nullptr, nullptr},
};

const luaL_Reg kMethods[] = {
    {"getX", [](lua_State* L) { return pushNumber(L, arg(L, 1, "param is invalid").x); }},
    {"getY", [](lua_State* L) { return pushNumber(L, arg(L, 1, "param is invalid").y); }},
    {"getZ", [](lua_State* L) { return pushNumber(L, arg(L, 1, "param is invalid").z); }},
    {"setX", [](lua_State* L) { return arg(L, 1, "param is invalid").x = checkFloat(L, 2), 0; }},
    {"setY", [](lua_State* L) { return arg(L, 1, "param is invalid").y = checkFloat(L, 2), 0; }},
    {"setZ", [](lua_State* L) { return arg(L, 1, "param is invalid").z = checkFloat(L, 2), 0; }},
    {"set", set},
    {"setZero", [](lua_State* L) { return self(L).setZero(), 0; }},
    {"setNegate", [](lua_State* L) { return self(L).setNegate(), 0; }},
    {"setInvert", [](lua_State* L) { return self(L).setInvert(), 0; }},
    {"normalize", [](lua_State* L) { return self(L).normalize(), 0; }},
    {"equal", equal},
    {"isZero", [](lua_State* L) { return pushBool(L, self(L).isZero()); }},
    {"largestAbsComponent",
     [](lua_State* L) {
         lua_pushinteger(L, self(L).largestAbsComponent());
         return 1;
     }},
    {"add", inPlace<&Vec3::add, &Vec3::add>},
    {"sub", inPlace<&Vec3::sub, &Vec3::sub>},
    {"mult", inPlace<&Vec3::mult, &Vec3::mult>},
    {"divide", inPlace<&Vec3::divide, &Vec3::divide>},
    {"setFromMatrixPosition",
     [](lua_State* L) { return self(L).setFromMatrixPosition(mat(L, 2, "param is invalid")), 0; }},
    {"setFromMatrixColumn",
     [](lua_State* L) {
         Vec3& v = self(L);
         const Mat4& m = mat(L, 2, "param is invalid");
         const lua_Integer column = luaL_checkinteger(L, 3);
         // A 4x4 matrix has columns 0 to 3.
         if (column < 0 || column > 3) luaL_argerror(L, 3, "index out of range");
         v.setFromMatrixColumn(m, static_cast<int>(column));
         return 0;
     }},
    {"min", [](lua_State* L) { return self(L).getMin(arg(L, 2, "vec3 is invilid")), 0; }},
    {"max", [](lua_State* L) { return self(L).getMax(arg(L, 2, "vec3 is invilid")), 0; }},
    {"clamp",
     [](lua_State* L) { return self(L).clamp(arg(L, 2, "min is invilid"), arg(L, 3, "max is invilid")), 0; }},
    {"transformDirection",
     [](lua_State* L) { return self(L).transformDirection(mat(L, 2, "mat4 is invilid")), 0; }},
    {"applyMatrix4", [](lua_State* L) { return self(L).applyMatrix4(mat(L, 2, "mat4 is invilid")), 0; }},
    {"applyProjection",
     [](lua_State* L) { return self(L).applyProjection(mat(L, 2, "mat4 is invilid")), 0; }},
    {"applyQuaternion",
     [](lua_State* L) {
         return self(L).applyQuaternion(
                    checkValue<Quaternion>(L, 2, "QuaternionScript", "quaternion is invilid")),
                0;
     }},
    {"dot", [](lua_State* L) { return pushNumber(L, self(L).dot(arg(L, 2, "vec3 is invilid"))); }},
    {"distance", [](lua_State* L) { return pushNumber(L, self(L).distance(arg(L, 2, "vec3 is invilid"))); }},
    {"distanceSquare",
     [](lua_State* L) { return pushNumber(L, self(L).distanceSquare(arg(L, 2, "vec3 is invilid"))); }},
    {"length", [](lua_State* L) { return pushNumber(L, self(L).length()); }},
    {"lengthSquare", [](lua_State* L) { return pushNumber(L, self(L).lengthSquare()); }},
    {"setLength", [](lua_State* L) { return self(L).setLength(checkFloat(L, 2)), 0; }},
    {"cross", [](lua_State* L) { return pushVec3(L, self(L).cross(arg(L, 2, "vec3 is invilid"))); }},
    {"rotationalDifference",
     [](lua_State* L) { return pushVec3(L, self(L).rotationalDifference(arg(L, 2, "vec3 is invilid"))); }},
    {"negate", [](lua_State* L) { return pushVec3(L, self(L).negate()); }},
    {"invert", [](lua_State* L) { return pushVec3(L, self(L).invert()); }},
    {"ortho", [](lua_State* L) { return self(L).ortho(arg(L, 2, "vec3 is invilid")), 0; }},
    {"__add", arithmetic<Arith::Add>},
    {"__sub", arithmetic<Arith::Sub>},
    {"__mul", arithmetic<Arith::Mul>},
    {"__div", arithmetic<Arith::Div>},
    {"__eq",
     [](lua_State* L) { return pushBool(L, arg(L, 1, "a is invilid") == arg(L, 2, "b is invilid")); }},
    {"__gc", [](lua_State* L) { return collectValue<Vec3>(L, kClass, "Vec3Script parm is invalid"); }},
    {nullptr, nullptr},
};

const ClassSpec kSpec = {kClass, nullptr, kMethods, kStatics};

}  // namespace

int Vec3Script::luaopenClass(lua_State* L) {
    return openClass(L, kSpec);
}

void Vec3Script::registerFunctions(lua_State* L) {
    requireClass(L, "Vec3", luaopenClass);
}

void Vec3Script::newVec3(lua_State* L, const Vec3& v) {
    pushValue(L, v, kClass);
}

}  // namespace Core
}  // namespace Quorvane
