// The last two steps of construction: a source node per coarsest patch, and
// the copy of the graph into the hierarchy object.

#include "LogStream.h"
#include "QuantizedNormal.h"
#include "VLODObject3DCreator.h"
#include "VTriStripLocalOptimizer.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <map>

namespace {
constexpr uint32_t kSource = 0;
constexpr uint32_t kDrain = 1;
} // namespace

void VLODObject3DCreator::printGraphStatistics() const {
    size_t liveArcs = 0, liveTriangles = 0, drainTriangles = 0;
    for (const CreatorArc& a : arcs) {
        if (a.patch.empty()) continue;
        ++liveArcs;
        liveTriangles += a.patch.size();
    }
    for (uint32_t a : nodes[kDrain].in) drainTriangles += arcs[a].patch.size();
    logOut() << "\taverage # of polygons in patches: "
             << (liveArcs ? double(liveTriangles) / double(liveArcs) : 0.0) << "\n"
             << "\tnumber of arcs: " << liveArcs << "\n"
             << "\tnumber of triangles: " << liveTriangles << "\n"
             << "\tnumber of nodes: " << nodes.size() << "\n"
             << "\tnumber of incomming arcs of drain node: " << nodes[kDrain].in.size() << "\n"
             << "\tnumber of triangles in highest LOD: " << drainTriangles << "\n"
             << "\tnumber of outgoing arcs of source node: " << nodes[kSource].out.size() << "\n";
}

void VLODObject3DCreator::insertSourceNodes() {
    logOut() << "insert source nodes ... \n";
    size_t liveArcs = 0;
    for (const CreatorArc& a : arcs) liveArcs += !a.patch.empty();
    logOut() << "arcs before: " << liveArcs << "\nnodes before: " << nodes.size() << "\n";
    const uint32_t nodesBefore = uint32_t(nodes.size());

    reportProgress(kStepSourceNodes, 0);
    const std::vector<uint32_t> sourceArcs = nodes[kSource].out;
    const std::span<const double> source = nodeError(kSource);
    const std::vector<double> sourceErrors(source.begin(), source.end());
    nodes[kSource].out.clear();
    const size_t percent = std::max<size_t>(1, sourceArcs.size() / 100);
    for (size_t i = 0; i < sourceArcs.size(); ++i) {
        if (i % percent == 0) reportProgress(kStepSourceNodes, float(i) / float(sourceArcs.size()));
        const uint32_t a = sourceArcs[i];
        if (arcs[a].dest != kDrain) {
            const uint32_t node = addNode(nodes[arcs[a].dest].layer + 1, sourceErrors);
            nodes[node].out = {a};
            arcs[a].source = node;
            continue;
        }
        // Never simplified: cut into strips, each a source node of its own.
        const std::vector<uint32_t> patch = patchIndices(a);
        dropPatch(a);
        std::erase(nodes[kDrain].in, a);
        logOut() << "arc from source to drain node found (" << patch.size() << " triangles)\n";
        std::map<std::array<uint32_t, 3>, uint32_t> byCorners;
        std::vector<uint32_t> flat;
        for (uint32_t t : patch) {
            std::array<uint32_t, 3> k = {triangles[t].v[0], triangles[t].v[1], triangles[t].v[2]};
            flat.insert(flat.end(), k.begin(), k.end());
            std::sort(k.begin(), k.end());
            byCorners[k] = t;
        }
        const auto strips = VTriStripLocalOptimizer().optimizeStrips(flat);
        logOut() << "partitions: " << strips.size() << "\n";
        [[maybe_unused]] size_t inserted = 0;
        for (const auto& strip : strips) {
            const uint32_t node = addNode(1, sourceErrors);
            const uint32_t arc = uint32_t(arcs.size());
            arcs.push_back({node, kDrain, {}, 0, 0});
            nodes[node].out = {arc};
            nodes[kDrain].in.push_back(arc);
            for (size_t k = 2; k < strip.size(); ++k) {
                std::array<uint32_t, 3> key = {strip[k - 2], strip[k - 1], strip[k]};
                std::sort(key.begin(), key.end());
                appendToPatch(arc, byCorners.at(key));
                ++inserted;
            }
        }
        assert(inserted == patch.size() && "t_inserted == in.size()");
    }
    m_source_nnum = uint32_t(nodes.size()) - nodesBefore;
    for (uint32_t n = nodesBefore; n < nodes.size(); ++n) assert(nodes[n].out.size() == 1);
    liveArcs = 0;
    for (const CreatorArc& a : arcs) liveArcs += !a.patch.empty();
    logOut() << "arcs after: " << liveArcs << "\nnodes after: " << nodes.size() << "\ndone\n";
    reportProgress(kStepSourceNodes, 1);
}

