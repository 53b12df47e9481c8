#include "core/AnimationClip.h"

#include <algorithm>
#include <cmath>

namespace Quorvane {
namespace Core {

AnimationClip::AnimationClip(const std::string& name) : name_(name) {}

AnimationClip::~AnimationClip() {
    for (AnimationTrack* track : tracks_) delete track;
}

AnimationClip* AnimationClip::create(const std::string& name) {
    return new AnimationClip(name);
}

void AnimationClip::setRepeatCount(unsigned count) {
    repeatCount_ = count;
    updateTotalDuration();
}

void AnimationClip::setDuration(float duration) {
    duration_ = duration;
    durationFixed_ = true;
    updateTotalDuration();
}

// A repeat count of 0 runs the clip without end.
void AnimationClip::updateTotalDuration() {
    totalDuration_ = repeatCount_ == 0 ? 0.0f : static_cast<float>(repeatCount_) * duration_;
}

void AnimationClip::recomputeSpan() {
    if (tracks_.empty()) return;
    startTime_ = tracks_.front()->startTime;
    endTime_ = tracks_.front()->startTime + tracks_.front()->duration;
    for (const AnimationTrack* track : tracks_) {
        startTime_ = std::min(startTime_, track->startTime);
        endTime_ = std::max(endTime_, track->startTime + track->duration);
    }
}

bool AnimationClip::addTrack(AnimationTrack* track) {
    if (track == nullptr || state_ == kStateRunning) return false;
    if (std::find(tracks_.begin(), tracks_.end(), track) != tracks_.end()) return false;
    bool first = tracks_.empty();
    tracks_.push_back(track);
    float start = track->startTime;
    float end = track->startTime + track->duration;
    startTime_ = first ? start : std::min(startTime_, start);
    endTime_ = first ? end : std::max(endTime_, end);
    if (!durationFixed_) duration_ = endTime_ - startTime_;
    updateTotalDuration();
    return true;
}

bool AnimationClip::removeTrack(AnimationTrack* track, bool deleteTrack) {
    if (track == nullptr || state_ == kStateRunning) return false;
    auto it = std::find(tracks_.begin(), tracks_.end(), track);
    if (it == tracks_.end()) return false;
    tracks_.erase(it);
    if (deleteTrack) delete track;
    recomputeSpan();
    updateTotalDuration();
    return true;
}

void AnimationClip::play() {
    paused_ = false;
    elapsedTime_ = 0;
    delayCountdown_ = delay_;
    state_ = kStateStopped;
}

void AnimationClip::stop() {
    state_ = kStateStopped;
}

void AnimationClip::gotoTime(unsigned time) {
    elapsedTime_ = static_cast<float>(time);
    seekPending_ = true;
}

bool AnimationClip::shouldTick(float /*dt*/) {
    if (tracks_.empty()) return false;
    if (seekPending_) {
        seekPending_ = false;
    } else if (paused_) {
        return false;
    }
    if (delayCountdown_ > 0) {
        delayCountdown_ -= 1;
        return false;
    }
    float e = elapsedTime_;
    float s = timeScale_;
    float total = totalDuration_;
    if (e >= 0 && s > 0) {
        if (total != 0 && e > total) {
            state_ = kStateFinished;
            return false;
        }
        state_ = kStateRunning;
        return true;
    }
    if (s < 0) {
        if (total != 0 && e < 0) {
            state_ = kStateFinished;
            return false;
        }
        state_ = kStateRunning;
        return true;
    }
    return state_ == kStateRunning;
}

void AnimationClip::tick(float dt) {
    if (!shouldTick(dt)) return;
    float local;
    if (totalDuration_ > 0 && elapsedTime_ == totalDuration_) {
        local = endTime_;
    } else if (duration_ == 0) {
        // A pass of length 0 has only the moment 0 (wrapping would divide by 0).
        local = 0;
    } else {
        local = fmodf(fmodf(elapsedTime_, duration_) + duration_, duration_);
    }
    for (AnimationTrack* track : tracks_) track->apply(local);
    if (!paused_) elapsedTime_ += dt * timeScale_;
}

}  // namespace Core
}  // namespace Quorvane
