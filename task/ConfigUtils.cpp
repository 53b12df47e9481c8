#include "task/ConfigUtils.h"

#include <cstdint>

#include "core/Json.h"

namespace Quorvane {
namespace Core {

namespace {

using Value = Json::Value;

// A member that is an integer fitting the field; anything else leaves it alone.
void readInt(const Value& object, const char* key, int64_t& out) {
    Json::read(object, key, out, Json::getInt64);
}
void readInt(const Value& object, const char* key, int32_t& out) {
    Json::read(object, key, out, Json::getInt);
}

void readString(const Value& object, const char* key, std::string& out) {
    Json::read(object, key, out, Json::getString);
}

void readSize(const Value& size, int64_t& width, int64_t& height) {
    if (!size.IsArray()) return;
    if (size.Size() > 0) Json::getInt64(size[0], width);
    if (size.Size() > 1) Json::getInt64(size[1], height);
}

// Frame sums saturate: durations come from the template and are not bounded.
int64_t addFrames(int64_t a, int64_t b) {
    int64_t sum;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? INT64_MAX : INT64_MIN;
}

int64_t mulFrames(int64_t a, int64_t count) {
    int64_t product;
    if (!__builtin_mul_overflow(a, count, &product)) return product;
    return a > 0 ? INT64_MAX : INT64_MIN;
}

int64_t segmentFrames(const ConfigUtils::CompData* comp) {
    return addFrames(comp->offset, comp->duration);
}

struct StyleEntry {
    int32_t style = 0;
    int32_t offset = 0;
};

ConfigUtils::CompData* readComp(const Value& object, const std::map<std::string, StyleEntry>& styles) {
    auto* comp = new ConfigUtils::CompData();
    readString(object, "name", comp->name);
    readInt(object, "duration", comp->duration);
    if (const Value* layers = Json::findArray(object, "layers"); layers && layers->IsArray()) {
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

std::map<std::string, StyleEntry> readStyles(const Value& root) {
    std::map<std::string, StyleEntry> styles;
    const Value* offsets = Json::findObject(root, "offsets");
    if (!offsets || !offsets->IsObject()) return styles;
    for (const auto& m : offsets->GetObject()) {
        StyleEntry entry;
        if (!Json::getInt(m.value, entry.offset) && m.value.IsObject()) {
            readInt(m.value, "style", entry.style);
            readInt(m.value, "time", entry.offset);
        }
        styles[std::string(m.name.GetString(), m.name.GetStringLength())] = entry;
    }
    return styles;
}

}  // namespace

ConfigUtils::ConfigUtils(const std::string& configText) {
    loaded = load(configText);
}

ConfigUtils::~ConfigUtils() {
    clear();
}

void ConfigUtils::clear() {
    for (auto& entry : others) delete entry.second;
    for (auto& entry : sources) delete entry.second;
    for (CompData* comp : segments) delete comp;
    delete entrance;
    delete exit;
    others.clear();
    sources.clear();
    segments.clear();
    entrance = nullptr;
    exit = nullptr;
    assets.clear();
    version = "1.0.0";
    description.clear();
    frameRate = 0.0f;
    duration = 0;
    width = 0;
    height = 0;
    type = 1;
}

bool ConfigUtils::load(const std::string& configText) {
    // A second load describes the new text alone, not a mixture with the first.
    clear();
    Json::Document doc;
    // The byte order mark is skipped as the engine's own template loader does,
    // so a host learns about every config.json that would render.
    if (!Json::parse(doc, configText, Json::ByteOrderMark::Skip) || !doc.IsObject()) return false;

    readInt(doc, "type", type);
    if (type != 2) {
        std::string mainName;
        readString(doc, "main", mainName);
        readString(doc, "description", description);
        Json::read(doc, "fps", frameRate, Json::getFloat);
        readString(doc, "version", version);
        if (const Value* comps = Json::findArray(doc, "comps"); comps && comps->IsArray()) {
            for (const Value& comp : comps->GetArray()) {
                std::string name;
                if (!Json::read(comp, "name", name, Json::getString) || name != mainName) continue;
                if (const Value* size = Json::find(comp, "size")) readSize(*size, width, height);
                readInt(comp, "duration", duration);
                break;
            }
        }
        return true;
    }

    const std::map<std::string, StyleEntry> styles = readStyles(doc);
    for (const auto& m : doc.GetObject()) {
        const Value& name = m.name;
        const Value& value = m.value;
        if (Json::nameIs(name, "size")) {
            readSize(value, width, height);
        } else if (Json::nameIs(name, "description")) {
            Json::getString(value, description);
        } else if (Json::nameIs(name, "fps")) {
            Json::getFloat(value, frameRate);
        } else if (Json::nameIs(name, "version")) {
            Json::getString(value, version);
        } else if (Json::nameIs(name, "entrance") || Json::nameIs(name, "exit")) {
            if (!value.IsObject()) continue;
            CompData*& slot = Json::nameIs(name, "entrance") ? entrance : exit;
            delete slot;  // a repeated member: the last one describes the template
            slot = readComp(value, styles);
        } else if (Json::nameIs(name, "sources")) {
            readCompList(value, styles, sources);
        } else if (Json::nameIs(name, "others")) {
            readCompList(value, styles, others);
        } else if (Json::nameIs(name, "segments")) {
            if (!value.IsArray()) continue;
            for (const Value& element : value.GetArray()) {
                if (element.IsObject()) segments.push_back(readComp(element, styles));
            }
        } else if (Json::nameIs(name, "assets")) {
            if (!value.IsArray()) continue;
            for (const Value& asset : value.GetArray()) {
                int32_t assetType = 0;
                if (!Json::read(asset, "type", assetType, Json::getInt) || assetType != 3) continue;
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
    std::set<const CompData*> visited;
    computeReplaceNum(comp, names, visited);
}

// A composition's sources are all in the set after its first visit, so each
// "others" composition is walked once: cycles end, and compositions shared by
// many paths are not walked again and again.
void ConfigUtils::computeReplaceNum(CompData* comp, std::set<std::string>& names,
                                    std::set<const CompData*>& visited) {
    if (!comp || !visited.insert(comp).second) return;
    for (const LayerData& layer : comp->layers) {
        if (!(layer.type & 0x1)) continue;
        auto asset = assets.find(layer.source);
        if (asset == assets.end()) continue;
        const std::string& compName = asset->second;
        if (sources.count(compName)) {
            names.insert(compName);
        } else {
            auto other = others.find(compName);
            if (other != others.end()) computeReplaceNum(other->second, names, visited);
        }
    }
}

float ConfigUtils::getDurationWithFilesNum(unsigned n) {
    if (type != 2) return static_cast<float>(duration) / frameRate;

    int64_t used = entrance ? static_cast<int64_t>(entrance->files) : 0;
    const int64_t target =
        static_cast<int32_t>(n) - (exit ? static_cast<int64_t>(exit->files) : 0);  // n as signed 32 bits
    int64_t frames = entrance ? entrance->duration : 0;

    uint64_t cycleFiles = 0;
    int64_t cycleFrames = 0;
    for (const CompData* segment : segments) {
        cycleFiles += segment->files;
        cycleFrames = addFrames(cycleFrames, segmentFrames(segment));
    }
    if (segments.empty() || cycleFiles == 0) {
        duration = frames;
        return static_cast<float>(frames) / frameRate;
    }

    size_t i = 0;
    while (used < target) {
        int64_t remaining = target - used;
        // Whenever the list starts over with files for a whole round left,
        // every segment is taken in turn; whole rounds are counted at once so
        // that a large n takes no time.
        if (i == 0 && static_cast<uint64_t>(remaining) >= cycleFiles) {
            const int64_t rounds = remaining / static_cast<int64_t>(cycleFiles);
            used += rounds * static_cast<int64_t>(cycleFiles);
            frames = addFrames(frames, mulFrames(cycleFrames, rounds));
            continue;
        }
        const CompData* segment = segments[i];
        if (remaining >= static_cast<int64_t>(segment->files)) {
            used += static_cast<int64_t>(segment->files);
            frames = addFrames(frames, segmentFrames(segment));
            i = (i + 1) % segments.size();
            continue;
        }
        const CompData* exact = nullptr;
        for (const CompData* s : segments) {
            if (static_cast<int64_t>(s->files) == remaining) {
                exact = s;
                break;
            }
        }
        if (exact) {
            frames = addFrames(frames, segmentFrames(exact));
            break;
        }
        std::vector<const CompData*> singles;
        for (const CompData* s : segments) {
            if (s->files == 1) singles.push_back(s);
        }
        for (int64_t k = 0; k < remaining && !singles.empty(); ++k) {
            frames = addFrames(frames, segmentFrames(singles[static_cast<size_t>(k) % singles.size()]));
        }
        break;
    }
    if (exit) frames = addFrames(frames, segmentFrames(exit));
    duration = frames;
    return static_cast<float>(frames) / frameRate;
}

}  // namespace Core
}  // namespace Quorvane
