// The value-type bindings against the engine's own value types: results
// computed in Lua compared with the same operations in C++, values handed
// across in both directions, argument and count errors, and the class tables.
#include <gtest/gtest.h>

#include <cmath>

#include "core/Color.h"
#include "core/Matrix.h"
#include "core/Rotation.h"
#include "core/TimeUnit.h"
#include "core/Vector.h"
#include "script/ScriptTestSupport.h"

using namespace Quorvane::Core;
using namespace QvTest;

TEST(ValueBinding, Vec2ArithmeticMatchesTheEngineAndLeavesOperandsAlone) {
    LuaHost lua;
    ASSERT_EQ(lua.run(R"(
a = Vec2.create(3, 4); b = Vec2.create(-1, 2)
sum = a + b; scaled = a * 2; plus = a + 2; quot = a / b; rem = Vec2.create(7, 5) % Vec2.create(4, 3)
len = a:length(); ang = a:angleBetween(b); rot = a:rotateRound(90, b); proj = a:project(b)
nx, ny, nl = Vec2.normalize(3, 4)
a2 = Vec2.create(a); a2:add('x'); a2:add(b); a2:mult(3)
zero = Vec2.create():isZero(); quad = Vec2.create(-1, 2):getQuadrant()
eqTol = Vec2.equalWithTolerance(a, Vec2.create(3.05, 4), 0.1); eqLast = Vec2.equalWithTolerance(1, 2, 3, 4)
same = a == Vec2.create(3, 4 + 1e-7)
)"),
              "");
    const Vec2 a(3, 4), b(-1, 2);
    auto vec = [&](const char* name) { return lua.value<Vec2>(name, "Vec2Script"); };
    EXPECT_EQ(vec("sum"), a + b);
    EXPECT_EQ(vec("scaled"), a * 2.0f);
    EXPECT_EQ(vec("plus"), Vec2(5, 6));
    EXPECT_EQ(vec("quot"), a / b);
    EXPECT_EQ(vec("rem"), Vec2(3, 2));
    EXPECT_EQ(vec("a"), a) << "operands stay as they were";
    EXPECT_EQ(vec("b"), b);
    EXPECT_FLOAT_EQ(lua.number("len"), 5.0f);
    EXPECT_FLOAT_EQ(lua.number("ang"), a.angleBetween(b));
    EXPECT_EQ(vec("rot"), a.rotateRound(90, b));
    EXPECT_EQ(vec("proj"), a.project(b));
    EXPECT_FLOAT_EQ(lua.number("nx"), 0.6f);
    EXPECT_FLOAT_EQ(lua.number("ny"), 0.8f);
    EXPECT_FLOAT_EQ(lua.number("nl"), 5.0f);
    EXPECT_EQ(vec("a2"), Vec2(6, 18)) << "a string changes nothing; a Vec2 and a number do";
    EXPECT_EQ(lua.type("zero"), LUA_TNUMBER);
    EXPECT_EQ(lua.number("zero"), 1);
    EXPECT_EQ(lua.number("quad"), 2);
    EXPECT_TRUE(lua.boolean("eqTol"));
    EXPECT_EQ(lua.number("eqLast"), 4) << "a wrong count gives back the last argument";
    EXPECT_TRUE(lua.boolean("same"));
}

