// What a template script gets of the interpreter's standard libraries:
// computing, the clock, reading the template's own files, and the log in place
// of standard output. Whatever reaches other files, processes, the
// environment or the interpreter's internals is replaced by a function that
// raises "<name> is not available to template scripts". The table and string
// functions that loop in native code over a length the script chooses are
// replaced by versions that watch the script's time and memory.
#pragma once

#include <lua.hpp>

namespace Quorvane {
namespace Core {
namespace ScriptLibrary {

// Runs on a state with the standard libraries open and the module searcher
// registered.
void install(lua_State* L);

}  // namespace ScriptLibrary
}  // namespace Core
}  // namespace Quorvane
