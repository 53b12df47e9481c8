#include "script/ScriptLibrary.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/FileCodec.h"
#include "script/ScriptManager.h"

namespace Quorvane {
namespace Core {
namespace ScriptLibrary {

namespace {

// ---- closed doors -------------------------------------------------------------------------------

[[noreturn]] void refuse(lua_State* L, const char* what) {
    luaL_error(L, "%s is not available to template scripts", what);
    std::abort();  // luaL_error does not return
}

// Stands where a closed function was, so that calling it says which one.
int closedFunction(lua_State* L) {
    refuse(L, lua_tostring(L, lua_upvalueindex(1)));
}

void pushClosed(lua_State* L, const char* name) {
    lua_pushstring(L, name);
    lua_pushcclosure(L, closedFunction, 1);
}

// Every function field of the library's table not in the kept list is
// replaced by a closed one; other fields (package.cpath, say) go.
void closeAllBut(lua_State* L, const char* library, std::initializer_list<const char*> kept) {
    const int top = lua_gettop(L);
    if (lua_getglobal(L, library) == LUA_TTABLE) {
        std::vector<std::string> doomed;
        std::vector<bool> function;
        lua_pushnil(L);
        while (lua_next(L, -2)) {
            const bool isFunction = lua_type(L, -1) == LUA_TFUNCTION;
            lua_pop(L, 1);
            if (lua_type(L, -1) != LUA_TSTRING) continue;
            const char* key = lua_tostring(L, -1);
            if (std::none_of(kept.begin(), kept.end(),
                             [key](const char* k) { return std::strcmp(k, key) == 0; })) {
                doomed.emplace_back(key);
                function.push_back(isFunction);
            }
        }
        for (size_t i = 0; i < doomed.size(); ++i) {
            if (function[i])
                pushClosed(L, (std::string(library) + "." + doomed[i]).c_str());
            else
                lua_pushnil(L);
            lua_setfield(L, -2, doomed[i].c_str());
        }
    }
    lua_settop(L, top);
}

// ---- the log in place of standard output ---------------------------------------------------------

// print: tab-separated as the interpreter's own, one line.
int logPrint(lua_State* L) {
    const int n = lua_gettop(L);
    luaL_Buffer buffer;
    luaL_buffinit(L, &buffer);
    for (int i = 1; i <= n; ++i) {
        if (i > 1) luaL_addchar(&buffer, '\t');
        luaL_tolstring(L, i, nullptr);
        luaL_addvalue(&buffer);
    }
    luaL_addchar(&buffer, '\n');
    luaL_pushresult(&buffer);
    size_t length = 0;
    const char* text = lua_tolstring(L, -1, &length);
    ScriptManager::output(L, text, length);
    return 0;
}

// Writes the texts and numbers from the index on, as a file's write does;
// one call is one entry of the log.
void writeFrom(lua_State* L, int first) {
    const int n = lua_gettop(L);
    luaL_Buffer buffer;
    luaL_buffinit(L, &buffer);
    for (int i = first; i <= n; ++i) {
        size_t length = 0;
        const char* text = luaL_checklstring(L, i, &length);
        luaL_addlstring(&buffer, text, length);
    }
    luaL_pushresult(&buffer);
    size_t length = 0;
    const char* text = lua_tolstring(L, -1, &length);
    if (length > 0) ScriptManager::output(L, text, length);
    lua_pop(L, 1);
}

// io.write: upvalue 1 is the standard output stand-in, which it returns.
int logWrite(lua_State* L) {
    writeFrom(L, 1);
    lua_pushvalue(L, lua_upvalueindex(1));
    return 1;
}

// io.stdout:write (and io.stderr's).
int standInWrite(lua_State* L) {
    luaL_checktype(L, 1, LUA_TTABLE);
    writeFrom(L, 2);
    lua_settop(L, 1);
    return 1;
}

// ---- reading the template's files ----------------------------------------------------------------

// Pushes the resolved path when the script may read the file; false (nothing
// pushed) otherwise.
bool pushReadable(lua_State* L, const char* path, bool code = false) {
    char resolved[PATH_MAX];
    bool ok = false;
    try {
        const std::string found = ScriptManager::readablePath(L, path, code);
        ok = !found.empty() && found.size() < sizeof resolved;
        if (ok) std::memcpy(resolved, found.c_str(), found.size() + 1);
    } catch (const std::exception&) {
        ok = false;  // out of memory: not readable now
    }
    if (ok) lua_pushstring(L, resolved);
    return ok;
}

int notReadable(lua_State* L, const char* path) {
    return luaL_error(L, "%s: not a readable file of the template", path);
}

// Calls the original function (upvalue 1) with the arguments as they stand.
int forward(lua_State* L) {
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
    return lua_gettop(L);
}

int readOpen(lua_State* L) {
    const char* path = luaL_checkstring(L, 1);
    const char* mode = luaL_optstring(L, 2, "r");
    // Read modes: "r" with any number of "b"; anything else writes.
    if (mode[0] != 'r' || mode[std::strspn(mode + 1, "b") + 1] != '\0') refuse(L, "io.open for writing");
    if (!pushReadable(L, path)) {
        lua_pushnil(L);
        lua_pushfstring(L, "%s: not a readable file of the template", path);
        return 2;
    }
    lua_replace(L, 1);
    lua_settop(L, 2);
    return forward(L);
}

int readLines(lua_State* L) {
    if (lua_isnoneornil(L, 1)) refuse(L, "io.lines of standard input");
    const char* path = luaL_checkstring(L, 1);
    if (!pushReadable(L, path)) return notReadable(L, path);
    lua_replace(L, 1);
    return forward(L);
}

int closeFile(lua_State* L) {
    if (lua_isnone(L, 1)) refuse(L, "io.close of standard output");
    return forward(L);
}

// Loads the file as a text chunk (plain or packed, as modules are); the
// interpreter's status, with the chunk or the message pushed.
int loadText(lua_State* L, const char* resolved, const char* shownPath) try {
    FileCodec codec(FileCodec::getFileCodecVersion(resolved));
    if (!codec.decodePack(resolved)) return LUA_ERRFILE;
    const size_t size = static_cast<size_t>(std::min<uint64_t>(codec.size, codec.content.size()));
    const char* data = codec.content.data();
    int length = size > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
    skipBOM(data, length);
    const std::string chunkName = std::string("@") + shownPath;
    // Loading is protected inside the interpreter: nothing here is jumped over.
    return luaL_loadbufferx(L, data, static_cast<size_t>(length), chunkName.c_str(), "t");
} catch (const std::exception&) {
    return LUA_ERRFILE;  // the file's bytes did not fit in memory
}

// loadfile (path [, mode [, env]]): text chunks only, whatever mode is asked.
int readLoadfile(lua_State* L) {
    if (lua_isnoneornil(L, 1)) refuse(L, "loadfile of standard input");
    const char* path = luaL_checkstring(L, 1);
    const bool withEnv = !lua_isnone(L, 3);
    if (!pushReadable(L, path, true)) {
        lua_pushnil(L);
        lua_pushfstring(L, "%s: not a readable file of the template", path);
        return 2;
    }
    const int status = loadText(L, lua_tostring(L, -1), path);
    if (status == LUA_ERRFILE) {
        lua_pushnil(L);
        lua_pushfstring(L, "cannot read %s", path);
        return 2;
    }
    if (status != LUA_OK) {
        lua_pushnil(L);
        lua_insert(L, -2);
        return 2;
    }
    if (withEnv) {
        lua_pushvalue(L, 3);
        if (!lua_setupvalue(L, -2, 1)) lua_pop(L, 1);
    }
    return 1;
}

int readDofile(lua_State* L) {
    if (lua_isnoneornil(L, 1)) refuse(L, "dofile of standard input");
    const char* path = luaL_checkstring(L, 1);
    lua_settop(L, 1);
    if (!pushReadable(L, path, true)) return notReadable(L, path);
    const int status = loadText(L, lua_tostring(L, -1), path);
    if (status == LUA_ERRFILE) return luaL_error(L, "cannot read %s", path);
    if (status != LUA_OK) return lua_error(L);
    lua_call(L, 0, LUA_MULTRET);
    return lua_gettop(L) - 2;
}

int noEnvironment(lua_State* L) {
    luaL_checkstring(L, 1);
    lua_pushnil(L);
    return 1;
}

// load from a script takes text only: a crafted binary chunk can break the
// interpreter's memory safety.
int textOnlyLoad(lua_State* L) {
    const int n = std::max(lua_gettop(L), 3);
    lua_settop(L, n);
    lua_pushliteral(L, "t");
    lua_replace(L, 3);
    return forward(L);
}

// A finaliser runs with the debug hooks off, out of reach of the time budget;
// so no script table gets one.
int finaliserFreeSetmetatable(lua_State* L) {
    if (lua_type(L, 2) == LUA_TTABLE) {
        lua_pushliteral(L, "__gc");
        const bool finaliser = lua_rawget(L, 2) != LUA_TNIL;
        lua_pop(L, 1);
        if (finaliser) return luaL_error(L, "template scripts may not set __gc");
    }
    return forward(L);
}

// ---- native loops over lengths the script chooses ------------------------------------------------

// The interpreter's instruction hook never fires inside a native loop; these
// loops look at the clock themselves every few thousand steps.
struct Ticker {
    lua_State* L;
    unsigned count = 0;
    void operator()() {
        if ((++count & 4095u) == 0) ScriptManager::checkClock(L);
    }
};

enum { kRead = 1, kWrite = 2, kLength = 4 };

// A table, or a value whose metatable gives the operations needed (as the
// interpreter's table library accepts).
void checkTable(lua_State* L, int arg, int what) {
    if (lua_type(L, arg) == LUA_TTABLE) return;
    int n = 1;
    auto field = [&](const char* key) {
        lua_pushstring(L, key);
        return lua_rawget(L, -(++n)) != LUA_TNIL;
    };
    if (lua_getmetatable(L, arg) && (!(what & kRead) || field("__index")) &&
        (!(what & kWrite) || field("__newindex")) && (!(what & kLength) || field("__len"))) {
        lua_pop(L, n);
        return;
    }
    luaL_checktype(L, arg, LUA_TTABLE);
}

lua_Integer lengthOf(lua_State* L, int what) {
    checkTable(L, 1, what | kLength);
    return luaL_len(L, 1);
}

int checkedInsert(lua_State* L) {
    const lua_Integer n = lengthOf(L, kRead | kWrite);
    luaL_argcheck(L, n < LUA_MAXINTEGER, 1, "table too long");
    const lua_Integer end = n + 1;  // first empty element
    lua_Integer pos = end;
    switch (lua_gettop(L)) {
        case 2:
            break;
        case 3: {
            pos = luaL_checkinteger(L, 2);
            luaL_argcheck(L, 1 <= pos && pos <= end, 2, "position out of bounds");
            Ticker tick{L};
            for (lua_Integer i = end; i > pos; --i) {
                lua_geti(L, 1, i - 1);
                lua_seti(L, 1, i);
                tick();
            }
            break;
        }
        default:
            return luaL_error(L, "wrong number of arguments to 'insert'");
    }
    lua_seti(L, 1, pos);
    return 0;
}

int checkedRemove(lua_State* L) {
    const lua_Integer size = lengthOf(L, kRead | kWrite);
    lua_Integer pos = luaL_optinteger(L, 2, size);
    if (pos != size) luaL_argcheck(L, 1 <= pos && pos - 1 <= size, 1, "position out of bounds");
    lua_geti(L, 1, pos);
    Ticker tick{L};
    for (; pos < size; ++pos) {
        lua_geti(L, 1, pos + 1);
        lua_seti(L, 1, pos);
        tick();
    }
    lua_pushnil(L);
    lua_seti(L, 1, pos);
    return 1;
}

int checkedMove(lua_State* L) {
    const lua_Integer f = luaL_checkinteger(L, 2);
    const lua_Integer e = luaL_checkinteger(L, 3);
    const lua_Integer t = luaL_checkinteger(L, 4);
    const int destination = lua_isnoneornil(L, 5) ? 1 : 5;
    checkTable(L, 1, kRead);
    checkTable(L, destination, kWrite);
    if (e >= f) {
        luaL_argcheck(L, f > 0 || e < LUA_MAXINTEGER + f, 3, "too many elements to move");
        const lua_Integer n = e - f + 1;
        luaL_argcheck(L, t <= LUA_MAXINTEGER - n + 1, 4, "destination wrap around");
        Ticker tick{L};
        if (t > e || t <= f || (destination != 1 && !lua_compare(L, 1, destination, LUA_OPEQ))) {
            for (lua_Integer i = 0; i < n; ++i) {
                lua_geti(L, 1, f + i);
                lua_seti(L, destination, t + i);
                tick();
            }
        } else {
            for (lua_Integer i = n - 1; i >= 0; --i) {
                lua_geti(L, 1, f + i);
                lua_seti(L, destination, t + i);
                tick();
            }
        }
    }
    lua_pushvalue(L, destination);
    return 1;
}

void addField(lua_State* L, luaL_Buffer* buffer, lua_Integer i) {
    lua_geti(L, 1, i);
    if (!lua_isstring(L, -1))
        luaL_error(L, "invalid value (at index %I) in table for 'concat'", static_cast<LUAI_UACINT>(i));
    luaL_addvalue(buffer);
}

int checkedConcat(lua_State* L) {
    lua_Integer last = lengthOf(L, kRead);
    size_t separatorLength = 0;
    const char* separator = luaL_optlstring(L, 2, "", &separatorLength);
    lua_Integer i = luaL_optinteger(L, 3, 1);
    last = luaL_optinteger(L, 4, last);
    luaL_Buffer buffer;
    luaL_buffinit(L, &buffer);
    Ticker tick{L};
    for (; i < last; ++i) {
        addField(L, &buffer, i);
        luaL_addlstring(&buffer, separator, separatorLength);
        tick();
    }
    if (i == last) addField(L, &buffer, i);
    luaL_pushresult(&buffer);
    return 1;
}

// Sorts a plain copy with the interpreter's own sort (upvalue 1): each
// element is read once through the table's metamethods, so the native work
// is bounded by the elements the script's memory can hold.
int checkedSort(lua_State* L) {
    const lua_Integer n = lengthOf(L, kRead | kWrite);
    if (n > 1) {
        luaL_argcheck(L, n < INT_MAX, 1, "array too big");
        if (!lua_isnoneornil(L, 2)) luaL_checktype(L, 2, LUA_TFUNCTION);
        lua_settop(L, 2);
        lua_createtable(L, static_cast<int>(n), 0);
        Ticker tick{L};
        for (lua_Integer i = 1; i <= n; ++i) {
            if (lua_geti(L, 1, i) == LUA_TNIL)
                luaL_error(L, "invalid value (at index %I) in table for 'sort'", static_cast<LUAI_UACINT>(i));
            lua_rawseti(L, 3, i);
            tick();
        }
        lua_pushvalue(L, lua_upvalueindex(1));
        lua_pushvalue(L, 3);
        lua_pushvalue(L, 2);
        lua_call(L, 2, 0);
        for (lua_Integer i = 1; i <= n; ++i) {
            lua_rawgeti(L, 3, i);
            lua_seti(L, 1, i);
            tick();
        }
    }
    return 0;
}

// string.rep of an empty text (and separator) would loop n times copying
// nothing; every other case allocates its result first, which the memory cap
// bounds.
int checkedRep(lua_State* L) {
    size_t length = 0, separatorLength = 0;
    luaL_checklstring(L, 1, &length);
    const lua_Integer n = luaL_checkinteger(L, 2);
    luaL_optlstring(L, 3, "", &separatorLength);
    if (n > 0 && length == 0 && separatorLength == 0) {
        lua_pushliteral(L, "");
        return 1;
    }
    return forward(L);
}

// Characters that make a find pattern more than plain text.
bool plainText(const char* pattern, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (std::strchr("^$*+?.([%-", pattern[i]) && pattern[i] != '\0') return false;
    return true;
}

// string.find of plain text (asked for, or a pattern without special
// characters): the interpreter compares at every place the first character
// matches, a time of the product of the two lengths (a search of 8 MB of "a"
// followed by "b" in 16 MB of "a" would take hours); the library's search is
// linear. Patterns go to the interpreter's own (upvalue 1).
int checkedFind(lua_State* L) {
    size_t length = 0, patternLength = 0;
    const char* text = luaL_checklstring(L, 1, &length);
    const char* pattern = luaL_checklstring(L, 2, &patternLength);
    if (!lua_toboolean(L, 4) && !plainText(pattern, patternLength)) return forward(L);
    lua_Integer init = luaL_optinteger(L, 3, 1);
    // A negative start counts from the end, as the interpreter's own.
    if (init < 0)
        init = 0u - static_cast<size_t>(init) > length ? 0 : static_cast<lua_Integer>(length) + init + 1;
    if (init < 1) init = 1;
    if (init > static_cast<lua_Integer>(length) + 1) {
        lua_pushnil(L);
        return 1;
    }
    const char* from = text + init - 1;
    const void* found = ::memmem(from, length - static_cast<size_t>(init - 1), pattern, patternLength);
    if (!found) {
        lua_pushnil(L);
        return 1;
    }
    const auto at = static_cast<lua_Integer>(static_cast<const char*>(found) - text);
    lua_pushinteger(L, at + 1);
    lua_pushinteger(L, at + static_cast<lua_Integer>(patternLength));
    return 2;
}

// Sets table.key (the table at the top) to the function, with the field's
// old value as its upvalue.
void wrapField(lua_State* L, const char* key, lua_CFunction wrapper) {
    lua_getfield(L, -1, key);
    lua_pushcclosure(L, wrapper, 1);
    lua_setfield(L, -2, key);
}

// The interpreter calls the message handler of an error raised in the time
// hook with hooks switched off, so a handler that loops would never be
// stopped. Once the run's time is up the script's handler is passed over and
// the time error goes through unchanged.
int timeGuardedHandler(lua_State* L) {
    if (ScriptManager::timeIsUp(L)) return 1;
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, 1);
    return 1;
}

int finishProtectedCall(lua_State* L, int status, lua_KContext below) {
    if (status != LUA_OK && status != LUA_YIELD) {
        lua_pushboolean(L, 0);
        lua_insert(L, -2);
        return 2;
    }
    return lua_gettop(L) - static_cast<int>(below);
}

// xpcall with the script's handler behind the time guard; a continuation
// keeps yields across it working as in the interpreter's own.
int guardedXpcall(lua_State* L) {
    const int n = lua_gettop(L);
    luaL_checktype(L, 2, LUA_TFUNCTION);
    lua_pushvalue(L, 2);
    lua_pushcclosure(L, timeGuardedHandler, 1);
    lua_replace(L, 2);
    lua_pushboolean(L, 1);
    lua_pushvalue(L, 1);
    lua_rotate(L, 3, 2);  // function, handler, true, function, arguments...
    const int status = lua_pcallk(L, n - 2, LUA_MULTRET, 2, 2, finishProtectedCall);
    return finishProtectedCall(L, status, 2);
}

void setFunction(lua_State* L, const char* key, lua_CFunction function) {
    lua_pushcfunction(L, function);
    lua_setfield(L, -2, key);
}

}  // namespace

void install(lua_State* L) {
    const int top = lua_gettop(L);
    // Closed first, then the given-back ones replace their closed stand-ins.
    closeAllBut(L, "os", {"time", "clock", "date", "difftime"});
    closeAllBut(L, "debug", {"traceback"});
    closeAllBut(L, "io", {"open", "lines", "close", "type"});
    closeAllBut(L, "package", {"loaded", "preload", "path", "config", "searchers"});

    lua_pushglobaltable(L);
    setFunction(L, "print", logPrint);
    setFunction(L, "xpcall", guardedXpcall);
    wrapField(L, "load", textOnlyLoad);
    wrapField(L, "setmetatable", finaliserFreeSetmetatable);
    setFunction(L, "dofile", readDofile);
    setFunction(L, "loadfile", readLoadfile);
    lua_pop(L, 1);

    if (lua_getglobal(L, "os") == LUA_TTABLE) setFunction(L, "getenv", noEnvironment);
    lua_settop(L, top);

    if (lua_getglobal(L, "io") == LUA_TTABLE) {
        wrapField(L, "open", readOpen);
        wrapField(L, "lines", readLines);
        wrapField(L, "close", closeFile);
        // Standard output and error: a stand-in whose write goes to the log.
        lua_createtable(L, 0, 1);
        setFunction(L, "write", standInWrite);
        lua_pushvalue(L, -1);
        lua_setfield(L, -3, "stdout");
        lua_pushvalue(L, -1);
        lua_setfield(L, -3, "stderr");
        lua_pushcclosure(L, logWrite, 1);
        lua_setfield(L, -2, "write");
    }
    lua_settop(L, top);

    if (lua_getglobal(L, "table") == LUA_TTABLE) {
        setFunction(L, "insert", checkedInsert);
        setFunction(L, "remove", checkedRemove);
        setFunction(L, "move", checkedMove);
        setFunction(L, "concat", checkedConcat);
        wrapField(L, "sort", checkedSort);
    }
    lua_settop(L, top);
    if (lua_getglobal(L, "string") == LUA_TTABLE) {
        wrapField(L, "rep", checkedRep);
        wrapField(L, "find", checkedFind);
    }
    lua_settop(L, top);

    // Native code never enters through a script, nor do files outside the
    // template's module folder: the interpreter's own searchers stay in their
    // places (so the order of the others holds) but find nothing.
    if (lua_getglobal(L, "package") == LUA_TTABLE && lua_getfield(L, -1, "searchers") == LUA_TTABLE) {
        // After the module searcher's insertion: 1 preload, 2 template
        // modules, 3 and on the interpreter's file and native searchers.
        const lua_Integer n = static_cast<lua_Integer>(lua_rawlen(L, -1));
        for (lua_Integer i = 3; i <= n; ++i) {
            lua_pushcfunction(L, [](lua_State*) { return 0; });
            lua_rawseti(L, -2, i);
        }
    }
    lua_settop(L, top);
}

}  // namespace ScriptLibrary
}  // namespace Core
}  // namespace Quorvane
