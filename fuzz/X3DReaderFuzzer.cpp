// Feeds arbitrary bytes to the X3D reader. Whatever the bytes, the reader
// must either refuse them, leaving the mesh empty with a reason, or accept
// them and hand over a repaired mesh the builder can walk without checks of
// its own (see MeshFuzzChecks.h).

#include "MeshFuzzChecks.h"
#include "VObject3D.h"

#include <cstdint>
#include <vector>

namespace {
// USE lets a few hundred bytes instance millions of triangles, or walk
// millions of nodes, which the reader accepts up to its limits; far below
// them here, so that every input finishes in well under a second and the
// exploration stays on the parsing.
constexpr X3DLimits kLimits{50'000, 500'000};
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    meshfuzz::silenceLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    VObject3D mesh;
    meshfuzz::checkRead(mesh, mesh.readX3DData(std::vector<uint8_t>(data, data + size), kLimits));
    return 0;
}
