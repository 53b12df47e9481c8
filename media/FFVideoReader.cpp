#include "media/FFVideoReader.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "core/FileManager.h"

namespace Quorvane {
namespace Core {

namespace {

struct FormatPair {
    AVSource::ColorFormat color;
    AVPixelFormat pixel;
};

const FormatPair kFormatTable[] = {
    {AVSource::kColorFormatRGB24, AV_PIX_FMT_RGB24},
    {AVSource::kColorFormatRGBA, AV_PIX_FMT_RGBA},
    {AVSource::kColorFormatYUV420P, AV_PIX_FMT_YUV420P},
};

// The demuxers of the containers, audio files and images that templates and
// hosts use; none of them opens a further input. Playlists (hls, dash),
// lists (concat), file patterns (image2) and the like are left out.
constexpr const char* kDemuxers =
    "mov,mp4,m4a,3gp,3g2,mj2,avi,matroska,webm,mpegts,mpeg,flv,asf,h264,hevc,ivf,"
    "aac,mp3,wav,w64,ogg,flac,caf,aiff,amr,ac3,eac3,"
    "png_pipe,jpeg_pipe,bmp_pipe,webp_pipe,psd_pipe,gif";

constexpr int64_t kMicroseconds = 1000000;
// A seek near the end that finds no frame steps back this far each time.
constexpr int64_t kEndBackOffMicroseconds = 500000;
// After this many fruitless attempts a seek settles for the frame it has.
constexpr int kMaxSeekRepeats = 9;

}  // namespace

AVSource::ColorFormat FFVideoReader::AVSourceColorFormatFromAVPixelFormat(AVPixelFormat format) {
    for (const auto& row : kFormatTable) {
        if (row.pixel == format) return row.color;
    }
    return AVSource::kColorFormatNone;
}

AVPixelFormat FFVideoReader::AVPixelFormatFromAVSourceColorFormat(AVSource::ColorFormat format) {
    for (const auto& row : kFormatTable) {
        if (row.color == format) return row.pixel;
    }
    return AV_PIX_FMT_NONE;
}

int FFVideoReader::openInput(AVFormatContext** context, const std::string& path) {
    AVDictionary* options = nullptr;
    av_dict_set(&options, "format_whitelist", kDemuxers, 0);
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    // The prefix keeps a ':' in a file name from naming a protocol.
    const int ret = avformat_open_input(context, ("file:" + path).c_str(), nullptr, &options);
    av_dict_free(&options);
    return ret;
}

FFVideoReader::FFVideoReader(const std::string& path, AVSource::ColorFormat asked, uint64_t maxPixels)
    : askedFormat_(asked), filePath_(path) {
    // Only a regular file is opened: a FIFO or a device would block or never end.
    const InputFileStatus status = FileManager::checkInput(path, kMaxMediaFileBytes);
    if (status != InputFileStatus::Ok) {
        fprintf(stderr, "Could not open source file %s: %s\n", path.c_str(), FileManager::describe(status));
        return;
    }
    int ret = openInput(&formatContext_, path);
    if (ret < 0) {
        fprintf(stderr, "Could not open source file %s\n error:%d\n", path.c_str(), ret);
        formatContext_ = nullptr;
        return;
    }
    // Probing the streams decodes frames: a header announcing gigabytes of
    // pixels is refused before.
    for (unsigned i = 0; i < formatContext_->nb_streams; ++i) {
        const AVCodecParameters* par = formatContext_->streams[i]->codecpar;
        if (par->codec_type != AVMEDIA_TYPE_VIDEO || par->width <= 0 || par->height <= 0) continue;
        if (static_cast<uint64_t>(par->width) * static_cast<uint64_t>(par->height) > maxPixels) {
            fprintf(stderr, "Source file %s: frames of %dx%d would pass the picture budget (%llu pixels left)\n",
                    path.c_str(), par->width, par->height, static_cast<unsigned long long>(maxPixels));
            return;
        }
    }
    if (avformat_find_stream_info(formatContext_, nullptr) < 0) {
        fprintf(stderr, "Could not find stream information in %s\n", path.c_str());
        return;
    }

    int index = -1;
    AVCodecContext* ctx = nullptr;
    if (openCodecContext(&index, &ctx, formatContext_, AVMEDIA_TYPE_VIDEO) == 0) {
        AVStream* stream = formatContext_->streams[index];
        sourcePixelFormat_ = ctx->pix_fmt;
        outputPixelFormat_ = asked != AVSource::kColorFormatNone ? AVPixelFormatFromAVSourceColorFormat(asked)
                                                                 : sourcePixelFormat_;
        frameContext_.packet = av_packet_alloc();
        frameContext_.frame = av_frame_alloc();
        decoder_.streamIndex = index;
        decoder_.codecContext = ctx;
        decoder_.stream = stream;
        metadata_.hasVideo = true;
        frameRateQ_ = stream->avg_frame_rate;
        if (frameRateQ_.num <= 0 || frameRateQ_.den <= 0) frameRateQ_ = AVRational{0, 1};
        metadata_.frameRate = frameRateQ_.num > 0 ? static_cast<float>(av_q2d(frameRateQ_)) : 0.0f;
        metadata_.rotation = getRotation(stream);
        metadata_.width = ctx->width;
        metadata_.height = ctx->height;
        metadata_.colorFormat = AVSourceColorFormatFromAVPixelFormat(outputPixelFormat_);
        metadata_.bitRate = ctx->bit_rate;
        // Decoders of FFmpeg 5 leave their own time base unset; the stream's is the one frames carry.
        AVRational tb =
            (ctx->time_base.num > 0 && ctx->time_base.den > 0) ? ctx->time_base : stream->time_base;
        metadata_.videoTimeBase = TimeUnit(tb.num, static_cast<float>(tb.den));
        if (stream->sample_aspect_ratio.num > 0 && stream->sample_aspect_ratio.den > 0) {
            metadata_.pixelAspectRatio = static_cast<float>(av_q2d(stream->sample_aspect_ratio));
        }
    }

    int audioIndex = -1;
    AVCodecContext* audio = nullptr;
    if (openCodecContext(&audioIndex, &audio, formatContext_, AVMEDIA_TYPE_AUDIO) == 0) {
        metadata_.audioTimeBase = TimeUnit(audio->time_base.num, static_cast<float>(audio->time_base.den));
        metadata_.audioChannels = audio->ch_layout.nb_channels;
        metadata_.hasAudio = true;
        avcodec_free_context(&audio);
    }

    metadata_.duration = getFixedDuration();
    if (shouldDoColorConversion()) setupColorConversion();
}

FFVideoReader::~FFVideoReader() {
    avcodec_free_context(&decoder_.codecContext);
    av_packet_free(&frameContext_.packet);
    av_frame_free(&frameContext_.frame);
    if (formatContext_) avformat_close_input(&formatContext_);
    destroyColorConversion();
}

int FFVideoReader::openCodecContext(int* streamIndex, AVCodecContext** codecContext,
                                    AVFormatContext* formatContext, AVMediaType type) {
    const char* typeName = av_get_media_type_string(type);
    if (!typeName) typeName = "unknown";
    int ret = av_find_best_stream(formatContext, type, -1, -1, nullptr, 0);
    if (ret < 0) return ret;
    AVStream* stream = formatContext->streams[ret];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) {
        fprintf(stderr, "Failed to find %s codec\n", typeName);
        return AVERROR(EINVAL);
    }
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    if (!ctx) {
        fprintf(stderr, "Failed to allocate the %s codec context\n", typeName);
        return AVERROR(ENOMEM);
    }
    int err = avcodec_parameters_to_context(ctx, stream->codecpar);
    if (err < 0) {
        fprintf(stderr, "Failed to copy %s codec parameters to decoder context\n", typeName);
        avcodec_free_context(&ctx);
        return err;
    }
    ctx->pkt_timebase = stream->time_base;
    err = avcodec_open2(ctx, codec, nullptr);
    if (err < 0) {
        fprintf(stderr, "Failed to open %s codec\n", typeName);
        avcodec_free_context(&ctx);
        return err;
    }
    *streamIndex = ret;
    *codecContext = ctx;
    return 0;
}

double FFVideoReader::getRotation(AVStream* stream) {
    double angle = 0.0;
    if (!stream) return angle;
    // Demuxers of FFmpeg 5 no longer export this tag, but streams built by
    // hand may still carry it.
    AVDictionaryEntry* tag = av_dict_get(stream->metadata, "rotate", nullptr, 0);
    if (tag && tag->value[0] != '\0' && strcmp(tag->value, "0") != 0) {
        char* end = nullptr;
        double value = strtod(tag->value, &end);
        if (end && *end == '\0' && std::isfinite(value)) angle = value;
    }
    if (angle == 0.0) {
        size_t size = 0;
        const uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
        if (matrix && size >= 9 * sizeof(int32_t)) {
            // The matrix turns counter-clockwise; the engine counts clockwise.
            double r = -av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
            if (std::isfinite(r)) angle = r;
        }
    }
    return angle - std::floor(angle / 360.0 + 0.0025) * 360.0;
}

int64_t FFVideoReader::startMicroseconds() const {
    if (!formatContext_ || formatContext_->start_time == AV_NOPTS_VALUE || formatContext_->start_time <= 0)
        return 0;
    return formatContext_->start_time;
}

int64_t FFVideoReader::getFixedDuration() const {
    if (!formatContext_) return 0;
    int64_t start = startMicroseconds() / 1000;
    if (formatContext_->duration == AV_NOPTS_VALUE || formatContext_->duration < 0) return 0;
    int64_t total = formatContext_->duration / 1000;
    return (total >= 0 && start <= total) ? total - start : 0;
}

bool FFVideoReader::shouldDoColorConversion() const {
    return metadata_.hasVideo && outputPixelFormat_ != sourcePixelFormat_;
}

void FFVideoReader::setupColorConversion() {
    if (sourcePixelFormat_ == AV_PIX_FMT_NONE || outputPixelFormat_ == AV_PIX_FMT_NONE) return;
    if (metadata_.width <= 0 || metadata_.height <= 0) return;
    destroyColorConversion();
    scaler_ =
        sws_getCachedContext(nullptr, metadata_.width, metadata_.height, sourcePixelFormat_, metadata_.width,
                             metadata_.height, outputPixelFormat_, SWS_POINT, nullptr, nullptr, nullptr);
    if (!scaler_) return;
    int size = av_image_get_buffer_size(outputPixelFormat_, metadata_.width, metadata_.height, 1);
    convertedFrame_ = av_frame_alloc();
    convertedBuffer_ = size > 0 ? static_cast<uint8_t*>(av_malloc(size)) : nullptr;
    if (!convertedFrame_ || !convertedBuffer_) {
        destroyColorConversion();
        return;
    }
    av_image_fill_arrays(convertedFrame_->data, convertedFrame_->linesize, convertedBuffer_,
                         outputPixelFormat_, metadata_.width, metadata_.height, 1);
    convertedFrame_->width = metadata_.width;
    convertedFrame_->height = metadata_.height;
    convertedFrame_->format = outputPixelFormat_;
}

void FFVideoReader::destroyColorConversion() {
    if (scaler_) sws_freeContext(scaler_);
    scaler_ = nullptr;
    av_frame_free(&convertedFrame_);
    av_freep(&convertedBuffer_);
}

AVFrame* FFVideoReader::getColorConvertedFrame() {
    AVFrame* frame = frameContext_.frame;
    if (!frameContext_.gotFrame) return frame;
    // A stream may change size (or format) mid-way; users size their buffers
    // and textures by the opened stream, so such frames are scaled back to it.
    const bool openedShape = frame->width == metadata_.width && frame->height == metadata_.height &&
                             frame->format == sourcePixelFormat_;
    if (!shouldDoColorConversion() && openedShape) return frame;
    if (!convertedFrame_) setupColorConversion();
    if (!scaler_ || !convertedFrame_) return nullptr;
    if (frameContext_.fresh) {
        if (frame->width <= 0 || frame->height <= 0 || frame->format < 0) return nullptr;
        scaler_ = sws_getCachedContext(scaler_, frame->width, frame->height,
                                       static_cast<AVPixelFormat>(frame->format), metadata_.width,
                                       metadata_.height, outputPixelFormat_, SWS_POINT, nullptr, nullptr, nullptr);
        if (!scaler_) return nullptr;
        sws_scale(scaler_, frame->data, frame->linesize, 0, frame->height, convertedFrame_->data,
                  convertedFrame_->linesize);
        frameContext_.fresh = false;
    }
    return convertedFrame_;
}

bool FFVideoReader::readNextFrame() {
    frameContext_.gotFrame = false;
    frameContext_.fresh = false;
    if (!validForDecode() || endOfInput_) return false;
    AVCodecContext* ctx = decoder_.codecContext;
    AVPacket* packet = frameContext_.packet;
    AVFrame* frame = frameContext_.frame;
    for (;;) {
        int ret = avcodec_receive_frame(ctx, frame);
        if (ret == 0) break;
        if (ret == AVERROR_EOF) {
            endOfInput_ = true;
            return false;
        }
        if (ret != AVERROR(EAGAIN)) {
            fprintf(stderr, "Error during decoding video\n");
            return false;
        }
        if (draining_) {
            endOfInput_ = true;
            return false;
        }
        ret = av_read_frame(formatContext_, packet);
        if (ret < 0) {
            // End of the file: hand the decoder the end marker so that it gives
            // out the frames it still holds for reordering.
            draining_ = true;
            avcodec_send_packet(ctx, nullptr);
            continue;
        }
        if (packet->stream_index != decoder_.streamIndex) {
            av_packet_unref(packet);
            continue;
        }
        ret = avcodec_send_packet(ctx, packet);
        av_packet_unref(packet);
        if (ret < 0 && ret != AVERROR(EAGAIN)) {
            fprintf(stderr, "Error sending a packet for decoding\n");
            return false;
        }
    }
    if (frame->best_effort_timestamp != AV_NOPTS_VALUE) frame->pts = frame->best_effort_timestamp;
    if (frame->pts != AV_NOPTS_VALUE) {
        frameContext_.frameTime = frame->pts * av_q2d(decoder_.stream->time_base);
    } else if (frameRateQ_.num > 0) {
        frameContext_.frameTime += av_q2d(av_inv_q(frameRateQ_));
    }
    frameContext_.gotFrame = true;
    frameContext_.fresh = true;
    return true;
}

bool FFVideoReader::roughSeekToMilliseconds(long t) {
    if (!validForDecode()) return false;
    int64_t position = t > 0 ? t : 0;
    if (av_seek_frame(formatContext_, -1, position, AVSEEK_FLAG_BACKWARD) < 0) {
        fprintf(stderr, "av_seek_frame failed.\n");
        return false;
    }
    avcodec_flush_buffers(decoder_.codecContext);
    draining_ = false;
    endOfInput_ = false;
    frameContext_.gotFrame = false;
    frameContext_.fresh = false;
    return true;
}

int64_t FFVideoReader::currentFrameMicroseconds() const {
    const AVFrame* frame = frameContext_.frame;
    if (frame && frame->pts != AV_NOPTS_VALUE) {
        return av_rescale_q(frame->pts, decoder_.stream->time_base,
                            AVRational{1, static_cast<int>(kMicroseconds)});
    }
    return static_cast<int64_t>(frameContext_.frameTime * kMicroseconds);
}

int64_t FFVideoReader::seekToleranceMicroseconds() const {
    if (frameRateQ_.num <= 0) return 0;
    return av_rescale(kMicroseconds / 2, frameRateQ_.den, frameRateQ_.num);
}

int64_t FFVideoReader::frameTargetMicroseconds(long n) const {
    if (frameRateQ_.num <= 0) return startMicroseconds();
    // Integer arithmetic: frame 9000 at 30 fps is exactly 300 s, where a 32-bit
    // float product lands a frame late.
    return startMicroseconds() + av_rescale(n, kMicroseconds * frameRateQ_.den, frameRateQ_.num);
}

bool FFVideoReader::seekToMicroseconds(long targetUs) {
    endOfInput_ = false;
    if (!validForDecode()) return false;
    const int64_t target = targetUs;
    const int64_t limit = startMicroseconds() + metadata_.duration * 1000 - kMicroseconds;
    const int64_t tolerance = seekToleranceMicroseconds();
    int64_t seekPosition = target;
    int64_t lastTime = target;
    int repeats = 0;
    int64_t backOff = 2;

    for (;;) {
        // An input that cannot seek at all will not seek on a later try either.
        if (!roughSeekToMilliseconds(static_cast<long>(seekPosition))) return false;
        if (!readNextFrame()) {
            if (target <= limit) return false;
            seekPosition -= kEndBackOffMicroseconds;
            if (++repeats > kMaxSeekRepeats) return true;
            continue;
        }
        int64_t t = currentFrameMicroseconds();
        int64_t difference = t > target ? t - target : target - t;
        if (t == lastTime) ++repeats;
        if (t > target) {
            if (difference <= tolerance) return true;
            seekPosition -= backOff * (t - target);
            lastTime = t;
            ++backOff;
            if (repeats > kMaxSeekRepeats) return true;
            continue;
        }
        if (difference <= tolerance) return true;
        for (;;) {
            if (!readNextFrame()) return false;
            t = currentFrameMicroseconds();
            if (t >= target) return true;
            if (t == lastTime) ++repeats;
            if (target - t <= tolerance || repeats > kMaxSeekRepeats) return true;
        }
    }
}

bool FFVideoReader::seekToFrame(long n) {
    endOfInput_ = false;
    if (!validForDecode() || frameRateQ_.num <= 0) return false;
    return seekToMicroseconds(static_cast<long>(frameTargetMicroseconds(n)));
}

}  // namespace Core
}  // namespace Quorvane
