#pragma once
// Everything a scene node can show: a sky box, terrain patches, line
// helpers, hierarchies. The base keeps identity, bounding sphere and
// counters, and runs the drawing protocol: build the arrays on first use,
// then draw from buffer objects when the geometry asks for them and the
// driver has them, else in immediate mode.

#include "BoundingSphere.h"
#include "VSerializable.h"
#include "VTraversalContext.h"

#include <cstdint>
#include <string>
#include <vector>

class VGeometry : public VSerializable {
  public:
    VGeometry(const std::string& name, bool useVBO);
    ~VGeometry() override = default;
    VGeometry(const VGeometry&) = delete;
    VGeometry& operator=(const VGeometry&) = delete;

    const std::string& name() const { return mName; }
    uint32_t id() const { return mId; }
    void setId(uint32_t id) { mId = id; }

    // Nothing when the context only selects; otherwise initialises on first
    // use, activates the scene geometries' default program and draws.
    virtual void draw(const VTraversalContext& context, VDrawStatistics& statistics);
    // buildGeometry, then initVBO where buffers are supported.
    virtual void init(const VTraversalContext& context);
    // Null when the geometry has no sphere.
    virtual BoundingSphere* boundingSphere() { return &mSphere; }
    void counters(uint32_t& points, uint32_t& lines, uint32_t& triangles) const;
    void setCounters(uint32_t points, uint32_t lines, uint32_t triangles);
    void resetCounters() { setCounters(0, 0, 0); }
    virtual void computeBoundingSphere() { mSphere = BoundingSphere(); }
    bool initialised() const { return mInitialised; }
    bool usesVBO() const { return mUseVBO; }
    // Whether drawing enables the scene geometries' default program first;
    // a geometry drawn with its owner's program keeps that one.
    virtual bool usesDefaultProgram() const { return true; }
    // Frees both arrays; the next draw builds them again.
    virtual void freeArrays();

    // The common scene-file part: name, ID, "bounding sphere:", centre, radius.
    void write(std::ostream& out) const override;
    void read(std::istream& in, bool& ok) override;

  protected:
    virtual void buildGeometry() {}
    virtual void initVBO() {}
    virtual void updateVBO() {}
    virtual void drawImmediate(const VTraversalContext&, VDrawStatistics&) {}
    virtual void drawVBO(const VTraversalContext&, VDrawStatistics&) {}

    std::string mName;
    uint32_t mId;
    BoundingSphere mSphere;
    uint32_t mPoints = 0, mLines = 0, mTriangles = 0;
    bool mInitialised = false;
    uint32_t mVertexCount = 0;
    std::vector<float> mVertices, mColours; // 4 floats per vertex each (the kind decides)
    bool mUseVBO = false;
};
