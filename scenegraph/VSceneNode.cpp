#include "VSceneNode.h"

#include "LogStream.h"
#include "SceneFileText.h"
#include "SceneMatrix.h"
#include "SceneObjectId.h"
#include "VGeometry.h"
#include "VGeometryInstance.h"
#include "VLineSphere.h"
#include "VResourceManager.h"

#include <GL/gl.h>

#include <algorithm>
#include <limits>
#include <sstream>

VSceneNode::VSceneNode(const std::string& name) : mName(name), mId(nextSceneObjectId()) {
    scenematrix::setIdentity(mLocal);
    scenematrix::setIdentity(mGlobal);
}

VSceneNode::VSceneNode(const double translation[3], const double rotation[9], const std::string& name)
    : VSceneNode(name) {
    for (int c = 0; c < 3; ++c) {
        for (int r = 0; r < 3; ++r) mLocal[4 * c + r] = rotation[3 * c + r];
        mLocal[12 + c] = translation[c];
    }
    std::copy(mLocal, mLocal + 16, mGlobal);
}

VSceneNode::~VSceneNode() = default;

bool VSceneNode::isSelfOrAncestor(const VSceneNode* node) const {
    for (const VSceneNode* n = this; n; n = n->mParent)
        if (n == node) return true;
    return false;
}

bool VSceneNode::addChild(VSceneNode* child) {
    if (!child || child->mParent || isSelfOrAncestor(child) || mChildren.count(child->mName)) return false;
    mChildren[child->mName] = child;
    child->mParent = this;
    child->updateMatrices();
    updateBoundingSpheresUpward();
    return true;
}

void VSceneNode::removeChild(const std::string& name) {
    auto found = mChildren.find(name);
    if (found == mChildren.end()) return;
    found->second->mParent = nullptr;
    mChildren.erase(found);
    updateBoundingSpheresUpward();
}

void VSceneNode::removeChild(VSceneNode* child) {
    if (child && child->mParent == this) removeChild(child->mName);
}

void VSceneNode::removeAllChildren() {
    for (auto& [name, child] : mChildren) child->mParent = nullptr;
    mChildren.clear();
    updateBoundingSpheresUpward();
}

bool VSceneNode::addGeometry(VGeometry* geometry) {
    if (!geometry || !mGeometries.emplace(geometry->name(), geometry).second) return false;
    updateBoundingSpheresUpward();
    return true;
}

void VSceneNode::removeGeometry(const std::string& name) {
    if (mGeometries.erase(name)) updateBoundingSpheresUpward();
}

void VSceneNode::removeAllGeometries() {
    mGeometries.clear();
    updateBoundingSpheresUpward();
}

bool VSceneNode::addInstance(VGeometryInstance* instance) {
    if (!instance || !mInstances.emplace(instance->name(), instance).second) return false;
    updateBoundingSpheresUpward();
    return true;
}

void VSceneNode::removeInstance(const std::string& name) {
    if (mInstances.erase(name)) updateBoundingSpheresUpward();
}

void VSceneNode::removeAllInstances() {
    mInstances.clear();
    updateBoundingSpheresUpward();
}

void VSceneNode::setTranslation(const double translation[3]) {
    for (int c = 0; c < 3; ++c) mLocal[12 + c] = translation[c];
    updateMatrices();
    updateBoundingSpheresUpward();
}

void VSceneNode::setRotation(const double rotation[9]) {
    for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 3; ++r) mLocal[4 * c + r] = rotation[3 * c + r];
    updateMatrices();
    updateBoundingSpheresUpward();
}

void VSceneNode::setLocalMatrix(const double matrix[16]) {
    std::copy(matrix, matrix + 16, mLocal);
    updateMatrices();
    updateBoundingSpheresUpward();
}

void VSceneNode::getTranslation(double translation[3]) const {
    for (int c = 0; c < 3; ++c) translation[c] = mLocal[12 + c];
}

void VSceneNode::getRotation(double rotation[9]) const {
    for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 3; ++r) rotation[3 * c + r] = mLocal[4 * c + r];
}