TEST(ValueBinding, Vec3AndVec4FormsTolerancesAndMatrices) {
    LuaHost lua;
    Mat4 m;
    m.setRotation(0.7f, Vec3(0, 0, 1));
    m.translate(5, 6, 7);
    lua.setValue("m", m, "Mat4Script");
    ASSERT_EQ(lua.run(R"(
a = Vec3.create(1, 2, 3); b = Vec3.create(4, 5, 6)
c = a + b; d = a * 2; e = Vec3.create(7); f = Vec3.create(a); cr = a:cross(b)
exact = a:equal(Vec3.create(1, 2, 3 + 1e-6)); loose = a:equal(Vec3.create(1, 2, 3.05), 0.1)
p = Vec3.create(1, 1, 0); p:applyMatrix4(m)
col = Vec3.create(); col:setFromMatrixColumn(m, 3)
s1 = Vec3.create(); s1:set(Vec2.create(8, 9)); s2 = Vec3.create(); s2:set(2, 5)
v4 = Vec4.create(a, 1); v4b = Vec4.create(v4); v4b:add(0.5)
near = Vec4.create(1, 2, 3, 4):equal(Vec4.create(1, 2, 3, 4 + 5e-7))
back = v4:getVec3()
)"),
              "");
    auto v3 = [&](const char* name) { return lua.value<Vec3>(name, "Vec3Script"); };
    EXPECT_EQ(v3("c"), Vec3(5, 7, 9));
    EXPECT_EQ(v3("a"), Vec3(1, 2, 3));
    EXPECT_EQ(v3("b"), Vec3(4, 5, 6));
    EXPECT_EQ(v3("d"), Vec3(2, 4, 6));
    EXPECT_EQ(v3("e"), Vec3(7, 7, 7));
    EXPECT_EQ(v3("f"), Vec3(1, 2, 3));
    EXPECT_EQ(v3("cr"), Vec3(1, 2, 3).cross(Vec3(4, 5, 6)));
    EXPECT_FALSE(lua.boolean("exact")) << "Vec3 equality without tolerance is exact";
    EXPECT_TRUE(lua.boolean("loose"));
    Vec3 p(1, 1, 0);
    p.applyMatrix4(m);
    EXPECT_EQ(v3("p"), p);
    EXPECT_EQ(v3("col"), Vec3(m.m[12], m.m[13], m.m[14]));
    EXPECT_EQ(v3("s1"), Vec3(8, 9, 0));
    EXPECT_EQ(v3("s2"), Vec3(0, 0, 5));
    EXPECT_EQ(lua.value<Vec4>("v4", "Vec4Script"), Vec4(1, 2, 3, 1));
    EXPECT_EQ(lua.value<Vec4>("v4b", "Vec4Script"), Vec4(1.5f, 2.5f, 3.5f, 1.5f));
    EXPECT_TRUE(lua.boolean("near")) << "Vec4 equality allows the float epsilon";
    EXPECT_EQ(v3("back"), Vec3(1, 2, 3));
}

TEST(ValueBinding, ArgumentAndCountErrorsAreRaisedAndLogged) {
    LuaHost lua;
    EXPECT_NE(
        lua.run("Vec2.create(Vec3.create(1, 2, 3))").find("bad argument #1 to 'create' (param is invalid)"),
        std::string::npos);
    EXPECT_NE(lua.run("Vec3.create(1, 2):length()").find("do not match 2"), std::string::npos);
    EXPECT_NE(lua.run("Vec3.create(1, 2, 3):dot(Vec2.create())").find("vec3 is invilid"), std::string::npos);
    EXPECT_NE(lua.run("Vec3.create().getX(Vec2.create())").find("param is invalid"), std::string::npos);
    EXPECT_NE(lua.run("Vec3.create():setFromMatrixColumn(Mat4.create(), 4)").find("index out of range"),
              std::string::npos);
    EXPECT_NE(lua.run("Mat4.create():getRow(-1)").find("index out of range"), std::string::npos);
    EXPECT_NE(lua.run("Mat4.create({1, 2, 3})").find("param is invalid"), std::string::npos);
    std::string error;
    std::string log = captureLog([&] { error = lua.run("Vec4.create(1, 2, 3)"); });
    EXPECT_NE(log.find("Vec4 error: do not match 3 parm"), std::string::npos) << log;
    EXPECT_FALSE(error.empty());
    log = captureLog([&] { error = lua.run("Color.create(1, 0, 0)"); });
    EXPECT_NE(log.find("Color error: do not match 3 parm"), std::string::npos) << log;
    log = captureLog([&] { error = lua.run("Mat4.create():getValueWithIndex(16)"); });
    EXPECT_NE(log.find("Mat4 error: wrong index"), std::string::npos) << log;
    log = captureLog([&] { error = lua.run("Quaternion.create():setWithArray({1, 2, 3})"); });
    EXPECT_NE(log.find("wrong table size"), std::string::npos) << log;
    log = captureLog([&] { error = lua.run("Range.create(1, 2, 3)"); });
    EXPECT_NE(log.find("Range error: do not match 3 parms"), std::string::npos) << log;
    log = captureLog([&] { error = lua.run("Affine.create('x')"); });
    EXPECT_NE(log.find("Affine error: do not match parm1 type"), std::string::npos) << log;
    // After every error the state is still usable.
    EXPECT_EQ(lua.run("ok = Vec2.create(1, 1):length()"), "");
    EXPECT_FLOAT_EQ(lua.number("ok"), std::sqrt(2.0f));
}

