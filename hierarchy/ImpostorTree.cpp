#include "ImpostorTree.h"

#include "LogStream.h"
#include "NormalCone.h"
#include "RectangleFit.h"
#include "VLODObject3D.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <map>
#include <numbers>

namespace {
constexpr uint32_t kCountedAtlasSize = 2048; // the working space of the fixed-count variants

// The narrowest cone that holds a cone and one more unit direction: the
// cone merge for a cone of angle 0, written out so that opposite directions
// (which make the general merge's rotation axis vanish) give the full angle.
NormalCone widenedBy(const NormalCone& cone, const Vec3d& n) {
    const double theta = angleOfCosine(dot(cone.axis, n));
    if (theta <= cone.angle) return cone;
    const double angle = (theta + cone.angle) / 2;
    const double sinTheta = std::sin(theta);
    if (sinTheta < 1e-12) return NormalCone(cone.axis, std::numbers::pi);
    const double shift = angle - cone.angle; // the axis turns this far towards n
    const Vec3d axis = (cone.axis * std::sin(theta - shift) + n * std::sin(shift)) / sinTheta;
    return NormalCone(axis / length(axis), angle);
}
} // namespace

bool ImpostorTree::init(const VLODObject3D& object, std::string& error) {
    const uint32_t pnum = object.pnum(), nnum = object.nnum();
    logOut() << "\n\tinit impostor tree ...\n\tnumber of created impostor: " << pnum << "\n";
    impostors.assign(pnum, MTImpostor());
    atlases.clear();
    root = MTImpostor::kNoParent;
    std::vector<uint32_t> roots;
    uint64_t childTriangles = 0;
    for (uint32_t i = 0; i < pnum; ++i) {
        const MTSurfel& surfel = object.parray[i];
        for (uint32_t node : surfel.mt_children) {
            assert(node < nnum && object.narray[node].onum == 1 && "*cit < nnum");
            impostors[i].children.push_back(pnum + node);
            childTriangles += object.aarray[object.narray[node].out].tnum;
        }
        if (surfel.parent < pnum) {
            impostors[surfel.parent].children.push_back(i);
            impostors[i].parent = surfel.parent;
        } else {
            roots.push_back(i);
        }
    }
    logOut() << "triangle in child mt-nodes: " << childTriangles << "\n";
    if (pnum == 0) return true;
    if (roots.empty()) {
        error = "the surfels have no root";
        return false;
    }
    adoptRoots(roots);

    // Layers: every parent one above its highest child.
    layers.assign(pnum, 0);
    for (bool changed = true; changed;) {
        changed = false;
        for (uint32_t i = 0; i < pnum; ++i) {
            const uint32_t p = impostors[i].parent;
            if (p != MTImpostor::kNoParent && layers[p] <= layers[i]) {
                layers[p] = layers[i] + 1;
                changed = true;
            }
        }
    }
    std::map<uint32_t, uint32_t> perLayer;
    uint64_t distanceSum = 0;
    uint32_t maxDistance = 0;
    for (uint32_t i = 0; i < pnum; ++i) {
        ++perLayer[layers[i]];
        if (impostors[i].parent == MTImpostor::kNoParent) continue;
        const uint32_t distance = layers[impostors[i].parent] - layers[i];
        distanceSum += distance;
        maxDistance = std::max(maxDistance, distance);
    }
    logOut() << "impostor layering: \n";
    for (const auto& [layer, count] : perLayer) logOut() << "layer: " << layer << " " << count << "\n";
    logOut() << "average layer distanace: " << double(distanceSum) / pnum << "\n"
             << "maximum layer distance: " << maxDistance << "\n";

    // Quads fitted to the corners of every triangle below each impostor.
    logOut() << "\tinit impostor size ... ";
    std::vector<uint32_t> stack, corners;
    std::vector<Vec3d> points;
    for (uint32_t i = 0; i < pnum; ++i) {
        corners.clear();
        stack.assign(1, i);
        while (!stack.empty()) {
            const uint32_t k = stack.back();
            stack.pop_back();
            for (uint32_t child : impostors[k].children) {
                if (child < pnum) {
                    stack.push_back(child);
                    continue;
                }
                const MTNode& node = object.narray[child - pnum];
                for (uint32_t a = node.out; a < node.out + node.onum; ++a)
                    for (uint32_t t = object.aarray[a].tstart; t < object.aarray[a].tstart + object.aarray[a].tnum; ++t)
                        corners.insert(corners.end(), object.tarray[t].v, object.tarray[t].v + 3);
            }
        }
        if (corners.empty()) {
            error = "impostor " + std::to_string(i) + " stands for no triangles";
            return false;
        }
        std::sort(corners.begin(), corners.end());
        corners.erase(std::unique(corners.begin(), corners.end()), corners.end());
        points.clear();
        for (uint32_t v : corners) points.push_back(Vec3d(object.varray[v].path->evaluate(0)));
        const FittedRectangle quad = fitRectangle(points);
        MTImpostor& impostor = impostors[i];
        for (int k = 0; k < 4; ++k) {
            impostor.corners[k].x = float(quad.corners[k].x);
            impostor.corners[k].y = float(quad.corners[k].y);
            impostor.corners[k].z = float(quad.corners[k].z);
        }
        impostor.normal = Vec3f(quad.normal);
        impostor.depth = float(quad.halfThickness);
    }
    const MTImpostor& top = impostors[root];
    auto side = [&top](int a, int b) {
        return length(Vec3f(top.corners[b].x - top.corners[a].x, top.corners[b].y - top.corners[a].y,
                            top.corners[b].z - top.corners[a].z));
    };
    logOut() << "\n\troot imposter size: " << side(0, 1) << " x " << side(0, 3) << " x " << 2 * top.depth << "\n";
    return true;
}

