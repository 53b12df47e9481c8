#include "media/SoftwareH264Encoder.h"

#include <dirent.h>
#include <sys/types.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace Quorvane {
namespace Core {

struct NvPipe {
    uint32_t width = 0;  // the picture's
    uint32_t height = 0;
    uint32_t codedWidth = 0;  // the stream's, even
    uint32_t codedHeight = 0;
    uint32_t fpsNum = 0;
    uint32_t fpsDen = 1;
    uint64_t bitrate = 0;
    AVCodecContext* codec = nullptr;
    SwsContext* scaler = nullptr;
    // Converted pictures: one may be filled while the encoder takes the other.
    AVFrame* frames[kNvPipePictureSlots] = {nullptr, nullptr};
    AVPacket* packet = nullptr;
    std::vector<uint8_t> rgba;
    std::vector<uint8_t> sequenceParams;
    int64_t nextPts = 0;
    bool keyFrameDue = false;  // a frame was dropped: the next one must not refer to it
    std::string error;
    std::vector<pid_t> threads;  // the encoding library's own
};

namespace {

// The creation error, for NvPipe_GetError(nullptr). Per thread, as each render
// thread creates its own encoder.
thread_local std::string gCreateError;

// Settings that make libx264 give out each frame's access unit at once: no
// lookahead, no B-frames (zerolatency), so the writer never has to flush. The
// veryfast preset keeps the encoder's pace close to that of a hardware encoder.
const char* kPreset = "veryfast";
const char* kTune = "zerolatency";

std::string errorText(const char* what, int code) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(code, buf, sizeof buf);
    return std::string(what) + ": " + buf;
}

AVCodecContext* openCodec(const NvPipe& p, bool globalHeader, std::string* error) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) {
        *error = "libx264 encoder not available";
        return nullptr;
    }
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    if (!ctx) {
        *error = "out of memory";
        return nullptr;
    }
    ctx->width = static_cast<int>(p.codedWidth);
    ctx->height = static_cast<int>(p.codedHeight);
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    // The raw stream carries the frame rate in its timing information.
    const int num = static_cast<int>(p.fpsNum);
    const int den = static_cast<int>(p.fpsDen);
    ctx->time_base = AVRational{den, num};
    ctx->framerate = AVRational{num, den};
    ctx->bit_rate = static_cast<int64_t>(p.bitrate);
    ctx->gop_size = std::max(1, (num + den / 2) / den);
    ctx->max_b_frames = 0;
    ctx->thread_count = 0;  // as many as the machine has
    ctx->sample_aspect_ratio = AVRational{1, 1};
    // swscale converts with the BT.601 matrix into limited range; say so in the
    // stream so that players convert back the same way.
    ctx->colorspace = AVCOL_SPC_SMPTE170M;
    ctx->color_range = AVCOL_RANGE_MPEG;
    if (globalHeader) ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "preset", kPreset, 0);
    av_dict_set(&options, "tune", kTune, 0);
    int ret = avcodec_open2(ctx, codec, &options);
    av_dict_free(&options);
    if (ret < 0) {
        *error = errorText("cannot open libx264", ret);
        avcodec_free_context(&ctx);
        return nullptr;
    }
    return ctx;
}

// Restores the GL state that the read-back changes, whatever path it leaves by.
class ReadBackState {
public:
    ReadBackState() {
        glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &mReadFramebuffer);
        glGetIntegerv(GL_PACK_ALIGNMENT, &mPackAlignment);
        glGetIntegerv(GL_PIXEL_PACK_BUFFER_BINDING, &mPackBuffer);
        glGetIntegerv(GL_PACK_ROW_LENGTH, &mPackRowLength);
    }
    ~ReadBackState() {
        glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(mReadFramebuffer));
        glPixelStorei(GL_PACK_ALIGNMENT, mPackAlignment);
        glPixelStorei(GL_PACK_ROW_LENGTH, mPackRowLength);
        glBindBuffer(GL_PIXEL_PACK_BUFFER, static_cast<GLuint>(mPackBuffer));
    }

private:
    GLint mReadFramebuffer = 0;
    GLint mPackAlignment = 4;
    GLint mPackBuffer = 0;
    GLint mPackRowLength = 0;
};

