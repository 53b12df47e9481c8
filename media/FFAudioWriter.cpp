#include "media/FFAudioWriter.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "core/Log.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
}

namespace Quorvane {
namespace Core {

namespace {

// What FFmpeg's own file output buffers.
constexpr int kOutputBufferBytes = 32768;

// The muxers write and seek through the file a FileWriter created, which
// never opens what stood at the name.
int writeOutput(void* opaque, uint8_t* data, int size) {
    auto* file = static_cast<FileWriter*>(opaque);
    return file->write(data, size > 0 ? static_cast<size_t>(size) : 0) ? size : AVERROR(EIO);
}

int64_t seekOutput(void* opaque, int64_t offset, int whence) {
    const int fd = static_cast<FileWriter*>(opaque)->fd();
    if (whence & AVSEEK_SIZE) {
        struct stat info;
        return fstat(fd, &info) == 0 ? static_cast<int64_t>(info.st_size) : AVERROR(errno);
    }
    const off_t at = lseek(fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : static_cast<int64_t>(at);
}

}  // namespace

FFAudioWriter::FFAudioWriter(const char* path) : mPath(path ? path : "") {
    QVPrint("FFAudioWriter(): %s", mPath.c_str());
    mOutput = allocOutput(mPath);
}

FFAudioWriter::~FFAudioWriter() {
    avcodec_free_context(&mAudioCodecContext);
    freeOutput(&mOutput);
    QVPrint("audio writer release finish");
}

AVFormatContext* FFAudioWriter::allocOutput(const std::string& path) {
    AVFormatContext* output = nullptr;
    int ret = avformat_alloc_output_context2(&output, nullptr, nullptr, path.c_str());
    if (ret < 0 || !output) {
        QVPrint("Could not create output context:%d", ret);
        return nullptr;
    }
    return output;
}

void FFAudioWriter::freeOutput(AVFormatContext** output) {
    AVFormatContext* out = *output;
    if (!out) return;
    if (out->pb) {
        // An output that was not committed goes with its writer.
        delete static_cast<FileWriter*>(out->pb->opaque);
        av_freep(&out->pb->buffer);
        avio_context_free(&out->pb);
    }
    avformat_free_context(out);
    *output = nullptr;
}

AVStream* FFAudioWriter::addCopyStream(AVFormatContext* output, AVCodecParameters* params) {
    AVStream* st = output ? avformat_new_stream(output, nullptr) : nullptr;
    if (!st) {
        QVPrint("Failed allocating output stream\n");
        return nullptr;
    }
    if (avcodec_parameters_copy(st->codecpar, params) < 0) {
        QVPrint("Failed to copy codec parameters\n");
        return nullptr;
    }
    st->codecpar->codec_tag = 0;
    return st;
}

bool FFAudioWriter::openOutputFile(AVFormatContext* output, const std::string& path, FileWriter::Mode mode) {
    std::string written = path;
    if (!(output->oformat->flags & AVFMT_NOFILE) && !output->pb) {
        auto file = std::make_unique<FileWriter>();
        auto* buffer = static_cast<unsigned char*>(av_malloc(kOutputBufferBytes));
        AVIOContext* io = buffer && file->open(path, mode)
                              ? avio_alloc_context(buffer, kOutputBufferBytes, 1, file.get(), nullptr,
                                                   writeOutput, seekOutput)
                              : nullptr;
        if (!io) {
            av_free(buffer);
            QVPrint("Could not open output file");
            return false;
        }
        written = file->writtenPath();
        file.release();
        output->pb = io;
        output->flags |= AVFMT_FLAG_CUSTOM_IO;
    }
    const AVOutputFormat* fmt = av_guess_format(nullptr, path.c_str(), nullptr);
    if (fmt) output->oformat = fmt;
    // A muxer that moves its index to the front reads the file back by this name.
    av_freep(&output->url);
    output->url = av_strndup(written.c_str(), 1023);
    return true;
}

bool FFAudioWriter::commitOutputFile(AVFormatContext* output) {
    if (!output->pb) return true;
    avio_flush(output->pb);
    const bool flushed = output->pb->error == 0;
    return static_cast<FileWriter*>(output->pb->opaque)->commit() && flushed;
}

int FFAudioWriter::writeCopiedPacket(AVFormatContext* output, AVStream* from, AVStream* to,
                                     AVPacket* packet) {
    rescalePacketTs(from, to, packet);
    packet->pos = -1;
    int ret = av_interleaved_write_frame(output, packet);
    if (ret < 0) QVPrint("av_interleaved_write_frame(): error");
    return ret;
}

AVCodecContext* FFAudioWriter::openAacStream(AVFormatContext* output, AVStream** stream, long bitRate,
                                             int sampleRate, int channels, AVRational timeBase,
                                             AVSampleFormat format) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec) {
        QVPrint("Could not find encoder: AAC");
        return nullptr;
    }
    AVStream* st = output ? avformat_new_stream(output, nullptr) : nullptr;
    if (!st) {
        QVPrint("Fail to allocating output audio stream");
        return nullptr;
    }
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    if (!ctx) {
        QVPrint("Fail to avcodec_open2 audio_codec");
        return nullptr;
    }
    ctx->sample_fmt = format;
    ctx->bit_rate = bitRate;
    ctx->sample_rate = sampleRate;
    av_channel_layout_default(&ctx->ch_layout, channels);
    ctx->time_base = timeBase;
    st->time_base = timeBase;
    if (output->oformat->flags & AVFMT_GLOBALHEADER) ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(ctx, codec, nullptr) < 0) {
        QVPrint("Fail to avcodec_open2 audio_codec");
        avcodec_free_context(&ctx);
        return nullptr;
    }
    if (avcodec_parameters_from_context(st->codecpar, ctx) < 0) {
        QVPrint("Could not initialize stream parameters");
        avcodec_free_context(&ctx);
        return nullptr;
    }
    *stream = st;
    return ctx;
}

