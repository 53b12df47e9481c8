#include "script/ScriptContext.h"

#include "core/FileManager.h"
#include "render/Config.h"
#include "scene/RenderContext.h"
#include "script/RenderContextScript.h"
#include "script/ScriptManager.h"

namespace Quorvane {
namespace Core {

ScriptContext::ScriptContext(RenderContext* context) : mManager(new ScriptManager()), mContext(context) {}

ScriptContext::~ScriptContext() {
    delete mManager;
}

void ScriptContext::runFile(const std::string& mainFile, const std::string& moduleFolder,
                            const std::string& data) {
    if (!mManager->getLuaState()) return;
    if (!FileManager::exist(mainFile) || !FileManager::isFile(mainFile)) return;
    mManager->addSearchPath(moduleFolder.c_str());
    if (mContext && mContext->config()) mManager->addReadableFolder(mContext->config()->templatePath());
    RenderContext* context = mContext;
    // Opened out here: a panic jumps back into guarded, never past this.
    LogShareScope share(*mManager->logShare());
    mManager->guarded([&] {
        // The top level's failure is not reported: main runs in every case,
        // and a missing main is what gets logged.
        mManager->executeFile(mainFile.c_str());
        mManager->runGlobalLuaFunctionWithArguments(
            "main",
            [context, &data](lua_State* L, int) {
                RenderContextScript::createRenderContext(L, context);
                lua_pushlstring(L, data.data(), data.size());
            },
            2, false);
    });
}

}  // namespace Core
}  // namespace Quorvane
