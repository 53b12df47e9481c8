#include "support/MediaGen.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "support/TestSupport.h"

namespace QvTest {

namespace {

uint8_t level(int digit) {
    return static_cast<uint8_t>((255 * digit + 3) / 6);
}

std::string lowerExtension(const std::string& path) {
    size_t dot = path.find_last_of('.');
    std::string ext = dot == std::string::npos ? std::string() : path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext;
}

std::string rate(int num, int den) {
    return std::to_string(num) + "/" + std::to_string(den);
}

void putBE16(std::string& out, unsigned v) {
    out.push_back(static_cast<char>((v >> 8) & 0xff));
    out.push_back(static_cast<char>(v & 0xff));
}

void putBE32(std::string& out, unsigned v) {
    putBE16(out, v >> 16);
    putBE16(out, v & 0xffff);
}

// Uncompressed 8-bit RGBA Photoshop file: header, empty colour mode, resource
// and layer sections, then the merged image as planar channel data.
bool writePsd(const std::string& path, int width, int height, const std::vector<uint8_t>& rgba) {
    std::string out = "8BPS";
    putBE16(out, 1);
    out.append(6, '\0');
    putBE16(out, 4);
    putBE32(out, static_cast<unsigned>(height));
    putBE32(out, static_cast<unsigned>(width));
    putBE16(out, 8);
    putBE16(out, 3);  // RGB colour mode
    putBE32(out, 0);
    putBE32(out, 0);
    putBE32(out, 0);
    putBE16(out, 0);  // raw image data
    for (int c = 0; c < 4; ++c) {
        for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i)
            out.push_back(static_cast<char>(rgba[i * 4 + c]));
    }
    return writeFile(path, out);
}

}  // namespace

Rgb indexColor(int index) {
    int m = ((index % kIndexColorCount) + kIndexColorCount) % kIndexColorCount;
    return Rgb{level(m / 49), level((m / 7) % 7), level(m % 7)};
}

int indexFromColor(int r, int g, int b, int maxError) {
    int digits[3];
    const int values[3] = {r, g, b};
    for (int c = 0; c < 3; ++c) {
        int d = (values[c] * 6 + 127) / 255;
        d = std::clamp(d, 0, 6);
        if (std::abs(values[c] - level(d)) > maxError) return -1;
        digits[c] = d;
    }
    return digits[0] * 49 + digits[1] * 7 + digits[2];
}

std::string VideoCache::video(const std::string& name, const VideoSpec& desc) {
    auto it = files_.find(name);
    if (it != files_.end()) return it->second;
    std::string path = file(name);
    if (!makeVideo(path, desc)) return "";
    return files_[name] = path;
}

bool makeVideo(const std::string& path, const VideoSpec& desc) {
    if (desc.width <= 0 || desc.height <= 0 || desc.frames <= 0 || desc.fpsNum <= 0 || desc.fpsDen <= 0)
        return false;
    // Raw frames written here and encoded in one go: far faster than any
    // per-pixel expression filter of ffmpeg.
    const std::string raw = path + ".rgb";
    {
        std::string bytes;
        const size_t frameSize = static_cast<size_t>(desc.width) * desc.height * 3;
        bytes.reserve(frameSize * desc.frames);
        for (int i = 0; i < desc.frames; ++i) {
            Rgb c = indexColor(desc.firstIndex + i);
            for (size_t p = 0; p < frameSize / 3; ++p) {
                bytes.push_back(static_cast<char>(c.r));
                bytes.push_back(static_cast<char>(c.g));
                bytes.push_back(static_cast<char>(c.b));
            }
        }
        if (!writeFile(raw, bytes)) return false;
    }
    const std::string fps = rate(desc.fpsNum, desc.fpsDen);
    std::vector<std::string> args = {
        "-f",    "rawvideo", "-pix_fmt",
        "rgb24", "-s",       std::to_string(desc.width) + "x" + std::to_string(desc.height),
        "-r",    fps,        "-i",
        raw};
    const double seconds = static_cast<double>(desc.frames) * desc.fpsDen / desc.fpsNum;
    if (desc.audioChannels > 0) {
        char lavfi[128];
        std::snprintf(lavfi, sizeof lavfi, "sine=frequency=440:sample_rate=%d:duration=%.6f", desc.audioRate,
                      seconds);
        args.insert(args.end(), {"-f", "lavfi", "-i", lavfi});
    }
    args.insert(args.end(), {"-map", "0:v"});
    if (desc.audioChannels > 0) {
        args.insert(args.end(), {"-map", "1:a", "-c:a", "aac", "-ac", std::to_string(desc.audioChannels)});
    }
    args.insert(args.end(),
                {"-c:v", "libx264", "-preset", "ultrafast", "-threads", "1", "-pix_fmt", "yuv420p", "-bf",
                 std::to_string(desc.bFrames), "-g", std::to_string(desc.keyInterval)});
    if (desc.startOffset != 0)
        args.insert(args.end(), {"-output_ts_offset", std::to_string(desc.startOffset)});
    const std::string encoded = desc.rotation != 0 ? path + ".norot." + lowerExtension(path) : path;
    args.push_back(encoded);
    bool ok = ffmpeg(args);
    std::remove(raw.c_str());
    if (!ok || desc.rotation == 0) return ok;
    // The ffmpeg program of FFmpeg 5 turns this tag into display-matrix side
    // data, counting counter-clockwise, but only on a stream copy (an encode
    // drops it). The file itself carries only the matrix.
    ok = ffmpeg({"-i", encoded, "-map", "0", "-c", "copy", "-metadata:s:v:0",
                 "rotate=" + std::to_string(-desc.rotation), path});
    std::remove(encoded.c_str());
    return ok;
}

