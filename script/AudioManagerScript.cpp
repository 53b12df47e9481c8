#include "script/AudioManagerScript.h"

#include <string>
#include <vector>

#include "core/Unique.h"
#include "media/FFAudioReader.h"
#include "render/Config.h"
#include "scene/RenderContext.h"
#include "script/RenderContextScript.h"
#include "script/ScriptBinding.h"

namespace Quorvane {
namespace Core {

namespace {

using namespace ScriptBinding;

// Argument 1 must be the context. No C++ object with a destructor may be
// alive while these raise (the interpreter's errors jump over destructors),
// so every check comes before anything is built.
RenderContext* contextArgument(lua_State* L) {
    RenderContext* context = sceneAt<RenderContext>(L, 1, RenderContextScript::className);
    if (!context) luaL_argerror(L, 1, "param is invalid");
    return context;
}

std::vector<AudioTrackInfo>* tracksOf(RenderContext* context) {
    Config* config = context->config();
    return config ? &config->audioTracks() : nullptr;
}

AudioTrackInfo* findAudioTrack(RenderContext* context, const char* key, size_t length) {
    std::vector<AudioTrackInfo>* tracks = tracksOf(context);
    if (!tracks) return nullptr;
    for (AudioTrackInfo& track : *tracks)
        if (track.key.size() == length && track.key.compare(0, length, key, length) == 0) return &track;
    return nullptr;
}

// The track named by argument 2 of a call whose argument 1 is the context.
AudioTrackInfo* trackArgument(lua_State* L) {
    RenderContext* context = contextArgument(L);
    size_t length = 0;
    const char* key = luaL_checklstring(L, 2, &length);
    return findAudioTrack(context, key, length);
}

template <float AudioTrackInfo::*Field>
int get(lua_State* L) {
    AudioTrackInfo* track = trackArgument(L);
    if (!track) return 0;
    lua_pushnumber(L, track->*Field);
    return 1;
}

template <float AudioTrackInfo::*Field>
int set(lua_State* L) {
    AudioTrackInfo* track = trackArgument(L);
    const lua_Number value = luaL_checknumber(L, 3);
    // Seconds and volumes the mix turns into sample counts and gains: finite
    // and within the frame limit (as seconds: past any real track).
    if (!track) return 0;
    if (!(value >= -static_cast<lua_Number>(kMaxFrames) && value <= static_cast<lua_Number>(kMaxFrames))) {
        logLine(L, "track %s: %g is refused (%lld either side of 0)", track->key.c_str(), value,
                static_cast<long long>(kMaxFrames));
        return 0;
    }
    track->*Field = static_cast<float>(value);
    lua_pushnumber(L, value);
    return 1;
}

int addTrack(lua_State* L) {
    RenderContext* context = contextArgument(L);
    size_t length = 0;
    const char* path = luaL_checklstring(L, 2, &length);
    std::vector<AudioTrackInfo>* tracks = tracksOf(context);
    if (!tracks) return 0;
    charge(L, kTrackCost);
    // The record keeps the path.
    chargeText(L, keptTextBytes(length));
    std::string key;
    {
        // Audio from outside the render's files is as good as missing; the
        // mixer opens the name that was checked.
        std::string opened;
        if (!context->config()->inputScope().allows(path, "audio track", &opened)) return 0;
        AudioSourceMetadata metadata(opened.c_str());
        if (!metadata.hasAudio()) return 0;
        AudioTrackInfo track;
        track.key = Unique::GenerateID();
        track.filePath = opened;
        track.volume = 1.0f;
        track.duration = metadata.durationInSeconds();
        // The mixer takes the out point as the end of the part played (an
        // out point of 0 plays nothing, and an empty mix fails the render),
        // so a new track plays whole until the script says otherwise.
        track.outPoint = track.duration;
        tracks->push_back(track);
        key = track.key;
    }
    lua_pushlstring(L, key.data(), key.size());
    return 1;
}

int removeTrack(lua_State* L) {
    RenderContext* context = contextArgument(L);
    size_t length = 0;
    const char* key = luaL_checklstring(L, 2, &length);
    std::vector<AudioTrackInfo>* tracks = tracksOf(context);
    if (!tracks) return 0;
    for (auto it = tracks->begin(); it != tracks->end(); ++it) {
        if (it->key.size() == length && it->key.compare(0, length, key, length) == 0) {
            logLine(L, "delete track %s ", it->key.c_str());
            tracks->erase(it);
            break;
        }
    }
    return 0;
}

int numTracks(lua_State* L) {
    std::vector<AudioTrackInfo>* tracks = tracksOf(contextArgument(L));
    lua_pushinteger(L, tracks ? static_cast<lua_Integer>(tracks->size()) : 0);
    return 1;
}

int duration(lua_State* L) {
    if (!argsAre(L, {LUA_TUSERDATA, LUA_TSTRING})) return 0;
    return get<&AudioTrackInfo::duration>(L);
}

const luaL_Reg kStatics[] = {
    {"addTrack", addTrack},
    {"removeTrack", removeTrack},
    {"numTracks", numTracks},
    {"duration", duration},
    {"volume", get<&AudioTrackInfo::volume>},
    {"startTime", get<&AudioTrackInfo::startTime>},
    {"inPoint", get<&AudioTrackInfo::inPoint>},
    {"outPoint", get<&AudioTrackInfo::outPoint>},
    {"fadeInDuration", get<&AudioTrackInfo::fadeInDuration>},
    {"fadeOutDuration", get<&AudioTrackInfo::fadeOutDuration>},
    {"setVolume", set<&AudioTrackInfo::volume>},
    {"setStartTime", set<&AudioTrackInfo::startTime>},
    {"setInPoint", set<&AudioTrackInfo::inPoint>},
    {"setOutPoint", set<&AudioTrackInfo::outPoint>},
    {"setFadeInDuration", set<&AudioTrackInfo::fadeInDuration>},
    {"setFadeOutDuration", set<&AudioTrackInfo::fadeOutDuration>},
    {nullptr, nullptr},
};

const ClassSpec kSpec = {AudioManagerScript::className, nullptr, nullptr, kStatics};

}  // namespace

int AudioManagerScript::luaopenClass(lua_State* L) {
    return openClass(L, kSpec);
}

void AudioManagerScript::registerFunctions(lua_State* L) {
    requireClass(L, "AudioManager", luaopenClass);
}

}  // namespace Core
}  // namespace Quorvane
