// A layer's transform track: one record per frame of the layer's local time,
// baked by the authoring application (nothing is interpolated at render time).
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/Matrix.h"
#include "core/Vector.h"

namespace Quorvane {
namespace Core {

class DataFileCache;

class TransformManager {
public:
    // One frame of the track. Its matrices are built on first request and kept
    // until a value they depend on changes (opacity is not one of them).
    class TransformData {
    public:
        TransformData();
        // The defaults, then the record keys "a", "p", "s" (2 or 3 numbers),
        // "r" (degrees: a number about z, or [x, y, z]) and "t" (opacity) in
        // document order; other keys and malformed members are passed over.
        explicit TransformData(rapidjson::Value const& record);
        // Copies the values, the dirty flag and every cached matrix.
        TransformData(TransformData const& other);
        TransformData& operator=(TransformData const&) = delete;
        ~TransformData();

        Vec3 const& anchor() const { return anchor_; }
        Vec3 const& position() const { return position_; }
        Vec3 const& scale() const { return scale_; }
        Vec3 const& rotation() const { return rotation_; }  // radians
        float alpha() const { return alpha_; }

        void setAnchor(Vec3 const& anchor);
        void setPosition(Vec3 const& position);
        void setScale(Vec3 const& scale);
        void setRotation(Vec3 const& degrees);
        void setAlpha(float alpha) { alpha_ = alpha; }
        void resetTransformCache() { dirty_ = true; }

        // The cached matrices, owned by the record and valid until it changes.
        // The cache is not keyed on the size, camera flag or offset: the first
        // request after a change decides the matrix kept.
        // Layer matrix in composition pixels: T(p) R(r) S(s) T(-a).
        Mat4 const* aeTransform();
        // The layer matrix re-expressed in the centred GL drawing space.
        Mat4 const* transform(float width, float height, bool camera);
        // As aeTransform with the anchor moved by -offset.
        Mat4 const* aeTransformOffset(Vec3 const& offset);
        // As transform, built from aeTransformOffset; a zero offset answers
        // transform().
        Mat4 const* transformWithAnchorOffset(Vec3 const& offset, float width, float height, bool camera);

    private:
        void dropStaleCache();
        Mat4 layerMatrix(Vec3 const& anchor) const;
        static Mat4 glMatrix(Mat4 const& layer, float width, float height, bool camera);

        bool dirty_ = true;
        Vec3 anchor_;
        Vec3 position_;
        Vec3 scale_{1.0f, 1.0f, 1.0f};
        Vec3 rotation_;
        float alpha_ = 1.0f;
        Mat4* transformCache_ = nullptr;
        Mat4* aeTransformCache_ = nullptr;
        Mat4* transformOffsetCache_ = nullptr;
        Mat4* aeTransformOffsetCache_ = nullptr;
    };

    // Answered for the matrices of an empty track.
    static Mat4 mIdentity;

    TransformManager();
    // Deep copy of the records (a track read from a data file stays shared);
    // the copy's anchor offset is zero.
    TransformManager(TransformManager const& other);
    TransformManager& operator=(TransformManager const&) = delete;
    virtual ~TransformManager();

    void clear();
    // The per-frame records from frame 0 on; callers may read them and append
    // owned records to a track without runs.
    std::vector<TransformData*>& transforms();
    // Frames the track holds records for, runs included.
    int64_t frameCount() const;
    // Read without copying a shared track (what its first change copies):
    // the frames of the per-frame list, and the records the track shows, each
    // once however many consecutive frames share it, runs included.
    size_t listedFrames() const;
    size_t recordCount() const;
    // Whether the records are still a data file's, shared with every track
    // naming it: the first change (transforms() or a keyframe) copies them.
    bool isShared() const { return shared_ != nullptr; }
    // What the matrix caches of a shared track hold: a copy per shared record
    // read, each counted with room for all its matrices (so that a later
    // request of another matrix adds nothing). A copy of the track copies them.
    size_t cachedBytes() const;
    // What reading a matrix of frame t adds to cachedBytes(): a copy of the
    // record t shows when the track has none yet.
    size_t cacheGrowthAt(int64_t t) const;
    void setAnchorOffset(Vec3 const& offset) { anchorOffset_ = offset; }
    Vec3 const& anchorOffset() const { return anchorOffset_; }

