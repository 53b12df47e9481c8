// Mixing a render's audio tracks into one stream of fixed-size frames through an
// FFmpeg filter graph, handed frame by frame to a delegate.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/FFAudioReader.h"

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavutil/audio_fifo.h>
}

namespace Quorvane {
namespace Core {

class FFAudioComposerDelegate {
public:
    virtual ~FFAudioComposerDelegate() = default;
    // Once at the start of an export, before anything is read.
    virtual void prepareAudioEncoder() = 0;
    // Every mixed frame with last false, then once a null frame with last true.
    virtual void addAudioNewFrame(AVFrame* frame, long pts, bool last) = 0;
};

class FFAudioComposer {
public:
    class AudioTrack {
    public:
        AudioTrack(FFAudioComposer* composer, FFAudioReader* reader, uint64_t index);
        ~AudioTrack();
        AudioTrack(const AudioTrack&) = delete;
        AudioTrack& operator=(const AudioTrack&) = delete;

        float getStartTime() const { return mStartTime; }
        float getInPoint() const { return mInPoint; }
        float getDuration() const { return mDuration; }
        float getVolume() const { return mVolume; }
        float getOutPoint() const { return mInPoint + mDuration; }
        float getSourceDuration() const { return mSourceDuration; }
        FFAudioReader* getReader() const { return mReader; }
        uint64_t getIndex() const { return mIndex; }
        float getFadeInDuration() const { return mFadeInDuration; }
        float getFadeOutDuration() const { return mFadeOutDuration; }
        void setFadeInDuration(float seconds) { mFadeInDuration = seconds; }
        void setFadeOutDuration(float seconds) { mFadeOutDuration = seconds; }

        bool isTrimmed() const;
        void setInPoint(float seconds) { mInPoint = seconds; }
        void setVolume(float volume);
        bool setDuration(float seconds);
        // Takes the value as a duration, not as a time in the mix.
        bool setOutPoint(float seconds);
        bool setStartTime(float seconds, bool keepDuration);

        void setupFilter(AVFilterGraph* graph);

    private:
        friend class FFAudioComposer;

        uint64_t mIndex;
        std::string mName;
        std::string mLabel;
        FFAudioReader* mReader;
        const AVFilter* mSourceFilter = nullptr;
        AVFilterContext* mSourceContext = nullptr;
        float mStartTime = 0.0f;
        float mInPoint = 0.0f;
        float mDuration;
        float mVolume = 1.0f;
        float mSourceDuration;
        bool mFinished = false;
        double mFirstFedTime = -1.0;
        float mFadeOutDuration = 0.0f;
        float mFadeInDuration = 0.0f;
        FFAudioComposer* mComposer;
        int64_t mSkippedSamples = 0;  // head trim done so far
        int64_t mFedSamples = 0;      // samples handed to the graph, for the duration cut
        bool mEndSent = false;
    };

    explicit FFAudioComposer(FFAudioComposerDelegate* delegate);
    ~FFAudioComposer();
    FFAudioComposer(const FFAudioComposer&) = delete;
    FFAudioComposer& operator=(const FFAudioComposer&) = delete;

    AudioTrack* addAudioTrack(std::string path);
    bool removeAudioTrack(AudioTrack* track);
    bool removeAudioTrack(unsigned long index);
    AudioTrack* getAudioTrack(unsigned long index) const;
    unsigned long getNumTracks() const { return mTracks.size(); }
    unsigned long getTrackCount() const { return mTracks.size(); }

    float getStartTimeForTrack(unsigned long index) const;
    float getInPointForTrack(unsigned long index) const;
    float getOutPointForTrack(unsigned long index) const;
    float getVolumeForTrack(unsigned long index) const;
    float getDurationForTrack(unsigned long index) const;
    bool isTrackTrimmed(unsigned long index) const;
    void setTrackStartTime(unsigned long index, float seconds, bool keepDuration);
    void setTrackInPoint(unsigned long index, float seconds);
    void setTrackDuration(unsigned long index, float seconds);
    void setTrackVolume(unsigned long index, float volume);

    void setMaxDuration(float seconds) { mMaxDuration = seconds; }
    float getMaxDuration() const { return mMaxDuration; }
    void setSampleFormat(AVSampleFormat format);
    void setChannelCount(int channels);
    void setSampleRate(uint64_t rate);
    void setSamplePerFrame(uint64_t samples);
    AVSampleFormat getSampleFormat() const { return mSampleFormat; }
    int getChannelCount() const { return mChannels; }
    uint64_t getSampleRate() const { return mSampleRate; }
    uint64_t getSamplePerFrame() const { return mSamplesPerFrame; }
    float getCurrentPTS() const { return mCurrentPts; }

    // The filter graph text for the current tracks.
    std::string composeFilterDescription();
    bool exportAudio();
    void killExport() { mStop = true; }

private:
    bool initFilters(const std::string& description);
    bool exportLoop();
    bool fillAudioFifoBuffer(double t);
    // Applies the track's head trim and duration to a decoded frame and hands
    // what remains to its source.
    void feedTrack(AudioTrack* track, AVFrame* frame, double t);
    int flushFifoBufferSink(bool last);
    void renumberTracks();

    AVFilterGraph* mGraph = nullptr;
    AVFilterContext* mSinkContext = nullptr;
    const AVFilter* mSinkFilter = nullptr;
    AVAudioFifo* mFifo = nullptr;
    uint64_t mSamplesPerFrame = 1024;
    uint64_t mSampleRate = 44100;
    AVSampleFormat mSampleFormat = AV_SAMPLE_FMT_FLTP;
    int mChannels = 1;
    uint64_t mChannelLayout = AV_CH_LAYOUT_MONO;
    FFAudioComposerDelegate* mDelegate;
    long mFrameCounter = 0;
    float mMaxDuration = -1.0f;
    float mCurrentPts = 0.0f;
    AVFrame* mFrame = nullptr;
    AVFrame* mOutputFrame = nullptr;
    std::vector<AudioTrack*> mTracks;
    bool mStop = false;
};

}  // namespace Core
}  // namespace Quorvane
