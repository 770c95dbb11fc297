// The repair steps every mesh reader ends with: merged vertices, no
// degenerate or doubled triangles, at most two triangles per edge, and faces
// oriented consistently within each connected part.

#include "LogStream.h"
#include "VObject3D.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstring>
#include <deque>
#include <unordered_map>

namespace {
uint64_t edgeKey(uint32_t a, uint32_t b) {
    return a < b ? (uint64_t(a) << 32) | b : (uint64_t(b) << 32) | a;
}

struct PositionKey {
    uint32_t bits[3];
    bool operator==(const PositionKey& o) const { return std::memcmp(bits, o.bits, sizeof bits) == 0; }
};

struct PositionHash {
    size_t operator()(const PositionKey& k) const {
        uint64_t h = k.bits[0] * 0x9E3779B97F4A7C15ull;
        h ^= (h >> 29) + k.bits[1] * 0xBF58476D1CE4E5B9ull;
        h ^= (h >> 31) + k.bits[2] * 0x94D049BB133111EBull;
        return size_t(h ^ (h >> 32));
    }
};

// Equal floats must give equal keys: -0 and +0 compare equal.
PositionKey positionKey(const Vec3f& p) {
    PositionKey k;
    const float c[3] = {p.x == 0 ? 0.0f : p.x, p.y == 0 ? 0.0f : p.y, p.z == 0 ? 0.0f : p.z};
    std::memcpy(k.bits, c, sizeof k.bits);
    return k;
}

// Two triangle slots per edge in one flat open-addressing table: a node-based
// map would make an allocation for each of a large mesh's million edges.
class EdgeSlotTable {
  public:
    static constexpr uint32_t kFree = UINT32_MAX;
    struct Slots {
        uint32_t first = kFree, second = kFree;
        bool full() const { return second != kFree; }
    };

    explicit EdgeSlotTable(size_t expectedEdges) { rehash(std::bit_ceil(std::max<size_t>(16, expectedEdges * 2))); }

    const Slots* find(uint64_t key) const {
        for (size_t i = hash(key);; i = (i + 1) & mMask) {
            if (mKeys[i] == key) return &mSlots[i];
            if (mKeys[i] == kEmpty) return nullptr;
        }
    }

    Slots& operator[](uint64_t key) {
        if (2 * (mCount + 1) > mKeys.size()) rehash(mKeys.size() * 2);
        size_t i = hash(key);
        while (mKeys[i] != key && mKeys[i] != kEmpty) i = (i + 1) & mMask;
        if (mKeys[i] == kEmpty) {
            mKeys[i] = key;
            ++mCount;
        }
        return mSlots[i];
    }

  private:
    // An edge joins two different vertices, so both halves equal never occurs.
    static constexpr uint64_t kEmpty = UINT64_MAX;

    // Fibonacci hashing: the top bits of the product mix every bit of the key.
    size_t hash(uint64_t key) const { return size_t((key * 0x9E3779B97F4A7C15ull) >> mShift); }

    void rehash(size_t capacity) {
        std::vector<uint64_t> keys(capacity, kEmpty);
        std::vector<Slots> slots(capacity);
        std::swap(keys, mKeys);
        std::swap(slots, mSlots);
        mMask = capacity - 1;
        mShift = 64 - std::countr_zero(capacity);
        mCount = 0;
        for (size_t i = 0; i < keys.size(); ++i)
            if (keys[i] != kEmpty) (*this)[keys[i]] = slots[i];
    }

    std::vector<uint64_t> mKeys;
    std::vector<Slots> mSlots;
    size_t mMask = 0;
    int mShift = 64;
    size_t mCount = 0;
};

float snapToGrid(float c, float spacing) { return spacing != 0 ? c - std::fmod(c, spacing) : c; }

// Corner key of a triangle independent of orientation and rotation.
std::array<uint32_t, 3> sortedCorners(const VTriangle& t) {
    std::array<uint32_t, 3> k = {t.v[0], t.v[1], t.v[2]};
    std::sort(k.begin(), k.end());
    return k;
}

// Whether the corners, read in order, run round like their sorted order
// (an even rotation of it) or the other way.
bool runsSortedWay(const VTriangle& t) {
    const uint32_t* c = t.v;
    return (c[0] < c[1]) + (c[1] < c[2]) + (c[2] < c[0]) == 2;
}

} // namespace

void VObject3D::repair() {
    mergeVertices(0);
    uint32_t degenerate = removeDegenerateTriangles();
    if (degenerate > 0) logOut() << degenerate << " degenerated triangles removed\n";
    logOut() << removeDoubledTriangles() << " double triangles removed\n";
    makeManifold();
    mEdgeStatistics = orientFaces();
}

