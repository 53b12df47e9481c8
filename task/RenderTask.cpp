#include "task/RenderTask.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <set>

#ifndef GL_GLEXT_PROTOTYPES
#define GL_GLEXT_PROTOTYPES
#endif
#include <GL/gl.h>
#include <GL/glext.h>

extern "C" {
#include <libavutil/frame.h>
}

#include "core/Log.h"
#include "core/RenderThread.h"
#include "media/AVSource.h"
#include "media/FFAudioReader.h"
#include "media/FFAudioWriter.h"
#include "media/NVMediaWriter.h"
#include "render/AssetConfig.h"
#include "render/Config.h"
#include "render/FullScreenRenderPass.h"
#include "render/GLContext.h"
#include "render/GLRenderDestination.h"
#include "script/ScriptContext.h"
#include "task/RenderChild.h"
#include "task/RenderOutput.h"

namespace Quorvane {
namespace Core {

namespace {

constexpr long kAudioBitrate = 128000;

double clockSeconds(clock_t ticks) {
    return static_cast<double>(ticks) / 1000000.0;
}

}  // namespace

RenderTask::RenderTask(const char* templatePath, const char* outputPath, RenderDelegate* delegate)
    : config_(new Config(templatePath)), outputPath_(outputPath), taskInfo_(new RenderTaskInfo()) {
    delegate_ = delegate;
}

RenderTask::~RenderTask() {
    // The audio thread's task uses the mixer and the writer: join it first.
    delete audioThread_;
    delete videoWriter_;
    delete config_;
    delete audioMixer_;
    delete audioWriter_;
    delete taskInfo_;
}

void RenderTask::setBitrateControl(float factor) {
    if (!NVMediaWriter::isUsableBitrateFactor(factor)) {
        QVPrint("bitrate control %f is not above 0 and at most %g, %f kept", static_cast<double>(factor),
                static_cast<double>(NVMediaWriter::kMaxBitrateFactor), static_cast<double>(bitrateControl_));
        return;
    }
    bitrateControl_ = factor;
}

void RenderTask::setLoopAudio(bool loop) {
    loopAudio_ = loop;
    config_->setMusicLoop(loop);
}

void RenderTask::setAudioFile(const std::string& path) {
    audioFile_ = path;
    config_->setMusicPath(path);
}

void RenderTask::commit() {
    if (context_ || !config_) return;
    context_ = new RenderContext(config_, nullptr, true, 0, -1);
}

bool RenderTask::cancel() {
    if (isRendering()) cancelled_ = true;
    return isRendering();
}

float RenderTask::videoDuration() {
    commit();
    if (!context_) return 0.0f;
    taskInfo_->duration = static_cast<float>(context_->duration()) / context_->frameRate();
    return taskInfo_->duration;
}

bool RenderTask::shouldSnapThisFrame(int frame, bool erase) {
    auto it = std::find(snapshotFrames_.begin(), snapshotFrames_.end(), frame);
    if (it == snapshotFrames_.end()) return false;
    if (erase) snapshotFrames_.erase(it);
    return true;
}

void RenderTask::addAudioNewFrame(AVFrame* frame, long pts, bool) {
    int gotPacket = 0;
    if (audioWriter_) {
        audioWriter_->writeAudioFrame(frame, pts, &gotPacket);
    } else {
        videoWriter_->writeAudioFrame(frame, pts, &gotPacket);
    }
}

void RenderTask::prepareAudio() {
    audioMixer_ = new FFAudioComposer(this);
    audioMixer_->setMaxDuration(taskInfo_->duration);
    for (const AudioTrackInfo& info : config_->audioTracks()) {
        // A track that starts after the video ends adds nothing to it; mixed
        // alone it would leave an empty mix that fails the whole render.
        if (!(info.inPoint < taskInfo_->duration)) {
            QVPrint("audio track %s starts at %f s, after the video's end at %f s, skipped", info.filePath.c_str(),
                    static_cast<double>(info.inPoint), static_cast<double>(taskInfo_->duration));
            continue;
        }
        FFAudioComposer::AudioTrack* track = audioMixer_->addAudioTrack(info.filePath);
        if (!track) continue;
        track->setDuration(info.duration);
        track->setInPoint(info.inPoint);
        track->setOutPoint(info.outPoint);
        track->setStartTime(info.startTime, false);
        track->setFadeOutDuration(info.fadeOutDuration);
        track->setFadeInDuration(info.fadeInDuration);
        track->setVolume(info.volume);
    }
    if (audioMixer_->getTrackCount() == 0) {
        // Nothing to mix: the video keeps the template's or the host's music.
        delete audioMixer_;
        audioMixer_ = nullptr;
        return;
    }
    std::string path = workFile_ + ".aac";
    audioWriter_ = new FFAudioWriter(path.c_str());
    musicBeforeMix_ = config_->musicFile();
    config_->setMusicFile(path);
    int sampleRate = static_cast<int>(audioMixer_->getSampleRate());
    audioWriter_->addAudioInput(kAudioBitrate, sampleRate, audioMixer_->getChannelCount(),
                                AVRational{1, sampleRate}, audioMixer_->getSampleFormat());
    audioThread_ = new RenderThread();
    audioThread_->async(
        [this] {
            QVPrint("start audio writing");
            audioWriter_->start();
            audioMixer_->exportAudio();
            framesDone_.wait();
            audioDone_.signal(1);
            QVPrint("audio thread exit");
        },
        true);
}

void RenderTask::writeSnapshot(int64_t frame) {
    // One size for the buffer and the read-back, taken from what is read.
    int width = context_->width();
    int height = context_->height();
    size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
    if (pixels_.size() != bytes) pixels_.assign(bytes, 0);
    context_->beginReadContent();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels_.data());
    context_->endReadContent();
    std::string file = snapshotDir_ + std::to_string(static_cast<long long>(frame)) + ".png";
    const std::string reason = inputs_.reasonFor(file);
    if (!reason.empty()) {
        QVPrint("snapshot %s not written: %s", file.c_str(), reason.c_str());
    } else if (!WriteImageFile(file, ImageFileKind::Png, width, height, pixels_.data(), 0)) {
        QVPrint("write snapshot fail, %s", file.c_str());
    }
}

void RenderTask::releaseScene() {
    delete context_;
    context_ = nullptr;
    glFinish();
    GLContextDoneUse(glContext_);
    glContext_ = nullptr;
}

bool RenderTask::refuseTemplate(const std::string& reason) {
    QVPrint("Invalid template, please check template path or template config.json");
    QVPrint("Invalid template: %s", reason.c_str());
    if (context_ || glContext_) releaseScene();
    rendering_ = false;
    return false;
}

std::set<std::string> RenderTask::replacedFiles() const {
    // A dynamic template keeps the list; a normal one puts each file into the
    // asset it replaces.
    std::set<std::string> replaced(config_->replaceableFilePaths().begin(),
                                   config_->replaceableFilePaths().end());
    for (const AssetConfig* asset : config_->assets()) {
        if (asset && asset->replaced) replaced.insert(asset->name);
    }
    replaced.erase(std::string());
    return replaced;
}

std::string RenderTask::lostReplaceableFile(const std::set<std::string>& replaced) const {
    if (replaced.empty()) return std::string();
    for (const auto& entry : context_->sources()) {
        const AVSource* source = entry.second;
        if (!source || source->sourceType() != AVSource::kSourceTypeFile) continue;
        if (!replaced.count(source->mainFile())) continue;
        if (source->width() <= 0 || source->height() <= 0 || source->decodeFailed()) return source->mainFile();
    }
    return std::string();
}

RenderFileNames RenderTask::fileNames() const {
    RenderFileNames names;
    names.templateFolder = config_->templatePath();
    names.configContent = config_->configContent();
    names.assetFolder = assetDir_;
    names.scriptFolder = luaDir_;
    names.textProgramFolder = scrivaneDir_;
    names.files = config_->hostFiles();
    names.files.push_back(audioFile_);
    names.files.push_back(luaMainFile_);
    for (const auto& entry : watermarks_) {
        names.files.insert(names.files.end(), entry.first.imagePaths.begin(), entry.first.imagePaths.end());
    }
    names.documents = {luaData_, dynamicSubImgJson_};
    for (const AudioTrackInfo& track : config_->audioTracks()) names.tracks.push_back(track.filePath);
    return names;
}

bool RenderTask::start() {
    int pid = static_cast<int>(getpid());
    QVPrint("Child RenderTask start %d", pid);
    // Everything a render needs of the template is checked before anything
    // is allocated for it: a template that cannot be rendered ends "cancel"
    // at once, never a crash, a blocked child or a wrong video.
    std::string reason = config_->refusalReason(Config::kMaxCompSide);
    if (!reason.empty()) return refuseTemplate(reason);
    // So is the output path, before anything there or beside it is touched.
    RenderOutput output(outputPath_, pid);
    inputs_ = RenderInputs(fileNames());
    reason = output.refusalReason(inputs_);
    if (!reason.empty()) {
        QVPrint("Invalid output path %s: %s", outputPath_.c_str(), reason.c_str());
        return false;
    }

    int width = config_->mainCompWidth();
    int height = config_->mainCompHeight();
    rendering_ = true;

    // Besides the template, the scene may read what the host named for this
    // render; nothing else (see InputScope).
    inputs_.admitInto(config_->inputScope());

    glContext_ = GLContextGet(width, height, nullptr);
    if (!glContext_) {
        // Nothing can be drawn: a failure, never a silent success.
        QVPrint("Child RenderTask %d could not create its GL context", pid);
        rendering_ = false;
        if (delegate_) delegate_->renderEnd(false);
        return false;
    }
    GLContextMakeCurrent(glContext_);
    GLint maxTexture = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTexture);
    // A driver that does not answer leaves the engine's own limit.
    const int maxSide = maxTexture > 0 ? std::min(Config::kMaxCompSide, static_cast<int>(maxTexture))
                                       : Config::kMaxCompSide;
    reason = config_->refusalReason(maxSide);
    if (!reason.empty()) return refuseTemplate(reason);

