#include "scene/RenderLayer.h"

#include <algorithm>
#include <cmath>

#include "core/Json.h"
#include "core/Log.h"
#include "core/Unique.h"
#include "scene/LayerManager.h"

namespace Quorvane {
namespace Core {

namespace {

// Loops in "parent" links (a layer naming itself, or two naming each other)
// would recurse without end; no template nests links this deep.
constexpr int kMaxLinkDepth = 64;

bool IsValidRate(float fps) {
    return std::isfinite(fps) && fps > 0.0f;
}

}  // namespace

RenderLayer::RenderLayer(RenderLayer* parentComp, long long layerType, bool useNewDestination)
    : RenderPass(parentComp, useNewDestination, 0, 0),
      mLayerID("add_new_layer_" + Unique::getUniqueCounter()),
      mParentComp(parentComp),
      mLayerType(layerType) {}

RenderLayer::RenderLayer(const RenderLayer& other)
    : RenderPass(other),
      mLayerID(other.mLayerID),
      mUIKey(other.mUIKey),
      mExtraData(other.mExtraData),
      mEnabled(other.mEnabled),
      mLinkedLayerID(other.mLinkedLayerID),
      mCollapseCompLayerID(other.mCollapseCompLayerID),
      mFrameRate(other.mFrameRate),
      mParentComp(other.mParentComp),
      mStartTime(other.mStartTime),
      mInPoint(other.mInPoint),
      mDuration(other.mDuration),
      mLayerType(other.mLayerType),
      mResampleMode(other.mResampleMode),
      mCameraFlag(other.mCameraFlag),
      mTransformManager(other.mTransformManager) {
    for (RenderEffect* effect : other.mEffects) {
        RenderEffect* copy = RenderEffectManager::cloneEffect(effect, this);
        if (copy) mEffects.push_back(copy);
    }
}

RenderLayer::~RenderLayer() {
    for (RenderEffect* effect : mEffects) delete effect;
    mEffects.clear();
}

// ---- composition and context ------------------------------------------------

void RenderLayer::markParentDirty() {
    if (mParentComp) mParentComp->markContentDirty(true);
}

void RenderLayer::setParentComp(RenderLayer* comp) {
    mParentComp = comp;
    setParent(comp);
    if (comp) comp->markContentDirty(true);
}

// The render context made from bare numbers is its own parent composition, so
// every walk up the chain stops at a layer that names itself.
RenderContext* RenderLayer::context() {
    return mParentComp && mParentComp != this ? mParentComp->context() : nullptr;
}

GLFrameBufferManager* RenderLayer::frameBufferManager() {
    return mParentComp && mParentComp != this ? mParentComp->frameBufferManager() : nullptr;
}

bool RenderLayer::enableAdvanceResample() const {
    return mParentComp && mParentComp != this ? mParentComp->enableAdvanceResample() : true;
}

std::string RenderLayer::dataFile(const std::string& name) const {
    return mParentComp && mParentComp != this ? mParentComp->dataFile(name) : std::string();
}

DataFileCache* RenderLayer::dataFiles() const {
    return mParentComp && mParentComp != this ? mParentComp->dataFiles() : nullptr;
}

const RenderLayer* RenderLayer::rootLayer() const {
    const RenderLayer* layer = this;
    while (layer->mParentComp && layer->mParentComp != layer) layer = layer->mParentComp;
    return layer;
}

float RenderLayer::contextFrameRate() const {
    return rootLayer()->frameRate();
}

long long RenderLayer::currentLocalTime() {
    return parentTimeToLocalTime(mParentComp && mParentComp != this ? mParentComp->currentLocalTime() : 0);
}

bool RenderLayer::layerHasContent() const {
    return (mLayerType & kNullLayer) == 0;
}

void RenderLayer::setEnabled(bool enabled) {
    mEnabled = enabled;
    markParentDirty();
}

void RenderLayer::setLayerType(long long bits, bool on) {
    if (on)
        mLayerType |= bits;
    else
        mLayerType &= ~bits;
}

void RenderLayer::setResampleMode(LayerResampleMode mode) {
    mResampleMode = CheckedResampleMode(mode);
}

RenderLayer* RenderLayer::linkedLayer() const {
    LayerManager* list = parentCompLayers();
    return list ? list->layer(mLinkedLayerID) : nullptr;
}

RenderLayer* RenderLayer::collapseCompLayer() const {
    if (!mParentComp || !mParentComp->mParentComp) return nullptr;
    LayerManager* list = mParentComp->mParentComp->layerList();
    return list ? list->layer(mCollapseCompLayerID) : nullptr;
}

// ---- time --------------------------------------------------------------------

TimeUnit RenderLayer::layerOutPoint() const {
    return TimeRange(mInPoint, mDuration).outPoint();
}

void RenderLayer::offsetLayerTime(const TimeUnit& delta) {
    mStartTime += delta;
    mInPoint += delta;
}

long long RenderLayer::parentTimeToLocalTime(long long t) {
    return t - mStartTime.frame(contextFrameRate());
}

long long RenderLayer::localTimeToParentTime(long long t) {
    return t + mStartTime.frame(contextFrameRate());
}

bool RenderLayer::visibleAt(long long t) {
    float fps = contextFrameRate();
    if (mInPoint.frame(fps) > t) return false;
    return t < layerOutPoint().frame(fps);
}

bool RenderLayer::visibleAtCurrentTime() {
    return visibleAt(mParentComp && mParentComp != this ? mParentComp->currentLocalTime() : 0);
}

// ---- transforms ----------------------------------------------------------------

void RenderLayer::setLayerLocalAETransform(const Mat4& m) {
    mLocalAETransform = m;
    mLocalTransform = TransformManager::ConvertCoordinateFrom3DTo2D(m, 0.0f, 0.0f);
    markParentDirty();
}

Vec3 RenderLayer::getAnchor(long long t) {
    return mTransformManager.anchor(t);
}
Vec3 RenderLayer::getPosition(long long t) {
    return mTransformManager.position(t);
}
Vec3 RenderLayer::getScale(long long t) {
    return mTransformManager.scale(t);
}
Vec3 RenderLayer::getRotation(long long t) {
    return mTransformManager.rotation(t);
}

void RenderLayer::setAnchorAtTime(const Vec3& v, long long t) {
    mTransformManager.setAnchorAtTime(v, t);
    markParentDirty();
}

void RenderLayer::setPositionAtTime(const Vec3& v, long long t) {
    mTransformManager.setPositionAtTime(v, t);
    markParentDirty();
}

void RenderLayer::setScaleAtTime(const Vec3& v, long long t) {
    mTransformManager.setScaleAtTime(v, t);
    markParentDirty();
}

void RenderLayer::setRotationAtTime(const Vec3& degrees, long long t) {
    mTransformManager.setRotationAtTime(degrees, t);
    markParentDirty();
}

void RenderLayer::setAlphaAtTime(float alpha, long long t) {
    mTransformManager.setAlphaAtTime(alpha, t);
    markParentDirty();
}

void RenderLayer::setTransformAtTime(const Vec3& anchor, const Vec3& position, const Vec3& rotation,
                                     const Vec3& scale, long long t) {
    if (t < 0) return;
    if (TransformManager::TransformData* data = mTransformManager.createDataAtTime(t)) {
        data->setAnchor(anchor);
        data->setPosition(position);
        data->setRotation(rotation);
        data->setScale(scale);
    }
    markParentDirty();
}

void RenderLayer::applyNewTransform(const rapidjson::Value& value, bool append) {
    if (append)
        mTransformManager.loadNewData(value, currentLocalTime());
    else
        mTransformManager.load(value);
}

Mat4 RenderLayer::getTransform(long long t, bool withAnchorOffset) {
    float w = mParentComp ? static_cast<float>(mParentComp->width()) : 0.0f;
    float h = mParentComp ? static_cast<float>(mParentComp->height()) : 0.0f;
    Mat4 track = withAnchorOffset ? mTransformManager.transformWithAnchorOffset(t, w, h, mCameraFlag)
                                  : *mTransformManager.transform(t, w, h, mCameraFlag);
    return track * mLocalTransform;
}

Mat4 RenderLayer::getAETransform(long long t, bool withAnchorOffset) {
    Mat4 track = withAnchorOffset ? mTransformManager.aetransformWithAnchorOffset(t)
                                  : *mTransformManager.aetransform(t);
    return track * mLocalAETransform;
}

namespace {

// The world matrix of a layer: its own matrix after those of its linked
// parent layer and of the layer that shows its composition collapsed. `own`
// picks the GL or the composition-space form.
template <class Own>
Mat4 WorldOf(RenderLayer* layer, long long t, bool withAnchorOffset, int depth, Own own) {
    Mat4 m = own(layer, t, withAnchorOffset);
    if (depth >= kMaxLinkDepth) return m;
    if (RenderLayer* linked = layer->linkedLayer()) m = WorldOf(linked, t, true, depth + 1, own) * m;
    if (RenderLayer* collapse = layer->collapseCompLayer())
        m = WorldOf(collapse, t, true, depth + 1, own) * m;
    return m;
}

}  // namespace

Mat4 RenderLayer::getWorldTransform(long long t, bool withAnchorOffset) {
    return WorldOf(this, t, withAnchorOffset, 0,
                   [](RenderLayer* l, long long f, bool o) { return l->getTransform(f, o); });
}

Mat4 RenderLayer::getWorldAETransform(long long t, bool withAnchorOffset) {
    return WorldOf(this, t, withAnchorOffset, 0,
                   [](RenderLayer* l, long long f, bool o) { return l->getAETransform(f, o); });
}

namespace {
long long ParentFrame(RenderLayer* parent, RenderLayer* self) {
    return parent && parent != self ? parent->currentLocalTime() : 0;
}
}  // namespace

long long RenderLayer::currentMatrixFrame() {
    return ParentFrame(mParentComp, this);
}

size_t RenderLayer::matrixCacheGrowth(long long t, bool world) {
    // Walked as the world matrix walks them, each layer counted once.
    std::vector<RenderLayer*> read;
    auto note = [&read](RenderLayer* l, long long, bool) {
        if (std::find(read.begin(), read.end(), l) == read.end()) read.push_back(l);
        return Mat4(true);
    };
    if (world)
        WorldOf(this, t, false, 0, note);
    else
        note(this, t, false);
    size_t bytes = 0;
    for (RenderLayer* l : read) bytes += l->mTransformManager.cacheGrowthAt(t);
    return bytes;
}

Mat4 RenderLayer::getCurrentTransform() {
    return getTransform(currentMatrixFrame(), false);
}
Mat4 RenderLayer::getCurrentAETransform() {
    return getAETransform(currentMatrixFrame(), false);
}
Mat4 RenderLayer::getCurrentWorldTransform() {
    return getWorldTransform(currentMatrixFrame(), false);
}
Mat4 RenderLayer::getCurrentWorldAETransform() {
    return getWorldAETransform(currentMatrixFrame(), false);
}

float RenderLayer::getAlpha(long long t) {
    float alpha = mTransformManager.alpha(t);
    if (RenderLayer* collapse = collapseCompLayer()) alpha *= collapse->mTransformManager.alpha(t);
    return alpha;
}

float RenderLayer::getCurrentAlpha() {
    return getAlpha(ParentFrame(mParentComp, this));
}

Vec3 RenderLayer::localPointToCompPoint(const Vec3& p, CoordinateSystemMode mode, long long t) {
    if (mode == kAfterEffectsSpaceMode) return getWorldAETransform(t, false) * p;
    if (mode == kOpenGLSpaceMode) return getWorldTransform(t, false) * p;
    return p;
}

Vec3 RenderLayer::compPointToLocalPoint(const Vec3& p, CoordinateSystemMode mode, long long t) {
    Mat4 m;
    if (mode == kAfterEffectsSpaceMode)
        m = getWorldAETransform(t, false);
    else if (mode == kOpenGLSpaceMode)
        m = getWorldTransform(t, false);
    else
        return p;
    Mat4 inverse;
    m.getInverse(inverse);
    return inverse * p;
}

// ---- JSON ----------------------------------------------------------------------

void RenderLayer::loadFromJson(const rapidjson::Value& value) {
    if (!value.IsObject()) return;

    if (const rapidjson::Value* transform = Json::find(value, "transform")) {
        if (transform->IsObject())
            mTransformManager.load(*transform);
        else if (transform->IsString())
            mTransformManager.load(dataFile(transform->GetString()), dataFiles());
    }

    if (const rapidjson::Value* a = Json::find(value, "anchor_offset"); a && a->IsArray()) {
        float xyz[3] = {0.0f, 0.0f, 0.0f};
        for (rapidjson::SizeType i = 0; i < a->Size() && i < 3; ++i) Json::getNumber((*a)[i], xyz[i]);
        mTransformManager.setAnchorOffset(Vec3(xyz[0], xyz[1], xyz[2]));
    }

    Json::read(value, "uuid", mLayerID, Json::getString);
    Json::read(value, "ui_key", mUIKey, Json::getString);
    Json::read(value, "ui_extra", mExtraData, Json::getString);
    int64_t resample = 0;
    if (Json::read(value, "resample", resample, Json::getInt64))
        mResampleMode = CheckedResampleMode(resample);
    Json::read(value, "parent", mLinkedLayerID, Json::getString);
    Json::read(value, "enabled", mEnabled, Json::getBool);

    if (const rapidjson::Value* local = Json::find(value, "local");
        local && local->IsArray() && local->Size() == 16) {
        float m[16];
        bool numbers = true;
        for (rapidjson::SizeType i = 0; i < 16 && numbers; ++i) numbers = Json::getNumber((*local)[i], m[i]);
        if (numbers) setLayerLocalAETransform(Mat4(m, true));
    }

    if (const rapidjson::Value* range = Json::find(value, "range"); range && range->IsArray())
        loadRange(*range);
    if (const rapidjson::Value* effects = Json::find(value, "effects"); effects && effects->IsArray())
        loadEffects(*effects);
}

void RenderLayer::loadRange(const rapidjson::Value& range) {
    // Fewer than two numbers say nothing about the layer's span; elements that
    // are not 32-bit integers leave the times as they were.
    const rapidjson::SizeType count = range.Size();
    if (count < 2) return;
    int32_t v[3] = {0, 0, 0};
    const rapidjson::SizeType needed = count == 2 ? 2 : 3;
    for (rapidjson::SizeType i = 0; i < needed; ++i)
        if (!Json::getInt(range[i], v[i])) return;

    const float contextRate = contextFrameRate();
    if (count == 2) {
        mStartTime = TimeUnit(v[0], contextRate);
        mInPoint = TimeUnit(v[0], contextRate);
        mDuration = TimeUnit(v[1], contextRate);
        mFrameRate = contextRate;
        return;
    }
    float rate = contextRate;
    float given = 0.0f;
    // A zero, negative or infinite rate cannot be converted to the context's
    // frames; such a template keeps the context's rate.
    if (count == 4 && Json::getFloat(range[3], given) && IsValidRate(given)) rate = given;
    mStartTime = TimeUnit(v[0], rate);
    mInPoint = TimeUnit(v[1], rate);
    mDuration = TimeUnit(v[2], rate);
    mFrameRate = rate;
}

void RenderLayer::loadEffects(const rapidjson::Value& effects) {
    for (const rapidjson::Value& item : effects.GetArray()) {
        std::string name;
        if (!Json::read(item, "name", name, Json::getString)) continue;
        RenderEffect* effect = RenderEffectManager::createEffect(name, this);
        if (!effect) continue;
        effect->loadFromJson(item);
        addEffect(effect);
    }
}

// ---- effect chain ----------------------------------------------------------------

void RenderLayer::addEffect(RenderEffect* effect) {
    if (!effect || std::find(mEffects.begin(), mEffects.end(), effect) != mEffects.end()) return;
    mEffects.push_back(effect);
    markParentDirty();
}

void RenderLayer::insertEffectAt(RenderEffect* effect, unsigned int index) {
    if (!effect || std::find(mEffects.begin(), mEffects.end(), effect) != mEffects.end()) return;
    if (index >= mEffects.size())
        mEffects.push_back(effect);
    else
        mEffects.insert(mEffects.begin() + index, effect);
    markParentDirty();
}

void RenderLayer::removeEffect(RenderEffect* effect, bool deleteIt) {
    auto it = std::find(mEffects.begin(), mEffects.end(), effect);
    if (it == mEffects.end()) return;
    mEffects.erase(it);
    // An enlarged frame left the local transform shifted; the next draw of a
    // chain undoes that shift, but an empty chain draws nothing, so undo it
    // here or the layer would stay displaced for good.
    if (mEffects.empty()) undoEnlargement();
    markParentDirty();
    if (deleteIt) delete effect;
}

RenderEffect* RenderLayer::getEffectByIndex(unsigned int index) const {
    return index < mEffects.size() ? mEffects[index] : nullptr;
}

bool RenderLayer::shouldCollapse() const {
    if (!isCollapse() || mEffects.empty()) return false;
    return !is3D() && (mLayerType & (kSolidLayer | kPreCompLayer)) != 0;
}

void RenderLayer::prepareForFrame(long long frame) {
    mPrepared = true;
    for (RenderEffect* effect : mEffects) effect->prepareForFrame(frame);
    if (!mEffects.empty() && mSizeExtendData.baseSize.x >= 1.0f) {
        setWidth(static_cast<int>(mSizeExtendData.baseSize.x));
        setHeight(static_cast<int>(mSizeExtendData.baseSize.y));
    }
}

void RenderLayer::unprepare() {
    mPrepared = false;
    for (RenderEffect* effect : mEffects) effect->unprepare();
    RenderPass::unprepare();
}

void RenderLayer::contentLoaded() {
    for (RenderEffect* effect : mEffects) effect->contentLoaded();
}

bool RenderLayer::hasAnimation() {
    for (RenderEffect* effect : mEffects)
        if (effect->hasAnimation()) return true;
    return mTransformManager.frameCount() >= 2;
}

unsigned int RenderLayer::getOutputTexture() {
    if (mEffects.empty()) return RenderPass::getOutputTexture();
    return mEffects.back()->getOutputTexture();
}

void RenderLayer::shiftLocalAETransform(float dx, float dy) {
    mLocalAETransform.translate(dx, dy, 0.0f);
    mLocalTransform = TransformManager::ConvertCoordinateFrom3DTo2D(mLocalAETransform, 0.0f, 0.0f);
}

void RenderLayer::undoEnlargement() {
    LayerSizeExtendData& rec = mSizeExtendData;
    if (rec.offset.x != 0.0f || rec.offset.y != 0.0f) shiftLocalAETransform(rec.offset.x, rec.offset.y);
    rec.size = rec.baseSize;
    rec.offset = Vec2();
    rec.offsetDelta = Vec2();
}

void RenderLayer::drawSelf(unsigned int texture) {
    if (mEffects.empty()) return;

    if (!isCollapse() && !isAdjustmentLayer()) {
        LayerSizeExtendData& rec = mSizeExtendData;
        undoEnlargement();
        setWidth(static_cast<int>(rec.baseSize.x));
        setHeight(static_cast<int>(rec.baseSize.y));
        RenderEffect* previous = nullptr;
        for (RenderEffect* effect : mEffects) {
            if (effect->willExtendLayerSize(&rec)) {
                shiftLocalAETransform(-rec.offsetDelta.x, -rec.offsetDelta.y);
                setWidth(static_cast<int>(rec.size.x));
                setHeight(static_cast<int>(rec.size.y));
            }
            effect->draw(previous ? previous->getOutputTexture() : getSourceTexture());
            previous = effect;
        }
        return;
    }

    // Collapsed and adjustment layers run their chain at the composition's
    // size; the stored values (0 = inherit) are put back afterwards.
    const int savedWidth = mWidth;
    const int savedHeight = mHeight;
    if (mParentComp) {
        setWidth(mParentComp->width());
        setHeight(mParentComp->height());
    }
    RenderEffect* previous = nullptr;
    for (RenderEffect* effect : mEffects) {
        effect->draw(previous ? previous->getOutputTexture() : texture);
        previous = effect;
    }
    setWidth(savedWidth);
    setHeight(savedHeight);
}

}  // namespace Core
}  // namespace Quorvane
