#include "scene/RenderAVLayer.h"

#include <set>
#include <vector>

#include "core/Float.h"
#include "core/Json.h"
#include "core/Log.h"
#include "media/AVSource.h"
#include "render/FullScreenRenderPass.h"
#include "render/GLFrameBufferManager.h"
#include "render/GLRenderDestination.h"
#include "scene/RenderCameraLayer.h"
#include "scene/RenderComp.h"
#include "shapes/DrawableShape.h"
#include "shapes/MaskRender.h"

namespace Quorvane {
namespace Core {

namespace {

struct SourceBits {
    AVSource::SourceType type;
    AVSource::FileType file;  // kFileTypeNone: any file kind
    long long bits;
};

// Type bits a source adds to its layer; the first matching row wins.
const SourceBits kSourceBits[] = {
    {AVSource::kSourceTypeFile, AVSource::kFileTypeImage, kAVLayer | kStillLayer},
    {AVSource::kSourceTypeFile, AVSource::kFileTypeVideo, kAVLayer | kVideoLayer},
    {AVSource::kSourceTypeFile, AVSource::kFileTypeImageSequence, kAVLayer | kImageSequenceLayer},
    {AVSource::kSourceTypeProvider, AVSource::kFileTypeNone, kAVLayer | kVideoLayer},
    {AVSource::kSourceTypeSolid, AVSource::kFileTypeNone, kAVLayer | kSolidLayer},
    {AVSource::kSourceTypeComp, AVSource::kFileTypeNone, kAVLayer | kPreCompLayer},
};

long long BitsOf(const AVSource* source) {
    for (const SourceBits& row : kSourceBits) {
        if (row.type != source->sourceType()) continue;
        if (row.file != AVSource::kFileTypeNone && row.file != source->fileType()) continue;
        return row.bits;
    }
    return kAVLayer;
}

bool HasMask(const RenderLayer* layer) {
    const auto* av = dynamic_cast<const RenderAVLayer*>(layer);
    return av && av->hasMask();
}

void ClearBound() {
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
}

}  // namespace

RenderAVLayer::RenderAVLayer(RenderComp* comp)
    : RenderLayer(comp, kAVLayer, false),
      mCompositePass(new CompositeRenderPass(this, BlendMode::Normal, kNoTrackMatte, 0, 0, false)) {}

RenderAVLayer::RenderAVLayer(const RenderAVLayer& other)
    : RenderLayer(other),
      mBlendMode(other.mBlendMode),
      mMatteType(other.mMatteType),
      mCompositePass(new CompositeRenderPass(this, other.mBlendMode, other.mMatteType, 0, 0, false)) {
    if (other.mSource) {
        RenderComp* registry = registryComp();
        std::string key = registry ? registry->duplicateSource(other.mSourceID) : std::string();
        setSourceID(key, true);
    }
    copyMaskFrom(other);
}

RenderAVLayer::RenderAVLayer(RenderAVLayer* other)
    : RenderLayer(*other),
      mBlendMode(other->mBlendMode),
      mMatteType(other->mMatteType),
      mCompositePass(new CompositeRenderPass(this, other->mBlendMode, other->mMatteType, 0, 0, false)) {
    setSourceID(other->mSourceID, true);
    copyMaskFrom(*other);
}

RenderAVLayer::~RenderAVLayer() {
    // The render context deletes its sources before its compositions, so the
    // source may be gone: unregister only from a source the context still
    // holds under the key it was attached with.
    if (mSource) {
        RenderComp* registry = registryComp();
        if (registry && registry->source(mAttachedKey) == mSource) mSource->unuseThisSource(this);
        mSource = nullptr;
    }
    delete mCompositePass;
    delete mMask;
    delete mCollapseCompositePass;
    delete mCopyPass;
    delete mKeepPass;
}

void RenderAVLayer::copyMaskFrom(const RenderAVLayer& other) {
    if (!other.mMask) return;
    mMask = new MaskRender(*other.mMask);
    mMask->setParent(this);
}

RenderComp* RenderAVLayer::registryComp() const {
    // asComp() answers the composition itself once a RenderComp is fully
    // built; during its construction the parent composition answers.
    RenderComp* self = const_cast<RenderAVLayer*>(this)->asComp();
    return self ? self : parentComp();
}

// ---- source ------------------------------------------------------------------------

bool RenderAVLayer::wouldShowItself(AVSource* source) const {
    return showsComp(source, parentComp());
}

bool RenderAVLayer::showsComp(AVSource* source, const RenderComp* home) {
    if (!home || !source || source->sourceType() != AVSource::kSourceTypeComp || !source->sourceComp())
        return false;
    // Every composition reachable through attached composition sources, each
    // visited once. The link that would close a ring is the one refused: the
    // others were attached before it.
    std::vector<const RenderComp*> pending{source->sourceComp()};
    std::set<const RenderComp*> seen;
    while (!pending.empty()) {
        const RenderComp* comp = pending.back();
        pending.pop_back();
        if (comp == home) return true;
        if (!seen.insert(comp).second) continue;
        for (RenderLayer* layer : comp->layers()) {
            auto* av = dynamic_cast<RenderAVLayer*>(layer);
            if (!av) continue;
            AVSource* shown = av->layerSource();
            if (shown && shown->sourceType() == AVSource::kSourceTypeComp && shown->sourceComp())
                pending.push_back(shown->sourceComp());
        }
    }
    return false;
}

void RenderAVLayer::setAVSource(AVSource* source) {
    markParentDirty();
    if (source && wouldShowItself(source)) {
        QVPrint("layer %s: source %s would make composition %s show itself, refused", layerID().c_str(),
                source->key().c_str(), parentComp()->name().c_str());
        source = nullptr;
    }
    if (mSource) mSource->unuseThisSource(this);
    mSource = source;
    mAttachedKey = source ? source->key() : std::string();
    if (!source) {
        setLayerType(kAVLayer, true);
        return;
    }

    setWidth(source->width());
    setHeight(source->height());
    // A shift applied by an enlarging effect must be taken back before the
    // record restarts from the new source, or the layer stays displaced.
    undoEnlargement();
    LayerSizeExtendData* rec = layerSizeExtendData();
    rec->size = rec->baseSize =
        Vec2(static_cast<float>(source->width()), static_cast<float>(source->height()));
    source->useThisSource(this);

    const long long bits = BitsOf(source);
    if (source->sourceType() == AVSource::kSourceTypeComp && isCollapse() && source->sourceComp()) {
        RenderComp* shown = source->sourceComp();
        if (RenderLayer* holder = parentCompLayer()) shown->setCompSize(holder->width(), holder->height());
        for (RenderLayer* layer : shown->layers()) layer->setCollapseCompLayerID(layerID());
    }
    if (layerDuration().isZero()) setLayerDuration(source->sourceDuration());
    setLayerType(bits, true);
}

void RenderAVLayer::setSourceID(const std::string& id, bool attach) {
    mSourceID = id;
    if (!attach) return;
    RenderComp* registry = registryComp();
    setAVSource(registry ? registry->source(id) : nullptr);
}

void RenderAVLayer::removeSource() {
    markParentDirty();
    if (mSource) mSource->unuseThisSource(this);
    mSource = nullptr;
    mAttachedKey.clear();
    mSourceID.clear();
}

// ---- settings ----------------------------------------------------------------------

void RenderAVLayer::setBlendMode(BlendMode mode) {
    mCompositePass->setBlendMode(mode);
    mBlendMode = mCompositePass->blendMode();
}

void RenderAVLayer::setMatteType(TrackMatteType type) {
    mCompositePass->setMatteType(type);
    mMatteType = mCompositePass->matteType();
}

RenderLayer* RenderAVLayer::matteLayer() const {
    LayerManager* list = parentCompLayers();
    if (!list || mMatteType == kNoTrackMatte) return nullptr;
    RenderLayer* above = list->nextLayer(layerID());
    return above && (above->layerType() & kAVLayer) ? above : nullptr;
}

bool RenderAVLayer::isMatteLayer() const {
    LayerManager* list = parentCompLayers();
    if (!list) return false;
    auto* below = dynamic_cast<RenderAVLayer*>(list->lastLayer(layerID()));
    return below && (below->layerType() & kAVLayer) && below->matteType() != kNoTrackMatte;
}

unsigned int RenderAVLayer::getPureSourceTexture() {
    return mSource ? mSource->glTexture() : RenderPass::getSourceTexture();
}

unsigned int RenderAVLayer::getSourceTexture() {
    return mMask ? mMask->getOutputTexture() : getPureSourceTexture();
}

unsigned int RenderAVLayer::getOutputTexture() {
    unsigned int texture = RenderLayer::getOutputTexture();
    return texture != 0 ? texture : getSourceTexture();
}

void RenderAVLayer::useOITLastDepthTexture(unsigned int texture) {
    mCompositePass->setOITLastDepthTexture(texture);
}

bool RenderAVLayer::hasAnimation() {
    return RenderLayer::hasAnimation() || (mSource && mSource->hasAnimatedSource());
}

bool RenderAVLayer::layerHasContent() const {
    if (layerType() & kNullLayer) return false;
    if (mSource) return true;
    return isAdjustmentLayer() && numEffects() > 0;
}

void RenderAVLayer::setParentComp(RenderLayer* comp) {
    RenderLayer::setParentComp(comp);
}

Vec2 RenderAVLayer::getLimitDistanceToCamera() {
    Vec2 range(Float::max, -Float::max);
    RenderComp* comp = parentComp();
    if (!is3D() || !comp) return range;
    RenderCameraLayer* camera = comp->cameraLayer();
    if (!camera) return range;

    const Mat4 world = getCurrentWorldTransform();
    const Mat4 view = camera->getCurrentWorldTransform();
    Vec3 direction = view.multWithoutTranslate(Vec3(0, 0, -1));
    direction.normalize();
    Vec3 position, scale;
    Quaternion rotation;
    view.decompose(position, rotation, scale);
    // A camera scaled to nothing sees nothing (see cameraView): no distance.
    if (scale.x == 0.0f || scale.y == 0.0f || scale.z == 0.0f) return range;
    position = Vec3(position.x / scale.x, position.y / scale.y, position.z / scale.z);

    const float w = static_cast<float>(width()), h = static_cast<float>(height());
    const float cw = static_cast<float>(comp->width()), ch = static_cast<float>(comp->height());
    for (int i = 0; i < 2; ++i) {
        for (int j = 0; j < 2; ++j) {
            Vec3 corner(w * i - cw / 2, -(h * j - ch / 2), 0);
            Vec3 p = world * corner - position;
            float d = p.dot(direction);
            if (d < range.x) range.x = d;
            if (d > range.y) range.y = d;
        }
    }
    return range;
}

// ---- frame cycle -----------------------------------------------------------------------

void RenderAVLayer::contentLoaded() {
    RenderComp* registry = registryComp();
    setAVSource(registry ? registry->source(mSourceID) : nullptr);
    mCompositePass->contentLoaded();
    if (mMask) mMask->contentLoaded();
    RenderLayer::contentLoaded();
}

void RenderAVLayer::unprepare() {
    if (mSource) mSource->unload(this);
    mCompositePass->unprepare();
    if (mMask) mMask->unprepare();
    RenderLayer::unprepare();
}

void RenderAVLayer::prepareForFrame(long long frame) {
    RenderLayer::prepareForFrame(frame);
    if (mSource) {
        // A collapsed composition without effects or mask is drawn in place by
        // its parent; its own target need not be drawn.
        const bool inPlace =
            isCollapse() && mSource->sourceType() == AVSource::kSourceTypeComp && numEffects() == 0 && !mMask;
        mSource->update(static_cast<int>(parentTimeToLocalTime(frame)), !inPlace, this);
    }
    mCompositePass->prepareForFrame(frame);
    if (mMask) {
        mMask->prepareForFrame(frame);
        if (!isAdjustmentLayer()) mMask->draw(getPureSourceTexture());
    }
}

void RenderAVLayer::loadFromJson(const rapidjson::Value& value) {
    if (!value.IsObject()) return;
    std::string source;
    if (Json::read(value, "source", source, Json::getString)) setSourceID(source, false);
    int64_t number = 0;
    if (Json::read(value, "blend", number, Json::getInt64)) setBlendMode(CheckedBlendMode(number));
    if (Json::read(value, "matte", number, Json::getInt64)) setMatteType(CheckedMatteType(number));
    const rapidjson::Value* mask = Json::findArray(value, "mask");
    if (mask && mask->IsArray() && !mask->Empty()) {
        delete mMask;
        mMask = new MaskRender(this, !isAdjustmentLayer());
        mMask->loadFromJson(*mask);
    }
    RenderLayer::loadFromJson(value);
}

// ---- drawing -------------------------------------------------------------------------------

CompositeRenderPass* RenderAVLayer::plainCompositePass() {
    const bool shows = mSource && mSource->width() != 0 && mSource->height() != 0;
    if (!shows || is3D() || isAdjustmentLayer() || shouldCollapse() || asComp() || useNewDestination())
        return nullptr;
    return mCompositePass;
}

Mat4 RenderAVLayer::cameraView(RenderCameraLayer* camera) {
    Mat4 view;
    // A camera whose matrix has no inverse (scaled to nothing) sees nothing:
    // the zero matrix sends every vertex to w = 0, which clipping removes,
    // as a frustum of no size does.
    if (!camera->getCurrentWorldTransform().getInverse(view)) view.setZero();
    return view;
}

void RenderAVLayer::placeLayer(CompositeRenderPass* pass, RenderComp* comp) {
    if (!is3D()) {
        pass->setTransform(getCurrentWorldTransform());
        pass->setProjection(comp->compOrthoProjectionMatrix());
        return;
    }
    // Without a camera the pass keeps the placement it had.
    if (RenderCameraLayer* camera = comp->cameraLayer()) {
        pass->setCamera(cameraView(camera));
        pass->setTransform(getCurrentWorldTransform());
        pass->setProjection(camera->getProjectionMatrix());
    }
}

void RenderAVLayer::applyMatte(CompositeRenderPass* pass) {
    if (!mMatte.present) return;
    pass->setMatteTexture(mMatte.texture);
    pass->setMatteTransform(mMatte.transform);
    pass->setMatteSize(mMatte.size);
}

void RenderAVLayer::drawSelf(unsigned int texture) {
    RenderComp* comp = parentComp();
    GLFrameBufferManager* manager = frameBufferManager();
    if (!comp || !manager) {
        QVPrint("layer %s is not in a composition with a frame buffer manager: nothing drawn",
                layerID().c_str());
        return;
    }

    // 1. Track matte.
    mMatte = Matte();
    GLRenderDestination* matteTarget = nullptr;
    if (RenderLayer* matte = matteLayer()) {
        const bool plain = matte->numEffects() == 0 && !HasMask(matte);
        mMatte.present = true;
        if (plain && !matte->is3D() && !matte->isCollapse()) {
            mMatte.texture = matte->getOutputTexture();
            mMatte.transform = matte->getCurrentWorldAETransform();
            mMatte.size = Vec2(static_cast<float>(matte->width()), static_cast<float>(matte->height()));
        } else {
            if (plain && matte->isCollapse()) {
                // A plain collapsed composition is drawn in place by its parent,
                // so its own output was not drawn this frame; the matte needs it.
                auto* av = dynamic_cast<RenderAVLayer*>(matte);
                AVSource* shown = av ? av->layerSource() : nullptr;
                if (RenderComp* inner = shown ? shown->sourceComp() : nullptr) inner->draw(0);
            }
            GLRenderDestination* drawn = comp->generateDestination();
            manager->pushDestination(drawn);
            ClearBound();
            matte->draw(0);
            manager->popDestination(false);
            if (!mCopyPass) mCopyPass = new FullScreenRenderPass(this, true);
            matteTarget = comp->generateDestination();
            manager->pushDestination(matteTarget);
            ClearBound();
            mCopyPass->draw(drawn->grabTextureForRead(true));
            manager->popDestination(false);
            comp->restoreDestination(drawn);
            mMatte.texture = matteTarget->grabTextureForRead(true);
            mMatte.transform = Mat4();
            mMatte.size = Vec2(static_cast<float>(comp->width()), static_cast<float>(comp->height()));
        }
    }

    const bool adjustment = isAdjustmentLayer();
    const bool collapse = shouldCollapse();
    // 2. The effect chain of an ordinary layer.
    if (!collapse && !adjustment) RenderLayer::drawSelf(getPureSourceTexture());

    // 3. Nothing to show.
    const bool noSource = !mSource || mSource->width() == 0 || mSource->height() == 0;
    if (adjustment) {
        drawAdjustment(texture, comp);
    } else if (noSource) {
        if (texture != 0) {
            if (!mKeepPass) mKeepPass = new FullScreenRenderPass(this, false);
            mKeepPass->draw(texture);
        }
    } else {
        if (collapse) {
            drawCollapsed(texture, comp);
        } else {
            CompositeRenderPass* pass = mCompositePass;
            pass->setAlpha(getCurrentAlpha());
            placeLayer(pass, comp);
            pass->setSourceTexture(numEffects() == 0
                                       ? getSourceTexture()
                                       : getEffectByIndex(numEffects() - 1)->getOutputTexture());
            // A collapsed draw of an earlier frame left the composition's size
            // and no edge strip here; an ordinary layer takes its own size.
            pass->setSourceSize(0, 0);
            pass->setDrawEdge(true);
            applyMatte(pass);
            pass->setResampleMode(resampleMode());
            pass->draw(texture);
        }
    }
    if (matteTarget) comp->restoreDestination(matteTarget);
}

void RenderAVLayer::drawAdjustment(unsigned int texture, RenderComp* comp) {
    if (numEffects() == 0) return;
    GLFrameBufferManager* manager = frameBufferManager();
    if (!mCopyPass) mCopyPass = new FullScreenRenderPass(this, true);
    GLRenderDestination* below = comp->generateDestination();
    manager->pushDestination(below);
    ClearBound();
    mCopyPass->draw(texture);
    manager->popDestination(false);
    RenderLayer::drawSelf(below->grabTextureForRead(true));
    comp->restoreDestination(below);
    const unsigned int effected = getEffectByIndex(numEffects() - 1)->getOutputTexture();

    CompositeRenderPass* pass = mCompositePass;
    StencilBuffer* stencil = nullptr;
    if (mMask) {
        Mat4 mvp;
        if (!is3D()) {
            mvp = comp->compOrthoProjectionMatrix() * getCurrentWorldTransform();
        } else if (RenderCameraLayer* camera = comp->cameraLayer()) {
            mvp = camera->getProjectionMatrix() * cameraView(camera) * getCurrentWorldTransform();
        }
        mMask->getDrawableShape()->setMVPTransform(mvp);
        mMask->draw(effected);
        stencil = mMask->getStencilBuffer();
        if (stencil && comp->writeDestination()) {
            comp->writeDestination()->setAttachment(GLRenderDestination::kStencilAttachment,
                                                    stencil->renderbuffer(), false);
            pass->setEnableStencil(true);
        }
    }
    pass->setAlpha(getCurrentAlpha());
    placeLayer(pass, comp);
    pass->setSourceTexture(effected);
    pass->setSourceSize(0, 0);
    applyMatte(pass);
    pass->setDrawEdge(false);
    pass->setResampleMode(resampleMode());
    pass->draw(texture);
    if (stencil && comp->writeDestination()) {
        comp->writeDestination()->removeAttachment(GLRenderDestination::kStencilAttachment);
        pass->setEnableStencil(false);
    }
}

void RenderAVLayer::drawCollapsed(unsigned int texture, RenderComp* comp) {
    GLFrameBufferManager* manager = frameBufferManager();
    const int cw = comp->width(), ch = comp->height();
    GLRenderDestination* first = comp->generateDestination();
    GLRenderDestination* second = comp->generateDestination();
    manager->pushDestination(first);
    ClearBound();
    if (!mCollapseCompositePass)
        mCollapseCompositePass = new CompositeRenderPass(this, BlendMode::Normal, kNoTrackMatte, 0, 0, false);
    CompositeRenderPass* collapsePass = mCollapseCompositePass;
    if (layerType() & kPreCompLayer) {
        collapsePass->setAlpha(1.0f);
        collapsePass->setTransform(Mat4());
        collapsePass->setSourceSize(cw, ch);
    } else {
        collapsePass->setAlpha(getCurrentAlpha());
        collapsePass->setTransform(getCurrentWorldTransform());
        collapsePass->setSourceSize(width(), height());
    }
    collapsePass->setProjection(comp->compOrthoProjectionMatrix());
    collapsePass->setSourceTexture(getSourceTexture());
    collapsePass->setMatteType(kNoTrackMatte);
    collapsePass->setResampleMode(kDefaultResampleMode);
    collapsePass->setDrawEdge(true);
    collapsePass->draw(0);
    manager->popDestination(false);

    if (!mCopyPass) mCopyPass = new FullScreenRenderPass(this, true);
    manager->pushDestination(second);
    ClearBound();
    mCopyPass->draw(first->grabTextureForRead(true));
    manager->popDestination(false);

    RenderLayer::drawSelf(second->grabTextureForRead(true));

    CompositeRenderPass* pass = mCompositePass;
    pass->setAlpha(1.0f);
    pass->setCamera(Mat4());
    pass->setTransform(Mat4());
    pass->setProjection(comp->compOrthoProjectionMatrix());
    pass->setSourceTexture(getEffectByIndex(numEffects() - 1)->getOutputTexture());
    pass->setSourceSize(cw, ch);
    applyMatte(pass);
    pass->setResampleMode(resampleMode());
    pass->setDrawEdge(false);
    pass->draw(texture);
    comp->restoreDestination(first);
    comp->restoreDestination(second);
}

}  // namespace Core
}  // namespace Quorvane