TEST(ValueBinding, RotationsMatchTheEngine) {
    LuaHost lua;
    ASSERT_EQ(lua.run(R"(
e = Euler.create(1, 2, 3); order = RotationOrder.kRotationOrderZyx
e2 = Euler.create(0.1, 0.2, 0.3); e2:set(0.4, 0.5, 0.6); e3 = Euler.create(e2); e3:set(0, 0, 0, order)
q = Quaternion.create(1, 2, 3); qa = Quaternion.create(Vec3.create(0, 0, 1), 0.5)
arr = Quaternion.create(); arr:setWithArray({0.1, 0.2, 0.3, 0.4, 0.5})
turned = Quaternion.staticQuatMulVec3(qa, Vec3.create(1, 0, 0))
fromE = Quaternion.create(); fromE:setWithEuler(e)
prod = Quaternion.create(qa); prod:multiply(fromE)
)"),
              "");
    const Euler e = lua.value<Euler>("e", "EulerScript");
    EXPECT_EQ(e, Euler(1, 2, 3, Euler::kRotationOrderXyz));
    EXPECT_EQ(lua.number("order"), 6);
    EXPECT_EQ(lua.value<Euler>("e2", "EulerScript").order, Euler::kRotationOrderXyz);
    EXPECT_EQ(lua.value<Euler>("e3", "EulerScript").order, Euler::kRotationOrderZyx);
    EXPECT_EQ(lua.value<Quaternion>("q", "QuaternionScript"), Quaternion(1, 2, 3, 1));
    const Quaternion qa(Vec3(0, 0, 1), 0.5f);
    EXPECT_EQ(lua.value<Quaternion>("qa", "QuaternionScript"), qa);
    EXPECT_EQ(lua.value<Quaternion>("arr", "QuaternionScript"), Quaternion(0.1f, 0.2f, 0.3f, 0.4f));
    EXPECT_EQ(lua.value<Vec3>("turned", "Vec3Script"), Quaternion::quaternionMulVec3(qa, Vec3(1, 0, 0)));
    Quaternion fromE;
    fromE.setWithEuler(e);
    EXPECT_EQ(lua.value<Quaternion>("fromE", "QuaternionScript"), fromE);
    Quaternion prod = qa;
    prod.multiply(fromE);
    EXPECT_EQ(lua.value<Quaternion>("prod", "QuaternionScript"), prod);
}

TEST(ValueBinding, FloatFunctionsAreSinglePrecisionMath) {
    LuaHost lua;
    ASSERT_EQ(lua.run(R"(
pi = Float.getPi(); ss = Float.smoothstep(0, 10, 2.5); mp = Float.map(5, 0, 10, 100, 200)
cr = Float.crt(27); sg = Float.sign(-0.0); md = Float.mod(7.5, 2); mx = Float.mix(10, 20, 0.25)
cl = Float.clamp(5, 0, 1); d2r = Float.degreesToRadians(180); mn = Float.getMinFloat()
)"),
              "");
    EXPECT_EQ(static_cast<float>(lua.number("pi")), Float::pi);
    EXPECT_FLOAT_EQ(lua.number("ss"), 0.15625f);
    EXPECT_FLOAT_EQ(lua.number("mp"), 150.0f);
    EXPECT_FLOAT_EQ(lua.number("cr"), 3.0f);
    EXPECT_EQ(lua.number("sg"), 1.0);
    EXPECT_FLOAT_EQ(lua.number("md"), 1.5f);
    EXPECT_FLOAT_EQ(lua.number("mx"), 12.5f);
    EXPECT_EQ(lua.number("cl"), 1.0);
    EXPECT_FLOAT_EQ(lua.number("d2r"), Float::pi);
    EXPECT_EQ(static_cast<float>(lua.number("mn")), Float::min);
}

