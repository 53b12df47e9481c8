#include "task/ConfigUtils.h"

#include <cfloat>
#include <cmath>

#include <rapidjson/document.h>

namespace Quorvane {
namespace Core {

namespace {

using Value = rapidjson::Value;

const Value* member(const Value& object, const char* key) {
    if (!object.IsObject()) return nullptr;
    auto it = object.FindMember(key);
    return it == object.MemberEnd() ? nullptr : &it->value;
}

void readString(const Value& object, const char* key, std::string& out) {
    const Value* v = member(object, key);
    if (v && v->IsString()) out.assign(v->GetString(), v->GetStringLength());
}

template <typename Int>
void readInt(const Value& object, const char* key, Int& out) {
    const Value* v = member(object, key);
    if (v && v->IsInt64()) out = static_cast<Int>(v->GetInt64());
}

// An integer, or any number a float can hold.
void readFrameRate(const Value& object, float& out) {
    const Value* v = member(object, "fps");
    if (!v || !v->IsNumber()) return;
    if (v->IsInt64()) {
        out = static_cast<float>(v->GetInt64());
    } else if (std::fabs(v->GetDouble()) <= FLT_MAX) {
        out = static_cast<float>(v->GetDouble());
    }
}

void readSize(const Value& size, int64_t& width, int64_t& height) {
    if (!size.IsArray()) return;
    if (size.Size() > 0 && size[0].IsInt64()) width = size[0].GetInt64();
    if (size.Size() > 1 && size[1].IsInt64()) height = size[1].GetInt64();
}

struct StyleEntry {
    int32_t style = 0;
    int32_t offset = 0;
};

ConfigUtils::CompData* readComp(const Value& object, const std::map<std::string, StyleEntry>& styles) {
    auto* comp = new ConfigUtils::CompData();
    readString(object, "name", comp->name);
    readInt(object, "duration", comp->duration);
    const Value* layers = member(object, "layers");
    if (layers && layers->IsArray()) {
        for (const Value& l : layers->GetArray()) {
            if (!l.IsObject()) continue;
            ConfigUtils::LayerData layer;
            readInt(l, "type", layer.type);
            readString(l, "source", layer.source);
            comp->layers.push_back(layer);
        }
    }
    auto it = styles.find(comp->name);
    if (it != styles.end()) {
        comp->style = it->second.style;
        comp->offset = it->second.offset;
    }
    return comp;
}

void readCompList(const Value& list, const std::map<std::string, StyleEntry>& styles,
                  std::map<std::string, ConfigUtils::CompData*>& into) {
    if (!list.IsArray()) return;
    for (const Value& element : list.GetArray()) {
        if (!element.IsObject()) continue;
        ConfigUtils::CompData* comp = readComp(element, styles);
        if (!into.emplace(comp->name, comp).second) delete comp;  // the first entry of a name stays
    }
}

}  // namespace

ConfigUtils::ConfigUtils(const std::string& configText) { loaded = load(configText); }

ConfigUtils::~ConfigUtils() {
    for (auto& entry : others) delete entry.second;
    for (auto& entry : sources) delete entry.second;
    for (CompData* comp : segments) delete comp;
    delete entrance;
    delete exit;
}

bool ConfigUtils::load(const std::string& configText) {
    rapidjson::Document doc;
    doc.Parse(configText.c_str(), configText.size());
    if (doc.HasParseError() || !doc.IsObject()) return false;

    readInt(doc, "type", type);
    if (type != 2) {
        std::string mainName;
        readString(doc, "main", mainName);
        readString(doc, "description", description);
        readFrameRate(doc, frameRate);
        readString(doc, "version", version);
        const Value* comps = member(doc, "comps");
        if (comps && comps->IsArray()) {
            for (const Value& comp : comps->GetArray()) {
                const Value* name = member(comp, "name");
                if (!name || !name->IsString() || mainName != name->GetString()) continue;
                if (const Value* size = member(comp, "size")) readSize(*size, width, height);
                readInt(comp, "duration", duration);
                break;
            }
        }
        return true;
    }

    std::map<std::string, StyleEntry> styles;
    const Value* offsets = member(doc, "offsets");
    if (offsets && offsets->IsObject()) {
        for (const auto& m : offsets->GetObject()) {
            StyleEntry entry;
            if (m.value.IsInt()) {
                entry.offset = m.value.GetInt();
            } else if (m.value.IsObject()) {
                readInt(m.value, "style", entry.style);
                readInt(m.value, "time", entry.offset);
            }
            styles[std::string(m.name.GetString(), m.name.GetStringLength())] = entry;
        }
    }

    for (const auto& m : doc.GetObject()) {
        std::string key(m.name.GetString(), m.name.GetStringLength());
        const Value& value = m.value;
        if (key == "size") {
            readSize(value, width, height);
        } else if (key == "description") {
            if (value.IsString()) description = value.GetString();
        } else if (key == "fps") {
            readFrameRate(doc, frameRate);
        } else if (key == "version") {
            if (value.IsString()) version = value.GetString();
        } else if (key == "entrance" || key == "exit") {
            if (!value.IsObject()) continue;
            CompData*& slot = key == "entrance" ? entrance : exit;
            delete slot;
            slot = readComp(value, styles);
        } else if (key == "sources") {
            readCompList(value, styles, sources);
        } else if (key == "others") {
            readCompList(value, styles, others);
        } else if (key == "segments") {
            if (!value.IsArray()) continue;
            for (const Value& element : value.GetArray()) {
                if (element.IsObject()) segments.push_back(readComp(element, styles));
            }
        } else if (key == "assets") {
            if (!value.IsArray()) continue;
            for (const Value& asset : value.GetArray()) {
                const Value* assetType = member(asset, "type");
                if (!assetType || !assetType->IsInt() || assetType->GetInt() != 3) continue;
                std::string assetKey, assetName;
                readString(asset, "key", assetKey);
                readString(asset, "name", assetName);
                assets.emplace(assetKey, assetName);
            }
        }
    }

    auto countFiles = [this](CompData* comp) {
        if (!comp) return;
        std::set<std::string> names;
        computeReplaceNum(comp, names);
        comp->files = names.size();
    };
    countFiles(entrance);
    countFiles(exit);
    for (CompData* segment : segments) countFiles(segment);
    return true;
}

void ConfigUtils::computeReplaceNum(CompData* comp, std::set<std::string>& names) {
    std::set<const CompData*> visiting;
    computeReplaceNum(comp, names, visiting);
}

// The visiting set stops "others" compositions that use each other in a cycle.
void ConfigUtils::computeReplaceNum(CompData* comp, std::set<std::string>& names,
                                    std::set<const CompData*>& visiting) {
    if (!comp || !visiting.insert(comp).second) return;
    for (const LayerData& layer : comp->layers) {
        if (!(layer.type & 0x1)) continue;
        auto asset = assets.find(layer.source);
        if (asset == assets.end()) continue;
        const std::string& compName = asset->second;
        if (sources.count(compName)) {
            names.insert(compName);
        } else {
            auto other = others.find(compName);
            if (other != others.end()) computeReplaceNum(other->second, names, visiting);
        }
    }
    visiting.erase(comp);
}

float ConfigUtils::getDurationWithFilesNum(unsigned n) {
    if (type != 2) return static_cast<float>(duration) / frameRate;

    int32_t used = entrance ? static_cast<int32_t>(entrance->files) : 0;
    int32_t target = static_cast<int32_t>(n) - (exit ? static_cast<int32_t>(exit->files) : 0);
    int64_t frames = entrance ? entrance->duration : 0;

    uint64_t segmentFiles = 0;
    for (const CompData* segment : segments) segmentFiles += segment->files;
    if (segments.empty() || segmentFiles == 0) {
        duration = frames;
        return static_cast<float>(frames) / frameRate;
    }

    size_t i = 0;
    while (used < target) {
        int32_t remaining = target - used;
        const CompData* segment = segments[i % segments.size()];
        if (remaining >= static_cast<int32_t>(segment->files)) {
            used += static_cast<int32_t>(segment->files);
            frames += segment->offset + segment->duration;
            ++i;
            continue;
        }
        const CompData* exact = nullptr;
        for (const CompData* s : segments) {
            if (static_cast<int32_t>(s->files) == remaining) {
                exact = s;
                break;
            }
        }
        if (exact) {
            frames += exact->offset + exact->duration;
            break;
        }
        std::vector<const CompData*> singles;
        for (const CompData* s : segments) {
            if (s->files == 1) singles.push_back(s);
        }
        for (int32_t k = 0; k < remaining && !singles.empty(); ++k) {
            const CompData* s = singles[static_cast<size_t>(k) % singles.size()];
            frames += s->offset + s->duration;
        }
        break;
    }
    if (exit) frames += exit->offset + exit->duration;
    duration = frames;
    return static_cast<float>(frames) / frameRate;
}

}  // namespace Core
}  // namespace Quorvane