// Fills the extra column and row of an odd picture with copies of its last ones.
void repeatEdges(const NvPipe* p, uint8_t* rows) {
    const size_t stride = static_cast<size_t>(p->codedWidth) * 4;
    if (p->codedWidth > p->width) {
        for (uint32_t y = 0; y < p->height; ++y) {
            uint8_t* last = rows + y * stride + (p->width - 1) * 4;
            memcpy(last + 4, last, 4);
        }
    }
    if (p->codedHeight > p->height)
        memcpy(rows + p->height * stride, rows + (p->height - 1) * stride, stride);
}

// Reads the picture into rgba (coded size), its odd edges repeated.
bool readTexture(const NvPipe* p, uint32_t texture, uint32_t target, uint8_t* rgba, std::string* error) {
    while (glGetError() != GL_NO_ERROR) {
    }
    ReadBackState state;
    GLuint fbo = 0;
    glGenFramebuffers(1, &fbo);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, fbo);
    glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, target, texture, 0);
    bool ok = glCheckFramebufferStatus(GL_READ_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (ok) {
        glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glPixelStorei(GL_PACK_ROW_LENGTH, static_cast<GLint>(p->codedWidth));
        glReadBuffer(GL_COLOR_ATTACHMENT0);
        glReadPixels(0, 0, static_cast<GLsizei>(p->width), static_cast<GLsizei>(p->height), GL_RGBA,
                     GL_UNSIGNED_BYTE, rgba);
        ok = glGetError() == GL_NO_ERROR;
        *error = ok ? "" : "cannot read the texture back";
    } else {
        *error = "texture cannot be attached to a framebuffer";
    }
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &fbo);
    if (ok) repeatEdges(p, rgba);
    return ok;
}

// Keeps the sequence and picture parameter sets (NAL types 7 and 8) of an
// Annex B access unit, each with a four-byte start code.
void keepParameterSets(NvPipe* p, const uint8_t* data, size_t size) {
    std::vector<uint8_t> sets;
    size_t i = 0;
    auto startCodeAt = [&](size_t at) {
        return at + 3 <= size && data[at] == 0 && data[at + 1] == 0 && data[at + 2] == 1;
    };
    while (i < size && !startCodeAt(i)) ++i;
    while (i < size) {
        const size_t begin = i + 3;
        size_t end = begin;
        while (end < size && !startCodeAt(end)) ++end;
        size_t last = end;
        // The zero before a four-byte start code belongs to the next unit.
        if (end < size && last > begin && data[last - 1] == 0) --last;
        if (begin < last) {
            const int type = data[begin] & 0x1F;
            if (type == 7 || type == 8) {
                sets.insert(sets.end(), {0, 0, 0, 1});
                sets.insert(sets.end(), data + begin, data + last);
            }
        }
        i = end;
    }
    if (!sets.empty()) p->sequenceParams = std::move(sets);
}

// Ids of the threads of this process.
std::vector<pid_t> processThreads() {
    std::vector<pid_t> ids;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') ids.push_back(static_cast<pid_t>(atoi(entry->d_name)));
        }
        closedir(dir);
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

// Processor time a thread of this process has used, in clock() ticks; 0 for
// a thread that is gone. The clock id is the kernel's per-thread CPU clock,
// made from the thread id as pthread_getcpuclockid makes it.
clock_t threadTicks(pid_t thread) {
    const clockid_t clock = static_cast<clockid_t>((~static_cast<unsigned>(thread) << 3) | 6u);
    struct timespec used = {0, 0};
    if (clock_gettime(clock, &used) != 0) return 0;
    return static_cast<clock_t>(used.tv_sec * CLOCKS_PER_SEC + used.tv_nsec / (1000000000 / CLOCKS_PER_SEC));
}

}  // namespace

NvPipe* NvPipe_CreateEncoder(NvPipe_Format format, NvPipe_Codec codec, NvPipe_Compression compression,
                             uint64_t bitrate, uint32_t targetFps, uint32_t width, uint32_t height) {
    return NvPipe_CreateEncoder(format, codec, compression, bitrate, targetFps, 1, width, height);
}

