#include "SphereHierarchy.h"

#include "QuantizedNormal.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>

namespace {
float levelError(uint32_t level) { return 1.0f / float(1u << std::min(level, 30u)); }

// A triangle of some level, with the node and the surfel made for it.
struct Cell {
    uint32_t v[3];
    uint32_t level, node, surfel;
};

struct SphereBuilder {
    SphereBuilder(VLODObject3D& object, const SphereHierarchyOptions& options) : mObject(object), mOptions(options) {}

    void build() {
        initTetrahederLookupTableRec();
        mObject.clear();
        addIcosahedron();
        addNode(0); // drain
        addNode(levelError(0) * 2); // source
        mObject.m_source_nnum = 1;
        if (mOptions.surfels) addSurfel(Vec3f(0, 0, 0), UINT32_MAX);

        std::vector<Cell> cells;
        for (const auto& f : kIcosahedronFaces) cells.push_back(newCell({f[0], f[1], f[2]}, 0, 0));
        refine(1, cells);
        if (mOptions.depth == 0) cells.clear();

        // Nodes are refined in the order they were made, so the outgoing arcs of
        // each node are contiguous and triangles follow their arcs.
        for (size_t head = 0; head < cells.size(); ++head) {
            const std::vector<Cell> children = split(cells[head]);
            refine(cells[head].node, children);
            for (const Cell& c : children)
                if (c.level < mOptions.depth) cells.push_back(c);
        }
        if (mOptions.surfels) mObject.parray[0].parent = mObject.pnum();
    }

    static constexpr std::array<std::array<uint32_t, 3>, 20> kIcosahedronFaces = {{
        {0, 11, 5}, {0, 5, 1},  {0, 1, 7},   {0, 7, 10}, {0, 10, 11}, {1, 5, 9}, {5, 11, 4},
        {11, 10, 2}, {10, 7, 6}, {7, 1, 8},  {3, 9, 4},  {3, 4, 2},   {3, 2, 6}, {3, 6, 8},
        {3, 8, 9},  {4, 9, 5},  {2, 4, 11}, {6, 2, 10}, {8, 6, 7},   {9, 8, 1},
    }};

    void addIcosahedron() {
        const float t = (1.0f + std::sqrt(5.0f)) / 2.0f;
        const float base[12][3] = {{-1, t, 0}, {1, t, 0}, {-1, -t, 0}, {1, -t, 0}, {0, -1, t}, {0, 1, t},
                                   {0, -1, -t}, {0, 1, -t}, {t, 0, -1}, {t, 0, 1}, {-t, 0, -1}, {-t, 0, 1}};
        for (const auto& p : base) addVertex(Vec3f(p[0], p[1], p[2]));
    }

    uint32_t addVertex(const Vec3f& direction) {
        const Vec3f unit = normalizeOrZ(direction);
        std::unique_ptr<VVertex> path = std::make_unique<VStaticVertex>(unit);
        if (mOptions.keyFrames >= 2) {
            std::vector<VKeyFrameVertex::Key> keys;
            for (uint32_t k = 0; k < mOptions.keyFrames; ++k) keys.push_back({unit * (1.0f + 0.25f * float(k)), float(k)});
            path = std::make_unique<VKeyFrameVertex>(std::move(keys));
        }
        mObject.varray.push_back({std::move(path), quantizeNormal(unit), std::make_unique<VStaticVertex>(unit)});
        return mObject.vnum() - 1;
    }

    uint32_t midpoint(uint32_t a, uint32_t b) {
        const auto key = std::minmax(a, b);
        if (auto it = mMidpoints.find(key); it != mMidpoints.end()) return it->second;
        const Vec3f pa = mObject.varray[a].path->evaluate(0), pb = mObject.varray[b].path->evaluate(0);
        return mMidpoints[key] = addVertex((pa + pb) * 0.5f);
    }

    uint32_t addNode(float error) {
        mObject.narray.emplace_back().error.assign(mOptions.keyFrames, error);
        return mObject.nnum() - 1;
    }

    uint32_t addSurfel(const Vec3f& p, uint32_t parent) {
        mObject.parray.push_back({p.x, p.y, p.z, quantizeNormal(normalizeOrZ(p)), 0, parent, {}});
        return mObject.pnum() - 1;
    }

    Cell newCell(std::array<uint32_t, 3> v, uint32_t level, uint32_t parentSurfel) {
        Cell c{{v[0], v[1], v[2]}, level, 0, 0};
        if (level < mOptions.depth) {
            c.node = addNode(levelError(level));
            if (mOptions.surfels) {
                Vec3f centre(0, 0, 0);
                for (uint32_t i : v) centre += mObject.varray[i].path->evaluate(0);
                c.surfel = addSurfel(centre / 3.0f, parentSurfel);
                // Surfels of the last level stand for their node's sub-graph.
                if (level + 1 == mOptions.depth) mObject.parray[c.surfel].mt_children.push_back(c.node);
            }
        }
        return c;
    }

    std::vector<Cell> split(const Cell& cell) {
        const uint32_t a = cell.v[0], b = cell.v[1], c = cell.v[2], level = cell.level + 1;
        const uint32_t ab = midpoint(a, b), bc = midpoint(b, c), ca = midpoint(c, a);
        return {newCell({a, ab, ca}, level, cell.surfel), newCell({ab, b, bc}, level, cell.surfel),
                newCell({ca, bc, c}, level, cell.surfel), newCell({ab, bc, ca}, level, cell.surfel)};
    }

    // Arcs from node to the given cells: one per cell while the cells are
    // nodes, or a single arc into the drain that carries all of them.
    void refine(uint32_t node, const std::vector<Cell>& cells) {
        mObject.narray[node].out = mObject.anum();
        const bool intoDrain = cells.front().level >= mOptions.depth;
        for (size_t i = 0; i < cells.size(); ++i) {
            if (!intoDrain || i == 0) {
                MTArc& arc = mObject.aarray.emplace_back();
                arc.source = node;
                arc.dest = intoDrain ? 0 : cells[i].node;
                arc.tstart = mObject.tnum();
                ++mObject.narray[node].onum;
            }
            mObject.tarray.push_back({{cells[i].v[0], cells[i].v[1], cells[i].v[2]}, mObject.anum() - 1});
            ++mObject.aarray.back().tnum;
        }
    }

    VLODObject3D& mObject;
    const SphereHierarchyOptions& mOptions;
    std::map<std::pair<uint32_t, uint32_t>, uint32_t> mMidpoints;
};
} // namespace

void makeSphereHierarchy(VLODObject3D& object, const SphereHierarchyOptions& options) {
    SphereBuilder(object, options).build();
}
