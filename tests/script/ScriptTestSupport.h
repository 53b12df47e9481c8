// Running small Lua texts in a fresh script host, reading what they left in
// globals, and capturing the log lines they caused.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "script/ScriptBinding.h"
#include "script/ScriptManager.h"
#include "support/TestSupport.h"

namespace QvTest {

class LuaHost {
public:
    LuaHost() : L(manager.getLuaState()) {}

    // Runs the text as a chunk through the same protected call and message
    // handler that main gets; the handler's text on failure, else empty.
    std::string run(const std::string& code) {
        const int top = lua_gettop(L);
        lua_pushcfunction(L, Quorvane::Core::pcall_callback_err_fun);
        std::string error;
        if (luaL_loadbuffer(L, code.data(), code.size(), "test") != LUA_OK ||
            lua_pcall(L, 0, 0, top + 1) != LUA_OK)
            error = lua_tostring(L, -1) ? lua_tostring(L, -1) : "?";
        lua_settop(L, top);
        return error;
    }

    double number(const char* global) {
        lua_getglobal(L, global);
        const double value = lua_tonumber(L, -1);
        lua_pop(L, 1);
        return value;
    }
    bool boolean(const char* global) {
        lua_getglobal(L, global);
        const bool value = lua_toboolean(L, -1) != 0;
        lua_pop(L, 1);
        return value;
    }
    std::string text(const char* global) {
        lua_getglobal(L, global);
        size_t length = 0;
        const char* value = lua_tolstring(L, -1, &length);
        std::string out = value ? std::string(value, length) : "<nil>";
        lua_pop(L, 1);
        return out;
    }
    int type(const char* global) {
        const int t = lua_getglobal(L, global);
        lua_pop(L, 1);
        return t;
    }
    // The engine value a value userdata in the global holds (copied), or
    // fails the test.
    template <class T>
    T value(const char* global, const char* className) {
        lua_getglobal(L, global);
        T* v = Quorvane::Core::ScriptBinding::valueAt<T>(L, -1, className);
        lua_pop(L, 1);
        EXPECT_NE(v, nullptr) << global << " is not a " << className;
        return v ? *v : T();
    }
    template <class T>
    void setValue(const char* global, const T& value, const char* className) {
        Quorvane::Core::ScriptBinding::pushValue(L, value, className);
        lua_setglobal(L, global);
    }

    Quorvane::Core::ScriptManager manager;
    lua_State* L;
};

// Standard error written while the callable runs.
template <class F>
std::string captureLog(F&& f) {
    ::testing::internal::CaptureStderr();
    f();
    return ::testing::internal::GetCapturedStderr();
}

inline int countOf(const std::string& haystack, const std::string& needle) {
    int n = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) ++n;
    return n;
}

}  // namespace QvTest
