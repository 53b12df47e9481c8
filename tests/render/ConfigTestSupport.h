// Helpers of the template-model tests: template folders, hand-built packs and
// loading a configuration in a freshly started process.
#pragma once

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>

#include "render/Config.h"
#include "support/TestSupport.h"

namespace QvTest {

// A version-1 pack of `bytes`, built byte by byte from the container layout
// rather than with the engine's writer: pattern flag 1 with modulus 3 and
// shift 37 (key byte 74), or flag 0 when `alternate` is false.
inline std::string handMadePack(const std::string& bytes, const std::string& name, bool alternate = true) {
    const int modulus = 3;
    const uint8_t k = static_cast<uint8_t>(2 * 37);
    std::string header(16, '\0');
    header.replace(0, 5, "VOZAZ");
    header[6] = static_cast<char>(modulus);
    header[8] = 1;  // entry count, little-endian
    header[12] = alternate ? 1 : 0;
    header[13] = 37;

    std::string entry(60, '\0');
    entry.replace(0, std::min<size_t>(name.size(), 50), name.substr(0, 50));
    const uint32_t size = static_cast<uint32_t>(bytes.size());
    for (int i = 0; i < 4; ++i) entry[52 + i] = static_cast<char>((size >> (8 * i)) & 0xff);
    entry[56] = 76;

    auto scramble = [&](std::string block, bool data) {
        for (size_t i = 0; i < block.size(); ++i) {
            uint8_t b = static_cast<uint8_t>(block[i]);
            const bool multiple = i % modulus == 0;
            // Stored entry bytes: multiples - k, others + k; data the opposite.
            const bool subtract = !alternate || (multiple != data);
            b = subtract ? static_cast<uint8_t>(b - k) : static_cast<uint8_t>(b + k);
            block[i] = static_cast<char>(b);
        }
        return block;
    };
    return header + scramble(entry, false) + scramble(bytes, true);
}

// Writes "config.json" (and the other given files) into a folder.
inline void writeTemplate(const std::string& folder, const std::string& configBytes) {
    writeFile(folder + "/config.json", configBytes);
}

// Every field a template load fills, as text, for comparing loads.
inline std::string describe(const Quorvane::Core::Config& c) {
    std::ostringstream out;
    const auto& bg = c.backgroundColor();
    out << "version=" << c.version() << "\nduration=" << c.duration() << "\nfps=" << c.frameRate()
        << "\nsize=" << c.mainCompWidth() << "x" << c.mainCompHeight() << "\nexpand=" << c.expand()
        << "\nbg=" << bg.r << "," << bg.g << "," << bg.b << "," << bg.a << "\nmusic=" << c.musicFile()
        << "\nattr=" << c.attrSetttings() << "\nprefix=" << c.prefix() << "\nmain=" << c.mainCompName()
        << "\ndescription=" << c.description() << "\ntype=" << c.templateType()
        << "\nvalid=" << c.isTemplateValid() << "\n";
    for (const auto* a : c.assets()) {
        out << "asset " << a->type << " " << a->key << " " << a->name << " " << a->width << "x" << a->height
            << " num=" << a->num << " fps=" << a->fps << " ui=" << a->uiKey << "/" << a->uiExtra << "/"
            << a->hasUI << " presets=" << a->presets.size() << " json=" << a->json << "\n";
    }
    out << "content=" << c.configContent() << "\n";
    return out.str();
}

// Loads the template folder in a newly started copy of this test program, so
// that the identifier counter is as the library's loading left it, and
// answers describe() of that load (empty when the child failed).
std::string describeInFreshProcess(const std::string& folder);

}  // namespace QvTest
