#include "script/Mat4Script.h"

#include "core/Matrix.h"
#include "core/Rotation.h"
#include "core/Vector.h"
#include "script/AffineScript.h"
#include "script/QuaternionScript.h"
#include "script/ScriptBinding.h"
#include "script/Vec3Script.h"
#include "script/Vec4Script.h"

namespace Quorvane {
namespace Core {

namespace {

using namespace ScriptBinding;
constexpr const char* kClass = Mat4Script::className;

Mat4& arg(lua_State* L, int index) {
    return checkValue<Mat4>(L, index, kClass);
}
const Vec3& vec3(lua_State* L, int index) {
    return checkValue<Vec3>(L, index, Vec3Script::className);
}
const Vec4& vec4(lua_State* L, int index) {
    return checkValue<Vec4>(L, index, Vec4Script::className);
}
const Quaternion& quat(lua_State* L, int index) {
    return checkValue<Quaternion>(L, index, QuaternionScript::className);
}
int pushMat4(lua_State* L, const Mat4& m) {
    pushValue(L, m, kClass);
    return 1;
}
int pushVec3(lua_State* L, const Vec3& v) {
    Vec3Script::newVec3(L, v);
    return 1;
}

// Rows and columns of a 4x4 matrix are numbered 0 to 3; the engine's
// accessors do not check.
int rowIndex(lua_State* L, int index) {
    const lua_Integer i = luaL_checkinteger(L, index);
    if (i < 0 || i > 3) luaL_argerror(L, index, "index out of range");
    return static_cast<int>(i);
}

void readFloats(lua_State* L, int first, int count, float* out) {
    for (int i = 0; i < count; ++i) out[i] = checkFloat(L, first + i);
}

// The 16 numbers of a table; a table of fewer raises the argument error
// instead of reading values that were never given.
void readTable(lua_State* L, int index, float* out) {
    if (lua_rawlen(L, index) < 16) luaL_argerror(L, index, "param is invalid");
    for (int i = 0; i < 16; ++i) {
        lua_rawgeti(L, index, i + 1);
        out[i] = static_cast<float>(lua_tonumber(L, -1));
        lua_pop(L, 1);
    }
}

int create(lua_State* L) {
    const int n = lua_gettop(L);
    if (n != 0 && n != 1 && n != 2 && n != 4 && n != 5 && n != 16 && n != 17)
        countError(L, "Mat4 error: do not match %d parms");
    // Every argument is read before anything is allocated: an argument error
    // jumps out of this function, past any C++ clean-up.
    Mat4 value;
    float values[16];
    if (n == 0) {
        value = Mat4(true);
    } else if (n == 1 && lua_type(L, 1) == LUA_TBOOLEAN) {
        value = Mat4(lua_toboolean(L, 1) != 0);
    } else if (n == 1 && lua_type(L, 1) == LUA_TTABLE) {
        readTable(L, 1, values);
        value = Mat4(values, false);
    } else if (n == 1) {
        value = Mat4(arg(L, 1));
    } else if (n == 2) {
        luaL_checktype(L, 1, LUA_TTABLE);
        readTable(L, 1, values);
        value = Mat4(values, lua_toboolean(L, 2) != 0);
    } else if (n == 4 || n == 5) {
        const bool rows = n == 4 || lua_toboolean(L, 5) != 0;
        value = Mat4(vec4(L, 1), vec4(L, 2), vec4(L, 3), vec4(L, 4), rows);
    } else {
        readFloats(L, 1, 16, values);
        value = Mat4(values, n == 17 && lua_toboolean(L, 17) != 0);
    }
    pushValue(L, value, kClass);
    return 1;
}

int valueIndex(lua_State* L) {
    const lua_Integer i = luaL_checkinteger(L, 2);
    if (i >= 16) {
        logLine(L, "Mat4 error: wrong index");
        luaL_error(L, "Mat4 error: wrong index");
    }
    // Below 0 is as far outside the matrix as 16 and above.
    if (i < 0) luaL_argerror(L, 2, "index out of range");
    return static_cast<int>(i);
}

int set(lua_State* L) {
    Mat4& m = arg(L, 1);
    float v[16];
    readFloats(L, 2, 16, v);
    m.set(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11], v[12], v[13], v[14],
          v[15]);
    return 0;
}

// A Vec3, or x, y, z.
template <void (Mat4::*ByVec)(const Vec3&), void (Mat4::*ByFloats)(float, float, float)>
int vecOrFloats(lua_State* L) {
    Mat4& m = arg(L, 1);
    if (lua_gettop(L) == 2)
        (m.*ByVec)(vec3(L, 2));
    else
        (m.*ByFloats)(checkFloat(L, 2), checkFloat(L, 3), checkFloat(L, 4));
    return 0;
}

// A Vec3, a Vec4, or x, y, z.
template <void (Mat4::*ByVec3)(const Vec3&), void (Mat4::*ByVec4)(const Vec4&),
          void (Mat4::*ByFloats)(float, float, float)>
int vec34OrFloats(lua_State* L) {
    Mat4& m = arg(L, 1);
    if (lua_gettop(L) == 2) {
        if (Vec4* v = valueAt<Vec4>(L, 2, Vec4Script::className))
            (m.*ByVec4)(*v);
        else
            (m.*ByVec3)(vec3(L, 2));
    } else {
        (m.*ByFloats)(checkFloat(L, 2), checkFloat(L, 3), checkFloat(L, 4));
    }
    return 0;
}

// Angle and a Vec3 axis, or angle, x, y, z.
template <void (Mat4::*ByVec)(float, const Vec3&), void (Mat4::*ByFloats)(float, float, float, float)>
int angleAxis(lua_State* L) {
    Mat4& m = arg(L, 1);
    if (lua_gettop(L) == 3)
        (m.*ByVec)(checkFloat(L, 2), vec3(L, 3));
    else
        (m.*ByFloats)(checkFloat(L, 2), checkFloat(L, 3), checkFloat(L, 4), checkFloat(L, 5));
    return 0;
}

template <void (Mat4::*Op)(float)>
int angle(lua_State* L) {
    (arg(L, 1).*Op)(checkFloat(L, 2));
    return 0;
}

template <Mat4& (Mat4::*Op)(const Mat4&)>
int withMatrix(lua_State* L) {
    const Mat4 other = arg(L, 2);
    (arg(L, 1).*Op)(other);
    return 0;
}

int setLookAt(lua_State* L) {
    Mat4& m = arg(L, 1);
    if (lua_gettop(L) == 4) {
        m.setLookAt(vec3(L, 2), vec3(L, 3), vec3(L, 4));
    } else {
        float v[9];
        readFloats(L, 2, 9, v);
        m.setLookAt(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]);
    }
    return 0;
}

int compose(lua_State* L) {
    Mat4& m = arg(L, 1);
    if (lua_gettop(L) == 4)
        m.compose(vec3(L, 2), quat(L, 3), vec3(L, 4));
    else
        m.compose(vec3(L, 2), vec3(L, 3), quat(L, 4), vec3(L, 5));
    return 0;
}

int decompose(lua_State* L) {
    const Mat4& m = arg(L, 1);
    const int n = lua_gettop(L);
    if (n != 1 && n != 2) return 3;
    Vec3 position, scale;
    Quaternion q;
    if (n == 2)
        m.decompose(vec3(L, 2), position, q, scale);
    else
        m.decompose(position, q, scale);
    Vec3Script::newVec3(L, position);
    QuaternionScript::newQuaternion(L, q);
    Vec3Script::newVec3(L, scale);
    return 3;
}

int getInverse(lua_State* L) {
    Mat4 inverse;
    arg(L, 1).getInverse(inverse);
    return pushMat4(L, inverse);
}

const luaL_Reg kStatics[] = {
    {"create", create},
    {"identity", [](lua_State* L) { return pushMat4(L, Mat4(true)); }},
    {nullptr, nullptr},
};

const luaL_Reg kMethods[] = {
    {"set", set},
    {"setValueWithIndex",
     [](lua_State* L) {
         Mat4& m = arg(L, 1);
         const int i = valueIndex(L);
         m.m[i] = checkFloat(L, 3);
         return 0;
     }},
    {"getValueWithIndex",
     [](lua_State* L) {
         const Mat4& m = arg(L, 1);
         lua_pushnumber(L, m.m[valueIndex(L)]);
         return 1;
     }},
    {"setIdentity", [](lua_State* L) { return arg(L, 1).setIdentity(), 0; }},
    {"setZero", [](lua_State* L) { return arg(L, 1).setZero(), 0; }},
    {"setTranspose", [](lua_State* L) { return arg(L, 1).setTranspose(), 0; }},
    {"setTranslate", vecOrFloats<&Mat4::setTranslate, &Mat4::setTranslate>},
    {"setScale", vecOrFloats<&Mat4::setScale, &Mat4::setScale>},
    {"setRotation", angleAxis<&Mat4::setRotation, &Mat4::setRotation>},
    {"setXRotation", angle<&Mat4::setXRotation>},
    {"setYRotation", angle<&Mat4::setYRotation>},
    {"setZRotation", angle<&Mat4::setZRotation>},
    {"setPerspective",
     [](lua_State* L) {
         float v[4];
         readFloats(L, 2, 4, v);
         arg(L, 1).setPerspective(v[0], v[1], v[2], v[3]);
         return 0;
     }},
    {"setFrustum",
     [](lua_State* L) {
         float v[6];
         readFloats(L, 2, 6, v);
         arg(L, 1).setFrustum(v[0], v[1], v[2], v[3], v[4], v[5]);
         return 0;
     }},
    {"setOrtho",
     [](lua_State* L) {
         float v[6];
         readFloats(L, 2, 6, v);
         arg(L, 1).setOrtho(v[0], v[1], v[2], v[3], v[4], v[5]);
         return 0;
     }},
    {"setLookAt", setLookAt},
    {"setRow", [](lua_State* L) { return arg(L, 1).setRow(rowIndex(L, 2), vec4(L, 3)), 0; }},
    {"setColumn", [](lua_State* L) { return arg(L, 1).setColumn(rowIndex(L, 2), vec4(L, 3)), 0; }},
    {"determinant", [](lua_State* L) { return lua_pushnumber(L, arg(L, 1).determinant()), 1; }},
    {"getMaxScaleOnAxis", [](lua_State* L) { return lua_pushnumber(L, arg(L, 1).getMaxScaleOnAxis()), 1; }},
    {"getTranspose",
     [](lua_State* L) {
         const Mat4 source = arg(L, 1);
         source.transpose(arg(L, 2));
         return 0;
     }},
    {"getInverse", getInverse},
    {"getAffine",
     [](lua_State* L) {
         AffineScript::newAffine(L, arg(L, 1).getAffine());
         return 1;
     }},
    {"getRow",
     [](lua_State* L) {
         Vec4Script::newVec4(L, arg(L, 1).getRow(rowIndex(L, 2)));
         return 1;
     }},
    {"getColumn",
     [](lua_State* L) {
         Vec4Script::newVec4(L, arg(L, 1).getColumn(rowIndex(L, 2)));
         return 1;
     }},
    {"add", withMatrix<&Mat4::add>},
    {"subtract", withMatrix<&Mat4::subtract>},
    {"mult", withMatrix<&Mat4::mult>},
    {"multVec3", [](lua_State* L) { return pushVec3(L, arg(L, 1).mult(vec3(L, 2))); }},
    {"multWithoutTranslate",
     [](lua_State* L) { return pushVec3(L, arg(L, 1).multWithoutTranslate(vec3(L, 2))); }},
    {"multAndProject", [](lua_State* L) { return pushVec3(L, arg(L, 1).multAndProject(vec3(L, 2))); }},
    {"multVec4",
     [](lua_State* L) {
         Vec4Script::newVec4(L, arg(L, 1).mult(vec4(L, 2)));
         return 1;
     }},
    {"position", [](lua_State* L) { return arg(L, 1).position(vec3(L, 2)), 0; }},
    {"translate", vec34OrFloats<&Mat4::translate, &Mat4::translate, &Mat4::translate>},
    {"scale", vec34OrFloats<&Mat4::scale, &Mat4::scale, &Mat4::scale>},
    {"rotate", angleAxis<&Mat4::rotate, &Mat4::rotate>},
    {"rotateX", angle<&Mat4::rotateX>},
    {"rotateY", angle<&Mat4::rotateY>},
    {"rotateZ", angle<&Mat4::rotateZ>},
    {"compose", compose},
    {"decompose", decompose},
    {"__add", [](lua_State* L) { return pushMat4(L, arg(L, 1) + arg(L, 2)); }},
    {"__sub", [](lua_State* L) { return pushMat4(L, arg(L, 1) - arg(L, 2)); }},
    {"__mul", [](lua_State* L) { return pushMat4(L, arg(L, 1) * arg(L, 2)); }},
    {"__gc", [](lua_State* L) { return collectValue<Mat4>(L, kClass, "Mat4Script parm is invalid"); }},
    {nullptr, nullptr},
};

const ClassSpec kSpec = {kClass, nullptr, kMethods, kStatics};

}  // namespace

int Mat4Script::luaopenClass(lua_State* L) {
    return openClass(L, kSpec);
}

void Mat4Script::registerFunctions(lua_State* L) {
    requireClass(L, "Mat4", luaopenClass);
}

void Mat4Script::newMat4(lua_State* L, const Mat4& m) {
    pushValue(L, m, kClass);
}

}  // namespace Core
}  // namespace Quorvane
