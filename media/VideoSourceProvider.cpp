#include "media/VideoSourceProvider.h"

#include <GL/gl.h>

extern "C" {
#include <libavutil/frame.h>
}

#include "media/FFVideoReader.h"

namespace Quorvane {
namespace Core {

VideoSourceProvider::VideoSourceProvider(const std::string& path, GLContext* /*context*/, uint64_t maxPixels)
    : reader_(new FFVideoReader(path, AVSource::kColorFormatRGBA, maxPixels)) {
    metadata_ = *reader_->getMetadata();
}

VideoSourceProvider::~VideoSourceProvider() {
    delete reader_;
}

bool VideoSourceProvider::isValid() {
    return reader_->validForDecode();
}

std::string VideoSourceProvider::getFilePath() {
    return reader_->getFilePath();
}

AVSource::ColorFormat VideoSourceProvider::outputColorFormat() {
    return isValid() ? AVSource::kColorFormatRGBA : AVSource::kColorFormatNone;
}

bool VideoSourceProvider::readNextFrame(long /*frame*/) {
    return isValid() && reader_->readNextFrame();
}

bool VideoSourceProvider::seekToFrame(long frame) {
    return isValid() && reader_->seekToFrame(frame);
}

bool VideoSourceProvider::seekToMicroseconds(long us) {
    return isValid() && reader_->seekToMicroseconds(us);
}

bool VideoSourceProvider::updateTextureWithCurrentFrameData(unsigned int* texture) {
    if (!texture || !isValid() || !reader_->getDecodeFrameContext().gotFrame) return false;
    AVFrame* frame = reader_->getColorConvertedFrame();
    if (!frame || !frame->data[0]) return false;
    const int width = metadata_.width;
    const int height = metadata_.height;
    // Frames that decode straight to RGBA keep the decoder's padded rows.
    const int stride = frame->linesize[0];
    if (frame->width != width || frame->height != height || stride < 4 * width || stride % 4 != 0) return false;
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, stride / 4);
    if (*texture == 0) {
        glGenTextures(1, texture);
        glBindTexture(GL_TEXTURE_2D, *texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, frame->data[0]);
    } else {
        glBindTexture(GL_TEXTURE_2D, *texture);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, frame->data[0]);
    }
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    return true;
}

}  // namespace Core
}  // namespace Quorvane