// The vertex paths move into the object: a copy of each would double them
// at the build's peak.
void VLODObject3DCreator::copyVerticesAndNodes(VLODObject3D& object) {
    logOut() << "Vertices\n";
    object.varray.resize(vertices.size());
    for (size_t v = 0; v < vertices.size(); ++v) object.varray[v].path = vertices[v].takePath();
    decltype(vertices)().swap(vertices);

    // Node 0 (the empty former source) goes; every index moves down by one.
    reportProgress(kStepFinalObject, 0.1f);
    logOut() << "Nodes\n";
    object.narray.resize(nodes.size() - 1);
    for (size_t n = 1; n < nodes.size(); ++n)
        object.narray[n - 1].error.assign(nodeError(uint32_t(n)).begin(), nodeError(uint32_t(n)).end());
}

// Arcs node by node, so that each node's outgoing arcs are contiguous, and
// triangles arc by arc, into arrays sized once.
void VLODObject3DCreator::copyArcsAndTriangles(VLODObject3D& object) {
    logOut() << "Arcs\nTriangles\n";
    size_t liveArcs = 0, liveTriangles = 0;
    for (const CreatorArc& arc : arcs) {
        liveArcs += !arc.patch.empty();
        liveTriangles += arc.patch.size();
    }
    object.aarray.reserve(liveArcs);
    object.tarray.reserve(liveTriangles);
    for (size_t n = 1; n < nodes.size(); ++n) {
        MTNode& node = object.narray[n - 1];
        node.out = uint32_t(object.aarray.size());
        for (uint32_t a : nodes[n].out) {
            const CreatorArc& arc = arcs[a];
            if (arc.patch.empty()) continue;
            assert(arc.source && arc.dest && "(*aIt)->source && (*aIt)->dest");
            MTArc out;
            out.source = arc.source - 1;
            out.dest = arc.dest - 1;
            out.tstart = uint32_t(object.tarray.size());
            out.tnum = uint32_t(arc.patch.size());
            for (uint32_t t : patchOf(a)) {
                MTTriangle tri;
                std::copy(triangles[t].v, triangles[t].v + 3, tri.v);
                tri.arc = uint32_t(object.aarray.size());
                object.tarray.push_back(tri);
            }
            object.aarray.push_back(out);
            ++node.onum;
        }
    }
    for (uint32_t i = 0; i < object.anum(); ++i)
        assert(object.aarray[i].tstart + object.aarray[i].tnum <= object.tnum() &&
               "mrObj.aarray[i].tstart + mrObj.aarray[i].tnum <= m_tnum");
    for (uint32_t i = 0; i < object.nnum(); ++i)
        assert(object.narray[i].out + object.narray[i].onum <= object.anum() &&
               "mrObj.narray[i].out + mrObj.narray[i].onum <= m_anum");
}

void VLODObject3DCreator::copySurfels(VLODObject3D& object) const {
    logOut() << " Surfels\n";
    object.parray.resize(plist.size());
    for (size_t s = 0; s < plist.size(); ++s) {
        const CreatorSurfel& from = plist[s];
        MTSurfel& to = object.parray[s];
        to.x = float(from.centre.x);
        to.y = float(from.centre.y);
        to.z = float(from.centre.z);
        to.normal = from.normal;
        to.reserved = 0;
        to.parent = from.pindex; // UINT32_MAX, at least pnum, for the root
        for (uint32_t node : from.mt_children) {
            assert(node < nodes.size() && node > 0 && "fpIt->mt_children[k] < m_nnum && fpIt->mt_children[k] > 0");
            assert(nodes[node].out.size() == 1 && object.narray[node - 1].onum == 1 &&
                   "narray[(*pIt)->mt_children[k]].onum == 1");
            to.mt_children.push_back(node - 1);
        }
    }
}

void VLODObject3DCreator::createFinalObject(VLODObject3D& object) {
    reportProgress(kStepFinalObject, 0);
    initTetrahederLookupTableRec();
    object.clear();
    copyVerticesAndNodes(object);
    copyArcsAndTriangles(object);
    copySurfels(object);
    object.m_source_nnum = m_source_nnum;
    // The graph is not needed for what is derived below, and at this point
    // it and the object would otherwise set the build's peak together.
    releaseGraph();

    reportProgress(kStepFinalObject, 0.4f);
    logOut() << "Assign vertex normals ... \n";
    object.buildInArcs();
    object.assignPolygonNormals();
    object.assignVertexNormals();
    reportProgress(kStepFinalObject, 0.6f);
    logOut() << "Calculate bounding sphere and normal cone of nodes ";
    object.computeArcCones();
    [[maybe_unused]] const bool acyclic = object.computeNodeInformation();
    assert(acyclic);
    object.initObjectBoundingSphere();
    logOut() << ". Ok\n";
    reportProgress(kStepFinalObject, 0.9f);
    logOut() << "Check Node Error ";
    object.propagateNodeErrors();
    logOut() << "... Ok\n";
    reportProgress(kStepFinalObject, 1);
}
