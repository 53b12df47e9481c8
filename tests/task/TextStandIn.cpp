// The "Scrivane" stand-in (see TextTestSupport.h), run from a static
// initialiser so that it takes over the process before GoogleTest starts.
#include <fcntl.h>
#include <unistd.h>

#include <rapidjson/document.h>
#include <stb_image_write.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "TextTestSupport.h"
#include "support/TestSupport.h"

namespace QvTextTest {

namespace {

const char* const kModeVariable = "QV_SCRIVANE_STAND_IN";
const char* const kRecordVariable = "QV_SCRIVANE_RECORD";
// The path the engine started the script by (the script's "$0").
const char* const kProgramVariable = "QV_SCRIVANE_PROGRAM";
// Separates runs in the record; arguments are separated by '\n'.
const char kRunEnd = '\x1e';

std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string selfPath() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

std::vector<std::string> selfArguments() {
    std::string all = QvTest::readFile("/proc/self/cmdline");
    std::vector<std::string> args;
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\0', start);
        if (end == std::string::npos) end = all.size();
        args.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return args;
}

void fillColour(const std::string& text, unsigned char rgba[4]) {
    unsigned r = 255, g = 255, b = 255;
    if (text.size() == 7 && text[0] == '#') sscanf(text.c_str() + 1, "%2x%2x%2x", &r, &g, &b);
    rgba[0] = static_cast<unsigned char>(r);
    rgba[1] = static_cast<unsigned char>(g);
    rgba[2] = static_cast<unsigned char>(b);
    rgba[3] = 255;
}

// argv: program, font list, text list.
int runStandIn(const std::string& mode) {
    std::vector<std::string> args = selfArguments();
    if (!args.empty() && getenv(kProgramVariable)) args[0] = getenv(kProgramVariable);
    if (const char* record = getenv(kRecordVariable)) {
        std::string line;
        for (size_t i = 0; i < args.size(); ++i) line += (i ? "\n" : "") + args[i];
        int fd = open(record, O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            line += kRunEnd;
            if (write(fd, line.data(), line.size()) < 0) return 4;
            close(fd);
        }
    }
    if (mode == "fail") return 3;
    if (args.size() != 3) return 2;
    if (!QvTest::fileExists(args[1])) return 2;  // the real program needs its fonts
    if (mode == "draw-none") return 0;
    rapidjson::Document list;
    std::string text = QvTest::readFile(args[2]);
    list.Parse(text.c_str(), text.size());
    if (list.HasParseError() || !list.IsArray()) return 5;
    for (const rapidjson::Value& entry : list.GetArray()) {
        if (!entry.IsObject() || !entry.HasMember("output") || !entry["output"].IsString()) return 6;
        if (mode == "draw-broken") {
            QvTest::writeFile(entry["output"].GetString(), "not an image");
            continue;
        }
        std::string shown;
        if (entry.HasMember("ui") && entry["ui"].IsObject() && entry["ui"].HasMember("default") &&
            entry["ui"]["default"].IsString()) {
            shown = entry["ui"]["default"].GetString();
        }
        unsigned char colour[4];
        fillColour(shown, colour);
        std::vector<unsigned char> pixels(kTextImageSize * kTextImageSize * 4);
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = colour[i % 4];
        if (!stbi_write_png(entry["output"].GetString(), kTextImageSize, kTextImageSize, 4, pixels.data(),
                            kTextImageSize * 4)) {
            return 7;
        }
    }
    return 0;
}

struct StandInHook {
    StandInHook() {
        const char* mode = getenv(kModeVariable);
        if (mode) _exit(runStandIn(mode));
    }
} standInHook;

}  // namespace

void installScrivane(const std::string& folder, ScrivaneMode mode, const std::string& record) {
    const char* modeName = mode == ScrivaneMode::Draw         ? "draw"
                           : mode == ScrivaneMode::DrawNone   ? "draw-none"
                           : mode == ScrivaneMode::DrawBroken ? "draw-broken"
                                                              : "fail";
    std::string script = "#!/bin/sh\nexport " + std::string(kRecordVariable) + "=" + shellQuoted(record) +
                         " " + kProgramVariable + "=\"$0\" " + kModeVariable + "=" + modeName + "\nexec " +
                         shellQuoted(selfPath()) + " \"$@\"\n";
    std::string program = folder + "Scrivane";
    QvTest::writeFile(program, script);
    chmod(program.c_str(), 0755);
    QvTest::writeFile(folder + "font_list.json", "[{\"name\":\"Sans\"}]");
}

std::vector<std::vector<std::string>> recordedRuns(const std::string& record) {
    std::vector<std::vector<std::string>> runs;
    std::string all = QvTest::readFile(record);
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find(kRunEnd, start);
        if (end == std::string::npos) break;
        std::vector<std::string> run;
        std::string text = all.substr(start, end - start);
        size_t from = 0;
        while (true) {
            size_t nl = text.find('\n', from);
            run.push_back(text.substr(from, nl == std::string::npos ? std::string::npos : nl - from));
            if (nl == std::string::npos) break;
            from = nl + 1;
        }
        runs.push_back(run);
        start = end + 1;
    }
    return runs;
}

}  // namespace QvTextTest
