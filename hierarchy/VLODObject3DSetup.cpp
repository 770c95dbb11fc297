// The set-up sequence that completes a hierarchy after reading: incoming
// arcs, normals, arc and node cones, node and object spheres, layering.

#include "LogStream.h"
#include "ParallelFor.h"
#include "QuantizedNormal.h"
#include "VLODObject3D.h"

#include <algorithm>
#include <cassert>
#include <chrono>
#include <limits>
#include <map>
#include <numbers>

namespace {
// Node spheres beyond this radius come from the box-centre estimate.
constexpr float kLargeSphereRadius = 10.0f;

// Nodes over more triangles than this bound each vertex once.
constexpr uint64_t kDeduplicatedTriangles = 4096;

// Appends the points of the corners, and forgets the corners.
void pushPoints(std::vector<uint32_t>& corners, std::span<const Vec3f> positions, std::vector<BoundingSphere>& bounds) {
    for (uint32_t v : corners) {
        BoundingSphere point;
        point.setCentre(Vec3d(positions[v]));
        bounds.push_back(point);
    }
    corners.clear();
}

void sortUnique(std::vector<Vec3f>& normals) {
    std::sort(normals.begin(), normals.end());
    normals.erase(std::unique(normals.begin(), normals.end()), normals.end());
}

void done() { logOut() << "done\n"; }
} // namespace

bool VLODObject3D::runSetupSequence(bool createStrips) {
    logOut() << "Create lists of incomming arcs of nodes ...\n";
    buildInArcs();
    done();

    logOut() << "assign polygon normals ... \n";
    assignPolygonNormals();
    done();

    logOut() << "assign vertex normals ... \n";
    assignVertexNormals();
    done();

    logOut() << "Add arc informations ...\n";
    computeArcCones();
    done();

    logOut() << "Add node informations ...\n";
    if (!computeNodeInformation()) return fail("Hierarchy contains at least one loop!");
    done();

    logOut() << "Init object bounding sphere ...\n";
    initObjectBoundingSphere();
    done();

    if (createStrips && tnum() > 0) {
        // Strips are made by construction; reading keeps the arcs' lists as
        // they are and only reports the step.
        auto start = std::chrono::steady_clock::now();
        logOut() << "Create triangle strips ...\n";
        done();
        std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        logOut() << "time: " << elapsed.count() << "s\n";
    } else {
        logOut() << "Don't create triangle strips\n";
    }

    logOut() << "Create layering ...\n";
    printLayerStatistics();
    done();

    logOut() << "Update time domain ...\n";
    updateTimeDomain();
    done();
    return true;
}

void VLODObject3D::computeArcCones() {
    parallelFor(anum(), [this](size_t begin, size_t end) {
        std::vector<Vec3f> normals;
        for (size_t a = begin; a < end; ++a) {
            MTArc& arc = aarray[a];
            normals.clear();
            for (uint32_t t = arc.tstart; t < arc.tstart + arc.tnum; ++t)
                normals.push_back(dequantizeNormal(tarray[t].normal));
            sortUnique(normals);
            arc.cone.setFromNormals(normals);
        }
    }, 64);
}

// The node's sphere around its patches' corners and its children's spheres,
// and its cone around its triangles' normals and its children's cones.
void VLODObject3D::boundNode(uint32_t i, std::span<const Vec3f> positions, std::span<const Vec3d> triangleNormal,
                             std::vector<NormalCone>& cones, NodeScratch& scratch) {
    MTNode& node = narray[i];
    assert(node.onum != 0 && "narray[i].onum");
    std::vector<BoundingSphere>& bounds = scratch.bounds;
    std::vector<Vec3f>& normals = scratch.normals;
    std::vector<NormalCone>& childCones = scratch.childCones;
    std::vector<uint32_t>& corners = scratch.corners;
    bounds.clear();
    normals.clear();
    childCones.clear();
    corners.clear();
    // Each vertex once where the patches are large: a vertex is the corner of
    // about six triangles, and the few nodes over huge patches would
    // otherwise hand the sphere solver millions of copies. Small nodes hand
    // over every corner in patch order, as always: the solver's result
    // depends on the order and the repeats of its input.
    uint64_t triangles = 0;
    for (uint32_t aindex = node.out; aindex < node.out + node.onum; ++aindex) triangles += aarray[aindex].tnum;
    const bool manyCorners = triangles > kDeduplicatedTriangles;
    for (uint32_t aindex = node.out; aindex < node.out + node.onum; ++aindex) {
        assert(aindex < anum() && "aindex < anum");
        const MTArc& arc = aarray[aindex];
        for (uint32_t t = arc.tstart; t < arc.tstart + arc.tnum; ++t) {
            corners.insert(corners.end(), tarray[t].v, tarray[t].v + 3);
            normals.push_back(Vec3f(triangleNormal[t]));
        }
        if (!manyCorners) pushPoints(corners, positions, bounds);
        if (arc.dest == mDrainNode) {
            normals.push_back(Vec3f(arc.cone.axis));
        } else {
            bounds.push_back(narray[arc.dest].sphere);
            childCones.push_back(cones[arc.dest]);
        }
    }
    sortUnique(normals);
    if (manyCorners) {
        std::sort(corners.begin(), corners.end());
        corners.erase(std::unique(corners.begin(), corners.end()), corners.end());
        pushPoints(corners, positions, bounds);
    }

    node.sphere.setToSmallestEnclosing(bounds);
    if (node.sphere.r > kLargeSphereRadius) node.sphere.setToBoxCentre(bounds);

    NormalCone& cone = cones[i];
    if (normals.empty()) {
        if (childCones.empty()) return;
        cone = childCones.front();
    } else {
        cone.setFromNormals(normals);
    }
    cone.extend(childCones);
    cone.angle = std::min(cone.angle, std::numbers::pi);
}

