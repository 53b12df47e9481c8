#include "task/HostEntry.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>

#include "core/Json.h"
#include "core/Log.h"
#include "task/RenderChild.h"
#include "task/quorvane.h"

using Quorvane::Core::HostRenderRecord;

namespace {

namespace Json = Quorvane::Core::Json;
using Quorvane::Core::QVPrint;
// Every function of this family logs or allocates, so it runs inside the fork
// gate (see RenderForkGate), but for the render itself in nRenderProcessStart.
using Gate = Quorvane::Core::RenderForkGateShared;
using Quorvane::Core::RenderForkGate;

// The live records by handle number. A handle is a serial number rather than
// the record's address: an address comes back from the allocator for the next
// record, so a released handle would silently name someone else's render.
// The lock also guards every field of every record (setters on one thread,
// a start copying the options on another). Its place among the library's
// locks: see RenderForkGate.
struct HostRegistry {
    std::mutex lock;
    // Shared: a running start keeps its record alive past a release.
    std::map<unsigned long, std::shared_ptr<HostRenderRecord>> records;
    unsigned long lastHandle = 0;
};

HostRegistry& registry() {
    static HostRegistry instance;
    return instance;
}

// A handle text is read as the decimal number it starts with; a text that
// reads as 0 or below names nothing.
unsigned long handleNumber(const char* handle) {
    if (!handle) return 0;
    long long number = strtoll(handle, nullptr, 10);
    return number > 0 ? static_cast<unsigned long>(number) : 0;
}

// The record a handle names, taken out of the registry when `take`; under
// the registry's lock.
std::shared_ptr<HostRenderRecord> lockedRecord(const char* handle, bool take) {
    unsigned long number = handleNumber(handle);
    if (number == 0) return nullptr;
    HostRegistry& reg = registry();
    auto it = reg.records.find(number);
    if (it == reg.records.end()) return nullptr;
    std::shared_ptr<HostRenderRecord> record = it->second;
    if (take) reg.records.erase(it);
    return record;
}

// A text result the host frees with free(); at least `capacity` bytes.
char* hostText(const std::string& text, size_t capacity = 0) {
    size_t size = std::max(text.size() + 1, capacity);
    auto* buffer = static_cast<char*>(malloc(size));
    if (!buffer) return nullptr;
    memcpy(buffer, text.data(), text.size());
    memset(buffer + text.size(), 0, size - text.size());
    return buffer;
}

// The status words are at most six letters; hosts were promised twelve bytes.
constexpr size_t kStatusTextSize = 12;

// Parses a JSON array. On failure returns false and sets the error code to
// report: the parser's, or 0 when the text parsed to something else.
bool parseArray(const char* text, Json::Document& doc, int& errorCode) {
    errorCode = 0;
    if (!Json::parse(doc, text, strlen(text), Json::ByteOrderMark::Reject)) {
        // Refused before parsing (nested too deeply): reported as a parse that was stopped.
        errorCode = doc.HasParseError() ? static_cast<int>(doc.GetParseError())
                                        : static_cast<int>(rapidjson::kParseErrorTermination);
        return false;
    }
    return doc.IsArray();
}

// The strings of a parsed array, in order; other elements are skipped and
// counted in a log line.
std::vector<std::string> stringsOf(const Json::Document& doc) {
    std::vector<std::string> strings;
    int skipped = 0;
    for (const Json::Value& element : doc.GetArray()) {
        std::string text;
        if (Json::getString(element, text)) {
            strings.push_back(std::move(text));
        } else {
            ++skipped;
        }
    }
    if (skipped) QVPrint("paths json holds %d elements that are not texts, skipped", skipped);
    return strings;
}

std::shared_ptr<HostRenderRecord> shareRecord(const char* handle) {
    std::lock_guard<std::mutex> guard(registry().lock);
    return lockedRecord(handle, false);
}

// Runs a setter on the record the handle names, under the registry's lock:
// 1 for no record or a null text.
template <typename Set>
int setOn(const char* handle, std::initializer_list<const char*> texts, Set set) {
    Gate gate(RenderForkGate());
    std::lock_guard<std::mutex> guard(registry().lock);
    std::shared_ptr<HostRenderRecord> record = lockedRecord(handle, false);
    if (!record) return 1;
    for (const char* text : texts) {
        if (!text) return 1;
    }
    return set(*record);
}

// Sets one text field of the record the handle names; 1 for a null text.
int setText(const char* handle, std::string HostRenderRecord::*field, const char* text) {
    return setOn(handle, {text}, [&](HostRenderRecord& r) {
        r.*field = text;
        return 0;
    });
}

// Sets one number field of the record the handle names.
template <typename Field>
int setNumber(const char* handle, Field HostRenderRecord::*field, Field value) {
    return setOn(handle, {}, [&](HostRenderRecord& r) {
        r.*field = value;
        return 0;
    });
}

}  // namespace