    commit();
    context_->setGLContext(glContext_);
    // Files the scene read while it was built (data files) and the timeline
    // a dynamic template assembled are known only now.
    reason = config_->refusalReason(maxSide);
    if (reason.empty()) reason = Config::timelineRefusal(context_->duration(), context_->frameRate());
    if (!reason.empty()) return refuseTemplate(reason);
    // The main composition's own rate, when it gives one, is the rate frames
    // are counted at: the encoder, the mux and the reported duration use it.
    config_->setFrameRate(context_->frameRate());

    if (!output.create()) {
        releaseScene();
        rendering_ = false;
        return false;
    }
    // Whatever way start returns from here, the work folder goes with it.
    struct Discard {
        const RenderOutput& output;
        ~Discard() { output.discard(); }
    } discardOnReturn{output};
    workFile_ = output.workFile();
    delete videoWriter_;
    videoWriter_ = new NVMediaWriter(workFile_.c_str());

    if (delegate_) delegate_->renderStarted();

    // The user's own material never vanishes silently from the video.
    // Known once: the frame loop asks after every frame.
    const std::set<std::string> replaced = replacedFiles();
    const std::string lost = lostReplaceableFile(replaced);
    // From here the sources are asked again only once one has reported a
    // failure or a new one came: walking them all after every frame made a
    // frame's work grow with the user's files.
    unsigned long long failuresSeen = context_->sourceFailures();
    size_t sourcesSeen = context_->sources().size();
    if (!lost.empty()) {
        QVPrint("Child RenderTask %d: replaceable file %s is missing or cannot be decoded", pid,
                lost.c_str());
        releaseScene();
        rendering_ = false;
        if (delegate_) delegate_->renderEnd(false);
        return false;
    }

