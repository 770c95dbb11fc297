#pragma once
// Vertex paths: a position (or a normal) as a function of time. A static
// vertex is one point; a key-frame vertex interpolates linearly between keys
// sorted by time. Files tell the kinds apart by a type byte.

#include "Vec3.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class ByteReader;

// True when every coordinate is a finite number of magnitude below 1e18, the
// range the geometry code can bound without overflowing float32.
bool isUsablePoint(const Vec3f& p);
extern const char* const kBadCoordinateMessage;
class ByteWriter;

class VVertex {
  public:
    enum Type : uint8_t { StaticType = 1, KeyFrameType = 2 };

    virtual ~VVertex() = default;
    virtual Vec3f evaluate(float time) const = 0;
    virtual std::unique_ptr<VVertex> clone() const = 0;
    virtual bool isStatic() const = 0;
    virtual Type type() const = 0;
    virtual void scale(float factor) = 0;
    virtual void translate(const Vec3f& offset) = 0;
    // Writes the type byte and the content.
    virtual void write(ByteWriter& out) const = 0;
    // Minimum and maximum corner over every point of the path.
    virtual void boundingBox(Vec3f& lo, Vec3f& hi) const = 0;
    virtual void negate() = 0;
    // Reads the content that follows the type byte. On failure returns false
    // with the reason in error; the vertex is then unusable.
    virtual bool read(ByteReader& in, std::string& error) = 0;

    // Reads a type byte and the path it announces. Returns null with the
    // reason in error when the data ends early, the type is neither 1 nor 2,
    // or a value is unusable.
    static std::unique_ptr<VVertex> readPath(ByteReader& in, std::string& error);
};

class VStaticVertex final : public VVertex {
  public:
    VStaticVertex() = default;
    explicit VStaticVertex(const Vec3f& p) : mPoint(p) {}

    Vec3f evaluate(float) const override { return mPoint; }
    std::unique_ptr<VVertex> clone() const override { return std::make_unique<VStaticVertex>(*this); }
    bool isStatic() const override { return true; }
    Type type() const override { return StaticType; }
    void scale(float factor) override { mPoint = mPoint * factor; }
    void translate(const Vec3f& offset) override { mPoint += offset; }
    void write(ByteWriter& out) const override;
    void boundingBox(Vec3f& lo, Vec3f& hi) const override;
    void negate() override { mPoint = -mPoint; }
    bool read(ByteReader& in, std::string& error) override;

    const Vec3f& point() const { return mPoint; }

  private:
    Vec3f mPoint;
};

class VKeyFrameVertex final : public VVertex {
  public:
    struct Key {
        Vec3f p;
        float t;
    };

    VKeyFrameVertex() = default;
    // keys must be sorted by time.
    explicit VKeyFrameVertex(std::vector<Key> keys) : mKeys(std::move(keys)) {}

    Vec3f evaluate(float time) const override;
    std::unique_ptr<VVertex> clone() const override { return std::make_unique<VKeyFrameVertex>(*this); }
    // Fewer than two keys cannot move.
    bool isStatic() const override { return mKeys.size() < 2; }
    Type type() const override { return KeyFrameType; }
    void scale(float factor) override;
    void translate(const Vec3f& offset) override;
    void write(ByteWriter& out) const override;
    void boundingBox(Vec3f& lo, Vec3f& hi) const override;
    void negate() override;
    bool read(ByteReader& in, std::string& error) override;

    const std::vector<Key>& keys() const { return mKeys; }
    std::vector<Key>& keys() { return mKeys; }

  private:
    std::vector<Key> mKeys;
};