NvPipe* NvPipe_CreateEncoder(NvPipe_Format format, NvPipe_Codec codec, NvPipe_Compression compression,
                             uint64_t bitrate, uint32_t fpsNum, uint32_t fpsDen, uint32_t width,
                             uint32_t height) {
    if (format != NVPIPE_FORMAT_RGBA32 || codec != NVPIPE_CODEC_H264 ||
        compression != NVPIPE_COMPRESSION_LOSSY) {
        gCreateError = "unsupported format, codec or compression";
        return nullptr;
    }
    if (width == 0 || height == 0 || width > 16384 || height > 16384) {
        gCreateError = "width and height must be between 1 and 16384";
        return nullptr;
    }
    // The frame rate is the time base.
    if (fpsNum == 0 || fpsDen == 0 || fpsNum > 1000ull * fpsDen || fpsNum < fpsDen || fpsNum > INT32_MAX ||
        fpsDen > INT32_MAX) {
        gCreateError = "frame rate must be between 1 and 1000";
        return nullptr;
    }
    NvPipe* p = new NvPipe;
    p->width = width;
    p->height = height;
    p->codedWidth = NvPipe_CodedSide(width);
    p->codedHeight = NvPipe_CodedSide(height);
    p->fpsNum = fpsNum;
    p->fpsDen = fpsDen;
    p->bitrate = bitrate;
    // The threads that appear while the encoder opens are its own.
    const std::vector<pid_t> before = processThreads();
    p->codec = openCodec(*p, false, &gCreateError);
    const std::vector<pid_t> after = processThreads();
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                        std::back_inserter(p->threads));
    if (p->codec) {
        const int w = static_cast<int>(p->codedWidth);
        const int h = static_cast<int>(p->codedHeight);
        p->scaler = sws_getContext(w, h, AV_PIX_FMT_RGBA, w, h, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr,
                                   nullptr, nullptr);
        for (AVFrame*& frame : p->frames) frame = av_frame_alloc();
        p->packet = av_packet_alloc();
    }
    if (!p->codec || !p->scaler || !p->frames[0] || !p->frames[1] || !p->packet) {
        if (p->codec && gCreateError.empty()) gCreateError = "out of memory";
        NvPipe_Destroy(p);
        return nullptr;
    }
    for (AVFrame* frame : p->frames) {
        frame->format = AV_PIX_FMT_YUV420P;
        frame->width = static_cast<int>(p->codedWidth);
        frame->height = static_cast<int>(p->codedHeight);
        frame->colorspace = AVCOL_SPC_SMPTE170M;
        frame->color_range = AVCOL_RANGE_MPEG;
        if (av_frame_get_buffer(frame, 0) < 0) {
            gCreateError = "out of memory";
            NvPipe_Destroy(p);
            return nullptr;
        }
    }
    p->rgba.resize(static_cast<size_t>(p->codedWidth) * p->codedHeight * 4);
    gCreateError.clear();
    return p;
}

bool NvPipe_GetSequenceParams(NvPipe* p, std::vector<uint8_t>& params) {
    params.clear();
    if (!p) return false;
    if (p->sequenceParams.empty()) {
        // No frame yet: a twin encoder with the same settings, asked for
        // global headers, yields the same sets apart.
        AVCodecContext* twin = openCodec(*p, true, &p->error);
        if (!twin) return false;
        if (twin->extradata && twin->extradata_size > 0)
            p->sequenceParams.assign(twin->extradata, twin->extradata + twin->extradata_size);
        avcodec_free_context(&twin);
        if (p->sequenceParams.empty()) {
            p->error = "encoder gave no parameter sets";
            return false;
        }
    }
    params = p->sequenceParams;
    return true;
}

clock_t NvPipe_ThreadTicks(const NvPipe* p) {
    clock_t sum = 0;
    if (p) {
        for (pid_t thread : p->threads) sum += threadTicks(thread);
    }
    return sum;
}

size_t NvPipe_FrameBytes(const NvPipe* p) {
    return p ? p->rgba.size() : 0;
}