TEST(ValueBinding, GeometryColourAndTimeValues) {
    LuaHost lua;
    Affine twist;
    twist.rotate(30);
    twist.translate(4, 5);
    lua.setValue("twist", twist, "AffineScript");
    ASSERT_EQ(lua.run(R"(
r = Range.create(5); r2 = Range.create(2, 3); rEnd = r2:getEnd(); rs = r:getStart(); rz = r:getSize()
r2:offset(10); r2:setEnd(20); in12 = r2:contains(12); in19 = r2:contains(19); in20 = r2:contains(20)
rStart2 = r2:getStart(); rSize2 = r2:getSize(); in11 = r2:contains(11)
c = Color.create('#FF000080'); c2 = Color.create(0.2, 0.4, 0.6, 1) * 2; cw = Color.create()
nilc = Color.create(); nilc:setNil(); isnil = nilc:isNil(); ceq = Color.create(1, 1, 1, 1) == cw
b = Box3.create(); b:setFromPoints({Vec3.create(1, 2, 3), Vec3.create(-1, 5, 0), Vec3.create(9, 9, 9)}, 2)
bmin = b:getMin(); bmax = b:getMax(); bv = (b == Vec3.create()); bb = (b == Box3.create(b))
b10 = Box3.create(); b10:setFromPoints({Vec3.create(1, 1, 1)}, 10); b10min = b10:getMin()
a = Affine.create(); text = tostring(a); inv = twist:getInverse()
p = Vec2.create(1, 0); twist:transform(p)
t = TimeUnit.create(10, 25); tfps = t:fps(); tz = TimeUnit.create(10, 29.97)
sum = TimeUnit.create(10, 25); sum:add(TimeUnit.create(30, 50))
range = TimeRange.create(TimeUnit.create(0, 25), TimeUnit.create(50, 25)); out = range:outPoint()
outFrame = out:frameCount(); outFps = out:fps()
def = TimeRange.create(1, 2):duration():fps(); getterNil = TimeUnit.create().fps(5)
tzFps = tz:fps(); tzFrames = tz:frameCount()
back = t:frame(-25); fast = t:frame(2000000)
)"),
              "");
    EXPECT_EQ(lua.number("rEnd"), 5);
    EXPECT_EQ(lua.number("rStart2"), 12);
    EXPECT_EQ(lua.number("rSize2"), 8);
    for (const char* inside : {"in12", "in19"}) EXPECT_TRUE(lua.boolean(inside)) << inside;
    for (const char* outside : {"in11", "in20"}) EXPECT_FALSE(lua.boolean(outside)) << outside;
    EXPECT_EQ(lua.number("rs"), 5);
    EXPECT_EQ(lua.number("rz"), 0);
    const Color c = lua.value<Color>("c", "ColorScript");
    EXPECT_TRUE(c.equal(Color("#FF000080")));
    EXPECT_TRUE(lua.value<Color>("c2", "ColorScript").equal(Color(0.4f, 0.8f, 1.2f, 2.0f)));
    EXPECT_TRUE(lua.boolean("isnil"));
    EXPECT_TRUE(lua.boolean("ceq"));
    EXPECT_EQ(lua.value<Vec3>("bmin", "Vec3Script"), Vec3(-1, 2, 0)) << "only the first two points count";
    EXPECT_EQ(lua.value<Vec3>("bmax", "Vec3Script"), Vec3(1, 5, 3));
    EXPECT_FALSE(lua.boolean("bv"));
    EXPECT_TRUE(lua.boolean("bb"));
    EXPECT_EQ(lua.value<Vec3>("b10min", "Vec3Script"), Vec3(1, 1, 1))
        << "a count past the table reads no further";
    EXPECT_EQ(lua.text("text"), "Affine A:1.000000, B:0.000000 C:0.000000 D:0.000000 E:1.000000 F:0.000000");
    EXPECT_EQ(lua.value<Affine>("inv", "AffineScript"), twist.getInverse());
    EXPECT_EQ(lua.value<Vec2>("p", "Vec2Script"), twist.getTransform(Vec2(1, 0)));
    EXPECT_EQ(lua.number("tfps"), 25);
    // A rate that is no whole number reads as 0: a time of its own.
    EXPECT_EQ(lua.number("tzFps"), 0);
    EXPECT_EQ(lua.number("tzFrames"), 10);
    // 0.4 s counted at -25 and at 2,000,000 frames a second.
    EXPECT_EQ(lua.number("back"), -10);
    EXPECT_EQ(lua.number("back"), TimeUnit(10, 25).frame(-25.0f));
    EXPECT_EQ(lua.number("fast"), 800000);
    EXPECT_EQ(lua.number("fast"), TimeUnit(10, 25).frame(2e6f));
    const TimeUnit sum = lua.value<TimeUnit>("sum", "TimeUnitScript");
    EXPECT_EQ(sum.frameCount(), 25);
    EXPECT_EQ(sum.fps(), 25.0f);
    EXPECT_EQ(lua.number("outFrame"), 50);
    EXPECT_EQ(lua.number("outFps"), 25);
    EXPECT_EQ(lua.number("def"), 6000) << "a range of two default times";
    EXPECT_EQ(lua.type("getterNil"), LUA_TNIL);
}