bool VLODObject3D::computeNodeInformation() {
    if (!computeLayers(mNodeLayers)) return false;
    mDrainNode = findDrain();
    assert(mDrainNode != std::numeric_limits<uint32_t>::max() && "drain_node != UINT_MAX");
    logOut() << "drain node: " << mDrainNode << "\n";

    // Dests before sources: every node's children are complete when it is visited.
    std::vector<uint32_t> sorted(nnum());
    for (uint32_t n = 0; n < nnum(); ++n) sorted[n] = n;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [this](uint32_t a, uint32_t b) { return mNodeLayers[a] > mNodeLayers[b]; });
    assert(sorted.empty() || sorted[0] == mDrainNode);

    std::vector<NormalCone> cones(nnum());
    narray[mDrainNode].sphere = BoundingSphere();
    cones[mDrainNode] = NormalCone::accumulationStart();

    // Every arc climbs at least one layer, so the nodes of one layer only
    // read the finished spheres and cones of deeper ones: a layer at a time,
    // its nodes at once.
    const std::vector<Vec3f> positions = vertexPositions(0);
    const std::vector<Vec3d> normals = triangleNormals(positions);
    for (size_t first = 1; first < sorted.size();) {
        size_t last = first;
        while (last < sorted.size() && mNodeLayers[sorted[last]] == mNodeLayers[sorted[first]]) ++last;
        parallelFor(last - first, [&](size_t begin, size_t end) {
            NodeScratch scratch;
            for (size_t s = first + begin; s < first + end; ++s)
                boundNode(sorted[s], positions, normals, cones, scratch);
        }, 16);
        first = last;
    }

    for (uint32_t n = 0; n < nnum(); ++n) {
        narray[n].coneaxis = quantizeNormal(Vec3f(cones[n].axis));
        narray[n].coneangle = float(cones[n].angle);
        narray[n].cone = cones[n];
    }
    return true;
}

void VLODObject3D::initObjectBoundingSphere() {
    std::vector<BoundingSphere> spheres;
    spheres.reserve(std::max(nnum(), vnum()));
    for (const MTNode& n : narray) spheres.push_back(n.sphere);
    mBoundingSphere.setToSmallestEnclosing(spheres);
    logOut() << "Bounding Sphere of Object: " << mBoundingSphere.r << "\n";

    mKeyFrameSpheres.assign(mKeyFrames, BoundingSphere());
    for (uint32_t k = 0; k < mKeyFrames; ++k) {
        const float time = keyFrameTime(k);
        logOut() << "init sphere for key frame " << k << " ... ";
        spheres.clear();
        for (const MTVertex& v : varray) {
            BoundingSphere point;
            point.setCentre(Vec3d(v.path->evaluate(time)));
            spheres.push_back(point);
        }
        BoundingSphere& s = mKeyFrameSpheres[k];
        s.setToSmallestEnclosing(spheres);
        logOut() << "ok (" << s.x << ", " << s.y << ", " << s.z << ", " << s.r << ")\n";
    }
}

void VLODObject3D::printLayerStatistics() const {
    std::map<uint32_t, uint32_t> nodesPerLayer;
    for (uint32_t layer : mNodeLayers) ++nodesPerLayer[layer];
    logOut() << "layers: " << nodesPerLayer.size() << "\n";
    for (const auto& [layer, count] : nodesPerLayer) logOut() << "layer " << layer << " " << count << "\n";
}
