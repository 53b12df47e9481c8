#include "render/TransformManager.h"

#include <algorithm>
#include <iterator>

#include "core/FileCodec.h"
#include "core/Float.h"
#include "core/Json.h"
#include "core/Log.h"
#include "core/Rotation.h"
#include "render/Config.h"
#include "render/DataFileCache.h"

namespace Quorvane {
namespace Core {

Mat4 TransformManager::mIdentity(true);

namespace {

using Json::Value;

const Vec3 kZero;

// A record set at most this many frames past the end of the per-frame list
// extends the list with copies; one farther away starts a run instead, so a
// record at frame 2^24 costs a record, not 2^24 of them.
constexpr uint64_t kLargestFilledGap = 64;

Vec3 degreesToRadians(Vec3 const& degrees) {
    return Vec3(degrees.x * Float::degreesToRadiansFactor, degrees.y * Float::degreesToRadiansFactor,
                degrees.z * Float::degreesToRadiansFactor);
}

Mat4* copyOf(Mat4 const* m) {
    return m ? new Mat4(*m) : nullptr;
}

void drop(Mat4*& m) {
    delete m;
    m = nullptr;
}

}  // namespace

// ---- TransformData ----

TransformManager::TransformData::TransformData() = default;

TransformManager::TransformData::TransformData(Value const& record) {
    if (!record.IsObject()) return;
    struct RecordKey {
        const char* key;
        void (*read)(TransformData&, Value const&);
    };
    static const RecordKey kRecordKeys[] = {
        {"a", [](TransformData& d, Value const& v) { Json::getVec3(v, d.anchor_, 0.0f); }},
        {"p", [](TransformData& d, Value const& v) { Json::getVec3(v, d.position_, 0.0f); }},
        {"s", [](TransformData& d, Value const& v) { Json::getVec3(v, d.scale_, 1.0f); }},
        {"r",
         [](TransformData& d, Value const& v) {
             Vec3 degrees;
             if (Json::getNumber(v, degrees.z) ||
                 (v.IsArray() && v.Size() == 3 && Json::getVec3(v, degrees, 0.0f))) {
                 d.rotation_ = degreesToRadians(degrees);
             }
         }},
        {"t", [](TransformData& d, Value const& v) { Json::getNumber(v, d.alpha_); }},
    };
    for (auto const& member : record.GetObject()) {
        for (RecordKey const& entry : kRecordKeys) {
            if (Json::nameIs(member.name, entry.key)) {
                entry.read(*this, member.value);
                break;
            }
        }
    }
}

TransformManager::TransformData::TransformData(TransformData const& other)
    : dirty_(other.dirty_),
      anchor_(other.anchor_),
      position_(other.position_),
      scale_(other.scale_),
      rotation_(other.rotation_),
      alpha_(other.alpha_),
      transformCache_(copyOf(other.transformCache_)),
      aeTransformCache_(copyOf(other.aeTransformCache_)),
      transformOffsetCache_(copyOf(other.transformOffsetCache_)),
      aeTransformOffsetCache_(copyOf(other.aeTransformOffsetCache_)) {}

TransformManager::TransformData::~TransformData() {
    delete transformCache_;
    delete aeTransformCache_;
    delete transformOffsetCache_;
    delete aeTransformOffsetCache_;
}

void TransformManager::TransformData::setAnchor(Vec3 const& anchor) {
    anchor_ = anchor;
    resetTransformCache();
}

void TransformManager::TransformData::setPosition(Vec3 const& position) {
    position_ = position;
    resetTransformCache();
}

void TransformManager::TransformData::setScale(Vec3 const& scale) {
    scale_ = scale;
    resetTransformCache();
}

void TransformManager::TransformData::setRotation(Vec3 const& degrees) {
    rotation_ = degreesToRadians(degrees);
    resetTransformCache();
}

void TransformManager::TransformData::dropStaleCache() {
    if (!dirty_) return;
    drop(transformCache_);
    drop(aeTransformCache_);
    drop(transformOffsetCache_);
    drop(aeTransformOffsetCache_);
    dirty_ = false;
}

Mat4 TransformManager::TransformData::layerMatrix(Vec3 const& anchor) const {
    Quaternion q;
    q.setWithEuler(Euler(rotation_.x, rotation_.y, rotation_.z, Euler::kRotationOrderXyz));
    Mat4 m(true);
    m.compose(anchor, position_, q, scale_);
    return m;
}

Mat4 TransformManager::TransformData::glMatrix(Mat4 const& layer, float width, float height, bool camera) {
    if (!camera) return ConvertCoordinateFrom3DTo2D(layer, width, height);
    // A camera layer's matrix becomes the view: its y axis is flipped back and
    // the origin moved to the composition's top left corner.
    Mat4 g = ConvertCoordinateFrom3DTo2D(layer, width, height);
    g.m[4] = -g.m[4];
    g.m[5] = -g.m[5];
    g.m[6] = -g.m[6];
    g.translate(-width / 2.0f, -height / 2.0f, 0.0f);
    g.scale(1.0f, -1.0f, 1.0f);
    return g;
}

Mat4 const* TransformManager::TransformData::aeTransform() {
    dropStaleCache();
    if (!aeTransformCache_) aeTransformCache_ = new Mat4(layerMatrix(anchor_));
    return aeTransformCache_;
}

Mat4 const* TransformManager::TransformData::transform(float width, float height, bool camera) {
    dropStaleCache();
    if (!transformCache_) transformCache_ = new Mat4(glMatrix(*aeTransform(), width, height, camera));
    return transformCache_;
}

Mat4 const* TransformManager::TransformData::aeTransformOffset(Vec3 const& offset) {
    dropStaleCache();
    if (!aeTransformOffsetCache_) aeTransformOffsetCache_ = new Mat4(layerMatrix(anchor_ - offset));
    return aeTransformOffsetCache_;
}

Mat4 const* TransformManager::TransformData::transformWithAnchorOffset(Vec3 const& offset, float width,
                                                                       float height, bool camera) {
    dropStaleCache();
    if (offset.isZero()) return transform(width, height, camera);
    if (!transformOffsetCache_) {
        transformOffsetCache_ = new Mat4(glMatrix(*aeTransformOffset(offset), width, height, camera));
    }
    return transformOffsetCache_;
}

// ---- TransformManager ----

TransformManager::TransformManager() = default;

namespace {

// Whether two records show exactly the same (no tolerance: a shared record
// must draw what each of its frames would), so that consecutive frames may
// share one.
bool sameShown(TransformManager::TransformData const& a, TransformManager::TransformData const& b) {
    auto same = [](Vec3 const& u, Vec3 const& v) { return u.x == v.x && u.y == v.y && u.z == v.z; };
    return same(a.anchor(), b.anchor()) && same(a.position(), b.position()) && same(a.scale(), b.scale()) &&
           same(a.rotation(), b.rotation()) && a.alpha() == b.alpha();
}

}  // namespace

TransformManager::TransformManager(TransformManager const& other) : shared_(other.shared_) {
    for (const auto& copy : other.copies_) copies_.emplace(copy.first, new TransformData(*copy.second));
    transforms_.reserve(other.transforms_.size());
    for (size_t i = 0; i < other.transforms_.size(); ++i) {
        const bool shared = i > 0 && other.transforms_[i] == other.transforms_[i - 1];
        transforms_.push_back(shared ? transforms_.back() : new TransformData(*other.transforms_[i]));
    }
    for (const auto& run : other.runs_) runs_.emplace(run.first, new TransformData(*run.second));
}

TransformManager::~TransformManager() {
    clear();
}

void TransformManager::clear() {
    shared_.reset();
    copies_.clear();
    // A record shared by consecutive frames is deleted once.
    for (size_t i = 0; i < transforms_.size(); ++i) {
        if (i == 0 || transforms_[i] != transforms_[i - 1]) delete transforms_[i];
    }
    transforms_.clear();
    for (auto& run : runs_) delete run.second;
    runs_.clear();
}

std::vector<TransformManager::TransformData*>& TransformManager::transforms() {
    unshare();
    return transforms_;
}

void TransformManager::unshare() {
    if (!shared_) return;
    const std::shared_ptr<TransformManager const> shared = std::move(shared_);
    // The shared track holds no runs, and a record shared by frames is one
    // unbroken run there, so its one copy is one here too.
    transforms_.reserve(shared->transforms_.size());
    for (TransformData const* record : shared->transforms_) {
        std::unique_ptr<TransformData>& copy = copies_[record];
        if (!copy) copy.reset(new TransformData(*record));
        transforms_.push_back(copy.get());
    }
    for (auto& copy : copies_) copy.second.release();
    copies_.clear();
}

int64_t TransformManager::frameCount() const {
    if (shared_) return shared_->frameCount();
    return runs_.empty() ? static_cast<int64_t>(transforms_.size()) : runs_.rbegin()->first + 1;
}

size_t TransformManager::listedFrames() const {
    return shared_ ? shared_->listedFrames() : transforms_.size();
}

size_t TransformManager::recordCount() const {
    if (shared_) return shared_->recordCount();
    size_t records = runs_.size();
    for (size_t i = 0; i < transforms_.size(); ++i)
        if (i == 0 || transforms_[i] != transforms_[i - 1]) ++records;
    return records;
}

namespace {

// A cached copy: the record, its four matrices and its map node, each a heap
// block with the allocator's header, and its slot in the map's buckets.
constexpr size_t kCachedCopyBytes = sizeof(TransformManager::TransformData) + 4 * sizeof(Mat4) +
                                    3 * sizeof(void*) + 6 * 2 * sizeof(void*) + sizeof(void*);

}  // namespace

size_t TransformManager::cachedBytes() const {
    return copies_.size() * kCachedCopyBytes;
}

size_t TransformManager::cacheGrowthAt(int64_t t) const {
    if (!shared_) return 0;
    TransformData const* record = shared_->at(t);
    return record && copies_.find(record) == copies_.end() ? kCachedCopyBytes : 0;
}

TransformManager::TransformData const* TransformManager::recordShown(int64_t t) const {
    return shared_ ? shared_->at(t) : at(t);
}

TransformManager::TransformData* TransformManager::at(int64_t t) const {
    if (shared_) {
        TransformData const* record = shared_->at(t);
        if (!record) return nullptr;
        std::unique_ptr<TransformData>& copy = copies_[record];
        if (!copy) copy.reset(new TransformData(*record));
        return copy.get();
    }
    if (transforms_.empty()) return nullptr;
    if (t >= 0 && static_cast<uint64_t>(t) < transforms_.size()) return transforms_[static_cast<size_t>(t)];
    if (runs_.empty()) return transforms_.back();
    if (t < 0) return runs_.rbegin()->second;
    auto next = runs_.upper_bound(t);
    return next == runs_.begin() ? transforms_.back() : std::prev(next)->second;
}

Vec3 const& TransformManager::anchor(int64_t t) const {
    TransformData const* record = recordShown(t);
    return record ? record->anchor() : kZero;
}

Vec3 const& TransformManager::position(int64_t t) const {
    TransformData const* record = recordShown(t);
    return record ? record->position() : kZero;
}

Vec3 const& TransformManager::scale(int64_t t) const {
    TransformData const* record = recordShown(t);
    return record ? record->scale() : kZero;
}

Vec3 const& TransformManager::rotation(int64_t t) const {
    TransformData const* record = recordShown(t);
    return record ? record->rotation() : kZero;
}

float TransformManager::alpha(int64_t t) const {
    TransformData const* record = recordShown(t);
    return record ? record->alpha() : 1.0f;
}

Mat4 const* TransformManager::aetransform(int64_t t) {
    TransformData* record = at(t);
    return record ? record->aeTransform() : &mIdentity;
}

Mat4 const* TransformManager::transform(int64_t t, float width, float height, bool camera) {
    TransformData* record = at(t);
    return record ? record->transform(width, height, camera) : &mIdentity;
}

Mat4 TransformManager::aetransformWithAnchorOffset(int64_t t) {
    TransformData* record = at(t);
    return record ? *record->aeTransformOffset(anchorOffset_) : mIdentity;
}

Mat4 TransformManager::transformWithAnchorOffset(int64_t t, float width, float height, bool camera) {
    TransformData* record = at(t);
    return record ? *record->transformWithAnchorOffset(anchorOffset_, width, height, camera) : mIdentity;
}

TransformManager::TransformData** TransformManager::slot(int64_t t) {
    if (t < 0) return nullptr;
    unshare();
    const uint64_t frame = static_cast<uint64_t>(t);
    if (frame < transforms_.size()) {
        // A frame about to change gets a record of its own; the frames after
        // it in the same run get another, so that every shared record stays
        // one unbroken run (which is how clear() deletes it once).
        const size_t i = static_cast<size_t>(frame);
        TransformData* const old = transforms_[i];
        const bool before = i > 0 && transforms_[i - 1] == old;
        const bool after = i + 1 < transforms_.size() && transforms_[i + 1] == old;
        if (before || after) transforms_[i] = new TransformData(*old);
        if (before && after) {
            TransformData* const tail = new TransformData(*old);
            for (size_t j = i + 1; j < transforms_.size() && transforms_[j] == old; ++j) transforms_[j] = tail;
        }
        return &transforms_[i];
    }
    if (runs_.empty() && frame - transforms_.size() <= kLargestFilledGap) {
        while (transforms_.size() <= frame) {
            transforms_.push_back(transforms_.empty() ? new TransformData()
                                                      : new TransformData(*transforms_.back()));
        }
        return &transforms_.back();
    }
    // A run: the record shows from its frame up to the next run's. The frames
    // around t keep what they showed, as the per-frame list would.
    if (transforms_.empty()) transforms_.push_back(new TransformData());
    auto found = runs_.find(t);
    if (found != runs_.end()) return &found->second;
    TransformData const* shown = at(t);
    auto next = runs_.upper_bound(t);
    if (next != runs_.end() && next->first > t + 1) runs_.emplace(t + 1, new TransformData(*shown));
    return &runs_.emplace(t, new TransformData(*shown)).first->second;
}

TransformManager::TransformData* TransformManager::createDataAtTime(int64_t t) {
    TransformData** record = slot(t);
    return record ? *record : nullptr;
}

void TransformManager::setAnchorAtTime(Vec3 const& anchor, int64_t t) {
    if (TransformData* record = createDataAtTime(t)) record->setAnchor(anchor);
}

void TransformManager::setPositionAtTime(Vec3 const& position, int64_t t) {
    if (TransformData* record = createDataAtTime(t)) record->setPosition(position);
}

void TransformManager::setScaleAtTime(Vec3 const& scale, int64_t t) {
    if (TransformData* record = createDataAtTime(t)) record->setScale(scale);
}

void TransformManager::setRotationAtTime(Vec3 const& degrees, int64_t t) {
    if (TransformData* record = createDataAtTime(t)) record->setRotation(degrees);
}

void TransformManager::setAlphaAtTime(float alpha, int64_t t) {
    if (TransformData* record = createDataAtTime(t)) record->setAlpha(alpha);
}

void TransformManager::load(Value const& value) {
    clear();
    if (value.IsArray()) {
        // No render lasts more frames than the longest timeline: records past
        // it would never show, and a data file of bare numbers would make one
        // heap record of each two bytes.
        const size_t count = std::min<size_t>(value.Size(), Config::kMaxTimelineFrames);
        if (count < value.Size()) {
            QVPrint("transform track of %zu records keeps the first %zu", static_cast<size_t>(value.Size()), count);
        }
        transforms_.reserve(count);
        for (Value const& record : value.GetArray()) {
            if (transforms_.size() == count) break;
            append(record);
        }
    } else if (value.IsObject()) {
        transforms_.push_back(new TransformData(value));
    }
}

void TransformManager::loadNewData(Value const& value, int64_t t) {
    if (t < 1) {
        load(value);
        return;
    }
    // The track is padded to t frames (copies of its last record), then an
    // array follows its last record and an object takes frame t.
    auto place = [this](int64_t frame, TransformData* record) {
        TransformData** entry = slot(frame);
        delete *entry;
        *entry = record;
    };
    if (value.IsArray()) {
        int64_t frame = std::max(t, frameCount());
        for (Value const& record : value.GetArray()) place(frame++, new TransformData(record));
        return;
    }
    place(t, new TransformData(value));
}

void TransformManager::load(std::string const& path, DataFileCache* cache) {
    std::shared_ptr<TransformManager const> track = DataFileCache::get<TransformManager>(
        cache, path, "transform track", [&path] { return read(path); });
    if (!track) return;
    clear();
    shared_ = std::move(track);
}

std::shared_ptr<TransformManager const> TransformManager::read(std::string const& path) {
    FileCodec codec(FileCodec::getFileCodecVersion(path));
    codec.decodePack(path);
    const uint64_t size = std::min<uint64_t>(codec.size, codec.content.size());
    // Element by element: the file never lives whole as JSON values, which
    // take 16 bytes for each number of a file of bare numbers.
    auto loaded = std::make_shared<TransformManager>();
    size_t elements = 0;
    const bool parsed = Json::parseArrayElements(codec.content.data(), size, [&](Value const& record) {
        ++elements;
        if (loaded->transforms_.size() >= Config::kMaxTimelineFrames) return false;
        loaded->append(record);
        return true;
    });
    if (!parsed) return nullptr;
    if (elements > loaded->transforms_.size()) {
        QVPrint("transform track %s keeps the first %zu records", path.c_str(), loaded->transforms_.size());
    }
    return loaded;
}

void TransformManager::append(Value const& record) {
    // Consecutive frames that show the same share one record: a still layer
    // (or a file of bare numbers, all defaults) costs a pointer a frame.
    TransformData parsed(record);
    if (!transforms_.empty() && sameShown(parsed, *transforms_.back())) {
        transforms_.push_back(transforms_.back());
    } else {
        transforms_.push_back(new TransformData(parsed));
    }
}

Mat4 TransformManager::ConvertCoordinateFrom3DTo2D(Mat4 const& m, float width, float height) {
    const Mat4 k = Mat4::getAEToGLConversionMatrix(width, height);
    Mat4 inverse(true);
    k.getInverse(inverse);
    return k * m * inverse;
}

}  // namespace Core
}  // namespace Quorvane
