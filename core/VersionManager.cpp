#include "core/VersionManager.h"

#include <cstdint>

namespace Quorvane {
namespace Core {

namespace {
// The engine's own version, as QVVersion reports it.
constexpr uint32_t kCurrentMajor = 1;
constexpr uint32_t kCurrentMinor = 2;
constexpr uint32_t kCurrentPatch = 0;
constexpr int kTagIndex = 3;

int compareNumber(uint32_t a, uint32_t b) {
    return a > b ? 1 : (a < b ? -1 : 0);
}

int compareParts(uint32_t major, uint32_t minor, uint32_t patch, uint32_t otherMajor, uint32_t otherMinor,
                 uint32_t otherPatch, bool withPatch) {
    if (int c = compareNumber(major, otherMajor)) return c;
    if (int c = compareNumber(minor, otherMinor)) return c;
    return withPatch ? compareNumber(patch, otherPatch) : 0;
}
}  // namespace

VersionManager::VersionManager(const std::string& version) : text_(version) {
    valid_ = init(version);
}

bool VersionManager::init(const std::string& version) {
    major_ = minor_ = patch_ = 0;
    tag_.clear();
    uint32_t* numbers[kTagIndex] = {&major_, &minor_, &patch_};
    // Stores component `index` (0-based); components past the tag are ignored.
    auto store = [&](int index, const std::string& part) {
        if (index < kTagIndex) {
            if (!isDigitString(part)) return false;
            // A number beyond the signed 32-bit range makes the text invalid
            // (it would not convert); no text makes the parse throw.
            uint64_t number = 0;
            for (char c : part) {
                number = number * 10 + static_cast<uint64_t>(c - '0');
                if (number > static_cast<uint64_t>(INT32_MAX)) return false;
            }
            *numbers[index] = static_cast<uint32_t>(number);
        } else if (index == kTagIndex) {
            tag_ = part;
        }
        return true;
    };

    int count = 0;
    size_t pos = 0;
    for (size_t dot; (dot = version.find('.', pos)) != std::string::npos; pos = dot + 1) {
        std::string part = version.substr(pos, dot - pos);
        if (part.empty() || !store(count, part)) return false;
        ++count;
    }
    if (pos == version.size() || count > kTagIndex) return count >= 2;
    if (!store(count, version.substr(pos))) return false;
    return count >= 1;
}

bool VersionManager::isValid(const std::string& version) {
    return VersionManager(version).isValid();
}

bool VersionManager::isDigitString(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

int VersionManager::compare(const VersionManager& other, bool withPatch) const {
    return compareParts(major_, minor_, patch_, other.major_, other.minor_, other.patch_, withPatch);
}

int VersionManager::compareVersion(const std::string& first, const std::string& second, bool withPatch) {
    return VersionManager(first).compare(VersionManager(second), withPatch);
}

int VersionManager::compareWithCurrentVersion(bool withPatch) const {
    return compareParts(major_, minor_, patch_, kCurrentMajor, kCurrentMinor, kCurrentPatch, withPatch);
}

std::string VersionManager::createVersion(uint32_t major, uint32_t minor, uint32_t patch,
                                          const std::string& tag) {
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch) + "." + tag;
}

}  // namespace Core
}  // namespace Quorvane