// Times are held to a day either side of 0 in seconds of their own rate; a
// rate of 0 converts to 0 frames and adds nothing. Each row: a chunk that
// sets v (nil when refused), the frames and rate v then holds, and the log
// line it leaves (null: none).
TEST(ValueBinding, TimesAreHeldInSecondsAndRefusalsAreLogged) {
    const struct {
        const char* code;
        bool kept;
        long long frames;
        float fps;
        const char* logged;
    } rows[] = {
        // 200 s at the default 6000 fps, past the old limit of 2^20 frames.
        {"v = TimeUnit.create() v:add(TimeUnit.create(200, 1))", true, 1200000, 6000, nullptr},
        {"v = TimeUnit.create(86400, 1) v:subtract(TimeUnit.create(-25, 25))", true, 86400, 1,
         "TimeUnit:subtract: 86401 frames at 1 fps lie more than 86400 s from 0, refused"},
        {"v = TimeUnit.create(-86400 * 1000000, 1000000)", true, -86400000000LL, 1e6f, nullptr},
        {"v = TimeUnit.create(86401, 1)", false, 0, 0, "TimeUnit.create: 86401 frames at 1 fps lie more"},
        {"v = TimeUnit.create(1, -25)", false, 0, 0, "TimeUnit.create: a rate of -25 fps is refused"},
        {"v = TimeUnit.create(1, 1 << 40)", false, 0, 0, "TimeUnit.create: a rate of 1.09951e+12 fps"},
        {"v = TimeUnit.create(10, 0/0)", true, 10, 0, nullptr},
        // Rate 0 on either side of a conversion.
        {"v = TimeUnit.create(10, 29.97) n = v:frame(25) assert(n == 0)", true, 10, 0,
         "TimeUnit:frame: a time at 0 fps has no length, it converts to 0 frames"},
        {"v = TimeUnit.create(10, 25) n = v:frame(0) assert(n == 0)", true, 10, 25,
         "TimeUnit:frame: a time converted to 0 fps gives 0 frames"},
        // Any rate converts, saturating: 86400 s at 2^62 fps lies past the int64 range.
        {"v = TimeUnit.create(10, 25) assert(v:frame(-25) == -10 and v:frame(2000000) == 800000)", true, 10, 25,
         nullptr},
        {"v = TimeUnit.create(86400, 1) assert(v:frame(1 << 62) == math.maxinteger)", true, 86400, 1, nullptr},
        {"v = TimeUnit.create(86400, 1) assert(v:frame(-(1 << 62)) == math.mininteger)", true, 86400, 1, nullptr},
        {"v = TimeUnit.create(10, 25) assert(v:frame(0/0) == 0)", true, 10, 25,
         "TimeUnit:frame: a time converted to 0 fps gives 0 frames"},
        {"v = TimeUnit.create(10, 25) v:add(TimeUnit.create(5, 0))", true, 10, 25,
         "TimeUnit:add: a time at 0 fps has no length"},
        {"v = TimeUnit.create(10, 0) v:subtract(TimeUnit.create(5, 25))", true, 10, 0,
         "TimeUnit:subtract: a time converted to 0 fps gives 0 frames"},
        // Setters change nothing they would put out of bounds.
        {"v = TimeUnit.create(10, 25) v:setFps(0)", true, 10, 0, nullptr},
        {"v = TimeUnit.create(10, 25) v:setFrame(25 * 86400 + 1)", true, 10, 25,
         "TimeUnit:setFrame: 2160001 frames at 25 fps"},
        {"v = TimeUnit.create(86400, 25) v:setFps(1)", true, 86400, 1, nullptr},
        {"v = TimeUnit.create(86401, 25) v:setFps(1)", true, 86401, 25,
         "TimeUnit:setFps: 86401 frames at 1 fps"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.code);
        LuaHost lua;
        std::string error;
        const std::string log = captureLog([&] { error = lua.run(row.code); });
        EXPECT_EQ(error, "");
        if (row.logged)
            EXPECT_EQ(countOf(log, row.logged), 1) << log;
        else
            EXPECT_EQ(log, "");
        if (!row.kept) {
            EXPECT_EQ(lua.type("v"), LUA_TNIL);
            continue;
        }
        const TimeUnit v = lua.value<TimeUnit>("v", "TimeUnitScript");
        EXPECT_EQ(v.frameCount(), row.frames);
        EXPECT_EQ(v.fps(), row.fps);
    }
}

