// Feeds arbitrary bytes to the 3DS reader. Whatever the bytes, the reader
// must either refuse them, leaving the mesh empty with a reason, or accept
// them and hand over a repaired mesh the builder can walk without checks of
// its own (see MeshFuzzChecks.h).

#include "MeshFuzzChecks.h"
#include "VObject3D.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    meshfuzz::silenceLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    VObject3D mesh;
    meshfuzz::checkRead(mesh, mesh.read3dsData(std::vector<uint8_t>(data, data + size)));
    return 0;
}
