#include "SphereHierarchy.h"

#include "QuantizedNormal.h"

#include <array>
#include <cmath>
#include <limits>
#include <map>
#include <utility>

namespace {
struct Cell {
    uint32_t v[3];
    uint32_t level;
    uint32_t node;
    uint32_t surfel;
};

class SphereBuilder {
  public:
    SphereBuilder(VLODObject3D& object, const SphereHierarchyOptions& options) : mObject(object), mOptions(options) {}

    void build() {
        initTetrahederLookupTableRec();
        mObject.clear();
        addIcosahedron();
        addNode(0); // drain
        addNode(sphereHierarchyLevelError(0) * 2); // source
        mObject.m_source_nnum = 1;
        if (mOptions.surfels) addSurfel(Vec3f(0, 0, 0), std::numeric_limits<uint32_t>::max());

        std::vector<Cell> cells;
        for (const auto& f : kIcosahedronFaces) cells.push_back(newCell({f[0], f[1], f[2]}, 0, 0));
        refine(1, cells);
        if (mOptions.depth == 0) cells.clear();

        // Nodes are refined in the order they were made, so the outgoing arcs of
        // each node are contiguous and triangles follow their arcs.
        for (size_t head = 0; head < cells.size(); ++head) {
            const Cell cell = cells[head];
            std::vector<Cell> children = split(cell);
            refine(cell.node, children);
            for (const Cell& c : children)
                if (c.level < mOptions.depth) cells.push_back(c);
        }
        if (mOptions.surfels) mObject.parray[0].parent = mObject.pnum();
    }

  private:
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
        Vec3f unit = normalizeOrZ(direction);
        MTVertex v;
        if (mOptions.keyFrames < 2) {
            v.path = std::make_unique<VStaticVertex>(unit);
        } else {
            std::vector<VKeyFrameVertex::Key> keys;
            for (uint32_t k = 0; k < mOptions.keyFrames; ++k) keys.push_back({unit * (1.0f + 0.25f * float(k)), float(k)});
            v.path = std::make_unique<VKeyFrameVertex>(std::move(keys));
        }
        v.npath = std::make_unique<VStaticVertex>(unit);
        v.normal = quantizeNormal(unit);
        mObject.varray.push_back(std::move(v));
        return mObject.vnum() - 1;
    }

    uint32_t midpoint(uint32_t a, uint32_t b) {
        auto key = std::minmax(a, b);
        auto it = mMidpoints.find(key);
        if (it != mMidpoints.end()) return it->second;
        Vec3f pa = mObject.varray[a].path->evaluate(0), pb = mObject.varray[b].path->evaluate(0);
        uint32_t m = addVertex((pa + pb) * 0.5f);
        mMidpoints.emplace(key, m);
        return m;
    }

    uint32_t addNode(float error) {
        MTNode n;
        n.error.assign(mOptions.keyFrames, error);
        mObject.narray.push_back(std::move(n));
        return mObject.nnum() - 1;
    }

    uint32_t addSurfel(const Vec3f& position, uint32_t parent) {
        MTSurfel s;
        s.x = position.x;
        s.y = position.y;
        s.z = position.z;
        s.normal = quantizeNormal(normalizeOrZ(position));
        s.parent = parent;
        mObject.parray.push_back(std::move(s));
        return mObject.pnum() - 1;
    }

    Cell newCell(std::array<uint32_t, 3> v, uint32_t level, uint32_t parentSurfel) {
        Cell c{{v[0], v[1], v[2]}, level, 0, 0};
        if (level < mOptions.depth) {
            c.node = addNode(sphereHierarchyLevelError(level));
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
        uint32_t a = cell.v[0], b = cell.v[1], c = cell.v[2];
        uint32_t ab = midpoint(a, b), bc = midpoint(b, c), ca = midpoint(c, a);
        uint32_t level = cell.level + 1;
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
                MTArc arc;
                arc.source = node;
                arc.dest = intoDrain ? 0 : cells[i].node;
                arc.tstart = mObject.tnum();
                mObject.aarray.push_back(arc);
                ++mObject.narray[node].onum;
            }
            MTTriangle t;
            for (int k = 0; k < 3; ++k) t.v[k] = cells[i].v[k];
            t.arc = mObject.anum() - 1;
            mObject.tarray.push_back(t);
            ++mObject.aarray.back().tnum;
        }
    }

    VLODObject3D& mObject;
    const SphereHierarchyOptions& mOptions;
    std::map<std::pair<uint32_t, uint32_t>, uint32_t> mMidpoints;
};
} // namespace

float sphereHierarchyLevelError(uint32_t level) { return 1.0f / float(1u << std::min(level, 30u)); }

void makeSphereHierarchy(VLODObject3D& object, const SphereHierarchyOptions& options) {
    SphereBuilder(object, options).build();
}
