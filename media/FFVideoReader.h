// Software decoding of one video file with FFmpeg: open and describe the best
// video stream, read frames in order, seek accurately to a time or a frame and
// convert frames to the pixel format the user asked for.
#pragma once

#include <cstdint>
#include <string>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
}

#include "media/AVSource.h"
#include "media/VideoSourceMetadata.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct SwsContext;

namespace Quorvane {
namespace Core {

class FFVideoReader {
public:
    struct DecoderContext {
        int streamIndex = -1;
        AVCodecContext* codecContext = nullptr;
        AVStream* stream = nullptr;
    };
    struct DecodeFrameContext {
        bool gotFrame = false;
        bool fresh = false;      // decoded but not yet colour converted
        double frameTime = 0.0;  // seconds on the stream's clock
        AVPacket* packet = nullptr;
        AVFrame* frame = nullptr;
    };

    // Never throws: a file that cannot be opened or decoded gives a reader that
    // is not valid for decoding; so does one whose video frames have more
    // than maxPixels pixels, refused before any frame is decoded.
    FFVideoReader(const std::string& path, AVSource::ColorFormat asked, uint64_t maxPixels = UINT64_MAX);

    // Every media file is opened through this: as a plain file (no other
    // protocol), and only by the demuxers of single-file containers and
    // images, so that no playlist or list can make the demuxer open another
    // input. The result of avformat_open_input.
    static int openInput(AVFormatContext** context, const std::string& path);
    virtual ~FFVideoReader();
    FFVideoReader(const FFVideoReader&) = delete;
    FFVideoReader& operator=(const FFVideoReader&) = delete;

    bool validForDecode() const { return decoder_.codecContext != nullptr; }

    // Makes the next frame in presentation order current; false at the end of
    // the stream (after the frames the decoder still held) or on an error.
    bool readNextFrame();
    // Seeks to the key frame at or before t microseconds and drops what the
    // decoder held; no frame is current afterwards.
    bool roughSeekToMilliseconds(long t);
    // Makes the frame shown at the target time (stream clock, microseconds) current.
    bool seekToMicroseconds(long target);
    // Makes frame n (0 = the first frame of the stream) current.
    bool seekToFrame(long n);
    // Start of frame n in microseconds on the stream clock, computed in integers.
    int64_t frameTargetMicroseconds(long n) const;
    // Half a frame in microseconds: how far from the target a frame may lie.
    int64_t seekToleranceMicroseconds() const;

    AVFrame* getFrame() const { return frameContext_.frame; }
    AVFrame* getColorConvertedFrame();
    VideoSourceMetadata* getMetadata() { return &metadata_; }
    const DecodeFrameContext& getDecodeFrameContext() const { return frameContext_; }
    const std::string& getFilePath() const { return filePath_; }

    static double getRotation(AVStream* stream);
    int64_t getFixedDuration() const;
    static int openCodecContext(int* streamIndex, AVCodecContext** codecContext,
                                AVFormatContext* formatContext, AVMediaType type);
    void setupColorConversion();
    void destroyColorConversion();
    bool shouldDoColorConversion() const;

    static AVSource::ColorFormat AVSourceColorFormatFromAVPixelFormat(AVPixelFormat format);
    static AVPixelFormat AVPixelFormatFromAVSourceColorFormat(AVSource::ColorFormat format);

private:
    // Frame time of the current frame in whole microseconds.
    int64_t currentFrameMicroseconds() const;
    int64_t startMicroseconds() const;

    AVPixelFormat sourcePixelFormat_ = AV_PIX_FMT_NONE;
    AVPixelFormat outputPixelFormat_ = AV_PIX_FMT_NONE;
    SwsContext* scaler_ = nullptr;
    AVSource::ColorFormat askedFormat_ = AVSource::kColorFormatNone;
    AVFrame* convertedFrame_ = nullptr;
    uint8_t* convertedBuffer_ = nullptr;
    std::string filePath_;
    DecoderContext decoder_;
    DecodeFrameContext frameContext_;
    VideoSourceMetadata metadata_;
    AVFormatContext* formatContext_ = nullptr;
    bool endOfInput_ = false;
    // The decoder has been sent the end-of-stream marker and is handing out
    // the frames it still held (B-frame reordering keeps several back).
    bool draining_ = false;
    AVRational frameRateQ_{0, 1};
};

}  // namespace Core
}  // namespace Quorvane