TEST(ValueBinding, Mat4FormsAndProductsMatchTheEngine) {
    LuaHost lua;
    ASSERT_EQ(lua.run(R"(
t = {} for i = 1, 16 do t[i] = i * 1.5 - 3 end
fromNumbers = Mat4.create(table.unpack(t)); rows = Mat4.create(t, false); cols = Mat4.create(t, true)
same = fromNumbers:getValueWithIndex(1) == rows:getValueWithIndex(1)
tr = Mat4.create(); cols:getTranspose(tr)
v = {Vec4.create(1, 2, 3, 4), Vec4.create(5, 6, 7, 8), Vec4.create(9, 10, 11, 12), Vec4.create(13, 14, 15, 16)}
asRows = Mat4.create(v[1], v[2], v[3], v[4]); asCols = Mat4.create(v[1], v[2], v[3], v[4], false)
a = Mat4.create(); a:setRotation(0.3, Vec3.create(0, 1, 0)); a:translate(1, 2, 3)
b = Mat4.create(); b:setScale(2, 3, 4)
prod = a * b; inv = a:getInverse(); pt = a:multVec3(Vec3.create(1, 1, 1))
pos, rot, scl = (a * b):decompose()
)"),
              "");
    float values[16];
    for (int i = 0; i < 16; ++i) values[i] = (i + 1) * 1.5f - 3.0f;
    const Mat4 rows(values, false), cols(values, true);
    EXPECT_EQ(lua.value<Mat4>("fromNumbers", "Mat4Script"), rows);
    EXPECT_EQ(lua.value<Mat4>("rows", "Mat4Script"), rows);
    EXPECT_EQ(lua.value<Mat4>("cols", "Mat4Script"), cols);
    EXPECT_EQ(lua.value<Mat4>("tr", "Mat4Script"), rows) << "the table read by columns is the transpose";
    const Vec4 v1(1, 2, 3, 4), v2(5, 6, 7, 8), v3(9, 10, 11, 12), v4(13, 14, 15, 16);
    EXPECT_EQ(lua.value<Mat4>("asRows", "Mat4Script"), Mat4(v1, v2, v3, v4, true));
    EXPECT_EQ(lua.value<Mat4>("asCols", "Mat4Script"), Mat4(v1, v2, v3, v4, false));
    Mat4 a, b;
    a.setRotation(0.3f, Vec3(0, 1, 0));
    a.translate(1, 2, 3);
    b.setScale(2, 3, 4);
    EXPECT_EQ(lua.value<Mat4>("prod", "Mat4Script"), a * b);
    Mat4 inverse;
    ASSERT_TRUE(a.getInverse(inverse));
    EXPECT_EQ(lua.value<Mat4>("inv", "Mat4Script"), inverse);
    EXPECT_EQ(lua.value<Vec3>("pt", "Vec3Script"), a.mult(Vec3(1, 1, 1)));
    Vec3 pos, scl;
    Quaternion rot;
    (a * b).decompose(pos, rot, scl);
    EXPECT_EQ(lua.value<Vec3>("pos", "Vec3Script"), pos);
    EXPECT_EQ(lua.value<Quaternion>("rot", "QuaternionScript"), rot);
    EXPECT_EQ(lua.value<Vec3>("scl", "Vec3Script"), scl);
}

