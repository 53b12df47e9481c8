// Lua binding of the global `AudioManager`.
#pragma once

#include <lua.hpp>

namespace Quorvane {
namespace Core {

class AudioManagerScript {
public:
    static constexpr const char* className = "AudioManager";
    static void registerFunctions(lua_State* L);
    static int luaopenClass(lua_State* L);
};

}  // namespace Core
}  // namespace Quorvane
