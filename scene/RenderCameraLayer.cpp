#include "scene/RenderCameraLayer.h"

#include <cmath>
#include <limits>
#include <memory>

#include "core/FileCodec.h"
#include "core/FileManager.h"
#include "core/Float.h"
#include "core/Json.h"
#include "core/Log.h"
#include "render/DataFileCache.h"
#include "scene/RenderComp.h"

namespace Quorvane {
namespace Core {

RenderCameraLayer::RenderCameraLayer(RenderComp* comp) : RenderNullLayer(comp) {
    setCameraFlag(true);
    setLayerType(kCameraLayer, true);
    updateProjectionMatrix();
}

RenderCameraLayer::RenderCameraLayer(const RenderCameraLayer& other)
    : RenderNullLayer(other),
      mFov(other.mFov),
      mNear(other.mNear),
      mFar(other.mFar),
      mAspect(other.mAspect),
      mFilmWidth(other.mFilmWidth),
      mFilmHeight(other.mFilmHeight),
      mFocalLengths(other.mFocalLengths) {
    setCameraFlag(true);
    setLayerType(kCameraLayer, true);
    updateProjectionMatrix();
}

RenderCameraLayer::~RenderCameraLayer() = default;

void RenderCameraLayer::updateProjectionMatrix() {
    const float top = std::tan(0.5f * mFov * Float::degreesToRadiansFactor) * mNear;
    const float height = 2.0f * top;
    const float width = mAspect * height;
    const float left = -0.5f * width;
    mProjection.setFrustum(left, left + width, top - height, top, mNear, mFar);
}

void RenderCameraLayer::setFov(float degrees, bool update) {
    if (degrees == mFov) return;
    mFov = degrees;
    if (update) updateProjectionMatrix();
}

void RenderCameraLayer::setAspect(float aspect, bool update) {
    if (aspect == mAspect) return;
    mAspect = aspect;
    if (update) updateProjectionMatrix();
}

void RenderCameraLayer::setNear(float value, bool update) {
    if (value == mNear) return;
    mNear = value;
    if (update) updateProjectionMatrix();
}

void RenderCameraLayer::setFar(float value, bool update) {
    if (value == mFar) return;
    mFar = value;
    if (update) updateProjectionMatrix();
}

void RenderCameraLayer::setFilmHeight(float height, bool update) {
    mFilmHeight = height;
    // A film of no height has no aspect: the frustum then has no width and
    // the camera sees nothing.
    mAspect = height != 0.0f ? mFilmWidth / height : 0.0f;
    if (update) updateProjectionMatrix();
}

void RenderCameraLayer::setFocalLength(float focal, bool update) {
    // A focal length of 0 (or below, or not a number) has no field of view:
    // the current one stays.
    if (!(focal > 0.0f) || !std::isfinite(focal)) return;
    mFov = 2.0f * std::atan(mFilmHeight * 0.5f / focal) * Float::radiansToDegreesFactor;
    if (update) updateProjectionMatrix();
}

float RenderCameraLayer::getFocalLength() const {
    const float tangent = std::tan(mFov * 0.5f * Float::degreesToRadiansFactor);
    // A field of view of 0 would need an infinitely long lens.
    if (tangent == 0.0f) return mFilmHeight == 0.0f ? 0.0f : std::copysign(std::numeric_limits<float>::infinity(), mFilmHeight);
    return mFilmHeight * 0.5f / tangent;
}

void RenderCameraLayer::prepareForFrame(long long frame) {
    RenderLayer::prepareForFrame(frame);
    mFilmWidth = static_cast<float>(width());
    mFilmHeight = static_cast<float>(height());
    mAspect = mFilmHeight > 0.0f ? mFilmWidth / mFilmHeight : 1.0f;
    mNear = 1.0f;
    mFar = 20000.0f;
    if (mFocalLengths.empty()) return;
    const size_t index = frame < 0 ? 0 : static_cast<size_t>(frame);
    setFocalLength(mFocalLengths[index < mFocalLengths.size() ? index : mFocalLengths.size() - 1], true);
}

void RenderCameraLayer::loadFromJson(const rapidjson::Value& value) {
    RenderLayer::loadFromJson(value);
    if (!value.IsObject()) return;
    const rapidjson::Value* focal = Json::find(value, "focal");
    if (!focal) return;
    float number = 0.0f;
    if (Json::getNumber(*focal, number)) {
        mFocalLengths.push_back(number);
        return;
    }
    if (!focal->IsString()) return;

    const std::string path = dataFile(focal->GetString());
    if (path.empty() || !FileManager::exist(path)) {
        QVPrint("camera %s: focal data file %s not found", layerID().c_str(), focal->GetString());
        return;
    }
    const std::shared_ptr<const std::vector<float>> lengths = DataFileCache::get<std::vector<float>>(
        dataFiles(), path, "focal lengths", [&path]() -> std::shared_ptr<const std::vector<float>> {
            FileCodec codec(FileCodec::getFileCodecVersion(path));
            codec.decodePack(path);
            Json::Document doc;
            const size_t size = static_cast<size_t>(std::min<uint64_t>(codec.size, codec.content.size()));
            if (!Json::parse(doc, codec.content.data(), size, Json::ByteOrderMark::Reject) || !doc.IsArray()) {
                return nullptr;
            }
            // Elements that are not numbers are passed over.
            auto numbers = std::make_shared<std::vector<float>>();
            float number = 0.0f;
            for (const rapidjson::Value& element : doc.GetArray()) {
                if (Json::getNumber(element, number)) numbers->push_back(number);
            }
            return numbers;
        });
    if (!lengths) {
        QVPrint("camera %s: focal data file %s is not a JSON array", layerID().c_str(), focal->GetString());
        return;
    }
    mFocalLengths.insert(mFocalLengths.end(), lengths->begin(), lengths->end());
}

}  // namespace Core
}  // namespace Quorvane
