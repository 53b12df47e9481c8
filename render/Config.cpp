#include "render/Config.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <initializer_list>

#include "core/FileCodec.h"
#include "core/FileManager.h"
#include "core/Json.h"
#include "core/Log.h"
#include "core/Unique.h"
#include "render/AssetConfig.h"

namespace Quorvane {
namespace Core {

namespace {

using Json::Value;
using rapidjson::SizeType;

bool isMusicExtension(std::string const& path) {
    const size_t dot = path.rfind('.');
    std::string ext = dot == std::string::npos ? path : path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == "mp3" || ext == "aac";
}

// Puts the template's prefix in front of names of a document (the new strings
// belong to the document).
class Prefixer {
public:
    Prefixer(std::string const& prefix, rapidjson::Document::AllocatorType& allocator)
        : prefix_(prefix), allocator_(allocator) {}

    void rewrite(Value& text) {
        std::string prefixed = prefix_;
        prefixed.append(text.GetString(), text.GetStringLength());
        set(text, prefixed);
    }

    void rewriteIfString(Value* value) {
        if (value && value->IsString()) rewrite(*value);
    }

    void rewriteIfNonEmptyString(Value* value) {
        if (value && value->IsString() && value->GetStringLength() > 0) rewrite(*value);
    }

    void composition(Value& comp) {
        if (!comp.IsObject()) return;
        rewriteIfString(Json::find(comp, "name"));
        Value* layers = Json::findArray(comp, "layers");
        if (!layers || layers->Empty()) return;

        bool parentsByPosition = false;
        for (Value& layer : layers->GetArray()) {
            if (!layer.IsObject()) continue;
            rewriteIfNonEmptyString(Json::find(layer, "source"));
            identify(layer);
            Value* parent = Json::find(layer, "parent");
            if (parent && parent->IsInt()) {
                parentsByPosition = true;
            } else {
                rewriteIfNonEmptyString(parent);
            }
        }
        if (parentsByPosition) resolveParents(*layers);
    }

private:
    void set(Value& text, std::string const& value) {
        text.SetString(value.data(), static_cast<SizeType>(value.size()), allocator_);
    }

    // A layer without a string identifier gets a generated one. A "uuid" of
    // another JSON type is replaced in place rather than shadowed by a second
    // member, so that every later lookup finds the string.
    void identify(Value& layer) {
        Value* uuid = Json::find(layer, "uuid");
        if (uuid && uuid->IsString()) {
            rewrite(*uuid);
            return;
        }
        const std::string generated = prefix_ + "layer_" + Unique::getUniqueCounter();
        if (uuid) {
            set(*uuid, generated);
            return;
        }
        Value name("uuid");
        Value value(generated.data(), static_cast<SizeType>(generated.size()), allocator_);
        layer.AddMember(name, value, allocator_);
    }

    // Integer parents name a layer by its position in the same list.
    void resolveParents(Value& layers) {
        for (Value& layer : layers.GetArray()) {
            Value* parent = Json::find(layer, "parent");
            if (!parent || !parent->IsInt()) continue;
            const int index = parent->GetInt();
            parent->SetString("", 0, allocator_);
            if (index < 0 || static_cast<SizeType>(index) >= layers.Size()) continue;
            const Value* target = Json::find(layers[static_cast<SizeType>(index)], "uuid");
            if (target && target->IsString()) {
                parent->SetString(target->GetString(), target->GetStringLength(), allocator_);
            }
        }
    }

