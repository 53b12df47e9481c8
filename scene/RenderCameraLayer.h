// The camera through which a composition's 3D layers are seen: a null layer
// whose transform track uses the camera conversion, with a frustum built from
// field of view (or per-frame focal lengths), aspect and near and far planes.
#pragma once

#include <vector>

#include "core/Matrix.h"
#include "scene/RenderNullLayer.h"

namespace Quorvane {
namespace Core {

class RenderCameraLayer : public RenderNullLayer {
public:
    explicit RenderCameraLayer(RenderComp* comp);
    RenderCameraLayer(const RenderCameraLayer& other);
    RenderCameraLayer& operator=(const RenderCameraLayer&) = delete;
    ~RenderCameraLayer() override;

    // Film size and aspect follow the layer's size (its composition's), near
    // and far go back to 1 and 20000; the focal length of the frame, when
    // there are any, rebuilds the projection.
    void prepareForFrame(long long frame) override;
    // The base layer keys, then "focal": a number for every frame, or the name
    // of a data file holding an array with one number per frame.
    void loadFromJson(const rapidjson::Value& value) override;

    const Mat4& getProjectionMatrix() const { return mProjection; }
    // A value equal to the stored one changes nothing.
    void setFov(float degrees, bool update);
    void setAspect(float aspect, bool update);
    void setNear(float value, bool update);
    void setFar(float value, bool update);
    void setFilmWidth(float width) { mFilmWidth = width; }
    // Also sets aspect = film width / film height.
    void setFilmHeight(float height, bool update);
    // Field of view = 2 * atan(film height / 2 / focal).
    void setFocalLength(float focal, bool update);

    float getFov() const { return mFov; }
    float getNear() const { return mNear; }
    float getFar() const { return mFar; }
    float getAspect() const { return mAspect; }
    float getFilmWidth() const { return mFilmWidth; }
    float getFilmHeight() const { return mFilmHeight; }
    float getFocalLength() const;
    const std::vector<float>& focalLengths() const { return mFocalLengths; }

    void updateProjectionMatrix();

private:
    Mat4 mProjection;
    float mFov = 45.0f;
    float mNear = 1.0f;
    float mFar = 20000.0f;
    float mAspect = 16.0f / 9.0f;
    float mFilmWidth = 1920.0f;
    float mFilmHeight = 1080.0f;
    std::vector<float> mFocalLengths;
};

}  // namespace Core
}  // namespace Quorvane
