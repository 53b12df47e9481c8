// One element of a template's "assets" list.
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <string>
#include <vector>

namespace Quorvane {
namespace Core {

// Plain record. Types met by the engine: 1 a media file (an image sequence when
// `num` is above 1), 3 a composition (`name` is a composition name), 4 a solid
// colour (`name` is the colour text); any other integer is stored as given.
struct AssetConfig {
    // Builds the record from one element; an element that is not an object
    // gives the defaults and an empty `json`. Members of another JSON type than
    // expected are passed over.
    explicit AssetConfig(rapidjson::Value const& element);

    int32_t width = 0;
    int32_t height = 0;
    int32_t num = 1;
    float fps = 0.0f;
    std::string key;
    std::string name;
    std::string json;  // the whole element as compact JSON
    std::string uiKey;
    std::string uiExtra;
    bool hasUI = false;
    int32_t type = 0;
    bool replaced = false;
    std::vector<std::string> presets;
};

}  // namespace Core
}  // namespace Quorvane