void VObject3D::mergeVertices(float gridSpacing) {
    // A NaN never equals anything, so such a vertex stays on its own.
    std::unordered_map<PositionKey, uint32_t, PositionHash> firstAt;
    firstAt.reserve(vertices.size());
    std::vector<uint32_t> representative(vertices.size());
    uint32_t merged = 0;
    for (uint32_t i = 0; i < vertices.size(); ++i) {
        Vec3f p = vertices[i]->evaluate(0);
        p = {snapToGrid(p.x, gridSpacing), snapToGrid(p.y, gridSpacing), snapToGrid(p.z, gridSpacing)};
        representative[i] = i;
        if (std::isnan(p.x) || std::isnan(p.y) || std::isnan(p.z)) continue;
        auto [it, inserted] = firstAt.emplace(positionKey(p), i);
        if (!inserted) {
            assert(i != it->second && "i != mit->first");
            representative[i] = it->second;
            ++merged;
        }
    }
    logOut() << "number of merged vertex pairs: " << merged << "\n";
    if (merged == 0) return;

    // Survivors keep their order; each index drops by the deleted ones before it.
    std::vector<uint32_t> newIndex(vertices.size());
    uint32_t kept = 0;
    for (uint32_t i = 0; i < vertices.size(); ++i) {
        if (representative[i] == i) {
            newIndex[i] = kept;
            vertices[kept++] = std::move(vertices[i]);
        }
    }
    for (uint32_t i = 0; i < representative.size(); ++i) newIndex[i] = newIndex[representative[i]];
    vertices.resize(kept);
    for (VTriangle& t : triangles)
        for (uint32_t& c : t.v) c = newIndex[c];
}

uint32_t VObject3D::removeDegenerateTriangles() {
    const size_t before = triangles.size();
    std::erase_if(triangles, [](const VTriangle& t) { return t.v[0] == t.v[1] || t.v[1] == t.v[2] || t.v[0] == t.v[2]; });
    return uint32_t(before - triangles.size());
}

uint32_t VObject3D::removeDoubledTriangles() {
    // Sorting (corner set, index) pairs puts doubles side by side, the
    // earliest first: it stays, the others go. A corner set that comes in
    // both orientations is a flap of zero thickness, folded onto the surface
    // or sticking out of it: whichever side stays faces the wrong way on one
    // of its sides, so none of it stays.
    std::vector<std::pair<std::array<uint32_t, 3>, uint32_t>> keyed(triangles.size());
    for (uint32_t t = 0; t < triangles.size(); ++t) keyed[t] = {sortedCorners(triangles[t]), t};
    std::sort(keyed.begin(), keyed.end());
    std::vector<bool> removed(triangles.size(), false);
    for (size_t i = 0; i < keyed.size();) {
        size_t j = i + 1;
        bool bothWays = false;
        const bool firstWay = runsSortedWay(triangles[keyed[i].second]);
        for (; j < keyed.size() && keyed[j].first == keyed[i].first; ++j) {
            removed[keyed[j].second] = true;
            bothWays = bothWays || runsSortedWay(triangles[keyed[j].second]) != firstWay;
        }
        if (bothWays) removed[keyed[i].second] = true;
        i = j;
    }
    uint32_t kept = 0;
    for (uint32_t t = 0; t < triangles.size(); ++t)
        if (!removed[t]) triangles[kept++] = triangles[t];
    const uint32_t count = uint32_t(triangles.size()) - kept;
    triangles.resize(kept);
    return count;
}

