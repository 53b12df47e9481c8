#include "media/FFMediaWriter.h"

#include <cstring>

#include "core/Log.h"
#include "media/FFAudioWriter.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

namespace Quorvane {
namespace Core {

namespace {

const char* kVideoEncodeError = "avcodec_encode_video2() error";
const char* kVideoWriteError = "av_interleaved_write_frame(): error";

// Sets up and opens one video encoder; returns the open context or null with
// the FFmpeg error in *error.
AVCodecContext* openVideoEncoder(const AVCodec* codec, int width, int height, int fps, float factor,
                                 bool globalHeader, bool hardware, int* error) {
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    if (!ctx) {
        *error = AVERROR(ENOMEM);
        return nullptr;
    }
    ctx->time_base = AVRational{1, fps};
    ctx->framerate = AVRational{fps, 1};
    ctx->width = width;
    ctx->height = height;
    ctx->gop_size = fps;
    ctx->sample_aspect_ratio = AVRational{1, 1};
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->refs = 4;
    ctx->bit_rate = static_cast<int64_t>(static_cast<float>(fps * width * height) * factor);
    if (globalHeader) ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    if (!hardware) av_dict_set(&options, "preset", "ultrafast", 0);
    *error = avcodec_open2(ctx, codec, &options);
    av_dict_free(&options);
    if (*error < 0) avcodec_free_context(&ctx);
    return ctx;
}

}  // namespace

FFMediaWriter::FFMediaWriter(const char* path) : mPath(path ? path : "") {
    QVPrint("FFMediaWriter(): %s", mPath.c_str());
    mOutput = FFAudioWriter::allocOutput(mPath);
}

FFMediaWriter::~FFMediaWriter() {
    sws_freeContext(mYuvToRgba);
    sws_freeContext(mRgbaToYuv);
    av_frame_free(&mRgbaFrame);
    av_frame_free(&mYuvFrame);
    avcodec_free_context(&mVideoCodecContext);
    avcodec_free_context(&mAudioCodecContext);
    FFAudioWriter::freeOutput(&mOutput);
    QVPrint("media writer release finish");
}

bool FFMediaWriter::addVideoInput(int width, int height, int fps) {
    mHasVideo = true;
    mWidth = width;
    mHeight = height;
    if (!mOutput || width <= 0 || height <= 0 || fps <= 0) return false;

    const AVCodec* codec = avcodec_find_encoder_by_name("h264_nvenc");
    mHardwareEncoder = codec != nullptr;
    if (!codec) {
        QVPrint("Could not find encoder: h264_nvenc");
        codec = avcodec_find_encoder(AV_CODEC_ID_H264);
    }
    if (!codec) {
        QVPrint("Could not find encoder: libx264");
        return false;
    }
    mVideoStream = avformat_new_stream(mOutput, nullptr);
    if (!mVideoStream) {
        QVPrint("Fail to allocating output video stream");
        return false;
    }
    bool globalHeader = (mOutput->oformat->flags & AVFMT_GLOBALHEADER) != 0;
    int err = 0;
    mVideoCodecContext =
        openVideoEncoder(codec, width, height, fps, mBitrateFactor, globalHeader, mHardwareEncoder, &err);
    if (!mVideoCodecContext && mHardwareEncoder) {
        // The hardware encoder is built into FFmpeg but there is no device to
        // run it on: the software encoder takes over.
        char text[64];
        av_strerror(err, text, sizeof text);
        QVPrint("Fail to avcodec_open2 video_codec:%s", text);
        mHardwareEncoder = false;
        codec = avcodec_find_encoder_by_name("libx264");
        if (!codec) codec = avcodec_find_encoder(AV_CODEC_ID_H264);
        if (codec && strcmp(codec->name, "h264_nvenc") != 0)
            mVideoCodecContext =
                openVideoEncoder(codec, width, height, fps, mBitrateFactor, globalHeader, false, &err);
    }
    if (!mVideoCodecContext) {
        char text[64];
        av_strerror(err, text, sizeof text);
        QVPrint("Fail to avcodec_open2 video_codec:%s", text);
        return false;
    }
    mVideoStream->time_base = mVideoCodecContext->time_base;
    mVideoStream->avg_frame_rate = AVRational{fps, 1};
    if (avcodec_parameters_from_context(mVideoStream->codecpar, mVideoCodecContext) < 0) {
        QVPrint("Could not initialize stream parameters");
        avcodec_free_context(&mVideoCodecContext);
        return false;
    }
    return true;
}

bool FFMediaWriter::addAudioInput(long bitRate, int sampleRate, int channels, AVRational timeBase,
                                  AVSampleFormat format) {
    mHasAudio = true;
    mAudioCodecContext =
        FFAudioWriter::openAacStream(mOutput, &mAudioStream, bitRate, sampleRate, channels, timeBase, format);
    return mAudioCodecContext != nullptr;
}

bool FFMediaWriter::addAudioInput(AVCodecParameters* params) {
    AVStream* st = FFAudioWriter::addCopyStream(mOutput, params);
    if (!st) return false;
    mAudioStream = st;
    return true;
}

bool FFMediaWriter::start() {
    // A finished video, like a render's: what stood at the path stays until
    // the new file is complete.
    if (!mOutput || !FFAudioWriter::openOutputFile(mOutput, mPath, FileWriter::Mode::Replace)) return false;
    // Index at the front of MP4 files, so that players can start at once.
    AVDictionary* options = nullptr;
    if (av_opt_find(mOutput->priv_data, "movflags", nullptr, 0, 0))
        av_dict_set(&options, "movflags", "+faststart", 0);
    int ret = avformat_write_header(mOutput, &options);
    av_dict_free(&options);
    if (ret < 0) {
        QVPrint("Error occurred when write media header to output file");
        return false;
    }
    mHeaderWritten = true;
    if (mHasVideo && mVideoCodecContext) {
        mRgbaToYuv = sws_getContext(mWidth, mHeight, AV_PIX_FMT_RGBA, mWidth, mHeight, AV_PIX_FMT_YUV420P,
                                    SWS_BICUBIC, nullptr, nullptr, nullptr);
        mYuvToRgba = sws_getContext(mWidth, mHeight, AV_PIX_FMT_YUV420P, mWidth, mHeight, AV_PIX_FMT_RGBA,
                                    SWS_BICUBIC, nullptr, nullptr, nullptr);
        mRgbaFrame = av_frame_alloc();
        mYuvFrame = av_frame_alloc();
        mYuvFrame->format = AV_PIX_FMT_YUV420P;
        mYuvFrame->width = mWidth;
        mYuvFrame->height = mHeight;
        if (!mRgbaToYuv || !mYuvToRgba || av_frame_get_buffer(mYuvFrame, 0) < 0) return false;
    }
    return true;
}

int FFMediaWriter::writeVideoFrameData(unsigned char* rgba, int pts, int, int* gotPacket) {
    if (!mHasVideo || !mVideoCodecContext || !mRgbaToYuv || !rgba) return -1;
    av_image_fill_arrays(mRgbaFrame->data, mRgbaFrame->linesize, rgba, AV_PIX_FMT_RGBA, mWidth, mHeight, 1);
    // The encoder may still reference the previous picture.
    if (av_frame_make_writable(mYuvFrame) < 0) return AVERROR(ENOMEM);
    sws_scale(mRgbaToYuv, mRgbaFrame->data, mRgbaFrame->linesize, 0, mHeight, mYuvFrame->data,
              mYuvFrame->linesize);
    mYuvFrame->width = mWidth;
    mYuvFrame->height = mHeight;
    mYuvFrame->pts = pts;
    mYuvFrame->pict_type = AV_PICTURE_TYPE_NONE;
    return writeVideoFrame(mYuvFrame, gotPacket);
}

int FFMediaWriter::writeVideoFrame(AVFrame* frame, int* gotPacket) {
    if (!mHasVideo || !mVideoCodecContext || !mHeaderWritten) return -1;
    if (frame && mVideoCodecContext->codec_id != AV_CODEC_ID_H264)
        frame->quality = mVideoCodecContext->global_quality;
    // Packets are written straight from their own buffers, so no packet, however
    // large, is ever copied into a fixed-size buffer.
    return FFAudioWriter::encodeAndWrite(mVideoCodecContext, mVideoStream, mOutput, frame, gotPacket,
                                         &mVideoDrained, &mNumPacket, kVideoEncodeError, kVideoWriteError);
}

int FFMediaWriter::writeVideoPacket(AVPacket* packet) {
    if (mHasVideo || !mVideoStream || !mVideoCodecContext || !mHeaderWritten) return -1;
    FFAudioWriter::rescalePacketTs(mVideoCodecContext, mVideoStream, packet);
    int ret = av_interleaved_write_frame(mOutput, packet);
    if (ret < 0) QVPrint("%s", kVideoWriteError);
    return ret;
}

int FFMediaWriter::writeAudioFrame(AVFrame* frame, long, int* gotPacket) {
    if (!mHasAudio || !mAudioCodecContext || !mHeaderWritten) return -1;
    return FFAudioWriter::encodeAndWrite(mAudioCodecContext, mAudioStream, mOutput, frame, gotPacket,
                                         &mAudioDrained, nullptr, "avcodec_encode_audio2() error",
                                         "av_interleaved_write_frame() error");
}

int FFMediaWriter::writeAudioPacket(AVPacket* packet, AVStream* from) {
    if (mHasAudio || !mAudioStream || !mHeaderWritten) return -1;
    return FFAudioWriter::writeCopiedPacket(mOutput, from, mAudioStream, packet);
}

int FFMediaWriter::flushVideoStream() {
    for (;;) {
        int got = 0;
        int ret = writeVideoFrame(nullptr, &got);
        if (ret < 0) return ret;
        if (!got) return 0;
    }
}

int FFMediaWriter::flushAudioStream() {
    int ret = 0;
    while (mAudioCodecContext && mHeaderWritten) {
        int got = 0;
        ret = writeAudioFrame(nullptr, 1, &got);
        if (ret < 0 || !got) break;
    }
    return ret;
}

int FFMediaWriter::flush() {
    int audio = flushAudioStream();
    int video = mVideoCodecContext ? flushVideoStream() : 0;
    return (audio < 0 || video < 0) ? -1 : 0;
}

int FFMediaWriter::close() {
    QVPrint("FFMediaWriter close()");
    return FFAudioWriter::finishOutput(mOutput, &mHeaderWritten, flush(), "FFMediaWriter", mNumPacket);
}

void FFMediaWriter::rescalePacketTs(AVStream* from, AVStream* to, AVPacket* packet) {
    FFAudioWriter::rescalePacketTs(from, to, packet);
}

void FFMediaWriter::rescalePacketTs(AVCodecContext* from, AVStream* to, AVPacket* packet) {
    FFAudioWriter::rescalePacketTs(from, to, packet);
}

}  // namespace Core
}  // namespace Quorvane