namespace Quorvane {
namespace Core {

HostRenderRecord* FindHostRenderRecord(const char* handle) {
    return shareRecord(handle).get();
}

int CreateNativeRender(HostRenderRecord& record) {
    Gate gate(RenderForkGate());
    // The options as they are now; a setter may run on another thread.
    HostRenderRecord r;
    {
        std::lock_guard<std::mutex> guard(registry().lock);
        r = record;
    }
    // The slot is the record's own: pollers read it (under the native record lock).
    unsigned long* slot = &record.slot;
    // A record started again would otherwise lose its first native render.
    if (r.slot) zr_render_process_release(slot);
    const int key = static_cast<int>(r.key);
    const int created = zr_create_render_process(slot, r.templatePath.c_str(), r.outputPath.c_str(), key);
    QVPrint("Start process  : start ret : %d : key %d ", created, key);

    if (!r.replaceableFiles.empty()) zr_render_process_set_replaceable_files(slot, &r.replaceableFiles);
    if (!r.dynamicSubFiles.empty()) zr_render_process_set_dynamic_sub_files(slot, r.dynamicSubFiles);
    if (!r.musicPath.empty()) {
        zr_render_process_set_music_path(slot, r.musicPath, r.musicLoop);
        zr_render_process_set_music_volume(slot, r.musicVolume);
        zr_render_process_set_music_fadeout_duration(slot, r.musicFadeoutDuration);
    }
    if (!r.scriptMainFile.empty()) {
        zr_render_process_set_lua_main_file(slot, r.scriptMainFile);
        zr_render_process_set_lua_dir(slot, r.scriptFolder);
        zr_render_process_set_lua_data(slot, r.scriptData);
    }
    if (r.bitrateControl > 0.0f) zr_render_process_set_bitrate_control(slot, r.bitrateControl);
    if (!r.watermarks.empty()) zr_render_process_set_watermarks(slot, r.watermarks);
    if (!r.scrivanePath.empty()) zr_render_process_set_scrivane_path(slot, r.scrivanePath);
    if (!r.assetPath.empty()) zr_render_process_set_asset_path(slot, r.assetPath);
    if (!r.dynamicSubTexts.empty()) zr_render_process_set_dynamic_sub_texts(slot, r.dynamicSubTexts);
    if (!r.snapshotPath.empty() && !r.snapshotFrames.empty()) {
        zr_render_process_set_snapshot_dir(slot, r.snapshotPath);
        zr_render_process_set_snapshot_frames(
            slot, std::vector<int>(r.snapshotFrames.begin(), r.snapshotFrames.end()));
    }
    return created;
}

}  // namespace Core
}  // namespace Quorvane