    std::string const& prefix_;
    rapidjson::Document::AllocatorType& allocator_;
};

}  // namespace

Config::Config(std::string const& folder) {
    setFolder(folder);
    const std::string path = templatePath_ + "config.json";
    const InputFileStatus status = FileManager::checkInput(path);
    if (status == InputFileStatus::Missing) {
        noteUnbuildable("the template folder has no config.json");
    } else if (status != InputFileStatus::Ok) {
        noteUnreadableFile("config.json is " + std::string(FileManager::describe(status)));
    }
    // A config.json linked out of the folder is no configuration of this
    // template: it is read as an unreadable one, with nothing of its target.
    const bool inside = inputScope_.allows(path, "config.json");
    if (!inside) noteUnreadableFile("config.json lies outside the template folder");
    FileCodec codec(inside ? FileCodec::getFileCodecVersion(path) : FileCodecVersionPlain);
    if (inside) codec.decodePack(path);
    // A damaged pack may announce more bytes than it holds.
    const uint64_t size = std::min<uint64_t>(codec.size, codec.content.size());
    loadFromJson(codec.content.data(), size);
    chooseMusic();
}

Config::Config(std::string const& content, std::string const& folder) {
    setFolder(folder);
    loadFromJson(content.data(), content.size());
    chooseMusic();
}

Config::Config(int width, int height, float fps, unsigned long duration, std::string const& mainCompName)
    : version_(QVVersion()),
      duration_(duration),
      frameRate_(fps),
      mainCompWidth_(width),
      mainCompHeight_(height),
      mainCompName_(mainCompName),
      templateType_(TemplateTypeInMemory) {}

Config::~Config() {
    for (AssetConfig* asset : assets_) delete asset;
}

void Config::setFolder(std::string const& folder) {
    templatePath_ = folder;
    if (templatePath_.empty() || templatePath_.back() != '/') templatePath_ += '/';
    inputScope_.addFolder(templatePath_);
    QVPrint("Template path:%s", templatePath_.c_str());
    QVPrint("%s", FileManager::exist(templatePath_ + "config.json") ? "Template valid" : "Template invalid");
}

void Config::chooseMusic() {
    for (const char* name : {"music.aac", "music.mp3"}) {
        const std::string path = templatePath_ + name;
        const InputFileStatus status = FileManager::checkInput(path, kMaxMediaFileBytes);
        if (status == InputFileStatus::Ok) {
            // Music linked out of the template is no music of it.
            if (!inputScope_.allows(path, "music")) continue;
            musicFile_ = path;
            return;
        }
        if (status != InputFileStatus::Missing) {
            noteUnreadableFile(std::string(name) + " is " + FileManager::describe(status));
        }
    }
    musicFile_.clear();
}

void Config::loadFromJson(char const* bytes, unsigned long size) {
    Json::Document doc;
    if (!Json::parse(doc, bytes, size, Json::ByteOrderMark::Skip) || !doc.IsObject()) {
        QVPrint("json parse error");
        // Said once: a missing or unreadable file has its own reason already.
        if (unreadableFiles_.empty()) noteUnbuildable("config.json holds no JSON object");
        configContent_ = Json::write(doc);
        return;
    }
    int32_t type = 0;
    if (Json::read(doc, "type", type, Json::getInt)) {
        templateType_ = static_cast<TemplateType>(type);
        resolveConflict(doc, templateType_);
        readRoot(doc);
        checkCompSizes(doc);
    }
    configContent_ = Json::write(doc);
}

void Config::resolveConflict(rapidjson::Document& document, TemplateType type) {
    prefix_ = Unique::getUniqueCounter() + "&";
    Prefixer prefixer(prefix_, document.GetAllocator());

    prefixer.rewriteIfString(Json::find(document, "main"));
    if (type != TemplateTypeDynamic) {
        if (Value* comps = Json::findArray(document, "comps")) {
            for (Value& comp : comps->GetArray()) prefixer.composition(comp);
        }
    } else {
        for (const char* key : {"sources", "others", "segments"}) {
            if (Value* comps = Json::findArray(document, key)) {
                for (Value& comp : comps->GetArray()) prefixer.composition(comp);
            }
        }
        for (const char* key : {"entrance", "exit", "foreground", "background"}) {
            if (Value* comp = Json::find(document, key)) prefixer.composition(*comp);
        }
        if (Value* offsets = Json::findObject(document, "offsets")) {
            for (auto& member : offsets->GetObject()) prefixer.rewrite(member.name);
        }
    }
    if (Value* assets = Json::findArray(document, "assets")) {
        for (Value& asset : assets->GetArray()) {
            prefixer.rewriteIfString(Json::find(asset, "key"));
            int32_t assetType = 0;
            if (Json::read(asset, "type", assetType, Json::getInt) && assetType == 3) {
                prefixer.rewriteIfString(Json::find(asset, "name"));
            }
        }
    }
}

void Config::readRoot(Value const& root) {
    const int32_t type = templateType_;
    if (type != TemplateTypeNormal && type != TemplateTypeDynamic && type != TemplateTypeFilter) return;

    constexpr unsigned kAll = TemplateTypeNormal | TemplateTypeDynamic | TemplateTypeFilter;
    constexpr unsigned kNotDynamic = TemplateTypeNormal | TemplateTypeFilter;
    struct RootKey {
        const char* key;
        unsigned types;  // TemplateType bits the key is read for
        void (*read)(Config&, Value const&);
    };
    // "type" itself was read before prefixing and is not read again, so a
    // repeated "type" member cannot disagree with the prefixing done.
    static const RootKey kRootKeys[] = {
        {"assets", kAll,
         [](Config& c, Value const& v) {
             if (!v.IsArray()) return;
             for (Value const& element : v.GetArray()) c.assets_.push_back(new AssetConfig(element));
         }},
        {"main", kNotDynamic, [](Config& c, Value const& v) { Json::getString(v, c.mainCompName_); }},
        {"description", kAll, [](Config& c, Value const& v) { Json::getString(v, c.description_); }},
        {"fps", kAll, [](Config& c, Value const& v) { Json::getFloat(v, c.frameRate_); }},
        {"version", kAll, [](Config& c, Value const& v) { Json::getString(v, c.version_); }},
        {"settings", kAll, [](Config& c, Value const& v) { Json::read(v, "attr", c.attr_, Json::getInt); }},
        {"size", TemplateTypeDynamic,
         [](Config& c, Value const& v) { Json::getSize(v, c.mainCompWidth_, c.mainCompHeight_); }},
        {"bg", TemplateTypeDynamic,
         [](Config& c, Value const& v) {
             std::string text;
             if (Json::getString(v, text)) c.backgroundColor_ = Color(text);
         }},
        {"expand", TemplateTypeDynamic, [](Config& c, Value const& v) { Json::getInt(v, c.expand_); }},
    };

    for (auto const& member : root.GetObject()) {
        for (RootKey const& entry : kRootKeys) {
            if ((entry.types & static_cast<unsigned>(type)) == 0) continue;
            if (!Json::nameIs(member.name, entry.key)) continue;
            entry.read(*this, member.value);
            break;
        }
    }
    if (type != TemplateTypeDynamic) readMainComp(root);
}

void Config::readMainComp(Value const& root) {
    Value const* comps = Json::findArray(root, "comps");
    if (!comps) return;
    for (Value const& comp : comps->GetArray()) {
        std::string name;
        if (!Json::read(comp, "name", name, Json::getString) || name != mainCompName_) continue;
        if (Value const* size = Json::find(comp, "size"))
            Json::getSize(*size, mainCompWidth_, mainCompHeight_);
        std::string bg;
        if (Json::read(comp, "bg", bg, Json::getString)) backgroundColor_ = Color(bg);
        // A negative duration would wrap to an endless render in the unsigned
        // field; it is refused and the duration stays 0.
        int32_t duration = 0;
        if (Json::read(comp, "duration", duration, Json::getInt) && duration >= 0) duration_ = duration;
        // The composition's own rate replaces the root's in the render context.
        hasMainCompFrameRate_ = Json::read(comp, "fps", mainCompFrameRate_, Json::getFloat);
        return;
    }
}

namespace {

// Why a composition value's "size" is not two positive integers, or "" (no
// "size" is fine: the composition takes its parent's); its larger side goes
// into *largest.
std::string badSize(Value const& comp, int64_t* largest) {
    if (!comp.IsObject()) return std::string();
    Value const* size = Json::find(comp, "size");
    if (!size) return std::string();
    int32_t width = 0, height = 0;
    std::string name;
    Json::read(comp, "name", name, Json::getString);
    if (!Json::getSize(*size, width, height) || width <= 0 || height <= 0) {
        return "composition \"" + name + "\" has no positive size";
    }
    *largest = std::max<int64_t>(*largest, std::max(width, height));
    return std::string();
}

}  // namespace

void Config::checkCompSizes(Value const& root) {
    // The compositions the render context builds, by template type.
    std::vector<Value const*> comps;
    auto addList = [&](const char* key) {
        if (Value const* list = Json::findArray(root, key)) {
            for (Value const& comp : list->GetArray()) comps.push_back(&comp);
        }
    };
    if (templateType_ == TemplateTypeDynamic) {
        for (const char* key : {"sources", "others", "segments"}) addList(key);
        for (const char* key : {"entrance", "exit", "foreground", "background"}) {
            if (Value const* comp = Json::find(root, key)) comps.push_back(comp);
        }
    } else {
        addList("comps");
    }
    for (Value const* comp : comps) {
        std::string reason = badSize(*comp, &largestCompSide_);
        if (!reason.empty() && badCompSize_.empty()) badCompSize_ = reason;
    }
}

std::string Config::refusalReason(int maxSide) const {
    char text[160];
    if (!unreadableFiles_.empty()) return unreadableFiles_.front();
    if (mainCompWidth_ <= 0 || mainCompHeight_ <= 0) return "the main composition has no positive size";
    if (!badCompSize_.empty()) return badCompSize_;
    const int64_t largest = std::max<int64_t>({largestCompSide_, mainCompWidth_, mainCompHeight_});
    if (largest > maxSide) {
        snprintf(text, sizeof text, "a composition side of %lld pixels is above the largest, %d",
                 static_cast<long long>(largest), maxSide);
        return text;
    }
    // A solid is one texture of its own size.
    for (AssetConfig const* asset : assets_) {
        if (asset->type != 4 || std::max(asset->width, asset->height) <= maxSide) continue;
        snprintf(text, sizeof text, "solid %s has a side of %d pixels, above the largest, %d", asset->key.c_str(),
                 std::max(asset->width, asset->height), maxSide);
        return text;
    }
    struct Rate {
        const char* what;
        bool given;
        float fps;
    };
    for (Rate const& rate :
         {Rate{"\"fps\"", true, frameRate_},
          Rate{"the main composition's \"fps\"", hasMainCompFrameRate_, mainCompFrameRate_}}) {
        if (rate.given && !isUsableFrameRate(rate.fps)) {
            snprintf(text, sizeof text, "%s %g is not a frame rate from 1 to %g", rate.what,
                     static_cast<double>(rate.fps), static_cast<double>(kMaxFrameRate));
            return text;
        }
    }
    return std::string();
}

unsigned long long Config::maxTimelineFrames(float fps) {
    const double day = kMaxTimelineSeconds * static_cast<double>(fps);
    if (!(day < static_cast<double>(kMaxTimelineFrames))) return kMaxTimelineFrames;
    return day > 0.0 ? static_cast<unsigned long long>(day) : 0;
}

std::string Config::timelineRefusal(unsigned long long frames, float fps) {
    if (frames < 1) return "the main timeline has no frame";
    const unsigned long long most = maxTimelineFrames(fps);
    if (frames <= most) return std::string();
    char text[160];
    snprintf(text, sizeof text, "the main timeline of %llu frames is longer than the longest, %llu frames at %g fps",
             frames, most, static_cast<double>(fps));
    return text;
}

void Config::noteUnreadableFile(std::string const& what) const {
    QVPrint("Template file refused: %s", what.c_str());
    unreadableFiles_.push_back(what);
}

void Config::noteUnbuildable(std::string const& what) const {
    QVPrint("Template refused: %s", what.c_str());
    unreadableFiles_.push_back(what);
}

void Config::setMusicVolume(float volume) {
    if (!isUsableMusicVolume(volume)) {
        QVPrint("music volume %f is not a finite gain from 0 to %g, %f kept", static_cast<double>(volume),
                static_cast<double>(kMaxMusicVolume), static_cast<double>(musicVolume_));
        return;
    }
    musicVolume_ = volume;
}

void Config::setMusicFile(std::string const& path) {
    if (isMusicExtension(path)) musicFile_ = path;
}

void Config::setMusicPath(std::string const& path) {
    // The host's music is the user's own choice: when it is not taken, the log
    // says so, so that a video without sound is never a riddle.
    if (!isMusicExtension(path)) {
        QVPrint("music %s is not an mp3 or aac file, skipped", path.c_str());
        return;
    }
    addHostFile(path);
    const InputFileStatus status = FileManager::checkInput(path, kMaxMediaFileBytes);
    if (status == InputFileStatus::Ok) {
        musicFile_ = path;
    } else {
        QVPrint("music %s is %s, skipped", path.c_str(), FileManager::describe(status));
    }
}

std::string Config::assetFolder() const {
    return templatePath_ + "assets/";
}

std::string Config::assetFile(std::string const& name) const {
    return templatePath_ + "assets/" + name;
}

std::string Config::dataFile(std::string const& name) const {
    // A ".." component would lead out of the template (to a device, say).
    for (size_t begin = 0; begin <= name.size();) {
        size_t end = name.find('/', begin);
        if (end == std::string::npos) end = name.size();
        if (name.compare(begin, end - begin, "..") == 0) {
            noteUnreadableFile("data file " + name + " lies outside the data folder");
            return std::string();
        }
        begin = end + 1;
    }
    const std::string path = templatePath_ + "datas/" + name;
    if (name.empty()) return path;
    const InputFileStatus status = FileManager::checkInput(path);
    if (status != InputFileStatus::Ok && status != InputFileStatus::Missing) {
        noteUnreadableFile("data file " + name + " is " + FileManager::describe(status));
        return std::string();
    }
    // A data file (or folder) linked out of the template is missing to it.
    if (!inputScope_.allows(path, "data file")) return std::string();
    return path;
}

FileCodec* Config::loadDataFile(std::string const& name) const {
    const std::string path = dataFile(name);
    if (path.empty() || !FileManager::exist(path)) return nullptr;
    FileCodec* codec = new FileCodec(FileCodec::getFileCodecVersion(path));
    codec->decodePack(path);
    return codec;
}

AssetConfig* Config::findAsset(std::string const& uiKey) const {
    if (uiKey.empty()) return nullptr;
    for (AssetConfig* asset : assets_) {
        if (asset->uiKey == uiKey) return asset;
    }
    return nullptr;
}

void Config::addHostFile(std::string const& path) {
    inputScope_.addFile(path);
    hostFiles_.push_back(path);
}

bool Config::setFileForAsset(std::string const& uiKey, std::string const& file) {
    AssetConfig* asset = findAsset(uiKey);
    if (!asset) return false;
    asset->name = file;
    asset->num = 1;
    asset->replaced = true;
    addHostFile(file);
    return true;
}

std::string Config::getAssetJsonForUIKey(std::string const& uiKey) const {
    AssetConfig const* asset = findAsset(uiKey);
    return asset ? asset->json : std::string();
}

std::string Config::getExtraDataForUIKey(std::string const& uiKey) const {
    AssetConfig const* asset = findAsset(uiKey);
    return asset ? asset->uiExtra : std::string();
}

void Config::setReplaceableFilePaths(std::vector<std::string> const& paths) {
    for (std::string const& path : paths) addHostFile(path);
    if (templateType_ == TemplateTypeDynamic) {
        replaceableFilePaths_ = paths;
        return;
    }
    auto path = paths.begin();
    for (AssetConfig* asset : assets_) {
        if (path == paths.end() || templateType_ != TemplateTypeNormal) break;
        if (!asset->hasUI) continue;
        if (!path->empty()) {
            asset->name = *path;
            asset->num = 1;
            asset->replaced = true;
        }
        ++path;
    }
    // Files beyond the template's replaceable assets have no place in the video.
    for (; path != paths.end(); ++path) {
        if (!path->empty()) QVPrint("replaceable file %s has no asset to replace, skipped", path->c_str());
    }
}

bool Config::isTemplateValid() const {
    // A NaN frame rate compares unequal to 0 and counts as set.
    return mainCompWidth_ > 0 && mainCompHeight_ > 0 && frameRate_ != 0.0f;
}

}  // namespace Core
}  // namespace Quorvane
