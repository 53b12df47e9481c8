// Template analysis for hosts: what a template needs and how long its video
// becomes, read from the text of its config.json without rendering anything.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace Quorvane {
namespace Core {

class ConfigUtils {
public:
    struct LayerData {
        std::string source;  // asset key
        int64_t type = 0;    // layer type bits; 0x1 marks an AV layer
    };

    struct CompData {
        int32_t style = 0;   // dynamic placement style from "offsets"
        uint64_t files = 0;  // distinct source compositions used, directly or through "others"
        int32_t offset = 0;  // frames, from "offsets"
        int64_t duration = 0;
        std::string name;
        std::vector<LayerData> layers;
    };

    explicit ConfigUtils(const std::string& configText);
    ~ConfigUtils();
    ConfigUtils(const ConfigUtils&) = delete;
    ConfigUtils& operator=(const ConfigUtils&) = delete;

    // Replaces everything read before; false (and the defaults) for text that is
    // not JSON or whose root is not an object.
    bool load(const std::string& configText);

    // Seconds of video when the template is filled with n files; for a dynamic
    // template the frame count is kept in duration.
    float getDurationWithFilesNum(unsigned n);

    // Adds to the set the names of the source compositions the composition uses.
    void computeReplaceNum(CompData* comp, std::set<std::string>& names);

    std::string version = "1.0.0";
    std::string description;
    bool loaded = false;
    float frameRate = 0.0f;
    int64_t duration = 0;
    int64_t width = 0;
    int64_t height = 0;
    int32_t type = 1;
    std::map<std::string, CompData*> others;
    std::map<std::string, CompData*> sources;
    std::vector<CompData*> segments;
    CompData* entrance = nullptr;
    CompData* exit = nullptr;
    std::map<std::string, std::string> assets;  // key -> name, assets of type 3 only

private:
    void clear();
    void computeReplaceNum(CompData* comp, std::set<std::string>& names, std::set<const CompData*>& visited);
};

}  // namespace Core
}  // namespace Quorvane