bool makeImagePixels(const std::string& path, int width, int height, const std::vector<uint8_t>& rgba) {
    if (width <= 0 || height <= 0 || rgba.size() != static_cast<size_t>(width) * height * 4) return false;
    const std::string ext = lowerExtension(path);
    if (ext == "psd") return writePsd(path, width, height, rgba);
    const std::string raw = path + ".rgba";
    if (!writeFile(raw, std::string(rgba.begin(), rgba.end()))) return false;
    std::vector<std::string> args = {"-f",   "rawvideo", "-pix_fmt",
                                     "rgba", "-s",       std::to_string(width) + "x" + std::to_string(height),
                                     "-i",   raw,        "-frames:v",
                                     "1",    "-update",  "1"};
    if (ext == "jpg" || ext == "jpeg") {
        args.insert(args.end(), {"-c:v", "mjpeg", "-pix_fmt", "yuvj444p", "-q:v", "1", "-f", "image2"});
    } else if (ext == "png") {
        args.insert(args.end(), {"-c:v", "png", "-pix_fmt", "rgba", "-f", "image2"});
    } else if (ext == "bmp") {
        args.insert(args.end(), {"-c:v", "bmp", "-pix_fmt", "bgra", "-f", "image2"});
    } else if (ext == "tga") {
        args.insert(args.end(), {"-c:v", "targa", "-pix_fmt", "bgra", "-f", "image2"});
    } else {
        args.insert(args.end(), {"-f", "image2"});
    }
    args.push_back(path);
    bool ok = ffmpeg(args);
    std::remove(raw.c_str());
    return ok;
}

bool makeImage(const std::string& path, int width, int height, Rgb color) {
    if (width <= 0 || height <= 0) return false;
    std::vector<uint8_t> rgba;
    rgba.reserve(static_cast<size_t>(width) * height * 4);
    for (int i = 0; i < width * height; ++i) rgba.insert(rgba.end(), {color.r, color.g, color.b, 255});
    return makeImagePixels(path, width, height, rgba);
}

std::vector<std::string> makeImageSequence(const std::string& dir, const std::string& stem, int count,
                                           const std::string& ext, int width, int height) {
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        std::string p = dir + "/" + stem + "_" + std::to_string(i) + "." + ext;
        if (!makeImage(p, width, height, indexColor(i))) return {};
        paths.push_back(p);
    }
    return paths;
}

std::vector<Rgb> frameColors(const std::string& path) {
    ProgramResult r =
        runProgram({"ffmpeg", "-v", "error", "-i", path, "-map", "0:v:0", "-fps_mode", "passthrough", "-vf",
                    "scale=1:1:flags=area", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    std::vector<Rgb> colors;
    if (r.exitCode != 0) return colors;
    for (size_t i = 0; i + 2 < r.out.size(); i += 3) {
        colors.push_back(Rgb{static_cast<uint8_t>(r.out[i]), static_cast<uint8_t>(r.out[i + 1]),
                             static_cast<uint8_t>(r.out[i + 2])});
    }
    return colors;
}

std::string largeTrack(size_t bytes, bool terse) {
    std::string track = "[";
    track.reserve(bytes + 128);
    char record[128];
    for (int i = 0; track.size() < bytes; ++i) {
        if (terse)
            snprintf(record, sizeof record, "%s%s", i ? "," : "", i % 2 ? "{\"t\":0}" : "1");
        else
            snprintf(record, sizeof record, "%s{\"a\":[0,0,0],\"p\":[%.3f,24.000,0],\"s\":[1,1,1],\"r\":0,\"t\":1}",
                     i ? "," : "", i < 5 ? 40.0 : 40.0 + (i % 1000) / 1000.0);
        track += record;
    }
    return track + "]";
}

}  // namespace QvTest
