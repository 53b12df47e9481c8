#include "script/AVSourceScript.h"

#include <set>
#include <string>
#include <vector>

#include "media/AVSource.h"
#include "scene/RenderAVLayer.h"
#include "scene/RenderComp.h"
#include "script/ColorScript.h"
#include "script/RenderCompScript.h"
#include "script/ScriptBinding.h"
#include "script/TimeUnitScript.h"

namespace Quorvane {
namespace Core {

namespace {

using namespace ScriptBinding;
constexpr const char* kClass = AVSourceScript::className;
constexpr int U = LUA_TUSERDATA, S = LUA_TSTRING, T = LUA_TTABLE;

AVSource* sourceOf(lua_State* L, std::initializer_list<int> types) {
    return sceneObject<AVSource>(L, kClass, types);
}

int pushText(lua_State* L, const std::string& text) {
    lua_pushlstring(L, text.data(), text.size());
    return 1;
}

template <lua_Integer (*Get)(const AVSource&)>
int integer(lua_State* L) {
    AVSource* source = sourceOf(L, {U});
    return source ? (lua_pushinteger(L, Get(*source)), 1) : pushNil(L);
}

lua_Integer typeOf(const AVSource& s) {
    return s.sourceType();
}
lua_Integer fileTypeOf(const AVSource& s) {
    return s.fileType();
}
lua_Integer widthOf(const AVSource& s) {
    return s.width();
}
lua_Integer heightOf(const AVSource& s) {
    return s.height();
}
// The ratio truncated to a whole number (0.9 answers 0); a media file may
// give any float.
lua_Integer aspectOf(const AVSource& s) {
    return wholeNumber(s.pixelAspectRatio());
}

template <const std::string& (AVSource::*Get)() const>
int text(lua_State* L) {
    AVSource* source = sourceOf(L, {U});
    return source ? pushText(L, (source->*Get)()) : pushNil(L);
}

int setImageSequenceFiles(lua_State* L) {
    AVSource* source = sourceOf(L, {U, T});
    // The source keeps the list and a copy of its first name as its main file.
    if (!source || lua_rawlen(L, 2) == 0) return 0;
    lua_rawgeti(L, 2, 1);
    const size_t first = keptTextBytes(lua_rawlen(L, -1));
    lua_pop(L, 1);
    if (!chargeTextArray(L, 2, first)) return 0;
    source->setImageSequenceFiles(textArray(L, 2));
    return 0;
}

// Whether showing the composition through this source would make a
// composition show itself: some layer using the source sits in a composition
// that the new one shows, directly or through further composition sources.
// The engine refuses such a ring when a layer takes a source; here the ring
// would close from the source's side.
bool wouldCloseRing(AVSource* source, RenderComp* comp) {
    std::set<RenderComp*> shown;
    std::vector<RenderComp*> pending{comp};
    while (!pending.empty()) {
        RenderComp* c = pending.back();
        pending.pop_back();
        if (!shown.insert(c).second) continue;
        for (RenderLayer* layer : c->layers()) {
            auto* av = dynamic_cast<RenderAVLayer*>(layer);
            AVSource* s = av ? av->layerSource() : nullptr;
            if (s && s != source && s->sourceType() == AVSource::kSourceTypeComp && s->sourceComp())
                pending.push_back(s->sourceComp());
        }
    }
    for (RenderPass* user : source->passesUseThisSource()) {
        auto* layer = dynamic_cast<RenderLayer*>(user);
        RenderComp* home = layer ? layer->parentComp() : nullptr;
        if (home && shown.count(home)) return true;
    }
    return false;
}

const luaL_Reg kMethods[] = {
    {"sourceType", integer<typeOf>},
    {"fileType", integer<fileTypeOf>},
    {"width", integer<widthOf>},
    {"height", integer<heightOf>},
    {"pixelAspectRatio", integer<aspectOf>},
    {"sourceDuration",
     [](lua_State* L) {
         AVSource* source = sourceOf(L, {U});
         if (!source) return pushNil(L);
         TimeUnitScript::newTimeUnit(L, source->sourceDuration());
         return 1;
     }},
    {"key", text<&AVSource::key>},
    {"getConfigJson", text<&AVSource::getConfigJson>},
    {"sourceFile", text<&AVSource::mainFile>},
    {"setMainMediaFile",
     [](lua_State* L) {
         if (AVSource* source = sourceOf(L, {U, S})) source->setMainMediaFile(storedText(L, 2));
         return 0;
     }},
    {"sourceImageSequenceFile",
     [](lua_State* L) {
         AVSource* source = sourceOf(L, {U});
         if (!source) return pushNil(L);
         const std::vector<std::string>& files = source->imageSequenceFils();
         lua_createtable(L, static_cast<int>(files.size()), 0);
         for (size_t i = 0; i < files.size(); ++i) {
             pushText(L, files[i]);
             lua_rawseti(L, -2, static_cast<lua_Integer>(i + 1));
         }
         return 1;
     }},
    {"setImageSequenceFiles", setImageSequenceFiles},
    {"sourceColor",
     [](lua_State* L) {
         AVSource* source = sourceOf(L, {U});
         if (!source) return pushNil(L);
         ColorScript::newColor(L, source->sourceColor());
         return 1;
     }},
    {"sourceComp",
     [](lua_State* L) {
         AVSource* source = sourceOf(L, {U});
         if (!source) return pushNil(L);
         RenderCompScript::createRenderComp(L, source->sourceComp());
         return 1;
     }},
    {"setSourceComp",
     [](lua_State* L) {
         AVSource* source = sourceOf(L, {U, U});
         RenderComp* comp = sceneAt<RenderComp>(L, 2, RenderCompScript::className);
         if (!source || !comp) return 0;
         if (wouldCloseRing(source, comp)) {
             logLine(L, "source %s: composition %s would show itself, refused", source->key().c_str(),
                     comp->name().c_str());
             return 0;
         }
         source->setSourceComp(comp);
         return 0;
     }},
    {nullptr, nullptr},
};

const ClassSpec kSpec = {kClass, nullptr, kMethods, nullptr};

}  // namespace

int AVSourceScript::luaopenClass(lua_State* L) {
    return openClass(L, kSpec);
}

void AVSourceScript::registerFunctions(lua_State* L) {
    setEnumGlobal(L, "AVSourceType",
                  {{"kUnknownSource", 0}, {"kAVFile", 1}, {"kRenderComp", 3}, {"kSolidColor", 4}});
    setEnumGlobal(L, "AVFileType",
                  {{"kUnknownFile", 0}, {"kVideoFile", 1}, {"kImageFile", 2}, {"kImageSequence", 3}});
    requireClass(L, "AVSourceScript", luaopenClass);
}

void AVSourceScript::createAVSource(lua_State* L, AVSource* source) {
    pushScene(L, source, kClass);
}

}  // namespace Core
}  // namespace Quorvane