TEST(ValueBinding, ClassTablesHoldEveryNameAndGlobalsExistBeforeAnyScript) {
    LuaHost lua;
    // Entries of each class metatable (without its "__index") and functions of
    // its global table.
    struct Expect {
        const char* className;
        const char* global;
        int methods;
        int statics;
    } expects[] = {
        {"Vec2Script", "Vec2", 43, 5},
        {"Vec3Script", "Vec3", 44, 2},
        {"Vec4Script", "Vec4", 30, 2},
        {"EulerScript", "Euler", 7, 2},
        {"QuaternionScript", "Quaternion", 19, 3},
        {"FloatScript", "Float", 0, 34},
        {"RangeScript", "Range", 9, 1},
        {"ColorScript", "Color", 12, 2},
        {"Box3Script", "Box3", 19, 1},
        {"AffineScript", "Affine", 20, 2},
        {"Mat4Script", "Mat4", 45, 2},
        {"TimeUnitScript", "TimeUnit", 9, 1},
        {"TimeRangeScript", "TimeRange", 4, 1},
        {"RenderPassScript", "RenderPass", 5, 0},
        {"RenderLayerScript", "RenderLayer", 53, 0},
        {"RenderAVLayerScript", "RenderAVLayer", 12, 1},
        {"RenderCameraLayerScript", "RenderCameraLayer", 11, 1},
        {"AVSourceScript", "AVSourceScript", 15, 0},
        {"RenderCompScript", "RenderCompScript", 21, 0},
        {"RenderContextScript", "RenderContextScript", 20, 0},
        {"AudioManager", "AudioManager", 0, 16},
    };
    auto count = [&](int index, bool skipSpecial) {
        int n = 0;
        lua_pushnil(lua.L);
        while (lua_next(lua.L, index)) {
            lua_pop(lua.L, 1);
            const char* key = lua_type(lua.L, -1) == LUA_TSTRING ? lua_tostring(lua.L, -1) : "";
            const std::string k = key;
            if (!skipSpecial || (k != "__index" && k != "super" && k != "__name")) ++n;
        }
        return n;
    };
    for (const Expect& e : expects) {
        SCOPED_TRACE(e.className);
        ASSERT_EQ(luaL_getmetatable(lua.L, e.className), LUA_TTABLE);
        EXPECT_EQ(count(lua_gettop(lua.L), true), e.methods);
        lua_pop(lua.L, 1);
        ASSERT_EQ(lua_getglobal(lua.L, e.global), LUA_TTABLE);
        EXPECT_EQ(count(lua_gettop(lua.L), false), e.statics);
        lua_pop(lua.L, 1);
    }
    ASSERT_EQ(lua.run(R"(
screen = BlendMode.Blend_Screen; lum = BlendMode.Blend_Luminosity; three = LayerTypes.kThreeDLayer
noTwo = AVSourceType.kRenderComp == 3 and AVFileType.kImageSequence == 3
tri = LayerResampleMode.kBiCubicTriangluarResampleMode; gl = CoordinateSystemMode.kOpenGLSpaceMode
luma = TrackMatteType.kInverseLumaMatte; zyx = RotationOrder.kRotationOrderZyx
n = 0 for k, v in pairs(AVSourceType) do n = n + 1; assert(v ~= 2) end
)"),
              "");
    EXPECT_EQ(lua.number("screen"), 10);
    EXPECT_EQ(lua.number("lum"), 29);
    EXPECT_EQ(lua.number("three"), 65536);
    EXPECT_TRUE(lua.boolean("noTwo"));
    EXPECT_EQ(lua.number("tri"), 2);
    EXPECT_EQ(lua.number("gl"), 1);
    EXPECT_EQ(lua.number("luma"), 4);
    EXPECT_EQ(lua.number("zyx"), 6);
    EXPECT_EQ(lua.number("n"), 4);
}
