// Feeds arbitrary bytes to the camera path reader. A refused input must leave
// the path in memory as it was; an accepted one must write and read back to
// the same text.

#include "FuzzCheck.h"
#include "VWalkPath.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

namespace {
std::string textOf(const VWalkPath& path) {
    std::ostringstream out;
    path.writeClassName(out);
    path.write(out);
    return out.str();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    VWalkPath path;
    path.entries.push_back({1, 2, {3, 4, 5}, {0, 0, -1}, {0, 1, 0}});
    const std::string before = textOf(path);
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    std::string error;
    if (!path.load(in, error)) {
        FUZZ_CHECK(!error.empty());
        FUZZ_CHECK(textOf(path) == before);
        return 0;
    }
    const std::string written = textOf(path);
    VWalkPath again;
    std::istringstream back(written);
    FUZZ_CHECK(again.load(back, error));
    FUZZ_CHECK(textOf(again) == written);
    return 0;
}
