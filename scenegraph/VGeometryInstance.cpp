#include "VGeometryInstance.h"

#include "SceneFileText.h"
#include "SceneObjectId.h"
#include "VGeometry.h"

VGeometryInstance::VGeometryInstance(const std::string& name, VGeometry* geometry)
    : mName(name), mId(nextSceneObjectId()), mGeometry(geometry) {}

BoundingSphere* VGeometryInstance::boundingSphere() { return mGeometry ? mGeometry->boundingSphere() : nullptr; }

void VGeometryInstance::draw(const VTraversalContext& context, VDrawStatistics& statistics) {
    if (mGeometry) mGeometry->draw(context, statistics);
}

void VGeometryInstance::init(const VTraversalContext& context) {
    if (mGeometry) mGeometry->init(context);
}

void VGeometryInstance::write(std::ostream& out) const {
    out << mName << "\n" << mId << "\ngeometry ID:\n" << (mGeometry ? mGeometry->id() : 0u) << "\n";
}

void VGeometryInstance::read(std::istream& in, bool& ok) {
    mGeometry = nullptr;
    scenefile::readLine(in, mName, ok);
    scenefile::readValue(in, mId, ok);
    scenefile::skipLabel(in, ok);
    scenefile::readValue(in, mStoredGeometryId, ok);
}
