// Runs one template main script over one render context.
#pragma once

#include <string>

namespace Quorvane {
namespace Core {

class RenderContext;
class ScriptManager;

class ScriptContext {
public:
    explicit ScriptContext(RenderContext* context);
    ~ScriptContext();
    ScriptContext(const ScriptContext&) = delete;
    ScriptContext& operator=(const ScriptContext&) = delete;

    // Runs the main file's top level with the module folder on the search
    // path, then its global main(context, data).
    void runFile(const std::string& mainFile, const std::string& moduleFolder, const std::string& data);

    ScriptManager* manager() const { return mManager; }

private:
    ScriptManager* mManager = nullptr;
    RenderContext* mContext = nullptr;
};

}  // namespace Core
}  // namespace Quorvane
