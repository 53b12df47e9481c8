// Host texts turned into images by the external text renderer ("Scrivane"),
// and the placement of those images and of the host's own images into the
// layers of a template.
//
// The render task's steps (RenderTask::buildScriptDataSubTexts,
// buildDynamicSubTexts, drawTexts, parseSubImgJson, replaceDynamicSubImgs) are
// defined in TextImages.cpp on top of the helpers declared here.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "core/Json.h"

namespace Quorvane {
namespace Core {

class RenderAVLayer;
class RenderContext;

// One text entry for the renderer: the text layer's source configuration with
// "output" (the PNG to write) added last and "ui"."default" set to the text.
// Appends it, compact and ","-separated, to textList. False, with nothing
// appended, when the configuration does not parse (no log line) or has no
// "ui" object with a "font" member (logged).
bool buildTextJson(std::string& textList, const std::string& config, const std::string& outputPath,
                   const std::string& text);

// One element of a host JSON list of texts or images. Members of another type
// than expected count as absent; an element of the item list that is not a
// string is kept as an empty text, so items stay paired with the layers by
// position.
struct HostSubEntry {
    std::string key;                 // "replace_key" (script data texts only)
    std::string imagePath;           // "img_path"
    std::string keyPrefix;           // "d_key_prefix"
    std::vector<std::string> items;  // "d_texts" or "d_img_paths"
};
HostSubEntry readHostSubEntry(const Json::Value& element, const char* itemsKey);

// How a matched layer is served.
enum class SubMatchKind {
    Exact,    // its UI key is the key prefix itself; the entry ends after it
    Indexed,  // its UI key is prefix + anchor suffix + "." + pass
    Single,   // entry without image path: the first layer of that UI key
};

struct SubMatch {
    SubMatchKind kind;
    RenderAVLayer* layer;
    size_t item;             // index into the entry's items (pass - 1)
    std::string anchorKey;   // UI key of the layer showing the entry's file
    std::string indexedKey;  // the UI key matched by an Indexed action
};

// Finds the layers an entry of the dynamic lists changes and calls `serve` for
// each, in the order the passes visit them. With an image path: the segment
// that uses the file, its anchor layer and the candidates whose UI keys start
// with the prefix; without one: the first layer of the context with the
// prefix as UI key. An anchor key shorter than four characters gives an empty
// suffix.
void matchSubLayers(RenderContext& context, const std::string& imagePath, const std::string& keyPrefix,
                    size_t itemCount, const std::function<void(const SubMatch&)>& serve);

}  // namespace Core
}  // namespace Quorvane
