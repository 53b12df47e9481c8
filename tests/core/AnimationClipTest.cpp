// Animation clips: span of the tracks, delay, time scale, pause and seek, the
// end of a pass and the running/finished states.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "core/AnimationClip.h"

using namespace Quorvane::Core;

namespace {

struct Recorder : AnimationTrack {
    Recorder(std::vector<float>* log, float start, float duration, int* deaths = nullptr)
        : AnimationTrack("rec", log), deaths(deaths) {
        startTime = start;
        this->duration = duration;
    }
    ~Recorder() override {
        if (deaths) ++*deaths;
    }
    void apply(float time) override { static_cast<std::vector<float>*>(target)->push_back(time); }
    int* deaths;
};

TEST(AnimationClipTest, SpanOfTracksAndTotalDuration) {
    auto clip = std::unique_ptr<AnimationClip>(AnimationClip::create("c"));
    std::vector<float> log;
    EXPECT_EQ(clip->getRepeatCount(), 1.0f);
    EXPECT_EQ(clip->getName(), "c");
    auto* a = new Recorder(&log, 2, 3);
    ASSERT_TRUE(clip->addTrack(a));
    EXPECT_FALSE(clip->addTrack(a));
    EXPECT_FALSE(clip->addTrack(nullptr));
    EXPECT_EQ(clip->getStartTime(), 2);
    EXPECT_EQ(clip->getEndTime(), 5);
    EXPECT_EQ(clip->getDuration(), 3);
    clip->setRepeatCount(2);
    EXPECT_EQ(clip->getTotalDuration(), 6);

    auto* b = new Recorder(&log, 1, 1);
    ASSERT_TRUE(clip->addTrack(b));
    EXPECT_EQ(clip->getStartTime(), 1);
    EXPECT_EQ(clip->getEndTime(), 5);
    EXPECT_EQ(clip->getDuration(), 4);
    EXPECT_EQ(clip->getTotalDuration(), 8);

    // Removing recomputes the span but keeps the duration.
    ASSERT_TRUE(clip->removeTrack(b, true));
    EXPECT_EQ(clip->getStartTime(), 2);
    EXPECT_EQ(clip->getEndTime(), 5);
    EXPECT_EQ(clip->getDuration(), 4);
    EXPECT_FALSE(clip->removeTrack(b, false));

    clip->setDuration(10);
    auto* c = new Recorder(&log, 0, 50);
    ASSERT_TRUE(clip->addTrack(c));
    EXPECT_EQ(clip->getDuration(), 10);  // fixed
    EXPECT_EQ(clip->getEndTime(), 50);

    clip->setRepeatCount(0);
    EXPECT_EQ(clip->getTotalDuration(), 0);
}

TEST(AnimationClipTest, DelayScaleAndEndOfPass) {
    std::vector<float> log;
    AnimationClip clip("c");
    ASSERT_TRUE(clip.addTrack(new Recorder(&log, 0, 4)));
    clip.setDelayTime(2);
    clip.setTimeScale(0.5f);
    clip.play();
    clip.tick(2);
    clip.tick(2);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(clip.getElapsedTime(), 0);
    EXPECT_EQ(clip.getState(), AnimationClip::kStateStopped);

    for (int i = 0; i < 4; ++i) clip.tick(2);  // local times 0, 1, 2, 3
    EXPECT_EQ(clip.getState(), AnimationClip::kStateRunning);
    EXPECT_EQ(log, (std::vector<float>{0, 1, 2, 3}));
    EXPECT_EQ(clip.getElapsedTime(), 4);

    // At exactly the total duration the tracks receive the end time.
    clip.tick(2);
    EXPECT_EQ(log.back(), 4);
    // Past it the clip finishes and applies nothing.
    size_t before = log.size();
    clip.tick(2);
    EXPECT_EQ(clip.getState(), AnimationClip::kStateFinished);
    EXPECT_EQ(log.size(), before);
}

TEST(AnimationClipTest, AddingWhileRunningIsRefused) {
    std::vector<float> log;
    int deaths = 0;
    {
        AnimationClip clip("c");
        auto* held = new Recorder(&log, 0, 2, &deaths);
        ASSERT_TRUE(clip.addTrack(held));
        clip.play();
        clip.tick(1);
        ASSERT_EQ(clip.getState(), AnimationClip::kStateRunning);
        Recorder spare(&log, 0, 1);
        EXPECT_FALSE(clip.addTrack(&spare));
        EXPECT_FALSE(clip.removeTrack(held, true));
        EXPECT_EQ(clip.getTracks().size(), 1u);
        clip.stop();
        EXPECT_EQ(clip.getState(), AnimationClip::kStateStopped);
        EXPECT_EQ(clip.getElapsedTime(), 1);  // stop keeps the time
        auto* extra = new Recorder(&log, 0, 1, &deaths);
        EXPECT_TRUE(clip.addTrack(extra));
        EXPECT_TRUE(clip.removeTrack(extra, false));
        delete extra;
        EXPECT_EQ(deaths, 1);
    }
    EXPECT_EQ(deaths, 2);  // the clip deleted the track it held
}

TEST(AnimationClipTest, PauseSeekAndEndlessRepeat) {
    std::vector<float> log;
    AnimationClip clip("c");
    ASSERT_TRUE(clip.addTrack(new Recorder(&log, 0, 3)));
    clip.setRepeatCount(0);
    clip.play();
    for (int i = 0; i < 8; ++i) clip.tick(1);
    EXPECT_EQ(log, (std::vector<float>{0, 1, 2, 0, 1, 2, 0, 1}));
    EXPECT_EQ(clip.getState(), AnimationClip::kStateRunning);

    log.clear();
    clip.pause();
    clip.tick(1);
    EXPECT_TRUE(log.empty());
    clip.gotoTime(5);
    clip.tick(1);  // one tick applies while paused, without advancing
    clip.tick(1);
    EXPECT_EQ(log, std::vector<float>{2});
    EXPECT_EQ(clip.getElapsedTime(), 5);
    clip.resume();
    clip.tick(1);
    EXPECT_EQ(clip.getElapsedTime(), 6);

    // Backwards: the local time wraps for negative elapsed times, and a finite
    // clip finishes once it drops below 0.
    log.clear();
    clip.setRepeatCount(1);
    clip.setTimeScale(-1);
    clip.gotoTime(1);
    clip.tick(1);
    clip.tick(1);
    EXPECT_EQ(log, (std::vector<float>{1, 0}));
    clip.tick(1);
    EXPECT_EQ(clip.getState(), AnimationClip::kStateFinished);

    // Time scale 0 after stop: the state stays and nothing applies.
    clip.stop();
    clip.setTimeScale(0);
    log.clear();
    clip.tick(1);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(clip.getState(), AnimationClip::kStateStopped);
}

TEST(AnimationClipTest, ZeroDurationGivesLocalTimeZero) {
    std::vector<float> log;
    AnimationClip clip("c");
    ASSERT_TRUE(clip.addTrack(new Recorder(&log, 3, 0)));
    clip.setRepeatCount(0);
    clip.play();
    clip.tick(1);
    clip.tick(1);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_FALSE(std::isnan(log[0]));
    EXPECT_EQ(log[1], 0);
    AnimationClip empty("e");
    empty.play();
    EXPECT_FALSE(empty.shouldTick(1));
}

}  // namespace
