// Writes a complete video file through FFmpeg alone: H.264 from RGBA pixel
// buffers in memory plus an optional AAC stream, muxed into the container the
// output path names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace Quorvane {
namespace Core {

class FFMediaWriter {
public:
    explicit FFMediaWriter(const char* path);
    ~FFMediaWriter();
    FFMediaWriter(const FFMediaWriter&) = delete;
    FFMediaWriter& operator=(const FFMediaWriter&) = delete;

    void setBitrateControl(float factor) { mBitrateFactor = factor; }
    bool addVideoInput(int width, int height, int fps);
    bool addAudioInput(long bitRate, int sampleRate, int channels, AVRational timeBase,
                       AVSampleFormat format);
    bool addAudioInput(AVCodecParameters* params);
    bool start();

    // rgba: width x height pixels, tightly packed, row 0 on top.
    int writeVideoFrameData(unsigned char* rgba, int pts, int unused, int* gotPacket);
    int writeVideoFrame(AVFrame* frame, int* gotPacket);
    int writeVideoPacket(AVPacket* packet);
    int writeAudioFrame(AVFrame* frame, long pts, int* gotPacket);
    int writeAudioPacket(AVPacket* packet, AVStream* from);
    int flushVideoStream();
    int flushAudioStream();
    int flush();
    int close();

    static void rescalePacketTs(AVStream* from, AVStream* to, AVPacket* packet);
    static void rescalePacketTs(AVCodecContext* from, AVStream* to, AVPacket* packet);

    bool usesHardwareEncoder() const { return mHardwareEncoder; }
    AVCodecContext* videoCodecContext() const { return mVideoCodecContext; }
    int packetCount() const { return mNumPacket; }

private:
    int mWriterKind = 0;
    SwsContext* mYuvToRgba = nullptr;
    SwsContext* mRgbaToYuv = nullptr;
    AVFrame* mRgbaFrame = nullptr;
    AVFrame* mYuvFrame = nullptr;
    std::string mPath;
    int mWidth = 0;
    int mHeight = 0;
    int mNumPacket = 0;
    bool mHardwareEncoder = false;
    bool mHasVideo = false;
    bool mHasAudio = false;
    AVStream* mVideoStream = nullptr;
    AVStream* mAudioStream = nullptr;
    AVCodecContext* mVideoCodecContext = nullptr;
    AVCodecContext* mAudioCodecContext = nullptr;
    AVFormatContext* mOutput = nullptr;
    float mBitrateFactor = 0.25f;
    bool mHeaderWritten = false;
    bool mVideoDrained = false;
    bool mAudioDrained = false;
};

}  // namespace Core
}  // namespace Quorvane