    // Text images, the template's main script and the dynamic sub images, in
    // this order: the script sees the text images, the dynamic layers take
    // their new sources after it.
    drawTextImages();
    if (!luaMainFile_.empty() && file_exists(luaMainFile_)) {
        ScriptContext script(context_);
        script.runFile(luaMainFile_, luaDir_, luaData_);
    }
    if (config_->templateType() == TemplateTypeDynamic) replaceDynamicSubImgs();
    // The scripts' audio tracks are read too: no snapshot replaces one.
    for (const AudioTrackInfo& track : config_->audioTracks()) inputs_.addFile(track.filePath);

    for (const auto& entry : watermarks_) {
        const Watermark& watermark = entry.first;
        context_->addWatermark(watermark.imagePaths, watermark.position, watermark.time, watermark.scale);
    }

    // The script may have moved the timeline: the frames from where it now
    // stands to its end are what is drawn, encoded, muxed and reported.
    float frameRate = context_->frameRate();
    const unsigned long long length = context_->duration();
    const long long first = context_->currentLocalTime();
    reason = Config::timelineRefusal(length, frameRate);
    if (reason.empty() && (first < 0 || static_cast<unsigned long long>(first) >= length)) {
        reason = "the main timeline has no frame from the current one on";
    }
    if (!reason.empty()) {
        QVPrint("Child RenderTask %d: after the scripts, %s", pid, reason.c_str());
        releaseScene();
        rendering_ = false;
        if (delegate_) delegate_->renderEnd(false);
        return false;
    }
    int64_t duration = static_cast<int64_t>(length);
    const int64_t frameCount = duration - first;
    taskInfo_->duration = static_cast<float>(frameCount) / frameRate;