void VObject3D::makeManifold() {
    constexpr uint32_t kFree = EdgeSlotTable::kFree;
    EdgeSlotTable edges(triangles.size() * 3 / 2);
    // copies[v]: the clones made of original vertex v, oldest first.
    std::unordered_map<uint32_t, std::vector<uint32_t>> copies;
    std::vector<uint32_t> origin; // origin[i - originalCount] for clones
    const uint32_t originalCount = uint32_t(vertices.size());
    auto originOf = [&](uint32_t v) { return v < originalCount ? v : origin[v - originalCount]; };
    auto isFull = [&](uint32_t a, uint32_t b) {
        const EdgeSlotTable::Slots* slots = edges.find(edgeKey(a, b));
        return slots && slots->full();
    };
    auto cloneOf = [&](uint32_t v) {
        uint32_t root = originOf(v);
        vertices.push_back(vertices[root]->clone());
        origin.push_back(root);
        copies[root].push_back(uint32_t(vertices.size() - 1));
        return uint32_t(vertices.size() - 1);
    };
    const std::vector<uint32_t> none;
    auto copiesOf = [&](uint32_t v) -> const std::vector<uint32_t>& {
        auto it = copies.find(originOf(v));
        return it == copies.end() ? none : it->second;
    };

    uint32_t created = 0;
    for (uint32_t t = 0; t < triangles.size(); ++t) {
        uint32_t* c = triangles[t].v;
        // Redirecting two corners changes the neighbouring edges too, so
        // check again until all three edges have room; fresh clones always do.
        for (int round = 0; round < 4; ++round) {
            int fullEdge = -1;
            for (int k = 0; k < 3 && fullEdge < 0; ++k)
                if (isFull(c[k], c[(k + 1) % 3])) fullEdge = k;
            if (fullEdge < 0) break;
            uint32_t& a = c[fullEdge];
            uint32_t& b = c[(fullEdge + 1) % 3];
            bool redirected = false;
            if (round < 3) {
                for (uint32_t ca : copiesOf(a)) {
                    for (uint32_t cb : copiesOf(b))
                        if (ca != c[(fullEdge + 2) % 3] && cb != c[(fullEdge + 2) % 3] && !isFull(ca, cb)) {
                            a = ca;
                            b = cb;
                            redirected = true;
                            break;
                        }
                    if (redirected) break;
                }
            }
            if (!redirected) {
                a = cloneOf(a);
                b = cloneOf(b);
                created += 2;
            }
        }
        for (int k = 0; k < 3; ++k) {
            EdgeSlotTable::Slots& e = edges[edgeKey(c[k], c[(k + 1) % 3])];
            if (e.first == kFree)
                e.first = t;
            else {
                assert(!e.full() && "false");
                e.second = t;
            }
        }
    }
    logOut() << created << " new vertices created to create manifold.\n";
}

MeshEdgeStatistics VObject3D::orientFaces() {
    logOut() << "check polygon normals\n";
    MeshEdgeStatistics stats;
    const uint32_t count = uint32_t(triangles.size());

    // Every triangle side as (edge, triangle * 3 + side), grouped by edge.
    std::vector<std::pair<uint64_t, uint32_t>> sides(size_t(count) * 3);
    for (uint32_t t = 0; t < count; ++t)
        for (uint32_t k = 0; k < 3; ++k)
            sides[t * 3 + k] = {edgeKey(triangles[t].v[k], triangles[t].v[(k + 1) % 3]), t * 3 + k};
    std::sort(sides.begin(), sides.end());
    std::vector<uint32_t> groupOf(sides.size()); // side -> first entry of its edge's group
    for (size_t i = 0; i < sides.size();) {
        size_t j = i;
        while (j < sides.size() && sides[j].first == sides[i].first) ++j;
        if (j - i < 2) ++stats.borderEdges;
        if (j - i > 2) ++stats.overfullEdges;
        for (size_t m = i; m < j; ++m) groupOf[sides[m].second] = uint32_t(i);
        i = j;
    }
    logOut() << "\tborder edges: " << stats.borderEdges << "\n"
             << "\tedges with more than 2 neibhbored triangles: " << stats.overfullEdges << "\n";

    // Neighbours agree when they run along their shared edge in opposite
    // directions; a neighbour that runs the same way is turned round. Turns
    // are applied at the end so that side numbers stay valid meanwhile.
    std::vector<bool> visited(count, false), turned(count, false);
    std::deque<uint32_t> queue;
    for (uint32_t start = 0; start < count; ++start) {
        if (visited[start]) continue;
        ++stats.parts;
        visited[start] = true;
        queue.push_back(start);
        while (!queue.empty()) {
            const uint32_t t = queue.front();
            queue.pop_front();
            for (uint32_t k = 0; k < 3; ++k) {
                uint32_t p = triangles[t].v[k], q = triangles[t].v[(k + 1) % 3];
                const uint64_t key = edgeKey(p, q);
                if (turned[t]) std::swap(p, q);
                for (size_t m = groupOf[t * 3 + k]; m < sides.size() && sides[m].first == key; ++m) {
                    const uint32_t n = sides[m].second / 3;
                    if (visited[n]) continue;
                    const uint32_t side = sides[m].second % 3;
                    if (triangles[n].v[side] == p && triangles[n].v[(side + 1) % 3] == q) {
                        turned[n] = true;
                        ++stats.swappedTriangles;
                    }
                    visited[n] = true;
                    queue.push_back(n);
                }
            }
        }
    }
    for (uint32_t t = 0; t < count; ++t)
        if (turned[t]) std::swap(triangles[t].v[0], triangles[t].v[1]);
    logOut() << "\tnumber of independant mesh parts: " << stats.parts << "\n"
             << "\tswapped normals: " << stats.swappedTriangles << "\n";
    return stats;
}