extern "C" {

char* nCreateRenderProcess(const char* templatePath, const char* outputPath, int key) {
    Gate gate(RenderForkGate());
    QVPrint("Quorvane version : %s", Quorvane::Core::QVVersion());
    if (!templatePath || !outputPath) return hostText("");
    auto record = std::make_unique<HostRenderRecord>();
    record->key = key;
    record->templatePath = templatePath;
    record->outputPath = outputPath;
    unsigned long number;
    {
        HostRegistry& reg = registry();
        std::lock_guard<std::mutex> guard(reg.lock);
        number = ++reg.lastHandle;
        reg.records.emplace(number, std::move(record));
    }
    return hostText(std::to_string(number));
}

int nRenderProcessSetReplaceableFiles(const char* handle, const char* pathsJson) {
    return setOn(handle, {pathsJson}, [&](HostRenderRecord& r) {
        Json::Document doc;
        int error;
        if (!parseArray(pathsJson, doc, error)) {
            QVPrint("paths json parse error with %d, will skip set assets ", error);
            return 1;
        }
        for (std::string& path : stringsOf(doc)) r.replaceableFiles.push_back(std::move(path));
        return 0;
    });
}

int nRenderProcessSetDynamicSubFiles(const char* handle, const char* json) {
    return setText(handle, &HostRenderRecord::dynamicSubFiles, json);
}

int nRenderProcessSetDynamicSubTexts(const char* handle, const char* json) {
    return setText(handle, &HostRenderRecord::dynamicSubTexts, json);
}

int nRenderProcessSetAssetPath(const char* handle, const char* path) {
    return setText(handle, &HostRenderRecord::assetPath, path);
}

int nRenderProcessSetScrivanePath(const char* handle, const char* path) {
    return setText(handle, &HostRenderRecord::scrivanePath, path);
}

int nRenderProcessSetScript(const char* handle, const char* mainFile, const char* folder, const char* data) {
    return setOn(handle, {mainFile, folder, data}, [&](HostRenderRecord& r) {
        r.scriptMainFile = mainFile;
        r.scriptFolder = folder;
        r.scriptData = data;
        return 0;
    });
}

int nRenderProcessSetSnapShotPath(const char* handle, const char* path) {
    return setText(handle, &HostRenderRecord::snapshotPath, path);
}

int nRenderProcessSetSnapShotFrames(const char* handle, const char* framesJson) {
    return setOn(handle, {framesJson}, [&](HostRenderRecord& r) {
        Json::Document doc;
        int error;
        if (!parseArray(framesJson, doc, error)) {
            QVPrint("frames json parse error with %d, will skip set snapshot frames ", error);
            return 1;
        }
        int skipped = 0;
        for (const Json::Value& element : doc.GetArray()) {
            int32_t frame;
            if (Json::getInt(element, frame)) {
                r.snapshotFrames.push_back(frame);
            } else {
                ++skipped;
            }
        }
        if (skipped) QVPrint("frames json holds %d elements that are not 32-bit integers, skipped", skipped);
        return 0;
    });
}

int nRenderProcessSetMusicFile(const char* handle, const char* path, int loop) {
    return setOn(handle, {path}, [&](HostRenderRecord& r) {
        r.musicPath = path;
        r.musicLoop = loop != 0;
        return 0;
    });
}

int nRenderProcessSetMusicLoop(const char* handle, int loop) {
    return setOn(handle, {}, [&](HostRenderRecord& r) {
        r.musicLoop = loop != 0;
        return 0;
    });
}

int nRenderProcessSetMusicVolume(const char* handle, float volume) {
    // Stored as given: the render child ignores a volume it cannot use.
    return setNumber(handle, &HostRenderRecord::musicVolume, volume);
}

int nRenderProcessSetMusicFadeoutDuration(const char* handle, int duration) {
    return setNumber(handle, &HostRenderRecord::musicFadeoutDuration, duration);
}

int nRenderProcessSetBitrateControl(const char* handle, float factor) {
    // Stored as given: start forwards only a factor above 0, and the render
    // child ignores one it cannot use.
    return setNumber(handle, &HostRenderRecord::bitrateControl, factor);
}

int nRenderProcessAddWatermark(const char* handle, const char* pathsJson, float x, float y, float start,
                               float duration, float scaleX, float scaleY) {
    return setOn(handle, {pathsJson}, [&](HostRenderRecord& r) {
        Json::Document doc;
        int error;
        if (!parseArray(pathsJson, doc, error)) {
            QVPrint("paths json parse error with %d, will skip set watermark ", error);
            return 1;
        }
        if (doc.Empty()) return 1;
        std::vector<std::string> paths = stringsOf(doc);
        // A watermark without a single image would show nothing.
        if (paths.empty()) return 1;
        r.watermarks.push_back(
            Quorvane::Core::Watermark::fromHost(std::move(paths), x, y, start, duration, scaleX, scaleY));
        return 0;
    });
}

int nRenderProcessStart(const char* handle) {
    Gate gate(RenderForkGate());
    HostRegistry& reg = registry();
    std::shared_ptr<HostRenderRecord> record;
    {
        // Found and claimed at once: a release in between would otherwise
        // free it under a start that goes on.
        std::lock_guard<std::mutex> guard(reg.lock);
        record = lockedRecord(handle, false);
        if (!record) return 1;
        if (record->running) {
            QVPrint("Start process refused: the render of handle %s is running already", handle);
            return 1;
        }
        record->running = true;
    }
    Quorvane::Core::CreateNativeRender(*record);
    // Only this start writes the slot while the claim holds.
    const bool created = record->slot != 0;
    gate.unlock();
    // No native record means no render: that is no success.
    const int result = created ? zr_render_process_start(&record->slot, nullptr) : 1;
    gate.lock();
    bool released;
    {
        std::lock_guard<std::mutex> guard(reg.lock);
        record->running = false;
        released = record->released;
    }
    if (released) zr_render_process_release(&record->slot);
    return result;
}

char* nRenderProcessStatus(const char* handle) {
    Gate gate(RenderForkGate());
    std::shared_ptr<HostRenderRecord> record = shareRecord(handle);
    const char* status = record ? zr_render_process_status(&record->slot) : nullptr;
    if (!status) return hostText("");
    QVPrint("%s", status);
    return hostText(status, kStatusTextSize);
}

char* nRenderProcessRenderedInfo(const char* handle) {
    Gate gate(RenderForkGate());
    std::shared_ptr<HostRenderRecord> record = shareRecord(handle);
    if (!record) return hostText("");
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    for (const auto& [key, value] : zr_render_process_rendered_info(&record->slot)) {
        writer.Key(key.data(), static_cast<rapidjson::SizeType>(key.size()));
        writer.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
    }
    writer.EndObject();
    std::string text(buffer.GetString(), buffer.GetSize());
    QVPrint("%s", text.c_str());
    return hostText(text);
}

void nRenderProcessRelease(const char* handle) {
    Gate gate(RenderForkGate());
    std::shared_ptr<HostRenderRecord> record;
    {
        // Taken out and checked at once, against a start claiming it meanwhile.
        std::lock_guard<std::mutex> guard(registry().lock);
        record = lockedRecord(handle, true);
        if (!record) return;
        if (record->running) {
            record->released = true;
            return;
        }
    }
    zr_render_process_release(&record->slot);
}

}  // extern "C"
