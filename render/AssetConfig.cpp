#include "render/AssetConfig.h"

#include "core/Json.h"

namespace Quorvane {
namespace Core {

namespace {

using Json::Value;

struct AssetKey {
    const char* key;
    void (*read)(AssetConfig&, Value const&);
};

// Members of another JSON type than a row expects are passed over.
const AssetKey kAssetKeys[] = {
    {"key", [](AssetConfig& a, Value const& v) { Json::getString(v, a.key); }},
    {"ui_key", [](AssetConfig& a, Value const& v) { Json::getString(v, a.uiKey); }},
    {"ui_extra", [](AssetConfig& a, Value const& v) { Json::getString(v, a.uiExtra); }},
    {"name", [](AssetConfig& a, Value const& v) { Json::getString(v, a.name); }},
    {"fps", [](AssetConfig& a, Value const& v) { Json::getFloat(v, a.fps); }},
    {"type", [](AssetConfig& a, Value const& v) { Json::getInt(v, a.type); }},
    {"num", [](AssetConfig& a, Value const& v) { Json::getInt(v, a.num); }},
    {"size", [](AssetConfig& a, Value const& v) { Json::getSize(v, a.width, a.height); }},
    {"ui", [](AssetConfig& a, Value const& v) { a.hasUI = a.hasUI || v.IsObject(); }},
    {"preset",
     [](AssetConfig& a, Value const& v) {
         if (!v.IsArray()) return;
         for (Value const& element : v.GetArray()) {
             std::string text;
             if (Json::getString(element, text)) a.presets.push_back(text);
         }
     }},
};

}  // namespace

AssetConfig::AssetConfig(rapidjson::Value const& element) {
    if (!element.IsObject()) return;
    for (auto const& member : element.GetObject()) {
        for (AssetKey const& entry : kAssetKeys) {
            if (Json::nameIs(member.name, entry.key)) {
                entry.read(*this, member.value);
                break;
            }
        }
    }
    json = Json::write(element);
}

}  // namespace Core
}  // namespace Quorvane