bool NvPipe_ReadTexture(NvPipe* p, uint32_t texture, uint32_t target, uint8_t* rgba, std::string* error) {
    if (!p || !rgba) {
        *error = "no encoder or no buffer";
        return false;
    }
    return readTexture(p, texture, target, rgba, error);
}

uint64_t NvPipe_EncodeTexture(NvPipe* p, uint32_t texture, uint32_t target, void* dst, uint64_t dstSize,
                              uint32_t width, uint32_t height, bool forceKeyFrame) {
    if (!p) {
        gCreateError = "no encoder";
        return 0;
    }
    if (width != p->width || height != p->height) {
        p->error = "frame size differs from the encoder's";
        return 0;
    }
    if (!dst) {
        p->error = "no destination buffer";
        return 0;
    }
    if (!readTexture(p, texture, target, p->rgba.data(), &p->error)) return 0;
    return NvPipe_EncodeFrame(p, p->rgba.data(), dst, dstSize, forceKeyFrame);
}

uint64_t NvPipe_EncodeFrame(NvPipe* p, const uint8_t* rgba, void* dst, uint64_t dstSize, bool forceKeyFrame) {
    if (!p) {
        gCreateError = "no encoder";
        return 0;
    }
    if (!dst || !rgba) {
        p->error = "no picture or no destination buffer";
        return 0;
    }
    if (!NvPipe_ConvertFrame(p, rgba, 0, &p->error)) return 0;
    return NvPipe_EncodeConverted(p, 0, dst, dstSize, forceKeyFrame);
}

bool NvPipe_ConvertFrame(NvPipe* p, const uint8_t* rgba, int slot, std::string* error) {
    if (!p || !rgba || slot < 0 || slot >= kNvPipePictureSlots) {
        *error = "no encoder, no picture or no such slot";
        return false;
    }
    AVFrame* frame = p->frames[slot];
    if (av_frame_make_writable(frame) < 0) {
        *error = "out of memory";
        return false;
    }
    const uint8_t* src[4] = {rgba, nullptr, nullptr, nullptr};
    int srcStride[4] = {static_cast<int>(p->codedWidth) * 4, 0, 0, 0};
    sws_scale(p->scaler, src, srcStride, 0, static_cast<int>(p->codedHeight), frame->data, frame->linesize);
    return true;
}

uint64_t NvPipe_EncodeConverted(NvPipe* p, int slot, void* dst, uint64_t dstSize, bool forceKeyFrame) {
    if (!p) {
        gCreateError = "no encoder";
        return 0;
    }
    if (!dst || slot < 0 || slot >= kNvPipePictureSlots) {
        p->error = "no destination buffer or no such slot";
        return 0;
    }
    AVFrame* frame = p->frames[slot];
    frame->pts = p->nextPts++;
    frame->pict_type = forceKeyFrame || p->keyFrameDue ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;

    int ret = avcodec_send_frame(p->codec, frame);
    if (ret < 0) {
        p->error = errorText("cannot encode the frame", ret);
        return 0;
    }
    ret = avcodec_receive_packet(p->codec, p->packet);
    if (ret < 0) {
        p->error = ret == AVERROR(EAGAIN) ? "the encoder held the frame back"
                                          : errorText("cannot encode the frame", ret);
        return 0;
    }
    uint64_t size = static_cast<uint64_t>(p->packet->size);
    if (p->nextPts == 1) keepParameterSets(p, p->packet->data, static_cast<size_t>(p->packet->size));
    uint64_t written = 0;
    if (size > dstSize) {
        p->error = "encoded frame larger than the destination buffer";
        p->keyFrameDue = true;
    } else {
        memcpy(dst, p->packet->data, size);
        written = size;
        p->keyFrameDue = false;
        p->error.clear();
    }
    av_packet_unref(p->packet);
    return written;
}

const char* NvPipe_GetError(NvPipe* p) {
    return p ? p->error.c_str() : gCreateError.c_str();
}

void NvPipe_Destroy(NvPipe* p) {
    if (!p) return;
    avcodec_free_context(&p->codec);
    sws_freeContext(p->scaler);
    for (AVFrame*& frame : p->frames) av_frame_free(&frame);
    av_packet_free(&p->packet);
    delete p;
}

}  // namespace Core
}  // namespace Quorvane
