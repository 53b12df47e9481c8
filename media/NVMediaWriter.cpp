#include "media/NVMediaWriter.h"

#include <unistd.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/FileManager.h"
#include "core/Log.h"
#include "core/RenderThread.h"
#include "core/Subprocess.h"
#include "media/FFAudioWriter.h"
#include "media/FFVideoReader.h"
#include "render/Config.h"

extern "C" {
#include <libavutil/mathematics.h>
#include <libavutil/time.h>
}

namespace Quorvane {
namespace Core {

namespace {

constexpr uint32_t kTexture2D = 0x0DE1;  // GL_TEXTURE_2D

// ffmpeg reads an argument that starts with "-" as an option and one with a
// ":" as a protocol; the file protocol prefix makes either a plain file name.
std::string ffmpegPath(const std::string& path) {
    if (!path.empty() && (path[0] == '-' || path.find(':') != std::string::npos)) return "file:" + path;
    return path;
}

// Length of the audio file in whole seconds, or a negative value when the file
// cannot be opened or read.
float probeMusicSeconds(const std::string& path) {
    const InputFileStatus status = FileManager::checkInput(path, kMaxMediaFileBytes);
    if (status != InputFileStatus::Ok) {
        QVPrint("music probe failed: %s: %s", path.c_str(), FileManager::describe(status));
        return -1.0f;
    }
    AVFormatContext* ctx = nullptr;
    int ret = FFVideoReader::openInput(&ctx, path);
    if (ret < 0) {
        // avformat_open_input frees the context on failure.
        char text[AV_ERROR_MAX_STRING_SIZE] = {0};
        av_strerror(ret, text, sizeof text);
        QVPrint("music probe failed: %s: %s", path.c_str(), text);
        return -1.0f;
    }
    float seconds = -1.0f;
    if (avformat_find_stream_info(ctx, nullptr) >= 0 && ctx->duration != AV_NOPTS_VALUE) {
        seconds = static_cast<float>(ctx->duration / 1000000);
    } else {
        QVPrint("music probe failed: %s", path.c_str());
    }
    const AVInputFormat* format = ctx->iformat;
    QVPrint("audio type : %s", format && format->extensions ? format->extensions : "");
    QVPrint("audio name : %s : %s ", format && format->name ? format->name : "",
            format && format->long_name ? format->long_name : "");
    avformat_close_input(&ctx);
    return seconds;
}

}  // namespace

NVMediaWriter::NVMediaWriter(const char* path) : mPath(path ? path : "") {
    QVPrint("NVMediaWriter(): %s", mPath.c_str());
    mOutput = FFAudioWriter::allocOutput(mPath);
}

NVMediaWriter::~NVMediaWriter() {
    // The worker uses the encoder: let it finish first.
    drain();
    mConvertThread.reset();
    mEncodeThread.reset();
    NvPipe_Destroy(mEncoder);
    mEncoder = nullptr;
    avcodec_free_context(&mVideoCodecContext);
    avcodec_free_context(&mAudioCodecContext);
    FFAudioWriter::freeOutput(&mOutput);
    QVPrint("nv media writer release finish");
}

namespace {

// Far above any real stream, and within what the encoder takes (kbit/s in an int).
constexpr double kMaxBitrate = 2147483647.0;
// The encoder counts its rate in whole kbit/s and reads anything below one as
// none given, which it refuses; tiny frames, 1 fps and small factors land there.
constexpr double kMinBitrate = 1000.0;

uint64_t bitsPerSecond(double bits) {
    // Not finite or not positive (a factor no setter let through): the encoder's own default.
    if (!(bits > 0.0)) return 0;
    return static_cast<uint64_t>(std::min(std::max(bits, kMinBitrate), kMaxBitrate));
}

}  // namespace

uint64_t NVMediaWriter::bitrateFor(int width, int height, int fps) const {
    // Product then float, as the stored templates' bitrates were made; taken
    // in 64 bits, where 32 would wrap for the largest frames.
    const int64_t pixels = static_cast<int64_t>(width) * height * fps;
    return bitsPerSecond(static_cast<double>(static_cast<float>(pixels) * mBitrateFactor));
}

uint64_t NVMediaWriter::bitrateFor(int width, int height, AVRational rate) const {
    if (rate.den == 1) return bitrateFor(width, height, rate.num);
    const double pixels = static_cast<double>(width) * height * rate.num / rate.den;
    return bitsPerSecond(pixels * mBitrateFactor);
}

AVRational NVMediaWriter::frameRateRational(float fps) {
    if (!std::isfinite(fps) || fps <= 0.0f) return AVRational{0, 1};
    const double rate = fps;
    // Within float precision of a whole number, or of one of the NTSC rates
    // (a whole number times 1000/1001).
    const double whole = std::round(rate);
    if (std::fabs(rate - whole) < 1e-4 * rate && whole <= INT32_MAX) {
        return AVRational{static_cast<int>(whole), 1};
    }
    const double ntsc = std::round(rate * 1.001);
    if (std::fabs(rate - ntsc * 1000.0 / 1001.0) < 1e-4 * rate && ntsc * 1000.0 <= INT32_MAX) {
        return AVRational{static_cast<int>(ntsc) * 1000, 1001};
    }
    return av_d2q(rate, 100000);
}

bool NVMediaWriter::addVideoInput(int width, int height, int fps) {
    return addVideoInput(width, height, AVRational{fps, 1});
}

bool NVMediaWriter::addVideoInput(int width, int height, AVRational rate) {
    mWidth = width;
    mHeight = height;
    mRate = rate;
    mHasVideo = true;
    if (mEncoder) return true;
    if (width <= 0 || height <= 0 || rate.num <= 0 || rate.den <= 0) {
        QVPrint("Failed to create nv encoder: %s", "invalid size or frame rate");
        return false;
    }

    uint64_t bitrate = bitrateFor(width, height, rate);
    mEncoder = NvPipe_CreateEncoder(NVPIPE_FORMAT_RGBA32, NVPIPE_CODEC_H264, NVPIPE_COMPRESSION_LOSSY,
                                    bitrate, static_cast<uint32_t>(rate.num), static_cast<uint32_t>(rate.den),
                                    static_cast<uint32_t>(width), static_cast<uint32_t>(height));
    if (!mEncoder) {
        QVPrint("Failed to create nv encoder: %s", NvPipe_GetError(nullptr));
        return false;
    }
    const int codedWidth = static_cast<int>(NvPipe_CodedSide(static_cast<uint32_t>(width)));
    const int codedHeight = static_cast<int>(NvPipe_CodedSide(static_cast<uint32_t>(height)));
    // The first frame of a tiny picture carries parameter sets and headers
    // many times its pixel bytes.
    constexpr size_t kMinEncodeBuffer = 64 * 1024;
    mEncodeBuffer.assign(std::max(static_cast<size_t>(codedWidth) * codedHeight * 4, kMinEncodeBuffer), 0);

    mVideoStream = mOutput ? avformat_new_stream(mOutput, nullptr) : nullptr;
    if (!mVideoStream) {
        mVideoCodecContext = nullptr;
        QVPrint("Fail to allocating output video stream");
        return false;
    }
    mVideoCodecContext = avcodec_alloc_context3(nullptr);
    mVideoCodecContext->codec_type = AVMEDIA_TYPE_VIDEO;
    mVideoCodecContext->codec_id = AV_CODEC_ID_H264;
    mVideoCodecContext->width = codedWidth;
    mVideoCodecContext->height = codedHeight;
    mVideoCodecContext->sample_aspect_ratio = AVRational{1, 1};
    mVideoCodecContext->time_base = AVRational{rate.den, rate.num};
    mVideoCodecContext->bit_rate = static_cast<int64_t>(bitrate);
    mVideoCodecContext->profile = FF_PROFILE_H264_BASELINE;
    mVideoCodecContext->gop_size = std::max(1, (rate.num + rate.den / 2) / rate.den);
    mVideoCodecContext->pix_fmt = AV_PIX_FMT_YUV420P;

    // The raw stream carries its parameter sets in band; its description
    // takes them from the first frame (at close), which spares a second
    // encoder. The container of packet mode needs them before that frame.
    if (!mMux) describeParameterSets();
    if (mMux) {
        // A file of the render's own fresh work folder: nothing may stand there.
        mRawStream.open(mPath + ".h264", FileWriter::Mode::New);
    }
    if (mOutput->oformat->flags & AVFMT_GLOBALHEADER)
        mVideoCodecContext->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    mVideoStream->time_base = mVideoCodecContext->time_base;
    mVideoStream->avg_frame_rate = rate;
    avcodec_parameters_from_context(mVideoStream->codecpar, mVideoCodecContext);
    return true;
}

void NVMediaWriter::describeParameterSets() {
    if (!mEncoder || !mVideoCodecContext) return;
    std::vector<uint8_t> params;
    NvPipe_GetSequenceParams(mEncoder, params);
    av_freep(&mVideoCodecContext->extradata);
    mVideoCodecContext->extradata_size = static_cast<int>(params.size());
    mVideoCodecContext->extradata =
        static_cast<uint8_t*>(av_mallocz(params.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!params.empty()) memcpy(mVideoCodecContext->extradata, params.data(), params.size());
    if (mVideoStream) avcodec_parameters_from_context(mVideoStream->codecpar, mVideoCodecContext);
}

bool NVMediaWriter::openPacketOutput() {
    if (mHeaderWritten) return true;
    if (!mOutput) return false;
    if (!FFAudioWriter::openOutputFile(mOutput, mPath, FileWriter::Mode::Replace)) return false;
    if (avformat_write_header(mOutput, nullptr) < 0) {
        QVPrint("Error occurred when write media header to output file");
        return false;
    }
    mHeaderWritten = true;
    return true;
}

int NVMediaWriter::start() {
    if (!mVideoStream) return 1;
    mVideoStream->start_time = av_gettime();
    mVideoStream->duration = av_gettime();
    // Packet mode writes into the container itself, which needs its header
    // before the first packet.
    if (!mMux) openPacketOutput();
    return 1;
}

int NVMediaWriter::writeVideoFrameData(unsigned int texture, int, int) {
    if (mEncodeOnWorker && mEncoder) return handOver(texture);
    uint64_t size = 0;
    if (mEncoder) {
        size = NvPipe_EncodeTexture(mEncoder, texture, kTexture2D, mEncodeBuffer.data(), mEncodeBuffer.size(),
                                    static_cast<uint32_t>(mWidth), static_cast<uint32_t>(mHeight), false);
    }
    if (size == 0) {
        QVPrint("NVEncoder encode error: %s", NvPipe_GetError(mEncoder));
        return 0;
    }
    return writeEncoded(size);
}

int NVMediaWriter::handOver(unsigned int texture) {
    std::vector<uint8_t>& picture = mPictures[mNextPicture];
    picture.resize(NvPipe_FrameBytes(mEncoder));
    std::string error;
    if (!NvPipe_ReadTexture(mEncoder, texture, kTexture2D, picture.data(), &error)) {
        QVPrint("NVEncoder encode error: %s", error.c_str());
        return 0;
    }
    mConvertSlot.wait();
    if (mEncodeFailed) {
        mConvertSlot.signal();
        return 0;
    }
    if (!mConvertThread) mConvertThread = std::make_unique<RenderThread>();
    if (!mEncodeThread) mEncodeThread = std::make_unique<RenderThread>();
    const uint8_t* pixels = picture.data();
    const int slot = mNextSlot;
    mConvertThread->async(
        [this, pixels, slot] {
            std::string error;
            // The slot is free: its last picture was encoded before the
            // encode of the frame before this one was queued.
            if (!NvPipe_ConvertFrame(mEncoder, pixels, slot, &error)) {
                QVPrint("NVEncoder encode error: %s", error.c_str());
                mEncodeFailed = true;
                mConvertSlot.signal();
                return;
            }
            mEncodeSlot.wait();
            mEncodeThread->async(
                [this, slot] {
                    const uint64_t size = NvPipe_EncodeConverted(mEncoder, slot, mEncodeBuffer.data(),
                                                                 mEncodeBuffer.size(), false);
                    if (size == 0) {
                        QVPrint("NVEncoder encode error: %s", NvPipe_GetError(mEncoder));
                        mEncodeFailed = true;
                    } else if (writeEncoded(size) == 0) {
                        mEncodeFailed = true;
                    }
                    mEncodeSlot.signal();
                },
                false);
            mConvertSlot.signal();
        },
        false);
    mNextPicture = 1 - mNextPicture;
    mNextSlot = (mNextSlot + 1) % kNvPipePictureSlots;
    return static_cast<int>(picture.size());
}

namespace {

clock_t threadTicks(const std::unique_ptr<RenderThread>& thread) {
    clockid_t clock = 0;
    struct timespec used = {0, 0};
    if (!thread || pthread_getcpuclockid(thread->getThreadID(), &clock) != 0 ||
        clock_gettime(clock, &used) != 0)
        return 0;
    return static_cast<clock_t>(used.tv_sec * CLOCKS_PER_SEC + used.tv_nsec / (1000000000 / CLOCKS_PER_SEC));
}

}  // namespace

clock_t NVMediaWriter::workerTicks() const {
    if (!mEncodeThread) return 0;
    return threadTicks(mConvertThread) + threadTicks(mEncodeThread) + NvPipe_ThreadTicks(mEncoder);
}

bool NVMediaWriter::drain() {
    // The converter queues a frame's encode before it lets the next picture
    // in, so once it has let the last one in, every encode is queued.
    if (mConvertThread) {
        mConvertSlot.wait();
        mConvertSlot.signal();
    }
    if (mEncodeThread) {
        mEncodeSlot.wait();
        mEncodeSlot.signal();
    }
    return !mEncodeFailed;
}

int NVMediaWriter::writeEncoded(uint64_t size) {
    if (mMux) {
        mRawStream.write(mEncodeBuffer.data(), static_cast<size_t>(size));
        return static_cast<int>(size);
    }

    if (!mHeaderWritten) return static_cast<int>(size);
    AVPacket* packet = av_packet_alloc();
    if (av_new_packet(packet, static_cast<int>(size)) < 0) {
        av_packet_free(&packet);
        return 0;
    }
    memcpy(packet->data, mEncodeBuffer.data(), size);
    if (getVopType(packet->data, packet->size) < 1) {
        packet->flags |= AV_PKT_FLAG_KEY;
        QVPrint("key frames %d", mPacketCount);
    }
    packet->pts = packet->dts = mPacketCount++;
    packet->duration = 1;
    rescalePacketTs(mVideoCodecContext, mVideoStream, packet);
    if (av_interleaved_write_frame(mOutput, packet) < 0) QVPrint("av_interleaved_write_frame(): error");
    av_packet_free(&packet);
    return static_cast<int>(size);
}

int NVMediaWriter::close() {
    QVPrint("NVMediaWriter close()");
    const bool encoded = drain();
    if (!encoded) QVPrint("NVMediaWriter: a frame failed to encode");
    if (mMux) {
        describeParameterSets();
        // The stream keeps its failure from the open on: a raw stream that could
        // not be created or written in full is a lost video, not a success.
        if (!mRawStream.commit()) {
            QVPrint("NVMediaWriter could not write %s.h264", mPath.c_str());
            return 1;
        }
        return encoded ? 0 : 1;
    }
    if (mHasAudio && mAudioCodecContext && mHeaderWritten) {
        int got = 0;
        writeAudioFrame(nullptr, 0, &got);
    }
    int ret = mHeaderWritten ? av_write_trailer(mOutput) : AVERROR(EINVAL);
    mHeaderWritten = false;
    if (ret >= 0 && !FFAudioWriter::commitOutputFile(mOutput)) ret = AVERROR(EIO);
    if (ret < 0) {
        QVPrint("NVMediaWriter Flushing encoder failed");
        QVPrint("NVMediaWriter Error occurred");
        return 1;
    }
    return encoded ? 0 : 1;
}

NVMediaWriter::MuxCommand NVMediaWriter::buildMuxCommand(Config* config) const {
    MuxCommand cmd;
    std::string& text = cmd.text;
    std::vector<std::string>& argv = cmd.argv;
    const std::string music = config ? config->musicFile() : std::string();
    bool shortest = false;

    text = "ffmpeg -y ";
    argv = {"ffmpeg", "-y"};
    if (config && config->musicLoop()) {
        shortest = true;
        if (!music.empty()) {
            text += " -stream_loop -1 ";
            argv.insert(argv.end(), {"-stream_loop", "-1"});
        }
    }
    QVPrint("music %s", music.c_str());
    if (!music.empty()) {
        float audioSeconds = probeMusicSeconds(music);
        float videoSeconds = static_cast<float>(config->finalDuration()) / config->frameRate();
        QVPrint("audio duration : %f", static_cast<double>(audioSeconds));
        QVPrint("video duration : %f", static_cast<double>(videoSeconds));
        // A music file that cannot be probed counts as shorter than the video;
        // ffmpeg then reports what is wrong with it.
        if (audioSeconds > videoSeconds) shortest = true;
        text += " -i " + music;
        argv.insert(argv.end(), {"-i", ffmpegPath(music)});

        int fadeout = config->musicFadeoutDuration();
        // A fade longer than the video would start before the music does, which
        // ffmpeg refuses; a configuration without a frame rate gives no start.
        double fadeFrom = static_cast<double>(videoSeconds - static_cast<float>(fadeout));
        if (!std::isfinite(fadeFrom)) fadeFrom = 0.0;
        fadeFrom = std::min(1e9, std::max(-1e9, fadeFrom));
        int fadeStart = std::max(0, static_cast<int>(fadeFrom) + 1);
        char volume[64];
        snprintf(volume, sizeof volume, "%f", static_cast<double>(config->musicVolume()));
        std::string filter = std::string("[0:a]volume=") + volume +
                             "[a1];[a1]afade=t=out:st=" + std::to_string(fadeStart) +
                             ":d=" + std::to_string(fadeout);
        text += " -filter_complex \"" + filter + "\"";
        argv.insert(argv.end(), {"-filter_complex", filter});
    }
    // A raw stream's own timing is read back wrongly at some rates (1000 fps
    // comes back as 1,200,000): the encoder's rate is given to the mux.
    if (mRate.num > 0 && mRate.den > 0) {
        const std::string rate = std::to_string(mRate.num) + "/" + std::to_string(mRate.den);
        text += " -r " + rate;
        argv.insert(argv.end(), {"-r", rate});
    }
    text += " -i " + mPath + ".h264";
    argv.insert(argv.end(), {"-i", ffmpegPath(mPath + ".h264")});
    text += " -vcodec copy ";
    argv.insert(argv.end(), {"-vcodec", "copy"});
    if (muxSetsFrameDurations(mRate)) {
        // Without a duration the container drops the last frame. Every packet
        // after the first lasts up to the one before's timestamp (in whatever
        // units the container chose), which is one frame here. A first packet
        // left without one gets the container's smallest tick, so that a video
        // of one frame keeps it. Below 1000 fps the filter is left out: it
        // would move where -shortest cuts the music.
        const std::string durations = "setts=duration=if(N\\,DTS-PREV_OUTDTS\\,if(DURATION\\,DURATION\\,1))";
        text += " -bsf:v " + durations;
        argv.insert(argv.end(), {"-bsf:v", durations});
    }
    if (!music.empty()) {
        text += std::string(" -acodec ") + "aac";
        argv.insert(argv.end(), {"-acodec", "aac"});
    }
    if (shortest) {
        text += " -shortest ";
        argv.push_back("-shortest");
    }
    text += " -map_metadata -1 -metadata artist=\"RU davode\" " + mPath;
    argv.insert(argv.end(), {"-map_metadata", "-1", "-metadata", "artist=RU davode", ffmpegPath(mPath)});
    return cmd;
}

int NVMediaWriter::muxFile(Config* config) {
    MuxCommand cmd = buildMuxCommand(config);
    QVPrint("ffmpeg command : %s", cmd.text.c_str());
    // Run with an argument vector: paths reach ffmpeg verbatim and nothing in
    // them is ever read by a shell.
    bool timedOut = false;
    int status = Subprocess::run(cmd.argv, mMuxTimeLimit, &timedOut, mMuxHeartbeat);
    if (timedOut) {
        QVPrint("ffmpeg command ran past its time limit of %lld ms and was killed",
                static_cast<long long>(mMuxTimeLimit.count()));
    }
    QVPrint("ffmpeg command exit ret : %d", status);
    remove((mPath + ".h264").c_str());
    remove((mPath + ".aac").c_str());
    return status;
}

bool NVMediaWriter::addAudioInput(long bitRate, int sampleRate, int channels, AVRational timeBase,
                                  AVSampleFormat format) {
    mHasAudio = true;
    mAudioCodecContext =
        FFAudioWriter::openAacStream(mOutput, &mAudioStream, bitRate, sampleRate, channels, timeBase, format);
    return mAudioCodecContext != nullptr;
}

int NVMediaWriter::writeAudioFrame(AVFrame* frame, long, int* gotPacket) {
    if (!mHasAudio) return -1;
    // Packets can only go to a container whose header is written (packet mode).
    if (!mAudioCodecContext || !mHeaderWritten) return -1;
    return FFAudioWriter::encodeAndWrite(mAudioCodecContext, mAudioStream, mOutput, frame, gotPacket,
                                         &mAudioDrained, nullptr, "avcodec_encode_audio2() error",
                                         "av_interleaved_write_frame() error");
}

void NVMediaWriter::rescalePacketTs(AVStream* from, AVStream* to, AVPacket* packet) {
    FFAudioWriter::rescalePacketTs(from, to, packet);
}

void NVMediaWriter::rescalePacketTs(AVRational* from, AVStream* to, AVPacket* packet) {
    FFAudioWriter::rescalePacketTs(*from, to, packet);
}

void NVMediaWriter::rescalePacketTs(AVCodecContext* from, AVStream* to, AVPacket* packet) {
    FFAudioWriter::rescalePacketTs(from, to, packet);
}

namespace {

// Length of the start code at data (3 or 4), 0 when there is none.
int startCodeLength(const uint8_t* p, int size) {
    if (size >= 3 && p[0] == 0 && p[1] == 0 && p[2] == 1) return 3;
    if (size >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 1) return 4;
    return 0;
}

}  // namespace

int NVMediaWriter::getVopType(const void* data, int size) {
    if (!data || size < 7) return -1;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    int sc = startCodeLength(p, size);
    if (sc == 0) return -1;
    switch (p[sc]) {
        case 0xB6:
            return (p[sc + 1] >> 6) & 3;
        case 0x65:
            return 0;
        case 0x61:
            return 1;
        case 0x01:
            return 2;
        default:
            return -1;
    }
}

int get_nal_type(void* data, int size) {
    if (!data || size < 6) return -1;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    int sc = startCodeLength(p, size);
    if (sc == 0) return -1;
    return p[sc] & 0x1F;
}

void close_file(int fd) {
    ::close(fd);
}

}  // namespace Core
}  // namespace Quorvane
