#pragma once
// What the mesh fuzzers check after a reader has run. A refused input must
// leave the mesh empty with a reason; an accepted one must come out of the
// repair sequence as the builder expects it: indices in range, no degenerate
// or doubled triangle, no edge with more than two triangles, and only vertex
// positions the hierarchy can bound.

#include "FuzzCheck.h"
#include "LogStream.h"
#include "VObject3D.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <unordered_map>
#include <unordered_set>

namespace meshfuzz {

// A stream without a buffer drops everything; progress lines for every input
// would drown libFuzzer's own output and slow each run down.
inline std::ostream& silentStream() {
    static std::ostream stream(nullptr);
    return stream;
}

inline void silenceLog() {
    setLogOut(&silentStream());
    setLogErr(&silentStream());
}

inline void checkRefused(const VObject3D& mesh) {
    FUZZ_CHECK(mesh.vertices.empty());
    FUZZ_CHECK(mesh.triangles.empty());
    FUZZ_CHECK(!mesh.lastError().empty());
}

struct CornerSetHash {
    size_t operator()(const std::array<uint32_t, 3>& k) const {
        uint64_t h = (uint64_t(k[0]) << 32 | k[1]) * 0x9E3779B97F4A7C15ull;
        return size_t(h ^ (h >> 29) ^ (uint64_t(k[2]) * 0xBF58476D1CE4E5B9ull));
    }
};

inline void checkAccepted(const VObject3D& mesh) {
    FUZZ_CHECK(mesh.lastError().empty());

    for (const auto& v : mesh.vertices) {
        FUZZ_CHECK(v != nullptr);
        const Vec3f p = v->evaluate(0);
        FUZZ_CHECK(isUsablePoint(p));
    }

    std::unordered_set<std::array<uint32_t, 3>, CornerSetHash> cornerSets;
    std::unordered_map<uint64_t, uint32_t> edgeUses;
    cornerSets.reserve(mesh.triangles.size());
    edgeUses.reserve(mesh.triangles.size() * 2);
    for (const VTriangle& t : mesh.triangles) {
        for (uint32_t c : t.v) FUZZ_CHECK(c < mesh.vertices.size());
        FUZZ_CHECK(t.v[0] != t.v[1] && t.v[1] != t.v[2] && t.v[0] != t.v[2]);
        std::array<uint32_t, 3> corners = {t.v[0], t.v[1], t.v[2]};
        std::sort(corners.begin(), corners.end());
        FUZZ_CHECK(cornerSets.insert(corners).second); // no doubled triangle
        for (int k = 0; k < 3; ++k) {
            const uint32_t a = std::min(t.v[k], t.v[(k + 1) % 3]), b = std::max(t.v[k], t.v[(k + 1) % 3]);
            FUZZ_CHECK(++edgeUses[uint64_t(a) << 32 | b] <= 2);
        }
    }
}

// Whatever the input, a read either refuses it cleanly or hands over a
// repaired mesh.
inline void checkRead(const VObject3D& mesh, bool accepted) {
    if (accepted)
        checkAccepted(mesh);
    else
        checkRefused(mesh);
}

} // namespace meshfuzz
