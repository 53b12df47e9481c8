// Lua binding of the global `AVSourceScript`.
#pragma once

#include <lua.hpp>

namespace Quorvane {
namespace Core {
class AVSource;

class AVSourceScript {
public:
    static constexpr const char* className = "AVSourceScript";
    static void registerFunctions(lua_State* L);
    static int luaopenClass(lua_State* L);
    static void createAVSource(lua_State* L, AVSource* source);
};

}  // namespace Core
}  // namespace Quorvane
