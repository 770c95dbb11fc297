#pragma once
// A placement of a shared geometry: nodes hold instances as they hold
// geometries, and an instance draws and bounds itself with its geometry.
// The scene file stores its name, its ID and its geometry's ID (0 for none).

#include "VSerializable.h"
#include "VTraversalContext.h"

#include <cstdint>
#include <string>

class VGeometry;

class VGeometryInstance : public VSerializable {
  public:
    VGeometryInstance(const std::string& name, VGeometry* geometry);

    const std::string& name() const { return mName; }
    uint32_t id() const { return mId; }
    VGeometry* geometry() const { return mGeometry; }
    void setGeometry(VGeometry* geometry) { mGeometry = geometry; }
    // The geometry ID read from a file, for the resource manager to resolve.
    uint32_t storedGeometryId() const { return mStoredGeometryId; }

    // The geometry's sphere; null without a geometry or when it has none.
    BoundingSphere* boundingSphere();
    void draw(const VTraversalContext& context, VDrawStatistics& statistics);
    void init(const VTraversalContext& context);

    void write(std::ostream& out) const override;
    void writeClassName(std::ostream& out) const override { out << "VGeometryInstance\n"; }
    void read(std::istream& in, bool& ok) override;

  private:
    std::string mName;
    uint32_t mId;
    VGeometry* mGeometry;
    uint32_t mStoredGeometryId = 0;
};
