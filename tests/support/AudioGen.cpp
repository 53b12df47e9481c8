#include "support/AudioGen.h"

#include <cmath>
#include <cstring>

#include "support/TestSupport.h"

namespace QvTest {

bool writeTones(const std::string& path, const std::vector<Tone>& tones, int sampleRate, int channels,
                double amplitude) {
    std::vector<std::string> args;
    std::string graph;
    for (size_t i = 0; i < tones.size(); ++i) {
        args.insert(args.end(), {"-f", "lavfi", "-i",
                                 "aevalsrc=" + std::to_string(amplitude) + "*sin(2*PI*" +
                                     std::to_string(tones[i].frequency) + "*t):s=" +
                                     std::to_string(sampleRate) + ":d=" + std::to_string(tones[i].seconds)});
        graph += "[" + std::to_string(i) + ":a]";
    }
    graph += "concat=n=" + std::to_string(tones.size()) + ":v=0:a=1[a]";
    args.insert(args.end(), {"-filter_complex", graph, "-map", "[a]", "-ac", std::to_string(channels)});
    std::string ext = path.substr(path.find_last_of('.') + 1);
    if (ext == "wav") args.insert(args.end(), {"-c:a", "pcm_s16le"});
    if (ext == "mp3") args.insert(args.end(), {"-c:a", "libmp3lame", "-b:a", "192k"});
    if (ext == "aac" || ext == "m4a") args.insert(args.end(), {"-c:a", "aac", "-b:a", "192k"});
    args.push_back(path);
    return ffmpeg(args);
}

std::vector<float> decodeMono(const std::string& path, int sampleRate) {
    ProgramResult r = runProgram({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:a:0", "-af",
                                  "pan=mono|c0=c0", "-ar", std::to_string(sampleRate), "-f", "f32le", "-"});
    std::vector<float> samples(r.out.size() / sizeof(float));
    if (!samples.empty()) memcpy(samples.data(), r.out.data(), samples.size() * sizeof(float));
    return samples;
}

double toneLevel(const std::vector<float>& samples, size_t begin, size_t end, double frequency,
                 int sampleRate) {
    if (end > samples.size()) end = samples.size();
    if (begin >= end) return 0.0;
    size_t n = end - begin;
    double w = 2.0 * M_PI * frequency / sampleRate;
    double coeff = 2.0 * std::cos(w);
    double s1 = 0.0, s2 = 0.0, windowSum = 0.0;
    for (size_t i = 0; i < n; ++i) {
        double hann = 0.5 - 0.5 * std::cos(2.0 * M_PI * static_cast<double>(i) / static_cast<double>(n - 1));
        windowSum += hann;
        double s0 = samples[begin + i] * hann + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    return 2.0 * std::sqrt(std::max(0.0, power)) / windowSum;
}

}  // namespace QvTest