    context_->flipVerticalPass()->setOutputBGRA(true);
    videoWriter_->setMux(true);
    // Drawing the next frame overlaps encoding this one.
    videoWriter_->setEncodeOnWorker(true);
    videoWriter_->setBitrateControl(bitrateControl_);
    videoWriter_->addVideoInput(width, height, NVMediaWriter::frameRateRational(frameRate));

    if (!config_->audioTracks().empty()) prepareAudio();

    videoWriter_->start();
    clock_t loopStart = clock();
    clock_t renderTicks = 0;
    clock_t encodeTicks = 0;
    // A frame the encoder lost would leave a video shorter than its template
    // (and out of step with its audio): the render stops there and fails.
    bool framesWhole = true;
    int64_t framesWritten = 0;
    float progress = 0.0f;  // the last reported
    do {
        if (cancelled_) break;
        clock_t t0 = clock();
        // The worker encodes the frame before while this one is drawn: its
        // processor time is encoding, not drawing.
        clock_t encodedAlongside = videoWriter_->workerTicks();
        context_->draw(0);
        glFinish();
        encodedAlongside = std::max<clock_t>(0, videoWriter_->workerTicks() - encodedAlongside);
        renderTicks += clock() - t0 - encodedAlongside;
        encodeTicks += encodedAlongside;
        // A photo whose header read well may still end short of its pixels;
        // that shows only once it is drawn.
        std::string broken;
        if (context_->sourceFailures() != failuresSeen || context_->sources().size() != sourcesSeen) {
            failuresSeen = context_->sourceFailures();
            sourcesSeen = context_->sources().size();
            broken = lostReplaceableFile(replaced);
        }
        if (!broken.empty()) {
            QVPrint("Child RenderTask %d: replaceable file %s cannot be decoded", pid, broken.c_str());
            framesWhole = false;
            break;
        }

        clock_t t1 = clock();
        int64_t frame = context_->currentLocalTime();
        if (!snapshotFrames_.empty() && !snapshotDir_.empty() &&
            shouldSnapThisFrame(static_cast<int>(frame), true)) {
            writeSnapshot(frame);
        }
        unsigned int texture = context_->readDestination()->grabTextureForRead(true);
        int written =
            videoWriter_->writeVideoFrameData(texture, static_cast<int>(frame), static_cast<int>(frameRate));
        encodeTicks += clock() - t1;
        if (written <= 0) {
            QVPrint("Child RenderTask %d: frame %lld could not be encoded", pid, static_cast<long long>(frame));
            framesWhole = false;
            break;
        }
        ++framesWritten;

        progress = static_cast<float>(frame) / static_cast<float>(duration);
        if (delegate_) delegate_->renderUpdate(progress);
    } while (context_->stepForward());
    // The last frame's encoding belongs to the loop's time.
    clock_t t2 = clock();
    if (!videoWriter_->drain()) framesWhole = false;
    encodeTicks += clock() - t2;

    taskInfo_->totalTime = clockSeconds(clock() - loopStart);
    taskInfo_->renderTime = clockSeconds(renderTicks);
    taskInfo_->encodeTime = clockSeconds(encodeTicks);
    QVPrint("pid %d, renderTime : %0.3f, encodeTime : %0.3f, total : %0.3f, %s", pid, taskInfo_->renderTime,
            taskInfo_->encodeTime, taskInfo_->totalTime, outputPath_.c_str());

    // What the mux takes the video's length to be is what was written: all
    // frameCount frames unless the render was cancelled or an encode failed.
    config_->setFinalDuration(static_cast<uint64_t>(framesWritten));
    releaseScene();

    framesDone_.signal(1);
    if (audioMixer_) audioDone_.wait();