int FFAudioWriter::encodeAndWrite(AVCodecContext* encoder, AVStream* stream, AVFormatContext* output,
                                  AVFrame* frame, int* gotPacket, bool* drained, int* packetCount,
                                  const char* encodeError, const char* writeError) {
    int got = 0;
    int result = 0;
    if (frame == nullptr && *drained) {
        // The mixer's final call already drained the encoder; draining again at
        // close is nothing to report.
        if (gotPacket) *gotPacket = 0;
        return 0;
    }
    int ret = avcodec_send_frame(encoder, frame);
    if (ret == AVERROR_EOF && frame == nullptr) ret = 0;
    if (ret < 0) {
        QVPrint("%s", encodeError);
        return ret;
    }
    if (frame == nullptr) *drained = true;
    AVPacket* packet = av_packet_alloc();
    for (;;) {
        ret = avcodec_receive_packet(encoder, packet);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) break;
        if (ret < 0) {
            QVPrint("%s", encodeError);
            av_packet_free(&packet);
            return ret;
        }
        got = 1;
        if (packetCount) ++*packetCount;
        rescalePacketTs(encoder, stream, packet);
        result = av_interleaved_write_frame(output, packet);
        if (result < 0) QVPrint("%s", writeError);
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    if (gotPacket) *gotPacket = got;
    return got ? result : got;
}

bool FFAudioWriter::addAudioInput(long bitRate, int sampleRate, int channels, AVRational timeBase,
                                  AVSampleFormat format) {
    mHasAudio = true;
    mAudioCodecContext =
        openAacStream(mOutput, &mAudioStream, bitRate, sampleRate, channels, timeBase, format);
    return mAudioCodecContext != nullptr;
}

bool FFAudioWriter::addAudioInput(AVCodecParameters* params) {
    AVStream* st = addCopyStream(mOutput, params);
    if (!st) return false;
    mAudioStream = st;
    return true;
}

bool FFAudioWriter::start() {
    // The mixed audio of a render, in its own fresh work folder.
    if (!mOutput || !openOutputFile(mOutput, mPath, FileWriter::Mode::New)) return false;
    if (avformat_write_header(mOutput, nullptr) < 0) {
        QVPrint("Error occurred when write media header to output file");
        return false;
    }
    mHeaderWritten = true;
    return true;
}

int FFAudioWriter::writeAudioFrame(AVFrame* frame, long /*pts*/, int* gotPacket) {
    if (!mHasAudio || !mAudioCodecContext) return -1;
    // Packets cannot go to a file whose header was never written.
    if (!mHeaderWritten) return -1;
    return encodeAndWrite(mAudioCodecContext, mAudioStream, mOutput, frame, gotPacket, &mDrained, &mNumPacket,
                          "avcodec_encode_audio2() error", "av_interleaved_write_frame() error");
}

int FFAudioWriter::writeAudioPacket(AVPacket* packet, AVStream* from) {
    if (mHasAudio || !mAudioStream || !mHeaderWritten) return -1;
    return writeCopiedPacket(mOutput, from, mAudioStream, packet);
}

int FFAudioWriter::flush() {
    int ret = 0;
    while (mAudioCodecContext && mHeaderWritten) {
        int got = 0;
        ret = writeAudioFrame(nullptr, 1, &got);
        if (ret < 0 || !got) break;
    }
    return ret;
}

int FFAudioWriter::close() {
    QVPrint("FFAudioWriter close()");
    return finishOutput(mOutput, &mHeaderWritten, flush(), "FFAudioWriter", mNumPacket);
}

int FFAudioWriter::finishOutput(AVFormatContext* output, bool* headerWritten, int flushResult,
                                const char* who, int packetCount) {
    if (flushResult < 0) QVPrint("%s Flushing encoder failed", who);
    int ret = *headerWritten ? av_write_trailer(output) : AVERROR(EINVAL);
    *headerWritten = false;
    if (ret >= 0 && !commitOutputFile(output)) ret = AVERROR(EIO);
    if (ret < 0) QVPrint("%s Error occurred", who);
    QVPrint("%s finish to close and video mNumPacket: %d", who, packetCount);
    return ret < 0 ? 1 : 0;
}

void FFAudioWriter::rescalePacketTs(AVRational from, AVStream* to, AVPacket* packet) {
    packet->stream_index = to->index;
    AVRounding rnd = static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX);
    packet->pts = av_rescale_q_rnd(packet->pts, from, to->time_base, rnd);
    packet->dts = av_rescale_q_rnd(packet->dts, from, to->time_base, rnd);
    packet->duration = av_rescale_q(packet->duration, from, to->time_base);
}

void FFAudioWriter::rescalePacketTs(AVStream* from, AVStream* to, AVPacket* packet) {
    rescalePacketTs(from->time_base, to, packet);
}

void FFAudioWriter::rescalePacketTs(AVCodecContext* from, AVStream* to, AVPacket* packet) {
    rescalePacketTs(from->time_base, to, packet);
}

}  // namespace Core
}  // namespace Quorvane
