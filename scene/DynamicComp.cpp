// The dynamic compositions, and the render context's assembly of a dynamic
// template from them.
#include "scene/DynamicComp.h"

#include <algorithm>
#include <set>
#include <typeinfo>

#include "core/Json.h"
#include "core/Log.h"
#include "core/Unique.h"
#include "effects/GaussianBlurEffect.h"
#include "media/AVSource.h"
#include "render/Config.h"
#include "scene/RenderAVLayer.h"
#include "scene/RenderContext.h"

namespace Quorvane {
namespace Core {

// ---- DynamicComp ---------------------------------------------------------------------------

DynamicComp::DynamicComp(RenderComp* parent, std::string name, DynamicElementType element)
    : RenderComp(parent, std::move(name)), mDynamicElement(element) {}

DynamicComp::DynamicComp(const DynamicComp& other)
    : RenderComp(other),
      mEntranceDuration(other.mEntranceDuration),
      mDynamicStyle(other.mDynamicStyle),
      mDynamicElement(other.mDynamicElement) {}

DynamicComp::DynamicComp(DynamicComp* other, std::map<std::string, std::string>& sourceKeys)
    : RenderComp(other, sourceKeys),
      mEntranceDuration(other->mEntranceDuration),
      mDynamicStyle(other->mDynamicStyle),
      mDynamicElement(other->mDynamicElement) {}

DynamicComp::~DynamicComp() = default;

void DynamicComp::loadFromJson(const rapidjson::Value& value) {
    RenderComp::loadFromJson(value);
}

// ---- DynamicSourceComp ---------------------------------------------------------------------

const char* const DynamicSourceComp::kSourceImageKey = "_source_img_";
const char* const DynamicSourceComp::kDynamicImageKey = "_dynamic_img_";

DynamicSourceComp::DynamicSourceComp(RenderComp* parent, std::string name)
    : DynamicComp(parent, std::move(name), kDynamicElementSource) {}

DynamicSourceComp::DynamicSourceComp(const DynamicSourceComp& other)
    : DynamicComp(other), mFillType(other.mFillType), mSourceIsVideo(other.mSourceIsVideo) {
    adoptBlurredCopy(other);
}

DynamicSourceComp::DynamicSourceComp(DynamicSourceComp* other, std::map<std::string, std::string>& sourceKeys)
    : DynamicComp(other, sourceKeys), mFillType(other->mFillType), mSourceIsVideo(other->mSourceIsVideo) {
    adoptBlurredCopy(*other);
}

DynamicSourceComp::~DynamicSourceComp() = default;

void DynamicSourceComp::loadFromJson(const rapidjson::Value& value) {
    DynamicComp::loadFromJson(value);
}

void DynamicSourceComp::adoptBlurredCopy(const DynamicSourceComp& other) {
    // Copies keep the layer order, so the copy's counterpart sits at the same index.
    const auto& theirs = other.layers();
    const auto it = std::find(theirs.begin(), theirs.end(), static_cast<RenderLayer*>(other.mBlurLayer));
    if (!other.mBlurLayer || it == theirs.end() || theirs.size() != layers().size()) return;
    mBlurLayer = dynamic_cast<RenderAVLayer*>(layers()[static_cast<size_t>(it - theirs.begin())]);
}

void DynamicSourceComp::draw(unsigned int texture) {
    if (readDestination() && mDrawnOnce) return;
    mDrawnOnce = !mSourceIsVideo;
    DynamicComp::draw(texture);
}

void DynamicSourceComp::removeBlurredCopy() {
    if (!mBlurLayer) return;
    RenderAVLayer* layer = mBlurLayer;
    mBlurLayer = nullptr;
    if (removeLayer(layer)) delete layer;
}

void DynamicSourceComp::setNewSourceFile(const std::string& path) {
    if (path == mSourceFile) return;
    mSourceFile = path;
    mDrawnOnce = false;
    mSourceIsVideo = false;
    markContentDirty(true);
    // The copy made for the earlier file would otherwise stay below and, as
    // the bottom layer, become the target of the new file.
    removeBlurredCopy();
    if (layers().empty()) return;

    // A layer the template placed itself: its source takes the file. Without
    // a source there is nothing to give the file to, and the next rule applies.
    for (RenderLayer* layer : layers()) {
        if (layer->uiKey() != kSourceImageKey || !(layer->layerType() & kAVLayer)) continue;
        auto* av = dynamic_cast<RenderAVLayer*>(layer);
        AVSource* shown = av ? av->layerSource() : nullptr;
        if (!shown) break;
        shown->setMainMediaFile(path);
        av->setAVSource(shown);
        mSourceIsVideo = shown->fileType() == AVSource::kFileTypeVideo;
        return;
    }

    RenderLayer* target = getLayerByUIKey(kDynamicImageKey);
    if (!target) target = layers().front();
    auto* av = dynamic_cast<RenderAVLayer*>(target);
    if (!av || !(target->layerType() & kAVLayer)) return;
    RenderContext* root = context();
    if (!root) return;
    const std::string key = root->createAVFileSource(path, Unique::GenerateID(), 0.0f, std::string());
    if (key.empty()) return;
    av->setSourceID(key, true);
    AVSource* shown = root->source(key);
    if (!shown) return;
    mSourceIsVideo = shown->fileType() == AVSource::kFileTypeVideo;
    fitLayer(av, key, shown->width(), shown->height());
}

void DynamicSourceComp::fitLayer(RenderAVLayer* layer, const std::string& key, int sourceWidth,
                                 int sourceHeight) {
    if (sourceWidth <= 0 || sourceHeight <= 0) {
        // A file that could not be read has no size to fit.
        QVPrint("dynamic source %s: %s has no size, not fitted", name().c_str(), mSourceFile.c_str());
        return;
    }
    const float rx = static_cast<float>(width()) / static_cast<float>(sourceWidth);
    const float ry = static_cast<float>(height()) / static_cast<float>(sourceHeight);
    const Vec3 anchor(sourceWidth * 0.5f, sourceHeight * 0.5f, 0.0f);
    const Vec3 centre(width() * 0.5f, height() * 0.5f, 0.0f);
    layer->setAnchorAtTime(anchor, 0);
    layer->setPositionAtTime(centre, 0);

    struct Fill {
        DynamicSourceFillType type;
        float (*scale)(float rx, float ry);
        bool blurredCopy;
    };
    static const Fill kFills[] = {
        {kDynamicFillCover, [](float x, float y) { return std::max(x, y); }, false},
        {kDynamicFillFitBlurred, [](float x, float y) { return std::min(x, y); }, true},
        {kDynamicFillFit, [](float x, float y) { return std::min(x, y); }, false},
        {kDynamicFillWidth, [](float x, float) { return x; }, false},
        {kDynamicFillWidthBlurred, [](float x, float) { return x; }, true},
        {kDynamicFillHeight, [](float, float y) { return y; }, false},
        {kDynamicFillHeightBlurred, [](float, float y) { return y; }, true},
    };
    const Fill* fill = nullptr;
    for (const Fill& f : kFills)
        if (f.type == mFillType) fill = &f;
    if (!fill) return;
    const float s = fill->scale(rx, ry);
    layer->setScaleAtTime(Vec3(s, s, 1.0f), 0);
    if (!fill->blurredCopy) return;

    auto* copy = new RenderAVLayer(this);
    copy->setSourceID(key, true);
    // The copy lies under the file for as long as the file's layer shows it.
    copy->setLayerStartTime(layer->layerStartTime());
    copy->setLayerInPoint(layer->layerInPoint());
    copy->setLayerDuration(layer->layerDuration());
    copy->setAnchorAtTime(anchor, 0);
    copy->setPositionAtTime(centre, 0);
    const float cover = std::max(rx, ry);
    copy->setScaleAtTime(Vec3(cover, cover, 1.0f), 0);
    removeLayer(copy);
    insertLayerAt(copy, 0);
    if (auto* blur =
            dynamic_cast<GaussianBlurEffect*>(RenderEffectManager::createEffect("ZR_Gaussian_Blur", copy))) {
        blur->setBlurScale(kCoverBlur);
        copy->addEffect(blur);
    }
    mBlurLayer = copy;
}

// ---- DynamicSegmentComp --------------------------------------------------------------------

DynamicSegmentComp::DynamicSegmentComp(RenderComp* parent, std::string name)
    : DynamicComp(parent, std::move(name), kDynamicElementSegment) {}

DynamicSegmentComp::DynamicSegmentComp(RenderComp* parent, std::string name, DynamicElementType element)
    : DynamicComp(parent, std::move(name), element) {}

DynamicSegmentComp::DynamicSegmentComp(const DynamicSegmentComp& other) : DynamicComp(other) {
    loadSourceComps();
}

DynamicSegmentComp::DynamicSegmentComp(DynamicSegmentComp* other,
                                       std::map<std::string, std::string>& sourceKeys)
    : DynamicComp(other, sourceKeys) {
    loadSourceComps();
}

DynamicSegmentComp::~DynamicSegmentComp() = default;

void DynamicSegmentComp::contentLoaded() {
    DynamicComp::contentLoaded();
}

void DynamicSegmentComp::loadFromJson(const rapidjson::Value& value) {
    DynamicComp::loadFromJson(value);
}

namespace {

void digInto(RenderComp* comp, std::vector<DynamicSourceComp*>& comps, std::vector<RenderAVLayer*>& layers,
             std::set<const RenderComp*>& visiting) {
    // Each composition is searched once: one reached again on its own path
    // would be searched for ever, one shared by several layers once per path.
    if (!comp || !visiting.insert(comp).second) return;
    for (RenderLayer* layer : comp->layers()) {
        auto* av = dynamic_cast<RenderAVLayer*>(layer);
        if (!av || !(layer->layerType() & kAVLayer) || !av->layerSource()) continue;
        RenderComp* shown = av->layerSource()->sourceComp();
        if (!shown) continue;
        auto* dynamic = shown->isDynamic() ? dynamic_cast<DynamicComp*>(shown) : nullptr;
        auto* source = dynamic && dynamic->dynamicElement() == kDynamicElementSource
                           ? dynamic_cast<DynamicSourceComp*>(shown)
                           : nullptr;
        if (!source) {
            digInto(shown, comps, layers, visiting);
            continue;
        }
        const bool listed = std::any_of(comps.begin(), comps.end(),
                                        [&](DynamicSourceComp* c) { return c->name() == source->name(); });
        if (listed) continue;
        comps.push_back(source);
        layers.push_back(av);
    }
}

}  // namespace

void DynamicSegmentComp::digCompForDynamicSources(RenderComp* comp, std::vector<DynamicSourceComp*>& comps,
                                                  std::vector<RenderAVLayer*>& layers) {
    std::set<const RenderComp*> visiting;
    digInto(comp, comps, layers, visiting);
}

void DynamicSegmentComp::loadSourceComps() {
    mSourceComps.clear();
    mSourceLayers.clear();
    digCompForDynamicSources(this, mSourceComps, mSourceLayers);
}

void DynamicSegmentComp::setReplaceableFiles(const std::vector<std::string>& files) {
    const size_t n = mSourceComps.size();
    if (n == 0 || files.size() < n) return;
    for (size_t i = 0; i < n; ++i) mSourceComps[i]->setNewSourceFile(files[i]);
}

DynamicSourceComp* DynamicSegmentComp::getSourceForFile(const std::string& path) const {
    if (path.empty()) return nullptr;
    for (DynamicSourceComp* comp : mSourceComps)
        if (comp->sourceFile() == path) return comp;
    return nullptr;
}

RenderAVLayer* DynamicSegmentComp::getLayerForFile(const std::string& path) const {
    if (path.empty()) return nullptr;
    for (size_t i = 0; i < mSourceComps.size(); ++i)
        if (mSourceComps[i]->sourceFile() == path)
            return i < mSourceLayers.size() ? mSourceLayers[i] : nullptr;
    return nullptr;
}

void DynamicSegmentComp::getLayerForFile(const std::string& path, std::vector<RenderAVLayer*>& out) const {
    if (path.empty()) return;
    for (size_t i = 0; i < mSourceComps.size() && i < mSourceLayers.size(); ++i) {
        if (mSourceComps[i]->sourceFile() != path) continue;
        RenderAVLayer* shown = mSourceLayers[i];
        AVSource* source = shown->layerSource();
        if (!source) continue;
        for (RenderPass* pass : source->passesUseThisSource()) {
            // Exactly the class of the source layer: compositions and other
            // kinds of AV layer that use the source are left out.
            auto* user = dynamic_cast<RenderAVLayer*>(pass);
            if (user && typeid(*user) == typeid(*shown)) out.push_back(user);
        }
    }
}

// ---- entrance and exit -----------------------------------------------------------------------

DynamicEntranceComp::DynamicEntranceComp(RenderComp* parent, std::string name)
    : DynamicSegmentComp(parent, std::move(name), kDynamicElementEntrance) {}

DynamicEntranceComp::DynamicEntranceComp(DynamicEntranceComp* other, std::map<std::string, std::string>& keys)
    : DynamicSegmentComp(other, keys) {}

DynamicEntranceComp::~DynamicEntranceComp() = default;

DynamicExitComp::DynamicExitComp(RenderComp* parent, std::string name)
    : DynamicSegmentComp(parent, std::move(name), kDynamicElementExit) {}

DynamicExitComp::DynamicExitComp(DynamicExitComp* other, std::map<std::string, std::string>& keys)
    : DynamicSegmentComp(other, keys) {}

DynamicExitComp::~DynamicExitComp() = default;

// ---- the render context's dynamic template ------------------------------------------------------

namespace {

// A composition of the template's building blocks.
struct ElementKind {
    const char* key;
    bool isArray;  // an array of compositions, else one composition object
    DynamicComp* (*create)(RenderContext* context, const std::string& name);
};

// In the order in which they are loaded: source compositions before the
// compositions that show them, segments last. "others" are plain
// compositions and are made apart.
const ElementKind kElements[] = {
    {"sources", true,
     [](RenderContext* c, const std::string& n) -> DynamicComp* { return new DynamicSourceComp(c, n); }},
    {"others", true, nullptr},
    {"entrance", false,
     [](RenderContext* c, const std::string& n) -> DynamicComp* { return new DynamicEntranceComp(c, n); }},
    {"exit", false,
     [](RenderContext* c, const std::string& n) -> DynamicComp* { return new DynamicExitComp(c, n); }},
    {"foreground", false,
     [](RenderContext* c, const std::string& n) -> DynamicComp* {
         return new DynamicComp(c, n, kDynamicElementForeground);
     }},
    {"background", false,
     [](RenderContext* c, const std::string& n) -> DynamicComp* {
         return new DynamicComp(c, n, kDynamicElementBackground);
     }},
    {"segments", true,
     [](RenderContext* c, const std::string& n) -> DynamicComp* { return new DynamicSegmentComp(c, n); }},
};

long long framesAt(const TimeUnit& t, float fps) {
    return static_cast<long long>(t.frame(fps));
}

}  // namespace

void RenderContext::loadDynamicTemplate() {
    if (!mLoaded) return;
    Json::Document doc;
    if (!Json::parse(doc, mConfig->configContent(), Json::ByteOrderMark::Skip) || !doc.IsObject()) return;
    setBackgroundColor(mConfig->backgroundColor());
    setCompSize(mConfig->mainCompWidth(), mConfig->mainCompHeight());
    setPrefix(mConfig->prefix());

    for (const ElementKind& kind : kElements) {
        const Json::Value* value = Json::find(doc, kind.key);
        if (!value || (kind.isArray ? !value->IsArray() : !value->IsObject())) continue;
        std::vector<const Json::Value*> entries;
        if (kind.isArray) {
            for (const Json::Value& element : value->GetArray()) entries.push_back(&element);
        } else {
            entries.push_back(value);
        }
        for (const Json::Value* entry : entries) {
            std::string name;
            if (!entry->IsObject() || !Json::read(*entry, "name", name, Json::getString)) continue;
            RenderComp* created = kind.create ? kind.create(this, name) : new RenderComp(this, name);
            if (comp(name) != created) {
                // The registry keeps the first composition of a name; a second
                // one would be unreachable and dangle in the lists below.
                QVPrint("RenderContext: composition %s is defined twice, the later one is ignored",
                        name.c_str());
                delete created;
                continue;
            }
            created->setPrefix(mConfig->prefix());
            created->loadFromJson(*entry);
            if (auto* source = dynamic_cast<DynamicSourceComp*>(created)) {
                source->setFillType(static_cast<DynamicSourceFillType>(mConfig->expand()));
                mSourceComps.push_back(source);
            } else if (auto* entrance = dynamic_cast<DynamicEntranceComp*>(created)) {
                if (!mEntranceComp) mEntranceComp = entrance;
            } else if (auto* exit = dynamic_cast<DynamicExitComp*>(created)) {
                if (!mExitComp) mExitComp = exit;
            } else if (auto* segment = dynamic_cast<DynamicSegmentComp*>(created)) {
                mSegments.push_back(segment);
            } else if (auto* element = dynamic_cast<DynamicComp*>(created)) {
                DynamicComp*& slot = element->dynamicElement() == kDynamicElementForeground ? mForegroundComp
                                                                                            : mBackgroundComp;
                if (!slot) slot = element;
            }
        }
    }

    const Json::Value* offsets = Json::findObject(doc, "offsets");
    if (!offsets || !offsets->IsObject()) return;
    for (const auto& member : offsets->GetObject()) {
        const std::string name(member.name.GetString(), member.name.GetStringLength());
        RenderComp* found = comp(name);
        auto* element = found && found->isDynamic() ? dynamic_cast<DynamicComp*>(found) : nullptr;
        if (!element) continue;
        int32_t frames = 0;
        if (Json::getInt(member.value, frames)) {
            element->setEntranceDuration(frames);
        } else if (member.value.IsObject()) {
            if (Json::read(member.value, "time", frames, Json::getInt)) element->setEntranceDuration(frames);
            int32_t style = 0;
            if (Json::read(member.value, "style", style, Json::getInt))
                element->setDynamicStyle(static_cast<DynamicStyle>(style));
        }
    }
}

RenderAVLayer* RenderContext::addNewSegmentLayer(TimeUnit& cursor, DynamicSegmentComp* segment,
                                                 const std::vector<std::string>& files) {
    if (!mLoaded || !segment) return nullptr;
    std::map<std::string, std::string> sourceKeys;
    auto* copy = dynamic_cast<DynamicSegmentComp*>(comp(duplicateCompWithReusedSource(segment, sourceKeys)));
    if (!copy) return nullptr;
    copy->loadSourceComps();
    copy->setReplaceableFiles(files);

    auto* layer = new RenderAVLayer(this);
    layer->setSourceID(createCompSource(copy, Unique::GenerateID(), std::string()), true);
    cursor += TimeUnit(copy->entranceDuration(), mConfig->frameRate());
    layer->offsetLayerTime(cursor);
    cursor += layer->layerDuration();
    if (segment->getDynamicStyle() == kDynamicStyleBelowTop && !layers().empty()) {
        insertLayerAt(layer, static_cast<unsigned int>(layers().size() - 1));
    } else {
        addLayer(layer, false);
    }
    mUsedSegments.push_back(copy);
    return layer;
}

DynamicSegmentComp* RenderContext::getRandomSegmentSupportNumOfSource(int count) {
    for (DynamicSegmentComp* segment : mSegments)
        if (count >= 0 && segment->replaceableSourceCount() == static_cast<unsigned long>(count))
            return segment;
    return nullptr;
}

bool RenderContext::constructDynamicCompWithFiles(const std::vector<std::string>& files) {
    if (!mLoaded || mConfig->templateType() != TemplateTypeDynamic) return false;
    mUsedSegments.clear();
    if (mEntranceComp) mEntranceComp->loadSourceComps();
    if (mExitComp) mExitComp->loadSourceComps();
    for (DynamicSegmentComp* segment : mSegments) segment->loadSourceComps();

    const auto fileCount = static_cast<int32_t>(std::min<size_t>(files.size(), INT32_MAX));
    const int32_t start = mEntranceComp ? static_cast<int32_t>(mEntranceComp->replaceableSourceCount()) : 0;
    const int32_t end =
        fileCount - (mExitComp ? static_cast<int32_t>(mExitComp->replaceableSourceCount()) : 0);
    const float fps = frameRate();
    TimeUnit cursor(0, fps);

    if (mEntranceComp) {
        if (mEntranceComp->replaceableSourceCount() > 0) {
            mEntranceComp->setReplaceableFiles(files);
            mUsedSegments.push_back(mEntranceComp);
        }
        auto* layer = new RenderAVLayer(this);
        layer->setSourceID(createCompSource(mEntranceComp, Unique::GenerateID(), std::string()), true);
        cursor += layer->layerDuration();
        addLayer(layer, false);
    }

    std::vector<DynamicSegmentComp*> oneFile;
    unsigned long total = 0;
    for (DynamicSegmentComp* segment : mSegments) {
        total += segment->replaceableSourceCount();
        if (segment->replaceableSourceCount() == 1) oneFile.push_back(segment);
    }
    // Without segments, or with none that takes a file, the timeline is the
    // entrance alone (as the hosts' duration estimate has it).
    if (total == 0) {
        setCompDuration(static_cast<unsigned long>(std::max<long long>(0, framesAt(cursor, fps))));
        return false;
    }

    auto slice = [&](int32_t from, int32_t to) {
        return std::vector<std::string>(files.begin() + from, files.begin() + to);
    };
    int32_t i = start;
    for (size_t k = 0; i < end; ++k) {
        DynamicSegmentComp* segment = mSegments[k % mSegments.size()];
        const auto count = static_cast<int32_t>(segment->replaceableSourceCount());
        const int32_t remaining = end - i;
        if (remaining >= count) {
            addNewSegmentLayer(cursor, segment, slice(i, i + count));
            i += count;
            continue;
        }
        if (DynamicSegmentComp* exact = getRandomSegmentSupportNumOfSource(remaining)) {
            addNewSegmentLayer(cursor, exact, slice(i, end));
        } else if (!oneFile.empty()) {
            for (int32_t j = i, m = 0; j < end; ++j, ++m)
                addNewSegmentLayer(cursor, oneFile[static_cast<size_t>(m) % oneFile.size()], slice(j, j + 1));
        }
        i = end;
    }

    if (mExitComp) {
        auto* layer = new RenderAVLayer(this);
        if (mExitComp->replaceableSourceCount() > 0 && i < fileCount) {
            mExitComp->setReplaceableFiles(slice(std::max(i, 0), fileCount));
            mUsedSegments.push_back(mExitComp);
        }
        layer->setSourceID(createCompSource(mExitComp, Unique::GenerateID(), std::string()), true);
        cursor += TimeUnit(mExitComp->entranceDuration(), mConfig->frameRate());
        layer->offsetLayerTime(cursor);
        cursor += layer->layerDuration();
        if (mExitComp->getDynamicStyle() == kDynamicStyleBelowTop && !layers().empty()) {
            insertLayerAt(layer, static_cast<unsigned int>(layers().size() - 1));
        } else {
            addLayer(layer, false);
        }
    }
    setCompDuration(static_cast<unsigned long>(std::max<long long>(0, framesAt(cursor, fps))));
    // A timeline no render takes is refused by the render; tiling it first
    // would only keep the render from saying so.
    if (!Config::timelineRefusal(duration(), fps).empty()) {
        QVPrint("RenderContext: the assembled timeline of %llu frames is not tiled",
                static_cast<unsigned long long>(duration()));
        return true;
    }

    // Background tiles go to the bottom (each later tile below the one
    // before), foreground tiles on top, until they reach the end of the
    // timeline.
    for (DynamicComp* element : {mBackgroundComp, mForegroundComp}) {
        if (!element) continue;
        const std::string key = createCompSource(element, Unique::GenerateID(), std::string());
        std::vector<RenderLayer*> tiles;
        TimeUnit t(0, fps);
        do {
            auto* tile = new RenderAVLayer(this);
            tile->setSourceID(key, true);
            if (framesAt(tile->layerDuration(), fps) <= 0) {
                // A tile of no length would never reach the end.
                QVPrint("RenderContext: dynamic composition %s lasts no frame, not tiled",
                        element->name().c_str());
                delete tile;
                break;
            }
            tile->offsetLayerTime(t);
            t += tile->layerDuration();
            tiles.push_back(tile);
            if (tiles.size() >= Config::kMaxDynamicTiles &&
                framesAt(t, fps) < static_cast<long long>(duration())) {
                mConfig->noteUnbuildable("dynamic composition " + element->name() + " would be repeated more than " +
                                         std::to_string(Config::kMaxDynamicTiles) + " times under the timeline of " +
                                         std::to_string(duration()) + " frames");
                // The latest first: each is then the source's last user.
                for (auto placed = tiles.rbegin(); placed != tiles.rend(); ++placed) delete *placed;
                tiles.clear();
                break;
            }
        } while (framesAt(t, fps) < static_cast<long long>(duration()));
        if (element == mBackgroundComp) {
            std::reverse(tiles.begin(), tiles.end());
            insertNewLayersAt(tiles, 0);
        } else {
            insertNewLayersAt(tiles, static_cast<unsigned int>(layers().size()));
        }
    }
    return true;
}

DynamicSourceComp* RenderContext::dynamicSourceComp(const std::string& name) const {
    for (DynamicSourceComp* source : mSourceComps)
        if (source->name() == name) return source;
    return nullptr;
}

DynamicSegmentComp* RenderContext::segmentThatUsesFile(const std::string& path) const {
    if (path.empty()) return nullptr;
    for (DynamicSegmentComp* segment : mUsedSegments)
        if (segment->getSourceForFile(path)) return segment;
    return nullptr;
}

DynamicSourceComp* RenderContext::sourceCompThatUsesFile(const std::string& path) const {
    DynamicSegmentComp* segment = segmentThatUsesFile(path);
    return segment ? segment->getSourceForFile(path) : nullptr;
}

DynamicSegmentComp* RenderContext::segmentThatUsesFileAt(int index) const {
    if (index < 0 || static_cast<size_t>(index) >= mConfig->replaceableFilePaths().size()) return nullptr;
    unsigned long s = 0;
    for (DynamicSegmentComp* segment : mUsedSegments) {
        const unsigned long count = segment->replaceableSourceCount();
        if (s <= static_cast<unsigned long>(index) && static_cast<unsigned long>(index) < s + count)
            return segment;
        s += count;
    }
    return nullptr;
}

RenderComp* RenderContext::copyDynamicComp(const RenderComp& original) {
    if (auto* source = dynamic_cast<const DynamicSourceComp*>(&original))
        return new DynamicSourceComp(*source);
    if (auto* dynamic = dynamic_cast<const DynamicComp*>(&original)) {
        if (dynamic->dynamicElement() == kDynamicElementSegment) {
            if (auto* segment = dynamic_cast<const DynamicSegmentComp*>(dynamic))
                return new DynamicSegmentComp(*segment);
        }
        return new DynamicComp(*dynamic);
    }
    return new RenderComp(original);
}

RenderComp* RenderContext::copyDynamicCompWithReusedSource(RenderComp* original,
                                                           std::map<std::string, std::string>& sourceKeys) {
    if (auto* source = dynamic_cast<DynamicSourceComp*>(original))
        return new DynamicSourceComp(source, sourceKeys);
    if (auto* dynamic = dynamic_cast<DynamicComp*>(original)) {
        if (dynamic->dynamicElement() == kDynamicElementSegment) {
            if (auto* segment = dynamic_cast<DynamicSegmentComp*>(dynamic))
                return new DynamicSegmentComp(segment, sourceKeys);
        }
        return new DynamicComp(dynamic, sourceKeys);
    }
    return new RenderComp(original, sourceKeys);
}

}  // namespace Core
}  // namespace Quorvane
