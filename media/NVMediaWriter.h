// Writes the rendered frames of a video render: each frame texture is encoded
// to H.264 and appended to a raw stream beside the output (the output path
// followed by ".h264"); muxFile then joins it with the music into the output
// file by running the ffmpeg program.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/FileWriter.h"
#include "core/Semaphore.h"
#include "core/Subprocess.h"
#include "media/SoftwareH264Encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace Quorvane {
namespace Core {

class Config;
class RenderThread;

class NVMediaWriter {
public:
    explicit NVMediaWriter(const char* path);
    ~NVMediaWriter();
    NVMediaWriter(const NVMediaWriter&) = delete;
    NVMediaWriter& operator=(const NVMediaWriter&) = delete;

    int writerKind() const { return mWriterKind; }
    void setMux(bool mux) { mMux = mux; }
    bool isMux() const { return mMux; }
    void setBitrateControl(float factor) { mBitrateFactor = factor; }
    float bitrateControl() const { return mBitrateFactor; }
    // Bits per pixel per frame: above 0 and at most the 24 of raw RGB.
    static constexpr float kMaxBitrateFactor = 24.0f;
    static bool isUsableBitrateFactor(float factor) { return factor > 0.0f && factor <= kMaxBitrateFactor; }
    // Bits per second for a size and rate at the current factor.
    uint64_t bitrateFor(int width, int height, int fps) const;
    uint64_t bitrateFor(int width, int height, AVRational rate) const;
    // A template's frame rate as the fraction it stands for: the NTSC rates
    // 29.97, 23.976 and 59.94 as 30000/1001, 24000/1001 and 60000/1001, whole
    // numbers over 1, anything else as the nearest small fraction.
    static AVRational frameRateRational(float fps);

    // Encoding on a thread of the writer's own, one frame in flight; set
    // before the first frame. The texture is still read back on the calling
    // thread (its GL context is current there); colour conversion and the
    // encoder run on the worker while the caller draws the next frame.
    void setEncodeOnWorker(bool on) { mEncodeOnWorker = on; }

    // Pictures of an odd width or height are encoded one column or row larger
    // (see NvPipe_CreateEncoder).
    bool addVideoInput(int width, int height, int fps);
    bool addVideoInput(int width, int height, AVRational rate);
    int start();
    // Encodes one frame texture; the number of encoded bytes, 0 on error. On
    // the worker: the number of bytes read back once the frame is handed
    // over, 0 when it could not be read or an earlier frame failed to encode.
    int writeVideoFrameData(unsigned int texture, int frame, int fps);
    // Waits for the frame in flight; false when a frame handed to the worker
    // failed to encode.
    bool drain();
    // Drains first; 1 also when a frame handed to the worker failed.
    int close();
    // Processor time the encode worker's thread and the encoder's own threads
    // have used so far, in clock() ticks: the conversion and encoding that
    // run alongside the caller's drawing. 0 without a worker.
    clock_t workerTicks() const;
    // Runs ffmpeg; returns its raw wait status (0 on success). A program still
    // running after the mux time limit is killed, with a log line.
    int muxFile(Config* config);
    void setMuxTimeLimit(std::chrono::milliseconds limit) { mMuxTimeLimit = limit; }
    // Called on the muxing thread while ffmpeg runs.
    void setMuxHeartbeat(Subprocess::Heartbeat heartbeat) { mMuxHeartbeat = std::move(heartbeat); }
    // ffmpeg derives a packet's duration from the stream's rate only below
    // 1000 frames a second; at 1000 and above the mux gives each frame its
    // duration itself, which takes the setts filter (ffmpeg 4.4 on).
    static bool muxSetsFrameDurations(AVRational rate) {
        return rate.num > 0 && rate.den > 0 && rate.num >= 1000LL * rate.den;
    }

    bool addAudioInput(long bitRate, int sampleRate, int channels, AVRational timeBase,
                       AVSampleFormat format);
    int writeAudioFrame(AVFrame* frame, long pts, int* gotPacket);

    static void rescalePacketTs(AVStream* from, AVStream* to, AVPacket* packet);
    static void rescalePacketTs(AVRational* from, AVStream* to, AVPacket* packet);
    static void rescalePacketTs(AVCodecContext* from, AVStream* to, AVPacket* packet);
    static int getVopType(const void* data, int size);

    // The mux command as logged, and the argument vector actually run. Exposed
    // for the render task's log and for tests.
    struct MuxCommand {
        std::string text;
        std::vector<std::string> argv;
    };
    MuxCommand buildMuxCommand(Config* config) const;

private:
    bool openPacketOutput();
    // Takes the encoder's parameter sets into the stream description.
    void describeParameterSets();
    // Appends an encoded frame of the encode buffer to the raw stream or the
    // container; the byte count, 0 when it cannot.
    int writeEncoded(uint64_t size);
    int handOver(unsigned int texture);

    int mWriterKind = 1;
    NvPipe* mEncoder = nullptr;
    int mWidth = 0;
    int mHeight = 0;
    AVRational mRate{0, 1};
    std::string mPath;
    std::vector<uint8_t> mEncodeBuffer;
    bool mHasVideo = false;
    bool mHasAudio = false;
    AVStream* mVideoStream = nullptr;
    AVStream* mAudioStream = nullptr;
    AVCodecContext* mVideoCodecContext = nullptr;
    AVCodecContext* mAudioCodecContext = nullptr;
    AVFormatContext* mOutput = nullptr;
    int mPacketCount = 0;
    FileWriter mRawStream;
    bool mMux = false;
    float mBitrateFactor = 0.25f;
    bool mHeaderWritten = false;
    bool mAudioDrained = false;
    bool mEncodeOnWorker = false;
    std::chrono::milliseconds mMuxTimeLimit = std::chrono::milliseconds::max();
    Subprocess::Heartbeat mMuxHeartbeat;
    // Three stages overlap: the render thread draws and reads back a frame
    // while the converter turns the one before into the encoder's colour
    // format and the encoder encodes the one before that.
    std::unique_ptr<RenderThread> mConvertThread;
    std::unique_ptr<RenderThread> mEncodeThread;
    // Read back into one while the converter reads the other.
    std::vector<uint8_t> mPictures[2];
    int mNextPicture = 0;
    int mNextSlot = 0;  // of the encoder's converted pictures
    // Taken from handing a picture to the converter until its encode is queued.
    Semaphore mConvertSlot{1};
    Semaphore mEncodeSlot{1};  // taken while a converted picture waits or is encoded
    std::atomic<bool> mEncodeFailed{false};
};

int get_nal_type(void* data, int size);
void close_file(int fd);

}  // namespace Core
}  // namespace Quorvane
