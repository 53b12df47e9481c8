// Test media made on the spot: videos and still images whose every frame is
// one flat colour that encodes the frame's index, so a test can read back
// which frame it was shown. Videos are encoded by the ffmpeg program
// (libx264); images by ffmpeg too, except PSD, which is written here.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace QvTest {

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
};

// Frame index -> colour: three base-7 digits, one per channel, at levels
// 0, 42, 85, ... 255. The levels lie far enough apart to survive 4:2:0 chroma,
// lossy coding and the YUV<->RGB round trip. Indices repeat every 343 frames.
constexpr int kIndexColorCount = 343;
Rgb indexColor(int index);
// The index whose colour lies nearest (each channel within maxError), or -1.
int indexFromColor(int r, int g, int b, int maxError = 18);

struct VideoSpec {
    int width = 32;
    int height = 32;
    // Frames per second as a fraction, so 30000/1001 can be asked for.
    int fpsNum = 25;
    int fpsDen = 1;
    int frames = 25;
    int firstIndex = 0;      // frame i shows indexColor(firstIndex + i)
    int bFrames = 2;         // consecutive B-frames (0: none)
    int keyInterval = 250;   // largest distance between key frames
    double startOffset = 0;  // seconds the first frame is shifted on the file's clock
    // Clockwise rotation a player applies when showing the frames (the sense
    // of the old "rotate" tag), stored as display-matrix side data (0: none).
    int rotation = 0;
    int audioChannels = 0;  // > 0 adds an AAC sine tone as long as the video
    int audioRate = 44100;
};

// Writes an H.264 video at path (container by extension: mp4, mov, avi ...).
bool makeVideo(const std::string& path, const VideoSpec& desc);

// A temporary folder whose videos are made once, on first ask, so that a test
// suite's tests can share them.
class VideoCache : public TempDir {
public:
    explicit VideoCache(const std::string& tag) : TempDir(tag) {}
    // The path of the video called name, made from desc the first time; ""
    // when it could not be made (asked again, it is tried again).
    std::string video(const std::string& name, const VideoSpec& desc);

private:
    std::map<std::string, std::string> files_;
};

// A still image of one flat colour; the format follows the extension
// (png, jpg, jpeg, bmp, tga through ffmpeg; psd written directly).
bool makeImage(const std::string& path, int width, int height, Rgb color);
// Writes a width x height image whose pixels are given row by row from the
// top (RGBA; formats without alpha drop it).
bool makeImagePixels(const std::string& path, int width, int height, const std::vector<uint8_t>& rgba);

// count images named dir/stem_<i>.<ext>, image i filled with indexColor(i).
std::vector<std::string> makeImageSequence(const std::string& dir, const std::string& stem, int count,
                                           const std::string& ext, int width = 16, int height = 16);

// Mean colour of every frame of a video, decoded by the ffmpeg program, in
// presentation order; empty when decoding fails.
std::vector<Rgb> frameColors(const std::string& path);

// A transform track data file: a JSON array of about `bytes` bytes whose
// neighbouring records all differ, so none is shared. A full track puts the
// layer's corner at (40, 24) on frames 0-4 and moves it by a fraction of a
// pixel on each later frame (never shown by a five-frame render). A terse one
// holds the most records the bytes can: a bare number (a record of defaults)
// and {"t":0} in turn, five bytes a frame.
std::string largeTrack(size_t bytes, bool terse = false);

}  // namespace QvTest