// The root with the highest index is the tree's. The others become its
// children, so that their sub-trees stay reachable: left out, their nodes
// would never be drawn.
void ImpostorTree::adoptRoots(const std::vector<uint32_t>& roots) {
    root = roots.back();
    logOut() << "\troot index of impostor tree: " << root << "\n";
    for (size_t k = 0; k + 1 < roots.size(); ++k) {
        impostors[root].children.push_back(roots[k]);
        impostors[roots[k]].parent = root;
    }
    if (roots.size() > 1) logOut() << "\t" << roots.size() - 1 << " further roots placed below it\n";
}

void ImpostorTree::pixelSize(uint32_t i, int32_t textureResolution, uint32_t& width, uint32_t& height) const {
    TexelScale scale;
    scale.factor = textureResolution == 2 ? 4 : textureResolution == 1 ? 2 : 1;
    pixelSize(i, scale, width, height);
}

void ImpostorTree::pixelSize(uint32_t i, const TexelScale& scale, uint32_t& width, uint32_t& height) const {
    const MTImpostor& impostor = impostors[i];
    const double K = scale.projectionConstant;
    const double distance = std::max(scale.minDistance, std::sqrt(0.4375) * K * impostor.depth);
    const double texelsPerUnit = K / distance;
    auto texels = [&](int a, int b) {
        const MTImpostor::Corner &p = impostor.corners[a], &q = impostor.corners[b];
        const double length = std::sqrt(double(q.x - p.x) * (q.x - p.x) + double(q.y - p.y) * (q.y - p.y) +
                                        double(q.z - p.z) * (q.z - p.z));
        // Rounded up before the factor, so that a factor of 2 doubles a side exactly.
        const uint32_t product = uint32_t(std::ceil(std::ceil(texelsPerUnit * length) * scale.factor));
        return product < 3 ? 2u : product;
    };
    width = texels(0, 1);
    height = texels(0, 3);
}

uint64_t ImpostorTree::area(const TexelScale& scale) const {
    uint64_t texels = 0;
    for (uint32_t i = 0; i < inum(); ++i) {
        uint32_t w = 0, h = 0;
        pixelSize(i, scale, w, h);
        texels += uint64_t(w) * h;
    }
    return texels;
}

