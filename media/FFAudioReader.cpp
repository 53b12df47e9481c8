#include "media/FFAudioReader.h"

#include <cstdio>
#include <stdexcept>

#include "core/FileManager.h"
#include "core/Log.h"
#include "media/FFVideoReader.h"

extern "C" {
#include <libavutil/mathematics.h>
#include <libavutil/samplefmt.h>
}

namespace Quorvane {
namespace Core {

namespace {

std::string checkedPath(const char* path) {
    // Constructing a string from null is undefined; report it the way the
    // standard library does for other bad arguments.
    if (path == nullptr) throw std::logic_error("FFAudioReader: null path");
    return std::string(path);
}

}  // namespace

FFAudioReader::FFAudioReader(const char* path) : mFilePath(checkedPath(path)) {
    // Only a regular file is opened: a FIFO or a device would block or never end.
    const InputFileStatus status = FileManager::checkInput(mFilePath, kMaxMediaFileBytes);
    if (status != InputFileStatus::Ok) {
        QVPrint("fail to open source file: %s: %s", path, FileManager::describe(status));
        return;
    }
    if (FFVideoReader::openInput(&mFormat, mFilePath) < 0) {
        QVPrint("fail to open source file: %s", path);
        mFormat = nullptr;
        return;
    }
    if (avformat_find_stream_info(mFormat, nullptr) < 0) {
        QVPrint("FFMPEG ERR %s", "fail to find the stream info from the source file");
        return;
    }
    if (openCodecContext(&mStreamIndex, &mDecoder, mFormat, AVMEDIA_TYPE_AUDIO) < 0) {
        mDecoder = nullptr;
        return;
    }
    mStream = mFormat->streams[mStreamIndex];
    mParams = mStream->codecpar;
    mResult.packet = av_packet_alloc();
    mResult.frame = av_frame_alloc();

    // FFmpeg 5 leaves an audio decoder's own time base unset; the decoded frames'
    // timestamps are in the stream's time base, so that is the one handed out.
    mTimeBase = mStream->time_base;
    mSampleFormat = mDecoder->sample_fmt;
    mBitRate = static_cast<int>(mParams->bit_rate);
    mSampleRate = mParams->sample_rate;
    mFrameSize = mParams->frame_size;
    // Some containers (raw PCM, some WAV files) give a channel count but no
    // layout; the usual layout for that count stands in.
    if (mParams->ch_layout.order == AV_CHANNEL_ORDER_NATIVE) {
        av_channel_layout_copy(&mLayout, &mParams->ch_layout);
    } else {
        av_channel_layout_default(&mLayout, mParams->ch_layout.nb_channels > 0
                                                ? mParams->ch_layout.nb_channels
                                                : mDecoder->ch_layout.nb_channels);
    }
    mChannelLayout = mLayout.order == AV_CHANNEL_ORDER_NATIVE ? mLayout.u.mask : 0;
    mChannels = mLayout.nb_channels;
    mSampleSize = av_get_bytes_per_sample(mSampleFormat);
    mDuration = getFixedDuration();
}

FFAudioReader::~FFAudioReader() {
    av_frame_free(&mResult.frame);
    av_packet_free(&mResult.packet);
    avcodec_free_context(&mDecoder);
    avformat_close_input(&mFormat);
    av_channel_layout_uninit(&mLayout);
}

AVCodecID FFAudioReader::getCodecID() const {
    return mDecoder ? mDecoder->codec_id : AV_CODEC_ID_FIRST_UNKNOWN;
}

int FFAudioReader::openCodecContext(int* index, AVCodecContext** ctx, AVFormatContext* fmt,
                                    AVMediaType type) {
    // Unlike the video reader, a file without the stream is worth a line.
    int ret = av_find_best_stream(fmt, type, -1, -1, nullptr, 0);
    if (ret < 0) {
        fprintf(stderr, "Could not find %s stream in file\n", av_get_media_type_string(type));
        return ret;
    }
    return FFVideoReader::openCodecContext(index, ctx, fmt, type);
}

int64_t FFAudioReader::getFixedDuration() const {
    if (!mFormat) return 0;
    AVRational us = {1, AV_TIME_BASE};
    AVRational ms = {1, 1000};
    int64_t start = 0;
    if (mFormat->start_time != AV_NOPTS_VALUE && mFormat->start_time > 0)
        start = av_rescale_q(mFormat->start_time, us, ms);
    int64_t total = mFormat->duration == AV_NOPTS_VALUE ? -1 : av_rescale_q(mFormat->duration, us, ms);
    if (total >= 0 && start <= total) return total - start;
    return 0;
}

bool FFAudioReader::readNextAudioPacket() {
    if (!mDecoder) return false;
    for (;;) {
        mResult.gotFrame = false;
        if (av_read_frame(mFormat, mResult.packet) < 0) {
            av_packet_unref(mResult.packet);
            fprintf(stderr, "Failed to read next audio frame\n");
            return false;
        }
        if (mResult.packet->stream_index == mStreamIndex) return true;
        av_packet_unref(mResult.packet);
    }
}

bool FFAudioReader::readNextAudioFrame() {
    if (!mDecoder) return false;
    for (;;) {
        // A packet may hold more than one frame: hand out what the decoder
        // already holds before reading on.
        int ret = avcodec_receive_frame(mDecoder, mResult.frame);
        if (ret == AVERROR(EAGAIN)) {
            if (mDraining) return false;
            if (!readNextAudioPacket()) {
                // End of file: the frames the decoder still holds are part of
                // the track too.
                mDraining = true;
                if (avcodec_send_packet(mDecoder, nullptr) < 0) return false;
                continue;
            }
            ret = avcodec_send_packet(mDecoder, mResult.packet);
            av_packet_unref(mResult.packet);
            if (ret < 0) {
                fprintf(stderr, "Error sending a packet for decoding\n");
                return false;
            }
            continue;
        }
        if (ret == AVERROR_EOF) return false;
        if (ret < 0) {
            fprintf(stderr, "Error during decoding video\n");
            return false;
        }
        mResult.frame->pts = mResult.frame->best_effort_timestamp;
        mResult.frameTime = mResult.frame->pts == AV_NOPTS_VALUE
                                ? 0.0
                                : static_cast<double>(mResult.frame->pts) * av_q2d(mStream->time_base);
        mResult.gotFrame = true;
        return true;
    }
}

AudioSourceMetadata::AudioSourceMetadata(const char* path) {
    FFAudioReader reader(path);
    if (reader.hasAudio()) {
        mDuration = reader.getDurationMilliSeconds();
        mFilePath = reader.getFilePath();
        mBitRate = reader.getBitRate();
        mSampleRate = reader.getSampleRate();
        mSampleSize = reader.getSampleSize();
        mFrameSize = reader.getFrameSize();
        mChannels = reader.getChannelCount();
        mHasAudio = true;
    } else {
        QVPrint("invalid music file %s", path);
    }
}

}  // namespace Core
}  // namespace Quorvane
