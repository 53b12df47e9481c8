// Frame providers that an AVSource pulls from: the abstract base (hosts may
// implement it for frames of their own) and the provider for video files.
#pragma once

#include <cstdint>
#include <string>

#include "media/AVSource.h"
#include "media/VideoSourceMetadata.h"
#include "render/GLBase.h"

namespace Quorvane {
namespace Core {

class FFVideoReader;
struct GLContext;

class BaseVideoSourceProvider : public GLBase {
public:
    BaseVideoSourceProvider() = default;
    virtual bool isValid() = 0;
    virtual std::string getFilePath() = 0;
    // Makes the next frame current.
    virtual bool readNextFrame(long frame) = 0;
    // Uploads the current frame into *texture, creating the texture when the name is 0.
    virtual bool updateTextureWithCurrentFrameData(unsigned int* texture) = 0;
    virtual bool seekToFrame(long frame) = 0;
    virtual bool seekToMicroseconds(long us) = 0;
    virtual AVSource::ColorFormat outputColorFormat() = 0;
    virtual ~BaseVideoSourceProvider() = default;

    const VideoSourceMetadata& getMetadata() const { return metadata_; }

protected:
    VideoSourceMetadata metadata_;
};

// A video file decoded to RGBA; the current frame is uploaded into a texture.
class VideoSourceProvider : public BaseVideoSourceProvider {
public:
    // The GL context is not needed: uploads go to whichever context is current.
    // A video whose frames have more than maxPixels pixels is not valid.
    VideoSourceProvider(const std::string& path, GLContext* context, uint64_t maxPixels = UINT64_MAX);
    ~VideoSourceProvider() override;
    VideoSourceProvider(const VideoSourceProvider&) = delete;
    VideoSourceProvider& operator=(const VideoSourceProvider&) = delete;

    bool isValid() override;
    std::string getFilePath() override;
    bool readNextFrame(long frame) override;
    bool updateTextureWithCurrentFrameData(unsigned int* texture) override;
    bool seekToFrame(long frame) override;
    bool seekToMicroseconds(long us) override;
    AVSource::ColorFormat outputColorFormat() override;

    FFVideoReader* reader() { return reader_; }

private:
    FFVideoReader* reader_ = nullptr;
};

}  // namespace Core
}  // namespace Quorvane
