// Feeds arbitrary bytes to the .mvh reader. Whatever the bytes, the reader
// must either refuse them, leaving the object empty with a reason, or accept
// them with every index in range, so that the set-up steps and the viewer can
// walk the arrays without checks of their own. An accepted object must also
// survive being written and read back unchanged.

#include "FuzzCheck.h"
#include "LogStream.h"
#include "VLODObject3D.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <string>
#include <system_error>

#include <unistd.h>

namespace {
// A stream without a buffer drops everything; progress lines for every input
// would drown libFuzzer's own output and slow each run down.
std::ostream& silentStream() {
    static std::ostream stream(nullptr);
    return stream;
}

// One file per process, reused for every round trip and removed at exit.
class RoundTripFile {
  public:
    RoundTripFile()
        : mPath((std::filesystem::temp_directory_path() / ("morva-fuzz-" + std::to_string(getpid()) + ".mvh"))
                    .string()) {}
    ~RoundTripFile() {
        std::error_code ignored;
        std::filesystem::remove(mPath, ignored);
    }
    const std::string& path() const { return mPath; }

  private:
    std::string mPath;
};

const std::string& roundTripPath() {
    static RoundTripFile file;
    return file.path();
}

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool finiteSphere(const BoundingSphere& s) {
    return std::isfinite(s.x) && std::isfinite(s.y) && std::isfinite(s.z) && std::isfinite(s.r) && s.r >= 0;
}

bool isEmpty(const VLODObject3D& o) {
    return o.vnum() == 0 && o.tnum() == 0 && o.nnum() == 0 && o.anum() == 0 && o.pnum() == 0 && o.in_arcs.empty();
}

// What the reader promises about an object it accepted.
void checkAccepted(const VLODObject3D& o) {
    FUZZ_CHECK(o.lastError().empty());
    FUZZ_CHECK(o.in_arcs.size() == o.nnum());
    FUZZ_CHECK(o.mNodeLayers.size() == o.nnum());
    FUZZ_CHECK(o.mKeyFrameSpheres.size() == o.mKeyFrames);

    for (const MTVertex& v : o.varray) FUZZ_CHECK(v.path && v.npath);
    for (const MTTriangle& t : o.tarray) {
        for (uint32_t v : t.v) FUZZ_CHECK(v < o.vnum());
        FUZZ_CHECK(t.arc < o.anum());
    }
    for (const MTArc& a : o.aarray) {
        FUZZ_CHECK(uint64_t(a.tstart) + a.tnum <= o.tnum());
        FUZZ_CHECK(a.source < o.nnum() && a.dest < o.nnum());
    }
    size_t incoming = 0;
    for (uint32_t n = 0; n < o.nnum(); ++n) {
        const MTNode& node = o.narray[n];
        FUZZ_CHECK(uint64_t(node.out) + node.onum <= o.anum());
        FUZZ_CHECK(finiteSphere(node.sphere));
        for (uint32_t a : o.in_arcs[n]) FUZZ_CHECK(a < o.anum() && o.aarray[a].dest == n);
        incoming += o.in_arcs[n].size();
    }
    FUZZ_CHECK(incoming == o.anum());
    FUZZ_CHECK(o.mDrainNode < o.nnum() && o.narray[o.mDrainNode].onum == 0);
    FUZZ_CHECK(finiteSphere(o.mBoundingSphere));
    for (const MTSurfel& s : o.parray)
        for (uint32_t c : s.mt_children) FUZZ_CHECK(c > 0 && c < o.nnum() && o.narray[c].onum == 1);
}

// The fields the file carries as they are; everything else is recomputed by
// the set-up sequence and may legitimately differ.
void checkSameRecords(const VLODObject3D& a, const VLODObject3D& b) {
    FUZZ_CHECK(a.vnum() == b.vnum());
    FUZZ_CHECK(a.tnum() == b.tnum());
    FUZZ_CHECK(a.nnum() == b.nnum());
    FUZZ_CHECK(a.anum() == b.anum());
    FUZZ_CHECK(a.pnum() == b.pnum());
    FUZZ_CHECK(a.m_source_nnum == b.m_source_nnum);
    FUZZ_CHECK(a.mReservedCount == b.mReservedCount);
    FUZZ_CHECK(a.mKeyFrames == b.mKeyFrames);

    for (uint32_t i = 0; i < a.tnum(); ++i) {
        const MTTriangle &x = a.tarray[i], &y = b.tarray[i];
        FUZZ_CHECK(x.v[0] == y.v[0] && x.v[1] == y.v[1] && x.v[2] == y.v[2] && x.arc == y.arc);
    }
    for (uint32_t i = 0; i < a.anum(); ++i) {
        const MTArc &x = a.aarray[i], &y = b.aarray[i];
        FUZZ_CHECK(x.source == y.source && x.dest == y.dest && x.tstart == y.tstart && x.tnum == y.tnum);
    }
    for (uint32_t i = 0; i < a.nnum(); ++i) {
        const MTNode &x = a.narray[i], &y = b.narray[i];
        FUZZ_CHECK(x.out == y.out && x.onum == y.onum && x.error.size() == y.error.size());
        for (size_t k = 0; k < x.error.size(); ++k) FUZZ_CHECK(sameBits(x.error[k], y.error[k]));
    }
    for (uint32_t i = 0; i < a.pnum(); ++i) {
        const MTSurfel &x = a.parray[i], &y = b.parray[i];
        FUZZ_CHECK(sameBits(x.x, y.x) && sameBits(x.y, y.y) && sameBits(x.z, y.z) && sameBits(x.reserved, y.reserved));
        FUZZ_CHECK(x.normal == y.normal && x.parent == y.parent && x.mt_children == y.mt_children);
    }
    for (uint32_t i = 0; i < a.vnum(); ++i) {
        const VVertex &x = *a.varray[i].path, &y = *b.varray[i].path;
        FUZZ_CHECK(x.type() == y.type());
        const Vec3f px = x.evaluate(a.mTimeBegin), py = y.evaluate(b.mTimeBegin);
        FUZZ_CHECK(sameBits(px.x, py.x) && sameBits(px.y, py.y) && sameBits(px.z, py.z));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setLogOut(&silentStream());
    setLogErr(&silentStream());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    VLODObject3D object;
    if (!object.readFromMemory(data, size, "fuzz")) {
        FUZZ_CHECK(isEmpty(object));
        FUZZ_CHECK(!object.lastError().empty());
        return 0;
    }
    checkAccepted(object);

    FUZZ_CHECK(object.write(roundTripPath()));
    VLODObject3D again;
    FUZZ_CHECK(again.read(roundTripPath()));
    checkAccepted(again);
    checkSameRecords(object, again);
    return 0;
}
