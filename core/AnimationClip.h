// A small animation library for hosts: a clip groups tracks and hands them its
// local time on every tick.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Quorvane {
namespace Core {

// A subclass sets its target's value for a local time in apply().
class AnimationTrack {
public:
    AnimationTrack(const std::string& name, void* target) : target(target), name(name) {}
    virtual void apply(float time) = 0;
    virtual ~AnimationTrack() {}

    void* getTarget() const { return target; }
    const std::string& getName() const { return name; }
    float getDuration() const { return duration; }
    void setDuration(float d) { duration = d; }
    float getStartTime() const { return startTime; }
    void setStartTime(float t) { startTime = t; }

    void* target;  // not owned
    std::string name;
    float duration = 0;
    float startTime = 0;
};

class AnimationClip {
public:
    enum State : int32_t { kStateStopped = 0, kStateRunning = 1, kStateFinished = 2 };

    explicit AnimationClip(const std::string& name);
    virtual ~AnimationClip();  // deletes every track
    AnimationClip(const AnimationClip&) = delete;
    AnimationClip& operator=(const AnimationClip&) = delete;

    static AnimationClip* create(const std::string& name);

    void setName(const std::string& name) { name_ = name; }
    const std::string& getName() const { return name_; }
    void setTimeScale(float scale) { timeScale_ = scale; }
    float getTimeScale() const { return timeScale_; }
    // Counted in ticks; takes effect at the next play().
    void setDelayTime(int ticks) { delay_ = static_cast<float>(ticks); }
    void setRepeatCount(unsigned count);
    void setDuration(float duration);

    // The clip takes ownership. False for null, a track already held, or a running clip.
    bool addTrack(AnimationTrack* track);
    bool removeTrack(AnimationTrack* track, bool deleteTrack);
    const std::vector<AnimationTrack*>& getTracks() const { return tracks_; }

    void play();
    void stop();
    void pause() { paused_ = true; }
    void resume() { paused_ = false; }
    // The next tick applies the tracks at this time, even while paused.
    void gotoTime(unsigned time);

    bool shouldTick(float dt);
    void tick(float dt);

    int32_t getState() const { return state_; }
    float getDuration() const { return duration_; }
    float getTotalDuration() const { return totalDuration_; }
    float getStartTime() const { return startTime_; }
    float getEndTime() const { return endTime_; }
    float getElapsedTime() const { return elapsedTime_; }
    float getRepeatCount() const { return static_cast<float>(repeatCount_); }
    bool isPaused() const { return paused_; }

private:
    void updateTotalDuration();
    void recomputeSpan();

    bool seekPending_ = false;
    bool durationFixed_ = false;
    float duration_ = 0;
    float totalDuration_ = 0;
    float startTime_ = 0;
    float endTime_ = 0;
    float elapsedTime_ = 0;
    float delayCountdown_ = 0;
    uint32_t repeatCount_ = 1;
    float delay_ = 0;
    float timeScale_ = 1;
    bool paused_ = false;
    int32_t state_ = kStateStopped;
    std::string name_;
    std::vector<AnimationTrack*> tracks_;
};

}  // namespace Core
}  // namespace Quorvane
