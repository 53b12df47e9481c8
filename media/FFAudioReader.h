// Decoding one audio file frame by frame, and probing an audio file's facts.
#pragma once

#include <cstdint>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

namespace Quorvane {
namespace Core {

class FFAudioReader {
public:
    // The frame handed out by the latest readNextAudioFrame.
    struct DecodeResult {
        bool gotFrame = false;
        double frameTime = 0.0;  // seconds
        AVPacket* packet = nullptr;
        AVFrame* frame = nullptr;
    };

    explicit FFAudioReader(const char* path);
    virtual ~FFAudioReader();
    FFAudioReader(const FFAudioReader&) = delete;
    FFAudioReader& operator=(const FFAudioReader&) = delete;

    bool hasAudio() const { return mDecoder != nullptr; }

    int64_t getDurationMilliSeconds() const { return mDuration; }
    float getDurationSeconds() const { return static_cast<float>(mDuration) / 1000.0f; }
    int getBitRate() const { return mBitRate; }
    int getSampleRate() const { return mSampleRate; }
    int getSampleSize() const { return mSampleSize; }
    int getChannelCount() const { return mChannels; }
    uint64_t getChannelLayout() const { return mChannelLayout; }
    // The full layout, valid also for streams whose order is not a bit mask.
    const AVChannelLayout& getChannelLayoutInfo() const { return mLayout; }
    // Samples per frame of the stream; 0 for codecs without a fixed frame size
    // (PCM), whose frames each carry their own count.
    int64_t getFrameSize() const { return mFrameSize; }
    // The time base of the timestamps of the frames handed out.
    AVRational getTimeBase() const { return mTimeBase; }
    AVSampleFormat getSampleFormat() const { return mSampleFormat; }
    std::string getFilePath() const { return mFilePath; }
    AVCodecID getCodecID() const;
    const DecodeResult& getDecodeResult() const { return mResult; }

    bool readNextAudioPacket();
    bool readNextAudioFrame();

    static int openCodecContext(int* index, AVCodecContext** ctx, AVFormatContext* fmt, AVMediaType type);

private:
    int64_t getFixedDuration() const;

    int mSampleRate = 0;
    int mSampleSize = 0;
    int64_t mFrameSize = 0;
    uint64_t mChannelLayout = 0;
    int mChannels = 0;
    int mBitRate = 0;
    int64_t mDuration = 0;
    AVRational mTimeBase = {0, 1};
    AVSampleFormat mSampleFormat = AV_SAMPLE_FMT_NONE;
    AVStream* mStream = nullptr;
    AVCodecContext* mDecoder = nullptr;
    AVCodecParameters* mParams = nullptr;
    AVFormatContext* mFormat = nullptr;
    std::string mFilePath;
    DecodeResult mResult;
    int mStreamIndex = -1;
    bool mDraining = false;
    AVChannelLayout mLayout = {};
};

// The facts of an audio file, probed once.
class AudioSourceMetadata {
public:
    explicit AudioSourceMetadata(const char* path);

    int64_t duration() const { return mDuration; }  // milliseconds
    float durationInSeconds() const { return static_cast<float>(mDuration) / 1000.0f; }
    bool hasAudio() const { return mHasAudio; }
    int sampleRate() const { return mSampleRate; }
    int sampleSize() const { return mSampleSize; }
    int64_t frameSize() const { return mFrameSize; }
    int channels() const { return mChannels; }
    int bitRate() const { return mBitRate; }
    const std::string& filePath() const { return mFilePath; }

private:
    int mSampleRate = 0;
    int mSampleSize = 0;
    int64_t mFrameSize = 0;
    int mChannels = 0;
    int mBitRate = 0;
    int64_t mDuration = 0;
    std::string mFilePath;
    bool mHasAudio = false;
};

}  // namespace Core
}  // namespace Quorvane