bool ImpostorTree::pack(TextureSpace& front, TextureSpace& back, const TexelScale& scale,
                        ImpostorTree& placed) const {
    std::vector<uint32_t> widths(inum()), heights(inum()), order(inum());
    for (uint32_t i = 0; i < inum(); ++i) {
        pixelSize(i, scale, widths[i], heights[i]);
        order[i] = i;
    }
    // Tall ones first: first fit then fills the rows beside them with the
    // shorter ones instead of leaving gaps under them.
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        if (heights[a] != heights[b]) return heights[a] > heights[b];
        return widths[a] != widths[b] ? widths[a] > widths[b] : a < b;
    });
    // Packed into copies, so that a refusal leaves the atlas as it was.
    TextureSpace frontTaken = front, backTaken = back;
    std::vector<uint32_t> xs(inum()), ys(inum());
    for (uint32_t i : order) {
        uint32_t bx = 0, by = 0;
        const bool inFront = frontTaken.allocate(widths[i], heights[i], xs[i], ys[i]);
        if (!inFront || !backTaken.allocate(widths[i], heights[i], bx, by)) return false;
    }
    front = std::move(frontTaken);
    back = std::move(backTaken);

    placed = *this;
    placed.atlases.assign(1, ImpostorAtlas{front.width(), front.height(), order});
    placed.maxWidth = placed.maxHeight = 0;
    for (uint32_t i = 0; i < inum(); ++i) {
        const uint32_t x = xs[i], y = ys[i], w = widths[i], h = heights[i];
        MTImpostor::Corner* c = placed.impostors[i].corners;
        c[0].s = float(x), c[0].t = float(y);
        c[1].s = float(x + w), c[1].t = float(y);
        c[2].s = float(x + w), c[2].t = float(y + h);
        c[3].s = float(x), c[3].t = float(y + h);
        placed.impostors[i].atlas = 0;
        placed.maxWidth = std::max(placed.maxWidth, w);
        placed.maxHeight = std::max(placed.maxHeight, h);
    }
    return true;
}

struct ImpostorTree::Packer {
    ImpostorTree& tree;
    const ImpostorSettings& settings;
    std::string& error;
    TextureSpace front, back;
    bool justStarted = true;
    uint32_t counted = 0;

    void startAtlas(uint32_t width, uint32_t height) {
        tree.atlases.push_back({width, height, {}});
        front.reset(width, height);
        back.reset(width, height);
        justStarted = true;
        counted = 0;
    }

    // A new atlas: of the configured size, or for counted packing one as
    // large as its use within the working space.
    void startNext(bool countedPacking) {
        if (!countedPacking) return startAtlas(uint32_t(settings.width), uint32_t(settings.height));
        startAtlas(0, 0);
        front.reset(kCountedAtlasSize, kCountedAtlasSize);
        back.reset(kCountedAtlasSize, kCountedAtlasSize);
    }

    bool allocate(uint32_t w, uint32_t h) {
        uint32_t x = 0, y = 0;
        front.allocate(w, h, x, y);
        return back.allocate(w, h, x, y); // the two stay identical: the back decides
    }

    void take(uint32_t i) {
        tree.impostors[i].atlas = uint32_t(tree.atlases.size() - 1);
        tree.atlases.back().impostors.push_back(i);
    }

    // Atlases of the configured size, or of the impostor's when it is larger.
    bool packFixed(uint32_t i, const char* variant) {
        bool placed = false;
        if (!placeFixed(i, variant, placed)) return false;
        if (placed) return true;
        startNext(false); // an empty atlas, which placing grows when it must
        return placeFixed(i, variant, placed);
    }

    // A fixed number of impostors per atlas, each atlas as large as its use.
    bool packCounted(uint32_t i, const char* variant) {
        if (++counted > uint32_t(std::max(settings.count, 1))) {
            startNext(true);
            counted = 1;
        }
        uint32_t w = 0, h = 0;
        tree.pixelSize(i, settings.textureResolution, w, h);
        if (!allocate(w, h)) return fail(variant, i, w, h);
        tree.atlases.back().width = back.usedWidth();
        tree.atlases.back().height = back.usedHeight();
        take(i);
        return true;
    }

