#include "media/FFAudioComposer.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "core/Log.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
}

namespace Quorvane {
namespace Core {

// ---------------------------------------------------------------------------
// AudioTrack

FFAudioComposer::AudioTrack::AudioTrack(FFAudioComposer* composer, FFAudioReader* reader, uint64_t index)
    : mIndex(index),
      mReader(reader),
      mDuration(reader->getDurationSeconds()),
      mSourceDuration(reader->getDurationSeconds()),
      mComposer(composer) {}

FFAudioComposer::AudioTrack::~AudioTrack() {
    delete mReader;
    // The source context belongs to the composer's graph, which frees it.
}

bool FFAudioComposer::AudioTrack::isTrimmed() const {
    return mStartTime != 0.0f || mDuration != mSourceDuration;
}

void FFAudioComposer::AudioTrack::setVolume(float volume) {
    mVolume = std::min(1.0f, std::max(0.0f, volume));
}

bool FFAudioComposer::AudioTrack::setDuration(float seconds) {
    float d = std::min(seconds, mSourceDuration);
    if (d > 0.0f) {
        mDuration = d;
        return true;
    }
    mDuration = 0.0f;
    return false;
}

bool FFAudioComposer::AudioTrack::setOutPoint(float seconds) {
    return setDuration(seconds);
}

bool FFAudioComposer::AudioTrack::setStartTime(float seconds, bool keepDuration) {
    float s = std::min(seconds, mSourceDuration);
    if (!keepDuration) mDuration -= s - mStartTime;
    mStartTime = s;
    if (mDuration > 0.0f) {
        mDuration = std::min(mDuration, mSourceDuration);
        return true;
    }
    mDuration = 0.0f;
    return false;
}

void FFAudioComposer::AudioTrack::setupFilter(AVFilterGraph* graph) {
    mSourceFilter = avfilter_get_by_name("abuffer");
    AVRational tb = mReader->getTimeBase();
    char args[1024];
    snprintf(args, sizeof args, "time_base=%d/%d:sample_rate=%d:sample_fmt=%s:channel_layout=0x%lx", tb.num,
             tb.den, mReader->getSampleRate(), av_get_sample_fmt_name(mReader->getSampleFormat()),
             static_cast<unsigned long>(mReader->getChannelLayout()));
    QVPrint("audio sample filter:%s", args);
    mSourceContext = nullptr;
    avfilter_graph_create_filter(&mSourceContext, mSourceFilter, mName.c_str(), args, nullptr, graph);
}

// ---------------------------------------------------------------------------
// Composer

FFAudioComposer::FFAudioComposer(FFAudioComposerDelegate* delegate) : mDelegate(delegate) {
    mFrame = av_frame_alloc();
    mOutputFrame = av_frame_alloc();
}

FFAudioComposer::~FFAudioComposer() {
    av_frame_free(&mFrame);
    av_frame_free(&mOutputFrame);
    for (AudioTrack* track : mTracks) delete track;
    mTracks.clear();
    avfilter_graph_free(&mGraph);
    if (mFifo) av_audio_fifo_free(mFifo);
}

FFAudioComposer::AudioTrack* FFAudioComposer::addAudioTrack(std::string path) {
    FFAudioReader* reader = new FFAudioReader(path.c_str());
    if (!reader->hasAudio()) {
        delete reader;
        return nullptr;
    }
    AudioTrack* track = new AudioTrack(this, reader, mTracks.size());
    mTracks.push_back(track);
    return track;
}

void FFAudioComposer::renumberTracks() {
    for (size_t i = 0; i < mTracks.size(); ++i) mTracks[i]->mIndex = i;
}

bool FFAudioComposer::removeAudioTrack(AudioTrack* track) {
    auto it = std::find(mTracks.begin(), mTracks.end(), track);
    if (track == nullptr || it == mTracks.end()) return false;
    mTracks.erase(it);
    delete track;
    renumberTracks();
    return true;
}

bool FFAudioComposer::removeAudioTrack(unsigned long index) {
    if (index >= mTracks.size()) return false;
    return removeAudioTrack(mTracks[index]);
}

FFAudioComposer::AudioTrack* FFAudioComposer::getAudioTrack(unsigned long index) const {
    return index < mTracks.size() ? mTracks[index] : nullptr;
}

float FFAudioComposer::getStartTimeForTrack(unsigned long i) const {
    return i < mTracks.size() ? mTracks[i]->getStartTime() : 0.0f;
}
float FFAudioComposer::getInPointForTrack(unsigned long i) const {
    return i < mTracks.size() ? mTracks[i]->getInPoint() : 0.0f;
}
float FFAudioComposer::getOutPointForTrack(unsigned long i) const {
    return i < mTracks.size() ? mTracks[i]->getOutPoint() : 0.0f;
}
float FFAudioComposer::getVolumeForTrack(unsigned long i) const {
    return i < mTracks.size() ? mTracks[i]->getVolume() : 0.0f;
}
float FFAudioComposer::getDurationForTrack(unsigned long i) const {
    return i < mTracks.size() ? mTracks[i]->getDuration() : 0.0f;
}
bool FFAudioComposer::isTrackTrimmed(unsigned long i) const {
    return i < mTracks.size() ? mTracks[i]->isTrimmed() : false;
}
void FFAudioComposer::setTrackStartTime(unsigned long i, float seconds, bool keepDuration) {
    if (i < mTracks.size()) mTracks[i]->setStartTime(seconds, keepDuration);
}
void FFAudioComposer::setTrackInPoint(unsigned long i, float seconds) {
    if (i < mTracks.size()) mTracks[i]->setInPoint(seconds);
}
void FFAudioComposer::setTrackDuration(unsigned long i, float seconds) {
    if (i < mTracks.size()) mTracks[i]->setDuration(seconds);
}
void FFAudioComposer::setTrackVolume(unsigned long i, float volume) {
    if (i < mTracks.size()) mTracks[i]->setVolume(volume);
}

void FFAudioComposer::setSampleFormat(AVSampleFormat format) {
    if (!mFifo) mSampleFormat = format;
}

void FFAudioComposer::setChannelCount(int channels) {
    if (mFifo || channels <= 0) return;
    mChannels = channels;
    AVChannelLayout layout;
    av_channel_layout_default(&layout, channels);
    mChannelLayout = layout.order == AV_CHANNEL_ORDER_NATIVE ? layout.u.mask : 0;
    av_channel_layout_uninit(&layout);
}

void FFAudioComposer::setSampleRate(uint64_t rate) {
    if (!mFifo) mSampleRate = rate;
}

void FFAudioComposer::setSamplePerFrame(uint64_t samples) {
    if (!mFifo) mSamplesPerFrame = samples;
}

std::string FFAudioComposer::composeFilterDescription() {
    std::ostringstream desc;
    size_t n = mTracks.size();
    for (size_t i = 0; i < n; ++i) {
        AudioTrack* track = mTracks[i];
        track->mName = "in" + std::to_string(i);
        track->mLabel = track->mName;
    }
    for (size_t i = 0; i < n; ++i) {
        AudioTrack* track = mTracks[i];
        std::ostringstream factor;
        factor << static_cast<double>(n - i) * static_cast<double>(track->mVolume);
        desc << "[" << track->mLabel << "]volume=" << factor.str() << "[" << track->mName << "v];";
        track->mLabel = track->mName + "v";
        if (track->mInPoint > 0.0f) {
            int ms = static_cast<int>(track->mInPoint * 1000.0f);
            // adelay leaves channels without a value undelayed; give every
            // channel of a wider track the delay too.
            int values = std::max(2, track->mReader->getChannelCount());
            desc << "[" << track->mLabel << "]adelay=" << ms;
            for (int c = 1; c < values; ++c) desc << "|" << ms;
            desc << "[" << track->mName << "d];";
            track->mLabel = track->mName + "d";
        }
    }
    for (AudioTrack* track : mTracks) desc << "[" << track->mLabel << "]";
    desc << "amix=inputs=" << n
         << ":duration=longest:dropout_transition=0[pout];[pout]asetnsamples=" << mSamplesPerFrame << "[out]";
    return desc.str();
}

bool FFAudioComposer::initFilters(const std::string& description) {
    QVPrint("Audio final filter_desc : %s", description.c_str());
    avfilter_graph_free(&mGraph);
    mGraph = avfilter_graph_alloc();
    mSinkFilter = avfilter_get_by_name("abuffersink");
    if (!mGraph || !mSinkFilter) return false;

    mSinkContext = nullptr;
    int ret = avfilter_graph_create_filter(&mSinkContext, mSinkFilter, "out", nullptr, nullptr, mGraph);
    if (ret < 0) {
        QVPrint("error avfilter_graph_create_filter :%d", ret);
        return false;
    }
    for (AudioTrack* track : mTracks) track->setupFilter(mGraph);

    const int formats[] = {mSampleFormat};
    if (av_opt_set_bin(mSinkContext, "sample_fmts", reinterpret_cast<const uint8_t*>(formats), sizeof formats,
                       AV_OPT_SEARCH_CHILDREN) < 0) {
        QVPrint("Filter: failed to call av_opt_set_bin -- sample_fmts\n");
        return false;
    }
    AVChannelLayout layout;
    av_channel_layout_default(&layout, mChannels);
    char layoutName[128];
    av_channel_layout_describe(&layout, layoutName, sizeof layoutName);
    av_channel_layout_uninit(&layout);
    if (av_opt_set(mSinkContext, "ch_layouts", layoutName, AV_OPT_SEARCH_CHILDREN) < 0) {
        QVPrint("Filter: failed to call av_opt_set_bin -- channel_layouts\n");
        return false;
    }
    const int rates[] = {static_cast<int>(mSampleRate)};
    if (av_opt_set_bin(mSinkContext, "sample_rates", reinterpret_cast<const uint8_t*>(rates), sizeof rates,
                       AV_OPT_SEARCH_CHILDREN) < 0) {
        QVPrint("Filter: failed to call av_opt_set_bin -- sample_rates\n");
        return false;
    }

    // The sources are the graph's open outputs, the sink its open input. The
    // parser frees the entries it links, so they are made afresh for each graph.
    AVFilterInOut* outputs = nullptr;
    AVFilterInOut** tail = &outputs;
    for (AudioTrack* track : mTracks) {
        if (!track->mSourceContext) {
            avfilter_inout_free(&outputs);
            return false;
        }
        AVFilterInOut* entry = avfilter_inout_alloc();
        entry->name = av_strdup(track->mName.c_str());
        entry->filter_ctx = track->mSourceContext;
        entry->pad_idx = 0;
        entry->next = nullptr;
        *tail = entry;
        tail = &entry->next;
    }
    AVFilterInOut* inputs = avfilter_inout_alloc();
    inputs->name = av_strdup("out");
    inputs->filter_ctx = mSinkContext;
    inputs->pad_idx = 0;
    inputs->next = nullptr;

    ret = avfilter_graph_parse_ptr(mGraph, description.c_str(), &inputs, &outputs, nullptr);
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    if (ret < 0) return false;
    ret = avfilter_graph_config(mGraph, nullptr);
    QVPrint("avfilter_graph_config result:%d", ret);
    return ret >= 0;
}

bool FFAudioComposer::exportAudio() {
    if (mDelegate) mDelegate->prepareAudioEncoder();
    mFrameCounter = 0;
    mCurrentPts = 0.0f;
    mStop = false;
    if (!mFifo) {
        mFifo = av_audio_fifo_alloc(mSampleFormat, mChannels, static_cast<int>(30 * mSamplesPerFrame));
    }
    if (mMaxDuration == -1.0f) {
        for (AudioTrack* track : mTracks) mMaxDuration = std::max(mMaxDuration, track->getOutPoint());
    }
    bool graphReady = !mTracks.empty() && initFilters(composeFilterDescription());
    if (!graphReady) {
        // Without a graph nothing can be mixed; the delegate still learns that
        // the stream has ended.
        avfilter_graph_free(&mGraph);
        mSinkContext = nullptr;
        for (AudioTrack* track : mTracks) track->mSourceContext = nullptr;
        if (mDelegate) mDelegate->addAudioNewFrame(nullptr, 0, true);
        return false;
    }
    return exportLoop();
}

bool FFAudioComposer::exportLoop() {
    if (mTracks.empty()) return false;
    double step = static_cast<double>(mSamplesPerFrame) / static_cast<double>(mSampleRate);
    double t = 0.0;
    bool active = fillAudioFifoBuffer(t);
    if (!active) {
        flushFifoBufferSink(true);
        return true;
    }
    do {
        if (mMaxDuration >= 0.0f && mMaxDuration <= mCurrentPts) break;
        // Honoured between steps so that a render being cancelled stops mixing.
        if (mStop) break;
        t += step;
        flushFifoBufferSink(false);
        active = fillAudioFifoBuffer(t);
    } while (active);
    flushFifoBufferSink(true);
    return true;
}

void FFAudioComposer::feedTrack(AudioTrack* track, AVFrame* frame, double t) {
    FFAudioReader* reader = track->mReader;
    int64_t rate = reader->getSampleRate();
    // Head trim and duration are counted in the track's own samples, so that
    // sources whose frames are not one mix step long (PCM, MP3) are cut where
    // asked.
    int64_t skipTotal = std::llround(static_cast<double>(track->mStartTime) * rate);
    int64_t keepTotal = std::llround(static_cast<double>(track->mDuration) * rate);
    int64_t skip =
        std::min<int64_t>(frame->nb_samples, std::max<int64_t>(0, skipTotal - track->mSkippedSamples));
    track->mSkippedSamples += skip;
    int64_t keep = std::min<int64_t>(frame->nb_samples - skip, keepTotal - track->mFedSamples);
    if (keep <= 0) {
        av_frame_unref(frame);
        if (track->mFedSamples >= keepTotal) track->mFinished = true;
        return;
    }

    AVFrame* feed = frame;
    AVFrame* cut = nullptr;
    if (skip > 0) {
        cut = av_frame_alloc();
        cut->format = frame->format;
        cut->sample_rate = frame->sample_rate;
        av_channel_layout_copy(&cut->ch_layout, &frame->ch_layout);
        cut->nb_samples = static_cast<int>(keep);
        if (av_frame_get_buffer(cut, 0) < 0) {
            av_frame_free(&cut);
            av_frame_unref(frame);
            return;
        }
        av_samples_copy(cut->extended_data, frame->extended_data, 0, static_cast<int>(skip),
                        static_cast<int>(keep), frame->ch_layout.nb_channels,
                        static_cast<AVSampleFormat>(frame->format));
        feed = cut;
    } else {
        frame->nb_samples = static_cast<int>(keep);
    }
    // The track's own timeline in the mix starts where its head trim ends and
    // runs on without gaps, whatever the source's timestamps were.
    feed->pts =
        av_rescale_q(track->mFedSamples, AVRational{1, static_cast<int>(rate)}, reader->getTimeBase());
    track->mFedSamples += keep;
    if (track->mFedSamples >= keepTotal) track->mFinished = true;

    if (av_buffersrc_add_frame(track->mSourceContext, feed) < 0) {
        QVPrint("track:%lu fail to add frame", static_cast<unsigned long>(track->mIndex));
    } else if (track->mFirstFedTime < 0.0) {
        track->mFirstFedTime = t;
    }
    av_frame_free(&cut);
    av_frame_unref(frame);
}

bool FFAudioComposer::fillAudioFifoBuffer(double t) {
    // Tracks are fed when the graph asks for them. amix takes one queued frame
    // per input each time it runs and forgets what its first input still holds
    // when that input ends; with frames of different lengths (1024 for AAC, 1152
    // for MP3, thousands for PCM and FLAC) eager feeding lets the first input run
    // ahead and lose its tail. When the graph asks for none (at the start), every
    // track gets a frame.
    bool anyAsked = false;
    for (AudioTrack* track : mTracks) {
        if (!track->mFinished && track->mSourceContext &&
            av_buffersrc_get_nb_failed_requests(track->mSourceContext) > 0)
            anyAsked = true;
    }
    bool active = false;
    for (AudioTrack* track : mTracks) {
        if (track->mFinished) {
            if (!track->mEndSent) {
                if (av_buffersrc_add_frame(track->mSourceContext, nullptr) < 0)
                    QVPrint("track:%lu fail to add frame", static_cast<unsigned long>(track->mIndex));
                track->mEndSent = true;
            }
            continue;
        }
        active = true;
        if (anyAsked && av_buffersrc_get_nb_failed_requests(track->mSourceContext) == 0) continue;
        FFAudioReader* reader = track->mReader;
        if (!reader->readNextAudioFrame()) {
            QVPrint("track:%lu read finished", static_cast<unsigned long>(track->mIndex));
            track->mFinished = true;
            continue;
        }
        AVFrame* frame = reader->getDecodeResult().frame;
        // A frame keeps its own sample count; the graph's source expects the
        // reader's layout, which a decoder may leave unset for PCM.
        av_channel_layout_uninit(&frame->ch_layout);
        av_channel_layout_copy(&frame->ch_layout, &reader->getChannelLayoutInfo());
        frame->format = reader->getSampleFormat();
        frame->sample_rate = reader->getSampleRate();
        feedTrack(track, frame, t);
    }
    return active;
}

int FFAudioComposer::flushFifoBufferSink(bool last) {
    double secondsPerFrame = static_cast<double>(mSamplesPerFrame) / static_cast<double>(mSampleRate);
    for (;;) {
        int ret = av_buffersink_get_frame(mSinkContext, mFrame);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) break;
        if (ret < 0) {
            QVPrint("get frame from sink error %d", ret);
            return ret;
        }
        if (mFrame->nb_samples <= 0 || !mFrame->data[0]) {
            av_frame_unref(mFrame);
            continue;
        }
        int written =
            av_audio_fifo_write(mFifo, reinterpret_cast<void**>(mFrame->extended_data), mFrame->nb_samples);
        int sinkSamples = mFrame->nb_samples;
        av_frame_unref(mFrame);
        if (written < sinkSamples) break;

        while (av_audio_fifo_size(mFifo) > 0 && mMaxDuration > mCurrentPts) {
            if (!mOutputFrame->data[0]) {
                // Room for a whole frame whatever the sink frame held.
                mOutputFrame->nb_samples =
                    static_cast<int>(std::max<uint64_t>(mSamplesPerFrame, sinkSamples));
                av_channel_layout_default(&mOutputFrame->ch_layout, mChannels);
                mOutputFrame->format = mSampleFormat;
                mOutputFrame->sample_rate = static_cast<int>(mSampleRate);
                if (av_frame_get_buffer(mOutputFrame, 0) < 0) return AVERROR(ENOMEM);
            }
            // The encoder may still hold a reference to the previous frame.
            mOutputFrame->nb_samples = static_cast<int>(std::max<uint64_t>(mSamplesPerFrame, sinkSamples));
            if (av_frame_make_writable(mOutputFrame) < 0) return AVERROR(ENOMEM);
            int n = av_audio_fifo_read(mFifo, reinterpret_cast<void**>(mOutputFrame->extended_data),
                                       static_cast<int>(mSamplesPerFrame));
            if (n <= 0) break;
            mOutputFrame->nb_samples = n;
            // Timestamps count from the start of the mix, in samples, so that the
            // encoder sees an even run whatever head trim the tracks had.
            mOutputFrame->pts = static_cast<int64_t>(mFrameCounter) * static_cast<int64_t>(mSamplesPerFrame);
            mCurrentPts = static_cast<float>(static_cast<double>(mFrameCounter) * secondsPerFrame);
            if (mDelegate)
                mDelegate->addAudioNewFrame(mOutputFrame, static_cast<long>(mCurrentPts * mSamplesPerFrame),
                                            false);
            ++mFrameCounter;
        }
    }
    if (last && mDelegate)
        mDelegate->addAudioNewFrame(nullptr, static_cast<long>(mSamplesPerFrame * mCurrentPts), true);
    return 0;
}

}  // namespace Core
}  // namespace Quorvane