    // Lookups at local frame t: record t when 0 <= t < n, the last record
    // otherwise. An empty track answers zero vectors (scale included), opacity 1
    // and the identity.
    Vec3 const& anchor(int64_t t) const;
    Vec3 const& position(int64_t t) const;
    Vec3 const& scale(int64_t t) const;
    Vec3 const& rotation(int64_t t) const;
    float alpha(int64_t t) const;
    Mat4 const* aetransform(int64_t t);
    Mat4 const* transform(int64_t t, float width, float height, bool camera);
    Mat4 aetransformWithAnchorOffset(int64_t t);
    Mat4 transformWithAnchorOffset(int64_t t, float width, float height, bool camera);

    // The record of frame t, growing the track as if with copies of its last
    // record (default records when empty) up to t; null for a negative t. A t
    // far past the end starts a run instead of filling every frame between.
    TransformData* createDataAtTime(int64_t t);
    void setAnchorAtTime(Vec3 const& anchor, int64_t t);
    void setPositionAtTime(Vec3 const& position, int64_t t);
    void setScaleAtTime(Vec3 const& scale, int64_t t);
    void setRotationAtTime(Vec3 const& degrees, int64_t t);
    void setAlphaAtTime(float alpha, int64_t t);

    // Replaces the track: an array gives one record per element (at most one
    // per frame of the longest timeline), an object one record, anything else
    // an empty track. Consecutive frames that show the same share a record.
    void load(rapidjson::Value const& value);
    // New data from frame t: t < 1 replaces the track; otherwise the track is
    // padded to t records, then an array is appended after the last record and
    // an object replaces record t (or is appended when the track holds t).
    void loadNewData(rapidjson::Value const& value, int64_t t);
    // Loads a data file (plain or packed) whose root is an array of records. A
    // file that is missing, fails to parse (a byte-order mark included) or has
    // another root leaves the track unchanged. With a cache, the records are
    // read once and shared by every track that loads the file, until a track
    // changes its own (it then takes a copy).
    void load(std::string const& path, DataFileCache* cache = nullptr);

    // K m K^-1 with K the conversion from composition pixels (origin top left,
    // y down) to the centred, y-up, z-flipped drawing space of width x height.
    static Mat4 ConvertCoordinateFrom3DTo2D(Mat4 const& m, float width, float height);

private:
    TransformData* at(int64_t t) const;
    // The record frame t shows, for reading its values.
    TransformData const* recordShown(int64_t t) const;
    // The track's own records in place of the shared ones, before a change.
    void unshare();
    // Reads a data file's records; null when the track would stay unchanged.
    static std::shared_ptr<TransformManager const> read(std::string const& path);
    // The owning entry of frame t's record, made as createDataAtTime makes it
    // (a record shared with a neighbouring frame is first copied).
    TransformData** slot(int64_t t);
    // Appends the record of one frame, sharing the last one when it shows the same.
    void append(rapidjson::Value const& record);

    Vec3 anchorOffset_;
    std::vector<TransformData*> transforms_;
    // Records past the per-frame list, keyed by the first frame each shows;
    // each shows up to the next key, the last one from its key on.
    std::map<int64_t, TransformData*> runs_;
    // A track read from a data file, shared by every layer naming the file;
    // set, it stands in for the two above. Its records are never changed:
    // each frame's matrices are cached in a copy of its record owned by this
    // track (a copy per shared record, so the frames that share a record
    // share its matrices as the track's own records would).
    std::shared_ptr<TransformManager const> shared_;
    mutable std::unordered_map<TransformData const*, std::unique_ptr<TransformData>> copies_;
};

}  // namespace Core
}  // namespace Quorvane
