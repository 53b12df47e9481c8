// Test audio: tones written with the ffmpeg program, decoded samples, and the
// level of one frequency in a stretch of samples.
#pragma once

#include <string>
#include <vector>

namespace QvTest {

// One sine tone segment.
struct Tone {
    double frequency = 440.0;
    double seconds = 1.0;
};

// Writes a file of the given tones one after the other (format from the
// extension: .wav is 16-bit PCM, .flac, .mp3, .aac, .m4a) at the rate and
// channel count given; every channel carries the same tone. Each tone's peak
// amplitude is `amplitude` (full scale 1). Returns false when ffmpeg failed.
bool writeTones(const std::string& path, const std::vector<Tone>& tones, int sampleRate = 44100,
                int channels = 1, double amplitude = 0.25);

// Decodes the first channel of a file's first audio stream into float samples
// at the rate.
std::vector<float> decodeMono(const std::string& path, int sampleRate = 44100);

// Peak amplitude of the frequency within samples [begin, end) (Goertzel with a
// Hann window). A full-scale sine gives about 1.
double toneLevel(const std::vector<float>& samples, size_t begin, size_t end, double frequency,
                 int sampleRate = 44100);

}  // namespace QvTest