void VSceneNode::update(bool matrixChanged, bool contentChanged, bool force) {
    const double scale = scenematrix::largestAxisScale(mGlobal);
    // A node with content encloses it again rather than moving its local
    // sphere: going through the inverse and back would add rounding at
    // every move, and a saved scene would not read back the same.
    const bool hasContent = !mChildren.empty() || !mGeometries.empty() || !mInstances.empty();
    if (matrixChanged && !hasContent) mGlobalSphere = scenematrix::transformSphere(mGlobal, mLocalSphere);
    if (!contentChanged && !force && !(matrixChanged && hasContent)) return;
    std::vector<BoundingSphere> spheres;
    for (const auto& [name, child] : mChildren) spheres.push_back(child->mGlobalSphere);
    for (const auto& [name, geometry] : mGeometries)
        if (const BoundingSphere* sphere = geometry->boundingSphere())
            spheres.push_back(scenematrix::transformSphere(mGlobal, *sphere));
    for (const auto& [name, instance] : mInstances)
        if (const BoundingSphere* sphere = instance->boundingSphere())
            spheres.push_back(scenematrix::transformSphere(mGlobal, *sphere));
    // The solver needs finite spheres; a node placed beyond the float range
    // gets an infinite sphere, which culls nothing and which a reader refuses.
    if (std::all_of(spheres.begin(), spheres.end(), scenematrix::isUsable)) {
        mGlobalSphere.setToSmallestEnclosing(spheres);
    } else {
        mGlobalSphere = BoundingSphere();
        mGlobalSphere.r = std::numeric_limits<float>::infinity();
    }
    double inverse[16];
    mLocalSphere = mGlobalSphere;
    if (scenematrix::invertAffine(mGlobal, inverse) && scale > 0) {
        mLocalSphere.setCentre(scenematrix::transformPoint(inverse, Vec3d(mGlobalSphere.centre())));
        mLocalSphere.r = float(mGlobalSphere.r / scale);
    }
}

void VSceneNode::updateMatrices() {
    if (mParent)
        scenematrix::multiply(mParent->mGlobal, mLocal, mGlobal);
    else
        std::copy(mLocal, mLocal + 16, mGlobal);
    for (auto& [name, child] : mChildren) child->updateMatrices();
    update(true, false, false);
}

void VSceneNode::updateBoundingSpheresUpward() {
    for (VSceneNode* node = this; node; node = node->mParent) node->update(false, true, false);
}

void VSceneNode::drawBoundingSphere(const VTraversalContext& context, VDrawStatistics& statistics) {
    VLineSphere* sphere = VResourceManager::boundingSphereWireframe();
    if (!sphere) return;
    glPushMatrix();
    glTranslated(mLocalSphere.x, mLocalSphere.y, mLocalSphere.z);
    glScaled(mLocalSphere.r, mLocalSphere.r, mLocalSphere.r);
    sphere->draw(context, statistics);
    glPopMatrix();
}

void VSceneNode::drawGeometryInWorldSpace(VGeometry& geometry, BoundingSphere* sphere,
                                          const VTraversalContext& context, VDrawStatistics& statistics) {
    if (!context.worldSpaceSpheres || !sphere) {
        geometry.draw(context, statistics);
        return;
    }
    const BoundingSphere own = *sphere;
    *sphere = scenematrix::transformSphere(mGlobal, own);
    geometry.draw(context, statistics);
    *sphere = own;
}

void VSceneNode::draw(const VTraversalContext& context, VDrawStatistics& statistics) {
    if (!mVisible) return;
    if (context.cullFrustum && context.frustum.outside(mGlobalSphere)) {
        ++statistics.nodesCulled;
        return;
    }
    ++statistics.nodesDrawn;
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glMultMatrixd(mLocal);
    if (context.cullFrustum && context.drawBoundingSpheres) drawBoundingSphere(context, statistics);
    for (auto& [name, geometry] : mGeometries)
        drawGeometryInWorldSpace(*geometry, geometry->boundingSphere(), context, statistics);
    for (auto& [name, instance] : mInstances)
        if (VGeometry* geometry = instance->geometry())
            drawGeometryInWorldSpace(*geometry, geometry->boundingSphere(), context, statistics);
    if (context.drawChildren)
        for (auto& [name, child] : mChildren)
            if (child->mVisible) child->draw(context, statistics);
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
}

void VSceneNode::initGeometries(const VTraversalContext& context) {
    for (auto& [name, geometry] : mGeometries)
        if (!geometry->initialised()) geometry->init(context);
    for (auto& [name, instance] : mInstances)
        if (instance->geometry() && !instance->geometry()->initialised()) instance->init(context);
    for (auto& [name, child] : mChildren) child->initGeometries(context);
}