    rendering_ = false;
    const bool videoClosed = videoWriter_->close() == 0;
    bool closed = videoClosed;
    if (!closed) QVPrint("Child RenderTask %d: the video writer failed to close", pid);
    if (audioWriter_ && audioWriter_->close() != 0) {
        QVPrint("Child RenderTask %d: the audio writer failed to close", pid);
        closed = false;
    } else if (audioWriter_ && !audioWriter_->wroteAudio()) {
        // Tracks whose times leave nothing of them in the video: an empty mix
        // would fail the mux, so the video keeps the music it had.
        QVPrint("Child RenderTask %d: the scripts' audio tracks gave no sound, skipped", pid);
        if (musicBeforeMix_.empty()) {
            config_->clearMusicFile();
        } else {
            config_->setMusicFile(musicBeforeMix_);
        }
    }
    QVPrint("Child RenderTask finish %d", pid);
    // A video whose raw stream or mixed audio could not be completed is a
    // failed render, whatever the mux makes of the rest. A raw stream that was
    // not written in full is not muxed at all: there is no video to keep, and
    // ffmpeg would read a target that never ends (a device) for ever.
    bool ok = false;
    if (videoClosed && framesWhole) {
        // The mux's ffmpeg would follow a playlist given as music to the
        // files it names: whatever it is handed as music (the template's, the
        // host's, one put back after a silent mix, the mix itself) is muxed
        // only once our own reader, which opens plain audio files only, has
        // found audio in it. Both probe alike, so they take it for the same
        // kind of file.
        const std::string& music = config_->musicFile();
        if (!music.empty() && !AudioSourceMetadata(music.c_str()).hasAudio()) {
            QVPrint("Child RenderTask %d: music %s cannot be read as audio", pid, music.c_str());
        } else {
            videoWriter_->setMuxTimeLimit(MuxTimeLimit(taskInfo_->duration));
            // The mux of a long video outlasts the parent's patience for a
            // silent child: the last progress, repeated, says it still lives.
            // Sent on this thread, so never after the final word.
            videoWriter_->setMuxHeartbeat({ChildHeartbeatInterval(), [this, progress] {
                                               if (delegate_) delegate_->renderUpdate(progress);
                                           }});
            ok = videoWriter_->muxFile(config_) == 0 && closed;
        }
    }
    // Only a complete video replaces what is at the output path.
    if (ok) ok = output.publish();
    QVPrint("Child RenderTask mux finish %d", pid);
    pixels_ = std::vector<uint8_t>();

    if (delegate_) {
        if (cancelled_) {
            delegate_->renderCancelled();
        } else {
            delegate_->renderEnd(ok);
        }
    }
    return ok;
}

bool file_exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

long long getCurrentTime() {
    struct timeval now;
    gettimeofday(&now, nullptr);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_usec / 1000;
}

std::string implode(const std::string& separator, const std::vector<std::string>& items) {
    std::string joined;
    for (const std::string& item : items) {
        if (!joined.empty()) joined += separator;
        joined += item;
    }
    return joined;
}

void get_ips(std::vector<std::string>& out) {
    struct ifaddrs* list = nullptr;
    if (getifaddrs(&list) == -1) {
        perror("getifaddrs failed");
        return;
    }
    for (struct ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
        if (strcmp(entry->ifa_name, "lo") == 0) continue;
        char host[NI_MAXHOST];
        if (getnameinfo(entry->ifa_addr, sizeof(struct sockaddr_in), host, sizeof host, nullptr, 0,
                        NI_NUMERICHOST) == 0) {
            out.emplace_back(host);
        }
    }
    freeifaddrs(list);
}

void get_mac_addresses(std::vector<std::string>& out) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return;
    struct ifreq requests[32];
    struct ifconf conf;
    conf.ifc_len = sizeof requests;
    conf.ifc_req = requests;
    if (ioctl(fd, SIOCGIFCONF, &conf) == 0) {
        int count = conf.ifc_len / static_cast<int>(sizeof(struct ifreq));
        for (int i = 0; i < count; ++i) {
            if (strcmp(requests[i].ifr_name, "lo") == 0) continue;
            struct ifreq request = requests[i];
            if (ioctl(fd, SIOCGIFHWADDR, &request) != 0) continue;
            const unsigned char* mac = reinterpret_cast<const unsigned char*>(request.ifr_hwaddr.sa_data);
            char text[32];
            snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3],
                     mac[4], mac[5]);
            out.emplace_back(text);
        }
    }
    close(fd);
}

}  // namespace Core
}  // namespace Quorvane