    // The simple variant's steps: placed is false when i must wait for a
    // new atlas; the return value false is a failure.
    bool placeFixed(uint32_t i, const char* variant, bool& placed) {
        uint32_t w = 0, h = 0;
        tree.pixelSize(i, settings.textureResolution, w, h);
        placed = allocate(w, h);
        if (!placed && !justStarted) return true;
        if (!placed) { // an empty atlas grows to the impostor
            tree.atlases.pop_back();
            startAtlas(std::max(uint32_t(settings.width), w), std::max(uint32_t(settings.height), h));
            if (!allocate(w, h)) return fail(variant, i, w, h);
            placed = true;
        }
        take(i);
        justStarted = false;
        return true;
    }

    bool placeCounted(uint32_t i, const char* variant, bool& placed) {
        placed = false;
        if (counted >= uint32_t(std::max(settings.count, 1))) return true;
        uint32_t w = 0, h = 0;
        tree.pixelSize(i, settings.textureResolution, w, h);
        if (!allocate(w, h)) return counted == 0 ? fail(variant, i, w, h) : true;
        ++counted;
        tree.atlases.back().width = back.usedWidth();
        tree.atlases.back().height = back.usedHeight();
        take(i);
        placed = true;
        return true;
    }

    bool fail(const char* variant, uint32_t i, uint32_t w, uint32_t h) {
        logErr() << "Error in VLODObject3D::" << variant << "() ! please check!\n"
                 << "hint: The impostor is too big to fit into the texture!\n";
        error = "impostor " + std::to_string(i) + " (" + std::to_string(w) + "x" + std::to_string(h) +
                " texels) fits into no atlas";
        return false;
    }
};

// The order in which the post-order, breadth-first and spatial variants pack.
std::vector<uint32_t> ImpostorTree::packingOrder(int32_t clusterAlgorithm) const {
    std::vector<uint32_t> order;
    if (clusterAlgorithm == 0) { // post order: children before their parent
        std::vector<std::pair<uint32_t, size_t>> stack{{root, 0}};
        while (!stack.empty()) {
            auto& [i, next] = stack.back();
            const std::vector<uint32_t>& children = impostors[i].children;
            while (next < children.size() && children[next] >= inum()) ++next;
            if (next < children.size()) {
                const uint32_t child = children[next++];
                stack.push_back({child, 0});
                continue;
            }
            order.push_back(i);
            stack.pop_back();
        }
    } else if (clusterAlgorithm == 1) { // breadth first: level by level from the root
        order.push_back(root);
        for (size_t k = 0; k < order.size(); ++k)
            for (uint32_t child : impostors[order[k]].children)
                if (child < inum()) order.push_back(child);
    } else { // spatial: groups of like normals, thinnest first
        std::vector<uint32_t> byDepth(inum());
        for (uint32_t i = 0; i < inum(); ++i) byDepth[i] = i;
        std::stable_sort(byDepth.begin(), byDepth.end(),
                         [this](uint32_t a, uint32_t b) { return impostors[a].depth < impostors[b].depth; });
        std::vector<bool> grouped(inum(), false);
        for (size_t first = 0; first < byDepth.size(); ++first) {
            if (grouped[byDepth[first]]) continue;
            NormalCone group(Vec3d(impostors[byDepth[first]].normal), 0);
            for (size_t k = first; k < byDepth.size(); ++k) {
                const uint32_t i = byDepth[k];
                if (grouped[i]) continue;
                const Vec3d n(impostors[i].normal);
                const NormalCone with = widenedBy(group, n), withNegated = widenedBy(group, -n);
                const NormalCone& narrower = with.angle <= withNegated.angle ? with : withNegated;
                if (k != first && narrower.angle > std::acos(0.5)) continue;
                if (k != first) group = narrower;
                grouped[i] = true;
                order.push_back(i);
            }
        }
    }
    assert(order.size() == inum());
    return order;
}

