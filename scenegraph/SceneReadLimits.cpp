#include "SceneReadLimits.h"

#include "LogStream.h"

namespace scenefile {

uint64_t bytesLeft(std::istream& in) {
    const uint64_t unsized = kLargestCountUnsized * kShortestEntryBytes;
    if (!in) return 0;
    const std::streampos here = in.tellg();
    if (here == std::streampos(-1)) return unsized;
    in.seekg(0, std::ios::end);
    const std::streampos end = in.tellg();
    in.seekg(here);
    if (end == std::streampos(-1) || !in) {
        in.clear();
        in.seekg(here);
        return unsized;
    }
    return uint64_t(end - here);
}

bool countFits(std::istream& in, uint64_t count, const std::string& what) {
    const uint64_t left = bytesLeft(in);
    if (count <= left / kShortestEntryBytes) return true;
    logErr() << "ERROR - " << count << " " << what << " cannot fit into the " << left << " bytes left!\n";
    return false;
}

} // namespace scenefile