void VSceneNode::reset() {
    for (auto& [name, child] : mChildren) child->mParent = nullptr;
    mChildren.clear();
    mGeometries.clear();
    mInstances.clear();
    mParent = nullptr;
    scenematrix::setIdentity(mLocal);
    scenematrix::setIdentity(mGlobal);
    mLocalSphere = mGlobalSphere = BoundingSphere();
    mVisible = true;
}

namespace {
void writeSphere(std::ostream& out, const BoundingSphere& sphere) {
    const float centre[3] = {sphere.x, sphere.y, sphere.z};
    scenefile::writeNumbers(out, centre, 3);
    out << sphere.r << "\n";
}

void readSphere(std::istream& in, BoundingSphere& sphere, bool& ok) {
    float centre[3] = {0, 0, 0};
    scenefile::readNumbers(in, centre, 3, ok);
    scenefile::readValue(in, sphere.r, ok);
    sphere.x = centre[0], sphere.y = centre[1], sphere.z = centre[2];
}

template <typename Map> void writeIdList(std::ostream& out, const char* countLabel, const char* listLabel,
                                         const Map& objects) {
    out << countLabel << "\n" << objects.size() << "\n" << listLabel << "\n";
    bool first = true;
    for (const auto& [name, object] : objects) {
        out << (first ? "" : " ") << object->id();
        first = false;
    }
    out << "\n";
}

// A count line and a line of exactly that many IDs; the IDs are parsed
// from the line alone, so a wrong count cannot run into the next entry.
void readIdList(std::istream& in, std::vector<uint32_t>& ids, bool& ok) {
    uint32_t count = 0;
    std::string line;
    scenefile::skipLabel(in, ok);
    scenefile::readValue(in, count, ok);
    scenefile::skipLabel(in, ok);
    scenefile::readLine(in, line, ok);
    if (!ok) return;
    std::istringstream numbers(line);
    uint32_t id = 0;
    while (numbers >> std::ws, !numbers.eof()) {
        // A minus sign would wrap into a huge ID.
        if (numbers.peek() == '-' || !(numbers >> id) || ids.size() == count) {
            ok = false;
            return;
        }
        ids.push_back(id);
    }
    ok = ids.size() == count;
}
} // namespace

void VSceneNode::write(std::ostream& out) const {
    scenefile::usePrecision(out);
    out << mName << "\n" << mId << "\nglobal matrix:\n";
    scenematrix::writeRows(out, mGlobal);
    out << "local matrix:\n";
    scenematrix::writeRows(out, mLocal);
    out << "global bounding sphere:\n";
    writeSphere(out, mGlobalSphere);
    out << "local bounding sphere:\n";
    writeSphere(out, mLocalSphere);
    out << (mVisible ? "visible = true\n" : "visible = false\n");
    writeIdList(out, "number of child nodes:", "child nodes:", mChildren);
    writeIdList(out, "number of geometry objects:", "geometry objects:", mGeometries);
    writeIdList(out, "number of geometry instances:", "geometry instances:", mInstances);
}

void VSceneNode::read(std::istream& in, bool& ok) {
    VSceneNodeRecord ignored;
    read(in, ok, ignored);
}

void VSceneNode::read(std::istream& in, bool& ok, VSceneNodeRecord& record) {
    if (!ok) return;
    reset();
    record = VSceneNodeRecord();
    record.node = this;
    std::string visible;
    scenefile::readLine(in, mName, ok);
    scenefile::readValue(in, mId, ok);
    scenefile::skipLabel(in, ok);
    scenematrix::readRows(in, mGlobal, ok);
    scenefile::skipLabel(in, ok);
    scenematrix::readRows(in, mLocal, ok);
    scenefile::skipLabel(in, ok);
    readSphere(in, mGlobalSphere, ok);
    scenefile::skipLabel(in, ok);
    readSphere(in, mLocalSphere, ok);
    scenefile::readLine(in, visible, ok);
    mVisible = visible != "visible = false";
    readIdList(in, record.childIds, ok);
    readIdList(in, record.geometryIds, ok);
    readIdList(in, record.instanceIds, ok);
    if (ok && !hasUsablePlacement()) {
        logErr() << "node \"" << mName << "\": matrices and spheres must be finite, radii at least 0\n";
        ok = false;
    }
}

bool VSceneNode::hasUsablePlacement() const {
    return scenematrix::isFinite(mLocal) && scenematrix::isFinite(mGlobal) && scenematrix::isUsable(mLocalSphere) &&
           scenematrix::isUsable(mGlobalSphere);
}
