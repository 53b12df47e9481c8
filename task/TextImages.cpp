#include "task/TextImages.h"

#include <unistd.h>

#include "core/FileManager.h"
#include "core/FileWriter.h"
#include "core/Log.h"
#include "core/Subprocess.h"
#include "core/Unique.h"
#include "render/Config.h"
#include "scene/DynamicComp.h"
#include "scene/RenderAVLayer.h"
#include "scene/RenderContext.h"
#include "task/RenderTask.h"

namespace Quorvane {
namespace Core {

namespace {

// The anchor's UI key minus the template's four-character marker before its
// index ("img_001" -> "001").
constexpr size_t kAnchorMarkerLength = 4;

const char* const kTextListFile = "text_list.json";
const char* const kScrivaneProgram = "Scrivane";
const char* const kFontListFile = "font_list.json";

bool folderUsable(const std::string& path) {
    return !path.empty() && access(path.c_str(), F_OK) == 0;
}

RenderAVLayer* asAVLayer(RenderLayer* layer) {
    if (!layer || !(layer->layerType() & kAVLayer)) return nullptr;
    return dynamic_cast<RenderAVLayer*>(layer);
}

std::string sourceConfig(const RenderAVLayer* layer) {
    const AVSource* source = layer->layerSource();
    return source ? source->getConfigJson() : std::string();
}

// The path as it reads inside a JSON string: the placeholders it replaces sit
// in the script data's JSON text, where a '"' or '\' of a folder name would
// otherwise end the string or break the document.
std::string jsonStringContent(const std::string& text) {
    Json::Value value(rapidjson::StringRef(text.data(), static_cast<rapidjson::SizeType>(text.size())));
    std::string written = Json::write(value);
    return written.size() >= 2 ? written.substr(1, written.size() - 2) : std::string();
}

// A copy of the whole text, zero bytes included.
Json::Value jsonString(const std::string& text, Json::Document::AllocatorType& allocator) {
    return Json::Value(text.data(), static_cast<rapidjson::SizeType>(text.size()), allocator);
}

int parseErrorCode(const Json::Document& doc) {
    return static_cast<int>(doc.GetParseError());
}

}  // namespace

bool buildTextJson(std::string& textList, const std::string& config, const std::string& outputPath,
                   const std::string& text) {
    Json::Document doc;
    if (!Json::parse(doc, config, Json::ByteOrderMark::Reject)) return false;
    Json::Value* ui = doc.IsObject() ? Json::find(doc, "ui") : nullptr;
    if (!ui) {
        QVPrint("invalid text config json, skip %s", config.c_str());
        return false;
    }
    auto& allocator = doc.GetAllocator();
    // A configuration that already names an output would otherwise carry the
    // member twice, and the renderer might write over the template's file.
    for (auto it = doc.FindMember("output"); it != doc.MemberEnd(); it = doc.FindMember("output")) {
        doc.EraseMember(it);
    }
    doc.AddMember("output", jsonString(outputPath, allocator), allocator);
    // "ui" is looked up again: adding a member may move the root's members.
    ui = Json::find(doc, "ui");
    if (Json::Value* fallback = Json::find(*ui, "default")) *fallback = jsonString(text, allocator);
    if (!Json::find(*ui, "font")) {
        QVPrint("invalid text config json, skip %s", config.c_str());
        return false;
    }
    if (!textList.empty()) textList += ",";
    textList += Json::write(doc);
    return true;
}

HostSubEntry readHostSubEntry(const Json::Value& element, const char* itemsKey) {
    HostSubEntry entry;
    Json::read(element, "replace_key", entry.key, Json::getString);
    Json::read(element, "img_path", entry.imagePath, Json::getString);
    Json::read(element, "d_key_prefix", entry.keyPrefix, Json::getString);
    if (const Json::Value* items = Json::find(element, itemsKey)) {
        if (items->IsArray()) {
            for (const Json::Value& item : items->GetArray()) {
                std::string text;
                Json::getString(item, text);
                entry.items.push_back(text);
            }
        }
    }
    return entry;
}

void matchSubLayers(RenderContext& context, const std::string& imagePath, const std::string& keyPrefix,
                    size_t itemCount, const std::function<void(const SubMatch&)>& serve) {
    if (imagePath.empty()) {
        if (keyPrefix.empty() || itemCount == 0) return;
        std::vector<RenderLayer*> layers;
        context.digLayersByUIKey(keyPrefix, layers);
        if (layers.empty()) return;
        if (RenderAVLayer* layer = asAVLayer(layers.front())) {
            serve(SubMatch{SubMatchKind::Single, layer, 0, std::string(), std::string()});
        }
        return;
    }

    DynamicSegmentComp* segment = context.segmentThatUsesFile(imagePath);
    if (!segment) return;
    std::vector<RenderAVLayer*> shown;
    segment->getLayerForFile(imagePath, shown);
    RenderAVLayer* anchor = nullptr;
    for (RenderAVLayer* layer : shown) {
        if (!layer->uiKey().empty()) {
            anchor = layer;
            break;
        }
    }
    if (!anchor) return;
    const std::string anchorKey = anchor->uiKey();
    const std::string suffix =
        anchorKey.size() > kAnchorMarkerLength ? anchorKey.substr(kAnchorMarkerLength) : std::string();

    std::vector<RenderLayer*> candidates;
    segment->digLayersWithUIKeyStartWith(keyPrefix, candidates);
    for (size_t pass = 1; pass <= itemCount; ++pass) {
        const std::string indexedKey = keyPrefix + suffix + "." + std::to_string(pass);
        for (RenderLayer* candidate : candidates) {
            RenderAVLayer* layer = asAVLayer(candidate);
            if (!layer) continue;
            const std::string key = layer->uiKey();
            if (key == keyPrefix) {
                serve(SubMatch{SubMatchKind::Exact, layer, pass - 1, anchorKey, std::string()});
                return;
            }
            if (key == indexedKey)
                serve(SubMatch{SubMatchKind::Indexed, layer, pass - 1, anchorKey, indexedKey});
        }
    }
}

// ---- The render task's steps ------------------------------------------------------------------

void RenderTask::buildScriptDataSubTexts(std::map<std::string, std::string>& replaceMap) {
    if (!context_) return;
    Json::Document doc;
    if (!Json::parse(doc, luaData_, Json::ByteOrderMark::Reject)) {
        QVPrint("sub text json of script data parse error with %d, will skip draw and set sub text files ",
                parseErrorCode(doc));
        return;
    }
    if (!folderUsable(assetDir_) || !folderUsable(scrivaneDir_)) {
        QVPrint("invalid asset dir %s, or invalid scrivane dir %s, check path exist!", assetDir_.c_str(),
                scrivaneDir_.c_str());
        return;
    }
    // A root that is not an object, or a list that is not an array, holds no texts.
    const Json::Value* texts = doc.IsObject() ? Json::findArray(doc, "zr_sub_texts") : nullptr;
    if (!texts || !texts->IsArray()) {
        QVPrint("no sub text in script data, will skip");
        return;
    }
    for (const Json::Value& element : texts->GetArray()) {
        const HostSubEntry entry = readHostSubEntry(element, "d_texts");
        replaceMap.emplace(entry.key, std::string());
        if (entry.items.empty() || (entry.key.empty() && entry.keyPrefix.empty())) continue;
        std::vector<RenderLayer*> layers;
        context_->digLayersByUIKey(entry.keyPrefix, layers);
        RenderAVLayer* textLayer = nullptr;
        for (RenderLayer* layer : layers) {
            if (layer->uiKey() == entry.keyPrefix && asAVLayer(layer)) {
                textLayer = asAVLayer(layer);
                break;
            }
        }
        if (!textLayer) continue;
        const std::string path = assetDir_ + Unique::GenerateID() + "-" + entry.keyPrefix + ".png";
        if (buildTextJson(textList_, sourceConfig(textLayer), path, entry.items.front())) {
            replaceMap[entry.key] = path;
        }
    }
}

void RenderTask::buildDynamicSubTexts(std::vector<SubAssetInfo>& list) {
    if (!context_) return;
    Json::Document doc;
    const bool parsed = Json::parse(doc, dynamicSubTextJson_, Json::ByteOrderMark::Reject);
    if (!folderUsable(assetDir_) || !folderUsable(scrivaneDir_)) {
        QVPrint("invalid asset dir %s, or invalid scrivane dir %s, check path exist!", assetDir_.c_str(),
                scrivaneDir_.c_str());
        return;
    }
    if (!parsed || !doc.IsArray()) {
        QVPrint("sub text json parse error with %d, will skip draw and set sub text files ",
                parsed ? 0 : parseErrorCode(doc));
        return;
    }
    for (const Json::Value& element : doc.GetArray()) {
        const HostSubEntry entry = readHostSubEntry(element, "d_texts");
        if (entry.imagePath.empty() && (entry.keyPrefix.empty() || entry.items.empty())) continue;
        SubAssetInfo info{entry.imagePath, entry.keyPrefix, {}, true};
        bool anyBuilt = false;
        matchSubLayers(
            *context_, entry.imagePath, entry.keyPrefix, entry.items.size(), [&](const SubMatch& m) {
                const std::string name =
                    m.kind == SubMatchKind::Indexed ? m.anchorKey + "_" + m.indexedKey : entry.keyPrefix;
                const std::string path = assetDir_ + Unique::GenerateID() + "-" + name + ".png";
                anyBuilt =
                    buildTextJson(textList_, sourceConfig(m.layer), path, entry.items[m.item]) || anyBuilt;
                // Every served layer keeps its place in the list, drawn or not:
                // the placement pairs images with layers by position, and a path
                // that was never drawn leaves its layer as the template made it.
                info.images.push_back(path);
            });
        if (anyBuilt) list.push_back(std::move(info));
    }
}

bool RenderTask::drawTexts() {
    const std::string listFile = assetDir_ + kTextListFile;
    // A list cut short (disk full) would have the renderer skip or misread
    // texts; the asset folder is the host's, where a link may stand.
    if (!FileWriter::writeWhole(listFile, "[" + textList_ + "]")) {
        QVPrint("could not write %s", listFile.c_str());
        return false;
    }

    // Started without a shell: folder names with blanks, quotes or ';' reach
    // the program as they are, and nothing else runs.
    const std::vector<std::string> argv = {scrivaneDir_ + kScrivaneProgram, scrivaneDir_ + kFontListFile,
                                           listFile};
    QVPrint("%s", implode(" ", argv).c_str());
    const int status = Subprocess::run(argv);
    QVPrint("Run scrivane : %d", status);
    return status == 0;
}

bool RenderTask::parseSubImgJson() {
    Json::Document doc;
    const bool parsed = Json::parse(doc, dynamicSubImgJson_, Json::ByteOrderMark::Reject);
    if (!parsed || !doc.IsArray()) {
        QVPrint("sub img json parse error with %d, will skip parse sub img files ",
                parsed ? 0 : parseErrorCode(doc));
        return false;
    }
    for (const Json::Value& element : doc.GetArray()) {
        HostSubEntry entry = readHostSubEntry(element, "d_img_paths");
        if (!entry.imagePath.empty() || (!entry.keyPrefix.empty() && !entry.items.empty())) {
            dynamicSubImgs_.push_back(
                SubAssetInfo{std::move(entry.imagePath), std::move(entry.keyPrefix), std::move(entry.items)});
        }
    }
    return true;
}

void RenderTask::replaceDynamicSubImgs() {
    parseSubImgJson();
    if (!context_) return;
    for (const SubAssetInfo& info : dynamicSubImgs_) {
        size_t served = 0;
        matchSubLayers(*context_, info.imagePath, info.keyPrefix, info.images.size(), [&](const SubMatch& m) {
            const size_t index = info.onePerLayer ? served++ : m.item;
            // The script may have added layers since the texts were drawn.
            if (index >= info.images.size()) return;
            const std::string& file = info.images[index];
            // A text the renderer did not draw or a host image that is not
            // there: the layer keeps the template's content rather than a
            // source that shows nothing.
            if (!FileManager::isFile(file)) {
                QVPrint("sub image %s not found, layer %s keeps its content", file.c_str(),
                        m.layer->uiKey().c_str());
                return;
            }
            const std::string key =
                context_->createAVFileSource(file, Unique::GenerateID(), 0.0f, std::string());
            const AVSource* source = context_->source(key);
            if (!source || source->width() <= 0 || source->height() <= 0) {
                QVPrint("sub image %s cannot be read, layer %s keeps its content", file.c_str(),
                        m.layer->uiKey().c_str());
                context_->removeSource(key, true);
                return;
            }
            m.layer->setSourceID(key, true);
        });
    }
}

void RenderTask::drawTextImages() {
    std::map<std::string, std::string> replaceMap;
    std::vector<SubAssetInfo> subTexts;
    if (!luaData_.empty()) buildScriptDataSubTexts(replaceMap);
    if (!dynamicSubTextJson_.empty() && config_->templateType() == TemplateTypeDynamic) {
        buildDynamicSubTexts(subTexts);
    }
    if (replaceMap.empty() && subTexts.empty()) return;
    if (!drawTexts()) return;
    dynamicSubImgs_.insert(dynamicSubImgs_.end(), subTexts.begin(), subTexts.end());
    for (const auto& entry : replaceMap) {
        std::string path = entry.second;
        if (!path.empty() && !FileManager::isFile(path)) {
            // The script learns that no image was made, as for a text without a layer.
            QVPrint("text image %s was not drawn, %s gets no image", path.c_str(), entry.first.c_str());
            path.clear();
        }
        const std::string placeholder = "<%" + entry.first + "%>";
        const size_t at = luaData_.find(placeholder);
        if (at != std::string::npos) luaData_.replace(at, placeholder.size(), jsonStringContent(path));
    }
}

}  // namespace Core
}  // namespace Quorvane