// The simple variant: a work list from the root, an impostor's children
// joining it only once the impostor is placed, so that a sub-tree is packed
// after its root. What does not fit into a filled atlas waits; the waiting
// impostors start a new atlas when the list is done, and so on.
bool ImpostorTree::clusterSimple(Packer& packer, bool counted, const char* variant) {
    std::vector<uint32_t> work{root}, waiting;
    while (!work.empty()) {
        for (size_t k = 0; k < work.size(); ++k) {
            const uint32_t i = work[k];
            bool placed = false;
            if (!(counted ? packer.placeCounted(i, variant, placed) : packer.placeFixed(i, variant, placed)))
                return false;
            if (!placed) {
                waiting.push_back(i);
                continue;
            }
            for (uint32_t child : impostors[i].children)
                if (child < inum()) work.push_back(child);
        }
        work.swap(waiting);
        waiting.clear();
        if (!work.empty()) packer.startNext(counted);
    }
    return true;
}

bool ImpostorTree::cluster(const ImpostorSettings& settings, std::string& error) {
    logOut() << "Clustering the impostor tree ...\n";
    atlases.clear();
    maxWidth = maxHeight = 0;
    for (uint32_t i = 0; i < inum(); ++i) {
        uint32_t w = 0, h = 0;
        pixelSize(i, settings.textureResolution, w, h);
        maxWidth = std::max(maxWidth, w);
        maxHeight = std::max(maxHeight, h);
    }
    if (impostors.empty()) return true;

    const bool counted = settings.sizeType == 1;
    const bool spatial = settings.clusterAlgorithm >= 3;
    ImpostorSettings effective = settings;
    if (spatial && counted) { // the spatial variant always packs fixed atlases
        effective.width = 32;
        effective.height = 64;
    }
    const bool countedPacking = counted && !spatial;
    Packer packer{*this, effective, error, {}, {}, true, 0};
    packer.startNext(countedPacking);
    static const char* const kVariant[2][4] = {{"cluster2", "cluster2b", "cluster2c", "cluster2b"},
                                               {"cluster3", "cluster3b", "cluster3c", "cluster2b"}};
    const char* variant = kVariant[counted][std::clamp(settings.clusterAlgorithm, 0, 3)];
    bool packed = true;
    if (settings.clusterAlgorithm == 2) {
        packed = clusterSimple(packer, countedPacking, variant);
    } else {
        for (uint32_t i : packingOrder(settings.clusterAlgorithm)) {
            if (settings.clusterAlgorithm == 1 && i == root) {
                uint32_t w = 0, h = 0;
                pixelSize(i, settings.textureResolution, w, h);
                logOut() << "w: " << w << " h: " << h << "\nVConfiguration::mTextureResolution:"
                         << settings.textureResolution << "\n";
            }
            packed = countedPacking ? packer.packCounted(i, variant) : packer.packFixed(i, variant);
            if (!packed) break;
        }
    }
    if (!packed) {
        atlases.clear();
        return false;
    }
    logOut() << "number of textures: " << atlases.size() << "\n";
    return true;
}

bool ImpostorTree::place(int32_t textureResolution, std::string& error) {
    TextureSpace front, back;
    for (const ImpostorAtlas& atlas : atlases) {
        front.reset(atlas.width, atlas.height);
        back.reset(atlas.width, atlas.height);
        for (uint32_t i : atlas.impostors) {
            uint32_t w = 0, h = 0, x = 0, y = 0, bx = 0, by = 0;
            pixelSize(i, textureResolution, w, h);
            const bool inFront = front.allocate(w, h, x, y), inBack = back.allocate(w, h, bx, by);
            if (!inFront || !inBack) {
                logErr() << "unable to gain free texture space for impostor " << i << " (" << w << "x" << h << ")!\n";
                error = "impostor " + std::to_string(i) + " (" + std::to_string(w) + "x" + std::to_string(h) +
                        ") does not fit into its atlas";
                return false;
            }
            MTImpostor::Corner* c = impostors[i].corners;
            c[0].s = float(x), c[0].t = float(y);
            c[1].s = float(x + w), c[1].t = float(y);
            c[2].s = float(x + w), c[2].t = float(y + h);
            c[3].s = float(x), c[3].t = float(y + h);
        }
    }
    return true;
}
