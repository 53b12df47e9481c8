// Version texts of the form major.minor.patch.tag.
#pragma once

#include <cstdint>
#include <string>

namespace Quorvane {
namespace Core {

class VersionManager {
public:
    explicit VersionManager(const std::string& version);

    // Parses the text; true when it is a valid version. Throws
    // std::out_of_range for a number beyond 32-bit signed.
    bool init(const std::string& version);
    bool isValid() const { return valid_; }
    static bool isValid(const std::string& version);
    static bool isDigitString(const std::string& text);

    // 1 when this version is newer, -1 when older, 0 when equal. Tags are not compared.
    int compare(const VersionManager& other, bool withPatch) const;
    static int compareVersion(const std::string& first, const std::string& second, bool withPatch);
    // Against the engine's own version 1.2.0.
    int compareWithCurrentVersion(bool withPatch) const;
    static std::string createVersion(uint32_t major, uint32_t minor, uint32_t patch, const std::string& tag);

    uint32_t getMajor() const { return major_; }
    uint32_t getMinor() const { return minor_; }
    uint32_t getPatch() const { return patch_; }
    const std::string& getTag() const { return tag_; }
    const std::string& getVersionText() const { return text_; }

private:
    bool valid_ = false;
    uint32_t major_ = 0;
    uint32_t minor_ = 0;
    uint32_t patch_ = 0;
    std::string tag_;
    std::string text_;
};

}  // namespace Core
}  // namespace Quorvane
